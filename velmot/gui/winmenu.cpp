#include "velmot/gui/winmenu.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "velmot/core/wstring.h"

#include "platform/events/application.h"

#include <strings.h>

#include <string>

namespace {

uint32_t ToPlatformModifiers(uint32_t modifiers)
{
    uint32_t m = 0;
    if (modifiers & MENUMOD_SHIFT)
        m |= plat::kMenuShiftModifier;
    if (modifiers & MENUMOD_OPTION)
        m |= plat::kMenuOptionModifier;
    if (modifiers & MENUMOD_CONTROL)
        m |= plat::kMenuControlModifier;
    if (!(modifiers & MENUMOD_COMMAND))
        m |= plat::kMenuNoCommandModifier;
    if ((modifiers & MENUMOD_TAKEN) && !(modifiers & MENUMOD_COMMAND))
        m |= plat::kMenuMatchedWithoutCommand;
    return m;
}

uint32_t FromPlatformModifiers(uint32_t m)
{
    uint32_t modifiers = 0;
    if (m & plat::kMenuShiftModifier)
        modifiers |= MENUMOD_SHIFT;
    if (m & plat::kMenuOptionModifier)
        modifiers |= MENUMOD_OPTION;
    if (m & plat::kMenuControlModifier)
        modifiers |= MENUMOD_CONTROL;
    if (!(m & plat::kMenuNoCommandModifier))
        modifiers |= MENUMOD_COMMAND;
    if (m & plat::kMenuMatchedWithoutCommand)
        modifiers |= MENUMOD_TAKEN;
    return modifiers;
}

} // namespace

std::vector<uint32_t> MENU::ShortcutChords(uint32_t modifiers)
{
    std::vector<uint32_t> out;
    for (uint32_t chord : plat::MenuShortcutChords(ToPlatformModifiers(modifiers))) {
        uint32_t m = 0;
        if (chord & plat::kModShift)
            m |= MENUMOD_SHIFT;
        if (chord & plat::kModOption)
            m |= MENUMOD_OPTION;
        if (chord & plat::kModControl)
            m |= MENUMOD_CONTROL;
        if (chord & plat::kModCommand)
            m |= MENUMOD_COMMAND;
        out.push_back(m);
    }
    return out;
}

MENU::MENU(char const* name, NIBBUNDLE bundle)
{
    LoadMenu(name, bundle);
}

MENU::MENU(DARWINDOW const& window) : fMenu(window.GetAssociatedMenu()), fWindow(window.GetWindow()) {}

MENU::MENU(plat::MenuRef menu) : fMenu(menu) {}

MENU::MENU(MENU const& other) : fMenu(other.fMenu), fWindow(other.fWindow) {}

MENU::~MENU()
{
    if (fOwned)
        DestroyMenu();
}

bool MENU::LoadMenu(char const* name, NIBBUNDLE bundle)
{
    TARVOAPP::CheckCallerThread("MENU::LoadMenu");
    LOGIT("MENU::LoadMenu\n");
    if (fOwned)
        DestroyMenu();
    fMenu = nullptr;
    fOwned = false;
    if (plat::NibRef nib = DARWINDOW::OpenNibOf(bundle)) {
        plat::MenuRef menu = nullptr;
        if (plat::CreateMenuFromNib(nib, name ? name : "", &menu) == plat::kNoErr) {
            fMenu = menu;
            fOwned = true;
        }
        DARWINDOW::ReleaseNib(nib, bundle);
    }
    LOGIT("MENU::LoadMenu done, this->fMenu= %p\n", static_cast<void*>(fMenu));
    return fMenu != nullptr;
}

bool MENU::CreateEmpty()
{
    TARVOAPP::CheckCallerThread("MENU::CreateEmpty");
    LOGIT("MENU::CreateEmpty\n");
    if (fOwned)
        DestroyMenu();
    fMenu = plat::CreateMenu();
    // Owned, so that it goes with this object.
    fOwned = fMenu != nullptr;
    LOGIT("MENU::CreateEmpty done, fMenu= %p\n", static_cast<void*>(fMenu));
    return fMenu != nullptr;
}

