// HASH, HASHLIST and METAHASH: the record operations, the text forms (byte
// for byte against the golden files), reading hand-made and damaged texts,
// the list searches and sorting.
#include "velmot/core/hash.h"
#include "tests/support/testutil.h"
#include "tests/velmot/core/containers_support.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using containers_test::ASKED;
using containers_test::Bytes;
using containers_test::Items;
using containers_test::Make;
using Strings = std::vector<std::string>;

namespace {

std::string Golden(char const* name)
{
    return testutil::ReadFile(testutil::SourceDir() + "/velmot/core/golden/" + name);
}

STRING Text(std::string const& s)
{
    return Make(s);
}

// "key=value" per item, values as bytes, binary values marked.
Strings Entries(HASH const& h)
{
    Strings out;
    for (int i = 0; i < h.Keys.NumItems(); ++i) {
        STRING const& v = *h.Values[i];
        out.push_back(Bytes(*h.Keys[i]) + "=" + Bytes(v) + ((v.Flags & STRINGFLAG_BINARY) ? " [bin]" : ""));
    }
    return out;
}

STRING BinaryValue(std::string const& bytes)
{
    STRING s = Make(bytes);
    s.Flags |= STRINGFLAG_BINARY;
    return s;
}

// The record of the golden file hash_record.txt.
HASH GoldenRecord()
{
    HASH h;
    h.Handle = 7;
    h.SetKeyString("K");
    h["b"] = "x";
    h["A"] = "y";
    h["eq"] = "a=b{c}";
    h["bin"] = BinaryValue(std::string("\x00\xff", 2));
    h["empty"];
    h["path"] = "C:\\temp";
    h["nl"] = "a\nb";
    h["u"] = "\xe4";
    h["#hash"] = "comment-like key";
    h["a=b"] = "key with equals";
    h["//c"] = "slashes";
    h["[sec"] = "bracket";
    h["\\x41"] = "looks escaped";
    h["Gr\xfc\xdf" "e"] = "raw high bytes in key";
    h["sp ace "] = " spaced value ";
    return h;
}

} // namespace

TEST(Hash, KeysStayInCaseInsensitiveOrder)
{
    HASH h;
    h["b"] = "x";
    h["A"] = "y";
    h["c"] = "z";
    h["B"] = "changed"; // the same key without regard to case
    EXPECT_EQ((Strings{"A=y", "b=changed", "c=z"}), Entries(h));
    EXPECT_EQ(1, h.KeyIndex("B"));
    EXPECT_EQ(-1, h.KeyIndex("bb"));
    EXPECT_TRUE(h.CheckKey("C"));
    EXPECT_EQ((Strings{"A", "b", "c"}), Items(h.EnumKeys()));
    EXPECT_EQ("z", Bytes(h.ItemByIndex(2)));

    // A new key has an unset value of code page 1252.
    STRING& fresh = h["new"];
    EXPECT_FALSE(fresh.IsSet());
    EXPECT_EQ(1252, fresh.CodePage);

    EXPECT_EQ(1, h.DeleteItem("a"));
    EXPECT_EQ(0, h.DeleteItem("a"));
    EXPECT_EQ((Strings{"b=changed", "c=z", "new="}), Entries(h));
}

TEST(Hash, RenameAppendAndLockedTable)
{
    ASKED asked;
    HASH h;
    h["one"] = "1";
    h["two"] = "2";
    EXPECT_EQ(0, h.RenameItem("none", "x"));
    EXPECT_EQ(1, h.RenameItem("one", "Zed")); // lands at its sorted place
    EXPECT_EQ((Strings{"two=2", "Zed=1"}), Entries(h));
    EXPECT_EQ(1, h.RenameItem("Zed", "TWO")); // an existing key is overwritten
    EXPECT_EQ((Strings{"two=1"}), Entries(h));

    EXPECT_FALSE(h.AllowNewKeys(false));
    EXPECT_EQ(1, h.RenameItem("two", "three")); // renaming works on a locked table
    EXPECT_TRUE(asked.Take().empty());
    h["four"] = "4"; // reported, then added all the same
    EXPECT_EQ((Strings{"!this->LockTable"}), asked.Take());
    EXPECT_TRUE(h.AllowNewKeys(true));

    HASH other;
    other["three"] = "3";
    other["bin"] = BinaryValue("\x01");
    h.Append(other);
    h.Append(h);
    EXPECT_EQ((Strings{"bin=\x01 [bin]", "four=4", "three=3"}), Entries(h));
}

