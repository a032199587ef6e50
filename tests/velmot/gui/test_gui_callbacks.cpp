// Event translation: platform events, as the platform sends them to a
// window and its views, become the Windows-shaped callbacks.
#include "tests/velmot/core/assertrecorder.h"
#include "tests/velmot/gui/gui_fixture.h"

#include "platform/events/testinput.h"
#include "platform/services/sound.h"

#include <atomic>
#include <memory>

using namespace guifix;

namespace {

using plat::FourCC;

// A window with two child views, active: the child `left` at (50, 40) in
// the content, 200 x 100, and `right` at (300, 40), 80 x 100.
class CallbackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = std::make_unique<TESTWINDOW>();
        ASSERT_TRUE(Activate(window->GetWindow()));
        left = std::make_unique<TESTCHILD>(window->Content(), plat::RectI{50, 40, 250, 140});
        right = std::make_unique<TESTCHILD>(window->Content(), plat::RectI{300, 40, 380, 140},
                                            plat::kViewKindUserPane, plat::ViewId{FourCC("CHLD"), 2});
        plat::ProcessPendingEvents(1000);
        window->rec.Take();
        left->rec.Take();
        right->rec.Take();
    }
    void TearDown() override
    {
        left.reset();
        right.reset();
        window.reset();
        plat::ClearModalResponders();
        plat::ProcessPendingEvents(100000);
    }

    plat::TargetRef Target() const { return plat::WindowTarget(window->GetWindow()); }

    plat::EventPtr Mouse(uint32_t kind, double x, double y, uint32_t button, uint32_t modifiers) const
    {
        plat::EventPtr e = plat::Event::Create(plat::kEventClassMouse, kind);
        e->Set(plat::kParamMouseInWindow, plat::kTypePoint, plat::PointF{x, y});
        e->Set(plat::kParamMouseButton, plat::kTypeUInt32, button);
        e->Set(plat::kParamKeyModifiers, plat::kTypeUInt32, modifiers);
        e->Set(plat::kParamWindow, plat::kTypeWindow, window->GetWindow());
        return e;
    }

    plat::EventPtr Wheel(uint32_t axis, int32_t delta, double x, double y) const
    {
        plat::EventPtr e = Mouse(plat::kEventMouseWheel, x, y, 0, 0);
        e->Set(plat::kParamWheelAxis, plat::kTypeUInt32, axis);
        e->Set(plat::kParamWheelDelta, plat::kTypeSInt32, delta);
        return e;
    }

    plat::EventPtr Command(uint32_t kind, uint32_t attributes, uint32_t id, uintptr_t source = 0) const
    {
        plat::EventPtr e = plat::Event::Create(plat::kEventClassCommand, kind);
        plat::CommandRecord cmd;
        cmd.attributes = attributes;
        cmd.commandId = id;
        cmd.source = source;
        e->Set(plat::kParamDirectObject, plat::kTypeCommand, cmd);
        return e;
    }

    plat::EventPtr WindowEvent(uint32_t kind) const
    {
        plat::EventPtr e = plat::Event::Create(plat::kEventClassWindow, kind);
        e->Set(plat::kParamDirectObject, plat::kTypeWindow, window->GetWindow());
        return e;
    }

    static plat::EventPtr ControlEvent(uint32_t kind, plat::ViewRef control, int32_t part)
    {
        plat::EventPtr e = plat::Event::Create(plat::kEventClassControl, kind);
        e->Set(plat::kParamDirectObject, plat::kTypeView, control);
        e->Set(plat::kParamControlPart, plat::kTypeSInt32, part);
        return e;
    }

    std::unique_ptr<TESTWINDOW> window;
    std::unique_ptr<TESTCHILD> left;
    std::unique_ptr<TESTCHILD> right;
};

