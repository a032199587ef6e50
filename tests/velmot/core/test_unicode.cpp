// Code pages, the reverse index, UTF-8 and the character classes, checked
// against python3's codecs and Unicode database.
#include "velmot/core/unicode.h"
#include "velmot/core/wstring.h"
#include "tests/velmot/core/text_reference.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cwchar>

#include <map>
#include <sstream>
#include <string>
#include <vector>

using textref::AssertRecorder;

namespace {

UNICODE& U()
{
    return *UNICODE::GetInstance();
}

unsigned Byte(char c)
{
    return static_cast<unsigned char>(c);
}

std::wstring Wide(WSTRING const& w)
{
    return std::wstring(w.Buf(), static_cast<size_t>(w.Length()));
}

struct PAGE {
    char const* Codec;
    UNICODE_CODEPAGE Id;
};

constexpr PAGE kPages[] = {
    {"cp1252", 1252}, {"cp437", 437}, {"cp1250", 1250}, {"cp1251", 1251},  {"cp1253", 1253},
    {"cp737", 737},   {"cp866", 866}, {"cp852", 852},   {"mac_roman", 999}, {"koi8_r", 878},
};

// codec name -> code point per byte (-1 = undefined)
std::map<std::string, std::vector<int>> ReferencePages()
{
    std::map<std::string, std::vector<int>> pages;
    std::istringstream in(textref::Table("pages"));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string codec, token;
        fields >> codec;
        std::vector<int> table;
        while (fields >> token)
            table.push_back(token == "--" ? -1 : std::stoi(token, nullptr, 16));
        pages[codec] = table;
    }
    return pages;
}

} // namespace

// Every byte of every page reads as python's codec reads it; undefined
// bytes read as U+007F. Every defined character writes back to the lowest
// byte that stands for it.
TEST(UnicodePages, EveryByteMatchesPythonCodecs)
{
    auto reference = ReferencePages();
    ASSERT_EQ(std::size(kPages), reference.size());
    for (auto const& page : kPages) {
        SCOPED_TRACE(page.Codec);
        auto const& table = reference[page.Codec];
        ASSERT_EQ(256u, table.size());
        std::string bytes;
        for (int b = 0; b < 256; ++b)
            bytes.push_back(static_cast<char>(b));
        WSTRING whole = U().StringFromCodepage(bytes.data(), 256, page.Id);
        ASSERT_EQ(256, whole.Length());
        for (int b = 0; b < 256; ++b) {
            SCOPED_TRACE(b);
            int expected = table[b] < 0 ? 127 : table[b];
            EXPECT_EQ(expected, U().FromCodepage(static_cast<char>(b), page.Id));
            EXPECT_EQ(expected, whole[b]);
            if (table[b] < 0)
                continue;
            int lowest = b;
            for (int k = 0; k < b; ++k) {
                if (table[k] == table[b])
                    lowest = k;
            }
            EXPECT_EQ(static_cast<unsigned>(lowest), Byte(U().ToForcedCodepageChar(table[b], page.Id)));
        }
    }
}

TEST(UnicodePages, DescriptorsAndFinding)
{
    EXPECT_EQ(10, U().PageCount);
    EXPECT_STREQ("Latin I", U().Pages[0].Name);
    EXPECT_STREQ("8859-1", U().Pages[0].ShortName);
    EXPECT_EQ(0x041B, U().Pages[6].Encoding);
    EXPECT_STREQ("KOI8R", U().Pages[9].Name);
    EXPECT_EQ(0, U().FindCodepage(1252));
    EXPECT_EQ(0, U().FindCodepage(850));
    EXPECT_EQ(8, U().FindCodepage(999));
    EXPECT_EQ(-1, U().FindCodepage(1000));
    // The reverse index stops at U+25FF; the Mac Roman characters beyond it
    // (U+F8FF, the fi and fl ligatures) are still found.
    EXPECT_EQ(0x2600, U().ReverseSize);
    EXPECT_EQ(0xF0u, Byte(U().ToForcedCodepageChar(0xF8FF, 999)));
    EXPECT_EQ(0xDEu, Byte(U().ToForcedCodepageChar(0xFB01, 999)));
}

