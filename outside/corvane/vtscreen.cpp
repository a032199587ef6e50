// Cursor, scrolling, erasing, line attributes and the alternate screen, on
// the session's screen.
#include "outside/corvane/vtemulation.h"

#include "plugins/sdk/emulationapi.h"
#include "program/settings/sessionprofile.h"
#include "velmot/core/unicode.h"

#include <algorithm>
#include <cstring>

void VTEMULATION::Begin(int width, int height)
{
    if (width != W || height != H)
        Resize(width, height);
    // Someone else moved the screen's cursor (a resize, the session
    // clearing the screen, the emulation before this one): the terminal's
    // cursor follows it.
    int x = 0, y = 0;
    Vio->GetCursorPos(&x, &y);
    if (x != VioX || y != VioY) {
        X = VioX = x;
        Y = VioY = y;
        WrapPending = false;
        ClampCursor();
    }
    // The screen's attribute and colours may have been reset meanwhile.
    StyleSynced = false;
    if (Dialect.Level == vt::LEVEL::ANSI) {
        CodePage = 437;
        Utf8 = false;
    } else {
        CodePage = Vio->GetCodepage();
        Utf8 = CodePage == UNICODE_CPUTF8;
    }
    if (!Utf8 && CodePage != HighCharsPage) {
        for (int i = 0; i < 128; ++i)
            HighChars[i] = Uni->FromCodepage(char(0x80 + i), CodePage);
        HighCharsPage = CodePage;
    }
}

void VTEMULATION::Resize(int width, int height)
{
    W = std::max(width, 1);
    H = std::max(height, 1);
    Top = 0;
    Bottom = H - 1;
    Left = 0;
    Right = W - 1;
    LineAttrs.assign(static_cast<size_t>(H), 0);
    AnyLineAttr = false;
    size_t const old = TabStops.size();
    TabStops.resize(static_cast<size_t>(W), 0);
    for (size_t x = old; x < TabStops.size(); ++x)
        TabStops[x] = x % 8 == 0;
    WrapPending = false;
    // The screen re-wrapped its text: the cursor is where it put it.
    Vio->GetCursorPos(&X, &Y);
    VioX = X;
    VioY = Y;
    ClampCursor();
}

int VTEMULATION::RowWidth(int y) const
{
    if (AnyLineAttr && y >= 0 && y < H && LineAttrs[size_t(y)] != VIOLINE_NORMAL)
        return std::max(W / 2, 1);
    return W;
}

void VTEMULATION::ClampCursor()
{
    Y = std::clamp(Y, 0, H - 1);
    X = std::clamp(X, 0, RowWidth(Y) - 1);
}

void VTEMULATION::MoveTo(int x, int y)
{
    Y = std::clamp(y, 0, H - 1);
    X = std::clamp(x, 0, RowWidth(Y) - 1);
    WrapPending = false;
}

int VTEMULATION::OriginRow(int y) const
{
    return OriginMode ? std::clamp(y + Top, Top, Bottom) : y;
}

int VTEMULATION::OriginColumn(int x) const
{
    return OriginMode ? std::clamp(x + LeftMargin(), LeftMargin(), RightMargin()) : x;
}

void VTEMULATION::MoveToOrigin(int x, int y)
{
    MoveTo(OriginColumn(x), OriginRow(y));
}

void VTEMULATION::SetLeftRightMargins()
{
    int const left = Seq.Get(0, 1) - 1;
    int const right = std::min(Seq.Get(1, W), W) - 1;
    if (left < right) {
        Left = left;
        Right = right;
        MoveToOrigin(0, 0);
    }
}

void VTEMULATION::CursorBack(int n)
{
    // The left margin stops the cursor that stands right of it.
    int const left = X >= LeftMargin() ? LeftMargin() : 0;
    if (!ReverseWrap || !AutoWrap) {
        MoveTo(std::max(X - n, left), Y);
        return;
    }
    // Reverse wrap-around: past the start of a row to the end of the one
    // above, from the top margin to the bottom one; a pending wrap takes
    // the first step.
    if (WrapPending) {
        WrapPending = false;
        --n;
    }
    for (; n > 0; --n) {
        if (X > left) {
            --X;
            continue;
        }
        Y = Y == Top ? Bottom : Y == 0 ? H - 1 : Y - 1;
        X = std::min(RightMargin(), RowWidth(Y) - 1);
    }
}

void VTEMULATION::CarriageReturn()
{
    // To the left margin, or the row's start from left of it.
    X = X >= LeftMargin() ? LeftMargin() : 0;
    WrapPending = false;
}

