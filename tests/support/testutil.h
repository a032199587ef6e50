// Small helpers shared by the test binaries.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace testutil {

// A fresh private folder under the test's home; removed with its content by
// the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// Runs a program with an argument vector (no shell) and returns its exit
// status, or -1 when it could not run; stdout is captured into *out.
int RunProgram(const std::vector<std::string>& argv, std::string* out = nullptr,
               const std::string& input = std::string());

// Runs fn in a forked child and returns its exit status (or 128 + signal
// number when it died of a signal). Use for tests of process-wide state.
int RunInChild(const std::function<int()>& fn);

// Folder of the test sources (tests/), from QOR_TEST_SOURCE_DIR.
std::string SourceDir();

} // namespace testutil
