// The option engine over a small table that has every kind of row: value
// forms, escapes by data version, arrays, aliases, single keys, the line
// reader, safe saving and the dialog binding.
#include "opts_testutil.h"

#include "tests/velmot/core/assertrecorder.h"
#include "velmot/core/logit.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <map>
#include <signal.h>
#include <sys/resource.h>

using namespace settingstest;

namespace {

struct BLOCK {
    signed char Flag1;
    int32_t Flag4;
    int32_t Count;
    signed char Small;
    int32_t Mode;
    char Text[16];
    wchar_t Wide[8];
    char Names[4][8];
    wchar_t Wides[3][6];
    unsigned char Bin[4];
    char Secret[12];
    signed char Hidden;
};

#define OPTS_BLOCK BLOCK
#include "program/settings/optsrows.h"

OPTLIST const kRows[] = {
    ROW_LITERAL("// test options"),
    ROW_SECTION("GROUP"),
    ROW_FLAG(Flag1, CHEC(1)),
    ROW_FLAG(Flag4, NOCTRL),
    ROW_INT(Count, 0, 100, EDIT(5)),
    ROW_INT(Small, 0, 0, NOCTRL),
    ROW_INT(Mode, 3, 0, RADI(20)),
    ROW_TEXT(Text, EDIT(6)),
    ROW_WIDE(Wide, EDIT(7)),
    ROW_TEXTS(Names, EDIT(10)),
    ROW_WIDES(Wides, NOCTRL),
    ROW_BINARY(Bin, NOCTRL),
    ROW_SECRET(Secret, EDIT(8)),
    ROW_FLAG(Hidden, NEVERWRITTEN),
    ROW_RETIRED("OldKey"),
    ROW_ALIAS("OldFlag", "Flag1"),
    ROW_END("OF_LIST"),
};

class Engine : public ::testing::Test {
protected:
    BLOCK block{};
    OPTSBASE opts{&block, kRows, -1};

    int Set(std::string const& line) { return opts.SetOpt(line.c_str(), 0); }
    std::string Get(char const* key)
    {
        char out[256];
        opts.GetOpt(key, out, sizeof out);
        return out;
    }
};

std::string Esc(std::string const& text)
{
    std::string out;
    for (char c : text)
        out += c == '~' ? '\x1b' : c;
    return out;
}

} // namespace

TEST(OptsTable, CountsRowsAndHoldsItsInvariants)
{
    EXPECT_EQ(OPTSBASE::CountRows(kRows), 16);
    STRING why;
    EXPECT_TRUE(OPTSBASE::CheckTable(kRows, 16, sizeof(BLOCK), &why)) << why.Buf();

    // A key that begins with an array's key would be taken by the array.
    OPTLIST bad[] = {ROW_TEXTS(Names, NOCTRL), {"NamesExtra", 0, OPTTYPE_FLAG, 1, 0, 0, NOCTRL}, ROW_END("E")};
    EXPECT_FALSE(OPTSBASE::CheckTable(bad, 2, sizeof(BLOCK), &why));
    OPTLIST wide[] = {{"W", 0, OPTTYPE_WSTR, 6, 0, 0, NOCTRL}, ROW_END("E")};
    EXPECT_FALSE(OPTSBASE::CheckTable(wide, 1, sizeof(BLOCK), &why));
    OPTLIST beyond[] = {{"T", sizeof(BLOCK) - 2, OPTTYPE_STR, 4, 0, 0, NOCTRL}, ROW_END("E")};
    EXPECT_FALSE(OPTSBASE::CheckTable(beyond, 1, sizeof(BLOCK), &why));
}

