// SCROLLBACKBUFFER, the rows that have scrolled off the top of a session's
// screen.
//
// Rows are stored packed: one block per row holding the row's length,
// its attribute runs (one 8-byte record per run of cells with equal
// attribute, extra bits and colours: a VIOCELL whose character field holds
// the run's length) and its characters (one byte each when all are below
// 256, else two), without the trailing run of blanks that repeats the last
// cell. UnpackLine expands a row into cells again. A typical 80-column text
// row takes some 60 to 100 bytes instead of 648.
//
// The history is drawn dimmed: a row added while dimming is on carries a
// flag, and UnpackLine gives its cells with the half-tone bit 0x0008. The
// cells themselves keep their own attributes, so a row that goes back to the
// screen (PopLine, PopFullWrappedLine) comes back exactly as it was, less
// blinking, which history never has.
//
// Threads: rows arrive on whichever thread feeds the screen; the viewer and
// the re-wrap read on the main thread. Every access to the table and its
// counters is under the buffer's own recursive lock. Lock order: the screen
// lock before this one, never the other way round.
#pragma once

#include "plugins/sdk/vioapi.h"
#include "velmot/core/osyssync.h"

#include <atomic>
#include <memory>
#include <cstdint>
#include <string>
#include <vector>

class SCROLLBAR;
class SCROLLBACKWIN;
class VIO;

// What the buffer asks of its session. The defaults do nothing.
class SCROLLBACKHOST {
public:
    virtual ~SCROLLBACKHOST() = default;
    // Posts a user message (1025 lines added, 1027 cleared) to the viewer.
    virtual void PostToViewer(SCROLLBACKWIN* viewer, int message) {}
    // Whether the session shows in a background tab.
    virtual bool IsBackgroundTab() { return false; }
    // Sets the scroll bar to a position, a visible amount and a range.
    virtual void SetScrollbar(SCROLLBAR& bar, int position, int page, int min, int max) {}
    // Counts one pending scroll-bar update; the session's periodic update
    // turns them into one SetScrollbars.
    virtual void ScrollbarUpdatePending() {}
    // The scroll-back commands have become available.
    virtual void UpdateToolbarAndMenu() {}
    // The program setting ScrollbackNoDim.
    virtual bool NoDim() { return false; }
    // The program setting ScrollEditFile, relative to the work folder, with
    // the session's control sequences expanded; empty when there is none.
    virtual std::string ScrollEditFile() { return std::string(); }
    // A file error for the main window to report (the name may be empty
    // when no file is set).
    virtual void FileError(char const* fileName) {}
    // Opens a file in the configured editor.
    virtual void EditFile(char const* fileName) {}
    // Puts text on the clipboard: bytes in the code page (the buffer hands
    // UTF-8, UNICODE_CPUTF8).
    virtual void PutClipboardText(std::string const& bytes, int codePage) {}
    // The session's current code page.
    virtual int SessionCodePage() { return 1252; }
};

class ROWSTORE;

// One stored row: its packed data (null for an empty slot).
struct SCROLLLINE {
    uint8_t* Data;
};

class SCROLLBACKBUFFER {
public:
    explicit SCROLLBACKBUFFER(SCROLLBACKHOST* host = nullptr);
    ~SCROLLBACKBUFFER();
    SCROLLBACKBUFFER(SCROLLBACKBUFFER const&) = delete;
    SCROLLBACKBUFFER& operator=(SCROLLBACKBUFFER const&) = delete;

    void SetHost(SCROLLBACKHOST* host) { Host = host ? host : &NullHost; }
    // The screen whose rows the saving writes after the stored lines.
    void AttachScreen(VIO* screen) { Screen = screen; }

