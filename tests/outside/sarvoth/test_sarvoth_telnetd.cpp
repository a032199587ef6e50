// The Telnet device in a whole session against inetutils telnetd: the
// terminal type and size the remote side sees, again after a resize, and
// 8-bit bytes (0xFF among them) passing both ways.
#include "tests/outside/sarvoth/telnetpeer.h"

#include "program/session/sessionrunner.h"

#include <gtest/gtest.h>

namespace {

bool ScreenHas(HEADLESSSESSION& run, std::string const& text)
{
    for (int y = 0; y < 60; ++y) {
        if (run.Row(y).find(text) != std::string::npos)
            return true;
    }
    return false;
}

std::string Screen(HEADLESSSESSION& run)
{
    std::string out;
    for (int y = 0; y < 8; ++y)
        out += run.Row(y) + "|";
    return out;
}

} // namespace

TEST(SarvothTelnetd, TerminalTypeSizeAndEightBitBytes)
{
    ASSERT_TRUE(HEADLESSSESSION::StartPlatform());
    telnetpeer::TELNETD server;
    ASSERT_TRUE(server.Running());
    std::string const parm = "[3]" + std::to_string(server.Port()) + "|";
    HEADLESSSESSION run({.Device = 3, .DeviceParm = parm.c_str(), .Emulation = 18, .Columns = 80, .Rows = 24,
                         .CodePage = 1000});
    ASSERT_TRUE(run.IsOpen());
    SESSION& s = run.Session();
    ASSERT_TRUE(s.CommLayer.Connect("127.0.0.1"));
    ASSERT_TRUE(run.RunUntil([&] { return ScreenHas(run, "[TELNET] CONNECT 127.0.0.1"); }, 20000)) << Screen(run);
    EXPECT_TRUE(run.RunUntil([&] { return s.CommLayer.QueryOnline() == 1; }, 5000));
    char name[64] = {};
    s.EmuLayer.QueryUnixName(0, name);
    // telnetd may start the login before the window size has arrived: the
    // size is asked for again.
    std::string const want = std::string("T=") + name + " S=";
    EXPECT_TRUE(run.RunUntil([&] { return ScreenHas(run, want); }, 20000)) << Screen(run);
    std::string const size = "size\r";
    s.CommLayer.WriteData(size.data(), static_cast<long>(size.size()));
    EXPECT_TRUE(run.RunUntil([&] { return ScreenHas(run, "S=24 80"); }, 20000)) << Screen(run);

    s.Prof.data.WinWidth = 100;
    s.Prof.data.WinHeight = 30;
    s.TrackChanges(false);
    s.CommLayer.WriteData(size.data(), static_cast<long>(size.size()));
    EXPECT_TRUE(run.RunUntil([&] { return ScreenHas(run, "S=30 100"); }, 20000)) << Screen(run);

    // Latin-1 e-acute and 0xFF (IAC, doubled on the wire) reach the host
    // as themselves; cat -v shows them.
    std::string const bytes = "x\xE9\xFFy\r";
    s.CommLayer.WriteData(bytes.data(), static_cast<long>(bytes.size()));
    EXPECT_TRUE(run.RunUntil([&] { return ScreenHas(run, "xM-iM-^?y"); }, 20000)) << Screen(run);
    char status[4096] = {};
    ASSERT_NE(s.CommLayer.Device(), nullptr);
    s.CommLayer.Device()->StatusText(status);
    // Our side is BINARY (telnetd keeps its own side NVT).
    std::string const options = status;
    EXPECT_TRUE(options.find("BINARY(ours)") != std::string::npos ||
                options.find("BINARY(both)") != std::string::npos)
        << options;
}
