// Program settings: the program-wide settings of one main window (folders,
// external programs and files, sounds, confirmations, the options password,
// window and tab behaviour, clipboard, mouse, auto dial, plug-in selection,
// disconnect, scrollback and printer), kept in the program settings file
// "Standard.qfg" through the table PROGRAMSETTINGS::Optlist.
//
// The same class reads the administrator files, decides the data folder and
// prepares it for a new user (adminopts.cpp).
//
// Every main window owns one PROGRAMSETTINGS; the rest of the program reads
// PROGRAMSETTINGSDATA directly. Start of a main window, in this order:
// construction, LoadAdminOpts, ConfigFolderCheck (1 ends the start), Init,
// SetFilename (the "PROGCFG" value or DefaultProgramSettings), the import of
// older settings, NewUser, Load.
//
// Threads: everything runs on the main thread. IpcEvent may be called from
// any thread; the reload it asks for runs on the main thread, and waits
// while a settings editor holds the lock file of this instance.
#pragma once

#include "program/settings/adminopts.h"
#include "program/settings/defaultfont.h"
#include "program/settings/optsbase.h"
#include "program/settings/settingshost.h"
#include "velmot/core/osysfile.h"

#include <cstdio>
#include <memory>

constexpr char const* PROGRAMSETTINGS_VERSION = "6.44";

// The notice that tells the other instances to reload the settings: the
// program-settings group in the high half, code 1 in the low half.
constexpr uint32_t PROGRAMSETTINGS_IPCGROUP = 0x20000;
constexpr uint32_t PROGRAMSETTINGS_IPCSAVED = 0x20001;

// Fields are one byte (flags), four bytes (numbers, and the flags the
// table gives four bytes), code page 1252 texts of the width given, wide
// texts of 128 characters and text arrays.
struct PROGRAMSETTINGSDATA {
    signed char SafWarnNoRTS;
    signed char SafWarnRTS;
    signed char SafWarnNoComPort;
    signed char SafAskClrCapt;
    signed char SafAskQuit;
    signed char SafAskHangup;
    signed char SafAskPhbkDel;
    signed char SafAskHostdirPasswordReused;
    signed char ProtectOpts;
    signed char ProtectEditPhoneBk;
    signed char ProtectProgram;
    signed char AutoOptsSave;
    signed char NoQuitWhenOnline;
    signed char NoQuitWhenRexx;
    signed char NoRexxAbortsRexx;
    signed char NoResetAfterRexx;
    signed char NoRexxRememberPath;
    signed char NoInitialHelp;
    signed char MaxBorderInBgColor;
    signed char ClipQuick;
    signed char ClipTrimLast;
    signed char ClipNoAddCR;
    signed char ClipNoNotifyCopy;
    signed char ClipAutoCopy;
    signed char SubsysCorvane;
    signed char SubsysEmuIBM;
    signed char SubsysEmuMisc;
    signed char SubsysDevNetwork;
    signed char SubsysHalbrin;
    signed char SubsysDevMisc;
    signed char QuoteSmart;
    signed char PasteWithCtrlV;
    signed char NoQuickDialPreselect;
    signed char StatusCursorOneBased;
    signed char HideOnDial;
    signed char CDToFront;
    signed char HideOnTransfer;
    signed char ShowTabsAlways;
    signed char DoTabsKeyShortcuts;
    signed char DoTabsRemoteRename;
    signed char EndXferToFront;
    signed char ScrollbackReset;
    signed char ScrollbackNoDim;
    signed char ScrollbackIncludeAltScreens;
    signed char ScrollbackNoStartByMousewheel;
    signed char PwdLogonAtStart;
    int32_t BrBufSize;
    int32_t BeepMode;
    int32_t BeepMax;
    int32_t BeepTime;
    int32_t CursorBlinkDelay;
    int32_t ClipIndent;
    int32_t ColorfulTabs;
    int32_t ScrollbackLines;
    int32_t MaxBorderBgColor;
    int32_t MouseModeLeft;
    int32_t MouseModeMiddle;
    int32_t MouseModeRight;
    int32_t MouseWheelSpeed;
    int32_t QuoteWidth;
    int32_t ProtectProgramIdleTime;
    int32_t Transparency;
    int32_t TabsKeyShortcutsMode;
    int32_t TabsCloseButtonMode;
    int32_t TabsOnNewTabAction;
    int32_t PrinterFontsize;
    int32_t PrinterOrientation;
    int32_t PrintRaw;
    int32_t PrintJobMerging;
    int32_t PwdAutoExpire;
    char Password[32]; // scrambled in the file
    char DownloadPath[260];
    char DownloadAltPath[260];
    char UploadPath[260];
    char UploadAscPath[260];
    char CapturePath[260];
    char ScriptPath[260];
    char OptsPath[260];
    char SshPath[260];
    char CallingLogFile[260];
    char SaveScrFile[260];
    char ShellExe[260];
    char EditorExe[260];
    char ScrollEditFile[260];
    char MouseMarkDelimiters[128];
    char RexxEvent[260];
    char RexxTransfer[260];
    char SoundConnectWav[260];
    char SoundDisconnectWav[260];
    char SoundBellWav[260];
    char SoundEotWav[260];
    char Printer[260];
    char PrinterFont[128];
    char MdmConnectStr[128];
    char MdmCancelStr[128];
    char MdmDropStr[128];
    char MdmBusyStr[128];
    char PrinterMargins[128];
    char PrinterRawPrefix[128];
    char PrinterRawPostfix[128];
    wchar_t MacDefaultFont[128];
    wchar_t WindowsDefaultFont[128];
    wchar_t BrWinFont[128];
    wchar_t WindowTitle[128];
    wchar_t PrintHeader[128];
    int32_t DialMaxRetry;
    int32_t DialRetryWait;
    int32_t DialMinWait;
    int32_t DialTimeout;
    signed char AutoShow;
    signed char DisconShowPhoneBook;
    signed char DisconAutoNext;
    signed char DisconReloadStdOpts;
    signed char DisconClearScreen;
    signed char DisconCloseTab;
    signed char DisconCloseWin;
    signed char SmallDialWin;
    char DialMacros[5][64];
    char BookSections[6][32];
};

