// Starting programs, opening documents and URLs: exit codes, working
// folders, descriptors of the child, the waiting hook, and argument
// vectors that no shell ever reads.
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"
#include "platform/services/dispatch.h"
#include "tests/velmot/core/sys_testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <string>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

using systest::Asserts;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

class Programs : public systest::SysTest {};

std::string Quoted(std::string const& s)
{
    return "\"" + s + "\"";
}

} // namespace

TEST_F(Programs, ExitCodesOfProgramsThatEnd)
{
    struct Case {
        char const* program;
        char const* args;
        int code;
    };
    std::vector<Case> const cases = {
        {"/bin/sh", "-c \"exit 3\"", 3},
        {"/bin/sh", "-c \"exit 0\"", 0},
        {"#/bin/sh", "-c \"exit 4\"", 4},         // a leading number sign is skipped
        {"*/bin/sh", "-c \"exit 5\"", 5},         // and so is a star
        {"\"/bin/sh\"", "-c \"exit 6\"", 6},      // already quoted
        {"/bin/sh", "-c \"kill -9 $$\"", -8},      // ended by a signal
        {"/no/such/program", nullptr, -8},
        {"/tmp", nullptr, -8},                    // a folder
        {"/etc/hostname", nullptr, -8},           // a file that cannot run
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.program);
        EXPECT_EQ(c.code, OSYS::StartProgramExitCode(c.program, c.args));
    }
}

TEST_F(Programs, StartProgramReportsItsProcessAndStatus)
{
    int pid = -1;
    int code = 99;
    EXPECT_TRUE(OSYS::StartProgram("/bin/sh", "-c \"exit 7\"", nullptr, nullptr, OSYS::STARTPROGRAM_WAIT, &pid, &code));
    EXPECT_GT(pid, 0);
    EXPECT_EQ(7, code);

    EXPECT_FALSE(OSYS::StartProgram("/no/such/program", nullptr, nullptr, nullptr, OSYS::STARTPROGRAM_WAIT, &pid,
                                    &code));
    EXPECT_EQ(0, pid);
    EXPECT_EQ(-8, code);

    // Without waiting the call returns at once with the process id.
    TempDir dir;
    std::string args = "-c \"sleep 0.2; echo done > " + dir.file("out") + "\"";
    EXPECT_TRUE(OSYS::StartProgram("/bin/sh", args.c_str(), nullptr, nullptr, 0, &pid, &code));
    EXPECT_EQ(-8, code);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out")));
    plat::ChildStatus st = plat::WaitChildFor(pid, 10000);
    EXPECT_EQ(plat::ChildStatus::Exited, st.state);
    EXPECT_EQ("done\n", ReadFile(dir.file("out")));

    EXPECT_TRUE(OSYS::StartProgram("/bin/sh", "-c \"exit 1\"", true)); // started and ended normally
    EXPECT_TRUE(OSYS::StartProgram("/bin/true", nullptr, "ignored", true));
}

TEST_F(Programs, TheProgramRunsInTheGivenFolder)
{
    TempDir dir;
    std::string folder = dir.path() + "/with blank";
    std::filesystem::create_directory(folder);
    std::string args = "-c \"pwd > '" + dir.file("pwd") + "'\"";
    EXPECT_EQ(0, OSYS::StartProgramExitCode("/bin/sh", args.c_str(), folder.c_str()));
    EXPECT_EQ(folder + "\n", ReadFile(dir.file("pwd")));

    // A folder that does not exist leaves the current one.
    EXPECT_EQ(0, OSYS::StartProgramExitCode("/bin/sh", args.c_str(), dir.file("missing").c_str()));
    EXPECT_EQ(std::filesystem::current_path().string() + "\n", ReadFile(dir.file("pwd")));
}

TEST_F(Programs, ArgumentsAreSplitNotInterpreted)
{
    TempDir dir;
    std::string script = dir.file("args.sh");
    WriteFile(script, "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$OUT\"\n");
    chmod(script.c_str(), 0755);
    setenv("OUT", dir.file("out").c_str(), 1);
    EXPECT_EQ(0, OSYS::StartProgramExitCode(script.c_str(), "one \"two words\" $(touch pwned) ;x `id`", dir.path().c_str()));
    unsetenv("OUT");
    EXPECT_EQ("[one][two words][$(touch][pwned)][;x][`id`]", ReadFile(dir.file("out")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("pwned")));
}

