// The fuzz target's body (tests/fuzz/fuzz_corvane.cpp) over inputs made
// here, for the test runs (the sanitizer build takes it too): the recorded
// sessions cut and spliced, sequences with huge parameter lists and
// strings, and random bytes mixed with the introducers of sequences.
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size);

namespace {

int Fuzz(std::string const& input)
{
    return LLVMFuzzerTestOneInput(reinterpret_cast<uint8_t const*>(input.data()), input.size());
}

// The fuzz input: screen size and terminal, then pieces of text (an
// operation byte below 200 takes 1 + op % 64 bytes) and the other events.
std::string Framed(std::string const& stream, std::mt19937& rng)
{
    std::string out;
    out += char(rng() % 256);
    out += char(rng() % 256);
    out += char(rng() % 256);
    for (size_t at = 0; at < stream.size();) {
        uint8_t op = uint8_t(rng() % 256);
        if (op >= 200 && rng() % 4 != 0)
            op %= 200;
        out += char(op);
        if (op < 200) {
            size_t const n = std::min<size_t>(1 + op % 64, stream.size() - at);
            out += stream.substr(at, n);
            at += n;
        } else {
            for (int k = 0; k < 4; ++k)
                out += char(rng() % 256);
        }
    }
    return out;
}

} // namespace

TEST(VtFuzz, StreamsOfEveryKind)
{
    std::mt19937 rng(20240611);
    std::vector<std::string> streams;
    for (char const* name : {"vim", "less", "htop", "mc", "shell"})
        streams.push_back(testutil::ReadFile(testutil::SourceDir() + "/outside/corvane/corpus/" + name + ".rec"));
    std::string huge = "\x1b[";
    for (int i = 0; i < 5000; ++i)
        huge += "99999;";
    huge += "m\x1b]0;" + std::string(100000, 't') + "\x07\x1bP" + std::string(5000, 'd') + "\x1b\\x";
    streams.push_back(huge);
    static char const* const kPieces[] = {"\x1b", "[", "]", "P", "?", ";", ":", "1", "9", "m", "H", "r", "J",
                                          "\x07", "\x9b", "\x9d", "\x18", "\n", "\r", "\b", "\t", "\x0e", "\x0f",
                                          "#", "(", "0", "\xe4\xb8\xad", "\xc3", "\xff", "h", "l", "@", "P"};
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int runs = 0;
    while (std::chrono::steady_clock::now() < deadline || runs < 50) {
        std::string stream;
        switch (runs % 3) {
        case 0: {
            // A recording cut and spliced.
            std::string const& s = streams[rng() % streams.size()];
            size_t const from = rng() % (s.size() + 1);
            stream = s.substr(from, rng() % 4000);
            break;
        }
        case 1:
            for (int n = 0; n < 400; ++n)
                stream += kPieces[rng() % (sizeof kPieces / sizeof kPieces[0])];
            break;
        default:
            for (int n = 0; n < 600; ++n)
                stream += char(rng() % 256);
            break;
        }
        ASSERT_EQ(Fuzz(Framed(stream, rng)), 0);
        ++runs;
    }
    ASSERT_EQ(Fuzz(Framed(huge, rng)), 0);
}
