// Keys, mouse reports and bracketed paste: what the terminal sends to the
// host for the user's input.
#include "outside/corvane/vtemulation.h"

#include "plugins/sdk/emulationapi.h"
#include "velmot/gui/winkeys.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

// A key event whose flag word has this bit is a key release.
constexpr uint32_t KEYFLAG_RELEASED = 0x100;

// Windows-style virtual-key codes.
enum : uint16_t {
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_CLEAR = 0x0C,
    VK_RETURN = 0x0D,
    VK_ESCAPE = 0x1B,
    VK_PRIOR = 0x21,
    VK_NEXT = 0x22,
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_INSERT = 0x2D,
    VK_DELETE = 0x2E,
    VK_F1 = 0x70,
    VK_F20 = 0x83,
};

// The keypad keys by the toolkit's scan code, with what they send in
// application keypad mode (ESC O and this character).
struct KEYPADKEY {
    uint8_t Scan;
    char Application;
};
constexpr KEYPADKEY kKeypad[] = {
    {0x52, 'p'}, {0x4f, 'q'}, {0x50, 'r'}, {0x51, 's'}, {0x4b, 't'}, {0x4c, 'u'},
    {0x4d, 'v'}, {0x47, 'w'}, {0x48, 'x'}, {0x49, 'y'}, {0x53, 'n'}, {0x5a, 'M'},
    {0x4e, 'k'}, {0x4a, 'm'}, {0x37, 'j'}, {0x5c, 'o'},
};

// The VT220 codes of F6 to F20 (CSI n ~); F1 to F5 differ by terminal.
constexpr int kFunctionCodes[21] = {0, 11, 12, 13, 14, 15, 17, 18, 19, 20, 21,
                                    23, 24, 25, 26, 28, 29, 31, 32, 33, 34};

} // namespace

void VTEMULATION::SendKey(char const* text)
{
    Answer(text);
}

void VTEMULATION::SendCursorKey(char final, int modifiers)
{
    char buf[16];
    if (Vt52)
        snprintf(buf, sizeof buf, "\x1b%c", final);
    else if (modifiers > 1)
        snprintf(buf, sizeof buf, "\x1b[1;%d%c", modifiers, final);
    else if (CursorKeysApp && Dialect.Level != vt::LEVEL::ANSI)
        snprintf(buf, sizeof buf, "\x1bO%c", final);
    else
        snprintf(buf, sizeof buf, "\x1b[%c", final);
    SendKey(buf);
}

void VTEMULATION::SendTildeKey(int code, int modifiers)
{
    char buf[16];
    if (modifiers > 1)
        snprintf(buf, sizeof buf, "\x1b[%d;%d~", code, modifiers);
    else
        snprintf(buf, sizeof buf, "\x1b[%d~", code);
    SendKey(buf);
}

void VTEMULATION::SendFunctionKey(int n, int modifiers)
{
    bool const xterm = Dialect.Level == vt::LEVEL::XTERM;
    if (n <= 4) {
        // PF1 to PF4 of the VT100 keypad.
        char buf[16];
        if (Vt52)
            snprintf(buf, sizeof buf, "\x1b%c", 'P' + n - 1);
        else if (modifiers > 1)
            snprintf(buf, sizeof buf, "\x1b[1;%d%c", modifiers, 'P' + n - 1);
        else
            snprintf(buf, sizeof buf, "\x1bO%c", 'P' + n - 1);
        SendKey(buf);
    } else if (xterm && n >= 13) {
        // xterm's F13 to F20 are shifted F1 to F8.
        SendFunctionKey(n - 12, modifiers > 1 ? modifiers : 2);
    } else {
        SendTildeKey(n == 5 ? 15 : kFunctionCodes[n], modifiers);
    }
}

