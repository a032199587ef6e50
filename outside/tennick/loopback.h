// Device 5, "Loopback": a device for tests. Bytes written to it are kept and
// can be echoed back; bytes to receive come from the test through the other
// end of a socket pair or through device commands; its online state is set
// by command.
//
// Device commands (answers in the result buffer):
//   "LOOPBACK FD"       the descriptor of the test's end of the socket pair
//   "INJECT <text>"     <text> arrives as received data
//   "ECHO 1" / "ECHO 0" written bytes come back as received data, or not
//   "ONLINE <n>"        QueryOnline answers n from now on
//   "SENT"              the bytes written so far (cut to the buffer)
//   "SENTCOUNT"         how many bytes were written so far
//   "READS"             how many times Read was called
//   "IGNORECLOSE 1"     Read no longer wakes for Close (a broken device)
//   "HANGUP"            closes the test's end: the stream ends
//   "CALLS"             the device operations the host called since the
//                       last "CALLS" ("break;reset 0;..."), then forgets them
//   "ANSWER <n>"        what those operations answer from now on (0, as
//                       a device that does nothing, until set); Connect
//                       and Disconnect always answer 1
//   "CALLINFO..."       "OK"
// A parameter string "[5]echo" opens with the echo on.
#pragma once

#include "outside/tennick/tennickdevice.h"

#include <atomic>
#include <mutex>
#include <string>

class LOOPBACK final : public TENNICKDEVICE {
public:
    LOOPBACK(SUBSYSINITDATA const& init, int id);
    ~LOOPBACK() override;

    signed char Open(char const* parm) override;
    void Close() override;
    int QueryOnline() override;
    void StatusText(char* buf) override;
    int Write(char const* data, long len) override;
    signed char Read(char* buf, unsigned long* len) override;
    signed char Connect(char const* target) override;
    signed char Disconnect() override;
    int HandleDeviceCommand(char const* cmd, char* result, int max, void* data) override;
    int HandleMenuEvent(int id, char const* text) override;
    int SendBreak() override;
    signed char Reset(signed char flag) override;
    signed char AcceptCalls(signed char on) override;
    signed char PrepareForFileTransfer(signed char mode) override;
    signed char CleanupAfterFileTransfer(signed char mode) override;
    int ProcessKey(KEYBOARDEVENT const& event) override;
    signed char HandleTimerEvent() override;
    signed char AbortConnect() override;
    signed char CanAccept() override;
    signed char TrackChanges() override;

private:
    void Called(std::string const& what);

    std::mutex Lock; // guards Peer, Sent, Calls
    int Peer = -1;   // the test's end
    std::string Sent;
    std::string Calls;
    unsigned long long SentCount = 0;
    std::atomic<bool> Echo{false};
    std::atomic<int> Online{0};
    std::atomic<unsigned long long> Reads{0};
    std::atomic<bool> IgnoreClose{false};
    std::atomic<int> Answer{0};
};
