// The screen's rows and their sentinels, the locks, the life cycle and the
// state operations, and the command multiplexer Do.
#include "program/screen/vio.h"

#include "program/screen/scrollback.h"
#include "program/screen/vioutils.h"
#include "velmot/core/logit.h"
#include "velmot/gui/windraw.h"

#include <algorithm>
#include <cstring>
#include <new>

using vioutils::Bits;
using vioutils::Cell;

namespace {

// The screen whose lock this thread holds through a GUARD (the innermost
// one, when a thread holds several). Initial-exec: the screen lives in the
// program, never in a module loaded later.
thread_local VIO* tHeld __attribute__((tls_model("initial-exec"))) = nullptr;

// Sizes beyond these are taken as these: the largest screen still paints in
// reasonable time and its rows fit the scroll-back's length field.
constexpr int kMaxWidth = 4096;
constexpr int kMaxHeight = 4096;

} // namespace

VIO::GUARD::GUARD(VIO& vio, int timeout) : Screen(vio)
{
    if (tHeld == &vio) {
        Ok = true;
        return;
    }
    Ok = vio.Lock.Obtain(timeout);
    Took = Ok;
    if (Took) {
        Previous = tHeld;
        tHeld = &vio;
    }
}

VIO::GUARD::~GUARD()
{
    if (!Took)
        return;
    Screen.FlushIfDue();
    tHeld = Previous;
    Screen.Lock.Release();
}

VIO::VIO(VIOHOST* host, SCROLLBACKBUFFER* scrollback)
    : Host(host ? host : &NullHost), Scrollback(scrollback), Uni(UNICODE::GetInstance())
{
    InitXtermColors();
}

VIO::~VIO()
{
    Cleanup();
    delete[] RunBuffer;
}

VIOCELL VIO::ScreenMakeEndCell()
{
    return vioutils::MakeCell(0xBBCC, 0x00AA, 0xDD, 0xEE, 0xFF);
}

bool VIO::ScreenValidateEndCell()
{
    GUARD lock(*this);
    if (!RowTable)
        return true;
    bool ok = true;
    for (int y = 0; y < ScreenHeight; ++y) {
        VIOCELL const last = RowTable[y].Cells[ScreenWidth];
        ok &= VIOASSERT(last.attrib == 0xAA, "lastcell.attrib=='\\xAA'") != 0 && last.attrib == 0xAA;
        ok &= VIOASSERT(last.c == 0xBBCC, "lastcell.c==L'\\xBBCC'") != 0 && last.c == 0xBBCC;
        ok &= VIOASSERT(last.fore == 0xDD, "lastcell.fore=='\\xDD'") != 0 && last.fore == 0xDD;
        ok &= VIOASSERT(last.back == 0xEE, "lastcell.back=='\\xEE'") != 0 && last.back == 0xEE;
        ok &= VIOASSERT(last.extattr == 0xFF, "lastcell.extattr=='\\xFF'") != 0 && last.extattr == 0xFF;
    }
    return ok;
}

VIOCELL VIO::BlankCell() const
{
    return vioutils::MakeCell(32, 0, vioutils::CellColour(CurFore), vioutils::CellColour(CurBack));
}

bool VIO::AllocRows(int width, int height)
{
    size_t const stride = size_t(width) + 1;
    int const slots = 2 * height + 1 + 256;
    auto* table = new (std::nothrow) VIOROW[size_t(slots)]{};
    auto* pool = new (std::nothrow) VIOCELL[stride * size_t(height)];
    if (!table || !pool) {
        delete[] table;
        delete[] pool;
        return false;
    }
    uint64_t const blank = Bits(BlankCell());
    uint64_t const end = Bits(ScreenMakeEndCell());
    for (int y = 0; y < height; ++y) {
        VIOCELL* cells = pool + size_t(y) * stride;
        for (int x = 0; x < width; ++x)
            vioutils::Store(cells + x, blank);
        vioutils::Store(cells + width, end);
        table[y].Cells = cells;
    }
    RowBase = table;
    RowSlots = slots;
    RowTable = table;
    CellPool = pool;
    AnyLineAttr = false;
    ScreenWidth = width;
    ScreenHeight = height;
    DirtyRect = RECT{};
    RefreshTimers();
    return true;
}

