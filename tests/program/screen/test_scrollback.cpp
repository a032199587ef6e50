// The scroll-back buffer: capacity, the tenth-at-a-time drop, packed rows,
// logical lines, saving.
#include "tests/program/screen/viotranscript.h"
#include "tests/support/testutil.h"
#include "tests/velmot/core/assertrecorder.h"

#include "program/screen/vioutils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

using viotest::FAKESBHOST;

namespace {

std::vector<VIOCELL> Row(std::u32string const& text, uint16_t attrib = 0, int fore = 7, int back = 0)
{
    std::vector<VIOCELL> cells;
    for (char32_t c : text)
        cells.push_back(vioutils::MakeCell(uint16_t(c), attrib, fore, back));
    return cells;
}

void Add(SCROLLBACKBUFFER& sb, std::u32string const& text, uint16_t attrib = 0)
{
    std::vector<VIOCELL> const cells = Row(text, attrib);
    sb.AddLine(cells.data(), int(cells.size()), 1);
}

std::vector<VIOCELL> Unpacked(SCROLLBACKBUFFER& sb, int line)
{
    std::vector<VIOCELL> cells(size_t(std::max(sb.LineLength(line), 1)));
    cells.resize(size_t(sb.UnpackLine(line, cells.data(), int(cells.size()))));
    return cells;
}

bool Same(std::vector<VIOCELL> const& a, std::vector<VIOCELL> const& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(VIOCELL)) == 0;
}

TEST(Scrollback, Capacity)
{
    struct CASE {
        int lines, capacity;
    } const cases[] = {{0, 0}, {1, 100}, {99, 100}, {100, 100}, {5000, 5000}, {64000, 64000}, {70000, 64000}, {-5, 0}};
    for (CASE const& c : cases) {
        SCROLLBACKBUFFER sb;
        EXPECT_EQ(sb.MaxLinesLimit, -1);
        sb.MakeScrollback(c.lines, nullptr);
        EXPECT_EQ(sb.MaxLinesLimit, c.capacity) << c.lines;
    }
    // Off: nothing is stored.
    SCROLLBACKBUFFER off;
    off.MakeScrollback(0, nullptr);
    Add(off, U"x");
    EXPECT_EQ(off.QueryFilled(), 0);
}

TEST(Scrollback, SameCapacityKeepsOtherDiscards)
{
    SCROLLBACKBUFFER sb;
    sb.MakeScrollback(200, nullptr);
    Add(sb, U"kept");
    sb.MakeScrollback(200, nullptr);
    EXPECT_EQ(sb.QueryFilled(), 1);
    sb.MakeScrollback(300, nullptr);
    EXPECT_EQ(sb.QueryFilled(), 0);
}

TEST(Scrollback, FullBufferDropsItsOldestTenthAndMovesIndices)
{
    struct CASE {
        char const* what;
        int selStart, selEnd, view, hover;
        int wantStart, wantEnd, wantView, wantHover;
    } const cases[] = {
        {"selection before the cut", 50, 160, 40, 20, -1, -1, 0, -1},
        {"selection after the cut", 150, 160, 500, 150, 50, 60, 400, 50},
        {"selection ending before the cut", 150, 99, 100, 100, -1, -1, 0, 0},
    };
    for (CASE const& c : cases) {
        SCROLLBACKBUFFER b;
        b.MakeScrollback(1000, nullptr);
        for (int i = 0; i < 1000; ++i)
            Add(b, U"L" + std::u32string(1, U'0' + i % 10));
        b.SelStartLine = c.selStart;
        b.SelEndLine = c.selEnd;
        b.SelStartCol = 3;
        b.SelMode = 2;
        b.HoverLine = c.hover;
        std::vector<VIOCELL> const row = Row(U"new");
        b.RegisterViewer(reinterpret_cast<SCROLLBACKWIN*>(&b)); // the view stays where it is
        b.CurLineIdx = c.view;
        b.AddLine(row.data(), 3, 1);
        EXPECT_EQ(b.QueryFilled(), 901) << c.what;
        EXPECT_EQ(viotest::ScrollbackText(b, 900), "new") << c.what;
        EXPECT_EQ(viotest::ScrollbackText(b, 0), "L0") << c.what << ": lines 0..99 dropped";
        EXPECT_EQ(b.SelStartLine, c.wantStart) << c.what;
        EXPECT_EQ(b.SelEndLine, c.wantEnd) << c.what;
        EXPECT_EQ(b.SelStartCol, 3) << c.what;
        EXPECT_EQ(b.SelMode, 2) << c.what;
        EXPECT_EQ(b.CurLineIdx, c.wantView) << c.what;
        EXPECT_EQ(b.HoverLine, c.wantHover) << c.what;
    }
}

