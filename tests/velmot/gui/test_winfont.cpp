// Fonts: description texts, loading and measuring, the fixed-pitch cell
// grid, LoadFixedFontW's exact and near matches, the name rules, the
// fixed-pitch lists with their cache file, and controls' fonts.
#include "platform/draw/bitmap.h"
#include "platform/draw/font.h"
#include "platform/draw/viewsupport.h"
#include "tests/support/testutil.h"
#include "tests/velmot/core/assertrecorder.h"
#include "tests/velmot/gui/guitest.h"
#include "velmot/gui/windraw.h"
#include "velmot/gui/winfont.h"
#include "velmot/gui/winfontlist.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace {

std::string Utf8(WSTRING const& w) { return w.AsUtf8().Buf(); }

// A WINDC over a small bitmap, for loading, selecting and measuring.
class FontDc : public ::testing::Test {
protected:
    MEMORYBITMAP bitmap{300, 60};
    WINDC dc{bitmap, bitmap.GetRect(), true};
};

// Empties the process-wide lists, so each test builds them afresh.
void ForgetFontLists()
{
    WINDOWFONT::Fontlist.DeleteAllItems();
    WINDOWFONT::FontlistBold.DeleteAllItems();
    WINDOWFONT::FontlistFilter.DeleteAllItems();
}

std::vector<std::string> Items(WSTRINGARRAY const& list)
{
    std::vector<std::string> out;
    for (int i = 0; i < list.NumItems(); ++i)
        out.push_back(Utf8(*list[i]));
    return out;
}

} // namespace

TEST_F(FontDc, DescriptionTextsGiveNameSizeAndFlags)
{
    struct Case {
        const wchar_t* spec;
        const char* name;
        int size;
        bool bold, italic, fixed;
        int smoothing;
    };
    const Case cases[] = {
        {L"9.MS Shell Dlg", "Lucida Grande", 13, false, false, false, 0},
        {L"7B.Helv", "Lucida Grande", 11, true, false, false, 0},
        {L"8.helv", "Lucida Grande", 12, false, false, false, 0},
        {L"8.Monaco", "Monaco", 8, false, false, false, 0},
        {L"8D.Monaco", "Monaco", 12, false, false, false, 0},
        {L"12aF.Monaco", "Monaco", 12, false, false, true, -1},
        {L"12AF.Monaco", "Monaco", 12, false, false, true, 1},
        {L"12Aa.Monaco", "Monaco", 12, false, false, false, -1},
        {L"12bi.Courier New", "Courier New", 12, true, true, false, 0},
        {L"10f.Font.With.Dots", "Font.With.Dots", 10, false, false, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(WSTRING(c.spec)));
        COREFONT* font = dc.LoadFontW(c.spec);
        ASSERT_NE(font, nullptr);
        EXPECT_EQ(Utf8(font->Name), c.name);
        EXPECT_EQ(font->Size, c.size);
        EXPECT_EQ(font->Bold, c.bold);
        EXPECT_EQ(font->Italic, c.italic);
        EXPECT_EQ(font->Fixed, c.fixed);
        EXPECT_EQ(font->Smoothing, c.smoothing);
        EXPECT_EQ(font->CodePage, 1252);
        dc.DestroyFont(font);
    }
    // The parts before the standard names are resolved.
    FONTSPEC parsed = ParseFontSpec(L"12BaF.Some Family");
    EXPECT_EQ(Utf8(parsed.Prefix), "12BaF");
    EXPECT_EQ(Utf8(parsed.Name), "Some Family");
    EXPECT_EQ(parsed.Size, 12);
    EXPECT_EQ(Utf8(ParseFontSpec(L"12").Name), "");
}

