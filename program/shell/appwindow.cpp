// The main window's layout and its window events: the window parts, the
// client areas with the terminal snapped to whole cells, the frame fitted
// to the client, the background around the terminal, activation and focus,
// the scroll bar, timers and user messages; the window's commands, the tab
// bar's notifications with the tab menu.
#include "program/shell/app.h"

#include "program/shell/helper.h"
#include "program/shell/qor.h"
#include "program/shell/status.h"
#include "program/shell/syscolors.h"
#include "program/shell/tabs.h"

#include "program/settings/workfolder.h"

#include "platform/events/queue.h"
#include "platform/events/windows.h"
#include "platform/events/appevents.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/appfunction.h"
#include "velmot/gui/winicons.h"
#include "velmot/gui/windraw.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

constexpr int kColourMenuBase = 2000;
constexpr int kRenameTab = 8894;
// The first icon of the tab colour swatches.
constexpr int kColourIconBase = 1020;

} // namespace

// ---------------------------------------------------------------------------
// Window parts

void APP::ConstructWindowParts(int width)
{
    LOGIT("APP::ConstructWindowParts\n");
    appmenu::LoadContextMenu(ContextMenu);
    InitMenu(MainMenu);
    InitMenu(ContextMenu);
    pToolbar = MakeWindowPart(PARTKIND::TOOLBAR);
    pUserbar = MakeWindowPart(PARTKIND::USERBAR);
    pTabsbar = new TABS(*this, std::max(width, 1), MSG_TABSBAR);
    VASSERT(pTabsbar != nullptr, "this->pTabsbar", nullptr);
    CURRENTSESSIONPTR session(*this);
    // The first tab shows as the active one from the start.
    pTabsbar->AddButtonWide(OSYS::GetWideStringFromResource("IDS_UNTITLED").Buf(), session.Get(), -1, true);
    pStatusbar = MakeWindowPart(PARTKIND::STATUSLINE);
    pChatbar = MakeWindowPart(PARTKIND::CHATBAR);
    LOGIT("APP::ConstructWindowParts done\n");
}

void APP::DestroyWindowParts()
{
    pToolbar.reset();
    pUserbar.reset();
    delete pTabsbar;
    pTabsbar = nullptr;
    pChatbar.reset();
    pStatusbar.reset();
    pIpc.reset();
}

int APP::PartHeight(WINDOWPART* part, SESSION* session, int width)
{
    return part ? part->QueryHeight(session, width) : 0;
}

// ---------------------------------------------------------------------------
// Layout

SIZE APP::GetMaxClientSize(RECT const* frame)
{
    RECT r = frame ? *frame : WINDOW(static_cast<plat::WindowRef>(nullptr)).GetRect();
    RECT client{};
    RectFrameToClient(&r, &client);
    return SIZE{client.right - client.left, client.bottom - client.top};
}

void APP::CalcClientAreas(SESSION& session, int* cx, int* cy, POINT* termPos, SIZE* termSize, int* ubHeight,
                          bool serious)
{
    int scratchUb = 0;
    POINT scratchPos{};
    SIZE scratchSize{};
    if (!ubHeight)
        ubHeight = &scratchUb;
    if (!termPos)
        termPos = &scratchPos;
    if (!termSize)
        termSize = &scratchSize;
    LOGIT("APP::CalcClientAreas(cx %d, cy %d, *pubheigth %d, serious %d);\n", *cx, *cy, *ubHeight, serious);
    MaxBackground = OSYS::GetSysColor(15);
    int const status = PartHeight(pStatusbar.get(), &session, *cx);
    int const chat = PartHeight(pChatbar.get(), &session, *cx);
    int const tabs = pTabsbar ? pTabsbar->QuerySizeY() : 0;
    int const toolbar = PartHeight(pToolbar.get(), &session, *cx);
    *ubHeight = PartHeight(pUserbar.get(), &session, *cx);
    LOGIT("APP::CalcClientAreas current ubheigth %d\n", *ubHeight);
    int const bars = status + *ubHeight + chat + tabs + toolbar;
    int const scroll = ScrollbarShown == 0 ? 0 : SCROLLWIDTH;
    SIZE const max = GetMaxClientSize(nullptr);
    int termW = *cx - 2 - scroll;
    int termH = *cy - 2 - bars;
    LOGIT("APP::CalcClientAreas before OfferWindow(%d, %d, %d, %d, serious= %d);\n", termW, termH, max.cx - scroll,
          max.cy - bars, serious);
    session.OfferWindow(&termW, &termH, max.cx - scroll, max.cy - bars, serious);
    LOGIT("APP::CalcClientAreas after OfferWindow(%d, %d, %d, %d, serious= %d);\n", termW, termH, max.cx - scroll,
          max.cy - bars, serious);
    *cx = termW + 2 + scroll;
    *cy = termH + 2 + bars;
    int const again = PartHeight(pUserbar.get(), &session, *cx);
    int const diff = again - *ubHeight;
    if (diff != 0) {
        *cy += diff;
        *ubHeight += diff;
    }
    LOGIT("APP::CalcClientAreas current ubheigth %d (diff was %d)\n", *ubHeight, diff);
    *termPos = POINT{0, toolbar + tabs + *ubHeight};
    *termSize = SIZE{termW, termH};
    LOGIT("APP::CalcClientAreas done (cx %d, cy %d, [%d, %d, %d, %d], ubheigth %d, serious %d);\n", *cx, *cy,
          termPos->x, termPos->y, termW, termH, *ubHeight, serious);
}

