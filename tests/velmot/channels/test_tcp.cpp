// The TCP helpers: destinations, resolution of numeric hosts (names are
// resolved in the namespace suite, where no name server can be reached),
// error tables, lines and masked commands, SOCKS 4, waiting on a socket.
#include "velmot/channels/tcpio.h"
#include "velmot/channels/udpio.h"

#include "tests/support/testutil.h"
#include "tests/velmot/channels/channeltest.h"
#include "velmot/core/logit.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using chtest::NowMs;

namespace {

struct RESOLVED {
    bool ok;
    std::string name;
    std::string numeric;
    int port;
    int family;
    std::string error;
};

RESOLVED Resolve(char const* dest, bool noIpToName = true)
{
    char name[256] = "";
    char error[256] = "";
    int port = -1;
    TCPRESOLVED* rec = TCP::ResolvEx(dest, name, sizeof name, &port, nullptr, error, sizeof error, noIpToName ? 1 : 0);
    RESOLVED out{rec != nullptr, name, rec ? rec->NumericText : "", port, rec ? rec->Family : 0, error};
    free(rec);
    return out;
}

// A connected pair: a TCP channel that called, and the test's socket that
// accepted it.
struct PAIR {
    std::unique_ptr<TCPIPIO> Io;
    int Peer = -1;
    ~PAIR()
    {
        if (Peer >= 0)
            close(Peer);
    }
};

void Connect(PAIR& p)
{
    int port = 0;
    int listener = chtest::ListenTcp(false, 4, &port);
    ASSERT_GE(listener, 0);
    p.Io = std::make_unique<TCPIPIO>("0", "", "");
    p.Io->ResolvePeerOnCall = 0;
    ASSERT_TRUE(p.Io->MakeCall(("127.0.0.1:" + std::to_string(port)).c_str()));
    p.Peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    close(listener);
    ASSERT_GE(p.Peer, 0);
}

} // namespace

TEST(TcpHelpers, DestinationSplits)
{
    struct CASE {
        char const* dest;
        char const* host;
        char const* port;
        bool hasPort;
    };
    for (CASE const& c : {CASE{"[::1]:22", "::1", "22", true}, CASE{"mailhost:25", "mailhost", "25", true},
                          CASE{"hostonly", "hostonly", "23", false}, CASE{"[fe80::1]", "[fe80::1]", "23", false},
                          CASE{"a:b:c", "a", "b:c", true}}) {
        SCOPED_TRACE(c.dest);
        STRING host, port;
        EXPECT_EQ(TCP::DestinationToHostAndPort(c.dest, 23, host, port), c.hasPort);
        EXPECT_STREQ(host.Buf(), c.host);
        EXPECT_STREQ(port.Buf(), c.port);
    }
    EXPECT_EQ(TCP::FindColonForPort("[::1]"), nullptr);
}

// Numeric hosts in every written form; none of them asks a name server.
TEST(TcpHelpers, NumericDestinationsResolve)
{
    struct CASE {
        char const* dest;
        char const* numeric;
        int port;
        int family;
    };
    for (CASE const& c : {CASE{"127.0.0.1:8080", "127.0.0.1", 8080, AF_INET},
                          CASE{"#  127.0.0.1 8080", "127.0.0.1", 8080, AF_INET},
                          CASE{"010.001.000.001:80", "10.1.0.1", 80, AF_INET},
                          CASE{"127.0.0.1", "127.0.0.1", 23, AF_INET}, CASE{"127.0.0.1:telnet", "127.0.0.1", 23, AF_INET},
                          CASE{"[::1]:2323", "::1", 2323, AF_INET6}, CASE{"::1", "::1", 23, AF_INET6},
                          CASE{"::1 8080", "::1", 8080, AF_INET6}, CASE{"  *127.0.0.1:7", "127.0.0.1", 7, AF_INET}}) {
        SCOPED_TRACE(c.dest);
        RESOLVED r = Resolve(c.dest);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.numeric, c.numeric);
        EXPECT_EQ(r.port, c.port);
        EXPECT_EQ(r.family, c.family);
        EXPECT_EQ(r.name, "<unknown>");
        EXPECT_EQ(r.error, "");
    }
    RESOLVED bad = Resolve("127.0.0.1:nosuchservice");
    EXPECT_FALSE(bad.ok);
    EXPECT_NE(bad.error, "");
    EXPECT_EQ(bad.port, 0);

    uint32_t ip = 0;
    char error[128];
    free(TCP::ResolvEx("127.0.0.1:80", nullptr, 0, nullptr, &ip, error, sizeof error, 1));
    EXPECT_EQ(ip, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(TCP::GetIpAddress("127.0.0.1"), "127.0.0.1");
}

