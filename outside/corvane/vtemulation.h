// VTEMULATION: the VT100/VT102/VT220/xterm emulation (corvane) and the ANSI
// emulation (pindrel), one engine configured by a dialect.
//
// Received text goes through the table-driven parser (vtparser.h); text
// and controls end up as operations of the session's screen (VIOAPI).
// The emulation keeps the terminal's own state: the cursor with its
// pending wrap, the rendition ("pen"), margins, tab stops, modes, character
// sets, the saved cursors and the content of the screen that is not shown
// (main or alternate).
//
// Writing: printable text and the CR, LF and BS that the screen treats the
// same way are gathered into one batch that the screen writes at its
// cursor (VIOAPI::conputws), as long as the batch never reaches the last
// column (the screen would wrap at once, the terminal only with the next
// character) and no line feed leaves the scrolling region the screen does
// not know about. Everything else flushes the batch first and goes to the
// screen's cell, scroll and erase operations. Erases never move text into
// the scroll-back, except the erase of the whole screen (ED 2), where the
// screen keeps what it loses.
//
// Files: vtemulation.cpp (the plug-in operations, the parse loop, text),
// vtscreen.cpp (cursor, scrolling, erasing, the alternate screen),
// vtcontrols.cpp (the control functions, SGR, modes), vtreports.cpp (what
// the terminal answers), vt52.cpp (VT52 mode), vtkeys.cpp (keys, mouse,
// paste); vtcharsets.cpp holds the character sets.
//
// Threads: the session's main thread (the host calls every operation
// there).
#pragma once

#include "outside/corvane/vtcharsets.h"
#include "outside/corvane/vtdialect.h"
#include "outside/corvane/vtparser.h"
#include "plugins/sdk/qorsubsystem.h"
#include "plugins/sdk/vioapi.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

class UNICODE;

class VTEMULATION : public QOREMULATION {
public:
    VTEMULATION(SUBSYSINITDATA const& init, vt::DIALECT const& dialect);
    ~VTEMULATION() override;

    int SetParm(char const* parm) override;
    char* QueryParm(char* buf, int max) override;
    char* QueryStdParm(char* buf) override;
    char* QueryStatus(char* buf) override;

    int Open(char const* parm) override;
    int Close() override;
    int conputs(wchar_t const* text, long len) override;
    int IsSequence(int* state, char c) override;
    int QueryUnixName(int n, char* dst) override;
    int ProcessKey(KEYBOARDEVENT const& event) override;
    unsigned long GetFlags(unsigned long mask) override;
    int SyncCursorPos() override;
    int FeedSymbolicKey(char const* name) override;
    int HandleTerminalEvent(int event) override;
    int HandleMouseEvent(int col, int row, int button, int up) override;
    int SequenceRun(int* state, char const* text, int len) override;

    // Rendition bits of the pen.
    static constexpr uint16_t PEN_BOLD = 0x001;
    static constexpr uint16_t PEN_DIM = 0x002;
    static constexpr uint16_t PEN_ITALIC = 0x004;
    static constexpr uint16_t PEN_UNDERLINE = 0x008;
    static constexpr uint16_t PEN_BLINK = 0x010;
    static constexpr uint16_t PEN_INVERSE = 0x020;
    static constexpr uint16_t PEN_INVISIBLE = 0x040;
    static constexpr uint16_t PEN_PROTECTED = 0x080; // DECSCA
    static constexpr uint16_t PEN_ALTFONT = 0x100;   // ANSI: SGR 11, controls shown as glyphs

    // Colour of a pen: -1 the profile's default, else a palette index.
    struct PEN {
        uint16_t Attr = 0;
        int16_t Fore = -1;
        int16_t Back = -1;
    };

private:
    using CHARSET = vt::CHARSET;

    // What DECSC saves and DECRC restores.
    struct SAVED {
        int X = 0, Y = 0;
        bool WrapPending = false;
        PEN Pen;
        CHARSET G[4] = {vt::CS_ASCII, vt::CS_ASCII, vt::CS_ASCII, vt::CS_ASCII};
        int GL = 0;
        int GR = 2;
        bool OriginMode = false;
    };

