// Controls: lookup, texts, geometry, properties, the simulated hit, owner
// notifications, and the rules of buttons, entry fields and value controls.
#include "tests/velmot/gui/toolkit_fixture.h"
#include "velmot/gui/winbuttons.h"
#include "velmot/gui/winentry.h"
#include "velmot/gui/winicons.h"
#include "velmot/gui/winmenu.h"
#include "velmot/gui/winvalues.h"

#include "platform/controls/controls.h"
#include "platform/events/testinput.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>

using namespace guifix;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using plat::FourCC;

namespace {

CONTROLID Id(char const (&sig)[5], int32_t n)
{
    return CONTROLID{FourCC(sig), n};
}

// The dialog with every control kind, shown and active.
class ControlTest : public ToolkitTest {
protected:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        dialog = std::make_unique<RECWINDOW>("DLG_TEST_CONTROLS", nullptr);
        ASSERT_TRUE(dialog->IsValid());
        ASSERT_TRUE(Activate(dialog->GetWindow()));
        parent = dialog->GetClientParent();
        plat::ProcessPendingEvents(1000);
        dialog->rec.Take();
    }
    void TearDown() override
    {
        dialog.reset();
        ToolkitTest::TearDown();
    }
    // Runs what was posted (owner notifications) and returns what reached
    // the dialog's callbacks.
    std::vector<std::string> Delivered()
    {
        plat::ProcessPendingEvents(1000);
        return dialog->rec.Take();
    }

    std::unique_ptr<RECWINDOW> dialog;
    CONTROLPARENT parent;
};

TEST_F(ControlTest, LookupBindsWithoutOwningAndTextsComeInBothWidths)
{
    EXPECT_STREQ(Id("OKAY", 3).AsString().Buf(), "OKAY 3");
    EXPECT_STREQ(Id("NEGV", -12).AsString().Buf(), "NEGV -12");

    CONTROL missing(parent, Id("NONE", 1));
    EXPECT_FALSE(missing.IsValid());
    EXPECT_EQ(missing.GetKind(), 0u);
    {
        CONTROL name(parent, Id("TEXT", 1));
        EXPECT_TRUE(name.IsControlOfKind(CONTROLKIND_EDITUNICODE));
        EXPECT_EQ(name.GetId(), Id("TEXT", 1));
    }
    // The wrapper went; the control stays.
    CONTROL name(parent, Id("TEXT", 1));
    ASSERT_TRUE(name.IsValid());
    EXPECT_STREQ(name.GetText().Buf(), "terminal");

    ASSERT_TRUE(name.SetControlText("abcdef"));
    char narrow[4];
    EXPECT_FALSE(name.GetControlText(narrow, sizeof narrow)); // does not fit
    EXPECT_STREQ(narrow, "abc");
    wchar_t wide[4];
    EXPECT_TRUE(name.GetControlTextWide(wide, 4)); // cut, not refused
    EXPECT_STREQ(wide, L"abc");
    EXPECT_EQ(name.GetText(narrow, sizeof narrow), 3);

    // Characters code page 1252 has no room for read as "?" narrow, whole
    // wide; 1252's own (the euro) go both ways.
    ASSERT_TRUE(name.SetControlTextWide(L"\x20AC \x4F60\x597D \U0001F600"));
    STRING s = name.GetText();
    EXPECT_STREQ(s.Buf(), "\x80 ?? ?");
    EXPECT_EQ(s.CodePage, UNICODE_CPDEFAULT);
    EXPECT_EQ(WSTRING::WSTRCMP(name.GetTextWide().Buf(), L"\x20AC \x4F60\x597D \U0001F600"), 0);
    ASSERT_TRUE(name.SetControlText("\x80 caf\xE9"));
    EXPECT_EQ(WSTRING::WSTRCMP(name.GetTextWide().Buf(), L"\x20AC caf\xE9"), 0);
    ASSERT_TRUE(name.SetControlText(nullptr));
    EXPECT_STREQ(name.GetText().Buf(), "");

    // A view without text says so.
    STRING none;
    EXPECT_FALSE(CONTROL(parent, Id("UPAN", 1)).GetControlText(&none));
    EXPECT_EQ(none.CodePage, UNICODE_CPDEFAULT);
}

