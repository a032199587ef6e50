// Buttons: push buttons (with the window's default button), check boxes
// with a third (mixed) state, radio buttons, bevel buttons and disclosure
// buttons.
//
// Every class offers the same constructors: over a view (not owning it),
// by lookup in a parent (not owning), creating (owning a new control at
// x, y, cx, cy) and in the place of a template control (owning a new
// control put where the template was). Main thread only.
#pragma once

#include "velmot/gui/wincontrols.h"

#include "platform/draw/icons.h"
#include "platform/menus/menus.h"

// Style bits of created buttons.
constexpr int PUSHBUTTONSTYLE_ICON = 0x10;      // icon push buttons are not offered
constexpr int BEVELBUTTONSTYLE_TOGGLES = 0x2;   // on and off
constexpr int BEVELBUTTONSTYLE_MENU = 0x4;      // opens a menu
constexpr int BEVELBUTTONSTYLE_ROUNDED = 0x8;

class VELMOT_EXPORT PUSHBUTTON : public CONTROL {
public:
    explicit PUSHBUTTON(plat::ViewRef view) : CONTROL(view) {}
    PUSHBUTTON(CONTROLPARENT parent, CONTROLID const& id) : CONTROL(parent, id) {}
    PUSHBUTTON(CONTROLPARENT parent, CONTROLID const& id, int style, int x, int y, int cx, int cy);
    PUSHBUTTON(CONTROLPARENT parent, CONTROLID const& id, int style, CONTROLID const& templateId);
    ~PUSHBUTTON() override;

    bool CreatePushbutton(CONTROLPARENT parent, CONTROLID const& id, int style, int x, int y, int cx, int cy);
    // Marks the button default and makes it the window's default button
    // (Return presses it), or with 0 leaves the window without one.
    int MakeDefaultButton(int on) const;
    // Not offered (reported); 0.
    int SetIcon(plat::IconRef icon);
};

// Values 0 off, 1 on, 2 mixed. A tri-state box cycles off, mixed, on
// under the user's clicks (the window does that, WINDOW::HandleAutoCheckbox).
class VELMOT_EXPORT CHECKBOX : public CONTROL {
public:
    explicit CHECKBOX(plat::ViewRef view) : CONTROL(view) {}
    CHECKBOX(CONTROLPARENT parent, CONTROLID const& id) : CONTROL(parent, id) {}
    CHECKBOX(CONTROLPARENT parent, CONTROLID const& id, int style, int x, int y, int cx, int cy);
    CHECKBOX(CONTROLPARENT parent, CONTROLID const& id, int style, CONTROLID const& templateId);
    ~CHECKBOX() override;

    bool CreateCheckbox(CONTROLPARENT parent, CONTROLID const& id, int x, int y, int cx, int cy);
    bool SetTriState(bool on);
    bool IsTriState() const;
};

// Radio buttons are grouped by the window: turning one on turns off its
// neighbours in the view order (WINDOW::HandleAutoRadioButton).
class VELMOT_EXPORT RADIOBUTTON : public CHECKBOX {
public:
    explicit RADIOBUTTON(plat::ViewRef view) : CHECKBOX(view) {}
    RADIOBUTTON(CONTROLPARENT parent, CONTROLID const& id) : CHECKBOX(parent, id) {}
    ~RADIOBUTTON() override;
};

class VELMOT_EXPORT BEVELBUTTON : public CONTROL {
public:
    explicit BEVELBUTTON(plat::ViewRef view) : CONTROL(view) {}
    BEVELBUTTON(CONTROLPARENT parent, CONTROLID const& id) : CONTROL(parent, id) {}
    BEVELBUTTON(CONTROLPARENT parent, CONTROLID const& id, int style, int x, int y, int cx, int cy);
    BEVELBUTTON(CONTROLPARENT parent, CONTROLID const& id, int style, CONTROLID const& templateId);
    ~BEVELBUTTON() override;

    bool CreateBevelbutton(CONTROLPARENT parent, CONTROLID const& id, int style, int x, int y, int cx, int cy);
    // The picture at the left, the text beside it.
    bool SetIcon(plat::IconRef icon);
    bool SetMenu(plat::MenuRef menu);
};

// Value 0 closed, 1 open; a click only reports, the program opens.
class VELMOT_EXPORT DISCLOSUREBUTTON : public CONTROL {
public:
    explicit DISCLOSUREBUTTON(plat::ViewRef view) : CONTROL(view) {}
    DISCLOSUREBUTTON(CONTROLPARENT parent, CONTROLID const& id) : CONTROL(parent, id) {}
    DISCLOSUREBUTTON(CONTROLPARENT parent, CONTROLID const& id, int style, int x, int y, int cx, int cy);
    DISCLOSUREBUTTON(CONTROLPARENT parent, CONTROLID const& id, int style, CONTROLID const& templateId);
    ~DISCLOSUREBUTTON() override;

    bool CreateDisclosureButton(CONTROLPARENT parent, CONTROLID const& id, int x, int y, int cx, int cy);
};
