// The session window: typing into a real shell through the window
// system's input, the size negotiation with the main window, the mouse
// (selection, words, lines, links, cursor positioning, buttons, wheel),
// dropped files, keys through the key map, user messages.
#include "tests/program/screen/keyevents.h"
#include "tests/program/session/sessionfixture.h"

#include "platform/draw/bitmap.h"
#include "platform/draw/viewsupport.h"
#include "platform/events/keys.h"
#include "platform/events/testinput.h"
#include "velmot/core/stringarray.h"
#include "velmot/gui/winkeys.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

using namespace sessiontest;
using ::testing::ElementsAre;

namespace {

[[maybe_unused]] bool const kPlatform = (UsePlatform(), true);

constexpr int kCellW = 8;
constexpr int kCellH = 16;

} // namespace

class WindowTest : public SessionTest {
protected:
    void OpenWithCells(int device = 5, int emulation = 0, char const* parm = nullptr)
    {
        ASSERT_TRUE(Open(device, emulation, parm));
        S->Screen.SetCellSize(kCellW, kCellH);
        S->OnFocusAcquired();
        S->Clock = 100000; // long after the focus came
    }
    // A mouse event at a cell (its middle, or its left edge).
    void Mouse(int code, int col, int row, int flags = 0, bool leftEdge = false)
    {
        S->OnMouseEvent(code, col * kCellW + (leftEdge ? 1 : kCellW / 2), row * kCellH + kCellH / 2, flags);
    }
    void Click(int col, int row)
    {
        Mouse(SESSION::MOUSE_LEFTDOWN, col, row);
        Mouse(SESSION::MOUSE_LEFTUP, col, row);
    }
    std::vector<int> Mark()
    {
        int mode = 0, x1 = 0, y1 = 0, x2 = 0, y2 = 0;
        S->Screen.GetMarkArea(&mode, &x1, &y1, &x2, &y2);
        return {mode, x1, y1, x2, y2};
    }
};

// The whole road with a user at the keyboard: keys typed into the window
// reach the shell, and its answer reaches the screen.
TEST_F(WindowTest, TypedCommandRunsInTheShell)
{
    ASSERT_TRUE(Open(11, 0, "[11]/bin/sh"));
    Parent->Show(true);
    Parent->Activate();
    S->SetFocus();
    ASSERT_TRUE(Pump([&] { return S->CommLayer.Counter(0) > 0; })) << "the prompt";
    WaitShown();
    ASSERT_EQ(plat::testinput::TypeText(Parent->GetWindow(), "echo $((6*7))"), plat::kNoErr);
    ASSERT_EQ(plat::testinput::PressKey(Parent->GetWindow(), plat::kVkReturn), plat::kNoErr);
    auto showsAnswer = [&] {
        for (int y = 0; y < 24; ++y)
            if (Row(y) == "42")
                return true;
        return false;
    };
    ASSERT_TRUE(Pump(showsAnswer, 8000)) << Row(0) << "|" << Row(1) << "|" << Row(2);
    std::string screen;
    for (int y = 0; y < 3; ++y)
        screen += Row(y) + "\n";
    EXPECT_THAT(screen, ::testing::HasSubstr("echo $((6*7))")) << "the shell echoed the typed line";
}

TEST_F(WindowTest, KeysGoThroughTheKeyMap)
{
    OpenWithCells();
    KEYBOARDEVENT const a = keytest::Char(keytest::scan::A, 'a');
    EXPECT_TRUE(S->OnKeyboardEvent(a));
    EXPECT_TRUE(S->OnKeyboardEvent(keytest::Char(keytest::scan::Return, 13)));
    EXPECT_FALSE(S->OnKeyboardEvent(keytest::Released(a))) << "the TTY wants no releases";
    EXPECT_FALSE(S->OnKeyboardEvent(keytest::Char(keytest::scan::A, 'a', keytest::kCmd))) << "left to the menus";
    EXPECT_TRUE(S->OnKeyboardEvent(keytest::Char(keytest::scan::C, 3, keytest::kCtrl)));
    EXPECT_EQ(Sent(), "a\r\x03");
}

