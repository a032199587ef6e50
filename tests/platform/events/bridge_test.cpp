// Windows, views and the translation of Qt's events into ours.
#include "platform/events/keys.h"
#include "platform/events/painter_qt.h"
#include "tests/platform/events/qt_fixture.h"

#include <gmock/gmock.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QWheelEvent>

#include <thread>

using namespace plat;
using qtfix::QtTest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

constexpr EventType kKeyTypes[] = {{kEventClassKeyboard, kEventKeyDown},
                                   {kEventClassKeyboard, kEventKeyRepeat},
                                   {kEventClassKeyboard, kEventKeyUp},
                                   {kEventClassKeyboard, kEventKeyModifiersChanged},
                                   {kEventClassTextInput, kEventTextForKey}};

std::vector<EventType> AllWindowKinds()
{
    std::vector<EventType> t;
    for (uint32_t k : {kEventWindowActivated, kEventWindowDeactivated, kEventWindowShown, kEventWindowHidden,
                       kEventWindowBoundsChanging, kEventWindowBoundsChanged, kEventWindowCollapsed,
                       kEventWindowExpanded, kEventWindowClose, kEventWindowFocusAcquired,
                       kEventWindowFocusRelinquish, kEventWindowDispose})
        t.push_back({kEventClassWindow, k});
    return t;
}

using BridgeTest = QtTest;

TEST_F(BridgeTest, WindowHasRootAndContentViewsAndATreeOfPanes)
{
    WindowRef w = MakeWindow(400, 300, false);
    ViewRef root = WindowRootView(w);
    ViewRef content = WindowContentView(w);
    EXPECT_EQ(GetViewKind(root), kViewKindRoot);
    EXPECT_EQ(GetViewKind(content), kViewKindContent);
    EXPECT_EQ(GetViewId(content), kContentViewId);
    EXPECT_EQ(GetSuperview(content), root);
    EXPECT_EQ(GetViewWindow(content), w);
    EXPECT_EQ(GetTargetParent(ViewTarget(content)), ViewTarget(root));
    EXPECT_EQ(GetTargetParent(ViewTarget(root)), WindowTarget(w));
    EXPECT_EQ(GetTargetParent(WindowTarget(w)), ApplicationTarget());
    EXPECT_EQ(GetViewFrame(content), (RectI{0, 0, 400, 300}));

    const OSType sig = FourCC("TEST");
    ViewRef a = CreateUserPane(content, {10, 10, 110, 60}, {sig, 1});
    ViewRef b = CreateUserPane(content, {20, 20, 120, 70}, {sig, 2});
    ViewRef inner = CreateUserPane(a, {5, 5, 25, 25}, {sig, 3}, FourCC("plac"));
    ASSERT_TRUE(a && b && inner);
    // The newest is in front.
    EXPECT_THAT(GetSubviews(content), ElementsAre(b, a));
    EXPECT_EQ(FindViewById(root, {sig, 3}), inner);
    EXPECT_EQ(FindViewById(content, {sig, 9}), nullptr);
    EXPECT_EQ(GetViewKind(inner), FourCC("plac"));
    EXPECT_EQ(GetViewFrame(inner), (RectI{5, 5, 25, 25}));
    EXPECT_EQ(ConvertViewPoint({1, 2}, inner, content).x, 16);
    EXPECT_EQ(ConvertViewPoint({1, 2}, inner, content).y, 17);

    // Moving a subtree keeps its frame and rewires the chain.
    ASSERT_EQ(AddSubview(b, a), kNoErr);
    EXPECT_EQ(GetSuperview(a), b);
    EXPECT_EQ(GetTargetParent(ViewTarget(a)), ViewTarget(b));
    EXPECT_EQ(GetViewFrame(a), (RectI{10, 10, 110, 60}));
    EXPECT_EQ(AddSubview(inner, b), kErrBadArgument); // would be a loop

    EXPECT_TRUE(IsViewVisible(inner));
    SetViewVisible(a, false);
    EXPECT_FALSE(IsViewVisible(inner));
    EXPECT_TRUE(IsViewLatentlyVisible(inner));
    SetViewEnabled(a, false);
    EXPECT_FALSE(IsViewEnabled(inner));

    SetViewMaximum(inner, 100);
    SetViewValue(inner, 150);
    EXPECT_EQ(GetViewValue(inner), 100);
    SetViewMinimum(inner, 10);
    SetViewValue(inner, -5);
    EXPECT_EQ(GetViewValue(inner), 10);
    SetViewMaximum(inner, 5); // an empty range keeps the value as it is
    EXPECT_EQ(GetViewValue(inner), 10);

    const char tag[] = "page7";
    ASSERT_EQ(SetViewProperty(inner, FourCC("VLMT"), FourCC("HLPI"), tag, sizeof tag), kNoErr);
    char got[16] = {};
    size_t n = 0;
    ASSERT_EQ(GetViewProperty(inner, FourCC("VLMT"), FourCC("HLPI"), got, sizeof got, &n), kNoErr);
    EXPECT_EQ(n, sizeof tag);
    EXPECT_STREQ(got, "page7");
    EXPECT_EQ(GetWindowProperty(w, FourCC("VLMT"), FourCC("HLPI"), got, sizeof got), kErrParamNotFound);
}

