// WINDC and MEMORYBITMAP: every drawing operation checked on bitmaps, pixel
// by pixel where the result is exact, against reviewed golden pictures
// where antialiasing decides.
#include "platform/draw/bitmap.h"
#include "platform/draw/context.h"
#include "tests/velmot/core/assertrecorder.h"
#include "tests/velmot/gui/guitest.h"
#include "velmot/core/osys.h"
#include "velmot/gui/windraw.h"
#include "velmot/gui/winfont.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

using guitest::Alpha;
using guitest::Blue;
using guitest::Green;
using guitest::Red;

namespace {

constexpr COLORREF kRed = 0x000000FF;
constexpr COLORREF kGreen = 0x0000FF00;
constexpr COLORREF kBlue = 0x00FF0000;
constexpr COLORREF kWhite = 0x00FFFFFF;
constexpr COLORREF kBlack = 0x00000000;

// A bitmap with a WINDC over it, the way the toolkit draws off screen.
class BitmapDc : public ::testing::Test {
protected:
    void Make(int w, int h)
    {
        dc.reset();
        bitmap = std::make_unique<MEMORYBITMAP>(w, h);
        dc = std::make_unique<WINDC>(*bitmap, bitmap->GetRect(), true);
    }
    void SetUp() override { Make(40, 30); }
    void TearDown() override
    {
        if (dc && dc->hFont) {
            COREFONT* f = dc->hFont;
            dc->DeselectFont(f);
            dc->DestroyFont(f);
        }
        dc.reset();
        bitmap.reset();
    }
    uint32_t Px(int x, int y) const { return bitmap->GetBitmap()->Pixel(x, y); }
    const plat::Bitmap& Pixels() const { return *bitmap->GetBitmap(); }

    std::unique_ptr<MEMORYBITMAP> bitmap;
    std::unique_ptr<WINDC> dc;
};

bool IsRed(uint32_t p) { return Alpha(p) > 200 && Red(p) > 200 && Green(p) < 40 && Blue(p) < 40; }
bool IsBlue(uint32_t p) { return Alpha(p) > 200 && Blue(p) > 200 && Red(p) < 40 && Green(p) < 40; }
bool IsGreen(uint32_t p) { return Alpha(p) > 200 && Green(p) > 200 && Red(p) < 40 && Blue(p) < 40; }

} // namespace

TEST_F(BitmapDc, InitialStateFollowsTheSystemColours)
{
    EXPECT_EQ(dc->BkMode, WINDC_TRANSPARENT);
    EXPECT_EQ(dc->TextAlign, 0u);
    EXPECT_EQ(dc->BkColor, OSYS::GetSysColor(5));
    EXPECT_EQ(dc->TextColor, OSYS::GetSysColor(8));
    EXPECT_FLOAT_EQ(dc->LineWidth, 0.98f);
    EXPECT_TRUE(dc->IsBottomUp);
    EXPECT_EQ(dc->GetHeight(), 30);
    EXPECT_FALSE(dc->AutoFlush);
}

TEST_F(BitmapDc, ThinLinesCoverExactlyOneRowOrColumn)
{
    // Half a line width is added to integer coordinates, so a line of the
    // initial width 0.98 lies on pixel row 10, not across rows 9 and 10.
    dc->MoveTo(2, 10);
    dc->LineTo(20, 10, kRed);
    dc->MoveTo(30, 3);
    dc->LineTo(30, 25, kBlue);
    for (int x = 2; x <= 20; ++x) {
        SCOPED_TRACE(x);
        EXPECT_GE(Alpha(Px(x, 10)), 240);
        EXPECT_LE(Alpha(Px(x, 9)), 8);
        EXPECT_LE(Alpha(Px(x, 11)), 8);
    }
    // The square cap reaches half a width past each end: columns 2 to 20.
    EXPECT_LE(Alpha(Px(1, 10)), 8);
    EXPECT_LE(Alpha(Px(21, 10)), 8);
    guitest::Box vertical = guitest::InkBounds(Pixels(), 25, 0, 40, 30, 127);
    EXPECT_EQ(vertical.left, 30);
    EXPECT_EQ(vertical.right, 31);
    EXPECT_EQ(vertical.top, 3);
    EXPECT_EQ(vertical.bottom, 26);
    // The pen is left at the end point, in device-independent units.
    EXPECT_FLOAT_EQ(dc->CurPos.x, 30.49f);
    EXPECT_FLOAT_EQ(dc->CurPos.y, 25.49f);
}

TEST_F(BitmapDc, LineKeepsThePenAndClipPathsStrokeNothing)
{
    dc->MoveTo(5, 5);
    dc->Line(0, 20, 39, 20, kRed);
    EXPECT_FLOAT_EQ(dc->CurPos.x, 5.49f);
    EXPECT_TRUE(IsRed(Px(20, 20)));

    // Between BeginClipPath and EndClipPath, lines only shape the clip:
    // exact coordinates, nothing stroked.
    dc->BeginClipPath();
    dc->MoveTo(10, 0);
    dc->LineTo(30, 0, kBlue);
    EXPECT_FLOAT_EQ(dc->CurPos.x, 30.0f);
    dc->LineTo(30, 10, kBlue);
    dc->LineTo(10, 10, kBlue);
    dc->EndClipPath();
    EXPECT_EQ(guitest::InkBounds(Pixels(), 0, 0, 40, 19).empty, true);
    RECT all{0, 0, 40, 30};
    dc->FillRect(&all, kGreen);
    dc->ClearClipPath();
    guitest::Box inked = guitest::InkBounds(Pixels(), 0, 0, 40, 19, 127);
    EXPECT_EQ(inked.left, 10);
    EXPECT_EQ(inked.right, 30);
    EXPECT_EQ(inked.top, 0);
    EXPECT_EQ(inked.bottom, 10);
    // The clip is gone after ClearClipPath.
    dc->FillRect(&all, kGreen);
    EXPECT_TRUE(IsGreen(Px(39, 29)));
}

TEST_F(BitmapDc, RectangleOutlinesAndFills)
{
    // DrawRect strokes columns and rows 0 to 9 and fills (1, 1, 9, 9).
    dc->DrawRect(RECT{0, 0, 10, 10}, kRed, kBlue);
    EXPECT_TRUE(IsRed(Px(0, 0)));
    EXPECT_TRUE(IsRed(Px(9, 9)));
    EXPECT_TRUE(IsRed(Px(9, 0)));
    EXPECT_TRUE(IsBlue(Px(1, 1)));
    EXPECT_TRUE(IsBlue(Px(8, 8)));
    EXPECT_EQ(Alpha(Px(10, 5)), 0);
    EXPECT_EQ(Alpha(Px(5, 10)), 0);

    // NiceRCL of the same rectangle reaches column and row 10.
    dc->NiceRCL(RECT{20, 0, 30, 10}, 0, true, kGreen);
    EXPECT_TRUE(IsGreen(Px(30, 10)));
    EXPECT_TRUE(IsGreen(Px(20, 0)));
    EXPECT_TRUE(IsGreen(Px(25, 5)));
    EXPECT_EQ(Alpha(Px(31, 5)), 0);
}

