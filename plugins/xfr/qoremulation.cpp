// Base bodies of the emulation plug-in object, compiled into every plug-in
// bundle like the other base classes.
#include "plugins/sdk/qorsubsystem.h"

#include <cwchar>

unsigned long QOREMULATION::GetFlags(unsigned long mask)
{
    return mask & EmulationFlags;
}

int QOREMULATION::GetCursorPos(int*, int*)
{
    return 0;
}

int QOREMULATION::AdjustScreenSize(int*, int*)
{
    return 0;
}

int QOREMULATION::QueryEmulationKeys(char** keys, int)
{
    if (keys)
        *keys = nullptr;
    return 0;
}

int QOREMULATION::SyncCursorPos()
{
    return 0;
}

int QOREMULATION::QueryWinSize(int*, int*)
{
    return 0;
}

int QOREMULATION::SetWinSize(int, int)
{
    return 0;
}

int QOREMULATION::FeedSymbolicKey(char const*)
{
    return 0;
}

int QOREMULATION::InfoOut(wchar_t const* text)
{
    return text ? conputs(text, static_cast<long>(wcslen(text))) : 0;
}

int QOREMULATION::FeedKeyString(wchar_t const*, int)
{
    return 0;
}

int QOREMULATION::QueryEnvironment(char*, int, char const*)
{
    return 0;
}

int QOREMULATION::HandleTerminalEvent(int)
{
    return 0;
}

int QOREMULATION::HandleMouseEvent(int, int, int, int)
{
    return 0;
}

int QOREMULATION::HandleCustomEvent(char const*, char*, int, void*)
{
    return 0;
}

int QOREMULATION::SequenceRun(int* state, char const* text, int len)
{
    if (!state || !text || len <= 0)
        return 0;
    bool const sequence = IsSequence(state, text[0]) != 0;
    int n = 1;
    while (n < len) {
        // A character is only looked at on a copy of the state: one whose
        // answer differs belongs to the next run.
        int next = *state;
        if ((IsSequence(&next, text[n]) != 0) != sequence)
            break;
        *state = next;
        ++n;
    }
    return sequence ? -n : n;
}
