// TCPIPIO: the TCP channel.
#include "velmot/channels/tcpio.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr char const* kSource = "tcpio";
constexpr int kDefaultTimeoutMs = 60000;
// DevWrite looks at the connection again at least this often.
constexpr int kWritePassMs = 2500;

int RemainingMs(long long deadline)
{
    return static_cast<int>(std::max(0LL, deadline - BASEIO::NowMs()));
}

bool WouldBlock(int err)
{
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

STRING ErrnoText(int err)
{
    char buf[256];
    return STRING(strerror_r(err, buf, sizeof buf));
}

void NumericAddress(sockaddr const* sa, char* out, size_t len)
{
    if (getnameinfo(sa, sa->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in), out,
                    static_cast<socklen_t>(len), nullptr, 0, NI_NUMERICHOST) != 0)
        snprintf(out, len, "<unknown>");
}

} // namespace

TCPIPIO::INSOCKET TCPIPIO::InSockets[256];
MUTEXSEM TCPIPIO::InSocketsLock;

TCPIPIO::TCPIPIO(char const* ourId, char const* callType, char const* parm)
    : BASEIO(ourId, callType, parm, BASEIO_DEVICE_DELAYED_START | BASEIO_DEVICE_NO_DAEMON), semAcceptDone(0)
{
    LOGIT("TCPIPIO::TCPIPIO\n");
    TCPIPIO::SetOurId(ourId);
    UpAndRunning = 1;
    snprintf(OwnName, sizeof OwnName, "%s", OSYS::ComputerName().Buf());
    snprintf(PeerIp, sizeof PeerIp, "<unknown>");
    semAcceptDone.Post();
    ConstructorDone.Post();
    LOGIT("TCPIPIO::TCPIPIO done\n");
}

TCPIPIO::~TCPIPIO()
{
    LOGIT("TCPIPIO::~TCPIPIO\n");
    CloseConnection(false);
    KillDaemon(1);
    semAcceptDone.Wait(-1);
    // What a call racing with the destructor set up before it returned.
    CloseConnection(false);
    LOGIT("TCPIPIO::~TCPIPIO done\n");
}

bool TCPIPIO::IsUpAndRunning()
{
    return UpAndRunning != 0;
}

bool TCPIPIO::DevIsConnected()
{
    return Socket.IsSet();
}

void TCPIPIO::SetOurId(char const* ourId)
{
    char const* id = ourId ? ourId : "";
    if (strchr(id, ':')) {
        STRING host, port;
        TCP::DestinationToHostAndPort(id, 23, host, port);
        STRING stored;
        stored.Format("%s[%s]", port.Buf(), host.Buf());
        BASEIO::SetOurId(stored);
    } else {
        BASEIO::SetOurId(id);
    }
}

void TCPIPIO::SetPeerIp(char const* text)
{
    std::lock_guard<std::mutex> guard(InfoLock);
    snprintf(PeerIp, sizeof PeerIp, "%s", text);
}

int TCPIPIO::Recv(int socket, char* buf, int len)
{
    return static_cast<int>(recv(socket, buf, static_cast<size_t>(len), 0));
}

int TCPIPIO::Send(int socket, char const* data, int len)
{
    // MSG_NOSIGNAL: a peer that has gone gives EPIPE, never SIGPIPE.
    return static_cast<int>(send(socket, data, static_cast<size_t>(len), MSG_NOSIGNAL));
}

// ---------------------------------------------------------------------------
// Calling out

// A call is made on a live channel without a connection; anything else is
// the caller's mistake.
bool TCPIPIO::ReadyForCall(CALLSCOPE const& call)
{
    if (!call.Entered() || IsDead) {
        AssertMsg(0, "!this->IsDead", kSource, __LINE__, nullptr, false);
        return false;
    }
    if (DevIsConnected()) {
        AssertMsg(0, "!this->DevIsConnected()", kSource, __LINE__, nullptr, false);
        return false;
    }
    return true;
}

