// COMM: a session's communication layer, the device host (type DEV) and the
// one place through which the session and the plug-ins read and write the
// connection.
//
// One device is open at a time. Its reader thread moves the device's bytes
// into the input pipe (32,768 entries; a quarter of it while no transfer
// runs), wakes the session for every batch and is held back while the pipe
// is full; the reading thread takes the characters one by one with an unget
// stack in front. On the way out come the send translation, the optional
// software even parity, the output hook, the trace and the counters; then
// the bytes wait in the write queue (COMMWRITER), whose thread hands them to
// the device, so no write ever holds up the main thread.
//
// The pipe keeps an entry as one byte: a received byte is itself, and a
// marker (an entry above 255) holds a slot whose value waits in a side
// queue with the entry's place in the stream. So the pipe counts, limits
// and orders entries as a pipe of 32-bit entries would, at a quarter of
// the memory traffic.
//
// Threads: the reader thread runs FeedData only. The reading side (the read
// buffer of up to 1024 entries taken from the pipe, and the unget stack)
// belongs to one thread at a time: the thread that takes entries keeps it
// until it has read them all, so a character costs no locked instruction;
// another thread that reads meanwhile gets 256 (and its push-back is
// dropped). PrepareForFileTransfer and CleanupAfterFileTransfer, called by
// the main thread, hand the reading side over with what is left in it, so a
// transfer thread reads on where the main thread stopped. GetPipeData and
// FlushInputBuffer touch only the pipe. Everything else belongs to the main
// thread.
#pragma once

#include "plugins/sdk/commapi.h"
#include "program/session/commwriter.h"
#include "program/session/subsys.h"

#include "velmot/core/osyssync.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

class QORDEVICE;

class COMM : public SUBSYSLAYER<COMMAPI> {
public:
    // While one lives on a thread, the bytes that thread writes come from a
    // stored secret (an automatic login's password): the data trace gets
    // them as TRACE::SECRET and the debug log's byte trace leaves them out.
    class SECRETSCOPE {
    public:
        SECRETSCOPE();
        ~SECRETSCOPE();
        SECRETSCOPE(SECRETSCOPE const&) = delete;
        SECRETSCOPE& operator=(SECRETSCOPE const&) = delete;
    };
    static bool InSecretScope();

    static constexpr int PIPESIZE = 32768;
    static constexpr int READBUFSIZE = 1024;
    static constexpr int UNGETSIZE = 1024;
    static constexpr int DEVICEREADSIZE = 8192;
    // The result of GetPipeData when nothing was taken.
    static constexpr int PIPE_EMPTY = 232;

    explicit COMM(SESSIONLINK& session);
    ~COMM() override;

    void Cleanup() override;
    void SetCurrent(QORSUBSYSTEM* object) override;

    int Initialize() override;
    int OpenDevice(int devid, char const* devparm) override;
    void CloseDevice() override;
    int PrepareForFileTransfer(signed char mode) override;
    int CleanupAfterFileTransfer(signed char mode) override;
    int ProcessKey(KEYBOARDEVENT const& event) override;
    void UngetData(char* data, int n) override;
    void UngetData(wchar_t* data, int n) override;
    int QueryNumAvail() override;
    int QueryOnline() override;
    int QuerySpeed() override;
    void ReportStatus() override;
    int SendBreak() override;
    int ReadChar() override { return NextChar(0); }
    int WaitChar(int timeout_ms) override { return NextChar(timeout_ms); }
    void WriteChar(char c) override;
    void WriteData(char const* data, long len) override;
    int FeedData(char const* data, int len) override;
    int FeedMarker(wchar_t marker) override;
    int FlushInputBuffer(int keep) override;
    void PrintString(char const* text) override;
    void PrintStringW(wchar_t const* text) override;
    int PurgeLine(int timeout_ms, signed char echo) override;
    int Connect(char const* target) override;
    int AbortConnect() override;
    int Reset(signed char flag) override;
    int Disconnect() override;
    int AcceptCalls(signed char on) override;
    int MakeMenu(MENU const& menu, signed char force) override;
    int HandleMenuEvent(int id) override;
    void StartCommTimer(int ms) override;
    int HandleTimerEvent() override;
    int HandleDeviceCommand(char const* cmd, char* result, int max, void* data) override;
    int CanAccept() override;
    int TrackChanges() override;
    void SetSuppressAsyncChangeTracking(signed char on) override;
    int IsAcceptActive() override;