TEST_F(ControlTest, GeometryInTheSuperview)
{
    PUSHBUTTON inside(parent, Id("PUSH", 9)); // in the user pane at (240, 282)
    EXPECT_EQ(inside.GetRect(), (RECT{8, 16, 88, 44}));
    EXPECT_EQ(inside.Move(20, 30, -1, -1), 1);
    EXPECT_EQ(inside.GetRect(), (RECT{20, 30, 100, 58})); // moved, same size
    inside.Move(20, 30, 60, -1); // one size given: both are taken
    EXPECT_EQ(inside.GetSize(), (SIZE{60, 0}));
    inside.Size(70, 25);
    inside.MoveRel(-5, 5);
    EXPECT_EQ(inside.GetRect(), (RECT{15, 35, 85, 60}));
    EXPECT_EQ(inside.GetClientRect(), (RECT{0, 0, 70, 25}));
}

TEST_F(ControlTest, StateFocusStackingAndTheDefaultButton)
{
    // A hidden, disabled or deactivated button takes no clicks; shown and
    // enabled again it does.
    PUSHBUTTON other(parent, CONTROLID{0, 7});
    auto pressed = [&] {
        Delivered();
        plat::testinput::Click(other.GetControlRef(), plat::PointI{10, 10});
        std::vector<std::string> lines = Delivered();
        return std::count(lines.begin(), lines.end(), "OnPushbutton") == 1;
    };
    EXPECT_TRUE(other.Show(false));
    EXPECT_FALSE(other.IsVisible());
    EXPECT_FALSE(pressed());
    other.Show(true);
    EXPECT_TRUE(other.Enable(false));
    EXPECT_FALSE(other.IsEnabled());
    EXPECT_FALSE(pressed());
    other.Enable(true);
    other.Activate(false);
    EXPECT_FALSE(pressed());
    other.Activate(true);
    EXPECT_TRUE(pressed());

    // The focus: SetFocus answers who had it; it counts only while the
    // window is active.
    ENTRYFIELD name(parent, Id("TEXT", 1));
    ENTRYFIELD number(parent, Id("TEXT", 2));
    name.SetFocus();
    EXPECT_TRUE(name.IsFocused());
    EXPECT_EQ(number.SetFocus(), name.GetControlRef());
    EXPECT_FALSE(name.IsFocused());
    EXPECT_TRUE(number.IsFocused());
    {
        RECWINDOW front(WINDOWSTYLE_DOCUMENT, "Front", 0, 0, 100, 100);
        ASSERT_TRUE(Activate(front.GetWindow()));
        EXPECT_FALSE(number.IsFocused());
    }
    ASSERT_TRUE(Activate(dialog->GetWindow()));
    // A pane's first control is its rearmost focusable one (added first).
    CONTROL pane(parent, Id("UPAN", 1));
    pane.SetFocusToFirstControl();
    EXPECT_TRUE(CONTROL(parent, Id("PUSH", 9)).IsFocused());

    // Stacking among siblings, and a created control moved into a pane.
    PUSHBUTTON made(parent, Id("MADE", 2), 0, 4, 4, 20, 20);
    CONTROL round(parent, Id("RNDB", 1));
    EXPECT_EQ(made.MoveToParentView(pane.AsParent()), 1);
    EXPECT_EQ(made.MoveToParentView(pane.AsParent()), 0); // already there
    EXPECT_EQ(made.GetRect(), (RECT{4, 4, 24, 24}));
    auto order = [&] {
        std::vector<std::string> ids;
        for (plat::ViewRef v : plat::GetSubviews(pane.GetControlRef()))
            ids.push_back(CONTROL(v).GetId().AsString().Buf());
        return ids;
    };
    EXPECT_THAT(order(), ElementsAre("MADE 2", "RNDB 1", "PUSH 9")); // front to back
    EXPECT_TRUE(made.MoveInZorder(0, nullptr));
    EXPECT_THAT(order(), ElementsAre("RNDB 1", "PUSH 9", "MADE 2"));
    EXPECT_TRUE(made.MoveInZorder(1, CONTROL(parent, Id("PUSH", 9)).GetControlRef()));
    EXPECT_THAT(order(), ElementsAre("RNDB 1", "MADE 2", "PUSH 9"));

    // The default button moves to a button made default and goes with 0.
    plat::WindowRef const w = dialog->GetWindow();
    EXPECT_TRUE(other.MakeDefaultButton(1));
    EXPECT_EQ(plat::GetWindowDefaultButton(w), other.GetControlRef());
    EXPECT_FALSE(plat::IsControlDefault(CONTROL(parent, Id("OKAY", 0)).GetControlRef()));
    other.MakeDefaultButton(0);
    EXPECT_EQ(plat::GetWindowDefaultButton(w), nullptr);
    EXPECT_FALSE(plat::IsControlDefault(other.GetControlRef()));

    // Pictures and menus of the controls that show them.
    ICON online(201);
    ASSERT_NE(online.GetIconRef(), nullptr);
    STATICICON icon(parent, Id("ICON", 1));
    EXPECT_EQ(icon.SetIcon(online.GetIconRef()), 0);
    EXPECT_EQ(icon.GetIcon(), online.GetIconRef());
    BEVELBUTTON bevel(parent, Id("BEVL", 1));
    EXPECT_TRUE(bevel.SetIcon(online.GetIconRef()));
    EXPECT_EQ(plat::GetControlIcon(bevel.GetControlRef()), online.GetIconRef());
    MENU menu;
    menu.CreateEmpty();
    EXPECT_TRUE(bevel.SetMenu(menu.GetMenuRef()));
    EXPECT_EQ(plat::GetControlMenu(bevel.GetControlRef()), menu.GetMenuRef());
    Delivered();
}

