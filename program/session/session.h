// SESSION: one terminal session, the child window that shows one terminal
// in a tab of a main window, and the owner of everything the session needs:
// its profile, its communication and emulation layers, its screen and
// scroll-back, and its timers.
//
// Files: session.cpp (members, lifecycle, what the layers ask of the
// session), sessionevents.cpp (session events, TrackChanges, RemakeAll),
// sessiondata.cpp (the received-data road), sessionkeys.cpp (the key road
// and command texts), sessionwindow.cpp (window handlers, sizes, mouse,
// user messages, timers), sessionmisc.cpp (sounds, notifications, status,
// saving the screen).
//
// Parts of a session that are not built yet (scripts, transfers, the host
// directory and dialling, the clipboard sender, dialogs) are
// reached through virtual operations with neutral bodies and through the
// replaceable routes of session events (SetEventRoute); README.md lists
// them.
//
// Threads: everything runs on the main thread but ComDataNotification
// (the device's reader thread), PostEvent, SendEvent, FeedKeys and Notify
// (any thread: they move their work to the main thread through user
// messages 1047 and 1040, with texts copied into payloads the session
// owns), and the use count. A thread that works with a session keeps it
// alive through a SESSIONHOLD.
#pragma once

#include "plugins/sdk/vioapi.h"
#include "program/screen/browsestream.h"
#include "program/screen/keymap.h"
#include "program/screen/printqueue.h"
#include "program/screen/streamdata.h"
#include "program/screen/scrollback.h"
#include "program/screen/termfonts.h"
#include "program/screen/translate.h"
#include "program/screen/vio.h"
#include "program/hostdir/phonemisc.h"
#include "program/hostdir/phonequeue.h"
#include "program/session/comm.h"
#include "program/session/emulation.h"
#include "program/session/logging.h"
#include "program/session/sessionhost.h"
#include "program/session/sessionlink.h"
#include "program/session/trace.h"
#include "program/settings/programsettings.h"
#include "program/settings/sessionprofile.h"
#include "program/shell/miscclasses.h"

#include "velmot/core/osyssync.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/winchild.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

class SESSION;

// Keeps a session alive while a thread works with it: raises its use count
// and lowers it when it goes. A session that was retired is deleted (on
// the main thread) once its use count is zero.
class SESSIONHOLD {
public:
    SESSIONHOLD() = default;
    explicit SESSIONHOLD(SESSION* session);
    ~SESSIONHOLD();
    SESSIONHOLD(SESSIONHOLD&& other) noexcept : Session(other.Session) { other.Session = nullptr; }
    SESSIONHOLD& operator=(SESSIONHOLD&& other) noexcept;
    SESSIONHOLD(SESSIONHOLD const&) = delete;
    SESSIONHOLD& operator=(SESSIONHOLD const&) = delete;
    void Release();
    SESSION* Get() const { return Session; }
    SESSION* operator->() const { return Session; }

private:
    SESSION* Session = nullptr;
};

class SESSION : public CHILDWINDOW, public SESSIONLINK, public SESSIONPROFILEHOST, public SCROLLBACKHOST {
public:
    // User messages of the session window.
    static constexpr int MSG_COMDATA = 1029;
    static constexpr int MSG_CALLFUNCTION = 1030;
    static constexpr int MSG_TRACKCHANGES = 1033;
    static constexpr int MSG_HASFOCUS = 1039;
    static constexpr int MSG_NOTIFY = 1040;
    static constexpr int MSG_INTERNALERROR = 1041;
    static constexpr int MSG_FLASH = 1044;
    static constexpr int MSG_EVENT = 1047;
    static constexpr int MSG_TRANSFERPROGRESS = 1055;
    static constexpr int MSG_PLUGINSCHANGED = 1057;
    static constexpr int MSG_TITLE = 1043;
    // The device of a local program: connected while the program runs.
    static constexpr int kDeviceLocalShell = 11;
    static constexpr int MSG_DEVICEEND = 1045;

