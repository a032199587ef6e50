// HTML to text: entities, tags, comments, attributes, white space, the text
// dump with line breaking and the table dump. Whole pages are compared with
// golden files in golden/html/ (set QOR_UPDATE_GOLDEN=1 to rewrite them
// after a deliberate change, then review the difference).
#include "velmot/core/html.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/wstring.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <strings.h>
#include <string>
#include <vector>

using testutil::ReadFile;
using testutil::WriteFile;

namespace {

std::string Str(STRING const& s)
{
    return std::string(s.Buf(), static_cast<size_t>(s.Length()));
}

STRING Text(std::string const& s)
{
    STRING t;
    t.Make(static_cast<int32_t>(s.size()), s.data());
    return t;
}

std::vector<std::string> Items(STRINGARRAY const& tags)
{
    std::vector<std::string> out;
    for (int i = 0; i < tags.NumItems(); ++i)
        out.push_back(Str(*tags[i]));
    return out;
}

std::string GoldenPath(std::string const& name)
{
    return testutil::SourceDir() + "/velmot/core/golden/html/" + name;
}

void ExpectGolden(std::string const& name, std::string const& actual)
{
    std::string path = GoldenPath(name);
    if (std::getenv("QOR_UPDATE_GOLDEN")) {
        WriteFile(path, actual);
        return;
    }
    std::string expected = ReadFile(path);
    ASSERT_FALSE(expected.empty()) << "missing golden file " << path;
    EXPECT_EQ(expected, actual) << "differs from " << path;
}

} // namespace

TEST(Html, EntitiesAreDecodedOnce)
{
    struct CASE {
        char const* in;
        char const* out;
    };
    std::vector<CASE> const cases = {
        {"&auml;&ouml;&uuml;&Auml;&Ouml;&Uuml;&szlig;", "\xE4\xF6\xFC\xC4\xD6\xDC\xDF"},
        {"&#228;&#246;&#252;&#196;&#214;&#220;&#223;", "\xE4\xF6\xFC\xC4\xD6\xDC\xDF"},
        {"a&nbsp;b&nbspc", "a b c"},
        {"&lt;b&gt; &quot;x&quot; &amp; y", "<b> \"x\" & y"},
        {"&amp;lt; &amp;amp; &amp;auml;", "&lt; &amp; &auml;"}, // escaped entities stay escaped
        {"&AUML; &#229; &euro; & &amp", "&AUML; &#229; &euro; & &amp"},
        {"\xFF&amp;\xFF", "\xFF&\xFF"}, // a real 0xFF byte is a letter, not a marker
        {"", ""},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.in);
        STRING text(c.in);
        HTML::ReplaceSpecialCharacters(text);
        EXPECT_EQ(c.out, Str(text));
    }
}

TEST(Html, KillTags)
{
    struct CASE {
        char const* in;
        char replacement;
        char const* out;
    };
    std::vector<CASE> const cases = {
        {"a<b>c</b>d", ' ', "a c d"},
        {"<a title=\"x > y\">link</a>", '|', "|link|"}, // ">" in quotes does not end the tag
        {"1 > 0 &amp; <i>ok</i>", '_', "1  0 & _ok_"},
        {"<p>gone</p>", '\0', "gone"},
        {"<p>gone</p>", '\xFF', "gone"},
        {"\xFFy<b>\xFF</b>", ' ', "\xFFy \xFF "},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.in);
        STRING text(c.in);
        HTML::KillTags(text, c.replacement);
        EXPECT_EQ(c.out, Str(text));
    }
}

TEST(Html, UnComment)
{
    struct CASE {
        char const* in;
        char const* out;
    };
    std::vector<CASE> const cases = {
        {"one<!-- a -->two<!--b-->three", "onetwothree"},
        {"<!---->x<!-- <p> -- -->y", "xy"},
        {"keep<!-- never closed", "keep"},
        {"no comment -->", "no comment -->"},
        {"", ""},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(c.out, Str(HTML::UnComment(c.in)));
    }
    WSTRING wide = HTML::UnComment(L"\u00e4<!-- x -->\u20ac<!--y-->z");
    EXPECT_EQ(3, wide.Length());
    EXPECT_EQ(std::wstring(L"\u00e4\u20acz"), std::wstring(wide.Buf()));
}

