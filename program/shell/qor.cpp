#include "program/shell/qor.h"

#include "program/shell/app.h"
#include "program/shell/helper.h"

#include "platform/events/application.h"
#include "platform/events/modal.h"
#include "platform/events/queue.h"
#include "platform/events/timers.h"
#include "velmot/core/logit.h"
#include "velmot/gui/helpfile.h"
#include "velmot/core/osys.h"
#include "velmot/core/registry.h"
#include "velmot/core/tarvo.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/winicons.h"
#include "velmot/gui/winmenu.h"
#include "velmot/gui/wintarvo.h"
#include "velmot/gui/wintimer.h"

#include "platform/nibs/nib.h"
#include "platform/services/folders.h"
#include "platform/services/prefs.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

// Help keys and the topics they show (dialogs of other parts among them).
QOR::HELPMAPPING const QOR::HelpMap[] = {
    {"DLG_WIN_OPTS_TRANSFER2", "DLG_WIN_OPTS_TRANSFER"}, // nibcheck: absent
    {"DLG_WIN_TRANSLATE2", "DLG_WIN_TRANSLATE"}, // nibcheck: absent
    {"DLG_WIN_PHONE_IMPORT2", "DLG_WIN_PHONE_IMPORT"}, // nibcheck: absent
    {"DLG_WIN_AUTODIALSMALL", "DLG_WIN_AUTODIAL"}, // nibcheck: absent
    {"DLG_WIN_OPTS_ALL_TABS", "HLP_OPTIONS1"}, // nibcheck: absent
    {"DLG_WIN_OPTS_ALL_TREE", "HLP_OPTIONS1"}, // nibcheck: absent
    {"DLG_WIN_ABOUT", "HLP_ORDER"}, // nibcheck: absent
    {"IDM_REXX", "HLP_REXX"}, // nibcheck: absent
    {"IDW_AVIOWIN", "HLP_SCREEN"}, // nibcheck: absent
    {"IDW_MAINWIN", "HLP_SCREEN"}, // nibcheck: absent
    {"DLG_WIN_SUBSYSTEM", "HLP_DEVICES"}, // nibcheck: absent
    {"DLG_WIN_GLOB_PRINTERRAWADV", "DLG_WIN_GLOB_PRINTER"}, // nibcheck: absent
    {nullptr, nullptr},
};

namespace {

// Case-blind comparison of the last characters of a text.
bool EndsWith(std::string const& text, char const* tail)
{
    size_t const n = strlen(tail);
    return text.size() >= n && strcasecmp(text.c_str() + text.size() - n, tail) == 0;
}

bool StartsWith(std::string const& text, char const* head)
{
    return strncasecmp(text.c_str(), head, strlen(head)) == 0;
}

// One argument of at most 255 characters.
STRING Arg255(std::string const& text)
{
    return STRING(text.substr(0, 255).c_str(), 1252);
}

} // namespace

QOR::QOR(int* argc, char** argv) : APPLICATION(argc, argv), TableLock(0, nullptr)
{
    LOGIT("QOR::QOR\n");
    Hidden = std::make_unique<WINDOW>(WINDOWSTYLE_UTILITY, "QOR", -32000, -32000, 1, 1);
    // The program's icons by id (the tab bar's among them).
    ICONMAP::GetInstance();
    // The help book, its main topic and the layouts that share a topic.
    HELPFILE* help = HELPFILE::GetInstance();
    help->SetFilename(OSYS::GetStringFromResource("IDS_TARVOAPPHELPNAME").Buf(), true);
    help->SetMainTopic("HLP_MAIN");
    for (HELPMAPPING const* m = HelpMap; m->Key; ++m)
        help->AddMapping(m->Key, m->Topic);
    LOGIT("QOR::QOR done\n");
}

QOR::~QOR()
{
    LOGIT("QOR::~QOR\n");
    TableLock.Obtain();
    for (APP*& app : Windows) {
        if (app) {
            delete app;
            app = nullptr;
        }
    }
    Count = 0;
    TableLock.Release();
    ReapClosed();
    for (APP* app : Closing)
        delete app;
    Closing.clear();
    FreeTempArgv();
    // The singletons that hold platform objects go while the platform runs
    // (the application base stops it right after this), after the last
    // window that uses them.
    Hidden.reset();
    ICONMAP::ReleaseInstance();
    WINTIMER::ReleaseInstance();
    plat::CloseMainNib();
    LOGIT("QOR::~QOR done\n");
}

void QOR::FreeTempArgv()
{
    delete[] TempArgv;
    TempArgv = nullptr;
}

