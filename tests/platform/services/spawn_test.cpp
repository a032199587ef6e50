#include "platform/services/spawn.h"

#include "tests/platform/services/env_guard.h"
#include "tests/support/testutil.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using plat::ChildStatus;

std::vector<std::string> SplitZero(std::string const& s)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < s.size()) {
        size_t end = s.find('\0', start);
        if (end == std::string::npos)
            end = s.size();
        out.push_back(s.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

TEST(Spawn, ExitStatusAndSignals)
{
    struct Case {
        std::vector<std::string> argv;
        bool searchPath;
        ChildStatus::State state;
        int code;
    };
    std::vector<Case> const cases = {
        {{"/bin/sh", "-c", "exit 3"}, false, ChildStatus::Exited, 3},
        {{"/bin/sh", "-c", "exit 0"}, false, ChildStatus::Exited, 0},
        {{"sh", "-c", "exit 7"}, true, ChildStatus::Exited, 7},
        {{"/bin/sh", "-c", "kill -9 $$"}, false, ChildStatus::Signalled, SIGKILL},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.argv.back());
        int error = -1;
        pid_t pid = plat::SpawnProgram(c.argv, {}, c.searchPath, &error);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(error, 0);
        ChildStatus s = plat::WaitChild(pid, true);
        EXPECT_EQ(s.state, c.state);
        EXPECT_EQ(s.code, c.code);
        EXPECT_EQ(plat::WaitChild(pid, false).state, ChildStatus::Gone) << "already waited for";
    }
}

TEST(Spawn, WhatCannotRunFailsWithoutStartingAnything)
{
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("plain"), "#!/bin/sh\nexit 0\n");
    chmod(dir.file("plain").c_str(), 0644);
    struct Case {
        char const* what;
        std::vector<std::string> argv;
        std::string folder;
        bool searchPath;
    };
    std::vector<Case> const cases = {
        {"missing program", {"/nonexistent/program"}, "", false},
        {"a folder as program", {dir.path()}, "", false},
        {"not executable", {dir.file("plain")}, "", false},
        {"missing working folder", {"/bin/true"}, dir.file("nowhere"), false},
        {"not on the path", {"qor-no-such-program"}, "", true},
        {"empty vector", {}, "", false},
        {"empty name", {""}, "", false},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        int error = 0;
        EXPECT_EQ(plat::SpawnProgram(c.argv, c.folder, c.searchPath, &error), -1);
        EXPECT_NE(error, 0);
    }
}

TEST(Spawn, WorkingFolderAndRelativeProgramPath)
{
    testutil::TempDir dir;
    std::filesystem::create_directories(dir.file("work"));
    std::string const out = dir.file("pwd.txt");
    pid_t pid = plat::SpawnProgram({"/bin/sh", "-c", "pwd -P > \"$1\"", "sh", out}, dir.file("work"));
    ASSERT_GT(pid, 0);
    EXPECT_EQ(plat::WaitChild(pid, true).code, 0);
    EXPECT_EQ(testutil::ReadFile(out),
              std::filesystem::canonical(dir.file("work")).string() + "\n");

    // A relative program is found from our folder, not from the new one.
    std::string const old = std::filesystem::current_path();
    std::filesystem::current_path("/bin");
    pid = plat::SpawnProgram({"./sh", "-c", "exit 5"}, dir.file("work"));
    std::filesystem::current_path(old);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(plat::WaitChild(pid, true).code, 5);
}

