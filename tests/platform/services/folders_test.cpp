// Standard folders: the program's private runtime folder inside the one
// $XDG_RUNTIME_DIR names, and the user's own folders, which are never made.
#include "platform/services/folders.h"

#include "tests/platform/services/env_guard.h"
#include "tests/support/testutil.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t ModeOf(std::string const& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

// With XDG_RUNTIME_DIR=/tmp (a common container setting) the folder is the
// system's: its mode is never touched; the program works in a folder of its
// own in it, and uses one that is not private to it not at all.
TEST(Folders, TheRuntimeFolderIsAPrivateFolderOfItsOwn)
{
    testutil::TempDir dir;
    std::string const shared = dir.file("shared");
    std::filesystem::create_directories(shared);
    chmod(shared.c_str(), 01777);
    EnvGuard env;
    env.Set("XDG_RUNTIME_DIR", shared);

    std::string const own = plat::FolderPath(plat::Folder::Runtime);
    EXPECT_EQ(own, shared + "/qor/");
    EXPECT_EQ(ModeOf(shared), 01777u) << "the folder the variable names is left as it is";
    EXPECT_EQ(ModeOf(shared + "/qor"), 0700u);

    // A folder of that name that others may enter is not used, and stays.
    chmod((shared + "/qor").c_str(), 0755);
    EXPECT_EQ(plat::FolderPath(plat::Folder::Runtime), "");
    EXPECT_EQ(ModeOf(shared + "/qor"), 0755u);

    // Nor is a link to a private folder.
    std::filesystem::remove(shared + "/qor");
    std::filesystem::create_directories(dir.file("elsewhere"));
    chmod(dir.file("elsewhere").c_str(), 0700);
    ASSERT_EQ(symlink(dir.file("elsewhere").c_str(), (shared + "/qor").c_str()), 0);
    EXPECT_EQ(plat::FolderPath(plat::Folder::Runtime), "");

    // A folder the variable names that is not there is not made.
    env.Set("XDG_RUNTIME_DIR", dir.file("missing"));
    EXPECT_EQ(plat::FolderPath(plat::Folder::Runtime), "");
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

// The user's folders are taken from user-dirs.dirs where they exist and
// never made; the home folder stands in for one that is missing.
TEST(Folders, TheUsersFoldersAreNeverMade)
{
    testutil::TempDir dir;
    std::string const home = dir.file("home");
    std::filesystem::create_directories(home + "/config");
    std::filesystem::create_directories(home + "/Stuff");
    testutil::WriteFile(home + "/config/user-dirs.dirs",
                        "XDG_DOWNLOAD_DIR=\"$HOME/Stuff\"\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    EnvGuard env;
    env.Set("HOME", home);
    env.Set("XDG_CONFIG_HOME", home + "/config");
    struct {
        plat::Folder folder;
        std::string expected;
    } const cases[] = {
        {plat::Folder::Downloads, home + "/Stuff/"},
        {plat::Folder::Desktop, home + "/"},
        {plat::Folder::Documents, home + "/"},
        {plat::Folder::Pictures, home + "/"},
    };
    for (auto const& c : cases) {
        EXPECT_EQ(plat::FolderPath(c.folder, true), c.expected);
        EXPECT_EQ(plat::FolderPath(c.folder, false), c.expected);
    }
    int entries = 0;
    for ([[maybe_unused]] auto const& e : std::filesystem::directory_iterator(home))
        ++entries;
    EXPECT_EQ(entries, 2) << "nothing was made in the home folder";
}
