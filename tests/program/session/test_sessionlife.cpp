// The session's life: a fresh profile, whether it may end, and its end
// while a reader thread is blocked, a paced send waits, a question is up or
// another thread holds it; signals and status: bells, tones, the
// notification, status lights from the reader thread, the tab's title and
// saving the screen.
#include "tests/program/session/sessionfixture.h"

#include "platform/services/sound.h"
#include "program/settings/workfolder.h"
#include "velmot/core/osys.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

using namespace sessiontest;
using ::testing::ElementsAre;

namespace {

[[maybe_unused]] bool const kPlatform = (UsePlatform(), true);

// A session that says when it is gone.
class WATCHEDSESSION : public TESTSESSION {
public:
    using TESTSESSION::TESTSESSION;
    ~WATCHEDSESSION() override
    {
        if (Gone)
            *Gone = true;
    }
    void StartWindowTimer(int id, int ms) override
    {
        if (RealTimers)
            SESSION::StartWindowTimer(id, ms);
        else
            TESTSESSION::StartWindowTimer(id, ms);
    }
    std::atomic<bool>* Gone = nullptr;
    bool RealTimers = false;
};

// Records the sounds instead of playing them.
class SOUNDS : public plat::AudioSink {
public:
    bool PlayWav(plat::Bytes const& image, bool) override
    {
        auto info = plat::ParseWav(image);
        std::lock_guard<std::mutex> guard(Lock);
        Played.push_back("tone " + std::to_string(info ? static_cast<int>(info->Seconds() * 1000 + 0.5) : -1));
        return true;
    }
    bool PlayFile(std::string const& path) override
    {
        std::lock_guard<std::mutex> guard(Lock);
        Played.push_back("file " + path);
        return true;
    }
    void Alert() override
    {
        std::lock_guard<std::mutex> guard(Lock);
        Played.push_back("alert");
    }
    std::vector<std::string> Take()
    {
        std::lock_guard<std::mutex> guard(Lock);
        std::vector<std::string> out;
        out.swap(Played);
        return out;
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> guard(Lock);
        return Played.size();
    }
    std::mutex Lock;
    std::vector<std::string> Played;
};

} // namespace

class LifeTest : public SessionTest {
protected:
    // A session that reports its deletion into Gone.
    WATCHEDSESSION* OpenWatched(int device = 5)
    {
        auto* s = new WATCHEDSESSION(Host, ProgramSettings(), Parent->GetClientParent(), RECT{0, 0, 640, 384},
                                     SESSION::OPTION_HEADLESS);
        s->Gone = &Gone;
        s->Prof.data.ActiveDevice = device;
        s->Prof.data.ActiveEmulation = 0;
        s->SetBackgroundTab(false);
        s->TermInit();
        s->TermInit2(nullptr, nullptr);
        s->RemakeAll();
        return s;
    }
    std::atomic<bool> Gone{false};
};

TEST_F(LifeTest, AFreshProfileGetsTheDefaultDeviceAndEmulation)
{
    ASSERT_TRUE(Open(5, 0));
    S->Prof.data.ActiveDevice = -1;
    S->Prof.SetDefaultFilename("Standard.qor");
    S->TermInit();
    EXPECT_EQ(S->Prof.data.ActiveDevice, 11);
    EXPECT_EQ(S->Prof.data.ActiveEmulation, 18);
    EXPECT_EQ(S->Prof.data.ShowLeds, 0);
    std::ifstream saved(Work.file("Options/Standard.qor"));
    std::stringstream text;
    text << saved.rdbuf();
    EXPECT_THAT(text.str(), ::testing::HasSubstr("ActiveDevice=11"));
    // A profile that was set up is left alone.
    S->Prof.data.ActiveDevice = 5;
    S->TermInit();
    EXPECT_EQ(S->Prof.data.ActiveDevice, 5);
}

TEST_F(LifeTest, CanQuitRefusesOrAsksAsTheSettingsSay)
{
    ASSERT_TRUE(Open(5, 0));
    PROGRAMSETTINGSDATA& set = S->Settings.data;
    bool asked = true;
    S->SetTransferActive(true, 1);
    EXPECT_EQ(S->CanQuit(&asked), 0);
    EXPECT_FALSE(asked);
    EXPECT_THAT(S->Beeps, ElementsAre("beep 1100 80 1 120"));
    S->SetTransferActive(false, 1);

    Host.ChildDialog = true;
    EXPECT_EQ(S->CanQuit(&asked), 0);
    EXPECT_EQ(Host.Take("warning").size(), 1u);
    Host.ChildDialog = false;

    set.NoQuitWhenOnline = 1;
    EXPECT_EQ(S->CanQuit(&asked), 0) << "the loopback device is online";
    EXPECT_EQ(Host.Take("warning").size(), 1u);
    set.NoQuitWhenOnline = 0;
    set.SafAskHangup = 1;
    Host.Answers = {false};
    EXPECT_EQ(S->CanQuit(&asked), 0);
    EXPECT_TRUE(asked);
    Host.Answers = {true};
    EXPECT_EQ(S->CanQuit(&asked), 1);
    EXPECT_EQ(Host.Take("question").size(), 2u) << "one question each, never two";
    EXPECT_EQ(S->CanQuit(nullptr), 1);
}

