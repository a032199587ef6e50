// Shared memory: the recursive per-thread lock, the user table, takeover
// from a holder killed with SIGKILL, removal by the last user, and the
// permissions of the memory object.
#include "velmot/core/sharedmem.h"
#include "tests/velmot/core/sys_testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using systest::Asserted;
using systest::Asserts;
using testutil::TempDir;

namespace {

class SharedMem : public systest::SysTest {
protected:
    // A name of this test and process (shared memory names are system-wide).
    std::string Name(char const* what)
    {
        std::string name = std::string(what) + std::to_string(getpid() % 100000);
        names_.push_back(name);
        return name;
    }
    static std::string ShmFile(std::string const& name) { return "/dev/shm/" + name + ".i386.mem"; }
    static SHAREDMEMORY::HEADER const* HeaderOf(SHAREDMEMORY const& shm)
    {
        return reinterpret_cast<SHAREDMEMORY::HEADER const*>(shm.GetMappedPtr() - sizeof(SHAREDMEMORY::HEADER));
    }
    void TearDown() override
    {
        for (auto const& n : names_)
            shm_unlink(("/" + n + ".i386.mem").c_str());
        SysTest::TearDown();
    }
    std::vector<std::string> names_;
};

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

TEST_F(SharedMem, TheLockIsRecursivePerThreadAcrossObjects)
{
    std::string name = Name("rec");
    SHAREDMEMORY a(name.c_str(), 100);
    SHAREDMEMORY b(name.c_str(), 100);
    ASSERT_NE(nullptr, a.GetMappedPtr());
    EXPECT_EQ(2, a.GetRefCount()); // this process twice

    char* pa = nullptr;
    char* pb = nullptr;
    ASSERT_TRUE(a.Lock(&pa, 0));
    ASSERT_TRUE(b.Lock(&pb, 0)); // the same thread through the second object: at once
    EXPECT_EQ(2u, HeaderOf(a)->lockcount);
    EXPECT_EQ(static_cast<uint32_t>(getpid()), HeaderOf(a)->lockpid);
    strcpy(pa, "written through a");
    EXPECT_STREQ("written through a", pb);

    // Another thread of the same process waits like another process.
    EXPECT_FALSE(OnOtherThread([&] {
        char* p = reinterpret_cast<char*>(1);
        bool ok = a.Lock(&p, 100);
        return ok || p != nullptr;
    }));

    EXPECT_TRUE(b.Unlock(pb));
    EXPECT_EQ(1u, HeaderOf(a)->lockcount);
    EXPECT_TRUE(a.Unlock(pa));
    EXPECT_EQ(0u, HeaderOf(a)->lockcount);
    EXPECT_EQ(0u, HeaderOf(a)->lockpid);
    EXPECT_TRUE(OnOtherThread([&] {
        char* p = nullptr;
        bool ok = b.Lock(&p, 1000);
        return ok && b.Unlock(p);
    }));
    EXPECT_TRUE(Asserts().empty());
}

TEST_F(SharedMem, UnbalancedOrForeignUnlocksChangeNothing)
{
    std::string name = Name("unb");
    SHAREDMEMORY shm(name.c_str(), 16);
    char* p = nullptr;

    EXPECT_FALSE(shm.Unlock(nullptr));
    EXPECT_TRUE(Asserted("pheader->lockpid==pid && pheader->locktid==tid"));

    ASSERT_TRUE(shm.Lock(&p, 0));
    Asserts().clear();
    char other[4];
    EXPECT_TRUE(shm.Unlock(other)); // reported, and still given back once
    EXPECT_TRUE(Asserted("pmapped==this->pMemory+sizeof(SHAREDMEMORY::HEADER) || pmapped==NULL"));

    // Another thread cannot give back what this one holds.
    ASSERT_TRUE(shm.Lock(&p, 0));
    Asserts().clear();
    EXPECT_FALSE(OnOtherThread([&] { return shm.Unlock(p); }));
    EXPECT_EQ(1u, HeaderOf(shm)->lockcount);
    EXPECT_TRUE(shm.Unlock(p));
}

TEST_F(SharedMem, UserTableCountsLiveProcessesAndOverflows)
{
    std::string name = Name("tab");
    SHAREDMEMORY shm(name.c_str(), 8);
    EXPECT_EQ(1, shm.GetRefCount());
    // A recorded user that no longer exists is dropped when counting.
    pid_t dead = fork();
    if (dead == 0)
        _exit(0);
    ASSERT_GT(dead, 0);
    waitpid(dead, nullptr, 0);
    shm.AddRef(static_cast<DWORD>(dead));
    EXPECT_EQ(1, shm.GetRefCount());

    for (int i = 0; i < 63; ++i)
        shm.AddRef(static_cast<DWORD>(getpid()));
    EXPECT_TRUE(Asserts().empty());
    EXPECT_EQ(64, shm.AddRef(static_cast<DWORD>(getpid()))); // the 65th
    EXPECT_TRUE(Asserted("didit"));
    for (int i = 0; i < 63; ++i)
        shm.DeRef(static_cast<DWORD>(getpid()));
    EXPECT_EQ(1, shm.GetRefCount());
    Asserts().clear();
    EXPECT_EQ(1, shm.DeRef(12345678));
    EXPECT_TRUE(Asserted("didit"));
}

TEST_F(SharedMem, TakesOverFromAHolderKilledWithSigkill)
{
    std::string name = Name("kill");
    TempDir dir;
    pid_t holder = systest::StartProbe({"shmhold", name, dir.file("ready")});
    ASSERT_GT(holder, 0);
    for (int i = 0; i < 1000 && !std::filesystem::exists(dir.file("ready")); ++i)
        usleep(10000);
    ASSERT_TRUE(std::filesystem::exists(dir.file("ready")));
    kill(holder, SIGKILL);
    EXPECT_EQ(-1, systest::WaitProbe(holder)); // died by the signal

    {
        SHAREDMEMORY shm(name.c_str(), 64);
        ASSERT_NE(nullptr, shm.GetMappedPtr());
        EXPECT_EQ(1, shm.GetRefCount()); // the dead holder no longer counts
        char* p = nullptr;
        ASSERT_TRUE(shm.Lock(&p, 1000));
        // The dead holder's fields (it held the lock twice) were cleared.
        EXPECT_EQ(1u, HeaderOf(shm)->lockcount);
        EXPECT_EQ(static_cast<uint32_t>(getpid()), HeaderOf(shm)->lockpid);
        EXPECT_STREQ("left by the holder", p);
        EXPECT_TRUE(shm.Unlock(p));
        EXPECT_EQ(0u, HeaderOf(shm)->lockcount);

        // Another process gets the block now.
        pid_t other = systest::StartProbe({"shmtry", name, "2000"});
        ASSERT_GT(other, 0);
        EXPECT_EQ(0, systest::WaitProbe(other));
        EXPECT_TRUE(Asserts().empty());
        EXPECT_TRUE(std::filesystem::exists(ShmFile(name)));
    }
    // This was the last live user: the block is gone.
    EXPECT_FALSE(std::filesystem::exists(ShmFile(name)));
}

TEST_F(SharedMem, TheBlockIsPrivateToTheUser)
{
    std::string name = Name("perm");
    {
        SHAREDMEMORY shm(name.c_str(), 32);
        struct stat st;
        ASSERT_EQ(0, stat(ShmFile(name).c_str(), &st));
        EXPECT_EQ(0600u, st.st_mode & 0777);
        EXPECT_EQ(static_cast<off_t>(268 + 32), st.st_size);
    }

    // An object left readable by others is made private before use.
    int fd = shm_open(("/" + name + ".i386.mem").c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_GE(fd, 0);
    fchmod(fd, 0666);
    close(fd);
    {
        SHAREDMEMORY shm(name.c_str(), 32);
        ASSERT_NE(nullptr, shm.GetMappedPtr());
        struct stat st;
        ASSERT_EQ(0, stat(ShmFile(name).c_str(), &st));
        EXPECT_EQ(0600u, st.st_mode & 0777);
    }

    if (geteuid() == 0) {
        // An object of another user is not used at all.
        fd = shm_open(("/" + name + ".i386.mem").c_str(), O_RDWR | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(0, fchown(fd, 65534, 65534));
        close(fd);
        Asserts().clear();
        SHAREDMEMORY shm(name.c_str(), 32);
        EXPECT_EQ(nullptr, shm.GetMappedPtr());
        EXPECT_TRUE(Asserted("this->pLogicalLock && this->hMem && this->pMemory"));
    }
}

TEST_F(SharedMem, AnObjectThatCouldNotMapIsHarmless)
{
    // A name the system cannot hold: nothing is mapped, locking is refused,
    // and destroying the object touches nothing.
    {
        SHAREDMEMORY shm("bad/name", 16);
        EXPECT_EQ(nullptr, shm.GetMappedPtr());
        EXPECT_TRUE(Asserted("this->pLogicalLock && this->hMem && this->pMemory"));
        char* p = reinterpret_cast<char*>(1);
        EXPECT_FALSE(shm.Lock(&p, 0));
        EXPECT_EQ(nullptr, p);
        EXPECT_EQ(0, shm.GetRefCount());
    }
    Asserts().clear();
    std::string longname = Name("n") + std::string(21, 'x');
    longname = longname.substr(0, 21);
    names_.push_back(longname);
    SHAREDMEMORY shm(longname.c_str(), 16);
    EXPECT_TRUE(Asserted("strlen(name) <= PLATFORMDEPENDENT(6,20)"));
}

TEST_F(SharedMem, TheLastUserRemovesTheBlockAndANewOneStartsEmpty)
{
    std::string name = Name("last");
    {
        SHAREDMEMORY a(name.c_str(), 8);
        {
            SHAREDMEMORY b(name.c_str(), 8);
            char* p = nullptr;
            ASSERT_TRUE(b.Lock(&p, 0));
            strcpy(p, "data");
            b.Unlock(p);
        }
        EXPECT_TRUE(std::filesystem::exists(ShmFile(name))); // a still uses it
        EXPECT_STREQ("data", a.GetMappedPtr());
    }
    EXPECT_FALSE(std::filesystem::exists(ShmFile(name)));
    SHAREDMEMORY fresh(name.c_str(), 8);
    EXPECT_STREQ("", fresh.GetMappedPtr());
    EXPECT_EQ(1, fresh.GetRefCount());
}
