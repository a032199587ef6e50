#include "program/shell/tabs.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winfont.h"
#include "velmot/gui/winicons.h"
#include "velmot/gui/winkeys.h"
#include "velmot/gui/winmenu.h"

#include "platform/draw/icons.h"

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <map>

namespace {

// Hue, saturation and brightness (percent) of the tab colours.
struct HSB {
    int Hue, Sat, Bright;
};
HSB const kColours[12] = {
    {185, 90, 60}, {120, 90, 60}, {224, 90, 66}, {220, 90, 90}, {50, 90, 80}, {10, 90, 60},
    {275, 90, 66}, {0, 0, 25},    {29, 100, 100}, {270, 50, 100}, {340, 70, 120}, {0, 0, 125},
};
// The cycle of automatic colours.
int const kCycle[8] = {3, 5, 1, 6, 4, 2, 0, 7};

constexpr COLORREF kBlack = 0x000000;
constexpr COLORREF kWhite = 0xFFFFFF;
constexpr COLORREF kRed = 0x0000FF;

COLORREF Blend(COLORREF a, COLORREF b, int percent)
{
    return OSYS::CalcColorBlend(a, b, percent);
}

COLORREF Sys(int index)
{
    return OSYS::GetSysColor(index);
}

// The images of the bar's icons, loaded once.
plat::Image const* IconImage(int id)
{
    static std::map<int, std::unique_ptr<plat::Image>> images;
    auto it = images.find(id);
    if (it == images.end()) {
        std::unique_ptr<plat::Image> image;
        if (plat::IconRef icon = ICONMAP::CopyRefFromIconId(static_cast<uint32_t>(id))) {
            image = std::make_unique<plat::Image>(plat::IconImage(icon));
            plat::ReleaseIconRef(icon);
        }
        it = images.emplace(id, std::move(image)).first;
    }
    return it->second.get();
}

} // namespace

long long (*TABS::Now)() = [] { return OSYS::RelTime(); };

TABS::TABS(WINDOW const& owner, int width, int notifyMessage)
    : CHILDWINDOW(owner.GetClientParent(), ID, 0, 0, std::max(width, 1), 1, 0, "QorTabs"), Owner(owner.GetWindow()),
      Lock(0, nullptr), NotifyMessage(notifyMessage)
{
    LOGIT("TABS::TABS\n");
    Tabs.resize(CAPACITY);
    Tips = std::make_unique<TOOLTIPS>(AsParent());
    WINDC dc(nullptr, RECT{}, false);
    Font = dc.LoadFont("8B.Helv", 1252);
    if (Font) {
        dc.SelectFont(Font);
        int w = 0, h = 0, descent = 0;
        dc.GetFontSize(&w, &h, &descent);
        if (h > 0)
            FontHeight = h;
        dc.DeselectFont(Font);
    }
    Size(std::max(width, 1), FontHeight + 16);
    StartTimer(TIMER_BLINK, 500);
    LOGIT("TABS::TABS done\n");
}

TABS::~TABS()
{
    if (Captured)
        SetMouseCapture(false);
    if (Font) {
        WINDC dc(nullptr, RECT{}, false);
        dc.DestroyFont(Font);
    }
}

bool TABS::Valid(int idx, bool allowEnd) const
{
    bool const ok = idx >= 0 && (allowEnd ? idx <= Count : idx < Count);
    if (!ok)
        AssertMsg(0, allowEnd ? "idx>=0 && idx<=this->NumButtons" : "idx>=0 && idx<this->NumButtons", __FILE__,
                  __LINE__);
    return ok;
}

// ---------------------------------------------------------------------------
// Notifications: sent or posted once the lock is released

void TABS::Notify(int code, MSGWORD param, bool post)
{
    Pending.push_back(NOTICE{code, param, post});
}

void TABS::FlushNotices()
{
    if (Lock.LockCount() > 0 && Lock.OwnerThread() == OSYS::GetCurrentThreadId())
        return; // an outer operation of this thread sends them
    std::vector<NOTICE> notices;
    notices.swap(Pending);
    for (NOTICE const& n : notices) {
        if (n.Post)
            Owner.PostUserMessage(NotifyMessage, static_cast<MSGWORD>(n.Code), n.Param);
        else
            Owner.SendUserMessage(NotifyMessage, static_cast<MSGWORD>(n.Code), n.Param);
    }
}

// ---------------------------------------------------------------------------
// The table

int TABS::AddButton(char const* name, void* userdata, int colour, bool activate)
{
    WSTRING wide(name ? name : "", UNICODE_CPSYSTEM);
    return AddButtonWide(wide.Buf(), userdata, colour, activate);
}

int TABS::AddButtonWide(wchar_t const* name, void* userdata, int colour, bool activate)
{
    LOGIT("TABS::AddButton text= %ls, userdata= %p\n", name ? name : L"", userdata);
    int rc = -1;
    {
        MUTEXLOCK lock(Lock);
        if (Count < CAPACITY) {
            TABS_TABINFO& t = Tabs[static_cast<size_t>(Count)];
            t = TABS_TABINFO{};
            t.Name = WSTRING(name ? name : L"");
            t.UserData = userdata;
            if (colour == -1) {
                t.ColourCode = kCycle[ColourCounter++ % 8];
            } else {
                t.ColourCode = colour;
                t.Flags |= TABS_TABINFO::EXPLICITCOLOUR;
            }
            rc = Count++;
            if (activate) {
                if (!ScrollRight.Shown())
                    RightSuppressed = true;
                Activate(rc);
            }
            Invalidate(nullptr);
        }
    }
    FlushNotices();
    LOGIT("TABS::AddButton done, rc= %d\n", rc);
    return rc;
}

