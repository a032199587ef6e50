// Painting the screen offscreen: runs, the cursor, graphic characters as
// geometry, rows of double size, the update region, the visual bell, the
// thumbnail bitmap, and the terminal font of this machine. Golden pictures
// under golden/ (QOR_UPDATE_GOLDEN=1 rewrites them for review).
#include "tests/program/screen/fakehost.h"
#include "tests/program/screen/screenwindow.h"
#include "tests/velmot/core/assertrecorder.h"
#include "tests/velmot/gui/guitest.h"
#include "tests/support/testutil.h"

#include "platform/draw/bitmap.h"
#include "platform/draw/viewsupport.h"
#include "program/screen/termfonts.h"
#include "program/screen/vioutils.h"
#include "velmot/gui/winfont.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <functional>
#include <set>
#include <cwchar>
#include <thread>
#include <vector>

namespace {

using guitest::PANEWINDOW;
using namespace screenwindow;

// ---- Fonts ----

TEST(TerminalFont, DefaultOnThisMachineIsDejaVuSansMonoAtTenPoints)
{
    wchar_t buf[256] = {};
    TERMFONTS::GetDefaultFont(buf, 256, 10);
    std::wstring const s = buf;
    EXPECT_EQ(s.rfind(L"DejaVu Sans Mono  ", 0), 0u) << std::string(s.begin(), s.end());
    EXPECT_NE(s.find(L" (10 pt)"), std::wstring::npos);
    TERMFONT fonts[64];
    int const n = TERMFONTS::QueryFixedFonts(fonts, 64, L"dejavu sans mono", 1252, 0);
    ASSERT_GT(n, 3);
    EXPECT_GT(fonts[n - 1].CellHeight, fonts[0].CellHeight);
}

TEST(TerminalFont, ScreenTakesItsCellFromTheFont)
{
    SCREENWINDOW w(10, 2);
    int cw = 0, ch = 0;
    w.Vio.GetFontSize(&cw, &ch);
    EXPECT_GE(cw, 6);
    EXPECT_GT(ch, cw);
    wchar_t spec[128];
    signed char flag = -1;
    w.Vio.GetFont(spec, 128, &flag);
    EXPECT_EQ(std::wstring(spec), L"DejaVu Sans Mono  " + std::to_wstring(cw) + L" X " + std::to_wstring(ch));
    EXPECT_EQ(flag, 0);
    EXPECT_NE(w.Vio.GetFontHandle(), nullptr);
}

// A session starts its screen in the profile's font: the screen asks for
// that font only, not for the default font first, and ends up exactly as
// Init followed by SetFont leaves it.
TEST(TerminalFont, InitWithFontLoadsOnlyThatFont)
{
    struct RECORDINGHOST : VIOHOST {
        COREFONT* LoadFont(wchar_t const* fontString, signed char*, int codePage) override
        {
            Asked.push_back(fontString ? fontString : L"<default>");
            return LoadTerminalFont(fontString, codePage);
        }
        std::vector<std::wstring> Asked;
    };
    wchar_t const* const font = L"DejaVu Sans Mono  9 X 17 (11 pt)";
    RECORDINGHOST direct, twoSteps;
    VIO started(&direct), reset(&twoSteps);
    started.InitWithFont(20, 4, font, 0);
    reset.Init(20, 4);
    reset.SetFont(font, 0);
    EXPECT_EQ(direct.Asked, std::vector<std::wstring>{font});
    EXPECT_EQ(twoSteps.Asked, (std::vector<std::wstring>{L"<default>", font}));
    int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
    started.GetFontSize(&w1, &h1);
    reset.GetFontSize(&w2, &h2);
    EXPECT_EQ(w1, w2);
    EXPECT_EQ(h1, h2);
    EXPECT_GT(h1, 0);
    wchar_t spec1[128] = {}, spec2[128] = {};
    started.GetFont(spec1, 128, nullptr);
    reset.GetFont(spec2, 128, nullptr);
    EXPECT_STREQ(spec1, spec2);
    int cw = 0, ch = 0;
    started.GetWinSize(&cw, &ch);
    EXPECT_EQ(cw, 20);
    EXPECT_EQ(ch, 4);
}

// Faces that set the underscore on their descent line lose it to the
// rounded cell at many sizes: at every size of the default family it shows
// at least half inked, low in the cell, and underscores side by side join.
TEST(TerminalFont, UnderscoreShowsAtEverySizeOfTheDefaultFamily)
{
    wchar_t spec[256] = {}, family[128] = {};
    TERMFONTS::GetDefaultFont(spec, 256, 10);
    TERMFONTS::GetNameFromFontstr(spec, family, 128);
    TERMFONT fonts[64];
    int const n = TERMFONTS::QueryFixedFonts(fonts, 64, family, 1252, 0);
    ASSERT_GT(n, 3);
    for (int i = 0; i < n; ++i) {
        swprintf(spec, 256, L"%ls  %d X %d", fonts[i].Name, fonts[i].CellWidth, fonts[i].CellHeight);
        SCREENWINDOW w(4, 1, spec);
        w.Vio.SetCursorOnOff(0);
        w.Vio.SetColors(0, 15);
        w.Put(L"__");
        auto picture = w.Picture();
        ASSERT_TRUE(picture);
        int const ch = w.CellHeight(), cw = w.CellWidth();
        std::string const where(fonts[i].Name, fonts[i].Name + wcslen(fonts[i].Name));
        int strongest = 0, lowest = -1;
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x) {
                int const ink = int(picture->Pixel(x, y) & 0xFF);
                if (ink >= 128 && ink >= strongest) {
                    strongest = ink;
                    lowest = y;
                }
            }
        EXPECT_GE(strongest, 128) << where << " " << cw << "x" << ch;
        EXPECT_GE(lowest, ch * 3 / 4) << where << " " << cw << "x" << ch;
        if (lowest >= 0) {
            EXPECT_EQ(picture->Pixel(cw - 1, lowest) & 0xFF, picture->Pixel(cw, lowest) & 0xFF)
                << where << " " << cw << "x" << ch << ": the two underscores meet";
        }
    }
}

