// The key road: conversion of keys to the host's bytes, sending at once or
// paced by timer 104, the keyboard lock, the local echo, the command texts
// with their bounds, and typed keys kept out of the diagnostic log.
#include "tests/program/session/sessionfixture.h"

#include "velmot/core/logit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace sessiontest;
using ::testing::ElementsAre;

namespace {

[[maybe_unused]] bool const kPlatform = (UsePlatform(), true);

std::string Hex(std::string const& bytes)
{
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        snprintf(buf, sizeof buf, "%02X", c);
        out += buf;
    }
    return out;
}

} // namespace

class KeyTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        ASSERT_TRUE(Open(5, 0));
    }
    // Fires the paced send's timer the session asked for; its delay.
    int FireSendTimer()
    {
        if (S->Timers.empty())
            return -1;
        int ms = S->Timers.back().second;
        S->Timers.clear();
        S->OnTimer(SESSION::TIMER_SENDKEYS);
        return ms;
    }
    // What the device got since the last call.
    std::string NewlySent()
    {
        std::string all = Sent();
        std::string fresh = all.substr(std::min(all.size(), Seen));
        Seen = all.size();
        return fresh;
    }
    size_t Seen = 0;
};

TEST_F(KeyTest, KeysBecomeTheHostsBytes)
{
    struct {
        int codePage;
        unsigned long flags;
        bool raw;
        wchar_t key;
        char const* hex;
    } const cases[] = {
        {1252, 0, false, L'a', "61"},
        {1252, 0, false, L'\x00E9', "E9"},
        {1252, 0, false, L'\x20AC', "80"},
        {1000, 0, false, L'\x00E9', "C3A9"},
        {1000, 0, false, L'\x4E2D', "E4B8AD"},
        {1252, 4, false, L'\x00E9', "C3A9"}, // the emulation sends UTF-8 keys
        {1000, 0, true, L'\x01E9', "E9"},    // raw: the low byte
    };
    S->Prof.data.ActiveEmulation = 1;
    S->TrackChanges(false);
    for (auto const& c : cases) {
        S->Prof.data.CodePage = c.codePage;
        Custom(("FLAGS " + std::to_string(c.flags)).c_str());
        std::string out;
        S->ConvertKeyToCommOutput(c.key, out, c.raw);
        EXPECT_EQ(Hex(out), c.hex) << c.codePage << " " << static_cast<int>(c.key);
    }
}

TEST_F(KeyTest, ShortTextsGoAtOnceLongerOnesLineByLine)
{
    S->Prof.data.AsciiDelay = 0;
    S->SendKeyData("1234567", 7);
    EXPECT_EQ(NewlySent(), "1234567");
    EXPECT_TRUE(S->Timers.empty());
    // Eight bytes of two lines: one block per line, 5 ms apart.
    S->SendKeyData("abc\rdefg", 8);
    EXPECT_EQ(NewlySent(), "abc\r");
    EXPECT_EQ(FireSendTimer(), 5);
    EXPECT_EQ(NewlySent(), "defg");
    EXPECT_TRUE(S->Timers.empty());
}

TEST_F(KeyTest, PacedTextsFollowTheCharacterAndLineDelays)
{
    S->Prof.data.AsciiDelay = 10;
    S->Prof.data.AsciiDelay2 = 70;
    S->SendKeyData("abcdefgh\rxy", 11);
    std::vector<std::pair<std::string, int>> pieces;
    std::string piece = NewlySent();
    for (int guard = 0; guard < 20 && !piece.empty(); ++guard) {
        int ms = FireSendTimer();
        pieces.emplace_back(piece, ms);
        piece = NewlySent();
    }
    // Pieces of 50 / 10 = 5 bytes, 5 x 10 ms apart; after the CR the line
    // delay.
    EXPECT_THAT(pieces, ElementsAre(std::make_pair("abcde", 50), std::make_pair("fgh\r", 70),
                                    std::make_pair("xy", -1)));

    // 60 ms: one byte a piece. Keys typed meanwhile join behind.
    S->Prof.data.AsciiDelay = 60;
    S->SendKeyData("pqrstuvwx", 9);
    EXPECT_EQ(NewlySent(), "p");
    S->ProcessKeys(L"!", 1, false);
    EXPECT_EQ(NewlySent(), "") << "the typed key waits behind the text";
    EXPECT_EQ(FireSendTimer(), 60);
    EXPECT_EQ(NewlySent(), "q");
    // Escape drops the unsent rest.
    EXPECT_EQ(S->OnEscape(), 1);
    EXPECT_EQ(S->KeyQueueLength(), 0u);
    FireSendTimer();
    EXPECT_EQ(NewlySent(), "");
    EXPECT_EQ(S->OnEscape(), 0);
}

TEST_F(KeyTest, ALockedKeyboardBeepsAndSendsNothing)
{
    S->SetKeyboardLocked(true);
    S->ProcessKeys(L"abc", 3, false);
    EXPECT_EQ(NewlySent(), "");
    EXPECT_THAT(S->Beeps, ElementsAre("beep 4000 50 1 0"));
    S->SetKeyboardLocked(false);
    S->ProcessKeys(L"abc", 3, false);
    EXPECT_EQ(NewlySent(), "abc");
}

