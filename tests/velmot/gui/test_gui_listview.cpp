// List views, list boxes, check lists and tree views: records by handle,
// columns, sorting, selection and what reaches the owner, driven by the
// program and by the test input.
#include "tests/velmot/gui/lists_fixture.h"
#include "velmot/core/registry.h"
#include "velmot/gui/listbox.h"
#include "velmot/gui/listview.h"
#include "velmot/gui/treeview.h"

#include "platform/controls/databrowser.h"
#include "platform/draw/theme.h"

#include <gmock/gmock.h>

#include <climits>
#include <cstring>

using namespace guifix;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

namespace ti = plat::testinput;

// Handles in the order the rows show.
std::vector<int> Shown(LISTVIEW& lv)
{
    std::vector<int> out;
    for (int row = 0;; ++row) {
        plat::DataBrowserItemId item = 0;
        if (plat::GetDataBrowserItemAtRow(lv.GetControlRef(), row, &item) != plat::kNoErr)
            return out;
        out.push_back(static_cast<int>(item));
    }
}

// The point in the middle of a shown row, in the list's coordinates.
plat::PointI RowPoint(LISTVIEW& lv, int handle, int x = 30)
{
    int const row = plat::GetDataBrowserItemRow(lv.GetControlRef(), static_cast<plat::DataBrowserItemId>(handle));
    int const height = plat::GetDataBrowserRowHeight(lv.GetControlRef());
    int const header = plat::IsDataBrowserHeaderVisible(lv.GetControlRef()) ? height + 4 : 0;
    return plat::PointI{x, header + row * height + height / 2 + 1};
}

std::vector<std::string> Items(BASELIST& list)
{
    std::vector<std::string> out;
    for (int i = 0; i < list.GetItemCount(); ++i)
        out.push_back(list.GetItemText(i).Buf());
    return out;
}

class ListViewTest : public ListsTest {
protected:
    void SetUp() override
    {
        ListsTest::SetUp();
        lv = std::make_unique<LISTVIEW>(parent, Cid("LIST", 1), 0, Cid("PLAC", 1));
        ASSERT_TRUE(lv->IsValid());
        ASSERT_TRUE(lv->InsertColumn(0, "Name", 100, LVCOLUMN_LEFT));
        ASSERT_TRUE(lv->InsertColumn(1, "Host", 80, LVCOLUMN_LEFT));
        ASSERT_TRUE(lv->InsertColumn(2, "Port", 50, LVCOLUMN_RIGHT));
    }
    void TearDown() override
    {
        lv.reset();
        ListsTest::TearDown();
    }
    void Fill()
    {
        lv->InsertRecord(10, 0, "beta\tb.example\t22");
        lv->InsertRecord(20, 0, "alpha\ta.example\t23");
        lv->InsertRecord(30, 0, "gamma\tc.example\t21");
    }

    std::unique_ptr<LISTVIEW> lv;
};

TEST_F(ListViewTest, RecordsSplitTheirTextIntoColumnsByHandle)
{
    // The list sits one pixel inside its template, which stays as frame.
    EXPECT_EQ(lv->GetRect(), (RECT{21, 85, 269, 233}));
    Fill();
    EXPECT_TRUE(lv->InsertRecordWide(40, 0, L"\x4F60\x597D \U0001F600\t\tignored"));
    EXPECT_EQ(lv->GetNumRecords(), 4);
    EXPECT_STREQ(lv->GetRecordText(20, 1).Buf(), "a.example");
    EXPECT_STREQ(lv->GetRecordText(30, 2).Buf(), "21");
    // An empty part ends the split.
    EXPECT_EQ(WSTRING::WSTRCMP(lv->GetRecordTextWide(40, 0).Buf(), L"\x4F60\x597D \U0001F600"), 0);
    EXPECT_STREQ(lv->GetRecordText(40, 2).Buf(), "");
    EXPECT_EQ(lv->GetRecordHandleFromIndex(1), 20);
    EXPECT_EQ(lv->GetRecordHandleFromIndex(4), 0);
    EXPECT_EQ(lv->GetRecordIndexFromHandle(30, 1), 2);
    // Rows show in insertion order until sorted.
    EXPECT_THAT(Shown(*lv), ElementsAre(10, 20, 30, 40));

    EXPECT_TRUE(lv->UpdateRecord(20, 1, "renamed"));
    EXPECT_STREQ(lv->GetRecordText(20, 1).Buf(), "renamed");
    EXPECT_TRUE(lv->UpdateRecord(40, 3, "far"));
    EXPECT_STREQ(lv->GetRecordText(40, 3).Buf(), "far");

    EXPECT_TRUE(lv->DeleteRecord(20));
    EXPECT_FALSE(lv->DeleteRecord(20));
    EXPECT_EQ(lv->GetRecordIndexFromHandle(30, 1), 1); // the ones behind move up
    EXPECT_THAT(Shown(*lv), ElementsAre(10, 30, 40));

    // Refused: a zero handle, a handle already in the list.
    EXPECT_FALSE(lv->InsertRecord(0, 0, "zero"));
    EXPECT_FALSE(lv->InsertRecord(10, 0, "again"));
    EXPECT_EQ(lv->GetRecordIndexFromHandle(99, 1), -1);
    EXPECT_THAT(Reported(), ElementsAre("handle", "!err", "idx!=-1 || !mustfind"));
    EXPECT_EQ(lv->GetNumRecords(), 3);

    lv->DeleteAllRecords();
    EXPECT_EQ(lv->GetNumRecords(), 0);
    EXPECT_THAT(Shown(*lv), IsEmpty());
    Delivered();
}