// ---- Runs ----

TEST(ScreenPaint, ALineInOneColourIsOneRunCursorIncluded)
{
    SCREENWINDOW w(80, 3);
    w.Put(std::wstring(40, L'x') + L"\u4E2Dyy");
    w.Vio.SetCursorPos(10, 0);
    auto picture = w.Picture();
    ASSERT_TRUE(picture);
    std::vector<int> row0;
    for (auto const& r : w.Vio.Runs)
        if (r.row == 0)
            row0.push_back(r.cells);
    // The text up to the wide character, the wide character alone with its
    // right half (two cells: the glyph is drawn whole), and the rest of the
    // row in one run.
    EXPECT_EQ(row0, (std::vector<int>{40, 2, 38}));
    // Rows that are blank in one colour are one run each.
    int row1 = 0;
    for (auto const& r : w.Vio.Runs)
        row1 += r.row == 1;
    EXPECT_EQ(row1, 1);
}

TEST(ScreenPaint, OnlyTheChangedRowIsPainted)
{
    SCREENWINDOW w(40, 10);
    w.Put(L"first\r\nsecond\r\nthird");
    w.Settle();
    w.Host->Invalidations = 0;
    w.Vio.WriteWideByte(L'Z', 3, 5, 7, -1);
    ASSERT_EQ(w.Host->Invalidations, 1);
    int const ch = w.CellHeight(), cw = w.CellWidth();
    EXPECT_EQ(w.Host->Last, (RECT{5 * cw, 7 * ch, 8 * cw, 8 * ch}));
    w.Vio.Runs.clear();
    ASSERT_TRUE(w.Flush());
    ASSERT_FALSE(w.Vio.Runs.empty());
    for (auto const& r : w.Vio.Runs)
        EXPECT_EQ(r.row, 7) << "column " << r.column;
}

TEST(ScreenPaint, UpdateRegionRectanglesAreEachPainted)
{
    SCREENWINDOW w(40, 12);
    w.Vio.SetCursorOnOff(0);
    w.Settle();
    int const ch = w.CellHeight(), cw = w.CellWidth();
    w.Vio.WriteWideByte(L'a', 2, 0, 1, -1);
    w.Vio.WriteWideByte(L'b', 2, 0, 10, -1);
    w.Vio.Runs.clear();
    ASSERT_TRUE(w.Flush());
    std::set<int> rows;
    for (auto const& r : w.Vio.Runs)
        rows.insert(r.row);
    EXPECT_EQ(rows, (std::set<int>{1, 10})) << "the rows between are not painted";
    EXPECT_EQ(w.Pane->LastRegion.size(), 2u);
    EXPECT_EQ(w.Pane->LastRegion.at(0), (RECT{0, ch, 2 * cw, 2 * ch}));
}

TEST(ScreenPaint, PaintingNeverWaitsLongForABusyScreen)
{
    SCREENWINDOW w(20, 4);
    w.Picture();
    std::atomic<bool> held{false}, release{false};
    std::thread writer([&] {
        int width, height;
        w.Vio.AccessVioScreen(&width, &height, 0);
        held = true;
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        w.Vio.ReleaseVioScreen(0);
    });
    while (!held)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    w.Host->Invalidations = 0;
    w.Vio.Runs.clear();
    auto const start = std::chrono::steady_clock::now();
    w.Pane->Render();
    auto const took = std::chrono::steady_clock::now() - start;
    release = true;
    writer.join();
    EXPECT_LT(took, std::chrono::milliseconds(500));
    EXPECT_GE(w.Host->Invalidations, 1) << "the area is painted later instead";
    EXPECT_TRUE(w.Vio.Runs.empty());
}

// ---- Pictures ----

