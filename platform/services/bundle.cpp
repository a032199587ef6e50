#include "platform/services/bundle.h"

#include "platform/services/folders.h"

#include <dlfcn.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace plat {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// dlerror() keeps one message per thread, and another thread's dlopen must
// not slip between our call and the read of its message.
std::mutex& LoaderLock()
{
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::string LoaderError(char const* fallback)
{
    char const* text = dlerror();
    return text ? std::string(text) : std::string(fallback);
}

// A bundle runs with the user's rights, so one that another user could have
// put there or replaced is not loaded: the file and its folder must belong
// to the user or to root and must not be writable by others. The answer is
// the reason for refusing, empty when the path is safe (a missing file is
// left to the loader to report).
std::string UnsafeBecause(std::string const& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return std::string();
    if (st.st_uid != 0 && st.st_uid != geteuid())
        return path + " belongs to another user";
    if (st.st_mode & S_IWOTH)
        return path + " is writable by others";
    return std::string();
}

} // namespace

std::string BundleFileName(std::string_view module)
{
    std::string name(module);
    if (name.size() >= 4 && EqualsNoCase(std::string_view(name).substr(name.size() - 4), ".dll"))
        name.replace(name.size() - 4, 4, ".so");
    return name;
}

Bundle::Bundle(Bundle&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      fileName_(std::move(other.fileName_)),
      error_(std::move(other.error_))
{
}

Bundle& Bundle::operator=(Bundle&& other) noexcept
{
    if (this != &other) {
        Unload();
        handle_ = std::exchange(other.handle_, nullptr);
        fileName_ = std::move(other.fileName_);
        error_ = std::move(other.error_);
    }
    return *this;
}

bool Bundle::Load(std::string_view module)
{
    std::string file = BundleFileName(module);
    bool self = EqualsNoCase(file, "<self>");
    if (!self && (file.empty() || file.find('/') != std::string::npos || file == "." ||
                  file == "..")) {
        error_ = "not a bundle name: " + file;
        return false;
    }
    std::string path = self ? std::string() : PlugInsFolder() + "/" + file;
    if (!self) {
        std::string unsafe = UnsafeBecause(PlugInsFolder());
        if (unsafe.empty())
            unsafe = UnsafeBecause(path);
        if (!unsafe.empty()) {
            error_ = "not loaded: " + unsafe;
            return false;
        }
    }
    void* handle;
    {
        std::lock_guard<std::mutex> guard(LoaderLock());
        dlerror();
        handle = dlopen(self ? nullptr : path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            error_ = LoaderError("cannot load the bundle");
            return false;
        }
    }
    Unload();
    handle_ = handle;
    fileName_ = self ? std::string("<self>") : file;
    error_.clear();
    return true;
}

void* Bundle::Function(char const* name)
{
    if (!handle_ || !name) {
        error_ = handle_ ? "no function name" : "no bundle loaded";
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(LoaderLock());
    dlerror();
    void* address = dlsym(handle_, name);
    if (!address)
        error_ = LoaderError("function not found");
    return address;
}

void Bundle::Unload()
{
    if (handle_) {
        std::lock_guard<std::mutex> guard(LoaderLock());
        dlclose(handle_);
    }
    handle_ = nullptr;
    fileName_.clear();
}

} // namespace plat