int QOR::MakeTempArgcArgv(char*** out, STRINGARRAY* documents, int extra)
{
    TempArgs.DeleteAllItems();
    for (int i = 0; argc && argv && i < *argc && argv[i]; ++i)
        TempArgs.AppendItem(Arg255(argv[i]));
    for (int d = 0; documents && d < documents->NumItems(); ++d) {
        std::string const doc = (*documents)[d]->Buf();
        if (EndsWith(doc, ".qsh") || EndsWith(doc, ".qln")) {
            TempArgs.AppendItem(Arg255(doc));
        } else if (EndsWith(doc, ".qrx")) {
            TempArgs.AppendItem(Arg255("/RUN:" + doc));
        } else if (EndsWith(doc, ".qor")) {
            TempArgs.AppendItem(Arg255("/O:" + doc));
        } else if (StartsWith(doc, "telnet://")) {
            TempArgs.AppendItem(Arg255("/TELNET:" + doc.substr(9)));
        } else if (StartsWith(doc, "ssh://")) {
            std::string rest = doc.substr(6);
            if (rest.find('@') == std::string::npos)
                rest = "?@" + rest;
            TempArgs.AppendItem(Arg255("/SSH:" + rest));
        } else {
            // A document of another kind came from outside: it is left out.
            LOGIT("QOR::MakeTempArgcArgv skips the document %s\n", doc.c_str());
        }
    }
    int const count = TempArgs.NumItems();
    char** vector = new char*[static_cast<size_t>(count + std::max(extra, 0) + 1)]();
    for (int i = 0; i < count; ++i)
        vector[i] = const_cast<char*>(TempArgs[i]->Buf());
    vector[count] = nullptr;
    FreeTempArgv();
    TempArgv = vector;
    if (out)
        *out = vector;
    return count;
}

void QOR::CompactTable()
{
    MUTEXLOCK lock(TableLock);
    int kept = 0;
    for (int i = 0; i < Count; ++i) {
        if (Windows[static_cast<size_t>(i)])
            Windows[static_cast<size_t>(kept++)] = Windows[static_cast<size_t>(i)];
    }
    for (int i = kept; i < MAXWINDOWS; ++i)
        Windows[static_cast<size_t>(i)] = nullptr;
    Count = kept;
}

APP* QOR::NewWindow(int argc, char** argv, signed char flag)
{
    return Factory ? Factory(argc, argv, flag) : new APP(argc, argv, flag);
}

bool QOR::OpenWindow(int argc, char** argv, signed char flag, char const* timer)
{
    if (Count >= MAXWINDOWS) {
        // The table is full: the request is refused, never written past it.
        LOGIT("QOR::OpenWindow refused: %d windows are open\n", Count);
        STRING text = OSYS::GetStringFromResource("IDS_TOOMANYWINDOWS");
        WINTARVO::WarningMsgBox(nullptr, "QOR", text.Buf());
        return false;
    }
    std::unique_ptr<PERFORMANCETIMER> perf;
    if (timer)
        perf = std::make_unique<PERFORMANCETIMER>(timer, true);
    // The slot is the next one after the used ones: taken before the window
    // is built, so that what it asks of the table (its instance number)
    // sees the others only.
    size_t const slot = static_cast<size_t>(Count);
    APP* app = NewWindow(argc, argv, flag);
    Windows[slot] = app;
    Count = static_cast<int>(slot) + 1;
    return true;
}

int QOR::LowestFreeInstance() const
{
    for (int n = 1; n <= MAXINSTANCE; ++n) {
        bool used = false;
        for (int i = 0; i < Count && !used; ++i) {
            APP* app = Windows[static_cast<size_t>(i)];
            used = app && app->Instance() == n;
        }
        if (!used)
            return n;
    }
    return -1;
}

void QOR::CloseWindow(APP* app)
{
    bool found = false;
    for (int i = 0; i < MAXWINDOWS; ++i) {
        if (Windows[static_cast<size_t>(i)] == app) {
            Exit = app->GetExitCode();
            Windows[static_cast<size_t>(i)] = nullptr;
            found = true;
        }
    }
    CompactTable();
    if (!found)
        return;
    // The window may be the one whose handler sent this event: it is
    // deleted once its handlers have returned.
    Closing.push_back(app);
    app->Show(false);
    plat::PostTask([] {
        if (QOR* qor = GetInstance())
            qor->ReapClosed();
    });
    if (Count == 0 && (QuitWithLast || TerminateStarted))
        ScheduleQuit();
}

bool QOR::ReapClosed()
{
    for (size_t i = 0; i < Closing.size();) {
        APP* app = Closing[i];
        if (app->IsHeld()) {
            ++i;
            continue;
        }
        Closing.erase(Closing.begin() + static_cast<std::ptrdiff_t>(i));
        delete app;
    }
    return Closing.empty();
}

