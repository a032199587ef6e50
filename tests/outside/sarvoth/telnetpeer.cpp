#include "tests/outside/sarvoth/telnetpeer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace telnetpeer {

namespace {

using CLOCK = std::chrono::steady_clock;

int MsLeft(CLOCK::time_point end)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - CLOCK::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// A socket bound to the loopback address of its family (port 0: any).
int BoundSocket(bool v6, int port, int* bound)
{
    int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage ss = {};
    socklen_t len;
    if (v6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
        a->sin6_family = AF_INET6;
        a->sin6_addr = in6addr_loopback;
        a->sin6_port = htons(static_cast<uint16_t>(port));
        len = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&ss);
        a->sin_family = AF_INET;
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a->sin_port = htons(static_cast<uint16_t>(port));
        len = sizeof *a;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) {
        close(fd);
        return -1;
    }
    *bound = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    return fd;
}

bool Listening(char const* table, int port)
{
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        size_t const colon = local.rfind(':');
        if (state == "0A" && colon != std::string::npos && std::stoi(local.substr(colon + 1), nullptr, 16) == port)
            return true;
    }
    return false;
}

} // namespace

int FreePort(bool v6)
{
    int port = 0;
    int fd = BoundSocket(v6, 0, &port);
    if (fd >= 0)
        close(fd);
    return port;
}

bool WaitListening(int port, int ms)
{
    for (auto end = CLOCK::now() + std::chrono::milliseconds(ms); CLOCK::now() < end;) {
        if (Listening("/proc/net/tcp", port) || Listening("/proc/net/tcp6", port))
            return true;
        usleep(20000);
    }
    return false;
}

std::string Script(std::string const& name)
{
    return testutil::SourceDir() + "/outside/sarvoth/" + name;
}

// ---------------------------------------------------------------------------

RAWPEER::RAWPEER(bool v6)
{
    Listener = BoundSocket(v6, 0, &PortNo);
    if (Listener >= 0 && listen(Listener, 4) != 0) {
        close(Listener);
        Listener = -1;
    }
}

RAWPEER::~RAWPEER()
{
    Hangup();
    if (Listener >= 0)
        close(Listener);
}

bool RAWPEER::Accept(int ms)
{
    pollfd p = {Listener, POLLIN, 0};
    if (Listener < 0 || poll(&p, 1, ms) <= 0)
        return false;
    Hangup();
    Conn = accept4(Listener, nullptr, nullptr, SOCK_CLOEXEC);
    return Conn >= 0;
}

bool RAWPEER::Send(std::string const& bytes)
{
    size_t done = 0;
    while (Conn >= 0 && done < bytes.size()) {
        ssize_t n = send(Conn, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return Conn >= 0;
}

std::string RAWPEER::Take(size_t n, int ms)
{
    std::string out;
    auto const end = CLOCK::now() + std::chrono::milliseconds(ms);
    while (Conn >= 0 && out.size() < n) {
        pollfd p = {Conn, POLLIN, 0};
        if (poll(&p, 1, MsLeft(end)) <= 0)
            break;
        char buf[4096];
        ssize_t got = recv(Conn, buf, std::min(sizeof buf, n - out.size()), 0);
        if (got <= 0)
            break;
        out.append(buf, static_cast<size_t>(got));
    }
    return out;
}

std::string RAWPEER::Drain(int ms)
{
    return Take(1 << 30, ms);
}

void RAWPEER::Hangup()
{
    if (Conn >= 0)
        close(Conn);
    Conn = -1;
}

// ---------------------------------------------------------------------------

PROCESS::PROCESS(std::vector<std::string> const& args, std::string const& logFile)
{
    int pipeIn[2];
    if (pipe2(pipeIn, O_CLOEXEC) != 0)
        return;
    std::vector<char*> argv;
    for (std::string const& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Pid = fork();
    if (Pid == 0) {
        int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(pipeIn[0], 0);
        dup2(log, 1);
        dup2(log, 2);
        close_range(3, ~0U, 0);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeIn[0]);
    In = pipeIn[1];
    if (Pid < 0) {
        close(In);
        In = -1;
    }
}

PROCESS::~PROCESS()
{
    Stop();
}

bool PROCESS::Input(std::string const& text)
{
    return In >= 0 && write(In, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool PROCESS::WaitEnd(int ms)
{
    for (auto end = CLOCK::now() + std::chrono::milliseconds(ms); Pid > 0;) {
        if (waitpid(Pid, nullptr, WNOHANG) == Pid) {
            Pid = -1;
            break;
        }
        if (CLOCK::now() >= end)
            return false;
        usleep(10000);
    }
    return true;
}

void PROCESS::Stop()
{
    if (In >= 0)
        close(In);
    In = -1;
    if (Pid <= 0)
        return;
    kill(Pid, SIGTERM);
    if (!WaitEnd(2000)) {
        kill(Pid, SIGKILL);
        waitpid(Pid, nullptr, 0);
        Pid = -1;
    }
}

// ---------------------------------------------------------------------------

CERTS::CERTS()
{
    Ok = testutil::RunProgram({"python3", Script("makecerts.py"), Folder.path()}) == 0;
}

TLSSERVER::TLSSERVER(CERTS const& certs, std::string const& kind, int connections)
{
    LogFile = Folder.file("s_server.log");
    for (int attempt = 0; attempt < 3 && !Running(); ++attempt) {
        PortNo = FreePort();
        Server = std::make_unique<PROCESS>(
            std::vector<std::string>{"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(PortNo), "-cert",
                                     certs.Cert(kind), "-key", certs.Key(kind), "-naccept",
                                     std::to_string(connections), "-quiet"},
            LogFile);
        if (!WaitListening(PortNo, 10000))
            Server.reset();
    }
}

TELNETD::TELNETD()
{
    std::string const login = Folder.file("login.sh");
    // A line "size" asks for the size again; any other line goes through
    // cat -v.
    testutil::WriteFile(login, "#!/bin/sh\n"
                               "echo \"T=$TERM S=$(stty size)\"\n"
                               "while IFS= read -r line; do\n"
                               "  if [ \"$line\" = size ]; then echo \"S=$(stty size)\"\n"
                               "  else printf '%s\\n' \"$line\" | cat -v; fi\n"
                               "done\n");
    chmod(login.c_str(), 0700);
    for (int attempt = 0; attempt < 3 && !Running(); ++attempt) {
        PortNo = FreePort();
        Server = std::make_unique<PROCESS>(
            std::vector<std::string>{"socat", "TCP-LISTEN:" + std::to_string(PortNo) + ",bind=127.0.0.1,reuseaddr",
                                     "EXEC:/usr/sbin/telnetd -h -E " + login + ",nofork"},
            Folder.file("telnetd.log"));
        if (!WaitListening(PortNo, 10000))
            Server.reset();
    }
}

} // namespace telnetpeer
