// The drawing layer's services for views and windows, under the running
// event layer: the print dialog answered by its responder, views' fonts,
// pictures of views painted through their draw events, the update region,
// opaque views and scrolling by moving pixels.
#include "platform/draw/context.h"
#include "platform/draw/print.h"
#include "platform/draw/printdialog.h"
#include "platform/draw/viewsupport.h"
#include "platform/events/paint.h"
#include "tests/platform/events/qt_fixture.h"

#include <optional>
#include <vector>

using namespace plat;

namespace plat {
void PrintTo(const RectI& r, std::ostream* out)
{
    *out << "(" << r.left << ", " << r.top << ")-(" << r.right << ", " << r.bottom << ")";
}
} // namespace plat

namespace {

class DrawViews : public qtfix::QtTest {};

} // namespace

TEST_F(DrawViews, PrintDialogAnswersThroughItsResponder)
{
    ModalRequest seen;
    AddModalResponder(kModalPrint, [&](const ModalRequest& req, ModalAnswer& answer) {
        seen = req;
        answer.choice = 1;
        answer.text = "file:/tmp/chosen.pdf";
        answer.value = 4;
        answer.items = {"3", "7"};
        return true;
    });
    PrintDialogSettings settings;
    settings.printerId = "file:/tmp/first.pdf";
    ASSERT_TRUE(RunPrintDialog(settings));
    EXPECT_EQ(seen.kind, kModalPrint);
    EXPECT_EQ(seen.text, "file:/tmp/first.pdf");
    EXPECT_NE(seen.native, nullptr);
    EXPECT_EQ(seen.choices.size(), ListPrinters().size());
    EXPECT_EQ(settings.printerId, "file:/tmp/chosen.pdf");
    EXPECT_EQ(settings.copies, 4);
    EXPECT_EQ(settings.fromPage, 3);
    EXPECT_EQ(settings.toPage, 7);

    // Page numbers that are no numbers give the whole document.
    AddModalResponder(kModalPrint, [](const ModalRequest&, ModalAnswer& answer) {
        answer.choice = 1;
        answer.items = {"x", "-3"};
        return true;
    });
    ASSERT_TRUE(RunPrintDialog(settings));
    EXPECT_EQ(settings.fromPage, 0);
    EXPECT_EQ(settings.toPage, 0);
    EXPECT_EQ(settings.printerId, "file:/tmp/chosen.pdf");
}

TEST_F(DrawViews, CancelledPrintDialogChangesNothing)
{
    AddModalResponder(kModalPrint, [](const ModalRequest&, ModalAnswer& answer) {
        answer.choice = 2;
        answer.text = "file:/tmp/never.pdf";
        return true;
    });
    PrintDialogSettings settings;
    settings.copies = 2;
    EXPECT_FALSE(RunPrintDialog(settings));
    EXPECT_EQ(settings.printerId, "");
    EXPECT_EQ(settings.copies, 2);
    // In test mode nobody waits for a human: no responder cancels at once.
    EXPECT_FALSE(RunPrintDialog(settings));
}

TEST_F(DrawViews, ViewFontsAreSetAndReset)
{
    WindowRef w = MakeWindow(200, 100, false);
    ViewRef pane = CreateUserPane(WindowContentView(w), {0, 0, 100, 50}, {FourCC("TEST"), 1});
    const ViewFontStyle standard = GetViewFont(pane);
    EXPECT_FALSE(standard.family.empty());
    EXPECT_EQ(SetViewFont(pane, ViewFontStyle{"Monaco", 17, true}), kNoErr);
    ViewFontStyle now = GetViewFont(pane);
    EXPECT_EQ(now.family, "DejaVu Sans Mono");
    EXPECT_EQ(now.pixelSize, 17);
    EXPECT_TRUE(now.bold);
    EXPECT_EQ(SetViewFont(pane, ViewFontStyle{"DejaVu Sans", 0, false}), kErrBadArgument);
    EXPECT_EQ(SetViewFont(pane, ViewFontStyle{}), kNoErr);
    now = GetViewFont(pane);
    EXPECT_EQ(now.family, standard.family);
    EXPECT_EQ(now.pixelSize, standard.pixelSize);
    DisposeView(pane);
    EXPECT_EQ(SetViewFont(pane, ViewFontStyle{}), kErrTargetGone);
    EXPECT_TRUE(GetViewFont(pane).family.empty());
}

