// Base bodies of the communication device object: the optional operations
// of a device answer "nothing done". Compiled into every plug-in bundle.
#include "plugins/sdk/qorsubsystem.h"

#include "plugins/sdk/emulationapi.h"
#include "plugins/sdk/qorpublic.h"

int QORDEVICE::QuerySpeed()
{
    return 0;
}

void QORDEVICE::StatusText(char* buf)
{
    if (buf)
        buf[0] = '\0';
}

int QORDEVICE::SendBreak()
{
    return 0;
}

signed char QORDEVICE::Connect(char const*)
{
    return 0;
}

signed char QORDEVICE::Reset(signed char)
{
    return 0;
}

signed char QORDEVICE::Disconnect()
{
    return 0;
}

signed char QORDEVICE::AcceptCalls(signed char)
{
    return 0;
}

signed char QORDEVICE::PrepareForFileTransfer(signed char)
{
    return 0;
}

signed char QORDEVICE::CleanupAfterFileTransfer(signed char)
{
    return 0;
}

int QORDEVICE::ProcessKey(KEYBOARDEVENT const&)
{
    return 0;
}

signed char QORDEVICE::HandleTimerEvent()
{
    return 0;
}

int QORDEVICE::HandleDeviceCommand(char const*, char*, int, void*)
{
    return 0;
}

signed char QORDEVICE::AbortConnect()
{
    return 0;
}

signed char QORDEVICE::CanAccept()
{
    return 0;
}

signed char QORDEVICE::TrackChanges()
{
    return 0;
}

std::string QORDEVICE::TerminalName(char const* fallback)
{
    EMULATIONAPI* emu = Public ? Public->Emulation : nullptr;
    if (emu && emu->UpAndRunning()) {
        char name[256] = {};
        emu->QueryUnixName(0, name);
        name[sizeof name - 1] = '\0';
        if (name[0])
            return name;
    }
    return fallback ? fallback : "";
}

void QORDEVICE::WindowSize(int* cols, int* rows)
{
    *cols = 80;
    *rows = 24;
    EMULATIONAPI* emu = Public ? Public->Emulation : nullptr;
    int c = 0, r = 0;
    if (emu)
        emu->QueryWinSize(&c, &r);
    if (c > 0 && r > 0) {
        *cols = c;
        *rows = r;
    }
}
