// The VT and ANSI emulations as a user meets them, through a whole headless
// session (bytes in through the loopback device, the screen, the scroll-back
// and what goes back to the host): answers, keys, mouse and paste reports,
// title and palette, names and flags, what reaches the scroll-back, the
// alternate screen, line attributes, protected cells, 8-bit text, the ANSI
// dialect, split writes, and the printer controller through the emulation
// layer of a recording session.
#include "program/session/emulation.h"
#include "program/session/sessionrunner.h"
#include "tests/outside/corvane/vtsnapshot.h"
#include "tests/program/session/sessiontest.h"
#include "tests/support/testutil.h"

#include "velmot/gui/winkeys.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <sys/resource.h>
#include <string>

using namespace vttest;

namespace {

class Corvane : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(HEADLESSSESSION::StartPlatform()); }
};

// A session with the emulation asked for; what it sent back is read in
// pieces, each only once.
class TERMINAL {
public:
    explicit TERMINAL(int emulation = 18, int codePage = 1000, int cols = 80, int rows = 24)
        : Run({.Emulation = emulation, .Columns = cols, .Rows = rows, .CodePage = codePage})
    {
        EXPECT_TRUE(Run.IsOpen());
        SESSION& s = Run.Session();
        s.Prof.data.ColorFore = 7;
        s.Prof.data.ColorBack = 0;
        s.EmuLayer.TrackColors(0, 7, 1);
    }
    SESSION& S() { return Run.Session(); }
    void Put(std::string const& escaped)
    {
        EXPECT_TRUE(Run.Feed(Unescape(escaped)));
        EXPECT_TRUE(Run.WaitIdle());
    }
    // What the session sent since the last call, after waiting a moment
    // for `expect` (when it is not empty).
    std::string Sent(std::string const& expect = std::string())
    {
        if (!expect.empty())
            Run.RunUntil([&] { return Run.Sent().size() >= Seen + expect.size(); }, 3000);
        else
            Run.RunUntil([] { return false; }, 30);
        std::string const all = Run.Sent();
        std::string const fresh = all.substr(std::min(Seen, all.size()));
        Seen = all.size();
        return fresh;
    }
    std::string Row(int y) { return Run.Row(y); }
    SNAPSHOT Screen() { return FromSession(Run); }
    std::pair<int, int> Cursor()
    {
        int x = 0, y = 0;
        S().Screen.GetCursorPos(&x, &y);
        return {x, y};
    }

    HEADLESSSESSION Run;
    size_t Seen = 0;
};

KEYBOARDEVENT Key(uint16_t keycode, uint32_t modifiers = 0, uint8_t scan = 0, uint32_t ch = 0)
{
    KEYBOARDEVENT e{};
    e.Valid = 1;
    e.Keycode = keycode;
    e.Modifiers = modifiers;
    e.Scancode = scan;
    e.Char = e.UniChar = ch;
    e.Flags = keycode ? KEYFLAG_KEYCODE : KEYFLAG_CHAR;
    return e;
}

} // namespace

TEST_F(Corvane, AnswersToTheHost)
{
    struct {
        int emulation;
        char const* asked;
        char const* answer;
    } const cases[] = {
        {18, "\\e[c", "\x1b[?64;1;2;6;9;15;17;18;21;22;28c"},
        {18, "\\e[0c", "\x1b[?64;1;2;6;9;15;17;18;21;22;28c"},
        {18, "\\eZ", "\x1b[?64;1;2;6;9;15;17;18;21;22;28c"},
        {18, "\\e[>c", "\x1b[>41;379;0c"},
        {18, "\\e[5n", "\x1b[0n"},
        {18, "\\e[3;7H\\e[6n", "\x1b[3;7R"},
        {18, "\\e[5;10r\\e[?6h\\e[2;3H\\e[6n", "\x1b[2;3R"},
        {18, "\\e[1c\\e[99n\\e[?99n", ""},
        // Those xterm answers otherwise (test_vtreference has xterm's).
        {18, "\\e[?15n\\e[?53n\\e[?55n", "\x1b[?10n\x1b[?50n\x1b[?50n"},
        {18, "\\e[3$p\\e[12$p\\e[?4$p\\e[?1016$p", "\x1b[3;4$y\x1b[12;3$y\x1b[?4;4$y\x1b[?1016;0$y"},
        {3, "\\e[c", "\x1b[?62;1;2;6;7;8;9c"},
        {3, "\\e[=c\\e[5$p\\eP$qs\\e\\\\", "\x1bP0$r\x1b\\"},
        {2, "\\e[c", "\x1b[?6c"},
        {5, "\\e[c\\e[>c", "\x1b[?1;2c"},
        {19, "\\e[c", "\x1b[?64;1;2;6;9;15;17;18;21;22;28c"},
        {1, "\\e[24;80H\\e[6n", "\x1b[24;80R"},
        // The ANSI terminal has none of the DEC reports.
        {1, "\\e[?6n\\e[?1$p\\eP$qm\\e\\\\\\e[1;1;1;1;1;1*y\\e]4;1;?\\a", ""},
    };
    for (auto const& c : cases) {
        TERMINAL t(c.emulation);
        t.Put(c.asked);
        EXPECT_EQ(t.Sent(c.answer), c.answer) << c.emulation << " " << c.asked;
    }
}

// A host that asks for device attributes faster than it reads the answers
// (here: never) holds nothing up: the answers wait in a bounded queue, the
// rest is dropped, the screen goes on; once the host has ended, what waits
// is dropped and nothing spins.
TEST_F(Corvane, AHostThatAsksWithoutReadingHoldsNothingUp)
{
    testutil::TempDir dir;
    std::string const script = dir.file("flood.py");
    testutil::WriteFile(script, "import os, time, tty\n"
                                "tty.setraw(0)\n"
                                "for _ in range(800):\n"
                                "    os.write(1, b'\\x1b[c' * 250)\n"
                                "os.write(1, b'\\r\\nflood done\\r\\n')\n"
                                "time.sleep(2)\n");
    std::string const parm = "[11]python3 " + script;
    HEADLESSSESSION run({.Device = 11, .DeviceParm = parm.c_str(), .Emulation = 18});
    ASSERT_TRUE(run.IsOpen());
    COMM& comm = run.Session().CommLayer;
    auto shown = [&] {
        for (int y = 0; y < 24; ++y)
            if (run.Row(y).find("flood done") != std::string::npos)
                return true;
        return false;
    };
    ASSERT_TRUE(run.RunUntil(shown, 30000)) << "the screen did not get past the requests";
    EXPECT_GT(comm.OutputDropped(), 0u) << "200,000 answers do not all fit";
    EXPECT_LE(comm.OutputPending(), COMMWRITER::LIMIT);

    ASSERT_TRUE(run.RunUntil([&] { return comm.QueryOnline() == 0 && comm.OutputPending() == 0; }, 15000))
        << "the answers still wait after the host ended";
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    run.RunUntil([] { return false; }, 1000);
    getrusage(RUSAGE_SELF, &after);
    auto ms = [](rusage const& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000LL + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000;
    };
    EXPECT_LT(ms(after) - ms(before), 500) << "CPU time in a quiet second after the hang-up";
}

