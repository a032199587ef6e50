#include "velmot/gui/windialog.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"

DIALOG::DIALOG(char const* name, plat::WindowRef owner, NIBBUNDLE bundle) : WINDOW(name, owner, bundle), fOwner(owner)
{
    TARVOAPP::CheckCallerThread("DIALOG::DIALOG");
    if (!IsValid())
        return;
    CenterOver(owner);
    CONTROL(GetClientView()).SetFocusToFirstControl();
}

DIALOG::~DIALOG()
{
    TARVOAPP::CheckCallerThread("DIALOG::~DIALOG");
    bool const shown = fWindow && plat::IsWindowValid(fWindow) && plat::IsWindowVisible(fWindow);
    if (fHandlerSet && fWindow && plat::IsWindowValid(fWindow))
        DARWINDOW::Destroy();
    // A dialog that stood until now (shown by its owner across several
    // runs) gives the keyboard back to the window it came from.
    if (shown)
        ReturnKeyboard();
}

void DIALOG::ReturnKeyboard()
{
    bool const gone = !fWindow || !plat::IsWindowValid(fWindow) || !plat::IsWindowVisible(fWindow);
    if (gone && fOwner && plat::IsWindowValid(fOwner) && plat::IsWindowVisible(fOwner))
        plat::ActivateWindow(fOwner);
}

bool DIALOG::OnControlEvent(int, CONTROL const&, void*)
{
    return false;
}

bool DIALOG::OnKeyboardEvent(KEYBOARDEVENT const& key)
{
    // Escape alone closes; with a modifier it is someone else's key.
    if (key.Keycode == 27 && !(key.Flags & 0x1F0)) {
        OnClose();
        return true;
    }
    return false;
}

bool DIALOG::OnPushbutton(CONTROLID id)
{
    if (id == DIALOG_CANCELBUTTON)
        Dismiss(0);
    else
        Dismiss(id.signature + static_cast<uint32_t>(id.id));
    return true;
}

bool DIALOG::OnClose()
{
    Dismiss(0);
    return true;
}

bool DIALOG::OnDialogDismissed(int)
{
    return false;
}

int DIALOG::Process(bool noshow)
{
    TARVOAPP::CheckCallerThread("DIALOG::Process");
    LOGIT("DIALOG::Process fwindow= %p, noshow= %d\n", static_cast<void*>(fWindow), noshow ? 1 : 0);
    plat::WindowRef const window = fWindow;
    // The run returns here: this object stays until it has.
    HOLD hold(*this);
    // A hidden window is made modal, shown and activated by the run itself
    // (and hidden again after it), so the window system knows it as modal
    // from its first showing.
    if (!noshow && IsVisible())
        BringToForeground();
    plat::RunAppModalLoopForWindow(window);
    if (!noshow && plat::IsWindowValid(window))
        Show(false);
    // A dialog shown before its run is hidden only now: the window it came
    // from gets the keyboard back once it is gone (the run could not give it
    // while the dialog still stood over it).
    ReturnKeyboard();
    OnDialogDismissed(fResult);
    LOGIT("DIALOG::Process fwindow= %p done, rc= %d\n", static_cast<void*>(window), fResult);
    return fResult;
}

void DIALOG::Dismiss(uint32_t rc)
{
    TARVOAPP::CheckCallerThread("DIALOG::Dismiss");
    LOGIT("DIALOG::Dismiss fwindow= %p, rc= %d\n", static_cast<void*>(fWindow), static_cast<int>(rc));
    fResult = static_cast<int32_t>(rc);
    if (fWindow && plat::IsModalLoopRunning(reinterpret_cast<uintptr_t>(fWindow)))
        plat::QuitAppModalLoopForWindow(fWindow);
}