TEST(Spawn, TheChildGetsOnlyDescriptorsZeroToTwoAndDefaultSignals)
{
    // Descriptors without close-on-exec, low and high, as a careless
    // library would leave them.
    int low = open("/dev/null", O_RDONLY);
    ASSERT_GE(low, 3);
    std::vector<int> leaks{low};
    for (int high : {100, 1000}) {
        struct rlimit rl;
        if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && static_cast<rlim_t>(high) < rl.rlim_cur &&
            dup2(low, high) == high)
            leaks.push_back(high);
    }
    ASSERT_GE(leaks.size(), 2u);
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &old);

    testutil::TempDir dir;
    pid_t pid = plat::SpawnProgram({SVC_CHILD_HELPER, "state", dir.file("state")});
    sigaction(SIGPIPE, &old, nullptr);
    for (int fd : leaks)
        close(fd);
    ASSERT_GT(pid, 0);
    ChildStatus s = plat::WaitChild(pid, true);
    ASSERT_EQ(s.state, ChildStatus::Exited);
    ASSERT_EQ(s.code, 0);
    std::string state = testutil::ReadFile(dir.file("state"));
    size_t nl = state.find('\n');
    ASSERT_NE(nl, std::string::npos);
    EXPECT_EQ(state.substr(0, nl), "0 1 2 ");
    // None of the classic signals 1 to 31 may be ignored, SIGPIPE above all.
    // (The C library keeps two real-time signals for itself and leaves them
    // as the caller's parent set them.)
    unsigned long long ignored = std::stoull(state.substr(nl + 1), nullptr, 16);
    EXPECT_EQ(ignored & 0x7FFFFFFFull, 0u) << state; // bit n-1 is signal n
}

TEST(OpenDocument, TheOpenerGetsTheTargetAsOneArgument)
{
    EnvGuard env;
    testutil::TempDir dir;
    std::string const bin = dir.file("bin");
    std::filesystem::create_directories(bin);
    std::filesystem::create_symlink(SVC_CHILD_HELPER, bin + "/xdg-open");
    std::filesystem::create_symlink(SVC_CHILD_HELPER, bin + "/fake-opener");
    env.Set("PATH", bin);
    env.Set("QOR_ARGDUMP", dir.file("args"));
    env.Set("QOR_FAKE_EXIT", "0");

    std::vector<std::string> const targets = {
        "telnet://host:23",
        "http://x/?a=1&b=$(touch pwned);`touch pwned2` \"q\" 'r'",
        "-a",
        "/path with blanks/file.qor",
    };
    for (std::string const& target : targets) {
        SCOPED_TRACE(target);
        std::filesystem::remove(dir.file("args"));
        EXPECT_TRUE(plat::OpenDocument(target, dir.path()));
        EXPECT_EQ(SplitZero(testutil::ReadFile(dir.file("args"))),
                  std::vector<std::string>{target});
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("pwned")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("pwned2")));

    // A named opener, and the opener's failure.
    std::filesystem::remove(dir.file("args"));
    EXPECT_TRUE(plat::OpenDocument("doc.txt", {}, "fake-opener"));
    EXPECT_EQ(SplitZero(testutil::ReadFile(dir.file("args"))),
              std::vector<std::string>{"doc.txt"});
    env.Set("QOR_FAKE_EXIT", "4");
    EXPECT_FALSE(plat::OpenDocument("doc.txt"));
    EXPECT_FALSE(plat::OpenDocument("doc.txt", {}, "no-such-opener"));
    env.Set("PATH", dir.file("empty"));
    EXPECT_FALSE(plat::OpenDocument("doc.txt"));
}

TEST(OpenDocument, AnOpenerThatKeepsRunningCountsAsStarted)
{
    EnvGuard env;
    testutil::TempDir dir;
    std::string const opener = dir.file("slow-opener");
    // Runs until the test lets it end (or about 5 s have passed).
    testutil::WriteFile(opener, "#!/bin/sh\ni=0\n"
                                "while [ ! -e \"$QOR_GO\" ] && [ $i -lt 500 ]; do\n"
                                "  sleep 0.01; i=$((i+1))\ndone\n");
    chmod(opener.c_str(), 0755);
    env.Set("QOR_GO", dir.file("go"));
    EXPECT_TRUE(plat::OpenDocument("doc", {}, opener, 0));
    testutil::WriteFile(dir.file("go"), "");

    // Later starts collect it once it has ended; no zombie stays.
    bool collected = false;
    for (int i = 0; i < 500 && !collected; ++i) {
        pid_t pid = plat::SpawnProgram({"/bin/true"});
        ASSERT_GT(pid, 0);
        plat::WaitChild(pid, true);
        // Look without collecting: only our code may have waited for it.
        siginfo_t info{};
        collected = waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == -1 && errno == ECHILD;
        if (!collected)
            usleep(10 * 1000);
    }
    EXPECT_TRUE(collected);
}

} // namespace
