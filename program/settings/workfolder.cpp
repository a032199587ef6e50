// The process-wide program and resource folders.
#include "program/settings/workfolder.h"

#include "platform/services/folders.h"

#include <mutex>
#include <string>

namespace {

std::mutex gFolderLock;
std::string gHome;
std::string gResources;

} // namespace

STRING SettingsHomePath()
{
    std::lock_guard<std::mutex> guard(gFolderLock);
    if (gHome.empty())
        return STRING((plat::StageRoot() + "/bin").c_str());
    return STRING(gHome.c_str());
}

void SetSettingsHomePath(char const* path)
{
    std::lock_guard<std::mutex> guard(gFolderLock);
    gHome = path ? path : "";
}

STRING SettingsResourcePath()
{
    std::lock_guard<std::mutex> guard(gFolderLock);
    if (gResources.empty())
        return STRING(plat::ResourcesFolder().c_str());
    return STRING(gResources.c_str());
}

void SetSettingsResourcePath(char const* path)
{
    std::lock_guard<std::mutex> guard(gFolderLock);
    gResources = path ? path : "";
}
