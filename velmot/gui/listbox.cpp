#include "velmot/gui/listbox.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"

#include <cstdlib>

namespace {

// The handles of list-box items, shared by every list box of the process.
int gNextListboxHandle = 32768;

// Tabs would split an item into columns.
WSTRING WithoutTabs(wchar_t const* text)
{
    WSTRING out(L"");
    for (wchar_t const* p = text ? text : L""; *p; ++p) {
        if (*p == L'\t')
            out.Append(L" - ");
        else
            out.Append(*p);
    }
    return out;
}

WSTRING Wide(char const* text)
{
    return WSTRING(text ? text : "", UNICODE_CPSYSTEM);
}

} // namespace

// ---------------------------------------------------------------------------
// LISTBOX

LISTBOX::LISTBOX(plat::ViewRef view) : BASELIST(view)
{
    Bind();
}

LISTBOX::LISTBOX(CONTROLPARENT parent, CONTROLID const& id) : BASELIST(parent, id)
{
    Bind();
}

LISTBOX::LISTBOX(CONTROLPARENT parent, CONTROLID id, int style, int x, int y, int cx, int cy)
{
    if (CreateListbox(parent, id, x, y, cx, cy, style)) {
        fInner->MoveToParentView(parent);
        fInner->Show(true);
    }
}

LISTBOX::LISTBOX(CONTROLPARENT parent, CONTROLID id, int style, CONTROLID templateId)
{
    plat::ViewRef const templ = parent.view
                                    ? plat::FindViewById(parent.view, plat::ViewId{templateId.signature, templateId.id})
                                    : nullptr;
    plat::RectI const r = plat::GetViewFrame(templ);
    if (CreateListbox(parent, id, r.left, r.top, r.Width(), r.Height(), style)) {
        fInner->MoveToTemplateControl(parent, templateId, true);
        fInner->Show(true);
    }
}

LISTBOX::~LISTBOX()
{
    if (fOwns) {
        // The inner list view disposes of the view; this object only
        // borrowed it.
        fControl = nullptr;
        delete fInner;
    }
    fInner = nullptr;
}

void LISTBOX::Bind()
{
    VASSERT(GetControlProperty(CPROP_LISTBOX) == 1, "this->GetControlProperty(DARWINDOW_PROPERTYSIG_LISTBOX)==(void*)TRUE",
            nullptr);
    InitListbox(nullptr, 0);
}

bool LISTBOX::CreateListbox(CONTROLPARENT parent, CONTROLID id, int x, int y, int cx, int cy, int style)
{
    TARVOAPP::CheckCallerThread("LISTBOX::CreateListbox");
    auto* inner = new LISTVIEW(LVFMT_LISTBOX, x, y, cx, cy, parent, id);
    InitListbox(inner, 1);
    Init(inner->GetControlRef(), false, nullptr);
    if (!IsValid())
        return false;
    SetControlProperty(CPROP_LISTBOX, 1);
    inner->Format(0, 0, nullptr, 0, 1);
    inner->SetShowColumnHeaders(0);
    inner->SetAllowMultiSelect((style & LISTBOXSTYLE_MULTISELECT) != 0);
    inner->SetFullrowselect(1);
    inner->SetStripedBackground(0);
    inner->SetScrollbars(0, 1);
    inner->InsertColumn(0, "Item", cx - 16, LVCOLUMN_LEFT);
    return true;
}

void LISTBOX::InitListbox(LISTVIEW* inner, signed char owns)
{
    fInner = inner;
    fOwns = owns;
}

LISTVIEW* LISTBOX::GetListviewPtr()
{
    if (fOwns)
        return fInner;
    return dynamic_cast<LISTVIEW*>(GetThisFromControlRef(fControl, false));
}

int LISTBOX::InsertItem(char const* text, int index)
{
    return InsertItemWide(Wide(text).Buf(), index);
}

int LISTBOX::AddItem(char const* text)
{
    return AddItemWide(Wide(text).Buf());
}

int LISTBOX::InsertItemWide(wchar_t const* text, int index)
{
    TARVOAPP::CheckCallerThread("LISTBOX::InsertItemWide");
    LISTVIEW* lv = GetListviewPtr();
    if (!lv)
        return -1;
    WSTRING const item = WithoutTabs(text);
    int const count = lv->GetNumRecords();
    if (index < 0 || index > count)
        return AddItemWide(item.Buf());
    // Make room: the items from the last down to index move up one.
    for (int i = count - 1; i >= index; --i)
        lv->SetRecordListboxIndex(lv->FindRecordHandleFromListboxIndex(i), i + 1);
    lv->InsertRecordWide(gNextListboxHandle++, index, item.Buf(), -1);
    lv->SortRecords(0, 1, &LISTVIEW::DefaultSort, nullptr);
    return lv->GetNumRecords() - 1;
}

