// The session's received-data road, headless (no painting): plain
// scrolling text from the loopback device through COMM's pipe, the main
// thread's passes (ProcessSer, event 8810), the TTY emulation and the
// screen, on an 80x24 screen with a scroll-back, in MB/s of the stream.
//
// - Road/J: the whole road, a "host" thread writing into the loopback
//   device, for the line budget of JumpScroll J (2 is the profile's
//   default). Counters: the main thread's wake-ups (user messages 1029),
//   passes, and the reader thread's wake-ups by the main thread per MB.
// - Emulation: the same text handed to the emulation layer directly (the
//   TTY and the screen, as a pass hands them, 4096 characters at a time).
// - Screen: the same text written to the screen directly (VIO::conputws).
// - Libvterm: the same bytes through libvterm's screen layer, with a
//   scroll-back push.
//
// The road's own cost is Road - Emulation; the goal is at most a fifth of
// Screen.
//
// Streams: /work/shared/bench/gen.py's scrolling_80x24.bin when
// QOR_BENCH_STREAMS names its folder, otherwise a stream of the same shape
// made here.
#include "bench/support/loopbackhost.h"
#include "bench/support/ratio.h"
#include "program/session/sessionrunner.h"

#include "velmot/core/unicode.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <poll.h>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>
#include <unistd.h>

#ifdef QOR_BENCH_LIBVTERM
#include <vterm.h>
#endif

