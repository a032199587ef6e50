// libFuzzer entry for decompression: any bytes inflate within the limit,
// a stream fed in two pieces gives what one call gives, and whatever is
// compressed comes back unchanged.
#include "velmot/core/gzip.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int32_t kLimit = 1 << 20;

void Check(bool ok)
{
    if (!ok)
        abort();
}

bool Same(BINARY const& a, BINARY const& b)
{
    return a.Length() == b.Length() && (a.Length() == 0 || memcmp(a.Buffer, b.Buffer, static_cast<size_t>(a.Length())) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    BINARY in;
    in.Make(static_cast<int32_t>(size), reinterpret_cast<char const*>(data));

    bool ok = false;
    BINARY whole = GZIP::Inflate(in, &ok, kLimit);
    Check(whole.Length() <= kLimit);

    // The first byte chooses where the stream is cut.
    int32_t cut = size > 0 ? static_cast<int32_t>(data[0] % (size + 1)) : 0;
    GZIP z;
    Check(z.InflateInit(kLimit));
    BINARY pieces;
    if (z.InflateData(in.Left(cut), pieces))
        z.InflateData(in.Substr(cut), pieces);
    if (ok)
        Check(z.Status() == GZIP_STREAMEND && Same(whole, pieces));

    BINARY packed = GZIP::Deflate(in, 1 + static_cast<int>(size % 9), &ok);
    Check(ok);
    BINARY back = GZIP::Inflate(packed, &ok, kLimit);
    Check(ok && Same(in, back));
    return 0;
}