TEST_F(ListViewTest, SortingByColumnCallbackAndTheUsersHeaderClick)
{
    Fill();
    lv->SortRecords(0, 0, nullptr, nullptr);
    EXPECT_THAT(Shown(*lv), ElementsAre(20, 10, 30));
    lv->SortRecords(1, 2, nullptr, nullptr);
    EXPECT_THAT(Shown(*lv), ElementsAre(20, 10, 30)); // ports 23, 22, 21
    int column = -1;
    int descending = -1;
    EXPECT_EQ(lv->GetSortStyle(&column, &descending), 1);
    EXPECT_EQ(column, 2);
    // A record added to a sorted list takes its place.
    lv->InsertRecord(50, 0, "delta\td.example\t24");
    EXPECT_THAT(Shown(*lv), ElementsAre(50, 20, 10, 30));

    // Callbacks answer for ascending order; descending turns them round,
    // even when they answer with the extremes of an int.
    struct Case {
        int descending;
        int (*callback)(int, int, void*);
        std::vector<int> expected;
    } const cases[] = {
        {0, [](int a, int b, void*) { return a < b ? INT_MIN : a > b ? INT_MAX : 0; }, {10, 20, 30, 50}},
        {1, [](int a, int b, void*) { return a < b ? INT_MIN : a > b ? INT_MAX : 0; }, {50, 30, 20, 10}},
        {1, [](int a, int b, void*) { return a < b ? -1 : a > b ? 1 : 0; }, {50, 30, 20, 10}},
    };
    for (Case const& c : cases) {
        lv->SortRecords(!c.descending, 1, nullptr, nullptr); // so that the next one sorts
        lv->SortRecords(c.descending, 0, c.callback, nullptr);
        EXPECT_THAT(Shown(*lv), ::testing::ElementsAreArray(c.expected));
    }
    // The callback was for that sort only.
    LISTVIEW::SORTCALLBACK callback = nullptr;
    lv->GetSortCallback(&callback, nullptr);
    EXPECT_EQ(callback, nullptr);

    // The user clicks the header of the first column, then again.
    lv->SortRecords(0, 1, nullptr, nullptr);
    ASSERT_EQ(ti::Click(lv->GetControlRef(), {20, 8}), plat::kNoErr);
    EXPECT_EQ(lv->GetSortStyle(&column, nullptr), 0);
    EXPECT_EQ(column, 0);
    EXPECT_THAT(Shown(*lv), ElementsAre(20, 10, 50, 30));
    ti::Click(lv->GetControlRef(), {20, 8});
    EXPECT_EQ(lv->GetSortStyle(&column, nullptr), 1);
    EXPECT_THAT(Shown(*lv), ElementsAre(30, 50, 10, 20));
    Delivered();
}

