// The channel tests that need a network of their own: broadcasts (UDP and
// the broadcast message channel) and name resolution. The binary runs only
// inside the network and mount namespaces that test_channels_tcp makes for
// it (unshare); there it brings up the loopback interface, routes the
// limited broadcast address to it, and puts a hosts file of its own in
// place. Nothing leaves the namespace: it has no other interface, and
// name-server queries find no route.
#include "velmot/channels/mailio.h"
#include "velmot/channels/tcpio.h"
#include "velmot/channels/udpio.h"

#include "tests/support/testutil.h"
#include "tests/velmot/channels/channeltest.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <net/if.h>
#include <netinet/in.h>
#include <string>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using chtest::WaitUntil;

namespace {

char const kHosts[] = "127.0.0.1 localhost\n"
                      "::1 dual.qortest\n"
                      "127.0.0.1 dual.qortest\n"
                      "127.0.0.1 v4.qortest\n";

// Only the loopback interface: a namespace of our own.
bool OnlyLoopback()
{
    struct if_nameindex* names = if_nameindex();
    if (!names)
        return false;
    bool only = true;
    for (struct if_nameindex* n = names; n->if_index != 0; ++n)
        only = only && strcmp(n->if_name, "lo") == 0;
    if_freenameindex(names);
    return only;
}

std::string IpProgram()
{
    for (char const* p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"}) {
        if (access(p, X_OK) == 0)
            return p;
    }
    return "ip";
}

class NAMESPACE : public testing::Environment {
public:
    void SetUp() override
    {
        if (!getenv("QOR_NETNS_CHILD") || !OnlyLoopback()) {
            fprintf(stderr, "channels_netns runs only in a namespace of its own (see test_channels_tcp)\n");
            _exit(3);
        }
        std::string const ip = IpProgram();
        ASSERT_EQ(testutil::RunProgram({ip, "link", "set", "lo", "up"}), 0);
        ASSERT_EQ(testutil::RunProgram({ip, "route", "add", "broadcast", "255.255.255.255", "dev", "lo", "table", "local"}), 0);
        Hosts = std::make_unique<testutil::TempDir>();
        std::string const file = Hosts->file("hosts");
        testutil::WriteFile(file, kHosts);
        ASSERT_EQ(mount(file.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr), 0) << strerror(errno);
    }
    void TearDown() override { umount("/etc/hosts"); }

private:
    std::unique_ptr<testutil::TempDir> Hosts;
};

testing::Environment* const gNamespace = testing::AddGlobalTestEnvironment(new NAMESPACE);

int UdpSocket(int port, bool reuse)
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int one = 1;
    if (reuse)
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    return fd;
}

void Broadcast(int fd, int port, std::string const& data)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
}

std::string Datagram(UDPIO& io)
{
    char buf[256];
    int n = sizeof buf;
    io.DevRead(buf, &n, 2000);
    return std::string(buf, static_cast<size_t>(n));
}

// The messages one broadcast channel hands to its callback.
struct INBOX {
    std::mutex Lock;
    std::vector<std::string> Messages;
    static void Take(void* self, char const* data, int len)
    {
        auto* box = static_cast<INBOX*>(self);
        std::lock_guard<std::mutex> guard(box->Lock);
        box->Messages.emplace_back(data, static_cast<size_t>(len));
    }
    std::vector<std::string> Wait(size_t n, int timeoutMs = 5000)
    {
        WaitUntil(
            [&] {
                std::lock_guard<std::mutex> guard(Lock);
                return Messages.size() >= n;
            },
            timeoutMs);
        std::lock_guard<std::mutex> guard(Lock);
        return Messages;
    }
};

std::unique_ptr<MAILIO> Mail(char const* name, INBOX& box)
{
    auto io = std::make_unique<MAILIO>(name, "", "");
    EXPECT_TRUE(io->AcceptCall());
    EXPECT_TRUE(io->MakeCall(nullptr));
    io->SetDataFunction(&INBOX::Take, &box);
    return io;
}

} // namespace

// Every channel on the port hears a broadcast, the sender's own included.
TEST(Netns, BroadcastsReachEveryChannelOnThePort)
{
    UDPIO a("40001", "", "");
    UDPIO b("40001", "", "");
    ASSERT_TRUE(a.AcceptCall());
    ASSERT_TRUE(b.AcceptCall());
    ASSERT_TRUE(a.MakeCall("*:40001"));
    ASSERT_TRUE(a.Write("to all", 6));
    EXPECT_EQ(Datagram(a), "to all");
    EXPECT_EQ(Datagram(b), "to all");
}

// A broadcast call does not turn later calls into broadcasts.
TEST(Netns, BroadcastIsDecidedPerCall)
{
    UDPIO listener("40002", "", "");
    ASSERT_TRUE(listener.AcceptCall());
    int direct = UdpSocket(40003, false);
    UDPIO sender("40002", "", "");
    ASSERT_TRUE(sender.MakeCall("*:40002"));
    ASSERT_TRUE(sender.Write("broadcast", 9));
    EXPECT_EQ(Datagram(listener), "broadcast");
    ASSERT_TRUE(sender.MakeCall("127.0.0.1:40003"));
    ASSERT_TRUE(sender.Write("direct", 6));
    EXPECT_EQ(chtest::ReadSome(direct, 6, 2000), "direct");
    char buf[16];
    int n = sizeof buf;
    listener.DevRead(buf, &n, 300);
    EXPECT_EQ(n, 0) << "the second datagram went to the broadcast address";
    close(direct);
}

