// The communication layer: device opening and closing, the reader thread,
// the input pipe and the write path.
#include "program/session/comm.h"

#include "program/session/sessionlink.h"

#include "plugins/sdk/emulationapi.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
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

// Received bytes become 32-bit pipe entries, sixteen at a time.
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
    SemiPipe.data = new (std::nothrow) uint32_t[PIPESIZE]();
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
    StopEvent.Post();
    GoEvent.Post();
    if (reader) {
        reader->Stop.Post();
        reader->Go.Post();
    }
    CurDevice->Close();
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
            // until the device closes. Wait, never spin.
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
        // The free room behind the entries is reserved under the lock and
        // filled outside it: the reading side never looks past the fill, so
        // it takes entries meanwhile without waiting for the copy.
        SemiPipe.Producer.Obtain();
        SemiPipe.Lock.Obtain();
        if (limit < 0) {
            limit = transfer ? SemiPipe.size : SemiPipe.size / 4;
            if (SemiPipe.fill > limit)
                limit = SemiPipe.fill;
        }
        int n = std::min(limit - SemiPipe.fill, len - done);
        int tail = (SemiPipe.head + SemiPipe.fill) % SemiPipe.size;
        SemiPipe.Lock.Release();
        if (n > 0) {
            int first = std::min(n, SemiPipe.size - tail);
            WidenBytes(SemiPipe.data + tail, src + done, first);
            WidenBytes(SemiPipe.data, src + done + first, n - first);
        }
        SemiPipe.Lock.Obtain();
        if (n > 0) {
            SemiPipe.fill += n;
            SemiPipe.maxfill = std::max(SemiPipe.maxfill, SemiPipe.fill);
            done += n;
            SemiPipe.Data.Post();
        }
        // Held back only while the pipe is still full now: the reading side
        // may have emptied it during the copy.
        bool wait = done < len && SemiPipe.fill >= limit;
        if (wait) {
            SemiPipe.lowwater = limit - std::min(len - done, limit / 2);
            SemiPipe.Space.Reset();
            SemiPipe.spaceposted.store(false, std::memory_order_relaxed);
        }
        SemiPipe.Lock.Release();
        SemiPipe.Producer.Release();
        if (n > 0 && !transfer)
            Session.ComDataNotification(false);
        if (done >= len)
            break;
        if (!wait)
            continue;
        LOGIT("COMM::FeedData waiting for data to clear (%d of %d left)\n", len - done, len);
        // Held back until the reading side has taken entries; a closing
        // device ends the wait (the rest of the batch goes with it).
        // The reading side takes a batch within microseconds when it runs:
        // a short spin first spares both threads a sleep and a wake-up.
        for (int spin = 0; spin < 4000 && !SemiPipe.spaceposted.load(std::memory_order_acquire); ++spin)
            _mm_pause();
        while (!SemiPipe.Space.Wait(50)) {
            if (Stopping.load() || PipeFill() < limit)
                break;
        }
        if (Stopping.load()) {
            LOGIT("COMM::FeedData drops %d bytes: the device closes\n", len - done);
            break;
        }
    }
    Session.Trace('I', data, done);
    return 0;
}

int COMM::FeedMarker(wchar_t marker)
{
    if (!SemiPipe.data)
        return 0;
    SemiPipe.Producer.Obtain();
    SemiPipe.Lock.Obtain();
    if (!(this->SemiPipe.fill < this->SemiPipe.size - 1)) {
        SemiPipe.Lock.Release();
        SemiPipe.Producer.Release();
        AssertMsg(0, "this->SemiPipe.fill < this->SemiPipe.size-1", __FILE__, __LINE__);
        return 0;
    }
    int tail = (SemiPipe.head + SemiPipe.fill) % SemiPipe.size;
    SemiPipe.data[tail] = static_cast<uint32_t>(marker);
    ++SemiPipe.fill;
    if (static_cast<uint32_t>(marker) > 255)
        ++SemiPipe.markers;
    SemiPipe.maxfill = std::max(SemiPipe.maxfill, SemiPipe.fill);
    SemiPipe.Data.Post();
    SemiPipe.Lock.Release();
    SemiPipe.Producer.Release();
    Session.ComDataNotification(false);
    return 1;
}

