// Menus and icons: the model, the menu bars of windows, status updates and
// commands, command keys and pop-up menus.
#include "platform/draw/icons.h"
#include "platform/menus/menus.h"
#include "tests/platform/events/qt_fixture.h"

#include <gmock/gmock.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using namespace plat;
using qtfix::QtTest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

Text T(const char* s)
{
    return Text::FromUtf8(s);
}

// A menu with the items given as "text:CMND" ("-" a separator).
MenuRef MakeMenu(const char* title, std::vector<std::string> items)
{
    MenuRef m = CreateMenu(T(title));
    int n = 0;
    for (const std::string& item : items) {
        if (item == "-") {
            InsertMenuItem(m, n++, Text(), kMenuItemAttrSeparator, 0);
            continue;
        }
        const size_t colon = item.find(':');
        const std::string code = item.substr(colon + 1);
        InsertMenuItem(m, n++, T(item.substr(0, colon).c_str()), 0,
                       FourCC({code[0], code[1], code[2], code[3], 0}));
    }
    return m;
}

using MenusTest = QtTest;

TEST_F(MenusTest, ItemsAreFoundByCommandThroughSubmenusAndSubmenusAreShared)
{
    MenuRef file = MakeMenu("File", {"New:NEWW", "-", "Open:OPEN"});
    MenuRef recent = MakeMenu("Recent", {"a:REC1", "b:OPEN"});
    InsertMenuItem(file, 2, T("Recent"), 0, 0);
    ASSERT_EQ(SetMenuItemSubmenu(file, 3, recent), kNoErr);
    EXPECT_EQ(MenuRetainCount(recent), 2);

    MenuRef m = nullptr;
    int item = 0;
    ASSERT_EQ(FindMenuItemWithCommand(file, FourCC("REC1"), 1, &m, &item), kNoErr);
    EXPECT_EQ(m, recent);
    EXPECT_EQ(item, 1);
    // The submenu's items come before the items behind it.
    ASSERT_EQ(FindMenuItemWithCommand(file, FourCC("OPEN"), 1, &m, &item), kNoErr);
    EXPECT_EQ(m, recent);
    ASSERT_EQ(FindMenuItemWithCommand(file, FourCC("OPEN"), 2, &m, &item), kNoErr);
    EXPECT_EQ(m, file);
    EXPECT_EQ(item, 4);
    EXPECT_EQ(FindMenuItemWithCommand(file, FourCC("OPEN"), 3, &m, &item), kErrParamNotFound);
    EXPECT_EQ(m, nullptr);

    // A menu may not hang below itself, however deep.
    EXPECT_EQ(SetMenuItemSubmenu(recent, 1, file), kErrBadArgument);
    EXPECT_EQ(SetMenuItemSubmenu(file, 1, file), kErrBadArgument);

    // Copies share the submenu; the last release disposes of it.
    MenuRef copy = CreateMenu();
    ASSERT_EQ(CopyMenuItems(file, 3, 2, copy, 0), kNoErr);
    EXPECT_EQ(CountMenuItems(copy), 2);
    EXPECT_EQ(GetMenuItemSubmenu(copy, 1), recent);
    EXPECT_EQ(MenuRetainCount(recent), 3);
    EXPECT_EQ(CopyMenuItems(file, 4, 2, copy, 0), kErrBadArgument); // beyond the end
    ReleaseMenu(file);
    ReleaseMenu(copy);
    EXPECT_EQ(MenuRetainCount(recent), 1);
    ReleaseMenu(recent);
    EXPECT_FALSE(IsValidMenu(recent));
    EXPECT_EQ(CountMenuItems(recent), 0);
    EXPECT_EQ(InsertMenuItem(recent, 0, T("x"), 0, 0), kErrTargetGone);
}