bool TCPIPIO::MakeCall(char const* destination)
{
    CALLSCOPE call(*this);
    if (!ReadyForCall(call))
        return false;
    LOGIT("TCPIPIO::MakeCall %s\n", destination ? destination : "<null>");
    ClearInterrupt();
    unsigned const drops = Drops.load();
    SetLastError(LastError, "");

    char name[256];
    char error[256];
    int port = 0;
    TCPRESOLVED* where = TCP::ResolvEx(destination, name, sizeof name, &port, nullptr, error, sizeof error,
                                       ResolvePeerOnCall ? 0 : 1);
    if (!where) {
        SetLastError(TCPERR_HOSTNOTFOUND, error);
        LOGIT("TCPIPIO::MakeCall can't resolve %s (%s)\n", destination ? destination : "", error);
        return false;
    }
    if (port < 1) {
        free(where);
        SetLastError(TCPERR_NOSOCKET, TCP::GetLastSocketErrorString(-1, nullptr));
        return false;
    }
    bool const ok = Connect(*where, drops);
    free(where);
    LOGIT("TCPIPIO::MakeCall done ok= %d\n", ok);
    return ok && DevIsConnected();
}

// Connects to each address in turn within one time-out; the first that
// answers becomes the connection.
bool TCPIPIO::Connect(TCPRESOLVED const& where, unsigned dropsAtStart)
{
    long long const deadline = BASEIO::NowMs() + (ConnectTimeout < 0 ? kDefaultTimeoutMs : ConnectTimeout);
    STRING failure;
    int code = TCPERR_NORESPONSE;
    for (int i = 0; i < where.Count; ++i) {
        auto const* address = reinterpret_cast<sockaddr const*>(&where.Addresses[i]);
        int fd = socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            failure = TCP::GetLastErrorString(-9999);
            code = TCPERR_NOSOCKET;
            continue;
        }
        bool connected = connect(fd, address, where.AddressLengths[i]) == 0;
        bool interrupted = false;
        if (!connected && (errno == EINPROGRESS || errno == EAGAIN)) {
            short revents = 0;
            int r = WaitFd(fd, POLLOUT, RemainingMs(deadline), &revents);
            if (r == 1) {
                // A refused connect reports itself writable too: the
                // socket's pending error tells.
                int err = 0;
                socklen_t len = sizeof err;
                if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                    err = errno;
                connected = err == 0;
                if (err)
                    failure = ErrnoText(err);
            } else if (r == 0) {
                failure = ErrnoText(ETIMEDOUT);
            } else if (r == -2) {
                failure = "Connection attempt ended by DropCall";
                interrupted = true;
            } else {
                failure = TCP::GetLastErrorString(-9999);
            }
        } else if (!connected) {
            failure = TCP::GetLastErrorString(-9999);
        }
        if (connected && Drops.load() != dropsAtStart) {
            connected = false;
            interrupted = true;
            failure = "Connection attempt ended by DropCall";
        }
        if (!connected) {
            ::close(fd);
            code = TCPERR_NORESPONSE;
            if (interrupted || BASEIO::NowMs() >= deadline)
                break;
            continue;
        }
        char numeric[256];
        NumericAddress(address, numeric, sizeof numeric);
        // The name shown is that of the address that answered.
        char name[256];
        snprintf(name, sizeof name, "%s", where.Name);
        if (i > 0 && ResolvePeerOnCall &&
            getnameinfo(address, where.AddressLengths[i], name, sizeof name, nullptr, 0, NI_NAMEREQD) != 0)
            snprintf(name, sizeof name, "<unknown>");
        SetPeerIp((std::string(name) + " (" + numeric + ")").c_str());
        Socket.Set(fd);
        AcceptedFrom = -1;
        SetLastError(0, "");
        LastActivity = OSYS::GetLTime();
        return true;
    }
    SetLastError(code, failure);
    return false;
}

// ---------------------------------------------------------------------------
// Listening and accepting

