#include "velmot/gui/winkeys.h"

#include "velmot/core/logit.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/tarvo.h"
#include "velmot/core/unicode.h"

#include "platform/events/application.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

// The keyboard drawn three times, once per code system: six rows (function
// row, digit row, top letter row, home row, shift row, bottom row), each
// followed by the navigation block and the numeric keypad. The n-th value
// of each grid belongs to key n. Scan codes and key codes are hexadecimal,
// the platform's virtual codes decimal.
char const kScanGrid[] = R"(
    01  3b 3c 3d 3e  3f 40 41 42  43 44 57 58   7c 46 59   a0 a1 a2 a3
    29 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e   68 60 62   45 5c 37 4a
    0f 10 11 12 13 14 15 16 17 18 19 1a 1b 2b   69 65 67   47 48 49 4e
    3a 1e 1f 20 21 22 23 24 25 26 27 28 1c                 4b 4c 4d a5
    2a 56 2c 2d 2e 2f 30 31 32 33 34 35 36         61      4f 50 51 5a
    1d 38 a6          39          a7 5e 5b      63 66 64   52    53
)";

char const kKeyGrid[] = R"(
    1b  70 71 72 73  74 75 76 77  78 79 7a 7b   2c 91 13   7f 80 81 82
    00 00 00 00 00 00 00 00 00 00 00 00 00 08   2d 24 21   90 00 00 00
    09 00 00 00 00 00 00 00 00 00 00 00 00 00   2e 23 22   00 00 00 00
    00 00 00 00 00 00 00 00 00 00 00 00 0d                 00 00 00 00
    00 00 00 00 00 00 00 00 00 00 00 00 00         26      00 00 00 0d
    00 00 00          00          00 00 00      25 28 27   00    00
)";

char const kVirtGrid[] = R"(
    53  122 120 99 118  96 97 98 100  101 109 103 111   105 107 113   106 64 79 80
    50 18 19 20 21 23 22 26 28 25 29 27 24 51   114 115 116   71 81 75 67
    48 12 13 14 15 17 16 32 34 31 35 33 30 42   117 119 121   89 91 92 78
    57 0 1 2 3 5 4 38 40 37 41 39 36                          86 87 88 69
    56 50 6 7 8 9 11 45 46 43 47 44 56             126        83 84 85 76
    59 58 55          49          55 58 59      123 125 124   82    65
)";

// The keys that send the E0 prefix: their scan code after the prefix and
// the toolkit's own scan code for them.
struct EXTSCAN {
    int extscan;
    int scan;
};
constexpr EXTSCAN kExtscanToScancode[] = {
    {0x52, 0x68}, {0x53, 0x69}, {0x47, 0x60}, {0x4f, 0x65}, {0x49, 0x62},
    {0x51, 0x67}, {0x35, 0x5c}, {0x1c, 0x5a}, {0x37, 0x7c}, {0x4b, 0x63},
    {0x48, 0x61}, {0x4d, 0x64}, {0x50, 0x66}, {0x38, 0x5e}, {0x1d, 0x5b},
};

// Keys the platform names by codes that are neither in the table nor
// extended pairs of it: the two Super keys (the command keys of the
// table), Pause (E1 45), and F13 to F19, which sit on the print screen,
// scroll lock and pause keys and the four keys above the keypad.
struct PLATFORMKEY {
    int prefix;
    int scan;
    int tablescan;
};
constexpr PLATFORMKEY kPlatformKeys[] = {
    {0xE0, 0x5B, 0xa6}, {0xE0, 0x5C, 0xa7}, {0xE1, 0x45, 0x59},
    {0x00, 0x64, 0x7c}, {0x00, 0x65, 0x46}, {0x00, 0x66, 0x59},
    {0x00, 0x67, 0xa0}, {0x00, 0x68, 0xa1}, {0x00, 0x69, 0xa2}, {0x00, 0x6A, 0xa3},
};

// The highest scan code that means the same key on the platform and in
// the table; the table gives the codes above it to keys of its own.
constexpr int kLastPlainScan = 0x58;