TEST(UnicodePages, ReadingSpecialPages)
{
    struct CASE {
        unsigned char Byte;
        UNICODE_CODEPAGE Page;
        wchar_t Expected;
    } const cases[] = {
        {0x80, 1252, 0x20AC},
        {0x81, 1252, 127}, // undefined
        {0xC4, 437, 0x2500},
        {0x41, 866, 0x41},
        {0x9A, 878, 0xA0},
        {0x05, 866, 0x05},             // control bytes through the 1252 page
        {0x80, 850, 0x20AC},           // 850 is served by 1252
        {0x80, 1000, 0x20AC},          // and so is 1000
        {0x80, UNICODE_CPSYSTEM, 0x20AC},
        {0x80, UNICODE_CPFLAT, 0x80},
        {0xDB, 999, 0x20AC}, // Mac Roman's euro sign (formerly the currency sign)
    };
    AssertRecorder asserts;
    for (auto const& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << unsigned(c.Byte) << " in " << std::dec << c.Page);
        EXPECT_EQ(c.Expected, U().FromCodepage(static_cast<char>(c.Byte), c.Page));
    }
    EXPECT_EQ(0u, asserts.Count());
}

TEST(UnicodePages, RefusedPagesAreReported)
{
    AssertRecorder asserts;
    EXPECT_EQ(L'@', U().FromCodepage(0x41, 12345));
    EXPECT_TRUE(asserts.Saw("codepage :12345"));
    EXPECT_TRUE(asserts.Saw("idx!=-1"));
    EXPECT_EQ(L'@', U().FromCodepage(0x41, UNICODE_CPUTF8));
    EXPECT_TRUE(asserts.Saw("cp!=UNICODE_CPUTF8"));
    // A whole run is reported once, not per byte.
    size_t before = asserts.Count();
    WSTRING w = U().StringFromCodepage("abcdef", -1, 4711);
    EXPECT_EQ(before + 1, asserts.Count());
    EXPECT_EQ(L"@@@@@@", Wide(w));
}

TEST(UnicodePages, WritingCharacters)
{
    struct CASE {
        wchar_t Char;
        UNICODE_CODEPAGE Page;
        unsigned Expected;
    } const cases[] = {
        {0x2500, 437, 0xC4},
        {0x2500, 1252, '-'},        // box drawing falls back to ASCII
        {0x2554, 1251, '+'},
        {0x4E00, 1252, '?'},
        {0x1F600, 1252, '?'},       // beyond the BMP
        {0x00E4, 1252, 0xE4},
        {0x00E4, 852, 0x84},
        {0x00E4, 999, 0x8A},
        {0x0416, 866, 0x86},
        {0x0416, 878, 0xF6},
        {0x20AC, 1251, 0x88},
        {0x0081, 1252, 0x81},       // C1 controls keep their byte
        {0x0000, 866, 0x00},
        {0x00E4, UNICODE_CPSYSTEM, 0xE4},
        {0x20AC, UNICODE_CPSYSTEM, '?'}, // the system page writes ISO 8859-1
        {0x1234, UNICODE_CPFLAT, 0x34},
        {0x00E4, 4711, 0xE4},       // unknown pages get the ISO 8859-1 byte
        // A character a page lacks never turns into whatever that page has
        // at its ISO 8859-1 byte (a-umlaut is a Cyrillic letter in 866).
        {0x00E4, 866, '?'},
        {0x00E4, 878, '?'},
        {0x00A4, 437, '?'},
    };
    AssertRecorder asserts;
    for (auto const& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << unsigned(c.Char) << " to " << std::dec << c.Page);
        EXPECT_EQ(c.Expected, Byte(U().ToForcedCodepageChar(c.Char, c.Page)));
        wchar_t one[1] = {c.Char};
        char out = 0;
        U().CharsToBytes(one, 1, &out, c.Page);
        EXPECT_EQ(c.Expected, Byte(out));
    }
    EXPECT_EQ(0u, asserts.Count());
}

