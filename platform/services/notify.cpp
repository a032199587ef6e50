#include "platform/services/notify.h"

#include "platform/services/dispatch.h"
#include "platform/services/folders.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace plat {
namespace {

constexpr char kMagic[4] = {'Q', 'N', 'T', '1'};
constexpr size_t kHeaderBytes = 8;
// A receiver whose queue is full gets a few more chances before the post
// gives it up; the post must never block its caller for long.
constexpr int kFullQueueRetries = 50;

void Nap(long ms)
{
    struct timespec ts {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

// Opens the notification folder, making it when missing, and checks that
// it is a private folder of this user. Returns a descriptor of it or -1.
int OpenPrivateFolder(std::string const& folder)
{
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return -1;
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
        close(fd);
        return -1;
    }
    if ((st.st_mode & 077) != 0 && fchmod(fd, 0700) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Socket addresses are limited to 107 bytes; a longer path is reached
// through the folder's descriptor, which the kernel resolves the same way.
bool MakeAddress(std::string const& folder, int dirfd, std::string const& name,
                 sockaddr_un& addr, socklen_t& len)
{
    std::string path = folder + "/" + name;
    if (path.size() >= sizeof addr.sun_path)
        path = "/proc/self/fd/" + std::to_string(dirfd) + "/" + name;
    if (path.size() >= sizeof addr.sun_path)
        return false;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    return true;
}

// The pid of a socket name "<pid>.<n>", or 0 when the name is not one.
pid_t PidOfName(char const* name)
{
    long pid = 0;
    char const* p = name;
    while (*p >= '0' && *p <= '9' && pid < 100000000)
        pid = pid * 10 + (*p++ - '0');
    if (p == name || *p != '.' || pid <= 0)
        return 0;
    char const* q = ++p;
    while (*q >= '0' && *q <= '9')
        ++q;
    return (q != p && *q == '\0') ? static_cast<pid_t>(pid) : 0;
}

std::string Encode(std::string_view channel, std::string_view name, std::string_view payload)
{
    std::string msg(kMagic, sizeof kMagic);
    msg.push_back(static_cast<char>(channel.size() & 0xFF));
    msg.push_back(static_cast<char>(channel.size() >> 8));
    msg.push_back(static_cast<char>(name.size() & 0xFF));
    msg.push_back(static_cast<char>(name.size() >> 8));
    msg.append(channel);
    msg.append(name);
    msg.append(payload);
    return msg;
}

bool Decode(std::string_view msg, std::string_view& channel, std::string_view& name,
            std::string_view& payload)
{
    if (msg.size() < kHeaderBytes || msg.substr(0, 4) != std::string_view(kMagic, 4))
        return false;
    auto u16 = [&](size_t at) {
        return static_cast<size_t>(static_cast<unsigned char>(msg[at])) |
               (static_cast<size_t>(static_cast<unsigned char>(msg[at + 1])) << 8);
    };
    size_t clen = u16(4);
    size_t nlen = u16(6);
    if (clen > kMaxChannelBytes || nlen > kMaxNotificationNameBytes ||
        kHeaderBytes + clen + nlen > msg.size())
        return false;
    channel = msg.substr(kHeaderBytes, clen);
    name = msg.substr(kHeaderBytes + clen, nlen);
    payload = msg.substr(kHeaderBytes + clen + nlen);
    return true;
}

std::atomic<unsigned> gSocketSerial{0};

} // namespace

struct NotificationListener::State : std::enable_shared_from_this<State> {
    std::string channel;
    std::string folder;
    std::string name;
    std::string path;
    Handler handler;
    int dirfd = -1;
    int sock = -1;
    int wake = -1;
    std::thread reader;
    std::atomic<std::size_t> dropped{0};
    // Guards alive against a handler call running on the main thread while
    // another thread destroys the listener; recursive, so that a handler
    // may destroy its own listener.
    std::recursive_mutex lock;
    bool alive = true;

    void Read();
    void Receive();
};

std::string NotificationFolder()
{
    std::string runtime = FolderPath(Folder::Runtime);
    if (runtime.empty())
        return std::string();
    return runtime + "qor-ipc";
}

int PostNotification(std::string_view channel, std::string_view name, std::string_view payload,
                     std::string const& folderArg)
{
    if (channel.size() > kMaxChannelBytes || name.size() > kMaxNotificationNameBytes)
        return -1;
    std::string msg = Encode(channel, name, payload);
    if (msg.size() > kMaxNotificationBytes)
        return -1;
    std::string folder = folderArg.empty() ? NotificationFolder() : folderArg;
    if (folder.empty())
        return -1;
    int dirfd = OpenPrivateFolder(folder);
    if (dirfd < 0)
        return -1;
    int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        close(dirfd);
        return -1;
    }
    int readfd = dup(dirfd); // fdopendir takes over its descriptor
    DIR* dir = readfd >= 0 ? fdopendir(readfd) : nullptr;
    if (!dir && readfd >= 0)
        close(readfd);
    int reached = 0;
    while (dir) {
        struct dirent* e = readdir(dir);
        if (!e)
            break;
        pid_t pid = PidOfName(e->d_name);
        if (pid == 0)
            continue;
        sockaddr_un addr;
        socklen_t len;
        if (!MakeAddress(folder, dirfd, e->d_name, addr, len))
            continue;
        for (int attempt = 0;; ++attempt) {
            ssize_t n = sendto(sock, msg.data(), msg.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                               reinterpret_cast<sockaddr*>(&addr), len);
            if (n >= 0) {
                ++reached;
                break;
            }
            if (errno == EINTR)
                continue;
            if ((errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) &&
                attempt < kFullQueueRetries) {
                Nap(2);
                continue;
            }
            // Nobody is bound to the name: remove it, but only when its
            // process is gone, so that a new socket of a reused name stays.
            if (errno == ECONNREFUSED && kill(pid, 0) != 0 && errno == ESRCH)
                unlinkat(dirfd, e->d_name, 0);
            break;
        }
    }
    if (dir)
        closedir(dir);
    close(sock);
    close(dirfd);
    return reached;
}

NotificationListener::NotificationListener(std::string channel, Handler handler,
                                           std::string folder)
    : state_(std::make_shared<State>())
{
    State& s = *state_;
    s.channel = std::move(channel);
    s.handler = std::move(handler);
    s.folder = folder.empty() ? NotificationFolder() : std::move(folder);
    if (s.folder.empty() || s.channel.size() > kMaxChannelBytes)
        return;
    s.dirfd = OpenPrivateFolder(s.folder);
    if (s.dirfd < 0)
        return;
    s.name = std::to_string(getpid()) + "." + std::to_string(gSocketSerial++);
    s.path = s.folder + "/" + s.name;
    sockaddr_un addr;
    socklen_t len;
    if (!MakeAddress(s.folder, s.dirfd, s.name, addr, len))
        return;
    s.sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s.sock < 0)
        return;
    int on = 1;
    int size = static_cast<int>(kMaxNotificationBytes) * 8;
    setsockopt(s.sock, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    // A socket of an earlier process with the same pid is stale by now.
    unlinkat(s.dirfd, s.name.c_str(), 0);
    if (setsockopt(s.sock, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
        bind(s.sock, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        close(s.sock);
        s.sock = -1;
        return;
    }
    s.wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s.wake < 0) {
        unlinkat(s.dirfd, s.name.c_str(), 0);
        close(s.sock);
        s.sock = -1;
        return;
    }
    s.reader = std::thread([st = state_] { st->Read(); });
}

NotificationListener::~NotificationListener()
{
    State& s = *state_;
    {
        std::lock_guard<std::recursive_mutex> guard(s.lock);
        s.alive = false;
    }
    if (s.reader.joinable()) {
        std::uint64_t one = 1;
        ssize_t n = write(s.wake, &one, sizeof one);
        (void)n;
        s.reader.join();
    }
    if (s.sock >= 0) {
        unlinkat(s.dirfd, s.name.c_str(), 0);
        close(s.sock);
    }
    if (s.wake >= 0)
        close(s.wake);
    if (s.dirfd >= 0)
        close(s.dirfd);
}

bool NotificationListener::IsOpen() const
{
    return state_->reader.joinable();
}

int NotificationListener::Post(std::string_view name, std::string_view payload) const
{
    return PostNotification(state_->channel, name, payload, state_->folder);
}

std::string const& NotificationListener::SocketPath() const
{
    return state_->path;
}

std::size_t NotificationListener::DroppedCount() const
{
    return state_->dropped.load();
}

void NotificationListener::State::Read()
{
    for (;;) {
        struct pollfd fds[2] = {{sock, POLLIN, 0}, {wake, POLLIN, 0}};
        int n = poll(fds, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (fds[1].revents & POLLIN))
            return;
        if (fds[0].revents & POLLIN)
            Receive();
    }
}

void NotificationListener::State::Receive()
{
    std::vector<char> buf(kMaxNotificationBytes + 1);
    for (;;) {
        union {
            char data[CMSG_SPACE(sizeof(struct ucred))];
            struct cmsghdr align;
        } control;
        struct iovec iov {buf.data(), buf.size()};
        struct msghdr mh {};
        mh.msg_iov = &iov;
        mh.msg_iovlen = 1;
        mh.msg_control = control.data;
        mh.msg_controllen = sizeof control.data;
        ssize_t n = recvmsg(sock, &mh, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return; // EAGAIN: the queue is empty
        }
        bool trusted = false;
        for (struct cmsghdr* c = CMSG_FIRSTHDR(&mh); c; c = CMSG_NXTHDR(&mh, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
                c->cmsg_len >= CMSG_LEN(sizeof(struct ucred))) {
                struct ucred cred;
                std::memcpy(&cred, CMSG_DATA(c), sizeof cred);
                trusted = cred.uid == getuid();
            }
        }
        std::string_view ch, name, payload;
        bool whole = !(mh.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) &&
                     static_cast<size_t>(n) <= kMaxNotificationBytes;
        if (!trusted || !whole || !Decode(std::string_view(buf.data(), static_cast<size_t>(n)), ch,
                                          name, payload)) {
            ++dropped;
            continue;
        }
        if (ch != channel)
            continue;
        // The task holds the state weakly: a listener destroyed before the
        // task runs leaves nothing to call.
        PostToMainThread([self = weak_from_this(), n = std::string(name),
                          p = std::string(payload)] {
            std::shared_ptr<State> st = self.lock();
            if (!st)
                return;
            std::lock_guard<std::recursive_mutex> guard(st->lock);
            if (st->alive && st->handler)
                st->handler(n, p);
        });
    }
}

} // namespace plat
