// CRC-32 (without inversion), MD5 and HMAC-MD5, checked against Python's
// zlib, hashlib and hmac (checksums_ref.py) and a few published values.
#include "velmot/core/checksums.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Hex(BINARY const& b)
{
    std::string out;
    char two[3];
    for (int32_t i = 0; i < b.StrLen; ++i) {
        snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(b.Buffer[i]));
        out += two;
    }
    return out;
}

std::string Unhex(std::string const& hex)
{
    std::string out;
    if (hex == "-")
        return out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

uint32_t CrcOf(std::string const& data)
{
    CRC crc;
    return crc.UpdateCrc(data.data(), static_cast<uint32_t>(data.size()));
}

} // namespace

TEST(Checksums, CrcBasics)
{
    CRC crc;
    EXPECT_EQ(0u, crc.Value);
    EXPECT_EQ(0u, crc.UpdateCrc(static_cast<unsigned char>(0))); // the table's first entry is 0
    EXPECT_EQ(0u, crc.UpdateCrc("", 0));
    EXPECT_EQ(0x2DFD2D88u, crc.UpdateCrc("123456789", -1)); // -1: up to the terminating zero
    EXPECT_EQ(0x2DFD2D88u, crc.Value);

    CRC bytes;
    for (char c : std::string("123456789"))
        bytes.UpdateCrc(c);
    EXPECT_EQ(0x2DFD2D88u, bytes.Value);
    EXPECT_EQ(0x2DFD2D88u, STRING("123456789").Crc());
    EXPECT_EQ(0u, STRING().Crc());

    // Preset and inverted by the caller it is the published CRC-32.
    CRC standard;
    standard.Value = 0xFFFFFFFF;
    EXPECT_EQ(0xCBF43926u, ~standard.UpdateCrc("123456789", CRC::TEXTLENGTH));

    EXPECT_EQ(0x77073096u, CRC::Cr3Tab[1]);
    EXPECT_EQ(0x2D02EF8Du, CRC::Cr3Tab[255]);
}

TEST(Checksums, CrcFromFile)
{
    testutil::TempDir dir;
    std::string content;
    for (int i = 0; i < 3000; ++i)
        content += static_cast<char>(i * 13 + 1);
    std::string const path = dir.file("3000.bin");
    testutil::WriteFile(path, content);

    struct Case {
        uint32_t limit;
        bool result;
        size_t covered;
    };
    const std::vector<Case> cases = {
        {2048, true, 2048}, {3000, true, 3000}, {4096, false, 3000}, {CRC::TEXTLENGTH, true, 3000}, {0, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        CRC crc;
        EXPECT_EQ(c.result, crc.UpdateFromFile(path.c_str(), c.limit));
        EXPECT_EQ(CrcOf(content.substr(0, c.covered)), crc.Value);
    }
    CRC crc;
    EXPECT_FALSE(crc.UpdateFromFile(dir.file("missing").c_str()));
    EXPECT_FALSE(crc.UpdateFromFile(dir.path().c_str())); // opens, but reading fails
    EXPECT_FALSE(crc.UpdateFromFile(nullptr));
}

TEST(Checksums, PublishedDigests)
{
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Hex(MDFIVE::GetMD5("")));
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Hex(MDFIVE::GetMD5("abc", -1)));
    EXPECT_EQ("9294727a3638bb1c13f48ef8158bfc9d",
              Hex(MDFIVE::GetKeyedMD5(std::string(16, '\x0b').c_str(), 16, "Hi There", -1)));
    EXPECT_EQ("750c783e6ab0b503eaa86e310a5db738",
              Hex(MDFIVE::GetKeyedMD5(BINARY("Jefe", 4), BINARY("what do ya want for nothing?", 28))));

    MDFIVE const digest("abc");
    EXPECT_EQ(16, digest.StrLen);
    EXPECT_EQ(1252, digest.CodePage);
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Hex(digest));
    MDFIVE const none(nullptr);
    ASSERT_NE(nullptr, none.Buffer);
    EXPECT_EQ(0, none.StrLen);

    // A key longer than a block is replaced by its digest.
    std::string const longkey(80, 'k');
    BINARY const keydigest = MDFIVE::GetMD5(longkey.c_str());
    EXPECT_EQ(Hex(MDFIVE::GetKeyedMD5(longkey.c_str(), 80, "text", 4)),
              Hex(MDFIVE::GetKeyedMD5(keydigest, BINARY("text", 4))));

    // Updates in pieces give the same digest; Final clears the context.
    std::string const text = std::string(1000, 'p') + "tail";
    MDFIVE_CTX ctx;
    MDFIVE_Init(&ctx);
    auto const* p = reinterpret_cast<unsigned char const*>(text.data());
    for (size_t at = 0, step = 1; at < text.size(); at += step, step = step * 3 % 97 + 1)
        MDFIVE_Update(&ctx, p + at, static_cast<unsigned int>(std::min(step, text.size() - at)));
    unsigned char out[16];
    MDFIVE_Final(out, &ctx);
    EXPECT_EQ(Hex(MDFIVE::GetMD5(text.c_str())), Hex(BINARY(reinterpret_cast<char*>(out), 16)));
    MDFIVE_CTX zero;
    memset(&zero, 0, sizeof zero);
    EXPECT_EQ(0, memcmp(&zero, &ctx, sizeof ctx));
}

TEST(Checksums, AgreeWithPython)
{
    std::string out;
    ASSERT_EQ(0, testutil::RunProgram({"python3", testutil::SourceDir() + "/velmot/core/checksums_ref.py"}, &out));
    std::istringstream lines(out);
    std::string kind;
    int crcs = 0, md5s = 0, hmacs = 0;
    while (lines >> kind) {
        if (kind == "crc") {
            std::string data, expect;
            lines >> data >> expect;
            char got[9];
            snprintf(got, sizeof got, "%08x", CrcOf(Unhex(data)));
            EXPECT_EQ(expect, got) << data.substr(0, 80);
            ++crcs;
        } else if (kind == "md5") {
            std::string data, expect;
            lines >> data >> expect;
            std::string const bytes = Unhex(data);
            EXPECT_EQ(expect, Hex(MDFIVE::GetMD5(bytes.data(), static_cast<int32_t>(bytes.size()))))
                << data.substr(0, 80);
            ++md5s;
        } else if (kind == "hmac") {
            std::string key, data, expect;
            lines >> key >> data >> expect;
            std::string const k = Unhex(key);
            std::string const d = Unhex(data);
            EXPECT_EQ(expect, Hex(MDFIVE::GetKeyedMD5(k.data(), static_cast<int32_t>(k.size()), d.data(),
                                                      static_cast<int32_t>(d.size()))))
                << key;
            ++hmacs;
        } else {
            FAIL() << "unknown line kind " << kind;
        }
    }
    EXPECT_GT(crcs, 200);
    EXPECT_GT(md5s, 200);
    EXPECT_GE(hmacs, 13);
}