void VTEMULATION::LineFeed()
{
    // At the bottom margin the region scrolls, unless the cursor stands
    // outside the left and right margins (then nothing happens).
    WrapPending = false;
    if (Y == Bottom) {
        if (InsideColumns())
            ScrollUp(Top, Bottom, 1);
    } else if (Y < H - 1) {
        ++Y;
    }
    X = std::min(X, RowWidth(Y) - 1);
}

void VTEMULATION::ReverseLineFeed()
{
    WrapPending = false;
    if (Y == Top) {
        if (InsideColumns())
            ScrollDown(Top, Bottom, 1);
    } else if (Y > 0) {
        --Y;
    }
    X = std::min(X, RowWidth(Y) - 1);
}

void VTEMULATION::NextLine()
{
    CarriageReturn();
    LineFeed();
}

void VTEMULATION::WrapToNextLine()
{
    FlushBatch();
    if (AutoPrint)
        PrintRows(Y, Y, false);
    // The wrapped mark joins whole rows only.
    if (FullWidth())
        Vio->Do(VIODO_SETWRAPPED, W - 1, Y);
    X = LeftMargin();
    LineFeed();
}

void VTEMULATION::ScrollColumns(int top, int bottom, int n, bool up)
{
    // The rectangle between the left and right margins: its rows move,
    // the rest of the screen stays; nothing reaches the scroll-back.
    int const left = LeftMargin(), count = RightMargin() - left + 1;
    if (up) {
        for (int y = top; y + n <= bottom; ++y)
            Vio->MoveArea(left, y + n, left, y, count);
        for (int y = bottom - n + 1; y <= bottom; ++y)
            EraseCells(left, y, count);
    } else {
        for (int y = bottom; y - n >= top; --y)
            Vio->MoveArea(left, y - n, left, y, count);
        for (int y = top; y < top + n; ++y)
            EraseCells(left, y, count);
    }
}

void VTEMULATION::ScrollUp(int top, int bottom, int n)
{
    n = std::min(n, bottom - top + 1);
    if (n <= 0)
        return;
    EraseStyle();
    if (!FullWidth()) {
        ScrollColumns(top, bottom, n, true);
        return;
    }
    if (top == 0) {
        // Rows leaving the top of the screen go to the scroll-back (the
        // screen leaves out those of the alternate screen).
        Vio->ScrollArea(0, 0, W - 1, bottom, n, VIOSCROLL_UP);
    } else {
        // Rows leaving a region below the top are gone for good.
        for (int y = top; y + n <= bottom; ++y)
            Vio->MoveArea(0, y + n, 0, y, W);
        for (int y = bottom - n + 1; y <= bottom; ++y)
            EraseCells(0, y, W);
    }
    if (AnyLineAttr) {
        auto first = LineAttrs.begin() + top;
        std::rotate(first, first + n, LineAttrs.begin() + bottom + 1);
        std::fill(LineAttrs.begin() + bottom + 1 - n, LineAttrs.begin() + bottom + 1, uint8_t(0));
        if (top != 0) {
            // Moving cells leaves the rows' attributes where they were.
            for (int y = top; y <= bottom; ++y)
                Vio->Do(VIODO_LINEATTR, y, LineAttrs[size_t(y)] ? LineAttrs[size_t(y)] : VIOLINE_SINGLEWIDTH);
        }
    }
}

void VTEMULATION::ScrollDown(int top, int bottom, int n)
{
    n = std::min(n, bottom - top + 1);
    if (n <= 0)
        return;
    EraseStyle();
    if (!FullWidth()) {
        ScrollColumns(top, bottom, n, false);
        return;
    }
    Vio->ScrollArea(0, top, W - 1, bottom, n, VIOSCROLL_DOWN);
    if (AnyLineAttr) {
        auto first = LineAttrs.begin() + top;
        auto last = LineAttrs.begin() + bottom + 1;
        std::rotate(first, last - n, last);
        std::fill(first, first + n, uint8_t(0));
    }
}

void VTEMULATION::InsertLines(int n)
{
    if (Y < Top || Y > Bottom || !InsideColumns())
        return;
    FlushBatch();
    ScrollDown(Y, Bottom, n);
    CarriageReturn();
}

