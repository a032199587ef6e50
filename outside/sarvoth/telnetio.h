// TELNETIO: the TCP channel of a Telnet connection, with TLS from the first
// byte when asked (OpenSSL).
//
// MakeCall (the channel's own, with its time-out, each address in turn)
// connects; StartTls then runs the TLS handshake (TLS 1.2 or newer, SNI,
// the system's trust store, where SSL_CERT_FILE and SSL_CERT_DIR are
// honoured) and checks the certificate: its chain and the host's name or
// address. A failed check ends nothing by itself: the caller decides
// (the user, a pinned fingerprint). Once TLS runs, the channel's reads and
// writes go through it (Recv, Send); the two may come from two threads.
#pragma once

#include "velmot/channels/tcpio.h"

#include <mutex>
#include <string>

struct ssl_st;
struct ssl_ctx_st;

namespace sarvoth {

// What the certificate check found.
struct CERTCHECK {
    bool Verified = false;    // chain and name good
    std::string Reason;       // why not
    std::string Subject;      // the server certificate's subject
    std::string Issuer;       // and issuer
    std::string Fingerprint;  // its SHA-256, "AB:CD:..."
};

class TELNETIO final : public TCPIPIO {
public:
    TELNETIO();
    ~TELNETIO() override;

    int Recv(int socket, char* buf, int len) override;
    int Send(int socket, char const* data, int len) override;

    // After MakeCall: urgent data stays in the stream (the DM of a Telnet
    // Synch is read in its place), keep-alives on.
    void Prepare();
    // The socket for a wait: open while the reference lives.
    CHANNELFD::REF SocketRef() const { return Socket.Acquire(); }
    // Bytes TLS has decrypted and not handed out yet.
    bool HasBuffered();
    // The handshake with host (a name or an address) within timeoutMs,
    // interrupted by DropCall. False with a reason when it failed; true
    // with the check's result otherwise.
    bool StartTls(std::string const& host, int timeoutMs, CERTCHECK* check, std::string* reason);
    // "TLSv1.3 TLS_AES_256_GCM_SHA384", empty without TLS.
    std::string TlsDescription();

private:
    std::mutex SslLock;
    ssl_ctx_st* Ctx = nullptr;
    ssl_st* Ssl = nullptr;
};

} // namespace sarvoth
