// STRING: the text operations of the byte string (construction, editing,
// searching, slicing, tokens, formatting and operators). Storage, the block
// cache and the null policy are in strings.cpp.
#include "velmot/core/strings.h"
#include "velmot/core/strings_internal.h"

#include "velmot/core/logit.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

using namespace strdetail;

// ===========================================================================
// STRING: construction

STRING::STRING(char const* text, UNICODE_CODEPAGE cp) : CodePage(cp)
{
    if (text)
        Make(TextLen(text), text);
}

STRING::STRING(char const* text, STRING_BLOCKSIZE bs, UNICODE_CODEPAGE cp) : BINARY(bs), CodePage(cp)
{
    if (text)
        Make(TextLen(text), text);
}

STRING::STRING(int value) : BINARY(16)
{
    Format("%d", value);
}

STRING::STRING(signed char value) : BINARY(16)
{
    Format("%d", value);
}

STRING::STRING(unsigned int value) : BINARY(16)
{
    Format("%u", value);
}

STRING::STRING(long value) : BINARY(32)
{
    Format("%ld", value);
}

STRING::STRING(unsigned long value) : BINARY(16)
{
    Format("%lu", value);
}

STRING::STRING(long long value) : BINARY(32)
{
    Format("%lld", value);
}

STRING::STRING(unsigned long long value) : BINARY(32)
{
    Format("%llu", value);
}

STRING::STRING(double value, int decimals)
{
    if (decimals != -1) {
        Format("%1.*lf", decimals, value);
        return;
    }
    Format("%1.*lf", 4, value);
    if (BINARY::Pos('.') >= 0) {
        while (StrLen > 0 && Buffer[StrLen - 1] == '0')
            Cut(StrLen - 1);
        Chop('.');
    }
}

STRING::STRING(BINARY const& bytes)
{
    if (bytes.Buffer)
        Make(bytes.StrLen, bytes.Buffer);
}

STRING& STRING::operator=(STRING const& other)
{
    if (this != &other) {
        BINARY::operator=(other);
        CodePage = other.CodePage;
    }
    return *this;
}

STRING& STRING::operator=(STRING&& other) noexcept
{
    if (this != &other) {
        BINARY::operator=(std::move(other));
        CodePage = other.CodePage;
    }
    return *this;
}

STRING& STRING::operator=(char const* text)
{
    if (!text)
        Kill();
    else
        Make(TextLen(text), text);
    return *this;
}

// ===========================================================================
// STRING: editing

void STRING::Append(char const* text, int32_t len)
{
    if (!text) {
        text = SafeText(text, "STRING::Append op1");
        len = len < 0 ? TextLen(text) : std::min(len, TextLen(text));
    } else if (len < 0) {
        len = TextLen(text);
    }
    BINARY::Append(text, len);
}

void STRING::Insert(char const* text, int32_t pos)
{
    text = SafeText(text, "STRING::Insert op1");
    if (Buffer && text == Buffer) {
        AssertMsg(0, "text!=this->Buffer", __FILE__, __LINE__);
        return;
    }
    if (pos < 0 || pos > StrLen)
        return;
    if (pos == StrLen) {
        Append(text);
        return;
    }
    int32_t const len = TextLen(text);
    if (len == 0)
        return;
    // Opening the gap moves (and may reallocate) the bytes of this string;
    // a text taken from them is copied out first.
    STRING copy;
    if (Overlaps(*this, text)) {
        copy.Make(len, text);
        text = copy.Buffer;
    }
    int32_t const before = StrLen;
    ShiftRight(len, pos, ' ');
    if (StrLen == before + len)
        memcpy(Buffer + pos, text, static_cast<size_t>(len));
}

STRING STRING::Repeat(char const* text, int count)
{
    text = SafeText(text, "STRING::Repeat op1");
    if (count < 1)
        count = 1;
    int32_t const len = TextLen(text);
    int64_t const total = int64_t(len) * count;
    STRING result;
    if (total > kMaxLength) {
        ReportBuffer(__FILE__, __LINE__);
        return result;
    }
    if (!result.Make(static_cast<int32_t>(total)))
        return result;
    for (int i = 0; i < count && len > 0; ++i)
        memcpy(result.Buffer + int64_t(i) * len, text, static_cast<size_t>(len));
    return result;
}