class ScreenGolden : public ::testing::Test {
protected:
    // The screen draws cells on a fixed grid with the machine's own font:
    // its pictures are compared pixel for pixel (a stroke one pixel off is
    // a fault here, not antialiasing).
    static ::testing::AssertionResult Matches(plat::Bitmap const& b, std::string const& name)
    {
        ::testing::AssertionResult near = pixeltest::MatchesGolden(b, "program/screen/golden", name);
        char const* update = std::getenv("QOR_UPDATE_GOLDEN");
        if (update && std::string(update) == "1")
            return near;
        plat::Image const golden = plat::Image::LoadPng(testutil::SourceDir() + "/program/screen/golden/" + name + ".png");
        if (golden.IsNull() || golden.Width() != b.Width() || golden.Height() != b.Height())
            return near;
        int off = 0;
        std::string first;
        for (int y = 0; y < b.Height(); ++y)
            for (int x = 0; x < b.Width(); ++x)
                if (b.Pixel(x, y) != golden.Pixel(x, y) && off++ == 0)
                    first = std::to_string(x) + "," + std::to_string(y);
        if (off == 0)
            return ::testing::AssertionSuccess();
        char const* home = std::getenv("HOME");
        std::string const actual = std::string(home ? home : "/tmp") + "/" + name + ".actual.png";
        b.SavePng(actual);
        return ::testing::AssertionFailure() << "picture " << name << " differs from its golden in " << off
                                             << " pixels, the first at " << first << "; actual saved as " << actual;
    }
};

TEST_F(ScreenGolden, EveryAttribute)
{
    SCREENWINDOW w(40, 14);
    struct LINE {
        int mode;
        wchar_t const* label;
    } const lines[] = {{0, L"plain"},      {1, L"bright"},    {3, L"half-tone"}, {4, L"underline"},
                       {5, L"blink"},      {7, L"inverse"},   {8, L"invisible"}, {9, L"protected"},
                       {10, L"column separators"}};
    for (auto const& l : lines) {
        w.Vio.SetMode(0);
        if (l.mode)
            w.Vio.SetMode(l.mode);
        w.Put(l.label);
        w.Vio.SetMode(0);
        w.Put(std::wstring(L" <") + l.label + L">\r\n");
    }
    w.Vio.WriteWideByte(L'F', 1, 0, 9, VIOATTR_FIELD | VIOATTR_INVERSE);
    w.Vio.SetCursorPos(2, 9);
    w.Put(L"field attribute cell");
    w.Vio.SetCursorPos(0, 10);
    w.Put(L"link http://example.com/x end");
    w.Vio.HandleMouseHover(8, 10, nullptr);
    w.Vio.SetCursorPos(0, 11);
    w.Put(L"selected stream selection");
    w.Vio.SetMarkArea(VIOMARK_STREAM, 9, 11, 24, 11, 1);
    w.Vio.SetColors(4, 14);
    w.Vio.SetCursorPos(0, 12);
    w.Put(L"cyan on blue, bright:");
    w.Vio.SetMode(1);
    w.Put(L" yes");
    w.Vio.SetMode(0);
    w.Vio.SetCursorPos(5, 13);
    // Blinking text shows while the blink phase flag is clear; with the
    // flag set its fore colour becomes the back (the second picture).
    w.Vio.BlinkPhase = false;
    auto shown = w.Picture();
    ASSERT_TRUE(shown);
    EXPECT_TRUE(Matches(*shown, "attributes"));
    w.Vio.BlinkPhase = true;
    w.Vio.MarkCellsDirty(0, 4, 40, 1, 2);
    auto hidden = w.Picture();
    ASSERT_TRUE(hidden);
    // Only the blinking row changed, and on it only the blinking text.
    int const ch = w.CellHeight(), cw = w.CellWidth();
    pixeltest::Box diff;
    for (int y = 0; y < shown->Height(); ++y)
        for (int x = 0; x < shown->Width(); ++x)
            if (shown->Pixel(x, y) != hidden->Pixel(x, y)) {
                diff.left = diff.empty ? x : std::min(diff.left, x);
                diff.top = diff.empty ? y : std::min(diff.top, y);
                diff.right = std::max(diff.right, x + 1);
                diff.bottom = std::max(diff.bottom, y + 1);
                diff.empty = false;
            }
    ASSERT_FALSE(diff.empty);
    EXPECT_GE(diff.top, 4 * ch);
    EXPECT_LE(diff.bottom, 5 * ch);
    EXPECT_LE(diff.right, 5 * cw);
}

