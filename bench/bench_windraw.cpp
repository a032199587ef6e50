// A terminal screen drawn the way the terminal draws it: runs of 8 cells
// with changing colours and attributes (bold, underline, inverse). One
// iteration is one full frame; "fps" is frames per second.
//
// Through CELLPAINTER, one Run per run (what the screen paints with):
// - CellsBitmap: into a MEMORYBITMAP (what the screen keeps off screen).
// - CellsWindowPaint: into an opaque view during its paint event (a WINDC
//   over the paint pass's context), the view repainted once per frame.
// - CellsWindowRow: one row changed per iteration, its rectangle marked
//   and painted by the event loop (a terminal printing a line).
// - CellsViaBitmap: into the window's off-screen bitmap outside a paint
//   pass (a WINDC bound to the window), then the repaint that copies it.
// Next to them, bare Qt doing the same (QtCells*: one QPainter, per run a
// fill, a glyph run and an underline; through the platform's reference
// helper, so this file includes no Qt), and the older way through
// StringOutW with an opaque background (Screen*), one call per run too.
// The ratios at the end compare each with its reference.
//
// - Run: one run of 8 cells through StringOutW, to show the cost per call.
//
// Run with QT_QPA_PLATFORM=offscreen (scripts/bench does) or on a display.
#include <benchmark/benchmark.h>

#include "bench/support/cellframe.h"
#include "bench/support/ratio.h"
#include "platform/draw/benchref.h"
#include "platform/draw/bitmap.h"
#include "platform/draw/context.h"
#include "platform/draw/viewsupport.h"
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
#include <vector>

namespace {

using benchsupport::CellAttributes;
using benchsupport::kCellRun;

// The screen's content and its two fonts; draws a frame through any WINDC.
struct Screen {
    int cols, rows;
    int cellWidth = 0, cellHeight = 0, baseline = 0;
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
        int descent = 0;
        dc.GetFontSize(&cellWidth, &cellHeight, &descent);
        dc.DeselectFont(normal);
        baseline = cellHeight - descent;
        text32.resize(text.size());
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
        for (int row = 0; row < rows; ++row)
            FillRow(frame, row);
    }
    void FillRow(int frame, int row)
    {
        for (size_t i = size_t(row) * size_t(cols); i < size_t(row + 1) * size_t(cols); ++i) {
            text[i] = wchar_t(L'!' + (i * 7 + size_t(frame)) % 94);
            text32[i] = char32_t(text[i]);
        }
    }

    // The rows a paint of this area draws, as the screen works them out.
    static void RowsOf(RECT const& area, int cellHeight, int rows, int* first, int* last)
    {
        *first = std::max(0, int(area.top) / cellHeight);
        *last = std::min(rows, (int(area.bottom) - 1) / cellHeight + 1);
    }

    // Rows [first, last) through CELLPAINTER, one Run per run.
    void DrawCells(WINDC& dc, int frame, int first, int last)
    {
        CELLPAINTER cells(dc, SIZE{cellWidth, cellHeight}, baseline);
        benchsupport::ForEachRun(cols, first, last, frame, [&](int row, int col, int n, const CellAttributes& a) {
            cells.Run(col * cellWidth, row * cellHeight, &text[size_t(row) * size_t(cols) + size_t(col)], n,
                      a.bold ? bold : normal, a.Fore(), a.Back(), a.underline ? CELLPAINTER::UNDERLINE : 0);
        });
    }

    // The same runs for the bare-Qt reference.
    const std::vector<plat::benchref::CellRunRef>& Runs(int frame, int first, int last)
    {
        benchsupport::ReferenceRuns(refRuns, text32.data(), cols, first, last, frame, cellWidth, cellHeight);
        return refRuns;
    }

    std::u32string text32;
    std::vector<plat::benchref::CellRunRef> refRuns;

