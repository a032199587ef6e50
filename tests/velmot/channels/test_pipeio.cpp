// The named-FIFO channel: the handshake and its files, bytes both ways, a
// caller that never comes or greets wrongly, and the folder the FIFOs live
// in (private, never through a link or someone else's folder).
#include "velmot/channels/pipeio.h"

#include "tests/support/testutil.h"
#include "tests/velmot/channels/channeltest.h"
#include "tests/velmot/core/assertrecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using chtest::NowMs;
using chtest::WaitUntil;

namespace {

// Each test gets a runtime folder of its own.
class PipeIo : public testing::Test {
protected:
    void SetUp() override
    {
        Runtime = std::make_unique<testutil::TempDir>();
        chmod(Runtime->path().c_str(), 0700);
        Saved = getenv("XDG_RUNTIME_DIR") ? getenv("XDG_RUNTIME_DIR") : "";
        setenv("XDG_RUNTIME_DIR", Runtime->path().c_str(), 1);
    }
    void TearDown() override { setenv("XDG_RUNTIME_DIR", Saved.c_str(), 1); }

    std::string Folder(char const* name = "tarvo-fifo") { return Runtime->file(name); }

    std::unique_ptr<testutil::TempDir> Runtime;
    std::string Saved;
};

mode_t ModeOf(std::string const& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

// Runs AcceptCall on a thread of its own.
struct ACCEPTOR {
    explicit ACCEPTOR(PIPEIO& io) : Thread([this, &io] { Result = io.AcceptCall() ? 1 : 0; }) {}
    ~ACCEPTOR()
    {
        if (Thread.joinable())
            Thread.join();
    }
    int Wait(int timeoutMs)
    {
        WaitUntil([this] { return Result != -1; }, timeoutMs);
        return Result;
    }
    std::atomic<int> Result{-1};
    std::thread Thread;
};

// Waits until the accepting side has made its FIFOs and waits.
bool Listening(std::string const& fifo)
{
    return WaitUntil([&] { return S_ISFIFO(ModeOf(fifo)); }, 5000);
}

} // namespace

TEST_F(PipeIo, ConnectsAndCarriesBytesBothWays)
{
    PIPEIO server("a\\b", "", "");
    PIPEIO client("", "", "");
    ASSERT_TRUE(server.IsUpAndRunning());
    std::string const up = Folder() + "/a!b.upstream.fifo";
    std::string const down = Folder() + "/a!b.downstream.fifo";
    ACCEPTOR accept(server);
    ASSERT_TRUE(Listening(up));
    EXPECT_EQ(ModeOf(Folder()) & 0777, 0700u);
    EXPECT_EQ(ModeOf(up) & 0777, 0600u);
    EXPECT_EQ(ModeOf(down) & 0777, 0600u);
    ASSERT_TRUE(client.MakeCall("a\\b")) << client.GetInfo("LASTERRORSTRING").Buf();
    ASSERT_EQ(accept.Wait(5000), 1);
    EXPECT_EQ(server.GetInfo("ONLINE"), "1");
    EXPECT_EQ(client.GetInfo("ONLINE"), "1");

    std::string const toServer = chtest::Pattern(200000, 1);
    std::string const toClient = chtest::Pattern(70000, 2);
    std::thread writer([&] { EXPECT_TRUE(client.Write(toServer.data(), static_cast<int>(toServer.size()))); });
    EXPECT_TRUE(chtest::ReadExactly(server, toServer.size(), 10000) == toServer);
    writer.join();
    std::thread back([&] { EXPECT_TRUE(server.Write(toClient.data(), static_cast<int>(toClient.size()))); });
    EXPECT_TRUE(chtest::ReadExactly(client, toClient.size(), 10000) == toClient);
    back.join();
    EXPECT_GE(atoi(server.GetInfo("IDLE_TIME")), 0);

    // The accepting side drops: its files go, the caller sees the end.
    EXPECT_TRUE(server.DropCall());
    EXPECT_EQ(ModeOf(up), 0u);
    EXPECT_EQ(ModeOf(down), 0u);
    char c;
    int n = 1;
    EXPECT_FALSE(client.Read(&c, &n, 2000, nullptr));
    EXPECT_EQ(client.GetInfo("ONLINE"), "0");
}

TEST_F(PipeIo, CallWithoutAcceptorFailsAtOnce)
{
    PIPEIO client("", "", "");
    long long const start = NowMs();
    EXPECT_FALSE(client.MakeCall("nobody"));
    EXPECT_LT(NowMs() - start, 1000);
    EXPECT_EQ(std::string(client.GetInfo("LASTERRORSTRING")).rfind("MakeCall: Can't open fdout (", 0), 0u)
        << client.GetInfo("LASTERRORSTRING").Buf();
}

// A caller that greets wrongly, or opens the FIFO and then does nothing:
// the accept fails (in the second case within the handshake time-out),
// the channel stays idle and its files go. Nothing is asked.
TEST_F(PipeIo, BadOrMissingGreetingFailsTheAccept)
{
    testutil::ASSERTRECORDER recorder;
    for (char const* greeting : {"HELLO!!\n", "CONN"}) {
        SCOPED_TRACE(greeting);
        PIPEIO server("svc", "", "");
        server.HandshakeTimeout = 300;
        std::string const up = Folder() + "/svc.upstream.fifo";
        std::string const down = Folder() + "/svc.downstream.fifo";
        ACCEPTOR accept(server);
        ASSERT_TRUE(Listening(up));
        int in = open(down.c_str(), O_RDONLY | O_NONBLOCK);
        int out = open(up.c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(out, 0);
        ASSERT_EQ(write(out, greeting, strlen(greeting)), static_cast<ssize_t>(strlen(greeting)));
        EXPECT_EQ(accept.Wait(5000), 0);
        EXPECT_EQ(server.GetInfo("ONLINE"), "0");
        EXPECT_EQ(ModeOf(up), 0u);
        close(in);
        close(out);
    }
    EXPECT_EQ(recorder.Count(), 0u);
}

// The FIFO folder is never one reached through a link, not a folder, or
// someone else's: the next name is taken. A folder of ours that others
// could enter is made private.
TEST_F(PipeIo, FolderIsPrivateAndNeverALink)
{
    testutil::TempDir elsewhere;
    struct CASE {
        char const* what;
        std::function<void(std::string const&)> make;
        char const* used;
    };
    std::vector<CASE> cases = {
        {"link", [&](std::string const& p) { ASSERT_EQ(symlink(elsewhere.path().c_str(), p.c_str()), 0); }, "tarvo-fifo0"},
        {"file", [](std::string const& p) { testutil::WriteFile(p, "x"); }, "tarvo-fifo0"},
        {"open to all", [](std::string const& p) { mkdir(p.c_str(), 0777); chmod(p.c_str(), 0777); }, "tarvo-fifo"},
    };
    if (geteuid() == 0) {
        cases.push_back({"someone else's", [](std::string const& p) {
                             mkdir(p.c_str(), 0700);
                             ASSERT_EQ(chown(p.c_str(), 65534, 65534), 0);
                         }, "tarvo-fifo0"});
    }
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.what);
        testutil::TempDir runtime;
        chmod(runtime.path().c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
        c.make(runtime.file("tarvo-fifo"));
        PIPEIO server("svc", "", "");
        ASSERT_TRUE(server.IsUpAndRunning());
        EXPECT_EQ(std::string(server.GetFolder()), runtime.file(c.used));
        EXPECT_EQ(ModeOf(runtime.file(c.used)) & 0777, 0700u);
        ACCEPTOR accept(server);
        ASSERT_TRUE(Listening(runtime.file(c.used) + "/svc.upstream.fifo"));
        PIPEIO client("", "", "");
        EXPECT_TRUE(client.MakeCall("svc"));
        EXPECT_EQ(accept.Wait(5000), 1);
        EXPECT_EQ(testutil::ReadFile(elsewhere.file("svc.upstream.fifo")), "");
        EXPECT_EQ(ModeOf(elsewhere.file("svc.upstream.fifo")), 0u);
    }
}

TEST_F(PipeIo, TextQuery)
{
    testutil::ASSERTRECORDER recorder;
    PIPEIO io("name\\x", "", "");
    EXPECT_EQ(io.GetInfo("DEVICENAME"), "PIPE");
    EXPECT_EQ(io.GetInfo("OWNID"), "name\\x");
    EXPECT_EQ(io.GetInfo("CALLERID"), "<unknown>");
    EXPECT_EQ(io.GetInfo("BANDWIDTH"), "10000000");
    EXPECT_EQ(io.GetInfo("IDLE_TIME"), "-1");
    EXPECT_EQ(io.GetInfo("ONLINE"), "0");
    EXPECT_EQ(io.GetInfo("LASTERRORCLASS"), "");
    EXPECT_EQ(recorder.Count(), 0u);
}