TEST_F(ControlTest, PropertiesArePointerSizedWordsOrBlocks)
{
    CONTROL c(parent, Id("TEXT", 2));
    EXPECT_EQ(c.GetControlProperty(FourCC("NONE")), 0u);
    // The layout's properties arrive as words.
    EXPECT_EQ(c.GetControlProperty(CPROP_NUMBERSONLY), 1u);
    EXPECT_EQ(c.GetControlProperty(CPROP_TEXTLENGTH), 5u);
    // A pointer does not lose its upper half.
    MSGWORD const pointer = static_cast<MSGWORD>(0x123456789ABCull);
    ASSERT_TRUE(c.SetControlProperty(CPROP_BUDDY, pointer));
    EXPECT_EQ(c.GetControlProperty(CPROP_BUDDY), pointer);
    // A shorter value stored by someone else reads into the low bytes.
    uint32_t const four = 0xDEADBEEF;
    plat::SetViewProperty(c.GetControlRef(), VLMT_CREATOR, FourCC("FOUR"), &four, sizeof four);
    EXPECT_EQ(c.GetControlProperty(FourCC("FOUR")), 0xDEADBEEFu);
    char block[8];
    ASSERT_TRUE(c.SetControlProperty(FourCC("BLCK"), "page7", 6));
    EXPECT_EQ(c.GetControlProperty(FourCC("BLCK"), block, sizeof block), 6);
    EXPECT_STREQ(block, "page7");
    c.AddStyleEx(0x10);
    c.AddStyleEx(0x10000);
    EXPECT_EQ(c.GetControlProperty(CPROP_STYLEEX), 0x10010u);
    c.SetControlProperty(CPROP_STYLE, 0xF);
    c.RemoveStyle(0x5);
    EXPECT_EQ(c.GetControlProperty(CPROP_STYLE), 0xAu);
}

TEST_F(ControlTest, ProgramChangesReachTheWindowAsASimulatedHit)
{
    CHECKBOX box(parent, Id("CBOX", 2)); // tri-state, mixed
    ASSERT_TRUE(box.IsTriState());
    // Had the last value stayed 0, the window would take the 1 for a click
    // from off and make it mixed: the set marks it first.
    box.SetControlProperty(CPROP_LASTVALUE, 0);
    box.SetControlValue(1);
    EXPECT_EQ(box.GetControlValue(), 1);
    EXPECT_EQ(box.GetControlProperty(CPROP_LASTVALUE), 1u);
    // The hit reached the window's callbacks as a click would.
    EXPECT_THAT(Delivered(), ElementsAre("OnControlEvent 0x101 cbox 0"));

    ENTRYFIELD name(parent, Id("TEXT", 1));
    ASSERT_TRUE(name.SetText("host"));
    EXPECT_THAT(Delivered(), ElementsAre("OnControlEvent 0x201 eutx 0"));
    PUSHBUTTON ok(parent, Id("OKAY", 0));
    ok.SimulateHit(plat::kControlPartButton);
    CONTROL(parent, Id("HELP", 0)).SimulateHit(plat::kControlPartButton);
    EXPECT_THAT(Delivered(), ElementsAre("OnPushbutton OKAY 0", "OnHelp"));
}

