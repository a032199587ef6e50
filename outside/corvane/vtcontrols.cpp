// The control functions: C0 controls, escape sequences, control sequences
// (each listed once in a table with its mnemonic), SGR, modes, operating
// system commands, device control strings and the printer controller.
#include "outside/corvane/vtemulation.h"
#include "outside/corvane/vtpalette.h"

#include "plugins/sdk/emulationapi.h"
#include "program/settings/sessionprofile.h"
#include "velmot/core/unicode.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Every function the emulation carries out.
enum FN : uint8_t {
    FN_NONE,
    // Control sequences.
    FN_ICH, FN_CUU, FN_CUD, FN_CUF, FN_CUB, FN_CNL, FN_CPL, FN_CHA, FN_CUP, FN_CHT, FN_ED, FN_DECSED, FN_EL,
    FN_DECSEL, FN_IL, FN_DL, FN_DCH, FN_SU, FN_SD, FN_ECH, FN_CBT, FN_HPA, FN_HPR, FN_REP, FN_DA1, FN_DA2, FN_VPA,
    FN_VPR, FN_TBC, FN_SM, FN_DECSET, FN_MC, FN_RM, FN_DECRST, FN_SGR, FN_DSR, FN_DECSTR, FN_DECSCA, FN_DECSTBM,
    FN_SCOSC, FN_SCORC, FN_ANSISM, FN_ANSIRM, FN_DA3, FN_DECDSR, FN_DECRQM, FN_DECRQMP, FN_DECSCL, FN_DECSCUSR,
    FN_DECRQPSR, FN_DECRQCRA, FN_DECSCPP, FN_DECCARA, FN_DECRARA, FN_DECCRA, FN_DECFRA, FN_DECSACE, FN_DECERA,
    FN_DECSERA, FN_DECIC, FN_DECDC, FN_SL, FN_SR, FN_XTSAVE, FN_XTRESTORE, FN_XTPUSHSGR, FN_XTPOPSGR,
    FN_DECREQTPARM, FN_XTWINOPS,
    // Escape sequences.
    FN_DECSC, FN_DECRC, FN_DECBI, FN_DECFI, FN_IND, FN_NEL, FN_HTS, FN_RI, FN_SS2, FN_SS3, FN_DECID, FN_RIS, FN_DECKPAM, FN_DECKPNM,
    FN_LS2, FN_LS3, FN_LS1R, FN_LS2R, FN_LS3R, FN_DECDHLTOP, FN_DECDHLBOTTOM, FN_DECSWL, FN_DECDWL, FN_DECALN,
    FN_S7C1T, FN_S8C1T, FN_SCS0, FN_SCS1, FN_SCS2, FN_SCS3, FN_SCS1A, FN_SCS2A, FN_SCS3A,
};

// One control function: private marker, intermediate, final character,
// what it does, and its mnemonic with the standard that defines it.
struct CONTROL {
    char Leader;
    char Inter;
    char Final;
    FN Fn;
    char const* Name;
};

// Control sequences (CSI ...). The final character is matched against
// '@' to '~'; a private marker or an intermediate must match too.
constexpr CONTROL kCsi[] = {
    {0, 0, '@', FN_ICH, "ICH insert characters (ECMA-48 8.3.64)"},
    {0, ' ', '@', FN_SL, "SL scroll left (8.3.121)"},
    {0, 0, 'A', FN_CUU, "CUU cursor up (8.3.22)"},
    {0, ' ', 'A', FN_SR, "SR scroll right (8.3.135)"},
    {0, 0, 'B', FN_CUD, "CUD cursor down (8.3.19)"},
    {0, 0, 'C', FN_CUF, "CUF cursor forward (8.3.20)"},
    {0, 0, 'D', FN_CUB, "CUB cursor backward (8.3.18)"},
    {0, 0, 'E', FN_CNL, "CNL cursor next line (8.3.12)"},
    {0, 0, 'F', FN_CPL, "CPL cursor preceding line (8.3.13)"},
    {0, 0, 'G', FN_CHA, "CHA cursor character absolute (8.3.9)"},
    {0, 0, 'H', FN_CUP, "CUP cursor position (8.3.21)"},
    {0, 0, 'I', FN_CHT, "CHT cursor forward tabulation (8.3.10)"},
    {0, 0, 'J', FN_ED, "ED erase in page (8.3.39)"},
    {'?', 0, 'J', FN_DECSED, "DECSED selective erase in display (DEC)"},
    {0, 0, 'K', FN_EL, "EL erase in line (8.3.41)"},
    {'?', 0, 'K', FN_DECSEL, "DECSEL selective erase in line (DEC)"},
    {0, 0, 'L', FN_IL, "IL insert lines (8.3.67)"},
    {0, 0, 'M', FN_DL, "DL delete lines (8.3.32)"},
    {0, 0, 'P', FN_DCH, "DCH delete characters (8.3.26)"},
    {0, 0, 'S', FN_SU, "SU scroll up (8.3.147)"},
    {0, 0, 'T', FN_SD, "SD scroll down (8.3.113)"},
    {0, 0, 'X', FN_ECH, "ECH erase characters (8.3.38)"},
    {0, 0, 'Z', FN_CBT, "CBT cursor backward tabulation (8.3.7)"},
    {0, 0, '`', FN_HPA, "HPA character position absolute (8.3.57)"},
    {0, 0, 'a', FN_HPR, "HPR character position forward (8.3.59)"},
    {0, 0, 'b', FN_REP, "REP repeat (8.3.103)"},
    {0, 0, 'c', FN_DA1, "DA device attributes (8.3.24)"},
    {'>', 0, 'c', FN_DA2, "DA2 secondary device attributes (DEC)"},
    {'=', 0, 'c', FN_DA3, "DA3 tertiary device attributes (DEC)"},
    {0, 0, 'd', FN_VPA, "VPA line position absolute (8.3.158)"},
    {0, 0, 'e', FN_VPR, "VPR line position forward (8.3.160)"},
    {0, 0, 'f', FN_CUP, "HVP character and line position (8.3.63)"},
    {0, 0, 'g', FN_TBC, "TBC tabulation clear (8.3.154)"},
    {0, 0, 'h', FN_SM, "SM set mode (8.3.125)"},
    {'?', 0, 'h', FN_DECSET, "DECSET set private mode (DEC, xterm)"},
    {'=', 0, 'h', FN_ANSISM, "set display mode (ANSI.SYS)"},
    {0, 0, 'i', FN_MC, "MC media copy (8.3.82)"},
    {'?', 0, 'i', FN_MC, "MC media copy, DEC private (DEC)"},
    {0, 0, 'l', FN_RM, "RM reset mode (8.3.106)"},
    {'?', 0, 'l', FN_DECRST, "DECRST reset private mode (DEC, xterm)"},
    {'=', 0, 'l', FN_ANSIRM, "reset display mode (ANSI.SYS)"},
    {0, 0, 'm', FN_SGR, "SGR select graphic rendition (8.3.117)"},
    {0, 0, 'n', FN_DSR, "DSR device status report (8.3.35)"},
    {'?', 0, 'n', FN_DECDSR, "DSR device status report, DEC private (DEC)"},
    {0, '!', 'p', FN_DECSTR, "DECSTR soft terminal reset (DEC)"},
    {0, '"', 'p', FN_DECSCL, "DECSCL select conformance level (DEC)"},
    {0, '$', 'p', FN_DECRQM, "DECRQM request mode (DEC)"},
    {'?', '$', 'p', FN_DECRQMP, "DECRQM request private mode (DEC)"},
    {0, ' ', 'q', FN_DECSCUSR, "DECSCUSR set cursor style (DEC, xterm)"},
    {0, '"', 'q', FN_DECSCA, "DECSCA select character protection attribute (DEC)"},
    {0, 0, 'r', FN_DECSTBM, "DECSTBM set top and bottom margins (DEC)"},
    {'?', 0, 'r', FN_XTRESTORE, "XTRESTORE restore private modes (xterm)"},
    {0, '$', 'r', FN_DECCARA, "DECCARA change attributes in rectangular area (DEC)"},
    {0, 0, 's', FN_SCOSC, "SCOSC save cursor (ANSI.SYS, xterm)"},
    {'?', 0, 's', FN_XTSAVE, "XTSAVE save private modes (xterm)"},
    {0, 0, 't', FN_XTWINOPS, "XTWINOPS window operations (xterm): the title stack only"},
    {0, '$', 't', FN_DECRARA, "DECRARA reverse attributes in rectangular area (DEC)"},
    {0, 0, 'u', FN_SCORC, "SCORC restore cursor (ANSI.SYS, xterm)"},
    {0, '$', 'v', FN_DECCRA, "DECCRA copy rectangular area (DEC)"},
    {0, '$', 'w', FN_DECRQPSR, "DECRQPSR request presentation state report (DEC)"},
    {0, 0, 'x', FN_DECREQTPARM, "DECREQTPARM request terminal parameters (DEC)"},
    {0, '$', 'x', FN_DECFRA, "DECFRA fill rectangular area (DEC)"},
    {0, '*', 'x', FN_DECSACE, "DECSACE select attribute change extent (DEC)"},
    {0, '*', 'y', FN_DECRQCRA, "DECRQCRA request checksum of rectangular area (DEC)"},
    {0, '$', 'z', FN_DECERA, "DECERA erase rectangular area (DEC)"},
    {0, '#', '{', FN_XTPUSHSGR, "XTPUSHSGR push renditions (xterm)"},
    {0, '$', '{', FN_DECSERA, "DECSERA selective erase rectangular area (DEC)"},
    {0, '$', '|', FN_DECSCPP, "DECSCPP select columns per page (DEC)"},
    {0, '#', '}', FN_XTPOPSGR, "XTPOPSGR pop renditions (xterm)"},
    {0, '\'', '}', FN_DECIC, "DECIC insert column (DEC)"},
    {0, '\'', '~', FN_DECDC, "DECDC delete column (DEC)"},
};

