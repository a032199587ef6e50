// Qt key events to KeyRecords: scan codes, virtual-key codes, characters.
#include "platform/events/bridge_qt.h"

#include <QGuiApplication>
#include <QKeyEvent>

#include <unordered_map>

namespace plat {
namespace {

constexpr uint16_t E0(uint8_t code)
{
    return static_cast<uint16_t>(0xE000 | code);
}

struct EvdevScan {
    uint16_t evdev;
    uint16_t scan;
};

// Linux evdev codes whose PC set-1 code differs from the evdev number (the
// codes 1..83 are the same in both).
constexpr EvdevScan kEvdevScans[] = {
    {86, 0x56},      {87, 0x57},      {88, 0x58},      {89, 0x73},      {92, 0x79},
    {93, 0x70},      {94, 0x7B},      {96, E0(0x1C)},  {97, E0(0x1D)},  {98, E0(0x35)},
    {99, E0(0x37)},  {100, E0(0x38)}, {102, E0(0x47)}, {103, E0(0x48)}, {104, E0(0x49)},
    {105, E0(0x4B)}, {106, E0(0x4D)}, {107, E0(0x4F)}, {108, E0(0x50)}, {109, E0(0x51)},
    {110, E0(0x52)}, {111, E0(0x53)}, {113, E0(0x20)}, {114, E0(0x2E)}, {115, E0(0x30)},
    {116, E0(0x5E)}, {117, 0x59},     {119, 0xE145},   {121, 0x7E},     {124, 0x7D},
    {125, E0(0x5B)}, {126, E0(0x5C)}, {127, E0(0x5D)}, {142, E0(0x5F)}, {143, E0(0x63)},
    {163, E0(0x19)}, {164, E0(0x22)}, {165, E0(0x10)}, {166, E0(0x24)}, {183, 0x64},
    {184, 0x65},     {185, 0x66},     {186, 0x67},     {187, 0x68},     {188, 0x69},
    {189, 0x6A},     {190, 0x6B},     {191, 0x6C},     {192, 0x6D},     {193, 0x6E},
    {194, 0x76},
};

// Virtual-key code of a key by its position (US names), for the keys whose
// code does not follow the layout: digits, punctuation, keypad, and letters
// of layouts without Latin letters. Indexed by the set-1 code.
constexpr uint8_t kPositionVk[0x80] = {
    // 0x00
    0, kVkEscape, '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', kVkOemMinus, kVkOemPlus, kVkBack, kVkTab,
    // 0x10
    'Q', 'W', 'E', 'R', 'T', 'Y', 'U', 'I', 'O', 'P', kVkOem4, kVkOem6, kVkReturn, kVkControl, 'A', 'S',
    // 0x20
    'D', 'F', 'G', 'H', 'J', 'K', 'L', kVkOem1, kVkOem7, kVkOem3, kVkShift, kVkOem5, 'Z', 'X', 'C', 'V',
    // 0x30
    'B', 'N', 'M', kVkOemComma, kVkOemPeriod, kVkOem2, kVkShift, kVkMultiply, kVkMenu, kVkSpace, kVkCapital,
    kVkF1, kVkF1 + 1, kVkF1 + 2, kVkF1 + 3, kVkF1 + 4,
    // 0x40
    kVkF1 + 5, kVkF1 + 6, kVkF1 + 7, kVkF1 + 8, kVkF1 + 9, kVkNumLock, kVkScroll, kVkNumpad0 + 7,
    kVkNumpad0 + 8, kVkNumpad0 + 9, kVkSubtract, kVkNumpad0 + 4, kVkNumpad0 + 5, kVkNumpad0 + 6, kVkAdd,
    kVkNumpad0 + 1,
    // 0x50
    kVkNumpad0 + 2, kVkNumpad0 + 3, kVkNumpad0, kVkDecimal, 0, 0, kVkOem102, kVkF1 + 10, kVkF1 + 11, 0, 0, 0,
    0, 0, 0, 0,
    // 0x60
    0, 0, 0, 0, kVkF1 + 12, kVkF1 + 13, kVkF1 + 14, kVkF1 + 15, kVkF1 + 16, kVkF1 + 17, kVkF1 + 18,
    kVkF1 + 19, kVkF1 + 20, kVkF1 + 21, kVkF1 + 22, 0,
    // 0x70
    0, 0, 0, 0, 0, 0, kVkF1 + 23, 0, 0, 0, 0, 0, 0, 0, 0, 0,
};

struct QtKeyScan {
    int key;
    uint16_t scan;
};

// Scan codes of the keys of a US keyboard, by Qt key, for window systems
// that give no native code. Shifted symbols sit on their key.
constexpr QtKeyScan kUsScans[] = {
    {Qt::Key_Escape, 0x01}, {Qt::Key_1, 0x02}, {Qt::Key_Exclam, 0x02}, {Qt::Key_2, 0x03}, {Qt::Key_At, 0x03},
    {Qt::Key_3, 0x04}, {Qt::Key_NumberSign, 0x04}, {Qt::Key_4, 0x05}, {Qt::Key_Dollar, 0x05},
    {Qt::Key_5, 0x06}, {Qt::Key_Percent, 0x06}, {Qt::Key_6, 0x07}, {Qt::Key_AsciiCircum, 0x07},
    {Qt::Key_7, 0x08}, {Qt::Key_Ampersand, 0x08}, {Qt::Key_8, 0x09}, {Qt::Key_Asterisk, 0x09},
    {Qt::Key_9, 0x0A}, {Qt::Key_ParenLeft, 0x0A}, {Qt::Key_0, 0x0B}, {Qt::Key_ParenRight, 0x0B},
    {Qt::Key_Minus, 0x0C}, {Qt::Key_Underscore, 0x0C}, {Qt::Key_Equal, 0x0D}, {Qt::Key_Plus, 0x0D},
    {Qt::Key_Backspace, 0x0E}, {Qt::Key_Tab, 0x0F}, {Qt::Key_Backtab, 0x0F},
    {Qt::Key_Q, 0x10}, {Qt::Key_W, 0x11}, {Qt::Key_E, 0x12}, {Qt::Key_R, 0x13}, {Qt::Key_T, 0x14},
    {Qt::Key_Y, 0x15}, {Qt::Key_U, 0x16}, {Qt::Key_I, 0x17}, {Qt::Key_O, 0x18}, {Qt::Key_P, 0x19},
    {Qt::Key_BracketLeft, 0x1A}, {Qt::Key_BraceLeft, 0x1A}, {Qt::Key_BracketRight, 0x1B},
    {Qt::Key_BraceRight, 0x1B}, {Qt::Key_Return, 0x1C}, {Qt::Key_Control, 0x1D},
    {Qt::Key_A, 0x1E}, {Qt::Key_S, 0x1F}, {Qt::Key_D, 0x20}, {Qt::Key_F, 0x21}, {Qt::Key_G, 0x22},
    {Qt::Key_H, 0x23}, {Qt::Key_J, 0x24}, {Qt::Key_K, 0x25}, {Qt::Key_L, 0x26},
    {Qt::Key_Semicolon, 0x27}, {Qt::Key_Colon, 0x27}, {Qt::Key_Apostrophe, 0x28}, {Qt::Key_QuoteDbl, 0x28},
    {Qt::Key_QuoteLeft, 0x29}, {Qt::Key_AsciiTilde, 0x29}, {Qt::Key_Shift, 0x2A},
    {Qt::Key_Backslash, 0x2B}, {Qt::Key_Bar, 0x2B},
    {Qt::Key_Z, 0x2C}, {Qt::Key_X, 0x2D}, {Qt::Key_C, 0x2E}, {Qt::Key_V, 0x2F}, {Qt::Key_B, 0x30},
    {Qt::Key_N, 0x31}, {Qt::Key_M, 0x32}, {Qt::Key_Comma, 0x33}, {Qt::Key_Less, 0x33},
    {Qt::Key_Period, 0x34}, {Qt::Key_Greater, 0x34}, {Qt::Key_Slash, 0x35}, {Qt::Key_Question, 0x35},
    {Qt::Key_Alt, 0x38}, {Qt::Key_Space, 0x39}, {Qt::Key_CapsLock, 0x3A},
    {Qt::Key_F1, 0x3B}, {Qt::Key_F2, 0x3C}, {Qt::Key_F3, 0x3D}, {Qt::Key_F4, 0x3E}, {Qt::Key_F5, 0x3F},
    {Qt::Key_F6, 0x40}, {Qt::Key_F7, 0x41}, {Qt::Key_F8, 0x42}, {Qt::Key_F9, 0x43}, {Qt::Key_F10, 0x44},
    {Qt::Key_NumLock, 0x45}, {Qt::Key_ScrollLock, 0x46}, {Qt::Key_F11, 0x57}, {Qt::Key_F12, 0x58},
    {Qt::Key_F13, 0x64}, {Qt::Key_F14, 0x65}, {Qt::Key_F15, 0x66}, {Qt::Key_F16, 0x67}, {Qt::Key_F17, 0x68},
    {Qt::Key_F18, 0x69}, {Qt::Key_F19, 0x6A}, {Qt::Key_F20, 0x6B}, {Qt::Key_F21, 0x6C}, {Qt::Key_F22, 0x6D},
    {Qt::Key_F23, 0x6E}, {Qt::Key_F24, 0x76},
    {Qt::Key_Enter, E0(0x1C)}, {Qt::Key_Print, E0(0x37)}, {Qt::Key_SysReq, E0(0x37)},
    {Qt::Key_AltGr, E0(0x38)}, {Qt::Key_Pause, 0xE145}, {Qt::Key_Home, E0(0x47)}, {Qt::Key_Up, E0(0x48)},
    {Qt::Key_PageUp, E0(0x49)}, {Qt::Key_Left, E0(0x4B)}, {Qt::Key_Right, E0(0x4D)}, {Qt::Key_End, E0(0x4F)},
    {Qt::Key_Down, E0(0x50)}, {Qt::Key_PageDown, E0(0x51)}, {Qt::Key_Insert, E0(0x52)},
    {Qt::Key_Delete, E0(0x53)}, {Qt::Key_Meta, E0(0x5B)}, {Qt::Key_Super_L, E0(0x5B)},
    {Qt::Key_Super_R, E0(0x5C)}, {Qt::Key_Menu, E0(0x5D)},
};

// Keypad keys by Qt key (with the keypad modifier): scan code and
// virtual-key code. Without Num Lock the digits arrive as navigation keys.
struct KeypadKey {
    int key;
    uint16_t scan;
    uint8_t vk;
};
constexpr KeypadKey kKeypad[] = {
    {Qt::Key_0, 0x52, kVkNumpad0}, {Qt::Key_1, 0x4F, kVkNumpad0 + 1}, {Qt::Key_2, 0x50, kVkNumpad0 + 2},
    {Qt::Key_3, 0x51, kVkNumpad0 + 3}, {Qt::Key_4, 0x4B, kVkNumpad0 + 4}, {Qt::Key_5, 0x4C, kVkNumpad0 + 5},
    {Qt::Key_6, 0x4D, kVkNumpad0 + 6}, {Qt::Key_7, 0x47, kVkNumpad0 + 7}, {Qt::Key_8, 0x48, kVkNumpad0 + 8},
    {Qt::Key_9, 0x49, kVkNumpad0 + 9}, {Qt::Key_Asterisk, 0x37, kVkMultiply}, {Qt::Key_Plus, 0x4E, kVkAdd},
    {Qt::Key_Minus, 0x4A, kVkSubtract}, {Qt::Key_Period, 0x53, kVkDecimal}, {Qt::Key_Comma, 0x53, kVkDecimal},
    {Qt::Key_Slash, E0(0x35), kVkDivide}, {Qt::Key_Enter, E0(0x1C), kVkReturn},
    {Qt::Key_Insert, 0x52, kVkInsert}, {Qt::Key_End, 0x4F, kVkEnd}, {Qt::Key_Down, 0x50, kVkDown},
    {Qt::Key_PageDown, 0x51, kVkNext}, {Qt::Key_Left, 0x4B, kVkLeft}, {Qt::Key_Clear, 0x4C, kVkClear},
    {Qt::Key_Right, 0x4D, kVkRight}, {Qt::Key_Home, 0x47, kVkHome}, {Qt::Key_Up, 0x48, kVkUp},
    {Qt::Key_PageUp, 0x49, kVkPrior}, {Qt::Key_Delete, 0x53, kVkDelete}, {Qt::Key_Equal, 0x59, 0},
};

struct QtKeyVk {
    int key;
    uint8_t vk;
};

// Keys whose virtual-key code comes from what they are, not where they are.
constexpr QtKeyVk kSpecialVks[] = {
    {Qt::Key_Backspace, kVkBack}, {Qt::Key_Tab, kVkTab}, {Qt::Key_Backtab, kVkTab},
    {Qt::Key_Clear, kVkClear}, {Qt::Key_Return, kVkReturn}, {Qt::Key_Enter, kVkReturn},
    {Qt::Key_Shift, kVkShift}, {Qt::Key_Control, kVkControl}, {Qt::Key_Alt, kVkMenu},
    {Qt::Key_AltGr, kVkMenu}, {Qt::Key_Pause, kVkPause}, {Qt::Key_CapsLock, kVkCapital},
    {Qt::Key_Escape, kVkEscape}, {Qt::Key_Space, kVkSpace}, {Qt::Key_PageUp, kVkPrior},
    {Qt::Key_PageDown, kVkNext}, {Qt::Key_End, kVkEnd}, {Qt::Key_Home, kVkHome}, {Qt::Key_Left, kVkLeft},
    {Qt::Key_Up, kVkUp}, {Qt::Key_Right, kVkRight}, {Qt::Key_Down, kVkDown}, {Qt::Key_Print, kVkSnapshot},
    {Qt::Key_SysReq, kVkSnapshot}, {Qt::Key_Insert, kVkInsert}, {Qt::Key_Delete, kVkDelete},
    {Qt::Key_Help, kVkHelp}, {Qt::Key_Menu, kVkApps}, {Qt::Key_NumLock, kVkNumLock},
    {Qt::Key_ScrollLock, kVkScroll}, {Qt::Key_Super_L, kVkLWin}, {Qt::Key_Super_R, kVkRWin},
};

bool IsModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
        return true;
    default:
        return false;
    }
}

