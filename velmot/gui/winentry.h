// Text controls: entry fields that filter digits, limit their length and
// step aside for Return, static text and static icons. Constructors as
// for the buttons (winbuttons.h). Main thread only.
#pragma once

#include "velmot/gui/wincontrols.h"

#include "platform/draw/icons.h"

// A single-line field of Unicode text. The rules set on it (digits only,
// a longest length, taking Return) are properties of the field's view, and
// the handler that applies them belongs to the view too: it stays when the
// (often short-lived) ENTRYFIELD object that set them goes, and there is
// one per view however many objects set rules. While the user types, a
// change that breaks a rule is cut (sounding the alert), and the field
// reports to its owner that its text changed (CONTROLNOTIFY_TEXTCHANGED;
// not while an input method still composes) or was accepted with Return
// (CONTROLNOTIFY_TEXTACCEPTED).
class VELMOT_EXPORT ENTRYFIELD : public CONTROL {
public:
    explicit ENTRYFIELD(plat::ViewRef view) : CONTROL(view) {}
    ENTRYFIELD(CONTROLPARENT parent, CONTROLID const& id) : CONTROL(parent, id) {}
    ENTRYFIELD(CONTROLPARENT parent, CONTROLID const& id, int style, int x, int y, int cx, int cy);
    ENTRYFIELD(CONTROLPARENT parent, CONTROLID const& id, CONTROLID const& templateId);
    ~ENTRYFIELD() override;

    bool CreateEntryfield(CONTROLPARENT parent, CONTROLID const& id, int x, int y, int cx, int cy);
    // Sets the text and reports it to the window like typing (a simulated
    // hit).
    bool SetText(char const* text) const;
    bool SetTextWide(wchar_t const* text) const;
    // A negative start is 0, an end of -1 the end of the text.
    bool SetSelection(int start, int end);
    bool GetSelection(int* start, int* end);
    bool SetReadOnly(bool on);
    // While the field has the focus, Return reaches it instead of pressing
    // the window's default button.
    bool SetWantReturn(bool on);
    bool SetNumbersOnly(bool on);
    // The longest text in characters; below 1: no limit.
    bool SetTextLength(int max);
    // Makes sure the field's view has the handler that applies the rules.
    bool InstallHandler();

    // What that handler runs, on a wrapper of the view.
    plat::Status HandleEvent(plat::HandlerCall* call, TCarbonEvent& event) override;
};

class VELMOT_EXPORT STATICTEXT : public CONTROL {
public:
    explicit STATICTEXT(plat::ViewRef view) : CONTROL(view) {}
    STATICTEXT(CONTROLPARENT parent, CONTROLID const& id) : CONTROL(parent, id) {}
    STATICTEXT(CONTROLPARENT parent, CONTROLID const& id, int style, int x, int y, int cx, int cy);
    STATICTEXT(CONTROLPARENT parent, CONTROLID const& id, int style, CONTROLID const& templateId);
    ~STATICTEXT() override;

    bool CreateStaticText(CONTROLPARENT parent, CONTROLID const& id, int x, int y, int cx, int cy);
};

class VELMOT_EXPORT STATICICON : public CONTROL {
public:
    explicit STATICICON(plat::ViewRef view) : CONTROL(view) {}
    STATICICON(CONTROLPARENT parent, CONTROLID const& id) : CONTROL(parent, id) {}
    STATICICON(CONTROLPARENT parent, CONTROLID const& id, int style, int x, int y, int cx, int cy);
    STATICICON(CONTROLPARENT parent, CONTROLID const& id, int style, CONTROLID const& templateId);
    ~STATICICON() override;

    bool CreateStaticIcon(CONTROLPARENT parent, CONTROLID const& id, int x, int y, int cx, int cy);
    // 0 whether or not it worked (a failure is logged).
    int SetIcon(plat::IconRef icon);
    plat::IconRef GetIcon() const;
};
