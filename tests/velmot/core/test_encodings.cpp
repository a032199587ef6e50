// Text forms of byte data against python3's binascii, base64 and codecs:
// hexadecimal, Base64, quoted-printable, the escape form of the text files,
// UTF-8 and the option scrambler. Malformed data is never reported to the
// user, only to the log.
#include "velmot/core/strings.h"
#include "velmot/core/wstring.h"
#include "tests/velmot/core/text_reference.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using textref::AssertRecorder;

namespace {

std::string Str(BINARY const& b)
{
    return std::string(b.Buffer ? b.Buffer : "", static_cast<size_t>(b.StrLen));
}

BINARY Bin(std::string const& s)
{
    return BINARY(s.data(), static_cast<int32_t>(s.size()));
}

// Inputs of every length around the group and line edges, and a few large
// random ones.
std::vector<std::string> Samples()
{
    std::mt19937 rng(20240611);
    std::vector<std::string> samples;
    for (size_t n = 0; n <= 120; ++n)
        samples.push_back(textref::RandomBytes(rng, n));
    for (size_t n : {171u, 172u, 1000u, 65537u})
        samples.push_back(textref::RandomBytes(rng, n));
    samples.push_back(std::string(256, '\0'));
    return samples;
}

} // namespace

TEST(Encodings, HexAgainstBinascii)
{
    auto samples = Samples();
    auto reference = textref::Transform("hex", samples);
    for (size_t i = 0; i < samples.size(); ++i) {
        SCOPED_TRACE(samples[i].size());
        STRING hex = Bin(samples[i]).AsHex();
        EXPECT_EQ(reference[i], Str(hex));
        EXPECT_EQ(1252, hex.CodePage);
        EXPECT_EQ(samples[i], Str(hex.UnHex()));
    }
    AssertRecorder asserts;
    EXPECT_EQ("\xAB\xCD", Str(Bin("aBCd").UnHex()));
    EXPECT_EQ("\x01", Str(Bin("017").UnHex())); // an odd last character is ignored
    // Pairs that are not hexadecimal give no byte (they used to give
    // whatever the scan left behind).
    EXPECT_EQ("\x01\x02", Str(Bin("01zz02").UnHex()));
    EXPECT_EQ("", Str(Bin(" 1").UnHex()));
    EXPECT_EQ(0u, asserts.Count());
}

TEST(Encodings, Base64AgainstPython)
{
    auto samples = Samples();
    auto oneline = textref::Transform("b64", samples);
    auto lines = textref::Transform("b64lines", samples);
    for (size_t i = 0; i < samples.size(); ++i) {
        SCOPED_TRACE(samples[i].size());
        BINARY data = Bin(samples[i]);
        EXPECT_EQ(oneline[i], Str(data.AsMime(0)));
        EXPECT_EQ(lines[i], Str(data.AsMime(1)));
        EXPECT_EQ(samples[i], Str(Bin(oneline[i]).UnMime()));
        EXPECT_EQ(samples[i], Str(Bin(lines[i]).UnMime()));
    }
    // 57 bytes fill one line exactly; 58 start a second one.
    EXPECT_EQ(78, Bin(std::string(57, 'x')).AsMime(1).Length());
    STRING two = Bin(std::string(58, 'x')).AsMime(1);
    EXPECT_EQ(76 + 2 + 4 + 2, two.Length());
    EXPECT_EQ(80, Bin(std::string(58, 'x')).AsMime(0).Length());
    STRING empty = BINARY().AsMime(1);
    EXPECT_EQ(0, empty.Length());
}

TEST(Encodings, Base64DecodingIsForgiving)
{
    AssertRecorder asserts;
    struct CASE {
        char const* Text;
        std::string Bytes;
    } const cases[] = {
        {"YWJj", "abc"},
        {"YW Jj\r\n", "abc"},    // blanks and line breaks are skipped
        {"Y*W#J.j", "abc"},      // and so is anything outside the alphabet
        {"YWI=", "ab"},
        {"YQ==", "a"},
        {"YQ==YWJj", "a"},       // the first "=" ends the text
        {"YWI", "ab"},           // an unpadded last group still counts
        {"YQ", "a"},
        {"Y", ""},               // one character holds no whole byte
        {"", ""},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.Text);
        STRING out = Bin(c.Text).UnMime();
        EXPECT_EQ(c.Bytes, Str(out));
        EXPECT_EQ(1252, out.CodePage);
    }
    EXPECT_EQ(0u, asserts.Count());
}

