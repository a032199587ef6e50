// DLLINTERFACE: loads a plug-in bundle from the program's plug-in folder (or
// the program itself, "<self>") and looks up plain functions in it by name.
//
// Bundles are ELF shared objects in the stage's plug-in folder; a module
// name written in the Windows manner ("PELTRA.DLL") is loaded as the same
// name ending in ".so" (platform/services/bundle.h).
#pragma once

#include "velmot/core/vtypes.h"

#include <memory>

namespace plat {
class Bundle;
}

class VELMOT_EXPORT DLLINTERFACE {
public:
    explicit DLLINTERFACE(char const* file = nullptr, char const* function = nullptr);
    ~DLLINTERFACE();
    DLLINTERFACE(DLLINTERFACE const&) = delete;
    DLLINTERFACE& operator=(DLLINTERFACE const&) = delete;

    // Loads the bundle (the file-name part of file; the plug-in folder is
    // searched without regard to case when the exact name is missing) and,
    // when function is given, looks it up as the default function. True
    // when this bundle was loaded and, if a function was asked for, it was
    // found. A failed load returns false and keeps the bundle loaded before
    // with its default function.
    bool Load(char const* file, char const* function = nullptr);

    // The function of that name in the loaded bundle; with a null name the
    // default function.
    void* GetFunction(char const* name = nullptr);
    void SetFunction(char const* name, void* function);
    void Unload();

    bool IsLoaded() const;
    char const* ModuleName() const { return Module; }

private:
    std::unique_ptr<plat::Bundle> hDll;
    void* DefaultFunction = nullptr;
    char FunctionName[128] = {};
    char Module[128] = {};
};
