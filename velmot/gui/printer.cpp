// PRINTER over the drawing layer's print jobs (PDF files and print queues)
// and raw jobs.
#include "velmot/gui/printer.h"

#include "platform/draw/print.h"
#include "platform/draw/printdialog.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/gui/windraw.h"
#include "velmot/gui/winfont.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

// The platform's side of an open printer: the printer and the job.
struct PRINTER::SESSION {
    std::string printerId;
    std::string title;
    std::unique_ptr<plat::PrintJob> job;
};

struct PRINTER::PAGEFORMAT {
    plat::Orientation orientation = plat::Orientation::Portrait;
    std::string paper = "A4";
};

struct PRINTER::SETTINGS {
    int copies = 1;
    int fromPage = 0;
    int toPage = 0;
};

namespace {

constexpr char kSource[] = "printer.cpp";

// The failed-call line of the library.
void LogVerifyFailed(char const* expression, int line, int err)
{
    LOGIT("%s WARNING! verify(%s) failed %s at %s %d with %d %s (Carbon) or %d %s (posix)\n", "DARWIN", expression,
          "", kSource, line, err, "", errno, strerror(errno));
}

bool IsFileId(std::string const& id)
{
    return id.rfind(plat::kPrintToFilePrefix, 0) == 0 && id.size() > strlen(plat::kPrintToFilePrefix);
}

std::string FilePath(std::string const& id) { return id.substr(strlen(plat::kPrintToFilePrefix)); }

// Whether the print system (or the file system, for a file) can take jobs
// for this printer id.
bool PrinterKnown(std::string const& id)
{
    if (IsFileId(id))
        return FilePath(id)[0] == '/';
    if (id.empty())
        return false;
    for (plat::PrinterInfo const& p : plat::ListPrinters())
        if (p.id == id)
            return true;
    return false;
}

WSTRING Wide(STRING const& s) { return WSTRING(s); }

} // namespace

PRINTER::PRINTER() = default;

PRINTER::~PRINTER()
{
    CloseSession();
    delete hFont;
}

bool PRINTER::OpenSession(STRING const& printerId, bool landscape)
{
    PrintSession = std::make_unique<SESSION>();
    PrintSession->printerId = printerId.Buf();
    PageFormat = std::make_unique<PAGEFORMAT>();
    PageFormat->orientation = landscape ? plat::Orientation::Landscape : plat::Orientation::Portrait;
    PrintSettings = std::make_unique<SETTINGS>();
    return true;
}

void PRINTER::CloseSession()
{
    fContext = nullptr;
    RawPrintHandle.reset();
    PrintSettings.reset();
    PageFormat.reset();
    PrintSession.reset();
}

int PRINTER::PrinterOpen(char const* printer, int flags, char* nameOut, int nameOutSize)
{
    LOGIT("PRINTER::PrinterOpen %s\n", printer ? printer : "");
    if (PrintSession) {
        ASSERTMSG(!this->PrintSession, nullptr);
        return 0;
    }
    const bool landscape = (flags & PRINTER_LANDSCAPE) != 0;
    RawMode = (flags & PRINTER_RAW) != 0;
    if (nameOut && nameOutSize > 0)
        nameOut[0] = 0;
    STRING text(printer ? printer : "");
    if (stricmp(text.Token(1, "|").Buf(), "STD") == 0)
        text = GetStdPrinter();
    if (text.NumTokens("|") < 2) {
        LOGIT("PRINTER::PrinterOpen done ok= %d\n", 0);
        return 0;
    }
    STRING id = text.Token(1, "|");
    // A printer that the print system does not know cannot take the job:
    // say so now rather than at the start of the document.
    if (!PrinterKnown(id.Buf())) {
        LogVerifyFailed("err == 0 ", __LINE__, -1);
        AssertMsg(0, "err==noErr", __FILE__, __LINE__, id.Buf(), true);
        LOGIT("PRINTER::PrinterOpen done ok= %d\n", 0);
        return 0;
    }
    OpenSession(id, landscape);
    if (nameOut && nameOutSize > 0)
        text.Token(0, "|").CopyToBuf(nameOut, nameOutSize);
    LOGIT("PRINTER::PrinterOpen done ok= %d\n", 1);
    return 1;
}

