// The keyboard table, key records and captured calls: logic that needs no
// running window system.
#include "velmot/core/tarvo.h"
#include "velmot/gui/appfunction.h"
#include "velmot/gui/winkeys.h"
#include "tests/velmot/core/assertrecorder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// The test's thread is the library's main thread, as the program's is once
// it has started through VelmotEntryPoint.
class MainThreadEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        static char name[] = "guilogic";
        static char* argv[] = {name, nullptr};
        TARVOAPP::InitArgsLoggingAndLocale(1, argv, LOCALE_ENGLISH);
    }
};
[[maybe_unused]] ::testing::Environment* const gEnv = ::testing::AddGlobalTestEnvironment(new MainThreadEnvironment);

plat::KeyRecord Key(uint8_t scan, uint8_t prefix, uint32_t modifiers = 0, bool hasChar = false, char32_t ch = 0)
{
    plat::KeyRecord k;
    k.scan = scan;
    k.scanPrefix = prefix;
    k.modifiers = modifiers;
    if (hasChar) {
        k.flags |= plat::kKeyHasChar;
        k.ch = ch;
    }
    return k;
}

bool Reported(testutil::ASSERTRECORDER& rec, std::string const& condition)
{
    for (auto const& a : rec.Take())
        if (a.Condition == condition)
            return true;
    return false;
}

TEST(KeyboardTable, RowsOfTheThreeGridsLineUp)
{
    KEYBOARD* kb = KEYBOARD::GetInstance();
    ASSERT_NE(kb, nullptr);
    EXPECT_EQ(KEYBOARD::GetNumKeys(), 109);
    struct Row {
        char const* what;
        int scan, key, virt, ext;
    };
    const Row rows[] = {
        {"Escape", 0x01, 0x1B, 53, 0},       {"F1", 0x3B, 0x70, 122, 0},
        {"F12", 0x58, 0x7B, 111, 0},         {"A", 0x1E, 0, 0, 0},
        {"Backspace", 0x0E, 0x08, 51, 0},    {"Return", 0x1C, 0x0D, 36, 0},
        {"right Control", 0x5B, 0, 59, 0x1D}, {"up arrow", 0x61, 0x26, 126, 0x48},
        {"keypad Enter", 0x5A, 0x0D, 76, 0x1C}, {"keypad 0", 0x52, 0, 82, 0},
        {"Delete", 0x69, 0x2E, 117, 0x53},   {"print screen", 0x7C, 0x2C, 105, 0x37},
        {"F19", 0xA3, 0x82, 80, 0},          {"left command", 0xA6, 0, 55, 0},
    };
    for (Row const& r : rows) {
        SCOPED_TRACE(r.what);
        int idx = KEYBOARD::FindKeyIdxFromScancode(r.scan);
        ASSERT_NE(idx, -1);
        KEYBOARD::KEY const& k = KEYBOARD::GetKey(idx);
        EXPECT_EQ(k.Keycode, r.key);
        EXPECT_EQ(k.Virtcode, r.virt);
        EXPECT_EQ(k.Extscan, r.ext);
    }
    // Both control keys report virtual code 59; the first is the left one.
    int left = KEYBOARD::FindKeyIdxFromVirtcode(59);
    ASSERT_NE(left, -1);
    EXPECT_EQ(KEYBOARD::GetKey(left).Scancode, 0x1D);
    EXPECT_EQ(kb->ConvertKeyToScancode(0x70), 0x3B);
    EXPECT_EQ(kb->ConvertKeyToVirtcode(0x1B), 53);
    EXPECT_EQ(kb->ConvertVirtcodeToKey(122), 0x70);
}