TEST_F(BridgeTest, DisposingTellsWindowThenViewsAndLeavesOnlyStaleHandles)
{
    WindowRef w = MakeWindow(300, 200, false);
    ViewRef pane = CreateUserPane(WindowContentView(w), {0, 0, 50, 50}, {FourCC("TEST"), 1});
    ViewRef child = CreateUserPane(pane, {0, 0, 10, 10}, {FourCC("TEST"), 2});
    const EventType dispose{kEventClassControl, kEventControlDispose};
    Record(WindowTarget(w), {{kEventClassWindow, kEventWindowDispose}}, kNoErr, "window ");
    Record(ViewTarget(pane), {dispose}, kNoErr, "pane ");
    Record(ViewTarget(child), {dispose}, kNoErr, "child ");
    Record(ViewTarget(WindowContentView(w)), {dispose}, kNoErr, "content ");

    ASSERT_EQ(DisposeView(child), kNoErr);
    EXPECT_THAT(log_, ElementsAre("child cntl 1001"));
    EXPECT_FALSE(IsViewValid(child));
    EXPECT_EQ(SetViewValue(child, 1), kErrTargetGone);
    EXPECT_EQ(DisposeView(child), kErrTargetGone);
    EXPECT_EQ(GetViewFrame(child), RectI{});

    log_.clear();
    ASSERT_EQ(DisposeWindow(w), kNoErr);
    EXPECT_THAT(log_, ElementsAre("window wind 1005", "content cntl 1001", "pane cntl 1001"));
    EXPECT_FALSE(IsWindowValid(w));
    EXPECT_FALSE(IsViewValid(pane));
    EXPECT_EQ(ShowWindow(w, true), kErrTargetGone);
    EXPECT_EQ(WindowContentView(w), nullptr);
    EXPECT_EQ(CreateUserPane(pane, {0, 0, 1, 1}, {}), nullptr);
    EXPECT_THAT(ListWindows(), IsEmpty());
}

TEST_F(BridgeTest, AViewWhoseWidgetQtDeletesGoesStale)
{
    WindowRef w = MakeWindow(300, 200, false);
    ViewRef pane = CreateUserPane(WindowContentView(w), {0, 0, 50, 50}, {});
    ViewRef child = CreateUserPane(pane, {0, 0, 10, 10}, {});
    delete bridge::WidgetOfView(pane); // takes the child widget with it
    EXPECT_FALSE(IsViewValid(pane));
    EXPECT_FALSE(IsViewValid(child));
    EXPECT_FALSE(IsTargetAlive(ViewTarget(child)));
    EXPECT_THAT(GetSubviews(WindowContentView(w)), IsEmpty());
}

TEST_F(BridgeTest, KeysReachTheFocusedViewAndClimbToTheWindow)
{
    WindowRef w = MakeWindow();
    ViewRef pane = CreateUserPane(WindowContentView(w), {0, 0, 100, 100}, {});
    SetKeyboardFocus(pane);
    std::vector<KeyRecord> records;
    InstallHandler(WindowTarget(w), kKeyTypes, [&](HandlerCall&, Event& e) {
        log_.push_back(qtfix::Name(e));
        KeyRecord r;
        if (e.Get(kParamKeyRecord, kTypeKeyRecord, &r) == kNoErr)
            records.push_back(r);
        if (e.Class() == kEventClassTextInput) {
            char32_t text[8] = {};
            size_t n = 0;
            e.GetParamBytes(kParamText, kTypeUTF32, text, sizeof text, &n);
            log_.push_back("text " + std::to_string(n / 4) + " " + std::to_string(text[0]));
        }
        return kErrEventNotHandled;
    });
    Record(ViewTarget(pane), {std::begin(kKeyTypes), std::end(kKeyTypes)}, kErrEventNotHandled, "pane ");

    QTest::keyClick(bridge::WidgetOfView(pane), Qt::Key_A, Qt::ControlModifier);
    // The pane sees each event before the window; the raw key first, then the
    // text it types, then the release.
    EXPECT_THAT(log_, ElementsAre("pane keyb 4", "keyb 4", "pane keyb 1", "keyb 1", "pane text 2", "text 2",
                                  "text 1 1", "pane keyb 3", "keyb 3", "pane keyb 4", "keyb 4"));
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[1].vk, 'A');
    EXPECT_EQ(records[1].scan, 0x1E);
    EXPECT_EQ(records[1].ch, U'\x01');
    EXPECT_EQ(records[1].modifiers & kModControl, kModControl);
    EXPECT_EQ(records[3].flags & kKeyRelease, kKeyRelease);
}

