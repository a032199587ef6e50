// The input ring of a channel.
#include "velmot/channels/ringbuffers.h"

#include "velmot/core/logit.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

namespace {

constexpr char const* kSource = "ringbuffers";

} // namespace

RINGBUFFER::RINGBUFFER(int size)
{
    if (size > 0)
        Data = new (std::nothrow) char[static_cast<size_t>(size)];
    if (!Data) {
        AssertMsg(0, "this->Data", kSource, __LINE__, nullptr, false);
        return;
    }
    Size = size;
}

RINGBUFFER::~RINGBUFFER()
{
    std::lock_guard<std::mutex> guard(Lock);
    delete[] Data;
    Data = nullptr;
}

void RINGBUFFER::CopyIn(int64_t pos, char const* from, int n)
{
    int at = static_cast<int>(pos % Size);
    int first = std::min(n, Size - at);
    memcpy(Data + at, from, static_cast<size_t>(first));
    if (first < n)
        memcpy(Data, from + first, static_cast<size_t>(n - first));
}

void RINGBUFFER::CopyOut(int64_t pos, char* to, int n) const
{
    int at = static_cast<int>(pos % Size);
    int first = std::min(n, Size - at);
    memcpy(to, Data + at, static_cast<size_t>(first));
    if (first < n)
        memcpy(to + first, Data, static_cast<size_t>(n - first));
}

bool RINGBUFFER::Write(char const* data, int len)
{
    std::unique_lock<std::mutex> guard(Lock);
    if (!Data)
        return false;
    uint64_t const generation = Generation;
    bool logged = false;
    while (len > 0) {
        int room = Size - static_cast<int>(WritePos - ReadPos);
        if (room == 0) {
            if (Halted || Generation != generation)
                return false;
            if (!logged) {
                LOGIT("RINGBUFFER::Write Buffer full -- waiting ...\n");
                logged = true;
            }
            ++Waits;
            RoomCond.wait(guard);
            continue;
        }
        int n = std::min(room, len);
        CopyIn(WritePos, data, n);
        WritePos += n;
        data += n;
        len -= n;
        DataCond.notify_all();
    }
    return true;
}

bool RINGBUFFER::Read(char* buf, int* len, int timeoutMs, char const* readUntil)
{
    int const want = *len;
    *len = 0;
    std::unique_lock<std::mutex> guard(Lock);
    if (WritePos == ReadPos) {
        if (timeoutMs == 0 || Halted || !Data)
            return false;
        uint64_t const generation = Generation;
        auto ready = [&] { return WritePos != ReadPos || Halted || Generation != generation; };
        ++Waits;
        if (timeoutMs < 0)
            DataCond.wait(guard, ready);
        else
            DataCond.wait_for(guard, std::chrono::milliseconds(timeoutMs), ready);
        if (WritePos == ReadPos)
            return false;
    }
    int n = std::min<int64_t>(want, WritePos - ReadPos);
    if (n <= 0)
        return false;
    CopyOut(ReadPos, buf, n);
    int const stop = FindStop(buf, n, readUntil);
    if (stop < n)
        n = stop + 1;
    ReadPos += n;
    if (ReadPos == WritePos)
        ReadPos = WritePos = 0;
    RoomCond.notify_all();
    *len = n;
    return true;
}

int RINGBUFFER::GetNumAvail() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return static_cast<int>(WritePos - ReadPos);
}

int RINGBUFFER::GetSize() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Size;
}

bool RINGBUFFER::SetBufferSize(int size)
{
    std::lock_guard<std::mutex> guard(Lock);
    if (WritePos != ReadPos || size <= 0)
        return false;
    char* block = new (std::nothrow) char[static_cast<size_t>(size)];
    if (!block)
        return false;
    delete[] Data;
    Data = block;
    Size = size;
    WritePos = ReadPos = 0;
    return true;
}

void RINGBUFFER::Wake()
{
    std::lock_guard<std::mutex> guard(Lock);
    ++Generation;
    DataCond.notify_all();
    RoomCond.notify_all();
}

void RINGBUFFER::Halt(bool on)
{
    std::lock_guard<std::mutex> guard(Lock);
    Halted = on;
    ++Generation;
    DataCond.notify_all();
    RoomCond.notify_all();
}

// The set is the bytes of a text, so it never holds a zero byte: a zero
// byte in the data is plain data.
int RINGBUFFER::FindStop(char const* p, int n, char const* set)
{
    if (!set || !*set)
        return n;
    size_t const setLen = strlen(set);
    for (int i = 0; i < n; ++i) {
        if (memchr(set, p[i], setLen))
            return i;
    }
    return n;
}

uint64_t RINGBUFFER::WaitCount() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Waits;
}