void TABS::CompactButtonTable()
{
    int kept = 0;
    int newActive = -1;
    for (int i = 0; i < Count; ++i) {
        TABS_TABINFO& t = Tabs[static_cast<size_t>(i)];
        if (t.Flags & TABS_TABINFO::DELETED)
            continue;
        if (i == Active)
            newActive = kept;
        if (kept != i)
            Tabs[static_cast<size_t>(kept)] = t;
        ++kept;
    }
    // The records behind the last one are emptied: no stale user data
    // stays behind the table's end.
    for (int i = kept; i < Count; ++i)
        Tabs[static_cast<size_t>(i)] = TABS_TABINFO{};
    if (Active >= 0 && newActive == -1) {
        // The active tab went: the index stays where it was, within the
        // table, until the owner activates another.
        newActive = std::min(Active, kept - 1);
    }
    Active = newActive;
    Count = kept;
}

int TABS::DeleteButton(int idx)
{
    LOGIT("TABS::DeleteButton idx= %d\n", idx);
    int rc = 0;
    {
        MUTEXLOCK lock(Lock);
        if (!Valid(idx, true) || idx == Count)
            return Count;
        StopTimer(static_cast<uint32_t>(TIMER_TRAFFIC + idx));
        Tabs[static_cast<size_t>(idx)].Flags |= TABS_TABINFO::DELETED;
        CompactButtonTable();
        NeedsScrollToActive = 1;
        Invalidate(nullptr);
        rc = Count;
    }
    FlushNotices();
    LOGIT("TABS::DeleteButton done, rc= %d\n", rc);
    return rc;
}

int TABS::DragButton(int from, int to)
{
    MUTEXLOCK lock(Lock);
    if (!VCHECK(from >= 0 && from < Count, "idxfrom<this->NumButtons", nullptr) ||
        !VCHECK(to >= 0 && to < Count, "idxto<this->NumButtons", nullptr))
        return 0;
    auto first = Tabs.begin();
    if (from < to)
        std::rotate(first + from, first + from + 1, first + to + 1);
    else if (from > to)
        std::rotate(first + to, first + from, first + from + 1);
    // The active tab follows its record.
    if (Active == from)
        Active = to;
    else if (from < to && Active > from && Active <= to)
        --Active;
    else if (from > to && Active >= to && Active < from)
        ++Active;
    Invalidate(nullptr);
    return 1;
}

int TABS::RenameButton(int idx, char const* name)
{
    WSTRING wide(name ? name : "", UNICODE_CPSYSTEM);
    return RenameButtonWide(idx, wide.Buf());
}

int TABS::RenameButtonWide(int idx, wchar_t const* name)
{
    MUTEXLOCK lock(Lock);
    if (!Valid(idx, true) || idx == Count)
        return -1;
    TABS_TABINFO& t = Tabs[static_cast<size_t>(idx)];
    t.Name = WSTRING(name ? name : L"");
    t.TitleWidth = -1;
    Invalidate(nullptr);
    return idx;
}

STRING TABS::GetName(int idx)
{
    return STRING(GetNameWide(idx).Buf(), UNICODE_CPSYSTEM);
}

WSTRING TABS::GetNameWide(int idx)
{
    MUTEXLOCK lock(Lock);
    if (idx < 0 || idx >= Count)
        return WSTRING();
    return Tabs[static_cast<size_t>(idx)].Name;
}

void* TABS::GetUserdata(int idx)
{
    MUTEXLOCK lock(Lock);
    if (idx < 0 || idx >= CAPACITY)
        return reinterpret_cast<void*>(~uintptr_t{0});
    // Behind the table's end there is no tab: no pointer of a deleted one.
    return idx < Count ? Tabs[static_cast<size_t>(idx)].UserData : nullptr;
}

int TABS::FindButton(void* userdata)
{
    MUTEXLOCK lock(Lock);
    for (int i = 0; i < Count; ++i) {
        if (Tabs[static_cast<size_t>(i)].UserData == userdata)
            return i;
    }
    return -1;
}

int TABS::FindButton(wchar_t const* name)
{
    MUTEXLOCK lock(Lock);
    for (int i = 0; name && i < Count; ++i) {
        if (wcscasecmp(Tabs[static_cast<size_t>(i)].Name.Buf(), name) == 0)
            return i;
    }
    return -1;
}

int TABS::FindButton(int x, int y, bool forDrawing)
{
    MUTEXLOCK lock(Lock);
    int const width = CONTROL::GetSize().cx;
    int const leftLimit = LeftLimit();
    if (!forDrawing && (x < leftLimit || (ScrollRight.Shown() && x >= ScrollRight.Rect.left)))
        return -1;
    for (int i = 0; i < Count; ++i) {
        TABS_TABINFO const& t = Tabs[static_cast<size_t>(i)];
        int left = t.Tab.left;
        int right = t.Tab.right;
        if (forDrawing) {
            if (i == Count - 1)
                right += 32;
        } else if (t.Flags & TABS_TABINFO::CLIPPED) {
            left = std::max(left, leftLimit);
            right = std::min(right, width - (AnyClipped ? 40 : 24));
        }
        if (x >= left && x < right && y >= t.Tab.top && y < t.Tab.bottom)
            return i;
    }
    return -1;
}

// ---------------------------------------------------------------------------
// Colours and state

COLORREF TABS::CodeColour(int code, bool active)
{
    HSB const& c = kColours[((code % 12) + 12) % 12];
    double const sat = c.Sat / 100.0 * (active ? 1.0 : 0.6);
    double const bright = std::min(c.Bright / 100.0 * (active ? 1.4 : 1.6), 2.0);
    return OSYS::ColorHSBtoRGB(c.Hue, std::min(sat, 1.0), bright, 0);
}

