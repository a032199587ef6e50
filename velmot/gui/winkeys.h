// The keyboard table and key events.
//
// The toolkit and the program speak of keys in three code systems: PC
// keyboard scan codes (the key mapper and its files), Windows-style
// virtual-key codes (every handler of special keys) and the platform's
// virtual key codes (menu shortcuts). KEYBOARD holds one table that joins
// the three for the 109 keys of an extended keyboard, answers lookups
// between them, reads the modifier state, tells which character a key types
// on the current layout and turns key events into KEYBOARDEVENT records.
//
// The platform names each key by its PC scan code and prefix (E0 for the
// extended keys, E1 for Pause); FindKeyIdxFromPlatformScan finds the
// table entry of such a key, so every record carries the table's codes.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/gui/winevents.h"

#include "platform/events/keys.h"

// One key event as the windows' keyboard handlers receive it.
//
// Characters are UTF-32 here (the platform's key events carry whole code
// points), so characters outside the Basic Multilingual Plane arrive
// intact.
struct KEYBOARDEVENT {
    int8_t Valid = 0;       // 1: a known key or a character
    uint32_t Char = 0;      // the character of the event as the platform reports it
    uint32_t Virtcode = 0;  // the platform's virtual key code (from the table; 0 for keys not in it)
    uint32_t Modifiers = 0; // KEYMOD_* bits
    uint32_t Flags = 0;     // KEYFLAG_* bits, and the code page 1252 character in bits 9 to 16
    uint16_t Codepage = 0;  // 1252 when the character was converted, else 0
    uint8_t Count = 0;      // always 1
    uint8_t Scancode = 0;   // the toolkit's scan code from the table
    uint8_t OemChar = 0;    // the character in code page 437
    uint16_t Keycode = 0;   // the Windows-style virtual-key code
    uint32_t UniChar = 0;   // the character the event types (may differ from Char for special keys)
    uint8_t Shiftstate = 0; // 1 shift or caps lock, 2 control, 4 option, 8 command
};

// KEYBOARDEVENT::Modifiers (the platform's modifier bits).
constexpr uint32_t KEYMOD_COMMAND = plat::kModCommand; // 0x100
constexpr uint32_t KEYMOD_SHIFT = plat::kModShift;     // 0x200
constexpr uint32_t KEYMOD_CAPSLOCK = plat::kModCapsLock; // 0x400
constexpr uint32_t KEYMOD_OPTION = plat::kModOption;   // 0x800
constexpr uint32_t KEYMOD_CONTROL = plat::kModControl; // 0x1000

// KEYBOARDEVENT::Flags.
constexpr uint32_t KEYFLAG_CHAR = 0x03;     // a character is present (both bits)
constexpr uint32_t KEYFLAG_KEYCODE = 0x04;  // Keycode is set
constexpr uint32_t KEYFLAG_INTABLE = 0x08;  // the key is in the key table
constexpr uint32_t KEYFLAG_SHIFT = 0x10;    // shift or caps lock held
constexpr uint32_t KEYFLAG_CONTROL = 0x20;
constexpr uint32_t KEYFLAG_OPTION = 0x40;
constexpr uint32_t KEYFLAG_COMMAND = 0x80;
constexpr uint32_t KEYFLAG_CP1252MASK = 0x1FE00; // the character in code page 1252, << 9

class VELMOT_EXPORT KEYBOARD {
public:
    // One key of the table.
    struct KEY {
        int32_t Extscan;  // scan code sent with the E0 prefix, 0 when none
        int32_t Scancode; // the toolkit's unique scan code
        int32_t Virtcode; // the platform's virtual key code
        int32_t Keycode;  // Windows-style virtual-key code, 0 for keys that type characters
    };
    static constexpr int MAXKEYS = 196;

    static KEYBOARD* GetInstance();
    static void ReleaseInstance();
    virtual ~KEYBOARD();

    // Index of the first entry with this value in that column, or -1.
    static int FindKeyIdxFromExtscan(int extscan);
    static int FindKeyIdxFromScancode(int scancode);
    static int FindKeyIdxFromVirtcode(int virtcode);
    static int FindKeyIdxFromKeycode(int keycode);
    // The entry of a key as the platform names it: its set-1 scan code and
    // prefix (0, 0xE0 or 0xE1). -1 for keys the table does not hold.
    static int FindKeyIdxFromPlatformScan(int scan, int prefix);
    static KEY const& GetKey(int idx) { return Keys[idx]; }
    static int GetNumKeys() { return NumKeys; }

    // Conversions through the first entry with that code; a code no entry
    // has is reported ("idx!=-1") and gives 0.
    int ConvertKeyToScancode(int keycode);
    int ConvertKeyToVirtcode(int keycode);
    int ConvertVirtcodeToKey(int virtcode);

    // Whether the key is held now (shift 16, control 17, alt 18, num lock
    // 144, caps lock 159, function 160, scroll lock 145 always up). Main
    // thread.
    bool GetKeyState(int keycode);

    // The character the key with this toolkit scan code types on the
    // current layout (KEYMOD_SHIFT for the shifted one); 0 for none. Main
    // thread.
    uint32_t TranslateScancode(int scancode, int keymodifiers);

    // Turns a keyboard ('keyb') or text-input ('text') event into records.
    // On entry *count is the room in `events`; on return the number written.
    // *handled tells whether the event is consumed (raw key events). Returns 0.
    int HandleKeyboardEvent(plat::HandlerCall* call, TCarbonEvent& event, KEYBOARDEVENT* events, int* count,
                            bool* handled);
    // One record from a raw key event (or from the key record itself);
    // returns Valid.
    int TranslateToKeyboardEvent(TCarbonEvent& event, KEYBOARDEVENT* record);
    int TranslateKeyRecord(plat::KeyRecord const& key, KEYBOARDEVENT* record);
    void FixVirtualKey(KEYBOARDEVENT* record);
    // Details of a raw key event; each output is optional.
    bool GetDetailsFromRawKeyEvent(TCarbonEvent& event, plat::KeyRecord* key, uint32_t* uniChar,
                                   uint32_t* virtcode, uint32_t* modifiers);
    // Tabs and line ends to blanks, runs of blanks to one, both ends trimmed.
    static STRING CompressMap(char const* map);

private:
    KEYBOARD();
    static void BuildTable();
    static void SetCharacter(KEYBOARDEVENT* record, uint32_t ch);

    static KEY Keys[MAXKEYS];
    static int NumKeys;
    static KEYBOARD* pInstance;
};
