// Wide and byte strings to and from platform strings, and CFSTRING.
//
// The platform string holds UTF-16 units; pairs are joined into single
// characters on the way in and split on the way out. Byte text crosses the
// bridge in an explicit encoding, and a character that the target cannot
// hold is either replaced (narrow STRINGs, which must always get a value)
// or makes the conversion fail (CFSTRING::ToBuffer, whose callers check).
#include "velmot/core/logit.h"
#include "velmot/core/unicode.h"
#include "velmot/core/wstring.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Byte text in the default encoding is read as Windows 1252 where that page
// defines the byte and as ISO 8859-1 where it does not, so that 1252 text
// (the system's own) keeps its euro sign, quotes and dashes.
wchar_t Latin1Char(UNICODE const& uc, unsigned char b)
{
    wchar_t c = uc.FromCodepage(static_cast<char>(b), 1252);
    return (c == 127 && b != 127) ? static_cast<wchar_t>(b) : c;
}

// The byte of c in the reading above, or -1.
int Latin1Byte(UNICODE const& uc, wchar_t c)
{
    char b = uc.ToForcedCodepageChar(c, 1252);
    return Latin1Char(uc, static_cast<unsigned char>(b)) == c ? static_cast<unsigned char>(b) : -1;
}

// The built-in page whose platform encoding number this is, or -1.
int PageOfEncoding(UNICODE const& uc, uint32_t encoding)
{
    for (int i = 0; i < uc.PageCount; ++i) {
        if (static_cast<uint32_t>(uc.Pages[i].Encoding) == encoding)
            return i;
    }
    return -1;
}

plat::Text TextFromWide(wchar_t const* chars, int32_t n)
{
    WSTRING w(chars, n);
    std::u16string units(static_cast<size_t>(n) * 2 + 1, u'\0');
    int32_t written = w.ToUniChars(reinterpret_cast<unsigned short*>(units.data()), static_cast<int32_t>(units.size()));
    units.resize(static_cast<size_t>(written));
    return plat::Text::FromUnits(units);
}

} // namespace

// ---------------------------------------------------------------------------
// WSTRING

WSTRING::WSTRING(plat::Text const& text) : WSTRING()
{
    FromCFStringRef(text);
}

WSTRING& WSTRING::operator=(plat::Text const& text)
{
    FromCFStringRef(text);
    return *this;
}

void WSTRING::FromCFStringRef(plat::Text const& text)
{
    if (text.IsNull()) {
        Kill();
        return;
    }
    std::u16string_view units = text.Units();
    Cut(0);
    PrepareAppend(0);
    Append(reinterpret_cast<unsigned short const*>(units.data()), static_cast<int32_t>(units.size()));
}

// ---------------------------------------------------------------------------
// STRING

STRING::STRING(plat::Text const& text) : STRING()
{
    *this = text;
}

STRING& STRING::operator=(plat::Text const& text)
{
    CodePage = UNICODE_CPDEFAULT;
    if (text.IsNull()) {
        Kill();
        return *this;
    }
    // Window titles, control texts and registry values in other scripts
    // keep what 1252 can show instead of vanishing altogether.
    WSTRING wide(text);
    FromWideChar(wide.Buf(), wide.Length(), UNICODE_CPDEFAULT);
    return *this;
}

STRING::STRING(plat::Number const& number) : STRING()
{
    int32_t value = 0;
    number.GetInt32(value);
    char buf[16];
    int n = snprintf(buf, sizeof buf, "%d", value);
    BlockSize = 16;
    Make(n, buf);
    CodePage = UNICODE_CPDEFAULT;
}

// ---------------------------------------------------------------------------
// CFSTRING

plat::Text CFSTRING::TextOf(char const* text)
{
    CFSTRING cf;
    cf = text ? text : "";
    return cf.Ref;
}

plat::Text CFSTRING::TextOf(wchar_t const* text)
{
    CFSTRING cf;
    cf = text ? text : L"";
    return cf.Ref;
}

