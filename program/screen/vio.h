// VIO, the character-cell screen of one session.
//
// The screen keeps a row table of height + 1 records (the last one zero);
// each row holds width cells and an end-cell sentinel. The emulations write
// through the VIOAPI operations; writes never draw: they mark the changed
// area dirty, the dirty area becomes an invalidation of the session window,
// and the window's paint event draws the cells (viopaint.cpp).
//
// Files: vio.cpp (rows, locks, state, Do), viowrite.cpp (text, the cell
// writer, scrolling, moving, erasing), vioutils.cpp (colours, reading
// cells, selection, link hover), viorewrap.cpp (resize), viocursor.cpp
// (dirty areas and their flush, cursor, blinking, font), viopaint.cpp
// (painting cells), viographics.cpp (box drawing, blocks and symbols as
// geometry).
//
// Threads: the emulations write from the session's thread, painting runs
// on the main thread. Every cell change happens under the screen lock, a
// recursive MUTEXSEM; writers wait for it without limit, painting at most
// 10 or 50 ms and paints later otherwise. VIOHOST::Invalidate is called
// under the lock from either thread.
#pragma once

#include "plugins/sdk/vioapi.h"
#include "program/screen/viochars.h"
#include "velmot/core/osyssync.h"
#include "velmot/core/strings.h"
#include "velmot/core/unicode.h"
#include "velmot/gui/wintypes.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class WINDC;
class CELLPAINTER;

class SCROLLBACKBUFFER;
class MEMORYBITMAP;
struct PAINTSTRUCT;

// The session profile's values that the screen reads. Colour options hold
// 0 for "not set", else the colour number + 1.
struct VIOPROFILE {
    int ColorFore = 7;
    int ColorBack = 0;
    int ColorBlink = 0;
    int ColorItalic = 0; // underlined text
    int ColorBold = 0;
    int ColorDim = 0;
    int ColorCursor = 0;
    int ColorMark = 0;
    int Transparency = 0; // percent
    int CodePage = 1252;
    int JumpScroll = 1;   // 0..3: flushes every 20, 40, 83 or 166 ms inside a draw bracket
    int Antialias = 1;
};

// The program settings that the screen reads.
struct VIOSETTINGS {
    int CursorBlinkDelay = 0; // ms; 0 = 333
    bool ScrollbackIncludeAltScreens = false;
};

// What the screen asks of its session, its window and the main window. The
// session implements it; the defaults do nothing, so a screen without a
// session (tests, tools) works on its own.
class VIOHOST {
public:
    virtual ~VIOHOST() = default;

    // Marks a rectangle of the session window (pixels; null: all of it) for
    // repainting. Called under the screen lock from the writing thread or
    // the main thread: must not block and must not take the screen lock.
    virtual void Invalidate(RECT const* rect) {}
    // Repaints the invalid area now (main thread, for the visual bell).
    virtual void RedrawNow() {}
    // The client size of the session window; (0, 0) when unknown.
    virtual SIZE ClientSize() { return SIZE{}; }
    // Whether the session window has the keyboard focus (message 1039).
    // Called under the screen lock from the writing thread: it must not
    // wait for the main thread (which may be waiting for the lock).
    virtual bool HasFocus() { return true; }
    // The window timers 257 (cursor and text blink) and 258 (visual bell);
    // they call VIO::OnTimer on the main thread.
    virtual void StartTimer(int id, int ms) {}
    virtual void StopTimer(int id) {}
    virtual void MinimizeWindow(bool minimize) {}
    virtual void MoveWindow(int x, int y) {}
    // The main window's shadow refresh after a paint (transparency).
    virtual void PostShadow(int transparency) {}
    // The main window reloads the system colour table.
    virtual void LoadSysColors() {}
    // The status line shows the cursor position (called without the lock).
    virtual void NewCursorPos(int x, int y) {}
    // The emulation re-reads the cursor after a resize.
    virtual void SyncCursorPos() {}
    // The scroll bar reflects the scroll-back's new size.
    virtual void UpdateScrollbarNow() {}
    // The command-line value "WINDOWFRAME" for the program-wide window
    // frame parameter.
    virtual void ReadWindowFrameArgument() {}
    // Loads the terminal font of a description text (null: the default
    // terminal font for 10 points), falling back to other fonts when it
    // cannot be loaded; *bold may change. The screen owns the font. Null
    // (the default) leaves the screen without a font: it keeps its cells
    // but draws nothing. Called under the screen lock by Init and SetFont,
    // on the thread that calls them; fonts are the main thread's.
    virtual COREFONT* LoadFont(wchar_t const* fontString, signed char* bold, int codePage) { return nullptr; }
};