TEST(UnicodePages, CharAndCodepageFindsTheFirstPage)
{
    struct CASE {
        wchar_t Char;
        int Page;
        unsigned Byte;
    } const cases[] = {
        {0x00E4, 1252, 0xE4}, {0x2591, 437, 0xB0}, {0x0416, 1251, 0xC6}, {0x03A9, 437, 0xEA},
        {0xF8FF, 999, 0xF0},  {0x0000, 1252, 0x00},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << unsigned(c.Char));
        char byte = 0;
        int cp = 0;
        EXPECT_EQ(c.Page, U().ToCharAndCodepage(c.Char, byte, cp));
        EXPECT_EQ(c.Page, cp);
        EXPECT_EQ(c.Byte, Byte(byte));
    }
    char byte = 0;
    int cp = 0;
    EXPECT_EQ(int('?'), U().ToCharAndCodepage(0x4E00, byte, cp));
    EXPECT_EQ('?', byte);
    EXPECT_EQ(1252, cp);
}

TEST(UnicodePages, ConvertBetweenPages)
{
    struct CASE {
        wchar_t Char;
        UNICODE_CODEPAGE From;
        UNICODE_CODEPAGE To;
        unsigned Expected;
    } const cases[] = {
        {0x81, 437, 1252, 0xFC},
        {0xE4, 1252, 437, 0x84},
        {0xE4, 1250, 1252, 0xE4}, // not a DOS pair: the byte stays
        {0xB0, 437, 850, 0xA6},   // the 437 table's look-alikes
        {0x0F, 437, 1252, 0xA4},
        {0x80, 1252, 437, 0x5F},
        // The other DOS pages go through their own tables.
        {0x84, 852, 1252, 0xE4},
        {0x86, 866, 1252, '?'},
        {0xC4, 866, 1252, '-'},
        {0x97, 737, 1252, '?'},
        {0xE4, 1252, 852, 0x84},
        {0xE4, 1252, 866, '?'},
        {0xB0, 1252, 737, 0xF8},
        // From Unicode: line graphics, ISO 8859-1, '?', controls.
        {0x2551, 0, 1252, '"'},
        {0x00FC, 0, 1252, 0xFC},
        {0x0100, 1000, 1252, '?'},
        {0x0009, 0, 1252, 0x09},
    };
    AssertRecorder asserts;
    for (auto const& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << unsigned(c.Char) << std::dec << " " << c.From << "->" << c.To);
        EXPECT_EQ(c.Expected, Byte(U().ConvertCharToCodepage(c.Char, c.From, c.To)));
    }
    EXPECT_EQ(0u, asserts.Count());
    EXPECT_EQ(0x41u, Byte(U().ConvertCharToCodepage(0x41, UNICODE_CPFLAT, 1252)));
    EXPECT_TRUE(asserts.Saw("frompage!=UNICODE_CPFLAT"));
}

