// The menu model: menus, their items and the registry of live handles.
#include "platform/menus/menus_p.h"

#include "platform/events/queue.h"

#include <algorithm>
#include <map>

namespace plat {
namespace menus {
namespace {

struct Registry {
    std::map<uintptr_t, MenuRec> menus;
    uintptr_t next = 0;
    uint64_t generation = 0;
};

Registry& Menus()
{
    static auto* registry = new Registry;
    return *registry;
}

void ReleaseItem(MenuItem& item)
{
    if (item.submenu)
        ReleaseMenu(item.submenu);
    if (item.icon)
        ReleaseIconRef(item.icon);
    item.submenu = nullptr;
    item.icon = nullptr;
}

bool FindIn(MenuRef menu, uint32_t command, int& n, MenuRef* outMenu, int* outItem, int depth)
{
    MenuRec* rec = GetMenuRec(menu);
    if (!rec || depth > 32)
        return false;
    for (size_t i = 0; i < rec->items.size(); ++i) {
        const MenuItem& item = rec->items[i];
        if (item.command == command && --n == 0) {
            *outMenu = menu;
            *outItem = static_cast<int>(i) + 1;
            return true;
        }
        if (item.submenu && FindIn(item.submenu, command, n, outMenu, outItem, depth + 1))
            return true;
    }
    return false;
}

bool Contains(MenuRef tree, MenuRef target, int depth)
{
    if (tree == target)
        return true;
    MenuRec* rec = GetMenuRec(tree);
    if (!rec || depth > 32)
        return false;
    for (const MenuItem& item : rec->items)
        if (item.submenu && Contains(item.submenu, target, depth + 1))
            return true;
    return false;
}

} // namespace

MenuRec* GetMenuRec(MenuRef menu)
{
    if (!IsMainThread())
        return nullptr;
    auto& m = Menus().menus;
    auto it = m.find(reinterpret_cast<uintptr_t>(menu));
    return it == m.end() ? nullptr : &it->second;
}

MenuItem* GetItem(MenuRef menu, int item)
{
    MenuRec* rec = GetMenuRec(menu);
    if (!rec || item < 1 || item > static_cast<int>(rec->items.size()))
        return nullptr;
    return &rec->items[static_cast<size_t>(item) - 1];
}

void NoteChanged()
{
    ++Menus().generation;
    ScheduleMenuBarRefresh();
}

uint64_t Generation()
{
    return Menus().generation;
}

} // namespace menus

using namespace menus;

MenuRef CreateMenu(const Text& title, uint32_t menuId)
{
    if (!CheckMainThread("CreateMenu"))
        return nullptr;
    Registry& r = Menus();
    const uintptr_t id = ++r.next;
    MenuRec& rec = r.menus[id];
    rec.title = title;
    rec.menuId = menuId;
    rec.refs = 1;
    return reinterpret_cast<MenuRef>(id);
}

Status RetainMenu(MenuRef menu)
{
    MenuRec* rec = GetMenuRec(menu);
    if (!rec)
        return kErrTargetGone;
    ++rec->refs;
    return kNoErr;
}

Status ReleaseMenu(MenuRef menu)
{
    MenuRec* rec = GetMenuRec(menu);
    if (!rec)
        return kErrTargetGone;
    if (--rec->refs > 0)
        return kNoErr;
    // Take the items out first: releasing a submenu may reach this map.
    std::vector<MenuItem> items = std::move(rec->items);
    Menus().menus.erase(reinterpret_cast<uintptr_t>(menu));
    for (MenuItem& item : items)
        ReleaseItem(item);
    NoteChanged();
    return kNoErr;
}

bool IsValidMenu(MenuRef menu)
{
    return GetMenuRec(menu) != nullptr;
}

int MenuRetainCount(MenuRef menu)
{
    MenuRec* rec = GetMenuRec(menu);
    return rec ? rec->refs : 0;
}

Status SetMenuTitle(MenuRef menu, const Text& title)
{
    MenuRec* rec = GetMenuRec(menu);
    if (!rec)
        return kErrTargetGone;
    rec->title = title;
    NoteChanged();
    return kNoErr;
}

Text GetMenuTitle(MenuRef menu)
{
    MenuRec* rec = GetMenuRec(menu);
    return rec ? rec->title : Text();
}

uint32_t GetMenuId(MenuRef menu)
{
    MenuRec* rec = GetMenuRec(menu);
    return rec ? rec->menuId : 0;
}

int CountMenuItems(MenuRef menu)
{
    MenuRec* rec = GetMenuRec(menu);
    return rec ? static_cast<int>(rec->items.size()) : 0;
}

Status InsertMenuItem(MenuRef menu, int after, const Text& text, uint32_t attributes, uint32_t command)
{
    MenuRec* rec = GetMenuRec(menu);
    if (!rec)
        return kErrTargetGone;
    if (after < 0 || after > static_cast<int>(rec->items.size()))
        return kErrBadArgument;
    MenuItem item;
    item.text = text.IsNull() ? Text::FromUnits(u"") : text;
    item.attributes = attributes;
    item.command = command;
    item.modifiers = 0;
    rec->items.insert(rec->items.begin() + after, std::move(item));
    NoteChanged();
    return kNoErr;
}

Status DeleteMenuItem(MenuRef menu, int item)
{
    MenuRec* rec = GetMenuRec(menu);
    if (!rec || !GetItem(menu, item))
        return rec ? kErrBadArgument : kErrTargetGone;
    MenuItem gone = std::move(rec->items[static_cast<size_t>(item) - 1]);
    rec->items.erase(rec->items.begin() + (item - 1));
    ReleaseItem(gone);
    NoteChanged();
    return kNoErr;
}

Status CopyMenuItems(MenuRef from, int first, int count, MenuRef to, int after)
{
    MenuRec* src = GetMenuRec(from);
    MenuRec* dst = GetMenuRec(to);
    if (!src || !dst)
        return kErrTargetGone;
    if (count < 0 || first < 1 || first - 1 + count > static_cast<int>(src->items.size()) || after < 0 ||
        after > static_cast<int>(dst->items.size()))
        return kErrBadArgument;
    std::vector<MenuItem> copies(src->items.begin() + (first - 1), src->items.begin() + (first - 1 + count));
    for (MenuItem& item : copies) {
        if (item.submenu)
            RetainMenu(item.submenu);
        if (item.icon)
            AcquireIconRef(item.icon);
    }
    dst = GetMenuRec(to); // the map did not change, but stay exact
    dst->items.insert(dst->items.begin() + after, copies.begin(), copies.end());
    NoteChanged();
    return kNoErr;
}

Status SetMenuItemCommand(MenuRef menu, int item, uint32_t command)
{
    MenuItem* it = GetItem(menu, item);
    if (!it)
        return kErrBadArgument;
    it->command = command;
    return kNoErr;
}

uint32_t GetMenuItemCommand(MenuRef menu, int item)
{
    MenuItem* it = GetItem(menu, item);
    return it ? it->command : 0;
}

Status FindMenuItemWithCommand(MenuRef menu, uint32_t command, int n, MenuRef* outMenu, int* outItem)
{
    MenuRef m = nullptr;
    int i = 0;
    if (outMenu)
        *outMenu = nullptr;
    if (outItem)
        *outItem = 0;
    if (!GetMenuRec(menu))
        return kErrTargetGone;
    if (n < 1 || !FindIn(menu, command, n, &m, &i, 0))
        return kErrParamNotFound;
    if (outMenu)
        *outMenu = m;
    if (outItem)
        *outItem = i;
    return kNoErr;
}

Status SetMenuItemText(MenuRef menu, int item, const Text& text)
{
    MenuItem* it = GetItem(menu, item);
    if (!it)
        return kErrBadArgument;
    it->text = text.IsNull() ? Text::FromUnits(u"") : text;
    NoteChanged();
    return kNoErr;
}

Text GetMenuItemText(MenuRef menu, int item)
{
    MenuItem* it = GetItem(menu, item);
    return it ? it->text : Text();
}

Status EnableMenuItem(MenuRef menu, int item, bool enable)
{
    MenuItem* it = GetItem(menu, item);
    if (!it)
        return kErrBadArgument;
    it->enabled = enable;
    return kNoErr;
}

bool IsMenuItemEnabled(MenuRef menu, int item)
{
    MenuItem* it = GetItem(menu, item);
    return it && it->enabled;
}

Status SetMenuItemMark(MenuRef menu, int item, char32_t mark)
{
    MenuItem* it = GetItem(menu, item);
    if (!it)
        return kErrBadArgument;
    it->mark = mark;
    return kNoErr;
}

char32_t GetMenuItemMark(MenuRef menu, int item)
{
    MenuItem* it = GetItem(menu, item);
    return it ? it->mark : 0;
}

Status ChangeMenuItemAttributes(MenuRef menu, int item, uint32_t set, uint32_t clear)
{
    MenuItem* it = GetItem(menu, item);
    if (!it)
        return kErrBadArgument;
    it->attributes = (it->attributes & ~clear) | set;
    NoteChanged();
    return kNoErr;
}

uint32_t GetMenuItemAttributes(MenuRef menu, int item)
{
    MenuItem* it = GetItem(menu, item);
    return it ? it->attributes : 0;
}

Status SetMenuItemKey(MenuRef menu, int item, uint32_t key)
{
    MenuItem* it = GetItem(menu, item);
    if (!it)
        return kErrBadArgument;
    it->key = key;
    return kNoErr;
}

uint32_t GetMenuItemKey(MenuRef menu, int item)
{
    MenuItem* it = GetItem(menu, item);
    return it ? it->key : 0;
}

Status SetMenuItemModifiers(MenuRef menu, int item, uint32_t modifiers)
{
    MenuItem* it = GetItem(menu, item);
    if (!it)
        return kErrBadArgument;
    it->modifiers = modifiers;
    return kNoErr;
}

uint32_t GetMenuItemModifiers(MenuRef menu, int item)
{
    MenuItem* it = GetItem(menu, item);
    return it ? it->modifiers : 0;
}

Status SetMenuItemKeyGlyph(MenuRef menu, int item, int32_t glyph)
{
    MenuItem* it = GetItem(menu, item);
    if (!it)
        return kErrBadArgument;
    it->glyph = glyph;
    return kNoErr;
}

int32_t GetMenuItemKeyGlyph(MenuRef menu, int item)
{
    MenuItem* it = GetItem(menu, item);
    return it ? it->glyph : 0;
}

Status SetMenuItemIcon(MenuRef menu, int item, IconRef icon)
{
    MenuItem* it = GetItem(menu, item);
    if (!it)
        return kErrBadArgument;
    if (icon && AcquireIconRef(icon) != kNoErr)
        return kErrTargetGone;
    it = GetItem(menu, item);
    if (it->icon)
        ReleaseIconRef(it->icon);
    it->icon = icon;
    return kNoErr;
}

IconRef GetMenuItemIcon(MenuRef menu, int item)
{
    MenuItem* it = GetItem(menu, item);
    return it ? it->icon : nullptr;
}

Status SetMenuItemSubmenu(MenuRef menu, int item, MenuRef submenu)
{
    if (!GetItem(menu, item))
        return kErrBadArgument;
    if (submenu) {
        // A menu may not hang below itself.
        if (Contains(submenu, menu, 0))
            return kErrBadArgument;
        if (RetainMenu(submenu) != kNoErr)
            return kErrTargetGone;
    }
    MenuItem* it = GetItem(menu, item);
    MenuRef old = it->submenu;
    it->submenu = submenu;
    if (old)
        ReleaseMenu(old);
    NoteChanged();
    return kNoErr;
}

MenuRef GetMenuItemSubmenu(MenuRef menu, int item)
{
    MenuItem* it = GetItem(menu, item);
    return it ? it->submenu : nullptr;
}

} // namespace plat
