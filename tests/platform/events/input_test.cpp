// Test input: mouse and keys entered where the window system enters them
// reach our targets through the event filter.
#include "platform/events/keys.h"
#include "platform/events/testinput.h"
#include "tests/platform/events/qt_fixture.h"

#include <gmock/gmock.h>

#include <QApplication>
#include <QLineEdit>

using namespace plat;
using qtfix::QtTest;
using ::testing::ElementsAre;

namespace ti = plat::testinput;

namespace {

constexpr EventType kMouseTypes[] = {{kEventClassMouse, kEventMouseDown},
                                     {kEventClassMouse, kEventMouseUp},
                                     {kEventClassMouse, kEventMouseDragged},
                                     {kEventClassMouse, kEventMouseWheel}};

constexpr EventType kKeyTypes[] = {{kEventClassKeyboard, kEventKeyDown},
                                   {kEventClassKeyboard, kEventKeyRepeat},
                                   {kEventClassKeyboard, kEventKeyUp},
                                   {kEventClassKeyboard, kEventKeyModifiersChanged},
                                   {kEventClassTextInput, kEventTextForKey}};

struct Mouse {
    uint32_t kind = 0, button = 0, clicks = 0, mods = 0;
    int32_t axis = -1, delta = 0;
    PointF inView, inWindow;
    ViewRef view = nullptr;
};

class InputTest : public QtTest {
protected:
    // A window with two panes side by side: a at (40, 30), b at (150, 30),
    // each 100 x 100.
    void SetUp() override
    {
        win = MakeWindow();
        a = CreateUserPane(WindowContentView(win), {40, 30, 140, 130}, {FourCC("PANE"), 1});
        b = CreateUserPane(WindowContentView(win), {150, 30, 250, 130}, {FourCC("PANE"), 2});
        InstallHandler(WindowTarget(win), kMouseTypes, [this](HandlerCall&, Event& e) {
            Mouse m;
            m.kind = e.Kind();
            e.Get(kParamMouseButton, kTypeUInt32, &m.button);
            e.Get(kParamClickCount, kTypeUInt32, &m.clicks);
            e.Get(kParamKeyModifiers, kTypeUInt32, &m.mods);
            e.Get(kParamMouseInView, kTypePoint, &m.inView);
            e.Get(kParamMouseInWindow, kTypePoint, &m.inWindow);
            e.Get(kParamDirectObject, kTypeView, &m.view);
            uint32_t axis = 0;
            if (e.Get(kParamWheelAxis, kTypeUInt32, &axis) == kNoErr)
                m.axis = static_cast<int32_t>(axis);
            e.Get(kParamWheelDelta, kTypeSInt32, &m.delta);
            mouse.push_back(m);
            return kErrEventNotHandled;
        });
    }

    std::vector<uint32_t> Kinds() const
    {
        std::vector<uint32_t> k;
        for (const Mouse& m : mouse)
            k.push_back(m.kind);
        return k;
    }

