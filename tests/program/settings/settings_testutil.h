// Shared pieces of the settings tests: fake owners of the program settings
// and of a profile, a fixture with private folders (work folder, resources,
// preferences of both scopes), and memory streams for the option engine.
#pragma once

#include "opts_testutil.h"
#include "program/settings/programsettings.h"
#include "program/settings/sessionprofile.h"
#include "program/settings/workfolder.h"
#include "platform/services/prefs.h"
#include "platform/services/resources.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <vector>

namespace settingstest {

// The owner of the program settings, recording what it was asked.
struct FAKEHOST : SETTINGSHOST {
    ADMINOPTS admin{};
    int restrict = 0;
    int applied = 0;
    std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> sent;
    std::vector<std::string> fileErrors;
    std::vector<std::string> errors;
    // WorkdirNotFound: the answers to give, and what it was shown.
    std::deque<int> workdirAnswers;
    std::vector<std::string> workdirShown;
    std::vector<bool> relocateAllowed;
    std::deque<std::string> directories;
    std::deque<bool> yesNo;
    std::vector<std::string> questions;

    ADMINOPTS& Admin() override { return admin; }
    int RestrictLevel() override { return restrict; }
    void PostApplySettings() override { ++applied; }
    void SendIpcMessage(uint32_t msg, uint32_t mp1, uint32_t mp2) override { sent.emplace_back(msg, mp1, mp2); }
    void FileError(char const* name) override { fileErrors.emplace_back(name); }
    void ErrorMsg(char const* text) override { errors.emplace_back(text); }
    int WorkdirNotFound(char const* folder, char const* version, bool allowRelocate) override
    {
        workdirShown.emplace_back(std::string(folder) + " " + version);
        relocateAllowed.push_back(allowRelocate);
        if (workdirAnswers.empty())
            return -1;
        int answer = workdirAnswers.front();
        workdirAnswers.pop_front();
        return answer;
    }
    STRING AskDirectory(char const*, char const*) override
    {
        if (directories.empty())
            return STRING();
        std::string d = directories.front();
        directories.pop_front();
        return STRING(d.c_str());
    }
    bool YesNoRequest(char const* text) override
    {
        questions.emplace_back(text);
        if (yesNo.empty())
            return false;
        bool answer = yesNo.front();
        yesNo.pop_front();
        return answer;
    }
};

// The session of a profile.
struct FAKESESSION : SESSIONPROFILEHOST {
    std::string optsPath = "Options";
    int titles = 0;
    int cols = 0;
    int rows = 0;
    std::string askAnswer;
    std::string saveAnswer;
    STRING OptsPath() override { return STRING(optsPath.c_str()); }
    void UpdateWindowTitle() override { ++titles; }
    bool GetScreenSize(int* c, int* r) override
    {
        if (cols == 0)
            return false;
        *c = cols;
        *r = rows;
        return true;
    }
    STRING AskFilename(char const*, char const*) override { return STRING(askAnswer.c_str()); }
    STRING AskSaveAsFilename(char const*, char const*) override { return STRING(saveAnswer.c_str()); }
};

// A private world per test: the work folder "<tmp>/data" (not made), the
// preferences of both scopes and an English resource lookup.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("LANGUAGE", "en", 1);
        plat::ClearResourceCache();
        plat::SetPrefFolder(plat::PrefScope::CurrentUser, dir_.file("prefs-user"));
        plat::SetPrefFolder(plat::PrefScope::AnyUserCurrentHost, dir_.file("prefs-machine"));
        work_ = dir_.file("data");
        WORKDIR::SetCurrent(work_.c_str());
        SetSettingsHomePath(dir_.file("bin").c_str());
        SetSettingsResourcePath(nullptr);
        FILENAME::ShellStringSet("%QORFILES%", work_.c_str(), false);
    }
    void TearDown() override
    {
        plat::SetPrefFolder(plat::PrefScope::CurrentUser, "");
        plat::SetPrefFolder(plat::PrefScope::AnyUserCurrentHost, "");
        SetSettingsResourcePath(nullptr);
        SetSettingsHomePath(nullptr);
    }
    std::string Work(std::string const& rel = {}) const { return rel.empty() ? work_ : work_ + "/" + rel; }
    void MakeFolder(std::string const& path) const { ASSERT_TRUE(OSYS::CreateDirectoryPath(path.c_str())) << path; }

    testutil::TempDir dir_;
    std::string work_;
};

} // namespace settingstest