void QOR::ScheduleQuit()
{
    if (QuitScheduled)
        return;
    QuitScheduled = true;
    // The loop ends once every closed window is gone (their sessions end
    // their programs), and only when no window was opened meanwhile.
    plat::InstallLoopTimer(0, 10, [](plat::LoopTimerRef timer) {
        QOR* qor = GetInstance();
        if (!qor) {
            plat::RemoveLoopTimer(timer);
            return;
        }
        if (qor->Count > 0) {
            qor->QuitScheduled = false;
            plat::RemoveLoopTimer(timer);
            return;
        }
        if (!qor->ReapClosed())
            return;
        qor->QuitScheduled = false;
        plat::RemoveLoopTimer(timer);
        LOGIT("QOR: the last window closed, the program ends\n");
        plat::QuitMainLoop(0);
    });
}

void QOR::Terminate(char const* why)
{
    if (TerminateStarted)
        return;
    TerminateStarted = true;
    LOGIT("QOR::Terminate %s: every window closes without questions\n", why ? why : "");
    plat::DeclineModals();
    // The windows close from the main loop itself, once the loops of the
    // dialogs that were up have returned (their callers hold windows and
    // sessions); a loop that does not return within a few seconds is not
    // waited for.
    auto const start = std::chrono::steady_clock::now();
    plat::InstallLoopTimer(0, 10, [start](plat::LoopTimerRef timer) {
        QOR* qor = GetInstance();
        if (qor && plat::InNestedLoop() && std::chrono::steady_clock::now() - start < std::chrono::seconds(3))
            return;
        plat::RemoveLoopTimer(timer);
        if (qor)
            qor->CloseAllWindows();
    });
}

void QOR::CloseAllWindows()
{
    while (Count > 0) {
        int const before = Count;
        if (APP* app = Windows[0])
            app->CloseWithoutQuestions();
        if (Count == before)
            break; // the window was closing already
    }
    ScheduleQuit();
}

bool QOR::OnApplicationEvent(EVENTID id, STRINGARRAY* documents, void* parameter, void* reply)
{
    MUTEXLOCK lock(TableLock);
    char** vector = nullptr;
    bool result = false;
    switch (id) {
    case plat::FourCC("log0"):
    case plat::FourCC("log1"):
    case plat::FourCC("cmnt"):
    case plat::FourCC("psbr"):
        // Scripting of the application arrives with the automation layer.
        LOGIT("QOR::OnApplicationEvent scripting event %s not handled\n", plat::FourCCText(id).c_str());
        result = false;
        break;
    case APPLICATION_OPEN:
        if (Count > 0) {
            result = false;
        } else {
            int count = MakeTempArgcArgv(&vector, documents, 0);
            result = OpenWindow(count, vector, 1, "APPLICATION_OPEN");
        }
        break;
    case APPLICATION_REOPEN: {
        // On this desktop a reopen comes only from starting the program
        // again without documents: that means a new main window, also
        // beside the ones already open.
        int count = MakeTempArgcArgv(&vector, documents, 0);
        result = OpenWindow(count, vector, 0, "APPLICATION_REOPEN");
        break;
    }
    case APPLICATION_OPENDOC:
    case APPLICATION_OPENURL:
        if (documents && documents->NumItems() > 0) {
            int count = MakeTempArgcArgv(&vector, documents, 0);
            OpenWindow(count, vector, 0, nullptr);
        }
        result = true;
        break;
    case QOREVENT_NEWWINDOW: {
        char* text = static_cast<char*>(parameter);
        std::vector<char*> args(129, nullptr);
        int n = text ? TARVOAPP::MakeArgcArgv(text, nullptr, args.data(), 128) : 0;
        // The program's own path leads, as in every argument vector.
        std::vector<std::string> all;
        all.emplace_back(argc && argv && *argc > 0 && argv[0] ? argv[0] : "qor");
        for (int i = 0; i < n; ++i)
            all.emplace_back(args[static_cast<size_t>(i)]);
        std::vector<char*> items;
        for (std::string& s : all)
            items.push_back(s.data());
        items.push_back(nullptr);
        OpenWindow(static_cast<int>(all.size()), items.data(), 0, nullptr);
        free(text);
        result = true;
        break;
    }
    case QOREVENT_QUERYWINDOWS: {
        auto* value = static_cast<int32_t*>(parameter);
        if (value) {
            if (*value == 0)
                *value = Count;
            else if (*value == -1)
                *value = LowestFreeInstance();
        }
        result = true;
        break;
    }
    case QOREVENT_CLOSEWINDOW:
        CloseWindow(static_cast<APP*>(parameter));
        result = true;
        break;
    case APPLICATION_TERMINATE:
        Terminate(documents && documents->NumItems() > 0 ? (*documents)[0]->Buf() : "");
        result = true;
        break;
    case APPLICATION_QUIT: {
        if (Count == 0) {
            result = false;
            break;
        }
        // Each window is asked in turn; one that agrees leaves the table at
        // once, so the next one moves into its slot. The first refusal ends
        // the walk.
        result = false;
        int i = 0;
        while (i < Count) {
            APP* app = Windows[static_cast<size_t>(i)];
            int const before = Count;
            signed char agreed = 0;
            if (app)
                app->ProcessEvent(8899, 0, reinterpret_cast<char const*>(&agreed));
            if (!agreed) {
                result = true;
                break;
            }
            if (Count == before)
                ++i; // agreed without leaving: ask the next
        }
        break;
    }
    default:
        LOGIT("QOR::OnApplicationEvent received unexpected event %s\n", plat::FourCCText(id).c_str());
        result = false;
        break;
    }
    (void)reply;
    if (vector)
        FreeTempArgv();
    return result;
}

