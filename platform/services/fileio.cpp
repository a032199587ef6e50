#include "platform/services/fileio.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace plat::fileio {

bool ReadBounded(std::string const& path, std::size_t maxBytes, std::string& out, int* error)
{
    out.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    auto fail = [&](int code) {
        if (error)
            *error = code;
        if (fd >= 0)
            close(fd);
        out.clear();
        return false;
    };
    if (fd < 0)
        return fail(errno);
    struct stat st;
    if (fstat(fd, &st) != 0)
        return fail(errno);
    if (!S_ISREG(st.st_mode))
        return fail(EISDIR);
    if (static_cast<unsigned long long>(st.st_size) > maxBytes)
        return fail(EFBIG);
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        if (n == 0)
            break;
        if (out.size() + static_cast<size_t>(n) > maxBytes)
            return fail(EFBIG); // the file grew while we read it
        out.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    if (error)
        *error = 0;
    return true;
}

bool MakeFolders(std::string const& path, mode_t mode)
{
    if (path.empty())
        return false;
    struct stat st;
    if (stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/')
            continue;
        std::string part = path.substr(0, pos);
        if (mkdir(part.c_str(), pos == path.size() ? mode : 0755) != 0 && errno != EEXIST)
            return false;
    }
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string FolderOf(std::string const& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string FileOf(std::string const& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string LinkTarget(std::string const& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = realpath(path.c_str(), nullptr)) {
            std::string target = real;
            free(real);
            return target;
        }
    }
    return path;
}

std::string TempPrefix(std::string const& path)
{
    return FolderOf(path) + "/." + FileOf(path) + ".tmp";
}

bool WriteAtomic(std::string const& path, std::string const& content, mode_t mode)
{
    std::string templ = TempPrefix(path) + "XXXXXX";
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, mode) == 0;
    size_t off = 0;
    while (ok && off < content.size()) {
        ssize_t n = write(fd, content.data() + off, content.size() - off);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            off += static_cast<size_t>(n);
    }
    // The data must be on disk before the rename makes it visible, or a
    // power loss could leave an empty file in place of the old one.
    ok = ok && fsync(fd) == 0;
    ok = (close(fd) == 0) && ok;
    ok = ok && rename(name.data(), path.c_str()) == 0;
    if (!ok) {
        unlink(name.data());
        return false;
    }
    int dirfd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd >= 0) {
        fsync(dirfd);
        close(dirfd);
    }
    return true;
}

} // namespace plat::fileio
