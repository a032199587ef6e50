#include "platform/services/desktop.h"

#include "platform/services/fileio.h"
#include "platform/services/folders.h"
#include "platform/services/spawn.h"

#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {
namespace {

constexpr std::size_t kMaxDesktopFileBytes = 1u << 20;
constexpr int kScreenSaverWaitMs = 5000;

bool ValidAppId(std::string_view id)
{
    if (id.empty() || id.size() > 100 || id.front() == '.')
        return false;
    for (char c : id) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

std::string ExecLine(std::string const& program)
{
    return "Exec=" + DesktopExecValue(program) + "\n";
}

// Whether the file at path holds the Exec line of program.
bool HoldsExec(std::string const& path, std::string const& program)
{
    std::string text;
    if (!fileio::ReadBounded(path, kMaxDesktopFileBytes, text))
        return false;
    std::string line = ExecLine(program);
    size_t at = text.find(line);
    return at != std::string::npos && (at == 0 || text[at - 1] == '\n');
}

} // namespace

std::string AutostartFilePath(std::string_view appId)
{
    if (!ValidAppId(appId))
        return std::string();
    std::string config = FolderPath(Folder::Preferences);
    if (config.empty())
        return std::string();
    return config + "autostart/" + std::string(appId) + ".desktop";
}

std::string DesktopExecValue(std::string const& program)
{
    // Quoting rules of the desktop entry format: inside double quotes the
    // characters " ` $ \ take a backslash; the value as a whole is then a
    // string value, where a backslash is written twice; "%" starts a field
    // code and is written twice.
    std::string quoted = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted.push_back('\\');
        quoted.push_back(c);
    }
    quoted.push_back('"');
    std::string out;
    for (char c : quoted) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '%': out += "%%"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

bool SetLoginItem(std::string_view appId, std::string const& program, bool add)
{
    std::string path = AutostartFilePath(appId);
    if (path.empty() || program.empty())
        return false;
    bool present = HoldsExec(path, program);
    if (!add) {
        if (!present)
            return true;
        return unlink(path.c_str()) == 0 || errno == ENOENT;
    }
    if (present)
        return true;
    if (!fileio::MakeFolders(fileio::FolderOf(path), 0700))
        return false;
    std::string text = "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=" + std::string(appId) + "\n" +
                       ExecLine(program) +
                       "X-GNOME-Autostart-enabled=true\n";
    return fileio::WriteAtomic(path, text, 0644);
}

bool IsLoginItem(std::string_view appId, std::string const& program)
{
    std::string path = AutostartFilePath(appId);
    return !path.empty() && HoldsExec(path, program);
}

bool WakeScreenSaver()
{
    std::string program = FindProgram("xdg-screensaver");
    if (program.empty())
        return false;
    pid_t pid = SpawnProgram({program, "reset"});
    if (pid < 0)
        return false;
    ChildStatus s = WaitChildFor(pid, kScreenSaverWaitMs);
    if (s.state == ChildStatus::Running) {
        ReapLater(pid);
        return false;
    }
    return s.state == ChildStatus::Exited && s.code == 0;
}

int CountInstances()
{
    // The executable is compared by file identity, which also holds when
    // it was reached through another path or has been replaced on disk
    // since the process started.
    struct stat self;
    if (stat("/proc/self/exe", &self) != 0)
        return 1;
    DIR* proc = opendir("/proc");
    if (!proc)
        return 1;
    int count = 0;
    while (struct dirent* e = readdir(proc)) {
        char const* p = e->d_name;
        if (*p < '1' || *p > '9')
            continue;
        while (*p >= '0' && *p <= '9')
            ++p;
        if (*p != '\0')
            continue;
        std::string dir = std::string("/proc/") + e->d_name;
        struct stat st;
        // Only this user's processes count (root could look at all).
        if (stat(dir.c_str(), &st) != 0 || st.st_uid != getuid())
            continue;
        std::string exe = dir + "/exe";
        if (stat(exe.c_str(), &st) == 0 && st.st_dev == self.st_dev && st.st_ino == self.st_ino)
            ++count;
    }
    closedir(proc);
    return count < 1 ? 1 : count;
}

} // namespace plat
