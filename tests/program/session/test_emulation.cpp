// The emulation layer over a test emulation bundle and a real screen:
// switching emulations, the sequence check's state word, output, typing
// strings, sizes, colours, the printer controller and the plug-in slots.
#include "program/session/emulation.h"
#include "tests/plugins/sdk/slotof.h"
#include "tests/program/session/sessiontest.h"

#include "velmot/gui/winkeys.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <cstring>
#include <string>
#include <vector>

using namespace sessiontest;
using ::testing::ElementsAre;

namespace {

class EmulationTest : public ::testing::Test {
protected:
    void SetUp() override { ForgetDictionary(); }
    void TearDown() override { ForgetDictionary(); }
    // The test bundle answers ids 1, 11 and 17 from the file of id 1.
    STAGE Stage{{{TestEmuBundle(), "pindrel.so"}}};
    EMUSESSION S;
    EMULATION& Emu() { return *S.Layer; }
};

using slottest::SlotOf;

} // namespace

// The host's layer keeps the interface's slots: a plug-in that calls
// through EMULATIONAPI by position reaches the layer's own operations.
TEST(EmulationSlots, HostLayerKeepsTheInterfaceSlots)
{
    struct ROW {
        char const* name;
        long host, api;
    } const rows[] = {
        {"InfoOut", SlotOf(&EMULATION::InfoOut), SlotOf(&EMULATIONAPI::InfoOut)},
        {"SwitchSize", SlotOf(&EMULATION::SwitchSize), SlotOf(&EMULATIONAPI::SwitchSize)},
        {"HandleCustomEvent", SlotOf(&EMULATION::HandleCustomEvent), SlotOf(&EMULATIONAPI::HandleCustomEvent)},
        {"PrinterControl", SlotOf(&EMULATION::PrinterControl), SlotOf(&EMULATIONAPI::PrinterControl)},
        {"QueryUnixName", SlotOf(&EMULATION::QueryUnixName), SlotOf(&EMULATIONAPI::QueryUnixName)},
        {"NoTranslateDatastream", SlotOf(&EMULATION::NoTranslateDatastream),
         SlotOf(&EMULATIONAPI::NoTranslateDatastream)},
        {"SequenceRun", SlotOf(&EMULATION::SequenceRun), SlotOf(&EMULATIONAPI::SequenceRun)},
    };
    for (ROW const& r : rows)
        EXPECT_EQ(r.host, r.api) << r.name;
    EXPECT_EQ(SlotOf(&EMULATION::Initialize), 19);
    EXPECT_EQ(SlotOf(&EMULATION::NoTranslateDatastream), 55);
    EXPECT_EQ(SlotOf(&EMULATION::SequenceRun), 56);
}

TEST_F(EmulationTest, SwitchingOpensClosesAndRemembersOnlyWhatHappened)
{
    strcpy(S.Prof.EmulationOpts[1], "[1]opts-one");
    ASSERT_EQ(Emu().SetEmulation(1, 0), 1);
    EXPECT_EQ(Emu().CurrentId(), 1);
    EXPECT_THAT(S.Custom("LOG"), ::testing::HasSubstr("Open [1]opts-one"));
    auto log = S.Take();
    EXPECT_THAT(log, ::testing::Contains("mainmsg 1034 1 0"));
    EXPECT_THAT(log, ::testing::Contains("ledmode 0"));

    // The same id again does nothing; forced, the emulation is reopened.
    Emu().SetEmulation(1, 0);
    EXPECT_EQ(S.Custom("LOG"), "");
    Emu().SetEmulation(1, 1);
    EXPECT_EQ(S.Custom("LOG"), "Close\nOpen [1]opts-one\n");

    // An id no bundle has: the current emulation stays, the error shows,
    // and the failed id is not taken for the requested one.
    S.Errors.clear();
    EXPECT_EQ(Emu().SetEmulation(9, 0), 0);
    EXPECT_EQ(Emu().CurrentId(), 1);
    EXPECT_EQ(Emu().RequestedId(), 1);
    EXPECT_THAT(S.Errors, ElementsAre("PANIC! Emulation not found!"));

    // -1 closes the current one and leaves none.
    S.Errors.clear();
    EXPECT_EQ(Emu().SetEmulation(-1, 1), 0);
    EXPECT_EQ(Emu().Current(), nullptr);
    EXPECT_EQ(Emu().UpAndRunning(), 0);
    EXPECT_THAT(S.Errors, ElementsAre("PANIC! Emulation not found!"));
}

