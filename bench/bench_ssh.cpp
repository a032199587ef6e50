// The SSH device against OpenSSH itself, on an sshd this benchmark starts
// on 127.0.0.1 (one run, real time):
// - Session/Cat: 256 MB of text from a remote "cat" through the device into
//   a headless session with the TTY emulation, next to "ssh -tt host cat"
//   into /dev/null (goal: at most 1/0.7 = 1.43 times its time);
// - Exec/Cat: the same file through an exec channel ("EXECRAW Open cat
//   ..."), read as COMM's reader reads, next to "ssh host cat" into
//   /dev/null (goal: at most 1/0.9 = 1.11 times);
// - Connect: from Connect to "[SSH] CONNECT", next to "ssh host true"
//   (goal: at most 1.3 times).
// Device/Cat is Session/Cat without the session: the device's share.
#include "bench/support/ratio.h"
#include "program/session/sessionrunner.h"
#include "tests/outside/welkam/sshpeer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using CLOCK = std::chrono::steady_clock;
constexpr size_t kBytes = 256u << 20;

struct PEER {
    sshpeer::SSHD Server;
    std::string Config;
    std::string Parm;
    std::string File;
    PEER()
    {
        Server.TrustHostKey();
        Config = Server.ClientConfig("bench.cfg", "id_plain");
        Parm = "[9]" + std::to_string(Server.Port()) + "|" + Config;
        File = Server.File("data.txt");
        // Printable lines of 0 to 79 characters.
        std::mt19937 rng(256);
        std::string line, out;
        out.reserve(kBytes);
        while (out.size() < kBytes) {
            size_t k = rng() % 80;
            line.assign(k, ' ');
            for (char& c : line)
                c = static_cast<char>(0x21 + rng() % 94);
            out += line + "\n";
        }
        out.resize(kBytes);
        testutil::WriteFile(File, out);
    }
};

std::unique_ptr<PEER> gPeer;

PEER& Peer()
{
    if (!gPeer)
        gPeer = std::make_unique<PEER>();
    return *gPeer;
}

// ssh with the benchmark's configuration, output to /dev/null; seconds.
double TimeSsh(std::vector<std::string> extra)
{
    std::vector<std::string> args{"/usr/bin/ssh", "-F", Peer().Config, "-p", std::to_string(Peer().Server.Port())};
    args.insert(args.end(), extra.begin(), extra.end());
    auto start = CLOCK::now();
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    waitpid(pid, nullptr, 0);
    return std::chrono::duration<double>(CLOCK::now() - start).count();
}

