// TABS: the row of session tabs at the top of a main window, one tab per
// session in the order of the window's session table. It draws the tabs,
// scrolls them smoothly when they do not fit, shows
// each tab's state (connected lamp, traffic dashes, blinking highlight,
// closing text, colour, close icon) and reports what the user does (activate,
// close, drag, the context menu, the thumbnails icon, a double click) to its
// owner window as notification messages.
//
// Threads: the public operations may be called from any thread that holds
// the owner's session table; each takes the tab bar's lock. Painting, the
// mouse and the notifications run on the main thread. Notifications are sent
// after the lock is released, so the owner may take its own locks in them.
#pragma once

#include "program/shell/miscclasses.h"

#include "velmot/core/osyssync.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/winchild.h"
#include "velmot/gui/windows.h"

#include <cstdint>
#include <memory>
#include <vector>

class COREFONT;
class WINDC;

struct TABS_TABINFO {
    // Flag bits.
    static constexpr uint32_t DELETED = 1u << 0;
    static constexpr uint32_t HOVER = 1u << 1;
    static constexpr uint32_t HOVERCLOSE = 1u << 2;
    static constexpr uint32_t HIGHLIGHT = 1u << 3;
    static constexpr uint32_t CLOSING = 1u << 4;
    static constexpr uint32_t WASONLINE = 1u << 5;
    static constexpr uint32_t ONLINE = 1u << 6;
    static constexpr uint32_t CLIPPED = 1u << 7;
    static constexpr uint32_t EXPLICITCOLOUR = 1u << 8;
    static constexpr uint32_t TRAFFICLIT = 1u << 9;

    uint32_t Flags = 0;
    int TrafficCount = 0;
    int TrafficMax = 50;
    int ColourCode = 0;
    void* UserData = nullptr;
    WSTRING Name;
    int TitleWidth = -1;
    int Spare = -1;
    RECT Tab{0, 0, 0, 0};
    RECT Close{0, 0, 0, 0};
};

class TABS : public CHILDWINDOW {
public:
    static constexpr int CAPACITY = 192;
    static constexpr CONTROLID ID{plat::FourCC("IDC_"), 13};

    // Notification codes (wparam of the owner's message).
    static constexpr int NOTIFY_ACTIVATED = 0;
    static constexpr int NOTIFY_CLOSEICON = 1;
    static constexpr int NOTIFY_DRAGGED = 4;
    static constexpr int NOTIFY_RIGHTCLICK = 5;
    static constexpr int NOTIFY_THUMBNAILS = 6;
    static constexpr int NOTIFY_DOUBLECLICK = 7;

    // Icons of the bar.
    static constexpr int ICON_SCROLLLEFT = 1003;
    static constexpr int ICON_SCROLLRIGHT = 1004;
    static constexpr int ICON_TABLIST = 1005;
    static constexpr int ICON_THUMBNAILS = 1006;
    static constexpr int ICON_CLOSE = 1007;
    static constexpr int ICON_CLOSEHOVER = 1008;
    static constexpr int ICON_CLOSEACTIVE = 1009;

    // Timers.
    static constexpr int TIMER_BLINK = 1;
    static constexpr int TIMER_ANIMATION = 3;
    static constexpr int TIMER_TRAFFIC = 1000; // + tab index, up to 1099

    TABS(WINDOW const& owner, int width, int notifyMessage);
    ~TABS() override;

    // ---- Tabs ----
    int AddButton(char const* name, void* userdata, int colour, bool activate);
    int AddButtonWide(wchar_t const* name, void* userdata, int colour, bool activate);
    int DeleteButton(int idx);
    int DragButton(int from, int to);
    int RenameButton(int idx, char const* name);
    int RenameButtonWide(int idx, wchar_t const* name);
    STRING GetName(int idx);
    WSTRING GetNameWide(int idx);
    void* GetUserdata(int idx);
    int FindButton(void* userdata);
    int FindButton(wchar_t const* name);
    int FindButton(int x, int y, bool forDrawing);
    int SetButtonColorCode(int idx, int code);
    int GetButtonColorCode(int idx);
    COLORREF GetButtonColorcodeRGB(int idx, bool active, bool* explicitColour);
    int SetButtonTraffic(int idx, int state, int amount);
    int SetButtonOnline(int idx, int state);
    int SetButtonClosing(int idx, int state);
    int SetButtonBlinking(int idx, int state);
    int Activate(int idx);
    int ShowTabs(bool show, int* heightDelta);
    int QuerySizeY();
    int ProcessKey(KEYBOARDEVENT const& key);
    void CancelTooltips();
    void InvalidateButton(TABS_TABINFO const& tab);
    COLORREF GetLineColor();
    void GetTabsBackgroundColors(bool foreground, COLORREF* top, COLORREF* bottom);

