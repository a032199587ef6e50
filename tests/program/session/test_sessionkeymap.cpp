// A session's key map and translation tables: the standard files loaded
// with the session, mapped keys and translated bytes on the real roads,
// keys from the window system (raw keys and text, each handled once), a
// missing file reported, and the menu shortcuts a key map takes over.
#include "tests/program/screen/fakekeyhost.h"
#include "tests/program/screen/keyevents.h"
#include "tests/program/session/sessionfixture.h"

#include "platform/events/testinput.h"
#include "velmot/gui/winmenu.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace sessiontest;
using namespace keytest;
using ::testing::HasSubstr;

namespace {

[[maybe_unused]] bool const kPlatform = (UsePlatform(), true);

constexpr char kKeymapHeader[] =
    "QOR6.44 // KEYBOARD\n"
    "// each entry: scancode(hex)|flags(hex)|void|void|future|future|remap-string\n"
    "// flags: UTF8(256), Cmd(128), Ignore-Scroll(64), Alt(32), Ctrl(16), Shift(8), Ignore-Num(4), \n"
    "//        Scroll(2), Num(1) (one bit each, e.g flag for Ctrl+Shift = 16+8 = 24 = flag 18(hex))\n";
constexpr char kTranslateHeader[] = "QOR6.44 // TRANSLATE\n"
                                    "// CHARACTER TRANSLATION TABLE (CHANGED ENTRIES ONLY)\n"
                                    "// format: x|Old|New \n"
                                    "//         x= I (inward) or O (outward), Old/New in hex\n";

class KeymapSessionTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        testutil::WriteFile(Work.file("Options/Standard.qky"), std::string(kKeymapHeader) + "3F|44|-1|-1|0|0|hello\n");
        testutil::WriteFile(Work.file("Options/Standard.qtr"), std::string(kTranslateHeader) + "I|41|61\nO|62|42\n");
    }
    void Type(KEYBOARDEVENT const& e) { EXPECT_TRUE(S->OnKeyboardEvent(e)); }
    bool SentIs(std::string const& want)
    {
        return Pump([&] { return Sent() == want; }, 3000);
    }
    int Count(std::string const& log, std::string const& line)
    {
        int n = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
            ++n;
        return n;
    }
};

TEST_F(KeymapSessionTest, TheStandardFilesComeWithTheSessionAndActOnItsRoads)
{
    ASSERT_TRUE(Open(5, 0));
    EXPECT_EQ(std::string(S->Keymap.FileName().Buf()), Work.file("Options/Standard.qky"));
    EXPECT_EQ(std::string(S->Translation.FileName()), Work.file("Options/Standard.qtr"));

    S->Prof.data.DoTrans = 0;
    Type(Key(scan::F5));
    EXPECT_TRUE(SentIs("hello")) << Sent();
    Type(Char(0x30, 'b'));
    EXPECT_TRUE(SentIs("hellob")) << "no translation without DoTrans: " << Sent();
    Inject("ABC");
    ASSERT_TRUE(WaitShown());
    EXPECT_EQ(Row(0), "ABC");

    S->Prof.data.DoTrans = 1;
    Type(Char(0x30, 'b'));
    EXPECT_TRUE(SentIs("hellobB")) << Sent();
    Inject("\r\nABC");
    ASSERT_TRUE(WaitShown());
    EXPECT_EQ(Row(1), "aBC");
}

TEST_F(KeymapSessionTest, AnEmulationThatWantsItsDataAsItIsGetsItUntranslated)
{
    ASSERT_TRUE(Open(5, 1));
    Custom("PROCESSKEY 0");
    S->Prof.data.DoTrans = 1;
    Inject("A");
    ASSERT_TRUE(WaitShown());
    EXPECT_EQ(Custom("RECEIVED"), "a");
    Type(Char(0x30, 'b'));
    EXPECT_TRUE(SentIs("B")) << Sent();

    Custom("FLAGS 128");
    Inject("A");
    ASSERT_TRUE(WaitShown());
    EXPECT_EQ(Custom("RECEIVED"), "A");
    Type(Char(0x30, 'b'));
    EXPECT_TRUE(SentIs("Bb")) << Sent();
}

