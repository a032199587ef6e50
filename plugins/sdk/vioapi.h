// The terminal screen as the plug-ins see it: the screen cell VIOCELL and
// VIOAPI, the abstract screen whose virtual operations emulation plug-ins
// call by their position in the table. Host and plug-ins are compiled from
// this one header by the same compiler, so the order of the declarations
// below is the order of the slots; never reorder, insert or remove one
// (tests/program/screen checks the slot numbers).
//
// Threads: every operation that changes cells takes the screen lock itself;
// a plug-in that changes cells through AccessVioCell holds the lock between
// AccessVioScreen and ReleaseVioScreen. GetCursorPos, GetWinSize and
// GetMarkArea read without the lock.
#pragma once

#include "velmot/gui/wintypes.h"

#include <cstdint>

class WINDC;
class COREFONT;

// One screen position: 8 bytes, little-endian.
//   bytes 0-1  c        UTF-16 code unit (0 = never written, 0xFFF8 = right
//                       half of a double-width character; 0xD800..0xDFFF
//                       refers, with extattr bits 0x04..0x80, to the
//                       screen's table of characters beyond U+FFFF and
//                       characters with combining marks: copy such a cell
//                       whole, and read its text with GetString)
//   bytes 2-3  attrib   VIOATTR_* bits
//   byte  4    extattr  VIOEXT_* bits
//   bytes 5-7  fore, back: two 12-bit colour numbers,
//              fore = b5 + (b6 & 0x0F) * 256, back = (b6 >> 4) + b7 * 16
// The bit-fields below give exactly this layout under the x86-64 System V
// ABI (fields are allocated from the low bit of the 32-bit unit upward).
struct VIOCELL {
    uint16_t c;
    uint16_t attrib;
    uint32_t extattr : 8;
    uint32_t fore : 12;
    uint32_t back : 12;
};
static_assert(sizeof(VIOCELL) == 8, "VIOCELL is a binary interface of 8 bytes");

// Attribute bits of VIOCELL::attrib and of the screen's current attribute.
constexpr uint16_t VIOATTR_FIELD = 0x0001;      // field attribute cell (block-mode terminals)
constexpr uint16_t VIOATTR_BRIGHT = 0x0002;
constexpr uint16_t VIOATTR_HALFTONE = 0x0004;
constexpr uint16_t VIOATTR_DIM = 0x0008;        // half-tone; set on scroll-back history
constexpr uint16_t VIOATTR_UNDERLINE = 0x0010;
constexpr uint16_t VIOATTR_BLINK = 0x0020;
constexpr uint16_t VIOATTR_HIGHLIGHT = 0x0040;  // in the selection; only while drawing
constexpr uint16_t VIOATTR_INVERSE = 0x0080;
constexpr uint16_t VIOATTR_INVISIBLE = 0x0100;
constexpr uint16_t VIOATTR_PROTECTED = 0x0200;
constexpr uint16_t VIOATTR_COLSEP = 0x0400;     // column separator mark
constexpr uint16_t VIOATTR_LINEEND = 0x2000;    // a carriage return was written here
constexpr uint16_t VIOATTR_WRAPPED = 0x4000;    // the row's text continues in the next row
constexpr uint16_t VIOATTR_DOUBLEWIDTH = 0x8000; // left half of a two-column character

// Bits of VIOCELL::extattr.
constexpr uint8_t VIOEXT_CURSOR = 0x01; // cursor mark, only while a resize re-wraps
constexpr uint8_t VIOEXT_LINK = 0x02;   // part of the link under the mouse

// The code unit of the right half of a double-width character.
constexpr uint16_t VIOCHAR_RIGHTHALF = 0xFFF8;

// Line attributes of a row.
constexpr int VIOLINE_NORMAL = 0;
constexpr int VIOLINE_DOUBLEHEIGHT_TOP = 3;
constexpr int VIOLINE_DOUBLEHEIGHT_BOTTOM = 4;
constexpr int VIOLINE_SINGLEWIDTH = 5; // as the emulations say it; stored as 0
constexpr int VIOLINE_DOUBLEWIDTH = 6;