void CFSTRING::Release()
{
    Ref = plat::Text();
    Owned = false;
    free(CBuffer);
    CBuffer = nullptr;
}

void CFSTRING::MakeFromBytes(char const* text, size_t len)
{
    Release();
    if (!text)
        return;
    UNICODE const& uc = *UNICODE::GetInstance();
    std::string_view bytes(text, len);
    if (Encoding == ENCODING_UTF8) {
        Ref = plat::Text::FromUtf8(bytes);
    } else {
        int page = Encoding == ENCODING_LATIN1 ? -1 : PageOfEncoding(uc, Encoding);
        if (Encoding != ENCODING_LATIN1 && page < 0) {
            LOGIT("CFSTRING encoding 0x%x is not known\n", Encoding);
            return;
        }
        std::u16string units(len, u'\0');
        for (size_t i = 0; i < len; ++i) {
            auto b = static_cast<unsigned char>(bytes[i]);
            wchar_t c = page < 0 ? Latin1Char(uc, b) : uc.FromCodepage(static_cast<char>(b), uc.Pages[page].Id);
            units[i] = static_cast<char16_t>(c);
        }
        Ref = plat::Text::FromUnits(units);
    }
    if (Ref.IsNull())
        LOGIT("CFSTRING text of %zu bytes is not valid in encoding 0x%x\n", len, Encoding);
    Owned = !Ref.IsNull();
}

CFSTRING& CFSTRING::operator=(char const* text)
{
    MakeFromBytes(text, text ? strlen(text) : 0);
    return *this;
}

CFSTRING& CFSTRING::operator=(STRING const& text)
{
    MakeFromBytes(text.IsSet() ? text.Buf() : nullptr, static_cast<size_t>(text.Length()));
    return *this;
}

CFSTRING& CFSTRING::operator=(wchar_t const* text)
{
    Release();
    if (!text)
        return *this;
    Ref = TextFromWide(text, static_cast<int32_t>(wcslen(text)));
    Owned = true;
    return *this;
}

bool CFSTRING::Bytes(std::string& out) const
{
    out.clear();
    if (Ref.IsNull())
        return false;
    if (Encoding == ENCODING_UTF8)
        return Ref.ToUtf8(out);
    UNICODE const& uc = *UNICODE::GetInstance();
    int page = Encoding == ENCODING_LATIN1 ? -1 : PageOfEncoding(uc, Encoding);
    if (Encoding != ENCODING_LATIN1 && page < 0)
        return false;
    WSTRING wide(Ref);
    out.reserve(static_cast<size_t>(wide.Length()));
    for (int32_t i = 0; i < wide.Length(); ++i) {
        wchar_t c = wide.Buf()[i];
        int b;
        if (page < 0) {
            b = Latin1Byte(uc, c);
        } else {
            UNICODE_CODEPAGE cp = uc.Pages[page].Id;
            char byte = uc.ToForcedCodepageChar(c, cp);
            b = uc.FromCodepage(byte, cp) == c ? static_cast<unsigned char>(byte) : -1;
        }
        if (b < 0) {
            out.clear();
            return false;
        }
        out.push_back(static_cast<char>(b));
    }
    return true;
}

bool CFSTRING::ToBuffer(char* buf, int32_t size) const
{
    if (!buf || size <= 0)
        return false;
    std::string bytes;
    if (!Bytes(bytes) || bytes.size() + 1 > static_cast<size_t>(size)) {
        buf[0] = 0;
        return false;
    }
    memcpy(buf, bytes.data(), bytes.size());
    buf[bytes.size()] = 0;
    return true;
}

char const* CFSTRING::CString()
{
    free(CBuffer);
    CBuffer = nullptr;
    std::string bytes;
    if (!Bytes(bytes))
        return nullptr;
    CBuffer = static_cast<char*>(malloc(bytes.size() + 1));
    if (!CBuffer)
        return nullptr;
    memcpy(CBuffer, bytes.data(), bytes.size());
    CBuffer[bytes.size()] = 0;
    return CBuffer;
}
