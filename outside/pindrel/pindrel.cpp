// The pindrel bundle: the ANSI emulation (ids 1 and 8), the VT engine in
// the ANSI.SYS and BBS dialect.
#include "outside/corvane/vtemulation.h"

#include "plugins/sdk/subsysapi.h"

QOR_PLUGIN_ENTRY int PINDREL_Intro(int version, char* names, int* ids)
{
    return vt::IntroduceBundle(version, vt::PindrelDialects, vt::PindrelDialectCount, names, ids);
}

QOR_PLUGIN_ENTRY QORSUBSYSTEM* PINDREL_Initialize(SUBSYSINITDATA const& init, int sub)
{
    vt::DIALECT const* dialect = vt::DialectOf(vt::PindrelDialects, vt::PindrelDialectCount, sub);
    return dialect ? new VTEMULATION(init, *dialect) : nullptr;
}
