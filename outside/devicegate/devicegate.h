// The read side the device modules share: a descriptor read by the host's
// reader thread, with a wake pipe so that Close releases a blocked Read at
// once, and a count of readers inside so that descriptors are closed only
// after the reader has left.
//
// A device either attaches its descriptor at once (Attach), or opens the
// gate alone and adopts a descriptor once a connection is made (Open, then
// Adopt), or reads through a channel of its own and only waits here (Open,
// then Wait). Text announced (status lines) reaches the reader before any
// byte of the descriptor.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

class DEVICEGATE {
public:
    DEVICEGATE();
    ~DEVICEGATE();
    DEVICEGATE(DEVICEGATE const&) = delete;
    DEVICEGATE& operator=(DEVICEGATE const&) = delete;

    // Takes fd (non-blocking, close-on-exec) as the descriptor to read;
    // false when the wake pipe cannot be made.
    bool Attach(int fd);
    // The wake pipe alone: Read waits for a descriptor (Adopt) or Detach.
    bool Open() { return Attach(-1); }
    // Gives an open gate its descriptor; a Read waiting for one goes on
    // with it. One held before is closed (once no reader uses it).
    void Adopt(int fd);
    // Closes the descriptor (once no reader uses it); the gate stays open.
    void DropFd();
    // Releases a blocked Read, waits (bounded) until no reader is inside,
    // closes the descriptor. Harmless when nothing is attached.
    void Detach();
    int Fd() const { return Fd_.load(); }
    bool Attached() const { return Fd_.load() >= 0; }
    // The gate is open (attached or opened, not detached).
    bool IsOpen();

    // Text the reader gets before any byte of the descriptor; a waiting
    // Read or Wait returns for it. Nothing while the gate is closed.
    void Announce(std::string const& text);
    // Takes up to max bytes of the announced text; their count.
    size_t TakeAnnounced(char* buf, size_t max);

    // Announced bytes plus the bytes ready now (FIONREAD); 0 at the end of
    // the stream.
    int NumAvail();
    // Waits until announced text, data, the end of the stream or Detach.
    // 0 with *len bytes read (0 allowed), 1 at the end of the stream, 2
    // when closing. Without a descriptor it waits for one. With
    // ignoreWake the wake pipe is not watched (a test device that
    // misbehaves on purpose).
    int Read(char* buf, unsigned long* len, bool ignoreWake = false);
    // For a device that reads through a channel of its own: waits until fd
    // (-1: none) is readable or hangs up, text is announced, Nudge, or
    // Detach. 2 when closing, else 0 (the caller looks again).
    int Wait(int fd);
    // Ends a Wait or a descriptor-less Read's wait without closing.
    void Nudge();
    // Writes all of data to the attached descriptor, waiting at most
    // timeout_ms for room; false on an error, at the end of the stream (the
    // far side hung up: POLLHUP, EIO) and when Detach comes meanwhile, which
    // closes the descriptor only once the writer has left.
    bool Write(char const* data, long len, int timeout_ms);
    // The same on a descriptor of the device's own (wake: a descriptor
    // whose input ends the wait, -1 for none). A reader that has gone gives
    // an error, never SIGPIPE.
    static bool WriteAll(int fd, char const* data, long len, int timeout_ms, int wake = -1);
    bool AtEnd() const { return Eof.load(); }

private:
    // Under Lock.
    void Poke();
    void ClosePending();
    void Drain(int wake);

    std::mutex Lock;
    std::condition_variable Idle;
    std::atomic<int> Fd_{-1};
    int Wake[2] = {-1, -1};
    int Inside = 0;
    bool Closing = false;
    std::atomic<bool> Eof{false};
    std::string Announced;
    // Descriptors a reader still uses: closed when it leaves.
    std::vector<int> Pending;
};