    int NumButtons() const { return Count; }
    int ActiveIndex() const { return Active; }
    // A copy of a tab's record (tests and the owner's menus).
    TABS_TABINFO Info(int idx);
    void SetColorOverlay(int percent);
    void SetCloseIconMode(int mode);
    void SetNoneActive(bool on);
    bool NoneActive() const { return NoneActiveFlag; }
    int ScrollOffset() const { return Offset; }
    bool Animating() const { return AnimStart != 0; }
    // The colour of a code (hue, saturation, brightness table).
    static COLORREF CodeColour(int code, bool active);
    // The owner tells whether it counts as the foreground window (tests set
    // it; by default the owner's activation decides).
    void SetForegroundOverride(int state) { ForegroundOverride = state; }

    // ---- Window ----
    int OnPaint() override;
    bool OnSized() override;
    bool OnShown() override { return false; }
    bool OnTimer(int id) override;
    bool OnMouseEvent(int message, int x, int y, int flags) override;
    bool OnControlEvent(int, CONTROL const&, void*) override { return false; }

    // The clock (milliseconds); tests replace it.
    static long long (*Now)();

private:
    struct ICONAREA {
        RECT Rect{0, 0, 0, 0};
        bool Hover = false;
        bool Shown() const { return Rect.right > Rect.left; }
    };
    struct NOTICE {
        int Code;
        MSGWORD Param;
        bool Post;
    };

    bool Valid(int idx, bool allowEnd) const;
    void Layout(int width, int height);
    void ScrollToActive(int width);
    void StartAnimation(int target, bool smooth);
    void AnimationTick();
    bool IsForeground() const;
    int LeftLimit() const { return Offset != 0 ? 20 : 0; }
    void DrawTab(WINDC& dc, int idx, bool foreground, int dragX);
    void DrawBaseline(WINDC& dc, RECT const& r, int idx, bool foreground);
    void DrawIcon(WINDC& dc, int id, int x, int y);
    void CompactButtonTable();
    void Notify(int code, MSGWORD param, bool post);
    void FlushNotices();
    void TabListMenu();
    int DoubleClick();
    bool InsideRect(RECT const& r, int x, int y) const;

    WINDOW Owner;
    COREFONT* Font = nullptr;
    std::unique_ptr<TOOLTIPS> Tips;
    mutable MUTEXSEM Lock;
    std::vector<TABS_TABINFO> Tabs;
    int Count = 0;
    int ColourCounter = 0;
    long long AnimStart = 0;
    bool AnimSmooth = false;
    int AnimDuration = 0;
    int AnimFrom = 0;
    int AnimTo = 0;
    int NeedsScrollToActive = 1;
    POINT LastClick{-1, -1};
    long long LastClickTime = -1;
    bool ClickConsumed = false;
    bool InPaintFlag = false;
    bool AutoScrollSuppressed = false;
    bool AnyClipped = false;
    bool Captured = false;
    int Overlay = 0;
    int CloseIconMode = 0;
    bool Dragging = false;
    bool ButtonDownOnTab = false;
    POINT DownPos{-1, -1};
    POINT DragPos{-1, -1};
    POINT MousePos{-1, -1};
    long long MouseTime = 0;
    ICONAREA TabList;
    ICONAREA Thumbs;
    ICONAREA ScrollLeft;
    ICONAREA ScrollRight;
    bool RightSuppressed = false;
    int Offset = 0;
    int FontHeight = 12;
    int Active = -1;
    int Visibility = -1;
    int SpareOne = 1;
    int SpareMinusOne = -1;
    int NotifyMessage;
    bool NoneActiveFlag = false;
    int ForegroundOverride = -1;
    std::vector<NOTICE> Pending;
};
