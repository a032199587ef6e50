#include "platform/draw/print.h"
#include "platform/draw/qtdraw_p.h"

#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QPrinterInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace plat {
namespace {

PrinterInfo InfoOf(const QPrinterInfo& p)
{
    PrinterInfo info;
    info.id = p.printerName().toStdString();
    info.name = p.description().isEmpty() ? info.id : p.description().toStdString();
    info.isDefault = p.isDefault();
    return info;
}

QPageSize PaperOf(const PageSetup& setup)
{
    if (setup.customPaper.width > 0 && setup.customPaper.height > 0)
        return QPageSize(QSizeF(setup.customPaper.width, setup.customPaper.height), QPageSize::Point,
                         QStringLiteral("Custom"), QPageSize::ExactMatch);
    struct Named {
        const char* name;
        QPageSize::PageSizeId id;
    };
    static const Named kPapers[] = {
        {"A4", QPageSize::A4},         {"Letter", QPageSize::Letter}, {"Legal", QPageSize::Legal},
        {"A3", QPageSize::A3},         {"A5", QPageSize::A5},         {"B5", QPageSize::B5},
        {"Executive", QPageSize::Executive}, {"Tabloid", QPageSize::Tabloid},
    };
    QString wanted = QString::fromStdString(setup.paper);
    for (const Named& n : kPapers)
        if (wanted.compare(QLatin1String(n.name), Qt::CaseInsensitive) == 0)
            return QPageSize(n.id);
    return QPageSize(QPageSize::A4);
}

} // namespace

std::vector<PrinterInfo> ListPrinters()
{
    std::vector<PrinterInfo> out;
    for (const QPrinterInfo& p : QPrinterInfo::availablePrinters())
        out.push_back(InfoOf(p));
    return out;
}

PrinterInfo DefaultPrinter()
{
    QPrinterInfo p = QPrinterInfo::defaultPrinter();
    return p.isNull() ? PrinterInfo{} : InfoOf(p);
}

// PrintJob

struct PrintJob::Impl {
    QPrinter printer{QPrinter::HighResolution};
    QPainter painter;
    std::unique_ptr<DrawContext> page;
    bool begun = false;
    bool finished = false;
    bool ok = true;
    int pages = 0;
    int copies = 1;
    Rect paper;
    Rect printable;

    void Setup(const PageSetup& setup, std::string_view title)
    {
        QPageLayout layout(PaperOf(setup),
                           setup.orientation == Orientation::Landscape ? QPageLayout::Landscape
                                                                       : QPageLayout::Portrait,
                           QMarginsF(0, 0, 0, 0), QPageLayout::Point);
        printer.setPageLayout(layout);
        // The whole paper is addressable; page coordinates are points.
        printer.setFullPage(true);
        printer.setResolution(72);
        printer.setDocName(QString::fromUtf8(title.data(), qsizetype(title.size())));
        copies = std::max(1, setup.copies);
        printer.setCopyCount(copies);
        if (setup.fromPage > 0 && setup.toPage >= setup.fromPage) {
            printer.setPrintRange(QPrinter::PageRange);
            printer.setFromTo(setup.fromPage, setup.toPage);
        }
        QRectF p = printer.paperRect(QPrinter::Point);
        paper = Rect{0, 0, p.width(), p.height()};
        // The printer cannot mark the paper closer to its edges than its
        // minimum margins, whatever the page setup asks for.
        QMarginsF least = printer.pageLayout().minimumMargins();
        double left = std::max(setup.marginLeft, least.left());
        double right = std::max(setup.marginRight, least.right());
        double top = std::max(setup.marginTop, least.top());
        double bottom = std::max(setup.marginBottom, least.bottom());
        printable = Rect{left, bottom, std::max(0.0, paper.width - left - right),
                         std::max(0.0, paper.height - top - bottom)};
    }
};

