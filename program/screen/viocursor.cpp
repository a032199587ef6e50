// The dirty area and its flush, the draw bracket and its throttle, the
// cursor with its blink timer, the visual bell, and the screen's font with
// the measure of its underscore.
#include "program/screen/vio.h"

#include "platform/draw/bitmap.h"
#include "program/screen/termfonts.h"
#include "program/screen/vioutils.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/gui/windraw.h"
#include "velmot/gui/winfont.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cwchar>
#include <time.h>

namespace {

// Milliseconds of the coarse monotonic clock: a few ms of resolution are
// plenty for throttles of 20 ms and more, and it costs no time-stamp read.
long long NowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Flush periods inside a draw bracket for the JumpScroll steps 0..3.
constexpr int kJumpScrollMs[4] = {20, 40, 83, 166};

// A bracket that ends less than a frame after the last flush leaves its
// area to timer 259: data that the main thread keeps up with closes a
// bracket after every read, and the window is repainted at most once a
// frame however often that happens.
constexpr int kFrameMs = 16;
constexpr int kTimerFrame = 259;

bool Empty(RECT const& r) { return r.right <= r.left || r.bottom <= r.top; }

} // namespace

// ---- Dirty areas ----

void VIO::SetCellSize(int width, int height)
{
    GUARD lock(*this);
    CellWidth = std::max(width, 0);
    CellHeight = std::max(height, 0);
    UnderscoreTop = UnderscoreHeight = 0; // no font measured for this cell
}

void VIO::MarkCellsDirty(int x, int y, int columns, int rows, int how)
{
    if (columns <= 0 || rows <= 0 || CellWidth <= 0 || CellHeight <= 0)
        return;
    int scale = 1;
    if (RowTable && AnyLineAttr) {
        // Rows with a line attribute show their cells twice as wide.
        for (int r = std::max(y, 0); r < std::min(y + rows, ScreenHeight); ++r) {
            if (RowTable[r].LineAttr != 0) {
                scale = 2;
                break;
            }
        }
    }
    RECT const r{x * CellWidth * scale, y * CellHeight, (x + columns) * CellWidth * scale, (y + rows) * CellHeight};
    MarkDirty(&r, how);
}

void VIO::MarkCellBox(RECT const& box)
{
    if (!Empty(box))
        MarkCellsDirty(box.left, box.top, box.right - box.left, box.bottom - box.top, 1);
}

void VIO::MarkAllDirty(int how)
{
    MarkCellsDirty(0, 0, ScreenWidth, ScreenHeight, how);
}

void VIO::MarkDirty(RECT const* rect, int how)
{
    GUARD lock(*this);
    if (!rect) {
        DirtyRect = RECT{};
        ContentChanged = false;
        return;
    }
    // A paint must not mark itself dirty; marks from a writer on another
    // thread during the paint are kept, or their change would never show.
    if (PaintNesting > 0 && PaintThread == OSYS::GetCurrentThreadId())
        return;
    if (Empty(*rect))
        return;
    vioutils::Include(DirtyRect, *rect);
    if (how == 1 || how == 3)
        ContentChanged = true;
    // The flush itself waits for the release of the outermost GUARD.
}

void VIO::FlushIfDue()
{
    if (Empty(DirtyRect) || FrameFlushPending)
        return;
    if (BracketActive && ThrottleMs != 1) {
        // A throttle of 0 or less waits for the end of the bracket.
        if (ThrottleMs <= 0 || NowMs() - LastFlush <= ThrottleMs)
            return;
    }
    FlushDirty();
}

void VIO::FlushDirty()
{
    GUARD lock(*this);
    LastFlush = NowMs();
    if (Empty(DirtyRect))
        return;
    RECT const r = DirtyRect;
    Invalidated = true;
    PostShadowFlag = PostShadowFlag || ContentChanged;
    DirtyRect = RECT{};
    ContentChanged = false;
    Host->Invalidate(&r);
}

void VIO::DrawBracket(bool begin)
{
    GUARD lock(*this);
    if (begin) {
        if (BracketDepth == 0) {
            HideCursor();
            ThrottleMs = kJumpScrollMs[std::clamp(Profile.JumpScroll, 0, 3)];
            BracketActive = true;
        }
        ++BracketDepth;
        return;
    }
    if (BracketDepth == 0)
        return;
    if (--BracketDepth == 0) {
        BracketActive = false;
        UpdateCursor();
        if (FrameFlushPending)
            return; // timer 259 is due within a frame
        long long const since = NowMs() - LastFlush;
        if (Empty(DirtyRect) || since < 0 || since >= kFrameMs) {
            FlushDirty();
            return;
        }
        FrameFlushPending = true;
        Host->StartTimer(kTimerFrame, kFrameMs - static_cast<int>(since));
    }
}

