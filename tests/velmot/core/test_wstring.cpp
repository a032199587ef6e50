// Wide strings: construction from byte text, UTF-16 in and out (surrogate
// pairs joined and split, never cut), editing, and the byte strings made
// from wide text.
#include "velmot/core/unicode.h"
#include "velmot/core/wstring.h"
#include "tests/velmot/core/text_reference.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using textref::AssertRecorder;

namespace {

std::wstring Wide(WSTRING const& w)
{
    return std::wstring(w.Buf(), static_cast<size_t>(w.Length()));
}

std::string Bytes(STRING const& s)
{
    return std::string(s.Buf(), static_cast<size_t>(s.Length()));
}

} // namespace

TEST(Wstring, ConstructionFromByteText)
{
    struct CASE {
        char const* Name;
        WSTRING Made;
        std::wstring Expected;
    };
    STRING cyrillic("\xC6\xE8", 1251);
    STRING utf8("\xE2\x82\xAC", UNICODE_CPUTF8);
    CASE const cases[] = {
        {"UTF-8", WSTRING("\xC3\xA4", UNICODE_CPUTF8), L"\x00E4"},
        {"same bytes in 1252", WSTRING("\xC3\xA4", 1252), L"\x00C3\x00A4"},
        {"length", WSTRING("abcdef", 3, 1252), L"abc"},
        {"437", WSTRING("\xC4\xB0", 437), L"\x2500\x2591"},
        {"STRING keeps its page", WSTRING(cyrillic), L"\x0416\x0438"},
        // A STRING that holds UTF-8 is decoded, not refused byte by byte.
        {"STRING in UTF-8", WSTRING(utf8), L"\x20AC"},
        {"wide with length", WSTRING(L"wide text", 4), L"wide"},
        {"four-byte UTF-8", WSTRING("\xF0\x9F\x98\x80", UNICODE_CPUTF8), L"\U0001F600"},
    };
    AssertRecorder asserts;
    for (auto const& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_TRUE(Wide(c.Made) == c.Expected);
        EXPECT_TRUE(c.Made.IsSet());
        EXPECT_EQ(c.Made.Length() * 4, c.Made.StrLen);
    }
    EXPECT_EQ(0u, asserts.Count());

    WSTRING unset;
    EXPECT_FALSE(unset.IsSet());
    EXPECT_STREQ(L"", unset.Buf());
    WSTRING empty(L"");
    EXPECT_TRUE(empty.IsSet());
    EXPECT_EQ(0, empty.Length());
    WSTRING fromnull(static_cast<char const*>(nullptr), 1252);
    EXPECT_FALSE(fromnull.IsSet());
    WSTRING decoded;
    decoded.FromUtf8("");
    EXPECT_TRUE(decoded.IsSet());

    WSTRING marker(L"abc", -2); // a code-page marker passed as a length
    EXPECT_TRUE(asserts.Saw("len!=UNICODE_CPSYSTEM && len!=UNICODE_CPFLAT"));
    EXPECT_EQ(L"abc", Wide(marker));
}

