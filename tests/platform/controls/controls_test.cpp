// Controls over widgets: the widget holds the numbers and texts, the
// user's doing becomes our events, the program's own changes send none.
#include "platform/controls/controls.h"
#include "platform/controls/drops.h"
#include "tests/platform/events/qt_fixture.h"

#include <gmock/gmock.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QToolButton>

#include <string>
#include <vector>

using namespace plat;
using qtfix::QtTest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class ControlsTest : public QtTest {
protected:
    void SetUp() override
    {
        window_ = MakeWindow(400, 300);
        content_ = WindowContentView(window_);
    }

    ViewRef Make(OSType kind, ViewId id, RectI frame, std::string title = {}, uint32_t flags = 0, int32_t value = 0,
                 int32_t minimum = 0, int32_t maximum = 0)
    {
        ControlSpec spec;
        spec.kind = kind;
        spec.id = id;
        spec.frame = frame;
        spec.title = Text::FromUtf8(title);
        spec.flags = flags;
        spec.value = value;
        spec.minimum = minimum;
        spec.maximum = maximum;
        ViewRef view = CreateControl(content_, spec);
        EXPECT_NE(view, nullptr) << FourCCText(kind);
        return view;
    }

    // Records the hits, value changes and text-field events that reach the
    // window, as "hit 129 value 7".
    void RecordControlEvents()
    {
        static const EventType types[] = {{kEventClassControl, kEventControlHit},
                                          {kEventClassControl, kEventControlValueFieldChanged},
                                          {kEventClassTextField, kEventTextAccepted},
                                          {kEventClassTextField, kEventTextShouldChangeInRange},
                                          {kEventClassTextField, kEventTextDidChange}};
        InstallHandler(WindowTarget(window_), types, [this](HandlerCall&, Event& e) {
            ViewRef view = nullptr;
            e.Get(kParamDirectObject, kTypeView, &view);
            std::string line = FourCCText(e.Class()) + " " + std::to_string(e.Kind());
            int32_t part = 0;
            if (e.Get(kParamControlPart, kTypeSInt32, &part) == kNoErr)
                line += " part " + std::to_string(part) + " value " + std::to_string(GetViewValue(view));
            TextRange r;
            if (e.Get(kParamUnconfirmedRange, kTypeTextRange, &r) == kNoErr)
                line += " unconfirmed " + std::to_string(r.location) + "+" + std::to_string(r.length);
            events_.push_back(line);
            return kErrEventNotHandled;
        });
    }

    template <class W>
    W* Widget(ViewRef view)
    {
        return qobject_cast<W*>(bridge::WidgetOfView(view));
    }

    WindowRef window_ = nullptr;
    ViewRef content_ = nullptr;
    std::vector<std::string> events_;
};

std::vector<std::pair<ViewRef, int16_t>> gActions;

void RecordAction(ViewRef view, int16_t part)
{
    gActions.emplace_back(view, part);
}

TEST_F(ControlsTest, TheWidgetHoldsTheNumbersBothWays)
{
    RecordControlEvents();
    ViewRef bar = Make(kControlKindScrollBar, {FourCC("SBAR"), 1}, {10, 10, 210, 26}, {}, 0, 5, 0, 50);
    ViewRef slider = Make(kControlKindSlider, {FourCC("SLDR"), 1}, {10, 40, 30, 200}, {}, 0, 20, 0, 100);
    ViewRef progress = Make(kControlKindProgressBar, {FourCC("PRGB"), 1}, {50, 40, 250, 56}, {}, 0, 0, 0, 100);
    ViewRef arrows = Make(kControlKindLittleArrows, {FourCC("LARR"), 1}, {300, 40, 316, 64}, {}, 0, 3, 0, 10);

    // Written through the views, read in the widgets.
    EXPECT_EQ(SetViewMaximum(bar, 80), kNoErr);
    EXPECT_EQ(SetViewValue(bar, 70), kNoErr);
    EXPECT_EQ(Widget<QScrollBar>(bar)->maximum(), 80);
    EXPECT_EQ(Widget<QScrollBar>(bar)->value(), 70);
    EXPECT_EQ(Widget<QSlider>(slider)->orientation(), Qt::Vertical);
    EXPECT_EQ(SetViewValue(progress, 130), kNoErr); // beyond the range: clamped
    EXPECT_EQ(Widget<QProgressBar>(progress)->value(), 100);
    EXPECT_EQ(GetViewValue(progress), 100);
    EXPECT_EQ(SetViewValue(arrows, -4), kNoErr);
    EXPECT_EQ(GetViewValue(arrows), 0);
    SetViewMinimum(arrows, 5); // raising the minimum takes the value along
    EXPECT_EQ(GetViewValue(arrows), 5);

    // Changed in the widget, read through the views: no second copy.
    Widget<QScrollBar>(bar)->setMinimum(10);
    Widget<QSlider>(slider)->setValue(64);
    EXPECT_EQ(GetViewMinimum(bar), 10);
    EXPECT_EQ(GetViewValue(slider), 64);

    EXPECT_EQ(SetControlViewSize(bar, 12), kNoErr);
    EXPECT_EQ(GetControlViewSize(bar), 12);
    EXPECT_EQ(Widget<QScrollBar>(bar)->pageStep(), 12);
    // The program's own writes above sent nothing; the widget's own
    // setValue (as a user's drag would) did.
    EXPECT_THAT(events_, ElementsAre("cntl 151"));
}

