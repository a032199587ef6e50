// Cell painting: runs composed from glyph masks and blitted, or drawn as
// glyph runs where the surface does not allow the blit.
#include "platform/draw/cells.h"
#include "platform/draw/qtdraw_p.h"

#include <QGlyphRun>
#include <QPaintEngine>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace plat {
namespace {

// Masks kept per font before the cache starts over. A face has a few
// thousand glyphs; this bounds fonts with far more (CJK faces).
constexpr size_t kMaxGlyphMasks = 8192;
// A run is composed and blitted in pieces of at most this many pixels, so
// the scratch image stays small however long the run.
constexpr int kPieceWidth = 2048;
// Glyphs are not expected to be taller or wider than this.
constexpr int kMaxMaskSide = 512;

GlyphMask RenderMask(const QRawFont& raw, uint32_t glyph)
{
    GlyphMask m;
    const QRectF box = raw.boundingRect(glyph);
    const int left = int(std::floor(box.left())) - 2, top = int(std::floor(box.top())) - 2;
    const int width = std::min(int(std::ceil(box.right())) + 2 - left, kMaxMaskSide);
    const int height = std::min(int(std::ceil(box.bottom())) + 2 - top, kMaxMaskSide);
    if (width <= 0 || height <= 0)
        return m;
    QImage img(width, height, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::TextAntialiasing, true);
        p.setPen(Qt::white);
        QGlyphRun run;
        run.setRawFont(raw);
        quint32 index = glyph;
        QPointF origin(-left, -top);
        run.setRawData(&index, &origin, 1);
        p.drawGlyphRun(QPointF(0, 0), run);
    }
    // Keep only the inked box.
    int x0 = width, x1 = 0, y0 = height, y1 = 0;
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(img.constScanLine(y));
        for (int x = 0; x < width; ++x)
            if (row[x] >> 24) {
                x0 = std::min(x0, x);
                x1 = std::max(x1, x + 1);
                y0 = std::min(y0, y);
                y1 = std::max(y1, y + 1);
            }
    }
    if (x0 >= x1)
        return m;
    m.left = left + x0;
    m.top = top + y0;
    m.width = x1 - x0;
    m.height = y1 - y0;
    m.alpha.resize(size_t(m.width) * size_t(m.height));
    for (int y = 0; y < m.height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(img.constScanLine(y0 + y));
        for (int x = 0; x < m.width; ++x)
            m.alpha[size_t(y) * size_t(m.width) + size_t(x)] = uint8_t(row[x0 + x] >> 24);
    }
    return m;
}

uint32_t Premultiplied(const Color& c) { return qPremultiply(ToQColor(c).rgba()); }

// The pixel of `fore` drawn at each coverage (0..255) over `back`, both
// premultiplied: source-over with the coverage as the source's alpha.
struct Ramp {
    uint32_t fore = 0;
    uint32_t back = 0;
    bool filled = false;
    uint32_t pixel[256];
};

void FillRamp(Ramp& r, uint32_t fore, uint32_t back)
{
    r.fore = fore;
    r.back = back;
    r.filled = true;
    const uint32_t fa = fore >> 24;
    for (uint32_t k = 0; k < 256; ++k) {
        const uint32_t keep = 255 * 255 - fa * k; // of the back colour, in 255ths squared
        uint32_t out = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            const uint32_t f = (fore >> shift) & 0xFF, b = (back >> shift) & 0xFF;
            const uint32_t v = (f * k * 255 + b * keep + 32512) / 65025;
            out |= std::min(v, 255u) << shift;
        }
        r.pixel[k] = out;
    }
}

// Ramps of the colour pairs in use, in a fixed table indexed by a hash of
// the pair (a new pair replaces the one in its slot).
const uint32_t* RampFor(uint32_t fore, uint32_t back)
{
    static auto* ramps = new Ramp[256];
    uint32_t h = (fore * 0x9E3779B1u) ^ (back * 0x85EBCA77u);
    Ramp& r = ramps[(h ^ (h >> 15)) & 255];
    if (!r.filled || r.fore != fore || r.back != back)
        FillRamp(r, fore, back);
    return r.pixel;
}

// The composing area: coverage and colour of one piece of a run.
struct Scratch {
    QImage image;
    std::vector<uint8_t> coverage; // kPieceWidth bytes per row
    std::vector<size_t> fallback;  // cells drawn by a fallback face
};

Scratch& ScratchFor(int height)
{
    static auto* s = new Scratch;
    if (s->image.height() < height) {
        s->image = QImage(kPieceWidth, height, QImage::Format_ARGB32_Premultiplied);
        s->coverage.assign(size_t(kPieceWidth) * size_t(height), 0);
    }
    return *s;
}

