#include "tests/outside/welkam/sshpeer.h"

#include "velmot/core/strings.h"

#include <algorithm>

#include <arpa/inet.h>
#include <chrono>
#include <cctype>
#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace sshpeer {

namespace {

using CLOCK = std::chrono::steady_clock;

std::string Stage()
{
    char const* s = getenv("QOR_STAGE_DIR");
    return s ? s : "";
}

// Starts argv with stdout and stderr into logFile; the process id.
pid_t Start(std::vector<std::string> const& args, std::string const& logFile)
{
    std::vector<char*> argv;
    for (std::string const& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(log, 1);
        dup2(log, 2);
        close_range(3, ~0U, 0);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void End(pid_t& pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

std::string UserName()
{
    passwd const* pw = getpwuid(getuid());
    return pw ? pw->pw_name : "root";
}

} // namespace

int FreePort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

bool WaitForPort(int port, int ms)
{
    for (auto end = CLOCK::now() + std::chrono::milliseconds(ms); CLOCK::now() < end;) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(fd);
        if (ok)
            return true;
        usleep(20000);
    }
    return false;
}

// ---------------------------------------------------------------------------

SSHD::SSHD()
{
    mkdir("/run/sshd", 0755);
    auto keygen = [&](std::string const& name, std::string const& phrase) {
        return testutil::RunProgram({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", phrase, "-C", name, "-f",
                                     File(name)}) == 0;
    };
    if (!keygen("hostkey", "") || !keygen("id_plain", "") || !keygen("id_phrase", kPhrase))
        return;
    testutil::WriteFile(File("authorized_keys"),
                        testutil::ReadFile(File("id_plain.pub")) + testutil::ReadFile(File("id_phrase.pub")));
    chmod(File("authorized_keys").c_str(), 0600);
    testutil::WriteFile(File("known_hosts"), "");
    Start();
}

SSHD::~SSHD()
{
    Stop();
}

bool SSHD::Start()
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        PortNo = FreePort();
        testutil::WriteFile(File("sshd_config"),
                            "Port " + std::to_string(PortNo) + "\nListenAddress 127.0.0.1\nHostKey " + File("hostkey") +
                                "\nPidFile none\nUsePAM no\nStrictModes no\nAuthorizedKeysFile " +
                                File("authorized_keys") +
                                "\nPubkeyAuthentication yes\nPasswordAuthentication no\n"
                                "KbdInteractiveAuthentication no\nPermitRootLogin yes\nAllowUsers " +
                                UserName() + "\nPrintMotd no\nPrintLastLog no\nLogLevel ERROR\n");
        Pid = sshpeer::Start({"/usr/sbin/sshd", "-D", "-e", "-f", File("sshd_config")}, File("sshd.log"));
        if (WaitForPort(PortNo, 10000))
            return true;
        End(Pid);
    }
    return false;
}

void SSHD::Stop()
{
    End(Pid);
}

std::string SSHD::ClientConfig(std::string const& name, std::string const& identity, std::string const& extra)
{
    std::string path = File(name);
    testutil::WriteFile(path, "Host *\n  UserKnownHostsFile " + File("known_hosts") +
                                  "\n  GlobalKnownHostsFile /dev/null\n  IdentityFile " + File(identity) +
                                  "\n  IdentitiesOnly yes\n  PreferredAuthentications publickey\n"
                                  "  CheckHostIP no\n  LogLevel ERROR\n  User " +
                                  UserName() + "\n" + extra);
    return path;
}

void SSHD::TrustHostKey()
{
    std::string key = testutil::ReadFile(File("hostkey.pub"));
    key = key.substr(0, key.rfind(' '));
    testutil::WriteFile(File("known_hosts"), "[127.0.0.1]:" + std::to_string(PortNo) + " " + key + "\n");
}

