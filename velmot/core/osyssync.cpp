// Locks, events, the cross-process lock, thread priorities and threads.
#include "velmot/core/osyssync.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "platform/services/folders.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <unordered_map>

namespace {

constexpr char const* kSource = "osyssync";

timespec DeadlineAfter(int ms)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    ts.tv_sec += ms / 1000;
    ts.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
    }
    return ts;
}

} // namespace

// ---------------------------------------------------------------------------
// FASTMUTEX

FASTMUTEX::FASTMUTEX() : pCritSect(new std::mutex) {}

FASTMUTEX::~FASTMUTEX()
{
    delete pCritSect;
}

void FASTMUTEX::Obtain()
{
    pCritSect->lock();
}

void FASTMUTEX::Release()
{
    pCritSect->unlock();
}

bool FASTMUTEX::Test()
{
    return pCritSect->try_lock();
}

// ---------------------------------------------------------------------------
// MUTEXSEM

MUTEXSEM::MUTEXSEM(int, char const* name) : hmux(new pthread_mutex_t)
{
    if (name)
        AssertMsg(0, "!name", kSource, __LINE__, name, false);
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    int err = pthread_mutex_init(hmux, &attr);
    pthread_mutexattr_destroy(&attr);
    LOGIF(11, "MUTEXSEM::MUTEXSEM created err= %d, hmux= %p, name= %s\n", err, static_cast<void*>(hmux),
          name ? name : "<null>");
    if (err) {
        delete hmux;
        hmux = nullptr;
        AssertMsg(0, "this->hmux", kSource, __LINE__, nullptr, false);
    }
}

MUTEXSEM::~MUTEXSEM()
{
    LOGIF(11, "MUTEXSEM::MUTEXSEM delete %p\n", static_cast<void*>(hmux));
    if (!hmux)
        return;
    int err = pthread_mutex_destroy(hmux);
    if (err) {
        char info[200];
        snprintf(info, sizeof info, "err= %d, handle= %p, %.100s", err, static_cast<void*>(hmux), strerror(err));
        AssertMsg(0, "!err", kSource, __LINE__, info, false);
        return; // a mutex that is still held is leaked rather than freed under its owner
    }
    delete hmux;
}

bool MUTEXSEM::Obtain(int timeout)
{
    if (!hmux)
        return false;
    int err;
    if (timeout < 0) {
        err = pthread_mutex_lock(hmux);
    } else {
        // Waits on the monotonic clock until the mutex is free or the time is
        // up, so a waiter gets the mutex as soon as it is released.
        timespec deadline = DeadlineAfter(timeout);
        err = pthread_mutex_clocklock(hmux, CLOCK_MONOTONIC, &deadline);
        if (err == ETIMEDOUT)
            return false;
    }
    if (err == EAGAIN) {
        AssertMsg(0, "err!=EAGAIN", kSource, __LINE__, nullptr, false);
        return false;
    }
    if (err) {
        char info[32];
        snprintf(info, sizeof info, "%d", err);
        AssertMsg(0, "!err", kSource, __LINE__, info, false);
        return false;
    }
    Owner.store(OSYS::GetCurrentThreadId(), std::memory_order_relaxed);
    Count.fetch_add(1, std::memory_order_relaxed);
    return true;
}

bool MUTEXSEM::Release()
{
    if (!hmux)
        return false;
    bool owner = Owner.load(std::memory_order_relaxed) == OSYS::GetCurrentThreadId();
    if (owner && Count.fetch_sub(1, std::memory_order_relaxed) == 1)
        Owner.store(0, std::memory_order_relaxed);
    int err = pthread_mutex_unlock(hmux);
    if (err) {
        if (owner && Count.fetch_add(1, std::memory_order_relaxed) == 0)
            Owner.store(OSYS::GetCurrentThreadId(), std::memory_order_relaxed);
        char info[64];
        snprintf(info, sizeof info, "handle= %p, err= %d", static_cast<void*>(hmux), err);
        AssertMsg(0, "!err", kSource, __LINE__, info, false);
        return false;
    }
    return true;
}