TEST_F(Corvane, AnswerbackOnlyWhenTheProfileAllowsIt)
{
    TERMINAL t;
    snprintf(t.S().Prof.data.EnqString, sizeof t.S().Prof.data.EnqString, "%s", "hello");
    t.S().Prof.data.DoEnq = 0;
    t.Put("\\x05");
    EXPECT_EQ(t.Sent(), "");
    t.S().Prof.data.DoEnq = 1;
    t.Put("\\x05");
    EXPECT_EQ(t.Sent("hello"), "hello");
}

TEST_F(Corvane, KeysByTerminal)
{
    constexpr uint32_t SH = KEYMOD_SHIFT, CT = KEYMOD_CONTROL, AL = KEYMOD_OPTION;
    struct {
        int emulation;
        char const* modes; // sent to the terminal first
        KEYBOARDEVENT key;
        char const* sent;
    } const cases[] = {
        {18, "", Key(0x26), "\x1b[A"},
        {18, "\\e[?1h", Key(0x26), "\x1bOA"},
        {18, "\\e[?1h", Key(0x25, SH), "\x1b[1;2D"},
        {18, "", Key(0x27, CT | AL), "\x1b[1;7C"},
        {18, "", Key(0x24), "\x1b[H"},
        {18, "\\e[?1h", Key(0x23), "\x1bOF"},
        {18, "", Key(0x2D), "\x1b[2~"},
        {18, "", Key(0x2E, CT), "\x1b[3;5~"},
        {18, "", Key(0x21), "\x1b[5~"},
        {18, "", Key(0x22), "\x1b[6~"},
        {18, "", Key(0x70), "\x1bOP"},
        {18, "", Key(0x73, SH), "\x1b[1;2S"},
        {18, "", Key(0x74), "\x1b[15~"},
        {18, "", Key(0x7B), "\x1b[24~"},
        {18, "", Key(0x7C), "\x1b[1;2P"},
        {18, "", Key(0x83), "\x1b[19;2~"},
        {3, "", Key(0x24), "\x1b[1~"},
        {3, "", Key(0x23), "\x1b[4~"},
        {3, "", Key(0x7C), "\x1b[25~"},
        {3, "", Key(0x83), "\x1b[34~"},
        {18, "", Key(0x08), "\x7f"},
        {18, "", Key(0x08, CT), "\b"},
        {18, "", Key(0x08, AL), "\x1b\x7f"},
        {18, "", Key(0x09), "\t"},
        {18, "", Key(0x09, SH), "\x1b[Z"},
        {18, "", Key(0x0D), "\r"},
        {18, "\\e[20h", Key(0x0D), "\r\n"},
        {18, "", Key(0x1B), "\x1b"},
        {18, "", Key(0, AL, 0, 'x'), "\x1bx"},
        {18, "", Key(0, AL | CT, 0, 'c'), "\x1b\x03"},
        // Control with Alt as the keyboard layer gives it: the control
        // character made already (Control+Alt+A, +8, +/).
        {18, "", Key(0, AL | CT, 0, 0x01), "\x1b\x01"},
        {18, "", Key(0, AL | CT, 0, 0x7f), "\x1b\x7f"},
        {18, "", Key(0, AL | CT, 0, 0x1f), "\x1b\x1f"},
        // The keypad without Num Lock: its cursor keys follow the cursor
        // key mode, not the keypad mode; the middle key is xterm's Begin.
        {18, "", Key(0x0C, 0, 0x4c), "\x1b[E"},
        {18, "\\e[?1h", Key(0x0C, 0, 0x4c), "\x1bOE"},
        {18, "\\e=", Key(0x24, 0, 0x47), "\x1b[H"},
        {18, "\\e[?1h\\e=", Key(0x24, 0, 0x47), "\x1bOH"},
        {18, "\\e=", Key(0x2D, 0, 0x52), "\x1b[2~"},
        {18, "\\e=", Key(0, 0, 0x4f, '1'), "\x1bOq"},
        {18, "\\e=", Key(0x0D, 0, 0x5a), "\x1bOM"},
        {1, "", Key(0x08), "\b"},
        {1, "", Key(0x26), "\x1b[A"},
        {1, "\\e[?1h", Key(0x26), "\x1b[A"},
        {1, "", Key(0x2D), "\x1b[L"},
    };
    for (auto const& c : cases) {
        TERMINAL t(c.emulation);
        t.Put(c.modes);
        EXPECT_EQ(t.S().EmuLayer.ProcessKey(c.key), 1) << c.sent;
        EXPECT_EQ(t.Sent(c.sent), c.sent) << c.emulation << " key " << c.key.Keycode << " modes " << c.modes;
    }
    // Keys the terminal has no sequence for are left to the session; key
    // releases and the menus' Command keys too.
    TERMINAL t;
    EXPECT_EQ(t.S().EmuLayer.ProcessKey(Key(0, 0, 0, 'a')), 0);
    EXPECT_EQ(t.S().EmuLayer.ProcessKey(Key(0, CT, 0, 'c')), 0);
    EXPECT_EQ(t.S().EmuLayer.ProcessKey(Key(0x26, KEYMOD_COMMAND)), 0);
    KEYBOARDEVENT released = Key(0x26);
    released.Flags |= 0x100;
    EXPECT_EQ(t.S().EmuLayer.ProcessKey(released), 0);
    EXPECT_EQ(t.Sent(), "");
    // Named keys, as scripts and the session type them.
    EXPECT_EQ(t.S().EmuLayer.FeedSymbolicKey("Up"), 1);
    EXPECT_EQ(t.S().EmuLayer.FeedSymbolicKey("F12"), 1);
    EXPECT_EQ(t.S().EmuLayer.FeedSymbolicKey("Nonsense"), 0);
    EXPECT_EQ(t.Sent("\x1b[A\x1b[24~"), "\x1b[A\x1b[24~");
}

