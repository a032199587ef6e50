#include "velmot/core/wstring.h"

#include "velmot/core/logit.h"
#include "velmot/core/unicode.h"

#include <algorithm>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <locale.h>
#include <memory>
#include <string>

namespace {

constexpr char const* kSourceName = "wstring";
constexpr int32_t kCharSize = static_cast<int32_t>(sizeof(wchar_t));
static_assert(sizeof(wchar_t) == 4, "WSTRING stores one code point per 32-bit wchar_t");

// Wide formatting writes into a buffer of this many characters.
constexpr int nwbufmax = 8191;

bool IsHighSurrogate(uint32_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}

bool IsLowSurrogate(uint32_t u)
{
    return u >= 0xDC00 && u <= 0xDFFF;
}

wchar_t JoinSurrogates(uint32_t high, uint32_t low)
{
    return static_cast<wchar_t>(0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00));
}

int32_t WideLength(wchar_t const* text)
{
    return static_cast<int32_t>(wcslen(text));
}

// Case mapping follows the Unicode tables of the C.UTF-8 locale, whatever
// locale the process runs in.
locale_t CaseLocale()
{
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return loc;
}

// Reports a broken precondition under the given expression text; false
// when it failed.
#define WCHECK(cond, text) ((cond) ? true : (AssertMsg(0, (text), kSourceName, __LINE__), false))

// True when p points into the block [base, base + bytes).
bool Inside(void const* p, char const* base, int32_t bytes)
{
    auto const* c = static_cast<char const*>(p);
    return base && c >= base && c < base + bytes;
}

} // namespace

// ---------------------------------------------------------------------------
// Construction

WSTRING::WSTRING(wchar_t const* text, int32_t len) : WSTRING()
{
    if (len == UNICODE_CPSYSTEM || len == UNICODE_CPFLAT)
        AssertMsg(0, "len!=UNICODE_CPSYSTEM && len!=UNICODE_CPFLAT", kSourceName, __LINE__);
    if (text)
        Append(text, len < 0 ? -1 : len);
}

WSTRING::WSTRING(wchar_t const* text, STRING_BLOCKSIZE bs) : WSTRING()
{
    BlockSize = bs;
    if (text)
        Append(text, -1);
}

WSTRING::WSTRING(char const* text, int32_t len, UNICODE_CODEPAGE cp) : WSTRING()
{
    if (text)
        FromChars(text, len, cp);
}

WSTRING::WSTRING(char const* text, UNICODE_CODEPAGE cp) : WSTRING(text, -1, cp) {}

WSTRING::WSTRING(STRING const& text) : WSTRING()
{
    if (text.IsSet())
        FromChars(text.Buf(), text.Length(), text.CodePage);
}

WSTRING::WSTRING(WSTRING const& other) : WSTRING()
{
    *this = other;
}

WSTRING::WSTRING(WSTRING&& other) noexcept : WSTRING()
{
    Swap(other);
}

WSTRING::~WSTRING() = default;

WSTRING& WSTRING::operator=(WSTRING const& other)
{
    if (this == &other)
        return *this;
    BlockSize = other.BlockSize;
    Flags = other.Flags | STRINGFLAG_WIDE;
    if (!other.Buffer) {
        Kill();
        return *this;
    }
    Make(other.StrLen, other.Buffer);
    return *this;
}

WSTRING& WSTRING::operator=(WSTRING&& other) noexcept
{
    if (this != &other) {
        Swap(other);
        Flags = other.Flags | STRINGFLAG_WIDE;
    }
    return *this;
}

WSTRING& WSTRING::operator=(wchar_t const* text)
{
    if (text && Buffer && text == Chars())
        return *this;
    if (Inside(text, Buffer, BufLen)) {
        WSTRING copy(text);
        return *this = std::move(copy);
    }
    if (!text) {
        Kill();
        return *this;
    }
    Flags |= STRINGFLAG_WIDE;
    Make(WideLength(text) * kCharSize, reinterpret_cast<char const*>(text));
    return *this;
}