TEST_F(CallbackTest, MouseButtonsAndModifiersBecomeWindowsMessages)
{
    struct Case {
        char const* what;
        uint32_t kind, button, modifiers;
        char const* reached; // what the left child gets; null: nothing
    };
    constexpr uint32_t kCtrl = plat::kModControl;
    const Case cases[] = {
        {"left down", plat::kEventMouseDown, 1, 0, "OnMouseEvent 0x201 10 12 0"},
        {"left up", plat::kEventMouseUp, 1, 0, "OnMouseEvent 0x202 10 12 0"},
        {"control-click down is a right click", plat::kEventMouseDown, 1, kCtrl, "OnMouseEvent 0x204 10 12 16"},
        {"control-click up", plat::kEventMouseUp, 1, kCtrl, "OnMouseEvent 0x205 10 12 16"},
        {"control and shift stay a left click", plat::kEventMouseDown, 1, kCtrl | plat::kModShift,
         "OnMouseEvent 0x201 10 12 12"},
        {"shift", plat::kEventMouseDown, 1, plat::kModShift, "OnMouseEvent 0x201 10 12 4"},
        {"caps lock is not shift", plat::kEventMouseDown, 1, plat::kModCapsLock, "OnMouseEvent 0x201 10 12 0"},
        {"right button", plat::kEventMouseDown, 2, 0, "OnMouseEvent 0x204 10 12 0"},
        {"control with the right button", plat::kEventMouseUp, 2, kCtrl, "OnMouseEvent 0x205 10 12 8"},
        {"middle up", plat::kEventMouseUp, 3, 0, "OnMouseEvent 0x208 10 12 0"},
        {"moved", plat::kEventMouseMoved, 0, 0, "OnMouseEvent 0x200 10 12 0"},
        {"dragged", plat::kEventMouseDragged, 1, plat::kModShift, "OnMouseEvent 0x200 10 12 4"},
        {"a fourth button has no message", plat::kEventMouseDown, 4, 0, nullptr},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        // (60.9, 52.7) in the window is (10, 12) in the left child, the
        // fractions cut off.
        plat::EventPtr e = Mouse(c.kind, 60.9, 52.7, c.button, c.modifiers);
        EXPECT_EQ(plat::SendEvent(*e, Target()), plat::kErrEventNotHandled)
            << "clicks go on to the platform's own handling";
        std::vector<std::string> got = left->rec.Take();
        if (c.reached)
            EXPECT_EQ(got, std::vector<std::string>{c.reached});
        else
            EXPECT_TRUE(got.empty());
        EXPECT_TRUE(right->rec.Take().empty());
    }
}

TEST_F(CallbackTest, TheVerticalWheelReachesTheViewUnderTheMouse)
{
    // Over the child: delivered, and the wheel turn is handled.
    plat::EventPtr e = Wheel(1, -3, 70, 60);
    EXPECT_EQ(plat::SendEvent(*e, Target()), plat::kNoErr);
    EXPECT_EQ(left->rec.Take(), std::vector<std::string>{"OnMouseEvent 0x20a 20 20 -3"});

    // Over a data browser the view gets it too, but the platform scrolls.
    TESTCHILD browser(window->Content(), plat::RectI{50, 200, 250, 280}, CONTROLKIND_DATABROWSER);
    browser.rec.Take();
    e = Wheel(1, 2, 60, 210);
    EXPECT_EQ(plat::SendEvent(*e, Target()), plat::kErrEventNotHandled);
    EXPECT_EQ(browser.rec.Take(), std::vector<std::string>{"OnMouseEvent 0x20a 10 10 2"});

    // The horizontal wheel has no message: nobody gets it and the
    // platform handles it.
    e = Wheel(0, 1, 70, 60);
    EXPECT_EQ(plat::SendEvent(*e, Target()), plat::kErrEventNotHandled);
    EXPECT_TRUE(left->rec.Take().empty());
    EXPECT_TRUE(window->rec.Take().empty());
}

TEST_F(CallbackTest, TheMouseGoesToTheViewThatCapturedIt)
{
    plat::ViewRef const capture = right->view;
    plat::SetWindowProperty(window->GetWindow(), VLMT_CREATOR, WPROP_CAPTURE, &capture, sizeof capture);
    plat::EventPtr e = Mouse(plat::kEventMouseMoved, 60, 50, 0, 0);
    plat::SendEvent(*e, Target());
    EXPECT_TRUE(left->rec.Take().empty());
    EXPECT_EQ(right->rec.Take(), std::vector<std::string>{"OnMouseEvent 0x200 -240 10 0"});

    // A capturing view that is gone is forgotten.
    right.reset();
    e = Mouse(plat::kEventMouseMoved, 60, 50, 0, 0);
    plat::SendEvent(*e, Target());
    EXPECT_EQ(left->rec.Take(), std::vector<std::string>{"OnMouseEvent 0x200 10 10 0"});
    MSGWORD stored = 1;
    EXPECT_EQ(plat::GetWindowProperty(window->GetWindow(), VLMT_CREATOR, WPROP_CAPTURE, &stored, sizeof stored),
              plat::kErrParamNotFound);
}

