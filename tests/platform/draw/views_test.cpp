// The drawing layer's services for views and windows, under the running
// event layer: the print dialog answered by its responder, views' fonts,
// and pictures of views painted through their draw events.
#include "platform/draw/context.h"
#include "platform/draw/print.h"
#include "platform/draw/printdialog.h"
#include "platform/draw/viewsupport.h"
#include "platform/events/paint.h"
#include "tests/platform/events/qt_fixture.h"

using namespace plat;

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