bool MENU::DestroyMenu()
{
    TARVOAPP::CheckCallerThread("MENU::DestroyMenu");
    bool const had = fMenu != nullptr;
    if (fMenu)
        plat::ReleaseMenu(fMenu);
    fMenu = nullptr;
    fOwned = false;
    return had;
}

bool MENU::Locate(uint32_t idorpos, bool ispos, plat::MenuRef* menu, int* item) const
{
    if (ispos) {
        const int pos = static_cast<int>(idorpos);
        if (pos < 0 || pos >= plat::CountMenuItems(fMenu))
            return false;
        *menu = fMenu;
        *item = pos + 1;
        return true;
    }
    return plat::FindMenuItemWithCommand(fMenu, idorpos, 1, menu, item) == plat::kNoErr;
}

int MENU::GetNumMenuItems() const
{
    TARVOAPP::CheckCallerThread("MENU::GetNumMenuItems");
    return plat::CountMenuItems(fMenu);
}

int MENU::GetMenuIdFromPos(int pos) const
{
    TARVOAPP::CheckCallerThread("MENU::GetMenuIdFromPos");
    if (pos < 0 || pos >= plat::CountMenuItems(fMenu))
        return -1;
    uint32_t const id = plat::GetMenuItemCommand(fMenu, pos + 1);
    return id ? static_cast<int>(id) : -1;
}

int MENU::GetMenuAndIndexFromID(uint32_t id, plat::MenuRef* menu) const
{
    TARVOAPP::CheckCallerThread("MENU::GetMenuAndIndexFromID");
    plat::MenuRef m = nullptr;
    int item = 0;
    bool found = plat::FindMenuItemWithCommand(fMenu, id, 1, &m, &item) == plat::kNoErr;
    if (menu)
        *menu = found ? m : nullptr;
    return found ? item - 1 : -1;
}

int MENU::GetMenuPosFromID(int id) const
{
    plat::MenuRef m = nullptr;
    int const pos = GetMenuAndIndexFromID(static_cast<uint32_t>(id), &m);
    VASSERT(m == nullptr || m == fMenu, "fmenu==NULL || fmenu==this->fMenu", nullptr);
    return pos;
}

int MENU::GetMenuPosFromName(char const* text) const
{
    TARVOAPP::CheckCallerThread("MENU::GetMenuPosFromName");
    if (!text)
        return -1;
    int const count = plat::CountMenuItems(fMenu);
    for (int i = 0; i < count; ++i)
        if (strcasecmp(STRING(plat::GetMenuItemText(fMenu, i + 1)).Buf(), text) == 0)
            return i;
    return -1;
}

int MENU::GetMenuIdFromName(char const* text) const
{
    TARVOAPP::CheckCallerThread("MENU::GetMenuIdFromName");
    if (!text)
        return -1;
    int const count = plat::CountMenuItems(fMenu);
    for (int i = 0; i < count; ++i) {
        std::string const full = STRING(plat::GetMenuItemText(fMenu, i + 1)).Buf();
        std::string shortened = full;
        while (!shortened.empty() && shortened.back() == '.')
            shortened.pop_back();
        if (strcasecmp(shortened.c_str(), text) == 0 || strcasecmp(full.c_str(), text) == 0)
            return GetMenuIdFromPos(i);
        if (plat::MenuRef sub = plat::GetMenuItemSubmenu(fMenu, i + 1)) {
            int const id = MENU(sub).GetMenuIdFromName(text);
            if (id != -1)
                return id;
        }
    }
    return -1;
}

