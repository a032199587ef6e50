// SHAREDMEMORY: named shared memory with a recursive cross-process lock.
#include "velmot/core/sharedmem.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osyssync.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <signal.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char const* kSource = "sharedmem";
constexpr size_t kHeaderSize = sizeof(SHAREDMEMORY::HEADER);

bool ProcessExists(uint32_t pid)
{
    return pid != 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

} // namespace

// The locks are file locks, which belong to one open file: two objects of
// one process with their own GLOBALMUTEX on the same name would exclude each
// other, and the second object of a thread that holds the block through the
// first could never release it. So every object of a process uses one lock
// per name, and the lock remembers whether this process holds it, so that a
// header naming this thread is only believed while the lock is really held.
struct SHAREDMEMORY::NAMEDLOCK {
    explicit NAMEDLOCK(char const* name) : Mux(name) {}
    GLOBALMUTEX Mux;
    std::atomic<bool> Held{false};
};

namespace {

std::shared_ptr<SHAREDMEMORY::NAMEDLOCK> SharedLock(std::string const& name)
{
    using Table = std::map<std::string, std::weak_ptr<SHAREDMEMORY::NAMEDLOCK>>;
    static std::mutex* guard = new std::mutex;
    static Table* table = new Table;
    // A child made by fork inherits the parent's table and its open lock
    // files; its locks must be its own, so the process id is part of the key.
    std::string key = std::to_string(getpid()) + "/" + name;
    std::lock_guard<std::mutex> hold(*guard);
    for (auto it = table->begin(); it != table->end();)
        it = it->second.expired() ? table->erase(it) : std::next(it);
    std::weak_ptr<SHAREDMEMORY::NAMEDLOCK>& slot = (*table)[key];
    if (auto lock = slot.lock())
        return lock;
    auto lock = std::make_shared<SHAREDMEMORY::NAMEDLOCK>(name.c_str());
    slot = lock;
    return lock;
}

} // namespace

SHAREDMEMORY::SHAREDMEMORY(char const* name, int size)
{
    std::string base = name ? name : "";
    MetaName = (base + ".i386.msem").c_str();
    LogicalName = (base + ".i386.lsem").c_str();
    MemName = ("/" + base + ".i386.mem").c_str();
    MetaLock = SharedLock(MetaName.Buf());
    if (base.size() > MAXNAME)
        AssertMsg(0, "strlen(name) <= PLATFORMDEPENDENT(6,20)", kSource, __LINE__, base.c_str(), false);
    LOGIT("SHAREDMEMORY::SHAREDMEMORY %s %d\n", base.c_str(), size);
    Size = size < 0 ? 0 : size;

    // The last user removes the name while it holds the lock; an object
    // opened just before that is no longer the one others find, and is
    // opened again.
    for (int attempt = 0; attempt < 3 && Open(); ++attempt) {
        char* user = nullptr;
        if (!Lock(&user, 1000)) {
            // A live process holds the lock (the kernel frees the lock of a
            // dead one), and longer than any user should.
            char info[64];
            snprintf(info, sizeof info, "holder pid %u", Header()->lockpid);
            AssertMsg(0, "FALSE", kSource, __LINE__, info, false);
            break;
        }
        struct stat st;
        if (fstat(hMem, &st) == 0 && st.st_nlink == 0) {
            Unlock(user);
            Close();
            continue;
        }
        bool added = false;
        int count = ChangeUsers(static_cast<DWORD>(getpid()), true, &added);
        Registered = added;
        LOGIT("SHAREDMEMORY::SHAREDMEMORY created, refcount now %d\n", count);
        Unlock(user);
        break;
    }
    if (!(LogicalLock && hMem >= 0 && pMemory))
        AssertMsg(0, "this->pLogicalLock && this->hMem && this->pMemory", kSource, __LINE__, base.c_str(), false);
    LOGIT("SHAREDMEMORY::SHAREDMEMORY %s done with hMem %p\n", MemName.Buf(),
          reinterpret_cast<void*>(static_cast<intptr_t>(hMem)));
}

