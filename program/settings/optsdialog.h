// The seam between the option tables and the data-bound dialogs.
//
// OPTSBASE::AssocAll binds each row that names a control to a dialog item.
// The data-dialog classes implement OPTSDIALOG: they answer which platform
// control (if any) carries a (kind, number) id under a page, and create the
// bound items, which move the values between the block and the controls.
// The dialog owns the items it adds.
#pragma once

#include "velmot/core/vtypes.h"
#include "velmot/gui/wincontrols.h"

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