TEST_F(EmulationTest, LeavingAnEmulationBlanksTheRowsItUsed)
{
    Emu().SetEmulation(1, 0);
    S.Screen.conputws(L"top\r\n", -1);
    for (int y = 1; y < 24; ++y) {
        S.Screen.SetCursorPos(0, y);
        S.Screen.conputws(L"row", -1);
    }
    S.Custom("FLAGS 768"); // the last and the second-last row
    Emu().SetEmulation(11, 0);
    EXPECT_EQ(S.Row(0), "top");
    EXPECT_EQ(S.Row(21), "row");
    EXPECT_EQ(S.Row(22), "");
    EXPECT_EQ(S.Row(23), "");
}

TEST_F(EmulationTest, BlockModeEmulationsGetNoColoursAndNoClearScreen)
{
    struct {
        int id;
        bool coloured;
        bool cleared;
    } const cases[] = {{1, true, true}, {11, false, false}, {17, false, false}};
    for (auto const& c : cases) {
        SCOPED_TRACE(c.id);
        EMUSESSION s;
        s.Prof.ColorFore = 3;
        s.Prof.ColorBack = 4;
        s.Layer->SetEmulation(c.id, 0);
        s.Take();
        EXPECT_EQ(s.Layer->TrackColors(4, 3, 0), c.coloured ? 0 : 1) << "remembered colours";
        s.Screen.conputws(L"text", -1);
        s.Layer->ClearScreen();
        EXPECT_EQ(s.Row(0), c.cleared ? "" : "text");
    }
}

TEST_F(EmulationTest, SequenceStateKeepsTheCallersTopBits)
{
    // Without an emulation only the caller's top bits count.
    int state = 0x01000000;
    EXPECT_TRUE(Emu().IsSequence(&state, 'a', 0));
    state = 0;
    EXPECT_FALSE(Emu().IsSequence(&state, 27, 0));

    Emu().SetEmulation(1, 0);
    state = 0x05000000;
    EXPECT_TRUE(Emu().IsSequence(&state, 27, 0));
    EXPECT_EQ(state, 0x05000001) << "the plug-in's bits written back, the caller's kept";
    EXPECT_TRUE(Emu().IsSequence(&state, '[', 0));
    EXPECT_EQ(state, 0x05000000);
    state = 0;
    EXPECT_TRUE(Emu().IsSequence(&state, 27, 0));
    EXPECT_TRUE(Emu().IsSequence(&state, 'x', 0));
    EXPECT_FALSE(Emu().IsSequence(&state, 'y', 0));
}

// The check over a run answers in runs of one answer each, as the check of
// one character at a time would: through the plug-in's own run check when
// it offers one, character by character when it does not.
TEST_F(EmulationTest, SequenceRunAnswersAsTheCharacterCheck)
{
    Emu().SetEmulation(1, 0);
    struct CASE {
        char const* flags;
        int state;
        std::vector<int> runs; // of "ab\x1b[cd\x1bx": positive text, negative sequence
        int after;
    } const cases[] = {
        {"FLAGS 0", 0, {2, -2, 2, -1}, 0x00000001},
        {"FLAGS 1024", 0, {2, -2, 2, -1}, 0x00000001},
        // The caller's top bits make everything a sequence.
        {"FLAGS 0", 0x03000000, {-7}, 0x03000001},
        {"FLAGS 1024", 0x03000000, {-7}, 0x03000001},
    };
    char const text[] = "ab\x1b[cd\x1b";
    for (CASE const& c : cases) {
        SCOPED_TRACE(std::string(c.flags) + " state " + std::to_string(c.state));
        S.Custom(c.flags);
        int state = c.state;
        std::vector<int> runs;
        for (int at = 0; at < 7;) {
            int const n = Emu().SequenceRun(&state, text + at, 7 - at);
            ASSERT_NE(n, 0);
            runs.push_back(n);
            at += n < 0 ? -n : n;
        }
        EXPECT_EQ(runs, c.runs);
        EXPECT_EQ(state, c.after);
    }
    int state = 0;
    EXPECT_EQ(Emu().SequenceRun(&state, "x", 0), 0);
}