    void Draw(WINDC& dc, int frame)
    {
        dc.BkMode = WINDC_OPAQUE;
        COREFONT* selected = nullptr;
        benchsupport::ForEachRun(cols, 0, rows, frame, [&](int row, int col, int n, const CellAttributes& a) {
            COREFONT* font = a.bold ? bold : normal;
            if (font != selected) {
                if (selected)
                    dc.DeselectFont(selected);
                dc.SelectFont(font);
                selected = font;
            }
            dc.TextColor = a.Fore();
            dc.BkColor = a.Back();
            const int x = col * cellWidth, y = row * cellHeight;
            dc.StringOutW(x, y, &text[size_t(row) * size_t(cols) + size_t(col)], n);
            if (a.underline)
                dc.Line(x, y + cellHeight - 2, x + n * cellWidth - 1, y + cellHeight - 2, dc.TextColor);
        });
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
            PAINTPASS pass(e);
            if (!pass.IsValid())
                return plat::kErrEventNotHandled;
            ++Paints;
            if (OnPaint)
                OnPaint(pass.Ps);
            else if (Memory)
                Memory->Draw(0, 0, pass.Ps.hdc);
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

// One benchmark on a screen of the size in its arguments: `setup` prepares
// what it needs and returns the step run once per iteration with the frame
// number, or an empty step after skipping the benchmark.
using Step = std::function<void(int frame)>;
void Frames(benchmark::State& state, const std::function<Step(Screen&)>& setup)
{
    Screen screen(int(state.range(0)), int(state.range(1)));
    if (!screen.Ok()) {
        state.SkipWithError("no font");
        return;
    }
    Step step = setup(screen);
    if (!step)
        return;
    int frame = 0;
    for (auto _ : state)
        step(frame++);
    Report(state, screen);
}

// The pane's repaint, checked to have painted.
void Render(benchmark::State& state, Pane& pane)
{
    const int before = pane.Paints;
    pane.Render();
    if (pane.Paints == before)
        state.SkipWithError("the view was not painted");
}

// The pane of the cell benchmarks: opaque, as a terminal's view is, and
// painting the rows its paint pass asks for.
std::shared_ptr<Pane> CellPane(Screen& screen, std::shared_ptr<int> frame)
{
    auto pane = std::make_shared<Pane>(screen.Width(), screen.Height());
    plat::SetViewOpaque(pane->View, true);
    Pane* p = pane.get();
    pane->OnPaint = [p, &screen, frame](PAINTSTRUCT& ps) {
        WINDC dc(ps, *p);
        int first = 0, last = 0;
        Screen::RowsOf(ps.rcPaint, screen.cellHeight, screen.rows, &first, &last);
        screen.DrawCells(dc, *frame, first, last);
    };
    return pane;
}

// The bare-Qt reference with its window open, or null after skipping.
std::shared_ptr<plat::benchref::QtCells> ReferenceWindow(benchmark::State& state, Screen& screen)
{
    auto ref = std::make_shared<plat::benchref::QtCells>("DejaVu Sans Mono", 15, screen.cellWidth,
                                                         screen.cellHeight, screen.baseline);
    if (ref->Ok() && ref->OpenWindow(screen.Width(), screen.Height()))
        return ref;
    state.SkipWithError("no font or window");
    return nullptr;
}

void BM_ScreenBitmap(benchmark::State& state)
{
    Frames(state, [&](Screen& screen) -> Step {
        auto bitmap = std::make_shared<MEMORYBITMAP>(screen.Width(), screen.Height());
        auto dc = std::make_shared<WINDC>(*bitmap, bitmap->GetRect(), true);
        return [&screen, bitmap, dc](int frame) {
            screen.Fill(frame);
            screen.Draw(*dc, frame);
        };
    });
}

void BM_ScreenWindowPaint(benchmark::State& state)
{
    Frames(state, [&](Screen& screen) -> Step {
        auto pane = std::make_shared<Pane>(screen.Width(), screen.Height());
        auto frame = std::make_shared<int>(0);
        Pane* p = pane.get();
        pane->OnPaint = [p, &screen, frame](PAINTSTRUCT& ps) {
            WINDC dc(ps, *p);
            screen.Draw(dc, *frame);
        };
        return [&state, &screen, pane, frame](int f) {
            *frame = f;
            screen.Fill(f);
            Render(state, *pane);
        };
    });
}

void BM_ScreenWindowViaBitmap(benchmark::State& state)
{
    Frames(state, [&](Screen& screen) -> Step {
        auto pane = std::make_shared<Pane>(screen.Width(), screen.Height());
        return [&state, &screen, pane](int frame) {
            screen.Fill(frame);
            {
                WINDC dc(*pane);
                // Invalidation per operation would only collect areas the
                // repaint below covers anyway.
                dc.AutoFlush = false;
                screen.Draw(dc, frame);
            }
            Render(state, *pane);
        };
    });
}

void BM_CellsBitmap(benchmark::State& state)
{
    Frames(state, [&](Screen& screen) -> Step {
        auto bitmap = std::make_shared<MEMORYBITMAP>(screen.Width(), screen.Height());
        auto dc = std::make_shared<WINDC>(*bitmap, bitmap->GetRect(), true);
        return [&screen, bitmap, dc](int frame) {
            screen.Fill(frame);
            screen.DrawCells(*dc, frame, 0, screen.rows);
        };
    });
}

void BM_QtCellsImage(benchmark::State& state)
{
    Frames(state, [&](Screen& screen) -> Step {
        auto ref = std::make_shared<plat::benchref::QtCells>("DejaVu Sans Mono", 15, screen.cellWidth,
                                                             screen.cellHeight, screen.baseline);
        return [&screen, ref](int frame) {
            screen.Fill(frame);
            ref->DrawIntoImage(screen.Width(), screen.Height(), screen.Runs(frame, 0, screen.rows));
        };
    });
}

void BM_CellsWindowPaint(benchmark::State& state)
{
    Frames(state, [&](Screen& screen) -> Step {
        auto frame = std::make_shared<int>(0);
        auto pane = CellPane(screen, frame);
        return [&state, &screen, pane, frame](int f) {
            *frame = f;
            screen.Fill(f);
            Render(state, *pane);
        };
    });
}

void BM_QtCellsWindow(benchmark::State& state)
{
    Frames(state, [&](Screen& screen) -> Step {
        auto ref = ReferenceWindow(state, screen);
        if (!ref)
            return nullptr;
        return [&screen, ref](int frame) {
            screen.Fill(frame);
            ref->RepaintWindow(screen.Runs(frame, 0, screen.rows));
        };
    });
}

// One row changed per frame: its rectangle marked, the paint left to the
// event loop, as a terminal printing a line.
void BM_CellsWindowRow(benchmark::State& state)
{
    Frames(state, [&](Screen& screen) -> Step {
        auto frame = std::make_shared<int>(0);
        auto pane = CellPane(screen, frame);
        screen.Fill(0);
        Render(state, *pane);
        return [&screen, pane, frame](int f) {
            *frame = f + 1;
            const int row = *frame % screen.rows;
            screen.FillRow(*frame, row);
            const plat::RectI r{0, row * screen.cellHeight, screen.Width(), (row + 1) * screen.cellHeight};
            const int before = pane->Paints;
            plat::SetViewNeedsDisplay(pane->View, &r);
            while (pane->Paints == before)
                plat::ProcessPendingEvents(1000);
        };
    });
}

void BM_QtCellsWindowRow(benchmark::State& state)
{
    Frames(state, [&](Screen& screen) -> Step {
        auto ref = ReferenceWindow(state, screen);
        if (!ref)
            return nullptr;
        screen.Fill(0);
        ref->RepaintWindow(screen.Runs(0, 0, screen.rows));
        return [&screen, ref](int f) {
            const int frame = f + 1, row = frame % screen.rows;
            screen.FillRow(frame, row);
            ref->UpdateWindowRows(screen.Runs(frame, row, row + 1), row * screen.cellHeight,
                                  (row + 1) * screen.cellHeight);
        };
    });
}

void BM_CellsViaBitmap(benchmark::State& state)
{
    Frames(state, [&](Screen& screen) -> Step {
        auto pane = std::make_shared<Pane>(screen.Width(), screen.Height());
        plat::SetViewOpaque(pane->View, true);
        return [&state, &screen, pane](int frame) {
            screen.Fill(frame);
            {
                WINDC dc(*pane);
                dc.AutoFlush = false; // the repaint below covers it all
                screen.DrawCells(dc, frame, 0, screen.rows);
            }
            Render(state, *pane);
        };
    });
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
        dc.TextColor = benchsupport::kPalette[frame & 15];
        dc.StringOutW(0, 0, screen.text.c_str(), kCellRun);
    }
    dc.DeselectFont(screen.normal);
}

BENCHMARK(BM_CellsBitmap)->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QtCellsImage)->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CellsWindowPaint)->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QtCellsWindow)->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CellsWindowRow)->Args({200, 50})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QtCellsWindowRow)->Args({200, 50})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CellsViaBitmap)->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond);
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
    benchsupport::RatioReporter reporter;
    reporter.AddPair("BM_CellsBitmap/200/50", "BM_QtCellsImage/200/50");
    reporter.AddPair("BM_CellsWindowPaint/200/50", "BM_QtCellsWindow/200/50");
    reporter.AddPair("BM_CellsWindowRow/200/50", "BM_QtCellsWindowRow/200/50");
    reporter.AddPair("BM_CellsViaBitmap/200/50", "BM_QtCellsWindow/200/50");
    reporter.AddPair("BM_ScreenBitmap/200/50", "BM_QtCellsImage/200/50");
    reporter.AddPair("BM_ScreenWindowViaBitmap/200/50", "BM_QtCellsWindow/200/50");
    const int rc = benchsupport::RunWithRatios(argc, argv, reporter);
    plat::StopApplication();
    return rc;
}
