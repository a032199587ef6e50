#include "platform/draw/qtdraw_p.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

namespace plat {

QString ToQString(std::u16string_view text)
{
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

QString ToQString(std::u32string_view text)
{
    QString s;
    s.reserve(static_cast<qsizetype>(text.size()));
    for (char32_t ch : text) {
        if (ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF))
            ch = 0xFFFD;
        if (ch >= 0x10000) {
            s.append(QChar(QChar::highSurrogate(ch)));
            s.append(QChar(QChar::lowSurrogate(ch)));
        } else {
            s.append(QChar(static_cast<char16_t>(ch)));
        }
    }
    return s;
}

size_t TextPieceEnd(const QString& s, size_t start)
{
    size_t end = std::min(start + kTextPieceLength, static_cast<size_t>(s.size()));
    if (end >= static_cast<size_t>(s.size()))
        return end;
    // Never split a surrogate pair or a character from its combining marks.
    size_t e = end;
    while (e > start + 1 && (s[qsizetype(e)].isLowSurrogate() || s[qsizetype(e)].isMark()))
        --e;
    return e;
}

namespace {

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

struct Substitution {
    const char* name;
    const char* family;
};

// Names used by programs written for other desktops, and the DejaVu family
// of the same kind (monospaced, sans-serif, serif).
constexpr Substitution kSubstitutions[] = {
    {"Monaco", "DejaVu Sans Mono"},     {"Courier", "DejaVu Sans Mono"},
    {"Courier New", "DejaVu Sans Mono"}, {"Menlo", "DejaVu Sans Mono"},
    {"Lucida Console", "DejaVu Sans Mono"},
    {"Helv", "DejaVu Sans"},             {"MS Shell Dlg", "DejaVu Sans"},
    {"Lucida Grande", "DejaVu Sans"},    {"Helvetica", "DejaVu Sans"},
    {"Geneva", "DejaVu Sans"},           {"Arial", "DejaVu Sans"},
    {"Times", "DejaVu Serif"},           {"Times New Roman", "DejaVu Serif"},
};

// fontconfig's generic names: they stand for another family, not a face.
constexpr const char* kGenericFamilies[] = {"Monospace", "Sans Serif", "Serif", "Sans", "Mono",
                                            "System-ui", "cursive", "fantasy", "emoji", "math"};

struct LaidOutLine {
    QTextLayout layout;
    QTextLine line;
};

void LayOut(LaidOutLine& out, const QString& text, const QFont& font)
{
    out.layout.setText(text);
    out.layout.setFont(font);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    // Trailing blanks take room like any other character.
    option.setFlags(QTextOption::IncludeTrailingSpaces);
    out.layout.setTextOption(option);
    out.layout.beginLayout();
    out.line = out.layout.createLine();
    out.layout.endLayout();
}

bool MeasureFixedPitch(const QRawFont& raw)
{
    // Narrow, wide and punctuation glyphs: a proportional face differs in
    // some of them even where its digits share one width.
    static const char16_t sample[] = u"iW.M_lI0@#m|";
    QList<quint32> glyphs = raw.glyphIndexesForString(QString::fromUtf16(sample));
    if (glyphs.size() != static_cast<qsizetype>(std::size(sample) - 1))
        return false;
    for (quint32 g : glyphs)
        if (g == 0)
            return false;
    QList<QPointF> advances = raw.advancesForGlyphIndexes(glyphs);
    for (const QPointF& a : advances)
        if (std::abs(a.x() - advances[0].x()) > 0.001 || a.x() <= 0)
            return false;
    return true;
}

QFont MakeQFont(const std::string& family, int pixelSize, bool bold, bool italic)
{
    QFont f(QString::fromStdString(family));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

} // namespace

uint32_t FontImpl::Glyph(char32_t ch) const
{
    if (ch < 128) {
        if (!asciiFilled) {
            QChar chars[128];
            for (int i = 0; i < 128; ++i)
                chars[i] = QChar(static_cast<char16_t>(i));
            int count = 128;
            raw.glyphIndexesForChars(chars, 128, asciiGlyphs.data(), &count);
            asciiFilled = true;
        }
        return asciiGlyphs[ch];
    }
    auto it = otherGlyphs.find(ch);
    if (it != otherGlyphs.end())
        return it->second;
    QString s = ToQString(std::u32string_view(&ch, 1));
    quint32 glyphs[2] = {0, 0};
    int count = 2;
    raw.glyphIndexesForChars(s.constData(), static_cast<int>(s.size()), glyphs, &count);
    uint32_t g = count >= 1 ? glyphs[0] : 0;
    // Bound the cache: a stream of distinct characters must not grow it
    // without limit.
    if (otherGlyphs.size() > 65536)
        otherGlyphs.clear();
    otherGlyphs.emplace(ch, g);
    return g;
}

const QFont& FontImpl::FontWithExtra(double extra) const
{
    if (std::abs(extra) < 0.0001)
        return font;
    if (extra != spacedExtra || spacedFont.family().isEmpty()) {
        spacedFont = font;
        spacedFont.setLetterSpacing(QFont::AbsoluteSpacing, extra);
        spacedExtra = extra;
    }
    return spacedFont;
}

Font::Font(std::unique_ptr<FontImpl> impl) : impl_(std::move(impl)) {}
Font::~Font() = default;

std::unique_ptr<Font> Font::Create(std::string_view family, int pixelSize, bool bold, bool italic)
{
    if (family.empty() || pixelSize <= 0 || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return nullptr;
    auto impl = std::make_unique<FontImpl>();
    impl->requested = std::string(family);
    impl->pixelSize = pixelSize;
    impl->bold = bold;
    impl->italic = italic;
    impl->font = MakeQFont(SubstituteFamily(family), pixelSize, bold, italic);
    impl->raw = QRawFont::fromFont(impl->font);
    if (!impl->raw.isValid())
        return nullptr;
    return std::unique_ptr<Font>(new Font(std::move(impl)));
}

const std::string& Font::RequestedFamily() const { return impl_->requested; }
std::string Font::Family() const { return impl_->raw.familyName().toStdString(); }
int Font::PixelSize() const { return impl_->pixelSize; }
bool Font::Bold() const { return impl_->bold; }
bool Font::Italic() const { return impl_->italic; }

FontMetrics Font::Metrics() const
{
    if (impl_->metrics)
        return *impl_->metrics;
    QFontMetricsF fm(impl_->font);
    FontMetrics m;
    m.ascent = fm.ascent();
    m.descent = fm.descent();
    m.leading = fm.leading();
    m.averageCharWidth = fm.averageCharWidth();
    // The face's own maximum is rounded down and can come out below the
    // advance of an ordinary letter; take the widest of what is known.
    m.maxCharWidth = std::max({fm.maxWidth(), fm.averageCharWidth(), Advance(U'W'), Advance(U'M')});
    m.fixedPitch = MeasureFixedPitch(impl_->raw);
    impl_->metrics = m;
    return m;
}

double Font::Advance(char32_t ch) const
{
    uint32_t g = impl_->Glyph(ch);
    if (g == 0)
        return 0;
    QList<QPointF> a = impl_->raw.advancesForGlyphIndexes(QList<quint32>{g});
    return a.isEmpty() ? 0 : a[0].x();
}

TextExtent Font::Measure(std::u16string_view text, double extraAdvance) const
{
    const QFont& font = impl_->FontWithExtra(extraAdvance);
    QString s = ToQString(text);
    TextExtent extent;
    if (s.isEmpty()) {
        QFontMetricsF fm(font);
        extent.ascent = fm.ascent();
        extent.descent = fm.descent();
        return extent;
    }
    for (size_t start = 0; start < static_cast<size_t>(s.size());) {
        size_t end = TextPieceEnd(s, start);
        LaidOutLine piece;
        LayOut(piece, s.mid(qsizetype(start), qsizetype(end - start)), font);
        // The advance, not the natural width: the latter adds the overhang
        // of the last glyph ("_", "f"), which would make a run of n cells
        // measure more than n advances.
        extent.width += piece.line.horizontalAdvance();
        extent.ascent = std::max(extent.ascent, piece.line.ascent());
        extent.descent = std::max(extent.descent, piece.line.descent());
        start = end;
    }
    return extent;
}

TextExtent Font::Measure(std::u32string_view text, double extraAdvance) const
{
    QString s = ToQString(text);
    return Measure(std::u16string_view(reinterpret_cast<const char16_t*>(s.utf16()), size_t(s.size())),
                   extraAdvance);
}

std::vector<double> Font::CaretOffsets(std::u16string_view text, double extraAdvance) const
{
    const QFont& font = impl_->FontWithExtra(extraAdvance);
    QString s = ToQString(text);
    std::vector<double> offsets(text.size() + 1, 0.0);
    double origin = 0;
    for (size_t start = 0; start < static_cast<size_t>(s.size());) {
        size_t end = TextPieceEnd(s, start);
        LaidOutLine piece;
        LayOut(piece, s.mid(qsizetype(start), qsizetype(end - start)), font);
        for (size_t i = start; i < end; ++i) {
            if (i > start && s[qsizetype(i)].isLowSurrogate())
                offsets[i] = offsets[i - 1];
            else
                offsets[i] = origin + piece.line.cursorToX(int(i - start));
        }
        origin += piece.line.horizontalAdvance();
        start = end;
    }
    offsets[text.size()] = origin;
    return offsets;
}

std::vector<uint32_t> Font::GlyphsForCharacters(std::u16string_view text) const
{
    std::vector<uint32_t> glyphs(text.size(), 0);
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t u = text[i];
        if (QChar::isHighSurrogate(u) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1])) {
            glyphs[i] = impl_->Glyph(QChar::surrogateToUcs4(u, text[i + 1]));
            ++i;
        } else if (!QChar::isSurrogate(u)) {
            glyphs[i] = impl_->Glyph(u);
        }
    }
    return glyphs;
}

