// The main window: construction and the start-up chain's frame, teardown,
// the global start-up checks, and what the sessions and the program
// settings ask of the window.
#include "program/shell/app.h"

#include "program/shell/helper.h"
#include "program/shell/qor.h"
#include "program/shell/syscolors.h"
#include "program/shell/tabs.h"

#include "program/settings/workfolder.h"

#include "platform/services/folders.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/registry.h"
#include "velmot/core/tarvo.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

char const* const gVersion = "6.44";
char const* const gSubVersion = "";
char const* const gCompiled = __DATE__ " " __TIME__;
char gTermName[64] = {};
STRING gHomePath;
STRING gResourcePath;
int gWindowFrameParameter = 255;
int gQorReturnCode = 0;
signed char gQuiet = 0;
signed char gNoEatModemEcho = 0;
signed char gUnattended = 0;
signed char gBoldFonts = 0;
int gRestricted = 0;
char gDefaultOptsFile[260] = {};
char gWorkPath[260] = {};
STRING gFontInclude;
STRING gFontExclude;

PREFLIGHT gPreFlight;

namespace {

// The product name in titles and boxes.
constexpr char const* kProduct = "QOR";
// The edition word of the program's name.
constexpr char const* kEdition = "Linux";
constexpr CONTROLID kScrollbarId{plat::FourCC("VSCR"), 1};

} // namespace

// ---------------------------------------------------------------------------
// PREFLIGHT

PREFLIGHT::PREFLIGHT()
{
    OsType = OSYS::GetOSType();
    snprintf(OsTypeName, sizeof OsTypeName, "%s", OSYS::GetOSTypeAsString().Buf());
}

PREFLIGHT::~PREFLIGHT() = default;

void PREFLIGHT::Phase1()
{
    // The program's folder is the one of the running executable; the
    // resources are the stage's (where "qor.icns" would be).
    std::string exe = plat::ExecutablePath();
    size_t slash = exe.rfind('/');
    HomePath = slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
    ResourcePath = plat::ResourcesFolder();
    gHomePath = HomePath.c_str();
    gResourcePath = ResourcePath.c_str();
    gWindowFrameParameter = 255;
    HELPER::CurDateTime(1);
    snprintf(gTermName, sizeof gTermName, "%s/%s %s", kProduct, kEdition, gVersion);
}

void PREFLIGHT::Phase2()
{
    VASSERT(gHomePath.NotEmpty(), "gHomePath.NotEmpty()", nullptr);
    VASSERT(gResourcePath.NotEmpty(), "gResourcePath.NotEmpty()", nullptr);
}

// ---------------------------------------------------------------------------
// Construction

APP::APP(int argc, char** argv, signed char flag)
    : WINDOW(WINDOWSTYLE_DOCUMENT, kProduct, 100, 100, 640, 400, nullptr, "IDW_MAINWIN", "IDW_MAINWIN",
             "QorMainWindow"),
      MainMenu(static_cast<DARWINDOW const&>(*this)), Scrollbar(GetClientParent(), kScrollbarId, 1, 0, 0, SCROLLWIDTH, 64),
      LastKeyTime(0), LastActivityNotice(0),
      ProgSettings(*this), Passwords(*this, &ProgSettings.data, gHomePath.Buf()), SessionLock(0, nullptr)
{
    LOGIT("APP::APP (flag %d)\n", flag);
    long long const now = static_cast<long long>(OSYS::GetLTime());
    LastKeyTime = now - 30;
    LastActivityNotice = now - 30;
    TimeStamp = OSYS::RelTime();
    Scrollbar.Show(false);
    PROGRAMSETTINGS::AdminDefaults(AdminRecord);
    Phonebook = std::make_unique<PHONEBOOK>(*this);

    gPreFlight.Phase2();
    // The network needs no start-up here.

    {
        MUTEXLOCK lock(SessionLock);
        SIZE const client = GetClientSize();
        SESSION* first = MakeSession(RECT{0, 0, client.cx, client.cy});
        SessionTable[0].Retain(first);
        NumSessions = 1;
        CurrentSession.store(first);
        first->SetBackgroundTab(false);
    }

    pIpc = std::make_unique<SETTINGSIPC>([this](uint32_t, uint32_t mp1, uint32_t mp2) {
        if ((mp1 & 0xFFFF0000u) == IPC_CATEGORY)
            IpcEvent(static_cast<int>(mp1 & 0xFFFF), mp2);
        else if ((mp1 & 0xFFFF0000u) == PROGRAMSETTINGS_IPCGROUP)
            ProgSettings.IpcEvent(mp1 & 0xFFFF, mp2);
        else if ((mp1 & 0xFFFF0000u) == PHONE_IPC_CATEGORY)
            Phonebook->IpcEvent(mp1 & 0xFFFF, mp2);
    });
    VASSERT(pIpc != nullptr, "this->pIpc", nullptr);

    STRING key = OSYS::GetStringFromResource("IDS_TARVOAPPREGKEY");
    VASSERT(strcasecmp(key.Buf(), "QOR6") == 0, "STRING(TERM_REGKEY)==STRING(TXT(IDS_TARVOAPPREGKEY))", nullptr);

    RunChain(argc, argv);
    LOGIT("Norun= %d\n", Norun);
    LOGIT("WorkPath= %s\n", WORKDIR::GetCurrent().Buf());
    LOGIT("HomePath= %s\n", gHomePath.Buf());
    LOGIT("APP::APP done\n");
}

