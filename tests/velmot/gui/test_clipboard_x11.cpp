// The clipboard under a real X server: a private Xvfb (xvfb-run, with its
// own authorisation cookie), the program's clipboard in clipboard_x11_probe
// on Qt's xcb platform, and xclip as the other program, reading what the
// program wrote in both flavours and writing what the program reads.
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

std::string FindTool(char const* name)
{
    for (char const* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
        std::string const p = std::string(dir) + name;
        if (access(p.c_str(), X_OK) == 0)
            return p;
    }
    return {};
}

std::string Hex(std::string const& bytes)
{
    static char const digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

// The value of the line "<key> <value>" of the probe's output.
std::string Line(std::string const& out, std::string const& key)
{
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind(key + " ", 0) == 0)
            return line.substr(key.size() + 1);
    return "<missing>";
}

TEST(ClipboardX11, TextCrossesTheDesktopsClipboardBothWays)
{
    std::string const xvfbRun = FindTool("xvfb-run");
    std::string const xclip = FindTool("xclip");
    ASSERT_FALSE(xvfbRun.empty()) << "xvfb-run missing (scripts/setup installs xvfb)";
    ASSERT_FALSE(xclip.empty()) << "xclip missing (scripts/setup installs it)";
    char const* bin = std::getenv("QOR_TEST_BIN_DIR");
    std::string const probe = std::string(bin ? bin : ".") + "/clipboard_x11_probe";
    ASSERT_EQ(access(probe.c_str(), X_OK), 0) << probe;

    std::string const ours = "Grüße € \xF0\x9F\x98\x80 from the terminal";
    std::string const theirs = "draußen ✓ \xF0\x9D\x84\x9E from xclip";
    std::u16string const ours16 = u"Grüße € \U0001F600 from the terminal";

    testutil::TempDir scratch;
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    // A display number nobody uses: picked at random, another one when the
    // server could not start on it.
    std::random_device rd;
    std::string out;
    for (int attempt = 0; attempt < 5 && out.find("DONE") == std::string::npos; ++attempt) {
        std::string const display = std::to_string(600 + rd() % 400);
        out.clear();
        testutil::RunProgram({xvfbRun, "-n", display, "-s", "-screen 0 640x480x24 -nolisten tcp", probe,
                              scratch.path(), ours, theirs},
                             &out);
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ASSERT_NE(out.find("DONE"), std::string::npos) << out;

    EXPECT_EQ(Line(out, "OUT8"), Hex(ours));
    EXPECT_EQ(Line(out, "OUT16"), Hex(std::string(reinterpret_cast<char const*>(ours16.data()), ours16.size() * 2)));
    EXPECT_EQ(Line(out, "IN"), Hex(theirs));
}

} // namespace
