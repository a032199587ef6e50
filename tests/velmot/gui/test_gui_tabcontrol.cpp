// Tab controls: pages bound to panes, turning pages by program and user,
// labels and the pop-up that stands in when they do not fit.
#include "tests/velmot/gui/lists_fixture.h"
#include "velmot/gui/tabcontrol.h"
#include "velmot/gui/winlists.h"

#include "platform/controls/tabs.h"
#include "platform/menus/menus.h"

#include <gmock/gmock.h>

using namespace guifix;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

namespace ti = plat::testinput;

// A dialog that turns its tab control's pages as the tab data dialog does.
class TABWINDOW : public RECWINDOW {
public:
    using RECWINDOW::RECWINDOW;
    bool OnControlEvent(int code, CONTROL const& c, void* data) override
    {
        RECWINDOW::OnControlEvent(code, c, data);
        if (!tabs)
            return false;
        if (code == CONTROLEVENT_TABCHANGED && c.GetId() == tabs->GetId()) {
            tabs->PageChanged(tabs->GetCurrentPage());
            return true;
        }
        if (code == CONTROLEVENT_SELECTED && c.GetId().signature == plat::FourCC("VLMT")) {
            tabs->TurnToPage(POPUPBOX(c.GetControlRef()).GetSelectedItem(0));
            return true;
        }
        return false;
    }
    TABCONTROL* tabs = nullptr;
};

class TabTest : public ToolkitTest {
protected:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        dialog = std::make_unique<TABWINDOW>("DLG_TEST_LISTS", nullptr);
        ASSERT_TRUE(Activate(dialog->GetWindow()));
        parent = dialog->GetClientParent();
        tabs = std::make_unique<TABCONTROL>(parent, Cid("TABS", 1));
        ASSERT_TRUE(tabs->IsValid());
        dialog->tabs = tabs.get();
        // The layout gave three labelled tabs; the pages are put in anew.
        tabs->SetControlMaximum(0);
        plat::ProcessPendingEvents(1000);
        dialog->rec.Take();
    }
    void TearDown() override
    {
        dialog->tabs = nullptr;
        tabs.reset();
        dialog.reset();
        ToolkitTest::TearDown();
    }
    std::vector<std::string> Reports()
    {
        plat::ProcessPendingEvents(1000);
        std::vector<std::string> out;
        for (std::string& line : dialog->rec.Take())
            if (line.rfind("OnControlEvent", 0) == 0)
                out.push_back(std::move(line));
        return out;
    }
    plat::ViewRef Pane(int n) { return CONTROL(parent, Cid("PAGE", n)).GetControlRef(); }
    void ThreePages()
    {
        EXPECT_EQ(tabs->InsertPage("General", Cid("PAGE", 1)), 0);
        EXPECT_EQ(tabs->InsertPage("Terminal", Cid("PAGE", 2)), 1);
        EXPECT_EQ(tabs->InsertPage("Keys", Cid("PAGE", 3)), 2);
    }
    std::vector<bool> Visible()
    {
        return {plat::IsViewVisible(Pane(1)), plat::IsViewVisible(Pane(2)), plat::IsViewVisible(Pane(3))};
    }
    std::vector<std::string> BuddyItems()
    {
        POPUPBOX buddy(tabs->GetBuddy());
        std::vector<std::string> out;
        for (int i = 0; i < buddy.GetItemCount(); ++i)
            out.push_back(buddy.GetItemText(i).Buf());
        return out;
    }

    std::unique_ptr<TABWINDOW> dialog;
    std::unique_ptr<TABCONTROL> tabs;
    CONTROLPARENT parent;
};

TEST_F(TabTest, PagesShowTheirPaneInsideTheContentArea)
{
    ThreePages();
    EXPECT_EQ(tabs->GetPageCount(), 3);
    EXPECT_EQ(tabs->GetControlMaximum(), 3);
    EXPECT_EQ(tabs->GetCurrentPage(), 0);
    EXPECT_EQ(tabs->WindowFromPageid(1), Pane(2));
    EXPECT_EQ(tabs->WindowFromPageid(7), nullptr);
    EXPECT_STREQ(STRING(plat::GetTabLabel(tabs->GetControlRef(), 2)).Buf(), "Terminal");
    EXPECT_THAT(BuddyItems(), ElementsAre("General", "Terminal", "Keys"));
    // The first page is turned to at once: the owner put its pane in place.
    EXPECT_THAT(Reports(), ::testing::Contains("OnControlEvent 0x602 tabs 0"));
    EXPECT_THAT(Visible(), ElementsAre(true, false, false));
    EXPECT_EQ(plat::GetViewFrame(Pane(1)), (plat::RectI{26, 284, 534, 408})); // tab (20, 244, 540, 414)

    tabs->TurnToPage(2);
    EXPECT_THAT(Reports(), ElementsAre("OnControlEvent 0x602 tabs 0"));
    EXPECT_EQ(tabs->GetCurrentPage(), 2);
    EXPECT_THAT(Visible(), ElementsAre(false, false, true));
    EXPECT_EQ(plat::GetViewFrame(Pane(3)), (plat::RectI{26, 284, 534, 408}));
    EXPECT_EQ(plat::GetKeyboardFocus(dialog->GetWindow()), CONTROL(parent, Cid("KEYS", 1)).GetControlRef());
    EXPECT_EQ(POPUPBOX(tabs->GetBuddy()).GetSelectedItem(0), 2);
    // Turning to the current page does nothing.
    tabs->TurnToPage(2);
    EXPECT_THAT(Reports(), IsEmpty());

    // The user clicks the second tab.
    plat::RectI const tab = plat::GetTabRect(tabs->GetControlRef(), 2);
    ASSERT_GT(tab.Width(), 0);
    ASSERT_EQ(ti::Click(tabs->GetControlRef(), {(tab.left + tab.right) / 2, (tab.top + tab.bottom) / 2}),
              plat::kNoErr);
    EXPECT_THAT(Reports(), ElementsAre("OnControlEvent 0x602 tabs 0"));
    EXPECT_EQ(tabs->GetCurrentPage(), 1);
    EXPECT_THAT(Visible(), ElementsAre(false, true, false));
    EXPECT_EQ(plat::GetKeyboardFocus(dialog->GetWindow()), CONTROL(parent, Cid("ECHO", 1)).GetControlRef());
}

