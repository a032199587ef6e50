// The session log: the capture file's rules as one table of expected file
// bytes, the audit log, names that follow the date, the modes of every file
// the logs make, the calls log, the administrator's options, deleting logs,
// and what reaches the log from the received-data road.
#include "tests/program/session/sessionfixture.h"

#include "program/screen/codepagetext.h"
#include "program/settings/adminopts.h"
#include "velmot/core/osys.h"

#include <gtest/gtest.h>

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace sessiontest;

namespace {

[[maybe_unused]] bool const kPlatform = (UsePlatform(), true);

void FixedTime(int* h, int* m, int* s, int* t)
{
    *h = 12;
    *m = 34;
    *s = 56;
    *t = 7;
}

int ModeOf(std::string const& path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

} // namespace

class LogTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        PROGRAMSETTINGS::AdminDefaults(Admin);
        Host.Admin = &Admin;
        ASSERT_TRUE(Open(5, 0));
        S->Logging.LocalTime = &FixedTime;
    }
    std::string Path(std::string const& name) { return Work.file("Logs/" + name); }
    std::optional<std::string> File(std::string const& name)
    {
        if (access(Path(name).c_str(), F_OK) != 0)
            return std::nullopt;
        return testutil::ReadFile(Path(name));
    }
    // Received text as the emulation hands it to the session log.
    void Log(std::string const& bytes)
    {
        std::wstring wide;
        cptext::Decode(wide, bytes.data(), bytes.size(), S->Prof.data.CodePage);
        S->LogWide(wide.c_str(), static_cast<int>(wide.size()));
    }
    ADMINOPTS Admin{};
};

TEST_F(LogTest, CaptureFileRules)
{
    struct CASE {
        char const* Name;
        std::optional<std::string> Existing;
        bool Append, Marks, HostSwitch, StartOn;
        int CodePage;
        std::vector<bool> Answers;
        std::vector<std::string> Texts;
        std::optional<std::string> Expected;
    };
    std::vector<CASE> const cases = {
        {"a new file", {}, true, false, false, true, 1252, {}, {"hello\r\n", "world"}, "hello\r\nworld"},
        {"appended to an old file", "old\n", true, false, false, true, 1252, {}, {"new"}, "old\nnew"},
        {"replaced after yes", "old\n", false, false, false, true, 1252, {true}, {"new"}, "new"},
        {"appended after no", "old\n", false, false, false, true, 1252, {false}, {"new"}, "old\nnew"},
        {"backspace overwrites", {}, true, false, false, true, 1252, {}, {"ab\bc"}, "ac"},
        {"backspace across calls", {}, true, false, false, true, 1252, {}, {"ab", "\b", "c"}, "ac"},
        {"backspace stops at the session's start", "old", true, false, false, true, 1252, {}, {"\b\b\bx"}, "oldx"},
        {"backspace stops at a line start", {}, true, false, false, true, 1252, {}, {"ab\r\n\b\bc"}, "ab\r\nc"},
        {"backspace takes a whole UTF-8 character", {}, true, false, false, true, 1000, {}, {"a\xC3\xA9\xE2\x82\xAC\b\bb"}, "ab"},
        {"time marks after the first line break", {}, true, true, false, true, 1252, {}, {"x\r\ny", "z\r", "\nw"},
         "x\r\n[12:34:56.7] yz\r\n[12:34:56.7] w"},
        {"the host switches with DC2 and DC4", {}, true, false, true, false, 1252, {}, {"a\x12" "b\x14" "c\x12" "d"}, "bd"},
        {"an empty file this session made goes", {}, true, false, false, true, 1252, {}, {}, std::nullopt},
        {"an old file stays", "old", true, false, false, true, 1252, {}, {}, "old"},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.Name);
        Close();
        unlink(Path("test.log").c_str());
        unlink(Path("audit.log").c_str());
        if (c.Existing)
            testutil::WriteFile(Path("test.log"), *c.Existing);
        ASSERT_TRUE(Open(5, 0));
        S->Logging.LocalTime = &FixedTime;
        SESSIONPROFILEDATA& p = S->Prof.data;
        p.CaptAppend = c.Append;
        p.CaptTimeMarks = c.Marks;
        p.CaptDc2Dc4 = c.HostSwitch;
        p.CodePage = c.CodePage;
        Host.Answers.assign(c.Answers.begin(), c.Answers.end());
        ASSERT_TRUE(S->Logging.SetAuditLogname("audit.log"));
        if (c.StartOn) {
            S->ProcessEvent(8045, 0, "test.log");
            ASSERT_TRUE(S->Logging.IsFileOpen());
        } else {
            S->Logging.SetLogname("test.log", 1);
        }
        std::string all;
        for (std::string const& t : c.Texts) {
            Log(t);
            all += t;
        }
        S->Logging.SetFileLogging(0);
        S->Logging.CloseAuditLog();
        EXPECT_EQ(File("test.log"), c.Expected);
        // The audit log has every byte as it came.
        EXPECT_EQ(File("audit.log"), all);
        EXPECT_EQ(Host.Take("question ").size(), c.Answers.size());
    }
}

