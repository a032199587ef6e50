// WINDOW: the toolkit's top-level window, a DARWINDOW that receives the
// window callbacks. It is made from a layout by name or anew in one of two
// styles, and carries the Windows-shaped operations the program uses:
// showing, moving, sizing, minimising and maximising, the title, the client
// area, invalidation, timers, focus, stacking, the controls of the window
// by id, and its position kept in the registry store.
//
// A window made by one of the creating constructors owns its platform
// window; the wrappers share a handle and own nothing.
//
// Main thread only (each public operation warns through
// TARVOAPP::CheckCallerThread elsewhere); other threads reach windows
// through the messages of DARWINDOW.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/winbase.h"
#include "velmot/gui/wincallbacks.h"
#include "velmot/gui/wincontrols.h"

namespace plat {
class DrawContext;
}
class MUTEXSEM;
class EVENTSEM;

// Window styles of the creating constructor.
constexpr uint32_t WINDOWSTYLE_DOCUMENT = 1; // titled, resizable, with close, zoom and collapse boxes
constexpr uint32_t WINDOWSTYLE_UTILITY = 2;  // without title bar

// Window property tags of WINDOW.
constexpr FOURCHARCODE WPROP_CLASSCRC = plat::FourCC("CCRC"); // CRC-32 of the class name
constexpr FOURCHARCODE WPROP_TSMDOCUMENT = plat::FourCC("TSMD");
constexpr FOURCHARCODE WPROP_TRANSPARENT = plat::FourCC("NOPQ"); // 0 off, 1 on, 3 on with shadows

class VELMOT_EXPORT WINDOW : public DARWINDOW, public WINDOWCALLBACKS {
public:
    // A new window: style 1 a document window, 2 a utility window; a zero
    // cx is 600, a zero cy 400 (the content area at x, y). `menu` names a
    // menu bar of the layouts; `classname` is what FindWindowEx looks for.
    // The owner must be null; `data` is not used.
    WINDOW(uint32_t style, char const* title, int x, int y, int cx, int cy, plat::WindowRef owner = nullptr,
           char const* helpid = nullptr, char const* menu = nullptr, char const* classname = nullptr,
           void* data = nullptr);
    // The window `name` of the layouts. The owner is not used here.
    WINDOW(char const* name, plat::WindowRef owner, NIBBUNDLE bundle = nullptr);
    // Wrappers.
    explicit WINDOW(plat::WindowRef window);
    explicit WINDOW(CONTROLPARENT const& parent); // the window holding the view
    WINDOW(WINDOW const& other);
    WINDOW& operator=(DARWINDOW const& other);
    ~WINDOW() override;

    plat::Status HandleEvent(plat::HandlerCall* call, TCarbonEvent& event) override;
    bool OnHelp() override;
    // Paints the content view; with client-area transparency it clears the
    // update area and returns 1, else 0 (nothing painted).
    virtual int OnWindowPaint(plat::DrawContext* context, RECT const& bounds, RECT const& update);
    int Destroy() override;

    bool IsValid() const;
    CONTROLPARENT GetClientParent() const { return CONTROLPARENT{GetClientView()}; }

    // Geometry (screen coordinates unless said otherwise).
    RECT GetRect() const;
    SIZE GetSize() const;
    RECT GetClientRect() const;
    SIZE GetClientSize() const;
    bool Move(int x, int y, int cx, int cy) const;
    bool Size(int cx, int cy) const;
    int Show(bool show) const;
    bool IsVisible() const;
    bool IsMinimized() const;
    bool IsMaximized() const;
    bool IsForegroundWindow() const;
    bool IsFocused() const;
    bool Minimize() const;
    bool Restore() const;
    bool Maximize() const;
    bool BringToForeground(bool unused = true) const;
    bool Activate() const;
    plat::WindowRef SetFocus() const;
    plat::ViewRef GetFocus() const;
    int MoveInZorder(int how, plat::WindowRef other);
    bool CenterOver(plat::WindowRef other) const;
    bool RectClientToFrame(RECT const* client, RECT* frame) const;
    bool RectFrameToClient(RECT const* frame, RECT* client) const;
    bool MapWindowPoints(plat::ViewRef from, plat::ViewRef to, POINT* points, int count) const;
    bool Invalidate(RECT* rect = nullptr, bool erase = false) const;
    bool FlushRedraw() const;
    bool SetTransparency(int alpha, int unused = 0);
    bool SetClientAreaTransparency(bool on, bool shadows);
    bool HasClientAreaTransparency(bool* shadows = nullptr) const;
    bool RefreshTransparencyBackdrop();

    // The title.
    int SetText(char const* text) const;
    int SetTextWide(wchar_t const* text) const;
    bool GetText(char* buffer, int size) const;
    STRING GetText() const;
    WSTRING GetTextWide() const;
    int GetTextWide(wchar_t* buffer, int size) const;

    // Controls of the client view by id; false (empty texts) when there is
    // no such control.
    bool EnableControl(CONTROLID id, bool enable) const;
    bool ShowControl(CONTROLID id, bool show) const;
    bool IsControlChecked(CONTROLID id) const;
    bool SetControlChecked(CONTROLID id, bool checked) const;
    bool GetControlText(CONTROLID id, char* buffer, int size) const;
    bool GetControlTextWide(CONTROLID id, wchar_t* buffer, int size) const;
    STRING GetControlText(CONTROLID id) const;
    WSTRING GetControlTextWide(CONTROLID id) const;
    bool SetControlText(CONTROLID id, char const* text) const;
    bool SetControlTextWide(CONTROLID id, wchar_t const* text) const;

    int StartTimer(uint32_t id, int ms);
    int StopTimer(uint32_t id);

    // Waiting on the main thread while window events keep flowing.
    static signed char WinProcessMessages(int count);
    static bool WinObtainMutexSem(MUTEXSEM& mutex, int ms);
    static bool WinWaitForEventSem(EVENTSEM& event, int ms);
    static void Sleep(int ms);

    // The first window behind `after` (null: from the front) with the class
    // name (null: any) and title (null: any; case ignored).
    static plat::WindowRef FindWindowEx(plat::WindowRef after, char const* classname, char const* title);
    // What a click on a tri-state check box or a radio button leads to.
    static void HandleAutoCheckbox(CONTROL& control);
    static void HandleAutoRadioButton(CONTROL& control);

    // "RECT(l, t, r, b) STATE=minimised/maximised" under Software\Tarvo\<key>.
    bool StoreWindowPos(char const* key, char const* value) const;
    bool RestoreWindowPos(char const* key, char const* value, bool positionOnly) const;
};
