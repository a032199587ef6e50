// The event core without Qt: parameters, handler chains and propagation,
// stale handles, the main queue across threads, loops, timers and
// application events.
#include "platform/events/appevents.h"
#include "platform/events/event.h"
#include "platform/events/queue.h"
#include "platform/events/target.h"
#include "platform/events/timers.h"
#include "tests/platform/events/stress_util.h"
#include "tests/support/workers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#include <string>
#include <thread>
#include <vector>

using namespace plat;
using ::testing::ElementsAre;

namespace {

constexpr OSType kClassTest = FourCC("TEST");
constexpr EventType kTestType{kClassTest, 1};
constexpr OSType kParamSeen = FourCC("seen");

class EventCore : public ::testing::Test {
protected:
    void SetUp() override { InitEventCore(); }
    void TearDown() override
    {
        ShutdownEventCore();
        SetClockForTesting({});
    }

    // Runs the main loop until `quit` is called or 10 s pass (a failure, not
    // a hang).
    void RunLoopBounded()
    {
        LoopTimerRef guard = InstallLoopTimer(10000, 0, [this](LoopTimerRef) {
            timedOut_ = true;
            QuitMainLoop(1);
        });
        RunMainLoop();
        RemoveLoopTimer(guard);
        EXPECT_FALSE(timedOut_) << "the loop had to be ended by the watchdog";
    }

    // A handler that appends `tag` to `log` and answers `answer`.
    HandlerRef Logger(TargetRef t, std::vector<std::string>& log, std::string tag, Status answer)
    {
        return InstallHandler(t, {&kTestType, 1}, [&log, tag, answer](HandlerCall&, Event&) {
            log.push_back(tag);
            return answer;
        });
    }