TEST_F(BridgeTest, UnhandledKeysGoOnToTheWidgetHandledOnesDoNot)
{
    WindowRef w = MakeWindow();
    auto* edit = new QLineEdit;
    ViewRef field = bridge::CreateViewForWidget(edit, WindowContentView(w), {0, 0, 200, 24}, {FourCC("TEXT"), 1},
                                                FourCC("eutx"));
    ASSERT_NE(field, nullptr);
    SetKeyboardFocus(field);
    // The window takes the raw 'x' only.
    InstallHandler(WindowTarget(w), kKeyTypes, [](HandlerCall&, Event& e) {
        KeyRecord r;
        if (e.Class() == kEventClassKeyboard && e.Get(kParamKeyRecord, kTypeKeyRecord, &r) == kNoErr && r.vk == 'X')
            return kNoErr;
        return kErrEventNotHandled;
    });
    QTest::keyClicks(edit, "axb");
    EXPECT_EQ(edit->text().toStdString(), "ab");
}

// A plain widget inside a view that ignores keys makes Qt pass the same
// event on to its parents; our chain must still run only once per key.
TEST_F(BridgeTest, QtPropagationDoesNotRunTheChainTwice)
{
    WindowRef w = MakeWindow();
    ViewRef pane = CreateUserPane(WindowContentView(w), {0, 0, 100, 100}, {});
    auto* plain = new QWidget(bridge::WidgetOfView(pane));
    plain->setFocusPolicy(Qt::StrongFocus);
    plain->show();
    plain->setFocus();
    Record(WindowTarget(w), {{kEventClassKeyboard, kEventKeyDown}});
    QTest::keyClick(plain, Qt::Key_F5);
    EXPECT_THAT(log_, ElementsAre("keyb 1"));
}

