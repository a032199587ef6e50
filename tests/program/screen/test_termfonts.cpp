// Font description strings and the terminal font list (from a list given
// here; the list of this machine's fonts is checked in test_viopaint).
#include "program/screen/termfonts.h"
#include "tests/velmot/core/assertrecorder.h"

#include "velmot/core/stringarray.h"
#include "velmot/core/wstring.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::wstring> gList;

int FakeList(WSTRINGARRAY& out, bool, int)
{
    out.DeleteAllItems();
    for (auto const& e : gList)
        out.AppendItem(WSTRING(e.c_str()));
    return out.NumItems();
}

class TermFonts : public ::testing::Test {
protected:
    void SetUp() override { previous = TERMFONTS::SetFontlistSource(&FakeList); }
    void TearDown() override
    {
        TERMFONTS::SetFontlistSource(previous);
        TERMFONTS::SetFontFilters(nullptr, nullptr);
    }
    TERMFONTS::FONTLISTSOURCE previous = nullptr;
};

std::wstring Compose(wchar_t const* name, int w, int h, int pts, int size = 128)
{
    std::vector<wchar_t> buf(size_t(size), L'#');
    TERMFONTS::ComposeFontstr(buf.data(), size, name, w, h, pts);
    return buf.data();
}

TEST_F(TermFonts, ComposeFontstr)
{
    EXPECT_EQ(Compose(L"Monaco", 6, 13, 1000), L"Monaco  6 X 13 (10 pt)");
    EXPECT_EQ(Compose(L"Monaco", 6, 13, 1050), L"Monaco  6 X 13 (10.5 pt)");
    EXPECT_EQ(Compose(L"DejaVu Sans Mono", 8, 17, 1200), L"DejaVu Sans Mono  8 X 17 (12 pt)");
    EXPECT_EQ(Compose(L"Menlo", 7, 14, 0), L"Menlo  7 X 14");
    EXPECT_EQ(Compose(L"Menlo", 7, 14, 1000, 10), L"Menlo  7 ") << "cut to the buffer";
    TERMFONT const f{L"Menlo", 7, 14, 1100, 1, 1};
    wchar_t buf[64];
    TERMFONTS::ComposeFontstr(buf, 64, f);
    EXPECT_EQ(std::wstring(buf), L"Menlo  7 X 14 (11 pt)");

    testutil::ASSERTRECORDER recorder;
    Compose(L"Bad  Name", 1, 2, 0);
    auto reports = recorder.Take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Condition, "wcsstr(wname, L\"  \")==NULL");
}

TEST_F(TermFonts, NameAndSizeFromFontstr)
{
    struct CASE {
        wchar_t const* text;
        wchar_t const* name;
        int w, h;
    } const cases[] = {
        {L"Monaco  6 X 13 (10 pt)", L"Monaco", 6, 13},
        {L"DejaVu Sans Mono  8 X 17", L"DejaVu Sans Mono", 8, 17},
        {L"NoSeparator 6 X 13", L"<UNKNOWN>", 8, 12},
        {L"", L"<UNKNOWN>", 8, 12},
    };
    for (CASE const& c : cases) {
        wchar_t name[64];
        TERMFONTS::GetNameFromFontstr(c.text, name, 64);
        EXPECT_EQ(std::wstring(name), c.name);
        int w = 0, h = 0;
        TERMFONTS::GetSizeFromFontstr(c.text, &w, &h);
        EXPECT_EQ(w, c.w);
        EXPECT_EQ(h, c.h);
    }
    wchar_t small[4];
    TERMFONTS::GetNameFromFontstr(L"Monaco  6 X 13", small, 4);
    EXPECT_EQ(std::wstring(small), L"Mon");

    testutil::ASSERTRECORDER recorder;
    int w = 0, h = 0;
    TERMFONTS::GetSizeFromFontstr(L"Monaco  six", &w, &h);
    EXPECT_EQ(recorder.Take().at(0).Condition, "n==2");
}

TEST_F(TermFonts, CompareFontsIgnoresOneTrailingStar)
{
    EXPECT_EQ(TERMFONTS::CompareFonts(L"Monaco  6 X 13*", L"Monaco  6 X 13"), 0);
    EXPECT_EQ(TERMFONTS::CompareFonts(L"Monaco  6 X 13*", L"Monaco  6 X 13*"), 0);
    EXPECT_NE(TERMFONTS::CompareFonts(L"Monaco  6 X 13**", L"Monaco  6 X 13"), 0);
    EXPECT_LT(TERMFONTS::CompareFonts(L"A", L"B"), 0);
}

TEST_F(TermFonts, QueryFixedFontsFilters)
{
    gList = {L"Monaco|9|5 X 11", L"Monaco|10|6 X 13", L"Menlo|10.5|7 X 14", L"Two  Blanks|10|6 X 13",
             L"Courier|12|7 X 15"};
    testutil::ASSERTRECORDER recorder;
    TERMFONT fonts[8];
    ASSERT_EQ(TERMFONTS::QueryFixedFonts(fonts, 8, nullptr, 1252, 0), 4);
    EXPECT_EQ(recorder.Take().size(), 1u) << "the name with two blanks is reported and skipped";
    EXPECT_EQ(std::wstring(fonts[2].Name), L"Menlo");
    EXPECT_EQ(fonts[2].CellWidth, 7);
    EXPECT_EQ(fonts[2].CellHeight, 14);
    EXPECT_EQ(fonts[2].PointsX100, 1050);
    EXPECT_EQ(fonts[2].Flag1, 1);
    EXPECT_EQ(fonts[2].Flag2, 1);
    EXPECT_EQ(TERMFONTS::QueryFixedFonts(fonts, 2, nullptr, 1252, 0), 2);
    EXPECT_EQ(TERMFONTS::QueryFixedFonts(fonts, 8, L"monaco", 1252, 0), 2);

    TERMFONTS::SetFontFilters("courier", nullptr);
    ASSERT_EQ(TERMFONTS::QueryFixedFonts(fonts, 8, nullptr, 1252, 0), 1);
    EXPECT_EQ(std::wstring(fonts[0].Name), L"Courier");
    TERMFONTS::SetFontFilters(nullptr, "Monaco|Menlo");
    ASSERT_EQ(TERMFONTS::QueryFixedFonts(fonts, 8, nullptr, 1252, 0), 1);
    EXPECT_EQ(TERMFONTS::CheckExclude("MONACO"), 1);
    EXPECT_EQ(TERMFONTS::CheckExclude("Courier"), 0);
}

TEST_F(TermFonts, DefaultFont)
{
    struct CASE {
        std::vector<std::wstring> list;
        int points;
        wchar_t const* expected;
    } const cases[] = {
        {{L"Andale|10|6 X 12", L"Monaco|9|5 X 11", L"Monaco|10|6 X 13"}, 10, L"Monaco  6 X 13 (10 pt)"},
        {{L"Andale|9|5 X 11", L"DejaVu Sans Mono|10|8 X 17", L"DejaVu Sans Mono|11|9 X 18"}, 10,
         L"DejaVu Sans Mono  8 X 17 (10 pt)"},
        {{L"Small|8|5 X 10", L"Small|9|6 X 11", L"Other|8|5 X 9"}, 10, L"Small  6 X 11 (9 pt)"},
        {{}, 10, L""},
    };
    for (CASE const& c : cases) {
        gList = c.list;
        wchar_t buf[128] = L"unchanged";
        TERMFONTS::GetDefaultFont(buf, 128, c.points);
        EXPECT_EQ(std::wstring(buf), c.expected);
    }
}

} // namespace
