#include "platform/draw/printdialog.h"

#include "platform/draw/print.h"
#include "platform/events/application.h"
#include "platform/events/bridge_qt.h"
#include "platform/events/queue.h"

#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace plat {
namespace {

bool IsFileId(const std::string& id)
{
    return id.rfind(kPrintToFilePrefix, 0) == 0;
}

// A decimal page number from a responder's answer; 0 when it is none.
int PageNumber(const std::string& text)
{
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != 0 || v < 0 || v > 1000000)
        return 0;
    return static_cast<int>(v);
}

} // namespace

bool RunPrintDialog(PrintDialogSettings& settings, WindowRef parent)
{
    if (!CheckMainThread("RunPrintDialog") || !IsApplicationRunning())
        return false;

    QPrinter printer(QPrinter::HighResolution);
    if (IsFileId(settings.printerId)) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(settings.printerId.substr(strlen(kPrintToFilePrefix))));
    } else if (!settings.printerId.empty()) {
        printer.setPrinterName(QString::fromStdString(settings.printerId));
    }
    printer.setCopyCount(settings.copies > 0 ? settings.copies : 1);

    QPrintDialog dialog(&printer, bridge::WidgetOfWindow(parent));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    dialog.setMinMax(1, 9999);
    if (settings.fromPage > 0 && settings.toPage >= settings.fromPage) {
        dialog.setPrintRange(QAbstractPrintDialog::PageRange);
        dialog.setFromTo(settings.fromPage, settings.toPage);
    }

    ModalRequest req;
    req.kind = kModalPrint;
    req.title = "Print";
    req.text = settings.printerId;
    for (const PrinterInfo& p : ListPrinters())
        req.choices.push_back(p.id);
    req.window = parent;
    req.native = &dialog;

    // The responders are asked once the dialog's own loop runs, as for every
    // modal service; their answer ends the loop the way the buttons do.
    bool answered = false;
    ModalAnswer answer;
    QTimer::singleShot(0, &dialog, [&] {
        if (OfferModal(req, answer)) {
            answered = true;
        } else if (IsTestMode()) {
            std::fprintf(stderr, "plat: print dialog in test mode without a responder: cancelled\n");
            answer.choice = 2;
            answered = true;
        } else {
            return; // a human answers
        }
        if (answer.choice == 1)
            dialog.accept();
        else
            dialog.reject();
    });
    const int result = dialog.exec();
    if (result != QDialog::Accepted)
        return false;

    if (answered) {
        if (!answer.text.empty())
            settings.printerId = answer.text;
        if (answer.value > 0)
            settings.copies = static_cast<int>(std::min<uint32_t>(answer.value, 9999));
        if (answer.items.size() == 2) {
            settings.fromPage = PageNumber(answer.items[0]);
            settings.toPage = PageNumber(answer.items[1]);
        }
        return true;
    }

    // What the user chose in the dialog.
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty())
        settings.printerId = kPrintToFilePrefix + printer.outputFileName().toStdString();
    else
        settings.printerId = printer.printerName().toStdString();
    settings.copies = printer.copyCount();
    if (dialog.printRange() == QAbstractPrintDialog::PageRange) {
        settings.fromPage = dialog.fromPage();
        settings.toPage = dialog.toPage();
    } else {
        settings.fromPage = settings.toPage = 0;
    }
    return true;
}

} // namespace plat
