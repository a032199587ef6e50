// Window position and look: where a new main window opens and how large it
// is, and the display options (menu bar, bars, scroll bar, tab bar,
// colours, transparency) applied again whenever settings or tabs change.
#include "program/shell/app.h"

#include "program/shell/helper.h"
#include "program/shell/tabs.h"

#include "platform/events/windowstate.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/registry.h"

#include <cstdio>
#include <cstring>

namespace startuppos {

RESULT Compute(INPUT const& in)
{
    RESULT r;
    int left = -1, top = -1, width = -1, height = -1, maximised = 0;
    bool explicitPos = false;
    if (!in.Pos.empty()) {
        sscanf(in.Pos.c_str(), "%d , %d , %d , %d", &left, &top, &width, &height);
        explicitPos = true;
    }
    if (left == -1 && !in.EntryPos.empty()) {
        sscanf(in.EntryPos.c_str(), "%d , %d , %d , %d", &left, &top, &width, &height);
        explicitPos = true;
    }
    if (width == -1 && height == -1) {
        if (in.Stored.empty()) {
            width = 3 * in.Desktop.cx < 4100 ? 3 * in.Desktop.cx / 4 : 1024;
            height = 3 * in.Desktop.cy < 3076 ? 3 * in.Desktop.cy / 4 : 768;
            left = (in.Desktop.cx - width) / 2;
            top = (in.Desktop.cy - height) / 2;
        } else {
            sscanf(in.Stored.c_str(), "%d , %d , %d , %d ; %d", &left, &top, &width, &height, &maximised);
            r.FromRegistry = true;
        }
    }
    if (top < -10)
        top = -5;
    if (in.Instance >= 2 && !explicitPos) {
        left += ((in.Instance - 1) % 60) * 24;
        top += ((in.Instance - 1) % 20) * 24;
    }
    // A window on no display opens where it can be seen.
    bool onDisplay = false;
    for (RECT const& d : in.Displays) {
        bool const touches = left < d.right && left + width > d.left && top < d.bottom && top + height > d.top;
        onDisplay = onDisplay || touches;
    }
    if (!onDisplay) {
        left = 20;
        top = 40;
    }
    r.Position = POINT{left, top};
    r.Size = SIZE{width, height};
    r.Maximised = maximised;
    return r;
}

} // namespace startuppos