TEST(Html, UnTagSeparatesTextAndTags)
{
    STRING text;
    STRINGARRAY tags(16);
    HTML::UnTag("<a href='x>y' title=\"it's\">A &amp; B</a> > c<br>", text, tags);
    EXPECT_EQ("A & B > c", Str(text));
    EXPECT_EQ((std::vector<std::string>{"<a href='x>y' title=\"it's\">", "</a>", "<br>"}), Items(tags));
}

TEST(Html, GetTagOption)
{
    struct CASE {
        char const* tag;
        char const* option;
        char const* value;
    };
    std::vector<CASE> const cases = {
        {"<img src=\"a.gif\" alt=\"a b\">", "alt", "a b"},
        {"<img src=\"a.gif\" ALT='c d'>", "alt", "c d"},
        {"<img alternative=\"x\">", "alt", ""},     // a longer name is not the option
        {"<img salt=1 alt=2>", "alt", "2"},         // nor a name ending in it
        {"<td width = 50 nowrap>", "width", "50"},
        {"<td nowrap>", "nowrap", ""},
        {"<a href=\"unclosed>", "href", "unclosed"},
        {"<img alt=plain>", "alt", "plain"},
        {"<img>", "alt", ""},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(std::string(c.tag) + " " + c.option);
        EXPECT_EQ(c.value, Str(HTML::GetTagOption(c.tag, c.option)));
    }
}

TEST(Html, Unspace)
{
    struct CASE {
        char const* in;
        char const* out;
    };
    std::vector<CASE> const cases = {
        {"  hello   world \t", "hello world"},
        {"| a | b |", "|a|b|"},
        {"5 +3 and 5 -3 but x -3", "5 +3 and 5 -3 but x-3"},
        {"Gr\xF6\xDF" "e \xFC" "ber \xFF" "x", "Gr\xF6\xDF" "e \xFC" "ber \xFF" "x"},
        {"a\r\n\tb", "a b"},
        {"", ""},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.in);
        STRING text(c.in);
        HTML::Unspace(text);
        EXPECT_EQ(c.out, Str(text));
    }
}

TEST(Html, TextOfParagraphsAndLongLines)
{
    STRING text;
    STRINGARRAY tags(16);
    HTML::HtmlToText("<p>First paragraph.<p>Second paragraph.", text, tags, false);
    EXPECT_EQ("\n\nFirst paragraph.\n\nSecond paragraph.", Str(text));

    std::string words;
    for (int i = 0; i < 200; ++i)
        words += "word" + std::to_string(i % 10) + " ";
    HTML::HtmlToText(words.c_str(), text, tags, false);
    std::string out = Str(text);
    size_t start = 0;
    int lines = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos)
            end = out.size();
        std::string line = out.substr(start, end - start);
        // A line is broken at the first blank beyond column 76.
        EXPECT_LE(line.size(), 77u + 6u) << line;
        if (end < out.size()) {
            EXPECT_GT(line.size(), 76u) << line;
        }
        ++lines;
        start = end + 1;
    }
    EXPECT_EQ(16, lines); // 13 words of 6 characters per line, 200 words
}

