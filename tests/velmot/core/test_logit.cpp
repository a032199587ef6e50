// The diagnostic log: switches, line format, file choice, threads, and the
// assertion report. The log is process-wide state, so each case runs in a
// child process of its own.
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using testutil::ReadFile;
using testutil::RunInChild;
using testutil::TempDir;

namespace {

// In a child: report the failed check on stderr and leave with its line.
#define CHILD_CHECK(cond)                                                              \
    do {                                                                               \
        if (!(cond)) {                                                                 \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            return 1;                                                                  \
        }                                                                              \
    } while (0)

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

const std::regex kPrefix(R"(^\[\d{3,}\.\d{3}:[0-9a-f]{4,5}\] )");

// The log's body lines: without the three lines written when a log opens.
std::vector<std::string> BodyLines(const std::string& text)
{
    std::vector<std::string> out;
    for (const auto& line : Lines(text)) {
        if (line.find("Logging starts at ") != std::string::npos || line.find("Running as ") != std::string::npos ||
            line.find("SDK Mac OS X Versions") != std::string::npos)
            continue;
        out.push_back(line);
    }
    return out;
}

std::string Body(const std::string& line)
{
    std::smatch m;
    if (std::regex_search(line, m, kPrefix))
        return m.suffix();
    return "<no prefix>" + line;
}

} // namespace

TEST(Logit, OffCostsNothingAndWritesNothing)
{
    EXPECT_EQ(0, RunInChild([] {
        CHILD_CHECK(!gDoLogit);
        int evaluated = 0;
        CHILD_CHECK(LOGIT("x %d\n", ++evaluated) == 0);
        CHILD_CHECK(LOGIF(1, nullptr) == 0);
        CHILD_CHECK(evaluated == 0); // arguments are not evaluated while off
        return 0;
    }));
}

TEST(Logit, LineFormatContinuationAndFormatting)
{
    TempDir dir;
    std::string file = dir.file("a.log");
    EXPECT_EQ(0, RunInChild([&] {
        CHILD_CHECK(LOGITARG(("/LOGIT:" + file).c_str()) == 1);
        CHILD_CHECK(gDoLogit);
        CHILD_CHECK(LOGIT("first part ") == 1);
        LOGIT("second part %d\n", 42);
        LOGIT("no format 100%% here\n"); // contains "%": formatted
        LOGIT("plain text, copied as it is\n");
        LOGIT("literal %s\n", "%d stays");
        LOGITARG("/LOGITCLOSE");
        CHILD_CHECK(!gDoLogit);
        CHILD_CHECK(LOGIT("after close\n") == 0);
        return 0;
    }));
    auto lines = BodyLines(ReadFile(file));
    ASSERT_EQ(4u, lines.size()) << ReadFile(file);
    for (const auto& line : lines)
        EXPECT_TRUE(std::regex_search(line, kPrefix)) << line;
    EXPECT_EQ("first part second part 42", Body(lines[0]));
    EXPECT_EQ("no format 100% here", Body(lines[1]));
    EXPECT_EQ("plain text, copied as it is", Body(lines[2]));
    EXPECT_EQ("literal %d stays", Body(lines[3]));
    EXPECT_NE(std::string::npos, ReadFile(file).find("Logging starts at "));
}

TEST(Logit, OneWriteIsCutAt8191Bytes)
{
    TempDir dir;
    std::string file = dir.file("cut.log");
    EXPECT_EQ(0, RunInChild([&] {
        LOGITARG(("/LOGIT:" + file).c_str());
        std::string big(20000, 'x');
        LOGIT("%s", big.c_str());
        LOGITARG("/LOGITCLOSE");
        return 0;
    }));
    auto lines = BodyLines(ReadFile(file));
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(8191u, lines[0].size());
}

TEST(Logit, LevelsAndCategories)
{
    TempDir dir;
    std::string file = dir.file("lvl.log");
    EXPECT_EQ(0, RunInChild([&] {
        LOGITARG(("/LOGIT:" + file).c_str());
        LOGITARG("/D:5");
        CHILD_CHECK(LogitLevelMask() == 5);
        CHILD_CHECK(LOGIF(5, nullptr) == 1);
        CHILD_CHECK(LOGIF(6, nullptr) == 0);
        LOGIF(5, "level five\n");
        LOGIF(6, "level six\n");
        LOGIF(0x21, "category 0x20 before\n");
        LOGITARG("/D:32");
        CHILD_CHECK(LogitLevelMask() == 0x25);
        LOGIF(0x21, "category 0x20 after\n");
        LOGIF(0x41, "category 0x40\n");
        LOGITARG("/LOGITCLOSE");
        return 0;
    }));
    std::vector<std::string> bodies;
    for (const auto& line : BodyLines(ReadFile(file)))
        bodies.push_back(Body(line));
    EXPECT_EQ((std::vector<std::string>{"LogitLevel 00000005", "level five", "LogitLevel 00000025",
                                        "category 0x20 after"}),
              bodies);
}

