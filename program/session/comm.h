// COMM: a session's communication layer, the device host (type DEV) and the
// one place through which the session and the plug-ins read and write the
// connection.
//
// One device is open at a time. Its reader thread moves the device's bytes
// into the input pipe (32,768 entries of 32 bits; a quarter of it while no
// transfer runs), wakes the session for every batch and is held back while
// the pipe is full; the reading thread takes the characters one by one with
// an unget stack in front. On the way out come the send translation, the
// optional software even parity, the output hook, the trace and the counters.
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
#include "program/session/subsys.h"

#include "velmot/core/osyssync.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class QORDEVICE;

class COMM : public SUBSYSLAYER<COMMAPI> {
public:
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
    int ReadChar() override;
    int WaitChar(int timeout_ms) override;
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
    QORDEVICE* Device() const { return CurDevice; }
    // The time (seconds since 1970) of the last byte read or written, and
    // the mark that something happened now (the keep-alive's own text).
    long long ActivityTime() const { return LastActivity.load(std::memory_order_relaxed); }
    void MarkActivity() { SetActivity(); }
    // How long CloseDevice waits for the reader thread before it gives the
    // thread up (the device's Close did not release its Read).
    void SetReaderStopLimit(int ms) { ReaderStopLimit = ms; }

private:
    struct READER;
    static unsigned long ComBackgroundDaemonLauncher(MSGWORD parm);
    void ComBackgroundDaemon(READER& reader);
    void PushUnget(uint32_t const* entries, int n);
    void UngetEntries(std::vector<uint32_t> const& entries);
    // Under the pipe's lock: the n oldest entries are gone.
    void DropFront(int n);
    // Text goes out as UTF-8 (code page 1000, or the emulation asks for it).
    bool SendsUtf8();
    void TraceBytes(char direction, uint32_t value);
    void SetActivity();
    __attribute__((always_inline)) inline int NextChar(int timeout_ms);
    __attribute__((noinline)) int NextCharSlow(int timeout_ms);
    bool EnterReader();
    void LeaveReaderIfDone();
    void HandOverReader();
    bool MenuRefresh() const { return MenuRefreshWanted; }

    SESSIONLINK& Session;
    int TraceColumn = 0;
    uint32_t ReadBuf[READBUFSIZE] = {};
    int ReadPtr = 0;
    int ReadEnd = 0;
    uint32_t Unget[UNGETSIZE] = {};
    int UngetCount = 0;
    char WriteCells[2] = {};
    int WriteCell = 0;
    long long LastRecvLight = 0;
    QORDEVICE* CurDevice = nullptr;

    // The pipe is shared with the reader thread; the reading side's state
    // (read buffer, unget stack, flag) keeps to cache lines of its own.
    struct alignas(64) SEMIPIPE {
        uint32_t* data = nullptr;
        int size = 0;
        int head = 0; // index of the oldest entry
        int fill = 0;
        int maxfill = 0;
        int markers = 0;    // markers among the entries held
        int lowwater = -1;  // a held-back FeedData wants the fill at most this
        FASTMUTEX Lock;     // head, fill and the counts
        FASTMUTEX Producer; // one writer at a time fills the room it reserved
        EVENTSEM Data;  // set while the pipe holds entries
        EVENTSEM Space; // posted when a held-back FeedData may go on
        std::atomic<bool> spaceposted{false}; // the same, for a spinning FeedData
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
    std::atomic<uint32_t> Counters[4] = {};
    alignas(64) std::atomic<long long> LastActivity{0};
};
