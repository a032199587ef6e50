// The capture viewer on a session's capture buffer, offscreen: the page as
// rows of text (time marks, UTF-8), the keys and the scroll bar, find both
// ways, a selection by mouse copied whole, the shown text kept while the
// buffer drops its oldest quarter, a writer thread appending while the
// viewer pages; the capture commands. With QOR_REVIEW_DIR set to a folder the
// viewer's picture is written there.
#include "tests/program/session/sessionfixture.h"

#include "platform/draw/bitmap.h"
#include "platform/draw/viewsupport.h"
#include "program/screen/browsestream.h"
#include "velmot/gui/clipboard.h"
#include "velmot/gui/winkeys.h"
#include "velmot/gui/winevents.h"
#include "platform/events/windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

using namespace sessiontest;

namespace {

// The virtual-key codes of the keys the viewer takes.
constexpr uint16_t VK_PRIOR = 33, VK_NEXT = 34, VK_END = 35, VK_HOME = 36, VK_DOWN = 40;
constexpr int MK_LBUTTON = 0x01;

[[maybe_unused]] bool const kPlatform = (UsePlatform(), true);

void FixedTime(int* h, int* m, int* s, int* t)
{
    *h = 14;
    *m = 5;
    *s = 9;
    *t = 3;
}

KEYBOARDEVENT Key(uint16_t code, uint32_t ch = 0, uint32_t flags = 0)
{
    KEYBOARDEVENT k;
    k.Valid = 1;
    k.Keycode = code;
    k.Char = k.UniChar = ch;
    k.Flags = flags;
    k.Count = 1;
    return k;
}

} // namespace

class ViewerTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        ASSERT_TRUE(Open(5, 0));
        S->Logging.LocalTime = &FixedTime;
        S->Prof.data.CodePage = 1000;
    }
    void TearDown() override
    {
        if (S)
            S->ProcessEvent(8396, 0, nullptr);
        SessionTest::TearDown();
    }
    BROWSESTREAM& Viewer()
    {
        if (!S->CaptureViewer())
            S->ProcessEvent(8395, 0, nullptr);
        return S->CaptureViewer()->Viewer();
    }
    // Lets the viewer take its posted signals.
    void Settle() { Spin(60); }
    std::vector<std::string> Page()
    {
        std::vector<std::string> rows;
        for (int y = 0; y < Viewer().RowCount(); ++y)
            rows.push_back(Viewer().RowText(y));
        return rows;
    }
};

