// Writing: text output with its controls, the cell writer and its
// double-width pairs, scrolling, moving and erasing.
//
// Text output is the road every received byte takes, so it is written for
// speed: the style part of a cell (attribute, colours) is worked out once
// per call, a character costs one load and one store of a 64-bit cell, the
// cursor moves once per run, and the changed cells are gathered into one
// box that is marked dirty at the end of the call.
#include "program/screen/vio.h"

#include "program/screen/scrollback.h"
#include "program/screen/vioutils.h"
#include "velmot/core/wstring.h"

#include <algorithm>
#include <climits>
#include <cwchar>
#include <optional>

using vioutils::Bits;
using vioutils::Cell;
using vioutils::Load;
using vioutils::Store;

namespace {

constexpr uint32_t kControls = (1u << 8) | (1u << 9) | (1u << 10) | (1u << 13);
inline bool IsControl(uint32_t c) { return c < 14 && ((kControls >> c) & 1); }

constexpr uint64_t kWideBit = uint64_t{VIOATTR_DOUBLEWIDTH} << 16;
constexpr uint64_t kFieldBit = uint64_t{VIOATTR_FIELD} << 16;

// Adds cells (x .. x + n - 1, y) to a box of cells (right and bottom
// exclusive; empty while right <= left).
inline void AddBox(RECT& box, int x, int y, int n)
{
    if (n > 0)
        vioutils::Include(box, RECT{x, y, x + n, y + 1});
}

} // namespace

VIOCELL VIO::StyleCell(int attrib, int fore, int back) const
{
    // The double-width bit belongs to the cell writer: it goes with a right
    // half, never with the caller's attribute.
    int a = attrib & 0xFFFF & ~VIOATTR_DOUBLEWIDTH;
    if ((a & VIOATTR_BLINK) && Profile.ColorBlink) {
        fore = Profile.ColorBlink - 1;
        a &= ~VIOATTR_BLINK;
    }
    if ((a & VIOATTR_UNDERLINE) && Profile.ColorItalic) {
        fore = Profile.ColorItalic - 1;
        a &= ~VIOATTR_UNDERLINE;
    }
    if ((a & VIOATTR_BRIGHT) && Profile.ColorBold && fore == Profile.ColorFore) {
        fore = Profile.ColorBold - 1;
        a &= ~VIOATTR_BRIGHT;
    }
    if ((a & VIOATTR_HALFTONE) && Profile.ColorDim) {
        fore = Profile.ColorDim - 1;
        a &= ~VIOATTR_HALFTONE;
    }
    return vioutils::MakeCell(0, uint16_t(a), vioutils::CellColour(fore), vioutils::CellColour(back));
}

wchar_t VIO::ByteToChar(char c) const
{
    // Text in UTF-8 comes through conputs; a single byte of it stands for
    // itself only below 0x80.
    if (CodePage == UNICODE_CPUTF8)
        return static_cast<unsigned char>(c) < 0x80 ? wchar_t(c) : wchar_t(0xFFFD);
    return Uni->FromCodepage(c, CodePage);
}

void VIO::RunPendingInherit()
{
    if (InheritPending) {
        InheritPending = false;
        if (Inherit)
            InheritAttrib(1);
    }
}

VIOCELL* VIO::LinearCell(int index) const
{
    return RowTable[index / ScreenWidth].Cells + index % ScreenWidth;
}

void VIO::BreakPair(int index, uint64_t old, uint64_t now, RECT& dirty)
{
    VIOCELL const o = Cell(old), n = Cell(now);
    int const total = ScreenWidth * ScreenHeight;
    // A left half that is overwritten takes its right half with it, and a
    // right half that is overwritten its left half: neither half is left
    // standing alone.
    int other = -1;
    if (vioutils::IsWideLeft(o) && !vioutils::IsWideLeft(n) && index + 1 < total &&
        vioutils::IsWideRight(*LinearCell(index + 1)))
        other = index + 1;
    else if (vioutils::IsWideRight(o) && !vioutils::IsWideRight(n) && index > 0 &&
             vioutils::IsWideLeft(*LinearCell(index - 1)))
        other = index - 1;
    if (other >= 0) {
        VIOCELL* cell = LinearCell(other);
        uint64_t const bits = Load(cell) & ~VIOCHARS::kCodeMask & ~kWideBit;
        Store(cell, bits | 32);
        AddBox(dirty, other % ScreenWidth, other / ScreenWidth, 1);
    }
    if (((old | now) & kFieldBit) && Inherit)
        InheritPending = true;
}

