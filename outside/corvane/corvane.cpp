// The corvane bundle: the VT family (emulations 2 VT102, 3 VT220, 5 VT100,
// 18 xterm, and 4, 13 to 15 and 19 as the nearest of them).
#include "outside/corvane/vtemulation.h"

#include "plugins/sdk/subsysapi.h"

QOR_PLUGIN_ENTRY int CORVANE_Intro(int version, char* names, int* ids)
{
    if (version != SS_INTERFACEVERSION || !names || !ids)
        return 0;
    return vt::IntroduceDialects(vt::CorvaneDialects, vt::CorvaneDialectCount, names, ids);
}

QOR_PLUGIN_ENTRY QORSUBSYSTEM* CORVANE_Initialize(SUBSYSINITDATA const& init, int sub)
{
    if (sub < 0 || sub >= vt::CorvaneDialectCount)
        return nullptr;
    return new VTEMULATION(init, vt::CorvaneDialects[sub]);
}
