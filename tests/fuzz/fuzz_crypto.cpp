// libFuzzer entry for the text forms of the ciphers: String2Code stays
// within its output and reads back what Code2String wrote, decimal key
// parts either convert exactly or are refused, and a key built from any
// record text either works or fails its operations with -1.
#include "velmot/core/crypto.h"
#include "velmot/core/hash.h"

#include <openssl/bn.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Check(bool ok)
{
    if (!ok)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size > 65536)
        return 0;
    STRING text;
    text.Make(static_cast<int32_t>(size), reinterpret_cast<char const*>(data));

    // A small output surrounded by guard bytes that must stay untouched.
    char area[48];
    memset(area, 0x5A, sizeof area);
    int32_t got = DES3::String2Code(text, area + 8, 32);
    Check(got >= -1 && got <= 32);
    for (int i = 0; i < 8; ++i)
        Check(area[i] == 0x5A && area[40 + i] == 0x5A);

    STRING hex = DES3::Code2String(text.Buf(), text.Length(), size % 2 == 0);
    BINARY back;
    Check(DES3::String2Code(hex, back) == text.Length());
    Check(back.Length() == 0 || memcmp(back.Buffer, text.Buf(), static_cast<size_t>(back.Length())) == 0);

    if (bignum_st* number = CYPHER::DecToBigNum(text)) {
        STRING dec = CYPHER::BigNumToDec(number);
        // Leading zeros are the only difference a round trip may show.
        std::string in(text.Buf(), static_cast<size_t>(text.Length()));
        size_t first = in.find_first_not_of('0');
        in = first == std::string::npos ? "0" : in.substr(first);
        Check(in == dec.Buf());
        BN_free(number);
    }

    // The input as the text form of a key record.
    HASH record(text);
    CYPHER key(record);
    int32_t n = key.Size();
    Check(n >= 0 && n <= CYPHER::MAXRESULT);
    BINARY message;
    message.Make(n > 11 ? 1 : 0, "m");
    BINARY out;
    int rc = key.PublicEncrypt(message, out);
    Check(rc == -1 || rc == n);
    BINARY block;
    block.Make(n);
    rc = key.PrivateDecrypt(block, out);
    Check(rc <= n);
    rc = key.PublicDecrypt(block, out);
    Check(rc <= n);
    return 0;
}