// Escape sequences (ESC ...).
constexpr CONTROL kEsc[] = {
    {0, 0, '7', FN_DECSC, "DECSC save cursor (DEC)"},
    {0, 0, '8', FN_DECRC, "DECRC restore cursor (DEC)"},
    {0, 0, '6', FN_DECBI, "DECBI back index (DEC)"},
    {0, 0, '9', FN_DECFI, "DECFI forward index (DEC)"},
    {0, 0, '=', FN_DECKPAM, "DECKPAM keypad application mode (DEC)"},
    {0, 0, '>', FN_DECKPNM, "DECKPNM keypad numeric mode (DEC)"},
    {0, 0, 'D', FN_IND, "IND index (ECMA-48 8.3.67, withdrawn; DEC)"},
    {0, 0, 'E', FN_NEL, "NEL next line (8.3.86)"},
    {0, 0, 'H', FN_HTS, "HTS character tabulation set (8.3.62)"},
    {0, 0, 'M', FN_RI, "RI reverse line feed (8.3.104)"},
    {0, 0, 'N', FN_SS2, "SS2 single shift two (8.3.141)"},
    {0, 0, 'O', FN_SS3, "SS3 single shift three (8.3.142)"},
    {0, 0, 'Z', FN_DECID, "DECID identify terminal (DEC)"},
    {0, 0, 'c', FN_RIS, "RIS reset to initial state (8.3.105)"},
    {0, 0, 'n', FN_LS2, "LS2 locking shift two (8.3.78)"},
    {0, 0, 'o', FN_LS3, "LS3 locking shift three (8.3.80)"},
    {0, 0, '~', FN_LS1R, "LS1R locking shift one right (8.3.77)"},
    {0, 0, '}', FN_LS2R, "LS2R locking shift two right (8.3.79)"},
    {0, 0, '|', FN_LS3R, "LS3R locking shift three right (8.3.81)"},
    {0, ' ', 'F', FN_S7C1T, "S7C1T send 7-bit controls (DEC)"},
    {0, ' ', 'G', FN_S8C1T, "S8C1T send 8-bit controls (DEC)"},
    {0, '#', '3', FN_DECDHLTOP, "DECDHL double height line, top half (DEC)"},
    {0, '#', '4', FN_DECDHLBOTTOM, "DECDHL double height line, bottom half (DEC)"},
    {0, '#', '5', FN_DECSWL, "DECSWL single width line (DEC)"},
    {0, '#', '6', FN_DECDWL, "DECDWL double width line (DEC)"},
    {0, '#', '8', FN_DECALN, "DECALN screen alignment test (DEC)"},
    {0, '(', 0, FN_SCS0, "SCS designate G0 (ISO 2022)"},
    {0, ')', 0, FN_SCS1, "SCS designate G1 (ISO 2022)"},
    {0, '*', 0, FN_SCS2, "SCS designate G2 (ISO 2022)"},
    {0, '+', 0, FN_SCS3, "SCS designate G3 (ISO 2022)"},
    {0, '-', 0, FN_SCS1A, "SCS designate G1, 96 characters (ISO 2022)"},
    {0, '.', 0, FN_SCS2A, "SCS designate G2, 96 characters (ISO 2022)"},
    {0, '/', 0, FN_SCS3A, "SCS designate G3, 96 characters (ISO 2022)"},
};

