#include "outside/welkam/sshdevice.h"

#include "outside/tessaro/frames.h"
#include "outside/welkam/sshlogin.h"

#include "plugins/sdk/emulationapi.h"
#include "program/settings/programsettings.h"

#include "velmot/core/logit.h"
#include "velmot/core/osysfile.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace welkam {

namespace {

using CLOCK = std::chrono::steady_clock;

void Nap(int ms)
{
    timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, nullptr);
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// The environment of a child: ours without the names given, plus extra.
std::vector<std::string> ChildEnvironment(std::vector<std::string> const& drop, std::vector<std::string> const& extra)
{
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        bool skip = false;
        for (std::string const& d : drop)
            skip = skip || strncmp(*e, d.c_str(), d.size()) == 0;
        if (!skip)
            env.push_back(*e);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& v)
{
    std::vector<char*> p;
    for (std::string& s : v)
        p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

std::string SshProgram()
{
    char const* ssh = getenv("TESSARO_SSH");
    return ssh && *ssh ? ssh : "/usr/bin/ssh";
}

// Runs a program with the given descriptors as its 0, 1, 2 (-1: /dev/null);
// the process id, or -1.
pid_t Spawn(std::vector<std::string> args, int in, int out, int err)
{
    std::vector<std::string> env = ChildEnvironment({"SSH_ASKPASS=", "SSH_ASKPASS_REQUIRE=", "TESSARO_"}, {});
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(env);
    std::string program = args[0] == "ssh" ? SshProgram() : args[0];
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        int fds[3] = {in >= 0 ? in : null, out >= 0 ? out : null, err >= 0 ? err : null};
        for (int i = 0; i < 3; ++i) {
            if (fds[i] == i)
                fcntl(i, F_SETFD, 0);
            else
                dup2(fds[i], i);
        }
        close_range(3, ~0U, 0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s : {SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD})
            signal(s, SIG_DFL);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

// Waits for a child at most ms; its exit status, or -1 (then it is killed).
int WaitBounded(pid_t pid, int ms)
{
    int status = 0;
    for (auto end = CLOCK::now() + std::chrono::milliseconds(ms);;) {
        pid_t rc = waitpid(pid, &status, WNOHANG);
        if (rc == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (rc < 0 && errno != EINTR)
            return -1;
        if (CLOCK::now() >= end)
            break;
        Nap(5);
    }
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return -1;
}

bool WriteAllFd(int fd, char const* data, long len, bool socket)
{
    long done = 0;
    while (done < len) {
        size_t want = static_cast<size_t>(len - done);
        ssize_t n = socket ? send(fd, data + done, want, MSG_NOSIGNAL) : write(fd, data + done, want);
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p = {fd, POLLOUT, 0};
            if (poll(&p, 1, 5000) <= 0)
                return false;
        } else {
            return false;
        }
    }
    return true;
}

// Keeps this module's code loaded for good: a worker thread that could not
// be stopped in time still runs in it.
void PinModule()
{
    Dl_info info = {};
    if (dladdr(reinterpret_cast<void*>(&PinModule), &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

// The helper: <stage>/bin/vindle, the stage being three folders above this
// module (<stage>/lib/qor/PlugIns).
std::string HelperPath()
{
    Dl_info info = {};
    std::string path;
    if (dladdr(reinterpret_cast<void*>(&HelperPath), &info) && info.dli_fname)
        path = info.dli_fname;
    for (int up = 0; up < 4; ++up) {
        size_t slash = path.rfind('/');
        path = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    }
    return path + "/bin/vindle";
}

// The user's runtime folder (0700), else /tmp.
std::string RuntimeFolder()
{
    char const* run = getenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (run && *run == '/' && strlen(run) < 60 && stat(run, &st) == 0 && S_ISDIR(st.st_mode))
        return std::string(run) + "/";
    return "/tmp/";
}

} // namespace

// What the device, its reader thread and the connection's worker share.
struct SHARED {
    std::mutex Lock;
    std::condition_variable Left;
    std::string Pending; // status text to deliver first
    int WakeFd = -1;
    int Inside = 0;
    std::vector<int> Retired;

    // A worker left to end by itself may still wake: the descriptor lives
    // as long as the last holder.
    ~SHARED()
    {
        if (WakeFd >= 0)
            close(WakeFd);
    }
    void Wake()
    {
        uint64_t one = 1;
        ssize_t rc = write(WakeFd, &one, sizeof one);
        (void)rc;
    }
    void Announce(std::string const& text)
    {
        {
            std::lock_guard<std::mutex> guard(Lock);
            Pending += text;
        }
        Wake();
    }
    // Under Lock.
    void CloseRetired()
    {
        for (int fd : Retired)
            close(fd);
        Retired.clear();
    }
};

// One connection: the helper on its pseudo terminal and the worker that
// answers its questions, logs its errors and watches it.
struct CONNECTION {
    std::shared_ptr<SHARED> S;
    pid_t Pid = -1;
    int Pty = -1;
    int ErrFd = -1;   // the helper's standard error
    int AskFd = -1;   // our end of the question socket pair
    int StopFd = -1;  // eventfd: Close wants the worker to end
    std::string Folder; // the private folder of the control socket
    std::string ControlPath;
    std::string Host;
    std::string ConfigFile;
    bool Local = false;
    std::unique_ptr<SSHLOGIN> Login;
    std::thread Worker;

    // Under S->Lock.
    bool Released = false; // the terminal's output may be read
    bool PtyEof = false;
    // Set by the worker.
    std::atomic<bool> Connected{false};
    std::atomic<bool> Ended{false};
    std::atomic<bool> Done{false};
    std::atomic<bool> Exited{false};
    std::string LastError;
    std::string AbortText;
    std::mutex DoneLock;
    std::condition_variable DoneCv;

    ~CONNECTION();
    void Run();
    bool CheckMaster();
    void Reap(bool wait);
    void ReadErrors(bool eofExpected);
    std::string ErrLine;
};

CONNECTION::~CONNECTION()
{
    CloseFd(StopFd);
    CloseFd(AskFd);
    CloseFd(ErrFd);
    if (Folder.empty())
        return;
    unlink(ControlPath.c_str());
    if (rmdir(Folder.c_str()) != 0) {
        // ssh may leave its temporary socket names behind.
        if (DIR* dir = opendir(Folder.c_str())) {
            while (dirent* e = readdir(dir)) {
                if (e->d_name[0] != '.')
                    unlink((Folder + "/" + e->d_name).c_str());
            }
            closedir(dir);
        }
        rmdir(Folder.c_str());
    }
}

void CONNECTION::Reap(bool wait)
{
    if (Exited || Pid <= 0)
        return;
    int status = 0;
    pid_t rc;
    do {
        rc = waitpid(Pid, &status, wait ? 0 : WNOHANG);
    } while (rc < 0 && errno == EINTR);
    if (rc == Pid || (rc < 0 && errno == ECHILD)) {
        Exited = true;
        LOGIT("WELKAM::Worker helper %d ended, status %d\n", static_cast<int>(Pid),
              rc == Pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
}

void CONNECTION::ReadErrors(bool)
{
    char buf[4096];
    ssize_t n = read(ErrFd, buf, sizeof buf);
    if (n <= 0) {
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            CloseFd(ErrFd);
        return;
    }
    for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] != '\n') {
            if (ErrLine.size() < 4096)
                ErrLine += buf[i];
            continue;
        }
        std::string line = CleanLine(ErrLine);
        ErrLine.clear();
        if (line.empty())
            continue;
        LOGIT("WELKAM::ssh %s\n", line.c_str());
        if (line.compare(0, 7, "vindle ") != 0)
            LastError = line;
    }
}

bool CONNECTION::CheckMaster()
{
    struct stat st;
    if (stat(ControlPath.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode))
        return false;
    pid_t pid = Spawn(CheckArgs(ControlPath, ConfigFile, Host), -1, -1, -1);
    return pid > 0 && WaitBounded(pid, 5000) == 0;
}

void CONNECTION::Run()
{
    int pidFd = static_cast<int>(syscall(SYS_pidfd_open, Pid, 0));
    auto exitedAt = CLOCK::time_point();
    bool stop = false;
    while (!stop) {
        pollfd fds[4];
        int n = 0;
        fds[n++] = {StopFd, POLLIN, 0};
        int const askAt = AskFd >= 0 ? n : -1;
        if (AskFd >= 0)
            fds[n++] = {AskFd, POLLIN, 0};
        int const errAt = ErrFd >= 0 ? n : -1;
        if (ErrFd >= 0)
            fds[n++] = {ErrFd, POLLIN, 0};
        if (pidFd >= 0 && !Exited)
            fds[n++] = {pidFd, POLLIN, 0};
        int timeout = !Connected && !Exited ? 10 : Exited ? 50 : pidFd < 0 ? 50 : -1;
        if (poll(fds, static_cast<nfds_t>(n), timeout) < 0 && errno != EINTR)
            Nap(10);
        if (fds[0].revents) {
            stop = true;
            break;
        }
        if (askAt >= 0 && fds[askAt].revents) {
            std::string question, answer;
            if (!tessaro::ReadFrame(AskFd, question)) {
                CloseFd(AskFd);
            } else {
                bool abort = false;
                bool answered = Login->Answer(question, &answer, &abort);
                tessaro::WriteFrame(AskFd, answered ? "1" + answer : std::string("0"));
                std::fill(answer.begin(), answer.end(), '\0');
                if (abort && !Exited) {
                    AbortText = "login cancelled";
                    kill(Pid, SIGTERM);
                }
            }
        }
        if (errAt >= 0 && fds[errAt].revents)
            ReadErrors(false);
        Reap(false);
        if (!Connected && !Exited && CheckMaster()) {
            Connected = true;
            Login->Commit();
            LOGIT("WELKAM::Worker connected to %s\n", Host.c_str());
            {
                std::lock_guard<std::mutex> guard(S->Lock);
                S->Pending += "[SSH] CONNECT " + Host + "\r\n";
                Released = true;
            }
            S->Wake();
        }
        if (Exited) {
            if (exitedAt == CLOCK::time_point())
                exitedAt = CLOCK::now();
            // The rest of ssh's errors, for a little while.
            if (ErrFd < 0 || CLOCK::now() - exitedAt > std::chrono::milliseconds(500))
                break;
        }
    }
    CloseFd(pidFd);
    if (!stop) {
        std::string line = !AbortText.empty() ? AbortText : LastError;
        if (line.empty())
            line = "the connection ended";
        {
            std::lock_guard<std::mutex> guard(S->Lock);
            if (!Connected)
                S->Pending += "[SSH] FAIL: " + line + "\r\n";
            Released = true;
            Ended = true;
        }
        S->Wake();
    } else {
        // Closed: the helper is asked to end, then made to.
        if (!Exited) {
            kill(Pid, SIGTERM);
            WaitBounded(Pid, 2000);
            Exited = true;
        }
        Ended = true;
    }
    CloseFd(AskFd);
    CloseFd(ErrFd);
    {
        std::lock_guard<std::mutex> guard(DoneLock);
        Done = true;
    }
    DoneCv.notify_all();
}

struct SSHDEVICE::CHANNEL {
    int Number = 0;
    pid_t Pid = -1;
    int In = -1;  // socket: the command's standard input
    int Out = -1; // pipe: its standard output
    bool OutEof = false; // under S->Lock
    std::thread ErrReader;
};

// ---------------------------------------------------------------------------

SSHDEVICE::SSHDEVICE(SUBSYSINITDATA const& init) : QORDEVICE(init), S(std::make_shared<SHARED>())
{
    S->WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

SSHDEVICE::~SSHDEVICE()
{
    Close();
    std::fill(Info.Password.begin(), Info.Password.end(), '\0');
}

int SSHDEVICE::SetParm(char const* parm)
{
    if (parm)
        Parm = parm;
    return 1;
}

char* SSHDEVICE::QueryParm(char* buf, int max)
{
    if (buf && max > 0)
        snprintf(buf, static_cast<size_t>(max), "%s", Parm.c_str());
    return buf;
}

char* SSHDEVICE::QueryStdParm(char* buf)
{
    if (buf)
        snprintf(buf, 128, "[9]");
    return buf;
}

char* SSHDEVICE::QueryStatus(char* buf)
{
    if (buf)
        snprintf(buf, 256, "%s", QueryOnline() == 1 ? "Secure Shell" : "Secure Shell (not connected)");
    return buf;
}

std::string SSHDEVICE::Options() const
{
    if (!Parm.empty() && Parm[0] == '[') {
        size_t close = Parm.find(']');
        if (close != std::string::npos)
            return Parm.substr(close + 1);
    }
    return Parm;
}

void SSHDEVICE::Wake()
{
    S->Wake();
}

void SSHDEVICE::Retire(int fd)
{
    if (fd < 0)
        return;
    std::lock_guard<std::mutex> guard(S->Lock);
    S->Retired.push_back(fd);
    if (S->Inside == 0)
        S->CloseRetired();
}

signed char SSHDEVICE::Open(char const* parm)
{
    Close();
    if (parm && *parm)
        Parm = parm;
    char const* local = getenv("QOR_WELKAM_LOCALEXEC");
    LocalExec = local && strcmp(local, "1") == 0;
    std::lock_guard<std::mutex> guard(S->Lock);
    Closing = false;
    return S->WakeFd >= 0 ? 0 : 1;
}

void SSHDEVICE::Close()
{
    EndConnection();
    {
        std::lock_guard<std::mutex> guard(S->Lock);
        Closing = true;
        S->Pending.clear();
    }
    Wake();
    // The reader leaves at once: it is waited for only so long.
    std::unique_lock<std::mutex> guard(S->Lock);
    S->Left.wait_for(guard, std::chrono::milliseconds(500), [this] { return S->Inside == 0; });
    if (S->Inside == 0)
        S->CloseRetired();
}

void SSHDEVICE::EndChannel()
{
    std::unique_ptr<CHANNEL> chan;
    {
        std::lock_guard<std::mutex> guard(S->Lock);
        chan = std::move(Chan);
    }
    if (!chan)
        return;
    shutdown(chan->In, SHUT_RDWR);
    CloseFd(chan->In);
    kill(chan->Pid, SIGTERM);
    WaitBounded(chan->Pid, 2000);
    if (chan->ErrReader.joinable())
        chan->ErrReader.join();
    Retire(chan->Out);
    Wake();
    LOGIT("WELKAM::EndChannel %d\n", chan->Number);
}

void SSHDEVICE::EndConnection()
{
    EndChannel();
    std::shared_ptr<CONNECTION> conn;
    {
        std::lock_guard<std::mutex> guard(S->Lock);
        conn = std::move(Conn);
    }
    if (!conn)
        return;
    LOGIT("WELKAM::EndConnection %s\n", conn->Host.c_str());
    if (!conn->Exited)
        kill(conn->Pid, SIGTERM);
    uint64_t one = 1;
    ssize_t rc = write(conn->StopFd, &one, sizeof one);
    (void)rc;
    {
        std::unique_lock<std::mutex> guard(conn->DoneLock);
        conn->DoneCv.wait_for(guard, std::chrono::seconds(4), [&] { return conn->Done.load(); });
    }
    if (conn->Done) {
        conn->Worker.join();
    } else {
        // The worker waits for the user's answer on the main thread: it
        // ends by itself once that returns, with its own share of the state.
        LOGIT("WELKAM::EndConnection the worker is busy; left to end by itself\n");
        kill(conn->Pid, SIGKILL);
        PinModule();
        conn->Worker.detach();
    }
    Retire(conn->Pty);
    conn->Pty = -1;
    Wake();
}

int SSHDEVICE::NumAvail()
{
    std::lock_guard<std::mutex> guard(S->Lock);
    if (!S->Pending.empty())
        return static_cast<int>(S->Pending.size());
    int fd = Chan ? (Chan->OutEof ? -1 : Chan->Out) : Conn && Conn->Released && !Conn->PtyEof ? Conn->Pty : -1;
    int n = 0;
    if (fd < 0 || ioctl(fd, FIONREAD, &n) != 0)
        return 0;
    return n;
}

signed char SSHDEVICE::Read(char* buf, unsigned long* len)
{
    unsigned long const want = *len;
    *len = 0;
    for (;;) {
        int fd = -1;
        bool chan = false, drain = false;
        std::shared_ptr<CONNECTION> conn;
        {
            std::lock_guard<std::mutex> guard(S->Lock);
            if (Closing)
                return 2;
            if (!S->Pending.empty()) {
                size_t n = std::min<size_t>(want, S->Pending.size());
                memcpy(buf, S->Pending.data(), n);
                S->Pending.erase(0, n);
                *len = n;
                return 0;
            }
            conn = Conn;
            if (Chan) {
                chan = true;
                fd = Chan->OutEof ? -1 : Chan->Out;
            } else if (conn && conn->Released) {
                fd = conn->PtyEof ? -1 : conn->Pty;
                if (conn->Ended && fd < 0)
                    return 1;
                drain = conn->Ended;
            }
            ++S->Inside;
        }
        pollfd fds[2] = {{S->WakeFd, POLLIN, 0}, {fd, POLLIN, 0}};
        int rc = poll(fds, fd >= 0 ? 2 : 1, drain ? 0 : -1);
        ssize_t n = -1;
        int err = 0;
        if (rc > 0 && (fds[0].revents & POLLIN)) {
            uint64_t count;
            ssize_t r = read(S->WakeFd, &count, sizeof count);
            (void)r;
        }
        bool eof = false;
        if (fd >= 0 && (rc == 0 ? drain : (fds[1].revents != 0))) {
            n = read(fd, buf, want);
            err = errno;
            eof = n == 0 || (n < 0 && err != EAGAIN && err != EINTR) || (n < 0 && drain);
        }
        {
            std::lock_guard<std::mutex> guard(S->Lock);
            if (eof) {
                if (chan && Chan && Chan->Out == fd)
                    Chan->OutEof = true;
                else if (!chan && conn && Conn == conn)
                    conn->PtyEof = true;
            }
            if (--S->Inside == 0)
                S->CloseRetired();
        }
        S->Left.notify_all();
        if (n > 0) {
            *len = static_cast<unsigned long>(n);
            return 0;
        }
    }
}

int SSHDEVICE::Write(char const* data, long len)
{
    if (!data || len <= 0)
        return 0;
    if (Chan)
        return WriteAllFd(Chan->In, data, len, true) ? 1 : 0;
    if (Conn && Conn->Pty >= 0) {
        SetWindowSize();
        return WriteAllFd(Conn->Pty, data, len, false) ? 1 : 0;
    }
    return 0;
}

int SSHDEVICE::QueryOnline()
{
    std::shared_ptr<CONNECTION> conn = Conn;
    return conn && conn->Connected && !conn->Ended ? 1 : 0;
}

int SSHDEVICE::QuerySpeed()
{
    return 0;
}

void SSHDEVICE::StatusText(char* buf)
{
    if (!buf)
        return;
    std::shared_ptr<CONNECTION> conn = Conn;
    snprintf(buf, 4096, "SECURE SHELL: %s\r\nHOST: %s\r\nSTATE: %s\r\nEXEC CHANNEL: %s\r\n", Parm.c_str(),
             conn ? conn->Host.c_str() : "-",
             !conn ? "closed" : conn->Ended ? "ended" : conn->Connected ? "connected" : "connecting",
             Chan ? "open" : "none");
}

void SSHDEVICE::SetWindowSize()
{
    if (!Conn || Conn->Pty < 0)
        return;
    int cols, rows;
    WindowSize(&cols, &rows);
    if (cols == LastCols && rows == LastRows)
        return;
    winsize ws = {};
    ws.ws_col = static_cast<unsigned short>(cols);
    ws.ws_row = static_cast<unsigned short>(rows);
    if (ioctl(Conn->Pty, TIOCSWINSZ, &ws) == 0) {
        LastCols = cols;
        LastRows = rows;
    }
}

signed char SSHDEVICE::TrackChanges()
{
    if (!Conn || Conn->Pty < 0)
        return 0;
    LastCols = LastRows = 0;
    SetWindowSize();
    return 1;
}

std::string SSHDEVICE::SshFolder()
{
    PROGRAMSETTINGSDATA const* settings = Public ? Public->ProgramSettings : nullptr;
    if (settings && settings->SshPath[0]) {
        FILENAME folder(settings->SshPath);
        struct stat st;
        if (stat(folder.Buf(), &st) == 0 && S_ISDIR(st.st_mode))
            return folder.Buf();
    }
    char const* home = getenv("HOME");
    return std::string(home && *home ? home : "") + "/.ssh";
}

signed char SSHDEVICE::Connect(char const* target)
{
    EndConnection();
    TARGET t;
    std::string reason;
    if (!ParseTarget(target, &t, &reason)) {
        LOGIT("WELKAM::Connect refused: %s\n", reason.c_str());
        S->Announce("[SSH] FAIL: " + reason + "\r\n");
        return 0;
    }
    PARMS parms = ParseParms(Options());
    auto conn = std::make_shared<CONNECTION>();
    conn->S = S;
    conn->Host = t.Host;
    conn->ConfigFile = parms.ConfigFile;
    conn->Local = LocalExec;
    int const port = t.Port > 0 ? t.Port : parms.Port;
    conn->Login = std::make_unique<SSHLOGIN>(Public, Info, t, port);

    // The private folder of the control socket (a socket's path is short).
    std::string templ = RuntimeFolder() + "welkam-XXXXXX";
    std::vector<char> folder(templ.begin(), templ.end());
    folder.push_back('\0');
    if (!mkdtemp(folder.data())) {
        S->Announce("[SSH] FAIL: cannot make a private folder\r\n");
        return 0;
    }
    conn->Folder = folder.data();
    conn->ControlPath = conn->Folder + "/ctl";

    std::vector<std::string> args;
    std::vector<std::string> env;
    if (LocalExec) {
        args = {"/bin/sh"};
        env = ChildEnvironment({"TERM="}, {"TERM=" + TerminalName("xterm-256color")});
    } else {
        SESSIONARGS a;
        a.Helper = HelperPath();
        a.ControlPath = conn->ControlPath;
        a.Parms = parms;
        a.Target = t;
        a.User = Info.User;
        if (Info.GlobalKey) {
            a.KeyFiles = PrivateKeys(SshFolder());
        }
        if (!Info.KeyFile.empty())
            a.KeyFiles.push_back(Info.KeyFile[0] == '/' ? Info.KeyFile : SshFolder() + "/" + Info.KeyFile);
        args = SessionArgs(a);
        env = ChildEnvironment({"TERM=", "SSH_ASKPASS=", "SSH_ASKPASS_REQUIRE=", "TESSARO_ASKPASS_"},
                               {"TERM=" + TerminalName("xterm-256color"), "TESSARO_ASKPASS_FD=3"});
    }
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(env);

    int cols, rows;
    WindowSize(&cols, &rows);
    winsize ws = {};
    ws.ws_col = static_cast<unsigned short>(cols);
    ws.ws_row = static_cast<unsigned short>(rows);
    int master = -1, slave = -1;
    int err[2] = {-1, -1};
    int ask[2] = {-1, -1};
    bool made = openpty(&master, &slave, nullptr, nullptr, &ws) == 0;
    if (made) {
        fcntl(master, F_SETFD, FD_CLOEXEC);
        fcntl(slave, F_SETFD, FD_CLOEXEC);
    }
    made = made && (LocalExec || (pipe2(err, O_CLOEXEC) == 0 &&
                                  socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ask) == 0));
    conn->StopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    pid_t pid = -1;
    if (made && conn->StopFd >= 0) {
        char const failed[] = "welkam: cannot start the SSH helper\r\n";
        pid = fork();
        if (pid == 0) {
            setsid();
            ioctl(slave, TIOCSCTTY, 0);
            dup2(slave, 0);
            dup2(slave, 1);
            dup2(err[1] >= 0 ? err[1] : slave, 2);
            if (ask[1] >= 0) {
                if (ask[1] == 3)
                    fcntl(3, F_SETFD, 0);
                else
                    dup2(ask[1], 3);
            }
            close_range(ask[1] >= 0 ? 4 : 3, ~0U, 0);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            for (int s : {SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD})
                signal(s, SIG_DFL);
            execve(argv[0], argv.data(), envp.data());
            ssize_t rc = write(2, failed, sizeof failed - 1);
            (void)rc;
            _exit(127);
        }
    }
    CloseFd(slave);
    CloseFd(err[1]);
    CloseFd(ask[1]);
    if (pid <= 0) {
        CloseFd(master);
        CloseFd(err[0]);
        CloseFd(ask[0]);
        S->Announce("[SSH] FAIL: cannot start the SSH helper\r\n");
        return 0;
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    if (err[0] >= 0)
        fcntl(err[0], F_SETFL, fcntl(err[0], F_GETFL) | O_NONBLOCK);
    conn->Pid = pid;
    conn->Pty = master;
    conn->ErrFd = err[0];
    conn->AskFd = ask[0];
    LastCols = cols;
    LastRows = rows;
    if (LocalExec) {
        conn->Connected = true;
        conn->Released = true;
        S->Announce("[SSH] CONNECT " + t.Host + "\r\n");
    }
    LOGIT("WELKAM::Connect %s (port %d), helper %d\n", t.Host.c_str(), port, static_cast<int>(pid));
    CONNECTION* raw = conn.get();
    // The worker keeps its connection (and the shared state) alive.
    conn->Worker = std::thread([keep = conn, raw] { raw->Run(); });
    {
        std::lock_guard<std::mutex> guard(S->Lock);
        Conn = conn;
    }
    Wake();
    return 1;
}

signed char SSHDEVICE::Disconnect()
{
    std::shared_ptr<CONNECTION> conn = Conn;
    if (conn && !conn->Exited)
        kill(conn->Pid, SIGTERM);
    return 1;
}

signed char SSHDEVICE::AbortConnect()
{
    return Disconnect();
}

int SSHDEVICE::ExecCommand(std::string const& cmd, char* result, int max)
{
    auto answer = [&](std::string const& text) {
        snprintf(result, static_cast<size_t>(max), "%s", text.c_str());
        return 1;
    };
    std::shared_ptr<CONNECTION> conn = Conn;
    bool const online = conn && conn->Connected && !conn->Ended;
    if (cmd == "TEST")
        return answer(online ? "##OK##" : "##ERROR##");
    if (cmd.compare(0, 5, "Open ") == 0) {
        std::string command = cmd.substr(5);
        if (!online || Chan || command.empty())
            return answer("##ERROR##");
        int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0 || pipe2(out, O_CLOEXEC) != 0 ||
            pipe2(err, O_CLOEXEC) != 0) {
            for (int* fd : {&in[0], &in[1], &out[0], &out[1], &err[0], &err[1]})
                CloseFd(*fd);
            return answer("##ERROR##");
        }
        std::vector<std::string> args = conn->Local ? std::vector<std::string>{"/bin/sh", "-c", command}
                                                    : ExecArgs(conn->ControlPath, conn->ConfigFile, conn->Host, command);
        pid_t pid = Spawn(args, in[1], out[1], err[1]);
        CloseFd(in[1]);
        CloseFd(out[1]);
        CloseFd(err[1]);
        if (pid <= 0) {
            CloseFd(in[0]);
            CloseFd(out[0]);
            CloseFd(err[0]);
            return answer("##ERROR##");
        }
        auto chan = std::make_unique<CHANNEL>();
        chan->Number = NextChannel++;
        chan->Pid = pid;
        chan->In = in[0];
        chan->Out = out[0];
        int const errFd = err[0];
        int const number = chan->Number;
        chan->ErrReader = std::thread([errFd, number] {
            std::string line;
            char c;
            while (read(errFd, &c, 1) == 1) {
                if (c != '\n' && line.size() < 4096) {
                    line += c;
                    continue;
                }
                LOGIT("WELKAM::Channel %d: %s\n", number, CleanLine(line).c_str());
                line.clear();
            }
            if (!line.empty())
                LOGIT("WELKAM::Channel %d: %s\n", number, CleanLine(line).c_str());
            close(errFd);
        });
        fcntl(chan->Out, F_SETFL, fcntl(chan->Out, F_GETFL) | O_NONBLOCK);
        {
            std::lock_guard<std::mutex> guard(S->Lock);
            Chan = std::move(chan);
        }
        Wake();
        LOGIT("WELKAM::Channel %d opened\n", number);
        return answer(std::to_string(number));
    }
    if (cmd.compare(0, 12, "IsConnected ") == 0) {
        int n = atoi(cmd.c_str() + 12);
        std::lock_guard<std::mutex> guard(S->Lock);
        return answer(Chan && Chan->Number == n && !Chan->OutEof ? "1" : "0");
    }
    if (cmd.compare(0, 6, "Close ") == 0) {
        int n = atoi(cmd.c_str() + 6);
        if (Chan && Chan->Number == n)
            EndChannel();
        return answer("##OK##");
    }
    return answer("##ERROR##");
}

int SSHDEVICE::HandleDeviceCommand(char const* cmd, char* result, int max, void*)
{
    if (!cmd || !result || max < 1)
        return 0;
    std::string text(cmd, strnlen(cmd, 8192));
    if (text.compare(0, 8, "CALLINFO") == 0) {
        CALLINFO info;
        if (!ParseCallinfo(text.c_str(), &info))
            return 0;
        std::fill(Info.Password.begin(), Info.Password.end(), '\0');
        Info = std::move(info);
        std::fill(text.begin(), text.end(), '\0');
        LOGIT("WELKAM::HandleDeviceCommand CALLINFO (user %s)\n", Info.User.c_str());
        snprintf(result, static_cast<size_t>(max), "OK");
        return 1;
    }
    if (text == "QUERYAUTHFILES") {
        snprintf(result, static_cast<size_t>(max), "%d", static_cast<int>(PrivateKeys(SshFolder()).size()));
        return 1;
    }
    if (text.compare(0, 8, "EXECRAW ") == 0)
        return ExecCommand(text.substr(8), result, max);
    return 0;
}

} // namespace welkam