WSTRING& WSTRING::operator=(STRING const& text)
{
    if (!text.IsSet()) {
        Kill();
        return *this;
    }
    FromChars(text.Buf(), text.Length(), text.CodePage);
    return *this;
}

WSTRING& WSTRING::operator=(char const* text)
{
    if (!text) {
        Kill();
        return *this;
    }
    FromChars(text, -1, UNICODE_CPDEFAULT);
    return *this;
}

void WSTRING::FromChars(char const* text, int32_t len, UNICODE_CODEPAGE cp)
{
    text = NULLCHECK(text, "WSTRING::FromChars");
    if (!text)
        return;
    if (Inside(text, Buffer, BufLen)) {
        std::string copy(text, len < 0 ? strlen(text) : static_cast<size_t>(len));
        FromChars(copy.data(), static_cast<int32_t>(copy.size()), cp);
        return;
    }
    Cut(0);
    Append(text, len, cp);
}

void WSTRING::FromUtf8(char const* text, int32_t len)
{
    text = NULLCHECK(text, "WSTRING::FromUtf8");
    if (!text)
        return;
    if (Inside(text, Buffer, BufLen)) {
        std::string copy(text, len < 0 ? strlen(text) : static_cast<size_t>(len));
        FromUtf8(copy.data(), static_cast<int32_t>(copy.size()));
        return;
    }
    Cut(0);
    PrepareAppend(0);
    UNICODE::GetInstance()->Utf8Decoder(text, len < 0 ? static_cast<size_t>(-1) : static_cast<size_t>(len), *this,
                                        nullptr);
}

// ---------------------------------------------------------------------------
// Room for appending

wchar_t* WSTRING::PrepareAppend(int32_t count)
{
    Flags |= STRINGFLAG_WIDE;
    int32_t old = Length();
    Make((old + count) * kCharSize);
    return Chars() + old;
}

void WSTRING::CommitAppend(wchar_t* end)
{
    StrLen = static_cast<int32_t>(end - Chars()) * kCharSize;
    *end = 0;
}

// ---------------------------------------------------------------------------
// Editing

void WSTRING::Append(wchar_t const* text, int32_t len)
{
    text = NULLCHECK(text, "WSTRING::Append");
    if (!text)
        return;
    int32_t n = len < 0 ? WideLength(text) : len;
    if (Inside(text, Buffer, BufLen)) {
        std::wstring copy(text, static_cast<size_t>(n));
        Append(copy.data(), n);
        return;
    }
    wchar_t* out = PrepareAppend(n);
    memcpy(out, text, static_cast<size_t>(n) * sizeof(wchar_t));
    CommitAppend(out + n);
}

void WSTRING::Append(WSTRING const& other)
{
    if (&other == this) {
        WSTRING copy(other);
        Append(copy);
        return;
    }
    Append(other.Buf(), other.Length());
}

void WSTRING::Append(wchar_t c)
{
    wchar_t* out = PrepareAppend(1);
    *out = c;
    CommitAppend(out + 1);
}

void WSTRING::Append(unsigned short unit)
{
    // The second half of a pair whose first half arrived before.
    int32_t n = Length();
    if (IsLowSurrogate(unit) && n > 0 && IsHighSurrogate(static_cast<uint32_t>(Chars()[n - 1]))) {
        Chars()[n - 1] = JoinSurrogates(static_cast<uint32_t>(Chars()[n - 1]), unit);
        return;
    }
    Append(static_cast<wchar_t>(unit));
}

