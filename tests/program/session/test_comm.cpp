// The communication layer over the real tennick bundle: the input pipe, the
// reader thread, closing, the write path and the local shell.
#include "program/session/comm.h"
#include "tests/program/session/sessiontest.h"

#include "plugins/sdk/qorsubsystem.h"
#include "velmot/gui/winkeys.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace sessiontest;

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void WriteAllFd(int fd, std::string const& data)
{
    // Bounded: a reader that stopped taking must not keep the writer (and
    // the join that waits for it) waiting.
    auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (std::chrono::steady_clock::now() >= until) {
                ADD_FAILURE() << "the reader stopped taking: " << data.size() - done << " bytes not written";
                return;
            }
            pollfd p = {fd, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            FAIL() << "write: " << strerror(errno);
        }
    }
}

// A device command, once what was written has reached the device.
std::string Command(COMM& comm, char const* cmd)
{
    comm.WaitWritten(5000);
    char answer[4096] = {};
    comm.HandleDeviceCommand(cmd, answer, sizeof answer, nullptr);
    return answer;
}

// Reads until text has arrived or the time is up.
std::string ReadUntil(COMM& comm, std::string const& text, int timeout_ms)
{
    std::string got;
    auto start = Clock::now();
    while (got.find(text) == std::string::npos && MsSince(start) < timeout_ms) {
        int c = comm.WaitChar(50);
        if (c != COMM_NOCHAR)
            got += static_cast<char>(c);
    }
    return got;
}

double CpuSeconds()
{
    rusage ru = {};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

class CommTest : public ::testing::Test {
protected:
    CommTest() : Stage({{TennickBundle(), "tennick.so"}}) { ForgetDictionary(); }

    // Opens the loopback device and answers the test's end of it.
    int OpenLoopback(COMM& comm, char const* parm = "[5]")
    {
        EXPECT_EQ(comm.OpenDevice(5, parm), 0);
        return atoi(Command(comm, "LOOPBACK FD").c_str());
    }

    STAGE Stage;
    FAKESESSION Session;
};

std::string Pattern(size_t n, size_t offset = 0)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i + offset) % 251);
    return s;
}

} // namespace

TEST_F(CommTest, ThePipeHoldsTheReaderBackAtItsLimit)
{
    // While no transfer runs a quarter of the pipe is used, during one the
    // whole; nothing is dropped either way.
    struct {
        bool transfer;
        size_t sent;
        int held;
    } const cases[] = {
        {false, 20000, 8192},
        {true, 40000, 32768},
    };
    for (auto const& c : cases) {
        COMM comm(Session);
        Session.Transfer = c.transfer;
        int peer = OpenLoopback(comm);
        std::string data = Pattern(c.sent);
        std::thread writer([&] { WriteAllFd(peer, data); });
        EXPECT_TRUE(WaitFor([&] { return comm.PipeFill() == c.held; }, 5000)) << comm.PipeFill();
        // Held back, the reader sleeps: it burns no processor time while
        // nobody takes.
        double const cpu = CpuSeconds();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_LT(CpuSeconds() - cpu, 0.1) << "the held-back reader does not spin";
        EXPECT_EQ(comm.PipeFill(), c.held) << "the reader stays held back";
        std::string got;
        auto start = Clock::now();
        while (got.size() < data.size() && MsSince(start) < 10000) {
            int ch = comm.WaitChar(50);
            if (ch != COMM_NOCHAR)
                got += static_cast<char>(ch);
        }
        writer.join();
        EXPECT_TRUE(got == data) << "every byte once, in order (" << got.size() << " of " << data.size() << ")";
        EXPECT_EQ(comm.PipeMaxFill(), c.held);
        comm.CloseDevice();
        Session.Transfer = false;
    }
}

TEST_F(CommTest, MarkersEndABatch)
{
    COMM comm(Session);
    comm.FeedData("abc", 3);
    comm.FeedMarker(COMM_MARKER_EOR);
    comm.FeedData("de", -1);
    comm.FeedMarker(0xFFF9);
    uint32_t buf[16];
    struct {
        int asked;
        std::vector<uint32_t> batch;
    } const steps[] = {
        {16, {'a', 'b', 'c', 0xFFF7}},
        {1, {'d'}},
        {16, {'e', 0xFFF9}},
    };
    for (auto const& s : steps) {
        int n = s.asked;
        ASSERT_EQ(comm.GetPipeData(buf, &n, 0), 0);
        EXPECT_EQ(std::vector<uint32_t>(buf, buf + n), s.batch);
    }
    int n = 16;
    EXPECT_EQ(comm.GetPipeData(buf, &n, 0), COMM::PIPE_EMPTY);
    EXPECT_EQ(n, 0);
    EXPECT_GE(Session.Posted.load(), 1);

    // Markers notify and pass even while a transfer runs; bytes do not notify.
    while (Session.TakeNotification(0)) {
    }
    Session.Transfer = true;
    comm.FeedData("x", 1);
    EXPECT_FALSE(Session.TakeNotification(0));
    comm.FeedMarker(COMM_MARKER_EOR);
    EXPECT_TRUE(Session.TakeNotification(0));
    EXPECT_EQ(comm.FlushInputBuffer(1), 1) << "all but the newest entry";
    n = 16;
    ASSERT_EQ(comm.GetPipeData(buf, &n, 0), 0);
    EXPECT_EQ(std::vector<uint32_t>(buf, buf + n), std::vector<uint32_t>({0xFFF7}));
}

