// TASKBARICON: a small badge laid over the application's tile (the
// counterpart of a notification-area icon, platform/menus/docktile.h), and
// the tile's menu, which a window supplies: the window receives
// OnUserMessage(WM_DOCKMENU, 1, the MENU to fill) when the menu opens and
// OnCommand(id) for what is chosen from it (commands that reach the
// application from elsewhere are not this window's). Main thread only.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/gui/winevents.h"

#include "platform/events/windows.h"
#include "platform/menus/menus.h"

// The message that asks the window for the tile's menu.
constexpr uint32_t WM_DOCKMENU = WM_USER + 0xF1; // 1265

class VELMOT_EXPORT TASKBARICON : public TEventHandler {
public:
    // Showing `iconId` means showing no badge; the tip is not used.
    TASKBARICON(plat::WindowRef window, uint32_t iconId, char const* tip);
    ~TASKBARICON() override;

    plat::TargetRef GetEventTarget() const override;
    plat::Status HandleEvent(plat::HandlerCall* call, TCarbonEvent& event) override;

    // Lays the icon (56 x 56, in the upper right corner) over the tile, or
    // with the base id takes the badge away; 0.
    int SetIcon(uint32_t iconId);

private:
    uint32_t fBaseIcon = 0;
    STRING fTip;
    plat::WindowRef fWindow = nullptr;
    plat::MenuRef fTileMenu = nullptr; // the last menu handed to the tile (not owned)
};
