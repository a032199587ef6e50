// Menus: the model behind menu bars, pop-up menus and control menus.
//
// A menu is a titled list of items. An item has a text, a command (a
// four-character code or number that its choice sends), attributes
// (separator, key by virtual key), an enabled state, a mark (a check mark
// is any mark character), a command key with its modifiers, an icon and
// an optional submenu. Items are numbered from 1.
//
// Menus are reference counted: CreateMenu gives a menu with one
// reference; a submenu hung under an item, a window's menu bar and the
// Help menu each hold one more. ReleaseMenu drops one, and the last one
// disposes of the menu. Handles are numbers checked against a registry,
// so a stale handle gives kErrTargetGone or an empty answer.
//
// Menu bars: each window shows its own menu bar (there is no global one).
// It is built from a root menu whose items carry the menus as submenus,
// followed by the application's Help menu once that exists. Before a menu
// opens, each of its items is offered to the window's focus chain as a
// 'cmds' kind 2 event (update status), so handlers may enable, disable,
// check or rename items first; choosing an item sends a 'cmds' kind 1
// event with a CommandRecord (kCommandFromMenu, the command, the menu as
// source, the item) to the same chain: the view holding the keyboard
// focus, else the window, climbing to the application.
//
// Command keys: an item's key is a character (compared without case; a
// punctuation character also by the key that types it on a US keyboard) or,
// with kMenuItemAttrUseVirtualKey, a Windows-style virtual-key code as key
// records carry it (keys.h). Its modifiers are kMenu*Modifier bits; without
// kMenuNoCommandModifier the shortcut is a Command shortcut. On this desktop
// Command is Ctrl+Shift, as in the other terminals (the desktops keep the
// Super key for themselves), with Super as a second binding: a Command
// shortcut without Shift and Control of its own is typed as Ctrl+Shift plus
// its other modifiers, or as Super plus its modifiers; one with Shift or
// Control of its own only with Super (MenuShortcutChords). Once a menu bar or
// the Help menu exists, the menus are the event layer's key-equivalent
// matcher (keys.h): a key that an enabled item of the window's menu bar or
// the Help menu has is sent as that item's command before any view sees it.
// Other shortcuts without Command are shown in the menus but matched by no
// key, so the Ctrl and Alt combinations stay the terminal's, except those
// marked kMenuMatchedWithoutCommand (Ctrl+PgUp/PgDn to switch tabs).
//
// Main thread only.
#pragma once

#include "platform/draw/bitmap.h"
#include "platform/draw/icons.h"
#include "platform/events/keys.h"
#include "platform/events/windows.h"
#include "platform/services/text.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {

struct OpaqueMenu;
using MenuRef = OpaqueMenu*; // an id, never a pointer to memory

// Item attributes.
constexpr uint32_t kMenuItemAttrSeparator = 64;
constexpr uint32_t kMenuItemAttrUseVirtualKey = 1024;

// Command-key modifiers of an item.
constexpr uint32_t kMenuShiftModifier = 1;
constexpr uint32_t kMenuOptionModifier = 2;
constexpr uint32_t kMenuControlModifier = 4;
constexpr uint32_t kMenuNoCommandModifier = 8;
// With kMenuNoCommandModifier: the shortcut is matched as it stands, taken
// from the terminal.
constexpr uint32_t kMenuMatchedWithoutCommand = 16;

// The modifier states (kMod* bits of key records: Shift, Option, Control,
// Command) that type the shortcut of an item with these kMenu*Modifier
// bits; empty for a shortcut no key matches (shown only).
std::vector<uint32_t> MenuShortcutChords(uint32_t menuModifiers);

// The check mark.
constexpr char32_t kMenuCheckMark = 0x2713;

// The command of the Help menu's own item (the application's help).
constexpr uint32_t kCommandAppHelp = FourCC("ahlp");

MenuRef CreateMenu(const Text& title = Text(), uint32_t menuId = 0);
Status RetainMenu(MenuRef menu);
Status ReleaseMenu(MenuRef menu);
bool IsValidMenu(MenuRef menu);
int MenuRetainCount(MenuRef menu);

Status SetMenuTitle(MenuRef menu, const Text& title);
Text GetMenuTitle(MenuRef menu);
uint32_t GetMenuId(MenuRef menu);

int CountMenuItems(MenuRef menu);
// Inserts an item behind item `after` (0: first). A separator when
// `attributes` holds kMenuItemAttrSeparator.
Status InsertMenuItem(MenuRef menu, int after, const Text& text, uint32_t attributes, uint32_t command);
Status DeleteMenuItem(MenuRef menu, int item);
// Copies `count` items starting at `first` of `from` behind item `after`
// of `to` (submenus are shared, not copied).
Status CopyMenuItems(MenuRef from, int first, int count, MenuRef to, int after);