TEST_F(Corvane, BackspaceByOption)
{
    TERMINAL t;
    snprintf(t.S().Prof.data.EmulationOpts[18], 128, "[18]{bs}");
    t.S().EmuLayer.SetEmulation(18, 1);
    t.S().EmuLayer.ProcessKey(Key(0x08));
    EXPECT_EQ(t.Sent("\b"), "\b");
    snprintf(t.S().Prof.data.EmulationOpts[18], 128, "[18]{del}");
    t.S().EmuLayer.SetEmulation(18, 1);
    t.S().EmuLayer.ProcessKey(Key(0x08));
    EXPECT_EQ(t.Sent("\x7f"), "\x7f");
}

TEST_F(Corvane, MouseReports)
{
    TERMINAL t;
    EMULATION& e = t.S().EmuLayer;
    EXPECT_EQ(e.HandleMouseEvent(4, 2, 0, 0), 0) << "no report without a mouse mode";
    t.Put("\\e[?1000h");
    EXPECT_EQ(e.HandleMouseEvent(4, 2, 0, 0), 1);
    EXPECT_EQ(e.HandleMouseEvent(4, 2, 0, 1), 1);
    EXPECT_EQ(e.HandleMouseEvent(6, 2, -1, 0), 0) << "motion is not reported in mode 1000";
    EXPECT_EQ(t.Sent("\x1b[M %#\x1b[M#%#"), "\x1b[M %#\x1b[M#%#");
    t.Put("\\e[?1002h\\e[?1006h");
    e.HandleMouseEvent(4, 2, 0, 0);
    e.HandleMouseEvent(5, 2, -1, 0);
    e.HandleMouseEvent(5, 2, 0, 1);
    e.HandleMouseEvent(7, 3, -1, 0);
    e.HandleMouseEvent(1, 1, 5, 0);
    EXPECT_EQ(t.Sent("\x1b[<0;5;3M\x1b[<32;6;3M\x1b[<0;6;3m\x1b[<65;2;2M"),
              "\x1b[<0;5;3M\x1b[<32;6;3M\x1b[<0;6;3m\x1b[<65;2;2M");
    t.Put("\\e[?1003h");
    e.HandleMouseEvent(9, 9, -1, 0);
    EXPECT_EQ(t.Sent("\x1b[<35;10;10M"), "\x1b[<35;10;10M");
    t.Put("\\e[?1003l");
    EXPECT_EQ(e.HandleMouseEvent(4, 2, 0, 0), 0);
    // The old encoding cannot carry positions past 223; UTF-8 (1005)
    // carries them up to 2015, urxvt's (1015) in decimal. One encoding
    // holds at a time.
    TERMINAL wide(18, 1000, 300, 24);
    wide.Put("\\e[?1000h");
    wide.S().EmuLayer.HandleMouseEvent(250, 1, 0, 0);
    EXPECT_EQ(wide.Sent(), "");
    wide.Put("\\e[?1005h");
    wide.S().EmuLayer.HandleMouseEvent(250, 1, 0, 0);
    EXPECT_EQ(wide.Sent("\x1b[M \xc4\x9b\""), "\x1b[M \xc4\x9b\"");
    wide.Put("\\e[?1015h\\e[?1006l");
    wide.S().EmuLayer.HandleMouseEvent(250, 1, 0, 0);
    wide.S().EmuLayer.HandleMouseEvent(250, 1, 0, 1);
    EXPECT_EQ(wide.Sent("\x1b[32;251;2M\x1b[35;251;2M"), "\x1b[32;251;2M\x1b[35;251;2M");
}

TEST_F(Corvane, FocusReportsAndTitleStack)
{
    TERMINAL t;
    t.S().OnFocusLost();
    t.S().OnFocusAcquired();
    EXPECT_EQ(t.Sent(), "") << "no focus reports without mode 1004";
    t.Put("\\e[?1004h");
    t.S().OnFocusLost();
    t.S().OnFocusAcquired();
    EXPECT_EQ(t.Sent("\x1b[O\x1b[I"), "\x1b[O\x1b[I");
    // CSI 22 t and CSI 23 t keep the titles a program changes.
    t.Put("\\e]2;shell\\a\\e[22;0t\\e]2;editor\\a\\e[22;2t\\e]2;help\\a");
    EXPECT_STREQ(t.S().EmuLayer.QueryCustomTitleWide(), L"help");
    t.Put("\\e[23;2t");
    EXPECT_STREQ(t.S().EmuLayer.QueryCustomTitleWide(), L"editor");
    t.Put("\\e[23;0t\\e[23t\\e[8;50;100t\\e[18t");
    EXPECT_STREQ(t.S().EmuLayer.QueryCustomTitleWide(), L"shell") << "a pop of an empty stack changes nothing";
    int w = 0, h = 0;
    t.S().Screen.GetWinSize(&w, &h);
    EXPECT_EQ(w, 80) << "no window operation resizes";
    EXPECT_EQ(t.Sent(), "") << "nor reports";
}

TEST_F(Corvane, BracketedPaste)
{
    TERMINAL t;
    EXPECT_EQ(t.S().EmuLayer.HandleTerminalEvent(EMULATION_EVENT_PASTEBEGIN), 0);
    t.Put("\\e[?2004h");
    EXPECT_EQ(t.S().EmuLayer.HandleTerminalEvent(EMULATION_EVENT_PASTEBEGIN), 1);
    EXPECT_EQ(t.S().EmuLayer.HandleTerminalEvent(EMULATION_EVENT_PASTEEND), 1);
    EXPECT_EQ(t.Sent("\x1b[200~\x1b[201~"), "\x1b[200~\x1b[201~");
    t.Put("\\e[?2004l");
    EXPECT_EQ(t.S().EmuLayer.HandleTerminalEvent(EMULATION_EVENT_PASTEEND), 0);
}

