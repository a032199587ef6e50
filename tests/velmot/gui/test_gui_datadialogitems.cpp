// Data dialog items: each kind moves its value into its control and back,
// for strings and for variables of every size, with line ends and buffer
// limits, and reports a missing control.
#include "tests/velmot/gui/datadialog_fixture.h"
#include "velmot/gui/listbox.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>

using namespace guifix;
using ::testing::ElementsAre;

namespace {

class ItemTest : public DataDialogTest {
protected:
    void SetUp() override
    {
        DataDialogTest::SetUp();
        dialog = std::make_unique<DATADIALOGBOX>("DLG_DD_ITEMS", NoOwner(), nullptr);
        ASSERT_TRUE(dialog->IsValid());
        parent = dialog->GetControlParent();
    }
    void TearDown() override
    {
        dialog.reset();
        DataDialogTest::TearDown();
    }
    // Adds the item, fills it in, and hands it back for the test to store.
    template <typename ITEM>
    ITEM* Fill(ITEM* item)
    {
        dialog->AddItem(item);
        item->DataToDialog(parent);
        return item;
    }
    std::unique_ptr<DATADIALOGBOX> dialog;
    CONTROLPARENT parent;
};

TEST_F(ItemTest, TextFieldsShowLoneCarriageReturnsAndStoreThePairs)
{
    struct Case {
        CONTROLID field;
        char const* value;
        char const* shown; // null: whatever the field makes of it
        char const* typed; // then typed over
        char const* stored;
    } const cases[] = {
        {Cid("TEXT", 1), "one\r\ntwo", "one\rtwo", "a\rb", "a\r\nb"},
        {Cid("TEXT", 1), "plain", "plain", "x\r\ny", "x\r\ny"},
        // A multi-line field hands its lines back with line feeds.
        {Cid("TEXT", 3), "first\r\nsecond", nullptr, nullptr, "first\r\nsecond"},
        {Cid("TEXT", 3), "", "", "l1\nl2\n", "l1\r\nl2\r\n"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.value);
        STRING value(c.value);
        auto* item = Fill(new ENTRYDATADIALOGITEM(c.field, value, 40));
        if (c.shown) {
            EXPECT_EQ(Text(parent, c.field), c.shown);
        }
        if (c.typed)
            CONTROL(parent, c.field).SetControlText(c.typed);
        item->DialogToData(parent);
        EXPECT_STREQ(value.Buf(), c.stored);
    }
    // The field keeps the item's limit and has its text selected.
    CONTROL const field(parent, Cid("TEXT", 1));
    EXPECT_EQ(static_cast<intptr_t>(field.GetControlProperty(CPROP_TEXTLENGTH)), 40);
}

TEST_F(ItemTest, WideTextKeepsEveryCharacter)
{
    WSTRING value(L"\u20AC \u0416 \u03A9 \U0001F600");
    auto* item = Fill(new ENTRYDATADIALOGITEM(Cid("TEXT", 2), value, 0));
    EXPECT_EQ(WSTRING::WSTRCMP(CONTROL(parent, Cid("TEXT", 2)).GetTextWide().Buf(), value.Buf()), 0);
    CONTROL(parent, Cid("TEXT", 2)).SetControlTextWide(L"\u05D0\r\u05D1");
    item->DialogToData(parent);
    EXPECT_EQ(WSTRING::WSTRCMP(value.Buf(), L"\u05D0\r\n\u05D1"), 0);
}

TEST_F(ItemTest, BuffersKeepTheirSizeAndTerminator)
{
    char narrow[4] = {'x', 'y', 'z', 'w'}; // no terminator: read up to its size
    auto* n = Fill(new ENTRYDATADIALOGITEM(Cid("TEXT", 4), narrow, sizeof narrow));
    EXPECT_EQ(Text(parent, Cid("TEXT", 4)), "xyzw");
    CONTROL(parent, Cid("TEXT", 4)).SetControlText("abcdef");
    n->DialogToData(parent);
    EXPECT_EQ(std::memcmp(narrow, "abc", 4), 0);
    EXPECT_STREQ(n->InternalValue.Buf(), "abcdef");
    // The field takes what the buffer keeps.
    EXPECT_EQ(static_cast<intptr_t>(CONTROL(parent, Cid("TEXT", 4)).GetControlProperty(CPROP_TEXTLENGTH)), 3);

    wchar_t wide[5] = L"ab";
    auto* w = Fill(new ENTRYDATADIALOGITEM(Cid("TEXT", 2), wide, 5));
    CONTROL(parent, Cid("TEXT", 2)).SetControlTextWide(L"\u0416\u0416\u0416\u0416\u0416\u0416");
    w->DialogToData(parent);
    EXPECT_EQ(std::wmemcmp(wide, L"\u0416\u0416\u0416\u0416", 5), 0);
}

TEST_F(ItemTest, CheckBoxesReadAndWriteTheirBitOnly)
{
    CONTROLID const box = Cid("CHEK", 1);
    struct Case {
        char const* value;
        int bit;
        int shown;
        int set;
        char const* stored;
    } const cases[] = {
        {"4096", 12, 1, 0, "0"},
        {"4097", 12, 1, 0, "1"},
        {"1", 12, 0, 1, "4097"},
        {"-2147483648", 31, 1, 0, "0"},
        {"0", 31, 0, 1, "2147483648"},
        {"0", -1, 0, 1, "1"},
        {"2", -1, 2, 2, "2"}, // the mixed state of a three-state box
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(std::string(c.value) + " bit " + std::to_string(c.bit));
        STRING value(c.value);
        auto* item = Fill(new CHECKDATADIALOGITEM(box, value, c.bit));
        EXPECT_EQ(Value(parent, box), c.shown);
        plat::SetViewValue(CONTROL(parent, box).GetControlRef(), c.set);
        item->DialogToData(parent);
        EXPECT_STREQ(value.Buf(), c.stored);
    }
}

TEST_F(ItemTest, CheckBoxesWriteVariablesOfEachSize)
{
    CONTROLID const box = Cid("CHEK", 2);
    signed char byte = 0;
    auto* b = Fill(new CHECKDATADIALOGITEM(box, &byte));
    EXPECT_EQ(Value(parent, box), 0);
    plat::SetViewValue(CONTROL(parent, box).GetControlRef(), 1);
    b->DialogToData(parent);
    EXPECT_EQ(byte, 1);
    EXPECT_STREQ(b->InternalValue.Buf(), "1");

    int flags = 0x1000 | 0x4;
    auto* i = Fill(new CHECKDATADIALOGITEM(box, &flags, 2));
    EXPECT_EQ(Value(parent, box), 1);
    plat::SetViewValue(CONTROL(parent, box).GetControlRef(), 0);
    i->DialogToData(parent);
    EXPECT_EQ(flags, 0x1000);

    // An unsigned long is 8 bytes: the flags in the low 32 bits, the high
    // ones cleared.
    unsigned long wide = 0xABCD000000000001ul;
    auto* l = Fill(new CHECKDATADIALOGITEM(box, &wide, 3));
    EXPECT_EQ(l->pDataLength, 8);
    EXPECT_EQ(Value(parent, box), 0);
    plat::SetViewValue(CONTROL(parent, box).GetControlRef(), 1);
    l->DialogToData(parent);
    EXPECT_EQ(wide, 9ul);
}

TEST_F(ItemTest, RadioButtonsOfOneValueFormAGroup)
{
    STRING value("1");
    int number = 2;
    std::vector<DATADIALOGITEM*> items;
    for (int k = 0; k < 3; ++k) {
        items.push_back(Fill(new RADIODATADIALOGITEM(Cid("RADI", k + 1), value, k)));
        dialog->AddItem(new RADIODATADIALOGITEM(Cid("RADI", k + 1), &number, k));
    }
    EXPECT_EQ(Value(parent, Cid("RADI", 1)), 0);
    EXPECT_EQ(Value(parent, Cid("RADI", 2)), 1);
    EXPECT_EQ(Value(parent, Cid("RADI", 3)), 0);
    Set(parent, Cid("RADI", 3), 1); // the others go off as a click does
    EXPECT_EQ(Value(parent, Cid("RADI", 2)), 0);
    dialog->DialogToValues();
    EXPECT_STREQ(value.Buf(), "2");
    EXPECT_EQ(number, 2);

    // No button on: the value stays.
    for (int k = 1; k <= 3; ++k)
        plat::SetViewValue(CONTROL(parent, Cid("RADI", k)).GetControlRef(), 0);
    value = "7";
    number = 7;
    dialog->DialogToValues();
    EXPECT_STREQ(value.Buf(), "7");
    EXPECT_EQ(number, 7);
}

TEST_F(ItemTest, SpinFieldsStayInTheirRangeWithArrowsBesideThem)
{
    CONTROLID const field = Cid("SPNF", 1);
    int port = 150;
    auto* item = Fill(new SPINDATADIALOGITEM(field, &port, 1, 100));
    CONTROL const arrows(parent, SPINDATADIALOGITEM::GetIdSpin(field));
    ASSERT_TRUE(arrows.IsValid());
    EXPECT_EQ(arrows.GetKind(), CONTROLKIND_LITTLEARROWS);
    EXPECT_EQ(Text(parent, field), "100");
    EXPECT_NE(CONTROL(parent, field).GetControlProperty(CPROP_NUMBERSONLY), 0u);
    Type(parent, field, "42");
    item->DialogToData(parent);
    EXPECT_EQ(port, 42);
    Type(parent, field, "0");
    item->DialogToData(parent);
    EXPECT_EQ(port, 1);
    // Filled again: the same arrows, and the field still takes digits only.
    item->DataToDialog(parent);
    EXPECT_EQ(CONTROL(parent, SPINDATADIALOGITEM::GetIdSpin(field)).GetControlRef(), arrows.GetControlRef());
    auto sounds = std::make_shared<SoundCounter>();
    plat::SetAudioSink(sounds);
    ASSERT_TRUE(Activate(dialog->GetWindow()));
    CONTROL(parent, field).SetFocus();
    CONTROL(parent, field).SetControlText("");
    plat::testinput::TypeText(dialog->GetWindow(), "x5");
    EXPECT_EQ(Text(parent, field), "5");
    EXPECT_EQ(sounds->alerts, 1);
    plat::SetAudioSink(nullptr);

    // A negative minimum lets a sign be typed.
    STRING offset("-3");
    Fill(new SPINDATADIALOGITEM(Cid("SPNF", 2), offset, -5, 5));
    EXPECT_EQ(CONTROL(parent, Cid("SPNF", 2)).GetControlProperty(CPROP_NUMBERSONLY), 0u);
    EXPECT_EQ(Text(parent, Cid("SPNF", 2)), "-3");
}

TEST_F(ItemTest, ASpinFieldWhoseArrowIdIsTakenWorksWithoutArrows)
{
    // The arrows of SPNF 1 carry the id that a field numbered 1 of another
    // signature would give its own.
    STRING a("5");
    STRING b("30");
    Fill(new SPINDATADIALOGITEM(Cid("SPNF", 1), a, 0, 10));
    auto* second = Fill(new SPINDATADIALOGITEM(Cid("TEXT", 1), b, 0, 20));
    EXPECT_THAT(Reported(), ElementsAre("!CONTROL(parent, idspin).IsValid()"));
    EXPECT_EQ(second->pSpin, nullptr);
    EXPECT_EQ(Text(parent, Cid("TEXT", 1)), "20");
    Type(parent, Cid("TEXT", 1), "7");
    second->DialogToData(parent);
    EXPECT_STREQ(b.Buf(), "7");
}

TEST_F(ItemTest, ListsSelectByIndexByTextAndByWideText)
{
    // Index, choices as one text; the list box made in the placard's place.
    int index = 1;
    auto* byIndex = Fill(new LISTDATADIALOGITEM(Cid("LIST", 3), &index, "alpha|beta|gamma"));
    ASSERT_NE(byIndex->pList, nullptr);
    EXPECT_EQ(CONTROL(parent, Cid("LIST", 3)).GetKind(), CONTROLKIND_DATABROWSER);
    EXPECT_EQ(byIndex->pList->GetItemCount(), 3);
    EXPECT_EQ(byIndex->pList->GetSelectedItem(0), 1);
    byIndex->pList->SelectItem(2, 1);
    byIndex->DialogToData(parent);
    EXPECT_EQ(index, 2);
    // An index the list does not have selects nothing: -1 comes back.
    index = 5;
    byIndex->InternalValue = "5";
    byIndex->DataToDialog(parent);
    EXPECT_EQ(byIndex->pList->GetItemCount(), 3); // filled anew, not added to
    byIndex->DialogToData(parent);
    EXPECT_EQ(index, -1);

    // Text, ignoring case: the item's own text is stored.
    STRINGARRAY emulations;
    for (char const* e : {"vt100", "VT220", "ansi"})
        emulations.AppendItem(STRING(e));
    STRING emulation("vt220");
    auto* byText = Fill(new LISTSTRINGDATADIALOGITEM(Cid("LIST", 1), emulation, emulations));
    EXPECT_EQ(byText->pList->GetSelectedItem(0), 1);
    byText->DialogToData(parent);
    EXPECT_STREQ(emulation.Buf(), "VT220");

    // A buffer keeps size - 1 bytes of the choice.
    char buffer[4] = "";
    char const* const choices[] = {"telnet", "ssh", nullptr};
    auto* inBuffer = Fill(new LISTSTRINGDATADIALOGITEM(Cid("LIST", 2), buffer, sizeof buffer, choices));
    inBuffer->pList->SelectItem(0, 1);
    inBuffer->DialogToData(parent);
    EXPECT_STREQ(buffer, "tel");

    // Wide text matches exactly: another letter case selects nothing (in
    // a list box: a pop-up always shows one of its items).
    WSTRINGARRAY names;
    names.AppendItem(WSTRING(L"K\u00F6ln"));
    names.AppendItem(WSTRING(L"k\u00F6ln"));
    for (auto const& [value, selected] : {std::pair{L"k\u00F6ln", 1}, std::pair{L"K\u00D6LN", -1}}) {
        WSTRING city(value);
        auto* wide = Fill(new LISTWSTRINGDATADIALOGITEM(Cid("LIST", 3), city, names));
        EXPECT_EQ(wide->pList->GetSelectedItem(0), selected);
        wide->DialogToData(parent);
        EXPECT_EQ(WSTRING::WSTRCMP(city.Buf(), selected == -1 ? L"" : L"k\u00F6ln"), 0);
    }
}

TEST_F(ItemTest, ListsWithoutChoicesUseTheControlsOwnItems)
{
    DATADIALOGBOX rules("DLG_DD_RULES", NoOwner(), nullptr);
    CONTROLPARENT const p = rules.GetControlParent();
    STRING index("2");
    auto* item = new LISTDATADIALOGITEM(Cid("POPR", 1), index);
    rules.AddItem(item);
    STRING text("TWO");
    auto* byText = new LISTSTRINGDATADIALOGITEM(Cid("POPR", 1), text);
    rules.AddItem(byText);
    item->DataToDialog(p);
    EXPECT_EQ(item->pList->GetItemCount(), 3);
    EXPECT_EQ(item->pList->GetSelectedItem(0), 2);
    byText->DataToDialog(p);
    EXPECT_EQ(byText->pList->GetSelectedItem(0), 1);
    rules.DialogToValues();
    EXPECT_STREQ(index.Buf(), "1");
    EXPECT_STREQ(text.Buf(), "two");
}

TEST_F(ItemTest, HashListsChooseRecordsByTheirValueField)
{
    HASHLIST hosts;
    for (auto const& [name, id] : {std::pair{"alpha", "a1"}, std::pair{"beta", "b2"}, std::pair{"gamma", "g3"}}) {
        HASH record;
        record["Name"] = name;
        record["Id"] = id;
        hosts.AppendItem(record);
    }
    STRING chosen("G3|a1");
    auto* item = Fill(new LISTSTRINGHASHDATADIALOGITEM(Cid("LIST", 4), chosen, hosts, "Name", "Id"));
    ASSERT_NE(item->pList, nullptr);
    std::vector<int> selected;
    for (int k = 0, i; (i = item->pList->GetSelectedItem(k)) != -1; ++k)
        selected.push_back(i);
    std::sort(selected.begin(), selected.end());
    EXPECT_THAT(selected, ElementsAre(0, 2));
    item->DialogToData(parent);
    EXPECT_STREQ(chosen.Buf(), "a1|g3"); // in the order of the list

    // Filled again: the records are not added twice.
    item->DataToDialog(parent);
    EXPECT_EQ(item->pList->GetItemCount(), 3);
    item->DialogToData(parent);
    EXPECT_STREQ(chosen.Buf(), "a1|g3");

    // Without a value key the display texts are the value.
    STRING names("beta");
    auto* byName = Fill(new LISTSTRINGHASHDATADIALOGITEM(Cid("LIST", 4), names, hosts, "Name", nullptr));
    byName->DialogToData(parent);
    EXPECT_STREQ(names.Buf(), "beta");

    // No records: the list stays as it is (beta chosen), and a value key
    // cannot be looked up: the texts are stored.
    STRING none("x");
    auto* empty = Fill(new LISTSTRINGHASHDATADIALOGITEM(Cid("LIST", 4), none, nullptr, "Name", "Id"));
    EXPECT_EQ(empty->pList->GetItemCount(), 3);
    empty->pList->SelectItem(0, 1);
    empty->DialogToData(parent);
    EXPECT_THAT(Reported(), ElementsAre("this->pInitHash"));
    EXPECT_STREQ(none.Buf(), "alpha|beta");
}

TEST_F(ItemTest, PushItemsChangeTheValueOnlyWhenStored)
{
    struct CALL {
        void* context = nullptr;
        CONTROLID linked;
        CONTROLPARENT parent;
    };
    static CALL call;
    auto function = [](void* context, CONTROLID linked, CONTROLPARENT p, STRING* value) {
        call = CALL{context, linked, p};
        value->Append("+pushed");
    };
    int context = 0;
    STRING value("start");
    auto* item = Fill(new PUSHDATADIALOGITEM(Cid("PUSH", 1), value, function, &context, Cid("TEXT", 1)));
    EXPECT_EQ(dialog->HandlePushbutton(Cid("PUSH", 1)), 1);
    EXPECT_EQ(call.context, &context);
    EXPECT_EQ(call.linked, Cid("TEXT", 1));
    EXPECT_EQ(call.parent.view, parent.view);
    EXPECT_STREQ(value.Buf(), "start");
    item->DialogToData(parent);
    EXPECT_STREQ(value.Buf(), "start+pushed");
    EXPECT_EQ(dialog->HandlePushbutton(Cid("OKAY", 0)), 0);

    item->Magic = 0;
    item->PushEvent();
    EXPECT_THAT(Reported(), ElementsAre("this->Magic==0x50555348"));
}

TEST_F(ItemTest, MissingControlsAreReportedAndLeftAlone)
{
    STRING value("v");
    int number = 3;
    CONTROLID const missing = Cid("NONE", 9); // nibcheck: absent
    DATADIALOGITEM* const items[] = {
        new ENTRYDATADIALOGITEM(missing, value, 10),
        new CHECKDATADIALOGITEM(missing, value, -1),
        new RADIODATADIALOGITEM(missing, &number, 1),
        new SPINDATADIALOGITEM(missing, &number, 0, 9),
        new LISTDATADIALOGITEM(missing, value),
        new LISTSTRINGDATADIALOGITEM(Cid("TEXT", 1), value), // not a list
    };
    for (DATADIALOGITEM* item : items) {
        dialog->AddItem(item);
        item->DataToDialog(parent);
        item->DialogToData(parent);
    }
    EXPECT_THAT(Reported(),
                ElementsAre("this->pEntry->IsValid()", "this->pEntry->IsValid()", "this->pCheck->IsValid()",
                            "this->pCheck->IsValid()", "this->pRadio->IsValid()", "this->pRadio->IsValid()",
                            "pEntry->IsValid()", "pEntry->IsValid()", "this->pList->IsValid()",
                            "this->pList->IsValid()", "this->pList->IsValid()", "this->pList->IsValid()"));
    EXPECT_STREQ(value.Buf(), "v");
    EXPECT_EQ(number, 3);
}

} // namespace