bool MUTEXSEM::WinObtain(int)
{
    AssertMsg(0, "FALSE", kSource, __LINE__, nullptr, false);
    return false;
}

// ---------------------------------------------------------------------------
// EVENTSEM

EVENTSEM::EVENTSEM(int initiallySet) : Set(initiallySet != 0)
{
    pthread_mutex_init(&Guard, nullptr);
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    int err = pthread_cond_init(&Cond, &attr);
    pthread_condattr_destroy(&attr);
    if (err)
        AssertMsg(0, "!err", kSource, __LINE__, nullptr, false);
    LOGIF(7, "EVENTSEM::EVENTSEM created %p\n", static_cast<void*>(this));
}

EVENTSEM::~EVENTSEM()
{
    pthread_mutex_lock(&Guard);
    int err = pthread_cond_destroy(&Cond);
    pthread_mutex_unlock(&Guard);
    pthread_mutex_destroy(&Guard);
    LOGIF(12, "EVENTSEM::~EVENTSEM deleted %p, err= %d\n", static_cast<void*>(this), err);
    if (err) {
        char info[64];
        snprintf(info, sizeof info, "handle= %p, err= %d", static_cast<void*>(this), err);
        AssertMsg(0, "!err", kSource, __LINE__, info, false);
    }
}

void EVENTSEM::Post()
{
    pthread_mutex_lock(&Guard);
    Set = true;
    int err = pthread_cond_broadcast(&Cond);
    pthread_mutex_unlock(&Guard);
    LOGIF(12, "EVENTSEM::Set %p\n", static_cast<void*>(this));
    if (err) {
        char info[64];
        snprintf(info, sizeof info, "handle= %p, err= %d", static_cast<void*>(this), err);
        AssertMsg(0, "ok", kSource, __LINE__, info, false);
    }
}

void EVENTSEM::Reset()
{
    pthread_mutex_lock(&Guard);
    Set = false;
    pthread_mutex_unlock(&Guard);
    LOGIF(12, "EVENTSEM::Reset %p, ok= %d\n", static_cast<void*>(this), 1);
}

bool EVENTSEM::IsSet() const
{
    pthread_mutex_lock(&Guard);
    bool set = Set;
    pthread_mutex_unlock(&Guard);
    return set;
}

bool EVENTSEM::Wait(int timeout) const
{
    // Success means the event is set: the loop ends on the flag, never on a
    // bare wake-up, so a spurious wake-up or a Reset between Post and the
    // wake-up does not count as the event.
    int err = 0;
    pthread_mutex_lock(&Guard);
    if (timeout < 0) {
        while (!Set && err == 0)
            err = pthread_cond_wait(&Cond, &Guard);
    } else {
        timespec deadline = DeadlineAfter(timeout);
        while (!Set && err == 0)
            err = pthread_cond_clockwait(&Cond, &Guard, CLOCK_MONOTONIC, &deadline);
    }
    bool set = Set;
    pthread_mutex_unlock(&Guard);
    LOGIF(12, "EVENTSEM::Wait %p timeout= %u, err= %d\n", static_cast<void const*>(this),
          static_cast<unsigned>(timeout), set ? 0 : err);
    if (!set && err != 0 && err != ETIMEDOUT) {
        char info[160];
        snprintf(info, sizeof info, "handle= %p, err= %d. %s", static_cast<void const*>(this), err, strerror(err));
        AssertMsg(0, "!err", kSource, __LINE__, info, false);
    }
    return set;
}

// ---------------------------------------------------------------------------
// GLOBALMUTEX
//
// A named lock is a lock file in the user's private runtime folder, locked
// with flock. The kernel releases such a lock when its holder dies, also by
// SIGKILL, and a release without holding cannot raise a count above one, so
// two processes never hold the same name.

