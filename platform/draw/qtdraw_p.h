// Inner parts of the drawing layer, shared by its sources. Not for use
// outside platform/draw: it exposes the Qt types underneath.
#pragma once

#include "platform/draw/bitmap.h"
#include "platform/draw/context.h"
#include "platform/draw/font.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPointF>
#include <QRawFont>
#include <QSize>
#include <QString>
#include <QTransform>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace plat {

QString ToQString(std::u16string_view text);
// Characters that are not Unicode scalar values become U+FFFD.
QString ToQString(std::u32string_view text);
QColor ToQColor(const Color& c);

// Long runs are laid out in pieces: the layout engine keeps positions in
// 26.6 fixed point, which overflows for lines some 33 million pixels wide,
// and caret queries cost time proportional to the piece. TextPieceEnd gives
// the end of the piece that starts at `start`.
constexpr size_t kTextPieceLength = 4096;
size_t TextPieceEnd(const QString& s, size_t start);

// A glyph's coverage, rendered once for cell painting (cells.cpp): alpha
// values of width x height pixels, rows `stride` bytes apart (a multiple of
// 16, padded with 0), whose top-left corner lies at (left, top) from the
// glyph's origin on the baseline, y growing downward.
struct GlyphMask {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<uint8_t> alpha;
};

// A glyph drawn in white on a transparent image of the size given, its pen
// at `origin` (a colour glyph in its own colours).
QImage GlyphImage(const QRawFont& raw, uint32_t glyph, int width, int height, QPointF origin);
// The coverage of a white drawing (its alpha) cut to its inked box, placed
// at (left, top) plus the box's offset in the image.
GlyphMask InkMask(const QImage& image, int left, int top);

// Whether the painter draws on a raster image at one device pixel per
// painter unit (views and bitmaps, not print pages or scaled screens).
bool IsRasterAtUnitScale(QPainter& painter);
// Whether the transform maps whole pixels onto whole pixels one to one:
// a translation by whole pixels, at most with a vertical flip.
bool IsPixelAligned(const QTransform& m);

// A character the font lacks (or one shown in colour), from the face that
// fontconfig's fallback order gives, fitted into its cells (cells.cpp,
// fallback.cpp): its coverage as a mask (left and top from the cells'
// top-left corner on the baseline, like a glyph's), or, from a colour face,
// its picture the size of the cells. found is false when no installed face
// has the character.
struct FallbackGlyph {
    bool found = false;
    bool colour = false;
    GlyphMask mask;
    QImage image;
    // The face at the size that fits, and the pen position from the cells'
    // top-left corner, for drawing the character (or it with its marks) as
    // text; the face and glyph for drawing it as a glyph.
    QFont font;
    QPointF origin;
    QRawFont raw;
    quint32 glyph = 0;
};

// Whether a character is shown in colour when a colour face has it: the
// wide characters of the symbol blocks (emoji by default).
bool WantsColour(char32_t ch, bool wide);

struct FontImpl;
// The family fontconfig's fallback order for the font gives first among the
// faces that have the character (a colour face first when colour is
// wanted); empty when none has it.
std::string FallbackFamily(const FontImpl& font, char32_t ch, bool colour, bool* isColour);

struct FontImpl {
    std::string requested;
    int pixelSize = 0;
    bool bold = false;
    bool italic = false;
    QFont font;
    QRawFont raw; // the primary face, for glyph lookup and cell drawing

    // Glyphs of the primary face, looked up once per character.
    mutable std::array<uint32_t, 128> asciiGlyphs{};
    mutable bool asciiFilled = false;
    mutable std::unordered_map<char32_t, uint32_t> otherGlyphs;

    // The font with letter spacing for a non-zero extra advance, kept for
    // the last value asked for.
    mutable QFont spacedFont;
    mutable double spacedExtra = 0;

    // Metrics are asked for on every selection of the font; measured once.
    mutable std::optional<FontMetrics> metrics;