TEST_F(MenusTest, ShortcutTextsAndKeyMatching)
{
    MenuRef m = MakeMenu("Edit", {"Copy:COPY", "Clear:CLRS", "Break:BRK ", "Find:FIND", "Plain:PLAN"});
    SetMenuItemKey(m, 1, 'c');
    SetMenuItemModifiers(m, 1, 0);
    SetMenuItemKey(m, 2, 'K');
    SetMenuItemModifiers(m, 2, kMenuShiftModifier | kMenuControlModifier);
    SetMenuItemKey(m, 3, kVkF1 + 4);
    ChangeMenuItemAttributes(m, 3, kMenuItemAttrUseVirtualKey, 0);
    SetMenuItemModifiers(m, 3, kMenuNoCommandModifier);
    SetMenuItemKey(m, 4, '/');
    SetMenuItemModifiers(m, 4, kMenuOptionModifier);
    // Command is shown as Ctrl+Shift where the shortcut leaves both free,
    // else as Super.
    EXPECT_EQ(MenuItemShortcutText(m, 1), "Ctrl+Shift+C");
    EXPECT_EQ(MenuItemShortcutText(m, 2), "Super+Ctrl+Shift+K");
    EXPECT_EQ(MenuItemShortcutText(m, 3), "F5");
    EXPECT_EQ(MenuItemShortcutText(m, 4), "Ctrl+Alt+Shift+/");
    EXPECT_EQ(MenuItemShortcutText(m, 5), "");

    auto key = [](uint32_t vk, char32_t ch, uint32_t mods) {
        KeyRecord k;
        k.vk = vk;
        k.ch = ch;
        k.modifiers = mods;
        k.flags = ch ? kKeyHasChar : 0;
        return k;
    };
    struct Case {
        KeyRecord key;
        bool commandOnly;
        int item; // 0: none
    } const cases[] = {
        {key('C', 0, kModControl | kModShift), true, 1},
        {key('C', U'c', kModCommand), true, 1},                // Super: the second binding
        {key('C', U'c', kModCommand | kModCapsLock), true, 1}, // lock keys do not count
        {key('C', U'c', kModControl), false, 0},              // Ctrl+C stays the terminal's
        {key('C', 0, kModCommand | kModShift), true, 0},      // an extra modifier
        {key('C', 0, kModControl | kModShift | kModOption), true, 0},
        {key('K', 11, kModCommand | kModShift | kModControl), true, 2},
        {key('K', 11, kModShift | kModControl), true, 0}, // its own Ctrl+Shift is not Command
        {key(kVkF1 + 4, 0, 0), false, 3},
        {key(kVkF1 + 4, 0, 0), true, 0}, // no Command in it: not before the focus
        {key(kVkOem2, U'/', kModCommand | kModOption), true, 4},
        {key(kVkOem2, 0, kModControl | kModShift | kModOption), true, 4}, // by the key that types it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("vk " + std::to_string(c.key.vk) + " mods " + std::to_string(c.key.modifiers));
        MenuRef found = nullptr;
        int item = 0;
        EXPECT_EQ(MatchMenuKey(nullptr, m, c.key, c.commandOnly, &found, &item), c.item != 0);
        EXPECT_EQ(item, c.item);
    }
    ReleaseMenu(m);
}

class MenuBarTest : public QtTest {
protected:
    void SetUp() override
    {
        window_ = MakeWindow(400, 200);
        root_ = CreateMenu();
        file_ = MakeMenu("File", {"New:NEWW", "Open:OPEN", "-", "Close:clos"});
        InsertMenuItem(root_, 0, T("File"), 0, 0);
        SetMenuItemSubmenu(root_, 1, file_);
        ReleaseMenu(file_);
        ASSERT_EQ(SetWindowMenuBar(window_, root_), kNoErr);
        ReleaseMenu(root_);
        focus_ = CreateUserPane(WindowContentView(window_), {0, 0, 50, 50}, {FourCC("FOCS"), 1});
        SetKeyboardFocus(focus_);
        static const EventType cmds[] = {{kEventClassCommand, kEventCommandProcess},
                                         {kEventClassCommand, kEventCommandUpdateStatus}};
        // The focused view sees commands first; the window after it.
        for (TargetRef t : {ViewTarget(focus_), WindowTarget(window_)}) {
            InstallHandler(t, cmds, [this, t](HandlerCall&, Event& e) {
                CommandRecord cmd;
                e.Get(kParamDirectObject, kTypeCommand, &cmd);
                log_.push_back(std::string(t == WindowTarget(window_) ? "window " : "view ") +
                               std::to_string(e.Kind()) + " " + FourCCText(cmd.commandId) + " " +
                               std::to_string(cmd.menuItem));
                if (e.Kind() == kEventCommandUpdateStatus && cmd.commandId == FourCC("OPEN"))
                    EnableMenuItem(reinterpret_cast<MenuRef>(cmd.source), static_cast<int>(cmd.menuItem), false);
                return t == WindowTarget(window_) ? kNoErr : kErrEventNotHandled;
            });
        }
    }
    QMenuBar* Bar() { return bridge::WidgetOfWindow(window_)->findChild<QMenuBar*>(); }

