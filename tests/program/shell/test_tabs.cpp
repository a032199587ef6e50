// The tab bar alone, in a window of its own that records the bar's
// notifications.
#include "tests/program/shell/appfixture.h"

#include "program/shell/tabs.h"

#include "velmot/core/osys.h"
#include "velmot/gui/winkeys.h"

#include "platform/events/queue.h"

using namespace apptest;

namespace {

class OWNER : public WINDOW {
public:
    OWNER() : WINDOW(WINDOWSTYLE_DOCUMENT, "tabs", 50, 50, 700, 120) {}
    bool OnUserMessage(int msg, MSGWORD p1, MSGWORD p2) override
    {
        if (msg == 1028)
            Notes.push_back({static_cast<int>(p1), p2});
        return true;
    }
    struct NOTE {
        int Code;
        MSGWORD Param;
    };
    std::vector<NOTE> Notes;
};

long long gNow = 100000;

class TabsTest : public AppTest {
protected:
    void SetUp() override
    {
        TABS::Now = [] { return gNow; };
        Owner = std::make_unique<OWNER>();
        Tabs = std::make_unique<TABS>(*Owner, 700, 1028);
        Tabs->SetForegroundOverride(1);
        int delta = 0;
        Tabs->ShowTabs(true, &delta);
        Owner->Show(true);
    }
    void TearDown() override
    {
        Tabs.reset();
        Owner.reset();
        TABS::Now = [] { return OSYS::RelTime(); };
        AppTest::TearDown();
    }
    // Paints the bar, which lays the tabs out.
    void Paint()
    {
        Tabs->Invalidate(nullptr);
        Pump();
        Tabs->FlushRedraw();
        ASSERT_TRUE(Tabs->IsVisible());
        ASSERT_GT(Tabs->CONTROL::GetSize().cy, 10);
        ASSERT_GT(Tabs->Info(0).Tab.right, 0) << "painted";
    }
    void Mouse(int message, int x, int y) { Tabs->OnMouseEvent(message, x, y, 0); }
    // The middle of tab i's title.
    POINT Middle(int i)
    {
        RECT const r = Tabs->Info(i).Tab;
        return POINT{r.left + 12, (r.top + r.bottom) / 2};
    }
    void Pump() { AppTest::Pump([] { return plat::ProcessPendingEvents(64) == 0; }, 1000); }

    std::unique_ptr<OWNER> Owner;
    std::unique_ptr<TABS> Tabs;
};

} // namespace

TEST_F(TabsTest, TableAndColours)
{
    std::vector<int> codes;
    int dummy[10] = {};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(Tabs->AddButton(("tab " + std::to_string(i)).c_str(), &dummy[i], -1, false), i);
        codes.push_back(Tabs->GetButtonColorCode(i));
        EXPECT_FALSE(Tabs->Info(i).Flags & TABS_TABINFO::EXPLICITCOLOUR);
    }
    EXPECT_EQ(codes, (std::vector<int>{3, 5, 1, 6, 4, 2, 0, 7, 3}));
    EXPECT_EQ(Tabs->AddButton("chosen", &dummy[9], 10, false), 9);
    EXPECT_TRUE(Tabs->Info(9).Flags & TABS_TABINFO::EXPLICITCOLOUR);
    EXPECT_EQ(Tabs->GetButtonColorcodeRGB(99, true, nullptr), 0xFFFFFFFFu);
    EXPECT_NE(Tabs->GetButtonColorcodeRGB(0, true, nullptr), Tabs->GetButtonColorcodeRGB(0, false, nullptr));

    EXPECT_EQ(Tabs->FindButton(L"TAB 4"), 4) << "names are found without regard to case";
    EXPECT_EQ(Tabs->FindButton(static_cast<void*>(&dummy[7])), 7);
    Tabs->Activate(5);
    Owner->Notes.clear();
    EXPECT_EQ(Tabs->DeleteButton(2), 9);
    EXPECT_EQ(Tabs->ActiveIndex(), 4) << "the same tab stays active one index lower";
    EXPECT_EQ(Tabs->GetUserdata(9), nullptr) << "no pointer of a deleted tab behind the end";
    EXPECT_EQ(Tabs->GetUserdata(500), reinterpret_cast<void*>(~uintptr_t{0}));
    EXPECT_TRUE(Owner->Notes.empty());

    Tabs->DragButton(0, 3);
    EXPECT_EQ(Tabs->GetUserdata(3), &dummy[0]);
    EXPECT_EQ(Tabs->GetUserdata(0), &dummy[1]);
    EXPECT_EQ(Tabs->ActiveIndex(), 4);
    EXPECT_EQ(Tabs->RenameButtonWide(4, L"renamed"), 4);
    EXPECT_STREQ(STRING(Tabs->GetNameWide(4).Buf(), 1252).Buf(), "renamed");
    EXPECT_EQ(Tabs->SetButtonColorCode(44, 1), 0);
    EXPECT_FALSE(TakeAssertions().empty()) << "a bad index is reported";
}