TEST_F(ScreenGolden, Palette)
{
    SCREENWINDOW w(32, 9);
    // The 16 system colours, then xterm 16..255: one cell each.
    for (int i = 0; i < 256; ++i) {
        w.Vio.SetColors(i < 16 ? i : 256 + i, 7);
        w.Vio.WriteWideByte(L' ', 1, i % 32, i / 32, 0);
    }
    w.Vio.SetCursorOnOff(0);
    auto picture = w.Picture();
    ASSERT_TRUE(picture);
    int const ch = w.CellHeight(), cw = w.CellWidth();
    for (int i : {0, 9, 15, 16, 196, 231, 232, 255}) {
        uint32_t const want = Argb(w.Vio.GetSysColor(i < 16 ? i : 256 + i));
        EXPECT_EQ(picture->Pixel((i % 32) * cw + cw / 2, (i / 32) * ch + ch / 2), want) << "colour " << i;
    }
    EXPECT_TRUE(Matches(*picture, "palette"));
}

void BoxDrawing(SCREENWINDOW& w)
{
    w.Put(L"\u2554\u2550\u2550\u2566\u2550\u2557 \u250C\u2500\u252C\u2500\u2510 \u2588\u2580\u2584\u258C\u2590\r\n");
    w.Put(L"\u2551ab\u2551x\u2551 \u2502a\u2502b\u2502 \u2591\u2592\u2593\u2598\u259D\r\n");
    w.Put(L"\u2560\u2550\u2550\u256C\u2550\u2563 \u251C\u2500\u253C\u2500\u2524 \u25CF\u25CB\u25B2\u25BC\u25C6\r\n");
    w.Put(L"\u255A\u2550\u2550\u2569\u2550\u255D \u2514\u2500\u2534\u2500\u2518 \u2666\u25BA\u25C4\u25D8\u25D9\r\n");
    w.Put(L"\u2553\u2565\u2556 \u2552\u2564\u2555 \u255E\u256A\u2561 \uE000\uE001\uE002\uE003\uE004\uE005\uE006");
    w.Vio.SetCursorOnOff(0);
}

TEST_F(ScreenGolden, BoxDrawingJoinsAtTwoCellSizes)
{
    SCREENWINDOW small(24, 5);
    BoxDrawing(small);
    auto a = small.Picture();
    ASSERT_TRUE(a);
    EXPECT_TRUE(Matches(*a, "boxes_small"));
    // Lines join without a gap from cell to cell: along the row of the
    // horizontal double line, every pixel column of the top frame is inked.
    int const ch = small.CellHeight(), cw = small.CellWidth();
    int const lineY = ch / 2 - 1; // the upper stroke of the double line (t = 1 or 2)
    for (int x = cw / 2 + 2; x < 6 * cw - cw / 2 - 2; ++x)
        EXPECT_NE(a->Pixel(x, lineY), Argb(small.Vio.GetSysColor(0))) << "gap at x " << x;

    SCREENWINDOW large(24, 5, L"DejaVu Sans Mono  12 X 25");
    BoxDrawing(large);
    auto b = large.Picture();
    ASSERT_TRUE(b);
    EXPECT_GE(large.CellWidth(), 10);
    EXPECT_TRUE(Matches(*b, "boxes_large"));
}

TEST_F(ScreenGolden, RowsOfDoubleWidthAndHeight)
{
    SCREENWINDOW w(24, 6);
    // Text, lines and symbols on each kind of row; a row of double size
    // shows half the columns.
    w.Put(L"normal row \u2554\u2550\u2566\u2557 \u2592\u25B2\r\n");
    w.Put(L"wide \u2554\u2550\u2566\u2557 \u2592\u25B2\r\n");
    w.Put(L"tall \u255F\u2500\u256B\u2562 \u2593\u25CF\r\n");
    w.Put(L"tall \u255F\u2500\u256B\u2562 \u2593\u25CF\r\n");
    w.Put(L"normal again");
    w.Vio.Do(VIODO_LINEATTR, 1, VIOLINE_DOUBLEWIDTH);
    w.Vio.Do(VIODO_LINEATTR, 2, VIOLINE_DOUBLEHEIGHT_TOP);
    w.Vio.Do(VIODO_LINEATTR, 3, VIOLINE_DOUBLEHEIGHT_BOTTOM);
    w.Vio.SetCursorOnOff(0);
    auto picture = w.Picture();
    ASSERT_TRUE(picture);
    EXPECT_TRUE(Matches(*picture, "double_rows"));
}

