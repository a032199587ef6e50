#include "program/settings/optsdialog.h"

#include "velmot/gui/datadialogs.h"

FOURCHARCODE DATAOPTSDIALOG::FindControlKind(CONTROLPARENT parent, CONTROLID id)
{
    CONTROL const control(parent.view ? parent : Dialog.GetControlParent(), id);
    return control.IsValid() ? control.GetKind() : 0;
}

void DATAOPTSDIALOG::AddCheckItem(CONTROLID id, signed char* value)
{
    Dialog.AddItem(new CHECKDATADIALOGITEM(id, value));
}

void DATAOPTSDIALOG::AddSpinItem(CONTROLID id, int32_t* value, int min, int max)
{
    Dialog.AddItem(new SPINDATADIALOGITEM(id, value, min, max));
}

void DATAOPTSDIALOG::AddRadioItem(CONTROLID id, int32_t* value, int buttonValue)
{
    Dialog.AddItem(new RADIODATADIALOGITEM(id, value, buttonValue));
}

void DATAOPTSDIALOG::AddEntryItem(CONTROLID id, char* text, int size)
{
    Dialog.AddItem(new ENTRYDATADIALOGITEM(id, text, size));
}

void DATAOPTSDIALOG::AddEntryItem(CONTROLID id, wchar_t* text, int chars)
{
    Dialog.AddItem(new ENTRYDATADIALOGITEM(id, text, chars));
}