void VIO::FreeRows()
{
    delete[] RowBase;
    delete[] CellPool;
    RowBase = nullptr;
    RowTable = nullptr;
    RowSlots = 0;
    CellPool = nullptr;
}

void VIO::Init(int width, int height)
{
    Start(width, height, nullptr, FontFlag);
}

void VIO::InitWithFont(int width, int height, wchar_t const* fontString, signed char flag)
{
    Start(width, height, fontString, flag);
}

void VIO::Start(int width, int height, wchar_t const* fontString, signed char flag)
{
    {
        GUARD lock(*this);
        width = std::clamp(width, 1, kMaxWidth);
        height = std::clamp(height, 1, kMaxHeight);
        CursorX = CursorY = 0;
        Inherit = false;
        CurAttrib = 0;
        CurFore = 7;
        CurBack = 0;
        CodePage = 1252;
        Host->LoadSysColors();
        FreeRows();
        ThrottleMs = 40;
        if (!AllocRows(width, height)) {
            ScreenWidth = ScreenHeight = 0;
            return;
        }
        Running = true;
        SetFont(fontString, flag);
        SetScreenAttr(0, 7, -1);
        Do(VIODO_CURSORONOFF, 1, 0);
        InitXtermColors();
    }
    UpdateCursor();
    Host->ReadWindowFrameArgument();
}

void VIO::Cleanup2()
{
    GUARD lock(*this);
    FreeRows();
    if (CursorTimerRunning) {
        Host->StopTimer(257);
        CursorTimerRunning = false;
    }
}

void VIO::Cleanup()
{
    GUARD lock(*this);
    Cleanup2();
    ReleaseFont();
    ScreenWidth = ScreenHeight = 0;
    CursorX = CursorY = 0;
    CurAttrib = 0;
    CurFore = 0;
    CurBack = 0;
    CellWidth = CellHeight = 0;
    Running = false;
}

int VIO::AccessVioScreen(int* width, int* height, signed char)
{
    Lock.Obtain(-1);
    // Inside the bracket the screen's own operations find the lock taken,
    // as under a GUARD, instead of taking it again for every call; the
    // dirty area is flushed when the outermost bracket ends.
    if (AccessDepth++ == 0 && tHeld != this) {
        AccessPrevious = tHeld;
        tHeld = this;
        AccessTook = true;
    }
    if (width)
        *width = ScreenWidth;
    if (height)
        *height = ScreenHeight;
    return 1;
}

void VIO::ReleaseVioScreen(signed char update)
{
    if (update && RowTable) {
        if (Inherit)
            InheritAttrib(0);
        MarkCellsDirty(0, 0, ScreenWidth, ScreenHeight, 1);
    }
    if (AccessDepth > 0 && --AccessDepth == 0 && AccessTook) {
        AccessTook = false;
        FlushIfDue();
        tHeld = AccessPrevious;
        AccessPrevious = nullptr;
    }
    Lock.Release();
}

VIOCELL* VIO::AccessVioCell(int index)
{
    // Callers promise 0 <= index < width * height; one that breaks it gets
    // a scratch cell instead of another object's memory.
    if (!RowTable || index < 0 || index >= ScreenWidth * ScreenHeight) {
        VIOASSERT(false, "index>=0 && index<this->ScreenWidth*this->ScreenHeight");
        Scratch = VIOCELL{};
        return &Scratch;
    }
    return RowTable[index / ScreenWidth].Cells + index % ScreenWidth;
}

VIOCELL* VIO::AccessVioCell(int x, int y, signed char markDirty)
{
    if (!RowTable || x < 0 || y < 0 || x >= ScreenWidth || y >= ScreenHeight) {
        VIOASSERT(false, "x<this->ScreenWidth && y<this->ScreenHeight");
        Scratch = VIOCELL{};
        return &Scratch;
    }
    if (markDirty)
        MarkCellsDirty(x, y, 1, 1, 1);
    return RowTable[y].Cells + x;
}

void VIO::GetWinSize(int* width, int* height)
{
    if (width)
        *width = ScreenWidth;
    if (height)
        *height = ScreenHeight;
}

void VIO::GetCursorPos(int* x, int* y)
{
    if (x)
        *x = CursorX;
    if (y)
        *y = CursorY;
}