    WindowRef win = nullptr;
    ViewRef a = nullptr;
    ViewRef b = nullptr;
    std::vector<Mouse> mouse;
};

TEST_F(InputTest, ClicksAndDoubleClicksCarryPositionsButtonsAndCounts)
{
    ASSERT_EQ(ti::Click(a, {5, 7}, ti::Button::Left, kModShift), kNoErr);
    ASSERT_EQ(mouse.size(), 2u);
    EXPECT_EQ(mouse[0].kind, kEventMouseDown);
    EXPECT_EQ(mouse[0].view, a);
    EXPECT_EQ(mouse[0].button, 1u);
    EXPECT_EQ(mouse[0].clicks, 1u);
    EXPECT_EQ(mouse[0].mods & kModShift, kModShift);
    EXPECT_DOUBLE_EQ(mouse[0].inView.x, 5);
    EXPECT_DOUBLE_EQ(mouse[0].inView.y, 7);
    EXPECT_DOUBLE_EQ(mouse[0].inWindow.x, 45);
    EXPECT_DOUBLE_EQ(mouse[0].inWindow.y, 37);
    EXPECT_EQ(mouse[1].kind, kEventMouseUp);

    // Two clicks in a row are two single clicks; DoubleClick is one double.
    mouse.clear();
    ti::Click(b, {5, 5}, ti::Button::Right);
    ti::DoubleClick(b, {5, 5});
    std::vector<uint32_t> counts;
    for (const Mouse& m : mouse)
        if (m.kind == kEventMouseDown)
            counts.push_back(m.button * 10 + m.clicks);
    EXPECT_THAT(counts, ElementsAre(21, 11, 12));
}

TEST_F(InputTest, ADragStaysWithTheViewThatGotThePress)
{
    // From a into b: the window system keeps the drag with a.
    ASSERT_EQ(ti::Drag(a, {10, 10}, {130, 10}), kNoErr);
    ASSERT_GE(mouse.size(), 3u);
    EXPECT_EQ(mouse.front().kind, kEventMouseDown);
    EXPECT_EQ(mouse.back().kind, kEventMouseUp);
    for (const Mouse& m : mouse)
        EXPECT_EQ(m.view, a) << m.kind;
    EXPECT_DOUBLE_EQ(mouse.back().inView.x, 130);
    EXPECT_DOUBLE_EQ(mouse.back().inWindow.x, 170);
}

TEST_F(InputTest, WheelTurnsArriveAsWholeNotches)
{
    ti::Wheel(a, {10, 10}, -2);
    ti::WheelFine(a, {10, 10}, 60); // half a notch: nothing yet
    ti::WheelFine(a, {10, 10}, 60);
    ti::Wheel(a, {10, 10}, 1, true);
    std::vector<std::pair<int32_t, int32_t>> turns;
    for (const Mouse& m : mouse)
        turns.emplace_back(m.axis, m.delta);
    EXPECT_THAT(turns, ElementsAre(std::pair{1, -2}, std::pair{1, 1}, std::pair{0, 1}));
}

class KeyInputTest : public QtTest {
protected:
    void SetUp() override
    {
        win = MakeWindow();
        pane = CreateUserPane(WindowContentView(win), {0, 0, 100, 100}, {});
        SetKeyboardFocus(pane);
        InstallHandler(ViewTarget(pane), kKeyTypes, [this](HandlerCall&, Event& e) {
            KeyRecord r;
            if (e.Get(kParamKeyRecord, kTypeKeyRecord, &r) == kNoErr)
                records.push_back(r);
            std::string line = qtfix::Name(e);
            if (e.Class() == kEventClassTextInput) {
                char32_t text[8] = {};
                size_t n = 0;
                e.GetParamBytes(kParamText, kTypeUTF32, text, sizeof text, &n);
                for (size_t i = 0; i < n / sizeof(char32_t); ++i)
                    line += " " + std::to_string(text[i]);
            } else if (e.Get(kParamKeyRecord, kTypeKeyRecord, &r) == kNoErr) {
                line += " " + std::to_string(r.vk);
            }
            log_.push_back(line);
            return kErrEventNotHandled;
        });
    }

    WindowRef win = nullptr;
    ViewRef pane = nullptr;
    std::vector<KeyRecord> records;
};

TEST_F(KeyInputTest, AKeyWithModifiersComesWithItsModifierKeysAndRelease)
{
    ASSERT_EQ(ti::PressKey(win, 'A', kModControl), kNoErr);
    EXPECT_THAT(log_, ElementsAre("keyb 4 17", "keyb 1 65", "text 2 1", "keyb 3 65", "keyb 4 17"));
    ASSERT_EQ(records.size(), 5u);
    const KeyRecord& down = records[1];
    EXPECT_EQ(down.scan, 0x1E);
    EXPECT_EQ(down.nativeCode, 38u) << "an X keycode, as under X";
    EXPECT_EQ(down.flags & (kKeyPositional | kKeyHasChar), kKeyPositional | kKeyHasChar);
    EXPECT_EQ(down.ch, U'\x01');
    EXPECT_EQ(down.modifiers & kModControl, kModControl);
    EXPECT_EQ(records[3].flags & kKeyRelease, kKeyRelease);
    EXPECT_EQ(records[3].ch, U'\x01') << "a release says what its press typed";

    // Keys one at a time, with a repeat; held modifiers are the window
    // system's state meanwhile.
    log_.clear();
    records.clear();
    ti::KeyDown(win, kVkShift);
    EXPECT_EQ(CurrentKeyModifiers() & kModShift, kModShift);
    ti::KeyDown(win, kVkUp, kModShift);
    ti::KeyRepeat(win, kVkUp, kModShift);
    ti::KeyUp(win, kVkUp, kModShift);
    ti::KeyUp(win, kVkShift, kModShift);
    EXPECT_EQ(CurrentKeyModifiers() & kModShift, 0u);
    EXPECT_THAT(log_, ElementsAre("keyb 4 16", "keyb 1 38", "keyb 2 38", "keyb 3 38", "keyb 4 16"));
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[1].scanPrefix, 0xE0);
    EXPECT_EQ(records[1].scan, 0x48);