TEST_F(FontDc, FontsThatCannotBeMadeGiveNoHandle)
{
    EXPECT_EQ(dc.LoadFontW(L"12"), nullptr);              // no name
    EXPECT_EQ(dc.LoadFontW(L"0.DejaVu Sans"), nullptr);   // no size
    EXPECT_EQ(dc.LoadFontW(L"-5.DejaVu Sans"), nullptr);
    EXPECT_EQ(dc.LoadFontW(L"99999999999.DejaVu Sans"), nullptr);
    EXPECT_EQ(dc.LoadFontW(static_cast<wchar_t const*>(nullptr)), nullptr);
    EXPECT_EQ(dc.LoadFont(static_cast<char const*>(nullptr)), nullptr);
    EXPECT_EQ(dc.DestroyFont(nullptr), 1);
}

TEST_F(FontDc, StandardAndSubstitutedNamesReachInstalledFamilies)
{
    struct Case {
        const char* spec;
        const char* nameSize;
    };
    const Case cases[] = {
        {"9.MS Shell Dlg", "13.DejaVu Sans"},
        {"12.Monaco", "12.DejaVu Sans Mono"},
        {"10.Courier", "10.DejaVu Sans Mono"},
        {"11.DejaVu Serif", "11.DejaVu Serif"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.spec);
        COREFONT* font = dc.LoadFont(c.spec);
        ASSERT_NE(font, nullptr);
        EXPECT_EQ(std::string(font->GetFontnamesize().Buf()), c.nameSize);
        dc.DestroyFont(font);
    }
    EXPECT_EQ(std::string(WINDC::GetDefaultFontnamesize().Buf()), "9.MS Shell Dlg");
}

TEST_F(FontDc, LayoutFindsRealFixedPitchAndRoundsTheCell)
{
    // DejaVu Sans Mono at 15 pixels advances 9.03 pixels: fixed-pitch,
    // rounded to a cell of 9 by an extra advance of -0.03.
    COREFONT* mono = dc.LoadFont("15.DejaVu Sans Mono");
    ASSERT_NE(mono, nullptr);
    dc.SelectFont(mono);
    ASSERT_NE(dc.hFontContext, nullptr);
    const double advance = mono->FontRef->Advance(U'M');
    EXPECT_TRUE(dc.hFontContext->IsRealFixed);
    EXPECT_EQ(dc.hFontContext->CellWidth, int(std::floor(advance + 0.5)));
    EXPECT_NEAR(dc.hFontContext->ExtraAdvance, std::floor(advance + 0.5) - advance, 1e-4);
    plat::FontMetrics m = mono->FontRef->Metrics();
    EXPECT_EQ(dc.hFontContext->CellHeight, int(m.ascent + m.descent));
    EXPECT_EQ(dc.hFontContext->Descent, int(m.descent));
    wchar_t name[64];
    dc.GetFontnameW(name, 64);
    EXPECT_EQ(Utf8(WSTRING(name)), "DejaVu Sans Mono");
    char bytes[8];
    dc.GetFontname(bytes, sizeof bytes);
    EXPECT_STREQ(bytes, "DejaVu "); // cut to the buffer
    dc.DeselectFont(mono);
    dc.DestroyFont(mono);

    COREFONT* sans = dc.LoadFont("15.DejaVu Sans");
    dc.SelectFont(sans);
    EXPECT_FALSE(dc.hFontContext->IsRealFixed);
    EXPECT_EQ(dc.hFontContext->ExtraAdvance, 0.0f);
    EXPECT_GT(dc.hFontContext->CellWidth, 5);
    EXPECT_LT(dc.hFontContext->CellWidth, 15);
    dc.DeselectFont(sans);
    dc.DestroyFont(sans);
}

