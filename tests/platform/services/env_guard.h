// Sets environment variables for one test and restores them afterwards.
#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

class EnvGuard {
public:
    EnvGuard() = default;
    ~EnvGuard()
    {
        for (auto const& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }
    EnvGuard(EnvGuard const&) = delete;
    EnvGuard& operator=(EnvGuard const&) = delete;

    // Sets name to value; nullopt removes it.
    void Set(std::string const& name, std::optional<std::string> const& value)
    {
        if (!saved_.count(name)) {
            char const* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};