TEST(KeyboardTable, CodesNoKeyHasAreReported)
{
    testutil::ASSERTRECORDER rec;
    KEYBOARD* kb = KEYBOARD::GetInstance();
    EXPECT_EQ(kb->ConvertKeyToScancode(0xE9), 0);
    EXPECT_TRUE(Reported(rec, "idx!=-1"));
    EXPECT_EQ(kb->ConvertVirtcodeToKey(1000), 0);
    EXPECT_TRUE(Reported(rec, "idx!=-1"));
    // Scroll lock is never held; other keys are not answered.
    EXPECT_FALSE(kb->GetKeyState(145));
    EXPECT_EQ(rec.Count(), 0u);
    EXPECT_FALSE(kb->GetKeyState(65));
    EXPECT_TRUE(Reported(rec, "FALSE"));
}

TEST(KeyboardTable, KeyStateBelongsToTheMainThread)
{
    KEYBOARD* kb = KEYBOARD::GetInstance();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(kb->GetKeyState(145));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    // Another thread is told loudly.
    testing::internal::CaptureStderr();
    std::thread([kb] { kb->GetKeyState(145); }).join();
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                ::testing::HasSubstr("THREADCHECK failed: KEYBOARD::GetKeyState"));
}

TEST(KeyboardTable, PlatformScanCodesFindTheirKeys)
{
    struct Case {
        char const* what;
        int scan, prefix, tablescan; // -1: not in the table
    };
    const Case cases[] = {
        {"letter Q", 0x10, 0, 0x10},
        {"keypad 8", 0x48, 0, 0x48},
        {"up arrow (E0 48)", 0x48, 0xE0, 0x61},
        {"right Control (E0 1D)", 0x1D, 0xE0, 0x5B},
        {"right Alt (E0 38)", 0x38, 0xE0, 0x5E},
        {"Pause (E1 45)", 0x45, 0xE1, 0x59},
        {"Num Lock (45)", 0x45, 0, 0x45},
        {"left Super plays command", 0x5B, 0xE0, 0xA6},
        {"right Super plays command", 0x5C, 0xE0, 0xA7},
        {"F13 sits on print screen", 0x64, 0, 0x7C},
        {"F16", 0x67, 0, 0xA0},
        {"keypad = is not the pause key", 0x59, 0, -1},
        {"E0 5D (menu key)", 0x5D, 0xE0, -1},
        {"plain 5B is not right Control", 0x5B, 0, -1},
        {"no scan code", 0, 0, -1},
    };
    KEYBOARD::GetInstance();
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        int idx = KEYBOARD::FindKeyIdxFromPlatformScan(c.scan, c.prefix);
        if (c.tablescan < 0) {
            EXPECT_EQ(idx, -1);
        } else {
            ASSERT_NE(idx, -1);
            EXPECT_EQ(KEYBOARD::GetKey(idx).Scancode, c.tablescan);
        }
    }
}

