// Text forms of byte data: hexadecimal, Base64, quoted-printable, the
// backslash escape form of the text files, UTF-8 and the option scrambler.
//
// The decoders read data that comes from files and hosts, so they never
// trust a length: every escape and group is checked against the end of the
// input, and malformed input is skipped or kept as it stands and reported
// to the log only (an alert per bad byte would stop the user for nothing).
#include "velmot/core/logit.h"
#include "velmot/core/strings.h"
#include "velmot/core/strings_internal.h"
#include "velmot/core/unicode.h"
#include "velmot/core/wstring.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// RFC 2045 lines: 76 characters, 19 groups of four.
constexpr int kMimeLine = 76;


struct BASE64DECODE {
    signed char Value[256];
    constexpr BASE64DECODE() : Value()
    {
        for (int i = 0; i < 256; ++i)
            Value[i] = -1;
        for (int i = 0; i < 64; ++i)
            Value[static_cast<unsigned char>(kBase64[i])] = static_cast<signed char>(i);
    }
};
constexpr BASE64DECODE kBase64Decode;

// Reads the bytes of a BINARY without going through the null policy: an
// unset buffer is simply no bytes.
unsigned char const* Bytes(BINARY const& b)
{
    return reinterpret_cast<unsigned char const*>(b.Buffer ? b.Buffer : "");
}

// A STRING (code page 1252) holding the bytes of out.
STRING MakeString(std::string const& out)
{
    STRING result;
    result.Make(static_cast<int32_t>(out.size()), out.data());
    result.CodePage = UNICODE_CPDEFAULT;
    return result;
}

BINARY MakeBinary(std::string const& out)
{
    BINARY result;
    result.Make(static_cast<int32_t>(out.size()), out.data());
    return result;
}

// The scrambler's bit swaps: neighbouring bits at even positions,
// neighbouring bit pairs at odd ones. Each undoes itself.
inline unsigned char SwapBits(unsigned char b, size_t pos)
{
    if (pos % 2 == 0)
        return static_cast<unsigned char>(((b & 0x55) << 1) | ((b & 0xAA) >> 1));
    return static_cast<unsigned char>(((b & 0x33) << 2) | ((b & 0xCC) >> 2));
}

// The scrambler's key for data of `length` bytes. Scrambled values are
// stored in settings files, so these templates must never change. The
// password's part leads, so that even short values depend on it.
std::string ShuffleKey(size_t length, char const* password)
{
    int last = static_cast<int>(length % 100);
    int complement = 99 - last;
    char key[128];
    if (password && *password) {
        BINARY pw(password, static_cast<int32_t>(strlen(password)));
        uint32_t crc = static_cast<uint32_t>(pw.Crc());
        STRING mime = pw.AsMime(0);
        snprintf(key, sizeof key, "%08x~%02dR7!w:%s#%02dZe", crc, last, mime.Buf(), complement);
    } else {
        snprintf(key, sizeof key, "Vm%02d;x8K-%02dpT3$fJ%02dg~", last, complement, last);
    }
    return key;
}

} // namespace

// ---------------------------------------------------------------------------
// Hexadecimal

STRING BINARY::AsHex() const
{
    std::string out;
    out.resize(static_cast<size_t>(StrLen) * 2);
    unsigned char const* p = Bytes(*this);
    for (int32_t i = 0; i < StrLen; ++i) {
        out[2 * i] = kHexDigits[p[i] >> 4];
        out[2 * i + 1] = kHexDigits[p[i] & 0x0F];
    }
    return MakeString(out);
}

BINARY BINARY::UnHex() const
{
    std::string out;
    out.reserve(static_cast<size_t>(StrLen) / 2);
    unsigned char const* p = Bytes(*this);
    int bad = 0;
    // Pairs of characters; an odd last character is ignored, and a pair
    // that is not two hexadecimal digits gives no byte.
    for (int32_t i = 0; i + 1 < StrLen; i += 2) {
        int hi = strdetail::HexValue(p[i]);
        int lo = strdetail::HexValue(p[i + 1]);
        if (hi < 0 || lo < 0) {
            ++bad;
            continue;
        }
        out.push_back(static_cast<char>((hi << 4) | lo));
    }
    if (bad)
        LOGIT("BINARY::UnHex skipped %d pairs that are not hexadecimal\n", bad);
    return MakeBinary(out);
}

// ---------------------------------------------------------------------------
// Base64 and quoted-printable

STRING BINARY::AsMime(int linebreaks) const
{
    std::string out;
    size_t groups = (static_cast<size_t>(StrLen) + 2) / 3;
    out.reserve(groups * 4 + (groups / 19 + 1) * 2);
    unsigned char const* p = Bytes(*this);
    int column = 0;
    for (int32_t i = 0; i < StrLen; i += 3) {
        int32_t left = StrLen - i;
        uint32_t v = static_cast<uint32_t>(p[i]) << 16;
        if (left > 1)
            v |= static_cast<uint32_t>(p[i + 1]) << 8;
        if (left > 2)
            v |= p[i + 2];
        out.push_back(kBase64[(v >> 18) & 0x3F]);
        out.push_back(kBase64[(v >> 12) & 0x3F]);
        out.push_back(left > 1 ? kBase64[(v >> 6) & 0x3F] : '=');
        out.push_back(left > 2 ? kBase64[v & 0x3F] : '=');
        column += 4;
        if (column == kMimeLine) {
            if (linebreaks)
                out.append("\r\n");
            column = 0;
        }
    }
    if (linebreaks && column > 0)
        out.append("\r\n");
    return MakeString(out);
}