TEST(Encodings, QuotedPrintable)
{
    // Whatever python's encoder writes decodes back to the bytes, binary
    // data and text with soft line breaks alike.
    auto samples = Samples();
    auto encoded = textref::Transform("qpencode", samples);
    for (size_t i = 0; i < samples.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(samples[i], Str(Bin(encoded[i]).UnMimeQuotedPrintable()));
    }
    std::vector<std::string> texts = {"line one  \nline two\t\nend=", std::string(200, 'q') + "\xE4 tail \n",
                                      "caf\xE9 = 3\xA4"};
    auto encodedtexts = textref::Transform("qptext", texts);
    for (size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE(texts[i]);
        EXPECT_NE(texts[i], encodedtexts[i]);
        EXPECT_EQ(texts[i], Str(Bin(encodedtexts[i]).UnMimeQuotedPrintable()));
    }
    // Edge cases, with python's decoder where the two agree.
    std::vector<std::string> agreed = {"=\n", "a=\r\nb", "=4", "=ZZ", "=e4", "=E4", "x_y", "=3D", "a= \nb", "=4g"};
    auto decoded = textref::Transform("qpdecode", agreed);
    for (size_t i = 0; i < agreed.size(); ++i) {
        SCOPED_TRACE(agreed[i]);
        EXPECT_EQ(decoded[i], Str(Bin(agreed[i]).UnMimeQuotedPrintable()));
    }
    // A lone "=" at the very end is copied (python drops it as a soft break).
    EXPECT_EQ("a=", Str(Bin("a=").UnMimeQuotedPrintable()));
    EXPECT_EQ("=\r", Str(Bin("=\r").UnMimeQuotedPrintable()));
}

TEST(Encodings, EscapeFormOfTextFiles)
{
    struct CASE {
        std::string Bytes;
        char const* Escapes;
        char const* Text;
    } const cases[] = {
        {"a=b{c}", "={}", "a\\x3db\\x7bc\\x7d"},
        {"\xE4\n", nullptr, "\\xe4\\n"},
        {std::string("\\\0\r\n\t\x1A\x01\x7F ", 9), "", "\\\\\\0\\r\\n\\t\\z\\x01\x7F "},
        {"plain text", "={}", "plain text"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.Text);
        STRING quoted = Bin(c.Bytes).Quoted(c.Escapes);
        EXPECT_EQ(c.Text, Str(quoted));
        EXPECT_EQ(c.Bytes, Str(quoted.UnQuoted(false)));
    }
    // Every byte value survives the round trip.
    std::mt19937 rng(7);
    for (auto const& s : Samples()) {
        STRING quoted = Bin(s).Quoted("={}");
        ASSERT_EQ(s, Str(quoted.UnQuoted(false)));
        ASSERT_EQ(s, Str(quoted.UnQuoted(true)));
    }
}