namespace {

// Formats into the 8192-byte stack buffer of Format and FormatAppend and
// returns the number of bytes stored there (at most 8191).
int32_t FormatToBuffer(char (&buf)[8192], char const* format, va_list args)
{
    int const rc = vsnprintf(buf, sizeof buf, format, args);
    if (rc >= 0 && static_cast<size_t>(rc) < sizeof(buf) - 1)
        return rc;
    AssertMsg(0, "rc>=0 && rc<sizeof(buf)-1", __FILE__, __LINE__);
    if (rc < 0) {
        buf[0] = 0;
        return 0;
    }
    return static_cast<int32_t>(sizeof(buf) - 1);
}

} // namespace

int STRING::Format(char const* format, ...)
{
    va_list args;
    va_start(args, format);
    int const rc = FormatV(format, args);
    va_end(args);
    return rc;
}

int STRING::FormatAppend(char const* format, ...)
{
    va_list args;
    va_start(args, format);
    int const rc = FormatAppendV(format, args);
    va_end(args);
    return rc;
}

int STRING::FormatV(char const* format, va_list args)
{
    format = SafeText(format, "STRING::Format op1");
    char buf[8192];
    int32_t const len = FormatToBuffer(buf, format, args);
    Make(len, buf);
    CodePage = UNICODE_CPDEFAULT;
    return len;
}

int STRING::FormatAppendV(char const* format, va_list args)
{
    format = SafeText(format, "STRING::FormatAppend op1");
    char buf[8192];
    int32_t const len = FormatToBuffer(buf, format, args);
    BINARY::Append(buf, len);
    return len;
}

void STRING::Replace(char const* from, char const* to, bool casesensitive)
{
    if (!from || !*from)
        return;
    to = SafeText(to, "STRING::Replace op2");
    if (strcmp(from, to) == 0 || !Buffer)
        return;
    // Collect the hits first and build the result in one pass: the same
    // left-to-right, non-overlapping replacement as editing in place, in
    // linear time.
    int32_t const fromlen = TextLen(from);
    int32_t const tolen = TextLen(to);
    std::vector<int32_t> hits;
    NOCASEFINDER const nocase(casesensitive ? "" : from);
    int32_t const end = casesensitive ? StrLen : TextEnd(*this, 0);
    int32_t pos = 0;
    for (;;) {
        pos = casesensitive ? FindText(Buffer, StrLen, pos, from) : nocase.Find(Buffer, end, pos);
        if (pos < 0)
            break;
        hits.push_back(pos);
        pos += fromlen;
    }
    if (hits.empty())
        return;
    int64_t const newlen = int64_t(StrLen) + int64_t(hits.size()) * (int64_t(tolen) - fromlen);
    if (newlen > kMaxLength) {
        ReportBuffer(__FILE__, __LINE__);
        return;
    }
    BINARY out(BlockSize, Flags);
    if (!out.Make(static_cast<int32_t>(newlen)))
        return;
    char* dst = out.Buffer;
    int32_t src = 0;
    for (int32_t const hit : hits) {
        memcpy(dst, Buffer + src, static_cast<size_t>(hit - src));
        dst += hit - src;
        memcpy(dst, to, static_cast<size_t>(tolen));
        dst += tolen;
        src = hit + fromlen;
    }
    memcpy(dst, Buffer + src, static_cast<size_t>(StrLen - src));
    Swap(out);
    Flags = out.Flags;
}

