#include "velmot/gui/winicons.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"

#include "platform/services/resources.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

ICONMAP* ICONMAP::pInstance = nullptr;

// ---------------------------------------------------------------------------
// ICON

ICON::ICON(uint32_t id, plat::WindowRef window)
{
    TARVOAPP::CheckCallerThread("ICON::ICON");
    if (id)
        Load(id);
    if (window)
        AttachToWindow(window);
}

ICON::~ICON()
{
    Destroy();
}

bool ICON::Load(uint32_t id)
{
    TARVOAPP::CheckCallerThread("ICON::Load");
    Destroy();
    fId = id;
    fIcon = ICONMAP::CopyRefFromIconId(id);
    return fIcon != nullptr;
}

bool ICON::LoadSized(uint32_t id, int, int, void*)
{
    return Load(id);
}

int ICON::AttachToWindow(plat::WindowRef window, int flags)
{
    TARVOAPP::CheckCallerThread("ICON::AttachToWindow");
    if (!fIcon || (flags & 2))
        return 0;
    if (fWindow)
        DetachFromWindow(0);
    fWindow = window;
    VERIFYSTATUS("err == 0 ", plat::SetWindowProxyIcon(window, fIcon));
    return 1;
}

int ICON::DetachFromWindow(int flags)
{
    TARVOAPP::CheckCallerThread("ICON::DetachFromWindow");
    if (!fWindow || (flags & 2))
        return 0;
    if (plat::IsWindowValid(fWindow) && plat::GetWindowProxyIcon(fWindow) == fIcon)
        plat::SetWindowProxyIcon(fWindow, nullptr);
    fWindow = nullptr;
    return 1;
}

void ICON::Destroy()
{
    if (!fIcon)
        return;
    if (fWindow)
        DetachFromWindow(0);
    plat::ReleaseIconRef(fIcon);
    fIcon = nullptr;
}

// ---------------------------------------------------------------------------
// ICONMAP

ICONMAP* ICONMAP::GetInstance()
{
    if (!pInstance) {
        pInstance = new ICONMAP;
        TARVOAPP::SetCleanupFunction(TARVOAPP::CLEANUP_ICONMAP, &ICONMAP::ReleaseInstance);
    }
    return pInstance;
}

void ICONMAP::ReleaseInstance()
{
    delete pInstance;
    pInstance = nullptr;
}

ICONMAP::ICONMAP()
{
    TARVOAPP::CheckCallerThread("ICONMAP::ICONMAP");
    ReadTable();
}

ICONMAP::~ICONMAP()
{
    for (int i = NumIcons - 1; i >= 0; --i) {
        plat::UnregisterIcon(VLMT_CREATOR, Icons[i].id);
        if (Icons[i].icon)
            plat::ReleaseIconRef(Icons[i].icon);
        Icons[i].icon = nullptr;
    }
    NumIcons = 0;
}

void ICONMAP::ReadTable()
{
    NumIcons = 0;
    STRING path = OSYS::GetResourceFilePath("iconsmap.txt");
    std::ifstream in(path.Buf(), std::ios::binary);
    if (!in)
        return;
    std::stringstream all;
    all << in.rdbuf();
    std::string text = all.str();
    std::erase(text, '\r');
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        char* rest = nullptr;
        const unsigned long id = std::strtoul(line.c_str(), &rest, 10);
        if (id == 0 || id > 0xFFFFFFFFul)
            continue;
        std::string name = rest;
        // The name is the second blank-separated field; a comment ends it.
        size_t cut = name.find(" //");
        if (cut == std::string::npos)
            cut = name.find("\t//");
        if (cut != std::string::npos)
            name.resize(cut);
        size_t const first = name.find_first_not_of(" \t\"");
        if (first == std::string::npos)
            continue;
        size_t const last = name.find_last_not_of(" \t\"");
        name = name.substr(first, last - first + 1);
        if (name.empty())
            continue;
        if (!RegisterAs(name.c_str(), static_cast<uint32_t>(id)))
            LOGIT("ICONMAP::ICONMAP WARNING! Registering %s as %d failed\n", name.c_str(), static_cast<int>(id));
    }
}

bool ICONMAP::RegisterAs(char const* filename, uint32_t id)
{
    TARVOAPP::CheckCallerThread("ICONMAP::RegisterAs");
    if (!filename || !*filename)
        return false;
    if (id == 0) {
        AssertMsg(0, "iconid!=0", __FILE__, __LINE__, nullptr, false);
        return false;
    }
    std::string path = plat::ResourceFilePath(filename);
    if (path.empty())
        path = plat::ResourceFilePath(filename, {}, "Icons");
    if (path.empty())
        return false;
    if (NumIcons >= MAXICONS) {
        AssertMsg(0, "this->NumIcons < ARRAYMAX(this->Icons)", __FILE__, __LINE__, nullptr, false);
        return false;
    }
    plat::IconRef icon = plat::RegisterIconFromFile(VLMT_CREATOR, id, path);
    if (!icon)
        return false;
    ENTRY& e = Icons[NumIcons++];
    e.id = id;
    e.file = filename;
    e.icon = icon;
    return true;
}

plat::IconRef ICONMAP::CopyRefFromIconId(uint32_t id)
{
    return plat::GetIconRef(VLMT_CREATOR, id);
}
