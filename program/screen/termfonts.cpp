// The terminal font list and the font description strings.
#include "program/screen/termfonts.h"

#include "program/screen/vioutils.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/winfont.h"

#include <cmath>
#include <cstdlib>
#include <mutex>
#include <string>
#include <strings.h>
#include <vector>

namespace {

constexpr int kMaxFilterNames = 63;

struct FILTERS {
    std::mutex Guard;
    std::vector<std::string> Include;
    std::vector<std::string> Exclude;
};

FILTERS& Filters()
{
    static FILTERS filters;
    return filters;
}

std::vector<std::string> SplitNames(char const* list)
{
    std::vector<std::string> names;
    if (!list)
        return names;
    std::string item;
    for (char const* p = list;; ++p) {
        if (*p == '|' || *p == 0) {
            if (!item.empty() && int(names.size()) < kMaxFilterNames)
                names.push_back(item);
            item.clear();
            if (*p == 0)
                break;
        } else {
            item.push_back(*p);
        }
    }
    return names;
}

bool Contains(std::vector<std::string> const& names, char const* name)
{
    for (auto const& n : names)
        if (strcasecmp(n.c_str(), name) == 0)
            return true;
    return false;
}

int PlatformList(WSTRINGARRAY& out, bool bold, int codePage)
{
    return WINDOWFONT::GetFixedFontlist(out, bold, codePage, nullptr);
}

TERMFONTS::FONTLISTSOURCE gListSource = &PlatformList;

} // namespace

TERMFONTS::TERMFONTS() { LOGIT("TERMFONTS::TERMFONTS\n"); }
TERMFONTS::~TERMFONTS() { LOGIT("TERMFONTS::~TERMFONTS\n"); }

TERMFONTS::FONTLISTSOURCE TERMFONTS::SetFontlistSource(FONTLISTSOURCE source)
{
    FONTLISTSOURCE const old = gListSource;
    gListSource = source ? source : &PlatformList;
    return old;
}

void TERMFONTS::SetFontFilters(char const* include, char const* exclude)
{
    FILTERS& f = Filters();
    std::lock_guard<std::mutex> lock(f.Guard);
    f.Include = SplitNames(include);
    f.Exclude = SplitNames(exclude);
}

int TERMFONTS::CheckExclude(char const* name)
{
    if (!name)
        return 1;
    FILTERS& f = Filters();
    std::lock_guard<std::mutex> lock(f.Guard);
    if (!f.Include.empty() && !Contains(f.Include, name)) {
        LOGIT("TERMFONTS::CheckExclude %s (in)\n", name);
        return 1;
    }
    if (Contains(f.Exclude, name)) {
        LOGIT("TERMFONTS::CheckExclude %s (ex)\n", name);
        return 1;
    }
    return 0;
}

int TERMFONTS::QueryFixedFonts(TERMFONT* out, int max, wchar_t const* onlyName, int codePage, signed char flag)
{
    if (!out || max <= 0)
        return 0;
    WSTRINGARRAY list;
    gListSource(list, flag != 0, codePage);
    int count = 0;
    for (int i = 0; i < list.NumItems() && count < max; ++i) {
        WSTRING const& entry = *list[i];
        WSTRING const name = entry.Token(0, L"|");
        WSTRING const points = entry.Token(1, L"|");
        WSTRING const cell = entry.Token(2, L"|");
        if (std::wcsstr(name.Buf(), L"  ")) {
            LOGIT("TERMFONTS::QueryFixedFonts font name with two blanks: %ls\n", name.Buf());
            VIOASSERT(false, "wcsstr(wfontname, L\"  \")==NULL");
            continue;
        }
        if (CheckExclude(name.AsUtf8().Buf()))
            continue;
        if (onlyName && wcscasecmp(onlyName, name.Buf()) != 0)
            continue;
        TERMFONT& f = out[count];
        f = TERMFONT{};
        std::wcsncpy(f.Name, name.Buf(), 63);
        f.Name[63] = 0;
        if (std::swscanf(cell.Buf(), L"%d X %d", &f.CellWidth, &f.CellHeight) != 2)
            f.CellWidth = f.CellHeight = 0;
        f.PointsX100 = int(std::wcstod(points.Buf(), nullptr) * 100);
        f.Flag1 = 1;
        f.Flag2 = 1;
        ++count;
    }
    return count;
}

