// Drawing contexts on bitmaps and views, checked pixel by pixel where the
// result is exact.
#include <gtest/gtest.h>

#include "platform/draw/bitmap.h"
#include "platform/draw/context.h"
#include "platform/draw/font.h"
#include "platform/draw/viewpaint.h"
#include "tests/platform/draw/drawtest.h"
#include "tests/support/testutil.h"

#include <memory>
#include <set>

using namespace plat;
using drawtest::Box;

namespace {

constexpr uint32_t kRed = 0xFFFF0000;   // premultiplied ARGB of the pixels
constexpr uint32_t kBlue = 0xFF0000FF;
constexpr uint32_t kBlack = 0xFF000000;
const Color kRedColor = ColorFromValue(0x000000FF);
const Color kBlueColor = ColorFromValue(0x00FF0000);

// A box of rows-from-the-top for a rectangle given y-up on a bitmap of the
// given height.
Box FromYUp(int height, int x, int y, int w, int h) { return Box{x, height - (y + h), x + w, height - y, false}; }

// Every pixel inside the box has the value, every pixel outside has
// `outside`.
::testing::AssertionResult OnlyInside(const Bitmap& b, const Box& box, uint32_t inside, uint32_t outside = 0)
{
    for (int row = 0; row < b.Height(); ++row)
        for (int x = 0; x < b.Width(); ++x) {
            bool in = x >= box.left && x < box.right && row >= box.top && row < box.bottom;
            uint32_t want = in ? inside : outside;
            if (b.Pixel(x, row) != want)
                return ::testing::AssertionFailure() << "pixel (" << x << ", row " << row << ") is " << std::hex
                                                     << b.Pixel(x, row) << ", want " << want;
        }
    return ::testing::AssertionSuccess();
}

std::unique_ptr<Bitmap> MakeBitmap(int w, int h)
{
    auto b = Bitmap::Create(w, h);
    EXPECT_TRUE(b);
    return b;
}

} // namespace

TEST(Bitmap, CreateRefusesImpossibleSizes)
{
    EXPECT_FALSE(Bitmap::Create(0, 5));
    EXPECT_FALSE(Bitmap::Create(5, -1));
    EXPECT_FALSE(Bitmap::Create(40000, 2));
    auto b = MakeBitmap(3, 2);
    EXPECT_EQ(b->Width(), 3);
    EXPECT_EQ(b->Height(), 2);
    EXPECT_GE(b->BytesPerRow(), 12u);
    EXPECT_TRUE(OnlyInside(*b, Box{}, 0)); // starts fully transparent
}

TEST(DrawContextBitmap, FillRectIsPlacedFromTheBottomLeftCorner)
{
    auto b = MakeBitmap(20, 10);
    DrawContext& dc = b->Context();
    EXPECT_TRUE(dc.IsBottomUp());
    EXPECT_EQ(dc.TargetBitmap(), b.get());
    dc.SetFillColor(kRedColor);
    dc.FillRect({2, 1, 3, 2});
    EXPECT_TRUE(OnlyInside(*b, FromYUp(10, 2, 1, 3, 2), kRed));
    EXPECT_EQ(b->Pixel(2, 8), kRed); // row 8 of 10 is y 1 in y-up terms
}

TEST(DrawContextBitmap, ColourValuesKeepRedInTheLowByteAndTransparencyOnTop)
{
    struct Case {
        uint32_t value;
        uint32_t pixel; // premultiplied 0xAARRGGBB
    };
    const Case cases[] = {
        {0x000000FF, 0xFFFF0000}, {0x0000FF00, 0xFF00FF00}, {0x00FF0000, 0xFF0000FF},
        {0x00123456, 0xFF563412}, {0xFF0000FF, 0x00000000}, // fully transparent draws nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.value);
        auto b = MakeBitmap(2, 2);
        b->Context().SetFillColor(ColorFromValue(c.value));
        b->Context().FillRect({0, 0, 2, 2});
        EXPECT_EQ(b->Pixel(1, 1), c.pixel);
    }
    // Transparency 0x80: alpha 1 - 128/255, red premultiplied by it.
    auto b = MakeBitmap(1, 1);
    b->Context().SetFillColor(ColorFromValue(0x800000FF));
    b->Context().FillRect({0, 0, 1, 1});
    uint32_t p = b->Pixel(0, 0);
    EXPECT_TRUE(drawtest::Alpha(p) == 127 || drawtest::Alpha(p) == 128) << std::hex << p;
    EXPECT_EQ(drawtest::Red(p), drawtest::Alpha(p));
    EXPECT_EQ(p & 0xFFFF, 0u);
}

