// The process-wide work, program and resource folders.
#include "program/settings/workfolder.h"

#include "platform/services/folders.h"

#include <mutex>
#include <string>

namespace {

std::mutex gFolderLock;
std::string gWork;
std::string gHome;
std::string gResources;

} // namespace

STRING SettingsWorkPath()
{
    std::lock_guard<std::mutex> guard(gFolderLock);
    return STRING(gWork.c_str());
}

void SetSettingsWorkPath(char const* path)
{
    std::lock_guard<std::mutex> guard(gFolderLock);
    gWork = path ? path : "";
}

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