bool SSHD::ChangeHostKey()
{
    Stop();
    unlink(File("hostkey").c_str());
    unlink(File("hostkey.pub").c_str());
    if (testutil::RunProgram({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", File("hostkey")}) != 0)
        return false;
    Pid = sshpeer::Start({"/usr/sbin/sshd", "-D", "-e", "-f", File("sshd_config")}, File("sshd.log"));
    return WaitForPort(PortNo, 10000);
}

std::string SSHD::KnownHosts() const
{
    return testutil::ReadFile(File("known_hosts"));
}

std::string SSHD::Fingerprint() const
{
    std::string out;
    testutil::RunProgram({"/usr/bin/ssh-keygen", "-l", "-E", "sha256", "-f", File("hostkey.pub")}, &out);
    size_t start = out.find("SHA256:");
    return start == std::string::npos ? std::string() : out.substr(start, out.find(' ', start) - start);
}

// ---------------------------------------------------------------------------

LOGINSERVER::LOGINSERVER(std::string const& mode, std::string const& password)
{
    PortNo = FreePort();
    Pid = Start({"/usr/bin/python3", testutil::SourceDir() + "/outside/welkam/loginserver.py", std::to_string(PortNo),
                 Folder.path(), mode, password},
                Folder.file("server.log"));
    WaitForPort(PortNo, 15000);
}

LOGINSERVER::~LOGINSERVER()
{
    End(Pid);
}

std::string LOGINSERVER::Answers() const
{
    std::string all = testutil::ReadFile(Folder.file("log")), out;
    for (size_t at = 0; at < all.size();) {
        size_t end = all.find('\n', at);
        std::string line = all.substr(at, end == std::string::npos ? std::string::npos : end - at + 1);
        if (line.compare(0, 6, "error ") != 0)
            out += line;
        at = end == std::string::npos ? all.size() : end + 1;
    }
    return out;
}

std::string LOGINSERVER::HostKeyLine() const
{
    std::string key = testutil::ReadFile(Folder.file("hostkey.pub"));
    while (!key.empty() && key.back() == '\n')
        key.pop_back();
    return "[127.0.0.1]:" + std::to_string(PortNo) + " " + key + "\n";
}

// ---------------------------------------------------------------------------

int MEMORYCACHE::SaveLogin(int, char const* ref, char const* user, char const* password)
{
    std::lock_guard<std::mutex> guard(Lock);
    Entries[ref] = {user ? user : "", password ? password : ""};
    return 1;
}

int MEMORYCACHE::GetLogin(int, char const* ref, STRING* user, STRING* password)
{
    ++Gets;
    std::lock_guard<std::mutex> guard(Lock);
    auto it = Entries.find(ref);
    if (it == Entries.end())
        return 0;
    if (user)
        *user = it->second.first.c_str();
    if (password)
        *password = it->second.second.c_str();
    return 1;
}

SCRIPTEDPUBLIC::SCRIPTEDPUBLIC()
{
    Unattended = &UnattendedByte;
    PasswordCache = &Cache;
    Language = 1;
}

STRING SCRIPTEDPUBLIC::GetEnqString(char*, int)
{
    return STRING();
}

STRING SCRIPTEDPUBLIC::AskFilename(char const*, char const*, WINDOW const&)
{
    return STRING();
}

STRING SCRIPTEDPUBLIC::AskSaveAsFilename(char const*, char const*, WINDOW const&)
{
    return STRING();
}

bool SCRIPTEDPUBLIC::Next(std::string* answer, bool* keep)
{
    if (Answers.empty())
        return false;
    *answer = Answers.front();
    Answers.pop_front();
    *keep = !answer->empty() && (*answer)[0] == '!';
    if (*keep)
        answer->erase(0, 1);
    return true;
}

int SCRIPTEDPUBLIC::Count(std::string const& prefix)
{
    std::lock_guard<std::mutex> guard(Lock);
    int n = 0;
    for (std::string const& a : Asked)
        n += a.compare(0, prefix.size(), prefix) == 0;
    return n;
}

int SCRIPTEDPUBLIC::Ask(char const*, char const* text, char* buf, int max, int, signed char* result)
{
    std::lock_guard<std::mutex> guard(Lock);
    Asked.push_back(std::string("ask ") + (text ? text : ""));
    std::string answer;
    bool keep = false;
    if (!Next(&answer, &keep))
        return 0;
    snprintf(buf, static_cast<size_t>(max), "%s", answer.c_str());
    if (result)
        *result = keep ? 1 : 0;
    return 1;
}

int SCRIPTEDPUBLIC::AskUserPass(char const*, char* user, char* pass, int* flags)
{
    std::lock_guard<std::mutex> guard(Lock);
    Asked.push_back(std::string("userpass ") + user);
    std::string answer;
    bool keep = false;
    if (!Next(&answer, &keep))
        return 0;
    snprintf(pass, QORPUBLIC_FIELD, "%s", answer.c_str());
    if (flags)
        *flags = keep ? 1 : 0;
    return 1;
}

int SCRIPTEDPUBLIC::AskPassphrase(char const*, char const*, char const* keyfile, char* pass, int* flags)
{
    std::lock_guard<std::mutex> guard(Lock);
    Asked.push_back(std::string("passphrase ") + (keyfile ? keyfile : ""));
    std::string answer;
    bool keep = false;
    if (!Next(&answer, &keep))
        return 0;
    snprintf(pass, QORPUBLIC_FIELD, "%s", answer.c_str());
    if (flags)
        *flags = keep ? 1 : 0;
    return 1;
}

int SCRIPTEDPUBLIC::WarningMsg(char const* text)
{
    std::lock_guard<std::mutex> guard(Lock);
    Asked.push_back(std::string("hostkey ") + (text ? text : ""));
    return HostKeyYes ? 1 : 0;
}

// ---------------------------------------------------------------------------

DEVICE::DEVICE(QORPUBLIC& pub, std::string const& parm, std::string const& bundle, int sub)
{
    std::string path = Stage() + "/lib/qor/PlugIns/" + bundle + ".so";
    Module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!Module)
        return;
    using INIT = QORSUBSYSTEM* (*)(SUBSYSINITDATA const&, int);
    std::string entry;
    for (char c : bundle)
        entry += static_cast<char>(toupper(static_cast<unsigned char>(c)));
    entry += "_Initialize";
    auto init = reinterpret_cast<INIT>(dlsym(Module, entry.c_str()));
    SUBSYSINITDATA data;
    data.Public = &pub;
    data.Module = Module;
    Device = init ? static_cast<QORDEVICE*>(init(data, sub)) : nullptr;
    if (!Device)
        return;
    Device->Open(parm.c_str());
    Reader = std::thread([this] { ReadLoop(); });
}

DEVICE::~DEVICE()
{
    StopReader();
    delete Device;
    if (Module)
        dlclose(Module);
}

void DEVICE::StopReader()
{
    if (!Reader.joinable())
        return;
    Stop = true;
    Device->Close();
    Reader.join();
}

void DEVICE::ReadLoop()
{
    std::vector<char> buf(8192);
    while (!Stop) {
        int n = Device->NumAvail();
        unsigned long want = static_cast<unsigned long>(std::clamp(n, 1, 8192));
        signed char rc = Device->Read(buf.data(), &want);
        if (rc == 0 && want > 0 && Counting) {
            Counted += want;
        } else if (rc == 0 && want > 0) {
            std::lock_guard<std::mutex> guard(Lock);
            Data.append(buf.data(), want);
            Counted += want;
        } else if (rc != 0) {
            usleep(20000);
        }
    }
}

std::string DEVICE::Command(std::string const& cmd, int max)
{
    std::vector<char> out(static_cast<size_t>(max), '\0');
    if (!Device->HandleDeviceCommand(cmd.c_str(), out.data(), max, nullptr))
        return "<none>";
    return out.data();
}

std::string DEVICE::Received()
{
    std::lock_guard<std::mutex> guard(Lock);
    return Data;
}

size_t DEVICE::ReceivedSize()
{
    return Counted.load();
}

bool DEVICE::WaitFor(std::string const& text, int ms, size_t from)
{
    for (auto end = CLOCK::now() + std::chrono::milliseconds(ms); CLOCK::now() < end;) {
        {
            std::lock_guard<std::mutex> guard(Lock);
            if (Data.find(text, from) != std::string::npos)
                return true;
        }
        usleep(5000);
    }
    return false;
}

bool DEVICE::WaitForSize(size_t size, int ms)
{
    for (auto end = CLOCK::now() + std::chrono::milliseconds(ms); CLOCK::now() < end;) {
        if (ReceivedSize() >= size)
            return true;
        usleep(2000);
    }
    return false;
}

bool DEVICE::WaitOnline(int want, int ms)
{
    for (auto end = CLOCK::now() + std::chrono::milliseconds(ms); CLOCK::now() < end;) {
        if (Device->QueryOnline() == want)
            return true;
        usleep(10000);
    }
    return false;
}

bool DEVICE::Write(std::string const& text)
{
    return Device->Write(text.data(), static_cast<long>(text.size())) != 0;
}

} // namespace sshpeer
