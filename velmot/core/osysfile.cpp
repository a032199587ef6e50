// File names and files.
#include "velmot/core/osysfile.h"

#include "velmot/core/logit.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

FILE* FILENAME::fsopen(char const* path, char const* mode, int share)
{
    LOGIT("FILENAME::fsopen(%s, %s, %d)\n", path ? path : "<null>", mode ? mode : "<null>", share);
    if (!path || !mode)
        return nullptr;

    std::string m;
    for (char const* p = mode; *p; ++p) {
        if (*p != 'c')
            m += *p;
    }
    bool plus = m.find('+') != std::string::npos;
    if (share == FSOPEN_SHARE_FROM_MODE) {
        if (m.find('w') != std::string::npos || m.find('a') != std::string::npos)
            share = FSOPEN_SHARE_EXCLUSIVE;
        else if (m.find('r') != std::string::npos)
            share = plus ? FSOPEN_SHARE_EXCLUSIVE : FSOPEN_SHARE_SHARED;
        else
            share = FSOPEN_SHARE_NONE;
    }
    if (share != FSOPEN_SHARE_NONE && share != FSOPEN_SHARE_EXCLUSIVE && share != FSOPEN_SHARE_SHARED) {
        LOGIT("FILENAME::fsopen(%s, %s, %d) returns f= %p, fd= %d\n", path, mode, share, nullptr, -1);
        return nullptr;
    }

    // Open without truncating, take the lock, and only then truncate: a file
    // that another stream holds is never emptied by a refused open.
    int flags;
    bool truncate = false;
    switch (m.empty() ? 'r' : m[0]) {
    case 'w':
        flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT;
        truncate = true;
        break;
    case 'a':
        flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
        break;
    default:
        flags = plus ? O_RDWR : O_RDONLY;
        break;
    }
    int fd = open(path, flags | O_CLOEXEC, 0666);
    FILE* f = nullptr;
    if (fd >= 0) {
        int op = share == FSOPEN_SHARE_EXCLUSIVE ? LOCK_EX : share == FSOPEN_SHARE_SHARED ? LOCK_SH : 0;
        bool locked = op == 0 || flock(fd, op | LOCK_NB) == 0;
        // Only regular files can be truncated; devices and pipes are written as they are.
        struct stat st;
        if (locked && truncate && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0)
            locked = false;
        if (locked)
            f = fdopen(fd, m.c_str());
        if (!f) {
            int err = errno;
            close(fd);
            errno = err;
            fd = -1;
        }
    }
    if (f && m.find('a') != std::string::npos)
        fseek(f, 0, SEEK_END);
    LOGIT("FILENAME::fsopen(%s, %s, %d) returns f= %p, fd= %d\n", path, mode, share, static_cast<void*>(f), fd);
    return f;
}