TEST_F(LogTest, TheNameFollowsTheDateButNotTheMinute)
{
    int day = 1, minute = 10;
    S->Ctrl = [&](char* text, int size) {
        std::string t = text, out;
        for (size_t i = 0; i < t.size(); ++i) {
            if (t[i] == '^' && i + 1 < t.size() && (t[i + 1] == '1' || t[i + 1] == '5')) {
                char buf[8];
                snprintf(buf, sizeof buf, "%02d", t[i + 1] == '1' ? day : minute);
                out += buf;
                ++i;
            } else {
                out += t[i];
            }
        }
        snprintf(text, static_cast<size_t>(size), "%s", out.c_str());
        return static_cast<int>(strlen(text));
    };
    S->Prof.data.CaptAppend = 1;
    S->ProcessEvent(8045, 0, "log-^1-^5.txt");
    Log("a");
    minute = 11;
    S->FlushLogFiles();
    Log("b");
    day = 2;
    S->FlushLogFiles();
    Log("c");
    S->Logging.SetFileLogging(0);
    EXPECT_EQ(File("log-01-10.txt"), "ab");
    EXPECT_EQ(File("log-02-11.txt"), "c");
    // The notation refers to this test's clock, gone after it.
    S->Ctrl = nullptr;
}

TEST_F(LogTest, FilesArePrivateAndFoldersMadePrivate)
{
    mode_t const old = umask(0);
    snprintf(S->Settings.data.CapturePath, sizeof S->Settings.data.CapturePath, "Logs/new/deep");
    snprintf(S->Settings.data.CallingLogFile, sizeof S->Settings.data.CallingLogFile, "calls.log");
    // The session takes the new folder as the settings change.
    S->TrackChanges(false);
    testutil::WriteFile(Path("kept.log"), "x");
    chmod(Path("kept.log").c_str(), 0644);
    S->ProcessEvent(8045, 0, "capture.log");
    ASSERT_TRUE(S->Logging.SetAuditLogname("audit.log"));
    S->Prof.data.AscTrace = 1;
    S->Prof.data.BinTrace = 1;
    S->TrackChanges(false);
    S->Logging.CallsLogEntry("11.12.2025 10:00:00  C+: N/A\n");
    Log("text");
    S->Prof.data.CaptAppend = 1;
    S->Logging.SetLogname("../../kept.log", 1);
    umask(old);
    EXPECT_EQ(ModeOf(Path("new")), 0700);
    EXPECT_EQ(ModeOf(Path("new/deep")), 0700);
    for (char const* f : {"capture.log", "audit.log", "qortrace.txt", "qortrcin.bin", "qortrcout.bin", "calls.log"})
        EXPECT_EQ(ModeOf(Path(std::string("new/deep/") + f)), 0600) << f;
    EXPECT_TRUE(S->Logging.IsFileOpen());
    EXPECT_EQ(ModeOf(Path("kept.log")), 0644);
    // A link in the file's place is not followed.
    S->Logging.SetFileLogging(0);
    ASSERT_EQ(symlink(Path("kept.log").c_str(), Path("new/deep/link.log").c_str()), 0);
    S->Logging.SetLogname("link.log", 1);
    S->ProcessEvent(8030, 1, nullptr);
    EXPECT_FALSE(S->Logging.IsFileOpen());
    EXPECT_EQ(testutil::ReadFile(Path("kept.log")), "x");
}

TEST_F(LogTest, CallsLogStartsWithItsHeaderAndReportsWhatCannotBeOpened)
{
    snprintf(S->Settings.data.CallingLogFile, sizeof S->Settings.data.CallingLogFile, "calls.log");
    S->Logging.CallsLogEntry("11.12.2025 10:00:00  C+: host\n");
    S->Logging.CallsLogEntry("11.12.2025 10:05:00  C-: 00:05:00\n\n");
    std::string const text = *File("calls.log");
    ASSERT_GE(text.size(), 200u);
    EXPECT_EQ(text.substr(0, 200), LOGGING::CALLSLOGHEADER);
    EXPECT_EQ(text.substr(200), "11.12.2025 10:00:00  C+: host\n11.12.2025 10:05:00  C-: 00:05:00\n\n");
    // A calls log in a place that cannot be written: ten tries, one error.
    S->Logging.CallsLogRetryMs = 1;
    snprintf(S->Settings.data.CallingLogFile, sizeof S->Settings.data.CallingLogFile, "calls.log/inside");
    Host.Lines.clear();
    S->Logging.CallsLogEntry("line\n");
    std::vector<std::string> const errors = Host.Take("error ");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("calls.log/inside"), std::string::npos);
}

