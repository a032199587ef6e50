// Data dialogs: the disable rules, what a dialog stores by how it ends,
// pages sharing rules, nested push-button dialogs and the limits.
#include "tests/support/testutil.h"
#include "tests/velmot/gui/datadialog_fixture.h"

#include <gmock/gmock.h>

#include <filesystem>

using namespace guifix;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using DB = DATADIALOGBASE;
namespace ti = plat::testinput;

class RuleTest : public DataDialogTest {
protected:
    void SetUp() override
    {
        DataDialogTest::SetUp();
        dialog = std::make_unique<DATADIALOGBOX>("DLG_DD_RULES", NoOwner(), nullptr);
        ASSERT_TRUE(dialog->IsValid());
        p = dialog->GetControlParent();
    }
    void TearDown() override
    {
        dialog.reset();
        DataDialogTest::TearDown();
    }
    void Rule(CONTROLID controlled, CONTROLID depending, DB::DISABLETYPE type, char const* text = nullptr)
    {
        dialog->AutoDisable(CONTROLPARENT{}, controlled, CONTROLPARENT{}, depending, type, text);
    }
    std::unique_ptr<DATADIALOGBOX> dialog;
    CONTROLPARENT p;
};

TEST_F(RuleTest, AGroupDisablesWhenOneRuleAsksOrWhenAllDo)
{
    // TARG 1: either box off disables; TARG 2: only both off.
    Rule(Cid("TARG", 1), Cid("CHKA", 1), DB::DISABLE_IFNOTSET);
    Rule(Cid("TARG", 1), Cid("CHKB", 1), DB::DISABLE_IFNOTSET);
    Rule(Cid("TARG", 2), Cid("CHKA", 1), DB::DISABLE_IFNOTSET | DB::DISABLE_ALLOFGROUP);
    Rule(Cid("TARG", 2), Cid("CHKB", 1), DB::DISABLE_IFNOTSET);
    struct Case {
        int a, b;
        bool one, two;
    } const cases[] = {{1, 1, true, true}, {0, 1, false, true}, {1, 0, false, true}, {0, 0, false, false}};
    for (Case const& c : cases) {
        SCOPED_TRACE(std::to_string(c.a) + std::to_string(c.b));
        plat::SetViewValue(CONTROL(p, Cid("CHKA", 1)).GetControlRef(), c.a);
        Set(p, Cid("CHKB", 1), c.b); // the click that evaluates
        EXPECT_EQ(Enabled(p, Cid("TARG", 1)), c.one);
        EXPECT_EQ(Enabled(p, Cid("TARG", 2)), c.two);
    }
}

TEST_F(RuleTest, HidingAndDisablingAreTwoGroupsOnOneControl)
{
    Rule(Cid("TARG", 3), Cid("CHKA", 1), DB::DISABLE_IFSET | DB::DISABLE_HIDE);
    Rule(Cid("TARG", 3), Cid("CHKB", 1), DB::DISABLE_IFSET);
    Set(p, Cid("CHKA", 1), 1);
    EXPECT_FALSE(Visible(p, Cid("TARG", 3)));
    EXPECT_TRUE(Enabled(p, Cid("TARG", 3)));
    Set(p, Cid("CHKB", 1), 1);
    Set(p, Cid("CHKA", 1), 0);
    EXPECT_TRUE(Visible(p, Cid("TARG", 3)));
    EXPECT_FALSE(Enabled(p, Cid("TARG", 3)));
}

TEST_F(RuleTest, RulesWithoutADependingControlActOnTheFirstEventOnly)
{
    Rule(Cid("TARG", 4), CONTROLID{}, DB::DISABLE_ALWAYS);
    Rule(Cid("TARG", 5), CONTROLID{}, DB::DISABLE_NEVER | DB::DISABLE_HIDE);
    CONTROL(p, Cid("TARG", 5)).Show(false);
    Set(p, Cid("CHKA", 1), 1);
    EXPECT_FALSE(Enabled(p, Cid("TARG", 4)));
    EXPECT_TRUE(Visible(p, Cid("TARG", 5)));
    CONTROL(p, Cid("TARG", 4)).Enable(true);
    Set(p, Cid("CHKA", 1), 0);
    EXPECT_TRUE(Enabled(p, Cid("TARG", 4)));
}

