// A channel whose device is a pipe the test writes into: what the test
// pushes is what the device "receives"; closing the pipe is the peer going
// away. It counts its device reads and the waits they were given.
#pragma once

#include "velmot/channels/ios.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace chtest {

class FAKEIO : public BASEIO {
public:
    explicit FAKEIO(unsigned long flags) : BASEIO("fake", "", "", flags | BASEIO_DEVICE_DELAYED_START)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            In = fds[0];
            Out = fds[1];
        }
        ConstructorDone.Post();
    }
    ~FAKEIO() override
    {
        DropCall();
        KillDaemon(1);
        close(In);
        if (Out >= 0)
            close(Out);
    }

    void Push(std::string const& bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(Out, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else {
                pollfd p{Out, POLLOUT, 0};
                if (poll(&p, 1, 1000) <= 0)
                    return;
            }
        }
    }
    void Hangup()
    {
        std::lock_guard<std::mutex> guard(Lock);
        close(Out);
        Out = -1;
    }

    bool DevRead(char* buf, int* len, int timeoutMs) override
    {
        int const want = *len;
        *len = 0;
        {
            std::lock_guard<std::mutex> guard(Lock);
            Waits.push_back(timeoutMs);
            Asked.push_back(want);
        }
        if (!Connected)
            return false;
        if (WaitFd(In, POLLIN, timeoutMs) != 1)
            return false;
        ssize_t n = read(In, buf, static_cast<size_t>(want));
        if (n > 0) {
            *len = static_cast<int>(n);
            return true;
        }
        if (n == 0) {
            Connected = false;
            SetLastError(4099, "the test closed the pipe");
        }
        return false;
    }
    bool DevWrite(char const* data, int len) override
    {
        std::lock_guard<std::mutex> guard(Lock);
        Written.append(data, static_cast<size_t>(len));
        return true;
    }
    int DevGetNumAvail() override
    {
        int n = 0;
        return Connected && ioctl(In, FIONREAD, &n) == 0 ? n : 0;
    }
    bool DevIsConnected() override { return Connected; }
    bool IsUpAndRunning() override { return true; }
    bool MakeCall(char const*) override { return true; }
    bool AcceptCall() override { return true; }
    bool DropCall() override
    {
        Connected = false;
        Interrupt();
        return true;
    }

    std::vector<int> TakeWaits()
    {
        std::lock_guard<std::mutex> guard(Lock);
        std::vector<int> out;
        out.swap(Waits);
        Asked.clear();
        return out;
    }
    std::string WrittenBytes()
    {
        std::lock_guard<std::mutex> guard(Lock);
        return Written;
    }
    int RingSize() { return RingBuffer.GetNumAvail(); }

private:
    std::mutex Lock;
    int In = -1;
    int Out = -1;
    std::atomic<bool> Connected{true};
    std::vector<int> Waits;
    std::vector<int> Asked;
    std::string Written;
};

} // namespace chtest
