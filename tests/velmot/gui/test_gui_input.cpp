// Windows, dialogs, controls and menus driven by input as the window system
// delivers it: clicks, drags, typed text and keys.
#include "tests/velmot/gui/toolkit_fixture.h"
#include "velmot/gui/winbuttons.h"
#include "velmot/gui/winentry.h"
#include "velmot/gui/winvalues.h"

#include "platform/events/testinput.h"

#include <gmock/gmock.h>

#include <algorithm>

using namespace guifix;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using plat::FourCC;
namespace ti = plat::testinput;

namespace {

CONTROLID Id(char const (&sig)[5], int32_t n)
{
    return CONTROLID{FourCC(sig), n};
}

// The middle of a control, in its own coordinates.
plat::PointI Middle(CONTROL const& c)
{
    SIZE const s = c.GetSize();
    return plat::PointI{s.cx / 2, s.cy / 2};
}

// The dialog with every control kind, shown and active, its callbacks
// leaving keys to the controls.
class InputTest : public ToolkitTest {
protected:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        dialog = std::make_unique<RECWINDOW>("DLG_TEST_CONTROLS", nullptr);
        ASSERT_TRUE(Activate(dialog->GetWindow()));
        dialog->rec.answers["OnKeyboardEvent"] = false;
        dialog->rec.answers["OnRawKeyboardEvent"] = false;
        dialog->rec.answers["OnMouseEvent"] = false;
        parent = dialog->GetClientParent();
        sound = std::make_shared<SoundCounter>();
        plat::SetAudioSink(sound);
        Lines("");
    }
    void TearDown() override
    {
        dialog.reset();
        plat::SetAudioSink(nullptr);
        ToolkitTest::TearDown();
    }
    // The dialog's callbacks since the last call whose lines start with
    // `prefix`.
    std::vector<std::string> Lines(std::string const& prefix)
    {
        plat::ProcessPendingEvents(1000);
        std::vector<std::string> out;
        for (std::string const& line : dialog->rec.Take())
            if (line.rfind(prefix, 0) == 0)
                out.push_back(line);
        return out;
    }
    plat::WindowRef Window() const { return dialog->GetWindow(); }

    std::unique_ptr<RECWINDOW> dialog;
    CONTROLPARENT parent;
    std::shared_ptr<SoundCounter> sound;
};

TEST_F(InputTest, TypingFollowsTheFieldsRules)
{
    // Digits only, at most 5: the layout says so.
    ENTRYFIELD number(parent, Id("TEXT", 2));
    ASSERT_EQ(ti::Click(number.GetControlRef(), Middle(number)), plat::kNoErr);
    ASSERT_TRUE(number.IsFocused());
    number.SetSelection(2, 2);
    Lines("");
    ASSERT_EQ(ti::TypeText(Window(), "3a4x567"), plat::kNoErr);
    EXPECT_STREQ(number.GetText().Buf(), "42345");
    EXPECT_EQ(sound->alerts, 4); // a, x, 6 and 7
    EXPECT_THAT(Lines("OnControlEvent"), ElementsAre("OnControlEvent 0x201 eutx 0", "OnControlEvent 0x201 eutx 0",
                                                     "OnControlEvent 0x201 eutx 0"));
    // Taking characters away is always allowed.
    ti::PressKey(Window(), plat::kVkBack);
    EXPECT_STREQ(number.GetText().Buf(), "4234");
    // Text no key types (composed) passes the same rules.
    ti::CommitText(Window(), "\xC3\xA9" "9");
    EXPECT_STREQ(number.GetText().Buf(), "4234");
    EXPECT_EQ(sound->alerts, 5);

    // Rules set through a wrapper that is gone before anyone types, as
    // dialogs set them, hold all the same.
    ENTRYFIELD(parent, Id("TEXT", 1)).SetNumbersOnly(true);
    ENTRYFIELD name(parent, Id("TEXT", 1));
    ti::Click(name.GetControlRef(), Middle(name));
    ASSERT_TRUE(name.IsFocused());
    name.SetSelection(8, 8); // behind "terminal"
    ti::TypeText(Window(), "x1");
    EXPECT_STREQ(name.GetText().Buf(), "terminal1");
    EXPECT_EQ(sound->alerts, 6);
}