TEST_F(RuleTest, AClickOnOneRadioButtonReevaluatesTheRulesOfItsGroup)
{
    Rule(Cid("TARG", 1), Cid("RADR", 2), DB::DISABLE_IFSET);
    Set(p, Cid("RADR", 2), 1);
    EXPECT_FALSE(Enabled(p, Cid("TARG", 1)));
    // The click on the third button turns the second off before the rules
    // look at it.
    Set(p, Cid("RADR", 3), 1);
    EXPECT_EQ(Value(p, Cid("RADR", 2)), 0);
    EXPECT_TRUE(Enabled(p, Cid("TARG", 1)));
}

TEST_F(RuleTest, ListsAndTextFieldsAreComparedByKind)
{
    testutil::TempDir dir;
    std::string const file = dir.file("present.txt");
    testutil::WriteFile(file, "x");
    Rule(Cid("TARG", 1), Cid("POPR", 1), DB::DISABLE_IFINDEX, "2");
    Rule(Cid("TARG", 2), Cid("POPR", 1), DB::DISABLE_IFNOTTEXT, "TWO");
    Rule(Cid("TARG", 3), Cid("FILE", 1), DB::DISABLE_IFEXISTS);
    Rule(Cid("TARG", 4), Cid("FILE", 1), DB::DISABLE_IFNOTFOLDER);
    Rule(Cid("TARG", 5), Cid("FILE", 1), DB::DISABLE_IFTEXT, "OFF");

    POPUPBOX popup(p, Cid("POPR", 1));
    popup.SelectItem(2, 1);
    EXPECT_FALSE(Enabled(p, Cid("TARG", 1)));
    EXPECT_FALSE(Enabled(p, Cid("TARG", 2)));
    popup.SelectItem(1, 1);
    EXPECT_TRUE(Enabled(p, Cid("TARG", 1)));
    EXPECT_TRUE(Enabled(p, Cid("TARG", 2)));

    struct Case {
        std::string text;
        bool exists, folder, off;
    } const cases[] = {
        {file, true, false, false},
        {dir.path(), true, true, false},
        {dir.file("absent"), false, false, false},
        {"off", false, false, true},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.text);
        Type(p, Cid("FILE", 1), c.text.c_str());
        EXPECT_EQ(Enabled(p, Cid("TARG", 3)), !c.exists);
        EXPECT_EQ(Enabled(p, Cid("TARG", 4)), c.folder);
        EXPECT_EQ(Enabled(p, Cid("TARG", 5)), !c.off);
    }
}

TEST_F(RuleTest, HidingAFieldHidesItsArrowsAndDisablingDisablesThem)
{
    STRING value("3");
    auto* item = new SPINDATADIALOGITEM(Cid("SPNR", 1), value, 0, 9);
    dialog->AddItem(item);
    Rule(Cid("SPNR", 1), Cid("CHKA", 1), DB::DISABLE_IFSET | DB::DISABLE_HIDE);
    Rule(Cid("SPNR", 1), Cid("CHKB", 1), DB::DISABLE_IFSET);
    dialog->ValuesToDialog();
    CONTROLID const arrows = SPINDATADIALOGITEM::GetIdSpin(Cid("SPNR", 1));
    Set(p, Cid("CHKA", 1), 1);
    EXPECT_FALSE(Visible(p, Cid("SPNR", 1)));
    EXPECT_FALSE(Visible(p, arrows));
    Set(p, Cid("CHKA", 1), 0);
    EXPECT_TRUE(Visible(p, arrows));
    // Disabled, the arrows follow through the buddy link: arrows that
    // still worked would change a field the user cannot.
    Set(p, Cid("CHKB", 1), 1);
    EXPECT_FALSE(Enabled(p, Cid("SPNR", 1)));
    EXPECT_FALSE(Enabled(p, arrows));
}

