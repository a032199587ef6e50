// COREFONT, the font description text, and the font operations of WINDC.
#include "velmot/gui/winfont.h"

#include "platform/draw/context.h"
#include "platform/draw/font.h"
#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/windraw.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

namespace {

void Check(char const* where) { TARVOAPP::CheckCallerThread(where); }

// Sizes beyond this are refused: no screen or page needs them, and the
// font system would render glyphs of any size asked for.
constexpr int kMaxFontSize = 1000;

std::u16string_view View16(unsigned short const* text, int n)
{
    static_assert(sizeof(unsigned short) == sizeof(char16_t));
    // char16_t and unsigned short share size and representation; the view
    // only reads the units.
    return std::u16string_view(reinterpret_cast<char16_t const*>(text), size_t(std::max(n, 0)));
}

// Copies a wide text into a buffer of `size` characters, cut to fit and
// always terminated.
void CopyWide(wchar_t* out, int size, wchar_t const* text)
{
    if (!out || size <= 0)
        return;
    int i = 0;
    for (; text && text[i] && i < size - 1; ++i)
        out[i] = text[i];
    out[i] = 0;
}

bool HasLetter(WSTRING const& text, wchar_t lower, wchar_t upper)
{
    return text.Find(lower) || text.Find(upper);
}

// The samples the layout is measured with: tall and deep glyphs for the
// cell height; narrow, wide and accented ones for the advance.
constexpr char16_t kHeightSample[] = {0x5F, 0xCB, 0x7C, 0xC0, 0xB0, 0xD6, 0x79, 0x67, 0x40, 0x5E, 0x5F, 0x41, 0x42, 0x43};
constexpr char16_t kWidthSample[] = {0x5F, 0x23, 0x69, 0xC4, 0x42, 0x43, 0x44, 0x45, 0x46,
                                     0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x5F};

} // namespace

// ---------------------------------------------------------------------------
// Font description texts

FONTSPEC ParseFontSpec(wchar_t const* spec)
{
    FONTSPEC out;
    if (!spec)
        return out;
    WSTRING text(spec);
    int32_t dot = text.Pos(L'.');
    if (dot >= 0) {
        out.Prefix = text.Left(dot);
        out.Name = text.Substr(dot + 1);
    } else {
        out.Prefix = text;
    }
    long size = std::wcstol(spec, nullptr, 10);
    out.Size = size < 0 || size > kMaxFontSize ? 0 : int(size);
    out.Bold = HasLetter(out.Prefix, L'b', L'B');
    out.Italic = HasLetter(out.Prefix, L'i', L'I');
    out.Fixed = HasLetter(out.Prefix, L'f', L'F');
    out.Smoothing = out.Prefix.Find(L'a') ? -1 : out.Prefix.Find(L'A') ? 1 : 0;
    return out;
}

int WINDOWFONT::HandleStandardFonts(WSTRING* name, int* size, WSTRING const& prefix)
{
    if (!name || !size)
        return 0;
    if (wcsicmp(name->Buf(), L"Helv") == 0 || wcsicmp(name->Buf(), L"MS Shell Dlg") == 0) {
        *name = L"Lucida Grande";
        if (*size == 7 && HasLetter(prefix, L'b', L'B'))
            *size = 11;
        else
            *size = *size + *size / 2;
        return 1;
    }
    if (HasLetter(prefix, L'd', L'D'))
        *size = *size + *size / 2;
    return 0;
}

// ---------------------------------------------------------------------------
// COREFONT

COREFONT::COREFONT(wchar_t const* name, int size, bool bold, bool italic, bool fixed, int smoothing,
                   UNICODE_CODEPAGE cp)
    : Name(name ? name : L""), Size(size), Bold(bold), Italic(italic), Fixed(fixed), Smoothing(smoothing),
      CodePage(cp)
{
    Check("COREFONT::COREFONT");
    if (size > 0 && size <= kMaxFontSize)
        FontRef = plat::Font::Create(Name.AsUtf8().Buf(), size, bold, false);
}