// The mouse messages a child got since the last look (focus and other
// callbacks left out).
std::vector<std::string> MouseOf(TESTCHILD& child)
{
    std::vector<std::string> out;
    for (std::string const& line : child.rec.Take())
        if (line.rfind("OnMouseEvent", 0) == 0)
            out.push_back(line.substr(13));
    return out;
}

TEST_F(CallbackTest, ADragBelongsToTheViewThatGotThePress)
{
    namespace ti = plat::testinput;
    using Lines = std::vector<std::string>;
    // From the left child across into the right one: every move and the
    // release stay with the left child, in its coordinates. (The window
    // system moves the mouse to where a press happens first.)
    ASSERT_EQ(ti::Drag(left->view, {10, 10}, {270, 20}, ti::Button::Left, 0, 2), plat::kNoErr);
    EXPECT_EQ(MouseOf(*left), (Lines{"0x200 10 10 0", "0x201 10 10 0", "0x200 140 15 0", "0x200 270 20 0",
                                     "0x202 270 20 0"}));
    EXPECT_EQ(MouseOf(*right), Lines{});

    // With the gesture over, the mouse goes by the point again.
    ti::MouseMove(left->view, {271, 21});
    EXPECT_EQ(MouseOf(*right), Lines{"0x200 21 21 0"});
    EXPECT_EQ(MouseOf(*left), Lines{});

    // A second button pressed during a drag keeps it where it is; the
    // gesture ends with the last button.
    ti::MouseDown(right->view, {5, 5});
    ti::MouseDown(left->view, {10, 10}, ti::Button::Right);
    ti::MouseUp(right->view, {5, 5});
    ti::MouseMove(left->view, {10, 10});
    ti::MouseUp(left->view, {10, 10}, ti::Button::Right);
    EXPECT_EQ(MouseOf(*right), (Lines{"0x200 5 5 0", "0x201 5 5 0", "0x200 -240 10 0", "0x204 -240 10 0",
                                      "0x200 5 5 0", "0x202 5 5 0", "0x200 -240 10 0", "0x205 -240 10 0"}));
    EXPECT_EQ(MouseOf(*left), Lines{});
    ti::MouseMove(left->view, {11, 11});
    EXPECT_EQ(MouseOf(*left), Lines{"0x200 11 11 0"});

    // A view that captured the mouse gets it whoever got the press.
    plat::ViewRef const capture = right->view;
    plat::SetWindowProperty(window->GetWindow(), VLMT_CREATOR, WPROP_CAPTURE, &capture, sizeof capture);
    ti::Drag(left->view, {10, 10}, {20, 10}, ti::Button::Left, 0, 1);
    EXPECT_EQ(MouseOf(*left), Lines{});
    EXPECT_EQ(MouseOf(*right), (Lines{"0x200 -240 10 0", "0x201 -240 10 0", "0x200 -230 10 0", "0x202 -230 10 0"}));
}

