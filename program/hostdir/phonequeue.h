// PHONEQUEUE: a session's dial queue, the host entries it is to dial in
// order, each with its dial option and the two counters the dialling keeps
// (the time of its last call and the number of tries).
//
// A fixed block: 128 slots of four 32-bit words (first counter, second
// counter, handle, option) and the count. Queued entries occupy slots 0 to
// count - 1; the slots behind them are zero; at most 127 are queued.
//
// Main thread only; no lock.
#pragma once

#include <cstdint>

class PHONEQUEUE {
public:
    static constexpr int SLOTS = 128;
    static constexpr int MAXQUEUED = SLOTS - 1;

    struct SLOT {
        int32_t Counter1;
        int32_t Counter2;
        int32_t Handle;
        int32_t Option;
    };

    PHONEQUEUE() { Clear(); }
    void Clear();
    // Appends the entry with both counters 0. A handle that is not
    // positive, one already queued, or a full queue are refused (logged,
    // false): users cause them.
    bool AddEntry(int handle, int option);
    // Removes the entry; the ones behind it move up and the freed last slot
    // is zeroed. A handle that is not queued changes nothing (logged when
    // mustFind is set); false then.
    bool DeleteEntry(int handle, int mustFind);
    int GetCount() const;
    int GetFirst() const;
    // The handle after the given one; -1 gives the first; -1 when it is the
    // last or not queued.
    int GetNext(int handle) const;
    int GetOption(int handle) const;
    bool IsQueued(int handle) const;
    // The slot of the queued entry, for the dialling to read and update.
    SLOT* GetData(int handle);
    void ClearCounters();
    SLOT const& Slot(int i) const { return Slots[i]; }

private:
    int IndexOf(int handle) const;

    SLOT Slots[SLOTS];
    int32_t DialQueueCnt = 0;
};
