#include "program/shell/miscclasses.h"

#include "velmot/core/osys.h"
#include "velmot/core/registry.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The text through one translator, character by character.
std::string Through(int mode, std::string const& in)
{
    TRANSCRLF t(mode);
    std::string out;
    for (char c : in) {
        char buf[2];
        int n = t.Translate(c, buf, -1);
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

} // namespace

TEST(TransCrLf, LineEndsBecomeOneFormWithoutDoubling)
{
    struct {
        int mode;
        char const* in;
        char const* out;
    } const cases[] = {
        {0, "a\r\nb\n\rc\r", "a\r\nb\n\rc\r"},
        {4, "a\r\nb", "a\r\nb"},
        {1, "a\r\nb", "a\r\nb"},
        {1, "a\n\rb", "a\r\nb"},
        {1, "a\r\rb", "a\r\n\r\nb"},
        {1, "a\n\nb", "a\r\n\r\nb"},
        {1, "a\r\n\r\nb", "a\r\n\r\nb"},
        {2, "a\r\nb\nc\n\rd", "a\rb\rc\rd"},
        {2, "a\r\rb", "a\r\rb"},
        {3, "a\r\nb\rc\n\rd", "a\nb\nc\nd"},
        {3, "a\n\nb", "a\n\nb"},
    };
    for (auto const& c : cases)
        EXPECT_EQ(Through(c.mode, c.in), c.out) << c.mode << " " << c.in;
}

TEST(TransCrLf, PackedAndWideForms)
{
    TRANSCRLF t(TRANSCRLF::TOCRLF);
    EXPECT_EQ(t.Translate('\n', -1), (13 << 8) | 10);
    EXPECT_EQ(t.Translate('\r', -1), 0) << "the CR of an LF CR pair";
    EXPECT_EQ(t.Translate('x', -1), 'x');
    EXPECT_EQ(t.Translate('\r', TRANSCRLF::TOLF), 10) << "a mode given for one call";
    wchar_t out[2];
    EXPECT_EQ(t.Translate(L'\x263A', out, -1), 1);
    EXPECT_EQ(out[0], L'\x263A');
}

// ---------------------------------------------------------------------------
// TIMER, AUTOLEARN, REMEMBERBUFFER, RECENTFILES

namespace {

long long gClock = 0;

struct ClockScope {
    ClockScope() { TIMER::Now = [] { return gClock; }; }
    ~ClockScope() { TIMER::Now = [] { return OSYS::RelTime(); }; }
};

} // namespace

TEST(Timer, StoppedTimeIsLeftOut)
{
    ClockScope clock;
    gClock = 1000;
    TIMER t;
    t.Reset();
    t.Run(1);
    gClock += 5000;
    t.Run(0);
    gClock += 10000; // stood for ten seconds
    t.Run(1);
    gClock += 3000;
    int h = -1, m = -1, s = -1;
    EXPECT_EQ(t.Query(&h, &m, &s), 1);
    EXPECT_EQ(t.QueryTime(), 8000);
    EXPECT_EQ(s, 8);
    t.Run(0);
    gClock += 60000;
    EXPECT_EQ(t.Query(nullptr, nullptr, &s), 0);
    EXPECT_EQ(s, 8) << "a stopped timer keeps its time";
}

TEST(Timer, SetTakesOnlyWholeTimes)
{
    ClockScope clock;
    gClock = 50000;
    TIMER t;
    struct {
        char const* text;
        int ok;
    } const cases[] = {{"1:60:0", 0}, {"1:0:60", 0}, {"-1:0:0", 0}, {"1:2", 0}, {"a:b:c", 0}, {"1:2:3x", 0},
                       {nullptr, 0},  {"100:0:0", 1}};
    for (auto const& c : cases)
        EXPECT_EQ(t.Set(c.text), c.ok) << (c.text ? c.text : "null");
    int h = 0, m = -1, s = -1;
    EXPECT_EQ(t.Query(&h, &m, &s), 1);
    EXPECT_EQ(h, 100) << "hours are not wrapped at 24";
    EXPECT_EQ(m, 0);
    EXPECT_EQ(s, 0);
}

TEST(AutoLearn, RecordsOnlyWhileActive)
{
    AUTOLEARN learn;
    learn.AddData('a', L'b');
    EXPECT_EQ(learn.Data().Length(), 0);
    learn.SetActive(1);
    learn.AddData('x', L'y');
    learn.AddData('q', 0);
    learn.AddData('q', 1);
    EXPECT_EQ(std::string(learn.Data().Buf(), static_cast<size_t>(learn.Data().Length())), std::string("xy\x01"));
    learn.SetActive(1);
    EXPECT_EQ(learn.Data().Length(), 0) << "switching on starts a new record";
}

TEST(RememberBuffer, OldestChunkGoes)
{
    REMEMBERBUFFER r(4, 2);
    for (char c : std::string("abcdefg"))
        r.AddValue(c);
    EXPECT_STREQ(r.Text(), "cdefg");
    REMEMBERBUFFERWIDE w(2, 1);
    for (wchar_t c : std::wstring(L"uvwxyz"))
        w.AddValueWide(c);
    EXPECT_STREQ(w.Text(), L"yz");
    EXPECT_EQ(w.Position(), 2);
}

TEST(RecentFiles, KeptInTheRegistry)
{
    {
        RECENTFILES clear("TestRecent", "T", 8);
        clear.DeleteAllItems();
    }
    {
        REGISTRY key(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", "QOR6\\RecentTestRecent", REGISTRY::READWRITE);
        key.Write("T00", "first");
        key.Write("T02", "third");
    }
    RECENTFILES list("TestRecent", "T", 8);
    EXPECT_EQ(list.NumItems(), 2) << "a missing value is skipped";
    for (int i = 0; i < 9; ++i)
        list.Add(("file" + std::to_string(i)).c_str());
    EXPECT_EQ(list.NumItems(), 8);
    EXPECT_STREQ(list[0]->Buf(), "file8");
    EXPECT_EQ(list.FindItem("first"), -1) << "the oldest went";
    list.Add("file3");
    EXPECT_STREQ(list[0]->Buf(), "file3") << "an existing name moves to the top";
    EXPECT_EQ(list.NumItems(), 8);
    EXPECT_EQ(list.Save(), 8);
    RECENTFILES again("TestRecent", "T", 8);
    EXPECT_STREQ(again[0]->Buf(), "file3");
    EXPECT_STREQ(again.Keyname(7).Buf(), "T07");

    RECENTFILES shown("", "X", 8);
    shown.Add("/home/user/scripts/very/long/path/to/a/script.qrx");
    shown.SetMenuClip("/home/user", 20, 1);
    EXPECT_STREQ(shown.MenuText(0).Buf(), "scripts/very/long/pa...");
    shown.SetMenuClip("/HOME/USER/", 20, 0);
    EXPECT_STREQ(shown.MenuText(0).Buf(), "...path/to/a/script.qrx") << "cut at the start, the clip without regard to case";
}
