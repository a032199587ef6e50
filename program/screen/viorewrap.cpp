// Resizing: the screen keeps its text through a change of size. Logical
// lines (rows joined by the wrapped mark) are re-flowed to the new width and
// the cursor stays on its character. A screen that gets lower (or needs more
// rows once narrower) keeps its lines where they are while the cursor still
// fits: rows below the cursor go first, and only the top rows that no longer
// fit go to the scroll-back. A screen with rows to spare takes the newest
// lines back from the scroll-back, so the text moves down as in xterm.
//
// The cost is bounded: at most max(new height x 8, old height) logical lines
// are handled, and a logical line in the scroll-back that spans more rows
// than that is left where it is.
#include "program/screen/vio.h"

#include "program/screen/scrollback.h"
#include "program/screen/vioutils.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

using vioutils::Bits;

namespace {

// One logical line of the re-wrap.
struct LINE {
    std::unique_ptr<VIOCELL[]> Cells;
    int Count = 0;   // cells
    int Trimmed = 0; // cells without the trailing blanks
    bool Restore = false; // its return restores the scroll-back's view position
};

int RowsFor(int trimmed, int width) { return std::max(1, (trimmed + width - 1) / width); }

} // namespace

void VIO::SetWinSize(int width, int height)
{
    width = std::clamp(width, 1, 4096);
    height = std::clamp(height, 1, 4096);
    GUARD lock(*this);
    if (RowTable && width == ScreenWidth && height == ScreenHeight)
        return;
    int const oldWidth = ScreenWidth, oldHeight = ScreenHeight;
    std::unique_ptr<VIOCELL[]> old;
    if (RowTable) {
        // The copy is made before the old rows go: when it cannot be made,
        // the screen keeps its old size rather than losing its text.
        old.reset(new (std::nothrow) VIOCELL[size_t(oldWidth) * size_t(oldHeight)]);
        if (!old)
            return;
        for (int y = 0; y < oldHeight; ++y)
            std::memcpy(old.get() + size_t(y) * size_t(oldWidth), RowTable[y].Cells,
                        size_t(oldWidth) * sizeof(VIOCELL));
        if (CursorX >= 0 && CursorX < oldWidth && CursorY >= 0 && CursorY < oldHeight)
            old[size_t(CursorY) * size_t(oldWidth) + size_t(CursorX)].extattr |= VIOEXT_CURSOR;
    }
    VIOROW* const oldTable = RowBase;
    VIOCELL* const oldPool = CellPool;
    if (!AllocRows(width, height))
        return;
    delete[] oldTable;
    delete[] oldPool;
    SetCodepage(CodePage);
    if (!old)
        return;
    RewrapScreen(width, height, old.get(), oldWidth, oldHeight);
    CursorX = std::clamp(CursorX, 0, width - 1);
    CursorY = std::clamp(CursorY, 0, height - 1);
    Host->SyncCursorPos();
    MarkAllDirty(1);
}