    // Window timers.
    static constexpr int TIMER_PRINTER = 1;    // 500 ms: printer time-out check (event 8820)
    static constexpr int TIMER_SECOND = 2;     // 1000 ms: logs, carrier, keep-alive (event 8825)
    static constexpr int TIMER_TENTH = 3;      // 100 ms: transfer tick, scroll bar (event 8826)
    static constexpr int TIMER_SCRIPTIDLE = 100;
    static constexpr int TIMER_DIALQUEUE = 101;
    static constexpr int TIMER_COMDATA = 102;  // one-shot: a forced data notification
    static constexpr int TIMER_DEVICE = 103;   // the device's one-shot timer
    static constexpr int TIMER_SENDKEYS = 104; // one-shot: the next piece of a paced text
    static constexpr int TIMER_ACCEPTCALLS = 107; // one-shot: accepting calls again after a pause
    static constexpr int TIMER_SCREENFIRST = 256;
    static constexpr int TIMER_SCREENLAST = 270;

    // The text of event 8382 that means "hang up without asking".
    static char const* const NOQUESTION;
    // The argument of event 8801 whose text the handler frees.
    static constexpr int INFOOUT_OWNED = 62190;

    // Default device and emulation of a profile that was never set up.
    static constexpr int DEFAULT_DEVICE = 11;
    static constexpr int DEFAULT_EMULATION = 18;

    // Construction options.
    static constexpr int OPTION_HEADLESS = 1; // no painting: no font, no invalidation

    // A handler of session events that a part of the program not built
    // into the session yet takes care of.
    using EVENTHANDLER = std::function<int(SESSION& session, int event, int arg, char const* text)>;

    SESSION(SESSIONHOST& host, PROGRAMSETTINGS& settings, CONTROLPARENT parent, RECT const& bounds, int options = 0);
    ~SESSION() override;
    SESSION(SESSION const&) = delete;
    SESSION& operator=(SESSION const&) = delete;

    // ---- Lifecycle (session.cpp) ----
    virtual void TermInit();
    virtual void TermInit2(char const* keyMapFile, char const* translationFile);
    virtual void TermCleanup();
    virtual void TermDestroy();
    // Whether the session may end now; *ask tells whether the user was asked.
    int CanQuit(bool* ask);
    // For plug-in and script threads: waits until the session is the
    // current one of its main window, the flag behind cancel is set, or the
    // session is being closed (then 0).
    int WaitForSessionForeground(signed char* cancel) override;
    bool IsTextMarked();
    int OnEscape();
    // The end of a session that a thread may still hold: cleaned up (when
    // not yet), marked deleted, destroyed, and deleted once no SESSIONHOLD
    // remains. Main thread; the pointer must not be used afterwards.
    static void Retire(SESSION* session);
    void AddUse();
    void ReleaseUse();
    int UseCount();
    bool IsDeleted() const { return Deleted.load(); }
    bool IsShuttingDown() const { return ShuttingDown.load(); }
    void SetShuttingDown(bool on) { ShuttingDown.store(on); }
    int SessionNumber() const { return Number; }

    // ---- Events (sessionevents.cpp) ----
    int SendEvent(int event, short arg, char const* text) override;
    int PostEvent(int event, short arg, char const* text) override;
    int CondEvent(int event) override;
    int ProcessEvent(int event, int arg, char const* text) override;
    // Keys for the key road from any thread (event 8802); with onlyOnline
    // they are dropped while the device is offline.
    int PostKeys(wchar_t const* keys, int count, bool onlyOnline);
    // Routes a range of events to a handler (null: the placeholder that
    // answers 0).
    void SetEventRoute(int first, int last, EVENTHANDLER handler);
    // Whether a route set by SetEventRoute takes the event.
    bool HasEventRoute(int event) const;
    void TrackChanges(bool repaint) override;
    void RemakeAll();

    // ---- Received data (sessiondata.cpp) ----
    void ComDataNotification(bool force) override;
    void DeviceEndNotification() override;
    void ComDataProcess();
    int ProcessSer(int* ddeFound, int* rexxFound);
    bool IsIncomingDataForFiletransfer();
    void SetTransferActive(bool active, int arg);
    bool IsTransferActive() override { return TransferActive.load(); }
    // The key map's hold key: while set, received data waits.
    void SetHold(bool on);
    bool IsHeld() const { return Hold.load(); }

