// The channels next to what they are built on, in the same run:
//  - the TCP channel over loopback (one thread writes, the owner reads)
//    next to a bare socket pair moving the same blocks;
//  - the ring's write and read of 32 KiB next to one memcpy, and the ring
//    between two threads (MB/s, and how often a side had to sleep per MB);
//  - pipe-RPC calls per second with 8 callers over TCP and over FIFOs, and
//    the CPU time a caller spends waiting on a slow handler.
#include "bench/support/ratio.h"
#include "velmot/channels/piperpc.h"
#include "velmot/channels/ringbuffers.h"
#include "velmot/channels/tcpio.h"
#include "velmot/core/osys.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <ctime>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kTotal = 64u << 20;

std::string Block(size_t n)
{
    std::string b(n, '\0');
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<char>('a' + i % 26);
    return b;
}

int ListenLoopback(int* port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), len) != 0 || listen(fd, 4) != 0)
        return -1;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    *port = ntohs(sa.sin_port);
    return fd;
}

// The reference: blocking send and recv on a loopback connection.
void BM_BareSocket(benchmark::State& state)
{
    size_t const size = static_cast<size_t>(state.range(0));
    int port = 0;
    int listener = ListenLoopback(&port);
    int out = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(static_cast<uint16_t>(port));
    connect(out, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    int in = accept(listener, nullptr, nullptr);
    std::string const block = Block(size);
    std::vector<char> buf(size);
    for (auto _ : state) {
        std::thread writer([&] {
            for (size_t sent = 0; sent < kTotal;) {
                ssize_t n = send(out, block.data(), std::min(size, kTotal - sent), MSG_NOSIGNAL);
                if (n <= 0)
                    return;
                sent += static_cast<size_t>(n);
            }
        });
        size_t got = 0;
        while (got < kTotal) {
            ssize_t n = recv(in, buf.data(), size, 0);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        writer.join();
    }
    close(in);
    close(out);
    close(listener);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

// The TCP channel: Write on one channel, Read (with a time-out) on the
// channel that accepted.
void BM_TcpChannel(benchmark::State& state)
{
    size_t const size = static_cast<size_t>(state.range(0));
    TCPIPIO server("127.0.0.1:0", "", "");
    server.PrepareAcceptCall();
    int const port = atoi(server.GetInfo("ACCEPTPORT"));
    TCPIPIO client("0", "", "");
    client.ResolvePeerOnCall = 0;
    std::thread acceptor([&] { server.AcceptCall(); });
    bool const called = client.MakeCall(("127.0.0.1:" + std::to_string(port)).c_str());
    acceptor.join();
    if (!called || !server.DevIsConnected()) {
        state.SkipWithError("no loopback connection");
        return;
    }
    std::string const block = Block(size);
    std::vector<char> buf(size);
    for (auto _ : state) {
        std::thread writer([&] {
            for (size_t sent = 0; sent < kTotal; sent += size)
                client.Write(block.data(), static_cast<int>(std::min(size, kTotal - sent)));
        });
        size_t got = 0;
        while (got < kTotal) {
            int n = static_cast<int>(size);
            if (!server.Read(buf.data(), &n, 5000, nullptr))
                break;
            got += static_cast<size_t>(n);
        }
        writer.join();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

constexpr int k32K = 32 << 10;

void BM_Memcpy32K(benchmark::State& state)
{
    std::string const from = Block(k32K);
    std::vector<char> to(k32K);
    for (auto _ : state) {
        memcpy(to.data(), from.data(), k32K);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * k32K);
}

void BM_RingWriteRead32K(benchmark::State& state)
{
    RINGBUFFER ring(1 << 20);
    std::string const from = Block(k32K);
    std::vector<char> to(k32K);
    for (auto _ : state) {
        ring.Write(from.data(), k32K);
        int n = k32K;
        ring.Read(to.data(), &n, 0, nullptr);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * k32K);
}

// One thread writes 32 KiB pieces, the other reads them: MB/s, and how
// often either side slept for the other, per MB.
void BM_RingTwoThreads(benchmark::State& state)
{
    RINGBUFFER ring(1 << 20);
    std::string const from = Block(k32K);
    std::vector<char> to(k32K);
    uint64_t const waitsBefore = ring.WaitCount();
    for (auto _ : state) {
        std::thread writer([&] {
            for (size_t sent = 0; sent < kTotal; sent += k32K)
                ring.Write(from.data(), k32K);
        });
        size_t got = 0;
        while (got < kTotal) {
            int n = k32K;
            ring.Read(to.data(), &n, 1000, nullptr);
            got += static_cast<size_t>(n);
        }
        writer.join();
    }
    double const mb = static_cast<double>(state.iterations()) * (kTotal >> 20);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
    state.counters["wakeups_per_MB"] = static_cast<double>(ring.WaitCount() - waitsBefore) / mb;
}

void Echo(char const*, HASH const& args, HASH* result, void*)
{
    *result = args;
    (*result)["rc"] = "0";
}

void SlowHandler(char const*, HASH const&, HASH* result, void*)
{
    OSYS::Sleep(300);
    (*result)["rc"] = "0";
}

std::string Target(bool tcp)
{
    static int n = 0;
    ++n;
    if (!tcp)
        return "PIPE:bench_rpc" + std::to_string(getpid()) + "_" + std::to_string(n);
    int port = 0;
    close(ListenLoopback(&port));
    return "TCP:" + std::to_string(port);
}

// Eight threads call as fast as they can: calls per second.
void BM_RpcCalls8(benchmark::State& state)
{
    PIPERPC server("bench-server");
    server.pfnCallback = &Echo;
    PIPERPC client("bench-client");
    std::string const target = Target(state.range(0) != 0);
    if (!server.RpcConnect(target.c_str(), 2) || !client.RpcConnect(target.c_str(), 0)) {
        state.SkipWithError("no RPC link");
        return;
    }
    constexpr int kPerCaller = 250;
    for (auto _ : state) {
        std::vector<std::thread> callers;
        for (int c = 0; c < 8; ++c) {
            callers.emplace_back([&] {
                HASH args;
                args["k"] = "v";
                HASH result;
                for (int i = 0; i < kPerCaller; ++i)
                    client.RpcCall("echo", args, &result, 1);
            });
        }
        for (std::thread& t : callers)
            t.join();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 8 * kPerCaller);
}

double ThreadCpuMs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// One call to a handler that takes 300 ms: the caller's CPU time while it
// waits.
void BM_RpcWaitOnSlowHandler(benchmark::State& state)
{
    PIPERPC server("bench-server");
    server.pfnCallback = &SlowHandler;
    PIPERPC client("bench-client");
    std::string const target = Target(true);
    if (!server.RpcConnect(target.c_str(), 2) || !client.RpcConnect(target.c_str(), 0)) {
        state.SkipWithError("no RPC link");
        return;
    }
    double cpu = 0;
    for (auto _ : state) {
        double const start = ThreadCpuMs();
        HASH result;
        client.RpcCall("slow", HASH(), &result, 1);
        cpu += ThreadCpuMs() - start;
    }
    state.counters["caller_cpu_ms_per_call"] = cpu / static_cast<double>(state.iterations());
}

BENCHMARK(BM_BareSocket)->Arg(4096)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TcpChannel)->Arg(4096)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Memcpy32K);
BENCHMARK(BM_RingWriteRead32K);
BENCHMARK(BM_RingTwoThreads)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RpcCalls8)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RpcWaitOnSlowHandler)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchsupport::RatioReporter reporter;
    reporter.AddPair("BM_TcpChannel/4096/real_time", "BM_BareSocket/4096/real_time");
    reporter.AddPair("BM_TcpChannel/65536/real_time", "BM_BareSocket/65536/real_time");
    reporter.AddPair("BM_RingWriteRead32K", "BM_Memcpy32K");
    return benchsupport::RunWithRatios(argc, argv, reporter);
}