// Modes of ScrollArea.
constexpr int VIOSCROLL_UP = 8;   // content moves up; leaving rows go to the scroll-back
constexpr int VIOSCROLL_DOWN = 2; // content moves down

// Codes of Do(code, p0, p1).
enum VIODO : int {
    VIODO_INHERIT = 1,          // inheritance switch = p0
    VIODO_CURSORONOFF = 2,      // cursor on (p0 != 0) or off
    VIODO_CURSORSHAPE = 3,      // p0 != -1: block (p0 != 0) or underline; p1 != -1: style
    VIODO_COLORS = 4,           // p0 != -1: fore; p1 != -1: back
    VIODO_ATTRIB = 5,           // returns the current attribute; p0 != -1 sets it
    VIODO_INHERITNOW = 6,       // runs inheritance (when switched on), repaint flag p0
    VIODO_LINEATTR = 7,         // line attribute p1 for row p0 or rows (p0 & 0xFFFF)..(p0 >> 16)
    VIODO_MINIMIZE = 8,         // p0 != 0 minimises the main window, else restores it
    VIODO_MOVEWINDOW = 9,       // moves the main window to (p0, p1)
    VIODO_ATTRCELLSPLAIN = 10,  // attribute-cells-plain switch = p0
    VIODO_DRAWBRACKET = 11,     // p0 != 0 begins a draw bracket, 0 ends one
    VIODO_GETCURSORTYPE = 12,   // returns the raw cursor type (p0 = p1 = -1)
    VIODO_SETCURSORTYPE = 13,   // raw cursor type = p0 (8 block, 1 underline)
    VIODO_SETWRAPPED = 14,      // wrapped mark on the cell (p0, p1)
    VIODO_ISWRAPPED = 15,       // 1 when the cell (p0, p1) has the wrapped mark
    VIODO_WRAPSUPPRESS = 16,    // returns the wrap-marking suppression; p0 != -1 sets it
    VIODO_LINEEND = 17,         // line-end mark on the cell (p0, p1)
    VIODO_ALTSCREEN = 18,       // returns the old alternate-screen flag and sets it to p0
};

// Raw cursor types.
constexpr int VIOCURSOR_BLOCK = 8;
constexpr int VIOCURSOR_UNDERLINE = 1;
constexpr int VIOCURSOR_BAR = 2; // a thin bar at the cell's left edge; added after the others
// Cursor styles.
constexpr int VIOCURSOR_STEADY = 0;
constexpr int VIOCURSOR_BLINKING = 1;
constexpr int VIOCURSOR_CROSSHAIR = 2;

// Selection modes.
constexpr int VIOMARK_NONE = 0;
constexpr int VIOMARK_STREAM = 1;
constexpr int VIOMARK_BLOCK = 2;

class VIOAPI {
public:
    virtual ~VIOAPI() = default;