TEST(DrawContextBitmap, TransformsAndSavedStates)
{
    auto b = MakeBitmap(20, 10);
    DrawContext& dc = b->Context();
    dc.SetFillColor(kRedColor);
    dc.SaveState();
    dc.Translate(5, 2);
    dc.Scale(2, 1);
    EXPECT_EQ(dc.Transform(), (AffineTransform{2, 0, 0, 1, 5, 2}));
    EXPECT_DOUBLE_EQ(dc.DeviceScale().width, 2);
    dc.SetFillColor(kBlueColor);
    dc.ClipToRect({0, 0, 1, 1});
    dc.FillRect({0, 0, 3, 3}); // clipped to 1x1 user = 2x1 pixels at (5, 2)
    dc.RestoreState();
    dc.RestoreState(); // unmatched: ignored
    EXPECT_TRUE(dc.Transform().IsIdentity());
    EXPECT_TRUE(OnlyInside(*b, FromYUp(10, 5, 2, 2, 1), kBlue));
    // The fill colour, transform and clip are back.
    dc.FillRect({0, 0, 1, 1});
    EXPECT_EQ(b->Pixel(0, 9), kRed);

    // A flip gives callers top-down coordinates.
    auto t = MakeBitmap(6, 4);
    t->Context().ConcatTransform({1, 0, 0, -1, 0, 4});
    t->Context().SetFillColor(kRedColor);
    t->Context().FillRect({0, 0, 6, 1});
    EXPECT_TRUE(OnlyInside(*t, Box{0, 0, 6, 1, false}, kRed));
}

TEST(DrawContextBitmap, PathsFillStrokeAndAreConsumed)
{
    auto b = MakeBitmap(12, 8);
    DrawContext& dc = b->Context();
    dc.SetFillColor(kRedColor);
    dc.MoveTo(1, 1);
    dc.LineTo(5, 1);
    dc.LineTo(5, 4);
    dc.LineTo(1, 4);
    dc.ClosePath();
    EXPECT_FALSE(dc.PathIsEmpty());
    dc.FillPath();
    EXPECT_TRUE(dc.PathIsEmpty());
    dc.SetFillColor(kBlueColor);
    dc.FillPath(); // nothing left to fill
    EXPECT_TRUE(OnlyInside(*b, FromYUp(8, 1, 1, 4, 3), kRed));

    // A line or curve needs a current point.
    dc.BeginPath();
    dc.LineTo(5, 5);
    dc.CurveTo(1, 1, 2, 2, 3, 3);
    EXPECT_TRUE(dc.PathIsEmpty());

    // A one-unit line on a half-unit centre covers exactly one row.
    auto s = MakeBitmap(12, 6);
    DrawContext& sc = s->Context();
    sc.SetStrokeColor(kRedColor);
    sc.SetLineWidth(1);
    sc.SetLineCap(LineCap::Butt);
    sc.MoveTo(0, 2.5);
    sc.LineTo(10, 2.5);
    sc.StrokePath();
    EXPECT_TRUE(OnlyInside(*s, FromYUp(6, 0, 2, 10, 1), kRed));
}

TEST(DrawContextBitmap, PathPointsStayWhereTheyWerePut)
{
    auto b = MakeBitmap(12, 8);
    DrawContext& dc = b->Context();
    dc.SaveState();
    dc.Translate(2, 2);
    dc.AddRect({0, 0, 3, 2});
    dc.RestoreState(); // the transform changes before the path is drawn
    EXPECT_DOUBLE_EQ(dc.CurrentPoint().x, 2);
    dc.SetFillColor(kRedColor);
    dc.FillPath();
    EXPECT_TRUE(OnlyInside(*b, FromYUp(8, 2, 2, 3, 2), kRed));
}