TEST_F(WindowTest, OfferWindowSnapsToWholeCells)
{
    OpenWithCells();
    SESSIONPROFILEDATA& p = S->Prof.data;
    int minW = 0, minH = 0, maxW = 0, maxH = 0;
    S->Screen.SetCellSize(7, 14);
    S->QueryMinMax(&minW, &minH, &maxW, &maxH);
    EXPECT_EQ(minW, 210);
    EXPECT_EQ(minH, 85);
    EXPECT_EQ(maxW, 80 * 7);
    EXPECT_EQ(maxH, 24 * 14 + 15);

    S->Screen.SetCellSize(kCellW, kCellH);
    p.Dynamic = 2;
    struct {
        int availX, availY, x, y, cols, rows;
    } const cases[] = {
        {805, 410, 800, 400, 100, 25},
        {100, 50, 240, 80, 30, 5}, // too small: still 30 x 5
        {640, 384, 640, 384, 80, 24},
    };
    for (auto const& c : cases) {
        int x = c.availX, y = c.availY;
        EXPECT_EQ(S->OfferWindow(&x, &y, c.availX, c.availY, false), 1);
        EXPECT_EQ(x, c.x) << c.availX;
        EXPECT_EQ(y, c.y) << c.availY;
        EXPECT_EQ(p.WinWidth, 80) << "only offered";
    }
    int x = 805, y = 410;
    S->OfferWindow(&x, &y, 805, 410, true);
    EXPECT_EQ(p.WinWidth, 100);
    // The offered size decides, the maxima only bound it.
    x = 50 * kCellW + 3, y = 12 * kCellH + 3;
    EXPECT_EQ(S->OfferWindow(&x, &y, 2000, 2000, false), 1);
    EXPECT_EQ(x, 50 * kCellW);
    EXPECT_EQ(y, 12 * kCellH);
    EXPECT_EQ(p.WinHeight, 25);
    int w = 0, h = 0;
    S->Screen.GetWinSize(&w, &h);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 25);
}

TEST_F(WindowTest, DraggingMarksAndShiftExtends)
{
    OpenWithCells();
    Inject("first line\r\nsecond line\r\n");
    ASSERT_TRUE(WaitShown());
    Mouse(SESSION::MOUSE_LEFTDOWN, 2, 0);
    Mouse(SESSION::MOUSE_MOVE, 4, 1);
    Mouse(SESSION::MOUSE_LEFTUP, 4, 1);
    EXPECT_EQ(Mark(), (std::vector<int>{VIOMARK_STREAM, 2, 0, 4, 1}));
    EXPECT_TRUE(S->IsTextMarked());
    // In the left half of a row's first cell the mark ends with the line
    // before.
    Mouse(SESSION::MOUSE_LEFTDOWN, 2, 0);
    Mouse(SESSION::MOUSE_LEFTUP, 0, 1, 0, true);
    EXPECT_EQ(Mark(), (std::vector<int>{VIOMARK_STREAM, 2, 0, -1, 1}));
    // Option makes a block; Shift extends the mark from its far end.
    S->Keys = {18};
    Mouse(SESSION::MOUSE_LEFTDOWN, 1, 0);
    Mouse(SESSION::MOUSE_LEFTUP, 3, 1);
    EXPECT_EQ(Mark()[0], VIOMARK_BLOCK);
    S->Keys = {16};
    Mouse(SESSION::MOUSE_LEFTDOWN, 6, 1);
    Mouse(SESSION::MOUSE_LEFTUP, 6, 1);
    EXPECT_EQ(Mark(), (std::vector<int>{VIOMARK_STREAM, 1, 0, 6, 1}));
    // Typing clears the mark.
    S->Keys.clear();
    S->ProcessKeys(L"x", 1, false);
    EXPECT_FALSE(S->IsTextMarked());
}

