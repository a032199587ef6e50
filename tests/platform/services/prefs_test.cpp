#include "platform/services/prefs.h"

#include "tests/support/testutil.h"

#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using plat::Bytes;
using plat::PrefScope;
using plat::Text;

constexpr char kDomain[] = "org.example.prefstest";
constexpr PrefScope kUser = PrefScope::CurrentUser;

// Runs body in a child process and returns its exit status (-1 when it did
// not end normally). The child never returns into the test.
template <typename Body>
int InChild(Body body)
{
    pid_t pid = fork();
    if (pid == 0) {
        // A fresh process has no cached preferences.
        plat::ResetPrefsCache();
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class PrefsStore : public testing::Test {
protected:
    void SetUp() override
    {
        plat::SetPrefFolder(kUser, dir_.path() + "/user");
        plat::SetPrefFolder(PrefScope::AnyUserCurrentHost, dir_.path() + "/any");
    }
    void TearDown() override
    {
        plat::SetPrefFolder(kUser, "");
        plat::SetPrefFolder(PrefScope::AnyUserCurrentHost, "");
    }
    std::string File() const { return plat::PrefFilePath(kDomain, kUser); }

    testutil::TempDir dir_;
};

TEST_F(PrefsStore, EveryTypeWrittenByOneProcessIsReadByAnother)
{
    // Read first, so that this process has the (missing) file cached and
    // must notice the other process's write.
    EXPECT_FALSE(plat::GetPref(kDomain, "number", kUser));

    Bytes const data{0x00, 0x01, 0xFE, 0xFF, '\n'};
    Text const text = Text::FromUtf8("Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80 = \\");
    ASSERT_EQ(InChild([&] {
                  return plat::SetPref(kDomain, "number", std::int32_t{-123456}, kUser) &&
                         plat::SetPref(kDomain, "Windows:Data", data, kUser) &&
                         plat::SetPref(kDomain, "text", text, kUser) &&
                         plat::SynchronizePrefs(kDomain, kUser);
              }),
              0);

    EXPECT_EQ(plat::GetPref(kDomain, "number", kUser), plat::PrefValue(std::int32_t{-123456}));
    EXPECT_EQ(plat::GetPref(kDomain, "Windows:Data", kUser), plat::PrefValue(data));
    EXPECT_EQ(plat::GetPref(kDomain, "text", kUser), plat::PrefValue(text));
    EXPECT_EQ(plat::PrefKeys(kDomain, kUser),
              (std::vector<std::string>{"Windows:Data", "number", "text"}));

    struct stat st;
    ASSERT_EQ(stat(File().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((dir_.path() + "/user").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(PrefsStore, TwoProcessesWritingDifferentKeysBothSurvive)
{
    ASSERT_TRUE(plat::SetPref(kDomain, "gone", std::int32_t{1}, kUser));
    ASSERT_TRUE(plat::SynchronizePrefs(kDomain, kUser));

    int go[2];
    ASSERT_EQ(pipe(go), 0);
    auto writer = [&](char const* key, bool removeGone) {
        pid_t pid = fork();
        if (pid == 0) {
            plat::ResetPrefsCache();
            char c;
            close(go[1]);
            if (read(go[0], &c, 1) != 0) // waits until the parent closes its end
                _exit(3);
            bool ok = true;
            for (std::int32_t i = 0; i < 40 && ok; ++i) {
                ok = plat::SetPref(kDomain, key, i, kUser);
                if (removeGone && i == 20)
                    ok = ok && plat::SetPref(kDomain, "gone", std::nullopt, kUser);
                ok = ok && plat::SynchronizePrefs(kDomain, kUser);
            }
            _exit(ok ? 0 : 1);
        }
        return pid;
    };
    pid_t a = writer("first", false);
    pid_t b = writer("second", true);
    close(go[0]);
    close(go[1]); // both start now
    for (pid_t pid : {a, b}) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    plat::ResetPrefsCache();
    EXPECT_EQ(plat::GetPref(kDomain, "first", kUser), plat::PrefValue(std::int32_t{39}));
    EXPECT_EQ(plat::GetPref(kDomain, "second", kUser), plat::PrefValue(std::int32_t{39}));
    EXPECT_FALSE(plat::GetPref(kDomain, "gone", kUser));
}

// A file changed by another process within the same tick of the file
// system's clock can keep its stamp (size, date and, once a replaced file's
// number is handed out again, its number): a value read so soon after the
// file's change is read again.
TEST_F(PrefsStore, AChangeThatKeepsTheFilesStampIsSeen)
{
    ASSERT_TRUE(plat::SetPref(kDomain, "counter", std::int32_t{1}, kUser));
    ASSERT_TRUE(plat::SynchronizePrefs(kDomain, kUser));
    ASSERT_EQ(plat::GetPref(kDomain, "counter", kUser), plat::PrefValue(std::int32_t{1}));
    struct stat before;
    ASSERT_EQ(stat(File().c_str(), &before), 0);

    // Another writer: the same size, the same file and the same date.
    std::string text = testutil::ReadFile(File());
    size_t const at = text.find("counter=1");
    ASSERT_NE(at, std::string::npos);
    text[at + 8] = '2';
    int fd = open(File().c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, text.data(), text.size(), 0), ssize_t(text.size()));
    struct timespec const times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(futimens(fd, times), 0);
    close(fd);

    EXPECT_EQ(plat::GetPref(kDomain, "counter", kUser), plat::PrefValue(std::int32_t{2}));
}

TEST_F(PrefsStore, AWriterKilledMidWayLeavesTheOldOrTheNewFile)
{
    std::size_t const size = 1 << 20;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    if (pid == 0) {
        plat::ResetPrefsCache();
        close(ready[0]);
        for (int i = 0; i < 2000; ++i) {
            Bytes value(size, static_cast<std::uint8_t>(i % 2 ? 'B' : 'A'));
            if (!plat::SetPref(kDomain, "big", value, kUser) ||
                !plat::SynchronizePrefs(kDomain, kUser))
                _exit(1);
            if (i == 0 && write(ready[1], "r", 1) != 1)
                _exit(1);
        }
        _exit(0);
    }
    close(ready[1]);
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    usleep(20 * 1000); // let it get into the middle of later writes
    kill(pid, SIGKILL);
    int status;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);

    std::string file = testutil::ReadFile(File());
    plat::ParsedPrefs parsed = plat::ParsePrefs(file);
    EXPECT_FALSE(parsed.damaged);
    ASSERT_EQ(parsed.values.count("big"), 1u);
    Bytes const& value = std::get<Bytes>(parsed.values["big"]);
    ASSERT_EQ(value.size(), size);
    EXPECT_TRUE(value == Bytes(size, 'A') || value == Bytes(size, 'B'));

    // The next writer removes what the killed one left behind.
    ASSERT_TRUE(plat::SetPref(kDomain, "after", std::int32_t{1}, kUser));
    ASSERT_TRUE(plat::SynchronizePrefs(kDomain, kUser));
    std::vector<std::string> left;
    for (auto const& e : std::filesystem::directory_iterator(dir_.path() + "/user"))
        left.push_back(e.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{std::string(".") + kDomain + ".prefs.lock",
                                              std::string(kDomain) + ".prefs"}));
}

TEST_F(PrefsStore, AFileThatCannotBeReadIsNeverReplaced)
{
    struct Case {
        char const* what;
        std::function<void(std::string const&)> spoil;
    };
    std::vector<Case> cases = {
        {"a folder in its place",
         [](std::string const& path) { std::filesystem::create_directory(path); }},
        {"larger than any preferences file",
         [](std::string const& path) {
             testutil::WriteFile(path, "QORPREFS 1\n");
             ASSERT_EQ(truncate(path.c_str(), 17 << 20), 0);
         }},
    };
    if (geteuid() != 0) {
        cases.push_back({"no read permission", [](std::string const& path) {
                             testutil::WriteFile(path, "QORPREFS 1\nn kept=1\n");
                             chmod(path.c_str(), 0);
                         }});
    }
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(dir_.path() + "/user");
        plat::ResetPrefsCache();
        std::filesystem::create_directories(dir_.path() + "/user");
        c.spoil(File());
        struct stat before;
        ASSERT_EQ(stat(File().c_str(), &before), 0);
        EXPECT_FALSE(plat::GetPref(kDomain, "kept", kUser));
        ASSERT_TRUE(plat::SetPref(kDomain, "new", std::int32_t{2}, kUser));
        EXPECT_FALSE(plat::SynchronizePrefs(kDomain, kUser));
        EXPECT_FALSE(plat::CanWritePrefs(kDomain, kUser));
        struct stat after;
        ASSERT_EQ(stat(File().c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_size, before.st_size);
        chmod(File().c_str(), 0600);
    }
}

TEST_F(PrefsStore, DamagedFileIsKeptAsideAndItsGoodValuesSurvive)
{
    std::filesystem::create_directories(dir_.path() + "/user");
    std::string const damaged = "QORPREFS 1\nn good=7\n??? not a line\nd half=abc\n";
    testutil::WriteFile(File(), damaged);
    EXPECT_EQ(plat::GetPref(kDomain, "good", kUser), plat::PrefValue(std::int32_t{7}));
    ASSERT_TRUE(plat::SetPref(kDomain, "new", Text::FromUtf8("v"), kUser));
    ASSERT_TRUE(plat::SynchronizePrefs(kDomain, kUser));
    EXPECT_EQ(testutil::ReadFile(File() + ".bad"), damaged);
    EXPECT_EQ(testutil::ReadFile(File()), "QORPREFS 1\nn good=7\ns new=v\n");
}

TEST_F(PrefsStore, KeysDeletionAndScopes)
{
    for (char const* key : {"b", "a", "sub:c"})
        ASSERT_TRUE(plat::SetPref(kDomain, key, std::int32_t{1}, kUser));
    ASSERT_TRUE(plat::SynchronizePrefs(kDomain, kUser));
    ASSERT_TRUE(plat::SetPref(kDomain, "b", std::nullopt, kUser));
    ASSERT_TRUE(plat::SetPref(kDomain, "never-there", std::nullopt, kUser));
    EXPECT_EQ(plat::PrefKeys(kDomain, kUser), (std::vector<std::string>{"a", "sub:c"}));
    ASSERT_TRUE(plat::SynchronizePrefs(kDomain, kUser));
    plat::ResetPrefsCache();
    EXPECT_EQ(plat::PrefKeys(kDomain, kUser), (std::vector<std::string>{"a", "sub:c"}));
    EXPECT_FALSE(plat::GetPref(kDomain, "b", kUser));

    // The other scope is another file.
    EXPECT_TRUE(plat::PrefKeys(kDomain, PrefScope::AnyUserCurrentHost).empty());
    EXPECT_TRUE(plat::CanWritePrefs(kDomain, PrefScope::AnyUserCurrentHost));
    ASSERT_TRUE(plat::SetPref(kDomain, "host", std::int32_t{3}, PrefScope::AnyUserCurrentHost));
    ASSERT_TRUE(plat::SynchronizePrefs(kDomain, PrefScope::AnyUserCurrentHost));
    struct stat st;
    ASSERT_EQ(stat(plat::PrefFilePath(kDomain, PrefScope::AnyUserCurrentHost).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u) << "every user must be able to read it";
    EXPECT_FALSE(plat::GetPref(kDomain, "host", kUser));

    // Unwritten changes of several domains go out together.
    ASSERT_TRUE(plat::SetPref(kDomain, "late", std::int32_t{4}, kUser));
    ASSERT_TRUE(plat::SetPref("org.example.other", "x", std::int32_t{5}, kUser));
    EXPECT_TRUE(plat::SynchronizeAllPrefs());
    plat::ResetPrefsCache();
    EXPECT_EQ(plat::GetPref(kDomain, "late", kUser), plat::PrefValue(std::int32_t{4}));
    EXPECT_EQ(plat::GetPref("org.example.other", "x", kUser), plat::PrefValue(std::int32_t{5}));

    // Invalid names are refused rather than mapped onto some file.
    for (char const* bad : {"", ".hidden", "a/b", "../x", "sp ace"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(plat::PrefFilePath(bad, kUser), "");
        EXPECT_FALSE(plat::SetPref(bad, "k", std::int32_t{1}, kUser));
        EXPECT_FALSE(plat::SynchronizePrefs(bad, kUser));
    }
    EXPECT_FALSE(plat::SetPref(kDomain, "", std::int32_t{1}, kUser));
    EXPECT_FALSE(plat::SetPref(kDomain, "k", Text(), kUser));
}

TEST_F(PrefsStore, UnchangedValuesLeaveTheFileAlone)
{
    ASSERT_TRUE(plat::SetPref(kDomain, "n", std::int32_t{7}, kUser));
    ASSERT_TRUE(plat::SetPref(kDomain, "t", Text::FromUtf8("same"), kUser));
    ASSERT_TRUE(plat::SynchronizePrefs(kDomain, kUser));
    struct stat before;
    ASSERT_EQ(stat(File().c_str(), &before), 0);

    // The same values again, and the deletion of a key that is not there:
    // the file is not replaced (a replacement is a new inode).
    ASSERT_TRUE(plat::SetPref(kDomain, "n", std::int32_t{7}, kUser));
    ASSERT_TRUE(plat::SetPref(kDomain, "t", Text::FromUtf8("same"), kUser));
    ASSERT_TRUE(plat::SetPref(kDomain, "absent", std::nullopt, kUser));
    ASSERT_TRUE(plat::SynchronizePrefs(kDomain, kUser));
    struct stat after;
    ASSERT_EQ(stat(File().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);

    // One changed value among unchanged ones is written, with them.
    ASSERT_TRUE(plat::SetPref(kDomain, "n", std::int32_t{7}, kUser));
    ASSERT_TRUE(plat::SetPref(kDomain, "t", Text::FromUtf8("other"), kUser));
    ASSERT_TRUE(plat::SynchronizePrefs(kDomain, kUser));
    ASSERT_EQ(stat(File().c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    plat::ResetPrefsCache();
    EXPECT_EQ(plat::GetPref(kDomain, "n", kUser), plat::PrefValue(std::int32_t{7}));
    EXPECT_EQ(plat::GetPref(kDomain, "t", kUser), plat::PrefValue(Text::FromUtf8("other")));
}

TEST_F(PrefsStore, AScopeThatCannotBeWrittenSaysSo)
{
    testutil::WriteFile(dir_.path() + "/file", "x");
    plat::SetPrefFolder(PrefScope::AnyUserCurrentHost, dir_.path() + "/file/prefs");
    EXPECT_FALSE(plat::CanWritePrefs(kDomain, PrefScope::AnyUserCurrentHost));
    ASSERT_TRUE(plat::SetPref(kDomain, "k", std::int32_t{1}, PrefScope::AnyUserCurrentHost));
    EXPECT_FALSE(plat::SynchronizePrefs(kDomain, PrefScope::AnyUserCurrentHost));

    if (geteuid() != 0) {
        std::filesystem::create_directories(dir_.path() + "/ro");
        chmod((dir_.path() + "/ro").c_str(), 0555);
        plat::SetPrefFolder(PrefScope::AnyUserCurrentHost, dir_.path() + "/ro");
        EXPECT_FALSE(plat::CanWritePrefs(kDomain, PrefScope::AnyUserCurrentHost));
        chmod((dir_.path() + "/ro").c_str(), 0755);
    }
}

// A preferences file kept as a link (a folder of dotfiles) is written
// through it: the link stays, the file it names gets the values.
TEST_F(PrefsStore, AFileKeptAsALinkStaysALink)
{
    std::filesystem::create_directories(dir_.path() + "/dotfiles");
    std::filesystem::create_directories(dir_.path() + "/user");
    std::string const real = dir_.path() + "/dotfiles/mine.prefs";
    testutil::WriteFile(real, "QORPREFS 1\nn old=1\n");
    ASSERT_EQ(symlink(real.c_str(), File().c_str()), 0);
    ASSERT_TRUE(plat::SetPref(kDomain, "new", std::int32_t{2}, kUser));
    ASSERT_TRUE(plat::SynchronizePrefs(kDomain, kUser));
    struct stat st;
    ASSERT_EQ(lstat(File().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link is not replaced by a file";
    EXPECT_EQ(testutil::ReadFile(real), "QORPREFS 1\nn new=2\nn old=1\n");
    int entries = 0;
    for ([[maybe_unused]] auto const& e : std::filesystem::directory_iterator(dir_.path() + "/dotfiles"))
        ++entries;
    EXPECT_EQ(entries, 1) << "no temporary file is left beside it";
}

// A synchronisation that fails says which file and why, once, for the
// caller to tell the user: here the preferences folder's file system is full
// (a small file system of a private mount namespace, filled up).
TEST_F(PrefsStore, AFullFileSystemIsReportedWithTheFileAndTheReason)
{
    std::string const mount = dir_.path() + "/small";
    std::filesystem::create_directories(mount);
    int const status = InChild([&] {
        if (geteuid() == 0) {
            if (unshare(CLONE_NEWNS) != 0)
                return false;
        } else {
            uid_t const uid = geteuid();
            gid_t const gid = getegid();
            if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
                return false;
            testutil::WriteFile("/proc/self/setgroups", "deny");
            testutil::WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
            testutil::WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
        }
        if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=64k") != 0)
            return false;
        plat::SetPrefFolder(kUser, mount + "/prefs");
        if (!plat::SetPref(kDomain, "k", std::int32_t{1}, kUser) || !plat::SynchronizePrefs(kDomain, kUser))
            return false;
        // Fill what is left.
        int fd = open((mount + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
        std::string const block(4096, 'x');
        while (write(fd, block.data(), block.size()) > 0) {
        }
        close(fd);
        plat::TakePrefsFailure();
        plat::SetPref(kDomain, "k", Text::FromUtf8(std::string(20000, 'v')), kUser);
        if (plat::SynchronizePrefs(kDomain, kUser))
            return false;
        std::string const failure = plat::TakePrefsFailure();
        bool const says = failure == plat::PrefFilePath(kDomain, kUser) + ": No space left on device";
        if (!says)
            fprintf(stderr, "reported: %s\n", failure.c_str());
        bool const once = plat::TakePrefsFailure().empty();
        bool const kept = plat::HasUnwrittenPrefs();
        bool const old = testutil::ReadFile(plat::PrefFilePath(kDomain, kUser)) == "QORPREFS 1\nn k=1\n";
        return says && once && kept && old;
    });
    EXPECT_EQ(status, 0) << "the failure names the file and the reason, and the old file stays";
}

} // namespace
