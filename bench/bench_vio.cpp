// The terminal screen's write road: text through VIO::conputws as the
// emulations hand it, on 80x24 and 200x50 screens with a scroll-back of
// 64000 lines, in MB/s of the received stream.
//
// - Plain: printable ASCII lines of 0 to width - 1 characters, CR LF.
// - Cjk: lines mixing Latin, Greek, box drawing and CJK (double width).
// - Sgr: short runs between attribute and colour changes; the changes are
//   parsed before timing and applied through SetMode/SetColors, so the
//   figure is the screen's own cost.
// - Scrollback: the bytes each stored line costs after 64000 plain lines
//   (the buffer's own count and the process's resident memory).
//
// Streams: the files of /work/shared/bench/gen.py when QOR_BENCH_STREAMS
// names their folder (plain: scrolling_WxH.bin, unicode_WxH.bin,
// sgr_heavy_WxH.bin), otherwise streams of the same shape made here.
//
// Reference: libvterm (when built with it) takes the same plain stream
// through vterm_input_write with its screen layer and a scroll-back push.
#include <benchmark/benchmark.h>

#include "bench/support/ratio.h"
#include "program/screen/scrollback.h"
#include "program/screen/vio.h"
#include "velmot/core/unicode.h"
#include "velmot/core/wstring.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

#ifdef QOR_BENCH_LIBVTERM
#include <vterm.h>
#endif