TEST_F(WindowTest, DoubleClickPicksWordsAndLines)
{
    OpenWithCells();
    strcpy(S->Settings.data.MouseMarkDelimiters, " ");
    Inject("alpha beta-gamma delta\r\n");
    ASSERT_TRUE(WaitShown());
    S->Settings.data.MouseModeLeft = 0;
    Click(8, 0);
    S->Clock += 200;
    Click(8, 0);
    EXPECT_EQ(Mark(), (std::vector<int>{VIOMARK_STREAM, 6, 0, 15, 0}));
    // Mode 1 sends the word as keys; mode 2 marks the row.
    S->Settings.data.MouseModeLeft = 1;
    S->Clock += 1000;
    Click(1, 0);
    S->Clock += 100;
    Click(1, 0);
    EXPECT_EQ(Sent(), "alpha");
    S->Settings.data.MouseModeLeft = 2;
    S->Clock += 1000;
    Click(19, 0);
    S->Clock += 100;
    Click(19, 0);
    EXPECT_EQ(Mark(), (std::vector<int>{VIOMARK_STREAM, 0, 0, 79, 0}));
    // 500 ms or more between the clicks: two single clicks.
    S->Screen.ClearMarkArea(1);
    S->Clock += 1000;
    Click(8, 0);
    S->Clock += 500;
    Click(8, 0);
    EXPECT_EQ(Mark()[0], VIOMARK_NONE);
}

TEST_F(WindowTest, DoubleClickMovesTheCursorByCursorKeys)
{
    OpenWithCells(5, 1);
    S->Settings.data.MouseModeLeft = 3;
    Inject("ab\r\n");
    ASSERT_TRUE(WaitShown());
    Custom("LOG");
    S->Screen.SetCursorPos(0, 1);
    Click(2, 0);
    S->Clock += 100;
    Click(2, 0);
    EXPECT_EQ(Custom("LOG"), "Mouse 2 0 0 0\nMouse 2 0 0 1\nMouse 2 0 0 0\nMouse 2 0 0 1\n"
                             "FeedSymbolicKey Right\nFeedSymbolicKey Up\nFeedSymbolicKey Right\n");
    // An emulation that takes the mouse (the host asked for mouse reports)
    // gets the clicks instead.
    Custom("TAKEMOUSE 1");
    S->Clock += 1000;
    Click(0, 0);
    S->Clock += 100;
    Click(0, 0);
    EXPECT_THAT(Custom("LOG"), ::testing::Not(::testing::HasSubstr("FeedSymbolicKey")));
}

// Link text comes from the host: one click opens only web and mail
// addresses, never another scheme's handler.
TEST_F(WindowTest, ClickedLinksOpenOnlyForSafeSchemes)
{
    OpenWithCells();
    Inject("see http://example.com/page here\r\nsmb://evil.example/share\r\n");
    ASSERT_TRUE(WaitShown());
    Mouse(SESSION::MOUSE_MOVE, 8, 0);
    Click(8, 0);
    EXPECT_THAT(Host.Take("open"), ElementsAre("open http://example.com/page"));
    S->Clock += 1000;
    Mouse(SESSION::MOUSE_MOVE, 6, 1);
    Click(6, 1);
    EXPECT_TRUE(Host.Take("open").empty());
}