TEST(Scrollback, RowsAreStoredDimmedAndStillAndComeBackAsTheyWere)
{
    FAKESBHOST host;
    SCROLLBACKBUFFER sb(&host);
    sb.MakeScrollback(100, nullptr);
    std::vector<VIOCELL> row = Row(U"abc", VIOATTR_BLINK | VIOATTR_INVERSE);
    row[1].attrib |= VIOATTR_DIM; // dim already on the screen
    sb.AddLine(row.data(), 3, 1);
    std::vector<VIOCELL> const shown = Unpacked(sb, 0);
    ASSERT_EQ(shown.size(), 3u);
    for (VIOCELL const& c : shown)
        EXPECT_EQ(c.attrib, VIOATTR_INVERSE | VIOATTR_DIM);
    VIOCELL* back = nullptr;
    ASSERT_EQ(sb.PopLine(&back, 0), 3);
    EXPECT_EQ(back[0].attrib, VIOATTR_INVERSE) << "the history's dimming comes off, the blink stays off";
    EXPECT_EQ(back[1].attrib, VIOATTR_INVERSE | VIOATTR_DIM) << "the cell's own dimming stays";
    delete[] back;
    EXPECT_EQ(sb.PopLine(&back, 0), -1);
    EXPECT_EQ(back, nullptr);

    host.NoDimSetting = true;
    sb.AddLine(row.data(), 3, 1);
    EXPECT_EQ(Unpacked(sb, 0)[0].attrib, VIOATTR_INVERSE);
}