TEST_F(BitmapDc, NiceRclPicksLightAndDarkEdgesByMode)
{
    struct Case {
        int mode;
        int light, dark; // system colour indexes
    };
    const Case cases[] = {{1, 22, 16}, {2, 22, 21}, {-1, 16, 22}, {-2, 21, 22}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        Make(20, 20);
        dc->NiceRCL(RECT{2, 2, 15, 15}, c.mode, false, WINDC_NOCOLOR);
        // A line of width 0.98 covers its pixels to 98 %: compare the
        // colour un-premultiplied, within a few levels.
        auto same = [](uint32_t p, COLORREF v) {
            const int a = std::max<int>(Alpha(p), 1);
            const int rgb[3] = {Red(p) * 255 / a, Green(p) * 255 / a, Blue(p) * 255 / a};
            const int want[3] = {int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF)};
            for (int i = 0; i < 3; ++i)
                if (std::abs(rgb[i] - want[i]) > 6)
                    return false;
            return Alpha(p) > 240;
        };
        EXPECT_TRUE(same(Px(2, 8), OSYS::GetSysColor(c.light)));  // left edge
        EXPECT_TRUE(same(Px(8, 2), OSYS::GetSysColor(c.light)));  // top edge
        EXPECT_TRUE(same(Px(15, 8), OSYS::GetSysColor(c.dark)));  // right edge
        EXPECT_TRUE(same(Px(8, 15), OSYS::GetSysColor(c.dark)));  // bottom edge
        EXPECT_EQ(Alpha(Px(8, 8)), 0);                            // no fill asked for
    }
    testutil::ASSERTRECORDER recorder;
    dc->NiceRCL(RECT{2, 2, 15, 15}, 3, false, kRed);
    auto seen = recorder.Take();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Condition, "mode == 2 || mode == 1 || mode == 0 || mode == -1 || mode == -2");
}

