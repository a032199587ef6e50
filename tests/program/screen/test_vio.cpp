// The screen's cells, rows, colours and state operations.
#include "tests/program/screen/viotranscript.h"
#include "tests/velmot/core/assertrecorder.h"

#include "program/screen/vioutils.h"
#include "velmot/core/osys.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using viotest::SCREEN;

namespace {

std::vector<std::string> Conditions(testutil::ASSERTRECORDER& r)
{
    std::vector<std::string> out;
    for (auto const& a : r.Take())
        out.push_back(a.Condition);
    return out;
}

// ---- The cell and the plug-in table ----

TEST(VioCell, ByteLayoutOfColoursAndSentinel)
{
    struct CASE {
        uint16_t c, attrib;
        uint8_t ext;
        int fore, back;
        uint8_t bytes[8];
    };
    CASE const cases[] = {
        // The sentinel: CC BB AA 00 FF DD E0 0E.
        {0xBBCC, 0x00AA, 0xFF, 0xDD, 0xEE, {0xCC, 0xBB, 0xAA, 0x00, 0xFF, 0xDD, 0xE0, 0x0E}},
        // fore = b5 + (b6 & 0x0F) * 256, back = (b6 >> 4) + b7 * 16.
        {0x0041, 0x8000, 0x02, 0xABC, 0x123, {0x41, 0x00, 0x00, 0x80, 0x02, 0xBC, 0x3A, 0x12}},
        {0x4E2D, 0x0000, 0x00, 0xFFF, 0x000, {0x2D, 0x4E, 0x00, 0x00, 0x00, 0xFF, 0x0F, 0x00}},
        {0x0000, 0x0000, 0x00, 0x000, 0xFFF, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0xFF}},
    };
    for (CASE const& t : cases) {
        VIOCELL cell = vioutils::MakeCell(t.c, t.attrib, t.fore, t.back, t.ext);
        uint8_t bytes[8];
        std::memcpy(bytes, &cell, 8);
        EXPECT_EQ(0, std::memcmp(bytes, t.bytes, 8)) << std::hex << "fore " << t.fore << " back " << t.back;
    }
    VIOCELL const end = VIO::ScreenMakeEndCell();
    uint8_t bytes[8];
    std::memcpy(bytes, &end, 8);
    EXPECT_EQ(0, std::memcmp(bytes, cases[0].bytes, 8));
}

// The slot of a virtual member function in the Itanium ABI: its member
// pointer holds 1 + the offset in the table.
template <class F>
size_t Slot(F f)
{
    struct {
        uintptr_t ptr;
        ptrdiff_t adj;
    } rep;
    static_assert(sizeof(F) == sizeof(rep));
    std::memcpy(&rep, &f, sizeof rep);
    return (rep.ptr - 1) / sizeof(void*);
}

TEST(VioApi, SlotOrderIsThePluginInterface)
{
    using A = VIOAPI;
    struct ENTRY {
        char const* name;
        size_t slot;
        size_t expected;
    };
    ENTRY const table[] = {
        {"Init", Slot(&A::Init), 2},
        {"Cleanup", Slot(&A::Cleanup), 3},
        {"conputs", Slot(&A::conputs), 4},
        {"conputws", Slot(&A::conputws), 5},
        {"TextToWindow", Slot(&A::TextToWindow), 6},
        {"AccessVioScreen", Slot(&A::AccessVioScreen), 7},
        {"AccessVioCell(index)", Slot(static_cast<VIOCELL* (A::*)(int)>(&A::AccessVioCell)), 8},
        {"AccessVioCell(x,y)", Slot(static_cast<VIOCELL* (A::*)(int, int, signed char)>(&A::AccessVioCell)), 9},
        {"ReleaseVioScreen", Slot(&A::ReleaseVioScreen), 10},
        {"SetScreenAttr", Slot(&A::SetScreenAttr), 11},
        {"SetFont", Slot(&A::SetFont), 12},
        {"GetFont", Slot(&A::GetFont), 13},
        {"GetFontSize", Slot(&A::GetFontSize), 14},
        {"GetString(char)", Slot(static_cast<void (A::*)(char*, int*, int, int, int, signed char*)>(&A::GetString)), 15},
        {"GetString(wchar_t)", Slot(static_cast<void (A::*)(wchar_t*, int*, int, int, signed char*)>(&A::GetString)), 16},
        {"GetCells", Slot(&A::GetCells), 17},
        {"GetCursorPos", Slot(&A::GetCursorPos), 18},
        {"GetSysColor", Slot(&A::GetSysColor), 19},
        {"SetCodepage", Slot(&A::SetCodepage), 20},
        {"SetCursorPos", Slot(&A::SetCursorPos), 21},
        {"SetInverse", Slot(&A::SetInverse), 22},
        {"SetMode", Slot(&A::SetMode), 23},
        {"SetWinSize", Slot(&A::SetWinSize), 24},
        {"ScrollArea", Slot(&A::ScrollArea), 25},
        {"MoveArea", Slot(&A::MoveArea), 26},
        {"WriteByte", Slot(&A::WriteByte), 27},
        {"WriteWideByte", Slot(&A::WriteWideByte), 28},
        {"Erase", Slot(&A::Erase), 29},
        {"ScreenToScrollback", Slot(&A::ScreenToScrollback), 30},
        {"Do", Slot(&A::Do), 31},
        {"IsUpAndRunning", Slot(&A::IsUpAndRunning), 32},
        {"GetWinSize", Slot(&A::GetWinSize), 33},
        {"GetCodepage", Slot(&A::GetCodepage), 34},
        {"GetBackgroundColor", Slot(&A::GetBackgroundColor), 35},
        {"SetDrawBracket", Slot(&A::SetDrawBracket), 36},
        {"SetAltScreen", Slot(&A::SetAltScreen), 37},
        {"SetCursorOnOff", Slot(&A::SetCursorOnOff), 38},
        {"SetCursorType(block,style)", Slot(static_cast<void (A::*)(signed char, int)>(&A::SetCursorType)), 39},
        {"GetCursorType", Slot(&A::GetCursorType), 40},
        {"SetCursorType(raw)", Slot(static_cast<void (A::*)(int)>(&A::SetCursorType)), 41},
        {"SetCursorBlinkSkip", Slot(&A::SetCursorBlinkSkip), 42},
        {"SetColors", Slot(&A::SetColors), 43},
        {"SetModeFlags", Slot(&A::SetModeFlags), 44},
        {"SetLineEndFlag", Slot(&A::SetLineEndFlag), 45},
        {"GetFontHandle", Slot(&A::GetFontHandle), 46},
        {"SetMarkArea", Slot(&A::SetMarkArea), 47},
        {"GetMarkArea", Slot(&A::GetMarkArea), 48},
        {"ClearMarkArea", Slot(&A::ClearMarkArea), 49},
        {"FlashWindow", Slot(&A::FlashWindow), 50},
        {"SetXtermColor(text)", Slot(static_cast<void (A::*)(char const*)>(&A::SetXtermColor)), 51},
        {"InitWithFont", Slot(&A::InitWithFont), 52},
        {"WriteCells", Slot(&A::WriteCells), 53},
    };
    for (ENTRY const& e : table)
        EXPECT_EQ(e.slot, e.expected) << e.name;
    // Two destructors before Init, the screen's 51 slots and the slots
    // added after them: VIO adds no slot before them.
    EXPECT_EQ(sizeof(table) / sizeof(table[0]) + 2, 54u);
    EXPECT_EQ(Slot(&VIO::WriteCells), 53u);
    EXPECT_EQ(Slot(&VIO::FlashWindow), 50u);
    EXPECT_EQ(Slot(static_cast<void (VIO::*)(char const*)>(&VIO::SetXtermColor)), 51u);
}

