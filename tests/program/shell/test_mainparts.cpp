// The main window's parts offscreen: the menus of the layouts in both
// languages and what their commands do, command states that follow the
// session, the toolbar, the status line and its lights, the title from its
// template, and the window's helpers.
#include "tests/program/shell/appfixture.h"
#include "tests/support/testutil.h"

#include "program/shell/status.h"
#include "program/shell/toolbar.h"
#include "program/session/sessionrunner.h"

#include "platform/draw/bitmap.h"
#include "platform/draw/viewsupport.h"
#include "platform/events/modal.h"
#include "platform/events/testinput.h"
#include "platform/events/windows.h"
#include "platform/menus/menus.h"
#include "platform/nibs/nib.h"
#include "platform/services/folders.h"
#include "platform/services/resources.h"
#include "velmot/core/osys.h"
#include "velmot/gui/winkeys.h"
#include "velmot/gui/winmenu.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

namespace apptest {
namespace {

constexpr CONTROLID Push(int n)
{
    return CONTROLID{plat::FourCC("PUSH"), n};
}

// Every command number the window's menus, toolbar, status line and tab
// menu deal in.
constexpr int kPartCommands[] = {
    8030, 8045, 8115, 8116, 8125, 8140, 8141, 8155, 8160, 8200, 8210, 8220, 8221, 8223, 8230, 8235, 8240,
    8250, 8255, 8270, 8280, 8281, 8285, 8287, 8288, 8290, 8291, 8292, 8293, 8294, 8295, 8352, 8355, 8360,
    8365, 8367, 8370, 8375, 8380, 8381, 8382, 8383, 8390, 8392, 8393, 8394, 8395, 8410, 8420, 8421, 8422,
    8423, 8424, 8425, 8426, 8440, 8450, 8455, 8470, 8471, 8475, 8478, 8479, 8482, 8484, 8486, 8487, 8488,
    8490, 8499, 8516, 8517, 8518, 8519, 8899, 9001, 9004, 9007, 9009, 9010, 9012, 9013, 9014, 9015, 9016,
    9017, 9019, 9020, 9021, 9022, 9023, 9024, 9025, 9050, 9051, 9052, 9053, 9054, 9055,
};

// The commands of the menus that work in this program; every other one
// must be disabled with a reason.
const std::set<int> kWorking = {
    8155, 8160, 8215, 9011, 8291, 8294, 8295, 8382, 8383, 8410, 8420, 8421, 8422, 8423, 8424, 8425, 8426,
    8450, 8482, 8484, 8486, 8490, 8499, 8899, 9001, 9009, 9010, 9013, 9017, 9055,
    // The session log, the capture buffer and its viewer, printer logging.
    8030, 8031, 8045, 8060, 8078, 8390, 8391, 8392, 8393, 8394, 8395, 8396, 8455, 8456, 8457,
};

struct MENUITEM {
    int Command;
    std::string Text;
};

void Collect(plat::NibModel const& model, plat::NibMenu const& menu, std::vector<MENUITEM>& out)
{
    for (plat::NibMenuItem const& item : menu.items) {
        if (item.separator)
            continue;
        if (item.command)
            out.push_back(MENUITEM{static_cast<int>(item.command), item.text});
        if (item.submenu)
            Collect(model, *item.submenu, out);
        else if (!item.submenuName.empty())
            Collect(model, model.menus.at(item.submenuName), out);
    }
}

// The items of the window's menu bar, the Help menu's topics, the profile
// pages' menu and the tab menu.
std::vector<MENUITEM> LayoutItems()
{
    plat::NibModel const model = plat::LoadNibFolder(plat::ResourcesFolder() + "/nibs");
    std::vector<MENUITEM> items;
    for (std::string const& name : model.menubars.at("IDW_MAINWIN").names)
        Collect(model, model.menus.at(name), items);
    for (char const* name : {"IDM_HELPTOPICS", "IDM_POPUP_OPT", "IDM_TABSMENU"})
        Collect(model, model.menus.at(name), items);
    return items;
}

std::map<std::string, std::string> Strings(std::string const& lang)
{
    std::map<std::string, std::string> all;
    for (char const* table : {"Localizable", "App", "Layouts"}) {
        std::ifstream in(plat::ResourcesFolder() + "/" + lang + ".lproj/" + table + ".strings");
        std::stringstream text;
        text << in.rdbuf();
        for (auto const& [key, value] : plat::ParseStringTable(text.str()).entries)
            all.emplace(key, value);
    }
    return all;
}

bool Enabled(APP& app, int cmd)
{
    return app.MenuBar() && app.MenuBar()->IsMenuItemEnabled(static_cast<uint32_t>(cmd));
}

bool Reached(TESTAPP& app, int cmd)
{
    for (auto const& e : app.Events)
        if (e.Event == cmd)
            return true;
    return false;
}

class MainPartsTest : public AppTest {};

// ---------------------------------------------------------------------------
// Menus and commands

TEST_F(MainPartsTest, EveryCommandIsInTheLayoutsWithTextsInBothLanguages)
{
    std::vector<MENUITEM> const items = LayoutItems();
    std::set<int> ids;
    for (MENUITEM const& i : items)
        ids.insert(i.Command);
    for (int cmd : kPartCommands)
        EXPECT_TRUE(ids.count(cmd)) << cmd << " is in no menu";
    auto const en = Strings("en");
    auto const de = Strings("de");
    for (MENUITEM const& i : items) {
        if (i.Command == 2000)
            continue; // the colour menu's placeholder, replaced by the colours
        std::string const id = plat::NibTextValue(i.Text);
        ASSERT_FALSE(id.empty()) << i.Command << " has a text of its own instead of a string: " << i.Text;
        EXPECT_TRUE(en.count(id)) << id << " (English)";
        EXPECT_TRUE(de.count(id)) << id << " (German)";
    }
    for (char const* id : {"IDS_CMDQUIT", "IDS_CMDCLOSETAB", "IDS_CMDCLIPCOPYSCREEN", "IDS_ONOFFSTARTEND",
                           "IDS_STATUSFLAGS", "IDS_LED_TOOLTIPS", "IDS_START_PROGRAM_FAILED", "IDS_END"}) {
        EXPECT_TRUE(en.count(id)) << id;
        EXPECT_TRUE(de.count(id)) << id;
    }
    EXPECT_EQ(plat::LoadNibFolder(plat::ResourcesFolder() + "/nibs").menubars.count("IDM_MAINMENU2"), 1u);
}

TEST_F(MainPartsTest, EachCommandWorksOrIsDisabledWithItsReason)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    app->UpdateToolbarAndMenu(true);
    std::set<int> seen;
    for (MENUITEM const& item : LayoutItems()) {
        int const cmd = item.Command;
        if (cmd > 32766 || cmd == 2000 || cmd == 8894 || !seen.insert(cmd).second)
            continue;
        char const* reason = app->CommandUnavailable(cmd);
        if (kWorking.count(cmd)) {
            EXPECT_EQ(reason, nullptr) << cmd << ": " << reason;
            continue;
        }
        ASSERT_NE(reason, nullptr) << cmd << " neither works nor says why";
        EXPECT_GT(strlen(reason), 10u) << cmd;
        plat::MenuRef holder = nullptr;
        if (app->MenuBar()->GetMenuAndIndexFromID(static_cast<uint32_t>(cmd), &holder) >= 0) {
            EXPECT_FALSE(Enabled(*app, cmd)) << cmd << " (" << reason << ") shows enabled";
            app->Events.clear();
            app->OnCommand(static_cast<uint32_t>(cmd));
            EXPECT_FALSE(Reached(*app, cmd)) << cmd << " ran although disabled";
        }
    }
    // The items the set-up takes out.
    plat::MenuRef holder = nullptr;
    EXPECT_LT(app->MenuBar()->GetMenuAndIndexFromID(8215, &holder), 0);
    EXPECT_LT(app->MenuBar()->GetMenuAndIndexFromID(8222, &holder), 0);
    EXPECT_LT(app->MenuBar()->GetMenuAndIndexFromID(9011, &holder), 0);
    Close(app);
}

TEST_F(MainPartsTest, ARouteOfTheSessionMakesItsCommandsAvailable)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    SESSION* s = app->GetCurrentSession();
    ASSERT_NE(app->CommandUnavailable(8518), nullptr);
    int calls = 0;
    s->SetEventRoute(8516, 8519, [&](SESSION&, int, int, char const*) { return ++calls; });
    EXPECT_EQ(app->CommandUnavailable(8518), nullptr);
    app->UpdateToolbarAndMenu(true);
    EXPECT_TRUE(Enabled(*app, 8518));
    EXPECT_TRUE(Enabled(*app, 8517));
    EXPECT_TRUE(app->OnCommand(8518));
    Pump([&] { return calls > 0; }, 2000);
    EXPECT_EQ(calls, 1);