TEST_F(Engine, ReadsAHandWrittenFileFieldByField)
{
    ASSERT_EQ(opts.LoadFile(Fixture("engine-handwritten.opt").c_str(), 0), 0);
    EXPECT_STREQ(opts.GetDataVersion().Buf(), "6.44");
    EXPECT_EQ(block.Flag1, 1);
    EXPECT_EQ(block.Flag4, 7);
    EXPECT_EQ(block.Count, -3);
    EXPECT_EQ(block.Small, -1);
    EXPECT_EQ(block.Mode, 2);
    EXPECT_STREQ(block.Text, "  a b  ");
    EXPECT_EQ(std::wstring(block.Wide), L"\u20acuro");
    EXPECT_STREQ(block.Names[0], "");
    EXPECT_STREQ(block.Names[1], "one");
    EXPECT_STREQ(block.Names[3], "three");
    EXPECT_EQ(std::wstring(block.Wides[2]), L"zwei");
    EXPECT_EQ(memcmp(block.Bin, "\x0a\x0b\x0c\x0d", 4), 0);
    EXPECT_STREQ(block.Secret, "pw");
    // The file's last line has no line feed and is applied all the same.
    EXPECT_EQ(block.Hidden, 1);
}

TEST_F(Engine, RefusesFilesWithoutHeaderAndMissingFiles)
{
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("plain.txt"), "Flag1=yes\nCount=5\n");
    EXPECT_EQ(opts.LoadFile(dir.file("plain.txt").c_str(), 0), 1);
    EXPECT_EQ(opts.LoadFile(dir.file("missing.qor").c_str(), 0), 1);
    EXPECT_EQ(block.Flag1, 0);
    EXPECT_EQ(block.Count, 0);
}

TEST_F(Engine, NumbersAndFlagsInEveryForm)
{
    struct CASE {
        char const* line;
        int rc;
        int32_t BLOCK::*wide;
        signed char BLOCK::*narrow;
        int32_t expected;
    };
    CASE const cases[] = {
        {"Flag1=yes", 0, nullptr, &BLOCK::Flag1, 1},
        {"Flag1=YES", 0, nullptr, &BLOCK::Flag1, 1},
        {"Flag1=No", 0, nullptr, &BLOCK::Flag1, 0},
        {"Flag1=maybe", 0, nullptr, &BLOCK::Flag1, 2},
        {"Flag1=7", 0, nullptr, &BLOCK::Flag1, 7},
        {"Flag1=-5", 0, nullptr, &BLOCK::Flag1, -5},
        {"Flag1=300", 0, nullptr, &BLOCK::Flag1, 127},
        {"Flag1=abc", 0, nullptr, &BLOCK::Flag1, 0},
        {"Flag1=", 0, nullptr, &BLOCK::Flag1, 0},
        {"Flag4=maybe", 0, &BLOCK::Flag4, nullptr, 2},
        {"Flag4=100000", 0, &BLOCK::Flag4, nullptr, 100000},
        {"Flag4=99999999999", 0, &BLOCK::Flag4, nullptr, INT32_MAX},
        {"Count=-3", 0, &BLOCK::Count, nullptr, -3},
        {"Count=12abc", 0, &BLOCK::Count, nullptr, 12},
        {"Count=", 0, &BLOCK::Count, nullptr, 0},
        {"Count=yes", 0, &BLOCK::Count, nullptr, 1},
        {"Count=500", 0, &BLOCK::Count, nullptr, 500}, // limits are the owner's business
        {"Count=-99999999999", 0, &BLOCK::Count, nullptr, INT32_MIN},
        {"  Count =  42 ", 0, &BLOCK::Count, nullptr, 42},
        {"Small=5", 0, nullptr, &BLOCK::Small, 5},
        {"Small=-1", 0, nullptr, &BLOCK::Small, -1},
        {"Small=200", 0, nullptr, &BLOCK::Small, 127},
        {"count=9", 0, &BLOCK::Count, nullptr, 9},
        {"Unknown=1", 1, nullptr, nullptr, 0},
        {"OldKey=5", 0, nullptr, nullptr, 0},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.line);
        block = BLOCK{};
        EXPECT_EQ(Set(c.line), c.rc);
        if (c.wide) {
            EXPECT_EQ(block.*c.wide, c.expected);
        }
        if (c.narrow) {
            EXPECT_EQ(block.*c.narrow, c.expected);
        }
    }
}