int TCPIPIO::MakeAcceptSocket(int* port)
{
    MUTEXLOCK lock(InSocketsLock);
    int const wanted = static_cast<int>(OurId);
    if (wanted != 0) {
        for (INSOCKET& entry : InSockets) {
            if (entry.InUse > 0 && entry.Port == wanted) {
                ++entry.InUse;
                LOGIT("TCPIPIO::MakeAcceptSocket bind already done (port %d, %d users)\n", wanted, entry.InUse);
                if (port)
                    *port = wanted;
                return entry.Socket;
            }
        }
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        SetLastError(TCPERR_LISTEN, TCP::GetLastErrorString(-9999));
        return -1;
    }
    // A socket that can't be bound or can't listen is closed at once: the
    // call fails now instead of retrying for ever.
    int bound = -1;
    if (TCP::Bind(fd, OurId, &bound) != 0) {
        SetLastError(TCPERR_BIND, TCP::GetLastErrorString(-9999));
        ::close(fd);
        return -1;
    }
    if (listen(fd, 32) != 0) {
        SetLastError(TCPERR_LISTEN, TCP::GetLastErrorString(-9999));
        ::close(fd);
        return -1;
    }
    INSOCKET* slot = nullptr;
    for (INSOCKET& entry : InSockets) {
        if (entry.InUse == 0) {
            slot = &entry;
            break;
        }
    }
    if (!slot) {
        AssertMsg(0, "i<ARRAYMAX(TCPIPIO::InSockets)", kSource, __LINE__, nullptr, false);
        SetLastError(TCPERR_LISTEN, "too many listening sockets");
        ::close(fd);
        return -1;
    }
    *slot = {fd, 1, wanted ? wanted : bound};
    if (port)
        *port = bound;
    LOGIT("TCPIPIO::MakeAcceptSocket listens on port %d\n", slot->Port);
    return fd;
}

bool TCPIPIO::HoldAcceptSocket(int socket)
{
    MUTEXLOCK lock(InSocketsLock);
    for (INSOCKET& entry : InSockets) {
        if (entry.InUse > 0 && entry.Socket == socket) {
            ++entry.InUse;
            return true;
        }
    }
    return false;
}

void TCPIPIO::FreeAcceptSocket(int socket, signed char hard)
{
    MUTEXLOCK lock(InSocketsLock);
    for (INSOCKET& entry : InSockets) {
        if (entry.InUse <= 0 || entry.Socket != socket)
            continue;
        --entry.InUse;
        if (entry.InUse == 0 || hard) {
            shutdown(socket, SHUT_RDWR);
            ::close(socket);
            entry = {-1, 0, -1};
        }
        return;
    }
}

bool TCPIPIO::PrepareAcceptCall()
{
    if (InSocket == -1) {
        int fd = MakeAcceptSocket(nullptr);
        int expected = -1;
        if (fd != -1 && !InSocket.compare_exchange_strong(expected, fd))
            FreeAcceptSocket(fd, 0);
    }
    return InSocket != -1;
}

bool TCPIPIO::AcceptCall()
{
    CALLSCOPE call(*this);
    if (!ReadyForCall(call))
        return false;
    LOGIT("TCPIPIO::AcceptCall on %s\n", OurId.Buf());
    semAcceptDone.Reset();
    ClearInterrupt();
    if (!PrepareAcceptCall()) {
        LOGIT("TCPIPIO::AcceptCall no listening socket (%d)\n", LastError.load());
        semAcceptDone.Post();
        return false;
    }
    // The wait holds a use of the listening socket of its own, so a DropCall
    // on another thread never closes the socket under it.
    int const listener = InSocket;
    bool const held = listener != -1 && HoldAcceptSocket(listener);
    if (held)
        TCP::SetNonblocking(listener, 1);
    int fd = -1;
    int failure = 0;
    sockaddr_storage from{};
    while (held) {
        if (InSocket != listener) {
            failure = ECANCELED;
            break;
        }
        socklen_t len = sizeof from;
        fd = accept4(listener, reinterpret_cast<sockaddr*>(&from), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0)
            break;
        int const err = errno;
        if (WouldBlock(err) || err == ECONNABORTED) {
            int r = WaitFd(listener, POLLIN, -1);
            if (r < 0) {
                failure = WaitFailure(r);
                break;
            }
        } else if (err == ENOTSOCK || err == EBADF || err == EINVAL) {
            failure = err;
            break;
        } else {
            LOGIT("TCPIPIO::AcceptCall accept failed: %s\n", strerror(err));
            OSYS::Sleep(250);
        }
    }
    int expected = listener;
    if (fd >= 0 && !InSocket.compare_exchange_strong(expected, -1)) {
        // Dropped meanwhile: the channel no longer holds the listening
        // socket, so the connection is not taken either.
        ::close(fd);
        fd = -1;
        failure = ECANCELED;
    }
    if (held)
        FreeAcceptSocket(listener, 0);
    if (fd < 0) {
        SetLastError(TCPERR_ACCEPT, ErrnoText(failure ? failure : ECANCELED));
        LOGIT("TCPIPIO::AcceptCall given up (%s)\n", GetLastErrorString().Buf());
        semAcceptDone.Post();
        return false;
    }

    char numeric[256];
    NumericAddress(reinterpret_cast<sockaddr const*>(&from), numeric, sizeof numeric);
    std::string peer = numeric;
    if (ResolvePeerOnAccept) {
        char name[256];
        socklen_t const len = from.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        if (getnameinfo(reinterpret_cast<sockaddr const*>(&from), len, name, sizeof name, nullptr, 0, NI_NAMEREQD) == 0)
            peer = std::string(name) + " (" + numeric + ")";
    }
    SetPeerIp(peer.c_str());
    Socket.Set(fd);
    AcceptedFrom = listener;
    SetLastError(0, "");
    LastActivity = OSYS::GetLTime();
    LOGIT("TCPIPIO::AcceptCall accepted %s\n", peer.c_str());
    semAcceptDone.Post();
    return true;
}

