// Session events: raising them from any thread with their payloads,
// routes of the parts not built, and the events the session handles
// itself: view toggles, the keep-alive, hang-up, accepting calls,
// profiles and the profile's application to the members.
#include "tests/program/session/sessionfixture.h"
#include "tests/support/workers.h"

#include "program/settings/workfolder.h"
#include "velmot/core/wstring.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

using namespace sessiontest;
using ::testing::ElementsAre;

namespace {

[[maybe_unused]] bool const kPlatform = (UsePlatform(), true);

struct SEEN {
    int event, arg;
    std::string text;
};

} // namespace

class EventTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        ASSERT_TRUE(Open(5, 0));
    }
    // Records the events of a range that a test routes to itself.
    void Record(int first, int last, int answer = 1)
    {
        S->SetEventRoute(first, last, [this, answer](SESSION&, int event, int arg, char const* text) {
            std::lock_guard<std::mutex> guard(SeenLock);
            Seen.push_back({event, arg, text == SESSION::NOQUESTION ? "<noquestion>" : text ? text : "<null>"});
            return answer;
        });
    }
    std::mutex SeenLock;
    std::vector<SEEN> Seen;
};

TEST_F(EventTest, PostedEventsCarryTheirArgumentAndACopyOfTheText)
{
    Record(9000, 9010);
    {
        std::string text = "gone after posting";
        EXPECT_EQ(S->PostEvent(9001, -1, text.c_str()), 1);
        text.assign(text.size(), 'x'); // the poster reuses its buffer at once
    }
    S->PostEvent(9002, 32767, nullptr);
    S->PostEvent(9003, -32768, SESSION::NOQUESTION);
    ASSERT_TRUE(Pump([&] { return Seen.size() == 3; }));
    EXPECT_EQ(Seen[0].arg, -1);
    EXPECT_EQ(Seen[0].text, "gone after posting");
    EXPECT_EQ(Seen[1].arg, 32767);
    EXPECT_EQ(Seen[1].text, "<null>");
    EXPECT_EQ(Seen[2].arg, -32768);
    EXPECT_EQ(Seen[2].text, "<noquestion>");

    // Event numbers outside 1 .. 32766 are refused.
    EXPECT_EQ(S->PostEvent(0, 0, nullptr), 0);
    EXPECT_EQ(S->PostEvent(32767, 0, nullptr), 0);
    EXPECT_EQ(S->SendEvent(-3, 0, nullptr), 0);
}

TEST_F(EventTest, SendEventWaitsUntilHandledAndCondEventAsksTheMenu)
{
    Record(9000, 9000, 42);
    std::atomic<int> answer{0};
    testutil::WORKER other([&] { answer = S->SendEvent(9000, 7, "sent"); });
    EXPECT_TRUE(Pump([&] { return answer.load() != 0; }));
    EXPECT_TRUE(other.Join());
    EXPECT_EQ(answer.load(), 1);
    ASSERT_EQ(Seen.size(), 1u) << "handled before the sender went on";
    EXPECT_EQ(Seen[0].text, "sent");
    EXPECT_EQ(S->SendEvent(9000, 1, nullptr), 1) << "on the main thread at once";

    Host.Disabled.insert(9000);
    EXPECT_EQ(S->CondEvent(9000), 0);
    Host.Disabled.clear();
    EXPECT_EQ(S->CondEvent(9000), 1);
    ASSERT_TRUE(Pump([&] { return Seen.size() == 3; }));
}

TEST_F(EventTest, HandedOverObjectsBelongToTheSession)
{
    // 8802: a wide string of keys made by the poster; with the argument set
    // it is dropped while the device is offline.
    S->PostEvent(8802, 0, reinterpret_cast<char const*>(new WSTRING(L"keys")));
    ASSERT_TRUE(Pump([&] { return Sent() == "keys"; }));
    char answer[16];
    S->CommLayer.HandleDeviceCommand("ONLINE 0", answer, sizeof answer, nullptr);
    S->PostEvent(8802, 1, reinterpret_cast<char const*>(new WSTRING(L"dropped")));
    S->PostEvent(8802, 0, reinterpret_cast<char const*>(new WSTRING(L"!")));
    ASSERT_TRUE(Pump([&] { return Sent() == "keys!"; }));
    // 8801 with 62190: a text the poster allocated, freed by the session.
    S->PostEvent(8801, static_cast<short>(SESSION::INFOOUT_OWNED), strdup("info text"));
    Spin(20);
    // Keys from a plug-in's thread travel the same way.
    std::thread([&] { S->FeedKeys(L"xyz", -1, 0); }).join();
    ASSERT_TRUE(Pump([&] { return Sent() == "keys!xyz"; }));
}

