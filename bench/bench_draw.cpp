// A terminal screen drawn the way a terminal draws it, through the platform
// drawing layer into a bitmap: runs of 8 cells with changing colours and
// attributes (bold, underline, inverse background). One iteration is one
// full frame; the "fps" counter is frames per second.
//
// The Fills and Glyphs variants split a frame into its two halves, to show
// which one limits the frame rate. The Mirrored variant draws the frame
// through a flipped user space, as a window-style context over an
// off-screen bitmap does, so that glyphs land upside down in memory.
//
// CellPainterFrame draws the same runs through the batched cell painter
// (one DrawRun per run; Mirrored: the flipped user space), QtCellsImage with
// bare QPainter (the drawing layer's reference helper); the ratios at the
// end compare them.
#include <benchmark/benchmark.h>

#include "bench/support/cellframe.h"
#include "bench/support/ratio.h"
#include "platform/draw/benchref.h"
#include "platform/draw/bitmap.h"
#include "platform/draw/cells.h"
#include "platform/draw/font.h"
#include "platform/draw/runtime.h"

#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace plat;
using benchsupport::CellAttributes;

struct Terminal {
    int cols = 0, rows = 0;
    int cellWidth = 0, cellHeight = 0, descent = 0;
    std::unique_ptr<Font> normal, bold;
    std::unique_ptr<Bitmap> bitmap;
    std::u32string text; // rows * cols cells

    Terminal(int c, int r) : cols(c), rows(r)
    {
        normal = Font::Create("DejaVu Sans Mono", 15);
        bold = Font::Create("DejaVu Sans Mono", 15, true);
        FontMetrics m = normal->Metrics();
        cellWidth = static_cast<int>(normal->Advance(U'M') + 0.5);
        cellHeight = static_cast<int>(m.ascent + m.descent + 0.999);
        descent = static_cast<int>(m.descent + 0.5);
        bitmap = Bitmap::Create(cols * cellWidth, rows * cellHeight);
        text.resize(static_cast<size_t>(cols) * rows);
    }

    // New screen content for each frame, so no run repeats the last one.
    void Fill(int frame)
    {
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = U'!' + static_cast<char32_t>((i * 7 + static_cast<size_t>(frame)) % 94);
    }

    // The frame through the cell painter, rows top-down.
    void CellFrame(int frame, bool mirrored)
    {
        DrawContext& dc = bitmap->Context();
        const int height = rows * cellHeight;
        if (!mirrored) {
            dc.SaveState();
            dc.Translate(0, height);
            dc.Scale(1, -1);
        }
        {
            CellPainter cells(dc, cellWidth, cellHeight, cellHeight - descent);
            benchsupport::ForEachRun(cols, 0, rows, frame, [&](int row, int col, int n, const CellAttributes& a) {
                CellRun r;
                r.font = a.bold ? bold.get() : normal.get();
                r.x = col * cellWidth;
                r.y = row * cellHeight;
                r.cells = std::u32string_view(&text[size_t(row) * size_t(cols) + size_t(col)], size_t(n));
                r.fore = ColorFromValue(a.Fore());
                r.back = ColorFromValue(a.Back());
                r.flags = a.underline ? kCellUnderline : 0;
                cells.DrawRun(r);
            });
        }
        if (!mirrored)
            dc.RestoreState();
    }

    // The same runs for the bare-Qt reference.
    const std::vector<benchref::CellRunRef>& Runs(int frame)
    {
        benchsupport::ReferenceRuns(refRuns, text.data(), cols, 0, rows, frame, cellWidth, cellHeight);
        return refRuns;
    }
    std::vector<benchref::CellRunRef> refRuns;

