// The keyboard dispatcher of a session (ProcessChar), door-key mode and
// the menu shortcuts that the key map takes over.
//
// No typed character reaches the diagnostic log unless the key category is
// switched on explicitly: what users type includes their passwords.
#include "program/screen/keymap.h"

#include "program/settings/programsettings.h"
#include "program/settings/sessionprofile.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/strings.h"
#include "velmot/core/unicode.h"
#include "velmot/gui/winmenu.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cwctype>

namespace {

// KEYBOARDEVENT::Flags beyond the toolkit's named bits.
constexpr uint32_t kUnicodeValid = 0x01;
constexpr uint32_t kCharValid = 0x02;
constexpr uint32_t kReleased = 0x100;
// KEYBOARDEVENT::Shiftstate.
constexpr uint8_t kStateShift = 1, kStateControl = 2, kStateAlt = 4;

// Log categories: the key trace also on the screen, and typed characters.
constexpr int kLogKeyTrace = 16;
constexpr int kLogKeys = 0x100000 | 9;

// Session and main-window events.
constexpr int kEventScrollback = 8488;
constexpr int kEventUserFKey = 8861;
constexpr int kEventCopy = 8352;
constexpr int kEventSendClipboard = 8355;
constexpr int kEventNextTab = 8422;
constexpr int kEventPreviousTab = 8423;
constexpr int kEventScrollLock = 8293;

// Characters that need Option on some keyboards and are typed as they are.
constexpr wchar_t kOptionCharacters[] = L"#[|]{\\}@~";

// Cancel keeps this many of the received characters.
constexpr int kCancelKeep = 160;
constexpr int kCancelWaitMs = 500;

// Menus nest no deeper than this.
constexpr int kMaxMenuDepth = 16;

// Door-key mode: the code sent after a NUL, by virtual key, in the columns
// plain, Shift, Control, Alt.
struct DOORKEY {
    uint16_t Vk;
    uint8_t Codes[4];
};
constexpr DOORKEY kDoorKeys[] = {
    {0x70, {59, 84, 94, 104}},    {0x71, {60, 85, 95, 105}},    {0x72, {61, 86, 96, 106}},
    {0x73, {62, 87, 97, 107}},    {0x74, {63, 88, 98, 108}},    {0x75, {64, 89, 99, 109}},
    {0x76, {65, 90, 100, 110}},   {0x77, {66, 91, 101, 111}},   {0x78, {67, 92, 102, 112}},
    {0x79, {68, 93, 103, 113}},   {0x7A, {133, 135, 137, 139}}, {0x7B, {134, 136, 138, 140}},
    {0x24, {71, 71, 119, 151}},   {0x26, {72, 72, 141, 152}},   {0x21, {73, 73, 132, 153}},
    {0x25, {75, 75, 115, 155}},   {0x27, {77, 77, 116, 157}},   {0x23, {79, 79, 117, 159}},
    {0x28, {80, 80, 145, 160}},   {0x22, {81, 81, 118, 161}},   {0x2D, {82, 82, 146, 162}},
    {0x2E, {83, 83, 147, 163}},   {0x09, {9, 15, 9, 9}},
};

uint8_t Ansi(KEYBOARDEVENT const& e)
{
    return static_cast<uint8_t>((e.Flags & KEYFLAG_CP1252MASK) >> 9);
}

void SetAnsi(KEYBOARDEVENT& e, uint8_t c)
{
    e.Flags = (e.Flags & ~KEYFLAG_CP1252MASK) | (static_cast<uint32_t>(c) << 9);
}

// Whether the converter knows the page (an unknown one would be reported
// on every key).
bool KnownPage(int cp)
{
    return cp == 1252 || cp == 437 || cp == 850 || (cp > 0 && UNICODE::GetInstance()->FindCodepage(cp) >= 0);
}

char Shown(uint32_t c)
{
    return c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
}

// Whether two key codes name one key: the scan codes or the virtual-key
// codes agree where both are given.
bool SameKey(uint32_t a, uint32_t b)
{
    uint32_t const scan = a & 0xFF, vk = (a >> 8) & 0xFF;
    return (scan != 0 && scan == (b & 0xFF)) || (vk != 0 && vk == ((b >> 8) & 0xFF));
}

} // namespace

