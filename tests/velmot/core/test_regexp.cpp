// The regular expression engine: the documented examples, compile errors and
// limits, replacement texts, patterns that defeat backtracking, and tables of
// patterns whose results must equal those of python3's re module.
#include "velmot/core/logit.h"
#include "velmot/core/regexp.h"
#include "velmot/core/stringarray.h"
#include "tests/support/testutil.h"
#include "tests/velmot/core/assertrecorder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string>& gQuestions = testutil::AskedQuestions();

class Regexp : public ::testing::Test {
protected:
    testutil::QUESTIONHOOK questionhook_;
};

// "pos [whole] [g1] ..." for a match, "NOMATCH" or "ERR"; the same form the
// python side prints.
std::string Describe(std::string const& pattern, std::string const& text)
{
    REGEXP re;
    if (!re.RegComp(pattern.c_str()))
        return "ERR";
    int pos = re.RegFind(text.c_str());
    if (pos < 0)
        return "NOMATCH";
    STRINGARRAY parts(16);
    EXPECT_TRUE(REGEXP::Match(text.c_str(), pattern.c_str(), parts));
    std::string rc = std::to_string(pos);
    for (int i = 0; i < parts.NumItems(); ++i)
        rc += "\t[" + std::string(parts[i]->Buf()) + "]";
    return rc;
}

std::vector<std::string> Parts(char const* text, char const* pattern, bool* matched = nullptr)
{
    STRINGARRAY parts(16);
    bool rc = REGEXP::Match(text, pattern, parts);
    if (matched)
        *matched = rc;
    std::vector<std::string> out;
    for (int i = 0; i < parts.NumItems(); ++i)
        out.emplace_back(parts[i]->Buf());
    return out;
}

std::string Replace(char const* pattern, char const* text, char const* replacement)
{
    REGEXP re;
    if (!re.RegComp(pattern) || re.RegFind(text) < 0)
        return "<no match>";
    char* rc = re.GetReplaceString(replacement);
    if (!rc)
        return "<null>";
    std::string out = rc;
    free(rc);
    return out;
}

// Runs python3's re on "pattern<TAB>text" lines and returns one line per
// case in the form of Describe. Patterns and texts travel as bytes (latin-1
// on the python side).
std::vector<std::string> PythonResults(std::string const& input)
{
    static char const* const kScript =
        "import re, sys, warnings\n"
        "warnings.simplefilter('ignore')\n"
        "out = []\n"
        "for line in sys.stdin.buffer.read().decode('latin-1').split('\\n')[:-1]:\n"
        "    pat, text = line.split('\\t', 1)\n"
        "    try:\n"
        "        r = re.compile(pat)\n"
        "    except re.error:\n"
        "        out.append('ERR'); continue\n"
        "    m = r.search(text)\n"
        "    if not m:\n"
        "        out.append('NOMATCH'); continue\n"
        "    groups = (m.group(0),) + m.groups()\n"
        "    out.append('\\t'.join([str(m.start())] + ['[' + (g or '') + ']' for g in groups]))\n"
        "sys.stdout.buffer.write(('\\n'.join(out) + '\\n').encode('latin-1'))\n";
    std::string out;
    EXPECT_EQ(testutil::RunProgram({"python3", "-c", kScript}, &out, input), 0) << "python3 is needed";
    std::vector<std::string> lines;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

// Random patterns of the shared syntax over a small alphabet: literals, ".",
// sets, anchors, nested groups, alternation and the three repetitions.
class PatternMaker {
public:
    explicit PatternMaker(uint32_t seed) : rng_(seed) {}

    std::string Pattern()
    {
        groups_ = 0;
        return Alternation(0);
    }
    std::string Text()
    {
        std::string t;
        for (uint32_t n = Pick(13); n > 0; --n)
            t += "abcd"[Pick(4)];
        return t;
    }

private:
    uint32_t Pick(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }
    std::string Atom(int depth)
    {
        uint32_t r = Pick(100);
        if (r < 45)
            return std::string(1, "abc"[Pick(3)]);
        if (r < 55)
            return ".";
        if (r < 70) {
            static char const* const sets[] = {"[ab]", "[^a]", "[a-c]", "[^bc]", "[b-d]"};
            return sets[Pick(5)];
        }
        if (r < 75)
            return Pick(2) ? "^" : "$";
        if (depth < 2 && groups_ < 9) {
            ++groups_;
            return std::string("(") + Alternation(depth + 1) + ")";
        }
        return "a";
    }
    std::string Piece(int depth)
    {
        std::string atom = Atom(depth);
        if (atom == "^" || atom == "$")
            return atom;
        static char const* const ops[] = {"", "", "", "*", "+", "?"};
        return atom + ops[Pick(6)];
    }
    std::string Alternation(int depth)
    {
        static uint32_t const counts[] = {1, 1, 1, 2, 3};
        std::string rc;
        for (uint32_t b = counts[Pick(5)]; b > 0; --b) {
            if (!rc.empty())
                rc += "|";
            for (uint32_t p = 1 + Pick(4); p > 0; --p)
                rc += Piece(depth);
        }
        return rc;
    }

    std::mt19937 rng_;
    int groups_ = 0;
};

} // namespace

