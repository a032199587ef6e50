// Peers and small helpers of the channel tests. Every peer is a program the
// test starts itself on the loopback addresses (socat), or a bare socket of
// the test; every wait has a time-out.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

class BASEIO;

namespace chtest {

long long NowMs();

// Polls pred every few milliseconds until it holds or timeoutMs passes.
bool WaitUntil(std::function<bool()> const& pred, int timeoutMs);

// CPU time the calling thread has used, in milliseconds.
double ThreadCpuMs();

// A socat process. The arguments go to socat after "-d -d"; the first
// address is a listening one with port 0, whose port is read from socat's
// "listening on" line. The process ends with the object.
class SOCAT {
public:
    explicit SOCAT(std::vector<std::string> const& args);
    ~SOCAT();
    SOCAT(SOCAT const&) = delete;
    SOCAT& operator=(SOCAT const&) = delete;

    int Port() const { return port_; }
    pid_t Pid() const { return pid_; }
    // Waits (bounded) for the process to end; true when it has.
    bool WaitExit(int timeoutMs);

private:
    pid_t pid_ = -1;
    int port_ = -1;
    int err_ = -1; // socat's standard error
};

// Starts a program by argument vector with the given descriptors as its
// standard input and output (-1: /dev/null) and error (-1: inherited);
// with ownGroup in a process group of its own. The pid, -1 on failure.
pid_t Spawn(std::vector<std::string> argv, int in, int out, int err, bool ownGroup);

// A listening TCP socket of the test (127.0.0.1 or ::1) on a free port.
int ListenTcp(bool ipv6, int backlog, int* port);
// A TCP port on 127.0.0.1 that nobody listens on (just now).
int FreeTcpPort();

// A listener on 127.0.0.1 whose queue is full: a connect to it is never
// answered (its SYN is dropped), and nothing leaves the machine.
class DEADLISTENER {
public:
    DEADLISTENER();
    ~DEADLISTENER();
    DEADLISTENER(DEADLISTENER const&) = delete;
    DEADLISTENER& operator=(DEADLISTENER const&) = delete;
    int Port() const { return port_; }

private:
    int port_ = 0;
    int listener_ = -1;
    std::vector<int> fillers_;
};
// A blocking connected TCP socket, -1 on failure.
int ConnectTcp(bool ipv6, int port);
// Reads from fd until a whole line holding marker ("" for any line) came,
// the writer closed or timeoutMs passed; returns that line (or "").
std::string ReadUntilLine(int fd, char const* marker, int timeoutMs);
// Reads until n bytes came, the peer closed or timeoutMs passed.
std::string ReadSome(int fd, size_t n, int timeoutMs);
bool WriteAll(int fd, std::string const& data);
// Reads n bytes from a channel, as long as it stays connected, up to
// timeoutMs.
std::string ReadExactly(BASEIO& io, size_t n, int timeoutMs);

// Bytes of a repeatable pattern.
std::string Pattern(size_t n, unsigned seed = 1);

} // namespace chtest