void APP::CalcClientAreasMaximized(SESSION& session, int* cx, int* cy, POINT* termPos, SIZE* termSize,
                                   int* ubHeight, bool serious)
{
    int scratchUb = 0;
    POINT scratchPos{};
    SIZE scratchSize{};
    if (!ubHeight)
        ubHeight = &scratchUb;
    if (!termPos)
        termPos = &scratchPos;
    if (!termSize)
        termSize = &scratchSize;
    MaxBackground = OSYS::GetSysColor(15);
    SIZE const client = GetClientSize();
    *cx = client.cx;
    *cy = client.cy;
    int const status = PartHeight(pStatusbar.get(), &session, *cx);
    int const chat = PartHeight(pChatbar.get(), &session, *cx);
    int const tabs = pTabsbar ? pTabsbar->QuerySizeY() : 0;
    int const toolbar = PartHeight(pToolbar.get(), &session, *cx);
    *ubHeight = PartHeight(pUserbar.get(), &session, *cx);
    LOGIT("CalcClientAreasMaximized screen= cx %d, cy %d, ubheigth %d\n", *cx, *cy, *ubHeight);
    int const top = toolbar + tabs;
    int const bars = status + *ubHeight + chat + top;
    int const scroll = ScrollbarShown == 0 ? 0 : SCROLLWIDTH;
    RECT const own = GetRect();
    SIZE const max = GetMaxClientSize(&own);
    int termW = *cx - scroll;
    int termH = *cy - bars;
    LOGIT("CalcClientAreasMaximized before OfferWindow(%d, %d, %d, %d, serious= %d);\n", termW, termH,
          max.cx - scroll, max.cy - bars, serious);
    session.OfferWindow(&termW, &termH, max.cx - scroll, max.cy - bars, serious);
    LOGIT("CalcClientAreasMaximized after OfferWindow(%d, %d, %d, %d, serious= %d);\n", termW, termH,
          max.cx - scroll, max.cy - bars, serious);
    int const marginX = *cx - termW;
    int const marginY = *cy - bars - termH;
    if (marginX < 5 && marginY < 5)
        MaxBackground = 0x404040;
    *termPos = POINT{(marginX - scroll) / 2, top + *ubHeight + marginY / 2};
    *termSize = SIZE{termW, termH};
}

