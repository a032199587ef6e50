// Shadows and gradients: the two effects QPainter has no direct
// counterpart for in the form callers expect.
#include "platform/draw/qtdraw_p.h"

#include <QLinearGradient>
#include <QPaintDevice>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <vector>

namespace plat {
namespace {

// Widths of three box blurs whose succession approximates a Gaussian of the
// given standard deviation (the usual construction from box filters).
std::array<int, 3> BoxWidths(double sigma)
{
    const int n = 3;
    double ideal = std::sqrt(12.0 * sigma * sigma / n + 1.0);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0)
        --lower;
    int upper = lower + 2;
    double m = (12.0 * sigma * sigma - n * lower * lower - 4.0 * n * lower - 3.0 * n) / (-4.0 * lower - 4.0);
    int useLower = static_cast<int>(std::lround(m));
    std::array<int, 3> widths{};
    for (int i = 0; i < n; ++i)
        widths[i] = i < useLower ? lower : upper;
    return widths;
}

// One box pass over `count` values spaced by `stride`, with transparent
// (zero) values outside.
void BoxPass(const float* in, float* out, int count, int stride, int radius)
{
    double sum = 0;
    double norm = 1.0 / (2 * radius + 1);
    for (int i = 0; i <= radius && i < count; ++i)
        sum += in[i * stride];
    for (int i = 0; i < count; ++i) {
        out[i * stride] = static_cast<float>(sum * norm);
        int add = i + radius + 1;
        int drop = i - radius;
        if (add < count)
            sum += in[add * stride];
        if (drop >= 0)
            sum -= in[drop * stride];
    }
}

// Blurs the alpha of the layer and turns it into the shadow colour.
void MakeShadow(QImage& layer, double blur, const QColor& color)
{
    const int w = layer.width();
    const int h = layer.height();
    std::vector<float> a(static_cast<size_t>(w) * h);
    std::vector<float> tmp(a.size());
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<const QRgb*>(layer.constScanLine(y));
        for (int x = 0; x < w; ++x)
            a[static_cast<size_t>(y) * w + x] = static_cast<float>(qAlpha(row[x]));
    }
    // The blur radius is taken as twice the standard deviation.
    double sigma = blur / 2.0;
    if (sigma > 0.2) {
        for (int width : BoxWidths(sigma)) {
            int radius = (width - 1) / 2;
            if (radius <= 0)
                continue;
            for (int y = 0; y < h; ++y)
                BoxPass(&a[static_cast<size_t>(y) * w], &tmp[static_cast<size_t>(y) * w], w, 1, radius);
            for (int x = 0; x < w; ++x)
                BoxPass(&tmp[x], &a[x], h, w, radius);
        }
    }
    const float cr = color.redF(), cg = color.greenF(), cb = color.blueF(), ca = color.alphaF();
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<QRgb*>(layer.scanLine(y));
        for (int x = 0; x < w; ++x) {
            float alpha = std::clamp(a[static_cast<size_t>(y) * w + x] / 255.0f, 0.0f, 1.0f) * ca;
            auto c = [alpha](float v) { return static_cast<int>(std::lround(v * alpha * 255.0f)); };
            row[x] = qRgba(c(cr), c(cg), c(cb), static_cast<int>(std::lround(alpha * 255.0f)));
        }
    }
}

} // namespace

void ContextImpl::PaintShadow(const QRectF& userBounds,
                              const std::function<void(QPainter&, const QTransform&)>& draw)
{
    QTransform t = UserToPainter();
    QRectF shape = t.mapRect(userBounds);
    int margin = static_cast<int>(std::ceil(state.shadowBlur * 1.5)) + 2;
    // The offset is given y-up on the surface; painter coordinates run down.
    QPointF offset(state.shadowOffset.x(), -state.shadowOffset.y());
    QPaintDevice* dev = painter->device();
    QRectF visible = QRectF(0, 0, dev->width(), dev->height()).translated(-offset);
    QRect area = (shape & visible).adjusted(-margin, -margin, margin, margin).toAlignedRect();
    // A shadow never needs more than the surface plus its blur margin.
    if (area.isEmpty() || area.width() > 16384 || area.height() > 16384)
        return;
    QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
    if (layer.isNull())
        return;
    layer.fill(Qt::transparent);
    {
        QPainter lp(&layer);
        lp.setRenderHints(painter->renderHints());
        draw(lp, t * QTransform::fromTranslate(-area.x(), -area.y()));
    }
    MakeShadow(layer, state.shadowBlur, state.shadowColor);
    painter->save();
    painter->setWorldTransform(QTransform());
    painter->drawImage(QPointF(area.topLeft()) + offset, layer);
    painter->restore();
}

void DrawContext::DrawLinearGradient(const Color& from, const Color& to, Point start, Point end,
                                     bool extendBefore, bool extendAfter)
{
    ContextImpl& c = *impl_;
    c.UseUserSpace();
    QTransform t = c.UserToPainter();
    bool invertible = false;
    QTransform inverse = t.inverted(&invertible);
    if (!invertible)
        return;
    QPaintDevice* dev = c.painter->device();
    QRectF deviceRect(0, 0, dev->width(), dev->height());
    if (c.painter->hasClipping())
        deviceRect &= t.mapRect(c.painter->clipBoundingRect());
    QPainterPath area;
    area.addPolygon(inverse.map(QPolygonF(deviceRect)));
    area.closeSubpath();

    QPointF s(start.x, start.y), e(end.x, end.y);
    QPointF d = e - s;
    double length = std::hypot(d.x(), d.y());
    if (!extendBefore || !extendAfter) {
        if (length <= 0)
            return;
        // Keep only the band between the lines through start and end that
        // are perpendicular to the axis (each side opened by its flag).
        QRectF box = area.boundingRect();
        double big = std::hypot(box.width(), box.height()) + length + 1;
        QPointF u = d / length, n(-u.y(), u.x());
        QPointF s0 = extendBefore ? s - u * big : s;
        QPointF e0 = extendAfter ? e + u * big : e;
        QPainterPath band;
        band.addPolygon(QPolygonF({s0 + n * big, e0 + n * big, e0 - n * big, s0 - n * big}));
        band.closeSubpath();
        area = area.intersected(band);
    }
    QLinearGradient gradient(s, e);
    gradient.setColorAt(0, ToQColor(from));
    gradient.setColorAt(1, ToQColor(to));
    gradient.setSpread(QGradient::PadSpread);
    QBrush brush(gradient);
    c.Paint(area.boundingRect(), [&](QPainter& p, const QTransform& pt) {
        p.setWorldTransform(pt);
        p.fillPath(area, brush);
    });
}

} // namespace plat