namespace {

std::string ReadFile(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

constexpr size_t kStreamBytes = 8'000'000;

std::string MakePlain(int cols, std::mt19937& rng)
{
    std::string pool;
    for (int i = 0; i < 65536; ++i)
        pool.push_back(char(0x20 + rng() % 95));
    std::string out;
    while (out.size() < kStreamBytes) {
        size_t const k = rng() % size_t(cols);
        size_t const at = rng() % (pool.size() - k);
        out.append(pool, at, k);
        out += "\r\n";
    }
    return out;
}

std::string MakeUnicode(int cols, std::mt19937& rng)
{
    std::u32string const scripts[] = {U"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789",
                                      U"\u00C0\u00C1\u00C9\u00D6\u00E4\u00F6\u00FC\u00DFabcdef",
                                      U"\u0391\u0392\u0393\u0394\u03B1\u03B2\u03B3\u03B4\u03C9",
                                      U"\u2500\u2502\u250C\u2510\u2514\u2518\u253C\u2550\u2551\u256C"};
    std::string out;
    UNICODE const* uni = UNICODE::GetInstance();
    auto put = [&](char32_t c) {
        char buf[4];
        out.append(buf, size_t(uni->Utf8Encode(wchar_t(c), buf)));
    };
    while (out.size() < kStreamBytes) {
        int const target = int(rng() % unsigned(cols));
        int width = 0;
        for (;;) {
            int const kind = int(rng() % 10);
            int const k = 1 + int(rng() % 8);
            int const w = kind == 9 ? 2 * k : k;
            if (width + w + 1 > target)
                break;
            for (int i = 0; i < k; ++i) {
                if (kind == 9)
                    put(0x4E00 + rng() % 0x200);
                else {
                    std::u32string const& s = scripts[kind % 4];
                    put(s[rng() % s.size()]);
                }
            }
            put(U' ');
            width += w + 1;
        }
        out += "\r\n";
    }
    return out;
}

std::string MakeSgr(int cols, std::mt19937& rng)
{
    std::string out;
    char buf[64];
    while (out.size() < kStreamBytes) {
        int width = 0;
        for (;;) {
            int const k = 1 + int(rng() % 6);
            if (width + k >= cols)
                break;
            switch (rng() % 6) {
            case 0: out += "\x1b[0m"; break;
            case 1: std::snprintf(buf, sizeof buf, "\x1b[%um", unsigned(30 + rng() % 8)); out += buf; break;
            case 2: std::snprintf(buf, sizeof buf, "\x1b[%um", unsigned(40 + rng() % 8)); out += buf; break;
            case 3: std::snprintf(buf, sizeof buf, "\x1b[38;5;%um", unsigned(rng() % 256)); out += buf; break;
            case 4: std::snprintf(buf, sizeof buf, "\x1b[48;5;%um", unsigned(rng() % 256)); out += buf; break;
            default: std::snprintf(buf, sizeof buf, "\x1b[%sm", (rng() & 1) ? "1;4" : "7"); out += buf; break;
            }
            for (int i = 0; i < k; ++i)
                out.push_back(char(0x21 + rng() % 94));
            width += k;
        }
        out += "\x1b[0m\r\n";
    }
    return out;
}

// The stream of a workload: gen.py's file when there is one.
std::string const& Stream(std::string const& name, int cols, int rows)
{
    static std::map<std::string, std::string> cache;
    std::string const key = name + "_" + std::to_string(cols) + "x" + std::to_string(rows);
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second;
    std::string data;
    if (char const* dir = std::getenv("QOR_BENCH_STREAMS"))
        data = ReadFile(std::string(dir) + "/" + key + ".bin");
    if (data.empty()) {
        std::mt19937 rng(uint32_t(cols * 1000 + rows));
        data = name == "scrolling" ? MakePlain(cols, rng) : name == "unicode" ? MakeUnicode(cols, rng) : MakeSgr(cols, rng);
    }
    return cache[key] = std::move(data);
}

// One step of a replay: a piece of text or an attribute change.
struct OP {
    enum KIND { TEXT, MODE, FORE, BACK } kind;
    int value;
    size_t from, length; // wide characters of TEXT
};

struct REPLAY {
    std::wstring text;
    std::vector<OP> ops;
    size_t bytes = 0;
};

// Decodes the stream and splits it at "ESC [ ... m" into text and changes.
REPLAY Prepare(std::string const& stream)
{
    REPLAY r;
    r.bytes = stream.size();
    WSTRING wide;
    UNICODE::GetInstance()->Utf8Decoder(stream.data(), stream.size(), wide, nullptr);
    r.text.assign(wide.Buf(), size_t(wide.Length()));
    std::wstring& t = r.text;
    size_t start = 0;
    auto flush = [&](size_t end) {
        // Pieces of at most 4096 characters, as a session's reads hand them.
        for (size_t at = start; at < end; at += 4096)
            r.ops.push_back(OP{OP::TEXT, 0, at, std::min<size_t>(4096, end - at)});
    };
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] != 0x1B || i + 1 >= t.size() || t[i + 1] != L'[')
            continue;
        size_t j = i + 2;
        while (j < t.size() && t[j] != L'm')
            ++j;
        flush(i);
        std::vector<int> params;
        int v = 0;
        for (size_t k = i + 2; k <= j; ++k) {
            if (k == j || t[k] == L';') {
                params.push_back(v);
                v = 0;
            } else {
                v = v * 10 + int(t[k] - L'0');
            }
        }
        for (size_t p = 0; p < params.size(); ++p) {
            int const n = params[p];
            if (n == 0) r.ops.push_back(OP{OP::MODE, 0, 0, 0});
            else if (n == 1) r.ops.push_back(OP{OP::MODE, 1, 0, 0});
            else if (n == 4) r.ops.push_back(OP{OP::MODE, 4, 0, 0});
            else if (n == 7) r.ops.push_back(OP{OP::MODE, 7, 0, 0});
            else if (n == 22) r.ops.push_back(OP{OP::MODE, -1, 0, 0});
            else if (n == 24) r.ops.push_back(OP{OP::MODE, -4, 0, 0});
            else if (n == 27) r.ops.push_back(OP{OP::MODE, -7, 0, 0});
            else if (n >= 30 && n <= 37) r.ops.push_back(OP{OP::FORE, n - 30, 0, 0});
            else if (n >= 90 && n <= 97) r.ops.push_back(OP{OP::FORE, n - 90 + 8, 0, 0});
            else if (n >= 40 && n <= 47) r.ops.push_back(OP{OP::BACK, n - 40, 0, 0});
            else if (n >= 100 && n <= 107) r.ops.push_back(OP{OP::BACK, n - 100 + 8, 0, 0});
            else if ((n == 38 || n == 48) && p + 2 < params.size() && params[p + 1] == 5) {
                r.ops.push_back(OP{n == 38 ? OP::FORE : OP::BACK, 256 + params[p + 2], 0, 0});
                p += 2;
            } else if ((n == 38 || n == 48) && p + 4 < params.size() && params[p + 1] == 2) {
                p += 4; // true colour: not a colour number of the screen
            }
        }
        start = j + 1;
        i = j;
    }
    flush(t.size());
    return r;
}

REPLAY const& Replay(std::string const& name, int cols, int rows)
{
    static std::map<std::string, REPLAY> cache;
    std::string const key = name + std::to_string(cols);
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache.emplace(key, Prepare(Stream(name, cols, rows))).first;
    return it->second;
}

// A window that counts what it is asked to repaint, as a session window
// posts it on.
struct COUNTINGHOST : VIOHOST {
    void Invalidate(RECT const*) override { ++Invalidations; }
    long Invalidations = 0;
};