    void Frame(int frame, bool fills, bool glyphs, bool mirrored)
    {
        DrawContext& dc = bitmap->Context();
        const int height = rows * cellHeight;
        if (mirrored) {
            // A flipped user space: glyphs drawn upright in it land upside
            // down in the bitmap's memory.
            dc.SaveState();
            dc.Translate(0, height);
            dc.Scale(1, -1);
        }
        // The bitmap's user space is y-up: row 0 is at the top.
        benchsupport::ForEachRun(cols, 0, rows, frame, [&](int row, int col, int n, const CellAttributes& a) {
            const double bottom = height - (row + 1) * cellHeight;
            const double x = col * cellWidth;
            if (fills) {
                dc.SetFillColor(ColorFromValue(a.Back()));
                dc.FillRect({x, bottom, double(n * cellWidth), double(cellHeight)});
            }
            dc.SetFillColor(ColorFromValue(a.Fore()));
            if (glyphs) {
                std::u32string_view cells(&text[static_cast<size_t>(row) * cols + col], static_cast<size_t>(n));
                dc.DrawCells(a.bold ? *bold : *normal, {x, bottom + descent}, cells, cellWidth);
            }
            if (fills && a.underline)
                dc.FillRect({x, bottom + descent - 2, double(n * cellWidth), 1});
        });
        if (mirrored)
            dc.RestoreState();
    }
};

void Run(benchmark::State& state, bool fills, bool glyphs, bool mirrored = false)
{
    Terminal term(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    if (!term.normal || !term.bold || !term.bitmap) {
        state.SkipWithError("no font or bitmap");
        return;
    }
    int frame = 0;
    for (auto _ : state) {
        term.Fill(frame);
        term.Frame(frame, fills, glyphs, mirrored);
        ++frame;
        benchmark::DoNotOptimize(term.bitmap->Data());
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["cells"] = static_cast<double>(term.cols * term.rows);
    state.SetLabel(std::to_string(term.bitmap->Width()) + "x" + std::to_string(term.bitmap->Height()) + " px");
}

void BM_CellPainterFrame(benchmark::State& state)
{
    Terminal term(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    if (!term.normal || !term.bold || !term.bitmap) {
        state.SkipWithError("no font or bitmap");
        return;
    }
    const bool mirrored = state.range(2) != 0;
    int frame = 0;
    for (auto _ : state) {
        term.Fill(frame);
        term.CellFrame(frame, mirrored);
        ++frame;
        benchmark::DoNotOptimize(term.bitmap->Data());
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_QtCellsImage(benchmark::State& state)
{
    Terminal term(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    benchref::QtCells ref("DejaVu Sans Mono", 15, term.cellWidth, term.cellHeight, term.cellHeight - term.descent);
    if (!ref.Ok() || !term.bitmap) {
        state.SkipWithError("no font");
        return;
    }
    int frame = 0;
    for (auto _ : state) {
        term.Fill(frame);
        ref.DrawIntoImage(term.bitmap->Width(), term.bitmap->Height(), term.Runs(frame));
        ++frame;
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_TerminalFrame(benchmark::State& state) { Run(state, true, true); }
void BM_TerminalFrameFills(benchmark::State& state) { Run(state, true, false); }
void BM_TerminalFrameGlyphs(benchmark::State& state) { Run(state, false, true); }
void BM_TerminalFrameMirrored(benchmark::State& state) { Run(state, true, true, true); }

BENCHMARK(BM_TerminalFrame)->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TerminalFrameFills)->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TerminalFrameGlyphs)->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TerminalFrameMirrored)->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CellPainterFrame)->Args({80, 24, 0})->Args({200, 50, 0})->Args({200, 50, 1})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QtCellsImage)->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (!plat::EnsureGuiApplication()) {
        std::fprintf(stderr, "bench_draw: no application object for fonts\n");
        return 1;
    }
    benchsupport::RatioReporter reporter;
    reporter.AddPair("BM_CellPainterFrame/200/50/0", "BM_QtCellsImage/200/50");
    reporter.AddPair("BM_CellPainterFrame/200/50/1", "BM_QtCellsImage/200/50");
    reporter.AddPair("BM_TerminalFrame/200/50", "BM_QtCellsImage/200/50");
    return benchsupport::RunWithRatios(argc, argv, reporter);
}
