// Qt side of windows and views, for the platform layer's own parts (the
// drawing layer, controls, menus and dialogs built on the event road).
// Nothing outside platform/ includes this.
#pragma once

#include "platform/events/keys.h"
#include "platform/events/views.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QPainter;
class QRect;
class QRegion;

namespace plat::bridge {

struct ViewRec {
    TargetRef target = nullptr;
    QPointer<QWidget> widget;
    ViewId id;
    OSType kind = 0;
    int32_t value = 0;
    int32_t minimum = 0;
    int32_t maximum = 0;
    bool disposing = false;
    bool haveFrame = false;
    RectI lastFrame;
    // Told after SetViewValue/Minimum/Maximum changed the numbers, so a
    // control over a Qt widget can show them.
    std::function<void()> onValueChanged;
};

struct WindowRec {
    TargetRef target = nullptr;
    QPointer<QWidget> widget; // the top-level widget, also the root view's
    ViewRef root = nullptr;
    ViewRef content = nullptr;
    WindowClass windowClass = WindowClass::Document;
    bool disposing = false;
    bool haveBounds = false;
    RectI lastBounds;
    bool applyingBounds = false;
    int wheelRestX = 0; // eighths of a degree not yet reported
    int wheelRestY = 0;
};

// Records of live handles; null for stale ones. Main thread.
ViewRec* GetViewRec(ViewRef view);
WindowRec* GetWindowRec(WindowRef window);

inline ViewRef ViewRefOf(const ViewRec* rec)
{
    return reinterpret_cast<ViewRef>(rec->target);
}
inline WindowRef WindowRefOf(const WindowRec* rec)
{
    return reinterpret_cast<WindowRef>(rec->target);
}

// The view whose widget this is, or null.
ViewRec* ViewRecOfWidget(const QWidget* widget);
// The view of the widget or of its nearest ancestor inside the same window;
// null when the widget does not belong to one of our windows.
ViewRec* NearestViewRec(QWidget* widget);
// Our window of the widget's top-level widget, or null.
WindowRec* WindowRecOfWidget(QWidget* widget);

// Wraps a widget as a view of `kind` in front of `parent`'s subviews; the
// view owns the widget from then on (DisposeView deletes it). Null on
// failure.
ViewRef CreateViewForWidget(QWidget* widget, ViewRef parent, const RectI& frame, ViewId id, OSType kind);

QWidget* WidgetOfView(ViewRef view);
QWidget* WidgetOfWindow(WindowRef window);

// Sends 'cntl' kind 4 to the view with the painter and the update region.
Status SendDrawEvent(ViewRec* view, QPainter& painter, const QRegion& update);

// Translates a Qt key event (keys.cpp). The translator keeps the presses
// that are down, to match their releases by scan code.
KeyRecord TranslateKeyEvent(const class QKeyEvent& event);
void ResetKeyTranslator();
// Modifier bits of Qt modifiers, with caps and num lock from the last key
// event of the window system.
uint32_t ModifiersFromQt(Qt::KeyboardModifiers mods);

// Registers an existing widget as a view whose target hangs below
// `parentTarget` (windows.cpp builds the root and content views with it).
ViewRef RegisterView(QWidget* widget, TargetRef parentTarget, ViewId id, OSType kind);

// Disposes of a view tree: 1001 to each view, then their handles go stale;
// the widgets are deleted (later, outside their own event handling) unless
// the top one belongs to a window.
void DisposeViewTree(ViewRec* view, bool deleteWidget);

// Widgets of disposed views that Qt has not deleted yet; their events are
// nobody's.
bool IsDeadWidget(const QWidget* widget);
void MarkDeadWidget(QWidget* widget);

// Moves the window to the front of ListWindows' order.
void NoteWindowActivated(WindowRec* window);

// The event filter, its installation and the window registry's shut-down
// (eventfilter.cpp, windows.cpp).
void InstallEventFilter();
void RemoveEventFilter();
void DisposeAllWindows();

} // namespace plat::bridge
