#include "program/screen/codepagetext.h"

#include "velmot/core/wstring.h"

namespace cptext {

bool IsUtf8(int codePage)
{
    return codePage == 1000 || codePage == UNICODE_CPUTF8;
}

void Encode(std::string& out, wchar_t const* text, size_t n, int codePage)
{
    if (!text || n == 0)
        return;
    if (IsUtf8(codePage)) {
        out.reserve(out.size() + n);
        char buf[4];
        for (size_t i = 0; i < n; ++i) {
            auto const c = static_cast<uint32_t>(text[i]);
            if (c < 0x80)
                out += static_cast<char>(c);
            else
                out.append(buf, static_cast<size_t>(UNICODE::Utf8Encode(text[i], buf)));
        }
        return;
    }
    size_t const at = out.size();
    out.resize(at + n);
    UNICODE::GetInstance()->CharsToBytes(text, static_cast<int32_t>(n), out.data() + at, codePage);
}

void Decode(std::wstring& out, char const* bytes, size_t n, int codePage, UNICODE_UTF8STATE* state)
{
    if (!bytes || n == 0)
        return;
    if (IsUtf8(codePage)) {
        WSTRING text;
        UNICODE::GetInstance()->Utf8Decoder(bytes, n, text, state);
        out.append(text.Buf(), static_cast<size_t>(text.Length()));
        return;
    }
    size_t const at = out.size();
    out.resize(at + n);
    UNICODE::GetInstance()->BytesToChars(bytes, static_cast<int32_t>(n), out.data() + at, codePage);
}

int Utf8Length(unsigned char lead)
{
    if (lead >= 0xC0 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF7)
        return 4;
    return 1;
}

} // namespace cptext

namespace cptext {

void DropCredentialCodes(char* text)
{
    if (!text)
        return;
    char* out = text;
    for (char const* in = text; *in;) {
        if (in[0] == '^' && in[1] == '^') {
            *out++ = *in++;
            *out++ = *in++;
        } else if (in[0] == '^' && (in[1] == '%' || in[1] == '&')) {
            in += 2;
        } else {
            *out++ = *in++;
        }
    }
    *out = '\0';
}

} // namespace cptext
