// Cell painting: runs composed from glyph masks and blitted, or drawn as
// glyph runs where the surface does not allow the blit.
#include "platform/draw/cells.h"
#include "platform/draw/qtdraw_p.h"

#include <QGlyphRun>
#include <QPaintEngine>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

} // namespace

GlyphMask InkMask(const QImage& img, int left, int top)
{
    GlyphMask m;
    const int width = img.width(), height = img.height();
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
    m.stride = (m.width + 15) / 16 * 16;
    m.alpha.assign(size_t(m.stride) * size_t(m.height), 0);
    for (int y = 0; y < m.height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(img.constScanLine(y0 + y));
        for (int x = 0; x < m.width; ++x)
            m.alpha[size_t(y) * size_t(m.stride) + size_t(x)] = uint8_t(row[x0 + x] >> 24);
    }
    return m;
}

QImage GlyphImage(const QRawFont& raw, uint32_t glyph, int width, int height, QPointF origin)
{
    QImage img(width, height, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setPen(Qt::white);
    QGlyphRun run;
    run.setRawFont(raw);
    quint32 index = glyph;
    run.setRawData(&index, &origin, 1);
    p.drawGlyphRun(QPointF(0, 0), run);
    return img;
}

namespace {

GlyphMask RenderMask(const QRawFont& raw, uint32_t glyph)
{
    GlyphMask m;
    const QRectF box = raw.boundingRect(glyph);
    const int left = int(std::floor(box.left())) - 2, top = int(std::floor(box.top())) - 2;
    const int width = std::min(int(std::ceil(box.right())) + 2 - left, kMaxMaskSide);
    const int height = std::min(int(std::ceil(box.bottom())) + 2 - top, kMaxMaskSide);
    if (width <= 0 || height <= 0)
        return m;
    return InkMask(GlyphImage(raw, glyph, width, height, QPointF(-left, -top)), left, top);
}

uint32_t Premultiplied(const Color& c) { return qPremultiply(ToQColor(c).rgba()); }

// The pixel of `fore` drawn at each coverage (0..255) over `back`, both
// premultiplied: source-over with the coverage as the source's alpha.
struct Ramp {
    uint32_t fore;
    uint32_t back;
    bool filled;
    uint32_t pixel[256];
};

// A channel of an opaque colour over another at coverage k, in 255ths of
// 255ths: (f * k * 255 + b * 255 * (255 - k) + 32512) / 65025, which
// depends on x = f * k + b * (255 - k) alone. Looked up, it spares the
// divisions of a ramp.
struct BlendTable {
    uint8_t v[255 * 255 + 1];
    BlendTable()
    {
        for (uint32_t x = 0; x <= 255 * 255; ++x)
            v[x] = uint8_t((x * 255 + 32512) / 65025);
    }
};

void FillRamp(Ramp& r, uint32_t fore, uint32_t back)
{
    r.fore = fore;
    r.back = back;
    r.filled = true;
    const uint32_t fa = fore >> 24;
    if (fa == 255) {
        static const BlendTable* const blend = new BlendTable;
        // Per channel x starts at b * 255 and moves by f - b a step.
        int x[4], step[4];
        for (int c = 0; c < 4; ++c) {
            const int f = int((fore >> (8 * c)) & 0xFF), b = int((back >> (8 * c)) & 0xFF);
            x[c] = b * 255;
            step[c] = f - b;
        }
        for (int k = 0; k < 256; ++k) {
            r.pixel[k] = uint32_t(blend->v[x[0]]) | uint32_t(blend->v[x[1]]) << 8 | uint32_t(blend->v[x[2]]) << 16 |
                         uint32_t(blend->v[x[3]]) << 24;
            for (int c = 0; c < 4; ++c)
                x[c] += step[c];
        }
        return;
    }
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

// Ramps of the colour pairs in use, in a table of four ramps per hash of
// the pair, the one used least recently giving way to a new pair. It holds
// the pairs of a screen of palette or direct colours (a 200 x 50 screen of
// differently coloured runs), so that a repaint finds them again; its
// memory is taken up only as pairs come.
const uint32_t* RampFor(uint32_t fore, uint32_t back)
{
    constexpr int kWays = 4;
    constexpr uint32_t kSets = 512;
    struct Set {
        Ramp way[kWays];
        uint32_t used[kWays]; // when each way was last used (0: never)
    };
    static_assert(std::is_trivially_copyable_v<Ramp>);
    static Set* const sets = static_cast<Set*>(std::calloc(kSets, sizeof(Set)));
    static uint32_t clock = 0;
    if (!sets) [[unlikely]] {
        static Ramp one;
        FillRamp(one, fore, back);
        return one.pixel;
    }
    uint32_t h = (fore * 0x9E3779B1u) ^ (back * 0x85EBCA77u);
    Set& set = sets[(h ^ (h >> 15)) & (kSets - 1)];
    int use = 0;
    bool found = false;
    for (int i = 0; i < kWays; ++i) {
        Ramp const& r = set.way[i];
        if (r.filled && r.fore == fore && r.back == back) {
            use = i;
            found = true;
            break;
        }
        if (set.used[i] < set.used[use])
            use = i;
    }
    if (!found)
        FillRamp(set.way[use], fore, back);
    set.used[use] = ++clock ? clock : ++clock;
    return set.way[use].pixel;
}

// The composing area of one piece of a run: its coverage and its colours.
// A coverage row has margins on both sides, so that masks reaching past
// the piece are added whole, 16 bytes at a time; only the box that masks
// touched is cleared for the next piece.
constexpr int kMarginLeft = 32;
constexpr int kCoverageStride = kMarginLeft + kPieceWidth + kMaxMaskSide + 32;

struct Scratch {
    QImage image;
    std::vector<uint8_t> coverage;
    int height = 0;
    // The box of coverage bytes that may not be 0, from the piece's origin.
    int dirtyLeft = 0, dirtyRight = 0, dirtyRows = 0;
    // Cells drawn over the composed piece: colour glyphs, and the text of a
    // cell with marks.
    std::vector<std::pair<int, const FallbackGlyph*>> colour;

    uint8_t* Row(int y) { return coverage.data() + size_t(y) * kCoverageStride + kMarginLeft; }

    void Clear()
    {
        for (int y = 0; y < dirtyRows; ++y)
            std::memset(Row(y) + dirtyLeft, 0, size_t(dirtyRight - dirtyLeft));
        dirtyLeft = dirtyRight = dirtyRows = 0;
    }
};

Scratch& ScratchFor(int height)
{
    static auto* s = new Scratch;
    if (s->height < height) {
        s->image = QImage(kPieceWidth, height, QImage::Format_ARGB32_Premultiplied);
        s->coverage.assign(size_t(kCoverageStride) * size_t(height), 0);
        s->height = height;
        s->dirtyLeft = s->dirtyRight = s->dirtyRows = 0;
    }
    return *s;
}

// Adds the mask at (ox, oy) of the piece to its coverage (the larger of
// the two where glyphs overlap), cut to the piece's h rows.
void AddMask(Scratch& s, int w, int h, const GlyphMask& m, int ox, int oy)
{
    const int y0 = std::max(0, -oy), y1 = std::min(m.height, h - oy);
    if (y0 >= y1 || ox >= w || ox + m.width <= 0)
        return;
    int x0 = 0, x1 = m.stride;
    if (ox < -kMarginLeft || ox + m.stride > kPieceWidth + kMaxMaskSide + 32) {
        x0 = std::max(0, -ox); // beyond the margins: byte by byte, cut
        x1 = std::min(m.width, w - ox);
    }
    for (int y = y0; y < y1; ++y) {
        uint8_t* __restrict d = s.Row(oy + y) + ox;
        const uint8_t* __restrict a = m.alpha.data() + size_t(y) * size_t(m.stride);
        int x = x0;
#if defined(__SSE2__)
        if (x0 == 0)
            for (; x + 16 <= x1; x += 16) {
                const __m128i v = _mm_max_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d + x)),
                                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x)));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), v);
            }
