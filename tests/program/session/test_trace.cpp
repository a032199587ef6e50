// The data trace: the text trace against an independent writer of its
// format, the binary files against the bytes that went through the
// loopback device, the hex dump as screen rows, stored secrets, and a file
// that cannot be written.
#include "tests/program/session/sessionfixture.h"

#include "program/session/logfile.h"
#include "velmot/core/logit.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace sessiontest;

namespace {

[[maybe_unused]] bool const kPlatform = (UsePlatform(), true);

std::string Hex(char const* data, size_t n)
{
    static char const digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        auto const b = static_cast<unsigned char>(data[i]);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// What the independent writer makes of a description.
std::string Expected(std::string const& description)
{
    std::string out;
    int const rc =
        testutil::RunProgram({"python3", testutil::SourceDir() + "/program/session/tracewriter.py"}, &out, description);
    EXPECT_EQ(rc, 0);
    return out;
}

ssize_t NoSpace(int, void const*, size_t, off_t)
{
    errno = ENOSPC;
    return -1;
}

} // namespace

class TraceTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        ASSERT_TRUE(Open(5, 0));
    }
    void TearDown() override
    {
        LOGFILE::SetWriteFunction(nullptr);
        SessionTest::TearDown();
    }
    std::string LogFile(char const* name) { return testutil::ReadFile(Work.file(std::string("Logs/") + name)); }
    void Switch(int ascii, int binary, int dump = 0)
    {
        S->Prof.data.AscTrace = static_cast<signed char>(ascii);
        S->Prof.data.BinTrace = static_cast<signed char>(binary);
        S->Prof.data.DumpMode = static_cast<signed char>(dump);
        S->TrackChanges(false);
    }
};

TEST_F(TraceTest, TextTraceOfEveryByteValueAsAnIndependentWriterHasIt)
{
    std::string all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[static_cast<size_t>(i)] = static_cast<char>(i);
    std::string description;
    long long ms = 83456;
    for (size_t block : {1u, 7u, 200u}) {
        SCOPED_TRACE(block);
        S->Clock = ms;
        Switch(1, 0);
        description += "begin " + std::to_string(ms) + "\n";
        int n = 0;
        for (size_t at = 0; at < all.size(); at += block, ++n) {
            size_t const len = std::min(block, all.size() - at);
            char const direction = n % 3 == 0 ? 'I' : n % 3 == 1 ? 'O' : 'i';
            S->Clock = ms += 1237;
            S->Trace(direction, all.data() + at, static_cast<int>(len));
            description += std::string(1, direction) + " " + std::to_string(ms) + " " + Hex(all.data() + at, len) + "\n";
        }
        S->Clock = ms += 10;
        Switch(0, 0);
        description += "end " + std::to_string(ms) + "\n";
    }
    // Switching off and on again appends to the same file.
    EXPECT_EQ(LogFile("qortrace.txt"), Expected(description));
    // A block of two letters, a blank, a letter and a full stop.
    S->Clock = 5000;
    Switch(1, 0);
    S->Trace('I', "ab c.", 5);
    Switch(0, 0);
    std::string const text = LogFile("qortrace.txt");
    EXPECT_NE(text.find("00005.00  <RECV    ab.c{dot}\n\n"), std::string::npos);
}

TEST_F(TraceTest, BinaryFilesHoldExactlyTheBytesOfTheirDirection)
{
    std::mt19937 random(7);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        Switch(0, 1);
        std::string received, sent;
        for (int i = 0; i < 60; ++i) {
            std::string chunk(random() % 700 + 1, '\0');
            for (char& c : chunk)
                c = static_cast<char>(random());
            if (random() % 2) {
                Inject(chunk);
                received += chunk;
            } else {
                S->CommLayer.WriteData(chunk.data(), static_cast<long>(chunk.size()));
                sent += chunk;
            }
        }
        ASSERT_TRUE(WaitShown());
        Switch(0, 0);
        // Switched on again, both files start anew.
        EXPECT_EQ(LogFile("qortrcin.bin"), received);
        EXPECT_EQ(LogFile("qortrcout.bin"), sent);
    }
}