TEST(Html, GoldenPages)
{
    std::string page = ReadFile(GoldenPath("page.html"));
    ASSERT_FALSE(page.empty());
    struct CASE {
        char const* golden;
        bool images;
    };
    // Pages are read as callers read them: comments first, then the text.
    STRING clean = HTML::UnComment(page.c_str());
    ExpectGolden("page.uncommented.html", Str(clean));
    for (CASE c : {CASE{"page.text.txt", true}, CASE{"page.noimages.txt", false}}) {
        SCOPED_TRACE(c.golden);
        STRING text("stale");
        STRINGARRAY tags(16);
        HTML::HtmlToText(clean.Buf(), text, tags, c.images);
        ExpectGolden(c.golden, Str(text));
        std::string list;
        for (auto const& tag : Items(tags))
            list += tag + "\n";
        ExpectGolden("page.tags.txt", list);
    }
    ExpectGolden("page.tables.txt", Str(HTML::PureTables(Text(page))));

    std::string nested = ReadFile(GoldenPath("nested.html"));
    ASSERT_FALSE(nested.empty());
    std::string tables = Str(HTML::PureTables(Text(nested)));
    ExpectGolden("nested.tables.txt", tables);
    // The inner table comes first and shows up in a cell of the outer one.
    EXPECT_EQ(0u, tables.find("<<TABLE0>>\n"));
    EXPECT_NE(std::string::npos, tables.find("{{SUBTABLE0}}"));
    EXPECT_LT(tables.find("<<TABLE0>>"), tables.find("<<TABLE1>>"));
}

TEST(Html, PureTablesEdges)
{
    EXPECT_EQ("", Str(HTML::PureTables(Text("no tables here"))));
    EXPECT_EQ("", Str(HTML::PureTables(Text("<table><tr><td>never closed"))));
    EXPECT_EQ("<<TABLE0>>\n<<ROW0>>|a|b\n<<TABLE1>>\n<<ROW0>>|c\n",
              Str(HTML::PureTables(Text("x<table><tr><td>a<td>b</table>y<TABLE><TR><TD>c</TABLE>z"))));
}

namespace {

size_t FindICase(std::string const& text, std::string const& needle, size_t from)
{
    for (size_t i = from; i + needle.size() <= text.size(); ++i) {
        if (strncasecmp(text.c_str() + i, needle.c_str(), needle.size()) == 0)
            return i;
    }
    return std::string::npos;
}

// The tables of a page as the dump takes them, step by step: the first
// "</table>" after the first "<table" closes the last "<table" before it,
// and that table gives way to its placeholder before the next step.
std::vector<std::string> TablesStepByStep(std::string page)
{
    std::vector<std::string> tables;
    for (;;) {
        size_t open = FindICase(page, "<table", 0);
        size_t close = open == std::string::npos ? open : FindICase(page, "</table>", open);
        if (close == std::string::npos)
            return tables;
        size_t inner = open;
        for (size_t next = open; (next = FindICase(page, "<table", next + 1)) < close;)
            inner = next;
        size_t end = close + 8;
        tables.push_back(page.substr(inner, end - inner));
        page.replace(inner, end - inner, "{{SUBTABLE" + std::to_string(tables.size() - 1) + "}}");
    }
}

} // namespace

// Nested, unclosed and stray table tags in random pages: the dump holds the
// tables in the order and with the content that taking them one step at a
// time gives.
TEST(Html, PureTablesOfRandomPages)
{
    static char const* const kPieces[] = {"<table>", "<TABLE border=1>", "</table>", "</TABLE>", "<tr>",
                                          "<td>",    "x",                "y ",       "\n",       "<TaBle"};
    uint32_t seed = 12345;
    auto pick = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int round = 0; round < 400; ++round) {
        std::string page;
        for (uint32_t n = pick(40); n > 0; --n)
            page += kPieces[pick(10)];
        std::string expected;
        std::vector<std::string> tables = TablesStepByStep(page);
        for (size_t i = 0; i < tables.size(); ++i) {
            // Each table alone is a page of one table, number 0.
            std::string one = Str(HTML::PureTables(Text(tables[i])));
            ASSERT_EQ(0u, one.find("<<TABLE0>>\n")) << tables[i];
            expected += "<<TABLE" + std::to_string(i) + ">>\n" + one.substr(11);
        }
        ASSERT_EQ(expected, Str(HTML::PureTables(Text(page)))) << page;
    }
}
