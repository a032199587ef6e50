#include "platform/services/fileio.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace plat::fileio {

std::string ErrorText(int error)
{
    if (error == kNotRegularFile)
        return "not a regular file";
    if (error == EFBIG)
        return "larger than the program reads";
    return std::strerror(error);
}

int OpenRegular(std::string const& path, std::size_t maxBytes, int* error)
{
    auto fail = [&](int fd, int code) {
        if (fd >= 0)
            close(fd);
        if (error)
            *error = code;
        return -1;
    };
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return fail(-1, errno);
    struct stat st;
    if (fstat(fd, &st) != 0)
        return fail(fd, errno);
    if (!S_ISREG(st.st_mode))
        return fail(fd, kNotRegularFile);
    if (static_cast<unsigned long long>(st.st_size) > maxBytes)
        return fail(fd, EFBIG);
    int const flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return fail(fd, errno);
    if (error)
        *error = 0;
    return fd;
}

FILE* OpenRegularStream(std::string const& path, std::size_t maxBytes, int* error)
{
    int const fd = OpenRegular(path, maxBytes, error);
    if (fd < 0)
        return nullptr;
    FILE* f = fdopen(fd, "r");
    if (!f) {
        if (error)
            *error = errno;
        close(fd);
    }
    return f;
}

bool ReadBounded(std::string const& path, std::size_t maxBytes, std::string& out, int* error)
{
    out.clear();
    int fd = OpenRegular(path, maxBytes, error);
    if (fd < 0)
        return false;
    auto fail = [&](int code) {
        if (error)
            *error = code;
        close(fd);
        out.clear();
        return false;
    };
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

bool WriteAtomic(std::string const& path, std::string const& content, mode_t mode, int* error)
{
    std::string templ = TempPrefix(path) + "XXXXXX";
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    int code = 0;
    // The first failing step's errno is the one reported.
    auto step = [&code](bool done) {
        if (!done && code == 0)
            code = errno != 0 ? errno : EIO;
        return done;
    };
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (!step(fd >= 0)) {
        if (error)
            *error = code;
        return false;
    }
    bool ok = step(fchmod(fd, mode) == 0);
    size_t off = 0;
    while (ok && off < content.size()) {
        ssize_t n = write(fd, content.data() + off, content.size() - off);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = ENOSPC;
        if (!step(n > 0))
            ok = false;
        else
            off += static_cast<size_t>(n);
    }
    // The data must be on disk before the rename makes it visible, or a
    // power loss could leave an empty file in place of the old one.
    ok = ok && step(fsync(fd) == 0);
    ok = step(close(fd) == 0) && ok;
    ok = ok && step(rename(name.data(), path.c_str()) == 0);
    if (!ok) {
        unlink(name.data());
        if (error)
            *error = code;
        errno = code;
        return false;
    }
    if (error)
        *error = 0;
    int dirfd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirfd >= 0) {
        fsync(dirfd);
        close(dirfd);
    }
    return true;
}

} // namespace plat::fileio
