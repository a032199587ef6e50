// The channel base: the ring, the reader thread, Read and the text query.
#include "velmot/channels/ios.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr char const* kSource = "ios";

bool IsStopByte(char c, char const* set)
{
    return RINGBUFFER::FindStop(&c, 1, set) == 0;
}

} // namespace

long long BASEIO::NowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int BASEIO::WaitFailure(int result)
{
    return result == 0 ? ETIMEDOUT : result == -2 ? ECANCELED : errno;
}

// ---------------------------------------------------------------------------
// CHANNELFD

void CHANNELFD::Set(int fd)
{
    REF old;
    std::lock_guard<std::mutex> guard(Lock);
    old = std::move(Ref);
    if (fd >= 0)
        Ref = REF(new int(fd), [](int const* p) {
            ::close(*p);
            delete p;
        });
    Fd.store(fd >= 0 ? fd : -1, std::memory_order_release);
}

CHANNELFD::REF CHANNELFD::Acquire() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Ref;
}

bool CHANNELFD::Close(bool shutdownSocket)
{
    REF old;
    {
        std::lock_guard<std::mutex> guard(Lock);
        old = std::move(Ref);
        Fd.store(-1, std::memory_order_release);
    }
    if (!old)
        return false;
    if (shutdownSocket)
        shutdown(*old, SHUT_RDWR);
    return true;
}

// ---------------------------------------------------------------------------
// Construction and destruction

BASEIO::BASEIO(char const* ourId, char const* callType, char const* parm, unsigned long flags)
    : RingBuffer(BASEIO_RINGSIZE),
      semKillThread(0),
      DeviceFlags(flags),
      OurId(ourId ? ourId : "", 1252),
      CallType(callType ? callType : "", 1252),
      Parm(parm ? parm : "", 1252),
      CallPrefix("", 1252),
      PushBack(BINARY_DEFAULTBLOCK),
      LastErrorString("<unknown>"),
      ConstructorDone((flags & BASEIO_DEVICE_DELAYED_START) ? 0 : 1)
{
    WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (WakeFd < 0)
        LOGIT("BASEIO::BASEIO eventfd failed: %s\n", strerror(errno));
    if (!(flags & (BASEIO_DEVICE_NO_DAEMON | BASEIO_DEVICE_OWN_FEEDER | BASEIO_DEVICE_IS_PACKETBASED)))
        StartDaemon();
}

BASEIO::~BASEIO()
{
    if (GetThreadHandle()) {
        // The subclass must end the thread while its device still exists.
        AssertMsg(0, "!this->hThread", kSource, __LINE__, nullptr, false);
        KillDaemon(1);
    }
    IsDead = true;
    {
        std::unique_lock<std::mutex> gate(GateLock);
        GateClosed = true;
    }
    RingBuffer.Halt(true);
    Interrupt();
    {
        std::unique_lock<std::mutex> gate(GateLock);
        GateIdle.wait(gate, [this] { return ActiveCalls == 0; });
    }
    if (WakeFd >= 0)
        ::close(WakeFd);
}

// ---------------------------------------------------------------------------
// Calls in flight, interruption

BASEIO::CALLSCOPE::CALLSCOPE(BASEIO& io) : Io(io)
{
    std::lock_guard<std::mutex> gate(Io.GateLock);
    In = !Io.GateClosed;
    if (In)
        ++Io.ActiveCalls;
}

BASEIO::CALLSCOPE::~CALLSCOPE()
{
    if (!In)
        return;
    std::lock_guard<std::mutex> gate(Io.GateLock);
    if (--Io.ActiveCalls == 0)
        Io.GateIdle.notify_all();
}

int BASEIO::WaitFd(int fd, short events, int timeoutMs, short* revents)
{
    pollfd p[2] = {{fd, events, 0}, {WakeFd, POLLIN, 0}};
    nfds_t const count = WakeFd >= 0 ? 2 : 1;
    long long const deadline = timeoutMs < 0 ? 0 : NowMs() + timeoutMs;
    for (;;) {
        int wait = timeoutMs < 0 ? -1 : static_cast<int>(std::max(0LL, deadline - NowMs()));
        int r = poll(p, count, wait);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (r == 0)
            return 0;
        if (count == 2 && (p[1].revents & POLLIN))
            return -2;
        if (revents)
            *revents = p[0].revents;
        return 1;
    }
}