// Posts that never got delivered: the session frees their payloads at its
// end (the sanitizer build checks for leaks).
TEST_F(EventTest, PayloadsOfAClosedSessionAreFreed)
{
    for (int i = 0; i < 5; ++i) {
        S->PostEvent(9000, 0, "pending");
        S->PostEvent(8802, 0, reinterpret_cast<char const*>(new WSTRING(L"k")));
        S->Notify("from nowhere", 0);
    }
    std::thread([&] { S->Notify("from a thread", 0); }).join();
    Close();
}

// Four threads raise events, feed keys and notify while the main thread
// shows a stream: every event arrives once, in each thread's order.
TEST_F(EventTest, EventsFromFourThreadsWhileDataFlows)
{
    std::vector<std::vector<int>> got(4);
    S->SetEventRoute(9100, 9103, [&](SESSION&, int event, int arg, char const* text) {
        EXPECT_STREQ(text, ("thread " + std::to_string(event - 9100)).c_str());
        got[static_cast<size_t>(event - 9100)].push_back(arg);
        return 1;
    });
    constexpr int kEach = 400;
    std::atomic<int> done{0};
    std::atomic<int> sendAnswers{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::string text = "thread " + std::to_string(t);
            for (int i = 0; i < kEach; ++i) {
                if (i % 50 == 49)
                    sendAnswers += S->SendEvent(9100 + t, static_cast<short>(i), text.c_str());
                else
                    S->PostEvent(9100 + t, static_cast<short>(i), text.c_str());
                if (i % 100 == 0)
                    S->FeedKeys(L"k", 1, 0);
            }
            ++done;
        });
    }
    std::string line(70, 'd');
    line += "\r\n";
    int shown = 0;
    auto const until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((done.load() < 4 || shown < 300) && std::chrono::steady_clock::now() < until) {
        if (shown < 300) {
            Inject(line);
            ++shown;
        }
        plat::ProcessPendingEvents(200);
    }
    // Senders that still wait are released by the session's end.
    EXPECT_EQ(done.load(), 4) << "a sender is stuck";
    if (done.load() < 4)
        Close();
    for (auto& t : threads)
        t.join();
    ASSERT_EQ(done.load(), 4);
    ASSERT_TRUE(Pump([&] {
        for (auto const& v : got)
            if (v.size() != kEach)
                return false;
        return Sent().size() == 16;
    }));
    EXPECT_TRUE(WaitShown());
    for (auto const& v : got) {
        for (int i = 0; i < kEach; ++i)
            ASSERT_EQ(v[static_cast<size_t>(i)], i);
    }
    EXPECT_EQ(sendAnswers.load(), 4 * (kEach / 50));
    EXPECT_EQ(Row(22), std::string(70, 'd'));
}

TEST_F(EventTest, PartsNotBuiltAnswerZeroUntilRouted)
{
    EXPECT_EQ(S->ProcessEvent(8125, 0, "script.qrx"), 0);
    EXPECT_EQ(S->ProcessEvent(10042, 0, nullptr), 0);
    EXPECT_EQ(S->ProcessEvent(12345, 0, nullptr), 0) << "no session event";
    Record(8125, 8150, 1);
    EXPECT_EQ(S->ProcessEvent(8125, 0, "script.qrx"), 1);
    ASSERT_EQ(Seen.size(), 1u);
    EXPECT_EQ(Seen[0].text, "script.qrx");
}

TEST_F(EventTest, ViewTogglesWriteOnlyTheirByteAndOnlyIntoAReadableFile)
{
    // The profile file holds another value the session has changed but not
    // saved: the toggle must not write it.
    ASSERT_EQ(S->Prof.Save("toggle.qor"), 1);
    FILENAME path = S->Prof.GetCurrentFilename();
    S->Prof.data.Echo = 1;
    EXPECT_EQ(S->ProcessEvent(8291, 0, nullptr), 0) << "toggles answer 0";
    EXPECT_EQ(S->Prof.data.ShowToolbar, 0);
    auto other = std::make_unique<SESSIONPROFILE>(*S);
    ASSERT_EQ(other->Load(path.Buf()), 1);
    EXPECT_EQ(other->data.ShowToolbar, 0);
    EXPECT_EQ(other->data.Echo, 0);

    // A file that is not a profile is left as it is.
    { std::ofstream(path.Buf()) << "not a profile\n"; }
    S->ProcessEvent(8295, 0, nullptr);
    std::ifstream in(path.Buf());
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "not a profile");
}