TEST_F(TabsTest, StatesTrafficAndKeys)
{
    int a = 0, b = 0;
    Tabs->AddButton("one", &a, -1, true);
    Tabs->AddButton("two", &b, -1, false);
    Tabs->SetButtonOnline(1, 1);
    Tabs->SetButtonOnline(1, 0);
    EXPECT_EQ(Tabs->Info(1).Flags & (TABS_TABINFO::ONLINE | TABS_TABINFO::WASONLINE), TABS_TABINFO::WASONLINE);
    Tabs->SetButtonTraffic(1, 1, 5);
    EXPECT_EQ(Tabs->Info(1).TrafficCount, 6);
    Tabs->SetButtonTraffic(1, 1, -1);
    EXPECT_EQ(Tabs->Info(1).TrafficCount, 6) << "-1 on a running count changes nothing";
    Tabs->SetButtonTraffic(1, 1, 3);
    EXPECT_EQ(Tabs->Info(1).TrafficCount, 9);
    EXPECT_TRUE(Tabs->Info(1).Flags & TABS_TABINFO::TRAFFICLIT);
    EXPECT_TRUE(AppTest::Pump([&] { return !(Tabs->Info(1).Flags & TABS_TABINFO::TRAFFICLIT); }, 2000))
        << "the lamp of traffic goes out after its timer";
    Tabs->SetButtonBlinking(1, 1);
    EXPECT_TRUE(Tabs->Info(1).Flags & TABS_TABINFO::HIGHLIGHT);
    Tabs->Activate(1);
    EXPECT_EQ(Tabs->Info(1).TrafficCount, 0) << "activating clears the traffic";
    EXPECT_FALSE(Tabs->Info(1).Flags & TABS_TABINFO::HIGHLIGHT);

    KEYBOARDEVENT key;
    key.Modifiers = KEYMOD_COMMAND;
    key.Scancode = 2; // the digit 1
    EXPECT_EQ(Tabs->ProcessKey(key), 1);
    EXPECT_EQ(Tabs->ActiveIndex(), 0);
    key.Scancode = 10; // 9: no ninth tab
    EXPECT_EQ(Tabs->ProcessKey(key), 1) << "consumed, nothing happens";
    EXPECT_EQ(Tabs->ActiveIndex(), 0);
    key.Modifiers = KEYMOD_COMMAND | KEYMOD_SHIFT;
    key.Scancode = 3;
    EXPECT_EQ(Tabs->ProcessKey(key), 0);
    int delta = 0;
    EXPECT_EQ(Tabs->ShowTabs(true, &delta), 0);
    EXPECT_EQ(Tabs->ShowTabs(false, &delta), 1);
    EXPECT_LT(delta, 0);
    EXPECT_EQ(Tabs->QuerySizeY(), 0);
}