COREFONT::~COREFONT() = default;

FONTLAYOUT* COREFONT::InitContext(plat::DrawContext* context)
{
    Check("COREFONT::InitContext");
    auto* layout = new (std::nothrow) FONTLAYOUT();
    if (!ASSERTMSG(layout, "pfontlayout") || !layout)
        return nullptr;
    CopyWide(layout->FontName, int(std::size(layout->FontName)), Name.Buf());
    LOGIT("COREFONT::InitContext for font %ls\n", Name.Buf());
    CalcLayout(context, layout);
    return layout;
}

void COREFONT::CleanupContext(FONTLAYOUT* layout)
{
    if (!layout)
        return;
    layout->CellWidth = layout->CellHeight = layout->Descent = 0;
    delete layout;
}

void COREFONT::CalcLayout(plat::DrawContext* context, FONTLAYOUT* layout)
{
    if (!layout)
        return;
    if (Metrics) {
        layout->CellWidth = Metrics->CellWidth;
        layout->CellHeight = Metrics->CellHeight;
        layout->Descent = Metrics->Descent;
        layout->IsRealFixed = Metrics->IsRealFixed;
        layout->ExtraAdvance = Metrics->ExtraAdvance;
        return;
    }
    LOGIF(2, "COREFONT::CalcCharBox for %ls %d\n", Name.Buf(), Size);
    // Both samples are measured without extra advance.
    FONTLAYOUT plain = *layout;
    plain.ExtraAdvance = 0;
    RECT box{};
    bool ok = GetStringInfo(&plain, context, reinterpret_cast<unsigned short const*>(kHeightSample),
                            int(std::size(kHeightSample)), &box);
    if (ok) {
        layout->CellHeight = box.top;
        layout->Descent = std::abs(box.bottom);
        constexpr int n = int(std::size(kWidthSample));
        float advances[n] = {};
        uint32_t glyphs[n] = {};
        if (GetStringInfo(&plain, context, reinterpret_cast<unsigned short const*>(kWidthSample), n, &box, advances,
                          glyphs)) {
            bool uniform = true;
            for (int i = 1; i < n; ++i)
                uniform = uniform && std::abs(advances[i] - advances[0]) <= 0.001f;
            layout->IsRealFixed = uniform && glyphs[0] != 0;
            if (layout->IsRealFixed) {
                const float a = advances[0];
                layout->ExtraAdvance = std::floor(a + 0.5f) - a;
                layout->CellWidth = int(a + layout->ExtraAdvance);
            } else {
                layout->CellWidth = int(float(box.right - box.left) / n + 0.5f);
            }
        }
    }
    if (ok)
        Metrics = *layout;
}

bool COREFONT::GetStringInfo(FONTLAYOUT const* layout, plat::DrawContext*, unsigned short const* text, int n,
                             RECT* box, float* advances, uint32_t* glyphs)
{
    if (!FontRef || !text || n < 0)
        return false;
    std::u16string_view run = View16(text, n);
    const double extra = layout && std::abs(layout->ExtraAdvance) > 0.0001f ? layout->ExtraAdvance : 0.0;
    plat::TextExtent e = FontRef->Measure(run, extra);
    if (box) {
        box->left = 0;
        box->right = int32_t(e.width);
        box->top = int32_t(e.ascent + e.descent);
        box->bottom = int32_t(e.descent);
    }
    if (advances && n > 0) {
        std::vector<double> offsets = FontRef->CaretOffsets(run, extra);
        for (int i = 1; i <= n; ++i)
            advances[i - 1] = float(offsets[size_t(i)] - offsets[size_t(i - 1)]);
    }
    if (glyphs && n > 0) {
        std::vector<uint32_t> g = FontRef->GlyphsForCharacters(run);
        for (int i = 0; i < n; ++i)
            glyphs[i] = g[size_t(i)];
    }
    return true;
}