TEST(Hash, ConstLookupOfAMissingKeyIsReported)
{
    ASKED asked;
    HASH h;
    h["a"] = "1";
    HASH const& c = h;
    EXPECT_EQ("1", Bytes(c["A"]));
    STRING const& missing = c["b"];
    EXPECT_FALSE(missing.IsSet());
    EXPECT_EQ((Strings{"rcidx!=-1"}), asked.Take());
    EXPECT_EQ(1, h.Keys.NumItems());
}

TEST(Hash, CopiesAreDeepAndSelfAssignmentIsHarmless)
{
    HASH h = GoldenRecord();
    h.UserData = &h;
    h.LockTable = true;
    HASH copy(h);
    EXPECT_EQ(Entries(h), Entries(copy));
    EXPECT_EQ(7u, copy.Handle);
    EXPECT_EQ(&h, copy.UserData);
    EXPECT_TRUE(copy.LockTable);
    EXPECT_EQ("K", Bytes(copy.KeyString));
    EXPECT_STREQ("HASH-KEYS", copy.Keys.TypeName);
    copy.LockTable = false;
    copy["b"] = "changed";
    EXPECT_EQ("x", Bytes(h["b"]));

    HASH& same = copy;
    copy = same;
    EXPECT_EQ("changed", Bytes(copy["b"]));
    copy = h;
    EXPECT_EQ(Entries(h), Entries(copy));

    // A large record given a small one's content, then grown again: the
    // slots it grows into must be its own.
    HASH big;
    for (int i = 0; i < 300; ++i)
        big[std::to_string(i).c_str()] = "v";
    HASH small;
    small["a"] = "1";
    big = small;
    for (int i = 0; i < 300; ++i)
        big[std::to_string(i).c_str()] = "w";
    EXPECT_EQ(301, big.Keys.NumItems());
    EXPECT_EQ(301, big.Values.NumItems());
}

TEST(HashText, WritesTheGoldenRecordByteForByte)
{
    HASH h = GoldenRecord();
    EXPECT_EQ(Golden("hash_record.txt"), Bytes(h.AsString()));

    HASH back(Text(Golden("hash_record.txt")));
    EXPECT_EQ(Entries(h), Entries(back));
    EXPECT_EQ(7u, back.Handle);
    EXPECT_EQ("K", Bytes(back.KeyString));
}