void VIO::SetScreenAttr(int back, int fore, int attrib)
{
    GUARD lock(*this);
    if (!RowTable)
        return;
    for (int y = 0; y < ScreenHeight; ++y) {
        VIOCELL* cells = RowTable[y].Cells;
        for (int x = 0; x < ScreenWidth; ++x) {
            if (back != -1)
                cells[x].back = uint32_t(vioutils::CellColour(back));
            if (fore != -1)
                cells[x].fore = uint32_t(vioutils::CellColour(fore));
            if (attrib != -1)
                cells[x].attrib = uint16_t(attrib);
        }
    }
    MarkCellsDirty(0, 0, ScreenWidth, ScreenHeight, 1);
}

void VIO::SetMode(int n)
{
    // The attribute state is the emulation's: no lock (see CurAttrib).
    constexpr auto relaxed = std::memory_order_relaxed;
    if (n == 0) {
        CurAttrib.store(0, relaxed);
        CurFore.store(Profile.ColorFore, relaxed);
        CurBack.store(Profile.ColorBack, relaxed);
    } else if (n > 0 && n < 16) {
        CurAttrib.store(CurAttrib.load(relaxed) | 1 << n, relaxed);
    } else if (n < 0 && n > -16) {
        CurAttrib.store(CurAttrib.load(relaxed) & ~(1 << -n), relaxed);
    }
}

void VIO::SetCodepage(int codePage)
{
    GUARD lock(*this);
    CodePage = codePage == -1 ? Profile.CodePage : codePage;
    Utf8State = UNICODE_UTF8STATE{};
}

void VIO::SetInverse(int on)
{
    GUARD lock(*this);
    bool const value = on != 0;
    if (value == Inverse)
        return;
    Inverse = value;
    MarkCellsDirty(0, 0, ScreenWidth, ScreenHeight, 1);
}

void VIO::SetCursorPos(int x, int y)
{
    {
        GUARD lock(*this);
        HideCursor();
        int const height = std::max(ScreenHeight, 1);
        int const width = std::max(ScreenWidth, 1);
        CursorY = y < 0 ? 0 : std::min(y, height - 1);
        int const maxX = LineAttr(CursorY) != 0 ? std::max(width / 2 - 1, 0) : width - 1;
        CursorX = x < 0 ? 0 : std::min(x, maxX);
        UpdateCursor();
    }
    Host->NewCursorPos(CursorX, CursorY);
}

bool VIO::InheritAttrib(signed char repaint)
{
    GUARD lock(*this);
    if (!RowTable)
        return false;
    constexpr int kNotInherited = VIOATTR_FIELD | VIOATTR_PROTECTED | VIOATTR_LINEEND | VIOATTR_WRAPPED;
    // What a cell holds about its place rather than its rendition; kept,
    // so that double-width pairs and wrapped rows stay intact.
    constexpr int kStructure = VIOATTR_DOUBLEWIDTH | VIOATTR_WRAPPED | VIOATTR_LINEEND;
    int inherited = RowTable[0].Cells[0].attrib & ~kNotInherited;
    bool changed = false;
    for (int y = 0; y < ScreenHeight; ++y) {
        VIOCELL* cells = RowTable[y].Cells;
        for (int x = 0; x < ScreenWidth; ++x) {
            int const a = cells[x].attrib;
            if (a & VIOATTR_FIELD) {
                inherited = a & ~kNotInherited;
                continue;
            }
            int value = inherited;
            if (a & VIOATTR_PROTECTED)
                value = (inherited & 0x00FD) | ((((inherited & 0xFDFD) >> 8) | 0x02) << 8);
            value = (value & ~kStructure) | (a & kStructure);
            if (value != a) {
                cells[x].attrib = uint16_t(value);
                changed = true;
            }
        }
    }
    if (changed && repaint)
        MarkCellsDirty(0, 0, ScreenWidth, ScreenHeight, 1);
    return changed;
}

