// The pipe RPC: frames byte for byte, calls over TCP and FIFOs in this
// process and with a second process (8 callers, replies out of order,
// calls both ways, a peer killed mid-call), and what a peer may send that
// must be dropped without harm.
#include "velmot/channels/piperpc.h"

#include "tests/support/testutil.h"
#include "tests/velmot/channels/channeltest.h"
#include "tests/velmot/core/assertrecorder.h"
#include "velmot/core/osys.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using chtest::NowMs;
using chtest::WaitUntil;

namespace {

std::string const kStx(1, '\x02');
std::string const kEtx(1, '\x03');

std::string Str(STRING const& s)
{
    return std::string(s.Buf(), static_cast<size_t>(s.Length()));
}

// Commands of the in-process servers: "echo", "sleep" (ms, answers tag),
// "hold" (waits until the test lets go), "ping" (for calls back).
struct SERVICE {
    std::atomic<bool> Release{false};
    std::atomic<int> Held{0};
    std::atomic<int> OneWay{0};
};

void Serve(char const* command, HASH const& args, HASH* result, void* user)
{
    auto* service = static_cast<SERVICE*>(user);
    if (strcmp(command, "echo") == 0) {
        *result = args;
    } else if (strcmp(command, "sleep") == 0) {
        OSYS::Sleep(static_cast<int>(args["ms"]));
        (*result)["tag"] = args["tag"];
    } else if (strcmp(command, "hold") == 0) {
        ++service->Held;
        WaitUntil([&] { return service->Release.load(); }, 20000);
    } else if (strcmp(command, "ping") == 0) {
        (*result)["pong"] = STRING(static_cast<int>(args["n"]) + 1);
    } else if (strcmp(command, "note") == 0) {
        ++service->OneWay;
    }
    (*result)["rc"] = "0";
}

// The targets of the two transports; each test gets its own port or name.
std::vector<std::string> Targets()
{
    static int n = 0;
    return {"TCP:" + std::to_string(chtest::FreeTcpPort()), "PIPE:rpc" + std::to_string(++n)};
}

// A server and a client of this process on one target.
struct LINK {
    SERVICE Service;
    PIPERPC Server{"server"};
    PIPERPC Client{"client"};
    bool Up(std::string const& target)
    {
        Server.pfnCallback = &Serve;
        Server.pUserData = &Service;
        Client.pfnCallback = &Serve;
        Client.pUserData = &Service;
        return Server.RpcConnect(target.c_str(), 1) && Client.RpcConnect(target.c_str(), 0);
    }
};

// The rpc_peer process.
class PEER {
public:
    PEER(std::vector<std::string> args)
    {
        int in[2];
        int out[2];
        pipe2(in, O_CLOEXEC);
        pipe2(out, O_CLOEXEC);
        std::vector<std::string> argv = {QOR_RPC_PEER};
        argv.insert(argv.end(), args.begin(), args.end());
        Pid = chtest::Spawn(argv, in[0], out[1], -1, false);
        close(in[0]);
        close(out[1]);
        Stdin = in[1];
        Stdout = out[0];
    }
    ~PEER()
    {
        close(Stdin);
        if (Pid > 0 && !WaitExit(3000)) {
            kill(Pid, SIGKILL);
            waitpid(Pid, nullptr, 0);
        }
        close(Stdout);
    }
    // The first line the peer prints.
    std::string Line(int timeoutMs) { return chtest::ReadUntilLine(Stdout, "", timeoutMs); }
    bool WaitExit(int timeoutMs, int* status = nullptr)
    {
        long long const end = NowMs() + timeoutMs;
        do {
            int st = 0;
            if (waitpid(Pid, &st, WNOHANG) == Pid) {
                Pid = -1;
                if (status)
                    *status = st;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } while (NowMs() < end);
        return false;
    }
    void Kill() { kill(Pid, SIGKILL); }

private:
    pid_t Pid = -1;
    int Stdin = -1;
    int Stdout = -1;
};

// Reads one frame (up to its ETX) from a socket.
std::string ReadFrame(int fd)
{
    std::string frame;
    long long const end = NowMs() + 10000;
    while ((frame.empty() || frame.back() != '\x03') && NowMs() < end) {
        std::string c = chtest::ReadSome(fd, 1, 1000);
        frame += c;
    }
    return frame;
}

std::string Base64Hash(HASH const& h)
{
    STRING text = h.AsString();
    STRING mime = text.AsMime(1);
    mime.Trim('R', "\r\n");
    return Str(mime);
}

} // namespace

TEST(PipeRpc, FramesAreByteExact)
{
    HASH empty;
    EXPECT_EQ(Str(PIPERPC::BuildFrame('+', 1, "cmd", empty)), kStx + "+[1] cmd " + kEtx);
    EXPECT_EQ(Str(PIPERPC::BuildFrame('-', 4294967295u, "cmd", empty)), kStx + "-[4294967295] cmd " + kEtx);
    HASH one;
    one["a"] = "1";
    EXPECT_EQ(Str(PIPERPC::BuildFrame('+', 7, "cmd", one)), kStx + "+[7] cmd YT0xCg==" + kEtx);
    EXPECT_EQ(Str(PIPERPC::BuildFrame('=', 7, nullptr, one)), kStx + "=[7] YT0xCg==" + kEtx);

    // A payload beyond 76 characters is in lines joined by CR LF, with none
    // after the last; it comes back whole.
    HASH big;
    big["key"] = STRING(std::string(200, 'v').c_str());
    big["other"] = "x=y";
    std::string const frame = Str(PIPERPC::BuildFrame('+', 9, "cmd", big));
    EXPECT_NE(frame.find("\r\n"), std::string::npos);
    EXPECT_EQ(frame.find("\r\n" + kEtx), std::string::npos);
    PIPERPC::FRAME parsed;
    ASSERT_TRUE(PIPERPC::ParseFrame(frame.data(), static_cast<int>(frame.size()), &parsed));
    EXPECT_EQ(parsed.Type, '+');
    EXPECT_EQ(parsed.Id, 9u);
    EXPECT_EQ(Str(parsed.Command), "cmd");
    HASH const back = PIPERPC::DecodePayload(parsed.Payload);
    EXPECT_EQ(Str(back["key"]), std::string(200, 'v'));
    EXPECT_EQ(Str(back["other"]), "x=y");

    for (std::string const& bad :
         {std::string(), kStx, "x+[1] c " + kEtx, kStx + "*[1] c " + kEtx, kStx + "+1] c " + kEtx,
          kStx + "+[] c " + kEtx, kStx + "+[1a] c " + kEtx, kStx + "+[99999999999] c " + kEtx,
          kStx + "+[1]c" + kEtx, kStx + "+[1]  " + kEtx, kStx + "+[1] c @@" + kEtx, kStx + "=[1]" + kEtx,
          kStx + "+[1] c YQ==" + std::string(1, '\0') + kEtx, kStx + "+[1] c" + std::string(1, '\0') + "d " + kEtx}) {
        SCOPED_TRACE(testing::PrintToString(bad));
        EXPECT_FALSE(PIPERPC::ParseFrame(bad.data(), static_cast<int>(bad.size()), &parsed));
    }
}

// The first call of a process has the id 1; seen on the wire from a second
// process, which gets the reply.
TEST(PipeRpc, FirstCallOfAProcess)
{
    int port = 0;
    int listener = chtest::ListenTcp(false, 4, &port);
    PEER peer({"client", "TCP:127.0.0.1:" + std::to_string(port)});
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(fd, 0);
    HASH who;
    who["who"] = "peer";
    EXPECT_EQ(ReadFrame(fd), kStx + "+[1] hello " + Base64Hash(who) + kEtx);
    HASH greeting;
    greeting["greeting"] = "hi there";
    greeting["rc"] = "0";
    ASSERT_TRUE(chtest::WriteAll(fd, kStx + "=[1] " + Base64Hash(greeting) + kEtx));
    EXPECT_EQ(peer.Line(5000), "hi there");
    int status = -1;
    EXPECT_TRUE(peer.WaitExit(5000, &status));
    EXPECT_EQ(status, 0);
    close(fd);
    close(listener);
}

// Eight callers at once; the handlers finish in the opposite order of the
// calls, and each reply reaches its own caller.
TEST(PipeRpc, EightCallersRepliesOutOfOrder)
{
    for (std::string const& target : Targets()) {
        SCOPED_TRACE(target);
        LINK link;
        ASSERT_TRUE(link.Up(target));
        std::vector<std::thread> callers;
        std::vector<std::string> tags(8);
        std::atomic<int> ok{0};
        for (int i = 0; i < 8; ++i) {
            callers.emplace_back([&, i] {
                HASH args;
                args["ms"] = STRING((8 - i) * 40);
                args["tag"] = STRING(i);
                HASH result;
                if (link.Client.RpcCall("sleep", args, &result, 0) && result["rc"] == "0")
                    ++ok;
                tags[static_cast<size_t>(i)] = Str(result["tag"]);
            });
        }
        for (std::thread& t : callers)
            t.join();
        EXPECT_EQ(ok, 8);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(tags[static_cast<size_t>(i)], std::to_string(i));
        // Calls the other way on the same link.
        HASH args;
        args["n"] = "41";
        HASH result;
        ASSERT_TRUE(link.Server.RpcCall("ping", args, &result, 0));
        EXPECT_EQ(Str(result["pong"]), "42");
    }
}

// Beyond sixteen running handlers, a call is answered at once with rc -1;
// a one-way call runs and is not answered.
TEST(PipeRpc, CallsBeyondSixteenHandlersAreRefused)
{
    for (std::string const& target : Targets()) {
        SCOPED_TRACE(target);
        LINK link;
        ASSERT_TRUE(link.Up(target));
        std::vector<std::thread> callers;
        std::atomic<int> held{0};
        std::atomic<int> refused{0};
        for (int i = 0; i < 16; ++i) {
            callers.emplace_back([&] {
                HASH result;
                if (link.Client.RpcCall("hold", HASH(), &result, 1) && result["rc"] == "0")
                    ++held;
            });
        }
        ASSERT_TRUE(WaitUntil([&] { return link.Service.Held == 16; }, 10000));
        for (int i = 0; i < 4; ++i) {
            HASH result;
            ASSERT_TRUE(link.Client.RpcCall("echo", HASH(), &result, 1));
            if (result["rc"] == "-1")
                ++refused;
        }
        EXPECT_EQ(refused, 4);
        link.Service.Release = true;
        for (std::thread& t : callers)
            t.join();
        EXPECT_EQ(held, 16);
        HASH result;
        EXPECT_TRUE(link.Client.RpcCall("echo", HASH(), &result, 1));
        EXPECT_EQ(result["rc"], "0");
    }
}

// A server on TCP port 0 in single-connection mode: RpcConnect returns
// once it listens (before any caller), on a port the system chose, on the
// loopback address only.
TEST(PipeRpc, ServerOnPortZeroListensOnLoopback)
{
    PIPERPC server("server");
    SERVICE service;
    server.pfnCallback = &Serve;
    server.pUserData = &service;
    ASSERT_TRUE(server.RpcConnect("TCP:0", 2));
    int const port = atoi(server.GetDeviceInfo("ACCEPTPORT"));
    ASSERT_GT(port, 0);
    char local[32];
    snprintf(local, sizeof local, "0100007F:%04X", port);
    std::string const table = testutil::ReadFile("/proc/self/net/tcp");
    EXPECT_NE(table.find(local), std::string::npos) << local;

    PIPERPC client("client");
    ASSERT_TRUE(client.RpcConnect(("TCP:127.0.0.1:" + std::to_string(port)).c_str(), 0));
    HASH args;
    args["x"] = "y";
    HASH result;
    ASSERT_TRUE(client.RpcCall("echo", args, &result, 0));
    EXPECT_EQ(result["x"], "y");
}

// What a peer sends that is not a frame is dropped, without a question to
// the user; the link goes on serving.
TEST(PipeRpc, MalformedFramesAreDropped)
{
    testutil::ASSERTRECORDER recorder;
    int const port = chtest::FreeTcpPort();
    PIPERPC server("server");
    SERVICE service;
    server.pfnCallback = &Serve;
    server.pUserData = &service;
    ASSERT_TRUE(server.RpcConnect(("TCP:" + std::to_string(port)).c_str(), 1));
    int fd = chtest::ConnectTcp(false, port);
    ASSERT_GE(fd, 0);
    std::string junk = "no frame at all" + kEtx + kStx + "?[1] x " + kEtx + kStx + "+[x] y " + kEtx + kStx +
                       "+[2]" + kEtx + kStx + "=[123456] YT0xCg==" + kEtx + "noise" + kStx + "-[3] note " + kEtx;
    junk += kStx + "+[4] echo " + std::string(PIPERPC::MAXFRAME + 10, 'A') + kEtx;
    ASSERT_TRUE(chtest::WriteAll(fd, junk));
    HASH args;
    args["still"] = "here";
    ASSERT_TRUE(chtest::WriteAll(fd, kStx + "+[5] echo " + Base64Hash(args) + kEtx));
    std::string const reply = ReadFrame(fd);
    PIPERPC::FRAME frame;
    ASSERT_TRUE(PIPERPC::ParseFrame(reply.data(), static_cast<int>(reply.size()), &frame));
    EXPECT_EQ(frame.Type, '=');
    EXPECT_EQ(frame.Id, 5u);
    EXPECT_EQ(PIPERPC::DecodePayload(frame.Payload)["still"], "here");
    EXPECT_TRUE(WaitUntil([&] { return service.OneWay == 1; }, 5000));
    EXPECT_EQ(recorder.Count(), 0u);
    close(fd);
}

// A reply to an id nobody waits for is dropped: callers waiting for their
// own replies sleep meanwhile.
TEST(PipeRpc, StrayReplyLeavesCallersAsleep)
{
    int port = 0;
    int listener = chtest::ListenTcp(false, 4, &port);
    PIPERPC client("client");
    ASSERT_TRUE(client.RpcConnect(("TCP:127.0.0.1:" + std::to_string(port)).c_str(), 0));
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::atomic<double> cpu{-1};
    std::atomic<bool> ok{false};
    std::thread caller([&] {
        double const start = chtest::ThreadCpuMs();
        HASH result;
        ok = client.RpcCall("wait", HASH(), &result, 0) && result["rc"] == "0";
        cpu = chtest::ThreadCpuMs() - start;
    });
    std::string const call = ReadFrame(fd);
    PIPERPC::FRAME frame;
    ASSERT_TRUE(PIPERPC::ParseFrame(call.data(), static_cast<int>(call.size()), &frame));
    HASH rc;
    rc["rc"] = "0";
    ASSERT_TRUE(chtest::WriteAll(fd, kStx + "=[" + std::to_string(frame.Id + 1000) + "] " + Base64Hash(rc) + kEtx));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(chtest::WriteAll(fd, kStx + "=[" + std::to_string(frame.Id) + "] " + Base64Hash(rc) + kEtx));
    caller.join();
    EXPECT_TRUE(ok);
    EXPECT_LT(cpu, 100.0);
    close(fd);
    close(listener);
}

// With a second process as the server, over each transport: eight callers
// with replies out of order, a call during which the server calls back,
// and the server killed while a call waits.
TEST(PipeRpc, WithAPeerProcess)
{
    for (std::string const& target : Targets()) {
        SCOPED_TRACE(target);
        PEER peer({"server", target, "1"});
        ASSERT_EQ(peer.Line(10000).rfind("ready", 0), 0u);
        SERVICE service;
        PIPERPC client("client");
        client.pfnCallback = &Serve;
        client.pUserData = &service;
        ASSERT_TRUE(client.RpcConnect(target.c_str(), 0));

        std::vector<std::thread> callers;
        std::atomic<int> inOrder{0};
        for (int i = 0; i < 8; ++i) {
            callers.emplace_back([&, i] {
                HASH args;
                args["ms"] = STRING((8 - i) * 30);
                args["tag"] = STRING(i);
                HASH result;
                if (client.RpcCall("sleep", args, &result, 1) && result["tag"] == STRING(i))
                    ++inOrder;
            });
        }
        for (std::thread& t : callers)
            t.join();
        EXPECT_EQ(inOrder, 8);

        HASH args;
        args["n"] = "6";
        HASH result;
        ASSERT_TRUE(client.RpcCall("callback", args, &result, 0));
        EXPECT_EQ(result["pong"], "7");

        std::atomic<int> waiting{-1};
        std::thread caller([&] {
            HASH sleepArgs;
            sleepArgs["ms"] = "20000";
            HASH r;
            waiting = client.RpcCall("sleep", sleepArgs, &r, 0) ? 1 : 0;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        peer.Kill();
        ASSERT_TRUE(WaitUntil([&] { return waiting != -1; }, 10000));
        caller.join();
        EXPECT_EQ(waiting, 0);
        EXPECT_FALSE(client.IsRpcConnected());
        EXPECT_FALSE(client.RpcCall("echo", HASH(), &result, 1));
    }
}
