// Tab controls ('tabs', made with CreateControl): a row of tabs over a
// framed content area. The panes that show in the area are other views;
// the program shows and hides them (the toolkit's tab control does).
//
// The maximum is the number of tabs (raising it adds tabs without a
// label, lowering it removes the last ones); the value is the current tab,
// counted from 1 and kept between 1 and the maximum (0 without tabs). A click on another tab makes it current and
// sends a hit ('cntl' 1) whose part is the tab's number; the program's
// own changes send nothing.
//
// Main thread only; stale handles give kErrTargetGone or empty answers,
// views of another kind kErrBadArgument.
#pragma once

#include "platform/controls/controls.h"

namespace plat {

constexpr OSType kControlKindTabs = FourCC("tabs");

// The label of a tab (1..maximum).
Status SetTabLabel(ViewRef view, int tab, const Text& label);
Text GetTabLabel(ViewRef view, int tab);

// The content area below the tabs, in the view's coordinates.
RectI GetTabContentRect(ViewRef view);
// Where the tab (1..maximum) shows, in the view's coordinates; empty when
// it does not.
RectI GetTabRect(ViewRef view, int tab);

} // namespace plat