TEST(Encodings, EscapeFormReadsUntrustedText)
{
    AssertRecorder asserts;
    struct CASE {
        char const* Text;
        bool Lenient;
        std::string Bytes;
    } const cases[] = {
        {"\\x41\\X42", false, "AX42"},  // unknown escape: the character stays
        {"a\\qb", true, "a\\qb"},      // lenient keeps the backslash too
        {"a\\qb", false, "aqb"},
        {"\\xE4\\xe4", false, "\xE4\xE4"},
        // Cut or malformed escapes stay as they were written; nothing is
        // read beyond the end of the text.
        {"end\\", false, "end\\"},
        {"end\\x", false, "end\\x"},
        {"end\\x4", false, "end\\x4"},
        {"\\xZZ!", false, "\\xZZ!"},
        {"\\x4Z", true, "\\x4Z"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(c.Bytes, Str(Bin(c.Text).UnQuoted(c.Lenient)));
    }
    EXPECT_EQ(0u, asserts.Count());
}

TEST(Encodings, ByteStringsAndUtf8)
{
    // UtfEncode reads bytes as ISO 8859-1, as python's latin-1 codec does.
    std::vector<std::string> samples;
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    samples.push_back(all);
    samples.push_back("plain");
    auto reference = textref::Transform("latin1utf8", samples);
    for (size_t i = 0; i < samples.size(); ++i) {
        STRING s;
        s.Make(static_cast<int32_t>(samples[i].size()), samples[i].data());
        STRING utf8 = s.UtfEncode();
        EXPECT_EQ(reference[i], Str(utf8));
        EXPECT_EQ(samples[i], Str(utf8.UtfDecode()));
    }

    AssertRecorder asserts;
    struct CASE {
        char const* Name;
        std::string Utf8;
        std::string Bytes;
    } const cases[] = {
        {"euro keeps its 1252 byte", "\xE2\x82\xAC", "\x80"},
        {"dash", "a\xE2\x80\x93z", "a\x96z"},
        {"not in 1252", "\xC4\x80", "?"},      // U+0100 used to become NUL
        {"CJK", "\xE4\xB8\x80", "?"},
        {"box drawing", "\xE2\x94\x80", "-"},
        {"four bytes", "\xF0\x9F\x98\x80", "?"},
        {"overlong NUL", std::string("\xC0\x80", 2), "?"},
        {"surrogate", "\xED\xA0\x80", "?"},
        {"broken", "\xC3\x41", "?A"},
        {"cut at the end", "ab\xE2\x82", "ab?"},
        {"stray bytes skipped", "a\x80\xBF\xFFz", "az"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.Name);
        STRING s;
        s.Make(static_cast<int32_t>(c.Utf8.size()), c.Utf8.data());
        STRING out = s.UtfDecode();
        EXPECT_EQ(c.Bytes, Str(out));
        EXPECT_EQ(1252, out.CodePage);
    }
    EXPECT_EQ(0u, asserts.Count());
}

TEST(Encodings, WideTextAsUtf8)
{
    std::vector<std::string> samples = {"", "ascii", "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF",
                                        "\xE4\xB8\x80\xD7\x90\xD0\x96"};
    auto codepoints = textref::Transform("utf8", samples);
    for (size_t i = 0; i < samples.size(); ++i) {
        SCOPED_TRACE(i);
        WSTRING w(reinterpret_cast<wchar_t const*>(codepoints[i].data()),
                  static_cast<int32_t>(codepoints[i].size() / 4));
        STRING utf8 = w.AsUtf8();
        EXPECT_EQ(samples[i], Str(utf8));
        EXPECT_TRUE(utf8.IsSet());
        EXPECT_EQ(1252, utf8.CodePage);
    }
    EXPECT_FALSE(WSTRING().AsUtf8().IsSet());
}

TEST(Encodings, ScramblerRoundTrips)
{
    std::mt19937 rng(99);
    std::string const longpassword(200, 'p'); // its Base64 overflows the key text
    for (auto const& s : Samples()) {
        SCOPED_TRACE(s.size());
        BINARY data = Bin(s);
        for (char const* pw : {static_cast<char const*>(nullptr), "secret", longpassword.c_str()}) {
            STRING scrambled = data.AsShuffle(pw);
            EXPECT_EQ(s, Str(scrambled.UnShuffle(pw)));
            // Base64 without line breaks.
            EXPECT_EQ(std::string::npos, Str(scrambled).find('\n'));
            if (s.size() >= 4) {
                EXPECT_NE(s, Str(scrambled.UnMime()));
                EXPECT_NE(s, Str(scrambled.UnShuffle("wrong")));
            }
        }
    }
    // The same data and password always scramble the same way (stored
    // values must stay readable).
    EXPECT_EQ(Str(Bin("hunter2").AsShuffle("pw")), Str(Bin("hunter2").AsShuffle("pw")));
}