TEST_F(CallbackTest, AFirstClickOnAnInactiveWindowActivatesItAndActs)
{
    TESTWINDOW other(RECT{520, 100, 720, 300});
    TESTCHILD pane(other.Content(), plat::RectI{10, 10, 110, 110});
    plat::ShowWindow(other.GetWindow(), true);
    ASSERT_TRUE(plat::IsWindowActive(window->GetWindow()));
    ASSERT_FALSE(plat::IsWindowActive(other.GetWindow()));
    std::vector<std::string> journal;
    for (auto [rec, tag] : {std::pair{&window->rec, "main "}, {&other.rec, "other "}, {&pane.rec, "pane "},
                            {&left->rec, "left "}}) {
        rec->journal = &journal;
        rec->tag = tag;
    }
    auto seen = [&journal] {
        std::vector<std::string> out;
        for (std::string const& line : journal)
            if (line.find("ctivated") != std::string::npos || line.find("OnMouseEvent 0x20") != std::string::npos)
                out.push_back(line);
        journal.clear();
        return out;
    };

    // The previous window is deactivated and the new one activated before
    // the click, which then acts like any other.
    plat::testinput::Click(pane.view, {5, 5});
    EXPECT_EQ(seen(), (std::vector<std::string>{"main OnDeactivated", "other OnActivated",
                                                "pane OnMouseEvent 0x201 5 5 0", "pane OnMouseEvent 0x202 5 5 0"}));
    EXPECT_TRUE(plat::IsWindowActive(other.GetWindow()));
    // The window system's own activation, when it comes, changes nothing.
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(seen(), std::vector<std::string>{});

    // Back in the first window: the same the other way round.
    plat::testinput::Click(left->view, {1, 1});
    EXPECT_EQ(seen(), (std::vector<std::string>{"other OnDeactivated", "main OnActivated",
                                                "left OnMouseEvent 0x201 1 1 0", "left OnMouseEvent 0x202 1 1 0"}));
    for (auto* rec : {&window->rec, &other.rec, &pane.rec, &left->rec})
        rec->journal = nullptr;
}

TEST_F(CallbackTest, MenuCommandsReachOnCommand)
{
    struct Case {
        char const* what;
        uint32_t kind, attributes, id;
        plat::Status status;
        char const* reached;
    };
    const Case cases[] = {
        {"a menu command", 1, plat::kCommandFromMenu, FourCC("abcd"), plat::kNoErr, "OnCommand abcd"},
        {"the application help item", 1, plat::kCommandFromMenu, FourCC("ahlp"), plat::kNoErr, "OnCommand ID9A"},
        {"not from a menu", 1, 0, FourCC("abcd"), plat::kErrEventNotHandled, nullptr},
        {"command 0", 1, plat::kCommandFromMenu, 0, plat::kErrEventNotHandled, nullptr},
        {"update status of close", 2, plat::kCommandFromMenu, FourCC("clos"), plat::kNoErr, nullptr},
        {"update status of another", 2, plat::kCommandFromMenu, FourCC("abcd"), plat::kErrEventNotHandled, nullptr},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        plat::EventPtr e = Command(c.kind, c.attributes, c.id);
        EXPECT_EQ(plat::SendEvent(*e, Target()), c.status);
        std::vector<std::string> got = window->rec.Take();
        if (c.reached)
            EXPECT_EQ(got, std::vector<std::string>{c.reached});
        else
            EXPECT_TRUE(got.empty());
    }
}

class AlertCounter : public plat::AudioSink {
public:
    bool PlayWav(plat::Bytes const&, bool) override { return true; }
    bool PlayFile(std::string const&) override { return true; }
    void Alert() override { ++alerts; }
    std::atomic<int> alerts{0};
};

