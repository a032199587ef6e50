// The Telnet connection against peers the tests start on 127.0.0.1 and ::1:
// the exact bytes both ways with a raw peer, targets and failures, ending
// an attempt, a hostile server, and TLS with certificates of the test's own
// (a question for each that fails its check, pins that are kept).
#include "outside/sarvoth/certpins.h"
#include "outside/sarvoth/telnetlink.h"
#include "tests/outside/sarvoth/telnetpeer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <initializer_list>
#include <arpa/inet.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>

using namespace sarvoth;
using namespace sarvoth::telnet;
using telnetpeer::RAWPEER;

namespace {

using CLOCK = std::chrono::steady_clock;

std::string B(std::initializer_list<int> bytes)
{
    std::string out;
    for (int b : bytes)
        out += static_cast<char>(b);
    return out;
}

// A link driven as the host drives a device: a reader thread that asks
// NumAvail and reads what it may, collecting it ("<EOR>" where a record
// ended).
class LINKRUN {
public:
    explicit LINKRUN(char const* prefix = "[TELNET] ")
        : L(prefix, [this] {
              std::lock_guard<std::mutex> guard(Lock);
              Data += "<EOR>";
              Arrived.notify_all();
          })
    {
        L.Open();
        Reader = std::thread([this] { Loop(); });
    }
    ~LINKRUN()
    {
        Stop = true;
        L.Close();
        Reader.join();
    }
    TELNETLINK& Link() { return L; }
    std::string Received()
    {
        std::lock_guard<std::mutex> guard(Lock);
        return Data;
    }
    bool WaitFor(std::string const& text, int ms)
    {
        std::unique_lock<std::mutex> guard(Lock);
        return Arrived.wait_for(guard, std::chrono::milliseconds(ms),
                                [&] { return Data.find(text) != std::string::npos; });
    }
    size_t Reads() const { return ReadCalls.load(); }

private:
    void Loop()
    {
        std::vector<char> buf(8192);
        while (!Stop) {
            unsigned long want = static_cast<unsigned long>(std::clamp(L.NumAvail(), 1, 8192));
            ++ReadCalls;
            signed char rc = L.Read(buf.data(), &want);
            if (rc == 0 && want > 0) {
                std::lock_guard<std::mutex> guard(Lock);
                Data.append(buf.data(), want);
                Arrived.notify_all();
            } else if (rc != 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    }
    TELNETLINK L;
    std::thread Reader;
    std::atomic<bool> Stop{false};
    std::atomic<size_t> ReadCalls{0};
    std::mutex Lock;
    std::condition_variable Arrived;
    std::string Data;
};

TERMINAL Xterm()
{
    TERMINAL t;
    t.Names = {"xterm-256color", "xterm"};
    return t;
}

LINKOPTIONS Plain(int port = 23)
{
    LINKOPTIONS o;
    o.Port = port;
    o.ConnectTimeoutMs = 10000;
    return o;
}

} // namespace

TEST(TelnetLink, RawPeerByTheByte)
{
    // One step: the peer sends, the peer must get, the device writes, the
    // device must read, a break, a new size.
    enum KIND { PEERSENDS, PEERGETS, WRITES, READS, BREAK, RESIZE };
    struct STEP {
        KIND Kind;
        std::string Bytes;
    };
    std::string const offer = B({IAC, DO, OPT_BINARY, IAC, WILL, OPT_BINARY});
    std::string const offerRecords = offer + B({IAC, DO, OPT_EOR, IAC, WILL, OPT_EOR});
    TERMINAL records;
    records.Names = {"IBM-3179-2"};
    records.Records = true;
    struct SCRIPT {
        char const* What;
        TERMINAL Term;
        std::vector<STEP> Steps;
    } const scripts[] = {
        {"a terminal",
         Xterm(),
         {{PEERSENDS, B({IAC, DO, OPT_TTYPE, IAC, DO, OPT_NAWS, IAC, WILL, OPT_ECHO})},
          {PEERGETS, offer + B({IAC, WILL, OPT_TTYPE, IAC, WILL, OPT_NAWS, IAC, SB, OPT_NAWS, 0, 80, 0, 24, IAC, SE,
                                IAC, DO, OPT_ECHO})},
          {PEERSENDS, B({IAC, SB, OPT_TTYPE, 1, IAC, SE, IAC, SB, OPT_TTYPE, 1, IAC, SE})},
          {PEERGETS, B({IAC, SB, OPT_TTYPE, 0}) + "xterm-256color" + B({IAC, SE, IAC, SB, OPT_TTYPE, 0}) + "xterm" +
                         B({IAC, SE})},
          {PEERSENDS, B({'o', 'k', '\r', 0, IAC, IAC, '\r', '\n'})},
          {READS, B({'o', 'k', '\r', 255, '\r', '\n'})},
          {WRITES, B({'a', 255, 'b', '\r'})},
          {PEERGETS, B({'a', 255, 255, 'b', '\r', 0})},
          {BREAK, ""},
          {PEERGETS, B({IAC, BRK})},
          {RESIZE, ""},
          {PEERGETS, B({IAC, SB, OPT_NAWS, 0, 255, 255, 1, 0, IAC, SE})},
          // BINARY both ways: CR alone, nothing after it.
          {PEERSENDS, B({IAC, WILL, OPT_BINARY, IAC, DO, OPT_BINARY, 'x', '\r', 0})},
          {READS, B({'x', '\r', 0})},
          {WRITES, "ls\r"},
          {PEERGETS, "ls\r"}}},
        {"records",
         records,
         {{PEERSENDS, B({IAC, DO, OPT_EOR, IAC, WILL, OPT_EOR})},
          {PEERGETS, offerRecords},
          {PEERSENDS, B({'a', 'b', IAC, EOR, 'c', IAC, EOR})},
          {READS, "ab<EOR>c<EOR>"},
          {WRITES, B({'x', 255})},
          {PEERGETS, B({'x', 255, 255, IAC, EOR})}}},
    };
    for (SCRIPT const& script : scripts) {
        SCOPED_TRACE(script.What);
        RAWPEER peer;
        LINKRUN run;
        run.Link().SetTerminal(script.Term);
        ASSERT_TRUE(run.Link().Connect(("127.0.0.1:" + std::to_string(peer.Port())).c_str(), Plain()));
        ASSERT_TRUE(peer.Accept(10000));
        ASSERT_TRUE(run.WaitFor("[TELNET] CONNECT 127.0.0.1\r\n", 10000)) << run.Received();
        size_t seen = run.Received().size();
        for (STEP const& step : script.Steps) {
            switch (step.Kind) {
            case PEERSENDS:
                ASSERT_TRUE(peer.Send(step.Bytes));
                break;
            case PEERGETS:
                EXPECT_EQ(peer.Take(step.Bytes.size(), 10000), step.Bytes);
                break;
            case WRITES:
                EXPECT_TRUE(run.Link().Write(step.Bytes.data(), step.Bytes.size()));
                break;
            case READS:
                EXPECT_TRUE(run.WaitFor(step.Bytes, 10000)) << run.Received().substr(seen);
                EXPECT_EQ(run.Received().substr(seen), step.Bytes);
                seen = run.Received().size();
                break;
            case BREAK:
                EXPECT_TRUE(run.Link().SendBreak());
                break;
            case RESIZE: {
                TERMINAL t = script.Term;
                t.Columns = 255;
                t.Rows = 256;
                run.Link().SetTerminal(t);
                break;
            }
            }
        }
        EXPECT_EQ(peer.Drain(200), "") << "nothing more";
    }
}

TEST(TelnetLink, TargetsAndFailures)
{
    RAWPEER v4;
    RAWPEER v6(true);
    std::string const p4 = std::to_string(v4.Port());
    std::string const p6 = std::to_string(v6.Port());
    struct CASE {
        std::string Target;
        int DefaultPort;
        RAWPEER* Peer;
        std::string Line;
    } const cases[] = {
        {"127.0.0.1:" + p4, 23, &v4, "[TELNET] CONNECT 127.0.0.1\r\n"},
        {"localhost " + p4 + "\tEntry name", 23, &v4, "[TELNET] CONNECT localhost\r\n"},
        {"[::1]:" + p6, 23, &v6, "[TELNET] CONNECT ::1\r\n"},
        {"::1", v6.Port(), &v6, "[TELNET] CONNECT ::1\r\n"},
        {"127.0.0.1:" + std::to_string(telnetpeer::FreePort()), 23, nullptr, "[TELNET] FAIL: "},
        // A name the resolver refuses without asking a name server.
        {std::string(64, 'a') + ".invalid:23", 23, nullptr, "[TELNET] FAIL: "},
        {"", 23, nullptr, "[TELNET] FAIL: no host given\r\n"},
        {"bad\x1bhost:23", 23, nullptr, "[TELNET] FAIL: the host name holds characters no host has\r\n"},
        {"host:99999", 23, nullptr, "[TELNET] FAIL: no such port\r\n"},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.Target);
        LINKRUN run;
        run.Link().Connect(c.Target.c_str(), Plain(c.DefaultPort));
        if (c.Peer) {
            EXPECT_TRUE(c.Peer->Accept(10000));
        }
        ASSERT_TRUE(run.WaitFor(c.Line, 15000)) << run.Received();
        EXPECT_TRUE(run.WaitFor("\r\n", 5000));
        std::string const line = run.Received();
        EXPECT_EQ(line.find_first_of("\x1b\x07"), std::string::npos) << "printable only: " << line;
        EXPECT_EQ(run.Link().Online(), c.Peer != nullptr) << line;
        if (c.Peer)
            c.Peer->Hangup();
    }
}

TEST(TelnetLink, AnAttemptEndsAtOnce)
{
    // A listener whose queue is full takes no more connections: its
    // address stays silent, as a host that drops them.
    int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port = telnetpeer::FreePort();
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(silent, 0), 0);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        int f = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(f);
    }
    std::string const target = "127.0.0.1:" + std::to_string(port);
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "Close" : "Hangup");
        LINKRUN run;
        LINKOPTIONS o = Plain();
        o.ConnectTimeoutMs = 60000;
        ASSERT_TRUE(run.Link().Connect(target.c_str(), o));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_FALSE(run.Link().Online());
        auto start = CLOCK::now();
        if (close)
            run.Link().Close();
        else
            run.Link().Hangup();
        EXPECT_LT(CLOCK::now() - start, std::chrono::seconds(2));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(run.Received(), "") << "whoever ended the attempt knows: no line";
        EXPECT_FALSE(run.Link().Online());
    }
    for (int f : fillers)
        ::close(f);
    ::close(silent);
}

