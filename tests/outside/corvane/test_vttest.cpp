// vttest's screens of cursor movement, screen features and character sets,
// run twice in lockstep: in a headless session on the local shell device
// (xterm emulation, 80x24) and in a tmux pane of the same size, with the
// same keys. Every screen that waits for RETURN is compared between the
// two.
//
// A screen counts as drawn when it shows vttest's prompt and has not
// changed for a moment; after a key the screen must first change (or a
// second pass, when the next screen looks the same), so both sides stay on
// the same step.
#include "program/session/sessionrunner.h"
#include "tests/outside/corvane/vtsnapshot.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace vttest;

namespace {

using Clock = std::chrono::steady_clock;

// One step: the keys typed (in tmux the same, or TmuxKeys when vttest
// leads each terminal another way; "" types nothing there), and what of the
// screen after them is compared with tmux (with the reason when not all of
// it).
struct STEP {
    char const* Keys;
    char const* TmuxKeys = nullptr;
    unsigned Tmux = ALL;
    char const* Why = nullptr;
    // The width vttest's screen has after the keys: vttest allows 132
    // columns (mode 40) and switches to them (DECCOLM), which the session
    // follows as xterm does; tmux keeps its width, so its pane is sized to
    // the width vttest draws for.
    int Width = 80;
};

// tmux keeps its cursor past the last column while a wrap is pending, so
// cursor movements from there land one column further right than on a VT
// terminal (or xterm).
constexpr char kPendingWrap[] = "tmux moves on from past the last column after a full row";

struct SCRIPT {
    char const* Name;
    std::vector<STEP> Steps;
};

constexpr char kPrompts[][24] = {"Push <RETURN>", "Enter choice number"};

bool Prompted(SNAPSHOT const& s)
{
    std::string const text = s.Text();
    for (char const* p : kPrompts)
        if (text.find(p) != std::string::npos)
            return true;
    return false;
}

std::vector<SCRIPT> const& Scripts()
{
    static std::vector<SCRIPT> const scripts = {
        {"cursor movements",
         {
             {"1\r", nullptr, COLOURS | ATTRIBUTES | CURSOR, kPendingWrap},       // the E frame, 80 columns
             {"\r", nullptr, COLOURS | ATTRIBUTES | CURSOR, kPendingWrap, 132}, // again in 132 columns
             {"\r", nullptr, COLOURS | ATTRIBUTES | CURSOR, kPendingWrap},       // autowrap, mixing controls and text
             {"\r", nullptr, COLOURS | ATTRIBUTES | CURSOR, kPendingWrap, 132}, // the same in 132 columns
             {"\r"},   // controls inside sequences
             {"\r"},   // leading zeros
             {"\r"},   // back to the menu
             {"\r"},
         }},
        {"screen features",
         {
             {"2\r"},  // wrap-around mode
             {"\r"},   // tab stops
             {"\r", nullptr, ALL, nullptr, 132}, // 132 columns, light background
             {"\r"},                             // 80 columns, light background
             {"\r", nullptr, ALL, nullptr, 132}, // 132 columns, dark background
             {"\r"},   // 80 columns, dark background
             {"\r"},   // soft scroll in a region of two lines
             {"\r"},   // soft scroll of the whole screen
             {"\r"},   // jump scroll in a region of two lines
             {"\r"},   // jump scroll of the whole screen
             {"\r", nullptr, COLOURS | ATTRIBUTES,
              "tmux homes the cursor to the top of the screen, not of the region, when margins are set in origin mode"},
             {"\r"},   // origin mode, top
             {"\r"},   // graphic rendition, dark background
             {"\r"},   // graphic rendition, light background
             {"\r"},   // save and restore cursor
             {"\r"},   // back to the menu
         }},
        {"character sets",
         {
             // vttest offers its VT220 menu to this terminal (it answers as a
             // VT220) and goes straight to the VT100 test in tmux (a VT100).
             {"3\r", "", 0, "the VT220 menu of character set tests has no counterpart in tmux"},
             {"8\r", "3\r", COLOURS | ATTRIBUTES | CURSOR,
              "tmux has no UK character set (the '#' of set A stays '#') and shows the '_' of DEC graphics as '_' "
              "(a blank on DEC terminals)"},
             {"\r", nullptr, 0, "back in the VT220 menu here, in the main menu in tmux"},
             {"0\r", ""},  // the main menu on both
         }},
    };
    return scripts;
}

class Vttest : public ::testing::TestWithParam<size_t> {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(HEADLESSSESSION::StartPlatform()); }
};

