#include "tests/velmot/gui/guitest.h"

#include "platform/draw/context.h"
#include "platform/draw/viewsupport.h"
#include "platform/events/application.h"
#include "platform/events/event.h"
#include "platform/events/modal.h"
#include "platform/events/paint.h"
#include "platform/events/queue.h"
#include "platform/events/timers.h"
#include "tests/support/testutil.h"
#include "velmot/core/tarvo.h"

#include <chrono>
#include <cmath>
#include <cstdlib>

namespace guitest {
namespace {

// The application of the toolkit: started once per test binary, offscreen
// and in test mode, with this thread as the program's main thread.
class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        static char name[] = "test_gui";
        static char* argv[] = {name, nullptr};
        TARVOAPP::InitArgsLoggingAndLocale(1, argv, LOCALE_ENGLISH);
        ASSERT_TRUE(plat::StartApplication());
        plat::SetTestMode(true, 5000);
    }
    void TearDown() override { plat::StopApplication(); }
};

[[maybe_unused]] const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

} // namespace

bool RunUntil(const std::function<bool()>& done, int ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        plat::ProcessPendingEvents(1000);
    return done();
}

// ---------------------------------------------------------------------------
// PANEWINDOW

PANEWINDOW::PANEWINDOW(int width, int height)
{
    plat::WindowSpec spec;
    spec.bounds = plat::RectI{40, 40, 40 + width, 40 + height};
    spec.title = "pane";
    Win = plat::CreateWindow(spec);
    if (!Win)
        return;
    Pane = plat::CreateUserPane(plat::WindowContentView(Win), plat::RectI{0, 0, width, height},
                                plat::ViewId{plat::FourCC("PANE"), 1});
    static const plat::EventType kDraw[] = {{plat::kEventClassControl, plat::kEventControlDraw}};
    Handler = plat::InstallHandler(plat::ViewTarget(Pane), kDraw, [this](plat::HandlerCall&, plat::Event& e) {
        PAINTPASS pass(e);
        if (!pass.IsValid())
            return plat::kErrEventNotHandled;
        ++Paints;
        ++InPaint;
        PaintContext = pass.Ps.hdc;
        LastRegion = pass.Ps.rcRegion;
        if (OnPaint) {
            OnPaint(pass.Ps);
        } else if (Memory) {
            // The off-screen bitmap holds the picture upside down (drawn in
            // top-down units on a y-up bitmap); drawn upright into the
            // flipped view it comes out the right way up.
            Memory->Draw(0, 0, pass.Ps.hdc);
        }
        PaintContext = nullptr;
        --InPaint;
        return plat::kNoErr;
    });
    plat::ShowWindow(Win, true);
}

PANEWINDOW::~PANEWINDOW()
{
    if (Handler)
        plat::RemoveHandler(Handler);
    if (Win)
        plat::DisposeWindow(Win);
}

plat::DrawContext* PANEWINDOW::GetDC()
{
    SIZE size = GetSize();
    if (Memory) {
        Memory->Resize(size.cx, size.cy);
        return *Memory;
    }
    if (InPaint && PaintContext)
        return PaintContext;
    Memory = std::make_unique<MEMORYBITMAP>(Pane, size.cx, size.cy);
    return *Memory;
}

void PANEWINDOW::ReleaseDC(plat::DrawContext* context)
{
    if (Memory) {
        EXPECT_EQ(context, static_cast<plat::DrawContext*>(*Memory));
        if (!InPaint)
            Invalidate(nullptr);
        return;
    }
    EXPECT_TRUE(InPaint && context == PaintContext);
}

RECT PANEWINDOW::GetClientRect() const
{
    SIZE s = GetSize();
    return RECT{0, 0, s.cx, s.cy};
}

SIZE PANEWINDOW::GetSize() const
{
    plat::RectI f = plat::GetViewFrame(Pane);
    return SIZE{f.right - f.left, f.bottom - f.top};
}

void PANEWINDOW::Invalidate(RECT const* rect)
{
    ++Invalidations;
    LastInvalid = rect ? *rect : GetClientRect();
    plat::RectI r{LastInvalid.left, LastInvalid.top, LastInvalid.right, LastInvalid.bottom};
    plat::SetViewNeedsDisplay(Pane, &r);
}

void PANEWINDOW::Scroll(RECT const* rect, int dx, int dy)
{
    if (!rect) {
        plat::ScrollView(Pane, nullptr, dx, dy);
        return;
    }
    plat::RectI r{rect->left, rect->top, rect->right, rect->bottom};
    plat::ScrollView(Pane, &r, dx, dy);
}

std::unique_ptr<plat::Bitmap> PANEWINDOW::Grab() { return plat::GrabView(Pane); }

void PANEWINDOW::Render() { plat::RenderView(Pane); }

} // namespace guitest