class PROGRAMSETTINGS {
public:
    PROGRAMSETTINGSDATA data;

    static OPTLIST const Optlist[];
    static OPTLIST const AdminOptlist[];

    // Applies the path upgrade of settings files of releases 5.0 to 5.6
    // (the import of older settings sets it).
    using UPGRADEFUNCTION = void (*)(PROGRAMSETTINGS& settings);
    static UPGRADEFUNCTION Upgrade5xxPaths;

    explicit PROGRAMSETTINGS(SETTINGSHOST& owner);
    ~PROGRAMSETTINGS();
    PROGRAMSETTINGS(PROGRAMSETTINGS const&) = delete;
    PROGRAMSETTINGS& operator=(PROGRAMSETTINGS const&) = delete;

    // The defaults (the administrator record must be loaded).
    void Init();
    // Reads the current file (with a name, that file becomes the current
    // one); 1 when the file could be opened. Missing keys keep their values.
    int Load(char const* name = nullptr);
    // Writes the current file (with a name, that one); 1 on success. The
    // other instances are told only after the file is safely on disk.
    int Save(char const* name = nullptr);
    void SetFilename(char const* name);
    FILENAME GetCurrentFilename() const;
    // A notice of the program-settings group from another instance; code 1:
    // it saved the settings.
    int IpcEvent(uint32_t code, uint32_t param);
    // The settings editor's lock file "<settings>.flock": on fails while
    // another editor, in any instance, holds it.
    bool LockFile(bool on);
    // Creates the folder (joined to the data folder) with its parents; 1
    // only when it created it.
    int CreateConfigDirectory(char const* path);

    // Administrator file and data folder (adminopts.cpp).
    // The built-in defaults of the record, before any file is read.
    static void AdminDefaults(ADMINOPTS& admin);
    void LoadAdminOpts(bool commandLineWorkdir);
    void SaveAdminOpts(char const* name = nullptr);
    int ConfigFolderCheck();
    bool CheckConfigDirectory(char const* folder);
    int RelocateDataFolder();
    int NewUser();
    bool DisableMenuItems(int id) const;

    OPTSBASE& Opts() { return opts; }
    FILENAME const& AdminFilename() const { return adminFilename; }
    FILENAME const& AdminSnapshotFilename() const { return adminSnapshot; }
    // Whether a reload asked for by another instance waits for the editor.
    bool ReloadPending() const { return reloadPending; }

private:
    void ReloadAfterNotice();
    bool ReadAdminFile(char const* path, ADMINOPTS& into);

    SETTINGSHOST& app;
    OPTSBASE opts;
    FILENAME currentFilename;
    FILENAME adminFilename;
    FILENAME adminSnapshot;
    STRING text;
    STRING lockFilename;
    FILE* fFileLock = nullptr;
    bool reloadPending = false;
    // The file that could not be read and was reported (once per file).
    STRING unreadableReported;
    std::shared_ptr<bool> alive;
};
