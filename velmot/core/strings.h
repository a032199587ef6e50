// Byte buffers and byte strings.
//
// BINARY is the library's growable byte buffer; STRING is a BINARY that also
// knows the code page of its bytes. Every deliverable passes text as STRING,
// so the storage rules here (block sizes, the shared cache of 96-byte blocks,
// the treatment of null pointers) are shared behaviour across the system.
//
// A buffer that was never allocated is "unset" (Buffer == nullptr); that is
// different from an empty string with a buffer. When a buffer exists it is
// always terminated (one zero byte, or a zero 32-bit word for wide content).
#pragma once

#include "velmot/core/vtypes.h"

#include <cstdarg>

// Code-page number of a byte text (see unicode.h for the tables).
using UNICODE_CODEPAGE = int32_t;
constexpr UNICODE_CODEPAGE UNICODE_CPSYSTEM = -2; // the system's page
constexpr UNICODE_CODEPAGE UNICODE_CPFLAT = -3;   // byte == code point
constexpr UNICODE_CODEPAGE UNICODE_CPUTF8 = -4;   // UTF-8 byte stream
constexpr UNICODE_CODEPAGE UNICODE_CPDEFAULT = 1252;

// Allocation granule given to a constructor; a distinct type so that it is
// never confused with a code page.
enum STRING_BLOCKSIZE : int32_t {};

constexpr uint32_t STRINGFLAG_BINARY = 0x01;
constexpr uint32_t STRINGFLAG_DYNABLOCK = 0x02;
constexpr uint32_t STRINGFLAG_WIDE = 0x10;

constexpr int32_t BINARY_DEFAULTBLOCK = 96;

class STRING;
class WSTRING;
namespace plat {
class Text;
class Number;
} // namespace plat

class VELMOT_EXPORT BINARY {
public:
    char* Buffer = nullptr;
    int32_t StrLen = 0;
    int32_t BufLen = 0;
    int32_t BlockSize = 0;
    uint32_t Flags = 0;

    BINARY() = default;
    explicit BINARY(int32_t blocksize, uint32_t flags = 0) : BlockSize(blocksize), Flags(flags) {}
    BINARY(char const* data, int32_t len);
    BINARY(BINARY const& other);
    BINARY(BINARY&& other) noexcept;
    ~BINARY() { Kill(); }

    BINARY& operator=(BINARY const& other);
    BINARY& operator=(BINARY&& other) noexcept;

    // Storage.
    bool Make(int32_t len, char const* src = nullptr);
    static char* New(int32_t size);
    static void Delete(char* block, int32_t size);
    void Kill();
    static void FlushCache();
    static int CachedBlocks(); // blocks waiting in the cache (diagnostics and tests)
    void Swap(BINARY& other);

    // Editing.
    void Append(char const* p, int32_t len);
    void Append(BINARY const& other);
    void Cut(int32_t newlength);
    void CutRight(int32_t howmany);
    void CutLeft(int32_t howmany);
    void ShiftLeft(int32_t howmany, int32_t pos);
    void ShiftRight(int32_t howmany, int32_t pos, char fill = ' ');

    // Reading.
    BINARY Substr(int32_t start, int32_t len = -1) const;
    BINARY Left(int32_t n) const;
    BINARY Right(int32_t n) const;
    int LeftChar(int32_t i) const;
    int RightChar(int32_t i) const;
    int32_t Pos(char c) const;
    char& operator[](int32_t i);
    char const& operator[](int32_t i) const;
    uint32_t Crc() const;

    int32_t Length() const { return StrLen; }
    bool IsEmpty() const { return StrLen == 0; }
    bool NotEmpty() const { return StrLen != 0; }
    bool IsSet() const { return Buffer != nullptr; }

    // Whole files. True only when the file was read or written completely.
    bool Load(char const* path, char const* mode = "rb");
    bool Save(char const* path, char const* mode = "wb") const;

    // The content read as a number (atoi, strtoul and atof rules).
    explicit operator int() const;
    explicit operator signed char() const;
    explicit operator unsigned long() const;
    explicit operator double() const;