void WSTRING::Append(unsigned short const* units, int32_t len)
{
    if (!units)
        return;
    if (len < 0) {
        len = 0;
        while (units[len] != 0)
            ++len;
    }
    if (Inside(units, Buffer, BufLen)) {
        std::u16string copy(reinterpret_cast<char16_t const*>(units), static_cast<size_t>(len));
        Append(reinterpret_cast<unsigned short const*>(copy.data()), len);
        return;
    }
    int32_t i = 0;
    if (len > 0 && IsLowSurrogate(units[0])) {
        Append(units[0]);
        i = 1;
    }
    wchar_t* const start = PrepareAppend(len - i);
    wchar_t* out = start;
    for (; i < len; ++i) {
        uint32_t u = units[i];
        if (IsHighSurrogate(u) && i + 1 < len && IsLowSurrogate(units[i + 1])) {
            *out++ = JoinSurrogates(u, units[++i]);
            continue;
        }
        *out++ = static_cast<wchar_t>(u);
    }
    CommitAppend(out);
}

void WSTRING::Append(char const* text, int32_t len, UNICODE_CODEPAGE cp)
{
    text = NULLCHECK(text, "WSTRING::Append");
    if (!text)
        return;
    if (len < 0)
        len = static_cast<int32_t>(strlen(text));
    if (Inside(text, Buffer, BufLen)) {
        std::string copy(text, static_cast<size_t>(len));
        Append(copy.data(), len, cp);
        return;
    }
    UNICODE const* uc = UNICODE::GetInstance();
    if (cp == UNICODE_CPUTF8) {
        // A byte text that says it is UTF-8 is decoded as such instead of
        // being refused byte by byte by the code-page tables.
        PrepareAppend(0);
        uc->Utf8Decoder(text, static_cast<size_t>(len), *this, nullptr);
        return;
    }
    wchar_t* out = PrepareAppend(len);
    uc->BytesToChars(text, len, out, cp);
    CommitAppend(out + len);
}

void WSTRING::Insert(wchar_t const* text, int32_t pos)
{
    if (!WCHECK(!Buffer || text != Chars(), "wtext!=wbuf"))
        return;
    text = NULLCHECK(text, "WSTRING::Insert");
    if (!text)
        return;
    int32_t len = Length();
    if (pos < 0 || pos > len)
        return;
    if (Inside(text, Buffer, BufLen)) {
        std::wstring copy(text);
        Insert(copy.c_str(), pos);
        return;
    }
    int32_t n = WideLength(text);
    PrepareAppend(n);
    wchar_t* chars = Chars();
    memmove(chars + pos + n, chars + pos, static_cast<size_t>(len - pos) * sizeof(wchar_t));
    memcpy(chars + pos, text, static_cast<size_t>(n) * sizeof(wchar_t));
    CommitAppend(chars + len + n);
}

int WSTRING::FormatInto(bool append, wchar_t const* format, va_list args)
{
    format = NULLCHECK(format, "WSTRING::Format");
    if (!format)
        format = L"";
    std::unique_ptr<wchar_t[]> buf(new wchar_t[nwbufmax]());
    int rc = vswprintf(buf.get(), nwbufmax, format, args);
    // vswprintf gives -1 both for a text that does not fit and for a
    // character it cannot convert; either way what was written is kept.
    if (!(rc >= 0 && rc < nwbufmax - 1))
        AssertMsg(0, "rc>=0 && rc<nwbufmax-1", kSourceName, __LINE__);
    buf[nwbufmax - 1] = 0;
    int32_t n = WideLength(buf.get());
    if (!append)
        Cut(0);
    Append(buf.get(), n);
    return n;
}

int WSTRING::Format(wchar_t const* format, ...)
{
    va_list args;
    va_start(args, format);
    int rc = FormatInto(false, format, args);
    va_end(args);
    return rc;
}

int WSTRING::FormatAppend(wchar_t const* format, ...)
{
    va_list args;
    va_start(args, format);
    int rc = FormatInto(true, format, args);
    va_end(args);
    return rc;
}

