// Printing: PDF output read back with poppler's tools, page geometry, and
// raw jobs to a file and through a stand-in print command.
#include <gtest/gtest.h>

#include "platform/draw/font.h"
#include "platform/draw/print.h"
#include "tests/platform/draw/drawtest.h"
#include "tests/support/testutil.h"

#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace plat;

namespace {

std::string RunTool(const std::vector<std::string>& argv)
{
    std::string out;
    int rc = testutil::RunProgram(argv, &out);
    EXPECT_EQ(rc, 0) << argv[0];
    return out;
}

// The word's box from `pdftotext -bbox` (points, y from the top).
struct WordBox {
    double xMin = -1, yMin = -1, xMax = -1, yMax = -1;
};

WordBox FindWord(const std::string& bboxHtml, const std::string& word)
{
    std::regex re("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">" + word +
                  "</word>");
    std::smatch m;
    WordBox box;
    if (std::regex_search(bboxHtml, m, re))
        box = WordBox{std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4])};
    return box;
}

} // namespace

TEST(Printers, ListingWorksWithoutAPrintSystem)
{
    std::vector<PrinterInfo> printers = ListPrinters();
    PrinterInfo def = DefaultPrinter();
    if (printers.empty()) {
        EXPECT_TRUE(def.id.empty());
    }
    for (const PrinterInfo& p : printers)
        EXPECT_FALSE(p.id.empty());
    EXPECT_FALSE(PrintJob::ToPrinter("no-such-printer-queue", PageSetup{}, "x"));
    EXPECT_FALSE(PrintJob::ToPrinter("", PageSetup{}, "x"));
}

TEST(PrintJob, PageGeometryFollowsPaperOrientationAndMargins)
{
    testutil::TempDir dir;
    struct Case {
        const char* paper;
        Orientation orientation;
        double width, height;
    };
    const Case cases[] = {
        {"A4", Orientation::Portrait, 595.28, 841.89},
        {"letter", Orientation::Portrait, 612, 792},
        {"A4", Orientation::Landscape, 841.89, 595.28},
        {"no such paper", Orientation::Portrait, 595.28, 841.89},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.paper) + (c.orientation == Orientation::Landscape ? " landscape" : ""));
        PageSetup setup;
        setup.paper = c.paper;
        setup.orientation = c.orientation;
        setup.marginLeft = 72;
        setup.marginTop = 36;
        setup.marginRight = 54;
        setup.marginBottom = 18;
        auto job = PrintJob::ToPdf(dir.file("g.pdf"), setup, "geometry");
        ASSERT_TRUE(job);
        Rect paper = job->PaperRect();
        EXPECT_NEAR(paper.width, c.width, 0.5);
        EXPECT_NEAR(paper.height, c.height, 0.5);
        Rect printable = job->PrintableRect();
        EXPECT_DOUBLE_EQ(printable.x, 72);
        EXPECT_DOUBLE_EQ(printable.y, 18); // y-up: the bottom margin
        EXPECT_NEAR(printable.width, paper.width - 126, 0.001);
        EXPECT_NEAR(printable.height, paper.height - 54, 0.001);
        EXPECT_EQ(job->Resolution(), 72);
        EXPECT_EQ(job->PageCount(), 0);
        EXPECT_TRUE(job->Finish()); // no pages, nothing written
    }
    PageSetup custom;
    custom.customPaper = {300, 200};
    auto job = PrintJob::ToPdf(dir.file("c.pdf"), custom, "custom");
    EXPECT_NEAR(job->PaperRect().width, 300, 0.5);
    EXPECT_NEAR(job->PaperRect().height, 200, 0.5);
}

TEST(PrintJob, PdfHasTheTextOfEachPageWithinTheMargins)
{
    testutil::TempDir dir;
    std::string pdf = dir.file("out.pdf");
    PageSetup setup;
    setup.marginLeft = setup.marginTop = setup.marginRight = setup.marginBottom = 72;
    auto job = PrintJob::ToPdf(pdf, setup, "two pages");
    ASSERT_TRUE(job);
    auto font = Font::Create("Courier", 12);
    ASSERT_TRUE(font);
    const double ascent = font->Metrics().ascent;
    Rect area = job->PrintableRect();
    const char16_t* pages[][2] = {{u"FirstPageTop", u"line two of page one"},
                                  {u"SecondPageTop", u"Zw\u00F6lf Boxk\u00E4mpfer \u03BB"}};
    for (auto& lines : pages) {
        DrawContext* dc = job->BeginPage();
        ASSERT_NE(dc, nullptr);
        EXPECT_TRUE(dc->IsBottomUp());
        dc->SetFillColor(ColorFromValue(0));
        // The first line's top touches the top margin, at the left margin.
        double baseline = area.MaxY() - ascent;
        dc->DrawText(*font, {area.x, baseline}, std::u16string_view(lines[0]));
        dc->DrawCells(*font, {area.x, baseline - 14}, std::u16string_view(lines[1]), 7);
    }
    EXPECT_EQ(job->PageCount(), 2);
    ASSERT_TRUE(job->Finish());
    EXPECT_EQ(job->BeginPage(), nullptr); // finished

    std::string info = RunTool({"pdfinfo", pdf});
    EXPECT_TRUE(std::regex_search(info, std::regex("Pages: +2\n"))) << info;
    EXPECT_TRUE(std::regex_search(info, std::regex("Page size: +595(\\.[0-9]+)? x 84[12](\\.[0-9]+)? pts"))) << info;
    EXPECT_TRUE(std::regex_search(info, std::regex("Title: +two pages\n"))) << info;

    std::string text = RunTool({"pdftotext", "-layout", pdf, "-"});
    size_t ff = text.find('\f');
    ASSERT_NE(ff, std::string::npos) << text;
    std::string one = text.substr(0, ff), two = text.substr(ff + 1);
    EXPECT_NE(one.find("FirstPageTop"), std::string::npos) << one;
    EXPECT_NE(one.find("line two of page one"), std::string::npos) << one;
    EXPECT_EQ(one.find("SecondPageTop"), std::string::npos);
    EXPECT_NE(two.find("SecondPageTop"), std::string::npos) << two;
    EXPECT_NE(two.find("Zw\u00F6lf Boxk\u00E4mpfer \u03BB"), std::string::npos) << two;

    std::string bbox = RunTool({"pdftotext", "-bbox", "-f", "1", "-l", "1", pdf, "-"});
    WordBox top = FindWord(bbox, "FirstPageTop");
    EXPECT_NEAR(top.xMin, 72, 2) << bbox;
    EXPECT_NEAR(top.yMin, 72, 3) << bbox; // measured from the paper's top edge
    WordBox second = FindWord(bbox, "two");
    EXPECT_GT(second.yMin, top.yMin + 10); // the next line is lower on the page
}