    // Helpers on plain texts. Nulls go through the null policy (NULLCHECK).
    static int STRICMP(char const* a, char const* b, bool nullok = false);
    static int MEMCMP(char const* a, char const* b, int32_t n);
    static char const* NULLCHECK(char const* p, char const* where);
    static wchar_t const* NULLCHECK(wchar_t const* p, char const* where);

    // Text forms of the bytes (encodings.cpp). Each returns a new object and
    // leaves this one unchanged; malformed input is skipped or kept as it
    // stands and reported to the log, never to the user.
    STRING AsHex() const;
    BINARY UnHex() const;
    STRING AsMime(int linebreaks) const;
    STRING UnMime() const;
    STRING UnMimeQuotedPrintable() const;
    STRING Quoted(char const* escapechars = nullptr) const;
    BINARY UnQuoted(bool lenient) const;
    // A reversible scrambler that hides stored option values from casual
    // reading; it is no encryption.
    STRING AsShuffle(char const* password = nullptr) const;
    BINARY UnShuffle(char const* password = nullptr) const;

protected:
    // Terminator size for the current flags.
    int32_t TermSize() const { return (Flags & STRINGFLAG_WIDE) ? 4 : 1; }
};

VELMOT_EXPORT BINARY operator||(BINARY const& a, BINARY const& b);

class VELMOT_EXPORT STRING : public BINARY {
public:
    UNICODE_CODEPAGE CodePage = UNICODE_CPDEFAULT;

    STRING() = default;
    STRING(char const* text, UNICODE_CODEPAGE cp = UNICODE_CPDEFAULT);
    STRING(char const* text, STRING_BLOCKSIZE bs, UNICODE_CODEPAGE cp = UNICODE_CPDEFAULT);
    explicit STRING(int value);
    explicit STRING(signed char value);
    explicit STRING(unsigned int value);
    explicit STRING(long value);
    explicit STRING(unsigned long value);
    explicit STRING(long long value);
    explicit STRING(unsigned long long value);
    STRING(double value, int decimals);
    STRING(STRING const& other) = default;
    STRING(STRING&& other) noexcept = default;
    explicit STRING(BINARY const& bytes);

    STRING& operator=(STRING const& other);
    STRING& operator=(STRING&& other) noexcept;
    STRING& operator=(char const* text);

    // The text; never null (an unset string reads as "").
    char const* Buf() const { return Buffer ? Buffer : ""; }
    operator char const*() const { return Buf(); }

    // Editing.
    void Append(char const* text, int32_t len = -1);
    void Append(BINARY const& other) { BINARY::Append(other); }
    // One byte: written in place while the block has room (the same test as
    // BINARY::Append), so a text built byte by byte costs no call per byte.
    void Append(char c)
    {
        // Fields read once and the length stored last: the byte stores may
        // alias any object, and re-reading the fields after them would put a
        // store-to-load round trip on every byte. BufLen is 0 without a buffer.
        int32_t const len = StrLen;
        if (len < BufLen - 9 && !(Flags & STRINGFLAG_WIDE)) {
            char* const buf = Buffer;
            buf[len] = c;
            buf[len + 1] = 0;
            StrLen = len + 1;
        } else {
            BINARY::Append(&c, 1);
        }
    }
    void Insert(char const* text, int32_t pos);
    static STRING Repeat(char const* text, int count);
    int Format(char const* format, ...) VELMOT_PRINTF(2, 3);
    int FormatAppend(char const* format, ...) VELMOT_PRINTF(2, 3);
    int FormatV(char const* format, va_list args);
    int FormatAppendV(char const* format, va_list args);
    void Replace(char const* from, char const* to, bool casesensitive = true);
    void Trim(char how = 'B', char const* chars = " \t");
    bool Chop(char c);
    bool ChopLeft(char c);
    void RemoveChars(char const* chars);
    void ToUpper();
    void ToLower();
    void SetDefault(STRING const& value);

