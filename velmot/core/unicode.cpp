#include "velmot/core/unicode.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "velmot/core/unicode_tables.h"
#include "velmot/core/wstring.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

// The DOS 437 / Windows 1252 translation pair. Where 1252 has no equivalent
// the tables give a look-alike: box drawing becomes '+', '-' or the broken
// bar, Greek letters their Latin shapes.
unsigned char const STRING::DosToAnsi[256] = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0xA4,
    0x10, 0x11, 0x12, 0x13, 0xB6, 0xA7, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
    0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
    0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F,
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xA2, 0xA3, 0xA5, 0x50, 0x83,
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA, 0xBA, 0xBF, 0xAC, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB,
    0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0x2B, 0x2B, 0xA6, 0xA6, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B,
    0x2B, 0x2D, 0x2D, 0x2B, 0x2D, 0x2B, 0xA6, 0xA6, 0x2B, 0x2B, 0x2D, 0x2D, 0xA6, 0x2D, 0x2B, 0x2D,
    0x2D, 0x2D, 0x2D, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0xA6, 0x5F, 0xA6, 0xA6, 0xAF,
    0x61, 0xDF, 0x47, 0x70, 0x53, 0x73, 0xB5, 0x74, 0x46, 0x54, 0x4F, 0x64, 0x38, 0x66, 0x65, 0x6E,
    0x3D, 0xB1, 0x3D, 0x3D, 0x28, 0x29, 0xF7, 0x98, 0xB0, 0xB7, 0xB7, 0x76, 0x6E, 0xB2, 0xA6, 0xA0,
};

unsigned char const STRING::AnsiToDos[256] = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
    0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
    0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F,
    0x5F, 0x5F, 0x2C, 0x9F, 0x2C, 0x2E, 0x2B, 0xD8, 0x5E, 0x25, 0x53, 0x3C, 0x4F, 0x5F, 0x5A, 0x5F,
    0x5F, 0x60, 0x27, 0x22, 0x22, 0x07, 0x2D, 0x2D, 0x7E, 0x54, 0x73, 0x3E, 0x6F, 0x5F, 0x7A, 0x59,
    0xFF, 0xAD, 0x9B, 0x9C, 0x0F, 0x9D, 0xDD, 0x15, 0x22, 0x63, 0xA6, 0xAE, 0xAA, 0x2D, 0x72, 0x5F,
    0xF8, 0xF1, 0xFD, 0x33, 0x27, 0xE6, 0x14, 0xFA, 0x2C, 0x31, 0xA7, 0xAF, 0xAC, 0xAB, 0x5F, 0xA8,
    0x41, 0x41, 0x41, 0x41, 0x8E, 0x8F, 0x92, 0x80, 0x45, 0x90, 0x45, 0x45, 0x49, 0x49, 0x49, 0x49,
    0x44, 0xA5, 0x4F, 0x4F, 0x4F, 0x4F, 0x99, 0x78, 0x4F, 0x55, 0x55, 0x55, 0x9A, 0x59, 0x5F, 0xE1,
    0x85, 0xA0, 0x83, 0x61, 0x84, 0x86, 0x91, 0x87, 0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,
    0x64, 0xA4, 0x95, 0xA2, 0x93, 0x6F, 0x94, 0xF6, 0x6F, 0x97, 0xA3, 0x96, 0x81, 0x79, 0x5F, 0x98,
};