int TABS::SetButtonColorCode(int idx, int code)
{
    LOGIT("TABS::SetButtonColorCode idx= %d, color= %d\n", idx, code);
    MUTEXLOCK lock(Lock);
    int ok = 0;
    if (Valid(idx, false)) {
        TABS_TABINFO& t = Tabs[static_cast<size_t>(idx)];
        t.ColourCode = code;
        t.Flags |= TABS_TABINFO::EXPLICITCOLOUR;
        Invalidate(nullptr);
        ok = 1;
    }
    LOGIT("TABS::SetButtonColorCode done, ok= %d\n", ok);
    return ok;
}

int TABS::GetButtonColorCode(int idx)
{
    MUTEXLOCK lock(Lock);
    return idx >= 0 && idx < Count ? Tabs[static_cast<size_t>(idx)].ColourCode : -1;
}

COLORREF TABS::GetButtonColorcodeRGB(int idx, bool active, bool* explicitColour)
{
    MUTEXLOCK lock(Lock);
    if (idx < 0 || idx >= Count)
        return 0xFFFFFFFF;
    TABS_TABINFO const& t = Tabs[static_cast<size_t>(idx)];
    if (explicitColour)
        *explicitColour = (t.Flags & TABS_TABINFO::EXPLICITCOLOUR) != 0;
    return CodeColour(t.ColourCode, active);
}

int TABS::SetButtonTraffic(int idx, int state, int amount)
{
    LOGIF(8, "TABS::SetButtonTraffic idx= %d, state= %d\n", idx, state);
    MUTEXLOCK lock(Lock);
    if (!Valid(idx, false))
        return 0;
    TABS_TABINFO& t = Tabs[static_cast<size_t>(idx)];
    if (state == 0) {
        t.TrafficCount = 0;
        InvalidateButton(t);
        return 1;
    }
    bool const running = t.TrafficCount != 0;
    if (running) {
        if (amount == -1)
            return 1;
        t.TrafficCount = std::min(t.TrafficCount + amount, 1 << 20);
    } else {
        t.TrafficCount = amount < 0 ? 1 : amount + 1;
    }
    bool const full = running && t.TrafficCount >= t.TrafficMax && (t.Flags & TABS_TABINFO::TRAFFICLIT);
    if (!full) {
        t.Flags |= TABS_TABINFO::TRAFFICLIT;
        InvalidateButton(t);
    }
    if (idx < 100)
        StartTimer(static_cast<uint32_t>(TIMER_TRAFFIC + idx), 250);
    LOGIF(8, "TABS::SetButtonTraffic done, ok= %d\n", 1);
    return 1;
}

int TABS::SetButtonOnline(int idx, int state)
{
    LOGIT("TABS::SetButtonOnline idx= %d, state= %d\n", idx, state);
    MUTEXLOCK lock(Lock);
    if (!Valid(idx, false))
        return 0;
    TABS_TABINFO& t = Tabs[static_cast<size_t>(idx)];
    if (state) {
        t.Flags |= TABS_TABINFO::ONLINE | TABS_TABINFO::WASONLINE;
    } else {
        t.Flags &= ~TABS_TABINFO::ONLINE;
    }
    InvalidateButton(t);
    LOGIT("TABS::SetButtonOnline done, ok= %d\n", 1);
    return 1;
}

int TABS::SetButtonClosing(int idx, int state)
{
    LOGIT("TABS::SetButtonClosing idx= %d, state= %d\n", idx, state);
    MUTEXLOCK lock(Lock);
    if (!Valid(idx, false))
        return 0;
    TABS_TABINFO& t = Tabs[static_cast<size_t>(idx)];
    if (state)
        t.Flags |= TABS_TABINFO::CLOSING;
    else
        t.Flags &= ~TABS_TABINFO::CLOSING;
    InvalidateButton(t);
    LOGIT("TABS::SetButtonClosing done, ok= %d\n", 1);
    return 1;
}

int TABS::SetButtonBlinking(int idx, int state)
{
    LOGIT("TABS::SetButtonBlinking idx= %d, state= %d\n", idx, state);
    MUTEXLOCK lock(Lock);
    if (!Valid(idx, false))
        return 0;
    TABS_TABINFO& t = Tabs[static_cast<size_t>(idx)];
    if (state == 0) {
        if (t.Flags & TABS_TABINFO::HIGHLIGHT) {
            t.Flags &= ~TABS_TABINFO::HIGHLIGHT;
            InvalidateButton(t);
        }
    } else {
        t.Flags |= TABS_TABINFO::HIGHLIGHT;
    }
    LOGIT("TABS::SetButtonBlinking done, ok= %d\n", 1);
    return 1;
}

int TABS::Activate(int idx)
{
    LOGIT("TABS::Activate idx= %d\n", idx);
    {
        MUTEXLOCK lock(Lock);
        if (!Valid(idx, false))
            return -1;
        TABS_TABINFO& t = Tabs[static_cast<size_t>(idx)];
        t.Flags &= ~TABS_TABINFO::HIGHLIGHT;
        t.TrafficCount = 0;
        Active = idx;
        NoneActiveFlag = false;
        Notify(NOTIFY_ACTIVATED, static_cast<MSGWORD>(idx), false);
        Invalidate(nullptr);
        NeedsScrollToActive = 1;
    }
    FlushNotices();
    LOGIT("TABS::Activate done, idx= %d\n", idx);
    return idx;
}

int TABS::ShowTabs(bool show, int* heightDelta)
{
    LOGIT("TABS::ShowTabs show= %d\n", show ? 1 : 0);
    MUTEXLOCK lock(Lock);
    int rc = 0;
    int const wanted = show ? 1 : 0;
    if (Visibility != wanted) {
        int const before = Visibility == 1 ? FontHeight + 16 : 0;
        Visibility = wanted;
        int const after = show ? FontHeight + 16 : 0;
        SIZE const s = CONTROL::GetSize();
        Size(s.cx, std::max(after, 1));
        Show(show);
        if (heightDelta)
            *heightDelta = after - before;
        rc = 1;
    }
    LOGIT("TABS::ShowTabs done, rc= %d, *pdelta= %d\n", rc, heightDelta ? *heightDelta : 0);
    return rc;
}

