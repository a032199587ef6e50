#include "program/session/commwriter.h"

#include "plugins/sdk/qorsubsystem.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"

#include <algorithm>
#include <chrono>

COMMWRITER::~COMMWRITER()
{
    Stop(0);
}

bool COMMWRITER::Start(QORDEVICE* device)
{
    Stop(0);
    if (!device)
        return false;
    auto state = std::make_shared<STATE>();
    state->Device = device;
    try {
        Thread = std::thread(&COMMWRITER::Run, state);
    } catch (std::exception const&) {
        LOGIT("COMMWRITER::Start: no thread; writes go to the device at once\n");
        return false;
    }
    State = std::move(state);
    return true;
}

bool COMMWRITER::Stop(int ms)
{
    if (!State)
        return true;
    std::shared_ptr<STATE> state = std::move(State);
    bool ended;
    {
        std::unique_lock<std::mutex> lock(state->Lock);
        state->Stop = true;
        state->Changed.notify_all();
        ended = state->Changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return state->Ended; });
    }
    if (ended) {
        Thread.join();
        return true;
    }
    // The device's Write does not return: the thread keeps its record and
    // ends when it does.
    LOGIT("COMMWRITER::Stop: the device's Write did not return; the writer thread is given up\n");
    Thread.detach();
    return false;
}

bool COMMWRITER::Put(char const* data, size_t len, bool wait)
{
    if (!State || !data || len == 0)
        return false;
    // A write longer than the queue can take goes in pieces as room comes.
    if (wait && len > LIMIT) {
        for (size_t done = 0; done < len; done += LIMIT)
            if (!Put(data + done, std::min(LIMIT, len - done), true))
                return false;
        return true;
    }
    STATE& s = *State;
    std::unique_lock<std::mutex> lock(s.Lock);
    if (s.Waiting() + len > LIMIT) {
        // A waiting thread ends with the device.
        if (!wait || len > LIMIT ||
            !s.Changed.wait_for(lock, std::chrono::seconds(60),
                                [&] { return s.Stop || s.Waiting() + len <= LIMIT; }) ||
            s.Stop) {
            if (s.Dropped == 0 || !wait)
                LOGIT("COMMWRITER::Put: the host reads nothing; %zu bytes dropped (%zu wait)\n", len,
                      s.Waiting());
            s.Dropped += len;
            return false;
        }
    }
    // Written bytes are cut off the front before the queue grows.
    if (s.Head > 0 && s.Head >= s.Queue.size() / 2) {
        s.Queue.erase(0, s.Head);
        s.Head = 0;
    }
    s.Queue.append(data, len);
    s.Changed.notify_all();
    return true;
}

void COMMWRITER::Drop()
{
    if (!State)
        return;
    std::lock_guard<std::mutex> lock(State->Lock);
    if (State->Waiting() > 0)
        LOGIT("COMMWRITER::Drop %zu bytes\n", State->Waiting());
    State->Dropped += State->Waiting();
    State->Queue.clear();
    State->Head = 0;
    State->Changed.notify_all();
}

size_t COMMWRITER::Pending()
{
    if (!State)
        return 0;
    std::lock_guard<std::mutex> lock(State->Lock);
    return State->Waiting();
}

uint64_t COMMWRITER::Dropped()
{
    if (!State)
        return 0;
    std::lock_guard<std::mutex> lock(State->Lock);
    return State->Dropped;
}

bool COMMWRITER::WaitWritten(int ms)
{
    if (!State)
        return true;
    STATE& s = *State;
    std::unique_lock<std::mutex> lock(s.Lock);
    return s.Changed.wait_for(lock, std::chrono::milliseconds(ms),
                              [&] { return s.Stop || (s.Waiting() == 0 && !s.Writing); });
}

void COMMWRITER::Run(std::shared_ptr<STATE> state)
{
    OSYS::InitThread();
    STATE& s = *state;
    std::unique_lock<std::mutex> lock(s.Lock);
    for (;;) {
        s.Changed.wait(lock, [&] { return s.Stop || s.Waiting() > 0; });
        if (s.Stop)
            break;
        size_t const n = std::min(s.Waiting(), CHUNK);
        std::string chunk = s.Queue.substr(s.Head, n);
        s.Head += n;
        if (s.Head == s.Queue.size()) {
            s.Queue.clear();
            s.Head = 0;
        }
        s.Writing = true;
        lock.unlock();
        s.Device->Write(chunk.data(), static_cast<long>(chunk.size()));
        lock.lock();
        s.Writing = false;
        s.Changed.notify_all();
    }
    s.Ended = true;
    s.Changed.notify_all();
}
