// Key translation: virtual-key codes, scan codes and characters, with and
// without the window system's native codes.
#include "platform/events/bridge_qt.h"
#include "platform/events/keys.h"
#include "tests/platform/events/qt_fixture.h"

#include <QKeyEvent>

#include <cstdlib>
#include <string>

using namespace plat;

namespace {

struct KeyCase {
    const char* what;
    int key;
    Qt::KeyboardModifiers mods;
    const char16_t* text;
    uint32_t nativeCode; // X keycode; 0 as on the offscreen platform
    uint32_t vk;
    uint16_t scan; // (prefix << 8) | code
    bool hasChar;
    char32_t ch;
};

constexpr auto kNone = Qt::NoModifier;
constexpr auto kShift = Qt::ShiftModifier;
constexpr auto kCtrl = Qt::ControlModifier;
constexpr auto kPad = Qt::KeypadModifier;

const KeyCase kCases[] = {
    // Letters follow the layout; their scan code follows the key.
    {"a", Qt::Key_A, kNone, u"a", 0, 'A', 0x1E, true, U'a'},
    {"Shift+A", Qt::Key_A, kShift, u"A", 0, 'A', 0x1E, true, U'A'},
    {"z", Qt::Key_Z, kNone, u"z", 0, 'Z', 0x2C, true, U'z'},
    {"AZERTY q on the US A key (X)", Qt::Key_Q, kNone, u"q", 38, 'Q', 0x1E, true, U'q'},
    {"Cyrillic letter on the F key (X)", 0x410, kNone, u"\u0430", 41, 'F', 0x21, true, U'\u0430'},
    // Digits and punctuation by position.
    {"1", Qt::Key_1, kNone, u"1", 0, '1', 0x02, true, U'1'},
    {"Shift+1 is !", Qt::Key_Exclam, kShift, u"!", 0, '1', 0x02, true, U'!'},
    {"0", Qt::Key_0, kNone, u"0", 0, '0', 0x0B, true, U'0'},
    {"semicolon", Qt::Key_Semicolon, kNone, u";", 0, kVkOem1, 0x27, true, U';'},
    {"Shift+/ is ?", Qt::Key_Question, kShift, u"?", 0, kVkOem2, 0x35, true, U'?'},
    {"AZERTY & on the 1 key (X)", Qt::Key_Ampersand, kNone, u"&", 10, '1', 0x02, true, U'&'},
    {"space", Qt::Key_Space, kNone, u" ", 0, kVkSpace, 0x39, true, U' '},
    // Function keys.
    {"F1", Qt::Key_F1, kNone, u"", 0, kVkF1, 0x3B, false, 0},
    {"F10", Qt::Key_F10, kNone, u"", 0, kVkF1 + 9, 0x44, false, 0},
    {"F12 (X)", Qt::Key_F12, kNone, u"", 96, kVkF1 + 11, 0x58, false, 0},
    {"F13", Qt::Key_F13, kNone, u"", 0, kVkF1 + 12, 0x64, false, 0},
    // Navigation keys are extended (E0).
    {"Up", Qt::Key_Up, kNone, u"", 0, kVkUp, 0xE048, false, 0},
    {"Up (X)", Qt::Key_Up, kNone, u"", 111, kVkUp, 0xE048, false, 0},
    {"Left", Qt::Key_Left, kNone, u"", 0, kVkLeft, 0xE04B, false, 0},
    {"PageDown", Qt::Key_PageDown, kNone, u"", 0, kVkNext, 0xE051, false, 0},
    {"Delete types nothing", Qt::Key_Delete, kNone, u"\x7f", 0, kVkDelete, 0xE053, false, 0},
    {"Insert", Qt::Key_Insert, kNone, u"", 0, kVkInsert, 0xE052, false, 0},
    {"Pause (X)", Qt::Key_Pause, kNone, u"", 127, kVkPause, 0xE145, false, 0},
    // Keypad.
    {"keypad 7", Qt::Key_7, kPad, u"7", 0, kVkNumpad0 + 7, 0x47, true, U'7'},
    {"keypad 0 (X)", Qt::Key_0, kPad, u"0", 90, kVkNumpad0, 0x52, true, U'0'},
    {"keypad Home without Num Lock", Qt::Key_Home, kPad, u"", 0, kVkHome, 0x47, false, 0},
    {"keypad *", Qt::Key_Asterisk, kPad, u"*", 0, kVkMultiply, 0x37, true, U'*'},
    {"keypad /", Qt::Key_Slash, kPad, u"/", 0, kVkDivide, 0xE035, true, U'/'},
    {"keypad Enter", Qt::Key_Enter, kPad, u"\r", 0, kVkReturn, 0xE01C, true, 13},
    {"keypad Enter (X)", Qt::Key_Enter, kPad, u"\r", 104, kVkReturn, 0xE01C, true, 13},
    // Keys that type control characters.
    {"Backspace", Qt::Key_Backspace, kNone, u"\b", 0, kVkBack, 0x0E, true, 8},
    {"Ctrl+Backspace", Qt::Key_Backspace, kCtrl, u"", 0, kVkBack, 0x0E, true, 127},
    {"Return", Qt::Key_Return, kNone, u"\r", 0, kVkReturn, 0x1C, true, 13},
    {"Ctrl+Return", Qt::Key_Return, kCtrl, u"\r", 0, kVkReturn, 0x1C, true, 10},
    {"Tab", Qt::Key_Tab, kNone, u"\t", 0, kVkTab, 0x0F, true, 9},
    {"Ctrl+Tab types nothing", Qt::Key_Tab, kCtrl, u"\t", 0, kVkTab, 0x0F, false, 0},
    {"Shift+Tab", Qt::Key_Backtab, kShift, u"", 0, kVkTab, 0x0F, true, 9},
    {"Escape", Qt::Key_Escape, kNone, u"\x1b", 0, kVkEscape, 0x01, true, 27},
    // Ctrl combinations, whatever text the window system attaches.
    {"Ctrl+A", Qt::Key_A, kCtrl, u"a", 0, 'A', 0x1E, true, 1},
    {"Ctrl+C (X text)", Qt::Key_C, kCtrl, u"\x03", 54, 'C', 0x2E, true, 3},
    {"Ctrl+Z", Qt::Key_Z, kCtrl, u"z", 0, 'Z', 0x2C, true, 26},
    {"Ctrl+Shift+A", Qt::Key_A, kCtrl | kShift, u"A", 0, 'A', 0x1E, true, 1},
    {"Ctrl+[", Qt::Key_BracketLeft, kCtrl, u"[", 0, kVkOem4, 0x1A, true, 27},
    {"Ctrl+\\", Qt::Key_Backslash, kCtrl, u"\\", 0, kVkOem5, 0x2B, true, 28},
    {"Ctrl+]", Qt::Key_BracketRight, kCtrl, u"]", 0, kVkOem6, 0x1B, true, 29},
    {"Ctrl+^", Qt::Key_AsciiCircum, kCtrl | kShift, u"^", 0, '6', 0x07, true, 30},
    {"Ctrl+_", Qt::Key_Underscore, kCtrl | kShift, u"_", 0, kVkOemMinus, 0x0C, true, 31},
    {"Ctrl+@", Qt::Key_At, kCtrl | kShift, u"@", 0, '2', 0x03, true, 0},
    {"Ctrl+Space", Qt::Key_Space, kCtrl, u" ", 0, kVkSpace, 0x39, true, 0},
    {"Ctrl+? (X)", Qt::Key_Question, kCtrl | kShift, u"\x7f", 61, kVkOem2, 0x35, true, 127},
    // The digit row as xterm has it.
    {"Ctrl+2 (X)", Qt::Key_2, kCtrl, u"2", 11, '2', 0x03, true, 0},
    {"Ctrl+3 (X)", Qt::Key_3, kCtrl, u"\x1b", 12, '3', 0x04, true, 27},
    {"Ctrl+5", Qt::Key_5, kCtrl, u"5", 0, '5', 0x06, true, 29},
    {"Ctrl+7 (X)", Qt::Key_7, kCtrl, u"\x1f", 16, '7', 0x08, true, 31},
    {"Ctrl+8 (X)", Qt::Key_8, kCtrl, u"\x7f", 17, '8', 0x09, true, 127},
    {"Ctrl+`", Qt::Key_QuoteLeft, kCtrl, u"`", 0, kVkOem3, 0x29, true, 0},
    {"Ctrl+9 types nothing", Qt::Key_9, kCtrl, u"9", 0, '9', 0x0A, false, 0},
    {"Ctrl+keypad 3 types nothing", Qt::Key_3, kCtrl | kPad, u"3", 0, kVkNumpad0 + 3, 0x51, false, 0},
    {"Ctrl+Cyrillic letter on the C key (X)", 0x421, kCtrl, u"\u0441", 54, 'C', 0x2E, true, 3},
    // Modifier keys and their sides.
    {"Shift", Qt::Key_Shift, kShift, u"", 0, kVkShift, 0x2A, false, 0},
    {"right Shift (X)", Qt::Key_Shift, kShift, u"", 62, kVkShift, 0x36, false, 0},
    {"right Ctrl (X)", Qt::Key_Control, kCtrl, u"", 105, kVkControl, 0xE01D, false, 0},
    {"left Super (X)", Qt::Key_Meta, Qt::MetaModifier, u"", 133, kVkLWin, 0xE05B, false, 0},
    {"right Super (X)", Qt::Key_Meta, Qt::MetaModifier, u"", 134, kVkRWin, 0xE05C, false, 0},
    {"Caps Lock", Qt::Key_CapsLock, kNone, u"", 0, kVkCapital, 0x3A, false, 0},
};

class KeyTranslation : public ::testing::Test {
protected:
    void SetUp() override { bridge::ResetKeyTranslator(); }
    void TearDown() override { bridge::ResetKeyTranslator(); }

