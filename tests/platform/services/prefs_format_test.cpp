#include "platform/services/prefs.h"

#include <gtest/gtest.h>

namespace {

using plat::Bytes;
using plat::PrefMap;
using plat::Text;

TEST(PrefsFormat, ByteExactFileAndRoundTrip)
{
    PrefMap values;
    values["Windows:Pos"] = std::int32_t{-5};
    values["min"] = std::int32_t{INT32_MIN};
    values[std::string("a=b\\c\n\xE4", 7)] = Text::FromUtf8("x=\xC3\xA4\n\xF0\x9F\x98\x80");
    values["blob"] = Bytes{0x00, 0xFF, 0x10};
    values["empty"] = Bytes{};
    values["sp ace"] = Text::FromUtf8("");
    values["lone"] = Text::FromUnits(std::u16string{0xD800, u'\\'});

    std::string const expected =
        "QORPREFS 1\n"
        "n Windows:Pos=-5\n"
        "s a\\x3db\\\\c\\x0a\\xe4=x\\u003d\\u00e4\\u000a\\ud83d\\ude00\n"
        "d blob=00ff10\n"
        "d empty=\n"
        "s lone=\\ud800\\\\\n"
        "n min=-2147483648\n"
        "s sp\\x20ace=\n";
    EXPECT_EQ(plat::FormatPrefs(values), expected);

    plat::ParsedPrefs parsed = plat::ParsePrefs(expected);
    EXPECT_FALSE(parsed.damaged);
    EXPECT_EQ(parsed.values, values);
}

TEST(PrefsFormat, DamagedFilesKeepTheirGoodLines)
{
    struct Case {
        char const* what;
        std::string file;
        bool damaged;
        std::vector<std::string> keys;
    };
    std::string const head = "QORPREFS 1\n";
    std::vector<Case> const cases = {
        {"empty file", "", false, {}},
        {"header only", head, false, {}},
        {"another header", "QORPREFS 2\nn a=1\n", true, {}},
        {"binary junk", std::string("\x00\x01\xFFjunk\n", 8), true, {}},
        {"bad line between good ones", head + "n a=1\nx b=2\nn c=3\n", true, {"a", "c"}},
        {"number above int32", head + "n a=2147483648\nn b=1\n", true, {"b"}},
        {"number with sign only", head + "n a=-\n", true, {}},
        {"number with blanks", head + "n a= 1\n", true, {}},
        {"odd hex digits", head + "d a=abc\n", true, {}},
        {"non-hex data", head + "d a=zz\n", true, {}},
        {"upper-case hex is read", head + "d a=AB\n", false, {"a"}},
        {"cut unit escape", head + "s a=\\u12\n", true, {}},
        {"unknown escape", head + "s a=\\q\n", true, {}},
        {"raw control byte in string", head + "s a=x\ty\n", true, {}},
        {"raw equals sign in value is read", head + "s a=x=y\n", false, {"a"}},
        {"empty key", head + "n =1\n", true, {}},
        {"no type blank", head + "na=1\n", true, {}},
        {"cut last line", head + "n a=1\nn b=2", true, {"a", "b"}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        plat::ParsedPrefs parsed = plat::ParsePrefs(c.file);
        EXPECT_EQ(parsed.damaged, c.damaged);
        std::vector<std::string> keys;
        for (auto const& entry : parsed.values)
            keys.push_back(entry.first);
        EXPECT_EQ(keys, c.keys);
    }
}

} // namespace
