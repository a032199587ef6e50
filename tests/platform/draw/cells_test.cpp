// Cell painting: composed runs against glyph runs, exact backgrounds,
// cursors and underlines, stretched rows, mixing with the context's own
// drawing, and the one-to-one bitmap blit.
#include <gtest/gtest.h>

#include "platform/draw/bitmap.h"
#include "platform/draw/cells.h"
#include "platform/draw/context.h"
#include "platform/draw/font.h"
#include "platform/draw/viewpaint.h"
#include "tests/platform/draw/drawtest.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

using namespace plat;
using drawtest::Box;

namespace pixeltest {

bool operator==(const Box& a, const Box& b)
{
    return a.empty == b.empty &&
           (a.empty || (a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom));
}

std::ostream& operator<<(std::ostream& out, const Box& b)
{
    if (b.empty)
        return out << "(empty)";
    return out << "(" << b.left << ", " << b.top << ")-(" << b.right << ", " << b.bottom << ")";
}

} // namespace pixeltest

namespace {

constexpr uint32_t kRed = 0xFFFF0000; // premultiplied ARGB of the pixels
const Color kWhite{1, 1, 1, 1};
const Color kBlack{0, 0, 0, 1};
const Color kBlue{0, 0, 1, 1};
const Color kGreen{0, 1, 0, 1};
const Color kYellow{1, 1, 0, 1};

uint32_t Pixel(const Color& c)
{
    auto ch = [&](float v) { return uint32_t(std::lround(v * c.alpha * 255)); };
    return uint32_t(std::lround(c.alpha * 255)) << 24 | ch(c.red) << 16 | ch(c.green) << 8 | ch(c.blue);
}

// How a test surface is set up: each runs `draw` with a top-down user
// space, at most flipped against the bitmap's memory.
enum class Surface {
    FlippedBitmap, // a bitmap's y-up context flipped by the caller: upright in memory
    View,          // a view-style painter: top-down by itself
    BitmapAsIs,    // a bitmap's context used top-down as it is: mirrored in memory
};

const char* Name(Surface s)
{
    switch (s) {
    case Surface::FlippedBitmap: return "flipped bitmap";
    case Surface::View: return "view";
    case Surface::BitmapAsIs: return "bitmap as is";
    }
    return "?";
}

std::unique_ptr<Bitmap> Draw(Surface surface, int w, int h, const std::function<void(DrawContext&)>& draw,
                             uint32_t background = 0)
{
    auto b = Bitmap::Create(w, h);
    EXPECT_TRUE(b);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x)
            b->SetPixel(x, row, background);
    if (surface == Surface::View) {
        BitmapViewPainter view(*b);
        auto dc = DrawContext::ForPainter(view.Handle());
        draw(*dc);
        return b;
    }
    DrawContext& dc = b->Context();
    dc.SaveState();
    if (surface == Surface::FlippedBitmap) {
        dc.Translate(0, h);
        dc.Scale(1, -1);
    }
    draw(dc);
    dc.RestoreState();
    return b;
}

// The picture upside down.
std::unique_ptr<Bitmap> Mirrored(const Bitmap& b)
{
    auto m = Bitmap::Create(b.Width(), b.Height());
    for (int row = 0; row < b.Height(); ++row)
        for (int x = 0; x < b.Width(); ++x)
            m->SetPixel(x, b.Height() - 1 - row, b.Pixel(x, row));
    return m;
}

// The box of the pixels that are not `background`.
Box InkOf(const Bitmap& b, uint32_t background)
{
    Box box;
    for (int row = 0; row < b.Height(); ++row)
        for (int x = 0; x < b.Width(); ++x) {
            if (b.Pixel(x, row) == background)
                continue;
            if (box.empty)
                box = Box{x, row, x + 1, row + 1, false};
            box.left = std::min(box.left, x);
            box.right = std::max(box.right, x + 1);
            box.top = std::min(box.top, row);
            box.bottom = std::max(box.bottom, row + 1);
        }
    return box;
}

