// Pop-up buttons and combo boxes through the list interface, driven by
// the program and by the test input.
#include "tests/velmot/gui/lists_fixture.h"
#include "velmot/gui/winicons.h"
#include "velmot/gui/winlists.h"

#include "platform/controls/popups.h"
#include "platform/menus/menus.h"

#include <gmock/gmock.h>

using namespace guifix;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

namespace ti = plat::testinput;

std::vector<std::string> Items(BASELIST& list)
{
    std::vector<std::string> out;
    for (int i = 0; i < list.GetItemCount(); ++i)
        out.push_back(list.GetItemText(i).Buf());
    return out;
}

TEST_F(ListsTest, PopupPlaceholdersOfTheLayoutAreEmptiedRealItemsStay)
{
    POPUPBOX placeholder(parent, Cid("POPB", 1));
    EXPECT_THAT(Items(placeholder), IsEmpty());
    EXPECT_EQ(placeholder.GetSelectedItem(0), -1);
    EXPECT_STREQ(placeholder.GetSelectedItemText(0).Buf(), "");
    EXPECT_EQ(placeholder.GetSelectedItemText(0).CodePage, UNICODE_CPDEFAULT);
    EXPECT_EQ(placeholder.GetControlMinimum(), -1);

    // Three real items of which the first reads "Item 1" are a list like
    // any other.
    POPUPBOX real(parent, Cid("POPB", 3));
    EXPECT_THAT(Items(real), ElementsAre("Item 1", "Item 2", "Item 3"));
    EXPECT_EQ(real.GetSelectedItem(0), 0);
    // ... unless asked to clear.
    real.InitPopupBox(1);
    EXPECT_THAT(Items(real), IsEmpty());
    EXPECT_EQ(real.GetSelectedItem(0), -1);

    // A later object over the emptied placeholder finds what was put in.
    placeholder.AddItem("kept");
    POPUPBOX again(parent, Cid("POPB", 1));
    EXPECT_THAT(Items(again), ElementsAre("kept"));
    EXPECT_THAT(Delivered(), IsEmpty());
}

TEST_F(ListsTest, PopupInsertAddAndDeleteCountFromZero)
{
    POPUPBOX p(parent, Cid("POPB", 2));
    ASSERT_THAT(Items(p), ElementsAre("one", "two", "three"));
    EXPECT_EQ(p.InsertItem("new", 1), 1);
    EXPECT_THAT(Items(p), ElementsAre("one", "new", "two", "three"));
    EXPECT_EQ(p.GetControlMaximum(), 4);
    EXPECT_EQ(p.AddItem("added"), 4);
    EXPECT_EQ(p.DeleteItem(0), 4);
    EXPECT_THAT(Items(p), ElementsAre("new", "two", "three", "added"));
    EXPECT_EQ(p.GetControlMaximum(), 5); // deleting leaves the maximum
    EXPECT_EQ(p.InsertItem("far", 9), -1); // no such place
    EXPECT_STREQ(p.GetItemText(9).Buf(), "");

    // Wide and narrow texts; narrow is code page 1252.
    EXPECT_EQ(p.AddItemWide(L"\x4F60\x597D \U0001F600"), 4);
    EXPECT_STREQ(p.GetItemText(4).Buf(), "?? ?");
    EXPECT_EQ(WSTRING::WSTRCMP(p.GetItemTextWide(4).Buf(), L"\x4F60\x597D \U0001F600"), 0);
    EXPECT_TRUE(p.SetItemText(0, "caf\xE9 \x80"));
    EXPECT_EQ(WSTRING::WSTRCMP(p.GetItemTextWide(0).Buf(), L"caf\xE9 \x20AC"), 0);
    EXPECT_FALSE(p.SetItemTextWide(12, L"none"));

    EXPECT_EQ(p.FindString("TWO"), 1);
    EXPECT_EQ(p.FindString("four"), -1);
    p.DeleteAllItems();
    EXPECT_EQ(p.GetItemCount(), 0);
}

TEST_F(ListsTest, PopupIconItemsShowABlankAndTheIcon)
{
    POPUPBOX p(parent, Cid("POPB", 1));
    EXPECT_EQ(p.AddItem("##ICON=201##"), 0);
    EXPECT_EQ(p.AddItem("##ICON=0##"), 1);
    EXPECT_EQ(p.AddItemWide(L"##ICON=201##"), 2); // the wide form has no icon form
    EXPECT_THAT(Items(p), ElementsAre(" ", " ", "##ICON=201##"));
    plat::IconRef icon = plat::GetMenuItemIcon(p.GetMenuRef(), 1);
    ASSERT_NE(icon, nullptr);
    plat::IconRef expected = ICONMAP::CopyRefFromIconId(201);
    EXPECT_EQ(plat::IconImage(icon).Width(), plat::IconImage(expected).Width());
    plat::ReleaseIconRef(expected);
    EXPECT_EQ(plat::GetMenuItemIcon(p.GetMenuRef(), 2), nullptr);
    EXPECT_EQ(plat::GetMenuItemIcon(p.GetMenuRef(), 3), nullptr);
}