    // ---- Keys (sessionkeys.cpp) ----
    // Callable from any thread: other threads post the keys (event 8802).
    int FeedKeys(wchar_t const* keys, int count, signed char raw) override;
    int FeedKey(wchar_t key, bool raw);
    int ProcessKeys(wchar_t const* keys, int count, bool raw);
    void ConvertKeyToCommOutput(wchar_t key, std::string& out, bool raw);
    void SendKeyData(char const* data, int length);
    int DoStringWide(wchar_t const* text);
    int DoString(char const* text);
    void SetKeyboardLocked(bool on) { KeyboardLocked = on; }
    bool IsKeyboardLocked() const { return KeyboardLocked; }
    size_t KeyQueueLength() const { return KeyQueue.size(); }

    // ---- Window (sessionwindow.cpp) ----
    int OnPaint() override;
    bool OnKeyboardEvent(KEYBOARDEVENT const& event) override;
    bool OnRawKeyboardEvent(KEYBOARDEVENT const& event) override;
    bool OnSized() override;
    bool OnShown() override;
    bool OnHidden() override;
    bool OnTimer(int id) override;
    bool OnFocusAcquired() override;
    bool OnFocusLost() override;
    bool OnHelp() override;
    bool OnMouseEvent(int message, int x, int y, int flags) override;
    bool OnFilesDropped(int count, STRINGARRAY const& files) override;
    // A file name as one word for a POSIX shell: unchanged when no shell
    // treats any of its characters specially, else in single quotes, or in
    // the $'...' form (bash, zsh, ksh) when it holds control characters,
    // which are then escapes; never with a raw control character.
    static std::string ShellQuoted(std::string const& name);
    // The name with each control character as '?'.
    static std::string WithoutControls(std::string const& name);
    bool OnUserMessage(int msg, MSGWORD p1, MSGWORD p2) override;
    void SetBackgroundTab(bool background);
    bool IsBackgroundTab() override { return Background.load(); }
    // The key map's dispatcher (KEYMAPPER::ProcessChar); 255 when nothing
    // took the key.
    virtual int KeyMapProcessChar(KEYBOARDEVENT const& event);
    int QueryMinMax(int* minW, int* minH, int* maxW, int* maxH);
    // The fixed-pitch fonts (at most 1023 and an empty end entry), filled
    // again only when the screen's code page or the bold flag changed; the
    // count. A machine without any leaves the list empty (the screen keeps
    // its font) instead of ending the program.
    int QueryFontList(TERMFONT const** list);
    int OfferWindow(int* newX, int* newY, int availX, int availY, bool apply);
    int SetFont(wchar_t* name, int size, bool bold, bool force);
    int QueryFont(wchar_t* name, int size, bool* bold);
    int QueryFontSize(int* cellWidth, int* cellHeight);
    int QueryString(wchar_t* text, int* length, int x, int y, bool* wrapped);
    int ClickCopySelected(bool clear);
    void ClickMaster(int code, int x, int y);
    // Mouse codes of OnMouseEvent.
    static constexpr int MOUSE_MOVE = 512;
    static constexpr int MOUSE_LEFTDOWN = 513;
    static constexpr int MOUSE_LEFTUP = 514;
    static constexpr int MOUSE_LEFTDOUBLE = 515;
    static constexpr int MOUSE_RIGHTDOWN = 516;
    static constexpr int MOUSE_MIDDLEDOWN = 519;
    static constexpr int MOUSE_WHEEL = 522;
    // The modifier keys held now (16 Shift, 17 Control, 18 Option); tests
    // replace the keyboard.
    virtual bool KeyState(int vk);

    // ---- Signals and status (sessionmisc.cpp) ----
    void Beep(int hz, int ms);
    void Alarm(int count);
    void AlarmQ(int count);
    // Plays count tones on a thread of their own; tests record them.
    virtual void DoBeep(int hz, int ms, int count, int pause);
    void PlayTune(char const* name, bool wait);
    int Bell() override;
    void SetStatusbarLed(int led, bool on, int mode) override;
    void UpdateStatusbar() override { UpdateStatusbar(false); }
    void UpdateStatusbar(bool full);
    void EnableMenuEntry(int id, int enable, bool x);
    void UpdateToolbarAndMenu(bool x);
    void UpdateWindowTitle(wchar_t const* title);
    void UpdateTabTitle();
    void UpdateScrollbarNow();
    void Notify(char const* text, int kind) override;
    void Notify(char const* text, int kind, CONTROLPARENT parent);
    // The text the notification shows now (empty: none) and for how long.
    std::string NotifyText() const { return NotifyShown; }
    int NotifyMilliseconds() const { return NotifyTime; }
    void SaveScreen(char const* destination);
    std::wstring QueryCurrentHostWide();

