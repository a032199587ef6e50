// Window callbacks: the interface through which every window, child window,
// dialog page and the application object receives its events.
//
// The toolkit's classes install a handler on their platform object (a
// window, a view, the application) and hand every event to
// HandleEventForCallback, which decides from the event's class and kind,
// and from the object the callbacks are bound to, which handler to call
// with which Windows-shaped arguments, and whether the platform may go on
// with its own handling: 0 when a handler took the event, -9874 otherwise.
//
// Every default handler does nothing and returns false; a handler's result
// means "handled" wherever it is used. Main thread.
#pragma once

#include "velmot/gui/wincontrols.h"
#include "velmot/gui/winevents.h"
#include "velmot/gui/winkeys.h"
#include "velmot/gui/wintypes.h"

#include "platform/events/windows.h"

class STRINGARRAY;

// Ids of timers below this value reach OnTimer; the toolkit's own lie
// above it.
constexpr uint32_t TIMERID_TOOLKIT = 0x100000;
// The timer that follows a captured mouse outside its view.
constexpr uint32_t TIMERID_MOUSECAPTURE = 0x200000;

// Codes handed to OnControlEvent.
constexpr int CONTROLEVENT_CLICKED = 0x101;   // radio button, check box, disclosure button, user pane
constexpr int CONTROLEVENT_EDITED = 0x201;    // edit text
constexpr int CONTROLEVENT_SELECTED = 0x301;  // pop-up button, pop-up group, combo box
constexpr int CONTROLEVENT_TABCHANGED = 0x602; // tab control
constexpr int CONTROLEVENT_ARROWS = 0x701;    // little arrows; data: the value

// Scroll codes handed to OnScrollEvent.
constexpr int SCROLL_LINEUP = 0;
constexpr int SCROLL_LINEDOWN = 1;
constexpr int SCROLL_PAGEUP = 2;
constexpr int SCROLL_PAGEDOWN = 3;
constexpr int SCROLL_THUMB = 4;

// Edges handed to OnSizing.
constexpr uint32_t SIZINGEDGE_LEFT = 1;
constexpr uint32_t SIZINGEDGE_RIGHT = 2;
constexpr uint32_t SIZINGEDGE_TOP = 4;
constexpr uint32_t SIZINGEDGE_BOTTOM = 8;

class VELMOT_EXPORT WINDOWCALLBACKS {
public:
    WINDOWCALLBACKS() = default;
    explicit WINDOWCALLBACKS(plat::WindowRef window) : fCallbackWindow(window) {}
    explicit WINDOWCALLBACKS(plat::ViewRef view) : fCallbackView(view) {}
    virtual ~WINDOWCALLBACKS();

    virtual bool OnCreate() { return false; }
    virtual bool OnActivated() { return false; }
    virtual bool OnDeactivated() { return false; }
    virtual bool OnTimer(int id) { return false; }
    virtual bool OnMinimized() { return false; }
    virtual bool OnRestored() { return false; }
    // 0: nothing painted. A child window with an off-screen bitmap takes
    // -2 as "do not copy the bitmap".
    virtual int OnPaint() { return 0; }
    virtual bool OnFocusAcquired() { return false; }
    virtual bool OnFocusLost() { return false; }
    virtual bool OnShown() { return false; }
    virtual bool OnHidden() { return false; }
    virtual bool OnMoved() { return false; }
    virtual bool OnSized() { return false; }
    // A live resize: `frame` (screen coordinates, the whole window) may be
    // changed; SIZINGEDGE_* tell which edges move.
    virtual bool OnSizing(RECT* frame, uint32_t edges) { return false; }
    virtual bool OnCommand(uint32_t id) { return false; }
    virtual bool OnPushbutton(CONTROLID id) { return false; }
    virtual bool OnControlEvent(int code, CONTROL const& control, void* data) { return false; }
    virtual bool OnKeyboardEvent(KEYBOARDEVENT const& key) { return false; }
    virtual bool OnRawKeyboardEvent(KEYBOARDEVENT const& key) { return false; }
    virtual bool OnMouseEvent(int message, int x, int y, int flags) { return false; }
    virtual bool OnScrollEvent(int code, CONTROL const& control, int position) { return false; }
    virtual bool OnFilesDropped(int count, STRINGARRAY const& files) { return false; }
    virtual bool OnPlatformEvent(char const* name, void* p1, void* p2) { return false; }
    virtual bool OnHelp() { return false; }
    virtual bool OnClose() { return false; }
    virtual bool OnDestroy() { return false; }
    virtual bool OnEndSession() { return false; }
    virtual bool OnUserMessage(int msg, MSGWORD p1, MSGWORD p2) { return false; }

    // Binding: to a window, to a view (a child window), or to the
    // application (neither). Each registers the callback events on the
    // handler and then calls OnCreate.
    void SetCallbackWindow(plat::WindowRef window, TEventHandler& handler);
    void SetCallbackView(plat::ViewRef view, TEventHandler& handler);
    void SetCallbackApp(TEventHandler& handler);
    void RegisterForCallbackEvents(TEventHandler& handler, bool app);

    // The dispatch; *recognised (optional) is set when the event's class and
    // kind are ones this dispatch translates.
    plat::Status HandleEventForCallback(plat::HandlerCall* call, TCarbonEvent& event, bool* recognised);

    // Window-bound callbacks: sends the mouse message (window coordinates)
    // to the view that captured the mouse; else, while a button is held, to
    // the view that got the press (moves and the release outside it
    // included), as the window system's own grab does; else to the view
    // under the point.
    bool HandleMouseEvent(int message, int x, int y, int flags);
    // View-bound callbacks: reports the captured mouse when it left the view.
    bool HandleMouseTimer(uint32_t id);

    plat::WindowRef GetCallbackWindow() const { return fCallbackWindow; }
    plat::ViewRef GetCallbackView() const { return fCallbackView; }

protected:
    plat::WindowRef fCallbackWindow = nullptr;
    plat::ViewRef fCallbackView = nullptr;
    plat::PointI fLastMouse{}; // the last position the mouse-capture timer saw
    plat::ViewRef fPressView = nullptr; // the view the held buttons were pressed on
    bool fPressStarts = false;          // the next target found is fPressView

private:
    bool HandleToolkitMessage(TCarbonEvent& event);
    bool HandleCommandEvent(TCarbonEvent& event);
    bool HandleWindowEvent(TCarbonEvent& event);
    bool HandleBoundsChanging(TCarbonEvent& event);
    bool HandleBoundsChanged(TCarbonEvent& event);
    bool HandleZoom();
    bool HandleControlEvent(TCarbonEvent& event, bool* recognised);
    bool HandleScrollHit(plat::ViewRef control, int part, bool* recognised);
    bool HandleMouseClass(TCarbonEvent& event, bool* recognised);
    bool HandleKeyboardClass(plat::HandlerCall* call, TCarbonEvent& event);
};
