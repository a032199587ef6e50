#include "program/shell/helper.h"

#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// A session as the caret notation sees it.
class SOURCE final : public HELPER::CTRLSOURCE {
public:
    std::string HostUsername() override { return User; }
    std::string HostPassword() override { return Password; }
    std::string HostName() override { return Host; }
    int InstanceNumber() override { return Instance; }
    int SessionSerial() override { return Serial; }

    std::string User = "alice";
    std::string Password = "s3cret";
    std::string Host = "a\\b/c:d*e?f\"g<h>i|j k";
    int Instance = 3;
    int Serial = 1;
};

// The wide expansion of text in a buffer of size characters, as a string of
// the expanded characters (the returned length decides, NULs included).
std::wstring Expand(SOURCE& s, std::wstring const& text, int size)
{
    std::vector<wchar_t> buffer(static_cast<size_t>(size) + 8, L'#');
    size_t const n = std::min(text.size(), static_cast<size_t>(size - 1));
    std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), buffer.begin());
    buffer[n] = 0;
    int const len = HELPER::MakeCtrl(s, buffer.data(), size);
    EXPECT_GE(len, 0);
    EXPECT_LT(len, size) << "the expansion keeps room for its terminator";
    EXPECT_EQ(buffer[static_cast<size_t>(len)], 0);
    for (size_t i = static_cast<size_t>(size); i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], L'#') << "nothing is written past size";
    return std::wstring(buffer.data(), static_cast<size_t>(len));
}

} // namespace

TEST(MakeCtrl, CaretNotation)
{
    SOURCE s;
    gDateTime.Day = 7;
    gDateTime.Month = 3;
    gDateTime.Year = 2031;
    gDateTime.Hour = 4;
    gDateTime.Minute = 5;
    gDateTime.Second = 9;
    struct {
        wchar_t const* in;
        std::wstring out;
    } const cases[] = {
        {L"a^Mb", std::wstring(L"a\rb")},
        {L"^^", L"^"},
        {L"end^", L"end^"},
        {L"^(41)", L"A"},
        {L"^(4g)x", std::wstring(L"\b4g)x")},
        {L"^(4", std::wstring(L"\b4")},
        {L"a^(00)b", std::wstring(L"a\0b", 3)},
        {L"a^@b", std::wstring(L"a\0b", 3)},
        {L"^!", std::wstring(1, HELPER_BREAKMARKER)},
        {L"^%:^&", L"alice:s3cret"},
        {L"^+", L"a_b_c_d_e_f_g_h_i_j k"},
        {L"^1.^2.^3 ^4:^5:^6", L"07.03.31 04:05:09"},
        {L"^8", L"03"},
        {L"^[", std::wstring(1, 27)},
        {L"^m", std::wstring(1, 13)},
        {L"^ ", std::wstring(1, 0)},
        {L"^\x00e9", std::wstring(1, 0xE9 & 31)},
    };
    for (auto const& c : cases)
        EXPECT_EQ(Expand(s, c.in, 64), c.out) << std::wstring(c.in).size();
    s.Serial = 12;
    EXPECT_EQ(Expand(s, L"^8", 64), L"0312") << "the session's number follows from 2 on";
}

TEST(MakeCtrl, LongExpansionsAreCutAtTheBuffer)
{
    SOURCE s;
    s.Password = std::string(500, 'p');
    for (int size : {1, 2, 3, 5, 16, 300}) {
        std::wstring const out = Expand(s, L"x^&y^%", size);
        EXPECT_EQ(static_cast<int>(out.size()), std::min(size - 1, 1 + 127 + 1 + 5)) << size;
    }
    // A text without its terminator inside the buffer is read up to size.
    std::vector<wchar_t> full(8, L'z');
    EXPECT_EQ(HELPER::MakeCtrl(s, full.data(), 8), 7);
    EXPECT_EQ(full[7], 0);
}

TEST(MakeCtrl, NarrowFormGoesThroughTheWideOne)
{
    SOURCE s;
    struct {
        char const* in;
        std::string out;
    } const cases[] = {
        {"^(e9)^!", std::string("\xe9\xf8")},
        {"a^Jb", std::string("a\nb")},
        {"^(00)", std::string(1, '\0')},
        {"\xff^^", std::string("\xff^")},
    };
    for (auto const& c : cases) {
        char buffer[32] = {};
        strcpy(buffer, c.in);
        int n = HELPER::MakeCtrl(s, buffer, sizeof buffer);
        EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), c.out) << c.in;
    }
    char tiny[4] = "^^^";
    EXPECT_EQ(HELPER::MakeCtrl(s, tiny, 2), 1);
    EXPECT_STREQ(tiny, "^");
}

TEST(Helper, BeautyBytes)
{
    EXPECT_EQ(std::string(HELPER::BeautyBytes(1100, nullptr).Buf()).rfind("1100 ", 0), 0u);
    EXPECT_STREQ(HELPER::BeautyBytes(1200, nullptr).Buf(), "1.2 KB");
    EXPECT_STREQ(HELPER::BeautyBytes(1126400, nullptr).Buf(), "1100.0 KB");
    EXPECT_STREQ(HELPER::BeautyBytes(1153434, "/s").Buf(), "1.10 MB/s");
}

