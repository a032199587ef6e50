// VT52 mode (DECANM reset, left with ESC <): the VT52's own short escape
// sequences. Text and the C0 controls act as in ANSI mode; the cursor keys
// and the keypad send the VT52's codes (vtkeys.cpp).
#include "outside/corvane/vtemulation.h"

#include "plugins/sdk/emulationapi.h"

#include <algorithm>

void VTEMULATION::Vt52Step(uint32_t c)
{
    // CAN and SUB end a sequence, ESC starts a new one; but the two
    // characters of ESC Y's position are taken whatever they are.
    if (Vt52State < 2 && (c == 0x18 || c == 0x1A)) {
        Vt52State = 0;
        return;
    }
    if (Vt52State < 2 && c == 0x1B) {
        Vt52State = 1;
        return;
    }
    switch (Vt52State) {
    case 0:
        if (c < 0x20)
            Execute(c);
        return; // DEL and C1 codes are dropped
    case 1:
        if (c < 0x20) {
            Execute(c); // a control inside a sequence acts
            return;
        }
        Vt52State = 0;
        Vt52Escape(c);
        return;
    case 2:
        // ESC Y takes the next two characters as they come, controls too.
        Vt52Row = int(c) - 0x20;
        Vt52State = 3;
        return;
    default:
        // Positions past the screen take its last row or column.
        Vt52State = 0;
        MoveTo(int(c) - 0x20, std::clamp(Vt52Row, 0, H - 1));
        return;
    }
}

void VTEMULATION::Vt52Escape(uint32_t final)
{
    switch (final) {
    case 'A':
        MoveTo(X, std::max(Y - 1, Y >= Top ? Top : 0));
        break;
    case 'B':
        MoveTo(X, std::min(Y + 1, Y <= Bottom ? Bottom : H - 1));
        break;
    case 'C':
        MoveTo(X + 1, Y);
        break;
    case 'D':
        MoveTo(X - 1, Y);
        break;
    case 'F':
        Vt52Graphics = true;
        break;
    case 'G':
        Vt52Graphics = false;
        break;
    case 'H':
        MoveTo(0, 0);
        break;
    case 'I':
        FlushBatch();
        ReverseLineFeed();
        break;
    case 'J':
        EraseInDisplay(0, false);
        break;
    case 'K':
        EraseInLine(0, false);
        break;
    case 'Y':
        Vt52State = 2;
        break;
    case 'Z':
        Answer("\x1b/Z");
        break;
    case '=':
        KeypadApp = true;
        break;
    case '>':
        KeypadApp = false;
        break;
    case '<':
        // Back to ANSI mode, as a VT100 (level 1) until DECSCL says more.
        Vt52 = false;
        Level = 1;
        Vt52Graphics = false;
        State = vt::GROUND;
        break;
    default:
        break; // unknown sequences are dropped
    }
}