TEST(RawPrintJob, FileReceivesTheExactBytes)
{
    testutil::TempDir dir;
    static const char kBytes[] = "\x1B@\x00\xFF\r\n\x0C plain text";
    std::string bytes(kBytes, sizeof kBytes - 1);
    auto job = RawPrintJob::ToFile(dir.file("raw.bin"));
    ASSERT_TRUE(job);
    EXPECT_TRUE(job->Write(bytes.substr(0, 4)));
    EXPECT_TRUE(job->Write(bytes.data() + 4, bytes.size() - 4));
    EXPECT_EQ(job->BytesWritten(), bytes.size());
    EXPECT_TRUE(job->Finish());
    EXPECT_FALSE(job->Write("late"));
    EXPECT_EQ(testutil::ReadFile(dir.file("raw.bin")), bytes);
    EXPECT_FALSE(RawPrintJob::ToFile(dir.file("no/such/folder/raw.bin")));
}

TEST(RawPrintJob, PrinterJobRunsThePrintCommandWithAnArgumentVector)
{
    testutil::TempDir dir;
    // A stand-in for lp: records its arguments and the file it was given.
    std::string script = dir.file("fake-lp");
    testutil::WriteFile(script, "#!/bin/sh\n"
                                "out=\"$(dirname \"$0\")\"\n"
                                "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$out/args\"\n"
                                "for a in \"$@\"; do last=\"$a\"; done\n"
                                "cat \"$last\" > \"$out/data\"\n"
                                "exit \"${FAKE_LP_EXIT:-0}\"\n");
    chmod(script.c_str(), 0700);
    const std::string printer = "queue; touch " + dir.file("pwned");
    static const char kBytes[] = "\x1B(s0P\x00\x01 raw \xFE";
    std::string bytes(kBytes, sizeof kBytes - 1);
    auto job = RawPrintJob::ToPrinter(printer, "My Title $(id)", script);
    ASSERT_TRUE(job);
    EXPECT_TRUE(job->Write(bytes));
    EXPECT_TRUE(job->Finish());

    std::istringstream args(testutil::ReadFile(dir.file("args")));
    std::vector<std::string> argv;
    for (std::string line; std::getline(args, line);)
        argv.push_back(line);
    ASSERT_EQ(argv.size(), 7u);
    EXPECT_EQ(argv[0], "-d");
    EXPECT_EQ(argv[1], printer);
    EXPECT_EQ(argv[2], "-o");
    EXPECT_EQ(argv[3], "raw");
    EXPECT_EQ(argv[4], "-t");
    EXPECT_EQ(argv[5], "My Title $(id)");
    EXPECT_EQ(argv[6][0], '/');
    EXPECT_EQ(testutil::ReadFile(dir.file("data")), bytes);
    EXPECT_NE(access(argv[6].c_str(), F_OK), 0); // the temporary file is gone
    EXPECT_NE(access(dir.file("pwned").c_str(), F_OK), 0);

    // A failing or missing command is reported.
    setenv("FAKE_LP_EXIT", "3", 1);
    auto failing = RawPrintJob::ToPrinter("queue", "t", script);
    ASSERT_TRUE(failing);
    failing->Write("x");
    EXPECT_FALSE(failing->Finish());
    unsetenv("FAKE_LP_EXIT");
    auto missing = RawPrintJob::ToPrinter("queue", "t", dir.file("no-such-program"));
    ASSERT_TRUE(missing);
    EXPECT_FALSE(missing->Finish());
    EXPECT_FALSE(RawPrintJob::ToPrinter("", "t", script));
}

TEST(RawPrintJob, AHangingPrintCommandIsStopped)
{
    testutil::TempDir dir;
    std::string script = dir.file("slow-lp");
    testutil::WriteFile(script, "#!/bin/sh\nexec sleep 30\n");
    chmod(script.c_str(), 0700);
    auto job = RawPrintJob::ToPrinter("queue", "t", script);
    ASSERT_TRUE(job);
    job->Write("x");
    EXPECT_FALSE(job->Finish(200));
}