void VTEMULATION::DeleteLines(int n)
{
    if (Y < Top || Y > Bottom || !InsideColumns())
        return;
    FlushBatch();
    n = std::min(n, Bottom - Y + 1);
    EraseStyle();
    if (!FullWidth()) {
        ScrollColumns(Y, Bottom, n, true);
        CarriageReturn();
        return;
    }
    // Deleted lines never reach the scroll-back, even at the top.
    for (int y = Y; y + n <= Bottom; ++y)
        Vio->MoveArea(0, y + n, 0, y, W);
    for (int y = Bottom - n + 1; y <= Bottom; ++y)
        EraseCells(0, y, W);
    if (AnyLineAttr) {
        auto first = LineAttrs.begin() + Y;
        std::rotate(first, first + n, LineAttrs.begin() + Bottom + 1);
        std::fill(LineAttrs.begin() + Bottom + 1 - n, LineAttrs.begin() + Bottom + 1, uint8_t(0));
        for (int y = Y; y <= Bottom; ++y)
            Vio->Do(VIODO_LINEATTR, y, LineAttrs[size_t(y)] ? LineAttrs[size_t(y)] : VIOLINE_SINGLEWIDTH);
    }
    CarriageReturn();
}

void VTEMULATION::InsertChars(int n)
{
    // Up to the right margin; nothing from outside the margins.
    if (!InsideColumns())
        return;
    FlushBatch();
    int const rw = LineEnd();
    n = std::min(n, rw - X);
    if (n <= 0)
        return;
    if (rw - X - n > 0)
        Vio->MoveArea(X, Y, X + n, Y, rw - X - n);
    EraseCells(X, Y, n);
    WrapPending = false;
}

void VTEMULATION::DeleteChars(int n)
{
    if (!InsideColumns())
        return;
    FlushBatch();
    int const rw = LineEnd();
    n = std::min(n, rw - X);
    if (n <= 0)
        return;
    if (rw - X - n > 0)
        Vio->MoveArea(X + n, Y, X, Y, rw - X - n);
    EraseCells(rw - n, Y, n);
    WrapPending = false;
}

void VTEMULATION::EraseChars(int n)
{
    int const rw = RowWidth(Y);
    n = std::min(n, rw - X);
    if (n > 0)
        EraseCells(X, Y, n);
    WrapPending = false;
}

void VTEMULATION::EraseCells(int x, int y, int count, bool selective)
{
    if (count <= 0)
        return;
    EraseStyle();
    int const all = selective ? 0 : 1;
    // The screen moves text into the scroll-back when an erase starts at
    // the first column and covers a whole row or the rest of the screen;
    // starting one cell later and erasing the first cell by itself keeps
    // it from doing so.
    if (x == 0 && count > 1 && W > 1) {
        Vio->Erase(1, y, count - 1, all, ' ');
        Vio->Erase(0, y, 1, all, ' ');
    } else {
        Vio->Erase(x, y, count, all, ' ');
    }
}

void VTEMULATION::EraseInDisplay(int mode, bool selective)
{
    FlushBatch();
    // Lines erased whole become single width again.
    auto normal = [&](int from, int to) {
        for (int y = from; y <= to && AnyLineAttr; ++y)
            if (LineAttrs[size_t(y)])
                SetLineAttr(y, VIOLINE_NORMAL);
    };
    switch (mode) {
    case 0:
        EraseCells(X, Y, (W - X) + (H - 1 - Y) * W, selective);
        normal(X == 0 ? Y : Y + 1, H - 1);
        break;
    case 1:
        EraseCells(0, 0, Y * W + X + 1, selective);
        normal(0, X >= RowWidth(Y) - 1 ? Y : Y - 1);
        break;
    case 2:
        if (selective) {
            EraseCells(0, 0, W * H, true);
        } else {
            // The whole screen: the screen keeps its text in the
            // scroll-back (not on the alternate screen).
            EraseStyle();
            Vio->Erase(0, 0, W * H, 1, ' ');
        }
        normal(0, H - 1);
        if (Dialect.Level == vt::LEVEL::ANSI)
            MoveTo(0, 0); // ANSI.SYS homes the cursor as well
        break;
    default:
        break; // 3, the scroll-back, is the user's to clear
    }
    WrapPending = false;
}

void VTEMULATION::EraseInLine(int mode, bool selective)
{
    FlushBatch();
    switch (mode) {
    case 0:
        EraseCells(X, Y, W - X, selective);
        break;
    case 1:
        EraseCells(0, Y, X + 1, selective);
        break;
    case 2:
        EraseCells(0, Y, W, selective);
        break;
    default:
        break;
    }
    WrapPending = false;
}

void VTEMULATION::SetLineAttr(int y, int attr)
{
    if (y < 0 || y >= H)
        return;
    FlushBatch();
    LineAttrs[size_t(y)] = uint8_t(attr);
    if (attr != VIOLINE_NORMAL)
        AnyLineAttr = true;
    Vio->Do(VIODO_LINEATTR, y, attr == VIOLINE_NORMAL ? VIOLINE_SINGLEWIDTH : attr);
    if (y == Y)
        X = std::min(X, RowWidth(Y) - 1);
}