    // ---- Parsing (vtemulation.cpp) ----
    void Parse(wchar_t const* text, long len);
    // A whole control sequence at text[0] (ESC) parsed and carried out
    // without the table; the characters taken, 0 to leave it to the table.
    long FastSequence(wchar_t const* text, long len);
    // One character through the table (outside the ground fast path).
    void Step(uint32_t c);
    // One character in VT52 mode, which has its own short sequences.
    void Vt52Step(uint32_t c);
    void Vt52Escape(uint32_t final);
    void Act(vt::ACTION action, uint32_t c);
    bool IsC1(uint32_t c) const;
    // A received character as Unicode: bytes of an 8-bit code page are
    // converted, the G-sets and single shifts applied.
    uint32_t Translate(uint32_t c);
    // The same for the character set of GL, without single shifts.
    uint32_t Graphic(uint32_t c, CHARSET set) const;

    // ---- Text (vtemulation.cpp) ----
    // Writes a run of graphic characters at the cursor.
    void PrintRun(wchar_t const* text, long n);
    // Takes characters of one or two cells into the batch while they end
    // before the row's last column; the characters taken.
    long BatchText(wchar_t const* text, long n);
    void PrintChar(uint32_t u);
    // Cells a character takes on the screen: 0 for marks that combine with
    // the character before (the screen keeps them with its cell), 2 for the
    // double-width characters the screen treats so.
    int CellWidth(uint32_t u) const;
    // Makes the batch go on at the cursor: a batch that ends elsewhere is
    // written first, an empty one starts here.
    void BatchAt();
    void AppendBatch(wchar_t c);
    void FlushBatch();
    // Makes the screen's cursor stand where the emulation's does.
    void SyncVioCursor();
    // Gives the screen the pen's attribute and colours for text.
    void SyncStyle();
    // Gives the screen attribute 0 and the pen's colours, for erasing and
    // blank lines (background colour erase).
    void EraseStyle();
    void Log(wchar_t const* text, int n);

    // ---- Screen (vtscreen.cpp) ----
    // Takes the screen's size and cursor at the start of a write.
    void Begin(int width, int height);
    void Resize(int width, int height);
    // The columns of row y (half the width on a double-width row).
    int RowWidth(int y) const;
    void ClampCursor();
    void MoveTo(int x, int y);      // absolute, clipped to the screen
    void MoveToOrigin(int x, int y); // relative to the origin under DECOM
    int OriginRow(int y) const;      // a row from the origin's, clipped to the region
    int OriginColumn(int x) const;   // a column from the origin's, clipped to the margins
    // BS and CUB: n columns back, with reverse wrap-around when it is on.
    void CursorBack(int n);
    void CarriageReturn();
    void LineFeed();                // IND: down, scrolling at the bottom margin
    void ReverseLineFeed();         // RI: up, scrolling at the top margin
    void NextLine();                // NEL
    void WrapToNextLine();          // the pending wrap of a full row
    void ScrollUp(int top, int bottom, int n);
    // Scrolls rows top to bottom between the left and right margins.
    void ScrollColumns(int top, int bottom, int n, bool up);
    void ScrollDown(int top, int bottom, int n);
    void InsertLines(int n);
    void DeleteLines(int n);
    void InsertChars(int n);
    void DeleteChars(int n);
    void EraseChars(int n);
    // Blanks cells from (x, y) on, in reading order, without sending any
    // text to the scroll-back; keep protected cells when selective.
    void EraseCells(int x, int y, int count, bool selective = false);
    void EraseInDisplay(int mode, bool selective);
    void EraseInLine(int mode, bool selective);
    void SetLineAttr(int y, int attr);
    void AlignmentTest();
    void SwitchScreen(bool alternate, bool clear);
    void SaveCursor();
    void RestoreCursor();
    void Tab(int count);
    void BackTab(int count);
    void ResetTabs();
    // Back to the power-on state (RIS) or the soft reset (DECSTR).
    void Reset(bool hard);
    // The cursor as the screen should show it.
    void PlaceCursor();