TEST_F(BitmapDc, NoFillColourLeavesTheInsideAlone)
{
    struct Case {
        const char* name;
        std::function<void(WINDC&)> draw;
    };
    const POINT triangle[] = {{4, 4}, {35, 4}, {20, 26}};
    const Case cases[] = {
        {"DrawRect", [](WINDC& d) { d.DrawRect(RECT{4, 4, 36, 26}, kRed, WINDC_NOCOLOR); }},
        {"DrawRoundRect", [](WINDC& d) { d.DrawRoundRect(RECT{4, 4, 36, 26}, 5, kRed, WINDC_NOCOLOR); }},
        {"DrawEllipse", [](WINDC& d) { RECT r{4, 4, 36, 26}; d.DrawEllipse(&r, kRed, WINDC_NOCOLOR); }},
        {"DrawPolygon", [&](WINDC& d) { d.DrawPolygon(triangle, 3, kRed, WINDC_NOCOLOR); }},
        {"FillRect", [](WINDC& d) { RECT r{4, 4, 36, 26}; d.FillRect(&r, WINDC_NOCOLOR); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RECT all{0, 0, 40, 30};
        dc->FillRect(&all, kGreen);
        c.draw(*dc);
        EXPECT_TRUE(IsGreen(Px(20, 12))) << guitest::Picture(Pixels());
    }
    // With a fill, the inside takes it.
    dc->DrawRoundRect(RECT{4, 4, 36, 26}, 5, kRed, kBlue);
    EXPECT_TRUE(IsBlue(Px(20, 12)));
    // The rounded corner keeps what was there.
    EXPECT_TRUE(IsGreen(Px(4, 4)));
    RECT r{4, 4, 36, 26};
    dc->DrawEllipse(&r, kRed, kBlue);
    EXPECT_TRUE(IsBlue(Px(20, 15)));
}

TEST_F(BitmapDc, ShapesWithoutSizeDrawNothing)
{
    RECT thin{5, 5, 6, 20};
    dc->DrawEllipse(&thin, kRed, kBlue);
    POINT one[] = {{5, 5}};
    dc->DrawPolygon(one, 1, kRed, kBlue);
    dc->DrawPolygon(nullptr, 3, kRed, kBlue);
    EXPECT_TRUE(guitest::InkBounds(Pixels()).empty);
}

TEST_F(BitmapDc, TransparencyByteGivesTheAlpha)
{
    // 0x80 transparency with full red: red at about half opacity
    // (alpha 1 - 128/255), stored premultiplied.
    RECT r{0, 0, 10, 10};
    dc->FillRect(&r, 0x800000FF);
    uint32_t p = Px(5, 5);
    EXPECT_NEAR(Alpha(p), 127, 2);
    EXPECT_NEAR(Red(p), Alpha(p), 1);
    EXPECT_EQ(Green(p), 0);
    EXPECT_EQ(Blue(p), 0);
    // -1 where no fill is meant paints fully transparent white: nothing.
    dc->FillRect(&r, 0xFFFFFFFF);
    EXPECT_EQ(Px(5, 5), p);
}

TEST_F(BitmapDc, ClearAndInvert)
{
    RECT all{0, 0, 40, 30};
    dc->FillRect(&all, kWhite);
    RECT black{0, 0, 10, 10};
    dc->FillRect(&black, kBlack);
    dc->InvertRect(RECT{5, 5, 15, 15});
    EXPECT_EQ(Px(7, 7) & 0xFFFFFF, 0xFFFFFFu); // black became white
    EXPECT_EQ(Px(12, 12) & 0xFFFFFF, 0x000000u); // white became black
    EXPECT_EQ(Alpha(Px(12, 12)), 255);
    EXPECT_EQ(Px(20, 20) & 0xFFFFFF, 0xFFFFFFu);
    // The blend mode is back to normal afterwards.
    RECT red{30, 0, 40, 10};
    dc->FillRect(&red, kRed);
    EXPECT_TRUE(IsRed(Px(35, 5)));

    RECT hole{20, 20, 30, 30};
    dc->ClearRect(&hole);
    EXPECT_EQ(Px(25, 25), 0u);
    dc->ClearRect(nullptr);
    EXPECT_TRUE(guitest::InkBounds(Pixels()).empty);
}

TEST_F(BitmapDc, ClipRectangleLimitsDrawingUntilRestored)
{
    RECT clip{10, 10, 20, 15};
    dc->SetClipRect(&clip);
    dc->FillRect(nullptr, kRed);
    guitest::Box inked = guitest::InkBounds(Pixels());
    EXPECT_EQ(inked.left, 10);
    EXPECT_EQ(inked.top, 10);
    EXPECT_EQ(inked.right, 20);
    EXPECT_EQ(inked.bottom, 15);
    dc->SetClipRect(nullptr);
    dc->FillRect(nullptr, kBlue);
    EXPECT_TRUE(IsBlue(Px(0, 0)));
}

TEST_F(BitmapDc, GradientsRunAlongTheirAxis)
{
    Make(40, 40);
    RECT left{0, 0, 20, 40};
    EXPECT_EQ(dc->FillRectGradient(&left, kBlack, kWhite, true), 0);
    RECT right{20, 0, 40, 40};
    EXPECT_EQ(dc->FillRectGradient(&right, kBlack, kWhite, false), 0);
    // Vertical: dark at the top, light at the bottom, rising steadily.
    int previous = -1;
    for (int y = 0; y < 40; y += 4) {
        int level = Red(Px(10, y));
        EXPECT_GT(level, previous) << y;
        previous = level;
    }
    EXPECT_LT(Red(Px(10, 0)), 16);
    EXPECT_GT(Red(Px(10, 39)), 240);
    // Horizontal: dark at the left, light at the right; rows agree.
    EXPECT_LT(Red(Px(20, 5)), 16);
    EXPECT_GT(Red(Px(39, 5)), 240);
    EXPECT_EQ(Px(30, 2), Px(30, 37));

    // Far from the origin too (the axis stays by the rectangle).
    Make(400, 300);
    RECT far{300, 200, 340, 240};
    dc->FillRectGradient(&far, kBlack, kWhite, true);
    EXPECT_LT(Red(Px(320, 201)), 16);
    EXPECT_GT(Red(Px(320, 239)), 240);
    RECT farH{300, 250, 340, 290};
    dc->FillRectGradient(&farH, kBlack, kWhite, false);
    EXPECT_LT(Red(Px(301, 270)), 16);
    EXPECT_GT(Red(Px(339, 270)), 240);

    // A clip rectangle keeps the gradient inside it.
    Make(40, 40);
    RECT clip{0, 0, 40, 10};
    RECT whole{0, 0, 40, 40};
    dc->FillRectGradient(&whole, kBlack, kWhite, true, &clip);
    EXPECT_EQ(guitest::InkBounds(Pixels()).bottom, 10);
}

TEST_F(BitmapDc, ShadowFallsOutsideTheRectangle)
{
    Make(100, 60);
    RECT r{10, 10, 40, 40};
    dc->DrawShadowRect(r, kWhite, 4, 3, 3);
    EXPECT_EQ(Px(25, 25) & 0xFFFFFFFF, 0xFFFFFFFFu);
    // Some shadow lies beside the rectangle, half transparent at most.
    guitest::Box inked = guitest::InkBounds(Pixels());
    EXPECT_TRUE(inked.left < 10 || inked.right > 40 || inked.top < 10 || inked.bottom > 40);
    EXPECT_LT(Alpha(Px(42, 25)), 255);
    // The shadow belongs to that one call.
    RECT other{80, 0, 90, 5};
    dc->FillRect(&other, kRed);
    EXPECT_EQ(Alpha(Px(85, 7)), 0);
}

TEST_F(BitmapDc, IconsAreDrawnUprightInTheirBox)
{
    // A 4 x 4 picture: top row red, the rest blue.
    auto source = plat::Bitmap::Create(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            source->SetPixel(x, y, y == 0 ? 0xFFFF0000 : 0xFF0000FF);
    plat::Image icon = source->MakeImage();
    EXPECT_EQ(dc->DrawIcon(&icon, 5, 6, 8, 8), 1);
    EXPECT_TRUE(IsRed(Px(8, 6)));
    EXPECT_TRUE(IsBlue(Px(8, 13)));
    EXPECT_EQ(Alpha(Px(8, 14)), 0);
    EXPECT_EQ(Alpha(Px(8, 5)), 0);
    EXPECT_EQ(dc->DrawIcon(nullptr, 5, 6, 8, 8), 0);
}

TEST_F(BitmapDc, BitBltMovesPixelsUnmirroredInBothOrientations)
{
    // A bottom-up DC (the bitmap's own orientation) and a top-down one
    // over the same y-up bitmap (as a window's off-screen bitmap is used)
    // must both move the pixels, not mirror them.
    for (bool bottomUp : {true, false}) {
        SCOPED_TRACE(bottomUp ? "bottom-up" : "top-down");
        bitmap = std::make_unique<MEMORYBITMAP>(40, 30);
        dc = std::make_unique<WINDC>(*bitmap, bitmap->GetRect(), bottomUp);
        RECT top{2, 2, 6, 4};
        dc->FillRect(&top, kRed);
        RECT bottom{2, 4, 6, 6};
        dc->FillRect(&bottom, kBlue);
        EXPECT_EQ(dc->BitBlt(POINT{2, 2}, POINT{20, 10}, SIZE{4, 4}), 1);
        // Rows as the DC counts them: top-down.
        auto at = [&](int x, int y) { return Px(x, bottomUp ? y : 29 - y); };
        EXPECT_TRUE(IsRed(at(20, 10)));
        EXPECT_TRUE(IsRed(at(23, 11)));
        EXPECT_TRUE(IsBlue(at(20, 12)));
        EXPECT_TRUE(IsBlue(at(23, 13)));
        EXPECT_EQ(Alpha(at(24, 10)), 0);
        EXPECT_EQ(Alpha(at(20, 14)), 0);
        EXPECT_TRUE(IsRed(at(2, 2))); // the source stays
    }
    // On a context that is not a bitmap's there is nothing to copy from.
    testutil::ASSERTRECORDER recorder;
    WINDC none(nullptr, RECT{0, 0, 10, 10}, true);
    EXPECT_EQ(none.BitBlt(POINT{0, 0}, POINT{1, 1}, SIZE{2, 2}), 0);
    auto seen = recorder.Take();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Condition, "data");
}

TEST_F(BitmapDc, DirtyRectGrowsToTheUnion)
{
    RECT a{5, 5, 10, 10}, b{20, 2, 25, 8};
    dc->FillRect(&a, kRed);
    EXPECT_EQ(dc->DirtyRect, a);
    dc->FillRect(&b, kRed);
    EXPECT_EQ(dc->DirtyRect, (RECT{5, 2, 25, 10}));
    dc->MarkDirty(nullptr);
    EXPECT_EQ(dc->DirtyRect, RECT{});
}

TEST(WinDc, PicturesMatchTheReviewedGoldens)
{
    MEMORYBITMAP bitmap(200, 120);
    WINDC dc(bitmap, bitmap.GetRect(), true);
    dc.FillRect(nullptr, 0x00F0F0F0);
    dc.DrawRect(RECT{4, 4, 40, 30}, kBlack, 0x00C0FFC0);
    dc.DrawRoundRect(RECT{46, 4, 90, 30}, 8, kBlue, 0x00FFE0C0);
    RECT ellipse{96, 4, 140, 30};
    dc.DrawEllipse(&ellipse, kRed, 0x00C0C0FF);
    const POINT star[] = {{170, 4}, {178, 28}, {156, 13}, {184, 13}, {162, 28}};
    dc.DrawPolygon(star, 5, kBlack, 0x0000C0FF);
    for (int mode = -2; mode <= 2; ++mode) {
        int x = 4 + (mode + 2) * 20;
        dc.NiceRCL(RECT{x, 36, x + 16, 52}, mode, true, WINDC_NOCOLOR);
    }
    RECT g1{104, 36, 150, 52}, g2{154, 36, 196, 52};
    dc.FillRectGradient(&g1, kBlue, kWhite, false);
    dc.FillRectGradient(&g2, kRed, 0x0000FFFF, true);
    dc.DrawShadowRect(RECT{8, 60, 40, 80}, kWhite, 3, 2, 2);
    dc.MoveTo(50, 80);
    dc.CurveTo(90, 80, 70, 55, kRed);
    dc.Line(50, 84, 90, 84, kBlack);
    COREFONT* mono = dc.LoadFont("12F.DejaVu Sans Mono");
    COREFONT* sans = dc.LoadFont("9.MS Shell Dlg");
    ASSERT_TRUE(mono && sans);
    dc.SelectFont(mono);
    dc.BkMode = WINDC_OPAQUE;
    dc.BkColor = 0x00000000;
    dc.TextColor = 0x0000FF00;
    dc.StringOutW(100, 58, L"$ ls -l");
    dc.BkMode = WINDC_TRANSPARENT;
    dc.TextColor = kBlack;
    dc.StringOutW(100, 74, L"\u00c4\u00d6\u00dc \u00df\u20ac|");
    dc.DeselectFont(mono);
    dc.SelectFont(sans);
    dc.TextAlign = WINDC_TA_CENTER;
    dc.StringOutW(100, 96, L"Centred Text");
    dc.TextAlign = WINDC_TA_RIGHT;
    dc.StringOutW(196, 96, L"right");
    dc.DeselectFont(sans);
    dc.InvertRect(RECT{4, 96, 60, 116});
    dc.DestroyFont(mono);
    dc.DestroyFont(sans);
    EXPECT_TRUE(guitest::MatchesGolden(*bitmap.GetBitmap(), "windc_shapes"));
}

// ---------------------------------------------------------------------------
// Text

class TextDc : public BitmapDc {
protected:
    void SetUp() override
    {
        Make(200, 60);
        font = dc->LoadFont("15.DejaVu Sans");
        ASSERT_NE(font, nullptr);
        dc->SelectFont(font);
        dc->TextColor = kBlack;
    }
    void TearDown() override
    {
        if (dc->hFont)
            dc->DeselectFont(font);
        dc->DestroyFont(font);
        BitmapDc::TearDown();
    }
    COREFONT* font = nullptr;
};

TEST_F(TextDc, AlignmentPlacesTheTextAndEndAlwaysGetsTheWidth)
{
    const SIZE size = dc->GetTextSizeW(L"HHHH");
    ASSERT_GT(size.cx, 20);
    struct Case {
        uint32_t align;
        int inkLeft, inkRight; // where the ink may lie, around x = 100
    };
    const Case cases[] = {
        {WINDC_TA_LEFT, 100, 100 + size.cx},
        {WINDC_TA_RIGHT, 100 - size.cx, 100},
        {WINDC_TA_CENTER, 100 - size.cx / 2, 100 + size.cx - size.cx / 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.align);
        dc->ClearRect(nullptr);
        dc->TextAlign = c.align;
        POINT end{};
        EXPECT_EQ(dc->StringOutW(100, 10, L"HHHH", -1, &end), 1);
        EXPECT_EQ(end.x, 100 + size.cx);
        EXPECT_EQ(end.y, 10);
        guitest::Box ink = guitest::InkBounds(Pixels(), 127);
        EXPECT_GE(ink.left, c.inkLeft - 1);
        EXPECT_LE(ink.right, c.inkRight + 1);
        EXPECT_GT(ink.right - ink.left, size.cx * 3 / 4);
    }
}

TEST_F(TextDc, VerticalAlignmentUsesTopBaselineOrBottom)
{
    int cell = 0, height = 0, descent = 0;
    dc->GetFontSize(&cell, &height, &descent);
    ASSERT_GT(height, 10);
    struct Case {
        uint32_t align;
        int baseline; // the row the capitals stand on, for y = 30
    };
    const Case cases[] = {
        {WINDC_TA_TOP, 30 + height - descent},
        {WINDC_TA_BASELINE, 30},
        {WINDC_TA_BOTTOM, 30 - descent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.align);
        dc->ClearRect(nullptr);
        dc->TextAlign = c.align;
        dc->StringOutW(20, 30, L"HH");
        guitest::Box ink = guitest::InkBounds(Pixels(), 127);
        EXPECT_NEAR(ink.bottom, c.baseline, 1);
        EXPECT_GT(ink.bottom - ink.top, height / 2);
    }
}

TEST_F(TextDc, OpaqueModeFillsTheTextBoxWhereTheTextIs)
{
    dc->BkMode = WINDC_OPAQUE;
    dc->BkColor = kBlue;
    dc->TextColor = kWhite;
    const SIZE size = dc->GetTextSizeW(L"Box");
    // Centred text: the background goes under the text, not beside it.
    dc->TextAlign = WINDC_TA_CENTER;
    dc->StringOutW(100, 5, L"Box");
    const RECT box{100 - size.cx / 2, 5, 100 - size.cx / 2 + size.cx, 5 + size.cy};
    EXPECT_EQ(dc->DirtyRect, box);
    EXPECT_TRUE(IsBlue(Px(box.left, box.top)));
    EXPECT_TRUE(IsBlue(Px(box.left, box.bottom - 1)));
    EXPECT_TRUE(IsBlue(Px(box.right - 1, box.top)));
    EXPECT_EQ(Alpha(Px(box.left - 1, box.top)), 0);
    EXPECT_EQ(Alpha(Px(box.left, box.top - 1)), 0);
    EXPECT_EQ(Alpha(Px(box.left, box.bottom)), 0);
    // The glyphs lie inside, in the text colour.
    guitest::Box white = guitest::InkBounds(Pixels(), box.left, box.top, box.right, box.bottom);
    int whites = 0;
    for (int y = box.top; y < box.bottom; ++y)
        for (int x = box.left; x < box.right; ++x)
            whites += Red(Px(x, y)) > 200;
    EXPECT_FALSE(white.empty);
    EXPECT_GT(whites, 20);
}

TEST_F(TextDc, MeasuresTheWholeTextHoweverLong)
{
    // Longer texts were once cut at 1024 characters when measured.
    const SIZE one = dc->GetTextSizeW(L"x");
    std::wstring text(2000, L'x');
    const SIZE all = dc->GetTextSizeW(text.c_str());
    EXPECT_NEAR(all.cx, one.cx * 2000, 2000);
    EXPECT_GT(all.cx, dc->GetTextSizeW(text.c_str(), 1024).cx * 19 / 10);
    // The byte form, the length and the missing text.
    EXPECT_EQ(dc->GetTextSize("xxxx").cx, dc->GetTextSizeW(L"xxxx").cx);
    EXPECT_EQ(dc->GetTextSizeW(L"xxxxxx", 2).cx, dc->GetTextSizeW(L"xx").cx);
    EXPECT_EQ(dc->GetTextSizeW(nullptr).cx, dc->GetTextSizeW(L" ").cx);
    EXPECT_EQ(all.cy, dc->GetFontSize().cy);
}

TEST_F(TextDc, CharactersOutsideTheBasicPlaneAreDrawn)
{
    // U+1F600 cut to 16 bits would be U+F600, a character no font here has.
    dc->StringOutW(10, 10, L"\U0001F600");
    guitest::Box full = guitest::InkBounds(Pixels(), 127);
    ASSERT_FALSE(full.empty);
    const SIZE size = dc->GetTextSizeW(L"\U0001F600");
    EXPECT_GT(size.cx, 5);
    EXPECT_NE(size.cx, dc->GetTextSizeW(L"\uF600").cx);

    // The UTF-16 form takes the pair as one character.
    dc->ClearRect(nullptr);
    const unsigned short pair[] = {0xD83D, 0xDE00, 0};
    dc->StringOutU(10, 10, pair, -1);
    guitest::Box fromPair = guitest::InkBounds(Pixels(), 127);
    EXPECT_EQ(fromPair.left, full.left);
    EXPECT_EQ(fromPair.right, full.right);
}

TEST_F(TextDc, ByteTextUsesTheFontsCodePage)
{
    dc->StringOut(10, 10, "\x80 \xE4");
    plat::Image bytes = Pixels().MakeImage();
    dc->ClearRect(nullptr);
    dc->StringOutW(10, 10, L"\u20AC \u00E4");
    plat::Image wide = Pixels().MakeImage();
    ASSERT_FALSE(guitest::InkBounds(Pixels()).empty);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 200; ++x)
            ASSERT_EQ(bytes.Pixel(x, y), wide.Pixel(x, y)) << x << "," << y;
}

TEST_F(TextDc, TextNeedsATextAndAFont)
{
    EXPECT_EQ(dc->StringOutW(0, 0, nullptr), 0);
    EXPECT_EQ(dc->StringOutU(0, 0, nullptr, 3), 0);
    EXPECT_EQ(dc->StringOut(0, 0, nullptr), 0);
    dc->DeselectFont(font);
    testutil::ASSERTRECORDER recorder;
    EXPECT_EQ(dc->StringOutW(0, 0, L"x"), 0);
    auto seen = recorder.Take();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].Condition, "this->hFont");
    EXPECT_TRUE(guitest::InkBounds(Pixels()).empty);
}

