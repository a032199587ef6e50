// Modal services and the responders that answer them in tests.
//
// Every service that runs a modal loop (alerts, modal windows, and the file
// dialogs, colour picker and pop-up menus built later) asks OfferModal
// from inside its loop. A test registers a responder for a kind of modal
// beforehand ("when an alert appears, choose button 2"); the responder runs
// on the main thread inside the loop and answers, so no test waits for a
// human. In test mode (application.h) a modal that finds no responder does
// not wait either.
#pragma once

#include "platform/events/windows.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace plat {

constexpr OSType kModalAlert = FourCC("alrt");
constexpr OSType kModalWindow = FourCC("wmod");
constexpr OSType kModalFileOpen = FourCC("fopn");
constexpr OSType kModalFileSave = FourCC("fsav");
constexpr OSType kModalFolder = FourCC("fold");
constexpr OSType kModalColor = FourCC("colr");
constexpr OSType kModalPopupMenu = FourCC("popm");

struct ModalRequest {
    OSType kind = 0;
    std::string title;
    std::string text;
    std::vector<std::string> choices; // button texts, menu items...
    WindowRef window = nullptr;       // the modal window, or the parent
    void* native = nullptr;           // the service's own object (a QWidget* for Qt services)
};

struct ModalAnswer {
    int choice = 0;                  // button number (1-based), menu item...
    std::string text;                // a path, a typed text
    std::vector<std::string> items;  // several paths
    uint32_t value = 0;              // a colour...
};

// Returns true when it answered; false lets the next responder (or the
// service's own default) decide.
using ModalResponder = std::function<bool(const ModalRequest&, ModalAnswer&)>;

// Registers a responder for one kind, used `times` times (-1: until
// removed). Newest first. Returns its id. Main thread.
uint64_t AddModalResponder(OSType kind, ModalResponder responder, int times = 1);
void RemoveModalResponder(uint64_t id);
void ClearModalResponders();

// For the services: asks the responders for this request; true when one
// answered. Main thread.
bool OfferModal(const ModalRequest& request, ModalAnswer& answer);

// For a program that is ending: ends every modal run (each as if it was
// cancelled: alerts choose their cancel button, dialogs are rejected,
// pop-up menus choose nothing, modal windows end their run) and from now on
// answers every new one the same way at once (false: answers them as
// before, for tests). Main thread.
void DeclineModals(bool on = true);
bool ModalsDeclined();

// Alert types.
constexpr int kAlertStop = 0;
constexpr int kAlertNote = 1;
constexpr int kAlertCaution = 2;
constexpr int kAlertPlain = 3;

struct AlertSpec {
    int type = kAlertNote;
    std::string title;       // UTF-8
    std::string message;     // the main text
    std::string explanation; // the smaller text below it
    // One to three button texts: the first is the default button (Return),
    // the second the cancel button (Escape), the third another one. Empty:
    // one "OK" button.
    std::vector<std::string> buttons;
    WindowRef parent = nullptr;
};

// Shows an application-modal alert on the main thread and returns the
// number of the button chosen (1, 2 or 3), or -1 when it could not be
// shown. Callable from any thread: elsewhere the alert is carried to the
// main thread and waited for (the caller must hold no lock the main thread
// needs). A responder for kModalAlert answers it with ModalAnswer::choice;
// in test mode without a responder the cancel button is chosen at once.
int RunAlert(const AlertSpec& spec);

// The colour picker, application-modal over the parent: *colour (0x00BBGGRR)
// is the colour it starts with and receives the one chosen; false when the
// user cancelled. A responder for kModalColor answers with ModalAnswer::value
// (choice 0 cancels); in test mode without one it cancels at once. Main
// thread.
bool RunColorPicker(const std::string& title, uint32_t* colour, WindowRef parent);

} // namespace plat