    // ---- Controls (vtcontrols.cpp) ----
    void Execute(uint32_t c);
    void EscDispatch(uint32_t final);
    void CsiDispatch(uint32_t final);
    void OscDispatch();
    void DcsDispatch();
    void Sgr();
    void SetModes(bool on);
    void SetPrivateModes(bool on);
    void SetPrivateMode(int mode, bool on);
    void SavePrivateModes(bool restore); // XTSAVE, XTRESTORE
    void PushSgr();                      // XTPUSHSGR
    void PopSgr();                       // XTPOPSGR
    // SCS: G-set g takes the set the designation names (set96: ESC - F and
    // the like).
    void Designate(int g, char inter, uint32_t final, bool set96);
    // DECCOLM and DECSCPP: the screen becomes 132 or 80 columns wide.
    void SetColumns(int columns);
    // DECSCUSR: 0 the profile's shape, 1 to 6 block, underline and bar,
    // each blinking and steady; sent to the screen.
    void SetCursorStyle(int style);
    void ApplyCursorStyle();

    // ---- Rectangles and columns (vtrects.cpp) ----
    struct RECTANGLE {
        int Top = 0, Left = 0, Bottom = -1, Right = -1;
        bool Empty() const { return Top > Bottom || Left > Right; }
    };
    // The rectangle of four parameters from `first` on (top, left,
    // bottom, right), clipped; relative to the origin under DECOM.
    RECTANGLE RectangleAt(int first) const;
    void FillRectangle(RECTANGLE const& r, uint32_t c);         // DECFRA
    void EraseRectangle(RECTANGLE const& r, bool selective);    // DECERA, DECSERA
    void CopyRectangle();                                       // DECCRA
    void ChangeRenditions(bool reverse);                        // DECCARA, DECRARA
    // Moves the columns from `at` to the right margin n columns right or
    // left on the rows of the scrolling region (DECIC, DECDC, SL, SR).
    void ShiftColumns(int at, int n, bool right);
    bool CursorInMargins() const;
    void BackIndex();    // DECBI
    void ForwardIndex(); // DECFI
    // The left and right margins (the screen's edges while DECLRMM is off).
    int LeftMargin() const { return LeftRightMode ? Left : 0; }
    int RightMargin() const { return LeftRightMode ? Right : W - 1; }
    bool FullWidth() const { return LeftMargin() == 0 && RightMargin() == W - 1; }
    bool InsideColumns() const { return X >= LeftMargin() && X <= RightMargin(); }
    // The column after the last one text reaches from the cursor: the right
    // margin's, or the row's end when the cursor is past the margin.
    int LineEnd() const
    {
        return !LeftRightMode || X > Right ? RowWidth(Y) : std::min(Right + 1, RowWidth(Y));
    }
    void SetLeftRightMargins(); // DECSLRM

