// The communication layer: device opening and closing, the reader thread,
// the input pipe and the write path.
#include "program/session/comm.h"

#include "program/session/sessionlink.h"

#include "plugins/sdk/emulationapi.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/winkeys.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <emmintrin.h>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>
#include <unistd.h>

// What the reader thread shares with its layer. It outlives the layer when
// the thread has to be given up: the thread then finds Comm null and ends.
struct COMM::READER {
    std::mutex Lock; // guards Comm
    COMM* Comm = nullptr;
    QORDEVICE* Device = nullptr;
    EVENTSEM Stop;
    EVENTSEM Go;
    EVENTSEM Ended;
    MSGWORD Thread = 0;
};

namespace {

// REXX argument text: a single quote inside '...' is written twice.
std::string RexxQuoted(char const* text)
{
    std::string out;
    for (char const* p = text ? text : ""; *p; ++p) {
        out += *p;
        if (*p == '\'')
            out += '\'';
    }
    return out;
}

std::string Upper(STRING const& text)
{
    std::string out = text.Buf();
    for (char& c : out)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return out;
}

// Pipe entries become 32-bit ones, sixteen at a time.
void WidenBytes(uint32_t* dst, unsigned char const* src, int n)
{
    int i = 0;
    __m128i const zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<__m128i const*>(src + i));
        __m128i lo = _mm_unpacklo_epi8(bytes, zero);
        __m128i hi = _mm_unpackhi_epi8(bytes, zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_unpacklo_epi16(lo, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 4), _mm_unpackhi_epi16(lo, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 8), _mm_unpacklo_epi16(hi, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i + 12), _mm_unpackhi_epi16(hi, zero));
    }
    for (; i < n; ++i)
        dst[i] = src[i];
}

// Even parity in bit 7 over the low seven bits.
inline char EvenParity7(unsigned char c)
{
    unsigned char low = c & 0x7F;
    return static_cast<char>(__builtin_parity(low) ? (low | 0x80) : low);
}

} // namespace

COMM::COMM(SESSIONLINK& session) : SUBSYSLAYER<COMMAPI>(session, SS_TYPE_DEVICE), Session(session)
{
    LOGIT("COMM::COMM\n");
    SemiPipe.data = new (std::nothrow) uint8_t[PIPESIZE]();
    SemiPipe.size = SemiPipe.data ? PIPESIZE : 0;
    GoEvent.Post();
    SemiPipe.Data.Reset();
    LOGIT("COMM::COMM done\n");
}

COMM::~COMM()
{
    LOGIT("COMM::~COMM\n");
    COMM::Cleanup();
    delete[] SemiPipe.data;
    SemiPipe.data = nullptr;
    SemiPipe.size = 0;
    LOGIT("COMM::~COMM done\n");
}

void COMM::Cleanup()
{
    CloseDevice();
    SUBSYS::Cleanup();
}

void COMM::SetCurrent(QORSUBSYSTEM* object)
{
    CurDevice = static_cast<QORDEVICE*>(object);
    UpdateFastEnd();
    SUBSYS::SetCurrent(object);
}

int COMM::Initialize()
{
    return 1;
}

void COMM::SetActivity()
{
    LastActivity.store(static_cast<long long>(OSYS::GetLTime()), std::memory_order_relaxed);
}