TEST(UnicodePages, LineGraphicsAndDosTables)
{
    wchar_t const plus[] = {0x250C, 0x2514, 0x2510, 0x2518, 0x253C, 0x252C, 0x251C, 0x2524, 0x2534,
                            0x2554, 0x255A, 0x2557, 0x255D, 0x2566, 0x2560, 0x2563, 0x2569};
    for (wchar_t c : plus) {
        char out = 0;
        EXPECT_TRUE(U().SimpleLineGraphics(c, &out));
        EXPECT_EQ('+', out);
    }
    char out = 0;
    EXPECT_TRUE(U().SimpleLineGraphics(0x2502, &out));
    EXPECT_EQ('|', out);
    EXPECT_TRUE(U().SimpleLineGraphics(0x2550, &out));
    EXPECT_EQ('=', out);
    EXPECT_FALSE(U().SimpleLineGraphics(0x2501, &out)); // heavy line: not in the table
    EXPECT_FALSE(U().SimpleLineGraphics(L'-', &out));

    EXPECT_EQ(0xA4, STRING::DosToAnsi[0x0F]);
    EXPECT_EQ(0xB6, STRING::DosToAnsi[0x14]);
    EXPECT_EQ(0xA7, STRING::DosToAnsi[0x15]);
    EXPECT_EQ(0x83, STRING::DosToAnsi[0x9F]);
    EXPECT_EQ(0xA0, STRING::DosToAnsi[0xFF]);
    EXPECT_EQ(0x15, STRING::AnsiToDos[0xA7]);
    EXPECT_EQ(0x98, STRING::AnsiToDos[0xFF]);
    for (int b = 0; b < 0x80; ++b) {
        EXPECT_EQ(b, STRING::AnsiToDos[b]);
        if (b != 0x0F && b != 0x14 && b != 0x15) {
            EXPECT_EQ(b, STRING::DosToAnsi[b]);
        }
    }
}

TEST(UnicodeClasses, CellWidthMatchesTheCLibrary)
{
    // The programs on the host count columns with the C library's wcwidth;
    // the screen must count the same, or their cursor and the screen's part.
    // Every code point that wcwidth answers for is compared.
    char const* previous = std::setlocale(LC_CTYPE, nullptr);
    std::string const saved = previous ? previous : "C";
    ASSERT_NE(nullptr, std::setlocale(LC_CTYPE, "C.UTF-8"));
    int mismatches = 0, compared = 0;
    for (uint32_t c = 0x20; c <= 0x10FFFF; ++c) {
        int const want = ::wcwidth(wchar_t(c));
        if (want < 0)
            continue;
        ++compared;
        if (UNICODE::CellWidth(c) != want && ++mismatches < 10)
            ADD_FAILURE() << std::hex << "U+" << c << " wcwidth " << want << ", ours " << UNICODE::CellWidth(c);
    }
    std::setlocale(LC_CTYPE, saved.c_str());
    EXPECT_EQ(0, mismatches);
    EXPECT_GT(compared, 200000);

    struct {
        uint32_t c;
        int width;
    } const cases[] = {
        {'a', 1},     {0x00AD, 1},  {0x0301, 0},  {0x200D, 0},   {0xFE0F, 0},   {0xE0100, 0}, {0x1160, 0},
        {0x231A, 2},  {0x2705, 2},  {0x4E2D, 2},  {0x1F600, 2},  {0x1F3FB, 2},  {0x20000, 2}, {0x1D400, 1},
        {0x2500, 1},  {0xFF61, 1},  {0xD800, 1},  {0x110000, 1}, {0xFFFFFFFF, 1},
    };
    for (auto const& k : cases)
        EXPECT_EQ(k.width, UNICODE::CellWidth(k.c)) << std::hex << "U+" << k.c;
}

TEST(UnicodeClasses, DoubleWidthMatchesEastAsianWidth)
{
    // Python's W and F ranges, checked for every code point.
    std::istringstream in(textref::Table("wide"));
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    std::string first, last;
    while (in >> first >> last)
        ranges.emplace_back(std::stoul(first, nullptr, 16), std::stoul(last, nullptr, 16));
    ASSERT_GT(ranges.size(), 100u);
    size_t r = 0;
    int mismatches = 0;
    for (uint32_t c = 0; c <= 0x10FFFF; ++c) {
        while (r < ranges.size() && ranges[r].second < c)
            ++r;
        bool expected = r < ranges.size() && c >= ranges[r].first;
        if (U().IsDoubleWidthCJK_Full(static_cast<wchar_t>(c)) != expected && ++mismatches < 10)
            ADD_FAILURE() << std::hex << "U+" << c << " expected " << expected;
    }
    EXPECT_EQ(0, mismatches);

    EXPECT_TRUE(U().IsDoubleWidthCJK_Full(0x4E00));
    EXPECT_TRUE(U().IsDoubleWidthCJK_Full(0xFF21));  // fullwidth A
    EXPECT_FALSE(U().IsDoubleWidthCJK_Full(0xFF61)); // halfwidth forms
    EXPECT_FALSE(U().IsDoubleWidthCJK_Full(0xD800)); // surrogates are not characters
    EXPECT_FALSE(U().IsDoubleWidthCJK_Full(0xAB00)); // Ethiopic Extended-A
    EXPECT_TRUE(U().IsDoubleWidthCJK_Full(0x1F600));
    EXPECT_FALSE(U().IsDoubleWidthCJK_Full(-1));
}