// One row record: the line attribute (VIOLINE_*) and the row's cells
// (width cells and the sentinel).
struct VIOROW {
    int32_t LineAttr;
    VIOCELL* Cells;
};

class VIO : public VIOAPI {
public:
    explicit VIO(VIOHOST* host = nullptr, SCROLLBACKBUFFER* scrollback = nullptr);
    ~VIO() override;
    VIO(VIO const&) = delete;
    VIO& operator=(VIO const&) = delete;

    // ---- VIOAPI ----
    void Init(int width, int height) override;
    void InitWithFont(int width, int height, wchar_t const* fontString, signed char flag) override;
    void Cleanup() override;
    void conputs(char const* text, long length) override;
    void conputws(wchar_t const* text, long length) override;
    int TextToWindow(WINDC& dc, int column, int row, POINT at, VIOCELL const* cells, int count, int endColumn,
                     int mode, int markFrom, int markTo, wchar_t* buffer) override;
    int AccessVioScreen(int* width, int* height, signed char unused) override;
    VIOCELL* AccessVioCell(int index) override;
    VIOCELL* AccessVioCell(int x, int y, signed char markDirty) override;
    void ReleaseVioScreen(signed char update) override;
    void SetScreenAttr(int back, int fore, int attrib) override;
    void SetFont(wchar_t const* fontString, signed char flag) override;
    int GetFont(wchar_t* buffer, int size, signed char* flag) override;
    void GetFontSize(int* cellWidth, int* cellHeight) override;
    void GetString(char* buffer, int* length, int x, int y, int codePage, signed char* wrapped) override;
    void GetString(wchar_t* buffer, int* length, int x, int y, signed char* wrapped) override;
    void GetCells(VIOCELL* buffer, int* count, int x, int y) override;
    void GetCursorPos(int* x, int* y) override;
    uint32_t GetSysColor(int colour) override;
    void SetCodepage(int codePage) override;
    void SetCursorPos(int x, int y) override;
    void SetInverse(int on) override;
    void SetMode(int n) override;
    void SetWinSize(int width, int height) override;
    void ScrollArea(int x1, int y1, int x2, int y2, int lines, int mode) override;
    void MoveArea(int fromX, int fromY, int toX, int toY, int count) override;
    void WriteByte(char c, int count, int x, int y, int attrib) override;
    void WriteWideByte(wchar_t c, int count, int x, int y, int attrib) override;
    void Erase(int x, int y, int length, int eraseProtected, char fill) override;
    int ScreenToScrollback(int fromRow) override;
    int Do(int code, int p0, int p1) override;
    bool IsUpAndRunning() override { return Running; }
    void GetWinSize(int* width, int* height) override;
    int GetCodepage() override { return CodePage; }
    int GetBackgroundColor() override { return CurBack; }
    void SetDrawBracket(signed char begin) override { Do(VIODO_DRAWBRACKET, begin, 0); }
    int SetAltScreen(signed char on) override { return Do(VIODO_ALTSCREEN, on, 0); }
    void SetCursorOnOff(signed char on) override { Do(VIODO_CURSORONOFF, on, 0); }
    void SetCursorType(signed char block, int style) override { Do(VIODO_CURSORSHAPE, block, style); }
    int GetCursorType() override { return Do(VIODO_GETCURSORTYPE, -1, -1); }
    void SetCursorType(int raw) override { Do(VIODO_SETCURSORTYPE, raw, -1); }
    void SetCursorBlinkSkip() override;
    void SetColors(int back, int fore) override { Do(VIODO_COLORS, fore, back); }
    int SetModeFlags(int attrib) override { return Do(VIODO_ATTRIB, attrib, 0); }
    void SetLineEndFlag(int x, int y) override { Do(VIODO_LINEEND, x, y); }
    COREFONT* GetFontHandle() override { return Font; }
    void SetMarkArea(int mode, int x1, int y1, int x2, int y2, signed char repaint) override;
    int GetMarkArea(int* mode, int* x1, int* y1, int* x2, int* y2) override;
    int ClearMarkArea(signed char repaint) override;
    int FlashWindow() override;
    void SetXtermColor(char const* text) override;
    int WriteCells(int x, int y, wchar_t const* text, int count, int attrib, int fore, int back) override;