    // Takes up to *count entries from the front of the pipe, stopping after
    // the first marker; waits up to timeout_ms (in 50 ms steps) for data.
    // 0 with *count set, or PIPE_EMPTY with *count 0.
    int GetPipeData(uint32_t* buffer, int* count, int timeout_ms);

    // The byte counters: received, sent, received and sent during a transfer.
    uint32_t Counter(int which) const { return Counters[which].load(std::memory_order_relaxed); }
    int PipeFill();
    int PipeMaxFill();
    // How often a reading side woke a FeedData held back at the pipe's
    // limit (one that waited without asking is not counted).
    uint64_t WriterWakeups() const { return SemiPipe.wakeups.load(std::memory_order_relaxed); }
    QORDEVICE* Device() const { return CurDevice; }
    // The time (seconds since 1970) of the last byte read or written, and
    // the mark that something happened now (the keep-alive's own text).
    long long ActivityTime() const { return LastActivity.load(std::memory_order_relaxed); }
    void MarkActivity() { SetActivity(); }
    // How long CloseDevice waits for the reader thread before it gives the
    // thread up (the device's Close did not release its Read).
    void SetReaderStopLimit(int ms) { ReaderStopLimit = ms; }
    // The write queue: bytes that wait for the device, bytes dropped (the
    // main thread found no room), waiting until all went out (tests), and
    // dropping what waits (the far end hung up).
    size_t OutputPending() { return Writer.Pending(); }
    uint64_t OutputDropped() { return Writer.Dropped(); }
    bool WaitWritten(int ms) { return Writer.WaitWritten(ms); }
    void DropOutput() { Writer.Drop(); }

    // The next character for this thread, as WaitChar gives it. Inline for
    // the received-data road: a character left in the read buffer of the
    // thread that holds the reading side costs a few plain loads and a
    // store; everything else (the last entry of a batch, markers, the unget
    // stack, the hex trace, taking the next batch) goes the slow way.
    __attribute__((always_inline)) int NextChar(int timeout_ms) { return NextChar(timeout_ms, ThreadTag()); }
    // The same for a loop over many characters that keeps the calling
    // thread's tag (ThreadTag()) at hand.
    __attribute__((always_inline)) int NextChar(int timeout_ms, DWORD me)
    {
        int const at = ReadPtr;
        if (at < FastEnd && ReadOwner.load(std::memory_order_relaxed) == me) [[likely]] {
            ReadPtr = at + 1;
            return ReadBuf[at];
        }
        return NextCharSlow(timeout_ms);
    }
    // For a loop over received bytes on the thread with tag me: the bytes
    // of its read buffer that it may take now in one go (0 when the next
    // character must come through ReadChar), and taking the first n.
    int PeekRun(uint8_t const** run, DWORD me) const
    {
        int const at = ReadPtr;
        if (at < FastEnd && ReadOwner.load(std::memory_order_relaxed) == me) {
            *run = ReadBuf + at;
            return FastEnd - at;
        }
        return 0;
    }
    void TakeRun(int n) { ReadPtr += n; }
    // The calling thread's tag for the reading side's owner (never 0).
    static DWORD ThreadTag()
    {
        if (__builtin_expect(CurrentThreadTag == 0, 0))
            CurrentThreadTag = NewThreadTag();
        return CurrentThreadTag;
    }

private:
    struct READER;
    // A marker waiting in the side queue: its entry's place in the stream
    // (counted from the layer's start, modulo 2^32) and its value.
    struct MARKER {
        uint32_t at;
        uint32_t value;
    };
    static unsigned long ComBackgroundDaemonLauncher(MSGWORD parm);
    void ComBackgroundDaemon(READER& reader);
    template <class CHAR>
    void UngetEntries(CHAR const* data, int n);
    // Under the takers' lock: how many entries from the front (at out)
    // make the next batch of at most max; a marker among them ends it,
    // leaves the side queue and goes to *marker (0 when none).
    int BatchLength(uint32_t out, int max, uint32_t* marker);
    // Under the takers' lock: up to max entries from the front, ending
    // after the first marker. Bytes go to bytes (a marker's slot as 0); the
    // result is the number of entries, and *marker the marker that ended
    // them (0 when none did).
    int TakeEntries(uint8_t* bytes, int max, uint32_t* marker);
    // Under the takers' lock: the entries before out + n are gone.
    void DropFront(uint32_t out, int n);
    // A held-back FeedData waits until the fill is down to low (or the
    // device closes).
    void WaitForSpace(int low);
    // Waits up to timeout_ms, in 50 ms steps, while the pipe is empty;
    // false when it stayed empty.
    bool WaitForEntries(int timeout_ms);
    // Text goes out as UTF-8 (code page 1000, or the emulation asks for it).
    bool SendsUtf8();
    void TraceBytes(char direction, uint32_t value);
    void SetActivity();
    __attribute__((noinline)) int NextCharSlow(int timeout_ms);
    // Where the inline reading may go: all but the last byte of the read
    // buffer, and nothing while the unget stack holds entries, the hex
    // trace is on or no device is open.
    void UpdateFastEnd()
    {
        FastEnd = UngetCount == 0 && !HexTrace && CurDevice && ReadEnd > 0 ? ReadEnd - 1 : 0;
    }
    bool EnterReader();
    void LeaveReaderIfDone();
    void HandOverReader();
    bool MenuRefresh() const { return MenuRefreshWanted; }