TEST_F(CommTest, UngetComesFirstInOrderAndKeepsTheLast1024)
{
    COMM comm(Session);
    OpenLoopback(comm);
    struct {
        std::vector<std::string> ungets; // in the order pushed back
        std::string fed;
        std::string read;
    } const cases[] = {
        {{"xy"}, "z", "xyz"},
        {{"ab", "cd"}, "", "cdab"},
        {{""}, "q", "q"},
    };
    for (auto const& c : cases) {
        for (std::string const& u : c.ungets)
            comm.UngetData(const_cast<char*>(u.data()), static_cast<int>(u.size()));
        if (!c.fed.empty())
            comm.FeedData(c.fed.data(), static_cast<int>(c.fed.size()));
        std::string got;
        for (int ch; (ch = comm.WaitChar(0)) != COMM_NOCHAR;)
            got += static_cast<char>(ch);
        EXPECT_EQ(got, c.read);
    }
    std::string many = Pattern(1500);
    comm.UngetData(many.data(), 1500);
    EXPECT_EQ(comm.QueryNumAvail(), 1024);
    std::string got;
    for (int ch; (ch = comm.WaitChar(0)) != COMM_NOCHAR;)
        got += static_cast<char>(ch);
    EXPECT_TRUE(got == many.substr(476));
    // A push onto a well-filled stack: what is read is the last 1024 of
    // the new entries followed by those held.
    std::string held = Pattern(1000), more = Pattern(100, 7);
    comm.UngetData(held.data(), 1000);
    comm.UngetData(more.data(), 100);
    got.clear();
    for (int ch; (ch = comm.WaitChar(0)) != COMM_NOCHAR;)
        got += static_cast<char>(ch);
    EXPECT_TRUE(got == (more + held).substr(76));

    wchar_t wide[] = {0x20AC, L'a'};
    comm.UngetData(wide, 2);
    EXPECT_EQ(comm.ReadChar(), 0x20AC);
    EXPECT_EQ(comm.ReadChar(), 'a');
}

TEST_F(CommTest, TheReadingSideGoesToOneThreadAtATime)
{
    COMM comm(Session);
    OpenLoopback(comm);
    comm.FeedData("abcdef", 6);
    EXPECT_EQ(comm.ReadChar(), 'a');
    auto otherThread = [&](int n) {
        std::string got;
        std::thread t([&] {
            for (int i = 0; i < n; ++i) {
                int c = comm.WaitChar(0);
                got += c == COMM_NOCHAR ? '.' : static_cast<char>(c);
            }
        });
        t.join();
        return got;
    };
    EXPECT_EQ(otherThread(2), "..") << "this thread still holds entries";
    EXPECT_EQ(comm.QueryNumAvail(), 5);
    // A transfer starts: what is left goes to the thread that reads next.
    comm.PrepareForFileTransfer(0);
    EXPECT_EQ(otherThread(6), "bcdef.");
    comm.FeedData("g", 1);
    EXPECT_EQ(comm.ReadChar(), 'g') << "free again once read up";
}

TEST_F(CommTest, WaitCharTimeOuts)
{
    COMM comm(Session);
    EXPECT_EQ(comm.WaitChar(0), COMM_NOCHAR) << "no device";
    OpenLoopback(comm);
    struct {
        int timeout;
        long long atLeast, below;
    } const cases[] = {
        {0, 0, 40},
        {120, 145, 2000}, // three 50 ms steps
        {50, 48, 2000},
    };
    for (auto const& c : cases) {
        auto start = Clock::now();
        EXPECT_EQ(comm.WaitChar(c.timeout), COMM_NOCHAR);
        long long took = MsSince(start);
        EXPECT_GE(took, c.atLeast) << c.timeout;
        EXPECT_LT(took, c.below) << c.timeout;
    }
    // Data that arrives during the wait ends it.
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        comm.FeedData("k", 1);
    });
    EXPECT_EQ(comm.WaitChar(2000), 'k');
    late.join();
}

