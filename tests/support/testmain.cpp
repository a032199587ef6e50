// Entry point of every test binary: makes sure the private home and XDG
// folders named by the environment exist (the runtime folder 0700), then runs
// GoogleTest.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <cerrno>
#include <cstdlib>
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