TEST_F(TextDc, OperationsWarnWhenCalledOffTheMainThread)
{
    ::testing::internal::CaptureStderr();
    std::thread other([&] {
        RECT r{0, 0, 5, 5};
        dc->FillRect(&r, kRed);
    });
    other.join();
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("THREADCHECK failed: WINDC::FillRect"), std::string::npos) << err;
}

// ---------------------------------------------------------------------------
// MEMORYBITMAP

TEST(MemoryBitmap, ZeroSizeBecomesOnePixel)
{
    testutil::ASSERTRECORDER recorder;
    MEMORYBITMAP empty(0, 0);
    EXPECT_EQ(empty.Cx, 1);
    EXPECT_EQ(empty.Cy, 1);
    ASSERT_NE(empty.GetBitmap(), nullptr);
    EXPECT_EQ(empty.GetBitmap()->Width(), 1);
    MEMORYBITMAP half(5, 0);
    EXPECT_EQ(half.Cx, 1); // both sides above 0, or Init(0, 0)
    EXPECT_EQ(recorder.Count(), 0u);
}

TEST(MemoryBitmap, ResizeKeepsPixelsOnlyWhenTheSizeStays)
{
    MEMORYBITMAP bitmap(20, 10);
    {
        WINDC dc(bitmap, bitmap.GetRect(), true);
        dc.FillRect(nullptr, kRed);
    }
    EXPECT_EQ(bitmap.Resize(20, 10), 0);
    EXPECT_TRUE(IsRed(bitmap.GetBitmap()->Pixel(5, 5)));
    EXPECT_EQ(bitmap.Resize(30, 12), 1);
    EXPECT_EQ(bitmap.GetBitmap()->Width(), 30);
    EXPECT_EQ(bitmap.GetBitmap()->Pixel(5, 5), 0u);
    EXPECT_EQ(bitmap.GetSize(), (SIZE{30, 12}));
    EXPECT_EQ(bitmap.GetRect(), (RECT{0, 0, 30, 12}));
}

