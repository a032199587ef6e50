// Menus and icons: loading, queries and changes by command or position,
// shortcuts, pop-ups, the Help menu, and icons by id.
#include "tests/velmot/gui/toolkit_fixture.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winicons.h"
#include "velmot/gui/winmenu.h"

#include "platform/services/resources.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

using namespace guifix;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using plat::FourCC;

namespace {

using MenuTest = ToolkitTest;

TEST_F(MenuTest, LoadedAndEmptyMenusAreOwnedWrappersAreNot)
{
    plat::MenuRef made = nullptr;
    {
        MENU help("ID_HELPMENU");
        ASSERT_NE(help.GetMenuRef(), nullptr);
        EXPECT_EQ(help.GetNumMenuItems(), 2);
        made = help;
        MENU wrapper(help.GetMenuRef());
        MENU copy(wrapper);
        EXPECT_EQ(copy.GetMenuRef(), made);
    }
    EXPECT_FALSE(plat::IsValidMenu(made)); // gone with its owner only
    {
        MENU empty;
        ASSERT_TRUE(empty.CreateEmpty());
        made = empty;
        EXPECT_EQ(empty.GetNumMenuItems(), 0);
    }
    EXPECT_FALSE(plat::IsValidMenu(made)); // owned, so it does not leak
    MENU none("ID_NO_SUCH_MENU"); // nibcheck: absent
    EXPECT_EQ(none.GetMenuRef(), nullptr);
    EXPECT_FALSE(none.DestroyMenu());
}

TEST_F(MenuTest, QueriesAndChangesByCommandOrPosition)
{
    RECWINDOW w(WINDOWSTYLE_DOCUMENT, "Menus", 0, 0, 300, 200, nullptr, nullptr, "IDM_TEST_MENUBAR");
    MENU bar(w);
    ASSERT_NE(bar.GetMenuRef(), nullptr);
    EXPECT_EQ(bar.GetWindow(), w.GetWindow());
    EXPECT_EQ(bar.GetNumMenuItems(), 3);
    MENU file(bar.GetSubmenuFromPos(0));
    EXPECT_EQ(file.GetMenuIdFromPos(0), 8420);
    EXPECT_EQ(file.GetMenuIdFromPos(2), -1); // "Recent" has no command
    EXPECT_EQ(file.GetMenuIdFromPos(9), -1);
    EXPECT_EQ(file.GetMenuPosFromID(static_cast<int>(FourCC("clos"))), 4);
    EXPECT_EQ(file.GetMenuPosFromName("close"), 4);
    EXPECT_EQ(file.GetMenuPosFromName("Nothing"), -1);
    // Names without their trailing dots, case ignored, submenus searched.
    EXPECT_EQ(bar.GetMenuIdFromName("open"), static_cast<int>(FourCC("OPEN")));
    EXPECT_EQ(bar.GetMenuIdFromName("OPEN..."), static_cast<int>(FourCC("OPEN")));
    EXPECT_EQ(bar.GetMenuIdFromName("serial line"), static_cast<int>(FourCC("REC2")));
    EXPECT_EQ(bar.GetMenuIdFromName("missing"), -1);
    plat::MenuRef holder = nullptr;
    EXPECT_EQ(bar.GetMenuAndIndexFromID(FourCC("REC2"), &holder), 1);
    EXPECT_STREQ(MENU(holder).GetMenuItemText(1, true).Buf(), "serial line");
    // A command inside a submenu is no position of this menu.
    EXPECT_EQ(file.GetMenuPosFromID(static_cast<int>(FourCC("REC1"))), 0);
    EXPECT_THAT(Reported(), ElementsAre("fmenu==NULL || fmenu==this->fMenu"));

    EXPECT_TRUE(bar.IsMenuItemChecked(FourCC("TOOL")));
    EXPECT_TRUE(bar.CheckMenuItem(FourCC("TOOL"), 0));
    EXPECT_FALSE(bar.IsMenuItemChecked(FourCC("TOOL")));
    EXPECT_TRUE(bar.EnableMenuItem(FourCC("PAST"), 0));
    EXPECT_FALSE(bar.IsMenuItemEnabled(FourCC("PAST")));
    EXPECT_TRUE(bar.SetMenuItemText(static_cast<int>(FourCC("COPY")), "Kopieren \x80"));
    EXPECT_STREQ(bar.GetMenuItemText(FourCC("COPY"), false).Buf(), "Kopieren \x80");
    EXPECT_TRUE(bar.SetMenuItemTextWide(static_cast<int>(FourCC("COPY")), L"\x4F60"));
    EXPECT_STREQ(bar.GetMenuItemText(FourCC("COPY"), false).Buf(), "?");
    EXPECT_FALSE(bar.EnableMenuItem(FourCC("NONE"), 1));
    EXPECT_STREQ(bar.GetMenuItemText(FourCC("NONE"), false).Buf(), "");

    // Separators and items inserted and deleted by position.
    EXPECT_TRUE(file.IsMenuItemSeparator(3));
    EXPECT_TRUE(file.InsertItem(nullptr, 0, 1));
    EXPECT_TRUE(file.IsMenuItemSeparator(1));
    EXPECT_TRUE(file.InsertItem("Print...", static_cast<int>(FourCC("PRNT")), 99)); // at the end
    EXPECT_EQ(file.GetMenuIdFromPos(file.GetNumMenuItems() - 1), static_cast<int>(FourCC("PRNT")));
    EXPECT_TRUE(file.DeleteMenuItemSeparator(1, false));
    EXPECT_FALSE(file.DeleteMenuItemSeparator(0, true)); // no separator, no report
    EXPECT_FALSE(file.DeleteMenuItemSeparator(0, false));
    EXPECT_THAT(Reported(), ElementsAre("nowarn || item_is_separator"));
    EXPECT_TRUE(file.DeleteMenuItem(FourCC("PRNT"), false));
    EXPECT_FALSE(file.DeleteMenuItem(FourCC("PRNT"), false));
    MENU sub;
    sub.CreateEmpty();
    sub.InsertItem("Deep", static_cast<int>(FourCC("DEEP")), 0);
    EXPECT_TRUE(file.InsertSubMenu("More", sub, 0));
    EXPECT_EQ(file.GetSubmenuFromPos(0), sub.GetMenuRef());
    EXPECT_EQ(bar.GetMenuIdFromName("deep"), static_cast<int>(FourCC("DEEP")));
}

TEST_F(MenuTest, ShortcutsReadBackAsTheyWereSet)
{
    MENU m;
    m.CreateEmpty();
    m.InsertItem("One", 1, 0);
    struct Case {
        int key;
        bool isvirtual;
        uint32_t modifiers;
    } const cases[] = {
        {'N', false, MENUMOD_SHIFT | MENUMOD_COMMAND},
        {'N', false, MENUMOD_SHIFT}, // without Command
        {'K', false, MENUMOD_CONTROL | MENUMOD_OPTION | MENUMOD_COMMAND},
        {0x74, true, 0}, // F5
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(std::to_string(c.key) + " " + std::to_string(c.modifiers));
        ASSERT_TRUE(m.SetMenuItemShortcut(1, c.key, c.isvirtual, c.modifiers));
        int key = -1;
        bool isvirtual = !c.isvirtual;
        uint32_t modifiers = 99;
        EXPECT_TRUE(m.GetMenuItemShortcut(1, &key, &isvirtual, &modifiers));
        EXPECT_EQ(key, c.key);
        EXPECT_EQ(isvirtual, c.isvirtual);
        EXPECT_EQ(modifiers, c.modifiers);
    }
    EXPECT_TRUE(m.HasAttribute(0, MENUATTR_USEVIRTUALKEY, true));
    ASSERT_TRUE(m.ClearMenuItemShortcut(1));
    EXPECT_FALSE(m.HasAttribute(0, MENUATTR_USEVIRTUALKEY, true));
    int key = -1;
    bool isvirtual = true;
    uint32_t modifiers = 99;
    EXPECT_FALSE(m.GetMenuItemShortcut(1, &key, &isvirtual, &modifiers));
    EXPECT_EQ(key, 0);
    EXPECT_FALSE(isvirtual);
    EXPECT_EQ(modifiers, 0u);
}

TEST_F(MenuTest, PopupsAnswerTheCommandAndPostItUnlessTold)
{
    RECWINDOW w(WINDOWSTYLE_DOCUMENT, "Popup", 0, 0, 300, 200);
    ASSERT_TRUE(Activate(w.GetWindow()));
    // Only the commands: the pop-up takes and gives back the focus.
    auto commands = [&w] {
        std::vector<std::string> out;
        for (std::string const& line : w.rec.Take())
            if (line.rfind("OnCommand", 0) == 0)
                out.push_back(line);
        return out;
    };
    MENU popup("ID_TEST_POPUP");
    auto choose = [](uint32_t command) {
        plat::AddModalResponder(plat::kModalPopupMenu, [command](plat::ModalRequest const&, plat::ModalAnswer& a) {
            a.value = command;
            return true;
        });
    };
    POINT const at{120, 140};
    choose(FourCC("SALL"));
    EXPECT_EQ(popup.Popup(w.GetWindow(), &at, 0), static_cast<int>(FourCC("SALL")));
    EXPECT_EQ(w.GetWindowProperty(WPROP_POPUP), 0u); // removed again
    plat::ProcessPendingEvents(1000);
    EXPECT_THAT(commands(), ElementsAre("OnCommand SALL")); // posted, after the pop-up

    choose(FourCC("COPY"));
    EXPECT_EQ(popup.Popup(w.GetWindow(), nullptr, 1), static_cast<int>(FourCC("COPY")));
    plat::ProcessPendingEvents(1000);
    EXPECT_THAT(commands(), IsEmpty()); // flags: not posted

    choose(FourCC("PAST")); // disabled: nothing chosen
    EXPECT_EQ(popup.Popup(w.GetWindow(), &at, 0), 0);
    EXPECT_EQ(popup.Popup(w.GetWindow(), &at, 0), 0); // no responder
    plat::ProcessPendingEvents(1000);
    EXPECT_THAT(commands(), IsEmpty());
}

TEST_F(MenuTest, TheHelpMenuTakesItsItemsOnce)
{
    plat::ReleaseHelpMenu();
    RECWINDOW w(WINDOWSTYLE_DOCUMENT, "Help", 0, 0, 300, 200, nullptr, nullptr, "IDM_TEST_MENUBAR");
    MENU bar(w);
    plat::MenuRef help = bar.GetHelpMenu();
    ASSERT_NE(help, nullptr);
    MENU h(help);
    EXPECT_EQ(h.GetNumMenuItems(), 1);
    TARVOAPP::FillMenubarHelp(bar);
    EXPECT_EQ(h.GetNumMenuItems(), 4);
    EXPECT_TRUE(h.IsMenuItemSeparator(1));
    EXPECT_EQ(h.GetMenuIdFromPos(2), static_cast<int>(FourCC("HKEY")));
    TARVOAPP::FillMenubarHelp(bar); // only once
    EXPECT_EQ(h.GetNumMenuItems(), 4);
    EXPECT_THAT(plat::MenuBarTitles(w.GetWindow()), ElementsAre("File", "Edit", "View", "Help"));
    TARVOAPP::ClearMenubarHelp(bar);
    EXPECT_EQ(h.GetNumMenuItems(), 1);
    EXPECT_EQ(h.GetMenuIdFromPos(0), static_cast<int>(plat::kCommandAppHelp));
    plat::ReleaseHelpMenu();
}

// The icon table of a stage of the test's own.
class IconTest : public ToolkitTest {
protected:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        old_ = std::getenv("QOR_STAGE_DIR");
        root_ = std::filesystem::path(std::getenv("HOME")) / "iconstage";
        std::filesystem::path const resources = root_ / "share/qor/Resources";
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(resources / "Icons");
        std::filesystem::path const shipped = old_ + "/share/qor/Resources/Icons/online.png";
        std::filesystem::copy_file(shipped, resources / "top.png");
        std::filesystem::copy_file(shipped, resources / "Icons/inner.png");
        std::ofstream(resources / "iconsmap.txt") << "5 top.png\r\n"
                                                  << "6 \"inner.png\" // quoted, with a comment\n"
                                                  << "7\tinner.png\t// a tab before the comment\n"
                                                  << "0 top.png\n"
                                                  << "8\n"
                                                  << "9 missing.png\n"
                                                  << "junk\n";
        setenv("QOR_STAGE_DIR", root_.c_str(), 1);
        plat::ClearResourceCache();
        ICONMAP::ReleaseInstance();
    }
    void TearDown() override
    {
        ICONMAP::ReleaseInstance();
        setenv("QOR_STAGE_DIR", old_.c_str(), 1);
        plat::ClearResourceCache();
        std::filesystem::remove_all(root_);
        ToolkitTest::TearDown();
    }
    std::string old_;
    std::filesystem::path root_;
};