TEST_F(ControlTest, TriStateBoxesCycleOffMixedOn)
{
    // What the window makes of a click, by the value the platform's toggle
    // left and the value last seen: 1 after 0 becomes mixed.
    struct Case {
        int toggled;
        intptr_t last;
        int value;
    } const cases[] = {{1, 0, 2}, {1, 2, 1}, {0, 1, 0}, {1, -1, 1}};
    CHECKBOX box(parent, Id("CBOX", 2));
    for (Case const& c : cases) {
        SCOPED_TRACE(std::to_string(c.toggled) + " after " + std::to_string(c.last));
        plat::SetViewValue(box.GetControlRef(), c.toggled);
        box.SetControlProperty(CPROP_LASTVALUE, static_cast<MSGWORD>(c.last));
        WINDOW::HandleAutoCheckbox(box);
        EXPECT_EQ(box.GetControlValue(), c.value);
        EXPECT_EQ(static_cast<intptr_t>(box.GetControlProperty(CPROP_LASTVALUE)), c.value);
    }
    // A plain box is left alone.
    CHECKBOX plain(parent, Id("CBOX", 1));
    plat::SetViewValue(plain.GetControlRef(), 1);
    WINDOW::HandleAutoCheckbox(plain);
    EXPECT_EQ(plain.GetControlValue(), 1);
    box.SetTriState(false);
    EXPECT_FALSE(box.IsTriState());
    EXPECT_EQ(box.GetControlProperty(CPROP_LASTVALUE), 0u);
}

TEST_F(ControlTest, RadioButtonsAreGroupedByTheWindow)
{
    RADIOBUTTON cr(parent, Id("RDIO", 1));
    RADIOBUTTON lf(parent, Id("RDIO", 2));
    RADIOBUTTON crlf(parent, Id("RDIO", 3));
    ASSERT_EQ(cr.GetControlValue(), 1);
    // A click turns one on (the platform's part); its hit turns the
    // neighbours off.
    plat::SetViewValue(crlf.GetControlRef(), 1);
    crlf.SimulateHit(plat::kControlPartCheckBox);
    EXPECT_EQ(cr.GetControlValue(), 0);
    EXPECT_EQ(lf.GetControlValue(), 0);
    EXPECT_EQ(crlf.GetControlValue(), 1);
    // A hit on a button that is off changes nothing.
    lf.SimulateHit(plat::kControlPartCheckBox);
    EXPECT_EQ(crlf.GetControlValue(), 1);
    EXPECT_THAT(Delivered(), ElementsAre("OnControlEvent 0x101 rdio 0", "OnControlEvent 0x101 rdio 0"));
}

TEST_F(ControlTest, OwnerNotificationsGoToTheUserPaneOrTheWindow)
{
    RECCHILD pane(parent, Id("UPAN", 1));
    pane.InstallEventHandler();
    pane.rec.Take();
    PUSHBUTTON inside(pane.AsParent(), Id("PUSH", 9));
    PUSHBUTTON outside(parent, Id("OKAY", 0));
    inside.SendOwnerNotification(CONTROLNOTIFY_TEXTCHANGED, 77);
    outside.SendOwnerNotification(CONTROLNOTIFY_SELECTION, 5);
    EXPECT_THAT(Delivered(), ElementsAre("OnControlEvent 0x501 push 5"));
    EXPECT_THAT(pane.rec.Take(), ElementsAre("OnControlEvent 0x201 push 77"));
    // The group box is no user pane: its controls report to the window.
    CHECKBOX(parent, Id("RDIO", 2)).SendOwnerNotification(CONTROLNOTIFY_TEXTACCEPTED, 0);
    EXPECT_THAT(Delivered(), ElementsAre("OnControlEvent 0x202 rdio 0"));
}

