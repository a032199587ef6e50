// The installation: `cmake --install` into a prefix of the test's own lays
// out the stage's tree and the desktop's files, which the desktop's checkers
// accept; the program runs from there, and with the prefix in
// XDG_DATA_DIRS the desktop's opener (xdg-open) hands a telnet:// address
// and a session profile to the running program as its open-URL and
// open-documents events.
#include "tests/program/shell/x11fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <set>

using namespace x11test;

namespace {

// The files below root, relative to it.
std::set<std::string> Files(std::string const& root)
{
    std::set<std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file(ec))
            out.insert(std::filesystem::relative(it->path(), root, ec).string());
    return out;
}

// A listening socket on the loopback address: its port is free and
// whatever connects stays on this machine.
class LISTENER {
public:
    LISTENER()
    {
        Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (Fd >= 0 && bind(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(Fd, 4) == 0 &&
            getsockname(Fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            Port = ntohs(a.sin_port);
    }
    ~LISTENER()
    {
        if (Fd >= 0)
            close(Fd);
    }
    int Fd = -1;
    int Port = 0;
};

class Installation : public QorX11 {};

} // namespace

TEST_F(Installation, TheInstalledTreeRunsAndTheDesktopOpensAddressesAndProfilesWithIt)
{
    std::string const prefix = Dir.file("prefix");
    std::string out;
    ASSERT_EQ(testutil::RunProgram({"cmake", "--install", QOR_BUILD_DIR, "--prefix", prefix}, &out), 0) << out;

    // The stage's tree, file for file.
    std::string const stage = getenv("QOR_STAGE_DIR");
    std::set<std::string> const installed = Files(prefix);
    for (std::string const& file : Files(stage))
        EXPECT_TRUE(installed.count(file)) << file << " is not installed";
    ASSERT_EQ(testutil::RunProgram({prefix + "/bin/qor", "--version"}, &out), 0);
    EXPECT_EQ(out, "qor 6.44\n");

    // The desktop's files, accepted by their checkers.
    std::string const entry = prefix + "/share/applications/qor.desktop";
    std::string const text = testutil::ReadFile(entry);
    EXPECT_NE(text.find("\nExec=" + prefix + "/bin/qor %U\n"), std::string::npos) << text;
    for (char const* type : {"x-scheme-handler/telnet;", "x-scheme-handler/ssh;", "application/x-qor-session-profile;"})
        EXPECT_NE(text.find(type), std::string::npos) << type;
    EXPECT_EQ(testutil::RunProgram({"desktop-file-validate", entry}, &out), 0) << out;
    EXPECT_EQ(testutil::RunProgram({"appstreamcli", "validate", "--no-net", "--pedantic",
                                    prefix + "/share/metainfo/com.tarvo.qor.metainfo.xml"},
                                   &out),
              0)
        << out;
    for (char const* icon : {"48x48/apps/qor.png", "96x96/apps/qor.png", "scalable/apps/qor.svg"})
        EXPECT_TRUE(installed.count(std::string("share/icons/hicolor/") + icon)) << icon;
    EXPECT_TRUE(installed.count("share/mime/packages/qor.xml"));

    // What a package's triggers do, then the desktop's opener.
    ASSERT_EQ(testutil::RunProgram({"update-desktop-database", prefix + "/share/applications"}, &out), 0) << out;
    ASSERT_EQ(testutil::RunProgram({"update-mime-database", prefix + "/share/mime"}, &out), 0) << out;
    setenv("XDG_DATA_DIRS", (prefix + "/share:/usr/share").c_str(), 1);
    std::string const log = Dir.file("qor.log");
    Program = prefix + "/bin/qor";
    pid_t const qor = Start({"/U", "/LOGIT:" + log});
    ASSERT_GT(qor, 0);
    ASSERT_FALSE(MainWindow().empty()) << "the installed program runs";
    ASSERT_TRUE(WaitFor([&] { return Children(qor).size() == 1; }, 10000));

    LISTENER listener;
    ASSERT_GT(listener.Port, 0);
    std::string const url = "telnet://127.0.0.1:" + std::to_string(listener.Port);
    std::string const profile = Dir.file("work.qor");
    testutil::WriteFile(profile, "QOR6.44 // SESSIONPROFILE\n");
    EXPECT_EQ(testutil::RunProgram({"xdg-mime", "query", "filetype", profile}, &out), 0);
    EXPECT_EQ(out, "application/x-qor-session-profile\n");
    EXPECT_EQ(testutil::RunProgram({"xdg-open", url}, &out), 0) << out;
    EXPECT_EQ(testutil::RunProgram({"xdg-open", profile}, &out), 0) << out;
    EXPECT_TRUE(WaitFor(
        [&] {
            std::string const said = testutil::ReadFile(log);
            return said.find("HandleAppleEvent got URL of " + url) != std::string::npos &&
                   said.find("HandleAppleEvent got FSS of " + profile) != std::string::npos;
        },
        15000))
        << "the running program got the address and the profile";
    EXPECT_TRUE(WaitFor([&] { return Children(qor).size() >= 2; }, 10000)) << "a window for the profile";
    std::string const said = testutil::ReadFile(log);
    EXPECT_NE(said.find("/TELNET:127.0.0.1:" + std::to_string(listener.Port)), std::string::npos)
        << "the address became the connect switch of a new window";
    EXPECT_NE(said.find("/O:" + profile), std::string::npos) << "the profile became the profile switch";
}
