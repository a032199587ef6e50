// Fonts: substitution, fixed-pitch detection, metrics, measuring long runs
// and characters outside the BMP, and drawing on a cell grid.
#include <gtest/gtest.h>

#include "platform/draw/bitmap.h"
#include "platform/draw/font.h"
#include "tests/platform/draw/drawtest.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <unistd.h>

using namespace plat;

TEST(Font, SubstitutionTableMapsForeignNamesToDejaVu)
{
    struct Case {
        const char* asked;
        const char* family;
    };
    const Case cases[] = {
        {"Monaco", "DejaVu Sans Mono"},       {"Courier", "DejaVu Sans Mono"},
        {"courier new", "DejaVu Sans Mono"},  {"Menlo", "DejaVu Sans Mono"},
        {"Lucida Console", "DejaVu Sans Mono"}, {"Helv", "DejaVu Sans"},
        {"MS SHELL DLG", "DejaVu Sans"},      {"Lucida Grande", "DejaVu Sans"},
        {"Helvetica", "DejaVu Sans"},         {"Geneva", "DejaVu Sans"},
        {"Arial", "DejaVu Sans"},             {"Times", "DejaVu Serif"},
        {"Times New Roman", "DejaVu Serif"},  {"DejaVu Serif", "DejaVu Serif"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked);
        EXPECT_EQ(SubstituteFamily(c.asked), c.family);
        auto f = Font::Create(c.asked, 12);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->Family(), c.family); // the face really taken
        EXPECT_EQ(f->RequestedFamily(), c.asked);
    }
    EXPECT_EQ(SubstituteFamily("Arial Black"), "Arial Black"); // whole names only
    EXPECT_FALSE(Font::Create("", 12));
    EXPECT_FALSE(Font::Create("DejaVu Sans", 0));
}

TEST(Font, FixedPitchIsMeasured)
{
    EXPECT_TRUE(IsFixedPitchFamily("DejaVu Sans Mono"));
    EXPECT_FALSE(IsFixedPitchFamily("DejaVu Sans"));
    EXPECT_FALSE(IsFixedPitchFamily("DejaVu Serif"));
    EXPECT_FALSE(IsFixedPitchFamily("No Such Family Anywhere"));
    EXPECT_FALSE(IsFixedPitchFamily(""));

    std::vector<std::string> families = FontFamilies();
    auto has = [](const std::vector<std::string>& v, const char* s) {
        return std::find(v.begin(), v.end(), s) != v.end();
    };
    EXPECT_TRUE(has(families, "DejaVu Sans"));
    EXPECT_FALSE(has(families, "Monospace")); // fontconfig's alias, not a family
    EXPECT_TRUE(std::is_sorted(families.begin(), families.end()));
    std::vector<std::string> fixed = FixedPitchFamilies();
    EXPECT_TRUE(has(fixed, "DejaVu Sans Mono"));
    EXPECT_FALSE(has(fixed, "DejaVu Sans"));

    auto mono = Font::Create("Monaco", 14);
    auto sans = Font::Create("Helvetica", 14, true, false);
    ASSERT_TRUE(mono && sans);
    FontMetrics m = mono->Metrics();
    EXPECT_TRUE(m.fixedPitch);
    EXPECT_FALSE(sans->Metrics().fixedPitch);
    EXPECT_GT(m.ascent, 9);
    EXPECT_GT(m.descent, 2);
    EXPECT_GE(m.leading, 0);
    EXPECT_NEAR(m.averageCharWidth, mono->Advance(U'M'), 0.1);
    EXPECT_GE(m.maxCharWidth, mono->Advance(U'M'));
    // The advance is fractional at this size; a cell grid must round it.
    EXPECT_NE(mono->Advance(U'M'), std::floor(mono->Advance(U'M')));
}

