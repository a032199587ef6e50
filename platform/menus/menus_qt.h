// Qt side of menus, for the other parts of platform/ (control menus).
#pragma once

#include "platform/menus/menus.h"

class QMenu;
class QWidget;

namespace plat::menus {

// A Qt menu that shows `menu` (built anew, after the status update, each
// time it opens) and sends its choices to the window's focus chain.
QMenu* CreateQMenu(QWidget* parent, MenuRef menu, WindowRef window);

} // namespace plat::menus