TEST(KeyboardEvents, KeyRecordsBecomeKeyboardEvents)
{
    struct Case {
        char const* what;
        plat::KeyRecord key;
        int valid;
        uint32_t flagsSet;   // must be set
        uint32_t flagsClear; // must be clear
        uint16_t keycode;
        uint32_t unichar;
        uint8_t scancode;
        uint8_t shiftstate;
    };
    constexpr uint32_t kCtrl = KEYMOD_CONTROL;
    const Case cases[] = {
        {"letter a", Key(0x1E, 0, 0, true, U'a'), 1, KEYFLAG_CHAR | KEYFLAG_INTABLE, KEYFLAG_KEYCODE, 0, 'a', 0x1E, 0},
        {"Escape", Key(0x01, 0, 0, true, 27), 1, KEYFLAG_KEYCODE | KEYFLAG_INTABLE, KEYFLAG_CHAR, 0x1B, 0, 0x01, 0},
        {"Backspace", Key(0x0E, 0, 0, true, 8), 1, KEYFLAG_CHAR | KEYFLAG_KEYCODE, 0, 8, 8, 0x0E, 0},
        {"Ctrl+Backspace types 127", Key(0x0E, 0, kCtrl, true, 127), 1, KEYFLAG_CHAR | KEYFLAG_CONTROL, 0, 8, 127,
         0x0E, 2},
        {"Return", Key(0x1C, 0, 0, true, 13), 1, KEYFLAG_CHAR, 0, 13, 13, 0x1C, 0},
        {"Ctrl+Return types 10", Key(0x1C, 0, kCtrl, true, 10), 1, KEYFLAG_CHAR, 0, 13, 10, 0x1C, 2},
        {"keypad Enter", Key(0x1C, 0xE0, 0, true, 13), 1, KEYFLAG_CHAR, 0, 13, 13, 0x5A, 0},
        {"Tab", Key(0x0F, 0, 0, true, 9), 1, KEYFLAG_CHAR, 0, 9, 9, 0x0F, 0},
        {"Ctrl+Space types NUL", Key(0x39, 0, kCtrl, true, 0), 1, KEYFLAG_CHAR | KEYFLAG_CONTROL, KEYFLAG_KEYCODE, 0, 0,
         0x39, 2},
        {"Ctrl+Tab types nothing", Key(0x0F, 0, kCtrl, false, 0), 1, KEYFLAG_KEYCODE, KEYFLAG_CHAR, 9, 0, 0x0F, 2},
        {"print screen arrives as F13", Key(0x37, 0xE0), 1, KEYFLAG_KEYCODE, 0, 124, 0, 0x7C, 0},
        {"scroll lock arrives as F14", Key(0x46, 0), 1, KEYFLAG_KEYCODE, 0, 125, 0, 0x46, 0},
        {"Pause arrives as F15", Key(0x45, 0xE1), 1, KEYFLAG_KEYCODE, 0, 126, 0, 0x59, 0},
        {"up arrow", Key(0x48, 0xE0), 1, KEYFLAG_KEYCODE, KEYFLAG_CHAR, 0x26, 0, 0x61, 0},
        {"Shift+Caps+Ctrl+Alt+Super", Key(0x1E, 0, KEYMOD_SHIFT | KEYMOD_CAPSLOCK | kCtrl | KEYMOD_OPTION | KEYMOD_COMMAND),
         1, KEYFLAG_SHIFT | KEYFLAG_CONTROL | KEYFLAG_OPTION | KEYFLAG_COMMAND, KEYFLAG_CHAR, 0, 0, 0x1E, 15},
        {"Caps Lock alone counts as shift", Key(0x1E, 0, KEYMOD_CAPSLOCK, true, U'A'), 1, KEYFLAG_SHIFT, 0, 0, 'A',
         0x1E, 1},
        {"menu key: not in the table, types nothing", Key(0x5D, 0xE0), 0, 0, KEYFLAG_INTABLE | KEYFLAG_CHAR, 0, 0, 0, 0},
        {"emoji from a key the table lacks", Key(0, 0, 0, true, U'\U0001F600'), 1, KEYFLAG_CHAR, KEYFLAG_INTABLE, 0,
         0x1F600, 0, 0},
    };
    KEYBOARD* kb = KEYBOARD::GetInstance();
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        KEYBOARDEVENT e;
        EXPECT_EQ(kb->TranslateKeyRecord(c.key, &e), c.valid);
        EXPECT_EQ(e.Valid, c.valid);
        EXPECT_EQ(e.Flags & c.flagsSet, c.flagsSet);
        EXPECT_EQ(e.Flags & c.flagsClear, 0u);
        EXPECT_EQ(e.Keycode, c.keycode);
        EXPECT_EQ(e.UniChar, c.unichar);
        EXPECT_EQ(e.Scancode, c.scancode);
        EXPECT_EQ(e.Shiftstate, c.shiftstate);
        EXPECT_EQ(e.Count, 1);
        EXPECT_EQ(e.Modifiers, c.key.modifiers);
    }
}