TEST_F(CallbackTest, CommandsWhileASheetIsOpenOrAPopupTracksOrTheWindowIsInactive)
{
    auto sink = std::make_shared<AlertCounter>();
    plat::SetAudioSink(sink);
    // A sheet open on the window: the alert sound, no command.
    TESTWINDOW sheet(RECT{150, 150, 300, 250});
    window->rec.Take();
    plat::WindowRef const sheetRef = sheet.GetWindow();
    ASSERT_TRUE(Activate(window->GetWindow()));
    window->rec.Take();
    plat::SetWindowProperty(window->GetWindow(), VLMT_CREATOR, WPROP_SHEET, &sheetRef, sizeof sheetRef);
    plat::EventPtr e = Command(1, plat::kCommandFromMenu, FourCC("abcd"));
    EXPECT_EQ(plat::SendEvent(*e, Target()), plat::kErrEventNotHandled);
    EXPECT_EQ(sink->alerts, 1);
    EXPECT_TRUE(window->rec.Take().empty());
    plat::RemoveWindowProperty(window->GetWindow(), VLMT_CREATOR, WPROP_SHEET);

    // A pop-up menu being tracked takes the choice into its property.
    MSGWORD const tracking = FourCC("MPOP");
    plat::SetWindowProperty(window->GetWindow(), VLMT_CREATOR, WPROP_POPUP, &tracking, sizeof tracking);
    e = Command(1, plat::kCommandFromMenu, FourCC("item"));
    EXPECT_EQ(plat::SendEvent(*e, Target()), plat::kNoErr);
    EXPECT_TRUE(window->rec.Take().empty());
    EXPECT_EQ(window->GetWindowProperty(WPROP_POPUP), FourCC("item"));
    plat::RemoveWindowProperty(window->GetWindow(), VLMT_CREATOR, WPROP_POPUP);

    // A toolbar item's command; a command of another window is not this one's.
    TESTCHILD item(window->Content(), plat::RectI{0, 0, 20, 20}, CONTROLKIND_TOOLBARITEM);
    e = Command(1, plat::kCommandFromControl, FourCC("tool"), reinterpret_cast<uintptr_t>(item.view));
    EXPECT_EQ(plat::SendEvent(*e, Target()), plat::kNoErr);
    EXPECT_EQ(window->rec.Take(), std::vector<std::string>{"OnCommand tool"});
    e = Command(1, plat::kCommandFromMenu | plat::kCommandFromWindow, FourCC("abcd"),
                reinterpret_cast<uintptr_t>(sheetRef));
    EXPECT_EQ(plat::SendEvent(*e, Target()), plat::kErrEventNotHandled);
    window->rec.Take();

    // An inactive window takes no commands.
    ASSERT_TRUE(Activate(sheetRef));
    ASSERT_FALSE(plat::IsWindowActive(window->GetWindow()));
    window->rec.Take();
    e = Command(1, plat::kCommandFromMenu, FourCC("abcd"));
    EXPECT_EQ(plat::SendEvent(*e, Target()), plat::kErrEventNotHandled);
    EXPECT_TRUE(window->rec.Take().empty());
    plat::SetAudioSink(nullptr);
}

TEST_F(CallbackTest, CommandsNoWindowTakesReachTheApplication)
{
    TESTAPP app;
    plat::EventPtr e = Command(1, plat::kCommandFromMenu, FourCC("8420"));
    EXPECT_EQ(plat::SendEvent(*e, plat::ApplicationTarget()), plat::kNoErr);
    EXPECT_EQ(app.commands, std::vector<std::string>{"8420"});
}

TEST_F(CallbackTest, ALiveResizeCanBeAdjustedByOnSizing)
{
    plat::RectI const prev{100, 100, 500, 400};
    struct Case {
        char const* what;
        plat::RectI cur;
        bool answer;
        int shrink; // pixels taken off the frame's right edge
        plat::Status status;
        plat::RectI after;
        char const* reached;
    };
    const Case cases[] = {
        {"right edge, adjusted", {100, 100, 640, 400}, true, 40, plat::kNoErr, {100, 100, 600, 400}, "OnSizing 2"},
        {"left and top edges, declined", {90, 80, 500, 400}, false, 40, plat::kErrEventNotHandled, {90, 80, 500, 400},
         "OnSizing 5"},
        {"accepted as proposed", {100, 100, 500, 450}, true, 0, plat::kErrEventNotHandled, {100, 100, 500, 450},
         "OnSizing 8"},
        {"a move only", {120, 100, 520, 400}, true, 40, plat::kErrEventNotHandled, {120, 100, 520, 400}, nullptr},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        window->rec.answers["OnSizing"] = c.answer;
        window->sizing = [&](RECT* frame) { frame->right -= c.shrink; };
        plat::EventPtr e = WindowEvent(plat::kEventWindowBoundsChanging);
        e->Set(plat::kParamPreviousBounds, plat::kTypeIntRect, prev);
        e->Set(plat::kParamCurrentBounds, plat::kTypeIntRect, c.cur);
        EXPECT_EQ(plat::SendEvent(*e, Target(), plat::kSendDontPropagate), c.status);
        plat::RectI after;
        e->Get(plat::kParamCurrentBounds, plat::kTypeIntRect, &after);
        EXPECT_EQ(after, c.after);
        std::vector<std::string> got = window->rec.Take();
        if (c.reached)
            EXPECT_EQ(got, std::vector<std::string>{c.reached});
        else
            EXPECT_TRUE(got.empty());
    }
}

