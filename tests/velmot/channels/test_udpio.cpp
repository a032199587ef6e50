// The UDP channel on 127.0.0.1: whole datagrams, pieces of one, empty ones,
// the destination and its port, errors. Broadcasts are in the namespace
// suite.
#include "velmot/channels/udpio.h"

#include "tests/velmot/channels/channeltest.h"
#include "tests/velmot/core/assertrecorder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A UDP socket of the test on 127.0.0.1.
int UdpSocket(int* port)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    *port = ntohs(sa.sin_port);
    return fd;
}

void SendTo(int fd, int port, std::string const& data)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
}

std::string DevRead(UDPIO& io, int want, bool* ok = nullptr)
{
    std::string buf(static_cast<size_t>(want), '\0');
    int n = want;
    bool const r = io.DevRead(buf.data(), &n, 2000);
    if (ok)
        *ok = r;
    buf.resize(static_cast<size_t>(n));
    return buf;
}

// A free UDP port on 127.0.0.1.
int FreePort()
{
    int port = 0;
    close(UdpSocket(&port));
    return port;
}

} // namespace

// Every datagram whole, whatever its size; a longer one than the read in
// pieces from the channel, without touching the socket again; an empty one
// a read of 0 bytes, with nothing reported.
TEST(UdpIo, DatagramsWholeInPiecesAndEmpty)
{
    testutil::ASSERTRECORDER recorder;
    int const port = FreePort();
    std::string const id = std::to_string(port) + "[127.0.0.1]";
    UDPIO io(id.c_str(), "", "");
    ASSERT_TRUE(io.AcceptCall()) << io.GetInfo("LASTERRORSTRING").Buf();
    int senderPort = 0;
    int sender = UdpSocket(&senderPort);

    std::string const hundred = chtest::Pattern(100, 1);
    SendTo(sender, port, hundred);
    EXPECT_EQ(DevRead(io, 40), hundred.substr(0, 40));
    EXPECT_EQ(io.DevGetNumAvail(), 60);
    EXPECT_EQ(DevRead(io, 40), hundred.substr(40, 40));
    EXPECT_EQ(DevRead(io, 40), hundred.substr(80));

    std::string const large = chtest::Pattern(30000, 2);
    SendTo(sender, port, large);
    EXPECT_EQ(DevRead(io, 65536), large);

    SendTo(sender, port, "");
    SendTo(sender, port, "after");
    bool ok = false;
    EXPECT_EQ(DevRead(io, 100, &ok), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(DevRead(io, 100), "after");
    EXPECT_EQ(io.GetInfo("PEERID"), "127.0.0.1");
    EXPECT_EQ(recorder.Count(), 0u);
    close(sender);
}

// The destination's port: given, or the own port when none is given.
TEST(UdpIo, SendsToTheNamedPort)
{
    int port = 0;
    int receiver = UdpSocket(&port);
    for (std::string const& dest : {"127.0.0.1:" + std::to_string(port), std::string("127.0.0.1")}) {
        SCOPED_TRACE(dest);
        UDPIO io(std::to_string(port).c_str(), "", "");
        ASSERT_TRUE(io.MakeCall(dest.c_str()));
        EXPECT_TRUE(io.Write("datagram", 8));
        EXPECT_EQ(chtest::ReadSome(receiver, 8, 2000), "datagram");
        EXPECT_EQ(io.GetInfo("ONLINE"), "1");
    }
    close(receiver);
}

// A host that can't be found fails the call (no channel that sends
// nowhere); a port that can't be had fails the bind.
TEST(UdpIo, FailuresAreReported)
{
    UDPIO io("0", "", "");
    EXPECT_FALSE(io.MakeCall("300.1.1.1:5"));
    EXPECT_EQ(io.GetInfo("LASTERROR"), "4098");
    std::string const text = io.GetInfo("LASTERRORSTRING").Buf();
    EXPECT_EQ(text.rfind("Host not found. (", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - 2), ".)");
    EXPECT_EQ(io.GetInfo("LASTERRORCLASS"), "500");

    int port = 0;
    int taken = UdpSocket(&port);
    int one = 0;
    setsockopt(taken, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    UDPIO bound((std::to_string(port) + "[127.0.0.1]").c_str(), "", "");
    EXPECT_FALSE(bound.AcceptCall());
    EXPECT_EQ(bound.GetInfo("LASTERRORSTRING"), "Bind failed. (Address already in use.)");
    close(taken);
}

TEST(UdpIo, TextQueryAndDrop)
{
    testutil::ASSERTRECORDER recorder;
    UDPIO io("0", "", "");
    EXPECT_TRUE(io.IsUpAndRunning());
    EXPECT_EQ(io.GetInfo("DEVICENAME"), "UDP");
    EXPECT_EQ(io.GetInfo("BANDWIDTH"), "1000000");
    EXPECT_EQ(io.GetInfo("CALLERID"), "<unknown>");
    EXPECT_EQ(io.GetInfo("PEERID"), "<unknown>");
    EXPECT_EQ(io.GetInfo("NOSUCHKEY"), "");
    EXPECT_EQ(recorder.Count(), 0u);
    EXPECT_TRUE(io.DropCall());
    EXPECT_EQ(io.GetInfo("ONLINE"), "0");
    EXPECT_FALSE(io.Write("x", 1));
}