void TERMFONTS::ComposeFontstr(wchar_t* buffer, int size, wchar_t const* name, int cellWidth, int cellHeight,
                               int pointsTimes100)
{
    if (!buffer || size <= 0)
        return;
    if (!name)
        name = L"";
    VIOASSERT(std::wcsstr(name, L"  ") == nullptr, "wcsstr(wname, L\"  \")==NULL");
    int n = std::swprintf(buffer, size_t(size), L"%ls  %d X %d", name, cellWidth, cellHeight);
    if (n < 0) {
        // Cut to the buffer: swprintf leaves nothing when the text does not fit.
        std::wstring text = std::wstring(name) + L"  " + std::to_wstring(cellWidth) + L" X " +
                            std::to_wstring(cellHeight);
        std::wcsncpy(buffer, text.c_str(), size_t(size - 1));
        buffer[size - 1] = 0;
        return;
    }
    if (pointsTimes100 != 0) {
        double const points = pointsTimes100 / 100.0;
        wchar_t const* form = pointsTimes100 % 100 == 0 ? L" (%1.0lf pt)" : L" (%1.1lf pt)";
        std::swprintf(buffer + n, size_t(size - n), form, points);
    }
}

void TERMFONTS::ComposeFontstr(wchar_t* buffer, int size, TERMFONT const& font)
{
    ComposeFontstr(buffer, size, font.Name, font.CellWidth, font.CellHeight, font.PointsX100);
}

void TERMFONTS::GetNameFromFontstr(wchar_t const* fontString, wchar_t* buffer, int size)
{
    if (!buffer || size <= 0)
        return;
    wchar_t const* sep = fontString ? std::wcsstr(fontString, L"  ") : nullptr;
    if (!sep) {
        std::wcsncpy(buffer, L"<UNKNOWN>", size_t(size - 1));
        buffer[size - 1] = 0;
        return;
    }
    size_t const n = std::min(size_t(sep - fontString), size_t(size - 1));
    std::wmemcpy(buffer, fontString, n);
    buffer[n] = 0;
}

void TERMFONTS::GetSizeFromFontstr(wchar_t const* fontString, int* cellWidth, int* cellHeight)
{
    int w = 8, h = 12;
    wchar_t const* sep = fontString ? std::wcsstr(fontString, L"  ") : nullptr;
    if (sep) {
        int pw = 0, ph = 0;
        int const n = std::swscanf(sep, L" %d X %d", &pw, &ph);
        if (VIOASSERT(n == 2, "n==2") && n == 2) {
            w = pw;
            h = ph;
        }
    }
    if (cellWidth)
        *cellWidth = w;
    if (cellHeight)
        *cellHeight = h;
}

int TERMFONTS::CompareFonts(wchar_t const* a, wchar_t const* b)
{
    auto trimmed = [](wchar_t const* s) {
        std::wstring t = s ? std::wstring(s).substr(0, 255) : std::wstring();
        if (!t.empty() && t.back() == L'*')
            t.pop_back();
        return t;
    };
    return std::wcscmp(trimmed(a).c_str(), trimmed(b).c_str());
}

void TERMFONTS::GetDefaultFont(wchar_t* buffer, int size, int points)
{
    if (!buffer || size <= 0)
        return;
    PERFORMANCETIMER timer("TERMFONTS::GetDefaultFont");
    LOGIT("TERMFONTS::GetDefaultFont ptsize= %d\n", points);
    constexpr int kMax = 512;
    std::vector<TERMFONT> fonts(kMax);
    int const n = QueryFixedFonts(fonts.data(), kMax, nullptr, 1252, 0);
    int const target = points * 100;
    int found = -1;
    for (int i = 0; i < n && found < 0; ++i)
        if (std::wcsncmp(fonts[size_t(i)].Name, L"Monaco", 6) == 0 && fonts[size_t(i)].PointsX100 >= target)
            found = i;
    for (int i = 0; i < n && found < 0; ++i)
        if (fonts[size_t(i)].PointsX100 >= target)
            found = i;
    // No font large enough: the largest one rather than whatever the
    // buffer held before.
    if (found < 0) {
        for (int i = 0; i < n; ++i)
            if (found < 0 || fonts[size_t(i)].PointsX100 > fonts[size_t(found)].PointsX100)
                found = i;
    }
    if (found >= 0)
        ComposeFontstr(buffer, size, fonts[size_t(found)]);
    else
        buffer[0] = 0;
    timer.LogResult();
    LOGIT("TERMFONTS::GetDefaultFont done, defaultfont= %ls\n", buffer);
}