TEST_F(KeymapSessionTest, AnotherKeyMapByEventAndOnesThatCannotBeReadReported)
{
    ASSERT_TRUE(Open(5, 0));
    EXPECT_EQ(S->ProcessEvent(8224, 0, "absent.qky"), 1);
    std::vector<std::string> errors = Host.Take("error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_THAT(errors[0], HasSubstr(Work.file("Options/absent.qky")));
    EXPECT_THAT(errors[0], HasSubstr("No such file or directory"));
    EXPECT_EQ(S->Keymap.Table[0].Keycode, 0x3Fu);
    S->Translation.Load("absent.qtr");
    EXPECT_EQ(Host.Take("error").size(), 1u);
    EXPECT_EQ(S->Translation.Inward['A'], 'a');

    // Event 8224 switches to another key map.
    testutil::WriteFile(Work.file("Options/other.qky"), std::string(kKeymapHeader) + "40|44|-1|-1|0|0|six\n");
    EXPECT_EQ(S->ProcessEvent(8224, 0, "other.qky"), 1);
    EXPECT_EQ(S->Keymap.Table[0].Keycode, 0x40u);
    EXPECT_EQ(S->Keymap.Table[1].Keycode, 0u);
    EXPECT_TRUE(Host.Take("error").empty());
}

// Keys as the window system delivers them: a key that types nothing comes
// as a raw key only, a key that types a character as text; Alt+Escape,
// which nobody takes, comes both ways and must be handled once.
TEST_F(KeymapSessionTest, KeysFromTheWindowSystemAreHandledOnce)
{
    ASSERT_TRUE(Open(5, 1));
    Parent->Show(true);
    Parent->Activate();
    S->SetFocus();
    Custom("PROCESSKEY 0");
    Custom("LOG");
    plat::WindowRef const window = Parent->GetWindow();

    ASSERT_EQ(plat::testinput::PressKey(window, plat::kVkF1 + 4), plat::kNoErr);
    EXPECT_THAT(Custom("LOG"), HasSubstr("FeedKeyString hello")) << "F5 went through the key map";

    ASSERT_EQ(plat::testinput::PressKey(window, plat::kVkUp), plat::kNoErr);
    ASSERT_EQ(plat::testinput::TypeText(window, "a"), plat::kNoErr);
    ASSERT_EQ(plat::testinput::PressKey(window, plat::kVkEscape, plat::kModOption), plat::kNoErr);
    std::string const log = Custom("LOG");
    EXPECT_EQ(Count(log, "ProcessKey 38\n"), 1) << log;
    EXPECT_EQ(Count(log, "ProcessKey 0\n"), 1) << log;
    EXPECT_EQ(Count(log, "ProcessKey 27\n"), 1) << log;
    EXPECT_TRUE(SentIs("helloa")) << Sent();
}

// ---------------------------------------------------------------------------
// Menu shortcuts

class ShortcutTest : public ::testing::Test {
protected:
    ShortcutTest()
    {
        Bar.CreateEmpty();
        File.CreateEmpty();
        File.InsertItem("New", 8420, 0);
        File.SetMenuItemShortcut(8420, 'N', false, MENUMOD_COMMAND);
        File.InsertItem("Find", 8487, 1);
        File.SetMenuItemShortcut(8487, 'F', false, MENUMOD_COMMAND | MENUMOD_SHIFT);
        File.InsertItem("Paste", 8355, 2);
        File.SetMenuItemShortcut(8355, 0x2D, true, MENUMOD_SHIFT);
        File.InsertItem("No key", 8000, 3);
        Bar.InsertSubMenu("File", File, 0);
        Host.Menu = &Bar;
    }
    std::string Shortcut(int id)
    {
        int key = 0;
        bool isvirtual = false;
        uint32_t modifiers = 0;
        if (!Bar.GetMenuItemShortcut(id, &key, &isvirtual, &modifiers))
            return "none";
        return std::to_string(key) + (isvirtual ? " virtual " : " ") + std::to_string(modifiers);
    }
    void Entry(int i, uint32_t keycode, uint32_t flags)
    {
        Map.Table[i].Keycode = keycode;
        Map.Table[i].Flags = flags;
        wcscpy(Map.Table[i].Remap, L"x");
    }

    MENU Bar, File;
    FAKEKEYHOST Host;
    KEYMAPPER Map{Host};
};

TEST_F(ShortcutTest, ShortcutsWhoseKeysTheMapTakesAreSwitchedOffAndOnAgain)
{
    Entry(0, scan::N, KEYMAPPER::FLAG_CMD | 0x44); // Command+N
    Entry(1, 0x2D68, KEYMAPPER::FLAG_SHIFT | 0x44); // Shift+Insert, by scan code and virtual key
    Entry(2, 0x21 /* F */, KEYMAPPER::FLAG_CMD | 0x44); // Command+F, but the menu wants Command+Shift+F
    Map.UpdateMainMenuShortcuts();
    ASSERT_EQ(Map.NumMenuShortcuts, 3);
    KEYMAPPER::MENUSHORTCUT const& paste = Map.MenuShortcuts[2];
    EXPECT_EQ(paste.Command, 8355u);
    EXPECT_EQ(paste.Scancode, 0x68u) << "the scan code of the Insert key";
    EXPECT_EQ(paste.Virtual, 1u);
    EXPECT_EQ(Shortcut(8420), "none");
    EXPECT_EQ(Shortcut(8487), "70 9");
    EXPECT_EQ(Shortcut(8355), "none");

    // The entries gone, the shortcuts are back as they were.
    Map.Clear();
    Map.UpdateMainMenuShortcuts();
    EXPECT_EQ(Shortcut(8420), "78 8");
    EXPECT_EQ(Shortcut(8487), "70 9");
    EXPECT_EQ(Shortcut(8355), "45 virtual 1");
    EXPECT_EQ(Map.NumMenuShortcuts, 3) << "the list is built once";

    // A loaded map switches them at once.
    testutil::TempDir dir;
    Host.KeymapsFolder = dir.path();
    testutil::WriteFile(dir.file("cmd-n.qky"), std::string(kKeymapHeader) + "31|C4|-1|-1|0|0|new\n");
    Map.Load("cmd-n.qky");
    EXPECT_EQ(Shortcut(8420), "none");
}

TEST_F(ShortcutTest, TheListHoldsAtMost96Shortcuts)
{
    MENU many;
    many.CreateEmpty();
    for (int i = 0; i < 100; ++i) {
        many.InsertItem("item", 9000 + i, i);
        many.SetMenuItemShortcut(9000 + i, 0x70 + i % 12, true, MENUMOD_COMMAND);
    }
    Map.BuildShortcutList(many, 0);
    EXPECT_EQ(Map.NumMenuShortcuts, KEYMAPPER::MAXSHORTCUTS);
    EXPECT_EQ(Map.MenuShortcuts[95].Command, 9095u);
}

} // namespace
