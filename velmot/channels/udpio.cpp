// UDPIO: the datagram channel.
#include "velmot/channels/udpio.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr char const* kSource = "udpio";
// The largest datagram IPv4 carries fits.
constexpr int kDatagramMax = 65536;

STRING SenderText(sockaddr_in const& sa)
{
    char ip[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &sa.sin_addr, ip, sizeof ip);
    STRING out;
    out.Format("%s:%d", ip, ntohs(sa.sin_port));
    return out;
}

} // namespace

TCPERRORTEXT const UDPIO::UdpErrors[8] = {
    {4096, 400, "No response."},
    {4097, 500, "No UDP socket or service."},
    {4098, 500, "Host not found. *"},
    {4099, 500, "Remote disconnected."},
    {4101, 500, "Error Ioctl failed. *"},
    {4102, 500, "Bind failed. *"},
    {4100, 500, "Recv failed"},
    {0, 200, "No Error"},
};

UDPIO::UDPIO(char const* ourId, char const* callType, char const* parm)
    : BASEIO(ourId, callType, parm, BASEIO_DEVICE_DELAYED_START | BASEIO_DEVICE_NO_DAEMON)
{
    LOGIT("UDPIO::UDPIO\n");
    UpAndRunning = TCP::InitWinsock() ? 1 : 0;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        UpAndRunning = 0;
        SetLastError(TCPERR_NOSOCKET, TCP::GetLastErrorString(-9999));
    } else {
        Socket.Set(fd);
    }
    snprintf(OwnName, sizeof OwnName, "%s", OSYS::ComputerName().Buf());
    snprintf(PeerName, sizeof PeerName, "<unknown>");
    snprintf(PeerId, sizeof PeerId, "<unknown>");
    Destination.sin_family = AF_INET;
    ConstructorDone.Post();
    LOGIT("UDPIO::UDPIO done\n");
}

UDPIO::~UDPIO()
{
    if (Socket.IsSet())
        UDPIO::DropCall();
    KillDaemon(1);
    TCP::CleanupWinsock();
}

bool UDPIO::IsUpAndRunning()
{
    return UpAndRunning != 0;
}

bool UDPIO::DevIsConnected()
{
    return Socket.IsSet();
}

STRING UDPIO::LastSender() const
{
    std::lock_guard<std::mutex> guard(DataLock);
    return PendingSender;
}