// ---------------------------------------------------------------------------
// Dropping

void TCPIPIO::CloseConnection(bool keepError)
{
    ++Drops;
    Interrupt();
    int const listener = InSocket.exchange(-1);
    if (listener != -1)
        FreeAcceptSocket(listener, 0);
    if (Socket.Close(true)) {
        int const from = AcceptedFrom.exchange(-1);
        if (from != -1)
            FreeAcceptSocket(from, 0);
    }
    if (!keepError)
        LastError = 0;
    SetPeerIp("<unknown>");
}

bool TCPIPIO::DropCall()
{
    LOGIT("TCPIPIO::DropCall\n");
    CloseConnection(false);
    return !DevIsConnected();
}

// ---------------------------------------------------------------------------
// Reading and writing

bool TCPIPIO::DevRead(char* buf, int* len, int timeoutMs)
{
    int const want = *len;
    *len = 0;
    CHANNELFD::REF socket = Socket.Acquire();
    if (!socket)
        return false;
    int const fd = *socket;
    long long const deadline = timeoutMs < 0 ? 0 : BASEIO::NowMs() + timeoutMs;
    int lost = 0;
    int failedWait = 0;
    for (;;) {
        int n = Recv(fd, buf, want);
        if (n > 0) {
            *len = n;
            LastActivity = OSYS::GetLTime();
            LogData("RCV", buf, n);
            return true;
        }
        int const err = errno;
        if (n == 0 || !WouldBlock(err)) {
            lost = n == 0 ? -1 : err;
            break;
        }
        if (timeoutMs == 0)
            return false;
        int r = WaitFd(fd, POLLIN, timeoutMs < 0 ? -1 : RemainingMs(deadline));
        if (r == 0 || r == -2)
            return false; // time-out, or DropCall or KillDaemon
        if (r < 0) {
            failedWait = errno;
            break;
        }
    }
    socket.reset();
    if (failedWait) {
        SetLastError(TCPERR_RECVFAILED, ErrnoText(failedWait));
        if (static_cast<int>(Parm) == 0)
            CloseConnection(true);
        return false;
    }
    // The peer closed the connection (or reset it).
    CloseConnection(true);
    SetLastError(TCPERR_DISCONNECTED, lost > 0 ? ErrnoText(lost) : STRING("Connection closed by peer"));
    LOGIT("TCPIPIO::DevRead remote disconnected\n");
    return false;
}

