// Helpers shared by the sources of BINARY and STRING (strings.cpp,
// stringtext.cpp) and the byte encodings. Not part of the library's
// interface.
#pragma once

#include "velmot/core/strings.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <ctype.h>
#include <vector>

namespace strdetail {

// The largest StrLen a BINARY may hold: its block, terminator included, must
// still fit the signed 32-bit BufLen.
constexpr int64_t kMaxLength = INT32_MAX - 8;

// strlen, limited to what a length field can hold.
int32_t TextLen(char const* text);

// The null policy, and then "" where the policy passes the null on: no null
// ever reaches a C string call.
char const* SafeText(char const* text, char const* where);

// Whether `p` points into the block of `b`.
bool Overlaps(BINARY const& b, void const* p);

// Writes the terminator (one byte, or four with wide content) at StrLen.
void WriteTerminator(BINARY& b);

// The value of one hexadecimal digit, -1 for any other byte.
inline int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reports a failed allocation (the "buffer" assertion).
void ReportBuffer(char const* file, int line);

// Copies `len` bytes from `start` of `src` into `dst` (Substr rules).
void CopyRange(BINARY const& src, BINARY& dst, int32_t start, int32_t len);

// The private zero byte that out-of-range index operators hand out, and the
// report that goes with it.
char& ZeroByte();
char& BadIndex(BINARY const& b, int32_t i, char const* expression, int line);

// A set of byte values (delimiters, trim and stop characters).
class BYTESET {
public:
    explicit BYTESET(char const* chars)
    {
        for (auto const* p = reinterpret_cast<unsigned char const*>(chars); *p; ++p)
            Bits[*p >> 6] |= uint64_t(1) << (*p & 63);
    }
    bool Has(char c) const
    {
        auto const u = static_cast<unsigned char>(c);
        return (Bits[u >> 6] >> (u & 63)) & 1;
    }

private:
    uint64_t Bits[4] = {};
};

// The locale's case tables (glibc keeps them per thread and indexable by any
// unsigned char value); looking them up once per call keeps the inner loops
// free of function calls.
inline int32_t const* UpperTable() { return *__ctype_toupper_loc(); }
inline int32_t const* LowerTable() { return *__ctype_tolower_loc(); }

// Position of the first `needle` at or after `from` in the zero-terminated
// text `hay` of `haylen` bytes, or -1.
//
// The needle's first byte is looked for with strchr (which stops at the end
// of the text as well) and each candidate compared in place; this is what
// makes the common search fast. A text that offers too many false candidates
// for the ground covered is handed to strstr, whose time stays linear.
inline int32_t FindText(char const* hay, int32_t haylen, int32_t from, char const* needle)
{
    if (!hay || from >= haylen)
        return -1;
    size_t const len = strlen(needle);
    if (len == 0)
        return from;
    char const* const end = hay + haylen;
    char const* p = hay + from;
    size_t compared = 0;
    while ((p = strchr(p, needle[0])) != nullptr) {
        if (static_cast<size_t>(end - p) < len)
            return -1;
        if (memcmp(p, needle, len) == 0)
            return static_cast<int32_t>(p - hay);
        compared += len;
        if (compared > 4 * static_cast<size_t>(p - hay - from) + 4096) {
            char const* hit = strstr(p + 1, needle);
            return hit ? static_cast<int32_t>(hit - hay) : -1;
        }
        ++p;
    }
    return -1;
}

// End of the text in `b` that starts at `from`: the first zero byte at or
// after `from`, or StrLen. The searches treat the content as a
// zero-terminated text, as strstr does.
inline int32_t TextEnd(BINARY const& b, int32_t from)
{
    if (!b.Buffer || from >= b.StrLen)
        return b.Buffer ? b.StrLen : 0;
    void const* zero = memchr(b.Buffer + from, 0, static_cast<size_t>(b.StrLen - from));
    return zero ? static_cast<int32_t>(static_cast<char const*>(zero) - b.Buffer) : b.StrLen;
}

// The same without regard to case: both sides are upper-cased byte by byte.
class NOCASEFINDER {
public:
    explicit NOCASEFINDER(char const* needle) : Up(UpperTable()), Len(strlen(needle))
    {
        Needle.resize(Len);
        for (size_t i = 0; i < Len; ++i)
            Needle[i] = static_cast<unsigned char>(Up[static_cast<unsigned char>(needle[i])]);
    }
    size_t Length() const { return Len; }

    // Searches `hay` from `from` up to `end` (see TextEnd).
    int32_t Find(char const* hay, int32_t end, int32_t from) const
    {
        if (!hay || from >= end)
            return -1;
        if (Len == 0)
            return from;
        if (Len > size_t(end - from))
            return -1;
        auto const* h = reinterpret_cast<unsigned char const*>(hay);
        unsigned char const first = Needle[0];
        size_t const last = size_t(end) - Len;
        for (size_t i = static_cast<size_t>(from); i <= last; ++i) {
            if (static_cast<unsigned char>(Up[h[i]]) != first)
                continue;
            size_t k = 1;
            while (k < Len && static_cast<unsigned char>(Up[h[i + k]]) == Needle[k])
                ++k;
            if (k == Len)
                return static_cast<int32_t>(i);
        }
        return -1;
    }

private:
    int32_t const* Up;
    size_t Len;
    std::vector<unsigned char> Needle;
};

} // namespace strdetail
