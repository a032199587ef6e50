// Painting text beyond the terminal font: characters from fallback faces
// fitted into their cells, colour emoji, wide characters drawn whole, marks
// drawn over their character, bold that stands out, and the reversed screen.
// The binary runs with a font configuration that adds a CJK face and a
// colour emoji face to the DejaVu families (tests/program/screen/
// CMakeLists.txt). QOR_REVIEW_DIR set: the pictures are saved there.
#include "tests/program/screen/screenwindow.h"

#include "platform/draw/cells.h"
#include "platform/draw/context.h"
#include "platform/draw/font.h"
#include "velmot/gui/winfont.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

using namespace screenwindow;

// The box of pixels in a region that differ from the background; empty
// (right <= left) when none do.
struct INK {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool Empty() const { return right <= left; }
};

INK InkIn(plat::Bitmap const& b, int x0, int y0, int x1, int y1, uint32_t background)
{
    INK ink{x1, y1, x0, y0};
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (!Near(b.Pixel(x, y), background, 24)) {
                ink.left = std::min(ink.left, x);
                ink.top = std::min(ink.top, y);
                ink.right = std::max(ink.right, x + 1);
                ink.bottom = std::max(ink.bottom, y + 1);
            }
    return ink;
}

// How far a pixel is from grey: colour glyphs have it, coverage of one
// colour on another grey background does not.
int Colourfulness(uint32_t p)
{
    int const r = p >> 16 & 0xFF, g = p >> 8 & 0xFF, b = p & 0xFF;
    return std::max({r, g, b}) - std::min({r, g, b});
}

void Review(plat::Bitmap const& b, std::string const& name)
{
    char const* dir = std::getenv("QOR_REVIEW_DIR");
    if (dir && !name.empty())
        b.SavePng(std::string(dir) + "/" + name + ".png");
}

// What the window shows once the screen's changes are painted (saved for
// review under the name).
std::unique_ptr<plat::Bitmap> Shown(SCREENWINDOW& w, std::string const& name)
{
    EXPECT_TRUE(w.Flush());
    auto picture = w.Picture();
    if (picture)
        Review(*picture, name);
    return picture;
}

// The screen's own background pixel (black on the test profile).
uint32_t Background(SCREENWINDOW& w)
{
    uint32_t back = 0;
    w.Vio.AttribToColors(0, w.Vio.Profile.ColorFore, w.Vio.Profile.ColorBack, nullptr, &back);
    return Argb(back);
}

TEST(TextPaint, WideCharactersAreDrawnWholeFromTheFallbackFace)
{
    SCREENWINDOW w(8, 1);
    int const cw = w.CellWidth(), ch = w.CellHeight();
    w.Put(L"a\u4E2Db");
    auto picture = Shown(w, "wide");
    ASSERT_TRUE(picture);
    uint32_t const back = Background(w);
    // Both halves of the character have ink; none of it leaves its cells.
    EXPECT_FALSE(InkIn(*picture, cw, 0, 2 * cw, ch, back).Empty()) << "left half";
    EXPECT_FALSE(InkIn(*picture, 2 * cw, 0, 3 * cw, ch, back).Empty()) << "right half";
    INK const a = InkIn(*picture, 0, 0, cw, ch, back);
    INK const b = InkIn(*picture, 3 * cw, 0, 4 * cw, ch, back);
    EXPECT_FALSE(a.Empty());
    EXPECT_FALSE(b.Empty());

    // The cells hold what the fallback face itself draws: the same glyph
    // pixel for pixel (it fits its two cells at the terminal font's size).
    plat::Font const& terminal = *w.Vio.GetFontHandle()->FontRef;
    std::string const family = terminal.FallbackFamily(U'\u4E2D');
    EXPECT_NE(family.find("WenQuanYi"), std::string::npos) << family;
    auto face = plat::Font::Create(family, terminal.PixelSize());
    ASSERT_TRUE(face);
    auto own = plat::Bitmap::Create(2 * cw, ch);
    ASSERT_TRUE(own);
    {
        plat::DrawContext& dc = own->Context();
        dc.SaveState();
        dc.Translate(0, ch);
        dc.Scale(1, -1);
        plat::CellPainter cells(dc, cw, ch, ch - int(std::lround(terminal.Metrics().descent)));
        uint32_t fore = 0, backRgb = 0;
        w.Vio.AttribToColors(0, w.Vio.Profile.ColorFore, w.Vio.Profile.ColorBack, &fore, &backRgb);
        plat::CellRun run;
        run.font = face.get();
        run.cells = U"\u4E2D";
        run.flags = plat::kCellWide;
        run.fore = plat::ColorFromValue(fore);
        run.back = plat::ColorFromValue(backRgb);
        cells.DrawRun(run);
        dc.RestoreState();
    }
    INK const drawn = InkIn(*picture, cw, 0, 3 * cw, ch, back);
    INK const reference = InkIn(*own, 0, 0, 2 * cw, ch, back);
    ASSERT_FALSE(reference.Empty());
    ASSERT_EQ(drawn.right - drawn.left, reference.right - reference.left);
    ASSERT_EQ(drawn.bottom - drawn.top, reference.bottom - reference.top);
    int off = 0;
    for (int y = 0; y < drawn.bottom - drawn.top; ++y)
        for (int x = 0; x < drawn.right - drawn.left; ++x)
            off += !Near(picture->Pixel(drawn.left + x, drawn.top + y), own->Pixel(reference.left + x, reference.top + y), 8);
    EXPECT_EQ(off, 0);

    // The cursor on the right half of the character shows there.
    w.Vio.SetCursorType(static_cast<signed char>(1), VIOCURSOR_STEADY);
    w.Vio.SetCursorPos(2, 0);
    auto cursor = Shown(w, "");
    ASSERT_TRUE(cursor);
    int changed = 0;
    for (int y = 0; y < ch; ++y)
        for (int x = 2 * cw; x < 3 * cw; ++x)
            changed += cursor->Pixel(x, y) != picture->Pixel(x, y);
    EXPECT_GT(changed, cw * ch / 2);
}