int KEYMAPPER::ProcessChar(KEYBOARDEVENT const& event)
{
    KEYBOARDEVENT first = event;
    // The keyboard layer reports Caps Lock as Shift too; the dispatcher
    // goes by the Shift key itself.
    bool const shift = Host.KeyState(16);
    first.Flags = shift ? first.Flags | KEYFLAG_SHIFT : first.Flags & ~KEYFLAG_SHIFT;
    first.Shiftstate = static_cast<uint8_t>(shift ? first.Shiftstate | kStateShift : first.Shiftstate & ~kStateShift);
    int result = 0;
    // Each repeat is the same key again; a count of 0 still is one key.
    for (int count = std::max<int>(first.Count, 1); count > 0; --count) {
        KEYBOARDEVENT ev = first;
        if (!Pass(ev, &result))
            break;
    }
    LOGIT("KEYMAPPER::ProcessChar done\n");
    return result;
}

bool KEYMAPPER::Pass(KEYBOARDEVENT& ev, int* result)
{
    SESSIONPROFILEDATA const* profile = Host.Profile();
    PROGRAMSETTINGSDATA const* settings = Host.Settings();
    int const kbdcp = profile && KnownPage(profile->KbdCodePage) ? profile->KbdCodePage : 0;
    UNICODE* uc = UNICODE::GetInstance();

    if (gDoLogit) {
        char text[200];
        snprintf(text, sizeof text,
                 "flags(Up%c Sh%c Ctrl%c Alt%c Ch%c Vrt%c Sc%c), R=%d, ansi=%02Xh, oem=%02Xh, uni=%04Xh, VRT=%02Xh, "
                 "SC=%02Xh\n",
                 ev.Flags & kReleased ? '+' : '-', ev.Flags & KEYFLAG_SHIFT ? '+' : '-',
                 ev.Flags & KEYFLAG_CONTROL ? '+' : '-', ev.Flags & KEYFLAG_OPTION ? '+' : '-',
                 ev.Flags & kCharValid ? '+' : '-', ev.Flags & KEYFLAG_KEYCODE ? '+' : '-',
                 ev.Flags & KEYFLAG_INTABLE ? '+' : '-', ev.Count, Ansi(ev), ev.OemChar, ev.UniChar, ev.Keycode,
                 ev.Scancode);
        if (LOGIF(kLogKeyTrace, nullptr)) {
            std::string shown = text;
            shown += '\r';
            Host.EmulationPuts(shown.c_str());
        }
        LOGIF(kLogKeys, "KEYMAPPER::ProcessChar kbdevent is %s", text);
    }

    // The keyboard's code page: the byte a character beyond Latin-1 has
    // there.
    if ((ev.Flags & kUnicodeValid) && ev.UniChar > 255 && kbdcp != 0)
        SetAnsi(ev, static_cast<uint8_t>(uc->ToForcedCodepageChar(static_cast<wchar_t>(ev.UniChar), kbdcp)));

    if (profile && profile->AutoUppercase && (ev.Flags & kCharValid))
        AutoUppercase(ev);

    bool const release = (ev.Flags & kReleased) != 0;
    bool const vkValid = (ev.Flags & KEYFLAG_KEYCODE) != 0;
    bool taken = false;
    if (!release)
        taken = Host.ScriptProcessKey(ev) != 0;
    if (!taken && !release && vkValid && (ev.Keycode == 27 || ev.Keycode == 3))
        taken = Host.OnEscape() != 0 || Host.OnEscapeDial() != 0;
    if (!taken) {
        int const rc = ProcessKeymap(1, ev);
        LOGIT("KEYMAPPER::ProcessChar key_ProcessKeymap rc=%d\n", rc);
        taken = rc != 0;
    }
    if (!taken) {
        int const rc = ProcessDoorKey(ev);
        LOGIT("KEYMAPPER::ProcessChar ProcessDoorKey rc=%d\n", rc);
        taken = rc != 0;
    }

    // Characters that some keyboards type with Option are typed as they
    // are.
    if ((ev.Flags & KEYFLAG_OPTION) && ev.UniChar != 0 && ev.UniChar < 0x80 &&
        wcschr(kOptionCharacters, static_cast<wchar_t>(ev.UniChar))) {
        ev.Flags &= ~KEYFLAG_OPTION;
        ev.Shiftstate = static_cast<uint8_t>(ev.Shiftstate & ~kStateAlt);
        ev.Modifiers &= ~KEYMOD_OPTION;
    }
    bool const ctrl = (ev.Flags & KEYFLAG_CONTROL) != 0;
    bool const alt = (ev.Flags & KEYFLAG_OPTION) != 0;
    bool const shift = (ev.Flags & KEYFLAG_SHIFT) != 0;

    // The user's function keys of the profile.
    if (!taken && !release && vkValid && ev.Keycode >= 0x70 && ev.Keycode <= 0x7B && !ctrl && !alt) {
        int const index = ev.Keycode - 0x70 + (shift ? 12 : 0);
        if (profile && profile->FKey[index][0]) {
            Host.PostEvent(kEventUserFKey, index);
            taken = true;
        }
    }

    if (vkValid && ev.Keycode == 0) {
        taken = true;
        LOGIT("KEYMAPPER::ProcessChar Marking KEY_NULL as done rc=%d\n", 1);
    } else if (!taken) {
        if (release)
            taken = Host.EmulationProcessKey(ev) != 0;
        else
            taken = Host.CommProcessKey(ev) != 0 || Host.EmulationProcessKey(ev) != 0;
    }
    if (release) {
        *result = -1;
        return false;
    }
    LOGIT("KEYMAPPER::ProcessChar this->Session.Emulation.ProcessKey rc=%d\n", taken ? 1 : 0);
    if (taken)
        return true;

    // Shift+Page Up and Shift+Up open the scroll-back.
    if (vkValid && !Host.ScrollbackKeysOff()) {
        if (ev.Keycode == 0x21 && shift && !ctrl && !alt) {
            Host.ProcessEvent(kEventScrollback, 20);
            return true;
        }
        if (ev.Keycode == 0x26 && ev.Shiftstate == kStateShift) {
            Host.ProcessEvent(kEventScrollback, 1);
            return true;
        }
    }

    if (settings && settings->DoTabsKeyShortcuts && Host.TabsProcessKey(ev))
        return true;

    // Backspace, Tab and Return type what their virtual key says below,
    // not the character the keyboard gives them.
    if (vkValid && (ev.Keycode == 8 || ev.Keycode == 9 || ev.Keycode == 13)) {
        ev.Flags &= ~kCharValid;
        SetAnsi(ev, 0);
    }
    uint8_t out = Ansi(ev);
    LOGIF(kLogKeys, "KEYMAPPER::ProcessChar normal processing, ch_out= %d/%c\n", out, Shown(out));
    if ((ev.Flags & kCharValid) && shift && Host.TestArg("XCAPSLOCK") && out < 0x80 && islower(out))
        out = static_cast<uint8_t>(toupper(out));

    // A character typed without Control, Alt or Command.
    if ((ev.Flags & kCharValid) && !ctrl && !alt && !(ev.Flags & KEYFLAG_COMMAND)) {
        LOGIT("KEYMAPPER::ProcessChar feed key\n");
        wchar_t key = 0;
        if (ev.Flags & kUnicodeValid) {
            key = static_cast<wchar_t>(ev.UniChar);
        } else if (kbdcp == 0) {
            key = out;
        } else {
            key = uc->FromCodepage(static_cast<char>(Ansi(ev)), kbdcp);
            LOGIF(kLogKeys, "KEYMAPPER::ProcessChar Unicode translation %02x/%c (%d) -> %04x\n", Ansi(ev),
                  Shown(Ansi(ev)), kbdcp, static_cast<unsigned>(key));
        }
        Host.FeedKey(key, false);
        *result = 1;
        return true;
    }

    if (vkValid && ((ev.Keycode >= 0x70 && ev.Keycode <= 0x7B && ev.Shiftstate == kStateControl) || !alt)) {
        OwnVirtualKey(ev);
        *result = 1;
        return true;
    }

    if (ControlAndAlt(ev) < 0) {
        *result = -1;
        return false;
    }
    *result = 1;
    return true;
}

