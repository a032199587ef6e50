// Window state over QWidget: displays, collapse and zoom, stacking,
// opacity and translucency.
#include "platform/events/windowstate.h"

#include "platform/events/bridge_qt.h"
#include "platform/events/queue.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace plat {

using namespace bridge;

std::vector<RectI> GetDisplayBounds()
{
    std::vector<RectI> out;
    if (!IsMainThread() || !qApp)
        return out;
    QList<QScreen*> screens = QGuiApplication::screens();
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary) {
        screens.removeAll(primary);
        screens.prepend(primary);
    }
    for (QScreen* s : screens) {
        const QRect g = s->geometry();
        out.push_back(RectI{g.x(), g.y(), g.x() + g.width(), g.y() + g.height()});
    }
    return out;
}

Status CollapseWindow(WindowRef window, bool collapse)
{
    WindowRec* rec = GetWindowRec(window);
    if (!rec)
        return kErrTargetGone;
    QWidget* w = rec->widget;
    if (collapse)
        w->setWindowState(w->windowState() | Qt::WindowMinimized);
    else
        w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    return kNoErr;
}

bool IsWindowCollapsed(WindowRef window)
{
    WindowRec* rec = GetWindowRec(window);
    return rec && rec->widget->isMinimized();
}

Status ZoomWindow(WindowRef window, bool zoomOut)
{
    WindowRec* rec = GetWindowRec(window);
    if (!rec)
        return kErrTargetGone;
    QWidget* w = rec->widget;
    if (zoomOut)
        w->setWindowState(w->windowState() | Qt::WindowMaximized);
    else
        w->setWindowState(w->windowState() & ~Qt::WindowMaximized);
    return kNoErr;
}

bool IsWindowZoomed(WindowRef window)
{
    WindowRec* rec = GetWindowRec(window);
    return rec && rec->widget->isMaximized();
}

Status SetWindowAlpha(WindowRef window, double alpha)
{
    WindowRec* rec = GetWindowRec(window);
    if (!rec)
        return kErrTargetGone;
    rec->widget->setWindowOpacity(std::clamp(alpha, 0.0, 1.0));
    return kNoErr;
}

double GetWindowAlpha(WindowRef window)
{
    WindowRec* rec = GetWindowRec(window);
    return rec ? rec->widget->windowOpacity() : 0.0;
}

Status SetWindowTranslucent(WindowRef window, bool on)
{
    WindowRec* rec = GetWindowRec(window);
    if (!rec)
        return kErrTargetGone;
    rec->widget->setAttribute(Qt::WA_TranslucentBackground, on);
    rec->widget->setAttribute(Qt::WA_NoSystemBackground, on);
    if (QWidget* content = WidgetOfView(rec->content))
        content->setAutoFillBackground(!on && content->autoFillBackground());
    return kNoErr;
}

bool IsWindowTranslucent(WindowRef window)
{
    WindowRec* rec = GetWindowRec(window);
    return rec && rec->widget->testAttribute(Qt::WA_TranslucentBackground);
}

Status BringWindowToFront(WindowRef window)
{
    WindowRec* rec = GetWindowRec(window);
    if (!rec)
        return kErrTargetGone;
    rec->widget->raise();
    NoteWindowActivated(rec);
    return kNoErr;
}

Status SendWindowBehind(WindowRef window, WindowRef other)
{
    WindowRec* rec = GetWindowRec(window);
    WindowRec* ref = GetWindowRec(other);
    if (!rec || !ref)
        return kErrTargetGone;
    if (rec == ref)
        return kErrBadArgument;
    rec->widget->stackUnder(ref->widget);
    NoteWindowBehind(rec, ref);
    return kNoErr;
}

WindowRef GetActiveWindow()
{
    if (!IsMainThread() || !qApp)
        return nullptr;
    WindowRec* rec = WindowRecOfWidget(QApplication::activeWindow());
    return rec ? WindowRefOf(rec) : nullptr;
}

} // namespace plat