int TABS::QuerySizeY()
{
    MUTEXLOCK lock(Lock);
    return Visibility == 1 ? FontHeight + 16 : 0;
}

int TABS::ProcessKey(KEYBOARDEVENT const& key)
{
    if ((key.Modifiers & ~KEYMOD_CAPSLOCK) != KEYMOD_COMMAND)
        return 0;
    int const scan = key.Scancode;
    if (scan < 2 || scan > 10)
        return 0;
    int const idx = scan - 2;
    if (idx < NumButtons())
        Activate(idx);
    return 1;
}

void TABS::CancelTooltips()
{
    MUTEXLOCK lock(Lock);
    for (int i = 0; i < Count; ++i)
        Tabs[static_cast<size_t>(i)].Flags &= ~TABS_TABINFO::HOVER;
    Dragging = false;
    ButtonDownOnTab = false;
    Thumbs.Hover = false;
    TabList.Hover = false;
    if (Captured) {
        SetMouseCapture(false);
        Captured = false;
    }
    Invalidate(nullptr);
}

void TABS::InvalidateButton(TABS_TABINFO const& tab)
{
    RECT r = tab.Tab;
    r.right += 1;
    if (r.right > r.left)
        Invalidate(&r);
    else
        Invalidate(nullptr);
}

bool TABS::IsForeground() const
{
    if (ForegroundOverride != -1)
        return ForegroundOverride != 0;
    return Owner.IsForegroundWindow();
}

COLORREF TABS::GetLineColor()
{
    return Blend(Sys(16), Sys(15), IsForeground() ? 0 : 50);
}

void TABS::GetTabsBackgroundColors(bool foreground, COLORREF* top, COLORREF* bottom)
{
    if (top)
        *top = Blend(Sys(15), Sys(16), foreground ? 60 : 25);
    if (bottom)
        *bottom = Blend(Sys(15), Sys(16), foreground ? 40 : 18);
}

TABS_TABINFO TABS::Info(int idx)
{
    MUTEXLOCK lock(Lock);
    return idx >= 0 && idx < Count ? Tabs[static_cast<size_t>(idx)] : TABS_TABINFO{};
}

void TABS::SetColorOverlay(int percent)
{
    MUTEXLOCK lock(Lock);
    if (Overlay != percent) {
        Overlay = percent;
        Invalidate(nullptr);
    }
}

void TABS::SetCloseIconMode(int mode)
{
    MUTEXLOCK lock(Lock);
    if (CloseIconMode != mode) {
        CloseIconMode = mode;
        Invalidate(nullptr);
    }
}

void TABS::SetNoneActive(bool on)
{
    MUTEXLOCK lock(Lock);
    NoneActiveFlag = on;
    Invalidate(nullptr);
}

// ---------------------------------------------------------------------------
// Layout and scrolling

void TABS::ScrollToActive(int width)
{
    if (!NeedsScrollToActive || Active < 0 || Active >= Count || AutoScrollSuppressed || Dragging)
        return;
    NeedsScrollToActive = 0;
    TABS_TABINFO const& t = Tabs[static_cast<size_t>(Active)];
    // The rectangles are unshifted here.
    int const visible = width - 40;
    int const limit = Offset != 0 ? 20 : 0;
    int target = Offset;
    if (t.Tab.right - Offset > visible)
        target = t.Tab.right + 16 - visible;
    else if (t.Tab.left < Offset + limit)
        target = t.Tab.left == 0 ? 0 : t.Tab.left - limit - 16;
    target = std::max(target, 0);
    if (target != Offset)
        StartAnimation(target, true);
}

void TABS::Layout(int width, int height)
{
    int x = 0;
    for (int i = 0; i < Count; ++i) {
        TABS_TABINFO& t = Tabs[static_cast<size_t>(i)];
        t.Tab = RECT{x, 3, x + std::max(t.TitleWidth, 0) + 52, height - 3};
        x = t.Tab.right;
    }
    ScrollToActive(width);
    int const leftLimit = LeftLimit();
    for (int i = 0; i < Count; ++i) {
        TABS_TABINFO& t = Tabs[static_cast<size_t>(i)];
        t.Tab.left -= Offset;
        t.Tab.right -= Offset;
        bool const clipped = t.Tab.left < leftLimit || t.Tab.right > width - 40;
        if (clipped)
            t.Flags |= TABS_TABINFO::CLIPPED;
        else
            t.Flags &= ~TABS_TABINFO::CLIPPED;
    }
}

void TABS::StartAnimation(int target, bool smooth)
{
    AnimFrom = Offset;
    AnimTo = target;
    AnimSmooth = smooth;
    AnimStart = std::max<long long>(Now(), 1);
    AnimDuration = std::max(std::abs(target - Offset) * 100 / 80, 1);
    StartTimer(TIMER_ANIMATION, 10);
}

void TABS::AnimationTick()
{
    if (AnimStart == 0) {
        StopTimer(TIMER_ANIMATION);
        return;
    }
    double x = static_cast<double>(Now() - AnimStart) / AnimDuration;
    if (x >= 1) {
        RightSuppressed = false;
        x = 1;
    }
    int const before = Offset;
    if (AnimSmooth)
        Offset = AnimFrom + static_cast<int>((AnimTo - AnimFrom) * (0.5 + std::sin((x - 0.5) * 3.1415) * 0.5));
    else
        Offset = AnimFrom + static_cast<int>((AnimTo - AnimFrom) * x);
    if (x >= 1)
        Offset = AnimTo;
    if (Dragging)
        DownPos.x -= Offset - before;
    if (x >= 1) {
        StopTimer(TIMER_ANIMATION);
        AnimStart = 0;
    }
    Invalidate(nullptr);
}

