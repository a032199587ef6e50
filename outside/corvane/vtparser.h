// VTPARSER: the ECMA-48 / DEC state machine of the VT emulations (ground,
// escape, control sequence, device control string, operating system command
// and the ignored strings), as one constant transition table.
//
// The table gives, for every state and character, the action and the next
// state. Characters below 0x80 have a column each; every other character
// (and, with 8-bit controls off, every C1 code) shares the column kAbove.
// C1 controls are turned into ESC and their 7-bit equivalent by the caller
// before they reach the table, so a C1 CSI and ESC [ take the same path.
//
// The control state of the machine is four bits: it fits into the 24 bits
// of state that the host keeps for IsSequence, so that check runs the very
// same table on the host's word. Everything a sequence collects (its
// parameters, intermediates, private marker and string) lives in the
// emulation object, bounded: at most kMaxParams parameters (more are
// dropped), values saturate at kMaxValue, at most two intermediates (a
// sequence with more is ignored) and kMaxString characters of a string (a
// longer string is discarded whole).
#pragma once

#include <array>
#include <cstdint>

namespace vt {

enum STATE : uint8_t {
    GROUND,
    ESCAPE,
    ESCINTER,
    CSIENTRY,
    CSIPARAM,
    CSIINTER,
    CSIIGNORE,
    DCSENTRY,
    DCSPARAM,
    DCSINTER,
    DCSPASS,
    DCSIGNORE,
    OSCSTRING,
    SOSSTRING, // SOS, PM and APC: taken and dropped
    STATECOUNT
};

enum ACTION : uint8_t {
    NONE,        // nothing (also: ignore the character)
    PRINT,       // a graphic character
    EXECUTE,     // a C0 control
    CLEAR,       // a new sequence begins: forget what the last one collected
    COLLECT,     // an intermediate or a private marker
    PARAM,       // a digit, ';' or ':'
    ESCDISPATCH, // the final character of an escape sequence
    CSIDISPATCH, // the final character of a control sequence
    OSCSTART,    // an operating system command begins
    OSCPUT,      // one character of it
    OSCEND,      // it ended with BEL
    STRINGABORT, // CAN or SUB inside a string: dropped without effect
    DCSHOOK,     // the final character of a device control string's header
    DCSPUT,      // one character of its data
    ACTIONCOUNT
};

// The column of every character from 0x80 up.
constexpr int kAbove = 0x80;
constexpr int kColumns = 0x81;

constexpr int kMaxParams = 32;
constexpr uint16_t kMaxValue = 65535;
constexpr int kMaxInter = 2;
constexpr int kMaxString = 2048;

// One table cell: action in the high four bits, next state in the low four.
struct TRANSITIONS {
    std::array<std::array<uint8_t, kColumns>, STATECOUNT> Cell{};

    constexpr uint8_t At(int state, uint32_t c) const { return Cell[state][c < 0x80 ? c : kAbove]; }
    static constexpr ACTION Action(uint8_t cell) { return ACTION(cell >> 4); }
    static constexpr STATE Next(uint8_t cell) { return STATE(cell & 0x0F); }
};

// Built once at compile time from the DEC diagram.
extern TRANSITIONS const Table;

// The state after c, for the host's sequence check (no collecting). 8-bit
// C1 controls count only when c1 is set; ESC and its 7-bit equivalent are
// then run in one step.
inline STATE Step(STATE state, uint32_t c, bool c1)
{
    if (c >= 0x80 && c < 0xA0 && c1) {
        // A C1 control is ESC and its 7-bit equivalent.
        state = TRANSITIONS::Next(Table.At(state, 0x1B));
        c -= 0x40;
    }
    return TRANSITIONS::Next(Table.At(state, c));
}

// Whether a character in this state belongs to a sequence.
inline bool InSequence(STATE before, STATE after)
{
    return before != GROUND || after != GROUND;
}

// What a control sequence or an escape sequence collected. Parameters that
// were left empty read as 0, as ECMA-48's default; SubMask has bit i set
// when parameter i followed a ':' (a sub-parameter of the one before).
struct SEQUENCE {
    uint16_t Param[kMaxParams];
    uint32_t SubMask;
    int Count;        // parameters given (0 for "CSI m")
    char Leader;      // private marker '<', '=', '>' or '?'; 0 when none
    char Inter[kMaxInter];
    int InterCount;
    bool Broken;      // too many intermediates, or a marker out of place

    void Clear()
    {
        SubMask = 0;
        Count = 0;
        Leader = 0;
        InterCount = 0;
        Broken = false;
        Current = 0;
        Started = false;
    }
    // A digit or separator of the parameter part.
    void AddParamChar(uint32_t c)
    {
        if (c >= '0' && c <= '9') {
            uint32_t v = uint32_t(Current) * 10 + (c - '0');
            Current = v > kMaxValue ? kMaxValue : uint16_t(v);
            Started = true;
            return;
        }
        Finish(c == ':');
    }
    void AddCollect(uint32_t c)
    {
        if (c >= 0x3C && c <= 0x3F) {
            // A private marker counts only as the first character.
            if (Count > 0 || Started || Leader || InterCount)
                Broken = true;
            else
                Leader = char(c);
            return;
        }
        if (InterCount < kMaxInter)
            Inter[InterCount++] = char(c);
        else
            Broken = true;
    }
    // Ends the parameter part before a dispatch.
    void End()
    {
        if (Started || Count > 0)
            Finish(false);
    }
    // Parameter i, or def when it was not given or given as 0.
    int Get(int i, int def) const { return i < Count && Param[i] != 0 ? Param[i] : def; }
    // Parameter i as given (0 when missing).
    int Raw(int i) const { return i < Count ? Param[i] : 0; }
    bool IsSub(int i) const { return i < Count && i < 32 && (SubMask >> i) & 1; }

private:
    void Finish(bool nextIsSub)
    {
        if (Count < kMaxParams) {
            Param[Count] = Current;
            ++Count;
        }
        if (nextIsSub && Count < kMaxParams)
            SubMask |= 1u << Count;
        Current = 0;
        Started = nextIsSub;
    }

    uint16_t Current = 0;
    bool Started = false; // a parameter is under way (a digit or ':' came)
};

} // namespace vt
