// Peers and small helpers of the channel tests.
#include "tests/velmot/channels/channeltest.h"

#include "velmot/channels/ios.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace chtest {

long long NowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool WaitUntil(std::function<bool()> const& pred, int timeoutMs)
{
    long long const end = NowMs() + timeoutMs;
    while (!pred()) {
        if (NowMs() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

double ThreadCpuMs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

pid_t Spawn(std::vector<std::string> argv, int in, int out, int err, bool ownGroup)
{
    std::vector<char*> raw;
    for (std::string& a : argv)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0)
        posix_spawn_file_actions_adddup2(&actions, in, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (out >= 0)
        posix_spawn_file_actions_adddup2(&actions, out, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (err >= 0)
        posix_spawn_file_actions_adddup2(&actions, err, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (ownGroup) {
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
    }
    pid_t pid = -1;
    if (posix_spawn(&pid, raw[0], &actions, &attr, raw.data(), environ) != 0)
        pid = -1;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

SOCAT::SOCAT(std::vector<std::string> const& args)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2");
    std::vector<std::string> argv = {"/usr/bin/socat", "-d", "-d"};
    argv.insert(argv.end(), args.begin(), args.end());
    // A group of its own: the programs socat starts end with it.
    pid_ = Spawn(argv, -1, -1, pipeFds[1], true);
    close(pipeFds[1]);
    err_ = pipeFds[0];
    if (pid_ < 0)
        throw std::runtime_error("socat can't start");
    // "... N listening on AF=2 127.0.0.1:39217"
    std::string const line = ReadUntilLine(err_, "listening on", 10000);
    if (!line.empty())
        port_ = atoi(line.c_str() + line.rfind(':') + 1);
    if (port_ <= 0)
        throw std::runtime_error("socat did not listen");
    fcntl(err_, F_SETFL, O_NONBLOCK);
}

SOCAT::~SOCAT()
{
    if (pid_ > 0) {
        kill(-pid_, SIGTERM);
        if (!WaitExit(3000)) {
            kill(-pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    if (err_ >= 0)
        close(err_);
}

bool SOCAT::WaitExit(int timeoutMs)
{
    if (pid_ <= 0)
        return true;
    long long const end = NowMs() + timeoutMs;
    do {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return true;
        }
        // Keep socat's error stream flowing.
        char buf[512];
        while (read(err_, buf, sizeof buf) > 0) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (NowMs() < end);
    return false;
}

namespace {

socklen_t Loopback(bool ipv6, int port, sockaddr_storage* ss)
{
    *ss = sockaddr_storage{};
    if (ipv6) {
        auto* sa = reinterpret_cast<sockaddr_in6*>(ss);
        sa->sin6_family = AF_INET6;
        sa->sin6_addr = in6addr_loopback;
        sa->sin6_port = htons(static_cast<uint16_t>(port));
        return sizeof *sa;
    }
    auto* sa = reinterpret_cast<sockaddr_in*>(ss);
    sa->sin_family = AF_INET;
    sa->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa->sin_port = htons(static_cast<uint16_t>(port));
    return sizeof *sa;
}

} // namespace

int ListenTcp(bool ipv6, int backlog, int* port)
{
    int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage ss;
    socklen_t len = Loopback(ipv6, 0, &ss);
    if (bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0 || listen(fd, backlog) != 0) {
        close(fd);
        return -1;
    }
    getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len);
    *port = ipv6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port)
                 : ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    return fd;
}

int FreeTcpPort()
{
    int port = 0;
    close(ListenTcp(false, 1, &port));
    return port;
}

int ConnectTcp(bool ipv6, int port)
{
    int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage ss;
    socklen_t const len = Loopback(ipv6, port, &ss);
    if (connect(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

DEADLISTENER::DEADLISTENER()
{
    listener_ = ListenTcp(false, 0, &port_);
    for (int i = 0; i < 3; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_storage ss;
        socklen_t const len = Loopback(false, port_, &ss);
        connect(fd, reinterpret_cast<sockaddr*>(&ss), len);
        fillers_.push_back(fd);
    }
}

DEADLISTENER::~DEADLISTENER()
{
    for (int fd : fillers_)
        close(fd);
    close(listener_);
}

std::string ReadUntilLine(int fd, char const* marker, int timeoutMs)
{
    std::string text;
    long long const end = NowMs() + timeoutMs;
    while (NowMs() < end) {
        for (size_t start = 0, eol; (eol = text.find('\n', start)) != std::string::npos; start = eol + 1) {
            std::string line = text.substr(start, eol - start);
            if (line.find(marker) != std::string::npos)
                return line;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buf[512];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        text.append(buf, static_cast<size_t>(n));
    }
    return std::string();
}

std::string ReadSome(int fd, size_t n, int timeoutMs)
{
    std::string out;
    long long const end = NowMs() + timeoutMs;
    while (out.size() < n) {
        long long const left = end - NowMs();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        char buf[65536];
        ssize_t got = recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
        if (got <= 0)
            break;
        out.append(buf, static_cast<size_t>(got));
    }
    return out;
}

bool WriteAll(int fd, std::string const& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string Pattern(size_t n, unsigned seed)
{
    std::string out(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1664525u + 1013904223u;
        out[i] = static_cast<char>(x >> 24);
    }
    return out;
}

} // namespace chtest

namespace chtest {

std::string ReadExactly(BASEIO& io, size_t n, int timeoutMs)
{
    std::string out(n, '\0');
    size_t got = 0;
    long long const end = NowMs() + timeoutMs;
    while (got < n && NowMs() < end) {
        int len = static_cast<int>(n - got);
        if (!io.Read(out.data() + got, &len, 1000, nullptr) && !io.IsConnected())
            break;
        got += static_cast<size_t>(len);
    }
    out.resize(got);
    return out;
}

} // namespace chtest