    WindowRef window_ = nullptr;
    MenuRef root_ = nullptr;
    MenuRef file_ = nullptr;
    ViewRef focus_ = nullptr;
};

TEST_F(MenuBarTest, EachWindowCarriesItsBarWithTheHelpMenuLast)
{
    ReleaseHelpMenu();
    EXPECT_EQ(GetWindowMenuBar(window_), root_);
    EXPECT_THAT(MenuBarTitles(window_), ElementsAre("File"));
    MenuRef help = GetHelpMenu();
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(GetHelpMenu(), help);
    EXPECT_EQ(CountMenuItems(help), 1);
    EXPECT_EQ(GetMenuItemCommand(help, 1), kCommandAppHelp);
    EXPECT_THAT(MenuBarTitles(window_), ElementsAre("File", "Help"));
    SetMenuTitle(file_, T("Datei & mehr"));
    EXPECT_THAT(MenuBarTitles(window_), ElementsAre("Datei & mehr", "Help"));

    // Another window, another bar; a disposed window lets its root go.
    WindowRef other = MakeWindow(200, 100, false);
    MenuRef root = CreateMenu();
    SetWindowMenuBar(other, root);
    EXPECT_EQ(MenuRetainCount(root), 2);
    EXPECT_THAT(MenuBarTitles(other), ElementsAre("Help"));
    DisposeWindow(other);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ProcessPendingEvents(100);
    MenuBarTitles(window_); // brings the bars up to date
    EXPECT_EQ(MenuRetainCount(root), 1);
    ReleaseMenu(root);
    ReleaseHelpMenu();
    EXPECT_THAT(MenuBarTitles(window_), ElementsAre("Datei & mehr"));
}

TEST_F(MenuBarTest, OpeningAMenuUpdatesItsItemsAndAChoiceGoesToTheFocusChain)
{
    QMenu* menu = Bar()->actions().at(0)->menu();
    ASSERT_NE(menu, nullptr);
    emit menu->aboutToShow();
    EXPECT_THAT(log_, ElementsAre("view 2 NEWW 1", "window 2 NEWW 1", "view 2 OPEN 2", "window 2 OPEN 2",
                                  "view 2 clos 4", "window 2 clos 4"));
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_TRUE(actions[0]->isEnabled());
    EXPECT_FALSE(actions[1]->isEnabled()); // the handler disabled it
    EXPECT_TRUE(actions[2]->isSeparator());
    log_.clear();
    actions[3]->trigger();
    EXPECT_THAT(log_, ElementsAre("view 1 clos 4", "window 1 clos 4"));
}

TEST_F(MenuBarTest, CommandKeysAreTheMenusBeforeAnyView)
{
    SetMenuItemKey(file_, 1, 'N');
    SetMenuItemModifiers(file_, 1, 0);
    SetMenuItemKey(file_, 2, 'O');
    SetMenuItemModifiers(file_, 2, 0);
    KeyRecord k;
    k.vk = 'N';
    k.ch = U'n';
    k.flags = kKeyHasChar;
    k.modifiers = kModCommand;
    EXPECT_TRUE(ProcessMenuKey(window_, k, true));
    EXPECT_THAT(log_, ElementsAre("view 2 NEWW 1", "window 2 NEWW 1", "view 1 NEWW 1", "window 1 NEWW 1"));
    // A disabled item keeps its key but sends nothing.
    log_.clear();
    k.vk = 'O';
    k.ch = U'o';
    EXPECT_TRUE(ProcessMenuKey(window_, k, true));
    EXPECT_THAT(log_, ElementsAre("view 2 OPEN 2", "window 2 OPEN 2"));
    log_.clear();
    k.flags |= kKeyRelease;
    EXPECT_FALSE(ProcessMenuKey(window_, k, true));
    k.flags = kKeyHasChar;
    k.vk = 'Q';
    k.ch = U'q';
    EXPECT_FALSE(ProcessMenuKey(window_, k, true));
    EXPECT_THAT(log_, IsEmpty());
}

