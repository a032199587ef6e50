// The print dialog: the user picks a printer (or a PDF file), the number of
// copies and a page range.
//
// The dialog runs application-modal inside its own loop. It asks the modal
// responders (platform/events/modal.h) for kModalPrint first, so tests
// answer it without a human; in test mode a dialog without a responder is
// cancelled at once. Main thread; the event layer's application must be
// running (StartApplication).
#pragma once

#include "platform/events/modal.h"

#include <string>

namespace plat {

constexpr OSType kModalPrint = FourCC("prnt");

// The printer id that stands for "print to a PDF file at <path>".
constexpr const char* kPrintToFilePrefix = "file:";

struct PrintDialogSettings {
    // In: the printer to preselect (a print queue of ListPrinters(), or
    // kPrintToFilePrefix + an absolute path); empty: the standard printer.
    // Out: the printer chosen.
    std::string printerId;
    int copies = 1;
    // The page range; 0, 0 means all pages. On input a non-zero range
    // preselects it.
    int fromPage = 0;
    int toPage = 0;
};

// Shows the dialog and returns true when the user chose to print; the
// settings then hold the choice (unchanged on cancel). Parent: the window
// the dialog belongs to, or null.
//
// What a responder sees and answers: ModalRequest::text is the preselected
// printer id, `choices` the ids of the printers known, `native` the Qt
// dialog. ModalAnswer::choice 1 prints, anything else cancels; a non-empty
// `text` is the printer id chosen, a `value` above 0 the number of copies,
// and `items`, when it holds two numbers, the first and last page.
bool RunPrintDialog(PrintDialogSettings& settings, WindowRef parent = nullptr);

} // namespace plat
