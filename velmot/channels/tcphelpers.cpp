// TCP: the static socket helpers of the channels.
#include "velmot/channels/tcphelpers.h"

#include "velmot/channels/ios.h"
#include "velmot/channels/tcpio.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/wstring.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void CopyText(char* buf, int len, char const* text)
{
    if (buf && len > 0)
        snprintf(buf, static_cast<size_t>(len), "%s", text ? text : "");
}

std::string Trim(std::string const& s, char const* chars)
{
    size_t const b = s.find_first_not_of(chars);
    if (b == std::string::npos)
        return std::string();
    size_t const e = s.find_last_not_of(chars);
    return s.substr(b, e - b + 1);
}

bool HasLetter(std::string const& s)
{
    for (unsigned char c : s) {
        if (isalpha(c))
            return true;
    }
    return false;
}

void SplitDestinationText(char const* dest, std::string& host, std::string& port)
{
    std::string t = dest ? dest : "";
    size_t i = t.find_first_not_of(" \t*#");
    t = i == std::string::npos ? std::string() : t.substr(i);
    // A bare IPv6 address (two colons or more in its first word) keeps its
    // leading colons; its port, if any, follows a blank.
    std::string const word = t.substr(0, t.find_first_of(" \t"));
    bool const bareIpv6 = word.find(']') == std::string::npos && word.find('[') == std::string::npos &&
                          std::count(word.begin(), word.end(), ':') >= 2;
    if (!bareIpv6) {
        i = t.find_first_not_of(" \t:*#");
        t = i == std::string::npos ? std::string() : t.substr(i);
    }
    if (t.find(']') != std::string::npos) {
        STRING h, p;
        TCP::DestinationToHostAndPort(t.c_str(), 23, h, p);
        host = h.Buf();
        port = p.Buf();
    } else {
        size_t const sep = bareIpv6 ? t.find_first_of(" \t") : t.find_first_of(" \t:");
        host = t.substr(0, sep);
        port = sep == std::string::npos ? std::string() : t.substr(sep + 1);
    }
    host = Trim(host, " \t[]");
    port = Trim(port, ": \t");
    if (port.empty())
        port = "23";
}

int PortOf(sockaddr const* sa)
{
    if (sa->sa_family == AF_INET)
        return ntohs(reinterpret_cast<sockaddr_in const*>(sa)->sin_port);
    if (sa->sa_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6 const*>(sa)->sin6_port);
    return 0;
}

// Waits for fd to be ready up to the deadline; false on time-out or error.
bool WaitUntil(int fd, short events, long long deadline)
{
    for (;;) {
        long long const left = deadline - BASEIO::NowMs();
        if (left <= 0)
            return false;
        pollfd p{fd, events, 0};
        int r = poll(&p, 1, static_cast<int>(left));
        if (r > 0)
            return true;
        if (r == 0 || errno != EINTR)
            return false;
    }
}

// The SOCKS exchange gives up after this long without the proxy's reply.
constexpr int kSocksTimeoutMs = 20000;

// Masks the secret part of a command line for the log.
std::string MaskCommand(std::string const& command)
{
    std::string upper = command;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    size_t pos = upper.find("PASS ");
    if (pos != std::string::npos)
        return command.substr(0, pos + 5) + "******";
    // AUTH <mechanism> [initial response]: the response is the secret.
    pos = upper.find("AUTH ");
    if (pos != std::string::npos) {
        size_t const mech = upper.find_first_not_of(' ', pos + 5);
        size_t const end = mech == std::string::npos ? std::string::npos : upper.find(' ', mech);
        if (end != std::string::npos && upper.find_first_not_of(' ', end) != std::string::npos)
            return command.substr(0, end + 1) + "******";
        return command;
    }
    // IMAP: tag LOGIN user password.
    pos = upper.find("LOGIN ");
    if (pos != std::string::npos)
        return command.substr(0, pos + 6) + "******";
    return command;
}

} // namespace

