// A terminal screen drawn the way the terminal draws it: through WINDC,
// runs of 8 cells with changing colours and attributes (bold, underline,
// inverse), each run one StringOutW with an opaque background. One
// iteration is one full frame; "fps" is frames per second.
//
// - Bitmap: into a MEMORYBITMAP (what the screen keeps off screen).
// - WindowPaint: into a window's view during its paint event (a WINDC over
//   the paint pass's context), the view repainted once per frame.
// - WindowViaBitmap: into the window's off-screen bitmap outside a paint
//   pass (a WINDC bound to the window), then the repaint that copies it.
// - Run: one run of 8 cells, to show the cost per call.
//
// Run with QT_QPA_PLATFORM=offscreen (scripts/bench does).
#include <benchmark/benchmark.h>

#include "platform/draw/bitmap.h"
#include "platform/draw/context.h"
#include "platform/events/application.h"
#include "platform/events/event.h"
#include "platform/events/paint.h"
#include "platform/events/queue.h"
#include "platform/events/views.h"
#include "platform/events/windows.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/windraw.h"
#include "velmot/gui/winfont.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace {

constexpr int kRun = 8;

// The 16 colours of a terminal palette, as 0xTTBBGGRR values.
constexpr COLORREF kPalette[16] = {
    0x00000000, 0x000000CD, 0x0000CD00, 0x0000CDCD, 0x00EE0000, 0x00CD00CD, 0x00CDCD00, 0x00E5E5E5,
    0x007F7F7F, 0x000000FF, 0x0000FF00, 0x0000FFFF, 0x00FF5C5C, 0x00FF00FF, 0x00FFFF00, 0x00FFFFFF,
};

struct Attributes {
    COLORREF fg, bg;
    bool bold, underline, inverse;
};

Attributes AttributesOf(int row, int run, int frame)
{
    uint32_t h = static_cast<uint32_t>(row * 131 + run * 17 + frame * 7) * 2654435761u;
    return Attributes{kPalette[(h >> 4) & 15], kPalette[(h >> 8) & 7], ((h >> 12) & 3) == 0, ((h >> 14) & 7) == 0,
                      ((h >> 17) & 7) == 0};
}

// The screen's content and its two fonts; draws a frame through any WINDC.
struct Screen {
    int cols, rows;
    int cellWidth = 0, cellHeight = 0;
    COREFONT* normal = nullptr;
    COREFONT* bold = nullptr;
    std::wstring text;

    Screen(int c, int r) : cols(c), rows(r), text(size_t(c) * size_t(r), L' ')
    {
        WINDC loader(nullptr, RECT{}, false);
        normal = loader.LoadFont("15F.DejaVu Sans Mono");
        bold = loader.LoadFont("15BF.DejaVu Sans Mono");
        if (!normal || !bold)
            return;
        MEMORYBITMAP probe(10, 10);
        WINDC dc(probe, probe.GetRect(), true);
        dc.SelectFont(normal);
        SIZE cell = dc.GetFontSize();
        dc.DeselectFont(normal);
        cellWidth = cell.cx;
        cellHeight = cell.cy;
    }
    ~Screen()
    {
        delete normal;
        delete bold;
    }
    bool Ok() const { return normal && bold && cellWidth > 0; }
    int Width() const { return cols * cellWidth; }
    int Height() const { return rows * cellHeight; }

    // New content for each frame, so no run repeats the last one.
    void Fill(int frame)
    {
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = wchar_t(L'!' + (i * 7 + size_t(frame)) % 94);
    }

    void Draw(WINDC& dc, int frame)
    {
        dc.BkMode = WINDC_OPAQUE;
        COREFONT* selected = nullptr;
        for (int row = 0; row < rows; ++row) {
            const int y = row * cellHeight;
            for (int col = 0, run = 0; col < cols; col += kRun, ++run) {
                const int n = std::min(kRun, cols - col);
                Attributes a = AttributesOf(row, run, frame);
                COREFONT* font = a.bold ? bold : normal;
                if (font != selected) {
                    if (selected)
                        dc.DeselectFont(selected);
                    dc.SelectFont(font);
                    selected = font;
                }
                dc.TextColor = a.inverse ? a.bg : a.fg;
                dc.BkColor = a.inverse ? a.fg : a.bg;
                const int x = col * cellWidth;
                dc.StringOutW(x, y, &text[size_t(row) * size_t(cols) + size_t(col)], n);
                if (a.underline)
                    dc.Line(x, y + cellHeight - 2, x + n * cellWidth - 1, y + cellHeight - 2, dc.TextColor);
            }
        }
        if (selected)
            dc.DeselectFont(selected);
    }
};

