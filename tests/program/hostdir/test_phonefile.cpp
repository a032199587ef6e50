// The host-directory file: our writer against an independent Python writer
// byte for byte, its files loaded into the same values, round trips as a
// fixed point, older and odd layouts, damaged files, and saves that fail.
#include "tests/program/hostdir/hostdirtest.h"

#include "program/hostdir/phonetext.h"

#include <gmock/gmock.h>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace hostdirtest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

class PhoneFile : public HostdirTest {};

constexpr uint32_t kStamp = 1700000000;

std::string Read(std::string const& path)
{
    return testutil::ReadFile(path);
}

} // namespace

// Random directories with hostile values (quotes, ESC, CR/LF, wide names
// beyond code page 1252, the longest fields, passwords of 0, 1 and 95
// bytes): the Python writer's file loads into its values, our save of it
// is the same bytes, the Python reader reads our save back, and a second
// round trip changes nothing.
TEST_F(PhoneFile, OurWriterAndAnIndependentOneAgreeByteForByte)
{
    constexpr int kSeeds = 16;
    auto name = [this](char const* kind, int seed) { return Path(std::string(kind) + std::to_string(seed)); };
    auto capacity = [](int seed) { return seed % 3 == 0 ? 100 : 64; };
    std::vector<std::vector<std::string>> jobs;
    for (int seed = 1; seed <= kSeeds; ++seed)
        jobs.push_back({"generate", std::to_string(seed), std::to_string(capacity(seed)), name("file", seed),
                        std::to_string(kStamp), name("file", seed), name("values", seed)});
    ASSERT_EQ(PythonBatch(jobs), 0);

    jobs.clear();
    for (int seed = 1; seed <= kSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::string const file = name("file", seed);
        testutil::WriteFile(name("theirs", seed), Read(file));
        Init(capacity(seed), file);
        Book->Clock = kStamp;
        EXPECT_EQ(Difference(Dump(*Book), Read(name("values", seed))), "") << "its file loads into other values";
        EXPECT_THAT(Host.Take(), ::testing::IsEmpty());
        ASSERT_EQ(Book->Save(file.c_str(), 1, nullptr, 1, 1), 0);
        EXPECT_EQ(Difference(Read(file), Read(name("theirs", seed))), "") << "our save differs from its writer";
        struct stat st;
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);

        Init(capacity(seed), file);
        Book->Clock = kStamp;
        ASSERT_EQ(Book->Save(name("again", seed).c_str(), 1, nullptr, 1, 1), 0);
        std::string again = Read(name("again", seed));
        std::string const header = "QOR6.44 // HOST DIRECTORY ";
        again.replace(0, header.size() + name("again", seed).size(), header + file);
        EXPECT_EQ(Difference(again, Read(file)), "") << "a round trip is not a fixed point";
        jobs.push_back({"dump", file, name("redump", seed)});
    }
    ASSERT_EQ(PythonBatch(jobs), 0);
    for (int seed = 1; seed <= kSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        EXPECT_EQ(Difference(Read(name("redump", seed)), Read(name("values", seed))), "")
            << "the Python reader reads our save into other values";
    }
}

// ---------------------------------------------------------------------------
// Older and odd files

namespace {

// The loaded directory in short: the section names, then each entry in
// table order as name#handle@section/folder, and chosen fields.
std::string Summary(PHONEBOOK& book)
{
    std::string out;
    PHONESTRUCTURE* s = book.Table().LockStructure();
    if (!s)
        return "<no table>";
    for (int i = 0; i < s->numsections; ++i)
        out += std::string(i ? "|" : "") + s->sections[i];
    out += ";";
    int capacity = 0;
    _PHONEBOOK_300** slots = book.Table().LockTable(&capacity);
    for (int i = 0; i < capacity; ++i) {
        _PHONEBOOK_300 const* e = slots[i];
        if (!e)
            continue;
        std::string name;
        for (size_t k = 0; k < 65 && e->name[k]; ++k)
            name += static_cast<char>(e->name[k] < 128 ? e->name[k] : '?');
        out += " " + name + "#" + std::to_string(e->handle) + "@" + std::to_string(e->section) + "/" +
               std::to_string(e->folder);
    }
    book.Table().UnlockTable(slots);
    book.Table().UnLockStructure(s);
    return out;
}

std::string const kHead = "QOR6.44 // HOST DIRECTORY x\n\n";

} // namespace