namespace {

std::string LockFilePath(char const* name)
{
    std::string folder = plat::FolderPath(plat::Folder::Runtime, true);
    if (folder.empty())
        return std::string();
    folder += "qor-locks";
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return std::string();
    std::string file;
    for (char const* p = name; *p && file.size() < 200; ++p) {
        char c = *p;
        file += (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) ? '_' : c;
    }
    if (file.empty() || file == "." || file == "..")
        file = "_" + file;
    return folder + "/" + file + ".lock";
}

} // namespace

GLOBALMUTEX::GLOBALMUTEX(char const* name) : Fd(-1)
{
    snprintf(Name, sizeof Name, "%s", name ? name : "");
    sem_init(&InProc, 0, 1);
    std::string path = LockFilePath(Name);
    if (!path.empty())
        Fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    LOGIF(1, "GLOBALMUTEX::GLOBALMUTEX %s as %p\n", Name, static_cast<void*>(this));
    if (Fd < 0)
        AssertMsg(0, "this->pSem", kSource, __LINE__, Name, false);
}

GLOBALMUTEX::~GLOBALMUTEX()
{
    LOGIF(1, "GLOBALMUTEX::~GLOBALMUTEX %p\n", static_cast<void*>(this));
    SIGHANDLER::RemoveSemaphore(this);
    if (Fd >= 0)
        close(Fd); // closing drops a lock still held by this object
    sem_destroy(&InProc);
}

bool GLOBALMUTEX::TryLockOnce()
{
    return flock(Fd, LOCK_EX | LOCK_NB) == 0;
}

bool GLOBALMUTEX::Obtain(int timeout)
{
    LOGIF(1, "GLOBALMUTEX::Obtain %p, timeout= %d\n", static_cast<void*>(this), timeout);
    if (Fd < 0)
        return false;
    bool ok = false;
    int err = ETIMEDOUT;
    // First the threads of this process, then the other processes.
    if (timeout < 0) {
        while (sem_wait(&InProc) != 0 && errno == EINTR) {
        }
        while (!(ok = flock(Fd, LOCK_EX) == 0) && errno == EINTR) {
        }
        if (!ok) {
            err = errno;
            sem_post(&InProc);
        }
    } else if (timeout == 0) {
        if (sem_trywait(&InProc) == 0) {
            ok = TryLockOnce();
            if (!ok)
                sem_post(&InProc);
        }
    } else {
        long long start = OSYS::RelTime();
        timespec deadline = DeadlineAfter(timeout);
        int rc;
        while ((rc = sem_clockwait(&InProc, CLOCK_MONOTONIC, &deadline)) != 0 && errno == EINTR) {
        }
        if (rc == 0) {
            int interval = timeout > 10 ? timeout / 10 : 1;
            while (!(ok = TryLockOnce()) && OSYS::RelTime() < start + timeout)
                OSYS::Sleep(interval);
            if (!ok)
                sem_post(&InProc);
        }
    }
    if (ok) {
        err = 0;
        Holder.store(OSYS::GetCurrentThreadId());
        SIGHANDLER::AddSemaphore(this);
    }
    LOGIF(1, "GLOBALMUTEX::Obtain %p, err= %d\n", static_cast<void*>(this), err);
    return ok;
}

bool GLOBALMUTEX::Release()
{
    if (Fd < 0)
        return false;
    // A thread that does not hold the lock must neither unlock the file
    // (another process would get it while the holder still works) nor let a
    // second thread of this process in.
    int err = Holder.load() == OSYS::GetCurrentThreadId() ? 0 : EPERM;
    if (!err && flock(Fd, LOCK_UN) != 0)
        err = errno;
    LOGIF(1, "GLOBALMUTEX::Release %p, err= %d\n", static_cast<void*>(this), err);
    if (err) {
        char info[192];
        snprintf(info, sizeof info, "%s: handle= %p, err= %d", Name, static_cast<void*>(this), err);
        AssertMsg(0, "!err", kSource, __LINE__, info, false);
        return false;
    }
    Holder.store(0);
    SIGHANDLER::RemoveSemaphore(this);
    sem_post(&InProc);
    return true;
}