TEST_F(TraceTest, HexDumpAsScreenRows)
{
    struct CASE {
        int Width;
        std::string First, Second;
    };
    std::string const dashes = " | 41 42 43 44 45 46 47 48   49 4A 4B 4C 4D 4E 4F 50";
    std::vector<CASE> const cases = {
        {80, dashes + "  |  ABCDEFGH IJKLMNOP  |", " | 01 FF 7A" + std::string(43, ' ') + "|  .\xC3\xBFz" + std::string(16, ' ') + "|"},
        {60, dashes + "  |  ABC", " | 01 FF 7A" + std::string(43, ' ') + "|  .\xC3\xBFz"},
        {54, dashes, " | 01 FF 7A"},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.Width);
        Close();
        ASSERT_TRUE(Open(5, 0));
        S->Prof.data.WinWidth = c.Width;
        Switch(0, 0, 1);
        Inject("ABCDEFGHIJKLMNOP\x01\xffz");
        ASSERT_TRUE(WaitShown());
        EXPECT_EQ(Row(1), c.First);
        EXPECT_EQ(Row(2), c.Second);
        // The full line went to the session log: the capture buffer has it.
        EXPECT_NE(S->Capture.Copy().find("| ABCDEFGH IJKLMNOP |"), std::string::npos);
        // Switching the dump off ends it with a line of its own.
        Switch(0, 0, 0);
        ASSERT_TRUE(WaitShown());
        EXPECT_EQ(Row(3), "***");
    }
}

TEST_F(TraceTest, StoredSecretsShowAsSecretAndNeverReachTheDiagnosticLog)
{
    std::string const password = "Tr0ub4dor&3";
    std::string const log = Work.file("diag.log");
    ASSERT_EQ(LOGITARG(("/LOGIT:" + log).c_str()), 1);
    LOGITARG("/LOG:0xFFFFFFFF");
    S->Clock = 1000;
    Switch(1, 1);
    std::wstring const typed(password.begin(), password.end());
    {
        // As the automatic login sends the entry's password: a long reply
        // goes out paced, a short one at once.
        SESSION::SECRETSEND secret;
        S->FeedKeys((typed + L"\r").c_str(), static_cast<int>(typed.size() + 1), 0);
        S->FeedKeys(L"pw", 2, 0);
    }
    S->FeedKeys(L"ls\r", 3, 0);
    Spin(100);
    Switch(0, 0);
    LOGITARG("/LOGITCLOSE");
    std::string const text = LogFile("qortrace.txt");
    EXPECT_EQ(text.find("Tr0ub"), std::string::npos) << text;
    EXPECT_NE(text.find(" SEND>   {secret}\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" SEND>   ls{cr}\n"), std::string::npos) << text;
    std::string const diagnostic = testutil::ReadFile(log);
    EXPECT_FALSE(diagnostic.empty());
    EXPECT_EQ(diagnostic.find("Tr0ub"), std::string::npos);
    // Nor as the debug log's byte trace ("o54 o72 ...").
    EXPECT_EQ(diagnostic.find("o54 o72"), std::string::npos);
    // The raw file of what was sent holds what went to the host.
    EXPECT_EQ(LogFile("qortrcout.bin"), password + "\rpwls\r");
    EXPECT_EQ(Sent(), password + "\rpwls\r");
}

TEST_F(TraceTest, AFileThatCannotBeWrittenIsClosedAndToldOnce)
{
    Switch(1, 0);
    EXPECT_TRUE(S->Tracer.IsTracing());
    Host.Lines.clear();
    LOGFILE::SetWriteFunction(&NoSpace);
    for (int i = 0; i < 3; ++i) {
        Inject(std::string(40000, 'x') + "\r\nshown " + std::to_string(i) + "\r\n");
        ASSERT_TRUE(WaitShown());
        S->FlushLogFiles();
        Spin(50);
    }
    std::vector<std::string> const notices = Host.Take("notify ");
    int told = 0;
    for (std::string const& n : notices)
        told += n.find("qortrace.txt") != std::string::npos && n.find(strerror(ENOSPC)) != std::string::npos;
    EXPECT_EQ(told, 1) << ::testing::PrintToString(notices);
    EXPECT_FALSE(S->Tracer.IsTracing());
    // The session goes on.
    bool shown = false;
    for (int y = 0; y < 24; ++y)
        shown = shown || Row(y) == "shown 2";
    EXPECT_TRUE(shown);
    // Switched off and on, the trace tries again.
    LOGFILE::SetWriteFunction(nullptr);
    Switch(0, 0);
    Switch(1, 0);
    EXPECT_TRUE(S->Tracer.IsTracing());
}
