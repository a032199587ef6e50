#include "program/screen/printqueue.h"

#include "program/screen/codepagetext.h"

#include "platform/events/queue.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/tarvo.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/printer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <fcntl.h>
#include <mutex>
#include <strings.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

enum STATE { FREE = 0, OPEN = 1, CLOSED = 2, OPENING = 3 };

// The program settings' standard printer font.
constexpr char kStandardFont[] = "Courier New";

std::string Field(std::string const& text, int index)
{
    size_t pos = 0;
    for (int i = 0; i < index; ++i) {
        pos = text.find('|', pos);
        if (pos == std::string::npos)
            return std::string();
        ++pos;
    }
    size_t const end = text.find('|', pos);
    return text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
}

bool WriteAll(int fd, char const* data, size_t len)
{
    while (len > 0) {
        ssize_t const n = write(fd, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

UNICODE_CODEPAGE PageOf(int codePage)
{
    return cptext::IsUtf8(codePage) ? UNICODE_CPUTF8 : codePage;
}

// The printer's font: "size|name" or a font description "10F.Courier New"
// (size and style letters, then the name).
void ParseFont(std::string const& text, std::string* name, int* size, bool* bold, bool* italic)
{
    size_t split = text.find('|');
    if (split == std::string::npos)
        split = text.find('.');
    std::string const head = split == std::string::npos ? std::string() : text.substr(0, split);
    *name = split == std::string::npos ? text : text.substr(split + 1);
    *size = atoi(head.c_str());
    if (*size < 1)
        *size = 10;
    *size = std::min(*size, 200);
    *bold = head.find_first_of("bB") != std::string::npos;
    *italic = head.find_first_of("iI") != std::string::npos;
}

} // namespace

int PRINTJOBOWNER::PrintMakeCtrl(char* text, int size)
{
    return text ? static_cast<int>(strnlen(text, static_cast<size_t>(std::max(size, 0)))) : 0;
}

struct PRINTQUEUE::JOB {
    uint32_t Generation = 1;
    int State = FREE;
    bool IsFile = false;
    bool Raw = false;
    bool RawPostfix = false;
    int CodePage = 1252;
    PRINTER* Printer = nullptr;
    int Fd = -1;
    std::string Text; // bytes in the job's code page, not sent yet
    std::string Postfix;
    UNICODE_UTF8STATE Decoder{}; // the pump's, for printer jobs in UTF-8
};

PRINTQUEUE::PRINTQUEUE(PRINTQUEUEHOST& host) : Host(host), Self(std::make_shared<PRINTQUEUE*>(this))
{
    for (auto& job : Jobs)
        job = std::make_unique<JOB>();
}

PRINTQUEUE::~PRINTQUEUE()
{
    Self.reset();
    if (TARVOAPP::IsMainThread())
        QueueTick();
    // What is still held ends here.
    MUTEXLOCK lock(QueueLock);
    for (auto& job : Jobs) {
        if (job->Printer) {
            job->Printer->EndDoc();
            delete job->Printer;
            job->Printer = nullptr;
        }
        if (job->Fd >= 0) {
            WriteAll(job->Fd, job->Text.data(), job->Text.size());
            close(job->Fd);
            job->Fd = -1;
        }
        job->State = FREE;
    }
}

// ---------------------------------------------------------------------------
// Handles

PRINTQUEUE::JOB* PRINTQUEUE::Lookup(void* handle)
{
    auto const word = reinterpret_cast<uintptr_t>(handle);
    size_t const index = (word & 0xFF);
    if (index == 0 || index > MAXJOBS)
        return nullptr;
    JOB* job = Jobs[index - 1].get();
    if (job->Generation != static_cast<uint32_t>(word >> 8) || job->State != OPEN)
        return nullptr;
    return job;
}

int PRINTQUEUE::OpenJobs()
{
    MUTEXLOCK lock(QueueLock);
    int n = 0;
    for (auto const& job : Jobs)
        n += job->State != FREE;
    return n;
}

// ---------------------------------------------------------------------------
// Opening

void PRINTQUEUE::MakePrinterMargins(char const* text, RECT* out)
{
    static constexpr int kDefault[4] = {15, 20, 0, 20};
    std::string spec = text && *text ? text : "mm|15|20|0|20";
    std::string const unit = Field(spec, 0);
    double factor = 1.0;
    if (strcasecmp(unit.c_str(), "cm") == 0)
        factor = 10.0;
    else if (strcasecmp(unit.c_str(), "in") == 0)
        factor = 25.4;
    else if (strcasecmp(unit.c_str(), "pt") == 0)
        factor = 25.4 / 72.0;
    int mm[4];
    for (int i = 0; i < 4; ++i) {
        std::string const number = Field(spec, i + 1);
        if (number.empty()) {
            mm[i] = kDefault[i];
            continue;
        }
        double const value = strtod(number.c_str(), nullptr) * factor;
        // A page keeps room to print on: no margin beyond 100 mm.
        mm[i] = std::isfinite(value) ? static_cast<int>(std::clamp(value, 0.0, 100.0)) : kDefault[i];
    }
    if (out)
        *out = RECT{mm[0], mm[1], mm[2], mm[3]};
    LOGIT("PRINTQUEUE::MakePrinterMargins %s returns %d/%d/%d/%d mm\n", spec.c_str(), mm[0], mm[1], mm[2], mm[3]);
}

PRINTER* PRINTQUEUE::CreatePrinter(wchar_t const* title, signed char raw, int codePage, char* nameOut, int nameSize)
{
    PROGRAMSETTINGSDATA const& s = Host.PrintSettings();
    int flags = 0;
    if (s.PrinterOrientation)
        flags |= PRINTER_LANDSCAPE;
    if (s.PrintRaw && raw)
        flags |= PRINTER_RAW;
    auto printer = std::make_unique<PRINTER>();
    if (!printer->PrinterOpen(s.Printer, flags, nameOut, nameSize))
        return nullptr;
    std::wstring name = L"QOR";
    if (title && *title)
        name = name + L" (" + title + L")";
    if (!printer->StartDocWide(name.c_str(), false))
        return nullptr;
    if (!(flags & PRINTER_RAW)) {
        RECT margins{};
        MakePrinterMargins(s.PrinterMargins, &margins);
        printer->SetMargins(margins.left, margins.top, margins.right, margins.bottom);
        std::string font;
        int size = 10;
        bool bold = false, italic = false;
        ParseFont(s.PrinterFont, &font, &size, &bold, &italic);
        // A page without a font prints nothing: an empty or unknown name
        // takes the program's standard printer font.
        if (font.empty() || !printer->SetFont(font.c_str(), size, bold, italic, true, PageOf(codePage)))
            printer->SetFont(kStandardFont, size, bold, italic, true, PageOf(codePage));
        std::wstring header = s.PrintHeader;
        std::wstring const tag = L"%CONNECTEDTO%";
        for (size_t at = header.find(tag); at != std::wstring::npos; at = header.find(tag, at))
            header.replace(at, tag.size(), title ? title : L"");
        printer->SetHeaderWide(header.c_str());
        if (!printer->NewPage())
            return nullptr;
    }
    return printer.release();
}

std::string PRINTQUEUE::Expand(PRINTJOBOWNER& owner, char const* text, size_t max)
{
    std::vector<char> buf(max + 1, 0);
    snprintf(buf.data(), buf.size(), "%s", text ? text : "");
    // Print targets and printer codes never carry a stored secret.
    cptext::DropCredentialCodes(buf.data());
    int const n = std::clamp(owner.PrintMakeCtrl(buf.data(), static_cast<int>(buf.size())), 0, static_cast<int>(max));
    return std::string(buf.data(), static_cast<size_t>(n));
}

std::string PRINTQUEUE::FileTarget(PRINTJOBOWNER& owner, std::string const& name, std::string const& file, bool* ask)
{
    *ask = false;
    std::string target = name;
    if (strcasecmp(name.c_str(), "LPTFILE") == 0) {
        if (file == "*") {
            // The file is asked for; unattended, a dated file in the
            // capture folder.
            *ask = true;
            time_t const now = time(nullptr);
            tm local{};
            localtime_r(&now, &local);
            char stamp[64];
            strftime(stamp, sizeof stamp, "print-%Y%m%d-%H%M%S.txt", &local);
            std::string const proposal = Host.PrintCaptureFolder() + "/" + stamp;
            if (Host.PrintUnattended())
                return proposal;
            return Host.AskPrintFile(proposal.c_str());
        }
        target = Expand(owner, file.c_str(), 259);
    }
    if (target.empty())
        return target;
    FILENAME full(Host.PrintWorkFolder().c_str(), target.c_str());
    return full.Buf();
}

void* PRINTQUEUE::NewJob(PRINTJOBOWNER& owner, wchar_t const* title, signed char raw, int codePage, signed char quiet)
{
    PROGRAMSETTINGSDATA const& s = Host.PrintSettings();
    std::string const setting = s.Printer;
    std::string const name = Field(setting, 0);
    std::string const file = Field(setting, 1);
    int index = -1;
    {
        MUTEXLOCK lock(QueueLock);
        for (int i = 0; i < MAXJOBS; ++i) {
            if (Jobs[static_cast<size_t>(i)]->State == FREE) {
                index = i;
                Jobs[static_cast<size_t>(i)]->State = OPENING;
                break;
            }
        }
    }
    STRING error;
    error.Format(OSYS::GetStringFromResource("IDS_CANT_OPEN_PRINTER").Buf(), name.c_str());
    if (index < 0) {
        LOGIT("PRINTERQUEUE::NewJob no free job of %d\n", MAXJOBS);
        Host.PrintErrorMsg(error.Buf());
        return nullptr;
    }
    JOB& job = *Jobs[static_cast<size_t>(index)];
    auto release = [&] {
        MUTEXLOCK lock(QueueLock);
        job.State = FREE;
    };

    bool const isFile = strncasecmp(name.c_str(), "lpt", 3) == 0;
    PRINTER* printer = nullptr;
    int fd = -1;
    std::string shown;
    for (int attempt = 1; attempt <= ATTEMPTS; ++attempt) {
        if (isFile) {
            bool asked = false;
            std::string const target = FileTarget(owner, name, file, &asked);
            if (target.empty() && asked) {
                // The question was cancelled: nothing to print, nothing to say.
                release();
                return nullptr;
            }
            if (!target.empty())
                fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            shown = FILENAME(target.c_str()).JustFile().Buf();
            LOGIT("PRINTERQUEUE::NewJob printer open try %d returns prt=%p\n", attempt,
                  reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
            if (fd >= 0)
                break;
        } else {
            char chosen[260] = {};
            if (TARVOAPP::IsMainThread()) {
                printer = CreatePrinter(title, raw, codePage, chosen, sizeof chosen);
            } else {
                // Printers are the main thread's. A wait that gives up leaves
                // the printer to the call, which then ends it.
                struct CALL {
                    PRINTER* Result = nullptr;
                    bool Abandoned = false;
                    std::mutex Mutex;
                    char Name[260] = {};
                };
                auto call = std::make_shared<CALL>();
                std::weak_ptr<PRINTQUEUE*> alive = Self;
                std::wstring const titleCopy = title ? title : L"";
                plat::RunTaskAndWait(
                    [call, alive, titleCopy, raw, codePage] {
                        auto self = alive.lock();
                        if (!self)
                            return;
                        PRINTER* p = (*self)->CreatePrinter(titleCopy.c_str(), raw, codePage, call->Name,
                                                            sizeof call->Name);
                        std::lock_guard<std::mutex> guard(call->Mutex);
                        if (call->Abandoned) {
                            if (p) {
                                p->EndDoc();
                                delete p;
                            }
                            return;
                        }
                        call->Result = p;
                    },
                    60000);
                std::lock_guard<std::mutex> guard(call->Mutex);
                call->Abandoned = true;
                printer = call->Result;
                memcpy(chosen, call->Name, sizeof chosen);
            }
            shown = chosen;
            LOGIT("PRINTERQUEUE::NewJob printer open try %d returns prt=%p\n", attempt, static_cast<void*>(printer));
            if (printer)
                break;
        }
        if (attempt < ATTEMPTS)
            std::this_thread::sleep_for(std::chrono::milliseconds(RetryMs));
    }
    if (!printer && fd < 0) {
        release();
        Host.PrintErrorMsg(error.Buf());
        return nullptr;
    }
    if (!quiet && !Host.PrintNotifyOff()) {
        STRING notice;
        notice.Format(OSYS::GetStringFromResource("IDS_PRINTING_TO").Buf(), shown.c_str());
        owner.PrintNotify(notice.Buf());
    }
    std::string prefix, postfix;
    bool const rawPostfix = s.PrintRaw && raw;
    if (rawPostfix) {
        prefix = Expand(owner, s.PrinterRawPrefix, AFFIXMAX);
        postfix = Expand(owner, s.PrinterRawPostfix, AFFIXMAX);
    }
    MUTEXLOCK lock(QueueLock);
    job.IsFile = isFile;
    job.Raw = raw != 0;
    job.RawPostfix = rawPostfix;
    job.CodePage = codePage;
    job.Printer = printer;
    job.Fd = fd;
    job.Text = prefix;
    job.Postfix = postfix;
    job.Decoder = UNICODE_UTF8STATE{};
    job.State = OPEN;
    return reinterpret_cast<void*>((static_cast<uintptr_t>(job.Generation) << 8) | static_cast<uintptr_t>(index + 1));
}

// ---------------------------------------------------------------------------
// Writing

int PRINTQUEUE::Write(void* handle, char const* text, int length)
{
    if (!text)
        return 0;
    size_t const n = length < 0 ? strlen(text) : static_cast<size_t>(length);
    MUTEXLOCK lock(QueueLock);
    JOB* job = Lookup(handle);
    if (!job)
        return 0;
    job->Text.append(text, n);
    return 1;
}

int PRINTQUEUE::WriteWide(void* handle, wchar_t const* text, int length)
{
    if (!text)
        return 0;
    size_t const n = length < 0 ? wcslen(text) : static_cast<size_t>(length);
    MUTEXLOCK lock(QueueLock);
    JOB* job = Lookup(handle);
    if (!job)
        return 0;
    cptext::Encode(job->Text, text, n, job->CodePage);
    return 1;
}

int PRINTQUEUE::CloseJob(void* handle)
{
    {
        MUTEXLOCK lock(QueueLock);
        JOB* job = Lookup(handle);
        if (!job)
            return 0;
        job->State = CLOSED;
    }
    if (TARVOAPP::IsMainThread())
        QueueTick();
    else
        PostPump();
    return 1;
}

void PRINTQUEUE::PostPump()
{
    std::weak_ptr<PRINTQUEUE*> alive = Self;
    plat::PostTask([alive] {
        if (auto self = alive.lock())
            (*self)->QueueTick();
    });
}

void PRINTQUEUE::QueueTick()
{
    if (Pumping || !TARVOAPP::IsMainThread())
        return;
    Pumping = true;
    for (auto& record : Jobs) {
        JOB& job = *record;
        std::string text;
        PRINTER* printer = nullptr;
        int fd = -1;
        bool closed = false, isFile = false, raw = false;
        std::string postfix;
        int codePage = 1252;
        uint32_t generation = 0;
        UNICODE_UTF8STATE decoder{};
        {
            MUTEXLOCK lock(QueueLock);
            if (job.State != OPEN && job.State != CLOSED)
                continue;
            text.swap(job.Text);
            printer = job.Printer;
            fd = job.Fd;
            isFile = job.IsFile;
            raw = job.Raw;
            codePage = job.CodePage;
            generation = job.Generation;
            decoder = job.Decoder;
            if (job.State == CLOSED) {
                closed = true;
                if (job.RawPostfix)
                    postfix = job.Postfix;
                job.Printer = nullptr;
                job.Fd = -1;
                if (++job.Generation == 0)
                    job.Generation = 1;
                job.Decoder = UNICODE_UTF8STATE{};
                job.State = FREE;
            }
        }
        // Printers and files without the lock: writers go on meanwhile.
        if (isFile) {
            if (!text.empty() && !WriteAll(fd, text.data(), text.size()))
                LOGIT("PRINTQUEUE::QueueTick print file write failed: %s\n", strerror(errno));
            if (closed)
                close(fd);
        } else if (printer) {
            if (!text.empty()) {
                if (raw && printer->RawMode) {
                    printer->WriteText(text.data(), static_cast<int>(text.size()));
                } else {
                    std::wstring wide;
                    cptext::Decode(wide, text.data(), text.size(), codePage, &decoder);
                    if (!wide.empty())
                        printer->WriteTextWide(wide.c_str(), static_cast<int>(wide.size()));
                }
            }
            if (closed) {
                if (!postfix.empty())
                    printer->WriteText(postfix.data(), static_cast<int>(postfix.size()));
                printer->EndDoc();
                delete printer;
            }
        }
        if (!closed) {
            // A character cut between two writes goes on in the next pump.
            MUTEXLOCK lock(QueueLock);
            if (job.Generation == generation)
                job.Decoder = decoder;
        }
    }
    Pumping = false;
}