    // Block-mode emulations send no text files; transfers only with
    // protocol 6.
    s->Prof.data.ActiveEmulation = 11;
    s->Prof.data.ActiveTransfer = 6;
    app->UpdateToolbarAndMenu(false);
    EXPECT_TRUE(Enabled(*app, 8518));
    EXPECT_FALSE(Enabled(*app, 8517));
    s->Prof.data.ActiveTransfer = 2;
    app->UpdateToolbarAndMenu(false);
    EXPECT_FALSE(Enabled(*app, 8518));
    EXPECT_FALSE(Enabled(*app, 8519));
    Close(app);
}

TEST_F(MainPartsTest, StatesFollowTheSessionAndTheAdministrator)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    SESSION* s = app->GetCurrentSession();
    ASSERT_TRUE(Pump([&] { return s->CommLayer.Device() && s->CommLayer.QueryOnline() == 1; }, 5000));
    app->UpdateToolbarAndMenu(true);
    EXPECT_TRUE(Enabled(*app, 8382)) << "connected: disconnect";
    EXPECT_FALSE(Enabled(*app, 8422)) << "one tab: no next tab";
    // With one tab the File menu does not name "Close Window" twice.
    EXPECT_EQ(std::string(app->MenuBar()->GetMenuItemText(8424, false).Buf()), "Close Tab");
    EXPECT_EQ(std::string(app->MenuBar()->GetMenuItemText(8899, false).Buf()), "Close Window");

    app->ProcessEvent(8421, 0, nullptr);
    ASSERT_EQ(app->GetNumSessions(), 2);
    app->UpdateToolbarAndMenu(false);
    EXPECT_TRUE(Enabled(*app, 8422));
    EXPECT_EQ(std::string(app->MenuBar()->GetMenuItemText(8424, false).Buf()), "Close Tab");

    // The capture switch: its check mark and the status line's box.
    SESSION* now = app->GetCurrentSession();
    now->Prof.data.CaptStatus = 2;
    app->UpdateStatusbar(false);
    EXPECT_TRUE(app->IsMenuChecked(8030));
    EXPECT_EQ(app->Statusline()->CaptureSwitchValue(), 1);
    now->Prof.data.CaptStatus = 1;
    app->UpdateStatusbar(false);
    EXPECT_FALSE(app->IsMenuChecked(8030));
    EXPECT_EQ(app->Statusline()->CaptureSwitchValue(), 2) << "mixed";

    // What the administrator disabled stays so, in the menu and the toolbar.
    app->Admin().DisabledCommands[0] = 8382;
    app->Admin().DisabledCommands[1] = 0;
    app->UpdateToolbarAndMenu(true);
    EXPECT_FALSE(Enabled(*app, 8382));
    app->Events.clear();
    EXPECT_FALSE(app->OnCommand(8382)) << "a disabled item's command is ignored";
    EXPECT_FALSE(Reached(*app, 8382));
    app->Settings().data.SafAskHangup = 0;
    app->DoCommand(8382, 0, reinterpret_cast<MSGWORD>(SESSION::NOQUESTION));
    EXPECT_TRUE(Reached(*app, 8382)) << "DoCommand runs it";
    app->Admin().DisabledCommands[0] = 0;

    // Offline: nothing to disconnect.
    ASSERT_TRUE(Pump([&] { return now->CommLayer.QueryOnline() != 1; }, 5000));
    app->UpdateToolbarAndMenu(false);
    EXPECT_FALSE(Enabled(*app, 8382));
    Close(app);
}