void WSTRING::Replace(wchar_t const* from, wchar_t const* to)
{
    if (!from || !*from || !Buffer)
        return;
    to = NULLCHECK(to, "WSTRING::Replace");
    if (!to)
        to = L"";
    if (wcscmp(from, to) == 0)
        return;
    std::wstring fromcopy(from);
    std::wstring tocopy(to);
    std::wstring result;
    wchar_t const* src = Buf();
    size_t flen = fromcopy.size();
    bool changed = false;
    for (wchar_t const* hit; (hit = wcsstr(src, fromcopy.c_str())) != nullptr; src = hit + flen) {
        result.append(src, static_cast<size_t>(hit - src));
        result.append(tocopy);
        changed = true;
    }
    if (!changed)
        return;
    result.append(src);
    Cut(0);
    Append(result.data(), static_cast<int32_t>(result.size()));
}

void WSTRING::Cut(int32_t newlength)
{
    if (!WCHECK(newlength >= 0, "newlength>=0"))
        return;
    int32_t len = Length();
    if (!Buffer || newlength >= len)
        return;
    memset(Chars() + newlength, 0, static_cast<size_t>(len - newlength) * sizeof(wchar_t));
    StrLen = newlength * kCharSize;
}

void WSTRING::CutRight(int32_t howmany)
{
    if (!WCHECK(howmany >= 0, "howmany>=0"))
        return;
    int32_t len = Length();
    Cut(howmany >= len ? 0 : len - howmany);
}

void WSTRING::CutLeft(int32_t howmany)
{
    if (!WCHECK(howmany >= 0, "howmany>=0"))
        return;
    int32_t len = Length();
    if (!Buffer || howmany == 0)
        return;
    if (howmany >= len) {
        Cut(0);
        return;
    }
    memmove(Chars(), Chars() + howmany, static_cast<size_t>(len - howmany) * sizeof(wchar_t));
    Cut(len - howmany);
}

void WSTRING::Trim(char how, wchar_t const* chars)
{
    how = static_cast<char>(toupper(static_cast<unsigned char>(how)));
    if (!WCHECK(how == 'L' || how == 'R' || how == 'B', "how=='L' || how=='R' || how=='B'"))
        return;
    chars = NULLCHECK(chars, "WSTRING::Trim");
    if (!chars || !Buffer)
        return;
    int32_t len = Length();
    int32_t left = 0;
    int32_t right = len;
    if (how == 'L' || how == 'B') {
        while (left < right && wcschr(chars, Chars()[left]) && Chars()[left] != 0)
            ++left;
    }
    if (how == 'R' || how == 'B') {
        while (right > left && wcschr(chars, Chars()[right - 1]) && Chars()[right - 1] != 0)
            --right;
    }
    Cut(right);
    CutLeft(left);
}

void WSTRING::ToUpper()
{
    locale_t loc = CaseLocale();
    for (int32_t i = 0, n = Length(); i < n; ++i) {
        auto c = static_cast<wint_t>(Chars()[i]);
        Chars()[i] = static_cast<wchar_t>(loc ? towupper_l(c, loc) : towupper(c));
    }
}

void WSTRING::ToLower()
{
    locale_t loc = CaseLocale();
    for (int32_t i = 0, n = Length(); i < n; ++i) {
        auto c = static_cast<wint_t>(Chars()[i]);
        Chars()[i] = static_cast<wchar_t>(loc ? towlower_l(c, loc) : towlower(c));
    }
}

// ---------------------------------------------------------------------------
// Searching

int32_t WSTRING::Pos(wchar_t c, int32_t from) const
{
    int32_t len = Length();
    for (int32_t i = from < 0 ? 0 : from; i < len; ++i) {
        if (Chars()[i] == c)
            return i;
    }
    return -1;
}

int32_t WSTRING::Pos(wchar_t const* text, int32_t from) const
{
    text = NULLCHECK(text, "WSTRING::Pos");
    if (!text)
        return -1;
    if (from < 0)
        from = 0;
    if (from >= Length())
        return -1;
    wchar_t const* hit = wcsstr(Buf() + from, text);
    return hit ? static_cast<int32_t>(hit - Buf()) : -1;
}

bool WSTRING::Find(wchar_t c, int32_t* pos, int32_t from) const
{
    int32_t p = Pos(c, from);
    if (pos)
        *pos = p;
    return p >= 0;
}

