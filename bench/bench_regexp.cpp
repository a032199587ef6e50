// Regular expression searches of 4 MB. A pattern that sends a backtracking
// matcher into exponential time, (x+x+)+y on a text of x without y, next to
// the plain x+y on the same text: the ratio shows what the nesting costs
// (a small constant: the program is a few instructions longer). A literal
// search next to std::string::find.
#include "velmot/core/regexp.h"

#include "bench/support/ratio.h"

#include <string>

namespace {

constexpr size_t kText = 4 * 1024 * 1024;

void Search(benchmark::State& state, char const* pattern, std::string const& text)
{
    REGEXP re;
    if (!re.RegComp(pattern)) {
        state.SkipWithError("pattern does not compile");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(re.RegFind(text.c_str()));
    state.SetBytesProcessed(int64_t(state.iterations()) * static_cast<int64_t>(text.size()));
}

std::string const& Xs()
{
    static std::string const text(kText, 'x');
    return text;
}

std::string const& Words()
{
    static std::string const text = [] {
        std::string s;
        while (s.size() < kText)
            s += "the quick brown fox jumps over the lazy dog; ";
        return s + "needle";
    }();
    return text;
}

void BM_RegexpNested(benchmark::State& state) { Search(state, "(x+x+)+y", Xs()); }
BENCHMARK(BM_RegexpNested)->Unit(benchmark::kMillisecond);

void BM_RegexpPlain(benchmark::State& state) { Search(state, "x+y", Xs()); }
BENCHMARK(BM_RegexpPlain)->Unit(benchmark::kMillisecond);

void BM_RegexpLiteral(benchmark::State& state) { Search(state, "needle", Words()); }
BENCHMARK(BM_RegexpLiteral)->Unit(benchmark::kMillisecond);

void BM_StdFindLiteral(benchmark::State& state)
{
    std::string const& text = Words();
    for (auto _ : state)
        benchmark::DoNotOptimize(text.find("needle"));
    state.SetBytesProcessed(int64_t(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_StdFindLiteral)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchsupport::RatioReporter reporter;
    reporter.AddPair("BM_RegexpNested", "BM_RegexpPlain");
    reporter.AddPair("BM_RegexpLiteral", "BM_StdFindLiteral");
    return benchsupport::RunWithRatios(argc, argv, reporter);
}
