// The tennick bundle: communication devices 11 "Local Shell" (a program on a
// pseudo terminal), 5 "Loopback" (a device for tests) and 4 "Named Pipe" (a
// local program through a pair of FIFOs).
#include "outside/tennick/localshell.h"
#include "outside/tennick/loopback.h"
#include "outside/tennick/namedpipe.h"

#include "plugins/sdk/subsysapi.h"

#include <cstring>

QOR_PLUGIN_ENTRY int TENNICK_Intro(int version, char* names, int* ids)
{
    if (version != SS_INTERFACEVERSION || !names || !ids)
        return 0;
    static char const text[] = "Local Shell\0Loopback\0Named Pipe";
    memcpy(names, text, sizeof text);
    ids[0] = 11;
    ids[1] = 5;
    ids[2] = 4;
    return 3;
}

QOR_PLUGIN_ENTRY QORSUBSYSTEM* TENNICK_Initialize(SUBSYSINITDATA const& init, int sub)
{
    switch (sub) {
    case 0:
        return new LOCALSHELL(init, 11);
    case 1:
        return new LOOPBACK(init, 5);
    case 2:
        return new NAMEDPIPE(init, 4);
    default:
        return nullptr;
    }
}