// ---------------------------------------------------------------------------
// Painting

void TABS::DrawIcon(WINDC& dc, int id, int x, int y)
{
    if (plat::Image const* image = IconImage(id))
        dc.DrawIcon(image, x, y, 16, 16);
}

void TABS::DrawBaseline(WINDC& dc, RECT const& r, int idx, bool foreground)
{
    if (r.right <= r.left)
        return;
    COLORREF const line = GetLineColor();
    dc.Line(r.left, r.bottom - 3, r.right, r.bottom - 3, line);
    if (foreground) {
        uint32_t const alphas[4] = {240, 243, 246, 249};
        for (int i = 0; i < 4; ++i)
            dc.Line(r.left, r.bottom - 4 - i, r.right, r.bottom - 4 - i, kBlack | (alphas[i] << 24));
    }
    RECT band{r.left, r.bottom - 2, r.right, r.bottom};
    COLORREF fill = Blend(Sys(22), Sys(15), 70);
    if (idx != -1 && Overlay > 0)
        fill = Blend(fill, CodeColour(Tabs[static_cast<size_t>(idx)].ColourCode, true), Overlay);
    dc.FillRect(&band, fill);
}

void TABS::DrawTab(WINDC& dc, int idx, bool foreground, int dragX)
{
    TABS_TABINFO& t = Tabs[static_cast<size_t>(idx)];
    bool const active = idx == Active && !NoneActiveFlag;
    bool const hover = (t.Flags & TABS_TABINFO::HOVER) != 0;
    RECT r = t.Tab;
    if (Dragging && idx == FindButton(DownPos.x, DownPos.y, true)) {
        r.left += dragX;
        r.right += dragX;
    }
    if (!active)
        r.top += 1;
    COLORREF barTop = 0, barBottom = 0;
    GetTabsBackgroundColors(foreground, &barTop, &barBottom);
    COLORREF text = Blend(barTop, kBlack, active ? 100 : 75);
    COLORREF top, bottom;
    int const dropTarget = Dragging ? FindButton(DragPos.x, DownPos.y, true) : -1;
    if (active) {
        top = Blend(Sys(22), Sys(15), 50);
        bottom = Blend(Sys(22), Sys(15), 70);
    } else if (Dragging && idx == dropTarget) {
        top = Blend(Sys(16), Sys(15), 80);
        bottom = Sys(15);
    } else if (hover) {
        top = Blend(Sys(22), Sys(15), 60);
        bottom = Sys(15);
    } else {
        top = bottom = Blend(barTop, Sys(15), 40);
    }
    COLORREF const tabColour = CodeColour(t.ColourCode, active);
    if (Overlay > 0) {
        top = Blend(top, tabColour, Overlay / 2);
        bottom = Blend(bottom, tabColour, Overlay);
    }
    RECT body{r.left, r.top, r.right, active ? r.bottom + 3 : r.bottom};
    if (foreground) {
        RECT shadow = body;
        if (!active)
            shadow.bottom = std::min(shadow.bottom, r.bottom);
        dc.DrawShadowRect(shadow, 0x000000 | (200u << 24), 3, 0, 1);
    }
    // The tab's outline: rounded at the top, open at the bottom.
    POINT const outline[] = {{body.left, body.bottom}, {body.left, body.top + 2}, {body.left + 2, body.top},
                             {body.right - 3, body.top}, {body.right - 1, body.top + 2}, {body.right - 1, body.bottom}};
    if (t.Flags & TABS_TABINFO::HIGHLIGHT) {
        dc.DrawPolygon(outline, 6, WINDC_NOCOLOR, Sys(22));
    } else if (top == bottom) {
        dc.DrawPolygon(outline, 6, WINDC_NOCOLOR, top);
    } else {
        RECT fill{body.left + 1, body.top + 1, body.right - 1, body.bottom};
        dc.FillRectGradient(&fill, top, bottom, true);
    }
    COLORREF const line = GetLineColor();
    for (size_t i = 0; i + 1 < std::size(outline); ++i)
        dc.Line(outline[i].x, outline[i].y, outline[i + 1].x, outline[i + 1].y, line);
    if (t.Flags & TABS_TABINFO::CLOSING)
        text = Blend(text, top, 66);

    // Title block: the lamp and the name.
    int const x = r.left + 8;
    int const y = r.top + 5;
    RECT lamp{x + 2, y + FontHeight - 11, x + 10, y + FontHeight - 1};
    COLORREF lampColour = tabColour;
    bool const online = (t.Flags & TABS_TABINFO::ONLINE) != 0;
    if (!online) {
        if (!active && (t.Flags & TABS_TABINFO::WASONLINE)) {
            lampColour = Blend(lampColour, bottom, 90);
            text = Blend(text, bottom, 60);
        } else {
            lampColour = Blend(lampColour, bottom, 50);
        }
    }
    if (online) {
        RECT upper{lamp.left, lamp.top, lamp.right, lamp.top + (lamp.bottom - lamp.top) / 3};
        RECT lower{lamp.left, upper.bottom, lamp.right, lamp.bottom};
        dc.FillRectGradient(&upper, Blend(lampColour, kWhite, 50), Blend(lampColour, kWhite, 40), true);
        dc.FillRectGradient(&lower, lampColour, Blend(lampColour, kBlack, 25), true);
    } else {
        dc.FillRect(&lamp, lampColour);
    }
    dc.DrawRect(lamp, Blend(lampColour, kBlack, 33), WINDC_NOCOLOR);
    dc.TextAlign = WINDC_TA_LEFT;
    dc.TextColor = text;
    dc.StringOutW(x + 16, y + 1, t.Name.Buf());

    // Traffic dashes.
    if (t.TrafficCount != 0) {
        t.TrafficMax = std::max((r.right - 24 - x) / 3, 0);
        int const n = std::min(t.TrafficCount, t.TrafficMax);
        COLORREF const dash = (t.Flags & TABS_TABINFO::TRAFFICLIT) ? kRed : text;
        int const dy = r.top + FontHeight + 6;
        for (int i = 0; i < n; ++i) {
            RECT d{x + i * 3, dy, x + i * 3 + 2, dy + 1};
            dc.FillRect(&d, dash);
        }
    }

    // The close icon.
    bool shown = false;
    if (!t.Close.right || t.Close.right <= t.Close.left) {
        shown = false;
    } else {
        switch (CloseIconMode) {
        case 0:
            shown = hover;
            break;
        case 1:
            shown = true;
            break;
        case 2:
            shown = active && hover;
            break;
        case 3:
            shown = active;
            break;
        default:
            shown = false;
        }
    }
    if (shown) {
        int icon = (t.Flags & TABS_TABINFO::HOVER) && (t.Flags & TABS_TABINFO::HOVERCLOSE) ? ICON_CLOSEHOVER
                   : active                                                              ? ICON_CLOSEACTIVE
                                                                                         : ICON_CLOSE;
        DrawIcon(dc, icon, t.Close.left + 2 + (r.left - t.Tab.left), t.Close.top + 1 + (active ? 0 : 1));
    }
    if (active) {
        int const height = CONTROL::GetSize().cy;
        DrawBaseline(dc, RECT{0, 0, r.left, height}, idx, foreground);
        DrawBaseline(dc, RECT{r.right, 0, CONTROL::GetSize().cx, height}, idx, foreground);
    }
}