TEST(DrawContextBitmap, ClippingByRectanglesAndPaths)
{
    struct Case {
        const char* name;
        void (*clip)(DrawContext&);
        Box inside;
    };
    const Case cases[] = {
        {"rect", [](DrawContext& dc) { dc.ClipToRect({2, 2, 4, 3}); }, FromYUp(10, 2, 2, 4, 3)},
        {"two rects intersect",
         [](DrawContext& dc) {
             dc.ClipToRect({2, 2, 4, 3});
             dc.ClipToRect({4, 0, 10, 10});
         },
         FromYUp(10, 4, 2, 2, 3)},
        {"rect path",
         [](DrawContext& dc) {
             dc.AddRect({1, 5, 3, 2});
             dc.Clip();
         },
         FromYUp(10, 1, 5, 3, 2)},
        {"empty path clips everything", [](DrawContext& dc) { dc.Clip(); }, Box{}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto b = MakeBitmap(10, 10);
        DrawContext& dc = b->Context();
        c.clip(dc);
        EXPECT_TRUE(dc.PathIsEmpty());
        dc.SetFillColor(kRedColor);
        dc.FillRect({0, 0, 10, 10});
        EXPECT_TRUE(OnlyInside(*b, c.inside, kRed));
    }
    auto b = MakeBitmap(10, 10);
    Rect all = b->Context().ClipBoundingBox();
    EXPECT_DOUBLE_EQ(all.width, 10);
    EXPECT_DOUBLE_EQ(all.height, 10);
    b->Context().ClipToRect({2, 3, 4, 5});
    Rect r = b->Context().ClipBoundingBox();
    EXPECT_DOUBLE_EQ(r.x, 2);
    EXPECT_DOUBLE_EQ(r.y, 3);
    EXPECT_DOUBLE_EQ(r.width, 4);
    EXPECT_DOUBLE_EQ(r.height, 5);
}

TEST(DrawContextBitmap, DifferenceBlendInvertsAndClearRectEmpties)
{
    auto b = MakeBitmap(8, 4);
    DrawContext& dc = b->Context();
    dc.SetFillColor(kRedColor);
    dc.FillRect({0, 0, 8, 4});
    dc.SetBlendMode(BlendMode::Difference);
    dc.SetFillColor(ColorFromValue(0x00FFFFFF));
    dc.FillRect({0, 0, 4, 4});
    EXPECT_TRUE(OnlyInside(*b, Box{0, 0, 4, 4, false}, 0xFF00FFFF, kRed));
    dc.FillRect({0, 0, 4, 4}); // inverting twice restores
    EXPECT_TRUE(OnlyInside(*b, Box{}, 0, kRed));
    dc.SetBlendMode(BlendMode::Normal);
    dc.FillRect({0, 0, 1, 1});
    EXPECT_EQ(b->Pixel(0, 3), 0xFFFFFFFF);
    dc.ClearRect({2, 0, 6, 4});
    EXPECT_EQ(b->Pixel(2, 0), 0u);
    EXPECT_EQ(b->Pixel(7, 3), 0u);
    EXPECT_EQ(b->Pixel(5, 1), 0u);
    EXPECT_EQ(b->Pixel(1, 1), kRed);
}

TEST(DrawContextBitmap, AntialiasingSwitch)
{
    for (bool on : {true, false}) {
        SCOPED_TRACE(on ? "antialiased" : "aliased");
        auto b = MakeBitmap(40, 30);
        DrawContext& dc = b->Context();
        dc.SetAntialias(on);
        dc.SetFillColor(kRedColor);
        dc.AddEllipseInRect({3.3, 2.7, 31, 23});
        dc.FillPath();
        std::set<int> alphas;
        for (int row = 0; row < 30; ++row)
            for (int x = 0; x < 40; ++x)
                alphas.insert(drawtest::Alpha(b->Pixel(x, row)));
        EXPECT_EQ(alphas.size() > 2, on);
        EXPECT_EQ(alphas.count(255), 1u);
    }
}

TEST(DrawContextBitmap, ImagesAreDrawnUprightInYUpSpaceAndScaled)
{
    // Source: blue with a red top row.
    auto src = MakeBitmap(4, 4);
    src->Context().SetFillColor(kBlueColor);
    src->Context().FillRect({0, 0, 4, 4});
    src->Context().SetFillColor(kRedColor);
    src->Context().FillRect({0, 3, 4, 1});
    Image img = src->MakeImage();
    ASSERT_FALSE(img.IsNull());
    EXPECT_EQ(img.Pixel(0, 0), kRed);
    EXPECT_EQ(img.Pixel(0, 1), kBlue);

    auto dst = MakeBitmap(8, 8);
    dst->Context().DrawImage({0, 0, 4, 4}, img);
    EXPECT_EQ(dst->Pixel(0, 4), kRed); // top row of the lower-left quarter
    EXPECT_EQ(dst->Pixel(3, 7), kBlue);
    EXPECT_EQ(dst->Pixel(0, 3), 0u);

    auto big = MakeBitmap(8, 8);
    big->Context().SetAntialias(false); // whole-pixel scaling, no smoothing
    big->Context().DrawBitmap({0, 0, 8, 8}, *src);
    EXPECT_EQ(big->Pixel(5, 0), kRed);
    EXPECT_EQ(big->Pixel(5, 1), kRed);
    EXPECT_EQ(big->Pixel(5, 2), kBlue);

    // The snapshot does not follow later drawing.
    src->Context().FillRect({0, 0, 4, 4});
    EXPECT_EQ(img.Pixel(0, 3), kBlue);
}

TEST(DrawContextBitmap, BitmapDrawnIntoItsOwnContextMovesARectangle)
{
    auto b = MakeBitmap(10, 10);
    DrawContext& dc = b->Context();
    dc.SetFillColor(kRedColor);
    dc.FillRect({0, 0, 2, 2});
    // Copy the 2x2 square at (0, 0) to (5, 5): clip to the target and draw
    // the whole bitmap shifted by the difference.
    dc.SaveState();
    dc.ClipToRect({5, 5, 2, 2});
    dc.DrawBitmap({5, 5, 10, 10}, *b);
    dc.RestoreState();
    EXPECT_EQ(b->Pixel(5, 4), kRed);
    EXPECT_EQ(b->Pixel(6, 3), kRed);
    EXPECT_EQ(b->Pixel(0, 9), kRed);
    EXPECT_EQ(b->Pixel(7, 4), 0u);
    EXPECT_EQ(b->Pixel(5, 2), 0u);
}

TEST(DrawContextBitmap, ShadowOffsetPointsUpOnTheSurface)
{
    auto b = MakeBitmap(20, 20);
    DrawContext& dc = b->Context();
    dc.SetShadow({3, -3}, 0, ColorFromValue(0x00000000));
    dc.SetFillColor(kRedColor);
    dc.FillRect({2, 10, 4, 4}); // rows 6..9, columns 2..5
    EXPECT_EQ(b->Pixel(2, 6), kRed);
    EXPECT_EQ(b->Pixel(8, 12), kBlack); // shadow 3 right, 3 down
    EXPECT_EQ(b->Pixel(5, 9), kRed);    // the shape covers its shadow
    EXPECT_EQ(b->Pixel(9, 12), 0u);
    EXPECT_EQ(b->Pixel(8, 13), 0u);
    EXPECT_EQ(b->Pixel(4, 8), kRed);
    dc.ClearShadow();
    dc.FillRect({15, 0, 1, 1});
    EXPECT_EQ(b->Pixel(18, 19), 0u);
}

TEST(DrawContextBitmap, GradientEndsAreExtendedOnlyWhenAsked)
{
    const Color black = ColorFromValue(0x00000000), white = ColorFromValue(0x00FFFFFF);
    for (bool extend : {false, true}) {
        SCOPED_TRACE(extend ? "extended" : "not extended");
        auto b = MakeBitmap(120, 4);
        b->Context().DrawLinearGradient(black, white, {10, 0}, {110, 0}, extend, extend);
        EXPECT_EQ(drawtest::Alpha(b->Pixel(5, 1)), extend ? 255 : 0);
        EXPECT_EQ(drawtest::Alpha(b->Pixel(115, 1)), extend ? 255 : 0);
        uint32_t mid = b->Pixel(60, 1);
        EXPECT_EQ(drawtest::Alpha(mid), 255);
        EXPECT_NEAR(drawtest::Red(mid), 128, 4);
        EXPECT_LT(drawtest::Red(b->Pixel(12, 1)), 10);
        EXPECT_GT(drawtest::Red(b->Pixel(108, 1)), 245);
    }
}

TEST(Bitmap, PngRoundTripKeepsPixels)
{
    testutil::TempDir dir;
    auto b = MakeBitmap(5, 3);
    b->Context().SetFillColor(kRedColor);
    b->Context().FillRect({0, 0, 2, 3});
    b->Context().SetFillColor(ColorFromValue(0x00FF8000));
    b->Context().FillRect({4, 2, 1, 1});
    ASSERT_TRUE(b->SavePng(dir.file("b.png")));
    auto back = Bitmap::LoadPng(dir.file("b.png"));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->Width(), 5);
    ASSERT_EQ(back->Height(), 3);
    for (int row = 0; row < 3; ++row)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(back->Pixel(x, row), b->Pixel(x, row)) << x << "," << row;
    EXPECT_EQ(Image::LoadPng(dir.file("b.png")).Pixel(4, 0), 0xFF0080FFu);

    testutil::WriteFile(dir.file("not.png"), "GIF89a not a png at all");
    EXPECT_FALSE(Bitmap::LoadPng(dir.file("not.png")));
    EXPECT_TRUE(Image::LoadPng(dir.file("missing.png")).IsNull());
}

