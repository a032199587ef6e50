// COMMWRITER: the write side of the communication layer. What the session
// sends (typed keys, the emulation's answers, texts) is queued and handed
// to the device by a thread of its own, so that a host that does not read
// (a program that floods requests for answers, a stopped program) never
// holds up the main thread, however long the device's Write waits.
//
// The queue holds at most LIMIT bytes. The main thread never waits for
// room: a write that does not fit is dropped whole (and counted), as a
// host that reads nothing would never see it anyway. Other threads (a file
// transfer's) wait for room, so they are paced by the host as before.
// When the far end hangs up, what waits is dropped (Drop).
//
// The thread and the queue live in a shared record: a device whose Write
// never returns keeps only that record alive, like the reader thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class QORDEVICE;

class COMMWRITER {
public:
    static constexpr size_t LIMIT = 1 << 20;
    // What one call of the device's Write gets at most.
    static constexpr size_t CHUNK = 4096;

    COMMWRITER() = default;
    ~COMMWRITER();
    COMMWRITER(COMMWRITER const&) = delete;
    COMMWRITER& operator=(COMMWRITER const&) = delete;

    // Starts the thread for an opened device; false when it cannot run
    // (the bytes then go to the device at once, as they come).
    bool Start(QORDEVICE* device);
    // Ends the thread once the device's Close has released a Write that
    // waits; false when it did not end within ms (it is given up and must
    // find its device alive when its Write returns).
    bool Stop(int ms);
    bool Running() const { return State != nullptr; }

    // Queues bytes. `wait`: wait for room (not on the main thread);
    // false when they were dropped.
    bool Put(char const* data, size_t len, bool wait);
    // Forgets the bytes that wait (the far end hung up).
    void Drop();
    // Bytes queued and not yet handed to the device.
    size_t Pending();
    // Bytes dropped since the start.
    uint64_t Dropped();
    // Waits until every queued byte went to the device (ms at most).
    bool WaitWritten(int ms);

private:
    struct STATE {
        std::mutex Lock;
        std::condition_variable Changed;
        std::string Queue;
        size_t Head = 0; // the bytes before it are written
        bool Writing = false;
        bool Stop = false;
        bool Ended = false;
        uint64_t Dropped = 0;
        QORDEVICE* Device = nullptr;
        size_t Waiting() const { return Queue.size() - Head; }
    };
    static void Run(std::shared_ptr<STATE> state);

    std::shared_ptr<STATE> State;
    std::thread Thread;
};