TEST_F(KeyTest, LocalEchoWithDestructiveBackspaceAndLineFeed)
{
    S->Prof.data.Echo = 1;
    S->ProcessKeys(L"ab\bc", 4, false);
    EXPECT_EQ(Row(0), "ac") << "the backspace only moves";
    S->ProcessKeys(L"\r", 1, false);
    strcpy(S->Prof.data.EmulationOpts[0], "[0]{dest-bs}");
    S->ProcessKeys(L"xy\b", 3, false);
    EXPECT_EQ(Row(1), "x") << "CR echoed with a line feed; the backspace erased";
    S->Prof.data.EchoCrOnly = 1;
    S->ProcessKeys(L"\rz", 2, false);
    EXPECT_EQ(Row(1), "z");
    EXPECT_EQ(NewlySent(), "ab\bc\rxy\b\rz");
}

TEST_F(KeyTest, CommandTextsAndTheirBounds)
{
    Host.MenuIds = {{"Copy", 8352}, {"Quit", 8899}, {"Find", 8487}};
    std::vector<std::string> runs;
    S->SetEventRoute(8125, 8125, [&](SESSION&, int, int, char const* text) {
        runs.emplace_back(text ? text : "");
        return 1;
    });
    struct {
        std::wstring text;
        int answer;
        std::vector<std::string> lines;
    } const cases[] = {
        {L"^MENU=Unknown", 0, {}},
        {L"^MENU=", 0, {}},
        {L"^menu=Copy", 1, {"event 8352"}},
        {L"^MENU=Find:needle", 1, {"event 8487 needle"}},
        {L"^MENU=Quit", 1, {"postevent 8899"}},
        {L"^EVENT=8000|5|a text", 1, {"event 8000 5 a text"}},
        {L"^EVENT=8001", 1, {"event 8001"}},
        {L"^EVENT=1|2|3|4|5|6|7|8|9|10|11|12|13|14|15|16|17|18|19|20", 1, {"event 1 2 3"}},
        {L"^SHELL=ls -l", 1, {"event 8215 -c \"ls -l\""}},
        {L"^SHELL=echo \"x\"; rm -rf ~", 0, {}},
        {L"^SHELL=" + std::wstring(1100, L'a'), 0, {}},
        {L"^EXEC=/bin/echo \"a b\" c", 1, {"start /bin/echo|a b|c"}},
        {L"^EXEC=Viewer.app", 1, {"open Viewer.app"}},
        {L"^CALL=", 0, {}},
        {L"^KEY=", 0, {}},
        {L"^RUN=", 0, {}},
        {L"", 0, {}},
    };
    for (auto const& c : cases) {
        EXPECT_EQ(S->DoStringWide(c.text.c_str()), c.answer) << c.text.size();
        EXPECT_EQ(Host.Take(), c.lines) << c.text.size();
    }
    // "^RUN=" keeps at most 2047 characters of the script's name.
    S->DoStringWide((L"^RUN=" + std::wstring(3000, L'r')).c_str());
    S->DoStringWide(L"^RUN=login.qrx");
    ASSERT_TRUE(Pump([&] { return runs.size() == 2; }));
    EXPECT_EQ(runs[0].size(), 2047u);
    EXPECT_EQ(runs[1], "login.qrx");

    // Keys for the emulation and plain text through it into the key road.
    EXPECT_EQ(S->DoStringWide(L"^KEY=Enter"), 1);
    EXPECT_EQ(S->DoStringWide(L"plain"), 0);
    wcscpy(S->Prof.data.FKey[1], L"fkey two");
    EXPECT_EQ(S->DoStringWide(L"^FKEY=2"), 0);
    EXPECT_EQ(NewlySent(), "\rplainfkey two");
}

// What users type includes their passwords: at the default levels no typed
// key reaches the diagnostic log. (The log is switched while no session
// thread runs: the switch itself is not made for running threads.)
class KeyLogTest : public SessionTest {};

TEST_F(KeyLogTest, TypedKeysStayOutOfTheLog)
{
    std::string const log = Work.file("diagnostic.log");
    ASSERT_EQ(LOGITARG(("/LOGIT:" + log).c_str()), 1);
    LOGITARG("/LOG:15");
    ASSERT_TRUE(Open(5, 0));
    S->FeedKeys(L"s3cr3tPw", -1, 0);
    S->ProcessKeys(L"\x00E9", 1, false);
    S->SendKeyData("an0therSecret\r", 14);
    EXPECT_EQ(Sent(), "s3cr3tPw\xE9" "an0therSecret\r");
    Close();
    LOGITARG("/LOGITCLOSE");
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_THAT(text.str(), ::testing::HasSubstr("SendKeyData")) << "the log was written";
    EXPECT_THAT(text.str(), ::testing::Not(::testing::HasSubstr("s3cr3tPw")));
    EXPECT_THAT(text.str(), ::testing::Not(::testing::HasSubstr("an0ther")));
    EXPECT_THAT(text.str(), ::testing::Not(::testing::HasSubstr("ConvertKeyToCommOutput")));
}
