// Timers: expiry, stale ticks, the wrap of 32-bit stamps, ownership by
// window and view. Most cases move the clock by hand and run the poll
// directly, so they depend on no real time.
#include "tests/velmot/core/assertrecorder.h"
#include "tests/velmot/gui/gui_fixture.h"

#include <memory>

using namespace guifix;

namespace {

class TimerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        plat::SetClockForTesting([this] { return now; });
        // A fresh poller, whose loop timer follows the clock above.
        WINTIMER::ReleaseInstance();
        timers = WINTIMER::GetInstance();
        window = std::make_unique<TESTWINDOW>();
        window->rec.Take();
    }
    void TearDown() override
    {
        window.reset();
        WINTIMER::ReleaseInstance();
        plat::SetClockForTesting({});
        plat::ProcessPendingEvents(100000);
    }

    // One poll at `at`, then the ticks it posted are delivered.
    void PollAt(uint64_t at)
    {
        now = at;
        timers->TimerEventProc();
    }
    void Deliver(uint64_t at)
    {
        now = at;
        plat::DispatchPending(100000);
    }
    std::vector<std::string> Ticks() { return window->rec.Take(); }

    uint64_t now = 1000;
    WINTIMER* timers = nullptr;
    std::unique_ptr<TESTWINDOW> window;
};

TEST_F(TimerTest, ATimerFiresStrictlyAfterItsIntervalAndDoesNotCatchUp)
{
    timers->StartTimer(7, 100, window->GetWindow(), nullptr);
    PollAt(1100);
    Deliver(1100);
    EXPECT_TRUE(Ticks().empty()) << "not before more than the interval has passed";
    PollAt(1101);
    Deliver(1101);
    EXPECT_EQ(Ticks(), std::vector<std::string>{"OnTimer 7"});
    // Late by several intervals: one tick, and the next counts from here.
    PollAt(1500);
    PollAt(1520);
    Deliver(1520);
    EXPECT_EQ(Ticks(), std::vector<std::string>{"OnTimer 7"});
    PollAt(1601);
    Deliver(1601);
    EXPECT_EQ(Ticks(), std::vector<std::string>{"OnTimer 7"});
}

TEST_F(TimerTest, StaleTicksAreDropped)
{
    timers->StartTimer(7, 100, window->GetWindow(), nullptr);
    // Stopped while its tick waits in the queue.
    PollAt(1101);
    timers->StopTimer(7, window->GetWindow(), nullptr);
    Deliver(1102);
    EXPECT_TRUE(Ticks().empty());
    // Waited more than three intervals in the queue.
    timers->StartTimer(7, 100, window->GetWindow(), nullptr);
    PollAt(1300);
    Deliver(1601);
    EXPECT_TRUE(Ticks().empty());
    // Exactly three intervals is still in time.
    PollAt(1700);
    Deliver(2000);
    EXPECT_EQ(Ticks(), std::vector<std::string>{"OnTimer 7"});
}

TEST_F(TimerTest, TimersKeepFiringWhenTheLowWordOfTheClockWraps)
{
    // 2^32 ms are 49.7 days; the ticks carry only the low 32 bits.
    for (uint64_t start : {(uint64_t{1} << 32) - 60, (uint64_t{5} << 32) - 1, (uint64_t{7} << 32) + 10}) {
        SCOPED_TRACE(start);
        now = start;
        timers->StartTimer(3, 100, window->GetWindow(), nullptr);
        PollAt(start + 101);
        Deliver(start + 150);
        EXPECT_EQ(Ticks(), std::vector<std::string>{"OnTimer 3"});
        PollAt(start + 202);
        Deliver(start + 202 + 301); // more than three intervals: stale, across the wrap too
        EXPECT_TRUE(Ticks().empty());
    }
}

