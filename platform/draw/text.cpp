// Text drawing on a context: runs laid out as one line, and characters on
// a fixed cell grid.
#include "platform/draw/qtdraw_p.h"

#include <QGlyphRun>

#include <algorithm>

namespace plat {
namespace {

// Glyph space: Qt lays glyphs out with y growing downward from the
// baseline; mapping it through a y flip at the origin puts the glyphs
// upright in a y-up user space.
QTransform GlyphSpace(Point origin) { return QTransform(1, 0, 0, -1, origin.x, origin.y); }

void DrawString(ContextImpl& c, const Font& font, Point origin, const QString& s, double extra)
{
    if (s.isEmpty())
        return;
    const QFont& qfont = font.Impl().FontWithExtra(extra);
    double x = origin.x;
    for (size_t start = 0; start < static_cast<size_t>(s.size());) {
        size_t end = TextPieceEnd(s, start);
        QString piece = s.mid(qsizetype(start), qsizetype(end - start));
        // Measuring is needed only to place a following piece or a shadow.
        TextExtent e;
        if (end < static_cast<size_t>(s.size()) || c.state.shadow)
            e = font.Measure(
                std::u16string_view(reinterpret_cast<const char16_t*>(piece.utf16()), size_t(piece.size())), extra);
        QRectF bounds(x, origin.y - e.descent, e.width, e.ascent + e.descent);
        QTransform glyph = GlyphSpace(Point{x, origin.y});
        QColor color = c.state.fill;
        c.Paint(bounds, [&](QPainter& p, const QTransform& t) {
            p.setWorldTransform(glyph * t);
            p.setFont(qfont);
            p.setPen(color);
            p.drawText(QPointF(0, 0), piece);
        });
        x += e.width;
        start = end;
    }
}

void DrawCellRun(ContextImpl& c, const Font& font, Point origin, std::u32string_view cells, int cellWidth)
{
    if (cells.empty())
        return;
    const FontImpl& f = font.Impl();
    c.glyphs.clear();
    c.positions.clear();
    // Characters the face lacks (outside its repertoire, often outside the
    // BMP) are drawn one by one with fontconfig's fallback face.
    std::vector<size_t> fallback;
    for (size_t i = 0; i < cells.size(); ++i) {
        char32_t ch = cells[i];
        if (ch == 0 || ch == U' ')
            continue;
        uint32_t g = f.Glyph(ch);
        if (g == 0) {
            fallback.push_back(i);
            continue;
        }
        c.glyphs.push_back(g);
        c.positions.emplace_back(double(i) * cellWidth, 0.0);
    }
    if (c.glyphs.empty() && fallback.empty())
        return;
    double ascent = f.raw.ascent(), descent = f.raw.descent();
    QRectF bounds(origin.x, origin.y - descent, double(cells.size()) * cellWidth, ascent + descent);
    QTransform glyph = GlyphSpace(origin);
    QColor color = c.state.fill;
    c.Paint(bounds, [&](QPainter& p, const QTransform& t) {
        p.setWorldTransform(glyph * t);
        p.setPen(color);
        if (!c.glyphs.empty()) {
            QGlyphRun run;
            run.setRawFont(f.raw);
            run.setRawData(c.glyphs.data(), c.positions.data(), static_cast<int>(c.glyphs.size()));
            p.drawGlyphRun(QPointF(0, 0), run);
        }
        if (!fallback.empty()) {
            p.setFont(f.font);
            for (size_t i : fallback)
                p.drawText(QPointF(double(i) * cellWidth, 0), ToQString(cells.substr(i, 1)));
        }
    });
}

} // namespace

void DrawContext::DrawText(const Font& font, Point origin, std::u16string_view text, double extraAdvance)
{
    DrawString(*impl_, font, origin, ToQString(text), extraAdvance);
}

void DrawContext::DrawText(const Font& font, Point origin, std::u32string_view text, double extraAdvance)
{
    DrawString(*impl_, font, origin, ToQString(text), extraAdvance);
}

void DrawContext::DrawCells(const Font& font, Point origin, std::u32string_view cells, int cellWidth)
{
    DrawCellRun(*impl_, font, origin, cells, cellWidth);
}

void DrawContext::DrawCells(const Font& font, Point origin, std::u16string_view cells, int cellWidth)
{
    std::u32string wide;
    wide.reserve(cells.size());
    for (size_t i = 0; i < cells.size(); ++i) {
        char16_t u = cells[i];
        if (QChar::isHighSurrogate(u) && i + 1 < cells.size() && QChar::isLowSurrogate(cells[i + 1])) {
            wide.push_back(QChar::surrogateToUcs4(u, cells[i + 1]));
            ++i;
        } else {
            wide.push_back(QChar::isSurrogate(u) ? U'\uFFFD' : char32_t(u));
        }
    }
    DrawCellRun(*impl_, font, origin, wide, cellWidth);
}

} // namespace plat