void VIO::RewrapScreen(int newWidth, int newHeight, VIOCELL const* old, int oldWidth, int oldHeight)
{
    uint64_t const blank = Bits(vioutils::MakeCell(32, 0, vioutils::CellColour(Profile.ColorFore),
                                                   vioutils::CellColour(Profile.ColorBack)));
    auto trimmed = [blank](VIOCELL const* cells, int n) {
        while (n > 0 && Bits(cells[n - 1]) == blank)
            --n;
        return n;
    };
    int const maxLines = std::max(newHeight * 8, oldHeight);
    // The longest logical line taken from the scroll-back, in rows.
    int const maxPulledRows = maxLines * 4;
    // The alternate screen neither takes rows from the scroll-back nor
    // gives them to it (unless the scroll-back records it).
    bool const sbAllowed = ScrollbackTakesRows() && !SCROLLBACKBUFFER::RecordingSuspended.load();
    std::vector<LINE> lines;
    lines.reserve(size_t(maxLines));
    int rowTotal = 0;
    // Rows below the cursor's row once re-flowed: these go first when the
    // screen has too few rows.
    int below = 0;
    bool cursorSeen = false;
    bool const cursorInside = CursorX >= 0 && CursorX < oldWidth && CursorY >= 0 && CursorY < oldHeight;

    // 1. The screen's logical lines, from the bottom upward.
    for (int row = oldHeight - 1; row >= 0;) {
        int top = row;
        while (top > 0 && (old[size_t(top) * size_t(oldWidth) - 1].attrib & VIOATTR_WRAPPED))
            --top;
        LINE line;
        int const own = (row - top + 1) * oldWidth;
        VIOCELL* head = nullptr;
        int headCount = 0;
        if (top == 0 && sbAllowed) {
            int const rows = Scrollback->CountWrappedRows(maxPulledRows, true);
            if (rows > 0 && rows <= maxPulledRows)
                headCount = Scrollback->PopFullWrappedLine(&head, 1);
        }
        line.Count = headCount + own;
        line.Cells.reset(new VIOCELL[size_t(line.Count)]);
        if (headCount)
            std::memcpy(line.Cells.get(), head, size_t(headCount) * sizeof(VIOCELL));
        delete[] head;
        std::memcpy(line.Cells.get() + headCount, old + size_t(top) * size_t(oldWidth), size_t(own) * sizeof(VIOCELL));
        line.Trimmed = trimmed(line.Cells.get(), line.Count);
        int const rows = RowsFor(line.Trimmed, newWidth);
        rowTotal += rows;
        if (!cursorSeen) {
            if (cursorInside && CursorY >= top && CursorY <= row) {
                // The cursor's mark keeps its cell out of the trimmed blanks.
                int const at = headCount + (CursorY - top) * oldWidth + CursorX;
                below += rows - 1 - at / newWidth;
                cursorSeen = true;
            } else if (cursorInside || line.Trimmed == 0) {
                // Without a cursor, the blank lines below the text count.
                below += rows;
            } else {
                cursorSeen = true;
            }
        }
        lines.push_back(std::move(line));
        row = top - 1;
    }

    // 2. Too few rows: the rows below the cursor go first (the lowest line
    // may lose its last rows); the rest is cut from the top in step 4.
    int first = 0;
    if (rowTotal > newHeight) {
        int drop = std::min(rowTotal - newHeight, below);
        while (drop > 0 && first < int(lines.size())) {
            LINE& line = lines[size_t(first)];
            int const rows = RowsFor(line.Trimmed, newWidth);
            if (rows <= drop) {
                drop -= rows;
                ++first;
                continue;
            }
            line.Count = std::min(line.Count, (rows - drop) * newWidth);
            line.Trimmed = std::min(line.Trimmed, line.Count);
            drop = 0;
        }
    }

    // 3. Rows to spare: the newest lines come back from the scroll-back,
    // as many rows as there is room for (a line taller than that is placed
    // with its tail only in step 4, and its head goes back).
    bool restoreMarked = false;
    for (int room = newHeight - rowTotal; sbAllowed && room > 0 && int(lines.size()) < maxLines;) {
        int const rows = Scrollback->CountWrappedRows(maxPulledRows, false);
        if (rows == 0 || rows > maxPulledRows)
            break;
        int const viewBefore = Scrollback->CurLineIdx;
        VIOCELL* cells = nullptr;
        int const n = Scrollback->PopFullWrappedLine(&cells, 0);
        if (n <= 0) {
            delete[] cells;
            break;
        }
        LINE line;
        line.Cells.reset(cells);
        line.Count = n;
        line.Trimmed = trimmed(cells, n);
        if (!restoreMarked && Scrollback->CurLineIdx != viewBefore) {
            line.Restore = true;
            restoreMarked = true;
        }
        room -= RowsFor(line.Trimmed, newWidth);
        lines.push_back(std::move(line));
    }
    int const num = int(lines.size());
    first = std::clamp(first, 0, std::max(num - 1, 0));

    // 4. Place the lines from the bottom row upward.
    int remaining = newHeight;
    int entry = first;
    int cutEntry = -1;
    bool cursorPlaced = false;
    int cursorX = CursorX, cursorY = CursorY;
    for (; entry < num && remaining > 0; ++entry) {
        LINE& line = lines[size_t(entry)];
        int rows = RowsFor(line.Trimmed, newWidth);
        int offset = 0;
        if (rows > remaining) {
            offset = (rows - remaining) * newWidth;
            VIOASSERT(offset < line.Count, "offset<old_len");
            rows = remaining;
        }
        int const top = remaining - rows;
        int const place = std::min(line.Count - offset, rows * newWidth);
        for (int k = 0; k < rows * newWidth; ++k) {
            VIOCELL* cell = RowTable[top + k / newWidth].Cells + k % newWidth;
            if (k >= place) {
                vioutils::Store(cell, blank);
                continue;
            }
            VIOCELL c = line.Cells[size_t(offset + k)];
            c.attrib &= uint16_t(~VIOATTR_WRAPPED);
            if (k % newWidth == newWidth - 1 && k < place - 1)
                c.attrib |= VIOATTR_WRAPPED;
            if (c.extattr & VIOEXT_CURSOR) {
                c.extattr &= uint8_t(~VIOEXT_CURSOR);
                cursorX = k % newWidth;
                cursorY = top + k / newWidth;
                cursorPlaced = true;
            }
            *cell = c;
        }
        remaining = top;
        if (offset > 0) {
            // The head of a cut line stays in the table for the scroll-back.
            line.Count = offset;
            line.Trimmed = offset;
            line.Cells[size_t(offset - 1)].attrib |= VIOATTR_WRAPPED;
            cutEntry = entry;
            break;
        }
    }
    ScreenValidateEndCell();

    // 5. Rows left empty at the top: the content moves up.
    if (cutEntry < 0 && entry == num && remaining > 0) {
        std::rotate(RowTable, RowTable + remaining, RowTable + newHeight);
        cursorY -= remaining;
    }

    // 6. What was not placed goes back to the scroll-back, oldest first.
    int const lowest = cutEntry >= 0 ? cutEntry : entry;
    for (int k = num - 1; k >= lowest && sbAllowed; --k) {
        LINE& line = lines[size_t(k)];
        int const n = k == cutEntry ? line.Count : std::min(line.Count, RowsFor(line.Trimmed, newWidth) * newWidth);
        int const rows = RowsFor(n, newWidth);
        for (int r = 0; r < rows; ++r) {
            VIOCELL* cells = line.Cells.get() + size_t(r) * size_t(newWidth);
            int const len = std::min(newWidth, n - r * newWidth);
            for (int i = 0; i < len; ++i) {
                cells[i].attrib &= uint16_t(~VIOATTR_WRAPPED);
                if (cells[i].extattr & VIOEXT_CURSOR) {
                    VIOASSERT(!cursorPlaced, "!did_cursorpos");
                    cells[i].extattr &= uint8_t(~VIOEXT_CURSOR);
                    if (!cursorPlaced) {
                        cursorX = i;
                        cursorY = 0;
                    }
                }
            }
            // Every row but the last continues in the next; so does the
            // last row of a cut line's head, whose tail is on the screen.
            if (r < rows - 1 || k == cutEntry)
                cells[len - 1].attrib |= VIOATTR_WRAPPED;
            Scrollback->AddLine(cells, len, k == lowest && r == rows - 1);
        }
        if (line.Restore) {
            MUTEXLOCK sb(Scrollback->Lock);
            Scrollback->CurLineIdx = Scrollback->NumLines;
        }
    }
    CursorX = cursorX;
    CursorY = cursorY;

    // 7.
    ClearMarkArea(0);
    Host->UpdateScrollbarNow();
}
