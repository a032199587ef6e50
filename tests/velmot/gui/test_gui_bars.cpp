// Status bars, toolbars and the application's tile: layout and drawing of
// the parts, toolbar items from the button table with their states and
// the saved configuration, the tile's badge and menu.
#include "tests/support/pixels.h"
#include "tests/velmot/gui/lists_fixture.h"
#include "velmot/core/registry.h"
#include "velmot/gui/statusbar.h"
#include "velmot/gui/toolbar.h"
#include "velmot/gui/winicons.h"
#include "velmot/gui/winmenu.h"
#include "velmot/gui/winmisc.h"

#include "platform/controls/controls.h"
#include "platform/draw/viewsupport.h"
#include "platform/menus/docktile.h"
#include "platform/services/prefs.h"

#include <gmock/gmock.h>

#include <unistd.h>

using namespace guifix;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

namespace ti = plat::testinput;

class BarTest : public ToolkitTest {
protected:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        window = std::make_unique<RECWINDOW>("DLG_TEST_WINDOW", nullptr);
        ASSERT_TRUE(window->IsValid());
        ASSERT_TRUE(Activate(window->GetWindow()));
        plat::ProcessPendingEvents(1000);
        window->rec.Take();
    }
    void TearDown() override
    {
        window.reset();
        ToolkitTest::TearDown();
    }
    void ContentWidth(int width)
    {
        plat::RectI b = plat::GetWindowBounds(window->GetWindow());
        b.right = b.left + width;
        plat::SetWindowBounds(window->GetWindow(), b);
        plat::ProcessPendingEvents(1000);
    }
    std::vector<std::string> Commands()
    {
        plat::ProcessPendingEvents(1000);
        std::vector<std::string> out;
        for (std::string& line : window->rec.Take())
            if (line.rfind("OnCommand", 0) == 0)
                out.push_back(std::move(line));
        return out;
    }

    std::unique_ptr<RECWINDOW> window;
};

std::vector<int> Rights(STATUSBAR const& bar)
{
    std::vector<int> out;
    for (int i = 0; i < bar.GetPartCount(); ++i)
        out.push_back(bar.GetPart(i).Right);
    return out;
}

TEST_F(BarTest, StatusBarPartsStretchOverWhatTheFixedOnesLeave)
{
    STATUSBAR bar(window->GetClientParent(), CONTROLID{});
    ASSERT_TRUE(bar.IsValid());
    EXPECT_EQ(bar.GetPartCount(), 1);
    int const widths[] = {100, -50, 80};
    struct Case {
        int width;
        std::vector<int> rights;
    } const cases[] = {
        {500, {100, 420, 500}},
        {200, {100, 150, 230}}, // the stretching part keeps its least width
        {230, {100, 150, 230}},
    };
    bar.SetParts(3, widths);
    for (Case const& c : cases) {
        SCOPED_TRACE(c.width);
        ContentWidth(c.width);
        bar.Resize();
        EXPECT_THAT(Rights(bar), ::testing::ElementsAreArray(c.rights));
        plat::RectI const content = plat::GetViewFrame(plat::WindowContentView(window->GetWindow()));
        EXPECT_EQ(bar.GetRect(), (RECT{0, content.Height() - 20, c.width, content.Height()}));
    }

    // A single part spans the bar.
    bar.DeleteParts();
    EXPECT_EQ(bar.GetPartCount(), 0);

    // Reported: too many parts (cut to 7), too few, no stretching part, an
    // icon for a part that does not exist.
    int const eight[] = {10, 10, 10, 10, 10, 10, -10, 10};
    bar.SetParts(8, eight);
    EXPECT_EQ(bar.GetPartCount(), 7);
    bar.SetParts(1, widths);
    int const fixed[] = {10, 20};
    bar.SetParts(2, fixed);
    EXPECT_THAT(Rights(bar), ElementsAre(10, 30));
    EXPECT_FALSE(bar.SetIcon(201, 5));
    EXPECT_THAT(Reported(), ElementsAre("nparts<ARRAYMAX(this->Parts)", "nparts>1", "dyna!=-1", "part<this->Howmany"));
}

