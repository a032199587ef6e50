// Window toolbars: a row of items under a window's menu bar, configured by
// the program through events and, where it lets itself be, by the user.
//
// A toolbar is a target (kind Toolbar). It does not know its items by
// itself: when it first shows (or is asked for its items), it takes the
// saved configuration (a list of identifiers, when it auto-saves and one
// was saved), else asks its handlers for the default identifiers
// ('tbar' kind 1), and for each identifier asks them to make the item
// ('tbar' kind 3, kParamToolbarItemIdentifier in, kParamToolbarItem out).
// The standard identifiers (separator, space, flexible space, customize;
// all beginning with kToolbarIdentifierPrefix) make the toolbar's own
// items when no handler made them.
//
// While it shows, an item's button is a view of the window (kind
// kViewKindToolbarItem, below the root view). A click on an item sends its
// command ('cmds' kind 1, a CommandRecord with kCommandFromControl and
// that view as source) to the window, which passes what it does not take
// on to the application. The program sets an
// item's label, help text, command, icon, enabled state and attributes
// (kToolbarItemSelected shows it pressed).
//
// There is no customisation sheet: SetToolbarIdentifiers is what one would
// call. The configuration is saved then, when the toolbar auto-saves, as
// a text of identifiers one per line under the key SetToolbarAutosave
// names (by default the domain "toolbars" and the toolbar's identifier).
//
// Main thread only; stale handles give kErrTargetGone or empty answers.
#pragma once

#include "platform/draw/icons.h"
#include "platform/events/target.h"
#include "platform/events/windows.h"
#include "platform/services/text.h"

#include <string>
#include <string_view>
#include <vector>

namespace plat {

struct OpaqueToolbar;
using ToolbarRef = OpaqueToolbar*; // an id (the toolbar's target)
struct OpaqueToolbarItem;
using ToolbarItemRef = OpaqueToolbarItem*; // an id (the item's target)

constexpr OSType kViewKindToolbarItem = FourCC("tbiv");

// CreateToolbar attributes.
constexpr uint32_t kToolbarAutoSavesConfig = 1;
constexpr uint32_t kToolbarIsConfigurable = 2;

// Item attributes.
constexpr uint32_t kToolbarItemSelected = 128;

constexpr char kToolbarIdentifierPrefix[] = "platform.toolbar.";
constexpr char kToolbarSeparatorIdentifier[] = "platform.toolbar.separator";
constexpr char kToolbarSpaceIdentifier[] = "platform.toolbar.space";
constexpr char kToolbarFlexibleSpaceIdentifier[] = "platform.toolbar.flexiblespace";
constexpr char kToolbarCustomizeIdentifier[] = "platform.toolbar.customize";

// Toolbar events, sent to the toolbar's target.
constexpr OSType kEventClassToolbar = FourCC("tbar");
constexpr uint32_t kEventToolbarGetDefaultIdentifiers = 1;
constexpr uint32_t kEventToolbarGetAllowedIdentifiers = 2;
constexpr uint32_t kEventToolbarCreateItemWithIdentifier = 3;
constexpr uint32_t kEventToolbarCreateItemFromDrag = 4;
constexpr uint32_t kEventToolbarGetSelectableIdentifiers = 10;

// Kinds 1, 2 and 10: the list handlers append identifiers to.
constexpr OSType kParamMutableArray = FourCC("mutb");
constexpr OSType kTypeIdentifierList = FourCC("idls"); // std::vector<std::string>*
// Kind 3: the identifier asked for (UTF-8) and the item made.
constexpr OSType kParamToolbarItemIdentifier = FourCC("tbii");
constexpr OSType kParamToolbarItem = FourCC("tbit");
constexpr OSType kTypeToolbarItem = FourCC("tbit"); // ToolbarItemRef

ToolbarRef CreateToolbar(std::string_view identifier, uint32_t attributes);
// A toolbar a window shows goes with the window; one that none shows is
// disposed of here.
Status DisposeToolbar(ToolbarRef toolbar);
bool IsValidToolbar(ToolbarRef toolbar);
TargetRef ToolbarTarget(ToolbarRef toolbar);
std::string GetToolbarIdentifier(ToolbarRef toolbar);
Status SetToolbarAutosave(ToolbarRef toolbar, std::string_view domain, std::string_view key);

// How the items show: their icon above their label (the default), the
// icon alone (the label then serves as the help text), or the label alone.
enum class ToolbarDisplayMode { IconAndLabel, IconOnly, LabelOnly };
Status SetToolbarDisplayMode(ToolbarRef toolbar, ToolbarDisplayMode mode);
ToolbarDisplayMode GetToolbarDisplayMode(ToolbarRef toolbar);

// The window's toolbar (null removes it), between its menu bar and its
// content; hidden until shown.
Status SetWindowToolbar(WindowRef window, ToolbarRef toolbar);
ToolbarRef GetWindowToolbar(WindowRef window);
Status ShowHideWindowToolbar(WindowRef window, bool show, bool animate);
bool IsWindowToolbarVisible(WindowRef window);

// The items shown, left to right (made first when they are not yet).
std::vector<ToolbarItemRef> CopyToolbarItems(ToolbarRef toolbar);
std::vector<std::string> GetToolbarIdentifiers(ToolbarRef toolbar);
// What the handlers allow ('tbar' kind 2).
std::vector<std::string> GetToolbarAllowedIdentifiers(ToolbarRef toolbar);
// Makes the items of these identifiers, in this order (those not allowed
// are left out) and saves the list when the toolbar auto-saves.
Status SetToolbarIdentifiers(ToolbarRef toolbar, const std::vector<std::string>& identifiers);

// A new item, for a handler of kind 3 to return; the toolbar that takes it
// owns it (an item no toolbar took goes at the next turn of the loop).
ToolbarItemRef CreateToolbarItem(std::string_view identifier, uint32_t options = 0);
bool IsValidToolbarItem(ToolbarItemRef item);
std::string GetToolbarItemIdentifier(ToolbarItemRef item);
Status SetToolbarItemLabel(ToolbarItemRef item, const Text& label);
Text GetToolbarItemLabel(ToolbarItemRef item);
Status SetToolbarItemHelpText(ToolbarItemRef item, const Text& help);
Text GetToolbarItemHelpText(ToolbarItemRef item);
Status SetToolbarItemCommand(ToolbarItemRef item, uint32_t command);
uint32_t GetToolbarItemCommand(ToolbarItemRef item);
// The item keeps its own reference.
Status SetToolbarItemIcon(ToolbarItemRef item, IconRef icon);
Status ChangeToolbarItemAttributes(ToolbarItemRef item, uint32_t set, uint32_t clear);
uint32_t GetToolbarItemAttributes(ToolbarItemRef item);
Status EnableToolbarItem(ToolbarItemRef item, bool enable);
bool IsToolbarItemEnabled(ToolbarItemRef item);
// Where the item shows, in the window's root view coordinates; empty when
// it does not.
RectI GetToolbarItemFrame(ToolbarItemRef item);

} // namespace plat
