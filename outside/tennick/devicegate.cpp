#include "outside/tennick/devicegate.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

DEVICEGATE::DEVICEGATE() = default;

DEVICEGATE::~DEVICEGATE()
{
    Detach();
}

bool DEVICEGATE::Attach(int fd)
{
    Detach();
    if (pipe2(Wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        Wake[0] = Wake[1] = -1;
        return false;
    }
    std::lock_guard<std::mutex> guard(Lock);
    Fd_ = fd;
    Closing = false;
    Eof = false;
    return true;
}

void DEVICEGATE::Detach()
{
    std::unique_lock<std::mutex> guard(Lock);
    if (Fd_ < 0 && Wake[0] < 0)
        return;
    Closing = true;
    if (Wake[1] >= 0) {
        char c = 'x';
        ssize_t rc = write(Wake[1], &c, 1);
        (void)rc;
    }
    // A reader released by the wake pipe leaves at once; a reader that
    // ignores it (on purpose) is waited for only so long.
    Idle.wait_for(guard, std::chrono::milliseconds(500), [this] { return Inside == 0; });
    if (Inside == 0)
        ClosePending();
    Pending[0] = Fd_;
    Pending[1] = Wake[0];
    Pending[2] = Wake[1];
    // A reader still inside keeps them until it leaves.
    if (Inside == 0)
        ClosePending();
    Fd_ = -1;
    Wake[0] = Wake[1] = -1;
}

void DEVICEGATE::ClosePending()
{
    for (int& fd : Pending) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
}

int DEVICEGATE::NumAvail()
{
    std::lock_guard<std::mutex> guard(Lock);
    if (Fd_ < 0 || Eof)
        return 0;
    int n = 0;
    if (ioctl(Fd_, FIONREAD, &n) != 0)
        return 0;
    return n;
}

int DEVICEGATE::Read(char* buf, unsigned long* len, bool ignoreWake)
{
    int fd, wake;
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (Fd_ < 0 || Closing) {
            *len = 0;
            return 2;
        }
        if (Eof) {
            *len = 0;
            return 1;
        }
        fd = Fd_;
        wake = Wake[0];
        ++Inside;
    }
    int rc = 0;
    unsigned long want = *len;
    *len = 0;
    for (;;) {
        ssize_t n = read(fd, buf, want);
        if (n > 0) {
            *len = static_cast<unsigned long>(n);
            break;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            // The end of the stream (a pty master reports EIO once the
            // other side is gone).
            rc = 1;
            break;
        }
        if (errno == EINTR)
            continue;
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        int nfds = ignoreWake ? 1 : 2;
        if (poll(fds, nfds, -1) < 0 && errno != EINTR) {
            rc = 1;
            break;
        }
        if (!ignoreWake && (fds[1].revents & POLLIN)) {
            rc = 2;
            break;
        }
        if (fds[0].revents & (POLLERR | POLLNVAL)) {
            rc = 1;
            break;
        }
    }
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (rc == 1)
            Eof = true;
        if (--Inside == 0)
            ClosePending();
    }
    Idle.notify_all();
    return rc;
}

bool DEVICEGATE::Write(char const* data, long len, int timeout_ms)
{
    int fd, wake;
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (Fd_ < 0 || Closing || Eof)
            return false;
        fd = Fd_;
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
        if (!(n < 0 && errno == EAGAIN))
            return false; // EIO: the far side is gone
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
