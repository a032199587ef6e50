// The "host" of a road benchmark: writes a stream into the loopback
// device's far end, waiting while the device's buffer is full.
#pragma once

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace benchsupport {

inline void WriteAsHost(int fd, std::string const& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, std::min<size_t>(data.size() - done, 1 << 16));
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
        } else if (n < 0 && errno != EINTR) {
            return;
        }
    }
}

} // namespace benchsupport