int VIO::Do(int code, int p0, int p1)
{
    switch (code) {
    case VIODO_INHERIT: {
        GUARD lock(*this);
        Inherit = p0 != 0;
        return 0;
    }
    case VIODO_CURSORONOFF: {
        GUARD lock(*this);
        HideCursor();
        CursorState = p0 != 0 ? (Host->HasFocus() ? 1 : -1) : 0;
        UpdateCursor();
        return 0;
    }
    case VIODO_CURSORSHAPE: {
        GUARD lock(*this);
        HideCursor();
        if (p0 != -1)
            CursorType = p0 ? VIOCURSOR_BLOCK : VIOCURSOR_UNDERLINE;
        if (p1 != -1)
            CursorStyle = p1;
        int const period = Settings.CursorBlinkDelay > 0 ? Settings.CursorBlinkDelay : 333;
        if (period != BlinkPeriod) {
            BlinkPeriod = period;
            if (RowTable)
                RefreshTimers();
        }
        UpdateCursor();
        return 0;
    }
    case VIODO_COLORS:
        if (p0 != -1)
            CurFore.store(p0, std::memory_order_relaxed);
        if (p1 != -1)
            CurBack.store(p1, std::memory_order_relaxed);
        return 0;
    case VIODO_ATTRIB: {
        int const old = CurAttrib.load(std::memory_order_relaxed);
        if (p0 != -1)
            CurAttrib.store(p0 & 0xFFFF, std::memory_order_relaxed);
        return old;
    }
    case VIODO_INHERITNOW:
        if (Inherit)
            InheritAttrib(static_cast<signed char>(p0 != 0));
        return 0;
    case VIODO_LINEATTR: {
        GUARD lock(*this);
        if (!RowTable)
            return 0;
        int from = p0, to = p0;
        if (p0 >= 0x10000) {
            from = p0 & 0xFFFF;
            to = p0 >> 16;
            if (from > to)
                std::swap(from, to);
        }
        int const value = p1 == VIOLINE_SINGLEWIDTH ? 0 : (p1 & 0xFF);
        bool changed = false;
        for (int y = std::max(from, 0); y <= to && y < ScreenHeight; ++y) {
            if (RowTable[y].LineAttr != value) {
                RowTable[y].LineAttr = value;
                changed = true;
            }
        }
        AnyLineAttr = AnyLineAttr || value != 0;
        if (changed)
            MarkAllDirty(1);
        return 0;
    }
    case VIODO_MINIMIZE:
        Host->MinimizeWindow(p0 != 0);
        return 0;
    case VIODO_MOVEWINDOW:
        Host->MoveWindow(p0, p1);
        return 0;
    case VIODO_ATTRCELLSPLAIN: {
        GUARD lock(*this);
        AttrCellsPlain = p0 != 0;
        return 0;
    }
    case VIODO_DRAWBRACKET:
        DrawBracket(p0 != 0);
        return 0;
    case VIODO_GETCURSORTYPE:
        VIOASSERT(p0 == -1 && p1 == -1, "p0==-1 && p1==-1");
        return CursorType;
    case VIODO_SETCURSORTYPE: {
        GUARD lock(*this);
        HideCursor();
        CursorType = p0;
        UpdateCursor();
        return 0;
    }
    case VIODO_SETWRAPPED: {
        GUARD lock(*this);
        if (!WrapSuppress && RowTable && p0 >= 0 && p1 >= 0 && p0 < ScreenWidth && p1 < ScreenHeight)
            RowTable[p1].Cells[p0].attrib |= VIOATTR_WRAPPED;
        return 0;
    }
    case VIODO_ISWRAPPED: {
        GUARD lock(*this);
        if (RowTable && p0 >= 0 && p1 >= 0 && p0 < ScreenWidth && p1 < ScreenHeight)
            return (RowTable[p1].Cells[p0].attrib & VIOATTR_WRAPPED) ? 1 : 0;
        return 0;
    }
    case VIODO_WRAPSUPPRESS: {
        GUARD lock(*this);
        int const old = WrapSuppress ? 1 : 0;
        if (p0 != -1)
            WrapSuppress = p0 != 0;
        return old;
    }
    case VIODO_LINEEND: {
        GUARD lock(*this);
        if (RowTable && p0 >= 0 && p1 >= 0 && p0 < ScreenWidth && p1 < ScreenHeight)
            RowTable[p1].Cells[p0].attrib |= VIOATTR_LINEEND;
        return 0;
    }
    case VIODO_ALTSCREEN: {
        GUARD lock(*this);
        int const old = AltScreen ? 1 : 0;
        AltScreen = p0 != 0;
        return old;
    }
    default:
        AssertMsg(0, "FALSE", __FILE__, __LINE__, "VIO::Do");
        return 0;
    }
}