// Adds the mask at (ox, oy) of the piece to its coverage, cut to w x h.
void AddMask(uint8_t* coverage, int w, int h, const GlyphMask& m, int ox, int oy)
{
    const int y0 = std::max(0, -oy), y1 = std::min(m.height, h - oy);
    const int x0 = std::max(0, -ox), x1 = std::min(m.width, w - ox);
    for (int y = y0; y < y1; ++y) {
        uint8_t* __restrict d = coverage + size_t(oy + y) * kPieceWidth + ox;
        const uint8_t* __restrict s = m.alpha.data() + size_t(y) * size_t(m.width);
        for (int x = x0; x < x1; ++x)
            d[x] = std::max(d[x], s[x]);
    }
}

bool IsBlank(char32_t ch) { return ch == 0 || ch == U' '; }

QString CharText(char32_t ch)
{
    return ToQString(std::u32string_view(&ch, 1));
}

} // namespace

bool IsRasterAtUnitScale(QPainter& painter)
{
    return painter.paintEngine() && painter.paintEngine()->type() == QPaintEngine::Raster && painter.device() &&
           painter.device()->devicePixelRatioF() == 1.0;
}

bool IsPixelAligned(const QTransform& m)
{
    return m.m11() == 1 && m.m12() == 0 && m.m21() == 0 && std::abs(m.m22()) == 1 && m.m13() == 0 &&
           m.m23() == 0 && std::abs(m.dx()) < 1e9 && std::abs(m.dy()) < 1e9 && m.dx() == std::round(m.dx()) &&
           m.dy() == std::round(m.dy());
}

const GlyphMask* FontImpl::Mask(char32_t ch) const
{
    if (ch < 128 && asciiMasks[ch])
        return asciiMasks[ch];
    const uint32_t g = Glyph(ch);
    if (g == 0)
        return nullptr;
    auto it = masks.find(g);
    if (it == masks.end()) {
        if (masks.size() >= kMaxGlyphMasks) {
            masks.clear();
            asciiMasks.fill(nullptr);
        }
        it = masks.emplace(g, RenderMask(raw, g)).first;
    }
    if (ch < 128)
        asciiMasks[ch] = &it->second;
    return &it->second;
}

struct CellPainter::Impl {
    ContextImpl& c;
    int cellWidth;
    int cellHeight;
    int baseline;
    bool raster = false; // a raster surface at one device pixel per unit

    // In cell space: painter coordinates of user point (x, y) are
    // (x + dx, flip ? dy - y : dy + y).
    int dx = 0;
    int dy = 0;
    bool flip = false;
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;

    QGlyphRun glyphRun; // reused by the glyph-run path

    Impl(ContextImpl& context, int w, int h, int b) : c(context), cellWidth(w), cellHeight(h), baseline(b)
    {
        raster = IsRasterAtUnitScale(*c.painter);
    }

    // Puts the painter into cell space when the surface and the user space
    // allow composed runs; false when runs must be drawn as glyph runs.
    bool Direct()
    {
        if (c.state.shadow || !c.state.antialias || !raster) {
            c.UseUserSpace();
            return false;
        }
        if (c.cellSpace)
            return true;
        const QTransform m = c.UserToPainter();
        if (!IsPixelAligned(m))
            return false;
        dx = int(m.dx());
        dy = int(m.dy());
        flip = m.m22() < 0;
        c.painter->setWorldTransform(QTransform());
        c.painter->setCompositionMode(QPainter::CompositionMode_Source);
        mode = QPainter::CompositionMode_Source;
        c.cellSpace = true;
        return true;
    }

    void SetMode(QPainter::CompositionMode m)
    {
        if (mode != m) {
            c.painter->setCompositionMode(m);
            mode = m;
        }
    }

    // The painter rectangle of a user rectangle (cell space).
    QRect ToPainter(int x, int y, int w, int h) const
    {
        return QRect(x + dx, flip ? dy - (y + h) : dy + y, w, h);
    }
    QRect ToPainter(const Rect& r) const
    {
        const int x0 = int(std::lround(r.x)), y0 = int(std::lround(r.y));
        return ToPainter(x0, y0, int(std::lround(r.x + r.width)) - x0, int(std::lround(r.y + r.height)) - y0);
    }

    void Compose(const CellRun& run, const CellStretch* stretch);
    void DrawGlyphRun(const CellRun& run, const CellStretch* stretch);
};