// ---- The cursor ----

RECT VIO::GetCursorRect(signed char fullHeight, signed char lineAttr)
{
    int width = CellWidth;
    int x = CursorX * CellWidth;
    if (lineAttr && LineAttr(CursorY) != 0) {
        width *= 2;
        x *= 2;
    }
    RECT r{x, CursorY * CellHeight, x + width, (CursorY + 1) * CellHeight};
    if (CursorType == VIOCURSOR_BAR && !fullHeight)
        r.right = r.left + std::min(std::max(width / 6, 1), 2);
    else if (CursorType != VIOCURSOR_BLOCK && !fullHeight)
        r.top = r.bottom - std::min(std::max(CellHeight / 6, 1), 2);
    return r;
}

void VIO::MarkCursor()
{
    if (CursorStyle == VIOCURSOR_CROSSHAIR) {
        MarkAllDirty(1);
        return;
    }
    RECT const r = GetCursorRect(1, 1);
    MarkDirty(&r, 1);
}

bool VIO::HideCursor()
{
    if (BracketActive)
        return false;
    GUARD lock(*this);
    if (CursorHidden)
        return false;
    if (CursorState > 0)
        MarkCursor();
    CursorHidden = true;
    return true;
}

void VIO::UpdateCursor()
{
    if (BracketActive)
        return;
    GUARD lock(*this);
    if (CursorState > 0)
        MarkCursor();
    CursorHidden = false;
}

int VIO::OnFocusLost()
{
    HideCursor();
    CursorState = -std::abs(CursorState);
    UpdateCursor();
    return 1;
}

int VIO::OnFocusAcquired()
{
    HideCursor();
    CursorState = std::abs(CursorState);
    UpdateCursor();
    return 1;
}

void VIO::SetCursorBlinkSkip()
{
    BlinkSkipStart = NowMs();
}

void VIO::RefreshTimers()
{
    Host->StartTimer(257, BlinkPeriod);
    CursorTimerRunning = true;
}

int VIO::OnTimer(int id)
{
    if (id == kTimerFrame) {
        // The main thread never waits long for a busy screen: the next tick
        // tries again.
        GUARD lock(*this, 10);
        if (!lock.Held())
            return 1;
        Host->StopTimer(kTimerFrame);
        FrameFlushPending = false;
        FlushDirty();
        return 1;
    }
    if (id == 258) {
        Host->StopTimer(258);
        Host->Invalidate(nullptr);
        return 1;
    }
    if (id != 257)
        return 1;
    BlinkPhase = !BlinkPhase;
    if (BlinkSkipStart && NowMs() - BlinkSkipStart > BlinkPeriod / 2)
        BlinkSkipStart = 0;
    // The timer runs on the main thread, which never waits long for a busy
    // screen: without the lock this tick only toggles the phase.
    GUARD lock(*this, 10);
    if (!lock.Held())
        return 1;
    if (RowTable) {
        if (CursorStyle == VIOCURSOR_BLINKING && CursorState > 0 && !CursorHidden) {
            RECT const r = GetCursorRect(1, 1);
            MarkDirty(&r, 2);
        }
        if (SomethingBlinks) {
            RECT box{};
            for (int y = 0; y < ScreenHeight; ++y) {
                VIOCELL const* cells = RowTable[y].Cells;
                for (int x = 0; x < ScreenWidth; ++x) {
                    if (cells[x].attrib & VIOATTR_BLINK)
                        vioutils::Include(box, RECT{x, y, x + 1, y + 1});
                }
            }
            if (Empty(box))
                SomethingBlinks = false;
            else
                MarkCellsDirty(box.left, box.top, box.right - box.left, box.bottom - box.top, 2);
        }
    }
    return 1;
}

int VIO::FlashWindow()
{
    {
        GUARD lock(*this);
        MarkAllDirty(1);
        FlashFlag = true;
    }
    Host->RedrawNow();
    Host->StartTimer(258, 50);
    return 1;
}

// ---- The font ----

