// The transition table, written as the DEC state diagram reads: first what
// happens anywhere, then per state the character ranges with their action
// and next state.
#include "outside/corvane/vtparser.h"

namespace vt {

namespace {

constexpr uint8_t Cell(ACTION a, STATE s)
{
    return uint8_t(a << 4 | s);
}

struct BUILDER {
    TRANSITIONS t{};

    constexpr void Range(STATE state, int from, int to, ACTION a, STATE next)
    {
        for (int c = from; c <= to; ++c)
            t.Cell[state][c] = Cell(a, next);
    }
    constexpr void One(STATE state, int c, ACTION a, STATE next) { Range(state, c, c, a, next); }
    // The C0 controls other than CAN, SUB and ESC (which act anywhere).
    constexpr void C0(STATE state, ACTION a, STATE next)
    {
        Range(state, 0x00, 0x17, a, next);
        One(state, 0x19, a, next);
        Range(state, 0x1C, 0x1F, a, next);
    }
};

// A cell no rule wrote; the build checks that none is left.
constexpr uint8_t kUnset = 0xFF;

constexpr TRANSITIONS Build()
{
    BUILDER b;
    for (auto& row : b.t.Cell)
        for (auto& cell : row)
            cell = kUnset;
    // Anywhere: CAN and SUB cancel a sequence (a string is dropped), ESC
    // starts a new one (a string ends with it: ESC \ is the string
    // terminator, and any other ESC ends the string just the same).
    for (int s = 0; s < STATECOUNT; ++s) {
        STATE const st = STATE(s);
        bool const string = st == OSCSTRING || st == DCSPASS || st == DCSIGNORE || st == SOSSTRING;
        b.One(st, 0x18, string ? STRINGABORT : EXECUTE, GROUND);
        b.One(st, 0x1A, string ? STRINGABORT : EXECUTE, GROUND);
        b.One(st, 0x1B, CLEAR, ESCAPE);
    }

    // Ground: controls act, everything from the blank up is text; DEL is
    // dropped.
    b.C0(GROUND, EXECUTE, GROUND);
    b.Range(GROUND, 0x20, 0x7E, PRINT, GROUND);
    b.One(GROUND, 0x7F, NONE, GROUND);
    b.One(GROUND, kAbove, PRINT, GROUND);

    // ESC: intermediates, the introducers of sequences and strings, or a
    // final character.
    b.C0(ESCAPE, EXECUTE, ESCAPE);
    b.Range(ESCAPE, 0x20, 0x2F, COLLECT, ESCINTER);
    b.Range(ESCAPE, 0x30, 0x7E, ESCDISPATCH, GROUND);
    b.One(ESCAPE, 'P', CLEAR, DCSENTRY);
    b.One(ESCAPE, '[', CLEAR, CSIENTRY);
    b.One(ESCAPE, ']', OSCSTART, OSCSTRING);
    b.One(ESCAPE, 'X', NONE, SOSSTRING);
    b.One(ESCAPE, '^', NONE, SOSSTRING);
    b.One(ESCAPE, '_', NONE, SOSSTRING);
    b.One(ESCAPE, 0x7F, NONE, ESCAPE);
    b.One(ESCAPE, kAbove, NONE, ESCAPE);

    b.C0(ESCINTER, EXECUTE, ESCINTER);
    b.Range(ESCINTER, 0x20, 0x2F, COLLECT, ESCINTER);
    b.Range(ESCINTER, 0x30, 0x7E, ESCDISPATCH, GROUND);
    b.One(ESCINTER, 0x7F, NONE, ESCINTER);
    b.One(ESCINTER, kAbove, NONE, ESCINTER);

    // CSI: parameters (':' separates sub-parameters), a private marker
    // first, intermediates, the final character.
    b.C0(CSIENTRY, EXECUTE, CSIENTRY);
    b.Range(CSIENTRY, 0x20, 0x2F, COLLECT, CSIINTER);
    b.Range(CSIENTRY, 0x30, 0x3B, PARAM, CSIPARAM);
    b.Range(CSIENTRY, 0x3C, 0x3F, COLLECT, CSIPARAM);
    b.Range(CSIENTRY, 0x40, 0x7E, CSIDISPATCH, GROUND);
    b.One(CSIENTRY, 0x7F, NONE, CSIENTRY);
    b.One(CSIENTRY, kAbove, NONE, CSIENTRY);

    b.C0(CSIPARAM, EXECUTE, CSIPARAM);
    b.Range(CSIPARAM, 0x20, 0x2F, COLLECT, CSIINTER);
    b.Range(CSIPARAM, 0x30, 0x3B, PARAM, CSIPARAM);
    b.Range(CSIPARAM, 0x3C, 0x3F, NONE, CSIIGNORE);
    b.Range(CSIPARAM, 0x40, 0x7E, CSIDISPATCH, GROUND);
    b.One(CSIPARAM, 0x7F, NONE, CSIPARAM);
    b.One(CSIPARAM, kAbove, NONE, CSIPARAM);

    b.C0(CSIINTER, EXECUTE, CSIINTER);
    b.Range(CSIINTER, 0x20, 0x2F, COLLECT, CSIINTER);
    b.Range(CSIINTER, 0x30, 0x3F, NONE, CSIIGNORE);
    b.Range(CSIINTER, 0x40, 0x7E, CSIDISPATCH, GROUND);
    b.One(CSIINTER, 0x7F, NONE, CSIINTER);
    b.One(CSIINTER, kAbove, NONE, CSIINTER);

    b.C0(CSIIGNORE, EXECUTE, CSIIGNORE);
    b.Range(CSIIGNORE, 0x20, 0x3F, NONE, CSIIGNORE);
    b.Range(CSIIGNORE, 0x40, 0x7E, NONE, GROUND);
    b.One(CSIIGNORE, 0x7F, NONE, CSIIGNORE);
    b.One(CSIIGNORE, kAbove, NONE, CSIIGNORE);

    // DCS: collected like CSI, then the data is gathered up to ST (C0
    // controls inside are dropped).
    b.C0(DCSENTRY, NONE, DCSENTRY);
    b.Range(DCSENTRY, 0x20, 0x2F, COLLECT, DCSINTER);
    b.Range(DCSENTRY, 0x30, 0x3B, PARAM, DCSPARAM);
    b.Range(DCSENTRY, 0x3C, 0x3F, COLLECT, DCSPARAM);
    b.Range(DCSENTRY, 0x40, 0x7E, DCSHOOK, DCSPASS);
    b.One(DCSENTRY, 0x7F, NONE, DCSENTRY);
    b.One(DCSENTRY, kAbove, NONE, DCSENTRY);

    b.C0(DCSPARAM, NONE, DCSPARAM);
    b.Range(DCSPARAM, 0x20, 0x2F, COLLECT, DCSINTER);
    b.Range(DCSPARAM, 0x30, 0x3B, PARAM, DCSPARAM);
    b.Range(DCSPARAM, 0x3C, 0x3F, NONE, DCSIGNORE);
    b.Range(DCSPARAM, 0x40, 0x7E, DCSHOOK, DCSPASS);
    b.One(DCSPARAM, 0x7F, NONE, DCSPARAM);
    b.One(DCSPARAM, kAbove, NONE, DCSPARAM);

    b.C0(DCSINTER, NONE, DCSINTER);
    b.Range(DCSINTER, 0x20, 0x2F, COLLECT, DCSINTER);
    b.Range(DCSINTER, 0x30, 0x3F, NONE, DCSIGNORE);
    b.Range(DCSINTER, 0x40, 0x7E, DCSHOOK, DCSPASS);
    b.One(DCSINTER, 0x7F, NONE, DCSINTER);
    b.One(DCSINTER, kAbove, NONE, DCSINTER);

    b.C0(DCSPASS, NONE, DCSPASS);
    b.Range(DCSPASS, 0x20, 0x7E, DCSPUT, DCSPASS);
    b.One(DCSPASS, 0x7F, NONE, DCSPASS);
    b.One(DCSPASS, kAbove, DCSPUT, DCSPASS);

    b.C0(DCSIGNORE, NONE, DCSIGNORE);
    b.Range(DCSIGNORE, 0x20, 0x7F, NONE, DCSIGNORE);
    b.One(DCSIGNORE, kAbove, NONE, DCSIGNORE);

    // OSC: text up to BEL or ST; other controls are dropped.
    b.C0(OSCSTRING, NONE, OSCSTRING);
    b.One(OSCSTRING, 0x07, OSCEND, GROUND);
    b.Range(OSCSTRING, 0x20, 0x7F, OSCPUT, OSCSTRING);
    b.One(OSCSTRING, kAbove, OSCPUT, OSCSTRING);

    b.C0(SOSSTRING, NONE, SOSSTRING);
    b.Range(SOSSTRING, 0x20, 0x7F, NONE, SOSSTRING);
    b.One(SOSSTRING, kAbove, NONE, SOSSTRING);
    return b.t;
}

// Every state has a rule for every character: a forgotten cell would
// otherwise act as some other rule.
constexpr bool AllFilled(TRANSITIONS const& t)
{
    for (auto const& row : t.Cell)
        for (uint8_t cell : row)
            if (cell == kUnset)
                return false;
    return true;
}

} // namespace

constinit TRANSITIONS const Table = Build();
static_assert(AllFilled(Build()), "every state has a cell for every character");
static_assert(STATECOUNT <= 16 && ACTIONCOUNT <= 16, "a cell holds both in one byte");

} // namespace vt