void VIO::WriteCell(int index, uint64_t code, VIOCELL style, bool wide, RECT& dirty)
{
    VIOCELL* cell = LinearCell(index);
    if (wide)
        style.attrib |= VIOATTR_DOUBLEWIDTH;
    uint64_t const old = Load(cell);
    uint64_t const now = Bits(style) | code;
    Store(cell, now);
    AddBox(dirty, index % ScreenWidth, index / ScreenWidth, 1);
    if ((old | now) & (kWideBit | kFieldBit))
        BreakPair(index, old, now, dirty);
    if (style.attrib & VIOATTR_BLINK)
        SomethingBlinks = true;
}

uint64_t VIO::CharCode(uint32_t c, int* cells)
{
    if (c < 0x300) {
        *cells = 1;
        return c;
    }
    // A lone surrogate or a value beyond Unicode is not a character.
    if (c > 0x10FFFF || (c & 0xFFFFF800) == 0xD800) {
        *cells = 1;
        return 0xFFFD;
    }
    *cells = UNICODE::CellWidth(c);
    if (c < 0x10000 || *cells == 0)
        return c;
    char32_t const one = c;
    return TextCode(std::u32string_view(&one, 1));
}

int VIO::CellBefore(int x, int y) const
{
    if (x > 0)
        return y * ScreenWidth + x - 1;
    if (y > 0 && (RowTable[y - 1].Cells[ScreenWidth - 1].attrib & VIOATTR_WRAPPED))
        return y * ScreenWidth - 1;
    return -1;
}

void VIO::AddMark(int index, uint32_t mark, RECT& dirty)
{
    if (index < 0 || index >= ScreenWidth * ScreenHeight)
        return;
    VIOCELL* cell = LinearCell(index);
    if (vioutils::IsWideRight(*cell) && index > 0) {
        --index;
        cell = LinearCell(index);
    }
    std::u32string text;
    AppendCellText(*cell, text);
    if (text.empty() || text.size() >= VIOCHARS::kMaxLength)
        return;
    text.push_back(char32_t(mark));
    uint64_t const code = TextCode(text);
    if (!VIOCHARS::IsExtended(code))
        return; // the table is full: the character stays as it was
    Store(cell, (Load(cell) & ~VIOCHARS::kCodeMask) | code);
    AddBox(dirty, index % ScreenWidth, index / ScreenWidth, 1);
}

void VIO::CharToMem(wchar_t c, int index, int attrib, bool wide)
{
    GUARD lock(*this);
    if (!RowTable || index < 0 || index >= ScreenWidth * ScreenHeight)
        return;
    uint32_t const u = wide ? uint32_t(c) : uint32_t(ByteToChar(char(c & 0xFF)));
    int cells = 1;
    uint64_t const code = CharCode(u, &cells);
    RECT dirty{};
    if (cells == 0)
        AddMark(index, u, dirty); // a mark goes with the character of the cell
    else
        WriteCell(index, code, StyleCell(attrib), cells == 2, dirty);
    MarkCellBox(dirty);
    RunPendingInherit();
}

int VIO::TextToMem(wchar_t const* text, int length, int x, int y)
{
    GUARD lock(*this);
    if (!RowTable || !text || x < 0 || y < 0)
        return 0;
    int const total = ScreenWidth * ScreenHeight;
    long long pos = (long long)y * ScreenWidth + x;
    VIOCELL const style = StyleCell(CurAttrib);
    RECT dirty{};
    int extra = 0;
    for (int i = 0; i < length && pos < total; ++i) {
        int cells = 1;
        uint64_t const code = CharCode(uint32_t(text[i]), &cells);
        if (cells == 0) {
            // A mark goes with the character before it.
            if (pos > 0)
                AddMark(int(pos - 1), uint32_t(text[i]), dirty);
            continue;
        }
        WriteCell(int(pos), code, style, cells == 2, dirty);
        if (cells == 2 && pos + 1 < total) {
            ++pos;
            ++extra;
            WriteCell(int(pos), VIOCHAR_RIGHTHALF, style, true, dirty);
        }
        ++pos;
    }
    MarkCellBox(dirty);
    RunPendingInherit();
    return extra;
}