// Waits until the screen read by `read` shows a prompt, has changed from
// `before` (or `patience` has passed) and then stays the same for a while.
template <class READ, class TURN>
bool Settle(READ read, TURN turn, SNAPSHOT const& before, SNAPSHOT* out, int patienceMs)
{
    auto const start = Clock::now();
    auto const deadline = start + std::chrono::seconds(20);
    bool changed = false;
    SNAPSHOT last = before;
    auto stableSince = Clock::now();
    while (Clock::now() < deadline) {
        turn();
        SNAPSHOT now = read();
        if (!changed && (now.Text() != before.Text() || Clock::now() - start > std::chrono::milliseconds(patienceMs)))
            changed = true;
        if (now.Text() != last.Text() || now.CursorX != last.CursorX || now.CursorY != last.CursorY) {
            last = now;
            stableSince = Clock::now();
        } else if (changed && Prompted(now) && Clock::now() - stableSince > std::chrono::milliseconds(150)) {
            *out = now;
            return true;
        }
    }
    *out = last;
    return false;
}

} // namespace

TEST_P(Vttest, ScreensAgreeWithTmux)
{
    SCRIPT const& script = Scripts()[GetParam()];
    HEADLESSSESSION run({.Device = 11, .DeviceParm = "[11]vttest", .Emulation = 18, .Columns = 80, .Rows = 24,
                         .CodePage = 1000});
    ASSERT_TRUE(run.IsOpen());
    SESSION& s = run.Session();
    s.Prof.data.ColorFore = 7;
    s.Prof.data.ColorBack = 0;
    s.EmuLayer.TrackColors(0, 7, 1);

    TMUX tmux;
    ASSERT_TRUE(tmux.Ok());
    tmux.Command({"new-session", "-d", "-s", "vttest", "-x", "80", "-y", "24", "env", "TERM=xterm-256color",
                  "vttest"});

    auto oursRead = [&] { return FromSession(run); };
    auto oursTurn = [&] { run.RunUntil([] { return false; }, 10); };
    int tmuxWidth = 80;
    auto tmuxRead = [&] { return tmux.Capture("vttest", tmuxWidth, 24); };
    auto tmuxTurn = [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); };

    SNAPSHOT ours, theirs;
    ASSERT_TRUE(Settle(oursRead, oursTurn, SNAPSHOT{}, &ours, 0)) << "vttest's menu in the session:\n" << ours.Text();
    ASSERT_TRUE(Settle(tmuxRead, tmuxTurn, SNAPSHOT{}, &theirs, 0)) << "vttest's menu in tmux:\n" << theirs.Text();
    ASSERT_EQ(Compare(ours, theirs, ALL, kTmuxReports), "") << "ours:\n" << ours.Text() << "tmux:\n" << theirs.Text();

    int n = 0;
    for (STEP const& step : script.Steps) {
        SCOPED_TRACE(std::string(script.Name) + ", step " + std::to_string(++n));
        if (step.Tmux != ALL) {
            EXPECT_NE(step.Why, nullptr) << "a step that is not compared in full says why";
        }
        std::wstring const keys(step.Keys, step.Keys + strlen(step.Keys));
        s.FeedKeys(keys.c_str(), int(keys.size()), 0);
        char const* const tmuxKeys = step.TmuxKeys ? step.TmuxKeys : step.Keys;
        if (*tmuxKeys && step.Width != tmuxWidth) {
            tmuxWidth = step.Width;
            tmux.Command({"resize-window", "-t", "vttest", "-x", std::to_string(tmuxWidth), "-y", "24"});
        }
        if (*tmuxKeys)
            tmux.Command({"send-keys", "-t", "vttest", "-l", tmuxKeys});
        SNAPSHOT const oursBefore = ours, theirsBefore = theirs;
        ASSERT_TRUE(Settle(oursRead, oursTurn, oursBefore, &ours, 1500)) << "the session:\n" << ours.Text();
        if (*tmuxKeys) {
            ASSERT_TRUE(Settle(tmuxRead, tmuxTurn, theirsBefore, &theirs, 1500)) << "tmux:\n" << theirs.Text();
        }
        EXPECT_EQ(Compare(ours, theirs, step.Tmux, kTmuxReports), "")
            << "ours:\n" << ours.Text() << "tmux:\n" << theirs.Text();
    }
}

INSTANTIATE_TEST_SUITE_P(Menus, Vttest, ::testing::Range<size_t>(0, Scripts().size()),
                         [](::testing::TestParamInfo<size_t> const& info) { return TestName(Scripts()[info.param].Name); });
