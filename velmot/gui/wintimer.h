// Windows-style timers of windows and child windows.
//
// A timer is named by a 32-bit id together with the window or the view it
// belongs to and runs at an interval in milliseconds. One process-wide
// WINTIMER polls all timers from one loop timer on the main thread (every
// 20 ms by default) and posts each expiry as the toolkit message
// WM_VTIMER, which the window callbacks turn into OnTimer(id). A tick
// carries the low 32 bits of the clock at its posting; the receiver asks
// IsTimerValid and drops a tick whose timer was stopped meanwhile or that
// waited more than three intervals. The stamps are compared modulo 2^32,
// so timers keep working however long the process runs.
//
// StartTimer, StopTimer, IsTimerValid and DisposeTimers may be called from
// any thread; the poll runs on the main thread. The clock is the event
// loop's millisecond clock (plat::NowMs).
#pragma once

#include "velmot/core/dynarray.h"
#include "velmot/gui/winevents.h"

#include "platform/events/timers.h"
#include "platform/events/windows.h"

// Any timer id, for GetTimerIdxFromId.
constexpr uint32_t TIMERID_ANY = 0xFFFFFFFF;

class VELMOT_EXPORT WINTIMER {
public:
    struct TIMEREVENT {
        uint32_t id = 0;
        bool active = false;
        uint32_t interval = 0; // milliseconds
        uint64_t last = 0;     // the clock at the start or at the last expiry
        plat::WindowRef window = nullptr;
        plat::ViewRef view = nullptr;
    };

    static WINTIMER* GetInstance();
    static void ReleaseInstance();
    // Any window, for GetTimerIdxFromId.
    static plat::WindowRef AnyWindow() { return reinterpret_cast<plat::WindowRef>(~uintptr_t{0}); }

    // `resolution` polls per second; 0 means 50 (every 20 ms).
    explicit WINTIMER(int resolution);
    virtual ~WINTIMER();
    WINTIMER(WINTIMER const&) = delete;
    WINTIMER& operator=(WINTIMER const&) = delete;

    // Starts (or restarts from now) the timer (id, window, view). Returns 1.
    int StartTimer(uint32_t id, int ms, plat::WindowRef window, plat::ViewRef view);
    // Stops it; its record stays, inactive. Returns 1.
    int StopTimer(uint32_t id, plat::WindowRef window, plat::ViewRef view);
    // Whether a tick stamped `stamp` (low 32 bits of the clock) is still
    // wanted: the timer exists and runs, and the tick is at most three
    // intervals old. A null window matches any window.
    bool IsTimerValid(uint32_t id, plat::WindowRef window, plat::ViewRef view, uint32_t stamp) const;
    // Removes the records of this window or view and those whose window or
    // view is gone (the latter test only on the main thread). Returns
    // whether a record was removed.
    bool DisposeTimers(plat::WindowRef window, plat::ViewRef view);
    // First record in array order with this id (TIMERID_ANY: any), window
    // (AnyWindow(): any) and exactly this view; -1 when none.
    int GetTimerIdxFromId(uint32_t id, plat::WindowRef window, plat::ViewRef view) const;
    // The poll (main thread).
    void TimerEventProc();

    int GetResolution() const { return fResolution; }
    int NumTimers() const { return timers.NumItems(); }

private:
    void EnsureLoopTimer();

    plat::LoopTimerRef fLoopTimer = nullptr;
    int fResolution;
    DYNARRAY<TIMEREVENT> timers;

    static WINTIMER* pInstance;
};