    bool timedOut_ = false;
};

TEST(EventParams, TypedReadsAndTheirErrors)
{
    EventPtr e = Event::Create(kClassTest, 1);
    const uint32_t u = 0xDEADBEEF;
    const RectI rect{1, 2, 30, 40};
    const std::string longText(100, 'x'); // stored outside the record
    ASSERT_EQ(e->Set(FourCC("uint"), kTypeUInt32, u), kNoErr);
    ASSERT_EQ(e->Set(FourCC("rect"), kTypeIntRect, rect), kNoErr);
    ASSERT_EQ(e->SetParam(FourCC("long"), kTypeUTF8, longText.data(), longText.size()), kNoErr);
    ASSERT_EQ(e->SetWord(FourCC("ptr "), reinterpret_cast<uintptr_t>(&rect)), kNoErr);

    struct Case {
        const char* what;
        OSType name;
        OSType type;
        size_t size;
        Status expect;
    };
    const std::vector<Case> cases = {
        {"exact type and size", FourCC("uint"), kTypeUInt32, 4, kNoErr},
        {"wildcard type", FourCC("uint"), kTypeWildcard, 4, kNoErr},
        {"missing parameter", FourCC("nope"), kTypeUInt32, 4, kErrParamNotFound},
        {"other type", FourCC("uint"), kTypeSInt32, 4, kErrParamWrongType},
        {"other size", FourCC("uint"), kTypeUInt32, 8, kErrParamWrongType},
        {"rect", FourCC("rect"), kTypeIntRect, sizeof(RectI), kNoErr},
        {"word read as 32 bits", FourCC("ptr "), kTypeWord, 4, kErrParamWrongType},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t buf[64] = {};
        EXPECT_EQ(e->GetParam(c.name, c.type, buf, c.size), c.expect);
    }

    RectI got;
    ASSERT_EQ(e->Get(FourCC("rect"), kTypeIntRect, &got), kNoErr);
    EXPECT_EQ(got, rect);
    // A pointer survives the round trip in full: words are pointer-sized.
    EXPECT_EQ(e->GetWord(FourCC("ptr ")), reinterpret_cast<uintptr_t>(&rect));
    EXPECT_EQ(e->GetWord(FourCC("nope"), 77u), 77u);

    char cut[10];
    size_t actual = 0;
    ASSERT_EQ(e->GetParamBytes(FourCC("long"), kTypeUTF8, cut, sizeof cut, &actual), kNoErr);
    EXPECT_EQ(actual, longText.size());
    EXPECT_EQ(std::string(cut, sizeof cut), longText.substr(0, 10));
}

TEST(EventParams, ReplaceRemoveAndManyParameters)
{
    EventPtr e = Event::Create(kClassTest, 1);
    for (uint32_t i = 0; i < 20; ++i)
        ASSERT_EQ(e->Set(FourCC("p000") + i, kTypeUInt32, i), kNoErr);
    EXPECT_EQ(e->ParamCount(), 20u);
    // Replacing a short value with a long one and back keeps one parameter.
    std::string big(300, 'b');
    ASSERT_EQ(e->SetParam(FourCC("p000") + 3, kTypeUTF8, big.data(), big.size()), kNoErr);
    ASSERT_EQ(e->Set(FourCC("p000") + 3, kTypeUInt32, 99u), kNoErr);
    EXPECT_EQ(e->ParamCount(), 20u);
    EXPECT_EQ(e->RemoveParam(FourCC("p000") + 1), kNoErr);
    EXPECT_EQ(e->RemoveParam(FourCC("p000") + 15), kNoErr); // one of the overflow records
    EXPECT_EQ(e->RemoveParam(FourCC("p000") + 1), kErrParamNotFound);
    EXPECT_EQ(e->ParamCount(), 18u);
    for (uint32_t i = 0; i < 20; ++i) {
        uint32_t v = 0;
        Status s = e->Get(FourCC("p000") + i, kTypeUInt32, &v);
        if (i == 1 || i == 15) {
            EXPECT_EQ(s, kErrParamNotFound) << i;
        } else {
            ASSERT_EQ(s, kNoErr) << i;
            EXPECT_EQ(v, i == 3 ? 99u : i);
        }
    }
    // Setting a parameter from its own stored bytes must not read freed memory.
    ASSERT_EQ(e->SetParam(FourCC("self"), kTypeUTF8, big.data(), big.size()), kNoErr);
    std::vector<char> copy(400);
    size_t n = 0;
    e->GetParamBytes(FourCC("self"), kTypeUTF8, copy.data(), copy.size(), &n);
    EXPECT_EQ(e->SetParam(FourCC("self"), kTypeUTF8, copy.data(), n), kNoErr);
}

TEST_F(EventCore, HandlersRunNewestFirstThenStandardThenUpTheChain)
{
    TargetRef window = CreateTarget(TargetKind::Window, ApplicationTarget());
    TargetRef pane = CreateTarget(TargetKind::View, window);
    TargetRef button = CreateTarget(TargetKind::View, pane);
    std::vector<std::string> log;
    Logger(ApplicationTarget(), log, "app", kErrEventNotHandled);
    Logger(window, log, "window", kNoErr);
    Logger(pane, log, "pane", kErrEventNotHandled);
    Logger(button, log, "button-old", kErrEventNotHandled);
    Logger(button, log, "button-new", kErrEventNotHandled);
    SetStandardHandler(button, [&](HandlerCall&, Event&) {
        log.push_back("button-standard");
        return kErrEventNotHandled;
    });

    EventPtr e = Event::Create(kClassTest, 1);
    EXPECT_EQ(SendEvent(*e, button), kNoErr);
    EXPECT_THAT(log, ElementsAre("button-new", "button-old", "button-standard", "pane", "window"));

    log.clear();
    EXPECT_EQ(SendEvent(*e, button, kSendDontPropagate), kErrEventNotHandled);
    EXPECT_THAT(log, ElementsAre("button-new", "button-old", "button-standard"));

    // An event of another kind passes the registered handlers by; the
    // standard handler sees every event.
    log.clear();
    EventPtr other = Event::Create(kClassTest, 2);
    EXPECT_EQ(SendEvent(*other, button), kErrEventNotHandled);
    EXPECT_THAT(log, ElementsAre("button-standard"));
}

TEST_F(EventCore, CallNextRunsTheRestOfTheTargetFirst)
{
    TargetRef window = CreateTarget(TargetKind::Window, ApplicationTarget());
    TargetRef view = CreateTarget(TargetKind::View, window);
    std::vector<std::string> log;
    Logger(window, log, "window", kNoErr);
    Logger(view, log, "lower", kErrEventNotHandled);
    InstallHandler(view, {&kTestType, 1}, [&](HandlerCall& call, Event& e) {
        log.push_back("upper-before");
        Status s = call.CallNext(e);
        log.push_back("upper-after " + std::to_string(s));
        EXPECT_EQ(call.CallNext(e), kErrEventNotHandled); // only once
        return kErrEventNotHandled;
    });
    EventPtr e = Event::Create(kClassTest, 1);
    // The chain of the view ends with the handler that called CallNext; the
    // answer "not handled" then climbs to the window.
    EXPECT_EQ(SendEvent(*e, view), kNoErr);
    EXPECT_THAT(log, ElementsAre("upper-before", "lower", "upper-after -9874", "window"));
}

TEST_F(EventCore, HandlerStatusOtherThanNotHandledStopsTheChain)
{
    TargetRef view = CreateTarget(TargetKind::View, ApplicationTarget());
    std::vector<std::string> log;
    Logger(ApplicationTarget(), log, "app", kNoErr);
    Logger(view, log, "refuses", -50);
    EventPtr e = Event::Create(kClassTest, 1);
    EXPECT_EQ(SendEvent(*e, view), -50);
    EXPECT_THAT(log, ElementsAre("refuses"));
}

TEST_F(EventCore, HandlersRemovedOrAddedDuringDispatch)
{
    TargetRef view = CreateTarget(TargetKind::View, ApplicationTarget());
    std::vector<std::string> log;
    HandlerRef lower = Logger(view, log, "lower", kErrEventNotHandled);
    HandlerRef self = nullptr;
    self = InstallHandler(view, {&kTestType, 1}, [&](HandlerCall&, Event&) {
        log.push_back("self");
        EXPECT_EQ(RemoveHandler(self), kNoErr);  // itself
        EXPECT_EQ(RemoveHandler(lower), kNoErr); // one that has not run yet
        Logger(view, log, "added", kErrEventNotHandled); // waits for the next event
        return kErrEventNotHandled;
    });
    EventPtr e = Event::Create(kClassTest, 1);
    EXPECT_EQ(SendEvent(*e, view), kErrEventNotHandled);
    EXPECT_THAT(log, ElementsAre("self"));
    log.clear();
    EXPECT_EQ(SendEvent(*e, view), kErrEventNotHandled);
    EXPECT_THAT(log, ElementsAre("added"));
    EXPECT_EQ(RemoveHandler(self), kErrTargetGone);
}

TEST_F(EventCore, StaleHandlesAreDetectedAndNeverReused)
{
    TargetRef window = CreateTarget(TargetKind::Window, ApplicationTarget());
    TargetRef view = CreateTarget(TargetKind::View, window);
    int calls = 0;
    HandlerRef h = InstallHandler(view, {&kTestType, 1}, [&](HandlerCall&, Event&) {
        ++calls;
        return kNoErr;
    });
    ASSERT_EQ(DestroyTarget(view), kNoErr);

    EventPtr e = Event::Create(kClassTest, 1);
    EXPECT_FALSE(IsTargetAlive(view));
    EXPECT_EQ(SendEvent(*e, view), kErrTargetGone);
    EXPECT_EQ(DestroyTarget(view), kErrTargetGone);
    EXPECT_EQ(InstallHandler(view, {&kTestType, 1}, [](HandlerCall&, Event&) { return kNoErr; }), nullptr);
    EXPECT_EQ(RemoveHandler(h), kErrTargetGone);
    EXPECT_EQ(SetTargetProperty(view, FourCC("VLMT"), FourCC("This"), "x", 1), kErrTargetGone);
    EXPECT_EQ(GetTargetParent(view), nullptr);
    EXPECT_EQ(PostEvent(e, view), kNoErr); // dropped at delivery, not an error to post
    DispatchPending(10);
    EXPECT_EQ(calls, 0);

    // New targets never get an old number back.
    for (int i = 0; i < 100; ++i)
        EXPECT_NE(CreateTarget(TargetKind::View, window), view);
    // Garbage that was never a handle is just as harmless.
    EXPECT_FALSE(IsTargetAlive(reinterpret_cast<TargetRef>(uintptr_t{0x12345678})));
}

TEST_F(EventCore, TargetDestroyedByItsOwnHandlerStopsTheClimb)
{
    TargetRef window = CreateTarget(TargetKind::Window, ApplicationTarget());
    TargetRef view = CreateTarget(TargetKind::View, window);
    std::vector<std::string> log;
    Logger(window, log, "window", kNoErr);
    Logger(view, log, "lower", kNoErr);
    InstallHandler(view, {&kTestType, 1}, [&](HandlerCall&, Event&) {
        log.push_back("closer");
        DestroyTarget(view);
        EXPECT_FALSE(IsTargetAlive(view));
        return kErrEventNotHandled;
    });
    EventPtr e = Event::Create(kClassTest, 1);
    EXPECT_EQ(SendEvent(*e, view), kErrEventNotHandled);
    EXPECT_THAT(log, ElementsAre("closer"));
    EXPECT_TRUE(IsTargetAlive(window));
}

TEST_F(EventCore, ParentLoopsAreRefused)
{
    TargetRef a = CreateTarget(TargetKind::View, ApplicationTarget());
    TargetRef b = CreateTarget(TargetKind::View, a);
    EXPECT_EQ(SetTargetParent(a, b), kErrBadArgument);
    EXPECT_EQ(SetTargetParent(a, a), kErrBadArgument);
    EXPECT_EQ(GetTargetParent(a), ApplicationTarget());
}

TEST_F(EventCore, PropertiesByCreatorAndTag)
{
    TargetRef w = CreateTarget(TargetKind::Window, ApplicationTarget());
    const uintptr_t self = reinterpret_cast<uintptr_t>(this);
    ASSERT_EQ(SetTargetProperty(w, FourCC("VLMT"), FourCC("This"), &self, sizeof self), kNoErr);
    ASSERT_EQ(SetTargetProperty(w, FourCC("VLMT"), FourCC("HLPI"), "help", 5), kNoErr);
    uintptr_t got = 0;
    size_t size = 0;
    ASSERT_EQ(GetTargetProperty(w, FourCC("VLMT"), FourCC("This"), &got, sizeof got, &size), kNoErr);
    EXPECT_EQ(got, self);
    EXPECT_EQ(size, sizeof self);
    EXPECT_EQ(GetTargetProperty(w, FourCC("othr"), FourCC("This"), &got, sizeof got), kErrParamNotFound);
    char text[3];
    ASSERT_EQ(GetTargetProperty(w, FourCC("VLMT"), FourCC("HLPI"), text, sizeof text, &size), kNoErr);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(std::string(text, 3), "hel");
    EXPECT_EQ(RemoveTargetProperty(w, FourCC("VLMT"), FourCC("HLPI")), kNoErr);
    EXPECT_EQ(RemoveTargetProperty(w, FourCC("VLMT"), FourCC("HLPI")), kErrParamNotFound);
}

TEST_F(EventCore, ProbeAnswersFromAnyThreadWithoutRunningHandlers)
{
    TargetRef window = CreateTarget(TargetKind::Window, ApplicationTarget());
    TargetRef view = CreateTarget(TargetKind::View, window);
    const EventType msg{kEventClassToolkit, kEventToolkitMessage};
    bool ran = false;
    HandlerRef h = InstallHandler(window, {&msg, 1}, [&](HandlerCall&, Event&) {
        ran = true;
        return kNoErr;
    });
    std::array<bool, 4> answers{};
    std::thread worker([&] {
        answers[0] = TargetHandles(window, kEventClassToolkit, kEventToolkitMessage, false);
        answers[1] = TargetHandles(view, kEventClassToolkit, kEventToolkitMessage, false);
        answers[2] = TargetHandles(view, kEventClassToolkit, kEventToolkitMessage, true);
        answers[3] = TargetHandles(view, kEventClassToolkit, 1025, true);
    });
    worker.join();
    EXPECT_THAT(answers, ElementsAre(true, false, true, false));
    EXPECT_FALSE(ran);
    RemoveHandler(h);
    EXPECT_FALSE(TargetHandles(view, kEventClassToolkit, kEventToolkitMessage, true));
    DestroyTarget(view);
    EXPECT_FALSE(TargetHandles(view, kEventClassToolkit, kEventToolkitMessage, true));
}

TEST_F(EventCore, PostsFromEightThreadsKeepEachSendersOrder)
{
    TargetRef t = CreateTarget(TargetKind::Window, ApplicationTarget());
    stress::Result r = stress::Run(t, 8, 8 * 2000, 1 << 30, [] { RunModalLoop(1); }, [] { QuitModalLoop(1); });
    EXPECT_FALSE(r.watchdogFired);
    EXPECT_FALSE(r.sendersStuck);
    EXPECT_EQ(r.received, 8 * 2000);
    EXPECT_EQ(r.orderErrors, 0);
    EXPECT_EQ(r.sendErrors, 0);
}

TEST_F(EventCore, SendFromWorkerRunsOnMainThreadAndReturnsItsAnswer)
{
    TargetRef t = CreateTarget(TargetKind::Window, ApplicationTarget());
    std::thread::id ranOn;
    InstallHandler(t, {&kTestType, 1}, [&](HandlerCall&, Event& e) {
        ranOn = std::this_thread::get_id();
        e.SetWord(kParamSeen, e.GetWord(kParamSeen) * 2);
        return -42;
    });
    Status status = 0;
    uintptr_t answer = 0;
    testutil::WORKER worker([&] {
        EventPtr e = Event::Create(kClassTest, 1);
        e->SetWord(kParamSeen, 21);
        status = SendEvent(*e, t, 0, testutil::kWorkerSendMs);
        answer = e->GetWord(kParamSeen);
        QuitMainLoop();
    });
    RunLoopBounded();
    EXPECT_TRUE(worker.Join());
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(status, -42);
    EXPECT_EQ(answer, 42u);
}

TEST_F(EventCore, WaitingSendersAreAlwaysReleased)
{
    TargetRef t = CreateTarget(TargetKind::Window, ApplicationTarget());
    TargetRef unhandled = CreateTarget(TargetKind::Window, nullptr);
    TargetRef dead = CreateTarget(TargetKind::Window, nullptr);
    DestroyTarget(dead);

    // Already gone: answered at once, without any loop running.
    EventPtr e = Event::Create(kClassTest, 1);
    Status s = 0;
    std::thread([&] { s = SendEvent(*e, dead); }).join();
    EXPECT_EQ(s, kErrTargetGone);

    // Gone while queued, nobody handles it, and a time-out.
    std::atomic<int> queued{0};
    Status goneWhileQueued = 0, nobody = 0, timedOut = 0;
    testutil::WORKER a([&] {
        EventPtr ev = Event::Create(kClassTest, 1);
        queued++;
        goneWhileQueued = SendEvent(*ev, t, 0, testutil::kWorkerSendMs);
    });
    testutil::WORKER b([&] {
        EventPtr ev = Event::Create(kClassTest, 1);
        queued++;
        nobody = SendEvent(*ev, unhandled, 0, testutil::kWorkerSendMs);
    });
    std::thread c([&] {
        EventPtr ev = Event::Create(kClassTest, 1);
        timedOut = SendEvent(*ev, unhandled, 0, 50);
    });
    c.join(); // nobody serves the queue yet: it must give up on its own
    EXPECT_EQ(timedOut, kErrTimedOut);
    EXPECT_TRUE(testutil::WaitUntil([] { return PendingCount() >= 2; }));
    DestroyTarget(t);
    DispatchPending(100);
    EXPECT_TRUE(a.Join());
    EXPECT_TRUE(b.Join());
    EXPECT_EQ(goneWhileQueued, kErrTargetGone);
    EXPECT_EQ(nobody, kErrEventNotHandled);
}

TEST_F(EventCore, ShutdownReleasesSendersStillQueued)
{
    TargetRef t = CreateTarget(TargetKind::Window, ApplicationTarget());
    Status s = 0;
    Status task = 0;
    std::thread worker([&] {
        EventPtr e = Event::Create(kClassTest, 1);
        s = SendEvent(*e, t, 0, testutil::kWorkerSendMs);
    });
    std::thread worker2([&] { task = RunTaskAndWait([] {}, testutil::kWorkerSendMs); });
    EXPECT_TRUE(testutil::WaitUntil([] { return PendingCount() >= 2; }));
    ShutdownEventCore();
    worker.join(); // the shut-down releases both (or their time-outs do)
    worker2.join();
    EXPECT_EQ(s, kErrQueueClosed);
    EXPECT_EQ(task, kErrQueueClosed);
    // After shut-down nothing queues and nothing waits.
    EventPtr e = Event::Create(kClassTest, 1);
    std::thread([&] { s = SendEvent(*e, t); }).join();
    EXPECT_NE(s, kNoErr);
    InitEventCore();
}

TEST_F(EventCore, CompletionIsCalledExactlyOnce)
{
    TargetRef t = CreateTarget(TargetKind::Window, ApplicationTarget());
    InstallHandler(t, {&kTestType, 1}, [](HandlerCall&, Event&) { return kNoErr; });
    std::vector<Status> answers;
    auto record = [&](Status s) { answers.push_back(s); };
    PostEventWithCompletion(Event::Create(kClassTest, 1), t, 0, record);
    PostEventWithCompletion(Event::Create(kClassTest, 2), t, 0, record);
    PostEventWithCompletion(Event::Create(kClassTest, 1), reinterpret_cast<TargetRef>(uintptr_t{1}), 0, record);
    DispatchPending(100);
    EXPECT_THAT(answers, ElementsAre(kNoErr, kErrEventNotHandled, kErrTargetGone));
}

TEST_F(EventCore, SendIsServedInsideANestedModalLoop)
{
    TargetRef t = CreateTarget(TargetKind::Window, ApplicationTarget());
    int depthSeen = 0;
    InstallHandler(t, {&kTestType, 1}, [&](HandlerCall&, Event&) {
        depthSeen = LoopDepth();
        return kNoErr;
    });
    // A posted event opens a modal loop from inside its handler; the worker's
    // send must still be served while that handler has not returned.
    const EventType open{kClassTest, 9};
    InstallHandler(t, {&open, 1}, [&](HandlerCall&, Event&) {
        std::thread worker([&] {
            EventPtr e = Event::Create(kClassTest, 1);
            EXPECT_EQ(SendEvent(*e, t), kNoErr);
            PostTask([] { QuitModalLoop(77); });
        });
        RunModalLoop(77);
        worker.join();
        QuitMainLoop();
        return kNoErr;
    });
    PostEvent(Event::Create(kClassTest, 9), t);
    RunLoopBounded();
    EXPECT_EQ(depthSeen, 2);
}

TEST_F(EventCore, TimersFireInOrderWithoutCatchingUp)
{
    uint64_t now = 1000;
    SetClockForTesting([&] { return now; });
    std::vector<std::string> log;
    LoopTimerRef fast = InstallLoopTimer(10, 10, [&](LoopTimerRef) { log.push_back("fast"); });
    InstallLoopTimer(25, 0, [&](LoopTimerRef) { log.push_back("once"); });
    EXPECT_EQ(MsUntilNextTimer(), 10);
    EXPECT_EQ(FireDueTimers(), 0);
    now += 10;
    EXPECT_EQ(FireDueTimers(), 1);
    // Late by 100 ms: each timer fires once, and the next one counts from now.
    now += 100;
    EXPECT_EQ(FireDueTimers(), 2);
    EXPECT_EQ(MsUntilNextTimer(), 10);
    now += 10;
    EXPECT_EQ(FireDueTimers(), 1);
    EXPECT_THAT(log, ElementsAre("fast", "fast", "once", "fast"));
    EXPECT_EQ(RemoveLoopTimer(fast), kNoErr);
    EXPECT_EQ(RemoveLoopTimer(fast), kErrTargetGone);
    EXPECT_EQ(MsUntilNextTimer(), -1);
}

TEST_F(EventCore, ATimerRemovedByAnotherInTheSameRoundDoesNotFire)
{
    uint64_t now = 0;
    SetClockForTesting([&] { return now; });
    int secondFired = 0;
    LoopTimerRef second = nullptr;
    InstallLoopTimer(5, 5, [&](LoopTimerRef self) {
        RemoveLoopTimer(second);
        RemoveLoopTimer(self);
    });
    second = InstallLoopTimer(5, 5, [&](LoopTimerRef) { ++secondFired; });
    now = 10;
    EXPECT_EQ(FireDueTimers(), 1);
    EXPECT_EQ(secondFired, 0);
    EXPECT_EQ(MsUntilNextTimer(), -1);
}

// The pattern of the toolkit's window timers: a poll posts ticks stamped
// with the low 32 bits of the clock; the receiver drops a tick whose timer
// was stopped meanwhile or that is too old, comparing stamps modulo 2^32.
TEST_F(EventCore, TicksOfAStoppedTimerAreDroppedAndStampsSurviveTheWrap)
{
    // Start just before the low 32 bits wrap (49.7 days of uptime).
    uint64_t now = 0xFFFFFFFFull - 30;
    SetClockForTesting([&] { return now; });
    TargetRef window = CreateTarget(TargetKind::Window, ApplicationTarget());
    const EventType tick{kEventClassToolkit, kEventToolkitMessage};
    const uint32_t interval = 20;
    std::vector<uint32_t> accepted;
    int dropped = 0;
    LoopTimerRef timer = nullptr;
    InstallHandler(window, {&tick, 1}, [&](HandlerCall&, Event& e) {
        uint32_t stamp = 0;
        e.Get(kParamTickStamp, kTypeUInt32, &stamp);
        if (!IsLoopTimerInstalled(timer) || StampAge(stamp, NowMs()) > 3 * interval)
            ++dropped;
        else
            accepted.push_back(stamp);
        return kNoErr;
    });
    timer = InstallLoopTimer(interval, interval, [&](LoopTimerRef) {
        EventPtr e = Event::Create(kEventClassToolkit, kEventToolkitMessage);
        e->Set(kParamTickStamp, kTypeUInt32, TickStamp());
        PostEvent(e, window);
    });
    for (int i = 0; i < 5; ++i) { // crosses 2^32 ms on the way
        now += interval;
        FireDueTimers();
        DispatchPending(10);
    }
    EXPECT_EQ(accepted.size(), 5u);
    EXPECT_EQ(dropped, 0);
    EXPECT_LT(accepted.back(), accepted.front()); // the stamps did wrap

    // A tick queued, then its timer stopped before delivery: dropped.
    now += interval;
    FireDueTimers();
    RemoveLoopTimer(timer);
    DispatchPending(10);
    EXPECT_EQ(dropped, 1);
    EXPECT_EQ(StampAge(0xFFFFFFF0u, 0x100000010ull), 0x20u);
}

TEST_F(EventCore, ATimerDoesNotFireInsideItsOwnNestedLoop)
{
    int depth = 0, maxDepth = 0, fired = 0;
    LoopTimerRef quitter = nullptr;
    InstallLoopTimer(1, 1, [&](LoopTimerRef self) {
        ++fired;
        maxDepth = std::max(maxDepth, ++depth);
        if (fired == 1) {
            // Runs a modal loop for a while; this timer stays due all along.
            quitter = InstallLoopTimer(30, 0, [](LoopTimerRef) { QuitModalLoop(5); });
            RunModalLoop(5);
        } else {
            RemoveLoopTimer(self);
            QuitMainLoop();
        }
        --depth;
    });
    RunLoopBounded();
    EXPECT_EQ(maxDepth, 1);
    EXPECT_EQ(fired, 2);
    EXPECT_FALSE(IsLoopTimerInstalled(quitter));
}

TEST_F(EventCore, LoopTimersRunInsideTheBuiltinLoop)
{
    int ticks = 0;
    InstallLoopTimer(1, 1, [&](LoopTimerRef self) {
        if (++ticks == 5) {
            RemoveLoopTimer(self);
            QuitMainLoop();
        }
    });
    RunLoopBounded();
    EXPECT_EQ(ticks, 5);
}

TEST_F(EventCore, OpenDocumentsArriveWithTheirItemsInOrder)
{
    std::vector<std::pair<std::string, std::vector<std::string>>> got;
    SetAppEventHandler([&](OSType id, const std::vector<std::string>& items) {
        got.emplace_back(FourCCText(id), items);
        return kNoErr;
    });
    InjectAppEvent(kAppEventOpenDocuments, {"/tmp/a.qor", "/tmp/b c.qrx", "/tmp/ü.txt"});
    InjectLaunchEvents({});
    InjectLaunchEvents({"/home/u/x.qor", "ssh://host:22", "telnet://h", "rel/path", "notaurl:/x"});
    DispatchPending(100);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].first, "odoc");
    EXPECT_THAT(got[0].second, ElementsAre("/tmp/a.qor", "/tmp/b c.qrx", "/tmp/ü.txt"));
    EXPECT_EQ(got[1].first, "oapp");
    EXPECT_TRUE(got[1].second.empty());
    EXPECT_EQ(got[2].first, "odoc");
    EXPECT_THAT(got[2].second, ElementsAre("/home/u/x.qor", "rel/path", "notaurl:/x"));
    EXPECT_EQ(got[3].first, "GURL");
    EXPECT_THAT(got[3].second, ElementsAre("ssh://host:22", "telnet://h"));
}