TEST_F(RuleTest, RulesThatCannotBeAnsweredAreReported)
{
    Rule(Cid("TARG", 1), Cid("CHKA", 1), DB::DISABLE_IFINDEX, "1");
    Set(p, Cid("CHKA", 1), 1);
    EXPECT_THAT(Reported(), ElementsAre("FALSE"));
    EXPECT_TRUE(Enabled(p, Cid("TARG", 1)));

    DB::DISABLEITEMRULE missing;
    missing.DependParent = p;
    missing.Depend = Cid("NONE", 1); // nibcheck: absent
    EXPECT_EQ(dialog->ShouldDisable(missing), 0);
    EXPECT_THAT(Reported(), ElementsAre("cdepend.IsValid()"));
    // A control that holds no state the rules know: never, unreported.
    DB::DISABLEITEMRULE push;
    push.DependParent = p;
    push.Depend = Cid("TARG", 5);
    EXPECT_EQ(dialog->ShouldDisable(push), 0);
    EXPECT_THAT(Reported(), IsEmpty());
}

TEST_F(RuleTest, TheCallbackSeesEveryEventFirst)
{
    static std::vector<std::string> seen;
    seen.clear();
    int context = 0;
    dialog->SetControlEventCallback(
        [](void* ctx, CONTROLPARENT parent, int event, CONTROL const& control) {
            seen.push_back(std::to_string(event) + " " + control.GetId().AsString().Buf() +
                           (parent.view && ctx ? "" : " ?"));
        },
        &context);
    Set(p, Cid("CHKA", 1), 1);
    Type(p, Cid("FILE", 1), "x");
    EXPECT_THAT(seen, ElementsAre("257 CHKA 1", "513 FILE 1"));
    dialog->SetControlEventCallback(nullptr, nullptr);
    Set(p, Cid("CHKA", 1), 0);
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(RuleTest, TablesHoldSixtyFourItemsAndRules)
{
    int numbers[65] = {};
    for (int i = 0; i < 65; ++i)
        dialog->AddItem(new CHECKDATADIALOGITEM(Cid("CHKA", 1), &numbers[i], 0));
    EXPECT_EQ(dialog->GetItemCount(), 64);
    for (int i = 0; i < 65; ++i)
        Rule(Cid("TARG", 1), Cid("CHKA", 1), DB::DISABLE_NEVER);
    EXPECT_EQ(dialog->GetRuleCount(), 64);
    EXPECT_EQ(dialog->HandlePushbutton(CONTROLID{plat::FourCC("HELP"), 0}), 0);
    EXPECT_THAT(Reported(), ElementsAre("this->Howmany < this->Max",
                                        "this->DisableItemCount<ARRAYMAX(this->DisableItems)", "idc!=IDHELP"));
}

// ---------------------------------------------------------------------------
// How a dialog ends and what it stores

TEST_F(DataDialogTest, ABoxStoresUnlessCancelled)
{
    struct Case {
        char const* how;
        int code;
        bool stored;
    } const cases[] = {
        {"OK", static_cast<int>(plat::FourCC("OKAY")), true},
        {"Cancel", 0, false},
        {"close box", 0, false}, // the cancel code stores nothing
        {"Escape", 0, false},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.how);
        STRING text("before");
        DATADIALOGBOX box("DLG_DD_SUB", NoOwner(), nullptr);
        box.AddItem(new ENTRYDATADIALOGITEM(Cid("SUBT", 1), text, 0));
        WhileRunning([&](plat::ModalRequest const& r) {
            Type(box.GetControlParent(), Cid("SUBT", 1), "after");
            std::string const how = c.how;
            if (how == "OK")
                Press(box.GetControlParent(), Cid("OKAY", 0));
            else if (how == "Cancel")
                Press(box.GetControlParent(), DIALOG_CANCELBUTTON);
            else if (how == "close box")
                Close(r.window);
            else
                ti::PressKey(r.window, 27, 0);
        });
        EXPECT_EQ(box.Process(), c.code);
        EXPECT_STREQ(text.Buf(), c.stored ? "after" : "before");

        // Run again after any ending: it stores.
        WhileRunning([&](plat::ModalRequest const&) {
            Type(box.GetControlParent(), Cid("SUBT", 1), "again");
            Press(box.GetControlParent(), Cid("OKAY", 0));
        });
        box.Process();
        EXPECT_STREQ(text.Buf(), "again");
    }
}