TEST(KeyboardEvents, CharactersCarryTheirCodePageForms)
{
    KEYBOARD* kb = KEYBOARD::GetInstance();
    KEYBOARDEVENT e;
    kb->TranslateKeyRecord(Key(0x28, 0, 0, true, U'\u00E4'), &e); // ä on a German keyboard
    EXPECT_EQ(e.Char, 0xE4u);
    EXPECT_EQ(e.Codepage, 1252);
    EXPECT_EQ((e.Flags & KEYFLAG_CP1252MASK) >> 9, 0xE4u);
    EXPECT_EQ(e.OemChar, 0x84); // ä in code page 437
    EXPECT_EQ(e.Virtcode, 39u); // the table's code of the key
    // A key with a key code types its own character: the code page forms
    // follow it, not the platform's character.
    kb->TranslateKeyRecord(Key(0x0E, 0, KEYMOD_CONTROL, true, 127), &e);
    EXPECT_EQ((e.Flags & KEYFLAG_CP1252MASK) >> 9, 127u);
    EXPECT_EQ(e.OemChar, 127);
}

// Events as the platform sends them: raw keys, text for a key, text from an
// input method.
class KeyboardEventClasses : public ::testing::Test {
protected:
    int Handle(plat::EventPtr const& e, int room, bool* handled, std::vector<KEYBOARDEVENT>* out)
    {
        std::vector<KEYBOARDEVENT> keys(static_cast<size_t>(std::max(room, 1)));
        int count = room;
        TCarbonEvent event(*e);
        KEYBOARD::GetInstance()->HandleKeyboardEvent(nullptr, event, keys.data(), &count, handled);
        if (out)
            out->assign(keys.begin(), keys.begin() + count);
        return count;
    }

    static plat::EventPtr Raw(uint32_t kind, plat::KeyRecord const& key)
    {
        plat::EventPtr e = plat::Event::Create(plat::kEventClassKeyboard, kind);
        e->Set(plat::kParamKeyRecord, plat::kTypeKeyRecord, key);
        e->Set(plat::kParamKeyModifiers, plat::kTypeUInt32, key.modifiers);
        return e;
    }

    static plat::EventPtr Text(std::u32string const& text, plat::KeyRecord const* key)
    {
        plat::EventPtr e = plat::Event::Create(plat::kEventClassTextInput, plat::kEventTextForKey);
        e->SetParam(plat::kParamText, plat::kTypeUTF32, text.data(), text.size() * sizeof(char32_t));
        if (key)
            e->Set(plat::kParamKeyRecord, plat::kTypeKeyRecord, *key);
        return e;
    }
};

TEST_F(KeyboardEventClasses, RawKeysAreConsumedWhenThereIsRoom)
{
    bool handled = true;
    EXPECT_EQ(Handle(Raw(plat::kEventKeyDown, Key(0x1E, 0, 0, true, 'a')), 0, &handled, nullptr), 0);
    EXPECT_FALSE(handled) << "no room: no record, not consumed";
    for (uint32_t kind : {plat::kEventKeyDown, plat::kEventKeyRepeat, plat::kEventKeyUp}) {
        SCOPED_TRACE(kind);
        std::vector<KEYBOARDEVENT> out;
        EXPECT_EQ(Handle(Raw(kind, Key(0x1E, 0, 0, true, 'a')), 5, &handled, &out), 1);
        EXPECT_TRUE(handled);
        EXPECT_EQ(out[0].UniChar, 'a');
    }
    EXPECT_EQ(Handle(Raw(plat::kEventKeyModifiersChanged, Key(0x2A, 0, KEYMOD_SHIFT)), 5, &handled, nullptr), 0);
    EXPECT_FALSE(handled);
}

