// PRINTER: jobs written as PDF files and read back with poppler's
// pdftotext and pdfinfo, the layout rules (margins, tabs, backspace, line
// and form feeds, wrapping, page breaks), the header and its placeholders,
// raw jobs, settings blobs and the print dialog through its responder.
#include "platform/draw/print.h"
#include "platform/draw/printdialog.h"
#include "platform/events/modal.h"
#include "tests/support/testutil.h"
#include "tests/velmot/core/assertrecorder.h"
#include "tests/velmot/gui/guitest.h"
#include "velmot/core/osys.h"
#include "velmot/gui/printer.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Tool(const std::vector<std::string>& argv)
{
    std::string out;
    int rc = testutil::RunProgram(argv, &out);
    EXPECT_EQ(rc, 0) << argv[0];
    return out;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

int Pages(const std::string& pdf)
{
    std::smatch m;
    std::string info = Tool({"pdfinfo", pdf});
    return std::regex_search(info, m, std::regex("Pages:\\s+([0-9]+)")) ? std::stoi(m[1]) : -1;
}

// The words of one page with their boxes (points, y from the top).
struct Word {
    std::string text;
    double xMin, yMin, xMax, yMax;
};
std::vector<Word> Words(const std::string& pdf, int page)
{
    std::string html = Tool({"pdftotext", "-bbox", "-f", std::to_string(page), "-l", std::to_string(page), pdf, "-"});
    std::regex re("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>");
    std::vector<Word> out;
    for (auto it = std::sregex_iterator(html.begin(), html.end(), re); it != std::sregex_iterator(); ++it)
        out.push_back(Word{(*it)[5], std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]), std::stod((*it)[4])});
    return out;
}
const Word* Find(const std::vector<Word>& words, const std::string& text)
{
    for (const Word& w : words)
        if (w.text == text)
            return &w;
    return nullptr;
}

// A printer opened on a PDF file in a private folder, with a 10-point
// monospaced font and margins of 20 mm; pages are A4 at 72 points per inch.
class PdfJob : public ::testing::Test {
protected:
    void SetUp() override
    {
        pdf = dir.file("out.pdf");
        std::string ref = "PDF|file:" + pdf;
        char name[16];
        ASSERT_EQ(printer.PrinterOpen(ref.c_str(), 0, name, sizeof name), 1);
        EXPECT_STREQ(name, "PDF");
        ASSERT_TRUE(printer.SetFont("Courier", 10, false, false, true, 1252));
        printer.SetMargins(20, 20, 20, 20);
    }
    void Start(bool linefeedOnly = false)
    {
        ASSERT_EQ(printer.StartDoc("test job", linefeedOnly), 1);
        ASSERT_EQ(printer.NewPage(), 1);
        ASSERT_EQ(printer.WriteText("", 0), 1); // measures the cell
        cell = printer.CellWidth;
        ASSERT_GT(cell, 0);
    }
    std::string Text() { return Tool({"pdftotext", "-layout", pdf, "-"}); }
    int Column() const { return (printer.X - printer.Margins.left) / cell; }

    testutil::TempDir dir;
    std::string pdf;
    PRINTER printer;
    int cell = 0;
};

} // namespace

TEST_F(PdfJob, MarginsAreMillimetresOnThePage)
{
    printer.SetMargins(10, 10, 10, 10);
    Start();
    // 720 x 10 / 254 = 28 points, truncated.
    EXPECT_EQ(printer.ResolutionX, 72);
    EXPECT_EQ(printer.Margins.left, 28);
    EXPECT_EQ(printer.Margins.top, 28);
    EXPECT_EQ(printer.PaperRect.right, 595); // A4, in whole points
    EXPECT_NEAR(printer.PaperRect.bottom, 842, 1);
    EXPECT_EQ(printer.Margins.right, 595 - 28);
    EXPECT_EQ(printer.Margins.bottom, printer.PaperRect.bottom - 28);
    EXPECT_EQ(printer.X, 28);
    EXPECT_EQ(printer.Y, 28);
    EXPECT_EQ(printer.MarginLeft, 100);
    EXPECT_TRUE(printer.EndDoc());
}

