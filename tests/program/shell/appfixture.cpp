#include "tests/program/shell/appfixture.h"

#include "program/session/sessionrunner.h"

#include "platform/events/application.h"
#include "platform/events/modal.h"
#include "platform/events/queue.h"
#include "platform/events/timers.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace apptest {

namespace {

QOR* gQor = nullptr;
char gName[] = "qor-test";
char* gArgv[] = {gName, nullptr};
int gArgc = 1;

// Assertions of the program are kept for the test to look at; one nobody
// expected fails the test (TearDown).
std::vector<std::string>& Assertions()
{
    static std::vector<std::string> list;
    return list;
}

bool KeepAssertion(char const*, char const* question)
{
    Assertions().emplace_back(question ? question : "");
    return true;
}

class Environment : public ::testing::Environment {
public:
    void SetUp() override
    {
        SetAssertQuestionHook(&KeepAssertion);
        // The tabs run a plain shell, the same on every machine.
        setenv("SHELL", "/bin/sh", 1);
        setenv("PS1", "$ ", 1);
        TARVOAPP::InitArgsLoggingAndLocale(gArgc, gArgv, LOCALE_ENGLISH);
        gPreFlight.Phase1();
        TARVOAPP::LoadLanguageDll(STRING(gName), STRING("qor"), STRING(gVersion));
        gQor = new QOR(&gArgc, gArgv);
        plat::SetTestMode(true, 5000);
        gQor->SetQuitWithLastWindow(false);
        gQor->SetWindowFactory([](int argc, char** argv, signed char flag) -> APP* {
            return new TESTAPP(argc, argv, flag);
        });
    }
    void TearDown() override
    {
        delete gQor;
        gQor = nullptr;
    }
};

[[maybe_unused]] ::testing::Environment* const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new Environment);

using Clock = std::chrono::steady_clock;

} // namespace

QOR& AppTest::Qor()
{
    return *gQor;
}

std::vector<std::string> AppTest::TakeAssertions()
{
    std::vector<std::string> out;
    out.swap(Assertions());
    return out;
}

void AppTest::TearDown()
{
    for (std::string const& a : TakeAssertions())
        ADD_FAILURE() << "an assertion of the program:\n" << a;
    gUnattended = 0;
    plat::ClearModalResponders();
    while (Qor().WindowCount() > 0)
        Close(Qor().Window(0));
    Pump([] { return Qor().ReapClosed(); }, 5000);
}

TESTAPP* AppTest::Open(char const* args)
{
    int const before = Qor().WindowCount();
    DARWINDOW::DeliverMessage(true, nullptr, nullptr, APPLICATION_MESSAGE, QOREVENT_NEWWINDOW,
                              reinterpret_cast<MSGWORD>(strdup(args ? args : "")), 0);
    if (Qor().WindowCount() != before + 1)
        return nullptr;
    return static_cast<TESTAPP*>(Qor().Window(before));
}

void AppTest::Close(APP* app)
{
    if (!app)
        return;
    DARWINDOW::DeliverMessage(true, nullptr, nullptr, APPLICATION_MESSAGE, QOREVENT_CLOSEWINDOW,
                              reinterpret_cast<MSGWORD>(app), 0);
    Pump([] { return Qor().ReapClosed(); }, 5000);
}

bool AppTest::Pump(std::function<bool()> const& cond, int ms)
{
    auto const end = Clock::now() + std::chrono::milliseconds(ms);
    while (!cond()) {
        if (Clock::now() > end)
            return false;
        if (plat::ProcessPendingEvents(1024) == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void AppTest::Spin(int ms)
{
    auto const end = Clock::now() + std::chrono::milliseconds(ms);
    Pump([&] { return Clock::now() > end; }, ms + 1000);
}

void AppTest::Type(SESSION& session, std::wstring const& text)
{
    session.FeedKeys(text.c_str(), static_cast<int>(text.size()), 0);
}

bool AppTest::Shows(SESSION& session, std::string const& text)
{
    int cols = 0, rows = 0;
    session.Screen.GetWinSize(&cols, &rows);
    for (int y = 0; y < rows; ++y) {
        if (ScreenRowText(session.Screen, y).find(text) != std::string::npos)
            return true;
    }
    return false;
}

bool AppTest::Run(SESSION& session, std::string const& command, std::string const& expect)
{
    std::wstring wide(command.begin(), command.end());
    Type(session, wide + L"\r");
    return Pump([&] { return Shows(session, expect); }, 10000);
}

} // namespace apptest