namespace {

// Assertion reports name this source as "unicode".
constexpr char const* kSourceName = "unicode";

std::atomic<UNICODE*> pInstance{nullptr};
std::mutex gInstanceLock;

struct PAGEINFO {
    char const* Name;
    int32_t Id;
    char const* ShortName;
    int32_t Charset;
    int32_t Encoding;
};

// The built-in pages in their fixed order: the first page that has a code
// point wins the reverse index, so every ASCII and Latin-1 character points
// into the 1252 page.
constexpr PAGEINFO kPageInfo[UNICODE_PAGES] = {
    {"Latin I", 1252, "8859-1", 0, 0x0201},
    {"DOS/OEM", 437, "0", 255, 0x0400},
    {"Latin Central Europe", 1250, "8859-2", 238, 0x0202},
    {"Latin Cyrillic", 1251, "8859-5", 204, 0x0205},
    {"Latin Greek", 1253, "8859-7", 161, 0x0207},
    {"DOS Greek", 737, "0", 255, 0x0405},
    {"DOS Russian", 866, "0", 255, 0x041B},
    {"DOS Central European (Slavic)", 852, "0", 255, 0x0412},
    {"MAC Roman", 999, "0", 0, 0},
    {"KOI8R", 878, "0", 255, 0x0A02},
};

struct LINEGRAPHIC {
    uint16_t CodePoint;
    char Substitute;
};

constexpr LINEGRAPHIC kLineGraphics[] = {
    {0x2500, '-'}, {0x2502, '|'}, {0x2550, '='}, {0x2551, '"'}, {0x250C, '+'}, {0x2514, '+'}, {0x2510, '+'},
    {0x2518, '+'}, {0x253C, '+'}, {0x252C, '+'}, {0x251C, '+'}, {0x2524, '+'}, {0x2534, '+'}, {0x2554, '+'},
    {0x255A, '+'}, {0x2557, '+'}, {0x255D, '+'}, {0x2566, '+'}, {0x2560, '+'}, {0x2563, '+'}, {0x2569, '+'},
};

constexpr uint32_t LineGraphicsBound(bool largest)
{
    uint32_t v = kLineGraphics[0].CodePoint;
    for (auto const& g : kLineGraphics)
        v = largest ? std::max<uint32_t>(v, g.CodePoint) : std::min<uint32_t>(v, g.CodePoint);
    return v;
}
constexpr uint32_t kLineGraphicsMin = LineGraphicsBound(false);
constexpr uint32_t kLineGraphicsMax = LineGraphicsBound(true);

bool IsDosPage(UNICODE_CODEPAGE cp)
{
    return cp == 437 || cp == 852 || cp == 866 || cp == 737;
}

bool IsAnsiPage(UNICODE_CODEPAGE cp)
{
    return cp == 1252 || cp == 850;
}

void ReportPage(UNICODE_CODEPAGE cp, int line)
{
    char info[48];
    snprintf(info, sizeof info, "codepage :%d", cp);
    AssertMsg(0, "idx!=-1", kSourceName, line, info);
}

void ReportUtf8(int line)
{
    AssertMsg(0, "cp!=UNICODE_CPUTF8", kSourceName, line);
}

} // namespace

// ---------------------------------------------------------------------------
// The instance

UNICODE* UNICODE::GetInstance()
{
    UNICODE* p = pInstance.load(std::memory_order_acquire);
    if (p)
        return p;
    // The first call normally comes from the main thread at start-up; the
    // lock only makes a racing first call from another thread harmless.
    std::lock_guard<std::mutex> lock(gInstanceLock);
    p = pInstance.load(std::memory_order_relaxed);
    if (!p) {
        p = new UNICODE("UNICODE");
        pInstance.store(p, std::memory_order_release);
        TARVOAPP::SetCleanupFunction(TARVOAPP::CLEANUP_UNICODE, &UNICODE::ReleaseInstance);
    }
    return p;
}

void UNICODE::ReleaseInstance()
{
    std::lock_guard<std::mutex> lock(gInstanceLock);
    delete pInstance.exchange(nullptr, std::memory_order_acq_rel);
}

