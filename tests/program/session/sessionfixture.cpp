#include "tests/program/session/sessionfixture.h"

#include "program/session/sessionrunner.h"
#include "program/settings/settingshost.h"
#include "velmot/core/workdir.h"

#include "platform/events/queue.h"
#include "velmot/core/unicode.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace sessiontest {

namespace {

class PlatformEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(HEADLESSSESSION::StartPlatform()); }
};

} // namespace

void UsePlatform()
{
    static bool added = [] {
        ::testing::AddGlobalTestEnvironment(new PlatformEnvironment);
        return true;
    }();
    (void)added;
}

// ---------------------------------------------------------------------------

int RECORDINGHOST::ProcessEvent(int event, int arg, char const* text)
{
    Lines.push_back("event " + std::to_string(event) + (arg ? " " + std::to_string(arg) : "") +
                    (text ? std::string(" ") + text : ""));
    return 1;
}

int RECORDINGHOST::PostEvent(int event, int arg, char const* text)
{
    Lines.push_back("postevent " + std::to_string(event) + (arg ? " " + std::to_string(arg) : "") +
                    (text ? std::string(" ") + text : ""));
    return 1;
}

int RECORDINGHOST::MenuIdFromName(char const* name)
{
    auto it = MenuIds.find(name ? name : "");
    return it == MenuIds.end() ? 0 : it->second;
}

void RECORDINGHOST::MenuCheck(int id, bool on)
{
    if (on)
        Checked.insert(id);
    else
        Checked.erase(id);
}

void RECORDINGHOST::EnableMenuEntry(int id, int enable, bool)
{
    if (enable)
        Disabled.erase(id);
    else
        Disabled.insert(id);
}

void RECORDINGHOST::SetSessionTabBlinking(SESSION&, bool on)
{
    Lines.push_back(on ? "blink on" : "blink off");
}

void RECORDINGHOST::SetLed(int led, bool on, int)
{
    if (led != 2 && led != 3) // the traffic lights come and go by themselves
        Lines.push_back("led " + std::to_string(led) + (on ? " on" : " off"));
}

void RECORDINGHOST::ErrorMsg(char const* text)
{
    Lines.push_back(std::string("error ") + (text ? text : ""));
}

int RECORDINGHOST::WarningMsg(char const* text)
{
    Lines.push_back(std::string("warning ") + (text ? text : ""));
    return 1;
}

bool RECORDINGHOST::YesNoRequest(char const* caption, char const* text)
{
    Lines.push_back(std::string("question ") + (caption ? caption : "") + "|" + (text ? text : ""));
    if (DuringQuestion)
        DuringQuestion();
    bool answer = Answers.empty() ? true : Answers.front();
    if (!Answers.empty())
        Answers.pop_front();
    return answer;
}

bool RECORDINGHOST::AreYouSureRequest(char const* text)
{
    return YesNoRequest("sure", text);
}

bool RECORDINGHOST::StartProgram(std::vector<std::string> const& argv)
{
    std::string line = "start";
    for (size_t i = 0; i < argv.size(); ++i)
        line += (i ? "|" : " ") + argv[i];
    Lines.push_back(line);
    return true;
}

bool RECORDINGHOST::OpenDocument(char const* target)
{
    Lines.push_back(std::string("open ") + (target ? target : ""));
    return true;
}

void RECORDINGHOST::ShowNotification(SESSION&, char const* text, int ms)
{
    Lines.push_back(text ? "notify " + std::string(text) + " " + std::to_string(ms) : "notify off");
}

void RECORDINGHOST::SetSessionTabNameWide(SESSION&, wchar_t const* name)
{
    std::string text;
    for (wchar_t const* p = name; p && *p; ++p)
        text += *p < 128 ? static_cast<char>(*p) : '?';
    Lines.push_back("tab " + text);
}

void RECORDINGHOST::SetSessionTabTraffic(SESSION&, int on, int lines)
{
    Lines.push_back("traffic " + std::to_string(on) + " " + std::to_string(lines));
}

void RECORDINGHOST::FileError(char const* path)
{
    Lines.push_back(std::string("fileerror ") + (path ? path : "") + ": " + strerror(errno));
}

std::vector<std::string> RECORDINGHOST::AskFilenames(char const* title, char const*)
{
    Lines.push_back(std::string("pick ") + (title ? title : ""));
    std::vector<std::string> out;
    while (!Picks.empty()) {
        out.push_back(Picks.front());
        Picks.pop_front();
    }
    return out;
}

STRING RECORDINGHOST::AskFilename(char const* title, char const*, WINDOW const*)
{
    Lines.push_back(std::string("pick ") + (title ? title : ""));
    std::string answer;
    if (!Picks.empty()) {
        answer = Picks.front();
        Picks.pop_front();
    }
    return STRING(answer.c_str());
}

STRING RECORDINGHOST::AskSaveAsFilename(char const* title, char const* proposal, WINDOW const* owner)
{
    return AskFilename(title, proposal, owner);
}

std::vector<std::string> RECORDINGHOST::Take(std::string const& prefix)
{
    std::vector<std::string> out, rest;
    for (auto& line : Lines) {
        if (line.rfind(prefix, 0) == 0)
            out.push_back(line);
        else
            rest.push_back(line);
    }
    Lines.swap(rest);
    if (prefix.empty())
        Lines.clear();
    return out;
}

