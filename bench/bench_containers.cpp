// The containers on their hot paths, each beside the standard container that
// does the same work: record lookup and list search with 10,000 entries,
// appending and sorting 100,000 items, and reading a 100,000-line file.
#include "velmot/core/hash.h"
#include "velmot/core/stringarray.h"
#include "bench/support/ratio.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kEntries = 10000;
constexpr int kItems = 100000;

std::string KeyName(int i)
{
    char buf[32];
    snprintf(buf, sizeof buf, "Key%05d", i);
    return buf;
}

// The keys to look up, in a fixed random order.
std::vector<std::string> const& Probes()
{
    static std::vector<std::string> probes = [] {
        std::vector<std::string> v;
        std::mt19937 rng(42);
        for (int i = 0; i < 1024; ++i)
            v.push_back(KeyName(static_cast<int>(rng() % kEntries)));
        return v;
    }();
    return probes;
}

struct CASELESS {
    bool operator()(std::string const& a, std::string const& b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};

// --- record lookup ------------------------------------------------------------

void BM_HashLookup(benchmark::State& state)
{
    HASH h;
    for (int i = 0; i < kEntries; ++i)
        h[KeyName(i).c_str()] = STRING(i);
    auto const& probes = Probes();
    size_t n = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(h[probes[n++ & 1023].c_str()].StrLen);
}
BENCHMARK(BM_HashLookup);

// The same case-insensitive ordered map in the standard library.
void BM_StdMapLookup(benchmark::State& state)
{
    std::map<std::string, std::string, CASELESS> m;
    for (int i = 0; i < kEntries; ++i)
        m[KeyName(i)] = std::to_string(i);
    auto const& probes = Probes();
    size_t n = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(m.find(probes[n++ & 1023])->second.size());
}
BENCHMARK(BM_StdMapLookup);

void BM_StdUnorderedMapLookup(benchmark::State& state)
{
    std::unordered_map<std::string, std::string> m;
    for (int i = 0; i < kEntries; ++i)
        m[KeyName(i)] = std::to_string(i);
    auto const& probes = Probes();
    size_t n = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(m.find(probes[n++ & 1023])->second.size());
}
BENCHMARK(BM_StdUnorderedMapLookup);

// --- list search ----------------------------------------------------------------

HASHLIST& Records()
{
    static HASHLIST list = [] {
        HASHLIST l;
        for (int i = 0; i < kEntries; ++i) {
            HASH h;
            h.Handle = static_cast<uint32_t>(i + 1);
            h["Name"] = KeyName(i).c_str();
            h["Host"] = "host.example";
            h["Port"] = "23";
            l.AppendItem(h);
        }
        return l;
    }();
    return list;
}

using STDRECORD = std::map<std::string, std::string, CASELESS>;

std::vector<std::pair<uint32_t, STDRECORD>>& StdRecords()
{
    static std::vector<std::pair<uint32_t, STDRECORD>> v = [] {
        std::vector<std::pair<uint32_t, STDRECORD>> r;
        for (int i = 0; i < kEntries; ++i)
            r.push_back({static_cast<uint32_t>(i + 1), {{"Name", KeyName(i)}, {"Host", "host.example"}, {"Port", "23"}}});
        return r;
    }();
    return v;
}

void BM_HashListFindItem(benchmark::State& state)
{
    HASHLIST& list = Records();
    auto const& probes = Probes();
    size_t n = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(list.FindItem("Name", probes[n++ & 1023].c_str(), true));
}
BENCHMARK(BM_HashListFindItem);

// The same search (first record whose field equals the text, ignoring case)
// over a vector of standard maps.
void BM_StdVectorFindItem(benchmark::State& state)
{
    auto& v = StdRecords();
    auto const& probes = Probes();
    size_t n = 0;
    for (auto _ : state) {
        std::string const& want = probes[n++ & 1023];
        auto it = std::find_if(v.begin(), v.end(), [&](auto const& r) {
            auto f = r.second.find("Name");
            return f != r.second.end() && strcasecmp(f->second.c_str(), want.c_str()) == 0;
        });
        benchmark::DoNotOptimize(it);
    }
}
BENCHMARK(BM_StdVectorFindItem);

void BM_HashListFindHandle(benchmark::State& state)
{
    HASHLIST& list = Records();
    uint32_t h = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(list.FindHandle(h));
        h = h * 7919 % kEntries + 1;
    }
}
BENCHMARK(BM_HashListFindHandle);