TEST_F(ViewerTest, PageKeysScrollBarAndFind)
{
    S->Prof.data.CaptTimeMarks = 1;
    std::string text = "first\r\n";
    for (int i = 1; i <= 200; ++i)
        text += "line " + std::to_string(i) + (i % 50 == 0 ? " caf\xC3\xA9 \xE4\xB8\xAD\xE6\x96\x87" : "") + "\r\n";
    Inject(text);
    ASSERT_TRUE(WaitShown());
    BROWSESTREAM& v = Viewer();
    Settle();
    ASSERT_TRUE(v.HasFont());
    ASSERT_GE(v.Columns(), BROWSESTREAM::MINCOLUMNS);
    ASSERT_GE(v.RowCount(), BROWSESTREAM::MINROWS);
    int const rows = v.RowCount();
    // The viewer opens on the newest text.
    EXPECT_EQ(v.RowText(rows - 1), "[14:05:09.3] line 200 caf\xC3\xA9 \xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_TRUE(v.OnKeyboardEvent(Key(VK_HOME)));
    EXPECT_EQ(v.RowText(0), "first");
    EXPECT_EQ(v.RowText(1), "[14:05:09.3] line 1");

    // Page down and up, end and home, line by line.
    EXPECT_TRUE(v.OnKeyboardEvent(Key(VK_NEXT)));
    EXPECT_EQ(v.RowText(0), "[14:05:09.3] line " + std::to_string(rows - 1));
    EXPECT_TRUE(v.OnKeyboardEvent(Key(VK_DOWN)));
    EXPECT_EQ(v.RowText(0), "[14:05:09.3] line " + std::to_string(rows));
    EXPECT_TRUE(v.OnKeyboardEvent(Key(VK_PRIOR)));
    EXPECT_EQ(v.RowText(0), "[14:05:09.3] line 1");
    EXPECT_TRUE(v.OnKeyboardEvent(Key(VK_END)));
    EXPECT_EQ(v.ScrollPosition() + v.ScrollPage(), v.ScrollMaximum() + 1);
    std::vector<std::string> const last = Page();
    EXPECT_NE(std::find(last.begin(), last.end(), "[14:05:09.3] line 200 caf\xC3\xA9 \xE4\xB8\xAD\xE6\x96\x87"),
              last.end())
        << ::testing::PrintToString(last);
    EXPECT_TRUE(v.OnKeyboardEvent(Key(VK_HOME)));
    EXPECT_EQ(v.ScrollPosition(), 0);
    EXPECT_EQ(v.RowText(0), "first");

    // Find forwards from the top, again, then backwards; case matters
    // only when asked.
    ASSERT_TRUE(v.Find("CAF\xC3\xA9", true, false));
    EXPECT_EQ(v.SelectedBytes(), "caf\xC3\xA9");
    uint64_t const first = v.Top();
    ASSERT_TRUE(v.Find("caf\xC3\xA9", true, true));
    EXPECT_GT(v.Top(), first);
    ASSERT_TRUE(v.Find("line 49", false, true));
    EXPECT_EQ(v.SelectedBytes(), "line 49");
    EXPECT_FALSE(v.Find("CAF\xC3\xA9", true, true));
    EXPECT_FALSE(v.Find("not there", false, false));

    // A notch of the wheel scrolls a quarter page.
    EXPECT_TRUE(v.OnKeyboardEvent(Key(VK_HOME)));
    v.OnMouseEvent(WM_MOUSEWHEEL, 10, 10, -120);
    EXPECT_EQ(v.RowText(0), "[14:05:09.3] line " + std::to_string(std::max(1, rows / 4)));
    v.OnMouseEvent(WM_MOUSEWHEEL, 10, 10, 120);
    EXPECT_EQ(v.RowText(0), "first");

    if (char const* folder = std::getenv("QOR_REVIEW_DIR")) {
        ASSERT_TRUE(v.Find("line 50 caf", true, true));
        Settle();
        auto picture = plat::GrabView(plat::WindowRootView(S->CaptureViewer()->GetWindow()));
        ASSERT_TRUE(picture);
        EXPECT_TRUE(picture->SavePng((std::string(folder) + "/capture-viewer.png").c_str()));
    }
}

TEST_F(ViewerTest, ASelectionByMouseIsCopiedWhole)
{
    Inject("alpha \xCE\xB1\xCE\xB2\xCE\xB3 beta\r\nsecond line\r\n");
    ASSERT_TRUE(WaitShown());
    BROWSESTREAM& v = Viewer();
    // A click just after the window took the focus only focuses it.
    Spin(BROWSESTREAM::FOCUSCLICKMS + 50);
    int const cw = v.CellWidth(), ch = v.CellHeight();
    // From the middle of the first Greek letter's cell to the "t" of beta,
    // which is selected too.
    v.OnMouseEvent(WM_LBUTTONDOWN, 6 * cw + cw / 2, ch / 2, MK_LBUTTON);
    v.OnMouseEvent(WM_MOUSEMOVE, 12 * cw + cw / 2, ch / 2, MK_LBUTTON);
    v.OnMouseEvent(WM_LBUTTONUP, 12 * cw + cw / 2, ch / 2, 0);
    std::string const selected = v.SelectedBytes();
    EXPECT_EQ(selected.substr(0, 2), "\xCE\xB1");
    EXPECT_EQ(selected.back(), 't');
    ASSERT_TRUE(v.CopySelectedText(false));
    WSTRING const got = CLIPBOARD::GetInstance()->ReadText();
    EXPECT_EQ(std::wstring(got.Buf(), static_cast<size_t>(got.Length())), L"\u03b1\u03b2\u03b3 bet");
    // Shift extends the selection to the next line.
    S->Keys.insert(16);
    v.OnMouseEvent(WM_LBUTTONDOWN, 3 * cw + cw / 2, ch + ch / 2, MK_LBUTTON | MK_SHIFT);
    v.OnMouseEvent(WM_LBUTTONUP, 3 * cw + cw / 2, ch + ch / 2, MK_SHIFT);
    EXPECT_EQ(v.SelectedBytes(), "\xCE\xB1\xCE\xB2\xCE\xB3 beta\r\nseco");
    // And back before its start, from its last character.
    v.OnMouseEvent(WM_LBUTTONDOWN, 2 * cw + cw / 2, ch / 2, MK_LBUTTON | MK_SHIFT);
    v.OnMouseEvent(WM_LBUTTONUP, 2 * cw + cw / 2, ch / 2, MK_SHIFT);
    EXPECT_EQ(v.SelectedBytes(), "pha \xCE\xB1\xCE\xB2\xCE\xB3 beta\r\nseco");
    S->Keys.erase(16);
}

TEST_F(ViewerTest, DroppedTextLeavesTheShownTextInPlace)
{
    S->Prof.data.CodePage = 1252;
    S->Capture.SetBufSize(64);
    std::string chunk;
    for (int i = 0; i < 1000; ++i)
        chunk += "row " + std::to_string(i) + " of the text before the drop\r\n";
    Inject(chunk.substr(0, 40000));
    ASSERT_TRUE(WaitShown());
    BROWSESTREAM& v = Viewer();
    Settle();
    EXPECT_TRUE(v.OnKeyboardEvent(Key(VK_HOME)));
    v.DoVscroll(600, true);
    ASSERT_TRUE(v.Find("row 700 ", true, true));
    std::string const selection = v.SelectedBytes();
    std::vector<std::string> const before = Page();
    uint64_t const top = v.Top();
    // More text: the oldest quarter goes, the page and the selection stay.
    Inject(chunk.substr(0, 30000));
    ASSERT_TRUE(WaitShown());
    Settle();
    EXPECT_GT(S->Capture.Base(), 0u);
    EXPECT_LT(S->Capture.Base(), top);
    EXPECT_EQ(Page(), before);
    EXPECT_EQ(v.SelectedBytes(), selection);
    // Text past the page start goes: the page starts at the buffer's start.
    Inject(chunk.substr(0, 40000));
    ASSERT_TRUE(WaitShown());
    Settle();
    EXPECT_GE(v.Top(), S->Capture.Base());
    EXPECT_TRUE(v.SelectedBytes().empty());
    // Clearing closes the viewer.
    S->ProcessEvent(8390, 0, nullptr);
    Spin(50);
    EXPECT_EQ(S->CaptureViewer(), nullptr);
}

TEST_F(ViewerTest, AWriterThreadAppendsWhileTheViewerPages)
{
    S->Prof.data.CodePage = 1252;
    S->Capture.SetBufSize(256);
    BROWSESTREAM& v = Viewer();
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        std::wstring line;
        for (int i = 0; i < 200000 && !stop; ++i) {
            line = L"appended line " + std::to_wstring(i) + L"\r\n";
            S->Capture.PutBuf(line.c_str(), static_cast<long>(line.size()));
        }
    });
    for (int i = 0; i < 200; ++i) {
        v.OnKeyboardEvent(Key(i % 3 ? VK_NEXT : VK_PRIOR));
        if (i % 50 == 0)
            v.OnKeyboardEvent(Key(VK_END));
        Spin(2);
        // The page may start inside a line whose start was dropped; the
        // next row is a whole one.
        std::string const row = v.RowText(1);
        EXPECT_TRUE(row.empty() || row.rfind("appended line ", 0) == 0) << row;
    }
    stop = true;
    writer.join();
    Settle();
    v.OnKeyboardEvent(Key(VK_END));
    EXPECT_LE(S->Capture.Length(), 256u * 1024);
}

