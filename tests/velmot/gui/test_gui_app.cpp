// The application object: application events from every source, the
// program's own application messages, the start's documents and the
// hand-over to a running instance, and the assertion question.
#include "tests/support/testutil.h"
#include "tests/velmot/core/assertrecorder.h"
#include "tests/velmot/gui/gui_fixture.h"

#include "velmot/core/stringarray.h"

#include "platform/events/appevents.h"

#include <csignal>
#include <future>
#include <unistd.h>

using namespace guifix;

namespace {

constexpr plat::OSType kOdoc = plat::FourCC("odoc");
constexpr plat::OSType kGurl = plat::FourCC("GURL");
constexpr plat::OSType kOapp = plat::FourCC("oapp");
constexpr plat::OSType kRapp = plat::FourCC("rapp");
constexpr plat::OSType kQuit = plat::FourCC("quit");

class AppTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        plat::ClearModalResponders();
        plat::ProcessPendingEvents(100000);
    }
};

TEST_F(AppTest, DocumentsAndUrlsReachTheHandlerWithTheirItemsInOrder)
{
    TESTAPP app;
    // Paths longer than 256 bytes and paths that are not ASCII arrive
    // whole; the latter keep their bytes and say they are UTF-8.
    std::string const longPath = "/tmp/" + std::string(300, 'x') + ".qor";
    std::string const umlaut = "/home/j\xc3\xbcrgen/b\xc3\xbcro.qor";
    std::vector<plat::Status> answers;
    auto done = [&](plat::Status s) { answers.push_back(s); };
    plat::InjectAppEvent(kOdoc, {"/a/one.qor", umlaut, longPath}, done);
    ASSERT_TRUE(PumpUntil([&] { return answers.size() == 1; }));
    EXPECT_EQ(app.codepages, (std::vector<int>{1252, UNICODE_CPUTF8, 1252}));
    plat::InjectAppEvent(kGurl, {"ssh://user@host"}, done);
    ASSERT_TRUE(PumpUntil([&] { return answers.size() == 2; }));
    ASSERT_EQ(app.events.size(), 2u);
    EXPECT_EQ(app.events[0], "odoc /a/one.qor|" + umlaut + "|" + longPath);
    EXPECT_EQ(app.events[1], "GURL ssh://user@host");
    EXPECT_EQ(answers, (std::vector<plat::Status>{plat::kNoErr, plat::kNoErr}));
}

TEST_F(AppTest, ADeclinedEventIsReportedAndTheLoopGoesOn)
{
    TESTAPP app;
    app.answers[kOapp] = false;
    plat::Status answer = 1;
    plat::InjectAppEvent(kOapp, {}, [&](plat::Status s) { answer = s; });
    ASSERT_TRUE(PumpUntil([&] { return answer != 1; }));
    EXPECT_EQ(answer, plat::kErrAppEventNotHandled);
    EXPECT_EQ(app.events, std::vector<std::string>{"oapp"});
}

TEST_F(AppTest, AQuitAnsweredFalseEndsRunAndOneAnsweredTrueDoesNot)
{
    for (bool agree : {false, true}) {
        SCOPED_TRACE(agree ? "answered true" : "answered false");
        TESTAPP app;
        app.answers[kQuit] = agree;
        bool runningAfterQuit = false;
        plat::LoopTimerRef later = nullptr;
        app.after = [&](plat::OSType id) {
            if (id == kOapp)
                plat::RequestQuit();
            // A loop timer fires only while the loop still runs after the
            // quit.
            if (id == kQuit)
                later = plat::InstallLoopTimer(20, 0, [&](plat::LoopTimerRef) {
                    runningAfterQuit = true;
                    plat::QuitMainLoop(0);
                });
        };
        bool watchdog = false;
        plat::LoopTimerRef guard = plat::InstallLoopTimer(10000, 0, [&](plat::LoopTimerRef) {
            watchdog = true;
            plat::QuitMainLoop(1);
        });
        EXPECT_EQ(app.Run(), 0);
        plat::RemoveLoopTimer(guard);
        plat::RemoveLoopTimer(later);
        EXPECT_FALSE(watchdog);
        EXPECT_EQ(app.events, (std::vector<std::string>{"oapp", "quit"}));
        EXPECT_EQ(runningAfterQuit, agree);
    }
}

