// Views over Qt widgets, the view tree and the user pane.
#include "platform/events/bridge_qt.h"
#include "platform/events/painter_qt.h"
#include "platform/events/queue.h"

#include <QCoreApplication>
#include <QHash>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QSet>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

namespace plat {
namespace bridge {
namespace {

QHash<const QWidget*, ViewRec*>& Views()
{
    static auto* views = new QHash<const QWidget*, ViewRec*>;
    return *views;
}

QSet<const QWidget*>& Dead()
{
    static auto* dead = new QSet<const QWidget*>;
    return *dead;
}

// Receives the destroyed() signal of every registered widget, so a widget
// that Qt deletes behind our back (with its parent) leaves no live handle.
QObject* Watcher()
{
    static QObject* watcher = new QObject;
    return watcher;
}

void OnWidgetDestroyed(QObject* object)
{
    const QWidget* w = static_cast<QWidget*>(object);
    Dead().remove(w);
    ViewRec* rec = Views().take(w);
    if (!rec)
        return;
    DestroyTarget(rec->target);
    delete rec;
}

class PaneWidget : public QWidget {
public:
    explicit PaneWidget(QWidget* parent) : QWidget(parent)
    {
        setMouseTracking(true);
        setFocusPolicy(Qt::ClickFocus);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        ViewRec* rec = ViewRecOfWidget(this);
        if (!rec || rec->disposing)
            return;
        QPainter painter(this);
        if (rec->kind == FourCC("plac"))
            DrawPlacard(painter);
        SendDrawEvent(rec, painter, event->region());
    }

private:
    // A placard is a raised panel under whatever the program draws on it.
    void DrawPlacard(QPainter& p)
    {
        const QPalette& pal = palette();
        const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Inactive;
        p.save();
        p.fillRect(rect(), pal.color(group, QPalette::Window));
        QStyleOptionFrame frame;
        frame.initFrom(this);
        frame.state |= QStyle::State_Raised;
        frame.lineWidth = 1;
        frame.midLineWidth = 0;
        style()->drawPrimitive(QStyle::PE_Frame, &frame, &p, this);
        p.setPen(pal.color(group, QPalette::Light));
        p.drawLine(QPointF(1, 1.5), QPointF(width() - 2, 1.5));
        p.restore();
    }
};

RectI ToRect(const QRect& r)
{
    return RectI{r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}

QRect ToQRect(const RectI& r)
{
    return QRect(r.left, r.top, std::max(0, r.Width()), std::max(0, r.Height()));
}

void ClampValue(ViewRec* rec)
{
    if (rec->minimum <= rec->maximum)
        rec->value = std::clamp(rec->value, rec->minimum, rec->maximum);
}

} // namespace

ViewRec* GetViewRec(ViewRef view, const char* caller)
{
    if (!IsMainThread()) {
        WarnOffMainThread(caller);
        return nullptr;
    }
    TargetRef t = reinterpret_cast<TargetRef>(view);
    TargetKind kind;
    if (!GetTargetKind(t, &kind) || kind != TargetKind::View)
        return nullptr;
    auto* rec = static_cast<ViewRec*>(GetTargetOwner(t));
    return rec && rec->widget ? rec : nullptr;
}

ViewRec* ViewRecOfWidget(const QWidget* widget)
{
    return Views().value(widget, nullptr);
}

bool IsDeadWidget(const QWidget* widget)
{
    return Dead().contains(widget);
}

void MarkDeadWidget(QWidget* widget)
{
    Dead().insert(widget);
}

ViewRec* NearestViewRec(QWidget* widget)
{
    for (QWidget* w = widget; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        if (IsDeadWidget(w))
            return nullptr;
        if (ViewRec* rec = ViewRecOfWidget(w))
            return rec->disposing ? nullptr : rec;
    }
    return nullptr;
}

ViewRef RegisterView(QWidget* widget, TargetRef parentTarget, ViewId id, OSType kind)
{
    TargetRef t = CreateTarget(TargetKind::View, parentTarget);
    if (!t)
        return nullptr;
    auto* rec = new ViewRec;
    rec->target = t;
    rec->widget = widget;
    rec->id = id;
    rec->kind = kind;
    rec->lastFrame = ToRect(widget->geometry());
    rec->haveFrame = true;
    SetTargetOwner(t, rec);
    Views().insert(widget, rec);
    QObject::connect(widget, &QObject::destroyed, Watcher(), OnWidgetDestroyed);
    return ViewRefOf(rec);
}

ViewRef CreateViewForWidget(QWidget* widget, ViewRef parent, const RectI& frame, ViewId id, OSType kind)
{
    if (!widget || !CheckMainThread("CreateViewForWidget"))
        return nullptr;
    ViewRec* p = GetViewRec(parent);
    if (!p || p->disposing || Views().contains(widget))
        return nullptr;
    widget->setParent(p->widget);
    widget->setGeometry(ToQRect(frame));
    ViewRef ref = RegisterView(widget, p->target, id, kind);
    if (!ref)
        return nullptr;
    widget->raise();
    widget->setVisible(true);
    return ref;
}

void DisposeViewTree(ViewRec* rec, bool deleteWidget)
{
    if (!rec || rec->disposing)
        return;
    rec->disposing = true;
    ViewRef ref = ViewRefOf(rec);
    EventPtr e = Event::Create(kEventClassControl, kEventControlDispose);
    e->Set(kParamDirectObject, kTypeView, ref);
    SendEvent(*e, rec->target, kSendDontPropagate);
    // The handler may have deleted the widget outright, which already
    // dropped the record.
    if (GetViewRec(ref) != rec)
        return;
    for (ViewRef child : GetSubviews(ref))
        DisposeViewTree(GetViewRec(child), true);
    QWidget* w = rec->widget;
    if (w) {
        Views().remove(w);
        MarkDeadWidget(w);
    }
    DestroyTarget(rec->target);
    delete rec;
    if (w && deleteWidget) {
        // The widget may be the one whose event is being handled right now.
        w->hide();
        w->deleteLater();
    }
}

Status SendDrawEvent(ViewRec* rec, QPainter& painter, const QRegion& update)
{
    ViewRef ref = ViewRefOf(rec);
    EventPtr e = Event::Create(kEventClassControl, kEventControlDraw);
    e->Set(kParamDirectObject, kTypeView, ref);
    e->Set(kParamDrawContext, kTypePainter, RefFromPainter(&painter));
    e->Set(kParamUpdateRect, kTypeIntRect, ToRect(update.boundingRect()));
    std::vector<RectI> rects;
    rects.reserve(size_t(update.rectCount()));
    for (const QRect& r : update)
        rects.push_back(ToRect(r));
    if (!rects.empty())
        e->SetParam(kParamUpdateRegion, kTypeIntRectList, rects.data(), rects.size() * sizeof(RectI));
    // A drawing context belongs to exactly one view: the event does not
    // climb to views that would paint with another view's painter.
    return SendEvent(*e, rec->target, kSendDontPropagate);
}

QWidget* WidgetOfView(ViewRef view)
{
    ViewRec* rec = GetViewRec(view);
    return rec ? rec->widget.data() : nullptr;
}

} // namespace bridge

using namespace bridge;

ViewRef CreateUserPane(ViewRef parent, const RectI& frame, ViewId id, OSType kind)
{
    if (!CheckMainThread("CreateUserPane"))
        return nullptr;
    ViewRec* p = GetViewRec(parent);
    if (!p || p->disposing)
        return nullptr;
    auto* pane = new PaneWidget(nullptr);
    ViewRef ref = CreateViewForWidget(pane, parent, frame, id, kind);
    if (!ref)
        delete pane;
    return ref;
}

Status DisposeView(ViewRef view)
{
    if (!CheckMainThread("DisposeView"))
        return kErrWrongThread;
    ViewRec* rec = GetViewRec(view);
    if (!rec)
        return Gone();
    if (rec->kind == kViewKindRoot)
        return kErrBadArgument; // the window's own; DisposeWindow removes it
    DisposeViewTree(rec, true);
    return kNoErr;
}

bool IsViewValid(ViewRef view)
{
    ViewRec* rec = GetViewRec(view);
    return rec && !rec->disposing;
}

TargetRef ViewTarget(ViewRef view)
{
    TargetRef t = reinterpret_cast<TargetRef>(view);
    TargetKind kind;
    return GetTargetKind(t, &kind) && kind == TargetKind::View ? t : nullptr;
}

ViewRef ViewFromTarget(TargetRef target)
{
    ViewRef ref = reinterpret_cast<ViewRef>(target);
    return GetViewRec(ref) ? ref : nullptr;
}

WindowRef GetViewWindow(ViewRef view)
{
    ViewRec* rec = GetViewRec(view);
    if (!rec)
        return nullptr;
    WindowRec* w = WindowRecOfWidget(rec->widget);
    return w ? WindowRefOf(w) : nullptr;
}

ViewRef GetSuperview(ViewRef view)
{
    ViewRec* rec = GetViewRec(view);
    if (!rec || rec->widget->isWindow())
        return nullptr;
    ViewRec* parent = NearestViewRec(rec->widget->parentWidget());
    return parent ? ViewRefOf(parent) : nullptr;
}

std::vector<ViewRef> GetSubviews(ViewRef view)
{
    std::vector<ViewRef> out;
    ViewRec* rec = GetViewRec(view);
    if (!rec)
        return out;
    // Qt keeps children in stacking order, the topmost last; views are
    // listed front to back.
    const QObjectList& children = rec->widget->children();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if (!(*it)->isWidgetType())
            continue;
        ViewRec* child = ViewRecOfWidget(static_cast<QWidget*>(*it));
        if (child && !child->disposing)
            out.push_back(ViewRefOf(child));
    }
    return out;
}

Status AddSubview(ViewRef parent, ViewRef view)
{
    if (!CheckMainThread("AddSubview"))
        return kErrWrongThread;
    ViewRec* p = GetViewRec(parent);
    ViewRec* rec = GetViewRec(view);
    if (!p || !rec)
        return Gone();
    if (rec->kind == kViewKindRoot || rec->kind == kViewKindContent)
        return kErrBadArgument;
    // Refuses a parent inside the view's own subtree.
    if (Status s = SetTargetParent(rec->target, p->target))
        return s;
    QWidget* w = rec->widget;
    const QRect frame = w->geometry();
    const bool hidden = w->isHidden();
    w->setParent(p->widget);
    w->setGeometry(frame);
    w->raise();
    if (!hidden)
        w->show();
    return kNoErr;
}

ViewRef FindViewById(ViewRef root, ViewId id)
{
    ViewRec* rec = GetViewRec(root);
    if (!rec)
        return nullptr;
    if (rec->id == id)
        return root;
    for (ViewRef child : GetSubviews(root))
        if (ViewRef found = FindViewById(child, id))
            return found;
    return nullptr;
}

Status SetViewId(ViewRef view, ViewId id)
{
    ViewRec* rec = GetViewRec(view);
    if (!rec)
        return Gone();
    rec->id = id;
    return kNoErr;
}

ViewId GetViewId(ViewRef view)
{
    ViewRec* rec = GetViewRec(view);
    return rec ? rec->id : ViewId{};
}

OSType GetViewKind(ViewRef view)
{
    ViewRec* rec = GetViewRec(view);
    return rec ? rec->kind : 0;
}

Status SetViewFrame(ViewRef view, const RectI& frame)
{
    ViewRec* rec = GetViewRec(view);
    if (!rec)
        return Gone();
    if (rec->widget->isWindow())
        return kErrBadArgument; // a window's bounds are SetWindowBounds'
    QWidget* w = rec->widget;
    const QRect old = w->geometry();
    w->setGeometry(ToQRect(frame));
    // Qt keeps the move and resize of a hidden widget until it shows; a
    // view's bounds-changed event does not wait for that.
    if (!w->isVisible() && w->geometry() != old) {
        if (w->testAttribute(Qt::WA_PendingMoveEvent)) {
            w->setAttribute(Qt::WA_PendingMoveEvent, false);
            QMoveEvent move(w->pos(), old.topLeft());
            QCoreApplication::sendEvent(w, &move);
        }
        if (w->testAttribute(Qt::WA_PendingResizeEvent)) {
            w->setAttribute(Qt::WA_PendingResizeEvent, false);
            QResizeEvent resize(w->size(), old.size());
            QCoreApplication::sendEvent(w, &resize);
        }
    }
    return kNoErr;
}

RectI GetViewFrame(ViewRef view)
{
    ViewRec* rec = GetViewRec(view);
    return rec ? ToRect(rec->widget->geometry()) : RectI{};
}

Status SetViewVisible(ViewRef view, bool visible)
{
    ViewRec* rec = GetViewRec(view);
    if (!rec)
        return Gone();
    if (rec->widget->isWindow())
        return kErrBadArgument;
    rec->widget->setVisible(visible);
    return kNoErr;
}

Status SetViewToolTip(ViewRef view, const std::string& text)
{
    ViewRec* rec = GetViewRec(view);
    if (!rec)
        return Gone();
    rec->widget->setToolTip(QString::fromStdString(text));
    return kNoErr;
}

std::string GetViewToolTip(ViewRef view)
{
    ViewRec* rec = GetViewRec(view);
    return rec ? rec->widget->toolTip().toStdString() : std::string();
}

bool IsViewVisible(ViewRef view)
{
    ViewRec* rec = GetViewRec(view);
    return rec && rec->widget->isVisibleTo(rec->widget->window());
}

bool IsViewLatentlyVisible(ViewRef view)
{
    ViewRec* rec = GetViewRec(view);
    return rec && !rec->widget->isHidden();
}

Status SetViewEnabled(ViewRef view, bool enabled)
{
    ViewRec* rec = GetViewRec(view);
    if (!rec)
        return Gone();
    rec->widget->setEnabled(enabled);
    return kNoErr;
}

bool IsViewEnabled(ViewRef view)
{
    ViewRec* rec = GetViewRec(view);
    return rec && rec->widget->isEnabled();
}

Status SetViewValue(ViewRef view, int32_t value)
{
    ViewRec* rec = GetViewRec(view);
    if (!rec)
        return Gone();
    if (rec->control) {
        rec->control->SetValue(value);
        return kNoErr;
    }
    rec->value = value;
    ClampValue(rec);
    return kNoErr;
}

Status SetViewMinimum(ViewRef view, int32_t minimum)
{
    ViewRec* rec = GetViewRec(view);
    if (!rec)
        return Gone();
    if (rec->control) {
        rec->control->SetMinimum(minimum);
        return kNoErr;
    }
    rec->minimum = minimum;
    ClampValue(rec);
    return kNoErr;
}

Status SetViewMaximum(ViewRef view, int32_t maximum)
{
    ViewRec* rec = GetViewRec(view);
    if (!rec)
        return Gone();
    if (rec->control) {
        rec->control->SetMaximum(maximum);
        return kNoErr;
    }
    rec->maximum = maximum;
    ClampValue(rec);
    return kNoErr;
}

int32_t GetViewValue(ViewRef view)
{
    ViewRec* rec = GetViewRec(view);
    if (!rec)
        return 0;
    return rec->control ? rec->control->Value() : rec->value;
}

int32_t GetViewMinimum(ViewRef view)
{
    ViewRec* rec = GetViewRec(view);
    if (!rec)
        return 0;
    return rec->control ? rec->control->Minimum() : rec->minimum;
}

int32_t GetViewMaximum(ViewRef view)
{
    ViewRec* rec = GetViewRec(view);
    if (!rec)
        return 0;
    return rec->control ? rec->control->Maximum() : rec->maximum;
}

Status SetViewProperty(ViewRef view, OSType creator, OSType tag, const void* data, size_t size)
{
    ViewRec* rec = GetViewRec(view);
    return rec ? SetTargetProperty(rec->target, creator, tag, data, size) : Gone();
}

Status GetViewProperty(ViewRef view, OSType creator, OSType tag, void* out, size_t capacity, size_t* actualSize)
{
    ViewRec* rec = GetViewRec(view);
    return rec ? GetTargetProperty(rec->target, creator, tag, out, capacity, actualSize) : Gone();
}

Status RemoveViewProperty(ViewRef view, OSType creator, OSType tag)
{
    ViewRec* rec = GetViewRec(view);
    return rec ? RemoveTargetProperty(rec->target, creator, tag) : Gone();
}

Status SetViewNeedsDisplay(ViewRef view, const RectI* rect)
{
    if (!IsMainThread())
        return PostViewInvalidation(view, rect);
    ViewRec* rec = GetViewRec(view);
    if (!rec)
        return kErrTargetGone;
    if (rect)
        rec->widget->update(ToQRect(*rect));
    else
        rec->widget->update();
    return kNoErr;
}

Status RenderView(ViewRef view)
{
    ViewRec* rec = GetViewRec(view);
    if (!rec)
        return kErrTargetGone;
    rec->widget->repaint();
    return kNoErr;
}

Status SetKeyboardFocus(ViewRef view)
{
    ViewRec* rec = GetViewRec(view);
    if (!rec)
        return Gone();
    rec->widget->setFocus(Qt::OtherFocusReason);
    return kNoErr;
}

ViewRef GetKeyboardFocus(WindowRef window)
{
    QWidget* top = WidgetOfWindow(window);
    QWidget* focus = top ? top->focusWidget() : nullptr;
    ViewRec* rec = focus ? NearestViewRec(focus) : nullptr;
    return rec ? ViewRefOf(rec) : nullptr;
}

PointI ConvertViewPoint(PointI point, ViewRef from, ViewRef to)
{
    ViewRec* f = GetViewRec(from);
    ViewRec* t = GetViewRec(to);
    auto content = [](ViewRec* other) -> QWidget* {
        WindowRec* w = other ? WindowRecOfWidget(other->widget) : nullptr;
        return w ? WidgetOfView(w->content) : nullptr;
    };
    QWidget* fw = f ? f->widget.data() : content(t);
    QWidget* tw = t ? t->widget.data() : content(f);
    if (!fw || !tw)
        return point;
    QPoint p = tw->mapFromGlobal(fw->mapToGlobal(QPoint(point.x, point.y)));
    return PointI{p.x(), p.y()};
}

} // namespace plat