TEST(Scrollback, PackedRowsExpandToTheCellsStored)
{
    FAKESBHOST host;
    host.NoDimSetting = true;
    SCROLLBACKBUFFER sb(&host);
    sb.MakeScrollback(1000, nullptr);
    std::mt19937 rng(17);
    std::vector<std::vector<VIOCELL>> rows;
    // Fixed cases: a blank row, one cell, wide characters, a run of
    // attributes in the middle of blanks, trailing blanks of another colour.
    rows.push_back(Row(std::u32string(80, U' ')));
    rows.push_back(Row(U"x"));
    rows.push_back(Row(U"\u4E2D\uFFF8ab"));
    {
        std::vector<VIOCELL> r = Row(U"     abc      ");
        r[6].attrib = VIOATTR_UNDERLINE;
        r[7].fore = 300;
        rows.push_back(r);
    }
    {
        std::vector<VIOCELL> r = Row(U"text");
        std::vector<VIOCELL> const tail = Row(std::u32string(20, U' '), 0, 7, 4);
        r.insert(r.end(), tail.begin(), tail.end());
        rows.push_back(r);
    }
    for (int k = 0; k < 200; ++k) {
        int const n = 1 + int(rng() % 200);
        std::vector<VIOCELL> r;
        for (int i = 0; i < n; ++i) {
            uint32_t const pick = rng();
            uint16_t const c = (pick & 3) == 0 ? uint16_t(0x3000 + pick % 5000) : (pick & 3) == 1 ? 32 : uint16_t(33 + pick % 90);
            uint16_t const attrib = (pick >> 8) % 7 == 0 ? uint16_t(rng() & ~VIOATTR_BLINK) : 0;
            r.push_back(vioutils::MakeCell(c, attrib, (pick >> 12) % 3 ? 7 : int(rng() % 4096), 0,
                                           (pick >> 20) % 11 == 0 ? VIOEXT_LINK : 0));
        }
        rows.push_back(r);
    }
    for (auto const& r : rows)
        sb.AddLine(r.data(), int(r.size()), 0);
    ASSERT_EQ(sb.QueryFilled(), int(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_TRUE(Same(Unpacked(sb, int(i)), rows[i])) << "row " << i;
    // A plain text row costs far less than its cells.
    SCROLLBACKBUFFER plain;
    plain.MakeScrollback(100, nullptr);
    std::vector<VIOCELL> text = Row(U"The quick brown fox jumps over the lazy dog and so on." + std::u32string(26, U' '));
    plain.AddLine(text.data(), 80, 0);
    EXPECT_EQ(plain.LineBytes(0), 8u + 8u + 54u) << "header, one attribute run, 54 characters";
}

TEST(Scrollback, LongRowsAndBadLengths)
{
    testutil::ASSERTRECORDER recorder;
    SCROLLBACKBUFFER sb;
    sb.MakeScrollback(100, nullptr);
    std::vector<VIOCELL> huge = Row(std::u32string(70000, U'x'));
    sb.AddLine(huge.data(), 70000, 0);
    EXPECT_EQ(sb.LineLength(0), 65535) << "cut to what a row's length holds";
    sb.AddLine(huge.data(), 0, 0);
    EXPECT_EQ(sb.QueryFilled(), 1) << "a row of no cells is not stored";
    sb.AddLine(huge.data(), -3, 0);
    EXPECT_EQ(sb.QueryFilled(), 1);
    auto const reports = recorder.Take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Condition, "FALSE");
}

TEST(Scrollback, PopFullWrappedLineJoinsWrappedRows)
{
    SCROLLBACKBUFFER sb;
    sb.MakeScrollback(100, nullptr);
    Add(sb, U"older");
    std::vector<VIOCELL> a = Row(U"abc"), b = Row(U"def"), c = Row(U"gh");
    a[2].attrib |= VIOATTR_WRAPPED;
    b[2].attrib |= VIOATTR_WRAPPED;
    b[0].extattr = VIOEXT_LINK;
    sb.AddLine(a.data(), 3, 0);
    sb.AddLine(b.data(), 3, 0);
    sb.AddLine(c.data(), 2, 0);
    // With onlyWrapped and a newest row that does not end wrapped: nothing.
    VIOCELL* cells = nullptr;
    EXPECT_EQ(sb.PopFullWrappedLine(&cells, 1), 0);
    EXPECT_EQ(cells, nullptr);
    EXPECT_EQ(sb.QueryFilled(), 4);
    EXPECT_EQ(sb.CountWrappedRows(10, false), 3);
    EXPECT_EQ(sb.CountWrappedRows(1, false), 2) << "counting stops past the limit";
    ASSERT_EQ(sb.PopFullWrappedLine(&cells, 0), 8);
    std::u32string text;
    for (int i = 0; i < 8; ++i) {
        text.push_back(cells[i].c);
        EXPECT_EQ(cells[i].attrib, 0) << "marks and dimming cleared";
        EXPECT_EQ(cells[i].extattr, 0) << "link highlight cleared";
    }
    delete[] cells;
    EXPECT_EQ(text, U"abcdefgh");
    EXPECT_EQ(sb.QueryFilled(), 1);
    // The newest row ending wrapped is taken with onlyWrapped.
    sb.AddLine(a.data(), 3, 0);
    EXPECT_EQ(sb.PopFullWrappedLine(nullptr, 1), 3);
    EXPECT_EQ(sb.QueryFilled(), 1);
}

TEST(Scrollback, NotificationsAndTheViewPosition)
{
    FAKESBHOST host;
    SCROLLBACKBUFFER sb(&host);
    sb.MakeScrollback(100, nullptr);
    Add(sb, U"a");
    EXPECT_EQ(host.MenuUpdates, 1) << "the first line makes the commands available";
    EXPECT_EQ(host.PendingUpdates, 1);
    EXPECT_EQ(sb.CurLineIdx, 1) << "the view follows the live screen";
    std::vector<VIOCELL> row = Row(U"b");
    sb.AddLine(row.data(), 1, 0);
    EXPECT_EQ(host.PendingUpdates, 1) << "only the batch's last row notifies";
    EXPECT_EQ(host.MenuUpdates, 1);
    sb.RegisterViewer(reinterpret_cast<SCROLLBACKWIN*>(&host));
    sb.CurLineIdx = 0;
    Add(sb, U"c");
    EXPECT_EQ(host.ViewerMessages, (std::vector<int>{1025}));
    EXPECT_EQ(sb.CurLineIdx, 0) << "a viewer keeps its place";
    // Popping moves an index that points past the end.
    sb.CurLineIdx = 3;
    sb.HoverLine = 2;
    sb.PopLine(nullptr, 0);
    EXPECT_EQ(sb.CurLineIdx, 1);
    EXPECT_EQ(sb.HoverLine, -1);
    // A peek changes nothing.
    sb.CurLineIdx = 2;
    EXPECT_EQ(sb.PopLine(nullptr, 1), 1);
    EXPECT_EQ(sb.CurLineIdx, 2);
    sb.ClearAll();
    EXPECT_EQ(sb.QueryFilled(), 0);
    EXPECT_EQ(sb.CurLineIdx, 0);
}

TEST(Scrollback, RecordingCanBeSuspended)
{
    SCROLLBACKBUFFER sb;
    sb.MakeScrollback(100, nullptr);
    SCROLLBACKBUFFER::RecordingSuspended = true;
    Add(sb, U"lost");
    SCROLLBACKBUFFER::RecordingSuspended = false;
    Add(sb, U"kept");
    EXPECT_EQ(sb.QueryFilled(), 1);
}

TEST(Scrollback, HoverLinkIsShownOnTheLine)
{
    SCROLLBACKBUFFER sb;
    sb.MakeScrollback(100, nullptr);
    Add(sb, U"go http://a.b now");
    sb.SetHoverLink(0, 3, 12);
    std::vector<VIOCELL> const cells = Unpacked(sb, 0);
    for (int i = 0; i < int(cells.size()); ++i)
        EXPECT_EQ(bool(cells[size_t(i)].extattr & VIOEXT_LINK), i >= 3 && i <= 12) << i;
    wchar_t text[8];
    EXPECT_EQ(sb.UnpackLine(0, text, 8), 7);
    EXPECT_EQ(std::wstring(text), L"go http");
}

TEST(Scrollback, SavingWritesLinesThenTheScreen)
{
    testutil::TempDir dir;
    viotest::SCREEN s(10, 2, 100);
    s.SbHost.EditFile_ = dir.file("scroll.txt");
    // An empty buffer still writes the screen rows.
    s.Scrollback.SaveScrollbackDataToDestination(0);
    EXPECT_EQ(testutil::ReadFile(dir.file("scroll.txt")), "\n\n");
    // The file is UTF-8: characters beyond U+FFFF and marks are kept, in
    // the stored lines and on the screen.
    std::wstring const t = L"one \t\r\n\u20AC\u4E2Dx\U0001F600e\u0301\r\nlast\U0001D400";
    s.Vio.conputws(t.c_str(), long(t.size()));
    s.Scrollback.SaveScrollbackDataToDestination(0);
    EXPECT_EQ(testutil::ReadFile(dir.file("scroll.txt")), "\none\n\u20AC\u4E2Dx\U0001F600e\u0301\nlast\U0001D400");
    s.Scrollback.SaveScrollbackDataToDestination(1);
    EXPECT_EQ(s.SbHost.Edited, (std::vector<std::string>{dir.file("scroll.txt")}));
    // The clipboard gets every character, and no file is touched for it.
    std::remove(dir.file("scroll.txt").c_str());
    s.Scrollback.SaveScrollbackDataToDestination(2);
    EXPECT_EQ(s.SbHost.Clipboard, "\none\n\u20AC\u4E2Dx\U0001F600e\u0301\nlast\U0001D400");
    EXPECT_EQ(s.SbHost.ClipboardCodePage, UNICODE_CPUTF8);
    EXPECT_TRUE(testutil::ReadFile(dir.file("scroll.txt")).empty());
    // A file that cannot be opened is reported by name.
    s.SbHost.EditFile_ = dir.file("no/such/folder.txt");
    s.Scrollback.SaveScrollbackDataToDestination(0);
    EXPECT_EQ(s.SbHost.FileErrors, (std::vector<std::string>{dir.file("no/such/folder.txt")}));
    // So is one that takes nothing (a full disk), with lines enough to fill
    // the stream's buffer before the close.
    std::wstring const many = std::wstring(9, L'x') + L"\r\n";
    for (int i = 0; i < 100; ++i)
        s.Vio.conputws(many.c_str(), long(many.size()));
    s.SbHost.EditFile_ = "/dev/full";
    s.SbHost.FileErrors.clear();
    s.Scrollback.SaveScrollbackDataToDestination(1);
    EXPECT_EQ(s.SbHost.FileErrors, (std::vector<std::string>{"/dev/full"}));
    EXPECT_EQ(s.SbHost.Edited.size(), 1u) << "nothing opened in the editor";
}

TEST(Scrollback, ScrollBarRange)
{
    viotest::SCREEN s(10, 24, 100);
    s.Scrollback.CurLineIdx = 0;
    std::wstring const t = L"a\nb\nc\n";
    for (int i = 0; i < 10; ++i)
        s.Vio.conputws(t.c_str(), long(t.size()));
    int const n = s.Scrollback.QueryFilled();
    ASSERT_GT(n, 0);
    s.Scrollback.SetScrollbars(*reinterpret_cast<SCROLLBAR*>(&s), -1);
    EXPECT_EQ(s.SbHost.Bar, (std::vector<int>{n, 24, 0, 24 + n - 1}));
}

TEST(Scrollback, WriterAndReaderThreads)
{
    // Rows arrive on one thread while the main thread reads, pops and
    // clears; nothing may crash or tear.
    SCROLLBACKBUFFER sb;
    sb.MakeScrollback(100, nullptr);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        std::vector<VIOCELL> row = Row(U"0123456789012345678901234567890123456789");
        for (int i = 0; i < 20000 && !stop; ++i) {
            row[0].c = uint16_t('a' + i % 26);
            sb.AddLine(row.data(), 40, i % 10 == 0);
        }
    });
    VIOCELL cells[64];
    for (int i = 0; i < 5000; ++i) {
        int const n = sb.QueryFilled();
        if (n > 0)
            sb.UnpackLine(i % n, cells, 64);
        if (i % 97 == 0)
            delete[] [&] { VIOCELL* p = nullptr; sb.PopFullWrappedLine(&p, 0); return p; }();
        if (i % 1000 == 999)
            sb.ClearAll();
    }
    stop = true;
    writer.join();
    EXPECT_LE(sb.QueryFilled(), 100);
}

} // namespace
