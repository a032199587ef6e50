// Pop-up buttons, pop-up group boxes and combo boxes (controls.h makes
// them with CreateControl).
//
// A pop-up button ('popb') shows the items of its menu (SetControlMenu;
// a new one starts with an empty menu of its own) and the chosen one. Its
// value is the number of the chosen item, counted from 1; a value outside
// 1..the item count shows no choice. The minimum and maximum are the
// program's to set and keep the value between them, as for every control.
// The items are read from the menu whenever it changed, so the program
// edits them through the menu calls (menus.h). A pop-up group box ('pgrp')
// is a frame with such a pop-up at the middle of its top edge.
//
// When the user opens the pop-up, the menu is tracked as PopUpMenuSelect
// tracks it (kModalPopupMenu responders answer it); choosing an item (or
// stepping through the items with the keys or the wheel) sets the value
// and sends a hit ('cntl' 1, kControlPartMenu). The program's own changes
// send nothing.
//
// A combo box ('cbbx') is an edit field with a list of text items of its
// own. Its title (GetControlTitle/SetControlTitle) is the edit text; the
// value is not used. Choosing an item from the list puts its text into the
// field and sends 'hicb' kind 1 (kEventComboBoxListItemSelected) to the
// combo box's view, climbing to its window.
//
// Main thread only; stale handles give kErrTargetGone or empty answers,
// views of another kind kErrBadArgument.
#pragma once

#include "platform/controls/controls.h"

namespace plat {

constexpr OSType kControlKindPopupButton = FourCC("popb");
constexpr OSType kControlKindPopupGroupBox = FourCC("pgrp");
constexpr OSType kControlKindComboBox = FourCC("cbbx");

// The part of a pop-up's hit.
constexpr int16_t kControlPartMenu = 2;

constexpr OSType kEventClassComboBox = FourCC("hicb");
constexpr uint32_t kEventComboBoxListItemSelected = 1;

// The combo box's list. Indexes count from 0.
// Appends the item; *index (optional) receives its index.
Status ComboBoxAppendItem(ViewRef view, const Text& text, int32_t* index = nullptr);
// Inserts the item before `index` (0..count; count appends).
Status ComboBoxInsertItem(ViewRef view, int32_t index, const Text& text);
Status ComboBoxRemoveItem(ViewRef view, int32_t index);
// The item's text; a null text for an index out of range.
Text ComboBoxItemText(ViewRef view, int32_t index);
int32_t ComboBoxItemCount(ViewRef view);

} // namespace plat
