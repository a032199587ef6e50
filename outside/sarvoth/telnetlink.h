// TELNETLINK: one Telnet device's connection, from its connect to its end:
// the TCP channel (TELNETIO, TLS when asked), the protocol (TELNETPROTOCOL)
// and the read side the host's reader thread waits in (DEVICEGATE).
//
// Connect never blocks: a worker resolves, connects (each address in turn,
// within the time-out) and, over TLS, runs the handshake and the
// certificate's check, asking the user through the options' question when
// it fails. Its outcome arrives in the received data first, as
// "<prefix>CONNECT <host>\r\n" or "<prefix>FAIL: <reason>\r\n", texts from
// the name server or the certificate made printable. Nothing is sent on
// the connection before that. Hangup and Close end an attempt at once (no
// line: whoever ended it knows).
//
// Threads: the main thread calls Open, Close, Connect, Hangup, Write,
// SetTerminal and Status; the reader thread calls NumAvail and Read; Write
// and SendBreak may also come from another thread. A worker still waiting
// for the user when the link ends is left to finish by itself, with its
// own share of the state.
#pragma once

#include "outside/sarvoth/telnetio.h"
#include "outside/sarvoth/telnetproto.h"

#include <functional>
#include <memory>
#include <string>

namespace sarvoth {

// A server certificate that failed its check, for the user.
struct CERTQUESTION {
    std::string Host;
    int Port = 0;
    CERTCHECK Check; // its texts printable
};

// The user's answer to a CERTQUESTION.
enum CERTANSWER : int { CERT_REFUSE = 0, CERT_ONCE = 1, CERT_ALWAYS = 2 };

struct LINKOPTIONS {
    bool Tls = false;
    int Port = 23;                // when the target names none
    int ConnectTimeoutMs = 30000; // connect and TLS handshake, each
    std::string PinFile;          // empty: PINSTORE::DefaultPath()
    // Asked on the worker thread; may wait for the user. Null: refused.
    std::function<int(CERTQUESTION const&)> AskCertificate;
};

class TELNETLINK {
public:
    // prefix: "[TELNET] " or "[TELNET/SSL] ". endOfRecord runs on the
    // reader thread between the bytes Read gave before and after a record's
    // end.
    TELNETLINK(std::string prefix, std::function<void()> endOfRecord);
    ~TELNETLINK();
    TELNETLINK(TELNETLINK const&) = delete;
    TELNETLINK& operator=(TELNETLINK const&) = delete;

    bool Open();
    // Ends the connection and releases the reader at once.
    void Close();
    // Starts a connection to target; false when the target is no target
    // (its FAIL line is in the received data).
    bool Connect(char const* target, LINKOPTIONS const& options);
    // Ends the connection or the attempt.
    void Hangup();

    int NumAvail();
    // 0 with *len bytes; 2 when closing. Blocks while there is nothing to
    // read (also after the connection ended).
    signed char Read(char* buf, unsigned long* len);
    bool Write(char const* data, size_t len);
    bool SendBreak();
    bool Online();
    // What the protocol tells the peer of the terminal; a new window size
    // is told at once.
    void SetTerminal(TERMINAL const& terminal);
    // Lines for the status page.
    std::string Status();

    struct CONNECTION;
    struct SHARED;

private:
    std::shared_ptr<CONNECTION> Current();
    std::string const Prefix;
    std::function<void()> const EndOfRecord;
    std::shared_ptr<SHARED> S;
    // The reader thread's own.
    bool MarkerPending = false;
    std::string Out;
};

} // namespace sarvoth