    // ---- Cells, rows and colours (vio.cpp, vioutils.cpp) ----
    void Cleanup2();
    // The sentinel that closes every row, and the check of all of them
    // (each differing field is reported).
    static VIOCELL ScreenMakeEndCell();
    bool ScreenValidateEndCell();
    VIOROW const* Rows() const { return RowTable; }
    int LineAttr(int y) const { return RowTable && y >= 0 && y < ScreenHeight ? RowTable[y].LineAttr : 0; }
    bool InheritAttrib(signed char repaint);
    void AttribToColors(int attrib, int fore, int back, uint32_t* foreRGB, uint32_t* backRGB);
    uint32_t GetBackgroundColorRGB(signed char withAlpha);
    void InitXtermColors();
    uint32_t GetXtermColor(int index);
    void SetXtermColor(int index, uint32_t rgb);
    // The program-wide table of 32 system colours the screen reads (the
    // main window points it at its table); DefaultSysColors until then.
    static void SetSysColorTable(uint32_t const* table32);
    static uint32_t const DefaultSysColors[32];
    bool HandleMouseHover(int x, int y, STRING* link);
    void SetHost(VIOHOST* host) { Host = host ? host : &NullHost; }
    void SetScrollback(SCROLLBACKBUFFER* scrollback) { Scrollback = scrollback; }
    SCROLLBACKBUFFER* GetScrollback() const { return Scrollback; }

    // ---- Text of cells (vioutils.cpp) ----
    // Characters beyond U+FFFF and characters with combining marks, which
    // cells refer to (viochars.h); the scroll-back reads its rows' text
    // through it.
    VIOCHARS Chars;
    // Appends the text a cell shows: nothing for the right half of a
    // double-width character, a blank for a cell never written, the
    // character with its marks for a cell that refers to the table.
    void AppendCellText(VIOCELL cell, std::u32string& out) const;
    // The character a cell shows, without its marks.
    char32_t CellChar(VIOCELL cell) const;
    // The text of `count` cells from (x, y) in linear order, stopping at the
    // end of the screen, appended to `out`; *wrapped (may be null) tells
    // whether the last cell read has the wrapped mark. The cells read.
    int GetText(std::u32string& out, int count, int x, int y, signed char* wrapped);
    // The cell bits for a text (a character and its marks): itself when it
    // is one character of the Basic Multilingual Plane, else a reference to
    // the table (swept first when a sweep is due).
    uint64_t TextCode(std::u32string_view text);
    // Frees the table's entries that no cell of the screen or the
    // scroll-back refers to.
    void SweepChars();

    // ---- Writing (viowrite.cpp) ----
    // The cell writer: stores c (converted from the screen code page unless
    // wide) at a linear cell index with the current colours.
    void CharToMem(wchar_t c, int index, int attrib, bool wide);
    // Writes text from (x, y) in linear order with the current attribute;
    // returns the number of extra cells taken by double-width characters.
    int TextToMem(wchar_t const* text, int length, int x, int y);

