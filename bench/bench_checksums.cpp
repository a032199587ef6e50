// CRC-32 and MD5 throughput next to zlib's crc32 and OpenSSL's MD5 on the
// same buffers.
#include "velmot/core/checksums.h"
#include "bench/support/ratio.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace {

std::vector<char> const& Data()
{
    static std::vector<char> data = [] {
        std::vector<char> d(1 << 20);
        std::mt19937 rng(42);
        for (char& c : d)
            c = static_cast<char>(rng());
        return d;
    }();
    return data;
}

void BM_Crc(benchmark::State& state)
{
    auto const& d = Data();
    for (auto _ : state) {
        CRC crc;
        benchmark::DoNotOptimize(crc.UpdateCrc(d.data(), static_cast<uint32_t>(d.size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(d.size()));
}
BENCHMARK(BM_Crc);

void BM_ZlibCrc32(benchmark::State& state)
{
    auto const& d = Data();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            crc32(0, reinterpret_cast<Bytef const*>(d.data()), static_cast<uInt>(d.size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(d.size()));
}
BENCHMARK(BM_ZlibCrc32);

void BM_Md5(benchmark::State& state)
{
    auto const& d = Data();
    for (auto _ : state) {
        BINARY digest = MDFIVE::GetMD5(d.data(), static_cast<int32_t>(d.size()));
        benchmark::DoNotOptimize(digest.Buffer);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(d.size()));
}
BENCHMARK(BM_Md5);

void BM_OpenSslMd5(benchmark::State& state)
{
    auto const& d = Data();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    for (auto _ : state) {
        EVP_Digest(d.data(), d.size(), digest, &len, EVP_md5(), nullptr);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(d.size()));
}
BENCHMARK(BM_OpenSslMd5);

} // namespace

int main(int argc, char** argv)
{
    benchsupport::RatioReporter reporter;
    reporter.AddPair("BM_Crc", "BM_ZlibCrc32");
    reporter.AddPair("BM_Md5", "BM_OpenSslMd5");
    return benchsupport::RunWithRatios(argc, argv, reporter);
}