int LISTBOX::AddItemWide(wchar_t const* text)
{
    LISTVIEW* lv = GetListviewPtr();
    if (!lv)
        return -1;
    int const count = lv->GetNumRecords();
    InsertItemWide(WithoutTabs(text).Buf(), count);
    return count;
}

int LISTBOX::DeleteItem(int index)
{
    TARVOAPP::CheckCallerThread("LISTBOX::DeleteItem");
    LISTVIEW* lv = GetListviewPtr();
    if (!lv)
        return -1;
    int const count = lv->GetNumRecords();
    int const handle = lv->FindRecordHandleFromListboxIndex(index);
    if (handle == -1)
        return count;
    lv->DeleteRecord(handle);
    for (int i = index + 1; i < count; ++i)
        lv->SetRecordListboxIndex(lv->FindRecordHandleFromListboxIndex(i), i - 1);
    return lv->GetNumRecords();
}

STRING LISTBOX::GetItemText(int index)
{
    return STRING(GetItemTextWide(index), UNICODE_CPSYSTEM);
}

WSTRING LISTBOX::GetItemTextWide(int index)
{
    LISTVIEW* lv = GetListviewPtr();
    if (!lv)
        return WSTRING(L"");
    return lv->GetRecordTextWide(lv->FindRecordHandleFromListboxIndex(index), 0);
}

int LISTBOX::SetItemText(int index, char const* text)
{
    return SetItemTextWide(index, Wide(text).Buf());
}

int LISTBOX::SetItemTextWide(int index, wchar_t const* text)
{
    LISTVIEW* lv = GetListviewPtr();
    if (lv)
        lv->UpdateRecordWide(lv->FindRecordHandleFromListboxIndex(index), 0, text);
    return 1;
}

int LISTBOX::GetSelectedItem(int n)
{
    LISTVIEW* lv = GetListviewPtr();
    int const handle = lv ? lv->GetSelectedRecord(n) : -1;
    return handle == -1 ? -1 : lv->GetRecordListboxIndex(handle);
}

int LISTBOX::GetItemCount()
{
    LISTVIEW* lv = GetListviewPtr();
    return lv ? lv->GetNumRecords() : 0;
}

void LISTBOX::SelectItem(int index, int state)
{
    LISTVIEW* lv = GetListviewPtr();
    // The indexes are dense: an index in range has its item.
    if (!lv || index < 0 || index >= lv->GetNumRecords())
        return;
    lv->SelectRecord(lv->FindRecordHandleFromListboxIndex(index), static_cast<unsigned long>(state));
}

void LISTBOX::MakeItemVisible(int index)
{
    LISTVIEW* lv = GetListviewPtr();
    if (lv && index >= 0 && index < lv->GetNumRecords())
        lv->MakeRecordVisible(lv->FindRecordHandleFromListboxIndex(index), 0);
}

int LISTBOX::FindRecordHandleFromListboxIndex(int index)
{
    LISTVIEW* lv = GetListviewPtr();
    return lv ? lv->FindRecordHandleFromListboxIndex(index) : -1;
}

// ---------------------------------------------------------------------------
// CHECKLIST

CHECKLIST::CHECKLIST(CONTROLPARENT parent, CONTROLID id, CONTROLID templateId)
{
    LOGIT("CHECKLIST::CHECKLIST\n");
    InitListview(LVFMT_CHECKLIST);
    if (CreateListview(parent, id, 0, 0, 40, 40)) {
        RECT const r = MoveToTemplateControl(parent, templateId, true);
        Format(0, 0, nullptr, 0, 1);
        SetShowColumnHeaders(0);
        SetFullrowselect(1);
        SetStripedBackground(0);
        SetScrollbars(0, 1);
        InsertColumn(0, "", 24, LVCOLUMN_DEFAULT);
        InsertColumn(1, "", r.right - r.left - 39, LVCOLUMN_LEFT);
        Show(true);
    }
    LOGIT("CHECKLIST::CHECKLIST done\n");
}

CHECKLIST::~CHECKLIST()
{
    LOGIT("CHECKLIST::~CHECKLIST\n");
    LOGIT("CHECKLIST::~CHECKLIST done\n");
}

bool CHECKLIST::AddEntry(int handle, char const* text, signed char ticked)
{
    STRING line;
    line.Format("%d\t%s", ticked ? 1 : 0, text ? text : "");
    return InsertRecord(handle, 0, line.Buf(), -1);
}

signed char CHECKLIST::GetState(int handle)
{
    return static_cast<signed char>(std::atoi(GetRecordText(handle, 0).Buf()));
}

signed char CHECKLIST::SetState(int handle, int state)
{
    signed char const before = GetState(handle);
    UpdateRecord(handle, 0, state ? "1" : "0");
    return before;
}

bool CHECKLIST::CheckIfEntryExists(int handle)
{
    return GetRecordIndexFromHandle(handle, 0) != -1;
}