void STRING::Trim(char how, char const* chars)
{
    char const h = static_cast<char>(toupper(static_cast<unsigned char>(how)));
    if (!(h == 'L' || h == 'R' || h == 'B')) {
        AssertMsg(0, "how=='L' || how=='R' || how=='B'", __FILE__, __LINE__);
        return;
    }
    chars = SafeText(chars, "STRING::Trim op2");
    if (!Buffer)
        return;
    BYTESET const set(chars);
    if (h == 'R' || h == 'B') {
        int32_t n = StrLen;
        while (n > 0 && set.Has(Buffer[n - 1]))
            --n;
        Cut(n);
    }
    if (h == 'L' || h == 'B') {
        int32_t n = 0;
        while (n < StrLen && set.Has(Buffer[n]))
            ++n;
        CutLeft(n);
    }
}

bool STRING::Chop(char c)
{
    if (!Buffer || StrLen == 0 || Buffer[StrLen - 1] != c)
        return false;
    Cut(StrLen - 1);
    return true;
}

bool STRING::ChopLeft(char c)
{
    if (!Buffer || StrLen == 0 || Buffer[0] != c)
        return false;
    CutLeft(1);
    return true;
}

void STRING::RemoveChars(char const* chars)
{
    chars = SafeText(chars, "STRING::RemoveChars op1");
    if (!Buffer)
        return;
    BYTESET const set(chars);
    int32_t keep = 0;
    for (int32_t i = 0; i < StrLen; ++i) {
        if (!set.Has(Buffer[i]))
            Buffer[keep++] = Buffer[i];
    }
    Cut(keep);
}

void STRING::ToUpper()
{
    if (Buffer)
        strupr(Buffer);
}

void STRING::ToLower()
{
    if (Buffer)
        strlwr(Buffer);
}

void STRING::SetDefault(STRING const& value)
{
    if (!Buffer)
        *this = value;
}

// ===========================================================================
// STRING: searching

int32_t STRING::Pos(char const* text, int32_t from) const
{
    text = SafeText(text, "STRING::Pos op1");
    return FindText(Buffer, StrLen, std::max(from, int32_t(0)), text);
}

int32_t STRING::iPos(char const* text, int32_t from) const
{
    text = SafeText(text, "STRING::iPos op1");
    if (!Buffer || from >= StrLen)
        return -1;
    from = std::max(from, int32_t(0));
    return NOCASEFINDER(text).Find(Buffer, TextEnd(*this, from), from);
}

bool STRING::Find(char const* text, int32_t* pos, int32_t from) const
{
    int32_t const at = Pos(text, from);
    if (pos && at >= 0)
        *pos = at;
    return at >= 0;
}

bool STRING::iFind(char const* text, int32_t* pos, int32_t from) const
{
    int32_t const at = iPos(text, from);
    if (pos && at >= 0)
        *pos = at;
    return at >= 0;
}

bool STRING::Find(char c, int32_t* pos) const
{
    int32_t const at = BINARY::Pos(c);
    if (pos && at >= 0)
        *pos = at;
    return at >= 0;
}

// ===========================================================================
// STRING: slicing and tokens

STRING STRING::Left(int32_t n) const
{
    STRING result;
    CopyRange(*this, result, 0, std::max(n, int32_t(0)));
    return result;
}

STRING STRING::Right(int32_t n) const
{
    n = std::max(n, int32_t(0));
    STRING result;
    CopyRange(*this, result, n >= StrLen ? 0 : StrLen - n, -1);
    return result;
}

STRING STRING::Substr(int32_t start, int32_t len) const
{
    STRING result;
    CopyRange(*this, result, start, len);
    return result;
}

STRING STRING::Substr(int32_t start, char const* stopchars) const
{
    stopchars = SafeText(stopchars, "STRING::Substr op2");
    if (start < 0)
        start = 0;
    STRING result;
    if (start >= StrLen) {
        result.Make(0);
        return result;
    }
    BYTESET const set(stopchars);
    int32_t end = start;
    while (end < StrLen && !set.Has(Buffer[end]))
        ++end;
    result.Make(end - start, Buffer + start);
    return result;
}

