#include "platform/services/notify.h"

#include "platform/services/dispatch.h"
#include "tests/support/testutil.h"

#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Received = std::vector<std::pair<std::string, std::string>>;

// Pumps the main-thread queue until done() holds, at most about 5 s.
bool PumpUntil(std::function<bool()> const& done)
{
    for (int i = 0; i < 500; ++i) {
        plat::PumpPendingTasks();
        if (done())
            return true;
        usleep(10 * 1000);
    }
    return false;
}

// Socket addresses hold at most 107 bytes, and the tests address sockets
// directly, so their folder lives in /tmp rather than deep in the build tree.
class ShortTempDir {
public:
    ShortTempDir()
    {
        char templ[] = "/tmp/qn.XXXXXX";
        if (!mkdtemp(templ))
            std::abort();
        path_ = templ;
    }
    ~ShortTempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string const& path() const { return path_; }

private:
    std::string path_;
};

class Notifications : public testing::Test {
protected:
    void SetUp() override
    {
        folder_ = dir_.path() + "/ipc";
        plat::PumpPendingTasks(); // nothing of other tests may linger
    }
    plat::NotificationListener::Handler Into(Received& r)
    {
        return [&r](std::string const& name, std::string const& payload) {
            r.emplace_back(name, payload);
        };
    }

    ShortTempDir dir_;
    std::string folder_;
};

TEST_F(Notifications, EveryListenerOfTheChannelGetsThePostTheSenderIncluded)
{
    Received a, b, other;
    plat::NotificationListener la("org.example.ipcbroadcast", Into(a), folder_);
    plat::NotificationListener lb("org.example.ipcbroadcast", Into(b), folder_);
    plat::NotificationListener lo("org.example.other", Into(other), folder_);
    ASSERT_TRUE(la.IsOpen() && lb.IsOpen() && lo.IsOpen());

    struct stat st;
    ASSERT_EQ(stat(folder_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    std::string const payload("with\0zero and \xFF", 15);
    EXPECT_EQ(la.Post("OPEN /SSH:host", payload), 3);
    ASSERT_TRUE(PumpUntil([&] { return a.size() == 1 && b.size() == 1; }));
    Received const expected{{"OPEN /SSH:host", payload}};
    EXPECT_EQ(a, expected);
    EXPECT_EQ(b, expected);
    EXPECT_TRUE(other.empty());

    // Nothing reaches a listener once it is gone, even when it was queued.
    EXPECT_EQ(lb.Post("late", ""), 3);
    usleep(100 * 1000);
    Received gone;
    {
        plat::NotificationListener lg("org.example.ipcbroadcast", Into(gone), folder_);
        EXPECT_EQ(la.Post("again", ""), 4);
        usleep(100 * 1000);
    }
    ASSERT_TRUE(PumpUntil([&] { return a.size() == 3 && b.size() == 3; }));
    plat::PumpPendingTasks();
    EXPECT_TRUE(gone.empty());
}

TEST_F(Notifications, APostReachesListenersInOtherProcesses)
{
    // Children are started before this process has any listener, so none
    // of its queued work is copied into them.
    auto child = [&](int resultFd, int readyFd) {
        pid_t pid = fork();
        if (pid != 0)
            return pid;
        Received got;
        plat::NotificationListener l("org.example.ipcbroadcast",
                                     [&](std::string const& n, std::string const& p) {
                                         got.emplace_back(n, p);
                                     },
                                     folder_);
        if (!l.IsOpen() || write(readyFd, "r", 1) != 1)
            _exit(2);
        bool ok = PumpUntil([&] { return !got.empty(); });
        std::string line = ok ? got[0].first + "|" + got[0].second : "nothing";
        _exit(write(resultFd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) ? 0
                                                                                            : 3);
    };
    int ready[2], r1[2], r2[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(r1), 0);
    ASSERT_EQ(pipe(r2), 0);
    pid_t p1 = child(r1[1], ready[1]);
    pid_t p2 = child(r2[1], ready[1]);
    close(r1[1]);
    close(r2[1]);
    close(ready[1]);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(read(ready[0], &c, 1), 1);

    Received own;
    plat::NotificationListener me("org.example.ipcbroadcast", Into(own), folder_);
    EXPECT_EQ(me.Post("hello", "world"), 3);
    ASSERT_TRUE(PumpUntil([&] { return !own.empty(); }));
    EXPECT_EQ(own, (Received{{"hello", "world"}}));

    for (auto [pid, fd] : {std::pair{p1, r1[0]}, std::pair{p2, r2[0]}}) {
        char buf[64] = {};
        ssize_t n = read(fd, buf, sizeof buf - 1);
        EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), "hello|world");
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        close(fd);
    }
    close(ready[0]);
}

