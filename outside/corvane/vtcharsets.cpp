#include "outside/corvane/vtcharsets.h"

#include <cstring>

namespace vt {

namespace {

constexpr uint16_t kReserved = 0x2E2E;

// DEC Special Graphics for 0x5F to 0x7E: blank, diamond, checker board,
// the control pictures HT FF CR LF, degree, plus-minus, NL, VT, the box
// corners and lines, scan lines 1, 3, 7 and 9, tees, less/greater or
// equal, pi, not equal, pound, centred dot.
constexpr uint16_t kDecGraphics[32] = {
    0x0020, 0x25C6, 0x2592, 0x2409, 0x240C, 0x240D, 0x240A, 0x00B0, 0x00B1, 0x2424, 0x240B,
    0x2518, 0x2510, 0x250C, 0x2514, 0x253C, 0x23BA, 0x23BB, 0x2500, 0x23BC, 0x23BD, 0x251C,
    0x2524, 0x2534, 0x252C, 0x2502, 0x2264, 0x2265, 0x03C0, 0x2260, 0x00A3, 0x00B7,
};

// DEC Technical for 0x21 to 0x7E: the parts of large brackets, integral
// and radical signs, relations, Greek letters, logic and arrows.
constexpr uint16_t kDecTechnical[94] = {
    0x23B7, 0x250C, 0x2500, 0x2320, 0x2321, 0x2502, 0x23A1, 0x23A3, 0x23A4, 0x23A6, 0x23A7, 0x23A9,
    0x23AB, 0x23AD, 0x23A8, 0x23AC, kReserved, kReserved, kReserved, kReserved, kReserved, kReserved,
    kReserved, kReserved, kReserved, kReserved, kReserved, 0x2264, 0x2260, 0x2265, 0x222B, 0x2234,
    0x221D, 0x221E, 0x00F7, 0x0394, 0x2207, 0x03A6, 0x0393, 0x223C, 0x2243, 0x0398, 0x00D7, 0x039B,
    0x21D4, 0x21D2, 0x2261, 0x03A0, 0x03A8, kReserved, 0x03A3, kReserved, kReserved, 0x221A, 0x03A9,
    0x039E, 0x03A5, 0x2282, 0x2283, 0x2229, 0x222A, 0x2227, 0x2228, 0x00AC, 0x03B1, 0x03B2, 0x03C7,
    0x03B4, 0x03B5, 0x03C6, 0x03B3, 0x03B7, 0x03B9, 0x03B8, 0x03BA, 0x03BB, kReserved, 0x03BD,
    0x2202, 0x03C0, 0x03C8, 0x03C1, 0x03C3, 0x03C4, kReserved, 0x0192, 0x03C9, 0x03BE, 0x03C5,
    0x03B6, 0x2190, 0x2191, 0x2192, 0x2193,
};

// The VT52's graphics for 0x5F to 0x7E: blanks, a solid rectangle, the
// fraction numerator 1 (3, 5 and 7 have no character and stay blank),
// degree, plus-minus, arrows, ellipsis, divide, the scan lines (two
// codes each), subscript digits and the paragraph sign.
constexpr uint16_t kVt52Graphics[32] = {
    0x0020, 0x0020, 0x25AE, 0x215F, 0x0020, 0x0020, 0x0020, 0x00B0, 0x00B1, 0x2192, 0x2026,
    0x00F7, 0x2193, 0x23BA, 0x23BA, 0x23BB, 0x23BB, 0x23BC, 0x23BC, 0x23BD, 0x23BD, 0x2080,
    0x2081, 0x2082, 0x2083, 0x2084, 0x2085, 0x2086, 0x2087, 0x2088, 0x2089, 0x00B6,
};

// The positions a national set may replace.
constexpr char kNationalPositions[] = "#@[\\]^_`{|}~";

// A national set: what it puts at each of those positions (0: the ASCII
// character stays).
struct NATIONAL {
    CHARSET Set;
    uint16_t At[12];
};

constexpr NATIONAL kNational[] = {
    {CS_UK, {0xA3}},
    {CS_DUTCH, {0xA3, 0xBE, 0x133, 0xBD, 0x7C, 0, 0, 0, 0xA8, 0x192, 0xBC, 0xB4}},
    {CS_FINNISH, {0, 0, 0xC4, 0xD6, 0xC5, 0xDC, 0, 0xE9, 0xE4, 0xF6, 0xE5, 0xFC}},
    {CS_FRENCH, {0xA3, 0xE0, 0xB0, 0xE7, 0xA7, 0, 0, 0, 0xE9, 0xF9, 0xE8, 0xA8}},
    {CS_FRENCHCANADIAN, {0, 0xE0, 0xE2, 0xE7, 0xEA, 0xEE, 0, 0xF4, 0xE9, 0xF9, 0xE8, 0xFB}},
    {CS_GERMAN, {0, 0xA7, 0xC4, 0xD6, 0xDC, 0, 0, 0, 0xE4, 0xF6, 0xFC, 0xDF}},
    {CS_ITALIAN, {0xA3, 0xA7, 0xB0, 0xE7, 0xE9, 0, 0, 0xF9, 0xE0, 0xF2, 0xE8, 0xEC}},
    {CS_NORWEGIAN, {0, 0xC4, 0xC6, 0xD8, 0xC5, 0xDC, 0, 0xE4, 0xE6, 0xF8, 0xE5, 0xFC}},
    {CS_PORTUGUESE, {0, 0, 0xC3, 0xC7, 0xD5, 0, 0, 0, 0xE3, 0xE7, 0xF5, 0}},
    {CS_SPANISH, {0xA3, 0xA7, 0xA1, 0xD1, 0xBF, 0, 0, 0, 0xB0, 0xF1, 0xE7, 0}},
    {CS_SWEDISH, {0, 0xC9, 0xC4, 0xD6, 0xC5, 0xDC, 0, 0xE9, 0xE4, 0xF6, 0xE5, 0xFC}},
    {CS_SWISS, {0xF9, 0xE0, 0xE9, 0xE7, 0xEA, 0xEE, 0xE8, 0xF4, 0xE4, 0xF6, 0xFC, 0xFB}},
};

// The designations, by final character (and intermediate).
struct DESIGNATION {
    char Inter;
    char Final;
    CHARSET Set;
};

constexpr DESIGNATION kDesignations[] = {
    {0, 'B', CS_ASCII},          {0, '0', CS_DECGRAPHICS},     {0, 'A', CS_UK},
    {0, '4', CS_DUTCH},          {0, 'C', CS_FINNISH},         {0, '5', CS_FINNISH},
    {0, 'R', CS_FRENCH},         {0, 'f', CS_FRENCH},          {0, 'Q', CS_FRENCHCANADIAN},
    {0, '9', CS_FRENCHCANADIAN}, {0, 'K', CS_GERMAN},          {0, 'Y', CS_ITALIAN},
    {0, 'E', CS_NORWEGIAN},      {0, '6', CS_NORWEGIAN},       {0, '`', CS_NORWEGIAN},
    {'%', '6', CS_PORTUGUESE},   {0, 'Z', CS_SPANISH},         {0, 'H', CS_SWEDISH},
    {0, '7', CS_SWEDISH},        {0, '=', CS_SWISS},           {0, '<', CS_DECSUPPLEMENTAL},
    {'%', '5', CS_DECSUPPLEMENTAL}, {0, '>', CS_DECTECHNICAL},
    // Sets xterm knows but does not hold at a VT420's level, which give
    // ASCII: the VT100's alternate character ROMs, and the VT500's Turkish,
    // Hebrew, DEC Turkish and SCS sets. (Its other sets, DEC Hebrew, Greek
    // and Cyrillic among them, are no designation at all.)
    {0, '1', CS_REFUSED}, {0, '2', CS_REFUSED}, {'%', '2', CS_REFUSED}, {'%', '=', CS_REFUSED},
    {'%', '0', CS_REFUSED}, {'%', '3', CS_REFUSED},
};

uint32_t DecSupplemental(uint32_t c)
{
    switch (c) {
    case 0x24: case 0x26: case 0x2C: case 0x2D: case 0x2E: case 0x2F: case 0x34: case 0x38: case 0x3E:
    case 0x50: case 0x5E: case 0x70: case 0x7E:
        return kReserved;
    case 0x28:
        return 0xA4; // currency sign
    case 0x57:
        return 0x152; // OE
    case 0x5D:
        return 0x178; // Y diaeresis
    case 0x77:
        return 0x153; // oe
    case 0x7D:
        return 0xFF; // y diaeresis
    default:
        return c + 0x80; // the rest is Latin-1's upper half
    }
}

} // namespace

CHARSET CharsetByDesignation(char inter, char final)
{
    for (DESIGNATION const& d : kDesignations)
        if (d.Inter == inter && d.Final == final)
            return d.Set;
    return CS_COUNT;
}

CHARSET Charset96ByDesignation(char final)
{
    return final == 'A' ? CS_LATIN1 : CS_COUNT;
}

bool IsNationalSet(CHARSET set)
{
    return set >= CS_DUTCH && set <= CS_SWISS;
}

void CharsetDesignation(CHARSET set, char out[3])
{
    out[0] = 'B';
    out[1] = out[2] = 0;
    for (DESIGNATION const& d : kDesignations) {
        if (d.Set == set) {
            out[0] = d.Inter ? d.Inter : d.Final;
            out[1] = d.Inter ? d.Final : 0;
            return;
        }
    }
}

uint32_t MapCharset(CHARSET set, uint32_t c)
{
    if (set == CS_LATIN1 && c >= 0x20 && c <= 0x7F)
        return c + 0x80;
    if (c <= 0x20 || c >= 0x7F)
        return c;
    switch (set) {
    case CS_ASCII:
    case CS_LATIN1:
    case CS_COUNT:
    case CS_REFUSED:
        return c;
    case CS_DECGRAPHICS:
        return c >= 0x5F ? kDecGraphics[c - 0x5F] : c;
    case CS_DECSUPPLEMENTAL:
        return DecSupplemental(c);
    case CS_DECTECHNICAL:
        return kDecTechnical[c - 0x21];
    default:
        break;
    }
    char const* at = strchr(kNationalPositions, char(c));
    if (!at)
        return c;
    for (NATIONAL const& n : kNational) {
        if (n.Set == set) {
            uint16_t const u = n.At[at - kNationalPositions];
            return u ? u : c;
        }
    }
    return c;
}

uint32_t MapVt52Graphics(uint32_t c)
{
    return c >= 0x5F && c <= 0x7E ? kVt52Graphics[c - 0x5F] : c;
}

} // namespace vt
