// The key map: its files read and written byte for byte (a file written by
// hand, round trips, old versions, malformed lines, missing files) and the
// lookup of key events (keys, modifiers, locks, order).
#include "tests/program/screen/fakekeyhost.h"
#include "tests/program/screen/keyevents.h"

#include "tests/support/testutil.h"
#include "velmot/core/logit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace keytest;
using ::testing::HasSubstr;

namespace {

constexpr char kHeader[] =
    "QOR6.44 // KEYBOARD\n"
    "// each entry: scancode(hex)|flags(hex)|void|void|future|future|remap-string\n"
    "// flags: UTF8(256), Cmd(128), Ignore-Scroll(64), Alt(32), Ctrl(16), Shift(8), Ignore-Num(4), \n"
    "//        Scroll(2), Num(1) (one bit each, e.g flag for Ctrl+Shift = 16+8 = 24 = flag 18(hex))\n";

std::wstring Text(KEYMAPPER::KEYDEF const& e)
{
    return e.Remap;
}

int Used(KEYMAPPER const& map)
{
    int n = 0;
    for (auto const& e : map.Table)
        n += e.Keycode != 0;
    return n;
}

void Set(KEYMAPPER::KEYDEF& e, uint32_t keycode, uint32_t flags, std::wstring const& text)
{
    e.Keycode = keycode;
    e.Flags = flags;
    wcsncpy(e.Remap, text.c_str(), KEYMAPPER::MAXREMAP);
    e.Remap[KEYMAPPER::MAXREMAP] = 0;
}

// The log of a test: opened on a file, closed at the end.
class LOGCAPTURE {
public:
    LOGCAPTURE() { LOGITARG(("/LOGIT:" + Dir.file("log.txt")).c_str()); }
    ~LOGCAPTURE() { LOGITARG("/LOGITCLOSE"); }
    std::string Text()
    {
        LogitFlush();
        return testutil::ReadFile(Dir.file("log.txt"));
    }

private:
    testutil::TempDir Dir;
};

// Assertions must never come from reading a file.
int gAssertions = 0;
bool CountAssertion(char const*, char const*)
{
    ++gAssertions;
    return true;
}

class KeymapTest : public ::testing::Test {
protected:
    KeymapTest()
    {
        Host.Work = Dir.path();
        snprintf(Host.SettingsData->OptsPath, sizeof Host.SettingsData->OptsPath, "Options");
        mkdir(Dir.file("Options").c_str(), 0755);
        Previous = SetAssertQuestionHook(&CountAssertion);
        gAssertions = 0;
    }
    ~KeymapTest() override { SetAssertQuestionHook(Previous); }
    std::string Options(std::string const& name) const { return Dir.file("Options/" + name); }

    testutil::TempDir Dir;
    FAKEKEYHOST Host;
    KEYMAPPER Map{Host};
    ASSERTQUESTIONHOOK Previous = nullptr;
};

TEST_F(KeymapTest, AHandWrittenFileLoadsAsWrittenAndSavesInItsSortedForm)
{
    Host.KeymapsFolder = testutil::SourceDir() + "/program/screen/keymaps";
    Map.Load("hand.qky");
    EXPECT_EQ(std::string(Map.FileName().Buf()), Host.KeymapsFolder + "/hand.qky");
    struct Entry {
        uint32_t keycode, flags;
        std::wstring text;
    } const want[] = {
        {0x3F, 0x5C, L"^EVENT=8352"},
        {0x1C0D, 0x04, L"enter"},                // the line ended in CR LF
        {0x1E, 0x10, L"Gr\u00FC\u00DFe|x \u20AC"}, // Windows-1252, a bar inside the text
        {0x2F, 0x18, L"\u20AC \u65E5"},          // UTF-8: the flag is not kept
        {0x10, 0x08, L"\u00E4"},
        {0x2D68, 0x84, L"^MENU=Paste"},
        {0x30, 0x0C, L"b"},
        {0x45, 0x44, L"last line without a line feed"},
    };
    ASSERT_EQ(Used(Map), 8);
    for (size_t i = 0; i < std::size(want); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Map.Table[i].Keycode, want[i].keycode);
        EXPECT_EQ(Map.Table[i].Flags, want[i].flags);
        EXPECT_EQ(Text(Map.Table[i]), want[i].text);
    }