TEST_F(CommTest, WritePathParityHookAndCounters)
{
    COMM comm(Session);
    OpenLoopback(comm);
    Session.Prof.Software7E1 = true;
    // Even parity over the low seven bits, in bit 7: set or cleared.
    struct {
        char in;
        char out;
    } const parity[] = {
        {'\x01', '\x81'}, {'\x03', '\x03'}, {'\x83', '\x03'}, {'\x81', '\x81'}, {'A', 'A'}, {'C', '\xC3'},
    };
    std::string in, out;
    for (auto const& p : parity) {
        in += p.in;
        out += p.out;
    }
    comm.WriteData(in.data(), static_cast<long>(in.size()));
    EXPECT_EQ(Command(comm, "SENT"), out);
    EXPECT_EQ(comm.Counter(1), in.size());

    // During a transfer the bytes go as they are; the counter is the
    // transfer's.
    Session.Transfer = true;
    comm.WriteData("\x01", 1);
    Session.Transfer = false;
    EXPECT_EQ(Command(comm, "SENT"), out + "\x01");
    EXPECT_EQ(comm.Counter(3), 1u);

    // The output hook rewrites the bytes and their count; the caller's
    // buffer is never touched.
    Session.Prof.Software7E1 = false;
    Session.HookSet = true;
    Session.HookReplace = "XY";
    std::string caller = "abcdef";
    comm.WriteData(caller.data(), -1);
    EXPECT_EQ(caller, "abcdef");
    EXPECT_EQ(Command(comm, "SENT"), out + "\x01" + "XY");
    Session.HookSet = false;

    comm.WriteChar('p');
    comm.WriteChar('q');
    EXPECT_EQ(Command(comm, "SENT").substr(out.size() + 3), "pq");
    EXPECT_EQ(Command(comm, "SENTCOUNT"), std::to_string(out.size() + 5));

    comm.CloseDevice();
    comm.WriteData("lost", -1);
    ASSERT_EQ(Session.Errors.size(), 1u) << "writing without a device is reported";
}

TEST_F(CommTest, OpenCloseAndDeviceCommands)
{
    int fds = OpenDescriptors();
    int threads = Threads();
    {
        COMM comm(Session);
        EXPECT_EQ(comm.AcceptCalls(0), 1) << "without a device";
        EXPECT_EQ(comm.AcceptCalls(1), 0);
        EXPECT_EQ(comm.QueryOnline(), 0);

        // Unknown devices and device 7, whose bundle is not there.
        EXPECT_EQ(comm.OpenDevice(7, "[7]"), 1);
        EXPECT_EQ(comm.OpenDevice(13, nullptr), 1);
        ASSERT_EQ(Session.Errors.size(), 2u);
        EXPECT_NE(Session.Errors[0].find('7'), std::string::npos) << Session.Errors[0];

        // A parameter string tagged for another id gets the standard one.
        EXPECT_EQ(comm.OpenDevice(5, "[9]host"), 0);
        char parm[128];
        EXPECT_STREQ(comm.QueryParm(parm, sizeof parm), "[5]");
        EXPECT_STREQ(Session.Prof.DeviceOpts[5], "[5]");
        EXPECT_EQ(Session.Prof.ActiveDevice, 5);
        ASSERT_GE(Session.Scripts.size(), 1u);
        EXPECT_EQ(Session.Scripts.back(), "DEVOPEN 'LOOPBACK' '[5]'");
        EXPECT_EQ(comm.QueryOnline(), 1);
        EXPECT_EQ(Command(comm, "ONLINE 0"), "OK");
        EXPECT_EQ(comm.QueryOnline(), 0);

        // Opening while open closes first: one reader thread at a time.
        EXPECT_EQ(comm.OpenDevice(5, "[5]echo"), 0);
        EXPECT_EQ(Threads(), threads + 2) << "a reader and a writer";
        comm.PrintString("hi");
        EXPECT_EQ(ReadUntil(comm, "hi", 3000), "hi") << "echoed back";

        // A device answer is cut to the caller's buffer.
        char small[4] = {};
        comm.HandleDeviceCommand("SENT", small, sizeof small, nullptr);
        EXPECT_STREQ(small, "hi");
        comm.HandleDeviceCommand("INJECT 123456789", nullptr, 0, nullptr);
        char tiny[4];
        EXPECT_EQ(comm.HandleDeviceCommand("LOOPBACK FD", tiny, 2, nullptr), 1);
        EXPECT_EQ(strlen(tiny), 1u);
        EXPECT_EQ(ReadUntil(comm, "123456789", 3000), "123456789");

        // Close during a blocked read returns at once.
        auto start = Clock::now();
        comm.CloseDevice();
        EXPECT_LT(MsSince(start), 1500);
        EXPECT_EQ(Session.Scripts.back(), "DEVCLOSE 'LOOPBACK'");
        EXPECT_EQ(comm.Device(), nullptr);
        EXPECT_EQ(comm.QueryIDFromCurrent(), -1);
    }
    EXPECT_TRUE(WaitFor([&] { return Threads() == threads; }, 3000)) << "no reader or writer thread left";
    EXPECT_EQ(OpenDescriptors(), fds) << "no descriptor left";
}