TEST_F(ControlTest, OwnedControlsGoWithTheirObjectAndLeaveNoAddressBehind)
{
    plat::ViewRef view = nullptr;
    {
        PUSHBUTTON made(parent, Id("MADE", 1), 0, 10, 10, 80, 24);
        view = made.GetControlRef();
        ASSERT_TRUE(made.IsValid());
        EXPECT_EQ(made.GetKind(), CONTROLKIND_PUSH);
        EXPECT_STREQ(made.GetText().Buf(), "PUSHBUTTON");
        EXPECT_EQ(CONTROL::GetThisFromControlRef(view, true), &made);
        EXPECT_EQ(plat::GetSuperview(view), parent.view);
    }
    EXPECT_FALSE(plat::IsViewValid(view));

    // A slider object registers itself without owning the slider; once it
    // is gone the slider stays and its tracking reaches nobody.
    SLIDERBAR* slider = new SLIDERBAR(parent, Id("SLDR", 1));
    plat::ViewRef sv = slider->GetControlRef();
    EXPECT_EQ(CONTROL::GetThisFromControlRef(sv, false), slider);
    delete slider;
    EXPECT_TRUE(plat::IsViewValid(sv));
    EXPECT_EQ(CONTROL::GetThisFromControlRef(sv, false), nullptr);
    SLIDERBAR::TrackingProc(sv, 129);
    EXPECT_THAT(Reported(), ElementsAre("err==noErr && This!=NULL"));
    EXPECT_THAT(Delivered(), IsEmpty());
}

TEST_F(ControlTest, CreatedControlsStartAsTheirClassSays)
{
    struct Case {
        std::function<std::unique_ptr<CONTROL>(CONTROLID)> make;
        FOURCHARCODE kind;
        char const* text;
        int value, minimum, maximum;
    } const cases[] = {
        {[&](CONTROLID id) { return std::make_unique<PUSHBUTTON>(parent, id, 0, 0, 0, 80, 24); }, CONTROLKIND_PUSH,
         "PUSHBUTTON", 0, 0, 1},
        {[&](CONTROLID id) { return std::make_unique<CHECKBOX>(parent, id, 0, 0, 0, 80, 24); },
         CONTROLKIND_CHECKBOX, "CHECKBOX", 0, 0, 2},
        {[&](CONTROLID id) { return std::make_unique<BEVELBUTTON>(parent, id, BEVELBUTTONSTYLE_TOGGLES, 0, 0, 80, 24); },
         CONTROLKIND_BEVEL, "BEVELBUTTON", 0, 0, 1},
        {[&](CONTROLID id) { return std::make_unique<DISCLOSUREBUTTON>(parent, id, 0, 0, 0, 80, 24); },
         CONTROLKIND_DISCLOSURE, "", 0, 0, 1},
        {[&](CONTROLID id) { return std::make_unique<ENTRYFIELD>(parent, id, 0, 0, 0, 80, 24); },
         CONTROLKIND_EDITUNICODE, "ENTRYFIELD", 0, 0, 0},
        {[&](CONTROLID id) { return std::make_unique<STATICTEXT>(parent, id, 0, 0, 0, 80, 24); },
         CONTROLKIND_STATICTEXT, "STATIC", 0, 0, 0},
        {[&](CONTROLID id) { return std::make_unique<SCROLLBAR>(parent, id, 0, 0, 0, 80, 16); },
         CONTROLKIND_SCROLLBAR, nullptr, 0, 0, 50},
        {[&](CONTROLID id) { return std::make_unique<PROGRESSBAR>(parent, id, 0, 0, 80, 16); },
         CONTROLKIND_PROGRESS, nullptr, 0, 0, 100},
        {[&](CONTROLID id) { return std::make_unique<STATICICON>(parent, id, 0, 0, 0, 32, 32); }, CONTROLKIND_ICON,
         nullptr, 0, 0, 0},
    };
    int n = 0;
    for (auto const& c : cases) {
        SCOPED_TRACE(plat::FourCCText(c.kind));
        std::unique_ptr<CONTROL> made = c.make(Id("NEWC", ++n));
        ASSERT_TRUE(made->IsValid());
        EXPECT_EQ(made->GetKind(), c.kind);
        EXPECT_EQ(made->GetId(), Id("NEWC", n));
        if (c.text) {
            EXPECT_STREQ(made->GetText().Buf(), c.text);
        }
        EXPECT_EQ(made->GetControlValue(), c.value);
        EXPECT_EQ(made->GetControlMinimum(), c.minimum);
        EXPECT_EQ(made->GetControlMaximum(), c.maximum);
    }
    // Not offered, and reported: icon push buttons, scroll bars in a
    // template's place, scroll bar styles other than 0 and 1.
    PUSHBUTTON icon(parent, Id("ICNB", 1), PUSHBUTTONSTYLE_ICON, 0, 0, 40, 40);
    EXPECT_TRUE(icon.IsValid());
    EXPECT_EQ(icon.SetIcon(nullptr), 0);
    SCROLLBAR templ(parent, Id("SBAR", 9), 0, Id("OKAY", 0));
    EXPECT_FALSE(templ.IsValid());
    SCROLLBAR odd(parent, Id("SBAR", 8), 5, 0, 0, 16, 80);
    EXPECT_THAT(Reported(), ElementsAre("FALSE", "FALSE", "FALSE", "FALSE"));
}

