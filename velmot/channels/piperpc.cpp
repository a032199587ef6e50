// PIPERPC: calls between processes over FIFOs or TCP.
#include "velmot/channels/piperpc.h"

#include "velmot/channels/pipeio.h"
#include "velmot/channels/tcpio.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <string>

namespace {

constexpr char const* kSource = "piperpc";
// The reader reads this much per pass, waiting at most kReadWaitMs.
constexpr int kReadChunk = 1023;
constexpr int kReadWaitMs = 60000;
constexpr int kConnectTries = 10;
constexpr int kConnectPauseMs = 500;

// The process-wide call counter: every call gets its own id, 1 first.
std::atomic<uint32_t> gCallCounter{1};

bool StartsWith(char const* text, char const* prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

// The address part of a target: without "TCP:" or "PIPE:".
char const* TargetAddress(char const* target)
{
    if (StartsWith(target, "TCP:"))
        return target + 4;
    if (StartsWith(target, "PIPE:"))
        return target + 5;
    return target;
}

} // namespace

// ---------------------------------------------------------------------------
// PIPERPCTHREADS

PIPERPCTHREADS::~PIPERPCTHREADS()
{
    WaitForAll();
    std::unique_lock<std::mutex> lock(Lock);
    Stopping = true;
    JobCame.notify_all();
    lock.unlock();
    for (WORKER& w : Workers) {
        if (w.Thread)
            OSYS::WaitThread(w.Thread, -1);
    }
}

bool PIPERPCTHREADS::StartThread(JOB job, void* arg)
{
    std::lock_guard<std::mutex> lock(Lock);
    WORKER* idle = nullptr;
    WORKER* empty = nullptr;
    for (WORKER& w : Workers) {
        if (w.Thread && !w.Job && !idle)
            idle = &w;
        if (!w.Thread && !empty)
            empty = &w;
    }
    if (idle) {
        idle->Job = job;
        idle->Arg = arg;
        JobCame.notify_all();
        return true;
    }
    if (!empty)
        return false;
    // The job is in place before the thread starts: it runs it first.
    empty->Job = job;
    empty->Arg = arg;
    empty->Thread = OSYS::CreateThreadWithParm(&WorkerMain, reinterpret_cast<MSGWORD>(this),
                                               static_cast<MSGWORD>(empty - Workers));
    if (!empty->Thread) {
        empty->Job = nullptr;
        return false;
    }
    return true;
}

unsigned long PIPERPCTHREADS::WorkerMain(MSGWORD parm)
{
    OSYS::InitThread();
    auto const* block = reinterpret_cast<THREADPARM2 const*>(parm);
    reinterpret_cast<PIPERPCTHREADS*>(block->Parm1)->Work(static_cast<int>(block->Parm2));
    return 0;
}

void PIPERPCTHREADS::Work(int index)
{
    WORKER& me = Workers[index];
    std::unique_lock<std::mutex> lock(Lock);
    for (;;) {
        JobCame.wait(lock, [&] { return me.Job || Stopping; });
        if (!me.Job)
            return;
        JOB const job = me.Job;
        void* const arg = me.Arg;
        lock.unlock();
        job(arg);
        lock.lock();
        me.Job = nullptr;
        me.Arg = nullptr;
        JobDone.notify_all();
    }
}

void PIPERPCTHREADS::WaitForAll()
{
    std::unique_lock<std::mutex> lock(Lock);
    JobDone.wait(lock, [&] {
        for (WORKER const& w : Workers) {
            if (w.Job)
                return false;
        }
        return true;
    });
}

int PIPERPCTHREADS::Running()
{
    std::lock_guard<std::mutex> lock(Lock);
    int n = 0;
    for (WORKER const& w : Workers)
        n += w.Job != nullptr;
    return n;
}

// ---------------------------------------------------------------------------
// Frames

STRING PIPERPC::BuildFrame(char type, uint32_t id, char const* command, HASH const& payload)
{
    STRING body = payload.AsString();
    STRING mime = body.Length() > 0 ? body.AsMime(1) : STRING("");
    mime.Trim('R', "\r\n");
    STRING frame;
    frame.Format("%c%c[%lu] ", STX, type, static_cast<unsigned long>(id));
    if (type != '=') {
        frame.Append(command ? command : "");
        frame.Append(" ");
    }
    frame.Append(mime);
    frame.Append(&ETX, 1);
    return frame;
}

bool PIPERPC::ParseFrame(char const* data, int len, FRAME* frame)
{
    if (len < 6 || data[0] != STX || data[len - 1] != ETX)
        return false;
    std::string const text(data + 1, static_cast<size_t>(len - 2));
    char const type = text[0];
    if (type != '+' && type != '-' && type != '=')
        return false;
    if (text[1] != '[')
        return false;
    size_t const close = text.find(']', 2);
    if (close == std::string::npos || close == 2 || close > 12 || close + 1 >= text.size() || text[close + 1] != ' ')
        return false;
    unsigned long long id = 0;
    for (size_t i = 2; i < close; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        id = id * 10 + static_cast<unsigned>(text[i] - '0');
    }
    if (id > 0xFFFFFFFFull)
        return false;
    std::string rest = text.substr(close + 2);
    std::string command;
    if (type != '=') {
        size_t const blank = rest.find(' ');
        command = rest.substr(0, blank);
        rest = blank == std::string::npos ? std::string() : rest.substr(blank + 1);
        // A command name is a word: no blank, no control byte (a zero byte
        // would cut it short).
        if (command.empty())
            return false;
        for (unsigned char c : command) {
            if (c < 0x20)
                return false;
        }
    }
    // The payload is Base64 in lines: nothing else belongs there.
    for (unsigned char c : rest) {
        if (!isalnum(c) && c != '+' && c != '/' && c != '=' && c != '\r' && c != '\n')
            return false;
    }
    frame->Type = type;
    frame->Id = static_cast<uint32_t>(id);
    frame->Command = STRING(command.c_str());
    frame->Payload = STRING(BINARY(rest.data(), static_cast<int32_t>(rest.size())));
    return true;
}

HASH PIPERPC::DecodePayload(STRING const& payload)
{
    if (payload.Length() == 0)
        return HASH();
    return HASH(payload.UnMime());
}

// ---------------------------------------------------------------------------
// Construction, connecting

PIPERPC::PIPERPC(char const* name) : Name(STRING(name ? name : "") || "::RPC"), ConnectEvent(0), ReaderDone(0) {}

PIPERPC::~PIPERPC()
{
    LOGIT("PIPERPC::~PIPERPC (myname= %s)\n", Name.Buf());
    ShuttingDown = true;
    RpcDisconnect();
    Threads.WaitForAll();
    LOGIT("PIPERPC::~PIPERPC (myname= %s) done\n", Name.Buf());
}

void PIPERPC::OnDisconnect() {}

BASEIO* PIPERPC::CreateDevice(char const* target)
{
    char const* t = target ? target : "";
    if (StartsWith(t, "TCP:")) {
        std::string id = t + 4;
        // A server listens on the loopback address unless told otherwise.
        if (IsServer && id.find(':') == std::string::npos && id.find('[') == std::string::npos)
            id = "127.0.0.1:" + id;
        auto* tcp = new TCPIPIO(id.c_str(), "", "");
        tcp->ResolvePeerOnCall = 0; // calls need no names, and no name server
        return tcp;
    }
    return new PIPEIO(TargetAddress(t), "", "");
}

bool PIPERPC::IsRpcConnected()
{
    std::shared_lock<std::shared_mutex> lock(DeviceLock);
    return Device && Device->IsConnected();
}

STRING PIPERPC::GetDeviceInfo(char const* key)
{
    std::shared_lock<std::shared_mutex> lock(DeviceLock);
    return Device ? Device->GetInfo(key) : STRING("");
}

bool PIPERPC::RpcConnect(char const* target, unsigned mode)
{
    if (hThreadReader) {
        AssertMsg(0, "this->hThreadReader==NULL", kSource, __LINE__, nullptr, false);
        return false;
    }
    Target = STRING(target ? target : "");
    IsServer = mode != 0;
    IsSingleConnectionServer = mode == 2;
    LOGIT("PIPERPC::RpcConnect %s %s %s\n", Name.Buf(), IsServer ? "accepts calls as" : "connects to", Target.Buf());
    BASEIO* device = CreateDevice(Target);
    {
        std::unique_lock<std::shared_mutex> lock(DeviceLock);
        delete Device;
        Device = device;
    }
    ReaderDone.Reset();
    ConnectEvent.Reset();
    if (!IsServer) {
        // A TCP target with a port alone means this machine.
        std::string address = TargetAddress(Target);
        if (StartsWith(Target, "TCP:") && !address.empty() &&
            address.find_first_not_of("0123456789") == std::string::npos)
            address = "127.0.0.1:" + address;
        bool connected = false;
        for (int i = 0; i < kConnectTries && !connected; ++i) {
            connected = device->MakeCall(address.c_str());
            if (!connected && i + 1 < kConnectTries)
                OSYS::Sleep(kConnectPauseMs);
        }
        if (!connected) {
            // Nobody answered: that is logged, never asked.
            AssertMsg(0, "ok", kSource, __LINE__, "RpcConnect failed", true);
            return false;
        }
        {
            std::lock_guard<std::mutex> guard(RepliesLock);
            LinkUp = true;
        }
        hThreadReader = OSYS::CreateThread(&ReaderLauncher, reinterpret_cast<MSGWORD>(this));
        return hThreadReader != 0;
    }
    ListenFailed = false;
    hThreadReader = OSYS::CreateThread(&ReaderLauncher, reinterpret_cast<MSGWORD>(this));
    if (!hThreadReader)
        return false;
    ConnectEvent.Wait(-1);
    return !ListenFailed;
}

bool PIPERPC::RpcDisconnect()
{
    MSGWORD const reader = hThreadReader;
    {
        std::shared_lock<std::shared_mutex> lock(DeviceLock);
        if (!Device)
            return false;
    }
    if (reader) {
        // The reader ends on the dropped link; a drop that comes while it
        // sets up the next accept is repeated until it has ended.
        StopReader = true;
        do {
            std::shared_lock<std::shared_mutex> lock(DeviceLock);
            Device->DropCall();
        } while (!ReaderDone.Wait(100));
        OSYS::WaitThread(reader, -1);
        hThreadReader = 0;
        StopReader = false;
    }
    std::unique_lock<std::shared_mutex> lock(DeviceLock);
    bool const dropped = Device->DropCall();
    delete Device;
    Device = nullptr;
    return dropped;
}

// ---------------------------------------------------------------------------
// The reader thread

unsigned long PIPERPC::ReaderLauncher(MSGWORD self)
{
    OSYS::InitThread();
    auto* rpc = reinterpret_cast<PIPERPC*>(self);
    rpc->PipeReader();
    rpc->ReaderDone.Post();
    return 0;
}

bool PIPERPC::AcceptStep()
{
    BASEIO* device = Device;
    if (stricmp(device->GetInfo("DEVICENAME"), "TCPIP") == 0) {
        auto* tcp = static_cast<TCPIPIO*>(device);
        char const* t = Target.Buf();
        if (strncasecmp(t, "TCP:", 4) == 0)
            t += 4;
        char const* colon = strchr(t, ':');
        int const port = atoi(colon ? colon + 1 : t);
        if (port < 1 && !IsSingleConnectionServer)
            AssertMsg(0, "port>0 || this->IsSingleConnectionServer", kSource, __LINE__, nullptr, false);
        // Listening before the caller of RpcConnect goes on: the port can
        // be read, and a port that can't be had is a failed connect.
        if (!tcp->PrepareAcceptCall()) {
            AssertMsg(0, "StdStream.PrepareAcceptCall failed", kSource, __LINE__, tcp->GetInfo("LASTERRORSTRING"), true);
            ListenFailed = true;
        }
        LOGIT("PIPERPC::PipeReader %s listens on port %s\n", Name.Buf(), tcp->GetInfo("ACCEPTPORT").Buf());
    } else if (!device->IsUpAndRunning()) {
        ListenFailed = true;
    }
    bool const failed = ListenFailed;
    ConnectEvent.Post();
    if (failed || StopReader)
        return false;
    return device->AcceptCall();
}

void PIPERPC::PipeReader()
{
    for (;;) {
        bool accepted = false;
        if (IsServer) {
            if (!AcceptStep()) {
                LOGIT("PIPERPC::PipeReader %s accept failed\n", Name.Buf());
                break;
            }
            accepted = true;
            std::lock_guard<std::mutex> guard(RepliesLock);
            LinkUp = true;
        }
        ReadFrames();
        LinkLost();
        Threads.WaitForAll();
        bool const again = IsServer && !IsSingleConnectionServer && !ShuttingDown && !StopReader;
        if (!again) {
            LOGIT("PIPERPC::PipeReader %s done, ok= %d\n", Name.Buf(), 1);
            if (accepted)
                OnDisconnect();
            break;
        }
        LOGIT("PIPERPC::PipeReader %s goto again\n", Name.Buf());
        Device->DropCall();
    }
    LinkLost();
}

void PIPERPC::ReadFrames()
{
    BASEIO* device = Device;
    std::string frame;
    bool skipping = false; // the rest of an over-long frame
    while (device->IsConnected() && !StopReader) {
        char chunk[kReadChunk];
        int n = kReadChunk;
        char const until[2] = {ETX, 0};
        device->Read(chunk, &n, kReadWaitMs, until);
        if (n <= 0)
            continue;
        bool const ends = chunk[n - 1] == ETX;
        if (skipping) {
            skipping = !ends;
            continue;
        }
        frame.append(chunk, static_cast<size_t>(n));
        if (frame.size() > static_cast<size_t>(MAXFRAME)) {
            LOGIT("PIPERPC::PipeReader %s drops a frame longer than %d bytes\n", Name.Buf(), MAXFRAME);
            frame.clear();
            skipping = !ends;
            continue;
        }
        if (ends) {
            TakeFrame(frame);
            frame.clear();
        }
    }
    LOGIT("PIPERPC::PipeReader %s breaks loop for disconnect\n", Name.Buf());
}

void PIPERPC::TakeFrame(std::string const& data)
{
    // Bytes before the frame's STX are not part of it.
    size_t const stx = data.rfind(STX);
    FRAME frame;
    if (stx == std::string::npos ||
        !ParseFrame(data.data() + stx, static_cast<int>(data.size() - stx), &frame)) {
        LOGIT("PIPERPC::PipeReader %s drops a malformed frame of %zu bytes\n", Name.Buf(), data.size());
        return;
    }
    if (frame.Type == '=') {
        std::lock_guard<std::mutex> guard(RepliesLock);
        auto it = Replies.find(frame.Id);
        if (it == Replies.end()) {
            LOGIT("PIPERPC::PipeReader %s drops a reply to [%u], which nobody waits for\n", Name.Buf(), frame.Id);
            return;
        }
        it->second->Payload = frame.Payload;
        it->second->Ok = true;
        it->second->Done = true;
        it->second->Wake.notify_one();
        return;
    }
    auto* call = new INCOMING{this, frame};
    if (!Threads.StartThread(&RunCall, call)) {
        LOGIT("PIPERPC::PipeReader %s refuses %s [%u]: %d calls run\n", Name.Buf(), frame.Command.Buf(), frame.Id,
              MAXHANDLERS);
        if (frame.Type == '+') {
            HASH busy;
            busy["rc"] = "-1";
            WriteFrame(BuildFrame('=', frame.Id, nullptr, busy));
        }
        delete call;
    }
}

void PIPERPC::LinkLost()
{
    std::lock_guard<std::mutex> guard(RepliesLock);
    LinkUp = false;
    for (auto& [id, slot] : Replies) {
        slot->Done = true;
        slot->Wake.notify_one();
    }
}

void PIPERPC::RunCall(void* parm)
{
    auto* call = static_cast<INCOMING*>(parm);
    PIPERPC* self = call->Self;
    FRAME const& frame = call->Frame;
    HASH const args = DecodePayload(frame.Payload);
    HASH result;
    result["rc"] = "-1";
    if (frame.Type == '-')
        LOGIT("PIPERPC::Handler %s one-way call %s\n", self->Name.Buf(), frame.Command.Buf());
    self->HandleRpcCommand(frame.Command, args, &result);
    if (frame.Type == '+' && !self->WriteFrame(BuildFrame('=', frame.Id, nullptr, result)))
        LOGIT("PIPERPC::Handler %s can't send the reply to [%u]\n", self->Name.Buf(), frame.Id);
    delete call;
}

void PIPERPC::HandleRpcCommand(char const* command, HASH const& args, HASH* result)
{
    if (!pfnCallback) {
        AssertMsg(0, "this->pfnCallback", kSource, __LINE__, command, true);
        return;
    }
    pfnCallback(command, args, result, pUserData);
}

// ---------------------------------------------------------------------------
// Calling

bool PIPERPC::WriteFrame(STRING const& frame)
{
    std::shared_lock<std::shared_mutex> device(DeviceLock);
    if (!Device)
        return false;
    // Whole frames only: two writers never interleave their bytes.
    std::lock_guard<std::mutex> guard(WriteLock);
    return Device->Write(frame.Buf(), frame.Length());
}

bool PIPERPC::RpcCall(char const* command, HASH const& args, HASH* result, signed char quiet)
{
    if (!IsRpcConnected()) {
        AssertMsg(0, "this->IsRpcConnected()", kSource, __LINE__, command, true);
        return false;
    }
    char const* cmd = command ? command : "";
    bool word = *cmd != 0;
    for (char const* p = cmd; *p; ++p)
        word = word && static_cast<unsigned char>(*p) > 0x20;
    if (!word) {
        LOGIT("PIPERPC::RpcCall %s refuses the command name \"%s\"\n", Name.Buf(), cmd);
        return false;
    }
    uint32_t const id = gCallCounter.fetch_add(1);
    REPLYSLOT slot;
    {
        std::lock_guard<std::mutex> guard(RepliesLock);
        if (!LinkUp)
            return false;
        Replies[id] = &slot;
    }
    if (!quiet)
        LOGIT("PIPERPC::RpcCall %s %s [%u]\n", Name.Buf(), cmd, id);
    bool const written = WriteFrame(BuildFrame('+', id, cmd, args));
    std::unique_lock<std::mutex> guard(RepliesLock);
    if (written)
        slot.Wake.wait(guard, [&] { return slot.Done; });
    Replies.erase(id);
    guard.unlock();
    if (!quiet)
        LOGIT("PIPERPC::RpcCall %s %s [%u] done, ok= %d\n", Name.Buf(), cmd, id, slot.Ok ? 1 : 0);
    if (!slot.Ok)
        return false;
    if (result)
        *result = DecodePayload(slot.Payload);
    return true;
}