TEST_F(ListsTest, PopupChoicesByProgramAndUserReachTheWindow)
{
    POPUPBOX p(parent, Cid("POPB", 2));
    p.SelectItem(2, 1);
    EXPECT_EQ(p.GetSelectedItem(0), 2);
    EXPECT_EQ(p.GetSelectedItem(1), -1);
    EXPECT_TRUE(p.IsItemSelected(2));
    EXPECT_STREQ(p.GetSelectedItemText(0).Buf(), "three");
    EXPECT_THAT(Delivered(), ElementsAre("OnControlEvent 0x301 popb 0"));

    // The user opens the pop-up and picks the first item.
    PopupAnswers answers(1);
    ASSERT_EQ(ti::Click(p.GetControlRef(), {20, 10}), plat::kNoErr);
    EXPECT_THAT(answers.shown, ElementsAre(ElementsAre("one", "two", "three")));
    EXPECT_EQ(p.GetSelectedItem(0), 0);
    EXPECT_THAT(Reports(), ElementsAre("OnControlEvent 0x301 popb 0"));

    // Nothing chosen: nothing changes, nothing is reported.
    PopupAnswers none(0);
    ti::Click(p.GetControlRef(), {20, 10});
    EXPECT_EQ(p.GetSelectedItem(0), 0);
    EXPECT_THAT(Reports(), IsEmpty());

    p.SelectItem(1, 0);
    EXPECT_THAT(Reported(), ElementsAre("onoff==TRUE"));
    Delivered();
}

TEST_F(ListsTest, InsertItemsTakesArraysAndTokensSkippingEmptyOnes)
{
    POPUPBOX p(parent, Cid("POPB", 1));
    STRINGARRAY const items(STRING("x,y"), ",");
    EXPECT_EQ(p.InsertItems("a;b;;c", ";", -1), 3);
    EXPECT_THAT(Items(p), ElementsAre("a", "b", "c"));
    EXPECT_EQ(p.InsertItems(items, 1), 2);
    EXPECT_THAT(Items(p), ElementsAre("a", "x", "y", "b", "c"));
    EXPECT_EQ(p.InsertItems(";;", ";", -1), 0);
    EXPECT_EQ(p.InsertItems(nullptr, ";", -1), 0);
}

TEST_F(ListsTest, ComboSelectionIsTheItemMatchingTheEditText)
{
    COMBOBOX c(parent, Cid("CMBO", 1));
    EXPECT_THAT(Items(c), ElementsAre("alpha", "beta", "gamma"));
    EXPECT_STREQ(c.GetText().Buf(), "beta");
    EXPECT_EQ(c.GetSelectedItem(0), 1);
    EXPECT_STREQ(c.GetItemText(-1).Buf(), "beta");

    c.SetControlText("Gamma");
    EXPECT_EQ(c.GetSelectedItem(0), 2); // without regard to case
    c.SetControlText("delta");
    EXPECT_EQ(c.GetSelectedItem(0), -1);
    EXPECT_STREQ(c.GetItemText(-1).Buf(), "");

    EXPECT_EQ(c.InsertItem("first", 0), 0);
    EXPECT_EQ(c.InsertItem("last", 99), 4); // beyond the end: appended
    EXPECT_EQ(c.InsertItemWide(L"\x4F60", -3), 5);
    EXPECT_THAT(Items(c), ElementsAre("first", "alpha", "beta", "gamma", "last", "?"));
    EXPECT_STREQ(c.GetText().Buf(), "delta"); // inserting leaves the field alone

    c.SelectItem(2, 1);
    EXPECT_STREQ(c.GetText().Buf(), "beta");
    EXPECT_THAT(Delivered(), ElementsAre("OnControlEvent 0x301 cbbx 0"));
    // Renaming the selected item keeps it selected.
    EXPECT_EQ(c.SetItemText(2, "bravo"), 1);
    EXPECT_THAT(Items(c), ElementsAre("first", "alpha", "bravo", "gamma", "last", "?"));
    EXPECT_STREQ(c.GetText().Buf(), "bravo");
    EXPECT_EQ(c.DeleteItem(0), 5);
    EXPECT_EQ(c.DeleteItem(7), -1);
    Delivered();

    c.GetSelectedItem(1);
    EXPECT_THAT(Reported(), ElementsAre("idx==0"));
}

TEST_F(ListsTest, ComboListChoiceByTheUserReachesTheWindow)
{
    COMBOBOX c(parent, Cid("CMBO", 1));
    c.SetFocus();
    ASSERT_EQ(ti::PressKey(dialog->GetWindow(), plat::kVkDown), plat::kNoErr);
    EXPECT_STREQ(c.GetText().Buf(), "gamma");
    EXPECT_EQ(c.GetSelectedItem(0), 2);
    EXPECT_THAT(Reports(), ElementsAre("OnControlEvent 0x301 cbbx 0"));

    COMBOBOX empty(parent, Cid("CMBO", 2));
    EXPECT_EQ(empty.AddItem("only"), 0);
    EXPECT_EQ(empty.GetItemCount(), 1);
    EXPECT_STREQ(empty.GetText().Buf(), ""); // the first item does not fill the field
}

} // namespace
