// BASEIO: the abstract byte channel of the library, and CHANNELFD, the
// descriptor slot the channels built on it share between their threads.
//
// A channel supplies the device operations (read, write, bytes available,
// connected, call set-up and tear-down); BASEIO adds what all channels
// share: an input ring (RINGBUFFER), an optional reader thread that moves
// device bytes into the ring or to a data callback, a push-back buffer,
// Read with a time-out and a stop set, and the text query GetInfo.
//
// The order of the virtual operations below is the interface the device
// plug-ins call by position: it never changes, and subclasses append their
// own operations after the last one.
//
// Threads: the owner's thread calls Read, UnRead, the setters and the call
// operations; the reader thread (when one runs) calls DevRead, Feed and the
// data callback. Any thread may call DropCall, Write and GetInfo. Waits for
// a device (in the channels of this library) are interrupted by DropCall,
// KillDaemon and the destructor, so destroying a channel never hangs on a
// blocked Read, AcceptCall or a full ring: the destructor ends the reader
// thread and waits until every call still running on another thread has
// returned.
#pragma once

#include "velmot/channels/ringbuffers.h"
#include "velmot/core/hash.h"
#include "velmot/core/osyssync.h"
#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

// Constructor flags.
constexpr unsigned long BASEIO_DEVICE_DELAYED_START = 1; // the subclass posts ConstructorDone itself
constexpr unsigned long BASEIO_DEVICE_NO_DAEMON = 2;     // no reader thread at construction
constexpr unsigned long BASEIO_DEVICE_OWN_FEEDER = 4;    // the subclass feeds the ring (Feed); Read never polls
constexpr unsigned long BASEIO_DEVICE_IS_PACKETBASED = 8; // packets: Read must not be used

constexpr uint32_t BASEIO_MAGIC = 0x22CC8833;
constexpr int BASEIO_RINGSIZE = 0x100000;
// The most the reader thread moves per device read.
constexpr int BASEIO_DEVICEREAD = 32768;

using BASEIOINFOFUNCTION = int (*)(void* context, char const* text);
using BASEIODATAFUNCTION = void (*)(void* context, char const* data, int len);

// A descriptor shared by the threads of a channel. A thread that uses the
// descriptor holds a reference to it; Close takes the descriptor out of the
// slot at once, and the system closes it when the last reference is gone.
// So a close on one thread never lets another thread read, write or wait on
// a number the system has meanwhile handed out again.
class VELMOT_EXPORT CHANNELFD {
public:
    using REF = std::shared_ptr<int const>;

    CHANNELFD() = default;
    ~CHANNELFD() { Close(false); }
    CHANNELFD(CHANNELFD const&) = delete;
    CHANNELFD& operator=(CHANNELFD const&) = delete;

    // The descriptor, -1 when the slot is empty (for tests and queries).
    int Get() const { return Fd.load(std::memory_order_acquire); }
    bool IsSet() const { return Get() != -1; }
    // Installs a descriptor the slot then owns; one still held is closed.
    void Set(int fd);
    // A reference to the descriptor, empty when the slot is empty.
    REF Acquire() const;
    // Empties the slot; with `shutdownSocket`, shuts the socket down in both
    // directions first, which ends the waits of the threads using it.
    // False when the slot was empty.
    bool Close(bool shutdownSocket);

private:
    mutable std::mutex Lock;
    REF Ref;
    std::atomic<int> Fd{-1};
};

class VELMOT_EXPORT BASEIO {
public:
    BASEIO(char const* ourId, char const* callType, char const* parm, unsigned long flags);

    // Device operations: read up to *len bytes waiting at most timeoutMs
    // (-1: without limit) and return the count in *len; write all bytes;
    // bytes ready without waiting; connected.
    virtual bool DevRead(char* buf, int* len, int timeoutMs) = 0;
    virtual bool DevWrite(char const* data, int len) = 0;
    virtual int DevGetNumAvail() = 0;
    virtual bool DevIsConnected() = 0;
    virtual ~BASEIO();
    virtual bool IsUpAndRunning() = 0;
    virtual bool MakeCall(char const* destination) = 0;
    virtual bool AcceptCall() = 0;
    virtual bool DropCall() = 0;
    // True while bytes wait (GetNumAvail() > 0) or the device is connected.
    virtual bool IsConnected();
    virtual void SetInfoFunction(BASEIOINFOFUNCTION fn, void* context);
    // Received bytes go to fn (on the reader thread) instead of the ring;
    // starts the reader thread when none runs.
    virtual void SetDataFunction(BASEIODATAFUNCTION fn, void* context);
    virtual void SetCallType(char const* callType);
    virtual void SetOurId(char const* ourId);
    virtual STRING const& GetOurId() const;
    // Text query by key, compared without regard to case: "ONLINE",
    // "LASTERROR", "LASTERRORSTRING", "OWNID", "CALLERID", "DEVICENAME";
    // any other key answers "BASEIO::BAD-REQUEST".
    virtual STRING GetInfo(char const* key);
    virtual void SetParm(char const* name, char const* value);