TEST(TcpHelpers, ErrorTables)
{
    struct CASE {
        TCPERRORTEXT const* table;
        int rows;
        int code;
        char const* text;
        char const* cls;
    };
    int const tcp = ARRAYMAX(gTcpErrors);
    int const udp = ARRAYMAX(UDPIO::UdpErrors);
    for (CASE const& c : {CASE{gTcpErrors, tcp, 4098, "Host not found. (detail)", "500"},
                          CASE{gTcpErrors, tcp, 4096, "No response. (detail)", "400"},
                          CASE{gTcpErrors, tcp, 4099, "Remote disconnected", "500"},
                          CASE{gTcpErrors, tcp, 0, "No Error", "200"}, CASE{gTcpErrors, tcp, 7777, "7777", "599"},
                          CASE{UDPIO::UdpErrors, udp, 4098, "Host not found. (detail.)", "500"},
                          CASE{UDPIO::UdpErrors, udp, 4096, "No response.", "400"}}) {
        bool const isUdp = c.table == UDPIO::UdpErrors;
        SCOPED_TRACE(c.text);
        EXPECT_STREQ(ErrorTableText(c.table, c.rows, c.code, "detail", "(", isUdp ? ".)" : ")").Buf(), c.text);
        EXPECT_STREQ(ErrorTableClass(c.table, c.rows, c.code).Buf(), c.cls);
    }
}

TEST(TcpHelpers, SocksProxySettings)
{
    struct CASE {
        char const* setting;
        int defaultPort;
        bool ok;
        char const* host;
        int port;
    };
    for (CASE const& c : {CASE{"*", -1, false, "", 0}, CASE{"", -1, false, "", 0},
                          CASE{"user@proxy", -1, true, "proxy", 1080}, CASE{"proxy:3128", -1, true, "proxy", 3128},
                          CASE{"user:pw@[::1]:1081", 9, true, "::1", 1081}, CASE{"proxy", 9, true, "proxy", 9}}) {
        SCOPED_TRACE(c.setting);
        char host[64] = "";
        unsigned short port = 0;
        EXPECT_EQ(TCP::HostPortFromSocks(c.setting, host, sizeof host, &port, c.defaultPort), c.ok);
        if (c.ok) {
            EXPECT_STREQ(host, c.host);
            EXPECT_EQ(port, c.port);
        }
    }
}

// A line ends at its "\n", loses every "\r"; a line longer than the buffer
// is cut and its rest never passes for a line of its own.
TEST(TcpHelpers, ReadLine)
{
    PAIR p;
    Connect(p);
    ASSERT_TRUE(chtest::WriteAll(p.Peer, "250 OK\r\n" + std::string(300, 'x') + "\r\n250 NEXT\r\nrest"));
    char line[64];
    ASSERT_TRUE(TCP::ReadLine(*p.Io, line, sizeof line, 2000));
    EXPECT_STREQ(line, "250 OK");
    ASSERT_TRUE(TCP::ReadLine(*p.Io, line, sizeof line, 2000));
    EXPECT_EQ(std::string(line), std::string(63, 'x'));
    ASSERT_TRUE(TCP::ReadLine(*p.Io, line, sizeof line, 2000));
    EXPECT_STREQ(line, "250 NEXT");
    ASSERT_TRUE(TCP::ReadLine(*p.Io, line, sizeof line, 200));
    EXPECT_STREQ(line, "rest");
}

