// Notifications between the running instances of the program.
//
// Every instance that listens binds one Unix datagram socket in a private
// per-user folder ($XDG_RUNTIME_DIR/qor-ipc/, mode 0700, owned by the
// user; a folder that is someone else's or a symbolic link is refused),
// named "<pid>.<n>" after its process. A post is sent to every socket of
// the folder, the sender's own included. Sockets left by processes that no
// longer exist are removed by the next post.
//
// Trust: the receiving socket has SO_PASSCRED set, so the kernel attaches
// the sender's real uid to every datagram; a datagram without credentials
// or from another uid is dropped.
//
// Message (one datagram, at most kMaxNotificationBytes): the four bytes
// "QNT1", the channel's length and the name's length as 16-bit
// little-endian numbers, then the channel, the name and the payload bytes.
// A listener sees only the posts of its own channel.
//
// Threads: a reader thread per listener receives the datagrams and hands
// each accepted one to the main thread (PostToMainThread, dispatch.h),
// where the handler runs. After the listener is destroyed (which must
// happen on the main thread) its handler is never called again.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace plat {

constexpr std::size_t kMaxNotificationBytes = 65536;
constexpr std::size_t kMaxChannelBytes = 255;
constexpr std::size_t kMaxNotificationNameBytes = 4096;

// $XDG_RUNTIME_DIR/qor-ipc (no trailing "/").
std::string NotificationFolder();

// Sends one notification to every listener in folder (default:
// NotificationFolder()). Returns the number of sockets it was handed to,
// or -1 when the message is too large or the folder is not usable.
int PostNotification(std::string_view channel, std::string_view name, std::string_view payload,
                     std::string const& folder = {});

class NotificationListener {
public:
    using Handler = std::function<void(std::string const& name, std::string const& payload)>;

    // Binds this instance's socket and starts the reader thread.
    NotificationListener(std::string channel, Handler handler, std::string folder = {});
    ~NotificationListener();
    NotificationListener(NotificationListener const&) = delete;
    NotificationListener& operator=(NotificationListener const&) = delete;

    bool IsOpen() const;
    // Posts on this listener's channel and folder.
    int Post(std::string_view name, std::string_view payload) const;

    std::string const& SocketPath() const;
    // Datagrams dropped so far: foreign senders, no credentials, bad form.
    std::size_t DroppedCount() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace plat