int COMM::GetPipeData(uint32_t* buffer, int* count, int timeout_ms)
{
    if (!buffer || !count || !SemiPipe.data) {
        if (count)
            *count = 0;
        return PIPE_EMPTY;
    }
    SemiPipe.Lock.Obtain();
    if (SemiPipe.fill == 0) {
        if (timeout_ms < 1) {
            SemiPipe.Lock.Release();
            *count = 0;
            return PIPE_EMPTY;
        }
        int waited = 0;
        while (SemiPipe.fill == 0) {
            if (waited >= timeout_ms) {
                SemiPipe.Lock.Release();
                *count = 0;
                return PIPE_EMPTY;
            }
            SemiPipe.Lock.Release();
            SemiPipe.Data.Wait(50);
            waited += 50;
            SemiPipe.Lock.Obtain();
        }
    }
    int want = std::min(*count, SemiPipe.fill);
    int taken = 0;
    if (SemiPipe.markers == 0) {
        int first = std::min(want, SemiPipe.size - SemiPipe.head);
        memcpy(buffer, SemiPipe.data + SemiPipe.head, sizeof(uint32_t) * static_cast<size_t>(first));
        if (want > first)
            memcpy(buffer + first, SemiPipe.data, sizeof(uint32_t) * static_cast<size_t>(want - first));
        taken = want;
    } else {
        // A marker ends the batch.
        while (taken < want) {
            uint32_t v = SemiPipe.data[(SemiPipe.head + taken) % SemiPipe.size];
            buffer[taken++] = v;
            if (v > 255) {
                --SemiPipe.markers;
                break;
            }
        }
    }
    DropFront(taken);
    SemiPipe.Lock.Release();
    *count = taken;
    if (taken > 0 && !Session.IsBackgroundTab())
        Session.SetStatusbarLed(2, true, 0);
    return taken > 0 ? 0 : PIPE_EMPTY;
}

void COMM::DropFront(int n)
{
    SemiPipe.head = (SemiPipe.head + n) % SemiPipe.size;
    SemiPipe.fill -= n;
    if (SemiPipe.fill == 0)
        SemiPipe.Data.Reset();
    if (SemiPipe.lowwater >= 0 && SemiPipe.fill <= SemiPipe.lowwater) {
        SemiPipe.lowwater = -1;
        SemiPipe.spaceposted.store(true, std::memory_order_release);
        SemiPipe.Space.Post();
    }
}

int COMM::FlushInputBuffer(int keep)
{
    if (!SemiPipe.data)
        return 0;
    SemiPipe.Lock.Obtain();
    int drop = std::max(0, SemiPipe.fill - std::max(0, keep));
    if (SemiPipe.markers > 0) {
        for (int i = 0; i < drop; ++i) {
            if (SemiPipe.data[(SemiPipe.head + i) % SemiPipe.size] > 255)
                --SemiPipe.markers;
        }
    }
    DropFront(drop);
    SemiPipe.Lock.Release();
    LOGIT("COMM::FlushInputBuffer keep= %d, dropped %d\n", keep, drop);
    return drop;
}

int COMM::PipeFill()
{
    SemiPipe.Lock.Obtain();
    int fill = SemiPipe.fill;
    SemiPipe.Lock.Release();
    return fill;
}

int COMM::PipeMaxFill()
{
    SemiPipe.Lock.Obtain();
    int fill = SemiPipe.maxfill;
    SemiPipe.Lock.Release();
    return fill;
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
namespace {

thread_local DWORD gThreadTag = 0;

inline DWORD ThreadTag()
{
    if (__builtin_expect(gThreadTag == 0, 0))
        gThreadTag = static_cast<DWORD>(gettid());
    return gThreadTag;
}

} // namespace

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
    if (ReadPtr >= ReadEnd && UngetCount == 0)
        ReadOwner.store(0, std::memory_order_release);
}