TEST(TextPaint, GlyphsTooLargeForTheirCellsAreScaledIntoThem)
{
    // Mathematical letters come from a serif face wider than a cell, emoji
    // from a colour face wider than two: each is scaled into its cells, in
    // its colours.
    SCREENWINDOW w(8, 1);
    int const cw = w.CellWidth(), ch = w.CellHeight();
    w.Put(L"\U0001D400x\U0001F600y");
    auto picture = Shown(w, "scaled");
    ASSERT_TRUE(picture);
    uint32_t const back = Background(w);
    // Each character's ink stays in its own cells: the neighbours' cells
    // hold only their own letters, which the font draws inside its cell.
    INK const math = InkIn(*picture, 0, 0, cw, ch, back);
    EXPECT_FALSE(math.Empty());
    INK const x = InkIn(*picture, cw, 0, 2 * cw, ch, back);
    INK const emoji = InkIn(*picture, 2 * cw, 0, 4 * cw, ch, back);
    ASSERT_FALSE(emoji.Empty());
    EXPECT_GE(emoji.right - emoji.left, cw + cw / 2) << "it fills its two cells";
    INK const y = InkIn(*picture, 4 * cw, 0, 5 * cw, ch, back);
    SCREENWINDOW plain(8, 1);
    plain.Put(L" x  y");
    auto reference = Shown(plain, "");
    ASSERT_TRUE(reference);
    INK const rx = InkIn(*reference, cw, 0, 2 * cw, ch, back);
    INK const ry = InkIn(*reference, 4 * cw, 0, 5 * cw, ch, back);
    EXPECT_TRUE(x.left == rx.left && x.right == rx.right && x.top == rx.top && x.bottom == rx.bottom);
    EXPECT_TRUE(y.left == ry.left && y.right == ry.right && y.top == ry.top && y.bottom == ry.bottom);
    int colourful = 0;
    for (int yy = emoji.top; yy < emoji.bottom; ++yy)
        for (int xx = emoji.left; xx < emoji.right; ++xx)
            colourful += Colourfulness(picture->Pixel(xx, yy)) > 80;
    EXPECT_GT(colourful, 10) << "the emoji comes from the colour face";
}

TEST(TextPaint, MarksAreDrawnOverTheirCharacter)
{
    SCREENWINDOW w(6, 1);
    int const cw = w.CellWidth(), ch = w.CellHeight();
    w.Put(L"o\u0301xo\u0323x");
    auto marked = Shown(w, "marks");
    SCREENWINDOW plain(6, 1);
    plain.Put(L"oxox");
    auto reference = Shown(plain, "");
    ASSERT_TRUE(marked && reference);
    uint32_t const back = Background(w);
    INK const acute = InkIn(*marked, 0, 0, cw, ch, back), o = InkIn(*reference, 0, 0, cw, ch, back);
    INK const dot = InkIn(*marked, 2 * cw, 0, 3 * cw, ch, back);
    ASSERT_FALSE(o.Empty());
    EXPECT_LT(acute.top, o.top) << "the accent lies above the o, in its cell";
    EXPECT_GT(dot.bottom, o.bottom) << "the dot lies below the o, in its cell";
    // The letters after them are where they are without marks.
    for (int cell : {1, 3}) {
        INK const a = InkIn(*marked, cell * cw, 0, (cell + 1) * cw, ch, back);
        INK const b = InkIn(*reference, cell * cw, 0, (cell + 1) * cw, ch, back);
        EXPECT_TRUE(a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom) << cell;
    }
}

