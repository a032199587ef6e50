// The session's logs, the capture buffer and the print queue, each next to
// the work it cannot avoid:
//
// - PutBuf: plain text into the capture buffer, next to converting the same
//   text to the code page alone (cptext::Encode). Goal: at most 1.5x.
// - Recount: the capture viewer's count of display lines of a full 8 MB
//   buffer, next to one memchr pass counting the line ends of the same
//   bytes. Goal: at most 3x. RecountStep: the incremental update after one
//   new-text signal (4 KB appended), the viewer's usual cost.
// - PrintQueue: 10,000 lines through the print queue to a PDF file, next to
//   PRINTER writing them directly. Goal: at most 1.2x.
// - Road/1: the session's received-data road (loopback device, TTY,
//   screen, headless) with the session log and the text and binary trace
//   on, next to Road/0 with both off, in the same run. Goal: at most 1.3x.
#include "bench/support/loopbackhost.h"
#include "bench/support/ratio.h"
#include "program/screen/codepagetext.h"
#include "program/screen/printqueue.h"
#include "program/screen/streamdata.h"
#include "program/screen/streamlines.h"
#include "program/session/sessionrunner.h"

#include "velmot/gui/printer.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

std::string const& Folder()
{
    static std::string const folder = [] {
        char templ[] = "/tmp/bench-logs-XXXXXX";
        if (!mkdtemp(templ))
            abort();
        return std::string(templ);
    }();
    return folder;
}

// Printable lines of 0 to 79 characters, CR LF.
std::string Text(size_t bytes)
{
    std::mt19937 rng(4142);
    std::string out;
    while (out.size() < bytes) {
        size_t const k = rng() % 80;
        for (size_t i = 0; i < k; ++i)
            out += static_cast<char>(0x20 + rng() % 95);
        out += "\r\n";
    }
    out.resize(bytes);
    return out;
}

std::wstring const& WideText()
{
    static std::wstring const wide = [] {
        std::string const t = Text(4 << 20);
        return std::wstring(t.begin(), t.end());
    }();
    return wide;
}

class CAPTUREHOST : public STREAMDATAHOST {};

void SetRate(benchmark::State& state, size_t bytes)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void BM_PutBuf(benchmark::State& state)
{
    CAPTUREHOST host;
    STREAMDATA buffer(host);
    buffer.SetBufSize(STREAMDATA::MAXKB);
    std::wstring const& wide = WideText();
    for (auto _ : state) {
        for (size_t at = 0; at < wide.size(); at += 4096)
            buffer.PutBuf(wide.data() + at, static_cast<long>(std::min<size_t>(4096, wide.size() - at)));
    }
    SetRate(state, wide.size());
}
BENCHMARK(BM_PutBuf)->Unit(benchmark::kMillisecond);

void BM_Encode(benchmark::State& state)
{
    std::wstring const& wide = WideText();
    std::string out;
    for (auto _ : state) {
        for (size_t at = 0; at < wide.size(); at += 4096) {
            out.clear();
            cptext::Encode(out, wide.data() + at, std::min<size_t>(4096, wide.size() - at), 1252);
            benchmark::DoNotOptimize(out.data());
        }
    }
    SetRate(state, wide.size());
}
BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond);

std::string const& FullBuffer()
{
    static std::string const text = Text((8 << 20) - 2);
    return text;
}

void BM_Recount(benchmark::State& state)
{
    std::string const& text = FullBuffer();
    streamlines::LAYOUT const layout{80, false};
    for (auto _ : state) {
        streamlines::LINEINDEX index;
        index.Update(text.data(), text.size(), 0, 1, text.size(), layout);
        benchmark::DoNotOptimize(index.Count());
    }
    SetRate(state, text.size());
}
BENCHMARK(BM_Recount)->Unit(benchmark::kMillisecond);

void BM_Memchr(benchmark::State& state)
{
    std::string const& text = FullBuffer();
    for (auto _ : state) {
        size_t lines = 0;
        char const* p = text.data();
        char const* const end = p + text.size();
        while ((p = static_cast<char const*>(memchr(p, '\r', static_cast<size_t>(end - p)))) != nullptr) {
            ++lines;
            ++p;
        }
        benchmark::DoNotOptimize(lines);
    }
    SetRate(state, text.size());
}
BENCHMARK(BM_Memchr)->Unit(benchmark::kMillisecond);

// One signal's worth: 4 KB more text, then the update.
void BM_RecountStep(benchmark::State& state)
{
    CAPTUREHOST host;
    STREAMDATA buffer(host);
    buffer.SetBufSize(STREAMDATA::MAXKB);
    std::wstring const& wide = WideText();
    buffer.PutBuf(wide.data(), static_cast<long>(wide.size()));
    streamlines::LINEINDEX index;
    streamlines::LAYOUT const layout{80, false};
    size_t at = 0;
    for (auto _ : state) {
        state.PauseTiming();
        buffer.PutBuf(wide.data() + at, 4096);
        at = (at + 4096) % (wide.size() - 4096);
        state.ResumeTiming();
        MUTEXLOCK lock(buffer.Lock());
        index.Update(buffer.Data(), buffer.Length(), buffer.Base(), buffer.Epoch(), buffer.StablePos(), layout);
        benchmark::DoNotOptimize(index.Count());
    }
}
BENCHMARK(BM_RecountStep)->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------------------
// Printing