int VTEMULATION::ProcessKey(KEYBOARDEVENT const& event)
{
    if ((event.Flags & KEYFLAG_RELEASED) || !Public)
        return 0;
    if (KeyboardLocked)
        return 1; // KAM: the host locked the keyboard; keys are swallowed
    bool const shift = (event.Modifiers & KEYMOD_SHIFT) != 0;
    bool const alt = (event.Modifiers & KEYMOD_OPTION) != 0;
    bool const ctrl = (event.Modifiers & KEYMOD_CONTROL) != 0;
    if (event.Modifiers & KEYMOD_COMMAND)
        return 0; // the menus' key equivalents
    // xterm's modifier parameter: 1 + shift 1, alt 2, control 4.
    int const mods = 1 + (shift ? 1 : 0) + (alt ? 2 : 0) + (ctrl ? 4 : 0);
    bool const ansi = Dialect.Level == vt::LEVEL::ANSI;
    bool const xterm = Dialect.Level == vt::LEVEL::XTERM;

    if (KeypadApp && !ansi && (event.Keycode == 0 || event.Keycode == VK_RETURN)) {
        for (KEYPADKEY const& k : kKeypad) {
            if (k.Scan == event.Scancode) {
                char buf[4] = {'\x1b', Vt52 ? '?' : 'O', k.Application, 0};
                SendKey(buf);
                return 1;
            }
        }
    }
    switch (event.Keycode) {
    case VK_UP:
        SendCursorKey('A', mods);
        return 1;
    case VK_DOWN:
        SendCursorKey('B', mods);
        return 1;
    case VK_RIGHT:
        SendCursorKey('C', mods);
        return 1;
    case VK_LEFT:
        SendCursorKey('D', mods);
        return 1;
    case VK_CLEAR:
        // The keypad's middle key without Num Lock (xterm's KP_Begin).
        if (!xterm)
            return 0;
        SendCursorKey('E', mods);
        return 1;
    case VK_HOME:
        if (xterm || ansi)
            SendCursorKey('H', mods);
        else
            SendTildeKey(1, mods);
        return 1;
    case VK_END:
        if (xterm)
            SendCursorKey('F', mods);
        else if (ansi)
            SendKey("\x1b[K");
        else
            SendTildeKey(4, mods);
        return 1;
    case VK_INSERT:
        if (ansi)
            SendKey("\x1b[L");
        else
            SendTildeKey(2, mods);
        return 1;
    case VK_DELETE:
        if (ansi)
            SendKey("\x7f");
        else
            SendTildeKey(3, mods);
        return 1;
    case VK_PRIOR:
        if (ansi)
            SendKey("\x1b[V");
        else
            SendTildeKey(5, mods);
        return 1;
    case VK_NEXT:
        if (ansi)
            SendKey("\x1b[U");
        else
            SendTildeKey(6, mods);
        return 1;
    case VK_BACK: {
        // Control gives the other of BS and DEL; Alt puts ESC before.
        bool const bs = BackspaceBS != ctrl;
        SendKey(alt ? (bs ? "\x1b\b" : "\x1b\x7f") : (bs ? "\b" : "\x7f"));
        return 1;
    }
    case VK_TAB:
        if (shift)
            SendKey("\x1b[Z");
        else
            SendKey(alt ? "\x1b\t" : "\t");
        return 1;
    case VK_RETURN:
        if (NewLineMode)
            SendKey(alt ? "\x1b\r\n" : "\r\n");
        else
            SendKey(alt ? "\x1b\r" : "\r");
        return 1;
    case VK_ESCAPE:
        SendKey(alt ? "\x1b\x1b" : "\x1b");
        return 1;
    default:
        break;
    }
    if (event.Keycode >= VK_F1 && event.Keycode <= VK_F20) {
        SendFunctionKey(event.Keycode - VK_F1 + 1, mods);
        return 1;
    }
    // Alt with a character: ESC and the character (with control, the
    // control character, as xterm sends it with metaSendsEscape).
    bool const typed = (event.Flags & KEYFLAG_CHAR) != 0;
    uint32_t ch = event.UniChar ? event.UniChar : event.Char;
    if (alt && typed && ch < 0x110000 && (ch > 0 || ctrl)) {
        // The keyboard layer makes the control character of Control with
        // a letter, a digit from 2 to 8 or one of @ [ \ ] ^ _ ` / ? itself.
        if (ctrl && ch >= 0x20 && ch != 0x7F) {
            uint32_t const upper = ch >= 'a' && ch <= 'z' ? ch - 32 : ch;
            if (upper < '@' || upper > '_')
                return 0;
            ch = upper & 0x1F;
        }
        wchar_t const esc = 0x1B;
        wchar_t const c = wchar_t(ch);
        Public->FeedKeys(&esc, 1, 1);
        Public->FeedKeys(&c, 1, 0);
        return 1;
    }
    return 0;
}

