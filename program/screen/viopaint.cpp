// Painting: the paint event draws the update rectangle straight from the
// cells, in runs of cells that look alike (one text call per run); rows with
// a line attribute go through a bitmap stretched to double width or height;
// box drawing, blocks and symbols are drawn as geometry (viographics.cpp).
#include "program/screen/vio.h"

#include "program/screen/vioutils.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/gui/windraw.h"
#include "velmot/gui/winfont.h"

#include <algorithm>
#include <optional>
#include <vector>

using vioutils::Bits;

namespace {

RECT Intersect(RECT a, RECT const& b)
{
    a.left = std::max(a.left, b.left);
    a.top = std::max(a.top, b.top);
    a.right = std::min(a.right, b.right);
    a.bottom = std::min(a.bottom, b.bottom);
    return a;
}

bool IsEmpty(RECT const& r) { return r.right <= r.left || r.bottom <= r.top; }

} // namespace

void VIO::OnPaint(PAINTSTRUCT& ps)
{
    ++PaintNesting;
    PaintThread = OSYS::GetCurrentThreadId();
    SIZE const client = Host->ClientSize();
    RECT const area{0, 0, std::max(client.cx, ScreenWidth * CellWidth), std::max(client.cy, ScreenHeight * CellHeight)};
    {
        WINDC dc(ps.hdc, area, false);
        OwnDC = &dc;
        if (Font)
            dc.SelectFont(Font);
        {
            CELLPAINTER cells(dc, SIZE{CellWidth, CellHeight}, CellHeight - FontDescent);
            PAINTER const active(*this, dc, cells);
            // The rectangles of the update region, so that two changed rows
            // far apart do not repaint the rows between.
            if (ps.rcRegion.empty())
                RepaintInRect(dc, ps.rcPaint, static_cast<signed char>(MODE_DRAW));
            for (RECT const& r : ps.rcRegion)
                RepaintInRect(dc, r, static_cast<signed char>(MODE_DRAW));
            if (FlashFlag) {
                cells.InvertRect(RECT{0, 0, ScreenWidth * CellWidth, ScreenHeight * CellHeight});
                FlashFlag = false;
            }
        }
        if (Font)
            dc.DeselectFont(Font);
        OwnDC = nullptr;
    }
    --PaintNesting;
    if (!(ps.rcPaint == GetCursorRect(0, 1)) && PostShadowFlag)
        Host->PostShadow(Profile.Transparency);
    Invalidated = false;
    PostShadowFlag = false;
}

VIO::PAINTER::PAINTER(VIO& vio, WINDC& dc, CELLPAINTER& cells)
    : Screen(vio), SavedCells(vio.Painter), SavedDC(vio.PainterDC)
{
    vio.Painter = &cells;
    vio.PainterDC = &dc;
}

VIO::PAINTER::~PAINTER()
{
    Screen.Painter = SavedCells;
    Screen.PainterDC = SavedDC;
}

