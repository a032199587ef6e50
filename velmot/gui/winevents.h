// The toolkit's glue to the platform's events.
//
// TEventHandler is the event-handler base of the application object, the
// windows and the controls: it installs one handler on the object's event
// target, adds the (class, kind) pairs the object registers, hands every
// such event to the object's HandleEvent and lets whatever that answers
// with -9874 ("not handled") go on to the next handler, the standard
// handling and the containment chain. TCarbonEvent is the wrapper of one
// event that HandleEvent receives: typed parameters, sending and posting.
//
// The toolkit message is an event of class 'VLMT', kind 1024: a message
// number and three words, addressed to a window (VTGW) or a view (VTGV) or,
// with neither, to the application. Every word that may carry a pointer is
// pointer-sized (MSGWORD).
#pragma once

#include "platform/events/queue.h"
#include "velmot/core/logit.h"
#include "velmot/core/vtypes.h"

#include <cstddef>

// The toolkit's creator code for window and control properties and the
// class of its messages.
constexpr FOURCHARCODE VLMT_CREATOR = plat::FourCC("VLMT");
constexpr FOURCHARCODE EVENTCLASS_VELMOT = plat::kEventClassToolkit;
constexpr uint32_t EVENTKIND_VELMOTMESSAGE = plat::kEventToolkitMessage;

// Parameters of the toolkit message.
constexpr FOURCHARCODE VPARAM_TARGETWINDOW = plat::FourCC("VTGW"); // plat::WindowRef
constexpr FOURCHARCODE VPARAM_TARGETVIEW = plat::FourCC("VTGV");   // plat::ViewRef
constexpr FOURCHARCODE VPARAM_MESSAGE = plat::FourCC("VMSG");      // MSGWORD
constexpr FOURCHARCODE VPARAM_P1 = plat::FourCC("VMP1");           // MSGWORD
constexpr FOURCHARCODE VPARAM_P2 = plat::FourCC("VMP2");           // MSGWORD
constexpr FOURCHARCODE VPARAM_P3 = plat::FourCC("VMP3");           // MSGWORD
constexpr FOURCHARCODE VPARAM_RESULT = plat::FourCC("VRET");       // MSGWORD

// Message numbers. The application's own messages run from WM_USER + 1 to
// WM_USER + 0xEF; the toolkit's lie above.
constexpr uint32_t WM_USER = 0x400;
constexpr uint32_t WM_USERFIRST = WM_USER + 0x01;  // 1025
constexpr uint32_t WM_USERLAST = WM_USER + 0xEF;   // 1263
constexpr uint32_t WM_APPFUNCTION = WM_USER + 0xF0; // 1264, a call on the main thread
constexpr uint32_t WM_USERMESSAGEEND = WM_USER + 0xFF; // 1279, the last one OnUserMessage gets
constexpr uint32_t WM_DELIVERYPROBE = 0x501; // 1281, answered 'okay' by a live target
constexpr uint32_t WM_GENERICALERT = 0x505;  // 1285, an alert run on the main thread
constexpr uint32_t WM_VTIMER = 0x511;        // 1297, a timer tick
constexpr uint32_t WM_VMOUSE = 0x512;        // 1298, a mouse message
constexpr uint32_t WM_VCONTROL = 0x513;      // 1299, a control report
constexpr uint32_t WM_VCOMMAND = 0x514;      // 1300, a command
constexpr MSGWORD DELIVERYPROBE_OKAY = plat::FourCC("okay");

// Windows mouse messages and flags.
constexpr int WM_MOUSEMOVE = 0x200;
constexpr int WM_LBUTTONDOWN = 0x201;
constexpr int WM_LBUTTONUP = 0x202;
constexpr int WM_RBUTTONDOWN = 0x204;
constexpr int WM_RBUTTONUP = 0x205;
constexpr int WM_MBUTTONDOWN = 0x207;
constexpr int WM_MBUTTONUP = 0x208;
constexpr int WM_MOUSEWHEEL = 0x20A;
constexpr int MK_SHIFT = 0x04;
constexpr int MK_CONTROL = 0x08;
constexpr int MK_CONTROLCLICK = 0x10; // a left click with Control, taken as a right click

// One event, as HandleEvent receives it or as the toolkit builds it.
class VELMOT_EXPORT TCarbonEvent {
public:
    // A new event of this class and kind.
    TCarbonEvent(FOURCHARCODE eventClass, uint32_t kind);
    // The event being dispatched (not owned).
    explicit TCarbonEvent(plat::Event& event);
    TCarbonEvent(TCarbonEvent const&) = delete;
    TCarbonEvent& operator=(TCarbonEvent const&) = delete;

