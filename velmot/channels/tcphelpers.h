// TCP: the static socket helpers the channels share: destinations, name
// resolution, binding, waiting on one socket, error texts and tables, the
// line functions of the text protocols (on a TCPIPIO), SOCKS 4.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

#include <cstdint>
#include <sys/socket.h>

class TCPIPIO;
class WSTRING;

// What ResolvEx found, released by the caller with free().
constexpr int TCPRESOLVED_MAXADDRESSES = 31;
struct TCPRESOLVED {
    char Name[256];  // display name
    int Family;      // AF_INET or AF_INET6, of the first address
    int AddressLength;
    int Count;       // addresses below, in the resolver's order, of either family
    sockaddr_storage Addresses[TCPRESOLVED_MAXADDRESSES]; // complete, with the port
    socklen_t AddressLengths[TCPRESOLVED_MAXADDRESSES];
    sockaddr_storage First; // Addresses[0]
    socklen_t FirstLength;
    char NumericText[256];  // the first address as text
};

class VELMOT_EXPORT TCP {
public:
    // Network start-up and clean-up; nothing to do on this system.
    static bool InitWinsock();
    static void CleanupWinsock();

    // The colon before the port: after the "]" of a text that starts with
    // "[", else the first ":"; null when there is none.
    static char* FindColonForPort(char* text);
    static char const* FindColonForPort(char const* text);
    // Splits at the port colon (host without its brackets): true. Without
    // one: host = the whole text, port = defaultPort, false.
    static bool DestinationToHostAndPort(char const* dest, int defaultPort, STRING& host, STRING& port);
    // The host and port texts ResolvEx resolves for a destination (port
    // "23" when none is given).
    static void SplitDestination(char const* dest, STRING& host, STRING& port);

    // Resolves a destination (see above). name receives the display name
    // (the reverse lookup of the first address, "<unknown>" without one;
    // with noIpToName the host as given, "<unknown>" for a numeric one),
    // port the port, ipv4 (when given: the lookup is then IPv4 only) the
    // first IPv4 address in network byte order, error the resolver's text.
    static TCPRESOLVED* ResolvEx(char const* dest, char* name, int nameLen, int* port, uint32_t* ipv4, char* error,
                                 int errorLen, signed char noIpToName);
    static TCPRESOLVED* ResolvExW(char const* dest, char* name, int nameLen, int* port, uint32_t* ipv4,
                                  wchar_t* error, int errorLen, signed char noIpToName);
    static STRING GetIpAddress(char const* host);

    // Binds an IPv4 socket to an own id; 0 on success. *port is -1 until
    // the bind is done, then the port bound.
    static int Bind(int socket, char const* ourId, int* port);
    // Waits on one socket: 1 ready (the flags tell what), 0 time-out, -1
    // failed (error holds the socket's pending error text).
    static int Select(int socket, signed char* readable, signed char* writable, signed char connectRequest,
                      int timeoutMs, STRING& error);
    static bool SetKeepAlive(int socket, signed char on);
    static bool SetBufferSize(int socket, int size);
    static bool SetNonblocking(int socket, signed char on);
    static STRING GetLastSocketErrorString(int socket, int* code);
    static WSTRING GetLastSocketErrorStringW(int socket, int* code);
    // The system's text for an error number; -9999 means errno.
    static STRING GetLastErrorString(int code);
    static WSTRING GetLastErrorStringW(int code);

    // One line without its "\n" and with every "\r" removed. A line longer
    // than the buffer is cut: its rest is read and dropped, so it never
    // passes for the next line.
    static bool ReadLine(TCPIPIO& io, char* buf, int size, int timeoutMs);
    // Sends command + "\r\n" and, with a reply buffer and a time-out, reads
    // one reply line. The log shows secrets masked (passwords, AUTH data and
    // the line that answers a "334" challenge); the line sent is unchanged.
    static bool WriteCommand(TCPIPIO& io, char const* command, char* reply, int replySize, int timeoutMs);
    // SOCKS 4 connect through a proxy the socket is connected to.
    static bool SocksConnect(int socket, char const* host, int port, char* error, int errorLen);
    static bool HostPortFromSocks(char const* setting, char* host, int hostLen, unsigned short* port, int defaultPort);
};

// Error codes of the TCP and UDP channels.
constexpr int TCPERR_NORESPONSE = 4096;
constexpr int TCPERR_NOSOCKET = 4097;
constexpr int TCPERR_HOSTNOTFOUND = 4098;
constexpr int TCPERR_DISCONNECTED = 4099;
constexpr int TCPERR_RECVFAILED = 4100;
constexpr int TCPERR_IOCTL = 4101;
constexpr int TCPERR_LISTEN = 4102;
constexpr int TCPERR_ACCEPT = 4103;
constexpr int TCPERR_BIND = 4104;

// One row of an error table: code, class, text (a text ending in "*" is
// completed with the channel's own error text).
struct TCPERRORTEXT {
    int Code;
    int Class;
    char const* Text;
};
extern VELMOT_EXPORT TCPERRORTEXT const gTcpErrors[10];
// "LASTERRORSTRING" from a table: the row's text, where a final "*" is
// replaced by open + detail + close; the code as a number when the table
// has no row for it.
VELMOT_EXPORT STRING ErrorTableText(TCPERRORTEXT const* table, int rows, int code, char const* detail,
                                    char const* open, char const* close);
// "LASTERRORCLASS" from a table; "599" when it has no row for the code.
VELMOT_EXPORT STRING ErrorTableClass(TCPERRORTEXT const* table, int rows, int code);

// Seconds since the last activity, -1 while there was none (IDLE_TIME).
VELMOT_EXPORT long long IdleSeconds(unsigned long long lastActivity);