    Host.KeymapsFolder = Dir.path();
    Map.Save("saved.qky");
    EXPECT_EQ(testutil::ReadFile(Dir.file("saved.qky")),
              std::string(kHeader) +
                  "10|08|-1|-1|0|0|\xE4\n"
                  "1E|110|-1|-1|0|0|Gr\xC3\xBC\xC3\x9F" "e|x \xE2\x82\xAC\n"
                  "2F|118|-1|-1|0|0|\xE2\x82\xAC \xE6\x97\xA5\n"
                  "30|0C|-1|-1|0|0|b\n"
                  "3F|5C|-1|-1|0|0|^EVENT=8352\n"
                  "45|44|-1|-1|0|0|last line without a line feed\n"
                  "1C0D|04|-1|-1|0|0|enter\n"
                  "2D68|84|-1|-1|0|0|^MENU=Paste\n");
    EXPECT_EQ(std::string(Map.FileName().Buf()), Dir.file("saved.qky"));
    EXPECT_EQ(Map.Table[0].Keycode, 0x10u) << "the sorted order stays in memory";
    EXPECT_TRUE(Host.FileErrors.empty());
    EXPECT_EQ(gAssertions, 0);
}

// The key map every new user gets: it loads whole and is already in the
// form a save writes.
TEST_F(KeymapTest, TheShippedStandardMapIsWhole)
{
    for (char const* profile : {"newuserprofile_english", "newuserprofile_german"}) {
        SCOPED_TRACE(profile);
        Host.KeymapsFolder = testutil::SourceDir() + "/../resources/" + profile + "/Options";
        LOGCAPTURE log;
        Map.Load(nullptr);
        ASSERT_TRUE(Host.FileErrors.empty());
        EXPECT_EQ(Used(Map), 3);
        EXPECT_THAT(log.Text(), ::testing::Not(HasSubstr("skipped")));
        std::string const file = testutil::ReadFile(Host.KeymapsFolder + "/Standard.qky");
        EXPECT_EQ(Map.WriteText(), file);
        // Copy and paste as Linux terminals have them, whatever the locks.
        Host.Keys = {144, 145};
        EXPECT_EQ(Map.ProcessKeymap(1, Char(scan::C, 3, kCtrl | kShift)), 1);
        EXPECT_EQ(Map.ProcessKeymap(1, Char(scan::V, 22, kCtrl | kShift)), 1);
        EXPECT_EQ(Map.ProcessKeymap(1, Key(scan::Insert, 0xE0, kShift)), 1);
        EXPECT_EQ(Map.ProcessKeymap(1, Char(scan::C, 3, kCtrl)), 0) << "Control+C stays the terminal's";
        EXPECT_EQ(Host.Take(), (std::vector<std::string>{"do ^EVENT=8352", "do ^EVENT=8355", "do ^EVENT=8355"}));
        Host.Keys.clear();
    }
}

// A full table of 256 entries, with texts of every kind, goes through a
// file and comes back the same; the file then is a fixed point.
TEST_F(KeymapTest, AFullMapRoundTripsThroughItsFile)
{
    std::wstring const longest(KEYMAPPER::MAXREMAP, L'\u65E5');
    std::wstring const texts[] = {L"plain", L"\u00E9t\u00E9 \u00FF", L"\u20AC", L"\U0001F600 beyond the BMP",
                                  L"C1 \u0085 control", longest, L"^EVENT=8422|1", L"trailing blank "};
    for (int i = 0; i < KEYMAPPER::NUMKEYDEFS; ++i)
        Set(Map.Table[i], static_cast<uint32_t>(0xFF00 - i * 0x47), static_cast<uint32_t>(i % 256),
            texts[i % std::size(texts)] + std::to_wstring(i).substr(0, i % std::size(texts) == 5 ? 0 : 3));
    Map.Save("full.qky");
    ASSERT_TRUE(Host.FileErrors.empty());
    std::vector<KEYMAPPER::KEYDEF> saved(std::begin(Map.Table), std::end(Map.Table));

    KEYMAPPER again(Host);
    again.Load("full.qky");
    ASSERT_EQ(Used(again), KEYMAPPER::NUMKEYDEFS) << "no entry may get lost behind the comment lines";
    for (int i = 0; i < KEYMAPPER::NUMKEYDEFS; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(again.Table[i].Keycode, saved[i].Keycode);
        EXPECT_EQ(again.Table[i].Flags, saved[i].Flags);
        EXPECT_EQ(Text(again.Table[i]), Text(saved[i]));
    }
    std::string const first = testutil::ReadFile(Options("full.qky"));
    again.Save(nullptr);
    EXPECT_EQ(testutil::ReadFile(Options("full.qky")), first);
    EXPECT_THAT(first, HasSubstr("|10A|-1|-1|0|0|\xE2\x82\xAC" "10\n")) << "a character beyond 255 makes the line UTF-8";
    EXPECT_THAT(first, HasSubstr("|104|-1|-1|0|0|C1 \xC2\x85 control4\n")) << "a C1 control has no Windows-1252 byte";
    EXPECT_THAT(first, HasSubstr("|01|-1|-1|0|0|\xE9t\xE9 \xFF" "1\n")) << "Latin-1 stays Windows-1252";
}