TEST(Wstring, Utf16PairsJoinAndSplit)
{
    // In: pairs join, also when the halves arrive in separate calls; a lone
    // half is kept as it is.
    unsigned short const units[] = {'a', 0xD83D, 0xDE00, 'b', 0xDC00, 0xD800, 0};
    WSTRING w;
    w.Append(units, -1);
    EXPECT_TRUE(Wide(w) == (std::wstring(L"a\U0001F600b") + wchar_t(0xDC00) + wchar_t(0xD800)));
    w.Append(static_cast<unsigned short>(0xDF48)); // completes the trailing U+D800
    EXPECT_EQ(0x10348, w[w.Length() - 1]);
    WSTRING split;
    split.Append(units + 1, 1);
    split.Append(units + 2, 1);
    EXPECT_TRUE(Wide(split) == L"\U0001F600");

    // Out: a character beyond the BMP takes two units and is never cut in
    // half by a short buffer.
    WSTRING text(L"x\U0001F600y");
    unsigned short buf[8];
    EXPECT_EQ(4, text.ToUniChars(buf, 8));
    EXPECT_EQ((std::vector<unsigned short>{'x', 0xD83D, 0xDE00, 'y', 0}), std::vector<unsigned short>(buf, buf + 5));
    buf[2] = 0x7777;
    EXPECT_EQ(1, text.ToUniChars(buf, 2));
    EXPECT_EQ('x', buf[0]);
    EXPECT_EQ(0, buf[1]);
    // A buffer of exactly the length gets no terminator.
    buf[4] = 0x7777;
    EXPECT_EQ(4, text.ToUniChars(buf, 4));
    EXPECT_EQ(0x7777, buf[4]);

    // A value beyond U+10FFFF has no UTF-16 form.
    WSTRING beyond;
    beyond.Append(static_cast<wchar_t>(0x110000));
    EXPECT_EQ(1, beyond.ToUniChars(buf, 8));
    EXPECT_EQ(0xFFFD, buf[0]);

    // Round trip of every plane through UTF-16 and UTF-8.
    WSTRING planes;
    for (uint32_t c : {0x41u, 0xE4u, 0xFFFDu, 0x10000u, 0x1F600u, 0x2A6D6u, 0xE0001u, 0x10FFFFu})
        planes.Append(static_cast<wchar_t>(c));
    std::vector<unsigned short> u16(32);
    int32_t n = planes.ToUniChars(u16.data(), 32);
    WSTRING back;
    back.Append(u16.data(), n);
    EXPECT_TRUE(Wide(back) == Wide(planes));
    WSTRING via8;
    STRING utf8 = planes.AsUtf8();
    via8.FromUtf8(utf8.Buf(), utf8.Length());
    EXPECT_TRUE(Wide(via8) == Wide(planes));
}

TEST(Wstring, ByteStringsFromWideText)
{
    WSTRING text(L"\x00E4\x0416\x20AC\x2500\U0001F600");
    struct CASE {
        UNICODE_CODEPAGE Page;
        std::string Expected;
    } const cases[] = {
        {1252, "\xE4?\x80-?"},
        {1251, "?\xC6\x88-?"},
        {866, "?\x86?\xC4?"},
        {UNICODE_CPSYSTEM, "\xE4?" "?-?"},
        {UNICODE_CPUTF8, "\xC3\xA4\xD0\x96\xE2\x82\xAC\xE2\x94\x80\xF0\x9F\x98\x80"},
    };
    AssertRecorder asserts;
    for (auto const& c : cases) {
        SCOPED_TRACE(c.Page);
        STRING s(text, c.Page);
        EXPECT_EQ(c.Expected, Bytes(s));
        EXPECT_EQ(c.Page, s.CodePage);
        STRING p(text.Buf(), c.Page);
        EXPECT_EQ(c.Expected, Bytes(p));
    }
    EXPECT_EQ(0u, asserts.Count());
    EXPECT_EQ("?\xC6", Bytes(STRING(L"\x00E4\x0416\x0416", 2, 1251)));
    STRING cut(L"abcdef", 3, 1252);
    EXPECT_EQ("abc", Bytes(cut));
    WSTRING unset;
    EXPECT_FALSE(STRING(unset, 1252).IsSet());
    STRING marker(L"ab", -3, 1252);
    EXPECT_TRUE(asserts.Saw("length!=UNICODE_CPSYSTEM && length!=UNICODE_CPFLAT"));
}

