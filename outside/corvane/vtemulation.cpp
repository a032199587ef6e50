#include "outside/corvane/vtemulation.h"

#include "plugins/sdk/emulationapi.h"
#include "velmot/core/unicode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

// Option words of the parameter string, as "{word}".
bool HasOption(std::string const& parm, char const* word)
{
    return parm.find(word) != std::string::npos;
}

} // namespace

VTEMULATION::VTEMULATION(SUBSYSINITDATA const& init, vt::DIALECT const& dialect)
    : QOREMULATION(init), Dialect(dialect), Uni(UNICODE::GetInstance())
{
    char tag[16];
    snprintf(tag, sizeof tag, "[%d]", Dialect.Id);
    Parm = tag;
    BackspaceBS = Dialect.BackspaceIsBS;
}

VTEMULATION::~VTEMULATION() = default;

int VTEMULATION::SetParm(char const* parm)
{
    if (parm)
        Parm = parm;
    return 1;
}

char* VTEMULATION::QueryParm(char* buf, int max)
{
    if (buf && max > 0)
        snprintf(buf, static_cast<size_t>(max), "%s", Parm.c_str());
    return buf;
}

char* VTEMULATION::QueryStdParm(char* buf)
{
    if (buf)
        snprintf(buf, 128, "[%d]", Dialect.Id);
    return buf;
}

char* VTEMULATION::QueryStatus(char* buf)
{
    if (buf)
        snprintf(buf, 256, "%s", Dialect.Name);
    return buf;
}

int VTEMULATION::Open(char const* parm)
{
    if (parm && *parm)
        Parm = parm;
    C1Controls = HasOption(Parm, "{c1}");
    DefaultBackspaceBS = HasOption(Parm, "{bs}") ? true : HasOption(Parm, "{del}") ? false : Dialect.BackspaceIsBS;
    BackspaceBS = DefaultBackspaceBS;
    Level = DefaultLevel();
    Vio = Public ? Public->Vio : nullptr;
    if (!Vio)
        return 0;
    // The screen keeps what it shows; the terminal starts in its power-on
    // state around it.
    int width = 0, height = 0;
    Vio->AccessVioScreen(&width, &height, 0);
    W = std::max(width, 1);
    H = std::max(height, 1);
    Top = 0;
    Bottom = H - 1;
    LineAttrs.assign(static_cast<size_t>(H), 0);
    ResetTabs();
    Vio->GetCursorPos(&X, &Y);
    VioX = X;
    VioY = Y;
    ClampCursor();
    Vt52 = false;
    Vt52State = 0;
    C1Out = false;
    Reset(false);
    Vio->ReleaseVioScreen(0);
    return 0;
}

int VTEMULATION::Close()
{
    if (!Vio)
        return 0;
    int width = 0, height = 0;
    Vio->AccessVioScreen(&width, &height, 0);
    if (width > 0 && height > 0) {
        Begin(width, height);
        FlushBatch();
        // The next emulation finds the main screen, the normal rendition and
        // a visible cursor.
        if (Alternate)
            SwitchScreen(false, false);
        if (ReverseScreen)
            Vio->SetInverse(0);
        if (!CursorVisible)
            Vio->SetCursorOnOff(1);
        if (CursorStyle != 0) {
            CursorStyle = 0;
            ApplyCursorStyle();
        }
        Vio->SetMode(0);
        PlaceCursor();
    }
    bool const repaint = RepaintAll;
    RepaintAll = false;
    Vio->ReleaseVioScreen(repaint ? 1 : 0);
    if (Printing)
        PrinterController(false);
    MouseMode = 0;
    BracketedPaste = false;
    FocusReports = false;
    Vio = nullptr;
    return 0;
}

