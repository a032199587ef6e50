// The xterm emulation (corvane, id 18) on the session's road, headless,
// next to libvterm's screen layer in the same run, on the five terminal
// workloads (scrolling, dense_cells, cursor_motion, unicode, sgr_heavy) at
// 80x24 and 200x50, in MB/s of the stream:
//
// - Road/<workload>/<size>: a "host" thread writes the stream into the
//   loopback device; the session's road (COMM, the received-data passes
//   with UTF-8 decoding and the sequence check, the emulation, the screen
//   without painting) takes it until every byte is on the screen.
// - Emulation/<workload>/<size>: the same text, decoded, handed to the
//   emulation layer directly in pieces of 4096 characters (the emulation
//   and the screen alone).
// - Libvterm/<workload>/<size>: the same bytes through libvterm with its
//   screen layer and a scroll-back push, in pieces of 4096 bytes.
//
// Streams: the files of the terminal workload generator (gen.py) in the
// folder QOR_BENCH_STREAMS names, <workload>_<cols>x<rows>.bin; without it
// the generator is run once into a private folder when QOR_BENCH_GEN names
// it (python3 gen.py --mb 4).
#include "bench/support/loopbackhost.h"
#include "bench/support/ratio.h"
#include "program/session/sessionrunner.h"

#include "velmot/core/unicode.h"
#include "velmot/core/wstring.h"

#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>

#ifdef QOR_BENCH_LIBVTERM
#include <vterm.h>
#endif