TEST_F(WindowTest, ButtonsAndWheelFollowTheSettings)
{
    OpenWithCells();
    std::vector<int> events;
    S->SetEventRoute(8355, 8488, [&](SESSION&, int event, int, char const*) {
        events.push_back(event);
        return 1;
    });
    struct {
        int right;
        char const* line;
    } const modes[] = {{2, "popup"}};
    S->Settings.data.MouseModeRight = 0;
    Mouse(SESSION::MOUSE_RIGHTDOWN, 1, 1);
    S->Settings.data.MouseModeMiddle = 1;
    Mouse(SESSION::MOUSE_MIDDLEDOWN, 1, 1);
    for (auto const& m : modes) {
        S->Settings.data.MouseModeRight = m.right;
        Mouse(SESSION::MOUSE_RIGHTDOWN, 1, 1);
        EXPECT_THAT(Host.Take("popup"), ElementsAre(m.line));
    }
    S->Settings.data.MouseModeRight = 3;
    Mouse(SESSION::MOUSE_RIGHTDOWN, 1, 1);
    EXPECT_EQ(Sent(), "\r");
    // The wheel toward the user does nothing; away from the user it opens
    // the scroll-back, unless the setting says no.
    S->OnMouseEvent(SESSION::MOUSE_WHEEL, 10, 10, -120);
    S->OnMouseEvent(SESSION::MOUSE_WHEEL, 10, 10, 120);
    S->Settings.data.ScrollbackNoStartByMousewheel = 1;
    S->OnMouseEvent(SESSION::MOUSE_WHEEL, 10, 10, 120);
    EXPECT_THAT(events, ElementsAre(8355, 8360, 8488));
}

TEST_F(WindowTest, DroppedFilesAreTypedAsPaths)
{
    OpenWithCells();
    STRINGARRAY files;
    files.AppendItem(STRING("/tmp/one.txt"));
    files.AppendItem(STRING("/tmp/with space.txt"));
    files.AppendItem(STRING("/tmp/three"));
    EXPECT_TRUE(S->OnFilesDropped(3, files));
    std::string const first = "/tmp/one.txt '/tmp/with space.txt' /tmp/three ";
    EXPECT_EQ(Sent(), first);
    S->Keys = {18, 16}; // file names alone, no quotes
    S->OnFilesDropped(3, files);
    EXPECT_EQ(Sent().substr(first.size()), "one.txt with space.txt three ");
    // Control with one file uploads it.
    std::vector<std::string> uploads;
    S->SetEventRoute(8518, 8518, [&](SESSION&, int, int, char const* text) {
        uploads.emplace_back(text);
        return 1;
    });
    S->Keys = {17};
    STRINGARRAY one;
    one.AppendItem(STRING("/tmp/up.bin"));
    EXPECT_FALSE(S->OnFilesDropped(1, one));
    EXPECT_THAT(uploads, ElementsAre("/tmp/up.bin"));
}

// A dropped file's name is one word for the shell whatever it holds, and
// no control character ever goes out raw (a line feed would run what
// follows it). bash reads each word back as the name.
TEST(ShellQuoting, NamesBecomeOneWordWithoutRawControls)
{
    struct {
        std::string name, word;
    } const cases[] = {
        {"/tmp/plain-name_1.txt", "/tmp/plain-name_1.txt"},
        {"/tmp/with space", "'/tmp/with space'"},
        {"/tmp/it's", "'/tmp/it'\\''s'"},
        {"/tmp/$HOME`id`;*", "'/tmp/$HOME`id`;*'"},
        {"/tmp/\xc3\xa4nder", "'/tmp/\xc3\xa4nder'"},
        {"/tmp/x\ntouch${IFS}PWNED", "$'/tmp/x\\x0Atouch${IFS}PWNED'"},
        {"/tmp/t\tq'\\\x7f", "$'/tmp/t\\x09q\\'\\\\\\x7F'"},
        {"/tmp/c1\xc2\x9b" "2J", "$'/tmp/c1\\xC2\\x9B2J'"},
    };
    testutil::TempDir dir;
    for (auto const& c : cases) {
        SCOPED_TRACE(c.name);
        std::string const word = SESSION::ShellQuoted(c.name);
        EXPECT_EQ(word, c.word);
        for (char ch : word)
            EXPECT_FALSE(static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) << "a raw control character";
        std::string out;
        EXPECT_EQ(testutil::RunProgram({"/bin/bash", "-c", "cd '" + dir.path() + "' && printf %s " + word}, &out), 0);
        EXPECT_EQ(out, c.name);
        EXPECT_EQ(SESSION::WithoutControls(c.name).find_first_of("\n\t\x7f"), std::string::npos);
    }
    EXPECT_NE(access(dir.file("PWNED").c_str(), F_OK), 0) << "nothing in a name ran";
}

