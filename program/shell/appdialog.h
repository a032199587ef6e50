// MULTIREQUESTDIALOG: the list request of the main window (APP::
// ShowMultiRequest): a prompt as its title, one list of items, OK, Cancel,
// and a double click on an item that is its OK. Main thread.
#pragma once

#include "velmot/gui/listbox.h"
#include "velmot/gui/windialog.h"

class MULTIREQUESTDIALOG : public DIALOG {
public:
    // The list is built on the controls STAT 1 and RECT 1 of the resource.
    MULTIREQUESTDIALOG(WINDOW const* owner, char const* resource, char const* prompt, char const* const* items,
                       int count);
    // A double click (control event 770) ends the dialog as OK does.
    bool OnControlEvent(int code, CONTROL const& control, void* data) override;

    LISTBOX List;
};