TEST(HashText, SmallForms)
{
    struct CASE {
        char const* what;
        std::function<void(HASH&)> fill;
        std::string text;
    };
    std::vector<CASE> cases = {
        {"empty record", [](HASH&) {}, ""},
        {"handle and two items", [](HASH& h) { h.Handle = 5; h["b"] = "x"; h["A"] = "y"; }, "#Handle=5\nA=y\nb=x\n"},
        {"handle above 2^31", [](HASH& h) { h.Handle = 0xFFFFFFFEu; }, "#Handle=-2\n"},
        {"empty key text", [](HASH& h) { h.SetKeyString(""); }, "#Key=\n"},
        {"key text as it is", [](HASH& h) { h.SetKeyString("C:\\temp\\new={x}"); }, "#Key=C:\\temp\\new={x}\n"},
        {"key text like a binary value", [](HASH& h) { h.SetKeyString("={{AP8=}}"); }, "#Key=={{AP8=}}\n"},
        // What no line can carry goes to a line of its own, escaped.
        {"key text with a line feed", [](HASH& h) { h.SetKeyString("a=b\nc\\"); }, "#KeyQuoted=a\\x3db\\nc\\\\\n"},
        {"key text ending in CR", [](HASH& h) { h.SetKeyString("a\r"); }, "#KeyQuoted=a\\r\n"},
        {"key text with NUL", [](HASH& h) { h.KeyString = Make(std::string("a\0b", 3)); }, "#KeyQuoted=a\\0b\n"},
        {"binary 00 FF", [](HASH& h) { h["k"] = BinaryValue(std::string("\x00\xff", 2)); }, "k=={{AP8=}}\n"},
        {"empty binary", [](HASH& h) { h["k"] = BinaryValue(""); }, "k=={{}}\n"},
        {"value like binary", [](HASH& h) { h["k"] = "={{AP8=}}"; }, "k=\\x3d\\x7b\\x7bAP8\\x3d\\x7d\\x7d\n"},
        {"empty key", [](HASH& h) { h[""] = "v"; }, "=v\n"},
        {"NUL in key", [](HASH& h) { h.Keys.AppendItem(Make(std::string("a\0b", 3))); h.Values.AppendItem(STRING("v")); },
         "\\x61\\0b=v\n"},
        {"keyword as key", [](HASH& h) { h["#Handle"] = "9"; }, "\\x23Handle=9\n"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.what);
        HASH h;
        c.fill(h);
        STRING text = h.AsString();
        EXPECT_TRUE(text.IsSet());
        EXPECT_EQ(c.text, Bytes(text));
        // Whatever was written reads back as the same record.
        HASH back(text);
        EXPECT_EQ(Bytes(h.AsString()), Bytes(back.AsString()));
        EXPECT_EQ(Entries(h), Entries(back));
        EXPECT_EQ(h.Handle, back.Handle);
        EXPECT_EQ(h.KeyString.IsSet(), back.KeyString.IsSet());
        EXPECT_EQ(Bytes(h.KeyString), Bytes(back.KeyString));
    }
}

TEST(HashText, ReadsHandMadeTexts)
{
    struct CASE {
        char const* what;
        std::string text;
        Strings entries;
        uint32_t handle;
        char const* keytext; // null: unset
    };
    std::string const bin00ff("k=\x00\xff [bin]", 10);
    std::vector<CASE> cases = {
        {"comments and unknown # lines", "// c\n#Comment=x\n#\nA=1\n\n", {"A=1"}, 0, nullptr},
        {"trailing CRs", "A=1\r\r\n#Handle=3\r\n", {"A=1"}, 3, nullptr},
        {"keywords in capitals", "#HANDLE=12\n#KEY=Upper\n", {}, 12, "Upper"},
        // Stored files hold the key text as it is, backslashes included.
        {"key text with backslashes", "#Key=C:\\temp\\new\r\n", {}, 0, "C:\\temp\\new"},
        {"key text with = and braces", "#Key==x={{y}}\n", {}, 0, "=x={{y}}"},
        {"quoted key text", "#keyquoted=a\\nb\\x3d\n", {}, 0, "a\nb="},
        {"spaces around =", " k = v \n", {" k = v "}, 0, nullptr},
        {"more = in the value", "k=a=b==c\n", {"k=a=b==c"}, 0, nullptr},
        {"duplicates stay, first found", "dup=2\nDUP=1\na=0\n", {"a=0", "dup=2", "DUP=1"}, 0, nullptr},
        {"binary with junk", "k=={{AP\n", {"k=={{AP"}, 0, nullptr},
        {"binary skips other chars", "k=={{A P*8=}}\n", {bin00ff}, 0, nullptr},
        {"binary without padding", "k=={{AP8}}\n", {bin00ff}, 0, nullptr},
        {"backslash kept when unknown", "k=C:\\dir\n", {"k=C:\\dir"}, 0, nullptr},
        {"plain key with backslash", "C:\\t=1\n", {"C:\\t=1"}, 0, nullptr},
        {"no final line feed", "a=1\nb=2", {"a=1", "b=2"}, 0, nullptr},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.what);
        HASH h(Text(c.text));
        EXPECT_EQ(c.entries, Entries(h));
        EXPECT_EQ(c.handle, h.Handle);
        EXPECT_EQ(c.keytext != nullptr, h.KeyString.IsSet());
        if (c.keytext) {
            EXPECT_EQ(c.keytext, Bytes(h.KeyString));
        }
    }
    HASH dup(Text("dup=2\nDUP=1\n"));
    EXPECT_EQ("2", Bytes(dup["Dup"]));
}