// The virtual-key code of a keypad key that types no digit (Num Lock off):
// Home, End, the arrows, Page Up and Down, Insert, Delete and the middle
// key (Clear); 0 for any other key.
uint16_t KeypadNavigationKey(plat::KeyRecord const& key)
{
    if (!(key.flags & plat::kKeyKeypad) || (key.flags & plat::kKeyHasChar))
        return 0;
    switch (key.vk) {
    case plat::kVkClear:
    case plat::kVkPrior:
    case plat::kVkNext:
    case plat::kVkEnd:
    case plat::kVkHome:
    case plat::kVkLeft:
    case plat::kVkUp:
    case plat::kVkRight:
    case plat::kVkDown:
    case plat::kVkInsert:
    case plat::kVkDelete:
        return static_cast<uint16_t>(key.vk);
    default:
        return 0;
    }
}

uint32_t HexOrDec(STRING const& text, bool hex)
{
    unsigned value = 0;
    if (std::sscanf(text.Buf(), hex ? "%x" : "%u", &value) != 1)
        AssertMsg(0, "sscanf", __FILE__, __LINE__, text.Buf(), false);
    return value;
}

} // namespace

KEYBOARD::KEY KEYBOARD::Keys[KEYBOARD::MAXKEYS];
int KEYBOARD::NumKeys = 0;
KEYBOARD* KEYBOARD::pInstance = nullptr;

KEYBOARD* KEYBOARD::GetInstance()
{
    if (!pInstance) {
        pInstance = new KEYBOARD;
        TARVOAPP::SetCleanupFunction(TARVOAPP::CLEANUP_KEYBOARD, &KEYBOARD::ReleaseInstance);
    }
    return pInstance;
}

void KEYBOARD::ReleaseInstance()
{
    delete pInstance;
    pInstance = nullptr;
}

KEYBOARD::KEYBOARD()
{
    LOGIT("KEYBOARD::KEYBOARD\n");
    if (NumKeys == 0)
        BuildTable();
    LOGIT("KEYBOARD::KEYBOARD done\n");
}

KEYBOARD::~KEYBOARD()
{
    LOGIT("KEYBOARD::~KEYBOARD\n");
    LOGIT("KEYBOARD::~KEYBOARD done\n");
}

STRING KEYBOARD::CompressMap(char const* map)
{
    std::string s = map ? map : "";
    for (char& c : s)
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    std::string out;
    for (char c : s)
        if (c != ' ' || out.empty() || out.back() != ' ')
            out.push_back(c);
    size_t first = out.find_first_not_of(' ');
    size_t last = out.find_last_not_of(' ');
    out = first == std::string::npos ? std::string() : out.substr(first, last - first + 1);
    return STRING(out.c_str());
}

void KEYBOARD::BuildTable()
{
    STRINGARRAY s(CompressMap(kScanGrid), " ");
    STRINGARRAY d(CompressMap(kKeyGrid), " ");
    STRINGARRAY w(CompressMap(kVirtGrid), " ");
    VASSERT(s.NumItems() == d.NumItems(), "s.NumItems()==d.NumItems()", nullptr);
    VASSERT(s.NumItems() == w.NumItems(), "s.NumItems()==w.NumItems()", nullptr);
    int const n = std::min({s.NumItems(), d.NumItems(), w.NumItems(), MAXKEYS});
    NumKeys = 0;
    for (int i = 0; i < n; ++i) {
        KEY& k = Keys[NumKeys];
        k.Extscan = 0;
        k.Scancode = static_cast<int32_t>(HexOrDec(*s[i], true));
        k.Keycode = static_cast<int32_t>(HexOrDec(*d[i], true));
        k.Virtcode = static_cast<int32_t>(HexOrDec(*w[i], false));
        ++NumKeys;
    }
    for (EXTSCAN const& pair : kExtscanToScancode) {
        int keyidx = FindKeyIdxFromScancode(pair.scan);
        VASSERT(keyidx != -1, "keyidx!=-1", nullptr);
        if (keyidx != -1)
            Keys[keyidx].Extscan = pair.extscan;
    }
    for (EXTSCAN const& pair : kExtscanToScancode) {
        int idx = FindKeyIdxFromExtscan(pair.extscan);
        VASSERT(idx != -1, "idx!=-1", nullptr);
        if (idx != -1) {
            int oldscan = Keys[idx].Scancode;
            VASSERT(oldscan == pair.scan, "oldscan==extscan2scancode[i].scan", nullptr);
        }
    }
}

int KEYBOARD::FindKeyIdxFromExtscan(int extscan)
{
    for (int i = 0; i < NumKeys; ++i)
        if (Keys[i].Extscan == extscan)
            return i;
    return -1;
}

