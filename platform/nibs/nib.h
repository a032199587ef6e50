// Layout resources ("nibs"): windows, dialogs, menus and menu bars
// described in JSON files and made by name.
//
// A nib is a folder of *.json files (the program's own: Resources/nibs/);
// each file holds any of three maps, and names are unique across the
// folder:
//
//   {"windows":  {"DLG_EXAMPLE": WINDOW, ...},
//    "menus":    {"ID_FILEMENU": MENU, ...},
//    "menubars": {"IDM_MAINMENU": {"menus": [MENU or "menu name", ...]}}}
//
//   WINDOW:  {"class": "document" | "utility" | "dialog",
//             "title": TEXT, "bounds": [x, y, width, height],
//             "resizable": bool (default: true for documents),
//             "controls": [CONTROL, ...]}
//   CONTROL: {"kind": "push" (a four-character kind, controls.h, or
//                     "upan"/"plac" for panes),
//             "id": ["OKAY", 0], "frame": [x, y, width, height] (in the
//             parent), "title": TEXT, "value", "min", "max", "viewSize",
//             "increment": numbers, "flags": ["default", "cancel",
//             "autoToggle", "toggles", "password", "multiline",
//             "readOnly", "rounded", "disabled", "hidden"],
//             "icon": icon id (a number), "props": {"ENUM": 1, ...}
//             (properties of the toolkit, pointer-sized words),
//             "children": [CONTROL, ...] (group boxes and panes)}
//   MENU:    {"title": TEXT, "items": [ITEM, ...]}
//   ITEM:    {"separator": true} or {"text": TEXT, "command": "ID9A" or
//             a number, "key": "N" or "vkey": "F1" or a virtual-key
//             number, "modifiers": ["command", "shift", "option",
//             "control"] (default with a key: ["command"]),
//             "enabled": bool, "checked": bool, "submenu": MENU or name}
//   TEXT:    "@IDS_NAME" is the string IDS_NAME of the tables (the table
//             "Layouts" asked last, resources.h); "@@..." is a text that
//             starts with "@"; anything else is the text itself.
//
// Main thread for everything that makes windows and menus; the model and
// its parser need no window system.
#pragma once

#include "platform/controls/controls.h"
#include "platform/menus/menus.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// The creator of the properties that "props" sets and of the icons that
// "icon" names (the toolkit's).
constexpr OSType kNibCreator = FourCC("VLMT");

struct NibControl {
    OSType kind = 0;
    ViewId id;
    RectI frame;
    std::string title;
    int32_t value = 0;
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t viewSize = 0;
    int32_t increment = 1;
    uint32_t flags = 0;
    uint32_t icon = 0;
    std::vector<std::pair<OSType, int64_t>> props;
    std::vector<NibControl> children;
};

struct NibWindow {
    WindowClass windowClass = WindowClass::Document;
    bool resizable = true;
    std::string title;
    RectI bounds; // content area
    std::vector<NibControl> controls;
};

struct NibMenu;

struct NibMenuItem {
    bool separator = false;
    std::string text;
    uint32_t command = 0;
    uint32_t key = 0;
    bool virtualKey = false;
    uint32_t modifiers = 0; // kMenu*Modifier
    bool enabled = true;
    bool checked = false;
    std::string submenuName;         // a menu of the nib, or
    std::shared_ptr<NibMenu> submenu; // one written in place
};

struct NibMenu {
    std::string title;
    std::vector<NibMenuItem> items;
};

struct NibMenuBar {
    // Each menu written in place, or by name in `names` at the same index
    // (then the pointer is null).
    std::vector<std::shared_ptr<NibMenu>> menus;
    std::vector<std::string> names;
};

struct NibModel {
    std::map<std::string, NibWindow, std::less<>> windows;
    std::map<std::string, NibMenu, std::less<>> menus;
    std::map<std::string, NibMenuBar, std::less<>> menubars;
    // "file: where: what" for every entry that was refused; such entries
    // are left out.
    std::vector<std::string> errors;
};

// Adds the layouts of one JSON text to `model`; `source` names it in the
// errors. False when the text is no JSON object at all.
bool ParseNibText(std::string_view json, const std::string& source, NibModel& model);
// Every *.json file of the folders, folder by folder in name order; a
// name used twice is refused, and names that menu bars and items refer to
// must exist.
NibModel LoadNibFolders(const std::vector<std::string>& folders);
NibModel LoadNibFolder(const std::string& folder);
// Whether the text is "@..." naming a string, and which.
std::string NibTextValue(const std::string& text);

struct OpaqueNib;
using NibRef = OpaqueNib*;

// Opens the nib of a folder; null when the folder holds no nib file. The
// main nib (Resources/nibs) is opened once and kept until CloseMainNib.
NibRef OpenNib(const std::string& folder);
NibRef OpenMainNib();
// Layouts of another folder that the main nib holds too (tests, tools);
// takes effect at the next OpenMainNib after CloseMainNib.
void AddMainNibFolder(const std::string& folder);
void CloseNib(NibRef nib);
void CloseMainNib();
const NibModel* GetNibModel(NibRef nib);

// Makes the window `name` (hidden) with its controls; kErrParamNotFound
// when the nib has no such window.
Status CreateWindowFromNib(NibRef nib, std::string_view name, WindowRef* out);
// Makes the controls into a parent view, in their order (so the first is
// rearmost); false when one could not be made (the rest are made).
bool CreateNibControls(const std::vector<NibControl>& controls, ViewRef parent);
// Makes the menu `name` (the caller releases it); kErrParamNotFound when
// there is none.
Status CreateMenuFromNib(NibRef nib, std::string_view name, MenuRef* out);
// Makes the root menu of the menu bar `name`: one item per menu, the menu
// hung under it.
Status CreateMenuBarFromNib(NibRef nib, std::string_view name, MenuRef* out);

} // namespace plat
