// A session's printing end to end into PDF files, read back with poppler's
// pdftotext: the screen (8482) with its header, the emulation's printer
// controller, printer logging of received text (8455-8457) and the capture
// buffer (8394); UTF-8 text intact. With QOR_REVIEW_DIR set to a folder the
// printed screen's first page is written there as a picture (pdftoppm).
#include "tests/program/session/sessionfixture.h"

#include "program/screen/printqueue.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

using namespace sessiontest;

namespace {

[[maybe_unused]] bool const kPlatform = (UsePlatform(), true);

class PRINTHOST : public PRINTQUEUEHOST {
public:
    PROGRAMSETTINGSDATA const& PrintSettings() override { return Settings; }
    void PrintErrorMsg(char const* text) override { Errors.push_back(text); }
    PROGRAMSETTINGSDATA Settings{};
    std::vector<std::string> Errors;
};

std::string PdfText(std::string const& pdf, bool layout = true)
{
    std::string out;
    std::vector<std::string> argv = {"pdftotext", "-enc", "UTF-8"};
    if (layout)
        argv.push_back("-layout");
    argv.push_back(pdf);
    argv.push_back("-");
    EXPECT_EQ(testutil::RunProgram(argv, &out), 0) << pdf;
    return out;
}

} // namespace

class PrintTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        Host.Queue = &Queue;
        ASSERT_TRUE(Open(5, 0));
        S->Prof.data.CodePage = 1000;
    }
    void TearDown() override
    {
        SessionTest::TearDown();
        Host.Queue = nullptr;
    }
    std::string Target(std::string const& name)
    {
        std::string const pdf = Work.file(name);
        snprintf(Print.Settings.Printer, sizeof Print.Settings.Printer, "PDF|file:%s", pdf.c_str());
        return pdf;
    }
    PRINTHOST Print;
    PRINTQUEUE Queue{Print};
};

TEST_F(PrintTest, TheScreenWithItsHeaderAndMargins)
{
    std::string const pdf = Target("screen.pdf");
    wcscpy(Print.Settings.PrintHeader, L"Printed from %CONNECTEDTO%");
    snprintf(Print.Settings.PrinterMargins, sizeof Print.Settings.PrinterMargins, "mm|25|20|0|20");
    Host.HostName = L"printhost";
    Inject("first row\r\n  caf\xC3\xA9 \xCE\xB1\xCE\xB2\xCE\xB3 \xE4\xB8\xAD\xE6\x96\x87\r\nlast row");
    ASSERT_TRUE(WaitShown());
    S->ProcessEvent(8482, 0, nullptr);
    ASSERT_TRUE(Pump([&] { return Queue.OpenJobs() == 0; }));
    std::string const text = PdfText(pdf);
    EXPECT_NE(text.find("Printed from printhost"), std::string::npos) << text;
    EXPECT_NE(text.find("first row"), std::string::npos) << text;
    EXPECT_NE(text.find("caf\xC3\xA9 \xCE\xB1\xCE\xB2\xCE\xB3 \xE4\xB8\xAD\xE6\x96\x87"), std::string::npos) << text;
    EXPECT_NE(text.find("last row"), std::string::npos) << text;
    // The rows are printed in order, below the header, at the left margin
    // (25 mm: 70.9 points).
    std::string boxes;
    ASSERT_EQ(testutil::RunProgram({"pdftotext", "-bbox", pdf, "-"}, &boxes), 0);
    std::smatch first, last, header;
    ASSERT_TRUE(std::regex_search(boxes, first, std::regex("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\"[^>]*>first</word>")));
    ASSERT_TRUE(std::regex_search(boxes, last, std::regex("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\"[^>]*>last</word>")));
    ASSERT_TRUE(std::regex_search(boxes, header, std::regex("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\"[^>]*>Printed</word>")));
    EXPECT_NEAR(std::stod(first[1]), 25 * 72 / 25.4, 2.0);
    EXPECT_LT(std::stod(header[2]), std::stod(first[2]));
    EXPECT_LT(std::stod(first[2]), std::stod(last[2]));
    EXPECT_EQ(Host.Take("notify ").size(), 1u);

    if (char const* folder = std::getenv("QOR_REVIEW_DIR")) {
        EXPECT_EQ(testutil::RunProgram({"pdftoppm", "-png", "-r", "60", "-f", "1", "-l", "1", "-singlefile", pdf,
                                        std::string(folder) + "/printed-screen"}),
                  0);
    }
}

TEST_F(PrintTest, PrinterControllerPrinterLoggingAndTheCaptureBuffer)
{
    // The emulation's printer controller: a job while it is on.
    std::string const controlled = Target("controller.pdf");
    EXPECT_NE(S->EmuLayer.PrinterControl(EMULATION::PRINTER_ON, 0), nullptr);
    void* job = S->EmuLayer.PrinterControl(EMULATION::PRINTER_QUERY, 0);
    ASSERT_NE(job, nullptr);
    std::string const passed = "to the printer \xC3\xA9\xCE\xB1\r\n";
    S->PrinterWrite(job, passed.data(), static_cast<int>(passed.size()));
    S->EmuLayer.PrinterControl(EMULATION::PRINTER_OFF, 1);
    ASSERT_TRUE(Pump([&] { return Queue.OpenJobs() == 0; }));
    EXPECT_NE(PdfText(controlled).find("to the printer \xC3\xA9\xCE\xB1"), std::string::npos);

    // Printer logging: received text goes to a job until it is switched
    // off.
    std::string const logged = Target("logged.pdf");
    S->ProcessEvent(8456, 0, nullptr);
    EXPECT_TRUE(S->Logging.PrinterLogging());
    Inject("logged \xE4\xB8\xAD line\r\n");
    ASSERT_TRUE(WaitShown());
    S->ProcessEvent(8457, 0, nullptr);
    EXPECT_FALSE(S->Logging.PrinterLogging());
    Inject("not logged\r\n");
    ASSERT_TRUE(WaitShown());
    ASSERT_TRUE(Pump([&] { return Queue.OpenJobs() == 0; }));
    std::string const text = PdfText(logged);
    EXPECT_NE(text.find("logged \xE4\xB8\xAD line"), std::string::npos) << text;
    EXPECT_EQ(text.find("not logged"), std::string::npos) << text;

    // The capture buffer printed (8394).
    std::string const captured = Target("capture.pdf");
    S->ProcessEvent(8394, 0, nullptr);
    ASSERT_TRUE(Pump([&] { return Queue.OpenJobs() == 0; }));
    std::string const all = PdfText(captured);
    EXPECT_NE(all.find("logged \xE4\xB8\xAD line"), std::string::npos) << all;
    EXPECT_NE(all.find("not logged"), std::string::npos) << all;

    // Without a print queue nothing is opened and nothing breaks.
    Host.Queue = nullptr;
    S->ProcessEvent(8482, 0, nullptr);
    EXPECT_TRUE(Print.Errors.empty());
}
