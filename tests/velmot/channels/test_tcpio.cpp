// The TCP channel against socat and the test's own sockets on 127.0.0.1 and
// ::1: echo over both families, refused and unanswered connects, a peer
// that closes or resets, a sink that never reads, shared listening sockets.
#include "velmot/channels/tcpio.h"

#include "tests/support/testutil.h"
#include "tests/velmot/channels/channeltest.h"
#include "tests/velmot/core/assertrecorder.h"
#include "velmot/core/osys.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using chtest::NowMs;
using chtest::SOCAT;
using chtest::WaitUntil;

namespace {

std::unique_ptr<TCPIPIO> Channel(char const* ourId = "0")
{
    auto io = std::make_unique<TCPIPIO>(ourId, "", "");
    io->ResolvePeerOnCall = 0; // the tests' hosts are numeric: no name server is asked
    return io;
}

} // namespace

TEST(TcpIo, EchoOverBothFamilies)
{
    struct CASE {
        char const* listen;
        char const* dest; // %d: the port
        char const* peer;
    };
    for (CASE const& c : {CASE{"TCP4-LISTEN:0,bind=127.0.0.1,reuseaddr", "127.0.0.1:%d", "(127.0.0.1)"},
                          CASE{"TCP6-LISTEN:0,bind=[::1],reuseaddr", "[::1]:%d", "(::1)"},
                          CASE{"TCP6-LISTEN:0,bind=[::1],reuseaddr", "::1 %d", "(::1)"}}) {
        SCOPED_TRACE(c.dest);
        SOCAT echo({c.listen, "PIPE"});
        auto io = Channel();
        char dest[64];
        snprintf(dest, sizeof dest, c.dest, echo.Port());
        ASSERT_TRUE(io->MakeCall(dest)) << io->GetInfo("LASTERRORSTRING").Buf();
        EXPECT_EQ(io->GetInfo("ONLINE"), "1");
        EXPECT_EQ(io->GetInfo("DEVICENAME"), "TCPIP");
        EXPECT_NE(std::string(io->GetInfo("PEERIP")).find(c.peer), std::string::npos);
        EXPECT_EQ(io->GetInfo("LASTERRORSTRING"), "No Error");
        std::string const data = chtest::Pattern(300000, 5);
        std::string got;
        std::thread writer([&] { EXPECT_TRUE(io->Write(data.data(), static_cast<int>(data.size()))); });
        got = chtest::ReadExactly(*io, data.size(), 20000);
        writer.join();
        EXPECT_TRUE(got == data) << got.size() << " of " << data.size() << " bytes came back";
        EXPECT_GE(atoi(io->GetInfo("IDLE_TIME")), 0);
        EXPECT_TRUE(io->DropCall());
        EXPECT_EQ(io->GetInfo("ONLINE"), "0");
        EXPECT_EQ(io->GetInfo("PEERIP"), "<unknown>");
    }
}

TEST(TcpIo, RefusedPort)
{
    auto io = Channel();
    EXPECT_FALSE(io->MakeCall(("127.0.0.1:" + std::to_string(chtest::FreeTcpPort())).c_str()));
    EXPECT_EQ(io->GetInfo("LASTERROR"), "4096");
    EXPECT_EQ(io->GetInfo("LASTERRORSTRING"), "No response. (Connection refused)");
    EXPECT_EQ(io->GetInfo("LASTERRORCLASS"), "400");
    EXPECT_EQ(io->GetInfo("ONLINE"), "0");
}

// A listener whose queue is full never answers: the connect ends at its
// time-out, or at once when another thread drops the call.
TEST(TcpIo, UnansweredConnectEndsAtTimeOutOrDrop)
{
    chtest::DEADLISTENER dead;
    std::string const dest = "127.0.0.1:" + std::to_string(dead.Port());
    {
        auto io = Channel();
        io->ConnectTimeout = 300;
        long long const start = NowMs();
        EXPECT_FALSE(io->MakeCall(dest.c_str()));
        EXPECT_GE(NowMs() - start, 250);
        EXPECT_LT(NowMs() - start, 5000);
        EXPECT_EQ(io->GetInfo("LASTERRORSTRING"), "No response. (Connection timed out)");
    }
    {
        auto io = Channel();
        std::atomic<int> result{-1};
        std::thread caller([&] { result = io->MakeCall(dest.c_str()) ? 1 : 0; });
        EXPECT_FALSE(WaitUntil([&] { return result != -1; }, 300));
        long long const start = NowMs();
        io->DropCall();
        ASSERT_TRUE(WaitUntil([&] { return result != -1; }, 5000));
        EXPECT_LT(NowMs() - start, 2000);
        caller.join();
        EXPECT_EQ(result, 0);
        EXPECT_EQ(io->GetInfo("ONLINE"), "0");
    }
}