// ---- Rows and sentinels ----

TEST(VioRows, FreshScreenIsBlankWithIntactSentinels)
{
    testutil::ASSERTRECORDER recorder;
    SCREEN s(80, 24);
    int width = 0, height = 0;
    s.Vio.GetWinSize(&width, &height);
    ASSERT_EQ(width, 80);
    ASSERT_EQ(height, 24);
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 80; ++x) {
            VIOCELL const c = *s.Vio.AccessVioCell(x, y, 0);
            ASSERT_EQ(vioutils::Bits(c), vioutils::Bits(vioutils::MakeCell(32, 0, 7, 0))) << x << "," << y;
        }
    }
    EXPECT_TRUE(s.Vio.ScreenValidateEndCell());
    EXPECT_EQ(recorder.Count(), 0u);
    EXPECT_EQ(s.Vio.Rows()[24].Cells, nullptr) << "the extra row record ends the table";
}

TEST(VioRows, BrokenSentinelIsReportedPerField)
{
    testutil::ASSERTRECORDER recorder;
    SCREEN s(10, 3);
    VIOCELL* end = s.Vio.Rows()[1].Cells + 10;
    end->c = 'x';
    end->back = 1;
    EXPECT_FALSE(s.Vio.ScreenValidateEndCell());
    EXPECT_EQ(Conditions(recorder), (std::vector<std::string>{"lastcell.c==L'\\xBBCC'", "lastcell.back=='\\xEE'"}));
}

TEST(VioRows, OutOfScreenAccessGetsAScratchCell)
{
    testutil::ASSERTRECORDER recorder;
    SCREEN s(10, 3);
    for (int index : {-1, 30, 1000000}) {
        VIOCELL* c = s.Vio.AccessVioCell(index);
        ASSERT_NE(c, nullptr);
        c->c = 'Z';
    }
    VIOCELL* c = s.Vio.AccessVioCell(10, 0, 1);
    c->c = 'Z';
    c = s.Vio.AccessVioCell(0, -1, 1);
    c->c = 'Z';
    EXPECT_EQ(recorder.Count(), 5u);
    EXPECT_TRUE(s.Vio.ScreenValidateEndCell());
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(viotest::RowText(s.Vio, y), "");
    EXPECT_EQ(s.Vio.AccessVioCell(13)->c, 32) << "row 1, column 3";
}

TEST(VioRows, WritersRejectCoordinatesOutsideTheScreen)
{
    testutil::ASSERTRECORDER recorder;
    SCREEN s(10, 3);
    s.Vio.WriteWideByte(L'x', 5, 10, 0, -1);
    s.Vio.WriteWideByte(L'x', 5, 0, 3, -1);
    s.Vio.WriteWideByte(L'x', 5, -1, 0, -1);
    s.Vio.MoveArea(0, 0, 0, 7, 3);
    s.Vio.MoveArea(9, 0, 0, 0, 1000);
    EXPECT_EQ(Conditions(recorder), (std::vector<std::string>{"x<this->ScreenWidth", "y<this->ScreenHeight",
                                                              "x<this->ScreenWidth", "MoveArea inside the screen"}));
    EXPECT_TRUE(s.Vio.ScreenValidateEndCell());
    // A count past the end of the screen stops there.
    s.Vio.WriteWideByte(L'y', 1000, 8, 2, -1);
    EXPECT_EQ(viotest::RowText(s.Vio, 2), "        yy");
    EXPECT_TRUE(s.Vio.ScreenValidateEndCell());
}

// ---- Runs of cells ----