// X modifier state of the last key event: the only place the lock states
// can be read from.
uint32_t gLockBits = 0;

char32_t FirstCodePoint(const QString& text, bool* have)
{
    *have = false;
    if (text.isEmpty())
        return 0;
    char32_t c = text.at(0).unicode();
    if (QChar::isHighSurrogate(c) && text.size() > 1 && text.at(1).isLowSurrogate())
        c = QChar::surrogateToUcs4(text.at(0), text.at(1));
    *have = true;
    return c;
}

// The character of a pressed key: control characters from key and
// modifiers, the rest from the window system's text.
bool KeyChar(const QKeyEvent& e, int key, uint32_t vk, uint32_t mods, char32_t* ch)
{
    const bool ctrl = mods & kModControl;
    switch (vk) {
    case kVkBack:
        *ch = ctrl ? 127 : 8;
        return true;
    case kVkReturn:
        *ch = ctrl ? 10 : 13;
        return true;
    case kVkTab:
        *ch = 9;
        return !ctrl;
    case kVkEscape:
        *ch = 27;
        return true;
    default:
        break;
    }
    // Special keys (arrows, F-keys, Delete...) type nothing, whatever text
    // the window system attaches.
    if (key >= Qt::Key_Escape && key != Qt::Key_Space && !(e.modifiers() & Qt::KeypadModifier))
        return false;
    if (ctrl) {
        if (key >= Qt::Key_A && key <= Qt::Key_Z) {
            *ch = static_cast<char32_t>(key - Qt::Key_A + 1);
            return true;
        }
        // The digits 2 to 8 of the main block as X and xterm have them:
        // NUL, ESC, FS, GS, RS, US, DEL.
        if (key >= Qt::Key_2 && key <= Qt::Key_8 && !(e.modifiers() & Qt::KeypadModifier)) {
            static constexpr char32_t kDigits[] = {0, 27, 28, 29, 30, 31, 127};
            *ch = kDigits[key - Qt::Key_2];
            return true;
        }
        switch (key) {
        case Qt::Key_At:
        case Qt::Key_Space:
        case Qt::Key_QuoteLeft: // as xterm
            *ch = 0;
            return true;
        case Qt::Key_BracketLeft:
            *ch = 27;
            return true;
        case Qt::Key_Backslash:
            *ch = 28;
            return true;
        case Qt::Key_BracketRight:
            *ch = 29;
            return true;
        case Qt::Key_AsciiCircum:
            *ch = 30;
            return true;
        case Qt::Key_Underscore:
        case Qt::Key_Minus:
        case Qt::Key_Slash:
            *ch = 31;
            return true;
        case Qt::Key_Question:
            *ch = 127;
            return true;
        default:
            break;
        }
        // A letter of a layout without Latin letters: by its position, as
        // terminals do.
        if (vk >= 'A' && vk <= 'Z' && key > 0x7F) {
            *ch = static_cast<char32_t>(vk - 'A' + 1);
            return true;
        }
        // Any other Ctrl combination types nothing, whatever text the window
        // system made up for it.
        return false;
    }
    bool have;
    char32_t c = FirstCodePoint(e.text(), &have);
    if (!have || c < 0x20 || c == 0x7F)
        return false;
    *ch = c;
    return true;
}