// A window with one user pane, lending its context the way a child window
// does: an off-screen bitmap outside a paint pass, copied by the next
// paint; the pass's own context inside one.
class Pane : public DCWINDOW {
public:
    Pane(int w, int h)
    {
        plat::WindowSpec spec;
        spec.bounds = plat::RectI{0, 0, w, h};
        Win = plat::CreateWindow(spec);
        View = plat::CreateUserPane(plat::WindowContentView(Win), plat::RectI{0, 0, w, h},
                                    plat::ViewId{plat::FourCC("BNCH"), 1});
        static const plat::EventType kDraw[] = {{plat::kEventClassControl, plat::kEventControlDraw}};
        plat::InstallHandler(plat::ViewTarget(View), kDraw, [this](plat::HandlerCall&, plat::Event& e) {
            plat::PainterRef painter = nullptr;
            e.Get(plat::kParamDrawContext, plat::kTypePainter, &painter);
            auto context = plat::DrawContext::ForPainter(painter);
            if (!context)
                return plat::kErrEventNotHandled;
            ++Paints;
            if (OnPaint) {
                PAINTSTRUCT ps;
                ps.hdc = context.get();
                OnPaint(ps);
            } else if (Memory) {
                Memory->Draw(0, 0, context.get());
            }
            return plat::kNoErr;
        });
        plat::ShowWindow(Win, true);
        // Painting starts once the window system has shown the window.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (Paints == 0 && std::chrono::steady_clock::now() < deadline)
            plat::ProcessPendingEvents(1000);
    }
    ~Pane() override { plat::DisposeWindow(Win); }

    plat::DrawContext* GetDC() override
    {
        SIZE s = GetSize();
        if (!Memory)
            Memory = std::make_unique<MEMORYBITMAP>(View, s.cx, s.cy);
        Memory->Resize(s.cx, s.cy);
        return *Memory;
    }
    void ReleaseDC(plat::DrawContext*) override { Invalidate(nullptr); }
    RECT GetClientRect() const override
    {
        SIZE s = GetSize();
        return RECT{0, 0, s.cx, s.cy};
    }
    SIZE GetSize() const override
    {
        plat::RectI f = plat::GetViewFrame(View);
        return SIZE{f.right - f.left, f.bottom - f.top};
    }
    void Invalidate(RECT const*) override { plat::SetViewNeedsDisplay(View); }
    void Render() { plat::RenderView(View); }

    std::function<void(PAINTSTRUCT&)> OnPaint;
    int Paints = 0;
    plat::WindowRef Win = nullptr;
    plat::ViewRef View = nullptr;
    std::unique_ptr<MEMORYBITMAP> Memory;
};

void Report(benchmark::State& state, const Screen& screen)
{
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["cells"] = double(screen.cols * screen.rows);
    state.SetLabel(std::to_string(screen.Width()) + "x" + std::to_string(screen.Height()) + " px");
}

void BM_ScreenBitmap(benchmark::State& state)
{
    Screen screen(int(state.range(0)), int(state.range(1)));
    if (!screen.Ok()) {
        state.SkipWithError("no font");
        return;
    }
    MEMORYBITMAP bitmap(screen.Width(), screen.Height());
    WINDC dc(bitmap, bitmap.GetRect(), true);
    int frame = 0;
    for (auto _ : state) {
        screen.Fill(frame);
        screen.Draw(dc, frame);
        ++frame;
        benchmark::DoNotOptimize(bitmap.GetBitmap()->Data());
    }
    Report(state, screen);
}

void BM_ScreenWindowPaint(benchmark::State& state)
{
    Screen screen(int(state.range(0)), int(state.range(1)));
    if (!screen.Ok()) {
        state.SkipWithError("no font");
        return;
    }
    Pane pane(screen.Width(), screen.Height());
    int frame = 0;
    int painted = 0;
    pane.OnPaint = [&](PAINTSTRUCT& ps) {
        WINDC dc(ps, pane);
        screen.Draw(dc, frame);
        ++painted;
    };
    for (auto _ : state) {
        screen.Fill(frame);
        pane.Render();
        ++frame;
    }
    if (painted < frame)
        state.SkipWithError("the view was not painted once per frame");
    Report(state, screen);
}

void BM_ScreenWindowViaBitmap(benchmark::State& state)
{
    Screen screen(int(state.range(0)), int(state.range(1)));
    if (!screen.Ok()) {
        state.SkipWithError("no font");
        return;
    }
    Pane pane(screen.Width(), screen.Height());
    const int before = pane.Paints;
    int frame = 0;
    for (auto _ : state) {
        screen.Fill(frame);
        {
            WINDC dc(pane);
            // Invalidation per operation would only collect areas the
            // repaint below covers anyway.
            dc.AutoFlush = false;
            screen.Draw(dc, frame);
        }
        pane.Render();
        ++frame;
    }
    if (pane.Paints - before < frame)
        state.SkipWithError("the view was not painted once per frame");
    Report(state, screen);
}

void BM_Run(benchmark::State& state)
{
    Screen screen(8, 1);
    MEMORYBITMAP bitmap(screen.Width(), screen.Height());
    WINDC dc(bitmap, bitmap.GetRect(), true);
    dc.SelectFont(screen.normal);
    dc.BkMode = WINDC_OPAQUE;
    int frame = 0;
    for (auto _ : state) {
        screen.Fill(frame++);
        dc.TextColor = kPalette[frame & 15];
        dc.StringOutW(0, 0, screen.text.c_str(), kRun);
    }
    dc.DeselectFont(screen.normal);
}

BENCHMARK(BM_ScreenBitmap)->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScreenWindowPaint)->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScreenWindowViaBitmap)->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Run)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    static char name[] = "bench_windraw";
    static char* args[] = {name, nullptr};
    TARVOAPP::InitArgsLoggingAndLocale(1, args, LOCALE_ENGLISH);
    if (!plat::StartApplication(&argc, argv)) {
        std::fprintf(stderr, "bench_windraw: the window system does not start\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    plat::StopApplication();
    return 0;
}