// A run goes into one row in the style it names: the cursor, the current
// style and the other rows stay; it never wraps, and a double-width
// character goes in whole or not at all.
TEST(VioCells, WriteCellsFillsOneRowInItsOwnStyle)
{
    struct CASE {
        char const* what;
        int x, y;
        std::wstring text;
        int written;
        char const* row0;
        char const* row1;
    } const cases[] = {
        {"inside the row", 2, 1, L"abc", 3, "", "  abc"},
        {"cut at the row's end", 6, 0, L"abcdefgh", 4, "      abcd", ""},
        {"a wide character and what no longer fits", 7, 0, L"\u4E2Dxy", 2, "       \u4E2Dx", ""},
        {"a wide character in the last column", 9, 0, L"\u4E2D", 0, "", ""},
        {"a mark goes with the character before it", 0, 1, L"e\u0301x\u0302", 4, "", "e\u0301x\u0302"},
        {"a character beyond U+FFFF", 0, 1, L"\U0001F600z", 2, "", "\U0001F600z"},
        {"outside the screen", 0, 3, L"abc", 0, "", ""},
        {"left of the screen", -1, 0, L"abc", 0, "", ""},
        {"nothing", 0, 0, L"", 0, "", ""},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.what);
        SCREEN s(10, 3);
        s.Vio.SetCursorPos(4, 2);
        s.Vio.Do(VIODO_COLORS, 1, 2);
        int const written = s.Vio.WriteCells(c.x, c.y, c.text.c_str(), int(c.text.size()), VIOATTR_UNDERLINE, 3, 4);
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(viotest::RowText(s.Vio, 0), c.row0);
        EXPECT_EQ(viotest::RowText(s.Vio, 1), c.row1);
        EXPECT_EQ(viotest::RowText(s.Vio, 2), "");
        int x = 0, y = 0;
        s.Vio.GetCursorPos(&x, &y);
        EXPECT_EQ(x, 4);
        EXPECT_EQ(y, 2);
        EXPECT_EQ(s.Vio.Do(VIODO_ATTRIB, -1, -1), 0);
        EXPECT_EQ(s.Vio.Do(VIODO_ISWRAPPED, 9, 0), 0);
        EXPECT_TRUE(s.Vio.ScreenValidateEndCell());
    }
    // The cells carry the run's style, and a wide character its two halves.
    SCREEN s(10, 3);
    EXPECT_EQ(s.Vio.WriteCells(0, 0, L"a\u4E2D", 2, VIOATTR_UNDERLINE, 3, 4), 2);
    VIOCELL const* row = s.Vio.AccessVioCell(0, 0, 0);
    EXPECT_EQ(row[0].c, L'a');
    EXPECT_EQ(row[0].attrib, VIOATTR_UNDERLINE);
    EXPECT_EQ(row[0].fore, 3u);
    EXPECT_EQ(row[0].back, 4u);
    EXPECT_EQ(row[1].c, 0x4E2D);
    EXPECT_EQ(row[1].attrib, VIOATTR_UNDERLINE | VIOATTR_DOUBLEWIDTH);
    EXPECT_EQ(row[2].c, VIOCHAR_RIGHTHALF);
    // Overwriting one half of the pair blanks the other.
    EXPECT_EQ(s.Vio.WriteCells(2, 0, L"z", 1, 0, 7, 0), 1);
    EXPECT_EQ(viotest::RowText(s.Vio, 0), "a z");
    EXPECT_EQ(row[1].attrib & VIOATTR_DOUBLEWIDTH, 0);
}

// ---- Colours ----

TEST(VioColours, ColourNumbersMapToSystemXtermOrBlack)
{
    SCREEN s(10, 2);
    VIO& v = s.Vio;
    auto rgb = [](int r, int g, int b) { return uint32_t(r | g << 8 | b << 16); };
    struct CASE {
        int colour;
        uint32_t expected;
    } const cases[] = {
        {0, VIO::DefaultSysColors[0]},  {7, VIO::DefaultSysColors[7]},   {31, VIO::DefaultSysColors[31]},
        {260, VIO::DefaultSysColors[4]}, {271, VIO::DefaultSysColors[15]}, {300, v.GetXtermColor(44)},
        {256 + 196, rgb(255, 0, 0)},    {256 + 16, 0},                   {256 + 231, rgb(255, 255, 255)},
        {256 + 232, rgb(8, 8, 8)},      {256 + 255, rgb(238, 238, 238)}, {256 + 110, rgb(135, 175, 215)},
        {32, 0},                        {100, 0},                        {-1, 0},
        {512, 0},                       {4095, 0},
    };
    for (CASE const& c : cases)
        EXPECT_EQ(v.GetSysColor(c.colour), c.expected) << "colour " << c.colour;
    EXPECT_EQ(v.GetXtermColor(3), VIO::DefaultSysColors[3]) << "0..15 are the system colours";
}

TEST(VioColours, XtermColourTexts)
{
    struct CASE {
        char const* text;
        int index;
        uint32_t expected; // 0xFFFFFFFF: unchanged
    } const cases[] = {
        {"4;17;rgb:ff/8/1234", 17, 0x1280FF},
        {"4;18;rgb:#102030", 18, 0x302010},
        {"4;19;rgb:#abc", 19, 0xC0B0A0},
        {"4;20;RGB:FF/00/00", 20, 0x0000FF},
        {"4;21;rgbi:1/0.5/0", 21, 0x007FFF},
        {"4;22;rgb:ff", 22, 0x000000},
        {"4;23;rgb:#12345", 23, 0xFFFFFFFF},
        {"4;24;rgb:zz/00/00", 24, 0xFFFFFFFF},
        {"4;25;rgbi:1/1", 25, 0xFFFFFFFF},
        {"4;15;rgb:ff/ff/ff", 15, 0xFFFFFFFF},
        {"4;256;rgb:ff/ff/ff", 256, 0xFFFFFFFF},
        {"4;", 26, 0xFFFFFFFF},
    };
    for (CASE const& c : cases) {
        SCREEN s(10, 2);
        uint32_t const before = s.Vio.GetXtermColor(c.index);
        s.Vio.SetXtermColor(c.text);
        uint32_t const want = c.expected == 0xFFFFFFFF ? before : c.expected;
        EXPECT_EQ(s.Vio.GetXtermColor(c.index), want) << c.text;
    }
}

