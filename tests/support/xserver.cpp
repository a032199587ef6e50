#include "tests/support/xserver.h"

#include "tests/support/testutil.h"

#include <random>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

extern char** environ;

namespace xtest {

namespace {

bool CanConnect(const std::string& socketPath)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

} // namespace

bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string FindTool(const char* name)
{
    for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"}) {
        std::string p = std::string(dir) + name;
        if (access(p.c_str(), X_OK) == 0)
            return p;
    }
    return {};
}

std::vector<std::string> EnvWith(const std::vector<std::pair<std::string, std::string>>& set)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        bool replaced = false;
        for (const auto& [k, v] : set)
            replaced = replaced || kv.rfind(k + "=", 0) == 0;
        if (!replaced)
            env.push_back(kv);
    }
    for (const auto& [k, v] : set)
        env.push_back(k + "=" + v);
    return env;
}

bool XServer::Start(const std::string& xvfb, const std::string& xauth, const std::string& folder,
                    const std::string& screen)
{
    authFile_ = folder + "/Xauthority";
    testutil::WriteFile(authFile_, "");
    std::random_device rd;
    std::string cookie;
    for (int i = 0; i < 16; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", rd() & 0xFF);
        cookie += hex;
    }
    const int first = 200 + static_cast<int>(rd() % 300);
    for (int n = first; n < first + 40; ++n) {
        const std::string display = std::string(":") + std::to_string(n);
        const std::string socketPath = "/tmp/.X11-unix/X" + std::to_string(n);
        if (Exists(socketPath) || Exists("/tmp/.X" + std::to_string(n) + "-lock"))
            continue;
        if (testutil::RunProgram({xauth, "-q", "-f", authFile_, "add", display, ".", cookie}) != 0)
            return false;
        if (!server_.Start({xvfb, display, "-auth", authFile_, "-nolisten", "tcp", "-screen", "0", screen,
                            "-noreset"},
                           EnvWith({}), false))
            return false;
        const auto end = Clock::now() + std::chrono::seconds(15);
        while (Clock::now() < end && server_.Running()) {
            if (CanConnect(socketPath)) {
                display_ = display;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        server_.Stop(); // lost a race for the number, or too slow: next
    }
    return false;
}

std::vector<std::string> XServer::Env(const char* platform) const
{
    return EnvWith({{"DISPLAY", display_}, {"XAUTHORITY", authFile_}, {"QT_QPA_PLATFORM", platform}});
}

} // namespace xtest