int APP::DoSizing(int cx, int cy)
{
    if (Building[1] || InSizing || Closing || cx == 0 || cy == 0)
        return 0;
    LOGIT("APP::DoSizing start client size = [%d x %d]\n", cx, cy);
    CURRENTSESSIONPTR session(*this);
    if (!session)
        return 0;
    bool const maximised = IsMaximized();
    int const border = maximised ? 0 : 1;
    POINT termPos{};
    SIZE termSize{};
    int ub = 0;
    if (maximised)
        CalcClientAreasMaximized(*session, &cx, &cy, &termPos, &termSize, &ub, true);
    else
        CalcClientAreas(*session, &cx, &cy, &termPos, &termSize, &ub, true);
    InSizing = true;
    int const tb = PartHeight(pToolbar.get(), session.Get(), cx);
    int const tabs = pTabsbar ? pTabsbar->QuerySizeY() : 0;
    int const status = PartHeight(pStatusbar.get(), session.Get(), cx);
    int const chat = PartHeight(pChatbar.get(), session.Get(), cx);
    int const termX = termPos.x + border;
    int const termY = termPos.y + border;
    int const statusY = cy - status;
    int const chatY = statusY - chat;
    LOGIT("APP::DoSizing term pos before sizing elements (%d, %d ...)\n", termX, termY);
    if (pUserbar)
        pUserbar->Move(0, tb + tabs, cx, ub);
    if (pTabsbar)
        pTabsbar->Move(0, tb, cx, tabs);
    session->Move(termX, termY, termSize.cx, termSize.cy);
    if (ScrollbarShown != 0)
        Scrollbar.Move(termX + termSize.cx + border, termY, SCROLLWIDTH, termSize.cy);
    if (pChatbar)
        pChatbar->Move(0, chatY, cx, chat);
    if (pStatusbar)
        pStatusbar->Move(0, statusY, cx, status);
    if (pTabsbar)
        pTabsbar->Show(tabs > 0);
    session->Show(true);
    for (WINDOWPART* part : {pUserbar.get(), pStatusbar.get(), pChatbar.get()}) {
        if (part)
            part->BringToTop();
    }
    Invalidate();
    if (!maximised)
        SizeFrameToFitClient(cx, cy);
    LOGIT("APP::DoSizing invalidate and flush\n");
    RefreshTransparencyBackdrop();
    InSizing = false;
    LOGIT("APP::DoSizing Out\n");
    return 1;
}

void APP::SizeFrameToFitClient(int cx, int cy)
{
    LOGIT("APP::SizeFrameToFitClient clientsize= [%d x %d]\n", cx, cy);
    // The window's own area (menu bar and client) around the client, as it
    // stands now: the frame's decorations are the window manager's and
    // follow on their own.
    plat::RectI const now = plat::GetWindowBounds(GetWindow(), false);
    SIZE const client = GetClientSize();
    int const width = cx + (now.Width() - client.cx);
    int const height = cy + (now.Height() - client.cy);
    plat::RectI want{now.left, now.top, now.left + width, now.top + height};
    // A size change that moved the left or top edge keeps the right or
    // bottom one where it is.
    if (SizingEdges & SIZINGEDGE_LEFT)
        want = plat::RectI{now.right - width, want.top, now.right, want.bottom};
    if (SizingEdges & SIZINGEDGE_TOP)
        want = plat::RectI{want.left, now.bottom - height, want.right, now.bottom};
    SizingEdges = 0;
    LOGIT("APP::SizeFrameToFitClient new frame rect= [%d, %d, %d, %d] [%d x %d]\n", want.left, want.top, want.right,
          want.bottom, width, height);
    if (want != now && width > 0 && height > 0)
        plat::SetWindowBounds(GetWindow(), want);
    SIZE const got = GetClientSize();
    LOGIT("APP::SizeFrameToFitClient new client size= [%d x %d]\n", got.cx, got.cy);
}

bool APP::OnSizing(RECT* frame, uint32_t edges)
{
    if (!frame || IsMaximized() || !StartupFinished || Closing)
        return false;
    // The window system has sized the window already; the layout that
    // follows snaps it to whole cells, keeping the edges that did not move.
    SizingEdges = edges & (SIZINGEDGE_LEFT | SIZINGEDGE_TOP);
    if (edges & SIZINGEDGE_RIGHT)
        SizingEdges &= ~SIZINGEDGE_LEFT;
    if (edges & SIZINGEDGE_BOTTOM)
        SizingEdges &= ~SIZINGEDGE_TOP;
    LOGIT("APP::OnSizing edges %u\n", static_cast<unsigned>(edges));
    return false;
}