TEST_F(EventTest, KeepAliveSendsItsTextOrHangsUpWithoutAsking)
{
    SESSIONPROFILEDATA& p = S->Prof.data;
    p.TimeoutTime = 1;
    p.TimeoutString[0] = 0;
    S->ProcessEvent(8825, 0, nullptr);
    EXPECT_EQ(Sent(), "") << "the line was busy just now";
    ASSERT_TRUE(Pump([&] {
        S->ProcessEvent(8825, 0, nullptr);
        return !Sent().empty();
    }, 4000));
    EXPECT_EQ(Sent(), " ") << "an empty text sends one space";

    S->Settings.data.SafAskHangup = 1;
    p.TimeoutControl = 1;
    ASSERT_TRUE(Pump([&] {
        S->ProcessEvent(8825, 0, nullptr);
        return S->CommLayer.QueryOnline() == 0;
    }, 4000));
    EXPECT_TRUE(Host.Take("question").empty()) << "the keep-alive's hang-up never asks";
}

TEST_F(EventTest, HangUpAsksWhenTheSettingSaysSo)
{
    S->Settings.data.SafAskHangup = 1;
    Host.Answers = {false};
    EXPECT_EQ(S->ProcessEvent(8382, 0, nullptr), 0);
    EXPECT_EQ(S->CommLayer.QueryOnline(), 1);
    EXPECT_EQ(S->ProcessEvent(8382, 0, nullptr), 1);
    EXPECT_EQ(S->CommLayer.QueryOnline(), 0);
    EXPECT_EQ(Host.Take("question").size(), 2u);
}

TEST_F(EventTest, ResettingTheDeviceTakesCallsAgainLaterWithoutWaiting)
{
    Host.Checked.insert(8450);
    S->ProcessEvent(8415, 0, nullptr);
    EXPECT_EQ(Host.Checked.count(8450), 1u) << "nothing yet: the pause runs on a timer";
    // The loopback device refuses calls, so the state ends as "off".
    ASSERT_TRUE(Pump([&] { return Host.Checked.count(8450) == 0; }, 4000));
}

TEST_F(EventTest, TrackingAppliesSizeCodePageAndEmulation)
{
    S->Prof.data.WinWidth = 100;
    S->Prof.data.WinHeight = 30;
    S->Prof.data.CodePage = 1000;
    S->TrackChanges(false);
    int w = 0, h = 0;
    S->Screen.GetWinSize(&w, &h);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 30);
    EXPECT_EQ(S->Screen.GetCodepage(), UNICODE_CPUTF8);
    S->Prof.data.ActiveEmulation = 1;
    S->TrackChanges(false);
    EXPECT_EQ(S->EmuLayer.CurrentId(), 1);
}

TEST_F(EventTest, RemakeAllReopensOnlyForAnotherDevice)
{
    QORDEVICE* before = S->CommLayer.Device();
    strcpy(S->Prof.data.DeviceOpts[5], "[5]echo");
    S->RemakeAll();
    EXPECT_EQ(S->CommLayer.Device(), before);
    char parm[128];
    S->CommLayer.QueryParm(parm, sizeof parm);
    EXPECT_STREQ(parm, "[5]echo");
    S->Prof.data.ActiveDevice = 11;
    strcpy(S->Prof.data.DeviceOpts[11], "[11]/bin/sh -c 'printf remade'");
    S->RemakeAll();
    EXPECT_EQ(S->CommLayer.QueryIDFromCurrent(), 11);
    ASSERT_TRUE(Pump([&] { return Row(0) == "remade"; }));
}

TEST_F(EventTest, ProfilesLoadAndSave)
{
    S->Prof.data.Echo = 1;
    EXPECT_EQ(S->ProcessEvent(8081, 0, "saved.qor"), 1);
    S->Prof.data.Echo = 0;
    S->ProcessEvent(8085, 0, "saved.qor");
    EXPECT_EQ(S->Prof.data.Echo, 1);
    EXPECT_TRUE(S->Prof.LoadEvent().IsSet());
    // A profile that cannot be saved is reported.
    S->ProcessEvent(8081, 0, "/nonexistent/folder/x.qor");
    EXPECT_THAT(Host.Take("notify"), ::testing::Contains(::testing::HasSubstr("notify")));
}

TEST_F(EventTest, StandbyClosesAndReopensTheDeviceWithoutWaiting)
{
    char answer[16];
    S->Prof.data.Standby = 1;
    S->ProcessEvent(8815, 1, nullptr);
    EXPECT_NE(S->CommLayer.Device(), nullptr) << "an online device stays";
    S->CommLayer.HandleDeviceCommand("ONLINE 0", answer, sizeof answer, nullptr);
    S->ProcessEvent(8815, 1, nullptr);
    EXPECT_EQ(S->CommLayer.Device(), nullptr);
    S->ProcessEvent(8815, 0, nullptr);
    EXPECT_EQ(S->CommLayer.QueryIDFromCurrent(), 5);
    S->Prof.data.Standby = 0;
    S->CommLayer.HandleDeviceCommand("ONLINE 0", answer, sizeof answer, nullptr);
    S->ProcessEvent(8815, 1, nullptr);
    EXPECT_NE(S->CommLayer.Device(), nullptr) << "only with the profile's standby";
}