UNICODE::UNICODE(char const*)
{
    LOGIT("UNICODE::UNICODE\n");
    LOGIT("UNICODE::UNICODE init tables\n");
    InitTables();

    // The reverse index covers code points up to the largest one of all
    // pages, but at most U+25FF (which takes in all box drawing); the few
    // characters beyond are found by their page's list of high items.
    uint32_t largest = 0;
    for (auto const& item : Items) {
        if (item.CodePage != 0)
            largest = std::max<uint32_t>(largest, item.CodePoint);
    }
    ReverseSize = static_cast<int32_t>(std::min<uint32_t>(largest + 1, UNICODE_REVERSEMAX));
    Reverse = new uint32_t[static_cast<size_t>(ReverseSize)]();
    for (uint32_t i = 0; i < ARRAYMAX(Items); ++i) {
        auto const& item = Items[i];
        // U+0000 keeps item 0 (byte 0 of the 1252 page); for every other
        // code point an entry of 0 means "none yet".
        if (item.CodePage == 0 || item.CodePoint == 0 || item.CodePoint >= static_cast<uint32_t>(ReverseSize))
            continue;
        if (Reverse[item.CodePoint] == 0)
            Reverse[item.CodePoint] = i;
    }
    // Code points 1 to 254 that no page has write as the 1252 byte of the
    // same number, so C1 controls and the like survive a round trip.
    for (int32_t c = 1; c < 255 && c < ReverseSize; ++c) {
        if (Reverse[c] == 0)
            Reverse[c] = static_cast<uint32_t>(c);
    }
    BuildPageIndex();
    LOGIT("UNICODE::UNICODE init done\n");
    LOGIT("UNICODE::UNICODE done\n");
}

UNICODE::~UNICODE()
{
    LOGIT("UNICODE::~UNICODE\n");
    delete[] Reverse;
    Reverse = nullptr;
    delete[] BlockPool;
    BlockPool = nullptr;
    LOGIT("UNICODE::~UNICODE done\n");
}

void UNICODE::InitTables()
{
    memset(Pages, 0, sizeof Pages);
    memset(Items, 0, sizeof Items);
    for (int page = 0; page < UNICODE_PAGES; ++page) {
        auto const& info = kPageInfo[page];
        auto& desc = Pages[page];
        snprintf(desc.Name, sizeof desc.Name, "%s", info.Name);
        desc.Id = info.Id;
        snprintf(desc.ShortName, sizeof desc.ShortName, "%s", info.ShortName);
        desc.Charset = info.Charset;
        desc.Encoding = info.Encoding;
        for (int b = 0; b < 256; ++b) {
            uint16_t cp = kUnicodePageTables[page][b];
            auto& item = Items[page * 256 + b];
            item.Byte = static_cast<uint16_t>(b);
            if (cp == kUnicodeUndefined) {
                item.CodePage = 0;
                item.CodePoint = 127;
            } else {
                item.CodePage = static_cast<uint16_t>(info.Id);
                item.CodePoint = cp;
            }
            Forward[page][b] = static_cast<wchar_t>(item.CodePoint);
        }
    }
    PageCount = UNICODE_PAGES;
}