namespace {

// One run in the font's colour: on the cell grid for a fixed-pitch font,
// else as laid-out text with the layout's extra advance.
template <typename VIEW>
void DrawRunIn(COREFONT const& font, FONTLAYOUT const* layout, plat::DrawContext* context, double x, double y,
               VIEW text)
{
    if (!font.FontRef || !context || text.empty())
        return;
    context->SetFillColor(plat::ColorFromValue(font.Colour));
    if (font.Fixed && layout && layout->CellWidth > 0) {
        context->DrawCells(*font.FontRef, plat::Point{x, y}, text, layout->CellWidth);
        return;
    }
    const double extra = layout && std::abs(layout->ExtraAdvance) > 0.0001f ? layout->ExtraAdvance : 0.0;
    context->DrawText(*font.FontRef, plat::Point{x, y}, text, extra);
}

} // namespace

void COREFONT::DrawRun(FONTLAYOUT const* layout, plat::DrawContext* context, double x, double y,
                       std::u16string_view text)
{
    DrawRunIn(*this, layout, context, x, y, text);
}

void COREFONT::DrawRun(FONTLAYOUT const* layout, plat::DrawContext* context, double x, double y,
                       std::u32string_view text)
{
    DrawRunIn(*this, layout, context, x, y, text);
}

int COREFONT::StringOutU(FONTLAYOUT const* layout, plat::DrawContext* context, int x, int y,
                         unsigned short const* text, int n)
{
    Check("COREFONT::StringOutU");
    if (!text)
        return 0;
    if (n < 0) {
        n = 0;
        while (text[n])
            ++n;
    }
    if (!ASSERTMSG(this->FontRef, "err==noErr") || !FontRef)
        return 0;
    DrawRun(layout, context, x, y, View16(text, n));
    return 1;
}

int COREFONT::StringOutW(FONTLAYOUT const* layout, plat::DrawContext* context, int x, int y, wchar_t const* text,
                         int n)
{
    Check("COREFONT::StringOutW");
    if (!text)
        return 0;
    size_t len = n < 0 ? wcslen(text) : size_t(n);
    // Whole characters: nothing outside the Basic Multilingual Plane is cut.
    std::u32string run(len, U'\0');
    for (size_t i = 0; i < len; ++i)
        run[i] = char32_t(text[i]);
    DrawRun(layout, context, x, y, std::u32string_view(run));
    return 1;
}

STRING COREFONT::GetFontnamesize()
{
    LOGIT("COREFONT::GetFontnamesize entered\n");
    STRING rc("<invalid>");
    if (ASSERTMSG(this->FontRef, nullptr) && FontRef) {
        std::string family = FontRef->Family();
        if (!family.empty()) {
            rc.Format("%d.", Size);
            rc.Append(family.c_str());
            // The family's own name, which may hold any character.
            rc.CodePage = UNICODE_CPUTF8;
        }
    }
    LOGIT("COREFONT::GetFontnamesize finished, rc=%s\n", rc.Buf());
    return rc;
}

WSTRINGARRAY COREFONT::CopyAvailableFontFamilyNames()
{
    WSTRINGARRAY out;
    for (std::string const& family : plat::FontFamilies()) {
        WSTRING name;
        name.FromUtf8(family.c_str(), int32_t(family.size()));
        out.AppendItem(name);
    }
    return out;
}

// ---------------------------------------------------------------------------
// WINDC font operations

COREFONT* WINDC::LoadFontW(wchar_t const* spec, UNICODE_CODEPAGE cp)
{
    Check("WINDC::LoadFontW");
    if (!spec)
        return nullptr;
    FONTSPEC f = ParseFontSpec(spec);
    WINDOWFONT::HandleStandardFonts(&f.Name, &f.Size, f.Prefix);
    return LoadFontW(f.Name.Buf(), f.Size, f.Bold, f.Italic, f.Fixed, f.Smoothing, cp ? cp : UNICODE_CPDEFAULT);
}

