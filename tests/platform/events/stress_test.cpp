// Eight threads post and send 100,000 toolkit messages in all to a window
// while the main thread sits in that window's modal loop: none may be lost,
// each sender's order must hold, and nothing may deadlock.
#include "tests/platform/events/qt_fixture.h"
#include "tests/platform/events/stress_util.h"

using namespace plat;

namespace {

using StressTest = qtfix::QtTest;

TEST_F(StressTest, EightThreadsPostAndSendDuringAModalLoop)
{
    WindowRef dialog = MakeWindow(200, 100, false);
    const int total = 100000;
    // The run's own watchdog ends the loop; test mode's time-out for
    // modal loops with no responder would cut it short on a busy machine.
    const int modalTimeout = TestModalTimeoutMs();
    SetTestMode(true, stress::kRunLimitMs);
    stress::Result r = stress::Run(
        WindowTarget(dialog), 8, total, 10, [dialog] { RunAppModalLoopForWindow(dialog); },
        [dialog] { QuitAppModalLoopForWindow(dialog); });
    SetTestMode(true, modalTimeout);
    EXPECT_FALSE(r.watchdogFired);
    EXPECT_FALSE(r.endedEarly);
    EXPECT_FALSE(r.sendersStuck);
    EXPECT_EQ(r.received, total);
    EXPECT_EQ(r.orderErrors, 0);
    EXPECT_EQ(r.sendErrors, 0);
}

} // namespace