    EXPECT_EQ(ti::PressKey(win, 0xE9), kErrBadArgument) << "no such key";
}

TEST_F(KeyInputTest, TypedTextArrivesCharacterByCharacter)
{
    ASSERT_EQ(ti::TypeText(win, "aB!\xC3\xA9\n"), kNoErr);
    std::vector<std::string> texts;
    for (const std::string& l : log_)
        if (l.rfind("text", 0) == 0)
            texts.push_back(l);
    EXPECT_THAT(texts, ElementsAre("text 2 97", "text 2 66", "text 2 33", "text 2 233", "text 2 13"));
    EXPECT_EQ(ti::TypeText(win, "\xC3"), kErrBadArgument) << "not UTF-8";

    // An input method's result comes without a key.
    log_.clear();
    ASSERT_EQ(ti::CommitText(win, "\xE6\x97\xA5\xE6\x9C\xAC"), kNoErr);
    EXPECT_THAT(log_, ElementsAre("text 2 26085 26412"));
}

TEST_F(KeyInputTest, KeysReachAQtWidgetThatTheChainLeavesThemTo)
{
    auto* edit = new QLineEdit;
    ViewRef field =
        bridge::CreateViewForWidget(edit, WindowContentView(win), {0, 0, 200, 24}, {FourCC("TEXT"), 1}, FourCC("eutx"));
    SetKeyboardFocus(field);
    ti::TypeText(win, "ab");
    ti::PressKey(win, kVkBack);
    ti::TypeText(win, "C");
    EXPECT_EQ(edit->text().toStdString(), "aC");
}

TEST_F(KeyInputTest, MenuKeyEquivalentsAreAskedBeforeTheFocusedView)
{
    // A menu with Super+N; it also sees the keys it declines.
    std::vector<std::string> asked;
    KeyEquivalentMatcher before = SetKeyEquivalentMatcher([&](WindowRef w, const KeyRecord& key) {
        EXPECT_EQ(w, win);
        const bool take = key.vk == 'N' && (key.modifiers & kModCommand);
        asked.push_back(std::to_string(key.vk) + (take ? " taken" : " declined"));
        log_.push_back("menu " + std::to_string(key.vk));
        return take;
    });
    EXPECT_FALSE(before);

    ti::PressKey(win, 'N', kModCommand);
    // Only the Super key itself reaches the view: neither the N, nor its
    // text, nor its release.
    EXPECT_THAT(log_, ElementsAre("keyb 4 91", "menu 78", "keyb 4 91"));
    ti::KeyDown(win, 'N', kModCommand);
    ti::KeyRepeat(win, 'N', kModCommand);
    ti::KeyUp(win, 'N', kModCommand);
    EXPECT_THAT(asked, ElementsAre("78 taken", "78 taken", "78 taken"));

    // Ctrl+N is the terminal's: asked first, declined, then the view's.
    log_.clear();
    asked.clear();
    ti::PressKey(win, 'N', kModControl);
    EXPECT_THAT(asked, ElementsAre("78 declined"));
    EXPECT_THAT(log_, ElementsAre("keyb 4 17", "menu 78", "keyb 1 78", "text 2 14", "keyb 3 78", "keyb 4 17"));

    // A key equivalent that closes its window ends there.
    SetKeyEquivalentMatcher([](WindowRef w, const KeyRecord&) {
        DisposeWindow(w);
        return false;
    });
    log_.clear();
    ti::KeyDown(win, 'W', kModCommand);
    EXPECT_FALSE(IsWindowValid(win));
    EXPECT_TRUE(log_.empty());
    EXPECT_TRUE(SetKeyEquivalentMatcher({}));
}

TEST_F(KeyInputTest, TheCloseBoxAsksTheWindowToClose)
{
    Record(WindowTarget(win), {{kEventClassWindow, kEventWindowClose}});
    ASSERT_EQ(ti::ClickCloseBox(win), kNoErr);
    EXPECT_THAT(log_, ElementsAre("wind 72"));
    EXPECT_FALSE(IsWindowValid(win));
    EXPECT_EQ(ti::ClickCloseBox(win), kErrTargetGone);
    EXPECT_EQ(ti::Click(pane, {1, 1}), kErrTargetGone);
}

// A main window with a pane and a dialog with a pane; the log says which
// pane got a press or a key and which window was shown, hidden or asked to
// close.
class ModalInputTest : public QtTest {
protected:
    void SetUp() override
    {
        main = MakeWindow(300, 200);
        mainPane = CreateUserPane(WindowContentView(main), {0, 0, 100, 100}, {});
        SetKeyboardFocus(mainPane);
        Watch(main, mainPane, "main ");
    }