TEST(Wstring, Editing)
{
    AssertRecorder asserts;
    WSTRING w(L"Hello World");
    w.Insert(L"big ", 6);
    EXPECT_EQ(L"Hello big World", Wide(w));
    w.Insert(L"!", w.Length());
    w.Insert(L"never", 99);
    EXPECT_EQ(L"Hello big World!", Wide(w));
    w.Insert(w.Buf(), 0); // its own buffer is refused
    EXPECT_TRUE(asserts.Saw("wtext!=wbuf"));
    EXPECT_EQ(L"Hello big World!", Wide(w));

    w.Replace(L"o", L"\x00F6\x00F6");
    EXPECT_EQ(L"Hell\x00F6\x00F6 big W\x00F6\x00F6rld!", Wide(w));
    w.Replace(L"\x00F6\x00F6", L"o");
    w.CutLeft(6);
    EXPECT_EQ(L"big World!", Wide(w));
    w.CutRight(1);
    w.Cut(3);
    EXPECT_EQ(L"big", Wide(w));
    w.CutRight(99);
    EXPECT_EQ(0, w.Length());
    EXPECT_TRUE(w.IsSet());
    w.Cut(-1);
    EXPECT_TRUE(asserts.Saw("newlength>=0"));

    WSTRING t(L"  \tpadded  ");
    t.Trim('r');
    EXPECT_EQ(L"  \tpadded", Wide(t));
    t.Trim('B');
    EXPECT_EQ(L"padded", Wide(t));
    t.Trim('X');
    EXPECT_TRUE(asserts.Saw("how=='L' || how=='R' || how=='B'"));

    WSTRING c(L"stra\x00DF" L"e \x0436\x00E4 \U00010428");
    c.ToUpper();
    EXPECT_EQ(L"STRA\x00DF" L"E \x0416\x00C4 \U00010400", Wide(c));
    c.ToLower();
    EXPECT_EQ(L"stra\x00DF" L"e \x0436\x00E4 \U00010428", Wide(c));

    WSTRING f;
    EXPECT_EQ(9, f.Format(L"%d-%ls-%04x", 42, L"\x20AC", 0xbeef));
    EXPECT_EQ(L"42-\x20AC-beef", Wide(f));
    EXPECT_EQ(2, f.FormatAppend(L"%lc!", static_cast<wint_t>(L'x')));
    EXPECT_EQ(L"42-\x20AC-beefx!", Wide(f));
    // Too long for the formatting buffer: reported, and the length returned
    // is what the string holds.
    std::wstring big(9000, L'z');
    int n = f.Format(L"%ls", big.c_str());
    EXPECT_TRUE(asserts.Saw("rc>=0 && rc<nwbufmax-1"));
    EXPECT_EQ(f.Length(), n);
    EXPECT_LE(n, 8190);
}

TEST(Wstring, SearchTokensAndSlices)
{
    WSTRING w(L"a,b;;c\x20AC,d");
    EXPECT_EQ(6, w.Pos(L'\x20AC'));
    EXPECT_EQ(-1, w.Pos(L'a', 1));
    EXPECT_EQ(5, w.Pos(L"c\x20AC"));
    EXPECT_EQ(-1, w.Pos(L"b", 50));
    int32_t pos = -5;
    EXPECT_TRUE(w.Find(L";;", &pos));
    EXPECT_EQ(3, pos);
    EXPECT_FALSE(w.Find(L'q', &pos));
    EXPECT_EQ(-1, pos);

    EXPECT_EQ(5, w.NumTokens(L",;"));
    EXPECT_EQ(L"b", Wide(w.Token(1, L",;")));
    WSTRING empty = w.Token(2, L",;");
    EXPECT_TRUE(empty.IsSet());
    EXPECT_EQ(0, empty.Length());
    EXPECT_EQ(L"c\x20AC", Wide(w.Token(3, L",;")));
    EXPECT_EQ(L"b;;c\x20AC,d", Wide(w.Token(1, L",", 1)));
    EXPECT_FALSE(w.Token(9, L",").IsSet());
    EXPECT_TRUE(w.Token(9, L",", STRING::TOKEN_EMPTYNOTUNSET).IsSet());

    EXPECT_EQ(L"b;;", Wide(w.Substr(2, 3)));
    EXPECT_EQ(L"\x20AC,d", Wide(w.Substr(6)));
    EXPECT_TRUE(w.Substr(50, 2).IsSet());
    EXPECT_EQ(0, w.Substr(50, 2).Length());
    EXPECT_EQ(L"a,", Wide(w.Left(2)));
    EXPECT_EQ(L",d", Wide(w.Right(2)));
    EXPECT_EQ(Wide(w), Wide(w.Right(99)));
    EXPECT_EQ(0, w.Left(0).Length());

    EXPECT_NE(0, WSTRING::WSTRCMP(L"Abc", L"abc"));
    EXPECT_EQ(0, WSTRING::WSTRCMP(L"abc", L"abc"));
    EXPECT_EQ(0, WSTRING::WSTRCMP(nullptr, nullptr, true));
    EXPECT_EQ(1, WSTRING::WSTRCMP(L"x", nullptr, true));

    AssertRecorder asserts;
    EXPECT_EQ(L'a', w[0]);
    EXPECT_EQ(0, w[w.Length()]);
    EXPECT_TRUE(asserts.Saw("i>=0 && i<this->StrLen"));

    EXPECT_EQ(-42, static_cast<int>(WSTRING(L"-42abc")));
    EXPECT_DOUBLE_EQ(2.5, static_cast<double>(WSTRING(L"2.5")));
    EXPECT_EQ(0, static_cast<int>(WSTRING()));
}