TEST_F(Corvane, TitleAndPalette)
{
    TERMINAL t;
    t.Put("\\e]2;first title\\a");
    EXPECT_STREQ(t.S().EmuLayer.QueryCustomTitleWide(), L"first title");
    t.Put("\\e]0;\xc3\xa4 second\\e\\\\");
    EXPECT_STREQ(t.S().EmuLayer.QueryCustomTitleWide(), L"\u00e4 second");
    // A title past the string bound is dropped whole.
    t.Put("\\e]2;" + std::string(5000, 'x') + "\\a");
    EXPECT_STREQ(t.S().EmuLayer.QueryCustomTitleWide(), L"\u00e4 second");
    // Title reports stay off, as in xterm's defaults.
    t.Put("\\e[21t\\e[20t");
    EXPECT_EQ(t.Sent(), "");

    VIO& screen = t.S().Screen;
    uint32_t const original = screen.GetXtermColor(17);
    t.Put("\\e]4;17;rgb:ff/00/80;200;#102030\\a");
    EXPECT_EQ(screen.GetXtermColor(17), 0x8000FFu);
    EXPECT_EQ(screen.GetXtermColor(200), 0x302010u);
    t.Put("\\e]104;17\\a");
    EXPECT_EQ(screen.GetXtermColor(17), original);
    EXPECT_EQ(screen.GetXtermColor(200), 0x302010u);
    t.Put("\\e]104\\a");
    EXPECT_NE(screen.GetXtermColor(200), 0x302010u);
    EXPECT_EQ(t.Row(0), "") << "no string reaches the screen";
}

TEST_F(Corvane, ColourQueries)
{
    TERMINAL t;
    VIO& screen = t.S().Screen;
    auto spec = [](uint32_t bgr) {
        char text[32];
        snprintf(text, sizeof text, "rgb:%04x/%04x/%04x", (bgr & 0xFF) * 0x101, ((bgr >> 8) & 0xFF) * 0x101,
                 ((bgr >> 16) & 0xFF) * 0x101);
        return std::string(text);
    };
    // The profile's text and background colours, the cursor's (the text
    // colour without a cursor colour of its own), and palette entries; the
    // answer ends as the question did.
    t.S().Prof.data.ColorCursor = 0;
    std::string const expect = "\x1b]10;" + spec(screen.GetSysColor(7)) + "\a\x1b]11;" + spec(screen.GetSysColor(0)) +
                               "\a\x1b]12;" + spec(screen.GetSysColor(7)) + "\x1b\\\x1b]4;3;" +
                               spec(screen.GetSysColor(3)) + "\x1b\\\x1b]4;200;" + spec(screen.GetXtermColor(200)) +
                               "\x1b\\";
    t.Put("\\e]10;?;?\\a\\e]12;?\\e\\\\\\e]4;3;?;200;?\\e\\\\");
    EXPECT_EQ(t.Sent(expect), expect);
    t.S().Prof.data.ColorCursor = 5; // colour 4
    t.Put("\\e]4;200;rgb:01/02/03\\a\\e]4;200;?\\a\\e]12;?\\a\\e]4;256;?\\a\\e]4;x;?\\a\\e]10;red\\a");
    std::string const changed = "\x1b]4;200;rgb:0101/0202/0303\a\x1b]12;" + spec(screen.GetSysColor(4)) + "\a";
    EXPECT_EQ(t.Sent(changed), changed) << "no answer past the palette, to a bad index, or to a colour set";
}

TEST_F(Corvane, CursorStyles)
{
    TERMINAL t;
    t.S().Prof.data.BigCursor = 0;
    t.S().Prof.data.CursorBlink = 0;
    VIO& screen = t.S().Screen;
    struct {
        char const* set;
        int raw;
        char const* report;
    } const cases[] = {
        {"\\e[2 q", VIOCURSOR_BLOCK, "2"},   {"\\e[3 q", VIOCURSOR_UNDERLINE, "3"}, {"\\e[6 q", VIOCURSOR_BAR, "6"},
        {"\\e[0 q", VIOCURSOR_BLOCK, "1"},   {"\\e[5 q", VIOCURSOR_BAR, "5"},        {"\\e[9 q", VIOCURSOR_BAR, "5"},
        {"\\e[!p", VIOCURSOR_UNDERLINE, "4"}, // the soft reset goes back to the profile's shape
    };
    for (auto const& c : cases) {
        t.Put(std::string(c.set) + "\\eP$q q\\e\\\\");
        EXPECT_EQ(screen.GetCursorType(), c.raw) << c.set;
        std::string const report = std::string("\x1bP1$r") + c.report + " q\x1b\\";
        EXPECT_EQ(t.Sent(report), report) << c.set;
    }
    // Leaving the emulation gives the next one the profile's shape.
    t.Put("\\e[5 q");
    t.S().EmuLayer.SetEmulation(0, 1);
    EXPECT_EQ(screen.GetCursorType(), VIOCURSOR_UNDERLINE);
}

TEST_F(Corvane, ColumnSwitches)
{
    TERMINAL t;
    int width = 0, height = 0;
    auto size = [&] {
        t.S().Screen.GetWinSize(&width, &height);
        return width;
    };
    t.Put("first row\\r\\nsecond\\e[?3h");
    EXPECT_EQ(size(), 80) << "DECCOLM needs mode 40";
    EXPECT_EQ(t.Row(0), "first row");
    t.Put("\\e[?40h\\e[3;10r\\e[?3h\\e[?3$p");
    EXPECT_EQ(size(), 132);
    EXPECT_EQ(height, 24);
    EXPECT_EQ(t.Row(0), "") << "DECCOLM clears the screen";
    EXPECT_EQ(t.Sent("\x1b[?3;1$y"), "\x1b[?3;1$y");
    t.Put("\\e[24;1Hafter\\n");
    EXPECT_EQ(t.Row(22), "after") << "the margins were reset: a line feed at the bottom scrolls";
    // DECSCPP keeps the rows, cut at the new width, and no row goes to
    // the scroll-back.
    int const filled = t.S().Scrollback.QueryFilled();
    t.Put("\\e[H\\e[2J" + std::string(130, 'x') + "\\e[2;1Hrow two\\e[2;120H\\e[80$|");
    EXPECT_EQ(size(), 80);
    EXPECT_EQ(t.Row(0), std::string(80, 'x'));
    EXPECT_EQ(t.Row(1), "row two");
    EXPECT_EQ(t.Cursor(), std::make_pair(79, 1)) << "the cursor stays in its row, in the last column";
    EXPECT_EQ(t.S().Scrollback.QueryFilled(), filled + 24) << "only the erase of the screen reached the scroll-back";
    t.Put("\\e[132$|");
    EXPECT_EQ(size(), 132);
    EXPECT_EQ(t.Row(0), std::string(80, 'x')) << "widening pads the rows";
}

