// The channel base over a scripted device: Read and its passes, the reader
// thread and the data callback, the text query, misuse reports.
#include "velmot/channels/ios.h"

#include "tests/velmot/channels/channeltest.h"
#include "tests/velmot/channels/fakeio.h"
#include "tests/velmot/core/assertrecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

using chtest::FAKEIO;
using chtest::NowMs;
using chtest::WaitUntil;

namespace {

constexpr unsigned long kNoDaemon = BASEIO_DEVICE_NO_DAEMON;

std::string ReadText(BASEIO& io, int want, int timeoutMs, char const* until = nullptr)
{
    std::string buf(static_cast<size_t>(want), '\0');
    int n = want;
    io.Read(buf.data(), &n, timeoutMs, until);
    buf.resize(static_cast<size_t>(n));
    return buf;
}

} // namespace

TEST(BaseIo, TextQueryOfTheBase)
{
    FAKEIO io(kNoDaemon);
    struct CASE {
        char const* key;
        char const* answer;
    };
    for (CASE const& c : {CASE{"ONLINE", "0"}, CASE{"lasterror", "0"}, CASE{"LastErrorString", "<unknown>"},
                          CASE{"OWNID", "fake"}, CASE{"CALLERID", "<unknown>"}, CASE{"devicename", "BASEIO"},
                          CASE{"NOSUCHKEY", "BASEIO::BAD-REQUEST"}}) {
        EXPECT_STREQ(io.GetInfo(c.key).Buf(), c.answer) << c.key;
    }
}

// Bytes given back come first, in order; the stop set is looked at after
// every pass, given-back bytes included.
TEST(BaseIo, GivenBackBytesComeFirst)
{
    struct CASE {
        int want;
        char const* until;
        char const* expected;
    };
    for (CASE const& c : {CASE{5, nullptr, "xyabc"}, CASE{5, "y", "xy"}, CASE{10, "\n", "xyabc\n"},
                          CASE{1, nullptr, "x"}}) {
        SCOPED_TRACE(c.expected);
        FAKEIO io(kNoDaemon);
        io.Push("abc\ndef");
        io.UnRead("xy", -1);
        EXPECT_EQ(ReadText(io, c.want, 1000, c.until), c.expected);
    }
}

// No time-out to wait: the device is asked once, without waiting.
TEST(BaseIo, ZeroTimeOutAsksTheDeviceOnce)
{
    FAKEIO io(kNoDaemon);
    char c;
    int n = 1;
    EXPECT_FALSE(io.Read(&c, &n, 0, nullptr));
    EXPECT_EQ(n, 0);
    EXPECT_EQ(io.TakeWaits(), std::vector<int>{0});
}

// A stop byte ends the read; what came with it waits for the next read.
TEST(BaseIo, StopByteLeavesTheRestWaiting)
{
    FAKEIO io(kNoDaemon);
    io.Push("first\nsecond\nthird");
    EXPECT_EQ(ReadText(io, 100, 1000, "\n"), "first\n");
    EXPECT_EQ(ReadText(io, 100, 1000, "\n"), "second\n");
    EXPECT_EQ(ReadText(io, 5, 1000, "\n"), "third");
}