TEST(UnicodeClasses, RightToLeft)
{
    for (wchar_t c : {0x05D0, 0x0627, 0x08FF, 0xFB1D, 0xFDFF, 0xFE70, 0x10800, 0x1E900})
        EXPECT_TRUE(U().IsRightToLeft_Full(c)) << std::hex << static_cast<uint32_t>(c);
    for (wchar_t c : {0x0041, 0x058F, 0x0900, 0xFB1C, 0xFF00, 0x1F600})
        EXPECT_FALSE(U().IsRightToLeft_Full(c)) << std::hex << static_cast<uint32_t>(c);
}

TEST(UnicodeInstance, OneInstanceReleasedAndRebuilt)
{
    UNICODE* a = UNICODE::GetInstance();
    EXPECT_EQ(a, UNICODE::GetInstance());
    UNICODE::ReleaseInstance();
    UNICODE* b = UNICODE::GetInstance();
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(0x20AC, b->FromCodepage(static_cast<char>(0x80), 1252));
    UNICODE::ReleaseInstance();
    UNICODE::ReleaseInstance(); // twice is harmless
}

// ---------------------------------------------------------------------------
// UTF-8

namespace {

std::wstring Decode(std::string const& bytes, UNICODE_UTF8STATE* state = nullptr)
{
    WSTRING out;
    U().Utf8Decoder(bytes.data(), bytes.size(), out, state);
    return Wide(out);
}

std::string Hex(std::string const& s)
{
    std::string out;
    char buf[4];
    for (unsigned char c : s) {
        snprintf(buf, sizeof buf, "%02X ", c);
        out += buf;
    }
    return out;
}

bool SameState(UNICODE_UTF8STATE const& a, UNICODE_UTF8STATE const& b)
{
    return a.Value == b.Value && a.CharCount == b.CharCount && a.Remaining == b.Remaining &&
           memcmp(a.Bytes, b.Bytes, static_cast<size_t>(a.CharCount)) == 0;
}

} // namespace

TEST(UnicodeUtf8, EveryCodePointAgainstPython)
{
    std::string reference = textref::Table("allutf8");
    ASSERT_GT(reference.size(), 4000000u);
    std::wstring chars;
    for (uint32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c < 0xD800 || c > 0xDFFF)
            chars.push_back(static_cast<wchar_t>(c));
    }
    WSTRING all(chars.data(), static_cast<int32_t>(chars.size()));
    STRING encoded = all.AsUtf8();
    ASSERT_EQ(reference.size(), static_cast<size_t>(encoded.Length()));
    EXPECT_TRUE(memcmp(reference.data(), encoded.Buf(), reference.size()) == 0);

    WSTRING decoded;
    EXPECT_EQ(all.Length(), U().Utf8Decoder(reference.data(), reference.size(), decoded, nullptr));
    EXPECT_TRUE(Wide(decoded) == Wide(all));
}