// Where the rows of each final character begin in a table sorted by final
// character (0xFF: none).
template <size_t N>
constexpr std::array<uint8_t, 0x40> IndexByFinal(CONTROL const (&table)[N])
{
    std::array<uint8_t, 0x40> first{};
    first.fill(0xFF);
    for (size_t i = N; i-- > 0;)
        if (table[i].Final >= 0x40 && table[i].Final <= 0x7E)
            first[size_t(table[i].Final - 0x40)] = uint8_t(i);
    return first;
}

template <size_t N>
constexpr bool SortedByFinal(CONTROL const (&table)[N])
{
    for (size_t i = 1; i < N; ++i)
        if (table[i].Final < table[i - 1].Final)
            return false;
    return true;
}

static_assert(SortedByFinal(kCsi), "the control sequences are listed by final character");
constexpr std::array<uint8_t, 0x40> kCsiIndex = IndexByFinal(kCsi);

// Looks a control sequence up: the final character picks the rows, marker
// and intermediate decide.
FN FindCsi(vt::SEQUENCE const& seq, uint32_t final)
{
    if (seq.InterCount > 1 || final < 0x40 || final > 0x7E)
        return FN_NONE;
    char const inter = seq.InterCount > 0 ? seq.Inter[0] : 0;
    for (size_t i = kCsiIndex[final - 0x40]; i < std::size(kCsi) && kCsi[i].Final == char(final); ++i)
        if (kCsi[i].Leader == seq.Leader && kCsi[i].Inter == inter)
            return kCsi[i].Fn;
    return FN_NONE;
}

// Looks an escape sequence up. A designation (ESC ( x, ESC ( % x) matches
// on its first intermediate alone (Final 0).
FN FindEsc(vt::SEQUENCE const& seq, uint32_t final)
{
    char const inter = seq.InterCount > 0 ? seq.Inter[0] : 0;
    bool const designation = inter >= '(' && inter <= '/' && inter != ',';
    if (seq.InterCount > (designation ? 2 : 1))
        return FN_NONE;
    for (CONTROL const& c : kEsc) {
        if ((c.Final == char(final) || (c.Final == 0 && inter != 0)) && c.Leader == seq.Leader && c.Inter == inter)
            return c.Fn;
    }
    return FN_NONE;
}

} // namespace

// The glyphs of code page 437 for the control codes 0x00 to 0x1F.
constexpr uint16_t kCp437Controls[32] = {
    0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9,
    0x2642, 0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7,
    0x25AC, 0x21A8, 0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,
};

// ---------------------------------------------------------------------------
// C0 controls