TEST_F(TabTest, OnlyTheLastPageCanBeDeleted)
{
    ThreePages();
    tabs->DeletePage(1);
    EXPECT_THAT(Reported(), ElementsAre("syspageid==howmany-1"));
    EXPECT_EQ(tabs->GetPageCount(), 3);
    tabs->DeletePage(2);
    EXPECT_EQ(tabs->GetPageCount(), 2);
    EXPECT_EQ(tabs->GetControlMaximum(), 2);
    EXPECT_EQ(tabs->WindowFromPageid(2), nullptr);
    EXPECT_THAT(BuddyItems(), ElementsAre("General", "Terminal"));
}

TEST_F(TabTest, TabsGiveWayToThePopupWhenTheLabelsDoNotFit)
{
    ThreePages();
    plat::ViewRef const buddy = tabs->GetBuddy();
    EXPECT_EQ(CONTROL(buddy).GetId(), (CONTROLID{plat::FourCC("VLMT"), 1}));
    EXPECT_TRUE(tabs->IsVisible());
    EXPECT_FALSE(plat::IsViewVisible(buddy));

    // Narrower than the labels: the pop-up, over the same place, 7 lower.
    tabs->Size(120, 170);
    EXPECT_FALSE(tabs->IsVisible());
    EXPECT_TRUE(plat::IsViewVisible(buddy));
    EXPECT_EQ(plat::GetViewFrame(buddy), (plat::RectI{20, 251, 140, 414}));
    // Pages are still shown, in front of the pop-up's frame.
    tabs->PageChanged(0);
    EXPECT_TRUE(plat::IsViewVisible(Pane(1)));

    // The user picks the third label from the pop-up.
    Reports();
    PopupAnswers answers(3);
    ASSERT_EQ(ti::Click(buddy, {60, 8}), plat::kNoErr);
    EXPECT_THAT(answers.shown, ElementsAre(ElementsAre("General", "Terminal", "Keys")));
    EXPECT_EQ(tabs->GetCurrentPage(), 2);
    EXPECT_THAT(Visible(), ElementsAre(false, false, true));

    // Wide again: the tabs.
    tabs->Size(520, 170);
    EXPECT_TRUE(tabs->IsVisible());
    EXPECT_FALSE(plat::IsViewVisible(buddy));
    tabs->SelectLabelType(0);
    EXPECT_FALSE(tabs->IsVisible());
    tabs->SelectLabelType(1);
    EXPECT_TRUE(tabs->IsVisible());
}

TEST_F(TabTest, RenamingToTheSameTextLeavesThePopupsItemAlone)
{
    ThreePages();
    POPUPBOX buddy(tabs->GetBuddy());
    plat::MenuRef const menu = buddy.GetMenuRef();
    plat::SetMenuItemMark(menu, 2, plat::kMenuCheckMark);
    EXPECT_TRUE(tabs->SetPageLabel(1, "Terminal"));
    EXPECT_EQ(plat::GetMenuItemMark(menu, 2), plat::kMenuCheckMark);
    EXPECT_TRUE(tabs->SetPageLabelWide(1, L"Emulation"));
    EXPECT_EQ(plat::GetMenuItemMark(menu, 2), 0u);
    EXPECT_THAT(BuddyItems(), ElementsAre("General", "Emulation", "Keys"));
    EXPECT_STREQ(STRING(plat::GetTabLabel(tabs->GetControlRef(), 2)).Buf(), "Emulation");
}

TEST_F(TabTest, PagesFromLayoutsAreMovedOverAndNumbered)
{
    ThreePages();
    int const page = tabs->InsertPage("Port", "DLG_TEST_TABPAGE", nullptr);
    EXPECT_EQ(page, 3);
    plat::ViewRef const pane = tabs->WindowFromPageid(3);
    ASSERT_TRUE(plat::IsViewValid(pane));
    EXPECT_EQ(plat::GetViewWindow(pane), dialog->GetWindow());
    EXPECT_EQ(plat::GetViewId(pane).signature, plat::FourCC("UTAB"));
    tabs->TurnToPage(3);
    plat::ProcessPendingEvents(1000);
    EXPECT_TRUE(plat::IsViewVisible(pane));
    EXPECT_EQ(plat::GetViewFrame(pane), (plat::RectI{26, 284, 534, 408}));
    EXPECT_TRUE(CONTROL(CONTROLPARENT{pane}, Cid("PORT", 1)).IsValid());
    // The next one gets the next number.
    int const next = tabs->InsertPage("Again", "DLG_TEST_TABPAGE", nullptr);
    EXPECT_EQ(plat::GetViewId(tabs->WindowFromPageid(next)).id, plat::GetViewId(pane).id + 1);

    EXPECT_EQ(tabs->InsertPage("None", "DLG_TEST_NOPANE", nullptr), -1);
    EXPECT_EQ(tabs->InsertPage("Missing", Cid("GONE", 1)), -1); // nibcheck: absent
    EXPECT_THAT(Reported(), ElementsAre("upan!=NULL && kind.kind=='upan'", "c.IsValid()"));
    EXPECT_EQ(tabs->GetPageCount(), 5);
}

} // namespace
