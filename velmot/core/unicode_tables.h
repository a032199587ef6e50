// Data tables behind UNICODE, generated from python3's codecs and Unicode
// database by scripts/gen_unicode_tables.py (see there for the choices).
#pragma once

#include "velmot/core/vtypes.h"

#include <cstdint>

constexpr int kUnicodePageCount = 10;

// Marks a byte that its page leaves undefined.
constexpr uint16_t kUnicodeUndefined = 0xFFFF;

struct UNICODE_RANGE {
    uint32_t First;
    uint32_t Last;
};

extern uint16_t const kUnicodePageTables[kUnicodePageCount][256];
extern UNICODE_RANGE const kUnicodeWideRanges[];
extern int const kUnicodeWideRangeCount;

// Cell widths: a block number per 256 code points, and the blocks (two
// bits per code point, four to a byte).
VELMOT_EXPORT extern uint8_t const kUnicodeWidthIndex[0x110000 >> 8];
VELMOT_EXPORT extern uint8_t const kUnicodeWidthBlocks[][64];

// The cells a character takes on a terminal screen, as the C library's
// wcwidth counts them: 0 for combining marks and other zero-width
// characters, 2 for wide ones, else 1 (also for values that are not
// characters).
inline int UnicodeCellWidth(uint32_t c)
{
    if (c < 0x300)
        return 1;
    if (c > 0x10FFFF)
        return 1;
    uint8_t const b = kUnicodeWidthBlocks[kUnicodeWidthIndex[c >> 8]][(c & 0xFF) >> 2];
    return (b >> ((c & 3) * 2)) & 3;
}