TEST_F(WindowTest, UserMessagesOfTheSessionWindow)
{
    OpenWithCells();
    EXPECT_TRUE(S->OnUserMessage(SESSION::MSG_HASFOCUS, 0, 0));
    S->OnFocusLost();
    EXPECT_FALSE(S->OnUserMessage(SESSION::MSG_HASFOCUS, 0, 0));
    static int called = 0;
    using FUNCTION = MSGWORD (*)(MSGWORD);
    FUNCTION fn = [](MSGWORD v) -> MSGWORD {
        called = static_cast<int>(v);
        return 0;
    };
    S->PostUserMessage(SESSION::MSG_CALLFUNCTION, reinterpret_cast<MSGWORD>(fn), 77);
    ASSERT_TRUE(Pump([] { return called == 77; }));
    EXPECT_TRUE(S->OnUserMessage(SESSION::MSG_PLUGINSCHANGED, 0, 0));
    EXPECT_FALSE(S->OnUserMessage(1028, 0, 0)) << "not a message of the session";
}

// The session window paints its screen: the rows with text get glyphs in
// the profile's colours, the others only the background.
TEST_F(WindowTest, PaintsTheScreen)
{
    ASSERT_TRUE(Open(5, 0, nullptr, 0));
    Parent->Show(true);
    Inject("Hello, painted terminal!\r\n\tsecond row\r\n");
    ASSERT_TRUE(WaitShown());
    int cw = 0, ch = 0;
    ASSERT_TRUE(S->QueryFontSize(&cw, &ch)) << "a font was loaded";
    std::unique_ptr<plat::Bitmap> picture = plat::GrabView(S->GetControlRef());
    ASSERT_TRUE(picture);
    if (char const* png = getenv("QOR_SESSION_PNG"))
        picture->SavePng(png);
    uint32_t const background = picture->Pixel(picture->Width() - 2, picture->Height() - 2);
    auto inked = [&](int row, int fromCol, int toCol) {
        int count = 0;
        for (int y = row * ch; y < (row + 1) * ch && y < picture->Height(); ++y)
            for (int x = fromCol * cw; x < toCol * cw && x < picture->Width(); ++x)
                count += picture->Pixel(x, y) != background;
        return count;
    };
    EXPECT_GT(inked(0, 0, 24), 50);
    EXPECT_GT(inked(1, 8, 18), 20);
    EXPECT_EQ(inked(1, 0, 8), 0) << "the tab left its cells blank";
    EXPECT_EQ(inked(10, 0, 80), 0);
}

TEST_F(WindowTest, FontFollowsTheWindowAmongTheFixedFonts)
{
    OpenWithCells();
    TERMFONT const* fonts = nullptr;
    int const n = S->QueryFontList(&fonts);
    ASSERT_GT(n, 0) << "the test machine has fixed-pitch fonts";
    EXPECT_EQ(fonts[n].Name[0], 0) << "an empty end entry";
    TERMFONT const& wanted = fonts[n / 2];
    S->Prof.data.Dynamic = 1;
    int x = wanted.CellWidth * 80 + 3, y = wanted.CellHeight * 24 + 3;
    ASSERT_EQ(S->OfferWindow(&x, &y, wanted.CellWidth * 80 + 3, wanted.CellHeight * 24 + 3, false), 1);
    EXPECT_EQ(x, wanted.CellWidth * 80);
    EXPECT_EQ(y, wanted.CellHeight * 24);
    EXPECT_EQ(S->Prof.data.Dynamic, 1) << "the font fits";
}