TCPERRORTEXT const gTcpErrors[10] = {
    {4096, 400, "No response. *"},
    {4097, 500, "No TCP/IP socket or service. *"},
    {4098, 500, "Host not found. *"},
    {4099, 500, "Remote disconnected"},
    {4101, 500, "Error Ioctl failed. *"},
    {4102, 500, "Listen failed. *"},
    {4104, 500, "Bind failed. *"},
    {4103, 500, "Accept failed. *"},
    {4100, 500, "Recv failed"},
    {0, 200, "No Error"},
};

STRING ErrorTableText(TCPERRORTEXT const* table, int rows, int code, char const* detail, char const* open,
                      char const* close)
{
    for (int i = 0; i < rows; ++i) {
        if (table[i].Code != code)
            continue;
        STRING text(table[i].Text);
        if (text.Length() > 0 && text[text.Length() - 1] == '*') {
            text.Cut(text.Length() - 1);
            text.Append(open);
            text.Append(detail ? detail : "");
            text.Append(close);
        }
        return text;
    }
    return STRING(code);
}

STRING ErrorTableClass(TCPERRORTEXT const* table, int rows, int code)
{
    for (int i = 0; i < rows; ++i) {
        if (table[i].Code == code)
            return STRING(table[i].Class);
    }
    return STRING("599");
}

long long IdleSeconds(unsigned long long lastActivity)
{
    if (lastActivity == 0)
        return -1;
    unsigned long long const now = OSYS::GetLTime();
    return now > lastActivity ? static_cast<long long>(now - lastActivity) : 0;
}

// ---------------------------------------------------------------------------
// Start-up, destinations, resolution

bool TCP::InitWinsock()
{
    return true;
}

void TCP::CleanupWinsock() {}

char* TCP::FindColonForPort(char* text)
{
    return const_cast<char*>(FindColonForPort(static_cast<char const*>(text)));
}

char const* TCP::FindColonForPort(char const* text)
{
    if (!text)
        return nullptr;
    if (*text == '[') {
        char const* close = strchr(text, ']');
        return close && close[1] == ':' ? close + 1 : nullptr;
    }
    return strchr(text, ':');
}

void TCP::SplitDestination(char const* dest, STRING& host, STRING& port)
{
    std::string h, p;
    SplitDestinationText(dest, h, p);
    host = STRING(h.c_str());
    port = STRING(p.c_str());
}

bool TCP::DestinationToHostAndPort(char const* dest, int defaultPort, STRING& host, STRING& port)
{
    char const* text = dest ? dest : "";
    char const* colon = FindColonForPort(text);
    if (!colon) {
        host = STRING(text);
        port = STRING(defaultPort);
        return false;
    }
    host = STRING(std::string(text, colon).c_str());
    host.Trim('B', "[]");
    port = STRING(colon + 1);
    return true;
}