// ---------------------------------------------------------------------------

void TESTSESSION::StartWindowTimer(int id, int ms)
{
    if (id == TIMER_SENDKEYS) {
        Timers.emplace_back(id, ms);
        return;
    }
    SESSION::StartWindowTimer(id, ms);
}

void TESTSESSION::DoBeep(int hz, int ms, int count, int pause)
{
    Beeps.push_back("beep " + std::to_string(hz) + " " + std::to_string(ms) + " " + std::to_string(count) + " " +
                    std::to_string(pause));
    if (PlayTones)
        SESSION::DoBeep(hz, ms, count, pause);
}

int TESTSESSION::CallHook(int hook, void* a, void* b)
{
    if (hook == 11 && Hook11)
        Hook11(static_cast<wchar_t*>(a), static_cast<int*>(b));
    return 0;
}

// ---------------------------------------------------------------------------

struct SessionTest::SETTINGSOWNER : SETTINGSHOST {
    SETTINGSOWNER() { PROGRAMSETTINGS::AdminDefaults(admin); }
    ADMINOPTS& Admin() override { return admin; }
    ADMINOPTS admin{};
    PROGRAMSETTINGS Settings{*this};
};

SessionTest::SessionTest()
    : Stage({{TennickBundle(), "tennick.so"}, {YelbrinBundle(), "yelbrin.so"}, {TestEmuBundle(), "pindrel.so"}})
{
}

SessionTest::~SessionTest() = default;

void SessionTest::SetUp()
{
    ForgetDictionary();
    WORKDIR::SetCurrent(Work.path().c_str());
    mkdir(Work.file("Options").c_str(), 0755);
    mkdir(Work.file("Logs").c_str(), 0755);
    Owner = std::make_unique<SETTINGSOWNER>();
    Owner->Settings.Init();
    snprintf(Owner->Settings.data.OptsPath, sizeof Owner->Settings.data.OptsPath, "Options");
    snprintf(Owner->Settings.data.CapturePath, sizeof Owner->Settings.data.CapturePath, "Logs");
    Parent = std::make_unique<WINDOW>(WINDOWSTYLE_DOCUMENT, "session test", 0, 0, 800, 480);
}

void SessionTest::TearDown()
{
    Close();
    Parent.reset();
    Owner.reset();
    ForgetDictionary();
}

PROGRAMSETTINGS& SessionTest::ProgramSettings()
{
    return Owner->Settings;
}

bool SessionTest::Open(int device, int emulation, char const* parm, int options)
{
    S = new TESTSESSION(Host, Owner->Settings, Parent->GetClientParent(), RECT{0, 0, 800, 480}, options);
    SESSIONPROFILEDATA& p = S->Prof.data;
    p.ActiveDevice = device;
    p.ActiveEmulation = emulation;
    p.Dynamic = 0;
    p.JumpScroll = 2;
    if (parm)
        snprintf(p.DeviceOpts[device], sizeof p.DeviceOpts[0], "%s", parm);
    S->SetBackgroundTab(false);
    S->TermInit();
    S->TermInit2(nullptr, nullptr);
    S->RemakeAll();
    Peer = -1;
    Injected = 0;
    if (device == 5 && S->CommLayer.Device()) {
        char answer[64] = {};
        S->CommLayer.HandleDeviceCommand("LOOPBACK FD", answer, sizeof answer, nullptr);
        Peer = atoi(answer);
    }
    Host.Lines.clear();
    return S->CommLayer.Device() && S->EmuLayer.UpAndRunning();
}

void SessionTest::Close()
{
    if (!S)
        return;
    SESSION::Retire(S);
    S = nullptr;
    Spin(30);
}

bool SessionTest::Pump(std::function<bool()> const& cond, int ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        if (plat::ProcessPendingEvents(1000) == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    return true;
}

void SessionTest::Spin(int ms)
{
    Pump([] { return false; }, ms);
}

void SessionTest::Inject(std::string const& bytes)
{
    ASSERT_GE(Peer, 0);
    size_t done = 0;
    // The device is full while the road does not take: bounded.
    auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (done < bytes.size()) {
        ssize_t n = write(Peer, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            Injected += static_cast<uint64_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            ASSERT_LT(std::chrono::steady_clock::now(), until) << "the road stopped taking";
            plat::ProcessPendingEvents(1000);
        } else {
            FAIL() << "write: " << strerror(errno);
        }
    }
}

std::string SessionTest::Sent()
{
    return LoopbackSent(S->CommLayer);
}

bool SessionTest::WaitShown(int ms)
{
    return Pump(
        [&] {
            return S->CommLayer.Counter(0) >= Injected && S->CommLayer.QueryNumAvail() == 0 && !S->HasVioBracket();
        },
        ms);
}

std::string SessionTest::Row(int y)
{
    return ScreenRowText(S->Screen, y);
}

std::string SessionTest::Custom(char const* text)
{
    std::string answer(1 << 20, '\0');
    S->EmuLayer.HandleCustomEvent(text, answer.data(), static_cast<int>(answer.size()), nullptr);
    answer.resize(strlen(answer.c_str()));
    return answer;
}

} // namespace sessiontest