TEST_F(ControlTest, ATemplateGivesItsPlaceAndIdToTheControlMadeForIt)
{
    // Under the template's own id, inset 0: the template is hidden,
    // disabled and loses its id.
    ENTRYFIELD field(parent, Id("TEXT", 1), Id("TEXT", 1));
    ASSERT_TRUE(field.IsValid());
    EXPECT_EQ(field.GetRect(), (RECT{120, 14, 300, 38}));
    EXPECT_EQ(CONTROL(parent, Id("TEXT", 1)).GetControlRef(), field.GetControlRef());
    std::vector<plat::ViewRef> siblings = plat::GetSubviews(parent.view);
    auto at = std::find(siblings.begin(), siblings.end(), field.GetControlRef());
    ASSERT_NE(at + 1, siblings.end());
    CONTROL templ(*(at + 1)); // directly behind the new control
    EXPECT_EQ(templ.GetId(), CONTROLID{});
    EXPECT_FALSE(templ.IsEnabled());
    EXPECT_FALSE(plat::IsViewLatentlyVisible(templ.GetControlRef()));

    // Another id: the template keeps it.
    PROGRESSBAR bar(parent, Id("NEWP", 1), Id("PRGB", 1));
    EXPECT_EQ(bar.GetRect(), (RECT{20, 260, 220, 276}));
    CONTROL progress(parent, Id("PRGB", 1));
    EXPECT_TRUE(progress.IsValid());
    EXPECT_FALSE(plat::IsViewLatentlyVisible(progress.GetControlRef()));
    // Inset: the template stays as a frame one pixel around.
    RECT inset = STATICTEXT(parent, Id("NEWS", 1), 0, 0, 0, 10, 10).MoveToTemplateControl(parent, Id("STXT", 1), true);
    EXPECT_EQ(inset, (RECT{21, 17, 179, 35}));
    EXPECT_TRUE(plat::IsViewLatentlyVisible(CONTROL(parent, Id("STXT", 1)).GetControlRef()));

    STATICTEXT lost(parent, Id("NEWL", 1), 0, Id("GONE", 1));
    EXPECT_THAT(Reported(), ElementsAre("could not find reference view"));
}

// An entry field whose rules are handled by its object.
class EntryTest : public ControlTest {
protected:
    void SetUp() override
    {
        ControlTest::SetUp();
        sound = std::make_shared<SoundCounter>();
        plat::SetAudioSink(sound);
        field = std::make_unique<ENTRYFIELD>(parent, Id("TEXT", 1));
    }
    void TearDown() override
    {
        field.reset();
        plat::SetAudioSink(nullptr);
        ControlTest::TearDown();
    }
    // What the field's handler makes of an edit: the replacement it
    // answers, or "(inserted)" when it lets the edit through.
    std::string Edit(int location, int length, std::u32string const& candidate)
    {
        plat::EventPtr e = plat::Event::Create(plat::kEventClassTextField, plat::kEventTextShouldChangeInRange);
        e->Set(plat::kParamDirectObject, plat::kTypeView, field->GetControlRef());
        e->Set(plat::kParamTextRange, plat::kTypeTextRange, plat::TextRange{location, length});
        e->SetParam(plat::kParamText, plat::kTypeUTF32, candidate.data(), candidate.size() * 4);
        if (plat::SendEvent(*e, plat::ViewTarget(field->GetControlRef()), plat::kSendDontPropagate) != plat::kNoErr)
            return "(inserted)";
        size_t n = 0;
        e->GetParamBytes(plat::kParamReplacementText, plat::kTypeUTF32, nullptr, 0, &n);
        std::u32string r(n / 4, U'\0');
        e->GetParamBytes(plat::kParamReplacementText, plat::kTypeUTF32, r.data(), n);
        return std::string(r.begin(), r.end());
    }

    std::shared_ptr<SoundCounter> sound;
    std::unique_ptr<ENTRYFIELD> field;
};