// Composes the run piece by piece in the scratch image and blits each
// piece.
void CellPainter::Impl::Compose(const CellRun& run, const CellStretch* stretch)
{
    const FontImpl* font = run.font ? &run.font->Impl() : nullptr;
    const int advance = (run.flags & kCellWide) ? 2 * cellWidth : cellWidth;
    const int n = int(run.cells.size());
    const int width = n * advance, h = cellHeight;
    Scratch& s = ScratchFor(h);

    const uint32_t fore = Premultiplied(run.fore);
    const uint32_t* ramp = RampFor(fore, Premultiplied(run.back));
    // The cursor's ramp is copied: its slot may be the run's own.
    uint32_t cursorRamp[256];
    int cx0 = 0, cx1 = 0, cy0 = 0, cy1 = 0;
    if (!run.cursor.IsEmpty()) {
        cx0 = std::max(0, int(std::lround(run.cursor.x)) - run.x);
        cx1 = std::min(width, int(std::lround(run.cursor.MaxX())) - run.x);
        cy0 = std::max(0, int(std::lround(run.cursor.y)) - run.y);
        cy1 = std::min(h, int(std::lround(run.cursor.MaxY())) - run.y);
        if (cx0 < cx1 && cy0 < cy1)
            std::memcpy(cursorRamp, RampFor(fore, Premultiplied(run.cursorColor)), sizeof cursorRamp);
    }
    const bool underline = run.flags & kCellUnderline;

    for (int x0 = 0; x0 < width; x0 += kPieceWidth) {
        const int w = std::min(kPieceWidth, width - x0);
        for (int y = 0; y < h; ++y)
            std::memset(s.coverage.data() + size_t(y) * kPieceWidth, 0, size_t(w));
        // Cells whose glyphs may reach into the piece: its own and one on
        // each side.
        const int first = std::max(0, x0 / advance - 1), last = std::min(n, (x0 + w) / advance + 2);
        s.fallback.clear();
        for (int i = first; i < last; ++i) {
            const char32_t ch = run.cells[size_t(i)];
            if (IsBlank(ch))
                continue;
            const GlyphMask* m = font ? font->Mask(ch) : nullptr;
            if (!m)
                s.fallback.push_back(size_t(i));
            else if (m->width > 0)
                AddMask(s.coverage.data(), w, h, *m, i * advance - x0 + m->left, baseline + m->top);
        }
        for (int y = 0; y < h; ++y) {
            auto* d = reinterpret_cast<uint32_t*>(s.image.scanLine(y));
            const uint8_t* cov = s.coverage.data() + size_t(y) * kPieceWidth;
            for (int x = 0; x < w; ++x)
                d[x] = ramp[cov[x]];
            if (y >= cy0 && y < cy1)
                for (int x = std::max(cx0 - x0, 0), end = std::min(cx1 - x0, w); x < end; ++x)
                    d[x] = cursorRamp[cov[x]];
        }
        if (!s.fallback.empty() && font) {
            QPainter p(&s.image);
            p.setClipRect(QRect(0, 0, w, h));
            p.setRenderHint(QPainter::TextAntialiasing, true);
            p.setPen(ToQColor(run.fore));
            p.setFont(font->font);
            for (size_t i : s.fallback)
                p.drawText(QPointF(double(int(i) * advance - x0), double(baseline)), CharText(run.cells[i]));
        }
        if (underline) {
            auto* d = reinterpret_cast<uint32_t*>(s.image.scanLine(h - 1));
            std::fill(d, d + w, fore);
        }
        // The piece was composed upright; a flipped user space wants it
        // upside down on the surface.
        if (flip)
            for (int y = 0; y < h / 2; ++y) {
                auto* a = reinterpret_cast<uint32_t*>(s.image.scanLine(y));
                auto* b = reinterpret_cast<uint32_t*>(s.image.scanLine(h - 1 - y));
                std::swap_ranges(a, a + w, b);
            }
        SetMode(QPainter::CompositionMode_Source);
        if (!stretch) {
            c.painter->drawImage(ToPainter(run.x + x0, run.y, w, h).topLeft(), s.image, QRect(0, 0, w, h));
            continue;
        }
        // Halves in user space; the scratch holds them the other way round
        // when flipped.
        QRectF source(0, 0, w, h);
        if (*stretch != CellStretch::DoubleWidth) {
            const bool top = (*stretch == CellStretch::DoubleHeightTop) != flip;
            source = QRectF(0, top ? 0 : h / 2.0, w, h / 2.0);
        }
        c.painter->drawImage(QRectF(ToPainter(run.x + 2 * x0, run.y, 2 * w, h)), s.image, source);
    }
}

