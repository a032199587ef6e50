// APP: one main window of the program: a frame with its menu bar, its
// window parts (tab bar, terminal area with its scroll bar; the toolbar,
// user bar, chat bar, status line and thumbnails join through the seams of
// WINDOWPART) and a table of terminal sessions, one per tab.
//
// Files: app.cpp (construction, teardown, what the sessions and the
// settings ask of the window), appinit.cpp (the start-up chain),
// appcmdline.cpp (the command line), appterm.cpp (the event layer),
// appsessions.cpp (the session table), appmisc.cpp (window position and
// look), appwindow.cpp (layout, window events, the tab bar's notices),
// appmenu.cpp (commands, menus and their states), apphelpers.cpp (title,
// programs and the editor, one-time notices, learned logins),
// appdialog.cpp (requests and message boxes), syscolors.cpp (the system
// colour table and its editor). The toolbar is toolbar.cpp, the status
// line status.cpp.
//
// Threads: the main thread, except where an operation says otherwise
// (PostEvent, CondEvent, the requests, the session table's lookups and
// broadcasts, IsCurrentSession).
#pragma once

#include "program/screen/printqueue.h"
#include "program/hostdir/phonebook.h"
#include "program/session/session.h"
#include "program/settings/adminopts.h"
#include "program/settings/passwordcache.h"
#include "program/settings/programsettings.h"
#include "program/settings/settingshost.h"
#include "program/settings/settingsipc.h"
#include "program/shell/miscclasses.h"

#include "velmot/core/osyssync.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/winmenu.h"
#include "velmot/gui/windows.h"
#include "velmot/gui/winvalues.h"

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

class APP;
class DIALOG;
class ICON;
class STATUSLINE;
class TABS;

// ---------------------------------------------------------------------------
// Process-wide values of the start-up and the command line

extern char const* const gVersion;    // "6.44"
extern char const* const gSubVersion; // ""
extern char const* const gCompiled;   // build date and time
extern char gTermName[64];            // "QOR/<edition> 6.44"
extern STRING gHomePath;              // the program's folder
extern STRING gResourcePath;          // the folder of the resources
extern int gWindowFrameParameter;     // 255: not given
extern int gQorReturnCode;            // the exit code of the last closed window
extern signed char gQuiet;
extern signed char gNoEatModemEcho;
extern signed char gUnattended;
extern signed char gBoldFonts;
extern int gRestricted;
extern char gDefaultOptsFile[260];
extern char gWorkPath[260];
extern STRING gFontInclude; // "|"-joined
extern STRING gFontExclude;

// The global start-up checks.
class PREFLIGHT {
public:
    PREFLIGHT();
    ~PREFLIGHT();
    PREFLIGHT(PREFLIGHT const&) = delete;
    PREFLIGHT& operator=(PREFLIGHT const&) = delete;
    // Folders, the date record, the program's name; once, before the
    // application object.
    void Phase1();
    // The checks every window makes.
    void Phase2();

    int OsType = 0;
    char OsTypeName[256] = {};
    std::string HomePath;
    std::string ResourcePath;
};
extern PREFLIGHT gPreFlight;

// Where a new main window opens: the rules of APP::InitStartupWinPos over
// their inputs.
namespace startuppos {
struct INPUT {
    SIZE Desktop{0, 0};
    std::string Stored;   // "WindowPositionMain": "l,t,w,h;max"
    std::string Pos;      // the "POS" switch: "l,t,w,h"
    std::string EntryPos; // a host-directory entry's position
    int Instance = 1;
    std::vector<RECT> Displays;
};
struct RESULT {
    POINT Position{0, 0};
    SIZE Size{0, 0};
    int Maximised = 0;
    bool FromRegistry = false;
};
RESULT Compute(INPUT const& in);
} // namespace startuppos

// The emulation a session runs for the id its profile names: the id when
// its module is installed, else the first installed one.
int InstalledEmulation(EMULATION& layer, int id);

// ---------------------------------------------------------------------------
// Holding a session

