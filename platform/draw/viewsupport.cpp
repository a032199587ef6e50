#include "platform/draw/viewsupport.h"

#include "platform/draw/qtdraw_p.h"
#include "platform/events/bridge_qt.h"
#include "platform/events/queue.h"

#include <QFontInfo>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

namespace plat {

Status SetViewFont(ViewRef view, const ViewFontStyle& style)
{
    if (!CheckMainThread("SetViewFont"))
        return kErrWrongThread;
    QWidget* widget = bridge::WidgetOfView(view);
    if (!widget)
        return kErrTargetGone;
    if (style.family.empty()) {
        // A default-constructed font resolves nothing of its own, so the
        // widget goes back to what it inherits: the standard control font.
        widget->setFont(QFont());
        return kNoErr;
    }
    if (style.pixelSize <= 0)
        return kErrBadArgument;
    QFont font(QString::fromStdString(SubstituteFamily(style.family)));
    font.setPixelSize(style.pixelSize);
    font.setBold(style.bold);
    widget->setFont(font);
    return kNoErr;
}

ViewFontStyle GetViewFont(ViewRef view)
{
    ViewFontStyle style;
    if (!CheckMainThread("GetViewFont"))
        return style;
    QWidget* widget = bridge::WidgetOfView(view);
    if (!widget)
        return style;
    QFontInfo info(widget->font());
    style.family = info.family().toStdString();
    style.pixelSize = info.pixelSize();
    style.bold = info.bold();
    return style;
}

std::unique_ptr<Bitmap> GrabView(ViewRef view)
{
    if (!CheckMainThread("GrabView"))
        return nullptr;
    QWidget* widget = bridge::WidgetOfView(view);
    if (!widget || widget->width() <= 0 || widget->height() <= 0)
        return nullptr;
    std::unique_ptr<Bitmap> bitmap = Bitmap::Create(widget->width(), widget->height());
    if (!bitmap)
        return nullptr;
    // render() runs the widget's paint events into the image at one pixel
    // per unit, whatever the screen's device pixel ratio.
    QImage& image = bitmap->Impl().image;
    widget->render(&image, QPoint(0, 0), QRegion(), QWidget::DrawChildren);
    return bitmap;
}

Status SetViewOpaque(ViewRef view, bool opaque)
{
    if (!CheckMainThread("SetViewOpaque"))
        return kErrWrongThread;
    QWidget* widget = bridge::WidgetOfView(view);
    if (!widget)
        return kErrTargetGone;
    widget->setAttribute(Qt::WA_OpaquePaintEvent, opaque);
    widget->setAttribute(Qt::WA_NoSystemBackground, opaque);
    return kNoErr;
}

bool IsViewOpaque(ViewRef view)
{
    QWidget* widget = CheckMainThread("IsViewOpaque") ? bridge::WidgetOfView(view) : nullptr;
    return widget && widget->testAttribute(Qt::WA_OpaquePaintEvent);
}

Status ScrollView(ViewRef view, const RectI* area, int dx, int dy)
{
    if (!CheckMainThread("ScrollView"))
        return kErrWrongThread;
    QWidget* widget = bridge::WidgetOfView(view);
    if (!widget)
        return kErrTargetGone;
    if (dx == 0 && dy == 0)
        return kNoErr;
    const QRect all = widget->rect();
    const QRect r = area ? QRect(area->left, area->top, area->Width(), area->Height()) & all : all;
    if (!r.isEmpty())
        widget->scroll(dx, dy, r);
    return kNoErr;
}

std::unique_ptr<Bitmap> GrabViewFromScreen(ViewRef view)
{
    if (!CheckMainThread("GrabViewFromScreen"))
        return nullptr;
    QWidget* widget = bridge::WidgetOfView(view);
    if (!widget || !widget->isVisible() || widget->width() <= 0 || widget->height() <= 0)
        return nullptr;
    QWidget* top = widget->window();
    QScreen* screen = top->screen();
    if (!screen || !top->windowHandle())
        return nullptr;
    const QPoint at = widget->mapTo(top, QPoint(0, 0));
    QImage shot = screen->grabWindow(top->winId(), at.x(), at.y(), widget->width(), widget->height()).toImage();
    if (shot.isNull())
        return nullptr;
    std::unique_ptr<Bitmap> bitmap = Bitmap::Create(shot.width(), shot.height());
    if (!bitmap)
        return nullptr;
    bitmap->Impl().image = shot.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return bitmap;
}

} // namespace plat