    void Watch(WindowRef w, ViewRef pane, const std::string& tag)
    {
        Record(ViewTarget(pane), {{kEventClassMouse, kEventMouseDown}, {kEventClassMouse, kEventMouseWheel},
                                  {kEventClassKeyboard, kEventKeyDown}},
               kErrEventNotHandled, tag);
        Record(WindowTarget(w), {{kEventClassWindow, kEventWindowShown}, {kEventClassWindow, kEventWindowHidden},
                                 {kEventClassWindow, kEventWindowClose}},
               kNoErr, tag);
    }

    WindowRef Dialog(bool shown, const std::string& tag, ViewRef* pane)
    {
        WindowSpec spec;
        spec.bounds = {400, 100, 600, 200};
        WindowRef d = CreateWindow(spec);
        *pane = CreateUserPane(WindowContentView(d), {0, 0, 100, 100}, {});
        Watch(d, *pane, tag);
        if (shown) {
            ShowWindow(d, true);
            EXPECT_TRUE(QTest::qWaitForWindowExposed(bridge::WidgetOfWindow(d)));
        }
        return d;
    }

    // Everything a user can do to the main window.
    void TryTheMainWindow()
    {
        ti::Click(mainPane, {5, 5});
        ti::Wheel(mainPane, {5, 5}, 1);
        ti::TypeText(main, "x");
        ti::ClickCloseBox(main);
    }

    WindowRef main = nullptr;
    ViewRef mainPane = nullptr;
};

TEST_F(ModalInputTest, AVisibleWindowRunsModalAsItIsAndNoOtherWindowGetsInput)
{
    ViewRef pane = nullptr;
    WindowRef dialog = Dialog(true, "dialog ", &pane);
    ViewRef innerPane = nullptr;
    WindowRef inner = Dialog(false, "inner ", &innerPane);
    log_.clear();
    int runs = 0;
    AddModalResponder(kModalWindow, [&](const ModalRequest& req, ModalAnswer&) {
        ++runs;
        TryTheMainWindow();
        ti::Click(pane, {5, 5});
        // A run inside the run: now the dialog is blocked too.
        AddModalResponder(kModalWindow, [&](const ModalRequest& innerReq, ModalAnswer&) {
            ++runs;
            ti::Click(pane, {5, 5});
            TryTheMainWindow();
            ti::Click(innerPane, {5, 5});
            QuitAppModalLoopForWindow(innerReq.window);
            return true;
        });
        RunAppModalLoopForWindow(inner);
        ti::Click(pane, {5, 5});
        QuitAppModalLoopForWindow(req.window);
        return true;
    });
    ASSERT_EQ(RunAppModalLoopForWindow(dialog), kNoErr);
    EXPECT_EQ(runs, 2);
    // The dialog was neither hidden nor shown again; the inner one, hidden
    // before, was shown by its run and hidden after it.
    EXPECT_THAT(log_, ElementsAre("dialog mous 1", "inner wind 24", "inner mous 1", "inner wind 25", "dialog mous 1"));
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(bridge::WidgetOfWindow(dialog)->windowModality(), Qt::NonModal);

    // With the runs over, the main window takes input again.
    log_.clear();
    ti::Click(mainPane, {5, 5});
    ti::TypeText(main, "x");
    EXPECT_THAT(log_, ElementsAre("main mous 1", "main keyb 1"));
}

TEST_F(ModalInputTest, AHiddenWindowIsModalFromItsFirstShowing)
{
    ViewRef pane = nullptr;
    WindowRef dialog = Dialog(false, "dialog ", &pane);
    log_.clear();
    bool modal = false;
    AddModalResponder(kModalWindow, [&](const ModalRequest& req, ModalAnswer&) {
        modal = IsWindowVisible(dialog) && QApplication::activeModalWidget() == bridge::WidgetOfWindow(dialog);
        TryTheMainWindow();
        ti::Click(pane, {5, 5});
        QuitAppModalLoopForWindow(req.window);
        return true;
    });
    ASSERT_EQ(RunAppModalLoopForWindow(dialog), kNoErr);
    EXPECT_TRUE(modal);
    EXPECT_THAT(log_, ElementsAre("dialog wind 24", "dialog mous 1", "dialog wind 25"));
    EXPECT_EQ(bridge::WidgetOfWindow(dialog)->windowModality(), Qt::NonModal);
    log_.clear();
    ti::Click(mainPane, {5, 5});
    EXPECT_THAT(log_, ElementsAre("main mous 1"));
}

} // namespace