    // ---- Resize (viorewrap.cpp) ----
    void RewrapScreen(int newWidth, int newHeight, VIOCELL const* old, int oldWidth, int oldHeight);

    // ---- Painting (viopaint.cpp) ----
    void MarkCellsDirty(int x, int y, int columns, int rows, int how);
    void MarkDirty(RECT const* rect, int how);
    void FlushDirty();
    void OnPaint(PAINTSTRUCT& ps);
    void RepaintInRect(WINDC& dc, RECT const& rect, signed char mode);
    void PaintAll(WINDC& dc, signed char mode);
    int MemToScreen(WINDC& dc, int* x, int* y, long cells, signed char mode);
    void UpdateCursor();
    // Hides the cursor before a change (not inside a draw bracket); true
    // when this call hid it.
    bool HideCursor();
    RECT GetCursorRect(signed char fullHeight, signed char lineAttr);
    int OnFocusLost();
    int OnFocusAcquired();
    int OnTimer(int id);
    void OnResized(signed char hidden);
    bool OnShowHide(signed char visible);
    MEMORYBITMAP& LockBitmap(signed char repaint);
    int ReleaseBitmap(MEMORYBITMAP& bitmap);
    // A run on a row of double width or height (line attribute 3, 4 or 6):
    // drawn at its normal size and stretched into the row (`run` is its
    // rectangle there, the cursor rectangle too).
    // A cell with a character and its marks comes as `cluster` (text then
    // holds its first character).
    void RenderLinemodeText(WINDC& dc, RECT const& run, wchar_t const* text, int length, int lineAttr, uint32_t fore,
                            uint32_t back, uint32_t flags, RECT const* cursor, uint32_t cursorColour,
                            std::u32string_view cluster = {});
    // Sets the cell size directly (SetFont does it from the font).
    void SetCellSize(int width, int height);
    RECT DirtyArea() const { return DirtyRect; }

    // ---- Graphic characters (viographics.cpp) ----
    // One table row: the character, its shape bits (0x000F quadrants,
    // 0x00F0 single lines up/right/down/left, 0x0F00 double lines, 0x8000
    // a drawn symbol) and the centre pattern that tidies double-line
    // junctions ("+" fill, "-" clear, "." leave; rows split by "/").
    struct GRAPHCHAR {
        uint16_t c;
        uint16_t bits;
        char const* centre;
    };
    static GRAPHCHAR const GraphChars[];
    static bool IsGraphicChar(wchar_t c);
    // Draws a run of graphic characters, each in its own cell rectangle;
    // cursorIndex is the run's cursor cell (-1: none) and cursorColour the
    // profile's cursor colour (0: none, the cursor is inverted afterwards).
    void RenderGraphicChars(WINDC& dc, RECT const& run, VIOCELL const* cells, int n, int cellWidth, int cellHeight,
                            int lineAttr, uint32_t fore, uint32_t back, int cursorIndex, uint32_t cursorColour);
    static void RenderLine(WINDC& dc, RECT const& cell, int bits, uint32_t fore);
    static void RenderQuarterBlock(WINDC& dc, RECT const& cell, int bits, uint32_t fore);
    static void CorrectCenter(WINDC& dc, RECT const& cell, char const* pattern, uint32_t fore, uint32_t back);
    // Draws a symbol; true when it filled the whole cell.
    static bool RenderCustomCharacter(WINDC& dc, RECT const& cell, wchar_t c, uint32_t fore, uint32_t back);

    // Draw modes of a run.
    static constexpr int MODE_COUNT = 0;
    static constexpr int MODE_MARK = 1;
    static constexpr int MODE_ONLYBLINK = 2; // refused by the painters
    static constexpr int MODE_DRAW = 3;

    // Session profile and program settings; the session keeps them up to
    // date (under the screen lock).
    VIOPROFILE Profile;
    VIOSETTINGS Settings;

    // The screen lock. Plug-ins and other callers take it through
    // AccessVioScreen; the screen's own operations through GUARD.
    MUTEXSEM Lock;