bool APP::OnSized()
{
    SIZE const frame = GetSize();
    SIZE const client = GetClientSize();
    LOGIT("APP:OnSized frame= [%d x %d], client= [%d x %d]\n", frame.cx, frame.cy, client.cx, client.cy);
    if (Closing)
        return true;
    SetWindowTitle(nullptr);
    OnMinimized();
    if ((client.cx == 0 && client.cy == 0) || (client.cx == LastCx && client.cy == LastCy))
        return true;
    if (DoSizing(client.cx, client.cy) == 1) {
        // The size the layout left the client at.
        SIZE const laid = GetClientSize();
        LastCx = laid.cx;
        LastCy = laid.cy;
        CURRENTSESSIONPTR session(*this);
        if (STATUSLINE* status = Statusline(); status && session)
            status->NewStatusline(*session, false);
    }
    if (!Closing && !RefreshPending) {
        PostUserMessage(MSG_SHADOW, 0, 0);
        RefreshPending = true;
    }
    LOGIT("APP:OnSized done\n");
    return true;
}

int APP::ShowScrollbar(bool show, int* widthDelta)
{
    int const want = show ? 1 : 0;
    if (ScrollbarShown == want)
        return 0;
    if (show && ScrollbarShown >= 1 && ScrollbarShown <= 254) {
        ScrollbarShown = want;
        return 0;
    }
    if (show) {
        Scrollbar.Show(true);
        if (widthDelta)
            *widthDelta = SCROLLWIDTH;
        CURRENTSESSIONPTR session(*this);
        if (session)
            session->Scrollback.SetScrollbars(Scrollbar, -1);
    } else {
        Scrollbar.Show(false);
        if (widthDelta)
            *widthDelta = -SCROLLWIDTH;
    }
    ScrollbarShown = want;
    return 1;
}

void APP::PostShadow(bool force, int lines)
{
    if (Closing || RefreshPending || (force && lines < 26))
        return;
    PostUserMessage(MSG_SHADOW, 0, 0);
    RefreshPending = true;
}

bool APP::OnScrollEvent(int code, CONTROL const&, int position)
{
    CURRENTSESSIONPTR session(*this);
    if (!session)
        return false;
    // The scroll-back viewer takes the events while it is shown, once it
    // exists.
    int const lines = session->Scrollback.QueryFilled();
    if (code == SCROLL_LINEDOWN)
        return false;
    if ((code == 4 || code == 5) && position >= lines)
        return false;
    int rows = 0, cols = 0;
    session->Screen.GetWinSize(&cols, &rows);
    int distance = lines - position;
    if (code == SCROLL_LINEUP)
        distance = 1;
    else if (code == SCROLL_PAGEUP)
        distance = std::max(rows - 1, 1);
    session->ProcessEvent(8488, distance, nullptr);
    return false;
}

// ---------------------------------------------------------------------------
// Painting

int APP::OnWindowPaint(plat::DrawContext* context, RECT const& bounds, RECT const& update)
{
    WINDOW::OnWindowPaint(context, bounds, update);
    CURRENTSESSIONPTR session(*this);
    if (!session || !context)
        return 0;
    WINDC dc(context, bounds, false);
    int const status = PartHeight(pStatusbar.get(), session.Get(), bounds.right - bounds.left);
    int const chat = PartHeight(pChatbar.get(), session.Get(), bounds.right - bounds.left);
    RECT area = update;
    area.bottom = std::min(area.bottom, bounds.bottom - status - chat);
    RECT const r = session->CONTROL::GetRect();
    COLORREF colour = session->Screen.GetBackgroundColorRGB(0) & 0xFFFFFF;
    bool const maximised = IsMaximized();
    int const scroll = ScrollbarShown == 0 ? 0 : SCROLLWIDTH;
    int const t = session->Prof.data.Transparency;
    if (t > 0) {
        uint32_t const alpha = static_cast<uint32_t>(static_cast<int>(t * 0.75 / 100 * 255));
        COLORREF const tinted = colour | ((255 - alpha) << 24);
        if (!maximised) {
            dc.Line(r.left - 1, area.top, r.left - 1, area.bottom - 1, tinted);
            dc.Line(r.right, area.top, r.right, area.bottom - 1, tinted);
        } else {
            dc.Line(r.left - 1, r.top, r.left - 1, r.bottom - 1, tinted);
            dc.Line(r.right, r.top, r.right, r.bottom - 1, tinted);
            COLORREF const half = colour | (0x7Fu << 24);
            RECT const above{area.left, area.top, area.right, r.top};
            RECT const below{area.left, r.bottom, area.right, area.bottom};
            RECT const left{area.left, r.top, r.left, r.bottom};
            RECT const right{r.right + scroll, r.top, area.right, r.bottom};
            for (RECT const& part : {above, below, left, right}) {
                if (part.right > part.left && part.bottom > part.top)
                    dc.FillRect(&part, half);
            }
        }
    } else {
        COLORREF fill = colour;
        if (maximised && ProgSettings.data.MaxBorderInBgColor) {
            int const index = std::clamp(ProgSettings.data.MaxBorderBgColor, 0, TERM_MAX_SYSCOLORS - 1);
            fill = gSysColors[index].DefaultColour;
        } else if (maximised) {
            fill = MaxBackground;
        }
        if (area.right > area.left && area.bottom > area.top)
            dc.FillRect(&area, fill);
    }
    if (!maximised) {
        dc.Line(r.left - 1, r.top - 1, r.right + scroll - 1, r.top - 1, OSYS::GetSysColor(16));
        dc.Line(r.left - 1, r.bottom, r.right + scroll - 1, r.bottom, 0xA0A0A0);
    }
    return 1;
}

