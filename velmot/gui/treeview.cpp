#include "velmot/gui/treeview.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"

TREEVIEW::TREEVIEW(CONTROLPARENT parent, CONTROLID id, int, CONTROLID templateId)
{
    InitListview(LVFMT_TREEVIEW);
    plat::ViewRef const templ = parent.view
                                    ? plat::FindViewById(parent.view, plat::ViewId{templateId.signature, templateId.id})
                                    : nullptr;
    plat::RectI const r = plat::GetViewFrame(templ);
    if (CreateTreeview(parent, id, r.left, r.top, r.Width(), r.Height())) {
        MoveToTemplateControl(parent, templateId, true);
        Show(true);
    }
}

TREEVIEW::TREEVIEW(CONTROLPARENT parent, CONTROLID id, int, int x, int y, int cx, int cy)
{
    InitListview(LVFMT_TREEVIEW);
    if (CreateTreeview(parent, id, x, y, cx, cy))
        Show(true);
}

TREEVIEW::~TREEVIEW() = default;

bool TREEVIEW::CreateTreeview(CONTROLPARENT parent, CONTROLID id, int x, int y, int cx, int cy)
{
    if (!CreateListview(parent, id, x, y, cx, cy))
        return false;
    Format(0, 0, nullptr, 0, 1);
    SetShowColumnHeaders(0);
    SetAllowMultiSelect(0);
    SetFullrowselect(1);
    SetStripedBackground(0);
    SetScrollbars(0, 0);
    InsertColumn(0, "Item", cx, LVCOLUMN_LEFT);
    return true;
}

bool TREEVIEW::InsertRecord(int handle, int image, char const* text)
{
    VASSERT(image == -1, "idximg==-1", nullptr);
    return LISTVIEW::InsertRecord(handle, -1, text, -1);
}

bool TREEVIEW::InsertRecordWide(int handle, int image, wchar_t const* text)
{
    VASSERT(image == -1, "idximg==-1", nullptr);
    return LISTVIEW::InsertRecordWide(handle, -1, text, -1);
}

bool TREEVIEW::InsertChildRecord(int handle, int parent, int image, char const* text)
{
    VASSERT(image == -1, "idximg==-1", nullptr);
    return LISTVIEW::InsertRecord(handle, -1, text, parent);
}

bool TREEVIEW::InsertChildRecordWide(int handle, int parent, int image, wchar_t const* text)
{
    VASSERT(image == -1, "idximg==-1", nullptr);
    return LISTVIEW::InsertRecordWide(handle, -1, text, parent);
}

bool TREEVIEW::UpdateRecord(int handle, char const* text)
{
    return LISTVIEW::UpdateRecord(handle, 0, text);
}

bool TREEVIEW::UpdateRecordWide(int handle, wchar_t const* text)
{
    return LISTVIEW::UpdateRecordWide(handle, 0, text);
}

bool TREEVIEW::SelectRecord(int handle)
{
    return LISTVIEW::SelectRecord(handle, 1);
}

int TREEVIEW::GetSelectedRecord()
{
    return LISTVIEW::GetSelectedRecord(0);
}

bool TREEVIEW::UpdateRecordImage(int, int)
{
    AssertMsg(0, "FALSE", __FILE__, __LINE__, nullptr, false);
    return false;
}

void TREEVIEW::SortRecords()
{
    AssertMsg(0, "FALSE", __FILE__, __LINE__, nullptr, false);
}

int TREEVIEW::GetRecordFromCursor()
{
    AssertMsg(0, "FALSE", __FILE__, __LINE__, nullptr, false);
    return 0;
}