void BASEIO::Interrupt()
{
    uint64_t one = 1;
    if (WakeFd >= 0 && write(WakeFd, &one, sizeof one) != sizeof one)
        LOGIT("BASEIO::Interrupt failed: %s\n", strerror(errno));
}

void BASEIO::ClearInterrupt()
{
    // A channel on its way out stays interrupted: a call that starts while
    // the destructor runs must not wait.
    std::lock_guard<std::mutex> gate(GateLock);
    if (GateClosed)
        return;
    uint64_t count;
    if (WakeFd >= 0)
        while (read(WakeFd, &count, sizeof count) < 0 && errno == EINTR) {
        }
}

void BASEIO::SetLastError(int code, char const* text)
{
    std::lock_guard<std::mutex> guard(InfoLock);
    LastError = code;
    LastErrorString = text ? text : "";
}

STRING BASEIO::GetLastErrorString() const
{
    std::lock_guard<std::mutex> guard(InfoLock);
    return LastErrorString;
}

// ---------------------------------------------------------------------------
// Setters and the text query

bool BASEIO::IsConnected()
{
    return RingBuffer.GetNumAvail() + DevGetNumAvail() > 0 || DevIsConnected();
}

void BASEIO::SetInfoFunction(BASEIOINFOFUNCTION fn, void* context)
{
    pfnInfoCallback = fn;
    InfoContext = context;
}

void BASEIO::SetDataFunction(BASEIODATAFUNCTION fn, void* context)
{
    {
        std::lock_guard<std::mutex> guard(CallbackLock);
        pfnDataCallback = fn;
        DataContext = context;
    }
    if (!GetThreadHandle()) {
        ConstructorDone.Reset();
        StartDaemon();
        ConstructorDone.Post();
    }
}

int BASEIO::CountReadable(CHANNELFD const& slot, int errorCode, char const* errorFormat)
{
    CHANNELFD::REF fd = slot.Acquire();
    if (!fd)
        return 0;
    int n = 0;
    if (ioctl(*fd, FIONREAD, &n) != 0) {
        int const err = errno;
        char text[320];
        char buf[256];
        snprintf(text, sizeof text, errorFormat, strerror_r(err, buf, sizeof buf));
        SetLastError(errorCode ? errorCode : err, text);
        return 0;
    }
    return n;
}

STRING BASEIO::UnknownInfoKey(char const* key)
{
    STRING info;
    info.Format("*%s*", key ? key : "");
    AssertMsg(0, "FALSE", kSource, __LINE__, info, true);
    return STRING("");
}

bool BASEIO::HasDataFunction()
{
    std::lock_guard<std::mutex> guard(CallbackLock);
    return pfnDataCallback != nullptr;
}

void BASEIO::SetCallType(char const* callType)
{
    CallType = STRING(callType ? callType : "", 1252);
}

void BASEIO::SetOurId(char const* ourId)
{
    OurId = STRING(ourId ? ourId : "", 1252);
}

STRING const& BASEIO::GetOurId() const
{
    return OurId;
}

STRING BASEIO::GetInfo(char const* key)
{
    STRING k(key ? key : "");
    k.ToUpper();
    if (k == "ONLINE")
        return STRING("0");
    if (k == "LASTERROR")
        return STRING(LastError.load());
    if (k == "LASTERRORSTRING")
        return GetLastErrorString();
    if (k == "OWNID")
        return OurId;
    if (k == "CALLERID")
        return STRING("<unknown>");
    if (k == "DEVICENAME")
        return STRING("BASEIO");
    return STRING("BASEIO::BAD-REQUEST");
}

void BASEIO::SetParm(char const* name, char const* value)
{
    Parms[name ? name : ""] = STRING(value ? value : "");
}

void BASEIO::SetCallPrefix(char const* prefix)
{
    CallPrefix = STRING(prefix ? prefix : "", 1252);
}

bool BASEIO::SetRingbufferSize(int size)
{
    return RingBuffer.SetBufferSize(size);
}

// ---------------------------------------------------------------------------
// Writing, feeding, reading

