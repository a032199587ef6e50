#include "program/screen/browsestream.h"

#include "program/screen/codepagetext.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/unicode.h"
#include "velmot/gui/windraw.h"
#include "velmot/gui/winfont.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>

namespace {

constexpr CONTROLID kBarId{plat::FourCC("VSCR"), 1};
constexpr CONTROLID kFindText{plat::FourCC("EDIT"), 1};
constexpr CONTROLID kFindCase{plat::FourCC("CHEC"), 1};
constexpr CONTROLID kFindForward{plat::FourCC("PUSH"), 1};
constexpr CONTROLID kFindBackward{plat::FourCC("PUSH"), 2};
constexpr CONTROLID kFindClose{plat::FourCC("OKAY"), 0};
constexpr int kWindowColour = 5;
constexpr int kWindowTextColour = 8;
constexpr size_t kPatternMax = 64;
// The toolkit's wheel scale: one notch.
constexpr int kWheelNotch = 120;

// Virtual keys.
constexpr int VK_ESCAPE = 27;
constexpr int VK_PRIOR = 33;
constexpr int VK_NEXT = 34;
constexpr int VK_END = 35;
constexpr int VK_HOME = 36;
constexpr int VK_UP = 38;
constexpr int VK_DOWN = 40;
constexpr int VK_INSERT = 45;

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

long long BROWSESTREAMHOST::ViewerNowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// ---------------------------------------------------------------------------
// The control

BROWSESTREAM::BROWSESTREAM(BROWSESTREAMFRAME& frame, CONTROLID id, BROWSESTREAMHOST& host, STREAMDATA& buffer)
    : CHILDWINDOW(frame.GetClientParent(), id, 0, 0, std::max(1, frame.GetClientSize().cx),
                  std::max(1, frame.GetClientSize().cy)),
      Frame(frame), Host(host), Buffer(buffer)
{
    SIZE const size = CONTROL::GetSize();
    Bar = std::make_unique<SCROLLBAR>(CONTROLPARENT{GetControlRef()}, kBarId, 1, std::max(0, size.cx - BARWIDTH), 1,
                                      BARWIDTH, std::max(1, size.cy - 16));
    Buffer.RegisterViewer(this);
    Font = Host.ViewerFont();
    if (!Font) {
        Host.ViewerError(OSYS::GetStringFromResource("IDS_FONTERR1").Buf());
        Signal(STREAMDATA::SIG_CLEAR, 0);
        return;
    }
    WINDC dc(nullptr, RECT{}, false);
    dc.SelectFont(Font);
    dc.GetFontSize(&CellW, &CellH, &Descent);
    dc.DeselectFont(Font);
    CellW = std::max(CellW, 1);
    CellH = std::max(CellH, 1);
    {
        MUTEXLOCK lock(Buffer.Lock());
        TopPos = FindPos = Buffer.Base();
    }
}

BROWSESTREAM::~BROWSESTREAM()
{
    Buffer.RegisterViewer(nullptr);
    StopTimer(TIMER_SCROLLDOWN);
    StopTimer(TIMER_SCROLLUP);
    if (Dragging)
        SetMouseCapture(false);
    if (Font) {
        WINDC dc(nullptr, RECT{}, false);
        dc.DestroyFont(Font);
    }
}

streamlines::LAYOUT BROWSESTREAM::CurrentLayout() const
{
    return streamlines::LAYOUT{std::max(Cols, 1), cptext::IsUtf8(Buffer.CodePage())};
}

void BROWSESTREAM::UpdateIndex()
{
    Index.Update(Buffer.Data(), Buffer.Length(), Buffer.Base(), Buffer.Epoch(), Buffer.StablePos(), CurrentLayout());
}

void BROWSESTREAM::ClampPositions()
{
    // Text that went takes its positions to the buffer's start, text that
    // was cleared to its end.
    uint64_t const base = Buffer.Base(), end = Buffer.End();
    for (uint64_t* p : {&TopPos, &LastPageTop, &BottomPos, &Anchor, &EndPos, &FindPos})
        *p = std::clamp(*p, base, end);
    if (SelStart < base || SelEnd > end || SelStart >= SelEnd)
        SelStart = SelEnd = 0;
}

uint64_t BROWSESTREAM::NextLineAbs(uint64_t pos)
{
    uint64_t const base = Buffer.Base();
    size_t const len = Buffer.Length();
    if (pos < base)
        pos = base;
    if (pos - base >= len)
        return base + len;
    return base + streamlines::NextLine(Buffer.Data(), len, static_cast<size_t>(pos - base), CurrentLayout());
}

uint64_t BROWSESTREAM::LineUpAbs(uint64_t pos)
{
    return Index.LineUp(Buffer.Data(), Buffer.Length(), Buffer.Base(), pos);
}

uint64_t BROWSESTREAM::CharEnd(uint64_t pos)
{
    uint64_t const base = Buffer.Base();
    size_t const len = Buffer.Length();
    if (pos < base || pos - base >= len)
        return std::min<uint64_t>(pos + 1, base + len);
    size_t const i = static_cast<size_t>(pos - base);
    size_t n = 1;
    if (cptext::IsUtf8(Buffer.CodePage())) {
        n = static_cast<size_t>(cptext::Utf8Length(static_cast<unsigned char>(Buffer.Data()[i])));
        size_t k = 1;
        while (k < n && i + k < len && (static_cast<unsigned char>(Buffer.Data()[i + k]) & 0xC0) == 0x80)
            ++k;
        n = k;
    }
    return pos + n;
}

void BROWSESTREAM::RecomputeLastPage()
{
    size_t const count = Index.Count();
    LastPageTop = count > static_cast<size_t>(Rows)
                      ? Index.StartOf(Buffer.Data(), Buffer.Length(), Buffer.Base(), count - static_cast<size_t>(Rows))
                      : Buffer.Base();
}

void BROWSESTREAM::Layout()
{
    if (!Font)
        return;
    SIZE const size = CONTROL::GetSize();
    Cols = std::max(MINCOLUMNS, (size.cx - EXTRAWIDTH + CellW / 2) / CellW);
    Rows = std::max(MINROWS, (size.cy + CellH / 2) / CellH);
    if (!InResize) {
        // The frame follows the page's size in whole cells.
        InResize = true;
        SIZE const want = Frame.PageClientSize(Cols, Rows);
        SIZE const client = Frame.GetClientSize();
        if ((want.cx != client.cx || want.cy != client.cy) && !Frame.IsMaximized())
            Frame.Size(want.cx + (Frame.GetSize().cx - client.cx), want.cy + (Frame.GetSize().cy - client.cy));
        InResize = false;
    }
    SIZE const now = CONTROL::GetSize();
    Bar->Move(std::max(0, now.cx - BARWIDTH), 1, BARWIDTH, std::max(1, now.cy - 16));
    {
        MUTEXLOCK lock(Buffer.Lock());
        UpdateIndex();
        ClampPositions();
        RecomputeLastPage();
        if (!Ready) {
            // The first page is the text's last.
            TopPos = LastPageTop;
            Ready = true;
        }
    }
    ShowPage(true);
}

bool BROWSESTREAM::OnSized()
{
    CHILDWINDOW::OnSized();
    Layout();
    return true;
}

int BROWSESTREAM::OnPaint()
{
    return 0;
}

// ---------------------------------------------------------------------------
// Drawing

uint64_t BROWSESTREAM::ShowLine(int y, uint64_t start)
{
    uint64_t const base = Buffer.Base();
    size_t const len = Buffer.Length();
    char const* text = Buffer.Data();
    size_t const pos = static_cast<size_t>(start - base);
    size_t const next = streamlines::LineCells(text, len, pos, CurrentLayout(), Cells);
    int const cp = Buffer.CodePage();
    bool const utf8 = cptext::IsUtf8(cp);
    COLORREF const window = OSYS::GetSysColor(kWindowColour);
    COLORREF const ink = OSYS::GetSysColor(kWindowTextColour);
    COLORREF markBack = window, markFore = ink;
    COLORREF mark = 0;
    if (Host.ViewerMarkColour(&mark)) {
        markBack = mark;
        markFore = ink;
    } else {
        markBack = ink;
        markFore = window;
    }
    SIZE const size = CONTROL::GetSize();
    int const top = y * CellH;
    WINDC dc(*this);
    RECT row{0, top, std::max(0, size.cx - 13), top + CellH};
    dc.FillRect(&row, window);
    {
        CELLPAINTER cells(dc, SIZE{CellW, CellH}, CellH - Descent);
        auto selected = [&](size_t offset) {
            uint64_t const at = start + offset;
            return SelStart < SelEnd && at >= SelStart && at < SelEnd;
        };
        size_t i = 0;
        while (i < Cells.size()) {
            streamlines::CELL const& c = Cells[i];
            bool const sel = selected(c.Offset);
            COLORREF const fore = sel ? markFore : ink;
            COLORREF const back = sel ? markBack : window;
            int const x = c.Column * CellW;
            if (c.Char == 9) {
                std::wstring const blanks(static_cast<size_t>(streamlines::TABWIDTH), L' ');
                cells.Run(x, top, blanks.c_str(), static_cast<int>(blanks.size()), Font, fore, back);
                ++i;
                continue;
            }
            // A character and the marks that follow it are laid out as one.
            std::u32string cluster;
            uint32_t ch = c.Char;
            if (!utf8 && ch >= 0x80)
                ch = static_cast<uint32_t>(UNICODE::GetInstance()->FromCodepage(static_cast<char>(ch), cp));
            if (ch < 32)
                ch = 0x2400 + ch; // a control character as its picture
            cluster += static_cast<char32_t>(ch);
            size_t j = i + 1;
            while (j < Cells.size() && Cells[j].Width == 0 && Cells[j].Char != 9) {
                cluster += static_cast<char32_t>(Cells[j].Char);
                ++j;
            }
            uint32_t const flags = c.Width == 2 ? CELLPAINTER::WIDE : 0;
            if (c.Width == 0 || cluster.size() > 1) {
                cells.RunCluster(x, top, cluster, Font, fore, back, flags);
            } else {
                wchar_t const one = static_cast<wchar_t>(ch);
                cells.Run(x, top, &one, 1, Font, fore, back, flags);
            }
            i = j;
        }
        // A line whose end lies in the selection shows one marked blank.
        uint64_t const lineEnd = base + next;
        bool endSelected = SelStart < SelEnd && lineEnd > start && SelStart < lineEnd && SelEnd >= lineEnd &&
                           (next > pos && next <= len && (text[next - 1] == 13 || text[next - 1] == 10));
        if (endSelected) {
            int col = 0;
            if (!Cells.empty())
                col = Cells.back().Column + std::max<int>(Cells.back().Width, 1);
            if (col < Cols) {
                wchar_t const blank = L' ';
                cells.Run(col * CellW, top, &blank, 1, Font, markFore, markBack);
            }
        }
    }
    return base + next;
}


void BROWSESTREAM::ShowPage(bool clear)
{
    if (!Ready || Cols == 0 || !Font)
        return;
    MUTEXLOCK lock(Buffer.Lock());
    UpdateIndex();
    ClampPositions();
    COLORREF const window = OSYS::GetSysColor(kWindowColour);
    SIZE const size = CONTROL::GetSize();
    {
        WINDC dc(*this);
        if (clear) {
            RECT all{0, 0, size.cx, size.cy};
            dc.FillRect(&all, window);
        }
        // The frame one pixel outside the scroll bar.
        RECT bar{size.cx - BARWIDTH - 1, 0, size.cx + 1, size.cy - 14};
        dc.NiceRCL(bar, 1, false, window);
    }
    uint64_t const end = Buffer.End();
    uint64_t pos = TopPos;
    int y = 0;
    for (; y < Rows && pos < end; ++y)
        pos = ShowLine(y, pos);
    if (y < Rows) {
        WINDC dc(*this);
        RECT rest{0, y * CellH, std::max(0, size.cx - 13), size.cy};
        dc.FillRect(&rest, window);
    }
    BottomPos = pos;
    SetScrollbar();
    Invalidate(nullptr);
}

void BROWSESTREAM::SetScrollbar()
{
    // The line index is kept up to date as text arrives, so the bar needs
    // no walk over the whole text.
    if (Buffer.Length() == 0) {
        BarPos = 0;
        BarMax = 999;
        BarPage = 1000;
    } else {
        size_t const count = Index.Count();
        BarMax = static_cast<int>(std::min<size_t>(count > 0 ? count - 1 : 0, 0x7FFFFFFF));
        BarPage = Rows;
        BarPos = static_cast<int>(
            std::min<size_t>(Index.IndexOf(Buffer.Data(), Buffer.Length(), Buffer.Base(), TopPos), 0x7FFFFFFF));
    }
    if (!Tracking)
        Bar->SetScrollbar(BarPos, BarPage, 0, BarMax);
}

void BROWSESTREAM::ScrollIt(int lines)
{
    // A few lines: the kept rows move in the bitmap, the new ones are drawn.
    SIZE const size = CONTROL::GetSize();
    int const width = std::max(0, size.cx - 13);
    int const n = std::abs(lines);
    int const keep = Rows - n;
    COLORREF const window = OSYS::GetSysColor(kWindowColour);
    {
        WINDC dc(*this);
        if (keep > 0) {
            if (lines > 0)
                dc.BitBlt(POINT{0, n * CellH}, POINT{0, 0}, SIZE{width, keep * CellH});
            else
                dc.BitBlt(POINT{0, 0}, POINT{0, n * CellH}, SIZE{width, keep * CellH});
        }
    }
    uint64_t const end = Buffer.End();
    if (lines > 0) {
        for (int i = 0; i < n; ++i) {
            TopPos = NextLineAbs(TopPos);
        }
        // The rows below the kept ones, from the line after them.
        uint64_t pos = TopPos;
        for (int r = 0; r < keep && pos < end; ++r)
            pos = NextLineAbs(pos);
        int y = std::max(keep, 0);
        for (; y < Rows && pos < end; ++y)
            pos = ShowLine(y, pos);
        if (y < Rows) {
            WINDC dc(*this);
            RECT rest{0, y * CellH, width, Rows * CellH};
            dc.FillRect(&rest, window);
        }
        BottomPos = pos;
    } else {
        for (int i = 0; i < n; ++i)
            TopPos = LineUpAbs(TopPos);
        uint64_t pos = TopPos;
        for (int y = 0; y < std::min(n, Rows) && pos < end; ++y)
            pos = ShowLine(y, pos);
        uint64_t bottom = TopPos;
        for (int r = 0; r < Rows && bottom < end; ++r)
            bottom = NextLineAbs(bottom);
        BottomPos = bottom;
    }
    Invalidate(nullptr);
}

void BROWSESTREAM::DoVscroll(int lines, bool update)
{
    if (!Ready || lines == 0)
        return;
    {
        MUTEXLOCK lock(Buffer.Lock());
        UpdateIndex();
        ClampPositions();
        RecomputeLastPage();
        size_t const top = Index.IndexOf(Buffer.Data(), Buffer.Length(), Buffer.Base(), TopPos);
        size_t const last = Index.IndexOf(Buffer.Data(), Buffer.Length(), Buffer.Base(), LastPageTop);
        if (lines > 0)
            lines = static_cast<int>(std::min<size_t>(static_cast<size_t>(lines), last > top ? last - top : 0));
        else
            lines = -static_cast<int>(std::min<size_t>(static_cast<size_t>(-lines), top));
        if (lines == 0)
            return;
        bool const onScreen = lines >= -9 && lines <= 9 && std::abs(lines) < Rows;
        if (onScreen) {
            ScrollIt(lines);
        } else {
            for (int i = 0; i < std::abs(lines); ++i)
                TopPos = lines > 0 ? NextLineAbs(TopPos) : LineUpAbs(TopPos);
        }
        if (update)
            RecomputeLastPage();
        if (onScreen) {
            SetScrollbar();
            return;
        }
    }
    ShowPage(true);
}

// ---------------------------------------------------------------------------
// Signals

bool BROWSESTREAM::Signal(int code, uintptr_t parameter)
{
    if (code == STREAMDATA::SIG_CLEAR) {
        HandleSignal(code, parameter);
        return true;
    }
    PostUserMessage(MSG_SIGNAL, static_cast<MSGWORD>(code), static_cast<MSGWORD>(parameter));
    return true;
}

bool BROWSESTREAM::OnUserMessage(int msg, MSGWORD p1, MSGWORD p2)
{
    if (msg != MSG_SIGNAL)
        return false;
    HandleSignal(static_cast<int>(p1), static_cast<uintptr_t>(p2));
    return true;
}

void BROWSESTREAM::HandleSignal(int code, uintptr_t)
{
    switch (code) {
    case STREAMDATA::SIG_CLEAR:
        // The text goes: the viewer closes (the session deletes it later).
        Host.ViewerClose();
        return;
    case STREAMDATA::SIG_NEWTEXT: {
        if (!Ready)
            return;
        bool follow = false;
        {
            MUTEXLOCK lock(Buffer.Lock());
            uint64_t const oldLast = LastPageTop;
            bool const wasLast = oldLast == TopPos;
            UpdateIndex();
            ClampPositions();
            RecomputeLastPage();
            follow = wasLast;
            if (!follow)
                SetScrollbar();
        }
        if (follow)
            ShowPage(false);
        return;
    }
    case STREAMDATA::SIG_TOFRONT:
        if (Frame.IsMinimized())
            Frame.Restore();
        Frame.BringToForeground();
        return;
    case STREAMDATA::SIG_LOADED:
    case STREAMDATA::SIG_MOVED:
        if (!Ready)
            return;
        // Positions are absolute: the text shown stays; one whose text went
        // moves to the start.
        {
            MUTEXLOCK lock(Buffer.Lock());
            UpdateIndex();
            ClampPositions();
            RecomputeLastPage();
        }
        ShowPage(true);
        return;
    default:
        return;
    }
}

// ---------------------------------------------------------------------------
// Scroll bar, keys, mouse

bool BROWSESTREAM::OnScrollEvent(int code, CONTROL const& control, int position)
{
    if (control.GetControlRef() != Bar->GetControlRef())
        return false;
    switch (code) {
    case SCROLL_LINEUP:
        DoVscroll(-1, true);
        return true;
    case SCROLL_LINEDOWN:
        DoVscroll(1, true);
        return true;
    case SCROLL_PAGEUP:
        DoVscroll(-(Rows - 1), true);
        return true;
    case SCROLL_PAGEDOWN:
        DoVscroll(Rows - 1, true);
        return true;
    case SCROLL_THUMB: {
        int const moved = position - BarPos;
        // A move of one line is the bar's own rounding.
        if (moved == 1 || moved == -1 || moved == 0)
            return true;
        Tracking = true;
        DoVscroll(moved, true);
        Tracking = false;
        return true;
    }
    default:
        return false;
    }
}

bool BROWSESTREAM::OnKeyboardEvent(KEYBOARDEVENT const& key)
{
    bool const ctrl = (key.Flags & KEYFLAG_CONTROL) != 0;
    bool const cmd = (key.Flags & KEYFLAG_COMMAND) != 0;
    bool const alt = (key.Flags & KEYFLAG_OPTION) != 0;
    uint32_t const ch = key.UniChar ? key.UniChar : key.Char;
    switch (key.Keycode) {
    case VK_ESCAPE:
        Host.ViewerClose();
        return true;
    case VK_PRIOR:
        DoVscroll(-(Rows - 1), true);
        return true;
    case VK_NEXT:
        DoVscroll(Rows - 1, true);
        return true;
    case VK_HOME: {
        {
            MUTEXLOCK lock(Buffer.Lock());
            TopPos = Buffer.Base();
        }
        ShowPage(true);
        return true;
    }
    case VK_END: {
        {
            MUTEXLOCK lock(Buffer.Lock());
            UpdateIndex();
            RecomputeLastPage();
            TopPos = LastPageTop;
        }
        ShowPage(true);
        return true;
    }
    case VK_UP:
        DoVscroll(-1, true);
        return true;
    case VK_DOWN:
        DoVscroll(1, true);
        return true;
    case VK_INSERT:
        if ((ctrl || cmd) && SelStart < SelEnd)
            CopySelectedText(false);
        return true;
    default:
        break;
    }
    if (ch == 3 || ((ctrl || cmd) && (ch == 'c' || ch == 'C'))) {
        if (SelStart < SelEnd)
            CopySelectedText(false);
        return true;
    }
    if ((alt || cmd) && (ch == 'w' || ch == 'W')) {
        Host.ViewerClose();
        return true;
    }
    if (ch == 'f' || ch == 'F' || ch == '/' || ch == 6) {
        FindDialog();
        return true;
    }
    return false;
}

uint64_t BROWSESTREAM::PositionAt(int x, int y)
{
    int const row = std::clamp(y / std::max(CellH, 1), 0, std::max(Rows - 1, 0));
    int const col = std::max(0, x / std::max(CellW, 1));
    uint64_t pos = TopPos;
    uint64_t const end = Buffer.End();
    for (int r = 0; r < row && pos < end; ++r)
        pos = NextLineAbs(pos);
    if (pos >= end)
        return end;
    uint64_t const base = Buffer.Base();
    return base + streamlines::PositionAt(Buffer.Data(), Buffer.Length(), static_cast<size_t>(pos - base), col,
                                          CurrentLayout());
}

void BROWSESTREAM::SetSelection()
{
    uint64_t const lo = std::min(Anchor, EndPos), hi = std::max(Anchor, EndPos);
    SelStart = lo;
    SelEnd = hi < Buffer.End() ? CharEnd(hi) : hi;
    if (SelEnd <= SelStart)
        SelStart = SelEnd = 0;
}

void BROWSESTREAM::ClearSelection()
{
    SelStart = SelEnd = 0;
    Extended = false;
    ShowPage(false);
}

void BROWSESTREAM::DragTo(int x, int y)
{
    int const row = y / std::max(CellH, 1);
    int const col = x / std::max(CellW, 1);
    if (POINT{col, row} == LastCell && !(y < 0 || y >= Rows * CellH))
        return;
    LastCell = POINT{col, row};
    LastMouseX = x;
    LastMouseY = y;
    // At the page's edges the page scrolls: faster the further out.
    if (y < CellH) {
        int const out = y < 0 ? (-y) / CellH + 1 : 0;
        StopTimer(TIMER_SCROLLDOWN);
        StartTimer(TIMER_SCROLLUP, 100);
        DoVscroll(-(1 << std::min(out, 10)), true);
    } else if (y >= (Rows - 1) * CellH) {
        int const out = y >= Rows * CellH ? (y - Rows * CellH) / CellH + 1 : 0;
        StopTimer(TIMER_SCROLLUP);
        StartTimer(TIMER_SCROLLDOWN, 100);
        DoVscroll(1 << std::min(out, 10), true);
    } else {
        StopTimer(TIMER_SCROLLUP);
        StopTimer(TIMER_SCROLLDOWN);
    }
    int const clampedY = std::clamp(y, 0, std::max(Rows * CellH - 1, 0));
    {
        MUTEXLOCK lock(Buffer.Lock());
        UpdateIndex();
        ClampPositions();
        EndPos = PositionAt(x, clampedY);
        if (EndPos != Anchor)
            Extended = true;
        SetSelection();
    }
    ShowPage(false);
}

bool BROWSESTREAM::OnMouseEvent(int message, int x, int y, int flags)
{
    if (!Ready || !Font)
        return false;
    SIZE const size = CONTROL::GetSize();
    // The corner beside the scroll bar's end is not the page.
    if (x >= size.cx - BARWIDTH && y >= size.cy - BARWIDTH)
        return false;
    switch (message) {
    case WM_LBUTTONDOWN: {
        if (Host.ViewerNowMs() - FocusTime < FOCUSCLICKMS)
            return true;
        SetMouseCapture(true);
        MUTEXLOCK lock(Buffer.Lock());
        UpdateIndex();
        ClampPositions();
        uint64_t const at = PositionAt(x, y);
        if (SelStart < SelEnd && Host.ViewerKeyState(16)) {
            // The selection grows from its far end: its start when the click
            // lies after it, its last character when before (a copy forgets
            // the anchor, the selection still shows where it was).
            if (at < SelStart) {
                uint64_t last = SelEnd - 1;
                if (cptext::IsUtf8(Buffer.CodePage()))
                    while (last > SelStart &&
                           (static_cast<unsigned char>(Buffer.Data()[last - Buffer.Base()]) & 0xC0) == 0x80)
                        --last;
                Anchor = last;
            } else {
                Anchor = SelStart;
            }
            EndPos = at;
            Extended = true;
        } else {
            Anchor = EndPos = at;
            Extended = false;
        }
        Dragging = true;
        LastCell = POINT{x / CellW, y / CellH};
        SetSelection();
        break;
    }
    case WM_MOUSEMOVE:
        if (!Dragging)
            return false;
        DragTo(x, y);
        return true;
    case WM_LBUTTONUP:
        if (!Dragging)
            return false;
        Dragging = false;
        SetMouseCapture(false);
        StopTimer(TIMER_SCROLLUP);
        StopTimer(TIMER_SCROLLDOWN);
        if (Host.ViewerAutoCopy())
            CopySelectedText(false);
        return true;
    case WM_MOUSEWHEEL: {
        int notches = flags / kWheelNotch;
        if (notches == 0)
            notches = flags > 0 ? 1 : flags < 0 ? -1 : 0;
        int const lines = std::max(1, std::abs(notches) * Rows / 4);
        DoVscroll(notches > 0 ? -lines : lines, true);
        return true;
    }
    default:
        return false;
    }
    ShowPage(false);
    return true;
}

bool BROWSESTREAM::OnTimer(int id)
{
    if (id != TIMER_SCROLLUP && id != TIMER_SCROLLDOWN)
        return false;
    if (!Dragging) {
        StopTimer(id);
        return true;
    }
    LastCell = POINT{-1, -1};
    DragTo(LastMouseX, LastMouseY);
    return true;
}

bool BROWSESTREAM::OnFocusAcquired()
{
    FocusTime = Host.ViewerNowMs();
    return false;
}

// ---------------------------------------------------------------------------
// Copy and find

std::string BROWSESTREAM::RowText(int y)
{
    MUTEXLOCK lock(Buffer.Lock());
    ClampPositions();
    if (y < 0 || y >= Rows)
        return std::string();
    uint64_t pos = TopPos;
    for (int i = 0; i < y && pos < Buffer.End(); ++i)
        pos = NextLineAbs(pos);
    if (pos >= Buffer.End())
        return std::string();
    uint64_t const base = Buffer.Base();
    char const* text = Buffer.Data();
    std::vector<streamlines::CELL> cells;
    streamlines::LineCells(text, Buffer.Length(), static_cast<size_t>(pos - base), CurrentLayout(), cells);
    int const cp = Buffer.CodePage();
    bool const utf8 = cptext::IsUtf8(cp);
    std::string out;
    for (streamlines::CELL const& c : cells) {
        if (c.Char == 9) {
            out.append(static_cast<size_t>(streamlines::TABWIDTH), ' ');
        } else if (utf8 || c.Char < 0x80) {
            out.append(text + (pos - base) + c.Offset, c.Bytes);
        } else {
            wchar_t const wide = UNICODE::GetInstance()->FromCodepage(static_cast<char>(c.Char), cp);
            char bytes[4];
            out.append(bytes, static_cast<size_t>(UNICODE::Utf8Encode(wide, bytes)));
        }
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::string BROWSESTREAM::SelectedBytes()
{
    MUTEXLOCK lock(Buffer.Lock());
    ClampPositions();
    if (SelStart >= SelEnd)
        return std::string();
    uint64_t const base = Buffer.Base();
    return std::string(Buffer.Data() + (SelStart - base), static_cast<size_t>(SelEnd - SelStart));
}

bool BROWSESTREAM::CopySelectedText(bool clear)
{
    Anchor = EndPos = 0;
    std::string const bytes = SelectedBytes();
    if (bytes.size() <= 1 && !Extended) {
        if (clear)
            ClearSelection();
        return false;
    }
    std::wstring text;
    cptext::Decode(text, bytes.data(), bytes.size(), Buffer.CodePage());
    Host.ViewerCopy(text, Host.ViewerKeyState(17));
    Host.ViewerNotify(OSYS::GetStringFromResource("IDS_PUT_TO_CLIP").Buf());
    if (clear)
        ClearSelection();
    return bytes.size() > 1;
}

bool BROWSESTREAM::Find(std::string const& pattern, bool forward, bool caseSensitive)
{
    if (pattern.empty())
        return false;
    std::string pat = pattern.substr(0, kPatternMax);
    bool found = false;
    {
        MUTEXLOCK lock(Buffer.Lock());
        UpdateIndex();
        ClampPositions();
        uint64_t const base = Buffer.Base();
        size_t const len = Buffer.Length();
        char const* text = Buffer.Data();
        auto matches = [&](size_t i) {
            if (i + pat.size() > len)
                return false;
            if (LowerAscii(text[i]) != LowerAscii(pat[0]))
                return false;
            if (caseSensitive)
                return memcmp(text + i, pat.data(), pat.size()) == 0;
            for (size_t k = 0; k < pat.size(); ++k)
                if (LowerAscii(text[i + k]) != LowerAscii(pat[k]))
                    return false;
            return true;
        };
        size_t at = static_cast<size_t>(FindPos - base);
        size_t hit = 0;
        if (forward) {
            if (FindPos == SelStart && SelStart < SelEnd)
                ++at;
            for (size_t i = at; i + pat.size() <= len; ++i) {
                if (matches(i)) {
                    hit = i;
                    found = true;
                    break;
                }
            }
        } else {
            if (FindPos == SelStart && SelStart < SelEnd)
                at = at > 0 ? at - 1 : 0;
            else if (FindPos == TopPos)
                at = static_cast<size_t>(BottomPos - base);
            at = std::min(at, len);
            for (size_t i = at + 1; i-- > 0;) {
                if (matches(i)) {
                    hit = i;
                    found = true;
                    break;
                }
            }
        }
        if (found) {
            SelStart = base + hit;
            SelEnd = SelStart + pat.size();
            FindPos = SelStart;
            Extended = true;
            if (!(SelStart > TopPos && SelStart < BottomPos)) {
                TopPos = LineUpAbs(SelStart);
                if (TopPos > SelStart)
                    TopPos = SelStart;
            }
        }
    }
    if (!found) {
        Host.ViewerAlert();
        return false;
    }
    ShowPage(true);
    return true;
}

void BROWSESTREAM::FindDialog()
{
    if (FindBox) {
        FindBox->BringToForeground();
        return;
    }
    {
        MUTEXLOCK lock(Buffer.Lock());
        ClampPositions();
        FindPos = TopPos;
    }
    BROWSESTREAMFINDDIALOG box(*this, Frame.GetWindow());
    FindBox = &box;
    box.Process();
    FindBox = nullptr;
    ClearSelection();
}

// ---------------------------------------------------------------------------
// The find dialog

BROWSESTREAMFINDDIALOG::BROWSESTREAMFINDDIALOG(BROWSESTREAM& viewer, plat::WindowRef owner)
    : DIALOG("DLG_WIN_BROWSEFIND", owner), Viewer(viewer)
{
}

BROWSESTREAMFINDDIALOG::~BROWSESTREAMFINDDIALOG() = default;

bool BROWSESTREAMFINDDIALOG::OnPushbutton(CONTROLID id)
{
    if (id == kFindForward || id == kFindBackward) {
        WSTRING const typed = GetControlTextWide(kFindText);
        std::string pattern;
        cptext::Encode(pattern, typed.Buf(), static_cast<size_t>(typed.Length()), Viewer.Buffer.CodePage());
        Viewer.Find(pattern, id == kFindForward, IsControlChecked(kFindCase));
        return true;
    }
    if (id == kFindClose || id == DIALOG_CANCELBUTTON) {
        Dismiss(0);
        return true;
    }
    return DIALOG::OnPushbutton(id);
}

// ---------------------------------------------------------------------------
// The frame

BROWSESTREAMFRAME::BROWSESTREAMFRAME(BROWSESTREAMHOST& host, STREAMDATA& buffer)
    : WINDOW(WINDOWSTYLE_DOCUMENT, "", 100, 100, 640, 400, nullptr, "IDW_BROWWIN", nullptr, "QorScrollFrameWindow"),
      Host(host)
{
    WSTRING const title = OSYS::GetWideStringFromResource("IDS_TITLE_BROWSE2");
    std::wstring const hostName = Host.ViewerHostName();
    std::wstring full(title.Buf(), static_cast<size_t>(title.Length()));
    if (!hostName.empty())
        full += L" (" + hostName + L")";
    SetTextWide(full.c_str());
    if (int const alpha = Host.ViewerTransparency(); alpha > 0)
        SetTransparency(alpha);
    STRING const key = OSYS::GetStringFromResource("IDS_TARVOAPPREGKEY");
    if (!RestoreWindowPos(key.Buf(), "QorBrowseWinPos", false)) {
        RECT main{};
        if (Host.ViewerMainRect(&main))
            Move(main.left + 32, main.top + 32, main.right - main.left, main.bottom - main.top);
    }
    SIZE const client = GetClientSize();
    View = std::make_unique<BROWSESTREAM>(*this, VIEWERID, Host, buffer);
    View->Move(0, 0, client.cx, client.cy);
    View->Layout();
    Show(true);
    BringToForeground();
    View->SetFocus();
}

BROWSESTREAMFRAME::~BROWSESTREAMFRAME()
{
    STRING const key = OSYS::GetStringFromResource("IDS_TARVOAPPREGKEY");
    StoreWindowPos(key.Buf(), "QorBrowseWinPos");
    View.reset();
}

bool BROWSESTREAMFRAME::Signal(int code, uintptr_t parameter)
{
    return View ? View->Signal(code, parameter) : false;
}

SIZE BROWSESTREAMFRAME::PageClientSize(int columns, int rows) const
{
    int const cw = View ? View->CellWidth() : 8, ch = View ? View->CellHeight() : 16;
    return SIZE{columns * cw + BROWSESTREAM::EXTRAWIDTH, rows * ch};
}

bool BROWSESTREAMFRAME::OnClose()
{
    Host.ViewerClose();
    return true;
}

bool BROWSESTREAMFRAME::OnFocusAcquired()
{
    if (View)
        View->SetFocus();
    return false;
}

bool BROWSESTREAMFRAME::OnSized()
{
    if (View) {
        SIZE const client = GetClientSize();
        View->Move(0, 0, client.cx, client.cy);
    }
    return false;
}

bool BROWSESTREAMFRAME::OnSizing(RECT* frame, uint32_t edges)
{
    if (!frame || !View || !View->HasFont() || IsMaximized())
        return false;
    RECT client{};
    if (!RectFrameToClient(frame, &client))
        return false;
    int const cw = View->CellWidth(), ch = View->CellHeight();
    int const cols = std::max(BROWSESTREAM::MINCOLUMNS,
                              (client.right - client.left - BROWSESTREAM::EXTRAWIDTH + cw / 2) / cw);
    int const rows = std::max(BROWSESTREAM::MINROWS, (client.bottom - client.top + ch / 2) / ch);
    SIZE const want = PageClientSize(cols, rows);
    int const dx = want.cx - (client.right - client.left);
    int const dy = want.cy - (client.bottom - client.top);
    // The edge opposite the dragged one stays.
    if (edges & SIZINGEDGE_LEFT)
        frame->left -= dx;
    else
        frame->right += dx;
    if (edges & SIZINGEDGE_TOP)
        frame->top -= dy;
    else
        frame->bottom += dy;
    return true;
}

bool BROWSESTREAMFRAME::OnScrollEvent(int code, CONTROL const& control, int position)
{
    return View && View->OnScrollEvent(code, control, position);
}

bool BROWSESTREAMFRAME::OnKeyboardEvent(KEYBOARDEVENT const& key)
{
    return View && View->OnKeyboardEvent(key);
}