int VTEMULATION::IsSequence(int* state, char c)
{
    if (!state)
        return 0;
    int const word = *state;
    if (Vt52) {
        // VT52 sequences: ESC and one character, ESC Y and two more. The
        // state after ESC is the table's; the two positions of ESC Y take
        // the values past the table's states. CAN and SUB end the
        // sequence here, so that a check never stays inside one.
        int const at = word & 0x0F;
        bool const cancel = c == 0x18 || c == 0x1A;
        int next = vt::GROUND;
        if (c == 0x1B)
            next = vt::ESCAPE;
        else if (at == vt::ESCAPE && c == 'Y')
            next = kVt52Row;
        else if (at == kVt52Row && !cancel)
            next = kVt52Column;
        *state = (word & ~0x0F) | next;
        return at != vt::GROUND || next != vt::GROUND ? 1 : 0;
    }
    vt::STATE before = vt::STATE(word & 0x0F);
    if (before >= vt::STATECOUNT)
        before = vt::GROUND;
    vt::STATE const after = vt::Step(before, static_cast<unsigned char>(c), C1Controls);
    *state = (word & ~0x0F) | after;
    return vt::InSequence(before, after) ? 1 : 0;
}

int VTEMULATION::SequenceRun(int* state, char const* text, int len)
{
    if (!state)
        return 0;
    if (!text || len <= 0) {
        // The check starts again where the parser stands.
        int const at = Vt52 ? (Vt52State == 0   ? int(vt::GROUND)
                               : Vt52State == 1 ? int(vt::ESCAPE)
                                                : Vt52State == 2 ? kVt52Row : kVt52Column)
                            : int(State);
        *state = (*state & ~0x0F) | at;
        return 0;
    }
    if (Vt52) {
        // The VT52's sequences are short: character by character.
        int const first = IsSequence(state, text[0]);
        int n = 1;
        while (n < len) {
            int const before = *state;
            if (IsSequence(state, text[n]) != first) {
                *state = before;
                break;
            }
            ++n;
        }
        return first ? -n : n;
    }
    auto const* t = reinterpret_cast<unsigned char const*>(text);
    int const word = *state;
    vt::STATE s = vt::STATE(word & 0x0F);
    if (s >= vt::STATECOUNT)
        s = vt::GROUND;
    int n = 0;
    int sequence = -1; // the answer of the run, once its first character is seen
    while (n < len) {
        // The common control sequence, whole: ESC [ (or the rest of one
        // begun before), parameter and intermediate bytes, the final byte,
        // as the table takes them.
        bool const csi = s == vt::CSIENTRY || s == vt::CSIPARAM || s == vt::CSIINTER || s == vt::CSIIGNORE;
        if (sequence != 0 && (csi || (s == vt::GROUND && t[n] == 0x1B && n + 2 < len && t[n + 1] == '['))) {
            int i = csi ? n : n + 2;
            while (i < len && t[i] >= 0x20 && t[i] <= 0x3F)
                ++i;
            if (i < len && t[i] >= 0x40 && t[i] <= 0x7E) {
                sequence = 1;
                s = vt::GROUND;
                n = i + 1;
                continue;
            }
        }
        vt::STATE const next = vt::Step(s, t[n], C1Controls);
        int const in = vt::InSequence(s, next) ? 1 : 0;
        if (sequence < 0)
            sequence = in;
        else if (in != sequence)
            break;
        s = next;
        ++n;
    }
    *state = (word & ~0x0F) | s;
    return sequence ? -n : n;
}

int VTEMULATION::QueryUnixName(int n, char* dst)
{
    if (!dst)
        return 0;
    int last = 0;
    while (last + 1 < 3 && Dialect.UnixNames[last + 1])
        ++last;
    // Past the end of the list the last name is repeated, as a terminal
    // type negotiation expects at its end.
    bool const inList = n >= 0 && n <= last;
    strcpy(dst, Dialect.UnixNames[inList ? n : last]);
    return inList ? 1 : 0;
}

unsigned long VTEMULATION::GetFlags(unsigned long mask)
{
    // Printable characters never open a sequence in the ground state (the
    // table's state 0).
    unsigned long flags = EMUFLAG_SEQUENCERUN;
    if (Dialect.Level == vt::LEVEL::ANSI) {
        // Code page 437 bytes are never UTF-8.
        flags |= EMUFLAG_NOUNICODE;
    } else if (Vio && Vio->GetCodepage() == UNICODE_CPUTF8) {
        flags |= EMUFLAG_UTF8KEYS | EMUFLAG_UTF8CONVERSION;
    }
    return mask & flags;
}

