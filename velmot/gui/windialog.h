// DIALOG: a window made from a layout, owned by another window, centred
// over it and run as an application-modal loop that ends with a result
// code. A push button ends it with its signature plus its number (the
// button BACK 0 with 0), the close box and Escape with 0. Derived dialogs
// change this by overriding the handlers. Main thread only.
#pragma once

#include "velmot/gui/windows.h"

// The button that cancels a dialog.
constexpr CONTROLID DIALOG_CANCELBUTTON{plat::FourCC("BACK"), 0};

class VELMOT_EXPORT DIALOG : public WINDOW {
public:
    // The window `name` of the layouts, hidden, centred over the owner
    // (a null or hidden owner: the main display), the focus on its first
    // control.
    DIALOG(char const* name, plat::WindowRef owner, NIBBUNDLE bundle = nullptr);
    ~DIALOG() override;

    bool OnControlEvent(int code, CONTROL const& control, void* data) override;
    bool OnKeyboardEvent(KEYBOARDEVENT const& key) override;
    bool OnPushbutton(CONTROLID id) override;
    bool OnClose() override;
    virtual bool OnDialogDismissed(int rc);
    // Shows the dialog, runs it until Dismiss and hides it again; with
    // `noshow` only runs it (the caller shows and hides). Returns the code.
    virtual int Process(bool noshow = false);
    // Stores the code and ends the modal run (outside one it only stores).
    virtual void Dismiss(uint32_t rc);
    virtual plat::WindowRef GetOwner() const { return fOwner; }

    int GetResult() const { return fResult; }

protected:
    // Activates the owner again once this dialog no longer shows.
    void ReturnKeyboard();

    plat::WindowRef fOwner = nullptr;
    int32_t fResult = 0;
};