    // Coverage masks of the primary face's glyphs, by glyph index, and of
    // the ASCII characters directly. Bounded by the face's glyph count and
    // cleared past kMaxGlyphMasks (cells.cpp).
    mutable std::unordered_map<uint32_t, GlyphMask> masks;
    mutable std::array<const GlyphMask*, 128> asciiMasks{};

    uint32_t Glyph(char32_t ch) const;
    const QFont& FontWithExtra(double extra) const;
    // The mask of the character's glyph in the primary face; null when the
    // face has none (a fallback face must draw it).
    const GlyphMask* Mask(char32_t ch) const;

    // Characters from fallback faces, fitted into `cells` cells of the
    // size given, kept per character (bounded); the cells' size is that of
    // the last call (a new size starts over).
    const FallbackGlyph* Fallback(char32_t ch, int cells, bool colour, int cellWidth, int cellHeight,
                                  int baseline) const;
    mutable std::unordered_map<uint64_t, FallbackGlyph> fallbackGlyphs;
    mutable QSize fallbackCell;
    mutable int fallbackBaseline = 0;
};

struct ImageImpl {
    QImage image;
    // The picture at twice the size ("name@2x.png" beside the file), for
    // surfaces with more device pixels than points; null when none.
    QImage hires;
};

struct BitmapImpl {
    QImage image;
    std::unique_ptr<DrawContext> context;
};

struct GState {
    QTransform ctm; // user space -> default user space
    QColor fill = Qt::black;
    QColor stroke = Qt::black;
    double lineWidth = 1;
    LineCap cap = LineCap::Butt;
    BlendMode blend = BlendMode::Normal;
    bool antialias = true;
    bool shadow = false;
    QPointF shadowOffset; // device units, y up
    double shadowBlur = 0;
    QColor shadowColor;
};

struct ContextImpl {
    QPainter* painter = nullptr;
    std::unique_ptr<QPainter> ownedPainter; // bitmap contexts own theirs
    QTransform base;                         // default user space -> painter coordinates
    bool bottomUp = false;
    Size size;
    Bitmap* bitmap = nullptr;
    QImage* targetImage = nullptr; // set for bitmap contexts

    GState state;
    std::vector<GState> saved; // one painter save() per entry

    QPainterPath path;    // in the user space of pathCtm
    QTransform pathCtm;
    bool hasCurrentPoint = false;

    // Scratch arrays for cell drawing, kept to avoid an allocation per run.
    std::vector<quint32> glyphs;
    std::vector<QPointF> positions;

    // Set while a cell painter (cells.cpp) has the painter in its own
    // pixel-aligned transform and blend mode; whatever draws with the
    // painter's current transform calls UseUserSpace first.
    bool cellSpace = false;

    ~ContextImpl();
    void Init(QPainter* p, const QTransform& baseTransform, bool isBottomUp, Size surface);
    QTransform UserToPainter() const { return state.ctm * base; }
    void SyncTransform()
    {
        painter->setWorldTransform(UserToPainter());
        if (cellSpace) {
            cellSpace = false;
            painter->setCompositionMode(state.blend == BlendMode::Difference ? QPainter::CompositionMode_Difference
                                                                              : QPainter::CompositionMode_SourceOver);
        }
    }
    void UseUserSpace()
    {
        if (cellSpace)
            SyncTransform();
    }
    QPainterPath PathInUserSpace() const;
    // Runs draw(painter, userToPainter) on the surface, first into the
    // shadow when one is set. userBounds bounds what draw paints, in user
    // space, for sizing the shadow.
    template <class Draw>
    void Paint(const QRectF& userBounds, Draw&& draw);
    void PaintShadow(const QRectF& userBounds, const std::function<void(QPainter&, const QTransform&)>& draw);
    QPen StrokePen() const;
};

template <class Draw>
void ContextImpl::Paint(const QRectF& userBounds, Draw&& draw)
{
    UseUserSpace();
    if (state.shadow)
        PaintShadow(userBounds, draw);
    draw(*painter, UserToPainter());
    SyncTransform();
}

} // namespace plat