#endif
        for (; x < x1; ++x)
            d[x] = std::max(d[x], a[x]);
    }
    if (s.dirtyRows == 0 && s.dirtyLeft == s.dirtyRight) {
        s.dirtyLeft = ox + x0;
        s.dirtyRight = ox + x1;
    } else {
        s.dirtyLeft = std::min(s.dirtyLeft, ox + x0);
        s.dirtyRight = std::max(s.dirtyRight, ox + x1);
    }
    s.dirtyRows = std::max(s.dirtyRows, oy + y1);
}

// One row of colours from one row of coverage; a stretch of 8 uncovered
// pixels is the background in one go.
void MapRow(uint32_t* __restrict d, const uint8_t* __restrict cov, int w, const uint32_t* ramp)
{
    const uint32_t back = ramp[0];
    int x = 0;
    for (; x + 8 <= w; x += 8) {
        uint64_t any;
        std::memcpy(&any, cov + x, 8);
        if (!any) {
            for (int k = 0; k < 8; ++k)
                d[x + k] = back;
        } else {
            for (int k = 0; k < 8; ++k)
                d[x + k] = ramp[cov[x + k]];
        }
    }
    for (; x < w; ++x)
        d[x] = ramp[cov[x]];
}

bool IsBlank(char32_t ch) { return ch == 0 || ch == U' '; }

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

    // The fallback glyph a character is drawn with: a colour one where
    // colour is wanted and a colour face has it, else one from a fallback
    // face when the font lacks the character; null when the font draws it
    // (or nothing can).
    const FallbackGlyph* Face(const FontImpl& font, char32_t ch, bool wide) const
    {
        const int cells = wide ? 2 : 1;
        if (WantsColour(ch, wide)) {
            const FallbackGlyph* fb = font.Fallback(ch, cells, true, cellWidth, cellHeight, baseline);
            if (fb->found && fb->colour)
                return fb;
        }
        if (font.Glyph(ch))
            return nullptr;
        const FallbackGlyph* fb = font.Fallback(ch, cells, false, cellWidth, cellHeight, baseline);
        return fb->found ? fb : nullptr;
    }

    // The face and pen position (from the cell's top-left corner) of a
    // character with its marks: the face its first character is drawn
    // with, in colour when a variation selector asks for it.
    struct ClusterFace {
        QFont font;
        QPointF origin;
    };
    ClusterFace FaceOfCluster(const FontImpl& font, std::u32string_view cluster, bool wide, int base) const
    {
        const char32_t first = cluster.empty() ? U' ' : cluster[0];
        const bool text = cluster.find(U'\xFE0E') != std::u32string_view::npos;
        const bool emoji = cluster.find(U'\xFE0F') != std::u32string_view::npos;
        const int cells = wide ? 2 : 1;
        if (!text && (emoji || WantsColour(first, wide))) {
            const FallbackGlyph* fb = font.Fallback(first, cells, true, cellWidth, cellHeight, baseline);
            if (fb->found && fb->colour)
                return {fb->font, fb->origin};
        }
        if (!font.Glyph(first)) {
            const FallbackGlyph* fb = font.Fallback(first, cells, false, cellWidth, cellHeight, baseline);
            if (fb->found) {
                // Marks the face lacks may come from another.
                QFont merged = fb->font;
                merged.setStyleStrategy(QFont::PreferDefault);
                return {merged, fb->origin};
            }
        }
        return {font.font, QPointF(0, base)};
    }
};