TEST_F(KeymapTest, FilesBeforeVersion380IgnoreScrollLock)
{
    struct Case {
        char const* header;
        uint32_t added;
    } const cases[] = {
        {"QOR3.79 // KEYBOARD", 64}, {"QOR2.10", 64}, {"QOR", 64}, {"QOR3.80 // KEYBOARD", 0},
        {"QOR6.44 // KEYBOARD", 0},  {"Version 1", 0}, {"", 0},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.header);
        std::string const text = std::string(c.header) + "\n1E|08|-1|-1|0|0|a\n";
        EXPECT_EQ(Map.ReadText(text.data(), text.size()), 1);
        EXPECT_EQ(Map.Table[0].Flags, 0x08u | c.added);
    }
}

// A line that does not parse is skipped with a log line; the entries around
// it stay, and no assertion is raised.
TEST_F(KeymapTest, MalformedLinesAreSkippedAndLogged)
{
    struct Case {
        char const* what;
        std::string line;
        char const* log;
    } const cases[] = {
        {"bad hex", "ZZ|08|-1|-1|0|0|x", "no key code"},
        {"bad flags", "1E|GG|-1|-1|0|0|x", "no flags"},
        {"missing fields", "1E|08|-1|-1|x", "the fields between"},
        {"only a key", "1E", "no key code"},
        {"empty line", "", "no key code"},
        {"reserved field not 0", "1E|08|-1|-1|1|0|x", "the fields between"},
        {"no text", "1E|08|-1|-1|0|0|", "no text"},
        {"carriage returns only", "1E|08|-1|-1|0|0|\r\r", "no text"},
        {"key code beyond 16 bits", "10000|08|-1|-1|0|0|x", "key code out of range"},
        {"key code 0", "0|08|-1|-1|0|0|x", "key code out of range"},
        {"unknown flags", "1E|208|-1|-1|0|0|x", "unknown flags"},
        {"a line of 5000 bytes", "1E|08|-1|-1|0|0|" + std::string(5000, 'x'), "longer than"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        LOGCAPTURE log;
        std::string const text = std::string(kHeader) + "3B|04|-1|-1|0|0|before\n" + c.line + "\n3C|04|-1|-1|0|0|after\n";
        EXPECT_EQ(Map.ReadText(text.data(), text.size()), 2);
        EXPECT_EQ(Text(Map.Table[0]), L"before");
        EXPECT_EQ(Text(Map.Table[1]), L"after");
        EXPECT_EQ(Map.Table[2].Keycode, 0u);
        EXPECT_THAT(log.Text(), HasSubstr("KEYMAPPER::ReadText line 6 skipped: " + std::string(c.log)));
    }
    // A text longer than an entry holds is cut, not skipped.
    std::string const text = std::string(kHeader) + "3B|04|-1|-1|0|0|" + std::string(300, 'y') + "\n";
    EXPECT_EQ(Map.ReadText(text.data(), text.size()), 1);
    EXPECT_EQ(Text(Map.Table[0]), std::wstring(KEYMAPPER::MAXREMAP, L'y'));
    // Cut before the end of a run of carriage returns, it sheds them: a
    // text written with one at its end would not read back the same.
    std::string const cr = std::string(kHeader) + "3B|04|-1|-1|0|0|a" + std::string(300, '\r') + "b\n";
    EXPECT_EQ(Map.ReadText(cr.data(), cr.size()), 1);
    EXPECT_EQ(Text(Map.Table[0]), L"a");
    EXPECT_EQ(gAssertions, 0);
}

TEST_F(KeymapTest, MoreEntriesThanTheTableHoldsStopAtItsEnd)
{
    std::string text = kHeader;
    for (int i = 1; i <= 300; ++i) {
        char line[40];
        snprintf(line, sizeof line, "%X|04|-1|-1|0|0|k%d\n", i, i);
        text += line;
    }
    EXPECT_EQ(Map.ReadText(text.data(), text.size()), KEYMAPPER::NUMKEYDEFS);
    EXPECT_EQ(Text(Map.Table[255]), L"k256");
}

TEST_F(KeymapTest, MissingAndUnreadableFiles)
{
    Set(Map.Table[0], 0x3B, 4, L"kept");
    // No "Standard.qky": an empty map, without a word.
    Map.Load(nullptr);
    EXPECT_EQ(Used(Map), 0);
    EXPECT_TRUE(Host.FileErrors.empty());
    EXPECT_EQ(Map.FileName().Length(), 0);

    // Any other file: the error is reported, the map stays.
    Set(Map.Table[0], 0x3B, 4, L"kept");
    Map.Load("absent.qky");
    mkdir(Options("folder.qky").c_str(), 0755);
    Map.Load("folder.qky");
    EXPECT_EQ(Host.FileErrors, (std::vector<std::string>{Options("absent.qky"), Options("folder.qky")}));
    EXPECT_EQ(Text(Map.Table[0]), L"kept");
    EXPECT_EQ(Map.FileName().Length(), 0);

    // A save that cannot write is reported; the table is sorted anyway.
    Set(Map.Table[1], 0x10, 4, L"first");
    Host.FileErrors.clear();
    Map.Save("no/such/folder/x.qky");
    EXPECT_EQ(Host.FileErrors, (std::vector<std::string>{Options("no/such/folder/x.qky")}));
    EXPECT_EQ(Text(Map.Table[0]), L"first");
    EXPECT_EQ(Map.FileName().Length(), 0);
}

TEST_F(KeymapTest, TheFolderIsTheMainWindowsOrTheOptionsFolderUnderTheWorkFolder)
{
    EXPECT_EQ(std::string(Map.GetKeymapsFolder().Buf()), Dir.file("Options"));
    Host.KeymapsFolder = "Keymaps";
    EXPECT_EQ(std::string(Map.GetKeymapsFolder().Buf()), Dir.file("Keymaps"));
    Host.KeymapsFolder = "/elsewhere/maps";
    EXPECT_EQ(std::string(Map.GetKeymapsFolder().Buf()), "/elsewhere/maps");
}

// ---------------------------------------------------------------------------
// Lookup

TEST_F(KeymapTest, EntriesMatchByScanCodeOrVirtualKeyWithModifiersAndLocks)
{
    KEYBOARDEVENT const f5 = Key(scan::F5);
    KEYBOARDEVENT pause = Key(scan::Pause, 0xE1);
    pause.Scancode = 0x45; // as a PC keyboard names it
    pause.Keycode = 19;
    KEYBOARDEVENT numLock = Key(0x45);
    numLock.Keycode = 0x90;
    struct Case {
        char const* what;
        uint32_t keycode, flags;
        KEYBOARDEVENT event;
        std::set<int> locks;
        bool matches;
    } const cases[] = {
        {"scan code", 0x3F, 0, f5, {}, true},
        {"virtual key", 0x7400, 0, f5, {}, true},
        {"either of both", 0x743F, 0, Key(scan::F1), {}, false},
        {"scan code 0x0D of a key code 0x1C0D", 0x1C0D, 0, Char(0x0D, '='), {}, true},
        {"Shift must be held", 0x3F, 8, f5, {}, false},
        {"Shift must not be held", 0x3F, 0, Key(scan::F5, 0, kShift), {}, false},
        {"Control and Shift", 0x3F, 24, Key(scan::F5, 0, kShift | kCtrl), {}, true},
        {"Control and Shift, Alt extra", 0x3F, 24, Key(scan::F5, 0, kShift | kCtrl | kAlt), {}, false},
        {"Alt", 0x3F, 32, Key(scan::F5, 0, kAlt), {}, true},
        {"Command", 0x3F, 128, Key(scan::F5, 0, kCmd), {}, true},
        {"Num Lock on, flags 0", 0x3F, 0, f5, {144}, false},
        {"Num Lock on, Ignore-Num", 0x3F, 4, f5, {144}, true},
        {"Num Lock on, Num", 0x3F, 1, f5, {144}, true},
        {"Num Lock off, Num", 0x3F, 1, f5, {}, false},
        {"Scroll Lock on, flags 0", 0x3F, 0, f5, {145}, false},
        {"Scroll Lock on, Scroll", 0x3F, 2, f5, {145}, true},
        {"Scroll Lock on, Ignore-Scroll", 0x3F, 64, f5, {145}, true},
        {"Scroll Lock off, Scroll", 0x3F, 2, f5, {}, false},
        {"Pause counts as 0x59", 0x59, 0, pause, {}, true},
        {"Pause is not Num Lock", 0x45, 0, pause, {}, false},
        {"Num Lock is", 0x45, 4, numLock, {144}, true},
        {"a release", 0x3F, 0, Released(f5), {}, false},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        Map.Clear();
        Set(Map.Table[0], c.keycode, c.flags, L"x");
        Host.Keys = c.locks;
        EXPECT_EQ(Map.ProcessKeymap(0, c.event), c.matches ? 1 : 0);
        EXPECT_TRUE(Host.Take().empty()) << "looking only executes nothing";
        EXPECT_EQ(Map.ProcessKeymap(1, c.event), c.matches ? 1 : 0);
        EXPECT_EQ(Host.Take(), c.matches ? std::vector<std::string>{"do x"} : std::vector<std::string>{});
    }
}

TEST_F(KeymapTest, TheFirstMatchingEntryWinsAndPrintScreenReleasesAreLookedUp)
{
    Set(Map.Table[0], 0x3F, 0x40, L"second by key");
    Set(Map.Table[1], 0x3F, 0x04, L"first by key");
    Set(Map.Table[2], 0x3F, 0x44, L"any lock");
    EXPECT_EQ(Map.ProcessKeymap(1, Key(scan::F5)), 1);
    EXPECT_EQ(Host.Take(), std::vector<std::string>{"do second by key"});
    Map.Sort();
    EXPECT_EQ(Map.ProcessKeymap(1, Key(scan::F5)), 1);
    EXPECT_EQ(Host.Take(), std::vector<std::string>{"do first by key"});

    KEYBOARDEVENT print = Key(0x37, 0xE0);
    print.Keycode = 44;
    Set(Map.Table[3], 0x2C00, 0x44, L"print");
    EXPECT_EQ(Map.ProcessKeymap(1, Released(print)), 1);
    EXPECT_EQ(Host.Take(), std::vector<std::string>{"do print"});
}

TEST_F(KeymapTest, TheSameKeyRightAfterAMappedOneSendsNothing)
{
    Set(Map.Table[0], 0x3F, 0x44, L"mapped");
    KEYBOARDEVENT again = Key(scan::F5);
    EXPECT_EQ(Map.ProcessKeymap(1, again), 1);
    Host.Take();
    // The follow-up of a mapped key: the same scan code that no entry
    // matches now, with no modifier beyond the entry's Control and Alt.
    Set(Map.Table[0], 0x3F, 0x00, L"mapped");
    Host.Keys = {144}; // Num Lock on: the entry no longer matches
    EXPECT_EQ(Map.ProcessKeymap(1, again), 0) << "Num Lock counts among the modifiers";
    Host.Keys.clear();
    Set(Map.Table[0], 0x3F, 0x08, L"mapped");
    EXPECT_EQ(Map.ProcessKeymap(1, Key(scan::F5, 0, kShift)), 1);
    EXPECT_EQ(Map.ProcessKeymap(1, again), 1) << "the follow-up";
    EXPECT_EQ(Map.ProcessKeymap(1, again), 0) << "only once";
    EXPECT_EQ(Host.Take(), std::vector<std::string>{"do mapped"});
}

} // namespace