    static KeyRecord Translate(QEvent::Type type, int key, Qt::KeyboardModifiers mods, const QString& text,
                               uint32_t nativeCode = 0, bool repeat = false)
    {
        QKeyEvent e(type, key, mods, nativeCode, 0, 0, text, repeat);
        return bridge::TranslateKeyEvent(e);
    }
};

TEST_F(KeyTranslation, Table)
{
    for (const KeyCase& c : kCases) {
        SCOPED_TRACE(c.what);
        KeyRecord r = Translate(QEvent::KeyPress, c.key, c.mods, QString::fromUtf16(c.text), c.nativeCode);
        EXPECT_EQ(r.vk, c.vk);
        EXPECT_EQ((r.scanPrefix << 8) | r.scan, c.scan);
        EXPECT_EQ((r.flags & kKeyHasChar) != 0, c.hasChar);
        if (c.hasChar) {
            EXPECT_EQ(static_cast<uint32_t>(r.ch), static_cast<uint32_t>(c.ch));
        }
        EXPECT_EQ((r.flags & kKeyPositional) != 0, c.nativeCode != 0);
        EXPECT_EQ(r.nativeCode, c.nativeCode);
        Translate(QEvent::KeyRelease, c.key, c.mods, QString::fromUtf16(c.text), c.nativeCode);
    }
}

TEST_F(KeyTranslation, ModifierBitsAndTheCommandKey)
{
    struct Mod {
        Qt::KeyboardModifiers qt;
        uint32_t bits;
    };
    const Mod mods[] = {
        {Qt::ShiftModifier, kModShift},
        {Qt::ControlModifier, kModControl},
        {Qt::AltModifier, kModOption},
        {Qt::MetaModifier, kModCommand}, // Super plays command
        {Qt::ControlModifier | Qt::ShiftModifier, kModControl | kModShift},
    };
    for (const Mod& m : mods) {
        KeyRecord r = Translate(QEvent::KeyPress, Qt::Key_F2, m.qt, QString());
        EXPECT_EQ(r.modifiers, m.bits);
        Translate(QEvent::KeyRelease, Qt::Key_F2, m.qt, QString());
    }
    // Caps Lock and Num Lock come from the X state of a native event.
    KeyRecord r = Translate(QEvent::KeyPress, Qt::Key_A, kNone, "A", 38);
    EXPECT_EQ(r.modifiers, 0u);
    QKeyEvent caps(QEvent::KeyPress, Qt::Key_B, kNone, 56, 0x42, 0x2 | 0x10, "B");
    r = bridge::TranslateKeyEvent(caps);
    EXPECT_EQ(r.modifiers, kModCapsLock | kModNumLock);
}

TEST_F(KeyTranslation, AReleaseIsMatchedToItsPressByScanCode)
{
    // Shift goes up before the key: the release reports the key the press
    // typed, not what an unshifted key would.
    KeyRecord down = Translate(QEvent::KeyPress, Qt::Key_Exclam, kShift, "!", 10);
    KeyRecord up = Translate(QEvent::KeyRelease, Qt::Key_1, kNone, "1", 10);
    EXPECT_EQ(down.scan, 0x02);
    EXPECT_EQ(up.scan, 0x02);
    EXPECT_EQ(up.flags & kKeyRelease, kKeyRelease);
    EXPECT_EQ(static_cast<uint32_t>(up.ch), static_cast<uint32_t>(U'!'));
    EXPECT_EQ(up.vk, '1');

    // The same without native codes: the US table puts both on one key.
    down = Translate(QEvent::KeyPress, Qt::Key_Exclam, kShift, "!");
    up = Translate(QEvent::KeyRelease, Qt::Key_1, kNone, "1");
    EXPECT_EQ(static_cast<uint32_t>(up.ch), static_cast<uint32_t>(U'!'));

    // Auto-repeat presses are marked, and a repeat's release keeps the key
    // down.
    Translate(QEvent::KeyPress, Qt::Key_X, kNone, "x", 53);
    KeyRecord rep = Translate(QEvent::KeyPress, Qt::Key_X, kNone, "x", 53, true);
    EXPECT_EQ(rep.flags & kKeyRepeat, kKeyRepeat);
    Translate(QEvent::KeyRelease, Qt::Key_X, kShift, "X", 53, true);
    up = Translate(QEvent::KeyRelease, Qt::Key_X, kShift, "X", 53);
    EXPECT_EQ(static_cast<uint32_t>(up.ch), static_cast<uint32_t>(U'x'));
}

TEST_F(KeyTranslation, CharactersOutsideTheBasicPlaneArriveWhole)
{
    KeyRecord r = Translate(QEvent::KeyPress, 0, kNone, QString::fromUtf16(u"\U0001F600"), 38);
    EXPECT_EQ(r.flags & kKeyHasChar, kKeyHasChar);
    EXPECT_EQ(static_cast<uint32_t>(r.ch), 0x1F600u);
}

TEST(EvdevScanCodes, SpotChecks)
{
    EXPECT_EQ(EvdevToScan(1), 0x01);    // Escape
    EXPECT_EQ(EvdevToScan(30), 0x1E);   // A
    EXPECT_EQ(EvdevToScan(83), 0x53);   // keypad .
    EXPECT_EQ(EvdevToScan(87), 0x57);   // F11
    EXPECT_EQ(EvdevToScan(96), 0xE01C); // keypad Enter
    EXPECT_EQ(EvdevToScan(97), 0xE01D); // right Ctrl
    EXPECT_EQ(EvdevToScan(103), 0xE048); // Up
    EXPECT_EQ(EvdevToScan(119), 0xE145); // Pause
    EXPECT_EQ(EvdevToScan(194), 0x76);  // F24
    EXPECT_EQ(EvdevToScan(0), 0);
    EXPECT_EQ(EvdevToScan(84), 0);
    EXPECT_EQ(EvdevToScan(100000), 0);
}

TEST(EvdevScanCodes, ScanToEvdevIsTheInverse)
{
    for (uint32_t evdev = 1; evdev < 256; ++evdev) {
        const uint16_t scan = EvdevToScan(evdev);
        if (scan) {
            EXPECT_EQ(ScanToEvdev(scan), evdev) << "evdev " << evdev;
        }
    }
    EXPECT_EQ(ScanToEvdev(0), 0u);
    EXPECT_EQ(ScanToEvdev(0xE05D), 127u); // the menu key
    EXPECT_EQ(ScanToEvdev(0xE0FF), 0u);
}

// Layout translation without a key event. The offscreen platform has no X
// server, so the layout comes from the XKB_DEFAULT_* variables or is US.
class KeyLayout : public qtfix::QtTest {
protected:
    void SetUp() override
    {
        const char* old = getenv("XKB_DEFAULT_LAYOUT");
        hadLayout_ = old != nullptr;
        oldLayout_ = old ? old : "";
        unsetenv("XKB_DEFAULT_LAYOUT");
        ResetKeyLayout();
    }
    void TearDown() override
    {
        if (hadLayout_)
            setenv("XKB_DEFAULT_LAYOUT", oldLayout_.c_str(), 1);
        else
            unsetenv("XKB_DEFAULT_LAYOUT");
        ResetKeyLayout();
        QtTest::TearDown();
    }
    bool hadLayout_ = false;
    std::string oldLayout_;
};

TEST_F(KeyLayout, ScanCodesTypeTheLayoutsCharacters)
{
    struct Case {
        const char* layout; // null: the default
        uint8_t scan, prefix;
        uint32_t mods;
        char32_t ch;
    };
    const Case cases[] = {
        {nullptr, 0x10, 0, 0, U'q'},          {nullptr, 0x10, 0, kModShift, U'Q'},
        {nullptr, 0x02, 0, kModShift, U'!'},  {nullptr, 0x35, 0, 0, U'/'},
        {nullptr, 0x35, 0xE0, 0, U'/'},       {nullptr, 0x48, 0xE0, 0, 0},
        {nullptr, 0x10, 0, kModCapsLock, U'Q'}, {"de", 0x15, 0, 0, U'z'},
        {"de", 0x2C, 0, 0, U'y'},             {"de", 0x27, 0, 0, U'\u00F6'},
        {"de", 0x03, 0, kModShift, U'"'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.layout ? c.layout : "default") + " scan " + std::to_string(c.scan));
        if (c.layout)
            setenv("XKB_DEFAULT_LAYOUT", c.layout, 1);
        else
            unsetenv("XKB_DEFAULT_LAYOUT");
        ResetKeyLayout();
        EXPECT_EQ(static_cast<uint32_t>(TranslateScanCode(c.scan, c.prefix, c.mods)), static_cast<uint32_t>(c.ch));
    }
}

} // namespace