TEST_F(BridgeTest, ShortcutsOfQtActionsDoNotTakeKeysBeforeTheChain)
{
    WindowRef w = MakeWindow();
    QWidget* top = bridge::WidgetOfWindow(w);
    auto* action = new QAction(top);
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    top->addAction(action);
    int triggered = 0;
    QObject::connect(action, &QAction::triggered, [&] { ++triggered; });
    ViewRef pane = CreateUserPane(WindowContentView(w), {0, 0, 100, 100}, {});
    SetKeyboardFocus(pane);
    Record(WindowTarget(w), {{kEventClassKeyboard, kEventKeyDown}}, kNoErr);
    QTest::keyClick(bridge::WidgetOfView(pane), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_THAT(log_, ElementsAre("keyb 1"));
    EXPECT_EQ(triggered, 0);
}

TEST_F(BridgeTest, MouseEventsCarryButtonClicksAndPositions)
{
    WindowRef w = MakeWindow();
    ViewRef pane = CreateUserPane(WindowContentView(w), {40, 30, 140, 130}, {});
    struct Seen {
        uint32_t kind, button, clicks;
        PointF inView, inWindow;
        uint32_t mods;
    };
    std::vector<Seen> seen;
    std::vector<EventType> types = {{kEventClassMouse, kEventMouseDown}, {kEventClassMouse, kEventMouseUp}};
    InstallHandler(WindowTarget(w), types, [&](HandlerCall&, Event& e) {
        Seen s{e.Kind(), 0, 0, {}, {}, 0};
        e.Get(kParamMouseButton, kTypeUInt32, &s.button);
        e.Get(kParamClickCount, kTypeUInt32, &s.clicks);
        e.Get(kParamMouseInView, kTypePoint, &s.inView);
        e.Get(kParamMouseInWindow, kTypePoint, &s.inWindow);
        e.Get(kParamKeyModifiers, kTypeUInt32, &s.mods);
        seen.push_back(s);
        return kNoErr;
    });
    QWidget* pw = bridge::WidgetOfView(pane);
    // Hand-made events, so the time stamps say what a double click is.
    auto send = [&](QEvent::Type type, Qt::MouseButton b, Qt::KeyboardModifiers mods, quint64 time) {
        const QPointF local(5, 7);
        QMouseEvent ev(type, local, pw->mapToGlobal(local), b, type == QEvent::MouseButtonRelease ? Qt::NoButton : b,
                       mods);
        ev.setTimestamp(time);
        QApplication::sendEvent(pw, &ev);
    };
    send(QEvent::MouseButtonPress, Qt::LeftButton, Qt::ShiftModifier, 10000);
    send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::ShiftModifier, 10050);
    send(QEvent::MouseButtonPress, Qt::LeftButton, Qt::NoModifier, 10100);   // a double click
    send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoModifier, 10150);
    send(QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::NoModifier, 10200); // Qt's form of a third press
    send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoModifier, 10250);
    send(QEvent::MouseButtonPress, Qt::RightButton, Qt::NoModifier, 20000); // much later: a new first click
    send(QEvent::MouseButtonRelease, Qt::RightButton, Qt::NoModifier, 20050);
    ASSERT_EQ(seen.size(), 8u);
    EXPECT_EQ(seen[0].kind, kEventMouseDown);
    EXPECT_EQ(seen[0].button, 1u);
    EXPECT_EQ(seen[0].mods & kModShift, kModShift);
    EXPECT_DOUBLE_EQ(seen[0].inView.x, 5);
    EXPECT_DOUBLE_EQ(seen[0].inView.y, 7);
    EXPECT_DOUBLE_EQ(seen[0].inWindow.x, 45);
    EXPECT_DOUBLE_EQ(seen[0].inWindow.y, 37);
    EXPECT_EQ(seen[1].kind, kEventMouseUp);
    std::vector<uint32_t> clicks;
    for (const Seen& s : seen)
        clicks.push_back(s.kind == kEventMouseDown ? s.clicks : 0);
    EXPECT_THAT(clicks, ElementsAre(1, 0, 2, 0, 3, 0, 1, 0));
    EXPECT_EQ(seen[6].button, 2u);
}