TEST_F(DrawViews, GrabbedViewShowsWhatItsDrawEventsPaint)
{
    WindowRef w = MakeWindow(200, 100, false);
    ViewRef pane = CreateUserPane(WindowContentView(w), {10, 10, 60, 40}, {FourCC("TEST"), 2});
    static const EventType kDraw[] = {{kEventClassControl, kEventControlDraw}};
    int paints = 0;
    InstallHandler(ViewTarget(pane), kDraw, [&](HandlerCall&, Event& e) {
        PainterRef painter = nullptr;
        e.Get(kParamDrawContext, kTypePainter, &painter);
        auto dc = DrawContext::ForPainter(painter);
        if (!dc)
            return kErrEventNotHandled;
        ++paints;
        // View coordinates: top-left origin.
        dc->SetFillColor(Color{1, 0, 0, 1});
        dc->FillRect(Rect{0, 0, 20, 10});
        return kNoErr;
    });
    auto picture = GrabView(pane);
    ASSERT_NE(picture, nullptr);
    EXPECT_GE(paints, 1);
    EXPECT_EQ(picture->Width(), 50);
    EXPECT_EQ(picture->Height(), 30);
    EXPECT_EQ(picture->Pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(picture->Pixel(19, 9), 0xFFFF0000u);
    EXPECT_EQ(picture->Pixel(20, 9), 0u);
    EXPECT_EQ(picture->Pixel(0, 10), 0u);
    DisposeView(pane);
    EXPECT_EQ(GrabView(pane), nullptr);
}

namespace {

// A pane whose picture is a pattern shifted by an offset: every pixel has a
// colour of its own position in the pattern, so a pixel moved to the wrong
// place shows. Records the rectangles of every draw event.
struct PatternPane {
    ViewRef view = nullptr;
    int ox = 0, oy = 0; // the pattern's point shown at the view's (0, 0)
    int paints = 0;
    std::vector<RectI> drawn; // update rectangles since the last Clear
    RectI lastBounds;

    static Color At(int x, int y)
    {
        const uint32_t h = uint32_t(x / 4 * 7919 + y * 104729) * 2654435761u;
        return Color{float((h >> 8) & 0xFF) / 255, float((h >> 16) & 0xFF) / 255, float(h >> 24) / 255, 1};
    }

    PatternPane(WindowRef w, RectI frame, bool opaque)
    {
        view = CreateUserPane(WindowContentView(w), frame, {FourCC("PATN"), 1});
        EXPECT_EQ(SetViewOpaque(view, opaque), kNoErr);
        static const EventType kDraw[] = {{kEventClassControl, kEventControlDraw}};
        InstallHandler(ViewTarget(view), kDraw, [this](HandlerCall&, Event& e) {
            PainterRef painter = nullptr;
            e.Get(kParamDrawContext, kTypePainter, &painter);
            auto dc = DrawContext::ForPainter(painter);
            if (!dc)
                return kErrEventNotHandled;
            ++paints;
            for (const RectI& r : GetUpdateRects(e))
                drawn.push_back(r);
            e.Get(kParamUpdateRect, kTypeIntRect, &lastBounds);
            // The whole view, every time: the painter's clip keeps it to
            // the area asked for.
            const RectI f = GetViewFrame(view);
            for (int y = 0; y < f.Height(); ++y)
                for (int x = 0; x < f.Width(); x += 4) {
                    dc->SetFillColor(At(x + ox, y + oy));
                    dc->FillRect(Rect{double(x), double(y), 4, 1});
                }
            return kNoErr;
        });
    }

    // Runs the loop until a paint has come and gone.
    bool WaitForPaint()
    {
        const int before = paints;
        for (int i = 0; i < 500 && paints == before; ++i)
            ProcessPendingEvents(1000), QTest::qWait(1);
        ProcessPendingEvents(1000);
        return paints > before;
    }
};

// Every pixel of `shot` inside one of the rectangles equals `inside`'s,
// every other one equals `outside`'s.
::testing::AssertionResult Composed(const Bitmap& shot, const std::vector<RectI>& rects, const Bitmap& inside,
                                    const Bitmap& outside)
{
    for (int row = 0; row < shot.Height(); ++row)
        for (int x = 0; x < shot.Width(); ++x) {
            bool in = false;
            for (const RectI& r : rects)
                in = in || (x >= r.left && x < r.right && row >= r.top && row < r.bottom);
            const uint32_t want = in ? inside.Pixel(x, row) : outside.Pixel(x, row);
            if (shot.Pixel(x, row) != want)
                return ::testing::AssertionFailure() << "pixel (" << x << ", row " << row << ") is " << std::hex
                                                     << shot.Pixel(x, row) << ", want " << want
                                                     << (in ? " (inside)" : " (outside)");
        }
    return ::testing::AssertionSuccess();
}

} // namespace

TEST_F(DrawViews, DrawEventsCarryTheRegionAndPaintOnlyInsideIt)
{
    WindowRef w = MakeWindow(200, 100, false);
    PatternPane pane(w, {10, 10, 110, 70}, true);
    ASSERT_TRUE(pane.paints > 0 || pane.WaitForPaint());
    auto before = GrabViewFromScreen(pane.view);
    ASSERT_NE(before, nullptr);

    pane.ox = 40; // a new picture
    pane.drawn.clear();
    const RectI a{5, 5, 25, 15}, b{60, 40, 90, 58};
    SetViewNeedsDisplay(pane.view, &a);
    SetViewNeedsDisplay(pane.view, &b);
    ASSERT_TRUE(pane.WaitForPaint());
    EXPECT_EQ(pane.drawn, (std::vector<RectI>{a, b}));
    EXPECT_EQ(pane.lastBounds, (RectI{5, 5, 90, 58}));

    auto after = GrabViewFromScreen(pane.view);
    auto whole = GrabView(pane.view); // the new picture everywhere
    ASSERT_TRUE(after && whole);
    EXPECT_TRUE(Composed(*after, {a, b}, *whole, *before));
}

TEST_F(DrawViews, OnlyPanesThatAreNotOpaqueHaveTheirSuperviewRepainted)
{
    for (bool opaque : {true, false}) {
        SCOPED_TRACE(opaque ? "opaque" : "not opaque");
        WindowRef w = MakeWindow(200, 100, false);
        int behind = 0;
        static const EventType kDraw[] = {{kEventClassControl, kEventControlDraw}};
        InstallHandler(ViewTarget(WindowContentView(w)), kDraw, [&](HandlerCall&, Event&) {
            ++behind;
            return kErrEventNotHandled;
        });
        PatternPane pane(w, {10, 10, 110, 70}, opaque);
        pane.WaitForPaint();
        EXPECT_EQ(IsViewOpaque(pane.view), opaque);
        behind = 0;
        SetViewNeedsDisplay(pane.view);
        ASSERT_TRUE(pane.WaitForPaint());
        EXPECT_EQ(behind > 0, !opaque);
        DisposeWindow(w);
    }
    EXPECT_EQ(SetViewOpaque(nullptr, true), kErrTargetGone);
}

// Scrolling moves the pixels and repaints only the part of the area they
// uncovered; what lies outside the area stays as it was.
TEST_F(DrawViews, ScrollMovesPixelsAndRepaintsTheUncoveredStrip)
{
    const RectI all{0, 0, 100, 60};
    struct Case {
        const char* what;
        bool opaque;
        std::optional<RectI> area;
        int dx, dy;
        RectI uncovered;
    } cases[] = {
        {"up by a row", true, std::nullopt, 0, -1, {0, 59, 100, 60}},
        {"down by seven", true, std::nullopt, 0, 7, {0, 0, 100, 7}},
        {"right by twelve", true, std::nullopt, 12, 0, {0, 0, 12, 60}},
        {"a band up by ten", true, RectI{0, 20, 100, 50}, 0, -10, {0, 40, 100, 50}},
        {"not opaque: all of it", false, RectI{0, 20, 100, 50}, 0, -10, {0, 20, 100, 50}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WindowRef w = MakeWindow(200, 100, false);
        PatternPane pane(w, {10, 10, 110, 70}, c.opaque);
        ASSERT_TRUE(pane.paints > 0 || pane.WaitForPaint());
        auto before = GrabViewFromScreen(pane.view);
        ASSERT_NE(before, nullptr);

        // The pattern moves with the pixels.
        pane.ox -= c.dx;
        pane.oy -= c.dy;
        pane.drawn.clear();
        ASSERT_EQ(ScrollView(pane.view, c.area ? &*c.area : nullptr, c.dx, c.dy), kNoErr);
        ASSERT_TRUE(pane.WaitForPaint());
        EXPECT_EQ(pane.drawn, (std::vector<RectI>{c.uncovered}));

        auto after = GrabViewFromScreen(pane.view);
        auto whole = GrabView(pane.view);
        ASSERT_TRUE(after && whole);
        EXPECT_TRUE(Composed(*after, {c.area.value_or(all)}, *whole, *before));
        DisposeWindow(w);
    }
    EXPECT_EQ(ScrollView(nullptr, nullptr, 0, 1), kErrTargetGone);
}
