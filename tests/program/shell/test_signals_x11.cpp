// The program under a private X server ends cleanly on SIGTERM and SIGHUP,
// as terminals do, whatever dialog is up: every shell gets its hang-up,
// the window's position is kept, and the exit status is 0. Further signals
// while it ends do not cut the end short.
#include "tests/program/shell/x11desktop.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace {

using namespace std::chrono_literals;

class SignalsX11 : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Desk.Start()) << "Xvfb, xauth and xdotool (scripts/setup installs them)"; }

    // A shell that says when it runs and writes "hup" when it gets its
    // hang-up.
    std::string Shell()
    {
        std::string const text = "trap 'echo hup > \"" + Desk.Folder() + "/hup\"; exit 0' HUP\n" +
                                 "echo ready > \"" + Desk.Folder() + "/ready\"\n" +
                                 "while :; do sleep 0.1; done\n";
        testutil::WriteFile(Desk.Folder() + "/shell.sh", text);
        return Desk.Script("shell", {"/bin/sh", Desk.Folder() + "/shell.sh"});
    }

    bool Wait(std::function<bool()> const& cond, std::chrono::milliseconds ms)
    {
        auto const end = std::chrono::steady_clock::now() + ms;
        while (!cond()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    bool Exists(std::string const& name) { return xtest::Exists(Desk.Folder() + "/" + name); }

    // A visible window of the program other than its main window.
    std::string OtherWindow(std::string const& main)
    {
        std::string found;
        Wait(
            [&] {
                for (std::string const& id : Desk.Windows("qor"))
                    if (id != main)
                        found = id;
                return !found.empty();
            },
            10000ms);
        return found;
    }

    // What the program kept: its preferences file.
    std::string Prefs()
    {
        return testutil::ReadFile(Desk.Folder() + "/home/.config/qor/preferences/com.tarvo.qor6.prefs");
    }

    // Ends the program with the signals, `gap` apart, and checks the clean
    // end.
    void EndWith(xtest::Child& qor, std::vector<int> const& signals, std::chrono::milliseconds gap)
    {
        for (size_t i = 0; i < signals.size(); ++i) {
            if (i > 0)
                std::this_thread::sleep_for(gap);
            kill(qor.Pid(), signals[i]);
        }
        ASSERT_TRUE(qor.WaitExit(20000)) << "the program did not end";
        int const status = qor.ExitStatus();
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_TRUE(Wait([&] { return Exists("hup"); }, 5000ms)) << "the shell got its hang-up";
    }

    x11desk::DESKTOP Desk;
};

TEST_F(SignalsX11, SigtermWhileTheTipOfTheDayIsUp)
{
    Desk.ShowTips(true);
    auto qor = Desk.StartQor(Shell());
    ASSERT_TRUE(qor);
    std::string const main = Desk.MainWindow();
    ASSERT_FALSE(main.empty());
    ASSERT_TRUE(Wait([&] { return Exists("ready"); }, 20000ms)) << "the shell did not start";
    std::string const tip = OtherWindow(main);
    ASSERT_FALSE(tip.empty()) << "a new user sees the tip of the day";
    EXPECT_NE(Desk.WindowName(tip).find("Tip"), std::string::npos) << Desk.WindowName(tip);
    // Where the window was is what closing keeps.
    Desk.Tool({"xdotool", "windowmove", "--sync", main, "37", "41"});
    std::this_thread::sleep_for(300ms);
    EndWith(*qor, {SIGTERM}, 0ms);
    EXPECT_NE(Prefs().find("WindowPositionMain=37,41,"), std::string::npos) << Prefs();
}

TEST_F(SignalsX11, SighupAndSigtermWhileAQuestionIsUp)
{
    auto qor = Desk.StartQor(Shell());
    ASSERT_TRUE(qor);
    std::string const main = Desk.MainWindow();
    ASSERT_FALSE(main.empty());
    ASSERT_TRUE(Wait([&] { return Exists("ready"); }, 20000ms)) << "the shell did not start";
    // Closing the window asks whether to hang up the connected shell.
    Desk.Focus(main);
    Desk.Keys({"super+shift+w"});
    ASSERT_FALSE(OtherWindow(main).empty()) << "the question shows";
    // The desktop session ends: SIGHUP, then SIGTERM soon after.
    EndWith(*qor, {SIGHUP, SIGTERM, SIGTERM}, 150ms);
}

} // namespace