int PRINTER::PrinterOpen(char const*, BINARY const* settings)
{
    LOGIT("PRINTER::PrinterOpen by devmode\n");
    if (PrintSession) {
        ASSERTMSG(!this->PrintSession, nullptr);
        return 0;
    }
    OpenSession(STRING(plat::DefaultPrinter().id.c_str()), false);
    bool ok = SetDevmode(settings);
    if (!ok)
        CloseSession();
    FirstPage = true;
    LOGIT("PRINTER::PrinterOpen by devmode returns %d\n", int(ok));
    return ok ? 1 : 0;
}

int PRINTER::PrinterDialog(plat::WindowRef owner, int* fromPage, int* toPage, int, int* copies, bool noDialog, bool,
                           signed char* result)
{
    if (PrintSession) {
        ASSERTMSG(!this->PrintSession, nullptr);
        return 0;
    }
    LOGIT("PRINTER::PrinterDialog\n");
    LinefeedOnly = false;
    Margins = RECT{};
    OpenSession(STRING(plat::DefaultPrinter().id.c_str()), false);
    if (fromPage && toPage) {
        PrintSettings->fromPage = *fromPage;
        PrintSettings->toPage = *toPage;
    }
    if (copies)
        PrintSettings->copies = std::max(1, *copies);
    if (!noDialog) {
        plat::PrintDialogSettings chosen;
        chosen.printerId = PrintSession->printerId;
        chosen.copies = PrintSettings->copies;
        chosen.fromPage = PrintSettings->fromPage;
        chosen.toPage = PrintSettings->toPage;
        if (!plat::RunPrintDialog(chosen, owner)) {
            CloseSession();
            LOGIT("PRINTER::PrinterDialog returns %d\n", 0);
            return 0;
        }
        PrintSession->printerId = chosen.printerId;
        PrintSettings->copies = std::max(1, chosen.copies);
        PrintSettings->fromPage = chosen.fromPage;
        PrintSettings->toPage = chosen.toPage;
    }
    // Without a printer (no print system and nothing chosen) there is
    // nothing that could print.
    if (!PrinterKnown(PrintSession->printerId)) {
        CloseSession();
        LOGIT("PRINTER::PrinterDialog returns %d\n", 0);
        return 0;
    }
    FirstPage = true;
    if (fromPage)
        *fromPage = PrintSettings->fromPage;
    if (toPage)
        *toPage = PrintSettings->toPage;
    if (copies)
        *copies = PrintSettings->copies;
    if (result)
        *result = 0;
    LOGIT("PRINTER::PrinterDialog returns %d\n", 1);
    return 1;
}

int PRINTER::ListPrinters(STRINGARRAY* out)
{
    if (!out)
        return 0;
    out->DeleteAllItems();
    for (plat::PrinterInfo const& p : plat::ListPrinters()) {
        STRING ref(p.name.c_str());
        ref.Append("|");
        ref.Append(p.id.c_str());
        out->AppendItem(ref);
    }
    return out->NumItems();
}

STRING PRINTER::GetStdPrinter()
{
    plat::PrinterInfo p = plat::DefaultPrinter();
    LOGIT("PRINTER::GetStdPrinter printer name= %s, deviceid= %s\n", p.name.c_str(), p.id.c_str());
    STRING ref;
    if (!p.name.empty() && !p.id.empty()) {
        ref = p.name.c_str();
        ref.Append("|");
        ref.Append(p.id.c_str());
    }
    return ref;
}

bool PRINTER::GetDevmode(BINARY* out)
{
    LOGIT("PRINTER::GetDevmode\n");
    bool ok = PrintSession && PrintSettings && out;
    STRING text;
    if (ok) {
        text = PrintSession->printerId.c_str();
        text.FormatAppend("|%d", PrintSettings->copies);
        *out = BINARY(text.Buf(), text.Length());
    }
    LOGIT("PRINTER::GetDevmode ok= %d, data=%s\n", int(ok), text.Buf());
    return ok;
}

