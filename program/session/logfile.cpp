#include "program/session/logfile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<LOGFILE::WRITEFN> gWrite{&pwrite};

} // namespace

void LOGFILE::SetWriteFunction(WRITEFN fn)
{
    gWrite.store(fn ? fn : &pwrite);
}

bool LOGFILE::MakeFolderOf(std::string const& path)
{
    size_t const slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return true;
    std::string const folder = path.substr(0, slash);
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    // Each missing part is made private: logs hold what the user typed.
    for (size_t next = folder.find('/', 1);; next = folder.find('/', next + 1)) {
        std::string const part = folder.substr(0, next);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (next == std::string::npos)
            break;
    }
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

LOGFILE::~LOGFILE()
{
    Close();
}

bool LOGFILE::Open(std::string const& path, MODE mode, bool* created)
{
    Close();
    Err = 0;
    Name = path;
    if (created)
        *created = false;
    int const flags = O_WRONLY | O_CLOEXEC | O_NOFOLLOW;
    bool made = false;
    int fd = open(path.c_str(), flags | O_CREAT | O_EXCL, 0600);
    if (fd >= 0)
        made = true;
    else if (errno == EEXIST)
        fd = open(path.c_str(), flags);
    if (fd < 0) {
        Err = errno;
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        Err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        close(fd);
        return false;
    }
    if (mode == MODE::TRUNCATE && st.st_size > 0 && ftruncate(fd, 0) != 0) {
        Err = errno;
        close(fd);
        return false;
    }
    Fd = fd;
    FileEnd = mode == MODE::APPEND ? static_cast<int64_t>(st.st_size) : 0;
    Pos = BufStart = FileEnd;
    BufLen = 0;
    Buf = new char[BUFSIZE];
    if (created)
        *created = made;
    return true;
}

void LOGFILE::Fail(int err)
{
    if (Err == 0)
        Err = err ? err : EIO;
}

bool LOGFILE::WriteAt(char const* data, size_t len, int64_t offset)
{
    WRITEFN const fn = gWrite.load();
    while (len > 0) {
        ssize_t const n = fn(Fd, data, len, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            Fail(n < 0 ? errno : ENOSPC);
            return false;
        }
        data += n;
        len -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

bool LOGFILE::Write(void const* data, size_t len)
{
    if (Fd < 0 || Err != 0)
        return false;
    auto const* p = static_cast<char const*>(data);
    while (len > 0) {
        size_t const off = static_cast<size_t>(Pos - BufStart);
        if (off >= BUFSIZE) {
            if (!Flush())
                return false;
            continue;
        }
        if (BufLen == 0 && len >= BUFSIZE) {
            // A large block goes straight to the file.
            if (!WriteAt(p, len, Pos))
                return false;
            Pos += static_cast<int64_t>(len);
            FileEnd = std::max(FileEnd, Pos);
            BufStart = Pos;
            return true;
        }
        size_t const n = std::min(len, BUFSIZE - off);
        memcpy(Buf + off, p, n);
        Pos += static_cast<int64_t>(n);
        BufLen = std::max(BufLen, off + n);
        p += n;
        len -= n;
    }
    return true;
}

bool LOGFILE::Rewind(size_t n)
{
    if (Fd < 0)
        return false;
    int64_t const back = std::min<int64_t>(static_cast<int64_t>(n), Pos);
    if (Pos - back >= BufStart) {
        Pos -= back;
        return true;
    }
    bool const ok = Flush();
    Pos -= back;
    BufStart = Pos;
    return ok;
}

bool LOGFILE::Cut()
{
    if (Fd < 0 || Err != 0)
        return false;
    // Rewind keeps the write position at or after the buffer's start.
    BufLen = std::min(BufLen, static_cast<size_t>(Pos - BufStart));
    if (FileEnd > Pos) {
        if (ftruncate(Fd, static_cast<off_t>(Pos)) != 0) {
            Fail(errno);
            return false;
        }
        FileEnd = Pos;
    }
    return true;
}

bool LOGFILE::Flush()
{
    if (Fd < 0)
        return false;
    if (BufLen > 0) {
        bool const ok = Err == 0 && WriteAt(Buf, BufLen, BufStart);
        if (ok)
            FileEnd = std::max(FileEnd, BufStart + static_cast<int64_t>(BufLen));
        BufStart = Pos;
        BufLen = 0;
        return ok;
    }
    return Err == 0;
}

bool LOGFILE::Close()
{
    if (Fd < 0)
        return Err == 0;
    bool ok = Flush();
    if (close(Fd) != 0) {
        Fail(errno);
        ok = false;
    }
    Fd = -1;
    delete[] Buf;
    Buf = nullptr;
    BufLen = 0;
    return ok;
}

int64_t LOGFILE::Size() const
{
    return std::max(FileEnd, BufStart + static_cast<int64_t>(BufLen));
}
