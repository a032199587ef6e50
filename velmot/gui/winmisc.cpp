#include "velmot/gui/winmisc.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winbase.h"
#include "velmot/gui/windraw.h"
#include "velmot/gui/winicons.h"
#include "velmot/gui/winmenu.h"

#include "platform/draw/bitmap.h"
#include "platform/events/queue.h"
#include "platform/menus/docktile.h"

namespace {

constexpr plat::EventType kTileEvents[] = {
    {plat::kEventClassApplication, plat::kEventAppActivated},
    {plat::kEventClassApplication, plat::kEventAppDeactivated},
    {plat::kEventClassApplication, plat::kEventAppQuit},
    {plat::kEventClassApplication, plat::kEventAppGetDockTileMenu},
    {plat::kEventClassApplication, plat::kEventAppHidden},
    {plat::kEventClassApplication, plat::kEventAppShown},
    {plat::kEventClassCommand, plat::kEventCommandProcess},
};

} // namespace

TASKBARICON::TASKBARICON(plat::WindowRef window, uint32_t iconId, char const*)
    : fBaseIcon(iconId), fTip(""), fWindow(window)
{
    plat::Status const err = RegisterForEvents(std::size(kTileEvents), kTileEvents);
    VASSERT(err == plat::kNoErr, "!err", nullptr);
    if (iconId)
        SetIcon(iconId);
}

TASKBARICON::~TASKBARICON()
{
    VERIFYSTATUS("err == 0 ", plat::RestoreApplicationDockTileImage());
    RemoveEventHandler();
}

plat::TargetRef TASKBARICON::GetEventTarget() const
{
    return plat::ApplicationTarget();
}

int TASKBARICON::SetIcon(uint32_t iconId)
{
    TARVOAPP::CheckCallerThread("TASKBARICON::SetIcon");
    VERIFYSTATUS("err == 0 ", plat::RestoreApplicationDockTileImage());
    if (iconId == fBaseIcon)
        return 0;
    ICON icon(iconId);
    plat::Image const picture = plat::IconImage(icon.GetIconRef());
    MEMORYBITMAP tile(128, 128);
    {
        WINDC dc(tile, tile.GetRect(), true);
        RECT const all{0, 0, 128, 128};
        dc.FillRect(&all, 0xFF808080); // fully transparent
        dc.DrawIcon(&picture, 68, 4, 56, 56);
    }
    plat::Bitmap const* bitmap = tile.GetBitmap();
    plat::Status const err =
        bitmap ? plat::OverlayApplicationDockTileImage(bitmap->MakeImage()) : plat::kErrBadArgument;
    VERIFYSTATUS("err == 0 ", err);
    return 0;
}

plat::Status TASKBARICON::HandleEvent(plat::HandlerCall*, TCarbonEvent& event)
{
    if (event.GetClass() == plat::kEventClassApplication && event.GetKind() == plat::kEventAppGetDockTileMenu) {
        MENU menu;
        menu.CreateEmpty();
        MSGWORD const answer =
            DARWINDOW::SendMessage(fWindow, WM_DOCKMENU, 1, reinterpret_cast<MSGWORD>(&menu), 0);
        if (!answer)
            return plat::kErrEventNotHandled;
        // The tile gets a copy; the window's menu goes with this call.
        plat::MenuRef copy = plat::CreateMenu();
        plat::CopyMenuItems(menu.GetMenuRef(), 1, plat::CountMenuItems(menu.GetMenuRef()), copy, 0);
        event.SetParameter(plat::kParamMenuRef, plat::kTypeMenuRef, copy);
        fTileMenu = copy;
        return plat::kNoErr;
    }
    if (event.GetClass() == plat::kEventClassCommand && event.GetKind() == plat::kEventCommandProcess) {
        plat::CommandRecord cmd;
        if (event.GetParameter(plat::kParamDirectObject, plat::kTypeCommand, &cmd) != plat::kNoErr)
            return plat::kErrEventNotHandled;
        // Only what was chosen from the tile's menu.
        if (!(cmd.attributes & plat::kCommandFromMenu) || !fTileMenu ||
            cmd.source != reinterpret_cast<uintptr_t>(fTileMenu))
            return plat::kErrEventNotHandled;
        MSGWORD const answer = DARWINDOW::SendMessage(fWindow, WM_VCOMMAND, cmd.commandId, 0, 0);
        return answer ? plat::kNoErr : plat::kErrEventNotHandled;
    }
    return plat::kErrEventNotHandled;
}