TEST(Logit, SwitchesChooseTheFile)
{
    // /D: alone opens no log; /LOG: alone opens the default file in the
    // Logs folder, named after the program.
    EXPECT_EQ(0, RunInChild([] {
        LOGITARG("/D:3");
        CHILD_CHECK(!gDoLogit);
        CHILD_CHECK(LOGIT("nothing\n") == 0);
        LOGITARG("-log:3");
        CHILD_CHECK(gDoLogit);
        std::string expected = std::string(OSYS::GetSystemPath(OSYSFOLDER_LOGS).Buf()) + "Tarvo_TEST_LOGIT_logit.log";
        CHILD_CHECK(expected == LogitFileName());
        LOGIT("into the default log\n");
        LOGITARG("/LOGITCLOSE");
        CHILD_CHECK(ReadFile(expected).find("into the default log") != std::string::npos);
        return 0;
    }));

    // "-logit:stderr" writes to standard error.
    TempDir dir;
    std::string errfile = dir.file("stderr.txt");
    EXPECT_EQ(0, RunInChild([&] {
        int fd = open(errfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        close(fd);
        LOGITARG("-logit:stderr");
        LOGIT("to standard error\n");
        LOGITARG("/LOGITCLOSE");
        return 0;
    }));
    EXPECT_NE(std::string::npos, ReadFile(errfile).find("to standard error"));

    // "UNIQUE" names a new file in the current folder.
    EXPECT_EQ(0, RunInChild([&] {
        CHILD_CHECK(chdir(dir.path().c_str()) == 0);
        LOGITARG("/LOGIT:unique");
        CHILD_CHECK(std::regex_match(std::string(LogitFileName()), std::regex(R"(LOGIT_\d+_\d+_[0-9A-F]+\.log)")));
        LOGITARG("/LOGITCLOSE");
        return 0;
    }));
}

TEST(Logit, ReopenTruncatesUnlessKeep)
{
    TempDir dir;
    std::string file = dir.file("keep.log");
    EXPECT_EQ(0, RunInChild([&] {
        std::string open = "/LOGIT:" + file;
        LOGITARG(open.c_str());
        LOGIT("<one>\n");
        LOGITARG(open.c_str()); // closes and opens again, truncated
        LOGIT("<two>\n");
        LOGITARG(("/LOGITKEEP:" + file).c_str());
        LOGIT("<three>\n");
        LOGITARG(("/logithard:" + file).c_str());
        LOGIT("<four>\n"); // unbuffered: on disk at once
        CHILD_CHECK(ReadFile(file).find("<four>") != std::string::npos);
        return 0;
    }));
    std::string text = ReadFile(file);
    EXPECT_EQ(std::string::npos, text.find("<one>"));
    EXPECT_EQ(std::string::npos, text.find("<two>")); // truncated by the HARD reopen
    EXPECT_EQ(std::string::npos, text.find("<three>"));
    EXPECT_NE(std::string::npos, text.find("<four>"));

    EXPECT_EQ(0, RunInChild([&] {
        LOGITARG(("/LOGIT:" + file).c_str());
        LOGIT("<alpha>\n");
        LOGITARG(("/LOGITKEEP:" + file).c_str());
        LOGIT("<beta>\n");
        LOGITARG("/LOGITCLOSE");
        return 0;
    }));
    text = ReadFile(file);
    EXPECT_NE(std::string::npos, text.find("<alpha>"));
    EXPECT_NE(std::string::npos, text.find("<beta>"));
}

TEST(Logit, SkipPrefix)
{
    TempDir dir;
    std::string file = dir.file("skip.log");
    EXPECT_EQ(0, RunInChild([&] {
        LOGITARG(("/LOGIT:" + file).c_str());
        {
            std::string prefix = "NOISY";
            LOGITSKIPNEXT(prefix.c_str(), false);
        } // the prefix is copied: the caller's text may go away
        CHILD_CHECK(LOGIT("NOISY one\n") == 0);
        CHILD_CHECK(LOGIT("NOISY two\n") == 1);
        LOGITSKIPNEXT("LOUD", true);
        LOGIT("LOUD a\n");
        LOGIT("LOUD b\n");
        LOGIT("quiet\n");
        LOGITSKIPNEXT(nullptr, false);
        LOGIT("LOUD c\n");
        LOGITARG("/LOGITCLOSE");
        return 0;
    }));
    std::vector<std::string> bodies;
    for (const auto& line : BodyLines(ReadFile(file)))
        bodies.push_back(Body(line));
    EXPECT_EQ((std::vector<std::string>{"NOISY two", "quiet", "LOUD c"}), bodies);
}

TEST(Logit, ManyThreadsNeverTearALine)
{
    TempDir dir;
    std::string file = dir.file("threads.log");
    constexpr int kThreads = 8;
    constexpr int kLines = 2000;
    EXPECT_EQ(0, RunInChild([&] {
        LOGITARG(("/LOGIT:" + file).c_str());
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([t] {
                std::string payload(50 + t * 13, static_cast<char>('a' + t));
                for (int i = 0; i < kLines; ++i)
                    LOGIT("T%d %05d %s\n", t, i, payload.c_str());
            });
        }
        for (auto& th : threads)
            th.join();
        LOGITARG("/LOGITCLOSE");
        return 0;
    }));
    auto lines = BodyLines(ReadFile(file));
    ASSERT_EQ(static_cast<size_t>(kThreads * kLines), lines.size());
    std::regex line(R"(T(\d) (\d{5}) ([a-z]+))");
    std::vector<int> next(kThreads, 0);
    std::set<std::string> tids[kThreads];
    for (const auto& l : lines) {
        std::smatch m;
        std::string body = Body(l);
        ASSERT_TRUE(std::regex_match(body, m, line)) << l;
        int t = std::stoi(m[1]);
        ASSERT_EQ(next[t], std::stoi(m[2])) << "lines of one thread stay in order";
        ++next[t];
        EXPECT_EQ(std::string(50 + t * 13, static_cast<char>('a' + t)), m[3].str());
        tids[t].insert(l.substr(l.find(':') + 1, l.find(']') - l.find(':') - 1));
    }
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(1u, tids[t].size()) << "one thread id per writer";
}