TEST_F(FontDc, FixedPitchFontsPutEveryCharacterOnTheCellGrid)
{
    // Eleven bars: each one starts exactly one cell after the one before,
    // with no fractional drift along the run.
    for (const char* spec : {"15F.DejaVu Sans Mono", "13F.DejaVu Sans Mono", "15.DejaVu Sans Mono"}) {
        SCOPED_TRACE(spec);
        dc.ClearRect(nullptr);
        COREFONT* font = dc.LoadFont(spec);
        dc.SelectFont(font);
        dc.TextColor = 0;
        const int cell = dc.GetFontSize().cx;
        POINT end{};
        dc.StringOutW(3, 5, L"|||||||||||", -1, &end);
        EXPECT_EQ(end.x, 3 + 11 * cell);
        const plat::Bitmap& b = *bitmap.GetBitmap();
        std::vector<int> starts;
        for (int x = 0; x < 300; ++x) {
            bool ink = false, before = false;
            for (int y = 0; y < 60; ++y) {
                ink = ink || guitest::Alpha(b.Pixel(x, y)) > 127;
                before = before || (x > 0 && guitest::Alpha(b.Pixel(x - 1, y)) > 127);
            }
            if (ink && !before)
                starts.push_back(x);
        }
        ASSERT_EQ(starts.size(), 11u);
        for (size_t i = 1; i < starts.size(); ++i)
            EXPECT_EQ(starts[i] - starts[i - 1], cell) << i;
        dc.DeselectFont(font);
        dc.DestroyFont(font);
    }
}

TEST_F(FontDc, SelectionMisuseIsReported)
{
    COREFONT* a = dc.LoadFont("12.DejaVu Sans");
    COREFONT* b = dc.LoadFont("12.DejaVu Serif");
    testutil::ASSERTRECORDER recorder;
    dc.SelectFont(a);
    EXPECT_EQ(recorder.Count(), 0u);
    dc.SelectFont(b);
    dc.DeselectFont(a);
    auto seen = recorder.Take();
    std::vector<std::string> conditions;
    for (auto& s : seen)
        conditions.push_back(s.Condition);
    EXPECT_EQ(conditions, (std::vector<std::string>{"this->hFont == NULL", "this->hFontContext == NULL",
                                                    "this->hFont == font"}));
    EXPECT_EQ(dc.hFont, nullptr);
    dc.DeselectFont(b);
    EXPECT_GE(recorder.Count(), 1u);
    recorder.Take();
    dc.GetFontSize();
    EXPECT_EQ(recorder.Take().size(), 2u);
    dc.DestroyFont(a);
    dc.DestroyFont(b);
}

TEST(WindowFont, LoadReplacesTheHeldFont)
{
    WINDOWFONT holder;
    EXPECT_EQ(static_cast<COREFONT*>(holder), nullptr);
    EXPECT_TRUE(holder.Load("12.DejaVu Sans"));
    COREFONT* first = holder;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Size, 12);
    EXPECT_TRUE(holder.Load("7B.Helv"));
    EXPECT_EQ(static_cast<COREFONT*>(holder)->Size, 11);
    EXPECT_FALSE(holder.Load("0.x"));
    EXPECT_EQ(static_cast<COREFONT*>(holder), nullptr);
}

TEST(WindowFont, NameRulesExcludeFamiliesWithoutMeasuring)
{
    struct Case {
        const char* name;
        bool excluded;
    };
    const Case cases[] = {
        {"Arial Black", true},        {"Hiragino Kaku Gothic Pro", true}, {"#Hidden", true},
        {".LastResort", true},        {"OCR A Std", false},               {"Letter Gothic Std", true},
        {"Apple Braille", true},      {"ITC Thing", false},               {"A ITC Thing", true},
        {"Zapfino LET", true},        {"Menlo BoxDrawing", true},         {"Gill Sans MT", true},
        {"Brush Script", true},       {"DejaVu Sans Mono", false},        {"Monaco", false},
        {"arial", false}, // case-sensitive, as the rules are
    };
    for (const Case& c : cases)
        EXPECT_EQ(WINDOWFONT::IsBlacklistedByName(STRING(c.name)), c.excluded) << c.name;
}

TEST_F(FontDc, TryFontMeasuresTheCell)
{
    SIZE cell{-1, -1};
    EXPECT_TRUE(WINDOWFONT::TryFont(dc, 12, 1252, false, WSTRING(L"DejaVu Sans Mono"), &cell));
    COREFONT* font = dc.LoadFont("12.DejaVu Sans Mono");
    dc.SelectFont(font);
    EXPECT_EQ(cell, dc.GetFontSize());
    dc.DeselectFont(font);
    dc.DestroyFont(font);
    EXPECT_FALSE(WINDOWFONT::TryFont(dc, 12, 1252, false, WSTRING(L"DejaVu Sans"), &cell));
    EXPECT_EQ(cell, (SIZE{0, 0}));
    EXPECT_EQ(dc.hFont, nullptr);
}