COREFONT* WINDC::LoadFont(char const* spec, UNICODE_CODEPAGE cp)
{
    Check("WINDC::LoadFont");
    if (!spec)
        return nullptr;
    WSTRING wide(spec, UNICODE_CPDEFAULT);
    return LoadFontW(wide.Buf(), cp);
}

COREFONT* WINDC::LoadFontW(wchar_t const* name, int size, bool bold, bool italic, bool fixed, int smoothing,
                           UNICODE_CODEPAGE cp)
{
    Check("WINDC::LoadFontW");
    if (!name)
        return nullptr;
    auto* font = new COREFONT(name, size, bold, italic, fixed, smoothing, cp);
    if (!font->FontRef) {
        delete font;
        return nullptr;
    }
    return font;
}

COREFONT* WINDC::LoadFont(char const* name, int size, bool bold, bool italic, bool fixed, int smoothing,
                          UNICODE_CODEPAGE cp)
{
    Check("WINDC::LoadFont");
    if (!name)
        return nullptr;
    WSTRING wide(name, UNICODE_CPDEFAULT);
    return LoadFontW(wide.Buf(), size, bold, italic, fixed, smoothing, cp);
}

namespace {

// The entry of the fixed-pitch list to load for the wanted cell: the exact
// match, else the nearest (see LoadFixedFontW). Empty when the family has
// no entry.
WSTRING MatchFixedEntry(WSTRINGARRAY const& list, wchar_t const* name, SIZE cell)
{
    WSTRING exact, nearest;
    int lastHeight = 0;
    bool first = true;
    WSTRING previous;
    for (int i = 0; i < list.NumItems(); ++i) {
        WSTRING const& entry = *list[i];
        if (wcsicmp(entry.Token(0, L"|").Buf(), name) != 0)
            continue;
        int w = 0, h = 0;
        if (swscanf(entry.Token(2, L"|").Buf(), L"%d X %d", &w, &h) != 2) {
            continue;
        }
        if (w == cell.cx && h == cell.cy) {
            exact = entry;
            break;
        }
        if (h > cell.cy) {
            // The entry before the first taller one, when it has the wanted
            // height; otherwise the first taller one.
            nearest = !first && lastHeight == cell.cy ? previous : entry;
            break;
        }
        lastHeight = h;
        previous = entry;
        nearest = entry;
        first = false;
    }
    LOGIT("WINDC::LoadFixedFont exactmatch %ls\n", exact.Buf());
    LOGIT("WINDC::LoadFixedFont nearmatch %ls\n", nearest.Buf());
    return exact.Length() > 0 ? exact : nearest;
}

} // namespace

COREFONT* WINDC::LoadFixedFontW(wchar_t const* name, SIZE cell, bool bold, int smoothing, UNICODE_CODEPAGE cp)
{
    Check("WINDC::LoadFixedFontW");
    if (!name)
        return nullptr;
    LOGIT("WINDC::LoadFixedFont %ls %d x %d\n", name, cell.cx, cell.cy);
    WSTRINGARRAY list;
    WINDOWFONT::GetFixedFamilyUpTo(list, bold, cp, name, cell);
    WSTRING entry = MatchFixedEntry(list, name, cell);
    WSTRING family(name);
    if (entry.Length() == 0) {
        // A family this desktop lacks ("Monaco") is looked for under the
        // installed family that stands in for it.
        std::string substitute = plat::SubstituteFamily(WSTRING(name).AsUtf8().Buf());
        family.FromUtf8(substitute.c_str(), int32_t(substitute.size()));
        if (wcsicmp(family.Buf(), name) != 0) {
            WSTRINGARRAY other;
            WINDOWFONT::GetFixedFamilyUpTo(other, bold, cp, family.Buf(), cell);
            entry = MatchFixedEntry(other, family.Buf(), cell);
        }
    }
    COREFONT* font = nullptr;
    WSTRING spec;
    if (entry.Length() > 0) {
        spec = entry.Token(1, L"|");
        spec.Append(smoothing == -1 ? L"aF." : smoothing == 1 ? L"AF." : L"F.");
        spec.Append(entry.Token(0, L"|"));
        font = LoadFontW(spec.Buf(), cp);
    }
    LOGIT("WINDC::LoadFixedFont done with %ls\n", spec.Buf());
    return font;
}

