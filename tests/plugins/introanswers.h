// Intro answers of the test plug-in, good and broken, made from a seed. The
// plug-in writes them into the host's buffers; the tests make the same
// answer to know whether the host must take it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace introanswers {

// How big the host's buffers are at least: the names buffer (256 bytes) and
// the id array as the host allocates them, with their guard areas; a broken
// answer writes past the first part, never past the whole.
constexpr int kNames = 256;
constexpr int kNameSlack = 4096;
constexpr int kIds = 64;
constexpr int kIdSlack = 1024;

enum Fault {
    None,
    CountTooHigh,
    CountTooLow,
    EmptyName,
    IdOutOfRange,
    NamesOverflow,
    IdsOverflow,
    LongName,
    BarInName,
    NoId,
    NullObject,
    ZeroCount,
    FaultCount,
};

struct PLAN {
    Fault fault = None;
    int count = 0;          // sub-modules written
    int firstId = -1;
    bool accepted = false;  // the host must record it
};

// A small deterministic generator (the test and the plug-in must agree).
struct RNG {
    uint32_t s;
    explicit RNG(uint32_t seed) : s(seed * 2654435761u + 12345u) {}
    uint32_t Next()
    {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
    int Range(int lo, int hi) { return lo + static_cast<int>(Next() % static_cast<uint32_t>(hi - lo + 1)); }
};

// Writes the answer of seed (fault chosen by the seed, or forced) into names
// and ids when they are given, and returns the count Intro returns.
inline int Write(uint32_t seed, int forced, char* names, int* ids, PLAN* plan)
{
    RNG rng(seed);
    PLAN p;
    p.fault = forced >= 0 ? static_cast<Fault>(forced)
                          : (rng.Range(0, 1) ? None : static_cast<Fault>(rng.Range(1, FaultCount - 1)));
    int n = rng.Range(1, 4);
    std::string text;
    int written[4];
    for (int i = 0; i < n; ++i) {
        int len = rng.Range(1, 20);
        std::string name;
        for (int k = 0; k < len; ++k)
            name += static_cast<char>('A' + rng.Range(0, 25));
        name += static_cast<char>('0' + i); // distinct names
        if (p.fault == EmptyName && i == n - 1)
            name.clear();
        if (p.fault == LongName && i == 0)
            name.assign(70, 'L');
        if (p.fault == BarInName && i == 0)
            name[0] = '|';
        text += name;
        text += '\0';
        written[i] = rng.Range(0, 15);
    }
    if (p.fault == IdOutOfRange)
        written[n - 1] = rng.Range(0, 1) ? rng.Range(16, 400) : -rng.Range(2, 50);
    int count = n;
    if (p.fault == CountTooHigh)
        count = n + rng.Range(1, 3);
    if (p.fault == CountTooLow)
        count = n > 1 ? n - 1 : 0;
    if (p.fault == ZeroCount)
        count = 0;
    if (names && ids) {
        if (p.fault != NoId) {
            memcpy(names, text.data(), text.size());
            for (int i = 0; i < n; ++i)
                ids[i] = written[i];
        }
        if (p.fault == NamesOverflow)
            memset(names, 'X', static_cast<size_t>(kNames + rng.Range(1, kNameSlack)));
        if (p.fault == IdsOverflow)
            ids[kIds + rng.Range(0, kIdSlack - 1)] = 7;
    }
    p.count = n;
    p.firstId = written[0];
    p.accepted = p.fault == None;
    if (plan)
        *plan = p;
    return p.fault == NoId ? rng.Range(0, 3) : count;
}

} // namespace introanswers
