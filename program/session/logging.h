// LOGGING: the session's record of what the host sends: the capture (log)
// file, the audit log, printer logging and the capture buffer, all fed by
// LogWide; the calls log of the program (one line per connection start and
// end and per transfer); deleting old logs.
//
// The capture file's name is a template with caret notation (date, time,
// host): TrackLogname starts a new file when the expanded name changes
// (minutes and seconds "^5", "^6" are not followed). Files are created 0600
// in folders made 0700; an existing file keeps its mode.
//
// The user's files are safe from the log: with "CaptAppend" off an existing
// file is replaced only when the user says so (a file this session created
// is replaced without asking; a switch by the host (DC2) or an unattended
// one appends instead), an empty file is deleted on close only when this
// session created it, and a received backspace takes back only what this
// session wrote since the last line start (in UTF-8 a whole character, and
// the file ends there, so no part of a longer character stays behind).
//
// A write that fails (disk full, any error) closes that file and tells the
// user once (the status line shows "IDS_LOGFILEERROR"); logging is tried
// again when it is switched on. Files are flushed on the session's
// one-second tick when something was written, and when closed.
//
// The administrator's "DisableLogging" keeps the capture file shut on every
// road (commands, profile, the host's DC2); "AuditLogFilename" names the
// audit log, which nothing but the session's end closes.
//
// Threads: LogWide may come from plug-in threads; the write lock keeps one
// call's text together. The file lock (recursive) guards the capture and
// audit files against the tick and the switches.
#pragma once

#include "program/session/logfile.h"

#include "velmot/core/osyssync.h"

#include <cstdint>
#include <functional>
#include <set>
#include <string>

class SESSION;

class LOGGING {
public:
    // What a capture file needs to know of the bytes it got: the line state
    // for time marks and the bytes this session wrote since the last line
    // start (the only ones a backspace may take back).
    struct CAPTURESTATE {
        bool LineStart = false;
        int64_t LineBytes = 0;
        std::string Tail; // the last bytes of the current line (for UTF-8 backspaces)
    };
    // The local time of day for time marks.
    using LOCALTIME = std::function<void(int* hour, int* minute, int* second, int* tenths)>;

    explicit LOGGING(SESSION& session);
    ~LOGGING();
    LOGGING(LOGGING const&) = delete;
    LOGGING& operator=(LOGGING const&) = delete;

    // 8-bit text in the session's code page (len -1: to the zero).
    int Log(char const* text, int len);
    // Received text to the capture file, the audit log, the printer job and
    // the capture buffer.
    int LogWide(wchar_t const* text, int len);
    void PutFile(wchar_t const* text, long len);
    void PutPrinter(wchar_t const* text, long len);

    // Opens (1) or closes (0) the capture file; whether it is open. byHost:
    // switched by the host's DC2 (never asks).
    bool SetFileLogging(signed char on, bool byHost = false);
    // A new name template (null: the current file part); 0 when nothing
    // changed, else the result of opening anew.
    int SetLogname(char const* name, signed char force);
    void TrackLogname();
    void MakeCurrentName();
    // The file part of the capture file's name, or "IDS_LOGFILEERROR".
    void QueryLogname(char* buffer, int size);
    // The audit log: opened with its name (expanded, in the capture
    // folder); true when open or no name was given. A name other than the
    // administrator's is refused while the administrator names one.
    bool SetAuditLogname(char const* name);
    void CloseAuditLog();
    void SetPrinterLogging(signed char on);
    bool PrinterLogging();
    // Flushes what was written since the last flush.
    void FlushFiles();
    // Appends one line to the calls log ("CallingLogFile" in the capture
    // folder; a new file starts with its 200-byte header). For the
    // connection code: "C+", "C#", "C-" lines and the transfers' "UL"/"DL".
    void CallsLogEntry(char const* line);
    // Deletes log files: the one named, or those the user picks (null).
    void DeleteLogfiles(char const* path);

    // State, for the status line, the menus and tests.
    bool IsFileOpen();
    bool InError();
    std::string OpenName();
    std::string CurrentName();
    bool IsAuditOpen();

    // The capture file's rules (time marks, backspace) over bytes already
    // in the file's code page; false when a write failed.
    static bool PutCapture(LOGFILE& file, CAPTURESTATE& state, char const* bytes, size_t n, bool timeMarks,
                           bool utf8, LOCALTIME const& clock);
    // The calls log's header of a new file.
    static char const* const CALLSLOGHEADER;

    // The clock of time marks (tests set a fixed one).
    LOCALTIME LocalTime;
    // The waits between attempts to open the calls log.
    int CallsLogRetryMs = 50;

private:
    std::string Expand(char const* text, size_t max);
    std::string CaptureFolder();
    void CloseCapture();
    // A failed write of a file (under FileLock): closed, user told once.
    void CaptureFailed();
    void AuditFailed();
    void Report(std::string const& path, int err);
    void RefreshStatus();
    bool AskReplace(std::string const& path);

    SESSION& Session;
    MUTEXSEM WriteLock;
    MUTEXSEM FileLock;
    void* PrinterJob = nullptr;
    LOGFILE Audit;
    LOGFILE Capture;
    bool NewFile = false;
    std::string OpenPath;
    CAPTURESTATE Line;
    bool Error = false;
    std::string Template;
    std::string Current;
    std::string Tracking;
    std::string FilePart;
    std::string AuditName;
    long long LastWrite = 0;
    // Files this session created (replacing them needs no question).
    std::set<std::string> Created;
};
