// The capture buffer: what PutBuf keeps of received text (the control
// rules, UTF-8 backspaces, time marks on a fixed clock), overflow and new
// sizes with the viewer's signals, save and load byte-exact, failures
// reported, the editor's private copy; the display lines the viewer walks.
#include "program/screen/streamdata.h"
#include "program/screen/streamlines.h"

#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

class HOST : public STREAMDATAHOST {
public:
    int CaptureCodePage() override { return CodePage; }
    bool CaptureTimeMarks() override { return Marks; }
    void CaptureLocalTime(int* h, int* m, int* s, int* t) override
    {
        *h = 9;
        *m = 8;
        *s = 7;
        *t = Tenths;
    }
    long long CaptureNowMs() override { return Now; }
    std::string AskSaveName(char const*, char const*) override { return Answer; }
    std::string AskLoadName(char const*, char const*) override { return Answer; }
    void FileError(char const* path) override { Errors.push_back(std::string(path) + ": " + strerror(errno)); }
    void EditFile(char const* path) override { Edited.push_back(path); }
    void AddTempFile(char const* path) override { Temps.push_back(path); }

    int CodePage = 1252;
    bool Marks = false;
    int Tenths = 5;
    long long Now = 1000;
    std::string Answer;
    std::vector<std::string> Errors, Edited, Temps;
};

class VIEWER : public CAPTUREVIEWER {
public:
    bool Signal(int code, uintptr_t parameter) override
    {
        Signals.emplace_back(code, parameter);
        return true;
    }
    std::vector<std::pair<int, uintptr_t>> Signals;
};

// Latin-1 bytes as wide characters (UTF-8 text goes through Wide8).
std::wstring Wide(std::string const& s)
{
    std::wstring out;
    for (unsigned char c : s)
        out += static_cast<wchar_t>(c);
    return out;
}

void Put(STREAMDATA& buffer, std::wstring const& text)
{
    buffer.PutBuf(text.c_str(), static_cast<long>(text.size()));
}

} // namespace

TEST(CaptureBuffer, PutBufKeepsTheTextByTheControlRules)
{
    struct CASE {
        char const* Name;
        int CodePage;
        bool Marks;
        std::vector<std::wstring> Pieces;
        std::string Expected;
    };
    std::vector<CASE> const cases = {
        {"plain text and line ends", 1252, false, {L"ab\r\ncd\f"}, "ab\r\ncd\f"},
        {"TAB and ESC kept, other controls dropped", 1252, false, {std::wstring(L"a\tb\x1b[m\x01\x07\0c", 10)}, "a\tb\x1b[mc"},
        {"backspace takes the last character", 1252, false, {L"abc\b\bd"}, "ad"},
        {"backspace across calls", 1252, false, {L"ab", L"\b", L"c"}, "ac"},
        {"backspace stops at the line start", 1252, false, {L"ab\r\n\b\b\bc"}, "ab\r\nc"},
        {"backspace at the start does nothing", 1252, false, {L"\b\bx"}, "x"},
        {"code page conversion", 1252, false, {L"\u00e9\u20ac"}, "\xe9\x80"},
        {"UTF-8 text", 1000, false, {L"\u00e9\u03b1\u4e2d"}, "\xC3\xA9\xCE\xB1\xE4\xB8\xAD"},
        {"UTF-8 backspace takes a whole character", 1000, false, {L"a\u00e9\u4e2d\b\bb"}, "ab"},
        {"UTF-8 backspace after a line break", 1000, false, {L"\u00e9\r\n\u4e2d\b\b"}, "\xC3\xA9\r\n"},
        {"time marks on lines after a line end", 1252, true, {L"x\r\ny", L"z\r", L"\nw\r\n\r\n"},
         "x\r\n[09:08:07.5] yz\r\n[09:08:07.5] w\r\n\r\n"},
        {"no mark for the very first line", 1252, true, {L"first"}, "first"},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.Name);
        HOST host;
        host.CodePage = c.CodePage;
        host.Marks = c.Marks;
        STREAMDATA buffer(host);
        buffer.SetBufSize(64);
        for (std::wstring const& piece : c.Pieces)
            Put(buffer, piece);
        EXPECT_EQ(buffer.Copy(), c.Expected);
        // The end mark follows the text.
        MUTEXLOCK lock(buffer.Lock());
        EXPECT_EQ(buffer.Data()[buffer.Length()], '~');
        EXPECT_EQ(buffer.Data()[buffer.Length() + 1], '\0');
    }
}