bool PRINTER::SetDevmode(BINARY const* settings)
{
    LOGIT("PRINTER::SetDevmode\n");
    ASSERTMSG(this->PrintSession, nullptr);
    ASSERTMSG(this->PrintSettings, nullptr);
    if (!PrintSession || !PrintSettings || !settings)
        return false;
    STRING devmode(settings->Buffer ? std::string(settings->Buffer, size_t(settings->StrLen)).c_str() : "");
    if (!ASSERTMSG(devmode.NumTokens("|") == 2, "devmode.NumTokens()==2") || devmode.NumTokens("|") != 2)
        return false;
    std::string id = devmode.Token(0, "|").Buf();
    if (!PrinterKnown(id)) {
        AssertMsg(0, "err==noErr", __FILE__, __LINE__, id.c_str(), true);
        return false;
    }
    PrintSession->printerId = id;
    PrintSettings->copies = std::clamp(int(devmode.Token(1, "|")), 1, 9999);
    LOGIT("PRINTER::SetDevmode done\n");
    return true;
}

bool PRINTER::SetFont(char const* name, int size, bool bold, bool italic, bool fixed, UNICODE_CODEPAGE cp)
{
    MUTEXLOCK lock(JobLock);
    delete hFont;
    WINDC dc(nullptr, RECT{}, false);
    hFont = dc.LoadFont(name, size, bold, italic, fixed, 0, UNICODE_CPDEFAULT);
    FontSize = size;
    CodePage = cp ? cp : UNICODE_CPDEFAULT;
    return hFont != nullptr;
}

void PRINTER::SetMargins(int left, int top, int right, int bottom)
{
    LOGIT("PRINTER::SetMargins\n");
    MUTEXLOCK lock(JobLock);
    MarginLeft = left * 10;
    MarginTop = top * 10;
    MarginRight = right * 10;
    MarginBottom = bottom * 10;
    LOGIT("PRINTER::SetMargins done\n");
}

void PRINTER::SetHeaderWide(wchar_t const* spec)
{
    MUTEXLOCK lock(JobLock);
    WSTRING text(spec ? spec : L"");
    HeaderLeft = text.Token(0, L"|");
    HeaderCenter = text.Token(1, L"|");
    HeaderRight = text.Token(2, L"|");
}

void PRINTER::SetHeader(char const* spec)
{
    WSTRING text(spec ? spec : "", UNICODE_CPSYSTEM);
    SetHeaderWide(text.Buf());
}

int PRINTER::StartDoc(char const* name, bool linefeedOnly)
{
    WSTRING text(name ? name : "", UNICODE_CPSYSTEM);
    return StartDocWide(text.Buf(), linefeedOnly);
}

int PRINTER::StartDocWide(wchar_t const* name, bool linefeedOnly)
{
    WSTRING title(name ? name : L"");
    STRING utf8 = title.AsUtf8();
    LOGIT("PRINTER::StartDoc %s\n", utf8.Buf());
    MUTEXLOCK lock(JobLock);
    FirstPage = true;
    PageNumber = 0;
    ASSERTMSG(this->PrintSession, nullptr);
    ASSERTMSG(this->PageFormat, nullptr);
    ASSERTMSG(this->PrintSettings, nullptr);
    if (!PrintSession || !PageFormat || !PrintSettings)
        return 0;
    PrintSession->title = utf8.Buf();
    const std::string& id = PrintSession->printerId;
    bool ok = false;
    if (RawMode) {
        if (IsFileId(id)) {
            RawFileName = FilePath(id).c_str();
            RawPrintHandle = plat::RawPrintJob::ToFile(FilePath(id));
        } else {
            RawFileName = "";
            RawPrintHandle = plat::RawPrintJob::ToPrinter(id, PrintSession->title);
        }
        LOGIT("PRINTER::StartDoc called in raw mode with %s and f= %p\n", RawFileName.Buf(),
              static_cast<void*>(RawPrintHandle.get()));
        ASSERTMSG(this->RawPrintHandle, nullptr);
        ok = RawPrintHandle != nullptr;
    } else {
        LinefeedOnly = linefeedOnly;
        // The header belongs to the document: SetHeader comes after StartDoc.
        HeaderLeft = L"";
        HeaderCenter = L"";
        HeaderRight = L"";
        plat::PageSetup setup;
        setup.paper = PageFormat->paper;
        setup.orientation = PageFormat->orientation;
        setup.copies = PrintSettings->copies;
        setup.fromPage = PrintSettings->fromPage;
        setup.toPage = PrintSettings->toPage;
        PrintSession->job = IsFileId(id) ? plat::PrintJob::ToPdf(FilePath(id), setup, PrintSession->title)
                                         : plat::PrintJob::ToPrinter(id, setup, PrintSession->title);
        ok = PrintSession->job != nullptr;
    }
    LOGIT("PRINTER::StartDoc done, ok= %d\n", int(ok));
    return ok ? 1 : 0;
}

