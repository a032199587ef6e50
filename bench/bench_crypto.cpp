// Throughput of compression and ciphers beside the libraries underneath:
// GZIP's deflate and inflate (4096-byte pieces, partial flushes, BINARY
// buffers) against zlib's one-call compress2/uncompress, and DES3 and
// BLOWFISH against the same ciphers through OpenSSL's EVP interface.
#include "velmot/core/crypto.h"
#include "velmot/core/gzip.h"
#include "bench/support/ratio.h"

#include <openssl/evp.h>
#include <openssl/provider.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t kSize = 4 * 1024 * 1024;

// Terminal-like data: words, line ends and some noise.
std::string const& Sample()
{
    static std::string const data = [] {
        static char const* words[] = {"terminal ", "session ", "host ", "\r\n", "transfer ", "screen ", "key "};
        std::mt19937 rng(1);
        std::string s;
        while (s.size() < kSize) {
            if (rng() % 8 == 0)
                s.push_back(static_cast<char>(rng()));
            else
                s += words[rng() % 7];
        }
        s.resize(kSize);
        return s;
    }();
    return data;
}

BINARY Bin(std::string const& s)
{
    BINARY b;
    b.Make(static_cast<int32_t>(s.size()), s.data());
    return b;
}

void BM_GzipDeflate(benchmark::State& state)
{
    BINARY in = Bin(Sample());
    for (auto _ : state) {
        BINARY out = GZIP::Deflate(in, 6);
        benchmark::DoNotOptimize(out.Buffer);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * in.Length());
}
BENCHMARK(BM_GzipDeflate)->Unit(benchmark::kMillisecond);

void BM_ZlibCompress(benchmark::State& state)
{
    std::string const& in = Sample();
    std::vector<Bytef> out(compressBound(in.size()));
    for (auto _ : state) {
        uLongf len = out.size();
        compress2(out.data(), &len, reinterpret_cast<Bytef const*>(in.data()), in.size(), 6);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}
BENCHMARK(BM_ZlibCompress)->Unit(benchmark::kMillisecond);

void BM_GzipInflate(benchmark::State& state)
{
    BINARY packed = GZIP::Deflate(Bin(Sample()), 6);
    for (auto _ : state) {
        BINARY out = GZIP::Inflate(packed);
        benchmark::DoNotOptimize(out.Buffer);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kSize));
}
BENCHMARK(BM_GzipInflate)->Unit(benchmark::kMillisecond);

void BM_ZlibUncompress(benchmark::State& state)
{
    BINARY packed = GZIP::Deflate(Bin(Sample()), 6);
    std::vector<Bytef> out(kSize);
    for (auto _ : state) {
        uLongf len = out.size();
        uncompress(out.data(), &len, reinterpret_cast<Bytef const*>(packed.Buffer), packed.Length());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kSize));
}
BENCHMARK(BM_ZlibUncompress)->Unit(benchmark::kMillisecond);

constexpr long kCipherSize = 1024 * 1024;

void BM_Des3Encrypt(benchmark::State& state)
{
    DES3 des("abcdefghijklmnopqrstuvwx");
    std::string buffer = Sample().substr(0, kCipherSize);
    for (auto _ : state) {
        des.Encrypt(buffer.data(), buffer.data(), kCipherSize);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kCipherSize);
}
BENCHMARK(BM_Des3Encrypt)->Unit(benchmark::kMillisecond);

// The same amount of DES work (three DES operations per block) through EVP.
void RunEvp(benchmark::State& state, EVP_CIPHER const* cipher, unsigned char const* key)
{
    if (!cipher) {
        state.SkipWithError("cipher not available");
        return;
    }
    unsigned char iv[8] = {};
    std::string buffer = Sample().substr(0, kCipherSize);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, cipher, nullptr, key, iv);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    auto* p = reinterpret_cast<unsigned char*>(buffer.data());
    for (auto _ : state) {
        int len = 0;
        EVP_EncryptUpdate(ctx, p, &len, p, static_cast<int>(kCipherSize));
        benchmark::DoNotOptimize(p);
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kCipherSize);
}

void BM_EvpDes3Encrypt(benchmark::State& state)
{
    static unsigned char const key[] = "abcdefghijklmnopqrstuvwx";
    RunEvp(state, EVP_des_ede3_cbc(), key);
}
BENCHMARK(BM_EvpDes3Encrypt)->Unit(benchmark::kMillisecond);

void BM_BlowfishEncrypt(benchmark::State& state)
{
    BLOWFISH bf("sixteen byte key", 16);
    std::string buffer = Sample().substr(0, kCipherSize);
    for (auto _ : state) {
        bf.Encrypt(buffer.data(), buffer.data(), kCipherSize);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kCipherSize);
}
BENCHMARK(BM_BlowfishEncrypt)->Unit(benchmark::kMillisecond);

void BM_EvpBlowfishEncrypt(benchmark::State& state)
{
    // Blowfish lives in OpenSSL's legacy provider.
    static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    static OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");
    (void)legacy;
    (void)standard;
    static unsigned char const key[] = "sixteen byte key";
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "BF-CBC", nullptr);
    RunEvp(state, cipher, key);
    EVP_CIPHER_free(cipher);
}
BENCHMARK(BM_EvpBlowfishEncrypt)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchsupport::RatioReporter reporter;
    reporter.AddPair("BM_GzipDeflate", "BM_ZlibCompress");
    reporter.AddPair("BM_GzipInflate", "BM_ZlibUncompress");
    reporter.AddPair("BM_Des3Encrypt", "BM_EvpDes3Encrypt");
    reporter.AddPair("BM_BlowfishEncrypt", "BM_EvpBlowfishEncrypt");
    return benchsupport::RunWithRatios(argc, argv, reporter);
}
