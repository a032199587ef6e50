#include "platform/draw/qtdraw_p.h"

#include <QPaintDevice>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace plat {

QColor ToQColor(const Color& c)
{
    auto clamp = [](float v) { return std::isnan(v) ? 0.0f : std::clamp(v, 0.0f, 1.0f); };
    return QColor::fromRgbF(clamp(c.red), clamp(c.green), clamp(c.blue), clamp(c.alpha));
}

ContextImpl::~ContextImpl()
{
    if (!painter)
        return;
    // Unwind what this context pushed, so that a borrowed painter is left
    // exactly as it was handed over.
    for (size_t i = 0; i < saved.size(); ++i)
        painter->restore();
    painter->restore();
    if (ownedPainter)
        ownedPainter->end();
}

void ContextImpl::Init(QPainter* p, const QTransform& baseTransform, bool isBottomUp, Size surface)
{
    painter = p;
    painter->save();
    base = baseTransform;
    bottomUp = isBottomUp;
    size = surface;
    painter->setWorldTransform(base);
    painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setRenderHint(QPainter::TextAntialiasing, true);
    painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter->setBrush(Qt::NoBrush);
    painter->setPen(Qt::NoPen);
}

QPainterPath ContextImpl::PathInUserSpace() const
{
    if (pathCtm == state.ctm)
        return path;
    bool invertible = false;
    QTransform inverse = state.ctm.inverted(&invertible);
    if (!invertible)
        return QPainterPath();
    return (pathCtm * inverse).map(path);
}

QPen ContextImpl::StrokePen() const
{
    QPen pen(state.stroke);
    pen.setWidthF(state.lineWidth);
    switch (state.cap) {
    case LineCap::Butt: pen.setCapStyle(Qt::FlatCap); break;
    case LineCap::Round: pen.setCapStyle(Qt::RoundCap); break;
    case LineCap::Square: pen.setCapStyle(Qt::SquareCap); break;
    }
    // Miter joins with the usual limit of 10 line widths (Qt counts the
    // limit from the join point, half the miter length).
    pen.setJoinStyle(Qt::MiterJoin);
    pen.setMiterLimit(5);
    return pen;
}

DrawContext::DrawContext(std::unique_ptr<ContextImpl> impl) : impl_(std::move(impl)) {}
DrawContext::~DrawContext() = default;

std::unique_ptr<DrawContext> DrawContext::ForPainter(void* qpainter)
{
    auto* p = static_cast<QPainter*>(qpainter);
    if (!p || !p->isActive() || !p->device())
        return nullptr;
    auto impl = std::make_unique<ContextImpl>();
    QPaintDevice* dev = p->device();
    impl->Init(p, p->worldTransform(), false, Size{double(dev->width()), double(dev->height())});
    return std::unique_ptr<DrawContext>(new DrawContext(std::move(impl)));
}

Size DrawContext::SurfaceSize() const { return impl_->size; }
bool DrawContext::IsBottomUp() const { return impl_->bottomUp; }
Bitmap* DrawContext::TargetBitmap() const { return impl_->bitmap; }

void DrawContext::SaveState()
{
    // The painter's state is saved as the user space has it, not as a cell
    // painter left it.
    impl_->UseUserSpace();
    impl_->painter->save();
    impl_->saved.push_back(impl_->state);
}

void DrawContext::RestoreState()
{
    if (impl_->saved.empty())
        return;
    impl_->painter->restore();
    impl_->state = impl_->saved.back();
    impl_->saved.pop_back();
    impl_->SyncTransform();
}

void DrawContext::Translate(double tx, double ty)
{
    impl_->state.ctm.translate(tx, ty);
    impl_->SyncTransform();
}

void DrawContext::Scale(double sx, double sy)
{
    impl_->state.ctm.scale(sx, sy);
    impl_->SyncTransform();
}

