// Event targets, their handler stacks and synchronous sending.
//
// A target is the application, a window, a view, a toolbar or toolbar item.
// Each one has a stack of handlers (the newest runs first), each handler
// registered for a set of (class, kind) pairs, then an optional standard
// handler that plays the role of the platform's default behaviour, and a
// parent in the containment chain (view -> superview -> window ->
// application).
//
// Sending an event to a target runs, in order: the matching handlers of the
// target until one answers something other than kErrEventNotHandled, then
// the target's standard handler, then the same on the parent, and so on up
// the chain. The answer is 0 (handled), a handler's own status, or
// kErrEventNotHandled when nobody took it. A handler may call
// HandlerCall::CallNext to run the rest of the target's chain first; the
// chain of that target then ends with what the handler answers.
//
// Handles are numbers that are never reused. The registry of live targets
// is checked on every use, so a stale handle is detected and a dead target
// is never touched. Targets are created, changed, destroyed and dispatched
// on the main thread only; IsTargetAlive and TargetHandles are safe from
// any thread (they answer the delivery probe without touching a window).
#pragma once

#include "platform/events/event.h"

#include <cstddef>
#include <functional>
#include <span>

namespace plat {

struct OpaqueTarget;
using TargetRef = OpaqueTarget*; // an id, never a pointer to memory

enum class TargetKind : uint32_t {
    Application = FourCC("appl"),
    Window = FourCC("wind"),
    View = FourCC("view"),
    Toolbar = FourCC("tbar"),
    ToolbarItem = FourCC("tbit"),
};

struct EventType {
    OSType eventClass;
    uint32_t kind;
};

struct OpaqueHandler;
using HandlerRef = OpaqueHandler*; // an id, never a pointer to memory

class HandlerCall;
using HandlerFn = std::function<Status(HandlerCall& call, Event& event)>;

// What a handler may do with the chain it runs in.
class HandlerCall {
public:
    // Runs the remaining handlers of this target and then its standard
    // handler; returns their answer. Calling it again returns
    // kErrEventNotHandled.
    Status CallNext(Event& event);
    TargetRef Target() const { return target_; }

private:
    friend struct Dispatcher;
    HandlerCall(struct Dispatcher& d, TargetRef target, size_t next)
        : dispatcher_(d), target_(target), next_(next) {}
    struct Dispatcher& dispatcher_;
    TargetRef target_;
    size_t next_;
    bool nextCalled_ = false;
};

// Send options.
constexpr uint32_t kSendDontPropagate = 1; // stop at the first target

// Creates a target with this parent (null: none). Main thread.
TargetRef CreateTarget(TargetKind kind, TargetRef parent = nullptr);

// Marks the target dead at once and frees it when no dispatch runs on it.
// Handlers are dropped without being told. Main thread.
Status DestroyTarget(TargetRef target);

// Whether the handle names a live target (any thread).
bool IsTargetAlive(TargetRef target);

// Whether the target is alive and a handler for (class, kind) is installed
// on it or, with `climb`, on one of its ancestors (any thread). This is the
// delivery probe: it touches no window.
bool TargetHandles(TargetRef target, OSType eventClass, uint32_t kind, bool climb);

// Kind of a live target (any thread); false for a stale handle.
bool GetTargetKind(TargetRef target, TargetKind* kind);

Status SetTargetParent(TargetRef target, TargetRef parent);
TargetRef GetTargetParent(TargetRef target);

// The handler that runs after the target's own handlers; empty removes it.
Status SetStandardHandler(TargetRef target, HandlerFn fn);

// One word the owner of a target keeps with it (the bridge's window or view
// object). Main thread.
Status SetTargetOwner(TargetRef target, void* owner);
void* GetTargetOwner(TargetRef target);

// Installs a handler on top of the target's stack. Main thread; null on
// failure.
HandlerRef InstallHandler(TargetRef target, std::span<const EventType> types, HandlerFn fn);
Status AddHandlerTypes(HandlerRef handler, std::span<const EventType> types);
Status RemoveHandlerTypes(HandlerRef handler, std::span<const EventType> types);
// Safe from inside any handler, its own included.
Status RemoveHandler(HandlerRef handler);

// Sends the event to the target and returns the answer (see above).
// On the main thread the handlers run before it returns. From another
// thread the event is queued behind everything that thread posted before
// and the caller waits until the main thread has run the handlers; the
// wait always ends: with the handlers' answer, with kErrTargetGone when the
// target is gone (at once when it is already gone), with kErrQueueClosed
// when the event core shuts down, or with kErrTimedOut after `timeoutMs`
// (-1: no limit). A thread that waits must hold no lock the main thread
// needs.
Status SendEvent(Event& event, TargetRef target, uint32_t options = 0, int timeoutMs = -1);

// Properties: byte blocks kept on a target under (creator, tag). Main
// thread. GetTargetProperty copies up to `capacity` bytes and tells the
// stored size; kErrParamNotFound when absent.
Status SetTargetProperty(TargetRef target, OSType creator, OSType tag, const void* data, size_t size);
Status GetTargetProperty(TargetRef target, OSType creator, OSType tag, void* out, size_t capacity,
                         size_t* actualSize = nullptr);
Status RemoveTargetProperty(TargetRef target, OSType creator, OSType tag);

// The event being dispatched on the main thread, or null.
const Event* CurrentEvent();

// Drops every target (event core shut-down). Main thread.
void DestroyAllTargets();

} // namespace plat
