// The toolkit's messages next to the platform layer's events and bare Qt,
// in the same run:
// - post and dispatch of user messages to a window (DARWINDOW::PostMessage
//   to OnUserMessage), against posting the same four words as a platform
//   event to a plain handler, and as a QEvent with
//   QCoreApplication::postEvent;
// - the round trip of a send from a worker thread (DARWINDOW::SendMessage),
//   against plat::SendEvent and against a worker that posts a QEvent and
//   waits on a semaphore the receiver releases;
// - the jitter of a 20 ms window timer.
// The ratios (ours / reference, per message) are printed at the end; the
// toolkit should cost no more than three times bare Qt per message.
#include "bench/support/ratio.h"

#include "velmot/core/tarvo.h"
#include "velmot/gui/winbase.h"
#include "velmot/gui/wincallbacks.h"
#include "velmot/gui/wintimer.h"

#include "platform/events/application.h"
#include "platform/events/benchref.h"
#include "platform/events/queue.h"
#include "platform/events/target.h"
#include "platform/events/timers.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr int kBatch = 1000;

// A window as the window classes build one, counting its user messages.
class BENCHWINDOW : public DARWINDOW, public WINDOWCALLBACKS {
public:
    BENCHWINDOW()
    {
        RECT r{100, 100, 400, 300};
        CreateNewWindow(WINDOWCLASS_DOCUMENT, 0x1218001F, &r, nullptr);
        SetCallbackWindow(fWindow, *this);
    }
    ~BENCHWINDOW() override { Destroy(); }
    plat::Status HandleEvent(plat::HandlerCall* call, TCarbonEvent& event) override
    {
        bool recognised = false;
        return HandleEventForCallback(call, event, &recognised);
    }
    bool OnUserMessage(int msg, MSGWORD p1, MSGWORD p2) override
    {
        ++count;
        sum += static_cast<MSGWORD>(msg) + p1 + p2;
        return true;
    }
    bool OnTimer(int) override
    {
        if (onTimer)
            onTimer();
        return true;
    }
    int count = 0;
    MSGWORD sum = 0;
    std::function<void()> onTimer;
};

// The platform layer alone: a window-like target whose handler reads the
// words as the toolkit's dispatch does.
struct PLATRECEIVER {
    plat::TargetRef target = nullptr;
    int count = 0;
    MSGWORD sum = 0;
    PLATRECEIVER()
    {
        static constexpr plat::EventType kMessage{EVENTCLASS_VELMOT, EVENTKIND_VELMOTMESSAGE};
        target = plat::CreateTarget(plat::TargetKind::Window, plat::ApplicationTarget());
        plat::InstallHandler(target, {&kMessage, 1}, [this](plat::HandlerCall&, plat::Event& e) {
            ++count;
            sum += e.GetWord(VPARAM_MESSAGE) + e.GetWord(VPARAM_P1) + e.GetWord(VPARAM_P2);
            e.SetWord(VPARAM_RESULT, 1);
            return plat::kNoErr;
        });
    }
    ~PLATRECEIVER() { plat::DestroyTarget(target); }
    static plat::EventPtr Message(int i)
    {
        plat::EventPtr e = plat::Event::Create(EVENTCLASS_VELMOT, EVENTKIND_VELMOTMESSAGE);
        e->SetWord(VPARAM_MESSAGE, 1025);
        e->SetWord(VPARAM_P1, static_cast<MSGWORD>(i));
        e->SetWord(VPARAM_P2, 0);
        e->SetWord(VPARAM_P3, 0);
        return e;
    }
};

BENCHWINDOW* gWindow = nullptr;