void DrawContext::ConcatTransform(const AffineTransform& t)
{
    impl_->state.ctm = QTransform(t.a, t.b, t.c, t.d, t.tx, t.ty) * impl_->state.ctm;
    impl_->SyncTransform();
}

AffineTransform DrawContext::Transform() const
{
    const QTransform& m = impl_->state.ctm;
    return AffineTransform{m.m11(), m.m12(), m.m21(), m.m22(), m.dx(), m.dy()};
}

Size DrawContext::DeviceScale() const
{
    QTransform m = impl_->UserToPainter();
    double ratio = impl_->painter->device()->devicePixelRatioF();
    return Size{std::hypot(m.m11(), m.m12()) * ratio, std::hypot(m.m21(), m.m22()) * ratio};
}

// Path construction. Points are kept in the user space that was current
// when the path began; a transform change in between re-expresses the path
// in the new user space, so each point stays where it was put.
namespace {

void RebasePath(ContextImpl& c)
{
    if (c.pathCtm == c.state.ctm)
        return;
    c.path = c.PathInUserSpace();
    c.pathCtm = c.state.ctm;
}

} // namespace

void DrawContext::BeginPath()
{
    impl_->path = QPainterPath();
    impl_->pathCtm = impl_->state.ctm;
    impl_->hasCurrentPoint = false;
}

void DrawContext::MoveTo(double x, double y)
{
    RebasePath(*impl_);
    impl_->path.moveTo(x, y);
    impl_->hasCurrentPoint = true;
}

void DrawContext::LineTo(double x, double y)
{
    if (!impl_->hasCurrentPoint)
        return;
    RebasePath(*impl_);
    impl_->path.lineTo(x, y);
}

void DrawContext::CurveTo(double c1x, double c1y, double c2x, double c2y, double x, double y)
{
    if (!impl_->hasCurrentPoint)
        return;
    RebasePath(*impl_);
    impl_->path.cubicTo(c1x, c1y, c2x, c2y, x, y);
}

void DrawContext::ClosePath()
{
    if (!impl_->hasCurrentPoint)
        return;
    impl_->path.closeSubpath();
}

void DrawContext::AddRect(const Rect& r)
{
    RebasePath(*impl_);
    impl_->path.addRect(r.x, r.y, r.width, r.height);
    impl_->hasCurrentPoint = true;
}

void DrawContext::AddEllipseInRect(const Rect& r)
{
    RebasePath(*impl_);
    impl_->path.addEllipse(r.x, r.y, r.width, r.height);
    impl_->hasCurrentPoint = true;
}

bool DrawContext::PathIsEmpty() const { return impl_->path.elementCount() == 0; }

Point DrawContext::CurrentPoint() const
{
    if (!impl_->hasCurrentPoint)
        return Point{};
    QPointF p = impl_->path.currentPosition();
    if (impl_->pathCtm != impl_->state.ctm) {
        bool invertible = false;
        QTransform inverse = impl_->state.ctm.inverted(&invertible);
        if (invertible)
            p = (impl_->pathCtm * inverse).map(p);
    }
    return Point{p.x(), p.y()};
}

void DrawContext::FillPath() { DrawPath(PathDrawing::Fill); }
void DrawContext::EvenOddFillPath() { DrawPath(PathDrawing::EvenOddFill); }
void DrawContext::StrokePath() { DrawPath(PathDrawing::Stroke); }