TEST(Helper, ListsAndTexts)
{
    char text[] = "a||bb|c|";
    char* table[8] = {};
    EXPECT_EQ(HELPER::SplitList(table, text, 8), 3);
    EXPECT_STREQ(table[0], "a");
    EXPECT_STREQ(table[1], "bb");
    EXPECT_STREQ(table[2], "c");
    EXPECT_EQ(table[3], nullptr);
    char rest[] = "1|2|3|4|5";
    char* small[4] = {};
    EXPECT_EQ(HELPER::SplitList(small, rest, 4), 3);
    EXPECT_STREQ(small[2], "3|4|5") << "after size - 2 items the rest is one item";

    char const* list[] = {"xyz", "bc", nullptr};
    EXPECT_EQ(HELPER::FindInList("abcd", list), 1);
    EXPECT_EQ(HELPER::FindInList("none", list), -1);

    EXPECT_EQ(HELPER::Replace("aXbXX", "X", "XY"), "aXYbXYXY") << "the search goes on after the replacement";
    EXPECT_EQ(HELPER::Replace("abc", "", "Z"), "abc");
    EXPECT_STREQ(HELPER::StripTilde("~F&ile").Buf(), "File");

    STRING title, filter;
    HELPER::ConvertFilenameTitle("Open\nText|*.txt;*.log|All|*", title, filter);
    EXPECT_STREQ(title.Buf(), "Open");
    EXPECT_STREQ(filter.Buf(), "Text\n*.txt|*.log\nAll\n*");
    HELPER::ConvertFilenameTitle("Plain", title, filter);
    EXPECT_STREQ(title.Buf(), "Plain");
    EXPECT_STREQ(filter.Buf(), "");

    struct {
        char const* text;
        int url;
    } const urls[] = {{"http://a.b", 1}, {"://x.y", 1}, {"ht1p://a.b", 0}, {"http:/a.b", 0}, {"http://ab", 0}, {"", 0}};
    for (auto const& u : urls)
        EXPECT_EQ(HELPER::IsUrlString(STRING(u.text)), u.url) << u.text;

    char host[] = "host:22";
    EXPECT_EQ(HELPER::FindColonForPort(host), host + 4);
    char v6[] = "[::1]:22";
    EXPECT_EQ(HELPER::FindColonForPort(v6), v6 + 5);
    char v6bare[] = "[::1]";
    EXPECT_EQ(HELPER::FindColonForPort(v6bare), nullptr);
}

TEST(Helper, SlidingBuffer)
{
    char buffer[6] = {};
    int pos = 0;
    for (char c : std::string("abcdefg"))
        HELPER::FillUp(buffer, 6, c, &pos, 2);
    EXPECT_STREQ(buffer, "cdefg");
    EXPECT_EQ(pos, 5);
    wchar_t wide[4] = {};
    int wpos = 0;
    for (wchar_t c : std::wstring(L"wxyz"))
        HELPER::FillUpWide(wide, 4, c, &wpos, 1);
    EXPECT_STREQ(wide, L"xyz");
}

TEST(Helper, ChoicesOfSettingsDialogs)
{
    EXPECT_EQ(HELPER::CharsetFromIndex(10), -1);
    EXPECT_EQ(HELPER::CharsetToIndex(850), 0);
    EXPECT_EQ(HELPER::CharsetFromIndex(0), 1252);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(HELPER::CharsetToIndex(HELPER::CharsetFromIndex(i)), i);
    EXPECT_EQ(HELPER::CharsetToIndex(12345), -1);
    int const boxes[] = {0, 1, 2, 7};
    int const settings[] = {-1, 1, 0, 0};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(HELPER::CheckboxToAntialias(boxes[i]), settings[i]);
    EXPECT_EQ(HELPER::AntialiasToCheckbox(-1), 0);
    EXPECT_EQ(HELPER::AntialiasToCheckbox(1), 1);
    EXPECT_EQ(HELPER::AntialiasToCheckbox(5), 2);
}

TEST(Helper, Files)
{
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("a.qor"), "x\r\nsecond\n\nlast");
    testutil::WriteFile(dir.file("b.QOR"), "");
    testutil::WriteFile(dir.file("c.txt"), "");
    mkdir(dir.file("d.qor").c_str(), 0755);

    FILE* f = HELPER::fopen(dir.file("a.qor").c_str(), "r", -1);
    ASSERT_NE(f, nullptr);
    char line[4];
    EXPECT_EQ(HELPER::ReadLine(line, sizeof line, f), 1);
    EXPECT_STREQ(line, "x");
    EXPECT_EQ(HELPER::ReadLine(line, sizeof line, f), 3) << "a long line comes in pieces";
    fclose(f);
    EXPECT_EQ(HELPER::FileSize(dir.file("a.qor").c_str()), 15);
    EXPECT_EQ(HELPER::FileSize(dir.file("none").c_str()), -1);

    char* table[8] = {};
    int n = HELPER::FindFiles("*.qor", dir.path().c_str(), 0, table, 8);
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i) {
        names.emplace_back(table[i]);
        free(table[i]);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.qor", "b.QOR"})) << "folders are left out";
    EXPECT_EQ(table[n], nullptr);
    char* one[2] = {};
    EXPECT_EQ(HELPER::FindFiles("*", dir.path().c_str(), 1, one, 2), 1) << "at most size - 1 entries";
    EXPECT_EQ(std::string(one[0]).rfind(dir.path(), 0), 0u) << "with the folder";
    free(one[0]);

    errno = 0;
    EXPECT_EQ(HELPER::fopenloop(dir.file("missing").c_str(), "r", -1), nullptr) << "gives up at once";
}