// ---------------------------------------------------------------------------
// SIGHANDLER

void* volatile SIGHANDLER::AutoRelease[SIGHANDLER::MAXAUTORELEASE];
bool SIGHANDLER::Intercepted = false;

namespace {

struct sigaction gOldActions[32];
bool gOldSaved[32];
std::mutex gSigTableLock; // guards the table against other threads, never taken in the handler

constexpr int kSignals[] = {SIGHUP, SIGINT, SIGABRT, SIGSTOP, SIGKILL, SIGTERM,
                            SIGTRAP, SIGBUS, SIGSEGV, SIGILL, SIGFPE};

// Formats without stdio: the handler may run inside malloc or stdio.
void WriteSafe(char const* text)
{
    size_t len = strlen(text);
    while (len > 0) {
        ssize_t n = write(2, text, len);
        if (n <= 0)
            return;
        text += n;
        len -= static_cast<size_t>(n);
    }
}

void WriteNumberSafe(long value)
{
    char buf[24];
    int pos = sizeof buf - 1;
    buf[pos] = '\0';
    bool negative = value < 0;
    unsigned long v = negative ? static_cast<unsigned long>(-value) : static_cast<unsigned long>(value);
    do {
        buf[--pos] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v && pos > 1);
    if (negative)
        buf[--pos] = '-';
    WriteSafe(buf + pos);
}

} // namespace

int SIGHANDLER::InterceptSignal(int signum, int on)
{
    if (signum < 0 || signum >= 32) {
        AssertMsg(0, "signum<ARRAYMAX(SIGHANDLER::OldActions)", kSource, __LINE__, nullptr, false);
        return -1;
    }
    if (on) {
        struct sigaction sa;
        memset(&sa, 0, sizeof sa);
        sa.sa_handler = &SIGHANDLER::SigHandler;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESETHAND;
        int rc = sigaction(signum, &sa, &gOldActions[signum]);
        gOldSaved[signum] = rc == 0;
        return rc;
    }
    if (!gOldSaved[signum])
        return 0;
    int rc = sigaction(signum, &gOldActions[signum], nullptr);
    gOldSaved[signum] = false;
    return rc;
}

bool SIGHANDLER::InterceptSignals(bool on)
{
    if (Intercepted == on)
        return false;
    for (int sig : kSignals)
        InterceptSignal(sig, on ? 1 : 0); // SIGSTOP and SIGKILL are refused; that is expected
    Intercepted = on;
    return true;
}

bool SIGHANDLER::AddSemaphore(void* sem)
{
    std::lock_guard<std::mutex> guard(gSigTableLock);
    bool stored = false;
    for (auto& slot : AutoRelease) {
        if (!slot) {
            slot = sem;
            stored = true;
            break;
        }
    }
    InterceptSignals(true);
    return stored;
}

bool SIGHANDLER::RemoveSemaphore(void* sem)
{
    std::lock_guard<std::mutex> guard(gSigTableLock);
    bool found = false;
    bool inuse = false;
    for (auto& slot : AutoRelease) {
        if (slot == sem) {
            slot = nullptr;
            found = true;
        } else if (slot) {
            inuse = true;
        }
    }
    if (!inuse && Intercepted)
        InterceptSignals(false);
    return found;
}

int SIGHANDLER::HeldCount()
{
    std::lock_guard<std::mutex> guard(gSigTableLock);
    int n = 0;
    for (auto slot : AutoRelease)
        n += slot != nullptr;
    return n;
}