TEST_F(ControlsTest, ClicksBecomeHitsAfterTheControlChangedItsValue)
{
    RecordControlEvents();
    struct Case {
        OSType kind;
        uint32_t flags;
        int32_t before;
        int32_t after; // the value the hit sees
        int16_t part;
    } const cases[] = {
        {kControlKindPushButton, 0, 0, 0, kControlPartButton},
        {kControlKindCheckBox, kControlFlagAutoToggle, 0, 1, kControlPartCheckBox},
        {kControlKindCheckBox, kControlFlagAutoToggle, 1, 0, kControlPartCheckBox},
        {kControlKindCheckBox, kControlFlagAutoToggle, 2, 1, kControlPartCheckBox}, // mixed becomes on
        {kControlKindCheckBox, 0, 0, 0, kControlPartCheckBox},                      // no automatic toggling
        {kControlKindRadioButton, kControlFlagAutoToggle, 0, 1, kControlPartCheckBox},
        {kControlKindRadioButton, kControlFlagAutoToggle, 1, 1, kControlPartCheckBox}, // stays on
        {kControlKindBevelButton, kControlFlagToggles, 0, 1, kControlPartButton},
        {kControlKindDisclosureButton, 0, 0, 0, kControlPartButton}, // the program opens it
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(FourCCText(c.kind) + " from " + std::to_string(c.before));
        ViewRef view = Make(c.kind, {c.kind, ++n}, {10, 10, 150, 34}, "Button", c.flags, c.before, 0, 2);
        EXPECT_EQ(GetViewValue(view), c.before);
        events_.clear();
        Widget<QAbstractButton>(view)->click();
        EXPECT_THAT(events_, ElementsAre("cntl 1 part " + std::to_string(c.part) + " value " +
                                         std::to_string(c.after)));
        DisposeView(view);
    }
}

TEST_F(ControlsTest, ScrollBarsAndArrowsRunTheActionProcedureAndHit)
{
    RecordControlEvents();
    gActions.clear();
    ViewRef bar = Make(kControlKindScrollBar, {FourCC("SBAR"), 1}, {10, 10, 210, 26}, {}, 0, 5, 0, 50);
    ASSERT_EQ(SetControlAction(bar, &RecordAction), kNoErr);
    auto* q = Widget<QScrollBar>(bar);
    q->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    q->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_THAT(gActions, ElementsAre(std::pair{bar, kControlPartDown}, std::pair{bar, kControlPartPageUp}));
    // Each step hits at once and the hit sees the new value.
    EXPECT_THAT(events_, ElementsAre("cntl 1 part 21 value 6", "cntl 151", "cntl 1 part 22 value 5", "cntl 151"));

    // A dragged thumb: the procedure follows it, the hit comes on release.
    gActions.clear();
    events_.clear();
    q->setSliderDown(true);
    q->setSliderPosition(30);
    EXPECT_THAT(gActions, ElementsAre(std::pair{bar, kControlPartIndicator}));
    EXPECT_EQ(GetViewValue(bar), 30);
    q->setSliderDown(false);
    EXPECT_EQ(events_.back(), "cntl 1 part 129 value 30");

    gActions.clear();
    events_.clear();
    ViewRef arrows = Make(kControlKindLittleArrows, {FourCC("LARR"), 1}, {300, 40, 316, 64}, {}, 0, 3, 0, 10);
    SetControlAction(arrows, &RecordAction);
    bridge::WidgetOfView(arrows)->findChild<QToolButton*>("down")->click();
    EXPECT_THAT(gActions, ElementsAre(std::pair{arrows, kControlPartDown}));
    EXPECT_THAT(events_, ElementsAre("cntl 1 part 21 value 3"));
    EXPECT_EQ(SetControlAction(nullptr, &RecordAction), kErrTargetGone);
}