    // ---- What the layers and plug-ins ask (session.cpp) ----
    COMMAPI* Comm() override { return &CommLayer; }
    EMULATIONAPI* Emulation() override { return &EmuLayer; }
    VIOAPI* Vio() override { return &Screen; }
    SESSIONPROFILE* Profile() override { return &Prof; }
    SESSIONPROFILEDATA* ProfileData() override { return &Prof.data; }
    PROGRAMSETTINGSDATA* SettingsData() override { return &Settings.data; }
    void ResetScreenMode() override;
    void ErrorMsg(char const* text) override;
    int WarningMessage(char const* text) override;
    int Ask(char const* title, char const* text, char* buf, int max, int flags, signed char* result) override;
    int AskUserPass(char const* title, char* user, char* pass, int* flags) override;
    int AskPassphrase(char const* title, char const* text, char const* keyfile, char* pass, int* flags) override;
    bool Unattended() override;
    void SendMainWindowEvent(int event) override;
    void PostMainWindowMessage(int message, uintptr_t p1, uintptr_t p2) override;
    uintptr_t SendMainWindowMessage(int message, uintptr_t p1, uintptr_t p2) override;
    bool MainWindowRect(RECT* rect) override;
    bool IsMainWindowMaximized() override;
    void MoveMainWindow(RECT const& rect) override;
    void FlushRedraws() override;
    void StartWindowTimer(int id, int ms) override;
    void StopWindowTimer(int id) override;
    void InvalidateWindow() override;
    void CustomTitleChanged() override;
    int InstanceNumber() override;
    WINDOW* MainWindow() override;
    APP* Application() override;
    PASSWORDCACHEAPI* PasswordCache() override;
    char const* WorkFolder() override;
    char const* HomeFolder() override;
    int SetLedMode(int mode) override;
    int AddScrollLine(VIOCELL const* cells, int count, signed char notify) override;
    int AppTrackChanges() override;
    int StartProgram(char const* program, char const* args, char const* folder, int flags) override;

    // ---- Key map and translation tables (sessionkeymap.cpp) ----
    // A received character through the inward translation table.
    virtual int TranslateIn(int c);
    // Whether the inward table applies at all; asked once per pass of the
    // received-data road, so a session without one pays nothing per
    // character.
    virtual bool TranslateInActive();
    // The inward translation as a 256-byte table, for the road's runs of
    // plain text; null when it is not one (TranslateIn then sees every
    // character).
    virtual uint8_t const* TranslateInTable();
    // Bytes to send through the outward translation table.
    void TranslateOut(char* data, int len) override;

    // ---- Parts built later: neutral until their work lands ----
    // A running script's wait for a key; 1 when it took the key.
    virtual int ScriptProcessKey(KEYBOARDEVENT const& event) { return 0; }
    // Cancels a connection attempt in progress; 1 when there was one.
    virtual int OnEscapeDial() { return 0; }
    // Dials the host-directory entry with hot key 1-12; whether found.
    virtual int DialByHotkey(int number, int flag) { return 0; }
    // The watch's check of a received character and of a typed key.
    virtual int WatchCheckSerInput(int c, bool first) { return 0; }
    virtual int WatchCheckKeyInput(wchar_t key) { return 0; }
    // A script's check of a received character (0 AppleScript, 1 REXX).
    virtual void ScriptReceived(int script, int c, bool inSequence) {}
    // The automatic start of a download on received text; true ends the
    // pass. It may take characters out of the buffer.
    virtual bool WatchAutoStart(int c, wchar_t* buffer, int* count) { return false; }
    // Whether any of the checks of received characters (scripts, watch,
    // automatic start, automatic login) is active; asked once per pass, so
    // a session without them pays nothing per character.
    virtual bool ReceiveTriggersActive() { return AutoLogin.Active(); }
    // The automatic login's look at a received character (-2 none, -1
    // reset): the host entry's wait/send list (PHONEAUTOLOGIN).
    int WatchAutoLogin(wchar_t ch) override;
    // A transfer's suppression of screen output (4.121's
    // NoSuppressScreenOutput answered false).
    virtual bool TransferSuppressesOutput() { return true; }
    virtual void TransferTimerTick() {}
    // The split chat (active: its text goes there instead of the screen).
    virtual bool SplitChatActive() { return false; }
    virtual void SplitChatPuts(wchar_t const* text, int count, bool received) {}
    // Learning: active, and its record.
    virtual bool LearningActive() { return false; }
    // The connection's side effects on a change of the carrier.
    virtual void ProcessCarrier(int online, int force) {}
    // Hanging up (the connection's end and its side effects).
    virtual void Disconnect();
    // Dialling: a connect text, a host-directory entry by name.
    virtual int DialConnectString(char const* text);
    virtual int DialByName(char const* name);
    // Connect Again (event 8383) on a session that is offline: a device
    // that needs no host (the local shell) opens again, which starts its
    // program anew; 1 when it did. Dialling the last host of the host
    // directory comes with dialling, which overrides this.
    virtual int DialByReconnect();
    // Whether Connect Again can do something now.
    virtual bool CanReconnect();
    // The hook library's hook n (null arguments: none); its answer.
    int CallHook(int hook, void* a, void* b) override { return 0; }