TEST(MemoryBitmap, ScaleGivesDevicePixelsForLogicalUnits)
{
    MEMORYBITMAP bitmap(20, 10);
    bitmap.SetAffineTransform(2, 2);
    ASSERT_NE(bitmap.GetBitmap(), nullptr);
    EXPECT_EQ(bitmap.GetBitmap()->Width(), 40);
    EXPECT_EQ(bitmap.GetBitmap()->Height(), 20);
    EXPECT_EQ(bitmap.GetSize(), (SIZE{20, 10}));
    WINDC dc(bitmap, bitmap.GetRect(), true);
    RECT r{0, 0, 5, 5};
    dc.FillRect(&r, kRed);
    guitest::Box inked = guitest::InkBounds(*bitmap.GetBitmap());
    EXPECT_EQ(inked.right, 10);
    EXPECT_EQ(inked.bottom, 10);
    EXPECT_EQ(inked.top, 0);
}

TEST(MemoryBitmap, DrawAndDrawStretchedCopyUpright)
{
    MEMORYBITMAP source(10, 10);
    {
        WINDC dc(source, source.GetRect(), true);
        RECT top{0, 0, 10, 2};
        dc.FillRect(nullptr, kBlue);
        dc.FillRect(&top, kRed);
    }
    MEMORYBITMAP target(40, 40);
    plat::DrawContext* tc = target;
    source.Draw(5, 5, tc);
    // The target is y-up too: (5, 5) is the bottom-left corner of the copy
    // and its top rows stay on top.
    const plat::Bitmap& t = *target.GetBitmap();
    EXPECT_TRUE(IsRed(t.Pixel(8, 40 - 15)));
    EXPECT_TRUE(IsBlue(t.Pixel(8, 40 - 6)));
    EXPECT_EQ(t.Pixel(8, 40 - 16), 0u);

    // The top half of the source (rows 0 to 4 from the top are y-up 5 to
    // 9) stretched twice into a 20 x 10 box.
    MEMORYBITMAP stretched(40, 40);
    source.DrawStretched(0, 0, 20, 10, stretched, 0, 5, 10, 5);
    const plat::Bitmap& s = *stretched.GetBitmap();
    guitest::Box inked = guitest::InkBounds(s);
    EXPECT_EQ(inked.left, 0);
    EXPECT_EQ(inked.right, 20);
    EXPECT_EQ(inked.top, 30);
    EXPECT_EQ(inked.bottom, 40);
    EXPECT_TRUE(IsRed(s.Pixel(10, 30)));
    EXPECT_TRUE(IsRed(s.Pixel(10, 32)));
    EXPECT_TRUE(IsBlue(s.Pixel(10, 35)));
    EXPECT_TRUE(IsBlue(s.Pixel(10, 39)));
}

