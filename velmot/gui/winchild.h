// CHILDWINDOW: a child area inside a window, a control over a user pane of
// its own that also receives the window callbacks. It paints directly in
// the draw events or, between them, into an off-screen bitmap that the
// next draw copies; it has its own timers, mouse capture, keyboard focus
// and file drops. Dialog pages and the program's views derive from it.
//
// A WINDC can borrow a child window's drawing context (DCWINDOW): inside a
// paint pass that is the pass's context, outside one the off-screen
// bitmap.
//
// Main thread only.
#pragma once

#include "velmot/gui/winbase.h"
#include "velmot/gui/wincallbacks.h"
#include "velmot/gui/wincontrols.h"
#include "velmot/gui/windraw.h"

#include <memory>

// CHILDWINDOW's extended style bit: no background fill when OnPaint paints
// nothing.
constexpr uint32_t CHILDSTYLEEX_NOBACKGROUND = 0x10000;
// The background colour value that means the system's face colour.
constexpr COLORREF CHILDWINDOW_DEFAULTBACKGROUND = 0xFFFFFFFE;

class VELMOT_EXPORT CHILDWINDOW : public CONTROL, public WINDOWCALLBACKS, public DCWINDOW {
public:
    // A new user pane in the parent (coordinates kept as 16-bit values),
    // with its event handler; the last two arguments are not used.
    CHILDWINDOW(CONTROLPARENT parent, CONTROLID id, int x, int y, int cx, int cy, int style = 0,
                char const* name = nullptr);
    // An existing view found by id, without a handler (no callbacks, no
    // timers) until InstallEventHandler.
    CHILDWINDOW(CONTROLPARENT parent, CONTROLID id);
    // The page `name` of the layouts: the first control of that window's
    // client view, a user pane or placard, moved into the parent. An id of
    // (0, 0) becomes PAGE and the number the name ends in.
    CHILDWINDOW(CONTROLPARENT parent, char const* name, CONTROLID id, NIBBUNDLE bundle = nullptr);
    ~CHILDWINDOW() override;
    CHILDWINDOW(CHILDWINDOW const&) = delete;
    CHILDWINDOW& operator=(CHILDWINDOW const&) = delete;

    plat::Status HandleEvent(plat::HandlerCall* call, TCarbonEvent& event) override;
    bool OnCreate() override { return false; }
    // 0: nothing painted (the background is filled); -2 with an off-screen
    // bitmap: the bitmap is not copied.
    int OnPaint() override { return 0; }
    bool OnKeyboardEvent(KEYBOARDEVENT const&) override { return false; }
    // Keeps the off-screen bitmap at the view's size.
    bool OnSized() override;

    bool InstallEventHandler();
    // Shows or hides the view, then OnShown or OnHidden.
    bool Show(bool show);

    // DCWINDOW
    plat::DrawContext* GetDC() override;
    void ReleaseDC(plat::DrawContext* context) override;
    RECT GetClientRect() const override { return CONTROL::GetClientRect(); }
    SIZE GetSize() const override { return CONTROL::GetSize(); }
    void Invalidate(RECT const* rect) override { CONTROL::Invalidate(rect); }
    using CONTROL::Invalidate;
    // Only inside a paint pass.
    bool StartPaint(PAINTSTRUCT* ps);
    int EndPaint(PAINTSTRUCT* ps);

    int StartTimer(uint32_t id, int ms);
    int StopTimer(uint32_t id);
    // While on, mouse events of the window go to this view, and a move
    // outside it is reported (timer every 50 ms).
    bool SetMouseCapture(bool on);
    void AcceptDroppedFiles(bool on);
    void SetBackgroundColor(COLORREF colour) { BackgroundColor = colour; }

    // The application's own messages to this view.
    MSGWORD PostUserMessage(int msg, MSGWORD p1, MSGWORD p2) const;
    MSGWORD SendUserMessage(int msg, MSGWORD p1, MSGWORD p2) const;

    // Controls inside this view by id (as WINDOW's family).
    bool EnableControl(CONTROLID id, bool enable) const;
    bool ShowControl(CONTROLID id, bool show) const;
    bool IsControlChecked(CONTROLID id) const;
    bool SetControlChecked(CONTROLID id, bool checked) const;
    STRING GetControlText(CONTROLID id) const;
    WSTRING GetControlTextWide(CONTROLID id) const;
    bool SetControlText(CONTROLID id, char const* text) const;
    bool SetControlTextWide(CONTROLID id, wchar_t const* text) const;

    MEMORYBITMAP* GetMemoryBitmap() const { return pMemoryBitmap.get(); }
    bool IsInPaint() const { return InPaint > 0; }

protected:
    std::unique_ptr<MEMORYBITMAP> pMemoryBitmap;
    bool HasHandler = false;
    int InPaint = 0;
    plat::DrawContext* fPaintContext = nullptr;
    RECT PaintRect;
    COLORREF BackgroundColor = CHILDWINDOW_DEFAULTBACKGROUND;
    bool AcceptFiles = false;

private:
    plat::Status HandleDraw(TCarbonEvent& event, bool taken, plat::Status rc);
    bool HandleDrag(TCarbonEvent& event);
};
