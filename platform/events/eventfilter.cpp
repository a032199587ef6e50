// The one application-wide event filter: Qt's input and window events
// become our events, sent to the view or window they concern. What our
// handlers do not take goes on to Qt, whose own handling of the widget is
// the standard handling of the event.
#include "platform/events/application.h"
#include "platform/events/bridge_qt.h"
#include "platform/events/queue.h"

#include <QApplication>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QStyleHints>
#include <QWheelEvent>
#include <QWindowStateChangeEvent>

#include <cstdlib>
#include <set>
#include <string>

namespace plat {
namespace bridge {
namespace {

bool Handled(Status s)
{
    return s != kErrEventNotHandled;
}

RectI ToRect(const QRect& r)
{
    return RectI{r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}

// Qt hands an input event that a widget ignored on to its parent widgets,
// through the filter again. The chain of our targets has already climbed to
// the window for it, so those repeats are recognised and left to Qt. A
// repeat is the same kind of event with the same data, for an ancestor of
// the widget that got it first.
struct LastInput {
    QEvent::Type type = QEvent::None;
    const QEvent* event = nullptr;
    quint64 timestamp = 0;
    int code = 0;
    QPointF global;
    QPointer<QWidget> receiver;

    bool IsRepeat(QWidget* w, const QEvent* e, quint64 ts, int c, QPointF g, bool samePointer) const
    {
        if (!receiver || type != e->type() || timestamp != ts || code != c || global != g)
            return false;
        if (samePointer && event != e)
            return false;
        for (QWidget* p = receiver->parentWidget(); p; p = p->parentWidget())
            if (p == w)
                return true;
        return false;
    }

    void Remember(QWidget* w, const QEvent* e, quint64 ts, int c, QPointF g)
    {
        type = e->type();
        event = e;
        timestamp = ts;
        code = c;
        global = g;
        receiver = w;
    }
};

LastInput gLastKey;
LastInput gLastMouse;
LastInput gLastWheel;

// Click counting of our own: the layers above want the count on each press,
// triple clicks included.
struct Clicks {
    quint64 time = 0;
    QPointF global;
    int button = 0;
    int count = 0;
} gClicks;

std::u32string ToUtf32(const QString& s)
{
    std::u32string out;
    for (char32_t c : s.toUcs4())
        out.push_back(c);
    return out;
}

uint32_t ButtonNumber(Qt::MouseButton b)
{
    switch (b) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 3;
    case Qt::BackButton:
        return 4;
    case Qt::ForwardButton:
        return 5;
    default:
        return 0;
    }
}

uint32_t Chord(Qt::MouseButtons buttons)
{
    return ((buttons & Qt::LeftButton) ? 1u : 0u) | ((buttons & Qt::RightButton) ? 2u : 0u) |
           ((buttons & Qt::MiddleButton) ? 4u : 0u);
}

TargetRef TargetOf(ViewRec* view, WindowRec* win)
{
    return view ? view->target : win->target;
}

// The top-level widget's own window record (not for its children).
WindowRec* TopLevel(QWidget* w)
{
    if (!w->isWindow())
        return nullptr;
    WindowRec* rec = WindowRecOfWidget(w);
    return rec && rec->widget == w ? rec : nullptr;
}

Status SendWindowEvent(WindowRec* win, uint32_t kind)
{
    EventPtr e = Event::Create(kEventClassWindow, kind);
    e->Set(kParamDirectObject, kTypeWindow, WindowRefOf(win));
    return SendEvent(*e, win->target);
}

// Tells a window's handlers that it was activated or deactivated, once per
// change: activated (5) and focus acquired (200), or focus relinquished
// (201) and deactivated (6). The window that was active before is
// deactivated first.
void ReportActivation(WindowRec* win, bool on)
{
    if (win->active == on)
        return;
    const WindowRef ref = WindowRefOf(win);
    if (on) {
        for (WindowRef other : ListWindows()) {
            WindowRec* rec = GetWindowRec(other);
            if (rec && rec != win && rec->active)
                ReportActivation(rec, false);
        }
        win = GetWindowRec(ref);
        if (!win || win->disposing || win->active)
            return;
        NoteWindowActivated(win);
    }
    win->active = on;
    SendWindowEvent(win, on ? kEventWindowActivated : kEventWindowFocusRelinquish);
    if (IsWindowValid(ref))
        SendWindowEvent(win, on ? kEventWindowFocusAcquired : kEventWindowDeactivated);
}

// A press on an inactive window activates it before the press is
// delivered, whatever order the window system's own activation comes in.
// False when the window went away meanwhile.
bool ActivateForPress(QWidget* w, WindowRec* win)
{
    if (win->active)
        return true;
    const WindowRef ref = WindowRefOf(win);
    ActivateWindow(ref);
    ReportActivation(win, true);
    return IsWindowValid(ref) && !IsDeadWidget(w);
}

KeyEquivalentMatcher& Matcher()
{
    static auto* matcher = new KeyEquivalentMatcher;
    return *matcher;
}

// Keys whose press a key equivalent took: their releases go nowhere either.
std::set<uint64_t>& TakenKeys()
{
    static auto* taken = new std::set<uint64_t>;
    return *taken;
}

uint64_t KeyIdentity(const KeyRecord& rec)
{
    if (rec.scan)
        return (static_cast<uint64_t>(rec.scanPrefix) << 8) | rec.scan;
    return (uint64_t{1} << 40) | static_cast<uint32_t>(rec.qtKey);
}

// Asks the menu layer's matcher about a press; true when it took the key.
bool MatchKeyEquivalent(WindowRec* win, uint32_t kind, const KeyRecord& rec)
{
    if (kind == kEventKeyUp)
        return TakenKeys().erase(KeyIdentity(rec)) > 0;
    if ((kind != kEventKeyDown && kind != kEventKeyRepeat) || !Matcher())
        return false;
    // A copy: the matcher may replace itself.
    KeyEquivalentMatcher matcher = Matcher();
    if (!matcher(WindowRefOf(win), rec))
        return false;
    if (TakenKeys().size() > 64)
        TakenKeys().clear(); // releases lost while the focus was elsewhere
    TakenKeys().insert(KeyIdentity(rec));
    return true;
}

bool OnKey(QWidget* w, QKeyEvent* k)
{
    // X reports a held key as release/press pairs; only the presses count
    // (as repeats).
    if (k->type() == QEvent::KeyRelease && k->isAutoRepeat())
        return false;
    WindowRec* win = WindowRecOfWidget(w);
    if (!win || IsDeadWidget(w))
        return false;
    if (gLastKey.IsRepeat(w, k, k->timestamp(), k->key(), QPointF(), true))
        return false;
    gLastKey.Remember(w, k, k->timestamp(), k->key(), QPointF());

    const KeyRecord rec = TranslateKeyEvent(*k);
    uint32_t kind = kEventKeyDown;
    if (rec.flags & kKeyModifierKey)
        kind = kEventKeyModifiersChanged;
    else if (rec.flags & kKeyRelease)
        kind = kEventKeyUp;
    else if (rec.flags & kKeyRepeat)
        kind = kEventKeyRepeat;
    if (MatchKeyEquivalent(win, kind, rec)) {
        k->accept();
        return true;
    }
    // The matcher may have closed the window or moved the focus.
    win = WindowRecOfWidget(w);
    if (!win || IsDeadWidget(w))
        return true;
    ViewRec* view = NearestViewRec(w);
    const TargetRef target = TargetOf(view, win);
    const WindowRef winRef = WindowRefOf(win);

    EventPtr e = Event::Create(kEventClassKeyboard, kind);
    e->Set(kParamKeyRecord, kTypeKeyRecord, rec);
    e->Set(kParamKeyModifiers, kTypeUInt32, rec.modifiers);
    e->Set(kParamWindow, kTypeWindow, winRef);
    if (Handled(SendEvent(*e, target))) {
        k->accept();
        return true;
    }
    if ((kind != kEventKeyDown && kind != kEventKeyRepeat) || !(rec.flags & kKeyHasChar))
        return false;
    // Not taken as a raw key: offer what it types. Control characters come
    // from the record; other text from the window system (which may hold
    // several characters, e.g. after a compose sequence).
    std::u32string text;
    if (!(rec.modifiers & kModControl) && !k->text().isEmpty())
        text = ToUtf32(k->text());
    if (text.empty() || text[0] != rec.ch)
        text.assign(1, rec.ch);
    EventPtr t = Event::Create(kEventClassTextInput, kEventTextForKey);
    t->SetParam(kParamText, kTypeUTF32, text.data(), text.size() * sizeof(char32_t));
    t->Set(kParamKeyRecord, kTypeKeyRecord, rec);
    t->Set(kParamKeyModifiers, kTypeUInt32, rec.modifiers);
    t->Set(kParamWindow, kTypeWindow, winRef);
    if (Handled(SendEvent(*t, target))) {
        k->accept();
        return true;
    }
    return false;
}

bool OnInputMethod(QWidget* w, QInputMethodEvent* im)
{
    if (im->commitString().isEmpty())
        return false;
    WindowRec* win = WindowRecOfWidget(w);
    if (!win || IsDeadWidget(w))
        return false;
    ViewRec* view = NearestViewRec(w);
    std::u32string text = ToUtf32(im->commitString());
    EventPtr t = Event::Create(kEventClassTextInput, kEventTextForKey);
    t->SetParam(kParamText, kTypeUTF32, text.data(), text.size() * sizeof(char32_t));
    t->Set(kParamWindow, kTypeWindow, WindowRefOf(win));
    return Handled(SendEvent(*t, TargetOf(view, win)));
}

void SetMouseParams(Event& e, QWidget* w, WindowRec* win, ViewRec* view, QPointF local, QPointF global,
                    Qt::KeyboardModifiers mods)
{
    const QPointF inWindow = w->mapTo(win->widget.data(), local);
    const QPointF inView = view ? view->widget->mapFrom(win->widget.data(), inWindow) : inWindow;
    e.Set(kParamMouseInWindow, kTypePoint, PointF{inWindow.x(), inWindow.y()});
    e.Set(kParamMouseInView, kTypePoint, PointF{inView.x(), inView.y()});
    e.Set(kParamMouseGlobal, kTypePoint, PointF{global.x(), global.y()});
    e.Set(kParamKeyModifiers, kTypeUInt32, ModifiersFromQt(mods));
    e.Set(kParamWindow, kTypeWindow, WindowRefOf(win));
    if (view)
        e.Set(kParamDirectObject, kTypeView, ViewRefOf(view));
}

bool OnMouse(QWidget* w, QMouseEvent* m)
{
    WindowRec* win = WindowRecOfWidget(w);
    if (!win || IsDeadWidget(w))
        return false;
    const QPointF global = m->globalPosition();
    if (gLastMouse.IsRepeat(w, m, m->timestamp(), m->button(), global, false))
        return false;
    gLastMouse.Remember(w, m, m->timestamp(), m->button(), global);
    if (m->type() == QEvent::MouseButtonPress || m->type() == QEvent::MouseButtonDblClick) {
        if (!ActivateForPress(w, win))
            return true;
        win = WindowRecOfWidget(w);
        if (!win)
            return true;
    }
    ViewRec* view = NearestViewRec(w);

    uint32_t kind;
    uint32_t clicks = 0;
    switch (m->type()) {
    case QEvent::MouseButtonDblClick:
        // Qt gives widgets the second press of a double click as this event
        // instead of a press. Should a press with the same data have come
        // too, it was counted already.
        if (gClicks.count > 0 && gClicks.time == m->timestamp() && gClicks.global == global &&
            gClicks.button == static_cast<int>(m->button()))
            return false;
        [[fallthrough]];
    case QEvent::MouseButtonPress: {
        kind = kEventMouseDown;
        const QPointF d = global - gClicks.global;
        const int slop = QGuiApplication::styleHints()->startDragDistance();
        const bool again = gClicks.count > 0 && gClicks.button == static_cast<int>(m->button()) &&
                           m->timestamp() - gClicks.time <=
                               static_cast<quint64>(QGuiApplication::styleHints()->mouseDoubleClickInterval()) &&
                           std::abs(d.x()) <= slop && std::abs(d.y()) <= slop;
        gClicks.count = again ? gClicks.count + 1 : 1;
        if (m->type() == QEvent::MouseButtonDblClick && gClicks.count < 2)
            gClicks.count = 2; // Qt's own judgement wins
        gClicks.time = m->timestamp();
        gClicks.global = global;
        gClicks.button = static_cast<int>(m->button());
        clicks = static_cast<uint32_t>(gClicks.count);
        break;
    }
    case QEvent::MouseButtonRelease:
        kind = kEventMouseUp;
        clicks = static_cast<uint32_t>(gClicks.count);
        break;
    default:
        kind = m->buttons() ? kEventMouseDragged : kEventMouseMoved;
        break;
    }
    EventPtr e = Event::Create(kEventClassMouse, kind);
    SetMouseParams(*e, w, win, view, m->position(), global, m->modifiers());
    e->Set(kParamMouseButton, kTypeUInt32, ButtonNumber(m->button()));
    e->Set(kParamClickCount, kTypeUInt32, clicks);
    e->Set(kParamMouseChord, kTypeUInt32, Chord(m->buttons()));
    if (Handled(SendEvent(*e, TargetOf(view, win)))) {
        m->accept();
        return true;
    }
    return false;
}

bool OnWheel(QWidget* w, QWheelEvent* wh)
{
    WindowRec* win = WindowRecOfWidget(w);
    if (!win || IsDeadWidget(w))
        return false;
    const QPointF global = wh->globalPosition();
    const int code = wh->angleDelta().x() * 65536 + wh->angleDelta().y();
    if (gLastWheel.IsRepeat(w, wh, wh->timestamp(), code, global, false))
        return false;
    gLastWheel.Remember(w, wh, wh->timestamp(), code, global);
    ViewRec* view = NearestViewRec(w);
    // Fine-grained wheels report parts of a notch (120 eighths of a
    // degree); the layers above count whole notches.
    win->wheelRestY += wh->angleDelta().y();
    win->wheelRestX += wh->angleDelta().x();
    const int notchesY = win->wheelRestY / 120;
    const int notchesX = win->wheelRestX / 120;
    win->wheelRestY -= notchesY * 120;
    win->wheelRestX -= notchesX * 120;
    bool handled = false;
    const TargetRef target = TargetOf(view, win);
    for (int axis = 1; axis >= 0; --axis) {
        const int notches = axis ? notchesY : notchesX;
        if (!notches)
            continue;
        EventPtr e = Event::Create(kEventClassMouse, kEventMouseWheel);
        SetMouseParams(*e, w, win, view, wh->position(), global, wh->modifiers());
        e->Set(kParamWheelAxis, kTypeUInt32, static_cast<uint32_t>(axis));
        e->Set(kParamWheelDelta, kTypeSInt32, static_cast<int32_t>(notches));
        handled = Handled(SendEvent(*e, target)) || handled;
        if (!IsTargetAlive(target))
            break;
    }
    if (handled)
        wh->accept();
    return handled;
}

void OnGeometry(QWidget* w)
{
    if (WindowRec* win = TopLevel(w)) {
        // The handlers see the content view laid out for the new size (the
        // layout itself hears of the resize only after this filter).
        bridge::LayOutNow(w);
        const RectI now = ToRect(w->geometry());
        const RectI prev = win->haveBounds ? win->lastBounds : now;
        uint32_t attrs = 0;
        if (now.Width() != prev.Width() || now.Height() != prev.Height())
            attrs |= kBoundsSizeChanged;
        if (now.left != prev.left || now.top != prev.top)
            attrs |= kBoundsOriginChanged;
        win->lastBounds = now;
        win->haveBounds = true;
        if (!attrs)
            return;
        const WindowRef ref = WindowRefOf(win);
        if ((attrs & kBoundsSizeChanged) && !win->applyingBounds) {
            // The size has already changed (X cannot hold a resize back);
            // a handler that wants another size gets it applied now.
            EventPtr e = Event::Create(kEventClassWindow, kEventWindowBoundsChanging);
            e->Set(kParamDirectObject, kTypeWindow, ref);
            e->Set(kParamAttributes, kTypeUInt32, attrs);
            e->Set(kParamPreviousBounds, kTypeIntRect, prev);
            e->Set(kParamCurrentBounds, kTypeIntRect, now);
            RectI wanted = now;
            if (Handled(SendEvent(*e, win->target)) && e->Get(kParamCurrentBounds, kTypeIntRect, &wanted) == kNoErr &&
                wanted != now && wanted.Width() > 0 && wanted.Height() > 0 && IsWindowValid(ref)) {
                win->applyingBounds = true;
                SetWindowBounds(ref, wanted);
                if (IsWindowValid(ref))
                    win->applyingBounds = false;
                return; // the new geometry reports itself
            }
            if (!IsWindowValid(ref))
                return;
        }
        EventPtr e = Event::Create(kEventClassWindow, kEventWindowBoundsChanged);
        e->Set(kParamDirectObject, kTypeWindow, ref);
        e->Set(kParamAttributes, kTypeUInt32, attrs);
        e->Set(kParamPreviousBounds, kTypeIntRect, prev);
        e->Set(kParamCurrentBounds, kTypeIntRect, now);
        SendEvent(*e, win->target);
        return;
    }
    ViewRec* view = ViewRecOfWidget(w);
    if (!view || view->disposing)
        return;
    const RectI now = ToRect(w->geometry());
    const RectI prev = view->haveFrame ? view->lastFrame : now;
    uint32_t attrs = 0;
    if (now.Width() != prev.Width() || now.Height() != prev.Height())
        attrs |= kBoundsSizeChanged;
    if (now.left != prev.left || now.top != prev.top)
        attrs |= kBoundsOriginChanged;
    view->lastFrame = now;
    view->haveFrame = true;
    if (!attrs)
        return;
    EventPtr e = Event::Create(kEventClassControl, kEventControlBoundsChanged);
    e->Set(kParamDirectObject, kTypeView, ViewRefOf(view));
    e->Set(kParamAttributes, kTypeUInt32, attrs);
    e->Set(kParamPreviousBounds, kTypeIntRect, prev);
    e->Set(kParamCurrentBounds, kTypeIntRect, now);
    SendEvent(*e, view->target);
}

bool OnClose(QWidget* w, QEvent* ev)
{
    WindowRec* win = TopLevel(w);
    if (!win)
        return false;
    const WindowRef ref = WindowRefOf(win);
    EventPtr e = Event::Create(kEventClassWindow, kEventWindowClose);
    e->Set(kParamDirectObject, kTypeWindow, ref);
    Status s = SendEvent(*e, win->target);
    if (!IsWindowValid(ref)) {
        ev->accept(); // disposed of (the standard handling): Qt may close it
        return true;
    }
    if (Handled(s)) {
        ev->ignore(); // refused: the window stays
        return true;
    }
    return false;
}

void OnStateChange(QWidget* w, QWindowStateChangeEvent* sc)
{
    WindowRec* win = TopLevel(w);
    if (!win)
        return;
    const WindowRef ref = WindowRefOf(win);
    const Qt::WindowStates before = sc->oldState();
    const Qt::WindowStates now = w->windowState();
    if ((before ^ now) & Qt::WindowMinimized)
        SendWindowEvent(win, (now & Qt::WindowMinimized) ? kEventWindowCollapsed : kEventWindowExpanded);
    if (((before ^ now) & Qt::WindowFullScreen) && IsWindowValid(ref)) {
        const bool enter = now & Qt::WindowFullScreen;
        SendWindowEvent(win, enter ? kEventWindowFullScreenEnterStarted : kEventWindowFullScreenExitStarted);
        if (IsWindowValid(ref))
            SendWindowEvent(win, enter ? kEventWindowFullScreenEnterCompleted : kEventWindowFullScreenExitCompleted);
    }
}

void OnFocus(QWidget* w, QFocusEvent* f)
{
    // Activating or deactivating a window does not move the focus between
    // its views.
    if (f->reason() == Qt::ActiveWindowFocusReason || f->reason() == Qt::PopupFocusReason)
        return;
    ViewRec* view = ViewRecOfWidget(w);
    if (!view || view->disposing)
        return;
    EventPtr e = Event::Create(kEventClassControl, kEventControlSetFocusPart);
    e->Set(kParamDirectObject, kTypeView, ViewRefOf(view));
    e->Set(kParamControlPart, kTypeSInt32, static_cast<int32_t>(f->type() == QEvent::FocusIn ? 1 : 0));
    SendEvent(*e, view->target);
}

// Input of the user, which a modal run keeps from the other windows.
bool IsUserInput(const QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
        return true;
    case QEvent::Close:
        return event->spontaneous(); // the close box, not a program's close()
    default:
        return false;
    }
}

class EventFilter final : public QObject {
public:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (!object->isWidgetType())
            return false;
        QWidget* w = static_cast<QWidget*>(object);
        if (IsUserInput(event)) {
            WindowRec* win = WindowRecOfWidget(w);
            if (win && IsBlockedByModalRun(win)) {
                if (event->type() == QEvent::ShortcutOverride)
                    event->accept(); // no shortcut of Qt's either
                else
                    event->ignore();
                return true;
            }
        }
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            return OnKey(w, static_cast<QKeyEvent*>(event));
        case QEvent::ShortcutOverride:
            // Menu key equivalents of our windows are matched by the menu
            // layer's own matcher (OnKey) before the focused view; Qt's
            // shortcut map must not take keys before it.
            if (WindowRecOfWidget(w)) {
                event->accept();
                return true;
            }
            return false;
        case QEvent::InputMethod:
            if (OnInputMethod(w, static_cast<QInputMethodEvent*>(event))) {
                event->accept();
                return true;
            }
            return false;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
            return OnMouse(w, static_cast<QMouseEvent*>(event));
        case QEvent::Wheel:
            return OnWheel(w, static_cast<QWheelEvent*>(event));
        case QEvent::Resize:
        case QEvent::Move:
            OnGeometry(w);
            return false;
        case QEvent::WindowActivate:
        case QEvent::WindowDeactivate:
            if (WindowRec* win = TopLevel(w))
                ReportActivation(win, event->type() == QEvent::WindowActivate);
            return false;
        case QEvent::Close:
            return OnClose(w, event);
        case QEvent::Show:
        case QEvent::Hide:
            // Spontaneous ones come with minimising and restoring, which are
            // reported as collapsed/expanded.
            if (!event->spontaneous())
                if (WindowRec* win = TopLevel(w))
                    SendWindowEvent(win, event->type() == QEvent::Show ? kEventWindowShown : kEventWindowHidden);
            return false;
        case QEvent::WindowStateChange:
            OnStateChange(w, static_cast<QWindowStateChangeEvent*>(event));
            return false;
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            OnFocus(w, static_cast<QFocusEvent*>(event));
            return false;
        default:
            return false;
        }
    }
};

EventFilter* gFilter = nullptr;

} // namespace

void InstallEventFilter()
{
    if (gFilter || !qApp)
        return;
    gFilter = new EventFilter;
    qApp->installEventFilter(gFilter);
}

void RemoveEventFilter()
{
    if (!gFilter)
        return;
    if (qApp)
        qApp->removeEventFilter(gFilter);
    delete gFilter;
    gFilter = nullptr;
    gLastKey = LastInput();
    gLastMouse = LastInput();
    gLastWheel = LastInput();
    gClicks = Clicks();
    TakenKeys().clear();
}

} // namespace bridge

KeyEquivalentMatcher SetKeyEquivalentMatcher(KeyEquivalentMatcher matcher)
{
    if (!CheckMainThread("SetKeyEquivalentMatcher"))
        return matcher;
    KeyEquivalentMatcher before = std::move(bridge::Matcher());
    bridge::Matcher() = std::move(matcher);
    bridge::TakenKeys().clear();
    return before;
}

} // namespace plat