TEST(MemoryBitmap, TooLargeLeavesNoContextAndNothingCrashes)
{
    testutil::ASSERTRECORDER recorder;
    MEMORYBITMAP huge(40000, 10);
    EXPECT_EQ(static_cast<plat::DrawContext*>(huge), nullptr);
    auto seen = recorder.Take();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Condition, "this->fBitmapContext");
    WINDC dc(huge, huge.GetRect(), true);
    EXPECT_EQ(dc.FillRect(nullptr, kRed), 0);
    EXPECT_EQ(dc.LineTo(5, 5, kRed), 0);
    huge.Draw(0, 0, nullptr);
}

// ---------------------------------------------------------------------------
// Windows

class WindowDc : public ::testing::Test {
protected:
    void SetUp() override
    {
        pane = std::make_unique<guitest::PANEWINDOW>(120, 60);
        ASSERT_NE(pane->View(), nullptr);
    }
    std::unique_ptr<guitest::PANEWINDOW> pane;
};

// The ink of a big "T" seen from the top: the bar is wide, the stem narrow.
bool LooksUpright(const plat::Bitmap& b, guitest::Box ink)
{
    auto width = [&](int row) {
        int n = 0;
        for (int x = ink.left; x < ink.right; ++x)
            n += Alpha(b.Pixel(x, row)) > 127;
        return n;
    };
    return width(ink.top + 1) > 2 * width(ink.bottom - 2);
}

TEST_F(WindowDc, DrawingOutsideAPaintGoesThroughTheWindowsBitmap)
{
    {
        WINDC dc(*pane);
        EXPECT_TRUE(dc.AutoFlush);
        EXPECT_FALSE(dc.IsBottomUp);
        EXPECT_EQ(dc.Rect, (RECT{0, 0, 120, 60}));
        RECT r{2, 3, 12, 8};
        const int before = pane->Invalidations;
        dc.FillRect(&r, kRed);
        // Each operation invalidates what it drew.
        EXPECT_EQ(pane->Invalidations, before + 1);
        EXPECT_EQ(pane->LastInvalid, r);
        EXPECT_EQ(dc.DirtyRect, RECT{});
        COREFONT* font = dc.LoadFont("40B.DejaVu Sans");
        dc.SelectFont(font);
        dc.TextColor = kBlue;
        dc.StringOutW(60, 5, L"T");
        dc.DeselectFont(font);
        dc.DestroyFont(font);
    }
    ASSERT_NE(pane->Bitmap(), nullptr);
    auto shown = pane->Grab();
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(IsRed(shown->Pixel(2, 3)));
    EXPECT_TRUE(IsRed(shown->Pixel(11, 7)));
    EXPECT_EQ(Alpha(shown->Pixel(2, 8)), 0);
    EXPECT_EQ(Alpha(shown->Pixel(2, 2)), 0);
    guitest::Box ink = guitest::InkBounds(*shown, 50, 0, 120, 60, 127);
    ASSERT_FALSE(ink.empty);
    EXPECT_GE(ink.top, 5);
    EXPECT_TRUE(LooksUpright(*shown, ink)) << guitest::Picture(*shown);
}

TEST_F(WindowDc, PaintPassDrawsIntoTheViewUpright)
{
    pane->OnPaint = [&](PAINTSTRUCT& ps) {
        WINDC dc(ps, *pane);
        EXPECT_FALSE(dc.AutoFlush);
        EXPECT_EQ(dc.pWindowAutoRelease, nullptr);
        dc.DrawRect(RECT{2, 2, 30, 20}, kBlack, kRed);
        COREFONT* font = dc.LoadFont("40B.DejaVu Sans");
        dc.SelectFont(font);
        dc.TextColor = kBlue;
        dc.StringOutW(60, 5, L"T");
        dc.DeselectFont(font);
        dc.DestroyFont(font);
        const POINT arrow[] = {{40, 40}, {50, 50}, {40, 58}};
        dc.DrawPolygon(arrow, 3, kBlack, kGreen);
    };
    auto shown = pane->Grab();
    ASSERT_NE(shown, nullptr);
    EXPECT_GE(pane->Paints, 1);
    EXPECT_TRUE(IsRed(shown->Pixel(10, 10)));
    guitest::Box ink = guitest::InkBounds(*shown, 55, 0, 120, 60, 127);
    ASSERT_FALSE(ink.empty);
    EXPECT_TRUE(LooksUpright(*shown, ink)) << guitest::Picture(*shown);
    EXPECT_TRUE(guitest::MatchesGolden(*shown, "windc_window_paint"));
}

