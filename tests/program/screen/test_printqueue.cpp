// The print queue: jobs printed to PDF files and read back with poppler's
// pdftotext (text in the job's code page, header and margins), file jobs
// with the raw prefix and no postfix, the full table, late writes through
// a closed handle, writer threads against the pumping main thread, and the
// margins setting.
#include "program/screen/printqueue.h"

#include "tests/support/testutil.h"
#include "tests/velmot/gui/guitest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

class HOST : public PRINTQUEUEHOST {
public:
    explicit HOST(std::string const& folder) : Folder(folder) {}
    PROGRAMSETTINGSDATA const& PrintSettings() override { return Settings; }
    void PrintErrorMsg(char const* text) override { Errors.push_back(text); }
    std::string PrintWorkFolder() override { return Folder; }
    std::string AskPrintFile(char const* proposal) override
    {
        Asked.push_back(proposal);
        return Answer;
    }
    void Use(std::string const& printer)
    {
        snprintf(Settings.Printer, sizeof Settings.Printer, "%s", printer.c_str());
    }

    PROGRAMSETTINGSDATA Settings{};
    std::string Folder;
    std::string Answer;
    std::vector<std::string> Errors, Asked;
};

class OWNER : public PRINTJOBOWNER {
public:
    int PrintMakeCtrl(char* text, int size) override
    {
        // "^M" and "^[" as the caret notation has them, "^D" the day.
        std::string in = text, out;
        for (size_t i = 0; i < in.size(); ++i) {
            if (in[i] == '^' && i + 1 < in.size()) {
                char const c = in[++i];
                out += c == 'D' ? std::string("11") : std::string(1, static_cast<char>(c & 0x1F));
            } else {
                out += in[i];
            }
        }
        snprintf(text, static_cast<size_t>(size), "%s", out.c_str());
        return static_cast<int>(strlen(text));
    }
    void PrintNotify(char const* text) override { Notices.push_back(text); }
    std::vector<std::string> Notices;
};

std::string PdfText(std::string const& pdf, bool layout = false)
{
    std::string out;
    std::vector<std::string> argv = {"pdftotext", "-enc", "UTF-8"};
    if (layout)
        argv.push_back("-layout");
    argv.push_back(pdf);
    argv.push_back("-");
    EXPECT_EQ(testutil::RunProgram(argv, &out), 0);
    return out;
}

} // namespace

class PrintQueueTest : public ::testing::Test {
protected:
    PrintQueueTest() : Host(Dir.path()), Queue(Host) { Queue.RetryMs = 1; }
    testutil::TempDir Dir;
    HOST Host;
    OWNER Owner;
    PRINTQUEUE Queue;
};

TEST_F(PrintQueueTest, TextReachesAPdfWholeWithItsHeaderAndMargins)
{
    std::string const pdf = Dir.file("out.pdf");
    Host.Use("PDF|file:" + pdf);
    wcscpy(Host.Settings.PrintHeader, L"Host %CONNECTEDTO%");
    snprintf(Host.Settings.PrinterMargins, sizeof Host.Settings.PrinterMargins, "mm|30|25|0|20");
    void* job = Queue.NewJob(Owner, L"myhost", 0, 1000, 0);
    ASSERT_NE(job, nullptr) << ::testing::PrintToString(Host.Errors);
    ASSERT_EQ(Owner.Notices.size(), 1u);
    // UTF-8 bytes split inside a character between two writes and pumps.
    std::string const text = "caf\xC3\xA9 na\xC3\xAFve\r\n\xCE\xB1\xCE\xB2\xCE\xB3 \xE4\xB8\xAD\xE6\x96\x87\r\nlast line\r\n";
    size_t const cut = text.find("\xA9");
    EXPECT_EQ(Queue.Write(job, text.data(), static_cast<int>(cut)), 1);
    Queue.QueueTick();
    EXPECT_EQ(Queue.Write(job, text.data() + cut, static_cast<int>(text.size() - cut)), 1);
    EXPECT_EQ(Queue.WriteWide(job, L"wide \u00fcber\r\n", -1), 1);
    EXPECT_EQ(Queue.CloseJob(job), 1);
    EXPECT_EQ(Queue.OpenJobs(), 0);
    std::string const shown = PdfText(pdf);
    for (char const* want : {"Host myhost", "caf\xC3\xA9 na\xC3\xAFve", "\xCE\xB1\xCE\xB2\xCE\xB3", "\xE4\xB8\xAD\xE6\x96\x87",
                             "last line", "wide \xC3\xBC" "ber"})
        EXPECT_NE(shown.find(want), std::string::npos) << want << " in\n" << shown;
    // The text starts at the left margin: 30 mm are 85 points.
    std::string boxes;
    ASSERT_EQ(testutil::RunProgram({"pdftotext", "-bbox", pdf, "-"}, &boxes), 0);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(boxes, m, std::regex("<word xMin=\"([0-9.]+)\"[^>]*>last</word>")));
    EXPECT_NEAR(std::stod(m[1]), 30 * 72 / 25.4, 2.0);
}

