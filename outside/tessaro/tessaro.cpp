// The SSH engine stand-in: runs /usr/bin/ssh by argument vector and relays
// its questions to the caller (see tessaro.h).
#include "outside/tessaro/tessaro.h"

#include "outside/tessaro/frames.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tessaro {

namespace {

// OpenSSH client options that take a value.
bool TakesValue(char c)
{
    return c && strchr("bceilmopBDEFIJLOPQRSwW", c) != nullptr;
}

} // namespace

std::string Destination(char** argv, std::string* user)
{
    if (user)
        user->clear();
    if (!argv || !argv[0])
        return std::string();
    bool optionsOver = false;
    for (int i = 1; argv[i]; ++i) {
        char const* a = argv[i];
        if (!optionsOver && strcmp(a, "--") == 0) {
            optionsOver = true;
            continue;
        }
        if (optionsOver || a[0] != '-' || a[1] == '\0')
            return a;
        // A group of flags; the first that takes a value takes the rest of
        // the word or the next argument.
        for (int k = 1; a[k]; ++k) {
            if (!TakesValue(a[k]))
                continue;
            char const* value = a[k + 1] ? a + k + 1 : argv[i + 1];
            if (!a[k + 1] && argv[i + 1])
                ++i;
            if (a[k] == 'l' && user)
                *user = value ? value : "";
            break;
        }
    }
    return std::string();
}

bool ArgumentsSafe(char** argv)
{
    std::string user;
    std::string dest = Destination(argv, &user);
    if (dest.empty() || dest[0] == '-' || (!user.empty() && user[0] == '-'))
        return false;
    // "ssh://user@host": the user part may not start with "-" either.
    if (dest.compare(0, 6, "ssh://") == 0 && dest.size() > 6 && dest[6] == '-')
        return false;
    return true;
}

} // namespace tessaro

namespace {

std::atomic<pid_t> gChild{-1};

void ForwardSignal(int sig)
{
    pid_t child = gChild.load();
    if (child > 0)
        kill(child, sig);
}

// The folder of the askpass program: beside this library, in ../bin.
std::string AskpassProgram()
{
    Dl_info info = {};
    if (dladdr(reinterpret_cast<void*>(&ssh5_main), &info) && info.dli_fname) {
        std::string lib = info.dli_fname;
        size_t slash = lib.rfind('/');
        std::string dir = slash == std::string::npos ? "." : lib.substr(0, slash);
        return dir + "/../bin/tessaro-askpass";
    }
    return "tessaro-askpass";
}

// The private folder and listening socket of one ssh run, and the thread
// that relays its questions to the caller's descriptor.
class RELAY {
public:
    explicit RELAY(int callerFd) : Caller(callerFd) {}
    ~RELAY() { Stop(); }

    bool Start()
    {
        char const* base = getenv("XDG_RUNTIME_DIR");
        struct stat st;
        std::string root = base && *base == '/' && stat(base, &st) == 0 && S_ISDIR(st.st_mode) ? base : "/tmp";
        std::string templ = root + "/tessaro-XXXXXX";
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data()))
            return false;
        Folder = buf.data();
        Path = Folder + "/ask";
        sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        if (Path.size() >= sizeof addr.sun_path)
            return false;
        memcpy(addr.sun_path, Path.c_str(), Path.size() + 1);
        Listen = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (Listen < 0 || bind(Listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(Listen, 4) != 0)
            return false;
        if (pipe2(Wake, O_CLOEXEC) != 0)
            return false;
        Worker = std::thread([this] { Run(); });
        return true;
    }

    void Stop()
    {
        if (Worker.joinable()) {
            char c = 'x';
            ssize_t rc = write(Wake[1], &c, 1);
            (void)rc;
            Worker.join();
        }
        for (int* fd : {&Listen, &Wake[0], &Wake[1]}) {
            if (*fd >= 0)
                close(*fd);
            *fd = -1;
        }
        if (!Path.empty())
            unlink(Path.c_str());
        if (!Folder.empty())
            rmdir(Folder.c_str());
        Path.clear();
        Folder.clear();
    }