TEST_F(Corvane, KeysInModes)
{
    struct {
        char const* modes;
        KEYBOARDEVENT key;
        char const* sent;
    } const cases[] = {
        {"\\e[?2l", Key(0x26), "\x1b" "A"},
        {"\\e[?2l\\e[?1h", Key(0x25), "\x1b" "D"},
        {"\\e[?2l", Key(0x70), "\x1b" "P"},
        {"\\e[?2l\\e=", Key(0, 0, 0x4f, '1'), "\x1b?q"},
        {"\\e[?2l\\e<", Key(0x26), "\x1b[A"},
        {"\\e[?66h", Key(0, 0, 0x4f, '1'), "\x1bOq"},
        {"\\e[?67h", Key(0x08), "\b"},
        {"\\e[?67h\\e[?67l", Key(0x08), "\x7f"},
    };
    for (auto const& c : cases) {
        TERMINAL t;
        t.Put(c.modes);
        EXPECT_EQ(t.S().EmuLayer.ProcessKey(c.key), 1) << c.modes;
        EXPECT_EQ(t.Sent(c.sent), c.sent) << c.modes;
    }
    // KAM locks the keyboard: keys are taken and nothing is sent.
    TERMINAL t;
    t.Put("\\e[2h");
    EXPECT_EQ(t.S().EmuLayer.ProcessKey(Key(0x26)), 1);
    EXPECT_EQ(t.S().EmuLayer.ProcessKey(Key(0, 0, 0, 'a')), 1);
    EXPECT_EQ(t.Sent(), "");
    t.Put("\\e[2l");
    EXPECT_EQ(t.S().EmuLayer.ProcessKey(Key(0x26)), 1);
    EXPECT_EQ(t.Sent("\x1b[A"), "\x1b[A");
    // RIS gives Backspace back to the option.
    t.Put("\\e[?67h\\ec");
    t.S().EmuLayer.ProcessKey(Key(0x08));
    EXPECT_EQ(t.Sent("\x7f"), "\x7f");
}

TEST_F(Corvane, SequenceCheckInVt52Mode)
{
    // The host's check of received text knows VT52's sequences: ESC Y takes
    // two more characters, whatever they are.
    TERMINAL t;
    t.Put("\\e[?2l");
    std::string const text = "a\x1bY  b\x1b" "Ac";
    std::string in;
    int state = 0;
    for (char c : text)
        in += t.S().EmuLayer.IsSequence(&state, c, 0) ? '1' : '0';
    EXPECT_EQ(in, "011110110");
    // The run check answers the same, a run at a time.
    std::string runs;
    state = 0;
    for (size_t at = 0; at < text.size();) {
        int const k = t.S().EmuLayer.SequenceRun(&state, text.data() + at, int(text.size() - at));
        ASSERT_NE(k, 0);
        runs.append(size_t(k < 0 ? -k : k), k < 0 ? '1' : '0');
        at += size_t(k < 0 ? -k : k);
    }
    EXPECT_EQ(runs, "011110110");
    t.Put("\\e<");
    in.clear();
    for (char c : std::string("\x1bY  b"))
        in += t.S().EmuLayer.IsSequence(&state, c, 0) ? '1' : '0';
    EXPECT_EQ(in, "11000") << "in ANSI mode ESC Y is a sequence of its own";
}

TEST_F(Corvane, NamesAndFlags)
{
    struct {
        int emulation;
        std::vector<std::string> names;
    } const cases[] = {
        {18, {"xterm-256color", "xterm", "vt220"}}, {19, {"xterm-256color", "xterm", "vt220"}},
        {3, {"vt220", "vt100"}}, {4, {"vt220", "vt100"}}, {13, {"vt220", "vt100"}},
        {2, {"vt102", "vt100"}}, {5, {"vt100"}}, {1, {"ansi"}}, {8, {"ansi"}},
    };
    for (auto const& c : cases) {
        TERMINAL t(c.emulation);
        char name[64];
        for (size_t n = 0; n < c.names.size(); ++n) {
            EXPECT_EQ(t.S().EmuLayer.QueryUnixName(int(n), name), 1);
            EXPECT_EQ(name, c.names[n]) << c.emulation << " " << n;
        }
        EXPECT_EQ(t.S().EmuLayer.QueryUnixName(int(c.names.size()), name), 0);
        EXPECT_EQ(name, c.names.back()) << "the last name again at the end of the list";
    }
    TERMINAL utf8(18, 1000), latin(18, 1252), ansi(1, 1000);
    EXPECT_TRUE(utf8.S().EmuLayer.WantUtf8Conversion() && utf8.S().EmuLayer.SendUtf8Keys());
    EXPECT_FALSE(latin.S().EmuLayer.WantUtf8Conversion() || latin.S().EmuLayer.SendUtf8Keys());
    EXPECT_TRUE(ansi.S().EmuLayer.NoUnicode());
    EXPECT_FALSE(utf8.S().EmuLayer.NoUnicode() || utf8.S().EmuLayer.WantStreamMarkers() ||
                 utf8.S().EmuLayer.HasLocalEditing() || utf8.S().EmuLayer.NoTranslateDatastream());
}

