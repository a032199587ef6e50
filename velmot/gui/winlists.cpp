#include "velmot/gui/winlists.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winicons.h"

#include "platform/controls/popups.h"
#include "platform/menus/menus.h"
#include "platform/nibs/nib.h"

#include <cstdio>
#include <cstring>

namespace {

STRING EmptyText()
{
    STRING s("");
    s.CodePage = UNICODE_CPDEFAULT;
    return s;
}

STRING NarrowOf(plat::Text const& text)
{
    if (text.IsNull())
        return EmptyText();
    STRING s(text);
    s.CodePage = UNICODE_CPDEFAULT;
    return s;
}

WSTRING WideOf(plat::Text const& text)
{
    return text.IsNull() ? WSTRING(L"") : WSTRING(text);
}

} // namespace

// ---------------------------------------------------------------------------
// BASELIST

BASELIST::~BASELIST() = default;

STRING BASELIST::GetSelectedItemText(int n)
{
    int const index = GetSelectedItem(n);
    return index == -1 ? EmptyText() : GetItemText(index);
}

WSTRING BASELIST::GetSelectedItemTextWide(int n)
{
    int const index = GetSelectedItem(n);
    return index == -1 ? WSTRING(L"") : GetItemTextWide(index);
}

int BASELIST::FindString(char const* text)
{
    int const count = GetItemCount();
    for (int i = 0; i < count; ++i)
        if (STRING::STRICMP(GetItemText(i).Buf(), text ? text : "") == 0)
            return i;
    return -1;
}

bool BASELIST::IsItemSelected(int index)
{
    return GetSelectedItem(0) == index;
}

void BASELIST::DeleteAllItems()
{
    for (int i = GetItemCount() - 1; i >= 0; --i)
        DeleteItem(i);
}

int BASELIST::InsertItems(STRINGARRAY const& items, int index)
{
    int const count = items.NumItems();
    for (int i = 0; i < count; ++i)
        InsertItem(items[i]->Buf(), index == -1 ? -1 : index + i);
    return count;
}

int BASELIST::InsertItems(char const* text, char const* separators, int index)
{
    STRING const all(text ? text : "");
    int const tokens = all.NumTokens(separators);
    int inserted = 0;
    for (int i = 0; i < tokens; ++i) {
        STRING const token = all.Token(i, separators, STRING::TOKEN_EMPTYNOTUNSET);
        // An empty token (two separators in a row) is no item; the ones
        // behind it still are.
        if (token.StrLen == 0)
            continue;
        InsertItem(token.Buf(), index == -1 ? -1 : index + inserted);
        ++inserted;
    }
    return inserted;
}

// ---------------------------------------------------------------------------
// POPUPBOX

POPUPBOX::POPUPBOX(plat::ViewRef view) : BASELIST(view)
{
    InitPopupBox(0);
}

POPUPBOX::POPUPBOX(CONTROLPARENT parent, CONTROLID const& id) : BASELIST(parent, id)
{
    InitPopupBox(0);
}

POPUPBOX::~POPUPBOX() = default;

void POPUPBOX::InitPopupBox(signed char clear)
{
    TARVOAPP::CheckCallerThread("POPUPBOX::InitPopupBox");
    fMenu = plat::GetControlMenu(fControl);
    if (!fMenu)
        return;
    if (!clear) {
        // Only the placeholders a layout put there are emptied: a real
        // list of three whose first item reads "Item 1" stays.
        uintptr_t placeholder = 0;
        if (plat::GetViewProperty(fControl, plat::kNibCreator, plat::kNibPlaceholderItems, &placeholder,
                                  sizeof placeholder) != plat::kNoErr ||
            !placeholder)
            return;
        if (plat::CountMenuItems(fMenu) != 3 || STRING::STRICMP(GetItemText(0).Buf(), "Item 1") != 0)
            return;
    }
    plat::RemoveViewProperty(fControl, plat::kNibCreator, plat::kNibPlaceholderItems);
    for (int i = plat::CountMenuItems(fMenu); i >= 1; --i)
        plat::DeleteMenuItem(fMenu, i);
    SetControlMinimum(-1);
    VERIFYSTATUS("err == 0 ", plat::SetViewValue(fControl, -1));
}

int POPUPBOX::Insert(plat::Text const& text, int index, uint32_t iconId)
{
    TARVOAPP::CheckCallerThread("POPUPBOX::InsertItem");
    if (index == -1)
        index = GetItemCount();
    if (!VERIFYSTATUS("err == 0 ", plat::InsertMenuItem(fMenu, index, text, 0, 0)))
        return -1;
    SetControlMaximum(GetItemCount());
    if (iconId) {
        ICON icon(iconId);
        if (icon.GetIconRef() && plat::IsValidIconRef(icon.GetIconRef()))
            SetItemIcon(index, icon.GetIconRef());
    }
    return index;
}

int POPUPBOX::InsertItem(char const* text, int index)
{
    int iconId = 0;
    if (text && std::strncmp(text, "##ICON=", 7) == 0 && std::sscanf(text, "##ICON=%d##", &iconId) == 1)
        return Insert(plat::Text::FromUnits(u" "), index, iconId > 0 ? static_cast<uint32_t>(iconId) : 0);
    return Insert(CFSTRING::TextOf(text), index, 0);
}