TEST(VioColours, AttribToColorsAppliesTheRulesInOrder)
{
    SCREEN s(10, 2);
    VIO& v = s.Vio;
    auto sys = [&](int n) { return v.GetSysColor(n); };
    struct CASE {
        char const* what;
        int attrib, fore, back, mark;
        bool plain, inverseScreen, phase;
        uint32_t f, b;
    };
    CASE const cases[] = {
        {"plain", 0, 3, 0, 0, false, false, false, sys(3), sys(0)},
        {"bright 3 is 11", VIOATTR_BRIGHT, 3, 0, 0, false, false, false, sys(11), sys(0)},
        {"bright 11 is 3", VIOATTR_BRIGHT, 11, 0, 0, false, false, false, sys(3), sys(0)},
        {"bright 20 loses 8", VIOATTR_BRIGHT, 20, 0, 0, false, false, false, sys(12), sys(0)},
        {"bright 300 stays", VIOATTR_BRIGHT, 300, 0, 0, false, false, false, sys(300), sys(0)},
        {"inverse", VIOATTR_INVERSE, 3, 4, 0, false, false, false, sys(4), sys(3)},
        {"highlight without mark colour swaps", VIOATTR_HIGHLIGHT, 3, 4, 0, false, false, false, sys(4), sys(3)},
        {"highlight and inverse cancel", VIOATTR_HIGHLIGHT | VIOATTR_INVERSE, 3, 4, 0, false, false, false, sys(3),
         sys(4)},
        {"mark colour", VIOATTR_HIGHLIGHT, 3, 4, 2 + 1, false, false, false, sys(3), sys(2)},
        {"mark colour equal to fore", VIOATTR_HIGHLIGHT, 2, 4, 2 + 1, false, false, false, sys(15), sys(2)},
        {"mark colour 15 equal to fore", VIOATTR_HIGHLIGHT, 15, 4, 15 + 1, false, false, false, sys(0), sys(15)},
        {"bright on the profile's text colour keeps it", VIOATTR_BRIGHT, 7, 0, 0, false, false, false, sys(7),
         sys(0)},
        {"invisible", VIOATTR_INVISIBLE, 3, 4, 0, false, false, false, sys(4), sys(4)},
        // Hidden text takes the background the cell shows, after the swaps.
        {"invisible on an inverse cell", VIOATTR_INVISIBLE | VIOATTR_INVERSE, 3, 4, 0, false, false, false, sys(3),
         sys(3)},
        {"invisible on a reversed screen", VIOATTR_INVISIBLE, 3, 4, 0, false, true, false, sys(3), sys(3)},
        {"blink in its hidden phase", VIOATTR_BLINK, 3, 4, 0, false, false, true, sys(4), sys(4)},
        {"blink hidden on a reversed screen", VIOATTR_BLINK, 3, 4, 0, false, true, true, sys(3), sys(3)},
        {"bright on a reversed screen", VIOATTR_BRIGHT, 7, 0, 0, false, true, false, sys(0), sys(7)},
        {"blink in its shown phase", VIOATTR_BLINK, 3, 4, 0, false, false, false, sys(3), sys(4)},
        {"screen inverse last", VIOATTR_INVERSE, 3, 4, 0, false, true, false, sys(3), sys(4)},
        {"field cell: no attribute applies", VIOATTR_FIELD | VIOATTR_BRIGHT | VIOATTR_INVERSE, 3, 4, 0, false, true,
         false, sys(4), sys(3)},
        {"field cell drawn plain", VIOATTR_FIELD | VIOATTR_BRIGHT, 3, 4, 0, true, false, false, sys(11), sys(4)},
        {"half-tone", VIOATTR_DIM, 7, 0, 0, false, false, false, vioutils::Halftone(sys(7), false),
         vioutils::Halftone(sys(0), true)},
    };
    for (CASE const& c : cases) {
        v.Profile.ColorMark = c.mark;
        v.AttrCellsPlain = c.plain;
        v.SetInverse(c.inverseScreen);
        v.BlinkPhase = c.phase;
        uint32_t f = 1, b = 1;
        v.AttribToColors(c.attrib, c.fore, c.back, &f, &b);
        EXPECT_EQ(f, c.f) << c.what;
        EXPECT_EQ(b, c.b) << c.what;
        v.AttribToColors(c.attrib, c.fore, c.back, nullptr, nullptr);
    }
    // The half-tone blend moves a colour a little toward its tint.
    EXPECT_EQ(vioutils::Halftone(0x000000, true), OSYS::CalcColorBlend(0, 0x78A0A0, 18));
    EXPECT_EQ(vioutils::Halftone(0x808080, false), OSYS::CalcColorBlend(0x808080, 0x003740, 5));
}

TEST(VioColours, BackgroundWithTransparency)
{
    SCREEN s(10, 2);
    s.Vio.Profile.ColorBack = 4;
    EXPECT_EQ(s.Vio.GetBackgroundColorRGB(0), VIO::DefaultSysColors[4]);
    s.Vio.Profile.Transparency = 50;
    EXPECT_EQ(s.Vio.GetBackgroundColorRGB(1), VIO::DefaultSysColors[4] | uint32_t(127) << 24);
    s.Vio.Profile.Transparency = 0;
    EXPECT_EQ(s.Vio.GetBackgroundColorRGB(1), VIO::DefaultSysColors[4]);
}

// ---- State operations ----

TEST(VioState, SetModeSetsAndClearsAttributeBits)
{
    SCREEN s(10, 2);
    struct CASE {
        int n, attrib;
    } const cases[] = {{7, 0x0080}, {1, 0x0082}, {4, 0x0092}, {5, 0x00B2}, {8, 0x01B2}, {-7, 0x0132}, {-1, 0x0130}};
    for (CASE const& c : cases) {
        s.Vio.SetMode(c.n);
        EXPECT_EQ(s.Vio.SetModeFlags(-1), c.attrib) << "SetMode(" << c.n << ")";
    }
    s.Vio.Profile.ColorFore = 2;
    s.Vio.Profile.ColorBack = 5;
    s.Vio.SetColors(1, 1);
    s.Vio.SetMode(0);
    EXPECT_EQ(s.Vio.SetModeFlags(-1), 0);
    EXPECT_EQ(s.Vio.CurFore, 2);
    EXPECT_EQ(s.Vio.GetBackgroundColor(), 5);
}

TEST(VioState, SetScreenAttrRewritesEveryCell)
{
    SCREEN s(10, 3);
    s.Vio.SetMode(7);
    std::wstring const t = L"abcdefghijklmnop";
    s.Vio.conputws(t.c_str(), long(t.size()));
    s.Vio.SetScreenAttr(-1, -1, 0);
    s.Vio.SetScreenAttr(6, -1, -1);
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(s.Vio.AccessVioCell(i)->attrib, 0) << i;
        EXPECT_EQ(s.Vio.AccessVioCell(i)->back, 6u) << i;
        EXPECT_EQ(s.Vio.AccessVioCell(i)->fore, 7u) << i;
    }
}