void KEYMAPPER::AutoUppercase(KEYBOARDEVENT& ev)
{
    SESSIONPROFILEDATA const* profile = Host.Profile();
    bool const lower = (ev.Flags & KEYFLAG_SHIFT) && !profile->AutoUppercaseAlways;
    LOGIF(kLogKeys, "KEYMAPPER::ProcessChar before AutoUppercase, kbdevent.ansi= %d/%c\n", Ansi(ev), Shown(Ansi(ev)));
    UNICODE* uc = UNICODE::GetInstance();
    wint_t const c = (ev.Flags & kUnicodeValid) ? static_cast<wint_t>(ev.UniChar) : Ansi(ev);
    wint_t changed = c;
    if (!lower && iswlower(c))
        changed = towupper(c);
    else if (lower && iswupper(c))
        changed = towlower(c);
    if (changed != c) {
        ev.UniChar = changed;
        SetAnsi(ev, static_cast<uint8_t>(uc->ToForcedCodepageChar(static_cast<wchar_t>(changed), 1252)));
        ev.OemChar = static_cast<uint8_t>(uc->ToForcedCodepageChar(static_cast<wchar_t>(changed), 437));
    } else if (profile->KbdCodePage == 0 || profile->KbdCodePage == 1252) {
        // The German umlauts, which the locale may not know as letters.
        static constexpr uint8_t kUpper[] = {0xC4, 0xD6, 0xDC};
        static constexpr uint8_t kLower[] = {0xE4, 0xF6, 0xFC};
        uint8_t const ansi = Ansi(ev);
        for (int i = 0; i < 3; ++i) {
            uint8_t const from = lower ? kUpper[i] : kLower[i];
            uint8_t const to = lower ? kLower[i] : kUpper[i];
            if (ansi == from) {
                SetAnsi(ev, to);
                ev.UniChar = to;
                ev.OemChar = STRING::AnsiToDos[to];
            }
        }
    }
    LOGIF(kLogKeys, "KEYMAPPER::ProcessChar after AutoUppercase, kbdevent.ansi= %d/%c, kbdevent.oem= %d/%c\n",
          Ansi(ev), Shown(Ansi(ev)), ev.OemChar, Shown(ev.OemChar));
}