int KEYBOARD::FindKeyIdxFromScancode(int scancode)
{
    for (int i = 0; i < NumKeys; ++i)
        if (Keys[i].Scancode == scancode)
            return i;
    return -1;
}

int KEYBOARD::FindKeyIdxFromVirtcode(int virtcode)
{
    for (int i = 0; i < NumKeys; ++i)
        if (Keys[i].Virtcode == virtcode)
            return i;
    return -1;
}

int KEYBOARD::FindKeyIdxFromKeycode(int keycode)
{
    for (int i = 0; i < NumKeys; ++i)
        if (Keys[i].Keycode == keycode)
            return i;
    return -1;
}

int KEYBOARD::FindKeyIdxFromPlatformScan(int scan, int prefix)
{
    if (scan <= 0)
        return -1;
    for (PLATFORMKEY const& k : kPlatformKeys)
        if (k.prefix == prefix && k.scan == scan)
            return FindKeyIdxFromScancode(k.tablescan);
    if (prefix == 0xE0)
        return scan == 0 ? -1 : FindKeyIdxFromExtscan(scan);
    if (prefix != 0 || scan > kLastPlainScan)
        return -1;
    return FindKeyIdxFromScancode(scan);
}

int KEYBOARD::ConvertKeyToScancode(int keycode)
{
    int idx = FindKeyIdxFromKeycode(keycode);
    VASSERT(idx != -1, "idx!=-1", nullptr);
    return idx == -1 ? 0 : Keys[idx].Scancode;
}

int KEYBOARD::ConvertKeyToVirtcode(int keycode)
{
    int idx = FindKeyIdxFromKeycode(keycode);
    VASSERT(idx != -1, "idx!=-1", nullptr);
    return idx == -1 ? 0 : Keys[idx].Virtcode;
}

int KEYBOARD::ConvertVirtcodeToKey(int virtcode)
{
    int idx = FindKeyIdxFromVirtcode(virtcode);
    VASSERT(idx != -1, "idx!=-1", nullptr);
    return idx == -1 ? 0 : Keys[idx].Keycode;
}

bool KEYBOARD::GetKeyState(int keycode)
{
    TARVOAPP::CheckCallerThread("KEYBOARD::GetKeyState");
    uint32_t mask = 0;
    switch (keycode) {
    case 16:
        mask = KEYMOD_SHIFT;
        break;
    case 17:
        mask = KEYMOD_CONTROL;
        break;
    case 18:
        mask = KEYMOD_OPTION;
        break;
    case 144:
        mask = plat::kModNumLock;
        break;
    case 159:
        mask = KEYMOD_CAPSLOCK;
        break;
    case 160:
        mask = 0x20000; // the function key; no keyboard here reports it
        break;
    case 145:
        return false; // scroll lock: never reported as held
    default:
        AssertMsg(0, "FALSE", __FILE__, __LINE__, nullptr, false);
        return false;
    }
    return (plat::CurrentKeyModifiers() & mask) != 0;
}

uint32_t KEYBOARD::TranslateScancode(int scancode, int keymodifiers)
{
    TARVOAPP::CheckCallerThread("KEYBOARD::TranslateScancode");
    int idx = FindKeyIdxFromScancode(scancode);
    uint32_t ch = 0;
    if (idx != -1) {
        // Back to the code the platform knows the key by.
        int scan = Keys[idx].Scancode;
        int prefix = 0;
        if (Keys[idx].Extscan) {
            scan = Keys[idx].Extscan;
            prefix = 0xE0;
        } else if (scan > kLastPlainScan) {
            scan = 0;
            for (PLATFORMKEY const& k : kPlatformKeys)
                if (k.tablescan == Keys[idx].Scancode) {
                    scan = k.scan;
                    prefix = k.prefix;
                    break;
                }
        }
        if (scan)
            ch = plat::TranslateScanCode(static_cast<uint8_t>(scan), static_cast<uint8_t>(prefix),
                                         static_cast<uint32_t>(keymodifiers));
    }
    LOGIT("KEYBOARD::TranslateScancode  %02x (%d) -> %04x/%c\n", scancode, scancode, ch,
          ch >= 0x20 && ch < 0x7F ? static_cast<int>(ch) : '.');
    return ch;
}