TEST_F(Regexp, DocumentedExamples)
{
    bool matched = false;
    EXPECT_EQ(Parts("abcabc", "(b)(c)", &matched), (std::vector<std::string>{"bc", "b", "c"}));
    EXPECT_TRUE(matched);
    REGEXP re;
    ASSERT_NE(re.RegComp("(b)(c)"), nullptr);
    EXPECT_EQ(re.RegFind("abcabc"), 1);

    EXPECT_TRUE(REGEXP::Match("c", "a|b|c"));
    EXPECT_FALSE(REGEXP::Match("ax", "^x"));
    EXPECT_TRUE(REGEXP::Match("ax", "x$"));
    EXPECT_TRUE(REGEXP::Match("]", "[]a]"));
    EXPECT_FALSE(REGEXP::Match("b", "[^a-c]"));
    EXPECT_EQ(Replace("b", "abc", "<&>"), "<b>");
    // A repeated group keeps the positions of its last pass.
    EXPECT_EQ(Parts("xabcd", "x([a-z])*"), (std::vector<std::string>{"xabcd", "d"}));
}

TEST_F(Regexp, InvalidPatternsDoNotCompile)
{
    char const* bad[] = {
        "a**", "*a", "(", "a)", "+", "?x", "a|*", "[abc", "[]", "[^]", "a\\", "(a*)*", "(a|)+", "()*",
        "x(y?)+", "[z-a]", "a+*", "(a))",
    };
    for (char const* pattern : bad) {
        SCOPED_TRACE(pattern);
        REGEXP re;
        EXPECT_EQ(re.RegComp(pattern), nullptr);
        EXPECT_EQ(re.RegFind("anything"), -1);
        EXPECT_FALSE(REGEXP::Match("a", pattern));
    }
    // Empty alternatives and an empty pattern are valid and match the empty
    // string; "?" may follow an atom that can be empty.
    EXPECT_TRUE(REGEXP::Match("x", ""));
    EXPECT_TRUE(REGEXP::Match("x", "a|"));
    EXPECT_TRUE(REGEXP::Match("x", "(a*)?"));
    EXPECT_TRUE(gQuestions.empty());
}

TEST_F(Regexp, NullArgumentsAreReported)
{
    REGEXP re;
    EXPECT_EQ(re.RegComp(nullptr), nullptr);
    ASSERT_EQ(gQuestions.size(), 1u);
    EXPECT_NE(gQuestions[0].find("exp!=NULL"), std::string::npos);
    ASSERT_NE(re.RegComp("a"), nullptr);
    EXPECT_EQ(re.RegFind(nullptr), -1);
    ASSERT_EQ(gQuestions.size(), 2u);
    EXPECT_NE(gQuestions[1].find("str!=NULL"), std::string::npos);
}