// A peer that closes, and one that resets: the next read or write fails,
// says "Remote disconnected", and the channel is no longer connected.
TEST(TcpIo, PeerThatClosesOrResets)
{
    for (char const* listen : {"TCP4-LISTEN:0,bind=127.0.0.1,reuseaddr", "TCP4-LISTEN:0,bind=127.0.0.1,reuseaddr,linger=0"}) {
        SCOPED_TRACE(listen);
        testutil::ASSERTRECORDER recorder;
        SOCAT peer({listen, "EXEC:/bin/true"});
        auto io = Channel();
        ASSERT_TRUE(io->MakeCall(("127.0.0.1:" + std::to_string(peer.Port())).c_str()));
        ASSERT_TRUE(peer.WaitExit(5000));
        // Reads until the end shows; writes until the reset shows.
        bool failed = false;
        long long const end = NowMs() + 5000;
        while (!failed && NowMs() < end) {
            char c;
            int n = 1;
            failed = !io->Write("x", 1) || (!io->Read(&c, &n, 100, nullptr) && !io->IsConnected());
        }
        EXPECT_TRUE(failed);
        EXPECT_FALSE(io->DevIsConnected());
        EXPECT_EQ(io->GetInfo("LASTERROR"), "4099");
        EXPECT_EQ(io->GetInfo("LASTERRORSTRING"), "Remote disconnected");
        EXPECT_EQ(recorder.Count(), 0u);
    }
}

// A peer that takes nothing: a write fails once it has made no progress for
// WriteTimeout, instead of waiting for ever with the write lock held.
TEST(TcpIo, SinkThatNeverReadsMeetsTheWriteDeadline)
{
    SOCAT sink({"TCP4-LISTEN:0,bind=127.0.0.1,reuseaddr,rcvbuf=4096", "EXEC:sleep 30"});
    auto io = Channel();
    io->WriteTimeout = 400;
    ASSERT_TRUE(io->MakeCall(("127.0.0.1:" + std::to_string(sink.Port())).c_str()));
    TCP::SetBufferSize(atoi(io->GetInfo("SOCKET")), 4096);
    std::string const block(1 << 20, 'z');
    long long const start = NowMs();
    bool written = true;
    for (int i = 0; i < 64 && written; ++i)
        written = io->Write(block.data(), static_cast<int>(block.size()));
    EXPECT_FALSE(written);
    EXPECT_LT(NowMs() - start, 30000);
    EXPECT_EQ(io->GetInfo("LASTERROR"), "4096");
    EXPECT_EQ(io->GetInfo("ONLINE"), "0");
}

TEST(TcpIo, OwnIdForms)
{
    struct CASE {
        char const* id;
        char const* stored;
    };
    for (CASE const& c : {CASE{"127.0.0.1:8080", "8080[127.0.0.1]"}, CASE{"8080", "8080"}, CASE{"[::1]:22", "22[::1]"},
                          CASE{"*:23", "23[*]"}}) {
        TCPIPIO io(c.id, "", "");
        EXPECT_STREQ(io.GetOurId().Buf(), c.stored) << c.id;
    }
}

