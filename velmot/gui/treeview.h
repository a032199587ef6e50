// TREEVIEW: a single-column list view whose records may lie under a
// parent record. A record with records under it shows a disclosure
// triangle; its records are shown when it is opened. Records carry no
// image. Main thread only.
#pragma once

#include "velmot/gui/listview.h"

class VELMOT_EXPORT TREEVIEW : public LISTVIEW {
public:
    // The style has no effect.
    TREEVIEW(CONTROLPARENT parent, CONTROLID id, int style, CONTROLID templateId);
    TREEVIEW(CONTROLPARENT parent, CONTROLID id, int style, int x, int y, int cx, int cy);
    ~TREEVIEW() override;

    bool CreateTreeview(CONTROLPARENT parent, CONTROLID id, int x, int y, int cx, int cy);

    // `image` must be -1 (reported otherwise).
    bool InsertRecord(int handle, int image, char const* text);
    bool InsertRecordWide(int handle, int image, wchar_t const* text);
    bool InsertChildRecord(int handle, int parent, int image, char const* text);
    bool InsertChildRecordWide(int handle, int parent, int image, wchar_t const* text);
    bool UpdateRecord(int handle, char const* text);
    bool UpdateRecordWide(int handle, wchar_t const* text);
    bool SelectRecord(int handle);
    // The first selected record; -1.
    int GetSelectedRecord();

    // Not offered (reported).
    bool UpdateRecordImage(int handle, int image);
    void SortRecords();
    int GetRecordFromCursor();
};