TEST_F(Programs, NoDescriptorLeaksIntoTheChild)
{
    TempDir dir;
    int fd = open("/dev/null", O_RDONLY); // without close-on-exec
    ASSERT_GE(fd, 0);
    ASSERT_EQ(100, dup2(fd, 100)); // above the old limit of 63 too
    EXPECT_EQ(0, OSYS::StartProgramExitCode(systest::ProbePath().c_str(), ("fds " + dir.file("fds")).c_str()));
    close(100);
    close(fd);
    EXPECT_EQ("", ReadFile(dir.file("fds")));
}

namespace {
std::atomic<int> gHookCalls{0};
std::string gHookFlag; // made by the fourth call of the hook
void CountingHook()
{
    if (++gHookCalls == 4 && !gHookFlag.empty())
        WriteFile(gHookFlag, "");
}
} // namespace

TEST_F(Programs, WaitingWithEventsRunsTheHookBetweenPolls)
{
    int code = 99;
    // Without a hook of the event layer, tasks queued for the main thread run.
    bool ran = false;
    plat::PostToMainThread([&] { ran = true; });
    EXPECT_TRUE(OSYS::StartProgram("/bin/sh", "-c \"sleep 0.2; exit 2\"", nullptr, nullptr,
                                   OSYS::STARTPROGRAM_WAIT | OSYS::STARTPROGRAM_KEEPEVENTS, nullptr, &code));
    EXPECT_EQ(2, code);
    EXPECT_TRUE(ran);

    // The child ends once the hook has run four times (or gives up after
    // about 20 s and says so): a slow machine only makes the wait longer.
    TempDir dir;
    gHookFlag = dir.file("flag");
    std::string const script = dir.file("wait.sh");
    WriteFile(script, "#!/bin/sh\ni=0\nwhile [ ! -e \"$1\" ]; do\n  i=$((i + 1))\n"
                      "  [ $i -gt 2000 ] && exit 3\n  sleep 0.01\ndone\nexit 0\n");
    chmod(script.c_str(), 0755);
    OSYS::SetWaitEventsHook(&CountingHook);
    gHookCalls = 0;
    code = 99;
    EXPECT_TRUE(OSYS::StartProgram(script.c_str(), Quoted(gHookFlag).c_str(), nullptr, nullptr,
                                   OSYS::STARTPROGRAM_WAIT | OSYS::STARTPROGRAM_KEEPEVENTS, nullptr, &code));
    OSYS::SetWaitEventsHook(nullptr);
    gHookFlag.clear();
    EXPECT_EQ(0, code);
    EXPECT_GE(gHookCalls.load(), 4);

    // Only together with the wait flag.
    gHookCalls = 0;
    OSYS::SetWaitEventsHook(&CountingHook);
    int pid = 0;
    EXPECT_TRUE(OSYS::StartProgram("/bin/sh", "-c \"sleep 0.1\"", nullptr, nullptr, OSYS::STARTPROGRAM_KEEPEVENTS,
                                   &pid, nullptr));
    OSYS::SetWaitEventsHook(nullptr);
    EXPECT_EQ(0, gHookCalls.load());
    plat::WaitChildFor(pid, 10000);
}

namespace {

// Fake openers on $PATH that write their arguments and folder to a file.
class Openers : public Programs {
protected:
    void SetUp() override
    {
        Programs::SetUp();
        bin_ = dir_.path() + "/bin";
        std::filesystem::create_directory(bin_);
        for (char const* name : {"xdg-open", "fakeapp"}) {
            std::string path = bin_ + "/" + name;
            WriteFile(path, std::string("#!/bin/sh\n{ echo ") + name +
                                "; pwd; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } > \"" + Log() +
                                "\"\nexit ${FAKE_EXIT:-0}\n");
            chmod(path.c_str(), 0755);
        }
        char const* path = getenv("PATH");
        oldPath_ = path ? path : "";
        setenv("PATH", (bin_ + ":" + oldPath_).c_str(), 1);
    }
    void TearDown() override
    {
        setenv("PATH", oldPath_.c_str(), 1);
        unsetenv("FAKE_EXIT");
        Programs::TearDown();
    }
    std::string Log() const { return dir_.file("opened"); }
    std::string Opened()
    {
        std::string rc = ReadFile(Log());
        std::filesystem::remove(Log());
        return rc;
    }