TEST(VioState, DoCodes)
{
    testutil::ASSERTRECORDER recorder;
    SCREEN s(10, 3);
    VIO& v = s.Vio;
    EXPECT_EQ(v.Do(VIODO_ATTRIB, 0x12345, 0), 0);
    EXPECT_EQ(v.Do(VIODO_ATTRIB, -1, 0), 0x2345);
    v.Do(VIODO_COLORS, 9, -1);
    v.Do(VIODO_COLORS, -1, 4);
    EXPECT_EQ(v.CurFore, 9);
    EXPECT_EQ(v.GetBackgroundColor(), 4);

    v.Do(VIODO_SETWRAPPED, 9, 1);
    EXPECT_EQ(v.Do(VIODO_ISWRAPPED, 9, 1), 1);
    EXPECT_EQ(v.Do(VIODO_ISWRAPPED, 9, 0), 0);
    EXPECT_EQ(v.Do(VIODO_ISWRAPPED, 10, 1), 0);
    EXPECT_EQ(v.Do(VIODO_WRAPSUPPRESS, 1, 0), 0);
    EXPECT_EQ(v.Do(VIODO_WRAPSUPPRESS, -1, 0), 1);
    v.Do(VIODO_SETWRAPPED, 9, 2);
    EXPECT_EQ(v.Do(VIODO_ISWRAPPED, 9, 2), 0) << "suppressed";
    v.Do(VIODO_SETWRAPPED, 99, 99);
    v.Do(VIODO_LINEEND, 3, 2);
    v.Do(VIODO_LINEEND, -1, 2);
    EXPECT_EQ(v.AccessVioCell(3, 2, 0)->attrib, VIOATTR_LINEEND);

    EXPECT_EQ(v.Do(VIODO_ALTSCREEN, 1, 0), 0);
    EXPECT_EQ(v.Do(VIODO_ALTSCREEN, 0, 0), 1);
    EXPECT_EQ(v.Do(VIODO_INHERIT, 1, 0), 0);
    EXPECT_TRUE(v.Inherit);

    v.Do(VIODO_SETCURSORTYPE, VIOCURSOR_UNDERLINE, -1);
    EXPECT_EQ(v.GetCursorType(), VIOCURSOR_UNDERLINE);
    v.SetCursorType(static_cast<signed char>(1), VIOCURSOR_CROSSHAIR);
    EXPECT_EQ(v.GetCursorType(), VIOCURSOR_BLOCK);
    EXPECT_EQ(v.CursorStyle, VIOCURSOR_CROSSHAIR);

    v.Do(VIODO_MINIMIZE, 1, 0);
    v.Do(VIODO_MINIMIZE, 0, 0);
    v.Do(VIODO_MOVEWINDOW, 40, 50);
    EXPECT_EQ(s.Host.Calls, (std::vector<std::string>{"minimize", "restore", "move 40,50"}));

    EXPECT_EQ(recorder.Count(), 0u);
    EXPECT_EQ(v.Do(VIODO_GETCURSORTYPE, 0, 0), VIOCURSOR_BLOCK);
    EXPECT_EQ(v.Do(99, 0, 0), 0);
    EXPECT_EQ(Conditions(recorder), (std::vector<std::string>{"p0==-1 && p1==-1", "FALSE"}));
}

TEST(VioState, CursorTimerFollowsTheBlinkSetting)
{
    SCREEN s(10, 3);
    EXPECT_EQ(s.Host.Timers.at(257), 333);
    s.Vio.Settings.CursorBlinkDelay = 500;
    s.Vio.SetCursorType(static_cast<signed char>(-1), -1);
    EXPECT_EQ(s.Host.Timers.at(257), 500);
    s.Vio.Cleanup();
    EXPECT_EQ(s.Host.Timers.count(257), 0u);
    EXPECT_FALSE(s.Vio.IsUpAndRunning());
}

TEST(VioState, CursorOnReflectsFocus)
{
    SCREEN s(10, 3);
    EXPECT_EQ(s.Vio.CursorState, 1);
    s.Host.Focus = false;
    s.Vio.SetCursorOnOff(1);
    EXPECT_EQ(s.Vio.CursorState, -1);
    s.Vio.OnFocusAcquired();
    EXPECT_EQ(s.Vio.CursorState, 1);
    s.Vio.OnFocusLost();
    EXPECT_EQ(s.Vio.CursorState, -1);
    s.Vio.SetCursorOnOff(0);
    EXPECT_EQ(s.Vio.CursorState, 0);
}

// ---- Reading ----

TEST(VioRead, GetStringSkipsRightHalvesAndReportsTheWrap)
{
    SCREEN s(6, 3);
    std::wstring const t(L"ab\u4E2Dcdefg\0h", 10);
    s.Vio.conputws(t.c_str(), long(t.size()));
    wchar_t buf[32] = {};
    signed char wrapped = -1;
    int length = 6;
    s.Vio.GetString(buf, &length, 0, 0, &wrapped);
    EXPECT_EQ(std::wstring(buf, size_t(length)), L"ab\u4E2Dcd");
    EXPECT_EQ(wrapped, 1);
    length = 12;
    s.Vio.GetString(buf, &length, 2, 0, &wrapped);
    EXPECT_EQ(std::wstring(buf, size_t(length)), L"\u4E2Dcdefg h   ");
    EXPECT_EQ(wrapped, 0);
    length = 100;
    s.Vio.GetString(buf, &length, 0, 2, &wrapped);
    EXPECT_EQ(length, 6) << "stops at the end of the screen";
    for (auto const& bad : std::vector<std::pair<int, int>>{{-1, 0}, {0, -1}, {0, 3}})
    {
        length = 5;
        s.Vio.GetString(buf, &length, bad.first, bad.second, &wrapped);
        EXPECT_EQ(length, 0);
    }
    length = 5;
    s.Vio.GetString(static_cast<wchar_t*>(nullptr), &length, 0, 0, &wrapped);
    EXPECT_EQ(length, 0);

    char bytes[16] = {};
    length = 6;
    s.Vio.GetString(bytes, &length, 0, 0, 1252, &wrapped);
    ASSERT_EQ(length, 5);
    EXPECT_EQ(std::string(bytes, 2), "ab");
    EXPECT_EQ(std::string(bytes + 3, 2), "cd");

    VIOCELL cells[40];
    int count = 40;
    s.Vio.GetCells(cells, &count, 4, 2);
    EXPECT_EQ(count, 2);
    count = 4;
    s.Vio.GetCells(nullptr, &count, 0, 0);
    EXPECT_EQ(count, 0);
}

