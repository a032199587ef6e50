// Menus: a wrapper of a platform menu, loaded by name from the layouts,
// created empty, taken from a window or wrapping a handle. Items are
// addressed by command id (searched through submenus) or by 0-based
// position. Main thread only.
//
// Shortcut modifier bits of this interface: MENUMOD_SHIFT, MENUMOD_CONTROL,
// MENUMOD_OPTION (Alt), MENUMOD_COMMAND, and MENUMOD_TAKEN for a shortcut
// without Command that the menus take from the terminal all the same. On
// this desktop Command is typed as Ctrl+Shift, or as Super (ShortcutChords
// gives the chords). A key is a character or, with the virtual flag, a
// Windows-style virtual-key code (KEYBOARDEVENT::Keycode), which is also the
// platform's menu key code.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/gui/winbase.h"
#include "velmot/gui/wintypes.h"

#include "platform/draw/icons.h"
#include "platform/menus/menus.h"

#include <vector>

constexpr uint32_t MENUMOD_SHIFT = 1;
constexpr uint32_t MENUMOD_CONTROL = 2;
constexpr uint32_t MENUMOD_OPTION = 4;
constexpr uint32_t MENUMOD_COMMAND = 8;
constexpr uint32_t MENUMOD_TAKEN = 16;

// Item attributes of HasAttribute.
constexpr uint32_t MENUATTR_SEPARATOR = plat::kMenuItemAttrSeparator;
constexpr uint32_t MENUATTR_USEVIRTUALKEY = plat::kMenuItemAttrUseVirtualKey;

// The marker a window's "WPOP" property holds while its pop-up menu is
// open.
constexpr MSGWORD MENU_POPUPTRACKING = plat::FourCC("MPOP");

class VELMOT_EXPORT MENU {
public:
    // The modifier states (MENUMOD_* bits without MENUMOD_TAKEN) whose key
    // types a shortcut with these modifiers: Command as Ctrl+Shift and as
    // Super, others as they stand; empty for a shortcut that is only shown.
    static std::vector<uint32_t> ShortcutChords(uint32_t modifiers);

    MENU() = default;
    // LoadMenu(name, bundle).
    explicit MENU(char const* name, NIBBUNDLE bundle = nullptr);
    // The window's associated menu; not owned.
    explicit MENU(DARWINDOW const& window);
    explicit MENU(plat::MenuRef menu);
    MENU(MENU const& other);
    MENU& operator=(MENU const&) = delete;
    ~MENU();

    // Replaces an owned menu by the menu `name` of the layouts; true when a
    // menu exists afterwards.
    bool LoadMenu(char const* name, NIBBUNDLE bundle = nullptr);
    // Replaces an owned menu by a new empty one (owned).
    bool CreateEmpty();
    bool DestroyMenu();

    plat::MenuRef GetMenuRef() const { return fMenu; }
    operator plat::MenuRef() const { return fMenu; }
    plat::WindowRef GetWindow() const { return fWindow; }

    int GetNumMenuItems() const;
    int GetMenuIdFromPos(int pos) const;
    int GetMenuAndIndexFromID(uint32_t id, plat::MenuRef* menu) const;
    int GetMenuPosFromID(int id) const;
    int GetMenuPosFromName(char const* text) const;
    // The command of the first item whose text (without trailing dots, or
    // whole) equals `text` ignoring case, searched depth first; -1.
    int GetMenuIdFromName(char const* text) const;
    STRING GetMenuItemText(uint32_t idorpos, bool ispos) const;
    plat::MenuRef GetSubmenuFromPos(int pos) const;
    bool IsMenuItemChecked(uint32_t id) const;
    bool IsMenuItemEnabled(uint32_t id) const;
    bool HasAttribute(uint32_t idorpos, uint32_t mask, bool ispos) const;
    bool IsMenuItemSeparator(int pos) const;
    bool GetMenuItemShortcut(int id, int* key, bool* isvirtual, uint32_t* modifiers);
    // The application's Help menu (null on error).
    plat::MenuRef GetHelpMenu() const;

    bool EnableMenuItem(uint32_t id, int enable);
    bool CheckMenuItem(uint32_t id, int check);
    bool SetMenuItemText(int id, char const* text);
    bool SetMenuItemTextWide(int id, wchar_t const* text);
    bool SetMenuItemIcon(int id, plat::IconRef icon);
    bool SetMenuItemShortcut(int id, int key, bool isvirtual, uint32_t modifiers);
    bool ClearMenuItemShortcut(int id);
    bool DeleteMenuItem(uint32_t idorpos, bool ispos);
    bool DeleteMenuItemSeparator(int pos, bool nowarn);
    // A new item with command id at 0-based position pos; a null text
    // makes a separator.
    bool InsertItem(char const* text, int id, int pos) const;
    bool InsertItemWide(wchar_t const* text, int id, int pos) const;
    bool InsertSubMenu(char const* text, MENU& sub, int pos) const;
    bool InsertSubMenuWide(wchar_t const* text, MENU& sub, int pos) const;

    // Shows the menu at `at` (screen coordinates; null: the mouse) over the
    // window and returns the chosen command, 0 when none. With flags 0 a
    // chosen command is also posted to the window (WM_VCOMMAND).
    int Popup(plat::WindowRef window, POINT const* at, uint32_t flags);

private:
    // The holding menu and 1-based item of a command or 0-based position.
    bool Locate(uint32_t idorpos, bool ispos, plat::MenuRef* menu, int* item) const;
    bool InsertText(plat::Text const& text, int id, int pos) const;
    bool InsertSubText(plat::Text const& text, MENU& sub, int pos) const;

    bool fOwned = false;
    plat::MenuRef fMenu = nullptr;
    plat::WindowRef fWindow = nullptr;
};