void BM_StdVectorFindHandle(benchmark::State& state)
{
    auto& v = StdRecords();
    uint32_t h = 1;
    for (auto _ : state) {
        auto it = std::find_if(v.begin(), v.end(), [&](auto const& r) { return r.first == h; });
        benchmark::DoNotOptimize(it);
        h = h * 7919 % kEntries + 1;
    }
}
BENCHMARK(BM_StdVectorFindHandle);

// --- appending and sorting --------------------------------------------------------

std::vector<std::string> const& RandomTexts()
{
    static std::vector<std::string> texts = [] {
        std::vector<std::string> v;
        std::mt19937 rng(7);
        for (int i = 0; i < kItems; ++i)
            v.push_back("item " + std::to_string(rng()));
        return v;
    }();
    return texts;
}

void BM_StringArrayAppend100k(benchmark::State& state)
{
    auto const& texts = RandomTexts();
    for (auto _ : state) {
        STRINGARRAY a;
        for (auto const& t : texts)
            a.AppendItem(STRING(t.c_str()));
        benchmark::DoNotOptimize(a.NumItems());
    }
}
BENCHMARK(BM_StringArrayAppend100k)->Unit(benchmark::kMillisecond);

void BM_StdVectorAppend100k(benchmark::State& state)
{
    auto const& texts = RandomTexts();
    for (auto _ : state) {
        std::vector<std::string> v;
        for (auto const& t : texts)
            v.push_back(std::string(t.c_str()));
        benchmark::DoNotOptimize(v.size());
    }
}
BENCHMARK(BM_StdVectorAppend100k)->Unit(benchmark::kMillisecond);

void BM_StringArraySort100k(benchmark::State& state)
{
    STRINGARRAY source;
    for (auto const& t : RandomTexts())
        source.AppendItem(STRING(t.c_str()));
    for (auto _ : state) {
        state.PauseTiming();
        STRINGARRAY a(source);
        state.ResumeTiming();
        a.Sort(DYNARRAY_SORT_IGNORECASE);
        benchmark::DoNotOptimize(a.ppItems);
    }
}
BENCHMARK(BM_StringArraySort100k)->Unit(benchmark::kMillisecond);

void BM_StdVectorSort100k(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::string> v = RandomTexts();
        state.ResumeTiming();
        std::sort(v.begin(), v.end(), CASELESS());
        benchmark::DoNotOptimize(v.data());
    }
}
BENCHMARK(BM_StdVectorSort100k)->Unit(benchmark::kMillisecond);

// --- reading a line file ------------------------------------------------------------

std::string gLineFile; // removed at exit when made

std::string const& LineFile()
{
    static std::string path = [] {
        char name[] = "/tmp/bench_containers.XXXXXX";
        int fd = mkstemp(name);
        std::string text;
        for (auto const& t : RandomTexts())
            text += t + "\n";
        if (fd >= 0) {
            if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
                perror("write");
            close(fd);
        }
        gLineFile = name;
        return std::string(name);
    }();
    return path;
}

void BM_StringArrayLoad100k(benchmark::State& state)
{
    std::string const& path = LineFile();
    for (auto _ : state) {
        STRINGARRAY a;
        benchmark::DoNotOptimize(a.Load(path.c_str(), false));
    }
}
BENCHMARK(BM_StringArrayLoad100k)->Unit(benchmark::kMillisecond);

void BM_StdGetlineLoad100k(benchmark::State& state)
{
    std::string const& path = LineFile();
    for (auto _ : state) {
        std::ifstream in(path);
        std::vector<std::string> v;
        std::string line;
        while (std::getline(in, line))
            v.push_back(line);
        benchmark::DoNotOptimize(v.size());
    }
}
BENCHMARK(BM_StdGetlineLoad100k)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchsupport::RatioReporter reporter;
    reporter.AddPair("BM_HashLookup", "BM_StdMapLookup");
    reporter.AddPair("BM_HashLookup", "BM_StdUnorderedMapLookup");
    reporter.AddPair("BM_HashListFindItem", "BM_StdVectorFindItem");
    reporter.AddPair("BM_HashListFindHandle", "BM_StdVectorFindHandle");
    reporter.AddPair("BM_StringArrayAppend100k", "BM_StdVectorAppend100k");
    reporter.AddPair("BM_StringArraySort100k", "BM_StdVectorSort100k");
    reporter.AddPair("BM_StringArrayLoad100k", "BM_StdGetlineLoad100k");
    int rc = benchsupport::RunWithRatios(argc, argv, reporter);
    if (!gLineFile.empty())
        unlink(gLineFile.c_str());
    return rc;
}