TEST_F(CallbackTest, ZoomingTwiceReturnsToTheFirstRectangle)
{
    plat::WindowRef const w = window->GetWindow();
    plat::RectI const before = plat::GetWindowBounds(w);
    plat::EventPtr e = WindowEvent(75);
    EXPECT_EQ(plat::SendEvent(*e, Target(), plat::kSendDontPropagate), plat::kErrEventNotHandled)
        << "the first zoom is the window system's";
    plat::SetWindowBounds(w, plat::RectI{0, 0, 700, 500}); // as the window system zooms it
    PumpUntil([&] { return plat::GetWindowBounds(w).Width() == 700; });
    e = WindowEvent(75);
    EXPECT_EQ(plat::SendEvent(*e, Target(), plat::kSendDontPropagate), plat::kNoErr);
    EXPECT_TRUE(PumpUntil([&] { return plat::GetWindowBounds(w) == before; }));
    RECT saved{1, 1, 1, 1};
    plat::GetWindowProperty(w, VLMT_CREATOR, WPROP_ZOOM, &saved, sizeof saved);
    EXPECT_EQ(saved, RECT{});
}

TEST_F(CallbackTest, WindowEventsReachTheirCallbacks)
{
    struct Case {
        uint32_t kind;
        uint32_t attributes;
        std::vector<std::string> reached;
        MSGWORD fullscreen; // ISMX afterwards, -1: not looked at
    };
    const Case cases[] = {
        {plat::kEventWindowShown, 0, {"OnShown"}, MSGWORD(-1)},
        {plat::kEventWindowHidden, 0, {"OnHidden"}, MSGWORD(-1)},
        {plat::kEventWindowBoundsChanged, plat::kBoundsSizeChanged | plat::kBoundsOriginChanged,
         {"OnSized", "OnMoved"}, MSGWORD(-1)},
        {plat::kEventWindowBoundsChanged, plat::kBoundsOriginChanged, {"OnMoved"}, MSGWORD(-1)},
        {plat::kEventWindowCollapsed, 0, {"OnMinimized"}, MSGWORD(-1)},
        {plat::kEventWindowExpanded, 0, {"OnRestored"}, MSGWORD(-1)},
        {plat::kEventWindowFullScreenEnterStarted, 0, {}, 1},
        {plat::kEventWindowFullScreenExitStarted, 0, {}, 0},
        {plat::kEventWindowFocusAcquired, 0, {"OnFocusAcquired"}, MSGWORD(-1)},
        {plat::kEventWindowInit, 0, {"OnCreate"}, MSGWORD(-1)},
        {plat::kEventWindowClose, 0, {"OnClose"}, MSGWORD(-1)},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.kind);
        plat::EventPtr e = WindowEvent(c.kind);
        e->Set(plat::kParamAttributes, plat::kTypeUInt32, c.attributes);
        plat::SendEvent(*e, Target(), plat::kSendDontPropagate);
        EXPECT_EQ(window->rec.Take(), c.reached);
        if (c.fullscreen != MSGWORD(-1)) {
            EXPECT_EQ(window->GetWindowProperty(WPROP_FULLSCREEN), c.fullscreen);
        }
    }
    // A close the callbacks take keeps the window.
    EXPECT_TRUE(plat::IsWindowValid(window->GetWindow()));
    // Another window's events are not this one's.
    TESTWINDOW other(RECT{10, 10, 100, 100});
    window->rec.Take();
    plat::EventPtr e = plat::Event::Create(plat::kEventClassWindow, plat::kEventWindowShown);
    e->Set(plat::kParamDirectObject, plat::kTypeWindow, other.GetWindow());
    EXPECT_EQ(plat::SendEvent(*e, Target(), plat::kSendDontPropagate), plat::kErrEventNotHandled);
    EXPECT_TRUE(window->rec.Take().empty());
    // Disposing of the window reaches OnDestroy.
    window->Destroy();
    EXPECT_EQ(window->rec.Take(), std::vector<std::string>{"OnDestroy"});
}

