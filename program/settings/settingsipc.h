// Notices between the running instances of the program: the text
// "QORIPC <pid> <msg> <mp1> <mp2>" (decimal process id, three numbers of
// eight hexadecimal digits) over the library's broadcast. The high half of
// mp1 names the receiver (0x20000: the program settings), the low half is
// its event code.
//
// A main window owns one SETTINGSIPC until the scripting layer's IPC,
// which speaks the same text, takes its place. Notices of the own process
// are dropped; the others reach the receiver on the main thread.
#pragma once

#include "velmot/core/ipcbroadcast.h"
#include "velmot/core/strings.h"

#include <cstdint>
#include <functional>

class SETTINGSIPC : private IPCBROADCAST {
public:
    using RECEIVER = std::function<void(uint32_t msg, uint32_t mp1, uint32_t mp2)>;

    explicit SETTINGSIPC(RECEIVER receiver);
    ~SETTINGSIPC() override;

    // Sends a notice to every other instance; fire and forget.
    void SendMessage(uint32_t msg, uint32_t mp1, uint32_t mp2);
    bool IsListening() const { return IPCBROADCAST::IsListening(); }

    static STRING FormatNotice(long pid, uint32_t msg, uint32_t mp1, uint32_t mp2);
    // False for a text that is not a whole notice.
    static bool ParseNotice(char const* text, long* pid, uint32_t* msg, uint32_t* mp1, uint32_t* mp2);

private:
    void IpcNotificationCallback(char const* text) override;

    RECEIVER Receiver;
};