// The Command shortcuts are typed as Ctrl+Shift (Super as a second
// binding), the tabs switch with Ctrl+PgUp/PgDn, and the menus show the
// keys as they are typed; a key map entry on a shortcut's keys takes them.
TEST_F(MainPartsTest, ShortcutsAreCtrlShiftAndGiveWayToTheKeyMap)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    MENU* bar = app->MenuBar();
    ASSERT_NE(bar, nullptr);
    struct ROW {
        int Command;
        int Key;
        bool Virtual;
        uint32_t Modifiers;
        char const* Shown;
    } const rows[] = {
        {8424, 'W', false, MENUMOD_COMMAND, "Ctrl+Shift+W"},
        {8421, 'T', false, MENUMOD_COMMAND, "Ctrl+Shift+T"},
        {8420, 'N', false, MENUMOD_COMMAND, "Ctrl+Shift+N"},
        {8899, 'W', false, MENUMOD_COMMAND | MENUMOD_SHIFT, "Super+Shift+W"},
        {8422, 34, true, MENUMOD_CONTROL | MENUMOD_TAKEN, "Ctrl+PgDown"},
        {8423, 33, true, MENUMOD_CONTROL | MENUMOD_TAKEN, "Ctrl+PgUp"},
        {8499, 35, true, MENUMOD_CONTROL, "Ctrl+End"},
        {8440, 27, false, MENUMOD_SHIFT, "Shift+Esc"},
        {8293, 'C', false, MENUMOD_COMMAND | MENUMOD_OPTION, "Ctrl+Alt+Shift+C"},
        {8367, 'Q', false, MENUMOD_COMMAND | MENUMOD_OPTION | MENUMOD_SHIFT, "Super+Alt+Shift+Q"},
    };
    for (ROW const& r : rows) {
        SCOPED_TRACE(r.Command);
        int key = 0;
        bool isVirtual = false;
        uint32_t modifiers = 0;
        ASSERT_TRUE(bar->GetMenuItemShortcut(r.Command, &key, &isVirtual, &modifiers));
        EXPECT_EQ(key, r.Key);
        EXPECT_EQ(isVirtual, r.Virtual);
        EXPECT_EQ(modifiers, r.Modifiers);
        plat::MenuRef holder = nullptr;
        int const index = bar->GetMenuAndIndexFromID(static_cast<uint32_t>(r.Command), &holder);
        ASSERT_GE(index, 0);
        EXPECT_EQ(plat::MenuItemShortcutText(holder, index + 1), r.Shown);
    }
    int key = 0;
    bool isVirtual = false;
    uint32_t modifiers = 0;
    for (int transfer : {8518, 8519})
        EXPECT_FALSE(bar->GetMenuItemShortcut(transfer, &key, &isVirtual, &modifiers) && key != 0)
            << transfer << ": Ctrl+PgUp and Ctrl+PgDn switch the tabs";

    // A key map entry on Ctrl+Shift+F or Super+F takes the key from "Find in
    // Scroll-back"; one on Ctrl+F does not (Ctrl+F types its control code).
    SESSION* s = app->GetCurrentSession();
    KEYMAPPER::KEYDEF& entry = s->Keymap.Table[0];
    struct TAKE {
        uint32_t Flags;
        bool Takes;
    } const takes[] = {
        {KEYMAPPER::FLAG_CMD, true},
        {KEYMAPPER::FLAG_CTRL | KEYMAPPER::FLAG_SHIFT, true},
        {KEYMAPPER::FLAG_CTRL, false},
    };
    for (TAKE const& t : takes) {
        SCOPED_TRACE(t.Flags);
        entry.Keycode = 0x46u << 8 | 0x21u;
        entry.Flags = t.Flags | KEYMAPPER::FLAG_IGNORENUM | KEYMAPPER::FLAG_IGNORESCROLL;
        wcscpy(entry.Remap, L"find");
        s->Keymap.UpdateMainMenuShortcuts();
        key = 0;
        bool const shortcut = bar->GetMenuItemShortcut(8487, &key, &isVirtual, &modifiers) && key != 0;
        EXPECT_EQ(shortcut, !t.Takes);
        EXPECT_TRUE(bar->GetMenuItemShortcut(8424, &key, &isVirtual, &modifiers) && key == 'W');
    }
    entry = KEYMAPPER::KEYDEF{};
    s->Keymap.UpdateMainMenuShortcuts();
    Close(app);
}