TEST_F(ListViewTest, SelectionByProgramAndUserReachesTheOwner)
{
    Fill();
    EXPECT_TRUE(lv->SelectRecord(20, 1));
    EXPECT_TRUE(lv->SelectRecord(30, 1)); // adds: several may be selected
    EXPECT_EQ(lv->CountSelectedRecords(), 2);
    EXPECT_EQ(lv->GetSelectedRecord(0), 30); // counted from the last
    EXPECT_EQ(lv->GetSelectedRecord(1), 20);
    EXPECT_EQ(lv->GetSelectedRecord(2), -1);
    EXPECT_THAT(Delivered(), ElementsAre("OnControlEvent 0x501 datb 0", "OnControlEvent 0x501 datb 0"));
    lv->SelectRecord(20, 0);
    EXPECT_FALSE(lv->IsRecordSelected(20));
    lv->SelectAllRecords();
    EXPECT_EQ(lv->CountSelectedRecords(), 3);
    lv->DeselectAllRecords();
    EXPECT_EQ(lv->CountSelectedRecords(), 0);
    lv->SelectRecord(10, LISTVIEW::FOCUSONLY);
    EXPECT_THAT(Reported(), ElementsAre("stateflags!=LISTVIEW::FOCUSONLY"));
    EXPECT_TRUE(lv->IsRecordSelected(10));
    Delivered();

    // Only one: a selection replaces the last.
    lv->SetAllowMultiSelect(0);
    lv->SelectRecord(30, 1);
    EXPECT_EQ(lv->CountSelectedRecords(), 1);
    Delivered();

    // The user clicks a row, double-clicks another.
    ASSERT_EQ(ti::Click(lv->GetControlRef(), RowPoint(*lv, 20)), plat::kNoErr);
    EXPECT_EQ(lv->GetSelectedRecord(0), 20);
    EXPECT_THAT(Reports(), ElementsAre("OnControlEvent 0x501 datb 0"));
    ASSERT_EQ(ti::DoubleClick(lv->GetControlRef(), RowPoint(*lv, 10)), plat::kNoErr);
    EXPECT_THAT(Reports(), ElementsAre("OnControlEvent 0x501 datb 0", "OnControlEvent 0xf02 datb 10"));
}

TEST_F(ListViewTest, AContextualClickSelectsTheRowUnderItUnlessItHitTheSelection)
{
    Fill();
    lv->SelectRecord(10, 1);
    lv->SelectRecord(20, 1);
    Delivered();
    // On a selected row the selection stays.
    ASSERT_EQ(ti::Click(lv->GetControlRef(), RowPoint(*lv, 20), ti::Button::Right), plat::kNoErr);
    EXPECT_EQ(lv->CountSelectedRecords(), 2);
    EXPECT_THAT(Reports(), ElementsAre("OnControlEvent 0xf01 datb 20"));
    // Beside it, the row under the mouse becomes the selection first.
    ti::Click(lv->GetControlRef(), RowPoint(*lv, 30), ti::Button::Right);
    EXPECT_EQ(lv->CountSelectedRecords(), 1);
    EXPECT_TRUE(lv->IsRecordSelected(30));
    EXPECT_THAT(Reports(), ElementsAre("OnControlEvent 0x501 datb 0", "OnControlEvent 0xf01 datb 30"));
}

TEST_F(ListViewTest, ColumnWidthsAreStoredAndRestoredWhole)
{
    lv->SetColumnWidth(0, 100);
    lv->SetColumnWidth(1, 50);
    lv->SetColumnWidth(2, 75);
    ASSERT_TRUE(lv->StoreColumnWidths("ListsTest", "Widths"));
    STRING stored;
    REGISTRY("ListsTest", "Software\\Tarvo\\", REGISTRY::CURRENT_USER).Read("Widths", &stored);
    EXPECT_STREQ(stored.Buf(), "100|50|75");

    REGISTRY("ListsTest", "Software\\Tarvo\\", REGISTRY::CURRENT_USER).Write("Widths", "120|60");
    ASSERT_TRUE(lv->RestoreColumnWidths("ListsTest", "Widths"));
    EXPECT_EQ(lv->GetColumnWidth(0), 120);
    EXPECT_EQ(lv->GetColumnWidth(1), 60);
    EXPECT_EQ(lv->GetColumnWidth(2), 75); // no token: left alone
    EXPECT_FALSE(lv->RestoreColumnWidths("ListsTest", "Missing"));

    // A list of many columns is longer than 63 characters: the last ones
    // are not cut off.
    for (int c = 3; c < 20; ++c)
        lv->InsertColumn(c, "", 10, LVCOLUMN_LEFT);
    STRING many;
    for (int c = 0; c < 20; ++c)
        many.FormatAppend(c ? "|%d" : "%d", 100 + c);
    ASSERT_GT(many.StrLen, 63);
    REGISTRY("ListsTest", "Software\\Tarvo\\", REGISTRY::CURRENT_USER).Write("Widths", many.Buf());
    lv->RestoreColumnWidths("ListsTest", "Widths");
    EXPECT_EQ(lv->GetColumnWidth(19), 119);
    // Widths stay between the column's minimum and maximum.
    lv->SetColumnWidth(1, 2000);
    EXPECT_EQ(lv->GetColumnWidth(1), 800);
    EXPECT_EQ(lv->GetColumnWidth(42), 65535);
    asserts.Take();
}