TEST_F(PdfJob, TextAndHeaderReachThePdf)
{
    Start();
    EXPECT_EQ(printer.WriteText("Hello\tWorld\r\nsecond line\n"), 1);
    // The header comes after StartDoc and is printed from the next page on.
    printer.SetHeader("Left %PAGE%|Mid|%USERNAME% on %COMPUTERNAME%");
    EXPECT_EQ(printer.WriteText("\fpage two\n"), 1);
    EXPECT_EQ(printer.PageNumber, 2);
    EXPECT_TRUE(printer.EndDoc());

    EXPECT_EQ(Pages(pdf), 2);
    std::vector<std::string> page1 = Lines(Tool({"pdftotext", "-layout", "-f", "1", "-l", "1", pdf, "-"}));
    std::string text1;
    for (auto& l : page1)
        text1 += l + "\n";
    EXPECT_NE(text1.find("Hello"), std::string::npos) << text1;
    EXPECT_NE(text1.find("second line"), std::string::npos) << text1;
    EXPECT_EQ(text1.find("Mid"), std::string::npos) << text1;

    std::vector<Word> words = Words(pdf, 1);
    const Word* hello = Find(words, "Hello");
    const Word* world = Find(words, "World");
    const Word* second = Find(words, "second");
    ASSERT_TRUE(hello && world && second);
    // Left margin 56 points; the tab stop after column 5 is column 8.
    EXPECT_NEAR(hello->xMin, 56, 1.5);
    EXPECT_NEAR(world->xMin, 56 + 8 * cell, 1.5);
    EXPECT_NEAR(second->xMin, 56, 1.5);
    EXPECT_GT(second->yMin, hello->yMin + 8);

    std::vector<Word> words2 = Words(pdf, 2);
    const Word* left = Find(words2, "Left");
    const Word* number = Find(words2, "2");
    const Word* mid = Find(words2, "Mid");
    const Word* user = Find(words2, OSYS::GetCurrentUserName().Buf());
    const Word* host = Find(words2, OSYS::ComputerName().Buf());
    const Word* page = Find(words2, "page");
    ASSERT_TRUE(left && number && mid && user && host && page) << Tool({"pdftotext", "-f", "2", pdf, "-"});
    // The header's top is 8 mm below the paper's edge, above the text.
    EXPECT_NEAR(left->yMin, 22.7, 3);
    EXPECT_LT(left->yMax, page->yMin);
    EXPECT_NEAR(left->xMin, 56, 1.5);
    // Centre: centred on the middle of the margins less 3 mm; right part
    // ends 8 mm inside the right margin.
    const double middle = (56 + 539) / 2 - 8;
    EXPECT_NEAR((mid->xMin + mid->xMax) / 2, middle, 3);
    EXPECT_NEAR(host->xMax, 539 - 22, 3);
}

TEST_F(PdfJob, DatesAndTimesInTheHeader)
{
    Start();
    printer.SetHeader("%DATE%||%TIME%");
    printer.NewPage();
    printer.WriteText("x");
    EXPECT_TRUE(printer.EndDoc());
    std::string text = Tool({"pdftotext", "-f", "2", pdf, "-"});
    // The texts are printed as they are; their blanks do not survive
    // pdftotext.
    STRING date = OSYS::CurrentDateLocalized();
    date.Trim();
    EXPECT_NE(text.find(date.Buf()), std::string::npos) << text;
    EXPECT_EQ(text.find("%DATE%"), std::string::npos);
    EXPECT_EQ(text.find("%TIME%"), std::string::npos);
}

TEST_F(PdfJob, CursorRules)
{
    Start();
    const int left = printer.Margins.left;
    struct Step {
        const char* text;
        int column;
        int line; // lines below the top margin
    };
    const Step steps[] = {
        {"abc", 3, 0},       {"\t", 8, 0},         {"\t", 16, 0}, {"\r", 0, 0},
        {"a\b", 1, 0},        // one cell right of the margin: stays
        {"ab\b", 2, 0},       {"\n", 0, 1},         {"xyz\r\n", 0, 2},
        {"\x01\x0b\x1b", 0, 2}, // other control characters are skipped
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::PrintToString(std::string(s.text)));
        EXPECT_EQ(printer.WriteText(s.text), 1);
        EXPECT_EQ(printer.X, left + s.column * cell);
        EXPECT_EQ(printer.Y, printer.Margins.top + s.line * printer.CellHeight);
    }
    int px = -1, py = -1;
    printer.SetCurrentPosPercent(50, 25);
    printer.GetCurrentPosPercent(&px, &py);
    EXPECT_NEAR(px, 50, 1); // integer divisions both ways
    EXPECT_NEAR(py, 25, 1);
    EXPECT_EQ(printer.X, left + (printer.Margins.right - left) / 2);
    EXPECT_TRUE(printer.EndDoc());
}

