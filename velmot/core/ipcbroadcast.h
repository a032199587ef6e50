// IPCBROADCAST: short texts sent to every running instance of the program
// (the sender included), delivered to a virtual operation that the main
// program implements.
//
// Transport (platform/services/notify.h): per-user datagram sockets in a
// private 0700 folder; the kernel tells the sender's uid with each datagram
// and texts of other users are dropped. A text is at most MAXTEXT bytes;
// longer ones are not sent. Texts arrive on the main thread, through the
// main-thread task queue (platform/services/dispatch.h). What the texts
// mean is the program's business.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

#include <memory>

namespace plat {
class NotificationListener;
}

class VELMOT_EXPORT IPCBROADCAST {
public:
    // Receives each text posted by any instance, on the main thread. The
    // derived object must be fully built before texts can arrive and must
    // not be destroyed while this runs.
    virtual void IpcNotificationCallback(char const* text) = 0;

    IPCBROADCAST();
    virtual ~IPCBROADCAST();
    IPCBROADCAST(IPCBROADCAST const&) = delete;
    IPCBROADCAST& operator=(IPCBROADCAST const&) = delete;

    // Posts a text to every running instance; a text no instance receives
    // is lost.
    void IpcPostEvent(char const* text);

    // Hands one received text to the observer's IpcNotificationCallback.
    static void IpcNotificationCallbackProc(void* observer, char const* name, size_t length);

    // Whether this instance listens (its socket could be opened).
    bool IsListening() const;

    static constexpr size_t MAXTEXT = 4096;

private:
    std::unique_ptr<plat::NotificationListener> Center;
    STRING BroadcastName;
};
