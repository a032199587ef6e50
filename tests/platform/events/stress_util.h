// Shared by the event-core and Qt bridge tests: many threads post and send
// toolkit messages to one target while the main thread sits in a modal
// loop. Every message carries its sender and a per-sender sequence number,
// so the handler can check that nothing is lost and each sender's messages
// arrive in order.
#pragma once

#include "platform/events/queue.h"
#include "platform/events/timers.h"

#include <atomic>
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
};

// `runModal` blocks in a modal loop until `quitModal` is called (from a
// handler on the main thread). Every `sendEvery`-th message of a sender is
// sent and waited for; the others are posted.
inline Result Run(plat::TargetRef target, int threads, int total, int sendEvery,
                  const std::function<void()>& runModal, const std::function<void()>& quitModal)
{
    using namespace plat;
    Result r;
    std::vector<int> next(static_cast<size_t>(threads), 0);
    const EventType type{kEventClassToolkit, kEventToolkitMessage};
    HandlerRef h = InstallHandler(target, {&type, 1}, [&](HandlerCall&, Event& e) {
        int sender = static_cast<int>(e.GetWord(kParamSender));
        int seq = static_cast<int>(e.GetWord(kParamSeq));
        if (sender < 0 || sender >= threads || seq != next[static_cast<size_t>(sender)])
            ++r.orderErrors;
        else
            ++next[static_cast<size_t>(sender)];
        e.SetWord(kParamResult, static_cast<uintptr_t>(seq) + 1);
        if (++r.received == total)
            quitModal();
        return kNoErr;
    });
    // Ends the loop however the run goes, so a failure cannot hang.
    LoopTimerRef watchdog = InstallLoopTimer(120000, 0, [&](LoopTimerRef) {
        r.watchdogFired = true;
        quitModal();
    });

    std::atomic<int> sendErrors{0};
    std::vector<std::thread> workers;
    const int perThread = total / threads;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                EventPtr e = Event::Create(kEventClassToolkit, kEventToolkitMessage);
                e->SetWord(kParamSender, static_cast<uintptr_t>(t));
                e->SetWord(kParamSeq, static_cast<uintptr_t>(i));
                if (i % sendEvery == sendEvery - 1) {
                    Status s = SendEvent(*e, target);
                    if (s != kNoErr || e->GetWord(kParamResult) != static_cast<uintptr_t>(i) + 1)
                        sendErrors.fetch_add(1);
                } else if (PostEvent(e, target) != kNoErr) {
                    sendErrors.fetch_add(1);
                }
            }
        });
    }
    runModal();
    for (std::thread& w : workers)
        w.join();
    RemoveLoopTimer(watchdog);
    RemoveHandler(h);
    r.sendErrors = sendErrors.load();
    return r;
}

} // namespace stress
