// Painting the terminal screen into a window offscreen, from its cells:
//
// - Full: the whole 200x50 screen repainted (the window asks for all of
//   it), plain text in one colour, runs of 8 cells with changing colours
//   and attributes, and cells each in a colour pair of the 256-colour
//   palette of their own (as full-screen colour programs draw).
// - Row: one row changed by a write, and the paint of what that write
//   invalidated (through the window system's event loop).
//
// Reference: the same cells painted with QPainter alone in a plain widget
// (the platform's benchref), the usual way of a Qt terminal.
//
// Run with QT_QPA_PLATFORM=offscreen (scripts/bench does).
#include <benchmark/benchmark.h>

#include "bench/support/ratio.h"
#include "platform/draw/benchref.h"
#include "platform/events/application.h"
#include "platform/events/event.h"
#include "platform/events/paint.h"
#include "platform/events/queue.h"
#include "platform/events/views.h"
#include "platform/events/windows.h"
#include "program/screen/termfonts.h"
#include "program/screen/vio.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/windraw.h"
#include "velmot/gui/winfont.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kRun = 8;
constexpr int kPixelSize = 15;

// A window with one opaque pane that the screen paints.
class PANE : public VIOHOST {
public:
    PANE(int w, int h)
    {
        plat::WindowSpec spec;
        spec.bounds = plat::RectI{0, 0, w, h};
        Win = plat::CreateWindow(spec);
        View = plat::CreateUserPane(plat::WindowContentView(Win), plat::RectI{0, 0, w, h},
                                    plat::ViewId{plat::FourCC("VIOB"), 1});
        static const plat::EventType kDraw[] = {{plat::kEventClassControl, plat::kEventControlDraw}};
        plat::InstallHandler(plat::ViewTarget(View), kDraw, [this](plat::HandlerCall&, plat::Event& e) {
            PAINTPASS pass(e);
            if (!pass.IsValid() || !Screen)
                return plat::kErrEventNotHandled;
            ++Paints;
            Screen->OnPaint(pass.Ps);
            return plat::kNoErr;
        });
        plat::ShowWindow(Win, true);
        Wait(0);
    }
    ~PANE() override { plat::DisposeWindow(Win); }

    // Runs the event loop until more than `paints` paints were made.
    void Wait(int paints)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (Paints <= paints && std::chrono::steady_clock::now() < deadline)
            plat::ProcessPendingEvents(1000);
    }

    void Invalidate(RECT const* r) override
    {
        if (!r) {
            plat::SetViewNeedsDisplay(View);
            return;
        }
        plat::RectI const q{r->left, r->top, r->right, r->bottom};
        plat::SetViewNeedsDisplay(View, &q);
    }
    SIZE ClientSize() override
    {
        plat::RectI f = plat::GetViewFrame(View);
        return SIZE{f.right - f.left, f.bottom - f.top};
    }
    COREFONT* LoadFont(wchar_t const* fontString, signed char*, int codePage) override
    {
        wchar_t name[128];
        int w = 0, h = 0;
        TERMFONTS::GetNameFromFontstr(fontString, name, 128);
        TERMFONTS::GetSizeFromFontstr(fontString, &w, &h);
        WINDC dc(nullptr, RECT{}, false);
        return dc.LoadFixedFontW(name, SIZE{w, h}, false, 1, codePage);
    }

    VIO* Screen = nullptr;
    int Paints = 0;
    plat::WindowRef Win = nullptr;
    plat::ViewRef View = nullptr;
};

// The cell of DejaVu Sans Mono at the benchmark's size, as the font list
// gives it.
std::wstring FontString()
{
    TERMFONT fonts[64];
    int const n = TERMFONTS::QueryFixedFonts(fonts, 64, L"DejaVu Sans Mono", 1252, 0);
    for (int i = 0; i < n; ++i) {
        if (fonts[i].PointsX100 == kPixelSize * 100) {
            wchar_t buf[128];
            TERMFONTS::ComposeFontstr(buf, 128, fonts[i]);
            return buf;
        }
    }
    return L"DejaVu Sans Mono  9 X 18";
}

// How the cells look: one colour, runs of 8 cells in 16 colours, cells in
// palette colours.
enum MODE { PLAIN, MIXED, PALETTE };