namespace {

// Start of token `index` in `s` (split by any byte of `set`), or -1 when the
// content has fewer tokens.
int32_t TokenStart(BINARY const& s, BYTESET const& set, int index)
{
    if (!s.Buffer || index < 0)
        return -1;
    int32_t pos = 0;
    for (int i = 0; i < index; ++i) {
        while (pos < s.StrLen && !set.Has(s.Buffer[pos]))
            ++pos;
        if (pos >= s.StrLen)
            return -1;
        ++pos;
    }
    return pos;
}

int32_t TokenEnd(BINARY const& s, BYTESET const& set, int32_t start)
{
    while (start < s.StrLen && !set.Has(s.Buffer[start]))
        ++start;
    return start;
}

} // namespace

STRING STRING::Token(int index, char const* delimiters, unsigned flags) const
{
    delimiters = SafeText(delimiters, "STRING::Token op2");
    STRING result;
    BYTESET const set(delimiters);
    int32_t const start = TokenStart(*this, set, index);
    if (start >= 0) {
        int32_t const end = (flags & 0xFF) ? StrLen : TokenEnd(*this, set, start);
        result.Make(end - start, Buffer + start);
    }
    if (!result.Buffer && (flags & TOKEN_EMPTYNOTUNSET))
        result.Make(0);
    return result;
}

int STRING::NumTokens(char const* delimiters) const
{
    delimiters = SafeText(delimiters, "STRING::NumTokens op1");
    BYTESET const set(delimiters);
    int n = 1;
    for (int32_t i = 0; Buffer && i < StrLen; ++i)
        n += set.Has(Buffer[i]);
    return n;
}

int STRING::FindToken(char const* text, char const* delimiters) const
{
    text = SafeText(text, "STRING::FindToken op1");
    delimiters = SafeText(delimiters, "STRING::FindToken op2");
    if (!Buffer)
        return -1;
    BYTESET const set(delimiters);
    size_t const len = strlen(text);
    int32_t start = 0;
    for (int index = 0;; ++index) {
        int32_t const end = TokenEnd(*this, set, start);
        if (size_t(end - start) == len && strnicmp(Buffer + start, text, len) == 0)
            return index;
        if (end >= StrLen)
            return -1;
        start = end + 1;
    }
}

namespace {

bool SingleDelimiter(char const* delim)
{
    if (delim && strlen(delim) == 1)
        return true;
    AssertMsg(0, "strlen(delim)==1", __FILE__, __LINE__);
    return false;
}

// Tokens 0 to index - 1 of `old`, each followed by `d` (missing ones empty).
void AppendLeadingTokens(STRING& out, BINARY const& old, char d, int index)
{
    char const delim[2] = {d, 0};
    BYTESET const set(delim);
    int32_t const start = TokenStart(old, set, index);
    if (start >= 0) {
        out.BINARY::Append(old.Buffer, start);
        return;
    }
    // Fewer tokens than `index`: all of them, each followed by d, then an
    // empty token followed by d for each missing one.
    int count = index;
    if (old.Buffer) {
        int const have = 1 + static_cast<int>(std::count(old.Buffer, old.Buffer + old.StrLen, d));
        out.BINARY::Append(old.Buffer, old.StrLen);
        count = index - have + 1;
    }
    for (int i = 0; i < count; ++i)
        out.Append(d);
}

// The rest of `old` from token `index` on, or -1 when there is none.
int32_t RestStart(BINARY const& old, char d, int index)
{
    char const delim[2] = {d, 0};
    return TokenStart(old, BYTESET(delim), index);
}

} // namespace

void STRING::InsertToken(int index, char const* delimiter, char const* text)
{
    if (!SingleDelimiter(delimiter) || index < 0)
        return;
    text = SafeText(text, "STRING::InsertToken op3");
    char const d = delimiter[0];
    STRING out(nullptr, STRING_BLOCKSIZE(BlockSize));
    out.Make(0);
    AppendLeadingTokens(out, *this, d, index);
    out.Append(text);
    int32_t const rest = RestStart(*this, d, index);
    if (rest >= 0) {
        out.Append(d);
        out.BINARY::Append(Buffer + rest, StrLen - rest);
    }
    *this = std::move(out);
}

