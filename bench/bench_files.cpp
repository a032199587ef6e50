// The regular expression engine against std::regex on a few realistic
// patterns over 1 MB of log text (the match at the very end, and no match),
// and FILEFIND over a folder of 10,000 files against
// std::filesystem::directory_iterator with std::regex.
#include "velmot/core/filefind.h"
#include "velmot/core/regexp.h"
#include "bench/support/ratio.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <unistd.h>

namespace {

struct PatternCase {
    char const* Name;
    char const* Pattern; // the same text for both engines
    char const* Needle;  // appended to the text for the matching runs
};

PatternCase const kPatterns[] = {
    {"Literal", "ERROR: disk [0-9]+ failed", "ERROR: disk 42 failed"},
    {"Mail", "[A-Za-z0-9._]+@[a-z]+\\.[a-z]+", "john.doe@example.com"},
    {"Request", "(GET|POST) /[a-z/]*\\.html", "GET /index/main.html"},
    {"Alternation", "(timeout|refused|reset) on port [0-9]+", "refused on port 8080"},
};

// About 1 MB of sshd-style log lines.
std::string const& LogText()
{
    static std::string const text = [] {
        std::string t;
        char line[160];
        for (int i = 0; t.size() < (1u << 20); ++i) {
            snprintf(line, sizeof line,
                     "2024-01-%02d 12:%02d:%02d host%03d sshd[%d]: Accepted password for user%d from 10.0.%d.%d "
                     "port %d\n",
                     i % 28 + 1, i % 60, (i * 7) % 60, i % 1000, 1000 + i, i % 97, i % 256, (i * 13) % 256,
                     40000 + i % 20000);
            t += line;
        }
        return t;
    }();
    return text;
}

std::string TextFor(PatternCase const& c, bool match)
{
    return match ? LogText() + c.Needle : LogText();
}

void BM_Regexp(benchmark::State& state)
{
    PatternCase const& c = kPatterns[state.range(0)];
    bool match = state.range(1) != 0;
    std::string text = TextFor(c, match);
    REGEXP re;
    if (!re.RegComp(c.Pattern)) {
        state.SkipWithError("pattern does not compile");
        return;
    }
    for (auto _ : state) {
        int pos = re.RegFind(text.c_str());
        if ((pos >= 0) != match) {
            state.SkipWithError("wrong result");
            return;
        }
        benchmark::DoNotOptimize(pos);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
    state.SetLabel(std::string(c.Name) + (match ? " match" : " no match"));
}

void BM_StdRegex(benchmark::State& state)
{
    PatternCase const& c = kPatterns[state.range(0)];
    bool match = state.range(1) != 0;
    std::string text = TextFor(c, match);
    std::regex re(c.Pattern);
    for (auto _ : state) {
        std::smatch m;
        bool found = std::regex_search(text, m, re);
        if (found != match) {
            state.SkipWithError("wrong result");
            return;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
    state.SetLabel(std::string(c.Name) + (match ? " match" : " no match"));
}

void PatternArgs(benchmark::internal::Benchmark* b)
{
    for (int i = 0; i < static_cast<int>(std::size(kPatterns)); ++i) {
        b->Args({i, 1});
        b->Args({i, 0});
    }
}
BENCHMARK(BM_Regexp)->Apply(PatternArgs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdRegex)->Apply(PatternArgs)->Unit(benchmark::kMillisecond);

// A folder of 10,000 files: 9,000 ".txt" files in mixed letter case and
// 1,000 ".log" files. Removed at exit.
class Folder {
public:
    Folder()
    {
        char templ[] = "/tmp/bench_files.XXXXXX";
        if (!mkdtemp(templ))
            std::abort();
        path_ = templ;
        for (int i = 0; i < 10000; ++i) {
            char name[64];
            snprintf(name, sizeof name, "%s/file%05d.%s", path_.c_str(), i,
                     i % 10 == 0 ? "log" : (i % 3 == 0 ? "TXT" : "txt"));
            if (FILE* f = fopen(name, "w"))
                fclose(f);
        }
    }
    ~Folder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string const& Path() const { return path_; }

private:
    std::string path_;
};

Folder const& TheFolder()
{
    static Folder folder;
    return folder;
}

void BM_FileFind(benchmark::State& state)
{
    std::string pattern = TheFolder().Path() + "/*.txt";
    for (auto _ : state) {
        int found = 0;
        for (FILEFIND ff(pattern.c_str(), nullptr); ff.Found; ff.FindNext())
            ++found;
        if (found != 9000) {
            state.SkipWithError("wrong count");
            return;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 10000);
}
BENCHMARK(BM_FileFind)->Unit(benchmark::kMillisecond);

void BM_DirectoryIteratorRegex(benchmark::State& state)
{
    std::string const& folder = TheFolder().Path();
    std::regex mask("^.*\\.txt$", std::regex::icase);
    for (auto _ : state) {
        int found = 0;
        for (auto const& entry : std::filesystem::directory_iterator(folder)) {
            if (std::regex_match(entry.path().filename().string(), mask))
                ++found;
        }
        if (found != 9000) {
            state.SkipWithError("wrong count");
            return;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 10000);
}
BENCHMARK(BM_DirectoryIteratorRegex)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchsupport::RatioReporter reporter;
    for (int i = 0; i < static_cast<int>(std::size(kPatterns)); ++i) {
        for (int match : {1, 0}) {
            std::string args = "/" + std::to_string(i) + "/" + std::to_string(match);
            reporter.AddPair("BM_Regexp" + args, "BM_StdRegex" + args);
        }
    }
    reporter.AddPair("BM_FileFind", "BM_DirectoryIteratorRegex");
    return benchsupport::RunWithRatios(argc, argv, reporter);
}