// SIGTERM and SIGHUP reach the application as 'term' with the signal's
// name; one the application does not take ends the event loop.
TEST_F(AppTest, SigtermAndSighupBecomeATerminateEvent)
{
    for (int sig : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        // A process that took one such signal is ending and ignores the
        // next: each round starts afresh.
        plat::RemoveTerminationHandler();
        ASSERT_TRUE(plat::InstallTerminationHandler());
        TESTAPP app;
        app.answers[plat::FourCC("term")] = false;
        app.after = [sig](plat::OSType id) {
            if (id == kOapp)
                kill(getpid(), sig);
        };
        bool watchdog = false;
        plat::LoopTimerRef guard = plat::InstallLoopTimer(10000, 0, [&](plat::LoopTimerRef) {
            watchdog = true;
            plat::QuitMainLoop(1);
        });
        app.Run();
        plat::RemoveLoopTimer(guard);
        EXPECT_FALSE(watchdog);
        EXPECT_EQ(app.events,
                  (std::vector<std::string>{"oapp", sig == SIGTERM ? "term SIGTERM" : "term SIGHUP"}));
    }
}

TEST_F(AppTest, ASecondApplicationIsReportedAndBecomesTheInstance)
{
    testutil::ASSERTRECORDER rec;
    auto first = std::make_unique<TESTAPP>();
    EXPECT_EQ(APPLICATION::GetInstance(), first.get());
    auto second = std::make_unique<TESTAPP>();
    EXPECT_EQ(APPLICATION::GetInstance(), second.get());
    auto reports = rec.Take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Condition, "APPLICATION::pCurrentInstance==NULL");
    second.reset();
    EXPECT_EQ(APPLICATION::GetInstance(), nullptr);
    first.reset();
    EXPECT_EQ(rec.Take().size(), 1u) << "the first one is no longer the instance";
}

TEST_F(AppTest, AnApplicationMessageFromAWorkerComesBackWithItsResult)
{
    TESTAPP app;
    app.answers[plat::FourCC("AQNW")] = false;
    int payload = 0;
    MSGWORD accepted = 99, declined = 99;
    std::thread worker([&] {
        accepted = DARWINDOW::DeliverMessage(true, nullptr, nullptr, APPLICATION_MESSAGE, plat::FourCC("AENW"),
                                             reinterpret_cast<MSGWORD>(&payload), 0);
        declined = DARWINDOW::DeliverMessage(true, nullptr, nullptr, APPLICATION_MESSAGE, plat::FourCC("AQNW"), 0, 0);
        plat::QuitMainLoop(0);
    });
    RunLoopBounded();
    worker.join();
    EXPECT_EQ(accepted, 1u);
    EXPECT_EQ(declined, 0u);
    ASSERT_EQ(app.events.size(), 2u);
    EXPECT_EQ(app.events[0], "AENW <null>");
    EXPECT_EQ(app.words[0], &payload);
}

// What the program was started with becomes the first events of Run.
TEST_F(AppTest, TheStartsFilesAndUrlsBecomeTheFirstEvents)
{
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("one.qor"), "x");
    testutil::WriteFile(dir.file("two words.qrx"), "x");
    STRING const savedWorkDir = TARVOAPP::GetGlobalWorkDir();
    TARVOAPP::GetGlobalWorkDir() = dir.path().c_str(); // where the program was started
    std::string const one = dir.file("one.qor");
    struct Case {
        char const* what;
        std::vector<std::string> args;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"nothing", {}, {"oapp"}},
        {"a switch only", {"/TELNET:host"}, {"oapp"}},
        {"files, a relative one included, and a URL",
         {one, "/LOGIT", "two words.qrx", "ssh://host", "missing.qor"},
         {"odoc " + one + "|" + dir.file("two words.qrx"), "GURL ssh://host"}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> storage{"guitest"};
        storage.insert(storage.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (std::string& s : storage)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        int argc = static_cast<int>(storage.size());
        TESTAPP app(&argc, argv.data());
        app.after = [&](plat::OSType) {
            if (app.events.size() == c.events.size())
                plat::QuitMainLoop(0);
        };
        plat::LoopTimerRef guard = plat::InstallLoopTimer(10000, 0, [](plat::LoopTimerRef) { plat::QuitMainLoop(1); });
        app.Run();
        plat::RemoveLoopTimer(guard);
        EXPECT_EQ(app.events, c.events);
    }
    TARVOAPP::GetGlobalWorkDir() = savedWorkDir;
}