    FOURCHARCODE GetClass() const { return fEvent->Class(); }
    uint32_t GetKind() const { return fEvent->Kind(); }
    plat::Event& GetEventRef() const { return *fEvent; }

    // Typed parameters; an absent or mistyped one gives -9870/-9871 and
    // leaves *value alone.
    template <class T>
    plat::Status GetParameter(FOURCHARCODE name, FOURCHARCODE type, T* value) const
    {
        return fEvent->Get(name, type, value);
    }
    template <class T>
    plat::Status SetParameter(FOURCHARCODE name, FOURCHARCODE type, T const& value)
    {
        return fEvent->Set(name, type, value);
    }
    bool HasParameter(FOURCHARCODE name) const { return fEvent->HasParam(name); }

    // Pointer-sized words; `fallback` when absent.
    MSGWORD GetWord(FOURCHARCODE name, MSGWORD fallback = 0) const { return fEvent->GetWord(name, fallback); }
    plat::Status SetWord(FOURCHARCODE name, MSGWORD value) { return fEvent->SetWord(name, value); }

    // Sends the event (waits for the handlers, from any thread; see
    // plat::SendEvent) or posts it to the main queue for `target`.
    plat::Status SendToEventTarget(plat::TargetRef target, uint32_t options = 0);
    plat::Status PostToQueue(plat::TargetRef target);

private:
    plat::EventPtr fOwned; // set when this wrapper made the event
    plat::Event* fEvent;
};

// The event-handler base. The handler is installed on GetEventTarget() by
// the first RegisterForEvents (and again when the target changed since);
// it is removed by the destructor. Main thread.
//
// Lifetime: an object must not be deleted while one of its handlers runs,
// nor while a loop entered from one (a modal run, an alert) is running,
// which would return into it. Code that wants an object gone (its close
// box, a window closing itself) calls DeleteLater; the object is deleted on
// a later turn of the loop, once nothing of it is on the stack. Its own
// handlers hold it by themselves; code of the object that runs a nested
// loop outside a handler (a dialog's modal run) holds it with a HOLD.
class VELMOT_EXPORT TEventHandler {
public:
    TEventHandler() = default;
    // A copy is a new object: it gets no handler of its own until it
    // registers for events.
    TEventHandler(TEventHandler const&) : TEventHandler() {}
    TEventHandler& operator=(TEventHandler const&) { return *this; }

    virtual plat::TargetRef GetEventTarget() const = 0;
    virtual plat::Status HandleEvent(plat::HandlerCall* call, TCarbonEvent& event) = 0;
    virtual ~TEventHandler();

    // Adds event types to this object's handler; 0 or the platform status.
    plat::Status RegisterForEvents(size_t count, plat::EventType const* types);
    void RemoveEventHandler();
    bool HasEventHandler() const { return fHandler != nullptr; }

    // Deletes the object (made with new) once it is not held: on the next
    // turn of the loop, or on the turn after the last hold ends. Calling it
    // again changes nothing.
    void DeleteLater();
    bool IsDeletePending() const { return fDeletePending; }
    bool IsHeld() const { return fHolds > 0; }

    // Keeps the object from being deleted by DeleteLater while it lives.
    class VELMOT_EXPORT HOLD {
    public:
        explicit HOLD(TEventHandler& object);
        ~HOLD();
        HOLD(HOLD const&) = delete;
        HOLD& operator=(HOLD const&) = delete;

    private:
        TEventHandler& fObject;
    };

private:
    void ScheduleDelete();

    plat::HandlerRef fHandler = nullptr;
    plat::TargetRef fHandlerTarget = nullptr;
    int fHolds = 0;
    bool fDeletePending = false;
};

// Writes the toolkit's warning line for a failed platform call to the log:
// "<subsystem> WARNING! verify(<expression>) failed <source> at <file>
// <line> with <status> ..." (both platform and errno readings).
VELMOT_EXPORT void VerifyFailed(char const* expression, char const* file, int line, int status);
#define VERIFYSTATUS(expr, status) ((status) == 0 ? true : (VerifyFailed((expr), __FILE__, __LINE__, (status)), false))

// Reports a broken precondition with the report text callers and logs know
// it by (which need not be the C++ spelling of the condition).
#define VASSERT(cond, text, info) ((cond) ? 1 : AssertMsg(0, (text), __FILE__, __LINE__, (info), false))
// The same, yielding whether the condition held (AssertMsg itself answers
// 1), for code that refuses what broke the precondition.
#define VCHECK(cond, text, info) ((cond) ? true : (AssertMsg(0, (text), __FILE__, __LINE__, (info), false), false))