int PRINTER::NewPage()
{
    LOGIT("PRINTER::NewPage\n");
    MUTEXLOCK lock(JobLock);
    if (RawMode) {
        ASSERTMSG(this->FirstPage, nullptr);
        LOGIT("PRINTER::NewPage called in raw mode, nothing to do\n");
        return 0;
    }
    ASSERTMSG(this->PrintSession, nullptr);
    ASSERTMSG(this->PageFormat, nullptr);
    ASSERTMSG(this->PrintSettings, nullptr);
    bool ok = false;
    if (PrintSession && PageFormat && PrintSettings && PrintSession->job) {
        plat::PrintJob& job = *PrintSession->job;
        // Beginning a page ends the one that is open.
        fContext = job.BeginPage();
        ok = fContext != nullptr;
        if (!ok)
            LogVerifyFailed("err == 0 ", __LINE__, -1);
        if (ok) {
            ++PageNumber;
            plat::Rect paper = job.PaperRect();
            PaperRect = RECT{int32_t(paper.x), int32_t(paper.y), int32_t(paper.MaxX()), int32_t(paper.MaxY())};
            ResolutionX = ResolutionY = int32_t(job.Resolution());
            // Margins are tenths of a millimetre: / 254 gives inches.
            Margins.left = ResolutionX * MarginLeft / 254;
            Margins.top = ResolutionY * MarginTop / 254;
            Margins.right = (PaperRect.right - PaperRect.left) - ResolutionX * MarginRight / 254;
            Margins.bottom = (PaperRect.bottom - PaperRect.top) - ResolutionY * MarginBottom / 254;
            PrintHeader();
            X = Margins.left;
            Y = Margins.top;
            LOGIT("PRINTER::NewPage for page #%d done\n", PageNumber);
        }
    }
    FirstPage = false;
    LOGIT("PRINTER::NewPage done, ok= %d\n", int(ok));
    return ok ? 1 : 0;
}

void PRINTER::PrintHeader()
{
    WINDC loader(nullptr, RECT{}, false);
    COREFONT* font = loader.LoadFont("Helvetica", FontSize * 8 / 10, false, false, false, 0, UNICODE_CPDEFAULT);
    if (!font)
        return;
    MUTEXLOCK lock(JobLock);
    {
        WINDC dc(fContext, PaperRect, true);
        dc.BkMode = WINDC_TRANSPARENT;
        dc.TextColor = 0;
        dc.SelectFont(font);
        const int y = ResolutionY * 80 / 254;
        WSTRING* parts[3] = {&HeaderLeft, &HeaderCenter, &HeaderRight};
        for (int i = 0; i < 3; ++i) {
            if (parts[i]->Length() == 0)
                continue;
            WSTRING text(*parts[i]);
            text.Replace(L"%USERNAME%", Wide(OSYS::GetCurrentUserName()).Buf());
            text.Replace(L"%COMPUTERNAME%", Wide(OSYS::ComputerName()).Buf());
            text.Replace(L"%DATE%", Wide(OSYS::CurrentDateLocalized()).Buf());
            text.Replace(L"%TIME%", Wide(OSYS::CurrentTimeLocalized()).Buf());
            WSTRING page;
            page.Format(L"%d", PageNumber);
            text.Replace(L"%PAGE%", page.Buf());
            int x = Margins.left;
            dc.TextAlign = WINDC_TA_LEFT;
            if (i == 1) {
                x = (Margins.left + Margins.right) / 2 - ResolutionX * 30 / 254;
                dc.TextAlign = WINDC_TA_CENTER;
            } else if (i == 2) {
                x = Margins.right - ResolutionX * 80 / 254;
                dc.TextAlign = WINDC_TA_RIGHT;
            }
            dc.StringOutW(x, y, text.Buf(), text.Length());
        }
        dc.DeselectFont(font);
    }
    loader.DestroyFont(font);
}

