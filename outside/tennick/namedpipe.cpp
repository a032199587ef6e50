#include "outside/tennick/namedpipe.h"

#include "outside/devicegate/devicetext.h"

#include "velmot/core/logit.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using CLOCK = std::chrono::steady_clock;

constexpr char kGreeting[] = "CONNECT\n";
constexpr size_t kGreetingSize = sizeof kGreeting - 1;

int MsLeft(CLOCK::time_point end)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - CLOCK::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// One end of the pair, when it is a FIFO of this user that nobody else may
// write: checked before it is opened (so nothing else is ever opened) and
// again on the open descriptor (so nothing swapped in between is used).
// -1 with a reason, or -2 when the FIFO has no reader yet (only for the
// end written).
int OpenEnd(std::string const& path, int mode, std::string* reason)
{
    auto suitable = [&](struct stat const& st) {
        if (!S_ISFIFO(st.st_mode)) {
            *reason = path + " is no FIFO";
            return false;
        }
        if (st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH))) {
            *reason = path + " is not the user's alone";
            return false;
        }
        return true;
    };
    struct stat before;
    if (lstat(path.c_str(), &before) != 0) {
        *reason = path + ": " + strerror(errno);
        return -1;
    }
    if (!suitable(before))
        return -1;
    int fd = open(path.c_str(), mode | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENXIO)
            return -2;
        *reason = path + ": " + strerror(errno);
        return -1;
    }
    struct stat after;
    if (fstat(fd, &after) != 0 || after.st_dev != before.st_dev || after.st_ino != before.st_ino ||
        !suitable(after)) {
        if (reason->empty())
            *reason = path + " changed while it was opened";
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

// One connection attempt: its worker and what stops it.
struct NAMEDPIPE::ATTEMPT {
    std::string Path;
    int StopFd = -1;
    std::thread Worker;
    ~ATTEMPT()
    {
        if (StopFd >= 0)
            close(StopFd);
    }
    // Waits up to ms for fd (-1: none) to be ready; false when stopped.
    bool Pause(int fd, short events, int ms, short* revents)
    {
        pollfd fds[2] = {{StopFd, POLLIN, 0}, {fd, events, 0}};
        int rc = poll(fds, fd >= 0 ? 2 : 1, ms);
        if (revents)
            *revents = rc > 0 && fd >= 0 ? fds[1].revents : 0;
        return !(fds[0].revents & POLLIN);
    }
};

NAMEDPIPE::NAMEDPIPE(SUBSYSINITDATA const& init, int id) : TENNICKDEVICE(init, id, "Named Pipe") {}

NAMEDPIPE::~NAMEDPIPE()
{
    Close();
}

signed char NAMEDPIPE::Open(char const* parm)
{
    Close();
    if (parm && *parm)
        Parm = parm;
    return Gate.Open() ? 0 : 1;
}

void NAMEDPIPE::Close()
{
    EndConnection();
    Gate.Detach();
}

void NAMEDPIPE::EndConnection()
{
    if (Attempt) {
        uint64_t one = 1;
        ssize_t rc = write(Attempt->StopFd, &one, sizeof one);
        (void)rc;
        // The worker waits only on the stop descriptor and short time-outs.
        if (Attempt->Worker.joinable())
            Attempt->Worker.join();
        Attempt.reset();
    }
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (WriteFd >= 0)
            close(WriteFd);
        WriteFd = -1;
    }
    if (State.load() != 0)
        State.store(3);
    Gate.DropFd();
}