TEST_F(PrintQueueTest, FileJobsRawPrefixWithoutPostfixAndTheirTargets)
{
    Host.Use("LPTFILE|out-^D.prn");
    Host.Settings.PrintRaw = 1;
    snprintf(Host.Settings.PrinterRawPrefix, sizeof Host.Settings.PrinterRawPrefix, "^[E");
    snprintf(Host.Settings.PrinterRawPostfix, sizeof Host.Settings.PrinterRawPostfix, "^L");
    void* job = Queue.NewJob(Owner, L"t", 1, 1252, 1);
    ASSERT_NE(job, nullptr);
    EXPECT_TRUE(Owner.Notices.empty());
    Queue.Write(job, "raw\x01\xff", 5);
    Queue.WriteWide(job, L"\u00e9", 1);
    Queue.CloseJob(job);
    EXPECT_EQ(testutil::ReadFile(Dir.file("out-11.prn")), std::string("\x1b" "Eraw\x01\xff\xe9"));

    // Text in UTF-8 stays UTF-8 in the file (no low 8 bits).
    Host.Settings.PrintRaw = 0;
    job = Queue.NewJob(Owner, L"t", 0, 1000, 1);
    ASSERT_NE(job, nullptr);
    Queue.WriteWide(job, L"\u03b1\u4e2d", 2);
    Queue.CloseJob(job);
    EXPECT_EQ(testutil::ReadFile(Dir.file("out-11.prn")), "\xCE\xB1\xE4\xB8\xAD");

    // The secret codes of the caret notation are never expanded here.
    Host.Use("LPTFILE|x^&y^%z.prn");
    job = Queue.NewJob(Owner, L"t", 0, 1252, 1);
    ASSERT_NE(job, nullptr);
    Queue.CloseJob(job);
    EXPECT_EQ(access(Dir.file("xyz.prn").c_str(), F_OK), 0);

    // "*" asks for the file; a cancelled question prints nothing and says
    // nothing.
    Host.Use("LPTFILE|*");
    EXPECT_EQ(Queue.NewJob(Owner, L"t", 0, 1252, 1), nullptr);
    ASSERT_EQ(Host.Asked.size(), 1u);
    EXPECT_TRUE(Host.Errors.empty());
    Host.Answer = Dir.file("picked.txt");
    job = Queue.NewJob(Owner, L"t", 0, 1252, 0);
    ASSERT_NE(job, nullptr);
    Queue.Write(job, "picked", -1);
    Queue.CloseJob(job);
    EXPECT_EQ(testutil::ReadFile(Host.Answer), "picked");
    ASSERT_EQ(Owner.Notices.size(), 1u);
    EXPECT_NE(Owner.Notices[0].find("picked.txt"), std::string::npos);

    // A file that cannot be made: three tries, then the error box.
    Host.Use("LPTFILE|missing/folder/x.prn");
    EXPECT_EQ(Queue.NewJob(Owner, L"t", 0, 1252, 1), nullptr);
    EXPECT_EQ(Host.Errors.size(), 1u);
    EXPECT_EQ(Queue.OpenJobs(), 0);
}

