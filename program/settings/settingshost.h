// What the program settings ask of the main window that owns them.
//
// The main window implements SETTINGSHOST; the defaults do nothing and
// answer "no", so a test or a tool can run the settings without windows.
// Every operation is called on the main thread.
#pragma once

#include "program/settings/adminopts.h"
#include "velmot/core/strings.h"

#include <cstdint>

class SETTINGSHOST {
public:
    virtual ~SETTINGSHOST() = default;

    // The main window's administrator record.
    virtual ADMINOPTS& Admin() = 0;

    // The restriction level of the "RESTRICT" switch: bit 0 program settings
    // and session profiles, bit 1 host directory, bit 2 right-button menu.
    virtual int RestrictLevel() { return 0; }

    // Apply the settings again (user message 1033 to the main window).
    virtual void PostApplySettings() {}

    // Tell the other running instances (the program's notice between
    // instances: message, first and second parameter).
    virtual void SendIpcMessage(uint32_t msg, uint32_t mp1, uint32_t mp2) {}

    // The error box for a failed file operation (the name and the system's
    // text for errno), and a plain error box.
    virtual void FileError(char const* name) {}
    virtual void ErrorMsg(char const* text) {}

    // The dialog "DLG_WIN_WORKDIRNOTFOUND" for a missing data folder: the
    // folder and the version for its texts, whether push button 1
    // (relocate) is enabled. Returns 0 or 1 for push buttons 0 (create) and
    // 1 (relocate), -1 for any other way of closing it.
    virtual int WorkdirNotFound(char const* folder, char const* version, bool allowRelocate) { return -1; }

    // A folder picker; empty when nothing was chosen.
    virtual STRING AskDirectory(char const* title, char const* start) { return STRING(); }

    // A yes/no question; true for yes.
    virtual bool YesNoRequest(char const* text) { return false; }
};
