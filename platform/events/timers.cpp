#include "platform/events/timers.h"

#include "platform/events/queue.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

namespace plat {
namespace {

uint64_t RealClock()
{
    using namespace std::chrono;
    static const steady_clock::time_point start = steady_clock::now();
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now() - start).count());
}

// The test clock is read from any thread, so it is swapped under a lock;
// the real clock (the normal case) needs none.
std::atomic<bool> gHaveTestClock{false};
std::mutex gClockLock;
std::function<uint64_t()>* gTestClock = nullptr;

struct Timer {
    uint64_t id;
    uint64_t due;
    uint32_t interval;
    LoopTimerFn fn;
    bool removed = false;
    bool running = false; // its function is on the stack
};

struct TimerTable {
    std::vector<Timer> timers;
    uint64_t nextId = 0x7000;
    int firing = 0; // nesting of FireDueTimers; removed timers are swept at 0
};

TimerTable& Table()
{
    static TimerTable* t = new TimerTable;
    return *t;
}

Timer* FindTimer(uint64_t id)
{
    for (Timer& t : Table().timers)
        if (t.id == id && !t.removed)
            return &t;
    return nullptr;
}

void Sweep()
{
    TimerTable& tab = Table();
    if (tab.firing)
        return;
    std::erase_if(tab.timers, [](const Timer& t) { return t.removed; });
}

uint64_t IdOf(LoopTimerRef t)
{
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(t));
}

} // namespace

uint64_t NowMs()
{
    if (!gHaveTestClock.load(std::memory_order_acquire))
        return RealClock();
    std::lock_guard<std::mutex> guard(gClockLock);
    return gTestClock ? (*gTestClock)() : RealClock();
}

void SetClockForTesting(std::function<uint64_t()> clock)
{
    std::lock_guard<std::mutex> guard(gClockLock);
    delete gTestClock;
    gTestClock = clock ? new std::function<uint64_t()>(std::move(clock)) : nullptr;
    gHaveTestClock.store(gTestClock != nullptr, std::memory_order_release);
    NotifyTimersChanged();
}

LoopTimerRef InstallLoopTimer(uint32_t firstDelayMs, uint32_t intervalMs, LoopTimerFn fn)
{
    if (!fn || !CheckMainThread("InstallLoopTimer"))
        return nullptr;
    TimerTable& tab = Table();
    Timer t;
    t.id = ++tab.nextId;
    t.due = NowMs() + firstDelayMs;
    t.interval = intervalMs;
    t.fn = std::move(fn);
    tab.timers.push_back(std::move(t));
    NotifyTimersChanged();
    return reinterpret_cast<LoopTimerRef>(static_cast<uintptr_t>(tab.nextId));
}

Status RemoveLoopTimer(LoopTimerRef timer)
{
    if (!CheckMainThread("RemoveLoopTimer"))
        return kErrWrongThread;
    Timer* t = FindTimer(IdOf(timer));
    if (!t)
        return kErrTargetGone;
    t->removed = true;
    Sweep();
    NotifyTimersChanged();
    return kNoErr;
}

bool IsLoopTimerInstalled(LoopTimerRef timer)
{
    return CheckMainThread("IsLoopTimerInstalled") && FindTimer(IdOf(timer)) != nullptr;
}

Status SetLoopTimerNextFire(LoopTimerRef timer, uint32_t delayMs)
{
    if (!CheckMainThread("SetLoopTimerNextFire"))
        return kErrWrongThread;
    Timer* t = FindTimer(IdOf(timer));
    if (!t)
        return kErrTargetGone;
    t->due = NowMs() + delayMs;
    NotifyTimersChanged();
    return kNoErr;
}

int FireDueTimers()
{
    if (!CheckMainThread("FireDueTimers"))
        return 0;
    TimerTable& tab = Table();
    const uint64_t now = NowMs();
    // Collect the due ids first: a timer function may install or remove
    // timers, which may move the vector.
    // A timer whose function runs a nested loop is not fired again from
    // inside that loop; it is due again once its function has returned.
    std::vector<uint64_t> due;
    for (const Timer& t : tab.timers)
        if (!t.removed && !t.running && t.due <= now)
            due.push_back(t.id);
    int fired = 0;
    ++tab.firing;
    for (uint64_t id : due) {
        Timer* t = FindTimer(id);
        if (!t)
            continue; // removed by an earlier timer of this round
        LoopTimerFn fn = t->fn; // the function may remove its own timer
        if (t->interval)
            t->due = now + t->interval;
        else
            t->removed = true;
        t->running = true;
        ++fired;
        fn(reinterpret_cast<LoopTimerRef>(static_cast<uintptr_t>(id)));
        for (Timer& again : tab.timers) // the vector may have moved
            if (again.id == id)
                again.running = false;
    }
    --tab.firing;
    Sweep();
    if (fired)
        NotifyTimersChanged();
    return fired;
}

int64_t MsUntilNextTimer()
{
    TimerTable& tab = Table();
    bool any = false;
    uint64_t earliest = 0;
    for (const Timer& t : tab.timers) {
        if (t.removed)
            continue;
        if (!any || t.due < earliest)
            earliest = t.due;
        any = true;
    }
    if (!any)
        return -1;
    const uint64_t now = NowMs();
    return earliest <= now ? 0 : static_cast<int64_t>(earliest - now);
}

void RemoveAllLoopTimers()
{
    TimerTable& tab = Table();
    for (Timer& t : tab.timers)
        t.removed = true;
    Sweep();
}

} // namespace plat