void VIO::RepaintInRect(WINDC& dc, RECT const& rect, signed char mode)
{
    GUARD lock(*this, 10);
    if (!lock.Held()) {
        Host->Invalidate(&rect);
        return;
    }
    if (!RowTable || CellWidth <= 0 || CellHeight <= 0)
        return;
    RECT const screen{0, 0, ScreenWidth * CellWidth, ScreenHeight * CellHeight};
    if (mode == MODE_DRAW && Painter && PainterDC == &dc) {
        // The window's margin beyond the last whole cell.
        uint32_t back = 0;
        AttribToColors(0, Profile.ColorFore, Profile.ColorBack, nullptr, &back);
        RECT const right = Intersect(rect, RECT{screen.right, rect.top, rect.right, rect.bottom});
        RECT const below = Intersect(rect, RECT{rect.left, screen.bottom, std::min(rect.right, screen.right), rect.bottom});
        if (!IsEmpty(right))
            Painter->FillRect(right, back);
        if (!IsEmpty(below))
            Painter->FillRect(below, back);
    }
    if (rect.left <= 0 && rect.top <= 0 && rect.right >= screen.right && rect.bottom >= screen.bottom) {
        PaintAll(dc, mode);
    } else {
        int const top = std::clamp(int(rect.top) / CellHeight, 0, ScreenHeight - 1);
        int const bottom = std::clamp((int(rect.bottom) - 1) / CellHeight, 0, ScreenHeight - 1);
        for (int y = top; y <= bottom && rect.bottom > rect.top; ++y) {
            int const width = CellWidth * (RowTable[y].LineAttr ? 2 : 1);
            int x = std::clamp(int(rect.left) / width, 0, ScreenWidth - 1);
            int const last = std::clamp((int(rect.right) - 1) / width, 0, ScreenWidth - 1);
            if (rect.right <= rect.left || x > last)
                continue;
            int row = y;
            MemToScreen(dc, &x, &row, last - x + 1, mode);
        }
    }
    if (mode == MODE_DRAW && Painter && PainterDC == &dc && CursorStyle == VIOCURSOR_CROSSHAIR && !CursorHidden &&
        CursorState > 0) {
        int const colour = Profile.ColorCursor ? Profile.ColorCursor - 1 : Profile.ColorFore;
        uint32_t const rgb = GetSysColor(colour);
        RECT const c = GetCursorRect(0, 1);
        Painter->FillRect(RECT{0, c.bottom - 1, screen.right, c.bottom}, rgb);
        Painter->FillRect(RECT{c.left, 0, c.left + 1, screen.bottom}, rgb);
    }
}

void VIO::PaintAll(WINDC& dc, signed char mode)
{
    GUARD lock(*this, 10);
    if (!lock.Held()) {
        Host->Invalidate(nullptr);
        return;
    }
    if (RowTable) {
        int x = 0, y = 0;
        MemToScreen(dc, &x, &y, long(ScreenWidth) * ScreenHeight, mode);
    }
}

int VIO::MemToScreen(WINDC& dc, int* x, int* y, long cells, signed char mode)
{
    if (!RowTable || !x || !y)
        return 0;
    GUARD lock(*this, 50);
    if (!lock.Held()) {
        LOGIT("VIO::MemToScreen was locked\n");
        return 0;
    }
    if (!RowTable || *y < 0 || *y >= ScreenHeight || *x < 0 || *x >= ScreenWidth)
        return 0;
    int const neededBuffer = std::max(256, ScreenWidth + 1);
    if (RunBufferSize < neededBuffer) {
        delete[] RunBuffer;
        RunBuffer = new wchar_t[size_t(neededBuffer)];
        RunBufferSize = neededBuffer;
    }
    // A context drawn into outside a paint (the thumbnails' bitmap, a
    // guest) gets its cell painter here, for this batch.
    bool const own = &dc == OwnDC || &dc == MemoryDC.get();
    int cellWidth = CellWidth, cellHeight = CellHeight, descent = FontDescent;
    if (!own && dc.hFont)
        dc.GetFontSize(&cellWidth, &cellHeight, &descent);
    std::optional<CELLPAINTER> batch;
    std::optional<PAINTER> active;
    if (mode == MODE_DRAW && PainterDC != &dc) {
        batch.emplace(dc, SIZE{cellWidth, cellHeight}, cellHeight - descent);
        active.emplace(*this, dc, *batch);
    }
    int cx = *x, cy = *y;
    if (vioutils::IsWideRight(RowTable[cy].Cells[cx]) && cx > 0) {
        --cx;
        ++cells;
    }
    int passed = 0;
    while (cells > 0) {
        int from = -1, to = -1;
        if (MarkMode == VIOMARK_STREAM && cy >= MarkY1 && cy <= MarkY2) {
            from = cy == MarkY1 ? MarkX1 : 0;
            to = cy == MarkY2 ? MarkX2 : ScreenWidth - 1;
        } else if (MarkMode == VIOMARK_BLOCK && cy >= MarkY1 && cy <= MarkY2) {
            from = MarkX1;
            to = MarkX2;
        }
        VIOCELL const* row = RowTable[cy].Cells;
        int const end = int(std::min<long>(ScreenWidth, cx + cells));
        while (cx < end) {
            int const n = TextToWindow(dc, cx, cy, POINT{cx * cellWidth, cy * cellHeight}, row + cx, end - cx, end,
                                       mode, from, to, RunBuffer);
            if (n <= 0)
                break;
            cx += n;
            cells -= n;
        }
        if (cx < ScreenWidth)
            break;
        cx = 0;
        if (++cy >= ScreenHeight) {
            ++passed;
            cy = ScreenHeight - 1;
            break;
        }
    }
    *x = cx;
    *y = cy;
    return passed;
}