STRING MENU::GetMenuItemText(uint32_t idorpos, bool ispos) const
{
    TARVOAPP::CheckCallerThread("MENU::GetMenuItemText");
    plat::MenuRef m = nullptr;
    int item = 0;
    STRING s("");
    if (Locate(idorpos, ispos, &m, &item))
        s = STRING(plat::GetMenuItemText(m, item));
    s.CodePage = UNICODE_CPDEFAULT;
    return s;
}

plat::MenuRef MENU::GetSubmenuFromPos(int pos) const
{
    return pos < 0 ? nullptr : plat::GetMenuItemSubmenu(fMenu, pos + 1);
}

bool MENU::IsMenuItemChecked(uint32_t id) const
{
    plat::MenuRef m = nullptr;
    int item = 0;
    return Locate(id, false, &m, &item) && plat::GetMenuItemMark(m, item) != 0;
}

bool MENU::IsMenuItemEnabled(uint32_t id) const
{
    plat::MenuRef m = nullptr;
    int item = 0;
    return Locate(id, false, &m, &item) && plat::IsMenuItemEnabled(m, item);
}

bool MENU::HasAttribute(uint32_t idorpos, uint32_t mask, bool ispos) const
{
    plat::MenuRef m = nullptr;
    int item = 0;
    return Locate(idorpos, ispos, &m, &item) && (plat::GetMenuItemAttributes(m, item) & mask) != 0;
}

bool MENU::IsMenuItemSeparator(int pos) const
{
    return HasAttribute(static_cast<uint32_t>(pos), MENUATTR_SEPARATOR, true);
}

bool MENU::GetMenuItemShortcut(int id, int* key, bool* isvirtual, uint32_t* modifiers)
{
    TARVOAPP::CheckCallerThread("MENU::GetMenuItemShortcut");
    plat::MenuRef m = nullptr;
    int item = 0;
    uint32_t k = 0;
    if (Locate(static_cast<uint32_t>(id), false, &m, &item))
        k = plat::GetMenuItemKey(m, item);
    if (!k) {
        if (key)
            *key = 0;
        if (isvirtual)
            *isvirtual = false;
        if (modifiers)
            *modifiers = 0;
        return false;
    }
    if (key)
        *key = static_cast<int>(k);
    if (isvirtual)
        *isvirtual = (plat::GetMenuItemAttributes(m, item) & MENUATTR_USEVIRTUALKEY) != 0;
    if (modifiers)
        *modifiers = FromPlatformModifiers(plat::GetMenuItemModifiers(m, item));
    return true;
}

plat::MenuRef MENU::GetHelpMenu() const
{
    return plat::GetHelpMenu();
}

bool MENU::EnableMenuItem(uint32_t id, int enable)
{
    TARVOAPP::CheckCallerThread("MENU::EnableMenuItem");
    plat::MenuRef m = nullptr;
    int item = 0;
    return Locate(id, false, &m, &item) && plat::EnableMenuItem(m, item, enable != 0) == plat::kNoErr;
}

bool MENU::CheckMenuItem(uint32_t id, int check)
{
    TARVOAPP::CheckCallerThread("MENU::CheckMenuItem");
    plat::MenuRef m = nullptr;
    int item = 0;
    return Locate(id, false, &m, &item) &&
           plat::SetMenuItemMark(m, item, check ? plat::kMenuCheckMark : 0) == plat::kNoErr;
}

bool MENU::SetMenuItemText(int id, char const* text)
{
    TARVOAPP::CheckCallerThread("MENU::SetMenuItemText");
    plat::MenuRef m = nullptr;
    int item = 0;
    return Locate(static_cast<uint32_t>(id), false, &m, &item) &&
           plat::SetMenuItemText(m, item, CFSTRING::TextOf(text)) == plat::kNoErr;
}

bool MENU::SetMenuItemTextWide(int id, wchar_t const* text)
{
    TARVOAPP::CheckCallerThread("MENU::SetMenuItemTextWide");
    plat::MenuRef m = nullptr;
    int item = 0;
    return Locate(static_cast<uint32_t>(id), false, &m, &item) &&
           plat::SetMenuItemText(m, item, CFSTRING::TextOf(text)) == plat::kNoErr;
}

