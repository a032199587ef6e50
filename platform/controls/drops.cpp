// File drops on views, and theme cursors.
#include "platform/controls/drops.h"

#include "platform/events/bridge_qt.h"
#include "platform/events/queue.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace plat {
namespace {

constexpr char kTrackingProperty[] = "platDragTracking";

std::string UrlsOf(const QMimeData* mime)
{
    std::string out;
    if (!mime)
        return out;
    for (const QUrl& url : mime->urls()) {
        if (!out.empty())
            out += '\n';
        out += url.toString(QUrl::FullyEncoded).toStdString();
    }
    return out;
}

Status SendDrag(ViewRef view, uint32_t kind, const std::string& urls, bool* accept)
{
    TargetRef target = ViewTarget(view);
    if (!target)
        return kErrTargetGone;
    EventPtr e = Event::Create(kEventClassControl, kind);
    e->Set(kParamDirectObject, kTypeView, view);
    e->SetParam(kParamDragUrls, kTypeUTF8, urls.data(), urls.size());
    Status s = SendEvent(*e, target, kSendDontPropagate);
    if (accept) {
        uint8_t yes = 0;
        e->Get(kParamWouldAcceptDrop, kTypeBool, &yes);
        *accept = s == kNoErr && yes;
    }
    return s;
}

class DragWatcher final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        auto* w = static_cast<QWidget*>(object);
        bridge::ViewRec* rec = bridge::ViewRecOfWidget(w);
        if (!rec || rec->disposing || !w->property(kTrackingProperty).toBool())
            return false;
        const ViewRef view = bridge::ViewRefOf(rec);
        switch (event->type()) {
        case QEvent::DragEnter: {
            auto* e = static_cast<QDragEnterEvent*>(event);
            bool accept = false;
            SendDrag(view, kEventControlDragEnter, UrlsOf(e->mimeData()), &accept);
            if (accept) {
                e->setDropAction(Qt::CopyAction);
                e->accept();
            } else {
                e->ignore();
            }
            return true;
        }
        case QEvent::DragMove: {
            auto* e = static_cast<QDragMoveEvent*>(event);
            SendDrag(view, kEventControlDragWithin, UrlsOf(e->mimeData()), nullptr);
            e->setDropAction(Qt::CopyAction);
            e->accept();
            return true;
        }
        case QEvent::DragLeave:
            SendDrag(view, kEventControlDragLeave, std::string(), nullptr);
            return true;
        case QEvent::Drop: {
            auto* e = static_cast<QDropEvent*>(event);
            if (SendDrag(view, kEventControlDragReceive, UrlsOf(e->mimeData()), nullptr) == kNoErr) {
                e->setDropAction(Qt::CopyAction);
                e->accept();
            } else {
                e->ignore();
            }
            return true;
        }
        default:
            return false;
        }
    }
};

QObject* Watcher()
{
    static QObject* watcher = new DragWatcher;
    return watcher;
}

int gCursor = kThemeArrowCursor;

} // namespace

Status SetViewDragTracking(ViewRef view, bool on)
{
    if (!CheckMainThread("SetViewDragTracking"))
        return kErrWrongThread;
    QWidget* w = bridge::WidgetOfView(view);
    if (!w)
        return kErrTargetGone;
    if (on && !w->property(kTrackingProperty).isValid())
        w->installEventFilter(Watcher());
    w->setProperty(kTrackingProperty, on);
    w->setAcceptDrops(on);
    return kNoErr;
}

bool IsViewDragTracking(ViewRef view)
{
    QWidget* w = bridge::WidgetOfView(view);
    return w && w->property(kTrackingProperty).toBool();
}

Status SimulateDrop(ViewRef view, const std::vector<std::string>& urls, PointI where, bool leave)
{
    if (!CheckMainThread("SimulateDrop"))
        return kErrWrongThread;
    QWidget* w = bridge::WidgetOfView(view);
    if (!w)
        return kErrTargetGone;
    QMimeData mime;
    QList<QUrl> list;
    for (const std::string& u : urls)
        list << QUrl::fromEncoded(QByteArray::fromStdString(u));
    mime.setUrls(list);
    const QPointF at(where.x, where.y);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &enter);
    if (!enter.isAccepted() || !bridge::WidgetOfView(view))
        return kNoErr;
    QDragMoveEvent move(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &move);
    if (!bridge::WidgetOfView(view))
        return kNoErr;
    if (leave) {
        QDragLeaveEvent gone;
        QCoreApplication::sendEvent(w, &gone);
        return kNoErr;
    }
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &drop);
    return kNoErr;
}

void SetThemeCursor(int cursor)
{
    if (!CheckMainThread("SetThemeCursor") || cursor == gCursor || !qApp)
        return;
    if (gCursor != kThemeArrowCursor)
        QApplication::restoreOverrideCursor();
    gCursor = cursor;
    if (cursor == kThemeCopyArrowCursor)
        QApplication::setOverrideCursor(Qt::DragCopyCursor);
}

int GetThemeCursor()
{
    return gCursor;
}

} // namespace plat
