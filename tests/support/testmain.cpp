// Entry point of every test binary: starts from an empty private home (what
// an earlier run wrote there would change this run), makes sure the home and
// XDG folders named by the environment exist (the runtime folder 0700), then
// runs GoogleTest.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>

namespace {

void MakePath(const std::string& path, mode_t mode)
{
    if (path.empty())
        return;
    for (size_t pos = 1; pos != std::string::npos; ) {
        pos = path.find('/', pos);
        std::string part = path.substr(0, pos);
        mkdir(part.c_str(), 0755);
        if (pos != std::string::npos)
            ++pos;
    }
    chmod(path.c_str(), mode);
}

void MakeFromEnv(const char* name, mode_t mode)
{
    if (const char* value = std::getenv(name))
        MakePath(value, mode);
}

// Empties $HOME when it is one of the private homes the build gives its
// test binaries (a folder of $QOR_TEST_HOME_ROOT); any other home is left
// alone, so a binary started by hand never touches the user's files.
void ClearPrivateHome()
{
    const char* root = std::getenv("QOR_TEST_HOME_ROOT");
    const char* home = std::getenv("HOME");
    if (!root || !home || root[0] != '/' || std::string(root).find("/testhome") == std::string::npos)
        return;
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path const r = fs::weakly_canonical(root, ec);
    fs::path const h = fs::weakly_canonical(home, ec);
    if (ec || h.parent_path() != r)
        return;
    fs::remove_all(h, ec);
}

// Before any other static object of the binary: test environments and
// fixtures made at start-up may already put folders into the home.
struct CLEARHOME {
    CLEARHOME() { ClearPrivateHome(); }
};
__attribute__((init_priority(101))) CLEARHOME ClearHome;

} // namespace

int main(int argc, char** argv)
{
    MakeFromEnv("HOME", 0755);
    MakeFromEnv("XDG_CONFIG_HOME", 0755);
    MakeFromEnv("XDG_DATA_HOME", 0755);
    MakeFromEnv("XDG_STATE_HOME", 0755);
    MakeFromEnv("XDG_CACHE_HOME", 0755);
    MakeFromEnv("XDG_RUNTIME_DIR", 0700);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
