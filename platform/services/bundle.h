// Loading plug-in bundles: ELF shared objects in the stage's plug-in folder,
// or the program itself.
#pragma once

#include <string>
#include <string_view>

namespace plat {

// The file name a module is loaded under: a name ending in ".dll" (in any
// case) ends in ".so" instead; other names stay as they are.
std::string BundleFileName(std::string_view module);

class Bundle {
public:
    Bundle() = default;
    ~Bundle() { Unload(); }
    Bundle(Bundle const&) = delete;
    Bundle& operator=(Bundle const&) = delete;
    Bundle(Bundle&& other) noexcept;
    Bundle& operator=(Bundle&& other) noexcept;

    // Loads module from PlugInsFolder() (folders.h) with every symbol bound
    // at once and kept local to the bundle. "<self>" (in any case) stands
    // for the program itself. A name holding "/" is refused, so that only
    // the plug-in folder is searched. On failure the bundle held before, if
    // any, stays loaded, and Error() tells why (the loader's text).
    bool Load(std::string_view module);

    // Address of a function of the loaded bundle, or null (with Error()).
    void* Function(char const* name);

    // Releases the bundle; harmless when nothing is loaded.
    void Unload();

    bool IsLoaded() const { return handle_ != nullptr; }
    // The file name it was loaded under ("<self>" for the program).
    std::string const& FileName() const { return fileName_; }
    std::string const& Error() const { return error_; }

private:
    void* handle_ = nullptr;
    std::string fileName_;
    std::string error_;
};

} // namespace plat