bool MENU::SetMenuItemIcon(int id, plat::IconRef icon)
{
    TARVOAPP::CheckCallerThread("MENU::SetMenuItemIcon");
    plat::MenuRef m = nullptr;
    int item = 0;
    return Locate(static_cast<uint32_t>(id), false, &m, &item) &&
           VERIFYSTATUS("err == 0 ", plat::SetMenuItemIcon(m, item, icon));
}

bool MENU::SetMenuItemShortcut(int id, int key, bool isvirtual, uint32_t modifiers)
{
    TARVOAPP::CheckCallerThread("MENU::SetMenuItemShortcut");
    plat::MenuRef m = nullptr;
    int item = 0;
    if (!Locate(static_cast<uint32_t>(id), false, &m, &item))
        return false;
    plat::SetMenuItemKeyGlyph(m, item, 0);
    plat::SetMenuItemKey(m, item, 0);
    // The toolkit's key codes are the platform's menu key codes.
    plat::SetMenuItemKey(m, item, static_cast<uint32_t>(key));
    plat::SetMenuItemModifiers(m, item, ToPlatformModifiers(modifiers));
    plat::Status err = isvirtual ? plat::ChangeMenuItemAttributes(m, item, MENUATTR_USEVIRTUALKEY, 0)
                                 : plat::ChangeMenuItemAttributes(m, item, 0, MENUATTR_USEVIRTUALKEY);
    return VERIFYSTATUS("err == 0 ", err);
}

bool MENU::ClearMenuItemShortcut(int id)
{
    TARVOAPP::CheckCallerThread("MENU::ClearMenuItemShortcut");
    plat::MenuRef m = nullptr;
    int item = 0;
    if (!Locate(static_cast<uint32_t>(id), false, &m, &item))
        return false;
    plat::SetMenuItemKeyGlyph(m, item, 0);
    plat::SetMenuItemKey(m, item, 0);
    plat::SetMenuItemModifiers(m, item, plat::kMenuNoCommandModifier);
    return VERIFYSTATUS("err == 0 ", plat::ChangeMenuItemAttributes(m, item, 0, MENUATTR_USEVIRTUALKEY));
}

bool MENU::DeleteMenuItem(uint32_t idorpos, bool ispos)
{
    TARVOAPP::CheckCallerThread("MENU::DeleteMenuItem");
    plat::MenuRef m = nullptr;
    int item = 0;
    return Locate(idorpos, ispos, &m, &item) && plat::DeleteMenuItem(m, item) == plat::kNoErr;
}

bool MENU::DeleteMenuItemSeparator(int pos, bool nowarn)
{
    TARVOAPP::CheckCallerThread("MENU::DeleteMenuItemSeparator");
    LOGIT("MENU::DeleteMenuItemSeparator by pos=%d\n", pos);
    bool const separator = IsMenuItemSeparator(pos);
    if (!separator) {
        VASSERT(nowarn, "nowarn || item_is_separator", nullptr);
        return false;
    }
    bool const ok = plat::DeleteMenuItem(fMenu, pos + 1) == plat::kNoErr;
    LOGIT("MENU::DeleteMenuItemSeparator pos=%d done\n", pos);
    return ok;
}

bool MENU::InsertText(plat::Text const& text, int id, int pos) const
{
    int const count = plat::CountMenuItems(fMenu);
    pos = pos < 0 ? 0 : pos > count ? count : pos;
    uint32_t const attributes = text.IsNull() ? MENUATTR_SEPARATOR : 0;
    return VERIFYSTATUS("err == 0 ",
                        plat::InsertMenuItem(fMenu, pos, text, attributes, static_cast<uint32_t>(id)));
}

bool MENU::InsertItem(char const* text, int id, int pos) const
{
    TARVOAPP::CheckCallerThread("MENU::InsertItem");
    return InsertText(text ? CFSTRING::TextOf(text) : plat::Text(), id, pos);
}