    // ---- Reports (vtreports.cpp) ----
    void DeviceAttributes(char kind);  // 0 primary, '>' secondary, '=' tertiary
    void DeviceStatus();
    void ModeRequest(bool dec);        // DECRQM
    // The state of a mode as DECRPM reports it: 0 unknown, 1 set, 2 reset,
    // 3 permanently set, 4 permanently reset.
    int ModeState(bool dec, int mode) const;
    void StatusString(std::wstring const& request); // DECRQSS
    void RectangleChecksum();          // DECRQCRA
    void PresentationState();          // DECRQPSR: DECCIR, DECTABSR
    // OSC 4, 10, 11 and 12 asking "?": answers with the colours.
    void ColourQuery(int command, std::wstring const& text);
    // The SGR parameters of the pen, as DECRQSS answers them.
    std::string SgrReport() const;
    // Sends an answer to the host, its C1 introducers as ESC and a
    // character or, after S8C1T, as one byte.
    void Answer(std::string const& text);
    void AnswerCsi(std::string const& body) { Answer(Csi() + body); }
    std::string Csi() const { return C1Out ? "\x9b" : "\x1b["; }
    std::string Dcs() const { return C1Out ? "\x90" : "\x1bP"; }
    std::string St() const { return C1Out ? "\x9c" : "\x1b\\"; }
    // The DEC reports (DECRQM, DECRQSS, DECRQCRA and the like) belong to the
    // VT family, not to the ANSI terminal.
    bool DecReports() const { return Dialect.Level != vt::LEVEL::ANSI; }
    void PrinterController(bool on);
    // While the printer controller is on: takes text for the printer up to
    // and including CSI 4 i; the characters taken.
    long PrinterTake(wchar_t const* text, long n);
    void PrinterPut(wchar_t const* text, long n);
    // MC: the rows from first to last to the printer, as text, with a form
    // feed after them under DECPFF.
    void PrintRows(int first, int last, bool formFeed);
    void MediaCopy();
    void ResetPalette(int index);
    uint16_t VioAttrib() const;
    int VioFore() const;
    int VioBack() const;
    int ProfileColor(int which) const; // 0 fore, 1 back, 2 italic (-1 none)

    // ---- Keys (vtkeys.cpp) ----
    // Sends a key's sequence to the host.
    void SendKey(char const* text);
    void SendCursorKey(char final, int modifiers);
    void SendTildeKey(int code, int modifiers);
    void SendFunctionKey(int n, int modifiers);
    void SendKeypad(char application, char normal);
    void MouseReport(int button, int col, int row, bool release, bool motion);

    vt::DIALECT const& Dialect;
    std::string Parm;
    VIOAPI* Vio = nullptr;
    UNICODE const* Uni;

    // The VT level (1 VT100 to 4 VT420) the terminal conforms to (DECSCL).
    int DefaultLevel() const;

    // Options of the parameter string.
    bool C1Controls = false;   // "{c1}": 8-bit C1 codes are controls
    bool BackspaceBS = false;  // "{bs}" / "{del}", then DECBKM
    bool DefaultBackspaceBS = false; // what the options chose

    // Screen and cursor.
    int W = 80, H = 24;
    int X = 0, Y = 0;
    bool WrapPending = false;  // the last column was written; the next character wraps
    int Top = 0, Bottom = 23;  // scrolling region
    bool LeftRightMode = false; // DECLRMM: the left and right margins hold
    int Left = 0, Right = 79;  // left and right margins (under DECLRMM)
    std::vector<uint8_t> LineAttrs; // VIOLINE_* per row
    bool AnyLineAttr = false;
    std::vector<uint8_t> TabStops;  // 1 at a stop, per column
    bool RepaintAll = false;   // cells were changed directly: repaint on release

    // Where the screen's cursor stands (it moves with what the batch writes).
    int VioX = 0, VioY = 0;
    bool StyleSynced = false;  // the screen's attribute and colours are the pen's
    int CodePage = 1252;       // of received bytes; UNICODE_CPUTF8 when decoded already
    bool Utf8 = false;

    // The attribute and colours the screen was last given (SyncStyle,
    // EraseStyle): the style of the batch.
    struct STYLE {
        int Attrib = 0, Fore = -1, Back = -1;
    } Style;
    // Code points of the bytes 0x80 to 0xFF in CodePage.
    wchar_t HighChars[128] = {};
    int HighCharsPage = -1;

    // Pending text for the screen and its log, to be written from
    // (BatchX, BatchY); the screen's cursor ends at (EndX, EndY). Text
    // alone goes to its cells; a batch with line controls is written at
    // the screen's cursor.
    static constexpr int kBatch = 1024;
    wchar_t Batch[kBatch];
    int BatchLen = 0;
    bool BatchControls = false;
    int BatchX = 0, BatchY = 0;
    int EndX = 0, EndY = 0;

    // Parser.
    vt::STATE State = vt::GROUND;
    vt::SEQUENCE Seq{};
    wchar_t Osc[vt::kMaxString];
    int OscLen = 0;
    bool OscOverflow = false;

