// PIPEIO: the named-FIFO channel.
#include "velmot/channels/pipeio.h"

#include "velmot/channels/tcphelpers.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char const* kSource = "pipeio";
constexpr char kGreeting[] = "CONNECT\n"; // 8 bytes on the wire, no zero
constexpr int kGreetingLen = 8;
constexpr int kWriteWaitMs = 2500;

// A folder we own that no one else may enter (lstat: a link is no folder).
bool IsPrivateFolder(char const* path)
{
    struct stat st;
    return lstat(path, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

// The user's private runtime folder: $XDG_RUNTIME_DIR when it is one,
// else /tmp/qor-<uid>, made for the purpose.
STRING RuntimeFolder()
{
    char const* xdg = getenv("XDG_RUNTIME_DIR");
    if (xdg && xdg[0] == '/' && IsPrivateFolder(xdg))
        return STRING(xdg);
    char path[64];
    snprintf(path, sizeof path, "/tmp/qor-%u", static_cast<unsigned>(geteuid()));
    if (mkdir(path, 0700) != 0 && errno != EEXIST)
        LOGIT("PIPEIO can't make %s: %s\n", path, strerror(errno));
    if (!IsPrivateFolder(path)) {
        LOGIT("PIPEIO refuses %s: not a private folder of this user\n", path);
        return STRING("");
    }
    return STRING(path);
}

// A FIFO of ours, opened without following a link.
int OpenFifo(char const* path, int flags)
{
    int fd = open(path, flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode) || st.st_uid != geteuid()) {
        ::close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

// write() without SIGPIPE: a reader that has gone gives EPIPE only.
ssize_t WriteNoSignal(int fd, void const* data, size_t len)
{
    sigset_t pipeSet;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    bool const wasPending = sigismember(&pending, SIGPIPE) == 1;
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
    ssize_t n = write(fd, data, len);
    int const err = errno;
    if (n < 0 && err == EPIPE && !wasPending) {
        timespec zero{0, 0};
        while (sigtimedwait(&pipeSet, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = err;
    return n;
}

STRING Message(char const* format, char const* arg)
{
    STRING out;
    out.Format(format, arg);
    return out;
}

} // namespace

PIPEIO::PIPEIO(char const* ourId, char const* callType, char const* parm)
    : BASEIO(ourId, callType, parm, BASEIO_DEVICE_NO_DAEMON), PipeName(ourId ? ourId : ""),
      FolderName("tarvo-fifo"), semAcceptDone(0)
{
    LOGIT("PIPEIO::PIPEIO %s\n", PipeName.Buf());
    BaseDir = RuntimeFolder();
    FolderOk = CreateBaseFolder();
    PipeName.Replace("\\", "!");
    PipeName.Replace("/", "!");
    semAcceptDone.Post();
}

PIPEIO::~PIPEIO()
{
    LOGIT("PIPEIO::~PIPEIO\n");
    PIPEIO::DropCall();
    // Dead first: an AcceptCall that starts now can't clear the interrupt.
    KillDaemon(1);
    semAcceptDone.Wait(-1);
    // What a call racing with the destructor set up before it returned.
    PIPEIO::DropCall();
}

bool PIPEIO::CreateBaseFolder()
{
    if (BaseDir.IsEmpty())
        return false;
    for (int attempt = 0; attempt < 10; ++attempt) {
        STRING const path = GetFolder();
        if (mkdir(path, 0700) != 0 && errno != EEXIST)
            LOGIT("PIPEIO::CreateBaseFolder can't make %s: %s\n", path.Buf(), strerror(errno));
        struct stat st;
        if (lstat(path, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid()) {
            if ((st.st_mode & 077) != 0 && chmod(path, 0700) != 0)
                LOGIT("PIPEIO::CreateBaseFolder can't chmod %s: %s\n", path.Buf(), strerror(errno));
            if (IsPrivateFolder(path))
                return true;
        }
        // A link, a file, or someone else's folder: never used.
        LOGIT("PIPEIO::CreateBaseFolder refuses %s\n", path.Buf());
        FolderName.FormatAppend("%d", attempt);
    }
    return false;
}

STRING PIPEIO::FifoPath(char const* name, char const* which) const
{
    STRING file(name ? name : "");
    file.Replace("\\", "!");
    file.Replace("/", "!");
    return GetFolder() || "/" || file || which;
}

void PIPEIO::RemoveFifos()
{
    unlink(FifoPath(PipeName, ".upstream.fifo"));
    unlink(FifoPath(PipeName, ".downstream.fifo"));
}

bool PIPEIO::IsUpAndRunning()
{
    return FolderOk;
}

bool PIPEIO::DevIsConnected()
{
    return hPipeIn.IsSet() && hPipeOut.IsSet();
}

int PIPEIO::GetStream(signed char)
{
    return OurPipe ? hPipeOut.Get() : hPipeIn.Get();
}

// ---------------------------------------------------------------------------
// Accepting and calling

bool PIPEIO::AcceptCall()
{
    CALLSCOPE call(*this);
    if (!call.Entered() || IsDead) {
        AssertMsg(0, "!this->IsDead", kSource, __LINE__, nullptr, false);
        return false;
    }
    STRING const up = FifoPath(PipeName, ".upstream.fifo");
    STRING const down = FifoPath(PipeName, ".downstream.fifo");
    int in = -1;
    unsigned drops;
    {
        MUTEXLOCK lock(PipeLock);
        if (IsConnected() || hPipeIn.IsSet() || hPipeOut.IsSet()) {
            AssertMsg(0, "!this->IsConnected()", kSource, __LINE__, nullptr, false);
            return false;
        }
        semAcceptDone.Reset();
        ClearInterrupt();
        drops = Drops.load();
        if (!FolderOk) {
            SetLastError(ENOENT, "AcceptCall: no private folder for the FIFOs");
            semAcceptDone.Post();
            return false;
        }
        for (STRING const* path : {&down, &up}) {
            if (mkfifo(*path, 0600) != 0) {
                int const err = errno;
                SetLastError(err, Message("AcceptCall: Can't mkfifo %s", *path) || " (" || strerror(err) || ")");
            }
        }
        OurPipe = 1;
        in = OpenFifo(up, O_RDONLY);
        if (in < 0) {
            int const err = errno;
            SetLastError(err, Message("AcceptCall: Can't open fdin (%s)", strerror(err)));
            semAcceptDone.Post();
            return false;
        }
    }
    LOGIT("PIPEIO::AcceptCall waits on %s\n", up.Buf());

    // Until a caller opens its end and greets; DropCall ends the wait.
    int out = -1;
    int failure = 0;
    STRING text;
    if (WaitFd(in, POLLIN, -1) != 1) {
        failure = ECANCELED;
        text = "AcceptCall: the wait was ended";
    } else {
        // The caller holds the downstream FIFO open for reading before it
        // greets; a caller that does not is given HandshakeTimeout.
        long long const deadline = BASEIO::NowMs() + HandshakeTimeout;
        while ((out = OpenFifo(down, O_WRONLY)) < 0 && errno == ENXIO && BASEIO::NowMs() < deadline) {
            short revents = 0;
            int w = WaitFd(in, 0, 10, &revents);
            if (w == -2 || (w == 1 && (revents & (POLLHUP | POLLERR)))) {
                errno = ECONNABORTED;
                break;
            }
        }
        if (out < 0) {
            failure = errno;
            text = Message("AcceptCall: Can't open fdout (%s)", strerror(failure));
        } else {
            char greeting[kGreetingLen];
            int got = 0;
            while (got < kGreetingLen) {
                ssize_t n = read(in, greeting + got, static_cast<size_t>(kGreetingLen - got));
                if (n > 0) {
                    got += static_cast<int>(n);
                } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                    int const left = static_cast<int>(deadline - BASEIO::NowMs());
                    if (left <= 0 || WaitFd(in, POLLIN, left) != 1)
                        break;
                } else {
                    break;
                }
            }
            if (got != kGreetingLen || memcmp(greeting, kGreeting, kGreetingLen) != 0) {
                failure = EPROTO;
                text = "AcceptCall: the caller's greeting was not \"CONNECT\"";
            }
        }
    }
    MUTEXLOCK lock(PipeLock);
    if (!failure && Drops.load() != drops) {
        failure = ECANCELED;
        text = "AcceptCall: dropped";
    }
    if (failure) {
        LOGIT("PIPEIO::AcceptCall failed: %s\n", text.Buf());
        ::close(in);
        if (out >= 0)
            ::close(out);
        signed char ours = 1;
        if (OurPipe.compare_exchange_strong(ours, 0))
            RemoveFifos();
        SetLastError(failure, text);
        semAcceptDone.Post();
        return false;
    }
    hPipeIn.Set(in);
    hPipeOut.Set(out);
    LastActivity = OSYS::GetLTime();
    LOGIT("PIPEIO::AcceptCall connected\n");
    semAcceptDone.Post();
    return true;
}

bool PIPEIO::MakeCall(char const* name)
{
    CALLSCOPE call(*this);
    MUTEXLOCK lock(PipeLock);
    if (!call.Entered() || IsDead || IsConnected() || hPipeIn.IsSet() || hPipeOut.IsSet()) {
        AssertMsg(0, "!this->IsConnected()", kSource, __LINE__, nullptr, false);
        return false;
    }
    ClearInterrupt();
    STRING const up = FifoPath(name, ".upstream.fifo");
    STRING const down = FifoPath(name, ".downstream.fifo");
    // Fails at once unless the other side waits in AcceptCall.
    int out = OpenFifo(up, O_WRONLY);
    if (out < 0) {
        int const err = errno;
        SetLastError(err, Message("MakeCall: Can't open fdout (%s)", strerror(err)));
        return false;
    }
    // The read end is open before the greeting goes, so the accepting side
    // can open its write end at once.
    int in = OpenFifo(down, O_RDONLY);
    if (in < 0) {
        int const err = errno;
        SetLastError(err, Message("MakeCall: Can't open fin (%s)", strerror(err)));
        ::close(out);
        return false;
    }
    ssize_t howmany = WriteNoSignal(out, kGreeting, kGreetingLen);
    if (howmany != kGreetingLen) {
        int const err = errno;
        STRING text;
        text.Format("MakeCall: write failed with %d (%s)", err, strerror(err));
        SetLastError(err, text);
        ::close(in);
        ::close(out);
        return false;
    }
    hPipeIn.Set(in);
    hPipeOut.Set(out);
    LastActivity = OSYS::GetLTime();
    LOGIT("PIPEIO::MakeCall connected to %s\n", name ? name : "");
    return DevIsConnected();
}

bool PIPEIO::DropCall()
{
    LOGIT("PIPEIO::DropCall\n");
    ++Drops;
    Interrupt();
    MUTEXLOCK lock(PipeLock);
    SetLastError(0, "");
    hPipeIn.Close(false);
    hPipeOut.Close(false);
    signed char ours = 1;
    if (OurPipe.compare_exchange_strong(ours, 0))
        RemoveFifos();
    return !IsConnected();
}

// ---------------------------------------------------------------------------
// Reading and writing

bool PIPEIO::DevRead(char* buf, int* len, int timeoutMs)
{
    int const want = *len;
    *len = 0;
    CHANNELFD::REF in = hPipeIn.Acquire();
    if (!in) {
        OSYS::Sleep(25);
        return false;
    }
    int r = WaitFd(*in, POLLIN, timeoutMs);
    if (r == 0) {
        LastActivity = OSYS::GetLTime();
        return true;
    }
    if (r == -2)
        return false;
    if (r < 0) {
        SetLastError(errno, strerror(errno));
        return false;
    }
    ssize_t n = read(*in, buf, static_cast<size_t>(want));
    if (n > 0) {
        *len = static_cast<int>(n);
        LastActivity = OSYS::GetLTime();
        return true;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    // Readable with nothing to read: the other side has closed.
    int const err = n < 0 ? errno : EPIPE;
    in.reset();
    DropCall();
    SetLastError(err, n < 0 ? strerror(err) : "the other side closed the pipe");
    return false;
}

bool PIPEIO::DevWrite(char const* data, int len)
{
    CHANNELFD::REF out = hPipeOut.Acquire();
    if (!out)
        return false;
    int sent = 0;
    int failure = 0;
    {
        MUTEXLOCK lock(WriteLock);
        while (sent < len) {
            int r = WaitFd(*out, POLLOUT, kWriteWaitMs);
            if (r != 1) {
                failure = WaitFailure(r);
                break;
            }
            ssize_t n = WriteNoSignal(*out, data + sent, static_cast<size_t>(len - sent));
            if (n > 0) {
                if (n < len - sent)
                    LOGIF(3, "PIPEIO::DevWrite wrote %zd of %d bytes\n", n, len - sent);
                sent += static_cast<int>(n);
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            } else {
                failure = n < 0 ? errno : EIO;
                break;
            }
        }
    }
    if (sent == len) {
        LastActivity = OSYS::GetLTime();
        return true;
    }
    out.reset();
    DropCall();
    SetLastError(failure, strerror(failure));
    return false;
}

int PIPEIO::DevGetNumAvail()
{
    return CountReadable(hPipeIn, 0, "Problem with devgetnumavail (ioctl failed: %s)");
}

STRING PIPEIO::GetInfo(char const* key)
{
    STRING k(key ? key : "");
    k.ToUpper();
    if (k == "ONLINE")
        return STRING(IsConnected() ? "1" : "0");
    if (k == "BANDWIDTH")
        return STRING("10000000");
    if (k == "LASTERROR")
        return STRING(LastError.load());
    if (k == "LASTERRORSTRING")
        return GetLastErrorString();
    if (k == "IDLE_TIME")
        return STRING(IdleSeconds(LastActivity));
    if (k == "OWNID")
        return OurId;
    if (k == "CALLERID")
        return STRING("<unknown>");
    if (k == "DEVICENAME")
        return STRING("PIPE");
    return UnknownInfoKey(key);
}
