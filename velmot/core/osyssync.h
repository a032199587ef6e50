// Locks, events and the cross-process lock, with Windows-shaped names and
// time-outs in milliseconds (-1 = no limit).
#pragma once

#include "velmot/core/vtypes.h"

#include <atomic>
#include <mutex>
#include <pthread.h>
#include <semaphore.h>

// In-process lock for short critical sections; never times out.
class VELMOT_EXPORT FASTMUTEX {
public:
    FASTMUTEX();
    ~FASTMUTEX();
    FASTMUTEX(FASTMUTEX const&) = delete;
    FASTMUTEX& operator=(FASTMUTEX const&) = delete;

    void Obtain();
    void Release();
    bool Test(); // enters without waiting; false when busy

private:
    std::mutex* pCritSect;
};

// Recursive mutex with a time-out; the owner may obtain it again and must
// release it as often.
class VELMOT_EXPORT MUTEXSEM {
public:
    explicit MUTEXSEM(int unused = 0, char const* name = nullptr);
    ~MUTEXSEM();
    MUTEXSEM(MUTEXSEM const&) = delete;
    MUTEXSEM& operator=(MUTEXSEM const&) = delete;

    bool Obtain(int timeout = -1);
    bool Release();
    bool WinObtain(int timeout);

    // Diagnostics: the thread id (OSYS::GetCurrentThreadId) of the owner, 0
    // when free; the recursion count.
    DWORD OwnerThread() const { return Owner.load(std::memory_order_relaxed); }
    int LockCount() const { return Count.load(std::memory_order_relaxed); }

private:
    pthread_mutex_t* hmux;
    std::atomic<DWORD> Owner{0};
    std::atomic<int> Count{0};
};

// Scoped obtain/release of a MUTEXSEM.
class VELMOT_EXPORT MUTEXLOCK {
public:
    explicit MUTEXLOCK(MUTEXSEM& m) : Mux(m) { Locked = Mux.Obtain(-1); }
    ~MUTEXLOCK()
    {
        if (Locked)
            Mux.Release();
    }
    MUTEXLOCK(MUTEXLOCK const&) = delete;
    MUTEXLOCK& operator=(MUTEXLOCK const&) = delete;

private:
    MUTEXSEM& Mux;
    bool Locked;
};

// Manual-reset event: once posted it stays set until Reset.
class VELMOT_EXPORT EVENTSEM {
public:
    explicit EVENTSEM(int initiallySet = 0);
    ~EVENTSEM();
    EVENTSEM(EVENTSEM const&) = delete;
    EVENTSEM& operator=(EVENTSEM const&) = delete;

    void Post();
    void Reset();
    bool Wait(int timeout = -1) const;
    bool IsSet() const;

private:
    mutable pthread_mutex_t Guard;
    mutable pthread_cond_t Cond; // waits on the monotonic clock
    bool Set;
};

// Named lock shared between processes. The kernel drops the lock of a
// process that dies, however it dies, so a crashed holder never blocks the
// others. An object belongs to the process that made it: a forked child
// makes its own object for the name. Only the thread that obtained the lock
// releases it; a release by any other thread is refused and changes nothing.
class VELMOT_EXPORT GLOBALMUTEX {
public:
    explicit GLOBALMUTEX(char const* name);
    ~GLOBALMUTEX();
    GLOBALMUTEX(GLOBALMUTEX const&) = delete;
    GLOBALMUTEX& operator=(GLOBALMUTEX const&) = delete;

    bool Obtain(int timeout = -1);
    bool Release();
    bool IsValid() const { return Fd >= 0; }

private:
    bool TryLockOnce();

    int Fd;       // the lock file, locked with flock while held
    sem_t InProc; // count 1: serialises the threads of this process
    std::atomic<DWORD> Holder{0}; // thread id of the holder, 0 while free
    char Name[128];
};

// Fatal-signal handling for held cross-process locks. The kernel already
// releases the locks of GLOBALMUTEX when a process dies; the table remains
// for other resources that must be released on a fatal signal, and the
// handler does only async-signal-safe work.
class VELMOT_EXPORT SIGHANDLER {
public:
    static bool InterceptSignals(bool on);
    static int InterceptSignal(int signum, int on);
    static bool AddSemaphore(void* sem);
    static bool RemoveSemaphore(void* sem);
    static void SigHandler(int signum);
    static bool IsIntercepting() { return Intercepted; }
    static int HeldCount();

    static constexpr int MAXAUTORELEASE = 16;

private:
    static void* volatile AutoRelease[MAXAUTORELEASE];
    static bool Intercepted;
};

// Scoped change of the calling thread's priority.
class VELMOT_EXPORT RAISETHREADPRIORITY {
public:
    explicit RAISETHREADPRIORITY(int level, int saved = -1);
    ~RAISETHREADPRIORITY();
    RAISETHREADPRIORITY(RAISETHREADPRIORITY const&) = delete;
    RAISETHREADPRIORITY& operator=(RAISETHREADPRIORITY const&) = delete;

    bool SetPriority(int level);
    bool RaiseOk() const { return Ok; }

private:
    pthread_t Thread;
    int Saved;
    bool Ok;
};