bool BASEIO::Write(char const* data, int len)
{
    CALLSCOPE call(*this);
    if (!call.Entered() || IsDead) {
        AssertMsg(0, "!this->IsDead", kSource, __LINE__, nullptr, false);
        return false;
    }
    if (!data)
        return false;
    if (len == -1)
        len = static_cast<int>(strlen(data));
    return DevWrite(data, len);
}

bool BASEIO::Write(char c)
{
    return DevWrite(&c, 1);
}

void BASEIO::UnRead(char const* data, int len)
{
    if (!data)
        return;
    if (len == -1)
        len = static_cast<int>(strlen(data));
    if (len > 0)
        PushBack.Append(data, len);
}

int BASEIO::GetNumAvail()
{
    if (IsDead)
        AssertMsg(0, "!this->IsDead", kSource, __LINE__, nullptr, false);
    return RingBuffer.GetNumAvail() + DevGetNumAvail();
}

bool BASEIO::Feed(char const* data, int len)
{
    if (IsDead) {
        AssertMsg(0, "!this->IsDead", kSource, __LINE__, nullptr, false);
        return false;
    }
    BASEIODATAFUNCTION fn;
    void* context;
    {
        std::lock_guard<std::mutex> guard(CallbackLock);
        fn = pfnDataCallback;
        context = DataContext;
    }
    if (fn) {
        fn(context, data, len);
        return true;
    }
    return RingBuffer.Write(data, len);
}

bool BASEIO::Feed(char c)
{
    return Feed(&c, 1);
}

int BASEIO::TakePushBack(char* buf, int want, char const* readUntil)
{
    int n = std::min(want, PushBack.Length());
    int const stop = RINGBUFFER::FindStop(PushBack.Buffer, n, readUntil);
    if (stop < n)
        n = stop + 1;
    memcpy(buf, PushBack.Buffer, static_cast<size_t>(n));
    PushBack.CutLeft(n);
    return n;
}

int BASEIO::ReadDeviceDirect(char* buf, int want, int timeoutMs, char const* readUntil)
{
    // Bytes after a stop byte go back into the (empty) ring, so the request
    // never exceeds what the ring can hold.
    int n = std::min({want, 2 * BASEIO_DEVICEREAD, RingBuffer.GetSize()});
    if (n <= 0 || !DevRead(buf, &n, timeoutMs) || n <= 0)
        return 0;
    int const stop = RINGBUFFER::FindStop(buf, n, readUntil);
    if (stop < n - 1) {
        RingBuffer.Write(buf + stop + 1, n - stop - 1);
        n = stop + 1;
    }
    return n;
}

bool BASEIO::Read(char* buf, int* len, int timeoutMs, char const* readUntil)
{
    int const want = *len;
    *len = 0;
    CALLSCOPE call(*this);
    if (!call.Entered() || IsDead) {
        AssertMsg(0, "!this->IsDead", kSource, __LINE__, nullptr, false);
        return false;
    }
    if (DeviceFlags & BASEIO_DEVICE_IS_PACKETBASED)
        AssertMsg(0, "(this->DeviceFlags & BASEIO_DEVICE_IS_PACKETBASED)==0", kSource, __LINE__, nullptr, false);
    if (HasDataFunction())
        AssertMsg(0, "this->pfnDataCallback==NULL", kSource, __LINE__, nullptr, false);
    if (want <= 0)
        return false;

    // Each pass waits a tenth of the time-out, so that bytes given back and
    // the connection are looked at again; without a time-out each pass
    // waits as long as it takes (DropCall and KillDaemon end such a wait).
    long long const start = NowMs();
    int const passWait = timeoutMs < 0 ? -1 : timeoutMs / 10;
    int got = 0;
    for (;;) {
        int const chunk = want - got;
        if (PushBack.Length() > 0) {
            got += TakePushBack(buf + got, chunk, readUntil);
        } else if (RingBuffer.GetNumAvail() == 0 && !GetThreadHandle() &&
                   !(DeviceFlags & BASEIO_DEVICE_OWN_FEEDER)) {
            got += ReadDeviceDirect(buf + got, chunk, passWait, readUntil);
        } else {
            int n = chunk;
            RingBuffer.Read(buf + got, &n, passWait, readUntil);
            got += n;
        }
        if (got > 0 && IsStopByte(buf[got - 1], readUntil))
            break;
        if (got >= want || IsDead)
            break;
        if (timeoutMs >= 0 && NowMs() - start >= timeoutMs)
            break;
        // Bytes waiting, or a connection that may bring more: go on. (The
        // device's own count is asked only when it is not connected.)
        if (PushBack.Length() > 0 || RingBuffer.GetNumAvail() > 0 || DevIsConnected())
            continue;
        if (DevGetNumAvail() <= 0 && !IsConnected())
            break;
    }
    *len = got;
    return got > 0;
}