void COMM::HandOverReader()
{
    if (ReadOwner.load(std::memory_order_relaxed) == ThreadTag())
        ReadOwner.store(0, std::memory_order_release);
}

int COMM::NextChar(int timeout_ms)
{
    // The common case: this thread holds the reading side and entries are
    // left in its read buffer.
    if (ReadOwner.load(std::memory_order_relaxed) == ThreadTag() && UngetCount == 0 && ReadPtr < ReadEnd &&
        CurDevice && !HexTrace) {
        uint32_t c = ReadBuf[ReadPtr++];
        if (ReadPtr >= ReadEnd)
            ReadOwner.store(0, std::memory_order_release);
        return static_cast<int>(c);
    }
    return NextCharSlow(timeout_ms);
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
    if (UngetCount > 0) {
        uint32_t c = Unget[--UngetCount];
        LeaveReaderIfDone();
        return static_cast<int>(c);
    }
    if (ReadPtr >= ReadEnd) {
        ReadPtr = ReadEnd = 0;
        int n = READBUFSIZE;
        if (GetPipeData(ReadBuf, &n, timeout_ms) != 0) {
            LeaveReaderIfDone();
            return COMM_NOCHAR;
        }
        ReadEnd = n;
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
    uint32_t c = ReadBuf[ReadPtr++];
    if (HexTrace && (!Session.IsTransferActive() || LOGIF(4, nullptr)))
        TraceBytes('i', c);
    LeaveReaderIfDone();
    return static_cast<int>(c);
}

int COMM::ReadChar()
{
    return NextChar(0);
}

int COMM::WaitChar(int timeout_ms)
{
    return NextChar(timeout_ms);
}

void COMM::PushUnget(uint32_t const* entries, int n)
{
    // What will be read: the new entries in the order given, then what the
    // stack held before; of that, the last UNGETSIZE entries stay.
    std::vector<uint32_t> order;
    order.reserve(static_cast<size_t>(n + UngetCount));
    order.insert(order.end(), entries, entries + n);
    for (int i = UngetCount - 1; i >= 0; --i)
        order.push_back(Unget[i]);
    int keep = std::min(static_cast<int>(order.size()), UNGETSIZE);
    for (int i = 0; i < keep; ++i)
        Unget[i] = order[order.size() - 1 - static_cast<size_t>(i)];
    UngetCount = keep;
}

void COMM::UngetData(char* data, int n)
{
    std::vector<uint32_t> entries;
    for (int i = 0; data && i < n; ++i)
        entries.push_back(static_cast<unsigned char>(data[i]));
    UngetEntries(entries);
}

void COMM::UngetData(wchar_t* data, int n)
{
    std::vector<uint32_t> entries;
    for (int i = 0; data && i < n; ++i)
        entries.push_back(static_cast<uint32_t>(data[i]));
    UngetEntries(entries);
}

void COMM::UngetEntries(std::vector<uint32_t> const& entries)
{
    if (!this->CurDevice) {
        AssertMsg(0, "this->CurDevice", __FILE__, __LINE__);
        return;
    }
    if (entries.empty())
        return;
    if (!EnterReader()) {
        LOGIT("COMM::UngetData: another thread reads, %d entries dropped\n", static_cast<int>(entries.size()));
        return;
    }
    PushUnget(entries.data(), static_cast<int>(entries.size()));
    LeaveReaderIfDone();
}

int COMM::QueryNumAvail()
{
    if (!CurDevice)
        return 0;
    if (EnterReader()) {
        int held = UngetCount ? UngetCount : ReadEnd - ReadPtr;
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
    Session.Trace('O', buf, n);
    if (LOGIF(128, nullptr) && (!transfer || LOGIF(4, nullptr))) {
        for (int i = 0; i < n; ++i)
            TraceBytes('o', static_cast<unsigned char>(buf[i]));
    }
    int hooked = n;
    Session.CallHook(4, buf, &hooked);
    n = std::clamp(hooked, 0, static_cast<int>(len));
    if (n > 0)
        CurDevice->Write(buf, n);
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
