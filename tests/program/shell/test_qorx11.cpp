// The program itself under an X server of its own (Xvfb): typed into with
// xdotool as a user would, a second start handing a tab over, and the end
// of the process with its shells when the window is closed.
#include "tests/program/shell/x11fixture.h"

using namespace x11test;

TEST_F(QorX11, TypedCommandRunsAndClosingEndsEverything)
{
    std::string const log = Dir.file("first.log");
    pid_t qor = Start({"/LOGIT:" + log});
    ASSERT_GT(qor, 0);
    std::string const window = MainWindow();
    ASSERT_FALSE(window.empty()) << "a main window showed";
    ASSERT_TRUE(WaitFor([&] { return !Children(qor).empty(); }, 10000)) << "the shell runs";
    std::vector<pid_t> shells = Children(qor);

    // A new user is greeted by the tip of the day; Escape puts it away.
    std::string const tip = WindowNamed("Tip of the Day");
    ASSERT_FALSE(tip.empty()) << "the tip of the day shows at the first start";
    Focus(tip);
    Key("Escape");
    EXPECT_TRUE(WaitFor([&] { return Output({"xdotool", "search", "--onlyvisible", "--name", "Tip of the Day"}).empty(); },
                        5000));

    Focus(window);
    std::string const answer = Dir.file("answer");
    Type("echo $((6*7)) > " + answer);
    Key("Return");
    EXPECT_TRUE(WaitFor([&] { return testutil::ReadFile(answer) == "42\n"; }, 15000))
        << "the shell got the keys: " << testutil::ReadFile(answer);

    // A second start with a tab for the running one hands it over and ends.
    pid_t second = Start({"/TABBED", "/O:Standard.qor", "/TITLE:Handed over"});
    ASSERT_GT(second, 0);
    EXPECT_EQ(ExitWithin(second, 15000), 0) << "the running instance took the tab";
    EXPECT_TRUE(WaitFor([&] { return Children(qor).size() == 2; }, 10000)) << "a second shell for the new tab";
    for (pid_t child : Children(qor))
        shells.push_back(child);

    // Closing the window asks once per connected tab, then the process ends
    // with its shells.
    Focus(MainWindow());
    Key("super+shift+w");
    for (int i = 0; i < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        Key("Return");
    }
    EXPECT_EQ(ExitWithin(qor, 15000), 0);
    for (pid_t shell : shells)
        EXPECT_TRUE(WaitFor([&] { return !Alive(shell); }, 5000)) << "no shell outlives the program: " << shell;
    std::string const text = testutil::ReadFile(log);
    EXPECT_NE(text.find("APP::IpcEvent 13"), std::string::npos);
}