// Keeps a session from being deleted while it is used: while it points to a
// session, that session's use count includes this holder. Any thread.
class CURRENTSESSIONPTR {
public:
    CURRENTSESSIONPTR() = default;
    explicit CURRENTSESSIONPTR(APP& app);
    explicit CURRENTSESSIONPTR(SESSION* session) { Retain(session); }
    ~CURRENTSESSIONPTR() { Release(); }
    CURRENTSESSIONPTR(CURRENTSESSIONPTR const&) = delete;
    CURRENTSESSIONPTR& operator=(CURRENTSESSIONPTR const&) = delete;
    // Moving hands the hold over: the use count does not change.
    CURRENTSESSIONPTR(CURRENTSESSIONPTR&& other) noexcept : Session(other.Session) { other.Session = nullptr; }
    CURRENTSESSIONPTR& operator=(CURRENTSESSIONPTR&& other) noexcept
    {
        if (this != &other) {
            Release();
            Session = other.Session;
            other.Session = nullptr;
        }
        return *this;
    }
    CURRENTSESSIONPTR& operator=(SESSION* session);

    void Retain(SESSION* session);
    void Release();
    SESSION* Get() const { return Session; }
    SESSION* operator->() const { return Session; }
    SESSION& operator*() const { return *Session; }
    explicit operator bool() const { return Session != nullptr; }

private:
    SESSION* Session = nullptr;
};

// ---------------------------------------------------------------------------
// The window parts that later work builds

// What the layout asks of a bar of the main window (toolbar, user bar,
// chat bar, status line). A missing part counts as hidden with no height.
class WINDOWPART {
public:
    virtual ~WINDOWPART() = default;
    // The height the part takes at this width (for the session).
    virtual int QueryHeight(SESSION* session, int width) = 0;
    // Shows or hides it; 1 when something changed, with the change of its
    // height in *heightDelta.
    virtual int Show(bool show, int* heightDelta) = 0;
    virtual void Move(int x, int y, int cx, int cy) = 0;
    virtual void SetColorOverlay(COLORREF colour, int mode) {}
    virtual void Invalidate() {}
    virtual void CancelTooltips() {}
    virtual void BringToTop() {}
};

// The parts of a main window, in the order DestroyWindowParts deletes them.
enum class PARTKIND { TOOLBAR, USERBAR, CHATBAR, STATUSLINE };

// ---------------------------------------------------------------------------
// The main window

