// TRACE: the data trace of a session: every block received and sent as a
// readable text trace ("qortrace.txt", appended to), the raw bytes of each
// direction ("qortrcin.bin", "qortrcout.bin", started anew), and the live hex
// dump that replaces the terminal's display of received data.
//
// The files live in the capture folder (the work folder's "CapturePath").
// Blocks arrive from the device's reader thread (received) and from every
// thread that sends; one lock orders the writes, the opening and closing.
// The files are flushed on the session's one-second tick when something was
// written, and when closed.
//
// The trace records typed bytes, passwords included, by design; the status
// line shows TRACE while a trace file is open, and no debug level switches
// a trace on. Bytes the program sends from a stored secret (an automatic
// login's password) arrive as direction SECRET and show as "{secret}" in
// the text trace.
//
// A failing write (disk full, any error) closes that file and tells the
// user once; the file is tried again when its switch goes off and on.
#pragma once

#include "program/session/logfile.h"

#include "velmot/core/osyssync.h"

#include <cstdint>
#include <string>

class SESSION;

class TRACE {
public:
    // Directions: received, sent, sent from a stored secret.
    static constexpr char RECEIVED = 'I';
    static constexpr char SENT = 'O';
    static constexpr char SECRET = 'S';
    // The mode before the first TraceTracker.
    static constexpr int MODE_UNSET = 157;

    explicit TRACE(SESSION& session);
    virtual ~TRACE();
    TRACE(TRACE const&) = delete;
    TRACE& operator=(TRACE const&) = delete;

    // Closes every file (no end line); a closed trace records nothing.
    void Cleanup();
    // One block of one direction (any thread).
    void Trace(char direction, char const* data, int len);
    // Applies the switches of the profile (main thread).
    void TraceTracker(signed char ascii, signed char binary, signed char hexdump, signed char force);
    // Bytes onto the screen as a hex dump; len -2 starts a new dump line
    // (main thread).
    void HexDump(char const* data, int len);
    // Flushes the files written since the last flush (the one-second tick).
    void FlushFiles();
    // Whether a trace file is open.
    bool IsTracing();

    // The text trace's forms: one block's record (stamp in milliseconds),
    // the stamp "%05ld.%02ld", the begin and end lines.
    static void FormatRecord(std::string& out, char direction, char const* data, int len, long long stampMs);
    static std::string Stamp(long long ms);
    static std::string BeginLines(long long ms);
    static std::string EndLines(long long ms);
    // The files' names in the capture folder.
    static char const* const TEXTFILE;
    static char const* const INFILE;
    static char const* const OUTFILE;

private:
    void AsciiTrace(char direction, char const* data, int len);
    void BinaryTrace(char direction, char const* data, int len);
    // Opens one file of the capture folder; false (and the user told) when
    // it cannot be opened.
    bool OpenFile(LOGFILE& file, char const* name, LOGFILE::MODE mode);
    // Closes a file whose write failed and tells the user (under Lock).
    void WriteFailed(LOGFILE& file);
    void Report(std::string const& path, int err);
    void NewDumpLine();
    std::string Folder();

    SESSION& Session;
    int Column = 0;
    int Mode = MODE_UNSET;
    std::string Text; // the printable column of the dump line (code page 1252)
    bool Closed = false;
    MUTEXSEM Lock;
    LOGFILE TextFile, OutFile, InFile;
    // A file whose write failed stays shut until its switch goes off.
    bool TextFailed = false, BinFailed = false;
};