int VIO::EndOfRow(int y)
{
    Do(VIODO_SETWRAPPED, ScreenWidth - 1, y);
    if (y < ScreenHeight - 1)
        return y + 1;
    ScrollArea(0, 0, ScreenWidth - 1, ScreenHeight - 1, 1, VIOSCROLL_UP);
    return y;
}

long VIO::PutPrintable(wchar_t const* text, long n, RECT& dirty)
{
    int const width = ScreenWidth;
    uint64_t const style = WriteStyle;
    uint64_t const wideStyle = style | kWideBit;
    int x = CursorX, y = CursorY;
    VIOCELL* row = RowTable[y].Cells;
    int segment = x; // first column written in this row
    // The row is full: its cells are dirty, the text goes on in the next.
    auto nextRow = [&] {
        AddBox(dirty, segment, y, x - segment);
        y = EndOfRow(y);
        row = RowTable[y].Cells;
        x = 0;
        segment = 0;
    };
    long i = 0;
    for (; i < n; ++i) {
        // Plain text to the end of the row: one load and one store a cell.
        // Characters of one cell each stay here; marks, wide characters,
        // those beyond U+FFFF and controls take the way below.
        for (long end = std::min<long>(n, i + (width - x)); i < end; ++i) {
            uint32_t const c = uint32_t(text[i]);
            if (c - 32 >= 0x300 - 32) [[unlikely]] {
                if (c < 32 || c > 0xFFFF || (c & 0xF800) == 0xD800 || UNICODE::CellWidth(c) != 1)
                    break;
            }
            uint64_t const old = Load(row + x);
            Store(row + x, style | c);
            if (old & (kWideBit | kFieldBit)) [[unlikely]]
                BreakPair(y * width + x, old, style | c, dirty);
            ++x;
        }
        if (x == width) {
            nextRow();
            if (i == n)
                break;
        }
        if (i == n)
            break;
        uint32_t const c = uint32_t(text[i]);
        if (IsControl(c))
            break;
        int cells = 1;
        uint64_t const code = CharCode(c, &cells);
        if (cells == 0) {
            // A combining mark: it goes with the character written last.
            AddMark(CellBefore(x, y), c, dirty);
            continue;
        }
        bool const doubleWidth = cells == 2;
        uint64_t const left = (doubleWidth ? wideStyle : style) | code;
        uint64_t old = Load(row + x);
        Store(row + x, left);
        if (old & (kWideBit | kFieldBit))
            BreakPair(y * width + x, old, left, dirty);
        ++x;
        if (doubleWidth) {
            uint64_t const right = wideStyle | VIOCHAR_RIGHTHALF;
            // The right half of a character in the last column goes to
            // the first cell of the next row.
            if (x == width)
                nextRow();
            old = Load(row + x);
            Store(row + x, right);
            if (old & (kWideBit | kFieldBit))
                BreakPair(y * width + x, old, right, dirty);
            ++x;
        }
        if (x == width)
            nextRow();
    }
    AddBox(dirty, segment, y, x - segment);
    CursorX = x;
    CursorY = y;
    return i;
}

int VIO::WriteCells(int x, int y, wchar_t const* text, int count, int attrib, int fore, int back)
{
    if (!text || count <= 0)
        return 0;
    GUARD lock(*this);
    if (!RowTable || y < 0 || y >= ScreenHeight || x < 0 || x >= ScreenWidth)
        return 0;
    VIOCELL const style = StyleCell(attrib, fore, back);
    if (style.attrib & VIOATTR_BLINK)
        SomethingBlinks = true;
    if (Inherit && (style.attrib & VIOATTR_FIELD))
        InheritPending = true;
    uint64_t const plain = Bits(style);
    uint64_t const wide = plain | kWideBit;
    int const width = ScreenWidth;
    VIOCELL* const row = RowTable[y].Cells;
    RECT dirty{};
    int const first = x;
    int i = 0;
    for (; i < count && x < width; ++i) {
        uint32_t const c = uint32_t(text[i]);
        int cells = 1;
        uint64_t const code = c < 0x300 ? c : CharCode(c, &cells);
        if (cells == 0) {
            // A combining mark goes with the character before it.
            AddMark(CellBefore(x, y), c, dirty);
            continue;
        }
        bool const doubleWidth = cells == 2;
        if (doubleWidth && x + 1 >= width)
            break;
        uint64_t const cell = (doubleWidth ? wide : plain) | code;
        uint64_t old = Load(row + x);
        Store(row + x, cell);
        if (old & (kWideBit | kFieldBit)) [[unlikely]]
            BreakPair(y * width + x, old, cell, dirty);
        ++x;
        if (doubleWidth) {
            uint64_t const right = wide | VIOCHAR_RIGHTHALF;
            old = Load(row + x);
            Store(row + x, right);
            if (old & (kWideBit | kFieldBit))
                BreakPair(y * width + x, old, right, dirty);
            ++x;
        }
    }
    AddBox(dirty, first, y, x - first);
    MarkCellBox(dirty);
    RunPendingInherit();
    return i;
}

