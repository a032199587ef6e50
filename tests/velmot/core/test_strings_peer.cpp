// Strings made in one binary and changed or freed in another (here: the test
// program and a shared object of its own), and the block cache used from
// several threads at once.
#include "velmot/core/strings.h"
#include "tests/velmot/core/strings_peer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

TEST(StringPeers, MadeInOneBinaryFreedInTheOther)
{
    // Made by the peer, grown and freed here.
    STRING* theirs = PeerNewString("from the peer");
    theirs->Append(" and here");
    for (int i = 0; i < 5000; ++i)
        theirs->Append('.');
    EXPECT_EQ(std::string("from the peer and here"), std::string(theirs->Buffer, 22));
    EXPECT_EQ(22 + 5000, theirs->StrLen);
    delete theirs;

    // Made here, grown and freed by the peer.
    auto* ours = new STRING("made here");
    PeerGrow(*ours, 10000);
    EXPECT_EQ(9 + 10000, ours->StrLen);
    EXPECT_EQ('9', ours->Buffer[ours->StrLen - 1]);
    PeerDeleteString(ours);

    // By value both ways.
    STRING v = PeerMakeByValue("abc", 1000);
    EXPECT_EQ(3000, v.StrLen);
    v.Append("tail");
    STRING mine("handed over");
    PeerTakeAndFree(mine);
    PeerTakeAndFree(std::move(v));
    EXPECT_EQ(nullptr, v.Buffer);

    // A 96-byte block freed by the peer goes to the shared cache and is the
    // next one handed out here.
    STRING* small = PeerNewString("x");
    char const* block = PeerBlockOf(*small);
    PeerDeleteString(small);
    STRING next("y");
    EXPECT_EQ(block, next.Buffer);
}

TEST(StringPeers, BlockCacheFromManyThreads)
{
    constexpr int kThreads = 8;
    constexpr int kRounds = 20000;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            char expect[64];
            for (int i = 0; i < kRounds; ++i) {
                snprintf(expect, sizeof expect, "thread %d round %d", t, i);
                STRING a(expect);
                STRING b = a;
                b.Append("+");
                if (i % 100 == 0) {
                    STRING big;
                    big.Make(5000); // a heap block, never cached
                }
                if (strncmp(a.Buffer, expect, sizeof expect) != 0 || b.StrLen != a.StrLen + 1 ||
                    a.BufLen != 96)
                    failures.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_LE(BINARY::CachedBlocks(), 127);
    EXPECT_GE(BINARY::CachedBlocks(), 2);
}
