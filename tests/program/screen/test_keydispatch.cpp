// The keyboard dispatcher as a table: a key event with the keys held and
// the locks on, the settings and the key map, against what the dispatcher
// answers and whom it asked, in order, and what was typed.
#include "tests/program/screen/fakekeyhost.h"
#include "tests/program/screen/keyevents.h"

#include <gtest/gtest.h>

#include <functional>

using namespace keytest;

namespace {

using Strings = std::vector<std::string>;
using Setup = std::function<void(FAKEKEYHOST&, KEYMAPPER&)>;

// Who is asked about a press that nobody takes, before the dispatcher's
// own work.
Strings Asked(Strings then = {})
{
    Strings calls{"script", "comm", "emu"};
    calls.insert(calls.end(), then.begin(), then.end());
    return calls;
}

void Map(KEYMAPPER& map, uint32_t keycode, uint32_t flags, wchar_t const* text)
{
    for (auto& e : map.Table) {
        if (e.Keycode == 0) {
            e.Keycode = keycode;
            e.Flags = flags;
            wcscpy(e.Remap, text);
            return;
        }
    }
}

KEYBOARDEVENT WithKeycode(KEYBOARDEVENT e, uint16_t vk)
{
    e.Keycode = vk;
    e.Flags |= KEYFLAG_KEYCODE;
    return e;
}

KEYBOARDEVENT Repeated(KEYBOARDEVENT e, uint8_t count)
{
    e.Count = count;
    return e;
}

struct Row {
    char const* what;
    KEYBOARDEVENT event;
    std::set<int> held; // 16 Shift, 144 Num Lock, 145 Scroll Lock
    Setup setup;
    int result;
    Strings calls;
};

void Dispatch(std::vector<Row> const& rows)
{
    for (Row const& r : rows) {
        SCOPED_TRACE(r.what);
        FAKEKEYHOST host;
        KEYMAPPER map(host);
        host.Keys = r.held;
        if (r.setup)
            r.setup(host, map);
        EXPECT_EQ(map.ProcessChar(r.event), r.result);
        EXPECT_EQ(host.Calls, r.calls);
    }
}

auto const kPasteWithCtrlV = [](FAKEKEYHOST& h, KEYMAPPER&) { h.SettingsData->PasteWithCtrlV = 1; };
auto const kDoorKeys = [](FAKEKEYHOST& h, KEYMAPPER&) { h.ProfileData->ScrlLock = 2; };
auto const kUpper = [](FAKEKEYHOST& h, KEYMAPPER&) { h.ProfileData->AutoUppercase = 1; };

TEST(KeyDispatch, TheOrderOfWhoGetsAKey)
{
    Dispatch({
        {"a types a", Char(scan::A, 'a'), {}, {}, 1, Asked({"feed 61"})},
        {"a script waiting for a key takes it", Char(scan::A, 'a'), {},
         [](FAKEKEYHOST& h, KEYMAPPER&) { h.ScriptTakes = 1; }, 0, {"script"}},
        {"Escape ends a paced text first", Key(scan::Escape), {},
         [](FAKEKEYHOST& h, KEYMAPPER&) { h.EscapeTakes = 1; }, 0, {"script", "escape"}},
        {"then cancels a connection attempt", Key(scan::Escape), {},
         [](FAKEKEYHOST& h, KEYMAPPER&) { h.EscapeDialTakes = 1; }, 0, {"script", "escape", "escapedial"}},
        {"else Escape types ESC", Key(scan::Escape), {}, {}, 1,
         {"script", "escape", "escapedial", "comm", "emu", "feed 1b"}},
        {"a key map entry comes before the device", Key(scan::F5), {},
         [](FAKEKEYHOST&, KEYMAPPER& m) { Map(m, 0x3F, 0x44, L"k5"); }, 0, {"script", "do k5"}},
        {"an entry for the Num Lock state that is not there", Key(scan::F5), {144},
         [](FAKEKEYHOST&, KEYMAPPER& m) { Map(m, 0x3F, 0x40, L"k5"); }, 1, Asked()},
        {"the device takes a key", Key(scan::Up, 0xE0), {}, [](FAKEKEYHOST& h, KEYMAPPER&) { h.CommTakes = 1; }, 0,
         {"script", "comm"}},
        {"then the emulation", Key(scan::Up, 0xE0), {}, [](FAKEKEYHOST& h, KEYMAPPER&) { h.EmuTakes = 1; }, 0,
         Asked()},
        {"a release goes to the emulation only and is left", Released(Char(scan::A, 'a')), {}, {}, -1, {"emu up"}},
        {"even when the emulation takes it", Released(Char(scan::A, 'a')), {},
         [](FAKEKEYHOST& h, KEYMAPPER&) { h.EmuTakes = 1; }, -1, {"emu up"}},
        {"the release of Print Screen goes through the key map", Released(WithKeycode(Key(0x37, 0xE0), 44)), {},
         [](FAKEKEYHOST&, KEYMAPPER& m) { m.Table[0] = {0x2C00, 0x44, L"print", {}}; }, -1, {"do print"}},
        {"Shift+F3 with user key 14 defined", Key(scan::F3, 0, kShift), {16},
         [](FAKEKEYHOST& h, KEYMAPPER&) { wcscpy(h.ProfileData->FKey[14], L"text"); }, 0,
         {"script", "post 8861 14"}},
        {"Shift+F3 without it", Key(scan::F3, 0, kShift), {16}, {}, 1, Asked()},
        {"F3 with user key 14 defined is not Shift+F3", Key(scan::F3), {},
         [](FAKEKEYHOST& h, KEYMAPPER&) { wcscpy(h.ProfileData->FKey[14], L"text"); }, 1, Asked()},
        {"a tab-bar key", Char(scan::One, '1', kCmd), {},
         [](FAKEKEYHOST& h, KEYMAPPER&) {
             h.SettingsData->DoTabsKeyShortcuts = 1;
             h.TabsTakes = 1;
         },
         0, Asked({"tabs"})},
        {"the tab bar is not asked without the setting", Char(scan::One, '1', kCmd), {},
         [](FAKEKEYHOST& h, KEYMAPPER&) { h.TabsTakes = 1; }, -1, Asked()},
    });
}

TEST(KeyDispatch, OwnTypingOfSpecialKeys)
{
    Dispatch({
        {"Backspace types 8", Char(scan::Backspace, 8), {}, {}, 1, Asked({"feed 08"})},
        {"Control+Backspace types 127", Char(scan::Backspace, 127, kCtrl), {}, {}, 1, Asked({"feed 7f"})},
        {"Shift+Backspace types nothing", Char(scan::Backspace, 8, kShift), {16}, {}, 1, Asked()},
        {"Return types 13", Char(scan::Return, 13), {}, {}, 1, Asked({"feed 0d"})},
        {"Control+Return types 10", Char(scan::Return, 10, kCtrl), {}, {}, 1, Asked({"feed 0a"})},
        {"keypad Enter types 13", Char(scan::Return, 13, 0, 0xE0), {}, {}, 1, Asked({"feed 0d"})},
        {"Tab types 9", Char(scan::Tab, 9), {}, {}, 1, Asked({"feed 09"})},
        {"Shift+Tab types nothing", Char(scan::Tab, 9, kShift), {16}, {}, 1, Asked()},
        {"Control+Tab: the next tab", Key(scan::Tab, 0, kCtrl), {}, {}, 1, Asked({"postmain 8422"})},
        {"Control+Shift+Tab: the one before", Key(scan::Tab, 0, kCtrl | kShift), {16}, {}, 1,
         Asked({"postmain 8423"})},
        {"Delete types 127", Key(scan::Delete, 0xE0), {}, {}, 1, Asked({"feed 7f"})},
        {"Shift+Delete types nothing", Key(scan::Delete, 0xE0, kShift), {16}, {}, 1, Asked()},
        {"Shift+Escape types nothing", Key(scan::Escape, 0, kShift), {16}, {}, 1,
         {"script", "escape", "escapedial", "comm", "emu"}},
        {"an arrow nobody takes types nothing", Key(scan::Left, 0xE0), {}, {}, 1, Asked()},
        {"Control+F5 dials hot key 5", Key(scan::F5, 0, kCtrl), {}, {}, 1, Asked({"dial 5 1"})},
        {"Control+Shift+F5 does not", Key(scan::F5, 0, kCtrl | kShift), {16}, {}, 1, Asked()},
        {"Alt+F5 is left", Key(scan::F5, 0, kAlt), {}, {}, -1, Asked()},
        {"Shift+Page Up: the scroll-back 20 lines back", Key(scan::PageUp, 0xE0, kShift), {16}, {}, 0,
         Asked({"event 8488 20"})},
        {"Shift+Up: one line back", Key(scan::Up, 0xE0, kShift), {16}, {}, 0, Asked({"event 8488 1"})},
        {"Caps Lock is not Shift", Key(scan::Up, 0xE0, kCaps), {}, {}, 1, Asked()},
        {"the scroll-back keys switched off", Key(scan::Up, 0xE0, kShift), {16},
         [](FAKEKEYHOST& h, KEYMAPPER&) { h.NoScrollbackKeys = true; }, 1, Asked()},
        {"Cancel types ^C and drops most of what arrives meanwhile", WithKeycode(Key(0x46, 0, kCtrl), 3), {}, {}, 1,
         {"script", "escape", "escapedial", "comm", "emu", "feed 03", "wait 500", "flush 160"}},
        {"Pause holds the received data", WithKeycode(Key(scan::Pause, 0xE1), 19), {}, {}, 1,
         Asked({"notify 5", "pause on"})},
        {"and lets it go again", WithKeycode(Key(scan::Pause, 0xE1), 19), {},
         [](FAKEKEYHOST& h, KEYMAPPER&) { h.Paused = true; }, 1, Asked({"pause off"})},
        {"Scroll Lock as a main-window command", WithKeycode(Key(0x46), 145), {145},
         [](FAKEKEYHOST& h, KEYMAPPER&) { h.ProfileData->ScrlLock = 1; }, 1, Asked({"main 8293 1"})},
        {"Scroll Lock without the setting", WithKeycode(Key(0x46), 145), {145}, {}, 1, Asked()},
    });
}

TEST(KeyDispatch, ControlAltAndCommand)
{
    Dispatch({
        {"Control+A types 1", Char(scan::A, 1, kCtrl), {}, {}, 1, Asked({"feed 01"})},
        {"Control+Space types NUL", Char(scan::Space, 0, kCtrl), {}, {}, 1, Asked({"feed 00"})},
        {"Control+1 types nothing and is left", Key(scan::One, 0, kCtrl), {}, {}, -1, Asked()},
        {"Control+8 types DEL, as in xterm", Char(0x09, 0x7f, kCtrl), {}, {}, 1, Asked({"feed 7f"})},
        {"Control+C copies marked text", Char(scan::C, 3, kCtrl), {},
         [](FAKEKEYHOST& h, KEYMAPPER& m) {
             kPasteWithCtrlV(h, m);
             h.Marked = true;
         },
         1, Asked({"event 8352"})},
        {"Control+C without marked text types ^C", Char(scan::C, 3, kCtrl), {}, kPasteWithCtrlV, 1,
         Asked({"feed 03"})},
        {"Control+C copies only with the setting", Char(scan::C, 3, kCtrl), {},
         [](FAKEKEYHOST& h, KEYMAPPER&) { h.Marked = true; }, 1, Asked({"feed 03"})},
        {"Control+V sends the clipboard", Char(scan::V, 22, kCtrl), {}, kPasteWithCtrlV, 1, Asked({"post 8355"})},
        {"Control+V types ^V without the setting", Char(scan::V, 22, kCtrl), {}, {}, 1, Asked({"feed 16"})},
        {"Alt+@ types @", Char(scan::Two, '@', kAlt | kShift), {16}, {}, 1, Asked({"feed 40"})},
        {"Alt+~ types ~", Char(0x29, '~', kAlt | kShift), {16}, {}, 1, Asked({"feed 7e"})},
        {"Alt+a is swallowed", Char(scan::A, 'a', kAlt), {}, {}, 1, Asked()},
        {"Alt+/ is swallowed", Char(scan::Slash, '/', kAlt), {}, {}, 1, Asked()},
        {"Alt+1 is left", Char(scan::One, '1', kAlt), {}, {}, -1, Asked()},
        {"Control+Alt+a is left", Char(scan::A, 1, kAlt | kCtrl), {}, {}, -1, Asked()},
        {"Command+a is left to the menus", Char(scan::A, 'a', kCmd), {}, {}, -1, Asked()},
        {"but a key map entry for it wins", Char(scan::A, 'a', kCmd), {},
         [](FAKEKEYHOST&, KEYMAPPER& m) { Map(m, scan::A, 0x84 | 0x40, L"cmd-a"); }, 0, {"script", "do cmd-a"}},
    });
}

TEST(KeyDispatch, AutomaticUpperCaseAndTheCapsLockSwitch)
{
    auto always = [](FAKEKEYHOST& h, KEYMAPPER& m) {
        kUpper(h, m);
        h.ProfileData->AutoUppercaseAlways = 1;
    };
    auto cp1252 = [](FAKEKEYHOST& h, KEYMAPPER& m) {
        kUpper(h, m);
        h.ProfileData->KbdCodePage = 1252;
    };
    Dispatch({
        {"a types A", Char(scan::A, 'a'), {}, kUpper, 1, Asked({"feed 41"})},
        {"Shift+a types a", Char(scan::A, 'A', kShift), {16}, kUpper, 1, Asked({"feed 61"})},
        {"always upper case: Shift+a types A", Char(scan::A, 'A', kShift), {16}, always, 1, Asked({"feed 41"})},
        {"an umlaut in code page 1252", Char(0x28, 0xE4), {}, cp1252, 1, Asked({"feed c4"})},
        {"digits stay", Char(scan::One, '1'), {}, kUpper, 1, Asked({"feed 31"})},
        {"XCAPSLOCK leaves Unicode keys alone", Char(scan::A, 'a', kShift), {16},
         [](FAKEKEYHOST& h, KEYMAPPER&) { h.Args.insert("XCAPSLOCK"); }, 1, Asked({"feed 61"})},
    });
}

TEST(KeyDispatch, DoorKeys)
{
    Dispatch({
        {"F1 sends NUL 59", Key(scan::F1), {145}, kDoorKeys, 0, {"script", "raw 00", "raw 3b"}},
        {"Shift+F1 sends NUL 84", Key(scan::F1, 0, kShift), {16, 145}, kDoorKeys, 0, {"script", "raw 00", "raw 54"}},
        {"Alt+F12 sends NUL 140", Key(scan::F12, 0, kAlt), {145}, kDoorKeys, 0, {"script", "raw 00", "raw 8c"}},
        {"Control+Home sends NUL 119", Key(0x47, 0xE0, kCtrl), {145}, kDoorKeys, 0, {"script", "raw 00", "raw 77"}},
        {"Shift+Tab sends NUL 15", Char(scan::Tab, 9, kShift), {16, 145}, kDoorKeys, 0,
         {"script", "raw 00", "raw 0f"}},
        {"Escape types ESC", Key(scan::Escape), {145}, kDoorKeys, 0,
         {"script", "escape", "escapedial", "feed 1b"}},
        {"Alt+1 sends NUL 120", Char(scan::One, '1', kAlt), {145}, kDoorKeys, 0, {"script", "raw 00", "raw 78"}},
        {"Alt+Q sends NUL and its scan code", Char(scan::Q, 'q', kAlt), {145}, kDoorKeys, 0,
         {"script", "raw 00", "raw 10"}},
        {"Control+A types 1", Char(scan::A, 1, kCtrl), {145}, kDoorKeys, 0, {"script", "feed 01"}},
        {"a plain character is swallowed", Char(scan::A, 'a'), {145}, kDoorKeys, 0, {"script"}},
        {"Insert sends NUL 82", Key(scan::Insert, 0xE0), {145}, kDoorKeys, 0, {"script", "raw 00", "raw 52"}},
        {"a virtual key outside the table is swallowed", Key(0x45 /* Num Lock */), {144, 145}, kDoorKeys, 0,
         {"script"}},
        {"only while Scroll Lock is on", Key(scan::F1), {}, kDoorKeys, 1, Asked()},
    });
}

TEST(KeyDispatch, EveryRepeatIsAKeyOfItsOwn)
{
    Dispatch({
        {"three times a", Repeated(Char(scan::A, 'a'), 3), {},
         [](FAKEKEYHOST& h, KEYMAPPER&) { h.ScriptTakes = 1; }, 1,
         {"script", "script", "comm", "emu", "feed 61", "script", "comm", "emu", "feed 61"}},
        {"a release ends them all", Repeated(Released(Char(scan::A, 'a')), 3), {}, {}, -1, {"emu up"}},
    });
}

} // namespace