Status SetMenuItemCommand(MenuRef menu, int item, uint32_t command);
uint32_t GetMenuItemCommand(MenuRef menu, int item); // 0 when none
// The n-th item (from 1) with this command in the menu and its submenus,
// searched in item order, each submenu before the items behind it.
Status FindMenuItemWithCommand(MenuRef menu, uint32_t command, int n, MenuRef* outMenu, int* outItem);

Status SetMenuItemText(MenuRef menu, int item, const Text& text);
Text GetMenuItemText(MenuRef menu, int item);
Status EnableMenuItem(MenuRef menu, int item, bool enable);
bool IsMenuItemEnabled(MenuRef menu, int item);
Status SetMenuItemMark(MenuRef menu, int item, char32_t mark); // 0: none
char32_t GetMenuItemMark(MenuRef menu, int item);
Status ChangeMenuItemAttributes(MenuRef menu, int item, uint32_t set, uint32_t clear);
uint32_t GetMenuItemAttributes(MenuRef menu, int item);
Status SetMenuItemKey(MenuRef menu, int item, uint32_t key); // 0: none
uint32_t GetMenuItemKey(MenuRef menu, int item);
Status SetMenuItemModifiers(MenuRef menu, int item, uint32_t modifiers);
uint32_t GetMenuItemModifiers(MenuRef menu, int item);
Status SetMenuItemKeyGlyph(MenuRef menu, int item, int32_t glyph);
int32_t GetMenuItemKeyGlyph(MenuRef menu, int item);
// The menu keeps its own reference to the icon.
Status SetMenuItemIcon(MenuRef menu, int item, IconRef icon);
IconRef GetMenuItemIcon(MenuRef menu, int item);
// Hangs `submenu` (retained) under the item; null removes it.
Status SetMenuItemSubmenu(MenuRef menu, int item, MenuRef submenu);
MenuRef GetMenuItemSubmenu(MenuRef menu, int item);

// The application's Help menu, made on first use with one item of its
// own (the application's help, command kCommandAppHelp); null when it
// cannot be made. It stays until ReleaseHelpMenu.
MenuRef GetHelpMenu();
void ReleaseHelpMenu();

// The window's menu bar from `root` (retained; null removes the bar). The
// bar stands above the content view: the window grows (or shrinks) by its
// height, the content keeps its size.
Status SetWindowMenuBar(WindowRef window, MenuRef root);
MenuRef GetWindowMenuBar(WindowRef window);
// The titles the window's menu bar shows now, left to right.
std::vector<std::string> MenuBarTitles(WindowRef window);

// Offers every item of the menu to the window's focus chain as an update
// status event (what a menu does before it opens).
void UpdateMenuStatus(WindowRef window, MenuRef menu);
// Sends the item's command as a menu choice to the window's focus chain
// (or the application's when `window` is null); the chain's answer.
Status SendMenuCommand(WindowRef window, MenuRef menu, int item);

// The shortcut text of an item as the menu shows it ("Ctrl+Shift+N", the
// first chord of MenuShortcutChords), empty without a key.
std::string MenuItemShortcutText(MenuRef menu, int item);

// The first enabled item of the menu tree whose command key is the key of
// the record with exactly one of its chords (MenuShortcutChords; the lock
// keys do not count). With `commandOnly`, only Command shortcuts and those
// marked kMenuMatchedWithoutCommand are looked at. Updates the candidate's
// status first.
bool MatchMenuKey(WindowRef window, MenuRef root, const KeyRecord& key, bool commandOnly, MenuRef* outMenu,
                  int* outItem);
// MatchMenuKey on the window's menu bar and the Help menu, then
// SendMenuCommand for the match; true when an item matched.
bool ProcessMenuKey(WindowRef window, const KeyRecord& key, bool commandOnly);

// A picture of the menu as it shows when it opens (after the status
// update for the window's focus chain), for review tools and tests; null
// for a stale menu.
std::unique_ptr<Bitmap> DrawMenuPicture(MenuRef menu, WindowRef window);

// Shows the menu at a point in screen coordinates over the window and
// tracks it; a choice is sent as a menu command (see above) before this
// returns. *outMenu and *outItem (optional) receive the chosen item, null
// and 0 when nothing was chosen. Responders for kModalPopupMenu (modal.h)
// answer it: ModalAnswer::value a command to choose, else choice an item
// number of the menu (0: nothing); in test mode without a responder
// nothing is chosen.
Status PopUpMenuSelect(MenuRef menu, WindowRef window, PointI global, MenuRef* outMenu, int* outItem);

} // namespace plat
