// Dialogs: made from a layout, centred over their owner, run modally until
// a button, the close box or Escape ends them with a code.
#include "tests/velmot/gui/toolkit_fixture.h"
#include "velmot/gui/winbuttons.h"

#include <gmock/gmock.h>

#include <functional>

using namespace guifix;
using ::testing::ElementsAre;
using plat::FourCC;

namespace {

// A dialog that records its ending and may refuse to close.
class TESTDIALOG : public DIALOG {
public:
    using DIALOG::DIALOG;
    bool OnClose() override
    {
        closes.push_back(GetResult());
        return refuseClose ? true : DIALOG::OnClose();
    }
    bool OnDialogDismissed(int rc) override
    {
        dismissed.push_back(rc);
        return false;
    }
    bool OnShown() override
    {
        shown.push_back("shown");
        return false;
    }
    bool OnHidden() override
    {
        shown.push_back("hidden");
        return false;
    }
    bool refuseClose = false;
    std::vector<std::string> shown;
    std::vector<int> closes;
    std::vector<int> dismissed;
};

class DialogTest : public ToolkitTest {
protected:
    // Runs `act` inside the dialog's modal run (once it is up).
    void WhileRunning(std::function<void(plat::ModalRequest const&)> act)
    {
        plat::AddModalResponder(plat::kModalWindow, [act](plat::ModalRequest const& r, plat::ModalAnswer&) {
            act(r);
            return true;
        });
    }
};

TEST_F(DialogTest, ButtonsEndTheRunWithTheirCode)
{
    struct Case {
        CONTROLID button;
        int code;
    } const cases[] = {
        {{FourCC("OKAY"), 0}, static_cast<int>(FourCC("OKAY"))},
        {{0, 7}, 7},                   // signature 0: the number
        {DIALOG_CANCELBUTTON, 0},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.button.AsString().Buf());
        TESTDIALOG dialog("DLG_TEST_MODAL", nullptr);
        ASSERT_TRUE(dialog.IsValid());
        bool visible = false;
        WhileRunning([&](plat::ModalRequest const& r) {
            visible = plat::IsWindowVisible(r.window);
            PUSHBUTTON(dialog.GetClientParent(), c.button).SimulateHit(plat::kControlPartButton);
        });
        EXPECT_EQ(dialog.Process(), c.code);
        EXPECT_TRUE(visible);
        EXPECT_FALSE(dialog.IsVisible()); // hidden again
        EXPECT_THAT(dialog.dismissed, ElementsAre(c.code));
        // Shown once (the run makes it modal first) and hidden once: no
        // flicker.
        EXPECT_THAT(dialog.shown, ElementsAre("shown", "hidden"));
    }
}

TEST_F(DialogTest, TheCloseBoxEndsWithZeroUnlessAnOverrideKeepsIt)
{
    TESTDIALOG dialog("DLG_TEST_MODAL", nullptr);
    WhileRunning([&](plat::ModalRequest const& r) {
        plat::EventPtr close = plat::Event::Create(plat::kEventClassWindow, plat::kEventWindowClose);
        close->Set(plat::kParamDirectObject, plat::kTypeWindow, r.window);
        plat::SendEvent(*close, plat::WindowTarget(r.window));
    });
    EXPECT_EQ(dialog.Process(), 0);
    EXPECT_TRUE(dialog.IsValid()); // closed, not disposed

    // An override that does not dismiss keeps the run going; a button ends it.
    dialog.refuseClose = true;
    WhileRunning([&](plat::ModalRequest const& r) {
        dialog.OnClose();
        EXPECT_TRUE(plat::IsModalLoopRunning(reinterpret_cast<uintptr_t>(r.window)));
        PUSHBUTTON(dialog.GetClientParent(), CONTROLID{0, 7}).SimulateHit(plat::kControlPartButton);
    });
    EXPECT_EQ(dialog.Process(), 7);
    EXPECT_THAT(dialog.closes, ElementsAre(0, 0));
}

TEST_F(DialogTest, EscapeAloneCloses)
{
    TESTDIALOG dialog("DLG_TEST_MODAL", nullptr);
    KEYBOARDEVENT escape;
    escape.Valid = 1;
    escape.Keycode = 27;
    EXPECT_TRUE(dialog.OnKeyboardEvent(escape));
    EXPECT_THAT(dialog.closes, ElementsAre(0));
    for (uint32_t flag : {KEYFLAG_SHIFT, KEYFLAG_CONTROL, KEYFLAG_OPTION, KEYFLAG_COMMAND, 0x100u}) {
        escape.Flags = flag;
        EXPECT_FALSE(dialog.OnKeyboardEvent(escape)) << flag;
    }
    KEYBOARDEVENT other;
    other.Keycode = 13;
    EXPECT_FALSE(dialog.OnKeyboardEvent(other));
    EXPECT_EQ(dialog.closes.size(), 1u);
}

TEST_F(DialogTest, CentredOverItsOwnerWithTheFocusOnItsFirstControl)
{
    RECWINDOW owner(WINDOWSTYLE_DOCUMENT, "Owner", 100, 80, 500, 400);
    owner.Show(true);
    PumpUntil([&] { return owner.IsVisible(); });
    TESTDIALOG dialog("DLG_TEST_MODAL", owner.GetWindow());
    EXPECT_EQ(dialog.GetOwner(), owner.GetWindow());
    EXPECT_FALSE(dialog.IsVisible());
    RECT const o = owner.GetRect();
    RECT const d = dialog.GetRect();
    EXPECT_EQ(d.left, (o.right - o.left - (d.right - d.left)) / 2 + o.left);
    EXPECT_EQ(d.top, (o.bottom - o.top - (d.bottom - d.top)) / 2 + o.top);
    EXPECT_EQ(dialog.GetFocus(), CONTROL(dialog.GetClientParent(), CONTROLID{FourCC("TEXT"), 1}).GetControlRef());

    // Run without showing: the caller's business.
    dialog.Show(true);
    WhileRunning([&](plat::ModalRequest const&) { dialog.Dismiss(42); });
    EXPECT_EQ(dialog.Process(true), 42);
    EXPECT_TRUE(dialog.IsVisible());
    // Dismiss outside a run only keeps the code.
    dialog.Dismiss(5);
    EXPECT_EQ(dialog.GetResult(), 5);
}

} // namespace
