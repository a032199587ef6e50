// The read side every device of this bundle shares: a descriptor read by the
// host's reader thread, with a wake pipe so that Close releases a blocked
// Read at once, and a count of readers inside so that the descriptors are
// closed only after the reader has left.
#pragma once

#include <condition_variable>
#include <mutex>

class DEVICEGATE {
public:
    DEVICEGATE();
    ~DEVICEGATE();
    DEVICEGATE(DEVICEGATE const&) = delete;
    DEVICEGATE& operator=(DEVICEGATE const&) = delete;

    // Takes fd (non-blocking, close-on-exec) as the descriptor to read;
    // false when the wake pipe cannot be made.
    bool Attach(int fd);
    // Releases a blocked Read, waits (bounded) until no reader is inside,
    // closes the descriptor. Harmless when nothing is attached.
    void Detach();
    int Fd() const { return Fd_; }
    bool Attached() const { return Fd_ >= 0; }

    // Bytes ready now (FIONREAD); 0 at the end of the stream.
    int NumAvail();
    // Waits until data, the end of the stream or Detach. 0 with *len bytes
    // read (0 allowed), 1 at the end of the stream, 2 when closing.
    // With ignoreWake the wake pipe is not watched (a test device that
    // misbehaves on purpose).
    int Read(char* buf, unsigned long* len, bool ignoreWake = false);
    // Writes all of data to the attached descriptor, waiting at most
    // timeout_ms for room; false on an error, at the end of the stream (the
    // far side hung up: POLLHUP, EIO) and when Detach comes meanwhile, which
    // closes the descriptor only once the writer has left.
    bool Write(char const* data, long len, int timeout_ms);
    // The same on a descriptor of the device's own (wake: a descriptor
    // whose input ends the wait, -1 for none).
    static bool WriteAll(int fd, char const* data, long len, int timeout_ms, int wake = -1);
    // Whether a Read has seen the end of the stream (any thread).
    bool AtEnd()
    {
        std::lock_guard<std::mutex> guard(Lock);
        return Eof;
    }

private:
    std::mutex Lock;
    std::condition_variable Idle;
    int Fd_ = -1;
    int Wake[2] = {-1, -1};
    int Inside = 0;
    bool Closing = false;
    bool Eof = false;
    // Descriptors a reader that ignored Detach still uses: closed when it
    // leaves.
    int Pending[3] = {-1, -1, -1};
    void ClosePending();
};