    // ---- The session log, the data trace, the capture buffer and its
    // viewer, printing (sessionlog.cpp) ----
    // Blocks received ('I') and sent ('O'; TRACE::SECRET for the bytes of a
    // stored secret) to the data trace; any thread.
    void Trace(char direction, char const* data, int len) override;
    void HexDump(char const* data, int len) override;
    // Text for the session log and the capture buffer; any thread.
    int Log(char const* text, int len) override;
    int LogWide(wchar_t const* text, int len) override;
    // Print jobs of the main window's print queue, titled with the current
    // host, in the session's code page; any thread.
    void* PrinterOpen(signed char raw) override;
    int PrinterWrite(void* job, char const* data, int len) override;
    int PrinterWriteWide(void* job, wchar_t const* text, int len);
    int PrinterClose(void* job) override;
    // The one-second tick: flushes the logs and traces, follows the log
    // name's date.
    void FlushLogFiles();
    void TraceTracker(int ascii, int binary, int dump, int force);
    // The events of the session log, the capture buffer, the capture viewer
    // and printer logging (8030, 8045, 8060, 8078, 8390-8396, 8455-8457).
    int ProcessLogEvent(int event, int arg, char const* text);
    // The open capture viewer (null: none); closing it.
    BROWSESTREAMFRAME* CaptureViewer() const { return CaptureFrame; }
    void CloseCaptureViewer();
    // While one lives on the calling thread, what the session sends comes
    // from a stored secret (an automatic login's password): the text trace
    // shows it as "{secret}" and no debug log shows its bytes, also when it
    // is sent later, paced.
    class SECRETSEND {
    public:
        SECRETSEND() : Scope() {}

    private:
        COMM::SECRETSCOPE Scope;
    };

    // ---- SESSIONPROFILEHOST ----
    STRING OptsPath() override;
    void UpdateWindowTitle() override;
    bool GetScreenSize(int* cols, int* rows) override;
    STRING AskFilename(char const* title, char const* folder) override;
    STRING AskFilename(char const* title, char const* mask, WINDOW const& owner) override;
    STRING AskSaveAsFilename(char const* title, char const* proposal) override;
    STRING AskSaveAsFilename(char const* title, char const* mask, WINDOW const& owner) override;

    // ---- SCROLLBACKHOST ----
    void SetScrollbar(SCROLLBAR& bar, int position, int page, int min, int max) override;
    void ScrollbarUpdatePending() override;
    void UpdateToolbarAndMenu() override { UpdateToolbarAndMenu(false); }
    bool NoDim() override;
    int SessionCodePage() override { return CodePage(); }

    STRINGARRAY& TempFiles() { return TemporaryFiles; }

    // Diagnostics of the received-data road: user messages 1029 handled,
    // passes run, characters handed out, and whether the screen's update
    // bracket is open.
    struct ROADSTATS {
        uint64_t Messages = 0;
        uint64_t Passes = 0;
        uint64_t Characters = 0;
    };
    ROADSTATS RoadStats() const { return Stats; }
    // How long one turn of the main thread may run passes over received
    // data while nothing else waits (microseconds; 0: one pass a turn).
    void SetPassSlice(int us) { PassSliceUs = us; }
    bool HasVioBracket() const { return ComDataHaveVioBracket; }

