// The password cache on both stores: the desktop keyring through libsecret
// (a gnome-keyring-daemon the test unlocks inside dbus-run-session) and the
// 0600 file.
#include "program/settings/passwordcache.h"
#include "program/settings/programsettings.h"
#include "program/settings/settingshost.h"

#include "platform/services/folders.h"
#include "platform/services/keychain.h"
#include "velmot/gui/windows.h"

#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct HOST : SETTINGSHOST {
    ADMINOPTS Record{};
    ADMINOPTS& Admin() override { return Record; }
};

// The store of this run: the Secret Service when the outer test started
// this binary inside its own session bus, else the file store.
bool SecretServiceRun()
{
    char const* s = getenv("QOR_TEST_KEYRING");
    return s && strcmp(s, "1") == 0;
}

class Cache : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (SecretServiceRun()) {
            plat::KeychainUseStore(plat::KeychainStore::SecretService);
            ASSERT_EQ(plat::KeychainActiveStore(), plat::KeychainStore::SecretService);
        } else {
            plat::KeychainUseStore(plat::KeychainStore::File, Dir.file("keychain"));
        }
        Settings.PwdAutoExpire = 30;
        Make();
        cache->ResetStore(nullptr);
    }
    void Make()
    {
        cache = std::make_unique<PASSWORDCACHE>(Host, &Settings, Dir.path().c_str());
        cache->Clock = [this] { return Now; };
    }
    int Count()
    {
        HASHLIST all;
        EXPECT_TRUE(cache->LockTable());
        EXPECT_TRUE(cache->ReadPasswords(all));
        cache->UnlockTable();
        return all.NumItems();
    }
    std::string Password(char const* ref)
    {
        STRING user, pass("unset");
        if (!cache->GetLogin(0, ref, &user, &pass))
            return "<none>";
        return pass.Buf();
    }
    testutil::TempDir Dir;
    HOST Host;
    PROGRAMSETTINGSDATA Settings{};
    std::unique_ptr<PASSWORDCACHE> cache;
    unsigned long long Now = 1700000000ULL;
};

} // namespace

TEST_F(Cache, Logins)
{
    struct STEP {
        char const* What;
        int Type;
        char const* Ref;
        char const* User;
        char const* Password; // null: a look-up only
        long long Later;      // seconds passed before the step
        int Expire;           // PwdAutoExpire
        char const* Lookup;   // the reference looked up after the step
        char const* Want;     // its password, "<none>" when not found
        int Entries;
    } const steps[] = {
        {"stored", 30, "bob@host:22", "bob", "pw1", 0, 30, "bob@host:22", "pw1", 1},
        {"same reference in other letters updates it", 30, "BOB@HOST:22", "bob", "pw2", 0, 30, "bob@host:22", "pw2", 1},
        {"found whatever type is asked", 31, "key:/k", "bob", "phrase", 0, 30, "key:/k", "phrase", 2},
        {"an empty secret removes the login", 30, "bob@host:22", "bob", "", 0, 30, "bob@host:22", "<none>", 1},
        {"a quick-connect user name stays without password", 10, "bob@host", "bob", "", 0, 30, "bob@host", "", 2},
        {"\"<NULL>\" is no password", 32, "bob@host:22|Code: ", "bob", "<NULL>", 0, 30, "bob@host:22|Code: ", "unset",
         3},
        {"nothing expires with 0 days", 0, nullptr, nullptr, nullptr, 400LL * 86400, 0, "key:/k", "phrase", 3},
        {"31 days are more than 30", 0, nullptr, nullptr, nullptr, 31LL * 86400, 30, "key:/k", "<none>", 0},
    };
    for (STEP const& s : steps) {
        SCOPED_TRACE(s.What);
        Now += static_cast<unsigned long long>(s.Later);
        Settings.PwdAutoExpire = s.Expire;
        if (s.Password)
            ASSERT_TRUE(cache->SaveLogin(s.Type, s.Ref, s.User, s.Password));
        EXPECT_EQ(Password(s.Lookup), s.Want);
        EXPECT_EQ(Count(), s.Entries) << "expired logins are written back as gone";
    }
}

TEST_F(Cache, DisabledByTheAdministrator)
{
    ASSERT_TRUE(cache->SaveLogin(30, "a@h:22", "a", "pw"));
    Host.Record.DisableStoredPasswords = 1;
    EXPECT_FALSE(cache->SaveLogin(30, "b@h:22", "b", "pw"));
    EXPECT_EQ(Password("a@h:22"), "<none>");
    Host.Record.DisableStoredPasswords = 0;
    EXPECT_EQ(Count(), 1);
}