    // The screen lock as the screen's own operations take it. A thread
    // that holds it through an outer operation (or a GUARD) does not take
    // it again, and the outermost release flushes the dirty area when it is
    // due: the window cannot paint while the lock is held, so one
    // invalidation at the end of an operation shows everything it changed.
    class GUARD {
    public:
        explicit GUARD(VIO& vio) : GUARD(vio, -1) {}
        // Waits at most `timeout` ms (-1 without limit); see Held.
        GUARD(VIO& vio, int timeout);
        ~GUARD();
        GUARD(GUARD const&) = delete;
        GUARD& operator=(GUARD const&) = delete;
        bool Held() const { return Ok; }

    private:
        VIO& Screen;
        VIO* Previous = nullptr;
        bool Took = false;
        bool Ok = false;
    };

    // ---- State (under the lock) ----
    int ScreenWidth = 0;
    int ScreenHeight = 0;
    int CursorX = 0;
    int CursorY = 0;
    // The rendition new text gets. The emulation changes it between writes
    // without taking the lock (a write reads it once, at its start).
    std::atomic<int> CurAttrib{0};
    std::atomic<int> CurFore{7};
    std::atomic<int> CurBack{0};
    int CodePage = 1252;
    bool Inverse = false;
    int MarkMode = VIOMARK_NONE;
    int MarkX1 = -1, MarkY1 = -1, MarkX2 = -1, MarkY2 = -1;
    bool Inherit = false;
    bool AttrCellsPlain = false;
    bool WrapSuppress = false;
    bool AltScreen = false;
    bool SomethingBlinks = false;
    int CellWidth = 0;
    int CellHeight = 0;

    // Cursor (viopaint.cpp).
    int CursorType = VIOCURSOR_BLOCK;
    int CursorStyle = VIOCURSOR_BLINKING;
    int BlinkPeriod = 333;
    bool BlinkPhase = true;
    bool CursorHidden = false;
    int CursorState = 0; // 1 on with focus, -1 on without, 0 off
    long long BlinkSkipStart = 0;

private:
    bool AllocRows(int width, int height);
    void FreeRows();
    // Init's work, with the font to load (null: the default terminal font).
    void Start(int width, int height, wchar_t const* fontString, signed char flag);
    void BlankRow(int y, int x1, int x2);
    VIOCELL BlankCell() const;
    // The style part of the cell writer for the current colours and an
    // attribute: the cell without its character, profile colours applied.
    VIOCELL StyleCell(int attrib) const { return StyleCell(attrib, CurFore, CurBack); }
    VIOCELL StyleCell(int attrib, int fore, int back) const;
    VIOCELL* LinearCell(int index) const;
    // Stores one cell (character as cell bits, style, double-width bit) at
    // a linear index and repairs a double-width pair it breaks.
    void WriteCell(int index, uint64_t code, VIOCELL style, bool wide, RECT& dirty);
    // The cell at index held `old` and now holds `now`: the other half of a
    // double-width pair that lost its partner becomes a blank.
    void BreakPair(int index, uint64_t old, uint64_t now, RECT& dirty);
    // The cell bits of a character (U+FFFD for one that is not a character)
    // and the cells it takes; 0 cells for a combining mark.
    uint64_t CharCode(uint32_t c, int* cells);
    // Adds a combining mark to the character of the cell at a linear index
    // (its left half when the cell is a right half). A cell that holds the
    // longest text already, or a full table, drops the mark.
    void AddMark(int index, uint32_t mark, RECT& dirty);
    // The linear index of the cell written last before (x, y): the cell to
    // the left, or the last one of the row above when that row wraps into
    // this one; -1 when there is none.
    int CellBefore(int x, int y) const;
    // Writes printable text at the cursor up to the first control
    // character; the number of characters taken.
    long PutPrintable(wchar_t const* text, long n, RECT& dirty);
    // The row's text continues below: the wrapped mark, then the next row
    // (scrolling at the bottom); the row the text continues in.
    int EndOfRow(int y);
    void LineFeed();
    bool ScrollbackTakesRows() const;
    void AddRowsToScrollback(int y1, int n, int x1, int x2);
    wchar_t ByteToChar(char c) const;
    void RunPendingInherit();
    // Marks a box of cells (right and bottom exclusive) dirty.
    void MarkCellBox(RECT const& box);
    void MarkAllDirty(int how);
    void DrawBracket(bool begin);
    void RefreshTimers();
    void ReleaseFont();
    void MarkCursor();
    // Flushes the dirty area unless a draw bracket holds it back.
    void FlushIfDue();
    WINDC* ScreenDC();
    // Gives the off-screen bitmap this size (its context made again).
    void SizeBitmap(SIZE size);

