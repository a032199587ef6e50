// The X11 path of key translation, under a real X server: a private Xvfb
// (with its own authorisation cookie), real key presses through XTEST from
// xdotool, read back by xcb_key_probe running on Qt's xcb platform; the US
// layout the server starts with, then a German one set with setxkbmap (the
// server runs with -noreset, so the layout outlives the setting client).
// Then alerts that wait for a person, shown by xcb_alert_probe, which must
// reach the screen painted and answer keys.
// The server and the probe are always stopped, whatever the test's outcome.
#include "tests/support/testutil.h"
#include "tests/support/xserver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace xtest;

struct KeyLine {
    unsigned kind, vk, scan, prefix, ch, hasChar, mods, native;
};

std::vector<KeyLine> ParseKeys(const std::vector<std::string>& lines)
{
    std::vector<KeyLine> keys;
    for (const std::string& l : lines) {
        KeyLine k{};
        if (std::sscanf(l.c_str(), "KEY %x %x %x %x %x %x %x %x", &k.kind, &k.vk, &k.scan, &k.prefix, &k.ch,
                        &k.hasChar, &k.mods, &k.native) == 8)
            keys.push_back(k);
    }
    return keys;
}

// What the probe's layout lines say a scan code types: "<scan> <shifted>"
// to the character, in hex.
std::map<std::string, unsigned> ParseLayout(const std::vector<std::string>& lines)
{
    std::map<std::string, unsigned> layout;
    for (const std::string& l : lines) {
        unsigned scan = 0, shifted = 0, ch = 0;
        if (std::sscanf(l.c_str(), "LAYOUT %x %u %x", &scan, &shifted, &ch) == 3) {
            char key[16];
            std::snprintf(key, sizeof key, "%x %u", scan, shifted);
            layout[key] = ch;
        }
    }
    return layout;
}

// Modifier bits of the key records.
constexpr unsigned kShift = 0x200, kCtrl = 0x1000, kAlt = 0x800, kSuper = 0x100;

struct Want {
    const char* what;
    unsigned vk, scan, prefix, ch, hasChar, mods, native;
};

// The key-down lines of a session, in order, against what they should say.
void ExpectDowns(const std::vector<KeyLine>& keys, const std::vector<Want>& want)
{
    std::vector<KeyLine> downs;
    for (const KeyLine& k : keys)
        if (k.kind == 1)
            downs.push_back(k);
    ASSERT_EQ(downs.size(), want.size());
    for (size_t i = 0; i < downs.size(); ++i) {
        SCOPED_TRACE(want[i].what);
        EXPECT_EQ(downs[i].vk, want[i].vk);
        EXPECT_EQ(downs[i].scan, want[i].scan);
        EXPECT_EQ(downs[i].prefix, want[i].prefix);
        EXPECT_EQ(downs[i].hasChar, want[i].hasChar);
        if (want[i].hasChar) {
            EXPECT_EQ(downs[i].ch, want[i].ch);
        }
        EXPECT_EQ(downs[i].mods, want[i].mods);
        EXPECT_EQ(downs[i].native, want[i].native);
    }
}

// A modifier key's own press arrives as a modifier event with its side
// and its bit held.
constexpr unsigned kAnyMods = ~0u;

bool HasModifierPress(const std::vector<KeyLine>& keys, unsigned vk, unsigned scan, unsigned prefix, unsigned mods)
{
    for (const KeyLine& k : keys)
        if (k.kind == 4 && k.vk == vk && k.scan == scan && k.prefix == prefix && (mods == kAnyMods || k.mods == mods))
            return true;
    return false;
}

class XcbKeys : public ::testing::Test {
protected:
    void SetUp() override
    {
        xvfb_ = FindTool("Xvfb");
        xdotool_ = FindTool("xdotool");
        xauth_ = FindTool("xauth");
        setxkbmap_ = FindTool("setxkbmap");
        const char* bin = std::getenv("QOR_TEST_BIN_DIR");
        probe_ = std::string(bin ? bin : ".") + "/xcb_key_probe";
        // scripts/setup installs them: a missing one is a fault of the
        // machine, not a reason to pass.
        ASSERT_FALSE(xvfb_.empty() || xdotool_.empty() || xauth_.empty())
            << "Xvfb, xdotool or xauth missing (scripts/setup installs them)";
        ASSERT_TRUE(Exists(probe_)) << probe_;
        ASSERT_TRUE(StartServer());
    }

    bool StartServer() { return server_.Start(xvfb_, xauth_, dir_.path()); }

    std::vector<std::string> XEnv(const char* platform) const { return server_.Env(platform); }

    int Xdotool(const std::vector<std::string>& args)
    {
        Child tool;
        std::vector<std::string> argv = {xdotool_};
        argv.insert(argv.end(), args.begin(), args.end());
        if (!tool.Start(argv, XEnv("xcb"), false))
            return -1;
        EXPECT_TRUE(tool.WaitExit(10000));
        return 0;
    }

