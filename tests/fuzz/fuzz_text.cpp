// libFuzzer entry for the text decoders: the UTF-8 decoder split at a
// point the input chooses must agree with one call, and every decoder of
// the text forms must survive any bytes and give back what its encoder
// wrote.
#include "velmot/core/unicode.h"
#include "velmot/core/wstring.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void Check(bool ok)
{
    if (!ok)
        abort();
}

bool Same(BINARY const& a, BINARY const& b)
{
    return a.StrLen == b.StrLen && (a.StrLen == 0 || memcmp(a.Buffer, b.Buffer, static_cast<size_t>(a.StrLen)) == 0);
}

bool SameWide(WSTRING const& a, WSTRING const& b)
{
    return a.Length() == b.Length() && wmemcmp(a.Buf(), b.Buf(), static_cast<size_t>(a.Length())) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size == 0 || size > 4096)
        return 0;
    UNICODE const& uc = *UNICODE::GetInstance();
    auto const* text = reinterpret_cast<char const*>(data + 1);
    size_t n = size - 1;
    size_t cut = n ? data[0] % (n + 1) : 0;

    UNICODE_UTF8STATE whole_state;
    WSTRING whole;
    uc.Utf8Decoder(text, n, whole, &whole_state);
    UNICODE_UTF8STATE st;
    WSTRING parts;
    uc.Utf8Decoder(text, cut, parts, &st);
    uc.Utf8Decoder(text + cut, n - cut, parts, &st);
    Check(SameWide(whole, parts));
    Check(st.Remaining == whole_state.Remaining && st.Value == whole_state.Value);

    // Whatever was decoded encodes to UTF-8 that decodes to the same.
    WSTRING complete;
    uc.Utf8Decoder(text, n, complete, nullptr);
    STRING utf8 = complete.AsUtf8();
    WSTRING again;
    again.FromUtf8(utf8.Buf(), utf8.Length());
    Check(SameWide(complete, again));

    BINARY bytes(text, static_cast<int32_t>(n));
    bytes.UnHex();
    bytes.UnMime();
    bytes.UnMimeQuotedPrintable();
    bytes.UnQuoted(data[0] & 1);
    STRING s;
    s.Make(static_cast<int32_t>(n), text);
    s.UtfDecode();
    Check(Same(bytes.Quoted("={}").UnQuoted(false), bytes));
    Check(Same(bytes.AsMime(data[0] & 2).UnMime(), bytes));
    Check(Same(bytes.AsHex().UnHex(), bytes));
    Check(Same(s.UtfEncode().UtfDecode(), s));
    return 0;
}
