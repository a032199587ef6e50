// TERMFONTS: the fixed-pitch fonts a terminal can use, and the font
// description strings kept in session profiles and program settings:
// "name  W X H" with an optional " (10 pt)" or " (10.5 pt)"; two blanks
// separate the name from the cell size, so a name never holds two blanks in
// a row; a trailing "*" marks a preselected entry of a list.
#pragma once

#include "velmot/core/strings.h"

#include <cwchar>

class WSTRINGARRAY;

// One listed font.
struct TERMFONT {
    wchar_t Name[64];
    int CellWidth;
    int CellHeight;
    int PointsX100;
    signed char Flag1;
    signed char Flag2;
};

class TERMFONTS {
public:
    TERMFONTS();
    ~TERMFONTS();

    // The fixed-pitch fonts of the code page, filtered by the include and
    // exclude lists and, when onlyName is given, by name (without regard to
    // case); the number stored.
    static int QueryFixedFonts(TERMFONT* out, int max, wchar_t const* onlyName, int codePage, signed char flag);
    static void ComposeFontstr(wchar_t* buffer, int size, wchar_t const* name, int cellWidth, int cellHeight,
                               int pointsTimes100);
    static void ComposeFontstr(wchar_t* buffer, int size, TERMFONT const& font);
    static void GetNameFromFontstr(wchar_t const* fontString, wchar_t* buffer, int size);
    static void GetSizeFromFontstr(wchar_t const* fontString, int* cellWidth, int* cellHeight);
    // wcscmp of the two strings without one trailing "*" each.
    static int CompareFonts(wchar_t const* a, wchar_t const* b);
    // The description of the default terminal font for a size in points:
    // the first "Monaco" at least that large, else the first font of any
    // name at least that large, else the largest font listed.
    static void GetDefaultFont(wchar_t* buffer, int size, int points);
    // 1 when the font must not be offered.
    static int CheckExclude(char const* name);

    // The include ("/FI:") and exclude ("/FX:") lists of the command line,
    // each names separated by "|" (at most 63 names each are used); null
    // or empty clears a list.
    static void SetFontFilters(char const* include, char const* exclude);

    // Where the fixed-pitch list comes from (WINDOWFONT::GetFixedFontlist
    // unless replaced): fills entries "name|points|W X H".
    using FONTLISTSOURCE = int (*)(WSTRINGARRAY& out, bool bold, int codePage);
    static FONTLISTSOURCE SetFontlistSource(FONTLISTSOURCE source);
};