int VIO::TextToWindow(WINDC& dc, int column, int row, POINT at, VIOCELL const* cells, int count, int endColumn,
                      int mode, int markFrom, int markTo, wchar_t* buffer)
{
    if (mode == MODE_ONLYBLINK) {
        VIOASSERT(false, "mode!=VIO_MODEONLYBLINK");
        return 0;
    }
    if (!cells || count <= 0)
        return 0;
    bool const own = &dc == OwnDC || &dc == MemoryDC.get();
    if (mode == MODE_MARK && !own) {
        VIOASSERT(false, "!isguestdc");
        return 0;
    }
    int cellWidth = CellWidth, cellHeight = CellHeight;
    if (!own && dc.hFont) {
        SIZE const s = dc.GetFontSize();
        cellWidth = s.cx;
        cellHeight = s.cy;
    }
    count = std::min(count, std::max(endColumn - column, 1));

    // The run: cells that look alike. The bits by which a cell refers to
    // the table of characters are no part of its look; a character with
    // marks is a run of its own, laid out as one.
    constexpr uint64_t kLook = ~(uint64_t{0xFC} << 16);
    VIOCELL const first = cells[0];
    uint64_t const style = (Bits(first) >> 16) & kLook;
    bool const graphic = IsGraphicChar(first.c);
    auto selected = [&](int col) { return markFrom >= 0 && col >= markFrom && col <= markTo; };
    bool const inSelection = selected(column);
    std::u32string cluster;
    if (VIOCHARS::IsExtended(first)) {
        Chars.AppendText(first, cluster);
        if (cluster.size() < 2)
            cluster.clear();
    }
    int n = 1;
    if (!(first.attrib & VIOATTR_DOUBLEWIDTH) && cluster.empty()) {
        std::u32string text;
        while (n < count) {
            VIOCELL const c = cells[n];
            if (((Bits(c) >> 16) & kLook) != style || IsGraphicChar(c.c) != graphic || selected(column + n) != inSelection)
                break;
            if (VIOCHARS::IsExtended(c)) {
                text.clear();
                Chars.AppendText(c, text);
                if (text.size() > 1)
                    break;
            }
            ++n;
        }
    }
    // A double-width character takes its right half with it.
    int const consumed = n + ((first.attrib & VIOATTR_DOUBLEWIDTH) && !vioutils::IsWideRight(first) && count > 1 &&
                              vioutils::IsWideRight(cells[1]) ? 1 : 0);
    if (mode == MODE_COUNT)
        return consumed;
    int const lineAttr = row >= 0 && row < ScreenHeight ? RowTable[row].LineAttr : 0;
    int const scale = lineAttr ? 2 : 1;
    bool const rightHalf = vioutils::IsWideRight(first);
    bool const wide = (first.attrib & VIOATTR_DOUBLEWIDTH) && !rightHalf;
    int const pixelWidth = n * cellWidth * scale * (wide ? 2 : 1);
    RECT const r{at.x * scale, at.y, at.x * scale + pixelWidth, at.y + cellHeight};
    if (mode == MODE_MARK) {
        MarkDirty(&r, 1);
        return consumed;
    }
    if (!Painter || PainterDC != &dc)
        return consumed; // drawing goes through a cell painter (MemToScreen makes one)
    CELLPAINTER& cp = *Painter;

    int attrib = first.attrib;
    if (inSelection)
        attrib |= VIOATTR_HIGHLIGHT;
    uint32_t fore = 0, back = 0;
    AttribToColors(attrib, first.fore, first.back, &fore, &back);
    if (rightHalf) {
        // The right half of a character whose left half ends the row above:
        // only its background shows here.
        cp.FillRect(RECT{r.left, r.top, r.left + cellWidth * scale, r.bottom}, back);
        return 1;
    }

    int length = 0;
    bool allBlank = true, underscores = false;
    for (int i = 0; i < n; ++i) {
        wchar_t c = VIOCHARS::IsExtended(cells[i]) ? wchar_t(Chars.Base(cells[i])) : wchar_t(cells[i].c);
        if ((cells[i].attrib & VIOATTR_FIELD) && !AttrCellsPlain)
            c = 0x2248;
        else if (c == 127 || (c == 0 && !(cells[i].attrib & VIOATTR_DOUBLEWIDTH)))
            c = L' ';
        allBlank = allBlank && c == L' ';
        underscores = underscores || c == L'_';
        buffer[length++] = c;
    }
    bool const blank = (allBlank && cluster.empty()) || fore == back;

    bool const cursorHere = own && !CursorHidden && CursorState == 1 && row == CursorY && CursorX >= column &&
                            CursorX < column + consumed &&
                            (CursorStyle != VIOCURSOR_BLINKING || BlinkPhase || BlinkSkipStart != 0);
    RECT const cursor = GetCursorRect(0, 1);
    uint32_t const cursorColour = Profile.ColorCursor ? GetSysColor(Profile.ColorCursor - 1) : 0;
    bool const underline = ((attrib & VIOATTR_UNDERLINE) && !(attrib & VIOATTR_FIELD)) || (first.extattr & VIOEXT_LINK);
    uint32_t const flags = (underline ? CELLPAINTER::UNDERLINE : 0) | (wide ? CELLPAINTER::WIDE : 0);
    RECT const* colouredCursor = cursorHere && Profile.ColorCursor ? &cursor : nullptr;
    // Bold text in the bold face of the font (the field attribute cell of
    // block mode shows its raw colours only).
    bool const bold = (attrib & VIOATTR_BRIGHT) && !(attrib & VIOATTR_FIELD) && BoldFont;
    COREFONT* const font = own ? (bold ? BoldFont : Font) : dc.hFont;

    RECT const bottomRow{r.left, r.bottom - 1, r.right, r.bottom};
    if (Profile.Transparency > 0)
        cp.ClearRect(r);
    if (graphic) {
        RenderGraphicChars(dc, r, cells, n, cellWidth * scale, cellHeight, lineAttr, fore, back,
                           cursorHere ? CursorX - column : -1, cursorColour);
        if (underline)
            cp.FillRect(bottomRow, fore);
    } else if (blank && lineAttr == 0) {
        cp.FillRect(r, back);
        if (colouredCursor)
            cp.FillRect(cursor, cursorColour);
        if (underline)
            cp.FillRect(bottomRow, fore);
    } else {
        if (lineAttr != 0)
            RenderLinemodeText(dc, r, buffer, length, lineAttr, fore, back, flags, colouredCursor, cursorColour,
                               cluster);
        else if (!cluster.empty())
            cp.RunCluster(r.left, r.top, cluster, font, fore, back, flags, colouredCursor, cursorColour);
        else
            cp.Run(r.left, r.top, buffer, length, font, fore, back, flags, colouredCursor, cursorColour);
        // Underscores as full lines where the font's lie, inside the cell
        // (the font's own may be faint or cut away by the cell's edge).
        if (underscores && own && UnderscoreHeight > 0 && lineAttr != VIOLINE_DOUBLEHEIGHT_TOP) {
            bool const tall = lineAttr == VIOLINE_DOUBLEHEIGHT_BOTTOM;
            int const top = r.top + (tall ? 2 * UnderscoreTop - cellHeight : UnderscoreTop);
            int const bottom = top + (tall ? 2 : 1) * UnderscoreHeight;
            int const step = cellWidth * scale;
            for (int i = 0; i < length; ++i)
                if (buffer[i] == L'_')
                    cp.FillRect(RECT{r.left + i * step, top, r.left + (i + 1) * step, bottom}, fore);
        }
    }
    if ((attrib & VIOATTR_COLSEP) && !(attrib & VIOATTR_FIELD)) {
        int const w = cellWidth < 9 ? 1 : 2;
        int const h = cellHeight < 17 ? 2 : 3;
        int const step = cellWidth * scale;
        for (int x = r.left; x < r.right; x += step)
            cp.FillRect(RECT{x, r.bottom - h, x + w, r.bottom}, fore);
    }
    // The cursor comes last, over the underline, underscores and separator
    // marks of its cell: inverted, or, shaped as an underline, in its own
    // colour over the rows those take (a block in its colour lies behind
    // the character and its decorations).
    if (cursorHere && !Profile.ColorCursor)
        cp.InvertRect(cursor);
    else if (cursorHere && CursorType != VIOCURSOR_BLOCK)
        cp.FillRect(cursor, cursorColour);
    return consumed;
}