namespace {

std::string gLastTitle;
std::string gLastQuestion;
int gQuestions = 0;
bool gAnswer = true;

bool RecordQuestion(const char* title, const char* question)
{
    gLastTitle = title;
    gLastQuestion = question;
    ++gQuestions;
    return gAnswer;
}

} // namespace

TEST(AssertMsg, ReportLoggedFiledAndAsked)
{
    TempDir dir;
    std::string file = dir.file("assert.log");
    EXPECT_EQ(0, RunInChild([&] {
        SetAssertQuestionHook(&RecordQuestion);
        LOGITARG(("/LOGIT:" + file).c_str());
        CHILD_CHECK(AssertMsg(1, "never", "x.cpp", 1, nullptr, false) == 1);
        CHILD_CHECK(gQuestions == 0);
        errno = ENOENT;
        CHILD_CHECK(AssertMsg(0, "p!=NULL", "/src/velmot/core/strings.cpp", 77, nullptr, false) == 1);
        CHILD_CHECK(gQuestions == 1);
        CHILD_CHECK(gLastTitle == "Tarvo Application (0.00)");
        CHILD_CHECK(gLastQuestion.find("An unexpected condition has been encountered.") == 0);
        CHILD_CHECK(gLastQuestion.find("    Condition: p!=NULL\n    Location : strings.cpp line 77\n"
                                       "    Last Err.: 2L (No such file or directory)\n    Add. Info: <null>\n") !=
                    std::string::npos);
        CHILD_CHECK(gLastQuestion.find("Do you want to try to continue with the program?") != std::string::npos);

        // quiet: reported, not asked
        CHILD_CHECK(AssertMsg(0, "quiet", "a.cpp", 2, "info text", true) == 1);
        CHILD_CHECK(gQuestions == 1);

        // /NOASSERT toggles: once off, twice on again
        LOGITARG("/NOASSERT");
        AssertMsg(0, "off", "a.cpp", 3, nullptr, false);
        CHILD_CHECK(gQuestions == 1);
        LOGITARG("-noassert");
        AssertMsg(0, "on", "a.cpp", 4, nullptr, false);
        CHILD_CHECK(gQuestions == 2);
        LOGITARG("/LOGITCLOSE");

        std::string assertfile =
            std::string(OSYS::GetSystemPath(OSYSFOLDER_LOGS).Buf()) + "Tarvo_APPLICATION_Assert.log";
        std::string filed = ReadFile(assertfile);
        CHILD_CHECK(filed.find("--- Tarvo Application (0.00) --- ") == 0);
        CHILD_CHECK(filed.find("    Condition: quiet\n") != std::string::npos);
        CHILD_CHECK(filed.find("    Add. Info: info text\n") != std::string::npos);
        return 0;
    }));
    std::string log = ReadFile(file);
    EXPECT_NE(std::string::npos, log.find("*** ASSERTION FAILED: \n    Condition: p!=NULL\n"));
}

TEST(AssertMsg, DecliningStopsTheProgram)
{
    EXPECT_EQ(3, RunInChild([] {
        gAnswer = false;
        SetAssertQuestionHook(&RecordQuestion);
        AssertMsg(0, "fatal", "a.cpp", 1, nullptr, false);
        return 0; // not reached
    }));
}
