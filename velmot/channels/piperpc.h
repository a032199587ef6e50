// PIPERPC: two processes call named commands on each other over a FIFO
// pair (PIPEIO) or a TCP connection (TCPIPIO). A command takes a HASH of
// arguments and returns a HASH of results (always with "rc"). Each end can
// call and be called at once; a caller blocks until its reply comes or the
// link is lost; each incoming call runs on a thread of its own (at most
// MAXHANDLERS at a time: a call beyond that is answered at once with
// "rc" = "-1").
//
// Frame, both directions: STX, a type ('+' call wanting a reply, '-' call
// wanting none, '=' reply), "[" decimal call id "]", a blank, for calls the
// command and a blank, the Base64 of the HASH's text form in 76-character
// lines joined by CR LF (nothing for an empty HASH), ETX. A reply carries
// its call's id. Frames longer than MAXFRAME, frames that do not parse and
// replies nobody waits for are dropped (and logged): what a peer sends never
// raises an assertion.
//
// Targets: "TCP:[address:]port", "PIPE:name", or a pipe name alone. A TCP
// server listens on 127.0.0.1 unless the target names an address ("*" for
// any); a client given a port alone calls 127.0.0.1. Mode 0 connects to a server (ten tries, half a second apart), mode 1
// serves one connection after the other, mode 2 serves one connection.
#pragma once

#include "velmot/channels/ios.h"
#include "velmot/core/hash.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <shared_mutex>

using PIPERPCCALLBACK = void (*)(char const* command, HASH const& args, HASH* result, void* user);

// The handler threads of one PIPERPC: at most MAXTHREADS, each running
// one call at a time. A thread that has finished its call waits for the
// next one (starting a thread costs more than most calls).
class VELMOT_EXPORT PIPERPCTHREADS {
public:
    static constexpr int MAXTHREADS = 16;
    using JOB = void (*)(void* arg);

    PIPERPCTHREADS() = default;
    // Waits for the calls that run, then ends every thread.
    ~PIPERPCTHREADS();
    PIPERPCTHREADS(PIPERPCTHREADS const&) = delete;
    PIPERPCTHREADS& operator=(PIPERPCTHREADS const&) = delete;

    // Runs job(arg) on a thread of its own; false (nothing started) while
    // MAXTHREADS calls run.
    bool StartThread(JOB job, void* arg);
    // Waits until no call runs.
    void WaitForAll();
    int Running();

private:
    struct WORKER {
        MSGWORD Thread = 0;
        JOB Job = nullptr;
        void* Arg = nullptr;
    };
    static unsigned long WorkerMain(MSGWORD parm);
    void Work(int index);

    std::mutex Lock;
    std::condition_variable JobCame;
    std::condition_variable JobDone;
    WORKER Workers[MAXTHREADS];
    bool Stopping = false;
};

class VELMOT_EXPORT PIPERPC {
public:
    static constexpr int MAXFRAME = 1 << 20;
    static constexpr int MAXHANDLERS = PIPERPCTHREADS::MAXTHREADS;
    static constexpr char STX = 0x02;
    static constexpr char ETX = 0x03;

    explicit PIPERPC(char const* name);

    // Called on the server's reader thread after an accepted connection
    // has ended, when the server stops serving.
    virtual void OnDisconnect();
    virtual ~PIPERPC();
    virtual bool RpcConnect(char const* target, unsigned mode);
    virtual bool RpcDisconnect();
    // Sends the call and waits for its reply; true when the reply came
    // (*result, when given, becomes the reply's HASH). quiet leaves the
    // call out of the log.
    virtual bool RpcCall(char const* command, HASH const& args, HASH* result, signed char quiet);
    // Runs one incoming call (on its own thread); result holds "rc" = "-1"
    // on entry. The default calls pfnCallback.
    virtual void HandleRpcCommand(char const* command, HASH const& args, HASH* result);

    bool IsRpcConnected();
    BASEIO* CreateDevice(char const* target);
    // The channel's answer to a text query ("ACCEPTPORT" of a server on
    // TCP port 0); empty without a channel.
    STRING GetDeviceInfo(char const* key);

    PIPERPCCALLBACK pfnCallback = nullptr;
    void* pUserData = nullptr;

    // A frame from its parts (payload: the HASH's text form in Base64).
    static STRING BuildFrame(char type, uint32_t id, char const* command, HASH const& payload);
    // Takes a frame apart (from STX to ETX, both included). False for
    // anything that is not one.
    struct FRAME {
        char Type = 0;
        uint32_t Id = 0;
        STRING Command;
        STRING Payload; // Base64
    };
    static bool ParseFrame(char const* data, int len, FRAME* frame);
    // The HASH a payload holds.
    static HASH DecodePayload(STRING const& payload);

private:
    struct REPLYSLOT {
        bool Done = false;
        bool Ok = false;
        STRING Payload;
        std::condition_variable Wake;
    };
    struct INCOMING {
        PIPERPC* Self;
        FRAME Frame;
    };

    static unsigned long ReaderLauncher(MSGWORD self);
    static void RunCall(void* call);
    void PipeReader();
    bool AcceptStep();
    void ReadFrames();
    void TakeFrame(std::string const& data);
    void LinkLost();
    bool WriteFrame(STRING const& frame);

    BASEIO* Device = nullptr; // deleted only under DeviceLock held exclusively
    std::shared_mutex DeviceLock;
    STRING Name;
    STRING Target;
    bool IsServer = false;
    bool IsSingleConnectionServer = false;
    std::atomic<bool> ShuttingDown{false};
    std::atomic<bool> StopReader{false};
    bool ListenFailed = false;
    PIPERPCTHREADS Threads;
    std::atomic<MSGWORD> hThreadReader{0};
    EVENTSEM ConnectEvent;
    EVENTSEM ReaderDone;
    std::mutex RepliesLock;
    std::map<uint32_t, REPLYSLOT*> Replies; // the calls that wait, by id
    bool LinkUp = false;                    // under RepliesLock
    std::mutex WriteLock;                   // one frame at a time on the link
};