TEST_F(InputTest, ReturnPressesTheDefaultButtonUnlessAFieldWantsIt)
{
    ENTRYFIELD field(parent, Id("TEXT", 1));
    field.SetWantReturn(true);
    // Another wrapper setting a rule adds no second handler.
    ENTRYFIELD(parent, Id("TEXT", 1)).SetWantReturn(true);
    // The field takes the focus (the window gave it to its first control).
    CHECKBOX box(parent, Id("CBOX", 1));
    box.SetFocus();
    ti::Click(field.GetControlRef(), Middle(field));
    ASSERT_TRUE(field.IsFocused());
    ti::PressKey(Window(), plat::kVkReturn);
    std::vector<std::string> seen = Lines("On");
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "OnControlEvent 0x202 eutx 0"), 1);
    EXPECT_THAT(seen, Not(Contains("OnPushbutton OKAY 0")));
    // The focus elsewhere, the default button is back.
    ti::Click(box.GetControlRef(), {4, 10});
    Lines("");
    ti::PressKey(Window(), plat::kVkReturn);
    EXPECT_THAT(Lines("OnPushbutton"), ElementsAre("OnPushbutton OKAY 0"));
    ti::PressKey(Window(), plat::kVkEscape);
    EXPECT_THAT(Lines("OnPushbutton"), ElementsAre("OnPushbutton BACK 0"));
}

TEST_F(InputTest, ClicksToggleGroupAndPress)
{
    // A tri-state box cycles off, mixed, on, off.
    CHECKBOX box(parent, Id("CBOX", 1));
    box.SetTriState(true);
    box.SetControlValue(0);
    std::vector<int> values;
    for (int i = 0; i < 4; ++i) {
        ti::Click(box.GetControlRef(), {4, 10});
        values.push_back(box.GetControlValue());
    }
    EXPECT_THAT(values, ElementsAre(2, 1, 0, 2));

    // Radio buttons: one on at a time; a click on the one that is on keeps it.
    RADIOBUTTON cr(parent, Id("RDIO", 1));
    RADIOBUTTON lf(parent, Id("RDIO", 2));
    ti::Click(lf.GetControlRef(), {4, 10});
    EXPECT_EQ(cr.GetControlValue(), 0);
    EXPECT_EQ(lf.GetControlValue(), 1);
    ti::Click(lf.GetControlRef(), {4, 10});
    EXPECT_EQ(lf.GetControlValue(), 1);

    // A disclosure button reports; the program opens it.
    DISCLOSUREBUTTON details(parent, Id("DISB", 1));
    Lines("");
    ti::Click(details.GetControlRef(), Middle(details));
    EXPECT_EQ(details.GetControlValue(), 0);
    PUSHBUTTON other(parent, CONTROLID{0, 7});
    ti::Click(other.GetControlRef(), Middle(other));
    CONTROL help(parent, Id("HELP", 0));
    ti::Click(help.GetControlRef(), Middle(help));
    EXPECT_THAT(Lines("On"), ElementsAre("OnControlEvent 0x101 disb 0", "OnPushbutton", "OnHelp"));

    // A round button takes clicks inside its circle only.
    CONTROL round(parent, Id("RNDB", 1)); // 28 x 28
    ti::Click(round.GetControlRef(), {1, 1});
    EXPECT_THAT(Lines("On"), IsEmpty());
    ti::Click(round.GetControlRef(), Middle(round));
    EXPECT_THAT(Lines("On"), ElementsAre("OnPushbutton RNDB 1"));
}