int VTEMULATION::SyncCursorPos()
{
    if (!Vio)
        return 0;
    int x = 0, y = 0;
    Vio->GetCursorPos(&x, &y);
    X = VioX = x;
    Y = VioY = y;
    WrapPending = false;
    return 1;
}

int VTEMULATION::conputs(wchar_t const* text, long len)
{
    if (!text || !Vio)
        return 0;
    if (len < 0)
        len = static_cast<long>(wcslen(text));
    int width = 0, height = 0;
    Vio->AccessVioScreen(&width, &height, 0);
    if (width <= 0 || height <= 0) {
        Vio->ReleaseVioScreen(0);
        return 0;
    }
    Begin(width, height);
    Parse(text, len);
    FlushBatch();
    PlaceCursor();
    bool const repaint = RepaintAll;
    RepaintAll = false;
    Vio->ReleaseVioScreen(repaint ? 1 : 0);
    return 0;
}

// ---------------------------------------------------------------------------
// Parsing

bool VTEMULATION::IsC1(uint32_t c) const
{
    return c >= 0x80 && c < 0xA0 && (Utf8 || C1Controls);
}

void VTEMULATION::Parse(wchar_t const* text, long len)
{
    long i = 0;
    while (i < len) {
        if (Printing) {
            i += PrinterTake(text + i, len - i);
            continue;
        }
        uint32_t const c = uint32_t(text[i]);
        if (Vt52 && (Vt52State != 0 || c == 0x1B || c < 0x20 || c == 0x7F || IsC1(c))) {
            Vt52Step(c);
            ++i;
            continue;
        }
        if (State == vt::GROUND || Vt52) {
            if (c >= 0x20 && c != 0x7F && !IsC1(c)) {
                long j = i + 1;
                while (j < len) {
                    uint32_t const d = uint32_t(text[j]);
                    if (d < 0x20 || d == 0x7F || IsC1(d))
                        break;
                    ++j;
                }
                PrintRun(text + i, j - i);
                i = j;
                continue;
            }
            if (c == 0x1B && !Vt52) {
                long const n = FastSequence(text + i, len - i);
                if (n > 0) {
                    i += n;
                    continue;
                }
            }
        }
        Step(c);
        ++i;
    }
}

long VTEMULATION::FastSequence(wchar_t const* text, long len)
{
    // The common control sequence, whole in this text: CSI, an optional
    // private marker, parameters, the final character. Anything else (an
    // intermediate, a control inside, the text ending first) goes through
    // the table from the ESC on, which gives the same result.
    if (len < 3 || text[1] != L'[')
        return 0;
    Seq.Clear();
    long j = 2;
    if (text[j] >= 0x3C && text[j] <= 0x3F)
        Seq.AddCollect(uint32_t(text[j++]));
    while (j < len && text[j] >= L'0' && text[j] <= L';')
        Seq.AddParamChar(uint32_t(text[j++]));
    if (j >= len || text[j] < 0x40 || text[j] > 0x7E)
        return 0;
    Seq.End();
    if (!Seq.Broken)
        CsiDispatch(uint32_t(text[j]));
    return j + 1;
}

void VTEMULATION::Step(uint32_t c)
{
    if (c >= 0x80 && c < 0xA0 && (Utf8 || C1Controls)) {
        // A C1 control is ESC and its 7-bit equivalent; without 8-bit
        // controls a C1 code point is dropped.
        if (!C1Controls)
            return;
        Step(0x1B);
        c -= 0x40;
    }
    uint8_t const cell = vt::Table.At(State, c);
    vt::ACTION const action = vt::TRANSITIONS::Action(cell);
    vt::STATE const next = vt::TRANSITIONS::Next(cell);
    // An operating system command or a device control string ends with ST
    // (ESC \) or any other ESC.
    if (State == vt::OSCSTRING && next == vt::ESCAPE) {
        OscBell = false;
        OscDispatch();
    } else if (State == vt::DCSPASS && next == vt::ESCAPE) {
        DcsDispatch();
    }
    State = next;
    Act(action, c);
}