    virtual void Init(int width, int height) = 0;
    virtual void Cleanup() = 0;
    // Text as received; length -1 means up to the terminating zero.
    virtual void conputs(char const* text, long length) = 0;
    virtual void conputws(wchar_t const* text, long length) = 0;
    // Draws (or, by mode, counts or marks) one run of cells; the number of
    // cells consumed.
    virtual int TextToWindow(WINDC& dc, int column, int row, POINT at, VIOCELL const* cells, int count,
                             int endColumn, int mode, int markFrom, int markTo, wchar_t* buffer) = 0;
    // Takes the screen lock (waiting without limit) and reports the size;
    // always 1. End the bracket with ReleaseVioScreen.
    virtual int AccessVioScreen(int* width, int* height, signed char unused) = 0;
    virtual VIOCELL* AccessVioCell(int index) = 0;
    virtual VIOCELL* AccessVioCell(int x, int y, signed char markDirty) = 0;
    virtual void ReleaseVioScreen(signed char update) = 0;
    virtual void SetScreenAttr(int back, int fore, int attrib) = 0;
    virtual void SetFont(wchar_t const* fontString, signed char flag) = 0;
    virtual int GetFont(wchar_t* buffer, int size, signed char* flag) = 0;
    virtual void GetFontSize(int* cellWidth, int* cellHeight) = 0;
    virtual void GetString(char* buffer, int* length, int x, int y, int codePage, signed char* wrapped) = 0;
    virtual void GetString(wchar_t* buffer, int* length, int x, int y, signed char* wrapped) = 0;
    virtual void GetCells(VIOCELL* buffer, int* count, int x, int y) = 0;
    virtual void GetCursorPos(int* x, int* y) = 0;
    virtual uint32_t GetSysColor(int colour) = 0;
    virtual void SetCodepage(int codePage) = 0;
    virtual void SetCursorPos(int x, int y) = 0;
    virtual void SetInverse(int on) = 0;
    virtual void SetMode(int n) = 0;
    virtual void SetWinSize(int width, int height) = 0;
    virtual void ScrollArea(int x1, int y1, int x2, int y2, int lines, int mode) = 0;
    virtual void MoveArea(int fromX, int fromY, int toX, int toY, int count) = 0;
    virtual void WriteByte(char c, int count, int x, int y, int attrib) = 0;
    virtual void WriteWideByte(wchar_t c, int count, int x, int y, int attrib) = 0;
    virtual void Erase(int x, int y, int length, int eraseProtected, char fill) = 0;
    virtual int ScreenToScrollback(int fromRow) = 0;
    virtual int Do(int code, int p0, int p1) = 0;
    virtual bool IsUpAndRunning() = 0;
    virtual void GetWinSize(int* width, int* height) = 0;
    virtual int GetCodepage() = 0;
    virtual int GetBackgroundColor() = 0;
    virtual void SetDrawBracket(signed char begin) = 0;
    virtual int SetAltScreen(signed char on) = 0;
    virtual void SetCursorOnOff(signed char on) = 0;
    virtual void SetCursorType(signed char block, int style) = 0;
    virtual int GetCursorType() = 0;
    virtual void SetCursorType(int raw) = 0;
    virtual void SetCursorBlinkSkip() = 0;
    virtual void SetColors(int back, int fore) = 0;
    virtual int SetModeFlags(int attrib) = 0;
    virtual void SetLineEndFlag(int x, int y) = 0;
    virtual COREFONT* GetFontHandle() = 0;
    virtual void SetMarkArea(int mode, int x1, int y1, int x2, int y2, signed char repaint) = 0;
    virtual int GetMarkArea(int* mode, int* x1, int* y1, int* x2, int* y2) = 0;
    virtual int ClearMarkArea(signed char repaint) = 0;
    virtual int FlashWindow() = 0;
    // An xterm colour-setting text as an emulation's operating system
    // command carries it ("4;<index>;<colour>"): sets that entry (16 to
    // 255) of the screen's palette. Added after the screen's own table, so
    // that an emulation plug-in can reach the palette.
    virtual void SetXtermColor(char const* text) = 0;
    // Init followed by SetFont(fontString, flag), without first loading
    // the default terminal font that the font replaces at once. Added last,
    // like SetXtermColor.
    virtual void InitWithFont(int width, int height, wchar_t const* fontString, signed char flag)
    {
        Init(width, height);
        SetFont(fontString, flag);
    }
    // Writes a run of characters (code points, no controls) into row y from
    // column x on, in the attribute (VIOATTR_*) and colour numbers given,
    // as the text writer stores characters (a double-width one takes two
    // cells, a combining mark goes with the character before it). The
    // cursor and the current attribute and colours stay; nothing wraps or
    // scrolls: the run ends where the row does (a double-width character
    // that would not fit whole is left out). Returns the characters taken.
    // Added last, like InitWithFont.
    virtual int WriteCells(int x, int y, wchar_t const* text, int count, int attrib, int fore, int back) = 0;
};