// The shortcuts from the keyboard as a user types them: Ctrl+Shift and
// Super open tabs, Ctrl+PgUp/PgDn switch them, Ctrl alone stays the
// terminal's (the key map's entries coming first is seen under X11).
TEST_F(MainPartsTest, TheShortcutsWorkFromTheKeyboard)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    plat::WindowRef const window = app->GetWindow();
    using plat::testinput::PressKey;
    ASSERT_EQ(PressKey(window, 'T', plat::kModControl | plat::kModShift), plat::kNoErr);
    EXPECT_EQ(app->GetNumSessions(), 2) << "Ctrl+Shift+T";
    ASSERT_EQ(PressKey(window, 'T', plat::kModCommand), plat::kNoErr);
    EXPECT_EQ(app->GetNumSessions(), 3) << "Super+T";
    std::vector<SESSION*> tabs;
    for (int i = 0; i < 3; ++i)
        tabs.push_back(app->GetSessionPtr(i));
    EXPECT_EQ(app->GetCurrentSession(), tabs[2]);
    PressKey(window, plat::kVkPrior, plat::kModControl);
    EXPECT_EQ(app->GetCurrentSession(), tabs[1]) << "Ctrl+PgUp";
    PressKey(window, plat::kVkNext, plat::kModControl);
    EXPECT_EQ(app->GetCurrentSession(), tabs[2]) << "Ctrl+PgDn";
    PressKey(window, 'T', plat::kModControl);
    EXPECT_EQ(app->GetNumSessions(), 3) << "Ctrl+T belongs to the terminal";

    Close(app);
}

TEST_F(MainPartsTest, HelpTopicsAndToggles)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    // A topic without a page in the help book cannot be chosen; one with
    // a page can.
    EXPECT_NE(app->CommandUnavailable(9004), nullptr);
    EXPECT_EQ(app->CommandUnavailable(9013), nullptr);
    app->Events.clear();
    EXPECT_EQ(app->DoCommand(9019, 0, 0), 0) << "the REXX reference answers 0";
    EXPECT_TRUE(app->Events.empty()) << "help topics do not reach the event layer";

    // The Help menu offers only topics with a page, the shortcuts once (the
    // menu's own item shows them), and the About item names the program.
    plat::MenuRef help = app->MenuBar()->GetHelpMenu();
    ASSERT_NE(help, nullptr);
    std::map<uint32_t, int> offered;
    int enabledWithoutPage = 0;
    for (int i = 1; i <= plat::CountMenuItems(help); ++i) {
        uint32_t const cmd = plat::GetMenuItemCommand(help, i);
        ++offered[cmd];
        if (cmd >= 9001 && cmd <= 9055 && cmd != 9009 && app->CommandUnavailable(static_cast<int>(cmd)))
            ++enabledWithoutPage;
    }
    EXPECT_EQ(enabledWithoutPage, 0) << "no help item that opens nothing";
    EXPECT_EQ(offered[9010], 1) << "Quick Start";
    EXPECT_EQ(offered[9017], 0) << "the shortcuts are the Help menu's own item";
    EXPECT_EQ(offered[plat::FourCC("HKEY")], 1);
    EXPECT_EQ(offered[9009], 1) << "About";
    ALERTS alerts(1);
    std::vector<std::string> const& said = alerts.Texts;
    EXPECT_TRUE(app->OnCommand(9009));
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("Qor 6.44"), std::string::npos) << said[0];

    // A toggle turns its check mark over and hands the new state on.
    bool const before = app->IsMenuChecked(8295);
    app->DoCommand(8295, 0, 0);
    EXPECT_NE(app->IsMenuChecked(8295), before);
    ASSERT_FALSE(app->Events.empty());
    EXPECT_EQ(app->Events.back().Event, 8295);
    EXPECT_EQ(app->Events.back().Parm, before ? 0 : 1);
    Close(app);
}

