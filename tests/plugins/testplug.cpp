// A device plug-in for the host's tests. It answers through the fall-back
// entry points dev_Intro and dev_Initialize, so it can be laid out under any
// module file name. What it answers is chosen by the environment variable
// QOR_TESTPLUG:
//   "seed:<n>"         the answer of introanswers::Write for seed n
//   "fault:<f>:<n>"    the same with fault f forced
//   "two"              two sub-modules, "Alpha" (id 2) and "Beta" (id 6)
//   "throw"            Intro throws
//   "modem"            one sub-module "Serial/Modem" with id 1, whose Open
//                      fails with 5
//   "openfails"        one sub-module "Test Device" with id 2, whose Open
//                      fails with 5
//   anything else      one sub-module "Test Device" with id 2
// Its devices count their Reset calls (device command "RESETS").
#include "plugins/sdk/qorsubsystem.h"
#include "plugins/sdk/subsysapi.h"
#include "tests/plugins/introanswers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

std::string Mode()
{
    char const* m = getenv("QOR_TESTPLUG");
    return m ? m : "";
}

bool ParseSeed(std::string const& mode, unsigned* seed, int* forced)
{
    *forced = -1;
    if (sscanf(mode.c_str(), "seed:%u", seed) == 1)
        return true;
    return sscanf(mode.c_str(), "fault:%d:%u", forced, seed) == 2;
}

class TESTDEVICE final : public QORDEVICE {
public:
    TESTDEVICE(SUBSYSINITDATA const& init, int sub)
        : QORDEVICE(init), Sub(sub), OpenResult(Mode() == "modem" || Mode() == "openfails" ? 5 : 0)
    {
    }
    int SetParm(char const* parm) override
    {
        snprintf(Parm, sizeof Parm, "%s", parm ? parm : "");
        return 1;
    }
    char* QueryParm(char* buf, int max) override
    {
        snprintf(buf, static_cast<size_t>(max), "%s", Parm);
        return buf;
    }
    char* QueryStdParm(char* buf) override
    {
        snprintf(buf, 128, "[%d]std", Sub == 0 ? 2 : 6);
        return buf;
    }
    char* QueryStatus(char* buf) override
    {
        snprintf(buf, 256, "test %d", Sub);
        return buf;
    }
    signed char Open(char const*) override { return static_cast<signed char>(OpenResult); }
    signed char Reset(signed char) override
    {
        ++Resets;
        return 1;
    }
    int HandleDeviceCommand(char const* cmd, char* result, int max, void*) override
    {
        if (!cmd || strcmp(cmd, "RESETS") != 0)
            return 0;
        snprintf(result, static_cast<size_t>(max), "%d", Resets);
        return 1;
    }
    void Close() override {}
    int NumAvail() override { return 0; }
    int QueryOnline() override { return 0; }
    int Write(char const*, long) override { return 0; }
    signed char Read(char*, unsigned long* len) override
    {
        *len = 0;
        return 1;
    }

private:
    int Sub;
    int OpenResult;
    int Resets = 0;
    char Parm[256] = {};
};

} // namespace

QOR_PLUGIN_ENTRY int dev_Intro(int version, char* names, int* ids)
{
    if (version != SS_INTERFACEVERSION)
        return 0;
    std::string mode = Mode();
    unsigned seed = 0;
    int forced = -1;
    if (ParseSeed(mode, &seed, &forced))
        return introanswers::Write(seed, forced, names, ids, nullptr);
    if (mode == "throw")
        throw std::runtime_error("Intro fails");
    if (mode == "modem") {
        memcpy(names, "Serial/Modem", 13);
        ids[0] = 1;
        return 1;
    }
    if (mode == "two") {
        memcpy(names, "Alpha\0Beta", 11);
        ids[0] = 2;
        ids[1] = 6;
        return 2;
    }
    memcpy(names, "Test Device", 12);
    ids[0] = 2;
    return 1;
}

QOR_PLUGIN_ENTRY QORSUBSYSTEM* dev_Initialize(SUBSYSINITDATA const& init, int sub)
{
    unsigned seed = 0;
    int forced = -1;
    if (ParseSeed(Mode(), &seed, &forced)) {
        introanswers::PLAN plan;
        introanswers::Write(seed, forced, nullptr, nullptr, &plan);
        if (plan.fault == introanswers::NullObject)
            return nullptr;
    }
    return new TESTDEVICE(init, sub);
}