    // Searching.
    int32_t Pos(char const* text, int32_t from = 0) const;
    int32_t iPos(char const* text, int32_t from = 0) const;
    bool Find(char const* text, int32_t* pos = nullptr, int32_t from = 0) const;
    bool iFind(char const* text, int32_t* pos = nullptr, int32_t from = 0) const;
    bool Find(char c, int32_t* pos = nullptr) const;

    // Slicing; results carry code page 1252.
    STRING Left(int32_t n) const;
    STRING Right(int32_t n) const;
    STRING Substr(int32_t start, int32_t len = -1) const;
    STRING Substr(int32_t start, char const* stopchars) const;

    // Tokens. Token flags: low byte non-zero = the rest from this token on;
    // TOKEN_EMPTYNOTUNSET = a missing token is an empty string, not unset.
    static constexpr unsigned TOKEN_REST = 0x01;
    static constexpr unsigned TOKEN_EMPTYNOTUNSET = 0x10000;
    STRING Token(int index, char const* delimiters, unsigned flags = 0) const;
    int NumTokens(char const* delimiters) const;
    int FindToken(char const* text, char const* delimiters) const;
    void InsertToken(int index, char const* delimiter, char const* text);
    void ReplaceToken(int index, char const* delimiter, char const* text);
    void DeleteToken(int index, char const* delimiter);

    // Index operators allow the terminator (i == length).
    char& operator[](int32_t i);
    char const& operator[](int32_t i) const;

    int32_t CopyToBuf(char* buf, int32_t size) const;
    bool ToBuffer(char* buf, int32_t size) const;

    // Conversion tables between DOS code page 437 and Windows 1252.
    static unsigned char const DosToAnsi[256];
    static unsigned char const AnsiToDos[256];

    // Wide text to bytes of code page cp (wstring.cpp): each character
    // becomes UNICODE::ToForcedCodepageChar's byte; with UNICODE_CPUTF8 the
    // characters are encoded as UTF-8.
    STRING(wchar_t const* text, UNICODE_CODEPAGE cp);
    STRING(wchar_t const* text, int32_t len, UNICODE_CODEPAGE cp);
    STRING(WSTRING const& text, UNICODE_CODEPAGE cp);
    void FromWideChar(wchar_t const* text, int32_t len, UNICODE_CODEPAGE cp);

    // Platform text and numbers (wstring_platform.cpp). A null text makes
    // the string unset; characters become their 1252 bytes, and what 1252
    // cannot hold becomes '?' (or a line-drawing substitute). A number is
    // its signed 32-bit decimal text.
    STRING(plat::Text const& text);
    STRING& operator=(plat::Text const& text);
    explicit STRING(plat::Number const& number);

    // UTF-8 (encodings.cpp): the bytes read as ISO 8859-1 written as UTF-8,
    // and UTF-8 read back to one 1252 byte per character.
    STRING UtfEncode() const;
    STRING UtfDecode() const;
};

VELMOT_EXPORT STRING operator||(STRING const& a, STRING const& b);
VELMOT_EXPORT STRING operator||(STRING const& a, char const* b);
VELMOT_EXPORT STRING operator||(char const* a, STRING const& b);

VELMOT_EXPORT bool operator==(STRING const& a, STRING const& b);
VELMOT_EXPORT bool operator==(STRING const& a, char const* b);
inline bool operator!=(STRING const& a, STRING const& b) { return !(a == b); }
inline bool operator!=(STRING const& a, char const* b) { return !(a == b); }

// Case-insensitive and case-changing helpers on plain texts.
extern "C" {
VELMOT_EXPORT int stricmp(char const* a, char const* b);
VELMOT_EXPORT int strnicmp(char const* a, char const* b, size_t n);
VELMOT_EXPORT int wcsicmp(wchar_t const* a, wchar_t const* b);
VELMOT_EXPORT int wcsnicmp(wchar_t const* a, wchar_t const* b, size_t n);
VELMOT_EXPORT char* strupr(char* s);
VELMOT_EXPORT char* strlwr(char* s);
VELMOT_EXPORT wchar_t* wcsupr(wchar_t* s);
VELMOT_EXPORT wchar_t* wcslwr(wchar_t* s);
}
