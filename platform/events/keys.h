// Key events as the layers above see them.
//
// Every key event of the window system becomes one KeyRecord, carried as
// the parameter kParamKeyRecord of a 'keyb' event (kinds 1 down, 2 repeat,
// 3 up; 4 for the modifier keys themselves). A record names the key three
// ways: a Windows-style virtual-key code, the PC keyboard's scan code (set
// 1, with its E0/E1 prefix), and the X keycode when there is one. It also
// carries the character the key types, as one UTF-32 code point.
//
// Where the values come from:
// - On X11 the X keycode is positional (keycode - 8 is the Linux evdev
//   code), so the scan code follows the physical key whatever the layout.
//   Where the window system gives no native code (the offscreen platform of
//   the tests), the scan code is looked up from the key with a US layout.
// - Letters get their virtual-key code from the layout ('A'..'Z', as on
//   Windows); digits and punctuation from their position.
// - Control characters are derived from the key and the modifiers, never
//   taken from the window system's text: Ctrl+A..Z give 1..26, Ctrl+[ \ ]
//   give 27..29, Ctrl+^ 30, Ctrl+_ and Ctrl+/ 31, Ctrl+@ and Ctrl+Space 0,
//   Ctrl+? 127; other Ctrl combinations type nothing. Backspace types 8
//   (127 with Ctrl), Return and Enter 13 (10 with Ctrl), Tab 9 (nothing
//   with Ctrl), Escape 27. Other special keys (arrows, F-keys, Delete...)
//   type nothing.
// - A release is matched to its press by scan code and reports the press's
//   virtual-key code and character, so Shift+1 released after Shift still
//   says "!".
//
// The "command" modifier bit kModCommand is the Super key (the Windows-logo
// key, Qt's Meta). Ctrl stays Ctrl and Alt is option, so Alt keeps its
// Meta/ESC role in terminal programs. Which chords the menus take as their
// Command shortcuts (Ctrl+Shift first, Super second) is the menus' rule
// (menus.h).
#pragma once

#include "platform/events/codes.h"

#include <cstdint>
#include <functional>