TEST(CaptureBuffer, OverflowDropsTheOldestQuarterAndTellsTheViewer)
{
    HOST host;
    STREAMDATA buffer(host);
    buffer.SetBufSize(64);
    VIEWER viewer;
    buffer.RegisterViewer(&viewer);
    std::string all;
    for (int i = 0; all.size() < 200000; ++i) {
        std::string const line = "line " + std::to_string(i) + "\r\n";
        all += line;
        host.Now += 1000; // every append signals
        Put(buffer, Wide(line));
    }
    std::string const kept = buffer.Copy();
    ASSERT_LE(kept.size(), 64u * 1024 - 2);
    ASSERT_GE(kept.size(), 64u * 1024 * 3 / 4 - 100);
    // The newest text, whole; the absolute positions still add up.
    EXPECT_EQ(all.substr(all.size() - kept.size()), kept);
    EXPECT_EQ(buffer.End(), all.size());
    EXPECT_EQ(buffer.Base(), all.size() - kept.size());
    int moved = 0;
    uintptr_t dropped = 0;
    for (auto const& [code, parameter] : viewer.Signals) {
        if (code == STREAMDATA::SIG_MOVED) {
            ++moved;
            dropped += parameter;
        }
    }
    EXPECT_GE(moved, 2);
    EXPECT_EQ(dropped, buffer.Base());

    // A smaller size keeps the newest three quarters of it; a larger one
    // keeps everything; the sizes are bounded.
    buffer.SetBufSize(128);
    EXPECT_EQ(buffer.Copy(), kept);
    buffer.SetBufSize(1);
    EXPECT_EQ(buffer.Size(), 64u * 1024);
    buffer.SetBufSize(100000);
    EXPECT_EQ(buffer.Size(), 8192u * 1024);
    EXPECT_EQ(buffer.Copy(), kept);
    std::string const big(100 * 1024, 'b');
    Put(buffer, Wide(big));
    buffer.SetBufSize(64);
    std::string const small = buffer.Copy();
    EXPECT_EQ(small.size(), 48u * 1024);
    EXPECT_EQ(small, (kept + big).substr(kept.size() + big.size() - small.size()));
    EXPECT_EQ(buffer.End(), all.size() + big.size());
}

TEST(CaptureBuffer, NewTextSignalsAreThrottledAboveSixteenKilobytes)
{
    HOST host;
    STREAMDATA buffer(host);
    buffer.SetBufSize(64);
    VIEWER viewer;
    buffer.RegisterViewer(&viewer);
    auto count = [&] {
        int n = 0;
        for (auto const& s : viewer.Signals)
            n += s.first == STREAMDATA::SIG_NEWTEXT;
        return n;
    };
    // Below the limit every append signals.
    for (int i = 0; i < 5; ++i)
        Put(buffer, L"small\r\n");
    EXPECT_EQ(count(), 5);
    host.Now += 200;
    Put(buffer, Wide(std::string(20000, 'x')));
    EXPECT_EQ(count(), 6);
    // Within 100 ms of the last signal: held back, then sent by the tick.
    host.Now += 50;
    Put(buffer, L"more");
    Put(buffer, L"more");
    EXPECT_EQ(count(), 6);
    buffer.FlushSignal();
    EXPECT_EQ(count(), 6);
    host.Now += 60;
    buffer.FlushSignal();
    EXPECT_EQ(count(), 7);
    buffer.FlushSignal();
    EXPECT_EQ(count(), 7);
    // Clearing tells the viewer at once and empties the buffer.
    viewer.Signals.clear();
    EXPECT_TRUE(buffer.QueryCaptureFilled());
    buffer.CaptClear();
    ASSERT_EQ(viewer.Signals.size(), 1u);
    EXPECT_EQ(viewer.Signals[0].first, STREAMDATA::SIG_CLEAR);
    EXPECT_FALSE(buffer.QueryCaptureFilled());
    EXPECT_EQ(buffer.Copy(), "");
}

