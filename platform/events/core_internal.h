// Links between the parts of the event core; not for callers.
#pragma once

#include "platform/events/target.h"

namespace plat {

// The synchronous send on the main thread (target.cpp).
Status SendOnMainThread(Event& event, TargetRef target, uint32_t options);

// A send from another thread: queued, then waited for (queue.cpp).
Status SendAcrossThreads(const EventPtr& event, TargetRef target, uint32_t options, int timeoutMs);

} // namespace plat
