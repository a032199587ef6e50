#include "platform/services/folders.h"

#include "platform/services/fileio.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {
namespace {

std::string Env(char const* name)
{
    char const* value = std::getenv(name);
    return (value && *value) ? std::string(value) : std::string();
}

std::string HomeFolder()
{
    std::string home = Env("HOME");
    return home.empty() ? std::string("/") : home;
}

std::string EnvOr(char const* name, char const* relativeToHome)
{
    std::string value = Env(name);
    // The XDG rules ignore relative paths.
    if (!value.empty() && value[0] == '/')
        return value;
    return HomeFolder() + "/" + relativeToHome;
}

// Reads XDG_<NAME>_DIR from $XDG_CONFIG_HOME/user-dirs.dirs, where values are
// written as "$HOME/Name" or as an absolute path.
std::string UserDir(char const* key, char const* fallback)
{
    std::string file = EnvOr("XDG_CONFIG_HOME", ".config") + "/user-dirs.dirs";
    std::ifstream in(file);
    std::string line;
    std::string prefix = std::string("XDG_") + key + "_DIR=";
    while (std::getline(in, line)) {
        if (line.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string value = line.substr(prefix.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.compare(0, 5, "$HOME") == 0)
            value = HomeFolder() + value.substr(5);
        if (!value.empty() && value[0] == '/')
            return value;
    }
    return HomeFolder() + "/" + fallback;
}


std::string WithoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The program's private folder for sockets, locks and hand-over files:
// "qor" in $XDG_RUNTIME_DIR, else "qor-<uid>" in /tmp. The folder named by
// the variable is the session's (or, in a container, may be /tmp itself):
// it is never changed, only the program's own folder in it is made.
std::string RuntimeFolder()
{
    std::string value = Env("XDG_RUNTIME_DIR");
    if (!value.empty() && value[0] == '/')
        return WithoutTrailingSlash(value) + "/qor";
    return "/tmp/qor-" + std::to_string(getuid());
}

// Makes the runtime folder (0700) when it is missing and checks it: a real
// folder (no link), of this user, that nobody else may enter. One that
// fails the check is not used, and its mode is never changed: anyone may
// have made a folder of that name first.
bool PrivateFolder(std::string const& path)
{
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

} // namespace

std::string FolderPath(Folder folder, bool create)
{
    std::string path;
    mode_t mode = 0755;
    switch (folder) {
    case Folder::AppSupport: path = EnvOr("XDG_DATA_HOME", ".local/share"); break;
    case Folder::Home: path = HomeFolder(); break;
    case Folder::Pictures: path = UserDir("PICTURES", "Pictures"); break;
    case Folder::Desktop: path = UserDir("DESKTOP", "Desktop"); break;
    case Folder::AppSupportLocal: path = "/usr/local/share"; break;
    case Folder::Documents: path = UserDir("DOCUMENTS", "Documents"); break;
    case Folder::Library: path = HomeFolder() + "/.local"; break;
    case Folder::LibraryLocal: path = "/usr/local/lib"; break;
    case Folder::Logs: path = EnvOr("XDG_STATE_HOME", ".local/state"); break;
    case Folder::Downloads: path = UserDir("DOWNLOAD", "Downloads"); break;
    case Folder::Preferences: path = EnvOr("XDG_CONFIG_HOME", ".config"); break;
    case Folder::Cache: path = EnvOr("XDG_CACHE_HOME", ".cache"); break;
    case Folder::Runtime:
        path = RuntimeFolder();
        return PrivateFolder(path) ? path + "/" : std::string();
    }
    path = WithoutTrailingSlash(path);
    // The user's own folders are the user's to make: one that does not
    // exist is never made, the home folder stands in for it.
    bool const users = folder == Folder::Pictures || folder == Folder::Desktop || folder == Folder::Documents ||
                       folder == Folder::Downloads;
    if (users) {
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            path = WithoutTrailingSlash(HomeFolder());
        create = false;
    }
    // ~/.local is the user's too: named, never made, whether or not it is
    // there.
    if (folder == Folder::Library)
        return path + "/";
    if (create && !fileio::MakeFolders(path, mode))
        return std::string();
    if (!create) {
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return std::string();
    }
    return path == "/" ? path : path + "/";
}

std::string ExecutablePath()
{
    char buf[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0)
        return std::string();
    return std::string(buf, static_cast<size_t>(n));
}

std::string StageRoot()
{
    std::string stage = Env("QOR_STAGE_DIR");
    if (!stage.empty())
        return WithoutTrailingSlash(stage);
    std::string exe = ExecutablePath();
    size_t slash = exe.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    std::string bin = exe.substr(0, slash);
    slash = bin.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return "/";
    return bin.substr(0, slash);
}

std::string ResourcesFolder()
{
    return StageRoot() + "/share/qor/Resources";
}

std::string PlugInsFolder()
{
    return StageRoot() + "/lib/qor/PlugIns";
}

} // namespace plat