TEST_F(Cache, DialogWorksOnACopy)
{
    ASSERT_TRUE(cache->SaveLogin(30, "a@h:22", "a", "pw"));
    ASSERT_TRUE(cache->SaveLogin(30, "b@h:22", "b", "pw"));
    PASSWORDCACHE other(Host, &Settings, Dir.path().c_str());
    other.Clock = cache->Clock;
    for (bool okay : {false, true}) {
        SCOPED_TRACE(okay ? "OK" : "Cancel");
        cache->DialogHook = [&](HASHLIST& shown) {
            EXPECT_EQ(shown.NumItems(), 2);
            for (int i = 0; i < shown.NumItems(); ++i) {
                if (strcmp((*shown[i])["Ref"].Buf(), "a@h:22") == 0) {
                    shown.DeleteItem(i);
                    break;
                }
            }
            // Another window stores a login while the dialog is open: the
            // locks are free, and the login survives the dialog.
            EXPECT_TRUE(other.SaveLogin(30, okay ? "c@h:22" : "d@h:22", "c", "pw"));
            return okay;
        };
        cache->PasswordsDialog(WINDOW(static_cast<plat::WindowRef>(nullptr)));
        if (!okay) {
            EXPECT_EQ(Password("a@h:22"), "pw") << "Cancel deletes nothing";
            other.SaveLogin(30, "d@h:22", "", ""); // gone again
        } else {
            EXPECT_EQ(Password("a@h:22"), "<none>");
            EXPECT_EQ(Password("b@h:22"), "pw");
            EXPECT_EQ(Password("c@h:22"), "pw");
        }
    }
}

// The file store's own cases (the outer run only).
TEST_F(Cache, FileStoreIsPrivateAndNeverOverwrittenUnread)
{
    ASSERT_TRUE(cache->SaveLogin(30, "a@h:22", "a", "pw"));
    struct stat st;
    ASSERT_EQ(stat(Dir.file("keychain").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(Dir.file("keychain/logins").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // A file that cannot be read is left as it is, and saving reports it.
    testutil::WriteFile(Dir.file("keychain/logins"), "garbage that is no store\n");
    EXPECT_FALSE(cache->SaveLogin(30, "b@h:22", "b", "pw"));
    EXPECT_EQ(testutil::ReadFile(Dir.file("keychain/logins")), "garbage that is no store\n");
    // A store that cannot be written reports the failure.
    testutil::WriteFile(Dir.file("notafolder"), "");
    plat::KeychainUseStore(plat::KeychainStore::File, Dir.file("notafolder/keychain"));
    EXPECT_FALSE(cache->SaveLogin(30, "b@h:22", "b", "pw"));
}

TEST_F(Cache, LockHeldElsewhereFailsQuietly)
{
    // The lock sits in the program's own folder in the runtime folder.
    std::string const path = plat::FolderPath(plat::Folder::Runtime, true) + cache->LockName();
    ASSERT_TRUE(cache->SaveLogin(30, "a@h:22", "a", "pw")); // makes the lock file
    int fd = open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    EXPECT_FALSE(cache->SaveLogin(30, "b@h:22", "b", "pw"));
    close(fd);
    EXPECT_TRUE(cache->SaveLogin(30, "b@h:22", "b", "pw"));
}

TEST(CacheKeyring, SameCasesOnTheSecretService)
{
    // This binary again, inside a session bus of its own with an unlocked
    // gnome-keyring-daemon.
    std::string self = testutil::ReadFile("/proc/self/cmdline");
    self = self.substr(0, self.find('\0'));
    char exe[4096] = {};
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    testutil::TempDir home;
    std::string const script =
        "export HOME=" + home.path() + " XDG_DATA_HOME=" + home.path() + "/data XDG_RUNTIME_DIR=" + home.path() +
        "/run QOR_TEST_KEYRING=1; mkdir -p -m 700 $XDG_RUNTIME_DIR; "
        "eval \"$(printf 'test-keyring' | gnome-keyring-daemon --unlock --components=secrets)\"; "
        "export GNOME_KEYRING_CONTROL; timeout 120 \"$0\" --gtest_filter='Cache.Logins:Cache.Disabled*:Cache.Dialog*'; rc=$?; "
        "exit $rc"; // the daemon ends with the session bus
    std::string out;
    int rc = testutil::RunProgram({"/usr/bin/dbus-run-session", "--", "/bin/sh", "-c", script, exe}, &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("[  PASSED  ]"), std::string::npos) << out;
}