TEST_F(TimerTest, TimersBelongToTheirWindowOrView)
{
    TESTWINDOW other(RECT{10, 10, 200, 200});
    TESTCHILD child(window->Content(), plat::RectI{0, 0, 50, 50});
    other.rec.Take();
    child.rec.Take();
    int const before = timers->NumTimers();
    timers->StartTimer(1, 100, window->GetWindow(), nullptr);
    timers->StartTimer(1, 50, window->GetWindow(), nullptr); // the same timer, restarted
    timers->StartTimer(1, 200, other.GetWindow(), nullptr);
    timers->StartTimer(2, 100, nullptr, child.view);
    EXPECT_EQ(timers->NumTimers(), before + 3);
    EXPECT_EQ(timers->GetTimerIdxFromId(TIMERID_ANY, WINTIMER::AnyWindow(), child.view), before + 2);
    EXPECT_EQ(timers->GetTimerIdxFromId(1, WINTIMER::AnyWindow(), nullptr), before);
    EXPECT_EQ(timers->GetTimerIdxFromId(2, WINTIMER::AnyWindow(), nullptr), -1);

    PollAt(1101);
    Deliver(1101);
    EXPECT_EQ(Ticks(), std::vector<std::string>{"OnTimer 1"});
    EXPECT_TRUE(other.rec.Take().empty());
    EXPECT_EQ(child.rec.Take(), std::vector<std::string>{"OnTimer 2"});
    PollAt(1202);
    Deliver(1202);
    EXPECT_EQ(other.rec.Take(), std::vector<std::string>{"OnTimer 1"});

    // The records of a view that is gone leave at the next poll that finds
    // them due; DisposeTimers removes a window's at once.
    plat::DisposeView(child.view);
    PollAt(1400);
    EXPECT_EQ(timers->GetTimerIdxFromId(2, WINTIMER::AnyWindow(), child.view), -1);
    EXPECT_TRUE(timers->DisposeTimers(other.GetWindow(), nullptr));
    EXPECT_EQ(timers->GetTimerIdxFromId(1, other.GetWindow(), nullptr), -1);
    EXPECT_NE(timers->GetTimerIdxFromId(1, window->GetWindow(), nullptr), -1);
    Deliver(1400);
}

TEST_F(TimerTest, DisposalFromAnotherThreadRemovesOnlyWhatItNames)
{
    TESTWINDOW other(RECT{10, 10, 200, 200});
    timers->StartTimer(1, 100, window->GetWindow(), nullptr);
    timers->StartTimer(1, 100, other.GetWindow(), nullptr);
    bool removedNothing = true, removedOther = false;
    std::thread worker([&] {
        // Whether a window lives cannot be asked here: live windows stay.
        removedNothing = !timers->DisposeTimers(nullptr, nullptr);
        removedOther = timers->DisposeTimers(other.GetWindow(), nullptr);
    });
    worker.join();
    EXPECT_TRUE(removedNothing);
    EXPECT_TRUE(removedOther);
    EXPECT_NE(timers->GetTimerIdxFromId(1, window->GetWindow(), nullptr), -1);
}

TEST_F(TimerTest, ToolkitTimerIdsAreNotTheWindowsAndTheCaptureTimerFollowsTheMouse)
{
    testutil::ASSERTRECORDER asserts;
    timers->StartTimer(0x100001, 100, window->GetWindow(), nullptr);
    PollAt(1101);
    Deliver(1101);
    EXPECT_TRUE(Ticks().empty());
    auto reports = asserts.Take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Condition, "FALSE");
    EXPECT_EQ(reports[0].Info, std::to_string(0x100001));

    // The capture timer of a view reports the mouse once it has left the
    // view (the offscreen mouse rests far from it).
    TESTCHILD child(window->Content(), plat::RectI{100, 100, 150, 150});
    child.rec.Take();
    timers->StartTimer(TIMERID_MOUSECAPTURE, 50, nullptr, child.view);
    PollAt(1152);
    Deliver(1152);
    std::vector<std::string> got = child.rec.Take();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].rfind("OnMouseEvent 0x200 ", 0), 0u) << got[0];
    // The mouse has not moved since: nothing more.
    PollAt(1203);
    Deliver(1203);
    EXPECT_TRUE(child.rec.Take().empty());
}

// The real loop and clock: the poller's own loop timer drives a timer.
TEST(TimerLoop, ATimerTicksInTheRunningLoop)
{
    WINTIMER::ReleaseInstance();
    int ticks = 0;
    struct TICKER : TESTWINDOW {
        std::function<void()> onTick;
        bool OnTimer(int) override
        {
            onTick();
            return true;
        }
    } ticker;
    ticker.onTick = [&] {
        if (++ticks == 3)
            plat::QuitMainLoop(0);
    };
    WINTIMER::GetInstance()->StartTimer(9, 30, ticker.GetWindow(), nullptr);
    RunLoopBounded();
    EXPECT_EQ(ticks, 3);
    WINTIMER::GetInstance()->StopTimer(9, ticker.GetWindow(), nullptr);
    WINTIMER::ReleaseInstance();
}

} // namespace