void UNICODE::BuildPageIndex()
{
    // Which byte stands for each code point, per page, lowest byte first.
    std::vector<std::array<uint8_t, UNICODE_REVERSEMAX>> scratch(UNICODE_PAGES);
    for (auto& row : scratch)
        row.fill(0);
    memset(HighCount, 0, sizeof HighCount);
    for (int page = 0; page < UNICODE_PAGES; ++page) {
        for (int b = 255; b >= 1; --b) {
            auto const& item = Items[page * 256 + b];
            if (item.CodePage == 0 || item.CodePoint == 0)
                continue;
            if (item.CodePoint < ReverseSize)
                scratch[page][item.CodePoint] = static_cast<uint8_t>(b);
        }
        for (int b = 1; b < 256; ++b) {
            auto const& item = Items[page * 256 + b];
            if (item.CodePage == 0 || item.CodePoint < ReverseSize)
                continue;
            bool seen = false;
            for (int k = 0; k < HighCount[page]; ++k)
                seen = seen || High[page][k].CodePoint == item.CodePoint;
            if (!seen && ASSERTMSG(HighCount[page] < static_cast<int>(ARRAYMAX(High[page])), "high items")) {
                High[page][HighCount[page]++] = {item.CodePoint, static_cast<uint8_t>(b)};
            }
        }
    }
    // The reverse index sends code points that no page has to page 0.
    for (int32_t c = 1; c < ReverseSize; ++c) {
        uint32_t item = Reverse[c];
        if (item / 256 == 0 && scratch[0][c] == 0 && item != 0)
            scratch[0][c] = static_cast<uint8_t>(item % 256);
    }

    // Pack the per-page rows into shared 256-entry blocks.
    int nblocks = 1;
    for (int page = 0; page < UNICODE_PAGES; ++page) {
        for (int blk = 0; blk < kBlocks; ++blk) {
            uint8_t const* row = scratch[page].data() + blk * 256;
            if (blk * 256 < ReverseSize && std::any_of(row, row + 256, [](uint8_t v) { return v != 0; }))
                ++nblocks;
        }
    }
    ASSERTMSG(nblocks <= 256, "reverse blocks");
    nblocks = std::min(nblocks, 256);
    BlockPool = new uint8_t[static_cast<size_t>(nblocks)][256]();
    int next = 1;
    for (int page = 0; page < UNICODE_PAGES; ++page) {
        for (int blk = 0; blk < kBlocks; ++blk) {
            uint8_t const* row = scratch[page].data() + blk * 256;
            BlockOf[page][blk] = 0;
            if (blk * 256 >= ReverseSize || next >= nblocks ||
                !std::any_of(row, row + 256, [](uint8_t v) { return v != 0; }))
                continue;
            memcpy(BlockPool[next], row, 256);
            BlockOf[page][blk] = static_cast<uint8_t>(next++);
        }
    }
}

// ---------------------------------------------------------------------------
// Pages

int UNICODE::FindCodepage(UNICODE_CODEPAGE cp) const
{
    if (cp == 850)
        cp = 1252;
    for (int i = 0; i < PageCount; ++i) {
        if (Pages[i].Id == cp)
            return i;
    }
    return -1;
}

int UNICODE::ReadPage(UNICODE_CODEPAGE cp, bool report) const
{
    switch (cp) {
    case UNICODE_CPUTF8:
        if (report)
            ReportUtf8(__LINE__);
        return -1;
    case UNICODE_CPSYSTEM:
    case 1252:
    case 850:
    case 1000:
        return 0;
    case 437:
        return 1;
    default:
        break;
    }
    int idx = FindCodepage(cp);
    if (idx < 0 && report)
        ReportPage(cp, __LINE__);
    return idx;
}

int UNICODE::PageByte(int page, uint32_t c) const
{
    if (c == 0)
        return 0;
    if (c < static_cast<uint32_t>(ReverseSize)) {
        uint8_t b = BlockPool[BlockOf[page][c >> 8]][c & 0xFF];
        return b ? b : -1;
    }
    for (int k = 0; k < HighCount[page]; ++k) {
        if (High[page][k].CodePoint == c)
            return High[page][k].Byte;
    }
    return -1;
}

wchar_t UNICODE::FromCodepage(char byte, UNICODE_CODEPAGE cp) const
{
    auto b = static_cast<unsigned char>(byte);
    if (cp == UNICODE_CPUTF8) {
        ReportUtf8(__LINE__);
        return L'@';
    }
    if (cp == UNICODE_CPFLAT)
        return b;
    // Control bytes mean the same in every page.
    if (b < 0x20)
        return Forward[0][b];
    int page = ReadPage(cp, true);
    return page < 0 ? L'@' : Forward[page][b];
}

