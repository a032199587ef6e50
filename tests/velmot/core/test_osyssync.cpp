// Locks, events, the cross-process lock and threads.
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osyssync.h"
#include "tests/support/testutil.h"
#include "tests/velmot/core/assertrecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string>& gAsserts = testutil::AskedQuestions();

class Sync : public ::testing::Test {
protected:
    testutil::QUESTIONHOOK questionhook_;
};

long long ElapsedMs(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count();
}

// Runs fn on another thread and returns its result.
template <typename F>
auto OnOtherThread(F fn)
{
    decltype(fn()) result{};
    std::thread t([&] { result = fn(); });
    t.join();
    return result;
}

} // namespace

TEST_F(Sync, FastMutexTestSeesAHolder)
{
    FASTMUTEX m;
    EXPECT_TRUE(m.Test());
    EXPECT_FALSE(OnOtherThread([&] { return m.Test(); }));
    m.Release();
    EXPECT_TRUE(OnOtherThread([&] {
        bool ok = m.Test();
        if (ok)
            m.Release();
        return ok;
    }));
}

TEST_F(Sync, MutexSemIsRecursiveAndTimesOut)
{
    MUTEXSEM m;
    ASSERT_TRUE(m.Obtain(-1));
    ASSERT_TRUE(m.Obtain(0)); // the owner may obtain again
    EXPECT_EQ(OSYS::GetCurrentThreadId(), m.OwnerThread());
    EXPECT_EQ(2, m.LockCount());

    EXPECT_FALSE(OnOtherThread([&] { return m.Obtain(0); }));
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(OnOtherThread([&] { return m.Obtain(120); }));
    EXPECT_GE(ElapsedMs(start), 110); // it waited for its time

    m.Release();
    EXPECT_FALSE(OnOtherThread([&] { return m.Obtain(0); })); // still held once
    m.Release();
    EXPECT_EQ(0u, m.OwnerThread());
    EXPECT_TRUE(OnOtherThread([&] {
        bool ok = m.Obtain(0);
        if (ok)
            m.Release();
        return ok;
    }));
    EXPECT_TRUE(gAsserts.empty());
}

TEST_F(Sync, MutexSemWaiterGetsItWhenReleased)
{
    MUTEXSEM m;
    ASSERT_TRUE(m.Obtain(-1));
    std::atomic<bool> got{false};
    std::thread waiter([&] {
        got = m.Obtain(5000);
        if (got)
            m.Release();
    });
    OSYS::Sleep(30);
    m.Release();
    waiter.join();
    EXPECT_TRUE(got);
}

TEST_F(Sync, MutexSemReleaseByAStrangerIsReported)
{
    MUTEXSEM m;
    ASSERT_TRUE(m.Obtain(-1));
    EXPECT_FALSE(OnOtherThread([&] { return m.Release(); }));
    ASSERT_EQ(1u, gAsserts.size());
    EXPECT_NE(std::string::npos, gAsserts[0].find("Condition: !err"));
    EXPECT_TRUE(m.Release());
}

TEST_F(Sync, MutexSemNamedIsRefusedButWorks)
{
    MUTEXSEM m(0, "named");
    ASSERT_EQ(1u, gAsserts.size());
    EXPECT_NE(std::string::npos, gAsserts[0].find("Condition: !name"));
    EXPECT_TRUE(m.Obtain(-1));
    EXPECT_TRUE(m.Release());
}

TEST_F(Sync, EventSemIsManualReset)
{
    EVENTSEM ev(0);
    EXPECT_FALSE(ev.Wait(0));
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ev.Wait(60));
    EXPECT_GE(ElapsedMs(start), 55);

    ev.Post();
    EXPECT_TRUE(ev.Wait(0));
    EXPECT_TRUE(ev.Wait(-1)); // stays set
    ev.Reset();
    EXPECT_FALSE(ev.Wait(0));

    EVENTSEM set(1);
    EXPECT_TRUE(set.Wait(0));
}

TEST_F(Sync, EventSemWakesEveryWaiter)
{
    EVENTSEM ev(0);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] { woken += ev.Wait(10000) ? 1 : 0; });
    OSYS::Sleep(20);
    ev.Post();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(4, woken.load());
}