TEST_F(Engine, NumbersAndFlagsAreWrittenAtTheirFullWidth)
{
    struct CASE {
        signed char flag1;
        int32_t flag4;
        signed char small;
        char const* expected;
    };
    CASE const cases[] = {
        {1, 0, 0, "Flag1=yes|Flag4=no|Small=0"},
        {2, 1, 5, "Flag1=2|Flag4=yes|Small=5"},
        {-1, 300, -1, "Flag1=-1|Flag4=300|Small=-1"},
        {127, INT32_MIN, -128, "Flag1=127|Flag4=-2147483648|Small=-128"},
    };
    for (CASE const& c : cases) {
        block = BLOCK{};
        block.Flag1 = c.flag1;
        block.Flag4 = c.flag4;
        block.Small = c.small;
        std::string got = Get("Flag1") + "|" + Get("Flag4") + "|" + Get("Small");
        EXPECT_EQ(got, c.expected);
        BLOCK copy{};
        OPTSBASE reader(&copy, kRows, -1);
        LoadText(reader, SaveText(opts));
        EXPECT_EQ(copy.Flag1, c.flag1);
        EXPECT_EQ(copy.Flag4, c.flag4);
        EXPECT_EQ(copy.Small, c.small);
    }
}

TEST_F(Engine, NarrowTextsQuotesBlanksAndLength)
{
    struct CASE {
        char const* line;
        char const* expected;
    };
    CASE const cases[] = {
        {"Text=abc", "abc"},
        {"Text=\"abc\"", "abc"},
        {"Text=  \" a b \"  ", " a b "},
        {"Text=\"x", "\"x"},
        {"Text=\"\"abc\"\"", "\"abc\""},
        {"Text=\"a=b=c\"", "a=b=c"},
        {"Text=0123456789abcdefghij", "0123456789abcde"},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.line);
        memset(block.Text, 'z', sizeof block.Text);
        EXPECT_EQ(Set(c.line), 0);
        EXPECT_STREQ(block.Text, c.expected);
        EXPECT_EQ(block.Text[15], 0);
    }
}

TEST_F(Engine, EscapesDependOnTheDataVersion)
{
    // '~' stands for ESC.
    struct CASE {
        char const* version;
        char const* value;
        char const* expected;
    };
    CASE const cases[] = {
        {"0.00", "a~nb", "a\nb"},        {"6.00", "a~nb", "a~nb"},       {"6.21", "a~rb", "a\rb"},
        {"6.44", "a~nb~~c~", "a\nb~c"}, {"6.44", "a~xb", "a~xb"},       {"0.00", "a\xFB" "b", "a\nb"},
        {"6.00", "a\xFE" "b", "a\rb"},   {"6.22", "a\xFB" "b", "a\nb"},  {"6.44", "a\xFB" "b", "a\xFB" "b"},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(std::string(c.version) + " " + c.value);
        BLOCK b{};
        OPTSBASE reader(&b, kRows, -1);
        reader.SetDataVersion(c.version);
        EXPECT_EQ(reader.SetOpt(("Text=\"" + Esc(c.value) + "\"").c_str(), 0), 0);
        EXPECT_EQ(std::string(b.Text), Esc(c.expected));
    }
}

TEST_F(Engine, SetDataVersionReadsTheHeaderText)
{
    struct CASE {
        char const* text;
        char const* expected;
    };
    CASE const cases[] = {
        {"6.44 // PROGRAMSETTINGS", "6.44"},
        {" 6.44 AT COMMAND PROFILE", "6.44 AT COMMAND PROFILE"},
        {"3.00", "0.00"},
        {"2.60", "0.00"},
        {"no version", "0.00"},
        {"QOR 5.00", "5.00"},
    };
    for (CASE const& c : cases) {
        OPTSBASE v(&block, kRows, -1);
        v.SetDataVersion(c.text);
        EXPECT_STREQ(v.GetDataVersion().Buf(), c.expected) << c.text;
    }
}