TEST(DrawContextView, ViewContextsAreFlippedAndLeaveThePainterAsFound)
{
    EXPECT_FALSE(DrawContext::ForPainter(nullptr));
    auto b = MakeBitmap(10, 6);
    {
        BitmapViewPainter view(*b);
        ASSERT_NE(view.Handle(), nullptr);
        {
            auto dc = DrawContext::ForPainter(view.Handle());
            ASSERT_TRUE(dc);
            EXPECT_FALSE(dc->IsBottomUp());
            EXPECT_EQ(dc->TargetBitmap(), nullptr);
            dc->SetFillColor(kRedColor);
            dc->FillRect({0, 0, 3, 1});
            dc->SaveState(); // left unbalanced on purpose
            dc->Translate(5, 5);
            dc->ClipToRect({0, 0, 1, 1});
        }
        auto dc = DrawContext::ForPainter(view.Handle());
        dc->SetFillColor(kBlueColor);
        dc->FillRect({9, 5, 1, 1}); // neither translated nor clipped
    }
    EXPECT_EQ(b->Pixel(0, 0), kRed);
    EXPECT_EQ(b->Pixel(2, 0), kRed);
    EXPECT_EQ(b->Pixel(0, 1), 0u);
    EXPECT_EQ(b->Pixel(9, 5), kBlue);

    // A bitmap whose own context is in use cannot take a second painter.
    auto used = MakeBitmap(2, 2);
    used->Context();
    BitmapViewPainter second(*used);
    EXPECT_EQ(second.Handle(), nullptr);
}

