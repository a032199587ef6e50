// The TTY emulation (emulation 0 of the yelbrin bundle) as the session's
// emulation layer drives it, onto a real screen with its scroll-back.
#include "program/session/emulation.h"
#include "tests/program/session/sessiontest.h"

#include "velmot/gui/winkeys.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

using namespace sessiontest;
using ::testing::ElementsAre;

namespace {

class TtyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ForgetDictionary();
        ASSERT_EQ(S.Layer->SetEmulation(0, 0), 1);
        S.Take();
    }
    void TearDown() override { ForgetDictionary(); }
    void Put(std::wstring const& text) { S.Layer->conputws(text.c_str(), static_cast<long>(text.size())); }
    std::pair<int, int> Cursor()
    {
        int x = -1, y = -1;
        S.Screen.GetCursorPos(&x, &y);
        return {x, y};
    }

    STAGE Stage{{{YelbrinBundle(), "yelbrin.so"}}};
    EMUSESSION S;
};

} // namespace

TEST_F(TtyTest, ControlsMoveTheCursorAndOthersAreDropped)
{
    Put(L"a\tb\r\nline2\x1b[1m");
    EXPECT_EQ(S.Row(0), "a       b");
    EXPECT_EQ(S.Row(1), "line2[1m") << "ESC has no meaning and is dropped";
    Put(L"\rxy\bZ");
    EXPECT_EQ(S.Row(1), "xZne2[1m");
    EXPECT_EQ(Cursor(), std::make_pair(2, 1));
    // Backspace stops at the first column; a tab stops at the last one.
    Put(L"\r\b\bq");
    EXPECT_EQ(S.Row(1), "qZne2[1m");
    Put(L"\r\t\t\t\t\t\t\t\t\t\t\t\t");
    EXPECT_EQ(Cursor(), std::make_pair(79, 1));
}

TEST_F(TtyTest, LongLinesWrapAtTheRowEnd)
{
    std::wstring line(80, L'x');
    Put(line);
    EXPECT_EQ(Cursor(), std::make_pair(79, 0)) << "the wrap waits for the next character";
    Put(L"y");
    EXPECT_EQ(S.Row(0), std::string(80, 'x'));
    EXPECT_EQ(S.Row(1), "y");
    signed char wrapped = 0;
    wchar_t text[80];
    int len = 80;
    S.Screen.GetString(text, &len, 0, 0, &wrapped);
    EXPECT_EQ(wrapped, 1);
    // A CR at the full row goes back to its start instead.
    Put(L"\r\n" + line + L"\rz");
    EXPECT_EQ(S.Row(2), "z" + std::string(79, 'x'));
    // Double-width characters that do not fit go to the next row whole.
    Put(L"\r\n" + std::wstring(79, L'w') + L"\x4E2D");
    EXPECT_EQ(S.Row(3), std::string(79, 'w'));
    EXPECT_EQ(S.Row(4), "?");
}

TEST_F(TtyTest, ScrolledRowsGoToTheScrollbackThroughTheHost)
{
    for (int i = 0; i < 26; ++i)
        Put(L"line " + std::to_wstring(i) + L"\r\n");
    EXPECT_EQ(S.Row(0), "line 3");
    EXPECT_EQ(S.Row(22), "line 25");
    EXPECT_EQ(S.Row(23), "");
    std::vector<std::string> scrolled;
    for (auto const& line : S.Take())
        if (line.rfind("scrollline ", 0) == 0)
            scrolled.push_back(line);
    EXPECT_THAT(scrolled, ElementsAre("scrollline line 0", "scrollline line 1", "scrollline line 2"));
    EXPECT_EQ(S.Scrollback.QueryFilled(), 3) << "each row once, not also by the screen";
    // A selection would stay on the screen's cells while their text moves
    // up: a scroll ends it.
    S.Screen.SetMarkArea(VIOMARK_STREAM, 0, 5, 5, 5, 0);
    Put(L"\n");
    int mode = -1, x1, y1, x2, y2;
    EXPECT_EQ(S.Screen.GetMarkArea(&mode, &x1, &y1, &x2, &y2), VIOMARK_NONE);
}

TEST_F(TtyTest, TheTextGoesToTheLogWholeAndBellRings)
{
    // Controls included: the log needs its line ends, backspaces and the
    // host's switches.
    Put(L"ab\x07" L"cd\r\n");
    EXPECT_THAT(S.Take(), ElementsAre("bell", "log ab<7>cd<d><a>"));
}

TEST_F(TtyTest, KeysAndTerminalName)
{
    struct {
        uint16_t vk;
        char const* sent;
    } const keys[] = {{0x0D, "feedkeys <d>"}, {0x08, "feedkeys <7f>"}, {0x09, "feedkeys <9>"}, {0x1B, "feedkeys <1b>"}};
    for (auto const& k : keys) {
        KEYBOARDEVENT e{};
        e.Keycode = k.vk;
        EXPECT_EQ(S.Layer->ProcessKey(e), 1);
        EXPECT_THAT(S.Take(), ElementsAre(k.sent)) << k.vk;
    }
    KEYBOARDEVENT other{};
    other.Keycode = 0x25; // the left arrow: a dumb terminal has none
    EXPECT_EQ(S.Layer->ProcessKey(other), 0);
    EXPECT_EQ(S.Layer->FeedSymbolicKey("Enter"), 1);
    EXPECT_THAT(S.Take(), ElementsAre("feedkeys <d>"));

    char name[64];
    S.Layer->QueryUnixName(0, name);
    EXPECT_STREQ(name, "dumb");
    int state = 0;
    EXPECT_FALSE(S.Layer->IsSequence(&state, 27, 0));
    // Nothing is a sequence: whole runs are checked at once.
    EXPECT_EQ(S.Layer->SequenceRun(&state, "\x1b[1m", 4), 4);
    EXPECT_EQ(S.Layer->CheckFlag(~0ul & ~static_cast<unsigned long>(EMUFLAG_SEQUENCERUN)), 0);
}