int TABS::OnPaint()
{
    TARVOAPP::CheckCallerThread("TABS::OnPaint");
    if (InPaintFlag)
        return 0;
    PAINTSTRUCT ps;
    if (!StartPaint(&ps))
        return 0;
    if (ps.rcPaint.right <= ps.rcPaint.left || ps.rcPaint.bottom <= ps.rcPaint.top) {
        EndPaint(&ps);
        return -2;
    }
    LOGIF(8, "TABS::OnPaint updaterect = %d %d %d %d (inpaint= %d)\n", ps.rcPaint.left, ps.rcPaint.top,
          ps.rcPaint.right, ps.rcPaint.bottom, InPaintFlag ? 1 : 0);
    InPaintFlag = true;
    MUTEXLOCK lock(Lock);
    SIZE const size = CONTROL::GetSize();
    int const width = size.cx;
    int const height = size.cy;
    RECT const all{0, 0, width, height};
    // The platform paints the view double-buffered: the bar is drawn in
    // place, the whole of it every time.
    WINDC dc(ps.hdc, all, false);
    if (Font)
        dc.SelectFont(Font);
    int fw = 0, fh = 0, descent = 0;
    dc.GetFontSize(&fw, &fh, &descent);
    if (fh > 0)
        FontHeight = fh;
    bool const fg = IsForeground();
    COLORREF top = 0, bottom = 0;
    GetTabsBackgroundColors(fg, &top, &bottom);
    dc.FillRectGradient(&all, top, bottom, true);

    for (int i = 0; i < Count; ++i) {
        TABS_TABINFO& t = Tabs[static_cast<size_t>(i)];
        if (t.TitleWidth < 0)
            t.TitleWidth = dc.GetTextSizeW(t.Name.Buf()).cx;
    }
    Layout(width, height);
    AnyClipped = false;
    for (int i = 0; i < Count; ++i) {
        TABS_TABINFO& t = Tabs[static_cast<size_t>(i)];
        AnyClipped = AnyClipped || (t.Flags & TABS_TABINFO::CLIPPED);
        bool const withClose = Count > 1 && !((CloseIconMode == 2 || CloseIconMode == 3) && i != Active);
        t.Close = withClose ? RECT{t.Tab.right - 21, t.Tab.top + 5, t.Tab.right - 6, t.Tab.top + 20} : RECT{};
    }
    int const dragX = Dragging ? DragPos.x - DownPos.x : 0;
    bool activeDrawn = false;
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < Count; ++i) {
            bool const isActive = i == Active && !NoneActiveFlag;
            if ((pass == 0) == isActive)
                continue;
            TABS_TABINFO const& t = Tabs[static_cast<size_t>(i)];
            if (!isActive && (t.Tab.right < ps.rcPaint.left - 1 || t.Tab.left > ps.rcPaint.right + 1))
                continue;
            DrawTab(dc, i, fg, dragX);
            activeDrawn = activeDrawn || isActive;
        }
    }
    if (!activeDrawn && Count > 0)
        DrawBaseline(dc, all, -1, fg);
    if (Dragging) {
        int const target = FindButton(DragPos.x, DownPos.y, true);
        int const from = FindButton(DownPos.x, DownPos.y, true);
        if (target >= 0 && from >= 0 && target != from) {
            TABS_TABINFO const& t = Tabs[static_cast<size_t>(target)];
            int const mx = target > from ? t.Tab.right - 3 : t.Tab.left - 3;
            POINT const arrow[] = {{mx - 5, 1}, {mx + 5, 1}, {mx, 9}};
            dc.DrawPolygon(arrow, 3, Sys(16), Sys(22));
            if (!Animating()) {
                int const visible = width - 40;
                if (mx < LeftLimit())
                    StartAnimation(std::max(Offset + mx - 32 - LeftLimit(), 0), false);
                else if (mx > visible)
                    StartAnimation(Offset + 32 - visible + mx, false);
            }
        }
    }
    // Scroll buttons and the icons at the right end.
    if (Offset != 0) {
        RECT left{0, 0, 20, height};
        dc.FillRectGradient(&left, top, bottom, true);
        DrawBaseline(dc, left, -1, fg);
        DrawIcon(dc, ICON_SCROLLLEFT, 2, (height - 16) / 2);
        ScrollLeft.Rect = RECT{2, (height - 16) / 2, 18, (height - 16) / 2 + 16};
    } else {
        ScrollLeft.Rect = RECT{};
    }
    bool beyond = false;
    for (int i = 0; i < Count; ++i)
        beyond = beyond || Tabs[static_cast<size_t>(i)].Tab.right > width - 40;
    if (beyond && !RightSuppressed) {
        int const xr = width - 57;
        DrawIcon(dc, ICON_SCROLLRIGHT, xr, (height - 16) / 2);
        ScrollRight.Rect = RECT{xr, (height - 16) / 2, xr + 16, (height - 16) / 2 + 16};
    } else {
        ScrollRight.Rect = RECT{};
    }
    RECT end{AnyClipped ? width - 38 : width - 22, 0, width, height};
    dc.FillRectGradient(&end, top, bottom, true);
    DrawBaseline(dc, end, -1, fg);
    int iconEnd = width - 1;
    if (AnyClipped) {
        DrawIcon(dc, ICON_TABLIST, width - 17, (height - 16) / 2);
        TabList.Rect = RECT{width - 17, (height - 16) / 2, width - 1, (height - 16) / 2 + 16};
        iconEnd = width - 21;
    } else {
        TabList.Rect = RECT{};
    }
    if (Count >= 2) {
        int const tx = iconEnd - 16;
        int const ty = (height - 16) / 2;
        Thumbs.Rect = RECT{tx, ty, tx + 16, ty + 16};
        if (Thumbs.Hover) {
            RECT hoverRect{tx, ty + 1, tx + 16 + 2, ty + 16 + 2};
            dc.DrawRect(hoverRect, 0xC56A31, 0xEED2C1);
        }
        DrawIcon(dc, ICON_THUMBNAILS, tx, ty);
    } else {
        Thumbs.Rect = RECT{};
    }
    if (Font)
        dc.DeselectFont(Font);
    EndPaint(&ps);
    InPaintFlag = false;
    return 1;
}