TEST_F(BridgeTest, WheelNotchesAreCountedWhole)
{
    WindowRef w = MakeWindow();
    ViewRef pane = CreateUserPane(WindowContentView(w), {0, 0, 100, 100}, {});
    std::vector<std::pair<uint32_t, int32_t>> seen;
    const EventType wheel{kEventClassMouse, kEventMouseWheel};
    InstallHandler(ViewTarget(pane), {&wheel, 1}, [&](HandlerCall&, Event& e) {
        uint32_t axis = 9;
        int32_t delta = 0;
        e.Get(kParamWheelAxis, kTypeUInt32, &axis);
        e.Get(kParamWheelDelta, kTypeSInt32, &delta);
        seen.emplace_back(axis, delta);
        return kNoErr;
    });
    QWidget* pw = bridge::WidgetOfView(pane);
    auto turn = [&](QPoint angle) {
        QWheelEvent ev(QPointF(10, 10), pw->mapToGlobal(QPointF(10, 10)), QPoint(), angle, Qt::NoButton,
                       Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(pw, &ev);
    };
    turn({0, -360});
    turn({0, 60}); // half a notch: nothing yet
    turn({0, 60});
    turn({120, 0});
    EXPECT_THAT(seen, ElementsAre(std::pair<uint32_t, int32_t>{1, -3}, std::pair<uint32_t, int32_t>{1, 1},
                                  std::pair<uint32_t, int32_t>{0, 1}));
}

TEST_F(BridgeTest, PanesPaintThroughTheDrawEvent)
{
    WindowRef w = MakeWindow(200, 100, false);
    ViewRef pane = CreateUserPane(WindowContentView(w), {10, 10, 60, 40}, {});
    RectI update;
    bool gotPainter = false;
    const EventType draw{kEventClassControl, kEventControlDraw};
    InstallHandler(ViewTarget(pane), {&draw, 1}, [&](HandlerCall&, Event& e) {
        PainterRef ref = nullptr;
        gotPainter = e.Get(kParamDrawContext, kTypePainter, &ref) == kNoErr && ref;
        e.Get(kParamUpdateRect, kTypeIntRect, &update);
        if (gotPainter)
            PainterFromRef(ref)->fillRect(0, 0, 50, 30, Qt::red);
        return kNoErr;
    });
    // A draw event never climbs: the window must not get the pane's painter.
    Record(WindowTarget(w), {draw});
    QImage shot = bridge::WidgetOfView(pane)->grab().toImage();
    EXPECT_TRUE(gotPainter);
    EXPECT_EQ(update, (RectI{0, 0, 50, 30}));
    EXPECT_EQ(shot.pixelColor(25, 15), QColor(Qt::red));
    EXPECT_THAT(log_, IsEmpty());
}

TEST_F(BridgeTest, AWorkersInvalidationsArePaintedOtherViewCallsAreRefusedLoudly)
{
    WindowRef w = MakeWindow(200, 100, false);
    ViewRef pane = CreateUserPane(WindowContentView(w), {10, 10, 110, 60}, {});
    ViewRef doomed = CreateUserPane(WindowContentView(w), {150, 10, 160, 20}, {});
    QCoreApplication::processEvents();
    RectI painted;
    const EventType draw{kEventClassControl, kEventControlDraw};
    InstallHandler(ViewTarget(pane), {&draw, 1}, [&](HandlerCall&, Event& e) {
        RectI r;
        e.Get(kParamUpdateRect, kTypeIntRect, &r);
        painted = painted.Width() ? RectI{std::min(painted.left, r.left), std::min(painted.top, r.top),
                                          std::max(painted.right, r.right), std::max(painted.bottom, r.bottom)}
                                  : r;
        return kNoErr;
    });
    QTest::qWait(20); // the first showing's paint
    ProcessPendingEvents(100000);
    painted = RectI{};

    Status marked = -1, framed = -1, doomedMarked = -1;
    int32_t value = -1;
    testing::internal::CaptureStderr();
    std::thread worker([&] {
        for (int i = 0; i < 1000; ++i) {
            const RectI r{i % 90, 5, i % 90 + 10, 15};
            const Status s = SetViewNeedsDisplay(pane, &r);
            if (i == 0 || s != kNoErr)
                marked = s;
        }
        doomedMarked = SetViewNeedsDisplay(doomed);
        framed = SetViewFrame(pane, {0, 0, 10, 10});
        value = GetViewValue(pane);
    });
    worker.join();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(marked, kNoErr);
    EXPECT_EQ(doomedMarked, kNoErr);
    EXPECT_EQ(framed, kErrWrongThread);
    EXPECT_EQ(value, 0);
    EXPECT_THAT(err, HasSubstr("SetViewFrame called off the main thread"));
    EXPECT_THAT(err, HasSubstr("GetViewValue called off the main thread"));
    EXPECT_EQ(GetViewFrame(pane), (RectI{10, 10, 110, 60}));

    // A view that goes before the main thread takes the marks loses its
    // own; all the others arrive in one task and are painted.
    DisposeView(doomed);
    EXPECT_EQ(ProcessPendingEvents(100000), 1);
    EXPECT_TRUE(qtfix::Eventually([&] { return painted.Width() > 0; }));
    EXPECT_EQ(painted, (RectI{0, 5, 99, 15}));
}

TEST_F(BridgeTest, WindowEventsForShowResizeMoveActivateAndFocus)
{
    WindowSpec spec;
    spec.bounds = {100, 100, 400, 300};
    WindowRef w = CreateWindow(spec);
    std::vector<EventType> kinds = AllWindowKinds();
    Record(WindowTarget(w), kinds);
    ShowWindow(w, true);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(bridge::WidgetOfWindow(w)));
    ActivateWindow(w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(bridge::WidgetOfWindow(w)));
    EXPECT_THAT(log_, ElementsAre("wind 24", "wind 5", "wind 200"));

    // Sizes are reported as changing, then changed; a handler of the
    // changing event may ask for another size.
    log_.clear();
    RectI prev, cur;
    uint32_t attrs = 0;
    const EventType changed{kEventClassWindow, kEventWindowBoundsChanged};
    InstallHandler(WindowTarget(w), {&changed, 1}, [&](HandlerCall&, Event& e) {
        e.Get(kParamPreviousBounds, kTypeIntRect, &prev);
        e.Get(kParamCurrentBounds, kTypeIntRect, &cur);
        e.Get(kParamAttributes, kTypeUInt32, &attrs);
        return kErrEventNotHandled;
    });
    SetWindowBounds(w, {100, 100, 500, 350});
    EXPECT_TRUE(qtfix::Eventually([&] { return GetWindowBounds(w).Width() == 400; }));
    EXPECT_TRUE(qtfix::Eventually([&] { return !log_.empty() && log_.back() == "wind 27"; }));
    EXPECT_THAT(log_, ElementsAre("wind 26", "wind 27"));
    EXPECT_EQ(attrs, kBoundsSizeChanged);
    EXPECT_EQ(prev, (RectI{100, 100, 400, 300}));
    EXPECT_EQ(cur, (RectI{100, 100, 500, 350}));

    const EventType changing{kEventClassWindow, kEventWindowBoundsChanging};
    HandlerRef snap = InstallHandler(WindowTarget(w), {&changing, 1}, [](HandlerCall&, Event& e) {
        RectI r;
        e.Get(kParamCurrentBounds, kTypeIntRect, &r);
        r.right = r.left + (r.Width() / 100) * 100; // whole hundreds only
        e.Set(kParamCurrentBounds, kTypeIntRect, r);
        return kNoErr;
    });
    SetWindowBounds(w, {100, 100, 650, 350});
    EXPECT_TRUE(qtfix::Eventually([&] { return GetWindowBounds(w).Width() == 500; }));
    RemoveHandler(snap);

    log_.clear();
    SetWindowBounds(w, {130, 140, 630, 390});
    EXPECT_TRUE(qtfix::Eventually([&] { return !log_.empty(); }));
    EXPECT_THAT(log_, ElementsAre("wind 27"));
    EXPECT_EQ(attrs, kBoundsOriginChanged);

    // Hiding the active window deactivates it first.
    log_.clear();
    ShowWindow(w, false);
    EXPECT_THAT(log_, ElementsAre("wind 201", "wind 6", "wind 25"));
}