TEST(Wstring, CopiesAndAliases)
{
    WSTRING a(L"\U0001F600 text");
    WSTRING b(a);
    EXPECT_EQ(Wide(a), Wide(b));
    b.Append(L'!');
    EXPECT_NE(Wide(a), Wide(b));
    b = b;
    EXPECT_EQ(L"\U0001F600 text!", Wide(b));
    b.Append(b);
    EXPECT_EQ(L"\U0001F600 text!\U0001F600 text!", Wide(b));
    b = b.Buf() + 2; // assigning a piece of its own text
    EXPECT_EQ(L"text!\U0001F600 text!", Wide(b));
    WSTRING moved(std::move(b));
    EXPECT_EQ(L"text!\U0001F600 text!", Wide(moved));
    WSTRING assigned;
    assigned = STRING("\xE4", 1252);
    EXPECT_EQ(L"\x00E4", Wide(assigned));
    assigned = "\x80";
    EXPECT_EQ(L"\x20AC", Wide(assigned));
    // A long text crosses block boundaries without losing characters.
    WSTRING longer;
    std::wstring expected;
    for (int i = 0; i < 5000; ++i) {
        longer.Append(static_cast<wchar_t>(0x10000 + i));
        expected += static_cast<wchar_t>(0x10000 + i);
    }
    EXPECT_TRUE(Wide(longer) == expected);
}

// ---------------------------------------------------------------------------
// Platform strings

namespace {

plat::Text Units(std::u16string const& units)
{
    return plat::Text::FromUnits(units);
}

} // namespace

TEST(PlatformText, NarrowStringsKeepWhat1252CanShow)
{
    struct CASE {
        char const* Name;
        plat::Text Text;
        std::string Bytes;
    } const cases[] = {
        {"ASCII word", plat::Text::FromLatin1("terminal"), "terminal"},
        {"Latin-1 and euro", Units(u"Gr\u00FC\u00DFe \u20AC"), "Gr\xFC\xDF" "e \x80"},
        // Other scripts used to give an empty string; now each character
        // the page lacks is one '?', a surrogate pair included.
        {"Cyrillic", Units(u"\u0416\u0443\u043A!"), "??" "?!"},
        {"emoji pair", Units(u"a\U0001F600b"), "a?b"},
        {"box drawing", Units(u"\u2554\u2550\u2557"), "+=+"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.Name);
        STRING s(c.Text);
        EXPECT_EQ(c.Bytes, Bytes(s));
        EXPECT_EQ(1252, s.CodePage);
        STRING assigned("old", 1251);
        assigned = c.Text;
        EXPECT_EQ(c.Bytes, Bytes(assigned));
        EXPECT_EQ(1252, assigned.CodePage);
    }
    EXPECT_FALSE(STRING(plat::Text()).IsSet());

    EXPECT_EQ("42", Bytes(STRING(plat::Number(int32_t{42}))));
    EXPECT_EQ("-7", Bytes(STRING(plat::Number(int32_t{-7}))));
    EXPECT_EQ("2147483647", Bytes(STRING(plat::Number(int64_t{1} << 40))));
    EXPECT_EQ(16, STRING(plat::Number(3.9)).BlockSize);
    EXPECT_EQ("3", Bytes(STRING(plat::Number(3.9))));
}