int COMM::OpenDevice(int devid, char const* devparm)
{
    LOGIT("COMM::OpenDevice %d %s\n", devid, devparm ? devparm : "<NULL>");
    if (CurDevice)
        CloseDevice();
    if (devid >= 0 && devid < MAXRECORDS)
        ForceLoad(devid, SS_FORCELOAD_LOAD);
    SetCurrent(devid >= 0 && devid < MAXRECORDS ? FindObject(devid) : nullptr);
    if (!CurDevice) {
        STRING text;
        text.Format(OSYS::GetStringFromResource("IDS_PANIC_DEVICENOTFOUND").Buf(), devid);
        Session.ErrorMsg(text.Buf());
        LOGIT("COMM::OpenDevice %d: no device\n", devid);
        return 1;
    }
    AcceptState = false;
    char tag[16];
    snprintf(tag, sizeof tag, "[%d]", devid);
    char parm[128];
    if (!devparm || strncmp(devparm, tag, strlen(tag)) != 0)
        QueryStdParm(devid, parm);
    else
        snprintf(parm, sizeof parm, "%s", devparm);

    std::string name = Upper(QueryNameFromID(devid));
    STRING script;
    script.Format("DEVOPEN '%s' '%s'", RexxQuoted(name.c_str()).c_str(), RexxQuoted(parm).c_str());
    Session.RunEventScript(script.Buf());

    int r = CurDevice->Open(parm);
    if (r != 0 && devid != 1) {
        LOGIT("COMM::OpenDevice %d: Open failed with %d\n", devid, r);
        SetCurrent(nullptr);
        script.Format("DEVCLOSE '%s'", RexxQuoted(name.c_str()).c_str());
        Session.RunEventScript(script.Buf());
        return r;
    }
    Session.SendMainWindowEvent(8450);

    auto reader = std::make_shared<READER>();
    reader->Comm = this;
    reader->Device = CurDevice;
    reader->Go.Post();
    Stopping.store(false);
    GoEvent.Post();
    StopEvent.Reset();
    auto* handoff = new std::shared_ptr<READER>(reader);
    reader->Thread = OSYS::CreateThread(&COMM::ComBackgroundDaemonLauncher, reinterpret_cast<MSGWORD>(handoff));
    if (!reader->Thread) {
        delete handoff;
        AssertMsg(0, "hthread", __FILE__, __LINE__);
    } else {
        Reader = reader;
    }
    Writer.Start(CurDevice);

    if (devid == 1)
        Reset(0);
    int current = QueryIDFromCurrent();
    Session.SetActiveDevice(current);
    if (char* stored = Session.ParmString(SS_TYPE_DEVICE, current))
        QueryParm(stored, 128);
    MenuRefreshWanted = true;
    Session.PostMainWindowMessage(1059, 0, 0);
    SetActivity();
    HexTrace = LOGIF(128, nullptr) != 0;
    UpdateFastEnd();
    LOGIT("COMM::OpenDevice done, rc= %d\n", r);
    return r;
}

void COMM::CloseDevice()
{
    if (!CurDevice)
        return;
    LOGIT("COMM::CloseDevice\n");
    std::shared_ptr<READER> reader = std::move(Reader);
    Stopping.store(true);
    // A FeedData held back at the pipe's limit gives up at once.
    SemiPipe.space.fetch_add(1, std::memory_order_seq_cst);
    SemiPipe.space.notify_all();
    StopEvent.Post();
    GoEvent.Post();
    if (reader) {
        reader->Stop.Post();
        reader->Go.Post();
    }
    CurDevice->Close();
    // The device's Close released a Write that waited; a writer that is
    // still inside keeps the device.
    bool const writerEnded = Writer.Stop(ReaderStopLimit);
    if (!writerEnded)
        PinObject(CurDevice);
    if (reader) {
        if (reader->Ended.Wait(ReaderStopLimit)) {
            OSYS::WaitThread(reader->Thread, -1);
        } else {
            // The device's Close did not release its Read. The thread is
            // given up: it finds no layer when Read returns, and the device
            // and its bundle stay for the rest of the process.
            {
                std::lock_guard<std::mutex> guard(reader->Lock);
                reader->Comm = nullptr;
            }
            OSYS::TerminateThread(reader->Thread);
            PinObject(CurDevice);
            AssertMsg(0, "reader thread ended", __FILE__, __LINE__,
                      "the device's Close did not release its Read; the reader thread is given up", true);
        }
    }
    std::string name = Upper(QueryNameFromID(QueryIDFromPtr(CurDevice)));
    STRING script;
    script.Format("DEVCLOSE '%s'", RexxQuoted(name.c_str()).c_str());
    Session.RunEventScript(script.Buf());
    SetCurrent(nullptr);
    AcceptState = false;
    LOGIT("COMM::CloseDevice done\n");
}

unsigned long COMM::ComBackgroundDaemonLauncher(MSGWORD parm)
{
    OSYS::InitThread();
    std::unique_ptr<std::shared_ptr<READER>> handoff(reinterpret_cast<std::shared_ptr<READER>*>(parm));
    std::shared_ptr<READER> reader = *handoff;
    handoff.reset();
    {
        std::lock_guard<std::mutex> guard(reader->Lock);
        if (!reader->Comm) {
            reader->Ended.Post();
            return 0;
        }
    }
    // The loop reaches the layer only through the shared record.
    COMM* comm = nullptr;
    {
        std::lock_guard<std::mutex> guard(reader->Lock);
        comm = reader->Comm;
    }
    comm->ComBackgroundDaemon(*reader);
    reader->Ended.Post();
    return 0;
}

