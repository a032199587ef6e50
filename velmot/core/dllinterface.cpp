// DLLINTERFACE: plug-in bundles over the platform's bundle loader.
#include "velmot/core/dllinterface.h"

#include "velmot/core/logit.h"
#include "platform/services/bundle.h"
#include "platform/services/folders.h"

#include <cstdio>
#include <dirent.h>
#include <strings.h>
#include <cstring>
#include <string>

namespace {

// The file-name part of a path in either style.
std::string FilePart(char const* file)
{
    std::string path = file;
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The name of the entry of folder that equals file without regard to case
// (the first one in the folder's order), or nothing.
std::string FileWithoutCase(std::string const& folder, std::string const& file)
{
    if (file.empty() || file.find('/') != std::string::npos)
        return std::string();
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return std::string();
    std::string found;
    while (dirent* e = readdir(dir)) {
        if (strcasecmp(e->d_name, file.c_str()) == 0) {
            found = e->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

void CopyCut(char* field, size_t size, char const* text)
{
    snprintf(field, size, "%s", text ? text : "");
}

} // namespace

DLLINTERFACE::DLLINTERFACE(char const* file, char const* function) : hDll(std::make_unique<plat::Bundle>())
{
    LOGIT("DLLINTERFACE::DLLINTERFACE\n");
    if (file)
        Load(file, function);
    LOGIT("DLLINTERFACE::DLLINTERFACE done, hdll= %p\n", static_cast<void*>(IsLoaded() ? hDll.get() : nullptr));
}

DLLINTERFACE::~DLLINTERFACE()
{
    LOGIT("DLLINTERFACE::~DLLINTERFACE\n");
    Unload();
    LOGIT("DLLINTERFACE::~DLLINTERFACE\n");
}

bool DLLINTERFACE::IsLoaded() const
{
    return hDll->IsLoaded();
}

bool DLLINTERFACE::Load(char const* file, char const* function)
{
    if (!file)
        return false;
    std::string name = FilePart(file);
    std::string used = plat::BundleFileName(name);
    LOGIT("DLLINTERFACE::Load %s (%s) %s\n", file, used.c_str(), function ? function : "<NULL>");
    bool loaded = hDll->Load(name);
    if (!loaded) {
        // Module names come from a file system that ignores case
        // ("PELTRA.DLL" for peltra.so); the plug-in folder is searched
        // without regard to case when the exact name is not there.
        std::string other = FileWithoutCase(plat::PlugInsFolder(), used);
        if (!other.empty() && other != used)
            loaded = hDll->Load(other);
    }
    if (!loaded) {
        // The bundle held before, if any, stays; but this load failed, and
        // saying otherwise would let the caller use the old bundle's
        // functions as if they were the new one's.
        LOGIT("DLLINTERFACE::Load %s failed: %s\n", used.c_str(), hDll->Error().c_str());
        LOGIT("DLLINTERFACE::Load returns %d\n", 0);
        return false;
    }
    CopyCut(Module, sizeof Module, hDll->FileName().c_str());
    bool rc = true;
    if (function) {
        CopyCut(FunctionName, sizeof FunctionName, function);
        DefaultFunction = hDll->Function(FunctionName);
        rc = DefaultFunction != nullptr;
    }
    LOGIT("DLLINTERFACE::Load returns %d\n", rc);
    return rc;
}

void* DLLINTERFACE::GetFunction(char const* name)
{
    if (!name)
        return DefaultFunction;
    LOGIT("DLLINTERFACE::GetFunction %s from %s\n", name, Module);
    void* rc = hDll->IsLoaded() ? hDll->Function(name) : nullptr;
    LOGIT("DLLINTERFACE::GetFunction %s for %p returns %p\n", name, static_cast<void*>(hDll.get()), rc);
    return rc;
}

void DLLINTERFACE::SetFunction(char const* name, void* function)
{
    DefaultFunction = function;
    CopyCut(FunctionName, sizeof FunctionName, name);
}

void DLLINTERFACE::Unload()
{
    LOGIT("DLLINTERFACE::Unload\n");
    DefaultFunction = nullptr;
    FunctionName[0] = '\0';
    if (hDll->IsLoaded()) {
        LOGIT("DLLINTERFACE::Unload %p %s\n", static_cast<void*>(hDll.get()), Module);
        hDll->Unload();
    }
    Module[0] = '\0';
    LOGIT("DLLINTERFACE::Unload done\n");
}
