// Peers of the SSH device tests: an OpenSSH server the test starts on
// 127.0.0.1 with its own host key, authorized keys and configuration, the
// client's keys and configuration files, and the SSH device itself loaded
// from the stage with host services the test scripts.
#pragma once

#include "plugins/sdk/passwordcacheapi.h"
#include "plugins/sdk/qorpublic.h"
#include "plugins/sdk/qorsubsystem.h"
#include "velmot/gui/wincontrols.h"

#include "tests/support/testutil.h"

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace sshpeer {

// A free TCP port on 127.0.0.1 (bound and released).
int FreePort();
// Waits until something accepts on 127.0.0.1:port; false after ms.
bool WaitForPort(int port, int ms);

// /usr/sbin/sshd -D -e -f <config> on 127.0.0.1, for the current user.
// Keys: id_plain (no pass phrase) and id_phrase (pass phrase kPhrase),
// both authorized; the client's known_hosts starts empty.
class SSHD {
public:
    static constexpr char const* kPhrase = "open sesame";
    SSHD();
    ~SSHD();
    bool Running() const { return Pid > 0; }
    int Port() const { return PortNo; }
    std::string const& Dir() const { return Folder.path(); }
    std::string File(std::string const& name) const { return Folder.file(name); }
    // A client configuration with the given identity and lines; its path.
    std::string ClientConfig(std::string const& name, std::string const& identity, std::string const& extra = "");
    // Puts the server's host key into the client's known_hosts.
    void TrustHostKey();
    // Gives the server a new host key (restarts it on the same port).
    bool ChangeHostKey();
    std::string KnownHosts() const;
    // The host key's fingerprint as ssh shows it ("SHA256:...").
    std::string Fingerprint() const;

private:
    bool Start();
    void Stop();
    testutil::TempDir Folder;
    int PortNo = 0;
    pid_t Pid = -1;
};

// A python3-paramiko server on 127.0.0.1 offering password and
// keyboard-interactive logins (tests/outside/welkam/loginserver.py).
class LOGINSERVER {
public:
    // mode: "password" or "kbdint2" (two questions), hostKeyFile in PEM.
    LOGINSERVER(std::string const& mode, std::string const& password);
    ~LOGINSERVER();
    int Port() const { return PortNo; }
    // The answers it was given: its log without the connections that
    // carried no login (the test's own probes of the port).
    std::string Answers() const;
    std::string HostKeyLine() const; // for known_hosts

private:
    testutil::TempDir Folder;
    int PortNo = 0;
    pid_t Pid = -1;
};

// A password cache in memory.
class MEMORYCACHE : public PASSWORDCACHEAPI {
public:
    int SaveLogin(int type, char const* ref, char const* user, char const* password) override;
    int GetLogin(int type, char const* ref, STRING* user, STRING* password) override;
    int PasswordsDialog(WINDOW const&) override { return 0; }
    std::mutex Lock;
    std::map<std::string, std::pair<std::string, std::string>> Entries;
    std::atomic<int> Gets{0};
};

// Host services whose requests answer from a script.
class SCRIPTEDPUBLIC : public QORPUBLIC {
public:
    SCRIPTEDPUBLIC();
    int SetLed(int, signed char, int) override { return 0; }
    int SetLedMode(int) override { return 0; }
    void* PrinterOpen(signed char) override { return nullptr; }
    int PrinterWrite(void*, char const*, int) override { return 0; }
    int PrinterClose(void*) override { return 0; }
    int Log(char const*, int) override { return 0; }
    int LogWide(wchar_t const*, int) override { return 0; }
    int WaitForSessionForeground(signed char*) override { return 0; }
    int AddScrollLine(VIOCELL const*, int, signed char) override { return 0; }
    int FeedKeys(wchar_t const*, int, signed char) override { return 0; }
    int Bell() override { return 0; }
    int AppTrackChanges() override { return 0; }
    STRING GetEnqString(char*, int) override;
    int WatchLearn(char, wchar_t) override { return 0; }
    int WatchWait(wchar_t) override { return 0; }
    int Ask(char const* title, char const* text, char* buf, int max, int flags, signed char* result) override;
    int AskUserPass(char const* title, char* user, char* pass, int* flags) override;
    int AskPassphrase(char const* title, char const* text, char const* keyfile, char* pass, int* flags) override;
    STRING AskFilename(char const*, char const*, WINDOW const&) override;
    STRING AskSaveAsFilename(char const*, char const*, WINDOW const&) override;
    int EditSysColors(WINDOW&) override { return 0; }
    int StartProgram(char const*, char const*, char const*, int) override { return 0; }
    int WarningMsg(char const* text) override;
    void DestroyIntroWin() override {}
    int PushFnctSelectFile(void*, CONTROLID, CONTROLPARENT, STRING*) override { return 0; }
    int PushFnctSelectFolder(void*, CONTROLID, CONTROLPARENT, STRING*) override { return 0; }

    // Answers, taken in order; an empty queue cancels. "!" + text: answered
    // and ticked "keep it".
    std::mutex Lock;
    std::deque<std::string> Answers;
    bool HostKeyYes = false;
    std::vector<std::string> Asked; // "userpass <user>", "passphrase <file>", "ask <prompt>", "hostkey <text>"
    signed char UnattendedByte = 0;
    MEMORYCACHE Cache;
    int Count(std::string const& prefix);

private:
    bool Next(std::string* answer, bool* keep);
};

// A device from the stage's plug-in folder (the SSH device unless another
// bundle and sub-module are named), with a reader thread that collects
// what it reads as COMM's reader would.
class DEVICE {
public:
    explicit DEVICE(QORPUBLIC& pub, std::string const& parm, std::string const& bundle = "welkam", int sub = 0);
    ~DEVICE();
    QORDEVICE& Dev() { return *Device; }
    std::string Command(std::string const& cmd, int max = 256);
    // The bytes read so far.
    std::string Received();
    size_t ReceivedSize();
    // Waits until the bytes read hold text (after position from); false after ms.
    bool WaitFor(std::string const& text, int ms, size_t from = 0);
    bool WaitForSize(size_t size, int ms);
    // Waits until QueryOnline answers want.
    bool WaitOnline(int want, int ms);
    bool Write(std::string const& text);
    void StopReader();
    // From now on the bytes read are only counted (benchmarks).
    void CountOnly() { Counting = true; }

private:
    void ReadLoop();
    void* Module = nullptr;
    QORDEVICE* Device = nullptr;
    std::thread Reader;
    std::atomic<bool> Stop{false};
    std::atomic<bool> Counting{false};
    std::atomic<size_t> Counted{0};
    std::mutex Lock;
    std::string Data;
};

} // namespace sshpeer