TCPRESOLVED* TCP::ResolvEx(char const* dest, char* name, int nameLen, int* port, uint32_t* ipv4, char* error,
                           int errorLen, signed char noIpToName)
{
    std::string host, service;
    SplitDestinationText(dest, host, service);
    bool const numeric = !HasLetter(host);
    int a, b, c, d;
    char rest;
    if (numeric && sscanf(host.c_str(), "%d.%d.%d.%d%c", &a, &b, &c, &d, &rest) == 4) {
        char text[64];
        snprintf(text, sizeof text, "%d.%d.%d.%d", a, b, c, d);
        host = text;
    }
    CopyText(error, errorLen, "");
    if (ipv4)
        *ipv4 = 0;

    addrinfo hints{};
    hints.ai_family = ipv4 ? AF_INET : AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    // A numeric host is never handed to a name server.
    hints.ai_flags = numeric ? AI_NUMERICHOST : 0;
    addrinfo* found = nullptr;
    int rc = host.empty() ? EAI_NONAME : getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0 || !found) {
        CopyText(error, errorLen, gai_strerror(rc ? rc : EAI_NONAME));
        CopyText(name, nameLen, host.c_str());
        if (port) {
            servent* s = getservbyname(service.c_str(), "tcp");
            *port = s ? ntohs(static_cast<uint16_t>(s->s_port)) : atoi(service.c_str());
        }
        if (found)
            freeaddrinfo(found);
        return nullptr;
    }

    auto* rec = static_cast<TCPRESOLVED*>(calloc(1, sizeof(TCPRESOLVED)));
    if (!rec) {
        freeaddrinfo(found);
        CopyText(error, errorLen, strerror(ENOMEM));
        return nullptr;
    }
    for (addrinfo* ai = found; ai && rec->Count < TCPRESOLVED_MAXADDRESSES; ai = ai->ai_next) {
        if (ai->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        memcpy(&rec->Addresses[rec->Count], ai->ai_addr, ai->ai_addrlen);
        rec->AddressLengths[rec->Count] = ai->ai_addrlen;
        if (ipv4 && *ipv4 == 0 && ai->ai_family == AF_INET)
            *ipv4 = reinterpret_cast<sockaddr_in const*>(ai->ai_addr)->sin_addr.s_addr;
        ++rec->Count;
    }
    freeaddrinfo(found);
    if (rec->Count == 0) {
        free(rec);
        CopyText(error, errorLen, gai_strerror(EAI_FAMILY));
        CopyText(name, nameLen, host.c_str());
        return nullptr;
    }
    rec->First = rec->Addresses[0];
    rec->FirstLength = rec->AddressLengths[0];
    rec->Family = rec->First.ss_family;
    rec->AddressLength = static_cast<int>(rec->FirstLength);
    auto const* first = reinterpret_cast<sockaddr const*>(&rec->First);
    if (getnameinfo(first, rec->FirstLength, rec->NumericText, sizeof rec->NumericText, nullptr, 0, NI_NUMERICHOST) != 0)
        CopyText(rec->NumericText, sizeof rec->NumericText, host.c_str());
    if (!noIpToName) {
        if (getnameinfo(first, rec->FirstLength, rec->Name, sizeof rec->Name, nullptr, 0, NI_NAMEREQD) != 0)
            CopyText(rec->Name, sizeof rec->Name, "<unknown>");
    } else {
        CopyText(rec->Name, sizeof rec->Name, numeric ? "<unknown>" : host.c_str());
    }
    if (port)
        *port = PortOf(first);
    CopyText(name, nameLen, rec->Name);
    return rec;
}

TCPRESOLVED* TCP::ResolvExW(char const* dest, char* name, int nameLen, int* port, uint32_t* ipv4, wchar_t* error,
                            int errorLen, signed char noIpToName)
{
    char text[256] = "";
    TCPRESOLVED* rec = ResolvEx(dest, name, nameLen, port, ipv4, text, sizeof text, noIpToName);
    if (error && errorLen > 0)
        swprintf(error, static_cast<size_t>(errorLen), L"%s", text);
    return rec;
}

STRING TCP::GetIpAddress(char const* host)
{
    uint32_t address = 0;
    char error[128];
    TCPRESOLVED* rec = ResolvEx(host, nullptr, 0, nullptr, &address, error, sizeof error, 1);
    free(rec);
    if (!rec || address == 0)
        return STRING("");
    char text[INET_ADDRSTRLEN];
    in_addr in{address};
    inet_ntop(AF_INET, &in, text, sizeof text);
    return STRING(text);
}

// ---------------------------------------------------------------------------
// Sockets