// The colours of a run of 8 cells: 16 system colours, bold and inverse
// now and then.
struct LOOK {
    int fore, back, attrib;
};
LOOK LookOf(int row, int run)
{
    uint32_t const h = uint32_t(row * 131 + run * 17) * 2654435761u;
    int attrib = 0;
    if (((h >> 12) & 3) == 0)
        attrib |= VIOATTR_BRIGHT;
    if (((h >> 14) & 7) == 0)
        attrib |= VIOATTR_UNDERLINE;
    if (((h >> 17) & 7) == 0)
        attrib |= VIOATTR_INVERSE;
    return LOOK{int((h >> 4) & 15), int((h >> 8) & 7), attrib};
}

// A cell of its own in palette colours (the screen's colour numbers 272
// to 511 are the palette's 16 to 255), bold every other cell.
LOOK PaletteLookOf(int row, int col, int cols)
{
    int const i = row * cols + col;
    return LOOK{256 + 16 + i % 240, 256 + 16 + (i * 37) % 240, col % 2 ? VIOATTR_BRIGHT : 0};
}

struct BENCHSCREEN {
    int Cols, Rows;
    std::unique_ptr<PANE> Pane;
    VIO Vio;
    int CellWidth = 0, CellHeight = 0;
    MODE Mode;

    int RunLength() const { return Mode == PALETTE ? 1 : kRun; }
    LOOK Look(int row, int col) const
    {
        return Mode == PLAIN ? LOOK{7, 0, 0} : Mode == MIXED ? LookOf(row, col / kRun) : PaletteLookOf(row, col, Cols);
    }

    BENCHSCREEN(int cols, int rows, MODE mode) : Cols(cols), Rows(rows), Mode(mode)
    {
        std::wstring const font = FontString();
        {
            PANE probe(10, 10);
            VIO measure(&probe);
            probe.Screen = &measure;
            measure.Init(1, 1);
            measure.SetFont(font.c_str(), 0);
            measure.GetFontSize(&CellWidth, &CellHeight);
            probe.Screen = nullptr;
        }
        Pane = std::make_unique<PANE>(cols * CellWidth, rows * CellHeight);
        Vio.SetHost(Pane.get());
        Vio.Init(cols, rows);
        Vio.SetFont(font.c_str(), 0);
        Vio.SetCursorOnOff(0);
        for (int row = 0; row < rows; ++row)
            FillRow(row, 0);
        Pane->Screen = &Vio;
        Pane->Wait(Pane->Paints);
    }
    ~BENCHSCREEN() { Pane->Screen = nullptr; }

    // New characters for a row, in runs of 8 cells of one look each.
    void FillRow(int row, int frame)
    {
        std::wstring text(size_t(Cols), L' ');
        for (int i = 0; i < Cols; ++i)
            text[size_t(i)] = wchar_t(L'!' + (row * 7 + i * 3 + frame) % 94);
        Vio.SetCursorPos(0, row);
        if (Mode == PLAIN) {
            Vio.SetMode(0);
            Vio.conputws(text.c_str(), Cols - 1);
            return;
        }
        for (int col = 0; col < Cols - 1; col += RunLength()) {
            LOOK const look = Look(row, col);
            Vio.SetColors(look.back, look.fore);
            Vio.SetModeFlags(look.attrib);
            Vio.conputws(text.c_str() + col, std::min(RunLength(), Cols - 1 - col));
        }
        Vio.SetMode(0);
    }

    // The same cells for the reference.
    std::vector<plat::benchref::CellRunRef> const& Runs(int first, int last)
    {
        RefRuns.clear();
        Chars.assign(size_t(Cols) * size_t(Rows), U' ');
        for (int row = first; row < last; ++row) {
            for (int col = 0; col < Cols; col += RunLength()) {
                int const n = std::min(RunLength(), Cols - col);
                for (int i = 0; i < n; ++i)
                    Chars[size_t(row * Cols + col + i)] = Vio.AccessVioCell(col + i, row, 0)->c;
                LOOK const look = Look(row, col);
                uint32_t fore = 0, back = 0;
                Vio.AttribToColors(look.attrib, look.fore, look.back, &fore, &back);
                plat::benchref::CellRunRef r;
                r.x = col * CellWidth;
                r.y = row * CellHeight;
                r.text = &Chars[size_t(row * Cols + col)];
                r.count = n;
                r.fore = Argb(fore);
                r.back = Argb(back);
                r.underline = look.attrib & VIOATTR_UNDERLINE;
                RefRuns.push_back(r);
            }
        }
        return RefRuns;
    }
    static uint32_t Argb(uint32_t rgb) { return 0xFF000000u | (rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF); }