TEST_F(BarTest, StatusBarDrawsItsTextsAndIcons)
{
    STATUSBAR bar(window->GetClientParent(), CONTROLID{});
    int const widths[] = {160, -50, 120};
    ContentWidth(480);
    bar.SetParts(3, widths);
    auto const plain = plat::GrabView(bar.GetControlRef());
    ASSERT_TRUE(plain);
    // Nothing but the placard where the texts will go.
    uint32_t const background = plain->Pixel(100, 10);
    auto differs = [&](plat::Bitmap const& b, int left, int right) {
        for (int x = left; x < right; ++x)
            for (int y = 3; y < 17; ++y)
                if (b.Pixel(x, y) != background)
                    return true;
        return false;
    };
    EXPECT_FALSE(differs(*plain, 10, 150));

    bar.SetText(0, "Connected");
    bar.SetText(2, "VT220");
    EXPECT_STREQ(bar.GetText(2).Buf(), "VT220");
    auto const texts = plat::GrabView(bar.GetControlRef());
    EXPECT_TRUE(differs(*texts, 8, 150));    // part 0
    EXPECT_FALSE(differs(*texts, 170, 350)); // part 1 is empty
    EXPECT_TRUE(differs(*texts, 362, 470));  // part 2

    // An icon takes the 16 x 16 square at the part's left; the text moves
    // 18 pixels on.
    ASSERT_TRUE(bar.SetIcon(201, 1));
    auto const icon = plat::GrabView(bar.GetControlRef());
    EXPECT_TRUE(differs(*icon, 160, 176));
    EXPECT_TRUE(bar.SetIcon(0xFFFFFFFFu, 1)); // all bits: no icon
    EXPECT_EQ(bar.GetPart(1).Icon, 0u);
    auto const cleared = plat::GrabView(bar.GetControlRef());
    EXPECT_FALSE(differs(*cleared, 160, 176));
}

// The table of the toolbar tests: 'CONN', 'DISC' (separator before it),
// 'TRAC' (not in the default set, a check button).
constexpr uint32_t kConnect = plat::FourCC("CONN");
constexpr uint32_t kDisconnect = plat::FourCC("DISC");
constexpr uint32_t kTrace = plat::FourCC("TRAC");

std::string Id(uint32_t command)
{
    return std::to_string(command);
}

class ToolbarTest : public BarTest {
protected:
    void SetUp() override
    {
        BarTest::SetUp();
        plat::SetPref(Domain(), "Toolbar", std::nullopt, plat::PrefScope::CurrentUser);
        plat::SynchronizePrefs(Domain(), plat::PrefScope::CurrentUser);
    }
    static std::string Domain()
    {
        STRING domain;
        plat::PrefScope scope{};
        STRING prefix;
        REGISTRY(gApplicationName.Buf(), "Software\\Tarvo\\", REGISTRY::CURRENT_USER)
            .GetPrefsMapping(&domain, &scope, &prefix);
        return domain.Buf();
    }
    void Table(NEWTOOLBAR& bar)
    {
        EXPECT_EQ(bar.AddButtonToTable(kConnect, 0, nullptr, "Connect... ", 201), 0);
        EXPECT_EQ(bar.AddButtonToTable(kDisconnect, TBSTYLE_SEP, nullptr, "Disconnect", 202), 1);
        EXPECT_EQ(bar.AddButtonToTable(kTrace, TBSTYLE_NODEFAULT | TBSTYLE_CHECK, nullptr, "Trace", 0), 2);
    }
};