namespace {

constexpr int kCols = 80;
constexpr int kRows = 24;
constexpr size_t kStreamBytes = 8'000'000;

std::string const& Stream()
{
    static std::string const data = [] {
        std::string out;
        if (char const* dir = std::getenv("QOR_BENCH_STREAMS")) {
            std::ifstream in(std::string(dir) + "/scrolling_80x24.bin", std::ios::binary);
            out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        if (!out.empty())
            return out;
        // Printable ASCII lines of 0 to 79 characters, CR LF.
        std::mt19937 rng(80024);
        std::string pool;
        for (int i = 0; i < 65536; ++i)
            pool.push_back(static_cast<char>(0x20 + rng() % 95));
        while (out.size() < kStreamBytes) {
            size_t const k = rng() % kCols;
            out.append(pool, rng() % (pool.size() - k), k);
            out += "\r\n";
        }
        return out;
    }();
    return data;
}

std::wstring const& WideStream()
{
    static std::wstring const wide(Stream().begin(), Stream().end());
    return wide;
}

HEADLESSSESSION::OPTIONS Options(int jumpScroll)
{
    HEADLESSSESSION::OPTIONS o;
    o.Device = 5;
    o.Emulation = 0;
    o.Columns = kCols;
    o.Rows = kRows;
    o.JumpScroll = jumpScroll;
    return o;
}

// The stream handed out in pieces of 4096 characters inside one update
// bracket, as passes would hand it.
template <class WRITE>
void WriteInPieces(VIO& screen, std::wstring const& wide, WRITE write)
{
    screen.Do(VIODO_DRAWBRACKET, 1, 0);
    for (size_t at = 0; at < wide.size(); at += 4096)
        write(wide.data() + at, static_cast<long>(std::min<size_t>(4096, wide.size() - at)));
    screen.Do(VIODO_DRAWBRACKET, 0, 0);
}

void SetRate(benchmark::State& state, size_t bytes)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    state.counters["MB/s"] =
        benchmark::Counter(double(bytes) * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

void BM_Road(benchmark::State& state)
{
    HEADLESSSESSION::StartPlatform();
    HEADLESSSESSION run(Options(static_cast<int>(state.range(0))));
    if (!run.IsOpen()) {
        state.SkipWithError("no session (the stage's plug-ins?)");
        return;
    }
    std::string const& data = Stream();
    SESSION& s = run.Session();
    uint64_t received = s.CommLayer.Counter(0);
    SESSION::ROADSTATS const before = s.RoadStats();
    uint64_t const readerBefore = s.CommLayer.WriterWakeups();
    for (auto _ : state) {
        std::thread host(benchsupport::WriteAsHost, run.PeerDescriptor(), std::cref(data));
        received += data.size();
        bool done = run.RunUntil(
            [&] { return s.CommLayer.Counter(0) >= received && s.CommLayer.QueryNumAvail() == 0 && !s.HasVioBracket(); },
            120000);
        host.join();
        if (!done) {
            state.SkipWithError("the road did not finish");
            return;
        }
    }
    SESSION::ROADSTATS const after = s.RoadStats();
    double const mb = double(data.size()) * double(state.iterations()) / 1e6;
    state.counters["wakeups/MB"] = double(after.Messages - before.Messages) / mb;
    state.counters["passes/MB"] = double(after.Passes - before.Passes) / mb;
    state.counters["reader_wakeups/MB"] = double(s.CommLayer.WriterWakeups() - readerBefore) / mb;
    SetRate(state, data.size());
}
BENCHMARK(BM_Road)->Arg(2)->Arg(3)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Emulation(benchmark::State& state)
{
    HEADLESSSESSION::StartPlatform();
    HEADLESSSESSION run(Options(2));
    if (!run.IsOpen()) {
        state.SkipWithError("no session");
        return;
    }
    std::wstring const& wide = WideStream();
    SESSION& s = run.Session();
    for (auto _ : state)
        WriteInPieces(s.Screen, wide, [&](wchar_t const* text, long n) { s.EmuLayer.conputws(text, n); });
    SetRate(state, wide.size());
}
BENCHMARK(BM_Emulation)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Screen(benchmark::State& state)
{
    HEADLESSSESSION::StartPlatform();
    HEADLESSSESSION run(Options(2));
    std::wstring const& wide = WideStream();
    SESSION& s = run.Session();
    for (auto _ : state)
        WriteInPieces(s.Screen, wide, [&](wchar_t const* text, long n) { s.Screen.conputws(text, n); });
    SetRate(state, wide.size());
}
BENCHMARK(BM_Screen)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef QOR_BENCH_LIBVTERM
int PushLine(int, VTermScreenCell const*, void*)
{
    return 1;
}

void BM_Libvterm(benchmark::State& state)
{
    std::string const& data = Stream();
    VTerm* vt = vterm_new(kRows, kCols);
    vterm_set_utf8(vt, 1);
    VTermScreen* screen = vterm_obtain_screen(vt);
    static VTermScreenCallbacks callbacks{};
    callbacks.sb_pushline = &PushLine;
    vterm_screen_set_callbacks(screen, &callbacks, nullptr);
    vterm_screen_reset(screen, 1);
    for (auto _ : state) {
        for (size_t at = 0; at < data.size(); at += 8192)
            vterm_input_write(vt, data.data() + at, std::min<size_t>(8192, data.size() - at));
    }
    vterm_free(vt);
    SetRate(state, data.size());
}
BENCHMARK(BM_Libvterm)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

// The ratios, and the road's own cost next to the screen's: (Road -
// Emulation) / Screen, by the clock and by the main thread's processor
// time (the road's threads share a busy machine with others; the main
// thread's time is the steadier figure).
class ROADREPORTER : public benchsupport::RatioReporter {
public:
    void ReportRuns(std::vector<Run> const& runs) override
    {
        for (Run const& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                Times[run.benchmark_name()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
        }
        RatioReporter::ReportRuns(runs);
    }
    void Finalize() override
    {
        RatioReporter::Finalize();
        auto road = Times.find("BM_Road/2/real_time"), emulation = Times.find("BM_Emulation/real_time"),
             screen = Times.find("BM_Screen/real_time");
        if (road == Times.end() || emulation == Times.end() || screen == Times.end())
            return;
        char line[256];
        snprintf(line, sizeof line,
                 "\nThe road's own cost ((Road/2 - Emulation) / Screen; goal at most 0.20): %.2f by the clock, %.2f by "
                 "the main thread's time\n",
                 (road->second.first - emulation->second.first) / screen->second.first,
                 (road->second.second - emulation->second.second) / screen->second.second);
        GetOutputStream() << line;
    }

private:
    std::map<std::string, std::pair<double, double>> Times;
};

} // namespace

int main(int argc, char** argv)
{
    // The plug-ins of the build's stage.
    setenv("QOR_STAGE_DIR", QOR_STAGE, 0);
    ROADREPORTER reporter;
    reporter.AddPair("BM_Road/2/real_time", "BM_Emulation/real_time");
    reporter.AddPair("BM_Emulation/real_time", "BM_Screen/real_time");
#ifdef QOR_BENCH_LIBVTERM
    reporter.AddPair("BM_Road/2/real_time", "BM_Libvterm/real_time");
#endif
    return benchsupport::RunWithRatios(argc, argv, reporter);
}
