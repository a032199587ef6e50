// Registry round trips (a write, which synchronises the domain's file at
// once, and a read back) beside the plain way of keeping the same data: a
// file written to a temporary name, flushed to disk and renamed, then read.
// Both run in a private temporary folder, never in the user's settings.
#include "velmot/core/registry.h"
#include "platform/services/prefs.h"
#include "bench/support/ratio.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string gFolder;

// The same data as the registry value: the key and an eight-byte number.
std::string FileContent(unsigned long long n)
{
    char buf[64];
    snprintf(buf, sizeof buf, "QORPREFS 1\nd Bench:Position=%016llx\n", n);
    return buf;
}

bool WriteRename(std::string const& path, std::string const& content)
{
    std::string tmp = path + ".tmpXXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0)
        return false;
    bool ok = write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    return ok && rename(tmp.c_str(), path.c_str()) == 0;
}

std::string ReadAll(std::string const& path)
{
    std::string rc;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return rc;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        rc.append(buf, n);
    fclose(f);
    return rc;
}

void BM_RegistryRoundTrip(benchmark::State& state)
{
    REGISTRY reg("Bench\\Bench", "Software\\Tarvo\\", 1);
    unsigned long long n = 0;
    for (auto _ : state) {
        ++n;
        bool ok = reg.Write("Position", &n, sizeof n);
        BINARY back;
        ok = reg.Read("Position", &back) && ok;
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(BM_RegistryRoundTrip)->Unit(benchmark::kMicrosecond);

void BM_FileWriteRenameRoundTrip(benchmark::State& state)
{
    std::string path = gFolder + "/plain.prefs";
    unsigned long long n = 0;
    for (auto _ : state) {
        bool ok = WriteRename(path, FileContent(++n));
        std::string back = ReadAll(path);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(back);
    }
}
BENCHMARK(BM_FileWriteRenameRoundTrip)->Unit(benchmark::kMicrosecond);

// Reads alone: the registry looks at the file's stamp and parses it only
// when it changed; the reference reads the whole file every time.
void BM_RegistryRead(benchmark::State& state)
{
    REGISTRY reg("Bench\\Bench", "Software\\Tarvo\\", 1);
    unsigned long long n = 42;
    reg.Write("Position", &n, sizeof n);
    for (auto _ : state) {
        BINARY back;
        bool ok = reg.Read("Position", &back);
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(BM_RegistryRead)->Unit(benchmark::kMicrosecond);

void BM_FileRead(benchmark::State& state)
{
    std::string path = gFolder + "/plain.prefs";
    WriteRename(path, FileContent(42));
    for (auto _ : state) {
        std::string back = ReadAll(path);
        benchmark::DoNotOptimize(back);
    }
}
BENCHMARK(BM_FileRead)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    char templ[] = "/tmp/bench_registry.XXXXXX";
    if (!mkdtemp(templ))
        return 1;
    gFolder = templ;
    plat::SetPrefFolder(plat::PrefScope::CurrentUser, gFolder + "/user");
    plat::SetPrefFolder(plat::PrefScope::AnyUserCurrentHost, gFolder + "/machine");

    benchsupport::RatioReporter reporter;
    reporter.AddPair("BM_RegistryRoundTrip", "BM_FileWriteRenameRoundTrip");
    reporter.AddPair("BM_RegistryRead", "BM_FileRead");
    int rc = benchsupport::RunWithRatios(argc, argv, reporter);
    std::string cleanup = gFolder;
    std::vector<std::string> files = {"/plain.prefs", "/user/com.tarvo.bench.prefs", "/user/.com.tarvo.bench.prefs.lock"};
    for (auto const& f : files)
        unlink((cleanup + f).c_str());
    rmdir((cleanup + "/user").c_str());
    rmdir((cleanup + "/machine").c_str());
    rmdir(cleanup.c_str());
    return rc;
}
