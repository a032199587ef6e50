// The line file of STRINGARRAY: byte-exact against the golden files, lines of
// any length, items that the plain form cannot carry, and honest results.
#include "velmot/core/hash.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/stringarray.h"
#include "tests/support/testutil.h"
#include "tests/velmot/core/containers_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using containers_test::Fill;
using containers_test::Items;
using Strings = std::vector<std::string>;

namespace {

std::string Golden(char const* name)
{
    return testutil::SourceDir() + "/velmot/core/golden/" + name;
}

const Strings kPlainItems = {"alpha", "", "beta gamma", "x=1 {y}", "back\\slash", "\xe4\xf6", "tab\there"};
const Strings kQuotedItems = {"line1\nline2", "back\\slash", std::string("nul\0byte", 8), "tab\t", "\xe4\xf6",
                              "={}",          "cr\r",        "",                           "ctrl\x1a\x01"};

} // namespace

TEST(StringArrayFile, WritesAndReadsTheGoldenFiles)
{
    struct CASE {
        char const* golden;
        bool quoted;
        Strings items;
    };
    for (auto const& c : std::vector<CASE>{{"stringarray_plain.txt", false, kPlainItems},
                                           {"stringarray_quoted.txt", true, kQuotedItems}}) {
        SCOPED_TRACE(c.golden);
        testutil::TempDir dir;
        STRINGARRAY a;
        Fill(a, c.items);
        EXPECT_EQ(static_cast<int>(c.items.size()), a.Save(dir.file("out.txt").c_str(), c.quoted));
        EXPECT_EQ(testutil::ReadFile(Golden(c.golden)), testutil::ReadFile(dir.file("out.txt")));

        STRINGARRAY b;
        EXPECT_EQ(static_cast<int>(c.items.size()), b.Load(Golden(c.golden).c_str(), c.quoted));
        EXPECT_EQ(c.items, Items(b));
    }
}

TEST(StringArrayFile, QuotedFormCarriesEveryByte)
{
    testutil::TempDir dir;
    Strings items;
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all += static_cast<char>(c);
        items.push_back(std::string(1, static_cast<char>(c)) + "x");
    }
    items.push_back(all);
    STRINGARRAY a;
    Fill(a, items);
    ASSERT_EQ(static_cast<int>(items.size()), a.Save(dir.file("q.txt").c_str(), true));
    STRINGARRAY b;
    EXPECT_EQ(static_cast<int>(items.size()), b.Load(dir.file("q.txt").c_str(), true));
    EXPECT_EQ(items, Items(b));
}

// The plain form would cut an item at a NUL and split it at a line feed; such
// an array is refused and the file keeps what it held.
TEST(StringArrayFile, PlainSaveRefusesItemsItCannotCarry)
{
    for (std::string bad : {std::string("one\ntwo"), std::string("nul\0here", 8), std::string("\n")}) {
        SCOPED_TRACE(bad);
        testutil::TempDir dir;
        testutil::WriteFile(dir.file("f.txt"), "previous\n");
        STRINGARRAY a;
        Fill(a, {"fine", bad});
        EXPECT_EQ(0, a.Save(dir.file("f.txt").c_str(), false));
        EXPECT_EQ("previous\n", testutil::ReadFile(dir.file("f.txt")));
        EXPECT_EQ(2, a.Save(dir.file("f.txt").c_str(), true)); // the quoted form takes it
    }
}

// The savers of the line and record files answer alike: the number of
// items or records written, 1 when there were none, and 0 (false) when the
// file could not be written, so that callers can test the result for truth.
TEST(StringArrayFile, SaveResults)
{
    testutil::TempDir dir;
    STRINGARRAY empty;
    HASHLIST none;
    testutil::WriteFile(dir.file("e.txt"), "old");
    EXPECT_EQ(1, empty.Save(dir.file("e.txt").c_str(), false));
    EXPECT_EQ("", testutil::ReadFile(dir.file("e.txt")));
    EXPECT_EQ(1, none.Save(dir.file("n.txt").c_str()));

    STRINGARRAY a;
    Fill(a, {"x", ""});
    EXPECT_EQ(2, a.Save(dir.file("x.txt").c_str(), false));
    EXPECT_EQ("x\n\n", testutil::ReadFile(dir.file("x.txt")));

    std::string missing = dir.file("no/such/folder/x.txt");
    EXPECT_FALSE(a.Save(missing.c_str(), false));
    EXPECT_FALSE(empty.Save(missing.c_str(), true));
    EXPECT_FALSE(none.Save(missing.c_str()));
    // A full disk shows up in the flush or the close; it must not pass.
    if (FILE* full = fopen("/dev/full", "w")) {
        fclose(full);
        EXPECT_FALSE(a.Save("/dev/full", true));
        HASHLIST one;
        one.AppendItem(HASH());
        EXPECT_FALSE(one.Save("/dev/full"));
    }

    // A file that another stream holds for writing cannot be written.
    FILE* held = FILENAME::fsopen(dir.file("x.txt").c_str(), "a");
    ASSERT_NE(nullptr, held);
    EXPECT_EQ(0, a.Save(dir.file("x.txt").c_str(), false));
    fclose(held);
}

TEST(StringArrayFile, LoadTakesEveryLine)
{
    std::string longline(100000, 'L');
    struct CASE {
        char const* what;
        std::string content;
        bool unquote;
        Strings items;
    };
    std::vector<CASE> cases = {
        {"empty line", "x\n\n", false, {"x", ""}},
        {"CR LF", "a\r\nb\r\n", false, {"a\r", "b\r"}},
        {"no final LF", "first\nlast", false, {"first", "last"}},
        {"empty file", "", false, {}},
        {"one LF", "\n", false, {""}},
        {"long line", longline + "\nz", false, {longline, "z"}},
        {"piece edge 32766", std::string(32766, 'a') + "\nb\n", false, {std::string(32766, 'a'), "b"}},
        {"piece edge 32767", std::string(32767, 'a') + "\n", false, {std::string(32767, 'a')}},
        {"piece edge 32768", std::string(32768, 'a') + "\n\n", false, {std::string(32768, 'a'), ""}},
        {"NUL inside", std::string("a\0b\n", 4), false, {std::string("a\0b", 3)}},
        {"unquote", "a\\nb\n\\x41\\\\\n", true, {"a\nb", "A\\"}},
        {"unquote off", "a\\nb\n", false, {"a\\nb"}},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.what);
        testutil::TempDir dir;
        testutil::WriteFile(dir.file("in.txt"), c.content);
        STRINGARRAY a;
        EXPECT_EQ(static_cast<int>(c.items.size()), a.Load(dir.file("in.txt").c_str(), c.unquote));
        EXPECT_EQ(c.items, Items(a));
        for (int i = 0; i < a.NumItems(); ++i)
            EXPECT_EQ(1252, a[i]->CodePage);
    }
}

TEST(StringArrayFile, LoadPutsTheFileFirstAndAddsNothingOnFailure)
{
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("in.txt"), "f1\nf2\n");
    STRINGARRAY a;
    Fill(a, {"held"});
    EXPECT_EQ(2, a.Load(dir.file("in.txt").c_str(), false));
    EXPECT_EQ((Strings{"f1", "f2", "held"}), Items(a));

    EXPECT_EQ(0, a.Load(dir.file("missing.txt").c_str(), false));
    EXPECT_EQ(0, a.Load(dir.path().c_str(), false)); // a folder reads as an error
    EXPECT_EQ(3, a.NumItems());
}
