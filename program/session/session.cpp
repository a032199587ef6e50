// The session object: its members in their order, the lifecycle from
// construction to the deletion of a retired session, and what the layers,
// the screen, the profile and the scroll-back ask of the session.
#include "program/session/session.h"

#include "program/screen/browsestream.h"
#include "program/screen/termfonts.h"
#include "program/settings/adminopts.h"
#include "program/settings/workfolder.h"

#include "platform/draw/viewsupport.h"
#include "platform/events/views.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/windraw.h"
#include "velmot/gui/winfont.h"
#include "velmot/gui/windows.h"
#include "velmot/gui/winvalues.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cwchar>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<int> gSessionCounter{1};

// The control id of session windows.
constexpr CONTROLID kSessionId{plat::FourCC("QTRM"), 1};

} // namespace

char const* const SESSION::NOQUESTION = reinterpret_cast<char const*>(~uintptr_t{0});

// ---------------------------------------------------------------------------
// Holding a session

SESSIONHOLD::SESSIONHOLD(SESSION* session) : Session(session)
{
    if (Session)
        Session->AddUse();
}

SESSIONHOLD::~SESSIONHOLD()
{
    Release();
}

SESSIONHOLD& SESSIONHOLD::operator=(SESSIONHOLD&& other) noexcept
{
    if (this != &other) {
        Release();
        Session = other.Session;
        other.Session = nullptr;
    }
    return *this;
}

void SESSIONHOLD::Release()
{
    if (Session)
        Session->ReleaseUse();
    Session = nullptr;
}

// ---------------------------------------------------------------------------
// Construction

SESSION::SESSION(SESSIONHOST& host, PROGRAMSETTINGS& settings, CONTROLPARENT parent, RECT const& bounds, int options)
    : CHILDWINDOW(parent, kSessionId, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top,
                  0, "QorTerminalArea"),
      CurrentFont(L"NO/FONT"), Host(host), Settings(settings), Prof(*this), CommLayer(*this), EmuLayer(*this),
      Screen(&ScreenLink, &Scrollback), Scrollback(this), Options_(options)
{
    LOGIT("SESSION::SESSION\n");
    Number = gSessionCounter.fetch_add(1);
    Scrollback.AttachScreen(&Screen);
    InitWindow(options);
    StartTimer(TIMER_SECOND, 1000);
    StartTimer(TIMER_PRINTER, 500);
    StartTimer(TIMER_TENTH, 100);
    SESSIONPROFILE::Init(&Prof.data);
    CommLayer.Initialize();
    EmuLayer.Initialize();
    AcceptDroppedFiles(true);
    LastClick = POINT{-1, -1};
    LastClickTime = -1;
    LOGIT("SESSION::SESSION done\n");
}

void SESSION::InitWindow(int options)
{
    // The terminal paints every pixel of its pane: a change repaints the
    // pane alone, never what lies behind it.
    if (!(options & OPTION_HEADLESS))
        plat::SetViewOpaque(GetControlRef(), true);
}

SESSION::~SESSION()
{
    LOGIT("SESSION::~SESSION\n");
    delete CaptureFrame;
    CaptureFrame = nullptr;
    // The layers go first, while the screen they write to is still there.
    CommLayer.Cleanup();
    EmuLayer.Cleanup();
    Screen.SetScrollback(nullptr);
    Scrollback.AttachScreen(nullptr);
    // Payloads posted to this session that it never handled.
    std::lock_guard<std::mutex> guard(PayloadLock);
    for (PAYLOAD* p : Payloads)
        delete p;
    Payloads.clear();
    LOGIT("SESSION::~SESSION done\n");
}

long long SESSION::NowMs()
{
    return OSYS::RelTime();
}

// ---------------------------------------------------------------------------
// Lifecycle

void SESSION::TermInit()
{
    LOGIT("SESSION::TermInit\n");
    if (Prof.data.ActiveDevice == -1) {
        Prof.data.ActiveDevice = DEFAULT_DEVICE;
        Prof.data.ActiveEmulation = DEFAULT_EMULATION;
        Prof.data.ShowLeds = 0;
        Prof.Save(Prof.GetCurrentFilename().Buf());
    }
    LOGIT("SESSION::TermInit done\n");
}

