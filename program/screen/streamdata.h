// STREAMDATA: the capture buffer of a session: the text the host sent, as
// a stream of bytes in the session's code page (UTF-8 for code page 1000),
// with optional time marks at line starts, for the capture viewer
// (browsestream.h) and the capture commands: clear, save, load, edit,
// print.
//
// The buffer keeps the newest text: when it is full the oldest quarter
// goes. Positions that readers keep are absolute stream positions (Base()
// is the position of the buffer's first byte), so a position stays right
// however the text moves; a position below Base() names text that is gone.
// Epoch() changes whenever text before the end changed (dropped, cleared,
// the buffer re-allocated), so a reader knows its counts must start anew.
//
// Threads: PutBuf runs on the thread that writes the session log (any);
// everything else on the main thread. The lock guards the text; readers
// (the viewer, save, print, edit) read under it or copy under it. Signals
// to a registered viewer (CAPTUREVIEWER) go out under the lock: 16 (about to
// be cleared) directly, the others as posted messages.
#pragma once

#include "velmot/core/osyssync.h"
#include "velmot/core/strings.h"

#include <cstddef>
#include <cstdint>
#include <string>

// What the capture buffer asks of its session and main window.
class STREAMDATAHOST {
public:
    virtual ~STREAMDATAHOST() = default;
    // The session's code page (1000: UTF-8) and its time-mark switch.
    virtual int CaptureCodePage() { return 1252; }
    virtual bool CaptureTimeMarks() { return false; }
    // The local time of day, for time marks.
    virtual void CaptureLocalTime(int* hour, int* minute, int* second, int* tenths);
    // A monotonic clock in milliseconds.
    virtual long long CaptureNowMs();
    // The folder the file questions start in.
    virtual std::string CaptureFolder() { return std::string(); }
    // File questions (empty: cancelled).
    virtual std::string AskSaveName(char const* title, char const* start) { return std::string(); }
    virtual std::string AskLoadName(char const* title, char const* start) { return std::string(); }
    // Reports a failed file operation on path; errno holds the reason.
    virtual void FileError(char const* path) {}
    // Opens the file in the configured editor.
    virtual void EditFile(char const* path) {}
    // A temporary file the session deletes when it ends.
    virtual void AddTempFile(char const* path) {}
    // A print job of the main window's print queue for the session
    // (titled with its host, in its code page); null when none opened.
    virtual void* OpenPrintJob() { return nullptr; }
    virtual void WritePrintJob(void* job, char const* bytes, int len) {}
    virtual void ClosePrintJob(void* job) {}
};

// The viewer of a capture buffer: receives the buffer's signals.
class CAPTUREVIEWER {
public:
    virtual ~CAPTUREVIEWER() = default;
    virtual bool Signal(int code, uintptr_t parameter) = 0;
};

class STREAMDATA {
public:
    // Signals to the viewer.
    static constexpr int SIG_CLEAR = 16;   // about to be cleared (delivered at once)
    static constexpr int SIG_NEWTEXT = 17; // text appended
    static constexpr int SIG_LOADED = 18;  // text loaded from a file
    static constexpr int SIG_TOFRONT = 19; // the viewer's window to the front
    static constexpr int SIG_MOVED = 20;   // text dropped (bytes) or re-allocated (0)
    static constexpr long MINKB = 64;
    static constexpr long MAXKB = 8192;
    // New-text signals are throttled above this many bytes.
    static constexpr size_t THROTTLEBYTES = 16383;
    static constexpr long long THROTTLEMS = 100;

    explicit STREAMDATA(STREAMDATAHOST& host);
    ~STREAMDATA();
    STREAMDATA(STREAMDATA const&) = delete;
    STREAMDATA& operator=(STREAMDATA const&) = delete;

    // The size in KB (64 to 8192); keeps the newest text.
    void SetBufSize(long kb);
    // Appends received text.
    void PutBuf(wchar_t const* text, long length);
    // A new-text signal that the throttle held back goes out now (the
    // session's tenth-of-a-second tick).
    void FlushSignal();
    // Empties the buffer (an open viewer is told first).
    void CaptClear();
    // Writes the text to a file (null: ask); a failure is reported.
    bool CaptSave(char const* name);
    // Appends a file's bytes (null: ask), as many as fit.
    bool CaptLoad(char const* name);
    // The text in a new private temporary file, opened in the editor.
    bool CaptEdit();
    // The text to the print queue.
    bool CaptPrint();
    bool QueryCaptureFilled();
    void RegisterViewer(CAPTUREVIEWER* viewer);

    // For readers: the lock, and under it the buffer's text.
    MUTEXSEM& Lock() { return BufLock; }
    char const* Data() const { return Buffer; }
    size_t Length() const { return static_cast<size_t>(WritePos - Buffer); }
    size_t Size() const { return BufSize; }
    uint64_t Base() const { return BaseAbs; }
    uint64_t End() const { return BaseAbs + Length(); }
    uint64_t Epoch() const { return EpochCount; }
    // The position after the last line break stored: bytes before it do
    // not change until the epoch does.
    uint64_t StablePos() const { return Stable; }
    // The session's code page (1000 or UTF-8 as set by the host).
    int CodePage() { return Host.CaptureCodePage(); }
    // A copy of the kept text (takes the lock).
    std::string Copy();

private:
    void DropQuarter();
    void Signal(int code, uintptr_t parameter);
    bool WriteFile(std::string const& path, std::string const& text, int mode);

    STREAMDATAHOST& Host;
    MUTEXSEM BufLock;
    char* Buffer = nullptr;
    char* WritePos = nullptr;
    uint32_t BufSize = 0;
    long long LastViewerUpdate = 0;
    bool SignalPending = false;
    int32_t Column = 0;
    bool AtLineStart = false;
    CAPTUREVIEWER* Viewer = nullptr;
    uint64_t BaseAbs = 0;
    uint64_t EpochCount = 0;
    uint64_t Stable = 0;
};
