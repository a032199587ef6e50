#include "velmot/gui/wintimer.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winbase.h"

#include "platform/events/queue.h"
#include "platform/events/views.h"

#include <mutex>

WINTIMER* WINTIMER::pInstance = nullptr;

namespace {

std::mutex& InstanceLock()
{
    static auto* lock = new std::mutex;
    return *lock;
}

// Holds the array's lock for a scope.
struct ARRAYLOCK {
    explicit ARRAYLOCK(DYNARRAY<WINTIMER::TIMEREVENT> const& a) : array(a) { array.Lock(-1); }
    ~ARRAYLOCK() { array.Unlock(); }
    DYNARRAY<WINTIMER::TIMEREVENT> const& array;
};

} // namespace


WINTIMER* WINTIMER::GetInstance()
{
    std::lock_guard<std::mutex> guard(InstanceLock());
    if (!pInstance) {
        pInstance = new WINTIMER(0);
        TARVOAPP::SetCleanupFunction(TARVOAPP::CLEANUP_WINTIMER, &WINTIMER::ReleaseInstance);
    }
    return pInstance;
}

void WINTIMER::ReleaseInstance()
{
    WINTIMER* doomed;
    {
        std::lock_guard<std::mutex> guard(InstanceLock());
        doomed = pInstance;
        pInstance = nullptr;
    }
    delete doomed;
}

WINTIMER::WINTIMER(int resolution) : fResolution(resolution > 0 ? resolution : 50), timers(64, 64)
{
    timers.SetTypeName("WINTIMER::TIMEREVENT");
    EnsureLoopTimer();
}

WINTIMER::~WINTIMER()
{
    ARRAYLOCK hold(timers);
    if (fLoopTimer) {
        plat::Status err = plat::RemoveLoopTimer(fLoopTimer);
        if (err != plat::kErrTargetGone)
            VERIFYSTATUS("err == 0 ", err);
        fLoopTimer = nullptr;
    }
}

void WINTIMER::EnsureLoopTimer()
{
    ARRAYLOCK hold(timers);
    if (fLoopTimer && plat::IsMainThread() && !plat::IsLoopTimerInstalled(fLoopTimer))
        fLoopTimer = nullptr; // the event loop was shut down and started again
    if (fLoopTimer)
        return;
    if (!plat::IsMainThread()) {
        // Loop timers belong to the main thread; the first use from another
        // thread has the main thread install it.
        plat::PostTask([] {
            std::lock_guard<std::mutex> guard(InstanceLock());
            if (pInstance)
                pInstance->EnsureLoopTimer();
        });
        return;
    }
    uint32_t const period = static_cast<uint32_t>(1000 / fResolution);
    fLoopTimer = plat::InstallLoopTimer(period, period, [this](plat::LoopTimerRef) { TimerEventProc(); });
}

int WINTIMER::GetTimerIdxFromId(uint32_t id, plat::WindowRef window, plat::ViewRef view) const
{
    ARRAYLOCK hold(timers);
    for (int i = 0; i < timers.NumItems(); ++i) {
        TIMEREVENT const* t = timers[i];
        if ((id == TIMERID_ANY || t->id == id) && (window == AnyWindow() || t->window == window) && t->view == view)
            return i;
    }
    return -1;
}

int WINTIMER::StartTimer(uint32_t id, int ms, plat::WindowRef window, plat::ViewRef view)
{
    ARRAYLOCK hold(timers);
    int idx = GetTimerIdxFromId(id, window, view);
    if (idx == -1) {
        TIMEREVENT fresh;
        fresh.id = id;
        fresh.window = window;
        fresh.view = view;
        idx = timers.AppendItem(fresh);
    }
    if (TIMEREVENT* t = idx >= 0 ? timers[idx] : nullptr) {
        t->interval = ms > 0 ? static_cast<uint32_t>(ms) : 0;
        t->last = plat::NowMs();
        t->active = true;
    }
    EnsureLoopTimer();
    return 1;
}

int WINTIMER::StopTimer(uint32_t id, plat::WindowRef window, plat::ViewRef view)
{
    ARRAYLOCK hold(timers);
    int idx = GetTimerIdxFromId(id, window, view);
    if (idx != -1)
        timers[idx]->active = false;
    return 1;
}

bool WINTIMER::IsTimerValid(uint32_t id, plat::WindowRef window, plat::ViewRef view, uint32_t stamp) const
{
    ARRAYLOCK hold(timers);
    int idx = GetTimerIdxFromId(id, window ? window : AnyWindow(), view);
    if (idx == -1)
        return false;
    TIMEREVENT const* t = timers[idx];
    if (!t->active)
        return false;
    // Modulo 2^32: right across the wrap of the low word of the clock.
    uint64_t const age = plat::StampAge(stamp, plat::NowMs());
    return age <= 3ULL * t->interval;
}

bool WINTIMER::DisposeTimers(plat::WindowRef window, plat::ViewRef view)
{
    ARRAYLOCK hold(timers);
    // Whether a window or view still exists can only be asked on the main
    // thread; elsewhere only the records named by the arguments go.
    bool const main = plat::IsMainThread();
    bool removed = false;
    for (int i = timers.NumItems() - 1; i >= 0; --i) {
        TIMEREVENT const* t = timers[i];
        bool gone = (t->view && ((view && t->view == view) || (main && !plat::IsViewValid(t->view)))) ||
                    (t->window && ((window && t->window == window) || (main && !plat::IsWindowValid(t->window))));
        if (gone) {
            timers.DeleteItem(i);
            removed = true;
        }
    }
    return removed;
}

void WINTIMER::TimerEventProc()
{
    ARRAYLOCK hold(timers);
    uint64_t const now = plat::NowMs();
    bool cleanup = false;
    for (int i = 0; i < timers.NumItems(); ++i) {
        TIMEREVENT* t = timers[i];
        // Due strictly after the interval; the next one counts from this
        // poll, so a late timer does not catch up.
        if (!t->active || t->last + t->interval >= now)
            continue;
        auto const stamp = static_cast<MSGWORD>(static_cast<uint32_t>(now));
        if (t->view) {
            if (plat::IsViewValid(t->view)) {
                t->last = now;
                DARWINDOW::PostMessage(t->view, WM_VTIMER, t->id, 0, stamp);
            } else {
                cleanup = true;
            }
        } else if (plat::IsWindowValid(t->window)) {
            t->last = now;
            DARWINDOW::PostMessage(t->window, WM_VTIMER, t->id, 0, stamp);
        } else {
            cleanup = true;
        }
    }
    if (cleanup)
        DisposeTimers(nullptr, nullptr);
}
