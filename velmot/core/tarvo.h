// Process entry and the application base.
//
// Every program starts through VelmotEntryPoint, which prepares the process,
// gathers the arguments (the command line plus "commandline.ini" files),
// applies the logging switches, picks the language, calls the program's own
// main function and cleans up after it. TARVOAPP holds the process-wide
// application facts and the argument helpers.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

class STRINGARRAY;
class FILENAME;
class MENU;

// Application facts read by every deliverable.
extern VELMOT_EXPORT STRING gApplicationName;
extern VELMOT_EXPORT STRING gApplicationVersion;
extern VELMOT_EXPORT STRING gApplicationCompanyName;
extern VELMOT_EXPORT STRING gWorkDir;
extern VELMOT_EXPORT STRING gHomeDir;
extern VELMOT_EXPORT STRING gResourceDir;

using APPMAINFUNCTION = int (*)(int argc, char** argv, char** envp);

extern "C" VELMOT_EXPORT int VelmotEntryPoint(int argc, char** argv, APPMAINFUNCTION appmain);

// Primary language numbers.
constexpr int LOCALE_GERMAN = 7;
constexpr int LOCALE_ENGLISH = 9;
constexpr int LOCALE_FRENCH = 12;
constexpr int LOCALE_HUNGARIAN = 14;

class VELMOT_EXPORT TARVOAPP {
public:
    TARVOAPP() = delete;

    // Start and end.
    static void InitArgsLoggingAndLocale(int argc, char** argv, int defaultlocale);
    static void Cleanup(int exitcode);
    static int GetDefaultLocale();

    // Arguments.
    static bool TestArg(char const* name);
    static bool TestArgValue(char const* name, int index = 0);
    static STRING GetArgValue(char const* name, int index = 0);
    static int MakeArgcArgv(char* cmdline, char* argv0buffer, char** argv, int maxargs);
    static int ArgsFromString(char const* text, STRINGARRAY& out, char quote = 0);
    static void AddCommandlineFile(STRINGARRAY& list, FILENAME const& file);
    static STRING GetLogitArgsString();
    static int ArgCount();
    static STRING Arg(int index);

    // Application facts.
    static bool LoadLanguageDll(STRING const& programpath, STRING const& appname, STRING const& version,
                                char const* nameoverride = nullptr);
    static void SetCompanyName(char const* name);
    // The application's name and version (texts in code page 1252).
    static void SetApplicationName(char const* name, char const* version);
    static int GetLocale();
    static bool IsLocaleGerman();
    static STRING& GetGlobalWorkDir();
    static DWORD GetMainThreadId();
    static bool IsMainThread();
    static void CheckCallerThread(char const* where);
    static void InitialLogit(char const* appname, char const* version, char const* builddate);
    static void MainDispatchLoop(void* unused1 = nullptr, char const* unused2 = nullptr);

    // Help menu: behind its own first item, a separator and the items of
    // the menu "ID_HELPMENU" (once); Clear leaves the first item alone.
    // Built with the menu class (velmot/gui/winmenu.cpp).
    static void FillMenubarHelp(MENU& menubar);
    static void ClearMenubarHelp(MENU& menubar);

    // Reports a failed file operation in an error box naming the file and
    // the system's text for errno; `result` is not consulted. Returns 1.
    // Built with the message boxes (velmot/gui/wintarvo.cpp).
    static int VerifyResult(signed char result, char const* filename);

    // Hooks filled in by the parts that own them: the event loop that
    // MainDispatchLoop runs, the preferences synchronisation at the end of
    // the process and the release of each singleton during Cleanup (run in
    // the order of the slots).
    enum CLEANUPSLOT {
        CLEANUP_UNICODE,
        CLEANUP_KEYBOARD,
        CLEANUP_CLIPBOARD,
        CLEANUP_HELPFILE,
        CLEANUP_WINTIMER,
        CLEANUP_ICONMAP,
        CLEANUP_MAINNIB,
        CLEANUP_COCOA,
        CLEANUP_SLOTS
    };
    using HOOKFUNCTION = void (*)();
    static void SetMainLoop(HOOKFUNCTION loop);
    static void SetPreferencesSync(HOOKFUNCTION sync);
    static void SetCleanupFunction(CLEANUPSLOT slot, HOOKFUNCTION fn);
};