TEST(VioRead, CharactersWithMarksAndBeyondTheBmpAreReadWhole)
{
    SCREEN s(6, 2);
    std::wstring const t = L"e\u0301\U0001F600x\U0001D400";
    s.Vio.conputws(t.c_str(), long(t.size()));
    wchar_t buf[32] = {};
    signed char wrapped = -1;
    // The wide form gives every character within its buffer; a cell whose
    // text does not fit whole is left out with the rest.
    struct {
        int room;
        std::wstring text;
    } const cases[] = {
        {6, L"e\u0301\U0001F600x\U0001D400 "}, {2, L"e\u0301"}, {1, L""}, {3, L"e\u0301\U0001F600"},
    };
    for (auto const& c : cases) {
        int length = c.room;
        s.Vio.GetString(buf, &length, 0, 0, &wrapped);
        EXPECT_EQ(std::wstring(buf, size_t(length)), c.text) << c.room;
    }
    std::u32string all;
    EXPECT_EQ(s.Vio.GetText(all, 12, 0, 0, &wrapped), 12);
    EXPECT_EQ(all, U"e\u0301\U0001F600x\U0001D400" + std::u32string(7, U' '));
    // The 8-bit form gives one byte a character, without the marks.
    char bytes[8] = {};
    int length = 6;
    s.Vio.GetString(bytes, &length, 0, 0, 1252, &wrapped);
    ASSERT_EQ(length, 5);
    EXPECT_EQ(std::string(bytes, 1), "e");
    EXPECT_EQ(std::string(bytes + 2, 1), "x");
}

TEST(VioChars, UnreferencedEntriesAreSweptAndReferencedOnesKept)
{
    // A stream of distinct characters beyond U+FFFF through a small screen
    // with a scroll-back: the table stays bounded by what the rows refer
    // to, and every row still reads what was written.
    SCREEN s(12, 2, 100);
    auto lineOf = [](uint32_t first) {
        std::u32string text;
        for (uint32_t k = first; k < first + 5; ++k)
            text.push_back(char32_t(0x20000 + k));
        return text;
    };
    for (uint32_t k = 0; k < 30000; k += 5) {
        std::u32string const text = lineOf(k) + U"\r\n";
        std::wstring const wide(text.begin(), text.end());
        s.Vio.conputws(wide.c_str(), long(wide.size()));
    }
    EXPECT_LE(s.Vio.Chars.Count(), 12000u) << "swept along the way";
    int const stored = s.Scrollback.QueryFilled();
    ASSERT_GE(stored, 90);
    EXPECT_EQ(viotest::RowText(s.Vio, 0), viotest::Utf8(lineOf(29995)));
    EXPECT_EQ(viotest::ScrollbackText(s.Scrollback, 0), viotest::Utf8(lineOf(29995 - 5 * stored)));
    EXPECT_EQ(viotest::ScrollbackText(s.Scrollback, stored - 1), viotest::Utf8(lineOf(29990)));
    // Cells kept aside (as an emulation keeps its other screen) still read
    // their text after a sweep has freed their entries.
    VIOCELL kept[10];
    int count = 10;
    s.Vio.GetCells(kept, &count, 0, 0);
    s.Vio.Erase(0, 0, -1, 1, ' ');
    s.Scrollback.ClearAll();
    s.Vio.SweepChars();
    EXPECT_EQ(s.Vio.Chars.Count(), 0u);
    std::u32string text;
    s.Vio.AppendCellText(kept[2], text);
    EXPECT_EQ(text, lineOf(29995).substr(1, 1));
    // Once in use again, the same text takes the same entry.
    std::wstring const again(1, wchar_t(0x20000 + 29996));
    s.Vio.SetCursorPos(0, 0);
    s.Vio.conputws(again.c_str(), 1);
    VIOCELL cell{};
    count = 1;
    s.Vio.GetCells(&cell, &count, 0, 0);
    EXPECT_EQ(vioutils::Bits(cell) & VIOCHARS::kCodeMask, vioutils::Bits(kept[2]) & VIOCHARS::kCodeMask);
}

// ---- Selection and links ----

TEST(VioSelect, CornersAreOrderedAndRepaintCoversOldAndNew)
{
    SCREEN s(20, 10);
    VIO& v = s.Vio;
    v.SetCellSize(8, 16);
    v.SetMarkArea(VIOMARK_STREAM, 5, 4, 2, 2, 0);
    int mode, x1, y1, x2, y2;
    EXPECT_EQ(v.GetMarkArea(&mode, &x1, &y1, &x2, &y2), VIOMARK_STREAM);
    EXPECT_EQ((std::vector<int>{x1, y1, x2, y2}), (std::vector<int>{2, 2, 5, 4}));
    v.SetMarkArea(VIOMARK_BLOCK, 7, 1, 3, 6, 0);
    v.GetMarkArea(&mode, &x1, &y1, &x2, &y2);
    EXPECT_EQ((std::vector<int>{x1, y1, x2, y2}), (std::vector<int>{3, 1, 7, 6}));

    // A stream selection repaints whole rows from the higher to the lower
    // of the old and new corners.
    v.SetMarkArea(VIOMARK_STREAM, 1, 3, 2, 3, 0);
    s.Host.Invalidations.clear();
    v.SetMarkArea(VIOMARK_STREAM, 0, 5, 4, 8, 1);
    ASSERT_FALSE(s.Host.Invalidations.empty());
    EXPECT_EQ(s.Host.Invalidations.back(), (RECT{0, 3 * 16, 20 * 8, 9 * 16}));
    // A block selection only the columns between.
    v.SetMarkArea(VIOMARK_BLOCK, 2, 2, 4, 3, 0);
    s.Host.Invalidations.clear();
    v.SetMarkArea(VIOMARK_BLOCK, 6, 1, 9, 2, 1);
    EXPECT_EQ(s.Host.Invalidations.back(), (RECT{2 * 8, 1 * 16, 10 * 8, 4 * 16}));

    EXPECT_EQ(v.ClearMarkArea(0), 1);
    EXPECT_EQ(v.ClearMarkArea(0), 0);
    EXPECT_EQ(v.GetMarkArea(nullptr, nullptr, nullptr, nullptr, nullptr), VIOMARK_NONE);
}