bool WSTRING::Find(wchar_t const* text, int32_t* pos, int32_t from) const
{
    int32_t p = Pos(text, from);
    if (pos)
        *pos = p;
    return p >= 0;
}

int WSTRING::WSTRCMP(wchar_t const* a, wchar_t const* b, bool nullok)
{
    if (nullok && (!a || !b))
        return a == b ? 0 : 1;
    a = NULLCHECK(a, "wstricmp p1");
    b = NULLCHECK(b, "wstricmp p2");
    return wcscmp(a ? a : L"", b ? b : L"");
}

// ---------------------------------------------------------------------------
// Slicing and tokens

WSTRING WSTRING::Substr(int32_t start, int32_t len) const
{
    WSTRING result;
    result.BlockSize = BlockSize;
    int32_t total = Length();
    if (start < 0)
        start = 0;
    if (start >= total) {
        result.PrepareAppend(0);
        return result;
    }
    if (len < 0 || len > total - start)
        len = total - start;
    result.Append(Buf() + start, len);
    return result;
}

WSTRING WSTRING::Left(int32_t n) const
{
    return Substr(0, n < 0 ? 0 : n);
}

WSTRING WSTRING::Right(int32_t n) const
{
    int32_t total = Length();
    if (n < 0)
        n = 0;
    return Substr(n >= total ? 0 : total - n, -1);
}

WSTRING WSTRING::Token(int index, wchar_t const* delimiters, unsigned flags) const
{
    WSTRING result;
    delimiters = NULLCHECK(delimiters, "WSTRING::Token");
    if (!delimiters)
        delimiters = L"";
    wchar_t const* text = Buf();
    int32_t len = Length();
    int32_t pos = 0;
    bool found = true;
    for (int k = 0; k < index && found; ++k) {
        while (pos < len && !wcschr(delimiters, text[pos]))
            ++pos;
        if (pos < len)
            ++pos;
        else
            found = false;
    }
    if (found && index >= 0) {
        int32_t end = pos;
        if (flags & 0xFF)
            end = len;
        else {
            while (end < len && !wcschr(delimiters, text[end]))
                ++end;
        }
        result.PrepareAppend(0);
        result.Append(text + pos, end - pos);
    }
    if (!result.IsSet() && (flags & STRING::TOKEN_EMPTYNOTUNSET))
        result.PrepareAppend(0);
    return result;
}

int WSTRING::NumTokens(wchar_t const* delimiters) const
{
    delimiters = NULLCHECK(delimiters, "WSTRING::NumTokens");
    int count = 1;
    if (!delimiters)
        return count;
    for (int32_t i = 0, n = Length(); i < n; ++i) {
        if (Chars()[i] != 0 && wcschr(delimiters, Chars()[i]))
            ++count;
    }
    return count;
}

wchar_t& WSTRING::operator[](int32_t i)
{
    if (i >= 0 && i < Length())
        return Chars()[i];
    char info[64];
    snprintf(info, sizeof info, "i= %d, len= %d", i, Length());
    AssertMsg(0, "i>=0 && i<this->StrLen", kSourceName, __LINE__, info);
    static thread_local wchar_t zero;
    zero = 0;
    return zero;
}

wchar_t const& WSTRING::operator[](int32_t i) const
{
    return const_cast<WSTRING&>(*this)[i];
}

// ---------------------------------------------------------------------------
// UTF-16 and numbers