TEST_F(ControlsTest, TitlesAndTextsLiveInTheWidgets)
{
    RecordControlEvents();
    struct Case {
        OSType kind;
        uint32_t flags;
    } const cases[] = {
        {kControlKindPushButton, 0},   {kControlKindCheckBox, 0},        {kControlKindRadioButton, 0},
        {kControlKindBevelButton, 0},  {kControlKindDisclosureButton, 0}, {kControlKindEditUnicodeText, 0},
        {kControlKindEditText, kControlFlagMultiline}, {kControlKindStaticText, 0}, {kControlKindGroupBox, 0},
    };
    const std::string text = "Grüße \xF0\x9F\x98\x80"; // outside the BMP too
    for (const Case& c : cases) {
        SCOPED_TRACE(FourCCText(c.kind));
        ViewRef view = Make(c.kind, {c.kind, 1}, {10, 10, 200, 40}, "first", c.flags);
        std::string got;
        ASSERT_TRUE(GetControlTitle(view).ToUtf8(got));
        EXPECT_EQ(got, "first");
        EXPECT_EQ(SetControlTitle(view, Text::FromUtf8(text)), kNoErr);
        ASSERT_TRUE(GetControlTitle(view).ToUtf8(got));
        EXPECT_EQ(got, text);
        EXPECT_EQ(SetControlTitle(view, Text()), kNoErr); // null: empty
        EXPECT_EQ(GetControlTitle(view).Length(), 0u);
        DisposeView(view);
    }
    // Views without a text say so.
    ViewRef pane = CreateUserPane(content_, {0, 0, 10, 10}, {});
    ViewRef bar = Make(kControlKindScrollBar, {FourCC("SBAR"), 1}, {10, 10, 210, 26});
    EXPECT_TRUE(GetControlTitle(pane).IsNull());
    EXPECT_EQ(SetControlTitle(pane, Text::FromUtf8("x")), kErrBadArgument);
    EXPECT_EQ(SetControlTitle(bar, Text::FromUtf8("x")), kErrBadArgument);
    EXPECT_THAT(events_, IsEmpty()); // the program's changes report nothing
}

// A field whose handler allows at most `limit` characters and no "x".
class FieldTest : public ControlsTest {
protected:
    void SetUp() override
    {
        ControlsTest::SetUp();
        field_ = Make(kControlKindEditUnicodeText, {FourCC("TEXT"), 1}, {10, 10, 200, 34}, "abcd");
        static const EventType change[] = {{kEventClassTextField, kEventTextShouldChangeInRange}};
        InstallHandler(ViewTarget(field_), change, [this](HandlerCall&, Event& e) {
            TextRange range;
            e.Get(kParamTextRange, kTypeTextRange, &range);
            size_t bytes = 0;
            e.GetParamBytes(kParamText, kTypeUTF32, nullptr, 0, &bytes);
            std::u32string candidate(bytes / 4, U'\0');
            e.GetParamBytes(kParamText, kTypeUTF32, candidate.data(), bytes);
            // The field still holds the text before the edit.
            during_.push_back(Text());
            asked_.push_back(std::to_string(range.location) + "+" + std::to_string(range.length) + " " +
                             QString::fromUcs4(candidate.data(), static_cast<qsizetype>(candidate.size()))
                                 .toStdString());
            if (candidate.find(U'x') == std::u32string::npos)
                return kErrEventNotHandled;
            std::u32string without;
            for (char32_t c : candidate)
                if (c != U'x')
                    without.push_back(c);
            e.SetParam(kParamReplacementText, kTypeUTF32, without.data(), without.size() * 4);
            return kNoErr;
        });
    }
    std::string Text() const
    {
        std::string s;
        GetControlTitle(field_).ToUtf8(s);
        return s;
    }
    QLineEdit* Line() { return Widget<QLineEdit>(field_); }

    ViewRef field_ = nullptr;
    std::vector<std::string> asked_;
    std::vector<std::string> during_;
};

