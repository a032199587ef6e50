// Characters a terminal font lacks: the installed face that fontconfig's
// fallback order for the font puts first among those that have the
// character (a colour face first where colour is wanted), and the glyph of
// that face fitted into its cells.
#include "platform/draw/qtdraw_p.h"

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <tuple>

namespace plat {
namespace {

// The faces fontconfig sorts for one family and style, kept for the
// process: a sort walks every installed face, a lookup only the list.
class FALLBACKLIST {
public:
    FALLBACKLIST(const std::string& family, bool bold, bool italic, bool colour)
    {
        FcPattern* pattern = FcPatternCreate();
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
        FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        if (colour)
            FcPatternAddBool(pattern, FC_COLOR, FcTrue);
        FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        Set = FcFontSort(nullptr, pattern, FcFalse, nullptr, &result);
        FcPatternDestroy(pattern);
    }
    ~FALLBACKLIST()
    {
        if (Set)
            FcFontSetDestroy(Set);
    }
    FALLBACKLIST(const FALLBACKLIST&) = delete;
    FALLBACKLIST& operator=(const FALLBACKLIST&) = delete;

    // The first face that has the character (with colour asked for, the
    // first colour face, else the first face); empty when none has it.
    std::string Find(char32_t ch, bool colour, bool* isColour) const
    {
        std::string first;
        bool firstColour = false;
        for (int i = 0; Set && i < Set->nfont; ++i) {
            FcPattern* font = Set->fonts[i];
            FcCharSet* chars = nullptr;
            if (FcPatternGetCharSet(font, FC_CHARSET, 0, &chars) != FcResultMatch || !FcCharSetHasChar(chars, ch))
                continue;
            FcChar8* name = nullptr;
            if (FcPatternGetString(font, FC_FAMILY, 0, &name) != FcResultMatch || !name)
                continue;
            FcBool c = FcFalse;
            FcPatternGetBool(font, FC_COLOR, 0, &c);
            if (first.empty()) {
                first = reinterpret_cast<const char*>(name);
                firstColour = c;
                if (!colour || c)
                    break;
            } else if (c) {
                *isColour = true;
                return reinterpret_cast<const char*>(name);
            }
        }
        *isColour = firstColour;
        return first;
    }

private:
    FcFontSet* Set = nullptr;
};

std::mutex gListsLock;

const FALLBACKLIST& ListFor(const std::string& family, bool bold, bool italic, bool colour)
{
    static auto* lists = new std::map<std::tuple<std::string, bool, bool, bool>, std::unique_ptr<FALLBACKLIST>>;
    auto key = std::make_tuple(family, bold, italic, colour);
    auto it = lists->find(key);
    if (it == lists->end()) {
        // A handful of terminal fonts in a process; the bound is for safety.
        if (lists->size() > 64)
            lists->clear();
        it = lists->emplace(key, std::make_unique<FALLBACKLIST>(family, bold, italic, colour)).first;
    }
    return *it->second;
}

// Where a glyph of a face goes in `cells` cells: its pixel size (the font's,
// or less where its ink would not fit; a colour glyph, a picture, grows or
// shrinks to fill them), and its pen position from the cells' top-left
// corner.
struct Placement {
    double pixelSize = 0;
    QPointF origin;
};

Placement Fit(QRawFont& raw, uint32_t glyph, int pixelSize, int boxWidth, int cellHeight, int baseline, bool fill)
{
    Placement p;
    p.pixelSize = pixelSize;
    raw.setPixelSize(pixelSize);
    QRectF ink = raw.boundingRect(glyph);
    double scale = 1;
    if (ink.width() > 0 && ink.height() > 0) {
        double const fits = std::min(double(boxWidth) / ink.width(), double(cellHeight) / ink.height());
        scale = fill ? fits : std::min(1.0, fits);
    }
    if (scale != 1) {
        p.pixelSize = std::max(1.0, pixelSize * scale);
        raw.setPixelSize(p.pixelSize);
        ink = raw.boundingRect(glyph);
    }
    // The ink centred in its cells, on the cells' baseline unless it would
    // leave the cell there.
    double const x = (boxWidth - ink.width()) / 2 - ink.left();
    double y = baseline;
    if (y + ink.top() < 0)
        y = -ink.top();
    else if (y + ink.bottom() > cellHeight)
        y = std::max(-ink.top(), cellHeight - ink.bottom());
    p.origin = QPointF(std::round(x), std::round(y));
    return p;
}

} // namespace

bool WantsColour(char32_t ch, bool wide)
{
    // Characters shown as emoji by default: the wide ones of the symbol
    // blocks.
    return wide && ((ch >= 0x2300 && ch <= 0x2BFF) || (ch >= 0x1F000 && ch <= 0x1FAFF));
}

std::string FallbackFamily(const FontImpl& font, char32_t ch, bool colour, bool* isColour)
{
    *isColour = false;
    std::lock_guard<std::mutex> guard(gListsLock);
    const std::string family = font.raw.familyName().toStdString();
    return ListFor(family, font.bold, font.italic, colour).Find(ch, colour, isColour);
}

std::string Font::FallbackFamily(char32_t ch, bool colour) const
{
    bool isColour = false;
    return plat::FallbackFamily(Impl(), ch, colour, &isColour);
}

const FallbackGlyph* FontImpl::Fallback(char32_t ch, int cells, bool colour, int cellWidth, int cellHeight,
                                        int baseline) const
{
    if (cellWidth != fallbackCell.width() || cellHeight != fallbackCell.height() || baseline != fallbackBaseline) {
        fallbackGlyphs.clear();
        fallbackCell = QSize(cellWidth, cellHeight);
        fallbackBaseline = baseline;
    }
    const uint64_t key = uint64_t(ch) | uint64_t(cells) << 32 | uint64_t(colour) << 40;
    auto it = fallbackGlyphs.find(key);
    if (it != fallbackGlyphs.end())
        return &it->second;
    if (fallbackGlyphs.size() >= 4096)
        fallbackGlyphs.clear();
    FallbackGlyph& g = fallbackGlyphs[key];
    const int boxWidth = cells * cellWidth;
    std::string family = FallbackFamily(*this, ch, colour, &g.colour);
    if (family.empty() || boxWidth <= 0 || cellHeight <= 0)
        return &g;
    QFont face(QString::fromStdString(family));
    face.setPixelSize(pixelSize);
    face.setBold(bold);
    face.setItalic(italic);
    face.setStyleStrategy(QFont::NoFontMerging);
    QRawFont raw = QRawFont::fromFont(face);
    const QString text = ToQString(std::u32string_view(&ch, 1));
    QList<quint32> glyphs = raw.isValid() ? raw.glyphIndexesForString(text) : QList<quint32>();
    if (glyphs.isEmpty() || glyphs[0] == 0)
        return &g;
    const Placement place = Fit(raw, glyphs[0], pixelSize, boxWidth, cellHeight, baseline, g.colour);
    g.font = face;
    g.font.setPixelSize(std::max(1, int(std::lround(place.pixelSize))));
    g.origin = place.origin;
    g.raw = raw;
    g.glyph = glyphs[0];
    g.found = true;

    // The glyph drawn once into its cells, white: its coverage, or its
    // colours for a colour face.
    QImage image = GlyphImage(raw, glyphs[0], boxWidth, cellHeight, place.origin);
    if (g.colour) {
        g.image = image;
        return &g;
    }
    g.mask = InkMask(image, 0, -baseline);
    return &g;
}

} // namespace plat
