// SHAREDMEMORY: a named block of memory that every process of the user can
// open by the same name.
//
// The block carries a header that records which process and thread hold
// its logical lock and which processes use it, so that the lock is
// recursive per thread (not per process: another thread of the same process
// waits like another process), a holder that dies does not block the
// others, and the block is removed when the last user closes it.
//
// System objects, named after the caller's name (at most 20 characters):
//   "<name>.i386.msem"  meta lock (GLOBALMUTEX): guards the header fields
//   "<name>.i386.lsem"  logical lock (GLOBALMUTEX): held around the use of
//                       the user area
//   "/<name>.i386.mem"  POSIX shared memory: header and user area, mode 0600
//                       and owned by the user (an object of another user,
//                       or one that others may read, is refused)
//
// Layout of the memory object (machine byte order, every field 32 bits):
//   0    lock process id (0 = none)
//   4    lock thread id (0 = none)
//   8    lock count (0 = not held)
//   12   64 process ids of the users of the block (0 = empty slot)
//   268  user area of the size given to the constructor
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

#include <memory>

class VELMOT_EXPORT SHAREDMEMORY {
public:
    struct HEADER {
        uint32_t lockpid;
        uint32_t locktid;
        uint32_t lockcount;
        uint32_t pids[64];
    };
    static constexpr int MAXNAME = 20;

    // A named lock shared by every object of this process on the same name
    // (see sharedmem.cpp).
    struct NAMEDLOCK;

    SHAREDMEMORY(char const* name, int size);
    virtual ~SHAREDMEMORY();
    SHAREDMEMORY(SHAREDMEMORY const&) = delete;
    SHAREDMEMORY& operator=(SHAREDMEMORY const&) = delete;

    // Takes the logical lock (recursively for the holding thread), waiting
    // at most timeout ms (-1: no limit); stores the user area through
    // mapped (null on failure).
    bool Lock(char** mapped, int timeout = -1);
    // Gives the lock back once; mapped must be the user area or null.
    bool Unlock(char* mapped);

    // The users' process ids: returns the count of live users.
    int AddRef(DWORD pid);
    int DeRef(DWORD pid);
    int GetRefCount();

    // The user area, without locking; null when the block could not be
    // mapped.
    char* GetMappedPtr() const;

private:
    HEADER* Header() const { return reinterpret_cast<HEADER*>(pMemory); }
    bool Open();
    void Close();
    int ChangeUsers(DWORD pid, bool add, bool* done);

    STRING MetaName;
    std::shared_ptr<NAMEDLOCK> MetaLock;
    STRING LogicalName;
    std::shared_ptr<NAMEDLOCK> LogicalLock; // none when the memory object could not be opened
    STRING MemName;
    char* pMemory = nullptr;
    size_t MapLength = 0;
    int32_t Size = 0;
    int hMem = -1;
    bool Registered = false; // this process's id is in the user table
};

static_assert(sizeof(SHAREDMEMORY::HEADER) == 268, "the header is a cross-process format");