std::string SubstituteFamily(std::string_view family)
{
    for (const Substitution& s : kSubstitutions)
        if (EqualNoCase(family, s.name))
            return s.family;
    return std::string(family);
}

std::vector<std::string> FontFamilies()
{
    std::vector<std::string> out;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return out;
    for (const QString& f : QFontDatabase::families()) {
        if (QFontDatabase::isPrivateFamily(f))
            continue;
        std::string name = f.toStdString();
        bool generic = std::any_of(std::begin(kGenericFamilies), std::end(kGenericFamilies),
                                   [&](const char* g) { return EqualNoCase(name, g); });
        if (!generic)
            out.push_back(std::move(name));
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool IsFixedPitchFamily(std::string_view family)
{
    if (family.empty() || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return false;
    static std::mutex lock;
    static std::map<std::string, bool> known;
    std::string key(family);
    {
        std::lock_guard<std::mutex> guard(lock);
        auto it = known.find(key);
        if (it != known.end())
            return it->second;
    }
    QString name = QString::fromStdString(key);
    bool installed = false;
    for (const QString& f : QFontDatabase::families())
        installed = installed || f.compare(name, Qt::CaseInsensitive) == 0;
    // Measured at a size large enough that hinting cannot even out widths.
    bool fixed = installed && MeasureFixedPitch(QRawFont::fromFont(MakeQFont(key, 20, false, false)));
    std::lock_guard<std::mutex> guard(lock);
    known[key] = fixed;
    return fixed;
}

std::vector<std::string> FixedPitchFamilies()
{
    std::vector<std::string> out;
    for (std::string& f : FontFamilies())
        if (IsFixedPitchFamily(f))
            out.push_back(std::move(f));
    return out;
}

} // namespace plat