TEST_F(PdfJob, LinefeedOnlyKeepsTheColumn)
{
    Start(true);
    printer.WriteText("abcd\n");
    EXPECT_EQ(Column(), 4);
    printer.WriteText("\r\n");
    EXPECT_EQ(Column(), 0);
    EXPECT_EQ(printer.Y, printer.Margins.top + 2 * printer.CellHeight);
    EXPECT_TRUE(printer.EndDoc());
}

TEST_F(PdfJob, LongLinesWrapAfterTheLastWholeCell)
{
    Start();
    const int perLine = (printer.Margins.right - printer.Margins.left) / cell;
    // A run that ends exactly at the right margin stays on its line.
    std::string exact(size_t(perLine), 'e');
    printer.WriteText(exact.c_str());
    EXPECT_EQ(printer.Y, printer.Margins.top);
    EXPECT_EQ(printer.X, printer.Margins.left + perLine * cell);
    // Anything more goes to the next line.
    printer.WriteText("X\r\n");
    std::string longer = std::string(size_t(perLine), 'a') + "bbb";
    printer.WriteText(longer.c_str());
    EXPECT_EQ(Column(), 3);
    EXPECT_TRUE(printer.EndDoc());
    std::vector<std::string> lines = Lines(Text());
    std::vector<std::string> content;
    for (auto& l : lines)
        if (l.find_first_not_of(" \f") != std::string::npos)
            content.push_back(l.substr(l.find_first_not_of(" \f")));
    ASSERT_EQ(content.size(), 4u) << Text();
    EXPECT_EQ(content[0], exact);
    EXPECT_EQ(content[1], "X");
    EXPECT_EQ(content[2], std::string(size_t(perLine), 'a'));
    EXPECT_EQ(content[3], "bbb");
}

TEST_F(PdfJob, FullPagesBreakByThemselves)
{
    Start();
    // A line starts on the page while its top is above the bottom margin.
    const int span = printer.Margins.bottom - printer.Margins.top;
    const int perPage = (span + printer.CellHeight - 1) / printer.CellHeight;
    std::string text;
    for (int i = 0; i < perPage * 2 + 3; ++i)
        text += "line " + std::to_string(i) + "\n";
    EXPECT_EQ(printer.WriteText(text.c_str()), 1);
    EXPECT_EQ(printer.PageNumber, 3);
    EXPECT_TRUE(printer.EndDoc());
    EXPECT_EQ(Pages(pdf), 3);
    std::string last = Tool({"pdftotext", "-f", "3", pdf, "-"});
    EXPECT_NE(last.find("line " + std::to_string(perPage * 2)), std::string::npos) << last;
}