void VIO::LineFeed()
{
    if (CursorY < ScreenHeight - 1)
        ++CursorY;
    else
        ScrollArea(0, 0, ScreenWidth - 1, ScreenHeight - 1, 1, VIOSCROLL_UP);
}

void VIO::conputws(wchar_t const* text, long length)
{
    if (!text)
        return;
    if (length < 0)
        length = long(std::wcslen(text));
    GUARD lock(*this);
    if (!RowTable || length == 0)
        return;
    // Rows that scroll off go to the scroll-back one by one; its lock is
    // taken once for the whole write (the screen lock comes first, as
    // always), unless the text cannot leave its row: a short piece between
    // two changes of colour pays for no second lock.
    bool mayScroll = Scrollback != nullptr;
    if (mayScroll && CursorX + 2 * length < ScreenWidth) {
        mayScroll = false;
        for (long i = 0; i < length && !mayScroll; ++i)
            mayScroll = text[i] == 10 || text[i] == 9;
    }
    std::optional<SCROLLBACKBUFFER::GUARD> history;
    if (mayScroll)
        history.emplace(*Scrollback);
    bool const hid = HideCursor();
    VIOCELL const style = StyleCell(CurAttrib);
    WriteStyle = Bits(style);
    if (style.attrib & VIOATTR_BLINK)
        SomethingBlinks = true;
    if (Inherit && (style.attrib & VIOATTR_FIELD))
        InheritPending = true;
    RECT dirty{};
    for (long i = 0; i < length;) {
        uint32_t const c = uint32_t(text[i]);
        if (!IsControl(c)) {
            i += PutPrintable(text + i, length - i, dirty);
            continue;
        }
        ++i;
        switch (c) {
        case 8:
            if (CursorX > 0) {
                --CursorX;
            } else if (CursorY > 0) {
                --CursorY;
                CursorX = ScreenWidth - 1;
            }
            break;
        case 9: {
            int const next = (CursorX / 8 + 1) * 8;
            if (next > ScreenWidth - 1) {
                CursorX = 0;
                LineFeed();
            } else {
                CursorX = next;
            }
            break;
        }
        case 10:
            LineFeed();
            break;
        default: // 13
            SetLineEndFlag(CursorX, CursorY);
            CursorX = 0;
            break;
        }
    }
    MarkCellBox(dirty);
    RunPendingInherit();
    if (hid)
        UpdateCursor();
}

void VIO::conputs(char const* text, long length)
{
    if (!text)
        return;
    if (length < 0)
        length = long(std::strlen(text));
    GUARD lock(*this);
    constexpr long kChunk = 4096;
    wchar_t buffer[kChunk];
    for (long done = 0; done < length;) {
        long const n = std::min(kChunk, length - done);
        long produced = n;
        if (CodePage == UNICODE_CPUTF8) {
            WSTRING decoded;
            produced = Uni->Utf8Decoder(text + done, size_t(n), decoded, &Utf8State);
            conputws(decoded.Buf(), produced);
        } else {
            Uni->BytesToChars(text + done, int32_t(n), buffer, CodePage);
            conputws(buffer, produced);
        }
        done += n;
    }
}

void VIO::WriteWideByte(wchar_t c, int count, int x, int y, int attrib)
{
    GUARD lock(*this);
    if (!RowTable)
        return;
    // Out-of-screen coordinates are reported and write nothing.
    if (!VIOASSERT(x >= 0 && x < ScreenWidth, "x<this->ScreenWidth") || x < 0 || x >= ScreenWidth)
        return;
    if (!VIOASSERT(y >= 0 && y < ScreenHeight, "y<this->ScreenHeight") || y < 0 || y >= ScreenHeight)
        return;
    int const total = ScreenWidth * ScreenHeight;
    int const start = y * ScreenWidth + x;
    if (count < 0 || count > total - start)
        count = total - start;
    int cells = 1;
    uint64_t const code = CharCode(uint32_t(c), &cells);
    RECT dirty{};
    if (cells == 0) {
        // A combining mark goes with the character in the cell.
        AddMark(start, uint32_t(c), dirty);
    } else {
        VIOCELL const style = StyleCell(attrib == -1 ? CurAttrib.load() : attrib);
        for (int i = 0; i < count; ++i)
            WriteCell(start + i, code, style, cells == 2, dirty);
    }
    MarkCellBox(dirty);
    RunPendingInherit();
}