void APP::RunChain(int argc, char** argv)
{
    STRING error;
    int code = InitGlobs();
    if (code == 0)
        code = InitCommandlineArgs(argc, argv);
    if (code == 0)
        code = InitOptsAndIo();
    if (code == 0)
        code = InitWindow(argc > 0 && argv ? argv[0] : "", error);
    if (code == 0)
        code = InitFinal();
    StartupFinished = true;
    if (code != 0) {
        if (error.NotEmpty())
            ErrorMsg(error.Buf());
        Norun = code;
        StartTimer(TIMER_NORUN, 1000);
    }
}

SESSION* APP::MakeSession(RECT const& bounds)
{
    return new APPSESSION(*this, ProgSettings, GetClientParent(), bounds);
}

// ---------------------------------------------------------------------------
// Teardown

APP::~APP()
{
    LOGIT("APP::~APP\n");
    Show(false);
    Active = false;
    for (int i = 0; i < TemporaryFiles.NumItems(); ++i) {
        char const* name = TemporaryFiles[i]->Buf();
        if (access(name, F_OK) == 0) {
            LOGIT("APP::~APP delete tmp file %s\n", name);
            unlink(name);
        }
    }
    StopTimer(TIMER_SECOND);
    StopTimer(TIMER_PRINTQUEUE);
    StopTimer(6);
    StopTimer(TIMER_NORUN);
    CleanupAll();
    ArgList.clear();
    LOGIT("QorMain::os_Init(-1) done, gQorReturnCode=%d\n", gQorReturnCode);
    LOGIT("APP::~APP done\n");
}