class KeyTranslator {
public:
    KeyRecord Translate(const QKeyEvent& e)
    {
        KeyRecord r;
        const int key = e.key();
        const bool keypad = e.modifiers() & Qt::KeypadModifier;
        const bool release = e.type() == QEvent::KeyRelease;
        r.qtKey = key;
        r.nativeCode = e.nativeScanCode();
        r.keysym = e.nativeVirtualKey();
        if (r.nativeCode) {
            // X state: Lock 0x2, Mod2 (Num Lock) 0x10.
            gLockBits = (e.nativeModifiers() & 0x2 ? kModCapsLock : 0) |
                        (e.nativeModifiers() & 0x10 ? kModNumLock : 0);
        }
        r.modifiers = bridge::ModifiersFromQt(e.modifiers());
        if (keypad)
            r.flags |= kKeyKeypad;
        if (release)
            r.flags |= kKeyRelease;
        if (e.isAutoRepeat())
            r.flags |= kKeyRepeat;
        if (IsModifierKey(key))
            r.flags |= kKeyModifierKey;

        uint16_t scan = 0;
        if (r.nativeCode >= 8) {
            scan = EvdevToScan(r.nativeCode - 8);
            if (scan)
                r.flags |= kKeyPositional;
        }
        const KeypadKey* pad = nullptr;
        if (keypad)
            for (const KeypadKey& k : kKeypad)
                if (k.key == key)
                    pad = &k;
        if (!scan)
            scan = pad ? pad->scan : UsScan(key);
        r.scan = static_cast<uint8_t>(scan & 0xFF);
        r.scanPrefix = static_cast<uint8_t>(scan >> 8);
        r.vk = VirtualKey(key, pad, scan);

        const uint64_t where = PositionKey(r, key);
        if (release) {
            auto it = down_.find(where);
            if (it != down_.end()) {
                r.vk = it->second.vk;
                r.ch = it->second.ch;
                r.flags |= it->second.flags & kKeyHasChar;
                if (!e.isAutoRepeat())
                    down_.erase(it);
            }
            return r;
        }
        if (!(r.flags & kKeyModifierKey) && KeyChar(e, key, r.vk, r.modifiers, &r.ch))
            r.flags |= kKeyHasChar;
        // Keys held while the focus went elsewhere never report their
        // release; a bounded table keeps that from growing.
        if (down_.size() > 64)
            down_.clear();
        down_[where] = Down{r.vk, r.ch, r.flags};
        return r;
    }

