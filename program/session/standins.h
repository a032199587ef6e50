// Stand-in values for the program settings and the session profile that the
// plug-in host and the communication layer read, kept until the settings
// (PROGRAMSETTINGS, SESSIONPROFILE) are built; then SESSIONLINK answers from
// those and this file goes.
#pragma once

struct SESSIONSTANDIN {
    // Load groups of the plug-in host: 0 not loaded, 1 loaded, 2 loaded
    // unless the list is strict.
    int SubsysDevNetwork = 1;
    int SubsysHalbrin = 1;
    int SubsysDevMisc = 1;
    int SubsysCorvane = 1;
    int SubsysEmuIBM = 1;
    int SubsysEmuMisc = 1;

    char DeviceOpts[24][128] = {};
    char EmulationOpts[32][128] = {};
    char TransferOpts[24][128] = {};
    int ActiveDevice = 11;
    bool Software7E1 = false;
    int CodePage = 1252;
    char EnqString[128] = {};
};