// "" when the pixels differ by at most 1 in every channel.
std::string Compare1(uint32_t p, uint32_t q)
{
    for (int shift = 0; shift < 32; shift += 8)
        if (std::abs(int((p >> shift) & 0xFF) - int((q >> shift) & 0xFF)) > 1) {
            char text[40];
            std::snprintf(text, sizeof text, "%08X is not %08X", p, q);
            return text;
        }
    return "";
}

// The largest channel difference between the pictures, and where.
std::string Compare(const Bitmap& a, const Bitmap& b, int tolerance = 0)
{
    int worst = 0, far = 0, wx = 0, wrow = 0;
    for (int row = 0; row < a.Height(); ++row)
        for (int x = 0; x < a.Width(); ++x) {
            uint32_t p = a.Pixel(x, row), q = b.Pixel(x, row);
            int d = 0;
            for (int shift = 0; shift < 32; shift += 8)
                d = std::max(d, std::abs(int((p >> shift) & 0xFF) - int((q >> shift) & 0xFF)));
            if (d > tolerance)
                ++far;
            if (d > worst) {
                worst = d;
                wx = x;
                wrow = row;
            }
        }
    if (far == 0)
        return "";
    return std::to_string(far) + " pixels differ, worst by " + std::to_string(worst) + " at (" + std::to_string(wx) +
           ", row " + std::to_string(wrow) + ")";
}

class Cells : public ::testing::Test {
protected:
    void SetUp() override
    {
        font = Font::Create("DejaVu Sans Mono", 15);
        bold = Font::Create("DejaVu Sans Mono", 15, true);
        ASSERT_TRUE(font && bold);
        cw = int(std::lround(font->Advance(U'M')));
        FontMetrics m = font->Metrics();
        ch = int(std::ceil(m.ascent + m.descent));
        baseline = int(std::lround(m.ascent));
    }

    CellRun Run(int x, int y, std::u32string_view text, Color fore = kWhite, Color back = kBlack) const
    {
        CellRun r;
        r.font = font.get();
        r.x = x;
        r.y = y;
        r.cells = text;
        r.fore = fore;
        r.back = back;
        return r;
    }

    std::unique_ptr<Font> font, bold;
    int cw = 0, ch = 0, baseline = 0;
};

} // namespace

