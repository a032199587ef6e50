// The SSH device in a whole session: the terminal type and size the remote
// shell sees, again after the session's screen is resized.
#include "tests/outside/welkam/sshpeer.h"

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

} // namespace

TEST(WelkamSession, TerminalTypeAndSizeFollowTheScreen)
{
    ASSERT_TRUE(HEADLESSSESSION::StartPlatform());
    sshpeer::SSHD server;
    ASSERT_TRUE(server.Running());
    server.TrustHostKey();
    std::string const config = server.ClientConfig("plain.cfg", "id_plain");
    std::string const parm = "[9]" + std::to_string(server.Port()) + "|" + config;
    HEADLESSSESSION run({.Device = 9, .DeviceParm = parm.c_str(), .Emulation = 18, .Columns = 80, .Rows = 24});
    ASSERT_TRUE(run.IsOpen());
    SESSION& s = run.Session();
    ASSERT_TRUE(s.CommLayer.Connect("127.0.0.1"));
    ASSERT_TRUE(run.RunUntil([&] { return ScreenHas(run, "[SSH] CONNECT 127.0.0.1"); }, 20000)) << run.Row(0);
    EXPECT_TRUE(run.RunUntil([&] { return s.CommLayer.QueryOnline() == 1; }, 5000));
    char name[64] = {};
    s.EmuLayer.QueryUnixName(0, name);
    std::string const cmd = "clear; echo T=$TERM S=$(stty size)\r";
    s.CommLayer.WriteData(cmd.data(), static_cast<long>(cmd.size()));
    std::string const want = std::string("T=") + name + " S=24 80";
    EXPECT_TRUE(run.RunUntil([&] { return ScreenHas(run, want); }, 20000)) << run.Row(0) << "|" << run.Row(1);

    s.Prof.data.WinWidth = 100;
    s.Prof.data.WinHeight = 30;
    s.TrackChanges(false);
    s.CommLayer.WriteData(cmd.data(), static_cast<long>(cmd.size()));
    std::string const wantAfter = std::string("T=") + name + " S=30 100";
    EXPECT_TRUE(run.RunUntil([&] { return ScreenHas(run, wantAfter); }, 20000)) << run.Row(0) << "|" << run.Row(1);
}
