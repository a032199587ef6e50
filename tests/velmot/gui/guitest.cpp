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

Box InkBounds(const plat::Bitmap& bitmap, int threshold)
{
    return InkBounds(bitmap, 0, 0, bitmap.Width(), bitmap.Height(), threshold);
}

Box InkBounds(const plat::Bitmap& bitmap, int left, int top, int right, int bottom, int threshold)
{
    Box box;
    for (int row = top; row < bottom; ++row)
        for (int x = left; x < right; ++x) {
            if (Alpha(bitmap.Pixel(x, row)) <= threshold)
                continue;
            if (box.empty) {
                box = Box{x, row, x + 1, row + 1, false};
                continue;
            }
            box.left = std::min(box.left, x);
            box.right = std::max(box.right, x + 1);
            box.top = std::min(box.top, row);
            box.bottom = std::max(box.bottom, row + 1);
        }
    return box;
}

std::string Picture(const plat::Bitmap& bitmap)
{
    std::string out;
    for (int row = 0; row < bitmap.Height(); ++row) {
        for (int x = 0; x < bitmap.Width(); ++x) {
            int a = Alpha(bitmap.Pixel(x, row));
            out.push_back(a > 127 ? '#' : a > 0 ? '+' : '.');
        }
        out.push_back('\n');
    }
    return out;
}

::testing::AssertionResult MatchesGolden(const plat::Bitmap& bitmap, const std::string& name)
{
    std::string golden = testutil::SourceDir() + "/velmot/gui/golden/" + name + ".png";
    const char* update = std::getenv("QOR_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        if (!bitmap.SavePng(golden))
            return ::testing::AssertionFailure() << "cannot write " << golden;
        return ::testing::AssertionSuccess() << "wrote " << golden;
    }
    plat::Image expected = plat::Image::LoadPng(golden);
    if (expected.IsNull())
        return ::testing::AssertionFailure()
               << "missing golden " << golden << " (run with QOR_UPDATE_GOLDEN=1, then review it)";
    if (expected.Width() != bitmap.Width() || expected.Height() != bitmap.Height())
        return ::testing::AssertionFailure() << "golden " << name << " is " << expected.Width() << "x"
                                             << expected.Height() << ", picture is " << bitmap.Width() << "x"
                                             << bitmap.Height();
    // Antialiasing may differ by a few levels; a shape in the wrong place
    // differs by far more, on far more pixels.
    long long total = 0;
    int far = 0;
    const int count = bitmap.Width() * bitmap.Height();
    for (int row = 0; row < bitmap.Height(); ++row)
        for (int x = 0; x < bitmap.Width(); ++x) {
            uint32_t a = bitmap.Pixel(x, row), b = expected.Pixel(x, row);
            int worst = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                int d = std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF));
                worst = std::max(worst, d);
                total += d;
            }
            if (worst > 24)
                ++far;
        }
    double mean = double(total) / (4.0 * count);
    if (far <= count / 500 && mean < 1.0)
        return ::testing::AssertionSuccess();
    std::string actual = std::string(std::getenv("HOME") ? std::getenv("HOME") : "/tmp") + "/" + name + ".actual.png";
    bitmap.SavePng(actual);
    return ::testing::AssertionFailure() << "picture differs from golden " << name << " (" << far
                                         << " pixels far off, mean difference " << mean << "); actual saved as "
                                         << actual;
}

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
        plat::PainterRef painter = nullptr;
        if (e.Get(plat::kParamDrawContext, plat::kTypePainter, &painter) != plat::kNoErr)
            return plat::kErrEventNotHandled;
        plat::RectI update{};
        e.Get(plat::kParamUpdateRect, plat::kTypeIntRect, &update);
        std::unique_ptr<plat::DrawContext> context = plat::DrawContext::ForPainter(painter);
        if (!context)
            return plat::kErrEventNotHandled;
        ++Paints;
        ++InPaint;
        PaintContext = context.get();
        if (OnPaint) {
            PAINTSTRUCT ps;
            ps.hdc = context.get();
            ps.rcPaint = RECT{update.left, update.top, update.right, update.bottom};
            OnPaint(ps);
        } else if (Memory) {
            // The off-screen bitmap holds the picture upside down (drawn in
            // top-down units on a y-up bitmap); drawn upright into the
            // flipped view it comes out the right way up.
            Memory->Draw(0, 0, context.get());
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

std::unique_ptr<plat::Bitmap> PANEWINDOW::Grab() { return plat::GrabView(Pane); }

void PANEWINDOW::Render() { plat::RenderView(Pane); }

} // namespace guitest