// The shipped profile: dark blue text (system colour 16) on white.
void ShippedColours(SCREENWINDOW& w)
{
    w.Vio.Profile.ColorFore = 16;
    w.Vio.Profile.ColorBack = 15;
    w.Vio.SetMode(0);
    w.Vio.SetScreenAttr(15, 16, -1);
}

TEST(TextPaint, BoldStandsOutOnTheDefaultColours)
{
    SCREENWINDOW w(12, 2);
    ShippedColours(w);
    int const cw = w.CellWidth(), ch = w.CellHeight();
    w.Put(L"HELLO\r\n");
    w.Vio.SetMode(1);
    w.Put(L"HELLO");
    w.Vio.SetMode(0);
    auto picture = Shown(w, "bold");
    ASSERT_TRUE(picture);
    // Darkness summed over the text: bold has more of it, and its darkest
    // pixel is at least as dark as the plain text's (not a lighter colour).
    auto darkness = [&](int row, int* darkest) {
        long sum = 0;
        *darkest = 255;
        for (int y = row * ch; y < (row + 1) * ch; ++y)
            for (int x = 0; x < 5 * cw; ++x) {
                uint32_t const p = picture->Pixel(x, y);
                int const v = ((p >> 16 & 0xFF) + (p >> 8 & 0xFF) + (p & 0xFF)) / 3;
                sum += 255 - v;
                *darkest = std::min(*darkest, v);
            }
        return sum;
    };
    int plainDarkest = 0, boldDarkest = 0;
    long const plain = darkness(0, &plainDarkest), bold = darkness(1, &boldDarkest);
    EXPECT_GT(bold, plain + plain / 5);
    EXPECT_LE(boldDarkest, plainDarkest);
}

TEST(TextPaint, ReversedScreenDrawsBoldAndBlinkingCellsLikeTheOthers)
{
    SCREENWINDOW w(12, 1);
    ShippedColours(w);
    int const cw = w.CellWidth(), ch = w.CellHeight();
    w.Vio.SetInverse(1);
    w.Put(L"ab ");
    w.Vio.SetMode(1);
    w.Put(L"ab ");
    w.Vio.SetMode(0);
    w.Vio.SetMode(5);
    w.Put(L"ab");
    w.Vio.SetMode(0);
    w.Vio.SetCursorPos(11, 0);
    w.Vio.BlinkPhase = false;
    auto shown = Shown(w, "reversed");
    ASSERT_TRUE(shown);
    w.Vio.BlinkPhase = true;
    w.Vio.MarkCellsDirty(0, 0, 12, 1, 2);
    auto hidden = Shown(w, "reversed-blink");
    ASSERT_TRUE(hidden);
    // The reversed screen's background: the text colour.
    uint32_t const back = shown->Pixel(2 * cw + 1, 1);
    uint32_t fore = 0;
    w.Vio.AttribToColors(0, 16, 15, &fore, nullptr);
    EXPECT_TRUE(Near(back, Argb(VIO::DefaultSysColors[16]), 2));
    for (int cell = 0; cell < 11; ++cell) {
        // Every cell's corner shows that background: no cell of its own
        // colour behind bold text.
        EXPECT_TRUE(Near(shown->Pixel(cell * cw, 0), back, 2)) << cell;
        EXPECT_TRUE(Near(hidden->Pixel(cell * cw, 0), back, 2)) << cell;
    }
    // Blinking text shows as the plain text does, and in its hidden phase
    // as blank cells: never a solid box.
    for (int x = 0; x < 2 * cw; ++x)
        for (int y = 0; y < ch; ++y) {
            ASSERT_EQ(shown->Pixel(6 * cw + x, y), shown->Pixel(x, y)) << x << "," << y;
            ASSERT_TRUE(Near(hidden->Pixel(6 * cw + x, y), back, 2)) << x << "," << y;
        }
}

} // namespace