TEST(HashText, DamagedLinesAreLoggedNotAsked)
{
    ASKED asked;
    HASH h(Text("no equals\nA=1\n"));
    EXPECT_EQ((Strings{"A=1"}), Entries(h));
    EXPECT_TRUE(asked.Take().empty());
}

TEST(HashFile, SaveAndLoad)
{
    testutil::TempDir dir;
    std::string file = dir.file("rec.txt");
    HASH h = GoldenRecord();
    EXPECT_TRUE(h.Save(file.c_str()));
    EXPECT_EQ(Golden("hash_record.txt"), testutil::ReadFile(file));

    HASH back;
    back.UserData = &back;
    ASSERT_TRUE(back.Load(file.c_str()));
    EXPECT_EQ(Entries(h), Entries(back));
    EXPECT_EQ(7u, back.Handle);
    EXPECT_EQ(nullptr, back.UserData);

    // A file without "#Key=" keeps the record's own key text.
    testutil::WriteFile(file, "a=1\n");
    HASH keyed;
    keyed.SetKeyString("mine");
    keyed.Handle = 3;
    ASSERT_TRUE(keyed.Load(file.c_str()));
    EXPECT_EQ("mine", Bytes(keyed.KeyString));
    EXPECT_EQ(0u, keyed.Handle);

    EXPECT_FALSE(keyed.Load(dir.file("missing").c_str()));
    EXPECT_EQ((Strings{"a=1"}), Entries(keyed));
    EXPECT_FALSE(h.Save(dir.file("no/folder/x").c_str()));
}

TEST(HashList, WritesTheGoldenListAndReadsItBack)
{
    HASHLIST list;
    HASH r0;
    r0.Handle = 1;
    r0["Port"] = "23";
    r0["Name"] = "Alpha";
    HASH r2;
    r2.SetKeyString("");
    r2["x"] = "1";
    list.AppendItem(r0);
    list.AppendItem(HASH());
    list.AppendItem(r2);
    list.AppendItem(HASH());
    std::string golden = Golden("hashlist.txt");
    EXPECT_EQ(golden, Bytes(list.AsString()));

    testutil::TempDir dir;
    EXPECT_EQ(4, list.Save(dir.file("l.txt").c_str()));
    EXPECT_EQ(golden, testutil::ReadFile(dir.file("l.txt")));

    // Read from a string and from a file, every record comes back, the empty
    // last one included.
    HASHLIST fromtext;
    EXPECT_EQ(4, fromtext.FromString(Text(golden)));
    HASHLIST fromfile;
    EXPECT_EQ(4, fromfile.Load(dir.file("l.txt").c_str()));
    for (HASHLIST* back : {&fromtext, &fromfile}) {
        EXPECT_EQ(golden, Bytes(back->AsString()));
        EXPECT_EQ(1u, (*back)[0]->Handle);
        EXPECT_TRUE((*back)[2]->KeyString.IsSet());
        EXPECT_FALSE((*back)[1]->KeyString.IsSet());
    }

    HASHLIST empty;
    STRING none = empty.AsString();
    EXPECT_TRUE(none.IsSet());
    EXPECT_EQ("", Bytes(none));
    EXPECT_EQ(1, empty.Save(dir.file("e.txt").c_str()));
    EXPECT_EQ("", testutil::ReadFile(dir.file("e.txt")));
    EXPECT_EQ(0, empty.Save(dir.file("no/folder/e.txt").c_str()));
    EXPECT_EQ(0, list.Save("/dev/full")); // a full disk is a failure, not a count
}

