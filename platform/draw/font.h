// Fonts: making a font by family and pixel size, its metrics, measuring text,
// and the list of installed families with real fixed-pitch detection.
//
// Sizes are whole pixels (user-space units of a drawing context), never
// points, so that a font measures the same on every screen resolution and
// on a 72-dpi print page. Family names are UTF-8. The names that programs
// written for other desktops ask for ("Monaco", "Helvetica", "MS Shell
// Dlg", ...) are mapped to the DejaVu families that every installation has
// (SubstituteFamily); fontconfig alone would map a missing "Monaco" to a
// proportional face.
//
// Text runs are UTF-16 or UTF-32. Characters outside the Basic Multilingual
// Plane are measured and drawn (UTF-16 surrogate pairs are one character),
// and a run is measured whole however long it is. Characters the font lacks
// are measured and drawn with a fallback face chosen by fontconfig.
//
// Fonts need the application object (EnsureGuiApplication, runtime.h); they
// are used on the main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

struct FontImpl;

struct FontMetrics {
    double ascent = 0;           // above the baseline, positive
    double descent = 0;          // below the baseline, positive
    double leading = 0;          // extra space between lines
    double averageCharWidth = 0;
    double maxCharWidth = 0;
    bool fixedPitch = false;     // measured: every sample glyph has the same advance
};

// Typographic bounds of a measured run: its advance width and the largest
// ascent and descent of the faces it uses.
struct TextExtent {
    double width = 0;
    double ascent = 0;
    double descent = 0;
};

class Font {
public:
    // A font of the family (after SubstituteFamily) at the pixel size.
    // Returns null when the name is empty, the size is not above 0, or no
    // application object exists. A family that is not installed falls back
    // to fontconfig's choice, as a system font service would; Family() tells
    // which face was taken.
    static std::unique_ptr<Font> Create(std::string_view family, int pixelSize,
                                        bool bold = false, bool italic = false);
    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    const std::string& RequestedFamily() const; // the name given to Create
    std::string Family() const;                 // the family actually used
    int PixelSize() const;
    bool Bold() const;
    bool Italic() const;

    FontMetrics Metrics() const;

    // Advance of the character in this font; 0 when the font has no glyph
    // for it (no fallback).
    double Advance(char32_t ch) const;

    // Measures the whole run. extraAdvance is added after every character
    // (used to round a fractional fixed-pitch advance to whole pixels).
    TextExtent Measure(std::u16string_view text, double extraAdvance = 0) const;
    TextExtent Measure(std::u32string_view text, double extraAdvance = 0) const;

    // Horizontal offset of the caret before each UTF-16 index of the run,
    // text.size() + 1 entries; both halves of a surrogate pair share the
    // offset of the pair's start.
    std::vector<double> CaretOffsets(std::u16string_view text, double extraAdvance = 0) const;

    // This font's glyph for each UTF-16 unit (0 where it has none); a
    // surrogate pair gives its glyph at the first unit and 0 at the second.
    std::vector<uint32_t> GlyphsForCharacters(std::u16string_view text) const;

    // The family that cell painting draws a character from when this font
    // lacks it (with `colour`, a colour face first): the first face in
    // fontconfig's fallback order for this font that has it; empty when no
    // installed face has it.
    std::string FallbackFamily(char32_t ch, bool colour = false) const;

    FontImpl& Impl() const { return *impl_; }

private:
    explicit Font(std::unique_ptr<FontImpl> impl);
    std::unique_ptr<FontImpl> impl_;
};

// The family to ask the font system for: the DejaVu family that stands in
// for a well-known name of another desktop (compared without regard to
// case), else the name itself.
std::string SubstituteFamily(std::string_view family);

// Installed font families, sorted, without fontconfig's generic aliases
// ("Monospace", "Sans Serif", "Serif").
std::vector<std::string> FontFamilies();

// Whether the family is fixed-pitch, by measuring sample glyphs (the
// font's own flag is not trusted). The result is kept for the process.
// An unknown family is not fixed-pitch.
bool IsFixedPitchFamily(std::string_view family);

// The fixed-pitch families among FontFamilies().
std::vector<std::string> FixedPitchFamilies();

} // namespace plat