TEST_F(Notifications, SocketsOfDeadProcessesAreRemoved)
{
    Received got;
    plat::NotificationListener l("c", Into(got), folder_);
    ASSERT_TRUE(l.IsOpen());
    pid_t dead = fork();
    if (dead == 0)
        _exit(0);
    ASSERT_EQ(waitpid(dead, nullptr, 0), dead);

    // A socket file nobody listens on any more, named after the dead pid.
    std::string stale = folder_ + "/" + std::to_string(dead) + ".0";
    int s = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(stale.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, stale.c_str());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(s);
    // A file of another kind is no socket of ours and is left alone.
    testutil::WriteFile(folder_ + "/notes.txt", "x");

    EXPECT_EQ(plat::PostNotification("c", "n", "p", folder_), 1);
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(folder_ + "/notes.txt"));
    EXPECT_TRUE(std::filesystem::exists(l.SocketPath()));
    ASSERT_TRUE(PumpUntil([&] { return !got.empty(); }));
}

TEST_F(Notifications, UnsafeFoldersAndOversizedPostsAreRefused)
{
    std::filesystem::create_directories(dir_.path() + "/real");
    chmod((dir_.path() + "/real").c_str(), 0700);
    std::filesystem::create_directory_symlink(dir_.path() + "/real", dir_.path() + "/link");
    plat::NotificationListener viaLink("c", nullptr, dir_.path() + "/link");
    EXPECT_FALSE(viaLink.IsOpen());
    EXPECT_EQ(plat::PostNotification("c", "n", "", dir_.path() + "/link"), -1);

    // A folder open to others is made private again before use.
    std::filesystem::create_directories(folder_);
    chmod(folder_.c_str(), 0777);
    plat::NotificationListener l("c", nullptr, folder_);
    EXPECT_TRUE(l.IsOpen());
    struct stat st;
    ASSERT_EQ(stat(folder_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    EXPECT_EQ(l.Post("n", std::string(plat::kMaxNotificationBytes, 'x')), -1);
    EXPECT_EQ(l.Post(std::string(plat::kMaxNotificationNameBytes + 1, 'n'), ""), -1);
    EXPECT_EQ(plat::PostNotification(std::string(plat::kMaxChannelBytes + 1, 'c'), "n", "",
                                     folder_),
              -1);

    if (geteuid() == 0) {
        std::string foreign = dir_.path() + "/foreign";
        std::filesystem::create_directories(foreign);
        chmod(foreign.c_str(), 0700);
        ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
        plat::NotificationListener l2("c", nullptr, foreign);
        EXPECT_FALSE(l2.IsOpen()) << "a folder of another user is not ours";
    }
}

// A datagram whose kernel-attached credentials name another user is
// dropped. Only root can become another user, so elsewhere this is skipped.
TEST_F(Notifications, PostsOfOtherUsersAreDropped)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to send as another user";
    Received got;
    plat::NotificationListener l("c", Into(got), folder_);
    ASSERT_TRUE(l.IsOpen());
    pid_t pid = fork();
    if (pid == 0) {
        int s = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, l.SocketPath().c_str(), sizeof addr.sun_path - 1);
        // Connect while still allowed into the private folder, then send as
        // nobody: the kernel stamps the sender's ids at sending time.
        if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            _exit(2);
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)
            _exit(3);
        std::string msg("QNT1\x01\x00\x01\x00" "cXp", 11);
        _exit(send(s, msg.data(), msg.size(), 0) == static_cast<ssize_t>(msg.size()) ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
    ASSERT_TRUE(PumpUntil([&] { return l.DroppedCount() == 1; }));
    EXPECT_TRUE(got.empty());

    // The same message from our own user is taken.
    std::string own("QNT1\x01\x00\x01\x00" "cXp", 11);
    int s = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, l.SocketPath().c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(sendto(s, own.data(), own.size(), 0, reinterpret_cast<sockaddr*>(&addr),
                     sizeof addr),
              static_cast<ssize_t>(own.size()));
    close(s);
    ASSERT_TRUE(PumpUntil([&] { return !got.empty(); }));
    EXPECT_EQ(got, (Received{{"X", "p"}}));
}

} // namespace
