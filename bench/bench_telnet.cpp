// The Telnet device on the session's road, next to the local shell in the
// same run: 64 MB of scrolling text, and 64 MB heavy in 0xFF bytes, into a
// headless session (xterm emulation, no painting).
//
// - Telnet/<stream>: a server thread of this benchmark on 127.0.0.1 offers
//   BINARY both ways and sends the stream (each 0xFF doubled, as Telnet
//   wants); timed from Connect until every byte is on the screen.
// - Shell/<stream>: the same file through the local-shell device ("stty
//   raw; cat file" on its pty), timed the same way.
// Goals: Telnet at most 1/0.9 = 1.11 times Shell's time on text, 1/0.8 =
// 1.25 times on the 0xFF-heavy stream. "cpu ms/MB" is the process's CPU
// time (every thread: reader, road, emulation; and the server or cat) per
// MB of the stream.
//
// Text: gen.py's scrolling_80x24.bin in QOR_BENCH_STREAMS, or made by the
// generator QOR_BENCH_GEN names (python3 gen.py --only scrolling --mb 64);
// without either, printable lines of this benchmark's own.
#include "bench/support/ratio.h"
#include "program/session/sessionrunner.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using CLOCK = std::chrono::steady_clock;
constexpr size_t kBytes = 64u << 20;

// A private folder (0700) for the streams, removed at the end.
std::string Folder()
{
    static std::string const folder = [] {
        char tmp[] = "/tmp/qor-bench-telnet-XXXXXX";
        return std::string(mkdtemp(tmp) ? tmp : "");
    }();
    return folder;
}

std::string TextFile()
{
    static std::string const path = [] {
        if (char const* dir = std::getenv("QOR_BENCH_STREAMS"))
            return std::string(dir) + "/scrolling_80x24.bin";
        if (char const* gen = std::getenv("QOR_BENCH_GEN")) {
            std::string const out = Folder();
            pid_t const pid = fork();
            if (pid == 0) {
                int const null = open("/dev/null", O_WRONLY);
                dup2(null, 1);
                execlp("python3", "python3", gen, "--only", "scrolling", "--sizes", "80x24", "--mb", "64", "--out",
                       out.c_str(), static_cast<char*>(nullptr));
                _exit(127);
            }
            int status = 0;
            if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0)
                return out + "/scrolling_80x24.bin";
        }
        std::mt19937 rng(64);
        std::string out, line;
        out.reserve(kBytes);
        while (out.size() < kBytes) {
            line.assign(rng() % 80, ' ');
            for (char& c : line)
                c = static_cast<char>(0x21 + rng() % 94);
            out += line + "\r\n";
        }
        out.resize(kBytes);
        std::string const p = Folder() + "/text.bin";
        std::ofstream(p, std::ios::binary) << out;
        return p;
    }();
    return path;
}

// Lines where every other byte is 0xFF.
std::string FfFile()
{
    static std::string const path = [] {
        std::string out;
        out.reserve(kBytes);
        while (out.size() < kBytes) {
            for (int i = 0; i < 39; ++i)
                out += i % 2 ? '\xff' : static_cast<char>('a' + i % 26);
            out += "\r\n";
        }
        out.resize(kBytes);
        std::string const p = Folder() + "/ff.bin";
        std::ofstream(p, std::ios::binary) << out;
        return p;
    }();
    return path;
}

std::string const& Contents(std::string const& path)
{
    static std::string last, data;
    if (last != path) {
        std::ifstream in(path, std::ios::binary);
        data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        last = path;
    }
    return data;
}

