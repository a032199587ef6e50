// Shared by the event-core and Qt bridge tests: many threads post and send
// toolkit messages to one target while the main thread sits in a modal
// loop. Every message carries its sender and a per-sender sequence number,
// so the handler can check that nothing is lost and each sender's messages
// arrive in order.
#pragma once

#include "platform/events/queue.h"
#include "platform/events/timers.h"
#include "tests/support/workers.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace stress {

constexpr plat::OSType kParamSender = plat::FourCC("sndr");
constexpr plat::OSType kParamSeq = plat::FourCC("seqn");
constexpr plat::OSType kParamResult = plat::FourCC("VRET");

struct Result {
    int received = 0;
    int orderErrors = 0;
    int sendErrors = 0;
    bool watchdogFired = false;
    // The modal loop ended before every message had come (a time-out on a
    // slow machine); the messages still under way were delivered after it.
    bool endedEarly = false;
    // Not every sender was done in time (a send that never came back).
    bool sendersStuck = false;
};

// How long a sender waits for the answer to one sent message, and how long
// the whole run may take before it gives up: every failure ends the run.
constexpr int kSendTimeoutMs = testutil::kWorkerSendMs;
constexpr int kRunLimitMs = 180000;

// `runModal` blocks in a modal loop until `quitModal` is called (from a
// handler on the main thread). Every `sendEvery`-th message of a sender is
// sent and waited for; the others are posted. Whatever ends the loop, the
// main thread then serves events until every sender is done and every
// message is in (or the run's limit passes), so no sender is left waiting
// for a main thread that no longer serves it.
inline Result Run(plat::TargetRef target, int threads, int total, int sendEvery,
                  const std::function<void()>& runModal, const std::function<void()>& quitModal)
{
    using namespace plat;
    using CLOCK = std::chrono::steady_clock;
    auto const start = CLOCK::now();
    auto elapsedMs = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(CLOCK::now() - start).count();
    };
    Result r;
    std::vector<int> next(static_cast<size_t>(threads), 0);
    bool quit = false;
    const EventType type{kEventClassToolkit, kEventToolkitMessage};
    HandlerRef h = InstallHandler(target, {&type, 1}, [&](HandlerCall&, Event& e) {
        int sender = static_cast<int>(e.GetWord(kParamSender));
        int seq = static_cast<int>(e.GetWord(kParamSeq));
        if (sender < 0 || sender >= threads || seq != next[static_cast<size_t>(sender)])
            ++r.orderErrors;
        else
            ++next[static_cast<size_t>(sender)];
        e.SetWord(kParamResult, static_cast<uintptr_t>(seq) + 1);
        if (++r.received == total && !quit) {
            quit = true;
            quitModal();
        }
        return kNoErr;
    });
    // Ends the loop however the run goes, so a failure cannot hang.
    LoopTimerRef watchdog = InstallLoopTimer(kRunLimitMs - 30000, 0, [&](LoopTimerRef) {
        r.watchdogFired = true;
        if (!quit) {
            quit = true;
            quitModal();
        }
    });

    std::atomic<int> sendErrors{0};
    std::atomic<int> done{0};
    std::vector<std::thread> workers;
    const int perThread = total / threads;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                EventPtr e = Event::Create(kEventClassToolkit, kEventToolkitMessage);
                e->SetWord(kParamSender, static_cast<uintptr_t>(t));
                e->SetWord(kParamSeq, static_cast<uintptr_t>(i));
                if (i % sendEvery == sendEvery - 1) {
                    Status s = SendEvent(*e, target, 0, kSendTimeoutMs);
                    if (s != kNoErr || e->GetWord(kParamResult) != static_cast<uintptr_t>(i) + 1)
                        sendErrors.fetch_add(1);
                } else if (PostEvent(e, target) != kNoErr) {
                    sendErrors.fetch_add(1);
                }
            }
            done.fetch_add(1);
        });
    }
    runModal();
    r.endedEarly = r.received < total;
    // The senders may still wait for answers, and posted messages may still
    // be queued: both are served here until all is in.
    testutil::ServeUntil([&] { return done.load() >= threads && r.received >= total; },
                         int(std::max<long long>(kRunLimitMs - elapsedMs(), 1000)));
    r.sendersStuck = done.load() < threads;
    for (std::thread& w : workers)
        w.join();
    ProcessPendingEvents(100000);
    RemoveLoopTimer(watchdog);
    RemoveHandler(h);
    r.sendErrors = sendErrors.load();
    return r;
}

} // namespace stress