// A hand-edited file: CR LF, comments, text before the first header, header
// numbers out of order, no line feed at the end. Reading from a string and
// from the file gives the same records, in file order.
TEST(HashList, ReadsTheLegacyFileTheSameFromTextAndFile)
{
    ASKED asked;
    std::string legacy = Golden("hashlist_legacy.txt");
    std::string clean = Golden("hashlist_legacy_clean.txt");
    HASHLIST fromtext;
    EXPECT_EQ(3, fromtext.FromString(Text(legacy)));
    EXPECT_EQ(clean, Bytes(fromtext.AsString()));

    testutil::TempDir dir;
    testutil::WriteFile(dir.file("legacy.txt"), legacy);
    HASHLIST fromfile;
    HASH held;
    held["held"] = "1";
    fromfile.AppendItem(held);
    EXPECT_EQ(3, fromfile.Load(dir.file("legacy.txt").c_str()));
    ASSERT_EQ(4, fromfile.NumItems());
    EXPECT_EQ("1", Bytes((*fromfile[3])["held"])); // the file's records come first
    fromfile.DeleteItem(3);
    EXPECT_EQ(clean, Bytes(fromfile.AsString()));
    EXPECT_TRUE(asked.Take().empty()); // damaged data is logged, not asked about
}

TEST(HashList, ReadingEdgeCases)
{
    struct CASE {
        char const* what;
        std::string text;
        int records;
    };
    std::vector<CASE> cases = {
        {"empty", "", 0},
        {"no header", "a=1\n", 1},
        {"first header numbered 5", "[#5]\na=1\n", 1},
        {"header without #", "[5]\na=1\n[#1]\nb=2\n", 2},
        {"header without ]", "[#0\na=1\n", 1},
        {"only headers", "[#0]\n[#1]\n[#2]\n", 3},
        {"CR LF", "[#0]\r\na=1\r\n\r\n[#1]\r\nb=2\r\n\r\n", 2},
        // A line of carriage returns only is an empty line, text or file.
        {"only CR LF", "\r\n", 0},
        {"only CRs", "\r\r\n\r", 0},
        {"CR lines between records", "[#0]\r\n\r\r\n[#1]\r\n\r", 2},
        {"long line", "[#0]\nk=" + std::string(70000, 'v') + "\n", 1},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.what);
        ASKED asked;
        HASHLIST a;
        EXPECT_EQ(c.records, a.FromString(Text(c.text)));
        EXPECT_EQ(c.records, a.NumItems());
        testutil::TempDir dir;
        testutil::WriteFile(dir.file("f.txt"), c.text);
        HASHLIST b;
        EXPECT_EQ(c.records, b.Load(dir.file("f.txt").c_str()));
        EXPECT_EQ(Bytes(a.AsString()), Bytes(b.AsString()));
        EXPECT_TRUE(asked.Take().empty());
    }
    HASHLIST longone(Text("[#0]\nk=" + std::string(70000, 'v') + "\n"));
    EXPECT_EQ(70000, (*longone[0])["k"].StrLen);

    ASKED asked;
    HASHLIST numeric(Text("5"));
    EXPECT_EQ(0, numeric.NumItems());
    EXPECT_EQ((Strings{"(int)data==0"}), asked.Take());
    EXPECT_EQ(0, HASHLIST().Load("/nonexistent/file"));
}

