// Checksums and digests: a running CRC-32 and MD5 with its keyed form
// HMAC-MD5.
//
// The CRC uses the reflected CRC-32 table (polynomial 0xEDB88320) without
// the usual start and final inversion: the value starts at 0 and is used as
// it stands, so short identifiers derived from texts stay what they always
// were. Preset `Value` to 0xFFFFFFFF for the published CRC-32 (then invert).
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

#include <array>

namespace crcdetail {

// The reflected CRC-32 table (ISO-HDLC polynomial 0xEDB88320).
constexpr std::array<uint32_t, 256> MakeTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

} // namespace crcdetail

class VELMOT_EXPORT CRC {
public:
    // A length that means "up to the terminating zero". Lengths are 32-bit
    // so that callers may pass -1.
    static constexpr uint32_t TEXTLENGTH = 0xFFFFFFFF;

    uint32_t Value = 0;

    CRC() = default;

    uint32_t UpdateCrc(unsigned char byte)
    {
        Value = (Value >> 8) ^ Cr3Tab[(Value ^ byte) & 0xFF];
        return Value;
    }
    uint32_t UpdateCrc(char byte) { return UpdateCrc(static_cast<unsigned char>(byte)); }
    uint32_t UpdateCrc(BINARY const& data);
    uint32_t UpdateCrc(char const* data, uint32_t length);

    // Adds at most `limit` bytes of a file. True when the limit is
    // TEXTLENGTH (no limit) and the file was read to its end, or when
    // exactly `limit` bytes were read; false when the file cannot be opened
    // or a read fails.
    bool UpdateFromFile(char const* path, uint32_t limit = TEXTLENGTH, char const* mode = "rb");

    static constexpr std::array<uint32_t, 256> Cr3Tab = crcdetail::MakeTable();
};

// MD5 (RFC 1321).
struct MDFIVE_CTX {
    uint32_t state[4];     // chaining words A, B, C, D
    uint32_t count[2];     // message length in bits, low word first
    unsigned char buffer[64];
};

VELMOT_EXPORT void MDFIVE_Init(MDFIVE_CTX* context);
VELMOT_EXPORT void MDFIVE_Update(MDFIVE_CTX* context, unsigned char const* data, unsigned int length);
// Writes the digest and clears the context.
VELMOT_EXPORT void MDFIVE_Final(unsigned char digest[16], MDFIVE_CTX* context);
// One 64-byte block into the chaining words.
VELMOT_EXPORT void MDFIVE_Transform(uint32_t state[4], unsigned char const block[64]);

// The raw 16-byte MD5 digest of a text, as a code page 1252 STRING (no
// hexadecimal form). Lengths of -1 mean "up to the terminating zero".
class VELMOT_EXPORT MDFIVE : public STRING {
public:
    explicit MDFIVE(char const* text, int32_t length = -1);

    static BINARY GetMD5(char const* data, int32_t length = -1);
    // HMAC-MD5 (RFC 2104, 64-byte blocks).
    static BINARY GetKeyedMD5(char const* key, int32_t keyLength, char const* text, int32_t textLength);
    static BINARY GetKeyedMD5(BINARY const& key, BINARY const& text);
};