// The reader thread waits inside the device's read when the session ends.
TEST_F(LifeTest, ClosingWithTheReaderBlockedInARead)
{
    WATCHEDSESSION* s = OpenWatched(5);
    ASSERT_TRUE(s->CommLayer.Device());
    int threads = Threads();
    SESSION::Retire(s);
    ASSERT_TRUE(Pump([&] { return Gone.load(); }));
    EXPECT_TRUE(WaitFor([&] { return Threads() < threads; }, 2000)) << "the reader thread ended";
}

// A paced text waits for its timer when the session ends: the timer goes
// with the session and never calls into it.
TEST_F(LifeTest, ClosingWithAPacedSendWaiting)
{
    WATCHEDSESSION* s = OpenWatched(5);
    s->RealTimers = true;
    s->Prof.data.AsciiDelay = 30;
    s->SendKeyData("a long paced text\r", 18);
    EXPECT_GT(s->KeyQueueLength(), 0u);
    SESSION::Retire(s);
    ASSERT_TRUE(Pump([&] { return Gone.load(); }));
    Spin(200); // longer than the pause: a late tick would find nothing
}

// The user is asked whether to quit, and while the question is up the tab
// is closed: the session lives until the question's caller is done.
TEST_F(LifeTest, ClosingWhileAQuestionIsUp)
{
    WATCHEDSESSION* s = OpenWatched(5);
    s->Settings.data.SafAskQuit = 1;
    Host.DuringQuestion = [&] {
        Host.DuringQuestion = nullptr;
        SESSION::Retire(s);
        Spin(50); // the loop turns while the question is up
        EXPECT_FALSE(Gone.load()) << "deleted under the running question";
    };
    EXPECT_EQ(s->CanQuit(nullptr), 0) << "a closed session does not go on as if it may quit";
    ASSERT_TRUE(Pump([&] { return Gone.load(); }));
}