// Channels of one name hear each other and themselves, empty messages
// included; a channel of another name hears none of it.
TEST(Netns, MailOwnAndOthersHeard)
{
    INBOX boxA, boxB, boxOther;
    auto a = Mail("chat", boxA);
    auto b = Mail("chat", boxB);
    auto other = Mail("other", boxOther);
    ASSERT_TRUE(a->Write("one", 3));
    ASSERT_TRUE(b->Write("", 0));
    std::vector<std::string> const expected = {"one", ""};
    EXPECT_EQ(boxA.Wait(2), expected);
    EXPECT_EQ(boxB.Wait(2), expected);
    ASSERT_TRUE(other->Write("elsewhere", 9));
    EXPECT_EQ(boxOther.Wait(1), std::vector<std::string>{"elsewhere"});
    EXPECT_EQ(boxA.Wait(3, 300).size(), 2u);
}

// Pieces of messages from two senders arrive interleaved: each sender's
// are joined on their own. Two messages in one datagram both come; other
// names are dropped; a sender that never ends a message is cut off at the
// cap and heard again afterwards.
TEST(Netns, MailKeepsSendersApart)
{
    INBOX box;
    auto mail = Mail("t", box);
    int x = UdpSocket(0, false);
    int y = UdpSocket(0, false);
    Broadcast(x, MAILIO::PORT, "[MAILIO::t]hel");
    Broadcast(y, MAILIO::PORT, "[MAILIO::t]wor");
    Broadcast(x, MAILIO::PORT, "lo\x03");
    Broadcast(y, MAILIO::PORT, "ld\x03");
    Broadcast(x, MAILIO::PORT, "[MAILIO::t]a\x03[MAILIO::other]z\x03[MAILIO::t]b\x03");
    std::string const noise(1400, 'n');
    for (int i = 0; i < 60; ++i)
        Broadcast(y, MAILIO::PORT, noise);
    Broadcast(y, MAILIO::PORT, "\x03[MAILIO::t]ok\x03");
    std::vector<std::string> const expected = {"hello", "world", "a", "b", "ok"};
    EXPECT_EQ(box.Wait(5), expected);
    close(x);
    close(y);
}

// A name with two addresses: the first refuses, the second is taken. The
// peer's name comes from a reverse lookup; ports may be service names.
TEST(Netns, NamesResolveAndEachAddressIsTried)
{
    chtest::SOCAT echo({"TCP4-LISTEN:0,bind=127.0.0.1,reuseaddr,fork", "PIPE"});
    TCPIPIO io("0", "", "");
    ASSERT_TRUE(io.MakeCall(("dual.qortest:" + std::to_string(echo.Port())).c_str()))
        << io.GetInfo("LASTERRORSTRING").Buf();
    EXPECT_EQ(io.GetInfo("PEERIP"), "localhost (127.0.0.1)");
    ASSERT_TRUE(io.Write("name\n", 5));
    char buf[8];
    int n = sizeof buf;
    ASSERT_TRUE(io.Read(buf, &n, 2000, "\n"));
    EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "name\n");
    io.DropCall();

    chtest::SOCAT telnet({"TCP4-LISTEN:23,bind=127.0.0.1,reuseaddr,fork", "PIPE"});
    for (char const* dest : {"v4.qortest:telnet", "v4.qortest", "v4.qortest 23"}) {
        TCPIPIO t("0", "", "");
        EXPECT_TRUE(t.MakeCall(dest)) << dest << ": " << t.GetInfo("LASTERRORSTRING").Buf();
    }

    char name[256];
    char error[256];
    int port = 0;
    free(TCP::ResolvEx("dual.qortest:80", name, sizeof name, &port, nullptr, error, sizeof error, 0));
    EXPECT_STREQ(name, "dual.qortest"); // the reverse lookup of ::1
    EXPECT_EQ(port, 80);
    free(TCP::ResolvEx("dual.qortest:80", name, sizeof name, &port, nullptr, error, sizeof error, 1));
    EXPECT_STREQ(name, "dual.qortest");
}

TEST(Netns, UnresolvableName)
{
    TCPIPIO io("0", "", "");
    EXPECT_FALSE(io.MakeCall("no-such-host.qortest:80"));
    EXPECT_EQ(io.GetInfo("LASTERROR"), "4098");
    EXPECT_EQ(io.GetInfo("LASTERRORCLASS"), "500");
    std::string const text = io.GetInfo("LASTERRORSTRING").Buf();
    EXPECT_EQ(text.rfind("Host not found. (", 0), 0u) << text;
    EXPECT_EQ(text.back(), ')');
    EXPECT_GT(text.size(), strlen("Host not found. ()"));
}

// Accepted calls show the peer's name when asked to.
TEST(Netns, PeerNameOnAccept)
{
    TCPIPIO io("127.0.0.1:0", "", "");
    io.ResolvePeerOnAccept = 1;
    ASSERT_TRUE(io.PrepareAcceptCall());
    int peer = chtest::ConnectTcp(false, atoi(io.GetInfo("ACCEPTPORT")));
    ASSERT_TRUE(io.AcceptCall());
    EXPECT_EQ(io.GetInfo("PEERIP"), "localhost (127.0.0.1)");
    close(peer);
}

// A datagram destination by name takes its IPv4 address, even when the
// name's first address is IPv6.
TEST(Netns, UdpNamesResolveToIpv4)
{
    int receiver = UdpSocket(40004, false);
    UDPIO io("0", "", "");
    ASSERT_TRUE(io.MakeCall("dual.qortest:40004"));
    EXPECT_EQ(io.GetInfo("CALLERID"), "localhost");
    ASSERT_TRUE(io.Write("by name", 7));
    EXPECT_EQ(chtest::ReadSome(receiver, 7, 2000), "by name");
    close(receiver);
}