TEST_F(EntryTest, DigitsAndLengthAreEnforcedWhileTyping)
{
    struct Case {
        bool numbersOnly;
        int maxLength;
        char const* text;
        int location, length;
        std::u32string candidate;
        char const* result;
        int alerts;
    } const cases[] = {
        {true, 0, "12", 2, 0, U"12a", "", 1},              // a letter refuses the whole paste
        {true, 0, "12", 2, 0, U"123", "(inserted)", 0},
        {true, 0, "12", 0, 2, U"", "(inserted)", 0},        // deleting is always fine
        {false, 5, "abcd", 4, 0, U"xyz", "x", 1},          // room for one
        {false, 5, "abcd", 1, 2, U"xyz", "(inserted)", 0}, // two selected: room for three
        {false, 5, "abcde", 5, 0, U"xyz", "", 1},           // no room at all
        {true, 5, "1234", 4, 0, U"56", "5", 1},            // digits, then the length
        {false, 0, "abcd", 4, 0, U"anything", "(inserted)", 0},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " + " + std::string(c.candidate.begin(), c.candidate.end()));
        field->SetNumbersOnly(c.numbersOnly);
        field->SetTextLength(c.maxLength);
        field->SetControlText(c.text);
        sound->alerts = 0;
        EXPECT_EQ(Edit(c.location, c.length, c.candidate), c.result);
        EXPECT_EQ(sound->alerts, c.alerts);
    }
}

TEST_F(EntryTest, ChangesAreReportedOnceTheInputMethodConfirms)
{
    field->SetTextLength(0); // installs the handler
    plat::SetKeyboardFocus(field->GetControlRef());
    Delivered();
    // The window lets the typed text through to the field.
    dialog->rec.answers["OnKeyboardEvent"] = false;
    auto reports = [this] {
        std::vector<std::string> out;
        for (std::string const& line : Delivered())
            if (line.rfind("OnControlEvent", 0) == 0)
                out.push_back(line);
        return out;
    };
    ASSERT_EQ(plat::SimulateInputMethod(field->GetControlRef(), U"ni", U""), plat::kNoErr);
    EXPECT_THAT(reports(), IsEmpty());
    ASSERT_EQ(plat::SimulateInputMethod(field->GetControlRef(), U"hao", U"\u4F60\u597D"), plat::kNoErr);
    EXPECT_THAT(reports(), ElementsAre("OnControlEvent 0x201 eutx 0"));
    EXPECT_EQ(WSTRING::WSTRCMP(field->GetTextWide().Buf(), L"terminal\x4F60\x597D"), 0);
}

TEST_F(EntryTest, SelectionsAndTheDefaultButtonsParking)
{
    field->SetControlText("terminal");
    ASSERT_TRUE(field->SetSelection(-5, -1));
    int start = -1, end = -1;
    ASSERT_TRUE(field->GetSelection(&start, &end));
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 8); // "to the end"
    field->SetSelection(2, 4);
    field->GetSelection(&start, &end);
    EXPECT_EQ(start, 2);
    EXPECT_EQ(end, 4);
    // Positions beyond what the selection record holds stop at its end
    // instead of wrapping round.
    field->SetControlText(std::string(40000, 'x').c_str());
    field->SetSelection(40000, 40001);
    field->GetSelection(&start, &end);
    EXPECT_EQ(start, 32767);
    EXPECT_EQ(end, 32767);
    field->SetControlText("terminal");
    EXPECT_TRUE(field->SetReadOnly(true));
    EXPECT_TRUE(plat::IsTextReadOnly(field->GetControlRef()));

    // While a field that wants Return has the focus, the window has no
    // default button; it gets it back when the focus leaves.
    plat::WindowRef const w = dialog->GetWindow();
    plat::ViewRef const ok = CONTROL(parent, Id("OKAY", 0)).GetControlRef();
    ASSERT_EQ(plat::GetWindowDefaultButton(w), ok);
    field->SetWantReturn(true);
    auto focus = [&](int32_t part) {
        plat::EventPtr e = plat::Event::Create(plat::kEventClassControl, plat::kEventControlSetFocusPart);
        e->Set(plat::kParamDirectObject, plat::kTypeView, field->GetControlRef());
        e->Set(plat::kParamControlPart, plat::kTypeSInt32, part);
        return plat::SendEvent(*e, plat::ViewTarget(field->GetControlRef()));
    };
    focus(1);
    EXPECT_EQ(plat::GetWindowDefaultButton(w), nullptr);
    EXPECT_EQ(reinterpret_cast<plat::ViewRef>(field->GetControlProperty(CPROP_PARKEDDEFAULT)), ok);
    focus(0);
    EXPECT_EQ(plat::GetWindowDefaultButton(w), ok);
    EXPECT_EQ(field->GetControlProperty(CPROP_PARKEDDEFAULT), 0u);
    // Without want-Return the focus changes nothing.
    field->SetWantReturn(false);
    focus(1);
    EXPECT_EQ(plat::GetWindowDefaultButton(w), ok);
}