int TCP::Bind(int socket, char const* ourId, int* port)
{
    if (port)
        *port = -1;
    char const* id = ourId ? ourId : "";
    int const wanted = atoi(id);
    std::string address = "*";
    if (char const* open = strchr(id, '[')) {
        address = open + 1;
        size_t const close = address.find(']');
        if (close != std::string::npos)
            address.erase(close);
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(wanted));
    if (address.empty() || address == "*") {
        sa.sin_addr.s_addr = htonl(INADDR_ANY);
    } else {
        uint32_t ip = 0;
        char error[128];
        TCPRESOLVED* rec = ResolvEx(address.c_str(), nullptr, 0, nullptr, &ip, error, sizeof error, 1);
        free(rec);
        if (!rec || ip == 0) {
            LOGIT("TCP::Bind can't resolve %s (%s)\n", address.c_str(), error);
            errno = EADDRNOTAVAIL;
            return -1;
        }
        sa.sin_addr.s_addr = ip;
    }
    int one = 1;
    if (setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0)
        LOGIT("TCP::Bind SO_REUSEADDR failed: %s\n", strerror(errno));
    if (bind(socket, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
        return -1;
    if (port) {
        *port = wanted;
        if (wanted == 0) {
            sockaddr_in got{};
            socklen_t len = sizeof got;
            *port = getsockname(socket, reinterpret_cast<sockaddr*>(&got), &len) == 0 ? ntohs(got.sin_port) : 0;
        }
    }
    return 0;
}

int TCP::Select(int socket, signed char* readable, signed char* writable, signed char connectRequest, int timeoutMs,
                STRING& error)
{
    bool const wantRead = readable && *readable;
    bool const wantWrite = writable && *writable;
    if (readable)
        *readable = 0;
    if (writable)
        *writable = 0;
    pollfd p{socket, static_cast<short>((wantRead ? POLLIN : 0) | (wantWrite ? POLLOUT : 0) | POLLPRI), 0};
    long long const deadline = timeoutMs < 0 ? 0 : BASEIO::NowMs() + timeoutMs;
    int r;
    for (;;) {
        int wait = timeoutMs < 0 ? -1 : static_cast<int>(std::max(0LL, deadline - BASEIO::NowMs()));
        r = poll(&p, 1, wait);
        if (r >= 0 || errno != EINTR)
            break;
    }
    if (r == 0)
        return 0;
    bool const failed = r < 0 || (p.revents & POLLNVAL) || (connectRequest && (p.revents & POLLERR));
    if (failed) {
        int code = 0;
        error = GetLastSocketErrorString(socket, &code);
        LOGIT("TCPIPIO::Select for skt %d failed with %s\n", socket, error.Buf());
        return -1;
    }
    if (readable && wantRead)
        *readable = (p.revents & (POLLIN | POLLHUP | POLLERR)) ? 1 : 0;
    if (writable && wantWrite)
        *writable = (p.revents & (POLLOUT | POLLHUP | POLLERR)) ? 1 : 0;
    return r;
}

bool TCP::SetKeepAlive(int socket, signed char on)
{
    int value = on ? 1 : 0;
    if (setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &value, sizeof value) != 0)
        return false;
    int back = -1;
    socklen_t len = sizeof back;
    return getsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, &back, &len) == 0 && (back != 0) == (value != 0);
}

bool TCP::SetBufferSize(int socket, int size)
{
    setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &size, sizeof size) == 0;
}

bool TCP::SetNonblocking(int socket, signed char on)
{
    int flags = fcntl(socket, F_GETFL);
    if (flags < 0)
        return false;
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(socket, F_SETFL, flags) == 0;
}

STRING TCP::GetLastSocketErrorString(int socket, int* code)
{
    int value = 0;
    socklen_t len = sizeof value;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &value, &len) != 0) {
        if (code)
            *code = errno;
        return STRING("getsockopt failed");
    }
    if (code)
        *code = value;
    if (value != 0) {
        char buf[256];
        char const* text = strerror_r(value, buf, sizeof buf);
        if (text && strncmp(text, "Unknown error", 13) != 0)
            return STRING(text);
    }
    STRING out;
    out.Format("SO_ERROR returned %d", value);
    return out;
}

WSTRING TCP::GetLastSocketErrorStringW(int socket, int* code)
{
    return WSTRING(GetLastSocketErrorString(socket, code));
}

STRING TCP::GetLastErrorString(int code)
{
    if (code == -9999)
        code = errno;
    char buf[256];
    return STRING(strerror_r(code, buf, sizeof buf));
}

WSTRING TCP::GetLastErrorStringW(int code)
{
    return WSTRING(GetLastErrorString(code));
}

// ---------------------------------------------------------------------------
// Lines of the text protocols