TEST_F(FieldTest, EveryEditAsksFirstAndTakesTheAnswer)
{
    RecordControlEvents();
    // Inserted at the cursor, over a selection, and taken away.
    Line()->setCursorPosition(2);
    Line()->insert("12");
    EXPECT_EQ(Text(), "ab12cd");
    ASSERT_EQ(SetTextSelection(field_, 1, 3), kNoErr);
    Line()->insert("Zx");
    EXPECT_EQ(Text(), "aZ2cd"); // the answer went in instead
    int32_t start = -1, end = -1;
    GetTextSelection(field_, &start, &end);
    EXPECT_EQ(start, 2); // the cursor behind what went in
    EXPECT_EQ(end, 2);
    Line()->setCursorPosition(5);
    Line()->backspace();
    EXPECT_EQ(Text(), "aZ2c");
    Line()->setCursorPosition(0);
    Line()->insert("x");
    EXPECT_EQ(Text(), "aZ2c"); // refused altogether
    EXPECT_THAT(asked_, ElementsAre("2+0 12", "1+2 Zx", "4+1 ", "0+0 x"));
    EXPECT_THAT(during_, ElementsAre("abcd", "ab12cd", "aZ2cd", "aZ2c"));
    // The questions the field's handler took go no further; every change
    // that happened was reported after it (the refusal changed nothing).
    EXPECT_THAT(events_, ElementsAre("txfd 2", "txfd 3", "txfd 3", "txfd 2", "txfd 3"));

    // The program's own text asks nothing and reports nothing.
    asked_.clear();
    events_.clear();
    SetControlTitle(field_, Text::FromUtf8("xyz"));
    EXPECT_EQ(Text(), "xyz");
    EXPECT_THAT(asked_, IsEmpty());
    EXPECT_THAT(events_, IsEmpty());
}

TEST_F(FieldTest, PositionsCountCharactersNotUnits)
{
    SetControlTitle(field_, Text::FromUtf8("a\xF0\x9F\x98\x80" "bc")); // U+1F600 is two UTF-16 units
    ASSERT_EQ(SetTextSelection(field_, 1, 3), kNoErr);
    EXPECT_EQ(Line()->selectedText(), QString::fromUtf8("\xF0\x9F\x98\x80" "b"));
    Line()->insert("Q");
    EXPECT_EQ(Text(), "aQc");
    EXPECT_THAT(asked_, ElementsAre("1+2 Q"));
    EXPECT_EQ(SetTextSelection(field_, 0, 32767), kNoErr); // an end beyond the text is its end
    int32_t start = -1, end = -1;
    GetTextSelection(field_, &start, &end);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 3);
    EXPECT_EQ(SetTextReadOnly(field_, true), kNoErr);
    EXPECT_TRUE(IsTextReadOnly(field_));
    EXPECT_TRUE(Line()->isReadOnly());
}

TEST_F(FieldTest, ComposedInputReportsAnUnconfirmedRangeUntilCommitted)
{
    RecordControlEvents();
    SetKeyboardFocus(field_);
    Line()->setCursorPosition(4);
    ASSERT_EQ(SimulateInputMethod(field_, U"ni", U"\u4F60"), kNoErr);
    EXPECT_THAT(events_, ElementsAre("txfd 3 unconfirmed 4+2", "txfd 2", "txfd 3"));
    EXPECT_EQ(Text(), "abcd\xE4\xBD\xA0");
    EXPECT_THAT(asked_, ElementsAre("4+0 \xE4\xBD\xA0"));
}

TEST_F(ControlsTest, ReturnAndEscapePressTheDefaultAndCancelButtons)
{
    RecordControlEvents();
    ViewRef field = Make(kControlKindEditUnicodeText, {FourCC("TEXT"), 1}, {10, 10, 200, 34});
    ViewRef ok = Make(kControlKindPushButton, {FourCC("OKAY"), 0}, {10, 50, 90, 80}, "OK", kControlFlagDefault);
    ViewRef cancel =
        Make(kControlKindPushButton, {FourCC("BACK"), 0}, {110, 50, 190, 80}, "Cancel", kControlFlagCancel);
    EXPECT_EQ(GetWindowDefaultButton(window_), ok);
    EXPECT_EQ(GetWindowCancelButton(window_), cancel);
    EXPECT_TRUE(IsControlDefault(ok));
    EXPECT_TRUE(Widget<QPushButton>(ok)->isDefault());

    std::vector<ViewRef> hits;
    InstallHandler(WindowTarget(window_), {{{kEventClassControl, kEventControlHit}}},
                   [&hits](HandlerCall&, Event& e) {
                       ViewRef v = nullptr;
                       e.Get(kParamDirectObject, kTypeView, &v);
                       hits.push_back(v);
                       return kErrEventNotHandled;
                   });
    SetKeyboardFocus(field);
    QTest::keyClick(bridge::WidgetOfView(field), Qt::Key_Return);
    QTest::keyClick(bridge::WidgetOfView(field), Qt::Key_Escape);
    EXPECT_THAT(hits, ElementsAre(ok, cancel));
    EXPECT_EQ(events_.front(), "txfd 1"); // the field had the Return first

    // Without a default button Return presses nothing; a disabled one is
    // not pressed either.
    hits.clear();
    ASSERT_EQ(SetWindowDefaultButton(window_, nullptr), kNoErr);
    EXPECT_EQ(GetWindowDefaultButton(window_), nullptr);
    QTest::keyClick(bridge::WidgetOfView(field), Qt::Key_Return);
    SetViewEnabled(cancel, false);
    QTest::keyClick(bridge::WidgetOfView(field), Qt::Key_Escape);
    EXPECT_THAT(hits, IsEmpty());
    // Only push buttons of this window can be its default button.
    EXPECT_EQ(SetWindowDefaultButton(window_, field), kErrBadArgument);
}