TEST_F(ScreenGolden, CursorShapes)
{
    SCREENWINDOW w(16, 5);
    w.Put(L"block\r\nunderline\r\ncoloured\r\nunfocused\r\ncross-hair");
    // The cursor stands on blank cells after the text.
    auto shot = [&](int y) {
        w.Vio.SetCursorPos(12, y);
        return w.Picture();
    };
    w.Vio.SetCursorType(static_cast<signed char>(1), VIOCURSOR_STEADY);
    auto block = shot(0);
    w.Vio.SetCursorType(static_cast<signed char>(0), -1);
    auto underline = shot(1);
    w.Vio.Profile.ColorCursor = 10 + 1;
    w.Vio.SetCursorType(static_cast<signed char>(1), -1);
    auto coloured = shot(2);
    w.Vio.Profile.ColorCursor = 0;
    w.Vio.SetCursorPos(12, 3);
    w.Vio.OnFocusLost();
    auto unfocused = w.Picture();
    w.Vio.OnFocusAcquired();
    w.Vio.SetCursorType(static_cast<signed char>(0), VIOCURSOR_CROSSHAIR);
    auto cross = shot(4);
    ASSERT_TRUE(block && underline && coloured && unfocused && cross);
    int const ch = w.CellHeight(), cw = w.CellWidth();
    int const x = 12 * cw + cw / 2;
    // The block inverts the whole cell; the underline cursor only its
    // bottom rows; a cursor colour fills the cell; unfocused, the cell
    // shows as it is.
    uint32_t const back = Argb(w.Vio.GetSysColor(0));
    EXPECT_EQ(block->Pixel(x, 1), 0xFFFFFFFFu);
    EXPECT_EQ(block->Pixel(x, ch - 1), 0xFFFFFFFFu);
    EXPECT_EQ(underline->Pixel(x, ch + 1), back);
    EXPECT_EQ(underline->Pixel(x, 2 * ch - 1), 0xFFFFFFFFu);
    EXPECT_EQ(coloured->Pixel(x, 2 * ch + 1), Argb(w.Vio.GetSysColor(10)));
    EXPECT_EQ(unfocused->Pixel(x, 3 * ch + 1), back);
    EXPECT_EQ(cross->Pixel(2, 5 * ch - 1), Argb(w.Vio.GetSysColor(7))) << "the horizontal line of the cross-hair";
    EXPECT_EQ(cross->Pixel(12 * cw, 1), Argb(w.Vio.GetSysColor(7))) << "its vertical line";
    EXPECT_TRUE(Matches(*block, "cursor_block"));
    EXPECT_TRUE(Matches(*underline, "cursor_underline"));
    EXPECT_TRUE(Matches(*cross, "cursor_crosshair"));
}

TEST_F(ScreenGolden, VisualBellInvertsForOneFrame)
{
    SCREENWINDOW w(10, 2);
    w.Vio.SetCursorOnOff(0);
    auto before = w.Picture();
    int paints = w.Pane->Paints;
    EXPECT_EQ(w.Vio.FlashWindow(), 1);
    EXPECT_GT(w.Pane->Paints, paints) << "redrawn at once";
    w.Vio.OnTimer(258);
    auto after = w.Picture();
    ASSERT_TRUE(before && after);
    EXPECT_EQ(before->Pixel(3, 3), after->Pixel(3, 3)) << "the next paint is normal again";
}

// ---- The cursor's row ----

// A line of program text as an editor colours it: xterm colours on an xterm
// background, an underlined word that ends in a line character, an
// underscore, then blanks in the screen's own colours.
constexpr int kCodeBack = 256 + 236;
constexpr int kUnderlinedFore = 256 + 40;
constexpr int kUnderlinedFrom = 10, kUnderlinedTo = 18; // "uint16_t" and U+2502
constexpr int kUnderscore = 21;                         // in "k_x"

void PutCodeLine(SCREENWINDOW& w, int row)
{
    w.Vio.SetCursorPos(0, row);
    w.Vio.SetColors(kCodeBack, 256 + 34);
    w.Put(L"constexpr ");
    w.Vio.SetMode(4);
    w.Vio.SetColors(kCodeBack, kUnderlinedFore);
    w.Put(L"uint16_t\u2502");
    w.Vio.SetMode(0);
    w.Vio.SetColors(kCodeBack, 7);
    w.Put(L" k_x = ");
    w.Vio.SetColors(kCodeBack, 256 + 124);
    w.Put(L"6;");
    w.Vio.SetColors(0, 7);
}

// The pixels of two cell rows that differ, outside the pixel columns from
// `skipLeft` to `skipRight`; the first one in `first`.
int RowDifferences(plat::Bitmap const& b, int cellHeight, int rowA, int rowB, int skipLeft, int skipRight,
                   std::string* first = nullptr)
{
    int n = 0;
    for (int y = 0; y < cellHeight; ++y)
        for (int x = 0; x < b.Width(); ++x) {
            if (x >= skipLeft && x < skipRight)
                continue;
            if (b.Pixel(x, rowA * cellHeight + y) != b.Pixel(x, rowB * cellHeight + y) && n++ == 0 && first)
                *first = std::to_string(x) + "," + std::to_string(y);
        }
    return n;
}

// One look of the cursor in the table below.
struct CURSORCASE {
    int lineAttr;
    int column;
    bool block;
    int blink; // 0 steady, 1 blinking and shown, 2 blinking and hidden
    int colour;
    bool focus;
};

std::string Describe(CURSORCASE const& c)
{
    char text[128];
    snprintf(text, sizeof text, "line attribute %d, cursor at %d, %s, %s, colour %d, %s", c.lineAttr, c.column,
             c.block ? "block" : "underline", c.blink == 0 ? "steady" : c.blink == 1 ? "blink shown" : "blink hidden",
             c.colour, c.focus ? "focused" : "unfocused");
    return text;
}

