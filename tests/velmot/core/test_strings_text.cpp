// STRING text operations: tokens and their rebuilds, Replace, Trim, search,
// numbers, formatting, the null policy and the plain-text helpers.
#include "velmot/core/strings.h"
#include "tests/support/testutil.h"
#include "tests/velmot/core/assertrecorder.h"

#include <gtest/gtest.h>

#include "velmot/core/logit.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

using testutil::ASSERTRECORDER;

namespace {

// "<unset>" for a string without a buffer, so tables can tell the two apart.
std::string Text(STRING const& s)
{
    return s.Buffer ? std::string(s.Buffer, static_cast<size_t>(s.StrLen)) : std::string("<unset>");
}

// Sets TARVOFAILONNULL for one test and restores the previous state.
class NullPolicy {
public:
    explicit NullPolicy(const char* value)
    {
        if (const char* old = getenv("TARVOFAILONNULL"))
            Saved = old, HadValue = true;
        if (value)
            setenv("TARVOFAILONNULL", value, 1);
        else
            unsetenv("TARVOFAILONNULL");
    }
    ~NullPolicy()
    {
        if (HadValue)
            setenv("TARVOFAILONNULL", Saved.c_str(), 1);
        else
            unsetenv("TARVOFAILONNULL");
    }

private:
    std::string Saved;
    bool HadValue = false;
};

} // namespace

TEST(StringText, Tokens)
{
    struct Case {
        const char* text;
        int index;
        unsigned flags;
        const char* expect;
    };
    const std::vector<Case> cases = {
        {"a,,b", 0, 0, "a"},
        {"a,,b", 1, 0, ""}, // consecutive delimiters: an empty token with a buffer
        {"a,,b", 2, 0, "b"},
        {"a,,b", 3, 0, "<unset>"},
        {"a,,b", 3, STRING::TOKEN_EMPTYNOTUNSET, ""},
        {"a,b,c", 1, STRING::TOKEN_REST, "b,c"},
        {"a,b,c", 2, 0x0100 /* only the low byte selects the rest */, "c"},
        {"a b;c", 1, 0, "b"}, // any of the delimiters
        {"a b;c", 2, 0, "c"},
        {"abc", 0, 0, "abc"},
        {"abc,", 1, 0, ""},
        {"", 0, 0, ""},
        {"", 1, 0, "<unset>"},
        {"a,b", -1, 0, "<unset>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " #" + std::to_string(c.index));
        STRING const s(c.text, UNICODE_CPUTF8);
        STRING const token = s.Token(c.index, " ,;", c.flags);
        EXPECT_EQ(c.expect, Text(token));
        EXPECT_EQ(1252, token.CodePage);
    }
    EXPECT_EQ("<unset>", Text(STRING().Token(0, ",")));

    STRING const s("Alpha,beta,,GAMMA");
    EXPECT_EQ(4, s.NumTokens(","));
    EXPECT_EQ(1, STRING().NumTokens(","));
    EXPECT_EQ(3, s.FindToken("gamma", ","));
    EXPECT_EQ(0, s.FindToken("ALPHA", ","));
    EXPECT_EQ(2, s.FindToken("", ","));
    EXPECT_EQ(-1, s.FindToken("alp", ","));
}


TEST(StringText, TokenRebuilds)
{
    enum Op { Insert, Replace, Delete };
    struct Case {
        const char* text; // null: unset
        Op op;
        int index;
        const char* expect;
    };
    const std::vector<Case> cases = {
        {"a,b,c", Replace, 1, "a,X,c"},
        {"a,b,c", Replace, 0, "X,b,c"},
        {"a,b,c", Replace, 2, "a,b,X"},
        {"a,b,c", Replace, 4, "a,b,c,,X"},
        {"a,b,c", Delete, 0, "b,c"},
        {"a,b,c", Delete, 1, "a,c"},
        {"a,b,c", Delete, 2, "a,b"},
        {"a,b,c", Delete, 5, "a,b,c,,"}, // tokens 0-4 joined, the missing ones empty
        {"a", Insert, 3, "a,,,X"},
        {"a,b", Insert, 0, "X,a,b"},
        {"a,b", Insert, 1, "a,X,b"},
        {"a,b", Insert, 2, "a,b,X"},
        {nullptr, Insert, 0, "X"},
        {nullptr, Insert, 2, ",,X"},
        {",", Replace, 1, ",X"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text ? c.text : "<unset>") + " op " + std::to_string(c.op) + " #" +
                     std::to_string(c.index));
        STRING s(c.text, UNICODE_CPUTF8);
        switch (c.op) {
        case Insert:
            s.InsertToken(c.index, ",", "X");
            break;
        case Replace:
            s.ReplaceToken(c.index, ",", "X");
            break;
        case Delete:
            s.DeleteToken(c.index, ",");
            break;
        }
        EXPECT_EQ(c.expect, Text(s));
        EXPECT_EQ(1252, s.CodePage);
    }

    ASSERTRECORDER asserts;
    STRING s("a;b");
    s.ReplaceToken(0, ";,", "X");
    s.InsertToken(0, "", "X");
    s.DeleteToken(0, nullptr);
    EXPECT_EQ("a;b", Text(s));
    auto seen = asserts.Take();
    ASSERT_EQ(3u, seen.size());
    for (const auto& a : seen)
        EXPECT_EQ("strlen(delim)==1", a.Condition);
}

