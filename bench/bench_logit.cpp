// The cost of a log call with logging off (one flag test, arguments not
// evaluated) and on (formatting and writing under the process-wide lock).
#include "velmot/core/logit.h"
#include "bench/support/ratio.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

int gSink = 0;

void BM_LogitOff(benchmark::State& state)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(LOGIT("SESSION::ComDataProcess %d bytes\n", ++gSink));
    }
}
BENCHMARK(BM_LogitOff);

void BM_LogifOffNullFormat(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(LOGIF(5, nullptr));
}
BENCHMARK(BM_LogifOffNullFormat);

// The reference for "off": an empty function call through a volatile flag.
void BM_BareFlagTest(benchmark::State& state)
{
    static volatile bool flag = false;
    for (auto _ : state) {
        int rc = flag ? 1 : 0;
        benchmark::DoNotOptimize(rc);
    }
}
BENCHMARK(BM_BareFlagTest);

void BM_LogitOnFile(benchmark::State& state)
{
    char path[] = "/tmp/bench_logit.XXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0)
        close(fd);
    LOGITARG((std::string("/LOGIT:") + path).c_str());
    for (auto _ : state)
        benchmark::DoNotOptimize(LOGIT("SESSION::ComDataProcess %d bytes\n", ++gSink));
    LOGITARG("/LOGITCLOSE");
    unlink(path);
}
BENCHMARK(BM_LogitOnFile)->Threads(1)->Threads(4);

// The reference for "on": the same formatting and write with plain stdio.
void BM_FprintfFile(benchmark::State& state)
{
    FILE* f = tmpfile();
    for (auto _ : state)
        benchmark::DoNotOptimize(fprintf(f, "[%07.3lf:%04x] SESSION::ComDataProcess %d bytes\n", 1.5, 42, ++gSink));
    fclose(f);
}
BENCHMARK(BM_FprintfFile);

} // namespace

int main(int argc, char** argv)
{
    benchsupport::RatioReporter reporter;
    reporter.AddPair("BM_LogitOff", "BM_BareFlagTest");
    reporter.AddPair("BM_LogitOnFile/threads:1", "BM_FprintfFile");
    return benchsupport::RunWithRatios(argc, argv, reporter);
}