TEST_F(CommTest, ReaderThreadOfABrokenDeviceIsGivenUp)
{
    int threads = Threads();
    int fds = OpenDescriptors();
    {
        COMM comm(Session);
        comm.SetReaderStopLimit(100);
        OpenLoopback(comm);
        QORDEVICE* device = comm.Device();
        Command(comm, "IGNORECLOSE 1");
        // The reader must be inside its Read, which now ignores Close.
        Command(comm, "INJECT x");
        EXPECT_EQ(comm.WaitChar(3000), 'x');
        EXPECT_TRUE(WaitFor([&] { return atoi(Command(comm, "READS").c_str()) >= 2; }, 3000));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        auto start = Clock::now();
        comm.CloseDevice();
        long long took = MsSince(start);
        EXPECT_GE(took, 100) << "the reader was waited for, then given up";
        EXPECT_LT(took, 5000) << "close does not hang";
        EXPECT_EQ(comm.Device(), nullptr);
        // The device is kept; when its Read finally returns the thread ends.
        char answer[16];
        device->HandleDeviceCommand("HANGUP", answer, sizeof answer, nullptr);
        EXPECT_TRUE(WaitFor([&] { return Threads() == threads; }, 3000));
        EXPECT_EQ(OpenLoopback(comm) > 2, true) << "the layer works on";
        comm.CloseDevice();
    }
    EXPECT_TRUE(WaitFor([&] { return Threads() == threads; }, 3000));
    EXPECT_EQ(OpenDescriptors(), fds);
}

TEST_F(CommTest, EndOfStreamDoesNotSpin)
{
    COMM comm(Session);
    OpenLoopback(comm);
    Command(comm, "HANGUP");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    long long before = atoll(Command(comm, "READS").c_str());
    double cpu = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    long long reads = atoll(Command(comm, "READS").c_str()) - before;
    EXPECT_LT(reads, 10) << "the reader waits after the end of the stream";
    EXPECT_LT(CpuSeconds() - cpu, 0.2);
}

TEST_F(CommTest, LocalShellRunsAProgramAndGoesOffline)
{
    int fds = OpenDescriptors();
    COMM comm(Session);
    ASSERT_EQ(comm.OpenDevice(11, "[11]/bin/sh -c 'printf hello; exit 3'"), 0);
    EXPECT_EQ(ReadUntil(comm, "hello", 5000), "hello");
    EXPECT_TRUE(WaitFor([&] { return comm.QueryOnline() == 0; }, 5000)) << "online drops when the program ends";
    int status = 0;
    EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1) << "no child left to reap";
    double cpu = CpuSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(CpuSeconds() - cpu, 0.15) << "the reader does not spin at the end of the stream";
    comm.CloseDevice();
    EXPECT_EQ(OpenDescriptors(), fds);
}

