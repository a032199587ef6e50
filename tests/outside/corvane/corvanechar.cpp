// The VT family as a bundle from before the received-data road took runs:
// it reports no EMUFLAG_SEQUENCERUN, so the host asks IsSequence one
// character at a time. Tests lay it out under the real bundle's name
// (corvane.so) to compare the two roads.
#include "outside/corvane/vtemulation.h"

#include "plugins/sdk/emulationapi.h"
#include "plugins/sdk/subsysapi.h"

namespace {

class CHARCHECKED final : public VTEMULATION {
public:
    using VTEMULATION::VTEMULATION;
    unsigned long GetFlags(unsigned long mask) override
    {
        return VTEMULATION::GetFlags(mask) & ~static_cast<unsigned long>(EMUFLAG_SEQUENCERUN);
    }
};

} // namespace

QOR_PLUGIN_ENTRY int CORVANE_Intro(int version, char* names, int* ids)
{
    return vt::IntroduceBundle(version, vt::CorvaneDialects, vt::CorvaneDialectCount, names, ids);
}

QOR_PLUGIN_ENTRY QORSUBSYSTEM* CORVANE_Initialize(SUBSYSINITDATA const& init, int sub)
{
    vt::DIALECT const* dialect = vt::DialectOf(vt::CorvaneDialects, vt::CorvaneDialectCount, sub);
    return dialect ? new CHARCHECKED(init, *dialect) : nullptr;
}