// Node offsets are 16 bits wide: a program that would not fit is refused
// instead of being written with wrapped offsets.
TEST_F(Regexp, ProgramSizeIsBounded)
{
    std::string justFits(30000, 'a');
    REGEXP re;
    ASSERT_NE(re.RegComp(justFits.c_str()), nullptr);
    EXPECT_EQ(re.RegFind(("xx" + justFits).c_str()), 2);

    for (std::string const& big : {std::string(40000, 'a'), std::string(40000, 'a') + "*b",
                                   [] {
                                       std::string s;
                                       for (int i = 0; i < 6000; ++i)
                                           s += "[ab]x|";
                                       return s + "c";
                                   }(),
                                   [] {
                                       std::string s;
                                       for (int i = 0; i < 10000; ++i)
                                           s += "x*";
                                       return s;
                                   }()}) {
        SCOPED_TRACE(big.size());
        EXPECT_EQ(re.RegComp(big.c_str()), nullptr);
    }
}

// Group numbers above nine cannot be told apart from the close nodes, so
// such patterns are refused.
TEST_F(Regexp, AtMostNineGroups)
{
    std::string nine, ten;
    for (int i = 0; i < 9; ++i)
        nine += "(.)";
    ten = nine + "(.)";
    EXPECT_EQ(Parts("abcdefghij", nine.c_str()),
              (std::vector<std::string>{"abcdefghi", "a", "b", "c", "d", "e", "f", "g", "h", "i"}));
    REGEXP re;
    EXPECT_EQ(re.RegComp(ten.c_str()), nullptr);
    EXPECT_EQ(re.RegComp("((((((((((a))))))))))"), nullptr);
}

// Every group has its item, so item n is group n even after a group that
// matched nothing or took no part in the match.
TEST_F(Regexp, EmptyAndUnsetGroupsKeepTheirPlace)
{
    EXPECT_EQ(Parts("ac", "(a)(b*)(c)"), (std::vector<std::string>{"ac", "a", "", "c"}));
    EXPECT_EQ(Parts("b", "(a)|(b)"), (std::vector<std::string>{"b", "", "b"}));
    bool matched = true;
    EXPECT_TRUE(Parts("xyz", "q(r)", &matched).empty());
    EXPECT_FALSE(matched);
}

TEST_F(Regexp, ReplaceStrings)
{
    struct Case {
        char const* Pattern;
        char const* Text;
        char const* Replacement;
        char const* Expected;
    };
    Case const cases[] = {
        {"b", "abc", "<&>", "<b>"},
        {"(a+)(b+)", "xaabbby", "\\2\\1", "bbbaa"},
        {"(a+)(b+)", "xaabbby", "\\0|&", "aabbb|aabbb"},
        {"b", "abc", "\\&\\\\", "&\\"},
        {"b", "abc", "\\n\\", "\\n\\"},          // other escapes are copied as they are
        {"(a)|(b)", "b", "[\\1][\\2][\\9]", "[][b][]"}, // unset and absent groups give nothing
        {"x", "abc", "&", "<no match>"},
        {"(a*)", "b", "\\1", "<null>"}, // an empty result is no result
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.Pattern);
        EXPECT_EQ(Replace(c.Pattern, c.Text, c.Replacement), c.Expected);
    }
    REGEXP re;
    ASSERT_NE(re.RegComp("b"), nullptr);
    EXPECT_EQ(re.GetReplaceString("&"), nullptr); // nothing searched yet
    ASSERT_EQ(re.RegFind("abc"), 1);
    EXPECT_EQ(re.GetReplaceString(nullptr), nullptr);
    // The match is a copy: the searched text may go away.
    {
        std::string text = "xxbxx";
        ASSERT_EQ(re.RegFind(text.c_str()), 2);
        text.assign(5, 'z');
    }
    char* rc = re.GetReplaceString("-&-");
    ASSERT_NE(rc, nullptr);
    EXPECT_STREQ(rc, "-b-");
    free(rc);
}