    // Runs the probe, hands it the xdotool runs and F12, and returns what it
    // printed.
    std::vector<std::string> Session(const std::vector<std::vector<std::string>>& runs)
    {
        Child probe;
        EXPECT_TRUE(probe.Start({probe_}, XEnv("xcb"), true));
        std::vector<std::string> lines = probe.ReadLines(20000, [](const std::string& l) { return l == "READY"; });
        EXPECT_FALSE(lines.empty()) << "the probe printed nothing";
        if (lines.empty() || lines.back() != "READY") {
            ADD_FAILURE() << "the probe did not get ready";
            return lines;
        }
        for (const auto& run : runs)
            Xdotool(run);
        Xdotool({"key", "F12"});
        lines = probe.ReadLines(10000, [](const std::string& l) { return l.rfind("KEY 3 7b ", 0) == 0; });
        EXPECT_TRUE(probe.WaitExit(5000));
        return lines;
    }

    // Declared before the children: destroyed after them.
    testutil::TempDir dir_;
    std::string xvfb_, xdotool_, xauth_, setxkbmap_, probe_;
    XServer server_;
};

TEST_F(XcbKeys, RealKeyPressesGiveVirtualKeysScanCodesCharactersAndModifiers)
{
    std::vector<std::string> lines =
        Session({{"key", "--delay", "20", "a", "shift+a", "ctrl+c", "alt+x", "super+y", "F1", "Up", "Control_R",
                  "KP_Enter", "BackSpace", "ctrl+BackSpace", "ctrl+Return"},
                 {"keydown", "shift", "keydown", "1", "keyup", "shift", "keyup", "1"}});
    std::vector<KeyLine> keys = ParseKeys(lines);
    ExpectDowns(keys, {
                          {"a", 0x41, 0x1E, 0, 'a', 1, 0, 38},
                          {"Shift+a", 0x41, 0x1E, 0, 'A', 1, kShift, 38},
                          {"Ctrl+c", 0x43, 0x2E, 0, 3, 1, kCtrl, 54},
                          {"Alt+x", 0x58, 0x2D, 0, 'x', 1, kAlt, 53},
                          {"Super+y", 0x59, 0x15, 0, 'y', 1, kSuper, 29},
                          {"F1", 0x70, 0x3B, 0, 0, 0, 0, 67},
                          {"Up", 0x26, 0x48, 0xE0, 0, 0, 0, 111},
                          {"keypad Enter", 0x0D, 0x1C, 0xE0, 13, 1, 0, 104},
                          {"Backspace", 0x08, 0x0E, 0, 8, 1, 0, 22},
                          {"Ctrl+Backspace", 0x08, 0x0E, 0, 127, 1, kCtrl, 22},
                          {"Ctrl+Return", 0x0D, 0x1C, 0, 10, 1, kCtrl, 36},
                          {"Shift+1", 0x31, 0x02, 0, '!', 1, kShift, 10},
                          {"F12", 0x7B, 0x58, 0, 0, 0, 0, 96},
                      });

    EXPECT_TRUE(HasModifierPress(keys, 0x10, 0x2A, 0, kShift)) << "left Shift";
    EXPECT_TRUE(HasModifierPress(keys, 0x11, 0x1D, 0, kCtrl)) << "left Ctrl";
    // xdotool holds the left Ctrl around its right Ctrl, so that press
    // says nothing sure about the held bits.
    EXPECT_TRUE(HasModifierPress(keys, 0x11, 0x1D, 0xE0, kAnyMods)) << "right Ctrl";
    EXPECT_TRUE(HasModifierPress(keys, 0x12, 0x38, 0, kAlt)) << "left Alt";
    EXPECT_TRUE(HasModifierPress(keys, 0x5B, 0x5B, 0xE0, kSuper)) << "left Super";

    // The release of "1" after Shift went up still says "!": matched by scan
    // code to its press.
    bool matched = false;
    for (const KeyLine& k : keys)
        matched = matched || (k.kind == 3 && k.scan == 0x02 && k.ch == '!' && k.vk == 0x31);
    EXPECT_TRUE(matched);

    const std::map<std::string, unsigned> layout = ParseLayout(lines);
    EXPECT_EQ(layout, (std::map<std::string, unsigned>{{"3 0", '2'}, {"3 1", '@'}, {"c 0", '-'}, {"c 1", '_'},
                                                       {"10 0", 'q'}, {"10 1", 'Q'}, {"15 0", 'y'}, {"15 1", 'Y'},
                                                       {"27 0", ';'}, {"27 1", ':'}, {"2c 0", 'z'}, {"2c 1", 'Z'}}));
}