void BM_PostDispatch_Velmot(benchmark::State& state)
{
    for (auto _ : state) {
        gWindow->count = 0;
        for (int i = 0; i < kBatch; ++i)
            DARWINDOW::PostMessage(gWindow->GetWindow(), 1025, static_cast<MSGWORD>(i), 0, 0);
        while (gWindow->count < kBatch)
            plat::ProcessPendingEvents(kBatch);
    }
    benchmark::DoNotOptimize(gWindow->sum);
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_PostDispatch_Plat(benchmark::State& state)
{
    PLATRECEIVER r;
    for (auto _ : state) {
        r.count = 0;
        for (int i = 0; i < kBatch; ++i)
            plat::PostEvent(PLATRECEIVER::Message(i), r.target);
        while (r.count < kBatch)
            plat::ProcessPendingEvents(kBatch);
    }
    benchmark::DoNotOptimize(r.sum);
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_PostDispatch_Qt(benchmark::State& state)
{
    for (auto _ : state)
        plat::benchref::QtPostDispatch(kBatch);
    state.SetItemsProcessed(state.iterations() * kBatch);
}

// The main thread runs its loop while a worker makes kBatch round trips.
template <class Body>
void RoundTrips(Body body)
{
    std::thread worker([&] {
        body();
        plat::QuitMainLoop(0);
    });
    plat::RunMainLoop();
    worker.join();
}

void BM_SendRoundTrip_Velmot(benchmark::State& state)
{
    int failures = 0;
    for (auto _ : state) {
        RoundTrips([&] {
            for (int i = 0; i < kBatch; ++i)
                if (DARWINDOW::SendMessage(gWindow->GetWindow(), 1025, static_cast<MSGWORD>(i), 0, 0) != 1)
                    ++failures;
        });
    }
    if (failures)
        state.SkipWithError("a send failed");
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_SendRoundTrip_Plat(benchmark::State& state)
{
    PLATRECEIVER r;
    int failures = 0;
    for (auto _ : state) {
        RoundTrips([&] {
            for (int i = 0; i < kBatch; ++i) {
                plat::EventPtr e = PLATRECEIVER::Message(i);
                if (plat::SendEvent(*e, r.target) != plat::kNoErr || e->GetWord(VPARAM_RESULT) != 1)
                    ++failures;
            }
        });
    }
    if (failures)
        state.SkipWithError("a send failed");
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_SendRoundTrip_Qt(benchmark::State& state)
{
    for (auto _ : state)
        plat::benchref::QtSendRoundTrips(kBatch);
    state.SetItemsProcessed(state.iterations() * kBatch);
}

// Fifty ticks of a 20 ms window timer; how far the intervals stray from
// 20 ms. (The poller runs every 20 ms and fires a timer strictly after its
// interval, from the poll that finds it due.)
void BM_TimerJitter20ms(benchmark::State& state)
{
    std::vector<double> intervals;
    for (auto _ : state) {
        intervals.clear();
        auto last = std::chrono::steady_clock::now();
        int ticks = 0;
        gWindow->onTimer = [&] {
            auto now = std::chrono::steady_clock::now();
            if (ticks > 0)
                intervals.push_back(std::chrono::duration<double, std::milli>(now - last).count());
            last = now;
            if (++ticks == 51)
                plat::QuitMainLoop(0);
        };
        WINTIMER::GetInstance()->StartTimer(1, 20, gWindow->GetWindow(), nullptr);
        plat::RunMainLoop();
        WINTIMER::GetInstance()->StopTimer(1, gWindow->GetWindow(), nullptr);
        gWindow->onTimer = nullptr;
    }
    double sum = 0, maxDev = 0, sq = 0;
    for (double v : intervals) {
        sum += v;
        maxDev = std::max(maxDev, std::abs(v - 20.0));
    }
    double const n = static_cast<double>(std::max<size_t>(intervals.size(), 1));
    double const mean = sum / n;
    for (double v : intervals)
        sq += (v - mean) * (v - mean);
    state.counters["mean_ms"] = mean;
    state.counters["stddev_ms"] = std::sqrt(sq / n);
    state.counters["max_dev_ms"] = maxDev;
}

BENCHMARK(BM_PostDispatch_Velmot)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PostDispatch_Plat)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PostDispatch_Qt)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SendRoundTrip_Velmot)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SendRoundTrip_Plat)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SendRoundTrip_Qt)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TimerJitter20ms)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    // This thread is the library's main thread, as in a program.
    TARVOAPP::InitArgsLoggingAndLocale(1, argv, LOCALE_ENGLISH);
    if (!plat::StartApplication(&argc, argv))
        return 1;
    auto window = std::make_unique<BENCHWINDOW>();
    gWindow = window.get();
    benchsupport::RatioReporter reporter;
    reporter.AddPair("BM_PostDispatch_Velmot", "BM_PostDispatch_Qt");
    reporter.AddPair("BM_PostDispatch_Velmot", "BM_PostDispatch_Plat");
    reporter.AddPair("BM_SendRoundTrip_Velmot", "BM_SendRoundTrip_Qt");
    reporter.AddPair("BM_SendRoundTrip_Velmot", "BM_SendRoundTrip_Plat");
    int rc = benchsupport::RunWithRatios(argc, argv, reporter);
    gWindow = nullptr;
    window.reset();
    WINTIMER::ReleaseInstance();
    plat::StopApplication();
    return rc;
}