void VIO::RenderLinemodeText(WINDC& dc, RECT const& run, wchar_t const* text, int length, int lineAttr,
                             uint32_t fore, uint32_t back, uint32_t flags, RECT const* cursor, uint32_t cursorColour,
                             std::u32string_view cluster)
{
    // The run at its normal size, stretched into the row: twice as wide,
    // and for the halves of double height each half twice as high. The
    // cursor rectangle is given at the normal size too.
    if (!Painter || length <= 0)
        return;
    if (cursor)
        VIOASSERT(cursorColour > 0, "cursor_color>0");
    int const how = lineAttr == VIOLINE_DOUBLEHEIGHT_TOP      ? CELLPAINTER::DOUBLEHEIGHTTOP
                    : lineAttr == VIOLINE_DOUBLEHEIGHT_BOTTOM ? CELLPAINTER::DOUBLEHEIGHTBOTTOM
                                                              : CELLPAINTER::DOUBLEWIDTH;
    RECT normal{};
    if (cursor) {
        normal = *cursor;
        normal.left = run.left + (cursor->left - run.left) / 2;
        normal.right = normal.left + (cursor->right - cursor->left) / 2;
    }
    COREFONT* const font = &dc == OwnDC || &dc == MemoryDC.get() ? Font : dc.hFont;
    if (!cluster.empty())
        Painter->RunCluster(run.left, run.top, cluster, font, fore, back, flags, cursor ? &normal : nullptr,
                            cursorColour, how);
    else
        Painter->RunStretched(run.left, run.top, text, length, font, fore, back, flags, how,
                              cursor ? &normal : nullptr, cursorColour);
}

