// UDPIO: the datagram channel over one IPv4 UDP socket that lives as long
// as the channel. AcceptCall binds the socket to the own id ("port" or
// "port[address]"), so that datagrams can arrive; MakeCall chooses where
// written datagrams go ("host:port", "host" for the own port, "*:port"
// for the limited broadcast 255.255.255.255). One channel may do both.
//
// A read returns the next datagram (whole, up to 64 KiB); a datagram
// longer than the read is kept and returned by the next reads. An empty
// datagram is a read of 0 bytes. Broadcasting is decided per MakeCall: a
// destination that starts with "*", or a call type with "{broadcast}".
#pragma once

#include "velmot/channels/ios.h"
#include "velmot/channels/tcphelpers.h"

#include <netinet/in.h>

class VELMOT_EXPORT UDPIO : public BASEIO {
public:
    UDPIO(char const* ourId, char const* callType, char const* parm);

    bool DevRead(char* buf, int* len, int timeoutMs) override;
    // One datagram of the whole block.
    bool DevWrite(char const* data, int len) override;
    int DevGetNumAvail() override;
    bool DevIsConnected() override;
    ~UDPIO() override;
    bool IsUpAndRunning() override;
    bool MakeCall(char const* destination) override;
    bool AcceptCall() override;
    // Closes the socket; the channel can't be used again.
    bool DropCall() override;
    // "ONLINE", "LASTERROR", "LASTERRORSTRING", "LASTERRORCLASS", "OWNID",
    // "CALLERID", "PEERID", "DEVICENAME", "BANDWIDTH".
    STRING GetInfo(char const* key) override;

    static TCPERRORTEXT const UdpErrors[8];

protected:
    // Sender of the datagram the last read came from ("address:port").
    STRING LastSender() const;

    int UpAndRunning = 0;
    char PeerName[256]; // under InfoLock
    char OwnName[256];
    char PeerId[256]; // under InfoLock
    CHANNELFD Socket;
    std::atomic<int> Broadcast{0};

private:
    mutable std::mutex DataLock; // Pending, its sender, Destination
    BINARY Pending;              // rest of the last datagram
    STRING PendingSender;
    sockaddr_in Destination{};
};