void BM_SshTtyCat(benchmark::State& state)
{
    for (auto _ : state)
        state.SetIterationTime(TimeSsh({"-tt", "127.0.0.1", "cat", Peer().File}));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void BM_WelkamSessionCat(benchmark::State& state)
{
    HEADLESSSESSION::StartPlatform();
    for (auto _ : state) {
        HEADLESSSESSION run({.Device = 9, .DeviceParm = Peer().Parm.c_str(), .Emulation = 0});
        SESSION& s = run.Session();
        s.CommLayer.Connect("127.0.0.1");
        run.RunUntil([&] { return s.CommLayer.QueryOnline() == 1; }, 20000);
        std::string const cmd = "stty -echo; clear\r";
        s.CommLayer.WriteData(cmd.data(), static_cast<long>(cmd.size()));
        run.WaitIdle(2000);
        uint32_t const before = s.CommLayer.Counter(0);
        std::string const cat = "cat " + Peer().File + "; exit\r";
        auto start = CLOCK::now();
        s.CommLayer.WriteData(cat.data(), static_cast<long>(cat.size()));
        // The pty turns each LF into CR LF; the shell's exit ends it.
        run.RunUntil([&] { return static_cast<uint64_t>(s.CommLayer.Counter(0) - before) >= kBytes; }, 600000);
        run.RunUntil([&] { return s.CommLayer.QueryOnline() == 0; }, 60000);
        run.WaitIdle(60000);
        state.SetIterationTime(std::chrono::duration<double>(CLOCK::now() - start).count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

// The device alone reading the terminal's stream, as COMM's reader does:
// what of Session/Cat is the device's.
void BM_WelkamDeviceCat(benchmark::State& state)
{
    for (auto _ : state) {
        sshpeer::SCRIPTEDPUBLIC pub;
        sshpeer::DEVICE dev(pub, Peer().Parm);
        dev.Dev().Connect("127.0.0.1");
        dev.WaitFor("[SSH] CONNECT", 20000);
        dev.Write("stty -echo\r");
        usleep(300000);
        dev.CountOnly();
        size_t const before = dev.ReceivedSize();
        auto start = CLOCK::now();
        dev.Write("cat " + Peer().File + "; exit\r");
        dev.WaitForSize(before + kBytes, 600000);
        dev.WaitOnline(0, 60000);
        state.SetIterationTime(std::chrono::duration<double>(CLOCK::now() - start).count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void BM_SshCat(benchmark::State& state)
{
    for (auto _ : state)
        state.SetIterationTime(TimeSsh({"127.0.0.1", "cat", Peer().File}));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void BM_WelkamExecCat(benchmark::State& state)
{
    for (auto _ : state) {
        sshpeer::SCRIPTEDPUBLIC pub;
        sshpeer::DEVICE dev(pub, Peer().Parm);
        dev.Dev().Connect("127.0.0.1");
        dev.WaitFor("[SSH] CONNECT", 20000);
        dev.WaitForSize(dev.ReceivedSize() + 1, 2000);
        usleep(200000);
        dev.CountOnly();
        size_t const before = dev.ReceivedSize();
        auto start = CLOCK::now();
        std::string n = dev.Command("EXECRAW Open cat " + Peer().File);
        dev.WaitForSize(before + kBytes, 600000);
        for (int i = 0; i < 6000 && dev.Command("EXECRAW IsConnected " + n) != "0"; ++i)
            usleep(1000);
        state.SetIterationTime(std::chrono::duration<double>(CLOCK::now() - start).count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytes));
}

void BM_SshTrue(benchmark::State& state)
{
    for (auto _ : state)
        state.SetIterationTime(TimeSsh({"127.0.0.1", "true"}));
}

void BM_WelkamConnect(benchmark::State& state)
{
    sshpeer::SCRIPTEDPUBLIC pub;
    for (auto _ : state) {
        sshpeer::DEVICE dev(pub, Peer().Parm);
        auto start = CLOCK::now();
        dev.Dev().Connect("127.0.0.1");
        dev.WaitFor("[SSH] CONNECT", 20000);
        state.SetIterationTime(std::chrono::duration<double>(CLOCK::now() - start).count());
    }
}

BENCHMARK(BM_SshTtyCat)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WelkamSessionCat)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WelkamDeviceCat)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SshCat)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WelkamExecCat)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SshTrue)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WelkamConnect)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    setenv("QOR_STAGE_DIR", QOR_STAGE, 0);
    benchsupport::RatioReporter reporter;
    char const* two = "/iterations:2/manual_time";
    char const* ten = "/iterations:10/manual_time";
    reporter.AddPair(std::string("BM_WelkamSessionCat") + two, std::string("BM_SshTtyCat") + two);
    reporter.AddPair(std::string("BM_WelkamDeviceCat") + two, std::string("BM_SshTtyCat") + two);
    reporter.AddPair(std::string("BM_WelkamExecCat") + two, std::string("BM_SshCat") + two);
    reporter.AddPair(std::string("BM_WelkamConnect") + ten, std::string("BM_SshTrue") + ten);
    int rc = benchsupport::RunWithRatios(argc, argv, reporter);
    gPeer.reset(); // the server ends with the benchmark
    return rc;
}
