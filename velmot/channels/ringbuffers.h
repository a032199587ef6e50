// RINGBUFFER: the input ring of a channel. The channel's reader thread (or
// whoever feeds the channel) writes received bytes in; the channel's owner
// reads them out, waiting up to a time-out for bytes to come and stopping
// early after a byte of a stop set.
//
// Positions are logical 64-bit counts: bytes waiting = WritePos - ReadPos,
// and position p lives at byte p % Size of the storage. Both return to 0
// whenever the ring runs empty.
//
// Waits are real blocking waits on condition variables (no polling). A
// write larger than the free room goes in pieces as the reader makes room,
// so it never waits for room the ring cannot have. Wake ends every wait at
// once; Halt makes every later wait end at once too, until it is lifted:
// the channel uses them so that stopping its reader thread never hangs on a
// full ring.
#pragma once

#include "velmot/core/vtypes.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

class VELMOT_EXPORT RINGBUFFER {
public:
    explicit RINGBUFFER(int size);
    ~RINGBUFFER();
    RINGBUFFER(RINGBUFFER const&) = delete;
    RINGBUFFER& operator=(RINGBUFFER const&) = delete;

    // Writes all `len` bytes, waiting for room as long as it takes. False
    // without storage, or when Wake or Halt ended a wait for room: the bytes
    // not yet written are then dropped.
    bool Write(char const* data, int len);

    // Reads up to *len bytes. When the ring is empty it waits up to
    // timeoutMs for bytes (below 0: without limit, 0: not at all). With a
    // stop set (the bytes of the text readUntil; a zero byte is never a stop
    // byte) the read ends just after the first stop byte. *len becomes the
    // count read; true when it is above 0.
    bool Read(char* buf, int* len, int timeoutMs, char const* readUntil);

    int GetNumAvail() const;
    int GetSize() const;

    // Replaces the storage with a new block of `size` bytes, only while the
    // ring is empty; false otherwise (the old ring stays).
    bool SetBufferSize(int size);

    // Ends every wait of Read and Write that runs now.
    void Wake();
    // While halted, Read and Write never wait: an empty ring reads nothing
    // and a full one takes nothing more.
    void Halt(bool on);

    // How often a reader or a writer went to sleep waiting for the other
    // (for the benchmarks' wake-up counts).
    uint64_t WaitCount() const;

    // The index of the first of the n bytes at p that is in the stop set
    // (the bytes of the text `set`), n when there is none.
    static int FindStop(char const* p, int n, char const* set);

private:
    // Copies between the storage and a flat buffer at a logical position,
    // in at most two blocks. Called with Lock held.
    void CopyIn(int64_t pos, char const* from, int n);
    void CopyOut(int64_t pos, char* to, int n) const;

    mutable std::mutex Lock;
    std::condition_variable DataCond; // signalled when bytes come in
    std::condition_variable RoomCond; // signalled when room comes free
    char* Data = nullptr;
    int64_t WritePos = 0;
    int64_t ReadPos = 0;
    int Size = 0;
    uint64_t Generation = 0; // moved on by Wake
    bool Halted = false;
    uint64_t Waits = 0;
};
