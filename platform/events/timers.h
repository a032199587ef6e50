// The millisecond clock and timers that fire inside the main loop.
//
// The clock is monotonic and 64 bits wide, counted from the first use in the
// process. Code that must squeeze a time stamp into 32 bits (a tick posted
// as a message word) compares stamps modulo 2^32 with StampAge, so nothing
// stops working once the process has run for 2^32 ms (49.7 days).
//
// Loop timers belong to the main thread: they are installed, removed and
// fired there. A timer never catches up: after a late firing the next one is
// due one interval after the firing.
#pragma once

#include "platform/events/codes.h"

#include <cstdint>
#include <functional>

namespace plat {

// Milliseconds since the clock started (any thread).
uint64_t NowMs();

// The low 32 bits of NowMs, as carried by a message word.
inline uint32_t TickStamp()
{
    return static_cast<uint32_t>(NowMs());
}

// Age in milliseconds of a 32-bit stamp taken at most 2^32 - 1 ms ago,
// computed modulo 2^32 so it stays right when the low word wraps.
inline uint32_t StampAge(uint32_t stamp, uint64_t now)
{
    return static_cast<uint32_t>(now) - stamp;
}

// Replaces the clock (tests): `clock` returns milliseconds; an empty function
// restores the real clock. Main thread, while no other thread reads it.
void SetClockForTesting(std::function<uint64_t()> clock);

struct OpaqueLoopTimer;
using LoopTimerRef = OpaqueLoopTimer*; // an id; stale ones are detected

using LoopTimerFn = std::function<void(LoopTimerRef)>;

// Installs a timer that first fires after `firstDelayMs` and then every
// `intervalMs` (0: once, after which it removes itself). Main thread; null on
// another thread or with an empty function.
LoopTimerRef InstallLoopTimer(uint32_t firstDelayMs, uint32_t intervalMs, LoopTimerFn fn);

// Removes the timer; it never fires again, even when it was already due.
// Safe from inside any timer's function. kErrTargetGone for a stale handle.
Status RemoveLoopTimer(LoopTimerRef timer);

// Whether the timer is still installed (main thread).
bool IsLoopTimerInstalled(LoopTimerRef timer);

// Moves the next firing to `delayMs` from now.
Status SetLoopTimerNextFire(LoopTimerRef timer, uint32_t delayMs);

// Fires every due timer once (main thread); returns how many fired. The
// loop driver calls this; tests with a hand-moved clock call it directly.
int FireDueTimers();

// Milliseconds until the earliest timer is due: 0 when one is due, -1 when
// none is installed.
int64_t MsUntilNextTimer();

// Removes all timers (used when the event core shuts down).
void RemoveAllLoopTimers();

} // namespace plat