// After a new page the page context is another one; the DC follows it.
void PRINTER::SyncContext(WINDC& dc)
{
    if (dc.fContext != fContext)
        dc.ChangeContextHandle(fContext, dc.fContext);
}

void PRINTER::PageEndCheck()
{
    if (Y >= Margins.bottom)
        NewPage();
}

void PRINTER::Control(wchar_t c)
{
    switch (c) {
    case 8:
        if (X - Margins.left > CellWidth)
            X -= CellWidth;
        break;
    case 9: {
        const int tab = TabWidth > 0 ? TabWidth : 8;
        X = Margins.left + CellWidth * tab * (((X - Margins.left) / CellWidth) / tab + 1);
        break;
    }
    case 10:
        Y += CellHeight;
        if (!LinefeedOnly)
            X = Margins.left;
        break;
    case 12:
        NewPage();
        break;
    case 13:
        X = Margins.left;
        break;
    default:
        break;
    }
}

void PRINTER::PrintRun(WINDC& dc, wchar_t const* run, int count)
{
    while (count > 0) {
        int fits = (Margins.right - X) / CellWidth;
        if (X + count * CellWidth < Margins.right)
            fits = count;
        if (fits <= 0) {
            // Nothing fits after the text already on the line: go to the
            // next one. At the start of a line one cell is always printed,
            // however narrow the printable width, so the text moves on.
            if (X > Margins.left) {
                Control(13);
                Control(10);
                PageEndCheck();
                continue;
            }
            fits = 1;
        }
        const int n = std::min(fits, count);
        SyncContext(dc);
        if (fContext) {
            POINT end{};
            dc.StringOutW(X, Y, run, n, &end);
            X = end.x;
        } else {
            X += n * CellWidth;
        }
        run += n;
        count -= n;
        if (count > 0) {
            Control(13);
            Control(10);
            PageEndCheck();
        }
    }
}