int32_t WSTRING::ToUniChars(unsigned short* units, int32_t max) const
{
    if (!units || max <= 0)
        return 0;
    wchar_t const* chars = Buf();
    int32_t const n = Length();
    int32_t written = 0;
    int32_t i = 0;
    while (i < n) {
        // While two units are left for every character, no character needs
        // its own room check.
        int32_t const safe = std::min(n, i + (max - written) / 2);
        for (; i < safe; ++i) {
            auto u = static_cast<uint32_t>(chars[i]);
            if (u <= 0xFFFF) {
                units[written++] = static_cast<unsigned short>(u);
            } else if (u > 0x10FFFF) {
                units[written++] = static_cast<unsigned short>(UNICODE_REPLACEMENT);
            } else {
                u -= 0x10000;
                units[written++] = static_cast<unsigned short>(0xD800 + (u >> 10));
                units[written++] = static_cast<unsigned short>(0xDC00 + (u & 0x3FF));
            }
        }
        if (i >= n)
            break;
        // Near the end of the buffer: a pair is written whole or not at all.
        auto u = static_cast<uint32_t>(chars[i]);
        int32_t need = (u > 0xFFFF && u <= 0x10FFFF) ? 2 : 1;
        if (written + need > max)
            break;
        if (need == 1) {
            units[written++] = static_cast<unsigned short>(u <= 0xFFFF ? u : UNICODE_REPLACEMENT);
        } else {
            u -= 0x10000;
            units[written++] = static_cast<unsigned short>(0xD800 + (u >> 10));
            units[written++] = static_cast<unsigned short>(0xDC00 + (u & 0x3FF));
        }
        ++i;
    }
    if (written < max)
        units[written] = 0;
    return written;
}

WSTRING::operator int() const
{
    wchar_t const* text = NULLCHECK(Buffer ? Chars() : nullptr, "wtoi");
    return text ? static_cast<int>(wcstol(text, nullptr, 10)) : 0;
}

WSTRING::operator double() const
{
    wchar_t const* text = NULLCHECK(Buffer ? Chars() : nullptr, "wtof");
    return text ? wcstod(text, nullptr) : 0.0;
}

// ---------------------------------------------------------------------------
// STRING from wide text

STRING::STRING(wchar_t const* text, UNICODE_CODEPAGE cp) : STRING()
{
    BlockSize = BINARY_DEFAULTBLOCK;
    CodePage = cp;
    if (text)
        FromWideChar(text, -1, cp);
}

STRING::STRING(wchar_t const* text, int32_t len, UNICODE_CODEPAGE cp) : STRING()
{
    if (len == UNICODE_CPSYSTEM || len == UNICODE_CPFLAT)
        AssertMsg(0, "length!=UNICODE_CPSYSTEM && length!=UNICODE_CPFLAT", kSourceName, __LINE__);
    BlockSize = BINARY_DEFAULTBLOCK;
    CodePage = cp;
    if (text)
        FromWideChar(text, len < 0 ? -1 : len, cp);
}

STRING::STRING(WSTRING const& text, UNICODE_CODEPAGE cp) : STRING()
{
    BlockSize = BINARY_DEFAULTBLOCK;
    CodePage = cp;
    if (text.IsSet())
        FromWideChar(text.Buf(), text.Length(), cp);
}

void STRING::FromWideChar(wchar_t const* text, int32_t len, UNICODE_CODEPAGE cp)
{
    text = NULLCHECK(text, "STRING::FromWideChar");
    CodePage = cp;
    if (!text)
        return;
    if (len < 0)
        len = WideLength(text);
    if (Inside(text, Buffer, BufLen)) {
        std::wstring copy(text, static_cast<size_t>(len));
        FromWideChar(copy.data(), len, cp);
        return;
    }
    if (cp == UNICODE_CPUTF8) {
        // The string is to hold UTF-8: every character is encoded, none is
        // forced into a single byte.
        std::string bytes;
        bytes.reserve(static_cast<size_t>(len));
        char buf[4];
        for (int32_t i = 0; i < len; ++i)
            bytes.append(buf, static_cast<size_t>(UNICODE::Utf8Encode(text[i], buf)));
        Cut(0);
        Make(static_cast<int32_t>(bytes.size()), bytes.data());
        CodePage = cp;
        return;
    }
    Cut(0);
    Make(len);
    UNICODE::GetInstance()->CharsToBytes(text, len, Buffer, cp);
    CodePage = cp;
}
