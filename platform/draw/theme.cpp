// Theme fonts, text and placards over the Qt style.
#include "platform/draw/theme.h"

#include "platform/draw/qtdraw_p.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QStyleOptionFrame>

#include <cmath>

namespace plat {
namespace {

QFont FontOf(ThemeFontId id)
{
    QFont f = QApplication::font();
    int px = f.pixelSize() > 0 ? f.pixelSize() : static_cast<int>(std::lround(f.pointSizeF() * 96.0 / 72.0));
    switch (id) {
    case kThemeSmallSystemFont:
        px -= 2;
        break;
    case kThemeSmallEmphasizedSystemFont:
        px -= 2;
        f.setBold(true);
        break;
    default:
        break;
    }
    f.setPixelSize(std::max(6, px));
    return f;
}

QString QText(const Text& t)
{
    std::u16string_view u = t.Units();
    return QString(reinterpret_cast<const QChar*>(u.data()), static_cast<qsizetype>(u.size()));
}

uint32_t ValueOf(const QColor& c)
{
    return static_cast<uint32_t>(c.red()) | static_cast<uint32_t>(c.green()) << 8 |
           static_cast<uint32_t>(c.blue()) << 16 | static_cast<uint32_t>(255 - c.alpha()) << 24;
}

// The box in surface pixels; the painter's transform is left alone.
QRectF DeviceRect(ContextImpl& c, const Rect& r)
{
    return c.UserToPainter().mapRect(QRectF(r.x, r.y, r.width, r.height));
}

} // namespace

ThemeTextSize GetThemeTextDimensions(const Text& text, ThemeFontId font)
{
    const QFontMetricsF fm(FontOf(font));
    ThemeTextSize s;
    s.width = static_cast<int>(std::ceil(fm.horizontalAdvance(QText(text))));
    s.height = static_cast<int>(std::ceil(fm.ascent() + fm.descent()));
    s.baseline = static_cast<int>(std::ceil(fm.ascent()));
    return s;
}

std::string ThemeFontFamily(ThemeFontId font)
{
    return FontOf(font).family().toStdString();
}

int ThemeFontPixelSize(ThemeFontId font)
{
    return FontOf(font).pixelSize();
}

uint32_t ThemeTextColor(int brush)
{
    const QPalette pal = QApplication::palette();
    if (brush == kThemeTextColorPlacardInactive)
        return ValueOf(pal.color(QPalette::Disabled, QPalette::WindowText));
    return ValueOf(pal.color(QPalette::Active, QPalette::WindowText));
}

void DrawThemeTextBox(DrawContext& context, const Text& text, const Rect& box, ThemeFontId font,
                      int16_t justification, uint32_t colorValue)
{
    if (text.Length() == 0 || box.IsEmpty())
        return;
    ContextImpl& c = context.Impl();
    c.UseUserSpace();
    QPainter& p = *c.painter;
    const QRectF r = DeviceRect(c, box);
    const QFont f = FontOf(font);
    const QString shown = QFontMetricsF(f).elidedText(QText(text), Qt::ElideRight, r.width());
    Qt::Alignment align = Qt::AlignLeft;
    if (justification == 1)
        align = Qt::AlignHCenter;
    else if (justification == -1)
        align = Qt::AlignRight;
    p.save();
    p.resetTransform();
    p.setFont(f);
    p.setPen(ToQColor(ColorFromValue(colorValue)));
    p.setClipRect(r, Qt::IntersectClip);
    p.drawText(r, static_cast<int>(align | Qt::AlignVCenter | Qt::TextSingleLine), shown);
    p.restore();
}

void DrawThemePlacard(DrawContext& context, const Rect& r, bool active)
{
    if (r.IsEmpty())
        return;
    ContextImpl& c = context.Impl();
    c.UseUserSpace();
    QPainter& p = *c.painter;
    const QRectF d = DeviceRect(c, r);
    p.save();
    p.resetTransform();
    const QPalette pal = QApplication::palette();
    const QPalette::ColorGroup group = active ? QPalette::Active : QPalette::Inactive;
    p.fillRect(d, pal.color(group, QPalette::Window));
    QStyleOptionFrame frame;
    frame.rect = d.toAlignedRect();
    frame.palette = pal;
    frame.state = QStyle::State_Raised | (active ? QStyle::State_Active | QStyle::State_Enabled : QStyle::State_None);
    frame.lineWidth = 1;
    frame.midLineWidth = 0;
    QApplication::style()->drawPrimitive(QStyle::PE_Frame, &frame, &p);
    // The light top edge of a raised panel.
    p.setPen(pal.color(group, QPalette::Light));
    p.drawLine(QPointF(d.left() + 1, d.top() + 1.5), QPointF(d.right() - 1, d.top() + 1.5));
    p.restore();
}

} // namespace plat