void APP::CleanupAll()
{
    if (Closing)
        return;
    StopTimer(TIMER_SECOND);
    StopTimer(TIMER_PRINTQUEUE);
    StopTimer(TIMER_STAMP);
    Closing = true;
    {
        MUTEXLOCK lock(SessionLock);
        for (int i = NumSessions - 1; i >= 0; --i)
            ShutdownSession(SessionTable[static_cast<size_t>(i)].Get());
        CurrentSession.store(nullptr);
        for (int i = NumSessions - 1; i >= 0; --i)
            DeleteSession(SessionTable[static_cast<size_t>(i)].Get());
    }
    int delta = 0;
    if (pTabsbar && !ProgSettings.data.ShowTabsAlways)
        pTabsbar->ShowTabs(false, &delta);
    if (Norun == 0 && !IsMinimized() && !IsMaximized() && IsValid()) {
        RECT const r = GetRect();
        STRING value;
        value.Format("%d,%d,%d,%d;%d", r.left, r.top, r.right - r.left, r.bottom - r.top + delta, 0);
        STRING app = OSYS::GetStringFromResource("IDS_TARVOAPPREGKEY");
        REGISTRY key(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", app.Buf(), REGISTRY::READWRITE);
        key.Write("WindowPositionMain", value.Buf());
    }
    DestroyWindowParts();
    Show(false);
    Phonebook->Cleanup();
    DeleteDeadSessions();
    // A session a thread still holds cannot go now; it goes with the
    // window, which is its parent.
    for (SESSION* s : DeadList)
        delete s;
    DeadList.clear();
}

unsigned long APP::Time(unsigned long* out)
{
    unsigned long const now = static_cast<unsigned long>(time(nullptr));
    if (out)
        *out = now;
    return now;
}

void APP::LogWinMsg(char const* text, int message, MSGWORD w1, MSGWORD w2)
{
    LOGIT("%s %04lx %p %p\n", text ? text : "", static_cast<unsigned long>(message), reinterpret_cast<void*>(w1),
          reinterpret_cast<void*>(w2));
}

void APP::DestroyIntroWin()
{
    if (!IntroWin)
        return;
    delete IntroWin;
    IntroWin = nullptr;
}

void APP::EndEventLoop()
{
    plat::QuitMainLoop(0);
}

// ---------------------------------------------------------------------------
// What the sessions ask of the window

int APP::PostEvent(int event, int arg, char const* text)
{
    PostEvent(event, static_cast<short>(arg), text);
    return 1;
}

void APP::PostMessage(int message, uintptr_t p1, uintptr_t p2)
{
    PostUserMessage(message, p1, p2);
}

uintptr_t APP::SendMessage(int message, uintptr_t p1, uintptr_t p2)
{
    return SendUserMessage(message, p1, p2);
}

bool APP::MainWindowRect(RECT* rect)
{
    if (!rect || !TARVOAPP::IsMainThread())
        return false;
    *rect = GetRect();
    return true;
}

void APP::MoveMainWindow(RECT const& rect)
{
    Move(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

void APP::MinimizeMainWindow(bool minimize)
{
    if (minimize)
        Minimize();
    else
        Restore();
}

std::wstring APP::CurrentHostName(SESSION&)
{
    // The host directory's current entry arrives with the host directory.
    return std::wstring();
}

SESSIONHOLD APP::PhonebookSession()
{
    CURRENTSESSIONPTR session(*this);
    return SESSIONHOLD(session.Get());
}

// ---------------------------------------------------------------------------
// What the print queue asks of the window

std::string APP::AskPrintFile(char const* proposal)
{
    return AskSaveAsFilename(OSYS::GetStringFromResource("IDS_SELECTPRINTFILE").Buf(), proposal, nullptr).Buf();
}

std::string APP::PrintWorkFolder()
{
    return WORKDIR::GetCurrent().Buf();
}

std::string APP::PrintCaptureFolder()
{
    FILENAME folder(WORKDIR::GetCurrent().Buf(), ProgSettings.data.CapturePath);
    return folder.Buf();
}

// ---------------------------------------------------------------------------
// What the program settings ask of the window

void APP::PostApplySettings()
{
    PostUserMessage(MSG_TRACKCHANGES, 0, 0);
}

void APP::SendIpcMessage(uint32_t msg, uint32_t mp1, uint32_t mp2)
{
    if (pIpc)
        pIpc->SendMessage(msg, mp1, mp2);
}

// ---------------------------------------------------------------------------
// The session of a tab

APPSESSION::APPSESSION(APP& app, PROGRAMSETTINGS& settings, CONTROLPARENT parent, RECT const& bounds, int options)
    : SESSION(app, settings, parent, bounds, options), Owner(app)
{
}

int APPSESSION::MakeCtrl(char* text, int size)
{
    return HELPER::MakeCtrl(*this, text, size);
}

int APPSESSION::MakeCtrlWide(wchar_t* text, int size)
{
    return HELPER::MakeCtrl(*this, text, size);
}

signed char* APPSESSION::UnattendedFlag()
{
    return &gUnattended;
}

COLORREF* APPSESSION::SysColors()
{
    return gSysColorValues;
}

int APPSESSION::EditSysColors(WINDOW& owner)
{
    return Owner.EditSysColors(owner);
}

void APPSESSION::ProcessCarrier(int online, int closing)
{
    // Only a change that can be told counts.
    if (online == -1 || (online != 0) == (Carrier != 0))
        return;
    Carrier = online != 0;
    LOGIT("APPSESSION::ProcessCarrier %d (closing %d)\n", online, closing);
    Owner.SetSessionTabOnline(this, static_cast<signed char>(Carrier));
    // The online time starts with each connection and stops with it.
    if (Carrier)
        OnlineTimer.Reset();
    OnlineTimer.Run(Carrier ? 1 : 0);
    if (!Carrier && !closing && !IsTransferActive() && !Owner.OnSessionDisconnect(this)) {
        // The tab stays: it says so, below what the host wrote last.
        bool const program = Prof.data.ActiveDevice == kDeviceLocalShell;
        std::string text = "\r\n";
        text += OSYS::GetStringFromResource(program ? "IDS_PROGRAM_ENDED" : "IDS_CONNECTION_ENDED").Buf();
        text += "\r\n";
        EmuLayer.InfoOut(text.c_str());
    }
    Owner.PostUserMessage(APP::MSG_TITLE, 0, 0);
}