TEST_F(BridgeTest, CloseRefusedKeepsTheWindowUnrefusedDisposesIt)
{
    WindowRef w = MakeWindow(200, 100, false);
    QWidget* top = bridge::WidgetOfWindow(w);
    bool refuse = true;
    const EventType close{kEventClassWindow, kEventWindowClose};
    InstallHandler(WindowTarget(w), {&close, 1}, [&](HandlerCall&, Event&) {
        log_.push_back("close");
        return refuse ? kNoErr : kErrEventNotHandled;
    });
    Record(WindowTarget(w), {{kEventClassWindow, kEventWindowDispose}});
    EXPECT_FALSE(top->close());
    EXPECT_TRUE(IsWindowValid(w));
    EXPECT_TRUE(top->isVisible());
    refuse = false;
    top->close();
    EXPECT_THAT(log_, ElementsAre("close", "close", "wind 1005"));
    EXPECT_FALSE(IsWindowValid(w));
}

TEST_F(BridgeTest, FocusMovesBetweenPanesAsSetFocusPartEvents)
{
    WindowRef w = MakeWindow();
    ViewRef a = CreateUserPane(WindowContentView(w), {0, 0, 50, 50}, {});
    ViewRef b = CreateUserPane(WindowContentView(w), {60, 0, 110, 50}, {});
    std::vector<std::string> parts;
    const EventType focus{kEventClassControl, kEventControlSetFocusPart};
    for (ViewRef v : {a, b}) {
        const std::string tag = v == a ? "a" : "b";
        InstallHandler(ViewTarget(v), {&focus, 1}, [&parts, tag](HandlerCall&, Event& e) {
            int32_t part = -1;
            e.Get(kParamControlPart, kTypeSInt32, &part);
            parts.push_back(tag + std::to_string(part));
            return kNoErr;
        });
    }
    SetKeyboardFocus(a);
    SetKeyboardFocus(b);
    EXPECT_THAT(parts, ElementsAre("a1", "a0", "b1"));
    EXPECT_EQ(GetKeyboardFocus(w), b);
}

TEST_F(BridgeTest, ListWindowsFollowsActivation)
{
    WindowRef a = MakeWindow(100, 100);
    WindowRef b = MakeWindow(100, 100);
    EXPECT_THAT(ListWindows(), ElementsAre(b, a));
    ActivateWindow(a);
    EXPECT_TRUE(QTest::qWaitForWindowActive(bridge::WidgetOfWindow(a)));
    EXPECT_THAT(ListWindows(), ElementsAre(a, b));
}

} // namespace