void COMM::ComBackgroundDaemon(READER& reader)
{
    LOGIT("COMM::ComBackgroundDaemon\n");
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[DEVICEREADSIZE]());
    if (!buffer) {
        AssertMsg(0, "buffer", __FILE__, __LINE__, "the reader thread has no buffer and reads nothing");
        return;
    }
    QORDEVICE* device = reader.Device;
    int backoff = 0;
    for (;;) {
        int n = device->NumAvail();
        int want = std::clamp(n, 1, DEVICEREADSIZE);
        unsigned long len = static_cast<unsigned long>(want);
        signed char rc = device->Read(buffer.get(), &len);
        if (rc == 0 && len > 0) {
            if (len > static_cast<unsigned long>(want)) {
                LOGIT("COMM::ComBackgroundDaemon: the device read %lu of %d bytes\n", len, want);
                len = static_cast<unsigned long>(want);
            }
            std::lock_guard<std::mutex> guard(reader.Lock);
            if (reader.Comm) {
                reader.Comm->FeedData(buffer.get(), static_cast<int>(len));
                reader.Comm->SetActivity();
            }
            backoff = 0;
        } else {
            // A failed read, or the end of the stream: the line is quiet
            // until the device closes. Wait, never spin. The session looks
            // at the carrier at once when it happens first.
            if (rc != 0 && backoff == 0) {
                std::lock_guard<std::mutex> guard(reader.Lock);
                if (reader.Comm)
                    reader.Comm->Session.DeviceEndNotification();
            }
            backoff = backoff ? std::min(backoff * 2, 250) : 10;
            reader.Stop.Wait(backoff);
        }
        reader.Go.Wait(-1);
        if (reader.Stop.IsSet())
            break;
    }
    LOGIT("COMM::ComBackgroundDaemon done\n");
}

int COMM::FeedData(char const* data, int len)
{
    if (!data)
        return -1;
    if (len == -1)
        len = static_cast<int>(strlen(data));
    if (!SemiPipe.data)
        return -1;
    int l = len;
    if (!(l > 0)) {
        AssertMsg(0, "l>0", __FILE__, __LINE__);
        return -1;
    }
    bool transfer = Session.IsTransferActive();
    if (!Session.IsBackgroundTab())
        Session.SetStatusbarLed(2, true, 0);
    unsigned char const* src = reinterpret_cast<unsigned char const*>(data);
    int done = 0;
    int limit = -1;
    for (;;) {
        // The room behind the entries is filled first and published after:
        // the takers never look past `in`, and never need the writer's lock.
        SemiPipe.Producer.Obtain();
        uint32_t const in = SemiPipe.in.load(std::memory_order_relaxed);
        int fill = static_cast<int>(in - SemiPipe.out.load(std::memory_order_acquire));
        if (limit < 0) {
            limit = transfer ? SemiPipe.size : SemiPipe.size / 4;
            if (fill > limit)
                limit = fill;
        }
        int n = std::min(limit - fill, len - done);
        if (n > 0) {
            int const tail = static_cast<int>(in % static_cast<uint32_t>(SemiPipe.size));
            int const first = std::min(n, SemiPipe.size - tail);
            memcpy(SemiPipe.data + tail, src + done, static_cast<size_t>(first));
            memcpy(SemiPipe.data, src + done + first, static_cast<size_t>(n - first));
            SemiPipe.in.store(in + static_cast<uint32_t>(n), std::memory_order_seq_cst);
            done += n;
            fill += n;
            if (fill > SemiPipe.maxfill.load(std::memory_order_relaxed))
                SemiPipe.maxfill.store(fill, std::memory_order_relaxed);
            if (SemiPipe.waiting.load(std::memory_order_seq_cst) > 0)
                SemiPipe.Data.Post();
        }
        SemiPipe.Producer.Release();
        if (n > 0 && !transfer)
            Session.ComDataNotification(false);
        if (done >= len)
            break;
        // Held back until the takers have brought the fill down to the
        // low-water mark; a closing device ends the wait (the rest of the
        // batch goes with it).
        int const low = limit - std::min(len - done, limit / 2);
        if (PipeFill() > low) {
            LOGIT("COMM::FeedData waiting for data to clear (%d of %d left)\n", len - done, len);
            WaitForSpace(low);
        }
        if (Stopping.load()) {
            LOGIT("COMM::FeedData drops %d bytes: the device closes\n", len - done);
            break;
        }
    }
    Session.Trace('I', data, done);
    return 0;
}

