// The list box and the check list: list views configured once.
//
// LISTBOX is a BASELIST (winlists.h) over a single-column list view in
// list-box mode: each item is a record whose handle comes from a
// process-wide counter (from 32768; handles are never reused) and whose
// list-box index is its 0-based position. The indexes stay dense and the
// rows sorted by them. The view carries "LBOX" = 1; the list box that made
// it owns the inner list view, a list box bound to the view later borrows
// it (the object registered on the view).
//
// CHECKLIST is a list view with a check box before each text; column 0
// holds "1" (ticked) or "0", column 1 the text.
//
// Main thread only.
#pragma once

#include "velmot/gui/listview.h"
#include "velmot/gui/winlists.h"

// Style bit of CreateListbox: several items may be selected.
constexpr int LISTBOXSTYLE_MULTISELECT = 0x800;

class VELMOT_EXPORT LISTBOX : public BASELIST {
public:
    explicit LISTBOX(plat::ViewRef view);
    LISTBOX(CONTROLPARENT parent, CONTROLID const& id);
    LISTBOX(CONTROLPARENT parent, CONTROLID id, int style, int x, int y, int cx, int cy);
    LISTBOX(CONTROLPARENT parent, CONTROLID id, int style, CONTROLID templateId);
    ~LISTBOX() override;

    bool CreateListbox(CONTROLPARENT parent, CONTROLID id, int x, int y, int cx, int cy, int style);
    void InitListbox(LISTVIEW* inner, signed char owns);
    LISTVIEW* GetListviewPtr();

    int InsertItem(char const* text, int index) override;
    int InsertItemWide(wchar_t const* text, int index) override;
    int AddItem(char const* text) override;
    int AddItemWide(wchar_t const* text) override;
    int DeleteItem(int index) override;
    STRING GetItemText(int index) override;
    WSTRING GetItemTextWide(int index) override;
    int SetItemText(int index, char const* text) override;
    int SetItemTextWide(int index, wchar_t const* text) override;
    int GetSelectedItem(int n) override;
    int GetItemCount() override;
    void SelectItem(int index, int state) override;
    virtual void MakeItemVisible(int index);

    // -1 (reported) when no item has the index.
    int FindRecordHandleFromListboxIndex(int index);

private:
    void Bind();

    LISTVIEW* fInner = nullptr;
    signed char fOwns = 0;
};

class VELMOT_EXPORT CHECKLIST : public LISTVIEW {
public:
    // A check list in the place of the template, 1 pixel inside it.
    CHECKLIST(CONTROLPARENT parent, CONTROLID id, CONTROLID templateId);
    ~CHECKLIST() override;

    bool AddEntry(int handle, char const* text, signed char ticked);
    signed char GetState(int handle);
    // Returns the state before.
    signed char SetState(int handle, int state);
    bool CheckIfEntryExists(int handle);
};
