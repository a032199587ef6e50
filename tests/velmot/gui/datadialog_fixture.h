// Shared by the data dialog tests: the layouts of nibs/datadialog_tests.json,
// a dialog run answered from inside its modal loop, control shortcuts and
// answers to the file and folder dialogs.
#pragma once

#include "tests/velmot/gui/lists_fixture.h"
#include "velmot/gui/datadialogs.h"

#include <functional>
#include <string>
#include <vector>

namespace guifix {

// A window reference that is no window: dialogs without an owner.
inline WINDOW const& NoOwner()
{
    static WINDOW const none(static_cast<plat::WindowRef>(nullptr));
    return none;
}

// Answers the next file or folder dialog of `kind` with the text typed
// into it (empty: cancelled), noting "title|folder shown" in *asked.
inline void AnswerFileDialog(plat::OSType kind, std::string typed, std::vector<std::string>* asked)
{
    plat::AddModalResponder(kind, [typed, asked](plat::ModalRequest const& r, plat::ModalAnswer& a) {
        if (asked)
            asked->push_back(r.title + "|" + r.text);
        a.text = typed;
        a.choice = typed.empty() ? 2 : 1;
        return true;
    });
}

class DataDialogTest : public ToolkitTest {
protected:
    // Runs `act` inside the next dialog's modal run (once it is up).
    static void WhileRunning(std::function<void(plat::ModalRequest const&)> act)
    {
        plat::AddModalResponder(plat::kModalWindow, [act](plat::ModalRequest const& r, plat::ModalAnswer&) {
            act(r);
            return true;
        });
    }
    static void Press(CONTROLPARENT parent, CONTROLID id)
    {
        PUSHBUTTON(parent, id).SimulateHit(plat::kControlPartButton);
    }
    static void Close(plat::WindowRef window)
    {
        plat::EventPtr close = plat::Event::Create(plat::kEventClassWindow, plat::kEventWindowClose);
        close->Set(plat::kParamDirectObject, plat::kTypeWindow, window);
        plat::SendEvent(*close, plat::WindowTarget(window));
    }
    static std::string Text(CONTROLPARENT parent, CONTROLID id) { return CONTROL(parent, id).GetText().Buf(); }
    static void Type(CONTROLPARENT parent, CONTROLID id, char const* text) { ENTRYFIELD(parent, id).SetText(text); }
    static int Value(CONTROLPARENT parent, CONTROLID id) { return CONTROL(parent, id).GetControlValue(); }
    // A check box or radio button set as a click sets it.
    static void Set(CONTROLPARENT parent, CONTROLID id, int value)
    {
        CONTROL c(parent, id);
        c.SetControlValue(value);
    }
    static bool Enabled(CONTROLPARENT parent, CONTROLID id) { return CONTROL(parent, id).IsEnabled(); }
    static bool Visible(CONTROLPARENT parent, CONTROLID id) { return CONTROL(parent, id).IsVisible(); }
};

} // namespace guifix
