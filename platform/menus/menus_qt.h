// Qt side of menus, for the other parts of platform/ (control menus).
#pragma once

#include "platform/menus/menus.h"

class QMenu;
class QWidget;

namespace plat::menus {

// A Qt menu that shows `menu` (built anew, after the status update, each
// time it opens) and sends its choices to the window's focus chain.
QMenu* CreateQMenu(QWidget* parent, MenuRef menu, WindowRef window);

// Shows the menu at a point in screen coordinates over the window and
// tracks it as PopUpMenuSelect does (responders included), but sends no
// command: the caller gets the chosen item (null and 0 for none) and acts
// on it itself.
Status TrackPopUpMenu(MenuRef menu, WindowRef window, PointI global, MenuRef* outMenu, int* outItem);

} // namespace plat::menus