TEST_F(PdfJob, NarrowPagesStillMoveOn)
{
    // Less than one cell between the margins: every character gets a line
    // of its own instead of an endless run of empty lines.
    printer.SetMargins(105, 20, 105, 20);
    Start();
    EXPECT_LT(printer.Margins.right - printer.Margins.left, cell);
    EXPECT_EQ(printer.WriteText("abcd"), 1);
    EXPECT_EQ(printer.Y, printer.Margins.top + 3 * printer.CellHeight);
    EXPECT_TRUE(printer.EndDoc());
    std::vector<std::string> content;
    for (auto& l : Lines(Text()))
        if (l.find_first_not_of(" \f") != std::string::npos)
            content.push_back(l.substr(l.find_first_not_of(" \f")));
    EXPECT_EQ(content, (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST_F(PdfJob, PageWithoutRoomForALineIsRefused)
{
    printer.SetMargins(20, 148, 20, 148);
    ASSERT_EQ(printer.StartDoc("test job", false), 1);
    ASSERT_EQ(printer.NewPage(), 1);
    testutil::ASSERTRECORDER recorder;
    EXPECT_EQ(printer.WriteText("text\ntext\n"), 0);
    EXPECT_EQ(printer.PageNumber, 1);
    EXPECT_TRUE(printer.EndDoc());
}

TEST_F(PdfJob, CharactersOutsideTheBasicPlaneArePrinted)
{
    Start();
    // U+1F600 cut to 16 bits would be U+F600, which no font here has.
    EXPECT_EQ(printer.WriteTextWide(L"A\U0001F600B\n"), 1);
    const int x = printer.Margins.left + cell, y = printer.Margins.top, h = printer.CellHeight;
    EXPECT_TRUE(printer.EndDoc());
    // The PDF's text layer cannot name the character, so look at the
    // picture: the second cell holds ink.
    const std::string crop = dir.file("cell");
    Tool({"pdftoppm", "-r", "72", "-gray", "-f", "1", "-l", "1", "-x", std::to_string(x), "-y", std::to_string(y),
          "-W", std::to_string(cell), "-H", std::to_string(h), pdf, crop});
    std::string pgm = testutil::ReadFile(crop + "-1.pgm");
    ASSERT_GT(pgm.size(), size_t(cell * h));
    int dark = 0;
    for (size_t i = pgm.size() - size_t(cell * h); i < pgm.size(); ++i)
        dark += static_cast<unsigned char>(pgm[i]) < 128;
    EXPECT_GT(dark, 5);
}

TEST(Printer, RawModeWritesTheBytesUnchanged)
{
    testutil::TempDir dir;
    std::string out = dir.file("raw.bin");
    PRINTER printer;
    ASSERT_EQ(printer.PrinterOpen(("Raw|file:" + out).c_str(), PRINTER_RAW, nullptr, 0), 1);
    EXPECT_TRUE(printer.RawMode);
    ASSERT_EQ(printer.StartDoc("raw", false), 1);
    EXPECT_EQ(printer.NewPage(), 0);
    // Every byte value, the ones that code page 1252 maps outside Latin-1
    // (0x80 to 0x9F) and NUL included.
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(char(i));
    EXPECT_EQ(printer.WriteText(bytes.data(), int(bytes.size())), 0);
    EXPECT_EQ(printer.WriteTextWide(L"\u0141x", 2), 0); // the low bytes: 0x41 'x'
    EXPECT_TRUE(printer.EndDoc());
    EXPECT_FALSE(printer.RawMode);
    EXPECT_EQ(testutil::ReadFile(out), bytes + "Ax");
    // Back to idle: the printer opens again.
    EXPECT_EQ(printer.PrinterOpen(("Raw|file:" + out).c_str(), 0, nullptr, 0), 1);
}

TEST(Printer, ReferenceTextsThatDoNotOpen)
{
    testutil::ASSERTRECORDER recorder;
    PRINTER printer;
    char name[8] = "xx";
    EXPECT_EQ(printer.PrinterOpen("no bar", 0, name, sizeof name), 0);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(printer.PrinterOpen("Queue|no-such-queue-here", 0, nullptr, 0), 0);
    EXPECT_EQ(printer.PrinterOpen("Relative|file:out.pdf", 0, nullptr, 0), 0);
    if (PRINTER::GetStdPrinter().Length() == 0) {
        EXPECT_EQ(printer.PrinterOpen("Standard|std", 0, nullptr, 0), 0);
    }
    EXPECT_EQ(printer.PrintSession, nullptr);
    // Jobs on a printer that is not open are reported and do nothing.
    recorder.Take();
    EXPECT_EQ(printer.StartDoc("x", false), 0);
    EXPECT_EQ(printer.WriteText("x"), 0);
    EXPECT_GE(recorder.Count(), 2u);
}

TEST(Printer, PrinterListAndStandardPrinterAgreeWithThePrintSystem)
{
    STRINGARRAY list;
    const int n = PRINTER::ListPrinters(&list);
    EXPECT_EQ(n, int(plat::ListPrinters().size()));
    for (int i = 0; i < list.NumItems(); ++i)
        EXPECT_EQ(list[i]->NumTokens("|"), 2);
    STRING std = PRINTER::GetStdPrinter();
    EXPECT_EQ(std.Length() == 0, plat::DefaultPrinter().id.empty());
}

TEST(Printer, SettingsBlobRoundTrip)
{
    testutil::TempDir dir;
    std::string pdf = dir.file("blob.pdf");
    PRINTER printer;
    ASSERT_EQ(printer.PrinterOpen(("PDF|file:" + pdf).c_str(), 0, nullptr, 0), 1);
    BINARY blob;
    ASSERT_TRUE(printer.GetDevmode(&blob));
    EXPECT_EQ(std::string(blob.Buffer, size_t(blob.StrLen)), "file:" + pdf + "|1");
    printer.EndDoc();

    STRING text(("file:" + pdf + "|3").c_str());
    PRINTER second;
    ASSERT_EQ(second.PrinterOpen(nullptr, &text), 1);
    BINARY back;
    ASSERT_TRUE(second.GetDevmode(&back));
    EXPECT_EQ(std::string(back.Buffer, size_t(back.StrLen)), "file:" + pdf + "|3");
    ASSERT_TRUE(second.SetFont("Courier", 12, false, false, true, 1252));
    ASSERT_EQ(second.StartDoc("blob", false), 1);
    ASSERT_EQ(second.NewPage(), 1);
    second.WriteText("from a blob");
    EXPECT_TRUE(second.EndDoc());
    EXPECT_NE(Tool({"pdftotext", pdf, "-"}).find("from a blob"), std::string::npos);

    testutil::ASSERTRECORDER recorder;
    PRINTER third;
    STRING bad("only-one-field");
    EXPECT_EQ(third.PrinterOpen(nullptr, &bad), 0);
    auto seen = recorder.Take();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].Info, "devmode.NumTokens()==2");
    EXPECT_EQ(third.PrintSession, nullptr);
}

TEST(Printer, DialogAnswersThroughItsResponder)
{
    testutil::TempDir dir;
    std::string pdf = dir.file("dialog.pdf");
    plat::ModalRequest asked;
    plat::AddModalResponder(plat::kModalPrint, [&](const plat::ModalRequest& req, plat::ModalAnswer& answer) {
        asked = req;
        answer.choice = 1;
        answer.text = "file:" + pdf;
        answer.value = 3;
        answer.items = {"2", "4"};
        return true;
    });
    PRINTER printer;
    int from = 1, to = 9, copies = 1;
    signed char result = 5;
    ASSERT_EQ(printer.PrinterDialog(nullptr, &from, &to, 9, &copies, false, false, &result), 1);
    EXPECT_EQ(asked.kind, plat::kModalPrint);
    EXPECT_EQ(from, 2);
    EXPECT_EQ(to, 4);
    EXPECT_EQ(copies, 3);
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(printer.SetFont("Courier", 10, false, false, true, 1252));
    ASSERT_EQ(printer.StartDoc("dialog", false), 1);
    ASSERT_EQ(printer.NewPage(), 1);
    printer.WriteText("chosen in the dialog");
    EXPECT_TRUE(printer.EndDoc());
    EXPECT_NE(Tool({"pdftotext", pdf, "-"}).find("chosen in the dialog"), std::string::npos);

    // Cancelled: everything is released and the printer opens again.
    plat::AddModalResponder(plat::kModalPrint, [](const plat::ModalRequest&, plat::ModalAnswer& answer) {
        answer.choice = 2;
        return true;
    });
    EXPECT_EQ(printer.PrinterDialog(nullptr, nullptr, nullptr, 0, nullptr, false, false, nullptr), 0);
    EXPECT_EQ(printer.PrintSession, nullptr);
    // In test mode a dialog nobody answers is cancelled at once.
    EXPECT_EQ(printer.PrinterDialog(nullptr, nullptr, nullptr, 0, nullptr, false, false, nullptr), 0);
    // Without the dialog the standard printer is taken, if there is one.
    EXPECT_EQ(printer.PrinterDialog(nullptr, nullptr, nullptr, 0, nullptr, true, false, nullptr),
              plat::DefaultPrinter().id.empty() ? 0 : 1);
}
