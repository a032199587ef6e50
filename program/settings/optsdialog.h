// The seam between the option tables and the data-bound dialogs.
//
// OPTSBASE::AssocAll binds each row that names a control to a dialog item.
// An OPTSDIALOG answers which platform control (if any) carries a (kind,
// number) id under a page, and creates the bound items, which move the
// values between the block and the controls. DATAOPTSDIALOG does it for a
// data-bound dialog or page (velmot/gui/datadialogs.h), which owns the
// items it is given.
#pragma once

#include "velmot/core/vtypes.h"
#include "velmot/gui/wincontrols.h"

class DATADIALOGBASE;

class OPTSDIALOG {
public:
    virtual ~OPTSDIALOG() = default;

    // The platform kind of the control with this id under parent
    // (CONTROLKIND_EDITTEXT, CONTROLKIND_RADIO, ...), 0 when there is none.
    virtual FOURCHARCODE FindControlKind(CONTROLPARENT parent, CONTROLID id) = 0;

    // A check box bound to one byte.
    virtual void AddCheckItem(CONTROLID id, signed char* value) = 0;
    // An edit field with limits bound to a 32-bit integer.
    virtual void AddSpinItem(CONTROLID id, int32_t* value, int min, int max) = 0;
    // A radio button that sets the value to buttonValue when chosen.
    virtual void AddRadioItem(CONTROLID id, int32_t* value, int buttonValue) = 0;
    // Text fields bound to a narrow buffer of size bytes, or a wide buffer
    // of chars characters (terminators included).
    virtual void AddEntryItem(CONTROLID id, char* text, int size) = 0;
    virtual void AddEntryItem(CONTROLID id, wchar_t* text, int chars) = 0;
};

// The option rows of a table bound to the items of a data-bound dialog or
// page: check boxes to flags, spin fields and radio groups to numbers,
// entry fields to texts.
class DATAOPTSDIALOG : public OPTSDIALOG {
public:
    explicit DATAOPTSDIALOG(DATADIALOGBASE& dialog) : Dialog(dialog) {}

    FOURCHARCODE FindControlKind(CONTROLPARENT parent, CONTROLID id) override;
    void AddCheckItem(CONTROLID id, signed char* value) override;
    void AddSpinItem(CONTROLID id, int32_t* value, int min, int max) override;
    void AddRadioItem(CONTROLID id, int32_t* value, int buttonValue) override;
    void AddEntryItem(CONTROLID id, char* text, int size) override;
    void AddEntryItem(CONTROLID id, wchar_t* text, int chars) override;

private:
    DATADIALOGBASE& Dialog;
};