TEST_F(ListViewTest, AutoWidthTakesTheWidestTextWithRoomForTheIcon)
{
    Fill();
    int const name = lv->QueryTextWidthWide(L"gamma", static_cast<unsigned short>(plat::kThemeViewSystemFont));
    int const host = lv->QueryTextWidthWide(L"b.example", static_cast<unsigned short>(plat::kThemeViewSystemFont));
    ASSERT_GT(name, 0);
    EXPECT_EQ(lv->QueryTextWidthWide(L"", 0), 0);
    EXPECT_EQ(lv->QueryTextWidthWide(nullptr, 0), 0);
    lv->AutoWidth(-1, 0);
    EXPECT_EQ(lv->GetColumnWidth(0), std::max(name, lv->QueryTextWidthWide(L"alpha", 65532)) + 48);
    EXPECT_EQ(lv->GetColumnWidth(1), host + 24);
    // With the title, a longer title wins; a changed text is measured anew.
    lv->SetColumnText(2, "Port number");
    lv->AutoWidth(2, 1);
    EXPECT_EQ(lv->GetColumnWidth(2), lv->QueryTextWidthWide(L"Port number", 65532) + 24);
    lv->UpdateRecord(20, 1, "a.much.longer.example");
    lv->AutoWidth(1, 0);
    EXPECT_EQ(lv->GetColumnWidth(1), lv->QueryTextWidthWide(L"a.much.longer.example", 65532) + 24);
    EXPECT_STREQ(lv->GetColumnText(2).Buf(), "Port number");
    lv->GetColumnText(7);
    EXPECT_THAT(Reported(), ElementsAre("this->LabelNames.CheckKey(colkey)"));
}

// Answers the list's help requests with the text of the record.
class HELPWINDOW : public RECWINDOW {
public:
    using RECWINDOW::RECWINDOW;
    bool OnControlEvent(int code, CONTROL const& c, void* data) override
    {
        if (code != CONTROLNOTIFY_HELPREQUEST)
            return RECWINDOW::OnControlEvent(code, c, data);
        auto* request = static_cast<LISTVIEWHELPREQUEST*>(data);
        asked.push_back(request->Item);
        if (request->Item == 2)
            return false; // no tag for this one
        if (request->Item == 1)
            request->Text = "long text \xE9";
        else
            std::snprintf(request->Buffer, sizeof request->Buffer, "record %u", request->Item);
        return true;
    }
    std::vector<uint32_t> asked;
};

TEST_F(ListsTest, HelpTagsAskTheOwnerSynchronously)
{
    HELPWINDOW window("DLG_TEST_LISTS", nullptr);
    ASSERT_TRUE(Activate(window.GetWindow()));
    LISTVIEW lv(window.GetClientParent(), Cid("LIST", 1), 0, Cid("PLAC", 1));
    lv.InsertColumn(0, "Name", 100, LVCOLUMN_LEFT);
    lv.SetShowColumnHeaders(0);
    for (int h = 1; h <= 3; ++h)
        lv.InsertRecord(h, -1, "row");
    plat::ViewRef const view = lv.GetControlRef();
    EXPECT_STREQ(STRING(plat::DataBrowserHelpTextAt(view, RowPoint(lv, 1))).Buf(), "long text \xE9");
    EXPECT_TRUE(plat::DataBrowserHelpTextAt(view, RowPoint(lv, 2)).IsNull());
    EXPECT_STREQ(STRING(plat::DataBrowserHelpTextAt(view, RowPoint(lv, 3))).Buf(), "record 3");
    EXPECT_TRUE(plat::DataBrowserHelpTextAt(view, {30, 140}).IsNull()); // below the rows: nobody asked
    EXPECT_THAT(window.asked, ElementsAre(1u, 2u, 3u));
}