TEST_F(IconTest, TheTableRegistersItsFilesByIdAndIconsFetchThem)
{
    ICONMAP* map = ICONMAP::GetInstance();
    ASSERT_EQ(map->NumIcons, 3);
    EXPECT_EQ(map->Icons[0].id, 5u);
    EXPECT_STREQ(map->Icons[1].file.Buf(), "inner.png");
    EXPECT_EQ(map->Icons[2].id, 7u);

    RECWINDOW w(WINDOWSTYLE_DOCUMENT, "Icons", 0, 0, 100, 100);
    {
        ICON icon(6, w.GetWindow());
        ASSERT_NE(icon.GetIconRef(), nullptr);
        EXPECT_EQ(plat::IconImage(icon).Width(), 32);
        EXPECT_EQ(plat::GetWindowProxyIcon(w.GetWindow()), icon.GetIconRef());
        EXPECT_EQ(icon.AttachToWindow(w.GetWindow(), 2), 0); // flag 2 refuses
        EXPECT_EQ(icon.DetachFromWindow(2), 0);
        EXPECT_EQ(icon.DetachFromWindow(), 1);
        EXPECT_EQ(plat::GetWindowProxyIcon(w.GetWindow()), nullptr);
        EXPECT_EQ(icon.AttachToWindow(w.GetWindow()), 1);
    }
    EXPECT_EQ(plat::GetWindowProxyIcon(w.GetWindow()), nullptr); // detached with the icon
    ICON none(9);
    EXPECT_EQ(none.GetIconRef(), nullptr);
    EXPECT_EQ(none.AttachToWindow(w.GetWindow()), 0);

    // Full table: the 257th is refused and reported; a name not found or
    // an id of 0 is refused too.
    EXPECT_FALSE(map->RegisterAs("missing.png", 300));
    EXPECT_FALSE(map->RegisterAs("", 300));
    EXPECT_FALSE(map->RegisterAs("top.png", 0));
    for (uint32_t id = 1000; map->NumIcons < ICONMAP::MAXICONS; ++id)
        ASSERT_TRUE(map->RegisterAs("top.png", id));
    EXPECT_FALSE(map->RegisterAs("top.png", 2000));
    EXPECT_THAT(Reported(), ElementsAre("iconid!=0", "this->NumIcons < ARRAYMAX(this->Icons)"));
    // Released, the table's icons are unregistered.
    ICONMAP::ReleaseInstance();
    EXPECT_EQ(ICONMAP::CopyRefFromIconId(5), nullptr);
}

} // namespace