    static DWORD NewThreadTag();
    static inline thread_local DWORD CurrentThreadTag = 0;

    SESSIONLINK& Session;
    int TraceColumn = 0;
    // The reading side: bytes of the last batch taken from the pipe, and
    // the marker that ended it (0 none), read after them.
    int ReadPtr = 0;
    int FastEnd = 0;
    int ReadEnd = 0;
    uint32_t ReadMarker = 0;
    uint8_t ReadBuf[READBUFSIZE] = {};
    uint32_t Unget[UNGETSIZE] = {};
    int UngetCount = 0;
    char WriteCells[2] = {};
    int WriteCell = 0;
    long long LastRecvLight = 0;
    QORDEVICE* CurDevice = nullptr;

    // The pipe: a ring of one byte per entry between the writers (the
    // reader thread's FeedData, FeedMarker) and the takers (the reading
    // side, GetPipeData, FlushInputBuffer). Entries are counted from the
    // layer's start (modulo 2^32): a writer fills the room behind `in` and
    // then moves it on, a taker copies entries from `out` and then moves it
    // on, so neither waits for the other; one lock per side orders the
    // writers and the takers among themselves. Each side keeps to cache
    // lines of its own.
    struct SEMIPIPE {
        uint8_t* data = nullptr; // a marker's slot holds 0
        int size = 0;
        alignas(64) std::atomic<uint32_t> in{0}; // entries written
        std::atomic<int> maxfill{0};
        FASTMUTEX Producer;
        alignas(64) std::atomic<uint32_t> out{0}; // entries taken
        FASTMUTEX Consumer;
        // The markers among the entries held, oldest first (their count is
        // published before the entry itself).
        alignas(64) std::mutex MarkerLock;
        std::deque<MARKER> markers;
        std::atomic<int> markercount{0};
        // A held-back FeedData that sleeps wants the fill at most lowwater
        // (-1: none does); a taker that gets it there moves space on and
        // wakes it (a futex: one system call, and none while nobody
        // sleeps).
        alignas(64) std::atomic<int> lowwater{-1};
        std::atomic<uint32_t> space{0};
        std::atomic<uint64_t> wakeups{0};
        // Takers waiting for data (they wait on Data, posted by a writer
        // that sees them).
        std::atomic<int> waiting{0};
        EVENTSEM Data;
    } SemiPipe;

    // The thread that holds the reading side (0 none).
    alignas(64) std::atomic<DWORD> ReadOwner{0};
    bool HexTrace = false;
    bool AcceptState = false;
    bool MenuRefreshWanted = true;
    bool SuppressAsyncTracking = false;
    EVENTSEM StopEvent;
    EVENTSEM GoEvent;
    std::shared_ptr<READER> Reader;
    std::atomic<bool> Stopping{false}; // CloseDevice runs: a held-back FeedData gives up
    int ReaderStopLimit = 5000;
    COMMWRITER Writer;
    std::atomic<uint32_t> Counters[4] = {};
    alignas(64) std::atomic<long long> LastActivity{0};
};
