// The named-pipe device: the greetings, bytes both ways, the peer's end,
// FIFOs that are not the user's own or no FIFOs at all, and an attempt
// ended while it waits.
#include "tests/outside/welkam/sshpeer.h"

#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <vector>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using CLOCK = std::chrono::steady_clock;

// The peer's end of a pair: it reads <path>.in and writes <path>.out.
struct PEER {
    std::string Path;
    int In = -1, Out = -1;
    ~PEER()
    {
        if (In >= 0)
            close(In);
        if (Out >= 0)
            close(Out);
    }
    // Opens both ends once the device has opened its own (bounded).
    bool OpenEnds(int ms)
    {
        for (auto end = CLOCK::now() + std::chrono::milliseconds(ms); CLOCK::now() < end;) {
            if (In < 0)
                In = open((Path + ".in").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (Out < 0)
                Out = open((Path + ".out").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (In >= 0 && Out >= 0)
                return true;
            usleep(5000);
        }
        return false;
    }
    std::string Take(size_t n, int ms)
    {
        std::string out;
        for (auto end = CLOCK::now() + std::chrono::milliseconds(ms); out.size() < n && CLOCK::now() < end;) {
            pollfd p{In, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            char buf[256];
            ssize_t got = read(In, buf, std::min(sizeof buf, n - out.size()));
            if (got > 0)
                out.append(buf, static_cast<size_t>(got));
        }
        return out;
    }
    bool Send(std::string const& s) { return write(Out, s.data(), s.size()) == static_cast<ssize_t>(s.size()); }
};

class NamedPipeTest : public ::testing::Test {
public:
    std::string MakePair(std::string const& name, mode_t mode = 0600)
    {
        std::string const path = Dir.file(name);
        EXPECT_EQ(mkfifo((path + ".in").c_str(), 0600), 0);
        EXPECT_EQ(mkfifo((path + ".out").c_str(), 0600), 0);
        chmod((path + ".in").c_str(), mode);
        return path;
    }
    testutil::TempDir Dir;
    sshpeer::SCRIPTEDPUBLIC Pub;
};

} // namespace

TEST_F(NamedPipeTest, GreetingsThenBytesBothWaysUntilThePeerCloses)
{
    sshpeer::DEVICE dev(Pub, "[4]", "tennick", 2);
    PEER peer{MakePair("host")};
    EXPECT_EQ(dev.Command("CALLINFO|x"), "OK");
    EXPECT_EQ(dev.Command("NOSUCH"), "<none>");
    ASSERT_EQ(dev.Dev().Connect(peer.Path.c_str()), 1);
    ASSERT_TRUE(peer.OpenEnds(5000));
    EXPECT_EQ(peer.Take(8, 5000), "CONNECT\n");
    EXPECT_EQ(dev.Dev().QueryOnline(), 0) << "not before the peer greets";
    ASSERT_TRUE(peer.Send("CONNECT\nhello"));
    ASSERT_TRUE(dev.WaitFor("hello", 5000));
    EXPECT_EQ(dev.Received(), "[PIPE] CONNECT " + peer.Path + "\r\nhello") << "the greeting is not data";
    EXPECT_TRUE(dev.WaitOnline(1, 5000));
    ASSERT_TRUE(dev.Write("ab\xff\r\n"));
    EXPECT_EQ(peer.Take(5, 5000), "ab\xff\r\n");

    close(peer.Out);
    close(peer.In);
    peer.Out = peer.In = -1;
    EXPECT_TRUE(dev.WaitOnline(0, 5000)) << "the peer's end is the connection's";
    EXPECT_FALSE(dev.Write("late")) << "nobody reads";
}

TEST_F(NamedPipeTest, RefusedEndsAndGreetings)
{
    struct CASE {
        char const* Name;
        std::function<std::string(NamedPipeTest&)> Make;
        std::string Peer; // what the peer answers ("" : nothing, it closes)
        char const* Reason;
    };
    std::vector<CASE> const cases = {
        {"missing", [](NamedPipeTest& t) { return t.Dir.file("nothing"); }, "", "No such file"},
        {"no FIFO",
         [](NamedPipeTest& t) {
             std::string const p = t.Dir.file("plain");
             testutil::WriteFile(p + ".out", "x");
             return p;
         },
         "", "is no FIFO"},
        {"others may write", [](NamedPipeTest& t) { return t.MakePair("open", 0622); }, "", "is not the user's alone"},
        {"a link",
         [](NamedPipeTest& t) {
             std::string const real = t.MakePair("real");
             std::string const p = t.Dir.file("link");
             EXPECT_EQ(symlink((real + ".out").c_str(), (p + ".out").c_str()), 0);
             EXPECT_EQ(symlink((real + ".in").c_str(), (p + ".in").c_str()), 0);
             return p;
         },
         "", "is no FIFO"},
        {"wrong greeting", [](NamedPipeTest& t) { return t.MakePair("rude"); }, "HELLO\n", "greeting was not CONNECT"},
        {"closes first", [](NamedPipeTest& t) { return t.MakePair("shy"); }, "", "closed before it greeted"},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.Name);
        sshpeer::DEVICE dev(Pub, "[4]", "tennick", 2);
        PEER peer{c.Make(*this)};
        ASSERT_EQ(dev.Dev().Connect(peer.Path.c_str()), 1);
        if (std::string(c.Name) == "wrong greeting" || std::string(c.Name) == "closes first") {
            ASSERT_TRUE(peer.OpenEnds(5000));
            EXPECT_EQ(peer.Take(8, 5000), "CONNECT\n");
            if (c.Peer.empty()) {
                close(peer.Out);
                peer.Out = -1;
            } else {
                peer.Send(c.Peer);
            }
        }
        ASSERT_TRUE(dev.WaitFor("\r\n", 5000));
        std::string const got = dev.Received();
        EXPECT_EQ(got.rfind("[PIPE] FAIL: ", 0), 0u) << got;
        EXPECT_NE(got.find(c.Reason), std::string::npos) << got;
        EXPECT_EQ(dev.Dev().QueryOnline(), 0);
    }
}

TEST_F(NamedPipeTest, AnAttemptEndsAtOnce)
{
    sshpeer::DEVICE dev(Pub, "[4]", "tennick", 2);
    std::string const path = MakePair("silent");
    ASSERT_EQ(dev.Dev().Connect(path.c_str()), 1);
    usleep(100000);
    auto const start = CLOCK::now();
    dev.Dev().AbortConnect();
    EXPECT_LT(CLOCK::now() - start, std::chrono::seconds(1)) << "nobody reads the FIFO: the attempt waits";
    EXPECT_EQ(dev.Dev().QueryOnline(), 0);
    usleep(100000);
    EXPECT_EQ(dev.Received(), "") << "whoever ended the attempt knows";
}
