// Four-character codes.
//
// Event classes and kinds, parameter names and types, view kinds and
// property tags are 32-bit values made of four characters, the first one in
// the most significant byte, so 'wind' reads the same in a hex dump and in
// the source.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

using OSType = uint32_t;

constexpr OSType FourCC(const char (&s)[5])
{
    return (static_cast<uint32_t>(static_cast<uint8_t>(s[0])) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 8) |
           static_cast<uint32_t>(static_cast<uint8_t>(s[3]));
}

// The code as printable text for logs: four characters when all of them are
// printable ASCII, else the decimal number.
inline std::string FourCCText(OSType code)
{
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        char c = static_cast<char>((code >> shift) & 0xFF);
        if (c < 0x20 || c > 0x7E)
            return std::to_string(code);
        s.push_back(c);
    }
    return s;
}

} // namespace plat
