// Running work on the main thread.
//
// Services that receive work on other threads (the notification bus, sound
// completion) hand it to the main thread through PostToMainThread. The event
// loop installs the poster when it starts; until then tasks wait in a queue
// that PumpPendingTasks runs (tests and start-up code pump it by hand).
#pragma once

#include <functional>

namespace plat {

using Task = std::function<void()>;
using TaskPoster = std::function<void(Task)>;

// Installs (or, with an empty function, removes) the poster of the event
// loop. Tasks queued before it was installed are handed to it at once.
void SetMainThreadPoster(TaskPoster poster);

// Runs the task on the main thread: through the installed poster, else by
// queueing it for PumpPendingTasks. Safe from any thread.
void PostToMainThread(Task task);

// Runs the queued tasks on the calling thread; returns how many ran.
int PumpPendingTasks();

} // namespace plat
