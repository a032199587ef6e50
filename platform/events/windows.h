// Top-level windows.
//
// A window is a target (target.h) whose parent is the application. It
// holds a root view (the whole window) and, inside it, the content view
// (kind 'cnvw', id {'wind', 1}) into which the program places its views.
// The window receives 'wind' events: activated/deactivated (5/6, with focus
// acquired/relinquished 200/201), shown/hidden (24/25), bounds changing
// (26, after a resize; a handler may rewrite kParamCurrentBounds and the
// window takes that size) and changed (27, kParamAttributes with
// kBoundsSizeChanged/kBoundsOriginChanged), collapsed/expanded (67/70),
// full screen (241-244), close (72) and dispose (1005).
//
// Activation is reported once per change, the window that was active
// first: focus relinquished (201) and deactivated (6) to it, then activated
// (5) and focus acquired (200) to the new one. A press on a window that is
// not active activates it first, then is delivered like any other: the
// first click on an inactive window both activates it and acts, the same
// whichever order the window system's own activation comes in. (A window
// blocked by a modal run gets neither.) IsWindowActive answers as the
// handlers were told.
//
// A close request (72) that no handler takes is handled by the window's
// standard handler: it disposes of the window. Disposing sends 1005 to the
// window (not climbing to the application) and 1001 to each of its views,
// ends a modal loop running for it, and makes every handle of it stale.
//
// Handles are numbers checked against the registry of live targets; a stale
// handle gives kErrTargetGone or an empty answer, never a crash. Everything
// here runs on the main thread, except WindowTarget.
#pragma once

#include "platform/events/target.h"

#include <string>
#include <vector>

namespace plat {

struct OpaqueWindow;
using WindowRef = OpaqueWindow*;
struct OpaqueView;
using ViewRef = OpaqueView*;

enum class WindowClass : uint32_t {
    Document = 6,     // titled, resizable top-level window
    Utility = 8,      // frameless tool window
    MovableModal = 4, // titled dialog window
};

// WindowSpec::attributes
constexpr uint32_t kWindowAttrNoResize = 0x1; // fixed size

struct WindowSpec {
    WindowClass windowClass = WindowClass::Document;
    uint32_t attributes = 0;
    RectI bounds{100, 100, 700, 500}; // content area in screen coordinates
    std::string title;                // UTF-8
};

// A new, hidden window. Null on failure.
WindowRef CreateWindow(const WindowSpec& spec);
Status DisposeWindow(WindowRef window);
bool IsWindowValid(WindowRef window);

// The window's target, for sending and posting to it: safe on any thread
// (null when the window is gone).
TargetRef WindowTarget(WindowRef window);
WindowRef WindowFromTarget(TargetRef target); // null unless a live window

ViewRef WindowRootView(WindowRef window);
ViewRef WindowContentView(WindowRef window);

Status ShowWindow(WindowRef window, bool show);
bool IsWindowVisible(WindowRef window);
Status ActivateWindow(WindowRef window); // raises and activates
bool IsWindowActive(WindowRef window);

// The content area in screen coordinates; with `frame`, the whole window
// including the frame the window manager draws.
Status SetWindowBounds(WindowRef window, const RectI& content);
RectI GetWindowBounds(WindowRef window, bool frame = false);

Status SetWindowTitle(WindowRef window, const std::string& utf8);
std::string GetWindowTitle(WindowRef window);

// All live windows, front to back as far as the window system tells.
std::vector<WindowRef> ListWindows();

// Window properties are the target's (creator, tag) byte blocks.
Status SetWindowProperty(WindowRef window, OSType creator, OSType tag, const void* data, size_t size);
Status GetWindowProperty(WindowRef window, OSType creator, OSType tag, void* out, size_t capacity,
                         size_t* actualSize = nullptr);
Status RemoveWindowProperty(WindowRef window, OSType creator, OSType tag);

// Runs an application-modal loop for the window until
// QuitAppModalLoopForWindow (or until the window is disposed of). Other
// windows get no input meanwhile (mouse, wheel, keys, input methods, the
// close box); posted and sent events, timers and painting go on. A window
// that is hidden when the run starts is made modal, shown and activated by
// the run, and hidden again when it ends, so the window system knows it as
// modal from its first showing; a window that is visible already stays as
// it is (it is not hidden and shown again). Runs nest: only the window of
// the innermost run gets input. Responders for kModalWindow (modal.h) run
// inside the loop.
Status RunAppModalLoopForWindow(WindowRef window);
// The windows whose modal runs are going, innermost last.
std::vector<WindowRef> ModalRunWindows();
Status QuitAppModalLoopForWindow(WindowRef window);

} // namespace plat
