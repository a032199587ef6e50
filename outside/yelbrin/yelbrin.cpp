// The yelbrin bundle: emulation 0 "TTY".
#include "outside/yelbrin/tty.h"

#include "plugins/sdk/subsysapi.h"

#include <cstring>

QOR_PLUGIN_ENTRY int YELBRIN_Intro(int version, char* names, int* ids)
{
    if (version != SS_INTERFACEVERSION || !names || !ids)
        return 0;
    static char const text[] = "TTY";
    memcpy(names, text, sizeof text);
    ids[0] = 0;
    return 1;
}

QOR_PLUGIN_ENTRY QORSUBSYSTEM* YELBRIN_Initialize(SUBSYSINITDATA const& init, int sub)
{
    return sub == 0 ? new TTY(init) : nullptr;
}
