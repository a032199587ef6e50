// A private X server for tests and the programs they start against it:
// Xvfb on a display number nobody uses, with its own authorisation cookie
// in a private file, and child processes (the server, xdotool, probes)
// that are stopped and reaped whatever the test's outcome and die with the
// test process.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace xtest {

using Clock = std::chrono::steady_clock;

bool Exists(const std::string& path);
// The path of a program in the system folders; empty when it is missing.
std::string FindTool(const char* name);
// The environment of this process with some variables replaced.
std::vector<std::string> EnvWith(const std::vector<std::pair<std::string, std::string>>& set);

// A child process started with an argument vector; stopped (TERM, then
// KILL) and reaped by the destructor.
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { Stop(); }

    // Forks and execs with an argument vector. The child gets SIGKILL when
    // this process dies in any way (even killed by a harness time-out), so
    // no X server outlives the test. Only async-signal-safe calls run
    // between fork and exec; everything they need is prepared before.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env, bool captureOut)
    {
        int pipefd[2] = {-1, -1};
        if (captureOut && pipe2(pipefd, O_CLOEXEC) != 0)
            return false;
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::vector<char*> envp;
        for (const auto& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(127); // the parent is already gone
            int null = open("/dev/null", O_WRONLY);
            dup2(captureOut ? pipefd[1] : null, 1);
            dup2(null, 2);
            execve(args[0], args.data(), envp.data());
            _exit(127);
        }
        if (captureOut) {
            close(pipefd[1]);
            out_ = pipefd[0];
        }
        if (pid_ < 0) {
            pid_ = -1;
            return false;
        }
        return true;
    }

    bool Running()
    {
        if (pid_ <= 0)
            return false;
        int status;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            exitStatus_ = status;
            return false;
        }
        return true;
    }

    // The process id while it runs (-1 when none).
    pid_t Pid() const { return pid_; }
    // The wait status of a child that ended (after Running or WaitExit
    // said so).
    int ExitStatus() const { return exitStatus_; }

    // Waits up to `ms` for the child to end on its own.
    bool WaitExit(int ms)
    {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Running()) {
            if (Clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    void Stop()
    {
        if (Running()) {
            kill(pid_, SIGTERM);
            if (!WaitExit(2000)) {
                kill(pid_, SIGKILL);
                int status;
                waitpid(pid_, &status, 0);
                pid_ = -1;
            }
        }
        if (out_ >= 0) {
            close(out_);
            out_ = -1;
        }
    }

    // Reads output until a line satisfies `done` or `ms` pass; returns all
    // lines read so far.
    template <class Done>
    std::vector<std::string> ReadLines(int ms, Done done)
    {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (out_ >= 0) {
            size_t nl;
            while ((nl = pending_.find('\n')) != std::string::npos) {
                lines_.push_back(pending_.substr(0, nl));
                pending_.erase(0, nl + 1);
                if (done(lines_.back()))
                    return lines_;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0)
                break;
            pollfd p{out_, POLLIN, 0};
            int r = poll(&p, 1, static_cast<int>(left));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            char buf[4096];
            ssize_t n = read(out_, buf, sizeof buf);
            if (n <= 0)
                break;
            pending_.append(buf, static_cast<size_t>(n));
        }
        return lines_;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int exitStatus_ = 0;
    std::string pending_;
    std::vector<std::string> lines_;
};


// Xvfb on a free display, reachable only with the cookie in a private
// file in `folder`.
class XServer {
public:
    // Picks a display number nobody uses and waits until the server takes
    // connections; false when no server could be started. `screen` is
    // Xvfb's width x height x depth.
    bool Start(const std::string& xvfb, const std::string& xauth, const std::string& folder,
               const std::string& screen = "1024x768x24");
    const std::string& Display() const { return display_; }
    const std::string& AuthFile() const { return authFile_; }
    // This process's environment for a program on the server, with the Qt
    // platform plug-in to use.
    std::vector<std::string> Env(const char* platform) const;

private:
    Child server_;
    std::string display_, authFile_;
};

} // namespace xtest