STRING BINARY::UnMime() const
{
    std::string out;
    out.reserve(static_cast<size_t>(StrLen) / 4 * 3 + 3);
    unsigned char const* p = Bytes(*this);
    uint32_t group = 0;
    int count = 0;
    for (int32_t i = 0; i < StrLen; ++i) {
        if (p[i] == '=')
            break;
        int v = kBase64Decode.Value[p[i]];
        if (v < 0)
            continue; // line breaks, blanks and anything else
        group = (group << 6) | static_cast<uint32_t>(v);
        if (++count == 4) {
            out.push_back(static_cast<char>(group >> 16));
            out.push_back(static_cast<char>(group >> 8));
            out.push_back(static_cast<char>(group));
            group = 0;
            count = 0;
        }
    }
    // The group that "=" closes, or an unpadded last group, still holds one
    // or two whole bytes; a lone character holds none.
    if (count == 2) {
        out.push_back(static_cast<char>(group >> 4));
    } else if (count == 3) {
        out.push_back(static_cast<char>(group >> 10));
        out.push_back(static_cast<char>(group >> 2));
    } else if (count == 1) {
        LOGIT("BINARY::UnMime dropped a final group of one character\n");
    }
    return MakeString(out);
}

STRING BINARY::UnMimeQuotedPrintable() const
{
    std::string out;
    out.reserve(static_cast<size_t>(StrLen));
    unsigned char const* p = Bytes(*this);
    for (int32_t i = 0; i < StrLen;) {
        if (p[i] != '=') {
            out.push_back(static_cast<char>(p[i++]));
            continue;
        }
        if (i + 1 < StrLen && p[i + 1] == '\n') {
            i += 2; // soft line break
            continue;
        }
        if (i + 2 < StrLen && p[i + 1] == '\r' && p[i + 2] == '\n') {
            i += 3;
            continue;
        }
        if (i + 2 < StrLen) {
            int hi = strdetail::HexValue(p[i + 1]);
            int lo = strdetail::HexValue(p[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>((hi << 4) | lo));
                i += 3;
                continue;
            }
        }
        out.push_back('=');
        ++i;
    }
    return MakeString(out);
}

// ---------------------------------------------------------------------------
// The escape form of the text files

STRING BINARY::Quoted(char const* escapechars) const
{
    if (!escapechars)
        escapechars = "";
    std::string out;
    out.reserve(static_cast<size_t>(StrLen) + 16);
    unsigned char const* p = Bytes(*this);
    for (int32_t i = 0; i < StrLen; ++i) {
        unsigned char c = p[i];
        switch (c) {
        case '\\':
            out.append("\\\\");
            continue;
        case 0x00:
            out.append("\\0");
            continue;
        case '\r':
            out.append("\\r");
            continue;
        case '\n':
            out.append("\\n");
            continue;
        case '\t':
            out.append("\\t");
            continue;
        case 0x1A:
            out.append("\\z");
            continue;
        default:
            break;
        }
        if (c >= 0x20 && c <= 0x7F && !strchr(escapechars, c)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        out.append("\\x");
        out.push_back(kHexDigits[c >> 4]);
        out.push_back(kHexDigits[c & 0x0F]);
    }
    return MakeString(out);
}

BINARY BINARY::UnQuoted(bool lenient) const
{
    std::string out;
    out.reserve(static_cast<size_t>(StrLen));
    unsigned char const* p = Bytes(*this);
    for (int32_t i = 0; i < StrLen;) {
        unsigned char c = p[i];
        if (c != '\\') {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        if (i + 1 >= StrLen) {
            // A backslash that ends the text escapes nothing; keep it.
            LOGIT("BINARY::UnQuoted kept a trailing backslash\n");
            out.push_back('\\');
            ++i;
            continue;
        }
        unsigned char e = p[i + 1];
        switch (e) {
        case 'r':
            out.push_back('\r');
            break;
        case '\\':
            out.push_back('\\');
            break;
        case 'n':
            out.push_back('\n');
            break;
        case '0':
            out.push_back('\0');
            break;
        case 'z':
            out.push_back('\x1A');
            break;
        case 't':
            out.push_back('\t');
            break;
        case 'x': {
            int hi = i + 2 < StrLen ? strdetail::HexValue(p[i + 2]) : -1;
            int lo = i + 3 < StrLen ? strdetail::HexValue(p[i + 3]) : -1;
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>((hi << 4) | lo));
                i += 4;
                continue;
            }
            // A cut or malformed \x escape stays as it was written; the
            // characters behind it are read normally.
            LOGIT("BINARY::UnQuoted %s failed at offset %d\n",
                  hi < 0 ? "isxdigit(xdigit[0])" : "isxdigit(xdigit[1])", i);
            out.append("\\x");
            break;
        }
        default:
            if (lenient) {
                out.push_back('\\');
            } else {
                LOGIT("BINARY::UnQuoted FALSE: unknown escape \\%c at offset %d\n", e, i);
            }
            out.push_back(static_cast<char>(e));
            break;
        }
        i += 2;
    }
    return MakeBinary(out);
}