int POPUPBOX::InsertItemWide(wchar_t const* text, int index)
{
    return Insert(CFSTRING::TextOf(text), index, 0);
}

int POPUPBOX::AddItem(char const* text)
{
    return InsertItem(text, -1);
}

int POPUPBOX::AddItemWide(wchar_t const* text)
{
    return InsertItemWide(text, -1);
}

int POPUPBOX::DeleteItem(int index)
{
    TARVOAPP::CheckCallerThread("POPUPBOX::DeleteItem");
    VERIFYSTATUS("err == 0 ", plat::DeleteMenuItem(fMenu, index + 1));
    return GetItemCount();
}

STRING POPUPBOX::GetItemText(int index)
{
    return NarrowOf(plat::GetMenuItemText(fMenu, index + 1));
}

WSTRING POPUPBOX::GetItemTextWide(int index)
{
    return WideOf(plat::GetMenuItemText(fMenu, index + 1));
}

int POPUPBOX::SetItemText(int index, char const* text)
{
    return plat::SetMenuItemText(fMenu, index + 1, CFSTRING::TextOf(text)) == plat::kNoErr;
}

int POPUPBOX::SetItemTextWide(int index, wchar_t const* text)
{
    return plat::SetMenuItemText(fMenu, index + 1, CFSTRING::TextOf(text)) == plat::kNoErr;
}

bool POPUPBOX::SetItemIcon(int index, plat::IconRef icon)
{
    return plat::SetMenuItemIcon(fMenu, index + 1, icon) == plat::kNoErr;
}

int POPUPBOX::GetItemCount()
{
    return fMenu ? plat::CountMenuItems(fMenu) : 0;
}

int POPUPBOX::GetSelectedItem(int n)
{
    if (n != 0)
        return -1;
    int const value = GetControlValue();
    return value == -1 ? -1 : value - 1;
}

void POPUPBOX::SelectItem(int index, int on)
{
    VASSERT(on == 1, "onoff==TRUE", nullptr);
    SetControlValue(index + 1);
}

// ---------------------------------------------------------------------------
// COMBOBOX

COMBOBOX::~COMBOBOX() = default;

int COMBOBOX::Add(plat::Text const& text)
{
    TARVOAPP::CheckCallerThread("COMBOBOX::AddItem");
    int32_t index = -1;
    if (plat::ComboBoxAppendItem(fControl, text, &index) != plat::kNoErr)
        return -1;
    return index;
}

int COMBOBOX::Insert(plat::Text const& text, int index)
{
    TARVOAPP::CheckCallerThread("COMBOBOX::InsertItem");
    if (index >= 0 && index < GetItemCount())
        return plat::ComboBoxInsertItem(fControl, index, text) == plat::kNoErr ? index : -1;
    return Add(text);
}

int COMBOBOX::AddItem(char const* text)
{
    return Add(CFSTRING::TextOf(text));
}

int COMBOBOX::AddItemWide(wchar_t const* text)
{
    return Add(CFSTRING::TextOf(text));
}

int COMBOBOX::InsertItem(char const* text, int index)
{
    return Insert(CFSTRING::TextOf(text), index);
}

int COMBOBOX::InsertItemWide(wchar_t const* text, int index)
{
    return Insert(CFSTRING::TextOf(text), index);
}

int COMBOBOX::DeleteItem(int index)
{
    TARVOAPP::CheckCallerThread("COMBOBOX::DeleteItem");
    if (plat::ComboBoxRemoveItem(fControl, index) != plat::kNoErr)
        return -1;
    return GetItemCount();
}

STRING COMBOBOX::GetItemText(int index)
{
    if (index == -1 && (index = GetSelectedItem(0)) == -1)
        return EmptyText();
    return NarrowOf(plat::ComboBoxItemText(fControl, index));
}

WSTRING COMBOBOX::GetItemTextWide(int index)
{
    if (index == -1 && (index = GetSelectedItem(0)) == -1)
        return WSTRING(L"");
    return WideOf(plat::ComboBoxItemText(fControl, index));
}

int COMBOBOX::Replace(plat::Text const& text, int index)
{
    int const selected = GetSelectedItem(0);
    plat::ComboBoxRemoveItem(fControl, index);
    Insert(text, index);
    if (selected == index)
        SelectItem(index, 1);
    return 1;
}

int COMBOBOX::SetItemText(int index, char const* text)
{
    return Replace(CFSTRING::TextOf(text), index);
}

int COMBOBOX::SetItemTextWide(int index, wchar_t const* text)
{
    return Replace(CFSTRING::TextOf(text), index);
}

int COMBOBOX::GetSelectedItem(int n)
{
    VASSERT(n == 0, "idx==0", nullptr);
    return FindString(GetText().Buf());
}

int COMBOBOX::GetItemCount()
{
    return plat::ComboBoxItemCount(fControl);
}

void COMBOBOX::SelectItem(int index, int on)
{
    VASSERT(on != 0, "onoff", nullptr);
    STRING const text = GetItemText(index);
    if (text.StrLen == 0)
        return;
    // Wide, so that characters code page 1252 lacks stay whole.
    SetControlTextWide(GetItemTextWide(index).Buf());
    SimulateHit(0);
}