TEST_F(EventCore, QuitDeclinedByTheHandlerKeepsTheLoopRunning)
{
    int quits = 0;
    bool laterRan = false;
    SetAppEventHandler([&](OSType id, const std::vector<std::string>&) {
        if (id != kAppEventQuit)
            return kErrAppEventNotHandled;
        ++quits;
        if (quits == 1)
            return kErrAppEventNotHandled; // refuses: the loop goes on
        QuitMainLoop(5);                   // agrees
        return kNoErr;
    });
    Status firstAnswer = 0;
    InjectAppEvent(kAppEventQuit, {}, [&](Status s) { firstAnswer = s; });
    PostTask([&] {
        laterRan = true;
        RequestQuit();
    });
    RunLoopBounded();
    EXPECT_EQ(quits, 2);
    EXPECT_TRUE(laterRan);
    EXPECT_EQ(firstAnswer, kErrAppEventNotHandled);
}

TEST_F(EventCore, QuitWithoutAHandlerEndsTheLoop)
{
    Status answer = 1;
    InjectAppEvent(kAppEventOpen, {}, [&](Status s) { answer = s; });
    RequestQuit();
    RunLoopBounded();
    EXPECT_EQ(answer, kErrAppEventNotHandled);
}

TEST_F(EventCore, SigtermAndSighupBecomeATerminateEvent)
{
    for (int sig : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        ASSERT_TRUE(InstallTerminationHandler());
        std::vector<std::string> got;
        SetAppEventHandler([&](OSType id, const std::vector<std::string>& items) {
            got.push_back(FourCCText(id));
            got.insert(got.end(), items.begin(), items.end());
            QuitMainLoop();
            return kNoErr;
        });
        ASSERT_EQ(raise(sig), 0);
        RunLoopBounded();
        RemoveTerminationHandler();
        EXPECT_THAT(got, ElementsAre("term", sig == SIGTERM ? "SIGTERM" : "SIGHUP"));
    }
}