void SIGHANDLER::SigHandler(int signum)
{
    // Only async-signal-safe work here. The locks of GLOBALMUTEX are dropped
    // by the kernel when the process dies, so nothing is released by hand: a
    // process that survives the signal (its own handler runs after the
    // re-raise) still holds what it held, and no second holder can appear.
    int held = 0;
    for (auto slot : AutoRelease)
        held += slot != nullptr;
    WriteSafe("SIGHANDLER::SigHandler ");
    WriteNumberSafe(signum);
    WriteSafe(" done, locks held: ");
    WriteNumberSafe(held);
    WriteSafe("\n");
    for (int sig : kSignals) {
        if (gOldSaved[sig]) {
            sigaction(sig, &gOldActions[sig], nullptr);
            gOldSaved[sig] = false;
        }
    }
    Intercepted = false;
    raise(signum);
}

// ---------------------------------------------------------------------------
// RAISETHREADPRIORITY

RAISETHREADPRIORITY::RAISETHREADPRIORITY(int level, int saved) : Thread(pthread_self()), Saved(saved), Ok(false)
{
    LOGIF(1, "RAISETHREADPRIORITY::RAISETHREADPRIORITY prio= %d\n", level);
    Ok = SetPriority(level);
    LOGIF(1, "RAISETHREADPRIORITY::RAISETHREADPRIORITY done, ok= %d, origclass= %d\n", Ok, Saved);
}

bool RAISETHREADPRIORITY::SetPriority(int level)
{
    LOGIF(1, "RAISETHREADPRIORITY::SetPriority called, prio= %d\n", level);
    int policy;
    sched_param param;
    if (pthread_getschedparam(Thread, &policy, &param) != 0)
        return false;
    if (Saved == -1)
        Saved = param.sched_priority;
    int lo = sched_get_priority_min(policy);
    int hi = sched_get_priority_max(policy);
    param.sched_priority = lo + (hi - lo) * level / 5;
    return pthread_setschedparam(Thread, policy, &param) == 0;
}

RAISETHREADPRIORITY::~RAISETHREADPRIORITY()
{
    LOGIF(1, "RAISETHREADPRIORITY::~RAISETHREADPRIORITY (RaiseOk=%d)\n", Ok);
    if (!Ok || Saved == -1)
        return;
    int policy;
    sched_param param;
    bool ok = false;
    int before = -1;
    if (pthread_getschedparam(Thread, &policy, &param) == 0) {
        before = param.sched_priority;
        param.sched_priority = Saved;
        ok = pthread_setschedparam(Thread, policy, &param) == 0;
    }
    LOGIF(1, "RAISETHREADPRIORITY::~RAISETHREADPRIORITY done ok= %d, back from %d to %d\n", ok, before, Saved);
}

// ---------------------------------------------------------------------------
// Threads
//
// A thread is stopped by asking it: TerminateThread sets the thread's stop
// flag, which the thread polls with OSYS::ThreadStopRequested. Cancelling a
// thread from outside could leave a lock it holds (the log's, an array's)
// locked for ever.