    // The bracket of AccessVioScreen and ReleaseVioScreen (the lock
    // holder's): its depth, and the screen this thread held before it
    // when the bracket made this one the held screen.
    int AccessDepth = 0;
    bool AccessTook = false;
    VIO* AccessPrevious = nullptr;

    VIOHOST NullHost;
    VIOHOST* Host;
    SCROLLBACKBUFFER* Scrollback;
    bool Running = false;

    // The row table is a window into a longer array, so that a scroll of
    // the whole screen moves the window instead of every record: the rows
    // that leave the top go after the end and the window moves down by
    // them; once it reaches the array's end it is moved back to the start.
    VIOROW* RowBase = nullptr;
    int RowSlots = 0;
    VIOROW* RowTable = nullptr;
    VIOCELL* CellPool = nullptr;
    bool AnyLineAttr = false; // some row has had a line attribute
    VIOCELL Scratch{}; // target of out-of-screen cell accesses
    UNICODE const* Uni;
    UNICODE_UTF8STATE Utf8State{};
    uint64_t WriteStyle = 0;    // the style of the text being written
    bool InheritPending = false; // a field attribute cell changed

    uint32_t XtermPalette[256] = {};

    // Painting and the dirty area (viopaint.cpp).
    RECT DirtyRect{};
    bool ContentChanged = false;
    bool Invalidated = false;
    bool PostShadowFlag = false;
    std::atomic<int> PaintNesting{0};
    std::atomic<DWORD> PaintThread{0};
    int ThrottleMs = 40;
    long long LastFlush = 0;
    int BracketDepth = 0;
    bool BracketActive = false;
    bool FrameFlushPending = false; // timer 259 flushes the dirty area
    bool FlashFlag = false;
    int Visible = -1; // unknown
    bool CursorTimerRunning = false;
    COREFONT* Font = nullptr;
    // The bold face of the font, for bold text (null: the font itself).
    COREFONT* BoldFont = nullptr;
    signed char FontFlag = 0;
    wchar_t FontName[128] = {};
    std::unique_ptr<MEMORYBITMAP> MemoryBitmap;
    std::unique_ptr<WINDC> MemoryDC;
    int FontDescent = 0;
    // The rows of the cell where the screen draws every underscore itself,
    // as a full line (MeasureUnderscore); 0 high: the font draws it.
    int UnderscoreTop = 0;
    int UnderscoreHeight = 0;
    void MeasureUnderscore();
    // The cell painter of the paint or batch under way, and its context.
    CELLPAINTER* Painter = nullptr;
    WINDC* PainterDC = nullptr;
    // Makes a cell painter the active one while it lives.
    class PAINTER {
    public:
        PAINTER(VIO& vio, WINDC& dc, CELLPAINTER& cells);
        ~PAINTER();
        PAINTER(PAINTER const&) = delete;
        PAINTER& operator=(PAINTER const&) = delete;

    private:
        VIO& Screen;
        CELLPAINTER* SavedCells;
        WINDC* SavedDC;
    };
    WINDC* OwnDC = nullptr;   // the screen's own context while it paints
    wchar_t* RunBuffer = nullptr;
    int RunBufferSize = 0;
};
