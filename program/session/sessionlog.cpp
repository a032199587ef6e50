// The session's log, data trace, capture buffer and capture viewer, and its
// print jobs: what the layers and plug-ins call, the session events that
// switch them, and what the capture buffer and the print queue ask of the
// session.
#include "program/session/session.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/workdir.h"
#include "velmot/gui/clipboard.h"

namespace {

std::string CaptureFolderOf(PROGRAMSETTINGS& settings)
{
    FILENAME folder(WORKDIR::GetCurrent().Buf(), settings.data.CapturePath);
    return folder.Buf();
}

} // namespace

// ---------------------------------------------------------------------------
// What the layers and plug-ins call

void SESSION::Trace(char direction, char const* data, int len)
{
    Tracer.Trace(direction, data, len);
}

void SESSION::HexDump(char const* data, int len)
{
    Tracer.HexDump(data, len);
}

int SESSION::Log(char const* text, int len)
{
    return Logging.Log(text, len);
}

int SESSION::LogWide(wchar_t const* text, int len)
{
    return Logging.LogWide(text, len);
}

void* SESSION::PrinterOpen(signed char raw)
{
    PRINTQUEUE* queue = Host.PrintQueue();
    if (!queue)
        return nullptr;
    std::wstring const title = QueryCurrentHostWide();
    return queue->NewJob(PrintLink, title.c_str(), raw, Prof.data.CodePage, 0);
}

int SESSION::PrinterWrite(void* job, char const* data, int len)
{
    PRINTQUEUE* queue = Host.PrintQueue();
    return queue && job ? queue->Write(job, data, len) : 0;
}

int SESSION::PrinterWriteWide(void* job, wchar_t const* text, int len)
{
    PRINTQUEUE* queue = Host.PrintQueue();
    return queue && job ? queue->WriteWide(job, text, len) : 0;
}

int SESSION::PrinterClose(void* job)
{
    PRINTQUEUE* queue = Host.PrintQueue();
    return queue && job ? queue->CloseJob(job) : 0;
}

void SESSION::FlushLogFiles()
{
    Logging.FlushFiles();
    Tracer.FlushFiles();
    Logging.TrackLogname();
}

void SESSION::TraceTracker(int ascii, int binary, int dump, int force)
{
    Tracer.TraceTracker(static_cast<signed char>(ascii != 0), static_cast<signed char>(binary != 0),
                        static_cast<signed char>(dump != 0), static_cast<signed char>(force != 0));
}

void SESSION::CloseCaptureViewer()
{
    delete CaptureFrame;
    CaptureFrame = nullptr;
    UpdateToolbarAndMenu(false);
}

// ---------------------------------------------------------------------------
// Events

