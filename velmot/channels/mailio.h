// MAILIO: short named messages between the machines of the local network
// by UDP broadcast on port 50801. Every channel with the same name hears
// what the others (and itself) send.
//
// On the wire each message is one datagram: "[MAILIO::<name>]", the
// message bytes, then 0x03 (ETX). A message may also arrive split across
// datagrams; the pieces are joined per sender (address and port), so two
// senders' pieces never mix, and an unfinished message is kept only up to
// MAILASSEMBLER::MAXPENDING bytes.
//
// Use: AcceptCall binds the port (to hear), MakeCall sets the broadcast
// destination (to send, any argument), Write sends one message, and
// SetDataFunction starts the reader thread that hands each message of this
// channel's name to the callback (on that thread). Content from the
// network is untrusted: it is data, never a command.
#pragma once

#include "velmot/channels/udpio.h"

#include <cstdint>
#include <string>
#include <vector>

// Joins datagram pieces into messages, per sender, and passes on the
// messages that start with the prefix (without it).
class VELMOT_EXPORT MAILASSEMBLER {
public:
    static constexpr int MAXPENDING = 65536; // unfinished bytes kept per sender
    static constexpr int MAXSENDERS = 64;    // senders with unfinished bytes

    using DELIVER = void (*)(void* context, char const* data, int len);

    explicit MAILASSEMBLER(char const* prefix) : Prefix(prefix ? prefix : "") {}
    // Takes one datagram (or a piece of one) from a sender.
    void Take(char const* sender, char const* data, int len, DELIVER deliver, void* context);
    size_t Senders() const { return Pending.size(); }

private:
    struct SENDER {
        std::string Key;
        std::string Bytes;
        uint64_t LastUse;
    };
    std::string Prefix;
    std::vector<SENDER> Pending;
    uint64_t Uses = 0;
};

class VELMOT_EXPORT MAILIO : public UDPIO {
public:
    static constexpr int PORT = 50801;

    // callType and parm are not used.
    MAILIO(char const* name, char const* callType, char const* parm);

    // Meant for the reader thread only (time-out -1, with a data callback):
    // reads one datagram and feeds the messages it completes.
    bool DevRead(char* buf, int* len, int timeoutMs) override;
    // Sends prefix + data + ETX as one datagram.
    bool DevWrite(char const* data, int len) override;
    ~MAILIO() override;
    // Sets the broadcast destination; the argument is not used.
    bool MakeCall(char const* destination) override;
    // Keeps the socket open.
    bool DropCall() override;
    // "ONLINE", "DEVICENAME" ("MAIL"); other keys as UDPIO.
    STRING GetInfo(char const* key) override;

    int DropAccept();

private:
    static void Deliver(void* self, char const* data, int len);

    STRING Name;
    STRING Prefix;
    MAILASSEMBLER Assembler; // the reader thread's
};