bool KEYMAPPER::OwnVirtualKey(KEYBOARDEVENT const& ev)
{
    bool const shift = (ev.Flags & KEYFLAG_SHIFT) != 0;
    bool const ctrl = (ev.Flags & KEYFLAG_CONTROL) != 0;
    if (ev.Keycode >= 0x70 && ev.Keycode <= 0x7B && ev.Shiftstate == kStateControl) {
        Host.DialByHotkey(ev.Keycode - 0x70 + 1, 1);
        return true;
    }
    switch (ev.Keycode) {
    case 3: // Cancel: ^C, then what the host sends meanwhile is mostly dropped
        Host.FeedKey(3, false);
        Host.Wait(kCancelWaitMs);
        Host.FlushInputBuffer(kCancelKeep);
        break;
    case 8:
        if (!shift)
            Host.FeedKey(ctrl ? 127 : 8, false);
        break;
    case 9:
        if (ctrl)
            Host.PostMainEvent(shift ? kEventPreviousTab : kEventNextTab, 0);
        else if (!shift)
            Host.FeedKey(9, false);
        break;
    case 13:
        Host.FeedKey(ctrl ? 10 : 13, false);
        break;
    case 19: {
        bool const paused = Host.IsPaused();
        if (!paused)
            Host.Notify(OSYS::GetStringFromResource("IDS_PAUSETOCONTINUE").Buf(), 5);
        Host.SetPaused(!paused);
        break;
    }
    case 27:
        if (!shift && !ctrl)
            Host.FeedKey(27, false);
        break;
    case 46:
        if (!shift && !ctrl)
            Host.FeedKey(127, false);
        break;
    case 145: {
        SESSIONPROFILEDATA const* profile = Host.Profile();
        if (profile && profile->ScrlLock == 1)
            Host.ProcessMainEvent(kEventScrollLock, Host.KeyState(145) ? 1 : 0);
        break;
    }
    default:
        break;
    }
    return true;
}