TEST_F(Engine, TextsWithLineEndsAndEscRoundTrip)
{
    for (char const* text : {"a\nb", "x\x1b[0m", "\r\n\x1b\x1b", "\"quoted\"", " lead", "trail "}) {
        SCOPED_TRACE(text);
        block = BLOCK{};
        OPTSBASE::CopyText(block.Text, sizeof block.Text, text);
        std::string line = Get("Text");
        EXPECT_EQ(line.find('\n'), std::string::npos);
        EXPECT_EQ(line.find('\r'), std::string::npos);
        BLOCK copy{};
        OPTSBASE reader(&copy, kRows, -1);
        reader.SetDataVersion("6.44");
        EXPECT_EQ(reader.SetOpt(line.c_str(), 0), 0);
        EXPECT_STREQ(copy.Text, text);
    }
    block = BLOCK{};
    OPTSBASE::CopyText(block.Text, sizeof block.Text, "a\nb");
    EXPECT_EQ(Get("Text"), "Text=\"a\x1bnb\"");
}

TEST_F(Engine, WideTextsChooseAFormThatReadsBack)
{
    struct CASE {
        wchar_t const* text;
        char const* line;
    };
    CASE const cases[] = {
        {L"abc", "Wide=\"abc\""},
        {L"\u00e4\u00ff", "Wide=\"\xe4\xff\""},
        {L"\u20acuro", "Wide=utf8:\"\xe2\x82\xac" "uro\""},
        {L"a\u0085b", "Wide=utf8:\"a\xc2\x85" "b\""},
        {L"\U0001F600", "Wide=utf8:\"\xf0\x9f\x98\x80\""},
        {L"e\x1b" L"n", "Wide=\"e\x1b\x1bn\""},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.line);
        block = BLOCK{};
        OPTSBASE::CopyWide(block.Wide, 8, c.text);
        EXPECT_EQ(Get("Wide"), c.line);
        BLOCK copy{};
        OPTSBASE reader(&copy, kRows, -1);
        reader.SetDataVersion("6.44");
        reader.SetOpt(c.line, 0);
        EXPECT_EQ(std::wstring(copy.Wide), std::wstring(c.text));
    }
    // Quoted bytes are code page 1252; without quotes the value is empty.
    EXPECT_EQ(Set("Wide=\"\x80\""), 0);
    EXPECT_EQ(std::wstring(block.Wide), L"\u20ac");
    EXPECT_EQ(Set("Wide=abc"), 0);
    EXPECT_EQ(block.Wide[0], 0);
    EXPECT_EQ(Set("Wide=utf8:\"0123456789\""), 0);
    EXPECT_EQ(std::wstring(block.Wide), L"0123456");
}

TEST_F(Engine, ArraysByIndex)
{
    EXPECT_EQ(Set("Names#3=three"), 0);
    EXPECT_STREQ(block.Names[3], "three");
    EXPECT_EQ(Set("Names#03=drei"), 0);
    EXPECT_STREQ(block.Names[3], "drei");
    EXPECT_EQ(Set("names#0=\"null\""), 0);
    EXPECT_STREQ(block.Names[0], "null");
    EXPECT_EQ(Set("Names#4=four"), 0); // beyond the array: ignored
    EXPECT_EQ(Set("Names#99999999999=x"), 0);
    EXPECT_EQ(Set("Names=none"), 1);
    EXPECT_EQ(Set("Names#x=none"), 1);
    EXPECT_EQ(Set("Wides#01=utf8:\"\u00e9\u20ac\""), 0);
    EXPECT_EQ(std::wstring(block.Wides[1]), L"\u00e9\u20ac");
    EXPECT_EQ(Get("Names#3"), "Names#03=\"drei\"");
    EXPECT_EQ(Get("Names#4"), "Names#4=<NOT FOUND>");
}

