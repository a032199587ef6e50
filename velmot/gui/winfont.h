// Fonts of the toolkit: the font description text, the font object
// COREFONT with its per-selection metrics FONTLAYOUT, and the font holder
// WINDOWFONT with the process-wide lists of fixed-pitch fonts
// (winfontlist.cpp).
//
// A font description text names a font by size, flag letters and family:
// "9.MS Shell Dlg", "12B.Monaco", "12aF.Monaco". The size is the leading
// number; everything before the first "." is the prefix, everything after
// it the family. Flag letters in the prefix: b/B bold, i/I italic, f/F
// fixed-pitch (text is drawn on a grid of whole-pixel cells), d/D the size
// times 1.5; "a" smoothing -1, else "A" smoothing 1. The names "Helv" and
// "MS Shell Dlg" stand for the standard dialog font "Lucida Grande" at 1.5
// times the size (7 bold: 11). Family names that this desktop lacks are
// mapped to installed families by the drawing layer (plat::SubstituteFamily).
//
// Sizes are pixels of the drawing context (points on a 72-dpi page). Main
// thread only, except that the font lists are also guarded by
// WINDOWFONT::FontlistLock.
#pragma once

#include "velmot/core/osyssync.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/wintypes.h"

#include <memory>
#include <optional>
#include <string_view>

namespace plat {
class DrawContext;
class Font;
} // namespace plat

class WINDC;

// The metrics of one font as selected into one WINDC.
struct FONTLAYOUT {
    uintptr_t Reserved = 0;
    wchar_t FontName[128] = {};
    int32_t CellWidth = 0;
    int32_t CellHeight = 0;
    int32_t Descent = 0;
    // All sample glyphs have one advance and the font has them.
    bool IsRealFixed = false;
    // Added after every character so that a fractional fixed-pitch advance
    // becomes a whole number of pixels.
    float ExtraAdvance = 0;
};

// The parts of a font description text, before the standard names are
// resolved.
struct FONTSPEC {
    WSTRING Prefix;
    WSTRING Name;
    int Size = 0;
    bool Bold = false;
    bool Italic = false;
    bool Fixed = false;
    int Smoothing = 0;
};
VELMOT_EXPORT FONTSPEC ParseFontSpec(wchar_t const* spec);

class VELMOT_EXPORT COREFONT {
public:
    WSTRING Name;
    int32_t Size = 0;
    bool Bold = false;
    bool Italic = false;
    bool Fixed = false;
    int32_t Smoothing = 0;
    UNICODE_CODEPAGE CodePage = UNICODE_CPDEFAULT;
    // The platform font; null when it could not be made.
    std::unique_ptr<plat::Font> FontRef;
    uintptr_t Reserved = 0;
    // The colour text is drawn in (0xTTBBGGRR), set before each draw.
    COLORREF Colour = 0;

    // Italic and smoothing are kept with the font; they do not change how
    // it is made or drawn.
    COREFONT(wchar_t const* name, int size, bool bold, bool italic, bool fixed, int smoothing,
             UNICODE_CODEPAGE cp);
    virtual ~COREFONT();
    COREFONT(COREFONT const&) = delete;
    COREFONT& operator=(COREFONT const&) = delete;

    // The metrics for a selection into a context; the caller frees them
    // with CleanupContext.
    FONTLAYOUT* InitContext(plat::DrawContext* context);
    void CleanupContext(FONTLAYOUT* layout);
    void CalcLayout(plat::DrawContext* context, FONTLAYOUT* layout);

    // Measures UTF-16 text laid out as one line: box left 0, right the
    // width, top the height (ascent + descent), bottom the descent, each
    // truncated. advances (n entries) receive the offset of each unit from
    // the one before; glyphs (n entries) this font's glyph per unit, 0
    // where it has none. False when the text cannot be laid out.
    bool GetStringInfo(FONTLAYOUT const* layout, plat::DrawContext* context, unsigned short const* text, int n,
                       RECT* box, float* advances = nullptr, uint32_t* glyphs = nullptr);

    // Draws the text with its baseline origin at (x, y) in the context's
    // y-up user space, in Colour. A font marked fixed-pitch puts one
    // character (a surrogate pair is one) per cell of the layout's width.
    int StringOutU(FONTLAYOUT const* layout, plat::DrawContext* context, int x, int y, unsigned short const* text,
                   int n);
    int StringOutW(FONTLAYOUT const* layout, plat::DrawContext* context, int x, int y, wchar_t const* text, int n);
    // The same on a UTF-16 or UTF-32 run without the conversions.
    void DrawRun(FONTLAYOUT const* layout, plat::DrawContext* context, double x, double y,
                 std::u16string_view text);
    void DrawRun(FONTLAYOUT const* layout, plat::DrawContext* context, double x, double y,
                 std::u32string_view text);

    // "size.family" of the platform font, or "<invalid>".
    STRING GetFontnamesize();

    // The installed font families, in the font system's order.
    static WSTRINGARRAY CopyAvailableFontFamilyNames();

private:
    // The platform measures the same in every context, so the metrics are
    // worked out on the first selection and copied on the next ones.
    std::optional<FONTLAYOUT> Metrics;
};

class VELMOT_EXPORT WINDOWFONT {
public:
    WINDOWFONT() = default;
    virtual ~WINDOWFONT();
    WINDOWFONT(WINDOWFONT const&) = delete;
    WINDOWFONT& operator=(WINDOWFONT const&) = delete;

    virtual operator COREFONT*() const { return hFont; }

    // Loads the font of the description text in place of the current
    // one; true when a font was loaded.
    bool Load(char const* spec, UNICODE_CODEPAGE cp = 0);

    // The fixed-pitch fonts found so far, regular and bold: one entry per
    // size that measured fixed-pitch, "family|size[B]|W X H" (cell in
    // pixels). Filled on first use and kept for the process.
    static WSTRINGARRAY Fontlist;
    static WSTRINGARRAY FontlistBold;
    // Families known not to be fixed-pitch (UTF-8), kept across runs in the
    // cache file.
    static STRINGARRAY FontlistFilter;
    // Guards the three lists and the cache file.
    static MUTEXSEM FontlistLock;

    static bool IsBlacklistedByName(STRING const& name);
    // Whether the family is fixed-pitch at this size; cell receives its
    // cell then, else (0, 0).
    static bool TryFont(WINDC& dc, int size, UNICODE_CODEPAGE cp, bool bold, WSTRING const& name, SIZE* cell);
    static int FillFontlistFilter(int reason);
    static int GetFixedFontlist(WSTRINGARRAY& out, bool bold, UNICODE_CODEPAGE cp, wchar_t const* preselect);
    // What loading a fixed font of one family and cell looks at: the list
    // GetFixedFontlist(out, bold, cp, family) gives, measured only up to the
    // family's first entry of that cell or of a taller one. The other
    // families are neither measured nor filtered (a family named in the
    // cache file is left out, as the full list would); the list kept for
    // the process is handed out when there is one.
    static int GetFixedFamilyUpTo(WSTRINGARRAY& out, bool bold, UNICODE_CODEPAGE cp, wchar_t const* family,
                                  SIZE cell);
    static int HandleStandardFonts(WSTRING* name, int* size, WSTRING const& prefix);
    // The not-fixed-font cache file in the program's folder of the user's
    // cache folder ($XDG_CACHE_HOME/qor); empty without a home.
    static STRING FontlistCacheFile();

protected:
    COREFONT* hFont = nullptr;
};