bool TCPIPIO::DevWrite(char const* data, int len)
{
    CHANNELFD::REF socket = Socket.Acquire();
    if (!socket)
        return false;
    int const fd = *socket;
    int const limit = WriteTimeout < 0 ? kDefaultTimeoutMs : WriteTimeout;
    int sent = 0;
    int failure = 0;
    {
        MUTEXLOCK lock(WriteLock);
        long long lastProgress = BASEIO::NowMs();
        while (sent < len) {
            int n = Send(fd, data + sent, len - sent);
            if (n > 0) {
                sent += n;
                lastProgress = BASEIO::NowMs();
                continue;
            }
            if (n < 0 && !WouldBlock(errno)) {
                failure = errno;
                break;
            }
            // No room: wait, but not longer than the peer may stall.
            int const left = static_cast<int>(lastProgress + limit - BASEIO::NowMs());
            if (left <= 0) {
                failure = ETIMEDOUT;
                break;
            }
            int r = WaitFd(fd, POLLOUT, std::min(left, kWritePassMs));
            if (r < 0) {
                failure = WaitFailure(r);
                break;
            }
        }
    }
    if (sent == len) {
        LastActivity = OSYS::GetLTime();
        LogData("SEND", data, len);
        return true;
    }
    socket.reset();
    LOGIT("TCPIPIO::DevWrite failed after %d of %d bytes: %s\n", sent, len, strerror(failure));
    CloseConnection(true);
    SetLastError(failure == ETIMEDOUT ? TCPERR_NORESPONSE : TCPERR_DISCONNECTED, ErrnoText(failure));
    return false;
}

int TCPIPIO::DevGetNumAvail()
{
    return CountReadable(Socket, TCPERR_IOCTL, "%s");
}

void TCPIPIO::LogData(char const* label, char const* data, int len)
{
    // Only above the plain trace: formatting costs nothing while it is off.
    if (!LOGIF(2, nullptr))
        return;
    LOGIF(2, "TCPIPIO::%s : \n", label);
    for (int at = 0; at < len; at += 16) {
        char hex[16 * 3 + 2] = "";
        char text[16 + 2] = "";
        int h = 0;
        int t = 0;
        for (int i = at; i < std::min(len, at + 16); ++i) {
            unsigned char const c = static_cast<unsigned char>(data[i]);
            h += snprintf(hex + h, sizeof hex - static_cast<size_t>(h), "%02x ", c);
            text[t++] = c >= 0x20 && c < 0x80 ? static_cast<char>(c) : '.';
            if (i - at == 7) {
                hex[h++] = ' ';
                text[t++] = ' ';
            }
        }
        hex[h] = '\0';
        text[t] = '\0';
        LOGIF(2, "    %s [%s]\n", hex, text);
    }
}

// ---------------------------------------------------------------------------
// The text query

STRING TCPIPIO::GetInfo(char const* key)
{
    STRING k(key ? key : "");
    k.ToUpper();
    if (k == "ONLINE")
        return STRING(IsConnected() ? "1" : "0");
    if (k == "OWNID")
        return STRING(OwnName);
    if (k == "CALLERID" || k == "PEERIP") {
        std::lock_guard<std::mutex> guard(InfoLock);
        return STRING(PeerIp);
    }
    if (k == "DEVICENAME")
        return STRING("TCPIP");
    if (k == "SOCKET")
        return STRING(Socket.Get());
    if (k == "ACCEPTPORT") {
        // Under the table's lock the held socket can't be closed meanwhile.
        MUTEXLOCK lock(InSocketsLock);
        int const fd = InSocket;
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        if (fd == -1 || getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
            return STRING(-1);
        return STRING(static_cast<int>(ntohs(sa.sin_port)));
    }
    if (k == "BANDWIDTH")
        return STRING("10000000");
    if (k == "IDLE_TIME")
        return STRING(IdleSeconds(LastActivity));
    if (k == "LASTERROR")
        return STRING(LastError.load());
    if (k == "LASTERRORSTRING")
        return ErrorTableText(gTcpErrors, ARRAYMAX(gTcpErrors), LastError, GetLastErrorString(), "(", ")");
    if (k == "LASTERRORCLASS")
        return ErrorTableClass(gTcpErrors, ARRAYMAX(gTcpErrors), LastError);
    if (k == "WSALASTERRORSTRING")
        return GetLastErrorString();
    return UnknownInfoKey(key);
}