TEST(VioSelect, ScrollingClearsTheSelection)
{
    SCREEN s(10, 3);
    s.Vio.SetMarkArea(VIOMARK_STREAM, 0, 0, 3, 1, 0);
    s.Vio.ScrollArea(0, 0, 9, 2, 1, VIOSCROLL_UP);
    EXPECT_EQ(s.Vio.GetMarkArea(nullptr, nullptr, nullptr, nullptr, nullptr), VIOMARK_NONE);
}

TEST(VioLinks, HoverMarksExactlyTheLinkUnderTheMouse)
{
    SCREEN s(20, 3);
    std::wstring const t = L"see http://ex.am/ple?a=1 now, foo.bar";
    s.Vio.conputws(t.c_str(), long(t.size()));
    auto linked = [&] {
        std::string marks;
        for (int i = 0; i < 60; ++i)
            marks += (s.Vio.AccessVioCell(i)->extattr & VIOEXT_LINK) ? '^' : '.';
        return marks;
    };
    STRING link;
    EXPECT_TRUE(s.Vio.HandleMouseHover(2, 1, &link)) << "the link continues in the next row";
    EXPECT_STREQ(link.Buf(), "http://ex.am/ple?a=1");
    EXPECT_EQ(linked(), "....^^^^^^^^^^^^^^^^^^^^...................................." );
    EXPECT_FALSE(s.Vio.HandleMouseHover(33, 1, nullptr)) << "foo.bar is no link";
    EXPECT_EQ(linked(), std::string(60, '.'));
    EXPECT_TRUE(s.Vio.HandleMouseHover(5, 0, nullptr));
    EXPECT_FALSE(s.Vio.HandleMouseHover(-1, 0, nullptr));
    EXPECT_EQ(linked(), std::string(60, '.'));
}

TEST(VioLinks, UrlRule)
{
    struct CASE {
        char32_t const* word;
        bool url;
    } const cases[] = {{U"http://a.b", true}, {U"://a.b", true},  {U"ht1p://a.b", false},
                       {U"http:/a.b", false}, {U"http://ab", false}, {U"mailto:a@b.c", false}};
    for (CASE const& c : cases)
        EXPECT_EQ(vioutils::IsUrlString(c.word), c.url) << viotest::Utf8(c.word);
}

// ---- Inheritance (block-mode terminals) ----

TEST(VioInherit, FieldCellsPassTheirAttributeOn)
{
    SCREEN s(10, 2);
    VIO& v = s.Vio;
    v.Do(VIODO_INHERIT, 1, 0);
    v.WriteWideByte(L'P', 2, 6, 0, VIOATTR_PROTECTED);
    v.WriteWideByte(L'F', 1, 3, 0, VIOATTR_FIELD | VIOATTR_INVERSE | VIOATTR_BRIGHT);
    std::vector<int> attribs;
    for (int i = 0; i < 12; ++i)
        attribs.push_back(v.AccessVioCell(i)->attrib);
    int const inh = VIOATTR_INVERSE | VIOATTR_BRIGHT;
    int const prot = VIOATTR_INVERSE | VIOATTR_PROTECTED;
    EXPECT_EQ(attribs, (std::vector<int>{0, 0, 0, VIOATTR_FIELD | inh, inh, inh, prot, prot, inh, inh, inh, inh}));
    // Overwriting the field cell runs inheritance again.
    v.WriteWideByte(L'x', 1, 3, 0, 0);
    EXPECT_EQ(v.AccessVioCell(4)->attrib, 0);
    EXPECT_EQ(v.AccessVioCell(6)->attrib, VIOATTR_PROTECTED);
    // The double-width bit and the wrapped mark are the cell's own.
    v.WriteWideByte(L'F', 1, 0, 0, VIOATTR_FIELD | VIOATTR_UNDERLINE);
    std::wstring const cjk = L"\u4E2D";
    v.SetCursorPos(6, 1);
    v.conputws(cjk.c_str(), 1);
    v.Do(VIODO_INHERITNOW, 0, 0);
    EXPECT_EQ(v.AccessVioCell(16)->attrib, VIOATTR_UNDERLINE | VIOATTR_DOUBLEWIDTH);
    EXPECT_EQ(v.AccessVioCell(17)->attrib, VIOATTR_UNDERLINE | VIOATTR_DOUBLEWIDTH);
    EXPECT_EQ(v.AccessVioCell(15)->attrib, VIOATTR_UNDERLINE);
}

// ---- Dirty areas, the draw bracket and the cursor ----

class VioDirty : public ::testing::Test {
protected:
    SCREEN s{20, 5};
    void SetUp() override
    {
        s.Vio.SetCellSize(8, 16);
        s.Host.Invalidations.clear();
    }
    RECT Union()
    {
        RECT u{};
        bool first = true;
        for (RECT const& r : s.Host.Invalidations) {
            if (first) {
                u = r;
                first = false;
                continue;
            }
            u.left = std::min(u.left, r.left);
            u.top = std::min(u.top, r.top);
            u.right = std::max(u.right, r.right);
            u.bottom = std::max(u.bottom, r.bottom);
        }
        return u;
    }
};

TEST_F(VioDirty, WritesMarkOnlyTheChangedCells)
{
    s.Vio.SetCursorPos(4, 2);
    s.Host.Invalidations.clear();
    s.Vio.conputws(L"abc", 3);
    ASSERT_FALSE(s.Host.Invalidations.empty());
    EXPECT_EQ(Union(), (RECT{4 * 8, 2 * 16, 8 * 8, 3 * 16})) << "the text and the cursor's new cell";
    s.Host.Invalidations.clear();
    s.Vio.WriteWideByte(L'x', 3, 10, 4, -1);
    EXPECT_EQ(Union(), (RECT{10 * 8, 4 * 16, 13 * 8, 5 * 16}));
    // A write that runs over several rows marks them all.
    s.Host.Invalidations.clear();
    s.Vio.WriteWideByte(L'y', 25, 10, 1, -1);
    EXPECT_EQ(Union(), (RECT{0, 1 * 16, 20 * 8, 3 * 16}));
    // A row of double width marks twice the pixels.
    s.Vio.Do(VIODO_LINEATTR, 3, VIOLINE_DOUBLEWIDTH);
    s.Host.Invalidations.clear();
    s.Vio.WriteWideByte(L'z', 2, 2, 3, -1);
    EXPECT_EQ(Union(), (RECT{4 * 8, 3 * 16, 8 * 8, 4 * 16}));
}

