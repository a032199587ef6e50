// Message delivery between threads, alerts on the main thread, window
// properties and calls on the main thread.
#include "tests/support/workers.h"
#include "tests/velmot/core/assertrecorder.h"
#include "tests/velmot/gui/gui_fixture.h"

#include "velmot/gui/appfunction.h"
#include "velmot/gui/wincontrols.h"

#include <atomic>
#include <future>

using namespace guifix;

namespace {

class DeliveryTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        plat::ClearModalResponders();
        plat::ProcessPendingEvents(100000);
    }

    // Runs `work` on a worker thread; the main thread does not serve the
    // queue meanwhile. Fails instead of hanging when the worker blocks.
    template <class F>
    auto OnWorkerWithoutLoop(F work)
    {
        std::future<decltype(work())> f = std::async(std::launch::async, work);
        EXPECT_EQ(f.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the worker is stuck";
        // A stuck worker is served after all, so that the test ends.
        testutil::ServeUntil([&] { return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        return f.get();
    }

    // Runs `work` on a worker thread while the main thread runs its loop.
    template <class F>
    auto OnWorkerWithLoop(F work)
    {
        std::future<decltype(work())> f = std::async(std::launch::async, [&] {
            auto r = work();
            plat::QuitMainLoop(0);
            return r;
        });
        RunLoopBounded();
        // However the loop ended, the worker is served until it is done.
        testutil::ServeUntil([&] { return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        return f.get();
    }
};

TEST_F(DeliveryTest, MessagesOnTheMainThreadAreHandledBeforeSendReturns)
{
    TESTWINDOW w;
    w.rec.Take();
    w.rec.answers["OnUserMessage"] = true;
    struct Case {
        uint32_t msg;
        MSGWORD result;
        char const* reached; // null: no callback
    };
    const Case cases[] = {
        {1025, 1, "OnUserMessage 1025 7 8"},
        {1279, 1, "OnUserMessage 1279 7 8"},
        {1280, 0, nullptr},
        {WM_DELIVERYPROBE, DELIVERYPROBE_OKAY, nullptr},
        {WM_VCOMMAND, 1, "OnCommand 7"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.msg);
        EXPECT_EQ(DARWINDOW::SendMessage(w.GetWindow(), c.msg, 7, 8, 9), c.result);
        std::vector<std::string> log = w.rec.Take();
        if (c.reached)
            EXPECT_EQ(log, std::vector<std::string>{c.reached});
        else
            EXPECT_TRUE(log.empty());
    }
    w.rec.answers["OnUserMessage"] = false;
    EXPECT_EQ(w.SendUserMessage(1030, 1, 2), 0u);
}

TEST_F(DeliveryTest, AUserMessageOutOfRangeIsReportedAndStillDelivered)
{
    testutil::ASSERTRECORDER asserts;
    TESTWINDOW w;
    w.rec.Take();
    EXPECT_EQ(w.PostUserMessage(1264, 5, 6), 0u);
    EXPECT_EQ(w.PostUserMessage(1030, 1, 2), 0u);
    auto reports = asserts.Take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Condition, "msg>=WM_USER+0x0001 && msg<WM_USER+0x00f0");
    ASSERT_TRUE(PumpUntil([&] { return w.rec.log.size() == 2; }));
    EXPECT_EQ(w.rec.Take(), (std::vector<std::string>{"OnUserMessage 1264 5 6", "OnUserMessage 1030 1 2"}));
}

TEST_F(DeliveryTest, ASendFromAWorkerRunsOnTheMainThreadAndReturnsTheResult)
{
    TESTWINDOW w;
    std::thread::id ranOn;
    w.user = [&](int msg, MSGWORD p1, MSGWORD) {
        ranOn = std::this_thread::get_id();
        return msg == 1100 && p1 == 3;
    };
    MSGWORD r = OnWorkerWithLoop([&] { return DARWINDOW::SendMessage(w.GetWindow(), 1100, 3, 0, 0); });
    EXPECT_EQ(r, 1u);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

// A worker that changed what a view shows marks it from its own thread: the
// marks reach the main thread, which paints them (marking is what other
// threads may do: no wrong-thread warning).
TEST_F(DeliveryTest, AViewInvalidatedFromAWorkerIsPainted)
{
    TESTWINDOW w;
    plat::ViewRef const pane = plat::CreateUserPane(w.Content(), {10, 10, 110, 60}, {plat::FourCC("PANE"), 1});
    plat::ShowWindow(w.GetWindow(), true);
    std::vector<plat::RectI> painted;
    plat::EventType const draw{plat::kEventClassControl, plat::kEventControlDraw};
    plat::InstallHandler(plat::ViewTarget(pane), {&draw, 1}, [&](plat::HandlerCall&, plat::Event& e) {
        plat::RectI r;
        e.Get(plat::kParamUpdateRect, plat::kTypeIntRect, &r);
        painted.push_back(r);
        return plat::kNoErr;
    });
    ASSERT_TRUE(PumpUntil([&] { return !painted.empty(); })); // the first showing
    PumpUntil([] { return false; }, 50);
    painted.clear();

    ::testing::internal::CaptureStderr();
    bool const marked = OnWorkerWithoutLoop([&] {
        RECT const r{20, 5, 40, 15};
        return CONTROL(pane).Invalidate(&r);
    });
    std::string const err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(marked);
    EXPECT_EQ(err.find("THREADCHECK"), std::string::npos) << err;
    ASSERT_TRUE(PumpUntil([&] { return !painted.empty(); }));
    EXPECT_EQ(painted.back(), (plat::RectI{20, 5, 40, 15}));
}

TEST_F(DeliveryTest, ASendFromAWorkerToADestroyedWindowReturnsAtOnce)
{
    auto w = std::make_unique<TESTWINDOW>();
    plat::WindowRef const gone = w->GetWindow();
    w.reset();
    ASSERT_FALSE(plat::IsWindowValid(gone));
    // The main thread serves nothing meanwhile: a send that waited would
    // never come back.
    MSGWORD r = OnWorkerWithoutLoop([&] { return DARWINDOW::SendMessage(gone, 1025, 1, 2, 0); });
    EXPECT_EQ(r, 0u);
    // Nor does a post reach anyone else (the application).
    TESTAPP app;
    DARWINDOW::PostMessage(gone, 1025, 1, 2, 0);
    plat::ProcessPendingEvents(100);
    EXPECT_TRUE(app.events.empty());
}

TEST_F(DeliveryTest, AWaitedMessageWhoseWindowDiesBeforeItIsHandledReleasesItsSender)
{
    auto w = std::make_unique<TESTWINDOW>();
    plat::WindowRef const window = w->GetWindow();
    // The first (posted) message disposes of the window; the second one,
    // sent right behind it, then finds no window.
    w->user = [&](int msg, MSGWORD, MSGWORD) {
        if (msg == 1040)
            w->Destroy();
        return true;
    };
    std::future<MSGWORD> sender = std::async(std::launch::async, [&] {
        DARWINDOW::PostMessage(window, 1040, 0, 0, 0);
        return DARWINDOW::SendMessage(window, 1041, 0, 0, 0);
    });
    // Both wait in the queue before the main thread serves it, so the send
    // passed its probe while the window was alive.
    auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (plat::PendingCount() < 2 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(plat::PendingCount(), 2u);
    ASSERT_TRUE(PumpUntil([&] { return sender.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_EQ(sender.get(), 0u);
    EXPECT_FALSE(plat::IsWindowValid(window));
}

TEST_F(DeliveryTest, AnAlertFromAWorkerRunsOnTheMainThreadAndReturnsTheButton)
{
    TESTWINDOW w;
    AlertAnswers answers(2);
    int16_t button = OnWorkerWithLoop([&] {
        ALERTPARAMS params;
        params.defaultText = "Save";
        params.cancelText = "Don't save";
        params.otherText = "Cancel";
        return DARWINDOW::GenericAlert(w.GetWindow(), "Title", "first line\nsecond line", ALERTTYPE_CAUTION, &params);
    });
    EXPECT_EQ(button, ALERTBUTTON_CANCEL);
    ASSERT_EQ(answers.texts.size(), 1u);
    // The title is the message; the text, its line joined, the explanation.
    EXPECT_EQ(answers.texts[0], "Title\nfirst line second line");
    EXPECT_EQ(answers.buttons[0], (std::vector<std::string>{"Save", "Don't save", "Cancel"}));
}

TEST_F(DeliveryTest, AlertButtonsKeepTheirNumbersWhenOneIsMissing)
{
    struct Case {
        char const* what;
        char const* cancel;
        char const* other;
        int platformChoice;
        int16_t button;
    };
    const Case cases[] = {
        {"the standard OK alone", nullptr, nullptr, 1, ALERTBUTTON_DEFAULT},
        {"other without cancel", nullptr, "More", 2, ALERTBUTTON_OTHER},
        {"cancel", "Stop", nullptr, 2, ALERTBUTTON_CANCEL},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        AlertAnswers answer(c.platformChoice);
        ALERTPARAMS params;
        params.defaultText = ALERTTEXT_OK();
        params.cancelText = c.cancel;
        params.otherText = c.other;
        EXPECT_EQ(DARWINDOW::GenericAlert(nullptr, nullptr, "text", ALERTTYPE_NOTE, &params), c.button);
        ASSERT_EQ(answer.texts.size(), 1u);
        EXPECT_EQ(answer.texts[0], "<no title>\ntext");
        EXPECT_EQ(answer.buttons[0].front(), "OK");
        EXPECT_EQ(params.version, 1);
        EXPECT_EQ(params.defaultButton, ALERTBUTTON_DEFAULT);
        EXPECT_EQ(params.cancelButton, ALERTBUTTON_CANCEL);
    }
}

TEST_F(DeliveryTest, AlertTextsFlowAndKeepTheirParagraphs)
{
    struct Case {
        char const* in;
        char const* out;
    };
    const Case cases[] = {
        {"one\ntwo", "one two"},
        {"one \ntwo", "one two"},
        {"one\r\ntwo", "one two"},
        {"para\n\nnext", "para\r\rnext"},
        {"list:\n  item", "list:\r  item"},
        {"##nowrap##\nkeep\nlines", "keep\rlines"},
        {"x", "x"},
        {"\n", "\r"},
        {"ends\n", "ends\r"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_STREQ(DARWINDOW::WrapAlertText(c.in).Buf(), c.out);
    }
}

// A window object without callbacks, for the properties.
class BAREWINDOW : public DARWINDOW {
public:
    plat::Status HandleEvent(plat::HandlerCall*, TCarbonEvent&) override { return plat::kErrEventNotHandled; }
};

TEST_F(DeliveryTest, WindowPropertiesAndTheOwningObject)
{
    testutil::ASSERTRECORDER asserts;
    auto* bare = new BAREWINDOW;
    RECT r{10, 10, 210, 110};
    ASSERT_EQ(bare->CreateNewWindow(WINDOWCLASS_UTILITY, 0, &r, "HLP_X"), plat::kNoErr);
    plat::WindowRef const window = bare->GetWindow();
    EXPECT_EQ(DARWINDOW::GetThisFromWindowRef(window), bare);
    EXPECT_EQ(bare->GetWindowProperty(plat::FourCC("NONE")), 0u);
    char help[16] = {};
    EXPECT_EQ(bare->GetWindowProperty(WPROP_HELPID, help, sizeof help), 6);
    EXPECT_STREQ(help, "HLP_X");
    bare->AddStyleEx(0x10);
    bare->AddStyleEx(0x400);
    EXPECT_EQ(bare->GetWindowProperty(WPROP_STYLEEX), 0x410u);
    EXPECT_NE(bare->GetClientView(), nullptr);
    EXPECT_EQ(asserts.Count(), 0u);

    // An object that goes away before its window is reported, and the
    // window no longer leads back to it.
    delete bare;
    auto reports = asserts.Take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Condition, "!::IsValidWindowPtr(this->fWindow)");
    ASSERT_TRUE(plat::IsWindowValid(window));
    EXPECT_EQ(DARWINDOW::GetThisFromWindowRef(window), nullptr);
    EXPECT_EQ(DARWINDOW::SendMessage(window, 1025, 0, 0, 0), 0u);
    plat::DisposeWindow(window);
}

// The window class that runs calls on the main thread.
class CALLWINDOW : public TESTWINDOW {
public:
    bool OnUserMessage(int msg, MSGWORD p1, MSGWORD p2) override
    {
        if (msg == static_cast<int>(WM_APPFUNCTION)) {
            reinterpret_cast<APPFUNCTION*>(p1)->Call();
            return true;
        }
        return TESTWINDOW::OnUserMessage(msg, p1, p2);
    }
    int Ask(int a, int b)
    {
        ranOn = std::this_thread::get_id();
        ++calls;
        return a * 100 + b;
    }
    std::thread::id ranOn;
    std::atomic<int> calls{0};
};

TEST_F(DeliveryTest, ACallFromAWorkerRunsOnTheMainThreadAndReturnsItsResult)
{
    CALLWINDOW w;
    MSGWORD r = OnWorkerWithLoop([&] {
        APPFUNCTION call(&w, &CALLWINDOW::Ask, 4, 2);
        return call.CallFrom(w);
    });
    EXPECT_EQ(r, 402u);
    EXPECT_EQ(w.ranOn, std::this_thread::get_id());

    // On the main thread the call runs before CallFrom returns.
    APPFUNCTION direct(&w, &CALLWINDOW::Ask, 1, 5);
    EXPECT_EQ(direct.CallFrom(w), 105u);
    EXPECT_EQ(w.calls, 2);
}

TEST_F(DeliveryTest, ACallToAWindowThatIsGoneNeverRuns)
{
    auto w = std::make_unique<CALLWINDOW>();
    CALLWINDOW* object = w.get();
    w->Destroy();
    int const before = object->calls;
    MSGWORD r = OnWorkerWithoutLoop([&] {
        APPFUNCTION call(object, &CALLWINDOW::Ask, 9, 9);
        return call.CallFrom(*w);
    });
    EXPECT_EQ(r, 0u);
    EXPECT_EQ(object->calls, before);
}

} // namespace
