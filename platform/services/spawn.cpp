#include "platform/services/spawn.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace plat {
namespace {

struct Orphans {
    std::mutex lock;
    std::vector<pid_t> pids;
};

Orphans& TheOrphans()
{
    static Orphans* o = new Orphans; // never destroyed: used until exit
    return *o;
}

// Waits for the children handed to ReapLater that have ended by now.
void ReapFinished()
{
    Orphans& o = TheOrphans();
    std::lock_guard<std::mutex> guard(o.lock);
    std::erase_if(o.pids, [](pid_t pid) {
        int status;
        pid_t r = waitpid(pid, &status, WNOHANG);
        return r == pid || (r < 0 && errno == ECHILD);
    });
}

std::string Absolute(std::string const& program)
{
    if (program.empty() || program[0] == '/')
        return program;
    char buf[PATH_MAX];
    if (!getcwd(buf, sizeof buf))
        return program;
    return std::string(buf) + "/" + program;
}

} // namespace

pid_t SpawnProgram(std::vector<std::string> const& argv, std::string const& folder,
                   bool searchPath, int* error)
{
    ReapFinished();
    auto fail = [&](int code) -> pid_t {
        if (error)
            *error = code;
        return -1;
    };
    if (argv.empty() || argv[0].empty())
        return fail(ENOENT);
    bool usePath = searchPath && argv[0].find('/') == std::string::npos;
    // The working folder is entered before the program is looked up, so a
    // relative program path is made absolute against ours first.
    std::string program = usePath ? argv[0] : Absolute(argv[0]);
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (std::string const& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return fail(ENOMEM);
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return fail(ENOMEM);
    }
    int rc = 0;
    if (!folder.empty())
        rc = posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    // Descriptors of ours above 2 (sockets, log files, the preferences
    // lock) must not live on in the program, however high their number.
    if (rc == 0)
        rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    if (rc == 0)
        rc = posix_spawnattr_setsigmask(&attr, &none);
    if (rc == 0)
        rc = posix_spawnattr_setsigdefault(&attr, &all);
    if (rc == 0)
        rc = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    if (rc == 0) {
        // glibc's posix_spawn reports a failed chdir or exec as its result,
        // so a program that cannot run never counts as started.
        rc = usePath ? posix_spawnp(&pid, program.c_str(), &actions, &attr, args.data(), environ)
                     : posix_spawn(&pid, program.c_str(), &actions, &attr, args.data(), environ);
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return fail(rc);
    if (error)
        *error = 0;
    return pid;
}

ChildStatus WaitChild(pid_t pid, bool block)
{
    ChildStatus result;
    if (pid <= 0)
        return result;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, block ? 0 : WNOHANG);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return result; // Gone
        if (r == 0) {
            result.state = ChildStatus::Running;
            return result;
        }
        if (WIFEXITED(status)) {
            result.state = ChildStatus::Exited;
            result.code = WEXITSTATUS(status);
            return result;
        }
        if (WIFSIGNALED(status)) {
            result.state = ChildStatus::Signalled;
            result.code = WTERMSIG(status);
            return result;
        }
        // Stopped or continued: not an end, wait on.
        if (!block) {
            result.state = ChildStatus::Running;
            return result;
        }
    }
}

ChildStatus WaitChildFor(pid_t pid, int timeoutMs)
{
    for (int waited = 0;; waited += 10) {
        ChildStatus s = WaitChild(pid, false);
        if (s.state != ChildStatus::Running || waited >= timeoutMs)
            return s;
        struct timespec ts {0, 10 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
}

std::string FindProgram(std::string const& name)
{
    if (name.empty())
        return std::string();
    auto runnable = [](std::string const& path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
               access(path.c_str(), X_OK) == 0;
    };
    if (name.find('/') != std::string::npos)
        return runnable(name) ? name : std::string();
    char const* env = std::getenv("PATH");
    std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        std::string dir = path.substr(start, end - start);
        start = end + 1;
        if (dir.empty() || dir[0] != '/')
            continue; // relative entries would depend on our working folder
        std::string candidate = dir + "/" + name;
        if (runnable(candidate))
            return candidate;
    }
    return std::string();
}

bool OpenDocument(std::string const& target, std::string const& folder, std::string const& opener,
                  int timeoutMs)
{
    std::string program = FindProgram(opener.empty() ? std::string("xdg-open") : opener);
    if (program.empty() || target.empty())
        return false;
    pid_t pid = SpawnProgram({program, target}, folder);
    if (pid < 0)
        return false;
    ChildStatus s = WaitChildFor(pid, timeoutMs);
    if (s.state == ChildStatus::Running) {
        ReapLater(pid);
        return true;
    }
    return s.state == ChildStatus::Exited && s.code == 0;
}

void ReapLater(pid_t pid)
{
    if (pid <= 0)
        return;
    Orphans& o = TheOrphans();
    std::lock_guard<std::mutex> guard(o.lock);
    o.pids.push_back(pid);
}

} // namespace plat