TEST(StringText, Replace)
{
    struct Case {
        const char* text;
        const char* from;
        const char* to;
        bool casesensitive;
        const char* expect;
    };
    const std::vector<Case> cases = {
        {"aaa", "a", "aa", true, "aaaaaa"}, // goes on behind each inserted text
        {"aAa", "A", "b", false, "bbb"},
        {"aAa", "A", "b", true, "aba"},
        {"hello world", "o", "0", true, "hell0 w0rld"},
        {"abcabc", "bc", "", true, "aa"},
        {"aaaa", "aa", "b", true, "bb"},
        {"abc", "", "x", true, "abc"},
        {"abc", "b", "b", true, "abc"},
        {"ABAB", "ab", "ab", false, "ABAB"}, // equal texts: nothing happens
        {"xyz", "q", "r", true, "xyz"},
        {"a-b", "-", nullptr, true, "a<NULL>b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " " + c.from + " -> " + (c.to ? c.to : "<null>"));
        STRING s(c.text, UNICODE_CPUTF8);
        s.Replace(c.from, c.to, c.casesensitive);
        EXPECT_EQ(c.expect, Text(s));
        EXPECT_EQ(UNICODE_CPUTF8, s.CodePage);
    }
    STRING s("abc");
    s.Replace(nullptr, "x");
    EXPECT_EQ("abc", Text(s));
    STRING unset;
    unset.Replace("a", "b");
    EXPECT_EQ(nullptr, unset.Buffer);

    // Many hits in a large text, growing and shrinking.
    std::string big;
    for (int i = 0; i < 50000; ++i)
        big += "key=value;";
    STRING grow(big.c_str());
    grow.Replace("=", " := ");
    EXPECT_EQ(int32_t(big.size() + 50000 * 3), grow.StrLen);
    grow.Replace(" := ", "=");
    EXPECT_EQ(big, Text(grow));
    grow.Replace("KEY", "k", false);
    EXPECT_EQ(int32_t(big.size() - 50000 * 2), grow.StrLen);
    EXPECT_EQ("k=value;k=", Text(grow).substr(0, 10));
}

TEST(StringText, TrimChopAndCase)
{
    struct Case {
        const char* text;
        char how;
        const char* chars;
        const char* expect;
    };
    const std::vector<Case> cases = {
        {"  ab  ", 'B', " ", "ab"},   {"  ab  ", 'l', " ", "ab  "},  {"  ab  ", 'r', " ", "  ab"},
        {"xxabyx", 'b', "xy", "ab"},  {"    ", 'B', " ", ""},       {"\tab \t", 'B', " \t", "ab"},
        {"ab", 'B', "", "ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " " + c.how);
        STRING s(c.text);
        s.Trim(c.how, c.chars);
        EXPECT_EQ(c.expect, Text(s));
        EXPECT_EQ(0, s.Buffer[s.StrLen]);
    }

    ASSERTRECORDER asserts;
    STRING s(" x ");
    s.Trim('X', " ");
    EXPECT_EQ(" x ", Text(s));
    auto seen = asserts.Take();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("how=='L' || how=='R' || how=='B'", seen[0].Condition);

    STRING e("");
    EXPECT_FALSE(e.Chop('x'));
    EXPECT_FALSE(e.ChopLeft('x'));
    EXPECT_EQ("", Text(e));
    STRING c("abca");
    EXPECT_FALSE(c.Chop('c'));
    EXPECT_TRUE(c.Chop('a'));
    EXPECT_TRUE(c.ChopLeft('a'));
    EXPECT_EQ("bc", Text(c));

    STRING r("a-b_c-");
    r.RemoveChars("-_");
    EXPECT_EQ("abc", Text(r));
    EXPECT_EQ(0, r.Buffer[3]);
    EXPECT_EQ(0, r.Buffer[5]);

    STRING u("MiXeD 1");
    u.ToUpper();
    EXPECT_EQ("MIXED 1", Text(u));
    u.ToLower();
    EXPECT_EQ("mixed 1", Text(u));
    STRING unset;
    unset.ToUpper();
    EXPECT_EQ(nullptr, unset.Buffer);
}

TEST(StringText, Search)
{
    struct Case {
        const char* text;
        const char* needle;
        int32_t from;
        int32_t pos;
        int32_t ipos;
    };
    const std::vector<Case> cases = {
        {"Hello hello", "hello", 0, 6, 0}, {"Hello hello", "hello", 7, -1, -1}, {"Hello hello", "HELLO", 0, -1, 0},
        {"abc", "", 1, 1, 1},              {"abc", "c", 3, -1, -1},              {"abc", "abcd", 0, -1, -1},
        {"aaab", "aab", 0, 1, 1},          {"xAb", "ab", -5, -1, 1},              {"", "a", 0, -1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.needle + " from " + std::to_string(c.from));
        STRING const s(c.text);
        EXPECT_EQ(c.pos, s.Pos(c.needle, c.from));
        EXPECT_EQ(c.ipos, s.iPos(c.needle, c.from));
        int32_t at = -99;
        EXPECT_EQ(c.pos >= 0, s.Find(c.needle, &at, c.from));
        EXPECT_EQ(c.pos >= 0 ? c.pos : -99, at);
        at = -99;
        EXPECT_EQ(c.ipos >= 0, s.iFind(c.needle, &at, c.from));
        EXPECT_EQ(c.ipos >= 0 ? c.ipos : -99, at);
    }
    EXPECT_EQ(-1, STRING().Pos("a"));
    EXPECT_EQ(-1, STRING().iPos(""));

    // The content is searched as a text: up to the next zero byte.
    STRING z;
    z.Make(6, "ab\0cab");
    EXPECT_EQ(-1, z.Pos("ab", 1));
    EXPECT_EQ(-1, z.iPos("AB", 1));
    EXPECT_EQ(3, z.Pos("cab", 3));
    EXPECT_EQ(3, z.iPos("CAB", 3));
    // Texts full of near misses: found, or not, all the same.
    std::string const as(20000, 'a');
    std::string const needle = std::string(50, 'a') + "b";
    EXPECT_EQ(19950, STRING((as + "b").c_str()).Pos(needle.c_str()));
    EXPECT_EQ(19950, STRING((as + "b" + as).c_str()).Pos(needle.c_str(), 100));
    EXPECT_EQ(-1, STRING(as.c_str()).Pos(needle.c_str()));
    for (bool casesensitive : {true, false}) {
        STRING r = z;
        r.Replace("ab", "x", casesensitive);
        EXPECT_EQ(std::string("x\0cab", 5), Text(r));
    }
}

TEST(StringText, NullPolicyFromTheEnvironment)
{
    struct Case {
        const char* policy;
        const char* appended;
        bool asserts;
    };
    const std::vector<Case> cases = {
        {nullptr, "<NULL>", false}, {"0", "<NULL>", false}, {"2", "<NULL>", false},
        {"1", "", false},           {"3", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.policy ? c.policy : "unset");
        NullPolicy policy(c.policy);
        ASSERTRECORDER asserts;
        STRING s("x");
        s.Append(static_cast<char const*>(nullptr));
        EXPECT_EQ(std::string("x") + c.appended, Text(s));
        auto seen = asserts.Take();
        ASSERT_EQ(c.asserts ? 1u : 0u, seen.size());
        if (c.asserts) {
            EXPECT_EQ("p!=NULL", seen[0].Condition);
            EXPECT_EQ("STRING::Append op1", seen[0].Info);
        }
    }
    {
        NullPolicy policy(nullptr);
        EXPECT_STREQ(L"<NULL>", BINARY::NULLCHECK(static_cast<wchar_t const*>(nullptr), "w"));
        STRING s("ab");
        s.BINARY::Append(nullptr, 1000); // only the replacement's own bytes
        EXPECT_EQ("ab<NULL>", Text(s));
        EXPECT_EQ(0, static_cast<int>(STRING()));
    }
}

// With the null passed on (policy 1 and 3) no operation may hand it to a C
// string function; each treats it as "" after the report.
TEST(StringText, NullsPassedOnNeverCrash)
{
    testutil::TempDir dir;
    for (const char* value : {"1", "3"}) {
        SCOPED_TRACE(value);
        NullPolicy policy(value);
        ASSERTRECORDER asserts;
        char const* const none = nullptr;
        STRING s("abca");
        EXPECT_EQ(0, s.Pos(none));
        EXPECT_EQ(0, s.iPos(none));
        s.Insert(none, 1);
        s.Trim('B', none);
        s.RemoveChars(none);
        EXPECT_EQ("abca", Text(s));
        EXPECT_EQ("abca", Text(s.Token(0, none)));
        EXPECT_EQ(1, s.NumTokens(none));
        EXPECT_EQ(-1, s.FindToken(none, ","));
        EXPECT_EQ("abca", Text(s.Substr(0, none)));
        s.Replace("a", none);
        EXPECT_EQ("bc", Text(s));
        EXPECT_EQ("bc", Text(s || none));
        EXPECT_EQ("bc", Text(none || s));
        EXPECT_EQ(0, s.Format(none));
        EXPECT_EQ("", Text(s));
        EXPECT_EQ("", Text(STRING::Repeat(none, 3)));
        EXPECT_LT(BINARY::STRICMP(none, "a"), 0);
        EXPECT_NE(0, BINARY::MEMCMP(none, "abcdefghijklmnop", 16));
        EXPECT_EQ(0, BINARY::STRICMP(none, none, true));
        EXPECT_EQ(1, BINARY::STRICMP(none, "a", true));
        EXPECT_EQ(0, static_cast<int>(STRING()));
        EXPECT_EQ(0.0, static_cast<double>(STRING()));
        EXPECT_EQ(0UL, static_cast<unsigned long>(STRING()));
        EXPECT_TRUE(STRING().Save(dir.file("unset.txt").c_str()));
        EXPECT_EQ(nullptr, BINARY::NULLCHECK(none, "check"));

        auto seen = asserts.Take();
        if (value[0] == '1') {
            EXPECT_TRUE(seen.empty());
            continue;
        }
        std::vector<std::string> infos;
        for (const auto& a : seen) {
            EXPECT_EQ("p!=NULL", a.Condition);
            infos.push_back(a.Info);
        }
        for (const char* where : {"STRING::Pos op1", "STRING::Insert op1", "STRING::Replace op2",
                                  "STRING::Token op2", "atoi", "atof", "strtoul", "STRING::Save", "check"})
            EXPECT_NE(infos.end(), std::find(infos.begin(), infos.end(), where)) << where;
    }
}

TEST(StringText, NumbersToTextAndBack)
{
    struct Case {
        STRING value;
        const char* expect;
        int32_t blocksize;
    };
    const std::vector<Case> cases = {
        {STRING(2.5, -1), "2.5", 96},
        {STRING(3.0, -1), "3", 96},
        {STRING(3.0, 2), "3.00", 96},
        {STRING(100.0, -1), "100", 96},
        {STRING(-0.125, -1), "-0.125", 96},
        {STRING(1.23456, -1), "1.2346", 96},
        {STRING(0.00001, -1), "0", 96},
        {STRING(-42), "-42", 16},
        {STRING(static_cast<signed char>(-128)), "-128", 16},
        {STRING(4000000000u), "4000000000", 16},
        {STRING(ULONG_MAX), "18446744073709551615", 16},
        {STRING(ULLONG_MAX), "18446744073709551615", 32},
        {STRING(LLONG_MIN), "-9223372036854775808", 32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expect);
        EXPECT_EQ(c.expect, Text(c.value));
        EXPECT_EQ(c.blocksize, c.value.BlockSize);
        EXPECT_EQ(1252, c.value.CodePage);
    }

    EXPECT_EQ(42, static_cast<int>(STRING("42abc")));
    EXPECT_EQ(-7, static_cast<int>(STRING("  -7")));
    EXPECT_EQ(0, static_cast<int>(STRING("abc")));
    EXPECT_EQ(44, static_cast<signed char>(STRING("300")));
    EXPECT_EQ(ULONG_MAX, static_cast<unsigned long>(STRING("18446744073709551615")));
    EXPECT_EQ(25.0, static_cast<double>(STRING("2.5e1")));
}

TEST(StringText, FormatStoresAtMost8191Bytes)
{
    ASSERTRECORDER asserts;
    STRING s("old", UNICODE_CPUTF8);
    EXPECT_EQ(3, s.Format("%d-%s", 7, "x"));
    EXPECT_EQ("7-x", Text(s));
    EXPECT_EQ(1252, s.CodePage);
    EXPECT_EQ(2, s.FormatAppend("%c%c", 'y', 'z'));
    EXPECT_EQ("7-xyz", Text(s));
    s.Format("%s|%s", s.Buf(), s.Buf()); // its own text as an argument
    EXPECT_EQ("7-xyz|7-xyz", Text(s));
    EXPECT_EQ(0u, asserts.Count());

    std::string const long8190(8190, 'f');
    EXPECT_EQ(8190, s.Format("%s", long8190.c_str()));
    EXPECT_EQ(0u, asserts.Count());

    for (size_t length : {size_t(8191), size_t(8192), size_t(20000)}) {
        SCOPED_TRACE(length);
        std::string const text(length, 'g');
        EXPECT_EQ(8191, s.Format("%s", text.c_str())); // the stored length, not the wanted one
        EXPECT_EQ(8191, s.StrLen);
        EXPECT_EQ(text.substr(0, 8191), Text(s));
        auto seen = asserts.Take();
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ("rc>=0 && rc<sizeof(buf)-1", seen[0].Condition);
    }
    STRING a("head:");
    EXPECT_EQ(8191, a.FormatAppend("%s", std::string(9000, 'h').c_str()));
    EXPECT_EQ(5 + 8191, a.StrLen);
    EXPECT_EQ(1u, asserts.Take().size());
}

TEST(StringText, CopiesIntoCallerBuffers)
{
    STRING const s("100% %s %n");
    char buf[64];
    EXPECT_TRUE(s.ToBuffer(buf, sizeof buf)); // the text is never a format
    EXPECT_STREQ("100% %s %n", buf);
    EXPECT_TRUE(s.ToBuffer(buf, 4));
    EXPECT_STREQ("100", buf);
    EXPECT_FALSE(s.ToBuffer(buf, 1));
    EXPECT_STREQ("", buf);
    EXPECT_FALSE(STRING("").ToBuffer(buf, sizeof buf));

    EXPECT_EQ(3, s.CopyToBuf(buf, 4));
    EXPECT_STREQ("100", buf);
    EXPECT_EQ(10, s.CopyToBuf(buf, sizeof buf));
    EXPECT_EQ(0, s.CopyToBuf(buf, 0));
    EXPECT_EQ(0, STRING().CopyToBuf(buf, sizeof buf));
    EXPECT_STREQ("", buf);
}

TEST(StringText, ConcatenationDefaultsAndRepeat)
{
    STRING const a("a", UNICODE_CPUTF8);
    STRING const b("b", UNICODE_CPUTF8);
    STRING r = a || "x";
    EXPECT_EQ("ax", Text(r));
    EXPECT_EQ(1252, r.CodePage);
    EXPECT_EQ("xb", Text("x" || b));
    EXPECT_EQ("ab", Text(a || b));
    EXPECT_EQ("", Text(STRING() || STRING()));

    EXPECT_TRUE(STRING("ab") == "ab");
    EXPECT_FALSE(STRING("ab") == "abc");
    EXPECT_TRUE(STRING() == STRING(""));
    EXPECT_TRUE(STRING("x") != STRING("y"));

    STRING unset;
    unset.SetDefault(STRING("dflt"));
    EXPECT_EQ("dflt", Text(unset));
    STRING empty("");
    empty.SetDefault(STRING("dflt"));
    EXPECT_EQ("", Text(empty));

    EXPECT_EQ("ababab", Text(STRING::Repeat("ab", 3)));
    EXPECT_EQ("ab", Text(STRING::Repeat("ab", 0)));
    EXPECT_EQ("", Text(STRING::Repeat("", 5)));

    STRING ins("abc");
    ins.Insert("XY", 1);
    EXPECT_EQ("aXYbc", Text(ins));
    ins.Insert("!", 5);
    EXPECT_EQ("aXYbc!", Text(ins));
    ins.Insert("?", 9);
    EXPECT_EQ("aXYbc!", Text(ins));
    ASSERTRECORDER asserts;
    ins.Insert(ins.Buffer, 2);
    EXPECT_EQ("aXYbc!", Text(ins));
    auto seen = asserts.Take();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("text!=this->Buffer", seen[0].Condition);
}

TEST(StringText, PlainTextHelpers)
{
    EXPECT_EQ(0, stricmp("abc", "ABC"));
    EXPECT_EQ('c' - 'd', stricmp("abC", "abd"));
    EXPECT_EQ('b' - 'a', stricmp("B", "a"));
    EXPECT_EQ(-'a', stricmp("", "A"));
    EXPECT_EQ(0, stricmp(nullptr, ""));
    EXPECT_EQ(0, strnicmp("abcX", "ABCy", 3));
    EXPECT_NE(0, strnicmp("abcX", "ABCy", 4));
    EXPECT_EQ(0, strnicmp("a", "b", 0));
    EXPECT_EQ(0, wcsicmp(L"Hello", L"hELLO"));
    EXPECT_EQ('a' - 'c', wcsicmp(L"a", L"C"));
    EXPECT_EQ(0, wcsnicmp(L"abX", L"ABy", 2));
    EXPECT_EQ(0, BINARY::STRICMP("Abc", "aBC"));

    char text[] = "Mixed Case 9!";
    EXPECT_STREQ("MIXED CASE 9!", strupr(text));
    EXPECT_STREQ("mixed case 9!", strlwr(text));
    wchar_t wide[] = L"Wide Text";
    EXPECT_STREQ(L"WIDE TEXT", wcsupr(wide));
    EXPECT_STREQ(L"wide text", wcslwr(wide));
    EXPECT_EQ(nullptr, strupr(nullptr));
}

TEST(StringFiles, SaveAndLoadWholeFiles)
{
    testutil::TempDir dir;
    std::string const path = dir.file("data.bin");
    std::string payload;
    for (int i = 0; i < 100000; ++i)
        payload += static_cast<char>(i * 7);
    BINARY out(payload.data(), static_cast<int32_t>(payload.size()));
    ASSERT_TRUE(out.Save(path.c_str()));
    EXPECT_EQ(payload, testutil::ReadFile(path));

    STRING in("old content");
    ASSERT_TRUE(in.Load(path.c_str()));
    EXPECT_EQ(payload, Text(in));
    EXPECT_EQ(0, in.BlockSize % 65536);
    EXPECT_EQ(131072, in.BufLen); // one block for the whole file

    // Failures keep the old content and report false.
    STRING keep("keep");
    EXPECT_FALSE(keep.Load(dir.file("missing").c_str()));
    EXPECT_FALSE(keep.Load(dir.path().c_str())); // opens, but reading a folder fails
    EXPECT_EQ("keep", Text(keep));

    EXPECT_FALSE(keep.Save(dir.file("no/such/folder").c_str()));
    EXPECT_FALSE(keep.Save("/dev/full", "ab")); // the write fails, not the open
    EXPECT_EQ(ENOSPC, errno);

    STRING empty("");
    ASSERT_TRUE(empty.Save(path.c_str()));
    ASSERT_TRUE(in.Load(path.c_str()));
    EXPECT_EQ("", Text(in));
}

TEST(StringFiles, LogLines)
{
    testutil::TempDir dir;
    std::string const log = dir.file("strings.log");
    std::string const data = dir.file("five.txt");
    EXPECT_EQ(0, testutil::RunInChild([&] {
        LOGITARG(("/LOGIT:" + log).c_str());
        STRING("hello").Save(data.c_str());
        STRING("hello").Save("/dev/full", "ab");
        STRING in;
        in.Load(data.c_str());
        in.Load(dir.file("missing").c_str());
        STRING big;
        big.Make(40000);
        big.Make(100000);
        LOGITARG("/LOGITCLOSE");
        return 0;
    }));
    std::string const text = testutil::ReadFile(log);
    for (std::string line : {"BINARY::Save " + data + "\n", std::string("5 bytes, OK\n"),
                             std::string("5 bytes, No space left on device\n"),
                             "BINARY::Load " + data + " (5 bytes)\n",
                             std::string("BINARY::Load returns (nil), 0 bytes, No such file or directory\n"),
                             std::string("STRING::Make Upgrade String to STRINGFLAG_DYNABLOCK\n"),
                             std::string("STRING::Make STRINGFLAG_DYNABLOCK new blocksize 65536\n")})
        EXPECT_NE(std::string::npos, text.find(line)) << line << "\nin:\n" << text;
    EXPECT_NE(std::string::npos, text.find("BINARY::Load returns 0x")) << text;
}