void COMM::WaitForSpace(int low)
{
    // The thread sleeps until the reading side has brought the fill down
    // to the mark (DropFront wakes it) or the device closes: it never
    // spins, and a reading side that keeps taking pays one wake-up per
    // half pipe. Announce first, look after: a taker moving `out` on
    // either sees the mark (and moves `space` on) or is seen.
    while (PipeFill() > low && !Stopping.load()) {
        uint32_t const seen = SemiPipe.space.load(std::memory_order_seq_cst);
        SemiPipe.lowwater.store(low, std::memory_order_seq_cst);
        if (PipeFill() > low && !Stopping.load())
            SemiPipe.space.wait(seen, std::memory_order_seq_cst);
        SemiPipe.lowwater.store(-1, std::memory_order_relaxed);
    }
}

int COMM::FeedMarker(wchar_t marker)
{
    if (!SemiPipe.data)
        return 0;
    SemiPipe.Producer.Obtain();
    uint32_t const in = SemiPipe.in.load(std::memory_order_relaxed);
    int const fill = static_cast<int>(in - SemiPipe.out.load(std::memory_order_acquire));
    if (!(fill < this->SemiPipe.size - 1)) {
        SemiPipe.Producer.Release();
        AssertMsg(0, "this->SemiPipe.fill < this->SemiPipe.size-1", __FILE__, __LINE__);
        return 0;
    }
    uint32_t const value = static_cast<uint32_t>(marker);
    // An entry that fits a byte is one; a marker waits in the side queue
    // with its place, and its slot holds 0.
    SemiPipe.data[in % static_cast<uint32_t>(SemiPipe.size)] = static_cast<uint8_t>(value <= 255 ? value : 0);
    if (value > 255) {
        std::lock_guard<std::mutex> guard(SemiPipe.MarkerLock);
        SemiPipe.markers.push_back({in, value});
        SemiPipe.markercount.fetch_add(1, std::memory_order_release);
    }
    SemiPipe.in.store(in + 1, std::memory_order_seq_cst);
    if (fill + 1 > SemiPipe.maxfill.load(std::memory_order_relaxed))
        SemiPipe.maxfill.store(fill + 1, std::memory_order_relaxed);
    if (SemiPipe.waiting.load(std::memory_order_seq_cst) > 0)
        SemiPipe.Data.Post();
    SemiPipe.Producer.Release();
    Session.ComDataNotification(false);
    return 1;
}

bool COMM::WaitForEntries(int timeout_ms)
{
    int waited = 0;
    while (PipeFill() == 0) {
        if (waited >= timeout_ms)
            return false;
        // Announce first, look after: a writer publishing entries either
        // sees the waiter or is seen.
        SemiPipe.Data.Reset();
        SemiPipe.waiting.fetch_add(1, std::memory_order_seq_cst);
        if (PipeFill() == 0)
            SemiPipe.Data.Wait(50);
        SemiPipe.waiting.fetch_sub(1, std::memory_order_relaxed);
        waited += 50;
    }
    return true;
}

int COMM::BatchLength(uint32_t out, int max, uint32_t* marker)
{
    int want = std::min(max, static_cast<int>(SemiPipe.in.load(std::memory_order_acquire) - out));
    *marker = 0;
    if (want > 0 && SemiPipe.markercount.load(std::memory_order_acquire) > 0) {
        // A marker ends the batch.
        std::lock_guard<std::mutex> guard(SemiPipe.MarkerLock);
        uint32_t const distance = SemiPipe.markers.front().at - out;
        if (distance < static_cast<uint32_t>(want)) {
            want = static_cast<int>(distance) + 1;
            *marker = SemiPipe.markers.front().value;
            SemiPipe.markers.pop_front();
            SemiPipe.markercount.fetch_sub(1, std::memory_order_relaxed);
        }
    }
    return std::max(want, 0);
}

int COMM::TakeEntries(uint8_t* bytes, int max, uint32_t* marker)
{
    uint32_t const out = SemiPipe.out.load(std::memory_order_relaxed);
    int const want = BatchLength(out, max, marker);
    int const head = static_cast<int>(out % static_cast<uint32_t>(SemiPipe.size));
    int const first = std::min(want, SemiPipe.size - head);
    memcpy(bytes, SemiPipe.data + head, static_cast<size_t>(first));
    memcpy(bytes + first, SemiPipe.data, static_cast<size_t>(want - first));
    DropFront(out, want);
    return want;
}

