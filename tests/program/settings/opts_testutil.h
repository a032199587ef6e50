// Helpers of the option-engine tests: memory streams, fixtures and folder
// listings.
#pragma once

#include "program/settings/optsbase.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace settingstest {

// The option engine over memory.
inline void LoadText(OPTSBASE& opts, std::string const& text)
{
    FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    ASSERT_NE(f, nullptr);
    opts.LoadEntries(f, 0);
    fclose(f);
}

inline std::string SaveText(OPTSBASE& opts, bool noFinalBlank = false)
{
    char* buffer = nullptr;
    size_t length = 0;
    FILE* m = open_memstream(&buffer, &length);
    opts.SaveEntries(m, noFinalBlank ? 1 : 0);
    fclose(m);
    std::string text(buffer, length);
    free(buffer);
    return text;
}

inline bool FileExists(std::string const& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

inline std::string Fixture(std::string const& name)
{
    return testutil::SourceDir() + "/program/settings/fixtures/" + name;
}

// Names in folder that begin with prefix.
inline std::vector<std::string> FilesStartingWith(std::string const& folder, std::string const& prefix)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::string(e->d_name).compare(0, prefix.size(), prefix) == 0)
                names.emplace_back(e->d_name);
        }
        closedir(d);
    }
    return names;
}

} // namespace settingstest