TEST_F(KeyboardEventClasses, TypedTextIsNeverLost)
{
    bool handled = true;
    std::vector<KEYBOARDEVENT> out;
    // Text for a key: the key's record, not consumed (the text goes on).
    plat::KeyRecord a = Key(0x1E, 0, 0, true, 'a');
    EXPECT_EQ(Handle(Text(U"a", &a), 5, &handled, &out), 1);
    EXPECT_FALSE(handled);
    EXPECT_EQ(out[0].Scancode, 0x1E);
    // A compose sequence that yields two characters from one key.
    EXPECT_EQ(Handle(Text(U"a\u0301", &a), 5, &handled, &out), 2);
    EXPECT_EQ(out[1].UniChar, 0x301u);
    // An input method's result has no key: one record per character.
    EXPECT_EQ(Handle(Text(U"\u4F60\u597D\U00020000", nullptr), 5, &handled, &out), 3);
    EXPECT_EQ(out[0].UniChar, 0x4F60u);
    EXPECT_EQ(out[2].UniChar, 0x20000u);
    EXPECT_EQ(out[2].Valid, 1);
    EXPECT_FALSE(handled);
}

TEST(KeyboardTable, CompressMapFoldsWhitespace)
{
    EXPECT_STREQ(KEYBOARD::CompressMap("\t 01  02\n\n03 \r\n 04   ").Buf(), "01 02 03 04");
    EXPECT_STREQ(KEYBOARD::CompressMap("   ").Buf(), "");
}

// Captured calls.
struct Target {
    virtual ~Target() = default;
    int calls = 0;
    int Zero()
    {
        ++calls;
        return 42;
    }
    long Six(int a, int b, int c, int d, int e, long f) { return a + b * 10 + c * 100 + d * 1000 + e * 10000 + f * 100000; }
    virtual int Which() { return 1; }
    int Negative() const { return -1; }
    char const* Name(std::string const& s)
    {
        last = s;
        return last.c_str();
    }
    void Nothing(int v) { calls += v; }
    std::string last;
};

struct Derived : Target {
    int Which() override { return 2; }
};

TEST(AppFunction, CallsRunWithExactlyTheirArguments)
{
    Target t;
    APPFUNCTION zero(&t, &Target::Zero);
    EXPECT_EQ(zero.GetType(), 0);
    EXPECT_EQ(zero.GetResult(), 0u) << "no result before the call";
    zero.Call();
    EXPECT_EQ(zero.GetResult(), 42u);
    EXPECT_EQ(t.calls, 1);

    APPFUNCTION six(&t, &Target::Six, 1, 2, 3, 4, 5, 6L);
    EXPECT_EQ(six.GetType(), 6);
    six.Call();
    EXPECT_EQ(six.GetResult(), 654321u);

    // Arguments are copied when the call is captured.
    std::string text = "first";
    APPFUNCTION name(&t, &Target::Name, text);
    text = "changed";
    name.Call();
    EXPECT_STREQ(reinterpret_cast<char const*>(name.GetResult()), "first");

    APPFUNCTION nothing(&t, &Target::Nothing, 5);
    nothing.Call();
    EXPECT_EQ(nothing.GetResult(), 0u);
    EXPECT_EQ(t.calls, 6);
}

TEST(AppFunction, VirtualCallsReachTheOverrideAndSignedResultsKeepTheirSign)
{
    Derived d;
    Target* base = &d;
    APPFUNCTION which(base, &Target::Which);
    which.Call();
    EXPECT_EQ(which.GetResult(), 2u);
    APPFUNCTION negative(base, &Target::Negative);
    negative.Call();
    EXPECT_EQ(static_cast<intptr_t>(negative.GetResult()), -1);
}

// More than six arguments, or arguments of the wrong type, do not compile.
static_assert(std::is_constructible_v<APPFUNCTION, Target*, decltype(&Target::Six), int, int, int, int, int, long>);
static_assert(!std::is_constructible_v<APPFUNCTION, Target*, decltype(&Target::Six), int, int, int, int, int>);
static_assert(!std::is_constructible_v<APPFUNCTION, Target*, decltype(&Target::Nothing), char const*>);
static_assert(!std::is_constructible_v<APPFUNCTION, Target*, decltype(&Target::Zero), int, int, int, int, int, int, int>);

} // namespace