TEST_F(ControlTest, ValueControlsCountAsWindowsDoes)
{
    SLIDERBAR vertical(parent, Id("SLDR", 2)); // 24 x 120, range 0..100
    vertical.SetPos(30, 1);
    EXPECT_EQ(vertical.GetControlValue(), 70);
    EXPECT_EQ(vertical.GetPos(), 30);
    SLIDERBAR horizontal(parent, Id("SLDR", 1));
    horizontal.SetRange(10, 20, 0);
    horizontal.SetPos(12, 0);
    EXPECT_EQ(horizontal.GetPos(), 12);
    vertical.SetPos(101, 0); // beyond minimum + maximum
    EXPECT_THAT(Reported(), ElementsAre("invertoffset>=pos"));

    SCROLLBAR bar(parent, Id("SBAR", 1));
    bar.SetScrollbar(10, 20, 0, 99);
    EXPECT_EQ(bar.GetControlMinimum(), 0);
    EXPECT_EQ(bar.GetControlMaximum(), 80);
    EXPECT_EQ(plat::GetControlViewSize(bar.GetControlRef()), 20);
    EXPECT_EQ(bar.GetControlValue(), 10);
    bar.SetScrollbar(30, 5, -1, -1);
    EXPECT_EQ(bar.GetControlMaximum(), 80);
    EXPECT_EQ(bar.GetControlValue(), 30);
    EXPECT_EQ(plat::GetControlViewSize(bar.GetControlRef()), 5);
    bar.SetPos(7, 0); // no report
    EXPECT_EQ(bar.GetControlValue(), 7);
    // The program's sets hit with part 0, which is no scroll.
    EXPECT_THAT(Delivered(), IsEmpty());
    PROGRESSBAR progress(parent, Id("PRGB", 1));
    progress.SetRange(200);
    progress.SetPos(150);
    EXPECT_EQ(progress.GetControlValue(), 150);
    EXPECT_EQ(progress.GetControlMaximum(), 200);
}

TEST_F(ControlTest, SpinArrowsSitOnTheirBuddyAndCountInIt)
{
    SPINBUTTON spin(parent, Id("SPBT", 1), Id("SPIN", 10)); // the buddy at (240, 200), 80 x 24
    ASSERT_TRUE(spin.IsValid());
    EXPECT_EQ(spin.GetRect(), (RECT{312, 201, 328, 224}));
    ENTRYFIELD buddy(parent, Id("SPIN", 10));
    EXPECT_EQ(reinterpret_cast<plat::ViewRef>(spin.GetControlProperty(CPROP_BUDDY)), buddy.GetControlRef());
    EXPECT_EQ(reinterpret_cast<plat::ViewRef>(buddy.GetControlProperty(CPROP_BUDDY)), spin.GetControlRef());
    EXPECT_EQ(spin.GetValue(), 5);
    spin.SetMinMax(10, 1);
    EXPECT_EQ(spin.GetControlMinimum(), 1);
    EXPECT_EQ(spin.GetControlMaximum(), 10);
    spin.SetValue(50);
    EXPECT_STREQ(buddy.GetText().Buf(), "10");
    SPINBUTTON::LittleArrowActionProc(spin.GetControlRef(), 21);
    SPINBUTTON::LittleArrowActionProc(spin.GetControlRef(), 21);
    EXPECT_STREQ(buddy.GetText().Buf(), "8");
    plat::SetControlIncrement(spin.GetControlRef(), 5);
    SPINBUTTON::LittleArrowActionProc(spin.GetControlRef(), 20);
    EXPECT_EQ(spin.GetValue(), 10); // clamped
    buddy.SetControlText("-40");
    EXPECT_EQ(spin.GetValue(), 1);
    spin.SetValueWithMinMax(-3, -5, 5);
    EXPECT_STREQ(buddy.GetText().Buf(), "-3");
}

} // namespace