// Patterns that make a backtracking matcher take exponential time are
// searched in time bounded by the text times the program, so a search never
// gives up: what is there is found, and what is not is reported as no match.
TEST_F(Regexp, HostilePatternsFindWhatIsThere)
{
    std::string as(40, 'a');
    REGEXP re;
    ASSERT_NE(re.RegComp("(a|aa)*c"), nullptr);
    EXPECT_EQ(re.RegFind((as + "bc").c_str()), 41); // as python's re and glibc find it
    EXPECT_EQ(re.RegFind((as + "c").c_str()), 0);
    EXPECT_EQ(re.RegFind((as + "!").c_str()), -1);

    std::string xs(200000, 'x');
    ASSERT_NE(re.RegComp("(x+x+)+y"), nullptr);
    EXPECT_EQ(re.RegFind(xs.c_str()), -1);
    EXPECT_EQ(re.RegFind((xs + "y").c_str()), 0);
    EXPECT_EQ(Replace("(x+x+)+y", (xs + "y").c_str(), "\\1").size(), xs.size());
    EXPECT_TRUE(gQuestions.empty());
}

// Long repetitions of groups neither overflow the stack nor lose their
// groups.
TEST_F(Regexp, LongRepetitionsOfGroups)
{
    std::string text;
    for (int i = 0; i < 300000; ++i)
        text += "ab";
    text += "c";
    REGEXP re;
    ASSERT_NE(re.RegComp("(ab)*c"), nullptr);
    EXPECT_EQ(re.RegFind(text.c_str()), 0);
    char* rc = re.GetReplaceString("\\1");
    ASSERT_NE(rc, nullptr);
    EXPECT_STREQ(rc, "ab");
    free(rc);
    ASSERT_NE(re.RegComp("x(a|b)+y"), nullptr);
    EXPECT_EQ(re.RegFind((std::string("x") + text.substr(0, text.size() - 1) + "y").c_str()), 0);
}