// ---- The off-screen bitmap ----

void VIO::OnResized(signed char hidden)
{
    GUARD lock(*this);
    ScreenDC();
    SIZE const client = Host->ClientSize();
    SIZE size = hidden ? SIZE{32, 32} : client;
    if (!hidden && size.cx <= 0)
        size = SIZE{std::max(ScreenWidth * CellWidth, 1), std::max(ScreenHeight * CellHeight, 1)};
    SizeBitmap(size);
}

void VIO::SizeBitmap(SIZE size)
{
    if (MemoryBitmap->Cx == size.cx && MemoryBitmap->Cy == size.cy)
        return;
    // The context is made again for the new pixels, the font selected into
    // it again.
    if (MemoryDC->hFont)
        MemoryDC->DeselectFont(MemoryDC->hFont);
    MemoryBitmap->Init(size);
    MemoryDC = std::make_unique<WINDC>(static_cast<plat::DrawContext*>(*MemoryBitmap), MemoryBitmap->GetRect(), true);
    if (Font)
        MemoryDC->SelectFont(Font);
}

bool VIO::OnShowHide(signed char visible)
{
    int const v = visible ? 1 : 0;
    if (v == Visible)
        return false;
    Visible = v;
    OnResized(static_cast<signed char>(!visible));
    return true;
}

MEMORYBITMAP& VIO::LockBitmap(signed char repaint)
{
    Lock.Obtain(-1);
    ScreenDC();
    if (Visible == 0) {
        SIZE const client = Host->ClientSize();
        SizeBitmap(client.cx > 0 ? client
                                 : SIZE{std::max(ScreenWidth * CellWidth, 1), std::max(ScreenHeight * CellHeight, 1)});
    }
    if (repaint && RowTable)
        PaintAll(*MemoryDC, static_cast<signed char>(MODE_DRAW));
    return *MemoryBitmap;
}

int VIO::ReleaseBitmap(MEMORYBITMAP& bitmap)
{
    VIOASSERT(MemoryBitmap && bitmap.GetBitmap() == MemoryBitmap->GetBitmap(),
              "mb.GetHandle()==this->MemoryBitmap.GetHandle()");
    if (Visible == 0)
        OnResized(1);
    Lock.Release();
    return 1;
}