TEST_F(ViewerTest, CaptureCommands)
{
    Inject("saved text\r\n");
    ASSERT_TRUE(WaitShown());
    EXPECT_TRUE(S->Capture.QueryCaptureFilled());
    // 8392 saves where the user says; 8391 loads.
    Host.Picks.push_back(Work.file("saved.txt"));
    S->ProcessEvent(8392, 0, nullptr);
    EXPECT_EQ(testutil::ReadFile(Work.file("saved.txt")), "saved text\r\n");
    S->ProcessEvent(8390, 0, nullptr);
    EXPECT_FALSE(S->Capture.QueryCaptureFilled());
    S->ProcessEvent(8391, 0, Work.file("saved.txt").c_str());
    EXPECT_EQ(S->Capture.Copy(), "saved text\r\n");
    // A save that fails is reported.
    Host.Lines.clear();
    Host.Picks.push_back(Work.file("saved.txt/inside"));
    S->ProcessEvent(8392, 0, nullptr);
    EXPECT_EQ(Host.Take("fileerror ").size(), 1u);
    // 8393 hands the editor a private copy.
    S->ProcessEvent(8393, 0, nullptr);
    std::vector<std::string> const edits = Host.Take("edit ");
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(testutil::ReadFile(edits[0].substr(5)), "saved text\r\n");
}
