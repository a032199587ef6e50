// PRINTQUEUE: the print jobs of one main window. Everything the program
// prints goes through it: the screen, the clipboard, the capture buffer,
// printer logging, the emulations' printer controller and the plug-ins'
// printer services.
//
// Writers on any thread append text to a job under the queue lock and
// never wait for a printer; the text reaches the printer or the print file
// when the queue is pumped (QueueTick: the main window's 500 ms tick, and
// after CloseJob). Printers (PRINTER) are used on the main thread only: off
// it NewJob opens the printer there and waits, and CloseJob posts the pump.
// The pump holds the lock only to take a job's text, and prints or writes
// without it.
//
// A job is a file job for a printer name beginning with "lpt" ("LPTFILE"
// with the setting's file name, "*" asking for one), else a job of the
// print system through PRINTER; a printer id "file:<absolute path>" writes
// a PDF file. Text is kept as bytes in the job's code page (UTF-8 for code
// page 1000): file jobs get those bytes, printer jobs the characters they
// stand for, raw jobs reach the printer unchanged.
//
// Job handles carry the record's generation: a handle of a job that was
// closed (and whose record may serve another job by now) reaches nothing.
#pragma once

#include "program/settings/programsettings.h"

#include "velmot/core/osyssync.h"
#include "velmot/core/unicode.h"
#include "velmot/gui/wintypes.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

class PRINTER;

// What the print queue asks of its main window.
class PRINTQUEUEHOST {
public:
    virtual ~PRINTQUEUEHOST() = default;
    virtual PROGRAMSETTINGSDATA const& PrintSettings() = 0;
    // The error box (any thread).
    virtual void PrintErrorMsg(char const* text) {}
    // The program was started with "NOPRINTNOTIFY".
    virtual bool PrintNotifyOff() { return false; }
    virtual bool PrintUnattended() { return false; }
    // The file an "LPTFILE" printer whose file is "*" prints to: asked for
    // (empty: cancelled).
    virtual std::string AskPrintFile(char const* proposal) { return std::string(); }
    // The work folder and the capture folder (no trailing "/").
    virtual std::string PrintWorkFolder() { return std::string(); }
    virtual std::string PrintCaptureFolder() { return PrintWorkFolder(); }
};

// What a job asks of the session that opens it.
class PRINTJOBOWNER {
public:
    virtual ~PRINTJOBOWNER() = default;
    // Expands the caret notation in place (size with the terminator); the
    // new length.
    virtual int PrintMakeCtrl(char* text, int size);
    // Shows a short notice.
    virtual void PrintNotify(char const* text) {}
};

class PRINTQUEUE {
public:
    static constexpr int MAXJOBS = 64;
    static constexpr int ATTEMPTS = 3;
    static constexpr size_t AFFIXMAX = 511;

    explicit PRINTQUEUE(PRINTQUEUEHOST& host);
    ~PRINTQUEUE();
    PRINTQUEUE(PRINTQUEUE const&) = delete;
    PRINTQUEUE& operator=(PRINTQUEUE const&) = delete;

    // A new job (any thread); null when none could be opened (the error box
    // was shown).
    void* NewJob(PRINTJOBOWNER& owner, wchar_t const* title, signed char raw, int codePage, signed char quiet);
    // Appends bytes in the job's code page, or characters (any thread);
    // 1, or 0 for a handle that names no open job.
    int Write(void* job, char const* text, int length);
    int WriteWide(void* job, wchar_t const* text, int length);
    // The job ends once its text is out (any thread).
    int CloseJob(void* job);
    // Pumps every job (main thread).
    void QueueTick();
    // Opens and sets up a print-system printer (main thread); null on
    // failure.
    PRINTER* CreatePrinter(wchar_t const* title, signed char raw, int codePage, char* nameOut, int nameSize);
    // "unit|left|top|right|bottom" as whole millimetres.
    static void MakePrinterMargins(char const* text, RECT* out);

    // The jobs open or waiting to be flushed.
    int OpenJobs();
    // The pause between attempts to open a printer (tests shorten it).
    int RetryMs = 500;

private:
    struct JOB;
    JOB* Lookup(void* handle);
    // A file job's target (empty: none).
    std::string FileTarget(PRINTJOBOWNER& owner, std::string const& name, std::string const& file, bool* ask);
    std::string Expand(PRINTJOBOWNER& owner, char const* text, size_t max);
    void PostPump();

    PRINTQUEUEHOST& Host;
    MUTEXSEM QueueLock;
    std::array<std::unique_ptr<JOB>, MAXJOBS> Jobs;
    bool Pumping = false;
    // Posted pumps check that the queue still exists.
    std::shared_ptr<PRINTQUEUE*> Self;
};