    void Reset() { down_.clear(); }

private:
    struct Down {
        uint32_t vk;
        char32_t ch;
        uint32_t flags;
    };

    static uint16_t UsScan(int key)
    {
        for (const QtKeyScan& k : kUsScans)
            if (k.key == key)
                return k.scan;
        return 0;
    }

    static uint32_t VirtualKey(int key, const KeypadKey* pad, uint16_t scan)
    {
        if (pad && pad->vk)
            return pad->vk;
        if (key >= Qt::Key_A && key <= Qt::Key_Z)
            return static_cast<uint32_t>('A' + (key - Qt::Key_A));
        if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
            return kVkF1 + static_cast<uint32_t>(key - Qt::Key_F1);
        if (key == Qt::Key_Meta)
            return scan == E0(0x5C) ? kVkRWin : kVkLWin;
        for (const QtKeyVk& k : kSpecialVks)
            if (k.key == key)
                return k.vk;
        if ((scan >> 8) == 0 && scan < 0x80)
            return kPositionVk[scan];
        return 0;
    }

    static uint64_t PositionKey(const KeyRecord& r, int key)
    {
        if (r.scan)
            return (static_cast<uint64_t>(r.scanPrefix) << 8) | r.scan;
        return (uint64_t{1} << 40) | static_cast<uint32_t>(key);
    }