    // The session's clock (milliseconds); tests replace it.
    virtual long long NowMs();
    // A fixed-pitch font of a font description ("11.DejaVu Sans Mono"),
    // else the default terminal font of its size, else the default terminal
    // font; null when the machine has no fixed-pitch font.
    static COREFONT* LoadFixedFontOf(wchar_t const* spec, int codePage);

    // What text may hold on the received-data road's fast way (ProcessSer).
    struct TEXTRULES {
        uint8_t const* Inward;    // the receive table, or one that keeps every character
        uint8_t const* Translate; // the receive table when one applies, else null
        uint8_t const* Plain;     // the same, but null when it keeps printable 7-bit characters as they are
        bool KeepsPrintable;      // the table keeps every printable 7-bit character printable
        bool Utf8;                // bytes from 0x80 up are UTF-8
        bool High;                // characters from 0xA0 up stay (the high bit is not stripped)
        bool Unchecked;           // nothing needs to know which characters belong to sequences
    };

protected:
    // One session event's payload, owned by the session from its posting
    // until its handling (or the session's end).
    struct PAYLOAD {
        uint32_t Magic = 0x51455650; // "PVEQ"
        std::string Text;
        std::wstring Keys;
        bool HasText = false;
        bool NoQuestion = false;
    };
    PAYLOAD* NewPayload();
    // The payload of an event raised with this text (null: none).
    PAYLOAD* PayloadOf(int event, short arg, char const* text);
    // Takes a payload posted by this session out of the pending set; null
    // for one it never posted or already handled.
    std::unique_ptr<PAYLOAD> TakePayload(MSGWORD word);
    int HandleEventMessage(MSGWORD p1, MSGWORD p2);
    int Placeholder(int event, int arg, char const* text);
    int ProcessKeepAlive();
    int ProcessStandby(int arg);
    int ProcessViewToggle(int event, int arg);
    int ProcessResetTerminal();
    int ProcessAcceptCalls(int on);
    int ProcessEvent8810();

private:
    void InitWindow(int options);
    // The next received character: characters the UTF-8 decoder gave
    // beyond the first come before the device's; *decoded tells which.
    int NextChar(bool* decoded);
    void PushBack(int c, bool decoded);
    // The fast way for an emulation that takes runs: c and what follows it
    // in the communication layer's read buffer, text and whole sequences,
    // into the received-character buffer up to stop characters. The
    // characters taken (0: c must go the slow way).
    int TakeRuns(int c, TEXTRULES const& rules, bool ctrlChars, int stop);
    void KeyPiece();
    // Writes n queued bytes from `from`, those of a stored secret marked.
    void WriteQueued(size_t from, size_t n);
    void EchoKey(wchar_t key);
    int JumpBudget();
    void OpenWordAt(int col, int row, int mode);
    void MoveCursorTo(int col, int row);
    bool OpenLinkChecked(char const* url);

    // 1: the use-count lock, the use count and the flags.
    MUTEXSEM UseLock;
    int Uses = 0;
    std::atomic<bool> Deleted{false};
    std::atomic<bool> ShuttingDown{false};
    std::atomic<bool> Retired{false};
    bool Painting = false;
    std::atomic<bool> ComDataPending{false};
    std::atomic<bool> TitlePending{false};
    std::atomic<bool> DeviceEndPending{false};
    bool ComDataHaveVioBracket = false;
    bool ComDataRunning = false;
    // 3: the line-end translator of received data.
    TRANSCRLF TransCrLf{-1};
    // 4: key sending.
    bool SendingKeys = false;
    bool EscapeWhileSending = false;
    bool SendTimerPending = false;
    // 5: the current font.
    WSTRING CurrentFont;
    int CurrentBold = 157;
    // 6: session mode flags.
    std::atomic<bool> TransferActive{false};
    bool KeyboardLocked = false;
    bool Dialling = false;
    bool Connecting = false;
    std::atomic<bool> Background{true};
    bool InCanQuit = false;
    bool KeepAliveSent = false;
    // 7: the event semaphore.
    EVENTSEM SessionEvent;
    // 9: the key queue, and which of its bytes come from a stored secret.
    std::string KeyQueue;
    std::string KeySecret;
    // 10: the font-list cache.
    std::vector<TERMFONT> FontTable;
    int FontCount = -1;
    int FontKey = -1;
    int FontBold = -1;
    // What the screen asks of the session window.
    class SCREENHOST final : public VIOHOST {
    public:
        explicit SCREENHOST(SESSION& session) : S(session) {}
        void Invalidate(RECT const* rect) override;
        void RedrawNow() override;
        SIZE ClientSize() override;
        bool HasFocus() override;
        void StartTimer(int id, int ms) override;
        void StopTimer(int id) override;
        void MinimizeWindow(bool minimize) override;
        void MoveWindow(int x, int y) override;
        void SyncCursorPos() override;
        void UpdateScrollbarNow() override;
        COREFONT* LoadFont(wchar_t const* fontString, signed char* bold, int codePage) override;