void UNICODE::BytesToChars(char const* bytes, int32_t n, wchar_t* out, UNICODE_CODEPAGE cp) const
{
    auto const* p = reinterpret_cast<unsigned char const*>(bytes);
    if (cp == UNICODE_CPFLAT) {
        for (int32_t i = 0; i < n; ++i)
            out[i] = p[i];
        return;
    }
    int page = ReadPage(cp, true);
    if (page < 0) {
        // Reported once for the run; control bytes still read as themselves.
        for (int32_t i = 0; i < n; ++i)
            out[i] = p[i] < 0x20 && cp != UNICODE_CPUTF8 ? Forward[0][p[i]] : L'@';
        return;
    }
    // Every page agrees with 1252 below 0x20 (checked when the tables are
    // generated), so one table serves the whole run.
    wchar_t const* row = Forward[page];
    for (int32_t i = 0; i < n; ++i)
        out[i] = row[p[i]];
}

WSTRING UNICODE::StringFromCodepage(char const* text, int32_t length, UNICODE_CODEPAGE cp) const
{
    WSTRING result;
    text = BINARY::NULLCHECK(text, "UNICODE::StringFromCodepage");
    if (!text)
        return result;
    if (length < 0)
        length = static_cast<int32_t>(strlen(text));
    if (cp == UNICODE_CPUTF8) {
        // A caller's mistake, but the only sensible reading of the bytes.
        ReportUtf8(__LINE__);
        result.FromUtf8(text, length);
        return result;
    }
    wchar_t* out = result.PrepareAppend(length);
    BytesToChars(text, length, out, cp);
    result.CommitAppend(out + length);
    return result;
}

char UNICODE::FallbackByte(wchar_t c, UNICODE_CODEPAGE to) const
{
    char sub;
    if (SimpleLineGraphics(c, &sub))
        return sub;
    auto u = static_cast<uint32_t>(c);
    if (u <= 0x20)
        return static_cast<char>(u);
    if (u > 0xFF)
        return '?';
    // The ISO 8859-1 byte is right for the Latin pages and for pages the
    // system does not know. A built-in page that reads that byte as some
    // other character would turn the text into a different one (an a-umlaut
    // sent to a KOI8-R host arriving as a Cyrillic letter), so there the
    // character is lost as '?'.
    if (to != UNICODE_CPSYSTEM && to != UNICODE_CPUTF8 && to != UNICODE_CPFLAT && to != 0 && to != 1000) {
        int page = FindCodepage(to);
        if (page > 0 && static_cast<uint32_t>(Forward[page][u]) != u)
            return '?';
    }
    return static_cast<char>(u);
}

char UNICODE::ToForcedCodepageChar(wchar_t c, UNICODE_CODEPAGE cp) const
{
    switch (cp) {
    case UNICODE_CPUTF8:
        ReportUtf8(__LINE__);
        return FallbackByte(c, cp);
    case UNICODE_CPFLAT:
        return static_cast<char>(c & 0xFF);
    case UNICODE_CPSYSTEM:
        return FallbackByte(c, cp);
    default:
        break;
    }
    int page = FindCodepage(cp);
    if (page >= 0) {
        int b = PageByte(page, static_cast<uint32_t>(c));
        if (b >= 0)
            return static_cast<char>(b);
    }
    return FallbackByte(c, cp);
}

void UNICODE::CharsToBytes(wchar_t const* chars, int32_t n, char* out, UNICODE_CODEPAGE cp) const
{
    int page = -1;
    switch (cp) {
    case UNICODE_CPUTF8:
        ReportUtf8(__LINE__);
        break;
    case UNICODE_CPFLAT:
        for (int32_t i = 0; i < n; ++i)
            out[i] = static_cast<char>(chars[i] & 0xFF);
        return;
    case UNICODE_CPSYSTEM:
        break;
    default:
        page = FindCodepage(cp);
        break;
    }
    if (page < 0) {
        for (int32_t i = 0; i < n; ++i)
            out[i] = FallbackByte(chars[i], cp);
        return;
    }
    for (int32_t i = 0; i < n; ++i) {
        auto c = static_cast<uint32_t>(chars[i]);
        int b;
        if (c < static_cast<uint32_t>(ReverseSize)) {
            b = BlockPool[BlockOf[page][c >> 8]][c & 0xFF];
            if (b == 0 && c != 0)
                b = -1;
        } else {
            b = PageByte(page, c);
        }
        out[i] = b >= 0 ? static_cast<char>(b) : FallbackByte(chars[i], cp);
    }
}