TEST_F(PhoneFile, OlderAndOddLayouts)
{
    struct CASE {
        char const* What;
        std::string Text;
        char const* Summary;
    };
    std::vector<CASE> const cases = {
        {"[ENTRY] blocks and a <SECTIONS> part",
         "QOR6.30\n\n<SECTIONS>\nNumSections=2\nSection#0=\"Quoted\"\nSection#1=Plain\n</SECTIONS>\n"
         "[ENTRY]\nname=\"a\"\nhandle=6001\nbook=1\n[ENDENTRY]\n",
         "Quoted|Plain; a#6001@1/0"},
        {"no structure part: sections from the entries, named from the settings",
         kHead + "[HOST]\nname=\"a\"\nhandle=6001\nsection=4\n[/HOST]\n[HOST]\nname=\"b\"\nhandle=6002\n[/HOST]\n",
         "Hosts|Work|Section 3|Bulletin boards|Internet; a#6001@4/0 b#6002@0/0"},
        {"tildes become ampersands",
         kHead + "[DATA]\n[HOST]\nname=\"~Mail ~box\"\nhandle=6001\n[/HOST]\n[/DATA]\n", "Hosts; &Mail &box#6001@0/0"},
        {"a lower-case [host] ends the structure part; the entry needs [/HOST] as written",
         kHead + "[STRUCTURE]\nNumSections=1\nSection#0=S\n[host]\nname=\"a\"\nhandle=6001\n[/host]\nname=\"b\"\n[/HOST]\n",
         "S; b#6001@0/0"},
        {"a last line without a line feed is read",
         kHead + "[HOST]\nname=\"last\"\nhandle=6001\n[/HOST]", "Hosts; last#6001@0/0"},
        {"keys of older files are ignored",
         kHead + "[HOST]\nname=\"a\"\nhandle=6001\ncalls=12\nlastcall=1600000000\nzone=3\n[/HOST]\n",
         "Hosts; a#6001@0/0"},
        {"no entries at all", kHead + "[STRUCTURE]\nNumSections=2\n[/STRUCTURE]\n[DATA]\n[/DATA]\n",
         "Hosts|Work;"},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.What);
        std::string const file = Path("odd.qorini");
        testutil::WriteFile(file, c.Text);
        if (std::string(c.What).find("settings") != std::string::npos)
            Host.Settings.BookSections[2][0] = 0;
        Init(20, file);
        EXPECT_EQ(Summary(*Book), c.Summary);
        EXPECT_THAT(Host.Take(), ::testing::IsEmpty());
        snprintf(Host.Settings.BookSections[2], 32, "Private");
    }
}

