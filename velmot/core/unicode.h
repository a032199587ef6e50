// Code pages and UTF-8.
//
// UNICODE is the process-wide converter between the 8-bit code pages that
// hosts and files use and the Unicode code points in which screens and
// controls work. It holds ten built-in pages as tables (an item per byte),
// finds the byte of a code point through a reverse index, decodes and
// encodes UTF-8 as a stream, and answers the right-to-left and double-width
// questions of the terminal screen. Everything is read-only after
// construction, so queries may run on any thread.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

#include <cstddef>

class WSTRING;

// An unfinished UTF-8 sequence carried from one Utf8Decoder call to the
// next. A zero-filled state is the initial state.
struct UNICODE_UTF8STATE {
    uint32_t Value = 0;          // bits collected so far
    unsigned char Bytes[4] = {}; // raw bytes of the sequence so far
    int32_t CharCount = 0;       // bytes in Bytes
    int32_t Remaining = 0;       // continuation bytes still expected; 0 = none open
};

// One built-in page.
struct UNICODE_PAGEDESCRIPTOR {
    char Name[64];
    int32_t Id;
    char ShortName[16];
    int32_t Charset;  // font character set
    int32_t Encoding; // platform text-encoding number
};

// One byte of one page; CodePage 0 marks a byte the page leaves undefined.
struct UNICODE_ITEM {
    uint16_t Byte;
    uint16_t CodePage;
    uint16_t CodePoint;
};

constexpr int UNICODE_PAGES = 10;
constexpr int32_t UNICODE_REVERSEMAX = 0x2600;
constexpr wchar_t UNICODE_REPLACEMENT = 0xFFFD;

class VELMOT_EXPORT UNICODE {
public:
    static UNICODE* GetInstance();
    static void ReleaseInstance();

    // The text argument carries nothing the tables depend on.
    explicit UNICODE(char const* unused = nullptr);
    virtual ~UNICODE();
    UNICODE(UNICODE const&) = delete;
    UNICODE& operator=(UNICODE const&) = delete;

    void InitTables();

    // Index of the page with this id (850 counts as 1252), or -1.
    int FindCodepage(UNICODE_CODEPAGE cp) const;

    // Byte to code point; an undefined byte reads as 127.
    wchar_t FromCodepage(char byte, UNICODE_CODEPAGE cp) const;
    WSTRING StringFromCodepage(char const* text, int32_t length, UNICODE_CODEPAGE cp) const;

    // Code point to byte: always some byte.
    char ToForcedCodepageChar(wchar_t c, UNICODE_CODEPAGE cp) const;
    int ToCharAndCodepage(wchar_t c, char& byte, int& cp) const;
    char ConvertCharToCodepage(wchar_t c, UNICODE_CODEPAGE from, UNICODE_CODEPAGE to) const;
    bool SimpleLineGraphics(wchar_t c, char* out) const;

    // Bulk forms of FromCodepage and ToForcedCodepageChar with the page
    // looked up once: n bytes to n characters, n characters to n bytes.
    void BytesToChars(char const* bytes, int32_t n, wchar_t* out, UNICODE_CODEPAGE cp) const;
    void CharsToBytes(wchar_t const* chars, int32_t n, char* out, UNICODE_CODEPAGE cp) const;

    // UTF-8. The decoder appends to `out` and returns how many characters
    // it appended; length (size_t)-1 means up to the terminator. Without a
    // state the run is taken as complete text: a sequence cut off at its
    // end is given back as its bytes.
    BINARY Utf8Encoder(wchar_t c) const;
    int32_t Utf8Decoder(char const* bytes, size_t length, WSTRING& out, UNICODE_UTF8STATE* state) const;
    // The UTF-8 bytes of c into out (room for 4); returns their count.
    // Surrogates and values beyond U+10FFFF are written as U+FFFD.
    static int Utf8Encode(wchar_t c, char* out);

    bool IsRightToLeft_Full(wchar_t c) const;
    bool IsDoubleWidthCJK_Full(wchar_t c) const;

    // Descriptors and the reverse index (item number per code point).
    UNICODE_PAGEDESCRIPTOR Pages[UNICODE_PAGES] = {};
    int32_t PageCount = 0;
    int32_t ReverseSize = 0;
    uint32_t* Reverse = nullptr;

private:
    // Index of the page that reads bytes of cp (after the special ids), or
    // -1 with the failure reported.
    int ReadPage(UNICODE_CODEPAGE cp, bool report) const;
    // Lowest byte of page `page` that stands for c; -1 when none.
    int PageByte(int page, uint32_t c) const;
    char FallbackByte(wchar_t c, UNICODE_CODEPAGE to) const;
    void BuildPageIndex();

    UNICODE_ITEM Items[UNICODE_PAGES * 256] = {};
    // The code point of every byte (127 for an undefined one), as wide
    // characters, so that a byte run converts with one load per byte.
    wchar_t Forward[UNICODE_PAGES][256] = {};

    // Per-page reverse lookup for code points below ReverseSize: a block
    // number per 256 code points into a pool of 256-byte blocks (block 0 is
    // all "absent"); a byte of 0 means absent except for U+0000.
    static constexpr int kBlocks = UNICODE_REVERSEMAX / 256;
    uint8_t BlockOf[UNICODE_PAGES][kBlocks] = {};
    uint8_t (*BlockPool)[256] = nullptr;
    // Items whose code point lies at or beyond ReverseSize, per page.
    struct HIGHITEM {
        uint16_t CodePoint;
        uint8_t Byte;
    };
    HIGHITEM High[UNICODE_PAGES][16] = {};
    int HighCount[UNICODE_PAGES] = {};
};
