// Devices 3 "Telnet" and 10 "Telnet/SSL": a remote host over Telnet, in
// the clear or in TLS from the first byte.
//
// The parameter string is "[3]<port>|<terminal type>" (telnettext.h). The
// device tells the host the session emulation's terminal names (TTYPE,
// QueryUnixName 0, 1, ...), its size (NAWS, again on TrackChanges and
// whenever a write finds it changed) and, for an emulation that wants
// stream markers (a 5250), takes and sends records (EOR: each record's end
// reaches the session as marker 0xFFF7, each Write is one record) and
// gives the emulation's environment (NEW-ENVIRON, QueryEnvironment).
//
// A server certificate that fails its check is put to the user (subject,
// issuer, SHA-256 fingerprint, reason) in two yes/no questions: connect
// all the same, and trust it from now on (pinned for the host and port);
// without a user (unattended) it is refused.
//
// Device commands: "CALLINFO..." -> "OK" (the login is the host's own
// business over Telnet); others are not known (0).
#pragma once

#include "outside/sarvoth/telnetlink.h"

#include "plugins/sdk/qorsubsystem.h"

#include <string>

namespace sarvoth {

class TELNETDEVICE final : public QORDEVICE {
public:
    TELNETDEVICE(SUBSYSINITDATA const& init, int id);
    ~TELNETDEVICE() override;

    int SetParm(char const* parm) override;
    char* QueryParm(char* buf, int max) override;
    char* QueryStdParm(char* buf) override;
    char* QueryStatus(char* buf) override;

    signed char Open(char const* parm) override;
    void Close() override;
    int NumAvail() override;
    int QueryOnline() override;
    void StatusText(char* buf) override;
    int SendBreak() override;
    int Write(char const* data, long len) override;
    signed char Read(char* buf, unsigned long* len) override;
    signed char Connect(char const* target) override;
    signed char Disconnect() override;
    int HandleDeviceCommand(char const* cmd, char* result, int max, void* data) override;
    signed char AbortConnect() override;
    signed char TrackChanges() override;

    // The questions about a certificate that failed its check, through the
    // host's services of pub (any thread).
    static int AskUser(QORPUBLIC* pub, CERTQUESTION const& question);

private:
    bool Tls() const { return Id == 10; }
    std::string Options() const;
    // What the session's emulation is now, for the protocol.
    TERMINAL Terminal();
    void Track();

    int Id;
    std::string Parm;
    int LastColumns = 0, LastRows = 0;
    TELNETLINK Link;
};

} // namespace sarvoth