TEST_F(Corvane, WhatReachesTheScrollback)
{
    struct {
        char const* name;
        std::string bytes;
        int rows; // in the scroll-back afterwards
    } const cases[] = {
        {"lines leaving the top", "\\e[24;1Ha\\nb\\nc\\n", 3},
        {"lines leaving a region at the top", "\\e[1;10r\\e[10;1Ha\\nb\\n", 2},
        {"lines leaving a region below the top", "\\e[5;10r\\e[10;1Ha\\nb\\nc\\n", 0},
        {"deleted lines", "x\\e[H\\e[5M", 0},
        {"erased lines and parts", "abc\\e[K\\e[2K\\e[J\\e[1J\\e[10X", 0},
        {"the whole screen erased, all its rows", "text\\e[2J", 24},
        {"the alternate screen", "\\e[?1049htext\\e[2J\\e[24;1H\\n\\n\\e[?1049l", 0},
        {"lines leaving the top between left and right margins", "\\e[?69h\\e[10;20s\\e[24;15Ha\\nb\\n", 0},
    };
    for (auto const& c : cases) {
        TERMINAL t;
        t.Put(c.bytes);
        EXPECT_EQ(t.S().Scrollback.QueryFilled(), c.rows) << c.name;
    }
}

TEST_F(Corvane, AlternateScreenKeepsTheMainOne)
{
    TERMINAL t;
    t.Put("\\e[31mmain line\\e[0m\\r\\nsecond\\e[?1049h");
    EXPECT_TRUE(t.S().Screen.AltScreen);
    EXPECT_EQ(t.Row(0), "");
    t.Put("\\e[5;5Hon the alternate screen");
    t.Put("\\e[?1049l");
    EXPECT_FALSE(t.S().Screen.AltScreen);
    EXPECT_EQ(t.Row(0), "main line");
    EXPECT_EQ(t.Row(1), "second");
    EXPECT_EQ(t.Row(4), "");
    EXPECT_EQ(t.Screen().At(0, 0).Fore, 1) << "the colours come back too";
    EXPECT_EQ(t.Cursor(), std::make_pair(6, 1)) << "and the cursor";
    // Leaving the emulation on the alternate screen brings the main one back.
    t.Put("\\e[?1049hfull screen program");
    t.S().EmuLayer.SetEmulation(0, 1);
    EXPECT_FALSE(t.S().Screen.AltScreen);
    EXPECT_EQ(t.Row(0), "main line");
}

TEST_F(Corvane, DoubleWidthLines)
{
    TERMINAL t;
    t.Put("\\e#6" + std::string(45, 'w'));
    EXPECT_EQ(t.S().Screen.LineAttr(0), VIOLINE_DOUBLEWIDTH);
    EXPECT_EQ(t.Row(0), std::string(40, 'w')) << "the row ends at half the width";
    EXPECT_EQ(t.Row(1), std::string(5, 'w'));
    t.Put("\\e[2;1H\\e#3top\\e[3;1H\\e#4\\e[1;70H");
    EXPECT_EQ(t.S().Screen.LineAttr(1), VIOLINE_DOUBLEHEIGHT_TOP);
    EXPECT_EQ(t.S().Screen.LineAttr(2), VIOLINE_DOUBLEHEIGHT_BOTTOM);
    EXPECT_EQ(t.Cursor(), std::make_pair(39, 0)) << "the cursor stays in the shown half";
    t.Put("\\e#5\\e[2J");
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(t.S().Screen.LineAttr(y), VIOLINE_NORMAL) << y;
}

TEST_F(Corvane, MarksStayWithTheirCharacter)
{
    // Code page 1000 is UTF-8. A mark joins the character before it in
    // every way that character reached the screen: in a run, alone after a
    // cursor move, in the last column with the wrap pending.
    TERMINAL t;
    t.Put("e\xcc\x81x \xf0\x9f\x98\x80\xe2\x80\x8d\xf0\x9f\x98\x80y");
    EXPECT_EQ(t.Row(0), "e\xcc\x81x \xf0\x9f\x98\x80\xe2\x80\x8d\xf0\x9f\x98\x80y");
    EXPECT_EQ(t.Cursor(), std::make_pair(8, 0)) << "the mark and the joiner take no cell";
    t.Put("\e[2;5Hq\e[2;6H\xcc\x88");
    EXPECT_EQ(t.Row(1), "    q\xcc\x88");
    t.Put("\e[3;80Hz\xcc\xa3");
    EXPECT_EQ(t.Row(2), std::string(79, ' ') + "z\xcc\xa3");
    t.Put("k");
    EXPECT_EQ(t.Row(3), "k") << "the pending wrap still comes";
    t.Put("\e[5;1H\xcc\x81m");
    EXPECT_EQ(t.Row(4), "m") << "a mark with nothing before it is dropped";
}

TEST_F(Corvane, ProtectedCellsSurviveSelectiveErase)
{
    TERMINAL t;
    t.Put("\\e[1\"qAB\\e[0\"qCD\\e[2;1H\\e[1\"qEF\\e[0\"qGH\\e[1;1H\\e[?2K\\e[?J");
    EXPECT_EQ(t.Row(0), "AB");
    EXPECT_EQ(t.Row(1), "EF");
    t.Put("\\e[2J");
    EXPECT_EQ(t.Row(0), "") << "an ordinary erase takes protected cells too";
}

TEST_F(Corvane, ItalicTakesTheProfilesColour)
{
    TERMINAL t;
    t.Put("\\e[3mplain italic");
    EXPECT_EQ(t.Screen().At(0, 0).Fore, 7) << "without an italic colour italic text looks plain";
    t.S().Prof.data.ColorItalic = 5; // colour 4
    t.Put("\\e[2;1Hcoloured\\e[23m normal");
    EXPECT_EQ(t.Screen().At(0, 1).Fore, 4);
    EXPECT_EQ(t.Screen().At(10, 1).Fore, 7);
}

TEST_F(Corvane, EightBitText)
{
    TERMINAL t(18, 1252);
    t.Put("\xe4\x80 \x9b" "1mx");
    EXPECT_EQ(t.Row(0), "\xc3\xa4\xe2\x82\xac \xe2\x80\xba" "1mx") << "code page 1252 bytes, C1 off";
    snprintf(t.S().Prof.data.EmulationOpts[18], 128, "[18]{c1}");
    t.S().EmuLayer.SetEmulation(18, 1);
    t.Put("\\e[2;1H\x9b" "1my\x9b" "0m");
    EXPECT_EQ(t.Row(1), "y") << "8-bit CSI with the option";
    EXPECT_EQ(t.Screen().At(0, 1).Attr, ATTR_BOLD);
}