TEST_F(CallbackTest, ControlHitsBecomeButtonControlAndScrollEvents)
{
    struct Case {
        char const* what;
        plat::OSType kind;
        plat::ViewId id;
        plat::RectI frame;
        int32_t value, minimum, maximum, part;
        char const* reached;
    };
    plat::RectI const wide{0, 200, 100, 220};
    plat::RectI const tall{0, 200, 20, 300};
    const Case cases[] = {
        {"push button", CONTROLKIND_PUSH, {FourCC("OKAY"), 3}, wide, 0, 0, 0, 0, "OnPushbutton OKAY 3"},
        {"help button", CONTROLKIND_BEVEL, {FourCC("HELP"), 0}, wide, 0, 0, 0, 0, "OnHelp"},
        {"check box", CONTROLKIND_CHECKBOX, {FourCC("CBOX"), 1}, wide, 1, 0, 1, 0, "OnControlEvent 0x101 cbox 0"},
        {"edit text", CONTROLKIND_EDITUNICODE, {FourCC("EDIT"), 1}, wide, 0, 0, 0, 0, "OnControlEvent 0x201 eutx 0"},
        {"combo box", CONTROLKIND_COMBOBOX, {FourCC("COMB"), 1}, wide, 0, 0, 0, 0, "OnControlEvent 0x301 cbbx 0"},
        {"tabs", CONTROLKIND_TABS, {FourCC("TABS"), 1}, wide, 0, 0, 0, 0, "OnControlEvent 0x602 tabs 0"},
        {"little arrows", CONTROLKIND_LITTLEARROWS, {FourCC("SPIN"), 1}, wide, 7, 0, 10, 0,
         "OnControlEvent 0x701 larr 7"},
        {"vertical slider, thumb", CONTROLKIND_SLIDER, {FourCC("SLID"), 1}, tall, 10, 0, 100, 129, "OnScrollEvent 4 90"},
        {"horizontal slider", CONTROLKIND_SLIDER, {FourCC("SLID"), 2}, wide, 10, 0, 100, 129, "OnScrollEvent 4 10"},
        {"scroll bar, page up", CONTROLKIND_SCROLLBAR, {FourCC("SBAR"), 1}, tall, 33, 0, 100, 22,
         "OnScrollEvent 2 33"},
        {"scroll bar, no part", CONTROLKIND_SCROLLBAR, {FourCC("SBAR"), 2}, tall, 33, 0, 100, 99, nullptr},
        {"data browser", CONTROLKIND_DATABROWSER, {FourCC("LIST"), 1}, wide, 0, 0, 0, 0, nullptr},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        plat::ViewRef control = plat::CreateUserPane(window->Content(), c.frame, c.id, c.kind);
        plat::SetViewMaximum(control, c.maximum);
        plat::SetViewMinimum(control, c.minimum);
        plat::SetViewValue(control, c.value);
        plat::EventPtr e = ControlEvent(plat::kEventControlHit, control, c.part);
        plat::Status s = plat::SendEvent(*e, plat::ViewTarget(control));
        std::vector<std::string> got = window->rec.Take();
        if (c.reached) {
            EXPECT_EQ(s, plat::kNoErr);
            EXPECT_EQ(got, std::vector<std::string>{c.reached});
        } else {
            EXPECT_EQ(s, plat::kErrEventNotHandled);
            EXPECT_TRUE(got.empty());
        }
        plat::DisposeView(control);
    }
}

TEST_F(CallbackTest, AChildWindowTakesItsOwnControlsAndFocus)
{
    plat::ViewRef button = plat::CreateUserPane(left->view, plat::RectI{5, 5, 60, 25}, {FourCC("BUTN"), 1},
                                                CONTROLKIND_PUSH);
    plat::EventPtr e = ControlEvent(plat::kEventControlHit, button, 0);
    EXPECT_EQ(plat::SendEvent(*e, plat::ViewTarget(button)), plat::kNoErr);
    EXPECT_EQ(left->rec.Take(), std::vector<std::string>{"OnPushbutton BUTN 1"});
    EXPECT_TRUE(window->rec.Take().empty());
    for (int32_t part : {1, 0}) {
        e = ControlEvent(plat::kEventControlSetFocusPart, left->view, part);
        EXPECT_EQ(plat::SendEvent(*e, plat::ViewTarget(left->view), plat::kSendDontPropagate),
                  plat::kErrEventNotHandled);
    }
    EXPECT_EQ(left->rec.Take(), (std::vector<std::string>{"OnFocusAcquired", "OnFocusLost"}));
}