class FontLists : public ::testing::Test {
protected:
    void SetUp() override
    {
        ForgetFontLists();
        unlink(WINDOWFONT::FontlistCacheFile().Buf());
    }
    void TearDown() override { ForgetFontLists(); }
};

TEST_F(FontLists, FixedListHasOneEntryPerNewCell)
{
    WSTRINGARRAY list;
    const int n = WINDOWFONT::GetFixedFontlist(list, false, 1252, nullptr);
    std::vector<std::string> items = Items(list);
    ASSERT_EQ(n, int(items.size()));
    ASSERT_GE(n, 5);
    std::string previousCell;
    int previousSize = 0;
    for (const std::string& item : items) {
        SCOPED_TRACE(item);
        // Only the monospaced family measures fixed-pitch here.
        EXPECT_EQ(item.rfind("DejaVu Sans Mono|", 0), 0u);
        int size = 0, w = 0, h = 0;
        ASSERT_EQ(std::sscanf(item.c_str(), "DejaVu Sans Mono|%d|%d X %d", &size, &w, &h), 3);
        EXPECT_TRUE((size >= 8 && size <= 20) || (size >= 22 && size <= 40 && size % 2 == 0));
        EXPECT_GT(size, previousSize);
        std::string cell = item.substr(item.rfind('|'));
        EXPECT_NE(cell, previousCell);
        previousCell = cell;
        previousSize = size;
    }
    EXPECT_EQ(items.front().substr(0, 19), "DejaVu Sans Mono|8|");
    EXPECT_EQ(items.back().substr(0, 20), "DejaVu Sans Mono|40|");
    // Kept for the process: the next call hands out the same list, and a
    // preselected family gets it too.
    EXPECT_EQ(Items(WINDOWFONT::Fontlist), items);
    WSTRINGARRAY again;
    EXPECT_EQ(WINDOWFONT::GetFixedFontlist(again, false, 1252, L"DejaVu Sans Mono"), n);

    WSTRINGARRAY bold;
    ASSERT_GT(WINDOWFONT::GetFixedFontlist(bold, true, 1252, nullptr), 0);
    EXPECT_NE(Utf8(*bold[0]).find("|8B|"), std::string::npos) << Utf8(*bold[0]);
}

TEST_F(FontLists, PreselectedListIsNotKept)
{
    WSTRINGARRAY list;
    EXPECT_GT(WINDOWFONT::GetFixedFontlist(list, false, 1252, L"dejavu sans mono"), 0);
    EXPECT_EQ(WINDOWFONT::Fontlist.NumItems(), 0);
    EXPECT_EQ(WINDOWFONT::GetFixedFontlist(list, false, 1252, L"DejaVu Sans"), 0);
    EXPECT_EQ(list.NumItems(), 0);
}

