// The sarvoth bundle: communication devices 3 "Telnet" and 10 "Telnet/SSL"
// (Telnet in TLS).
#include "outside/sarvoth/telnetdevice.h"

#include "plugins/sdk/subsysapi.h"

#include <cstring>

QOR_PLUGIN_ENTRY int SARVOTH_Intro(int version, char* names, int* ids)
{
    if (version != SS_INTERFACEVERSION || !names || !ids)
        return 0;
    static char const text[] = "Telnet\0Telnet/SSL";
    memcpy(names, text, sizeof text);
    ids[0] = 3;
    ids[1] = 10;
    return 2;
}

QOR_PLUGIN_ENTRY QORSUBSYSTEM* SARVOTH_Initialize(SUBSYSINITDATA const& init, int sub)
{
    switch (sub) {
    case 0:
        return new sarvoth::TELNETDEVICE(init, 3);
    case 1:
        return new sarvoth::TELNETDEVICE(init, 10);
    default:
        return nullptr;
    }
}