    // Sets the capacity from the setting ScrollbackLines (0 .. 64000; a
    // non-zero value below 100 becomes 100). A changed capacity discards the
    // stored lines. bar may be null (nothing to update).
    void MakeScrollback(int lines, SCROLLBAR* bar);
    // Appends one row; notify is set for the last row of a batch.
    void AddLine(VIOCELL const* cells, int length, signed char notify);
    // Takes the newest row (or only copies it with keep): its length, or -1
    // when there is none. *out receives a block from new[] (free it with
    // delete[]).
    int PopLine(VIOCELL** out, signed char keep);
    // Takes the newest logical line, joined from its wrapped rows, oldest
    // row first; with onlyWrapped only when its newest row ends with the
    // wrapped mark. Returns the cell count (0: nothing taken).
    int PopFullWrappedLine(VIOCELL** out, signed char onlyWrapped);
    // How many stored rows the newest logical line spans (rows counted from
    // the newest one backward while the older one ends wrapped), at most
    // limit + 1; with onlyWrapped 0 when the newest row does not end wrapped.
    int CountWrappedRows(int limit, bool onlyWrapped);
    // Copies up to max cells of a stored line as they are drawn (dimmed
    // history, the link highlight); the count copied.
    int UnpackLine(int line, VIOCELL* out, int max);
    // Copies up to max - 1 characters of a stored line and a zero: the
    // cells' codes, the text of a cell that refers to the screen's table of
    // characters (as long as all of it fits).
    int UnpackLine(int line, wchar_t* out, int max);
    // Appends the text of a stored line (right halves left out, characters
    // with their marks); the line's cell count.
    int GetLineText(int line, std::u32string& out);
    // Marks in a bitmap (VIOCHARS::kCapacity bits) the entries of the
    // screen's table of characters that stored lines refer to.
    void MarkChars(std::vector<uint64_t>& live);
    // The cell count of a stored line (0 for none).
    int LineLength(int line);
    int QueryFilled() const { return NumLines; }
    void RegisterViewer(SCROLLBACKWIN* viewer);
    void SetScrollbars(SCROLLBAR& bar, int page);
    void ClearAll();
    // 0 the scroll-back file, 1 that file in the editor, 2 the clipboard.
    // The file is written in UTF-8.
    void SaveScrollbackDataToDestination(int dest);
    // The link highlight of the viewer: columns from .. to (inclusive) of
    // line get the link bit when unpacked; line -1 clears it.
    void SetHoverLink(int line, int from, int to);

    // Bytes the buffer holds: the chunks and rows of its store and its
    // table.
    size_t MemoryUsed();
    // The packed size of one stored line.
    size_t LineBytes(int line);

    // The buffer's lock as its own operations take it: a thread that holds
    // it through a GUARD does not take it again. The screen holds one
    // through a whole write, so that each scrolled row costs no lock.
    class GUARD {
    public:
        explicit GUARD(SCROLLBACKBUFFER& sb);
        ~GUARD();
        GUARD(GUARD const&) = delete;
        GUARD& operator=(GUARD const&) = delete;

    private:
        SCROLLBACKBUFFER& Buffer;
        SCROLLBACKBUFFER const* Previous = nullptr;
        bool Took = false;
    };

    // The application-wide switch that suspends recording (off by
    // default).
    static std::atomic<bool> RecordingSuspended;

    // Guards the table and the counters.
    MUTEXSEM Lock;
    // Capacity: -1 never set, 0 off, otherwise at least 100.
    int MaxLinesLimit = -1;
    int NumLines = 0;
    // The stored line shown in the viewer's top row; NumLines when the view
    // is at the live screen.
    int CurLineIdx = 0;
    int SelStartLine = -1, SelStartCol = -1;
    int SelEndLine = -1, SelEndCol = -1;
    int SelMode = 0;
    int HoverLine = -1;
    int HoverFrom = -1, HoverTo = -1;
    SCROLLBACKWIN* Viewer = nullptr;

private:
    void FreeTable();
    void DropOldest(int n);

    SCROLLBACKHOST NullHost;
    SCROLLBACKHOST* Host;
    VIO* Screen = nullptr;
    SCROLLLINE* Lines = nullptr;
    int TableSize = 0;
    std::unique_ptr<ROWSTORE> Store;
    // Scratch for the attribute runs of the row being packed.
    std::vector<uint64_t> Runs;
};