// The cursor changes its own cell and nothing else of its row, whatever its
// shape, colour, blink phase and the focus, on text, on an underlined word,
// on an underlined line character and on blanks, on rows of single and
// double size; it shows over an underline; the underline and the
// underscore show on the cursor's row as on any other.
TEST(CursorRow, LooksLikeAnyOtherRowOutsideTheCursorCell)
{
    std::vector<CURSORCASE> cases;
    for (int lineAttr : {0, VIOLINE_DOUBLEWIDTH, VIOLINE_DOUBLEHEIGHT_TOP, VIOLINE_DOUBLEHEIGHT_BOTTOM})
        for (int column : {3, 12, 18, 30})
            for (bool block : {true, false})
                for (int blink : {0, 1, 2})
                    for (int colour : {0, 10 + 1})
                        for (bool focus : {true, false})
                            if (column * (lineAttr ? 2 : 1) < 40)
                                cases.push_back({lineAttr, column, block, blink, colour, focus});
    SCREENWINDOW w(40, 3);
    PutCodeLine(w, 0);
    PutCodeLine(w, 2);
    int const ch = w.CellHeight(), cw = w.CellWidth();
    uint32_t const underline = Argb(w.Vio.GetSysColor(kUnderlinedFore));
    uint32_t const back = Argb(w.Vio.GetSysColor(kCodeBack));
    for (CURSORCASE const& c : cases) {
        w.Vio.Do(VIODO_LINEATTR, 0, c.lineAttr);
        w.Vio.Do(VIODO_LINEATTR, 2, c.lineAttr);
        w.Vio.SetCursorType(static_cast<signed char>(c.block), c.blink ? VIOCURSOR_BLINKING : VIOCURSOR_STEADY);
        w.Vio.Profile.ColorCursor = c.colour;
        if (c.focus)
            w.Vio.OnFocusAcquired();
        else
            w.Vio.OnFocusLost();
        w.Vio.SetCursorPos(c.column, 0);
        w.Vio.BlinkPhase = c.blink != 2;
        w.Vio.BlinkSkipStart = 0;
        auto picture = w.Picture();
        ASSERT_TRUE(picture);
        std::string const where = Describe(c);
        int const scale = c.lineAttr ? 2 : 1;
        // Rows of double size are stretched smoothly: the cursor colour may
        // reach one pixel beyond its cell, a colour come out a unit off.
        int const margin = c.lineAttr ? 1 : 0;
        int const left = c.column * cw * scale - margin, right = left + cw * scale + 2 * margin;
        std::string first;
        EXPECT_EQ(RowDifferences(*picture, ch, 0, 2, left, right, &first), 0) << where << ": first at " << first;
        // In the cursor cell: the cursor, down to its bottom row, or nothing.
        bool const shown = c.focus && c.blink != 2;
        int const inCell = RowDifferences(*picture, ch, 0, 2, 0, 0) - RowDifferences(*picture, ch, 0, 2, left, right);
        EXPECT_EQ(inCell != 0, shown) << where << ": the cursor cell";
        int bottom = 0;
        for (int x = left + margin; x < right - margin; ++x)
            bottom += picture->Pixel(x, ch - 1) != picture->Pixel(x, 3 * ch - 1);
        if (!(c.block && c.colour)) {
            EXPECT_EQ(bottom == cw * scale, shown) << where << ": the cursor's bottom row";
        }
        if (c.lineAttr == VIOLINE_DOUBLEHEIGHT_TOP)
            continue; // the bottom halves of the cells are on the next row
        for (int col = kUnderlinedFrom; col <= kUnderlinedTo && col * scale < 40; ++col) {
            if (col != c.column) {
                EXPECT_TRUE(Near(picture->Pixel(col * cw * scale + cw / 2, ch - 1), underline, 2))
                    << where << ": underline under column " << col;
            }
        }
        if (kUnderscore * scale >= 40)
            continue;
        int ink = 0;
        for (int y = ch / 2; y < ch; ++y)
            for (int x = kUnderscore * cw * scale; x < (kUnderscore + 1) * cw * scale; ++x)
                ink += picture->Pixel(x, y) != back;
        EXPECT_GT(ink, 0) << where << ": the underscore";
    }
    w.Vio.OnFocusAcquired();
}