bool MENU::InsertItemWide(wchar_t const* text, int id, int pos) const
{
    TARVOAPP::CheckCallerThread("MENU::InsertItemWide");
    return InsertText(text ? CFSTRING::TextOf(text) : plat::Text(), id, pos);
}

bool MENU::InsertSubText(plat::Text const& text, MENU& sub, int pos) const
{
    int const count = plat::CountMenuItems(fMenu);
    pos = pos < 0 ? 0 : pos > count ? count : pos;
    if (!InsertText(text, 0, pos))
        return false;
    return VERIFYSTATUS("err == 0 ", plat::SetMenuItemSubmenu(fMenu, pos + 1, sub.fMenu));
}

bool MENU::InsertSubMenu(char const* text, MENU& sub, int pos) const
{
    TARVOAPP::CheckCallerThread("MENU::InsertSubMenu");
    return InsertSubText(CFSTRING::TextOf(text), sub, pos);
}

bool MENU::InsertSubMenuWide(wchar_t const* text, MENU& sub, int pos) const
{
    TARVOAPP::CheckCallerThread("MENU::InsertSubMenuWide");
    return InsertSubText(CFSTRING::TextOf(text), sub, pos);
}

int MENU::Popup(plat::WindowRef window, POINT const* at, uint32_t flags)
{
    TARVOAPP::CheckCallerThread("MENU::Popup");
    LOGIT("MENU::Popup\n");
    plat::PointI point = at ? plat::PointI{at->x, at->y} : plat::GetMousePosition();
    MSGWORD const tracking = MENU_POPUPTRACKING;
    if (window)
        plat::SetWindowProperty(window, VLMT_CREATOR, WPROP_POPUP, &tracking, sizeof tracking);
    plat::PopUpMenuSelect(fMenu, window, point, nullptr, nullptr);
    int result = 0;
    MSGWORD chosen = 0;
    size_t size = 0;
    if (window && plat::GetWindowProperty(window, VLMT_CREATOR, WPROP_POPUP, &chosen, sizeof chosen, &size) ==
                      plat::kNoErr &&
        size == sizeof chosen && chosen != MENU_POPUPTRACKING)
        result = static_cast<int>(chosen);
    if (result && flags == 0)
        DARWINDOW::PostMessage(window, WM_VCOMMAND, static_cast<MSGWORD>(static_cast<uint32_t>(result)), 0, 0);
    if (window) {
        plat::Status err = plat::RemoveWindowProperty(window, VLMT_CREATOR, WPROP_POPUP);
        VASSERT(err == plat::kNoErr || err == plat::kErrTargetGone, "!err", nullptr);
    }
    LOGIT("MENU::Popup returns %d\n", result);
    return result;
}

// ---------------------------------------------------------------------------
// The application's Help menu

void TARVOAPP::FillMenubarHelp(MENU& menubar)
{
    plat::MenuRef help = menubar.GetHelpMenu();
    VASSERT(help != nullptr, "ahelpmenu", nullptr);
    if (!help || plat::CountMenuItems(help) != 1)
        return;
    plat::InsertMenuItem(help, 1, plat::Text(), plat::kMenuItemAttrSeparator, 0);
    MENU items("ID_HELPMENU");
    plat::Status err = items.GetMenuRef()
                           ? plat::CopyMenuItems(items, 1, items.GetNumMenuItems(), help, 2)
                           : plat::kErrParamNotFound;
    VERIFYSTATUS("err == 0 ", err);
}

void TARVOAPP::ClearMenubarHelp(MENU& menubar)
{
    plat::MenuRef help = menubar.GetHelpMenu();
    VASSERT(help != nullptr, "ahelpmenu", nullptr);
    while (help && plat::CountMenuItems(help) >= 2)
        plat::DeleteMenuItem(help, 2);
}