int UNICODE::ToCharAndCodepage(wchar_t c, char& byte, int& cp) const
{
    auto u = static_cast<uint32_t>(c);
    int item = -1;
    if (u < static_cast<uint32_t>(ReverseSize)) {
        if (Reverse[u] != 0 || u == 0)
            item = static_cast<int>(Reverse[u]);
    } else {
        for (int page = 0; page < PageCount && item < 0; ++page) {
            int b = PageByte(page, u);
            if (b >= 0)
                item = page * 256 + b;
        }
    }
    if (item >= 0) {
        byte = static_cast<char>(item % 256);
        cp = Pages[item / 256].Id;
        return cp;
    }
    byte = ConvertCharToCodepage(c, 0, 1252);
    cp = 1252;
    return static_cast<unsigned char>(byte);
}

char UNICODE::ConvertCharToCodepage(wchar_t c, UNICODE_CODEPAGE from, UNICODE_CODEPAGE to) const
{
    if (from == UNICODE_CPFLAT)
        AssertMsg(0, "frompage!=UNICODE_CPFLAT", kSourceName, __LINE__);
    auto u = static_cast<uint32_t>(c);
    if (from != UNICODE_CPSYSTEM && u <= 0xFF) {
        if (IsDosPage(from) && IsAnsiPage(to)) {
            if (from == 437)
                return static_cast<char>(STRING::DosToAnsi[u]);
            // The 437 table would misread Greek, Cyrillic and Central
            // European DOS text; these pages go through their own tables.
            wchar_t w = FromCodepage(static_cast<char>(u), from);
            int b = PageByte(0, static_cast<uint32_t>(w));
            return b >= 0 ? static_cast<char>(b) : FallbackByte(w, 1252);
        }
        if (IsAnsiPage(from) && IsDosPage(to)) {
            if (to == 437)
                return static_cast<char>(STRING::AnsiToDos[u]);
            wchar_t w = Forward[0][u];
            int b = PageByte(FindCodepage(to), static_cast<uint32_t>(w));
            return b >= 0 ? static_cast<char>(b) : FallbackByte(w, to);
        }
    }
    if (from != 0 && from != 1000 && from != UNICODE_CPSYSTEM)
        return static_cast<char>(u & 0xFF);
    return FallbackByte(c, to);
}