void DrawContext::DrawPath(PathDrawing mode)
{
    ContextImpl& c = *impl_;
    QPainterPath path = c.PathInUserSpace();
    BeginPath();
    if (path.isEmpty())
        return;
    bool fill = mode != PathDrawing::Stroke;
    bool stroke = mode == PathDrawing::Stroke || mode == PathDrawing::FillStroke ||
                  mode == PathDrawing::EvenOddFillStroke;
    bool evenOdd = mode == PathDrawing::EvenOddFill || mode == PathDrawing::EvenOddFillStroke;
    path.setFillRule(evenOdd ? Qt::OddEvenFill : Qt::WindingFill);
    QPen pen = c.StrokePen();
    double halfWidth = stroke ? std::max(c.state.lineWidth, 1.0) * 5 : 0;
    QRectF bounds = path.controlPointRect().adjusted(-halfWidth, -halfWidth, halfWidth, halfWidth);
    QColor fillColor = c.state.fill;
    c.Paint(bounds, [&](QPainter& p, const QTransform& t) {
        p.setWorldTransform(t);
        if (fill)
            p.fillPath(path, fillColor);
        if (stroke)
            p.strokePath(path, pen);
    });
}

namespace {

void ClipWithPath(ContextImpl& c, Qt::FillRule rule)
{
    QPainterPath path = c.PathInUserSpace();
    c.path = QPainterPath();
    c.pathCtm = c.state.ctm;
    c.hasCurrentPoint = false;
    path.setFillRule(rule);
    c.UseUserSpace();
    c.painter->setClipPath(path, Qt::IntersectClip);
}

} // namespace

void DrawContext::Clip() { ClipWithPath(*impl_, Qt::WindingFill); }
void DrawContext::EvenOddClip() { ClipWithPath(*impl_, Qt::OddEvenFill); }

void DrawContext::ClipToRect(const Rect& r)
{
    impl_->UseUserSpace();
    impl_->painter->setClipRect(QRectF(r.x, r.y, r.width, r.height), Qt::IntersectClip);
}

Rect DrawContext::ClipBoundingBox() const
{
    impl_->UseUserSpace();
    QRectF r;
    if (impl_->painter->hasClipping()) {
        r = impl_->painter->clipBoundingRect();
    } else {
        bool invertible = false;
        QTransform inverse = impl_->UserToPainter().inverted(&invertible);
        QPaintDevice* dev = impl_->painter->device();
        if (invertible)
            r = inverse.mapRect(QRectF(0, 0, dev->width(), dev->height()));
    }
    return Rect{r.x(), r.y(), r.width(), r.height()};
}

void DrawContext::SetLineWidth(double width) { impl_->state.lineWidth = width > 0 ? width : 0; }
void DrawContext::SetLineCap(LineCap cap) { impl_->state.cap = cap; }
void DrawContext::SetFillColor(const Color& c) { impl_->state.fill = ToQColor(c); }
void DrawContext::SetStrokeColor(const Color& c) { impl_->state.stroke = ToQColor(c); }

void DrawContext::SetBlendMode(BlendMode mode)
{
    impl_->UseUserSpace();
    impl_->state.blend = mode;
    impl_->painter->setCompositionMode(mode == BlendMode::Difference ? QPainter::CompositionMode_Difference
                                                                     : QPainter::CompositionMode_SourceOver);
}

void DrawContext::SetAntialias(bool on)
{
    impl_->state.antialias = on;
    impl_->painter->setRenderHint(QPainter::Antialiasing, on);
    impl_->painter->setRenderHint(QPainter::TextAntialiasing, on);
    impl_->painter->setRenderHint(QPainter::SmoothPixmapTransform, on);
}

void DrawContext::SetShadow(Size offset, double blur, const Color& c)
{
    GState& s = impl_->state;
    s.shadowColor = ToQColor(c);
    s.shadow = s.shadowColor.alpha() > 0;
    s.shadowOffset = QPointF(offset.width, offset.height);
    s.shadowBlur = blur > 0 ? blur : 0;
}

void DrawContext::ClearShadow() { impl_->state.shadow = false; }

void DrawContext::FillRect(const Rect& r)
{
    ContextImpl& c = *impl_;
    QRectF rect(r.x, r.y, r.width, r.height);
    c.UseUserSpace();
    if (!c.state.shadow) {
        // The common case (a terminal fills a background per run) goes
        // straight to the painter, whose transform is always current.
        c.painter->fillRect(rect, c.state.fill);
        return;
    }
    QColor fill = c.state.fill;
    c.Paint(rect, [&](QPainter& p, const QTransform& t) {
        p.setWorldTransform(t);
        p.fillRect(rect, fill);
    });
}