TEST_F(DataDialogTest, ABoxTakesNoPages)
{
    DATADIALOGBOX box("DLG_DD_SUB", NoOwner(), nullptr);
    EXPECT_EQ(box.AddPage("DLG_DD_PAGE1"), nullptr);
    EXPECT_EQ(box.FindPage(0), nullptr);
    EXPECT_THAT(Reported(), ElementsAre("FALSE"));
}

TEST_F(DataDialogTest, NestedDialogsWorkOnCopiesUntilTheOuterOneIsStored)
{
    struct Case {
        bool innerOk;
        bool outerOk;
        char const* text;
        char const* flag;
    } const cases[] = {
        {true, true, "inner", "1"},
        {true, false, "outer", "0"}, // confirmed inside, cancelled outside
        {false, true, "outer", "0"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(std::to_string(c.innerOk) + std::to_string(c.outerOk));
        STRING text("outer");
        STRING flag("0");
        DATADIALOGBOX outer("DLG_DD_OUTER", NoOwner(), nullptr);
        auto* more = new PUSHBUTTONSUBDIALOG(Cid("MORE", 1), "DLG_DD_SUB", NoOwner());
        more->AddItem(new ENTRYDATADIALOGITEM(Cid("SUBT", 1), text, 0));
        more->AddItem(new CHECKDATADIALOGITEM(Cid("SUBC", 1), flag, -1));
        outer.AddItem(more);
        CONTROLPARENT const inner = more->GetDialog().GetControlParent();
        std::string shown;
        WhileRunning([&](plat::ModalRequest const&) {
            WhileRunning([&](plat::ModalRequest const&) {
                shown = Text(inner, Cid("SUBT", 1));
                Type(inner, Cid("SUBT", 1), "inner");
                Set(inner, Cid("SUBC", 1), 1);
                Press(inner, c.innerOk ? Cid("OKAY", 0) : DIALOG_CANCELBUTTON);
            });
            Press(outer.GetControlParent(), Cid("MORE", 1));
            EXPECT_STREQ(text.Buf(), "outer"); // not yet
            Press(outer.GetControlParent(), c.outerOk ? Cid("OKAY", 0) : DIALOG_CANCELBUTTON);
        });
        outer.Process();
        EXPECT_EQ(shown, "outer");
        EXPECT_STREQ(text.Buf(), c.text);
        EXPECT_STREQ(flag.Buf(), c.flag);
    }
}

TEST_F(DataDialogTest, ANestedDialogBindsStringsOnly)
{
    STRING text;
    int number = 0;
    PUSHBUTTONSUBDIALOG more(Cid("MORE", 1), "DLG_DD_SUB", NoOwner());
    EXPECT_EQ(more.AddItem(new CHECKDATADIALOGITEM(Cid("SUBC", 1), &number, 0)), 0);
    EXPECT_THAT(Reported(), ElementsAre("item->pValue && !item->pData"));
    for (int i = 0; i < 33; ++i)
        more.AddItem(new ENTRYDATADIALOGITEM(Cid("SUBT", 1), text, 0));
    EXPECT_EQ(more.GetDialog().GetItemCount(), 32);
    EXPECT_THAT(Reported(), ElementsAre("this->NumBound<32"));
}

} // namespace