int APP::OnPaint()
{
    LOGIT("APP::OnPaint BeginPaint\n");
    return 0;
}

// ---------------------------------------------------------------------------
// Activation, focus, state

bool APP::OnActivated()
{
    LOGIT("APP::OnActivated\n");
    if (!Closing) {
        Active = true;
        SendUserMessage(MSG_SETFOCUS, 0, 0);
        PostEvent(8825, 0, nullptr);
        MakeMenu(false);
        UpdateToolbarAndMenu(true);
        for (WINDOWPART* part : {pUserbar.get(), pStatusbar.get()}) {
            if (part)
                part->Invalidate();
        }
        if (pTabsbar)
            pTabsbar->Invalidate(nullptr);
    }
    LOGIT("APP::OnActivated done\n");
    return false;
}

bool APP::OnDeactivated()
{
    LOGIT("APP::OnDeactivated\n");
    Active = false;
    if (!Building[0] && !Closing) {
        CURRENTSESSIONPTR session(*this);
        if (session)
            session->OnFocusLost();
        for (WINDOWPART* part : {pToolbar.get(), pUserbar.get(), pStatusbar.get()}) {
            if (part) {
                part->CancelTooltips();
                part->Invalidate();
            }
        }
        if (pTabsbar) {
            pTabsbar->CancelTooltips();
            pTabsbar->Invalidate(nullptr);
        }
        PostEvent(8825, 0, nullptr);
    }
    LOGIT("APP::OnDeactivated done\n");
    return false;
}

bool APP::OnFocusAcquired()
{
    LOGIT("APP::OnFocusAcquired()\n");
    if (!Active)
        return false;
    LOGIT("APP::OnFocusAcquired forward focus to session\n");
    SendUserMessage(MSG_SETFOCUS, 0, 0);
    return true;
}

bool APP::OnMinimized()
{
    int const state = IsMinimized() ? 1 : 0;
    if (state != MinimizedState) {
        if (MinimizedState != -1)
            AllSessions_PostEvent(8815, static_cast<short>(state), nullptr, -1);
        MinimizedState = state;
    }
    return true;
}

bool APP::OnRestored()
{
    OnMinimized();
    OnSized();
    return true;
}

bool APP::OnMaximized()
{
    if (pUserbar)
        pUserbar->Invalidate();
    return false;
}

bool APP::OnClose()
{
    LOGIT("APP::OnClose\n");
    DoCommand(8899, 0, 0);
    return true;
}

bool APP::OnKeyboardEvent(KEYBOARDEVENT const& key)
{
    CURRENTSESSIONPTR session(*this);
    return session && session->OnKeyboardEvent(key);
}

// ---------------------------------------------------------------------------
// Timers and user messages

