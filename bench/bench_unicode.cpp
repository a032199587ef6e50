// Code-page and UTF-8 conversions beside glibc's iconv doing the same work
// in the same run: host bytes to wide characters and back (the screen's
// road), the same through UTF-16 units (the platform's road), and UTF-8
// decoding of mixed and of plain ASCII text.
#include "velmot/core/unicode.h"
#include "velmot/core/wstring.h"
#include <ostream> // before ratio.h, which streams to the reporter

#include "bench/support/ratio.h"

#include <iconv.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t kTextBytes = 64 * 1024;

// Russian host text in code page 1251: ASCII with runs of Cyrillic and
// some punctuation from the upper half, every byte defined in the page.
std::string const& Cp1251Text()
{
    static std::string const text = [] {
        std::mt19937 rng(1251);
        std::string s;
        while (s.size() < kTextBytes) {
            int kind = static_cast<int>(rng() % 10);
            int len = 1 + static_cast<int>(rng() % 8);
            for (int i = 0; i < len; ++i) {
                if (kind < 5)
                    s.push_back(static_cast<char>('a' + rng() % 26));
                else if (kind < 9)
                    s.push_back(static_cast<char>(0xC0 + rng() % 64)); // Cyrillic letters
                else
                    s.push_back(static_cast<char>("\x84\x85\x96\x97\xAB\xBB"[rng() % 6]));
            }
            s.push_back(' ');
        }
        s.resize(kTextBytes);
        return s;
    }();
    return text;
}

// Mixed UTF-8: mostly ASCII, with Latin-1, Cyrillic, CJK and emoji.
std::string const& Utf8Mixed()
{
    static std::string const text = [] {
        std::mt19937 rng(8);
        char const* pieces[] = {"terminal ", "\xC3\xA4\xC3\xB6\xC3\xBC ", "\xD0\x9F\xD1\x80\xD0\xB8 ",
                                "\xE4\xB8\xAD\xE6\x96\x87 ", "\xF0\x9F\x98\x80 ", "line\r\n", "0123456789 "};
        std::string s;
        while (s.size() < kTextBytes)
            s += pieces[rng() % std::size(pieces)];
        return s;
    }();
    return text;
}

std::string const& Utf8Ascii()
{
    static std::string const text = [] {
        std::string s;
        while (s.size() < kTextBytes)
            s += "The quick brown fox jumps over the lazy dog. 0123456789\r\n";
        return s;
    }();
    return text;
}

// One iconv conversion of a whole buffer; the descriptor is opened once.
class ICONV {
public:
    ICONV(char const* to, char const* from) : cd_(iconv_open(to, from)) {}
    ~ICONV()
    {
        if (cd_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd_);
    }
    bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    size_t Convert(void const* in, size_t inbytes, void* out, size_t outbytes)
    {
        char* ip = const_cast<char*>(static_cast<char const*>(in));
        char* op = static_cast<char*>(out);
        size_t outleft = outbytes;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd_, &ip, &inbytes, &op, &outleft) == static_cast<size_t>(-1))
            return 0;
        return outbytes - outleft;
    }

private:
    iconv_t cd_;
};

// ---------------------------------------------------------------------------
// Code page 1251 <-> wide characters

void BM_Cp1251ToWide(benchmark::State& state)
{
    std::string const& text = Cp1251Text();
    WSTRING out;
    for (auto _ : state) {
        out.FromChars(text.data(), static_cast<int32_t>(text.size()), 1251);
        benchmark::DoNotOptimize(out.Buffer);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Cp1251ToWide);

void BM_IconvCp1251ToWide(benchmark::State& state)
{
    std::string const& text = Cp1251Text();
    ICONV cv("WCHAR_T", "CP1251");
    std::vector<wchar_t> out(text.size() + 1);
    for (auto _ : state) {
        size_t n = cv.Convert(text.data(), text.size(), out.data(), out.size() * sizeof(wchar_t));
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_IconvCp1251ToWide);

void BM_WideToCp1251(benchmark::State& state)
{
    WSTRING wide(Cp1251Text().data(), static_cast<int32_t>(Cp1251Text().size()), 1251);
    STRING out;
    for (auto _ : state) {
        out.FromWideChar(wide.Buf(), wide.Length(), 1251);
        benchmark::DoNotOptimize(out.Buffer);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Cp1251Text().size()));
}
BENCHMARK(BM_WideToCp1251);

void BM_IconvWideToCp1251(benchmark::State& state)
{
    WSTRING wide(Cp1251Text().data(), static_cast<int32_t>(Cp1251Text().size()), 1251);
    ICONV cv("CP1251", "WCHAR_T");
    std::vector<char> out(Cp1251Text().size() + 1);
    for (auto _ : state) {
        size_t n = cv.Convert(wide.Buf(), static_cast<size_t>(wide.StrLen), out.data(), out.size());
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Cp1251Text().size()));
}
BENCHMARK(BM_IconvWideToCp1251);

