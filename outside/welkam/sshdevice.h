// Device 9, "Secure Shell": a remote shell through the system's OpenSSH
// client, run by the helper vindle on a pseudo terminal.
//
// Connect starts vindle (by argument vector, never blocking the main
// thread) with ssh's arguments: -tt, a master connection (ControlMaster)
// whose socket lies in a private 0700 folder, port, keys, user, config
// file, then "--" and the host. ssh's questions come back over a socket
// pair (see outside/tessaro) and are answered on the device's worker
// thread (SSHLOGIN); ssh's standard error goes to the diagnostic log. Once
// the master answers "ssh -O check", "[SSH] CONNECT <host>\r\n" enters the
// received data and the session counts as online; when ssh ends before,
// "[SSH] FAIL: <ssh's last error line>\r\n" does. Until one of them the
// terminal's output is held back.
//
// Exec channels ("EXECRAW ..." device commands, for SCP): a command runs
// on the master connection ("ssh -S <ctl> -T -- host <cmd>") on pipes; while
// it is open its standard output is what the device reads (the terminal's
// output waits), writes go to its standard input, its standard error to
// the log. One at a time; "EXECRAW Close n" routes the stream back.
//
// Local-exec mode, for tests without an SSH server: with the environment
// variable QOR_WELKAM_LOCALEXEC=1 at Open, Connect runs /bin/sh on the
// pseudo terminal and exec channels run "/bin/sh -c <cmd>" on this machine.
//
// Device commands:
//   "CALLINFO|user|pass|[*]keyfile"  -> "OK" (the login of the next Connect)
//   "QUERYAUTHFILES"                 -> the number of private keys in the
//                                       SSH folder (SshPath, else ~/.ssh)
//   "EXECRAW TEST"                   -> "##OK##" while connected
//   "EXECRAW Open <cmd>"             -> a channel number, or "##ERROR##"
//   "EXECRAW IsConnected <n>"        -> 1 until the command ended and its
//                                       output was read, then 0
//   "EXECRAW Close <n>"              -> "##OK##"
// A channel's commands and the writes while it is open come from one
// thread (the transfer's).
#pragma once

#include "outside/welkam/sshtext.h"

#include "plugins/sdk/qorsubsystem.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace welkam {

struct CONNECTION;
struct SHARED;

class SSHDEVICE final : public QORDEVICE {
public:
    explicit SSHDEVICE(SUBSYSINITDATA const& init);
    ~SSHDEVICE() override;

    int SetParm(char const* parm) override;
    char* QueryParm(char* buf, int max) override;
    char* QueryStdParm(char* buf) override;
    char* QueryStatus(char* buf) override;

    signed char Open(char const* parm) override;
    void Close() override;
    int NumAvail() override;
    int QueryOnline() override;
    int QuerySpeed() override;
    void StatusText(char* buf) override;
    int Write(char const* data, long len) override;
    signed char Read(char* buf, unsigned long* len) override;
    signed char Connect(char const* target) override;
    signed char Disconnect() override;
    int HandleDeviceCommand(char const* cmd, char* result, int max, void* data) override;
    signed char AbortConnect() override;
    signed char TrackChanges() override;

private:
    struct CHANNEL;
    std::string Options() const;
    // Ends the connection and its channel; the reader is released.
    void EndConnection();
    void EndChannel();
    // Wakes a reader waiting in Read.
    void Wake();
    // A descriptor the reader may still poll: closed once it left.
    void Retire(int fd);
    void SetWindowSize();
    int ExecCommand(std::string const& cmd, char* result, int max);
    std::string SshFolder();

    std::string Parm = "[9]";
    CALLINFO Info;
    bool LocalExec = false;
    int LastCols = 0, LastRows = 0;

    // Shared with the reader thread and the connection's worker; Conn,
    // Chan and Closing change on the main thread only, under S->Lock.
    std::shared_ptr<SHARED> S;
    std::shared_ptr<CONNECTION> Conn;
    std::unique_ptr<CHANNEL> Chan;
    int NextChannel = 1;
    bool Closing = false;
};

} // namespace welkam