class APP : public WINDOW, public SESSIONHOST, public SETTINGSHOST, public PRINTQUEUEHOST,
            public PHONEBOOKHOST {
public:
    // User messages of the main window.
    static constexpr int MSG_TABSBAR = 1028;
    static constexpr int MSG_STATUSLINE = 1029;
    static constexpr int MSG_TRACKCHANGES = 1033;
    static constexpr int MSG_DOSIZING = 1034;
    static constexpr int MSG_SHADOW = 1035;
    static constexpr int MSG_TOFRONT = 1036;
    static constexpr int MSG_SETFOCUS = 1038;
    static constexpr int MSG_TITLE = 1043;
    static constexpr int MSG_EVENT = 1047;
    static constexpr int MSG_STARTUPDONE = 1052;
    static constexpr int MSG_NOTHING = 1056;
    static constexpr int MSG_MENUREBUILD = 1059;

    // Window timers.
    static constexpr int TIMER_PRINTQUEUE = 1; // 500 ms: event 8820
    static constexpr int TIMER_SECOND = 2;     // 1000 ms: event 8825
    static constexpr int TIMER_STAMP = 4;      // 50 ms: the time stamp
    static constexpr int TIMER_NORUN = 5;      // 1000 ms: the end of a failed start-up
    static constexpr int TIMER_ASSERT = 100;

    // Notifications between instances for main windows (category 0x30000).
    static constexpr uint32_t IPC_CATEGORY = 0x30000;
    static constexpr int IPC_AVAILABLE = 4;
    static constexpr int IPC_KEYACTIVITY = 11;
    static constexpr int IPC_PASSWORDOK = 12;
    static constexpr int IPC_NEWTAB = 13;

    static constexpr int MAXARGS = 126;
    static constexpr int MAXSESSIONS = 95;
    static constexpr int SCROLLWIDTH = 15;

    // flag: 1 only for the window of the open-application event.
    APP(int argc, char** argv, signed char flag);
    ~APP() override;
    APP(APP const&) = delete;
    APP& operator=(APP const&) = delete;

    // ---- Start-up chain and teardown (appinit.cpp, app.cpp) ----
    int InitGlobs();
    int InitCommandlineArgs(int argc, char** argv);
    int InitOptsAndIo();
    int InitWindow(char const* program, STRING& error);
    int InitFinal();
    void TermInit2();
    void CleanupAll();
    int GetExitCode() const { return gQorReturnCode; }
    void DestroyIntroWin();
    static unsigned long Time(unsigned long* out);
    void LogWinMsg(char const* text, int message, MSGWORD w1, MSGWORD w2);
    int NorunCode() const { return Norun; }
    bool StartupDone() const { return StartupFinished; }
    int Instance() const { return InstanceNo; }
    PROGRAMSETTINGS& Settings() { return ProgSettings; }
    // The session profile used when the command line names none.
    char const* ConnectString() const { return ConnectText; }
    char const* StartupScript() const { return StartupScriptText; }

    // ---- Command line (appcmdline.cpp) ----
    char const* GetArgValue(char const* name, int* index = nullptr);
    int CopyArgString(char const* name, char* dst, int size, int* index = nullptr);
    int CopyArgValue(char const* name, unsigned long* out);
    int TestArg(char const* name);
    int GetPortArg(int index, char* dst, int size);
    void InitConnectStringArgs(char* dst, int size);
    void InitTelnetArgs(char* dst, int size);
    void InitSshArgs(char* dst, int size);
    int InitScriptArgs(char* dst, int size, signed char* given);
    int HandleTabbedArg();
    std::vector<std::string> const& Arguments() const { return ArgList; }
    // The switches given whose parts the program does not have yet, each a
    // line the first tab shows.
    std::vector<std::string> const& UnavailableSwitches() const { return Unavailable; }

    // ---- Event layer (appterm.cpp) ----
    void PostEvent(int event, short parm, char const* text);
    int SendEvent(int event, short parm, char const* text);
    int CondEvent(int event);
    void KeyboardEvent(signed char notify);
    int FilterEvent(SESSION& session, int event, int parm, char const* text);
    int ProcessEvent(int event, int parm, char const* text) override;
    int IpcEvent(int code, unsigned long word);

    // ---- Session table (appsessions.cpp) ----
    int NewSession(char const* profile, char const* keymap, char const* translation, CURRENTSESSIONPTR* holder,
                   int colour, signed char background, wchar_t const* title, char const* connect,
                   char const* script);
    int CloseSession(int idx);
    void ShutdownSession(SESSION* session);
    void DeleteSession(SESSION* session);
    void DeleteDeadSessions();
    int SwitchSession(int idx);
    int SwitchNextSession(int direction);
    int DragSession(int from, int to);
    int FindSessionIdx(SESSION const* session);
    int FindSessionIdx(wchar_t const* name);
    int GetNumSessions();
    SESSION* GetSessionPtr(int idx);
    SESSION* GetCurrentSession() const { return CurrentSession.load(); }
    WSTRING GetSessionTabName(SESSION* session);
    void SetSessionTabTraffic(SESSION& session, int receive, int send) override;
    void SetSessionTabBlinking(SESSION& session, bool on) override;
    void SetSessionTabOnline(SESSION* session, signed char on);
    void SetSessionTabNameWide(SESSION& session, wchar_t const* name) override;
    void SetSessionColor(SESSION* session, int colour);
    void SetSessionTabsNoneActive(signed char flag);
    void AllSessions_PostUserMessage(int msg, MSGWORD p1, MSGWORD p2);
    void AllSessions_PostEvent(int event, short parm, char const* text, int mode);
    int AllSessions_CanQuit();
    // Closes the window asking no session (the program ends on a signal):
    // its teardown hangs every session up and keeps what closing keeps.
    void CloseWithoutQuestions();
    void AllSessions_PostKeys(WSTRING const& keys);
    int OnSessionDisconnect(SESSION* session);
    int NewInstance(char const* profile, char const* entry, char const* extra);
    // Sessions closed but not yet deleted (a holder keeps them).
    int DeadSessionCount();
    TABS* Tabsbar() const { return pTabsbar; }

    // ---- Window position and look (appmisc.cpp) ----
    int InitStartupWinPos(POINT* position, SIZE* size, int* maximised, signed char* fromRegistry);
    void TrackChanges(signed char force, int deltaX, int deltaY);

    // ---- Layout and window events (appwindow.cpp) ----
    void ConstructWindowParts(int width);
    void DestroyWindowParts();
    void CalcClientAreas(SESSION& session, int* cx, int* cy, POINT* termPos, SIZE* termSize, int* ubHeight,
                         bool serious);
    void CalcClientAreasMaximized(SESSION& session, int* cx, int* cy, POINT* termPos, SIZE* termSize,
                                  int* ubHeight, bool serious);
    int DoSizing(int cx, int cy);
    void SizeFrameToFitClient(int cx, int cy);
    SIZE GetMaxClientSize(RECT const* frame);
    int ShowScrollbar(bool show, int* widthDelta);
    void PostShadow(bool force, int lines);
    int HandleTabsbarEvent(MSGWORD code, MSGWORD param);
    int ScrollbarState() const { return ScrollbarShown; }
    COLORREF MaximizedBackground() const { return MaxBackground; }
    SIZE LastLaidOutSize() const { return SIZE{LastCx, LastCy}; }

    int OnWindowPaint(plat::DrawContext* context, RECT const& bounds, RECT const& update) override;
    bool OnSized() override;
    bool OnActivated() override;
    bool OnDeactivated() override;
    int OnPaint() override;
    bool OnTimer(int id) override;
    bool OnMinimized() override;
    bool OnRestored() override;
    bool OnClose() override;
    bool OnSizing(RECT* frame, uint32_t edges) override;
    bool OnFocusAcquired() override;
    bool OnKeyboardEvent(KEYBOARDEVENT const& key) override;
    bool OnScrollEvent(int code, CONTROL const& control, int position) override;
    bool OnUserMessage(int msg, MSGWORD p1, MSGWORD p2) override;
    bool OnMaximized();

    // ---- Commands and menus (appmenu.cpp); main thread unless said ----
    // A command of a menu, the toolbar or the status line; ignored while
    // its menu-bar item is disabled.
    bool OnCommand(uint32_t id) override;
    int DoCommand(unsigned long cmd, unsigned long p1, MSGWORD p2);
    void InitMenu(MENU& menu);
    // The program's help topics behind the Help menu's own items.
    void AddHelpTopics();
    int MakeMenu(MENU const& menu, bool force);
    int MakeMenu(bool force);
    int MenuOnOff() { return 0; }
    // The menu-bar item's text (at most size bytes), empty when none.
    void MenuText(int cmd, int size, char* buffer);
    void AddCondMenuItemToPopup(MENU& popup, unsigned long cmd, char const* text, bool cutAtTab);
    // Why the command cannot run in this program (its part is not built,
    // the help book has no page for it); null when it can.
    char const* CommandUnavailable(int cmd);
    MENU& ContextMenuRef() { return ContextMenu; }
    STATUSLINE* Statusline() const;

    // ---- Helpers (apphelpers.cpp) ----
    // Any thread.
    void SetWindowTitle(wchar_t const* text) override;
    WINDOW& RestoreMainWin();
    // 0 on failure, else ((exit code & 0x7FFF) << 16) | 1. The arguments
    // are split into words as a shell would, but no shell runs.
    int StartProgram(char const* program, char const* arguments, char const* folder, int mode);
    using SESSIONHOST::StartProgram;
    STRING EditorExeName();
    STRING ShellExeName();
    // The program and arguments EditFile starts for the file (null: none);
    // *inTab tells whether they run in a tab of their own: the user's
    // $VISUAL or $EDITOR, as a terminal program needs, where no editor is
    // set (the desktop's editor, through xdg-open, is the last choice).
    std::vector<std::string> EditorCommand(char const* file, bool* inTab = nullptr);
    // Opens the file in the editor; without a file (the menu's "Edit
    // File...") it is asked for first.
    void EditFile(char const* file) override;
    bool CheckOnce(char const* name);
    static bool ExtInList(char const* file, char const* list);
    int QueryNumQORs(int what);
    void MoveToRightBottom(DIALOG const& dialog);
    // A calloc'ed buffer of 2048 bytes the caller frees.
    static char* ConvertLearn(STRING const& data);
    // While StartProgram waits for a program.
    bool StartingProgram() const { return InStartProgram; }

    // ---- Requests and message boxes (appdialog.cpp); any thread ----
    bool YesNoRequest(char const* title, char const* text) override;
    bool YesNoRequest(char const* title, char const* text, WINDOW const& owner);
    bool AreYouSureRequest(char const* text) override;
    bool AreYouSureRequest(char const* text, WINDOW const& owner);
    void InfoMsg(char const* text) override;
    void InfoMsg(char const* text, WINDOW const& owner);
    int WarningMsg(char const* text) override;
    int WarningMsg(char const* text, WINDOW const& owner);
    void ErrorMsg(char const* text) override;
    void ErrorMsg(char const* text, WINDOW const& owner);
    // Main thread only.
    void MsgOnce(WINDOW const& owner, int kind, char const* title, char const* text, char const* key);
    void InfoMsgOnce(WINDOW const& owner, char const* title, char const* text, char const* key);
    // The pickers: the chosen path, empty when cancelled or unattended. A
    // line break in a file picker's title starts its filter list
    // (HELPER::ConvertFilenameTitle); a null owner is the main window.
    STRING AskDirectory(char const* title, char const* start) override;
    STRING AskFilename(char const* title, char const* start, WINDOW const* owner = nullptr) override;
    STRING AskSaveAsFilename(char const* title, char const* name, WINDOW const* owner = nullptr) override;
    // The chosen files (at most 255, followed by a null); null when none
    // were chosen or `start` is null. Valid until the next call.
    char** AskFilenames(char const* title, char const* start, WINDOW const& owner);
    std::vector<std::string> AskFilenames(char const* title, char const* start) override;
    wchar_t* AskWide(wchar_t const* title, wchar_t const* prompt, wchar_t* buffer, int size, int hidden,
                     signed char* store);
    char* Ask(char const* title, char const* prompt, char* buffer, int size, int hidden, signed char* store);
    int AskText(char const* title, char const* prompt, char* buffer, int size, int hidden, signed char* store) override
    {
        return Ask(title, prompt, buffer, size, hidden, store) ? 1 : 0;
    }
    // The buffers hold userSize and passSize bytes.
    int AskUserPass(char const* title, char* user, int userSize, char* password, int passSize, int* store) override;
    int AskPassphrase(char const* title, char const* first, char const* second, char* passphrase, int size,
                      int* store) override;
    char const* ShowRequest(char const* text, char const* label1, char const* label2, char const* label3,
                            char const* label4);
    int ShowMultiRequest(char const* prompt, int count, char const* const* items);
    int VerifyPassword(signed char allowBack);
    // Main thread only; the dialog's result, 0 when the edit could not be
    // saved (the error was shown).
    int EditTextFile(WINDOW const& owner, char const* file);

    // ---- System colours (syscolors.cpp) ----
    bool LoadSysColors();
    bool SaveSysColors();
    int EditSysColors(WINDOW& owner);

    // ---- SESSIONHOST ----
    WINDOW* MainWindow() override { return this; }
    APP* Application() override { return this; }
    int InstanceNumber() override { return InstanceNo; }
    bool IsCurrentSession(SESSION const& session) override { return CurrentSession.load() == &session; }
    int PostEvent(int event, int arg, char const* text) override;
    int MenuIdFromName(char const* name) override;
    bool IsMenuEntryEnabled(int id) override;
    void EnableMenuEntry(int id, int enable, bool alsoInactive) override;
    void MenuCheck(int id, bool on) override;
    bool IsMenuChecked(int id) override;
    void UpdateToolbarAndMenu(bool full) override;
    void TrackChanges(bool repaint, int dx, int dy) override { TrackChanges(static_cast<signed char>(repaint), dx, dy); }
    void PostMessage(int message, uintptr_t p1, uintptr_t p2) override;
    uintptr_t SendMessage(int message, uintptr_t p1, uintptr_t p2) override;
    void KeyboardEvent(int kind) override { KeyboardEvent(static_cast<signed char>(kind)); }
    bool MainWindowRect(RECT* rect) override;
    bool IsMainWindowMaximized() override { return IsMaximized(); }
    void MoveMainWindow(RECT const& rect) override;
    void MinimizeMainWindow(bool minimize) override;
    bool ChildDialogOpen() override { return ChildDialogs > 0; }
    SCROLLBAR* ScrollBar() override { return &Scrollbar; }
    PASSWORDCACHEAPI* PasswordCache() override { return &Passwords; }
    void UpdateStatusbar(bool full) override;
    bool HasStatusLine() override;
    void SetLed(int led, bool on, int mode) override;
    int SetLedMode(int mode) override;
    void PopupMenu() override;
    MENU* MenuBar() override { return MainMenu.GetMenuRef() ? &MainMenu : nullptr; }
    std::wstring CurrentHostName(SESSION& session) override;
    bool Unattended() override { return gUnattended != 0; }
    ADMINOPTS const* AdminOptions() override { return &AdminRecord; }
    PRINTQUEUE* PrintQueue() override { return &PrintJobs; }

    // ---- PRINTQUEUEHOST (app.cpp) ----
    PROGRAMSETTINGSDATA const& PrintSettings() override { return ProgSettings.data; }
    void PrintErrorMsg(char const* text) override { ErrorMsg(text); }
    bool PrintNotifyOff() override { return TestArg("NOPRINTNOTIFY") != 0; }
    bool PrintUnattended() override { return gUnattended != 0; }
    std::string AskPrintFile(char const* proposal) override;
    std::string PrintWorkFolder() override;
    std::string PrintCaptureFolder() override;

    // ---- SETTINGSHOST ----
    ADMINOPTS& Admin() override { return AdminRecord; }
    int RestrictLevel() override { return gRestricted; }
    void PostApplySettings() override;
    void SendIpcMessage(uint32_t msg, uint32_t mp1, uint32_t mp2) override;
    void FileError(char const* name) override;
    int WorkdirNotFound(char const* folder, char const* version, bool allowRelocate) override;
    bool YesNoRequest(char const* text) override { return YesNoRequest(nullptr, text); }

    // ---- PHONEBOOKHOST (the other operations are SESSIONHOST's and
    // SETTINGSHOST's) ----
    PROGRAMSETTINGSDATA& PhonebookSettings() override { return ProgSettings.data; }
    SESSIONHOLD PhonebookSession() override;
    // The window's host directory.
    PHONEBOOK& Hostdir() { return *Phonebook; }

    // The window's temporary files (deleted with the window).
    STRINGARRAY& TempFiles() { return TemporaryFiles; }

protected:
    // The session of a new tab; tests make their own kind.
    virtual SESSION* MakeSession(RECT const& bounds);
    // The bars of the window: the toolbar and the status line (the user
    // bar and the chat bar are not built yet: null).
    virtual std::unique_ptr<WINDOWPART> MakeWindowPart(PARTKIND kind);
    // Where the first window stops when start-up failed and no other is
    // open: ends the application's event loop.
    virtual void EndEventLoop();

private:
    friend class CURRENTSESSIONPTR;
    friend class APPTESTACCESS;

    // app.cpp
    void RunChain(int argc, char** argv);
    // appcmdline.cpp
    void AddArgument(char const* text);
    void ReadArgumentFiles(std::vector<std::string>& files);
    void ApplyStartupSwitches();
    void NoteUnavailableSwitches();
    // appterm.cpp
    void IdleLock();
    void HandOverReceived(unsigned long pid);
    // appsessions.cpp
    void CloseOneSession(int idx);
    void CheckTabOrder();
    // appwindow.cpp
    void TabContextMenu(int x, int y);
    int PartHeight(WINDOWPART* part, SESSION* session, int width);
    // appmenu.cpp
    void ApplyUnavailable();
    void SetCommandText(int cmd, char const* text);
    // apphelpers.cpp
    std::wstring ComposeTitle();
    // appdialog.cpp
    bool YesNoOnMain(char const* title, char const* text, WINDOW const* owner);
    int MessageOnMain(int kind, char const* text, WINDOW const* owner);
    void ShowBox(int type, char const* title, char const* text, WINDOW const* owner);
    // Runs a picker (folder, one file, a name to save, several files) on
    // the main thread; the chosen paths.
    void PickOnMain(int kind, char const* title, char const* start, WINDOW const* owner, STRINGARRAY* chosen);
    // The last files AskFilenames chose, and its table of them.
    std::vector<std::string> PickedNames;
    std::array<char*, 256> PickedTable{};

public:
    // 1: the argument list (at most 126 arguments) and the temporary files.
    std::vector<std::string> ArgList;
    STRINGARRAY TemporaryFiles{64};

private:
    // 2: start-up state.
    bool StartupFinished = false;
    int Norun = 0;
    long long IntroDeadline = 0;
    std::atomic<long long> TimeStamp{0};
    int InstanceNo = 0;
    bool Building[3] = {false, false, false};
    bool Closing = false;
    int IdleLockState = 0;
    bool CloseInProgress = false;
    bool SwitchInProgress = false;
    DIALOG* PasswordDialog = nullptr;
    bool Active = false;
    DIALOG* IntroWin = nullptr;
    int ChildDialogs = 0;

    // 3: menus, the scroll bar and the look cache.
    MENU MainMenu;
    MENU ContextMenu;
    SCROLLBAR Scrollbar;
    struct LOOKCACHE {
        int Menu = -2;
        int Leds = -2;
        int Transparency = -2;
        COLORREF TabColour = 0xFFFFFFFE;
        int ColourMode = -2;
        int Device = -2;
        int Transfer = -2;
    } Look;
    long long LastKeyTime;
    long long LastActivityNotice;

    // 4: the settings and the host directory.
    ADMINOPTS AdminRecord{};
    PROGRAMSETTINGS ProgSettings;
    // The logins the user keeps (after the settings, whose expiry it reads).
    PASSWORDCACHE Passwords;
    std::unique_ptr<PHONEBOOK> Phonebook;
    // The window's print jobs (the sessions' jobs end before it goes).
    PRINTQUEUE PrintJobs{*this};

    // 5: the session table.
    MUTEXSEM SessionLock;
    std::array<CURRENTSESSIONPTR, MAXSESSIONS + 1> SessionTable;
    int NumSessions = 0;
    std::atomic<SESSION*> CurrentSession{nullptr};
    std::vector<SESSION*> DeadList;

    // 6: window parts.
    std::unique_ptr<SETTINGSIPC> pIpc;
    std::unique_ptr<WINDOWPART> pToolbar;
    std::unique_ptr<WINDOWPART> pUserbar;
    TABS* pTabsbar = nullptr;
    std::unique_ptr<WINDOWPART> pChatbar;
    std::unique_ptr<WINDOWPART> pStatusbar;
    RECENTFILES RecentScripts{"Rexx", nullptr, 8};

    // 7: start-up texts.
    std::vector<std::string> Unavailable;
    char ConnectText[512] = {};
    // The command line the next new tab runs on the local shell device
    // instead of its profile's device (set by EditFile for a terminal
    // editor); empty otherwise.
    std::string TabProgram;
    char StartupScriptText[782] = {};
    WSTRING CustomText{L"{void}"};

    // 8: layout state.
    int ScrollbarShown = 255;
    bool TabsVisible = false;
    bool InSizing = false;
    bool RefreshPending = false;
    int MinimizedState = -1;
    int LastCx = -1;
    int LastCy = -1;
    COLORREF MaxBackground = 0;
    std::wstring LastTitle;
    bool MaximizedByRegistry = false;
    uint32_t SizingEdges = 0;

    // 9: what the command states were last computed from (appmenu.cpp),
    // the window's icon, the program being started.
    struct COMMANDCACHE {
        int Sessions = -1;
        int Selection = -1;
        int Script = -1;
        int Learning = -1;
        int AutoLogin = -1;
        int Timer = -1;
        int Clipboard = -1;
        int Connection = -99;
        int Scrollback = -1;
        int Capture = -1;
        int EmuTransfer = -1;
        int Checks[16] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    } Cache;
    int TitleIcon = 0;
    std::shared_ptr<ICON> TitleIconObj;
    bool InStartProgram = false;
};