bool UDPIO::AcceptCall()
{
    CALLSCOPE call(*this);
    CHANNELFD::REF socket = Socket.Acquire();
    if (!call.Entered() || !socket) {
        AssertMsg(0, "this->Socket!=-1", kSource, __LINE__, nullptr, false);
        return false;
    }
    if (CallType.Find("{broadcast}")) {
        int one = 1;
        Broadcast = 1;
        setsockopt(*socket, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    }
    // Several channels may listen on one port (the broadcast message
    // channel's instances do): each of them hears the broadcasts.
    int port = -1;
    if (TCP::Bind(*socket, OurId, &port) != 0) {
        SetLastError(4102, TCP::GetLastErrorString(-9999));
        LOGIT("UDPIO::AcceptCall bind to %s failed: %s\n", OurId.Buf(), GetLastErrorString().Buf());
        return false;
    }
    LOGIT("UDPIO::AcceptCall bound to port %d\n", port);
    return true;
}

bool UDPIO::MakeCall(char const* destination)
{
    CALLSCOPE call(*this);
    CHANNELFD::REF socket = Socket.Acquire();
    if (!call.Entered() || !socket || !destination) {
        AssertMsg(0, "!this->IsDead && this->Socket!=-1 && destination", kSource, __LINE__, nullptr, false);
        return false;
    }
    std::string dest = destination;
    // Broadcast is decided for each call: an earlier broadcast does not
    // turn a later destination into the broadcast address.
    bool const broadcast = dest.rfind('*', 0) == 0 || CallType.Find("{broadcast}");
    Broadcast = broadcast ? 1 : 0;
    if (broadcast) {
        int one = 1;
        setsockopt(*socket, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        if (dest.substr(0, dest.find(':')) == "*")
            dest.replace(0, 1, "255.255.255.255");
    }
    if (dest.find(':') == std::string::npos)
        dest += std::string(":") + OurId.Buf();
    size_t const colon = dest.find(':');
    std::string const host = dest.substr(0, colon);
    std::string const service = dest.substr(colon + 1);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    if (broadcast) {
        to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    } else {
        char name[256];
        char error[256];
        uint32_t ip = 0;
        TCPRESOLVED* rec = TCP::ResolvEx(host.c_str(), name, sizeof name, nullptr, &ip, error, sizeof error, 0);
        free(rec);
        if (!rec || ip == 0) {
            // An unknown host is a failed call, not a channel that sends
            // nowhere.
            SetLastError(TCPERR_HOSTNOTFOUND, error);
            LOGIT("UDPIO::MakeCall can't resolve %s (%s)\n", host.c_str(), error);
            return false;
        }
        {
            std::lock_guard<std::mutex> guard(InfoLock);
            snprintf(PeerName, sizeof PeerName, "%s", name);
        }
        to.sin_addr.s_addr = ip;
    }
    int port = 0;
    if (!service.empty() && isdigit(static_cast<unsigned char>(service[0]))) {
        port = atoi(service.c_str());
    } else if (servent* s = getservbyname(service.c_str(), "udp")) {
        port = ntohs(static_cast<uint16_t>(s->s_port));
    }
    to.sin_port = htons(static_cast<uint16_t>(port));
    {
        std::lock_guard<std::mutex> guard(DataLock);
        Destination = to;
    }
    LOGIT("UDPIO::MakeCall to %s port %d%s\n", host.c_str(), port, broadcast ? " (broadcast)" : "");
    return true;
}

bool UDPIO::DevWrite(char const* data, int len)
{
    CHANNELFD::REF socket = Socket.Acquire();
    if (!socket)
        return false;
    sockaddr_in to;
    {
        std::lock_guard<std::mutex> guard(DataLock);
        to = Destination;
    }
    ssize_t n = sendto(*socket, data, static_cast<size_t>(std::max(len, 0)), MSG_NOSIGNAL,
                       reinterpret_cast<sockaddr const*>(&to), sizeof to);
    if (n >= 0)
        return true;
    int const err = errno;
    socket.reset();
    LOGIT("UDPIO::DevWrite failed: %s\n", strerror(err));
    DropCall();
    return false;
}

bool UDPIO::DevRead(char* buf, int* len, int timeoutMs)
{
    int const want = *len;
    *len = 0;
    {
        std::lock_guard<std::mutex> guard(DataLock);
        if (Pending.Length() > 0) {
            int n = std::min(want, Pending.Length());
            memcpy(buf, Pending.Buffer, static_cast<size_t>(n));
            Pending.CutLeft(n);
            *len = n;
            return true;
        }
    }
    CHANNELFD::REF socket = Socket.Acquire();
    if (!socket) {
        SetLastError(TCPERR_NOSOCKET, "");
        return false;
    }
    int r = WaitFd(*socket, POLLIN, timeoutMs);
    if (r == 0)
        return true;
    if (r == -2)
        return false;
    if (r < 0) {
        SetLastError(TCPERR_RECVFAILED, TCP::GetLastErrorString(-9999));
        socket.reset();
        if (static_cast<int>(Parm) == 0)
            DropCall();
        return false;
    }
    // The whole datagram, whatever its size; an empty one is a read of 0
    // bytes.
    char datagram[kDatagramMax];
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    ssize_t n = recvfrom(*socket, datagram, sizeof datagram, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return true;
        SetLastError(TCPERR_DISCONNECTED, TCP::GetLastErrorString(-9999));
        return false;
    }
    int const got = static_cast<int>(n);
    int const take = std::min(want, got);
    memcpy(buf, datagram, static_cast<size_t>(take));
    {
        std::lock_guard<std::mutex> guard(DataLock);
        if (take < got)
            Pending.Append(datagram + take, got - take);
        PendingSender = SenderText(from);
    }
    {
        std::lock_guard<std::mutex> guard(InfoLock);
        inet_ntop(AF_INET, &from.sin_addr, PeerId, sizeof PeerId);
    }
    *len = take;
    return true;
}

int UDPIO::DevGetNumAvail()
{
    {
        std::lock_guard<std::mutex> guard(DataLock);
        if (Pending.Length() > 0)
            return Pending.Length();
    }
    return CountReadable(Socket, TCPERR_IOCTL, "%s");
}

bool UDPIO::DropCall()
{
    LOGIT("UDPIO::DropCall\n");
    Interrupt();
    Socket.Close(true);
    {
        std::lock_guard<std::mutex> guard(DataLock);
        Pending.Cut(0);
    }
    return !DevIsConnected();
}

STRING UDPIO::GetInfo(char const* key)
{
    STRING k(key ? key : "");
    k.ToUpper();
    if (k == "ONLINE")
        return STRING(DevIsConnected() ? "1" : "0");
    if (k == "LASTERROR")
        return STRING(LastError.load());
    if (k == "LASTERRORSTRING")
        return ErrorTableText(UdpErrors, ARRAYMAX(UdpErrors), LastError, GetLastErrorString(), "(", ".)");
    if (k == "LASTERRORCLASS")
        return ErrorTableClass(UdpErrors, ARRAYMAX(UdpErrors), LastError);
    if (k == "OWNID")
        return STRING(OwnName);
    if (k == "CALLERID") {
        std::lock_guard<std::mutex> guard(InfoLock);
        return STRING(PeerName);
    }
    if (k == "PEERID") {
        std::lock_guard<std::mutex> guard(InfoLock);
        return STRING(PeerId);
    }
    if (k == "DEVICENAME")
        return STRING("UDP");
    if (k == "BANDWIDTH")
        return STRING("1000000");
    return UnknownInfoKey(key);
}
