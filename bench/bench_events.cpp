// Costs of the event road next to bare Qt in the same run:
// - post and dispatch of toolkit messages against QCoreApplication::postEvent
//   of a QEvent carrying the same four words;
// - the round trip of a send from a worker thread against a worker that
//   posts a QEvent and waits on a semaphore the receiver releases;
// - the jitter of a 20 ms loop timer.
// The ratios are printed at the end; the layer should cost no more than
// three times bare Qt per message.
#include "platform/events/application.h"
#include "platform/events/benchref.h"
#include "platform/events/queue.h"
#include "platform/events/target.h"
#include "platform/events/timers.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace plat;

namespace {

constexpr int kBatch = 1000;
constexpr OSType kParamMsg = FourCC("VMSG");
constexpr OSType kParamP1 = FourCC("VMP1");
constexpr OSType kParamP2 = FourCC("VMP2");
constexpr OSType kParamP3 = FourCC("VMP3");
constexpr OSType kParamRet = FourCC("VRET");
constexpr EventType kMessage{kEventClassToolkit, kEventToolkitMessage};

// Our side: a window-like target whose handler reads the words like the
// toolkit's dispatch does.
struct PlatReceiver {
    TargetRef target = nullptr;
    HandlerRef handler = nullptr;
    int count = 0;
    uintptr_t sum = 0;

    PlatReceiver()
    {
        target = CreateTarget(TargetKind::Window, ApplicationTarget());
        handler = InstallHandler(target, {&kMessage, 1}, [this](HandlerCall&, Event& e) {
            ++count;
            sum += e.GetWord(kParamMsg) + e.GetWord(kParamP1);
            e.SetWord(kParamRet, 1);
            return kNoErr;
        });
    }
    ~PlatReceiver() { DestroyTarget(target); }
};

EventPtr MakeMessage(int i)
{
    EventPtr e = Event::Create(kEventClassToolkit, kEventToolkitMessage);
    e->SetWord(kParamMsg, 1025);
    e->SetWord(kParamP1, static_cast<uintptr_t>(i));
    e->SetWord(kParamP2, 0);
    e->SetWord(kParamP3, 0);
    return e;
}

void ProcessUntil(const int& count, int want)
{
    while (count < want)
        ProcessPendingEvents(want);
}

// The same work with bare Qt: QCoreApplication::postEvent of an event of
// four words to a receiver that reads them.
void BM_PostDispatch_Qt(benchmark::State& state)
{
    for (auto _ : state)
        benchref::QtPostDispatch(kBatch);
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_PostDispatch_Plat(benchmark::State& state)
{
    PlatReceiver r;
    for (auto _ : state) {
        r.count = 0;
        for (int i = 0; i < kBatch; ++i)
            PostEvent(MakeMessage(i), r.target);
        ProcessUntil(r.count, kBatch);
    }
    benchmark::DoNotOptimize(r.sum);
    state.SetItemsProcessed(state.iterations() * kBatch);
}

// The main thread runs its loop while a worker does kBatch round trips.
template <class Body>
void RoundTrips(Body body)
{
    std::thread worker([&] {
        body();
        QuitMainLoop();
    });
    RunMainLoop();
    worker.join();
}

// The same with bare Qt: a worker posts a Qt event and waits on a semaphore
// that the receiver releases.
void BM_SendRoundTrip_Qt(benchmark::State& state)
{
    for (auto _ : state)
        benchref::QtSendRoundTrips(kBatch);
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_SendRoundTrip_Plat(benchmark::State& state)
{
    PlatReceiver r;
    int failures = 0;
    for (auto _ : state) {
        RoundTrips([&] {
            for (int i = 0; i < kBatch; ++i) {
                EventPtr e = MakeMessage(i);
                if (SendEvent(*e, r.target) != kNoErr || e->GetWord(kParamRet) != 1)
                    ++failures;
            }
        });
    }
    if (failures)
        state.SkipWithError("a send failed");
    state.SetItemsProcessed(state.iterations() * kBatch);
}

// Fires a 20 ms loop timer 50 times and reports how far the intervals
// stray from 20 ms.
void BM_TimerJitter20ms(benchmark::State& state)
{
    std::vector<double> intervals;
    for (auto _ : state) {
        intervals.clear();
        auto last = std::chrono::steady_clock::now();
        int ticks = 0;
        InstallLoopTimer(20, 20, [&](LoopTimerRef self) {
            auto now = std::chrono::steady_clock::now();
            intervals.push_back(std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
            if (++ticks == 50) {
                RemoveLoopTimer(self);
                QuitMainLoop();
            }
        });
        RunMainLoop();
    }
    double sum = 0, maxDev = 0, sq = 0;
    for (double v : intervals) {
        sum += v;
        maxDev = std::max(maxDev, std::abs(v - 20.0));
    }
    const double mean = intervals.empty() ? 0 : sum / static_cast<double>(intervals.size());
    for (double v : intervals)
        sq += (v - mean) * (v - mean);
    state.counters["mean_ms"] = mean;
    state.counters["stddev_ms"] = intervals.empty() ? 0 : std::sqrt(sq / static_cast<double>(intervals.size()));
    state.counters["max_dev_ms"] = maxDev;
}

BENCHMARK(BM_PostDispatch_Qt)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PostDispatch_Plat)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SendRoundTrip_Qt)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SendRoundTrip_Plat)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TimerJitter20ms)->Unit(benchmark::kMillisecond)->Iterations(1);

// Keeps the time per message of each run for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.iterations == 0 || r.error_occurred)
                continue;
            perMessageNs[r.benchmark_name()] = r.real_accumulated_time * 1e9 / static_cast<double>(r.iterations) / kBatch;
        }
    }
    std::map<std::string, double> perMessageNs;
};

void PrintRatio(const RatioReporter& rep, const char* what, const std::string& qt, const std::string& plat)
{
    auto q = rep.perMessageNs.find(qt);
    auto p = rep.perMessageNs.find(plat);
    if (q == rep.perMessageNs.end() || p == rep.perMessageNs.end() || q->second <= 0)
        return;
    const double ratio = p->second / q->second;
    std::printf("%-22s plat %8.0f ns/msg   Qt %8.0f ns/msg   ratio %.2f %s\n", what, p->second, q->second, ratio,
                ratio <= 3.0 ? "(within 3x)" : "(OVER 3x)");
}

} // namespace

int main(int argc, char** argv)
{
    if (!StartApplication(&argc, argv))
        return 1;
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    PrintRatio(reporter, "post + dispatch", "BM_PostDispatch_Qt", "BM_PostDispatch_Plat");
    PrintRatio(reporter, "send round trip", "BM_SendRoundTrip_Qt", "BM_SendRoundTrip_Plat");
    benchmark::Shutdown();
    StopApplication();
    return 0;
}