bool KEYBOARD::GetDetailsFromRawKeyEvent(TCarbonEvent& event, plat::KeyRecord* key, uint32_t* uniChar,
                                         uint32_t* virtcode, uint32_t* modifiers)
{
    plat::KeyRecord rec;
    if (event.GetParameter(plat::kParamKeyRecord, plat::kTypeKeyRecord, &rec) != plat::kNoErr)
        return false;
    if (key)
        *key = rec;
    if (uniChar)
        *uniChar = (rec.flags & plat::kKeyHasChar) ? static_cast<uint32_t>(rec.ch) : 0;
    if (virtcode) {
        int idx = FindKeyIdxFromPlatformScan(rec.scan, rec.scanPrefix);
        *virtcode = idx == -1 ? 0 : static_cast<uint32_t>(Keys[idx].Virtcode);
    }
    if (modifiers)
        *modifiers = rec.modifiers;
    return true;
}

void KEYBOARD::SetCharacter(KEYBOARDEVENT* record, uint32_t ch)
{
    UNICODE* uc = UNICODE::GetInstance();
    auto const c1252 = static_cast<uint8_t>(uc->ToForcedCodepageChar(static_cast<wchar_t>(ch), 1252));
    auto const c437 = static_cast<uint8_t>(uc->ToForcedCodepageChar(static_cast<wchar_t>(ch), 437));
    record->UniChar = ch;
    record->Flags |= KEYFLAG_CHAR;
    record->Flags = (record->Flags & ~KEYFLAG_CP1252MASK) | (static_cast<uint32_t>(c1252) << 9);
    record->OemChar = c437;
}

int KEYBOARD::TranslateKeyRecord(plat::KeyRecord const& key, KEYBOARDEVENT* record)
{
    *record = KEYBOARDEVENT();
    uint32_t const ch = (key.flags & plat::kKeyHasChar) ? static_cast<uint32_t>(key.ch) : 0;
    int const idx = FindKeyIdxFromPlatformScan(key.scan, key.scanPrefix);
    record->Char = ch;
    record->Virtcode = idx == -1 ? 0 : static_cast<uint32_t>(Keys[idx].Virtcode);
    record->Modifiers = key.modifiers;
    if (key.modifiers & (KEYMOD_SHIFT | KEYMOD_CAPSLOCK))
        record->Flags |= KEYFLAG_SHIFT;
    if (key.modifiers & KEYMOD_CONTROL)
        record->Flags |= KEYFLAG_CONTROL;
    if (key.modifiers & KEYMOD_OPTION)
        record->Flags |= KEYFLAG_OPTION;
    if (key.modifiers & KEYMOD_COMMAND)
        record->Flags |= KEYFLAG_COMMAND;
    record->Count = 1;
    if (idx != -1) {
        record->Valid = 1;
        record->Flags |= KEYFLAG_INTABLE;
        record->Scancode = static_cast<uint8_t>(Keys[idx].Scancode);
        if (Keys[idx].Keycode) {
            record->Flags |= KEYFLAG_KEYCODE;
            record->Keycode = static_cast<uint16_t>(Keys[idx].Keycode);
        } else if (uint16_t const nav = KeypadNavigationKey(key)) {
            // Without Num Lock the keypad's digits are the editing and
            // cursor keys; the scan code still says where they sit.
            record->Flags |= KEYFLAG_KEYCODE;
            record->Keycode = nav;
        }
    }
    if (record->Flags & KEYFLAG_KEYCODE) {
        FixVirtualKey(record);
    } else if (key.flags & plat::kKeyHasChar) {
        // Control+Space and Control+@ type NUL, a character too.
        record->Valid = 1;
        record->Codepage = 1252;
        SetCharacter(record, ch);
    }
    record->Shiftstate = static_cast<uint8_t>(((record->Flags & KEYFLAG_SHIFT) ? 1 : 0) |
                                              ((record->Flags & KEYFLAG_CONTROL) ? 2 : 0) |
                                              ((record->Flags & KEYFLAG_OPTION) ? 4 : 0) |
                                              ((record->Flags & KEYFLAG_COMMAND) ? 8 : 0));
    return record->Valid;
}

int KEYBOARD::TranslateToKeyboardEvent(TCarbonEvent& event, KEYBOARDEVENT* record)
{
    plat::KeyRecord key;
    if (!GetDetailsFromRawKeyEvent(event, &key, nullptr, nullptr, nullptr)) {
        *record = KEYBOARDEVENT();
        return 0;
    }
    return TranslateKeyRecord(key, record);
}

