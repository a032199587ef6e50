// The welkam bundle: communication device 9, "Secure Shell" (SSH through
// the system's OpenSSH client and the helper vindle).
#include "outside/welkam/sshdevice.h"

#include "plugins/sdk/subsysapi.h"

#include <cstring>

QOR_PLUGIN_ENTRY int WELKAM_Intro(int version, char* names, int* ids)
{
    if (version != SS_INTERFACEVERSION || !names || !ids)
        return 0;
    static char const text[] = "Secure Shell";
    memcpy(names, text, sizeof text);
    ids[0] = 9;
    return 1;
}

QOR_PLUGIN_ENTRY QORSUBSYSTEM* WELKAM_Initialize(SUBSYSINITDATA const& init, int sub)
{
    return sub == 0 ? new welkam::SSHDEVICE(init) : nullptr;
}