// ---------------------------------------------------------------------------
// UTF-8

STRING STRING::UtfEncode() const
{
    std::string out;
    out.reserve(static_cast<size_t>(StrLen) + static_cast<size_t>(StrLen) / 4);
    unsigned char const* p = Bytes(*this);
    for (int32_t i = 0; i < StrLen; ++i) {
        unsigned char c = p[i];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return MakeString(out);
}

STRING STRING::UtfDecode() const
{
    // Characters become their 1252 bytes (the result's code page); what
    // 1252 cannot hold becomes '?' or a line-drawing substitute, so a euro
    // sign stays a euro sign and U+0100 does not turn into a NUL byte.
    UNICODE const* uc = UNICODE::GetInstance();
    std::string out;
    out.reserve(static_cast<size_t>(StrLen));
    unsigned char const* p = Bytes(*this);
    int bad = 0;
    int firstbad = -1;
    auto report = [&](int32_t at) {
        if (bad++ == 0)
            firstbad = at;
    };
    for (int32_t i = 0; i < StrLen;) {
        unsigned char b = p[i];
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
            ++i;
            continue;
        }
        int more;
        uint32_t value;
        if (b >= 0xC0 && b <= 0xDF) {
            more = 1;
            value = b & 0x1Fu;
        } else if (b >= 0xE0 && b <= 0xEF) {
            more = 2;
            value = b & 0x0Fu;
        } else if (b >= 0xF0 && b <= 0xF4) {
            more = 3;
            value = b & 0x07u;
        } else {
            report(i); // a stray continuation byte, or no lead byte at all
            ++i;
            continue;
        }
        int k = 1;
        while (k <= more && i + k < StrLen && (p[i + k] & 0xC0) == 0x80) {
            value = (value << 6) | (p[i + k] & 0x3Fu);
            ++k;
        }
        if (k <= more) {
            // Cut off by the end of the text or by a byte that does not
            // continue it; that byte is read afresh.
            report(i);
            out.push_back('?');
            i += k;
            continue;
        }
        static constexpr uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
        if (value < kMinimum[more] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
            report(i);
            out.push_back('?');
        } else {
            out.push_back(uc->ToForcedCodepageChar(static_cast<wchar_t>(value), 1252));
        }
        i += more + 1;
    }
    if (bad)
        LOGIT("STRING::UtfDecode %d malformed sequences, the first at offset %d\n", bad, firstbad);
    return MakeString(out);
}

STRING WSTRING::AsUtf8() const
{
    STRING result;
    if (!Buffer)
        return result;
    int32_t n = Length();
    std::string out;
    out.reserve(static_cast<size_t>(n) + 8);
    wchar_t const* chars = Buf();
    char buf[4];
    for (int32_t i = 0; i < n; ++i) {
        wchar_t c = chars[i];
        if (c >= 0 && c < 0x80)
            out.push_back(static_cast<char>(c));
        else
            out.append(buf, static_cast<size_t>(UNICODE::Utf8Encode(c, buf)));
    }
    return MakeString(out);
}

// ---------------------------------------------------------------------------
// The scrambler

STRING BINARY::AsShuffle(char const* password) const
{
    std::string key = ShuffleKey(static_cast<size_t>(StrLen), password);
    BINARY data(Buffer ? Buffer : "", StrLen);
    auto* p = reinterpret_cast<unsigned char*>(data.Buffer);
    for (int32_t i = 0; i < StrLen; ++i) {
        auto pos = static_cast<size_t>(i);
        p[i] = static_cast<unsigned char>(SwapBits(p[i], pos) ^ static_cast<unsigned char>(key[pos % key.size()]) ^
                                          ((pos % 16) * 4));
    }
    return data.AsMime(0);
}

BINARY BINARY::UnShuffle(char const* password) const
{
    STRING data = UnMime();
    std::string key = ShuffleKey(static_cast<size_t>(data.StrLen), password);
    auto* p = reinterpret_cast<unsigned char*>(data.Buffer);
    for (int32_t i = 0; i < data.StrLen; ++i) {
        auto pos = static_cast<size_t>(i);
        p[i] = SwapBits(static_cast<unsigned char>(p[i] ^ static_cast<unsigned char>(key[pos % key.size()]) ^
                                                   ((pos % 16) * 4)),
                        pos);
    }
    return BINARY(data.Buffer ? data.Buffer : "", data.StrLen);
}
