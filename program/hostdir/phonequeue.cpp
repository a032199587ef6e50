// PHONEQUEUE: the dial queue of a session.
#include "program/hostdir/phonequeue.h"

#include "velmot/core/logit.h"

#include <cstring>

void PHONEQUEUE::Clear()
{
    memset(Slots, 0, sizeof Slots);
    DialQueueCnt = 0;
}

int PHONEQUEUE::IndexOf(int handle) const
{
    for (int i = 0; i < DialQueueCnt; ++i)
        if (Slots[i].Handle == handle)
            return i;
    return -1;
}

bool PHONEQUEUE::AddEntry(int handle, int option)
{
    LOGIT("PHONEQUEUE::Add %d\n", handle);
    if (handle <= 0) {
        LOGIT("PHONEQUEUE::Add refuses the handle %d\n", handle);
        return false;
    }
    if (IndexOf(handle) >= 0 || DialQueueCnt >= MAXQUEUED) {
        LOGIT("PHONEQUEUE::Add %d refused: DialQueue full or entry queued (%d)\n", handle, DialQueueCnt);
        return false;
    }
    Slots[DialQueueCnt] = SLOT{0, 0, handle, option};
    ++DialQueueCnt;
    return true;
}

bool PHONEQUEUE::DeleteEntry(int handle, int mustFind)
{
    int const i = handle > 0 ? IndexOf(handle) : -1;
    LOGIT("PHONEQUEUE::Delete %d %d\n", handle, i);
    if (i < 0) {
        if (mustFind)
            LOGIT("PHONEQUEUE::Delete %d: not queued\n", handle);
        return false;
    }
    memmove(&Slots[i], &Slots[i + 1], static_cast<size_t>(DialQueueCnt - i - 1) * sizeof(SLOT));
    --DialQueueCnt;
    memset(&Slots[DialQueueCnt], 0, sizeof(SLOT));
    return true;
}

int PHONEQUEUE::GetCount() const
{
    LOGIT("PHONEQUEUE::Count %d\n", DialQueueCnt);
    return DialQueueCnt;
}

int PHONEQUEUE::GetFirst() const
{
    int const handle = DialQueueCnt > 0 ? Slots[0].Handle : -1;
    LOGIT("PHONEQUEUE::GetFirst %d\n", handle);
    return handle;
}

int PHONEQUEUE::GetNext(int handle) const
{
    if (handle == -1)
        return GetFirst();
    int const i = IndexOf(handle);
    int const next = i >= 0 && i + 1 < DialQueueCnt ? Slots[i + 1].Handle : -1;
    LOGIT("PHONEQUEUE::GetNext %d\n", next);
    return next;
}

int PHONEQUEUE::GetOption(int handle) const
{
    int const i = IndexOf(handle);
    int const option = i >= 0 ? Slots[i].Option : -1;
    LOGIT("PHONEQUEUE::GetOption %d %d\n", handle, option);
    return option;
}

bool PHONEQUEUE::IsQueued(int handle) const
{
    bool const queued = IndexOf(handle) >= 0;
    LOGIT("PHONEQUEUE::IsQueued %d %d\n", handle, queued);
    return queued;
}

PHONEQUEUE::SLOT* PHONEQUEUE::GetData(int handle)
{
    int const i = IndexOf(handle);
    return i >= 0 ? &Slots[i] : nullptr;
}

void PHONEQUEUE::ClearCounters()
{
    for (int i = 0; i < DialQueueCnt; ++i) {
        Slots[i].Counter1 = 0;
        Slots[i].Counter2 = 0;
    }
}
