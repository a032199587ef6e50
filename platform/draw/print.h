// Printing: the printer list, page setup, print jobs that give a drawing
// context per page, PDF output to a file, and raw jobs whose bytes reach the
// printer unchanged.
//
// A page's drawing context is y-up with its origin at the paper's
// bottom-left corner and one unit per point (1/72 inch), whatever the
// printer's resolution; the whole paper is addressable and the margins of
// the page setup only describe the printable area. Printers are the print
// system's (CUPS) queues; a printer's id is its queue name. Main thread only.
#pragma once

#include "platform/draw/context.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

struct PrinterInfo {
    std::string name;  // the name to show to the user
    std::string id;    // the print queue's name
    bool isDefault = false;
};

// The print system's printers; empty when there is no print system.
std::vector<PrinterInfo> ListPrinters();
// The standard printer; an empty id when there is none.
PrinterInfo DefaultPrinter();

enum class Orientation { Portrait, Landscape };

struct PageSetup {
    // A paper name ("A4", "Letter", "Legal", "A3", "A5", "B5", "Executive",
    // "Tabloid"; without regard to case), or a custom size in points when
    // customPaper has both sides above 0. An unknown name means A4.
    std::string paper = "A4";
    Size customPaper;
    Orientation orientation = Orientation::Portrait;
    // Margins of the printable area in points.
    double marginLeft = 0, marginTop = 0, marginRight = 0, marginBottom = 0;
    int copies = 1;
    int fromPage = 0, toPage = 0; // 0, 0 = all pages
};

class PrintJob {
public:
    // A job that writes a PDF file. Null when the file cannot be written.
    static std::unique_ptr<PrintJob> ToPdf(const std::string& path, const PageSetup& setup,
                                           std::string_view title);
    // A job for a printer of ListPrinters(). Null when it is not known.
    static std::unique_ptr<PrintJob> ToPrinter(const std::string& printerId, const PageSetup& setup,
                                               std::string_view title);
    ~PrintJob(); // finishes the job when Finish was not called
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    // Paper (0, 0, width, height) and printable area in page coordinates,
    // orientation applied; resolution of the page coordinates (72).
    Rect PaperRect() const;
    Rect PrintableRect() const;
    double Resolution() const;
    int Copies() const;

    // Starts the next page (ending an open one) and returns its context,
    // valid until the page ends; null after Finish or when the page could
    // not be started.
    DrawContext* BeginPage();
    bool EndPage();
    int PageCount() const; // pages begun so far

    // Ends the open page and the document. Returns whether the output was
    // written (a job without pages writes nothing and returns true).
    bool Finish();

private:
    struct Impl;
    explicit PrintJob(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// A raw job: bytes go to the output exactly as written.
class RawPrintJob {
public:
    // Writes straight into the file (created or truncated).
    static std::unique_ptr<RawPrintJob> ToFile(const std::string& path);
    // Collects the bytes in a private temporary file and, on Finish, hands
    // it to the print system's raw queue by running
    //   <program> -d <printerId> -o raw -t <title> <file>
    // with an argument vector (no shell). `program` is "lp" unless a caller
    // (a test) names another. Null when the temporary file cannot be made or
    // the printer id is empty.
    static std::unique_ptr<RawPrintJob> ToPrinter(const std::string& printerId, std::string_view title,
                                                  const std::string& program = "lp");
    ~RawPrintJob(); // a job not finished is dropped: nothing is printed
    RawPrintJob(const RawPrintJob&) = delete;
    RawPrintJob& operator=(const RawPrintJob&) = delete;

    bool Write(const void* data, size_t size);
    bool Write(std::string_view bytes) { return Write(bytes.data(), bytes.size()); }
    size_t BytesWritten() const;

    // Closes the output; for a printer, runs the print command (waiting at
    // most timeoutMs for it) and removes the temporary file. Returns
    // whether every byte was written and, for a printer, the command
    // succeeded.
    bool Finish(int timeoutMs = 60000);

private:
    struct Impl;
    explicit RawPrintJob(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace plat