namespace appmenu {
// The context menu: the menus of the window's menu bar in one pop-up.
void LoadContextMenu(MENU& context);
} // namespace appmenu

// The session of a tab: what the session asks of the program that the main
// window's parts answer (caret notation, the system colours, the carrier's
// effect on the tab and the window).
class APPSESSION : public SESSION {
public:
    APPSESSION(APP& app, PROGRAMSETTINGS& settings, CONTROLPARENT parent, RECT const& bounds, int options = 0);

    int MakeCtrl(char* text, int size) override;
    int MakeCtrlWide(wchar_t* text, int size) override;
    signed char* UnattendedFlag() override;
    COLORREF* SysColors() override;
    int EditSysColors(WINDOW& owner) override;
    // A change of the carrier: the tab's lamp, and the window's reaction to
    // a lost connection.
    void ProcessCarrier(int online, int closing) override;
    // SEAM (appconnect.cpp): SSH and Telnet connect strings, until dialling
    // is built.
    int DialConnectString(char const* text) override;

    // While set (by a running script), the main window drops the events
    // that are not always allowed.
    bool EventFilter = false;
    // How long the session has been online (the status line shows it).
    TIMER OnlineTimer{*this};

private:
    // The Telnet device id (3, or 10 over TLS) opened and connected to
    // target ("host", "host:port", "[v6]:port").
    int DialTelnet(int id, std::string target);

    APP& Owner;
    bool Carrier = false;
};