namespace {

// Child side of the cross-process tests: reports through its exit code.
int TryInChild(const std::string& name, int timeout)
{
    return testutil::RunInChild([&] {
        GLOBALMUTEX g(name.c_str());
        bool ok = g.Obtain(timeout);
        if (ok)
            g.Release();
        return ok ? 0 : 1;
    });
}

std::string UniqueName(const char* base)
{
    return std::string(base) + "." + std::to_string(getpid());
}

} // namespace

TEST_F(Sync, GlobalMutexExcludesOtherProcesses)
{
    std::string name = UniqueName("test.global");
    GLOBALMUTEX g(name.c_str());
    ASSERT_TRUE(g.IsValid());
    ASSERT_TRUE(g.Obtain(-1));
    EXPECT_EQ(1, TryInChild(name, 0));
    EXPECT_EQ(1, TryInChild(name, 50));
    EXPECT_TRUE(g.Release());
    EXPECT_EQ(0, TryInChild(name, 0));
    EXPECT_EQ(0, TryInChild(name, -1));
}

TEST_F(Sync, GlobalMutexOfAKilledHolderIsFree)
{
    std::string name = UniqueName("test.killed");
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        GLOBALMUTEX g(name.c_str());
        char c = g.Obtain(-1) ? 'y' : 'n';
        if (write(ready[1], &c, 1) != 1)
            _exit(2);
        for (;;)
            pause();
    }
    char c = 0;
    ASSERT_EQ(1, read(ready[0], &c, 1));
    ASSERT_EQ('y', c);
    GLOBALMUTEX g(name.c_str());
    EXPECT_FALSE(g.Obtain(0));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_TRUE(g.Obtain(2000)); // the kernel dropped the dead holder's lock
    EXPECT_TRUE(g.Release());
    close(ready[0]);
    close(ready[1]);
}

TEST_F(Sync, GlobalMutexBetweenThreadsOfOneProcess)
{
    std::string name = UniqueName("test.threads");
    GLOBALMUTEX g(name.c_str());
    ASSERT_TRUE(g.Obtain(-1));
    EXPECT_FALSE(OnOtherThread([&] { return g.Obtain(20); }));
    EXPECT_TRUE(g.Release());
    EXPECT_TRUE(OnOtherThread([&] {
        bool ok = g.Obtain(0);
        if (ok)
            g.Release();
        return ok;
    }));
}

// Only the thread that holds the lock releases it. A release by another
// thread, or without holding, is refused and changes nothing: neither a
// second thread of this process nor another process gets in meanwhile.
TEST_F(Sync, GlobalMutexReleaseByANonHolderIsRefused)
{
    std::string name = UniqueName("test.nonholder");
    GLOBALMUTEX g(name.c_str());
    EXPECT_FALSE(g.Release()); // free: nothing to release
    ASSERT_TRUE(g.Obtain(0));
    EXPECT_FALSE(OnOtherThread([&] { return g.Obtain(0); }));

    EXPECT_FALSE(OnOtherThread([&] { return g.Release(); }));
    EXPECT_EQ(1, TryInChild(name, 0));
    EXPECT_FALSE(OnOtherThread([&] { return g.Obtain(0); }));

    EXPECT_TRUE(g.Release());
    EXPECT_FALSE(g.Release()); // released twice
    EXPECT_TRUE(OnOtherThread([&] {
        bool ok = g.Obtain(0);
        if (ok)
            g.Release();
        return ok;
    }));
    EXPECT_EQ(0, TryInChild(name, 0));
    ASSERT_EQ(3u, gAsserts.size());
    for (std::string const& a : gAsserts)
        EXPECT_NE(std::string::npos, a.find("Condition: !err")) << a;
}

TEST_F(Sync, SignalTableHoldsSixteenLocks)
{
    std::vector<std::unique_ptr<GLOBALMUTEX>> locks;
    for (int i = 0; i < 17; ++i) {
        locks.push_back(std::make_unique<GLOBALMUTEX>(UniqueName(("test.many" + std::to_string(i)).c_str()).c_str()));
        EXPECT_TRUE(locks.back()->Obtain(0)); // the seventeenth is taken too
    }
    EXPECT_EQ(16, SIGHANDLER::HeldCount());
    EXPECT_TRUE(SIGHANDLER::IsIntercepting());
    EXPECT_FALSE(SIGHANDLER::InterceptSignals(true)); // already on: nothing changes
    for (auto& l : locks)
        EXPECT_TRUE(l->Release());
    EXPECT_EQ(0, SIGHANDLER::HeldCount());
    EXPECT_FALSE(SIGHANDLER::IsIntercepting());
}