int PRINTER::WriteTextWide(wchar_t const* text, int length)
{
    LOGIT("PRINTER::WriteText %d bytes\n", length);
    MUTEXLOCK lock(JobLock);
    if (!text)
        return 0;
    const size_t n = length < 0 ? wcslen(text) : size_t(length);
    if (RawMode) {
        if (!ASSERTMSG(this->RawPrintHandle, nullptr) || !RawPrintHandle)
            return 0;
        // Each character's low byte, as the flat code page has it.
        std::string bytes(n, '\0');
        for (size_t i = 0; i < n; ++i)
            bytes[i] = char(text[i] & 0xFF);
        RawPrintHandle->Write(bytes);
        LOGIT("PRINTER::WriteText called in raw mode, %d data written\n", int(n));
        return 0;
    }
    ASSERTMSG(this->PrintSession, nullptr);
    ASSERTMSG(this->PageFormat, nullptr);
    ASSERTMSG(this->PrintSettings, nullptr);
    ASSERTMSG(this->fContext, nullptr);
    ASSERTMSG(this->hFont, nullptr);
    ASSERTMSG(this->Margins.bottom > 0, nullptr);
    if (!PrintSession || !PageFormat || !PrintSettings || !fContext || !hFont || Margins.bottom <= 0)
        return 0;

    WINDC dc(fContext, PaperRect, true);
    dc.BkMode = WINDC_TRANSPARENT;
    dc.TextColor = 0;
    dc.SelectFont(hFont);
    dc.GetFontSize(&CellWidth, &CellHeight, nullptr);
    // Without a cell there is no layout: nothing would advance. And a page
    // that cannot hold one line would take a new page per character.
    if (CellWidth <= 0 || CellHeight <= 0 || Margins.bottom - Margins.top < CellHeight) {
        AssertMsg(0, "CellWidth>0 && CellHeight>0 && one line fits", __FILE__, __LINE__, nullptr, true);
        dc.DeselectFont(hFont);
        return 0;
    }
    size_t i = 0;
    while (i < n) {
        if (uint32_t(text[i]) > 31) {
            size_t j = i;
            while (j < n && uint32_t(text[j]) > 31)
                ++j;
            PrintRun(dc, text + i, int(std::min<size_t>(j - i, 0x7FFFFFFF)));
            i = j;
        } else {
            Control(text[i]);
            ++i;
        }
        PageEndCheck();
    }
    SyncContext(dc);
    dc.DeselectFont(hFont);
    LOGIT("PRINTER::WriteText %d bytes done, ok= %d\n", int(n), 1);
    return 1;
}

int PRINTER::WriteText(char const* text, int length)
{
    if (!text)
        return 0;
    const int32_t n = length < 0 ? int32_t(strlen(text)) : length;
    if (RawMode) {
        // Raw bytes go to the printer exactly as given; a detour through
        // wide characters would change every byte that the system code
        // page maps outside Latin-1 (0x80 to 0x9F).
        LOGIT("PRINTER::WriteText %d bytes\n", n);
        MUTEXLOCK lock(JobLock);
        if (!ASSERTMSG(this->RawPrintHandle, nullptr) || !RawPrintHandle)
            return 0;
        RawPrintHandle->Write(text, size_t(n));
        LOGIT("PRINTER::WriteText called in raw mode, %d data written\n", n);
        return 0;
    }
    WSTRING wide(text, n, CodePage);
    return WriteTextWide(wide.Buf(), wide.Length());
}

bool PRINTER::EndDoc()
{
    LOGIT("PRINTER::EndDoc\n");
    MUTEXLOCK lock(JobLock);
    bool ok = false;
    if (RawMode) {
        ASSERTMSG(this->RawPrintHandle, nullptr);
        if (RawPrintHandle) {
            ok = RawPrintHandle->Finish();
            if (!ok)
                LogVerifyFailed("err == 0 ", __LINE__, -1);
        }
        RawPrintHandle.reset();
        RawMode = false;
    } else {
        ASSERTMSG(this->PrintSession, nullptr);
        ASSERTMSG(this->PageFormat, nullptr);
        ASSERTMSG(this->PrintSettings, nullptr);
        if (PrintSession && PrintSession->job) {
            ok = PrintSession->job->Finish();
            if (!ok)
                LogVerifyFailed("err == 0 ", __LINE__, -1);
        }
    }
    // Back to idle: the next job opens a printer again.
    CloseSession();
    LOGIT("PRINTER::EndDoc done\n");
    return ok;
}

void PRINTER::SetCurrentPosPercent(int px, int py)
{
    MUTEXLOCK lock(JobLock);
    X = Margins.left + px * (Margins.right - Margins.left) / 100;
    Y = Margins.top + py * (Margins.bottom - Margins.top) / 100;
}

void PRINTER::GetCurrentPosPercent(int* px, int* py)
{
    MUTEXLOCK lock(JobLock);
    // Before the first page the printable rectangle has no size: 0 %.
    const int w = Margins.right - Margins.left, h = Margins.bottom - Margins.top;
    if (px)
        *px = w > 0 ? (X - Margins.left) * 100 / w : 0;
    if (py)
        *py = h > 0 ? (Y - Margins.top) * 100 / h : 0;
}