namespace {

char const* const kWorkloads[] = {"scrolling", "dense_cells", "cursor_motion", "unicode", "sgr_heavy"};
struct SIZE2 {
    int Cols, Rows;
};
SIZE2 const kSizes[] = {{80, 24}, {200, 50}};

std::string StreamFolder()
{
    static std::string const folder = [] {
        if (char const* dir = std::getenv("QOR_BENCH_STREAMS"))
            return std::string(dir);
        char const* gen = std::getenv("QOR_BENCH_GEN");
        if (!gen)
            return std::string();
        char tmp[] = "/tmp/qor-bench-streams-XXXXXX";
        if (!mkdtemp(tmp))
            return std::string();
        std::string const cmd = std::string("python3 '") + gen + "' --mb 4 --out '" + tmp + "' > /dev/null";
        if (std::system(cmd.c_str()) != 0)
            return std::string();
        return std::string(tmp);
    }();
    return folder;
}

std::string const& Stream(int workload, int size)
{
    static std::map<std::pair<int, int>, std::string> streams;
    auto& s = streams[{workload, size}];
    if (s.empty()) {
        std::string const path = StreamFolder() + "/" + kWorkloads[workload] + "_" +
                                 std::to_string(kSizes[size].Cols) + "x" + std::to_string(kSizes[size].Rows) + ".bin";
        std::ifstream in(path, std::ios::binary);
        s.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return s;
}

// The stream decoded from UTF-8, as the road hands it to the emulation.
std::wstring const& WideStream(int workload, int size)
{
    static std::map<std::pair<int, int>, std::wstring> streams;
    auto& w = streams[{workload, size}];
    if (w.empty()) {
        std::string const& data = Stream(workload, size);
        UNICODE_UTF8STATE state{};
        for (size_t at = 0; at < data.size(); at += 65536) {
            WSTRING decoded;
            UNICODE::GetInstance()->Utf8Decoder(data.data() + at, std::min<size_t>(65536, data.size() - at), decoded,
                                                &state);
            w.append(decoded.Buf(), size_t(decoded.Length()));
        }
    }
    return w;
}

void SetRate(benchmark::State& state, size_t bytes)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
    state.counters["MB/s"] =
        benchmark::Counter(double(bytes) * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

HEADLESSSESSION::OPTIONS Options(int size)
{
    HEADLESSSESSION::OPTIONS o;
    o.Device = 5;
    o.Emulation = 18;
    o.Columns = kSizes[size].Cols;
    o.Rows = kSizes[size].Rows;
    o.CodePage = 1000;
    return o;
}

void Road(benchmark::State& state, int workload, int size)
{
    std::string const& data = Stream(workload, size);
    if (data.empty()) {
        state.SkipWithError("no stream (QOR_BENCH_STREAMS or QOR_BENCH_GEN)");
        return;
    }
    HEADLESSSESSION::StartPlatform();
    HEADLESSSESSION run(Options(size));
    if (!run.IsOpen()) {
        state.SkipWithError("no session (the stage's plug-ins?)");
        return;
    }
    SESSION& s = run.Session();
    uint64_t received = s.CommLayer.Counter(0);
    for (auto _ : state) {
        std::thread host(benchsupport::WriteAsHost, run.PeerDescriptor(), std::cref(data));
        received += data.size();
        bool const done = run.RunUntil(
            [&] { return s.CommLayer.Counter(0) >= received && s.CommLayer.QueryNumAvail() == 0 && !s.HasVioBracket(); },
            300000);
        host.join();
        if (!done) {
            state.SkipWithError("the road did not finish");
            return;
        }
    }
    SetRate(state, data.size());
}

void Emulation(benchmark::State& state, int workload, int size)
{
    std::string const& data = Stream(workload, size);
    if (data.empty()) {
        state.SkipWithError("no stream");
        return;
    }
    std::wstring const& wide = WideStream(workload, size);
    HEADLESSSESSION::StartPlatform();
    HEADLESSSESSION run(Options(size));
    if (!run.IsOpen()) {
        state.SkipWithError("no session");
        return;
    }
    SESSION& s = run.Session();
    for (auto _ : state) {
        s.Screen.Do(VIODO_DRAWBRACKET, 1, 0);
        for (size_t at = 0; at < wide.size(); at += 4096)
            s.EmuLayer.conputws(wide.data() + at, static_cast<long>(std::min<size_t>(4096, wide.size() - at)));
        s.Screen.Do(VIODO_DRAWBRACKET, 0, 0);
    }
    SetRate(state, data.size());
}

#ifdef QOR_BENCH_LIBVTERM
int PushLine(int, VTermScreenCell const*, void*)
{
    return 1;
}

void Libvterm(benchmark::State& state, int workload, int size)
{
    std::string const& data = Stream(workload, size);
    if (data.empty()) {
        state.SkipWithError("no stream");
        return;
    }
    VTerm* vt = vterm_new(kSizes[size].Rows, kSizes[size].Cols);
    vterm_set_utf8(vt, 1);
    VTermScreen* screen = vterm_obtain_screen(vt);
    static VTermScreenCallbacks callbacks{};
    callbacks.sb_pushline = &PushLine;
    vterm_screen_set_callbacks(screen, &callbacks, nullptr);
    vterm_screen_reset(screen, 1);
    for (auto _ : state) {
        for (size_t at = 0; at < data.size(); at += 4096)
            vterm_input_write(vt, data.data() + at, std::min<size_t>(4096, data.size() - at));
    }
    vterm_free(vt);
    SetRate(state, data.size());
}
#endif

std::string Name(char const* kind, int workload, int size)
{
    return std::string(kind) + "/" + kWorkloads[workload] + "/" + std::to_string(kSizes[size].Cols) + "x" +
           std::to_string(kSizes[size].Rows);
}

} // namespace

int main(int argc, char** argv)
{
    // The plug-ins of the build's stage.
    setenv("QOR_STAGE_DIR", QOR_STAGE, 0);
    benchsupport::RatioReporter reporter;
    for (int w = 0; w < 5; ++w) {
        for (int z = 0; z < 2; ++z) {
            benchmark::RegisterBenchmark(Name("Road", w, z).c_str(), Road, w, z)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
            benchmark::RegisterBenchmark(Name("Emulation", w, z).c_str(), Emulation, w, z)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
#ifdef QOR_BENCH_LIBVTERM
            benchmark::RegisterBenchmark(Name("Libvterm", w, z).c_str(), Libvterm, w, z)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
            reporter.AddPair(Name("Road", w, z) + "/real_time", Name("Libvterm", w, z) + "/real_time");
#endif
        }
    }
    return benchsupport::RunWithRatios(argc, argv, reporter);
}