// Whether the child ends within ms (its wait status in *status); one that
// does not is killed.
bool EndsWithin(pid_t pid, int ms, int* status)
{
    for (int i = 0; i < ms / 10; ++i) {
        if (waitpid(pid, status, WNOHANG) == pid)
            return true;
        usleep(10 * 1000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, status, 0);
    return false;
}

// A program whose main thread is stuck cannot answer the terminate event;
// a second SIGTERM must still end it. Without a running core the first one
// does. Each case runs in a child process.
TEST(Termination, SigtermStillEndsAProgramThatCannotAnswer)
{
    struct Case {
        const char* what;
        bool coreRunning;
        int signalsToEnd;
    };
    const Case cases[] = {{"core running, main thread stuck", true, 2}, {"no event core", false, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (c.coreRunning)
                InitEventCore();
            if (!InstallTerminationHandler())
                _exit(3);
            ssize_t ignored = write(ready[1], "r", 1);
            (void)ignored;
            for (int i = 0; i < 100; ++i) // never runs a loop: "stuck"
                usleep(100 * 1000);
            _exit(0);
        }
        close(ready[1]);
        char b = 0;
        ASSERT_EQ(read(ready[0], &b, 1), 1);
        close(ready[0]);
        int status = 0;
        for (int n = 1; n <= c.signalsToEnd; ++n) {
            if (n > 1) {
                usleep(300 * 1000);
                ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "ended by an earlier SIGTERM";
            }
            kill(pid, SIGTERM);
        }
        if (!EndsWithin(pid, 5000, &status))
            FAIL() << "SIGTERM did not end the child";
        EXPECT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), SIGTERM);
    }
}

