// OPTSBASE: the values of the rows, read from and written to their text form.
#include "program/settings/optsbase.h"

#include "velmot/core/logit.h"
#include "velmot/core/unicode.h"
#include "velmot/core/wstring.h"

#include <climits>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

constexpr char kEsc = 27;

bool StartsWith(char const* text, char const* prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The leading decimal number of the text with an optional sign, saturated
// to the range of 64-bit numbers; 0 when the text starts with none.
long long LeadingNumber(char const* text)
{
    char const* p = text;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    long long value = 0;
    for (; IsDigit(*p); ++p) {
        int digit = *p - '0';
        if (value > (LLONG_MAX - digit) / 10) {
            value = LLONG_MAX;
            while (IsDigit(*p))
                ++p;
            break;
        }
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

// The flag rule: yes, no and maybe, else the leading number.
long long FlagValue(char const* text)
{
    if (strcasecmp(text, "yes") == 0)
        return 1;
    if (strcasecmp(text, "no") == 0)
        return 0;
    if (strcasecmp(text, "maybe") == 0)
        return 2;
    return LeadingNumber(text);
}

// Stores a number in a field of one or four bytes, saturated to the field's
// range, so that a number too big for its field keeps at least its sign.
bool StoreNumber(void* field, uint32_t size, long long value)
{
    if (size == 4) {
        int32_t v = value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : static_cast<int32_t>(value);
        memcpy(field, &v, 4);
        return true;
    }
    if (size == 1) {
        signed char v = value > SCHAR_MAX ? SCHAR_MAX : value < SCHAR_MIN ? SCHAR_MIN : static_cast<signed char>(value);
        memcpy(field, &v, 1);
        return true;
    }
    AssertMsg(0, "opt.Size==1 || opt.Size==4", __FILE__, __LINE__, "Bad option size");
    return false;
}

int32_t LoadNumber(void const* field, int size)
{
    if (size == 4) {
        int32_t v;
        memcpy(&v, field, 4);
        return v;
    }
    return *static_cast<signed char const*>(field);
}

// Removes one double quote at each end when the value has both.
bool Unquote(std::string& value)
{
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
        return true;
    }
    return false;
}

void StoreBytes(void* field, uint32_t size, char const* bytes, size_t length)
{
    memset(field, 0, size);
    memcpy(field, bytes, length < size ? length : size);
}

// A narrow text of at most size - 1 bytes with its terminator.
void StoreNarrow(void* field, uint32_t size, STRING const& text)
{
    if (size == 0)
        return;
    size_t n = static_cast<size_t>(text.Length());
    StoreBytes(field, size, text.Buf(), n < size - 1 ? n : size - 1);
}

void StoreWide(void* field, uint32_t size, wchar_t const* text, size_t length)
{
    size_t chars = size / sizeof(wchar_t);
    if (chars == 0)
        return;
    memset(field, 0, size);
    size_t n = 0;
    while (n < length && n < chars - 1 && text[n] != 0)
        ++n;
    memcpy(field, text, n * sizeof(wchar_t));
}

// The characters whose code page 1252 byte reads back as the same
// character: the first 256 except U+0080 to U+009F, where 1252 has other
// characters.
bool FitsOneByte(wchar_t c)
{
    return c >= 0 && c < 256 && !(c >= 0x80 && c <= 0x9F);
}

STRING HexOf(unsigned char const* bytes, int size)
{
    static char const digits[] = "0123456789abcdef";
    STRING out;
    out.Make(0);
    for (int i = 0; i < size; ++i) {
        out.Append(digits[bytes[i] >> 4]);
        out.Append(digits[bytes[i] & 15]);
    }
    return out;
}

} // namespace

void OPTSBASE::CopyText(char* field, size_t size, char const* text)
{
    if (!field || size == 0)
        return;
    size_t n = text ? strnlen(text, size - 1) : 0;
    memcpy(field, text ? text : "", n);
    memset(field + n, 0, size - n);
}

void OPTSBASE::CopyWide(wchar_t* field, size_t chars, wchar_t const* text)
{
    if (!field || chars == 0)
        return;
    size_t n = 0;
    while (text && n < chars - 1 && text[n])
        ++n;
    if (n)
        wmemcpy(field, text, n);
    wmemset(field + n, 0, chars - n);
}

char const* OPTLIST::AliasTarget() const
{
    return Name + strlen(Name) + 1;
}

// ---------------------------------------------------------------------------
// Quoting

void OPTSBASE::EnquoteTextStringNew(char const* text, STRING& out)
{
    out.Make(0);
    if (!text)
        return;
    if (!strpbrk(text, "\r\n\x1b")) {
        out.Append(text);
        return;
    }
    for (char const* p = text; *p; ++p) {
        switch (*p) {
        case '\r': out.Append(kEsc); out.Append('r'); break;
        case '\n': out.Append(kEsc); out.Append('n'); break;
        case kEsc: out.Append(kEsc); out.Append(kEsc); break;
        default: out.Append(*p); break;
        }
    }
}

void OPTSBASE::EnquoteTextString(char const* text, STRING& out)
{
    // A text with ESC but no line end written raw would change on reading,
    // where ESC n, ESC r and ESC ESC are decoded: always escape.
    EnquoteTextStringNew(text, out);
}

void OPTSBASE::DequoteTextStringNew(STRING& text)
{
    if (!text.Find(kEsc))
        return;
    STRING out;
    out.Make(0);
    int32_t const n = text.Length();
    char const* p = text.Buf();
    for (int32_t i = 0; i < n; ++i) {
        if (p[i] != kEsc) {
            out.Append(p[i]);
            continue;
        }
        if (i + 1 >= n)
            break; // a last ESC is dropped
        char next = p[++i];
        if (next == 'n')
            out.Append('\n');
        else if (next == 'r')
            out.Append('\r');
        else if (next == kEsc)
            out.Append(kEsc);
        else {
            out.Append(kEsc);
            out.Append(next);
        }
    }
    text = out;
}

void OPTSBASE::DequoteTextString(STRING& text) const
{
    char const* v = DataVersion.Buf();
    bool oldBytes;
    bool escapes;
    if (strcasecmp(v, "0.00") == 0) {
        oldBytes = escapes = true;
    } else if (strcasecmp(v, "6.21") < 0) {
        oldBytes = true;
        escapes = false;
    } else if (strcasecmp(v, "6.22") <= 0) {
        oldBytes = escapes = true;
    } else {
        oldBytes = false;
        escapes = true;
    }
    if (oldBytes) {
        for (int32_t i = 0; i < text.Length(); ++i) {
            if (static_cast<unsigned char>(text[i]) == 0xFB)
                text[i] = '\n';
            else if (static_cast<unsigned char>(text[i]) == 0xFE)
                text[i] = '\r';
        }
    }
    if (escapes)
        DequoteTextStringNew(text);
}

// ---------------------------------------------------------------------------
// Reading one value

int OPTSBASE::StoreValue(int row, int element, char const* value)
{
    OPTLIST const& opt = pOptlist[row];
    auto* field = static_cast<char*>(pData) + opt.Offset;
    uint32_t type = opt.Type;
    if (opt.IsArray()) {
        field += static_cast<size_t>(element) * opt.Size;
        type = opt.Type == OPTTYPE_STRARRAY ? OPTTYPE_STR : OPTTYPE_WSTR;
    }
    std::string v = value;

    switch (type) {
    case OPTTYPE_FLAG:
        return StoreNumber(field, opt.Size, FlagValue(v.c_str())) ? 0 : 1;

    case OPTTYPE_INT: {
        long long n = (v.empty() || !IsDigit(v[0])) ? FlagValue(v.c_str()) : LeadingNumber(v.c_str());
        return StoreNumber(field, opt.Size, n) ? 0 : 1;
    }

    case OPTTYPE_STR: {
        Unquote(v);
        STRING text(v.c_str());
        DequoteTextString(text);
        StoreNarrow(field, opt.Size, text);
        return 0;
    }

    case OPTTYPE_WSTR: {
        WSTRING wide;
        if (v.size() >= 7 && StartsWith(v.c_str(), "utf8:\"") && v.back() == '"') {
            STRING text(v.substr(6, v.size() - 7).c_str());
            DequoteTextStringNew(text);
            UNICODE::GetInstance()->Utf8Decoder(text.Buf(), static_cast<size_t>(text.Length()), wide, nullptr);
        } else if (Unquote(v)) {
            STRING text(v.c_str());
            DequoteTextString(text);
            wide.FromChars(text.Buf(), text.Length(), 1252);
        }
        StoreWide(field, opt.Size, wide.Buf(), static_cast<size_t>(wide.Length()));
        return 0;
    }

    case OPTTYPE_BINARY:
    case OPTTYPE_SECRET: {
        // A secret is a zero-terminated text whatever form it was written
        // in, so it keeps room for its terminator.
        uint32_t room = type == OPTTYPE_SECRET ? (opt.Size > 0 ? opt.Size - 1 : 0) : opt.Size;
        if (StartsWith(v.c_str(), "x'")) {
            std::string digits = v.substr(2, v.size() > 2 ? v.size() - 3 : 0);
            if (digits.size() > 2 * static_cast<size_t>(room))
                digits.resize(2 * static_cast<size_t>(room));
            BINARY hex(digits.c_str(), static_cast<int32_t>(digits.size()));
            BINARY bytes = hex.UnHex();
            StoreBytes(field, opt.Size, bytes.Buffer ? bytes.Buffer : "",
                       std::min(static_cast<size_t>(bytes.Length()), static_cast<size_t>(room)));
            return 0;
        }
        if (type == OPTTYPE_BINARY)
            return 1;
        if (v.size() >= 1 && v[0] == '"') {
            Unquote(v);
            STRING text(v.c_str());
            DequoteTextString(text);
            StoreNarrow(field, opt.Size, text);
            return 0;
        }
        if (StartsWith(v.c_str(), "y'")) {
            std::string scrambled = v.substr(2, v.size() > 2 ? v.size() - 3 : 0);
            BINARY bytes = BINARY(scrambled.c_str(), static_cast<int32_t>(scrambled.size())).UnShuffle(nullptr);
            StoreBytes(field, opt.Size, bytes.Buffer ? bytes.Buffer : "",
                       std::min(static_cast<size_t>(bytes.Length()), static_cast<size_t>(room)));
            return 0;
        }
        return 1;
    }

    case OPTTYPE_SECTION:
    case OPTTYPE_NOTSTORED:
    case OPTTYPE_LITERAL:
    case OPTTYPE_ALIAS:
        return 0;

    default:
        AssertMsg(0, "FALSE", __FILE__, __LINE__, "Bad option type");
        return 1;
    }
}

// ---------------------------------------------------------------------------
// Writing one value

STRING OPTSBASE::FormatValue(int type, char const* key, void const* value, int size)
{
    STRING line(key);
    line.Append("=");
    switch (type) {
    case OPTTYPE_FLAG: {
        if (size != 1 && size != 4) {
            AssertMsg(0, "opt.Size==1 || opt.Size==4", __FILE__, __LINE__, "Bad option size");
            return STRING();
        }
        int32_t v = LoadNumber(value, size);
        if (v == 1)
            line.Append("yes");
        else if (v == 0)
            line.Append("no");
        else
            line.FormatAppend("%d", v);
        return line;
    }

    case OPTTYPE_INT:
        if (size != 1 && size != 4) {
            AssertMsg(0, "opt.Size==1 || opt.Size==4", __FILE__, __LINE__, "Bad option size");
            return STRING();
        }
        line.FormatAppend("%d", LoadNumber(value, size));
        return line;

    case OPTTYPE_STR: {
        auto const* p = static_cast<char const*>(value);
        std::string text(p, strnlen(p, static_cast<size_t>(size)));
        STRING escaped;
        EnquoteTextString(text.c_str(), escaped);
        line.Append("\"");
        line.Append(escaped);
        line.Append("\"");
        return line;
    }

    case OPTTYPE_WSTR: {
        // The field is read as its bytes: a block may lie at any offset.
        size_t chars = static_cast<size_t>(size) / sizeof(wchar_t);
        std::wstring text;
        auto const* bytes = static_cast<unsigned char const*>(value);
        for (size_t i = 0; i < chars; ++i) {
            wchar_t c;
            memcpy(&c, bytes + i * sizeof(wchar_t), sizeof c);
            if (c == 0)
                break;
            text.push_back(c);
        }
        bool oneByte = true;
        for (wchar_t c : text)
            oneByte = oneByte && FitsOneByte(c);
        STRING raw;
        raw.Make(0);
        if (oneByte) {
            for (wchar_t c : text)
                raw.Append(static_cast<char>(c));
        } else {
            for (wchar_t c : text) {
                char utf8[4];
                int n = UNICODE::Utf8Encode(c, utf8);
                raw.Append(utf8, n);
            }
        }
        STRING escaped;
        EnquoteTextStringNew(raw.Buf(), escaped);
        line.Append(oneByte ? "\"" : "utf8:\"");
        line.Append(escaped);
        line.Append("\"");
        return line;
    }

    case OPTTYPE_BINARY:
        line.Append("x'");
        line.Append(HexOf(static_cast<unsigned char const*>(value), size));
        line.Append("'");
        return line;

    case OPTTYPE_SECRET: {
        BINARY bytes(static_cast<char const*>(value), size);
        line.Append("y'");
        line.Append(bytes.AsShuffle(nullptr));
        line.Append("'");
        return line;
    }

    default:
        AssertMsg(0, "FALSE", __FILE__, __LINE__, "Bad option type");
        return STRING();
    }
}

STRING OPTSBASE::MakeOptString(int row, int element) const
{
    if (row < 0 || row >= OptlistMax)
        return STRING();
    OPTLIST const& opt = pOptlist[row];
    auto const* field = static_cast<char const*>(pData) + opt.Offset;
    if (opt.IsArray()) {
        if (element < 0 || element >= opt.Max)
            return STRING();
        STRING key;
        key.Format("%s#%02d", opt.Name, element);
        return FormatValue(opt.Type == OPTTYPE_STRARRAY ? OPTTYPE_STR : OPTTYPE_WSTR, key.Buf(),
                           field + static_cast<size_t>(element) * opt.Size, static_cast<int>(opt.Size));
    }
    switch (opt.Type) {
    case OPTTYPE_FLAG:
    case OPTTYPE_INT:
    case OPTTYPE_STR:
    case OPTTYPE_WSTR:
    case OPTTYPE_BINARY:
    case OPTTYPE_SECRET:
        return FormatValue(static_cast<int>(opt.Type), opt.Name, field, static_cast<int>(opt.Size));
    default:
        return STRING();
    }
}