TEST_F(Engine, BinaryAndSecretForms)
{
    EXPECT_EQ(Set("Bin=x'0a0B'"), 0);
    EXPECT_EQ(memcmp(block.Bin, "\x0a\x0b\0\0", 4), 0);
    EXPECT_EQ(Set("Bin=x'0102030405060708'"), 0);
    EXPECT_EQ(memcmp(block.Bin, "\x01\x02\x03\x04", 4), 0);
    EXPECT_EQ(Set("Bin=0a0b"), 1);
    EXPECT_EQ(memcmp(block.Bin, "\x01\x02\x03\x04", 4), 0);
    EXPECT_EQ(Get("Bin"), "Bin=x'01020304'");

    OPTSBASE::CopyText(block.Secret, sizeof block.Secret, "open sesame");
    std::string line = Get("Secret");
    EXPECT_EQ(line.compare(0, 9, "Secret=y'"), 0);
    EXPECT_EQ(line.find("sesame"), std::string::npos);
    memset(block.Secret, 0, sizeof block.Secret);
    EXPECT_EQ(Set(line), 0);
    EXPECT_STREQ(block.Secret, "open sesame");

    // Every form keeps the terminator of the text.
    EXPECT_EQ(Set("Secret=x'4142434445464748494a4b4c4d'"), 0);
    EXPECT_STREQ(block.Secret, "ABCDEFGHIJK");
    EXPECT_EQ(Set("Secret=\"plain\""), 0);
    EXPECT_STREQ(block.Secret, "plain");
    EXPECT_EQ(Set("Secret=plain"), 1);
    EXPECT_STREQ(block.Secret, "plain");
}

TEST_F(Engine, AliasesAndSingleKeys)
{
    EXPECT_EQ(Set("OldFlag=yes"), 0);
    EXPECT_EQ(block.Flag1, 1);
    EXPECT_EQ(Get("OldFlag"), "Flag1=yes");
    EXPECT_EQ(Get("Nope"), "Nope=<NOT FOUND>");
    char small[6];
    opts.GetOpt("Flag1", small, sizeof small);
    EXPECT_STREQ(small, "Flag1");
}

TEST_F(Engine, LinesAreReadWholeAndTheLastOneCounts)
{
    // The tail of an overlong line is dropped, never read as a key of its own.
    std::string tail = "\"Count=9";
    std::string text = "Text=\"" + std::string(3000, 'a') + tail + "\"\n";
    text += "Text2=" + std::string(OPTS_MAXLINE, 'x') + "\nFlag4=3\n";
    text += "[Count=1]\n#Count=1\n;Count=1\n/Count=1\n\n";
    text += "Small=1\r\nSmall=2\r\n";
    text += "Mode=1";
    LoadText(opts, text);
    EXPECT_EQ(block.Count, 0);
    EXPECT_EQ(std::string(block.Text), std::string(15, 'a'));
    EXPECT_EQ(block.Flag4, 3);
    EXPECT_EQ(block.Small, 2);
    EXPECT_EQ(block.Mode, 1);
}

TEST_F(Engine, SavesRowsInTableOrder)
{
    block.Flag1 = 1;
    OPTSBASE::CopyText(block.Names[2], sizeof block.Names[2], "two");
    block.Hidden = 1;
    std::string secret = BINARY(block.Secret, sizeof block.Secret).AsShuffle(nullptr).Buf();
    std::string expected = "// test options\n"
                           "\n// GROUP\n"
                           "Flag1=yes\nFlag4=no\nCount=0\nSmall=0\nMode=0\nText=\"\"\nWide=\"\"\n"
                           "Names#00=\"\"\nNames#01=\"\"\nNames#02=\"two\"\nNames#03=\"\"\n"
                           "Wides#00=\"\"\nWides#01=\"\"\nWides#02=\"\"\n"
                           "Bin=x'00000000'\n"
                           "Secret=y'" + secret + "'\n";
    EXPECT_EQ(SaveText(opts, true), expected);
    EXPECT_EQ(SaveText(opts, false), expected + "\n");
}

