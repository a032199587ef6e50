// The session as plug-ins may call it: its event operations. A plug-in
// reaches it through QORPUBLIC's session member. Slot order is declaration
// order; new operations are only ever appended.
#pragma once

class SESSIONAPI {
public:
    virtual ~SESSIONAPI() = default;                                       // 0, 1
    // Runs a session event (1 to 32766) on the main thread and waits for it.
    virtual int SendEvent(int event, short arg, char const* text) = 0;     // 2
    // Queues a session event for the main thread; callable from any thread.
    virtual int PostEvent(int event, short arg, char const* text) = 0;     // 3
    // Whether the event's menu command is available now.
    virtual int CondEvent(int event) = 0;                                  // 4
    // Shows a notice over the session; callable from any thread.
    virtual void Notify(char const* text, int flags) = 0;                  // 5
};