TEST(PlatformText, WideStringsJoinPairs)
{
    WSTRING w(Units(u"x\U0001F600y"));
    EXPECT_TRUE(Wide(w) == L"x\U0001F600y");
    std::u16string lone = u"a";
    lone.push_back(static_cast<char16_t>(0xDC00));
    WSTRING l(Units(lone));
    EXPECT_EQ(2, l.Length());
    EXPECT_EQ(0xDC00, l[1]);
    WSTRING n(plat::Text{});
    EXPECT_FALSE(n.IsSet());
    WSTRING empty(plat::Text::FromLatin1(""));
    EXPECT_TRUE(empty.IsSet());
    w = plat::Text();
    EXPECT_FALSE(w.IsSet());
}

TEST(PlatformText, CfstringBytesInItsEncoding)
{
    CFSTRING cf;
    char buf[32];

    // The default encoding reads 1252 text as 1252 reads it.
    cf = "\x80 caf\xE9";
    ASSERT_FALSE(cf.Ref.IsNull());
    EXPECT_TRUE(cf.Owned);
    EXPECT_TRUE(cf.Ref.Units() == u"\u20AC caf\u00E9");
    EXPECT_TRUE(cf.ToBuffer(buf, sizeof buf));
    EXPECT_STREQ("\x80 caf\xE9", buf);
    EXPECT_FALSE(cf.ToBuffer(buf, 6)); // seven bytes and a terminator
    EXPECT_TRUE(cf.ToBuffer(buf, 7));
    EXPECT_STREQ("\x80 caf\xE9", cf.CString());

    STRING withnul;
    withnul.Make(3, "a\0b");
    cf = withnul;
    EXPECT_EQ(3u, cf.Ref.Length());

    // Wide text: pairs for characters beyond the BMP; Latin-1 cannot hold
    // them, UTF-8 can.
    cf = L"\u0416\U0001F600";
    EXPECT_TRUE(cf.Ref.Units() == u"\u0416\U0001F600");
    EXPECT_FALSE(cf.ToBuffer(buf, sizeof buf));
    EXPECT_EQ(nullptr, cf.CString());
    cf.Encoding = CFSTRING::ENCODING_UTF8;
    EXPECT_TRUE(cf.ToBuffer(buf, sizeof buf));
    EXPECT_STREQ("\xD0\x96\xF0\x9F\x98\x80", buf);

    cf = "\xC3\xA4";
    EXPECT_TRUE(cf.Ref.Units() == u"\u00E4");
    cf = std::string("\xC0\x80", 2).c_str(); // an overlong form is refused
    EXPECT_TRUE(cf.Ref.IsNull());
    EXPECT_FALSE(cf.Owned);
    EXPECT_FALSE(cf.ToBuffer(buf, sizeof buf));

    // A built-in page by its platform encoding number.
    cf.Encoding = 0x0205; // the 1251 page
    cf = "\xC6\xF3\xEA";
    EXPECT_TRUE(cf.Ref.Units() == u"\u0416\u0443\u043A");
    EXPECT_TRUE(cf.ToBuffer(buf, sizeof buf));
    EXPECT_STREQ("\xC6\xF3\xEA", buf);
    cf = L"\u00E4";
    EXPECT_FALSE(cf.ToBuffer(buf, sizeof buf));
    cf.Encoding = 0x1234;
    cf = "abc";
    EXPECT_TRUE(cf.Ref.IsNull());

    cf.Release();
    EXPECT_TRUE(cf.Ref.IsNull());
    EXPECT_EQ(nullptr, cf.CBuffer);
}
