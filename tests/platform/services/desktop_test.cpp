#include "platform/services/desktop.h"

#include "tests/platform/services/env_guard.h"
#include "tests/support/testutil.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(LoginItems, AutostartEntryIsAddedOnceAndRemovedOnlyForItsProgram)
{
    EnvGuard env;
    testutil::TempDir dir;
    env.Set("XDG_CONFIG_HOME", dir.path() + "/config");
    std::string const program = "/opt/qor 2/bin/qor";
    std::string const file = dir.path() + "/config/autostart/qor-test.desktop";
    EXPECT_EQ(plat::AutostartFilePath("qor-test"), file);

    EXPECT_FALSE(plat::IsLoginItem("qor-test", program));
    ASSERT_TRUE(plat::SetLoginItem("qor-test", program, true));
    EXPECT_EQ(testutil::ReadFile(file), "[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=qor-test\n"
                                        "Exec=\"/opt/qor 2/bin/qor\"\n"
                                        "X-GNOME-Autostart-enabled=true\n");
    EXPECT_TRUE(plat::IsLoginItem("qor-test", program));
    EXPECT_FALSE(plat::IsLoginItem("qor-test", "/usr/bin/qor"));

    struct stat first, second;
    ASSERT_EQ(stat(file.c_str(), &first), 0);
    ASSERT_TRUE(plat::SetLoginItem("qor-test", program, true));
    ASSERT_EQ(stat(file.c_str(), &second), 0);
    EXPECT_EQ(first.st_ino, second.st_ino) << "adding twice must not write again";

    ASSERT_TRUE(plat::SetLoginItem("qor-test", "/usr/bin/qor", false));
    EXPECT_TRUE(std::filesystem::exists(file)) << "another program's entry stays";
    ASSERT_TRUE(plat::SetLoginItem("qor-test", program, false));
    EXPECT_FALSE(std::filesystem::exists(file));
    ASSERT_TRUE(plat::SetLoginItem("qor-test", program, false));
    EXPECT_FALSE(std::filesystem::exists(file)) << "removing an absent entry writes nothing";

    for (char const* bad : {"", "../evil", ".hidden", "a b"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(plat::SetLoginItem(bad, program, true));
    }
}

TEST(LoginItems, ExecValueQuoting)
{
    struct Case {
        std::string program;
        std::string exec;
    };
    std::vector<Case> const cases = {
        {"/usr/bin/qor", "\"/usr/bin/qor\""},
        {"/a b/qor", "\"/a b/qor\""},
        {"/a\"b", "\"/a\\\\\"b\""},
        {"/a$b`c", "\"/a\\\\$b\\\\`c\""},
        {"/a\\b", "\"/a\\\\\\\\b\""},
        {"/100%", "\"/100%%\""},
        {"/a\nb", "\"/a\\nb\""},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.program);
        EXPECT_EQ(plat::DesktopExecValue(c.program), c.exec);
    }
}

TEST(ScreenSaver, ResetRunsTheDesktopToolWhenThereIsOne)
{
    EnvGuard env;
    testutil::TempDir dir;
    std::string const bin = dir.path() + "/bin";
    std::filesystem::create_directories(bin);
    env.Set("PATH", bin);
    EXPECT_FALSE(plat::WakeScreenSaver()) << "no tool: nothing happens";

    std::filesystem::create_symlink(SVC_CHILD_HELPER, bin + "/xdg-screensaver");
    env.Set("QOR_ARGDUMP", dir.file("args"));
    EXPECT_TRUE(plat::WakeScreenSaver());
    EXPECT_EQ(testutil::ReadFile(dir.file("args")), std::string("reset\0", 6));
}

TEST(Instances, CountsProcessesRunningThisExecutable)
{
    int before = plat::CountInstances();
    EXPECT_GE(before, 1);
    int hold[2];
    ASSERT_EQ(pipe(hold), 0);
    pid_t pid = fork();
    if (pid == 0) {
        close(hold[1]);
        char c;
        _exit(read(hold[0], &c, 1) == 0 ? 0 : 1);
    }
    close(hold[0]);
    EXPECT_EQ(plat::CountInstances(), before + 1);
    close(hold[1]);
    ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
    EXPECT_EQ(plat::CountInstances(), before);
}

} // namespace