TEST_F(XcbKeys, AGermanLayoutMovesLettersAndTypesItsOwnCharactersWithAltGr)
{
    Child setxkbmap;
    ASSERT_FALSE(setxkbmap_.empty()) << "setxkbmap missing (x11-xkb-utils; scripts/setup installs it)";
    ASSERT_TRUE(setxkbmap.Start({setxkbmap_, "-layout", "de"}, XEnv("xcb"), false));
    ASSERT_TRUE(setxkbmap.WaitExit(10000));

    std::vector<std::string> lines =
        Session({{"key", "--delay", "20", "y", "z", "odiaeresis", "shift+2", "ssharp", "ctrl+y", "alt+z", "super+z"},
                 {"keydown", "ISO_Level3_Shift"},
                 {"key", "q"},
                 {"keyup", "ISO_Level3_Shift"}});
    std::vector<KeyLine> keys = ParseKeys(lines);
    // Letters name their keys by what they type; the scan code stays where
    // the key is. AltGr is neither Ctrl nor Alt: AltGr+q types "@".
    ExpectDowns(keys, {
                          {"y (bottom row)", 0x59, 0x2C, 0, 'y', 1, 0, 52},
                          {"z (top row)", 0x5A, 0x15, 0, 'z', 1, 0, 29},
                          {"o umlaut", 0xBA, 0x27, 0, 0xF6, 1, 0, 47},
                          {"Shift+2", 0x32, 0x03, 0, '"', 1, kShift, 11},
                          {"sharp s", 0xBD, 0x0C, 0, 0xDF, 1, 0, 20},
                          {"Ctrl+y", 0x59, 0x2C, 0, 0x19, 1, kCtrl, 52},
                          {"Alt+z", 0x5A, 0x15, 0, 'z', 1, kAlt, 29},
                          {"Super+z", 0x5A, 0x15, 0, 'z', 1, kSuper, 29},
                          {"AltGr+q", 0x51, 0x10, 0, '@', 1, 0, 24},
                          {"F12", 0x7B, 0x58, 0, 0, 0, 0, 96},
                      });
    EXPECT_TRUE(HasModifierPress(keys, 0x12, 0x38, 0xE0, 0)) << "AltGr, the right Alt key";

    const std::map<std::string, unsigned> layout = ParseLayout(lines);
    EXPECT_EQ(layout, (std::map<std::string, unsigned>{{"3 0", '2'}, {"3 1", '"'}, {"c 0", 0xDF}, {"c 1", '?'},
                                                       {"10 0", 'q'}, {"10 1", 'Q'}, {"15 0", 'z'}, {"15 1", 'Z'},
                                                       {"27 0", 0xF6}, {"27 1", 0xD6}, {"2c 0", 'y'}, {"2c 1", 'Y'}}));
}

// An alert nobody answers in the program waits for the person: the box
// must be on the screen, painted (read back from the screen, not from the
// window), take a key, and the program (whose name Qt gives the windows' X
// class and untitled titles) is named after its executable although it was
// started with a folder as argv[0]. Asked from a posted task (as the
// quit event asks) and from inside a key press (as a menu key equivalent
// asks); Return picks the default button, Escape the cancel button.
TEST_F(XcbKeys, AnAlertWaitingForAPersonIsPaintedNamedAndAnswersKeys)
{
    const char* bin = std::getenv("QOR_TEST_BIN_DIR");
    const std::string probe = std::string(bin ? bin : ".") + "/xcb_alert_probe";
    ASSERT_TRUE(Exists(probe)) << probe;
    struct Case {
        const char* mode;
        const char* key;
        const char* answer;
    };
    for (const Case& c : {Case{"post", "Return", "ANSWER 1"}, Case{"key", "Escape", "ANSWER 2"}}) {
        SCOPED_TRACE(c.mode);
        Child alert;
        ASSERT_TRUE(alert.Start({probe, c.mode}, XEnv("xcb"), true));
        std::vector<std::string> lines =
            alert.ReadLines(20000, [](const std::string& l) { return l == "READY"; });
        ASSERT_FALSE(lines.empty() || lines.back() != "READY") << "the probe did not get ready";
        EXPECT_EQ(lines.front(), "NAME xcb_alert_probe");
        if (std::string(c.mode) == "key")
            Xdotool({"key", "F2"});
        lines = alert.ReadLines(20000, [](const std::string& l) { return l.rfind("SHOWN ", 0) == 0; });
        ASSERT_FALSE(lines.empty() || lines.back().rfind("SHOWN ", 0) != 0)
            << "the box never showed painted on the screen";
        int lit = 0, width = 0, height = 0;
        ASSERT_EQ(std::sscanf(lines.back().c_str(), "SHOWN %d %dx%d", &lit, &width, &height), 3);
        EXPECT_GE(lit, 50);
        EXPECT_GT(width, 100);
        EXPECT_GT(height, 50);
        Xdotool({"key", c.key});
        lines = alert.ReadLines(10000, [](const std::string& l) { return l.rfind("ANSWER ", 0) == 0; });
        ASSERT_FALSE(lines.empty()) << "the box did not answer " << c.key;
        EXPECT_EQ(lines.back(), c.answer);
        EXPECT_TRUE(alert.WaitExit(5000));
    }
}

} // namespace