void DrawContext::StrokeRect(const Rect& r)
{
    BeginPath();
    AddRect(r);
    StrokePath();
}

void DrawContext::ClearRect(const Rect& r)
{
    impl_->UseUserSpace();
    QPainter* p = impl_->painter;
    p->save();
    p->setCompositionMode(QPainter::CompositionMode_Source);
    p->fillRect(QRectF(r.x, r.y, r.width, r.height), Qt::transparent);
    p->restore();
}

void DrawContext::DrawImage(const Rect& r, const Image& image)
{
    if (image.IsNull() || r.IsEmpty())
        return;
    // The larger picture where the surface has more pixels than the
    // picture for the rectangle.
    const ImageImpl& pictures = image.Impl();
    const double scale = impl_->painter ? impl_->painter->device()->devicePixelRatioF() : 1.0;
    const bool large = !pictures.hires.isNull() && r.width * scale > pictures.image.width();
    const QImage& img = large ? pictures.hires : pictures.image;
    // Image space (row 0 at the top) onto the rectangle, upright in y-up
    // user space: the top row lands at the rectangle's maximum y.
    QTransform placement(r.width / img.width(), 0, 0, -r.height / img.height(), r.x, r.MaxY());
    impl_->Paint(QRectF(r.x, r.y, r.width, r.height), [&](QPainter& p, const QTransform& t) {
        p.setWorldTransform(placement * t);
        p.drawImage(QPointF(0, 0), img);
    });
}

namespace {

// Draws the image without resampling when `placement` puts it on the
// surface's pixels one to one, at most flipped vertically: then its rows
// are copied (in reverse order for a flip) instead of going through a
// transformed, filtered draw. False when the placement is any other.
bool BlitAligned(ContextImpl& c, const QTransform& placement, const QImage& img)
{
    const QTransform m = placement * c.UserToPainter();
    if (!IsRasterAtUnitScale(*c.painter) || !IsPixelAligned(m))
        return false;
    QPainter& p = *c.painter;
    c.UseUserSpace();
    p.setWorldTransform(QTransform());
    const int dx = int(m.dx()), dy = int(m.dy());
    if (m.m22() > 0) {
        p.drawImage(QPoint(dx, dy), img);
    } else {
        // Image row r lands on painter row dy - 1 - r; rows outside the
        // clip are skipped.
        int first = 0, last = img.height();
        if (p.hasClipping()) {
            const QRect clip = p.clipBoundingRect().toAlignedRect();
            first = std::max(first, dy - clip.bottom() - 1);
            last = std::min(last, dy - clip.top());
        }
        for (int r = first; r < last; ++r)
            p.drawImage(QPoint(dx, dy - 1 - r), img, QRect(0, r, img.width(), 1));
    }
    c.SyncTransform();
    return true;
}

} // namespace

void DrawContext::DrawBitmap(const Rect& r, const Bitmap& bitmap)
{
    if (r.IsEmpty())
        return;
    const QImage& source = bitmap.Impl().image;
    // Painting an image onto itself reads pixels already overwritten.
    QImage copy;
    const QImage* img = &source;
    if (impl_->targetImage == &source) {
        copy = source.copy();
        img = &copy;
    }
    QTransform placement(r.width / img->width(), 0, 0, -r.height / img->height(), r.x, r.MaxY());
    if (!impl_->state.shadow && BlitAligned(*impl_, placement, *img))
        return;
    impl_->Paint(QRectF(r.x, r.y, r.width, r.height), [&](QPainter& p, const QTransform& t) {
        p.setWorldTransform(placement * t);
        p.drawImage(QPointF(0, 0), *img);
    });
}

void DrawContext::Flush() {}

} // namespace plat
