// The received-data road of a whole session: the local shell onto the TTY
// screen, recorded streams through the loopback device in pieces cut
// anywhere, every byte handed out exactly once (UTF-8 split anywhere,
// broken sequences, stream markers), and the rules of one pass.
#include "program/session/sessionrunner.h"
#include "tests/program/session/sessionfixture.h"

#include "velmot/core/unicode.h"
#include "velmot/core/wstring.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

using namespace sessiontest;

namespace {

[[maybe_unused]] bool const kPlatform = (UsePlatform(), true);

std::string ReadFile(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string StreamPath(char const* name)
{
    return std::string(getenv("QOR_TEST_SOURCE_DIR")) + "/program/session/streams/" + name;
}

// Everything the screen shows and keeps: the rows, the cursor, the rows in
// the scroll-back.
std::string Picture(HEADLESSSESSION& run)
{
    std::string out;
    SESSION& s = run.Session();
    int w = 0, h = 0, x = 0, y = 0;
    s.Screen.GetWinSize(&w, &h);
    s.Screen.GetCursorPos(&x, &y);
    out += "cursor " + std::to_string(x) + "," + std::to_string(y) + "\n";
    for (int i = 0; i < s.Scrollback.QueryFilled(); ++i) {
        wchar_t line[512] = {};
        s.Scrollback.UnpackLine(i, line, 512);
        WSTRING wide(line);
        out += "sb|" + std::string(STRING(wide, UNICODE_CPUTF8).Buf()) + "\n";
    }
    for (int r = 0; r < h; ++r)
        out += "row|" + run.Row(r) + "\n";
    return out;
}

} // namespace

class RoadTest : public SessionTest {};

// A real local shell through the device, the road and the TTY emulation.
TEST_F(RoadTest, LocalShellOutputReachesTheScreen)
{
    ASSERT_TRUE(Open(11, 0, "[11]/bin/sh -c 'printf \"a\\tb\\r\\nline2\"'"));
    ASSERT_TRUE(Pump([&] { return Row(1) == "line2"; })) << Row(0) << "|" << Row(1);
    EXPECT_EQ(Row(0), "a       b");
    EXPECT_EQ(Row(2), "");
}

// One chunk or pieces cut anywhere: the same screen and scroll-back.
TEST(RoadDifferential, RandomChunkingGivesTheSameScreen)
{
    STAGE stage({{TennickBundle(), "tennick.so"}, {YelbrinBundle(), "yelbrin.so"}});
    std::string const stream = ReadFile(StreamPath("shell.bin"));
    ASSERT_GT(stream.size(), 1000u);
    for (int codePage : {1252, 1000}) {
        SCOPED_TRACE(codePage);
        std::string reference;
        {
            ForgetDictionary();
            HEADLESSSESSION run({.Emulation = 0, .Columns = 60, .Rows = 12, .JumpScroll = 0, .CodePage = codePage});
            ASSERT_TRUE(run.IsOpen());
            ASSERT_TRUE(run.Feed(stream));
            ASSERT_TRUE(run.WaitIdle());
            reference = Picture(run);
        }
        std::mt19937 rng(1234 + codePage);
        for (int round = 0; round < 3; ++round) {
            ForgetDictionary();
            HEADLESSSESSION run({.Emulation = 0, .Columns = 60, .Rows = 12, .JumpScroll = round, .CodePage = codePage});
            ASSERT_TRUE(run.IsOpen());
            size_t pos = 0;
            while (pos < stream.size()) {
                size_t n = std::min<size_t>(stream.size() - pos, 1 + rng() % (round == 0 ? 3 : 700));
                ASSERT_TRUE(run.Feed(stream.data() + pos, n));
                pos += n;
                // Sometimes the road catches up between pieces.
                if (rng() % 4 == 0) {
                    ASSERT_TRUE(run.WaitIdle());
                }
            }
            ASSERT_TRUE(run.WaitIdle());
            EXPECT_EQ(Picture(run), reference) << "round " << round;
        }
    }
}

namespace {

// One element of a received stream: a byte, or a stream marker.
struct ITEM {
    bool marker;
    int value;
};

// What the road must hand out for a stream: bytes decoded as a stream of
// UTF-8 (or taken as they are), each marker where it stood when the
// emulation wants markers.
std::wstring Expected(std::vector<ITEM> const& items, bool utf8, bool markers)
{
    std::wstring out;
    UNICODE_UTF8STATE state{};
    for (ITEM const& it : items) {
        if (it.marker) {
            if (markers)
                out += static_cast<wchar_t>(it.value);
            continue;
        }
        if (!utf8) {
            out += static_cast<wchar_t>(it.value);
            continue;
        }
        char b = static_cast<char>(it.value);
        WSTRING w;
        UNICODE::GetInstance()->Utf8Decoder(&b, 1, w, &state);
        out.append(w.Buf(), static_cast<size_t>(w.Length()));
    }
    return out;
}

std::wstring FromUtf8(std::string const& text)
{
    WSTRING w;
    w.FromUtf8(text.c_str(), static_cast<int32_t>(text.size()));
    return std::wstring(w.Buf(), static_cast<size_t>(w.Length()));
}

} // namespace

// Every byte that enters leaves exactly once, whatever the pieces: UTF-8
// sequences split between reads, broken sequences, markers in between,
// line ends at the end of the line budget.
TEST_F(RoadTest, EveryByteLeavesExactlyOnce)
{
    ASSERT_TRUE(Open(5, 1));
    S->Prof.data.JumpScroll = 0;
    std::mt19937 rng(77);
    std::vector<std::string> const pieces = {"a", "b", "Z", "\r", "\n", "\r\n", "\t", "\x1b", "\xc3\xa9",
                                             "\xe4\xb8\xad", "\xf0\x9f\x98\x80", "\xc3", "\xe2\x82",
                                             "\xff", "\x80", "\xa9", "\xc2\x9b", "\x1b[1;2m", "words "};
    struct CASE {
        int codePage;
        bool markers;
        bool runs; // the emulation checks whole runs (EMUFLAG_SEQUENCERUN)
    } const cases[] = {{1000, true, false}, {1000, false, false}, {1252, true, false},
                       {1000, true, true},  {1000, false, true},  {1252, true, true}};
    for (CASE const& c : cases) {
        SCOPED_TRACE(std::to_string(c.codePage) + (c.runs ? " runs" : ""));
        S->Prof.data.CodePage = c.codePage;
        Custom(("FLAGS " + std::to_string((c.markers ? 2 : 0) | (c.runs ? 1024 : 0))).c_str());
        Custom("RECEIVED");
        std::vector<ITEM> items;
        for (int i = 0; i < 3000; ++i) {
            if (rng() % 40 == 0) {
                items.push_back({true, 0xFFF7 + static_cast<int>(rng() % 4)});
                continue;
            }
            for (char ch : pieces[rng() % pieces.size()])
                items.push_back({false, static_cast<unsigned char>(ch)});
        }
        items.push_back({false, 'Z'}); // ends any open sequence
        // Fed in pieces of random length; the road runs between some.
        size_t pos = 0;
        while (pos < items.size()) {
            size_t n = std::min<size_t>(items.size() - pos, 1 + rng() % 50);
            for (size_t k = pos; k < pos + n;) {
                if (items[k].marker) {
                    S->CommLayer.FeedMarker(static_cast<wchar_t>(items[k].value));
                    ++k;
                    continue;
                }
                std::string bytes;
                while (k < pos + n && !items[k].marker)
                    bytes += static_cast<char>(items[k++].value);
                S->CommLayer.FeedData(bytes.data(), static_cast<int>(bytes.size()));
            }
            pos += n;
            if (rng() % 3 == 0) {
                ASSERT_TRUE(Pump([&] { return S->CommLayer.QueryNumAvail() == 0 && !S->HasVioBracket(); }));
            }
        }
        ASSERT_TRUE(Pump([&] { return S->CommLayer.QueryNumAvail() == 0 && !S->HasVioBracket(); }));
        EXPECT_EQ(FromUtf8(Custom("RECEIVED")), Expected(items, c.codePage == 1000, c.markers));
    }
}

// The sequence check takes bytes: a wide character must not reach it as
// its low byte, which may be ESC (U+251B) and would hold the following
// text back from the translation as part of a sequence.
TEST_F(RoadTest, WideCharactersAreTextToTheSequenceCheck)
{
    ASSERT_TRUE(Open(5, 1));
    S->Prof.data.CodePage = 1000;
    S->Translate = [](int c) { return c == 'a' ? 'b' : c; };
    Custom("RECEIVED");
    std::string const text = "\xe2\x94\x9b" "a \x1b" "a";
    S->CommLayer.FeedData(text.data(), static_cast<int>(text.size()));
    ASSERT_TRUE(Pump([&] { return S->CommLayer.QueryNumAvail() == 0 && !S->HasVioBracket(); }));
    // The test emulation takes ESC and the character after it as a
    // sequence: only that 'a' is left as it came.
    EXPECT_EQ(Custom("RECEIVED"), "\xe2\x94\x9b" "b \x1b" "a");
}

namespace {

// Control characters written visibly: "\r" as <d>.
std::string Visible(std::string const& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c < 32) {
            char buf[8];
            snprintf(buf, sizeof buf, "<%x>", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

} // namespace

class PassTest : public RoadTest {
protected:
    void SetUp() override
    {
        RoadTest::SetUp();
        ASSERT_TRUE(Open(5, 1));
        S->SetPassSlice(0); // one pass a turn: the passes are what is looked at
        Custom("RECEIVED");
    }
    // The bytes arrive; one pass runs; what it handed the emulation.
    std::string OnePass(std::string const& bytes)
    {
        S->CommLayer.FeedData(bytes.data(), static_cast<int>(bytes.size()));
        S->ComDataProcess();
        return Visible(Custom("RECEIVED"));
    }
    // Runs the road until the data is gone; what it handed out meanwhile.
    std::string Rest()
    {
        Pump([&] { return S->CommLayer.QueryNumAvail() == 0 && !S->HasVioBracket(); });
        return Visible(Custom("RECEIVED"));
    }
};

TEST_F(PassTest, LineBudgetFollowsJumpScrollAndKeepsCrLfTogether)
{
    struct {
        int jump, height;
        char const* input;
        char const* first;
    } const cases[] = {
        {0, 48, "1\r\n2\r\n3\r\n4\r\n", "1<d><a>2<d><a>3<d><a>"},
        {0, 12, "1\r\n2\r\n3\r\n4\r\n", "1<d><a>2<d><a>3<d><a>"},
        {2, 12, "1\n2\n3\n4\n", "1<a>2<a>3<a>"},      // 12 / 4 = 3 lines
        {3, 12, "1\n2\n3\n4\n5\n6\n7\n8\n", "1<a>2<a>3<a>4<a>5<a>6<a>"},
        {1, 7, "ab\r\n", "a"},                           // 7 / 8 = 0: one character a pass
        {9, 24, "1\n2\n3\n", "1<a>2<a>"},               // another value: two lines
        {0, 24, "1\n2\n3\rx", "1<a>2<a>3<d>"},          // a CR not followed by LF ends the pass
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.input);
        S->Prof.data.JumpScroll = c.jump;
        S->Prof.data.WinHeight = c.height;
        EXPECT_EQ(OnePass(c.input), c.first);
        Rest();
    }
}

TEST_F(PassTest, ProfileAndEmulationFlagsShapeTheText)
{
    struct {
        int inCr, ctrl, strip;
        unsigned long flags;
        char const* input;
        char const* out;
    } const cases[] = {
        {0, 1, 0, 0, "a\x1b[b\x01", "a^[[b^A"},
        {1, 0, 0, 0, "a\rb\nc\r\nd", "a<d><a>b<d><a>c<d><a>d"},
        // The emulation's own data stream: line ends are plain characters.
        {1, 0, 0, 128, "a\rb\nc", "a<d>b<a>c"},
        {0, 0, 1, 0, "\xe1\xe2", "ab"},
    };
    S->Prof.data.JumpScroll = 3;
    S->Prof.data.WinHeight = 48;
    for (auto const& c : cases) {
        SCOPED_TRACE(c.input);
        S->Prof.data.InCR = static_cast<signed char>(c.inCr);
        S->Prof.data.CtrlChars = static_cast<signed char>(c.ctrl);
        S->Prof.data.StripHiBit = static_cast<signed char>(c.strip);
        Custom(("FLAGS " + std::to_string(c.flags)).c_str());
        EXPECT_EQ(OnePass(c.input) + Rest(), c.out);
    }
}

TEST_F(PassTest, MarkersEndThePassAndReachOnlyEmulationsThatWantThem)
{
    S->Prof.data.JumpScroll = 3;
    S->CommLayer.FeedData("ab", 2);
    S->CommLayer.FeedMarker(0xFFF8);
    EXPECT_EQ(OnePass("cd"), "ab");
    EXPECT_EQ(Rest(), "cd");
    Custom("FLAGS 2");
    S->CommLayer.FeedData("ab", 2);
    S->CommLayer.FeedMarker(0xFFF8);
    EXPECT_EQ(OnePass("cd"), "ab\xef\xbf\xb8");
    EXPECT_EQ(Rest(), "cd");
}

TEST_F(PassTest, APassStopsAtTheBufferCapAndHooksCannotOverflowIt)
{
    S->Prof.data.JumpScroll = 3;
    std::string big(6000, 'x');
    EXPECT_EQ(OnePass(big).size(), 4094u);
    EXPECT_EQ(Rest().size(), 6000u - 4094u);
    // Hook 11 claims more than the buffer holds: only the buffer goes out.
    S->Hook11 = [](wchar_t* buf, int* count) {
        buf[0] = L'H';
        *count = 1 << 20;
    };
    uint64_t before = S->RoadStats().Characters;
    EXPECT_EQ(OnePass("abc").substr(0, 3), "Hbc");
    EXPECT_EQ(S->RoadStats().Characters - before, 4096u);
    S->Hook11 = [](wchar_t*, int* count) { *count = -5; };
    EXPECT_EQ(OnePass("abc"), "");
}

TEST_F(PassTest, PlainTextTakesAShortCutThatHandsOutTheSame)
{
    // While nothing looks at single characters, runs of plain printable
    // characters go through a pass without the per-character way; with
    // the triggers on every character takes that way. Both must hand the
    // emulation the same text in the same passes, whatever the receive
    // table, the line budget and the profile's options do.
    std::mt19937 rng(1618);
    std::vector<std::string> const pieces = {"abc", "Hello, world", "x", " ", "~", "\r", "\n", "\r\n", "\x1b",
                                             "\x1b[", "\t", "\x01", "\x7f", "\xe9", "\xc3\xa9", "AB", "BA",
                                             std::string(40, 'z'), "0123456789abcdef0123456789",
                                             "\xe4\xb8\xad", "\xf0\x9f\x98\x80", "\xc2\x9b", "\xe2\x82",
                                             "\xa0", "\x1b\x1b", "\x1b[31m"};
    for (int round = 0; round < 16; ++round) {
        SCOPED_TRACE(round);
        S->Translation.Reset();
        S->Translation.Valid = 1;
        for (int k = 0; k < 6; ++k) {
            // Some printable characters become others, controls or line ends.
            uint8_t const to = rng() % 3 == 0 ? static_cast<uint8_t>("\r\n\x01"[rng() % 3])
                                              : static_cast<uint8_t>(32 + rng() % 95);
            S->Translation.Inward[32 + rng() % 95] = to;
        }
        S->Prof.data.DoTrans = rng() % 4 != 0;
        S->Prof.data.JumpScroll = static_cast<signed char>(rng() % 5);
        S->Prof.data.WinHeight = static_cast<int>(6 + rng() % 40);
        S->Prof.data.CtrlChars = static_cast<signed char>(rng() % 2);
        S->Prof.data.InCR = static_cast<signed char>(rng() % 2);
        S->Prof.data.CodePage = rng() % 2 ? 1000 : 1252;
        S->Prof.data.StripHiBit = static_cast<signed char>(rng() % 5 == 0);
        // An emulation that checks whole runs, or one character at a time.
        Custom(rng() % 2 ? "FLAGS 1024" : "FLAGS 0");
        std::string stream;
        while (stream.size() < 6000)
            stream += pieces[rng() % pieces.size()];
        stream += "zz"; // ends any open sequence
        std::string out[2];
        for (int way = 0; way < 2; ++way) {
            S->Triggers = way == 1;
            Custom("LOG");
            Custom("RECEIVED");
            S->CommLayer.FeedData(stream.data(), static_cast<int>(stream.size()));
            for (int i = 0; i < 20000 && S->CommLayer.QueryNumAvail() > 0; ++i)
                S->ComDataProcess();
            S->ComDataProcess();
            out[way] = Custom("LOG") + "|" + Visible(Custom("RECEIVED"));
        }
        EXPECT_EQ(out[0], out[1]);
        EXPECT_NE(out[0].find("conputs"), std::string::npos);
    }
    S->Triggers = false;
    S->Prof.data.StripHiBit = 0;
}

// The line-end translator remembers whole characters: a wide character
// whose low byte is that of CR or LF (U+4E0A, U+4E0D) does not make it
// take the line end after it for the second half of a pair.
TEST_F(PassTest, AWideCharacterIsNoLineEndToTheLineEndTranslation)
{
    S->Prof.data.CodePage = 1000;
    S->Prof.data.InCR = 1;
    S->Prof.data.JumpScroll = 3;
    S->Prof.data.WinHeight = 48;
    for (char const* flags : {"FLAGS 0", "FLAGS 1024"}) {
        SCOPED_TRACE(flags);
        Custom(flags);
        EXPECT_EQ(OnePass("\xe4\xb8\x8a\nx") + Rest(), "\xe4\xb8\x8a<d><a>x");
        EXPECT_EQ(OnePass("\xe4\xb8\x8d\rx") + Rest(), "\xe4\xb8\x8d<d><a>x");
    }
}

TEST_F(PassTest, HeldDataWaitsAndBackgroundTabsShowTraffic)
{
    S->SetHold(true);
    S->CommLayer.FeedData("held\n", 5);
    Spin(50);
    EXPECT_EQ(Visible(Custom("RECEIVED")), "");
    S->SetHold(false);
    EXPECT_EQ(Rest(), "held<a>");
    S->SetBackgroundTab(true);
    Host.Lines.clear();
    EXPECT_EQ(OnePass("1\n2\n"), "1<a>2<a>");
    EXPECT_THAT(Host.Take("traffic"), ::testing::ElementsAre("traffic 1 2"));
}

// A turn of the main thread runs passes while nothing else waits and the
// turn is short; with no slice each pass takes a turn (a 1029) of its own.
TEST_F(RoadTest, PassesShareATurnOnlyWhileNothingElseWaits)
{
    ASSERT_TRUE(Open(5, 0));
    std::string burst;
    for (int i = 0; i < 600; ++i)
        burst += "line " + std::to_string(i) + "\r\n";
    for (int slice : {0, 2000}) {
        S->SetPassSlice(slice);
        SESSION::ROADSTATS before = S->RoadStats();
        Inject(burst);
        ASSERT_TRUE(WaitShown());
        SESSION::ROADSTATS after = S->RoadStats();
        uint64_t passes = after.Passes - before.Passes;
        uint64_t turns = after.Messages - before.Messages;
        EXPECT_GE(passes, 600u / 6) << "six lines a pass";
        if (slice == 0) {
            EXPECT_GE(turns, passes);
        } else {
            EXPECT_LT(turns * 2, passes);
        }
        EXPECT_EQ(Row(22), "line 599");
    }
}