TEST_F(PrintQueueTest, TheTableHoldsSixtyFourJobsAndClosedHandlesReachNothing)
{
    Host.Use("LPTFILE|job.prn");
    std::vector<void*> jobs;
    for (int i = 0; i < PRINTQUEUE::MAXJOBS; ++i) {
        jobs.push_back(Queue.NewJob(Owner, L"t", 0, 1252, 1));
        ASSERT_NE(jobs.back(), nullptr) << i;
    }
    EXPECT_EQ(Queue.NewJob(Owner, L"t", 0, 1252, 1), nullptr);
    EXPECT_EQ(Host.Errors.size(), 1u);
    for (void* job : jobs)
        Queue.CloseJob(job);
    EXPECT_EQ(Queue.OpenJobs(), 0);

    // The record of a closed job serves the next one; the old handle
    // writes nowhere.
    Host.Use("LPTFILE|first.prn");
    void* first = Queue.NewJob(Owner, L"t", 0, 1252, 1);
    Queue.Write(first, "one", 3);
    Queue.CloseJob(first);
    Host.Use("LPTFILE|second.prn");
    void* second = Queue.NewJob(Owner, L"t", 0, 1252, 1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Queue.Write(first, "late", 4), 0);
    EXPECT_EQ(Queue.CloseJob(first), 0);
    Queue.Write(second, "two", 3);
    Queue.CloseJob(second);
    EXPECT_EQ(testutil::ReadFile(Dir.file("first.prn")), "one");
    EXPECT_EQ(testutil::ReadFile(Dir.file("second.prn")), "two");
    EXPECT_EQ(Queue.Write(nullptr, "x", 1), 0);
    EXPECT_EQ(Queue.Write(reinterpret_cast<void*>(uintptr_t{0x12345678}), "x", 1), 0);
}

TEST_F(PrintQueueTest, WriterThreadsAndThePumpingMainThread)
{
    constexpr int kThreads = 4, kLines = 3000;
    std::vector<void*> jobs;
    for (int t = 0; t < kThreads; ++t) {
        Host.Use("LPTFILE|thread" + std::to_string(t) + ".txt");
        jobs.push_back(Queue.NewJob(Owner, L"t", 0, 1252, 1));
        ASSERT_NE(jobs.back(), nullptr);
    }
    std::atomic<int> done{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) {
                std::string const line = "job " + std::to_string(t) + " line " + std::to_string(i) + "\n";
                Queue.Write(jobs[static_cast<size_t>(t)], line.data(), static_cast<int>(line.size()));
            }
            // Closed off the main thread: the pump is posted.
            Queue.CloseJob(jobs[static_cast<size_t>(t)]);
            ++done;
        });
    }
    EXPECT_TRUE(guitest::RunUntil(
        [&] {
            Queue.QueueTick();
            return done == kThreads && Queue.OpenJobs() == 0;
        },
        20000));
    for (auto& w : writers)
        w.join();
    for (int t = 0; t < kThreads; ++t) {
        std::string expected;
        for (int i = 0; i < kLines; ++i)
            expected += "job " + std::to_string(t) + " line " + std::to_string(i) + "\n";
        EXPECT_EQ(testutil::ReadFile(Dir.file("thread" + std::to_string(t) + ".txt")), expected) << t;
    }
}

TEST(PrintMargins, UnitsNumbersAndDefaults)
{
    struct CASE {
        char const* Text;
        RECT Expected;
    };
    CASE const cases[] = {
        {"", {15, 20, 0, 20}},
        {nullptr, {15, 20, 0, 20}},
        {"mm|7", {7, 20, 0, 20}},
        {"in|0.5|1|0|1", {12, 25, 0, 25}},
        {"cm|1.5|2|0.09|3", {15, 20, 0, 30}},
        {"pt|72|36|0|144", {25, 12, 0, 50}},
        {"furlong|5|6|7|8", {5, 6, 7, 8}},
        {"MM|1.9|2|3|4", {1, 2, 3, 4}},
        {"mm|-5|x|1e300|nan", {0, 0, 100, 20}},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.Text ? c.Text : "(null)");
        RECT r{-1, -1, -1, -1};
        PRINTQUEUE::MakePrinterMargins(c.Text, &r);
        EXPECT_EQ(r.left, c.Expected.left);
        EXPECT_EQ(r.top, c.Expected.top);
        EXPECT_EQ(r.right, c.Expected.right);
        EXPECT_EQ(r.bottom, c.Expected.bottom);
    }
}