void VTEMULATION::AlignmentTest()
{
    FlushBatch();
    Top = 0;
    Bottom = H - 1;
    OriginMode = false;
    for (int y = 0; y < H && AnyLineAttr; ++y)
        if (LineAttrs[size_t(y)])
            SetLineAttr(y, VIOLINE_NORMAL);
    // The test pattern is drawn in the normal rendition.
    Vio->Do(VIODO_ATTRIB, 0, 0);
    Vio->Do(VIODO_COLORS, ProfileColor(0), ProfileColor(1));
    Vio->WriteWideByte(L'E', W * H, 0, 0, 0);
    StyleSynced = false;
    MoveTo(0, 0);
}

void VTEMULATION::SwitchScreen(bool alternate, bool clear)
{
    FlushBatch();
    if (alternate == Alternate) {
        if (clear)
            EraseCells(0, 0, W * H);
        return;
    }
    size_t const cells = size_t(W) * size_t(H);
    std::vector<VIOCELL> shown(cells);
    int count = int(cells);
    Vio->GetCells(shown.data(), &count, 0, 0);
    std::vector<uint8_t> shownAttrs = LineAttrs;

    // The screen that comes back: what was saved of it, cut or padded to
    // the present size (a never-shown screen is blank).
    int const rows = std::min(H, HiddenH);
    int const cols = std::min(W, HiddenW);
    for (int y = 0; y < rows && !Hidden.empty(); ++y)
        memcpy(Vio->AccessVioCell(0, y, 0), &Hidden[size_t(y) * size_t(HiddenW)], size_t(cols) * sizeof(VIOCELL));
    if (Hidden.empty() || clear) {
        EraseCells(0, 0, W * H);
    } else {
        for (int y = 0; y < rows && cols < W; ++y)
            EraseCells(cols, y, W - cols);
        if (rows < H)
            EraseCells(0, rows, (H - rows) * W);
    }
    std::vector<uint8_t> attrs(static_cast<size_t>(H), 0);
    for (int y = 0; y < rows && y < int(HiddenLineAttrs.size()); ++y)
        attrs[size_t(y)] = HiddenLineAttrs[size_t(y)];
    for (int y = 0; y < H; ++y)
        if (attrs[size_t(y)] != LineAttrs[size_t(y)])
            SetLineAttr(y, attrs[size_t(y)]);

    Hidden = std::move(shown);
    HiddenLineAttrs = std::move(shownAttrs);
    HiddenW = W;
    HiddenH = H;
    Alternate = alternate;
    Vio->Do(VIODO_ALTSCREEN, alternate ? 1 : 0, 0);
    RepaintAll = true;
    ClampCursor();
}

void VTEMULATION::SaveCursor()
{
    SAVED& s = Saved[Alternate ? 1 : 0];
    s.X = X;
    s.Y = Y;
    s.WrapPending = WrapPending;
    s.Pen = Pen;
    std::copy(G, G + 4, s.G);
    s.GL = GL;
    s.OriginMode = OriginMode;
}

void VTEMULATION::RestoreCursor()
{
    SAVED const& s = Saved[Alternate ? 1 : 0];
    Pen = s.Pen;
    std::copy(s.G, s.G + 4, G);
    GL = s.GL;
    OriginMode = s.OriginMode;
    MoveTo(s.X, s.Y);
    WrapPending = s.WrapPending && X == s.X;
    StyleSynced = false;
}

void VTEMULATION::Tab(int count)
{
    // A tab stops at the right margin from inside the margins.
    int const rw = LineEnd();
    while (count-- > 0 && X < rw - 1) {
        ++X;
        while (X < rw - 1 && !TabStops[size_t(X)])
            ++X;
    }
    WrapPending = false;
}

void VTEMULATION::BackTab(int count)
{
    // Not held by the left margin, as in xterm.
    while (count-- > 0 && X > 0) {
        --X;
        while (X > 0 && !TabStops[size_t(X)])
            --X;
    }
    WrapPending = false;
}

void VTEMULATION::ResetTabs()
{
    // Every eighth column from the first, as xterm sets them (the one in
    // the first column only shows in the tab stop report).
    TabStops.assign(static_cast<size_t>(W), 0);
    for (int x = 0; x < W; x += 8)
        TabStops[size_t(x)] = 1;
}