// The same run drawn with the painter in user space: fills and one glyph
// run, cut to the run's box.
void CellPainter::Impl::DrawGlyphRun(const CellRun& run, const CellStretch* stretch)
{
    const FontImpl* font = run.font ? &run.font->Impl() : nullptr;
    const int advance = (run.flags & kCellWide) ? 2 * cellWidth : cellWidth;
    const double width = double(run.cells.size()) * advance, h = cellHeight;
    QPainter& p = *c.painter;
    p.save();
    QTransform place; // run box -> its place in user space
    if (stretch) {
        p.setClipRect(QRectF(run.x, run.y, 2 * width, h), Qt::IntersectClip);
        const double sy = *stretch == CellStretch::DoubleWidth ? 1 : 2;
        const double shift = *stretch == CellStretch::DoubleHeightBottom ? -h : 0;
        place = QTransform(2, 0, 0, sy, -run.x, run.y * (1 - sy) + shift);
        p.setWorldTransform(place * c.UserToPainter());
    } else {
        p.setClipRect(QRectF(run.x, run.y, width, h), Qt::IntersectClip);
    }
    // The run replaces its cells, translucent colours included.
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(QRectF(run.x, run.y, width, h), ToQColor(run.back));
    if (!run.cursor.IsEmpty())
        p.fillRect(QRectF(run.cursor.x, run.cursor.y, run.cursor.width, run.cursor.height), ToQColor(run.cursorColor));
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    p.setPen(ToQColor(run.fore));
    if (font) {
        c.glyphs.clear();
        c.positions.clear();
        for (size_t i = 0; i < run.cells.size(); ++i) {
            const char32_t ch = run.cells[i];
            if (IsBlank(ch))
                continue;
            const QPointF at(run.x + double(i) * advance, run.y + baseline);
            if (uint32_t g = font->Glyph(ch)) {
                c.glyphs.push_back(g);
                c.positions.push_back(at);
            } else {
                p.setFont(font->font);
                p.drawText(at, CharText(ch));
            }
        }
        if (!c.glyphs.empty()) {
            glyphRun.setRawFont(font->raw);
            glyphRun.setRawData(c.glyphs.data(), c.positions.data(), int(c.glyphs.size()));
            p.drawGlyphRun(QPointF(0, 0), glyphRun);
        }
    }
    if (run.flags & kCellUnderline)
        p.fillRect(QRectF(run.x, run.y + h - 1, width, 1), ToQColor(run.fore));
    p.restore();
}

CellPainter::CellPainter(DrawContext& context, int cellWidth, int cellHeight, int baseline)
    : impl_(std::make_unique<Impl>(context.Impl(), std::max(cellWidth, 0), std::max(cellHeight, 0), baseline))
{
}

CellPainter::~CellPainter() { impl_->c.UseUserSpace(); }

void CellPainter::DrawRun(const CellRun& run)
{
    if (run.cells.empty() || impl_->cellWidth <= 0 || impl_->cellHeight <= 0)
        return;
    if (impl_->Direct())
        impl_->Compose(run, nullptr);
    else
        impl_->DrawGlyphRun(run, nullptr);
}

void CellPainter::DrawRunStretched(const CellRun& run, CellStretch how)
{
    if (run.cells.empty() || impl_->cellWidth <= 0 || impl_->cellHeight <= 0)
        return;
    if (impl_->Direct())
        impl_->Compose(run, &how);
    else
        impl_->DrawGlyphRun(run, &how);
}

void CellPainter::FillRect(const Rect& r, const Color& color)
{
    if (r.IsEmpty())
        return;
    const QColor q = ToQColor(color);
    if (!impl_->Direct()) {
        impl_->c.painter->fillRect(QRectF(r.x, r.y, r.width, r.height), q);
        return;
    }
    // An opaque colour covers the same either way; Source skips the blend.
    impl_->SetMode(q.alpha() == 255 ? QPainter::CompositionMode_Source : QPainter::CompositionMode_SourceOver);
    impl_->c.painter->fillRect(impl_->ToPainter(r), q);
}

void CellPainter::ClearRect(const Rect& r)
{
    if (r.IsEmpty())
        return;
    QPainter& p = *impl_->c.painter;
    if (!impl_->Direct()) {
        p.save();
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(QRectF(r.x, r.y, r.width, r.height), Qt::transparent);
        p.restore();
        return;
    }
    impl_->SetMode(QPainter::CompositionMode_Source);
    p.fillRect(impl_->ToPainter(r), Qt::transparent);
}

void CellPainter::InvertRect(const Rect& r)
{
    if (r.IsEmpty())
        return;
    QPainter& p = *impl_->c.painter;
    if (!impl_->Direct()) {
        p.save();
        p.setCompositionMode(QPainter::CompositionMode_Difference);
        p.fillRect(QRectF(r.x, r.y, r.width, r.height), Qt::white);
        p.restore();
        return;
    }
    impl_->SetMode(QPainter::CompositionMode_Difference);
    p.fillRect(impl_->ToPainter(r), Qt::white);
}

bool CellPainter::Composes() const { return impl_->Direct(); }

} // namespace plat