TEST_F(WindowDc, BitmapAndPaintPassGiveTheSamePicture)
{
    auto draw = [](WINDC& dc) {
        dc.FillRect(nullptr, kWhite);
        dc.DrawRoundRect(RECT{4, 4, 60, 40}, 6, kBlack, kBlue);
        COREFONT* font = dc.LoadFont("14F.DejaVu Sans Mono");
        dc.SelectFont(font);
        dc.TextColor = kRed;
        dc.StringOutW(64, 10, L"abc");
        dc.DeselectFont(font);
        dc.DestroyFont(font);
    };
    {
        WINDC dc(*pane);
        draw(dc);
    }
    auto viaBitmap = pane->Grab();
    guitest::PANEWINDOW direct(120, 60);
    direct.OnPaint = [&](PAINTSTRUCT& ps) {
        WINDC dc(ps, direct);
        draw(dc);
    };
    auto viaPaint = direct.Grab();
    ASSERT_TRUE(viaBitmap && viaPaint);
    int differ = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 120; ++x)
            differ += std::abs(int(Red(viaBitmap->Pixel(x, y))) - int(Red(viaPaint->Pixel(x, y)))) > 40;
    EXPECT_LT(differ, 12) << guitest::Picture(*viaBitmap) << "\n" << guitest::Picture(*viaPaint);
}

TEST_F(WindowDc, ReleaseHandsTheContextBackAndInvalidates)
{
    testutil::ASSERTRECORDER recorder;
    COREFONT* font = nullptr;
    {
        WINDC dc(*pane);
        font = dc.LoadFont("12.DejaVu Sans");
        dc.SelectFont(font);
        const int before = pane->Invalidations;
        dc.Release();
        // A font still selected is reported; the window gets its context
        // back and repaints.
        EXPECT_EQ(pane->Invalidations, before + 1);
        EXPECT_EQ(dc.pWindowAutoRelease, nullptr);
        EXPECT_EQ(dc.hFont, nullptr);
    }
    auto seen = recorder.Take();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Condition, "!this->hFont");
    delete font;
}

// ---------------------------------------------------------------------------
// Cell painting

namespace {

// The screen font's cell and baseline, as a terminal takes them.
struct ScreenFont {
    COREFONT* normal = nullptr;
    COREFONT* bold = nullptr;
    SIZE cell{};
    int baseline = 0;

    explicit ScreenFont(WINDC& dc)
    {
        normal = dc.LoadFont("15F.DejaVu Sans Mono");
        bold = dc.LoadFont("15BF.DejaVu Sans Mono");
        dc.SelectFont(normal);
        int w = 0, h = 0, descent = 0;
        dc.GetFontSize(&w, &h, &descent);
        dc.DeselectFont(normal);
        cell = SIZE{w, h};
        baseline = h - descent;
    }
    ~ScreenFont()
    {
        delete normal;
        delete bold;
    }
};

struct Span {
    int x, y;
    std::wstring text;
    bool bold;
    COLORREF fore, back;
};

const Span kSpans[] = {
    {0, 0, L"ls -l /tmp", false, kBlack, kWhite},
    {10, 0, L" drwx", true, kBlue, 0x00C0C0C0},
    {2, 1, L"gjpq_|MW", false, kWhite, kBlue},
    {12, 1, L"\u00e9t\u00e9 \u00df", true, kRed, kBlack},
};

// Every pixel inside the spans' boxes equal; outside them `b` is untouched
// (fully transparent) when `clean` is set.
template <class A, class B>
::testing::AssertionResult SameInSpans(const A& a, const B& b, SIZE cell, bool clean)
{
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return ::testing::AssertionFailure() << "sizes differ";
    for (int row = 0; row < a.Height(); ++row)
        for (int x = 0; x < a.Width(); ++x) {
            bool inside = false;
            for (const Span& s : kSpans)
                inside = inside || (row / cell.cy == s.y && x / cell.cx >= s.x && x / cell.cx < s.x + int(s.text.size()));
            if (inside ? a.Pixel(x, row) != b.Pixel(x, row) : clean && b.Pixel(x, row) != 0)
                return ::testing::AssertionFailure() << "pixel (" << x << ", row " << row << "): " << std::hex
                                                     << a.Pixel(x, row) << " against " << b.Pixel(x, row);
        }
    return ::testing::AssertionSuccess();
}

void ViaStringOut(WINDC& dc, ScreenFont& f)
{
    dc.BkMode = WINDC_OPAQUE;
    for (const Span& s : kSpans) {
        COREFONT* font = s.bold ? f.bold : f.normal;
        dc.SelectFont(font);
        dc.TextColor = s.fore;
        dc.BkColor = s.back;
        dc.StringOutW(s.x * f.cell.cx, s.y * f.cell.cy, s.text.c_str(), int(s.text.size()));
        dc.DeselectFont(font);
    }
}

void ViaCells(WINDC& dc, ScreenFont& f)
{
    const bool bottomUp = dc.IsBottomUp;
    {
        CELLPAINTER cells(dc, f.cell, f.baseline);
        EXPECT_FALSE(dc.IsBottomUp);
        for (const Span& s : kSpans)
            EXPECT_EQ(cells.Run(s.x * f.cell.cx, s.y * f.cell.cy, s.text.c_str(), int(s.text.size()),
                                s.bold ? f.bold : f.normal, s.fore, s.back),
                      1);
    }
    EXPECT_EQ(dc.IsBottomUp, bottomUp);
}

} // namespace

// Runs drawn by CELLPAINTER look exactly like the same text drawn by
// StringOutW with an opaque background (but for glyphs that reach out of
// their cells: a run cuts them), on a bitmap's DC and in a paint pass; on a
// window's DC outside a paint (its bitmap lent top-down, so upside down in
// memory) they come out as in the paint pass.
TEST(CellPainter, RunsLookLikeOpaqueStringOut)
{
    using Way = void (*)(WINDC&, ScreenFont&);
    std::unique_ptr<MEMORYBITMAP> onBitmap[2];
    std::unique_ptr<plat::Bitmap> onWindow[2], inPaint[2];
    SIZE cell{};
    int i = 0;
    for (Way way : {&ViaStringOut, &ViaCells}) {
        onBitmap[i] = std::make_unique<MEMORYBITMAP>(200, 40);
        {
            WINDC dc(*onBitmap[i], onBitmap[i]->GetRect(), true);
            ScreenFont f(dc);
            cell = f.cell;
            way(dc, f);
        }
        guitest::PANEWINDOW window(200, 40);
        {
            WINDC dc(window);
            ScreenFont f(dc);
            way(dc, f);
        }
        onWindow[i] = window.Grab();
        guitest::PANEWINDOW direct(200, 40);
        direct.OnPaint = [&](PAINTSTRUCT& ps) {
            WINDC dc(ps, direct);
            ScreenFont f(dc);
            way(dc, f);
        };
        inPaint[i] = direct.Grab();
        ++i;
    }
    ASSERT_TRUE(onWindow[1] && inPaint[0] && inPaint[1]);
    ASSERT_GT(cell.cy, 0);
    EXPECT_TRUE(SameInSpans(*onBitmap[0]->GetBitmap(), *onBitmap[1]->GetBitmap(), cell, true));
    EXPECT_TRUE(SameInSpans(*inPaint[0], *inPaint[1], cell, true));
    EXPECT_TRUE(SameInSpans(*inPaint[1], *onWindow[1], cell, true));
    EXPECT_EQ(inPaint[1]->Pixel(0, 0), 0xFFFFFFFFu);
}

