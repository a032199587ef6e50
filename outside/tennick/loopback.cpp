#include "outside/tennick/loopback.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Written bytes kept for the test, at most this many (the oldest go).
constexpr size_t kSentKeep = 1 << 20;

} // namespace

LOOPBACK::LOOPBACK(SUBSYSINITDATA const& init, int id) : TENNICKDEVICE(init, id, "Loopback") {}

LOOPBACK::~LOOPBACK()
{
    Close();
}

signed char LOOPBACK::Open(char const* parm)
{
    Close();
    if (parm && *parm)
        Parm = parm;
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sv) != 0)
        return 1;
    if (!Gate.Attach(sv[0])) {
        close(sv[0]);
        close(sv[1]);
        return 1;
    }
    {
        std::lock_guard<std::mutex> guard(Lock);
        Peer = sv[1];
        Sent.clear();
        SentCount = 0;
        Calls.clear();
    }
    Echo.store(Options().find("echo") != std::string::npos);
    Online.store(1);
    IgnoreClose.store(false);
    Answer.store(0);
    return 0;
}

void LOOPBACK::Close()
{
    Gate.Detach();
    std::lock_guard<std::mutex> guard(Lock);
    if (Peer >= 0)
        close(Peer);
    Peer = -1;
    Online.store(0);
}

int LOOPBACK::QueryOnline()
{
    return Online.load();
}

void LOOPBACK::StatusText(char* buf)
{
    if (buf)
        snprintf(buf, 4096, "LOOPBACK: %s\r\nSENT: %llu\r\n", Parm.c_str(), SentCount);
}

int LOOPBACK::Write(char const* data, long len)
{
    if (!data || len <= 0)
        return 0;
    std::lock_guard<std::mutex> guard(Lock);
    Sent.append(data, static_cast<size_t>(len));
    if (Sent.size() > kSentKeep)
        Sent.erase(0, Sent.size() - kSentKeep);
    SentCount += static_cast<unsigned long long>(len);
    if (Echo.load() && Peer >= 0)
        return Gate.WriteAll(Peer, data, len, 5000) ? 1 : 0;
    return 1;
}

signed char LOOPBACK::Read(char* buf, unsigned long* len)
{
    Reads.fetch_add(1);
    return static_cast<signed char>(Gate.Read(buf, len, IgnoreClose.load()));
}

void LOOPBACK::Called(std::string const& what)
{
    std::lock_guard<std::mutex> guard(Lock);
    Calls += what + ";";
    if (Calls.size() > kSentKeep)
        Calls.erase(0, Calls.size() - kSentKeep);
}

signed char LOOPBACK::Connect(char const* target)
{
    Called(std::string("connect ") + (target ? target : "<null>"));
    return 1;
}

signed char LOOPBACK::Disconnect()
{
    Called("disconnect");
    Online.store(0);
    return 1;
}

int LOOPBACK::HandleMenuEvent(int id, char const* text)
{
    Called("menu " + std::to_string(id) + (text ? " text" : ""));
    return Answer.load();
}

int LOOPBACK::SendBreak()
{
    Called("break");
    return Answer.load();
}

signed char LOOPBACK::Reset(signed char flag)
{
    Called("reset " + std::to_string(flag));
    return static_cast<signed char>(Answer.load());
}

signed char LOOPBACK::AcceptCalls(signed char on)
{
    Called("accept " + std::to_string(on));
    return static_cast<signed char>(Answer.load());
}

signed char LOOPBACK::PrepareForFileTransfer(signed char mode)
{
    Called("prepare " + std::to_string(mode));
    return static_cast<signed char>(Answer.load());
}

signed char LOOPBACK::CleanupAfterFileTransfer(signed char mode)
{
    Called("cleanup " + std::to_string(mode));
    return static_cast<signed char>(Answer.load());
}

int LOOPBACK::ProcessKey(KEYBOARDEVENT const&)
{
    Called("key");
    return Answer.load();
}

signed char LOOPBACK::HandleTimerEvent()
{
    Called("timer");
    return static_cast<signed char>(Answer.load());
}

signed char LOOPBACK::AbortConnect()
{
    Called("abort");
    return static_cast<signed char>(Answer.load());
}

signed char LOOPBACK::CanAccept()
{
    Called("canaccept");
    return static_cast<signed char>(Answer.load());
}

signed char LOOPBACK::TrackChanges()
{
    Called("track");
    return static_cast<signed char>(Answer.load());
}

int LOOPBACK::HandleDeviceCommand(char const* cmd, char* result, int max, void*)
{
    if (!cmd)
        return 0;
    std::string c = cmd;
    auto answer = [&](std::string const& text) {
        CopyCut(result, max, text);
        return 1;
    };
    if (c == "LOOPBACK FD") {
        std::lock_guard<std::mutex> guard(Lock);
        return answer(std::to_string(Peer));
    }
    if (c.rfind("INJECT ", 0) == 0) {
        std::lock_guard<std::mutex> guard(Lock);
        bool ok = Peer >= 0 && Gate.WriteAll(Peer, c.data() + 7, static_cast<long>(c.size() - 7), 5000);
        return answer(ok ? "OK" : "ERROR");
    }
    if (c == "ECHO 1" || c == "ECHO 0") {
        Echo.store(c == "ECHO 1");
        return answer("OK");
    }
    if (c.rfind("ONLINE ", 0) == 0) {
        Online.store(atoi(c.c_str() + 7));
        return answer("OK");
    }
    if (c == "SENT") {
        std::lock_guard<std::mutex> guard(Lock);
        return answer(Sent);
    }
    if (c == "SENTCOUNT") {
        std::lock_guard<std::mutex> guard(Lock);
        return answer(std::to_string(SentCount));
    }
    if (c == "READS")
        return answer(std::to_string(Reads.load()));
    if (c == "IGNORECLOSE 1") {
        IgnoreClose.store(true);
        return answer("OK");
    }
    if (c == "HANGUP") {
        std::lock_guard<std::mutex> guard(Lock);
        if (Peer >= 0)
            close(Peer);
        Peer = -1;
        return answer("OK");
    }
    if (c.rfind("ANSWER ", 0) == 0) {
        Answer.store(atoi(c.c_str() + 7));
        return answer("OK");
    }
    if (c == "CALLS") {
        std::string calls;
        {
            std::lock_guard<std::mutex> guard(Lock);
            calls.swap(Calls);
        }
        return answer(calls);
    }
    if (c.rfind("CALLINFO", 0) == 0)
        return answer("OK");
    return 0;
}