void SESSION::TermInit2(char const* keyMapFile, char const* translationFile)
{
    LOGIT("SESSION::TermInit2 %s %s\n", keyMapFile ? keyMapFile : "Standard.qky",
          translationFile ? translationFile : "Standard.qtr");
    Keymap.Load(keyMapFile);
    Keymap.InitAccel();
    Translation.Load(translationFile);
    ProcessEvent(8110, 0, nullptr);
    ProcessEvent(8115, 0, nullptr);
    ProcessEvent(8452, 0, nullptr);
    EnableMenuEntry(8456, 1, false);
    EnableMenuEntry(8457, 0, false);
    Logging.SetLogname(Prof.data.CaptDefaultName, 1);
    ADMINOPTS const* admin = Host.AdminOptions();
    Logging.SetAuditLogname(admin ? admin->AuditLogFilename : nullptr);
    TrackChanges(false);
    LOGIT("SESSION::TermInit2 done\n");
}

int SESSION::WatchAutoLogin(wchar_t ch)
{
    return AutoLogin.Watch(*this, static_cast<int>(ch));
}

void SESSION::TermCleanup()
{
    LOGIT("SESSION::TermCleanup (this= %p)\n", static_cast<void*>(this));
    StopTimer(TIMER_SECOND);
    StopTimer(TIMER_PRINTER);
    StopTimer(TIMER_TENTH);
    StopTimer(TIMER_SENDKEYS);
    StopTimer(TIMER_COMDATA);
    StopTimer(TIMER_ACCEPTCALLS);
    DialQueue.Clear();
    AutoLogin.Watch(*this, -1);
    ProcessCarrier(0, 1);
    Logging.SetFileLogging(0);
    Logging.CloseAuditLog();
    Logging.SetPrinterLogging(0);
    Tracer.Cleanup();
    if (IsScriptRunning())
        ProcessEvent(8140, 0, nullptr);
    // A paced text that was not sent yet goes with the session.
    KeyQueue.clear();
    KeySecret.clear();
    SendTimerPending = false;
    LOGIT("SESSION::TermCleanup done\n");
}

void SESSION::TermDestroy()
{
    LOGIT("SESSION::TermDestroy (this= %p)\n", static_cast<void*>(this));
    if (CaptureFrame)
        CloseCaptureViewer();
    for (int i = 0; i < TemporaryFiles.NumItems(); ++i)
        unlink(TemporaryFiles[i]->Buf());
    TemporaryFiles.DeleteAllItems();
    Notify(nullptr, 0);
    LOGIT("SESSION::TermDestroy done\n");
}

int SESSION::CanQuit(bool* ask)
{
    if (ask)
        *ask = false;
    if (InCanQuit)
        return 0;
    // The questions run loops of their own, in which the session may be
    // closed: it lives until the answer is in.
    TEventHandler::HOLD hold(*this);
    InCanQuit = true;
    int answer = 1;
    PROGRAMSETTINGSDATA const& set = Settings.data;
    if (IsTransferActive() || (set.NoQuitWhenRexx && IsScriptRunning())) {
        AlarmQ(1);
        answer = 0;
    } else {
        int online = CommLayer.Device() ? CommLayer.QueryOnline() : 0;
        bool asked = false;
        if (Host.ChildDialogOpen()) {
            Host.WarningMsg(OSYS::GetStringFromResource("IDS_CHILD_ACTIVE").Buf());
            answer = 0;
        } else if (online != 0 && online != -1) {
            if (set.NoQuitWhenOnline) {
                Host.WarningMsg(OSYS::GetStringFromResource("IDS_CANT_QUIT_ONLINE").Buf());
                answer = 0;
            } else if (set.SafAskQuit || set.SafAskHangup) {
                asked = true;
                if (!Host.YesNoRequest(OSYS::GetStringFromResource("IDS_SAFETY_ENDPROG").Buf(),
                                       OSYS::GetStringFromResource("IDS_QUIT_WITH_CD").Buf()))
                    answer = 0;
            }
        }
        if (answer && !asked && set.SafAskQuit) {
            asked = true;
            if (!Host.AreYouSureRequest(OSYS::GetStringFromResource("IDS_SAFETY_ENDPROG").Buf()))
                answer = 0;
        }
        if (ask)
            *ask = asked;
        if (answer && Deleted.load())
            answer = 0;
        if (answer) {
            ProcessEvent(8212, 0, nullptr);
            if (set.AutoOptsSave) {
                FILENAME name = Prof.GetCurrentFilename();
                if (*name.Buf())
                    Prof.Save(name.Buf());
            }
        }
    }
    InCanQuit = false;
    return answer;
}

