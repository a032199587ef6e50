// Channels destroyed while another thread is inside them: in AcceptCall,
// in a Read without time-out, in a connect. Each destruction is bounded,
// and the other thread's call returns. (Run this binary under
// ThreadSanitizer too: -DVELMOT_TSAN=ON.)
#include "velmot/channels/mailio.h"
#include "velmot/channels/pipeio.h"
#include "velmot/channels/tcpio.h"

#include "tests/velmot/channels/channeltest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

using chtest::NowMs;
using chtest::WaitUntil;

namespace {

// Starts `call` on a thread, lets it block, destroys the channel, and
// checks that both the destruction and the call end in time.
void DestroyWhileInside(std::unique_ptr<BASEIO> io, std::function<bool(BASEIO&)> call)
{
    std::atomic<int> result{-1};
    BASEIO* raw = io.get();
    std::thread inside([&] { result = call(*raw) ? 1 : 0; });
    EXPECT_FALSE(WaitUntil([&] { return result != -1; }, 200)) << "the call did not block";
    long long const start = NowMs();
    io.reset();
    EXPECT_LT(NowMs() - start, 3000);
    EXPECT_TRUE(WaitUntil([&] { return result != -1; }, 3000));
    inside.join();
    EXPECT_EQ(result, 0);
}

} // namespace

TEST(Destroy, TcpInAcceptCall)
{
    auto io = std::make_unique<TCPIPIO>((std::to_string(chtest::FreeTcpPort()) + "[127.0.0.1]").c_str(), "", "");
    DestroyWhileInside(std::move(io), [](BASEIO& c) { return c.AcceptCall(); });
}

TEST(Destroy, TcpInReadWithoutTimeOut)
{
    int port = 0;
    int listener = chtest::ListenTcp(false, 4, &port);
    auto io = std::make_unique<TCPIPIO>("0", "", "");
    io->ResolvePeerOnCall = 0;
    ASSERT_TRUE(io->MakeCall(("127.0.0.1:" + std::to_string(port)).c_str()));
    int peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    DestroyWhileInside(std::move(io), [](BASEIO& c) {
        char buf[16];
        int n = sizeof buf;
        return c.Read(buf, &n, -1, nullptr);
    });
    close(peer);
    close(listener);
}

TEST(Destroy, TcpInConnect)
{
    chtest::DEADLISTENER dead;
    auto io = std::make_unique<TCPIPIO>("0", "", "");
    io->ResolvePeerOnCall = 0;
    std::string const dest = "127.0.0.1:" + std::to_string(dead.Port());
    DestroyWhileInside(std::move(io), [dest](BASEIO& c) { return c.MakeCall(dest.c_str()); });
}

TEST(Destroy, PipeInAcceptCall)
{
    auto io = std::make_unique<PIPEIO>("destroyed", "", "");
    DestroyWhileInside(std::move(io), [](BASEIO& c) { return c.AcceptCall(); });
}

// The broadcast channel's reader thread waits in its datagram read: the
// destructor ends it.
TEST(Destroy, MailWithReaderThread)
{
    auto io = std::make_unique<MAILIO>("destroy", "", "");
    io->SetDataFunction([](void*, char const*, int) {}, nullptr);
    ASSERT_NE(io->GetThreadHandle(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    long long const start = NowMs();
    io.reset();
    EXPECT_LT(NowMs() - start, 3000);
}