TEST(CaptureBuffer, SaveLoadAndEditFiles)
{
    testutil::TempDir dir;
    HOST host;
    host.CodePage = 1000;
    STREAMDATA buffer(host);
    buffer.SetBufSize(64);
    std::string text;
    for (int i = 0; i < 256; ++i)
        if (i != 8 && (i >= 32 || i == 9 || i == 10 || i == 13 || i == 27))
            text += static_cast<char>(i);
    std::wstring wide;
    for (unsigned char c : text)
        wide += static_cast<wchar_t>(c);
    Put(buffer, wide + L"\u4e2d\r\n");
    std::string const kept = buffer.Copy();

    // Saved byte-exact to the name given or the one asked for.
    ASSERT_TRUE(buffer.CaptSave(dir.file("named.txt").c_str()));
    EXPECT_EQ(testutil::ReadFile(dir.file("named.txt")), kept);
    host.Answer = dir.file("asked.txt");
    ASSERT_TRUE(buffer.CaptSave(nullptr));
    EXPECT_EQ(testutil::ReadFile(dir.file("asked.txt")), kept);
    host.Answer.clear();
    EXPECT_FALSE(buffer.CaptSave(nullptr));
    EXPECT_TRUE(host.Errors.empty());

    // A folder that cannot be written, a file that cannot be read: told.
    std::string const unwritable = dir.file("named.txt/x.txt");
    EXPECT_FALSE(buffer.CaptSave(unwritable.c_str()));
    ASSERT_EQ(host.Errors.size(), 1u);
    EXPECT_NE(host.Errors[0].find(unwritable), std::string::npos);
    EXPECT_FALSE(buffer.CaptLoad(dir.file("missing.txt").c_str()));
    EXPECT_EQ(host.Errors.size(), 2u);

    // Loading appends the file's bytes as they are.
    buffer.CaptClear();
    ASSERT_TRUE(buffer.CaptLoad(dir.file("named.txt").c_str()));
    ASSERT_TRUE(buffer.CaptLoad(dir.file("named.txt").c_str()));
    EXPECT_EQ(buffer.Copy(), kept + kept);
    // As much as fits.
    testutil::WriteFile(dir.file("big.txt"), std::string(100000, 'z'));
    ASSERT_TRUE(buffer.CaptLoad(dir.file("big.txt").c_str()));
    EXPECT_EQ(buffer.Length(), 64u * 1024 - 2);

    // The editor gets a fresh private file, deleted with the session.
    ASSERT_TRUE(buffer.CaptEdit());
    ASSERT_EQ(host.Edited.size(), 1u);
    EXPECT_EQ(host.Temps, host.Edited);
    struct stat st {};
    ASSERT_EQ(stat(host.Edited[0].c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(testutil::ReadFile(host.Edited[0]), buffer.Copy());
    ASSERT_TRUE(buffer.CaptEdit());
    ASSERT_EQ(host.Edited.size(), 2u);
    EXPECT_NE(host.Edited[0], host.Edited[1]);
    for (std::string const& f : host.Edited)
        unlink(f.c_str());
}

// ---------------------------------------------------------------------------
// Display lines

namespace {

std::vector<std::string> Lines(std::string const& text, streamlines::LAYOUT const& layout)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        std::vector<streamlines::CELL> cells;
        size_t const next = streamlines::LineCells(text.data(), text.size(), pos, layout, cells);
        EXPECT_EQ(next, streamlines::NextLine(text.data(), text.size(), pos, layout));
        std::string shown;
        for (auto const& c : cells)
            shown += text.substr(pos + c.Offset, c.Bytes);
        out.push_back(shown);
        // Walking back from the next line finds this one.
        if (next < text.size())
            EXPECT_EQ(streamlines::LineUp(text.data(), text.size(), next, layout), pos) << "at " << next;
        pos = next;
    }
    EXPECT_EQ(streamlines::CountLines(text.data(), text.size(), layout), out.size());
    return out;
}

} // namespace