// Commands go out whole; the log shows them with their secrets masked.
TEST(TcpHelpers, WriteCommandMasksSecretsInTheLog)
{
    testutil::TempDir dir;
    std::string const log = dir.file("log.txt");
    PAIR p;
    Connect(p);
    ASSERT_EQ(LOGITARG(("/LOGIT:" + log).c_str()), 1);
    struct CASE {
        char const* command;
        char const* logged;
    };
    std::vector<CASE> const cases = {
        {"USER joe", "USER joe"},
        {"PASS s3cret", "PASS ******"},
        {"a1 LOGIN joe s3cret", "a1 LOGIN ******"},
        {"AUTH PLAIN AGpvZQBzM2NyZXQ=", "AUTH PLAIN ******"},
        {"AUTH LOGIN", "AUTH LOGIN"},
        {"am9l", "******"}, // answers the server's "334" below
        {"NOOP", "NOOP"},
    };
    std::string sent;
    for (CASE const& c : cases) {
        std::string const reply = strcmp(c.command, "AUTH LOGIN") == 0 ? "334 VXNlcm5hbWU6\r\n" : "250 OK\r\n";
        ASSERT_TRUE(chtest::WriteAll(p.Peer, reply));
        char answer[64];
        ASSERT_TRUE(TCP::WriteCommand(*p.Io, c.command, answer, sizeof answer, 2000)) << c.command;
        sent += std::string(c.command) + "\r\n";
    }
    LOGITARG("/LOGITCLOSE");
    EXPECT_EQ(chtest::ReadSome(p.Peer, sent.size(), 2000), sent);
    std::string const text = testutil::ReadFile(log);
    for (CASE const& c : cases)
        EXPECT_NE(text.find(std::string("TCP::WriteCmd ") + c.logged + "\n"), std::string::npos) << c.logged;
    EXPECT_EQ(text.find("s3cret"), std::string::npos);
    EXPECT_EQ(text.find("AGpvZQBzM2NyZXQ="), std::string::npos);
    EXPECT_EQ(text.find("am9l"), std::string::npos);
}

// SOCKS 4 through a proxy of the test, on a socket left non-blocking as a
// channel's is: the request is byte-exact, and a reply in pieces is waited
// for.
TEST(TcpHelpers, SocksConnect)
{
    struct CASE {
        std::string reply;
        bool ok;
        char const* error;
    };
    for (CASE const& c : {CASE{std::string("\0Z\0\0\0\0\0\0", 8), true, ""},
                          CASE{std::string("\0[\0\0\0\0\0\0", 8), false, "connection to 127.0.0.1:8023 failed (cd= 91)"},
                          CASE{std::string("\0Z", 2), false, "proxy or host didn't reply (rc= 2)"}}) {
        SCOPED_TRACE(c.error);
        int port = 0;
        int listener = chtest::ListenTcp(false, 4, &port);
        std::string request;
        std::thread proxy([&] {
            int s = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            request = chtest::ReadSome(s, 9, 5000);
            chtest::WriteAll(s, c.reply.substr(0, 1));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            chtest::WriteAll(s, c.reply.substr(1));
            close(s);
        });
        int fd = chtest::ConnectTcp(false, port);
        ASSERT_TRUE(TCP::SetNonblocking(fd, 1));
        char error[128] = "x";
        EXPECT_EQ(TCP::SocksConnect(fd, "127.0.0.1", 8023, error, sizeof error), c.ok);
        EXPECT_STREQ(error, c.error);
        proxy.join();
        EXPECT_EQ(request, std::string("\x04\x01\x1f\x57\x7f\x00\x00\x01\x00", 9));
        close(fd);
        close(listener);
    }
}

TEST(TcpHelpers, SelectWaitsOnOneSocket)
{
    PAIR p;
    Connect(p);
    int const fd = atoi(p.Io->GetInfo("SOCKET"));
    STRING error;
    signed char readable = 1;
    signed char writable = 0;
    long long const start = NowMs();
    EXPECT_EQ(TCP::Select(fd, &readable, &writable, 0, 200, error), 0);
    EXPECT_GE(NowMs() - start, 150);
    ASSERT_TRUE(chtest::WriteAll(p.Peer, "x"));
    readable = 1;
    writable = 1;
    EXPECT_EQ(TCP::Select(fd, &readable, &writable, 0, 2000, error), 1);
    EXPECT_EQ(readable, 1);
    EXPECT_EQ(writable, 1);
    EXPECT_TRUE(TCP::SetKeepAlive(fd, 1));
    EXPECT_TRUE(TCP::SetKeepAlive(fd, 0));
}
