// The corvane bundle: the VT family (emulations 2 VT102, 3 VT220, 5 VT100,
// 18 xterm, and 4, 13 to 15 and 19 as the nearest of them).
#include "outside/corvane/vtemulation.h"

#include "plugins/sdk/subsysapi.h"

QOR_PLUGIN_ENTRY int CORVANE_Intro(int version, char* names, int* ids)
{
    return vt::IntroduceBundle(version, vt::CorvaneDialects, vt::CorvaneDialectCount, names, ids);
}

QOR_PLUGIN_ENTRY QORSUBSYSTEM* CORVANE_Initialize(SUBSYSINITDATA const& init, int sub)
{
    vt::DIALECT const* dialect = vt::DialectOf(vt::CorvaneDialects, vt::CorvaneDialectCount, sub);
    return dialect ? new VTEMULATION(init, *dialect) : nullptr;
}