void STRING::ReplaceToken(int index, char const* delimiter, char const* text)
{
    if (!SingleDelimiter(delimiter) || index < 0)
        return;
    text = SafeText(text, "STRING::ReplaceToken op3");
    char const d = delimiter[0];
    STRING out(nullptr, STRING_BLOCKSIZE(BlockSize));
    out.Make(0);
    AppendLeadingTokens(out, *this, d, index);
    out.Append(text);
    int32_t const rest = RestStart(*this, d, index + 1);
    if (rest >= 0) {
        out.Append(d);
        out.BINARY::Append(Buffer + rest, StrLen - rest);
    }
    *this = std::move(out);
}

void STRING::DeleteToken(int index, char const* delimiter)
{
    if (!SingleDelimiter(delimiter) || index < 0)
        return;
    char const d = delimiter[0];
    STRING out(nullptr, STRING_BLOCKSIZE(BlockSize));
    out.Make(0);
    // Tokens 0 to index - 1 joined by d: the leading tokens without the
    // delimiter that follows the last of them.
    if (index > 0) {
        AppendLeadingTokens(out, *this, d, index);
        out.Cut(out.StrLen - 1);
    }
    int32_t const rest = RestStart(*this, d, index + 1);
    if (rest >= 0) {
        if (index >= 1)
            out.Append(d);
        out.BINARY::Append(Buffer + rest, StrLen - rest);
    }
    *this = std::move(out);
}

// ===========================================================================
// STRING: access and copies

char& STRING::operator[](int32_t i)
{
    if (Buffer && i >= 0 && i <= StrLen)
        return Buffer[i];
    if (i == 0 && StrLen == 0)
        return ZeroByte(); // the terminator of an unset string
    return BadIndex(*this, i, "i>=0 && i<=this->StrLen", __LINE__);
}

char const& STRING::operator[](int32_t i) const
{
    if (Buffer && i >= 0 && i <= StrLen)
        return Buffer[i];
    if (i == 0 && StrLen == 0)
        return ZeroByte();
    return BadIndex(*this, i, "i>=0 && i<=this->StrLen", __LINE__);
}

int32_t STRING::CopyToBuf(char* buf, int32_t size) const
{
    if (!buf || size <= 0)
        return 0;
    int32_t const n = std::min(Buffer ? StrLen : 0, size - 1);
    if (n > 0)
        memcpy(buf, Buffer, static_cast<size_t>(n));
    buf[n] = 0;
    return n;
}

bool STRING::ToBuffer(char* buf, int32_t size) const
{
    if (!buf || size <= 0)
        return false;
    // The text is an argument, never the format: it may contain '%'.
    int const rc = snprintf(buf, static_cast<size_t>(size), "%s", Buf());
    return rc > 0 && size > 1;
}

// ===========================================================================
// STRING: operators

STRING operator||(STRING const& a, STRING const& b)
{
    STRING result;
    result.Make(0);
    result.BINARY::Append(a);
    result.BINARY::Append(b);
    return result;
}

STRING operator||(STRING const& a, char const* b)
{
    b = SafeText(b, "STRING::operator|| op2");
    STRING result;
    result.Make(0);
    result.BINARY::Append(a);
    result.Append(b);
    return result;
}

STRING operator||(char const* a, STRING const& b)
{
    a = SafeText(a, "STRING::operator|| op1");
    STRING result(a);
    result.BINARY::Append(b);
    return result;
}

bool operator==(STRING const& a, STRING const& b)
{
    int32_t const la = a.Buffer ? a.StrLen : 0;
    int32_t const lb = b.Buffer ? b.StrLen : 0;
    return la == lb && (la == 0 || memcmp(a.Buffer, b.Buffer, static_cast<size_t>(la)) == 0);
}

bool operator==(STRING const& a, char const* b)
{
    int32_t const la = a.Buffer ? a.StrLen : 0;
    if (!b)
        return la == 0;
    return strlen(b) == size_t(la) && memcmp(a.Buf(), b, static_cast<size_t>(la)) == 0;
}
