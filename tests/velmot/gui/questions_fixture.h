// Shared by the tests of message boxes, the tip of the day, file dialogs,
// the clipboard and the help: the language switched for a scope, a folder
// of files to choose from, and a stand-in for the desktop's opener that
// records what it was asked to open.
#pragma once

#include "tests/support/testutil.h"
#include "velmot/core/tarvo.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace guifix {

// The program's language for the scope (TARVOAPP::IsLocaleGerman), English
// again afterwards.
class LOCALE {
public:
    explicit LOCALE(int locale) { Set(locale); }
    ~LOCALE() { Set(LOCALE_ENGLISH); }
    LOCALE(LOCALE const&) = delete;
    LOCALE& operator=(LOCALE const&) = delete;

private:
    static void Set(int locale)
    {
        static char name[] = "guitest";
        static char* argv[] = {name, nullptr};
        TARVOAPP::InitArgsLoggingAndLocale(1, argv, locale);
        gApplicationName = "qortest";
    }
};

// The language of the resources for the scope ($LANGUAGE), as it was
// afterwards.
class RESOURCELANGUAGE {
public:
    explicit RESOURCELANGUAGE(char const* lang)
    {
        char const* old = std::getenv("LANGUAGE");
        had_ = old != nullptr;
        old_ = old ? old : "";
        setenv("LANGUAGE", lang, 1);
    }
    ~RESOURCELANGUAGE()
    {
        if (had_)
            setenv("LANGUAGE", old_.c_str(), 1);
        else
            unsetenv("LANGUAGE");
    }
    RESOURCELANGUAGE(RESOURCELANGUAGE const&) = delete;
    RESOURCELANGUAGE& operator=(RESOURCELANGUAGE const&) = delete;

private:
    bool had_ = false;
    std::string old_;
};

// An "xdg-open" first on $PATH that appends each target it gets to a file,
// one line each; the old $PATH comes back at the end of the scope.
class OPENERRECORDER {
public:
    OPENERRECORDER()
    {
        std::string const bin = dir_.file("bin");
        mkdir(bin.c_str(), 0700);
        std::string const opener = bin + "/xdg-open";
        testutil::WriteFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + dir_.file("opened") + "\"\n");
        chmod(opener.c_str(), 0755);
        char const* path = std::getenv("PATH");
        oldPath_ = path ? path : "";
        setenv("PATH", (bin + ":" + oldPath_).c_str(), 1);
    }
    ~OPENERRECORDER() { setenv("PATH", oldPath_.c_str(), 1); }
    OPENERRECORDER(OPENERRECORDER const&) = delete;
    OPENERRECORDER& operator=(OPENERRECORDER const&) = delete;

    // What was opened since the last call, in order.
    std::vector<std::string> Take()
    {
        std::vector<std::string> lines;
        std::string const all = testutil::ReadFile(dir_.file("opened"));
        size_t start = 0;
        while (start < all.size()) {
            size_t const nl = all.find('\n', start);
            lines.push_back(all.substr(start, nl - start));
            start = nl == std::string::npos ? all.size() : nl + 1;
        }
        testutil::WriteFile(dir_.file("opened"), "");
        return lines;
    }

private:
    testutil::TempDir dir_;
    std::string oldPath_;
};

} // namespace guifix