int COMM::GetPipeData(uint32_t* buffer, int* count, int timeout_ms)
{
    if (!buffer || !count || !SemiPipe.data) {
        if (count)
            *count = 0;
        return PIPE_EMPTY;
    }
    if (!WaitForEntries(std::max(timeout_ms, 0))) {
        *count = 0;
        return PIPE_EMPTY;
    }
    SemiPipe.Consumer.Obtain();
    uint32_t const out = SemiPipe.out.load(std::memory_order_relaxed);
    uint32_t marker = 0;
    int const taken = BatchLength(out, *count, &marker);
    int const head = static_cast<int>(out % static_cast<uint32_t>(SemiPipe.size));
    int const first = std::min(taken, SemiPipe.size - head);
    WidenBytes(buffer, SemiPipe.data + head, first);
    WidenBytes(buffer + first, SemiPipe.data, taken - first);
    if (marker)
        buffer[taken - 1] = marker;
    DropFront(out, taken);
    SemiPipe.Consumer.Release();
    *count = taken;
    if (taken > 0 && !Session.IsBackgroundTab())
        Session.SetStatusbarLed(2, true, 0);
    return taken > 0 ? 0 : PIPE_EMPTY;
}

void COMM::DropFront(uint32_t out, int n)
{
    if (n <= 0)
        return;
    uint32_t const now = out + static_cast<uint32_t>(n);
    SemiPipe.out.store(now, std::memory_order_seq_cst);
    // A held-back writer that asked for it is woken once the fill is down
    // to its mark.
    int low = SemiPipe.lowwater.load(std::memory_order_seq_cst);
    if (low >= 0 && static_cast<int>(SemiPipe.in.load(std::memory_order_acquire) - now) <= low &&
        SemiPipe.lowwater.compare_exchange_strong(low, -1)) {
        SemiPipe.wakeups.fetch_add(1, std::memory_order_relaxed);
        SemiPipe.space.fetch_add(1, std::memory_order_seq_cst);
        SemiPipe.space.notify_one();
    }
}

int COMM::FlushInputBuffer(int keep)
{
    if (!SemiPipe.data)
        return 0;
    SemiPipe.Consumer.Obtain();
    uint32_t const out = SemiPipe.out.load(std::memory_order_relaxed);
    int const fill = static_cast<int>(SemiPipe.in.load(std::memory_order_acquire) - out);
    int const drop = std::max(0, fill - std::max(0, keep));
    if (drop > 0 && SemiPipe.markercount.load(std::memory_order_acquire) > 0) {
        std::lock_guard<std::mutex> guard(SemiPipe.MarkerLock);
        while (!SemiPipe.markers.empty() && SemiPipe.markers.front().at - out < static_cast<uint32_t>(drop)) {
            SemiPipe.markers.pop_front();
            SemiPipe.markercount.fetch_sub(1, std::memory_order_relaxed);
        }
    }
    DropFront(out, drop);
    SemiPipe.Consumer.Release();
    LOGIT("COMM::FlushInputBuffer keep= %d, dropped %d\n", keep, drop);
    return drop;
}

int COMM::PipeFill()
{
    // `out` first: `in` never falls behind it.
    uint32_t const out = SemiPipe.out.load(std::memory_order_acquire);
    return static_cast<int>(SemiPipe.in.load(std::memory_order_acquire) - out);
}

int COMM::PipeMaxFill()
{
    return SemiPipe.maxfill.load(std::memory_order_relaxed);
}

namespace {
thread_local int tSecretDepth = 0;
} // namespace

COMM::SECRETSCOPE::SECRETSCOPE()
{
    ++tSecretDepth;
}

COMM::SECRETSCOPE::~SECRETSCOPE()
{
    --tSecretDepth;
}

bool COMM::InSecretScope()
{
    return tSecretDepth > 0;
}

void COMM::TraceBytes(char direction, uint32_t value)
{
    LOGIT("%c%02X ", direction, value);
    if (++TraceColumn % 16 == 0)
        LOGIT("\n");
}


// The reading side (read buffer, unget stack) belongs to one thread at a
// time: the thread that takes it keeps it while entries are left in it and
// gives it up when they are read (or at a hand-over point). So a character
// costs no locked instruction, and a second thread that wants to read
// meanwhile gets 256.
DWORD COMM::NewThreadTag()
{
    return static_cast<DWORD>(gettid());
}

bool COMM::EnterReader()
{
    DWORD me = ThreadTag();
    DWORD owner = ReadOwner.load(std::memory_order_relaxed);
    if (owner == me)
        return true;
    if (owner != 0)
        return false;
    return ReadOwner.compare_exchange_strong(owner, me, std::memory_order_acquire, std::memory_order_relaxed);
}

void COMM::LeaveReaderIfDone()
{
    if (ReadPtr >= ReadEnd && ReadMarker == 0 && UngetCount == 0)
        ReadOwner.store(0, std::memory_order_release);
}

