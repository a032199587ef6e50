// Views: the rectangles inside a window that draw and take input.
//
// A view is a target whose parent is its superview, or its window for the
// root view. It carries an id (a four-character signature and a number) and
// a kind (a four-character code) by which the layers above find and treat
// it, a frame in its superview's coordinates, visibility, an enabled state,
// a value with minimum and maximum, and properties ((creator, tag) byte
// blocks of its target).
//
// Views receive 'keyb' and 'text' events when they hold the keyboard focus,
// 'mous' events for the mouse over them, and 'cntl' events: draw (4, with
// kParamDrawContext and kParamUpdateRect), set focus part (7: part 1 on
// focus in, 0 on focus out), bounds changed (154) and dispose (1001). Events
// not taken climb to the superview, the window and the application, except
// draw and dispose, which concern the one view only (a painter belongs to
// exactly one view). What no one takes goes on to the window system's own
// handling of the widget.
//
// Main thread only, except ViewTarget and SetViewNeedsDisplay; a call from
// another thread is refused (kErrWrongThread) and reported on stderr.
// Stale handles are detected (see windows.h).
#pragma once

#include "platform/events/windows.h"

#include <string>
#include <vector>

namespace plat {

struct ViewId {
    OSType signature = 0;
    int32_t id = 0;
    bool operator==(const ViewId&) const = default;
};

constexpr OSType kViewKindUserPane = FourCC("upan");
constexpr OSType kViewKindContent = FourCC("cnvw");
constexpr OSType kViewKindRoot = FourCC("root");
constexpr ViewId kContentViewId{FourCC("wind"), 1};

// A plain view that paints through draw events (kind 'upan' unless given).
// It is added in front of the parent's subviews. Null on failure.
ViewRef CreateUserPane(ViewRef parent, const RectI& frame, ViewId id, OSType kind = kViewKindUserPane);

// Disposes of the view and its subviews (1001 to each, deepest last).
Status DisposeView(ViewRef view);
bool IsViewValid(ViewRef view);

TargetRef ViewTarget(ViewRef view); // any thread, like WindowTarget
ViewRef ViewFromTarget(TargetRef target); // null unless a live view

WindowRef GetViewWindow(ViewRef view);
ViewRef GetSuperview(ViewRef view);
// Direct subviews, front to back.
std::vector<ViewRef> GetSubviews(ViewRef view);
// Moves the view into `parent`, in front of its subviews, keeping its frame.
Status AddSubview(ViewRef parent, ViewRef view);
// The first view with this id in the subtree of `root` (root included),
// searched front to back, depth first.
ViewRef FindViewById(ViewRef root, ViewId id);

Status SetViewId(ViewRef view, ViewId id);
ViewId GetViewId(ViewRef view);
OSType GetViewKind(ViewRef view);

Status SetViewFrame(ViewRef view, const RectI& frame); // superview coordinates
RectI GetViewFrame(ViewRef view);

Status SetViewVisible(ViewRef view, bool visible);
bool IsViewVisible(ViewRef view);        // it and all its superviews
bool IsViewLatentlyVisible(ViewRef view); // its own flag

Status SetViewEnabled(ViewRef view, bool enabled);
bool IsViewEnabled(ViewRef view);

// The help tag shown while the mouse rests on the view (UTF-8; empty:
// none).
Status SetViewToolTip(ViewRef view, const std::string& text);
std::string GetViewToolTip(ViewRef view);

// The value is kept between minimum and maximum; changing the range clamps
// it.
Status SetViewValue(ViewRef view, int32_t value);
Status SetViewMinimum(ViewRef view, int32_t minimum);
Status SetViewMaximum(ViewRef view, int32_t maximum);
int32_t GetViewValue(ViewRef view);
int32_t GetViewMinimum(ViewRef view);
int32_t GetViewMaximum(ViewRef view);

Status SetViewProperty(ViewRef view, OSType creator, OSType tag, const void* data, size_t size);
Status GetViewProperty(ViewRef view, OSType creator, OSType tag, void* out, size_t capacity,
                       size_t* actualSize = nullptr);
Status RemoveViewProperty(ViewRef view, OSType creator, OSType tag);

// Marks the rectangle (view coordinates; null: all of it) for repainting.
// Any thread: from another thread the mark is handed to the main thread,
// many marks in one task (a view gone by then loses its own).
Status SetViewNeedsDisplay(ViewRef view, const RectI* rect = nullptr);
// Paints the view now.
Status RenderView(ViewRef view);

// Keyboard focus inside a window.
Status SetKeyboardFocus(ViewRef view);
ViewRef GetKeyboardFocus(WindowRef window);

// Converts a point from one view's coordinates to another's in the same
// window; a null view stands for the window's content area.
PointI ConvertViewPoint(PointI point, ViewRef from, ViewRef to);

} // namespace plat
