// What the sources ask of the layouts, and whether the layouts have it.
//
// The scan reads C++ text and finds:
// - layout names: string literals "DLG_...", "IDM_..." and "ID_...";
//   where one stands in a call that makes a window, a menu or a menu bar
//   (DIALOG, WINDOW, CHILDWINDOW, InitFromResource, MENU, LoadMenu,
//   CreateMenu and the platform's Create...FromNib), it must name a layout
//   of that sort, elsewhere one of any sort;
// - control ids: CONTROLID literals ({FourCC("OKAY"), 0} or a number as
//   signature) and names of such constants defined in the same file, where
//   a control is looked up: a control class built from (parent, id) must
//   find a control of its kinds (PUSHBUTTON a push button...), the window
//   and child-window operations by id (EnableControl, SetControlText...)
//   and template ids (the last id of a template constructor,
//   MoveToTemplateControl) any control, a spin button's buddy an entry
//   field. An id is looked for in the windows the same file names.
// A line holding the comment "nibcheck: absent" is left out (a test of a
// missing layout or control; on the definition of an id constant it
// leaves out every use of the constant).
#pragma once

#include "platform/nibs/nib.h"

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace nibscan {

enum class LayoutSort { Any, Window, Menu, MenuBar };

struct Use {
    std::string file;
    int line = 0;
    bool control = false; // else a layout name
    std::string layout;
    LayoutSort sort = LayoutSort::Any;
    plat::ViewId id;
    std::vector<plat::OSType> kinds; // empty: any kind
    std::string call;                // what asked, for the report
};

std::vector<Use> ScanSource(std::string_view text, std::string const& file);

// One line per problem: "file:line: what". A missing layout whose name is
// `known` is no problem; a known name that is not missing (any more) is.
std::vector<std::string> Check(std::vector<Use> const& uses, plat::NibModel const& model,
                               std::set<std::string> const& known = {});

} // namespace nibscan
