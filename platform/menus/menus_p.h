// Inner structures of the menus (platform/menus only).
#pragma once

#include "platform/menus/menus.h"

#include <vector>

namespace plat::menus {

struct MenuItem {
    Text text;
    uint32_t command = 0;
    uint32_t attributes = 0;
    bool enabled = true;
    char32_t mark = 0;
    uint32_t key = 0;
    uint32_t modifiers = 0;
    int32_t glyph = 0;
    IconRef icon = nullptr;    // a reference of the menu's own
    MenuRef submenu = nullptr; // retained
};

struct MenuRec {
    Text title;
    uint32_t menuId = 0;
    int refs = 0;
    std::vector<MenuItem> items;
};

// Records of live handles; null for stale ones. Main thread.
MenuRec* GetMenuRec(MenuRef menu);
MenuItem* GetItem(MenuRef menu, int item);

// Every change that a shown menu bar reflects bumps the generation and
// schedules a refresh of the menu bars (menubar.cpp).
void NoteChanged();
uint64_t Generation();
void ScheduleMenuBarRefresh();

} // namespace plat::menus