TEST(DrawContextView, ImagesAndTextAreUprightOnlyInYUpSpace)
{
    auto font = Font::Create("DejaVu Sans", 20);
    ASSERT_TRUE(font);
    auto src = MakeBitmap(4, 4);
    src->Context().SetFillColor(kRedColor);
    src->Context().FillRect({0, 3, 4, 1}); // red top row
    Image img = src->MakeImage();

    // On a bitmap (y-up) both come out upright.
    auto up = MakeBitmap(40, 40);
    up->Context().DrawText(*font, {10, 10}, std::u16string_view(u"T"));
    up->Context().DrawImage({30, 30, 4, 4}, img);

    // On a view, flipped by the caller to y-up, the same drawing comes out
    // the same.
    auto flippedView = MakeBitmap(40, 40);
    {
        BitmapViewPainter view(*flippedView);
        auto dc = DrawContext::ForPainter(view.Handle());
        dc->Translate(0, 40);
        dc->Scale(1, -1);
        dc->DrawText(*font, {10, 10}, std::u16string_view(u"T"));
        dc->DrawImage({30, 30, 4, 4}, img);
    }
    for (int row = 0; row < 40; ++row)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(flippedView->Pixel(x, row), up->Pixel(x, row)) << x << "," << row;
    Box ink = drawtest::InkBounds(*up, 0, 0, 30, 40);
    EXPECT_LE(ink.bottom, 31); // glyph above the baseline at row 30
    EXPECT_LT(ink.top, 20);
    EXPECT_EQ(up->Pixel(30, 6), kRed);

    // Unflipped, the view shows both upside down: the glyph hangs below the
    // baseline and the image's top row is at the bottom.
    auto raw = MakeBitmap(40, 40);
    {
        BitmapViewPainter view(*raw);
        auto dc = DrawContext::ForPainter(view.Handle());
        dc->DrawText(*font, {10, 10}, std::u16string_view(u"T"));
        dc->DrawImage({30, 30, 4, 4}, img);
    }
    Box hanging = drawtest::InkBounds(*raw, 0, 0, 30, 40);
    EXPECT_GE(hanging.top, 9);
    EXPECT_GT(hanging.bottom, 20);
    EXPECT_EQ(raw->Pixel(30, 33), kRed);
    EXPECT_EQ(raw->Pixel(30, 30), 0u);
}