void VTEMULATION::Act(vt::ACTION action, uint32_t c)
{
    switch (action) {
    case vt::PRINT: {
        wchar_t const one = wchar_t(c);
        PrintRun(&one, 1);
        break;
    }
    case vt::EXECUTE:
        Execute(c);
        break;
    case vt::CLEAR:
        Seq.Clear();
        break;
    case vt::COLLECT:
        Seq.AddCollect(c);
        break;
    case vt::PARAM:
        Seq.AddParamChar(c);
        break;
    case vt::ESCDISPATCH:
        Seq.End();
        if (!Seq.Broken)
            EscDispatch(c);
        break;
    case vt::CSIDISPATCH:
        Seq.End();
        if (!Seq.Broken)
            CsiDispatch(c);
        break;
    case vt::OSCSTART:
        OscLen = 0;
        OscOverflow = false;
        break;
    case vt::OSCPUT:
    case vt::DCSPUT:
        if (OscLen < vt::kMaxString)
            Osc[OscLen++] = wchar_t(c);
        else
            OscOverflow = true;
        break;
    case vt::OSCEND:
        OscBell = true;
        OscDispatch();
        break;
    case vt::DCSHOOK:
        Seq.End();
        DcsSeq = Seq;
        DcsFinal = c;
        OscLen = 0;
        OscOverflow = false;
        break;
    case vt::NONE:
    case vt::STRINGABORT:
    case vt::ACTIONCOUNT:
        break;
    }
}

uint32_t VTEMULATION::Graphic(uint32_t c, CHARSET set) const
{
    if (!Utf8 && c >= 0x80 && c < 0x100)
        c = HighChars[c - 0x80];
    if (Vt52)
        return Vt52Graphics ? vt::MapVt52Graphics(c) : c;
    return vt::MapCharset(set, c);
}

uint32_t VTEMULATION::Translate(uint32_t c)
{
    int const g = SingleShift ? SingleShift : GL;
    SingleShift = 0;
    return Graphic(c, G[g]);
}

// ---------------------------------------------------------------------------
// Text

int VTEMULATION::CellWidth(uint32_t u) const
{
    // The screen's own rule (and the host's C library's): marks take no
    // cell, wide characters two.
    return UNICODE::CellWidth(u);
}

void VTEMULATION::PrintRun(wchar_t const* text, long n)
{
    long i = 0;
    while (i < n) {
        // A pending wrap, insert mode and a single shift take a character
        // the careful way.
        if (!WrapPending && !InsertMode && SingleShift == 0) {
            if (!StyleSynced) {
                FlushBatch();
                SyncStyle();
            }
            long const k = BatchText(text + i, n - i);
            if (k > 0) {
                i += k;
                continue;
            }
            if (BatchLen == kBatch) {
                FlushBatch();
                continue;
            }
        }
        PrintChar(Translate(uint32_t(text[i++])));
    }
}

long VTEMULATION::BatchText(wchar_t const* text, long n)
{
    BatchAt();
    // The row's last column (the right margin's, or the screen's from past
    // it) is written in place (PrintChar): the batch ends before it.
    int const last = LineEnd() - 1;
    CHARSET const set = G[GL];
    bool const mapped = set != vt::CS_ASCII || (Vt52 && Vt52Graphics);
    wchar_t* const out = Batch + BatchLen;
    int const space = kBatch - BatchLen;
    int x = X, m = 0;
    long k = 0;
    for (; k < n && m < space; ++k) {
        uint32_t u = uint32_t(text[k]);
        int w = 1;
        if (u >= 0x80 || mapped) {
            u = Graphic(u, set);
            if (u >= 0x300) {
                w = CellWidth(u);
                // A mark that combines with the character before goes with
                // it (the screen puts it there); it takes no cell.
                if (w == 0) {
                    out[m++] = wchar_t(u);
                    continue;
                }
            }
        }
        if (x + w > last)
            break;
        out[m++] = wchar_t(u);
        x += w;
        LastChar = u;
    }
    BatchLen += m;
    EndX += x - X;
    X = x;
    return k;
}