TEST_F(Engine, SecretsNeverReachTheLog)
{
    testutil::TempDir dir;
    std::string log = dir.file("log.txt");
    int rc = testutil::RunInChild([&] {
        LOGITARG(("/LOGIT:" + log).c_str());
        BLOCK b{};
        OPTSBASE::CopyText(b.Secret, sizeof b.Secret, "hidden");
        OPTSBASE o(&b, kRows, -1);
        std::string text = SaveText(o);
        b = BLOCK{};
        LoadText(o, text + "Text=\"visible\"\nSecret=\"clear\"\nSECRET=x'414243'\n" +
                        "OldKey=y'c2NyYW1ibGVk'\nNoSuchKey = y'bm90IGEgcm93'\n");
        LOGITARG("/LOGITCLOSE");
        return strcmp(b.Secret, "ABC") == 0 ? 0 : 1;
    });
    ASSERT_EQ(rc, 0);
    std::string written = testutil::ReadFile(log);
    EXPECT_NE(written.find("Text=\"visible\""), std::string::npos);
    EXPECT_NE(written.find("Secret=<not shown>"), std::string::npos);
    EXPECT_NE(written.find("OldKey=<not shown>"), std::string::npos);
    EXPECT_NE(written.find("NoSuchKey=<not shown>"), std::string::npos);
    EXPECT_EQ(written.find("y'"), std::string::npos);
    EXPECT_EQ(written.find("clear"), std::string::npos);
    EXPECT_EQ(written.find("414243"), std::string::npos);
}

TEST_F(Engine, TableFaultsAreReported)
{
    struct ODD {
        char Two[2];
    } odd{};
    OPTLIST rows[] = {{"Two", 0, OPTTYPE_FLAG, 2, 0, 0, NOCTRL}, ROW_END("E")};
    OPTSBASE o(&odd, rows, -1);
    testutil::ASSERTRECORDER recorder;
    EXPECT_EQ(o.SetOpt("Two=1", 0), 1);
    EXPECT_EQ(memcmp(odd.Two, "\0\0", 2), 0);
    char out[64];
    EXPECT_EQ(o.MakeOptStr(99, "X", &odd, 2, out, sizeof out), 0);
    std::vector<testutil::ASSERTION> seen = recorder.Take();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[0].Info.find("Bad option size"), std::string::npos);
    EXPECT_NE(seen[1].Info.find("Bad option type"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Saving to files

class EngineFiles : public Engine {
protected:
    testutil::TempDir dir;
};

TEST_F(EngineFiles, SaveFileWritesHeaderAndKeepsModeAndLinks)
{
    std::string path = dir.file("opts.qor");
    block.Count = 5;
    ASSERT_EQ(opts.SaveFile(path.c_str(), "QOR6.44"), 0);
    std::string text = testutil::ReadFile(path);
    EXPECT_EQ(text.compare(0, 8, "QOR6.44\n"), 0);
    EXPECT_NE(text.find("\nCount=5\n"), std::string::npos);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u); // the table has a secret row

    chmod(path.c_str(), 0640);
    std::string link = dir.file("link.qor");
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    block.Count = 6;
    ASSERT_EQ(opts.SaveFile(link.c_str(), nullptr), 0);
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    text = testutil::ReadFile(path);
    EXPECT_EQ(text.compare(0, 15, "// test options"), 0);
    EXPECT_NE(text.find("\nCount=6\n"), std::string::npos);
    EXPECT_TRUE(FilesStartingWith(dir.path(), ".opts.qor.tmp").empty());
}

TEST_F(EngineFiles, AFailedSaveLeavesTheOldFile)
{
    std::string path = dir.file("opts.qor");
    testutil::WriteFile(path, "QOR6.44\nCount=1\n");
    int rc = testutil::RunInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100, 100};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 3;
        BLOCK b{};
        b.Count = 2;
        OPTSBASE o(&b, kRows, -1);
        return o.SaveFile(path.c_str(), "QOR6.44") == 1 ? 0 : 1;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(testutil::ReadFile(path), "QOR6.44\nCount=1\n");
    EXPECT_TRUE(FilesStartingWith(dir.path(), ".opts.qor.tmp").empty());
    EXPECT_EQ(opts.SaveFile(dir.file("no/such/folder/x.qor").c_str(), "QOR6.44"), 1);
}

// ---------------------------------------------------------------------------
// Dialog binding

namespace {

struct FAKEDIALOG : OPTSDIALOG {
    std::map<std::pair<FOURCHARCODE, int32_t>, FOURCHARCODE> controls;
    std::vector<std::string> items;