TEST_F(Corvane, AnsiDialect)
{
    TERMINAL t(1, 1000);
    t.S().Prof.data.ColorFore = 16;
    t.S().Prof.data.ColorBack = 15;
    t.Put("\xc4\xc4\xdb\xb0 \\e[11m\\x10\\x1e\\e[10m\\x10x");
    EXPECT_EQ(t.Row(0), "\xe2\x94\x80\xe2\x94\x80\xe2\x96\x88\xe2\x96\x91 \xe2\x96\xba\xe2\x96\xb2x")
        << "code page 437, and the control glyphs with SGR 11";
    EXPECT_EQ(t.Screen().At(0, 0).Fore, 7) << "light grey on black whatever the profile says";
    EXPECT_EQ(t.Screen().At(0, 0).Back, 0);
    // ANSI.SYS moves to the next line as soon as a row is full.
    t.Put("\\e[2;1H" + std::string(80, 'a') + "\\r\\nb");
    EXPECT_EQ(t.Row(2), "");
    EXPECT_EQ(t.Row(3), "b");
    t.Put("\\e[=7l\\e[5;1H" + std::string(85, 'c') + "\\e[=7h");
    EXPECT_EQ(t.Row(4), std::string(80, 'c')) << "no wrap with mode 7 reset";
    EXPECT_EQ(t.Row(5), "");
    // ED 2 homes the cursor.
    t.Put("\\e[10;10H\\e[2Jy");
    EXPECT_EQ(t.Row(0), "y");
}

TEST_F(Corvane, SplitWritesGiveTheSameScreen)
{
    for (char const* name : {"vim", "htop", "mc"}) {
        std::string const stream =
            testutil::ReadFile(testutil::SourceDir() + "/outside/corvane/corpus/" + name + ".rec");
        ASSERT_FALSE(stream.empty());
        TERMINAL whole;
        EXPECT_TRUE(whole.Run.Feed(stream));
        EXPECT_TRUE(whole.Run.WaitIdle());
        std::mt19937 rng(7);
        TERMINAL pieces;
        for (size_t at = 0; at < stream.size();) {
            size_t const n = std::min<size_t>(1 + rng() % 9, stream.size() - at);
            EXPECT_TRUE(pieces.Run.Feed(stream.data() + at, n));
            EXPECT_TRUE(pieces.Run.WaitIdle());
            at += n;
        }
        EXPECT_EQ(Compare(pieces.Screen(), whole.Screen(), ALL), "") << name;
    }
}

// ---------------------------------------------------------------------------
// The received-data road's two ways: the emulation as it is checks whole
// runs of received characters (EMUFLAG_SEQUENCERUN), and none at all while
// nothing needs to know; the same engine in a bundle without the run check
// is asked one character at a time. The same random streams, cut anywhere,
// must give the same screens, cells, scroll-back and answers. A receive
// table that changes printable characters goes on and off between pieces,
// so a character counted to the wrong side of a sequence shows (characters
// of sequences are never translated), also where the road takes up the
// check again in the middle of a sequence.

namespace {

// Pieces of a stream: text in several scripts, line controls, the common
// sequences, sequences cut or broken, strings, C1 controls and bad UTF-8.
std::string RandomStream(std::mt19937& rng, size_t size)
{
    static char const* const pieces[] = {
        "plain text ", "m1H", "x", "\r\n", "\r", "\n", "\t", "\b", "\x07",
        "\x1b[31m", "\x1b[1;4;38;5;196;48;2;10;20;30m", "\x1b[0m", "\x1b[m", "\x1b[12;40H", "\x1b[H", "\x1b[2J",
        "\x1b[K", "\x1b[1;3r", "\x1b[r", "\x1b[?25l", "\x1b[?25h", "\x1b[4h", "\x1b[4l", "\x1b[5@", "\x1b[3P",
        "\x1b[2 q", "\x1b[>c", "\x1b[6n", "\x1b[?1049h", "\x1b[?1049l", "\x1b" "7", "\x1b" "8", "\x1b" "D",
        "\x1b" "M", "\x1b(0lqqk\x1b(B", "\x1b)0\x0e" "abc\x0f", "\x1b" "N" "a", "\x1b#8", "\x1b#6",
        "\x1b]0;a title\x07", "\x1b]2;\xc3\xa9t\xc3\xa9\x1b\\", "\x1bP1$r\x1b\\", "\x1b_apc\x1b\\",
        "\x1b[", "\x1b", "\x1b[12", ";34", "H", "\x1b[1\x18" "after CAN", "\x1b[2\x1a" "after SUB",
        "\x1b[\x7f" "5m", "\x1b[1\r" "m",
        "\xc3\xa9\xc3\xa0", "\xce\xb1\xce\xb2", "\xe2\x94\x80\xe2\x94\x82", "\xe4\xb8\xad\xe6\x96\x87",
        "\xf0\x9f\x98\x80", "e\xcc\x81", "\xc2\x9b" "1m", "\xc2\x85", "\xc3", "\xe2\x82", "\xff", "\x80",
        "\xa0\xe9", "\x9b" "2m", "\x7f",
    };
    std::string out;
    while (out.size() < size) {
        out += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
        if (rng() % 7 == 0)
            out += std::string(1 + rng() % 90, char('a' + rng() % 26));
    }
    return out + "\x18\x1b[0mend";
}

// The screen, the scroll-back's text and what went back to the host.
struct OUTCOME {
    SNAPSHOT Screen;
    std::vector<std::string> Scrollback;
    std::string Sent;
};

OUTCOME RunStream(std::string const& bundle, std::string const& stream, int codePage, uint32_t seed)
{
    sessiontest::ForgetDictionary();
    sessiontest::STAGE stage{{{bundle, "corvane.so"}, {sessiontest::TennickBundle(), "tennick.so"}}};
    std::mt19937 rng(seed);
    HEADLESSSESSION run({.Emulation = 18, .Columns = 40, .Rows = 12, .JumpScroll = int(rng() % 4),
                         .CodePage = codePage});
    EXPECT_TRUE(run.IsOpen());
    SESSION& s = run.Session();
    s.Translation.Reset();
    for (int c : std::initializer_list<int>{'m', '1', 'H', ';', '[', 'a', 't', 0xE9, 0xA0})
        s.Translation.Inward[c] = uint8_t(c == 'm' ? 'M' : c == ';' ? ',' : c == 0xE9 ? 'E' : c + 1);
    s.Translation.Valid = 1;
    s.Prof.data.DoTrans = 1;
    for (size_t at = 0; at < stream.size();) {
        size_t const n = std::min<size_t>(1 + rng() % 300, stream.size() - at);
        EXPECT_TRUE(run.Feed(stream.data() + at, n));
        at += n;
        if (rng() % 3 == 0)
            EXPECT_TRUE(run.WaitIdle());
        if (rng() % 4 == 0)
            s.Prof.data.DoTrans = !s.Prof.data.DoTrans;
    }
    EXPECT_TRUE(run.WaitIdle());
    OUTCOME out{FromSession(run), {}, run.Sent()};
    for (int i = 0; i < s.Scrollback.QueryFilled(); ++i) {
        wchar_t line[256] = {};
        s.Scrollback.UnpackLine(i, line, 256);
        WSTRING wide(line);
        out.Scrollback.push_back(STRING(wide, UNICODE_CPUTF8).Buf());
    }
    return out;
}

} // namespace