// Composes the run piece by piece in the scratch image and blits each
// piece.
void CellPainter::Impl::Compose(const CellRun& run, const CellStretch* stretch)
{
    const FontImpl* font = run.font ? &run.font->Impl() : nullptr;
    const bool wide = run.flags & kCellWide;
    const int advance = wide ? 2 * cellWidth : cellWidth;
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
        s.Clear();
        // Cells whose glyphs may reach into the piece: its own and one on
        // each side.
        const int first = std::max(0, x0 / advance - 1), last = std::min(n, (x0 + w) / advance + 2);
        s.colour.clear();
        bool clusterHere = false;
        for (int i = first; i < last; ++i) {
            const char32_t ch = run.cells[size_t(i)];
            if (IsBlank(ch))
                continue;
            if (!run.cluster.empty()) {
                clusterHere = true;
                continue;
            }
            // The font's own glyph first (the common case); a fallback or
            // colour face's where the font lacks it or colour is wanted; a
            // character no installed face has shows as U+FFFD.
            const GlyphMask* m = nullptr;
            const FallbackGlyph* fb = nullptr;
            if (font && !WantsColour(ch, wide))
                m = font->Mask(ch);
            if (font && !m) {
                fb = Face(*font, ch, wide);
                if (!fb)
                    m = font->Glyph(ch) ? font->Mask(ch) : font->Mask(U'\xFFFD');
            }
            if (m && m->width > 0)
                AddMask(s, w, h, *m, i * advance - x0 + m->left, baseline + m->top);
            else if (fb && fb->colour)
                s.colour.emplace_back(i, fb);
            else if (fb && fb->mask.width > 0)
                AddMask(s, w, h, fb->mask, i * advance - x0 + fb->mask.left, baseline + fb->mask.top);
        }
        // A flipped user space wants the piece upside down on the surface:
        // rows are written in reverse, unless something must be drawn into
        // the upright piece first (then it is turned afterwards).
        const bool fallback = (!s.colour.empty() || clusterHere) && font;
        const bool reverse = flip && !fallback;
        uchar* bits = s.image.bits();
        const qsizetype bpl = s.image.bytesPerLine();
        auto row = [&](int y) { return reinterpret_cast<uint32_t*>(bits + bpl * (reverse ? h - 1 - y : y)); };
        for (int y = 0; y < h; ++y) {
            uint32_t* d = row(y);
            const uint8_t* cov = s.Row(y);
            MapRow(d, cov, w, ramp);
            if (y >= cy0 && y < cy1)
                for (int x = std::max(cx0 - x0, 0), end = std::min(cx1 - x0, w); x < end; ++x)
                    d[x] = cursorRamp[cov[x]];
        }
        if (fallback) {
            QPainter p(&s.image);
            p.setClipRect(QRect(0, 0, w, h));
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
            for (const auto& [i, fb] : s.colour)
                p.drawImage(QPoint(i * advance - x0, 0), fb->image);
            if (clusterHere) {
                p.setRenderHint(QPainter::TextAntialiasing, true);
                p.setPen(ToQColor(run.fore));
                const ClusterFace face = FaceOfCluster(*font, run.cluster, wide, baseline);
                p.setFont(face.font);
                p.drawText(QPointF(face.origin.x() - x0, face.origin.y()), ToQString(run.cluster));
            }
            p.end();
            bits = s.image.bits();
        }
        if (underline)
            std::fill(row(h - 1), row(h - 1) + w, fore);
        if (flip && fallback)
            for (int y = 0; y < h / 2; ++y)
                std::swap_ranges(row(y), row(y) + w, row(h - 1 - y));
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
        const bool wide = run.flags & kCellWide;
        if (!run.cluster.empty()) {
            const ClusterFace face = FaceOfCluster(*font, run.cluster, wide, baseline);
            p.setFont(face.font);
            p.drawText(QPointF(run.x, run.y) + face.origin, ToQString(run.cluster));
        }
        for (size_t i = 0; i < run.cells.size() && run.cluster.empty(); ++i) {
            const char32_t ch = run.cells[i];
            if (IsBlank(ch))
                continue;
            const QPointF at(run.x + double(i) * advance, run.y + baseline);
            if (const FallbackGlyph* fb = Face(*font, ch, wide)) {
                QGlyphRun one;
                one.setRawFont(fb->raw);
                quint32 index = fb->glyph;
                const QPointF pen = QPointF(run.x + double(i) * advance, run.y) + fb->origin;
                one.setRawData(&index, &pen, 1);
                p.drawGlyphRun(QPointF(0, 0), one);
            } else if (uint32_t g = font->Glyph(ch) ? font->Glyph(ch) : font->Glyph(U'\xFFFD')) {
                c.glyphs.push_back(g);
                c.positions.push_back(at);
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