// Composed runs come out exactly as the same runs drawn as glyph runs by
// the painter, on every kind of surface (mirrored in memory where the user
// space is). A user space shifted by a hair is not aligned to the pixels,
// which sends the same runs down the glyph-run path.
TEST_F(Cells, ComposedRunsMatchGlyphRunsExactly)
{
    const std::u32string longText = [] {
        std::u32string s;
        for (int i = 0; i < 300; ++i) // longer than one composed piece
            s.push_back(U'!' + char32_t(i % 94));
        return s;
    }();
    struct Case {
        const char* what;
        std::u32string text;
        uint32_t flags;
        bool useBold;
        bool cursor;
    } cases[] = {
        {"plain", U"Hello, world: gjpqy|", 0, false, false},
        {"bold underlined", U"Bold _under_ MW", kCellUnderline, true, false},
        {"cursor behind a glyph", U"ab#cd", 0, false, true},
        {"wide cells", U"W\u00e9\u00df", kCellWide, false, false},
        {"a fallback face", U"a\U0001F600b\u4e2d", 0, false, false},
        {"long run", longText, kCellUnderline, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int advance = (c.flags & kCellWide) ? 2 * cw : cw;
        const int w = int(c.text.size()) * advance + 8, h = ch + 6;
        CellRun run = Run(4, 3, c.text, kYellow, kBlue);
        run.font = c.useBold ? bold.get() : font.get();
        run.flags = c.flags;
        if (c.cursor) {
            // An underline cursor: the bottom two rows of the third cell.
            run.cursor = Rect{double(run.x + 2 * cw), double(run.y + ch - 2), double(cw), 2};
            run.cursorColor = kGreen;
        }
        auto paint = [&](Surface surface, bool shifted) {
            return Draw(surface, w, h, [&](DrawContext& dc) {
                if (shifted)
                    dc.Translate(1e-7, 0);
                CellPainter cells(dc, cw, ch, baseline);
                EXPECT_EQ(cells.Composes(), !shifted);
                cells.DrawRun(run);
            }, kRed);
        };
        auto reference = paint(Surface::FlippedBitmap, true);
        EXPECT_EQ(Compare(*paint(Surface::FlippedBitmap, false), *reference), "");
        EXPECT_EQ(Compare(*paint(Surface::View, false), *reference), "");
        EXPECT_EQ(Compare(*paint(Surface::View, true), *reference), "");
        EXPECT_EQ(Compare(*paint(Surface::BitmapAsIs, false), *Mirrored(*reference)), "");

        // The run's box changed and nothing else.
        EXPECT_EQ(InkOf(*reference, kRed), (Box{4, 3, 4 + int(c.text.size()) * advance, 3 + ch, false}));
        EXPECT_EQ(reference->Pixel(4, 3), Pixel(kBlue));
        EXPECT_EQ(reference->Pixel(4, 3 + ch - 1), Pixel((c.flags & kCellUnderline) ? kYellow : kBlue));
        if (c.cursor) {
            EXPECT_EQ(reference->Pixel(4 + 2 * cw, 3 + ch - 1), Pixel(kGreen));
            EXPECT_EQ(reference->Pixel(4 + 2 * cw, 3 + ch - 3), Pixel(kBlue));
        }
    }
}

// A run replaces what was under it, translucent colours included (a
// translucent window's cells are cleared, not blended), on both paths and
// whichever way the surface runs.
TEST_F(Cells, RunsReplaceTheirCellsWithTranslucentColours)
{
    const Color halfBlue{0, 0, 1, 0.5f};
    const Color halfGreen{0, 1, 0, 0.5f};
    for (Surface surface : {Surface::FlippedBitmap, Surface::View, Surface::BitmapAsIs})
        for (bool shifted : {false, true}) {
            SCOPED_TRACE(std::string(Name(surface)) + (shifted ? ", glyph runs" : ", composed"));
            const int h = 2 * ch;
            auto b = Draw(surface, 6 * cw, h, [&](DrawContext& dc) {
                if (shifted)
                    dc.Translate(1e-7, 0);
                CellPainter cells(dc, cw, ch, baseline);
                CellRun run = Run(0, 0, U" x  ", kWhite, halfBlue);
                run.cursor = Rect{double(3 * cw), 0, double(cw), double(ch)};
                run.cursorColor = halfGreen;
                cells.DrawRun(run);
            }, kRed);
            auto at = [&](int x, int y) { return b->Pixel(x, surface == Surface::BitmapAsIs ? h - 1 - y : y); };
            EXPECT_EQ(at(0, 0), Pixel(halfBlue));
            EXPECT_EQ(at(2 * cw + 1, ch - 1), Pixel(halfBlue));
            EXPECT_EQ(at(3 * cw, 0), Pixel(halfGreen));
            EXPECT_EQ(at(4 * cw, 0), kRed);
            EXPECT_EQ(at(0, ch), kRed);
            // The glyph is drawn over the translucent background: some of
            // its pixels are white at full coverage.
            bool white = false;
            for (int y = 0; y < ch; ++y)
                for (int x = cw; x < 2 * cw; ++x)
                    white = white || at(x, y) == 0xFFFFFFFFu;
            EXPECT_TRUE(white);
        }
}

// Double-size rows: the run at twice the width, and for double height the
// top or the bottom half of the cells over the whole row.
TEST_F(Cells, StretchedRunsShowTheRightHalf)
{
    struct Case {
        CellStretch how;
        char32_t ch;
        bool ink;
    } cases[] = {
        {CellStretch::DoubleWidth, U'_', true},         {CellStretch::DoubleWidth, U'^', true},
        {CellStretch::DoubleHeightTop, U'^', true},     {CellStretch::DoubleHeightTop, U'_', false},
        {CellStretch::DoubleHeightBottom, U'_', true},  {CellStretch::DoubleHeightBottom, U'^', false},
    };
    for (Surface surface : {Surface::FlippedBitmap, Surface::View, Surface::BitmapAsIs})
        for (bool shifted : {false, true})
            for (const Case& c : cases) {
                SCOPED_TRACE(std::string(Name(surface)) + (shifted ? ", glyph runs, " : ", composed, ") +
                             std::to_string(int(c.how)) + " " + char(c.ch));
                const char32_t text[] = {U'x', c.ch};
                const int w = 6 * cw, h = 3 * ch;
                auto b = Draw(surface, w, h, [&](DrawContext& dc) {
                    if (shifted)
                        dc.Translate(1e-7, 0);
                    CellPainter cells(dc, cw, ch, baseline);
                    CellRun run = Run(cw, ch, std::u32string_view(text, 2), kWhite, kBlue);
                    cells.DrawRunStretched(run, c.how);
                }, 0);
                std::unique_ptr<Bitmap> upright = surface == Surface::BitmapAsIs ? Mirrored(*b) : nullptr;
                const Bitmap& pic = upright ? *upright : *b;
                // Two cells become four, one row high, at (cw, ch).
                EXPECT_EQ(InkOf(pic, 0), (Box{cw, ch, 5 * cw, 2 * ch, false}));
                // The second character's cells: white ink or none.
                bool white = false;
                for (int y = ch; y < 2 * ch; ++y)
                    for (int x = 3 * cw; x < 5 * cw; ++x)
                        white = white || drawtest::Red(pic.Pixel(x, y)) > 128;
                EXPECT_EQ(white, c.ink);
                // The first character ('x') is doubled in width: its ink spans
                // more than one cell.
                if (c.how == CellStretch::DoubleWidth) {
                    int left = w, right = 0;
                    for (int y = ch; y < 2 * ch; ++y)
                        for (int x = cw; x < 3 * cw; ++x)
                            if (drawtest::Red(pic.Pixel(x, y)) > 128) {
                                left = std::min(left, x);
                                right = std::max(right, x + 1);
                            }
                    EXPECT_GT(right - left, cw);
                }
            }
}

// Drawing through the context in the middle of a batch lands in the user
// space, and the batch goes on where it was.
TEST_F(Cells, ContextDrawingMixesIn)
{
    for (Surface surface : {Surface::FlippedBitmap, Surface::View, Surface::BitmapAsIs}) {
        SCOPED_TRACE(Name(surface));
        const int w = 40, h = 30;
        auto b = Draw(surface, w, h, [&](DrawContext& dc) {
            CellPainter cells(dc, cw, ch, baseline);
            cells.FillRect(Rect{0, 0, 10, 10}, kBlue);
            dc.SetFillColor(kGreen);
            dc.FillRect(Rect{10, 0, 10, 10});
            dc.SaveState();
            dc.ClipToRect(Rect{20, 0, 5, 10});
            cells.FillRect(Rect{20, 0, 10, 10}, kYellow); // cut by the context's clip
            dc.RestoreState();
            cells.FillRect(Rect{0, 10, 10, 10}, Color{1, 0, 0, 0.5f}); // blends
            cells.ClearRect(Rect{2, 2, 2, 2});
            cells.InvertRect(Rect{10, 5, 10, 5});
            dc.FillRect(Rect{30, 20, 10, 10}); // the context's fill colour still
            // A state saved in the middle of the batch is the context's own:
            // restored, the context blends again.
            cells.FillRect(Rect{0, 20, 10, 10}, kBlue);
            dc.SaveState();
            dc.SetFillColor(kBlue);
            dc.FillRect(Rect{10, 20, 10, 10});
            dc.RestoreState();
            dc.SetFillColor(Color{1, 0, 0, 0.5f});
            dc.FillRect(Rect{0, 20, 20, 5});
        }, 0xFF000000);
        std::unique_ptr<Bitmap> upright = surface == Surface::BitmapAsIs ? Mirrored(*b) : nullptr;
        const Bitmap& pic = upright ? *upright : *b;
        EXPECT_EQ(pic.Pixel(0, 0), 0xFF0000FFu);
        EXPECT_EQ(pic.Pixel(2, 2), 0u);
        EXPECT_EQ(pic.Pixel(10, 0), 0xFF00FF00u);
        EXPECT_EQ(pic.Pixel(10, 5), 0xFFFF00FFu); // green inverted
        EXPECT_EQ(pic.Pixel(20, 0), 0xFFFFFF00u);
        EXPECT_EQ(pic.Pixel(25, 0), 0xFF000000u);
        EXPECT_EQ(pic.Pixel(0, 10), 0xFF800000u);
        EXPECT_EQ(pic.Pixel(30, 20), 0xFF00FF00u);
        // Half red over blue, blended (not put in place), whatever the
        // rounding.
        EXPECT_EQ(Compare1(pic.Pixel(0, 20), 0xFF800080u), "");
        EXPECT_EQ(Compare1(pic.Pixel(10, 20), 0xFF800080u), "");
        EXPECT_EQ(pic.Pixel(10, 25), 0xFF0000FFu);
        EXPECT_EQ(pic.Pixel(29, 29), 0xFF000000u);
    }
}

// A bitmap drawn at its own size is copied pixel for pixel, upright in a
// y-up space and turned over in a flipped one, and only inside the clip.
TEST(BitmapBlit, OneToOneCopiesRowsExactly)
{
    auto src = Bitmap::Create(5, 4);
    for (int row = 0; row < 4; ++row)
        for (int x = 0; x < 5; ++x)
            src->SetPixel(x, row, 0xFF000000u | uint32_t(row * 60) << 16 | uint32_t(x * 50));
    src->SetPixel(4, 3, 0x80000040u); // translucent: drawn over, not copied
    struct Case {
        Surface surface;
        bool clip;
    } cases[] = {
        {Surface::FlippedBitmap, false}, {Surface::View, false}, {Surface::BitmapAsIs, false},
        {Surface::View, true}, {Surface::BitmapAsIs, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(Name(c.surface)) + (c.clip ? ", clipped" : ""));
        // The bitmap at (2, 3) of the top-down space (y-up in a bitmap as is).
        auto b = Draw(c.surface, 10, 10, [&](DrawContext& dc) {
            if (c.clip)
                dc.ClipToRect(Rect{0, 4, 10, 2});
            dc.DrawBitmap(Rect{2, 3, 5, 4}, *src);
        }, kRed);
        for (int row = 0; row < 10; ++row)
            for (int x = 0; x < 10; ++x) {
                // Top-down surfaces show the bitmap upside down (it is upright
                // in y-up space); the bitmap as is shows it upright from row
                // 10 - 3 - 4 = 3.
                const bool asIs = c.surface == Surface::BitmapAsIs;
                const int y = asIs ? 9 - row : row; // in the drawing's space
                uint32_t want = kRed;
                const bool inside = x >= 2 && x < 7 && y >= 3 && y < 7 && (!c.clip || (y >= 4 && y < 6));
                if (inside) {
                    const int srow = asIs ? row - 3 : 3 - (y - 3);
                    want = src->Pixel(x - 2, srow);
                    if (x - 2 == 4 && srow == 3)
                        want = 0xFF7F0040u; // half of red under it
                }
                ASSERT_EQ(b->Pixel(x, row), want) << x << ", row " << row;
            }
    }
}
