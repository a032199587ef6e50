// WORKDIR: where an application keeps its user files (its work folder).
//
// The folder is forced with the program argument "WORKDIR"; otherwise it is
// the registry value "ApplicationDataDir" (or the older "FilesDir", moved
// over on first sight) under HKCU\Software\<company>\<application key>;
// otherwise a default is made under a standard folder: for the
// application-support folder that is $XDG_DATA_HOME/<company>/<app folder>
// (~/.local/share/Tarvo/QOR6), for the Documents folder Documents/<name>.
// A folder chosen in the dialog (WorkdirEdit) is kept as
// "ApplicationDataDir.New" and taken over at the next start (GetWorkDir);
// a leading "*" asks for the files to be copied over then.
//
// The process-wide work folder (GetCurrent/SetCurrent) is the one the
// program works in: the settings, profiles and logs below it. It may be
// read and set from any thread; everything else belongs to the main thread.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

#include "platform/events/windows.h"

class WINDOW;


class VELMOT_EXPORT WORKDIR {
public:
    // The application key and folder are the text "IDS_TARVOAPPREGKEY";
    // the name is appName, or the folder's when null.
    WORKDIR(WINDOW const& owner, char const* company, char const* appName = nullptr);
    ~WORKDIR();
    WORKDIR(WORKDIR const&) = delete;
    WORKDIR& operator=(WORKDIR const&) = delete;

    // Finds or makes the work folder and takes over a folder chosen for
    // this start (true then, *oldDir the folder before). With "WORKDIR"
    // given, the owner's menu item `menuItem` (when not 0) is disabled.
    // The result also becomes the process-wide work folder.
    bool GetWorkDir(WINDOW& owner, int menuItem, STRING* workDir, STRING* oldDir, int where);
    // The work folder, found or made; `pending` receives a folder chosen
    // for the next start that differs from it.
    STRING WorkDirInit(STRING& pending, int where);
    // "ApplicationDataDir"; false when it is not stored.
    bool Get(STRING* dir);
    bool Set(char const* dir);
    // The dialog in which the user picks another folder for the next
    // start; returns how the dialog ended.
    int WorkdirEdit(WINDOW const& owner);
    // When the folder part of `path` begins with oldPrefix (ignoring
    // case), that many leading characters become newPrefix.
    static void UpgradeSetting(char const* oldPrefix, char const* newPrefix, STRING& path);
    // Copies the files of the old work folder into the new one (files
    // there already stay); false when something could not be copied.
    bool WorkDirNew(STRING const& from, STRING const& to, STRING mask);

    // The process-wide work folder; empty until set.
    static STRING GetCurrent();
    static void SetCurrent(char const* folder);

    STRING const& GetAppRegKey() const { return AppRegKey; }
    STRING const& GetAppFolder() const { return AppFolder; }
    STRING const& GetAppName() const { return AppName; }

private:
    // "Software\<company>".
    STRING KeyBase() const;
    bool ReadValue(char const* name, STRING* value);
    bool WriteValue(char const* name, char const* value);
    bool DeleteValue(char const* name);

    plat::WindowRef Owner = nullptr;
    STRING AppRegKey;
    STRING AppFolder;
    STRING AppName;
    STRING Company;
};
