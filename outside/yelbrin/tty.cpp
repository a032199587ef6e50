#include "outside/yelbrin/tty.h"

#include "plugins/sdk/emulationapi.h"
#include "plugins/sdk/vioapi.h"
#include "velmot/core/unicode.h"
#include "velmot/gui/winkeys.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

constexpr wchar_t BEL = 7;
constexpr wchar_t BS = 8;
constexpr wchar_t HT = 9;
constexpr wchar_t LF = 10;
constexpr wchar_t CR = 13;
constexpr wchar_t DEL = 127;
constexpr int TABSTOP = 8;
// A key event whose flag word has this bit is a key release.
constexpr uint32_t KEYFLAG_RELEASED = 0x100;

bool Printable(wchar_t c)
{
    return c >= 32 && c != DEL && !(c >= 0x80 && c < 0xA0);
}

} // namespace

TTY::TTY(SUBSYSINITDATA const& init) : QOREMULATION(init)
{
    // Nothing is ever a sequence: the host checks whole runs at once.
    EmulationFlags = EMUFLAG_SEQUENCERUN;
}

TTY::~TTY() = default;

int TTY::SetParm(char const* parm)
{
    if (parm)
        Parm = parm;
    return 1;
}

char* TTY::QueryParm(char* buf, int max)
{
    if (buf && max > 0)
        snprintf(buf, static_cast<size_t>(max), "%s", Parm.c_str());
    return buf;
}

char* TTY::QueryStdParm(char* buf)
{
    if (buf)
        snprintf(buf, 128, "[0]");
    return buf;
}

char* TTY::QueryStatus(char* buf)
{
    if (buf)
        snprintf(buf, 256, "TTY");
    return buf;
}

int TTY::Open(char const* parm)
{
    if (parm && *parm)
        Parm = parm;
    Vio = Public ? Public->Vio : nullptr;
    X = Y = 0;
    if (Vio)
        Vio->GetCursorPos(&X, &Y);
    return 0;
}

int TTY::Close()
{
    FlushRun();
    return 0;
}

int TTY::IsSequence(int*, char)
{
    return 0;
}

int TTY::SequenceRun(int*, char const*, int len)
{
    return len > 0 ? len : 0;
}

int TTY::QueryUnixName(int n, char* dst)
{
    if (!dst || n != 0)
        return 0;
    strcpy(dst, "dumb");
    return 1;
}

void TTY::PlaceCursor()
{
    Vio->SetCursorPos(std::min(X, Width - 1), Y);
}

void TTY::FlushRun()
{
    if (Run.empty() || !Vio)
        return;
    // The run stops short of the last column (see conputs), so the screen
    // never wraps or scrolls on its own while writing it.
    Vio->conputws(Run.data(), static_cast<long>(Run.size()));
    Run.clear();
}

void TTY::ScrollUp()
{
    // The top row goes to the scroll-back, the others move up one row and
    // the bottom row is cleared. The screen is held (conputs took it), so
    // whole rows are moved in place; the release marks the screen changed.
    Row.resize(static_cast<size_t>(Width));
    int count = Width;
    Vio->GetCells(Row.data(), &count, 0, 0);
    if (Public && count > 0)
        Public->AddScrollLine(Row.data(), count, 1);
    for (int y = 1; y < Height; ++y)
        memmove(Vio->AccessVioCell(0, y - 1, 0), Vio->AccessVioCell(0, y, 0), sizeof(VIOCELL) * static_cast<size_t>(Width));
    Vio->Erase(0, Height - 1, Width, 1, ' ');
    // A selection would stay where the text was: it goes, as with any
    // scroll of the screen.
    Vio->ClearMarkArea(1);
    Scrolled = true;
}

void TTY::LineFeed()
{
    if (Y < Height - 1)
        ++Y;
    else
        ScrollUp();
}

int TTY::conputs(wchar_t const* text, long len)
{
    if (!text || !Vio)
        return 0;
    if (len < 0)
        len = static_cast<long>(wcslen(text));
    int width = 0, height = 0;
    Vio->AccessVioScreen(&width, &height, 0);
    Scrolled = false;
    if (width <= 0 || height <= 0) {
        Vio->ReleaseVioScreen(0);
        return 0;
    }
    // The size may have changed, and the cursor may have been moved by
    // others since the last call: a pending wrap survives only when the
    // cursor still stands where this emulation left it.
    int cx = 0, cy = 0;
    Vio->GetCursorPos(&cx, &cy);
    bool pending = X >= Width && cx == Width - 1 && cy == Y && width == Width;
    Width = width;
    Height = height;
    X = pending ? Width : std::clamp(cx, 0, Width - 1);
    Y = std::clamp(cy, 0, Height - 1);
    Vio->SetCursorPos(std::min(X, Width - 1), Y);
    UNICODE const* uni = UNICODE::GetInstance();

    for (long i = 0; i < len; ++i) {
        wchar_t c = text[i];
        if (Printable(c)) {
            int cells = c >= 0x1100 && uni->IsDoubleWidthCJK_Full(c) ? 2 : 1;
            if (X + cells > Width) {
                // The row is full: the text goes on at the start of the next.
                FlushRun();
                Vio->Do(VIODO_SETWRAPPED, Width - 1, Y);
                LineFeed();
                X = 0;
                PlaceCursor();
            }
            if (X + cells < Width) {
                Run.push_back(c);
                X += cells;
            } else {
                // The last column: written in place, so the screen does not
                // wrap by itself; the wrap waits for the next character.
                FlushRun();
                Vio->WriteWideByte(c, 1, X, Y, -1);
                X = Width;
                PlaceCursor();
            }
            continue;
        }
        FlushRun();
        switch (c) {
        case CR:
            Vio->conputws(&c, 1);
            X = 0;
            break;
        case LF:
            LineFeed();
            break;
        case BS:
            X = std::max(0, std::min(X, Width - 1) - 1);
            break;
        case HT:
            X = std::min((std::min(X, Width - 1) / TABSTOP + 1) * TABSTOP, Width - 1);
            break;
        case BEL:
            if (Public)
                Public->Bell();
            break;
        default:
            break; // no other control has a meaning here
        }
        PlaceCursor();
    }
    FlushRun();
    // Only a scroll changed cells behind the screen's back.
    Vio->ReleaseVioScreen(Scrolled ? 1 : 0);
    // The session log gets the text as it came, line ends, backspaces and
    // the host's log switches (DC2, DC4) included: one call for the block.
    if (Public && len > 0)
        Public->LogWide(text, static_cast<int>(len));
    return 0;
}

int TTY::ProcessKey(KEYBOARDEVENT const& event)
{
    if (event.Flags & KEYFLAG_RELEASED)
        return 0;
    wchar_t key = 0;
    switch (event.Keycode) {
    case 0x0D:
        key = CR;
        break;
    case 0x08:
        key = DEL;
        break;
    case 0x09:
        key = HT;
        break;
    case 0x1B:
        key = 27;
        break;
    default:
        return 0;
    }
    if (Public)
        Public->FeedKeys(&key, 1, 0);
    return 1;
}

int TTY::FeedSymbolicKey(char const* name)
{
    if (!name || !Public)
        return 0;
    wchar_t key = 0;
    if (strcasecmp(name, "Enter") == 0)
        key = CR;
    else if (strcasecmp(name, "Tab") == 0)
        key = HT;
    else if (strcasecmp(name, "Esc") == 0 || strcasecmp(name, "Escape") == 0)
        key = 27;
    else if (strcasecmp(name, "Backspace") == 0)
        key = DEL;
    else
        return 0;
    Public->FeedKeys(&key, 1, 0);
    return 1;
}