TEST_F(ListsTest, ListBoxesKeepTheirIndexesDenseAndTheRowsInThatOrder)
{
    LISTBOX box(parent, Cid("LBOX", 1), 0, Cid("PLAC", 1));
    ASSERT_TRUE(box.IsValid());
    LISTVIEW* lv = box.GetListviewPtr();
    ASSERT_NE(lv, nullptr);
    EXPECT_EQ(box.AddItem("a"), 0);
    EXPECT_EQ(box.AddItem("b"), 1);
    EXPECT_EQ(box.AddItem("c"), 2);
    int const first = lv->GetRecordHandleFromIndex(0);
    EXPECT_GE(first, 32768);
    EXPECT_EQ(box.InsertItem("x", 1), 3);
    EXPECT_THAT(Items(box), ElementsAre("a", "x", "b", "c"));
    std::vector<std::string> shown;
    for (int handle : Shown(*lv))
        shown.push_back(lv->GetRecordText(handle, 0).Buf());
    EXPECT_THAT(shown, ElementsAre("a", "x", "b", "c"));
    EXPECT_EQ(box.DeleteItem(0), 3);
    EXPECT_THAT(Items(box), ElementsAre("x", "b", "c"));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(lv->GetRecordListboxIndex(box.FindRecordHandleFromListboxIndex(i)), i);

    EXPECT_EQ(box.InsertItem("far", 10), 3); // beyond the end: appended
    EXPECT_EQ(box.AddItemWide(L"tab\there"), 4);
    EXPECT_STREQ(box.GetItemText(4).Buf(), "tab - here");
    EXPECT_EQ(box.GetSelectedItem(0), -1);

    box.SelectItem(2, 1);
    EXPECT_EQ(box.GetSelectedItem(0), 2);
    EXPECT_STREQ(box.GetSelectedItemText(0).Buf(), "c");
    EXPECT_THAT(Delivered(), ElementsAre("OnControlEvent 0x301 datb 0"));
    box.SelectItem(9, 1); // no such item: nothing
    EXPECT_EQ(box.GetSelectedItem(0), 2);
    EXPECT_EQ(box.FindString("FAR"), 3);
    EXPECT_TRUE(box.SetItemText(1, "bee"));
    EXPECT_STREQ(box.GetItemText(1).Buf(), "bee");

    // Another list box takes the next handles of the same counter; one
    // bound to the view later finds the items through the list view made
    // with it.
    LISTBOX other(parent, Cid("LBOX", 2), LISTBOXSTYLE_MULTISELECT, Cid("PLAC", 2));
    other.AddItem("one");
    EXPECT_GT(other.GetListviewPtr()->GetRecordHandleFromIndex(0), lv->GetRecordHandleFromIndex(4));
    LISTBOX bound(parent, Cid("LBOX", 1));
    EXPECT_THAT(Items(bound), ElementsAre("x", "bee", "c", "far", "tab - here"));
    bound.DeleteAllItems();
    EXPECT_EQ(box.GetItemCount(), 0);

    // Several selected items in a multiple-choice box.
    other.AddItem("two");
    other.SelectItem(0, 1);
    other.SelectItem(1, 1);
    EXPECT_EQ(other.GetListviewPtr()->CountSelectedRecords(), 2);
    Delivered();

    // A user's double click reaches the owner as the list box's.
    box.AddItem("again");
    ASSERT_EQ(ti::DoubleClick(box.GetControlRef(), RowPoint(*lv, lv->GetRecordHandleFromIndex(0))), plat::kNoErr);
    std::vector<std::string> reports = Reports();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().rfind("OnControlEvent 0x302 datb", 0), 0u);

    // A list view that is no list box's is not bound as one.
    LISTVIEW plain(parent, Cid("LIST", 3), 0, Cid("PLAC", 2));
    LISTBOX wrong(parent, Cid("LIST", 3));
    EXPECT_THAT(Reported(), ElementsAre("this->GetControlProperty(DARWINDOW_PROPERTYSIG_LISTBOX)==(void*)TRUE"));
    EXPECT_EQ(wrong.GetItemCount(), 0);
}