TEST_F(LifeTest, AThreadThatHoldsTheSessionKeepsItAlive)
{
    WATCHEDSESSION* s = OpenWatched(5);
    std::atomic<bool> release{false};
    std::atomic<bool> holding{false};
    std::thread worker([&] {
        SESSIONHOLD hold(s);
        holding = true;
        while (!release.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        hold->PostEvent(9000, 0, "late"); // still valid: held
    });
    EXPECT_TRUE(WaitFor([&] { return holding.load(); }, 2000));
    SESSION::Retire(s);
    Spin(50);
    EXPECT_FALSE(Gone.load());
    release = true;
    worker.join();
    ASSERT_TRUE(Pump([&] { return Gone.load(); }));
}

TEST_F(LifeTest, WaitingForTheForegroundEndsWithTheSession)
{
    ASSERT_TRUE(Open(5, 0));
    Host.Current = false;
    std::atomic<int> result{-1};
    std::thread waiter([&] {
        signed char cancel = 0;
        result = S->WaitForSessionForeground(&cancel);
    });
    EXPECT_TRUE(Pump([&] { return !Host.Take("blink").empty(); }));
    Host.Current = true;
    waiter.join();
    EXPECT_EQ(result.load(), 1);

    Host.Current = false;
    signed char cancel = 0;
    std::thread cancelled([&] { result = S->WaitForSessionForeground(&cancel); });
    __atomic_store_n(&cancel, 1, __ATOMIC_RELEASE);
    cancelled.join();
    EXPECT_EQ(result.load(), 0);
}

TEST_F(LifeTest, TemporaryFilesGoWithTheSession)
{
    ASSERT_TRUE(Open(5, 0));
    std::string const file = Work.file("temp.bin");
    std::ofstream(file) << "x";
    S->TempFiles().AppendItem(STRING(file.c_str()));
    S->TempFiles().AppendItem(STRING(Work.file("missing.bin").c_str()));
    Close();
    EXPECT_FALSE(OSYS::FileExists(file.c_str()));
}

// ---------------------------------------------------------------------------
// Signals and status

TEST_F(LifeTest, BellsAreLimitedAndActByTheirMode)
{
    ASSERT_TRUE(Open(5, 0));
    PROGRAMSETTINGSDATA& set = S->Settings.data;
    set.BeepMode = 1;
    set.BeepMax = 3;
    set.BeepTime = 2;
    S->Clock = 10000;
    for (int i = 0; i < 6; ++i) {
        S->Bell();
        S->Clock += 300; // a stream of bells keeps the silence going
    }
    EXPECT_EQ(S->Beeps.size(), 3u);
    S->Clock += 2100;
    S->Bell();
    EXPECT_THAT(S->Beeps, ElementsAre("beep 441 80 1 0", "beep 441 80 1 0", "beep 441 80 1 0", "beep 441 80 1 0"));

    S->Beeps.clear();
    S->Prof.data.Beep = 0;
    S->Clock += 5000;
    S->Bell();
    EXPECT_TRUE(S->Beeps.empty());

    S->Prof.data.Beep = 1;
    set.BeepMode = 5;
    S->Clock += 5000;
    S->Bell();
    ASSERT_TRUE(Pump([&] { return !Host.Take("notify").empty(); }));
}

TEST_F(LifeTest, AlarmsAndTunesReachTheSoundOutput)
{
    ASSERT_TRUE(Open(5, 0));
    auto sounds = std::make_shared<SOUNDS>();
    plat::SetAudioSink(sounds);
    S->AlarmQ(2);
    EXPECT_THAT(S->Beeps, ElementsAre("beep 1100 80 2 120"));
    S->PlayTones = true;
    S->Alarm(0); // still one tone
    ASSERT_TRUE(Pump([&] { return sounds->Count() == 1; }));
    S->Alarm(2);
    ASSERT_TRUE(Pump([&] { return sounds->Count() == 3; }));
    EXPECT_THAT(sounds->Take(), ElementsAre("tone 200", "tone 200", "tone 200"));
    S->PlayTune("no-such-sound.wav", true);
    S->PlayTune("", true);
    S->PlayTune("##SYSTEMALERT##", true);
    EXPECT_THAT(sounds->Take(), ElementsAre("alert"));
    plat::SetAudioSink(nullptr);
}

TEST_F(LifeTest, NotificationsShowForTheirTimeAndRestartForTheSameText)
{
    ASSERT_TRUE(Open(5, 0));
    S->Clock = 1000;
    S->Notify("Hello", 0x25);
    EXPECT_EQ(S->NotifyMilliseconds(), 2500);
    S->Notify("HELLO", 3);
    EXPECT_EQ(S->NotifyMilliseconds(), 300);
    S->Notify("Other", 0);
    S->Notify(nullptr, 0);
    EXPECT_THAT(Host.Take("notify"),
                ElementsAre("notify Hello 2500", "notify HELLO 300", "notify off", "notify Other 2500", "notify off"));
    std::thread([&] { S->Notify("from a thread", 0x10); }).join();
    ASSERT_TRUE(Pump([&] { return !Host.Lines.empty(); }));
    EXPECT_THAT(Host.Take("notify"), ElementsAre("notify from a thread 1000"));
}

TEST_F(LifeTest, StatusLightsAskedOnTheReaderThreadShowOnTheMainThread)
{
    ASSERT_TRUE(Open(5, 0));
    std::thread([&] { S->SetStatusbarLed(1, true, 0); }).join();
    EXPECT_TRUE(Host.Take("led").empty());
    ASSERT_TRUE(Pump([&] { return !Host.Take("led 1 on").empty(); }, 2000));
    S->SetBackgroundTab(true);
    S->SetStatusbarLed(1, true, 0);
    EXPECT_TRUE(Host.Take("led").empty()) << "a background tab leaves the status line alone";
}

TEST_F(LifeTest, SavedScreenGoesToTheFileWithItsHeader)
{
    ASSERT_TRUE(Open(5, 0));
    strcpy(S->Settings.data.SaveScrFile, "screen.txt");
    Host.HostName = L"example host";
    Inject("first   \r\n\tsecond\t\r\n");
    ASSERT_TRUE(WaitShown());
    S->ProcessEvent(8484, 0, nullptr);
    S->SaveScreen("$NOWHERE");
    std::ifstream in(Work.file("Logs/screen.txt"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], std::string(79, '-'));
    EXPECT_THAT(lines[2], ::testing::EndsWith("example host"));
    EXPECT_EQ(lines[3], std::string(79, '-'));
    EXPECT_EQ(lines[5], "first");
    EXPECT_EQ(lines[6], "        second") << "the tab as blanks, the end cut";
    EXPECT_EQ(lines.size(), 5u + 24u + 2u);
}

TEST_F(LifeTest, TheTabShowsTheCustomTitleOrTheHost)
{
    ASSERT_TRUE(Open(5, 0));
    Host.HostName = L"host";
    S->UpdateTabTitle();
    S->EmuLayer.SetCustomTitleWide(L"custom");
    S->UpdateTabTitle();
    S->EmuLayer.SetCustomTitleWide(L"");
    S->UpdateTabTitle();
    EXPECT_THAT(Host.Take("tab"), ElementsAre("tab host", "tab custom", "tab host"));
}

// The end of the program is seen when the device's reader sees it, not at
// the next one-second tick (which is stopped here).
TEST_F(LifeTest, TheProgramsEndIsSeenWhenTheReaderSeesIt)
{
    ASSERT_TRUE(Open(11, 0, "[11]/bin/sh -c 'sleep 0.3; exit 3'"));
    S->StopTimer(SESSION::TIMER_SECOND);
    EXPECT_EQ(S->CommLayer.QueryOnline(), 1);
    EXPECT_TRUE(Pump([&] { return !S->Carriers.empty() && S->Carriers.back() == 0; }, 5000));
    EXPECT_EQ(S->CommLayer.QueryOnline(), 0);
}