    // The device control string under way: its parameters, intermediates
    // and final character (its text gathers in Osc).
    vt::SEQUENCE DcsSeq{};
    uint32_t DcsFinal = 0;
    bool OscBell = false;  // the last OSC ended with BEL (answers end the same way)

    // Rendition, character sets, modes.
    PEN Pen;
    CHARSET G[4] = {vt::CS_ASCII, vt::CS_ASCII, vt::CS_ASCII, vt::CS_ASCII};
    int GL = 0;            // G-set invoked into GL (SI: 0, SO: 1, LS2, LS3)
    int GR = 2;            // G-set invoked into GR (LS1R, LS2R, LS3R)
    int SingleShift = 0;   // 2 or 3 for the next character only
    bool Nrcs = false;     // DECNRCM: national replacement sets may be designated
    int Level = 4;         // DECSCL
    bool C1Out = false;    // S8C1T: answers use 8-bit C1 introducers
    // VT52 mode (DECANM reset): its graphics, and the sequence under way
    // (1 after ESC, 2 and 3 waiting for the row and column of ESC Y).
    bool Vt52 = false;
    bool Vt52Graphics = false;
    uint8_t Vt52State = 0;
    // The sequence check's states for the two positions of ESC Y, past the
    // table's own.
    static constexpr int kVt52Row = vt::STATECOUNT, kVt52Column = vt::STATECOUNT + 1;
    static_assert(kVt52Column < 16, "the VT52 states fit the four bits of the table's");
    int Vt52Row = 0;
    uint32_t LastChar = ' '; // for REP
    bool AutoWrap = true;   // DECAWM
    bool OriginMode = false; // DECOM
    bool InsertMode = false; // IRM
    bool NewLineMode = false; // LNM
    bool CursorKeysApp = false; // DECCKM
    bool KeypadApp = false;  // DECKPAM
    bool CursorVisible = true; // DECTCEM
    bool ReverseScreen = false; // DECSCNM
    bool BracketedPaste = false;
    bool AllowColumns = false;  // mode 40: DECCOLM may switch the width
    bool Columns132 = false;    // DECCOLM
    bool ReverseWrap = false;   // mode 45: BS at the left edge goes up a row
    bool KeyboardLocked = false; // KAM
    int CursorStyle = 0;        // DECSCUSR, 0 the profile's
    bool RectangleExtent = false; // DECSACE 2: renditions change in a rectangle, not a stream
    std::vector<std::pair<int, bool>> SavedModes; // XTSAVE
    // XTPUSHSGR: a pen and what of it was pushed (rendition bits, colours).
    struct PUSHED {
        PEN Pen;
        uint16_t Attr = 0;
        bool Fore = false, Back = false;
    };
    std::vector<PUSHED> SgrStack;
    std::vector<std::wstring> Titles; // the title stack (CSI 22 t, CSI 23 t)
    bool CursorBlinks = false;  // mode 12 (set from the profile and DECSCUSR)
    int MouseMode = 0;       // 0, 9 (X10), 1000, 1002, 1003
    int MouseEncoding = 0;   // 1005 (UTF-8), 1006 (SGR) or 1015 (urxvt); 0 the old one
    bool FocusReports = false; // 1004
    int MouseButtons = 0;    // buttons held, for motion reports
    SAVED Saved[2];          // main and alternate screen
    bool Alternate = false;
    std::vector<VIOCELL> Hidden; // the screen not shown
    std::vector<uint8_t> HiddenLineAttrs;
    int HiddenW = 0, HiddenH = 0;

    // Printer controller: text goes to this print job instead of the screen.
    void* PrintJob = nullptr;
    bool Printing = false;
    bool AutoPrint = false;      // each row goes to the printer as the cursor leaves it
    bool PrintFormFeed = false;  // DECPFF: a form feed after a printed screen
    bool PrintFullScreen = false; // DECPEX: print the screen, not the scrolling region
    std::string PrintMatch; // the part of "ESC [ 4 i" seen while printing
};
