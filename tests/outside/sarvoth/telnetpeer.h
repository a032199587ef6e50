// Peers of the Telnet device tests: a raw peer the test steers byte by
// byte, programs the test starts (inetutils telnetd through socat, openssl
// s_server, the hostile Python server) and the certificates they show.
// Everything listens on 127.0.0.1 or ::1 only.
#pragma once

#include "tests/support/testutil.h"

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace telnetpeer {

// A free TCP port on 127.0.0.1 (or ::1), bound and released.
int FreePort(bool v6 = false);
// Waits until a socket listens on port (without connecting to it, so that
// a server taking one connection is not used up); false after ms.
bool WaitListening(int port, int ms);

// A listening socket that takes one connection; the test sends bytes and
// takes what arrives.
class RAWPEER {
public:
    explicit RAWPEER(bool v6 = false);
    ~RAWPEER();
    int Port() const { return PortNo; }
    bool Accept(int ms);
    bool Send(std::string const& bytes);
    // The next n bytes received (fewer when ms passed first).
    std::string Take(size_t n, int ms);
    // What arrives within ms (everything, however little).
    std::string Drain(int ms);
    // Ends the connection (the listening socket stays).
    void Hangup();

private:
    int Listener = -1;
    int Conn = -1;
    int PortNo = 0;
};

// A program with an argument vector: standard input a pipe the test writes
// (Input), standard output and error into the log file. Ended by Stop or the
// destructor: SIGTERM, then SIGKILL after a moment.
class PROCESS {
public:
    PROCESS(std::vector<std::string> const& args, std::string const& logFile);
    ~PROCESS();
    bool Running() const { return Pid > 0; }
    bool Input(std::string const& text);
    // Waits until the program ended by itself; false after ms.
    bool WaitEnd(int ms);
    void Stop();

private:
    pid_t Pid = -1;
    int In = -1;
};

// Certificates and keys for TLS servers, made by makecerts.py in a folder:
// ca.pem (the test's own authority), and <kind>.pem / <kind>.key for the
// kinds "good" (the authority's, for 127.0.0.1, ::1 and localhost),
// "self" (self-signed), "wrongname" (the authority's, for other.example)
// and "expired" (the authority's, ended yesterday).
class CERTS {
public:
    CERTS();
    bool Made() const { return Ok; }
    std::string Ca() const { return Folder.file("ca.pem"); }
    std::string Cert(std::string const& kind) const { return Folder.file(kind + ".pem"); }
    std::string Key(std::string const& kind) const { return Folder.file(kind + ".key"); }

private:
    testutil::TempDir Folder;
    bool Ok = false;
};

// "openssl s_server" on 127.0.0.1:port with a certificate kind, for n
// connections; what it receives goes to its log.
class TLSSERVER {
public:
    TLSSERVER(CERTS const& certs, std::string const& kind, int connections = 1);
    int Port() const { return PortNo; }
    bool Running() const { return Server && Server->Running(); }
    // Sends text to the client (the server's standard input).
    bool Send(std::string const& text) { return Server && Server->Input(text); }
    std::string Log() const { return testutil::ReadFile(LogFile); }

private:
    testutil::TempDir Folder;
    std::string LogFile;
    int PortNo = 0;
    std::unique_ptr<PROCESS> Server;
};

// inetutils telnetd on 127.0.0.1:port for one connection, started through
// socat (EXEC, nofork), logging in with a script that prints
// "T=$TERM S=<stty size>" and then passes each line through "cat -v", but
// for a line "size", which prints "S=<stty size>" again.
class TELNETD {
public:
    TELNETD();
    int Port() const { return PortNo; }
    bool Running() const { return Server && Server->Running(); }

private:
    testutil::TempDir Folder;
    int PortNo = 0;
    std::unique_ptr<PROCESS> Server;
};

// The file of a script beside the tests (tests/outside/sarvoth/<name>).
std::string Script(std::string const& name);

} // namespace telnetpeer