bool UNICODE::SimpleLineGraphics(wchar_t c, char* out) const
{
    auto u = static_cast<uint32_t>(c);
    if (u < kLineGraphicsMin || u > kLineGraphicsMax)
        return false;
    for (auto const& g : kLineGraphics) {
        if (g.CodePoint == u) {
            if (out)
                *out = g.Substitute;
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// UTF-8

int UNICODE::Utf8Encode(wchar_t c, char* out)
{
    auto u = static_cast<uint32_t>(c);
    if (u < 0x80) {
        out[0] = static_cast<char>(u);
        return 1;
    }
    if (u < 0x800) {
        out[0] = static_cast<char>(0xC0 | (u >> 6));
        out[1] = static_cast<char>(0x80 | (u & 0x3F));
        return 2;
    }
    // A surrogate half has no UTF-8 form of its own, and nothing lies
    // beyond U+10FFFF; both would make text that strict readers refuse.
    if ((u >= 0xD800 && u <= 0xDFFF) || u > 0x10FFFF)
        u = UNICODE_REPLACEMENT;
    if (u < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (u >> 12));
        out[1] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (u & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (u >> 18));
    out[1] = static_cast<char>(0x80 | ((u >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (u & 0x3F));
    return 4;
}

BINARY UNICODE::Utf8Encoder(wchar_t c) const
{
    char buf[4];
    int n = Utf8Encode(c, buf);
    BINARY result(BINARY_DEFAULTBLOCK);
    result.Make(n, buf);
    return result;
}

namespace {

// The value of a finished sequence of `len` bytes, or U+FFFD when that
// sequence is an overlong form (C0 80 would smuggle a NUL past filters), a
// surrogate half or beyond U+10FFFF.
// One byte with no sequence open: a lead byte opens one (returns false),
// any other byte is a character of the same number (ASCII, and the Latin-1
// reading of stray bytes that hosts still send in UTF-8 sessions).
inline bool Utf8Start(unsigned char b, UNICODE_UTF8STATE& st, wchar_t*& o)
{
    int more;
    uint32_t bits;
    if (b >= 0xC0 && b <= 0xDF) {
        more = 1;
        bits = b & 0x1Fu;
    } else if (b >= 0xE0 && b <= 0xEF) {
        more = 2;
        bits = b & 0x0Fu;
    } else if (b >= 0xF0 && b <= 0xF7) {
        more = 3;
        bits = b & 0x07u;
    } else {
        *o++ = b;
        return true;
    }
    st.Value = bits;
    st.Bytes[0] = b;
    st.CharCount = 1;
    st.Remaining = more;
    return false;
}

inline void Utf8Flush(UNICODE_UTF8STATE& st, wchar_t*& o)
{
    for (int k = 0; k < st.CharCount && k < 4; ++k)
        *o++ = st.Bytes[k];
    st = UNICODE_UTF8STATE{};
}

} // namespace

int32_t UNICODE::Utf8Decoder(char const* bytes, size_t length, WSTRING& out, UNICODE_UTF8STATE* state) const
{
    // The state is worked on in a local copy, so that the compiler need not
    // reload it after every character stored.
    UNICODE_UTF8STATE st = state ? *state : UNICODE_UTF8STATE{};
    // A state that no decoder could have left is started afresh.
    if (st.Remaining < 0 || st.Remaining > 3 || st.CharCount < 0 || st.CharCount > 3 ||
        (st.Remaining > 0 && (st.CharCount < 1 || st.CharCount + st.Remaining > 4)) ||
        (st.Remaining == 0 && st.CharCount != 0))
        st = UNICODE_UTF8STATE{};
    bytes = BINARY::NULLCHECK(bytes, "UNICODE::Utf8Decoder");
    if (!bytes) {
        if (state)
            *state = st;
        return 0;
    }
    if (length == static_cast<size_t>(-1))
        length = strlen(bytes);

    int32_t const before = out.Length();
    auto const* p = reinterpret_cast<unsigned char const*>(bytes);
    // Decode in slices so the room reserved in `out` stays bounded.
    constexpr size_t kSlice = 1 << 16;
    while (length > 0) {
        size_t n = std::min(length, kSlice);
        if (static_cast<int64_t>(out.StrLen) + static_cast<int64_t>(n + 4) * 4 > INT32_MAX - 64) {
            AssertMsg(0, "length", kSourceName, __LINE__, "UNICODE::Utf8Decoder text too long");
            break;
        }
        wchar_t* const start = out.PrepareAppend(static_cast<int32_t>(n + 4));
        wchar_t* o = start;
        size_t i = 0;
        while (i < n) {
            if (st.Remaining == 0) {
                unsigned char b = p[i];
                if (b < 0x80) {
                    // ASCII runs go eight bytes at a time.
                    *o++ = b;
                    ++i;
                    while (i + 8 <= n) {
                        uint64_t word;
                        memcpy(&word, p + i, 8);
                        if (word & 0x8080808080808080ull)
                            break;
                        for (int k = 0; k < 8; ++k)
                            o[k] = p[i + k];
                        o += 8;
                        i += 8;
                    }
                    continue;
                }
                // Whole, well-formed sequences take the quick road; with room
                // for the longest form no bounds checks are needed.
                if (i + 3 < n) {
                    unsigned c1 = p[i + 1];
                    if (b < 0xE0) {
                        if (b >= 0xC2 && (c1 & 0xC0) == 0x80) {
                            *o++ = static_cast<wchar_t>(((b & 0x1Fu) << 6) | (c1 & 0x3Fu));
                            i += 2;
                            continue;
                        }
                    } else if (b < 0xF0) {
                        unsigned c2 = p[i + 2];
                        if (((c1 & 0xC0) == 0x80) && ((c2 & 0xC0) == 0x80)) {
                            uint32_t v = ((b & 0x0Fu) << 12) | ((c1 & 0x3Fu) << 6) | (c2 & 0x3Fu);
                            *o++ = UNICODE::Utf8Finish(v, 3);
                            i += 3;
                            continue;
                        }
                    } else if (b < 0xF8) {
                        unsigned c2 = p[i + 2];
                        unsigned c3 = p[i + 3];
                        if (((c1 & 0xC0) == 0x80) && ((c2 & 0xC0) == 0x80) && ((c3 & 0xC0) == 0x80)) {
                            uint32_t v = ((b & 0x07u) << 18) | ((c1 & 0x3Fu) << 12) | ((c2 & 0x3Fu) << 6) | (c3 & 0x3Fu);
                            *o++ = UNICODE::Utf8Finish(v, 4);
                            i += 4;
                            continue;
                        }
                    }
                }
                Utf8Start(b, st, o);
                ++i;
                continue;
            }
            unsigned char b = p[i];
            if ((b & 0xC0) == 0x80) {
                st.Value = (st.Value << 6) | (b & 0x3Fu);
                st.Bytes[st.CharCount++] = b;
                if (--st.Remaining == 0) {
                    *o++ = UNICODE::Utf8Finish(st.Value, st.CharCount);
                    st = UNICODE_UTF8STATE{};
                }
                ++i;
                continue;
            }
            // A sequence broken off: its bytes stand for themselves, and the
            // byte that broke it is read afresh (it may open a sequence).
            Utf8Flush(st, o);
        }
        out.CommitAppend(o);
        p += n;
        length -= n;
    }
    if (state) {
        *state = st;
    } else if (st.Remaining > 0) {
        // Complete text that ends inside a sequence: keep its bytes.
        wchar_t* o = out.PrepareAppend(4);
        Utf8Flush(st, o);
        out.CommitAppend(o);
    }
    return out.Length() - before;
}

// ---------------------------------------------------------------------------
// Character classes

bool UNICODE::IsRightToLeft_Full(wchar_t c) const
{
    auto u = static_cast<uint32_t>(c);
    // Hebrew to Arabic Extended-A, the Hebrew and Arabic presentation forms,
    // and the right-to-left blocks beyond the BMP (which arrive whole now
    // that four-byte UTF-8 is decoded).
    return (u >= 0x0590 && u <= 0x08FF) || (u >= 0xFB1D && u <= 0xFB4F) || (u >= 0xFB50 && u <= 0xFDFF) ||
           (u >= 0xFE70 && u <= 0xFEFF) || (u >= 0x10800 && u <= 0x10FFF) || (u >= 0x1E800 && u <= 0x1EFFF);
}

bool UNICODE::IsDoubleWidthCJK_Full(wchar_t c) const
{
    auto u = static_cast<uint32_t>(c);
    if (u < kUnicodeWideRanges[0].First)
        return false;
    auto const* end = kUnicodeWideRanges + kUnicodeWideRangeCount;
    auto const* it = std::upper_bound(kUnicodeWideRanges, end, u,
                                      [](uint32_t v, UNICODE_RANGE const& r) { return v < r.First; });
    return it != kUnicodeWideRanges && u <= (it - 1)->Last;
}
