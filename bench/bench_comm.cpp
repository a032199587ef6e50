// The received-data road from a device's reader thread to the main thread
// through COMM's input pipe, with the loopback device of the tennick
// bundle, next to a bare pipe(2) and read loop in the same process moving
// the same data. Reports bytes per second and, for COMM, the main thread's
// wake-ups (data notifications) per MB.
#include "bench/support/ratio.h"
#include "program/session/comm.h"
#include "program/session/sessionlink.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kTotal = 64u << 20;
constexpr size_t kWrite = 64u << 10;

// The session as the road needs it: one pending notification at a time,
// taken by the main thread before it drains.
class BENCHSESSION : public SESSIONLINK {
public:
    void ComDataNotification(bool force) override
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (Pending && !force)
            return;
        Pending = true;
        ++Wakeups;
        Cond.notify_one();
    }
    void Take()
    {
        std::unique_lock<std::mutex> guard(Lock);
        Cond.wait_for(guard, std::chrono::milliseconds(100), [this] { return Pending; });
        Pending = false;
    }
    long Wakeups = 0;

private:
    std::mutex Lock;
    std::condition_variable Cond;
    bool Pending = false;
};

void Feed(int fd, std::string const& block, size_t total)
{
    size_t sent = 0;
    while (sent < total) {
        size_t n = std::min(block.size(), total - sent);
        ssize_t w = write(fd, block.data(), n);
        if (w > 0) {
            sent += static_cast<size_t>(w);
        } else if (w < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p = {fd, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            return;
        }
    }
}

std::string Block()
{
    std::string b(kWrite, '\0');
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<char>('a' + i % 26);
    return b;
}

// Feeds the pipe as the reader thread does, 8 KB per FeedData, without a
// device: the pipe alone, between two threads.
void FeedPipe(COMM& comm, std::string const& block, size_t total)
{
    size_t sent = 0;
    while (sent < total) {
        int n = static_cast<int>(std::min<size_t>(COMM::DEVICEREADSIZE, total - sent));
        comm.FeedData(block.data(), n);
        sent += static_cast<size_t>(n);
    }
}

void CommRoad(benchmark::State& state, bool batches, bool device)
{
    BENCHSESSION session;
    COMM comm(session);
    if (comm.OpenDevice(5, "[5]") != 0) {
        state.SkipWithError("no loopback device (tennick bundle)");
        return;
    }
    char answer[32] = {};
    comm.HandleDeviceCommand("LOOPBACK FD", answer, sizeof answer, nullptr);
    int peer = atoi(answer);
    std::string block = Block();
    uint32_t batch[COMM::READBUFSIZE];
    long wakeups = 0;
    uint64_t const writerBefore = comm.WriterWakeups();
    for (auto _ : state) {
        long before = session.Wakeups;
        std::thread feeder = device ? std::thread(Feed, peer, std::cref(block), kTotal)
                                    : std::thread(FeedPipe, std::ref(comm), std::cref(block), kTotal);
        size_t got = 0;
        uint64_t sum = 0;
        while (got < kTotal) {
            session.Take();
            if (batches) {
                for (;;) {
                    int n = COMM::READBUFSIZE;
                    if (comm.GetPipeData(batch, &n, 0) != 0)
                        break;
                    for (int i = 0; i < n; ++i)
                        sum += batch[i];
                    got += static_cast<size_t>(n);
                }
            } else {
                for (int c; (c = comm.ReadChar()) != COMM_NOCHAR;) {
                    sum += static_cast<unsigned>(c);
                    ++got;
                }
            }
        }
        feeder.join();
        benchmark::DoNotOptimize(sum);
        wakeups += session.Wakeups - before;
    }
    uint64_t const writerWakeups = comm.WriterWakeups() - writerBefore;
    comm.CloseDevice();
    double const mb = static_cast<double>(state.iterations()) * (kTotal >> 20);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
    state.counters["wakeups_per_MB"] = static_cast<double>(wakeups) / mb;
    state.counters["reader_wakeups_per_MB"] = static_cast<double>(writerWakeups) / mb;
}

// The loopback device's reader thread feeds the pipe; the main thread
// reads one character at a time (as the session's data road does), or
// takes batches of 1024 entries.
void BM_CommReadChar(benchmark::State& state)
{
    CommRoad(state, false, true);
}

void BM_CommPipeBatches(benchmark::State& state)
{
    CommRoad(state, true, true);
}

// The same without the device: a thread feeds the pipe as the reader does.
void BM_PipeOnlyReadChar(benchmark::State& state)
{
    CommRoad(state, false, false);
}

void BM_PipeOnlyBatches(benchmark::State& state)
{
    CommRoad(state, true, false);
}

// One thread feeds 8 KB and reads it back a character at a time: the cost
// of the pipe and of ReadChar themselves, without a second thread.
void BM_ReadCharOneThread(benchmark::State& state)
{
    BENCHSESSION session;
    COMM comm(session);
    if (comm.OpenDevice(5, "[5]") != 0) {
        state.SkipWithError("no loopback device (tennick bundle)");
        return;
    }
    std::string block = Block();
    uint64_t sum = 0;
    for (auto _ : state) {
        comm.FeedData(block.data(), COMM::DEVICEREADSIZE);
        for (int c; (c = comm.ReadChar()) != COMM_NOCHAR;)
            sum += static_cast<unsigned>(c);
    }
    benchmark::DoNotOptimize(sum);
    comm.CloseDevice();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * COMM::DEVICEREADSIZE);
}

void BM_BarePipe(benchmark::State& state)
{
    int fds[2];
    if (pipe(fds) != 0) {
        state.SkipWithError("pipe");
        return;
    }
    std::string block = Block();
    std::vector<char> buf(8192);
    for (auto _ : state) {
        std::thread feeder(Feed, fds[1], std::cref(block), kTotal);
        size_t got = 0;
        uint64_t sum = 0;
        while (got < kTotal) {
            ssize_t n = read(fds[0], buf.data(), buf.size());
            if (n <= 0)
                break;
            for (ssize_t i = 0; i < n; ++i)
                sum += static_cast<unsigned char>(buf[i]);
            got += static_cast<size_t>(n);
        }
        feeder.join();
        benchmark::DoNotOptimize(sum);
    }
    close(fds[0]);
    close(fds[1]);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

BENCHMARK(BM_CommReadChar)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CommPipeBatches)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PipeOnlyReadChar)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PipeOnlyBatches)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadCharOneThread);
BENCHMARK(BM_BarePipe)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    // The build's stage tree holds the bundle; the registry store goes to a
    // private folder.
    setenv("QOR_STAGE_DIR", QOR_STAGE, 0);
    char folder[] = "/tmp/bench_commXXXXXX";
    if (mkdtemp(folder))
        setenv("XDG_CONFIG_HOME", folder, 1);
    benchsupport::RatioReporter reporter;
    for (char const* ours : {"BM_CommReadChar", "BM_CommPipeBatches", "BM_PipeOnlyReadChar", "BM_PipeOnlyBatches"})
        reporter.AddPair(std::string(ours) + "/real_time", "BM_BarePipe/real_time");
    int rc = benchsupport::RunWithRatios(argc, argv, reporter);
    std::string rm = std::string("rm -rf ") + folder;
    if (system(rm.c_str()) != 0)
        return rc;
    return rc;
}