void COMM::HandOverReader()
{
    if (ReadOwner.load(std::memory_order_relaxed) == ThreadTag())
        ReadOwner.store(0, std::memory_order_release);
}

int COMM::NextCharSlow(int timeout_ms)
{
    if (!CurDevice) {
        if (timeout_ms > 0)
            OSYS::Sleep(timeout_ms);
        return COMM_NOCHAR;
    }
    if (!EnterReader())
        return COMM_NOCHAR;
    uint32_t c;
    if (UngetCount > 0) {
        c = Unget[--UngetCount];
        UpdateFastEnd();
        LeaveReaderIfDone();
        return static_cast<int>(c);
    }
    if (ReadPtr >= ReadEnd && ReadMarker == 0) {
        // The next batch from the pipe: bytes, perhaps ended by a marker.
        ReadPtr = ReadEnd = 0;
        uint32_t marker = 0;
        int n = 0;
        if (SemiPipe.data && WaitForEntries(std::max(timeout_ms, 0))) {
            SemiPipe.Consumer.Obtain();
            n = TakeEntries(ReadBuf, READBUFSIZE, &marker);
            SemiPipe.Consumer.Release();
        }
        if (n == 0) {
            UpdateFastEnd();
            LeaveReaderIfDone();
            return COMM_NOCHAR;
        }
        ReadEnd = marker ? n - 1 : n;
        ReadMarker = marker;
        UpdateFastEnd();
        bool transfer = Session.IsTransferActive();
        if (!Session.IsBackgroundTab()) {
            long long now = OSYS::RelTime();
            if (now - LastRecvLight >= 49) {
                LastRecvLight = now;
                Session.SetStatusbarLed(2, true, 0);
            }
        }
        Counters[transfer ? 2 : 0].fetch_add(static_cast<uint32_t>(n), std::memory_order_relaxed);
    }
    if (ReadPtr < ReadEnd) {
        c = ReadBuf[ReadPtr++];
    } else {
        c = ReadMarker;
        ReadMarker = 0;
    }
    if (HexTrace && (!Session.IsTransferActive() || LOGIF(4, nullptr)))
        TraceBytes('i', c);
    LeaveReaderIfDone();
    return static_cast<int>(c);
}

namespace {

inline uint32_t Entry(char c)
{
    return static_cast<unsigned char>(c);
}

inline uint32_t Entry(wchar_t c)
{
    return static_cast<uint32_t>(c);
}

} // namespace

template <class CHAR>
void COMM::UngetEntries(CHAR const* data, int n)
{
    if (!this->CurDevice) {
        AssertMsg(0, "this->CurDevice", __FILE__, __LINE__);
        return;
    }
    if (!data || n <= 0)
        return;
    if (!EnterReader()) {
        LOGIT("COMM::UngetData: another thread reads, %d entries dropped\n", n);
        return;
    }
    // What will be read: the new entries in the order given, then what the
    // stack held before; of that, the last UNGETSIZE entries stay. The
    // stack never holds more than that, so only new entries can go: the
    // first ones.
    int const drop = std::max(0, n + UngetCount - UNGETSIZE);
    for (int i = n - 1; i >= drop; --i)
        Unget[UngetCount++] = Entry(data[i]);
    UpdateFastEnd();
    LeaveReaderIfDone();
}

void COMM::UngetData(char* data, int n)
{
    UngetEntries(data, n);
}

void COMM::UngetData(wchar_t* data, int n)
{
    UngetEntries(data, n);
}

int COMM::QueryNumAvail()
{
    if (!CurDevice)
        return 0;
    if (EnterReader()) {
        int held = UngetCount ? UngetCount : ReadEnd - ReadPtr + (ReadMarker ? 1 : 0);
        LeaveReaderIfDone();
        if (held > 0)
            return held;
    } else {
        // Another thread holds the reading side, with entries left in it.
        return std::max(1, PipeFill());
    }
    int fill = PipeFill();
    if (fill > 0 && !Session.IsBackgroundTab())
        Session.SetStatusbarLed(2, true, 0);
    return fill;
}

int COMM::QueryOnline()
{
    return CurDevice ? CurDevice->QueryOnline() : 0;
}

int COMM::QuerySpeed()
{
    return CurDevice ? CurDevice->QuerySpeed() : 0;
}

int COMM::PrepareForFileTransfer(signed char mode)
{
    // A transfer thread reads from here on: what this thread has not read
    // yet goes with the reading side.
    HandOverReader();
    if (!CurDevice || mode == 2)
        return 0;
    return CurDevice->PrepareForFileTransfer(mode);
}