// Blink ticks and moves of the cursor repaint only cells around it; what the
// window then shows is what a whole paint gives, no cursor left behind.
TEST(CursorRow, BlinkAndMovesRepaintOnlyTheCursorCells)
{
    SCREENWINDOW w(40, 3);
    PutCodeLine(w, 0);
    PutCodeLine(w, 1);
    w.Vio.SetCursorType(static_cast<signed char>(0), VIOCURSOR_BLINKING);
    w.Vio.SetCursorPos(4, 0);
    w.Vio.OnFocusAcquired();
    w.Vio.BlinkSkipStart = 0;
    w.Settle();
    int const ch = w.CellHeight(), cw = w.CellWidth();
    auto matchesWholePaint = [&](char const* step) {
        auto shown = plat::GrabViewFromScreen(w.Pane->View());
        auto whole = w.Pane->Grab();
        ASSERT_TRUE(shown && whole) << step;
        ASSERT_EQ(shown->Width(), whole->Width());
        int off = 0;
        std::string first;
        for (int y = 0; y < std::min(shown->Height(), whole->Height()); ++y)
            for (int x = 0; x < shown->Width(); ++x)
                if (shown->Pixel(x, y) != whole->Pixel(x, y) && off++ == 0)
                    first = std::to_string(x) + "," + std::to_string(y);
        EXPECT_EQ(off, 0) << step << ": the window differs from a whole paint, first at " << first;
    };
    matchesWholePaint("at first");
    RECT const cell{4 * cw, 0, 5 * cw, ch};
    for (int tick = 0; tick < 4; ++tick) {
        bool const wasShown = w.Vio.BlinkPhase;
        w.Vio.OnTimer(257);
        EXPECT_NE(w.Vio.BlinkPhase, wasShown);
        ASSERT_TRUE(w.Flush()) << "tick " << tick;
        for (RECT const& r : w.Pane->LastRegion)
            EXPECT_EQ(r, cell) << "tick " << tick;
        matchesWholePaint(wasShown ? "cursor hidden" : "cursor shown");
    }
    w.Vio.BlinkPhase = true;
    w.Vio.SetCursorPos(20, 0);
    ASSERT_TRUE(w.Flush());
    matchesWholePaint("moved along the row");
    w.Vio.SetCursorPos(12, 1);
    ASSERT_TRUE(w.Flush());
    matchesWholePaint("moved onto the underlined word of the next row");
    w.Put(L"XY");
    ASSERT_TRUE(w.Flush());
    matchesWholePaint("written over");
}

// ---- Geometry of graphic characters, exactly ----

std::string Shape(int w, int h, std::function<void(WINDC&, RECT const&)> const& draw)
{
    MEMORYBITMAP bitmap(w, h);
    {
        WINDC dc(bitmap, bitmap.GetRect(), true);
        RECT const cell{0, 0, w, h};
        dc.FillRect(&cell, 0x000000);
        draw(dc, cell);
    }
    std::string out;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            out += (bitmap.GetBitmap()->Pixel(x, y) & 0xFFFFFF) ? '#' : '.';
        out += '\n';
    }
    return out;
}

TEST(GraphicChars, QuarterBlockOfAnOddCell)
{
    std::string const s = Shape(7, 13, [](WINDC& dc, RECT const& c) { VIO::RenderQuarterBlock(dc, c, 8, 0xFFFFFF); });
    std::string want;
    for (int y = 0; y < 13; ++y)
        want += y < 7 ? "####...\n" : ".......\n";
    EXPECT_EQ(s, want);
}

TEST(GraphicChars, DoubleLineStrokesFollowTheCellSize)
{
    // U+2554 (down and right, double): strokes one pixel wide in 8 x 16
    // cells, two pixels in 10 x 20.
    std::string const small = Shape(8, 16, [](WINDC& dc, RECT const& c) {
        VIO::RenderLine(dc, c, 1536, 0xFFFFFF);
        VIO::CorrectCenter(dc, c, VIO::GraphChars[24].centre, 0xFFFFFF, 0);
    });
    std::vector<std::string> rows;
    for (size_t at = 0; at < small.size(); at = small.find('\n', at) + 1)
        rows.push_back(small.substr(at, small.find('\n', at) - at));
    ASSERT_EQ(rows.size(), 16u);
    EXPECT_EQ(rows[7], "...#####") << "outer horizontal line, from the corner on";
    EXPECT_EQ(rows[8], "...#....");
    EXPECT_EQ(rows[9], "...#.###") << "inner horizontal line";
    EXPECT_EQ(rows[15], "...#.#..") << "the two vertical lines down to the edge";

    std::string const large = Shape(10, 20, [](WINDC& dc, RECT const& c) {
        VIO::RenderLine(dc, c, 1536, 0xFFFFFF);
        VIO::CorrectCenter(dc, c, VIO::GraphChars[24].centre, 0xFFFFFF, 0);
    });
    rows.clear();
    for (size_t at = 0; at < large.size(); at = large.find('\n', at) + 1)
        rows.push_back(large.substr(at, large.find('\n', at) - at));
    ASSERT_EQ(rows.size(), 20u);
    EXPECT_EQ(rows[19], "...##..##.") << "strokes two pixels wide";
    EXPECT_EQ(rows[8], "...#######");
    EXPECT_EQ(rows[9], "...#######");
    EXPECT_EQ(VIO::GraphChars[24].c, 0x2554);
}