// A Telnet server for one connection: BINARY both ways, the stream with
// 0xFF doubled, then the end.
class SERVER {
public:
    explicit SERVER(std::string const& data)
    {
        Listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(Listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(Listener, 1);
        getsockname(Listener, reinterpret_cast<sockaddr*>(&a), &len);
        Port = ntohs(a.sin_port);
        Wire.reserve(data.size() + data.size() / 2 + 6);
        Wire = "\xff\xfb\x00\xff\xfd\x00"; // IAC WILL BINARY, IAC DO BINARY
        for (char c : data) {
            Wire += c;
            if (c == '\xff')
                Wire += c;
        }
        Thread = std::thread([this] { Serve(); });
    }
    ~SERVER()
    {
        shutdown(Listener, SHUT_RDWR);
        Thread.join();
        close(Listener);
    }
    int Port = 0;

private:
    void Serve()
    {
        int const c = accept4(Listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0)
            return;
        // The device's answers are few: the socket's buffer holds them.
        for (size_t at = 0; at < Wire.size();) {
            ssize_t const n = send(c, Wire.data() + at, Wire.size() - at, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            at += static_cast<size_t>(n);
        }
        shutdown(c, SHUT_WR);
        char buf[4096];
        while (read(c, buf, sizeof buf) > 0) {
        }
        close(c);
    }
    int Listener = -1;
    std::string Wire;
    std::thread Thread;
};

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    rusage k{};
    getrusage(RUSAGE_CHILDREN, &k);
    auto sec = [](timeval const& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return sec(u.ru_utime) + sec(u.ru_stime) + sec(k.ru_utime) + sec(k.ru_stime);
}

// Runs one session until bytes have arrived and the screen has them all.
void Road(benchmark::State& state, int device, std::string const& file)
{
    std::string const& data = Contents(file);
    if (data.empty()) {
        state.SkipWithError("no stream");
        return;
    }
    HEADLESSSESSION::StartPlatform();
    double cpu = 0;
    for (auto _ : state) {
        std::unique_ptr<SERVER> server;
        std::string parm;
        if (device == 3) {
            server = std::make_unique<SERVER>(data);
            parm = "[3]" + std::to_string(server->Port) + "|";
        } else {
            parm = "[11]/bin/sh -c 'stty raw -echo; exec cat " + file + "'";
        }
        HEADLESSSESSION run({.Device = device, .DeviceParm = parm.c_str(), .Emulation = 18, .CodePage = 1000});
        if (!run.IsOpen()) {
            state.SkipWithError("no session (the stage's plug-ins?)");
            return;
        }
        SESSION& s = run.Session();
        uint32_t const before = s.CommLayer.Counter(0);
        double const cpu0 = CpuSeconds();
        auto const start = CLOCK::now();
        s.CommLayer.Connect(device == 3 ? "127.0.0.1" : "");
        bool const done = run.RunUntil(
            [&] {
                return static_cast<uint32_t>(s.CommLayer.Counter(0) - before) >= data.size() &&
                       s.CommLayer.QueryNumAvail() == 0 && !s.HasVioBracket();
            },
            600000);
        state.SetIterationTime(std::chrono::duration<double>(CLOCK::now() - start).count());
        cpu += CpuSeconds() - cpu0;
        if (!done) {
            state.SkipWithError("the stream did not arrive");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
    state.counters["cpu ms/MB"] = cpu * 1000 / (double(state.iterations()) * double(data.size()) / 1e6);
}

void BM_TelnetText(benchmark::State& state) { Road(state, 3, TextFile()); }
void BM_ShellText(benchmark::State& state) { Road(state, 11, TextFile()); }
void BM_TelnetFf(benchmark::State& state) { Road(state, 3, FfFile()); }
void BM_ShellFf(benchmark::State& state) { Road(state, 11, FfFile()); }

BENCHMARK(BM_ShellText)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TelnetText)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShellFf)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TelnetFf)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    setenv("QOR_STAGE_DIR", QOR_STAGE, 0);
    benchsupport::RatioReporter reporter;
    char const* two = "/iterations:2/manual_time";
    reporter.AddPair(std::string("BM_TelnetText") + two, std::string("BM_ShellText") + two);
    reporter.AddPair(std::string("BM_TelnetFf") + two, std::string("BM_ShellFf") + two);
    int const rc = benchsupport::RunWithRatios(argc, argv, reporter);
    std::error_code ec;
    std::filesystem::remove_all(Folder(), ec);
    return rc;
}
