// A list view of 10,000 records of three columns, the way the program
// fills, sorts and scrolls its lists, next to a bare QTreeView over a
// QStandardItemModel doing the same (through the platform's reference
// helper, so this file includes no Qt). Offscreen.
//
// - ListFill: DeleteAllRecords (not timed), then 10,000 InsertRecord.
// - ListSort: SortRecords by the first column, ascending and descending
//   in turn, so that each iteration sorts.
// - ListScrollFrame: the scroll position moves one screenful down (back to
//   the top at the end) and the view paints now: one frame.
// - ListBoxAdd: 10,000 items appended to a list box (indexes kept, rows
//   sorted by them).
// The Qt* ones are the reference; the ratios at the end compare them.
//
// Goals: fill under 100 ms, sort under 50 ms, a scroll frame under 16 ms.
#include <benchmark/benchmark.h>

#include "bench/support/ratio.h"
#include "platform/controls/benchref.h"
#include "platform/controls/databrowser.h"
#include "platform/events/application.h"
#include "platform/events/queue.h"
#include "platform/events/views.h"
#include "platform/events/windows.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/listbox.h"
#include "velmot/gui/listview.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 600;
constexpr int kHeight = 400;

// Row texts as a host list holds them: a name, an address and a port.
std::vector<std::wstring> const& Rows(int count)
{
    static std::vector<std::wstring> rows;
    if (static_cast<int>(rows.size()) != count) {
        rows.clear();
        for (int i = 0; i < count; ++i) {
            wchar_t text[96];
            std::swprintf(text, 96, L"host %05d.example.net\t10.%d.%d.%d\t%d", (i * 7919) % count, i % 7,
                          (i / 256) % 256, i % 256, 1024 + (i * 31) % 60000);
            rows.emplace_back(text);
        }
    }
    return rows;
}

std::vector<std::u32string> RowsUtf32(int count)
{
    std::vector<std::u32string> out;
    for (std::wstring const& row : Rows(count))
        out.emplace_back(row.begin(), row.end());
    return out;
}

// A window with a list view filling it.
struct ListWindow {
    plat::WindowRef window = nullptr;
    std::unique_ptr<LISTVIEW> list;

    ListWindow()
    {
        plat::WindowSpec spec;
        spec.bounds = plat::RectI{0, 0, kWidth, kHeight};
        window = plat::CreateWindow(spec);
        plat::ShowWindow(window, true);
        CONTROLPARENT parent{plat::WindowContentView(window)};
        list = std::make_unique<LISTVIEW>(0, 0, 0, kWidth, kHeight, parent, CONTROLID{plat::FourCC("LIST"), 1});
        list->InsertColumn(0, "Name", 240, LVCOLUMN_LEFT);
        list->InsertColumn(1, "Address", 180, LVCOLUMN_LEFT);
        list->InsertColumn(2, "Port", 80, LVCOLUMN_RIGHT);
        plat::ProcessPendingEvents(1000);
    }
    ~ListWindow()
    {
        list.reset();
        plat::DisposeWindow(window);
    }
    void Fill(int count)
    {
        int handle = 1;
        for (std::wstring const& row : Rows(count))
            list->InsertRecordWide(handle++, 0, row.c_str());
    }
};

void BM_ListFill(benchmark::State& state)
{
    int const count = static_cast<int>(state.range(0));
    ListWindow w;
    Rows(count);
    for (auto _ : state) {
        state.PauseTiming();
        w.list->DeleteAllRecords();
        plat::ProcessPendingEvents(1000);
        state.ResumeTiming();
        w.Fill(count);
    }
}

void BM_QtListFill(benchmark::State& state)
{
    int const count = static_cast<int>(state.range(0));
    plat::benchref::QtList list(kWidth, kHeight, 3);
    std::vector<std::u32string> const rows = RowsUtf32(count);
    for (auto _ : state) {
        state.PauseTiming();
        list.Clear();
        state.ResumeTiming();
        list.Fill(rows);
    }
}

void BM_ListSort(benchmark::State& state)
{
    int const count = static_cast<int>(state.range(0));
    ListWindow w;
    w.Fill(count);
    int descending = 0;
    for (auto _ : state) {
        w.list->SortRecords(descending, 0, nullptr, nullptr);
        descending = !descending;
    }
}

void BM_QtListSort(benchmark::State& state)
{
    int const count = static_cast<int>(state.range(0));
    plat::benchref::QtList list(kWidth, kHeight, 3);
    list.Fill(RowsUtf32(count));
    bool descending = false;
    for (auto _ : state) {
        list.Sort(0, descending);
        descending = !descending;
    }
}

void BM_ListScrollFrame(benchmark::State& state)
{
    int const count = static_cast<int>(state.range(0));
    ListWindow w;
    w.Fill(count);
    w.list->SortRecords(0, 0, nullptr, nullptr);
    plat::ViewRef const view = w.list->GetControlRef();
    int const page = kHeight - 40;
    int const last = plat::GetDataBrowserRowHeight(view) * count;
    int top = 0;
    for (auto _ : state) {
        top = top + page < last ? top + page : 0;
        plat::SetDataBrowserScrollPosition(view, top, 0);
        plat::RenderView(view);
    }
}

void BM_QtListScrollFrame(benchmark::State& state)
{
    int const count = static_cast<int>(state.range(0));
    plat::benchref::QtList list(kWidth, kHeight, 3);
    list.Fill(RowsUtf32(count));
    list.Sort(0, false);
    int const page = kHeight - 40;
    int top = 0;
    for (auto _ : state) {
        top = top + page < list.MaximumScroll() ? top + page : 0;
        list.ScrollAndPaint(top);
    }
}

void BM_ListBoxAdd(benchmark::State& state)
{
    int const count = static_cast<int>(state.range(0));
    plat::WindowSpec spec;
    spec.bounds = plat::RectI{0, 0, kWidth, kHeight};
    plat::WindowRef window = plat::CreateWindow(spec);
    plat::ShowWindow(window, true);
    CONTROLPARENT parent{plat::WindowContentView(window)};
    Rows(count);
    for (auto _ : state) {
        state.PauseTiming();
        auto box = std::make_unique<LISTBOX>(parent, CONTROLID{plat::FourCC("LBOX"), 1}, 0, 0, 0, kWidth, kHeight);
        state.ResumeTiming();
        for (std::wstring const& row : Rows(count))
            box->AddItemWide(row.c_str());
        state.PauseTiming();
        box.reset();
        plat::ProcessPendingEvents(1000);
        state.ResumeTiming();
    }
    plat::DisposeWindow(window);
}

BENCHMARK(BM_ListFill)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QtListFill)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListSort)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QtListSort)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListScrollFrame)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QtListScrollFrame)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListBoxAdd)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    static char name[] = "bench_lists";
    static char* args[] = {name, nullptr};
    TARVOAPP::InitArgsLoggingAndLocale(1, args, LOCALE_ENGLISH);
    if (!plat::StartApplication(&argc, argv)) {
        std::fprintf(stderr, "bench_lists: the window system does not start\n");
        return 1;
    }
    benchsupport::RatioReporter reporter;
    reporter.AddPair("BM_ListFill/10000", "BM_QtListFill/10000");
    reporter.AddPair("BM_ListSort/10000", "BM_QtListSort/10000");
    reporter.AddPair("BM_ListScrollFrame/10000", "BM_QtListScrollFrame/10000");
    int const rc = benchsupport::RunWithRatios(argc, argv, reporter);
    plat::StopApplication();
    return rc;
}
