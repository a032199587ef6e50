// PRINTER: plain text printed line by line on the print system, or sent
// unchanged to the printer (raw mode).
//
// A job runs: PrinterOpen (either form) or PrinterDialog; SetFont;
// SetMargins; StartDoc; SetHeader; NewPage; WriteText and NewPage as
// needed; EndDoc. Text is laid out in cells of the font's cell size with
// margins, tab stops every 8 cells, backspace, line feed, carriage return
// and form feed; lines that do not fit wrap, and a page that is full starts
// the next one. Every page carries a header line of up to three parts (left,
// centre, right) with the placeholders "%USERNAME%", "%COMPUTERNAME%",
// "%DATE%", "%TIME%" and "%PAGE%".
//
// Printers are named by a printer reference text, "display name|printer
// id"; the id "STD" asks for the standard printer. A printer id is a queue
// of the print system, or "file:" followed by an absolute path: the job
// then writes a PDF file there (or, in raw mode, the bytes themselves).
// The settings blob (GetDevmode, SetDevmode) is the text "printer
// id|copies".
//
// Page units are points (72 per inch); margins are given in millimetres.
// Each job operation holds the job lock, so that calls on one object from
// several threads do not interleave; one object serves one job at a time.
#pragma once

#include "velmot/core/osyssync.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/wintypes.h"

#include <memory>

namespace plat {
class DrawContext;
class RawPrintJob;
struct OpaqueWindow;
using WindowRef = OpaqueWindow*;
} // namespace plat

class COREFONT;
class WINDC;

// PrinterOpen flags.
constexpr int PRINTER_LANDSCAPE = 0x8000;
constexpr int PRINTER_RAW = 0x4000;

class VELMOT_EXPORT PRINTER {
public:
    struct SESSION;
    struct PAGEFORMAT;
    struct SETTINGS;

    PRINTER();
    ~PRINTER();
    PRINTER(PRINTER const&) = delete;
    PRINTER& operator=(PRINTER const&) = delete;

    // Opens the printer of a printer reference text; nameOut (cleared
    // first) receives its display name. 1 on success.
    int PrinterOpen(char const* printer, int flags, char* nameOut, int nameOutSize);
    // Opens the printer of a settings blob; the first argument is not used.
    int PrinterOpen(char const* printer, BINARY const* settings);
    // Opens the standard printer, with the page range and copies when
    // given, and shows the print dialog unless noDialog; 1 when printing
    // was accepted (the range and copies are then read back and *result
    // set to 0).
    int PrinterDialog(plat::WindowRef owner, int* fromPage, int* toPage, int pages, int* copies, bool noDialog,
                      bool unused, signed char* result);

    static int ListPrinters(STRINGARRAY* out);
    static STRING GetStdPrinter();
    bool GetDevmode(BINARY* out);
    bool SetDevmode(BINARY const* settings);

    bool SetFont(char const* name, int size, bool bold, bool italic, bool fixed, UNICODE_CODEPAGE cp);
    void SetMargins(int left, int top, int right, int bottom);
    void SetHeader(char const* spec);
    void SetHeaderWide(wchar_t const* spec);

    int StartDoc(char const* name, bool linefeedOnly);
    int StartDocWide(wchar_t const* name, bool linefeedOnly);
    int NewPage();
    // 1 when the text was laid out on pages; 0 in raw mode (the bytes went
    // to the printer) and on failure.
    int WriteText(char const* text, int length = -1);
    int WriteTextWide(wchar_t const* text, int length = -1);
    // Finishes the job and closes the printer; true when the output was
    // written.
    bool EndDoc();

    void GetCurrentPosPercent(int* x, int* y);
    void SetCurrentPosPercent(int x, int y);

    // The job's state, in the order the job works through it.
    MUTEXSEM JobLock;
    int32_t MarginLeft = 0, MarginRight = 0, MarginTop = 0, MarginBottom = 0; // tenths of a millimetre
    bool RawMode = false;
    STRING RawFileName;
    std::unique_ptr<plat::RawPrintJob> RawPrintHandle;
    int32_t FontSize = 0;
    std::unique_ptr<SESSION> PrintSession;
    std::unique_ptr<PAGEFORMAT> PageFormat;
    std::unique_ptr<SETTINGS> PrintSettings;
    plat::DrawContext* fContext = nullptr;
    RECT PaperRect;
    int32_t ResolutionX = 0;
    int32_t ResolutionY = 0;
    RECT Margins;
    COREFONT* hFont = nullptr;
    int32_t CellWidth = 0;
    int32_t CellHeight = 0;
    UNICODE_CODEPAGE CodePage = UNICODE_CPDEFAULT;
    int32_t X = 0;
    int32_t Y = 0;
    bool FirstPage = false;
    bool LinefeedOnly = false;
    int32_t TabWidth = 8;
    int32_t PageNumber = 0;
    WSTRING HeaderLeft, HeaderCenter, HeaderRight;

private:
    bool OpenSession(STRING const& printerId, bool landscape);
    void CloseSession();
    void PrintHeader();
    void SyncContext(WINDC& dc);
    void PrintRun(WINDC& dc, wchar_t const* run, int count);
    void Control(wchar_t c);
    void PageEndCheck();
};