TEST(Font, LongRunsAreMeasuredWhole)
{
    auto mono = Font::Create("DejaVu Sans Mono", 14);
    ASSERT_TRUE(mono);
    const double advance = mono->Advance(U'x');
    ASSERT_GT(advance, 0);
    for (size_t n : {size_t(1), size_t(1024), size_t(1025), size_t(3000), size_t(10000)}) {
        SCOPED_TRACE(n);
        std::u16string run(n, u'x');
        EXPECT_NEAR(mono->Measure(run).width, n * advance, 0.01);
        EXPECT_NEAR(mono->Measure(std::u32string(n, U'x')).width, n * advance, 0.01);
        // The extra advance rounds every cell to whole pixels.
        double extra = std::round(advance) - advance;
        EXPECT_NEAR(mono->Measure(run, extra).width, n * std::round(advance), 0.05);
    }
    std::vector<double> offsets = mono->CaretOffsets(std::u16string(5000, u'x'));
    ASSERT_EQ(offsets.size(), 5001u);
    EXPECT_NEAR(offsets[4097], 4097 * advance, 0.01);
    EXPECT_NEAR(offsets[5000], 5000 * advance, 0.01);

    TextExtent empty = mono->Measure(std::u16string_view());
    EXPECT_EQ(empty.width, 0);
    EXPECT_GT(empty.ascent, 0);
    // Trailing blanks count.
    EXPECT_NEAR(mono->Measure(std::u16string_view(u"ab  ")).width, 4 * advance, 0.01);
}

TEST(Font, RunsMeasureTheirAdvancesWithoutTheLastGlyphsOverhang)
{
    // "_" reaches past its advance; the run still measures n advances, and
    // the last caret offset is the sum of them, as the cells of a terminal
    // line need.
    auto mono = Font::Create("DejaVu Sans Mono", 15);
    ASSERT_TRUE(mono);
    const double advance = mono->Advance(U'_');
    for (const char16_t* text : {u"_", u"a_", u"____", u"_#i\u00c4BCDEFGHIJKLM_"}) {
        std::u16string run(text);
        SCOPED_TRACE(run.size());
        EXPECT_NEAR(mono->Measure(run).width, run.size() * advance, 0.01);
        std::vector<double> offsets = mono->CaretOffsets(run);
        for (size_t i = 1; i < offsets.size(); ++i)
            EXPECT_NEAR(offsets[i] - offsets[i - 1], advance, 0.01) << i;
    }
}

TEST(Font, CharactersOutsideTheBmpAreMeasured)
{
    auto mono = Font::Create("DejaVu Sans Mono", 14);
    auto sans = Font::Create("DejaVu Sans", 14);
    ASSERT_TRUE(mono && sans);
    for (char32_t ch : {U'\U0001F600', U'\U00010300', U'\U0001D538'}) {
        SCOPED_TRACE(testing::Message() << std::hex << uint32_t(ch));
        std::u32string one(1, ch);
        double wide = mono->Measure(one).width;
        EXPECT_GT(wide, 1); // drawn by a fallback face when the font lacks it
        char16_t pair[2] = {char16_t(0xD800 + ((ch - 0x10000) >> 10)), char16_t(0xDC00 + ((ch - 0x10000) & 0x3FF))};
        EXPECT_DOUBLE_EQ(mono->Measure(std::u16string_view(pair, 2)).width, wide);
    }
    // U+1F600 is in DejaVu Sans: its glyph sits at the pair's first unit.
    std::vector<uint32_t> glyphs = sans->GlyphsForCharacters(u"A\U0001F600b");
    ASSERT_EQ(glyphs.size(), 4u);
    EXPECT_NE(glyphs[0], 0u);
    EXPECT_NE(glyphs[1], 0u);
    EXPECT_EQ(glyphs[2], 0u);
    EXPECT_NE(glyphs[3], 0u);
    EXPECT_EQ(mono->GlyphsForCharacters(u"\U0001F600")[0], 0u); // the mono face lacks it
    EXPECT_GT(sans->Advance(U'\U0001F600'), 0);

    std::vector<double> offsets = sans->CaretOffsets(u"a\U0001F600b");
    ASSERT_EQ(offsets.size(), 5u);
    EXPECT_DOUBLE_EQ(offsets[2], offsets[1]); // both halves of the pair
    EXPECT_GT(offsets[3], offsets[1] + 1);
    EXPECT_GT(offsets[4], offsets[3]);

    // Broken input is measured, not dropped or crashed on.
    EXPECT_GT(mono->Measure(std::u16string_view(u"\xD800x", 2)).width, 0);
    EXPECT_GT(mono->Measure(std::u32string(1, char32_t(0x110000))).width, 0);
}

