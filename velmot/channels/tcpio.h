// TCPIPIO: the TCP channel (the static helpers TCP are in tcphelpers.h).
//
// Destinations: "host:port", "host port", "[address]:port", a bare IPv6
// address ("::1", "fe80::1 8080"), or a host alone (port 23). The port may
// be a service name ("telnet"). Host names go through getaddrinfo, and
// MakeCall tries each address in turn (both families, in the resolver's
// order) within one connect time-out. Numeric hosts are never sent to a
// name server.
//
// Own ids (what AcceptCall listens on): "port", "port[address]" or
// "address:port" (stored as port[address]); "*" or no address means any.
//
// Threads: MakeCall and AcceptCall block the calling thread (up to
// ConnectTimeout, or until a peer calls); run them off the main thread and
// end them from any thread with DropCall, which also ends a Read or a
// Write waiting on the connection. Writes are serialised; a write that
// makes no progress for WriteTimeout fails and drops the connection.
#pragma once

#include "velmot/channels/ios.h"
#include "velmot/channels/tcphelpers.h"

#include <atomic>

class VELMOT_EXPORT TCPIPIO : public BASEIO {
public:
    TCPIPIO(char const* ourId, char const* callType, char const* parm);

    bool DevRead(char* buf, int* len, int timeoutMs) override;
    bool DevWrite(char const* data, int len) override;
    int DevGetNumAvail() override;
    bool DevIsConnected() override;
    ~TCPIPIO() override;
    bool IsUpAndRunning() override;
    bool MakeCall(char const* destination) override;
    bool AcceptCall() override;
    bool DropCall() override;
    void SetOurId(char const* ourId) override;
    // "ONLINE", "OWNID", "CALLERID", "PEERIP", "DEVICENAME", "SOCKET",
    // "ACCEPTPORT", "BANDWIDTH", "IDLE_TIME", "LASTERROR",
    // "LASTERRORSTRING", "LASTERRORCLASS", "WSALASTERRORSTRING".
    STRING GetInfo(char const* key) override;
    // Receive and send on the socket; DevRead and DevWrite go through
    // them, so a subclass can put a layer (TLS) between.
    virtual int Recv(int socket, char* buf, int len);
    virtual int Send(int socket, char const* data, int len);

    // Makes sure a listening socket is held (for "ACCEPTPORT" before a
    // peer calls).
    bool PrepareAcceptCall();
    // The listening sockets are shared by the channels of the process that
    // listen on the same port, with a use count each.
    int MakeAcceptSocket(int* port);
    // Lowers the socket's use count and closes it at 0 (or at once with
    // hard, for every user).
    static void FreeAcceptSocket(int socket, signed char hard);

    int ResolvePeerOnCall = 1;          // MakeCall looks the peer's name up
    signed char ResolvePeerOnAccept = 0; // AcceptCall looks the peer's name up
    int ConnectTimeout = -1;            // ms for MakeCall; -1 = 60,000
    int WriteTimeout = -1;              // ms a write may make no progress; -1 = 60,000

    struct INSOCKET {
        int Socket;
        int InUse;
        int Port;
    };
    static INSOCKET InSockets[256];
    static MUTEXSEM InSocketsLock;

protected:
    // Ends the connection; keepError leaves LastError as it is (the read
    // and write paths that found the connection gone).
    void CloseConnection(bool keepError);
    void LogData(char const* label, char const* data, int len);

    int UpAndRunning = 0;
    CHANNELFD Socket;
    char PeerIp[256];  // under InfoLock
    char OwnName[256];
    std::atomic<int> InSocket{-1};
    std::atomic<int> AcceptedFrom{-1};
    EVENTSEM semAcceptDone;
    MUTEXSEM WriteLock;
    std::atomic<unsigned long long> LastActivity{0}; // seconds since 1970, 0 = none

private:
    static bool HoldAcceptSocket(int socket);
    bool ReadyForCall(CALLSCOPE const& call);
    void SetPeerIp(char const* text);
    bool Connect(TCPRESOLVED const& where, unsigned dropsAtStart);
    bool SecretNextCommand = false; // WriteCommand: the next line answers a "334"
    std::atomic<unsigned> Drops{0};
    friend class TCP;
};
