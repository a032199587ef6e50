// Shared pieces of the system-services tests: an assertion recorder, the
// second process (sys_probe), bounded waits for files, and a private folder
// for the any-user preferences (a test run as root must not write the
// system's).
#pragma once

#include "velmot/core/logit.h"
#include "platform/services/prefs.h"
#include "platform/services/spawn.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace systest {

// Expressions of the assertions raised while a recorder is installed.
inline std::vector<std::string>& Asserts()
{
    static std::vector<std::string> list;
    return list;
}

inline bool RecordAssert(char const*, char const* question)
{
    std::string q = question;
    // The question quotes the expression after "Condition: ".
    size_t at = q.find("Condition: ");
    size_t end = at == std::string::npos ? std::string::npos : q.find('\n', at);
    Asserts().push_back(at == std::string::npos ? q : q.substr(at + 11, end - at - 11));
    return true;
}

inline bool Asserted(char const* expression)
{
    for (auto const& a : Asserts()) {
        if (a == expression)
            return true;
    }
    return false;
}

// Records assertions and keeps the any-user preferences in a private folder
// for the whole test.
class SysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Asserts().clear();
        previous_ = SetAssertQuestionHook(&RecordAssert);
        machinePrefs_ = machine_.path();
        plat::SetPrefFolder(plat::PrefScope::AnyUserCurrentHost, machinePrefs_);
        setenv("SYSPROBE_MACHINE_PREFS", machinePrefs_.c_str(), 1);
    }
    void TearDown() override
    {
        SetAssertQuestionHook(previous_);
        plat::SetPrefFolder(plat::PrefScope::AnyUserCurrentHost, "");
        unsetenv("SYSPROBE_MACHINE_PREFS");
    }

    testutil::TempDir machine_;
    std::string machinePrefs_;
    ASSERTQUESTIONHOOK previous_ = nullptr;
};

inline std::string ProbePath()
{
    char const* dir = getenv("QOR_TEST_BIN_DIR");
    return std::string(dir ? dir : ".") + "/sys_probe";
}

// Starts the probe without waiting; its id, or -1.
inline pid_t StartProbe(std::vector<std::string> args)
{
    args.insert(args.begin(), ProbePath());
    return plat::SpawnProgram(args);
}

// The probe's exit status, or -1 when it did not end within timeoutMs.
inline int WaitProbe(pid_t pid, int timeoutMs = 20000)
{
    plat::ChildStatus st = plat::WaitChildFor(pid, timeoutMs);
    if (st.state == plat::ChildStatus::Running) {
        kill(pid, SIGKILL);
        plat::WaitChild(pid, true);
        return -1;
    }
    return st.state == plat::ChildStatus::Exited ? st.code : -1;
}

// Waits until the file holds `text` (anywhere); false after timeoutMs.
inline bool WaitForText(std::string const& path, std::string const& text, int timeoutMs = 10000)
{
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (testutil::ReadFile(path).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace systest