TEST_F(InputTest, ScrollingAndArrowsReportWhatTheUserDid)
{
    SCROLLBAR bar(parent, Id("SBAR", 1)); // 200 x 16, 0..100
    // The right arrow, then the trough right of the thumb.
    ti::Click(bar.GetControlRef(), {194, 8});
    ti::Click(bar.GetControlRef(), {150, 8});
    EXPECT_THAT(Lines("OnScrollEvent"), ElementsAre("OnScrollEvent 1 1", "OnScrollEvent 3 11"));

    // A slider's object follows its thumb; vertical positions count from
    // the top.
    SLIDERBAR slider(parent, Id("SLDR", 2)); // 24 x 120, 0..100, at 70
    slider.SetFocus();
    Lines("");
    ti::PressKey(Window(), plat::kVkUp);
    EXPECT_EQ(slider.GetControlValue(), 71);
    std::vector<std::string> seen = Lines("OnScrollEvent");
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "OnScrollEvent 1 29");

    // Spin arrows count in their buddy field.
    SPINBUTTON spin(parent, Id("SPBT", 1), Id("SPIN", 10)); // the buddy holds 5
    ti::Click(spin.GetControlRef(), {8, 4});
    ti::Click(spin.GetControlRef(), {8, 4});
    EXPECT_STREQ(ENTRYFIELD(parent, Id("SPIN", 10)).GetText().Buf(), "7");
    ti::Click(spin.GetControlRef(), {8, 19});
    EXPECT_STREQ(ENTRYFIELD(parent, Id("SPIN", 10)).GetText().Buf(), "6");
    EXPECT_THAT(Lines("OnControlEvent 0x701"), Contains("OnControlEvent 0x701 larr 6"));
}

TEST_F(InputTest, MenuKeysWithSuperAreTheMenusOthersTheFields)
{
    RECWINDOW w(WINDOWSTYLE_DOCUMENT, "Keys", 0, 0, 300, 200, nullptr, nullptr, "IDM_TEST_MENUBAR");
    w.rec.answers["OnKeyboardEvent"] = false;
    w.rec.answers["OnRawKeyboardEvent"] = false;
    ENTRYFIELD field(w.GetClientParent(), Id("KEYS", 1), 0, 10, 10, 200, 24);
    field.SetControlText("");
    ASSERT_TRUE(Activate(w.GetWindow()));
    field.SetFocus();
    w.rec.Take();
    ti::PressKey(w.GetWindow(), 'N', plat::kModCommand);
    ti::PressKey(w.GetWindow(), 'K', plat::kModCommand | plat::kModShift);
    ti::PressKey(w.GetWindow(), 'N', plat::kModControl); // the terminal's, not the menu's
    ti::TypeText(w.GetWindow(), "n");
    plat::ProcessPendingEvents(1000);
    std::vector<std::string> commands;
    for (std::string const& line : w.rec.Take())
        if (line.rfind("OnCommand", 0) == 0)
            commands.push_back(line);
    EXPECT_THAT(commands, ElementsAre("OnCommand 8420", "OnCommand CLRS"));
    EXPECT_STREQ(field.GetText().Buf(), "n"); // Super+N typed nothing
}

