// Small helpers of the screen: cells as 64-bit words, the assertion with a
// fixed report text, and the colour and link helpers the screen applies
// to its cells.
#pragma once

#include "plugins/sdk/vioapi.h"
#include "velmot/gui/wintypes.h"
#include "velmot/core/logit.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <string_view>

// Reports a failed condition with the given text as the expression.
#define VIOASSERT(cond, text) ((cond) ? 1 : AssertMsg(0, (text), __FILE__, __LINE__))

namespace vioutils {

// A cell as one little-endian word: the character in bits 0-15, the
// attribute in 16-31, the extra bits in 32-39, fore in 40-51, back in
// 52-63.
inline uint64_t Bits(VIOCELL c) { return std::bit_cast<uint64_t>(c); }
inline VIOCELL Cell(uint64_t v) { return std::bit_cast<VIOCELL>(v); }
inline uint64_t Load(void const* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline void Store(void* p, uint64_t v) { std::memcpy(p, &v, 8); }
// Stores the same cell n times from p, two cells at a time.
inline void Fill(VIOCELL* p, int n, uint64_t v)
{
    __m128i const two = _mm_set1_epi64x(static_cast<long long>(v));
    int i = 0;
    for (; i + 2 <= n; i += 2)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), two);
    if (i < n)
        Store(p + i, v);
}

constexpr uint64_t kCharMask = 0xFFFF;
constexpr int kAttribShift = 16;

inline VIOCELL MakeCell(uint16_t c, uint16_t attrib, int fore, int back, uint8_t extattr = 0)
{
    VIOCELL cell{};
    cell.c = c;
    cell.attrib = attrib;
    cell.extattr = extattr;
    cell.fore = uint32_t(fore) & 0xFFF;
    cell.back = uint32_t(back) & 0xFFF;
    return cell;
}

// Grows a box (empty while right <= left) to take in a rectangle.
inline void Include(RECT& box, RECT const& r)
{
    if (r.right <= r.left || r.bottom <= r.top)
        return;
    if (box.right <= box.left || box.bottom <= box.top) {
        box = r;
        return;
    }
    box.left = r.left < box.left ? r.left : box.left;
    box.top = r.top < box.top ? r.top : box.top;
    box.right = r.right > box.right ? r.right : box.right;
    box.bottom = r.bottom > box.bottom ? r.bottom : box.bottom;
}

// Whether the cell is the left half of a double-width character, or its
// right half.
inline bool IsWideLeft(VIOCELL c) { return (c.attrib & VIOATTR_DOUBLEWIDTH) && c.c != VIOCHAR_RIGHTHALF; }
inline bool IsWideRight(VIOCELL c) { return (c.attrib & VIOATTR_DOUBLEWIDTH) && c.c == VIOCHAR_RIGHTHALF; }

// A colour number as a cell holds it: 0..4095; numbers outside that range
// become 4095, which maps to black like every number outside the colour
// ranges.
inline int CellColour(int n) { return unsigned(n) > 0xFFF ? 0xFFF : n; }

// The half-tone blend of dim text: the colour moved toward a tint chosen by
// its brightness, by 10 or 18 % (half as much without `full`).
uint32_t Halftone(uint32_t colour, bool full);

// Whether a word looks like a link: letters only before the first ":"
// (possibly none), then "//", and a "." somewhere after it.
bool IsUrlString(std::u32string_view word);

// The characters a link word is made of besides letters and digits.
bool IsLinkChar(uint32_t c);

// Parses the text of an xterm colour-setting command after its "4;":
// "index;rgb:RR/GG/BB" (1 to 4 hex digits per part), "index;rgb:#RRGGBB" or
// "#RGB", "index;rgbi:r/g/b" (fractions). False when the form is not one of
// these; the index is not checked.
bool ParseXtermColor(char const* text, int* index, uint32_t* rgb);

} // namespace vioutils
