// A console reporter that also prints the ratio of named pairs of
// benchmarks at the end of the run ("ours / reference"), so each benchmark
// binary shows how our code compares with the reference it is measured
// against.
//
// Usage in a benchmark's main():
//   benchsupport::RatioReporter reporter;
//   reporter.AddPair("BM_StringAppend", "BM_StdStringAppend");
//   return benchsupport::RunWithRatios(argc, argv, reporter);
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace benchsupport {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Benchmarks are matched by name prefix (before any "/" argument part
    // the full name is used; a pair may name "BM_X/1024").
    void AddPair(std::string ours, std::string reference)
    {
        pairs_.emplace_back(std::move(ours), std::move(reference));
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                times_[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        if (pairs_.empty())
            return;
        auto& out = GetOutputStream();
        out << "\nRatios (ours / reference; below 1 means faster):\n";
        for (const auto& [ours, ref] : pairs_) {
            auto a = times_.find(ours);
            auto b = times_.find(ref);
            if (a == times_.end() || b == times_.end() || b->second <= 0) {
                out << "  " << ours << " / " << ref << ": not measured\n";
                continue;
            }
            char line[256];
            snprintf(line, sizeof line, "  %-40s / %-40s %8.2fx\n", ours.c_str(), ref.c_str(), a->second / b->second);
            out << line;
        }
    }

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
    std::map<std::string, double> times_;
};

inline int RunWithRatios(int argc, char** argv, RatioReporter& reporter)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

} // namespace benchsupport