TEST_F(CallbackTest, ToolkitMessagesToAView)
{
    // Mouse positions travel as signed 16-bit halves.
    EXPECT_EQ(DARWINDOW::SendMessage(left->view, WM_VMOUSE, WM_MOUSEMOVE, 0xFFF9FFFB, static_cast<MSGWORD>(-2)), 1u);
    EXPECT_EQ(left->rec.Take(), std::vector<std::string>{"OnMouseEvent 0x200 -5 -7 -2"});
    int data = 0;
    DARWINDOW::SendMessage(left->view, WM_VCONTROL, 0x201, reinterpret_cast<MSGWORD>(right->view),
                           reinterpret_cast<MSGWORD>(&data));
    EXPECT_EQ(left->rec.Take(), std::vector<std::string>{"OnControlEvent 0x201 upan " +
                                                         std::to_string(reinterpret_cast<intptr_t>(&data))});
    // A view's message is not the window's, nor the other view's.
    EXPECT_TRUE(window->rec.Take().empty());
    EXPECT_TRUE(right->rec.Take().empty());
}

TEST_F(CallbackTest, KeysReachTheRawThenTheTextHandler)
{
    auto raw = [&](plat::KeyRecord const& key) {
        plat::EventPtr e = plat::Event::Create(plat::kEventClassKeyboard, plat::kEventKeyDown);
        e->Set(plat::kParamKeyRecord, plat::kTypeKeyRecord, key);
        e->Set(plat::kParamKeyModifiers, plat::kTypeUInt32, key.modifiers);
        return plat::SendEvent(*e, Target());
    };
    auto text = [&](plat::KeyRecord const& key) {
        plat::EventPtr e = plat::Event::Create(plat::kEventClassTextInput, plat::kEventTextForKey);
        std::u32string t(1, key.ch);
        e->SetParam(plat::kParamText, plat::kTypeUTF32, t.data(), sizeof(char32_t));
        e->Set(plat::kParamKeyRecord, plat::kTypeKeyRecord, key);
        return plat::SendEvent(*e, Target());
    };
    plat::KeyRecord bs;
    bs.scan = 0x0E;
    bs.modifiers = plat::kModControl;
    bs.flags = plat::kKeyHasChar;
    bs.ch = 127;
    plat::KeyRecord enter = bs;
    enter.scan = 0x1C;
    enter.ch = 10;

    window->rec.answers["OnRawKeyboardEvent"] = false;
    window->rec.answers["OnKeyboardEvent"] = true;
    EXPECT_EQ(raw(bs), plat::kErrEventNotHandled) << "a raw key not taken goes on as text";
    EXPECT_EQ(text(bs), plat::kNoErr);
    EXPECT_EQ(raw(enter), plat::kErrEventNotHandled);
    EXPECT_EQ(text(enter), plat::kNoErr);
    EXPECT_EQ(window->rec.Take(), (std::vector<std::string>{"OnRawKeyboardEvent 127", "OnKeyboardEvent 127",
                                                            "OnRawKeyboardEvent 10", "OnKeyboardEvent 10"}));
    ASSERT_EQ(window->keys.size(), 4u);
    EXPECT_EQ(window->keys[0].Keycode, 8);
    EXPECT_EQ(window->keys[2].Keycode, 13);
    EXPECT_EQ(window->keys[3].Shiftstate, 2);
    window->rec.answers["OnRawKeyboardEvent"] = true;
    EXPECT_EQ(raw(bs), plat::kNoErr);
}

TEST_F(CallbackTest, TheCurrentLayoutTellsWhatAScanCodeTypes)
{
    // The tests run with the default (US) layout.
    KEYBOARD* kb = KEYBOARD::GetInstance();
    EXPECT_EQ(kb->TranslateScancode(0x10, 0), static_cast<uint32_t>('q'));
    EXPECT_EQ(kb->TranslateScancode(0x10, KEYMOD_SHIFT), static_cast<uint32_t>('Q'));
    EXPECT_EQ(kb->TranslateScancode(0x5C, 0), static_cast<uint32_t>('/')) << "keypad /, an extended key";
    EXPECT_EQ(kb->TranslateScancode(0x61, 0), 0u) << "the up arrow types nothing";
    EXPECT_EQ(kb->TranslateScancode(0xFF, 0), 0u);
    EXPECT_FALSE(kb->GetKeyState(16));
}

} // namespace