void VIO::WriteByte(char c, int count, int x, int y, int attrib)
{
    WriteWideByte(ByteToChar(c), count, x, y, attrib);
}

void VIO::AddRowsToScrollback(int y1, int n, int x1, int x2)
{
    if (!Scrollback)
        return;
    for (int i = 0; i < n; ++i)
        Scrollback->AddLine(RowTable[y1 + i].Cells + x1, x2 - x1 + 1, i == n - 1);
}

bool VIO::ScrollbackTakesRows() const
{
    return Scrollback && (!AltScreen || Settings.ScrollbackIncludeAltScreens);
}

void VIO::BlankRow(int y, int x1, int x2)
{
    VIOCELL* cells = RowTable[y].Cells;
    RECT dirty{};
    WriteCell(y * ScreenWidth + x1, 32, StyleCell(CurAttrib), false, dirty);
    uint64_t const blank = Load(cells + x1);
    vioutils::Fill(cells + x1 + 1, x2 - x1, blank);
    RowTable[y].LineAttr = 0;
}

void VIO::ScrollArea(int x1, int y1, int x2, int y2, int lines, int mode)
{
    GUARD lock(*this);
    if (!RowTable)
        return;
    if (x1 > x2)
        std::swap(x1, x2);
    if (y1 > y2)
        std::swap(y1, y2);
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, ScreenWidth - 1);
    y2 = std::min(y2, ScreenHeight - 1);
    int const n = std::min(lines, y2 - y1 + 1);
    if (n <= 0 || x1 > x2)
        return;
    if (mode != VIOSCROLL_UP && mode != VIOSCROLL_DOWN) {
        VIOASSERT(false, "mode==8 || mode==2");
        return;
    }
    MarkCellsDirty(x1, y1, x2 - x1 + 1, y2 - y1 + 1, 1);
    bool const hid = HideCursor();
    bool const fullWidth = x1 == 0 && x2 == ScreenWidth - 1;
    size_t const span = size_t(x2 - x1 + 1) * sizeof(VIOCELL);
    if (mode == VIOSCROLL_UP) {
        if (ScrollbackTakesRows())
            AddRowsToScrollback(y1, n, x1, x2);
        if (fullWidth && y1 == 0 && y2 == ScreenHeight - 1) {
            int const height = ScreenHeight;
            if ((RowTable - RowBase) + height + n + 1 > RowSlots) {
                std::memmove(RowBase, RowTable, size_t(height) * sizeof(VIOROW));
                RowTable = RowBase;
            }
            for (int k = 0; k < n; ++k)
                RowTable[height + k] = RowTable[k];
            RowTable += n;
            RowTable[height] = VIOROW{};
        } else if (fullWidth) {
            std::rotate(RowTable + y1, RowTable + y1 + n, RowTable + y2 + 1);
        } else {
            for (int y = y1; y + n <= y2; ++y) {
                std::memmove(RowTable[y].Cells + x1, RowTable[y + n].Cells + x1, span);
                RowTable[y].LineAttr = RowTable[y + n].LineAttr;
            }
        }
        for (int y = y2 - n + 1; y <= y2; ++y)
            BlankRow(y, x1, x2);
    } else {
        if (fullWidth) {
            std::rotate(RowTable + y1, RowTable + y2 + 1 - n, RowTable + y2 + 1);
        } else {
            for (int y = y2; y - n >= y1; --y) {
                std::memmove(RowTable[y].Cells + x1, RowTable[y - n].Cells + x1, span);
                RowTable[y].LineAttr = RowTable[y - n].LineAttr;
            }
        }
        for (int y = y1; y < y1 + n; ++y)
            BlankRow(y, x1, x2);
    }
    if (Inherit)
        InheritAttrib(1);
    ClearMarkArea(1);
    if (hid)
        UpdateCursor();
}

