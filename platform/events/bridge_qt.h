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

// The numbers of a control, kept by its widget alone (platform/controls).
// The widget implements this and lives as long as the view's record.
class ControlAdapter {
public:
    virtual int32_t Value() const = 0;
    virtual void SetValue(int32_t value) = 0;
    virtual int32_t Minimum() const = 0;
    virtual void SetMinimum(int32_t minimum) = 0;
    virtual int32_t Maximum() const = 0;
    virtual void SetMaximum(int32_t maximum) = 0;

protected:
    ~ControlAdapter() = default;
};

struct ViewRec {
    TargetRef target = nullptr;
    QPointer<QWidget> widget;
    ViewId id;
    OSType kind = 0;
    // A control's widget holds its numbers; views without one (user
    // panes) keep theirs here.
    ControlAdapter* control = nullptr;
    int32_t value = 0;
    int32_t minimum = 0;
    int32_t maximum = 0;
    bool disposing = false;
    bool haveFrame = false;
    RectI lastFrame;
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
    bool active = false; // as last reported to the window's handlers
    int wheelRestX = 0; // eighths of a degree not yet reported
    int wheelRestY = 0;
};

// Records of live handles; null for stale ones. Main thread: called on
// another thread they answer null and say so on stderr, naming the caller
// (the calling function's name, filled in by the compiler at the call).
ViewRec* GetViewRec(ViewRef view, const char* caller = __builtin_FUNCTION());
WindowRec* GetWindowRec(WindowRef window, const char* caller = __builtin_FUNCTION());

// What a call answers when GetViewRec or GetWindowRec found nothing: the
// handle is stale, or the call came from another thread.
Status Gone();

// Reports a view or window call made off the main thread (a few lines per
// operation, then it falls silent).
void WarnOffMainThread(const char* caller = __builtin_FUNCTION());

// SetViewNeedsDisplay from another thread: the area is kept and handed to
// the main thread, many calls in one task (invalidation.cpp).
Status PostViewInvalidation(ViewRef view, const RectI* rect);

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

// Lays the top-level widget's menu bar and content view out for its present
// size at once (Qt's layout hears of a resize only after the event filter,
// and of a hidden window's only when it is shown).
void LayOutNow(QWidget* top);

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

// True while a modal run for another window is up: the window gets no
// input.
bool IsBlockedByModalRun(const WindowRec* window);

// Where the keyboard goes back when a modal run ends: made when the run
// starts, it notes the active window (else the modal widget's owner), and
// when it goes it activates that window again, so that keys and shortcuts
// reach it without a click (a window system without a window manager, or
// one slow to act, leaves no window active).
class MODALRETURN {
public:
    explicit MODALRETURN(QWidget* modal);
    ~MODALRETURN();
    MODALRETURN(const MODALRETURN&) = delete;
    MODALRETURN& operator=(const MODALRETURN&) = delete;

private:
    QPointer<QWidget> previous_;
    QPointer<QWidget> modal_;
};

// Moves the window to the front of ListWindows' order, or right behind
// another one.
void NoteWindowActivated(WindowRec* window);
void NoteWindowBehind(WindowRec* window, WindowRec* other);

// The event filter, its installation and the window registry's shut-down
// (eventfilter.cpp, windows.cpp).
void InstallEventFilter();
void RemoveEventFilter();
void DisposeAllWindows();

} // namespace plat::bridge
