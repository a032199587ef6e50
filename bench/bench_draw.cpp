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

constexpr int kRun = 8;

// The 16 colours of a terminal palette, as 0xTTBBGGRR values.
constexpr uint32_t kPalette[16] = {
    0x00000000, 0x000000CD, 0x0000CD00, 0x0000CDCD, 0x00EE0000, 0x00CD00CD, 0x00CDCD00, 0x00E5E5E5,
    0x007F7F7F, 0x000000FF, 0x0000FF00, 0x0000FFFF, 0x00FF5C5C, 0x00FF00FF, 0x00FFFF00, 0x00FFFFFF,
};

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

    struct Attributes {
        uint32_t fg, bg;
        bool bold, underline, inverse;
    };

    static Attributes AttributesOf(int row, int run, int frame)
    {
        uint32_t h = static_cast<uint32_t>(row * 131 + run * 17 + frame * 7) * 2654435761u;
        return Attributes{kPalette[(h >> 4) & 15], kPalette[(h >> 8) & 7], ((h >> 12) & 3) == 0,
                          ((h >> 14) & 7) == 0, ((h >> 17) & 7) == 0};
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
            for (int row = 0; row < rows; ++row)
                for (int col = 0, run = 0; col < cols; col += kRun, ++run) {
                    Attributes a = AttributesOf(row, run, frame);
                    CellRun r;
                    r.font = a.bold ? bold.get() : normal.get();
                    r.x = col * cellWidth;
                    r.y = row * cellHeight;
                    r.cells = std::u32string_view(&text[size_t(row) * size_t(cols) + size_t(col)],
                                                  size_t(std::min(kRun, cols - col)));
                    r.fore = ColorFromValue(a.inverse ? a.bg : a.fg);
                    r.back = ColorFromValue(a.inverse ? a.fg : a.bg);
                    r.flags = a.underline ? kCellUnderline : 0;
                    cells.DrawRun(r);
                }
        }
        if (!mirrored)
            dc.RestoreState();
    }

    static uint32_t Argb(uint32_t v) { return 0xFF000000u | (v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16 & 0xFF); }

    // The same runs for the bare-Qt reference.
    const std::vector<benchref::CellRunRef>& Runs(int frame)
    {
        refRuns.clear();
        for (int row = 0; row < rows; ++row)
            for (int col = 0, run = 0; col < cols; col += kRun, ++run) {
                Attributes a = AttributesOf(row, run, frame);
                benchref::CellRunRef r;
                r.x = col * cellWidth;
                r.y = row * cellHeight;
                r.text = &text[size_t(row) * size_t(cols) + size_t(col)];
                r.count = std::min(kRun, cols - col);
                r.fore = Argb(a.inverse ? a.bg : a.fg);
                r.back = Argb(a.inverse ? a.fg : a.bg);
                r.bold = a.bold;
                r.underline = a.underline;
                refRuns.push_back(r);
            }
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
        for (int row = 0; row < rows; ++row) {
            // The bitmap's user space is y-up: row 0 is at the top.
            const double bottom = height - (row + 1) * cellHeight;
            for (int col = 0, run = 0; col < cols; col += kRun, ++run) {
                const int n = std::min(kRun, cols - col);
                Attributes a = AttributesOf(row, run, frame);
                uint32_t fg = a.inverse ? a.bg : a.fg;
                uint32_t bg = a.inverse ? a.fg : a.bg;
                const double x = col * cellWidth;
                if (fills) {
                    dc.SetFillColor(ColorFromValue(bg));
                    dc.FillRect({x, bottom, double(n * cellWidth), double(cellHeight)});
                }
                dc.SetFillColor(ColorFromValue(fg));
                if (glyphs) {
                    std::u32string_view cells(&text[static_cast<size_t>(row) * cols + col], static_cast<size_t>(n));
                    dc.DrawCells(a.bold ? *bold : *normal, {x, bottom + descent}, cells, cellWidth);
                }
                if (fills && a.underline)
                    dc.FillRect({x, bottom + descent - 2, double(n * cellWidth), 1});
            }
        }
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