WINDC* VIO::ScreenDC()
{
    if (!MemoryDC) {
        MemoryBitmap = std::make_unique<MEMORYBITMAP>(32, 32);
        MemoryDC = std::make_unique<WINDC>(static_cast<plat::DrawContext*>(*MemoryBitmap), MemoryBitmap->GetRect(),
                                           true);
    }
    return MemoryDC.get();
}

void VIO::ReleaseFont()
{
    delete BoldFont;
    BoldFont = nullptr;
    if (!Font)
        return;
    if (MemoryDC && MemoryDC->hFont == Font)
        MemoryDC->DeselectFont(Font);
    delete Font;
    Font = nullptr;
}

void VIO::SetFont(wchar_t const* fontString, signed char flag)
{
    GUARD lock(*this);
    ReleaseFont();
    CodePage = Profile.CodePage;
    wchar_t spec[256] = {};
    if (fontString) {
        std::wcsncpy(spec, fontString, 255);
        spec[255] = 0;
    }
    signed char bold = flag;
    COREFONT* font = Host->LoadFont(fontString ? spec : nullptr, &bold, CodePage);
    FontFlag = bold;
    if (!font)
        return;
    Font = font;
    // Bold text is drawn in the bold face of the same family and size, so
    // that it stands out on every colour (a bold font is its own).
    if (!font->Bold && font->FontRef) {
        auto* bold = new COREFONT(font->Name.Buf(), font->Size, true, font->Italic, font->Fixed, font->Smoothing,
                                  font->CodePage);
        if (bold->FontRef)
            BoldFont = bold;
        else
            delete bold;
    }
    WINDC* dc = ScreenDC();
    dc->SelectFont(font);
    dc->GetFontnameW(FontName, int(std::size(FontName)));
    dc->GetFontSize(&CellWidth, &CellHeight, &FontDescent);
    MeasureUnderscore();
    LOGIT("VIO::SetFont done (font=%ls, width=%d, height= %d)\n", FontName, CellWidth, CellHeight);
    MarkAllDirty(1);
}

void VIO::MeasureUnderscore()
{
    // Many faces set the underscore as a stroke thinner than a pixel on
    // their descent line, the cell's bottom edge: unhinted, it comes out as
    // a faint row or, where the rounded cell ends above it, not at all. The
    // glyph is drawn once, white on black, into a column three cells high
    // with the baseline of the middle cell; the screen then draws every
    // underscore itself as a full line of the glyph's thickness where its
    // ink lies, moved up into the cell when it lies below.
    UnderscoreTop = UnderscoreHeight = 0;
    if (!Font || CellWidth <= 0 || CellHeight <= 0)
        return;
    int const height = 3 * CellHeight;
    MEMORYBITMAP column(CellWidth, height);
    if (!column.GetBitmap())
        return;
    {
        WINDC dc(column, column.GetRect(), true);
        CELLPAINTER cells(dc, SIZE{CellWidth, height}, 2 * CellHeight - FontDescent);
        wchar_t const underscore = L'_';
        cells.Run(0, 0, &underscore, 1, Font, 0xFFFFFF, 0x000000);
    }
    // The ink of each row (its strongest pixel), and where the ink's middle
    // lies, in rows of the middle cell.
    int coverage = 0;
    double moment = 0;
    for (int y = 0; y < height; ++y) {
        int row = 0;
        for (int x = 0; x < CellWidth; ++x)
            row = std::max(row, int(column.GetBitmap()->Pixel(x, y) & 0xFF));
        coverage += row;
        moment += (y - CellHeight + 0.5) * row;
    }
    if (coverage == 0)
        return; // nothing drawn: nothing to mend
    int const thickness = std::clamp((coverage + 127) / 255, 1, std::max(CellHeight / 8, 1));
    int const top = int(std::lround(moment / coverage - thickness / 2.0));
    UnderscoreHeight = thickness;
    UnderscoreTop = std::clamp(top, 0, CellHeight - thickness);
}

int VIO::GetFont(wchar_t* buffer, int size, signed char* flag)
{
    if (buffer && size > 0)
        TERMFONTS::ComposeFontstr(buffer, size, FontName, CellWidth, CellHeight, 0);
    if (flag)
        *flag = FontFlag;
    return FontFlag;
}

void VIO::GetFontSize(int* cellWidth, int* cellHeight)
{
    if (cellWidth)
        *cellWidth = CellWidth;
    if (cellHeight)
        *cellHeight = CellHeight;
}