// WINDC's own drawing inside a CELLPAINTER's life (the flip applied once
// for the batch) lands exactly where it lands outside one.
TEST(CellPainter, WindcDrawingInsideTheBatchLandsAsOutside)
{
    auto draw = [](WINDC& dc) {
        RECT r{3, 4, 20, 12};
        dc.FillRect(&r, kRed);
        const POINT tri[] = {{30, 5}, {45, 25}, {25, 25}};
        dc.DrawPolygon(tri, 3, kBlack, kGreen);
        RECT clip{50, 0, 60, 30}, big{40, 2, 80, 8};
        dc.SetClipRect(&clip);
        dc.FillRect(&big, kBlue);
        dc.SetClipRect(nullptr);
        COREFONT* f = dc.LoadFont("20B.DejaVu Sans");
        dc.SelectFont(f);
        dc.TextColor = kBlack;
        dc.StringOutW(62, 6, L"Tg");
        dc.DeselectFont(f);
        dc.DestroyFont(f);
        dc.Line(2, 28, 90, 28, kBlue);
    };
    const RECT corner{90, 0, 100, 10};
    for (bool bottomUp : {true, false}) {
        SCOPED_TRACE(bottomUp ? "bottom-up DC" : "top-down DC");
        MEMORYBITMAP plain(100, 32), batched(100, 32);
        {
            WINDC dc(plain, plain.GetRect(), bottomUp);
            draw(dc);
            dc.FillRect(&corner, kRed);
        }
        {
            WINDC dc(batched, batched.GetRect(), bottomUp);
            CELLPAINTER cells(dc, SIZE{8, 16}, 12);
            draw(dc);
            cells.FillRect(corner, kRed);
        }
        int ink = 0;
        for (int row = 0; row < 32; ++row)
            for (int x = 0; x < 100; ++x) {
                ASSERT_EQ(plain.GetBitmap()->Pixel(x, row), batched.GetBitmap()->Pixel(x, row)) << x << ", " << row;
                ink += Alpha(plain.GetBitmap()->Pixel(x, row)) > 0;
            }
        EXPECT_GT(ink, 400);
    }
}

// A paint pass knows the rectangles of the area to paint.
TEST(CellPainter, PaintPassCarriesTheUpdateRegion)
{
    guitest::PANEWINDOW pane(120, 60);
    RECT bounds{};
    pane.OnPaint = [&](PAINTSTRUCT& ps) {
        bounds = ps.rcPaint;
        WINDC dc(ps, pane);
        dc.FillRect(nullptr, kWhite);
    };
    ASSERT_TRUE(guitest::RunUntil([&] { return pane.Paints > 0; }));
    const int before = pane.Paints;
    const RECT a{2, 3, 20, 10}, b{50, 30, 70, 50};
    pane.Invalidate(&a);
    pane.Invalidate(&b);
    ASSERT_TRUE(guitest::RunUntil([&] { return pane.Paints > before; }));
    EXPECT_EQ(pane.LastRegion, (std::vector<RECT>{a, b}));
    EXPECT_EQ(bounds, (RECT{2, 3, 70, 50}));
}

// A terminal screen painted the way the screen paints it: runs of one
// attribute each, a filled and an inverted cursor, an underline, wide
// characters, box lines drawn as rectangles, and double-size rows.
TEST(CellPainter, ScreenMatchesTheReviewedGolden)
{
    MEMORYBITMAP bitmap(300, 160);
    {
        WINDC dc(bitmap, bitmap.GetRect(), true);
        ScreenFont f(dc);
        const int cw = f.cell.cx, ch = f.cell.cy;
        dc.FillRect(nullptr, kBlack);
        CELLPAINTER cells(dc, f.cell, f.baseline);
        auto run = [&](int col, int row, const wchar_t* text, COREFONT* font, COLORREF fore, COLORREF back,
                       uint32_t flags = 0, RECT const* cursor = nullptr, COLORREF cursorColour = 0) {
            return cells.Run(col * cw, row * ch, text, int(wcslen(text)), font, fore, back, flags, cursor,
                             cursorColour);
        };
        RECT block{14 * cw, 0, 15 * cw, ch};
        run(0, 0, L"user@host:~$ ls", f.normal, 0x0000FF00, kBlack, 0, &block, 0x0000FFFF);
        run(0, 1, L"drwxr-xr-x", f.bold, 0x00FF8040, kBlack);
        run(11, 1, L"notes.txt", f.normal, kWhite, kBlack, CELLPAINTER::UNDERLINE);
        run(0, 2, L" INVERSE ", f.bold, kBlack, 0x00E0E0E0);
        run(10, 2, L"\u00e9\u00df", f.normal, kRed, kBlack, CELLPAINTER::WIDE);
        cells.InvertRect(RECT{11 * cw, 2 * ch + ch - 2, 12 * cw, 3 * ch});
        // A box: lines one pixel wide through the middle of their cells.
        const int top = 3 * ch + ch / 2, left = cw / 2, right = 12 * cw + cw / 2;
        cells.FillRect(RECT{left, top, right + 1, top + 1}, 0x00C0C0C0);
        cells.FillRect(RECT{left, top, left + 1, 5 * ch}, 0x00C0C0C0);
        cells.FillRect(RECT{right, top, right + 1, 5 * ch}, 0x00C0C0C0);
        run(2, 4, L"boxed", f.normal, kWhite, 0x00400000);
        cells.RunStretched(0, 5 * ch, L"Wide", 4, f.bold, 0x0000FFFF, 0x00800000, 0, CELLPAINTER::DOUBLEWIDTH);
        cells.RunStretched(0, 6 * ch, L"Tall", 4, f.normal, kWhite, 0x00008000, 0, CELLPAINTER::DOUBLEHEIGHTTOP);
        cells.RunStretched(0, 7 * ch, L"Tall", 4, f.normal, kWhite, 0x00008000, 0, CELLPAINTER::DOUBLEHEIGHTBOTTOM);
    }
    EXPECT_TRUE(guitest::MatchesGolden(*bitmap.GetBitmap(), "cells_screen"));
}