    std::unordered_map<uint64_t, Down> down_;
};

KeyTranslator& Translator()
{
    static auto* t = new KeyTranslator;
    return *t;
}

} // namespace

uint16_t EvdevToScan(uint32_t evdev)
{
    if (evdev >= 1 && evdev <= 83)
        return static_cast<uint16_t>(evdev);
    for (const EvdevScan& e : kEvdevScans)
        if (e.evdev == evdev)
            return e.scan;
    return 0;
}

uint32_t ScanToEvdev(uint16_t scan)
{
    if (scan >= 1 && scan <= 83)
        return scan;
    for (const EvdevScan& e : kEvdevScans)
        if (e.scan == scan)
            return e.evdev;
    return 0;
}

namespace bridge {

KeyRecord TranslateKeyEvent(const QKeyEvent& event)
{
    return Translator().Translate(event);
}

void ResetKeyTranslator()
{
    Translator().Reset();
    gLockBits = 0;
}

uint32_t ModifiersFromQt(Qt::KeyboardModifiers mods)
{
    uint32_t bits = gLockBits;
    if (mods & Qt::ShiftModifier)
        bits |= kModShift;
    if (mods & Qt::ControlModifier)
        bits |= kModControl;
    if (mods & Qt::AltModifier)
        bits |= kModOption;
    if (mods & Qt::MetaModifier)
        bits |= kModCommand;
    return bits;
}

} // namespace bridge
} // namespace plat