TEST(UnicodeUtf8, EncoderForms)
{
    struct CASE {
        wchar_t Char;
        char const* Bytes;
    } const cases[] = {
        {0x41, "\x41"},
        {0x00E4, "\xC3\xA4"},
        {0x07FF, "\xDF\xBF"},
        {0x20AC, "\xE2\x82\xAC"},
        {0x1F600, "\xF0\x9F\x98\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
        // Values without a UTF-8 form become U+FFFD instead of bytes that
        // strict readers refuse.
        {0xD800, "\xEF\xBF\xBD"},
        {0x110000, "\xEF\xBF\xBD"},
        {-1, "\xEF\xBF\xBD"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << static_cast<uint32_t>(c.Char));
        BINARY b = U().Utf8Encoder(c.Char);
        EXPECT_EQ(BINARY_DEFAULTBLOCK, b.BlockSize);
        EXPECT_EQ(Hex(c.Bytes), Hex(std::string(b.Buffer, static_cast<size_t>(b.StrLen))));
    }
    BINARY nul = U().Utf8Encoder(0);
    EXPECT_EQ(1, nul.StrLen);
}

TEST(UnicodeUtf8, MalformedInput)
{
    struct CASE {
        char const* Name;
        std::string Bytes;
        std::wstring Chars;
    } const cases[] = {
        {"two bytes", "\xC3\xA4", L"\x00E4"},
        {"four bytes", "\xF0\x9F\x98\x80", L"\U0001F600"},
        {"last code point", "\xF4\x8F\xBF\xBF", L"\U0010FFFF"},
        {"before the surrogates", "\xED\x9F\xBF", L"\xD7FF"},
        // Overlong forms would smuggle NUL and '/' past filters.
        {"overlong NUL", std::string("\xC0\x80", 2), L"\xFFFD"},
        {"overlong slash", "\xC0\xAF", L"\xFFFD"},
        {"overlong 2-byte max", "\xC1\xBF", L"\xFFFD"},
        {"overlong 3", "\xE0\x80\x80", L"\xFFFD"},
        {"overlong 3 max", "\xE0\x9F\xBF", L"\xFFFD"},
        {"overlong 4", "\xF0\x8F\xBF\xBF", L"\xFFFD"},
        {"surrogate", "\xED\xA0\x80", L"\xFFFD"},
        {"surrogate pair in CESU form", "\xED\xA0\xBD\xED\xB8\x80", L"\xFFFD\xFFFD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", L"\xFFFD"},
        {"F5 lead", "\xF5\x80\x80\x80", L"\xFFFD"},
        // Bytes that begin nothing, or sequences broken off, stand for
        // themselves (hosts still send ISO 8859-1 in UTF-8 sessions).
        {"broken by ASCII", "\xC3\x41", L"\x00C3\x0041"},
        {"broken three", "\xE2\x82\x41", L"\x00E2\x0082\x0041"},
        {"stray continuation", "\x80\xBF", L"\x0080\x00BF"},
        {"five-byte lead", "\xF8\x88\x80\x80\x80", L"\x00F8\x0088\x0080\x0080\x0080"},
        {"FF FE", "\xFF\xFE", L"\x00FF\x00FE"},
        {"lead breaks lead", "\xC3\xC3\xA4", L"\x00C3\x00E4"},
        {"cut at the end", "ab\xE2\x82", L"ab\x00E2\x0082"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_TRUE(Decode(c.Bytes) == c.Chars) << Hex(c.Bytes);
    }
}

TEST(UnicodeUtf8, StateCarriesSequencesAcrossCalls)
{
    UNICODE_UTF8STATE state;
    WSTRING out;
    EXPECT_EQ(0, U().Utf8Decoder("\xC3", 1, out, &state));
    EXPECT_EQ(1, state.Remaining);
    EXPECT_EQ(1, U().Utf8Decoder("\xA4", 1, out, &state));
    EXPECT_EQ(L"\x00E4", Wide(out));
    EXPECT_EQ(0, state.Remaining);

    // Length -1 reads up to the terminator.
    WSTRING more;
    EXPECT_EQ(3, U().Utf8Decoder("a\xC3\xA4z", static_cast<size_t>(-1), more, nullptr));

    // A state no decoder could leave behind is started afresh.
    UNICODE_UTF8STATE garbage;
    garbage.Remaining = 7;
    garbage.CharCount = 99;
    WSTRING g;
    U().Utf8Decoder("\xC3\xA4", 2, g, &garbage);
    EXPECT_EQ(L"\x00E4", Wide(g));
}

// The channel cuts the stream anywhere: decoding in two or three pieces
// with one state must give exactly what one call gives.
TEST(UnicodeUtf8, SplitAnywhereEqualsOneShot)
{
    std::string const corpus = std::string("ASCII \xC3\xA4\xC3\xB6 \xE2\x82\xAC \xF0\x9F\x98\x80 \xE4\xB8\x80|") +
                               "\xC0\x80|\xED\xA0\x80|\xC3\x41|\xE2\x82|\xF0\x9F\x98|\x80\xBF|\xF8|\xC3\xC3\xA4|" +
                               "\xF4\x90\x80\x80|\xE0\x9F\xBF|end\xF0\x9F";
    UNICODE_UTF8STATE whole_state;
    std::wstring whole = Decode(corpus, &whole_state);
    for (size_t k = 0; k <= corpus.size(); ++k) {
        UNICODE_UTF8STATE st;
        std::wstring parts = Decode(corpus.substr(0, k), &st);
        parts += Decode(corpus.substr(k), &st);
        EXPECT_TRUE(parts == whole) << "split at " << k;
        EXPECT_TRUE(SameState(st, whole_state)) << "split at " << k;
    }
    std::string const shortcorpus = "x\xF0\x9F\x98\x80\xC3\x41\xE2\x82\xACy\xED\xA0\x80";
    std::wstring shortwhole = Decode(shortcorpus, nullptr);
    for (size_t i = 0; i <= shortcorpus.size(); ++i) {
        for (size_t j = i; j <= shortcorpus.size(); ++j) {
            UNICODE_UTF8STATE st;
            std::wstring parts = Decode(shortcorpus.substr(0, i), &st);
            parts += Decode(shortcorpus.substr(i, j - i), &st);
            parts += Decode(shortcorpus.substr(j), &st);
            EXPECT_TRUE(parts == shortwhole) << i << "," << j;
        }
    }
    // Byte by byte.
    UNICODE_UTF8STATE st;
    std::wstring bytewise;
    for (char c : corpus)
        bytewise += Decode(std::string(1, c), &st);
    EXPECT_TRUE(bytewise == whole);
}

// The one-byte step gives the decoder's characters and states wherever it
// takes a byte, and leaves the state alone where it hands the byte on.
TEST(UnicodeUtf8, StepAgreesWithTheDecoder)
{
    std::string const corpus = std::string("A\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80\xE4\xB8\x80") +
                               "\xC0\x80\xED\xA0\x80\xC3\x41\xE2\x82\xF0\x9F\x98\x80\xBF\xF8\xC3\xC3\xA4" +
                               "\xF4\x90\x80\x80\xE0\x9F\xBFz";
    UNICODE_UTF8STATE stepped, decoded;
    for (unsigned char b : corpus) {
        UNICODE_UTF8STATE const before = stepped;
        wchar_t c = 0;
        int const step = UNICODE::Utf8Step(b, stepped, &c);
        std::wstring const expected = Decode(std::string(1, char(b)), &decoded);
        if (step < 0) {
            EXPECT_TRUE(SameState(stepped, before)) << int(b);
            // The caller hands the byte to the decoder.
            stepped = decoded;
            continue;
        }
        EXPECT_TRUE(SameState(stepped, decoded)) << int(b);
        EXPECT_EQ(step == 1 ? std::wstring(1, c) : std::wstring(), expected) << int(b);
    }
}

// Large inputs are decoded in slices; a sequence may straddle a slice edge.
TEST(UnicodeUtf8, LongInputAcrossSlices)
{
    std::string text;
    std::wstring expected;
    for (int i = 0; i < 70000; ++i) {
        text += "\xE2\x82\xAC";
        expected += L'\x20AC';
        if (i % 7 == 0) {
            text += "\xF0\x9F\x98\x80";
            expected += L'\U0001F600';
        }
    }
    EXPECT_TRUE(Decode(text) == expected);
}
