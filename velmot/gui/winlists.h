// List controls: BASELIST, the list interface through which dialogs fill,
// read and select the items of a pop-up button (POPUPBOX), a combo box
// (COMBOBOX) or a list box (LISTBOX, listbox.h) alike, and the first two
// of them.
//
// Items are addressed by a 0-based index. Narrow texts are code page 1252,
// wide texts UTF-32. Results of failed platform calls are -1, false or an
// empty text; selecting with `on` 0 where a control cannot deselect is a
// programming error (reported). Main thread only.
#pragma once

#include "velmot/core/stringarray.h"
#include "velmot/core/strings.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/wincontrols.h"

class VELMOT_EXPORT BASELIST : public CONTROL {
public:
    explicit BASELIST(plat::ViewRef view) : CONTROL(view) {}
    BASELIST(CONTROLPARENT parent, CONTROLID const& id) : CONTROL(parent, id) {}
    ~BASELIST() override;

    // The list slots; each returns the index where the item went.
    virtual int InsertItem(char const* text, int index) = 0;
    virtual int InsertItemWide(wchar_t const* text, int index) = 0;
    virtual int AddItem(char const* text) = 0;
    virtual int AddItemWide(wchar_t const* text) = 0;
    // The item count afterwards (-1 when refused).
    virtual int DeleteItem(int index) = 0;
    virtual STRING GetItemText(int index) = 0;
    virtual WSTRING GetItemTextWide(int index) = 0;
    virtual int SetItemText(int index, char const* text) = 0;
    virtual int SetItemTextWide(int index, wchar_t const* text) = 0;
    // The index of the n-th selected item, -1 when there is none.
    virtual int GetSelectedItem(int n) = 0;
    virtual int GetItemCount() = 0;
    virtual void SelectItem(int index, int on) = 0;
    // The text of the n-th selected item; empty when none.
    virtual STRING GetSelectedItemText(int n);
    virtual WSTRING GetSelectedItemTextWide(int n);

    // The first item whose text equals `text` ignoring case; -1.
    int FindString(char const* text);
    // Whether the first selected item is this one.
    bool IsItemSelected(int index);
    void DeleteAllItems();
    // Inserts the items at index, index + 1 ... (index -1: each at the
    // end); returns how many were inserted.
    int InsertItems(STRINGARRAY const& items, int index);
    // The same for the tokens of `text` between any of the separator
    // characters. Empty tokens are skipped: "a;b;;c" inserts a, b and c.
    int InsertItems(char const* text, char const* separators, int index);

protected:
    BASELIST() = default;
};

// A pop-up button or pop-up group box ('popb', 'pgrp'): the items are its
// menu's; the control's value is the chosen menu item (item index + 1),
// -1 for none. The constructors bind without owning and empty a pop-up
// that still holds its layout's placeholder items.
class VELMOT_EXPORT POPUPBOX : public BASELIST {
public:
    explicit POPUPBOX(plat::ViewRef view);
    POPUPBOX(CONTROLPARENT parent, CONTROLID const& id);
    ~POPUPBOX() override;

    // Takes the pop-up's menu; with `clear`, or when the pop-up holds the
    // placeholder items its layout gave it, deletes every item and leaves
    // nothing chosen (minimum and value -1).
    void InitPopupBox(signed char clear);

    // "##ICON=12##" makes an item with a blank text and icon 12.
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
    // `on` must be 1; the choice is made as by the user (a simulated hit).
    void SelectItem(int index, int on) override;
    bool SetItemIcon(int index, plat::IconRef icon);

    plat::MenuRef GetMenuRef() const { return fMenu; }

private:
    int Insert(plat::Text const& text, int index, uint32_t iconId);

    plat::MenuRef fMenu = nullptr;
};

// A combo box ('cbbx'): a list of items and an edit text; the selected
// item is the one whose text equals the edit text.
class VELMOT_EXPORT COMBOBOX : public BASELIST {
public:
    explicit COMBOBOX(plat::ViewRef view) : BASELIST(view) {}
    COMBOBOX(CONTROLPARENT parent, CONTROLID const& id) : BASELIST(parent, id) {}
    ~COMBOBOX() override;

    int InsertItem(char const* text, int index) override;
    int InsertItemWide(wchar_t const* text, int index) override;
    int AddItem(char const* text) override;
    int AddItemWide(wchar_t const* text) override;
    int DeleteItem(int index) override;
    // Index -1: the selected item.
    STRING GetItemText(int index) override;
    WSTRING GetItemTextWide(int index) override;
    int SetItemText(int index, char const* text) override;
    int SetItemTextWide(int index, wchar_t const* text) override;
    int GetSelectedItem(int n) override;
    int GetItemCount() override;
    // Puts the item's text into the edit field (a simulated hit follows).
    void SelectItem(int index, int on) override;

private:
    int Add(plat::Text const& text);
    int Insert(plat::Text const& text, int index);
    int Replace(plat::Text const& text, int index);
};