int SESSION::WaitForSessionForeground(signed char* cancel)
{
    SESSIONHOLD hold(this);
    if (Host.IsCurrentSession(*this))
        return 1;
    if (!(!TARVOAPP::IsMainThread())) {
        AssertMsg(0, "!TARVOAPP::IsMainThread()", __FILE__, __LINE__);
        return 0;
    }
    // The tab blinks until the user brings the session to the front, the
    // caller gives up, or the session is being closed. The main window is
    // the main thread's: the request travels there.
    using FUNCTION = MSGWORD (*)(MSGWORD);
    FUNCTION blink = [](MSGWORD s) -> MSGWORD {
        auto* session = reinterpret_cast<SESSION*>(s);
        session->Host.SetSessionTabBlinking(*session, true);
        return 0;
    };
    PostUserMessage(MSG_CALLFUNCTION, reinterpret_cast<MSGWORD>(blink), reinterpret_cast<MSGWORD>(this));
    for (;;) {
        // The caller sets its flag from another thread.
        if (cancel && __atomic_load_n(cancel, __ATOMIC_ACQUIRE))
            return 0;
        if (Deleted.load() || ShuttingDown.load())
            return 0;
        if (Host.IsCurrentSession(*this))
            return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool SESSION::IsTextMarked()
{
    int mode = 0, x1, y1, x2, y2;
    return Screen.GetMarkArea(&mode, &x1, &y1, &x2, &y2) != 0 && mode != 0;
}

int SESSION::OnEscape()
{
    if (!SendingKeys && KeyQueue.empty())
        return 0;
    EscapeWhileSending = true;
    // A paced text waiting for its next piece is dropped at once.
    if (!SendingKeys) {
        KeyQueue.clear();
        KeySecret.clear();
        StopTimer(TIMER_SENDKEYS);
        SendTimerPending = false;
        EscapeWhileSending = false;
    }
    return 1;
}

void SESSION::AddUse()
{
    MUTEXLOCK lock(UseLock);
    ++Uses;
}

void SESSION::ReleaseUse()
{
    bool last = false;
    {
        MUTEXLOCK lock(UseLock);
        --Uses;
        last = Uses == 0 && Retired.load();
    }
    if (!last)
        return;
    // The last holder of a retired session: it is deleted on the main
    // thread, on a later turn of the loop.
    if (TARVOAPP::IsMainThread())
        DeleteLater();
    else
        plat::PostTask([this] { DeleteLater(); });
}

int SESSION::UseCount()
{
    MUTEXLOCK lock(UseLock);
    return Uses;
}

void SESSION::Retire(SESSION* session)
{
    if (!session)
        return;
    TARVOAPP::CheckCallerThread("SESSION::Retire");
    session->ShuttingDown.store(true);
    session->TermCleanup();
    session->Deleted.store(true);
    session->TermDestroy();
    // The reader thread ends with the device, before the session can go.
    session->CommLayer.CloseDevice();
    bool now = false;
    {
        MUTEXLOCK lock(session->UseLock);
        session->Retired.store(true);
        now = session->Uses == 0;
    }
    if (now)
        session->DeleteLater();
}

// ---------------------------------------------------------------------------
// What the layers ask of the session

void SESSION::ResetScreenMode()
{
    Screen.SetMode(0);
}

void SESSION::ErrorMsg(char const* text)
{
    LOGIT("SESSION::ErrorMsg %s\n", text ? text : "<NULL>");
    if (!Host.Unattended())
        Host.ErrorMsg(text);
}

int SESSION::WarningMessage(char const* text)
{
    LOGIT("SESSION::WarningMessage %s\n", text ? text : "<NULL>");
    return Host.Unattended() ? 1 : Host.WarningMsg(text);
}

// The requests plug-ins make (QORPUBLIC): the user and password buffers of
// AskUserPass and the pass phrase buffer hold QORPUBLIC_FIELD characters.
int SESSION::Ask(char const* title, char const* text, char* buf, int max, int flags, signed char* result)
{
    return Host.Unattended() ? 0 : Host.AskText(title, text, buf, max, flags, result);
}

int SESSION::AskUserPass(char const* title, char* user, char* pass, int* flags)
{
    if (Host.Unattended())
        return 0;
    return Host.AskUserPass(title, user, QORPUBLIC_FIELD, pass, QORPUBLIC_FIELD, flags);
}

int SESSION::AskPassphrase(char const* title, char const* text, char const* keyfile, char* pass, int* flags)
{
    return Host.Unattended() ? 0 : Host.AskPassphrase(title, text, keyfile, pass, QORPUBLIC_FIELD, flags);
}

bool SESSION::Unattended()
{
    return Host.Unattended();
}

void SESSION::SendMainWindowEvent(int event)
{
    Host.ProcessEvent(event, 0, nullptr);
}

void SESSION::PostMainWindowMessage(int message, uintptr_t p1, uintptr_t p2)
{
    Host.PostMessage(message, p1, p2);
}

uintptr_t SESSION::SendMainWindowMessage(int message, uintptr_t p1, uintptr_t p2)
{
    return Host.SendMessage(message, p1, p2);
}

bool SESSION::MainWindowRect(RECT* rect)
{
    return Host.MainWindowRect(rect);
}

bool SESSION::IsMainWindowMaximized()
{
    return Host.IsMainWindowMaximized();
}

void SESSION::MoveMainWindow(RECT const& rect)
{
    Host.MoveMainWindow(rect);
}

void SESSION::FlushRedraws()
{
    WINDOW(CONTROLPARENT{GetControlRef()}).FlushRedraw();
}

void SESSION::StartWindowTimer(int id, int ms)
{
    StartTimer(static_cast<uint32_t>(id), ms);
}

void SESSION::StopWindowTimer(int id)
{
    StopTimer(static_cast<uint32_t>(id));
}

void SESSION::InvalidateWindow()
{
    ScreenLink.Invalidate(nullptr);
}

int SESSION::InstanceNumber()
{
    return Host.InstanceNumber();
}

WINDOW* SESSION::MainWindow()
{
    return Host.MainWindow();
}

APP* SESSION::Application()
{
    return Host.Application();
}

PASSWORDCACHEAPI* SESSION::PasswordCache()
{
    return Host.PasswordCache();
}

char const* SESSION::WorkFolder()
{
    // Plug-ins keep the pointer: the text lives as long as the session.
    if (!WorkPathText[0])
        snprintf(WorkPathText, sizeof WorkPathText, "%s", WORKDIR::GetCurrent().Buf());
    return WorkPathText;
}

char const* SESSION::HomeFolder()
{
    if (!HomePathText[0])
        snprintf(HomePathText, sizeof HomePathText, "%s", SettingsHomePath().Buf());
    return HomePathText;
}

int SESSION::SetLedMode(int mode)
{
    return Host.HasStatusLine() ? Host.SetLedMode(mode) : 0;
}

int SESSION::AddScrollLine(VIOCELL const* cells, int count, signed char notify)
{
    if (!cells || count <= 0)
        return 0;
    Scrollback.AddLine(cells, count, notify);
    return 1;
}

int SESSION::AppTrackChanges()
{
    PostUserMessage(MSG_TRACKCHANGES, 0, 0);
    return 1;
}

int SESSION::StartProgram(char const* program, char const* args, char const* folder, int)
{
    if (!program || !*program)
        return 0;
    // An argument vector: the program and its arguments split as the
    // command line is, never handed to a shell.
    std::vector<std::string> argv{program};
    if (args && *args) {
        std::vector<char> buffer(args, args + strlen(args) + 1);
        char* parts[64] = {};
        int n = TARVOAPP::MakeArgcArgv(buffer.data(), nullptr, parts, 64);
        for (int i = 0; i < n; ++i)
            argv.emplace_back(parts[i]);
    }
    (void)folder;
    return Host.StartProgram(argv) ? 1 : 0;
}

// ---------------------------------------------------------------------------
// The profile's owner

STRING SESSION::OptsPath()
{
    return STRING(Settings.data.OptsPath);
}

void SESSION::UpdateWindowTitle()
{
    UpdateWindowTitle(nullptr);
}

bool SESSION::GetScreenSize(int* cols, int* rows)
{
    if (!Screen.IsUpAndRunning())
        return false;
    Screen.GetWinSize(cols, rows);
    return true;
}

STRING SESSION::AskFilename(char const* title, char const* folder)
{
    return Host.AskFilename(title, folder, nullptr);
}

STRING SESSION::AskFilename(char const* title, char const* mask, WINDOW const& owner)
{
    return Host.AskFilename(title, mask, &owner);
}

STRING SESSION::AskSaveAsFilename(char const* title, char const* proposal)
{
    return Host.AskSaveAsFilename(title, proposal, nullptr);
}

STRING SESSION::AskSaveAsFilename(char const* title, char const* mask, WINDOW const& owner)
{
    return Host.AskSaveAsFilename(title, mask, &owner);
}

// ---------------------------------------------------------------------------
// The scroll-back's owner

void SESSION::SetScrollbar(SCROLLBAR& bar, int position, int page, int min, int max)
{
    bar.SetScrollbar(position, page, min, max);
}

void SESSION::ScrollbarUpdatePending()
{
    ++ScrollbarPending;
}

bool SESSION::NoDim()
{
    return Settings.data.ScrollbackNoDim != 0;
}

// ---------------------------------------------------------------------------
// The screen's owner

void SESSION::SCREENHOST::Invalidate(RECT const* rect)
{
    if (S.Options_ & OPTION_HEADLESS)
        return;
    // Called under the screen lock from either thread: the platform keeps
    // the area and hands it to the main thread.
    if (rect) {
        plat::RectI r{rect->left, rect->top, rect->right, rect->bottom};
        plat::SetViewNeedsDisplay(S.GetControlRef(), &r);
    } else {
        plat::SetViewNeedsDisplay(S.GetControlRef(), nullptr);
    }
}

void SESSION::SCREENHOST::RedrawNow()
{
    if (!(S.Options_ & OPTION_HEADLESS))
        S.FlushRedraws();
}

SIZE SESSION::SCREENHOST::ClientSize()
{
    return TARVOAPP::IsMainThread() ? S.CONTROL::GetSize() : SIZE{};
}

bool SESSION::SCREENHOST::HasFocus()
{
    return S.HasFocusNow.load();
}

void SESSION::SCREENHOST::StartTimer(int id, int ms)
{
    S.StartTimer(static_cast<uint32_t>(id), ms);
}

void SESSION::SCREENHOST::StopTimer(int id)
{
    S.StopTimer(static_cast<uint32_t>(id));
}

void SESSION::SCREENHOST::MinimizeWindow(bool minimize)
{
    S.Host.MinimizeMainWindow(minimize);
}

void SESSION::SCREENHOST::MoveWindow(int x, int y)
{
    RECT r{};
    if (S.Host.MainWindowRect(&r))
        S.Host.MoveMainWindow(RECT{x, y, x + (r.right - r.left), y + (r.bottom - r.top)});
}

void SESSION::SCREENHOST::SyncCursorPos()
{
    S.EmuLayer.SyncCursorPos();
}

void SESSION::SCREENHOST::UpdateScrollbarNow()
{
    S.UpdateScrollbarNow();
}

COREFONT* SESSION::SCREENHOST::LoadFont(wchar_t const* fontString, signed char*, int codePage)
{
    if (S.Options_ & OPTION_HEADLESS)
        return nullptr;
    return LoadFixedFontOf(fontString, codePage);
}

COREFONT* SESSION::LoadFixedFontOf(wchar_t const* fontString, int codePage)
{
    // The font of the description, else the default terminal font of its
    // size, else the default terminal font: a screen always gets a font
    // when the machine has any fixed-pitch one.
    auto load = [codePage](wchar_t const* spec) -> COREFONT* {
        wchar_t name[128] = {};
        TERMFONTS::GetNameFromFontstr(spec, name, 128);
        int w = 0, h = 0;
        TERMFONTS::GetSizeFromFontstr(spec, &w, &h);
        WINDC dc(nullptr, RECT{}, false);
        return dc.LoadFixedFontW(name, SIZE{w, h}, false, 1, codePage);
    };
    if (fontString && *fontString) {
        if (COREFONT* font = load(fontString))
            return font;
    }
    wchar_t spec[256] = {};
    TERMFONTS::GetDefaultFont(spec, 256, 10);
    return load(spec);
}