    TempDir dir_;
    std::string bin_;
    std::string oldPath_;
};

} // namespace

TEST_F(Openers, UrlsReachTheOpenerAsOneArgument)
{
    std::string cwd = std::filesystem::current_path().string();
    std::string url = "http://example.org/?a=1&b=$(touch pwned);`id` \"q\" 'x'";
    EXPECT_TRUE(OSYS::ShowUrl(url.c_str()));
    EXPECT_EQ("xdg-open\n" + cwd + "\n[" + url + "]\n", Opened());
    EXPECT_FALSE(std::filesystem::exists(cwd + "/pwned"));

    for (char const* refused : {"", "-e", "--help"}) {
        SCOPED_TRACE(refused);
        EXPECT_FALSE(OSYS::ShowUrl(refused));
        EXPECT_EQ("", Opened());
    }
    EXPECT_FALSE(OSYS::ShowUrl(nullptr));

    setenv("FAKE_EXIT", "1", 1);
    EXPECT_FALSE(OSYS::ShowUrl("http://example.org/"));
}

TEST_F(Openers, DocumentsAndApplicationsMapOntoOpeners)
{
    TempDir work;
    struct Case {
        char const* file;
        char const* params;
        std::string folder;
        std::string expected; // opener, folder, arguments
    };
    std::string cwd = std::filesystem::current_path().string();
    std::vector<Case> const cases = {
        {"\"my file.txt\"", nullptr, Quoted(work.path()), "xdg-open\n" + work.path() + "\n[my file.txt]\n"},
        {"'single quoted.txt'", "", "", "xdg-open\n" + cwd + "\n[single quoted.txt]\n"},
        {"a\"b$c.txt", nullptr, "", "xdg-open\n" + cwd + "\n[a\"b$c.txt]\n"},
        {"fakeapp", "\"doc 1.txt\"", "", "fakeapp\n" + cwd + "\n[doc 1.txt]\n"},        // open -a fakeapp
        {"\"fakeapp\"", "doc;rm -rf x", work.path(), "fakeapp\n" + work.path() + "\n[doc;rm -rf x]\n"},
        {"-a fakeapp", "doc", "", "fakeapp\n" + cwd + "\n[doc]\n"},                     // the option form
        {"-e", "\"notes.txt\"", "", "xdg-open\n" + cwd + "\n[notes.txt]\n"},           // other options: the desktop
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " / " + (c.params ? c.params : "<null>"));
        EXPECT_TRUE(OSYS::ShellExecuteRun(nullptr, c.file, c.params, c.folder.c_str()));
        EXPECT_EQ(c.expected, Opened());
    }
    EXPECT_FALSE(OSYS::ShellExecuteRun(nullptr, "no-such-app", "doc", ""));
    EXPECT_FALSE(OSYS::ShellExecuteRun(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ("", Opened());
}

TEST_F(Programs, OnlyTheMainThreadRunsEventsWhileItWaits)
{
    // In a process whose entry named the main thread, a worker that waits
    // with events must not run the main thread's tasks.
    int rc = testutil::RunInChild([] {
        char arg0[] = "probe";
        char* argv[] = {arg0, nullptr};
        return VelmotEntryPoint(1, argv, [](int, char**, char**) {
            OSYS::SetWaitEventsHook(&CountingHook);
            gHookCalls = 0;
            std::thread worker([] {
                OSYS::StartProgram("/bin/sh", "-c \"sleep 0.1\"", nullptr, nullptr,
                                   OSYS::STARTPROGRAM_WAIT | OSYS::STARTPROGRAM_KEEPEVENTS, nullptr, nullptr);
            });
            worker.join();
            int onWorker = gHookCalls.load();
            OSYS::StartProgram("/bin/sh", "-c \"sleep 0.1\"", nullptr, nullptr,
                               OSYS::STARTPROGRAM_WAIT | OSYS::STARTPROGRAM_KEEPEVENTS, nullptr, nullptr);
            int onMain = gHookCalls.load();
            return onWorker == 0 && onMain > 0 ? 0 : 1;
        });
    });
    EXPECT_EQ(0, rc);
}