int KEYMAPPER::ControlAndAlt(KEYBOARDEVENT const& ev)
{
    bool const ctrl = (ev.Flags & KEYFLAG_CONTROL) != 0;
    bool const alt = (ev.Flags & KEYFLAG_OPTION) != 0;
    uint8_t const ch = Ansi(ev);
    if (ctrl && !alt) {
        // A Control combination that types no character is not ours.
        if (!(ev.Flags & kCharValid))
            return -1;
        if (!((ch >= 0x40 && ch <= 0x7A) || ch <= 0x20 || ch == 0x7F) || ev.Scancode == 0x46)
            return -1;
        PROGRAMSETTINGSDATA const* settings = Host.Settings();
        if (settings && settings->PasteWithCtrlV) {
            if (ch == 3 && Host.IsTextMarked()) {
                Host.ProcessEvent(kEventCopy, 0);
                return 1;
            }
            if (ch == 22) {
                Host.PostEvent(kEventSendClipboard, 0);
                return 1;
            }
        }
        // DEL comes as itself (Control+8 and Control+?, as in xterm).
        Host.FeedKey(static_cast<wchar_t>(ch == 0x7F ? ch : ch & 0x1F), false);
        return 1;
    }
    if (alt && !ctrl)
        return (ch >= 'a' && ch <= 'z') || ch == '/' ? 1 : -1;
    return -1;
}

int KEYMAPPER::ProcessDoorKey(KEYBOARDEVENT const& ev)
{
    SESSIONPROFILEDATA const* profile = Host.Profile();
    if (!profile || profile->ScrlLock != 2 || (ev.Flags & kReleased) || !Host.KeyState(145))
        return 0;
    bool const shift = (ev.Flags & KEYFLAG_SHIFT) != 0;
    bool const ctrl = (ev.Flags & KEYFLAG_CONTROL) != 0;
    bool const alt = (ev.Flags & KEYFLAG_OPTION) != 0;
    // The codes go out as bytes, past the session's code-page conversion.
    auto send = [&](int code) {
        Host.FeedKey(0, true);
        Host.FeedKey(static_cast<wchar_t>(code), true);
    };
    if (ev.Flags & KEYFLAG_KEYCODE) {
        if (ev.Keycode == 27 || ev.Keycode == 8) {
            Host.FeedKey(static_cast<wchar_t>(ev.Keycode), false);
        } else {
            int const column = alt ? 3 : ctrl ? 2 : shift ? 1 : 0;
            for (DOORKEY const& d : kDoorKeys)
                if (d.Vk == ev.Keycode)
                    send(d.Codes[column]);
        }
        return 1;
    }
    bool const typed = (ev.Flags & kCharValid) != 0;
    if (alt && !ctrl && typed)
        send(ev.Scancode + (ev.Scancode <= 14 ? 118 : 0));
    else if (ctrl && !alt && typed && Ansi(ev) <= 30)
        Host.FeedKey(Ansi(ev), false);
    return 1;
}

// ---------------------------------------------------------------------------
// Menu shortcuts

