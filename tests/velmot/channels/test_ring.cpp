// The input ring: contents against a model, stop bytes, pieces, halting,
// positions beyond 2 GiB, waits that sleep.
#include "velmot/channels/ringbuffers.h"

#include "tests/velmot/channels/channeltest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <random>
#include <string>
#include <thread>

using chtest::NowMs;
using chtest::Pattern;

namespace {

std::string ReadAll(RINGBUFFER& ring, int want, int timeoutMs = 0, char const* until = nullptr)
{
    std::string buf(static_cast<size_t>(want), '\0');
    int n = want;
    ring.Read(buf.data(), &n, timeoutMs, until);
    buf.resize(static_cast<size_t>(n));
    return buf;
}

} // namespace

// Random writes and reads that never empty the ring, so the positions wrap
// round the storage in every way; the bytes must come out as a plain queue
// hands them back.
TEST(Ring, BytesComeOutAsTheyWentIn)
{
    RINGBUFFER ring(37);
    std::deque<char> model;
    std::mt19937 rng(7);
    unsigned seed = 1;
    for (int step = 0; step < 5000; ++step) {
        int const room = 37 - static_cast<int>(model.size());
        if (rng() % 2 && room > 0) {
            std::string const data = Pattern(1 + rng() % room, seed++);
            ASSERT_TRUE(ring.Write(data.data(), static_cast<int>(data.size())));
            model.insert(model.end(), data.begin(), data.end());
        } else {
            int const want = 1 + static_cast<int>(rng() % 40);
            std::string const got = ReadAll(ring, want);
            std::string expected;
            for (int i = 0; i < want && !model.empty(); ++i) {
                expected.push_back(model.front());
                model.pop_front();
            }
            ASSERT_EQ(got, expected) << "step " << step;
        }
        ASSERT_EQ(ring.GetNumAvail(), static_cast<int>(model.size()));
    }
}

TEST(Ring, StopSetEndsTheReadAndNulIsData)
{
    struct CASE {
        char const* stop;
        size_t expected; // bytes of "ab\0cd\nef" the read returns
    };
    std::string const data("ab\0cd\nef", 8);
    for (CASE const& c : {CASE{"\n", 6}, CASE{"c", 4}, CASE{"xyz", 8}, CASE{"", 8}, CASE{"f\n", 6}}) {
        SCOPED_TRACE(c.stop);
        RINGBUFFER ring(64);
        ring.Write(data.data(), 8);
        EXPECT_EQ(ReadAll(ring, 100, 0, c.stop), data.substr(0, c.expected));
        EXPECT_EQ(ring.GetNumAvail(), static_cast<int>(8 - c.expected));
    }
}

TEST(Ring, SizeChangesOnlyWhileEmpty)
{
    RINGBUFFER ring(16);
    ring.Write("abc", 3);
    EXPECT_FALSE(ring.SetBufferSize(64));
    EXPECT_EQ(ring.GetSize(), 16);
    EXPECT_EQ(ReadAll(ring, 10), "abc");
    EXPECT_TRUE(ring.SetBufferSize(64));
    EXPECT_EQ(ring.GetSize(), 64);
}

// A write larger than the whole ring goes in as the reader makes room.
TEST(Ring, WriteLargerThanTheRingGoesInPieces)
{
    RINGBUFFER ring(64);
    std::string const data = Pattern(100000, 3);
    std::atomic<bool> written{false};
    std::thread writer([&] { written = ring.Write(data.data(), static_cast<int>(data.size())); });
    std::string got;
    long long const end = NowMs() + 20000;
    while (got.size() < data.size() && NowMs() < end)
        got += ReadAll(ring, 50, 100);
    writer.join();
    EXPECT_TRUE(written);
    EXPECT_EQ(got, data);
}

TEST(Ring, HaltAndWakeEndTheWaits)
{
    RINGBUFFER ring(8);
    ring.Write("12345678", 8);
    std::atomic<int> result{-1};
    std::thread writer([&] { result = ring.Write("abcdefgh", 8) ? 1 : 0; });
    EXPECT_FALSE(chtest::WaitUntil([&] { return result != -1; }, 100)); // it waits for room
    ring.Halt(true);
    ASSERT_TRUE(chtest::WaitUntil([&] { return result != -1; }, 5000));
    writer.join();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(ring.Write("x", 1)); // still full, and halted: no wait
    ring.Halt(false);

    RINGBUFFER empty(8);
    std::atomic<int> got{-1};
    std::thread reader([&] { got = static_cast<int>(ReadAll(empty, 4, -1).size()); });
    EXPECT_FALSE(chtest::WaitUntil([&] { return got != -1; }, 100));
    empty.Wake();
    ASSERT_TRUE(chtest::WaitUntil([&] { return got != -1; }, 5000));
    reader.join();
    EXPECT_EQ(got, 0);
}

// A ring that never runs empty moves its positions on for ever: past 2 GiB
// they still find the right bytes.
TEST(Ring, PositionsGoPast2GiB)
{
    constexpr int kSize = 1 << 16;
    RINGBUFFER ring(kSize);
    std::string const chunk = Pattern(kSize - 1, 11);
    ring.Write("#", 1);
    long long moved = 0;
    std::string out(static_cast<size_t>(kSize), '\0');
    std::string last;
    while (moved < (2LL << 30) + (64LL << 20)) {
        ASSERT_TRUE(ring.Write(chunk.data(), kSize - 1));
        int n = kSize - 1;
        ASSERT_TRUE(ring.Read(out.data(), &n, 0, nullptr));
        ASSERT_EQ(n, kSize - 1);
        ASSERT_EQ(ring.GetNumAvail(), 1);
        moved += n;
        last.assign(out.data(), static_cast<size_t>(n));
    }
    // The last read returned the byte kept back, then the chunk less its end.
    EXPECT_EQ(last, chunk.substr(kSize - 2) + chunk.substr(0, kSize - 2));
    EXPECT_EQ(ReadAll(ring, 8), chunk.substr(kSize - 2));
}

// A reader without a time-out sleeps until bytes come.
TEST(Ring, AReaderWithoutTimeOutSleeps)
{
    RINGBUFFER ring(64);
    std::atomic<double> cpu{-1};
    std::string got;
    std::thread reader([&] {
        double const start = chtest::ThreadCpuMs();
        got = ReadAll(ring, 10, -1);
        cpu = chtest::ThreadCpuMs() - start;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ring.Write("hello", 5);
    reader.join();
    EXPECT_EQ(got, "hello");
    EXPECT_LT(cpu, 100.0);
}