TEST_F(Corvane, RunsAndCharacterChecksGiveTheSameScreens)
{
    std::mt19937 rng(2718);
    for (int round = 0; round < 6; ++round) {
        int const codePage = round % 2 ? 1252 : 1000;
        SCOPED_TRACE("round " + std::to_string(round) + ", code page " + std::to_string(codePage));
        std::string const stream = RandomStream(rng, 12000);
        uint32_t const seed = rng();
        OUTCOME const runs = RunStream(QOR_CORVANE_SO, stream, codePage, seed);
        OUTCOME const chars = RunStream(QOR_CORVANECHAR_SO, stream, codePage, seed);
        EXPECT_EQ(Compare(runs.Screen, chars.Screen, ALL), "");
        EXPECT_EQ(runs.Scrollback, chars.Scrollback);
        EXPECT_EQ(runs.Sent, chars.Sent);
        EXPECT_GT(runs.Scrollback.size(), 0u);
    }
    sessiontest::ForgetDictionary();
}

// ---------------------------------------------------------------------------
// The printer controller, through the emulation layer of a session that
// records its print jobs.

namespace {

class PRINTSESSION : public sessiontest::EMUSESSION {
public:
    int PrinterWrite(void* job, char const* data, int len) override
    {
        Log.push_back("printerwrite " + std::to_string(reinterpret_cast<uintptr_t>(job)) + " " +
                      std::string(data, size_t(len)));
        return len;
    }
};

} // namespace

TEST(CorvanePrinter, ControllerTakesTheTextBetweenOnAndOff)
{
    sessiontest::ForgetDictionary();
    sessiontest::STAGE stage{{{QOR_CORVANE_SO, "corvane.so"}}};
    PRINTSESSION s;
    ASSERT_EQ(s.Layer->SetEmulation(18, 0), 1);
    s.Take();
    std::wstring const text = L"before\x1b[5iprinted \x1b[1mtext\x1b[4iafter";
    // Cut anywhere, the end of the controller is still found.
    s.Layer->conputws(text.c_str(), 20);
    s.Layer->conputws(text.c_str() + 20, long(text.size()) - 20);
    EXPECT_EQ(s.Row(0), "beforeafter");
    std::vector<std::string> printed;
    for (std::string const& line : s.Take())
        if (line.rfind("printer", 0) == 0)
            printed.push_back(line);
    ASSERT_GE(printed.size(), 3u);
    EXPECT_EQ(printed.front(), "printeropen 1 raw=1");
    std::string all;
    for (std::string const& line : printed)
        if (line.rfind("printerwrite 1 ", 0) == 0)
            all += line.substr(15);
    EXPECT_EQ(all, "printed \x1b[1mtext");
    EXPECT_EQ(printed.back(), "printerclose 1");
    sessiontest::ForgetDictionary();
}

TEST(CorvanePrinter, MediaCopyPrintsRowsAsText)
{
    sessiontest::ForgetDictionary();
    sessiontest::STAGE stage{{{QOR_CORVANE_SO, "corvane.so"}}};
    PRINTSESSION s;
    ASSERT_EQ(s.Layer->SetEmulation(18, 0), 1);
    s.Take();
    // What reached the printer, job by job.
    auto jobs = [&] {
        std::vector<std::string> out;
        for (std::string const& line : s.Take()) {
            if (line.rfind("printeropen", 0) == 0)
                out.emplace_back();
            else if (line.rfind("printerwrite ", 0) == 0 && !out.empty())
                out.back() += line.substr(line.find(' ', 13) + 1);
        }
        return out;
    };
    auto put = [&](std::wstring const& text) { s.Layer->conputws(text.c_str(), long(text.size())); };
    put(L"top \x1b[1mrow\x1b[m   \r\n\u00e4\u00df\x1b[3;1Hthird\x1b[2;20r\x1b[2;1H");
    // The screen (under DECPEX reset: the scrolling region), the cursor's
    // row, and the whole screen whatever the region.
    put(L"\x1b[i\x1b[?1i\x1b[?19h\x1b[?18h\x1b[i");
    std::vector<std::string> printed = jobs();
    ASSERT_EQ(printed.size(), 3u);
    // Text in the session's code page (1252 here).
    std::string region = "\xe4\xdf\r\nthird\r\n";
    for (int i = 0; i < 17; ++i)
        region += "\r\n";
    EXPECT_EQ(printed[0], region) << "rows 2 to 20, blanks at the end cut";
    EXPECT_EQ(printed[1], "\xe4\xdf\r\n");
    EXPECT_EQ(printed[2].substr(0, 13), "top row\r\n\xe4\xdf\r\n");
    EXPECT_EQ(printed[2].back(), '\f') << "DECPFF ends the screen with a form feed";
    // Auto print: each row as the cursor leaves it by a line feed or a wrap.
    put(L"\x1b[r\x1b[H\x1b[2J\x1b[?5ione\ntwo\r\n" + std::wstring(85, L'x') + L"\x1b[?4i\nnot printed\n");
    printed = jobs();
    ASSERT_EQ(printed.size(), 3u);
    EXPECT_EQ(printed[0], "one\r\n");
    EXPECT_EQ(printed[1], "   two\r\n");
    EXPECT_EQ(printed[2], std::string(80, 'x') + "\r\n");
    sessiontest::ForgetDictionary();
}
