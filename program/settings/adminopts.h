// The administrator record: what an administrator sets for shared and
// per-user installations (where the data folder is, the defaults of a new
// user's folders, shared key maps, translation tables and host directory,
// an audit log, and features and menu commands that are switched off).
//
// It is read from the administrator files by PROGRAMSETTINGS::LoadAdminOpts
// through PROGRAMSETTINGS::AdminOptlist; the record itself belongs to the
// main window. Texts are zero-terminated code page 1252 bytes.
#pragma once

#include <cstdint>

constexpr int ADMIN_MAXDISABLEDCOMMANDS = 128;

struct ADMINOPTS {
    char ConfigDataFolder[260];
    char NewUserProfilePrefix[32];
    char DefaultOptionsFolder[260];
    char DefaultScriptFolder[260];
    char DefaultUploadFolder[260];
    char DefaultUploadTextFolder[260];
    char DefaultDownloadFolder[260];
    char DefaultDownloadAltFolder[260];
    char DefaultLogFolder[260];
    char DefaultSshFolder[260];
    char DefaultProgramSettings[260];
    char AuditLogFilename[260];
    char TranslationTablesFolder[260];
    char KeymapsFolder[260];
    char HostDirectoryFile[260];
    char DisableProgramSettingsPages[520];
    char DisableSessionProfilePages[520];
    char DisableMenuItems[520];
    char SetupSubsystems[64];
    char SetupDefaultConfig[16];
    int32_t HostDirectoryMax;
    int32_t SetupForceWorkdir; // 1: every folder counts as a data folder; 2: first start after set-up
    signed char ConfigFolderType; // 1 command line, 2 ConfigDataFolder, 3 the user's choice
    signed char SetupCreatedConfig;
    signed char DisableProgramSettings;
    signed char DisableSessionProfile;
    signed char DisableToolbarSettings;
    signed char DisableHostDirectory;
    signed char DisableAcceleratorKeys;
    signed char DisableRightButtonMenu;
    signed char DisableScrollback;
    signed char DisableLogging;
    signed char DisableStoredPasswords;
    signed char DisableUserConfigRelocation;
    signed char DisableCommandlineWorkdir;
    signed char DisableFirstTimeHelpWindow;
    // The command ids parsed from DisableMenuItems; a value below 1 ends
    // the list. Not a row of the file.
    int32_t DisabledCommands[ADMIN_MAXDISABLEDCOMMANDS];
};
