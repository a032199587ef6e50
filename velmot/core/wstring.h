// Wide strings and the bridge to platform strings.
//
// WSTRING holds text as Unicode code points, one 32-bit wchar_t each, in a
// BINARY with the wide flag: StrLen counts bytes (four per character) and
// the terminator is one zero character. Characters outside the Basic
// Multilingual Plane are single characters here; they become surrogate pairs
// only when text leaves as UTF-16, and pairs arriving as UTF-16 are joined
// again. A surrogate half without its partner is kept as its own value, so
// that a pair appended one unit at a time still joins.
//
// CFSTRING owns one platform string (plat::Text) and is the road by which
// text reaches the platform layer.
#pragma once

#include "platform/services/text.h"
#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

class VELMOT_EXPORT WSTRING : public BINARY {
public:
    WSTRING() { Flags = STRINGFLAG_WIDE; }
    WSTRING(wchar_t const* text, int32_t len = -1);
    WSTRING(wchar_t const* text, STRING_BLOCKSIZE bs);
    WSTRING(char const* text, int32_t len, UNICODE_CODEPAGE cp);
    WSTRING(char const* text, UNICODE_CODEPAGE cp);
    WSTRING(STRING const& text);
    WSTRING(plat::Text const& text);
    WSTRING(WSTRING const& other);
    WSTRING(WSTRING&& other) noexcept;
    virtual ~WSTRING();

    WSTRING& operator=(WSTRING const& other);
    WSTRING& operator=(WSTRING&& other) noexcept;
    WSTRING& operator=(wchar_t const* text);
    WSTRING& operator=(STRING const& text);
    WSTRING& operator=(char const* text); // code page 1252
    WSTRING& operator=(plat::Text const& text);

    // Conversions into this string (they replace the content).
    void FromChars(char const* text, int32_t len, UNICODE_CODEPAGE cp);
    void FromUtf8(char const* text, int32_t len = -1);
    // The platform string's UTF-16 units, pairs joined; a null text makes
    // the string unset.
    void FromCFStringRef(plat::Text const& text);

    // The text; never null (an unset string reads as L"").
    wchar_t const* Buf() const { return Buffer ? reinterpret_cast<wchar_t const*>(Buffer) : L""; }
    operator wchar_t const*() const { return Buf(); }
    // Length in characters (StrLen counts bytes).
    int32_t Length() const { return StrLen / 4; }

    // Editing.
    void Append(wchar_t const* text, int32_t len = -1);
    void Append(WSTRING const& other);
    void Append(wchar_t c);
    void Append(unsigned short unit);
    void Append(unsigned short const* units, int32_t len);
    void Append(char const* text, int32_t len, UNICODE_CODEPAGE cp);
    void Insert(wchar_t const* text, int32_t pos);
    int Format(wchar_t const* format, ...);
    int FormatAppend(wchar_t const* format, ...);
    void Replace(wchar_t const* from, wchar_t const* to);
    void Cut(int32_t newlength);
    void CutLeft(int32_t howmany);
    void CutRight(int32_t howmany);
    void Trim(char how = 'B', wchar_t const* chars = L" \t");
    void ToUpper();
    void ToLower();

    // Searching (exact case); -1 / false when not found.
    int32_t Pos(wchar_t c, int32_t from = 0) const;
    int32_t Pos(wchar_t const* text, int32_t from = 0) const;
    bool Find(wchar_t c, int32_t* pos = nullptr, int32_t from = 0) const;
    bool Find(wchar_t const* text, int32_t* pos = nullptr, int32_t from = 0) const;
    static int WSTRCMP(wchar_t const* a, wchar_t const* b, bool nullok = false);

    // Slicing and tokens, in characters (flags as for STRING::Token).
    WSTRING Substr(int32_t start, int32_t len = -1) const;
    WSTRING Left(int32_t n) const;
    WSTRING Right(int32_t n) const;
    WSTRING Token(int index, wchar_t const* delimiters, unsigned flags = 0) const;
    int NumTokens(wchar_t const* delimiters) const;

    wchar_t& operator[](int32_t i);
    wchar_t const& operator[](int32_t i) const;

    // The text as UTF-16: at most max units (a character outside the BMP
    // takes two and is never split), plus a zero unit when there is room.
    // Returns the units written.
    int32_t ToUniChars(unsigned short* units, int32_t max) const;

    // The text read as a number (wcstol base 10 / wcstod).
    explicit operator int() const;
    explicit operator double() const;

    // UTF-8 of the characters, code page 1252 (see encodings.cpp).
    STRING AsUtf8() const;

private:
    friend class UNICODE;
    // Room for `count` more characters behind the content; returns where
    // they go. CommitAppend then fixes the length to `used` of them.
    wchar_t* PrepareAppend(int32_t count);
    void CommitAppend(wchar_t* end);
    wchar_t* Chars() { return reinterpret_cast<wchar_t*>(Buffer); }
    wchar_t const* Chars() const { return reinterpret_cast<wchar_t const*>(Buffer); }
    int FormatInto(bool append, wchar_t const* format, va_list args);
};

// The owner of one platform string, through which text reaches the
// platform layer. Byte text is read and written in Encoding: ISO Latin-1
// (0x0201, with the bytes 0x80 to 0x9F that Windows 1252 defines read as
// 1252 reads them, since byte text here is 1252 unless it says otherwise),
// UTF-8 (0x08000100), or the platform encoding number of a built-in code
// page (UNICODE_PAGEDESCRIPTOR::Encoding).
class VELMOT_EXPORT CFSTRING {
public:
    static constexpr uint32_t ENCODING_LATIN1 = 0x0201;
    static constexpr uint32_t ENCODING_UTF8 = 0x08000100;

    plat::Text Ref;                     // the platform string, or null
    uint32_t Encoding = ENCODING_LATIN1; // of byte text
    bool Owned = false;                 // Ref was made by this object
    char* CBuffer = nullptr;            // byte view made by CString() (malloc)

    CFSTRING() = default;
    ~CFSTRING() { Release(); }
    CFSTRING(CFSTRING const&) = delete;
    CFSTRING& operator=(CFSTRING const&) = delete;

    // Each releases the old string and makes a new one; byte text that is
    // not valid in Encoding gives a null Ref (logged).
    CFSTRING& operator=(char const* text);
    CFSTRING& operator=(STRING const& text);
    CFSTRING& operator=(wchar_t const* text);

    // The platform string of byte text (code page 1252, as Latin-1 above)
    // or wide text; null is the empty text.
    static plat::Text TextOf(char const* text);
    static plat::Text TextOf(wchar_t const* text);

    // The string as byte text in Encoding with a terminator, in at most
    // size bytes; false when it does not fit or a character has no byte.
    bool ToBuffer(char* buf, int32_t size) const;
    // The same as a view owned by this object (valid until the next
    // assignment or Release); null when it cannot be converted.
    char const* CString();

    void Release();

private:
    void MakeFromBytes(char const* text, size_t len);
    bool Bytes(std::string& out) const;
};