// ---------------------------------------------------------------------------
// Toolbar

TEST_F(MainPartsTest, ToolbarButtonsClustersLabelsAndStates)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    TOOLBAR toolbar(*app);
    ASSERT_EQ(toolbar.NumEntries(), 42);
    EXPECT_EQ(toolbar.GetButtonCount(), 42) << "8450 and 8455 add no button";
    // Clusters: a change of group or subgroup puts a separator before.
    for (int i : {5, 12, 17, 21, 24, 27, 29, 40})
        EXPECT_TRUE(toolbar.GetButton(i).Style & TBSTYLE_SEP) << i;
    for (int i : {0, 1, 25, 28, 41})
        EXPECT_FALSE(toolbar.GetButton(i).Style & TBSTYLE_SEP) << i;
    EXPECT_TRUE(toolbar.GetButton(3).Style & TBSTYLE_NODEFAULT);
    EXPECT_FALSE(toolbar.GetButton(0).Style & TBSTYLE_NODEFAULT);
    EXPECT_STREQ(toolbar.Entry(0).Label, "Host Directory");
    EXPECT_STREQ(toolbar.Entry(10).Label, "Printer Log");
    EXPECT_EQ(std::string(toolbar.GetButton(10).Label.Buf()), "Printer Log Start");
    EXPECT_EQ(std::string(toolbar.GetButton(11).Label.Buf()), "Printer Log End");
    EXPECT_EQ(toolbar.GetButton(0).Icon, 1200u);
    EXPECT_NE(toolbar.GetButton(0).IconObj->GetIconRef(), nullptr) << "the icon file loads";

    // Showing what shows already changes nothing; the toolbar takes no
    // client height either way.
    int delta = 99;
    EXPECT_EQ(toolbar.ShowToolbar(true, &delta), 1);
    EXPECT_EQ(delta, 0);
    delta = 99;
    EXPECT_EQ(toolbar.ShowToolbar(true, &delta), 0);
    EXPECT_EQ(delta, 99);
    EXPECT_EQ(toolbar.QueryHeight(nullptr, 800), 0);
    Close(app);
}

TEST_F(MainPartsTest, TheWindowsToolbarFollowsTheCommandStates)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    plat::ToolbarRef bar = plat::GetWindowToolbar(app->GetWindow());
    ASSERT_NE(bar, nullptr);
    std::vector<plat::ToolbarItemRef> items = plat::CopyToolbarItems(bar);
    int buttons = 0;
    for (plat::ToolbarItemRef i : items)
        if (plat::GetToolbarItemCommand(i))
            ++buttons;
    EXPECT_EQ(buttons, 20) << "the default set";
    SESSION* s = app->GetCurrentSession();
    ASSERT_TRUE(Pump([&] { return s->CommLayer.Device() && s->CommLayer.QueryOnline() == 1; }, 5000));
    app->UpdateToolbarAndMenu(true);
    auto enabled = [&](uint32_t cmd) {
        for (plat::ToolbarItemRef i : plat::CopyToolbarItems(bar))
            if (plat::GetToolbarItemCommand(i) == cmd)
                return plat::IsToolbarItemEnabled(i);
        return false;
    };
    EXPECT_TRUE(enabled(8382));
    EXPECT_FALSE(enabled(8380)) << "the host directory is not built";
    EXPECT_FALSE(enabled(8490)) << "nothing in the scroll-back yet";
    app->EnableMenuEntry(8382, 0, true);
    EXPECT_FALSE(enabled(8382));

    // The user's choice of buttons is kept for the next window.
    std::vector<std::string> const saved = plat::GetToolbarIdentifiers(bar);
    ASSERT_EQ(plat::SetToolbarIdentifiers(bar, {"8382", plat::kToolbarSeparatorIdentifier, "8220"}), plat::kNoErr);
    Close(app);
    TESTAPP* next = Open();
    ASSERT_NE(next, nullptr);
    plat::ToolbarRef nextBar = plat::GetWindowToolbar(next->GetWindow());
    EXPECT_EQ(plat::GetToolbarIdentifiers(nextBar),
              (std::vector<std::string>{"8382", plat::kToolbarSeparatorIdentifier, "8220"}));
    plat::SetToolbarIdentifiers(nextBar, saved);
    Close(next);
}

// ---------------------------------------------------------------------------
// Status line