TEST_F(VioDirty, BracketThrottlesAndItsEndFlushes)
{
    s.Vio.Profile.JumpScroll = 3; // 166 ms: the slowest step still flushes
    s.Vio.SetDrawBracket(1);
    s.Vio.SetDrawBracket(1);
    s.Host.Invalidations.clear();
    s.Vio.conputws(L"a", 1);
    EXPECT_TRUE(s.Host.Invalidations.empty()) << "within the throttle period";
    std::this_thread::sleep_for(std::chrono::milliseconds(180));
    s.Vio.conputws(L"b", 1);
    ASSERT_EQ(s.Host.Invalidations.size(), 1u) << "one flush after the period";
    EXPECT_EQ(s.Host.Invalidations[0], (RECT{0, 0, 16, 16}));
    s.Vio.conputws(L"c", 1);
    s.Vio.SetDrawBracket(0);
    EXPECT_EQ(s.Host.Invalidations.size(), 1u) << "the inner end does not flush";
    s.Vio.SetDrawBracket(0);
    // Within a frame of the last flush the flush waits for timer 259.
    if (s.Host.Timers.count(259))
        s.Vio.OnTimer(259);
    ASSERT_GE(s.Host.Invalidations.size(), 2u) << "the outer end flushes";
    EXPECT_EQ(Union(), (RECT{0, 0, 4 * 8, 16})) << "text and the cursor shown again";
    s.Vio.SetDrawBracket(0);
}

TEST_F(VioDirty, BracketEndsRepaintAtMostOnceAFrame)
{
    // The first end flushes at once (nothing was flushed for long); an end
    // right after it leaves its area to timer 259, and writes meanwhile
    // wait for it too. The screen's clock ticks coarsely (up to 10 ms): a
    // test thread held up for 5 ms could see a frame pass, and only then
    // may the second end flush at once.
    s.Vio.Profile.JumpScroll = 3; // no flush within the brackets (166 ms)
    s.Vio.conputws(L" ", 1);
    s.Vio.SetCursorPos(0, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    auto const start = std::chrono::steady_clock::now();
    s.Vio.SetDrawBracket(1);
    s.Vio.conputws(L"a", 1);
    s.Vio.SetDrawBracket(0);
    size_t const first = s.Host.Invalidations.size();
    EXPECT_GE(first, 1u);
    EXPECT_EQ(s.Host.Timers.count(259), 0u);
    s.Vio.SetDrawBracket(1);
    s.Vio.conputws(L"b", 1);
    s.Vio.SetDrawBracket(0);
    s.Vio.conputws(L"c", 1);
    if (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(5)) {
        EXPECT_EQ(s.Host.Invalidations.size(), first) << "no second flush within a frame";
        ASSERT_EQ(s.Host.Timers.count(259), 1u);
        EXPECT_GT(s.Host.Timers[259], 0);
        EXPECT_LE(s.Host.Timers[259], 16);
    }
    s.Host.Invalidations.clear();
    if (s.Host.Timers.count(259))
        s.Vio.OnTimer(259);
    EXPECT_EQ(s.Host.Timers.count(259), 0u) << "one shot";
    RECT const shown = Union();
    EXPECT_TRUE(shown.left <= 8 && shown.top <= 0 && shown.right >= 4 * 8 && shown.bottom >= 16)
        << "b, c and the cursor: " << shown.left << "," << shown.top << "," << shown.right << "," << shown.bottom;
    // Once flushed, writes outside a bracket flush at once again.
    s.Host.Invalidations.clear();
    s.Vio.conputws(L"d", 1);
    EXPECT_FALSE(s.Host.Invalidations.empty());
}

TEST_F(VioDirty, CursorAndBlinkTimer)
{
    s.Vio.SetCursorPos(3, 1);
    s.Host.Invalidations.clear();
    s.Vio.OnTimer(257);
    ASSERT_EQ(s.Host.Invalidations.size(), 1u);
    EXPECT_EQ(s.Host.Invalidations[0], (RECT{24, 16, 32, 32}));
    s.Vio.OnFocusLost();
    s.Host.Invalidations.clear();
    s.Vio.OnTimer(257);
    EXPECT_TRUE(s.Host.Invalidations.empty()) << "an unfocused cursor does not blink";

    // Blinking text is found by the timer until the last one is gone.
    s.Vio.SetMode(5);
    s.Vio.WriteWideByte(L'B', 2, 5, 2, -1);
    s.Vio.SetMode(-5);
    s.Host.Invalidations.clear();
    s.Vio.OnTimer(257);
    ASSERT_EQ(s.Host.Invalidations.size(), 1u);
    EXPECT_EQ(s.Host.Invalidations[0], (RECT{40, 32, 56, 48}));
    s.Vio.WriteWideByte(L'b', 2, 5, 2, -1);
    s.Vio.OnTimer(257);
    s.Host.Invalidations.clear();
    EXPECT_FALSE(s.Vio.SomethingBlinks);
    s.Vio.OnTimer(257);
    EXPECT_TRUE(s.Host.Invalidations.empty());
}

TEST_F(VioDirty, VisualBell)
{
    EXPECT_EQ(s.Vio.FlashWindow(), 1);
    EXPECT_EQ(s.Host.Redraws, 1);
    EXPECT_EQ(s.Host.Timers.at(258), 50);
    s.Host.Invalidations.clear();
    s.Vio.OnTimer(258);
    EXPECT_EQ(s.Host.Timers.count(258), 0u);
    ASSERT_EQ(s.Host.Invalidations.size(), 1u);
    EXPECT_EQ(s.Host.Invalidations[0], (RECT{0, 0, -1, -1})) << "the whole window";
}

TEST_F(VioDirty, ScrollMarksTheRegion)
{
    s.Vio.SetCursorPos(3, 2);
    s.Host.Invalidations.clear();
    s.Vio.ScrollArea(2, 1, 5, 3, 1, VIOSCROLL_DOWN);
    EXPECT_EQ(Union(), (RECT{2 * 8, 16, 6 * 8, 4 * 16}));
}

} // namespace