TEST_F(EmulationTest, OutputIsSuppressedUnlessForced)
{
    Emu().SetEmulation(1, 0);
    S.Custom("LOG");
    Emu().conputs("abc", 3);
    EXPECT_EQ(Emu().SuppressOutput(1), 1);
    Emu().conputws(L"hidden", -1);
    Emu().InfoOut("info");
    Emu().StringOut(L"forced", -1, 1);
    EXPECT_EQ(Emu().SuppressOutput(-1), 1);
    Emu().SuppressOutput(0);
    Emu().StringOut(L"", 0, 0);
    EXPECT_EQ(S.Custom("LOG"), "conputs abc\nconputs forced\n");
}

TEST_F(EmulationTest, TextsAreDecodedByTheSessionsCodePage)
{
    Emu().SetEmulation(1, 0);
    S.Custom("LOG");
    S.Prof.CodePage = 1000;
    Emu().conputs("caf\xC3\xA9", -1);
    Emu().InfoOut("\xC3\xA9t\xC3\xA9");
    S.Prof.CodePage = 1252;
    Emu().conputs("caf\xE9", -1);
    EXPECT_EQ(S.Custom("LOG"), "conputs caf?\nInfoOut ?t?\nconputs caf?\n");
    // With the dump mode the information text goes to the hex dump.
    S.Prof.DumpMode = 1;
    Emu().InfoOut("dumped");
    EXPECT_EQ(S.Custom("LOG"), "");
    EXPECT_THAT(S.Take(), ::testing::Contains("hexdump dumped"));
}

TEST_F(EmulationTest, TypedStringsGoToThePlugInOrTheKeyRoadWithBreaks)
{
    Emu().SetEmulation(1, 0);
    S.Custom("LOG");
    S.Take();
    // A text with the break marker goes part-wise, a break between parts;
    // the plug-in does not take the keys, so they go to the key road.
    Emu().FeedKeyString(L"a^!b", -1, 1);
    EXPECT_EQ(S.Custom("LOG"), "FeedKeyString a\nFeedKeyString b\n");
    EXPECT_THAT(S.Take(), ElementsAre("feedkeys a", "event 8499", "feedkeys b"));
    // Without expansion the marker notation is plain text.
    Emu().FeedKeyString(L"a^!b", -1, 0);
    EXPECT_THAT(S.Take(), ElementsAre("feedkeys a^!b"));
    // A plug-in that takes the text: nothing reaches the key road.
    S.Custom("TAKEKEYS 1");
    Emu().FeedKeyString(L"xy", 2, 1);
    EXPECT_TRUE(S.Take().empty());

    // The buffer the caret expansion may fill grows with the text.
    struct {
        int len, capacity;
    } const sizes[] = {{10, 1023}, {1022, 1023}, {1023, 1024}, {1300, 1536}};
    for (auto const& c : sizes) {
        std::wstring text(static_cast<size_t>(c.len), L'k');
        Emu().FeedKeyString(text.c_str(), c.len, 1);
        EXPECT_EQ(S.LastMakeCtrlSize, c.capacity) << c.len;
    }
}

TEST_F(EmulationTest, KeyReleasesReachOnlyEmulationsThatAskForThem)
{
    Emu().SetEmulation(1, 0);
    S.Custom("LOG");
    KEYBOARDEVENT down{};
    down.Keycode = 65;
    KEYBOARDEVENT up = down;
    up.Flags = 0x100;
    EXPECT_EQ(Emu().ProcessKey(down), 1);
    EXPECT_EQ(Emu().ProcessKey(up), 0);
    S.Custom("FLAGS 64");
    EXPECT_EQ(Emu().ProcessKey(up), 1);
    EXPECT_EQ(S.Custom("LOG"), "ProcessKey 65\nProcessKey 65 up\n");
}

TEST_F(EmulationTest, SizeTrackingLetsTheEmulationAdjustAndResize)
{
    Emu().SetEmulation(1, 0);
    int cols = 100, rows = 30;
    EXPECT_EQ(Emu().TrackSize(&cols, &rows, 0), 1);
    int w = 0, h = 0;
    S.Screen.GetWinSize(&w, &h);
    EXPECT_EQ(w, 100) << "the emulation did not resize: the screen does";
    EXPECT_EQ(Emu().TrackSize(&cols, &rows, 0), 0) << "unchanged";

    S.Custom("ADJUST 90 20");
    S.Custom("SETWINSIZE 1");
    cols = 120;
    Emu().TrackSize(&cols, &rows, 0);
    EXPECT_EQ(cols, 90);
    EXPECT_EQ(rows, 20);
    S.Screen.GetWinSize(&w, &h);
    EXPECT_EQ(w, 100) << "the emulation resized the screen itself";
    EXPECT_THAT(S.Custom("LOG"), ::testing::HasSubstr("SetWinSize 90x20"));

    int qc = 0, qr = 0;
    Emu().QueryWinSize(&qc, &qr);
    EXPECT_EQ(qc, 100);
    Emu().QueryWinSize(nullptr, &qr); // a null out-pointer is skipped
}

