// Shared by the data dialog tests: the layouts of nibs/datadialog_tests.json,
// a dialog run answered from inside its modal loop, control shortcuts and a
// replaceable table of the questions the stock push functions ask.
#pragma once

#include "tests/velmot/gui/lists_fixture.h"
#include "velmot/gui/datadialogs.h"
#include "velmot/gui/toolkitquestions.h"

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

// What the fake questions were asked, and what they answer.
struct QUESTIONLOG {
    std::vector<std::string> asked; // "folder <title>|<start>", "save <title>|<name>|<filter>", ...
    std::string answer;             // the folder or file name chosen; empty: cancelled
    bool yes = false;
    bool helpShown = true;
    CONTROLPARENT helpView;
};

inline QUESTIONLOG& Questions()
{
    static QUESTIONLOG log;
    return log;
}

// Installs fake questions for its lifetime.
class FAKEQUESTIONS {
public:
    FAKEQUESTIONS()
    {
        Questions() = QUESTIONLOG{};
        TOOLKITQUESTIONS q;
        q.AskFolder = [](plat::WindowRef, char const* title, char const* start) {
            Questions().asked.push_back(std::string("folder ") + title + "|" + start);
            return STRING(Questions().answer.c_str());
        };
        q.AskSaveAsFilename = [](plat::WindowRef, char const* title, char const* name, char const* filter) {
            Questions().asked.push_back(std::string("save ") + title + "|" + name + "|" + filter);
            return STRING(Questions().answer.c_str());
        };
        q.YesNo = [](plat::WindowRef, char const* title, char const* text) {
            Questions().asked.push_back(std::string("yesno ") + title + "|" + text);
            return Questions().yes;
        };
        q.Note = [](plat::WindowRef, char const* title, char const* text) {
            Questions().asked.push_back(std::string("note ") + title + "|" + text);
        };
        q.HelpTopic = [](char const* topic) {
            Questions().asked.push_back(std::string("topic ") + (topic ? topic : "<null>"));
            return 1;
        };
        q.HelpOfView = [](CONTROLPARENT view) {
            Questions().helpView = view;
            Questions().asked.push_back("help of view");
            return Questions().helpShown;
        };
        previous = SetToolkitQuestions(q);
    }
    ~FAKEQUESTIONS() { SetToolkitQuestions(previous); }
    FAKEQUESTIONS(FAKEQUESTIONS const&) = delete;
    FAKEQUESTIONS& operator=(FAKEQUESTIONS const&) = delete;

private:
    TOOLKITQUESTIONS previous;
};

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