TEST_F(ControlsTest, StackingAmongSiblings)
{
    ViewRef a = CreateUserPane(content_, {0, 0, 10, 10}, {FourCC("ZORD"), 1});
    ViewRef b = CreateUserPane(content_, {0, 0, 10, 10}, {FourCC("ZORD"), 2});
    ViewRef c = CreateUserPane(content_, {0, 0, 10, 10}, {FourCC("ZORD"), 3});
    EXPECT_THAT(GetSubviews(content_), ElementsAre(c, b, a));
    SetViewZOrder(a, true, b); // directly in front of b
    EXPECT_THAT(GetSubviews(content_), ElementsAre(c, a, b));
    SetViewZOrder(c, false, b); // directly behind b
    EXPECT_THAT(GetSubviews(content_), ElementsAre(a, b, c));
    SetViewZOrder(c, true, nullptr); // the front
    EXPECT_THAT(GetSubviews(content_), ElementsAre(c, a, b));
    SetViewZOrder(c, false, nullptr); // the back
    EXPECT_THAT(GetSubviews(content_), ElementsAre(a, b, c));
    ViewRef inner = CreateUserPane(a, {0, 0, 5, 5}, {});
    EXPECT_EQ(SetViewZOrder(inner, true, b), kErrBadArgument); // not a sibling
}

TEST_F(ControlsTest, DropsReachOnlyViewsThatTrackThem)
{
    ViewRef pane = CreateUserPane(content_, {0, 0, 100, 100}, {FourCC("DROP"), 1});
    std::vector<std::string> seen;
    bool accept = true;
    static const EventType drags[] = {{kEventClassControl, kEventControlDragEnter},
                                      {kEventClassControl, kEventControlDragWithin},
                                      {kEventClassControl, kEventControlDragLeave},
                                      {kEventClassControl, kEventControlDragReceive}};
    InstallHandler(ViewTarget(pane), drags, [&](HandlerCall&, Event& e) {
        size_t n = 0;
        e.GetParamBytes(kParamDragUrls, kTypeUTF8, nullptr, 0, &n);
        std::string urls(n, '\0');
        e.GetParamBytes(kParamDragUrls, kTypeUTF8, urls.data(), n);
        seen.push_back(std::to_string(e.Kind()) + " " + urls);
        if (e.Kind() == kEventControlDragEnter) {
            uint8_t yes = accept ? 1 : 0;
            e.Set(kParamWouldAcceptDrop, kTypeBool, yes);
        }
        return kNoErr;
    });
    const std::vector<std::string> urls{"file:///tmp/a%20b.txt", "file:///tmp/c"};
    SimulateDrop(pane, urls, {10, 10});
    EXPECT_THAT(seen, IsEmpty()); // tracking is off

    ASSERT_EQ(SetViewDragTracking(pane, true), kNoErr);
    EXPECT_TRUE(IsViewDragTracking(pane));
    SimulateDrop(pane, urls, {10, 10});
    const std::string both = "file:///tmp/a%20b.txt\nfile:///tmp/c";
    EXPECT_THAT(seen, ElementsAre("18 " + both, "19 " + both, "21 " + both));
    seen.clear();
    SimulateDrop(pane, urls, {10, 10}, true);
    EXPECT_THAT(seen, ElementsAre("18 " + both, "19 " + both, "20 "));
    // Refused on entering: nothing more comes.
    seen.clear();
    accept = false;
    SimulateDrop(pane, urls, {10, 10});
    EXPECT_THAT(seen, ElementsAre("18 " + both));
}

} // namespace