TEST_F(MainPartsTest, StatusLineFieldsFollowTheSession)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    STATUSLINE* status = app->Statusline();
    ASSERT_NE(status, nullptr);
    SESSION* s = app->GetCurrentSession();
    ASSERT_TRUE(Pump([&] { return s->CommLayer.Device() && s->CommLayer.QueryOnline() == 1; }, 5000));
    s->Prof.data.ShowCursorPos = 0;
    s->Prof.data.ShowLeds = 1;
    app->UpdateStatusbar(true);
    EXPECT_FALSE(status->FieldText(Push(0)).empty()) << "the device";
    EXPECT_FALSE(status->FieldText(Push(1)).empty()) << "the emulation";
    int cols = 0, rows = 0;
    s->Screen.GetWinSize(&cols, &rows);
    EXPECT_EQ(status->FieldText(Push(4)), std::to_string(cols) + "x" + std::to_string(rows));
    EXPECT_TRUE(status->FieldVisible(Push(4)));
    EXPECT_EQ(status->DevicePicture(), 1105) << "lights on, online";
    EXPECT_TRUE(status->FieldVisible(CONTROLID{plat::FourCC("IDC_"), 3}));
    s->Prof.data.ShowLeds = 0;
    s->Prof.data.ShowTraffic = 1;
    app->UpdateStatusbar(false);
    EXPECT_EQ(status->DevicePicture(), 1071) << "no lights: the device shows the traffic";
    status->SetLed(2, 1, 0);
    EXPECT_EQ(status->DevicePicture(), 1072) << "receiving";
    EXPECT_FALSE(status->FieldVisible(CONTROLID{plat::FourCC("IDC_"), 3}));

    // The online time: empty at zero, then hours, minutes and seconds.
    auto* appSession = dynamic_cast<APPSESSION*>(s);
    ASSERT_NE(appSession, nullptr);
    EXPECT_TRUE(appSession->OnlineTimer.IsRunning()) << "the clock runs while connected";
    static long long clock = 0;
    auto const saved = TIMER::Now;
    TIMER::Now = [] { return clock; };
    clock = 1000;
    appSession->OnlineTimer.Reset();
    appSession->OnlineTimer.Run(1);
    app->UpdateStatusbar(false);
    EXPECT_EQ(status->FieldText(Push(3)), "");
    clock += 83 * 1000;
    app->UpdateStatusbar(false);
    EXPECT_EQ(status->FieldText(Push(3)), "00:01:23");
    TIMER::Now = saved;

    // The cursor position instead of the size.
    s->Prof.data.ShowCursorPos = 1;
    s->Screen.SetCursorPos(4, 2);
    status->NewCursorPos(1);
    EXPECT_EQ(status->FieldText(Push(4)), app->Settings().data.StatusCursorOneBased ? "05/03" : "04/02");

    // Flags.
    s->Prof.data.DumpMode = 1;
    s->Prof.data.CtrlChars = 1;
    app->UpdateStatusbar(false);
    EXPECT_EQ(status->FieldText(Push(5)), "DUMP CTRL");
    s->Prof.data.DumpMode = 0;
    s->Prof.data.CtrlChars = 0;
    app->UpdateStatusbar(true);
    EXPECT_EQ(status->FieldText(Push(5)), "");
    EXPECT_FALSE(status->FieldVisible(Push(5))) << "an empty field makes no room";
    Close(app);
}

TEST_F(MainPartsTest, StatusLightsTrafficPlugInModeAndShowing)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    STATUSLINE* status = app->Statusline();
    ASSERT_NE(status, nullptr);
    status->SetLed(0, 1, 0);
    EXPECT_EQ(status->LightIcon(0), 1131);
    status->SetLed(1, 1, 1);
    EXPECT_EQ(status->LightIcon(1), 1133) << "mode 1";

    // A traffic light goes off by itself.
    status->SetLed(2, 1, 0);
    EXPECT_EQ(status->LightIcon(2), 1131);
    EXPECT_TRUE(Pump([&] { return status->LightIcon(2) == 1130; }, 2000));

    // In plug-in mode only a light with a mode changes.
    status->SetLedMode(1);
    uint32_t const before = status->LedState() & 0xF;
    status->SetLed(0, before ? 0 : 1, 0);
    EXPECT_EQ(status->LedState() & 0xF, before) << "unchanged";
    status->SetLed(0, 1, 1);
    EXPECT_EQ(status->LedState() & 0xF, 3u);
    EXPECT_EQ(status->LightIcon(0), 1133) << "in plug-in mode the mode picture is shown";
    status->SetLedMode(0);

    // From another thread the lights come through a message.
    std::thread([&] { status->SetLed(3, 1, 3); }).join();
    EXPECT_TRUE(Pump([&] { return status->LightIcon(3) == 1137; }, 2000));

    int delta = 77;
    EXPECT_EQ(status->ShowStatusline(1, &delta), 0) << "shown already";
    EXPECT_EQ(delta, 77);
    EXPECT_EQ(status->ShowStatusline(0, &delta), 1);
    EXPECT_EQ(delta, -status->LineHeight());
    EXPECT_EQ(status->ShowStatusline(1, &delta), 1);
    EXPECT_EQ(delta, status->LineHeight());
    Close(app);
}