namespace {

struct ThreadRecord {
    THREADFUNCTION Fn;
    MSGWORD Parm;
    THREADPARM2* Block; // freed after the thread function returns
    std::atomic<bool> Stop{false};
};

thread_local ThreadRecord* tlsThread = nullptr;

std::mutex& ThreadTableLock()
{
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::unordered_map<pthread_t, ThreadRecord*>& ThreadTable()
{
    static auto* table = new std::unordered_map<pthread_t, ThreadRecord*>;
    return *table;
}

void* ThreadStart(void* arg)
{
    auto* rec = static_cast<ThreadRecord*>(arg);
    tlsThread = rec;
    rec->Fn(rec->Parm);
    tlsThread = nullptr;
    {
        std::lock_guard<std::mutex> guard(ThreadTableLock());
        ThreadTable().erase(pthread_self());
    }
    delete rec->Block;
    delete rec;
    return nullptr;
}

} // namespace

MSGWORD OSYS::CreateThread(THREADFUNCTION fn, MSGWORD parm)
{
    auto* rec = new ThreadRecord{fn, parm, nullptr};
    pthread_t tid;
    std::lock_guard<std::mutex> guard(ThreadTableLock());
    if (pthread_create(&tid, nullptr, &ThreadStart, rec) != 0) {
        delete rec;
        LOGIT("OSYS::CreateThread returned tid= %04x\n", 0u);
        return 0;
    }
    ThreadTable()[tid] = rec;
    LOGIT("OSYS::CreateThread returned tid= %04lx\n", static_cast<unsigned long>(tid) & 0xFFFFFu);
    return static_cast<MSGWORD>(tid);
}

MSGWORD OSYS::CreateThreadWithParm(THREADFUNCTION fn, MSGWORD parm1, MSGWORD parm2)
{
    auto* block = new (std::nothrow) THREADPARM2{THREADPARM2_MARKER, parm1, parm2};
    if (!block) {
        AssertMsg(0, "pparm", kSource, __LINE__, nullptr, false);
        return 0;
    }
    auto* rec = new ThreadRecord{fn, reinterpret_cast<MSGWORD>(block), block};
    pthread_t tid;
    std::lock_guard<std::mutex> guard(ThreadTableLock());
    if (pthread_create(&tid, nullptr, &ThreadStart, rec) != 0) {
        delete block;
        delete rec;
        return 0;
    }
    ThreadTable()[tid] = rec;
    LOGIT("OSYS::CreateThread returned tid= %04lx\n", static_cast<unsigned long>(tid) & 0xFFFFFu);
    return static_cast<MSGWORD>(tid);
}

bool OSYS::WaitThread(MSGWORD handle, int timeout)
{
    if (timeout != -1)
        AssertMsg(0, "timeout==0xffffffff", kSource, __LINE__, nullptr, true);
    if (timeout != 0)
        LOGIT("OSYS::WaitThread hThread=%p, timeout= %d\n", reinterpret_cast<void*>(handle), timeout);
    if (!handle) {
        AssertMsg(0, "hthread!=NULL", kSource, __LINE__, nullptr, false);
        return false;
    }
    return pthread_join(static_cast<pthread_t>(handle), nullptr) == 0;
}

bool OSYS::TerminateThread(MSGWORD handle)
{
    if (!handle)
        return false;
    {
        std::lock_guard<std::mutex> guard(ThreadTableLock());
        auto it = ThreadTable().find(static_cast<pthread_t>(handle));
        if (it != ThreadTable().end())
            it->second->Stop.store(true);
    }
    return pthread_detach(static_cast<pthread_t>(handle)) == 0;
}

bool OSYS::CloseThreadHandle(MSGWORD handle)
{
    if (!handle)
        return false;
    return pthread_detach(static_cast<pthread_t>(handle)) == 0;
}

bool OSYS::ThreadStopRequested()
{
    return tlsThread && tlsThread->Stop.load();
}

void OSYS::Sleep(int ms)
{
    if (ms <= 0) {
        sched_yield();
        return;
    }
    timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

namespace {

// The kernel thread id, cached per thread; a forked child starts with a
// fresh cache because its one thread has a new id.
thread_local DWORD tlsThreadId = 0;

void ForgetThreadIdAfterFork()
{
    tlsThreadId = 0;
}

} // namespace

DWORD OSYS::GetCurrentThreadId()
{
    if (tlsThreadId == 0) {
        static std::once_flag once;
        std::call_once(once, [] { pthread_atfork(nullptr, nullptr, &ForgetThreadIdAfterFork); });
        tlsThreadId = static_cast<DWORD>(syscall(SYS_gettid));
    }
    return tlsThreadId;
}

DWORD OSYS::GetCurrentProcessId()
{
    return static_cast<DWORD>(getpid());
}

int OSYS::GetLastError()
{
    return errno;
}