struct TERMINAL {
    COUNTINGHOST Host;
    SCROLLBACKBUFFER Scrollback;
    VIO Vio{&Host, &Scrollback};
    TERMINAL(int cols, int rows)
    {
        Scrollback.AttachScreen(&Vio);
        Scrollback.MakeScrollback(64000, nullptr);
        Vio.Init(cols, rows);
        // Cells of a 10-point font, so that every write marks its pixels.
        Vio.SetCellSize(8, 17);
    }
    void Play(REPLAY const& r)
    {
        for (OP const& op : r.ops) {
            switch (op.kind) {
            case OP::TEXT: Vio.conputws(r.text.data() + op.from, long(op.length)); break;
            case OP::MODE: Vio.SetMode(op.value); break;
            case OP::FORE: Vio.SetColors(-1, op.value); break;
            case OP::BACK: Vio.SetColors(op.value, -1); break;
            }
        }
    }
};

void Write(benchmark::State& state, char const* workload)
{
    int const cols = int(state.range(0)), rows = int(state.range(1));
    REPLAY const& replay = Replay(workload, cols, rows);
    TERMINAL t(cols, rows);
    for (auto _ : state)
        t.Play(replay);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(replay.bytes));
    state.counters["MB/s"] =
        benchmark::Counter(double(replay.bytes) * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

void BM_WritePlain(benchmark::State& state) { Write(state, "scrolling"); }
void BM_WriteCjk(benchmark::State& state) { Write(state, "unicode"); }
void BM_WriteSgr(benchmark::State& state) { Write(state, "sgr_heavy"); }

long ResidentBytes()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

// 64000 plain lines into a full scroll-back: what one stored line costs,
// by the buffer's own count and by the resident memory of a fresh process
// (a child, so that memory freed by the other benchmarks does not hide the
// growth).
void BM_ScrollbackMemory(benchmark::State& state)
{
    std::string const& stream = Stream("scrolling", 80, 24);
    double result[3] = {};
    for (auto _ : state) {
        int fds[2];
        if (pipe(fds) != 0) {
            state.SkipWithError("pipe");
            return;
        }
        pid_t const child = fork();
        if (child == 0) {
            close(fds[0]);
            // The plain stream is ASCII: one wide character per byte, in
            // one allocation of its own (mapped, not taken from the heap).
            std::vector<wchar_t> const wide(stream.begin(), stream.end());
            long const before = ResidentBytes();
            auto t = std::make_unique<TERMINAL>(80, 24);
            wchar_t const* p = wide.data();
            long const n = long(wide.size());
            // The stream again and again until the buffer holds its 64000.
            for (long at = 0; t->Scrollback.QueryFilled() < 64000; at = (at + 4096) % n)
                t->Vio.conputws(p + at, std::min<long>(4096, n - at));
            double out[3] = {double(t->Scrollback.QueryFilled()), double(t->Scrollback.MemoryUsed()),
                             double(ResidentBytes() - before)};
            ssize_t const w = write(fds[1], out, sizeof out);
            _exit(w == sizeof out ? 0 : 1);
        }
        close(fds[1]);
        ssize_t const got = read(fds[0], result, sizeof result);
        close(fds[0]);
        int status = 0;
        waitpid(child, &status, 0);
        if (got != sizeof result) {
            state.SkipWithError("child");
            return;
        }
    }
    state.counters["lines"] = result[0];
    state.counters["bytes/line"] = result[1] / result[0];
    state.counters["rss bytes/line"] = result[2] / result[0];
}
// First, while the process has freed little memory that a child could
// reuse unseen.
BENCHMARK(BM_ScrollbackMemory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePlain)->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteCjk)->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteSgr)->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond);

#ifdef QOR_BENCH_LIBVTERM
int PushLine(int, VTermScreenCell const*, void*) { return 1; }

void BM_LibvtermPlain(benchmark::State& state)
{
    int const cols = int(state.range(0)), rows = int(state.range(1));
    std::string const& stream = Stream("scrolling", cols, rows);
    VTerm* vt = vterm_new(rows, cols);
    vterm_set_utf8(vt, 1);
    VTermScreen* screen = vterm_obtain_screen(vt);
    static VTermScreenCallbacks callbacks{};
    callbacks.sb_pushline = &PushLine;
    vterm_screen_set_callbacks(screen, &callbacks, nullptr);
    vterm_screen_reset(screen, 1);
    for (auto _ : state) {
        for (size_t at = 0; at < stream.size(); at += 4096)
            vterm_input_write(vt, stream.data() + at, std::min<size_t>(4096, stream.size() - at));
    }
    vterm_free(vt);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
    state.counters["MB/s"] =
        benchmark::Counter(double(stream.size()) * double(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LibvtermPlain)->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond);
#endif

} // namespace

int main(int argc, char** argv)
{
    benchsupport::RatioReporter reporter;
#ifdef QOR_BENCH_LIBVTERM
    reporter.AddPair("BM_WritePlain/80/24", "BM_LibvtermPlain/80/24");
    reporter.AddPair("BM_WritePlain/200/50", "BM_LibvtermPlain/200/50");
#endif
    return benchsupport::RunWithRatios(argc, argv, reporter);
}