    void Add(FOURCHARCODE kind, int32_t no, FOURCHARCODE platformKind) { controls[{kind, no}] = platformKind; }
    FOURCHARCODE FindControlKind(CONTROLPARENT, CONTROLID id) override
    {
        auto it = controls.find({id.signature, id.id});
        return it == controls.end() ? 0 : it->second;
    }
    void AddCheckItem(CONTROLID id, signed char*) override { items.push_back("check " + std::to_string(id.id)); }
    void AddSpinItem(CONTROLID id, int32_t*, int min, int max) override
    {
        items.push_back("spin " + std::to_string(id.id) + " " + std::to_string(min) + ".." + std::to_string(max));
    }
    void AddRadioItem(CONTROLID id, int32_t*, int value) override
    {
        items.push_back("radio " + std::to_string(id.id) + "=" + std::to_string(value));
    }
    void AddEntryItem(CONTROLID id, char*, int size) override
    {
        items.push_back("entry " + std::to_string(id.id) + " " + std::to_string(size));
    }
    void AddEntryItem(CONTROLID id, wchar_t*, int chars) override
    {
        items.push_back("wide " + std::to_string(id.id) + " " + std::to_string(chars));
    }
};

void AddAll(FAKEDIALOG& d)
{
    d.Add(OPTCTRL_CHEC, 1, CONTROLKIND_CHECKBOX);
    d.Add(OPTCTRL_EDIT, 5, CONTROLKIND_EDITTEXT);
    for (int k = 0; k < 3; ++k)
        d.Add(OPTCTRL_RADI, 20 + k, CONTROLKIND_RADIO);
    d.Add(OPTCTRL_EDIT, 6, CONTROLKIND_EDITTEXT);
    d.Add(OPTCTRL_EDIT, 7, CONTROLKIND_EDITUNICODE);
    d.Add(OPTCTRL_EDIT, 10, CONTROLKIND_EDITTEXT);
    d.Add(OPTCTRL_EDIT, 8, CONTROLKIND_EDITTEXT);
}

} // namespace

TEST_F(Engine, BindsEveryRowThatNamesAControl)
{
    FAKEDIALOG dialog;
    AddAll(dialog);
    opts.AssocAll(&dialog, CONTROLPARENT{});
    std::vector<std::string> expected = {"check 1",  "spin 5 0..100", "radio 20=0", "radio 21=1", "radio 22=2",
                                         "entry 6 16", "wide 7 8",     "entry 10 8", "entry 11 8", "entry 12 8",
                                         "entry 13 8", "entry 8 12"};
    EXPECT_EQ(dialog.items, expected);
}

TEST_F(Engine, MultiPageBindsEachRowOnItsFirstPage)
{
    FAKEDIALOG first;
    first.Add(OPTCTRL_CHEC, 1, CONTROLKIND_CHECKBOX);
    first.Add(OPTCTRL_EDIT, 6, CONTROLKIND_EDITTEXT);
    FAKEDIALOG second;
    AddAll(second);
    opts.SetMultiPaged();
    opts.AssocAll(&first, CONTROLPARENT{});
    opts.AssocAll(&second, CONTROLPARENT{});
    EXPECT_EQ(first.items, (std::vector<std::string>{"check 1", "entry 6 16"}));
    EXPECT_EQ(second.items.size(), 10u);
    EXPECT_EQ(std::count(second.items.begin(), second.items.end(), "check 1"), 0);

    // Opening the dialog again starts afresh.
    FAKEDIALOG again;
    AddAll(again);
    opts.SetMultiPaged();
    opts.AssocAll(&again, CONTROLPARENT{});
    EXPECT_EQ(again.items.size(), 12u);
}

TEST_F(Engine, AnIntegerOnAWrongControlIsNotBound)
{
    FAKEDIALOG dialog;
    dialog.Add(OPTCTRL_EDIT, 5, CONTROLKIND_CHECKBOX);
    testutil::ASSERTRECORDER recorder;
    opts.AssocAll(&dialog, CONTROLPARENT{});
    EXPECT_TRUE(dialog.items.empty());
    std::vector<testutil::ASSERTION> seen = recorder.Take();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].Info.find("Option associated with bad dialog field type"), std::string::npos);
}
