#include "program/session/sessionhost.h"

#include "platform/services/spawn.h"
#include "velmot/core/logit.h"

bool SESSIONHOST::StartProgram(std::vector<std::string> const& argv)
{
    if (argv.empty())
        return false;
    pid_t pid = plat::SpawnProgram(argv, {}, true);
    LOGIT("SESSIONHOST::StartProgram %s: %d\n", argv[0].c_str(), static_cast<int>(pid));
    if (pid < 0)
        return false;
    plat::ReapLater(pid);
    return true;
}

bool SESSIONHOST::OpenDocument(char const* target)
{
    return target && *target && *target != '-' && plat::OpenDocument(target);
}