int COMM::CleanupAfterFileTransfer(signed char mode)
{
    HandOverReader();
    if (!CurDevice || !Session.IsTransferActive() || mode == 0)
        return 0;
    return CurDevice->CleanupAfterFileTransfer(mode);
}

int COMM::ProcessKey(KEYBOARDEVENT const& event)
{
    if (!CurDevice || (event.Flags & 0x100))
        return 0;
    return CurDevice->ProcessKey(event);
}

int COMM::SendBreak()
{
    if (!this->CurDevice) {
        AssertMsg(0, "this->CurDevice", __FILE__, __LINE__);
        return 0;
    }
    if (!Session.IsBackgroundTab())
        Session.SetStatusbarLed(3, true, 0);
    int rc = CurDevice->SendBreak();
    SetActivity();
    return rc;
}

void COMM::WriteData(char const* data, long len)
{
    if (!CurDevice) {
        if (!Session.Unattended())
            Session.ErrorMsg(OSYS::GetStringFromResource("IDS_WRITEER_NOIODEVICE").Buf());
        return;
    }
    if (!data)
        return;
    if (len == -1)
        len = static_cast<long>(strlen(data));
    if (len <= 0)
        return;
    if (!Session.IsBackgroundTab())
        Session.SetStatusbarLed(3, true, 0);
    bool transfer = Session.IsTransferActive();

    // Always a copy: the output hook may rewrite the bytes in place.
    char local[1024];
    std::unique_ptr<char[]> heap;
    char* buf = local;
    if (len > static_cast<long>(sizeof local)) {
        heap.reset(new char[static_cast<size_t>(len)]);
        buf = heap.get();
    }
    memcpy(buf, data, static_cast<size_t>(len));
    int n = static_cast<int>(len);
    if (!transfer) {
        Session.TranslateOut(buf, n);
        if (Session.Software7E1()) {
            for (int i = 0; i < n; ++i)
                buf[i] = EvenParity7(static_cast<unsigned char>(buf[i]));
        }
    }
    bool const secret = InSecretScope();
    Session.Trace(secret ? 'S' : 'O', buf, n);
    if (!secret && LOGIF(128, nullptr) && (!transfer || LOGIF(4, nullptr))) {
        for (int i = 0; i < n; ++i)
            TraceBytes('o', static_cast<unsigned char>(buf[i]));
    }
    int hooked = n;
    Session.CallHook(4, buf, &hooked);
    n = std::clamp(hooked, 0, static_cast<int>(len));
    if (n > 0) {
        if (Writer.Running())
            Writer.Put(buf, static_cast<size_t>(n), !TARVOAPP::IsMainThread());
        else
            CurDevice->Write(buf, n);
    }
    SetSuppressAsyncChangeTracking(0);
    SetActivity();
    Counters[transfer ? 3 : 1].fetch_add(static_cast<uint32_t>(n), std::memory_order_relaxed);
}

void COMM::WriteChar(char c)
{
    if (!CurDevice)
        return;
    WriteCell ^= 1;
    WriteCells[WriteCell] = c;
    WriteData(&WriteCells[WriteCell], 1);
}

bool COMM::SendsUtf8()
{
    EMULATIONAPI* emu = Session.Emulation();
    return (Session.CodePage() == 1000 || (emu && emu->CheckFlag(EMUFLAG_UTF8CONVERSION))) &&
           !(emu && emu->CheckFlag(EMUFLAG_NOUNICODE));
}

void COMM::PrintString(char const* text)
{
    if (!text)
        return;
    if (!SendsUtf8()) {
        WriteData(text, -1);
        return;
    }
    WSTRING wide(text, UNICODE_CPDEFAULT);
    STRING bytes(wide.Buf(), UNICODE_CPUTF8);
    WriteData(bytes.Buf(), bytes.Length());
}

void COMM::PrintStringW(wchar_t const* text)
{
    if (!text)
        return;
    int cp = Session.CodePage();
    STRING bytes(text, SendsUtf8() || cp == 1000 ? UNICODE_CPUTF8 : cp);
    WriteData(bytes.Buf(), bytes.Length());
}

int COMM::PurgeLine(int timeout_ms, signed char echo)
{
    long long start = OSYS::RelTime();
    int n = 0;
    std::string first;
    EMULATIONAPI* emu = echo ? Session.Emulation() : nullptr;
    for (;;) {
        int c = WaitChar(timeout_ms);
        if (c == COMM_NOCHAR)
            break;
        if (n < 64)
            first += static_cast<char>(c);
        ++n;
        if (emu) {
            char ch = static_cast<char>(c);
            emu->conputs(&ch, 1);
        }
        double seconds = static_cast<double>(OSYS::RelTime() - start) / 1000.0;
        if (seconds > 5.0 && (n / seconds < 2.0 || seconds > 10.0))
            break;
    }
    LOGIT("COMM::PurgeLine read %d: %.*s\n", n, static_cast<int>(first.size()), first.c_str());
    return n;
}

