#include "outside/devicegate/devicegate.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Announced text kept for a reader that does not come, at most.
constexpr size_t kAnnouncedMax = 64 * 1024;

// SIGPIPE held back on this thread while it lives: a write to a pipe whose
// reader has gone fails with EPIPE, and the signal it raised is taken back.
class NOPIPESIGNAL {
public:
    NOPIPESIGNAL()
    {
        sigemptyset(&Set);
        sigaddset(&Set, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        WasPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &Set, &Old);
    }
    ~NOPIPESIGNAL()
    {
        if (Raised && !WasPending) {
            timespec zero = {0, 0};
            while (sigtimedwait(&Set, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &Old, nullptr);
    }
    bool Raised = false;

private:
    sigset_t Set;
    sigset_t Old;
    bool WasPending = false;
};

} // namespace

DEVICEGATE::DEVICEGATE() = default;

DEVICEGATE::~DEVICEGATE()
{
    Detach();
}

bool DEVICEGATE::Attach(int fd)
{
    Detach();
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    std::lock_guard<std::mutex> guard(Lock);
    Wake[0] = wake[0];
    Wake[1] = wake[1];
    Fd_ = fd;
    Closing = false;
    Eof = false;
    Announced.clear();
    return true;
}

void DEVICEGATE::Adopt(int fd)
{
    std::lock_guard<std::mutex> guard(Lock);
    int const old = Fd_.exchange(fd);
    if (old >= 0)
        Pending.push_back(old);
    if (Inside == 0)
        ClosePending();
    Eof = false;
    Poke();
}

void DEVICEGATE::DropFd()
{
    std::lock_guard<std::mutex> guard(Lock);
    int const old = Fd_.exchange(-1);
    if (old >= 0)
        Pending.push_back(old);
    if (Inside == 0)
        ClosePending();
    Poke();
}

void DEVICEGATE::Detach()
{
    std::unique_lock<std::mutex> guard(Lock);
    if (Fd_ < 0 && Wake[0] < 0)
        return;
    Closing = true;
    Announced.clear();
    Poke();
    // A reader released by the wake pipe leaves at once; a reader that
    // ignores it (on purpose) is waited for only so long.
    Idle.wait_for(guard, std::chrono::milliseconds(500), [this] { return Inside == 0; });
    // A reader still inside keeps the descriptors until it leaves.
    for (int fd : {Fd_.exchange(-1), Wake[0], Wake[1]}) {
        if (fd >= 0)
            Pending.push_back(fd);
    }
    Wake[0] = Wake[1] = -1;
    if (Inside == 0)
        ClosePending();
}

bool DEVICEGATE::IsOpen()
{
    std::lock_guard<std::mutex> guard(Lock);
    return Wake[0] >= 0 && !Closing;
}

void DEVICEGATE::Poke()
{
    if (Wake[1] < 0)
        return;
    // A full pipe already wakes the reader.
    char c = 'x';
    ssize_t rc = write(Wake[1], &c, 1);
    (void)rc;
}

void DEVICEGATE::Drain(int wake)
{
    char buf[64];
    while (read(wake, buf, sizeof buf) > 0) {
    }
}

void DEVICEGATE::ClosePending()
{
    for (int fd : Pending)
        close(fd);
    Pending.clear();
}

void DEVICEGATE::Announce(std::string const& text)
{
    std::lock_guard<std::mutex> guard(Lock);
    if (Closing || Wake[0] < 0)
        return;
    Announced.append(text, 0, kAnnouncedMax - std::min(kAnnouncedMax, Announced.size()));
    Poke();
}

size_t DEVICEGATE::TakeAnnounced(char* buf, size_t max)
{
    std::lock_guard<std::mutex> guard(Lock);
    size_t const n = std::min(max, Announced.size());
    memcpy(buf, Announced.data(), n);
    Announced.erase(0, n);
    return n;
}

void DEVICEGATE::Nudge()
{
    std::lock_guard<std::mutex> guard(Lock);
    Poke();
}

int DEVICEGATE::NumAvail()
{
    std::lock_guard<std::mutex> guard(Lock);
    if (!Announced.empty())
        return static_cast<int>(std::min<size_t>(Announced.size(), 1 << 20));
    if (Fd_ < 0 || Eof)
        return 0;
    int n = 0;
    if (ioctl(Fd_, FIONREAD, &n) != 0)
        return 0;
    return n;
}

int DEVICEGATE::Read(char* buf, unsigned long* len, bool ignoreWake)
{
    unsigned long const want = *len;
    *len = 0;
    for (;;) {
        int fd, wake;
        {
            std::lock_guard<std::mutex> guard(Lock);
            if (Closing || Wake[0] < 0)
                return 2;
            if (!Announced.empty()) {
                size_t const n = std::min<size_t>(want, Announced.size());
                memcpy(buf, Announced.data(), n);
                Announced.erase(0, n);
                *len = n;
                return 0;
            }
            if (Eof)
                return 1;
            fd = Fd_;
            wake = Wake[0];
            ++Inside;
        }
        int rc = -1; // -1: look again
        bool woke = false;
        if (fd >= 0) {
            ssize_t n = read(fd, buf, want);
            if (n > 0) {
                *len = static_cast<unsigned long>(n);
                rc = 0;
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                // The end of the stream (a pty master reports EIO once the
                // other side is gone).
                rc = 1;
            }
        }
        if (rc < 0) {
            // Without a descriptor the wake pipe is all there is to watch.
            bool const watchWake = !ignoreWake || fd < 0;
            pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
            pollfd* first = fd >= 0 ? fds : fds + 1;
            nfds_t const count = (fd >= 0 ? 1 : 0) + (watchWake ? 1 : 0);
            if (poll(first, count, -1) < 0 && errno != EINTR)
                rc = 1;
            else if (fd >= 0 && (fds[0].revents & (POLLERR | POLLNVAL)))
                rc = 1;
            woke = watchWake && (fds[1].revents & POLLIN);
        }
        {
            std::lock_guard<std::mutex> guard(Lock);
            if (rc == 1)
                Eof = true;
            if (woke && !Closing)
                Drain(wake);
            if (--Inside == 0)
                ClosePending();
        }
        Idle.notify_all();
        if (rc >= 0)
            return rc;
    }
}

int DEVICEGATE::Wait(int fd)
{
    int wake;
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (Closing || Wake[0] < 0)
            return 2;
        if (!Announced.empty())
            return 0;
        wake = Wake[0];
        ++Inside;
    }
    pollfd fds[2] = {{wake, POLLIN, 0}, {fd, POLLIN, 0}};
    int const rc = poll(fds, fd >= 0 ? 2 : 1, -1);
    (void)rc;
    int result = 0;
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (Closing)
            result = 2;
        else if (fds[0].revents & POLLIN)
            Drain(wake);
        if (--Inside == 0)
            ClosePending();
    }
    Idle.notify_all();
    return result;
}

bool DEVICEGATE::Write(char const* data, long len, int timeout_ms)
{
    int fd, wake;
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (Fd_.load() < 0 || Closing || Eof.load())
            return false;
        fd = Fd_.load();
        wake = Wake[0];
        ++Inside;
    }
    bool const ok = WriteAll(fd, data, len, timeout_ms, wake);
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (--Inside == 0)
            ClosePending();
    }
    Idle.notify_all();
    return ok;
}

bool DEVICEGATE::WriteAll(int fd, char const* data, long len, int timeout_ms, int wake)
{
    NOPIPESIGNAL quiet;
    long done = 0;
    auto const end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (done < len) {
        ssize_t n = write(fd, data + done, static_cast<size_t>(len - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (!(n < 0 && errno == EAGAIN)) {
            quiet.Raised = n < 0 && errno == EPIPE;
            return false; // EIO, EPIPE: the far side is gone
        }
        auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p[2] = {{fd, POLLOUT, 0}, {wake, POLLIN, 0}};
        int const r = poll(p, wake >= 0 ? 2 : 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        // A hang-up would make every write fail with EAGAIN again: the loop
        // ends instead of spinning.
        if (r <= 0 || (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) || (wake >= 0 && p[1].revents))
            return false;
    }
    return true;
}