bool APP::OnTimer(int id)
{
    if (id >= 5 && id <= 100)
        LOGIT("APP::OnTimer %d\n", id);
    switch (id) {
    case TIMER_PRINTQUEUE:
        ProcessEvent(8820, 0, nullptr);
        return true;
    case TIMER_SECOND:
        ProcessEvent(8825, 0, nullptr);
        return true;
    case TIMER_STAMP:
        LOGIF(15, "APP::OnTimer set global high-frequency timer\n");
        TimeStamp = OSYS::RelTime();
        return true;
    case TIMER_NORUN: {
        StopTimer(TIMER_NORUN);
        QOR* qor = QOR::GetInstance();
        if (qor && qor->WindowCount() > 1)
            DARWINDOW::DeliverMessage(false, nullptr, nullptr, APPLICATION_MESSAGE, QOREVENT_CLOSEWINDOW,
                                      reinterpret_cast<MSGWORD>(this), 0);
        else
            EndEventLoop();
        return true;
    }
    case TIMER_ASSERT:
        AssertMsg(0, "FALSE", __FILE__, __LINE__);
        return false;
    default:
        return false;
    }
}

bool APP::OnUserMessage(int msg, MSGWORD p1, MSGWORD p2)
{
    switch (msg) {
    case MSG_TABSBAR:
        HandleTabsbarEvent(p1, p2);
        return true;
    case MSG_STATUSLINE:
        AssertMsg(0, "FALSE", __FILE__, __LINE__);
        return true;
    case MSG_TRACKCHANGES: {
        CURRENTSESSIONPTR session(*this);
        if (session)
            session->TrackChanges(false);
        return true;
    }
    case MSG_DOSIZING:
        LOGIT("APP::OnUserMessage MSG__DOSIZING\n");
        if (p1)
            LastCx = -1;
        OnSized();
        LOGIT("APP::OnUserMessage MSG__DOSIZING done\n");
        return true;
    case MSG_SHADOW: {
        CURRENTSESSIONPTR session(*this);
        if (session && session->Prof.data.Transparency > 0)
            RefreshTransparencyBackdrop();
        RefreshPending = false;
        return false;
    }
    case MSG_TOFRONT:
        BringToForeground();
        WINDOW::Activate();
        return false;
    case MSG_SETFOCUS: {
        CURRENTSESSIONPTR session(*this);
        if (session && !Closing)
            session->SetFocus();
        return true;
    }
    case MSG_TITLE:
        SetWindowTitle(nullptr);
        return true;
    case MSG_EVENT:
        DoCommand(static_cast<unsigned long>(p1 & 0xFFFF), static_cast<unsigned long>((p1 >> 16) & 0xFFFF), p2);
        return true;
    case MSG_STARTUPDONE:
    case MSG_NOTHING:
        return true;
    case MSG_MENUREBUILD:
        VASSERT(p1 == 0, "mp1==0", nullptr);
        MakeMenu(false);
        return true;
    case static_cast<int>(WM_APPFUNCTION):
        if (p1)
            reinterpret_cast<APPFUNCTION*>(p1)->Call();
        return true;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// The tab bar's notifications

int APP::HandleTabsbarEvent(MSGWORD code, MSGWORD param)
{
    switch (code) {
    case TABS::NOTIFY_ACTIVATED:
        SwitchSession(static_cast<int>(param));
        return 1;
    case TABS::NOTIFY_CLOSEICON:
        CloseOneSession(static_cast<int>(param));
        return 1;
    case 2:
        CloseOneSession(FindSessionIdx(reinterpret_cast<SESSION*>(param)));
        return 1;
    case 3: {
        MUTEXLOCK lock(SessionLock);
        for (int i = NumSessions - 1; i >= 0; --i) {
            SESSION* s = SessionTable[static_cast<size_t>(i)].Get();
            int const online = s->CommLayer.Device() ? s->CommLayer.QueryOnline() : 0;
            if (online == 0 && NumSessions > 1)
                HandleTabsbarEvent(2, reinterpret_cast<MSGWORD>(s));
        }
        return 1;
    }
    case TABS::NOTIFY_DRAGGED:
        DragSession(static_cast<int>(param & 0xFFFF), static_cast<int>((param >> 16) & 0xFFFF));
        return 1;
    case TABS::NOTIFY_RIGHTCLICK:
        TabContextMenu(static_cast<int16_t>(param & 0xFFFF), static_cast<int16_t>((param >> 16) & 0xFFFF));
        return 1;
    case TABS::NOTIFY_THUMBNAILS:
        ProcessEvent(8440, 1, nullptr);
        return 1;
    case TABS::NOTIFY_DOUBLECLICK:
        ProcessEvent(8421, 1, nullptr);
        return 1;
    default:
        AssertMsg(0, "FALSE", __FILE__, __LINE__);
        return 0;
    }
}

void APP::CloseOneSession(int idx)
{
    MUTEXLOCK lock(SessionLock);
    if (idx >= 0 && idx < NumSessions && NumSessions > 1) {
        CURRENTSESSIONPTR session(SessionTable[static_cast<size_t>(idx)].Get());
        if (!session->CanQuit(nullptr))
            return;
        // The question may have closed tabs meanwhile.
        int const now = FindSessionIdx(session.Get());
        if (now >= 0)
            CloseSession(now);
        return;
    }
    PostEvent(8899, 0, nullptr);
}

void APP::TabContextMenu(int x, int y)
{
    if (!pTabsbar)
        return;
    int const tab = pTabsbar->FindButton(x, y, false);
    MENU menu("IDM_TABSMENU");
    if (!menu.GetMenuRef())
        return;
    if (tab >= 0) {
        MENU colours(menu.GetSubmenuFromPos(2));
        if (VCHECK(colours.GetMenuRef() != nullptr, "colormenu.IsValid()", nullptr)) {
            colours.DeleteMenuItem(kColourMenuBase, false);
            STRING names = OSYS::GetStringFromResource("IDS_SESSIONCOLORS");
            int const n = names.NumTokens("|");
            for (int i = 0; i < n && i <= 16; ++i) {
                colours.InsertItem(names.Token(i, "|").Buf(), kColourMenuBase + i, i);
                if (plat::IconRef icon = ICONMAP::CopyRefFromIconId(static_cast<uint32_t>(kColourIconBase + i % 12))) {
                    colours.SetMenuItemIcon(kColourMenuBase + i, icon);
                    plat::ReleaseIconRef(icon);
                }
            }
        }
        if (tab == pTabsbar->ActiveIndex()) {
            menu.InsertItem(nullptr, 0, menu.GetNumMenuItems());
            for (int id : {8381, 8383, 8382}) {
                char text[256] = {};
                STRING item = MainMenu.GetMenuRef() ? MainMenu.GetMenuItemText(static_cast<uint32_t>(id), false) : STRING();
                snprintf(text, sizeof text, "%s", item.Buf());
                if (char* tabChar = strchr(text, '\t'))
                    *tabChar = 0;
                if (text[0])
                    menu.InsertItem(text, id, menu.GetNumMenuItems());
            }
        }
    } else {
        menu.DeleteMenuItem(2, true);
        menu.DeleteMenuItem(1, true);
        menu.DeleteMenuItem(0, true);
        STRING extra = OSYS::GetStringFromResource("IDS_TABSEXTRAMENUENTRIES");
        STRING newTab = MainMenu.GetMenuRef() ? MainMenu.GetMenuItemText(8421, false) : STRING();
        if (newTab.IsEmpty())
            newTab = OSYS::GetStringFromResource("IDS_NEWTAB");
        menu.InsertItem(newTab.Buf(), 8421, 0);
        menu.InsertItem(extra.Token(0, "|").Buf(), 8426, 1);
        menu.InsertItem(extra.Token(1, "|").Buf(), 8425, 2);
    }
    int const choice = menu.Popup(GetWindow(), nullptr, 1);
    if (choice == 0)
        return;
    if (choice == kRenameTab && tab >= 0) {
        wchar_t buffer[257] = {};
        wcsncpy(buffer, pTabsbar->GetNameWide(tab).Buf(), 256);
        if (AskWide(OSYS::GetWideStringFromResource("IDS_TABRENAMETITLE").Buf(),
                    OSYS::GetWideStringFromResource("IDS_TABRENAMETEXT").Buf(), buffer, 257, 0, nullptr) &&
            buffer[0]) {
            // The tab may have moved while the question was open.
            int const now = tab < pTabsbar->NumButtons() ? tab : -1;
            if (now >= 0)
                pTabsbar->RenameButtonWide(now, buffer);
        }
    } else if (choice >= kColourMenuBase && choice <= kColourMenuBase + 16 && tab >= 0) {
        pTabsbar->SetButtonColorCode(tab, choice - kColourMenuBase);
        TrackChanges(false, 0, 0);
    } else {
        CondEvent(choice);
    }
}