    // Writes through DevWrite; len -1 is the text's length.
    bool Write(char const* data, int len);
    bool Write(char c);
    // Reads up to *len bytes: bytes given back by UnRead first, then the
    // ring (or the device itself when no reader thread runs). Ends after a
    // byte of the stop set readUntil (a zero byte is never one), when *len
    // bytes came, when timeoutMs passed (-1: never), or when nothing waits
    // and the channel is no longer connected. *len becomes the count got;
    // true when it is above 0.
    bool Read(char* buf, int* len, int timeoutMs, char const* readUntil);
    bool Read(char* c, int timeoutMs);
    // Gives bytes back: the next reads return them first, in this order.
    void UnRead(char const* data, int len);
    // Bytes in the ring plus what the device announces.
    int GetNumAvail();
    // Hands received bytes in: to the data callback when one is set, else
    // into the ring (waiting for room).
    bool Feed(char const* data, int len);
    bool Feed(char c);
    // One device read into the ring (or the data callback).
    bool ReadDeviceToRingbuffer(int timeoutMs);
    void StartDaemon();
    // Ends the reader thread: interrupts its device wait and a wait for room
    // in the ring, and waits for it. With markDead the channel is dead from
    // then on, and the call also waits until every Read, Write, MakeCall and
    // AcceptCall still running on another thread has returned.
    void KillDaemon(signed char markDead);
    bool SetRingbufferSize(int size);
    void SetCallPrefix(char const* prefix);
    MSGWORD GetThreadHandle() const { return hThread.load(std::memory_order_acquire); }

    void BackgroundDaemon();
    static unsigned long BackgroundDaemonLauncher(MSGWORD self);

    // A monotonic clock in milliseconds, for deadlines.
    static long long NowMs();

protected:
    // Marks a blocking call for the destructor: it waits until every call
    // that entered has left. A call made on a dead channel does not enter.
    class VELMOT_EXPORT CALLSCOPE {
    public:
        explicit CALLSCOPE(BASEIO& io);
        ~CALLSCOPE();
        CALLSCOPE(CALLSCOPE const&) = delete;
        CALLSCOPE& operator=(CALLSCOPE const&) = delete;
        bool Entered() const { return In; }

    private:
        BASEIO& Io;
        bool In;
    };

    // Waits until fd is ready for `events` (poll), the time-out passes
    // (-1: without limit) or the channel is interrupted. 1 ready (the poll
    // result in *revents), 0 time-out, -1 failed (errno), -2 interrupted.
    int WaitFd(int fd, short events, int timeoutMs, short* revents = nullptr);
    // The error number for a WaitFd result other than 1: ETIMEDOUT,
    // ECANCELED (interrupted) or errno.
    static int WaitFailure(int result);
    // Interrupts every WaitFd of the channel now and from now on, until
    // ClearInterrupt; DropCall, KillDaemon and the destructor use it.
    void Interrupt();
    void ClearInterrupt();

    bool HasDataFunction();
    // Bytes ready on a descriptor of the slot (FIONREAD), 0 without one. A
    // failed query sets the channel's error: code errorCode (0: the system's
    // error number), text errorFormat filled with the system's text.
    int CountReadable(CHANNELFD const& slot, int errorCode, char const* errorFormat);
    // The answer to a GetInfo key the channel does not know: empty, and
    // the key is logged (keys may come from scripts: never a question).
    static STRING UnknownInfoKey(char const* key);

    // The channel's error, kept under InfoLock: any thread may set it.
    void SetLastError(int code, char const* text);
    STRING GetLastErrorString() const;
    // InfoLock also guards the texts a subclass sets from other threads.
    mutable std::mutex InfoLock;

    RINGBUFFER RingBuffer;
    EVENTSEM semKillThread;
    std::atomic<MSGWORD> hThread{0};
    uint32_t magic1 = BASEIO_MAGIC;
    std::atomic<bool> IsDead{false};
    unsigned long DeviceFlags;
    STRING OurId;
    STRING CallType;
    STRING Parm;
    STRING CallPrefix;
    HASH Parms;
    BINARY PushBack;
    std::atomic<int> LastError{0};
    STRING LastErrorString; // under InfoLock
    EVENTSEM ConstructorDone;
    uint32_t magic2 = BASEIO_MAGIC;
    BASEIOINFOFUNCTION pfnInfoCallback = nullptr;
    void* InfoContext = nullptr;
    BASEIODATAFUNCTION pfnDataCallback = nullptr; // under CallbackLock
    void* DataContext = nullptr;

private:
    // Reads straight from the device into the caller's buffer (Read on a
    // channel that polls its device itself); bytes after a stop byte go
    // into the ring.
    int ReadDeviceDirect(char* buf, int want, int timeoutMs, char const* readUntil);
    int TakePushBack(char* buf, int want, char const* readUntil);

    std::mutex CallbackLock;
    std::mutex DaemonLock; // StartDaemon and KillDaemon
    int WakeFd = -1;       // eventfd: readable while the channel is interrupted
    std::mutex GateLock;
    std::condition_variable GateIdle;
    int ActiveCalls = 0;
    bool GateClosed = false;
};