COREFONT* WINDC::LoadFixedFont(char const* name, SIZE cell, bool bold, int smoothing, UNICODE_CODEPAGE cp)
{
    Check("WINDC::LoadFixedFont");
    if (!name)
        return nullptr;
    WSTRING wide(name, UNICODE_CPDEFAULT);
    return LoadFixedFontW(wide.Buf(), cell, bold, smoothing, cp);
}

int WINDC::DestroyFont(COREFONT* font)
{
    Check("WINDC::DestroyFont");
    delete font;
    return 1;
}

void WINDC::SelectFont(COREFONT* font)
{
    Check("WINDC::SelectFont");
    ASSERTMSG(this->hFont == NULL, nullptr);
    ASSERTMSG(this->hFontContext == NULL, nullptr);
    if (hFont && hFontContext)
        hFont->CleanupContext(hFontContext);
    hFont = font;
    hFontContext = font ? font->InitContext(Context()) : nullptr;
}

void WINDC::DeselectFont(COREFONT* font)
{
    Check("WINDC::DeselectFont");
    ASSERTMSG(this->hFontContext != NULL, nullptr);
    ASSERTMSG(this->hFont != NULL, nullptr);
    ASSERTMSG(this->hFont == font, "this->hFont==hfont");
    if (hFont && hFontContext)
        hFont->CleanupContext(hFontContext);
    hFont = nullptr;
    hFontContext = nullptr;
}

SIZE WINDC::GetFontSize()
{
    int w = 0, h = 0;
    GetFontSize(&w, &h, nullptr);
    return SIZE{w, h};
}

void WINDC::GetFontSize(int* width, int* height, int* descent)
{
    ASSERTMSG(this->hFont, nullptr);
    ASSERTMSG(this->hFontContext, nullptr);
    FONTLAYOUT const* l = hFontContext;
    if (width)
        *width = l ? l->CellWidth : 0;
    if (height)
        *height = l ? l->CellHeight : 0;
    if (descent)
        *descent = l ? l->Descent : 0;
}

void WINDC::GetFontname(char* buffer, int size)
{
    Check("WINDC::GetFontname");
    if (!buffer || size <= 0)
        return;
    buffer[0] = 0;
    if (!hFont)
        return;
    STRING name(hFont->Name, UNICODE_CPSYSTEM);
    name.CopyToBuf(buffer, size);
}

void WINDC::GetFontnameW(wchar_t* buffer, int size)
{
    Check("WINDC::GetFontnameW");
    if (!buffer || size <= 0)
        return;
    buffer[0] = 0;
    if (hFontContext)
        CopyWide(buffer, size, hFontContext->FontName);
}

STRING WINDC::GetDefaultFontnamesize() { return STRING("9.MS Shell Dlg", UNICODE_CPDEFAULT); }

// ---------------------------------------------------------------------------
// WINDOWFONT

WINDOWFONT::~WINDOWFONT() { delete hFont; }

bool WINDOWFONT::Load(char const* spec, UNICODE_CODEPAGE cp)
{
    Check("WINDOWFONT::Load");
    delete hFont;
    hFont = nullptr;
    if (!spec)
        return false;
    // Loading needs no context; the DC only carries the operation.
    WINDC dc(nullptr, RECT{}, false);
    hFont = dc.LoadFont(spec, cp);
    return hFont != nullptr;
}