// Read without a time-out sleeps in the device's wait until a stop byte
// comes, or ends at once when the call is dropped on another thread.
TEST(BaseIo, ReadWithoutTimeOutSleepsUntilBytesOrDrop)
{
    for (bool drop : {false, true}) {
        SCOPED_TRACE(drop ? "drop" : "bytes");
        FAKEIO io(kNoDaemon);
        std::atomic<double> cpu{-1};
        std::string got;
        std::thread reader([&] {
            double const start = chtest::ThreadCpuMs();
            got = ReadText(io, 10, -1, "\n");
            cpu = chtest::ThreadCpuMs() - start;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (drop) {
            io.DropCall();
        } else {
            io.Push("h");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            io.Push("i\n");
        }
        ASSERT_TRUE(WaitUntil([&] { return cpu >= 0; }, 5000));
        reader.join();
        EXPECT_EQ(got, drop ? "" : "hi\n");
        EXPECT_LT(cpu, 100.0);
    }
}

// With a reader thread: bytes reach Read through the ring, and a device
// that goes away wakes a Read that waits without time-out.
TEST(BaseIo, ReaderThreadFeedsTheRingAndReportsTheEnd)
{
    FAKEIO io(0);
    ASSERT_NE(io.GetThreadHandle(), 0u);
    io.Push("through the ring");
    EXPECT_EQ(ReadText(io, 16, 5000), "through the ring");
    std::atomic<bool> done{false};
    std::string got = "x";
    std::thread reader([&] {
        got = ReadText(io, 10, -1);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    io.Hangup();
    ASSERT_TRUE(WaitUntil([&] { return done.load(); }, 5000));
    reader.join();
    EXPECT_EQ(got, "");
    EXPECT_EQ(io.GetInfo("LASTERROR"), "4099");
}

TEST(BaseIo, DataCallbackRunsOnTheReaderThread)
{
    struct SEEN {
        std::mutex Lock;
        std::string Bytes;
        std::thread::id Thread;
    } seen;
    FAKEIO io(kNoDaemon);
    EXPECT_EQ(io.GetThreadHandle(), 0u);
    io.SetDataFunction(
        [](void* context, char const* data, int len) {
            auto* s = static_cast<SEEN*>(context);
            std::lock_guard<std::mutex> guard(s->Lock);
            s->Bytes.append(data, static_cast<size_t>(len));
            s->Thread = std::this_thread::get_id();
        },
        &seen);
    EXPECT_NE(io.GetThreadHandle(), 0u);
    io.Push("to the callback");
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::lock_guard<std::mutex> guard(seen.Lock);
            return seen.Bytes.size() == 15;
        },
        5000));
    std::lock_guard<std::mutex> guard(seen.Lock);
    EXPECT_EQ(seen.Bytes, "to the callback");
    EXPECT_NE(seen.Thread, std::this_thread::get_id());
    EXPECT_EQ(io.RingSize(), 0);
}

// A reader thread waiting for room in a full ring is ended by the
// destructor all the same.
TEST(BaseIo, FullRingDoesNotHoldUpDestruction)
{
    auto io = std::make_unique<FAKEIO>(kNoDaemon);
    ASSERT_TRUE(io->SetRingbufferSize(16));
    io->StartDaemon();
    io->Push(chtest::Pattern(4000));
    ASSERT_TRUE(WaitUntil([&] { return io->RingSize() == 16; }, 5000));
    long long const start = NowMs();
    io.reset();
    EXPECT_LT(NowMs() - start, 2000);
}

TEST(BaseIo, WriteGoesToTheDevice)
{
    FAKEIO io(kNoDaemon);
    EXPECT_TRUE(io.Write("text", -1));
    EXPECT_TRUE(io.Write("bytes\0x", 7));
    EXPECT_TRUE(io.Write('!'));
    EXPECT_EQ(io.WrittenBytes(), std::string("textbytes\0x!", 12));
}

// Reading a packet channel or a channel with a data callback is the
// caller's mistake, and is reported.
TEST(BaseIo, MisuseIsReported)
{
    testutil::ASSERTRECORDER recorder;
    {
        FAKEIO packets(BASEIO_DEVICE_IS_PACKETBASED);
        ReadText(packets, 4, 0);
    }
    {
        FAKEIO callback(kNoDaemon);
        callback.SetDataFunction([](void*, char const*, int) {}, nullptr);
        ReadText(callback, 4, 0);
    }
    auto seen = recorder.Take();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].Condition, "(this->DeviceFlags & BASEIO_DEVICE_IS_PACKETBASED)==0");
    EXPECT_EQ(seen[1].Condition, "this->pfnDataCallback==NULL");
}