// A second start of the program hands its files and URLs, or a plain
// reopen, over to the running instance and ends.
TEST_F(AppTest, ASecondStartHandsItsDocumentsOverToTheRunningInstance)
{
    testutil::TempDir dir;
    std::string const doc = dir.file("handed.qor");
    testutil::WriteFile(doc, "x");
    // A desktop hands documents over as file:// addresses (%U).
    std::string const spaced = dir.file("two words.qor");
    testutil::WriteFile(spaced, "y");
    std::string const address = "file://" + dir.path() + "/two%20words.qor";
    std::string const probe = std::string(getenv("QOR_TEST_BIN_DIR")) + "/gui_instance_probe";
    TESTAPP app;
    std::vector<std::string> outputs;
    plat::LoopTimerRef starter = plat::InstallLoopTimer(0, 0, [&](plat::LoopTimerRef) {
        for (std::vector<std::string> args : {std::vector<std::string>{probe, doc, address, "telnet://far"},
                                              std::vector<std::string>{probe}}) {
            std::string out;
            int rc = testutil::RunProgram(args, &out);
            outputs.push_back(std::to_string(rc) + " " + out);
        }
    });
    app.after = [&](plat::OSType id) {
        if (id == kRapp)
            plat::QuitMainLoop(0);
    };
    plat::LoopTimerRef guard = plat::InstallLoopTimer(20000, 0, [](plat::LoopTimerRef) { plat::QuitMainLoop(1); });
    app.Run();
    plat::RemoveLoopTimer(guard);
    plat::RemoveLoopTimer(starter);
    EXPECT_EQ(outputs, (std::vector<std::string>{"0 handed over\n", "0 handed over\n"}));
    EXPECT_EQ(app.events,
              (std::vector<std::string>{"oapp", "odoc " + doc + "|" + spaced, "GURL telnet://far", "rapp"}));
}

TEST_F(AppTest, TheAssertionQuestionIsAskedWithTheToolkitsAlert)
{
    ASSERTQUESTIONHOOK const saved = SetAssertQuestionHook(nullptr);
    {
        TESTAPP app;
        AlertAnswers yes(ALERTBUTTON_DEFAULT, 2);
        EXPECT_EQ(AssertMsg(0, "left==right", "file.cpp", 12, "on the main thread", false), 1);
        // From a worker the alert runs on the main thread, which runs its
        // loop meanwhile.
        std::future<int> fromWorker = std::async(std::launch::async, [] {
            int r = AssertMsg(0, "up==down", "file.cpp", 34, "from a worker", false);
            plat::QuitMainLoop(0);
            return r;
        });
        RunLoopBounded();
        EXPECT_EQ(fromWorker.get(), 1);
        ASSERT_EQ(yes.texts.size(), 2u);
        EXPECT_NE(yes.texts[0].find("Condition: left==right"), std::string::npos) << yes.texts[0];
        EXPECT_NE(yes.texts[1].find("Add. Info: from a worker"), std::string::npos) << yes.texts[1];
        EXPECT_EQ(yes.buttons[0], (std::vector<std::string>{"Yes", "No"}));
    }
    EXPECT_EQ(SetAssertQuestionHook(saved), nullptr) << "the application removes its question again";
}

} // namespace