// The table covers the syntax the engine shares with python's re: literals,
// ".", sets without escapes inside, "^" and "$" on texts without a line
// feed, groups, alternation, greedy "*", "+" and "?" (on atoms that cannot
// be empty), and "\" before punctuation.
TEST_F(Regexp, AgreesWithPythonRe)
{
    struct Case {
        char const* Pattern;
        char const* Text;
    };
    Case const cases[] = {
        {"abc", "xxabcxx"}, {"abc", "ab"}, {"a.c", "abc a-c"}, {"a.c", "ac"},
        {"a*", "bbb"}, {"a*b", "aaab"}, {"a+b", "b"}, {"a+b", "xaab"},
        {"a?b", "ab"}, {"a?b", "b"}, {"ab?c", "ac"}, {"ab*c", "abbbbc"},
        {"(a)(b)(c)", "abc"}, {"(a|b)*c", "ababc"}, {"(a|ab)(c|bcd)(d*)", "abcd"},
        {"(a*)b", "aab"}, {"(ab)+", "ababab"}, {"(ab)+c", "ababc"},
        {"x(ab)*y", "xy"}, {"x(ab)*y", "xababy"}, {"^abc", "abcabc"}, {"^abc", "xabc"},
        {"abc$", "abcabc"}, {"abc$", "abcx"}, {"^$", ""}, {"^$", "x"}, {"$", "abc"}, {"^", "abc"},
        {"a|b|c", "xyzc"}, {"cat|dog", "hotdog cat"}, {"(cat|dog)s?", "dogs"},
        {"[abc]+", "xxcabz"}, {"[a-z]+", "HELLO world"}, {"[^a-z]+", "abcDEF123ghi"},
        {"[]a]+", "x]a]y"}, {"[-a]+", "x-a-y"}, {"[a-]+", "x-a-y"}, {"[^]a]+", "]]bc]"},
        {"[0-9]+\\.[0-9]+", "v 12.345 x"}, {"\\(x\\)", "(x)"}, {"\\.", "a.b"}, {"\\*+", "a***b"},
        {"a\\|b", "a|b"}, {"\\\\", "a\\b"}, {"\\$", "a$b"}, {"(a)|(b)", "b"}, {"(a)|b", "b"},
        {"((a)|b)+", "ab"}, {"((a)|b)+", "ba"}, {"(a|b)*", "abab"}, {"(.*)x", "abxcdx"},
        {"(.*)(.*)", "abc"}, {"(.+)(.+)", "abc"}, {"(.*)c(.*)", "abcabc"}, {"a.*b.*c", "axxbyyc"},
        {"a.*b.*c", "axxbyy"}, {"(foo|foobar)baz", "foobarbaz"}, {"(a+)(a+)", "aaaa"},
        {"(a+)(b+)?", "aaa"}, {"(a+)(b+)?c", "aac"}, {"x*y*z", "z"}, {"[.]", "a.b"}, {"[*]+", "**"},
        {".", ""}, {"a", ""}, {"(ab|a)(bc|c)", "abc"}, {"(a|b|c|d|e)+f", "abcdeef"},
        {"(.)(.)(.)(.)(.)(.)(.)(.)(.)", "abcdefghij"}, {"h(e|a)llo", "hallo hello"},
        {"[A-Za-z_][A-Za-z0-9_]*", "  foo_bar1 baz"}, {"[0-9][0-9]*-[0-9]+", "tel 089-1234"},
        {"a**", "x"}, {"(", "x"}, {"a)", "x"}, {"[abc", "x"}, {"*a", "x"},
        {"^(a+|b+)*$", "aabba"}, {"(x)?y", "y"}, {"(x)?(y)?z", "yz"},
        {"([^,]*),([^,]*),(.*)", "one,,three,four"}, {"[^ ]+ +[^ ]+$", "a b  c   d"},
        {"(\\.[a-z]+)+$", "archive.tar.gz"}, {"^[a-z0-9.]+@[a-z]+\\.[a-z]+$", "me.x@example.org"},
        {"(a|ab|abc)d", "abcd"}, {"(a.|.b)c", "abc"}, {"((a)b)+", "ababx"},
        {"[\x80-\xff]+", "ascii\xe4\xf6\xfc-end"}, {"\xe4+", "x\xe4\xe4y"},
        {"(a|aa)*c", "aaaaaaaaaaaaaaaaaaaabc"}, {"(a|aa)*c", "aaaac"},
        {"(aa|a)+(a)", "aaaaa"}, {"(a+)+b", "aaaaaaaaaaaaaaaaaaaaaaaaaab"}, {"x(a|b|ab)*y", "xababaabbaby"},
        {"(a*)(a+)(a*)", "aaaa"}, {"((a)|(b)|c)+", "abcab"}, {"(ab|a)(bab)?", "abab"},
    };
    std::string input;
    std::vector<std::string> ours;
    for (Case const& c : cases) {
        input += std::string(c.Pattern) + "\t" + c.Text + "\n";
        ours.push_back(Describe(c.Pattern, c.Text));
    }
    std::vector<std::string> theirs = PythonResults(input);
    ASSERT_EQ(theirs.size(), ours.size());
    for (size_t i = 0; i < ours.size(); ++i) {
        SCOPED_TRACE(std::string(cases[i].Pattern) + " on '" + cases[i].Text + "'");
        EXPECT_EQ(ours[i], theirs[i]);
    }
}

// Random patterns against python's re. Patterns the engine refuses by
// design (a repetition of something that can match the empty string) are
// left out of the comparison; every other one must give the same position
// and groups.
TEST_F(Regexp, RandomPatternsAgreeWithPythonRe)
{
    PatternMaker maker(20240611);
    std::vector<std::pair<std::string, std::string>> cases;
    std::string input;
    for (int i = 0; i < 3000; ++i) {
        std::string pattern = maker.Pattern();
        std::string text = maker.Text();
        input += pattern + "\t" + text + "\n";
        cases.emplace_back(pattern, text);
    }
    std::vector<std::string> theirs = PythonResults(input);
    ASSERT_EQ(theirs.size(), cases.size());
    int compared = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        std::string ours = Describe(cases[i].first, cases[i].second);
        if (ours == "ERR")
            continue;
        ++compared;
        SCOPED_TRACE(cases[i].first + " on '" + cases[i].second + "'");
        EXPECT_EQ(ours, theirs[i]);
    }
    EXPECT_GT(compared, 2000);
}
