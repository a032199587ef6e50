// The VT420's rectangular areas (fill, erase, selective erase, copy, and
// changing or reversing renditions) and its column functions (insert and
// delete columns, shift left and right, back and forward index), all
// inside the margins. Cells are changed in place on the screen.
#include "outside/corvane/vtemulation.h"

#include "plugins/sdk/emulationapi.h"

#include <algorithm>
#include <vector>

namespace {

// The renditions these functions change: bold, underline, blink, inverse
// (as SGR 1, 4, 5, 7 name them) and hidden (8).
uint16_t RenditionBit(int sgr)
{
    switch (sgr) {
    case 1:
        return VIOATTR_BRIGHT;
    case 4:
        return VIOATTR_UNDERLINE;
    case 5:
        return VIOATTR_BLINK;
    case 7:
        return VIOATTR_INVERSE;
    case 8:
        return VIOATTR_INVISIBLE;
    default:
        return 0;
    }
}

constexpr uint16_t kRenditions = VIOATTR_BRIGHT | VIOATTR_UNDERLINE | VIOATTR_BLINK | VIOATTR_INVERSE;

} // namespace

VTEMULATION::RECTANGLE VTEMULATION::RectangleAt(int first) const
{
    // Top, left, bottom and right from parameter `first` on, from 1;
    // relative to the origin and inside the margins under DECOM.
    vt::SEQUENCE const& s = Seq;
    int const top0 = OriginMode ? Top : 0, bottom0 = OriginMode ? Bottom : H - 1;
    int const left0 = OriginMode ? LeftMargin() : 0, right0 = OriginMode ? RightMargin() : W - 1;
    RECTANGLE r;
    r.Top = std::min(top0 + s.Get(first, 1) - 1, bottom0 + 1);
    r.Left = std::min(left0 + s.Get(first + 1, 1) - 1, right0 + 1);
    r.Bottom = std::min(top0 + s.Get(first + 2, bottom0 - top0 + 1) - 1, bottom0);
    r.Right = std::min(left0 + s.Get(first + 3, right0 - left0 + 1) - 1, right0);
    return r;
}

void VTEMULATION::FillRectangle(RECTANGLE const& r, uint32_t c)
{
    FlushBatch();
    VIOCELL cell{};
    cell.c = uint16_t(c);
    cell.attrib = VioAttrib();
    cell.fore = uint32_t(VioFore()) & 0xFFF;
    cell.back = uint32_t(VioBack()) & 0xFFF;
    for (int y = r.Top; y <= r.Bottom; ++y)
        for (int x = r.Left; x <= r.Right; ++x)
            *Vio->AccessVioCell(x, y, 1) = cell;
    RepaintAll = true;
}

void VTEMULATION::EraseRectangle(RECTANGLE const& r, bool selective)
{
    FlushBatch();
    for (int y = r.Top; y <= r.Bottom && r.Left <= r.Right; ++y)
        EraseCells(r.Left, y, r.Right - r.Left + 1, selective);
}

void VTEMULATION::CopyRectangle()
{
    FlushBatch();
    RECTANGLE const from = RectangleAt(0);
    if (from.Empty())
        return;
    // The target's top left corner, in the same coordinates.
    int const top0 = OriginMode ? Top : 0, bottom0 = OriginMode ? Bottom : H - 1;
    int const left0 = OriginMode ? LeftMargin() : 0, right0 = OriginMode ? RightMargin() : W - 1;
    int const toY = top0 + Seq.Get(5, 1) - 1;
    int const toX = left0 + Seq.Get(6, 1) - 1;
    if (toY > bottom0 || toX > right0)
        return;
    int const rows = std::min(from.Bottom - from.Top + 1, bottom0 - toY + 1);
    int const cols = std::min(from.Right - from.Left + 1, right0 - toX + 1);
    // Through a copy, so that overlapping areas come out right.
    std::vector<VIOCELL> cells(size_t(rows) * size_t(cols));
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            cells[size_t(y) * size_t(cols) + size_t(x)] = *Vio->AccessVioCell(from.Left + x, from.Top + y, 0);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            *Vio->AccessVioCell(toX + x, toY + y, 1) = cells[size_t(y) * size_t(cols) + size_t(x)];
    RepaintAll = true;
}

void VTEMULATION::ChangeRenditions(bool reverse)
{
    FlushBatch();
    RECTANGLE const r = RectangleAt(0);
    if (r.Empty())
        return;
    // What to set, clear or reverse. SGR 0 clears the renditions; it
    // reverses none of them (as in xterm, where only 1, 4, 5 and 7 do).
    uint16_t set = 0, clear = 0, flip = 0;
    for (int i = 4; i < std::max(Seq.Count, 5); ++i) {
        int const p = Seq.Raw(i);
        if (reverse) {
            flip |= RenditionBit(p) & kRenditions;
        } else if (p == 0) {
            set = 0;
            clear = kRenditions | VIOATTR_INVISIBLE;
        } else if (p >= 22 && p <= 28) {
            uint16_t const bit = RenditionBit(p == 22 ? 1 : p - 20);
            clear |= bit;
            set &= uint16_t(~bit);
        } else {
            set |= RenditionBit(p);
            clear &= uint16_t(~RenditionBit(p));
        }
    }
    auto change = [&](int x, int y) {
        VIOCELL* cell = Vio->AccessVioCell(x, y, 1);
        cell->attrib = uint16_t(((cell->attrib & ~clear) | set) ^ flip);
    };
    if (RectangleExtent) {
        for (int y = r.Top; y <= r.Bottom; ++y)
            for (int x = r.Left; x <= r.Right; ++x)
                change(x, y);
    } else {
        // From the first position to the last in reading order, each row
        // from margin to margin between them.
        int const left = LeftMargin(), right = RightMargin();
        for (int y = r.Top; y <= r.Bottom; ++y) {
            int const from = y == r.Top ? r.Left : left;
            int const to = y == r.Bottom ? r.Right : right;
            for (int x = from; x <= to; ++x)
                change(x, y);
        }
    }
    RepaintAll = true;
}

// ---------------------------------------------------------------------------
// Columns

void VTEMULATION::ShiftColumns(int at, int n, bool right)
{
    // The columns from `at` to the right margin move n columns right (their
    // end is lost) or left (from `at` + n); the columns freed are blank. On
    // the rows of the scrolling region only.
    FlushBatch();
    int const edge = RightMargin();
    int const width = edge - at + 1;
    n = std::min(n, width);
    if (n <= 0)
        return;
    for (int y = Top; y <= Bottom; ++y) {
        if (width - n > 0) {
            if (right)
                Vio->MoveArea(at, y, at + n, y, width - n);
            else
                Vio->MoveArea(at + n, y, at, y, width - n);
        }
        EraseCells(right ? at : edge - n + 1, y, n);
    }
    WrapPending = false;
}

bool VTEMULATION::CursorInMargins() const
{
    return Y >= Top && Y <= Bottom && X >= LeftMargin() && X <= RightMargin();
}

void VTEMULATION::BackIndex()
{
    if (X > LeftMargin())
        MoveTo(X - 1, Y);
    else if (CursorInMargins())
        ShiftColumns(LeftMargin(), 1, true);
}

void VTEMULATION::ForwardIndex()
{
    if (X < RightMargin())
        MoveTo(X + 1, Y);
    else if (CursorInMargins())
        ShiftColumns(LeftMargin(), 1, false);
}
