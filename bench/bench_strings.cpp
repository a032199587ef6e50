// STRING against std::string doing the same work: building a 10 MB text a
// byte and 64 bytes at a time, formatting, walking tokens, replacing many
// hits in 1 MB and searching 1 MB, each with and without regard to case
// where STRING offers both. The ratios (STRING / std::string) are printed
// at the end.
#include "velmot/core/strings.h"

#include <ostream>

#include "bench/support/ratio.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

namespace {

constexpr int kBigText = 10 * 1024 * 1024;
constexpr int kSearchText = 1024 * 1024;
constexpr int kFields = 2000;

std::string const& SearchHaystack()
{
    static std::string const hay = [] {
        std::string s;
        while (s.size() < kSearchText)
            s += "the quick brown fox jumps over the lazy dog; ";
        s += "Needle in the Haystack";
        return s;
    }();
    return hay;
}

std::string const& FieldText()
{
    static std::string const text = [] {
        std::string s;
        char field[32];
        for (int i = 0; i < kFields; ++i) {
            snprintf(field, sizeof field, "field%05d,", i);
            s += field;
        }
        return s;
    }();
    return text;
}

std::string const& ReplaceText()
{
    static std::string const text = [] {
        std::string s;
        while (s.size() < kSearchText)
            s += "key=value;";
        return s;
    }();
    return text;
}

// --- append one byte at a time -------------------------------------------

void BM_StringAppendByte(benchmark::State& state)
{
    for (auto _ : state) {
        STRING s;
        for (int i = 0; i < kBigText; ++i)
            s.Append(static_cast<char>('a' + (i & 15)));
        benchmark::DoNotOptimize(s.Buffer);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kBigText);
}
BENCHMARK(BM_StringAppendByte)->Unit(benchmark::kMillisecond);

void BM_StdAppendByte(benchmark::State& state)
{
    for (auto _ : state) {
        std::string s;
        for (int i = 0; i < kBigText; ++i)
            s.push_back(static_cast<char>('a' + (i & 15)));
        benchmark::DoNotOptimize(s.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kBigText);
}
BENCHMARK(BM_StdAppendByte)->Unit(benchmark::kMillisecond);

// --- append 64-byte chunks -------------------------------------------------

void BM_StringAppendChunk(benchmark::State& state)
{
    char chunk[64];
    std::fill(chunk, chunk + sizeof chunk, 'c');
    for (auto _ : state) {
        STRING s;
        for (int i = 0; i < kBigText / 64; ++i)
            s.Append(chunk, 64);
        benchmark::DoNotOptimize(s.Buffer);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kBigText);
}
BENCHMARK(BM_StringAppendChunk)->Unit(benchmark::kMillisecond);

void BM_StdAppendChunk(benchmark::State& state)
{
    char chunk[64];
    std::fill(chunk, chunk + sizeof chunk, 'c');
    for (auto _ : state) {
        std::string s;
        for (int i = 0; i < kBigText / 64; ++i)
            s.append(chunk, 64);
        benchmark::DoNotOptimize(s.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kBigText);
}
BENCHMARK(BM_StdAppendChunk)->Unit(benchmark::kMillisecond);

// --- formatting ------------------------------------------------------------

void BM_StringFormat(benchmark::State& state)
{
    STRING s;
    int i = 0;
    for (auto _ : state) {
        s.Format("%s %d %08x %5.2f", "session", i, i, 3.25);
        benchmark::DoNotOptimize(s.Buffer);
        ++i;
    }
}
BENCHMARK(BM_StringFormat);

void BM_StdFormat(benchmark::State& state)
{
    std::string s;
    int i = 0;
    for (auto _ : state) {
        char buf[8192];
        int const n = snprintf(buf, sizeof buf, "%s %d %08x %5.2f", "session", i, i, 3.25);
        s.assign(buf, static_cast<size_t>(n));
        benchmark::DoNotOptimize(s.data());
        ++i;
    }
}
BENCHMARK(BM_StdFormat);

// --- token iteration (token i found from the start each time) -------------

void BM_StringTokens(benchmark::State& state)
{
    STRING const text(FieldText().c_str());
    for (auto _ : state) {
        int64_t total = 0;
        for (int i = 0; i < kFields; ++i)
            total += text.Token(i, ",").StrLen;
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_StringTokens)->Unit(benchmark::kMillisecond);

void BM_StdTokens(benchmark::State& state)
{
    std::string const text = FieldText();
    for (auto _ : state) {
        int64_t total = 0;
        for (int i = 0; i < kFields; ++i) {
            size_t start = 0;
            for (int k = 0; k < i && start != std::string::npos; ++k) {
                start = text.find_first_of(",", start);
                if (start != std::string::npos)
                    ++start;
            }
            size_t const end = text.find_first_of(",", start);
            total += static_cast<int64_t>(text.substr(start, end - start).size());
        }
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_StdTokens)->Unit(benchmark::kMillisecond);

// --- Replace with many hits in 1 MB ---------------------------------------

void BM_StringReplace(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        STRING s(ReplaceText().c_str());
        state.ResumeTiming();
        s.Replace("=", " := ");
        benchmark::DoNotOptimize(s.Buffer);
    }
}
BENCHMARK(BM_StringReplace)->Unit(benchmark::kMillisecond);

void BM_StdReplace(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        std::string s = ReplaceText();
        state.ResumeTiming();
        std::string out;
        size_t from = 0;
        for (size_t hit; (hit = s.find("=", from)) != std::string::npos; from = hit + 1) {
            out.append(s, from, hit - from);
            out += " := ";
        }
        out.append(s, from, std::string::npos);
        s.swap(out);
        benchmark::DoNotOptimize(s.data());
    }
}
BENCHMARK(BM_StdReplace)->Unit(benchmark::kMillisecond);

void BM_StringReplaceNoCase(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        STRING s(ReplaceText().c_str());
        state.ResumeTiming();
        s.Replace("KEY", "k", false);
        benchmark::DoNotOptimize(s.Buffer);
    }
}
BENCHMARK(BM_StringReplaceNoCase)->Unit(benchmark::kMillisecond);

void BM_StdReplaceNoCase(benchmark::State& state)
{
    auto const same = [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
    };
    std::string const from = "KEY";
    for (auto _ : state) {
        state.PauseTiming();
        std::string s = ReplaceText();
        state.ResumeTiming();
        std::string out;
        auto at = s.cbegin();
        for (;;) {
            auto hit = std::search(at, s.cend(), from.begin(), from.end(), same);
            out.append(at, hit);
            if (hit == s.cend())
                break;
            out += "k";
            at = hit + static_cast<std::ptrdiff_t>(from.size());
        }
        s.swap(out);
        benchmark::DoNotOptimize(s.data());
    }
}
BENCHMARK(BM_StdReplaceNoCase)->Unit(benchmark::kMillisecond);

// --- search in 1 MB --------------------------------------------------------

void BM_StringPos(benchmark::State& state)
{
    STRING const hay(SearchHaystack().c_str());
    for (auto _ : state)
        benchmark::DoNotOptimize(hay.Pos("Needle in the"));
    state.SetBytesProcessed(int64_t(state.iterations()) * hay.StrLen);
}
BENCHMARK(BM_StringPos)->Unit(benchmark::kMicrosecond);

void BM_StdFind(benchmark::State& state)
{
    std::string const hay = SearchHaystack();
    for (auto _ : state)
        benchmark::DoNotOptimize(hay.find("Needle in the"));
    state.SetBytesProcessed(int64_t(state.iterations()) * static_cast<int64_t>(hay.size()));
}
BENCHMARK(BM_StdFind)->Unit(benchmark::kMicrosecond);

// The same 1 MB with a needle whose first byte is everywhere ("t" starts
// two words of every sentence), so most candidates are near misses.
void BM_StringPosCommonStart(benchmark::State& state)
{
    STRING const hay((SearchHaystack() + "the lazy cat").c_str());
    for (auto _ : state)
        benchmark::DoNotOptimize(hay.Pos("the lazy cat"));
    state.SetBytesProcessed(int64_t(state.iterations()) * hay.StrLen);
}
BENCHMARK(BM_StringPosCommonStart)->Unit(benchmark::kMicrosecond);

void BM_StdFindCommonStart(benchmark::State& state)
{
    std::string const hay = SearchHaystack() + "the lazy cat";
    for (auto _ : state)
        benchmark::DoNotOptimize(hay.find("the lazy cat"));
    state.SetBytesProcessed(int64_t(state.iterations()) * static_cast<int64_t>(hay.size()));
}
BENCHMARK(BM_StdFindCommonStart)->Unit(benchmark::kMicrosecond);

void BM_StringIPos(benchmark::State& state)
{
    STRING const hay(SearchHaystack().c_str());
    for (auto _ : state)
        benchmark::DoNotOptimize(hay.iPos("NEEDLE IN THE"));
    state.SetBytesProcessed(int64_t(state.iterations()) * hay.StrLen);
}
BENCHMARK(BM_StringIPos)->Unit(benchmark::kMicrosecond);

void BM_StdSearchNoCase(benchmark::State& state)
{
    std::string const hay = SearchHaystack();
    std::string const needle = "NEEDLE IN THE";
    for (auto _ : state) {
        auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end(), [](char a, char b) {
            return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
        });
        benchmark::DoNotOptimize(it);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * static_cast<int64_t>(hay.size()));
}
BENCHMARK(BM_StdSearchNoCase)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchsupport::RatioReporter reporter;
    reporter.AddPair("BM_StringAppendByte", "BM_StdAppendByte");
    reporter.AddPair("BM_StringAppendChunk", "BM_StdAppendChunk");
    reporter.AddPair("BM_StringFormat", "BM_StdFormat");
    reporter.AddPair("BM_StringTokens", "BM_StdTokens");
    reporter.AddPair("BM_StringReplace", "BM_StdReplace");
    reporter.AddPair("BM_StringReplaceNoCase", "BM_StdReplaceNoCase");
    reporter.AddPair("BM_StringPos", "BM_StdFind");
    reporter.AddPair("BM_StringPosCommonStart", "BM_StdFindCommonStart");
    reporter.AddPair("BM_StringIPos", "BM_StdSearchNoCase");
    return benchsupport::RunWithRatios(argc, argv, reporter);
}