TEST(HashList, Searches)
{
    HASHLIST list;
    int tag1 = 0, tag2 = 0;
    struct REC {
        uint32_t handle;
        char const* keytext;
        char const* name;
        void* user;
    };
    for (REC r : {REC{3, "Alpha", "Telnet Host", &tag1}, REC{9, "0042", "ssh box", &tag2}, REC{0, nullptr, nullptr, nullptr}}) {
        HASH h;
        h.Handle = r.handle;
        if (r.keytext)
            h.SetKeyString(r.keytext);
        if (r.name)
            h["Name"] = r.name;
        else
            h["Name"]; // present but unset
        h.UserData = r.user;
        list.AppendItem(h);
    }
    EXPECT_EQ(1, list.FindHandle(9));
    EXPECT_EQ(-1, list.FindHandle(4));
    EXPECT_EQ(1, list.FindUserData(&tag2));
    EXPECT_EQ(2, list.FindUserData(nullptr));
    EXPECT_EQ(0, list.FindKeyStringIdx("ALPHA"));
    EXPECT_EQ(-1, list.FindKeyStringIdx("")); // an unset key text never matches
    EXPECT_EQ(1, list.FindKeyLongIdx(42));
    EXPECT_EQ(0, list.FindKeyLongIdx(0)); // "Alpha" reads as 0
    EXPECT_EQ(-1, list.FindKeyLongIdx(7));

    struct CASE {
        char const* key;
        char const* value;
        bool exact;
        int index;
    };
    std::vector<CASE> cases = {
        {"name", "telnet host", true, 0}, {"Name", "SSH", false, 1},   {"Name", "SSH", true, -1},
        {"Name", "", false, 0},           {"Name", "", true, -1},      {"Other", "", false, -1},
        {"Name", "x", false, -1},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(testing::Message() << c.key << "/" << c.value << "/" << c.exact);
        EXPECT_EQ(c.index, list.FindItem(c.key, c.value, c.exact));
    }
    // The unset value matches only an empty text, and only without exact.
    HASHLIST unsetonly;
    HASH u;
    u["Name"];
    unsetonly.AppendItem(u);
    EXPECT_EQ(0, unsetonly.FindItem("Name", "", false));
    EXPECT_EQ(-1, unsetonly.FindItem("Name", "", true));
}

TEST(HashList, GetUniqueHandle)
{
    struct CASE {
        std::vector<uint32_t> handles;
        uint32_t unique;
    };
    std::vector<CASE> cases = {
        {{}, 16534},
        {{0, 0}, 16534},
        {{3, 9}, 10},
        {{0xFFFFFFFFu, 16534, 16535}, 16536}, // one more than the largest would be 0
    };
    for (auto const& c : cases) {
        HASHLIST list;
        for (uint32_t h : c.handles) {
            HASH r;
            r.Handle = h;
            list.AppendItem(r);
        }
        EXPECT_EQ(c.unique, list.GetUniqueHandle());
    }
}

TEST(HashList, SortByFields)
{
    auto make = [](std::vector<std::pair<char const*, char const*>> rows) {
        HASHLIST list;
        for (auto [name, port] : rows) {
            HASH h;
            h["Name"] = name;
            h["Port"] = port;
            list.AppendItem(h);
        }
        return list;
    };
    auto names = [](HASHLIST const& l) {
        Strings out;
        for (int i = 0; i < l.NumItems(); ++i)
            out.push_back(Bytes((*l[i])["Name"]) + ":" + Bytes((*l[i])["Port"]));
        return out;
    };
    HASHLIST list = make({{"b", "10"}, {"a", "9"}, {"B", "2147483647"}, {"a", "-2147483648"}});
    list.Sort("Name", 0);
    EXPECT_EQ("B:2147483647", names(list)[0]); // case-sensitive: "B" before "a"
    list.Sort("Port", 0x01);
    EXPECT_EQ((Strings{"a:-2147483648", "a:9", "b:10", "B:2147483647"}), names(list));
    list.Sort("Port", 0x09);
    EXPECT_EQ((Strings{"B:2147483647", "b:10", "a:9", "a:-2147483648"}), names(list));
    list.Sort("Name", "Port", 0x01); // names read as 0: the port decides
    EXPECT_EQ("a:-2147483648", names(list)[0]);
    char const* keys[] = {"Name", "Port"};
    list.Sort(keys, 2, 0);
    EXPECT_EQ((Strings{"B:2147483647", "a:-2147483648", "a:9", "b:10"}), names(list));
    EXPECT_EQ(nullptr, list.SortKeys);
    EXPECT_EQ(0, list.SortKeyCount);

    // A record without the sort field sorts as an empty one; it is logged.
    ASKED asked;
    HASH bare;
    list.AppendItem(bare);
    list.Sort("Name", 0);
    EXPECT_EQ(0, list[0]->Keys.NumItems());
    EXPECT_TRUE(asked.Take().empty());
}