TEST_F(EmulationTest, SwitchSizeAndBackRestoresTheMainWindow)
{
    Emu().SetEmulation(1, 0);
    S.Prof.Dynamic = 1;
    S.Take();
    RECT const before = S.Frame;
    Emu().SwitchSize(132, -1);
    EXPECT_EQ(S.Prof.WinWidth, 132);
    EXPECT_EQ(S.Prof.Dynamic, 1) << "restored after the tracking";
    int w = 0, h = 0;
    S.Screen.GetWinSize(&w, &h);
    EXPECT_EQ(w, 132);
    S.Frame = RECT{0, 0, 1200, 600}; // the main window grew meanwhile
    Emu().SwitchSize(80, -1);
    EXPECT_EQ(S.Prof.WinWidth, 80);
    S.Screen.GetWinSize(&w, &h);
    EXPECT_EQ(w, 80);
    EXPECT_EQ(S.Frame, before);

    // While a switch runs, the requested size is imposed on adjustments.
    int c = 10, r = 10;
    EXPECT_EQ(Emu().AdjustScreenSize(&c, &r), 0);
    EXPECT_EQ(c, 10);
}

TEST_F(EmulationTest, ColoursApplyOnlyWhenTheyChange)
{
    S.Take();
    EXPECT_EQ(Emu().TrackColors(0, 7, 0), 1);
    EXPECT_EQ(Emu().TrackColors(0, 7, 0), 0);
    EXPECT_EQ(Emu().TrackColors(2, 7, 0), 1);
    EXPECT_EQ(Emu().TrackColors(2, 7, 1), 1) << "forced";
}

TEST_F(EmulationTest, UnixNameComesFromTheProfileThePlugInOrIsDumb)
{
    char name[64];
    EXPECT_EQ(Emu().QueryUnixName(0, name), 0);
    EXPECT_STREQ(name, "dumb");
    Emu().SetEmulation(1, 0);
    EXPECT_EQ(Emu().QueryUnixName(0, name), 1);
    EXPECT_STREQ(name, "test1-0");
    S.Prof.DoUnixName = 1;
    strcpy(S.Prof.UnixName, "xterm-mine");
    Emu().QueryUnixName(0, name);
    EXPECT_STREQ(name, "xterm-mine");
    Emu().QueryUnixName(2, name);
    EXPECT_STREQ(name, "test1-2") << "only the first name is the profile's";
}

TEST_F(EmulationTest, CustomTitleIsOneLineOfAtMost255Characters)
{
    std::wstring longTitle(300, L't');
    Emu().SetCustomTitleWide(longTitle.c_str());
    EXPECT_EQ(wcslen(Emu().QueryCustomTitleWide()), 255u);
    Emu().SetCustomTitleWide(L"host");
    EXPECT_STREQ(Emu().QueryCustomTitleWide(), L"host");
    Emu().SetCustomTitleWide(L"a\nb\x1b[2J\x9b");
    EXPECT_STREQ(Emu().QueryCustomTitleWide(), L"a b [2J ");
    // The session hears of each change once, and of no non-change.
    EXPECT_EQ(S.TitleChanges, 3);
    Emu().SetCustomTitleWide(L"a b [2J ");
    EXPECT_EQ(S.TitleChanges, 3);
}

TEST_F(EmulationTest, CustomEventsWithoutAResultBufferGetOne)
{
    Emu().SetEmulation(1, 0);
    EXPECT_EQ(Emu().HandleCustomEvent("hello", nullptr, 0, nullptr), 1);
    EXPECT_THAT(S.Custom("LOG"), ::testing::HasSubstr("Custom hello"));
}

namespace {

uint32_t gNow = 1000;
uint32_t FakeNow()
{
    return gNow;
}

} // namespace

