// Eight threads post and send 100,000 toolkit messages in all to a window
// while the main thread runs a modal dialog: none may be lost, each
// sender's messages arrive in the order it gave them, and nothing
// deadlocks. (This is also the binary to run under ThreadSanitizer.)
#include "tests/support/workers.h"
#include "tests/velmot/gui/gui_fixture.h"

#include <atomic>
#include <thread>

using namespace guifix;

namespace {

TEST(GuiStress, EightThreadsPostAndSendDuringAModalDialog)
{
    constexpr int kThreads = 8;
    constexpr int kTotal = 100000;
    constexpr int kPerThread = kTotal / kThreads;
    constexpr int kSendEvery = 10; // every tenth message is sent and waited for
    // The modal loop ends when the last message arrives, not by the test
    // mode's time-out.
    plat::SetTestMode(true, 180000);

    TESTWINDOW target;
    TESTWINDOW dialog(RECT{200, 200, 400, 300});
    std::vector<int> next(kThreads, 0);
    int received = 0;
    int orderErrors = 0;
    target.user = [&](int msg, MSGWORD sender, MSGWORD seq) {
        if (msg != 1025 || sender >= kThreads || static_cast<int>(seq) != next[sender])
            ++orderErrors;
        else
            ++next[sender];
        if (++received == kTotal)
            plat::QuitAppModalLoopForWindow(dialog.GetWindow());
        return true;
    };
    bool watchdog = false;
    plat::LoopTimerRef guard = plat::InstallLoopTimer(150000, 0, [&](plat::LoopTimerRef) {
        watchdog = true;
        plat::QuitAppModalLoopForWindow(dialog.GetWindow());
    });

    std::atomic<int> sendErrors{0};
    std::atomic<int> done{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                auto const sender = static_cast<MSGWORD>(t);
                auto const seq = static_cast<MSGWORD>(i);
                if (i % kSendEvery == kSendEvery - 1) {
                    if (DARWINDOW::SendMessage(target.GetWindow(), 1025, sender, seq, 0) != 1)
                        sendErrors.fetch_add(1);
                } else {
                    DARWINDOW::PostMessage(target.GetWindow(), 1025, sender, seq, 0);
                }
            }
            done.fetch_add(1);
        });
    }
    plat::RunAppModalLoopForWindow(dialog.GetWindow());
    // However the loop ended, the senders may still wait for an answer and
    // posts may still be queued: they are served until all is in, within a
    // limit; past it the target goes, which releases every waiting sender,
    // so the workers can always be joined.
    bool const endedEarly = received < kTotal;
    testutil::ServeUntil([&] { return done.load() >= kThreads && received >= kTotal; }, 60000);
    bool const sendersStuck = done.load() < kThreads;
    if (sendersStuck)
        plat::DisposeWindow(target.GetWindow());
    for (std::thread& w : workers)
        w.join();
    plat::RemoveLoopTimer(guard);
    plat::SetTestMode(true, 5000);

    EXPECT_FALSE(watchdog);
    EXPECT_FALSE(endedEarly);
    EXPECT_FALSE(sendersStuck);
    EXPECT_EQ(received, kTotal);
    EXPECT_EQ(orderErrors, 0);
    EXPECT_EQ(sendErrors.load(), 0);
}

} // namespace