void KEYMAPPER::InitAccel()
{
    if (NumMenuShortcuts != 0)
        return;
    if (MENU* bar = Host.MenuBar())
        BuildShortcutList(*bar, 0);
    LOGIT("KEYMAPPER::InitAccel %d menu shortcuts\n", NumMenuShortcuts);
}

void KEYMAPPER::BuildShortcutList(MENU& menu, int level)
{
    if (level > kMaxMenuDepth)
        return;
    int const items = menu.GetNumMenuItems();
    for (int pos = 0; pos < items; ++pos) {
        if (plat::MenuRef sub = menu.GetSubmenuFromPos(pos)) {
            MENU submenu(sub);
            BuildShortcutList(submenu, level + 1);
            continue;
        }
        int const id = menu.GetMenuIdFromPos(pos);
        int key = 0;
        bool isvirtual = false;
        uint32_t modifiers = 0;
        if (id <= 0 || !menu.GetMenuItemShortcut(id, &key, &isvirtual, &modifiers))
            continue;
        if (NumMenuShortcuts >= MAXSHORTCUTS) {
            LOGIT("KEYMAPPER::BuildShortcutList more than %d shortcuts; the rest are not recorded\n", MAXSHORTCUTS);
            return;
        }
        MENUSHORTCUT& s = MenuShortcuts[NumMenuShortcuts++];
        s.Command = static_cast<uint32_t>(id);
        s.Key = static_cast<uint32_t>(key);
        s.Virtual = isvirtual ? 1 : 0;
        s.Modifiers = modifiers;
        s.Scancode = isvirtual && KEYBOARD::FindKeyIdxFromKeycode(key) != -1
                         ? static_cast<uint32_t>(Keyboard->ConvertKeyToScancode(key))
                         : 0;
    }
}

void KEYMAPPER::UpdateMainMenuShortcuts()
{
    InitAccel();
    MENU* bar = Host.MenuBar();
    if (!bar)
        return;
    for (int i = 0; i < NumMenuShortcuts; ++i) {
        MENUSHORTCUT const& s = MenuShortcuts[i];
        uint32_t key = s.Scancode;
        bool collides = false;
        for (KEYDEF const& e : Table) {
            if (e.Keycode == 0 || e.Remap[0] == 0)
                continue;
            // A character shortcut names no key: the first entry whose key
            // types that character on this keyboard gives it one.
            if (key == 0 && !s.Virtual) {
                uint32_t const ch = Keyboard->TranslateScancode(static_cast<int>(e.Keycode & 0xFF), 0);
                if (ch != 0 && towlower(static_cast<wint_t>(ch)) == towlower(static_cast<wint_t>(s.Key)))
                    key = e.Keycode;
            }
            uint32_t const modifiers = ((e.Flags & FLAG_SHIFT) ? MENUMOD_SHIFT : 0u) |
                                       ((e.Flags & FLAG_CTRL) ? MENUMOD_CONTROL : 0u) |
                                       ((e.Flags & FLAG_ALT) ? MENUMOD_OPTION : 0u) |
                                       ((e.Flags & FLAG_CMD) ? MENUMOD_COMMAND : 0u);
            // Any chord that types the shortcut (Command is Ctrl+Shift or
            // Super here); one that is only shown, by the keys it shows.
            std::vector<uint32_t> chords = MENU::ShortcutChords(s.Modifiers);
            if (chords.empty())
                chords.push_back(s.Modifiers & ~MENUMOD_TAKEN);
            bool const sameChord = std::find(chords.begin(), chords.end(), modifiers) != chords.end();
            if (key != 0 && SameKey(e.Keycode, key) && sameChord) {
                collides = true;
                break;
            }
        }
        if (collides)
            bar->ClearMenuItemShortcut(static_cast<int>(s.Command));
        else
            bar->SetMenuItemShortcut(static_cast<int>(s.Command), static_cast<int>(s.Key), s.Virtual != 0,
                                     s.Modifiers);
    }
}