void VTEMULATION::Execute(uint32_t c)
{
    if (Dialect.Level == vt::LEVEL::ANSI && (Pen.Attr & PEN_ALTFONT)) {
        // With SGR 11 the controls other than NUL, BS, LF, FF, CR, SO, SI and
        // ESC show their code page 437 glyphs.
        constexpr uint32_t kAlwaysAct = 0x0800F501;
        if (!((kAlwaysAct >> c) & 1)) {
            PrintChar(kCp437Controls[c]);
            return;
        }
    }
    switch (c) {
    case 0x05: { // ENQ: the answerback text, when the profile allows it
        SESSIONPROFILE* profile = Public ? Public->Profile : nullptr;
        if (profile && profile->data.DoEnq) {
            char buf[256] = {};
            Public->GetEnqString(buf, sizeof buf);
            wchar_t wide[256];
            int n = 0;
            for (; buf[n] && n < 255; ++n)
                wide[n] = wchar_t(static_cast<unsigned char>(buf[n]));
            if (n > 0)
                Public->FeedKeys(wide, n, 1);
        }
        break;
    }
    case 0x07: // BEL
        if (Public)
            Public->Bell();
        break;
    case 0x08: // BS: back over the start of the row only in reverse wrap-around
        CursorBack(1);
        break;
    case 0x09: // HT
        Tab(1);
        break;
    case 0x0A: // LF, VT, FF
    case 0x0B:
    case 0x0C: {
        if (AutoPrint) {
            FlushBatch();
            PrintRows(Y, Y, false);
        }
        // The screen scrolls by itself only the whole screen, and blanks the
        // new row in its current rendition: a line feed it can do the same
        // way goes with the batch.
        bool const full = Top == 0 && Bottom == H - 1 && FullWidth();
        bool const move = Y != Bottom && Y < H - 1 && !AnyLineAttr && (FullWidth() || !NewLineMode);
        bool scroll = Y == H - 1 && full && !AnyLineAttr;
        if (scroll && !StyleSynced) {
            FlushBatch();
            SyncStyle();
        }
        scroll = scroll && VioAttrib() == 0;
        if (move || scroll) {
            BatchAt();
            if (NewLineMode) {
                AppendBatch(L'\r');
                X = EndX = 0;
            }
            AppendBatch(L'\n');
            if (move)
                ++Y;
            EndY = Y;
            WrapPending = false;
        } else {
            FlushBatch();
            if (NewLineMode)
                CarriageReturn();
            LineFeed();
        }
        break;
    }
    case 0x0D: // CR, with the screen's line-end mark
        if (!FullWidth()) {
            CarriageReturn(); // to the left margin, which the screen does not know
            break;
        }
        BatchAt();
        AppendBatch(L'\r');
        X = EndX = 0;
        WrapPending = false;
        break;
    case 0x0E: // SO (LS1)
        GL = 1;
        break;
    case 0x0F: // SI (LS0)
        GL = 0;
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
// Escape sequences

void VTEMULATION::Designate(int g, char inter, uint32_t final, bool set96)
{
    CHARSET set = set96 ? vt::Charset96ByDesignation(char(final)) : vt::CharsetByDesignation(inter, char(final));
    // A final that names no set leaves the G-set as it is; the sets of a
    // later terminal, and the national sets while national replacement is
    // off, give ASCII, as xterm has it.
    if (set == vt::CS_COUNT)
        return;
    if (set == vt::CS_REFUSED || (vt::IsNationalSet(set) && !Nrcs))
        set = vt::CS_ASCII;
    G[g] = set;
}

void VTEMULATION::EscDispatch(uint32_t final)
{
    FN const fn = FindEsc(Seq, final);
    switch (fn) {
    case FN_DECSC:
        SaveCursor();
        break;
    case FN_DECRC:
        RestoreCursor();
        break;
    case FN_DECBI:
        if (DecReports())
            BackIndex();
        break;
    case FN_DECFI:
        if (DecReports())
            ForwardIndex();
        break;
    case FN_DECKPAM:
        KeypadApp = true;
        break;
    case FN_DECKPNM:
        KeypadApp = false;
        break;
    case FN_IND:
        FlushBatch();
        LineFeed();
        break;
    case FN_NEL:
        FlushBatch();
        NextLine();
        break;
    case FN_HTS:
        if (X < W)
            TabStops[size_t(X)] = 1;
        break;
    case FN_RI:
        FlushBatch();
        ReverseLineFeed();
        break;
    case FN_SS2:
        SingleShift = 2;
        break;
    case FN_SS3:
        SingleShift = 3;
        break;
    case FN_DECID:
        DeviceAttributes(0);
        break;
    case FN_RIS:
        Reset(true);
        break;
    case FN_LS2:
        GL = 2;
        break;
    case FN_LS3:
        GL = 3;
        break;
    case FN_LS1R:
        GR = 1;
        break;
    case FN_LS2R:
        GR = 2;
        break;
    case FN_LS3R:
        GR = 3;
        break;
    case FN_S7C1T:
        C1Out = false;
        break;
    case FN_S8C1T:
        // A VT100 (level 1) sends 7-bit controls only.
        C1Out = Level > 1;
        break;
    case FN_DECDHLTOP:
        SetLineAttr(Y, VIOLINE_DOUBLEHEIGHT_TOP);
        break;
    case FN_DECDHLBOTTOM:
        SetLineAttr(Y, VIOLINE_DOUBLEHEIGHT_BOTTOM);
        break;
    case FN_DECSWL:
        SetLineAttr(Y, VIOLINE_NORMAL);
        break;
    case FN_DECDWL:
        SetLineAttr(Y, VIOLINE_DOUBLEWIDTH);
        break;
    case FN_DECALN:
        AlignmentTest();
        break;
    case FN_SCS0:
    case FN_SCS1:
    case FN_SCS2:
    case FN_SCS3:
        Designate(fn - FN_SCS0, Seq.InterCount > 1 ? Seq.Inter[1] : 0, final, false);
        break;
    case FN_SCS1A:
    case FN_SCS2A:
    case FN_SCS3A:
        if (Seq.InterCount == 1)
            Designate(fn - FN_SCS1A + 1, 0, final, true);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
// Control sequences

void VTEMULATION::CsiDispatch(uint32_t final)
{
    vt::SEQUENCE const& s = Seq;
    int const p1 = s.Get(0, 1);
    FN const fn = FindCsi(s, final);
    switch (fn) {
    case FN_ICH:
        InsertChars(p1);
        break;
    case FN_CUU:
        MoveTo(X, std::max(Y - p1, Y >= Top ? Top : 0));
        break;
    case FN_CUD:
        MoveTo(X, std::min(Y + p1, Y <= Bottom ? Bottom : H - 1));
        break;
    case FN_CUF:
    case FN_HPR:
        // The right margin stops a cursor that stands left of it.
        MoveTo(std::min(X + p1, LineEnd() - 1), Y);
        break;
    case FN_CUB:
        CursorBack(p1);
        break;
    case FN_CNL:
        MoveTo(X, std::min(Y + p1, Y <= Bottom ? Bottom : H - 1));
        CarriageReturn();
        break;
    case FN_CPL:
        MoveTo(X, std::max(Y - p1, Y >= Top ? Top : 0));
        CarriageReturn();
        break;
    case FN_CHA:
    case FN_HPA:
        MoveTo(OriginColumn(p1 - 1), Y);
        break;
    case FN_CUP:
        MoveToOrigin(s.Get(1, 1) - 1, p1 - 1);
        break;
    case FN_VPA:
        MoveTo(X, OriginRow(p1 - 1));
        break;
    case FN_VPR:
        MoveTo(X, Y + p1);
        break;
    case FN_CHT:
        Tab(p1);
        break;
    case FN_CBT:
        BackTab(p1);
        break;
    case FN_ED:
    case FN_DECSED:
        EraseInDisplay(s.Raw(0), fn == FN_DECSED);
        break;
    case FN_EL:
    case FN_DECSEL:
        EraseInLine(s.Raw(0), fn == FN_DECSEL);
        break;
    case FN_IL:
        InsertLines(p1);
        break;
    case FN_DL:
        DeleteLines(p1);
        break;
    case FN_DCH:
        DeleteChars(p1);
        break;
    case FN_SU:
        FlushBatch();
        ScrollUp(Top, Bottom, p1);
        break;
    case FN_SD:
        // With more parameters this is xterm's mouse highlight tracking.
        if (s.Count <= 1) {
            FlushBatch();
            ScrollDown(Top, Bottom, p1);
        }
        break;
    case FN_ECH:
        EraseChars(p1);
        break;
    case FN_REP: {
        // Bounded by the screen: more repeats could only overwrite.
        int const n = std::min(p1, W * H);
        for (int i = 0; i < n; ++i)
            PrintChar(LastChar);
        break;
    }
    case FN_DA1:
        if (s.Raw(0) == 0)
            DeviceAttributes(0);
        break;
    case FN_DA2:
        if (s.Raw(0) == 0)
            DeviceAttributes('>');
        break;
    case FN_DA3:
        if (s.Raw(0) == 0)
            DeviceAttributes('=');
        break;
    case FN_TBC:
        if (s.Raw(0) == 0 && X < W)
            TabStops[size_t(X)] = 0;
        else if (s.Raw(0) == 3)
            std::fill(TabStops.begin(), TabStops.end(), uint8_t(0));
        break;
    case FN_SM:
        SetModes(true);
        break;
    case FN_RM:
        SetModes(false);
        break;
    case FN_DECSET:
        SetPrivateModes(true);
        break;
    case FN_DECRST:
        SetPrivateModes(false);
        break;
    case FN_ANSISM:
    case FN_ANSIRM:
        // ANSI.SYS display modes: 7 switches line wrapping.
        if (Dialect.Level == vt::LEVEL::ANSI && s.Raw(0) == 7)
            AutoWrap = fn == FN_ANSISM;
        break;
    case FN_MC:
        MediaCopy();
        break;
    case FN_SGR:
        Sgr();
        break;
    case FN_DSR:
    case FN_DECDSR:
        DeviceStatus();
        break;
    case FN_DECSTR:
        Reset(false);
        break;
    case FN_DECSCL: {
        // The level (61 to 64) and, from level 2 on, 7-bit (1) or 8-bit
        // (0, 2) answers; a soft reset comes with it.
        int const level = s.Raw(0) - 60;
        if (!DecReports() || level < 1 || level > DefaultLevel())
            break;
        Reset(false);
        Level = level;
        C1Out = level > 1 && s.Raw(1) != 1;
        break;
    }
    case FN_DECRQM:
    case FN_DECRQMP:
        ModeRequest(fn == FN_DECRQMP);
        break;
    case FN_DECSCUSR:
        if (s.Raw(0) <= 6)
            SetCursorStyle(s.Raw(0));
        break;
    case FN_DECRQPSR:
        PresentationState();
        break;
    case FN_DECRQCRA:
        RectangleChecksum();
        break;
    case FN_DECSCPP:
        // 80 columns unless 132 are asked for.
        if (DecReports())
            SetColumns(s.Raw(0) == 132 ? 132 : 80);
        break;
    case FN_DECFRA: {
        // Any graphic character a cell holds, taken as it is (not through
        // the character sets, as xterm has it).
        uint32_t const c = uint32_t(s.Raw(0));
        bool const graphic = (c >= 0x20 && c < 0x7F) || (c >= 0xA0 && (c < 0xD800 || c > 0xDFFF) && c < VIOCHAR_RIGHTHALF);
        if (Level < 4 || !graphic || CellWidth(c) != 1)
            break;
        RECTANGLE const r = RectangleAt(1);
        if (!r.Empty())
            FillRectangle(r, c);
        break;
    }
    case FN_DECERA:
    case FN_DECSERA:
        if (Level >= 4)
            EraseRectangle(RectangleAt(0), fn == FN_DECSERA);
        break;
    case FN_DECCRA:
        if (Level >= 4)
            CopyRectangle();
        break;
    case FN_DECCARA:
    case FN_DECRARA:
        if (Level >= 4)
            ChangeRenditions(fn == FN_DECRARA);
        break;
    case FN_DECSACE:
        if (Level >= 4)
            RectangleExtent = s.Raw(0) == 2;
        break;
    case FN_DECIC:
    case FN_DECDC:
        if (Level >= 4 && CursorInMargins())
            ShiftColumns(X, p1, fn == FN_DECIC);
        break;
    case FN_XTSAVE:
    case FN_XTRESTORE:
        if (DecReports())
            SavePrivateModes(fn == FN_XTRESTORE);
        break;
    case FN_XTWINOPS:
        // Of xterm's window operations only those its defaults allow and
        // this terminal can do: saving (22) and restoring (23) the title.
        // The others move, size or report the window.
        if (DecReports() && Public && Public->Emulation && (s.Raw(0) == 22 || s.Raw(0) == 23) && s.Raw(1) != 1) {
            if (s.Raw(0) == 22) {
                if (Titles.size() >= 10)
                    Titles.erase(Titles.begin());
                wchar_t const* title = Public->Emulation->QueryCustomTitleWide();
                Titles.emplace_back(title ? title : L"");
            } else if (!Titles.empty()) {
                Public->Emulation->SetCustomTitleWide(Titles.back().c_str());
                Titles.pop_back();
            }
        }
        break;
    case FN_XTPUSHSGR:
        PushSgr();
        break;
    case FN_XTPOPSGR:
        PopSgr();
        break;
    case FN_DECREQTPARM:
        // A VT100's line settings: no parity, 8 bits, 38400 baud both ways,
        // clock multiplier 1, no flags; unasked (0) or asked (1) reports.
        if ((Dialect.Level == vt::LEVEL::VT100 || Dialect.Level == vt::LEVEL::VT102) && s.Raw(0) <= 1)
            AnswerCsi(std::to_string(s.Raw(0) + 2) + ";1;1;128;128;1;0x");
        break;
    case FN_SL:
    case FN_SR:
        // The scrolling region's rows, while the cursor is inside it.
        if (DecReports() && CursorInMargins())
            ShiftColumns(LeftMargin(), p1, fn == FN_SR);
        break;
    case FN_DECSCA:
        if (s.Raw(0) == 1)
            Pen.Attr |= PEN_PROTECTED;
        else
            Pen.Attr &= uint16_t(~PEN_PROTECTED);
        StyleSynced = false;
        break;
    case FN_DECSTBM: {
        int const top = s.Get(0, 1) - 1;
        int const bottom = (s.Get(1, H) > H ? H : s.Get(1, H)) - 1;
        if (top < bottom) {
            Top = top;
            Bottom = bottom;
            MoveToOrigin(0, 0);
        }
        break;
    }
    case FN_SCOSC:
        // DECSLRM while the left and right margins are on.
        if (LeftRightMode)
            SetLeftRightMargins();
        else
            SaveCursor();
        break;
    case FN_SCORC:
        RestoreCursor();
        break;
    default:
        break;
    }
}

void VTEMULATION::SetCursorStyle(int style)
{
    // 0 asks for a blinking block, as 1 does.
    CursorStyle = style == 0 ? 1 : style;
    CursorBlinks = CursorStyle % 2 == 1;
    ApplyCursorStyle();
}

void VTEMULATION::ApplyCursorStyle()
{
    if (!Vio)
        return;
    SESSIONPROFILE const* profile = Public ? Public->Profile : nullptr;
    int const blink = CursorBlinks ? VIOCURSOR_BLINKING : VIOCURSOR_STEADY;
    if (CursorStyle == 0) {
        // The profile's shape; its blinking unless mode 12 changed it.
        bool const block = !profile || profile->data.BigCursor;
        int const style = profile && (profile->data.CursorBlink == VIOCURSOR_BLINKING) == CursorBlinks
                              ? profile->data.CursorBlink
                              : blink;
        Vio->Do(VIODO_CURSORSHAPE, block ? 1 : 0, style);
    } else if (CursorStyle >= 5) {
        Vio->Do(VIODO_SETCURSORTYPE, VIOCURSOR_BAR, -1);
        Vio->Do(VIODO_CURSORSHAPE, -1, blink);
    } else {
        Vio->Do(VIODO_CURSORSHAPE, CursorStyle <= 2 ? 1 : 0, blink);
    }
}

void VTEMULATION::SetModes(bool on)
{
    for (int i = 0; i < Seq.Count; ++i) {
        switch (Seq.Param[i]) {
        case 2: // KAM: the keyboard is locked
            if (DecReports())
                KeyboardLocked = on;
            break;
        case 4: // IRM
            InsertMode = on;
            break;
        case 20: // LNM
            NewLineMode = on;
            break;
        default:
            break;
        }
    }
}

void VTEMULATION::SetPrivateModes(bool on)
{
    for (int i = 0; i < Seq.Count; ++i)
        SetPrivateMode(Seq.Param[i], on);
}

void VTEMULATION::SavePrivateModes(bool restore)
{
    // XTSAVE and XTRESTORE: one saved value per mode, for the modes this
    // terminal keeps; a mode never saved is left as it is.
    for (int i = 0; i < Seq.Count; ++i) {
        int const mode = Seq.Param[i];
        auto saved = std::find_if(SavedModes.begin(), SavedModes.end(),
                                  [&](std::pair<int, bool> const& m) { return m.first == mode; });
        if (restore) {
            if (saved != SavedModes.end())
                SetPrivateMode(mode, saved->second);
            continue;
        }
        int const state = ModeState(true, mode);
        if (state != 1 && state != 2)
            continue;
        if (saved != SavedModes.end())
            saved->second = state == 1;
        else if (SavedModes.size() < 64)
            SavedModes.emplace_back(mode, state == 1);
    }
}

void VTEMULATION::SetPrivateMode(int mode, bool on)
{
    switch (mode) {
    case 1: // DECCKM
        CursorKeysApp = on;
        break;
    case 2: // DECANM: reset enters VT52 mode (ESC < leaves it)
        if (!on && DecReports()) {
            FlushBatch();
            Vt52 = true;
            Vt52State = 0;
            Vt52Graphics = false;
        }
        break;
    case 3: // DECCOLM, only while mode 40 allows it: 132 or 80
            // columns, the screen cleared and the margins reset.
        if (AllowColumns) {
            SetColumns(on ? 132 : 80);
            Columns132 = on;
            Top = 0;
            Bottom = H - 1;
            Left = 0;
            Right = W - 1;
            EraseInDisplay(2, false);
            MoveTo(0, 0);
        }
        break;
    case 5: // DECSCNM
        if (ReverseScreen != on) {
            ReverseScreen = on;
            Vio->SetInverse(on ? 1 : 0);
        }
        break;
    case 6: // DECOM
        OriginMode = on;
        MoveToOrigin(0, 0);
        break;
    case 7: // DECAWM
        AutoWrap = on;
        if (!on)
            WrapPending = false;
        break;
    case 9: // X10 mouse
    case 1000:
    case 1002:
    case 1003:
        MouseMode = on ? mode : 0;
        MouseButtons = 0;
        break;
    case 1005:
    case 1006:
    case 1015:
        // One encoding at a time: setting one ends another.
        MouseEncoding = on ? mode : (MouseEncoding == mode ? 0 : MouseEncoding);
        break;
    case 1004:
        FocusReports = on;
        break;
    case 12: // blinking cursor
        if (CursorBlinks != on) {
            CursorBlinks = on;
            ApplyCursorStyle();
        }
        break;
    case 18: // DECPFF
        PrintFormFeed = on;
        break;
    case 19: // DECPEX
        PrintFullScreen = on;
        break;
    case 69: // DECLRMM, a VT420's (level 4): the margins go back to the screen's edges
        if (DecReports() && Level >= 4) {
            LeftRightMode = on;
            Left = 0;
            Right = W - 1;
        }
        break;
    case 40: // allow DECCOLM
        AllowColumns = on;
        break;
    case 42: // DECNRCM
        if (DecReports())
            Nrcs = on;
        break;
    case 45: // reverse wrap-around
        ReverseWrap = on;
        break;
    case 66: // DECNKM
        KeypadApp = on;
        break;
    case 67: // DECBKM: Backspace sends BS
        BackspaceBS = on;
        break;
    case 25: // DECTCEM
        if (CursorVisible != on) {
            CursorVisible = on;
            FlushBatch();
            Vio->SetCursorOnOff(on ? 1 : 0);
        }
        break;
    case 47:
        SwitchScreen(on, false);
        break;
    case 1047:
        if (!on && Alternate)
            EraseCells(0, 0, W * H);
        SwitchScreen(on, false);
        break;
    case 1048:
        if (on)
            SaveCursor();
        else
            RestoreCursor();
        break;
    case 1049:
        if (on) {
            if (!Alternate) {
                SaveCursor();
                SwitchScreen(true, true);
            }
        } else {
            // The cursor is restored even when the alternate screen was
            // never entered.
            SwitchScreen(false, false);
            RestoreCursor();
        }
        break;
    case 2004:
        BracketedPaste = on;
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
// SGR

void VTEMULATION::Sgr()
{
    vt::SEQUENCE const& s = Seq;
    if (s.Leader)
        return;
    if (s.Count == 0) {
        Pen = PEN{};
        StyleSynced = false;
        return;
    }
    // The colour of 38 and 48: 5;n (a palette index) or 2;r;g;b, with ';'
    // or as ':' sub-parameters (where 2 may carry a colour space first).
    auto colour = [&](int& i) -> int {
        bool const sub = s.IsSub(i + 1);
        int const kind = s.Raw(i + 1);
        if (kind == 5 && i + 2 < s.Count) {
            int const n = s.Raw(i + 2);
            i += 2;
            return n <= 255 ? n : -2;
        }
        if (kind == 2) {
            int first = i + 2;
            if (sub) {
                int subs = 0;
                while (s.IsSub(i + 2 + subs))
                    ++subs;
                if (subs >= 4)
                    first = i + 3; // the colour space comes first
                int const end = i + 1 + subs;
                if (first + 2 > end) {
                    i = end;
                    return -2;
                }
                i = end;
            } else {
                if (first + 2 >= s.Count) {
                    i = s.Count;
                    return -2;
                }
                i = first + 2;
            }
            auto clampByte = [](int v) { return std::min(v, 255); };
            return vt::NearestPaletteIndex(clampByte(s.Raw(first)), clampByte(s.Raw(first + 1)),
                                       clampByte(s.Raw(first + 2)));
        }
        // An unknown kind: the rest of its sub-parameters is skipped.
        ++i;
        while (s.IsSub(i + 1))
            ++i;
        return -2;
    };
    for (int i = 0; i < s.Count; ++i) {
        int const p = s.Param[i];
        switch (p) {
        case 0:
            Pen = PEN{};
            break;
        case 1:
            Pen.Attr |= PEN_BOLD;
            break;
        case 2:
            Pen.Attr |= PEN_DIM;
            break;
        case 3:
            Pen.Attr |= PEN_ITALIC;
            break;
        case 4:
            // 4:0 is "not underlined"; the other styles are one underline.
            if (s.IsSub(i + 1) && s.Raw(i + 1) == 0)
                Pen.Attr &= uint16_t(~PEN_UNDERLINE);
            else
                Pen.Attr |= PEN_UNDERLINE;
            while (s.IsSub(i + 1))
                ++i;
            break;
        case 5:
        case 6:
            Pen.Attr |= PEN_BLINK;
            break;
        case 7:
            Pen.Attr |= PEN_INVERSE;
            break;
        case 8:
            Pen.Attr |= PEN_INVISIBLE;
            break;
        case 10:
            Pen.Attr &= uint16_t(~PEN_ALTFONT);
            break;
        case 11:
            if (Dialect.Level == vt::LEVEL::ANSI)
                Pen.Attr |= PEN_ALTFONT;
            break;
        case 21:
            Pen.Attr |= PEN_UNDERLINE; // double underline, shown single
            break;
        case 22:
            Pen.Attr &= uint16_t(~(PEN_BOLD | PEN_DIM));
            break;
        case 23:
            Pen.Attr &= uint16_t(~PEN_ITALIC);
            break;
        case 24:
            Pen.Attr &= uint16_t(~PEN_UNDERLINE);
            break;
        case 25:
            Pen.Attr &= uint16_t(~PEN_BLINK);
            break;
        case 27:
            Pen.Attr &= uint16_t(~PEN_INVERSE);
            break;
        case 28:
            Pen.Attr &= uint16_t(~PEN_INVISIBLE);
            break;
        case 38:
        case 48: {
            int const c = colour(i);
            if (c >= 0)
                (p == 38 ? Pen.Fore : Pen.Back) = int16_t(c);
            break;
        }
        case 39:
            Pen.Fore = -1;
            break;
        case 49:
            Pen.Back = -1;
            break;
        default:
            if (p >= 30 && p <= 37)
                Pen.Fore = int16_t(p - 30);
            else if (p >= 40 && p <= 47)
                Pen.Back = int16_t(p - 40);
            else if (p >= 90 && p <= 97)
                Pen.Fore = int16_t(p - 90 + 8);
            else if (p >= 100 && p <= 107)
                Pen.Back = int16_t(p - 100 + 8);
            break;
        }
    }
    StyleSynced = false;
}

void VTEMULATION::PushSgr()
{
    // The renditions named (bold 1, faint 2, italic 3, underline 4 and
    // 21, blink 5, inverse 7, hidden 8; 30 the text colour, 31 the
    // background), all of them when none is; at most ten on the stack.
    if (SgrStack.size() >= 10)
        SgrStack.erase(SgrStack.begin());
    PUSHED p;
    p.Pen = Pen;
    if (Seq.Count == 0) {
        p.Attr = 0xFFFF;
        p.Fore = p.Back = true;
    }
    struct {
        int Code;
        uint16_t Bit;
    } const named[] = {
        {1, PEN_BOLD}, {2, PEN_DIM}, {3, PEN_ITALIC}, {4, PEN_UNDERLINE}, {21, PEN_UNDERLINE},
        {5, PEN_BLINK}, {7, PEN_INVERSE}, {8, PEN_INVISIBLE},
    };
    for (int i = 0; i < Seq.Count; ++i) {
        int const code = Seq.Param[i];
        for (auto const& n : named)
            if (n.Code == code)
                p.Attr |= n.Bit;
        p.Fore = p.Fore || code == 30;
        p.Back = p.Back || code == 31;
    }
    // Character protection belongs to DECSCA, not to the renditions.
    p.Attr &= uint16_t(~PEN_PROTECTED);
    SgrStack.push_back(p);
}

void VTEMULATION::PopSgr()
{
    if (SgrStack.empty())
        return;
    PUSHED const p = SgrStack.back();
    SgrStack.pop_back();
    Pen.Attr = uint16_t((Pen.Attr & ~p.Attr) | (p.Pen.Attr & p.Attr));
    if (p.Fore)
        Pen.Fore = p.Pen.Fore;
    if (p.Back)
        Pen.Back = p.Pen.Back;
    StyleSynced = false;
}

int VTEMULATION::ProfileColor(int which) const
{
    // The ANSI terminal draws on black in light grey whatever the profile
    // says: ANSI art is made for those colours.
    if (Dialect.Level == vt::LEVEL::ANSI)
        return which == 0 ? 7 : which == 1 ? 0 : -1;
    SESSIONPROFILE const* profile = Public ? Public->Profile : nullptr;
    switch (which) {
    case 0:
        return profile ? profile->data.ColorFore : 7;
    case 1:
        return profile ? profile->data.ColorBack : 0;
    default:
        return profile && profile->data.ColorItalic > 0 ? profile->data.ColorItalic - 1 : -1;
    }
}

uint16_t VTEMULATION::VioAttrib() const
{
    uint16_t a = 0;
    uint16_t const p = Pen.Attr;
    if (p & PEN_BOLD)
        a |= VIOATTR_BRIGHT;
    if (p & PEN_DIM)
        a |= VIOATTR_HALFTONE;
    if (p & PEN_UNDERLINE)
        a |= VIOATTR_UNDERLINE;
    if (p & PEN_BLINK)
        a |= VIOATTR_BLINK;
    if (p & PEN_INVERSE)
        a |= VIOATTR_INVERSE;
    if (p & PEN_INVISIBLE)
        a |= VIOATTR_INVISIBLE;
    if (p & PEN_PROTECTED)
        a |= VIOATTR_PROTECTED;
    return a;
}

namespace {

// A palette index as a colour number of the screen: the first 16 are the
// program's terminal colours, the others the screen's xterm palette.
int ColourNumber(int index)
{
    return index < 16 ? index : 256 + index;
}

} // namespace

int VTEMULATION::VioFore() const
{
    if (Pen.Attr & PEN_ITALIC) {
        int const italic = ProfileColor(2);
        if (italic >= 0)
            return italic;
    }
    return Pen.Fore < 0 ? ProfileColor(0) : ColourNumber(Pen.Fore);
}

int VTEMULATION::VioBack() const
{
    return Pen.Back < 0 ? ProfileColor(1) : ColourNumber(Pen.Back);
}

// ---------------------------------------------------------------------------
// Operating system commands

void VTEMULATION::OscDispatch()
{
    if (OscOverflow || !Vio) {
        OscLen = 0;
        return;
    }
    int command = 0;
    int i = 0;
    while (i < OscLen && Osc[i] >= L'0' && Osc[i] <= L'9' && command < 100000)
        command = command * 10 + (Osc[i++] - L'0');
    bool const hasText = i < OscLen && Osc[i] == L';';
    std::wstring const text = hasText ? std::wstring(Osc + i + 1, size_t(OscLen - i - 1)) : std::wstring();
    OscLen = 0;
    switch (command) {
    case 0:
    case 2:
        if (hasText && Public && Public->Emulation)
            Public->Emulation->SetCustomTitleWide(text.c_str());
        break;
    case 4: {
        // Pairs of index and colour; a query ("?") is answered.
        std::string narrow;
        for (wchar_t c : text)
            narrow += c < 0x80 ? char(c) : '?';
        size_t at = 0;
        while (at < narrow.size()) {
            size_t const semi = narrow.find(';', at);
            if (semi == std::string::npos)
                break;
            size_t end = narrow.find(';', semi + 1);
            if (end == std::string::npos)
                end = narrow.size();
            std::string const index = narrow.substr(at, semi - at);
            std::string const spec = narrow.substr(semi + 1, end - semi - 1);
            // The screen reads "#rrggbb" as a form of "rgb:".
            if (spec == "?")
                ColourQuery(4, std::wstring(index.begin(), index.end()));
            else if (!spec.empty())
                Vio->SetXtermColor(("4;" + index + ";" + (spec[0] == '#' ? "rgb:" : "") + spec).c_str());
            at = end + 1;
        }
        RepaintAll = true;
        break;
    }
    case 10:
    case 11:
    case 12: {
        // The text, background and cursor colours, one after another from
        // the command's own: only asked for here (they are the profile's).
        int which = command;
        size_t at = 0;
        while (at <= text.size() && which <= 12) {
            size_t end = text.find(L';', at);
            if (end == std::wstring::npos)
                end = text.size();
            if (text.compare(at, end - at, L"?") == 0)
                ColourQuery(which, std::wstring());
            ++which;
            at = end + 1;
        }
        break;
    }
    case 104: {
        if (text.empty()) {
            ResetPalette(-1);
        } else {
            int n = 0;
            bool digits = false;
            for (size_t k = 0; k <= text.size(); ++k) {
                if (k < text.size() && text[k] >= L'0' && text[k] <= L'9') {
                    n = std::min(n * 10 + (text[k] - L'0'), 1000);
                    digits = true;
                } else {
                    if (digits)
                        ResetPalette(n);
                    n = 0;
                    digits = false;
                }
            }
        }
        RepaintAll = true;
        break;
    }
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
// Device control strings

void VTEMULATION::DcsDispatch()
{
    int const length = OscLen;
    OscLen = 0;
    if (OscOverflow || !DecReports() || DcsSeq.Broken)
        return;
    char const inter = DcsSeq.InterCount == 1 ? DcsSeq.Inter[0] : 0;
    if (DcsSeq.Leader == 0 && inter == '$' && DcsFinal == 'q' && DcsSeq.Count == 0)
        StatusString(std::wstring(Osc, size_t(length)));
}

void VTEMULATION::ResetPalette(int index)
{
    auto reset = [&](int i) {
        if (i < 16 || i > 255)
            return;
        int r = 0, g = 0, b = 0;
        vt::PaletteRgb(i, &r, &g, &b);
        char text[48];
        snprintf(text, sizeof text, "4;%d;rgb:%02x/%02x/%02x", i, r, g, b);
        Vio->SetXtermColor(text);
    };
    if (index < 0) {
        for (int i = 16; i < 256; ++i)
            reset(i);
    } else {
        reset(index);
    }
}

// ---------------------------------------------------------------------------
// Printer controller

void VTEMULATION::MediaCopy()
{
    int const what = Seq.Raw(0);
    if (Seq.Leader == 0) {
        if (what == 5) {
            PrinterController(true);
        } else if (what == 0 && DecReports()) {
            // The screen, or under DECPEX reset the scrolling region.
            PrintRows(PrintFullScreen ? 0 : Top, PrintFullScreen ? H - 1 : Bottom, PrintFormFeed);
        }
        return;
    }
    if (Seq.Leader != '?' || !DecReports())
        return;
    switch (what) {
    case 1: // the cursor's row
        PrintRows(Y, Y, false);
        break;
    case 4:
    case 5: // auto print
        AutoPrint = what == 5;
        break;
    case 10:
    case 11: // the whole screen, whatever DECPEX says
        PrintRows(0, H - 1, PrintFormFeed);
        break;
    default:
        break;
    }
}

void VTEMULATION::PrintRows(int first, int last, bool formFeed)
{
    if (!Public || !Public->Emulation || !Vio)
        return;
    FlushBatch();
    // A print job of its own, unless the printer controller has one open.
    bool const own = !Printing;
    void* const job = own ? Public->Emulation->PrinterControl(5, 0) : PrintJob;
    if (!job)
        return;
    void* const saved = PrintJob;
    PrintJob = job;
    std::vector<VIOCELL> cells(size_t(std::max(W, 1)));
    for (int y = std::max(first, 0); y <= last && y < H; ++y) {
        int count = W;
        Vio->GetCells(cells.data(), &count, 0, y);
        std::wstring row;
        for (int x = 0; x < count; ++x) {
            uint16_t const c = cells[size_t(x)].c;
            if (c != VIOCHAR_RIGHTHALF)
                row += c == 0 ? L' ' : wchar_t(c);
        }
        while (!row.empty() && row.back() == L' ')
            row.pop_back();
        row += L"\r\n";
        PrinterPut(row.data(), long(row.size()));
    }
    if (formFeed)
        PrinterPut(L"\f", 1);
    PrintJob = saved;
    if (own)
        Public->Emulation->PrinterControl(4, 0);
}

void VTEMULATION::PrinterController(bool on)
{
    if (!Public || !Public->Emulation)
        return;
    if (on) {
        FlushBatch();
        PrintJob = Public->Emulation->PrinterControl(5, 0);
        Printing = true;
        PrintMatch.clear();
    } else {
        Public->Emulation->PrinterControl(4, 0);
        PrintJob = nullptr;
        Printing = false;
        PrintMatch.clear();
    }
}

long VTEMULATION::PrinterTake(wchar_t const* text, long n)
{
    static char const kEnd[] = "\x1b[4i";
    long i = 0;
    while (i < n && Printing) {
        uint32_t const c = uint32_t(text[i++]);
        if (C1Controls && c == 0x9B) {
            std::wstring const held(PrintMatch.begin(), PrintMatch.end());
            PrinterPut(held.data(), long(held.size()));
            PrintMatch = "\x1b[";
            continue;
        }
        if (c == uint32_t(static_cast<unsigned char>(kEnd[PrintMatch.size()]))) {
            PrintMatch += char(c);
            if (PrintMatch.size() == 4)
                PrinterController(false);
            continue;
        }
        if (!PrintMatch.empty()) {
            std::wstring const held(PrintMatch.begin(), PrintMatch.end());
            PrintMatch.clear();
            PrinterPut(held.data(), long(held.size()));
        }
        if (c == 0x1B) {
            PrintMatch = "\x1b";
            continue;
        }
        wchar_t const one = wchar_t(c);
        PrinterPut(&one, 1);
    }
    return i;
}

void VTEMULATION::PrinterPut(wchar_t const* text, long n)
{
    if (!PrintJob || !Public || n <= 0)
        return;
    std::string bytes;
    for (long i = 0; i < n; ++i) {
        if (Utf8) {
            char buf[4];
            bytes.append(buf, size_t(UNICODE::Utf8Encode(text[i], buf)));
        } else if (text[i] < 0x100) {
            bytes += char(text[i]);
        } else {
            bytes += Uni->ToForcedCodepageChar(text[i], CodePage);
        }
    }
    Public->PrinterWrite(PrintJob, bytes.data(), int(bytes.size()));
}