int APP::InitStartupWinPos(POINT* position, SIZE* size, int* maximised, signed char* fromRegistry)
{
    LOGIT("APP::InitStartupWinPos\n");
    startuppos::INPUT in;
    in.Desktop = WINDOW(static_cast<plat::WindowRef>(nullptr)).GetSize();
    STRING app = OSYS::GetStringFromResource("IDS_TARVOAPPREGKEY");
    REGISTRY key(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", app.Buf(), REGISTRY::READWRITE);
    STRING stored;
    if (key.Read("WindowPositionMain", &stored))
        in.Stored = stored.Buf();
    char pos[80] = {};
    if (CopyArgString("POS", pos, sizeof pos))
        in.Pos = pos;
    // A host-directory entry's stored position arrives with the host
    // directory ("^CALL=" entries).
    in.Instance = InstanceNo;
    for (plat::RectI const& d : plat::GetDisplayBounds())
        in.Displays.push_back(RECT{d.left, d.top, d.right, d.bottom});
    startuppos::RESULT const r = startuppos::Compute(in);
    LOGIT("APP::InitStartupWinPos CGGetDisplaysWithRect returned %d display, first is %08lx\n",
          static_cast<int>(in.Displays.size()), 0ul);
    LOGIT("APP::InitStartupWinPos returns %d, %d, %d, %d\n", r.Position.x, r.Position.y, r.Size.cx, r.Size.cy);
    if (position)
        *position = r.Position;
    if (size)
        *size = r.Size;
    if (maximised)
        *maximised = r.Maximised;
    if (fromRegistry)
        *fromRegistry = r.FromRegistry ? 1 : 0;
    return 0;
}

void APP::TrackChanges(signed char force, int deltaX, int deltaY)
{
    LOGIT("APP::TrackChanges\n");
    CURRENTSESSIONPTR session(*this);
    if (!session || !pTabsbar || Closing)
        return;
    SESSIONPROFILEDATA const& p = session->Prof.data;
    PROGRAMSETTINGSDATA const& s = ProgSettings.data;
    bool changed = force != 0;
    int vdelta = deltaY;

    if (p.ShowMenu != Look.Menu) {
        // The menu bar stays: a window of this desktop shows its own.
        Look.Menu = p.ShowMenu;
        changed = true;
    }
    int toolbarDelta = 0, userbarDelta = 0, tabsDelta = 0, statusDelta = 0, chatDelta = 0, scrollDelta = 0;
    bool partChanged = false;
    if (pToolbar)
        partChanged |= pToolbar->Show(p.ShowToolbar != 0, &toolbarDelta) != 0;
    bool const scrollbar = (p.ShowScrollbar && s.ScrollbackLines > 0);
    partChanged |= ShowScrollbar(scrollbar, &scrollDelta) != 0;
    deltaX += scrollDelta;
    if (pUserbar)
        partChanged |= pUserbar->Show(p.ShowUserbar != 0, &userbarDelta) != 0;
    TabsVisible = GetNumSessions() >= 2 || s.ShowTabsAlways;
    partChanged |= pTabsbar->ShowTabs(TabsVisible, &tabsDelta) != 0;
    pTabsbar->SetCloseIconMode(s.TabsCloseButtonMode);

    int const active = pTabsbar->ActiveIndex();
    bool explicitColour = false;
    COLORREF const colour = active >= 0 ? pTabsbar->GetButtonColorcodeRGB(active, true, &explicitColour) : 0;
    int const mode = s.ColorfulTabs > 0 && pTabsbar->QuerySizeY() > 0 ? s.ColorfulTabs : 0;
    if (colour != Look.TabColour || mode != Look.ColourMode) {
        if (mode != Look.ColourMode)
            pTabsbar->SetColorOverlay(mode);
        for (WINDOWPART* part : {pUserbar.get(), pChatbar.get(), pStatusbar.get()}) {
            if (part)
                part->SetColorOverlay(colour, mode);
        }
        Look.TabColour = colour;
        Look.ColourMode = mode;
    }
    if (pStatusbar)
        partChanged |= pStatusbar->Show(p.ShowStatusline != 0, &statusDelta) != 0;
    Look.Leds = p.ShowLeds;
    if (pChatbar)
        partChanged |= pChatbar->Show(p.ShowChat != 0, &chatDelta) != 0;

    int const packed = p.Transparency << 16 | s.Transparency;
    if (packed != Look.Transparency) {
        HELPER::SetTransparency(*this, *session, s.Transparency, p.Transparency);
        Look.Transparency = packed;
    }
    Look.Device = p.ActiveDevice;
    Look.Transfer = p.ActiveTransfer;

    MenuCheck(8290, p.ShowMenu != 0);
    MenuCheck(8291, p.ShowToolbar != 0);
    MenuCheck(8292, p.ShowUserbar != 0);
    MenuCheck(8295, p.ShowScrollbar != 0);
    MenuCheck(8294, p.ShowStatusline != 0);
    SetWindowTitle(nullptr);

    if (changed || partChanged) {
        vdelta += toolbarDelta + userbarDelta + tabsDelta + statusDelta + chatDelta;
        LOGIT("APP::TrackChanges sizing delta_x= %d, delta_y= %d\n", deltaX, vdelta);
        if (IsMaximized()) {
            PostUserMessage(MSG_DOSIZING, 1, 0);
        } else {
            SIZE const client = GetClientSize();
            LastCx = -1;
            DoSizing(client.cx + deltaX, client.cy + vdelta);
        }
    } else {
        Invalidate();
    }
    LOGIT("APP::TrackChanges done\n");
}
