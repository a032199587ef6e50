// The program's answers on the command line that need no desktop: the
// usage and the version on the standard output, and no window (the test
// runs it without a display, where a window would end it with an error).
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string Program()
{
    char const* stage = getenv("QOR_STAGE_DIR");
    return stage ? std::string(stage) + "/bin/qor" : std::string();
}

} // namespace

TEST(QorCommandLine, HelpAndVersionAnswerOnTheStandardOutputWithoutAWindow)
{
    ASSERT_FALSE(Program().empty());
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
    testutil::TempDir home;
    setenv("HOME", home.path().c_str(), 1);
    setenv("LANG", "C.UTF-8", 1);
    setenv("XDG_CONFIG_HOME", home.file("config").c_str(), 1);
    setenv("XDG_DATA_HOME", home.file("data").c_str(), 1);

    std::string out;
    for (char const* ask : {"--help", "-h"}) {
        SCOPED_TRACE(ask);
        ASSERT_EQ(testutil::RunProgram({Program(), "/TITLE:x", ask}, &out), 0);
        EXPECT_EQ(out.rfind("Usage: qor [switch...] [file or address...]\n", 0), 0u) << out;
        // Every switch of the command line on a line of its own.
        for (char const* name : {"/Q ", "/U ", "/NOEATMODEMECHO", "/FBOLD", "/O:", "/TITLE:", "/RESTRICT:",
                                 "/WORKDIR:", "/PROGCFG:", "/TABBED", "/FI:", "/EVENT:", "/AUTOSTRING:",
                                 "/CONNECT:", "/CALL:", "/RLOGIN:", "/SSH:", "/SSHKEY:", "/TELNET:", "/RUN:",
                                 "/RUNARG:", "/DEV:", "/EMU:", "/PF:", "/KEY:", "/TT:", "/POS:", "/MIN, /MAX",
                                 "/WINDOWFRAME:", "--version"})
            EXPECT_NE(out.find("\n  " + std::string(name)), std::string::npos) << name;
    }
    ASSERT_EQ(testutil::RunProgram({Program(), "--version"}, &out), 0);
    EXPECT_EQ(out, "qor 6.44\n");
    EXPECT_FALSE(std::filesystem::exists(home.file("config"))) << "nothing of a start was made";
    EXPECT_FALSE(std::filesystem::exists(home.file("data")));
}
