// Real keys into a session on the local shell, under a private X server:
// xdotool types them through XTEST into the session's window, the key map
// and the dispatcher turn them into bytes, and the shell, in raw mode,
// hands exactly those bytes to od. The test reads what od saw.
//
// The whole binary runs on Qt's xcb platform against the server, which is
// started before the window system and outlives it (it ends with this
// process).
#include "tests/program/session/sessionfixture.h"

#include "tests/support/testutil.h"
#include "tests/support/xserver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

using namespace sessiontest;

namespace {

class XServerEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        std::string const xvfb = xtest::FindTool("Xvfb"), xauth = xtest::FindTool("xauth");
        Xdotool = xtest::FindTool("xdotool");
        ASSERT_FALSE(xvfb.empty() || xauth.empty() || Xdotool.empty())
            << "Xvfb, xauth or xdotool missing (scripts/setup installs them)";
        // Never stopped: the window system keeps its connection to the
        // end, and the server dies with this process.
        Server = new xtest::XServer;
        ASSERT_TRUE(Server->Start(xvfb, xauth, Folder.path()));
        setenv("DISPLAY", Server->Display().c_str(), 1);
        setenv("XAUTHORITY", Server->AuthFile().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    }

    testutil::TempDir Folder;
    xtest::XServer* Server = nullptr;
    std::string Xdotool;
};

XServerEnvironment* gX = nullptr;

// The server first, then the window system on it.
[[maybe_unused]] bool const kSetUp =
    (gX = static_cast<XServerEnvironment*>(::testing::AddGlobalTestEnvironment(new XServerEnvironment)),
     UsePlatform(), true);

constexpr char kKeymap[] =
    "QOR6.44 // KEYBOARD\n"
    "// each entry: scancode(hex)|flags(hex)|void|void|future|future|remap-string\n"
    "// flags: UTF8(256), Cmd(128), Ignore-Scroll(64), Alt(32), Ctrl(16), Shift(8), Ignore-Num(4), \n"
    "//        Scroll(2), Num(1) (one bit each, e.g flag for Ctrl+Shift = 16+8 = 24 = flag 18(hex))\n"
    "3F|44|-1|-1|0|0|k5\n";

class X11KeysTest : public SessionTest {
protected:
    bool ScreenShows(std::string const& text)
    {
        for (int y = 0; y < 24; ++y)
            if (Row(y).find(text) != std::string::npos)
                return true;
        return false;
    }
    void Xdotool(std::vector<std::string> const& args)
    {
        xtest::Child tool;
        std::vector<std::string> argv = {gX->Xdotool};
        argv.insert(argv.end(), args.begin(), args.end());
        ASSERT_TRUE(tool.Start(argv, xtest::EnvWith({}), false));
        // The keys queue up at the server while this thread waits.
        ASSERT_TRUE(tool.WaitExit(20000));
    }
};

TEST_F(X11KeysTest, TheShellReceivesTheBytesOfTheKeysTyped)
{
    testutil::WriteFile(Work.file("Options/Standard.qky"), kKeymap);
    std::string const received = Work.file("received.txt");
    // A script: the device's parameter text has room for a short command
    // line only.
    std::string const script = Work.file("od.sh");
    testutil::WriteFile(script, "stty raw -echo\nprintf READY\nhead -c 9 | od -An -c > '" + received + "'\nprintf DONE\n");
    std::string const command = "[11]/bin/sh " + script;
    ASSERT_LT(command.size(), sizeof S->Prof.data.DeviceOpts[0]);
    ASSERT_TRUE(Open(11, 0, command.c_str()));
    Parent->Show(true);
    // Without a window manager the window takes the keyboard only once the
    // server has mapped it: ask again until it has.
    ASSERT_TRUE(Pump(
        [&] {
            Parent->Activate();
            S->SetFocus();
            Spin(50);
            return S->SendUserMessage(SESSION::MSG_HASFOCUS, 0, 0) != 0;
        },
        10000))
        << "the session window never got the keyboard";
    ASSERT_TRUE(Pump([&] { return ScreenShows("READY"); }, 10000)) << "the shell did not start: " << Row(0);

    // Control+A, Control+Space (NUL), Delete, F5 (the key map's "k5"), Up
    // (nothing), Alt+a (swallowed), Alt+@ ("@"), Control+[ (ESC), z, and
    // Return, which the TTY emulation sends as CR.
    Xdotool({"key", "--delay", "30", "ctrl+a", "ctrl+space", "Delete", "F5", "Up", "alt+a", "alt+at",
             "ctrl+bracketleft", "z", "Return"});
    ASSERT_TRUE(Pump([&] { return ScreenShows("DONE"); }, 10000))
        << "the shell did not get 9 bytes; the screen: " << Row(0) << "|" << Row(1) << "|" << Row(2);

    std::istringstream od(testutil::ReadFile(received));
    std::vector<std::string> bytes;
    for (std::string b; od >> b;)
        bytes.push_back(b);
    EXPECT_EQ(bytes, (std::vector<std::string>{"001", "\\0", "177", "k", "5", "@", "033", "z", "\\r"}));
}

} // namespace