TEST_F(CommTest, AShellThatCannotStartSaysWhichAndWhy)
{
    std::string const dir = testing::TempDir() + "/commshell." + std::to_string(getpid());
    ASSERT_EQ(system(("mkdir -p " + dir).c_str()), 0);
    std::string const plain = dir + "/notrunnable";
    FILE* f = fopen(plain.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("#!/bin/sh\n", f);
    fclose(f);
    chmod(plain.c_str(), 0644);
    char const* old = getenv("SHELL");
    std::string const saved = old ? old : "";
    struct {
        std::string shell;
        char const* reason;
    } const cases[] = {
        {dir + "/missing", "No such file or directory"},
        {plain, "Permission denied"},
    };
    COMM comm(Session);
    for (auto const& c : cases) {
        setenv("SHELL", c.shell.c_str(), 1);
        ASSERT_EQ(comm.OpenDevice(11, "[11]"), 0);
        std::string const expected = "cannot start the shell " + c.shell + ": " + c.reason;
        std::string const got = ReadUntil(comm, expected, 5000);
        EXPECT_NE(got.find(expected), std::string::npos) << got;
        comm.CloseDevice();
    }
    if (old)
        setenv("SHELL", saved.c_str(), 1);
    else
        unsetenv("SHELL");
    unlink(plain.c_str());
    rmdir(dir.c_str());
}

namespace {
// $HOME with its links resolved, as pwd -P prints it.
std::string RealHome()
{
    char buf[PATH_MAX];
    char const* home = getenv("HOME");
    return home && realpath(home, buf) ? buf : "";
}
} // namespace

TEST_F(CommTest, LocalShellEnvironmentSizeAndHangUp)
{
    // The host services of a plug-in point at the session's layers as they
    // are when it loads.
    NULLEMULATION emu;
    Session.Emu = &emu;
    COMM comm(Session);
    ASSERT_FALSE(RealHome().empty());
    struct {
        bool emulation;
        char const* command;
        std::string expected;
    } const cases[] = {
        {false, "[11]/bin/sh -c 'printf \"%s.\" \"$TERM\"'", "xterm-256color."},
        {true, "[11]/bin/sh -c 'printf \"%s.\" \"$TERM\"'", "vt220."},
        {true, "[11]/bin/sh -c 'stty size; printf .'", "30 100"},
        // The listing's own descriptor is 3; nothing else above 2.
        {false, "[11]/bin/sh -c 'ls /proc/self/fd | tr \"\\n\" \" \"; printf .'", "0 1 2 3 ."},
        // The program starts in the user's home folder, wherever qor works.
        {false, "[11]/bin/sh -c 'printf \"%s.\" \"$(pwd -P)\"'", std::string(RealHome()) + "."},
    };
    for (auto const& c : cases) {
        emu.Running = c.emulation;
        ASSERT_EQ(comm.OpenDevice(11, c.command), 0);
        std::string got = ReadUntil(comm, ".", 5000);
        EXPECT_NE(got.find(c.expected), std::string::npos) << c.command << " gave " << got;
        comm.CloseDevice();
    }

    // The window size follows TrackChanges; Disconnect hangs up.
    emu.Running = true;
    ASSERT_EQ(comm.OpenDevice(11, "[11]/bin/sh -c 'trap \"stty size; exit 0\" WINCH; trap \"echo HUP; exit 0\" HUP; "
                                  "echo ready; while :; do sleep 0.05; done'"),
              0);
    EXPECT_NE(ReadUntil(comm, "ready", 5000).find("ready"), std::string::npos);
    emu.Cols = 132;
    emu.Rows = 40;
    EXPECT_EQ(comm.TrackChanges(), 1);
    EXPECT_NE(ReadUntil(comm, "40 132", 5000).find("40 132"), std::string::npos);
    EXPECT_TRUE(WaitFor([&] { return comm.QueryOnline() == 0; }, 5000));
    comm.CloseDevice();

    ASSERT_EQ(comm.OpenDevice(11, "[11]/bin/sh -c 'trap \"echo HUP; exit 0\" HUP; echo ready; "
                                  "while :; do sleep 0.05; done'"),
              0);
    EXPECT_NE(ReadUntil(comm, "ready", 5000).find("ready"), std::string::npos);
    EXPECT_EQ(comm.Disconnect(), 1);
    EXPECT_TRUE(WaitFor([&] { return comm.QueryOnline() == 0; }, 5000));
    comm.CloseDevice();
    Session.Emu = nullptr;
}

namespace {

// A session that also records the window timers the layer starts and stops.
class TIMERSESSION : public FAKESESSION {
public:
    std::string Timers;
    void StartWindowTimer(int id, int ms) override { Timers += "start " + std::to_string(id) + " " + std::to_string(ms) + ";"; }
    void StopWindowTimer(int id) override { Timers += "stop " + std::to_string(id) + ";"; }
};

} // namespace

TEST_F(CommTest, DeviceOperationsGoThroughTheLayerByTheirRules)
{
    TIMERSESSION session;
    COMM comm(session);
    EXPECT_EQ(comm.OpenDevice(5, "[5]"), 0);
    Command(comm, "CALLS");
    EXPECT_EQ(comm.AcceptCalls(1), 0) << "a device that does nothing";
    EXPECT_EQ(comm.IsAcceptActive(), 0) << "so the layer does not count it as accepting";
    EXPECT_EQ(Command(comm, "CALLS"), "accept 1;");
    Command(comm, "ANSWER 1");
    KEYBOARDEVENT key{};
    KEYBOARDEVENT release{};
    release.Flags = 0x100;
    struct CASE {
        char const* what;
        std::function<int()> call;
        char const* calls; // what the device saw
        int result;
    } const cases[] = {
        {"break", [&] { return comm.SendBreak(); }, "break;", 1},
        {"reset", [&] { return comm.Reset(3); }, "reset 3;", 1},
        {"abort", [&] { return comm.AbortConnect(); }, "abort;", 1},
        {"can accept", [&] { return comm.CanAccept(); }, "canaccept;", 1},
        {"accept on", [&] { return comm.AcceptCalls(1) * 10 + comm.IsAcceptActive(); }, "accept 1;", 11},
        {"accept off", [&] { return comm.AcceptCalls(0) * 10 + comm.IsAcceptActive(); }, "accept 0;", 10},
        {"menu", [&] { return comm.HandleMenuEvent(8501); }, "menu 8501;", 1},
        {"key", [&] { return comm.ProcessKey(key); }, "key;", 1},
        {"key release", [&] { return comm.ProcessKey(release); }, "", 0},
        {"prepare", [&] { return comm.PrepareForFileTransfer(1); }, "prepare 1;", 1},
        {"prepare 2", [&] { return comm.PrepareForFileTransfer(2); }, "", 0},
        {"cleanup, no transfer", [&] { return comm.CleanupAfterFileTransfer(1); }, "", 0},
        {"cleanup",
         [&] {
             session.Transfer = true;
             int rc = comm.CleanupAfterFileTransfer(1) * 10 + comm.CleanupAfterFileTransfer(0);
             session.Transfer = false;
             return rc;
         },
         "cleanup 1;", 10},
        {"track", [&] { return comm.TrackChanges(); }, "track;", 1},
        {"track suppressed",
         [&] {
             comm.SetSuppressAsyncChangeTracking(1);
             return comm.TrackChanges();
         },
         "", 0},
        {"a write ends the suppression",
         [&] {
             comm.WriteData("w", 1);
             return comm.TrackChanges();
         },
         "track;", 1},
        {"timer", [&] { return comm.HandleTimerEvent(); }, "timer;", 1},
        {"disconnect", [&] { return comm.Disconnect(); }, "disconnect;", 1},
    };
    for (CASE const& c : cases) {
        EXPECT_EQ(c.call(), c.result) << c.what;
        EXPECT_EQ(Command(comm, "CALLS"), c.calls) << c.what;
    }

    // The device's timer is the session window's timer 103, one shot.
    session.Timers.clear();
    comm.StartCommTimer(250);
    comm.HandleTimerEvent();
    EXPECT_EQ(session.Timers, "start 103 250;stop 103;");
    EXPECT_EQ(Command(comm, "CALLS"), "timer;");

    // A connection clears the byte counters.
    EXPECT_GT(comm.Counter(1), 0u);
    EXPECT_EQ(comm.Connect("host"), 1);
    EXPECT_EQ(Command(comm, "CALLS"), "connect host;");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(comm.Counter(i), 0u) << i;

    // Without a device: nothing reaches a device, neutral answers.
    comm.CloseDevice();
    EXPECT_EQ(comm.SendBreak(), 0);
    EXPECT_EQ(comm.TrackChanges(), 0);
    EXPECT_EQ(comm.ProcessKey(key), 0);
    EXPECT_EQ(comm.Connect("x"), 0);
}

TEST_F(CommTest, AFailedOpenDropsTheDeviceButTheModemCountsAsOpen)
{
    Stage.Add(TestPlugBundle(), "halbrin.so");
    Stage.Add(TestPlugBundle(), "quimrel.so");
    int threads = Threads();
    struct {
        char const* mode;
        int id;
        bool open;
    } const cases[] = {
        {"openfails", 2, false},
        {"modem", 1, true},
    };
    for (auto const& c : cases) {
        setenv("QOR_TESTPLUG", c.mode, 1);
        ForgetDictionary();
        Session.Scripts.clear();
        COMM comm(Session);
        EXPECT_EQ(comm.OpenDevice(c.id, nullptr), 5) << "the device's failure code" << c.mode;
        EXPECT_EQ(comm.Device() != nullptr, c.open) << c.mode;
        EXPECT_EQ(Threads(), threads + (c.open ? 2 : 0)) << "a reader and a writer thread only for an open device";
        ASSERT_FALSE(Session.Scripts.empty());
        EXPECT_EQ(Session.Scripts.back().rfind(c.open ? "DEVOPEN" : "DEVCLOSE", 0), 0u) << Session.Scripts.back();
        if (c.open) {
            EXPECT_EQ(Command(comm, "RESETS"), "1") << "the modem is reset after it opens";
            EXPECT_EQ(Session.Prof.ActiveDevice, 1);
        }
        comm.CloseDevice();
        EXPECT_TRUE(WaitFor([&] { return Threads() == threads; }, 3000));
    }
    unsetenv("QOR_TESTPLUG");
}

TEST_F(CommTest, StatusPagePurgeAndTextInTheSessionsEncoding)
{
    NULLEMULATION emu;
    Session.Emu = &emu;
    COMM comm(Session);
    comm.ReportStatus();
    EXPECT_NE(emu.Shown.find("\x1b[2J\x1b[H\r\nCOMM-STATUS: \r\n\r\nDEVICE=-1\r\nDEVICE-PARAMETER=\"<no device>\""),
              std::string::npos)
        << emu.Shown;
    int peer = OpenLoopback(comm);
    WriteAllFd(peer, "abc");
    EXPECT_TRUE(WaitFor([&] { return comm.QueryNumAvail() == 3; }, 3000));
    emu.Shown.clear();
    comm.ReportStatus();
    EXPECT_NE(emu.Shown.find("DEVICE=5\r\nDEVICE-PARAMETER=\"[5]\"\r\n\r\nTRANSFERBUFFER: SIZE= 32768, MAXFILL= 3\r\n"),
              std::string::npos)
        << emu.Shown;
    EXPECT_NE(emu.Shown.find("LOOPBACK: [5]"), std::string::npos) << "the device's own status follows";

    // PurgeLine reads until the line is quiet, showing what it read.
    emu.Shown.clear();
    EXPECT_EQ(comm.PurgeLine(100, 1), 3);
    EXPECT_EQ(emu.Shown, "abc");
    EXPECT_EQ(comm.PurgeLine(0, 0), 0);

    // Wide text goes out in the session's code page, or as UTF-8 for code
    // page 1000 and for an emulation that asks for it (unless it asks for
    // no Unicode at all).
    struct {
        int codePage;
        unsigned long flags;
        std::string sent;
    } const cases[] = {
        {1252, 0, "\xE9\x80"},
        {1000, 0, "\xC3\xA9\xE2\x82\xAC"},
        {1252, EMUFLAG_UTF8CONVERSION, "\xC3\xA9\xE2\x82\xAC"},
        {1252, EMUFLAG_UTF8CONVERSION | EMUFLAG_NOUNICODE, "\xE9\x80"},
    };
    for (auto const& c : cases) {
        Session.Prof.CodePage = c.codePage;
        emu.Flags = c.flags;
        comm.OpenDevice(5, "[5]");
        comm.PrintStringW(L"\u00e9\u20ac");
        EXPECT_EQ(Command(comm, "SENT"), c.sent) << c.codePage << " " << c.flags;
    }
    comm.CloseDevice();
    Session.Emu = nullptr;
}

TEST_F(CommTest, StressEveryByteOnceInOrder)
{
    // Bytes come through the loopback device and its reader thread, or a
    // feeding thread plays the reader and calls FeedData itself; markers go
    // in between from the feeding side. The main thread reads one character
    // at a time, or takes batches from the pipe as fast as it can (so the
    // pipe runs empty while a batch is being copied in). QOR_STRESS_MB sizes
    // it (small by default; 100 under ThreadSanitizer by hand). A paced
    // reader stops for a moment after every few kilobytes, as a main
    // thread that draws what it reads does: the held-back feeder sleeps
    // until it is woken. Where the feeding thread writes both, each
    // marker must come out exactly between the bytes it was fed between.
    char const* env = getenv("QOR_STRESS_MB");
    size_t total = static_cast<size_t>(env ? atoi(env) : 4) << 20;
    enum MODE { CHARACTERS, BATCHES, DEVICE, PACED };
    using PLACED = std::vector<std::pair<size_t, uint32_t>>; // bytes before it, marker
    for (MODE mode : {CHARACTERS, BATCHES, DEVICE, PACED}) {
        static char const* const kModeNames[] = {"characters", "batches", "device", "paced"};
        SCOPED_TRACE(kModeNames[mode]);
        COMM comm(Session);
        int peer = OpenLoopback(comm);
        constexpr size_t kChunk = 8192;
        std::string chunk = Pattern(kChunk * 2);
        PLACED fed;
        std::thread feeder([&] {
            size_t sent = 0;
            int k = 0;
            while (sent < total) {
                size_t n = std::min(kChunk - static_cast<size_t>(k % 7) * 100, total - sent);
                if (mode == DEVICE)
                    WriteAllFd(peer, std::string(chunk.data() + sent % 251, n));
                else
                    comm.FeedData(chunk.data() + sent % 251, static_cast<int>(n));
                sent += n;
                if (++k % 5 == 0) {
                    uint32_t const marker = COMM_MARKER_FIRST + static_cast<uint32_t>(k % 4);
                    comm.FeedMarker(static_cast<wchar_t>(marker));
                    fed.emplace_back(sent, marker);
                }
            }
        });
        size_t got = 0;
        PLACED markers;
        bool inOrder = true;
        auto take = [&](uint32_t c) {
            if (c > 255) {
                markers.emplace_back(got, c);
                return;
            }
            if (c != got % 251)
                inOrder = false;
            ++got;
        };
        auto start = Clock::now();
        while (got < total && MsSince(start) < 120000) {
            if (mode == BATCHES) {
                uint32_t buf[COMM::READBUFSIZE];
                int n = COMM::READBUFSIZE;
                if (comm.GetPipeData(buf, &n, 50) == 0) {
                    for (int i = 0; i < n; ++i)
                        take(buf[i]);
                }
            } else {
                int c = comm.WaitChar(50);
                if (c != COMM_NOCHAR)
                    take(static_cast<uint32_t>(c));
                if (mode == PACED && c != COMM_NOCHAR && got % 3000 == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        }
        if (got < total)
            comm.CloseDevice(); // a feeder still held back gives up, so it can be joined
        feeder.join();
        while (markers.size() < fed.size() && MsSince(start) < 120000) {
            int c = comm.WaitChar(50);
            if (c != COMM_NOCHAR)
                take(static_cast<uint32_t>(c));
        }
        comm.CloseDevice();
        EXPECT_EQ(got, total);
        EXPECT_TRUE(inOrder);
        ASSERT_EQ(markers.size(), fed.size());
        EXPECT_GT(markers.size(), 0u);
        if (mode != DEVICE) {
            EXPECT_TRUE(markers == fed) << "every marker in its place";
        }
    }
}

TEST_F(CommTest, FlushKeepsTheNewestEntriesWithTheirMarkers)
{
    // Entries: 30 bytes, marker A, 5 bytes, marker B, 10 bytes (47), fed
    // after the pipe's ring has nearly gone round once, so they wrap.
    struct {
        int keep;
        int dropped;
        std::string left; // bytes as letters of the pattern, markers as A/B
    } const cases[] = {
        {47, 0, "0123456789abcdefghijklmnopqrstAuvwxyBz012345678"},
        {12, 35, "yBz012345678"},
        {11, 36, "Bz012345678"},
        {10, 37, "z012345678"},
        {17, 30, "AuvwxyBz012345678"},
        {0, 47, ""},
    };
    std::string const letters = "0123456789abcdefghijklmnopqrstuvwxyz012345678";
    for (auto const& c : cases) {
        SCOPED_TRACE(c.keep);
        COMM comm(Session);
        std::string before(COMM::PIPESIZE / 4 - 100, 'x');
        for (int round = 0; round < 4; ++round) {
            comm.FeedData(before.data(), static_cast<int>(before.size()));
            EXPECT_EQ(comm.FlushInputBuffer(0), static_cast<int>(before.size()));
        }
        comm.FeedData(letters.data(), 30);
        comm.FeedMarker(0xFFF8);
        comm.FeedData(letters.data() + 30, 5);
        comm.FeedMarker(0xFFF9);
        comm.FeedData(letters.data() + 35, 10);
        EXPECT_EQ(comm.FlushInputBuffer(c.keep), c.dropped);
        std::string left;
        for (;;) {
            uint32_t buf[64];
            int n = 64;
            if (comm.GetPipeData(buf, &n, 0) != 0)
                break;
            for (int i = 0; i < n; ++i)
                left += buf[i] == 0xFFF8 ? 'A' : buf[i] == 0xFFF9 ? 'B' : static_cast<char>(buf[i]);
        }
        EXPECT_EQ(left, c.left);
    }
}

namespace {

// A device whose Write waits while the gate is shut (a host that reads
// nothing) and keeps what it was given.
class GATEDDEVICE final : public QORDEVICE {
public:
    GATEDDEVICE() : QORDEVICE(SUBSYSINITDATA{}) {}
    int SetParm(char const*) override { return 1; }
    char* QueryParm(char* buf, int) override { return buf; }
    char* QueryStdParm(char* buf) override { return buf; }
    char* QueryStatus(char* buf) override { return buf; }
    signed char Open(char const*) override { return 0; }
    void Close() override {}
    int NumAvail() override { return 0; }
    int QueryOnline() override { return 1; }
    signed char Read(char*, unsigned long* len) override
    {
        *len = 0;
        return 0;
    }
    int Write(char const* data, long len) override
    {
        std::unique_lock<std::mutex> lock(Lock);
        Opened.wait(lock, [&] { return Gate; });
        Got.append(data, static_cast<size_t>(len));
        return 1;
    }
    void SetOpen(bool open)
    {
        std::lock_guard<std::mutex> lock(Lock);
        Gate = open;
        Opened.notify_all();
    }
    std::string Written()
    {
        std::lock_guard<std::mutex> lock(Lock);
        return Got;
    }

private:
    std::mutex Lock;
    std::condition_variable Opened;
    bool Gate = false;
    std::string Got;
};

} // namespace

// The write queue: the main thread never waits (what does not fit is
// dropped whole), another thread waits for room and may hand over more
// than the queue holds, and a hang-up forgets what waits.
TEST(CommWriter, BoundedForTheMainThreadWholeForOthers)
{
    GATEDDEVICE device;
    COMMWRITER writer;
    ASSERT_TRUE(writer.Start(&device));

    // The gate is shut: the queue fills up to its bound, then refuses.
    std::string const big(COMMWRITER::LIMIT / 2, 'a');
    auto const start = Clock::now();
    EXPECT_TRUE(writer.Put(big.data(), big.size(), false));
    EXPECT_TRUE(writer.Put(big.data(), big.size(), false));
    // (The writer holds one piece of at most CHUNK bytes in the device.)
    EXPECT_FALSE(writer.Put(big.data(), big.size(), false)) << "the queue is full";
    EXPECT_LT(MsSince(start), 1000) << "the main thread never waits";
    EXPECT_EQ(writer.Dropped(), big.size());
    EXPECT_LE(writer.Pending(), COMMWRITER::LIMIT);
    writer.Drop();
    EXPECT_EQ(writer.Pending(), 0u);

    // Another thread hands over more than the queue holds: it waits for
    // room and every byte arrives, in order.
    device.SetOpen(true);
    ASSERT_TRUE(writer.WaitWritten(5000));
    std::string const before = device.Written();
    device.SetOpen(false);
    std::string huge(COMMWRITER::LIMIT * 2 + 123, 0);
    for (size_t i = 0; i < huge.size(); ++i)
        huge[i] = static_cast<char>('0' + i % 61);
    bool ok = false;
    std::thread sender([&] { ok = writer.Put(huge.data(), huge.size(), true); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    device.SetOpen(true);
    sender.join();
    EXPECT_TRUE(ok);
    ASSERT_TRUE(writer.WaitWritten(5000));
    EXPECT_TRUE(device.Written().substr(before.size()) == huge) << "the long write arrived whole";
    EXPECT_TRUE(writer.Stop(5000));
}