bool QOR::OnCommand(uint32_t id)
{
    if (Count > 0)
        return false;
    if (id == 8420) {
        char* text = strdup("");
        DARWINDOW::DeliverMessage(false, nullptr, nullptr, APPLICATION_MESSAGE, QOREVENT_NEWWINDOW,
                                  reinterpret_cast<MSGWORD>(text), 0);
        return true;
    }
    return false;
}

bool QOR::SavePreferences()
{
    if (REGISTRY::FlushAll())
        return true;
    std::string const failure = plat::TakePrefsFailure();
    LOGIT("QOR::SavePreferences failed: %s\n", failure.c_str());
    if (!PrefsFailureShown && !failure.empty()) {
        PrefsFailureShown = true;
        STRING text;
        text.Format(OSYS::GetStringFromResource("IDS_PREFS_NOT_WRITTEN").Buf(), failure.c_str());
        WINTARVO::ErrorMsgBox(nullptr, "QOR", text.Buf());
    }
    return false;
}

// ---------------------------------------------------------------------------
// The program's main function

namespace {

// "--help", "-h" and "--version", as every program on the desktop answers
// them: the text on the standard output, and no window.
enum class INFOSWITCH { NONE, HELP, VERSION };

INFOSWITCH InfoSwitch(int argc, char** argv)
{
    INFOSWITCH found = INFOSWITCH::NONE;
    for (int i = 1; i < argc && argv[i]; ++i) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0)
            return INFOSWITCH::HELP;
        if (strcmp(argv[i], "--version") == 0)
            found = INFOSWITCH::VERSION;
    }
    return found;
}

// Prints the usage or the version; the exit code.
int AnswerInfoSwitch(INFOSWITCH which, STRING const& version)
{
    // The name the executable has (argv[0] is its folder here).
    std::string name = plat::ExecutablePath();
    name = name.substr(name.rfind('/') + 1);
    if (name.empty())
        name = "qor";
    STRING text;
    if (which == INFOSWITCH::HELP)
        text.Format(OSYS::GetStringFromResource("IDS_USAGE").Buf(), name.c_str());
    else
        text.Format(OSYS::GetStringFromResource("IDS_VERSION").Buf(), name.c_str(), version.Buf());
    std::string const out = WSTRING(text).AsUtf8().Buf();
    bool const written = fwrite(out.data(), 1, out.size(), stdout) == out.size();
    return fflush(stdout) == 0 && written ? 0 : 1;
}

} // namespace

int AppMain(int argc, char** argv, char**)
{
    STRING version(gVersion);
    version.Append(gSubVersion);
    char const* const program = argc > 0 && argv[0] ? argv[0] : "qor";
    INFOSWITCH const info = InfoSwitch(argc, argv);
    if (info != INFOSWITCH::NONE) {
        TARVOAPP::LoadLanguageDll(STRING(program), STRING("qor"), version);
        return AnswerInfoSwitch(info, version);
    }
    if (!TARVOAPP::TestArg("U"))
        LOGITARG("/CRASHDUMP:3");
    gPreFlight.Phase1();
    TARVOAPP::LoadLanguageDll(STRING(program), STRING("qor"), version);
    TARVOAPP::InitialLogit(OSYS::GetStringFromResource("IDS_TARVOAPPNAME").Buf(), version.Buf(), gCompiled);
    // The preferences are written once, when the program ends, and only
    // what changed: not at every value the start stores.
    REGISTRY::DeferWrites(true);
    int code = 0;
    {
        QOR app(&argc, argv);
        app.Run();
        code = app.ExitCode();
        app.SavePreferences();
        // Windows closed in the last turns are deleted before the object
        // that owned them goes; their handlers have all returned by now.
        auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!app.ReapClosed() && std::chrono::steady_clock::now() < until)
            plat::ProcessPendingEvents(64);
    }
    LOGIT("AppMain returns %d\n", code);
    return code;
}