    std::string const& SocketPath() const { return Path; }

private:
    void Run()
    {
        for (;;) {
            pollfd fds[2] = {{Listen, POLLIN, 0}, {Wake[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[1].revents)
                return;
            if (!(fds[0].revents & POLLIN))
                continue;
            int client = accept4(Listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            Serve(client);
            close(client);
        }
    }

    // One question: only from a process of this user, relayed whole.
    void Serve(int client)
    {
        ucred cred = {};
        socklen_t len = sizeof cred;
        std::string question, answer;
        if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != getuid())
            return;
        if (!tessaro::ReadFrame(client, question))
            return;
        bool answered = tessaro::WriteFrame(Caller, question) && tessaro::ReadFrame(Caller, answer);
        if (!answered)
            answer = "0";
        tessaro::WriteFrame(client, answer);
        std::fill(answer.begin(), answer.end(), '\0');
    }

    int Caller;
    int Listen = -1;
    int Wake[2] = {-1, -1};
    std::string Folder;
    std::string Path;
    std::thread Worker;
};

bool Dropped(char const* entry)
{
    for (char const* name : {"SSH_ASKPASS=", "SSH_ASKPASS_REQUIRE=", "TESSARO_ASKPASS_FD=", "TESSARO_ASKPASS_SOCKET="}) {
        if (strncmp(entry, name, strlen(name)) == 0)
            return true;
    }
    return false;
}

} // namespace

extern "C" int ssh5_main(char** argv)
{
    if (!argv || !argv[0])
        return 255;
    if (!tessaro::ArgumentsSafe(argv)) {
        fprintf(stderr, "tessaro: refused: no destination, or a destination or user that starts with '-'\n");
        return 255;
    }
    char const* ssh = getenv("TESSARO_SSH");
    std::string program = ssh && *ssh ? ssh : "/usr/bin/ssh";

    // The caller's end for questions, if it gave one.
    int callerFd = -1;
    if (char const* fdText = getenv("TESSARO_ASKPASS_FD")) {
        char* end = nullptr;
        long n = strtol(fdText, &end, 10);
        if (end && !*end && n > 2 && n < 1024 && fcntl(static_cast<int>(n), F_GETFD) >= 0) {
            callerFd = static_cast<int>(n);
            fcntl(callerFd, F_SETFD, FD_CLOEXEC);
        }
    }
    RELAY relay(callerFd);
    std::vector<std::string> extra;
    if (callerFd >= 0) {
        if (!relay.Start()) {
            fprintf(stderr, "tessaro: cannot make the question socket: %s\n", strerror(errno));
            return 255;
        }
        extra.push_back("SSH_ASKPASS=" + AskpassProgram());
        extra.push_back("SSH_ASKPASS_REQUIRE=force");
        extra.push_back("TESSARO_ASKPASS_SOCKET=" + relay.SocketPath());
    }

    // Everything the child needs is made before the fork.
    std::vector<char*> args;
    args.push_back(const_cast<char*>("ssh"));
    for (int i = 1; argv[i]; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; e && *e; ++e) {
        if (!Dropped(*e))
            envp.push_back(*e);
    }
    for (std::string& e : extra)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string failed = "tessaro: cannot run " + program + "\n";

    struct sigaction forward = {}, oldTerm = {}, oldHup = {};
    forward.sa_handler = ForwardSignal;
    sigemptyset(&forward.sa_mask);
    sigaction(SIGTERM, &forward, &oldTerm);
    sigaction(SIGHUP, &forward, &oldHup);

    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGTERM, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        execve(program.c_str(), args.data(), envp.data());
        ssize_t rc = write(2, failed.data(), failed.size());
        (void)rc;
        _exit(255);
    }
    int status = 0;
    int rc = 255;
    if (pid > 0) {
        gChild.store(pid);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        gChild.store(-1);
        rc = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 255;
    } else {
        fprintf(stderr, "tessaro: fork failed: %s\n", strerror(errno));
    }
    sigaction(SIGTERM, &oldTerm, nullptr);
    sigaction(SIGHUP, &oldHup, nullptr);
    relay.Stop();
    return rc;
}