bool BASEIO::Read(char* c, int timeoutMs)
{
    int n = 1;
    return Read(c, &n, timeoutMs, nullptr);
}

bool BASEIO::ReadDeviceToRingbuffer(int timeoutMs)
{
    char buf[BASEIO_DEVICEREAD];
    int n = DevGetNumAvail();
    if (n <= 0)
        n = timeoutMs == -1 ? 1 : 128;
    n = std::min(n, BASEIO_DEVICEREAD);
    if (!DevRead(buf, &n, timeoutMs))
        return false;
    if (n > 0)
        Feed(buf, n);
    return true;
}

// ---------------------------------------------------------------------------
// The reader thread

void BASEIO::StartDaemon()
{
    std::lock_guard<std::mutex> guard(DaemonLock);
    if (GetThreadHandle()) {
        LOGIT("BASEIO::StartDaemon a reader thread runs already\n");
        return;
    }
    semKillThread.Reset();
    hThread.store(OSYS::CreateThread(&BackgroundDaemonLauncher, reinterpret_cast<MSGWORD>(this)),
                  std::memory_order_release);
}

void BASEIO::KillDaemon(signed char markDead)
{
    if (markDead) {
        std::lock_guard<std::mutex> gate(GateLock);
        GateClosed = true;
    }
    MSGWORD const thread = GetThreadHandle();
    if (thread) {
        semKillThread.Post();
        RingBuffer.Halt(true);
        Interrupt();
        OSYS::WaitThread(thread, -1);
        {
            std::lock_guard<std::mutex> guard(DaemonLock);
            hThread.store(0, std::memory_order_release);
        }
        semKillThread.Reset();
        if (!markDead) {
            RingBuffer.Halt(false);
            ClearInterrupt();
        }
    } else {
        LOGIT("BASEIO::KillDaemon no reader thread runs\n");
    }
    if (markDead) {
        // Calls still running on other threads return now: their device
        // waits and ring waits are interrupted for good.
        IsDead = true;
        RingBuffer.Halt(true);
        Interrupt();
        std::unique_lock<std::mutex> gate(GateLock);
        GateIdle.wait(gate, [this] { return ActiveCalls == 0; });
    }
}

unsigned long BASEIO::BackgroundDaemonLauncher(MSGWORD self)
{
    OSYS::InitThread();
    reinterpret_cast<BASEIO*>(self)->BackgroundDaemon();
    return 0;
}

void BASEIO::BackgroundDaemon()
{
    {
        // StartDaemon has stored the handle once this lock is free.
        std::lock_guard<std::mutex> guard(DaemonLock);
    }
    while (!ConstructorDone.Wait(100)) {
        if (semKillThread.IsSet())
            return;
    }
    RAISETHREADPRIORITY priority(3);
    bool failing = false;
    while (!semKillThread.IsSet()) {
        if (magic1 != BASEIO_MAGIC || magic2 != BASEIO_MAGIC) {
            char text[64];
            snprintf(text, sizeof text, "magic1= %08lx, magic2= %08lx", static_cast<unsigned long>(magic1),
                     static_cast<unsigned long>(magic2));
            AssertMsg(0, text, kSource, __LINE__, nullptr, false);
        }
        if (ReadDeviceToRingbuffer(-1)) {
            failing = false;
            continue;
        }
        // A failing device is reported once per run of failures; readers
        // waiting on the ring are woken on every failure, so that they see
        // the connection gone.
        if (!failing) {
            STRING const text = GetLastErrorString();
            LOGIT("BASEIO::BackgroundDaemon device read failed (%d %s)\n", LastError.load(), text.Buf());
            failing = true;
        }
        RingBuffer.Wake();
        semKillThread.Wait(100);
    }
}
