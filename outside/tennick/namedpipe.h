// Device 4, "Named Pipe": a local program reached through a pair of FIFOs.
//
// The target of Connect is a path: the device writes "<path>.in" and reads
// "<path>.out". Both must be FIFOs of the user that nobody else may write;
// they are opened without following links and checked again once open.
// The device greets with "CONNECT\n" and waits at most 5 seconds for the
// same greeting back; then bytes move both ways. The peer closing its end
// ends the connection (offline).
//
// Connect never blocks: the FIFOs are opened and the greetings exchanged
// on a worker thread. The outcome arrives in the received data as
// "[PIPE] CONNECT <path>\r\n" or "[PIPE] FAIL: <reason>\r\n".
#pragma once

#include "outside/tennick/tennickdevice.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class NAMEDPIPE final : public TENNICKDEVICE {
public:
    NAMEDPIPE(SUBSYSINITDATA const& init, int id);
    ~NAMEDPIPE() override;

    signed char Open(char const* parm) override;
    void Close() override;
    int QueryOnline() override;
    void StatusText(char* buf) override;
    int Write(char const* data, long len) override;
    signed char Read(char* buf, unsigned long* len) override;
    signed char Connect(char const* target) override;
    signed char Disconnect() override;
    signed char AbortConnect() override;
    int HandleDeviceCommand(char const* cmd, char* result, int max, void* data) override;

    // How long the peer has to open its end and greet.
    static constexpr int kGreetingMs = 5000;

private:
    struct ATTEMPT;
    void EndConnection();
    void Run(ATTEMPT& attempt);

    std::mutex Lock; // guards WriteFd and the write on it
    int WriteFd = -1;
    std::string Path;
    std::atomic<int> State{0}; // 0 none, 1 connecting, 2 connected, 3 ended
    std::unique_ptr<ATTEMPT> Attempt;
};