bool SHAREDMEMORY::Open()
{
    LogicalLock = SharedLock(LogicalName.Buf());
    hMem = shm_open(MemName.Buf(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (hMem < 0) {
        LOGIT("SHAREDMEMORY::SHAREDMEMORY can't shm_open %s: %s\n", MemName.Buf(), strerror(errno));
        LogicalLock.reset();
        return false;
    }
    // The block may hold secrets (the password cache lives in one): an
    // object that another user made, or that others may read, is not used.
    struct stat st;
    if (fstat(hMem, &st) != 0 || st.st_uid != geteuid()) {
        LOGIT("SHAREDMEMORY::SHAREDMEMORY %s is not this user's own\n", MemName.Buf());
        Close();
        return false;
    }
    if ((st.st_mode & 077) != 0 && fchmod(hMem, 0600) != 0) {
        LOGIT("SHAREDMEMORY::SHAREDMEMORY can't restrict %s: %s\n", MemName.Buf(), strerror(errno));
        Close();
        return false;
    }
    size_t need = kHeaderSize + static_cast<size_t>(Size);
    if (static_cast<size_t>(st.st_size) < need) {
        if (ftruncate(hMem, static_cast<off_t>(need)) != 0) {
            LOGIT("SHAREDMEMORY::SHAREDMEMORY can't ftruncate: %s", strerror(errno));
            Close();
            return false;
        }
        st.st_size = static_cast<off_t>(need);
    }
    MapLength = static_cast<size_t>(st.st_size);
    void* p = mmap(nullptr, MapLength, PROT_READ | PROT_WRITE, MAP_SHARED, hMem, 0);
    if (p == MAP_FAILED) {
        LOGIT("SHAREDMEMORY::SHAREDMEMORY can't mmap %s: %s\n", MemName.Buf(), strerror(errno));
        MapLength = 0;
        Close();
        return false;
    }
    pMemory = static_cast<char*>(p);
    return true;
}

void SHAREDMEMORY::Close()
{
    if (pMemory && munmap(pMemory, MapLength) != 0)
        LOGIT("SHAREDMEMORY::~SHAREDMEMORY problem with dropcall (munmap failed: %s)", strerror(errno));
    pMemory = nullptr;
    MapLength = 0;
    if (hMem >= 0)
        close(hMem);
    hMem = -1;
    LogicalLock.reset();
    Registered = false;
}

SHAREDMEMORY::~SHAREDMEMORY()
{
    // An object whose block could not be mapped has nothing to give back.
    if (pMemory && LogicalLock) {
        char* user = nullptr;
        if (Lock(&user, -1)) {
            LOGIT("SHAREDMEMORY::~SHAREDMEMORY %s pheader->refcount %d\n", MemName.Buf(), GetRefCount());
            int remaining = Registered ? DeRef(static_cast<DWORD>(getpid())) : GetRefCount();
            if (Header()->lockcount != 1)
                AssertMsg(0, "pheader->lockcount==1", kSource, __LINE__, MemName.Buf(), false);
            // Removed while the lock is held, so that no process can open
            // the old block and register after the count was taken.
            if (remaining == 0) {
                LOGIT("SHAREDMEMORY::~SHAREDMEMORY %s unlink\n", MemName.Buf());
                shm_unlink(MemName.Buf());
            }
            Unlock(user);
        }
    }
    Close();
    LOGIT("SHAREDMEMORY::~SHAREDMEMORY %s done\n", MemName.Buf());
}

bool SHAREDMEMORY::Lock(char** mapped, int timeout)
{
    if (mapped)
        *mapped = nullptr;
    if (!pMemory || !LogicalLock) {
        AssertMsg(0, "this->pMemory", kSource, __LINE__, MemName.Buf(), false);
        return false;
    }
    HEADER* h = Header();
    uint32_t pid = static_cast<uint32_t>(getpid());
    uint32_t tid = OSYS::GetCurrentThreadId();

    MetaLock->Mux.Obtain(-1);
    LOGIT("SHAREDMEMORY::Lock %s pheader->lockpid/locktid/lockcount begin %08lx/%08lx/%d\n", MemName.Buf(),
          static_cast<unsigned long>(h->lockpid), static_cast<unsigned long>(h->locktid), h->lockcount);
    if (h->lockpid == pid && h->locktid == tid && LogicalLock->Held) {
        ++h->lockcount;
    } else {
        MetaLock->Mux.Release();
        if (!LogicalLock->Mux.Obtain(timeout))
            return false;
        LogicalLock->Held = true;
        LOGIT("SHAREDMEMORY::Lock %s grabbed mutex\n", MemName.Buf());
        MetaLock->Mux.Obtain(-1);
        // The lock was free, so a holder the header still names has lost
        // it: it died (the kernel dropped its lock), perhaps holding it
        // several times over. Its fields are cleared rather than kept.
        if (h->lockpid != 0 || h->locktid != 0 || h->lockcount != 0) {
            if (h->lockpid != pid && ProcessExists(h->lockpid))
                AssertMsg(0, "pheader->lockpid==0 && pheader->locktid==0 && pheader->lockcount==0", kSource,
                          __LINE__, MemName.Buf(), false);
            else
                LOGIT("SHAREDMEMORY::SHAREDMEMORY Hijacking sem 0x%x because owning pid %d appears to be dead\n",
                      h->locktid, static_cast<int>(h->lockpid));
        }
        h->lockpid = pid;
        h->locktid = tid;
        h->lockcount = 1;
    }
    LOGIT("SHAREDMEMORY::Lock %s pheader->lockpid/tid/lockcount after %08lx/%08lx/%d\n", MemName.Buf(),
          static_cast<unsigned long>(h->lockpid), static_cast<unsigned long>(h->locktid), h->lockcount);
    MetaLock->Mux.Release();
    LOGIT("SHAREDMEMORY::Lock %p returns ok\n", static_cast<void*>(this));
    if (mapped)
        *mapped = pMemory + kHeaderSize;
    return true;
}

bool SHAREDMEMORY::Unlock(char* mapped)
{
    if (mapped && (!pMemory || mapped != pMemory + kHeaderSize))
        AssertMsg(0, "pmapped==this->pMemory+sizeof(SHAREDMEMORY::HEADER) || pmapped==NULL", kSource, __LINE__,
                  MemName.Buf(), false);
    if (!pMemory || !LogicalLock)
        return false;
    HEADER* h = Header();
    uint32_t pid = static_cast<uint32_t>(getpid());
    uint32_t tid = OSYS::GetCurrentThreadId();

    MetaLock->Mux.Obtain(-1);
    LOGIT("SHAREDMEMORY::Unlock %s pheader->lockpid/locktid/lockcount begin %08lx/%08lx/%d\n", MemName.Buf(),
          static_cast<unsigned long>(h->lockpid), static_cast<unsigned long>(h->locktid), h->lockcount);
    // An unbalanced Unlock changes nothing: lowering another holder's count
    // would hand the block to two users at once.
    bool ok = true;
    if (!(h->lockpid == pid && h->locktid == tid)) {
        AssertMsg(0, "pheader->lockpid==pid && pheader->locktid==tid", kSource, __LINE__, MemName.Buf(), false);
        ok = false;
    } else if (!(h->lockcount > 0)) {
        AssertMsg(0, "pheader->lockcount>0", kSource, __LINE__, MemName.Buf(), false);
        ok = false;
    } else if (--h->lockcount == 0) {
        h->lockpid = 0;
        h->locktid = 0;
        LOGIT("SHAREDMEMORY::Unlock %s release mutex\n", MemName.Buf());
        if (LogicalLock->Held.exchange(false))
            LogicalLock->Mux.Release();
    }
    LOGIT("SHAREDMEMORY::Unlock %s pheader->lockpid/tid/lockcount after %08lx/%08lx/%d\n", MemName.Buf(),
          static_cast<unsigned long>(h->lockpid), static_cast<unsigned long>(h->locktid), h->lockcount);
    MetaLock->Mux.Release();
    return ok;
}

int SHAREDMEMORY::ChangeUsers(DWORD pid, bool add, bool* done)
{
    *done = false;
    if (!pMemory)
        return 0;
    HEADER* h = Header();
    MetaLock->Mux.Obtain(-1);
    int live = 0;
    for (uint32_t& slot : h->pids) {
        if (slot != 0 && !ProcessExists(slot))
            slot = 0; // a user that died without closing
        if (!*done && (add ? slot == 0 : slot == pid)) {
            slot = add ? pid : 0;
            *done = true;
        }
        live += slot != 0;
    }
    MetaLock->Mux.Release();
    if (!*done)
        AssertMsg(0, "didit", kSource, __LINE__, MemName.Buf(), false);
    return live;
}

int SHAREDMEMORY::AddRef(DWORD pid)
{
    bool done;
    return ChangeUsers(pid, true, &done);
}

int SHAREDMEMORY::DeRef(DWORD pid)
{
    bool done;
    return ChangeUsers(pid, false, &done);
}

int SHAREDMEMORY::GetRefCount()
{
    if (!pMemory)
        return 0;
    HEADER* h = Header();
    MetaLock->Mux.Obtain(-1);
    int live = 0;
    for (uint32_t& slot : h->pids) {
        if (slot != 0 && !ProcessExists(slot))
            slot = 0;
        live += slot != 0;
    }
    MetaLock->Mux.Release();
    return live;
}

char* SHAREDMEMORY::GetMappedPtr() const
{
    return pMemory ? pMemory + kHeaderSize : nullptr;
}
