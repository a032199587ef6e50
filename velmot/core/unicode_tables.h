// Data tables behind UNICODE, generated from python3's codecs and Unicode
// database by scripts/gen_unicode_tables.py (see there for the choices).
#pragma once

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
