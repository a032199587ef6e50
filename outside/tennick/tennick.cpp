// The tennick bundle: communication devices 11 "Local Shell" (a program on a
// pseudo terminal) and 5 "Loopback" (a device for tests). Device 4 of this
// bundle's module-table row is not offered.
#include "outside/tennick/localshell.h"
#include "outside/tennick/loopback.h"

#include "plugins/sdk/subsysapi.h"

#include <cstring>

QOR_PLUGIN_ENTRY int TENNICK_Intro(int version, char* names, int* ids)
{
    if (version != SS_INTERFACEVERSION || !names || !ids)
        return 0;
    static char const text[] = "Local Shell\0Loopback";
    memcpy(names, text, sizeof text);
    ids[0] = 11;
    ids[1] = 5;
    return 2;
}

QOR_PLUGIN_ENTRY QORSUBSYSTEM* TENNICK_Initialize(SUBSYSINITDATA const& init, int sub)
{
    switch (sub) {
    case 0:
        return new LOCALSHELL(init, 11);
    case 1:
        return new LOOPBACK(init, 5);
    default:
        return nullptr;
    }
}