    std::vector<plat::benchref::CellRunRef> RefRuns;
    std::u32string Chars;
};

void Report(benchmark::State& state, BENCHSCREEN const& s)
{
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(std::to_string(s.Cols * s.CellWidth) + "x" + std::to_string(s.Rows * s.CellHeight) + " px");
}

void PaintFull(benchmark::State& state, MODE mode)
{
    BENCHSCREEN s(int(state.range(0)), int(state.range(1)), mode);
    for (auto _ : state)
        plat::RenderView(s.Pane->View);
    Report(state, s);
}
void BM_PaintFullPlain(benchmark::State& state) { PaintFull(state, PLAIN); }
void BM_PaintFullMixed(benchmark::State& state) { PaintFull(state, MIXED); }
void BM_PaintFullPalette(benchmark::State& state) { PaintFull(state, PALETTE); }

void BM_PaintRow(benchmark::State& state)
{
    BENCHSCREEN s(int(state.range(0)), int(state.range(1)), MIXED);
    int frame = 0;
    for (auto _ : state) {
        ++frame;
        int const paints = s.Pane->Paints;
        s.FillRow(frame % s.Rows, frame);
        s.Pane->Wait(paints);
    }
    Report(state, s);
}

void RefFull(benchmark::State& state, MODE mode)
{
    BENCHSCREEN s(int(state.range(0)), int(state.range(1)), mode);
    plat::benchref::QtCells ref("DejaVu Sans Mono", kPixelSize, s.CellWidth, s.CellHeight, s.CellHeight * 4 / 5);
    if (!ref.Ok() || !ref.OpenWindow(s.Cols * s.CellWidth, s.Rows * s.CellHeight)) {
        state.SkipWithError("no font or window");
        return;
    }
    auto const& runs = s.Runs(0, s.Rows);
    for (auto _ : state)
        ref.RepaintWindow(runs);
    Report(state, s);
}
void BM_QtFullPlain(benchmark::State& state) { RefFull(state, PLAIN); }
void BM_QtFullMixed(benchmark::State& state) { RefFull(state, MIXED); }
void BM_QtFullPalette(benchmark::State& state) { RefFull(state, PALETTE); }

void BM_QtRow(benchmark::State& state)
{
    BENCHSCREEN s(int(state.range(0)), int(state.range(1)), MIXED);
    plat::benchref::QtCells ref("DejaVu Sans Mono", kPixelSize, s.CellWidth, s.CellHeight, s.CellHeight * 4 / 5);
    if (!ref.Ok() || !ref.OpenWindow(s.Cols * s.CellWidth, s.Rows * s.CellHeight)) {
        state.SkipWithError("no font or window");
        return;
    }
    ref.RepaintWindow(s.Runs(0, s.Rows));
    int frame = 0;
    for (auto _ : state) {
        ++frame;
        int const row = frame % s.Rows;
        ref.UpdateWindowRows(s.Runs(row, row + 1), row * s.CellHeight, (row + 1) * s.CellHeight);
    }
    Report(state, s);
}

BENCHMARK(BM_PaintFullPlain)->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QtFullPlain)->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintFullMixed)->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QtFullMixed)->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintFullPalette)->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QtFullPalette)->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintRow)->Args({200, 50})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QtRow)->Args({200, 50})->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    static char name[] = "bench_viopaint";
    static char* args[] = {name, nullptr};
    TARVOAPP::InitArgsLoggingAndLocale(1, args, LOCALE_ENGLISH);
    if (!plat::StartApplication(&argc, argv)) {
        std::fprintf(stderr, "bench_viopaint: the window system does not start\n");
        return 1;
    }
    benchsupport::RatioReporter reporter;
    reporter.AddPair("BM_PaintFullPlain/200/50", "BM_QtFullPlain/200/50");
    reporter.AddPair("BM_PaintFullMixed/200/50", "BM_QtFullMixed/200/50");
    reporter.AddPair("BM_PaintFullPalette/200/50", "BM_QtFullPalette/200/50");
    reporter.AddPair("BM_PaintRow/200/50", "BM_QtRow/200/50");
    int const rc = benchsupport::RunWithRatios(argc, argv, reporter);
    plat::StopApplication();
    return rc;
}