TEST(MetaHash, RecordsByKeyText)
{
    ASKED asked;
    METAHASH m;
    EXPECT_STREQ("METAHASH", m.TypeName);
    m["host1"]["Port"] = "22";
    m["C:\\dir"]["size"] = "-2147483648";
    HASH& third = m["third"];
    third.Handle = 0xFFFFFFFEu;
    EXPECT_EQ(&third, &m["THIRD"]); // found without regard to case
    EXPECT_EQ(3, m.NumItems());
    EXPECT_EQ(Golden("metahash.txt"), Bytes(m.AsString()));
    EXPECT_EQ((Strings{"host1", "C:\\dir", "third"}), Items(m.EnumKeys()));

    METAHASH back;
    back.FromString(m.AsString());
    EXPECT_EQ("22", Bytes(back["HOST1"]["Port"]));
    EXPECT_EQ(0xFFFFFFFEu, back["third"].Handle);
    EXPECT_EQ(3, back.NumItems());

    EXPECT_EQ(1, back.DeleteItem("host1"));
    EXPECT_EQ(0, back.DeleteItem("host1")); // missing: 0, logged, not asked
    EXPECT_EQ(2, back.NumItems());
    back.DeleteItem(0); // the positional delete is still there
    EXPECT_EQ(1, back.NumItems());
    EXPECT_TRUE(asked.Take().empty());

    back.NewKeysAllowed = false;
    back["new"];
    EXPECT_EQ((Strings{"this->NewKeysAllowed"}), asked.Take());
    EXPECT_EQ(2, back.NumItems());
}

// Any bytes at all go through the readers without harm, and what they read is
// written so that reading it again gives the same text: the writer's output
// is a fixed point of reading and writing.
TEST(HashText, AnyBytesReadAndRewriteStably)
{
    ASKED asked;
    std::mt19937 rng(2024);
    std::string const alphabet = std::string("=\\{}[]#/\r\n\t\x1a\0xX0aA9 \x80\xff", 22);
    testutil::TempDir dir;
    for (int round = 0; round < 400; ++round) {
        std::string text;
        size_t n = rng() % 300;
        for (size_t i = 0; i < n; ++i)
            text += (rng() % 2) ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng() % 256);
        SCOPED_TRACE(round);

        HASH h(Text(text));
        STRING once = h.AsString();
        HASH again(once);
        EXPECT_EQ(Bytes(once), Bytes(again.AsString()));

        HASHLIST list;
        list.FromString(Text(text));
        STRING listonce = list.AsString();
        HASHLIST listagain(listonce);
        EXPECT_EQ(Bytes(listonce), Bytes(listagain.AsString()));

        testutil::WriteFile(dir.file("f.txt"), text);
        HASHLIST loaded;
        loaded.Load(dir.file("f.txt").c_str());
        STRINGARRAY lines;
        lines.Load(dir.file("f.txt").c_str(), true);
        EXPECT_EQ(lines.NumItems(), STRINGARRAY(Text(text), "\n").NumItems() - (text.empty() || text.back() == '\n' ? 1 : 0));
    }
    EXPECT_TRUE(asked.Take().empty()); // damaged data never asks
}
