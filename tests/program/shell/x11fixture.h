// The program under an X server of its own (Xvfb), for the tests that run
// it as a user would: started with an argument vector, looked at and typed
// into with xdotool, its children and windows found, stopped at the end.
// Each test gets a home and XDG folders of its own, as a new user has them.
#pragma once

#include "tests/support/testutil.h"
#include "tests/support/xserver.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace x11test {


using Clock = std::chrono::steady_clock;

// Starts argv with the descriptors given as (child fd <- our fd).
inline pid_t Spawn(std::vector<std::string> const& argv, std::vector<std::pair<int, int>> const& fds = {})
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (auto const& [child, ours] : fds)
        posix_spawn_file_actions_adddup2(&actions, ours, child);
    int const null = open("/dev/null", O_RDWR | O_CLOEXEC);
    posix_spawn_file_actions_adddup2(&actions, null, 0);
    std::vector<char*> args;
    for (std::string const& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(null);
    return pid;
}

inline bool WaitFor(std::function<bool()> const& cond, int ms)
{
    auto const end = Clock::now() + std::chrono::milliseconds(ms);
    while (!cond()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// The exit status of a child within ms; -1 when it still runs.
inline int ExitWithin(pid_t pid, int ms)
{
    int status = 0;
    bool ended = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, ms);
    if (!ended)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The processes whose parent is pid.
inline std::vector<pid_t> Children(pid_t parent)
{
    std::vector<pid_t> out;
    DIR* proc = opendir("/proc");
    for (dirent* e = proc ? readdir(proc) : nullptr; e; e = readdir(proc)) {
        pid_t pid = static_cast<pid_t>(atoi(e->d_name));
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        size_t close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        int ppid = 0;
        char state = 0;
        if (sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == parent)
            out.push_back(pid);
    }
    if (proc)
        closedir(proc);
    return out;
}

inline bool Alive(pid_t pid)
{
    if (kill(pid, 0) != 0)
        return false;
    // A zombie has ended.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    size_t close = line.rfind(')');
    return close != std::string::npos && line.size() > close + 2 && line[close + 2] != 'Z';
}

inline std::string Output(std::vector<std::string> const& argv)
{
    std::string out;
    testutil::RunProgram(argv, &out);
    return out;
}

class QorX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string const xvfb = xtest::FindTool("Xvfb");
        std::string const xauth = xtest::FindTool("xauth");
        ASSERT_FALSE(xvfb.empty() || xauth.empty()) << "Xvfb and xauth are installed";
        ASSERT_TRUE(Server.Start(xvfb, xauth, Dir.path())) << "the X server came up";
        setenv("DISPLAY", Server.Display().c_str(), 1);
        setenv("XAUTHORITY", Server.AuthFile().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        setenv("SHELL", "/bin/sh", 1);
        // A new user: a home and XDG folders of the test's own.
        for (auto const& [name, folder] : UserFolders()) {
            char const* old = getenv(name.c_str());
            Saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            mkdir(Dir.file(folder).c_str(), 0700);
            setenv(name.c_str(), Dir.file(folder).c_str(), 1);
        }
        char const* stage = getenv("QOR_STAGE_DIR");
        ASSERT_NE(stage, nullptr);
        Program = std::string(stage) + "/bin/qor";
    }

    void TearDown() override
    {
        for (pid_t pid : Started) {
            if (Alive(pid)) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        for (auto const& [name, value] : Saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

    // The variables of a user's folders and the test's folder for each.
    static std::vector<std::pair<std::string, std::string>> UserFolders()
    {
        return {{"HOME", "home"},         {"XDG_CONFIG_HOME", "config"}, {"XDG_DATA_HOME", "data"},
                {"XDG_CACHE_HOME", "cache"}, {"XDG_STATE_HOME", "state"},  {"XDG_RUNTIME_DIR", "run"}};
    }

    pid_t Start(std::vector<std::string> args)
    {
        args.insert(args.begin(), Program);
        pid_t pid = Spawn(args);
        if (pid > 0)
            Started.push_back(pid);
        return pid;
    }

    // The id of the first visible window whose name matches the pattern
    // and does not hold `unlike`; "" when none shows within ms.
    std::string WindowNamed(std::string const& pattern, std::string const& unlike = "", int ms = 20000)
    {
        std::string found;
        WaitFor(
            [&] {
                std::string const ids = Output({"xdotool", "search", "--onlyvisible", "--name", pattern});
                for (size_t at = 0; at < ids.size();) {
                    size_t end = ids.find('\n', at);
                    std::string const id = ids.substr(at, end == std::string::npos ? end : end - at);
                    at = end == std::string::npos ? ids.size() : end + 1;
                    std::string const name = Output({"xdotool", "getwindowname", id});
                    if (!id.empty() && (unlike.empty() || name.find(unlike) == std::string::npos)) {
                        found = id;
                        return true;
                    }
                }
                return false;
            },
            ms);
        return found;
    }

    // The program's main window (not its tip of the day).
    // (The current tab's title may lead the name.)
    std::string MainWindow() { return WindowNamed("QOR/", "Tip of the Day"); }

    void Focus(std::string const& window) { Output({"xdotool", "windowfocus", "--sync", window}); }
    void Type(std::string const& text) { Output({"xdotool", "type", "--delay", "5", text}); }
    void Key(std::string const& key) { Output({"xdotool", "key", key}); }

    testutil::TempDir Dir;
    xtest::XServer Server;
    std::string Program;
    std::vector<std::pair<std::string, std::optional<std::string>>> Saved;
    std::vector<pid_t> Started;
};


} // namespace x11test
