// The pindrel bundle: the ANSI emulation (ids 1 and 8), the VT engine in
// the ANSI.SYS and BBS dialect.
#include "outside/corvane/vtemulation.h"

#include "plugins/sdk/subsysapi.h"

QOR_PLUGIN_ENTRY int PINDREL_Intro(int version, char* names, int* ids)
{
    if (version != SS_INTERFACEVERSION || !names || !ids)
        return 0;
    return vt::IntroduceDialects(vt::PindrelDialects, vt::PindrelDialectCount, names, ids);
}

QOR_PLUGIN_ENTRY QORSUBSYSTEM* PINDREL_Initialize(SUBSYSINITDATA const& init, int sub)
{
    if (sub < 0 || sub >= vt::PindrelDialectCount)
        return nullptr;
    return new VTEMULATION(init, vt::PindrelDialects[sub]);
}