TEST_F(EmulationTest, PrinterJobsMergeWithinTheMergingTime)
{
    Emu().Clock = FakeNow;
    S.Settings.PrintJobMerging = 5;
    gNow = 1000;
    void* job = Emu().PrinterControl(EMULATION::PRINTER_ON, 0);
    EXPECT_NE(job, nullptr);
    Emu().PrinterControl(EMULATION::PRINTER_OFF, 0);
    EXPECT_EQ(Emu().PrinterControl(EMULATION::PRINTER_QUERY, 0), nullptr);
    EXPECT_EQ(Emu().ScheduledPrintJob(), job);
    // Switched on again within the time: the same job goes on.
    gNow = 1003;
    Emu().PrinterControl(EMULATION::PRINTER_TICK, 0);
    EXPECT_EQ(Emu().PrinterControl(EMULATION::PRINTER_ON, 0), job);
    Emu().PrinterControl(EMULATION::PRINTER_OFF, 0);
    gNow = 1008; // five seconds after the second switch-off
    Emu().PrinterControl(EMULATION::PRINTER_TICK, 0);
    EXPECT_EQ(Emu().PrinterControl(EMULATION::PRINTER_TICK, 0), nullptr);
    Emu().PrinterControl(EMULATION::PRINTER_TICK, 0);
    EXPECT_THAT(S.Take(), ElementsAre("printeropen 1 raw=1", "printerclose 1"));

    // Off with a non-zero argument closes at once.
    Emu().PrinterControl(EMULATION::PRINTER_ON, 0);
    Emu().PrinterControl(EMULATION::PRINTER_OFF, 1);
    EXPECT_THAT(S.Take(), ElementsAre("printeropen 2 raw=1", "printerclose 2"));
}

// The printer "LPTFILE|file|script" hands each closed job to its script once;
// ticks without a new job run nothing.
TEST_F(EmulationTest, PrintScriptRunsOncePerJob)
{
    Emu().Clock = FakeNow;
    gNow = 2000;
    strcpy(S.Settings.Printer, "LPTFILE|out.txt|print.qrx");
    S.Settings.PrintJobMerging = 0;
    for (int tick = 0; tick < 5; ++tick)
        Emu().PrinterControl(EMULATION::PRINTER_TICK, 0);
    EXPECT_TRUE(S.Take().empty());

    Emu().PrinterControl(EMULATION::PRINTER_ON, 0);
    Emu().PrinterControl(EMULATION::PRINTER_OFF, 0);
    S.ScriptRunning = true;
    Emu().PrinterControl(EMULATION::PRINTER_TICK, 0); // waits for the running script
    S.ScriptRunning = false;
    for (int tick = 0; tick < 5; ++tick)
        Emu().PrinterControl(EMULATION::PRINTER_TICK, 0);
    EXPECT_THAT(S.Take(), ElementsAre("printeropen 1 raw=1", "printerclose 1", "event 8125 print.qrx out.txt"));

    // "*" as the script runs nothing.
    strcpy(S.Settings.Printer, "LPTFILE|out.txt|*");
    Emu().PrinterControl(EMULATION::PRINTER_ON, 0);
    Emu().PrinterControl(EMULATION::PRINTER_OFF, 0);
    Emu().PrinterControl(EMULATION::PRINTER_TICK, 0);
    EXPECT_THAT(S.Take(), ElementsAre("printeropen 2 raw=1", "printerclose 2"));
}

TEST_F(EmulationTest, MouseAndSymbolicKeysAreForwarded)
{
    EXPECT_EQ(Emu().FeedSymbolicKey("Enter"), -1) << "no emulation";
    EXPECT_EQ(Emu().HandleMouseEvent(1, 2, 0, 0), 0);
    Emu().SetEmulation(1, 0);
    S.Custom("LOG");
    S.Custom("TAKEMOUSE 1");
    EXPECT_EQ(Emu().FeedSymbolicKey("Left"), 1);
    EXPECT_EQ(Emu().HandleMouseEvent(3, 4, 5, 0), 1);
    EXPECT_EQ(S.Custom("LOG"), "FeedSymbolicKey Left\nMouse 3 4 5 0\n");
    int col = -1, row = -1;
    S.Screen.SetCursorPos(7, 2);
    Emu().QueryCursorPos(&col, &row);
    EXPECT_EQ(col, 7);
    EXPECT_EQ(row, 2);
}