// While the program ends on the first signal, further ones (a desktop
// sends SIGHUP and SIGTERM) do not cut the end short.
TEST(Termination, RepeatedSignalsWhileEndingAreIgnored)
{
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        InitEventCore();
        if (!InstallTerminationHandler())
            _exit(3);
        SetAppEventHandler([&](OSType id, const std::vector<std::string>&) {
            if (id != kAppEventTerminate)
                return kErrAppEventNotHandled;
            // The end takes a while: the loop goes on for a second.
            InstallLoopTimer(1000, 0, [](LoopTimerRef) { QuitMainLoop(7); });
            return kNoErr;
        });
        PostTask([&] {
            ssize_t ignored = write(ready[1], "r", 1);
            (void)ignored;
        });
        _exit(RunMainLoop());
    }
    close(ready[1]);
    char b = 0;
    ASSERT_EQ(read(ready[0], &b, 1), 1);
    close(ready[0]);
    kill(pid, SIGTERM);
    usleep(300 * 1000);
    kill(pid, SIGHUP);
    usleep(100 * 1000);
    kill(pid, SIGTERM);
    int status = 0;
    if (!EndsWithin(pid, 5000, &status))
        FAIL() << "the child did not end";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a repeated signal";
    EXPECT_EQ(WEXITSTATUS(status), 7);
}

TEST_F(EventCore, MainThreadOperationsAreRefusedElsewhere)
{
    TargetRef t = CreateTarget(TargetKind::Window, ApplicationTarget());
    Status s = 0;
    TargetRef created = t;
    std::thread([&] {
        created = CreateTarget(TargetKind::View, t);
        s = DestroyTarget(t);
    }).join();
    EXPECT_EQ(created, nullptr);
    EXPECT_EQ(s, kErrWrongThread);
    EXPECT_TRUE(IsTargetAlive(t));
}

} // namespace
