#include "platform/services/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using plat::Number;
using plat::Text;

struct Utf8Case {
    char const* what;
    std::string bytes;
    bool valid;
    std::u16string units;
};

TEST(PlatText, Utf8DecodingIsStrict)
{
    std::vector<Utf8Case> const cases = {
        {"ascii", "abc", true, u"abc"},
        {"two bytes", "\xC3\xA4", true, {0x00E4}},
        {"three bytes", "\xE2\x82\xAC", true, {0x20AC}},
        {"four bytes become a surrogate pair", "\xF0\x9F\x98\x80", true, {0xD83D, 0xDE00}},
        {"highest code point", "\xF4\x8F\xBF\xBF", true, {0xDBFF, 0xDFFF}},
        {"empty", "", true, u""},
        {"overlong NUL", "\xC0\x80", false, {}},
        {"overlong three-byte slash", "\xE0\x80\xAF", false, {}},
        {"overlong four-byte", "\xF0\x8F\xBF\xBF", false, {}},
        {"encoded surrogate", "\xED\xA0\x80", false, {}},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false, {}},
        {"cut sequence", "a\xE2\x82", false, {}},
        {"lone continuation byte", "\x80", false, {}},
        {"bad continuation", "\xC3\x28", false, {}},
        {"byte FF", "\xFF", false, {}},
    };
    for (Utf8Case const& c : cases) {
        SCOPED_TRACE(c.what);
        Text t = Text::FromUtf8(c.bytes);
        ASSERT_EQ(!t.IsNull(), c.valid);
        if (!c.valid)
            continue;
        EXPECT_EQ(t.Units(), c.units);
        EXPECT_EQ(t.Length(), c.units.size());
        std::string back;
        ASSERT_TRUE(t.ToUtf8(back));
        EXPECT_EQ(back, c.bytes);
    }
}

TEST(PlatText, Latin1CoversTheFirst256CodePoints)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    Text t = Text::FromLatin1(all);
    ASSERT_EQ(t.Length(), 256u);
    EXPECT_EQ(t.Units()[0xE4], 0x00E4);
    EXPECT_EQ(t.Units()[0xFF], 0x00FF);
    std::string back;
    ASSERT_TRUE(t.ToLatin1(back));
    EXPECT_EQ(back, all);
    // The same bytes read as UTF-8 are not valid, which must not be
    // mistaken for Latin-1.
    EXPECT_TRUE(Text::FromBytes(all, plat::TextEncoding::Utf8).IsNull());
}

struct OutCase {
    char const* what;
    std::u16string units;
    plat::TextEncoding encoding;
    char loss;
    bool ok;
    std::string bytes;
};

TEST(PlatText, CharactersThatDoNotFitFailOrBecomeOneLossByte)
{
    using E = plat::TextEncoding;
    std::vector<OutCase> const cases = {
        {"Latin-1 text", u"Gr\u00FC\u00DFe", E::Latin1, 0, true, "Gr\xFC\xDF" "e"},
        {"euro sign to Latin-1", u"5\u20AC", E::Latin1, 0, false, ""},
        {"euro sign with loss byte", u"5\u20AC", E::Latin1, '?', true, "5?"},
        {"pair is one character", u"a\U0001F600b", E::Latin1, '?', true, "a?b"},
        {"lone high surrogate to UTF-8", {u'a', 0xD800, u'b'}, E::Utf8, 0, false, ""},
        {"lone low surrogate with loss byte", {0xDC00, u'x'}, E::Utf8, '?', true, "?x"},
        {"reversed pair is two lone halves", {0xDE00, 0xD83D}, E::Utf8, '?', true, "??"},
        {"high surrogate at the end", {u'x', 0xD83D}, E::Latin1, '?', true, "x?"},
    };
    for (OutCase const& c : cases) {
        SCOPED_TRACE(c.what);
        std::string out = "stale";
        EXPECT_EQ(Text::FromUnits(c.units).ToBytes(c.encoding, out, c.loss), c.ok);
        EXPECT_EQ(out, c.bytes);
    }
}

TEST(PlatText, NullTextHasNoBytesAndCopiesShareUnits)
{
    Text null;
    std::string out;
    EXPECT_TRUE(null.IsNull());
    EXPECT_EQ(null.Length(), 0u);
    EXPECT_FALSE(null.ToUtf8(out));
    EXPECT_FALSE(Text::FromUtf8("").IsNull()) << "an empty text is not a null one";
    EXPECT_FALSE(null == Text::FromUtf8(""));

    Text a = Text::FromUtf8("shared");
    {
        Text b = a;
        EXPECT_EQ(a.ShareCount(), 2);
        EXPECT_EQ(b.Units().data(), a.Units().data());
    }
    EXPECT_EQ(a.ShareCount(), 1);
}

TEST(PlatNumber, ConversionsTellWhetherTheyAreExact)
{
    std::int32_t i32 = 0;
    std::int64_t i64 = 0;
    double d = 0;

    EXPECT_TRUE(Number(std::int32_t{-7}).GetInt64(i64));
    EXPECT_EQ(i64, -7);

    EXPECT_FALSE(Number(std::int64_t{1} << 40).GetInt32(i32));
    EXPECT_EQ(i32, std::numeric_limits<std::int32_t>::max());
    EXPECT_FALSE(Number(-(std::int64_t{1} << 40)).GetInt32(i32));
    EXPECT_EQ(i32, std::numeric_limits<std::int32_t>::min());

    EXPECT_FALSE(Number(3.7).GetInt32(i32));
    EXPECT_EQ(i32, 3);
    EXPECT_FALSE(Number(-3.7).GetInt32(i32));
    EXPECT_EQ(i32, -3);
    EXPECT_TRUE(Number(-2147483648.0).GetInt32(i32));
    EXPECT_EQ(i32, std::numeric_limits<std::int32_t>::min());
    EXPECT_FALSE(Number(2147483648.0).GetInt32(i32));
    EXPECT_EQ(i32, std::numeric_limits<std::int32_t>::max());
    EXPECT_FALSE(Number(std::nan("")).GetInt32(i32));
    EXPECT_EQ(i32, 0);
    EXPECT_FALSE(Number(1e300).GetInt64(i64));
    EXPECT_EQ(i64, std::numeric_limits<std::int64_t>::max());

    EXPECT_FALSE(Number((std::int64_t{1} << 53) + 1).GetDouble(d));
    EXPECT_FALSE(Number(std::numeric_limits<std::int64_t>::max()).GetDouble(d));
    EXPECT_TRUE(Number(std::int64_t{1} << 53).GetDouble(d));
    EXPECT_EQ(Number(std::int32_t{5}).GetKind(), Number::Kind::Int32);
}

} // namespace