TEST_F(InputTest, DialogsEndWithReturnEscapeAndTheCloseBox)
{
    dialog.reset();
    RECWINDOW owner(WINDOWSTYLE_DOCUMENT, "Owner", 100, 100, 400, 300);
    PUSHBUTTON ownButton(owner.GetClientParent(), Id("OWNB", 1), 0, 10, 10, 80, 24);
    ASSERT_TRUE(Activate(owner.GetWindow()));
    struct Case {
        std::function<void(plat::WindowRef)> act;
        int code;
    } const cases[] = {
        {[](plat::WindowRef w) { ti::PressKey(w, plat::kVkReturn); }, static_cast<int>(FourCC("OKAY"))},
        {[](plat::WindowRef w) { ti::PressKey(w, plat::kVkEscape); }, 0},
        {[](plat::WindowRef w) { ti::ClickCloseBox(w); }, 0},
    };
    for (Case const& c : cases) {
        DIALOG d("DLG_TEST_MODAL", owner.GetWindow());
        bool blocked = false;
        plat::AddModalResponder(plat::kModalWindow, [&](plat::ModalRequest const& r, plat::ModalAnswer&) {
            // Input to other windows goes nowhere while the dialog runs.
            owner.rec.Take();
            ti::Click(ownButton.GetControlRef(), {10, 10});
            plat::ProcessPendingEvents(100);
            std::vector<std::string> const seen = owner.rec.Take();
            blocked = std::none_of(seen.begin(), seen.end(), [](std::string const& line) {
                return line.rfind("OnPushbutton", 0) == 0 || line.rfind("OnMouseEvent", 0) == 0;
            });
            c.act(r.window);
            return true;
        });
        EXPECT_EQ(d.Process(), c.code);
        EXPECT_TRUE(blocked);
        EXPECT_FALSE(d.IsVisible());
    }
    // Escape with Shift is not the dialog's.
    DIALOG d("DLG_TEST_MODAL", owner.GetWindow());
    plat::AddModalResponder(plat::kModalWindow, [&](plat::ModalRequest const& r, plat::ModalAnswer&) {
        ti::PressKey(r.window, plat::kVkEscape, plat::kModShift);
        EXPECT_TRUE(plat::IsModalLoopRunning(reinterpret_cast<uintptr_t>(r.window)));
        d.Dismiss(9);
        return true;
    });
    EXPECT_EQ(d.Process(), 9);
}

// A dialog that asks to be deleted from inside its own run.
class LEAVINGDIALOG : public DIALOG {
public:
    LEAVINGDIALOG(std::vector<std::string>* journal) : DIALOG("DLG_TEST_MODAL", nullptr), fJournal(journal) {}
    ~LEAVINGDIALOG() override { fJournal->push_back("deleted"); }
    bool OnPushbutton(CONTROLID id) override
    {
        fJournal->push_back("button");
        DeleteLater();
        bool const done = DIALOG::OnPushbutton(id);
        fJournal->push_back("after the button");
        return done;
    }

private:
    std::vector<std::string>* fJournal;
};

TEST_F(InputTest, ADialogDeletedFromItsOwnRunGoesAfterTheRun)
{
    dialog.reset();
    std::vector<std::string> journal;
    auto* d = new LEAVINGDIALOG(&journal);
    plat::AddModalResponder(plat::kModalWindow, [&](plat::ModalRequest const& r, plat::ModalAnswer&) {
        ti::PressKey(r.window, plat::kVkReturn);
        return true;
    });
    EXPECT_EQ(d->Process(), static_cast<int>(FourCC("OKAY")));
    journal.push_back("process returned");
    EXPECT_TRUE(PumpUntil([&] { return journal.back() == "deleted"; }));
    EXPECT_THAT(journal, ElementsAre("button", "after the button", "process returned", "deleted"));
}

TEST_F(InputTest, ACapturedMouseReportsToItsChild)
{
    RECCHILD left(parent, Id("UPAN", 1)); // the user pane at (240, 282), 180 x 60
    left.InstallEventHandler();
    left.rec.answers["OnMouseEvent"] = true;
    // A drag that starts in the child stays with it outside.
    ti::Drag(left.GetControlRef(), {170, 50}, {-100, -50});
    std::vector<std::string> moves = left.rec.Take();
    ASSERT_FALSE(moves.empty());
    EXPECT_EQ(moves.back(), "OnMouseEvent 0x202 -100 -50 0");
    // Captured, it gets the moves over other views too.
    ASSERT_TRUE(left.SetMouseCapture(true));
    ti::MouseMove(CONTROL(parent, Id("TEXT", 1)).GetControlRef(), {5, 5});
    EXPECT_THAT(left.rec.Take(), Contains("OnMouseEvent 0x200 -115 -263 0"));
    left.SetMouseCapture(false);
}

} // namespace
