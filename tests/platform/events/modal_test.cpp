// Threads, loops and modal services over Qt: sends from workers, modal
// loops, alerts and their responders, application events, timers.
#include "platform/events/appevents.h"
#include "platform/events/modal.h"
#include "platform/services/dispatch.h"
#include "tests/platform/events/qt_fixture.h"
#include "tests/support/workers.h"

#include <gmock/gmock.h>

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

#include <atomic>
#include <memory>
#include <thread>

using namespace plat;
using qtfix::QtTest;
using ::testing::ElementsAre;

namespace {

constexpr OSType kClassTest = FourCC("TEST");
constexpr EventType kTestType{kClassTest, 1};
constexpr OSType kParamAnswer = FourCC("VRET");

using LoopTest = QtTest;

TEST_F(LoopTest, SendFromAWorkerRunsOnTheMainThreadAndReturnsTheAnswer)
{
    WindowRef w = MakeWindow(100, 100, false);
    std::thread::id ranOn;
    InstallHandler(WindowTarget(w), {&kTestType, 1}, [&](HandlerCall&, Event& e) {
        ranOn = std::this_thread::get_id();
        e.SetWord(kParamAnswer, e.GetWord(kParamAnswer) + 1);
        return kNoErr;
    });
    Status status = -1;
    uintptr_t answer = 0;
    testutil::WORKER worker([&] {
        EventPtr e = Event::Create(kClassTest, 1);
        e->SetWord(kParamAnswer, 41);
        status = SendEvent(*e, WindowTarget(w), 0, testutil::kWorkerSendMs);
        answer = e->GetWord(kParamAnswer);
        QuitMainLoop();
    });
    RunLoopBounded();
    EXPECT_TRUE(worker.Join());
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(status, kNoErr);
    EXPECT_EQ(answer, 42u);
}

TEST_F(LoopTest, SendToAWindowDisposedBeforeDeliveryIsReleased)
{
    WindowRef w = MakeWindow(100, 100, false);
    const TargetRef target = WindowTarget(w);
    bool ran = false;
    InstallHandler(target, {&kTestType, 1}, [&](HandlerCall&, Event&) {
        ran = true;
        return kNoErr;
    });
    std::atomic<bool> queued{false};
    Status status = kNoErr;
    uintptr_t answer = 99;
    testutil::WORKER worker([&] {
        EventPtr e = Event::Create(kClassTest, 1);
        queued = true;
        status = SendEvent(*e, target, 0, testutil::kWorkerSendMs);
        answer = e->GetWord(kParamAnswer);
    });
    // The send waits in the queue; the window goes first.
    EXPECT_TRUE(testutil::WaitUntil([] { return PendingCount() > 0; }));
    DisposeWindow(w);
    ProcessPendingEvents(100);
    EXPECT_TRUE(worker.Join());
    EXPECT_FALSE(ran);
    EXPECT_EQ(status, kErrTargetGone);
    EXPECT_EQ(answer, 0u); // no answer word: the toolkit reads 0

    // Already gone: answered at once.
    testutil::WORKER([&] {
        EventPtr e = Event::Create(kClassTest, 1);
        status = SendEvent(*e, target, 0, testutil::kWorkerSendMs);
    }).Join();
    EXPECT_EQ(status, kErrTargetGone);
}

TEST_F(LoopTest, SendsAreServedWhileAWindowRunsItsModalLoop)
{
    WindowSpec spec;
    spec.bounds = {300, 300, 500, 400};
    WindowRef dialog = CreateWindow(spec); // hidden: the run shows it as modal
    WindowRef main = MakeWindow(300, 200, false);
    bool inModal = false;
    InstallHandler(WindowTarget(main), {&kTestType, 1}, [&](HandlerCall&, Event&) {
        inModal = IsModalLoopRunning(reinterpret_cast<uintptr_t>(dialog)) &&
                  QApplication::activeModalWidget() == bridge::WidgetOfWindow(dialog);
        return kNoErr;
    });
    std::unique_ptr<testutil::WORKER> worker;
    AddModalResponder(kModalWindow, [&](const ModalRequest& req, ModalAnswer&) {
        EXPECT_EQ(req.window, dialog);
        worker = std::make_unique<testutil::WORKER>([&] {
            EventPtr e = Event::Create(kClassTest, 1);
            EXPECT_EQ(SendEvent(*e, WindowTarget(main), 0, testutil::kWorkerSendMs), kNoErr);
            PostTask([dialog] { QuitAppModalLoopForWindow(dialog); });
        });
        return true;
    });
    EXPECT_EQ(RunAppModalLoopForWindow(dialog), kNoErr);
    ASSERT_TRUE(worker);
    EXPECT_TRUE(worker->Join());
    EXPECT_TRUE(inModal);
    // The window and its modality go with the loop.
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_EQ(bridge::WidgetOfWindow(dialog)->windowModality(), Qt::NonModal);
}

TEST_F(LoopTest, DisposingTheWindowEndsItsModalLoop)
{
    WindowRef dialog = MakeWindow(200, 100, false);
    AddModalResponder(kModalWindow, [](const ModalRequest& req, ModalAnswer&) {
        PostTask([w = req.window] { DisposeWindow(w); });
        return true;
    });
    EXPECT_EQ(RunAppModalLoopForWindow(dialog), kNoErr);
    EXPECT_FALSE(IsWindowValid(dialog));
    EXPECT_EQ(RunAppModalLoopForWindow(dialog), kErrTargetGone);
}

TEST_F(LoopTest, AModalLoopWithoutResponderEndsInTestMode)
{
    SetTestMode(true, 100);
    WindowRef dialog = MakeWindow(200, 100, false);
    EXPECT_EQ(RunAppModalLoopForWindow(dialog), kNoErr);
    SetTestMode(true, 5000);
}

// A program that ends declines its modals: the ones up (here an alert
// inside a modal window's run) end as cancelled, new ones at once.
TEST_F(LoopTest, DeclinedModalsEndAsCancelledAndNewOnesAtOnce)
{
    SetTestMode(false); // nothing but the declining ends them
    WindowRef dialog = MakeWindow(200, 100, false);
    int inner = 0;
    AddModalResponder(kModalWindow, [&](const ModalRequest&, ModalAnswer&) {
        PostTask([&] {
            InstallLoopTimer(50, 0, [](LoopTimerRef) { DeclineModals(); });
            AlertSpec spec;
            spec.buttons = {"Yes", "No"};
            inner = RunAlert(spec);
        });
        return true;
    });
    // Should the declining fail, the test ends them itself.
    LoopTimerRef guard = InstallLoopTimer(5000, 0, [dialog](LoopTimerRef) {
        ADD_FAILURE() << "the modals were still up";
        if (QWidget* w = QApplication::activeModalWidget())
            w->close();
        QuitAppModalLoopForWindow(dialog);
    });
    EXPECT_EQ(RunAppModalLoopForWindow(dialog), kNoErr);
    EXPECT_EQ(inner, 2) << "the alert ended with its cancel button";
    EXPECT_TRUE(ModalsDeclined());

    AddModalResponder(kModalAlert, [](const ModalRequest&, ModalAnswer& a) {
        a.choice = 1;
        return true;
    });
    AlertSpec spec;
    spec.buttons = {"Yes", "No"};
    EXPECT_EQ(RunAlert(spec), 2) << "a new alert is cancelled at once";
    EXPECT_EQ(RunAppModalLoopForWindow(MakeWindow(200, 100, false)), kNoErr) << "a new modal run ends at once";
    RemoveLoopTimer(guard);
    ClearModalResponders();
    DeclineModals(false);
    SetTestMode(true, 5000);
}

TEST_F(LoopTest, AlertFromAWorkerIsShownOnTheMainThreadAndAnswered)
{
    std::vector<std::string> shown;
    bool onMain = false;
    AddModalResponder(kModalAlert, [&](const ModalRequest& req, ModalAnswer& answer) {
        onMain = IsMainThread();
        shown = req.choices;
        shown.push_back(req.title);
        shown.push_back(req.text);
        EXPECT_NE(dynamic_cast<QMessageBox*>(static_cast<QObject*>(req.native)), nullptr);
        answer.choice = 3;
        return true;
    });
    int result = 0;
    testutil::WORKER worker([&] {
        AlertSpec spec;
        spec.type = kAlertCaution;
        spec.title = "Assertion";
        spec.message = "x != 0";
        spec.explanation = "at file.cpp 12";
        spec.buttons = {"Continue", "Stop", "Debug"};
        result = RunAlert(spec);
        QuitMainLoop();
    });
    RunLoopBounded();
    EXPECT_TRUE(worker.Join());
    EXPECT_TRUE(onMain);
    EXPECT_EQ(result, 3);
    EXPECT_THAT(shown, ElementsAre("Continue", "Stop", "Debug", "Assertion", "x != 0\nat file.cpp 12"));
}

TEST_F(LoopTest, AlertWithoutResponderIsCancelledInTestMode)
{
    AlertSpec spec;
    spec.title = "Question";
    spec.buttons = {"Yes", "No"};
    EXPECT_EQ(RunAlert(spec), 2);
    spec.buttons.clear(); // only "OK": that is also the cancel button
    EXPECT_EQ(RunAlert(spec), 1);
    // A responder that declines leaves it to the next one.
    AddModalResponder(kModalAlert, [](const ModalRequest&, ModalAnswer& a) {
        a.choice = 1;
        return true;
    });
    AddModalResponder(kModalAlert, [](const ModalRequest&, ModalAnswer&) { return false; });
    spec.buttons = {"Yes", "No"};
    EXPECT_EQ(RunAlert(spec), 1);
}

TEST_F(LoopTest, WorkerSendsAreServedInsideAnAlertsOwnLoop)
{
    WindowRef w = MakeWindow(100, 100, false);
    int handled = 0;
    InstallHandler(WindowTarget(w), {&kTestType, 1}, [&](HandlerCall&, Event&) {
        ++handled;
        return kNoErr;
    });
    std::unique_ptr<testutil::WORKER> worker;
    AddModalResponder(kModalAlert, [&](const ModalRequest&, ModalAnswer& answer) {
        // Run a worker's send to completion while the alert is up.
        worker = std::make_unique<testutil::WORKER>([&] {
            EventPtr e = Event::Create(kClassTest, 1);
            SendEvent(*e, WindowTarget(w), 0, testutil::kWorkerSendMs);
        });
        const uint64_t deadline = NowMs() + 5000;
        while (handled == 0 && NowMs() < deadline)
            ProcessPendingEvents(10);
        answer.choice = 1;
        return true;
    });
    AlertSpec spec;
    EXPECT_EQ(RunAlert(spec), 1);
    ASSERT_TRUE(worker);
    EXPECT_TRUE(worker->Join());
    EXPECT_EQ(handled, 1);
}

TEST_F(LoopTest, OpenDocumentsWithThreeFilesArriveWithThreeItems)
{
    std::vector<std::string> got;
    std::string kind;
    SetAppEventHandler([&](OSType id, const std::vector<std::string>& items) {
        kind = FourCCText(id);
        got = items;
        QuitMainLoop();
        return kNoErr;
    });
    std::thread([] { InjectAppEvent(kAppEventOpenDocuments, {"/a/one.qor", "/b/two.qrx", "/c/three"}); }).join();
    RunLoopBounded();
    SetAppEventHandler(nullptr);
    EXPECT_EQ(kind, "odoc");
    EXPECT_THAT(got, ElementsAre("/a/one.qor", "/b/two.qrx", "/c/three"));
}

TEST_F(LoopTest, QuitAnsweredFalseKeepsTheLoopRunning)
{
    int quits = 0;
    SetAppEventHandler([&](OSType id, const std::vector<std::string>&) {
        if (id != kAppEventQuit)
            return kErrAppEventNotHandled;
        if (++quits == 2)
            QuitMainLoop(7);
        return quits == 1 ? kErrAppEventNotHandled : kNoErr;
    });
    RequestQuit();
    bool stillRunning = false;
    PostTask([&] {
        stillRunning = IsMainLoopRunning();
        RequestQuit();
    });
    RunLoopBounded();
    SetAppEventHandler(nullptr);
    EXPECT_EQ(quits, 2);
    EXPECT_TRUE(stillRunning);
}

TEST_F(LoopTest, MainThreadPosterRunsTasksOnTheMainThread)
{
    std::thread::id ranOn;
    std::thread([&] {
        PostToMainThread([&] {
            ranOn = std::this_thread::get_id();
            QuitMainLoop();
        });
    }).join();
    RunLoopBounded();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(LoopTest, LoopTimersFireInsideQtLoops)
{
    int ticks = 0;
    InstallLoopTimer(5, 5, [&](LoopTimerRef self) {
        if (++ticks == 4) {
            RemoveLoopTimer(self);
            QuitMainLoop();
        }
    });
    RunLoopBounded();
    EXPECT_EQ(ticks, 4);
}

TEST_F(LoopTest, ProcessPendingEventsDeliversAtMostN)
{
    WindowRef w = MakeWindow(100, 100, false);
    int n = 0;
    InstallHandler(WindowTarget(w), {&kTestType, 1}, [&](HandlerCall&, Event&) {
        ++n;
        return kNoErr;
    });
    for (int i = 0; i < 5; ++i)
        PostEvent(Event::Create(kClassTest, 1), WindowTarget(w));
    EXPECT_EQ(ProcessPendingEvents(3), 3);
    EXPECT_GE(n, 3);
    ProcessPendingEvents(10);
    EXPECT_EQ(n, 5);
}

TEST_F(LoopTest, EventTimeAndModifiersDuringDispatch)
{
    WindowRef w = MakeWindow(100, 100, false);
    uint64_t seen = 0;
    InstallHandler(WindowTarget(w), {&kTestType, 1}, [&](HandlerCall&, Event&) {
        seen = CurrentEventTime();
        return kNoErr;
    });
    EventPtr e = Event::Create(kClassTest, 1, 123456);
    SendEvent(*e, WindowTarget(w));
    EXPECT_EQ(seen, 123456u);

    // The modifiers follow the key events the window system delivers.
    QWidget* top = bridge::WidgetOfWindow(w);
    QTest::keyPress(top, Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_EQ(CurrentKeyModifiers() & (kModShift | kModControl), kModShift);
    QTest::keyRelease(top, Qt::Key_Shift, Qt::NoModifier);
    EXPECT_EQ(CurrentKeyModifiers() & (kModShift | kModControl), 0u);
}

} // namespace