void KEYBOARD::FixVirtualKey(KEYBOARDEVENT* record)
{
    switch (record->Keycode) {
    case 0x2C: // print screen, scroll lock and pause arrive as F13, F14, F15
        record->Keycode = 124;
        return;
    case 0x91:
        record->Keycode = 125;
        return;
    case 0x13:
        record->Keycode = 126;
        return;
    case 8:
    case 9:
    case 13: {
        bool const control = record->Modifiers & KEYMOD_CONTROL;
        uint32_t typed = record->Keycode;
        if (control) {
            if (record->Keycode == 9)
                return; // control+tab types nothing
            typed = record->Keycode == 8 ? 127 : 10;
        }
        SetCharacter(record, typed);
        return;
    }
    default:
        return;
    }
}

int KEYBOARD::HandleKeyboardEvent(plat::HandlerCall*, TCarbonEvent& event, KEYBOARDEVENT* events, int* count,
                                  bool* handled)
{
    int const room = count ? *count : 0;
    if (events && room > 0)
        events[0] = KEYBOARDEVENT();
    int written = 0;
    bool consumed = false;
    auto append = [&](KEYBOARDEVENT const& rec) {
        if (written < room && events)
            events[written++] = rec;
    };

    FOURCHARCODE const cls = event.GetClass();
    uint32_t const kind = event.GetKind();
    if (cls == plat::kEventClassKeyboard) {
        if (kind == plat::kEventKeyDown || kind == plat::kEventKeyRepeat || kind == plat::kEventKeyUp) {
            plat::KeyRecord key;
            uint32_t uc = 0, virt = 0, mods = 0;
            if (GetDetailsFromRawKeyEvent(event, &key, &uc, &virt, &mods)) {
                LOGIT("kEventRawKey kind= %3d, keycode= %02x (%d), modifiers= %04x, uc=%04x/%c\n",
                      static_cast<int>(kind), virt, static_cast<int>(virt), mods, uc,
                      uc >= 0x20 && uc < 0x7F ? static_cast<int>(uc) : '.');
                KEYBOARDEVENT rec;
                TranslateKeyRecord(key, &rec);
                if (written < room) {
                    append(rec);
                    consumed = true;
                }
            }
        } else if (kind == plat::kEventKeyModifiersChanged) {
            uint32_t mods = 0;
            event.GetParameter(plat::kParamKeyModifiers, plat::kTypeUInt32, &mods);
            LOGIT("kEventRawKeyModifiersChanged %04x\n", mods);
        } else if (kind == 5 || kind == 6) {
            LOGIT("kEventHotKey kind= %x\n", static_cast<unsigned>(kind));
        }
    } else if (cls == plat::kEventClassTextInput && kind == plat::kEventTextForKey) {
        // The text is UTF-32; more than a few thousand characters cannot
        // come from typing and are not read.
        char32_t text[4096];
        size_t bytes = 0;
        if (event.GetEventRef().GetParamBytes(plat::kParamText, plat::kTypeUTF32, text, sizeof text, &bytes) !=
            plat::kNoErr)
            bytes = 0;
        size_t const units = std::min(bytes, sizeof text) / sizeof(char32_t);
        for (size_t i = 0; i < units; ++i)
            LOGIT("kEventTextInputUnicodeForKeyEvent    %3d %04x %c\n", static_cast<int>(i),
                  static_cast<unsigned>(text[i]), text[i] >= 0x20 && text[i] < 0x7F ? static_cast<int>(text[i]) : '.');
        if (units > 0) {
            size_t next = 0;
            plat::KeyRecord key;
            if (GetDetailsFromRawKeyEvent(event, &key, nullptr, nullptr, nullptr)) {
                KEYBOARDEVENT rec;
                TranslateKeyRecord(key, &rec);
                append(rec);
                next = 1;
            }
            // Text without a key (an input method's result) or more text
            // than the key's own character (a compose sequence): every
            // further character becomes a record of its own, so none is
            // lost.
            plat::KeyRecord chr;
            chr.flags = plat::kKeyHasChar;
            event.GetParameter(plat::kParamKeyModifiers, plat::kTypeUInt32, &chr.modifiers);
            for (size_t i = next; i < units; ++i) {
                chr.ch = text[i];
                KEYBOARDEVENT rec;
                TranslateKeyRecord(chr, &rec);
                append(rec);
            }
        }
    }
    if (count)
        *count = written;
    if (handled)
        *handled = consumed;
    return 0;
}