TEST_F(MenuBarTest, PopUpMenusAreAnsweredByCommandOrItem)
{
    MenuRef popup = MakeMenu("", {"Copy:COPY", "Paste:PAST", "-", "All:SALL"});
    std::vector<std::string> offered;
    AddModalResponder(kModalPopupMenu, [&](const ModalRequest& r, ModalAnswer& a) {
        offered = r.choices;
        a.value = FourCC("SALL");
        return true;
    });
    MenuRef m = nullptr;
    int item = 0;
    ASSERT_EQ(PopUpMenuSelect(popup, window_, PointI{100, 100}, &m, &item), kNoErr);
    EXPECT_EQ(m, popup);
    EXPECT_EQ(item, 4);
    EXPECT_THAT(offered, ElementsAre("Copy", "Paste", "", "All"));
    EXPECT_EQ(log_.back(), "window 1 SALL 4");

    // By item; a separator or a disabled item chooses nothing.
    for (int choice : {1, 3}) {
        log_.clear();
        AddModalResponder(kModalPopupMenu, [choice](const ModalRequest&, ModalAnswer& a) {
            a.choice = choice;
            return true;
        });
        PopUpMenuSelect(popup, window_, PointI{100, 100}, &m, &item);
        EXPECT_EQ(item, choice == 1 ? 1 : 0);
        const bool sent = std::find(log_.begin(), log_.end(), "window 1 COPY 1") != log_.end();
        EXPECT_EQ(sent, choice == 1);
    }
    // In test mode without a responder nothing is chosen.
    log_.clear();
    PopUpMenuSelect(popup, window_, PointI{100, 100}, &m, &item);
    EXPECT_EQ(m, nullptr);
    EXPECT_EQ(item, 0);
    EXPECT_THAT(log_, ElementsAre("view 2 COPY 1", "window 2 COPY 1", "view 2 PAST 2", "window 2 PAST 2",
                                  "view 2 SALL 4", "window 2 SALL 4")); // only the status updates
    auto picture = DrawMenuPicture(popup, window_);
    ASSERT_NE(picture, nullptr);
    EXPECT_GT(picture->Width(), 20);
    EXPECT_GT(picture->Height(), 30);
    ReleaseMenu(popup);
}

TEST_F(MenusTest, IconsLiveWhileReferenced)
{
    const std::string path = std::string(std::getenv("QOR_STAGE_DIR")) + "/share/qor/Resources/Icons/online.png";
    const OSType creator = FourCC("TEST");
    EXPECT_EQ(RegisterIconFromFile(creator, 1, "/nonexistent.png"), nullptr);
    // Pixels are decoded on first use, but a file that is no PNG is refused
    // at once.
    const std::string text = ::testing::TempDir() + "menus_test_not_a_picture.png";
    std::ofstream(text) << "not a picture\n";
    EXPECT_EQ(RegisterIconFromFile(creator, 1, text), nullptr);
    std::remove(text.c_str());
    IconRef icon = RegisterIconFromFile(creator, 1, path);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(IconImage(icon).Width(), 32);
    IconRef again = GetIconRef(creator, 1);
    EXPECT_EQ(again, icon);

    // A menu keeps its own reference.
    MenuRef m = MakeMenu("", {"Online:ONLN"});
    SetMenuItemIcon(m, 1, icon);
    ReleaseIconRef(icon);
    ReleaseIconRef(again);
    ASSERT_EQ(UnregisterIcon(creator, 1), kNoErr);
    EXPECT_EQ(GetIconRef(creator, 1), nullptr);
    EXPECT_TRUE(IsValidIconRef(icon));
    EXPECT_FALSE(IconImage(GetMenuItemIcon(m, 1)).IsNull());
    ReleaseMenu(m);
    EXPECT_FALSE(IsValidIconRef(icon));
    EXPECT_TRUE(IconImage(icon).IsNull());
    EXPECT_EQ(ReleaseIconRef(icon), kErrTargetGone);
    EXPECT_EQ(UnregisterIcon(creator, 1), kErrParamNotFound);
}

} // namespace