TEST_F(LogTest, TheAdministratorsOptionsHoldOnEveryRoad)
{
    // DisableLogging: no capture file by command, profile or host.
    Admin.DisableLogging = 1;
    S->ProcessEvent(8030, 1, nullptr);
    EXPECT_FALSE(S->Logging.IsFileOpen());
    EXPECT_EQ(S->Prof.data.CaptStatus, 0);
    S->ProcessEvent(8045, 0, "named.log");
    EXPECT_FALSE(S->Logging.IsFileOpen());
    S->Prof.data.CaptDc2Dc4 = 1;
    Log("\x12host text");
    EXPECT_FALSE(S->Logging.IsFileOpen());
    EXPECT_FALSE(File("named.log"));
    Admin.DisableLogging = 0;

    // AuditLogFilename: opened with the session, kept against other names.
    snprintf(Admin.AuditLogFilename, sizeof Admin.AuditLogFilename, "admin.log");
    Close();
    ASSERT_TRUE(Open(5, 0));
    EXPECT_TRUE(S->Logging.IsAuditOpen());
    EXPECT_FALSE(S->Logging.SetAuditLogname("mine.log"));
    EXPECT_FALSE(S->Logging.SetAuditLogname(nullptr));
    Log("seen");
    S->Logging.FlushFiles();
    EXPECT_EQ(File("admin.log"), "seen");
    EXPECT_FALSE(File("mine.log"));
}

TEST_F(LogTest, EventsSwitchAndNameTheLog)
{
    // 8030 on and off, with its notices; asking for the state in force
    // does nothing.
    S->Prof.data.CaptAppend = 1;
    snprintf(S->Prof.data.CaptDefaultName, sizeof S->Prof.data.CaptDefaultName, "default.log");
    S->ProcessEvent(8060, 0, nullptr);
    Host.Lines.clear();
    S->ProcessEvent(8030, 1, nullptr);
    EXPECT_EQ(S->Prof.data.CaptStatus, 2);
    EXPECT_TRUE(S->Logging.IsFileOpen());
    S->ProcessEvent(8030, 1, nullptr);
    S->ProcessEvent(8030, 0x80, nullptr);
    EXPECT_EQ(S->Prof.data.CaptStatus, 0);
    std::vector<std::string> const notices = Host.Take("notify ");
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find(OSYS::GetStringFromResource("IDS_CAPT_OPEN").Buf()), std::string::npos);
    // 8045 without a name asks for one; cancelled, nothing changes.
    S->ProcessEvent(8045, 0, nullptr);
    EXPECT_EQ(Host.Take("pick ").size(), 1u);
    EXPECT_FALSE(S->Logging.IsFileOpen());
    Host.Picks.push_back(Path("picked.log"));
    S->ProcessEvent(8045, 0, nullptr);
    EXPECT_TRUE(S->Logging.IsFileOpen());
    EXPECT_EQ(S->Logging.OpenName(), Path("picked.log"));
    char shown[260] = {};
    S->Logging.QueryLogname(shown, sizeof shown);
    EXPECT_STREQ(shown, "picked.log");
    // 8078 deletes what the user picks; the open log is closed first.
    Log("x");
    testutil::WriteFile(Path("old.log"), "old");
    Host.Picks = {Path("old.log"), Path("picked.log"), Path("missing.log")};
    S->ProcessEvent(8078, 0, nullptr);
    EXPECT_FALSE(File("old.log"));
    EXPECT_FALSE(File("picked.log"));
    EXPECT_FALSE(S->Logging.IsFileOpen());
    std::vector<std::string> const errors = Host.Take("error ");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("missing.log"), std::string::npos);
}

TEST_F(LogTest, ReceivedTextReachesTheLogAndAFailingFileIsToldOnce)
{
    S->Prof.data.CaptAppend = 1;
    S->ProcessEvent(8045, 0, "road.log");
    Inject("first line\r\nsecond line\r\n");
    ASSERT_TRUE(WaitShown());
    S->FlushLogFiles();
    EXPECT_EQ(File("road.log"), "first line\r\nsecond line\r\n");
    EXPECT_NE(S->Capture.Copy().find("second line"), std::string::npos);

    // Writes that fail: the file closes, the user is told once, the status
    // line shows the error, the session goes on.
    Host.Lines.clear();
    LOGFILE::SetWriteFunction([](int, void const*, size_t, off_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    });
    for (int i = 0; i < 3; ++i) {
        Inject(std::string(40000, 'y') + "\r\nmore " + std::to_string(i) + "\r\n");
        ASSERT_TRUE(WaitShown());
        S->FlushLogFiles();
        Spin(30);
    }
    LOGFILE::SetWriteFunction(nullptr);
    int told = 0;
    for (std::string const& n : Host.Take("notify "))
        told += n.find("road.log") != std::string::npos;
    EXPECT_EQ(told, 1);
    EXPECT_FALSE(S->Logging.IsFileOpen());
    EXPECT_TRUE(S->Logging.InError());
    EXPECT_EQ(S->Prof.data.CaptStatus, 0);
    char shown[260] = {};
    S->Logging.QueryLogname(shown, sizeof shown);
    EXPECT_STREQ(shown, OSYS::GetStringFromResource("IDS_LOGFILEERROR").Buf());
    EXPECT_NE(S->Capture.Copy().find("more 2"), std::string::npos);
    // The next switch-on tries again.
    S->ProcessEvent(8030, 1, nullptr);
    EXPECT_TRUE(S->Logging.IsFileOpen());
    EXPECT_FALSE(S->Logging.InError());
}
