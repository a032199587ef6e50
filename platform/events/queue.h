// The main queue, the main thread and the loops that run on it.
//
// The event core is started on the thread that becomes the main thread
// (InitEventCore); everything that touches targets, windows and views runs
// there. Other threads hand work over through the main queue: PostEvent,
// PostTask, SendEvent (target.h) and RunTaskAndWait. The queue is one FIFO,
// so whatever one thread posts or sends arrives in the order it was given.
//
// Every item that carries a waiting sender or a completion is answered
// exactly once: after the main thread has run its handlers (their answer),
// when its target is gone by then (kErrTargetGone), or when the core shuts
// down with the item still queued (kErrQueueClosed). No sender is left
// waiting for an item that will never be delivered.
//
// Loops are run by a LoopDriver: the built-in one blocks on a condition
// variable and needs no window system; the Qt bridge supplies one that runs
// Qt's event loops, so the queue is served inside Qt's own modal loops too.
#pragma once

#include "platform/events/target.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace plat {

// One running loop. Token 0 is the main loop; a modal loop has the token its
// caller chose (the bridge uses the window's handle).
struct LoopFrame {
    uint64_t token = 0;
    bool quit = false;
    int code = 0;
    void* native = nullptr; // the driver's own object for this loop
};

class LoopDriver {
public:
    virtual ~LoopDriver() = default;
    // Any thread, called with the queue's lock held: queued items wait;
    // make the main thread call DispatchPending soon. Must not call back
    // into the queue.
    virtual void Wake() = 0;
    // Main thread: the earliest timer changed; call FireDueTimers when due.
    virtual void TimersChanged() = 0;
    // Main thread: run until frame.quit is set, serving the queue (through
    // Wake) and the timers. May be nested.
    virtual void RunFrame(LoopFrame& frame) = 0;
    // Main thread: frame.quit was just set; make that RunFrame return (once
    // the loops nested inside it have returned).
    virtual void QuitFrame(LoopFrame& frame) = 0;
    // Main thread: one pass over the window system's pending events without
    // waiting.
    virtual void ProcessNativeEvents() {}
};

// Starts the core on the calling thread, which becomes the main thread, and
// creates the application target. `driver` (owned by the caller, alive until
// ShutdownEventCore) runs the loops; null takes the built-in driver. Calling
// it again on the main thread only replaces a non-null driver.
void InitEventCore(LoopDriver* driver = nullptr);

// Main thread: answers every queued item (kErrQueueClosed), removes all
// timers and targets. InitEventCore may start the core again.
void ShutdownEventCore();

bool IsEventCoreRunning();
bool IsMainThread();

// True on the main thread; elsewhere prints a warning naming the operation
// (a few times per process) and returns false.
bool CheckMainThread(const char* operation);

// The application target (any thread); null while the core is not running.
TargetRef ApplicationTarget();

// Queues the event for `target` (null: the application). Any thread. The
// event must not be touched by the poster afterwards.
Status PostEvent(const EventPtr& event, TargetRef target = nullptr, uint32_t options = 0);

// As PostEvent; `done` is called exactly once with the answer (see above),
// on the main thread, or at once on the calling thread when the post fails.
using Completion = std::function<void(Status)>;
Status PostEventWithCompletion(const EventPtr& event, TargetRef target, uint32_t options, Completion done);

// Queues a function to run on the main thread. Any thread.
Status PostTask(std::function<void()> task);

// Runs the function on the main thread and waits for it: at once on the main
// thread, else queued like a post. kErrQueueClosed when it never ran,
// kErrTimedOut when the wait gave up (the function may still run later).
Status RunTaskAndWait(std::function<void()> task, int timeoutMs = -1);

// Main thread: delivers up to `maxItems` queued items; returns how many.
int DispatchPending(int maxItems);

// Main thread: DispatchPending, then one pass over the window system's
// pending events. Returns the number of queued items delivered.
int ProcessPendingEvents(int maxItems);

size_t PendingCount();

// Runs the main loop until QuitMainLoop; returns its code (-1 when it is
// already running or this is not the main thread).
int RunMainLoop();

// Ends the main loop (after any loop nested in it has ended). From another
// thread the request is queued.
void QuitMainLoop(int code = 0);
bool IsMainLoopRunning();

// Runs a nested loop until QuitModalLoop(token). Main thread.
Status RunModalLoop(uint64_t token);
Status QuitModalLoop(uint64_t token);
bool IsModalLoopRunning(uint64_t token);

// Number of loops running, nested ones included (main thread).
int LoopDepth();

// Tells the driver that the timers changed (timers.cpp calls it).
void NotifyTimersChanged();

} // namespace plat