PrintJob::PrintJob(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

PrintJob::~PrintJob()
{
    if (!impl_->finished)
        Finish();
}

std::unique_ptr<PrintJob> PrintJob::ToPdf(const std::string& path, const PageSetup& setup, std::string_view title)
{
    if (path.empty())
        return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->printer.setOutputFormat(QPrinter::PdfFormat);
    impl->printer.setOutputFileName(QString::fromStdString(path));
    impl->Setup(setup, title);
    return std::unique_ptr<PrintJob>(new PrintJob(std::move(impl)));
}

std::unique_ptr<PrintJob> PrintJob::ToPrinter(const std::string& printerId, const PageSetup& setup,
                                              std::string_view title)
{
    QPrinterInfo info = QPrinterInfo::printerInfo(QString::fromStdString(printerId));
    if (printerId.empty() || info.isNull())
        return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->printer.setOutputFormat(QPrinter::NativeFormat);
    impl->printer.setPrinterName(info.printerName());
    impl->Setup(setup, title);
    return std::unique_ptr<PrintJob>(new PrintJob(std::move(impl)));
}

Rect PrintJob::PaperRect() const { return impl_->paper; }
Rect PrintJob::PrintableRect() const { return impl_->printable; }
double PrintJob::Resolution() const { return 72; }
int PrintJob::Copies() const { return impl_->copies; }
int PrintJob::PageCount() const { return impl_->pages; }

DrawContext* PrintJob::BeginPage()
{
    Impl& j = *impl_;
    if (j.finished || !j.ok)
        return nullptr;
    EndPage();
    if (!j.begun) {
        if (!j.painter.begin(&j.printer)) {
            j.ok = false;
            return nullptr;
        }
        j.begun = true;
    } else if (!j.printer.newPage()) {
        j.ok = false;
        return nullptr;
    }
    ++j.pages;
    // Device units are points at 72 dpi; scale in case the print system
    // insisted on another resolution.
    double s = j.printer.resolution() / 72.0;
    auto ctx = std::make_unique<ContextImpl>();
    ctx->Init(&j.painter, QTransform(s, 0, 0, -s, 0, j.paper.height * s), true,
              Size{j.paper.width, j.paper.height});
    j.page.reset(new DrawContext(std::move(ctx)));
    return j.page.get();
}

bool PrintJob::EndPage()
{
    if (!impl_->page)
        return false;
    impl_->page.reset();
    return true;
}

bool PrintJob::Finish()
{
    Impl& j = *impl_;
    if (j.finished)
        return j.ok;
    EndPage();
    if (j.begun && !j.painter.end())
        j.ok = false;
    j.finished = true;
    return j.ok;
}

// RawPrintJob

struct RawPrintJob::Impl {
    int fd = -1;
    bool toPrinter = false;
    std::string path;   // the output file, or the temporary file
    std::string folder; // private folder of the temporary file
    std::string printer;
    std::string title;
    std::string program;
    size_t written = 0;
    bool ok = true;
    bool finished = false;

    void RemoveTemporary()
    {
        if (!toPrinter)
            return;
        if (!path.empty())
            unlink(path.c_str());
        if (!folder.empty())
            rmdir(folder.c_str());
        path.clear();
        folder.clear();
    }

    void Close()
    {
        if (fd >= 0 && close(fd) != 0)
            ok = false;
        fd = -1;
    }

    // Runs the print command and waits for it, at most timeoutMs.
    bool RunPrintCommand(int timeoutMs)
    {
        std::vector<std::string> args = {program, "-d", printer, "-o", "raw"};
        if (!title.empty()) {
            args.push_back("-t");
            args.push_back(title);
        }
        args.push_back(path); // absolute, so it cannot pass for an option
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // The command's report ("request id is ...") is not ours to show.
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            return false;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
        int status = 0;
        for (;;) {
            pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid)
                break;
            if (r < 0 && errno != EINTR)
                return false;
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(pid, SIGKILL);
                while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
                }
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
};

RawPrintJob::RawPrintJob(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

RawPrintJob::~RawPrintJob()
{
    impl_->Close();
    impl_->RemoveTemporary();
}

std::unique_ptr<RawPrintJob> RawPrintJob::ToFile(const std::string& path)
{
    if (path.empty())
        return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (impl->fd < 0)
        return nullptr;
    impl->path = path;
    return std::unique_ptr<RawPrintJob>(new RawPrintJob(std::move(impl)));
}

std::unique_ptr<RawPrintJob> RawPrintJob::ToPrinter(const std::string& printerId, std::string_view title,
                                                    const std::string& program)
{
    if (printerId.empty() || program.empty())
        return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->toPrinter = true;
    impl->printer = printerId;
    impl->title = std::string(title);
    impl->program = program;
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/qor-raw.XXXXXX";
    if (!mkdtemp(folder.data()))
        return nullptr;
    impl->folder = folder;
    std::string file = folder + "/job.XXXXXX";
    impl->fd = mkostemp(file.data(), O_CLOEXEC);
    if (impl->fd < 0) {
        impl->RemoveTemporary();
        return nullptr;
    }
    impl->path = file;
    return std::unique_ptr<RawPrintJob>(new RawPrintJob(std::move(impl)));
}

bool RawPrintJob::Write(const void* data, size_t size)
{
    Impl& j = *impl_;
    if (j.fd < 0 || j.finished)
        return false;
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(j.fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            j.ok = false;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
        j.written += static_cast<size_t>(n);
    }
    return true;
}

size_t RawPrintJob::BytesWritten() const { return impl_->written; }

bool RawPrintJob::Finish(int timeoutMs)
{
    Impl& j = *impl_;
    if (j.finished)
        return j.ok;
    j.finished = true;
    j.Close();
    if (j.toPrinter) {
        if (j.ok)
            j.ok = j.RunPrintCommand(timeoutMs);
        j.RemoveTemporary();
    }
    return j.ok;
}

} // namespace plat