TEST_F(MainPartsTest, StatusFieldsHideWhenNarrowAndClicksRunTheirCommand)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    STATUSLINE* status = app->Statusline();
    SESSION* s = app->GetCurrentSession();
    s->Prof.data.ShowCursorPos = 0;
    app->UpdateStatusbar(true);
    RECT const r = status->GetRect();
    status->Move(r.left, r.top, 120, r.bottom - r.top);
    EXPECT_FALSE(status->FieldVisible(Push(4))) << "no room";
    EXPECT_FALSE(status->FieldVisible(CONTROLID{plat::FourCC("IDC_"), 0})) << "the lights go with light 3";
    EXPECT_EQ(status->FieldVisible(CONTROLID{plat::FourCC("IDC_"), 0}),
              status->FieldVisible(CONTROLID{plat::FourCC("IDC_"), 3}));
    status->Move(r.left, r.top, 900, r.bottom - r.top);
    EXPECT_TRUE(status->FieldVisible(Push(4)));
    RECT const size = status->FieldRect(status->FieldIndex(Push(4)));
    EXPECT_LE(size.right, 900 - 8) << "the fields after the file name stand at the right edge";
    EXPECT_GE(size.right, 900 - 40);

    // A field whose command cannot run yet does nothing; once it can, a
    // click posts it.
    app->Events.clear();
    status->OnPushbutton(Push(4));
    Spin(50);
    EXPECT_FALSE(Reached(*app, 8281));
    s->SetEventRoute(8281, 8281, [](SESSION&, int, int, char const*) { return 1; });
    status->OnPushbutton(Push(4));
    EXPECT_TRUE(Pump([&] { return Reached(*app, 8281); }, 2000));
    Close(app);
}

// ---------------------------------------------------------------------------
// Title and helpers

TEST_F(MainPartsTest, TitleFromItsTemplate)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    wcscpy(app->Settings().data.WindowTitle, L"%QORORHOST% #%INSTANCE% v%VERSION% [%HOST%]");
    app->SetWindowTitle(nullptr);
    std::string const expected =
        std::string(gTermName) + " #" + std::to_string(app->Instance()) + " v6.44 []";
    EXPECT_EQ(std::string(app->GetText().Buf()), expected);
    gUnattended = 1;
    app->SetWindowTitle(nullptr);
    EXPECT_EQ(std::string(app->GetText().Buf()), expected + " [unattended]");
    gUnattended = 0;
    app->Settings().data.WindowTitle[0] = 0;
    app->SetWindowTitle(nullptr);
    EXPECT_EQ(std::string(app->GetText().Buf()).rfind(gTermName, 0), 0u) << app->GetText().Buf();
    app->SetWindowTitle(L"fixed");
    EXPECT_EQ(std::string(app->GetText().Buf()), "fixed");
    Close(app);
}

TEST(MainHelpers, ExtensionLists)
{
    struct ROW {
        char const* File;
        char const* List;
        bool Match;
    } const rows[] = {
        {"a.LOG", "txt|log", true},   {"dir.d/a.txt", "t?t", true}, {"x.tx", "t*", true},
        {"x.t", "t*", false},         {"noext", "txt|log", false},  {"a.txt", "t x t", true},
        {"a.log", "txt||log", false}, {"a.lo", "log", false},       {"a.logs", "log", false},
        {"a.", "", false},
    };
    for (ROW const& r : rows)
        EXPECT_EQ(APP::ExtInList(r.File, r.List), r.Match) << r.File << " in " << r.List;
}

TEST(MainHelpers, LearnedLogins)
{
    auto convert = [](std::string const& records) {
        char* out = APP::ConvertLearn(STRING(records.c_str()));
        std::string text = out;
        free(out);
        return text;
    };
    auto rec = [](char type, char c) { return std::string{type, c, '\1'}; };
    std::string data;
    for (char c : std::string("login: "))
        data += rec('I', c);
    for (char c : std::string("usr"))
        data += rec('O', c);
    data += rec('C', ' ');
    EXPECT_EQ(convert(data), "W=login:|S=usr|");

    // Only the last ten printable characters are waited for; sent
    // control characters, carets and bars are written out.
    data.clear();
    for (char c : std::string("Welcome to the host\r\nPassword:"))
        data += rec('I', c);
    for (char c : std::string("p^|\r"))
        data += rec('O', c);
    EXPECT_EQ(convert(data), "W=Password:|S=p^(5E)^(7C)^M|");

    // The output stops at 2047 characters, between items.
    data.clear();
    for (int i = 0; i < 400; ++i) {
        data += rec('I', 'x') + rec('I', ':');
        data += rec('O', 'y') + rec('C', ' ');
    }
    std::string const out = convert(data);
    EXPECT_LE(out.size(), 2047u);
    EXPECT_EQ(out.back(), '|');
}