    private:
        SESSION& S;
    };
    SCREENHOST ScreenLink{*this};
    std::atomic<bool> HasFocusNow{false};
    // What the key map and the translation tables ask of the session.
    class KEYLINK final : public KEYMAPHOST, public TRANSLATEHOST {
    public:
        explicit KEYLINK(SESSION& session) : S(session) {}
        SESSIONPROFILEDATA const* Profile() override;
        PROGRAMSETTINGSDATA const* Settings() override;
        bool TestArg(char const* name) override;
        std::string KeymapsFolderSetting() override;
        std::string WorkFolder() override;
        bool KeyState(int vk) override;
        int ScriptProcessKey(KEYBOARDEVENT const& event) override;
        int OnEscape() override;
        int OnEscapeDial() override;
        int CommProcessKey(KEYBOARDEVENT const& event) override;
        int EmulationProcessKey(KEYBOARDEVENT const& event) override;
        int TabsProcessKey(KEYBOARDEVENT const& event) override;
        bool ScrollbackKeysOff() override;
        int DoStringWide(wchar_t const* text) override;
        void FeedKey(wchar_t key, bool raw) override;
        int ProcessEvent(int event, int arg) override;
        int PostEvent(int event, int arg) override;
        int ProcessMainEvent(int event, int arg) override;
        int PostMainEvent(int event, int arg) override;
        int DialByHotkey(int number, int flag) override;
        bool IsTextMarked() override;
        void Wait(int ms) override;
        void FlushInputBuffer(int keep) override;
        bool IsPaused() override;
        void SetPaused(bool on) override;
        void Notify(char const* text, int time) override;
        void EmulationPuts(char const* text) override;
        MENU* MenuBar() override;
        void FileError(char const* path) override;
        bool DoTrans() override;
        bool EmulationFlag(unsigned long mask) override;
        std::string TranslationFolderSetting() override;
        std::string OptionsFolder() override;

    private:
        SESSION& S;
    };
    KEYLINK KeyLink{*this};
    // What the capture buffer asks of the session.
    class CAPTURELINK final : public STREAMDATAHOST {
    public:
        explicit CAPTURELINK(SESSION& session) : S(session) {}
        int CaptureCodePage() override;
        bool CaptureTimeMarks() override;
        void CaptureLocalTime(int* hour, int* minute, int* second, int* tenths) override;
        std::string CaptureFolder() override;
        std::string AskSaveName(char const* title, char const* start) override;
        std::string AskLoadName(char const* title, char const* start) override;
        void FileError(char const* path) override;
        void EditFile(char const* path) override;
        void AddTempFile(char const* path) override;
        void* OpenPrintJob() override;
        void WritePrintJob(void* job, char const* bytes, int len) override;
        void ClosePrintJob(void* job) override;

    private:
        SESSION& S;
    };
    CAPTURELINK CaptureLink{*this};
    // What a print job asks of the session.
    class PRINTLINK final : public PRINTJOBOWNER {
    public:
        explicit PRINTLINK(SESSION& session) : S(session) {}
        int PrintMakeCtrl(char* text, int size) override;
        void PrintNotify(char const* text) override;