void VTEMULATION::PrintChar(uint32_t u)
{
    int const w = u < 0x300 ? 1 : CellWidth(u);
    if (w == 0) {
        // A combining mark goes with the character written last: in the
        // batch when that one is, else in its cell (the last column while a
        // wrap is pending). With nothing before it, it is dropped.
        if (BatchLen > 0 && X == EndX && Y == EndY)
            AppendBatch(wchar_t(u));
        else if (WrapPending || X > 0) {
            FlushBatch();
            Vio->WriteWideByte(wchar_t(u), 1, WrapPending ? X : X - 1, Y, -1);
            wchar_t const one = wchar_t(u);
            Log(&one, 1);
        }
        return;
    }
    LastChar = u;
    // The row ends at the right margin, or at the screen's edge from past it.
    int rw = LineEnd();
    if (WrapPending) {
        WrapPending = false;
        if (AutoWrap) {
            WrapToNextLine();
            rw = LineEnd();
        }
    }
    if (X + w > rw) {
        // A double-width character that does not fit in the last column.
        if (w > rw - (X <= RightMargin() ? LeftMargin() : 0))
            return;
        if (AutoWrap) {
            WrapToNextLine();
            rw = LineEnd();
        } else {
            X = rw - w;
        }
    }
    if (InsertMode) {
        FlushBatch();
        int const keep = rw - X - w;
        if (keep > 0)
            Vio->MoveArea(X, Y, X + w, Y, keep);
    }
    if (X + w < rw) {
        // Inside the row: the batch, written at the screen's cursor.
        if (!StyleSynced) {
            FlushBatch();
            SyncStyle();
        }
        BatchAt();
        AppendBatch(wchar_t(u));
        X += w;
        EndX += w;
        return;
    }
    // The last column: written in place, so that the screen does not wrap;
    // the wrap waits for the next character.
    FlushBatch();
    if (!StyleSynced)
        SyncStyle();
    wchar_t const one = wchar_t(u);
    Vio->WriteCells(X, Y, &one, 1, Style.Attrib, Style.Fore, Style.Back);
    Log(&one, 1);
    X = rw - 1;
    if (Dialect.Level == vt::LEVEL::ANSI) {
        // ANSI.SYS moves on to the next line at once.
        if (AutoWrap)
            WrapToNextLine();
    } else {
        WrapPending = true;
    }
}

void VTEMULATION::BatchAt()
{
    if (BatchLen > 0 && (X != EndX || Y != EndY))
        FlushBatch();
    if (BatchLen == 0) {
        BatchX = EndX = X;
        BatchY = EndY = Y;
    }
}

void VTEMULATION::AppendBatch(wchar_t c)
{
    if (BatchLen == kBatch) {
        FlushBatch();
        BatchX = EndX;
        BatchY = EndY;
    }
    if (c < 0x20)
        BatchControls = true;
    Batch[BatchLen++] = c;
}

void VTEMULATION::FlushBatch()
{
    if (BatchLen == 0)
        return;
    if (!BatchControls) {
        // Text alone goes to its cells; the screen's cursor stays.
        Vio->WriteCells(BatchX, BatchY, Batch, BatchLen, Style.Attrib, Style.Fore, Style.Back);
    } else {
        if (VioX != BatchX || VioY != BatchY)
            Vio->SetCursorPos(BatchX, BatchY);
        Vio->conputws(Batch, BatchLen);
        VioX = EndX;
        VioY = EndY;
    }
    Log(Batch, BatchLen);
    BatchLen = 0;
    BatchControls = false;
}

void VTEMULATION::SyncVioCursor()
{
    if (VioX == X && VioY == Y)
        return;
    Vio->SetCursorPos(X, Y);
    VioX = X;
    VioY = Y;
}

void VTEMULATION::SyncStyle()
{
    Style = {VioAttrib(), VioFore(), VioBack()};
    Vio->Do(VIODO_ATTRIB, Style.Attrib, 0);
    Vio->Do(VIODO_COLORS, Style.Fore, Style.Back);
    StyleSynced = true;
}

void VTEMULATION::EraseStyle()
{
    FlushBatch();
    Style = {0, VioFore(), VioBack()};
    Vio->Do(VIODO_ATTRIB, 0, 0);
    Vio->Do(VIODO_COLORS, Style.Fore, Style.Back);
    StyleSynced = VioAttrib() == 0;
}

void VTEMULATION::Log(wchar_t const* text, int n)
{
    if (Public && n > 0)
        Public->LogWide(text, n);
}
