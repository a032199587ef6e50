// Threads of tests that may wait for the main thread (a send, a task, a
// session event): however the test goes, they end and are joined. The main
// thread serves its queue while it waits for them, within a limit, and the
// sends of such workers carry time-outs of their own where the call has
// one, so no failure path leaves a worker waiting for a main thread that
// sits in a join.
#pragma once

#include "platform/events/queue.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

namespace testutil {

// How long a worker's send waits for its answer.
constexpr int kWorkerSendMs = 30000;

// Serves the main thread's queue (and the window system's events) until
// done() holds or ms pass; whether it holds.
template <class DONE>
bool ServeUntil(DONE done, int ms = kWorkerSendMs + 5000)
{
    auto const until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done() && std::chrono::steady_clock::now() < until) {
        if (plat::ProcessPendingEvents(100) == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

// Waits, without serving anything, until done() holds or ms pass (for a
// worker that is expected to queue something); whether it holds.
template <class DONE>
bool WaitUntil(DONE done, int ms = 10000)
{
    auto const until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    return done();
}

// A worker thread joined only after the main thread has served it until it
// is done (Join, or the destructor when a test returned early).
class WORKER {
public:
    template <class F>
    explicit WORKER(F&& work)
        : Thread([this, w = std::forward<F>(work)]() mutable {
              w();
              Done.store(true);
          })
    {
    }
    ~WORKER() { Join(); }
    WORKER(WORKER const&) = delete;
    WORKER& operator=(WORKER const&) = delete;

    // Whether the worker was done before it was joined.
    bool Join(int ms = kWorkerSendMs + 5000)
    {
        if (!Thread.joinable())
            return Done.load();
        bool const done = ServeUntil([this] { return Done.load(); }, ms);
        Thread.join();
        return done;
    }
    bool IsDone() const { return Done.load(); }

private:
    std::atomic<bool> Done{false};
    std::thread Thread;
};

} // namespace testutil