TEST_F(Sync, FatalSignalWithAHeldLockEndsTheProcessAsBefore)
{
    // The handler does only async-signal-safe work and re-raises, so the
    // process dies of the signal it got, and the lock is free afterwards.
    std::string name = UniqueName("test.signal");
    int rc = testutil::RunInChild([&] {
        GLOBALMUTEX g(name.c_str());
        if (!g.Obtain(-1))
            return 1;
        raise(SIGTERM);
        return 2;
    });
    EXPECT_EQ(128 + SIGTERM, rc);
    EXPECT_EQ(0, TryInChild(name, 0));
}

namespace {

std::atomic<int> gThreadSum{0};

unsigned long AddParm(MSGWORD parm)
{
    gThreadSum += static_cast<int>(parm);
    return 0;
}

unsigned long ReadBlock(MSGWORD parm)
{
    auto* block = reinterpret_cast<THREADPARM2*>(parm);
    if (block->Marker == THREADPARM2_MARKER)
        *reinterpret_cast<std::string*>(block->Parm1) = *reinterpret_cast<const std::string*>(block->Parm2);
    return 0;
}

unsigned long WaitForStop(MSGWORD parm)
{
    auto* stopped = reinterpret_cast<std::atomic<bool>*>(parm);
    for (int i = 0; i < 5000 && !OSYS::ThreadStopRequested(); ++i)
        OSYS::Sleep(1);
    *stopped = OSYS::ThreadStopRequested();
    return 0;
}

} // namespace

TEST_F(Sync, ThreadsStartWaitAndStop)
{
    MSGWORD a = OSYS::CreateThread(&AddParm, 5);
    MSGWORD b = OSYS::CreateThread(&AddParm, 7);
    ASSERT_NE(0u, a);
    ASSERT_NE(0u, b);
    EXPECT_TRUE(OSYS::WaitThread(a, -1));
    EXPECT_TRUE(OSYS::WaitThread(b, -1));
    EXPECT_EQ(12, gThreadSum.load());

    // Two pointer-sized parameters arrive whole.
    std::string source = "sixty-four bit pointers";
    std::string target;
    MSGWORD c = OSYS::CreateThreadWithParm(&ReadBlock, reinterpret_cast<MSGWORD>(&target),
                                           reinterpret_cast<MSGWORD>(&source));
    ASSERT_NE(0u, c);
    EXPECT_TRUE(OSYS::WaitThread(c, -1));
    EXPECT_EQ(source, target);

    // A wait with a limit is reported quietly and waits all the same.
    std::atomic<bool> stopped{false};
    MSGWORD d = OSYS::CreateThread(&WaitForStop, reinterpret_cast<MSGWORD>(&stopped));
    ASSERT_TRUE(OSYS::TerminateThread(d)); // asks, then lets it go
    for (int i = 0; i < 5000 && !stopped; ++i)
        OSYS::Sleep(1);
    EXPECT_TRUE(stopped.load());
    EXPECT_TRUE(gAsserts.empty());

    EXPECT_FALSE(OSYS::WaitThread(0, -1));
    EXPECT_EQ(1u, gAsserts.size());
}

TEST_F(Sync, ThreadIdsAreKernelIds)
{
    DWORD mine = OSYS::GetCurrentThreadId();
    EXPECT_EQ(static_cast<DWORD>(getpid()), mine); // the test's main thread
    EXPECT_NE(mine, OnOtherThread([] { return OSYS::GetCurrentThreadId(); }));
    EXPECT_EQ(0, testutil::RunInChild([] {
        return OSYS::GetCurrentThreadId() == static_cast<DWORD>(getpid()) ? 0 : 1;
    }));
}

TEST_F(Sync, RaisePriorityRestores)
{
    {
        RAISETHREADPRIORITY raise(3, -1);
        EXPECT_TRUE(raise.RaiseOk());
    }
    EXPECT_TRUE(gAsserts.empty());
}