    private:
        SESSION& S;
    };
    PRINTLINK PrintLink{*this};
    // What the capture viewer asks of the session.
    class VIEWERLINK final : public BROWSESTREAMHOST {
    public:
        explicit VIEWERLINK(SESSION& session) : S(session) {}
        void ViewerClose() override;
        COREFONT* ViewerFont() override;
        bool ViewerMarkColour(COLORREF* colour) override;
        bool ViewerAutoCopy() override;
        int ViewerTransparency() override;
        std::wstring ViewerHostName() override;
        bool ViewerMainRect(RECT* rect) override;
        void ViewerCopy(std::wstring const& text, bool add) override;
        void ViewerNotify(char const* text) override;
        void ViewerError(char const* text) override;
        void ViewerAlert() override;
        bool ViewerKeyState(int vk) override;
        long long ViewerNowMs() override;

    private:
        SESSION& S;
    };
    VIEWERLINK ViewerLink{*this};
    BROWSESTREAMFRAME* CaptureFrame = nullptr;
    // A key that the raw key event left untaken and that comes again as
    // text (the same record) is not handled twice.
    bool RawKeyUntaken = false;
    KEYBOARDEVENT RawKey{};

public:
    // 11, 12: the owner, the settings, the profile and the members, in
    // this order.
    SESSIONHOST& Host;
    PROGRAMSETTINGS& Settings;
    SESSIONPROFILE Prof;
    COMM CommLayer;
    EMULATION EmuLayer;
    VIO Screen;
    SCROLLBACKBUFFER Scrollback;
    KEYMAPPER Keymap{KeyLink};
    TRANSLATE Translation{KeyLink};
    // The capture buffer, the session log and the data trace.
    STREAMDATA Capture{CaptureLink};
    LOGGING Logging{*this};
    TRACE Tracer{*this};
    // The host entries to dial, and the automatic login of the entry that
    // connected (the dialling arms it).
    PHONEQUEUE DialQueue;
    PHONEAUTOLOGIN AutoLogin;

private:
    // 13: the state word of the emulation's sequence check, the session
    // number, the hold flag, focus and scroll-bar times, the bell limiter.
    int SequenceState = 0;
    // The road stopped checking sequences (nothing needed their bounds):
    // SequenceState is taken from the emulation's parser before the next
    // check.
    bool SequenceUntracked = false;
    int Number = 0;
    std::atomic<bool> Hold{false};
    long long FocusTime = 0;
    long long ScrollbarTime = 0;
    int ScrollbarPending = 0;
    long long BellTime = 0;
    int BellCount = 0;
    // 14: temporary files the session deletes at its end.
    STRINGARRAY TemporaryFiles{64};

    // The received-character buffer and the UTF-8 decoder.
    static constexpr int COMBUFSIZE = 4096;
    wchar_t ComBuf[COMBUFSIZE] = {};
    int ComBufCount = 0;
    UNICODE_UTF8STATE Utf8State{};
    // Characters the decoder gave beyond the first: read next, undecoded.
    std::deque<wchar_t> Decoded;
    // Status lights asked for on the device's reader thread, shown by the
    // main thread (bit n: light n on).
    std::atomic<unsigned> PendingLeds{0};
    ROADSTATS Stats;
    int PassSliceUs = 2000;

    // Session events: routes of the parts not built, payloads in flight.
    struct ROUTE {
        int First, Last;
        EVENTHANDLER Handler;
    };
    std::vector<ROUTE> Routes;
    std::mutex PayloadLock;
    std::unordered_set<PAYLOAD*> Payloads;

    // TrackChanges's copy of what it applied last.
    struct TRACKED {
        bool Filled = false;
        int Width = -1, Height = -1;
        int CodePage = -1;
        int Dynamic = -1;
        int BoldFont = -1;
        int AntiAliasing = -2;
        std::string LogName = "*";
        std::string CapturePath = ":";
        int CaptStatus = -1;
    } Tracked;

    // Accepting calls again after a pause (events 8415, 8815).
    bool AcceptAgain = false;
    bool StandbyAccepted = false;
    bool InStandby = false;

    // Mouse and selection.
    int MarkMode = 0;
    POINT Anchor{-1, -1};
    POINT MarkEnd{-1, -1};
    bool MarkForward = true;
    POINT Hover{-1, -1};
    bool HoverLink = false;
    std::string HoverUrl;
    POINT LastClick{-1, -1};
    long long LastClickTime = -1;
    bool MouseCaptured = false;

    // The notification.
    std::string NotifyShown;
    int NotifyTime = 0;
    long long NotifyUntil = 0;

    int Options_ = 0;
    char WorkPathText[260] = {};
    char HomePathText[260] = {};
};