int VTEMULATION::FeedSymbolicKey(char const* name)
{
    if (!name || !Public)
        return 0;
    struct NAMED {
        char const* Name;
        uint16_t Keycode;
    };
    static NAMED const keys[] = {
        {"Up", VK_UP},          {"Down", VK_DOWN},       {"Left", VK_LEFT},       {"Right", VK_RIGHT},
        {"Home", VK_HOME},      {"End", VK_END},         {"PgUp", VK_PRIOR},      {"PageUp", VK_PRIOR},
        {"PgDn", VK_NEXT},      {"PageDown", VK_NEXT},   {"Insert", VK_INSERT},   {"Delete", VK_DELETE},
        {"Enter", VK_RETURN},   {"Tab", VK_TAB},         {"Esc", VK_ESCAPE},      {"Escape", VK_ESCAPE},
        {"Backspace", VK_BACK},
    };
    KEYBOARDEVENT event{};
    for (NAMED const& k : keys) {
        if (strcasecmp(name, k.Name) == 0) {
            event.Keycode = k.Keycode;
            return ProcessKey(event);
        }
    }
    if ((name[0] == 'F' || name[0] == 'f') && name[1] >= '1' && name[1] <= '9') {
        int const n = atoi(name + 1);
        if (n >= 1 && n <= 20) {
            event.Keycode = uint16_t(VK_F1 + n - 1);
            return ProcessKey(event);
        }
    }
    return 0;
}

int VTEMULATION::HandleTerminalEvent(int event)
{
    switch (event) {
    case EMULATION_EVENT_PASTEBEGIN:
    case EMULATION_EVENT_PASTEEND:
        if (!BracketedPaste)
            return 0;
        SendKey(event == EMULATION_EVENT_PASTEBEGIN ? "\x1b[200~" : "\x1b[201~");
        return 1;
    case EMULATION_EVENT_FOCUSIN:
    case EMULATION_EVENT_FOCUSOUT:
        // Mode 1004.
        if (!FocusReports)
            return 0;
        SendKey(event == EMULATION_EVENT_FOCUSIN ? "\x1b[I" : "\x1b[O");
        return 1;
    default:
        return 0;
    }
}

void VTEMULATION::MouseReport(int button, int col, int row, bool release, bool motion)
{
    if (motion)
        button += 32;
    char buf[48];
    if (MouseEncoding == 1006) {
        snprintf(buf, sizeof buf, "\x1b[<%d;%d;%d%c", button, col + 1, row + 1, release ? 'm' : 'M');
    } else if (MouseEncoding == 1015) {
        // urxvt's: decimal, the release as button 3.
        snprintf(buf, sizeof buf, "\x1b[%d;%d;%dM", 32 + (release ? 3 : button), col + 1, row + 1);
    } else if (MouseEncoding == 1005) {
        // UTF-8 encoded positions, up to 2015.
        if (col + 1 > 2015 || row + 1 > 2015)
            return;
        char* out = buf;
        out += snprintf(out, sizeof buf, "\x1b[M");
        for (int v : {32 + (release ? 3 : button), 32 + col + 1, 32 + row + 1}) {
            if (v < 0x80) {
                *out++ = char(v);
            } else {
                *out++ = char(0xC0 | (v >> 6));
                *out++ = char(0x80 | (v & 0x3F));
            }
        }
        *out = 0;
    } else {
        // The old encoding carries positions up to 223 only.
        if (col + 1 > 223 || row + 1 > 223)
            return;
        int const b = release ? 3 : button;
        snprintf(buf, sizeof buf, "\x1b[M%c%c%c", char(32 + b), char(32 + col + 1), char(32 + row + 1));
    }
    SendKey(buf);
}

int VTEMULATION::HandleMouseEvent(int col, int row, int button, int up)
{
    if (MouseMode == 0 || col < 0 || row < 0)
        return 0;
    if (button == -1) {
        // Motion: with a button held (1002) or always (1003).
        if (MouseMode == 1003 || (MouseMode == 1002 && MouseButtons))
            MouseReport(MouseButtons ? 0 : 3, col, row, false, true);
        return MouseMode >= 1002 ? 1 : 0;
    }
    if (button == 4 || button == 5) {
        if (MouseMode == 9)
            return 0; // X10 reports knew no wheel
        if (!up)
            MouseReport(64 + button - 4, col, row, false, false);
        return 1;
    }
    if (button == 0) {
        if (!up) {
            MouseButtons = 1;
            MouseReport(0, col, row, false, false);
        } else {
            MouseButtons = 0;
            if (MouseMode != 9)
                MouseReport(0, col, row, true, false);
        }
        return 1;
    }
    return 0;
}