TEST(CaptureLines, DisplayLinesOfTheText)
{
    using V = std::vector<std::string>;
    struct CASE {
        char const* Name;
        std::string Text;
        int Columns;
        bool Utf8;
        V Expected;
    };
    std::vector<CASE> const cases = {
        {"CR ends a line, LF is skipped", "ab\r\ncd\r\n\r\nef", 80, false, {"ab", "cd", "", "ef"}},
        {"LF alone does not end a line", "ab\ncd", 80, false, {"abcd"}},
        {"long lines wrap at the columns", "abcdefg", 3, false, {"abc", "def", "g"}},
        {"a TAB is eight columns", "\tab\tc", 10, false, {"\tab", "\tc"}},
        {"UTF-8 characters are one cell", "\xC3\xA9\xCE\xB1x", 2, true, {"\xC3\xA9\xCE\xB1", "x"}},
        {"double width takes two columns", "a\xE4\xB8\xAD\xE4\xB8\xAD", 4, true, {"a\xE4\xB8\xAD", "\xE4\xB8\xAD"}},
        {"broken UTF-8 is one byte each", "\xC3" "a\xE4\xB8", 80, true, {"\xC3" "a\xE4\xB8"}},
        {"bytes as they are without UTF-8", "\xC3\xA9", 1, false, {"\xC3", "\xA9"}},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Lines(c.Text, {c.Columns, c.Utf8}), c.Expected);
    }
    // A line holds at most 1015 bytes.
    std::string const long_(3000, 'q');
    V const parts = Lines(long_, {2000, false});
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].size(), streamlines::MAXLINEBYTES);
}

TEST(CaptureLines, TheQuickWalkAgreesWithTheFullOne)
{
    // Texts of plain bytes, TABs, line ends, controls and UTF-8, walked at
    // widths around their line lengths and past the byte cap.
    std::mt19937 random(5123);
    std::vector<std::string> const pieces = {"a", "bc", "\t", "\r", "\n", "\r\n", "\x01", "\xC3\xA9", "\xE4\xB8\xAD", "\xC3",
                                             std::string(40, 'x'), std::string(1100, 'y')};
    for (int round = 0; round < 300; ++round) {
        std::string text;
        while (text.size() < 3000)
            text += pieces[random() % pieces.size()];
        streamlines::LAYOUT const layout{static_cast<int>(random() % 2 ? random() % 50 + 1 : random() % 1200 + 1),
                                         random() % 2 == 0};
        std::vector<streamlines::CELL> cells;
        for (size_t pos = 0; pos < text.size();) {
            size_t const next = streamlines::LineCells(text.data(), text.size(), pos, layout, cells);
            ASSERT_EQ(streamlines::NextLine(text.data(), text.size(), pos, layout), next)
                << "round " << round << " at " << pos << ", " << layout.Columns << " columns";
            pos = next;
        }
    }
}

TEST(CaptureLines, TheIndexFollowsAppendsAndDrops)
{
    HOST host;
    STREAMDATA buffer(host);
    buffer.SetBufSize(64);
    streamlines::LINEINDEX index;
    streamlines::LAYOUT const layout{20, false};
    auto check = [&] {
        MUTEXLOCK lock(buffer.Lock());
        index.Update(buffer.Data(), buffer.Length(), buffer.Base(), buffer.Epoch(), buffer.StablePos(), layout);
        size_t const full = streamlines::CountLines(buffer.Data(), buffer.Length(), layout);
        EXPECT_EQ(index.Count(), full);
        // Every line's start by its number and back.
        size_t pos = 0, n = 0;
        while (pos < buffer.Length() && n < 5000) {
            uint64_t const abs = buffer.Base() + pos;
            EXPECT_EQ(index.StartOf(buffer.Data(), buffer.Length(), buffer.Base(), n), abs);
            EXPECT_EQ(index.IndexOf(buffer.Data(), buffer.Length(), buffer.Base(), abs), n);
            pos = streamlines::NextLine(buffer.Data(), buffer.Length(), pos, layout);
            ++n;
        }
    };
    // Lines of every length, appended in pieces that split lines.
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += std::string(static_cast<size_t>(i % 47), static_cast<char>('a' + i % 26)) + "\r\n";
    for (size_t at = 0; at < text.size(); at += 7001) {
        Put(buffer, Wide(text.substr(at, 7001)));
        check();
    }
    EXPECT_GT(buffer.Base(), 0u);
    buffer.SetBufSize(80);
    check();
    buffer.CaptClear();
    Put(buffer, L"after\r\n");
    check();
}