TEST(Font, CellsSitOnTheIntegerGrid)
{
    auto mono = Font::Create("DejaVu Sans Mono", 14);
    ASSERT_TRUE(mono);
    const int cell = 10; // wider than the 8.42-pixel advance
    auto b = Bitmap::Create(cell * 8, 20);
    DrawContext& dc = b->Context();
    dc.SetFillColor(ColorFromValue(0));
    dc.DrawCells(*mono, {0, 5}, std::u32string_view(U"MMMM MM\U0001F600"), cell);
    // Every M starts at the same place within its cell; the blank cell and
    // the area past the last cell stay empty.
    drawtest::Box first = drawtest::InkBounds(*b, 0, 0, cell, 20);
    ASSERT_FALSE(first.empty);
    for (int i : {1, 2, 3, 5, 6}) {
        SCOPED_TRACE(i);
        drawtest::Box box = drawtest::InkBounds(*b, i * cell, 0, (i + 1) * cell, 20);
        ASSERT_FALSE(box.empty);
        EXPECT_EQ(box.left - i * cell, first.left);
        EXPECT_EQ(box.right - i * cell, first.right);
    }
    EXPECT_TRUE(drawtest::InkBounds(*b, 4 * cell, 0, 5 * cell, 20).empty);
    EXPECT_FALSE(drawtest::InkBounds(*b, 7 * cell, 0, 8 * cell + 4, 20).empty); // the emoji, by fallback
    EXPECT_LE(first.bottom, 20 - 5 + 1); // glyphs stand on the baseline

    // The UTF-16 form puts a surrogate pair into one cell.
    auto c = Bitmap::Create(cell * 3, 20);
    c->Context().DrawCells(*mono, {0, 5}, std::u16string_view(u"\U0001F600MM"), cell);
    drawtest::Box last = drawtest::InkBounds(*c, 2 * cell, 0, 3 * cell, 20);
    EXPECT_EQ(last.left - 2 * cell, first.left);
}

// A terminal lays out whatever the host sends, binary data included:
// characters of scripts the font has no OpenType tables for are drawn
// without a note on the standard error for each.
TEST(Font, ScriptsTheFontLacksAreLaidOutWithoutNotes)
{
    auto font = Font::Create("DejaVu Sans Mono", 12);
    ASSERT_TRUE(font);
    auto bitmap = Bitmap::Create(400, 40);
    ASSERT_TRUE(bitmap);
    // Syriac, Thaana, Tibetan, N'Ko and a mix with Latin.
    std::u32string const text = U"\u0710\u0712\u0780\u0782\u0F40\u07CA abc \u0714x";
    fflush(stderr);
    int const saved = dup(2);
    FILE* capture = tmpfile();
    ASSERT_NE(capture, nullptr);
    dup2(fileno(capture), 2);
    bitmap->Context().DrawText(*font, Point{2, 20}, text);
    bitmap->Context().DrawCells(*font, Point{2, 30}, text, 8);
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string said;
    rewind(capture);
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof buffer, capture))
        said.append(buffer, n);
    fclose(capture);
    EXPECT_EQ(said.find("OpenType support missing"), std::string::npos) << said;
}