constexpr int kPrintLines = 10000;

std::string PrintLine(int i)
{
    return "line " + std::to_string(i) + " of the printed text, a good sixty characters long...\r\n";
}

class PRINTHOST : public PRINTQUEUEHOST {
public:
    PRINTHOST()
    {
        snprintf(Settings.Printer, sizeof Settings.Printer, "PDF|file:%s/queue.pdf", Folder().c_str());
    }
    PROGRAMSETTINGSDATA const& PrintSettings() override { return Settings; }
    PROGRAMSETTINGSDATA Settings{};
};

void BM_PrintQueue(benchmark::State& state)
{
    HEADLESSSESSION::StartPlatform();
    PRINTHOST host;
    PRINTQUEUE queue(host);
    PRINTJOBOWNER owner;
    for (auto _ : state) {
        void* job = queue.NewJob(owner, L"bench", 0, 1252, 1);
        if (!job) {
            state.SkipWithError("no print job");
            return;
        }
        for (int i = 0; i < kPrintLines; ++i) {
            std::string const line = PrintLine(i);
            queue.Write(job, line.data(), static_cast<int>(line.size()));
            if (i % 500 == 0)
                queue.QueueTick();
        }
        queue.CloseJob(job);
    }
}
BENCHMARK(BM_PrintQueue)->Unit(benchmark::kMillisecond);

void BM_Printer(benchmark::State& state)
{
    HEADLESSSESSION::StartPlatform();
    std::string const target = "PDF|file:" + Folder() + "/direct.pdf";
    for (auto _ : state) {
        PRINTER printer;
        char name[260];
        if (!printer.PrinterOpen(target.c_str(), 0, name, sizeof name) || !printer.StartDocWide(L"QOR (bench)", false)) {
            state.SkipWithError("no printer");
            return;
        }
        RECT m{};
        PRINTQUEUE::MakePrinterMargins("", &m);
        printer.SetMargins(m.left, m.top, m.right, m.bottom);
        printer.SetFont("Courier New", 10, false, false, true, 1252);
        printer.SetHeaderWide(L"");
        printer.NewPage();
        for (int i = 0; i < kPrintLines; ++i) {
            std::string const line = PrintLine(i);
            std::wstring const wide(line.begin(), line.end());
            printer.WriteTextWide(wide.c_str(), static_cast<int>(wide.size()));
        }
        printer.EndDoc();
    }
}
BENCHMARK(BM_Printer)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------
// The road with logs and traces

void BM_Road(benchmark::State& state)
{
    HEADLESSSESSION::StartPlatform();
    HEADLESSSESSION::OPTIONS o;
    o.Device = 5;
    HEADLESSSESSION run(o);
    if (!run.IsOpen()) {
        state.SkipWithError("no session (the stage's plug-ins?)");
        return;
    }
    SESSION& s = run.Session();
    bool const logs = state.range(0) != 0;
    std::string const folder = Folder() + (logs ? "/on" : "/off");
    snprintf(s.Settings.data.CapturePath, sizeof s.Settings.data.CapturePath, "%s", folder.c_str());
    s.TrackChanges(false);
    if (logs) {
        s.Prof.data.CaptAppend = 1;
        s.ProcessEvent(8045, 0, "road.log");
        s.Prof.data.AscTrace = 1;
        s.Prof.data.BinTrace = 1;
        s.TrackChanges(false);
    }
    static std::string const data = Text(4 << 20);
    uint64_t received = s.CommLayer.Counter(0);
    for (auto _ : state) {
        std::thread host(benchsupport::WriteAsHost, run.PeerDescriptor(), std::cref(data));
        received += data.size();
        bool const done = run.RunUntil(
            [&] { return s.CommLayer.Counter(0) >= received && s.CommLayer.QueryNumAvail() == 0 && !s.HasVioBracket(); },
            120000);
        host.join();
        if (!done) {
            state.SkipWithError("the road did not finish");
            return;
        }
        // The one-second tick's flush, as often as it would come.
        s.FlushLogFiles();
    }
    SetRate(state, data.size());
}
BENCHMARK(BM_Road)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    setenv("QOR_STAGE_DIR", QOR_STAGE, 0);
    benchsupport::RatioReporter reporter;
    reporter.AddPair("BM_PutBuf", "BM_Encode");
    reporter.AddPair("BM_Recount", "BM_Memchr");
    reporter.AddPair("BM_PrintQueue", "BM_Printer");
    reporter.AddPair("BM_Road/1/real_time", "BM_Road/0/real_time");
    int const rc = benchsupport::RunWithRatios(argc, argv, reporter);
    std::error_code ignored;
    std::filesystem::remove_all(Folder(), ignored);
    return rc;
}