void NAMEDPIPE::Run(ATTEMPT& a)
{
    auto const end = CLOCK::now() + std::chrono::milliseconds(kGreetingMs);
    std::string reason;
    int in = -1;
    int out = OpenEnd(a.Path + ".out", O_RDONLY, &reason);
    // The end written opens once the peer reads its end.
    while (out >= 0 && in < 0) {
        in = OpenEnd(a.Path + ".in", O_WRONLY, &reason);
        if (in != -2)
            break;
        if (MsLeft(end) == 0) {
            reason = "nobody reads " + a.Path + ".in";
            break;
        }
        if (!a.Pause(-1, 0, 20, nullptr))
            break;
    }
    bool ok = out >= 0 && in >= 0;
    if (ok && !Gate.WriteAll(in, kGreeting, static_cast<long>(kGreetingSize), MsLeft(end))) {
        ok = false;
        reason = "the greeting could not be written";
    }
    // Only the greeting is read here: what follows it is the peer's data.
    size_t got = 0;
    while (ok && got < kGreetingSize) {
        short revents = 0;
        if (!a.Pause(out, POLLIN, MsLeft(end), &revents)) {
            ok = false;
            break;
        }
        if (!revents) {
            ok = false;
            reason = "no greeting within " + std::to_string(kGreetingMs / 1000) + " seconds";
            break;
        }
        char buf[kGreetingSize];
        ssize_t n = read(out, buf, kGreetingSize - got);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0) {
            ok = false;
            reason = "the peer closed before it greeted";
        } else if (memcmp(buf, kGreeting + got, static_cast<size_t>(n)) != 0) {
            ok = false;
            reason = "the peer's greeting was not CONNECT";
        } else {
            got += static_cast<size_t>(n);
        }
    }
    if (!ok) {
        if (out >= 0)
            close(out);
        if (in >= 0)
            close(in);
        State.store(3);
        if (!reason.empty()) {
            LOGIT("NAMEDPIPE::Connect %s failed: %s\n", a.Path.c_str(), reason.c_str());
            Gate.Announce("[PIPE] FAIL: " + PrintableText(reason) + "\r\n");
        }
        return;
    }
    {
        std::lock_guard<std::mutex> guard(Lock);
        WriteFd = in;
    }
    LOGIT("NAMEDPIPE::Connect %s connected\n", a.Path.c_str());
    Gate.Announce("[PIPE] CONNECT " + PrintableText(a.Path) + "\r\n");
    Gate.Adopt(out);
    State.store(2);
}

signed char NAMEDPIPE::Connect(char const* target)
{
    EndConnection();
    // The dialler may add a TAB and the entry's name.
    std::string path = target ? std::string(target, strnlen(target, 4096)) : std::string();
    path = path.substr(0, path.find('\t'));
    while (!path.empty() && path.back() == ' ')
        path.pop_back();
    Path = path;
    if (path.empty() || path.size() > 4000) {
        Gate.Announce("[PIPE] FAIL: no path given\r\n");
        return 0;
    }
    auto attempt = std::make_unique<ATTEMPT>();
    attempt->Path = path;
    attempt->StopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (attempt->StopFd < 0) {
        Gate.Announce("[PIPE] FAIL: no descriptor left\r\n");
        return 0;
    }
    State.store(1);
    ATTEMPT* raw = attempt.get();
    attempt->Worker = std::thread([this, raw] { Run(*raw); });
    Attempt = std::move(attempt);
    return 1;
}

signed char NAMEDPIPE::Disconnect()
{
    EndConnection();
    return 1;
}

signed char NAMEDPIPE::AbortConnect()
{
    EndConnection();
    return 1;
}

int NAMEDPIPE::QueryOnline()
{
    return State.load() == 2 && !Gate.AtEnd() ? 1 : 0;
}

void NAMEDPIPE::StatusText(char* buf)
{
    if (!buf)
        return;
    static char const* const states[] = {"closed", "connecting", "connected", "ended"};
    int const state = State.load() == 2 && Gate.AtEnd() ? 3 : State.load();
    snprintf(buf, 4096, "NAMED PIPE: %s\r\nPATH: %s\r\nSTATE: %s\r\n", Parm.c_str(),
             PrintableText(Path, 3000).c_str(), states[state]);
}

int NAMEDPIPE::Write(char const* data, long len)
{
    if (!data || len <= 0)
        return 0;
    std::lock_guard<std::mutex> guard(Lock);
    if (WriteFd < 0)
        return 0;
    return Gate.WriteAll(WriteFd, data, len, 5000) ? 1 : 0;
}

signed char NAMEDPIPE::Read(char* buf, unsigned long* len)
{
    return static_cast<signed char>(Gate.Read(buf, len));
}

int NAMEDPIPE::HandleDeviceCommand(char const* cmd, char* result, int max, void*)
{
    if (cmd && strncmp(cmd, "CALLINFO", 8) == 0) {
        CopyCut(result, max, "OK");
        return 1;
    }
    return 0;
}