int SESSION::ProcessLogEvent(int event, int arg, char const* text)
{
    SESSIONPROFILEDATA& p = Prof.data;
    switch (event) {
    case 8030: {
        signed char const wanted = (arg & 0x7F) ? 2 : 0;
        if (wanted == p.CaptStatus)
            return 1;
        p.CaptStatus = wanted;
        bool const open = Logging.SetFileLogging(wanted);
        if (wanted && !open)
            p.CaptStatus = 0;
        if (!(arg & 128))
            Notify(OSYS::GetStringFromResource(p.CaptStatus == 2 ? "IDS_CAPT_OPEN" : "IDS_CAPT_CLOSED").Buf(), 0);
        UpdateStatusbar(false);
        return 1;
    }
    case 8045: {
        std::string name = text ? text : "";
        if (!text) {
            std::string const folder = CaptureFolderOf(Settings);
            name = Host.AskSaveAsFilename(OSYS::GetStringFromResource("IDS_NAMECAPT").Buf(), folder.c_str(), nullptr)
                       .Buf();
            if (name.empty())
                return 1;
        }
        Logging.SetLogname(name.c_str(), 1);
        p.CaptStatus = 2;
        if (!Logging.SetFileLogging(1))
            p.CaptStatus = 0;
        UpdateStatusbar(false);
        return 1;
    }
    case 8060:
        Logging.SetLogname(p.CaptDefaultName, 0);
        return 1;
    case 8078:
        Logging.DeleteLogfiles(nullptr);
        return 1;
    case 8390:
        Capture.CaptClear();
        Notify(OSYS::GetStringFromResource("IDS_CAPTURE_CLEARED").Buf(), 0);
        UpdateStatusbar(false);
        UpdateToolbarAndMenu(false);
        return 1;
    case 8391:
        Capture.CaptLoad(text);
        UpdateToolbarAndMenu(false);
        return 1;
    case 8392:
        Capture.CaptSave(nullptr);
        return 1;
    case 8393:
        Capture.CaptEdit();
        return 1;
    case 8394:
        Capture.CaptPrint();
        return 1;
    case 8395:
        if (CaptureFrame)
            CaptureFrame->Signal(STREAMDATA::SIG_TOFRONT, 0);
        else
            CaptureFrame = new BROWSESTREAMFRAME(ViewerLink, Capture);
        UpdateToolbarAndMenu(false);
        return 1;
    case 8396:
        CloseCaptureViewer();
        return 1;
    case 8455:
    case 8456:
    case 8457: {
        int const on = event == 8455 ? arg : event == 8456 ? 1 : 0;
        Logging.SetPrinterLogging(static_cast<signed char>(on != 0));
        bool const logging = Logging.PrinterLogging();
        EnableMenuEntry(8456, logging ? 0 : 1, false);
        EnableMenuEntry(8457, logging ? 1 : 0, false);
        UpdateToolbarAndMenu(false);
        return 1;
    }
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------
// What the capture buffer asks

int SESSION::CAPTURELINK::CaptureCodePage()
{
    return S.Prof.data.CodePage;
}

bool SESSION::CAPTURELINK::CaptureTimeMarks()
{
    return S.Prof.data.CaptTimeMarks != 0;
}

void SESSION::CAPTURELINK::CaptureLocalTime(int* hour, int* minute, int* second, int* tenths)
{
    if (S.Logging.LocalTime)
        S.Logging.LocalTime(hour, minute, second, tenths);
    else
        STREAMDATAHOST::CaptureLocalTime(hour, minute, second, tenths);
}

std::string SESSION::CAPTURELINK::CaptureFolder()
{
    return CaptureFolderOf(S.Settings);
}

std::string SESSION::CAPTURELINK::AskSaveName(char const* title, char const* start)
{
    return S.Host.AskSaveAsFilename(title, start, nullptr).Buf();
}

std::string SESSION::CAPTURELINK::AskLoadName(char const* title, char const* start)
{
    return S.Host.AskFilename(title, start, nullptr).Buf();
}

void SESSION::CAPTURELINK::FileError(char const* path)
{
    S.Host.FileError(path);
}

void SESSION::CAPTURELINK::EditFile(char const* path)
{
    S.Host.EditFile(path);
}

void SESSION::CAPTURELINK::AddTempFile(char const* path)
{
    S.TemporaryFiles.AppendItem(STRING(path));
}

void* SESSION::CAPTURELINK::OpenPrintJob()
{
    return S.PrinterOpen(0);
}

void SESSION::CAPTURELINK::WritePrintJob(void* job, char const* bytes, int len)
{
    S.PrinterWrite(job, bytes, len);
}

void SESSION::CAPTURELINK::ClosePrintJob(void* job)
{
    S.PrinterClose(job);
}

// ---------------------------------------------------------------------------
// What a print job asks

int SESSION::PRINTLINK::PrintMakeCtrl(char* text, int size)
{
    return S.MakeCtrl(text, size);
}

void SESSION::PRINTLINK::PrintNotify(char const* text)
{
    S.Notify(text, 0);
}

// ---------------------------------------------------------------------------
// What the capture viewer asks

void SESSION::VIEWERLINK::ViewerClose()
{
    S.PostEvent(8396, 0, nullptr);
}

COREFONT* SESSION::VIEWERLINK::ViewerFont()
{
    int const cp = S.Prof.data.CodePage;
    return LoadFixedFontOf(S.Settings.data.BrWinFont, cp == 1000 ? UNICODE_CPUTF8 : cp);
}

bool SESSION::VIEWERLINK::ViewerMarkColour(COLORREF* colour)
{
    int const mark = S.Prof.data.ColorMark;
    if (mark <= 0)
        return false;
    *colour = S.Screen.GetSysColor(mark - 1) & 0xFFFFFF;
    return true;
}

bool SESSION::VIEWERLINK::ViewerAutoCopy()
{
    return S.Settings.data.ClipAutoCopy != 0;
}

int SESSION::VIEWERLINK::ViewerTransparency()
{
    return S.Settings.data.Transparency > 0 ? S.Prof.data.Transparency : 0;
}

std::wstring SESSION::VIEWERLINK::ViewerHostName()
{
    return S.QueryCurrentHostWide();
}

bool SESSION::VIEWERLINK::ViewerMainRect(RECT* rect)
{
    return S.Host.MainWindowRect(rect);
}

void SESSION::VIEWERLINK::ViewerCopy(std::wstring const& text, bool add)
{
    CLIPBOARD::GetInstance()->WriteText(text.c_str(), static_cast<int>(text.size()), 1252, add);
}

void SESSION::VIEWERLINK::ViewerNotify(char const* text)
{
    S.Notify(text, 0);
}

void SESSION::VIEWERLINK::ViewerError(char const* text)
{
    S.ErrorMsg(text);
}

void SESSION::VIEWERLINK::ViewerAlert()
{
    S.AlarmQ(1);
}

bool SESSION::VIEWERLINK::ViewerKeyState(int vk)
{
    return S.KeyState(vk);
}

long long SESSION::VIEWERLINK::ViewerNowMs()
{
    return S.NowMs();
}
