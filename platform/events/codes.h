// Status codes, event classes and kinds, parameter names and parameter types
// of the platform layer's events.
//
// The numbers that callers above this layer depend on are fixed here once:
// -9874 "event not handled", the toolkit's own event class 'VLMT' with kind
// 1024, and the class/kind pairs that windows, views, keys and the mouse
// produce. Everything else about an event (its parameters) is addressed by
// four-character name and type.
#pragma once

#include "platform/events/fourcc.h"

#include <cstdint>

namespace plat {

using Status = int32_t;

// Results of sends and parameter access.
constexpr Status kNoErr = 0;
constexpr Status kErrParamNotFound = -9870;   // no parameter of that name
constexpr Status kErrParamWrongType = -9871;  // stored with another type or size
constexpr Status kErrTargetGone = -9872;      // stale handle, or destroyed before delivery
constexpr Status kErrWrongThread = -9873;     // main-thread operation called elsewhere
constexpr Status kErrEventNotHandled = -9874; // nobody took the event
constexpr Status kErrTimedOut = -9875;        // a waiting send gave up
constexpr Status kErrBadArgument = -9876;     // null or out-of-range argument
constexpr Status kErrQueueClosed = -9877;     // the event core is shut down
constexpr Status kErrAppEventNotHandled = -1708; // application event declined

// Parameter types. Words that may carry a pointer are pointer-sized.
constexpr OSType kTypeWildcard = FourCC("****"); // matches any type when reading
constexpr OSType kTypeWord = FourCC("magn");     // uintptr_t
constexpr OSType kTypeUInt32 = FourCC("UI32");   // uint32_t
constexpr OSType kTypeSInt32 = FourCC("long");   // int32_t
constexpr OSType kTypeUInt64 = FourCC("UI64");   // uint64_t
constexpr OSType kTypeBool = FourCC("bool");     // uint8_t 0 or 1
constexpr OSType kTypeOSType = FourCC("type");   // OSType
constexpr OSType kTypeFloat64 = FourCC("doub");  // double
constexpr OSType kTypePoint = FourCC("hipt");    // PointF
constexpr OSType kTypeIntPoint = FourCC("ipnt"); // PointI
constexpr OSType kTypeIntRect = FourCC("irct");  // RectI
constexpr OSType kTypeTarget = FourCC("etrg");   // TargetRef
constexpr OSType kTypeWindow = FourCC("wind");   // WindowRef
constexpr OSType kTypeView = FourCC("ctrl");     // ViewRef
constexpr OSType kTypePointer = FourCC("ptr ");  // void*
constexpr OSType kTypePainter = FourCC("pntr");  // PainterRef
constexpr OSType kTypeUTF8 = FourCC("utf8");     // UTF-8 bytes, no terminator
constexpr OSType kTypeUTF32 = FourCC("ut32");    // char32_t array
constexpr OSType kTypeKeyRecord = FourCC("krec"); // KeyRecord

// Parameter names used by the events this layer produces.
constexpr OSType kParamDirectObject = FourCC("----"); // the window or view the event is about
constexpr OSType kParamWindow = FourCC("wind");       // WindowRef of the window
constexpr OSType kParamKeyModifiers = FourCC("kmod"); // UInt32, kMod* bits
constexpr OSType kParamKeyRecord = FourCC("krec");    // KeyRecord
constexpr OSType kParamText = FourCC("tstx");         // UTF32, the typed text
constexpr OSType kParamMouseGlobal = FourCC("mloc");  // PointF, screen coordinates
constexpr OSType kParamMouseInWindow = FourCC("wmou"); // PointF, relative to the window's content
constexpr OSType kParamMouseInView = FourCC("vmou");  // PointF, relative to the target view
constexpr OSType kParamMouseButton = FourCC("mbtn");  // UInt32: 1 left, 2 right, 3 middle
constexpr OSType kParamClickCount = FourCC("ccnt");   // UInt32
constexpr OSType kParamMouseChord = FourCC("chor");   // UInt32, buttons held after the event: 1 left, 2 right, 4 middle
constexpr OSType kParamWheelAxis = FourCC("mwax");    // UInt32: 0 horizontal, 1 vertical
constexpr OSType kParamWheelDelta = FourCC("mwdl");   // SInt32, notches; positive away from the user
constexpr OSType kParamAttributes = FourCC("attr");   // UInt32, bounds-change bits
constexpr OSType kParamPreviousBounds = FourCC("prbd"); // IntRect
constexpr OSType kParamCurrentBounds = FourCC("crct");  // IntRect; a bounds-changing handler may rewrite it
constexpr OSType kParamDrawContext = FourCC("cntx");  // Painter
constexpr OSType kParamUpdateRect = FourCC("rgnh");   // IntRect in view coordinates
constexpr OSType kParamControlPart = FourCC("cprt");  // SInt32
constexpr OSType kParamTickStamp = FourCC("stmp");    // UInt32, low 32 bits of the clock

// Event classes and kinds.
constexpr OSType kEventClassToolkit = FourCC("VLMT"); // the toolkit's messages
constexpr uint32_t kEventToolkitMessage = 1024;

constexpr OSType kEventClassKeyboard = FourCC("keyb");
constexpr uint32_t kEventKeyDown = 1;
constexpr uint32_t kEventKeyRepeat = 2;
constexpr uint32_t kEventKeyUp = 3;
constexpr uint32_t kEventKeyModifiersChanged = 4;

constexpr OSType kEventClassTextInput = FourCC("text");
constexpr uint32_t kEventTextForKey = 2; // text typed by a key, after the raw key was not taken

constexpr OSType kEventClassMouse = FourCC("mous");
constexpr uint32_t kEventMouseDown = 1;
constexpr uint32_t kEventMouseUp = 2;
constexpr uint32_t kEventMouseMoved = 5;
constexpr uint32_t kEventMouseDragged = 6;
constexpr uint32_t kEventMouseWheel = 10;

constexpr OSType kEventClassWindow = FourCC("wind");
constexpr uint32_t kEventWindowActivated = 5;
constexpr uint32_t kEventWindowDeactivated = 6;
constexpr uint32_t kEventWindowShown = 24;
constexpr uint32_t kEventWindowHidden = 25;
constexpr uint32_t kEventWindowBoundsChanging = 26;
constexpr uint32_t kEventWindowBoundsChanged = 27;
constexpr uint32_t kEventWindowCollapsed = 67;
constexpr uint32_t kEventWindowExpanded = 70;
constexpr uint32_t kEventWindowClose = 72;
constexpr uint32_t kEventWindowFocusAcquired = 200;
constexpr uint32_t kEventWindowFocusRelinquish = 201;
constexpr uint32_t kEventWindowFullScreenEnterStarted = 241;
constexpr uint32_t kEventWindowFullScreenEnterCompleted = 242;
constexpr uint32_t kEventWindowFullScreenExitStarted = 243;
constexpr uint32_t kEventWindowFullScreenExitCompleted = 244;
constexpr uint32_t kEventWindowInit = 1004;
constexpr uint32_t kEventWindowDispose = 1005;

// Bits of kParamAttributes in bounds events.
constexpr uint32_t kBoundsSizeChanged = 4;
constexpr uint32_t kBoundsOriginChanged = 8;

constexpr OSType kEventClassControl = FourCC("cntl");
constexpr uint32_t kEventControlHit = 1;
constexpr uint32_t kEventControlDraw = 4;
constexpr uint32_t kEventControlSetFocusPart = 7;
constexpr uint32_t kEventControlBoundsChanged = 154;
constexpr uint32_t kEventControlDispose = 1001;

// Commands: a menu item chosen, or the command of a toolbar item, control
// or window. The event carries a CommandRecord as kParamDirectObject (type
// kTypeCommand) and goes to the focus chain (view, window, application).
// Kind 2 asks the handlers whether the command is available now.
constexpr OSType kEventClassCommand = FourCC("cmds");
constexpr uint32_t kEventCommandProcess = 1;
constexpr uint32_t kEventCommandUpdateStatus = 2;
constexpr OSType kTypeCommand = FourCC("hcmd"); // CommandRecord

// CommandRecord::attributes: where the command comes from.
constexpr uint32_t kCommandFromMenu = 0x1;
constexpr uint32_t kCommandFromControl = 0x2;   // source: the ViewRef
constexpr uint32_t kCommandFromWindow = 0x4;    // source: the WindowRef

struct CommandRecord {
    uint32_t attributes = 0;
    uint32_t commandId = 0; // four-character code or number
    uintptr_t source = 0;   // the handle named by the attributes, or 0
    uint32_t menuItem = 0;  // 1-based item of a menu command, 0 otherwise
};

// Key modifier bits (kParamKeyModifiers, KeyRecord::modifiers).
constexpr uint32_t kModCommand = 0x100; // the Super key; see keys.h
constexpr uint32_t kModShift = 0x200;
constexpr uint32_t kModCapsLock = 0x400;
constexpr uint32_t kModOption = 0x800;  // Alt
constexpr uint32_t kModControl = 0x1000;
constexpr uint32_t kModNumLock = 0x10000;

// Geometry values carried by parameters.
struct PointF {
    double x = 0;
    double y = 0;
};

struct PointI {
    int32_t x = 0;
    int32_t y = 0;
};

struct RectI {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool operator==(const RectI&) const = default;
};

} // namespace plat