void VIO::MoveArea(int fromX, int fromY, int toX, int toY, int count)
{
    if (count < 1)
        return;
    GUARD lock(*this);
    if (!RowTable)
        return;
    // Both ranges must lie inside their rows; the count is cut to fit
    // rather than letting cells of the next row (or the sentinel) move.
    if (fromX < 0 || toX < 0 || fromY < 0 || toY < 0 || fromX >= ScreenWidth || toX >= ScreenWidth ||
        fromY >= ScreenHeight || toY >= ScreenHeight) {
        VIOASSERT(false, "MoveArea inside the screen");
        return;
    }
    count = std::min({count, ScreenWidth - fromX, ScreenWidth - toX});
    std::memmove(RowTable[toY].Cells + toX, RowTable[fromY].Cells + fromX, size_t(count) * sizeof(VIOCELL));
    MarkCellsDirty(toX, toY, count, 1, 1);
    if (Inherit)
        InheritAttrib(1);
}

int VIO::ScreenToScrollback(int fromRow)
{
    GUARD lock(*this);
    if (!RowTable)
        return ScreenHeight;
    fromRow = std::max(fromRow, 0);
    if (Scrollback && fromRow < ScreenHeight)
        AddRowsToScrollback(fromRow, ScreenHeight - fromRow, 0, ScreenWidth - 1);
    return ScreenHeight;
}

void VIO::Erase(int x, int y, int length, int eraseProtected, char fill)
{
    GUARD lock(*this);
    if (!RowTable || y >= ScreenHeight)
        return;
    x = std::clamp(x, 0, ScreenWidth - 1);
    y = std::max(y, 0);
    int const total = ScreenWidth * ScreenHeight;
    int const start = y * ScreenWidth + x;
    if (length < 0 || length > total - start)
        length = total - start;
    if (length <= 0)
        return;

    // Text that an erase would lose goes to the scroll-back first.
    if (x == 0 && y < ScreenHeight - 1 && start + length == total) {
        if (ScrollbackTakesRows()) {
            bool text = false;
            for (int r = y; r < ScreenHeight && !text; ++r) {
                VIOCELL const* cells = RowTable[r].Cells;
                for (int c = 0; c < ScreenWidth; ++c) {
                    if (cells[c].c != 0 && cells[c].c != 32) {
                        text = true;
                        break;
                    }
                }
            }
            if (text)
                ScreenToScrollback(y);
        }
    } else if (x == 0 && length == ScreenWidth && y != CursorY) {
        if (ScrollbackTakesRows())
            Scrollback->AddLine(RowTable[y].Cells, ScreenWidth, 1);
    }

    uint64_t const filler = Bits(StyleCell(CurAttrib & ~VIOATTR_PROTECTED)) | uint16_t(ByteToChar(fill));
    RECT dirty{};
    int firstErased = -1, lastErased = -1;
    uint64_t firstOld = 0, lastOld = 0;
    if (eraseProtected) {
        // Every cell of the range goes: only the two ends matter for the
        // double-width halves just outside it.
        firstErased = start;
        lastErased = start + length - 1;
        firstOld = Load(LinearCell(firstErased));
        lastOld = Load(LinearCell(lastErased));
    }
    for (int yy = y, pos = start; pos < start + length; ++yy) {
        VIOCELL* cells = RowTable[yy].Cells;
        int const from = pos - yy * ScreenWidth;
        int const to = std::min(ScreenWidth, from + (start + length - pos));
        if (eraseProtected) {
            vioutils::Fill(cells + from, to - from, filler);
        } else {
            for (int c = from; c < to; ++c) {
                uint64_t const old = Load(cells + c);
                if (old & (uint64_t{VIOATTR_PROTECTED} << 16))
                    continue;
                Store(cells + c, filler);
                int const index = yy * ScreenWidth + c;
                if (firstErased < 0) {
                    firstErased = index;
                    firstOld = old;
                }
                lastErased = index;
                lastOld = old;
            }
        }
        AddBox(dirty, from, yy, to - from);
        pos += to - from;
    }
    // Halves of double-width characters just outside the erased cells.
    if (firstErased >= 0)
        BreakPair(firstErased, firstOld, filler, dirty);
    if (lastErased >= 0 && lastErased != firstErased)
        BreakPair(lastErased, lastOld, filler, dirty);
    if (Cell(filler).attrib & VIOATTR_BLINK)
        SomethingBlinks = true;
    MarkCellBox(dirty);
    if (Inherit)
        InheritAttrib(1);
    InheritPending = false;
}
