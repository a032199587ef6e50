// The 94-character sets a G-set of the VT emulation can hold (ISO 2022
// designations as the VT100 to VT420 know them) and the VT52's graphics:
// which designation names a set, and what each set makes of the characters
// 0x21 to 0x7E.
//
// The national replacement sets replace a few ASCII characters with
// letters of a language; a VT220 and up use them only while national
// replacement (DECNRCM) is on, so their designations are refused while it
// is off. The United Kingdom set is a VT100 set and always taken. Positions
// that a DEC set leaves empty show U+2E2E, a reversed question mark.
#pragma once

#include <cstdint>

namespace vt {

enum CHARSET : uint8_t {
    CS_ASCII,
    CS_DECGRAPHICS,     // DEC Special Graphics (line drawing), "0"
    CS_UK,              // "A"
    CS_DUTCH,           // "4"
    CS_FINNISH,         // "C" or "5"
    CS_FRENCH,          // "R" or "f"
    CS_FRENCHCANADIAN,  // "Q" or "9"
    CS_GERMAN,          // "K"
    CS_ITALIAN,         // "Y"
    CS_NORWEGIAN,       // "E", "6" or "`" (Norwegian/Danish)
    CS_PORTUGUESE,      // "%6"
    CS_SPANISH,         // "Z"
    CS_SWEDISH,         // "H" or "7"
    CS_SWISS,           // "="
    CS_DECSUPPLEMENTAL, // "<", and "%5" (DEC Supplemental Graphics)
    CS_DECTECHNICAL,    // ">"
    CS_LATIN1,          // "A" as a 96-character set (ESC - A): Latin-1's upper half
    CS_COUNT,
    CS_REFUSED,         // a set xterm knows but does not hold: designating it gives ASCII
};

// The 94-character set a designation names: its final character, with
// the intermediate that some finals need ('%', else 0); CS_REFUSED for the
// sets xterm knows but does not hold (it designates ASCII for them),
// CS_COUNT for a designation that names no set.
CHARSET CharsetByDesignation(char inter, char final);

// The 96-character set a designation (ESC - F, ESC . F, ESC / F) names;
// CS_COUNT when the terminal holds no such set.
CHARSET Charset96ByDesignation(char final);

// Whether the set is one of the national replacement sets that need
// DECNRCM (every national set but the United Kingdom's).
bool IsNationalSet(CHARSET set);

// The designation that names the set (for the cursor information report):
// the final character, after the intermediate where it has one; NUL-ended.
void CharsetDesignation(CHARSET set, char out[3]);

// The character c (0x20 to 0x7F) shows in the set.
uint32_t MapCharset(CHARSET set, uint32_t c);

// The character c (0x20 to 0x7F) shows in the VT52's graphics mode.
uint32_t MapVt52Graphics(uint32_t c);

} // namespace vt