namespace plat {

struct OpaqueWindow;
using WindowRef = OpaqueWindow*;

// KeyRecord::flags
constexpr uint32_t kKeyHasChar = 0x01;     // `ch` is valid (it may be 0, Ctrl+Space)
constexpr uint32_t kKeyRelease = 0x02;
constexpr uint32_t kKeyRepeat = 0x04;      // auto-repeat of a held key
constexpr uint32_t kKeyKeypad = 0x08;      // a key of the numeric keypad
constexpr uint32_t kKeyPositional = 0x10;  // scan code from the hardware, not guessed
constexpr uint32_t kKeyModifierKey = 0x20; // Shift, Ctrl, Alt, Super, Caps/Num Lock

struct KeyRecord {
    uint32_t vk = 0;         // Windows-style virtual-key code; 0 when unknown
    uint8_t scan = 0;        // PC set-1 make code; 0 when unknown
    uint8_t scanPrefix = 0;  // 0, 0xE0 (extended keys) or 0xE1 (Pause)
    uint16_t reserved = 0;
    char32_t ch = 0;         // the character typed; valid with kKeyHasChar
    uint32_t modifiers = 0;  // kMod* bits
    uint32_t flags = 0;      // kKey* bits
    uint32_t nativeCode = 0; // X keycode (evdev code + 8), 0 without one
    uint32_t keysym = 0;     // X keysym, 0 without one
    int32_t qtKey = 0;       // the window system's key value, for diagnostics
};

// Virtual-key codes used by the layers above (the Windows numbers).
constexpr uint32_t kVkBack = 0x08;
constexpr uint32_t kVkTab = 0x09;
constexpr uint32_t kVkClear = 0x0C;
constexpr uint32_t kVkReturn = 0x0D;
constexpr uint32_t kVkShift = 0x10;
constexpr uint32_t kVkControl = 0x11;
constexpr uint32_t kVkMenu = 0x12; // Alt
constexpr uint32_t kVkPause = 0x13;
constexpr uint32_t kVkCapital = 0x14;
constexpr uint32_t kVkEscape = 0x1B;
constexpr uint32_t kVkSpace = 0x20;
constexpr uint32_t kVkPrior = 0x21;
constexpr uint32_t kVkNext = 0x22;
constexpr uint32_t kVkEnd = 0x23;
constexpr uint32_t kVkHome = 0x24;
constexpr uint32_t kVkLeft = 0x25;
constexpr uint32_t kVkUp = 0x26;
constexpr uint32_t kVkRight = 0x27;
constexpr uint32_t kVkDown = 0x28;
constexpr uint32_t kVkSnapshot = 0x2C;
constexpr uint32_t kVkInsert = 0x2D;
constexpr uint32_t kVkDelete = 0x2E;
constexpr uint32_t kVkHelp = 0x2F;
constexpr uint32_t kVkLWin = 0x5B;
constexpr uint32_t kVkRWin = 0x5C;
constexpr uint32_t kVkApps = 0x5D;
constexpr uint32_t kVkNumpad0 = 0x60; // ..0x69
constexpr uint32_t kVkMultiply = 0x6A;
constexpr uint32_t kVkAdd = 0x6B;
constexpr uint32_t kVkSubtract = 0x6D;
constexpr uint32_t kVkDecimal = 0x6E;
constexpr uint32_t kVkDivide = 0x6F;
constexpr uint32_t kVkF1 = 0x70; // ..F24 0x87
constexpr uint32_t kVkNumLock = 0x90;
constexpr uint32_t kVkScroll = 0x91;
constexpr uint32_t kVkOem1 = 0xBA;      // ;:
constexpr uint32_t kVkOemPlus = 0xBB;   // =+
constexpr uint32_t kVkOemComma = 0xBC;  // ,<
constexpr uint32_t kVkOemMinus = 0xBD;  // -_
constexpr uint32_t kVkOemPeriod = 0xBE; // .>
constexpr uint32_t kVkOem2 = 0xBF;      // /?
constexpr uint32_t kVkOem3 = 0xC0;      // `~
constexpr uint32_t kVkOem4 = 0xDB;      // [{
constexpr uint32_t kVkOem5 = 0xDC;      // \|
constexpr uint32_t kVkOem6 = 0xDD;      // ]}
constexpr uint32_t kVkOem7 = 0xDE;      // '"
constexpr uint32_t kVkOem102 = 0xE2;    // the extra key of ISO keyboards

// Menu key equivalents. The menu layer installs one matcher; the event
// filter asks it about every key press and repeat in one of our windows
// before the key goes to the focused view. A matcher that takes the key
// (returns true) has done what the key means, typically sent its menu's
// command; the key then goes nowhere else, and neither does its release.
// A key it declines goes on to the focused view, the window and the
// application as usual, and on to the terminal. Menus match only their
// Command shortcuts (Ctrl+Shift, or Super) and the few marked to be taken
// without it (menus.h), so the other Ctrl and Alt combinations stay the
// terminal's; that choice is the matcher's. Qt's own shortcut map never
// takes keys of our windows.
using KeyEquivalentMatcher = std::function<bool(WindowRef window, const KeyRecord& key)>;

// Installs the matcher (an empty one removes it) and returns the one
// installed before. Main thread.
KeyEquivalentMatcher SetKeyEquivalentMatcher(KeyEquivalentMatcher matcher);

// The PC set-1 scan code of a Linux evdev key code: (prefix << 8) | code,
// 0 for keys without one.
uint16_t EvdevToScan(uint32_t evdev);

// The Linux evdev key code of a PC set-1 scan code ((prefix << 8) | code),
// 0 for none. The inverse of EvdevToScan.
uint32_t ScanToEvdev(uint16_t scan);

// The character a key types on the current keyboard layout, by its scan
// code and prefix, with Shift when `modifiers` holds kModShift or
// kModCapsLock (other bits are not used); 0 when the key types nothing or
// no layout can be loaded. The layout is the X server's on X11 (the first
// of its layouts), elsewhere the one the XKB_DEFAULT_* variables name, else
// US English. Main thread.
char32_t TranslateScanCode(uint8_t scan, uint8_t prefix, uint32_t modifiers);

// Forgets the loaded layout; the next translation loads it again (after
// the user or a test changed it).
void ResetKeyLayout();

} // namespace plat