TEST_F(ToolbarTest, TheTableGivesTheDefaultAndAllowedItems)
{
    NEWTOOLBAR bar(window->GetWindow());
    Table(bar);
    EXPECT_EQ(bar.AddButtonToTable(plat::FourCC("NONE"), TBSTYLE_NOBUTTON, nullptr, "x", 0), -1);
    EXPECT_EQ(bar.GetButtonCount(), 3);
    EXPECT_STREQ(bar.GetButton(0).Label.Buf(), "Connect");
    EXPECT_EQ(bar.GetButton(2).Style, TBSTYLE_BUTTON | TBSTYLE_NODEFAULT | TBSTYLE_CHECK);

    bar.Show(1);
    EXPECT_TRUE(plat::IsWindowToolbarVisible(window->GetWindow()));
    plat::ToolbarRef const toolbar = bar.GetToolbar();
    EXPECT_THAT(plat::GetToolbarIdentifiers(toolbar),
                ElementsAre(Id(kConnect), plat::kToolbarSeparatorIdentifier, Id(kDisconnect)));
    EXPECT_THAT(plat::GetToolbarAllowedIdentifiers(toolbar),
                ElementsAre(plat::kToolbarSeparatorIdentifier, plat::kToolbarSpaceIdentifier,
                            plat::kToolbarFlexibleSpaceIdentifier, Id(kConnect), Id(kDisconnect), Id(kTrace),
                            plat::kToolbarCustomizeIdentifier));
    plat::ToolbarItemRef item = nullptr;
    EXPECT_EQ(bar.FindButton(kDisconnect, &item), 1);
    ASSERT_NE(item, nullptr);
    EXPECT_STREQ(STRING(plat::GetToolbarItemLabel(item)).Buf(), "Disconnect");
    EXPECT_STREQ(STRING(plat::GetToolbarItemHelpText(item)).Buf(), "Disconnect");
    EXPECT_EQ(plat::GetToolbarItemCommand(item), kDisconnect);
    EXPECT_EQ(bar.FindButton(kTrace, &item), 2);
    EXPECT_EQ(item, nullptr); // not shown by default

    // The user clicks "Disconnect": the window gets its command.
    EXPECT_EQ(bar.FindButton(kDisconnect, &item), 1);
    plat::RectI const frame = plat::GetToolbarItemFrame(item);
    ASSERT_GT(frame.Width(), 0);
    ASSERT_EQ(ti::Click(plat::WindowRootView(window->GetWindow()),
                        {(frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2}),
              plat::kNoErr);
    EXPECT_THAT(Commands(), ElementsAre("OnCommand DISC"));
    // Disabled, it sends nothing.
    bar.EnableButton(kDisconnect, 0);
    EXPECT_FALSE(bar.IsButtonEnabled(kDisconnect));
    ti::Click(plat::WindowRootView(window->GetWindow()), {(frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2});
    EXPECT_THAT(Commands(), IsEmpty());
    EXPECT_TRUE(bar.IsButtonEnabled(kConnect));

    bar.Show(0);
    EXPECT_FALSE(plat::IsWindowToolbarVisible(window->GetWindow()));
}

// A button's label shows as its help tag when the pointer rests on it, also
// while its window is not the active one (as a window under the pointer
// often is not).
TEST_F(ToolbarTest, HelpTagsShowAlsoInAWindowThatIsNotActive)
{
    NEWTOOLBAR bar(window->GetWindow());
    Table(bar);
    plat::SetToolbarDisplayMode(bar.GetToolbar(), plat::ToolbarDisplayMode::IconOnly);
    bar.Show(1);
    plat::ToolbarItemRef item = nullptr;
    ASSERT_EQ(bar.FindButton(kDisconnect, &item), 1);
    RECWINDOW other("DLG_TEST_WINDOW", nullptr);
    ASSERT_TRUE(Activate(other.GetWindow()));
    plat::ProcessPendingEvents(1000);
    ASSERT_FALSE(plat::IsWindowActive(window->GetWindow()));
    plat::RectI const frame = plat::GetToolbarItemFrame(item);
    plat::PointI const middle{(frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2};
    plat::ViewRef const root = plat::WindowRootView(window->GetWindow());
    ASSERT_EQ(ti::MouseMove(root, {middle.x - 2, middle.y}), plat::kNoErr);
    ASSERT_EQ(ti::MouseMove(root, middle), plat::kNoErr);
    std::string shown;
    for (int i = 0; i < 300 && shown.empty(); ++i) {
        plat::ProcessPendingEvents(1000);
        usleep(10 * 1000);
        shown = plat::ShownHelpTag();
    }
    EXPECT_EQ(shown, "Disconnect");
}

TEST_F(ToolbarTest, LabelsComeFromTextsAndMenus)
{
    NEWTOOLBAR bar(window->GetWindow());
    MENU menu;
    menu.CreateEmpty();
    menu.InsertItem("Open session...", static_cast<int>(kConnect), 0);
    menu.InsertItem("Close\t", static_cast<int>(kDisconnect), 1);
    bar.AddButtonToTable(kConnect, 0, &menu, nullptr, 0);
    EXPECT_STREQ(bar.GetButton(0).Label.Buf(), "Open session");
    bar.SetDefaultMenu(&menu);
    bar.AddButtonToTable(kDisconnect, 0, nullptr, nullptr, 0);
    EXPECT_STREQ(bar.GetButton(1).Label.Buf(), "Close");
    EXPECT_TRUE(bar.AddButtonText(kConnect, STRING("A...B... \t")));
    EXPECT_STREQ(bar.GetButton(0).Label.Buf(), "AB");
    EXPECT_FALSE(bar.AddButtonText(kTrace, STRING("none")));

    // Both a menu and a text; neither.
    bar.SetDefaultMenu(nullptr);
    bar.AddButtonToTable(kTrace, 0, &menu, "text", 0);
    bar.AddButtonToTable(plat::FourCC("NOLB"), 0, nullptr, nullptr, 0);
    EXPECT_STREQ(bar.GetButton(3).Label.Buf(), "");
    bar.AddButtonText(kTrace, static_cast<MENU*>(nullptr));
    EXPECT_THAT(Reported(), ElementsAre("pmenu==NULL || text==NULL", "pmenu!=NULL || text!=NULL", "pfrommenu"));

    // The table holds 64 buttons.
    for (int i = bar.GetButtonCount(); i < NEWTOOLBAR::MAXBUTTONS; ++i)
        EXPECT_EQ(bar.AddButtonToTable(1000 + static_cast<uint32_t>(i), 0, nullptr, "b", 0), i);
    EXPECT_EQ(bar.AddButtonToTable(2000, 0, nullptr, "one too many", 0), -1);
    EXPECT_THAT(Reported(), ElementsAre("newindex<ARRAYMAX(this->Buttons)"));
    EXPECT_EQ(bar.GetButtonCount(), NEWTOOLBAR::MAXBUTTONS);
}

TEST_F(ToolbarTest, CheckedStatesAndTheUsersConfigurationAreKept)
{
    std::vector<std::string> const chosen{Id(kTrace), plat::kToolbarFlexibleSpaceIdentifier, Id(kConnect),
                                          "not.allowed"};
    {
        NEWTOOLBAR bar(window->GetWindow());
        Table(bar);
        bar.Show(1);
        bar.CheckButton(kTrace, 1); // not shown: nothing
        EXPECT_FALSE(bar.IsButtonChecked(kTrace));
        bar.CheckButton(kDisconnect, 1); // no check button: reported, done all the same
        EXPECT_TRUE(bar.IsButtonChecked(kDisconnect));
        EXPECT_THAT(Reported(), ElementsAre("button.Style & TBSTYLE_CHECK"));

        // The user's own set, saved.
        ASSERT_EQ(plat::SetToolbarIdentifiers(bar.GetToolbar(), chosen), plat::kNoErr);
        EXPECT_THAT(plat::GetToolbarIdentifiers(bar.GetToolbar()),
                    ElementsAre(Id(kTrace), plat::kToolbarFlexibleSpaceIdentifier, Id(kConnect)));
        bar.CheckButton(kTrace, 1);
        EXPECT_TRUE(bar.IsButtonChecked(kTrace));
        bar.CheckButton(kTrace, 0);
        EXPECT_FALSE(bar.IsButtonChecked(kTrace));
        // Removed by the user: Disconnect's states are nobody's.
        bar.CheckButton(kDisconnect, 1);
        EXPECT_FALSE(bar.IsButtonChecked(kDisconnect));
        EXPECT_FALSE(bar.IsButtonEnabled(kDisconnect));
        Reported();

        EXPECT_TRUE(bar.SetButtonMenu(kConnect, NTB_DROPMENU));
        EXPECT_EQ(bar.GetButton(0).Style & TBSTYLE_DROPDOWN, TBSTYLE_DROPDOWN);
        EXPECT_TRUE(bar.SetButtonMenu(kConnect, NTB_NODROP));
        EXPECT_EQ(bar.GetButton(0).Style & (TBSTYLE_DROPDOWN | TBSTYLE_DROPDOWN2), 0u);
        EXPECT_TRUE(bar.SetButtonMenu(kConnect, NTB_DROPMENU2));
        EXPECT_THAT(Reported(), ElementsAre("FALSE"));
        EXPECT_FALSE(bar.SetButtonMenu(plat::FourCC("NONE"), NTB_DROPMENU));
    }
    // A later run of the program finds the user's set.
    plat::ResetPrefsCache();
    RECWINDOW other("DLG_TEST_WINDOW", nullptr);
    NEWTOOLBAR bar(other.GetWindow());
    Table(bar);
    bar.Show(1);
    EXPECT_THAT(plat::GetToolbarIdentifiers(bar.GetToolbar()),
                ElementsAre(Id(kTrace), plat::kToolbarFlexibleSpaceIdentifier, Id(kConnect)));
}

// The tile's badge: the icon in the upper right of a 128 x 128 picture.
TEST_F(BarTest, TheTileShowsTheBadgeOfAnyIconButTheBase)
{
    {
        TASKBARICON tile(window->GetWindow(), 201, "tip");
        EXPECT_TRUE(plat::GetApplicationDockTileOverlay().IsNull());
        tile.SetIcon(202);
        plat::Image const badge = plat::GetApplicationDockTileOverlay();
        ASSERT_FALSE(badge.IsNull());
        EXPECT_EQ(badge.Width(), 128);
        // Drawn only inside (68, 4, 124, 60), transparent elsewhere.
        std::unique_ptr<plat::Bitmap> copy = plat::Bitmap::Create(128, 128);
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x)
                copy->SetPixel(x, y, badge.Pixel(x, y));
        pixeltest::Box const ink = pixeltest::InkBounds(*copy);
        ASSERT_FALSE(ink.empty);
        EXPECT_GE(ink.left, 68);
        EXPECT_GE(ink.top, 4);
        EXPECT_LE(ink.right, 124);
        EXPECT_LE(ink.bottom, 60);
        EXPECT_FALSE(plat::GetApplicationDockTileImage().IsNull());
        tile.SetIcon(201);
        EXPECT_TRUE(plat::GetApplicationDockTileOverlay().IsNull());
        tile.SetIcon(203);
    }
    // Gone with its object.
    EXPECT_TRUE(plat::GetApplicationDockTileOverlay().IsNull());
}

TEST_F(BarTest, TheTilesMenuComesFromTheWindowAndItsChoicesGoBack)
{
    TASKBARICON tile(window->GetWindow(), 0, nullptr);
    window->user = [this](int msg, MSGWORD p1, MSGWORD p2) {
        window->rec.Note("OnUserMessage", std::to_string(msg) + " " + std::to_string(p1));
        auto* menu = reinterpret_cast<MENU*>(p2);
        menu->InsertItem("New session", static_cast<int>(kConnect), 0);
        menu->InsertItem("Quit", static_cast<int>(plat::FourCC("quit")), 1);
        return true;
    };
    plat::MenuRef menu = plat::CopyDockTileMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(plat::CountMenuItems(menu), 2);
    EXPECT_THAT(window->rec.Take(), ElementsAre("OnUserMessage 1265 1"));
    // The desktop sends the choice to the application: it reaches the
    // window.
    plat::SendMenuCommand(nullptr, menu, 1);
    EXPECT_THAT(Commands(), ElementsAre("OnCommand CONN"));
    plat::ReleaseMenu(menu);

    // A command that climbs to the application from elsewhere is not the
    // tile's.
    plat::MenuRef other = plat::CreateMenu();
    plat::InsertMenuItem(other, 0, plat::Text::FromUtf8("other"), 0, kDisconnect);
    plat::SendMenuCommand(nullptr, other, 1);
    EXPECT_THAT(Commands(), IsEmpty());
    plat::ReleaseMenu(other);

    // A window that does not answer leaves the desktop's own menu.
    window->user = [](int, MSGWORD, MSGWORD) { return false; };
    EXPECT_EQ(plat::CopyDockTileMenu(), nullptr);
}

} // namespace

#include "velmot/gui/listview.h"
#include "velmot/gui/tabcontrol.h"

namespace {

// A window with everything of this area in it: a toolbar, a tab control
// whose first page holds a sorted list view with a selection, and a status
// bar with an icon. The picture goes to the test's home folder for review.
TEST_F(ToolbarTest, AWindowWithEveryPartPaintsEachInItsPlace)
{
    RECWINDOW w("DLG_TEST_SHOWCASE", nullptr);
    ASSERT_TRUE(Activate(w.GetWindow()));
    CONTROLPARENT const parent = w.GetClientParent();
    NEWTOOLBAR bar(w.GetWindow());
    Table(bar);
    bar.Show(1);
    // The toolbar took its room from the client area: the tab control and
    // the list's place are laid out again above the status bar, as the
    // program does when its window changes size.
    SIZE const room = w.GetClientSize();
    RECT const page{0, 0, room.cx - 16 - 12, room.cy - 8 - STATUSBAR::HEIGHT - 4 - 46};
    CONTROL(parent, CONTROLID{plat::FourCC("TABS"), 2}).Size(room.cx - 16, room.cy - 8 - STATUSBAR::HEIGHT - 4);
    CONTROL(parent, CONTROLID{plat::FourCC("PLAC"), 3}).Size(page.right, page.bottom);
    TABCONTROL tabs(parent, CONTROLID{plat::FourCC("TABS"), 2});
    tabs.InsertPage("Hosts", CONTROLID{plat::FourCC("HOST"), 1});
    tabs.InsertPage("Options", CONTROLID{plat::FourCC("HOST"), 2});
    tabs.PageChanged(0);
    CONTROL pane(parent, CONTROLID{plat::FourCC("HOST"), 1});
    LISTVIEW list(pane.AsParent(), CONTROLID{plat::FourCC("LIST"), 9}, 0, CONTROLID{plat::FourCC("PLAC"), 3});
    uint32_t const icons[] = {201, 202};
    list.Format(16, 16, icons, 2, 1);
    list.InsertColumn(0, "Name", 200, LVCOLUMN_LEFT);
    list.InsertColumn(1, "Address", 200, LVCOLUMN_LEFT);
    list.InsertColumn(2, "Port", 80, LVCOLUMN_RIGHT);
    char const* const rows[] = {"mainframe\t10.0.0.5\t23", "router\t192.168.1.1\t22", "archive\t10.0.0.9\t22",
                                "build host\t10.0.3.7\t2222"};
    for (int i = 0; i < 4; ++i)
        list.InsertRecord(i + 1, i % 2, rows[i]);
    list.SortRecords(0, 0, nullptr, nullptr);
    list.SelectRecord(2, 1);
    STATUSBAR status(parent, CONTROLID{});
    int const widths[] = {200, -100, 120};
    status.SetParts(3, widths);
    status.SetText(0, "Connected to router");
    status.SetIcon(201, 1);
    status.SetText(1, "SSH");
    status.SetText(2, "VT220  80x24");
    plat::ProcessPendingEvents(1000);

    std::unique_ptr<plat::Bitmap> picture = plat::GrabView(plat::WindowRootView(w.GetWindow()));
    ASSERT_TRUE(picture);
    std::string const path = std::string(std::getenv("HOME")) + "/lists_showcase.png";
    EXPECT_TRUE(picture->SavePng(path));
    // Each part inks its own place: the toolbar above the client area, the
    // list's rows inside the first page, the status bar along the bottom.
    plat::RectI const client = plat::GetViewFrame(plat::WindowContentView(w.GetWindow()));
    EXPECT_GT(client.top, 0); // the toolbar took the top
    plat::RectI const frame =
        plat::GetToolbarItemFrame(plat::CopyToolbarItems(bar.GetToolbar()).front());
    EXPECT_LT(frame.bottom, client.top + 1);
    pixeltest::Box const rows_ink = pixeltest::InkBounds(*picture, 30, client.top + 80, 400, client.top + 140);
    EXPECT_FALSE(rows_ink.empty);
    EXPECT_EQ(status.GetRect().bottom, client.Height());
    EXPECT_THAT(Commands(), IsEmpty());
}

} // namespace
