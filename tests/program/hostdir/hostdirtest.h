// Shared by the host-directory tests: a main window that records what the
// host directory asked of it, a host directory whose clock stands still,
// the canonical dump of a table (the same the Python reader writes), and
// the Python reader and writer of host-directory files.
#pragma once

#include "program/hostdir/phonebook.h"
#include "program/session/session.h"

#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hostdirtest {

class FAKEHOST : public STANDALONEPHONEBOOKHOST {
public:
    SESSIONHOLD PhonebookSession() override { return SESSIONHOLD(Session); }
    void ErrorMsg(char const* text) override { Lines.push_back(std::string("error ") + text); }
    int WarningMsg(char const* text) override
    {
        Lines.push_back(std::string("warning ") + text);
        return 1;
    }
    void InfoMsg(char const* text) override { Lines.push_back(std::string("info ") + text); }
    void FileError(char const* name) override { Lines.push_back(std::string("file ") + name); }
    void SendIpcMessage(uint32_t msg, uint32_t mp1, uint32_t mp2) override;
    void PostMessage(int message, uintptr_t, uintptr_t) override { Messages.push_back(message); }
    void EnableMenuEntry(int id, int enable, bool) override;
    // Answers with the next of Picks (empty: cancelled).
    STRING AskFilename(char const* title, char const* start, WINDOW const*) override;

    // Lines since the last call; those that start with prefix only.
    std::vector<std::string> Take(std::string const& prefix = "");

    SESSION* Session = nullptr;
    std::vector<std::string> Lines;
    std::vector<int> Messages;
    std::vector<uint32_t> Notices;
    std::vector<std::string> Picks;
};

// A host directory whose clock (statistics, "# LAST WRITTEN") is the
// test's.
class TESTBOOK : public PHONEBOOK {
public:
    using PHONEBOOK::PHONEBOOK;
    uint32_t Now() override { return Clock; }
    uint32_t Clock = 1700000000;
};

// Empty when both texts are equal, else their first differing lines with
// their number (long texts make unreadable failure reports).
std::string Difference(std::string const& a, std::string const& b);

// The directory as the Python reader dumps it: structure, then the entries
// in sorted order with every written field.
std::string Dump(PHONEBOOK& book);

// A directory of entries made by the test: capacity, a work folder.
class HostdirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A fresh table of the capacity bound to the file (not loaded).
    void Init(int capacity, std::string const& file = "hosts.qorini");
    // Runs the Python reader and writer; its exit status. Batch: one
    // command a line.
    static int Python(std::vector<std::string> const& args);
    static int PythonBatch(std::vector<std::vector<std::string>> const& commands);
    static std::string Script();
    std::string Path(std::string const& name) const { return Dir.file(name); }
    // A new entry with the name and the defaults of a new one.
    static _PHONEBOOK_300 Entry(wchar_t const* name, int handle = 0);
    int Store(wchar_t const* name, int handle = 0);

    testutil::TempDir Dir;
    FAKEHOST Host;
    std::unique_ptr<TESTBOOK> Book;
};

// The same with the window system running (offscreen), for menus,
// dialogs and sessions.
class HostdirPlatformTest : public HostdirTest {
protected:
    static void SetUpTestSuite();
};

} // namespace hostdirtest