TEST(TelnetLink, PeerThatClosesLeavesTheLinkOfflineAndQuiet)
{
    RAWPEER peer;
    LINKRUN run;
    run.Link().Connect(("127.0.0.1:" + std::to_string(peer.Port())).c_str(), Plain());
    ASSERT_TRUE(peer.Accept(10000));
    ASSERT_TRUE(run.WaitFor("CONNECT", 10000));
    peer.Send("bye\r\n" + B({IAC, SB, OPT_TTYPE}));
    ASSERT_TRUE(run.WaitFor("bye\r\n", 5000));
    peer.Hangup();
    for (int i = 0; i < 200 && run.Link().Online(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(run.Link().Online());
    size_t const reads = run.Reads();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LE(run.Reads() - reads, 2u) << "the reader waits, it does not spin";
    EXPECT_FALSE(run.Link().Write("x", 1));
}

TEST(TelnetLink, HostileServerMeetsBoundsAndKeysStillGo)
{
    testutil::TempDir dir;
    int const port = telnetpeer::FreePort();
    std::string const log = dir.file("hostile.log");
    telnetpeer::PROCESS server({"python3", telnetpeer::Script("hostile.py"), std::to_string(port), log},
                               dir.file("hostile.out"));
    ASSERT_TRUE(telnetpeer::WaitListening(port, 10000));
    LINKRUN run;
    run.Link().SetTerminal(Xterm());
    run.Link().Connect(("127.0.0.1:" + std::to_string(port)).c_str(), Plain());
    ASSERT_TRUE(run.WaitFor("END\r\n", 60000)) << run.Received().size();
    std::string const got = run.Received();
    size_t const mark = got.find("MARK");
    ASSERT_NE(mark, std::string::npos);
    EXPECT_EQ(got.substr(mark), "MARKa\xff" "bcEND\r\n") << "data after every attack, IACs cut by reads included";
    EXPECT_EQ(got.find("junk"), std::string::npos) << "subnegotiations are no data";
    EXPECT_EQ(got.find("xxxx"), std::string::npos);
    EXPECT_TRUE(run.Link().Write("ping\r\n", 6));
    ASSERT_TRUE(run.WaitFor("pong\r\n", 30000));
    ASSERT_TRUE(server.WaitEnd(20000));
    std::ifstream in(log);
    long requests = 0, replies = 0, bytes = 0, pinged = 0;
    ASSERT_TRUE(in >> requests >> replies >> bytes >> pinged);
    EXPECT_EQ(pinged, 1);
    // One answer per request at most; the first command brings our two
    // offers and turning NAWS on its window size.
    EXPECT_LE(replies, requests + 8);
    EXPECT_GT(replies, 10000) << "each TTYPE SEND answered";
    for (int i = 0; i < 200 && run.Link().Online(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(run.Link().Online()) << "the end inside a subnegotiation is the end";
}

// ---------------------------------------------------------------------------
// TLS

namespace {

// The certificate questions a test answers, recorded.
struct ASKER {
    std::mutex Lock;
    std::vector<CERTQUESTION> Asked;
    int Answer = CERT_REFUSE;
    LINKOPTIONS Options(int port, std::string const& pins)
    {
        LINKOPTIONS o = Plain(port);
        o.Tls = true;
        o.PinFile = pins;
        o.AskCertificate = [this](CERTQUESTION const& q) {
            std::lock_guard<std::mutex> guard(Lock);
            Asked.push_back(q);
            return Answer;
        };
        return o;
    }
};

class TelnetTls : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Certs.Made());
        setenv("SSL_CERT_FILE", Certs.Ca().c_str(), 1);
        setenv("SSL_CERT_DIR", Pins.path().c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("SSL_CERT_FILE");
        unsetenv("SSL_CERT_DIR");
    }
    telnetpeer::CERTS Certs;
    testutil::TempDir Pins;
    std::string PinFile() { return Pins.file("qor/tls-pins"); }
};

} // namespace

TEST_F(TelnetTls, CertificatesCheckedAndQuestionsAsked)
{
    struct CASE {
        char const* Kind;
        char const* Target;
        char const* Reason; // empty: no question
    } const cases[] = {
        {"good", "127.0.0.1", ""},
        {"good", "localhost", ""},
        {"self", "127.0.0.1", "self-signed certificate"},
        {"wrongname", "localhost", "hostname mismatch"},
        {"wrongname", "127.0.0.1", "IP address mismatch"},
        {"expired", "127.0.0.1", "certificate has expired"},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(std::string(c.Kind) + " " + c.Target);
        telnetpeer::TLSSERVER server(Certs, c.Kind);
        ASSERT_TRUE(server.Running());
        ASKER asker;
        LINKRUN run("[TELNET/SSL] ");
        run.Link().Connect(c.Target, asker.Options(server.Port(), PinFile()));
        if (!*c.Reason) {
            ASSERT_TRUE(run.WaitFor("[TELNET/SSL] CONNECT " + std::string(c.Target) + "\r\n", 15000))
                << run.Received();
            EXPECT_TRUE(asker.Asked.empty());
            // Data both ways through TLS.
            server.Send("hello\r\n");
            EXPECT_TRUE(run.WaitFor("hello\r\n", 10000));
            EXPECT_TRUE(run.Link().Write("typed\r\n", 7));
            for (int i = 0; i < 500 && server.Log().find("typed") == std::string::npos; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            EXPECT_NE(server.Log().find("typed"), std::string::npos) << server.Log();
            continue;
        }
        std::string const fail = "[TELNET/SSL] FAIL: certificate: " + std::string(c.Reason) + "\r\n";
        ASSERT_TRUE(run.WaitFor(fail, 15000)) << run.Received();
        ASSERT_EQ(asker.Asked.size(), 1u);
        CERTQUESTION const& q = asker.Asked[0];
        EXPECT_EQ(q.Host, c.Target);
        EXPECT_EQ(q.Port, server.Port());
        EXPECT_EQ(q.Check.Reason, c.Reason);
        EXPECT_NE(q.Check.Subject.find(std::string("CN=") + c.Kind + ".test"), std::string::npos) << q.Check.Subject;
        EXPECT_NE(q.Check.Issuer.find("CN="), std::string::npos);
        EXPECT_EQ(q.Check.Fingerprint.size(), 32u * 3 - 1) << q.Check.Fingerprint;
        EXPECT_FALSE(run.Link().Online());
    }
}

TEST_F(TelnetTls, AcceptedOnceOrAlwaysAndNothingSentBeforeTheAnswer)
{
    telnetpeer::TLSSERVER server(Certs, "self", 3);
    ASSERT_TRUE(server.Running());
    std::string const pins = PinFile();

    // Once: while the question is open the connection takes no byte; after
    // "yes" it runs, and the next connection asks again.
    {
        std::mutex gate;
        std::condition_variable answered;
        bool release = false;
        int asked = 0;
        LINKOPTIONS o = Plain(server.Port());
        o.Tls = true;
        o.PinFile = pins;
        o.AskCertificate = [&](CERTQUESTION const&) {
            std::unique_lock<std::mutex> guard(gate);
            ++asked;
            answered.wait_for(guard, std::chrono::seconds(20), [&] { return release; });
            return CERT_ONCE;
        };
        LINKRUN run("[TELNET/SSL] ");
        run.Link().Connect("127.0.0.1", o);
        for (int i = 0; i < 1000 && !asked; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_FALSE(run.Link().Write("secret", 6)) << "no byte before the check ends";
        EXPECT_FALSE(run.Link().Online());
        {
            std::lock_guard<std::mutex> guard(gate);
            release = true;
        }
        answered.notify_all();
        ASSERT_TRUE(run.WaitFor("[TELNET/SSL] CONNECT 127.0.0.1\r\n", 15000)) << run.Received();
        EXPECT_EQ(server.Log().find("secret"), std::string::npos);
        struct stat st;
        EXPECT_NE(stat(pins.c_str(), &st), 0) << "once is not kept";
    }
    // Always: pinned in a private file, and not asked again.
    {
        ASKER asker;
        asker.Answer = CERT_ALWAYS;
        LINKRUN run("[TELNET/SSL] ");
        run.Link().Connect("127.0.0.1", asker.Options(server.Port(), pins));
        ASSERT_TRUE(run.WaitFor("CONNECT", 15000)) << run.Received();
        ASSERT_EQ(asker.Asked.size(), 1u);
        struct stat st;
        ASSERT_EQ(stat(pins.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_TRUE(PINSTORE(pins).Has("127.0.0.1", server.Port(), asker.Asked[0].Check.Fingerprint));
    }
    {
        ASKER asker;
        LINKRUN run("[TELNET/SSL] ");
        run.Link().Connect("127.0.0.1", asker.Options(server.Port(), pins));
        ASSERT_TRUE(run.WaitFor("[TELNET/SSL] CONNECT", 15000)) << run.Received();
        EXPECT_TRUE(asker.Asked.empty()) << "the pinned certificate needs no question";
    }
}

TEST(CertPins, KeptPerHostAndPortAndTrustedOnlyWhenPrivate)
{
    testutil::TempDir dir;
    std::string const file = dir.file("deep/er/pins");
    PINSTORE pins(file);
    EXPECT_FALSE(pins.Has("host", 992, "AA:BB"));
    ASSERT_TRUE(pins.Add("Host", 992, "AA:BB"));
    ASSERT_TRUE(pins.Add("host", 993, "CC:DD"));
    ASSERT_TRUE(pins.Add("HOST", 992, "EE:FF")) << "a new certificate for the same place replaces the old one";
    struct {
        char const* Host;
        int Port;
        char const* Print;
        bool Pinned;
    } const cases[] = {
        {"host", 992, "EE:FF", true}, {"host", 992, "AA:BB", false}, {"host", 993, "CC:DD", true},
        {"other", 992, "EE:FF", false}, {"host", 992, "", false},
    };
    for (auto const& c : cases)
        EXPECT_EQ(pins.Has(c.Host, c.Port, c.Print), c.Pinned) << c.Host << " " << c.Port << " " << c.Print;
    struct stat st;
    ASSERT_EQ(stat(dir.file("deep").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(pins.Add("bad host", 1, "AA")) << "a blank would break the line";
    // A file others may write is not trusted.
    chmod(file.c_str(), 0666);
    EXPECT_FALSE(pins.Has("host", 992, "EE:FF"));
}
