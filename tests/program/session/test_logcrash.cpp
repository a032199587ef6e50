// The logs of a session whose process dies or whose disk says no: a child
// (logchild) logs and traces a steady stream and is killed with SIGKILL;
// its files hold everything it had shown 1.5 s before the kill. Under a
// small file size limit the logs close on the error and the session goes
// on.
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::string Child()
{
    char const* dir = std::getenv("QOR_TEST_BIN_DIR");
    return std::string(dir ? dir : ".") + "/logchild";
}

long long NowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

} // namespace

TEST(LogCrash, FilesHoldWhatCameASecondAndAHalfBeforeTheKill)
{
    testutil::TempDir dir;
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string const child = Child();
    std::vector<char*> argv = {const_cast<char*>(child.c_str()), const_cast<char*>("stream"),
                               const_cast<char*>(dir.path().c_str()), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, child.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);

    // Lines "N MS" for 3.5 s after the first one (at most 20 s in all).
    std::string progress;
    long long first = -1, killedAt = -1;
    long long const deadline = NowMs() + 20000;
    while (NowMs() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            char buf[4096];
            ssize_t const n = read(out[0], buf, sizeof buf);
            if (n <= 0)
                break;
            progress.append(buf, static_cast<size_t>(n));
            if (first < 0)
                first = NowMs();
        }
        if (first >= 0 && NowMs() - first > 3500) {
            killedAt = NowMs();
            kill(pid, SIGKILL);
            break;
        }
    }
    int status = 0;
    if (killedAt < 0)
        kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    close(out[0]);
    ASSERT_GE(killedAt, 0) << "the child showed nothing; status " << status;
    ASSERT_TRUE(WIFSIGNALED(status));

    // The last line the child had shown 1.5 s before the kill.
    int last = -1;
    size_t at = 0;
    while (at < progress.size()) {
        size_t const end = progress.find('\n', at);
        if (end == std::string::npos)
            break;
        int n = 0;
        long long ms = 0;
        if (sscanf(progress.c_str() + at, "%d %lld", &n, &ms) == 2 && ms <= killedAt - 1500)
            last = n;
        at = end + 1;
    }
    ASSERT_GE(last, 10) << progress.substr(0, 200);
    std::string expected;
    for (int n = 0; n <= last; ++n)
        expected += "line " + std::to_string(n) + "\r\n";
    std::string const log = testutil::ReadFile(dir.file("stream.log"));
    std::string const received = testutil::ReadFile(dir.file("qortrcin.bin"));
    EXPECT_EQ(log.substr(0, expected.size()), expected) << "log of " << log.size() << " bytes, line " << last;
    EXPECT_EQ(received.substr(0, expected.size()), expected) << "trace of " << received.size() << " bytes";
    std::string const text = testutil::ReadFile(dir.file("qortrace.txt"));
    EXPECT_GT(text.size(), expected.size());
    EXPECT_NE(text.find("<RECV    l"), std::string::npos);
    EXPECT_NE(text.find("{cr}{lf}"), std::string::npos);
}

TEST(LogCrash, AFileSizeLimitClosesTheLogsAndTheSessionGoesOn)
{
    testutil::TempDir dir;
    std::string out;
    int const rc = testutil::RunProgram({Child(), "fsize", dir.path()}, &out);
    EXPECT_EQ(rc, 0) << out;
    // Nothing was written past the limit.
    EXPECT_LE(testutil::ReadFile(dir.file("stream.log")).size(), 64u * 1024);
}