TEST_F(ListsTest, CheckListsTickByProgramAndByTheUsersClick)
{
    CHECKLIST list(parent, Cid("CHKL", 1), Cid("PLAC", 2));
    ASSERT_TRUE(list.IsValid());
    EXPECT_TRUE(list.AddEntry(1, "Telnet", 0));
    EXPECT_TRUE(list.AddEntry(2, "SSH", 1));
    EXPECT_EQ(list.GetState(1), 0);
    EXPECT_EQ(list.GetState(2), 1);
    EXPECT_STREQ(list.GetRecordText(2, 1).Buf(), "SSH");
    EXPECT_EQ(list.SetState(1, 5), 0);
    EXPECT_EQ(list.GetState(1), 1);
    EXPECT_TRUE(list.CheckIfEntryExists(2));
    EXPECT_FALSE(list.CheckIfEntryExists(3));

    // A click on the box of the second entry unticks it.
    ASSERT_EQ(ti::Click(list.GetControlRef(), RowPoint(list, 2, 12)), plat::kNoErr);
    EXPECT_EQ(list.GetState(2), 0);
    EXPECT_EQ(list.GetState(1), 1);
    Delivered();
}

TEST_F(ListsTest, TreesShowChildrenWhenTheParentOpens)
{
    TREEVIEW tree(parent, Cid("TREE", 1), 0, Cid("PLAC", 1));
    ASSERT_TRUE(tree.IsValid());
    EXPECT_TRUE(tree.InsertRecord(1, -1, "Hosts"));
    EXPECT_TRUE(tree.InsertRecord(2, -1, "Scripts"));
    for (int h = 11; h <= 13; ++h)
        tree.InsertChildRecord(h, 1, -1, ("host " + std::to_string(h)).c_str());
    plat::ViewRef const view = tree.GetControlRef();
    EXPECT_THAT(Shown(tree), ElementsAre(1, 2));
    EXPECT_TRUE(plat::HasDataBrowserDisclosureTriangles(view));
    ASSERT_EQ(plat::OpenDataBrowserContainer(view, 1), plat::kNoErr);
    EXPECT_THAT(Shown(tree), ElementsAre(1, 11, 12, 13, 2));
    // A child added to an open parent shows at once.
    tree.InsertChildRecord(14, 1, -1, "host 14");
    EXPECT_THAT(Shown(tree), ElementsAre(1, 11, 12, 13, 14, 2));
    ASSERT_EQ(plat::CloseDataBrowserContainer(view, 1), plat::kNoErr);
    EXPECT_THAT(Shown(tree), ElementsAre(1, 2));
    EXPECT_EQ(tree.GetNumRecords(), 6); // closing hides, the records stay

    // The user opens it with the keyboard and picks a child.
    tree.SelectRecord(1);
    EXPECT_EQ(tree.GetSelectedRecord(), 1);
    tree.SetFocus();
    ASSERT_EQ(ti::PressKey(dialog->GetWindow(), plat::kVkRight), plat::kNoErr);
    EXPECT_THAT(Shown(tree), ElementsAre(1, 11, 12, 13, 14, 2));
    ASSERT_EQ(ti::Click(view, RowPoint(tree, 12)), plat::kNoErr);
    EXPECT_EQ(tree.GetSelectedRecord(), 12);
    EXPECT_THAT(Reports(), ::testing::Contains("OnControlEvent 0x501 datb 0"));

    EXPECT_TRUE(tree.InsertRecord(3, 4, "with an image"));
    tree.UpdateRecordImage(3, 1);
    EXPECT_THAT(Reported(), ElementsAre("idximg==-1", "FALSE"));
}

TEST_F(ListViewTest, TenThousandRecordsAreFoundAndSortedByHandle)
{
    for (int h = 1; h <= 10000; ++h) {
        char text[64];
        std::snprintf(text, sizeof text, "host %05d\t10.0.%d.%d\t%d", (h * 7919) % 10000, h / 256, h % 256, h);
        ASSERT_TRUE(lv->InsertRecord(h, 0, text));
    }
    EXPECT_EQ(lv->GetRecordIndexFromHandle(10000, 1), 9999);
    lv->SortRecords(0, 0, nullptr, nullptr);
    std::vector<int> const shown = Shown(*lv);
    ASSERT_EQ(shown.size(), 10000u);
    for (size_t i = 1; i < shown.size(); ++i)
        ASSERT_LT(std::strcmp(lv->GetRecordText(shown[i - 1], 0).Buf(), lv->GetRecordText(shown[i], 0).Buf()), 0);
    lv->DeleteRecord(5000);
    EXPECT_EQ(lv->GetRecordIndexFromHandle(10000, 1), 9998);
    EXPECT_EQ(lv->GetRecordHandleFromIndex(4999), 5001);
}

} // namespace