TEST_F(MainPartsTest, EditorCommandsAndPrograms)
{
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    char* const visual = getenv("VISUAL");
    char* const editor = getenv("EDITOR");
    std::string const savedVisual = visual ? visual : "";
    std::string const savedEditor = editor ? editor : "";
    auto& setting = app->Settings().data.EditorExe;
    struct ROW {
        char const* Setting;
        char const* Visual;
        char const* Editor;
        std::vector<std::string> Argv;
    } const rows[] = {
        {"", "gvim -f", "vi", {"gvim", "-f", "f.txt"}},
        {"<default>", nullptr, "kate", {"kate", "f.txt"}},
        {"<DEFAULT>", nullptr, nullptr, {"xdg-open", "f.txt"}},
        {"\"/opt/my editor/ed\" -x  ", "gvim", nullptr, {"/opt/my editor/ed", "-x", "f.txt"}},
        {"/usr/bin/mousepad", "gvim", nullptr, {"/usr/bin/mousepad", "f.txt"}},
    };
    for (ROW const& r : rows) {
        snprintf(setting, sizeof setting, "%s", r.Setting);
        r.Visual ? setenv("VISUAL", r.Visual, 1) : unsetenv("VISUAL");
        r.Editor ? setenv("EDITOR", r.Editor, 1) : unsetenv("EDITOR");
        EXPECT_EQ(app->EditorCommand("f.txt"), r.Argv) << r.Setting;
    }
    setting[0] = 0;
    unsetenv("VISUAL");
    unsetenv("EDITOR");
    EXPECT_TRUE(app->EditorCommand(nullptr).empty()) << "the desktop opens no file without one";

    // The user's editor is a terminal program: it runs in a tab of its own.
    // The menu's "Edit File..." asks for the file first.
    std::string const script = testing::TempDir() + "/editor." + std::to_string(getpid());
    FILE* f = fopen(script.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("#!/bin/sh\necho \"EDITING [$1]\"\nsleep 30\n", f);
    fclose(f);
    chmod(script.c_str(), 0755);
    setenv("VISUAL", script.c_str(), 1);
    bool inTab = false;
    EXPECT_EQ(app->EditorCommand("a b.txt", &inTab), (std::vector<std::string>{script, "a b.txt"}));
    EXPECT_TRUE(inTab);
    testutil::TempDir files;
    std::string const chosen = files.file("it's here.txt");
    testutil::WriteFile(chosen, "text");
    plat::AddModalResponder(
        plat::kModalFileOpen,
        [&](plat::ModalRequest const&, plat::ModalAnswer& a) {
            a.text = chosen;
            a.choice = 1;
            return true;
        },
        1);
    int const tabs = app->GetNumSessions();
    app->ProcessEvent(8155, 0, nullptr);
    ASSERT_EQ(app->GetNumSessions(), tabs + 1);
    // The path may wrap on the screen: the rows are read as one text.
    SESSION* editing = app->GetCurrentSession();
    auto screen = [&] {
        std::string all;
        for (int y = 0; y < 4; ++y)
            all += ScreenRowText(editing->Screen, y);
        return all;
    };
    EXPECT_TRUE(Pump([&] { return screen().find("EDITING [" + chosen + "]") != std::string::npos; }, 5000))
        << screen();
    unlink(script.c_str());
    unsetenv("VISUAL");
    savedVisual.empty() ? unsetenv("VISUAL") : setenv("VISUAL", savedVisual.c_str(), 1);
    savedEditor.empty() ? unsetenv("EDITOR") : setenv("EDITOR", savedEditor.c_str(), 1);
    EXPECT_EQ(std::string(app->ShellExeName().Buf()), "/bin/sh");

    // Programs: the exit code when waited for; a program that cannot be
    // started reports 0.
    EXPECT_EQ(app->StartProgram("/bin/sh", "-c \"exit 3\"", nullptr, 1), (3 << 16) | 1);
    gUnattended = 1;
    EXPECT_EQ(app->StartProgram("/nonexistent/program", "", nullptr, 1), 0);
    gUnattended = 0;

    // One-time notices: once per name.
    std::string const name = "TestNotice" + std::to_string(getpid());
    EXPECT_TRUE(app->CheckOnce(name.c_str()));
    EXPECT_FALSE(app->CheckOnce(name.c_str()));
    Close(app);
}

// ---------------------------------------------------------------------------
// A picture of the window for review: written when QOR_REVIEW_DIR names a
// folder.

TEST_F(MainPartsTest, PictureForReview)
{
    char const* folder = getenv("QOR_REVIEW_DIR");
    if (!folder || !*folder)
        GTEST_SKIP() << "QOR_REVIEW_DIR is not set";
    TESTAPP* app = Open();
    ASSERT_NE(app, nullptr);
    app->ProcessEvent(8421, 0, nullptr);
    SESSION* s = app->GetCurrentSession();
    ASSERT_TRUE(Pump([&] { return s->CommLayer.Device() && s->CommLayer.QueryOnline() == 1; }, 5000));
    Run(*s, "cd / && ls -C && echo done", "done");
    s->Prof.data.ShowLeds = 1;
    s->Prof.data.ShowCursorPos = 0;
    app->UpdateStatusbar(true);
    app->Statusline()->SetLed(2, 1, 0);
    Spin(300);
    auto picture = plat::GrabView(plat::WindowRootView(app->GetWindow()));
    ASSERT_NE(picture, nullptr);
    std::string const path = std::string(folder) + "/mainwindow-" + plat::ResourceLanguage() + ".png";
    EXPECT_TRUE(picture->SavePng(path)) << path;
    Close(app);
}

} // namespace
} // namespace apptest