bool TCP::ReadLine(TCPIPIO& io, char* buf, int size, int timeoutMs)
{
    if (!buf || size < 1)
        return false;
    buf[0] = '\0';
    int n = size - 1;
    bool const ok = io.Read(buf, &n, timeoutMs, "\n");
    if (!ok) {
        buf[0] = '\0';
        return false;
    }
    bool const complete = buf[n - 1] == '\n';
    if (complete)
        --n;
    char* out = buf;
    for (int i = 0; i < n; ++i) {
        if (buf[i] != '\r')
            *out++ = buf[i];
    }
    *out = '\0';
    if (!complete && n == size - 1) {
        // The rest of an over-long line is dropped, so that it can't pass
        // for a line of its own.
        long long const deadline = BASEIO::NowMs() + std::max(timeoutMs, 0);
        long dropped = 0;
        char rest[256];
        for (;;) {
            int m = sizeof rest;
            int const left = timeoutMs < 0 ? -1 : static_cast<int>(std::max(0LL, deadline - BASEIO::NowMs()));
            if (!io.Read(rest, &m, left, "\n"))
                break;
            dropped += m;
            if (rest[m - 1] == '\n' || dropped > (1L << 20))
                break;
        }
        LOGIT("TCP::ReadLine cut a line longer than %d bytes (%ld more dropped)\n", size - 1, dropped);
    }
    return true;
}

bool TCP::WriteCommand(TCPIPIO& io, char const* command, char* reply, int replySize, int timeoutMs)
{
    std::string line = command ? command : "";
    bool const ok = io.Write((line + "\r\n").c_str(), static_cast<int>(line.size() + 2));
    if (gDoLogit) {
        std::string shown = io.SecretNextCommand ? std::string("******") : MaskCommand(line);
        LOGIT("TCP::WriteCmd %s\n", shown.c_str());
    }
    io.SecretNextCommand = false;
    if (!ok)
        return false;
    if (reply && replySize > 0 && timeoutMs != 0) {
        bool const got = ReadLine(io, reply, replySize, timeoutMs);
        // The line after a "334" challenge carries credentials.
        io.SecretNextCommand = got && strncmp(reply, "334", 3) == 0;
        return got;
    }
    return true;
}

// ---------------------------------------------------------------------------
// SOCKS 4

bool TCP::SocksConnect(int socket, char const* host, int port, char* error, int errorLen)
{
    CopyText(error, errorLen, "");
    unsigned char request[9] = {4, 1, static_cast<unsigned char>((port >> 8) & 0xFF),
                                static_cast<unsigned char>(port & 0xFF), 0, 0, 0, 0, 0};
    STRING const ip = GetIpAddress(host);
    in_addr address{};
    if (inet_pton(AF_INET, ip.Buf(), &address) == 1)
        memcpy(request + 4, &address.s_addr, 4);
    long long const deadline = BASEIO::NowMs() + kSocksTimeoutMs;
    size_t sent = 0;
    while (sent < sizeof request) {
        ssize_t n = send(socket, request + sent, sizeof request - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!WaitUntil(socket, POLLOUT, deadline))
                break;
        } else {
            break;
        }
    }
    // The reply may come in pieces, and the socket may be non-blocking: it
    // is waited for, up to the deadline.
    unsigned char reply[8];
    int got = 0;
    while (sent == sizeof request && got < 8) {
        ssize_t n = recv(socket, reply + got, sizeof reply - static_cast<size_t>(got), MSG_DONTWAIT);
        if (n > 0) {
            got += static_cast<int>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!WaitUntil(socket, POLLIN, deadline))
                break;
        } else {
            break;
        }
    }
    if (got == 8 && reply[1] == 90) {
        OSYS::Sleep(100);
        return true;
    }
    char text[256];
    if (got == 8)
        snprintf(text, sizeof text, "connection to %s:%d failed (cd= %d)", host ? host : "", port, reply[1]);
    else
        snprintf(text, sizeof text, "proxy or host didn't reply (rc= %d)", got);
    CopyText(error, errorLen, text);
    return false;
}

bool TCP::HostPortFromSocks(char const* setting, char* host, int hostLen, unsigned short* port, int defaultPort)
{
    if (defaultPort == -1)
        defaultPort = 1080;
    std::string text = setting ? setting : "";
    if (text.empty() || text == "*")
        return false;
    size_t const at = text.find('@');
    if (at != std::string::npos)
        text = text.substr(at + 1);
    STRING h, p;
    DestinationToHostAndPort(text.c_str(), defaultPort, h, p);
    CopyText(host, hostLen, h.Buf());
    if (port)
        *port = static_cast<unsigned short>(static_cast<int>(p));
    return true;
}