void VTEMULATION::Reset(bool hard)
{
    FlushBatch();
    // The soft reset (DECSTR, and DECSCL with it), as xterm has it: modes
    // back to their power-on values, the margins, the rendition, the
    // character sets and the saved cursor; the line feed mode, reverse
    // video, the mouse, paste and national replacement modes stay.
    InsertMode = false;
    OriginMode = false;
    AutoWrap = true;
    CursorKeysApp = false;
    KeypadApp = false;
    KeyboardLocked = false;
    ReverseWrap = false;
    Top = 0;
    Bottom = H - 1;
    LeftRightMode = false;
    Left = 0;
    Right = W - 1;
    Pen = PEN{};
    std::fill(G, G + 4, vt::CS_ASCII);
    GL = 0;
    GR = 2;
    SingleShift = 0;
    Saved[0] = Saved[1] = SAVED{};
    WrapPending = false;
    StyleSynced = false;
    if (!CursorVisible) {
        CursorVisible = true;
        Vio->SetCursorOnOff(1);
    }
    SESSIONPROFILE const* profile = Public ? Public->Profile : nullptr;
    CursorStyle = 0;
    CursorBlinks = profile && profile->data.CursorBlink == VIOCURSOR_BLINKING;
    ApplyCursorStyle();
    if (!hard)
        return;
    // The full reset (RIS) also returns to ANSI mode with 7-bit answers
    // (the conformance level stays, as xterm keeps it), and clears the
    // screen, tab stops, screens, palette and every other mode.
    C1Out = false;
    RectangleExtent = false;
    SavedModes.clear();
    SgrStack.clear();
    AutoPrint = PrintFormFeed = PrintFullScreen = false;
    Vt52 = false;
    Vt52Graphics = false;
    Vt52State = 0;
    Nrcs = false;
    NewLineMode = false;
    Columns132 = false;
    BackspaceBS = DefaultBackspaceBS;
    if (ReverseScreen) {
        ReverseScreen = false;
        Vio->SetInverse(0);
    }
    BracketedPaste = false;
    MouseMode = 0;
    MouseEncoding = 0;
    FocusReports = false;
    MouseButtons = 0;
    if (Alternate)
        SwitchScreen(false, false);
    Hidden.clear();
    HiddenW = HiddenH = 0;
    ResetTabs();
    for (int y = 0; y < H && AnyLineAttr; ++y)
        if (LineAttrs[size_t(y)])
            SetLineAttr(y, VIOLINE_NORMAL);
    AnyLineAttr = false;
    ResetPalette(-1);
    EraseStyle();
    Vio->Erase(0, 0, W * H, 1, ' ');
    MoveTo(0, 0);
}

void VTEMULATION::SetColumns(int columns)
{
    Columns132 = columns == 132;
    if (!Public || !Public->Emulation || columns == W)
        return;
    FlushBatch();
    // A terminal switching its width cuts or pads its rows; the session's
    // resize would re-wrap them (and push rows into the scroll-back). So
    // the screen is blanked for the resize and its rows put back after it.
    int const oldW = W, oldH = H, oldX = X, oldY = Y;
    std::vector<VIOCELL> cells(size_t(oldW) * size_t(oldH));
    int count = oldW * oldH;
    Vio->GetCells(cells.data(), &count, 0, 0);
    std::vector<uint8_t> const attrs = LineAttrs;
    VIOCELL blank{};
    blank.c = ' ';
    blank.fore = uint32_t(ProfileColor(0)) & 0xFFF;
    blank.back = uint32_t(ProfileColor(1)) & 0xFFF;
    for (int y = 0; y < oldH; ++y)
        for (int x = 0; x < oldW; ++x)
            *Vio->AccessVioCell(x, y, 1) = blank;
    Public->Emulation->SwitchSize(columns, -1);
    int width = 0, height = 0;
    Vio->GetWinSize(&width, &height);
    if (width <= 0 || height <= 0)
        return;
    Resize(width, height);
    int const cols = std::min(oldW, W);
    for (int y = 0; y < std::min(oldH, H); ++y) {
        for (int x = 0; x < cols; ++x) {
            VIOCELL cell = cells[size_t(y) * size_t(oldW) + size_t(x)];
            cell.attrib &= uint16_t(~VIOATTR_WRAPPED);
            // A double-width character cut in two goes whole.
            if (x == cols - 1 && cols < oldW && (cell.attrib & VIOATTR_DOUBLEWIDTH))
                cell = blank;
            *Vio->AccessVioCell(x, y, 1) = cell;
        }
        if (y < int(attrs.size()) && attrs[size_t(y)])
            SetLineAttr(y, attrs[size_t(y)]);
    }
    MoveTo(oldX, oldY);
    RepaintAll = true;
    ApplyCursorStyle();
}

void VTEMULATION::PlaceCursor()
{
    SyncVioCursor();
}