TEST_F(FontLists, CacheFileKeepsTheFamiliesThatAreNotFixed)
{
    WINDOWFONT::FillFontlistFilter(1);
    std::string file = WINDOWFONT::FontlistCacheFile().Buf();
    std::string text = testutil::ReadFile(file);
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "# V1.00 // cached fixed fonts exclude list (used for QOR6, can be deleted, will be rewritten)");
    EXPECT_NE(text.find("\nDejaVu Sans\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nDejaVu Serif\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("DejaVu Sans Mono"), std::string::npos) << text;
    EXPECT_GE(WINDOWFONT::FontlistFilter.NumItems(), 2);

    // A family named in the file is taken as not fixed without measuring:
    // here even the monospaced one, so no fixed font is left.
    ForgetFontLists();
    testutil::WriteFile(file, "# any header\nDejaVu Sans Mono\n");
    WSTRINGARRAY list;
    EXPECT_EQ(WINDOWFONT::GetFixedFontlist(list, false, 1252, nullptr), 0);
    EXPECT_GE(WINDOWFONT::FontlistFilter.FindItem("DejaVu Sans Mono"), 0);
    // The file is written anew, with its header and the measured names.
    text = testutil::ReadFile(file);
    EXPECT_EQ(text.rfind("# V1.00", 0), 0u);
    EXPECT_NE(text.find("\nDejaVu Sans Mono\n"), std::string::npos);
    EXPECT_NE(text.find("\nDejaVu Sans\n"), std::string::npos);
}

// A start that finds what the file holds leaves it alone (it is not
// written again); a family the file names that is gone makes it rewritten.
TEST_F(FontLists, CacheFileIsWrittenOnlyWhenItChanges)
{
    WINDOWFONT::FillFontlistFilter(1);
    std::string const file = WINDOWFONT::FontlistCacheFile().Buf();
    std::string const text = testutil::ReadFile(file);
    ASSERT_NE(text.find("\nDejaVu Sans\n"), std::string::npos) << text;
    struct stat st {};
    auto age = [&] {
        struct timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(utimes(file.c_str(), old), 0);
    };
    auto modified = [&] { return stat(file.c_str(), &st) == 0 && st.st_mtime != 1000000000; };

    age();
    ForgetFontLists();
    WINDOWFONT::FillFontlistFilter(1);
    EXPECT_FALSE(modified()) << "unchanged content is not written again";
    EXPECT_EQ(testutil::ReadFile(file), text);
    EXPECT_GE(WINDOWFONT::FontlistFilter.FindItem("DejaVu Sans"), 0);

    testutil::WriteFile(file, text + "Family Long Gone\n");
    age();
    ForgetFontLists();
    WINDOWFONT::FillFontlistFilter(1);
    EXPECT_TRUE(modified());
    EXPECT_EQ(testutil::ReadFile(file), text);
}

// Loading one font measures its family only up to the wanted cell: the
// start of the family's full list, up to its first entry of that cell or of
// a taller one; no other family is measured, nothing is kept or written.
TEST_F(FontLists, OneFamilyIsMeasuredUpToTheWantedCell)
{
    WSTRINGARRAY full;
    ASSERT_GT(WINDOWFONT::GetFixedFontlist(full, false, 1252, L"DejaVu Sans Mono"), 6);
    std::vector<std::string> const all = Items(full);
    ForgetFontLists();
    unlink(WINDOWFONT::FontlistCacheFile().Buf());
    auto cellOf = [&](size_t i) {
        SIZE c{};
        std::sscanf(all[i].substr(all[i].rfind('|') + 1).c_str(), "%d X %d", &c.cx, &c.cy);
        return c;
    };
    SIZE const third = cellOf(2);
    struct Case {
        SIZE cell;
        size_t count;
        char const* why;
    };
    Case const cases[] = {
        {third, 3, "exact cell"},
        {{third.cx + 5, third.cy}, 0, "the height but not the width: up to the first taller entry"},
        {{1, 1}, 1, "smaller than all: the first entry"},
        {{100, 1000}, all.size(), "taller than all: the whole family"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.why);
        size_t expected = c.count;
        if (expected == 0) {
            while (expected < all.size() && cellOf(expected).cy <= c.cell.cy)
                ++expected;
            ++expected;
        }
        WSTRINGARRAY part;
        EXPECT_EQ(WINDOWFONT::GetFixedFamilyUpTo(part, false, 1252, L"dejavu sans mono", c.cell), int(expected));
        EXPECT_EQ(Items(part), std::vector<std::string>(all.begin(), all.begin() + long(expected)));
    }
    EXPECT_EQ(WINDOWFONT::Fontlist.NumItems(), 0);
    EXPECT_EQ(WINDOWFONT::FontlistFilter.NumItems(), 0);
    EXPECT_NE(access(WINDOWFONT::FontlistCacheFile().Buf(), F_OK), 0) << "the cache file is not written";

    WSTRINGARRAY none;
    EXPECT_EQ(WINDOWFONT::GetFixedFamilyUpTo(none, false, 1252, L"DejaVu Sans", third), 0) << "not fixed-pitch";
    EXPECT_EQ(WINDOWFONT::GetFixedFamilyUpTo(none, false, 1252, L"No Such Family", third), 0);
    testutil::WriteFile(WINDOWFONT::FontlistCacheFile().Buf(), "# header\nDejaVu Sans Mono\n");
    EXPECT_EQ(WINDOWFONT::GetFixedFamilyUpTo(none, false, 1252, L"DejaVu Sans Mono", third), 0)
        << "named in the cache file";
    // A kept list is handed out whole.
    WINDOWFONT::Fontlist.AppendItem(WSTRING(L"Other|9|5 X 11"));
    EXPECT_EQ(WINDOWFONT::GetFixedFamilyUpTo(none, false, 1252, L"DejaVu Sans Mono", third), 1);
}

TEST_F(FontLists, UnreadableCacheMeansMeasuring)
{
    std::string file = WINDOWFONT::FontlistCacheFile().Buf();
    testutil::WriteFile(file, std::string("\x00\xff\\x\n\n", 6));
    WSTRINGARRAY list;
    EXPECT_GT(WINDOWFONT::GetFixedFontlist(list, false, 1252, nullptr), 0);
    EXPECT_EQ(WINDOWFONT::FontlistFilter.FindItem("DejaVu Sans Mono"), -1);
}

// The cache lives in the program's own cache folder; what is put in its
// place that is not a regular file (a FIFO would block the open, a link to
// /dev/zero would never end) is not read, and is replaced by the next write.
TEST_F(FontLists, CacheFileIsTheProgramsOwnAndOnlyARegularFileIsRead)
{
    std::string const file = WINDOWFONT::FontlistCacheFile().Buf();
    char const* cache = getenv("XDG_CACHE_HOME");
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(file, std::string(cache) + "/qor/Tarvo_NotFixedFonts.txt");
    std::string const folder = file.substr(0, file.rfind('/'));
    mkdir(folder.c_str(), 0700);
    for (char const* kind : {"fifo", "zero"}) {
        SCOPED_TRACE(kind);
        unlink(file.c_str());
        if (std::string(kind) == "fifo")
            ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
        else
            ASSERT_EQ(symlink("/dev/zero", file.c_str()), 0);
        ForgetFontLists();
        WSTRINGARRAY list;
        EXPECT_GT(WINDOWFONT::GetFixedFontlist(list, false, 1252, nullptr), 0);
        EXPECT_GE(WINDOWFONT::FontlistFilter.FindItem("DejaVu Sans"), 0);
        struct stat st {};
        ASSERT_EQ(lstat(file.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << "written anew as a file of its own";
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
}

TEST_F(FontLists, FixedFontLoadsTheExactOrTheNearestCell)
{
    MEMORYBITMAP bitmap(10, 10);
    WINDC dc(bitmap, bitmap.GetRect(), true);
    struct Case {
        std::vector<const wchar_t*> entries;
        SIZE cell;
        int size; // 0: nothing loaded
        const char* why;
    };
    const wchar_t* k11 = L"DejaVu Sans Mono|11|7 X 15";
    const wchar_t* k12 = L"DejaVu Sans Mono|12|7 X 16";
    const wchar_t* k13 = L"DejaVu Sans Mono|13|8 X 17";
    const Case cases[] = {
        {{k11, k12}, {7, 16}, 12, "exact"},
        {{k11, k12, k13}, {6, 16}, 12, "the one before the first taller entry has the height"},
        {{k11, k12, k13}, {6, 14}, 11, "the first taller entry"},
        {{k11, k12, k13}, {9, 30}, 13, "nothing taller: the largest"},
        {{L"Other|9|5 X 11", k11, k12}, {5, 11}, 11, "another family's exact entry does not count"},
        {{L"Other|9|5 X 11"}, {5, 11}, 0, "no entry for the family"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetFontLists();
        for (const wchar_t* e : c.entries)
            WINDOWFONT::Fontlist.AppendItem(WSTRING(e));
        COREFONT* font = dc.LoadFixedFontW(L"dejavu sans mono", c.cell, false, -1, 1252);
        if (c.size == 0) {
            EXPECT_EQ(font, nullptr);
            continue;
        }
        ASSERT_NE(font, nullptr);
        EXPECT_EQ(font->Size, c.size);
        EXPECT_TRUE(font->Fixed);
        EXPECT_EQ(font->Smoothing, -1);
        EXPECT_EQ(Utf8(font->Name), "DejaVu Sans Mono");
        dc.DestroyFont(font);
    }
    // Bold entries carry "B" in their size field, which the loaded
    // description keeps.
    ForgetFontLists();
    WINDOWFONT::FontlistBold.AppendItem(WSTRING(L"DejaVu Sans Mono|12B|7 X 16"));
    COREFONT* bold = dc.LoadFixedFont("DejaVu Sans Mono", SIZE{7, 16}, true, 1, 1252);
    ASSERT_NE(bold, nullptr);
    EXPECT_TRUE(bold->Bold);
    EXPECT_EQ(bold->Smoothing, 1);
    dc.DestroyFont(bold);
}

TEST_F(FontLists, FixedFontOfAFamilyThisDesktopLacks)
{
    // "Monaco" is not installed: the measured list of its stand-in serves.
    MEMORYBITMAP bitmap(10, 10);
    WINDC dc(bitmap, bitmap.GetRect(), true);
    WSTRINGARRAY list;
    ASSERT_GT(WINDOWFONT::GetFixedFontlist(list, false, 1252, nullptr), 0);
    int w = 0, h = 0;
    ASSERT_EQ(std::swscanf(list[3]->Token(2, L"|").Buf(), L"%d X %d", &w, &h), 2);
    COREFONT* font = dc.LoadFixedFontW(L"Monaco", SIZE{w, h}, false, 0, 1252);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(Utf8(font->Name), "DejaVu Sans Mono");
    dc.SelectFont(font);
    EXPECT_EQ(dc.GetFontSize(), (SIZE{w, h}));
    dc.DeselectFont(font);
    dc.DestroyFont(font);
    EXPECT_EQ(dc.LoadFixedFontW(L"No Such Family", SIZE{7, 16}, false, 0, 1252), nullptr);
}

// ---------------------------------------------------------------------------
// Controls' fonts

TEST(ControlFont, SetsAndRestoresTheControlsFont)
{
    guitest::PANEWINDOW window(100, 40);
    plat::ViewRef view = window.View();
    const plat::ViewFontStyle standard = plat::GetViewFont(view);
    {
        CONTROLFONT font(view, "12B.Helv", 1252);
        plat::ViewFontStyle now = plat::GetViewFont(view);
        EXPECT_EQ(now.family, "DejaVu Sans");
        EXPECT_EQ(now.pixelSize, 18);
        EXPECT_TRUE(now.bold);
        font.AttachToControl("10.DejaVu Serif", 1252);
        now = plat::GetViewFont(view);
        EXPECT_EQ(now.family, "DejaVu Serif");
        EXPECT_EQ(now.pixelSize, 10);
        EXPECT_FALSE(now.bold);
        font.DetachFromControl();
        EXPECT_EQ(plat::GetViewFont(view).pixelSize, standard.pixelSize);
        font.AttachToControl("14.DejaVu Sans Mono", 1252);
    }
    // The destructor puts the standard font back.
    plat::ViewFontStyle after = plat::GetViewFont(view);
    EXPECT_EQ(after.family, standard.family);
    EXPECT_EQ(after.pixelSize, standard.pixelSize);
}

TEST(ControlFont, StaleControlIsReported)
{
    plat::ViewRef view = nullptr;
    {
        guitest::PANEWINDOW window(100, 40);
        view = window.View();
    }
    testutil::ASSERTRECORDER recorder;
    CONTROLFONT font(view, "12.DejaVu Sans", 1252);
    auto seen = recorder.Take();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Info, "err==noErr");
}
