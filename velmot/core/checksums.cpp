// Checksums and digests: the running CRC-32 and MD5 / HMAC-MD5.
#include "velmot/core/checksums.h"

#include "velmot/core/logit.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <zlib.h>

// ===========================================================================
// CRC

namespace {

// The running value has no inversion before or after; zlib's crc32 inverts
// both, so inverting around its call gives the same value at zlib's speed
// (it handles many bytes per step). Short pieces stay on the table.
uint32_t UpdateBytes(uint32_t value, unsigned char const* p, size_t n)
{
    if (n < 64) {
        for (size_t i = 0; i < n; ++i)
            value = (value >> 8) ^ CRC::Cr3Tab[(value ^ p[i]) & 0xFF];
        return value;
    }
    uLong crc = ~value & 0xFFFFFFFFUL;
    while (n > 0) {
        uInt chunk = n > 0x40000000 ? 0x40000000u : static_cast<uInt>(n);
        crc = crc32(crc, p, chunk);
        p += chunk;
        n -= chunk;
    }
    return static_cast<uint32_t>(~crc & 0xFFFFFFFFUL);
}

} // namespace

uint32_t CRC::UpdateCrc(BINARY const& data)
{
    if (data.Buffer && data.StrLen > 0)
        Value = UpdateBytes(Value, reinterpret_cast<unsigned char const*>(data.Buffer), static_cast<size_t>(data.StrLen));
    return Value;
}

uint32_t CRC::UpdateCrc(char const* data, uint32_t length)
{
    if (!data)
        return Value;
    size_t const n = length == TEXTLENGTH ? strlen(data) : length;
    Value = UpdateBytes(Value, reinterpret_cast<unsigned char const*>(data), n);
    return Value;
}

bool CRC::UpdateFromFile(char const* path, uint32_t limit, char const* mode)
{
    if (!path)
        return false;
    char m[16];
    size_t const n = strlen(mode ? mode : "rb");
    if (n + 2 > sizeof m)
        return false;
    memcpy(m, mode ? mode : "rb", n);
    m[n] = 'e'; // close-on-exec
    m[n + 1] = 0;
    FILE* f = fopen(path, m);
    if (!f)
        return false;
    uint64_t total = 0;
    unsigned char buf[1024];
    bool const unlimited = limit == TEXTLENGTH;
    for (;;) {
        size_t want = sizeof buf;
        if (!unlimited && limit - total < want)
            want = static_cast<size_t>(limit - total);
        if (want == 0)
            break;
        size_t const got = fread(buf, 1, want, f);
        Value = UpdateBytes(Value, buf, got);
        total += got;
        if (got < want)
            break;
    }
    // A read error is a failure even without a limit: the value covers only
    // part of the file.
    bool const readerror = ferror(f) != 0;
    fclose(f);
    if (readerror)
        return false;
    return unlimited || total == limit;
}

// ===========================================================================
// MD5 (RFC 1321)

