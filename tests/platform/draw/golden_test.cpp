// Drawing whose pixels depend on antialiasing and font rendering, compared
// with reviewed pictures in golden/.
#include <gtest/gtest.h>

#include "platform/draw/bitmap.h"
#include "platform/draw/font.h"
#include "tests/platform/draw/drawtest.h"

using namespace plat;

namespace {

std::unique_ptr<Bitmap> WhiteBitmap(int w, int h)
{
    auto b = Bitmap::Create(w, h);
    b->Context().SetFillColor(ColorFromValue(0x00FFFFFF));
    b->Context().FillRect({0, 0, double(w), double(h)});
    return b;
}

} // namespace

TEST(Golden, Text)
{
    auto b = WhiteBitmap(360, 120);
    DrawContext& dc = b->Context();
    auto sans = Font::Create("Lucida Grande", 16);
    auto serif = Font::Create("Times New Roman", 16, false, true);
    auto mono = Font::Create("Monaco", 14);
    auto monoBold = Font::Create("Monaco", 14, true);
    ASSERT_TRUE(sans && serif && mono && monoBold);
    dc.SetFillColor(ColorFromValue(0x00000000));
    dc.DrawText(*sans, {6, 98}, std::u16string_view(u"Sans: Hamburgefonstiv \u00C4\u00D6\u00DC \U0001F600"));
    dc.SetFillColor(ColorFromValue(0x00800000)); // navy
    dc.DrawText(*serif, {6, 74}, std::u32string_view(U"Serif italic: \u03BB\u03C0 \U0001D538"));
    // A terminal line: cells of 9 pixels, normal and bold runs, an inverse
    // run on a filled background.
    dc.SetFillColor(ColorFromValue(0x00000000));
    dc.DrawCells(*mono, {6, 48}, std::u32string_view(U"$ ls -l"), 9);
    dc.DrawCells(*monoBold, {6 + 8 * 9, 48}, std::u32string_view(U"bold"), 9);
    dc.SetFillColor(ColorFromValue(0x00202020));
    dc.FillRect({6 + 13 * 9, 44, 9 * 9, 17});
    dc.SetFillColor(ColorFromValue(0x00FFFFFF));
    dc.DrawCells(*mono, {6 + 13 * 9, 48}, std::u32string_view(U"inverse\u2500\u2502"), 9);
    // The same text drawn as one run drifts off the grid; drawn in cells it
    // does not.
    dc.SetFillColor(ColorFromValue(0x000000C0));
    dc.DrawText(*mono, {6, 22}, std::u16string_view(u"||||||||||||||||||||||||||||||||||||"));
    dc.DrawCells(*mono, {6, 6}, std::u16string_view(u"||||||||||||||||||||||||||||||||||||"), 9);
    EXPECT_TRUE(drawtest::MatchesGolden(*b, "text"));
}

TEST(Golden, Gradients)
{
    auto b = WhiteBitmap(240, 120);
    DrawContext& dc = b->Context();
    const Color blue = ColorFromValue(0x00C04000), yellow = ColorFromValue(0x0000E0FF);
    dc.SaveState();
    dc.ClipToRect({10, 70, 220, 40});
    dc.DrawLinearGradient(blue, yellow, {40, 0}, {200, 0}); // ends not extended
    dc.RestoreState();
    dc.SaveState();
    dc.ClipToRect({10, 10, 100, 50});
    dc.DrawLinearGradient(blue, yellow, {0, 60}, {0, 10}, true, true); // vertical
    dc.RestoreState();
    dc.SaveState();
    dc.ClipToRect({130, 10, 100, 50});
    dc.DrawLinearGradient(ColorFromValue(0xFF0000FF), ColorFromValue(0x000000FF), {130, 10}, {230, 60}, true,
                          true); // diagonal, from transparent to red
    dc.RestoreState();
    EXPECT_TRUE(drawtest::MatchesGolden(*b, "gradient"));
}

TEST(Golden, ShadowsAndEllipses)
{
    auto b = WhiteBitmap(240, 120);
    DrawContext& dc = b->Context();
    dc.SaveState();
    // A drop shadow below and right of a button face.
    dc.SetShadow({3, -3}, 6, ColorFromValue(0x40000000));
    dc.SetFillColor(ColorFromValue(0x00E0E0E0));
    dc.FillRect({20, 50, 80, 40});
    dc.RestoreState();
    dc.SaveState();
    dc.SetShadow({0, -4}, 10, ColorFromValue(0x00404040));
    dc.SetFillColor(ColorFromValue(0x0000A0FF));
    dc.AddEllipseInRect({130, 40, 80, 50});
    dc.FillPath();
    dc.RestoreState();
    // Ellipses: filled and outlined, outlined only, half-pixel aligned.
    dc.SetFillColor(ColorFromValue(0x0060C060));
    dc.SetStrokeColor(ColorFromValue(0x00000000));
    dc.SetLineWidth(0.98);
    dc.AddEllipseInRect({20.5, 8.5, 60, 30});
    dc.DrawPath(PathDrawing::FillStroke);
    dc.SetLineWidth(3);
    dc.SetStrokeColor(ColorFromValue(0x802020C0)); // half-transparent red
    dc.AddEllipseInRect({100.5, 8.5, 120, 26});
    dc.StrokePath();
    EXPECT_TRUE(drawtest::MatchesGolden(*b, "shadow_ellipse"));
}