// Channels listening on one port share one socket with a use count: a
// channel that drops (with or without a connection) leaves the socket to
// the others; the last one closes it.
TEST(TcpIo, ListeningSocketsAreShared)
{
    int const port = chtest::FreeTcpPort();
    std::string const id = std::to_string(port) + "[127.0.0.1]";
    auto a = Channel(id.c_str());
    auto b = Channel(id.c_str());
    auto c = Channel(id.c_str());
    ASSERT_TRUE(a->PrepareAcceptCall());
    ASSERT_TRUE(b->PrepareAcceptCall());
    ASSERT_TRUE(c->PrepareAcceptCall());
    EXPECT_EQ(atoi(a->GetInfo("ACCEPTPORT")), port);
    EXPECT_EQ(atoi(b->GetInfo("ACCEPTPORT")), port);

    // c drops before any call came: a and b still listen.
    c->DropCall();
    EXPECT_EQ(atoi(c->GetInfo("ACCEPTPORT")), -1);
    for (TCPIPIO* io : {a.get(), b.get()}) {
        std::atomic<int> accepted{-1};
        std::thread acceptor([&] { accepted = io->AcceptCall() ? 1 : 0; });
        int peer = chtest::ConnectTcp(false, port);
        ASSERT_GE(peer, 0);
        ASSERT_TRUE(WaitUntil([&] { return accepted != -1; }, 5000));
        acceptor.join();
        EXPECT_EQ(accepted, 1);
        EXPECT_NE(std::string(io->GetInfo("PEERIP")).find("127.0.0.1"), std::string::npos);
        ASSERT_TRUE(chtest::WriteAll(peer, "ping"));
        EXPECT_EQ(chtest::ReadExactly(*io, 4, 5000), "ping");
        close(peer);
        io->DropCall();
    }
    // The last user is gone: nobody listens any more.
    EXPECT_EQ(chtest::ConnectTcp(false, port), -1);
}

TEST(TcpIo, EphemeralPortIsReported)
{
    auto io = Channel("127.0.0.1:0");
    ASSERT_TRUE(io->PrepareAcceptCall());
    int const port = atoi(io->GetInfo("ACCEPTPORT"));
    EXPECT_GT(port, 0);
    int peer = chtest::ConnectTcp(false, port);
    EXPECT_GE(peer, 0);
    EXPECT_TRUE(io->AcceptCall());
    close(peer);
}

// A port that can't be had, or an address that isn't one, fails the accept
// at once.
TEST(TcpIo, ListenFailuresFailAtOnce)
{
    int port = 0;
    int taken = chtest::ListenTcp(false, 1, &port);
    struct CASE {
        std::string id;
        char const* text;
    };
    for (CASE const& c : {CASE{std::to_string(port) + "[127.0.0.1]", "Bind failed. (Address already in use)"},
                          CASE{"0[300.1.1.1]", "Bind failed. (Cannot assign requested address)"}}) {
        SCOPED_TRACE(c.id);
        auto io = Channel(c.id.c_str());
        long long const start = NowMs();
        EXPECT_FALSE(io->AcceptCall());
        EXPECT_LT(NowMs() - start, 1000);
        EXPECT_EQ(io->GetInfo("LASTERROR"), "4104");
        EXPECT_EQ(io->GetInfo("LASTERRORSTRING"), c.text);
        EXPECT_EQ(io->GetInfo("ACCEPTPORT"), "-1");
    }
    close(taken);
}

TEST(TcpIo, TextQuery)
{
    testutil::ASSERTRECORDER recorder;
    auto io = Channel();
    EXPECT_EQ(io->GetInfo("devicename"), "TCPIP");
    EXPECT_EQ(io->GetInfo("BANDWIDTH"), "10000000");
    EXPECT_EQ(io->GetInfo("IDLE_TIME"), "-1");
    EXPECT_EQ(io->GetInfo("SOCKET"), "-1");
    EXPECT_EQ(io->GetInfo("OWNID"), OSYS::ComputerName());
    EXPECT_EQ(io->GetInfo("CALLERID"), "<unknown>");
    // Keys may come from scripts: an unknown one answers empty and is only
    // logged.
    EXPECT_EQ(io->GetInfo("NOSUCHKEY"), "");
    EXPECT_EQ(recorder.Count(), 0u);
}

// Broadcasts and name resolution run in a network (and mount) namespace of
// their own, where nothing can leave the machine: see netns_suite.cpp.
TEST(Netns, SuiteInANamespaceOfItsOwn)
{
    std::vector<std::string> argv = {"/usr/bin/unshare", "--net", "--mount"};
    if (geteuid() != 0)
        argv.push_back("--map-root-user");
    argv.push_back("--");
    argv.push_back(QOR_NETNS_SUITE);
    setenv("QOR_NETNS_CHILD", "1", 1);
    std::string out;
    int const rc = testutil::RunProgram(argv, &out);
    unsetenv("QOR_NETNS_CHILD");
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("[  PASSED  ]"), std::string::npos) << out;
}