namespace {

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline uint32_t Rotl(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

// Little-endian words to bytes and back.
void Encode(unsigned char* out, uint32_t const* in, size_t words)
{
    for (size_t i = 0; i < words; ++i) {
        out[4 * i] = static_cast<unsigned char>(in[i]);
        out[4 * i + 1] = static_cast<unsigned char>(in[i] >> 8);
        out[4 * i + 2] = static_cast<unsigned char>(in[i] >> 16);
        out[4 * i + 3] = static_cast<unsigned char>(in[i] >> 24);
    }
}

void Decode(uint32_t* out, unsigned char const* in, size_t words)
{
    for (size_t i = 0; i < words; ++i)
        out[i] = uint32_t(in[4 * i]) | (uint32_t(in[4 * i + 1]) << 8) | (uint32_t(in[4 * i + 2]) << 16) |
                 (uint32_t(in[4 * i + 3]) << 24);
}

} // namespace

void MDFIVE_Transform(uint32_t state[4], unsigned char const block[64])
{
    uint32_t x[16];
    Decode(x, block, 16);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        int const round = i / 16;
        uint32_t f;
        int g;
        switch (round) {
        case 0:
            f = (b & c) | (~b & d);
            g = i;
            break;
        case 1:
            f = (b & d) | (c & ~d);
            g = (5 * i + 1) % 16;
            break;
        case 2:
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
            break;
        default:
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
            break;
        }
        uint32_t const next = b + Rotl(a + f + kSine[i] + x[g], kShift[round][i % 4]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    memset(x, 0, sizeof x);
}

void MDFIVE_Init(MDFIVE_CTX* context)
{
    context->count[0] = context->count[1] = 0;
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
    memset(context->buffer, 0, sizeof context->buffer);
}

void MDFIVE_Update(MDFIVE_CTX* context, unsigned char const* data, unsigned int length)
{
    if (!data || length == 0)
        return;
    unsigned int index = (context->count[0] >> 3) & 0x3F;
    uint32_t const bits = length << 3;
    if ((context->count[0] += bits) < bits)
        ++context->count[1];
    context->count[1] += length >> 29;

    unsigned int const partlen = 64 - index;
    unsigned int i = 0;
    if (length >= partlen) {
        memcpy(&context->buffer[index], data, partlen);
        MDFIVE_Transform(context->state, context->buffer);
        for (i = partlen; i + 63 < length; i += 64)
            MDFIVE_Transform(context->state, &data[i]);
        index = 0;
    }
    memcpy(&context->buffer[index], &data[i], length - i);
}

void MDFIVE_Final(unsigned char digest[16], MDFIVE_CTX* context)
{
    static unsigned char const padding[64] = {0x80};
    unsigned char bits[8];
    Encode(bits, context->count, 2);
    unsigned int const index = (context->count[0] >> 3) & 0x3F;
    unsigned int const padlen = index < 56 ? 56 - index : 120 - index;
    MDFIVE_Update(context, padding, padlen);
    MDFIVE_Update(context, bits, 8);
    Encode(digest, context->state, 4);
    memset(context, 0, sizeof *context);
}

namespace {

void Digest(unsigned char out[16], char const* data, size_t length)
{
    MDFIVE_CTX context;
    MDFIVE_Init(&context);
    auto const* p = reinterpret_cast<unsigned char const*>(data);
    // MDFIVE_Update takes 32-bit lengths; feed longer data in pieces.
    while (length > 0) {
        unsigned int const n = length > 0x40000000 ? 0x40000000u : static_cast<unsigned int>(length);
        MDFIVE_Update(&context, p, n);
        p += n;
        length -= n;
    }
    MDFIVE_Final(out, &context);
}

size_t LengthOf(char const* text, int32_t length)
{
    if (!text)
        return 0;
    return length < 0 ? strlen(text) : static_cast<size_t>(length);
}

BINARY AsBinary(unsigned char const digest[16])
{
    return BINARY(reinterpret_cast<char const*>(digest), 16);
}

} // namespace

MDFIVE::MDFIVE(char const* text, int32_t length)
{
    if (!text) {
        Make(0);
        return;
    }
    unsigned char digest[16];
    Digest(digest, text, LengthOf(text, length));
    Make(16, reinterpret_cast<char const*>(digest));
}

BINARY MDFIVE::GetMD5(char const* data, int32_t length)
{
    unsigned char digest[16];
    Digest(digest, data, LengthOf(data, length));
    return AsBinary(digest);
}

BINARY MDFIVE::GetKeyedMD5(char const* key, int32_t keyLength, char const* text, int32_t textLength)
{
    size_t keylen = LengthOf(key, keyLength);
    size_t const textlen = LengthOf(text, textLength);
    unsigned char keydigest[16];
    if (keylen > 64) {
        Digest(keydigest, key, keylen);
        key = reinterpret_cast<char const*>(keydigest);
        keylen = 16;
    }
    unsigned char ipad[64] = {};
    unsigned char opad[64] = {};
    if (keylen) {
        memcpy(ipad, key, keylen);
        memcpy(opad, key, keylen);
    }
    for (int i = 0; i < 64; ++i) {
        ipad[i] ^= 0x36;
        opad[i] ^= 0x5C;
    }
    unsigned char inner[16];
    MDFIVE_CTX context;
    MDFIVE_Init(&context);
    MDFIVE_Update(&context, ipad, 64);
    auto const* p = reinterpret_cast<unsigned char const*>(text);
    for (size_t left = textlen; left > 0;) {
        unsigned int const n = left > 0x40000000 ? 0x40000000u : static_cast<unsigned int>(left);
        MDFIVE_Update(&context, p, n);
        p += n;
        left -= n;
    }
    MDFIVE_Final(inner, &context);

    unsigned char outer[16];
    MDFIVE_Init(&context);
    MDFIVE_Update(&context, opad, 64);
    MDFIVE_Update(&context, inner, 16);
    MDFIVE_Final(outer, &context);
    memset(ipad, 0, sizeof ipad);
    memset(opad, 0, sizeof opad);
    return AsBinary(outer);
}

BINARY MDFIVE::GetKeyedMD5(BINARY const& key, BINARY const& text)
{
    return GetKeyedMD5(key.Buffer ? key.Buffer : "", key.Buffer ? key.StrLen : 0, text.Buffer ? text.Buffer : "",
                       text.Buffer ? text.StrLen : 0);
}