TEST_F(TabsTest, MouseClicksDoubleClicksAndDrags)
{
    int a = 0, b = 0, c = 0;
    Tabs->AddButton("first", &a, -1, true);
    Tabs->AddButton("second", &b, -1, false);
    Tabs->AddButton("third", &c, -1, false);
    Paint();
    Owner->Notes.clear();

    POINT const p = Middle(1);
    Mouse(WM_LBUTTONDOWN, p.x, p.y);
    Mouse(WM_MOUSEMOVE, p.x + 3, p.y + 2);
    Mouse(WM_LBUTTONUP, p.x + 3, p.y + 2);
    EXPECT_EQ(Tabs->ActiveIndex(), 1);
    ASSERT_EQ(Owner->Notes.size(), 1u) << "a move of less than 4 pixels is a click";
    EXPECT_EQ(Owner->Notes[0].Code, TABS::NOTIFY_ACTIVATED);
    EXPECT_EQ(Owner->Notes[0].Param, 1u);
    EXPECT_EQ(Tabs->GetUserdata(1), &b);

    // Releases 500 ms apart are two clicks, 499 ms apart a double click
    // (outside the tabs: a new tab).
    Paint();
    RECT const last = Tabs->Info(2).Tab;
    int const x = last.right + 60, y = (last.top + last.bottom) / 2;
    Owner->Notes.clear();
    Mouse(WM_LBUTTONDOWN, x, y);
    Mouse(WM_LBUTTONUP, x, y);
    gNow += 500;
    Mouse(WM_LBUTTONDOWN, x, y);
    Mouse(WM_LBUTTONUP, x, y);
    Pump();
    EXPECT_TRUE(Owner->Notes.empty());
    gNow += 499;
    Mouse(WM_LBUTTONDOWN, x, y);
    Mouse(WM_LBUTTONUP, x, y);
    Pump();
    ASSERT_EQ(Owner->Notes.size(), 1u);
    EXPECT_EQ(Owner->Notes[0].Code, TABS::NOTIFY_DOUBLECLICK);

    // A drag of the first tab onto the third.
    Paint();
    Owner->Notes.clear();
    POINT const from = Middle(0);
    POINT const to = Middle(2);
    Mouse(WM_LBUTTONDOWN, from.x, from.y);
    Mouse(WM_MOUSEMOVE, from.x + 10, from.y);
    Mouse(WM_MOUSEMOVE, to.x, from.y);
    Mouse(WM_LBUTTONUP, to.x, from.y);
    bool dragged = false;
    for (auto const& n : Owner->Notes) {
        if (n.Code == TABS::NOTIFY_DRAGGED) {
            dragged = true;
            EXPECT_EQ(n.Param & 0xFFFF, 0u);
            EXPECT_EQ(n.Param >> 16, 2u);
        }
    }
    EXPECT_TRUE(dragged);

    Owner->Notes.clear();
    Mouse(WM_RBUTTONDOWN, 5, 6);
    Pump();
    ASSERT_EQ(Owner->Notes.size(), 1u);
    EXPECT_EQ(Owner->Notes[0].Code, TABS::NOTIFY_RIGHTCLICK);
    EXPECT_EQ(Owner->Notes[0].Param, 5u | (6u << 16));
}

TEST_F(TabsTest, CloseIconOnlyWithMoreThanOneTab)
{
    int a = 0, b = 0;
    Tabs->AddButton("only", &a, -1, true);
    Tabs->SetCloseIconMode(1);
    Paint();
    EXPECT_EQ(Tabs->Info(0).Close.right, 0) << "one tab: no close icon";
    Tabs->AddButton("two", &b, -1, false);
    Paint();
    RECT const close = Tabs->Info(1).Close;
    ASSERT_GT(close.right, close.left);
    Owner->Notes.clear();
    Mouse(WM_MOUSEMOVE, close.left + 4, close.top + 4);
    Mouse(WM_LBUTTONDOWN, close.left + 4, close.top + 4);
    ASSERT_FALSE(Owner->Notes.empty());
    EXPECT_EQ(Owner->Notes.back().Code, TABS::NOTIFY_CLOSEICON);
    EXPECT_EQ(Owner->Notes.back().Param, 1u);
    EXPECT_EQ(Tabs->ActiveIndex(), 0) << "the close icon does not activate";
}