void COMM::ReportStatus()
{
    char parm[512];
    if (CurDevice)
        QueryParm(parm, sizeof parm);
    else
        snprintf(parm, sizeof parm, "<no device>");
    std::vector<char> block(4096, '\0');
    int len = snprintf(block.data(), block.size(),
                       "\x1b[2J\x1b[H\r\nCOMM-STATUS: \r\n\r\nDEVICE=%d\r\nDEVICE-PARAMETER=\"%s\"\r\n\r\n"
                       "TRANSFERBUFFER: SIZE= %d, MAXFILL= %d\r\n\r\n",
                       QueryIDFromCurrent(), parm, SemiPipe.size, PipeMaxFill());
    len = std::clamp(len, 0, 4095);
    Session.ResetScreenMode();
    EMULATIONAPI* emu = Session.Emulation();
    if (emu)
        emu->conputs(block.data(), len);
    if (CurDevice) {
        std::vector<char> status(8192, '\0');
        CurDevice->StatusText(status.data());
        status[4095] = '\0';
        if (emu)
            emu->conputs(status.data(), static_cast<long>(strlen(status.data())));
    }
}

int COMM::Connect(char const* target)
{
    if (!CurDevice)
        return 0;
    int rc = CurDevice->Connect(target);
    if (rc != 0) {
        for (auto& c : Counters)
            c.store(0, std::memory_order_relaxed);
    }
    return rc;
}

int COMM::AbortConnect()
{
    return CurDevice ? CurDevice->AbortConnect() : 0;
}

int COMM::Reset(signed char flag)
{
    return CurDevice ? CurDevice->Reset(flag) : 0;
}

int COMM::Disconnect()
{
    return CurDevice ? CurDevice->Disconnect() : 0;
}

int COMM::AcceptCalls(signed char on)
{
    if (!CurDevice)
        return on ? 0 : 1;
    int rc = CurDevice->AcceptCalls(on);
    if (rc != 0)
        AcceptState = on != 0;
    return rc;
}

int COMM::MakeMenu(MENU const& menu, signed char force)
{
    if (!force && !MenuRefreshWanted)
        return 0;
    Session.MakeDeviceMenu(menu, CurDevice);
    if (!force)
        MenuRefreshWanted = false;
    return 1;
}

int COMM::HandleMenuEvent(int id)
{
    return CurDevice ? CurDevice->HandleMenuEvent(id, nullptr) : 0;
}

void COMM::StartCommTimer(int ms)
{
    Session.StartWindowTimer(103, ms);
}

int COMM::HandleTimerEvent()
{
    Session.StopWindowTimer(103);
    return CurDevice ? CurDevice->HandleTimerEvent() : 0;
}

int COMM::HandleDeviceCommand(char const* cmd, char* result, int max, void*)
{
    if (!CurDevice)
        return 0;
    char local[256] = {};
    if (!result) {
        result = local;
        max = sizeof local;
    }
    if (max < 1)
        return 0;
    // The device answers into a roomy copy; the caller gets at most max
    // characters with the NUL, whatever the device wrote.
    std::vector<char> answer(static_cast<size_t>(max) + 8192, '\0');
    memcpy(answer.data(), result, strnlen(result, static_cast<size_t>(max - 1)));
    int rc = CurDevice->HandleDeviceCommand(cmd, answer.data(), max, nullptr);
    size_t used = strnlen(answer.data(), answer.size());
    if (used >= static_cast<size_t>(max)) {
        AssertMsg(0, "(int)strlen(result)<rmax", __FILE__, __LINE__, cmd, true);
        used = static_cast<size_t>(max - 1);
    }
    memcpy(result, answer.data(), used);
    result[used] = '\0';
    return rc;
}

int COMM::CanAccept()
{
    return CurDevice ? CurDevice->CanAccept() : 0;
}

int COMM::TrackChanges()
{
    if (!CurDevice || SuppressAsyncTracking)
        return 0;
    return CurDevice->TrackChanges();
}

void COMM::SetSuppressAsyncChangeTracking(signed char on)
{
    SuppressAsyncTracking = on != 0;
}

int COMM::IsAcceptActive()
{
    return AcceptState ? 1 : 0;
}