bool TABS::OnSized()
{
    CHILDWINDOW::OnSized();
    NeedsScrollToActive = 1;
    Invalidate(nullptr);
    return true;
}

// ---------------------------------------------------------------------------
// Timers

bool TABS::OnTimer(int id)
{
    if (id == TIMER_BLINK) {
        MUTEXLOCK lock(Lock);
        for (int i = 0; i < Count; ++i) {
            TABS_TABINFO& t = Tabs[static_cast<size_t>(i)];
            if (t.Flags & TABS_TABINFO::HIGHLIGHT) {
                t.Flags &= ~TABS_TABINFO::HIGHLIGHT;
                InvalidateButton(t);
            }
        }
        return true;
    }
    if (id == TIMER_ANIMATION) {
        MUTEXLOCK lock(Lock);
        AnimationTick();
        return true;
    }
    if (id >= TIMER_TRAFFIC && id < TIMER_TRAFFIC + 100) {
        StopTimer(static_cast<uint32_t>(id));
        MUTEXLOCK lock(Lock);
        int const idx = id - TIMER_TRAFFIC;
        if (idx < Count) {
            TABS_TABINFO& t = Tabs[static_cast<size_t>(idx)];
            t.Flags &= ~TABS_TABINFO::TRAFFICLIT;
            InvalidateButton(t);
        }
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// The mouse

bool TABS::InsideRect(RECT const& r, int x, int y) const
{
    return r.right > r.left && x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

void TABS::TabListMenu()
{
    MENU menu("IDM_USERWIN");
    if (!menu.GetMenuRef())
        menu.CreateEmpty();
    menu.DeleteMenuItem(8287, false);
    int const width = CONTROL::GetSize().cx;
    int pos = menu.GetNumMenuItems();
    if (pos > 0)
        menu.InsertItem(nullptr, 0, pos++);
    bool lastVisible = true;
    std::vector<WSTRING> names;
    {
        MUTEXLOCK lock(Lock);
        for (int i = 0; i < Count; ++i) {
            TABS_TABINFO const& t = Tabs[static_cast<size_t>(i)];
            bool const visible = t.Tab.left >= 0 && !(t.Flags & TABS_TABINFO::CLIPPED) && t.Tab.right <= width;
            if (i > 0 && visible != lastVisible)
                menu.InsertItem(nullptr, 0, pos++);
            lastVisible = visible;
            menu.InsertItemWide(t.Name.Buf(), 0x400 + i, pos++);
            if (i == Active)
                menu.CheckMenuItem(static_cast<uint32_t>(0x400 + i), 1);
        }
    }
    RECT const r = CONTROL::GetRect();
    POINT at{TabList.Rect.left, TabList.Rect.bottom};
    plat::PointI screen = plat::ConvertViewPoint(plat::PointI{at.x, at.y}, GetControlRef(), nullptr);
    RECT const frame = Owner.GetRect();
    RECT client{};
    Owner.RectFrameToClient(&frame, &client);
    POINT onScreen{client.left + screen.x, client.top + screen.y};
    (void)r;
    int const choice = menu.Popup(Owner.GetWindow(), &onScreen, 1);
    if (choice >= 0x400 && choice < 0x400 + CAPACITY) {
        int const idx = choice & 0x3FF;
        if (idx < NumButtons())
            Activate(idx);
    }
}

int TABS::DoubleClick()
{
    LastClickTime = -1;
    LastClick = POINT{-1, -1};
    int const x = MousePos.x, y = MousePos.y;
    if (FindButton(x, y, false) < 0 && !InsideRect(TabList.Rect, x, y) && !InsideRect(Thumbs.Rect, x, y)) {
        Notify(NOTIFY_DOUBLECLICK, 0, true);
        return 1;
    }
    return 0;
}

bool TABS::OnMouseEvent(int message, int x, int y, int)
{
    if (!IsForeground())
        return false;
    bool handled = false;
    {
        MUTEXLOCK lock(Lock);
        MousePos = POINT{x, y};
        int const over = FindButton(x, y, false);
        for (int i = 0; i < Count; ++i) {
            TABS_TABINFO& t = Tabs[static_cast<size_t>(i)];
            uint32_t const before = t.Flags;
            if (i == over) {
                t.Flags |= TABS_TABINFO::HOVER;
                if (InsideRect(t.Close, x, y))
                    t.Flags |= TABS_TABINFO::HOVERCLOSE;
                else
                    t.Flags &= ~TABS_TABINFO::HOVERCLOSE;
            } else {
                t.Flags &= ~(TABS_TABINFO::HOVER | TABS_TABINFO::HOVERCLOSE);
            }
            if (t.Flags != before)
                InvalidateButton(t);
        }
        switch (message) {
        case WM_MOUSEMOVE: {
            MouseTime = Now();
            if (Dragging) {
                DragPos = POINT{x, y};
                Invalidate(nullptr);
            } else if (ButtonDownOnTab && (std::abs(x - DownPos.x) > 3 || std::abs(y - DownPos.y) > 3)) {
                Dragging = true;
                DragPos = POINT{x, y};
                SetMouseCapture(true);
                Captured = true;
                Invalidate(nullptr);
            } else {
                DragPos = POINT{-1, -1};
                bool const thumbs = InsideRect(Thumbs.Rect, x, y);
                bool const list = InsideRect(TabList.Rect, x, y);
                if (thumbs != Thumbs.Hover || list != TabList.Hover) {
                    Thumbs.Hover = thumbs;
                    TabList.Hover = list;
                    Invalidate(nullptr);
                }
            }
            handled = true;
            break;
        }
        case WM_LBUTTONDOWN: {
            DownPos = POINT{x, y};
            handled = true;
            if (over >= 0) {
                TABS_TABINFO& t = Tabs[static_cast<size_t>(over)];
                if (InsideRect(t.Close, x, y) && Count > 1) {
                    t.Flags &= ~TABS_TABINFO::HOVERCLOSE;
                    Notify(NOTIFY_CLOSEICON, static_cast<MSGWORD>(over), false);
                    ClickConsumed = true;
                } else {
                    Activate(over);
                    ButtonDownOnTab = true;
                }
            } else if (InsideRect(TabList.Rect, x, y)) {
                ClickConsumed = true;
                Lock.Release();
                TabListMenu();
                Lock.Obtain();
            } else if (InsideRect(ScrollLeft.Rect, x, y)) {
                StartAnimation(std::max(Offset - CONTROL::GetSize().cx / 2, 0), true);
                ClickConsumed = true;
            } else if (InsideRect(ScrollRight.Rect, x, y)) {
                int const width = CONTROL::GetSize().cx;
                int const lastRight = Count > 0 ? Tabs[static_cast<size_t>(Count - 1)].Tab.right : 0;
                StartAnimation(std::min(Offset + width / 2, Offset + lastRight - (width - 44)), true);
                ClickConsumed = true;
            } else if (InsideRect(Thumbs.Rect, x, y)) {
                Notify(NOTIFY_THUMBNAILS, 0, true);
                ClickConsumed = true;
            }
            if (Thumbs.Hover || TabList.Hover) {
                Thumbs.Hover = TabList.Hover = false;
                Invalidate(nullptr);
            }
            break;
        }
        case WM_LBUTTONUP: {
            handled = true;
            if (Dragging) {
                Dragging = false;
                int const from = FindButton(DownPos.x, DownPos.y, true);
                int const to = FindButton(x, DownPos.y, true);
                if (from >= 0 && to >= 0 && from != to)
                    Notify(NOTIFY_DRAGGED, static_cast<MSGWORD>((from & 0xFFFF) | (to << 16)), false);
                Invalidate(nullptr);
                LastClickTime = -1;
            } else if (ClickConsumed) {
                ClickConsumed = false;
                LastClickTime = -1;
                LastClick = POINT{-1, -1};
            } else {
                long long const now = Now();
                if (LastClickTime >= 0 && now - LastClickTime <= 499 && LastClick.x == x && LastClick.y == y) {
                    DoubleClick();
                } else {
                    LastClick = POINT{x, y};
                    LastClickTime = now;
                }
            }
            ButtonDownOnTab = false;
            break;
        }
        case WM_RBUTTONDOWN:
            Notify(NOTIFY_RIGHTCLICK, static_cast<MSGWORD>((x & 0xFFFF) | ((y & 0xFFFF) << 16)), true);
            handled = true;
            break;
        default:
            break;
        }
        // The mouse stays captured while it is over a tab or an icon.
        bool const overSomething = FindButton(x, y, false) >= 0 || InsideRect(TabList.Rect, x, y) ||
                                   InsideRect(Thumbs.Rect, x, y) || InsideRect(ScrollLeft.Rect, x, y) ||
                                   InsideRect(ScrollRight.Rect, x, y);
        if (overSomething && !Captured) {
            SetMouseCapture(true);
            Captured = true;
        } else if (!overSomething && !Dragging && Captured) {
            SetMouseCapture(false);
            Captured = false;
            Invalidate(nullptr);
        }
    }
    FlushNotices();
    return handled;
}
