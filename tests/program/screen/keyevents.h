// Key events for tests, made the way the window system's keys become
// KEYBOARDEVENT records: a platform key record (PC scan code with its
// prefix, the character it types, the held modifiers) through the
// toolkit's keyboard table.
#pragma once

#include "velmot/gui/winkeys.h"

#include "platform/events/codes.h"
#include "platform/events/keys.h"

#include <cstdint>

namespace keytest {

// Modifier bits of the platform's key records.
constexpr uint32_t kShift = plat::kModShift;
constexpr uint32_t kCtrl = plat::kModControl;
constexpr uint32_t kAlt = plat::kModOption;
constexpr uint32_t kCmd = plat::kModCommand;
constexpr uint32_t kCaps = plat::kModCapsLock;

// Scan codes of some keys (set 1; the extended ones with prefix 0xE0).
namespace scan {
constexpr uint8_t Escape = 0x01, One = 0x02, Two = 0x03, Backspace = 0x0E, Tab = 0x0F, Q = 0x10, Return = 0x1C,
                  A = 0x1E, C = 0x2E, V = 0x2F, N = 0x31, M = 0x32, Slash = 0x35, Space = 0x39, F1 = 0x3B, F3 = 0x3D,
                  F5 = 0x3F, F12 = 0x58, Pause = 0x45, Up = 0x48, PageUp = 0x49, Left = 0x4B, Insert = 0x52,
                  Delete = 0x53;
}

// A key that types nothing (arrows, function keys, Escape ...); prefix
// 0xE0 for the extended keys.
inline KEYBOARDEVENT Key(uint8_t scanCode, uint8_t prefix = 0, uint32_t modifiers = 0)
{
    plat::KeyRecord r;
    r.scan = scanCode;
    r.scanPrefix = prefix;
    r.modifiers = modifiers;
    KEYBOARDEVENT e;
    KEYBOARD::GetInstance()->TranslateKeyRecord(r, &e);
    return e;
}

// A key that types a character.
inline KEYBOARDEVENT Char(uint8_t scanCode, char32_t ch, uint32_t modifiers = 0, uint8_t prefix = 0)
{
    plat::KeyRecord r;
    r.scan = scanCode;
    r.scanPrefix = prefix;
    r.ch = ch;
    r.flags = plat::kKeyHasChar;
    r.modifiers = modifiers;
    KEYBOARDEVENT e;
    KEYBOARD::GetInstance()->TranslateKeyRecord(r, &e);
    return e;
}

// The release of a key.
inline KEYBOARDEVENT Released(KEYBOARDEVENT e)
{
    e.Flags |= 0x100;
    return e;
}

} // namespace keytest