// Every line character of the table, in a small and a large cell: its
// strokes reach the cell's edge in each direction it has, so that it joins
// its neighbours without a gap, and nothing sticks out toward a direction
// it does not have (a double line meeting a single one ends flush with it).
TEST(GraphicChars, LinesReachTheirEdgesAndNothingElse)
{
    for (SIZE const size : {SIZE{8, 16}, SIZE{10, 20}}) {
        int const w = size.cx, h = size.cy;
        int const t = std::min(w, h) <= 9 ? 1 : 2;
        int const cx = w / 2, cy = h / 2;
        for (int i = 0; VIO::GraphChars[i].c; ++i) {
            VIO::GRAPHCHAR const& g = VIO::GraphChars[i];
            if (!(g.bits & 0x0FF0))
                continue;
            std::string const s = Shape(w, h, [&](WINDC& dc, RECT const& c) {
                VIO::RenderLine(dc, c, g.bits, 0xFFFFFF);
                VIO::CorrectCenter(dc, c, g.centre, 0xFFFFFF, 0);
            });
            auto ink = [&](int x, int y) { return s[size_t(y * (w + 1) + x)] == '#'; };
            auto has = [&](int dir) { return (g.bits >> (4 + dir) & 1) || (g.bits >> (8 + dir) & 1); };
            bool const doubleVertical = g.bits & 0x0500, doubleHorizontal = g.bits & 0x0A00;
            char where[48];
            snprintf(where, sizeof where, "U+%04X in %dx%d", unsigned(g.c), w, h);
            // The stroke columns and rows that meet the neighbours.
            std::vector<int> const columns = doubleVertical ? std::vector<int>{cx - t, cx + t} : std::vector<int>{cx};
            std::vector<int> const rows = doubleHorizontal ? std::vector<int>{cy - t, cy + t} : std::vector<int>{cy};
            for (int x : columns) {
                if (g.bits & 0x0110) {
                    EXPECT_TRUE(ink(x, 0)) << where << ": up";
                }
                if (g.bits & 0x0440) {
                    EXPECT_TRUE(ink(x, h - 1)) << where << ": down";
                }
            }
            for (int y : rows) {
                if (g.bits & 0x0880) {
                    EXPECT_TRUE(ink(0, y)) << where << ": left";
                }
                if (g.bits & 0x0220) {
                    EXPECT_TRUE(ink(w - 1, y)) << where << ": right";
                }
            }
            // Nothing beyond the strokes of the other axis where a direction
            // is missing.
            int const upTo = doubleHorizontal ? cy - t : cy;
            int const downFrom = doubleHorizontal ? cy + 2 * t : cy + t;
            int const leftTo = doubleVertical ? cx - t : cx;
            int const rightFrom = doubleVertical ? cx + 2 * t : cx + t;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    bool const outside = (!has(0) && y < upTo) || (!has(2) && y >= downFrom) ||
                                         (!has(3) && x < leftTo) || (!has(1) && x >= rightFrom);
                    if (outside && ink(x, y)) {
                        ADD_FAILURE() << where << ": ink at " << x << "," << y << "\n" << s;
                        y = h;
                        break;
                    }
                }
        }
    }
}

// ---- The thumbnail bitmap ----

TEST(ScreenBitmap, LockBitmapPaintsTheCellsAndChecksTheBitmapOnRelease)
{
    SCREENWINDOW w(16, 3);
    w.Put(L"thumbnail");
    w.Vio.SetCursorOnOff(0);
    w.Vio.OnShowHide(1);
    MEMORYBITMAP& bitmap = w.Vio.LockBitmap(1);
    ASSERT_TRUE(bitmap.GetBitmap());
    EXPECT_EQ(bitmap.Cx, 16 * w.CellWidth());
    auto window = w.Picture();
    ASSERT_TRUE(window);
    int same = 0, total = 0;
    for (int y = 0; y < window->Height(); ++y)
        for (int x = 0; x < window->Width(); ++x) {
            ++total;
            same += bitmap.GetBitmap()->Pixel(x, y) == window->Pixel(x, y);
        }
    EXPECT_GT(same, total * 99 / 100) << "the bitmap shows what the window shows";
    EXPECT_EQ(w.Vio.ReleaseBitmap(bitmap), 1);

    testutil::ASSERTRECORDER recorder;
    MEMORYBITMAP other(4, 4);
    w.Vio.LockBitmap(0);
    w.Vio.ReleaseBitmap(other);
    auto reports = recorder.Take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Condition, "mb.GetHandle()==this->MemoryBitmap.GetHandle()");
    // Hidden, the screen keeps a small bitmap and enlarges it for a lock.
    w.Vio.OnShowHide(0);
    MEMORYBITMAP& hidden = w.Vio.LockBitmap(0);
    EXPECT_EQ(hidden.Cx, 16 * w.CellWidth());
    w.Vio.ReleaseBitmap(hidden);
}

} // namespace

// Under LeakSanitizer: fontconfig keeps its configuration and font cache
// for the life of the process and never frees them; that is not a leak of
// ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