TEST_F(PhoneFile, EntriesOfOlderFilesAreConverted)
{
    std::string const file = Path("old.qorini");
    testutil::WriteFile(file,
                        "QOR6.40\n\n[DATA]\n[HOST]\nname=\"a\"\nhandle=6001\nfirst=maybe\nemu=7\ndeviceid=0\n"
                        "optfile=\"<Default>\"\nwaitsend=\"W=login:|S=user^M\x1br\x1bnw=Pass:\x1bn\x1bn\x1bns=^&^M\"\n"
                        "iemsibits=300\nnewwindow=4\n[/HOST]\n");
    Init(20, file);
    _PHONEBOOK_300 e;
    ASSERT_TRUE(Book->Table().ItemCopyFromHandle(6001, &e));
    EXPECT_EQ(e.first, 2);
    EXPECT_EQ(e.emu, 0);
    EXPECT_EQ(e.deviceid, -1);
    EXPECT_STREQ(e.optfile, "Standard.qor");
    EXPECT_STREQ(e.keyboard, "Standard.qky");
    EXPECT_STREQ(e.translate, "Standard.qtr");
    EXPECT_STREQ(e.waitsend, "Wait=login:\r\nSend=user^M\r\nWait=Pass:\r\nSend=^&^M");
    EXPECT_EQ(e.iemsibits, 300);
    EXPECT_EQ(e.newwindow, 4);

    // The file as it was stays beside it, private, once per version.
    struct stat st;
    ASSERT_EQ(stat((file + ".v6.40.bak").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(Read(file + ".v6.40.bak").compare(0, 7, "QOR6.40"), 0);
    testutil::WriteFile(Path("new.qorini"), kHead);
    Init(20, Path("new.qorini"));
    EXPECT_NE(access(Path("new.qorini.v6.44.bak").c_str(), F_OK), 0);

    // A version that names a path does not make one.
    testutil::WriteFile(Path("evil.qorini"), "QOR../../x\n\n");
    Init(20, Path("evil.qorini"));
    EXPECT_EQ(access(Path("evil.qorini.v.._.._x.bak").c_str(), F_OK), 0);

    // Counts of an older record go to the statistics store.
    _PHONEBOOK_300 old = Entry(L"legacy", 6100);
    old.oldcalls = 9;
    old.oldlastcall = 1500000000;
    Book->UpgradeEntry(&old);
    EXPECT_EQ(old.oldcalls, 0);
    EXPECT_EQ(old.oldlastcall, 0);
    PHONESTATS stats;
    ASSERT_TRUE(Book->ReadStats(6100, &stats));
    EXPECT_EQ(stats.calls, 9);
    EXPECT_EQ(stats.lastcall, 1500000000u);
}

// Damaged files: what is good is kept and loading ends.
TEST_F(PhoneFile, DamagedFiles)
{
    std::string folders1025 = kHead + "[STRUCTURE]\nNumSections=1\n";
    for (int i = 0; i < 1025; ++i)
        folders1025 += "Folder#" + std::to_string(8000 + i) + "=0.0|F" + std::to_string(i) + "\n";
    folders1025 += "[/STRUCTURE]\n[HOST]\nname=\"a\"\nhandle=6001\nfolder=9024\n[/HOST]\n";
    std::string junk = kHead + "[HOST]\nname=\"a\"\nhandle=6001\n\x01\x02\xff garbage\nno equals here\n" +
                       std::string(100000, 'x') + "=1\n" + std::string(5000, '=') + "\n[/HOST]\n";
    struct CASE {
        char const* What;
        std::string Text;
        char const* Summary;
    };
    std::vector<CASE> const cases = {
        {"cut in the middle of an entry",
         kHead + "[HOST]\nname=\"a\"\nhandle=6001\n[/HOST]\n[HOST]\nname=\"b\"\nhandle=60", "Hosts; a#6001@0/0"},
        {"junk lines", junk, "Hosts; a#6001@0/0"},
        {"too many sections, sections out of range",
         kHead + "[STRUCTURE]\nNumSections=9999\nSection#70=far\nSection#-1=neg\nSection#1=one\n[/STRUCTURE]\n"
                 "[HOST]\nname=\"a\"\nhandle=6001\nsection=70\n[/HOST]\n",
         nullptr},
        {"folders in a cycle",
         kHead + "[STRUCTURE]\nNumSections=1\nFolder#7001=0.7002|A\nFolder#7002=0.7001|B\n[/STRUCTURE]\n"
                 "[HOST]\nname=\"a\"\nhandle=6001\nfolder=7002\n[/HOST]\n",
         "Hosts; a#6001@0/7002"},
        {"1,025 folders", folders1025, "Hosts; a#6001@0/0"},
        {"equal, missing and bad handles",
         kHead + "[HOST]\nname=\"a\"\nhandle=6001\n[/HOST]\n[HOST]\nname=\"b\"\nhandle=6001\n[/HOST]\n"
                 "[HOST]\nname=\"c\"\n[/HOST]\n[HOST]\nname=\"d\"\nhandle=-4\n[/HOST]\n"
                 "[HOST]\nname=\"e\"\nhandle=1023\n[/HOST]\n",
         "Hosts; a#6002@0/0 b#6001@0/0 c#6003@0/0 d#6004@0/0 e#6005@0/0"},
        {"a structure part that never ends", kHead + "[STRUCTURE]\nNumSections=1\nSection#0=S\n", "S;"},
        {"the largest handle given twice",
         kHead + "[HOST]\nname=\"a\"\nhandle=2147483647\n[/HOST]\n[HOST]\nname=\"b\"\nhandle=2147483647\n[/HOST]\n",
         "Hosts; a#5555@0/0 b#2147483647@0/0"},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.What);
        std::string const file = Path("bad.qorini");
        testutil::WriteFile(file, c.Text);
        Init(20, file);
        if (c.Summary)
            EXPECT_EQ(Summary(*Book), c.Summary);
        PHONESTRUCTURE* s = Book->Table().LockStructure();
        ASSERT_NE(s, nullptr);
        EXPECT_LE(s->numsections, 64);
        EXPECT_LE(s->numfolders, 1024);
        for (int i = 0; i < s->numfolders; ++i)
            EXPECT_GE(s->folders[i].depth, 0);
        Book->Table().UnLockStructure(s);
        // What loaded saves and loads again the same.
        std::string const copy = Path("copy.qorini");
        ASSERT_EQ(Book->Save(copy.c_str(), 1, nullptr, 1, 1), 0);
        std::string const before = Summary(*Book);
        Init(20, copy);
        EXPECT_EQ(Summary(*Book), before);
    }
}

// A file that did not load is never replaced: the next save keeps it as
// "<file>.unreadable" and says so.
TEST_F(PhoneFile, AFileThatDidNotLoadIsKept)
{
    std::string const file = Path("hosts.qorini");
    std::string const damaged = "This is not a host directory\nname=\"precious\"\n";
    testutil::WriteFile(file, damaged);
    Init(20, file);
    EXPECT_EQ(Host.Take().size(), 0u) << "Init took the messages";
    Book = std::make_unique<TESTBOOK>(Host);
    Book->InitPhonebook(file.c_str(), 20);
    EXPECT_THAT(Host.Take("error "), ElementsAre(::testing::HasSubstr("not a host directory")));
    Store(L"new");
    ASSERT_EQ(Book->Save(), 0);
    EXPECT_EQ(Read(file + ".unreadable"), damaged);
    EXPECT_THAT(Host.Take("warning "), ElementsAre(::testing::HasSubstr(".unreadable")));
    EXPECT_THAT(Read(file), HasSubstr("name=\"new\""));
    // Once written, the file is this directory's: no second copy.
    ASSERT_EQ(Book->Save(), 0);
    EXPECT_NE(access((file + ".unreadable.1").c_str(), F_OK), 0);

    // A table too small for the file: what did not fit is not lost.
    std::string big = kHead;
    for (int i = 0; i < 30; ++i)
        big += "[HOST]\nname=\"h" + std::to_string(i) + "\"\nhandle=" + std::to_string(6000 + i) + "\n[/HOST]\n";
    testutil::WriteFile(Path("big.qorini"), big);
    Book = std::make_unique<TESTBOOK>(Host);
    Book->InitPhonebook(Path("big.qorini").c_str(), 10);
    EXPECT_THAT(Host.Take("error "), ElementsAre(::testing::HasSubstr("full")));
    ASSERT_EQ(Book->Save(), 0);
    EXPECT_EQ(Read(Path("big.qorini.unreadable")), big);
}

// Saves that cannot complete: the error is shown, the result says so and
// the old file stays as it was.
TEST_F(PhoneFile, FailedSavesLeaveTheOldFile)
{
    std::string const file = Path("hosts.qorini");
    Init(2000, file);
    for (int i = 0; i < 500; ++i)
        Store((L"Host number " + std::to_wstring(i)).c_str());
    ASSERT_EQ(Book->Save(), 0);
    std::string const before = Read(file);
    ASSERT_GT(before.size(), 100000u);
    Store(L"one more");

    // A file-size limit the new file breaks.
    int rc = testutil::RunInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{50000, 50000};
        setrlimit(RLIMIT_FSIZE, &limit);
        if (Book->Save() != 1)
            return 1;
        if (Read(file) != before)
            return 2;
        if (Host.Take("error ").size() != 1)
            return 3;
        return 0;
    });
    EXPECT_EQ(rc, 0);

    // A folder that cannot be written (run as root, the save is made as
    // another user, in a folder of its own under /tmp).
    char templ[] = "/tmp/qor-hostdir-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    std::string const folder = templ;
    std::string const inside = folder + "/hosts.qorini";
    testutil::WriteFile(inside, before);
    rc = testutil::RunInChild([&] {
        if (geteuid() == 0) {
            if (chown(folder.c_str(), 65534, 65534) != 0 || chown(inside.c_str(), 65534, 65534) != 0)
                return 10;
            if (setgid(65534) != 0 || setuid(65534) != 0)
                return 11;
        }
        if (chmod(folder.c_str(), 0500) != 0)
            return 12;
        TESTBOOK book(Host);
        book.InitPhonebook(inside.c_str(), 2000);
        Host.Take();
        _PHONEBOOK_300 e = Entry(L"more");
        book.Table().StoreAsNew(&e);
        if (book.Save() != 1)
            return 1;
        if (Read(inside) != before)
            return 2;
        auto lines = Host.Take();
        if (lines.size() != 2 || lines[0].compare(0, 5, "file ") != 0)
            return 3;
        return 0;
    });
    EXPECT_EQ(rc, 0);
    chmod(folder.c_str(), 0700);
    unlink(inside.c_str());
    rmdir(folder.c_str());
}
