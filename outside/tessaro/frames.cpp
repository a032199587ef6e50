// The frames of questions and answers (see frames.h).
#include "outside/tessaro/frames.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace tessaro {

namespace {

bool ReadAll(int fd, void* buf, size_t len)
{
    char* p = static_cast<char*>(buf);
    while (len > 0) {
        ssize_t n = read(fd, p, len);
        if (n > 0) {
            p += n;
            len -= static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

bool WriteAll(int fd, void const* buf, size_t len)
{
    char const* p = static_cast<char const*>(buf);
    while (len > 0) {
        ssize_t n = send(fd, p, len, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK)
            n = write(fd, p, len);
        if (n > 0) {
            p += n;
            len -= static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

bool ReadFrame(int fd, std::string& out)
{
    unsigned char head[4];
    if (!ReadAll(fd, head, sizeof head))
        return false;
    uint32_t len = head[0] | head[1] << 8 | head[2] << 16 | static_cast<uint32_t>(head[3]) << 24;
    if (len > TESSARO_MAXFRAME)
        return false;
    out.assign(len, '\0');
    return len == 0 || ReadAll(fd, out.data(), len);
}

bool WriteFrame(int fd, std::string const& data)
{
    if (data.size() > TESSARO_MAXFRAME)
        return false;
    uint32_t len = static_cast<uint32_t>(data.size());
    unsigned char head[4] = {static_cast<unsigned char>(len), static_cast<unsigned char>(len >> 8),
                             static_cast<unsigned char>(len >> 16), static_cast<unsigned char>(len >> 24)};
    std::string frame(reinterpret_cast<char*>(head), sizeof head);
    frame += data;
    return WriteAll(fd, frame.data(), frame.size());
}

} // namespace tessaro