// ---------------------------------------------------------------------------
// Code page 1251 <-> UTF-16 units (through a WSTRING on our side)

void BM_Cp1251ToUtf16(benchmark::State& state)
{
    std::string const& text = Cp1251Text();
    WSTRING wide;
    std::vector<unsigned short> units(text.size() * 2 + 1);
    for (auto _ : state) {
        wide.FromChars(text.data(), static_cast<int32_t>(text.size()), 1251);
        int32_t n = wide.ToUniChars(units.data(), static_cast<int32_t>(units.size()));
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Cp1251ToUtf16);

void BM_IconvCp1251ToUtf16(benchmark::State& state)
{
    std::string const& text = Cp1251Text();
    ICONV cv("UTF-16LE", "CP1251");
    std::vector<unsigned short> units(text.size() * 2 + 1);
    for (auto _ : state) {
        size_t n = cv.Convert(text.data(), text.size(), units.data(), units.size() * 2);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_IconvCp1251ToUtf16);

std::vector<unsigned short> Cp1251AsUtf16()
{
    WSTRING wide(Cp1251Text().data(), static_cast<int32_t>(Cp1251Text().size()), 1251);
    std::vector<unsigned short> units(static_cast<size_t>(wide.Length()) * 2 + 1);
    units.resize(static_cast<size_t>(wide.ToUniChars(units.data(), static_cast<int32_t>(units.size()))));
    return units;
}

void BM_Utf16ToCp1251(benchmark::State& state)
{
    std::vector<unsigned short> units = Cp1251AsUtf16();
    WSTRING wide;
    STRING out;
    for (auto _ : state) {
        wide.Cut(0);
        wide.Append(units.data(), static_cast<int32_t>(units.size()));
        out.FromWideChar(wide.Buf(), wide.Length(), 1251);
        benchmark::DoNotOptimize(out.Buffer);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Cp1251Text().size()));
}
BENCHMARK(BM_Utf16ToCp1251);

void BM_IconvUtf16ToCp1251(benchmark::State& state)
{
    std::vector<unsigned short> units = Cp1251AsUtf16();
    ICONV cv("CP1251", "UTF-16LE");
    std::vector<char> out(units.size() + 1);
    for (auto _ : state) {
        size_t n = cv.Convert(units.data(), units.size() * 2, out.data(), out.size());
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Cp1251Text().size()));
}
BENCHMARK(BM_IconvUtf16ToCp1251);

// ---------------------------------------------------------------------------
// UTF-8 decoding

void Utf8Ours(benchmark::State& state, std::string const& text)
{
    UNICODE const* uc = UNICODE::GetInstance();
    WSTRING out;
    for (auto _ : state) {
        out.Cut(0);
        UNICODE_UTF8STATE st;
        int32_t n = uc->Utf8Decoder(text.data(), text.size(), out, &st);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void Utf8Iconv(benchmark::State& state, std::string const& text)
{
    ICONV cv("WCHAR_T", "UTF-8");
    std::vector<wchar_t> out(text.size() + 1);
    for (auto _ : state) {
        size_t n = cv.Convert(text.data(), text.size(), out.data(), out.size() * sizeof(wchar_t));
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_Utf8DecodeMixed(benchmark::State& state)
{
    Utf8Ours(state, Utf8Mixed());
}
BENCHMARK(BM_Utf8DecodeMixed);

void BM_IconvUtf8DecodeMixed(benchmark::State& state)
{
    Utf8Iconv(state, Utf8Mixed());
}
BENCHMARK(BM_IconvUtf8DecodeMixed);

void BM_Utf8DecodeAscii(benchmark::State& state)
{
    Utf8Ours(state, Utf8Ascii());
}
BENCHMARK(BM_Utf8DecodeAscii);

void BM_IconvUtf8DecodeAscii(benchmark::State& state)
{
    Utf8Iconv(state, Utf8Ascii());
}
BENCHMARK(BM_IconvUtf8DecodeAscii);

} // namespace

int main(int argc, char** argv)
{
    benchsupport::RatioReporter reporter;
    reporter.AddPair("BM_Cp1251ToWide", "BM_IconvCp1251ToWide");
    reporter.AddPair("BM_WideToCp1251", "BM_IconvWideToCp1251");
    reporter.AddPair("BM_Cp1251ToUtf16", "BM_IconvCp1251ToUtf16");
    reporter.AddPair("BM_Utf16ToCp1251", "BM_IconvUtf16ToCp1251");
    reporter.AddPair("BM_Utf8DecodeMixed", "BM_IconvUtf8DecodeMixed");
    reporter.AddPair("BM_Utf8DecodeAscii", "BM_IconvUtf8DecodeAscii");
    return benchsupport::RunWithRatios(argc, argv, reporter);
}
