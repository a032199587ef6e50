#include "velmot/gui/wincallbacks.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winbase.h"
#include "velmot/gui/wintimer.h"

#include "platform/events/application.h"
#include "platform/events/timers.h"
#include "platform/events/views.h"
#include "platform/services/sound.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <vector>

namespace {

using plat::FourCC;

constexpr FOURCHARCODE kClassApplication = FourCC("appl");
constexpr FOURCHARCODE kClassComboBox = FourCC("hicb");
constexpr uint32_t kComboItemSelected = 1;
constexpr uint32_t kControlHitTest = 3;
constexpr uint32_t kControlTrack = 51;
constexpr uint32_t kControlValueFieldChanged = 151;
constexpr uint32_t kWindowDrawContent = 2;
constexpr uint32_t kWindowZoom = 75;
constexpr FOURCHARCODE kCommandHelp = FourCC("ahlp");
constexpr FOURCHARCODE kCommandToolkitHelp = FourCC("ID9A");
constexpr FOURCHARCODE kCommandClose = FourCC("clos");
constexpr FOURCHARCODE kPopupTracking = FourCC("MPOP");
constexpr CONTROLID kHelpButtonId{FourCC("HELP"), 0};

constexpr plat::EventType kCallbackEventTypes[] = {
    {EVENTCLASS_VELMOT, EVENTKIND_VELMOTMESSAGE},
    {plat::kEventClassControl, 1}, {plat::kEventClassControl, 3}, {plat::kEventClassControl, 7},
    {plat::kEventClassControl, 9}, {plat::kEventClassControl, 10}, {plat::kEventClassControl, 51},
    {plat::kEventClassControl, 154}, {plat::kEventClassControl, 12}, {plat::kEventClassControl, 151},
    {plat::kEventClassControl, 158},
    {kClassComboBox, 1},
    {plat::kEventClassMouse, 2}, {plat::kEventClassMouse, 1}, {plat::kEventClassMouse, 5},
    {plat::kEventClassMouse, 6}, {plat::kEventClassMouse, 10},
    {plat::kEventClassKeyboard, 1}, {plat::kEventClassKeyboard, 2}, {plat::kEventClassKeyboard, 4},
    {plat::kEventClassKeyboard, 5}, {plat::kEventClassKeyboard, 6},
    {plat::kEventClassTextInput, 14}, {plat::kEventClassTextInput, 2},
};
static_assert(std::size(kCallbackEventTypes) == 24);

MSGWORD WindowWord(plat::WindowRef window, FOURCHARCODE tag)
{
    MSGWORD value = 0;
    size_t size = 0;
    if (plat::GetWindowProperty(window, VLMT_CREATOR, tag, &value, sizeof value, &size) != plat::kNoErr)
        return 0;
    if (size < sizeof value) {
        MSGWORD shorter = 0;
        plat::GetWindowProperty(window, VLMT_CREATOR, tag, &shorter, size);
        value = shorter;
    }
    return value;
}

void SetWindowWord(plat::WindowRef window, FOURCHARCODE tag, MSGWORD value)
{
    VERIFYSTATUS("err == 0 ", plat::SetWindowProperty(window, VLMT_CREATOR, tag, &value, sizeof value));
}

// The frame of the window around a content rectangle and back, by the
// frame the window system draws around this window.
RECT ClientToFrame(plat::WindowRef window, plat::RectI const& client)
{
    plat::RectI const c = plat::GetWindowBounds(window, false);
    plat::RectI const f = plat::GetWindowBounds(window, true);
    return RECT{client.left - (c.left - f.left), client.top - (c.top - f.top), client.right + (f.right - c.right),
                client.bottom + (f.bottom - c.bottom)};
}

plat::RectI FrameToClient(plat::WindowRef window, RECT const& frame)
{
    plat::RectI const c = plat::GetWindowBounds(window, false);
    plat::RectI const f = plat::GetWindowBounds(window, true);
    return plat::RectI{frame.left + (c.left - f.left), frame.top + (c.top - f.top), frame.right - (f.right - c.right),
                       frame.bottom - (f.bottom - c.bottom)};
}

// The deepest visible view under a point given in `parent`'s
// coordinates, searched front to back; null when no subview is hit.
plat::ViewRef FindControlUnderMouse(plat::ViewRef parent, plat::PointI point, int depth = 0)
{
    if (depth > 64)
        return nullptr;
    for (plat::ViewRef view : plat::GetSubviews(parent)) {
        if (!plat::IsViewLatentlyVisible(view))
            continue;
        plat::RectI const f = plat::GetViewFrame(view);
        if (point.x < f.left || point.x >= f.right || point.y < f.top || point.y >= f.bottom)
            continue;
        plat::ViewRef deeper = FindControlUnderMouse(view, plat::PointI{point.x - f.left, point.y - f.top}, depth + 1);
        return deeper ? deeper : view;
    }
    return nullptr;
}

MSGWORD PackPoint(int x, int y)
{
    return static_cast<MSGWORD>(static_cast<uint16_t>(x)) | (static_cast<MSGWORD>(static_cast<uint16_t>(y)) << 16);
}

std::string CodeText(uint32_t code)
{
    return plat::FourCCText(code);
}

} // namespace

WINDOWCALLBACKS::~WINDOWCALLBACKS()
{
    fCallbackWindow = nullptr;
    fCallbackView = nullptr;
}

void WINDOWCALLBACKS::SetCallbackWindow(plat::WindowRef window, TEventHandler& handler)
{
    TARVOAPP::CheckCallerThread("WINDOWCALLBACKS::SetCallbackWindow");
    fCallbackWindow = window;
    fCallbackView = nullptr;
    RegisterForCallbackEvents(handler, false);
}

void WINDOWCALLBACKS::SetCallbackView(plat::ViewRef view, TEventHandler& handler)
{
    TARVOAPP::CheckCallerThread("WINDOWCALLBACKS::SetCallbackView");
    fCallbackView = view;
    fCallbackWindow = nullptr;
    // The platform reports mouse movement over every view without a
    // tracking area of its own.
    RegisterForCallbackEvents(handler, false);
}

void WINDOWCALLBACKS::SetCallbackApp(TEventHandler& handler)
{
    TARVOAPP::CheckCallerThread("WINDOWCALLBACKS::SetCallbackApp");
    fCallbackWindow = nullptr;
    fCallbackView = nullptr;
    RegisterForCallbackEvents(handler, true);
}

void WINDOWCALLBACKS::RegisterForCallbackEvents(TEventHandler& handler, bool app)
{
    plat::Status err = handler.RegisterForEvents(app ? 1 : std::size(kCallbackEventTypes), kCallbackEventTypes);
    VERIFYSTATUS("err == 0 ", err);
    OnCreate();
}

plat::Status WINDOWCALLBACKS::HandleEventForCallback(plat::HandlerCall* call, TCarbonEvent& event, bool* recognised)
{
    bool known = false;
    bool handled = false;
    FOURCHARCODE const cls = event.GetClass();
    uint32_t const kind = event.GetKind();
    if (cls == kClassComboBox) {
        plat::ViewRef control = nullptr;
        event.GetParameter(plat::kParamDirectObject, plat::kTypeView, &control);
        if (kind == kComboItemSelected && control) {
            known = true;
            handled = OnControlEvent(CONTROLEVENT_SELECTED, CONTROL(control), nullptr);
        }
    } else if (cls == kClassApplication) {
        LOGIT("WINDOWCALLBACKS::HandleEventForCallback kEventClassApplication %.4s\n", CodeText(kind).c_str());
    } else if (cls == EVENTCLASS_VELMOT) {
        known = true;
        handled = HandleToolkitMessage(event);
    } else if (cls == plat::kEventClassCommand) {
        known = true;
        handled = HandleCommandEvent(event);
    } else if (cls == plat::kEventClassWindow) {
        handled = HandleWindowEvent(event);
    } else if (cls == plat::kEventClassControl) {
        handled = HandleControlEvent(event, &known);
    } else if (cls == plat::kEventClassMouse) {
        handled = HandleMouseClass(event, &known);
    } else if (cls == plat::kEventClassKeyboard || cls == plat::kEventClassTextInput) {
        known = true;
        handled = HandleKeyboardClass(call, event);
    }
    if (known && recognised)
        *recognised = true;
    return handled ? plat::kNoErr : plat::kErrEventNotHandled;
}

bool WINDOWCALLBACKS::HandleToolkitMessage(TCarbonEvent& event)
{
    plat::WindowRef window = nullptr;
    plat::ViewRef view = nullptr;
    event.GetParameter(VPARAM_TARGETWINDOW, plat::kTypeWindow, &window);
    event.GetParameter(VPARAM_TARGETVIEW, plat::kTypeView, &view);
    // A message for another object is left to the next handler (it climbs
    // from a view to its window and on to the application).
    if (fCallbackView) {
        if (view != fCallbackView)
            return false;
    } else if (fCallbackWindow) {
        if (window != fCallbackWindow)
            return false;
    } else if (window || view) {
        return false;
    }

    MSGWORD const msg = event.GetWord(VPARAM_MESSAGE);
    MSGWORD const p1 = event.GetWord(VPARAM_P1);
    MSGWORD const p2 = event.GetWord(VPARAM_P2);
    MSGWORD const p3 = event.GetWord(VPARAM_P3);
    if (msg >= WM_USER && msg <= WM_USERMESSAGEEND) {
        event.SetWord(VPARAM_RESULT, OnUserMessage(static_cast<int>(msg), p1, p2));
        return true;
    }
    switch (msg) {
    case WM_DELIVERYPROBE:
        event.SetWord(VPARAM_RESULT, DELIVERYPROBE_OKAY);
        break;
    case WM_GENERICALERT: {
        int16_t button = DARWINDOW::GenericAlertCore(static_cast<int>(p1), reinterpret_cast<char const*>(p2),
                                                     reinterpret_cast<ALERTPARAMS const*>(p3));
        event.SetWord(VPARAM_RESULT, static_cast<MSGWORD>(static_cast<intptr_t>(button)));
        break;
    }
    case WM_VTIMER: {
        auto const id = static_cast<uint32_t>(p1);
        auto const stamp = static_cast<uint32_t>(p3);
        plat::WindowRef const w = fCallbackView ? nullptr : fCallbackWindow;
        if (!WINTIMER::GetInstance()->IsTimerValid(id, w, fCallbackView, stamp)) {
            LOGIT("EVENTCLASS_VELMOT stale WM_TIMER %d received on %p/%p (%.3lf sec. late)\n", static_cast<int>(id),
                  static_cast<void*>(fCallbackWindow), static_cast<void*>(fCallbackView),
                  plat::StampAge(stamp, plat::NowMs()) / 1000.0);
        } else if (id < TIMERID_TOOLKIT) {
            OnTimer(static_cast<int>(id));
        } else if (id == TIMERID_MOUSECAPTURE) {
            HandleMouseTimer(id);
        } else {
            char text[16];
            std::snprintf(text, sizeof text, "%u", id);
            AssertMsg(0, "FALSE", __FILE__, __LINE__, text, false);
        }
        break;
    }
    case WM_VMOUSE: {
        int const x = static_cast<int16_t>(p2 & 0xFFFF);
        int const y = static_cast<int16_t>((p2 >> 16) & 0xFFFF);
        bool r = OnMouseEvent(static_cast<int>(p1), x, y, static_cast<int>(static_cast<intptr_t>(p3)));
        event.SetWord(VPARAM_RESULT, r);
        break;
    }
    case WM_VCONTROL: {
        CONTROL control(reinterpret_cast<plat::ViewRef>(p2));
        event.SetWord(VPARAM_RESULT, OnControlEvent(static_cast<int>(p1), control, reinterpret_cast<void*>(p3)));
        break;
    }
    case WM_VCOMMAND:
        event.SetWord(VPARAM_RESULT, OnCommand(static_cast<uint32_t>(p1)));
        break;
    default:
        break;
    }
    // A waiting sender is released by the platform once this handler has
    // returned, so it always sees the result stored above.
    return true;
}

bool WINDOWCALLBACKS::HandleCommandEvent(TCarbonEvent& event)
{
    plat::CommandRecord cmd;
    event.GetParameter(plat::kParamDirectObject, plat::kTypeCommand, &cmd);
    uint32_t const kind = event.GetKind();
    LOGIT("WINDOWCALLBACKS::HandleEventForCallback kEventClassCommand %.4s %.4s\n", CodeText(kind).c_str(),
          CodeText(cmd.commandId).c_str());
    bool popup = false;
    bool sheet = false;
    if (fCallbackWindow) {
        popup = WindowWord(fCallbackWindow, WPROP_POPUP) == kPopupTracking;
        if (!popup && !plat::IsWindowActive(fCallbackWindow)) {
            LOGIT("WINDOWCALLBACKS::HandleEventForCallback kEventClassCommand ignored command for inactive window\n");
            return false;
        }
        plat::WindowRef sheetWindow = reinterpret_cast<plat::WindowRef>(WindowWord(fCallbackWindow, WPROP_SHEET));
        sheet = sheetWindow && plat::IsWindowValid(sheetWindow);
    }
    if (kind == plat::kEventCommandUpdateStatus)
        return cmd.commandId == kCommandClose;
    if (kind != plat::kEventCommandProcess)
        return false;
    bool handled = false;
    uint32_t id = cmd.commandId;
    if (cmd.attributes & plat::kCommandFromMenu) {
        if (id == kCommandHelp)
            id = kCommandToolkitHelp;
        if (popup) {
            // The pop-up's owner reads the choice back from the property.
            SetWindowWord(fCallbackWindow, WPROP_POPUP, id);
            handled = true;
        } else if (sheet) {
            LOGIT("WINDOWCALLBACKS::HandleEventForCallback ignored command for modal window\n");
            plat::PlayAlert();
        } else if (id) {
            handled = OnCommand(id);
        }
    }
    if ((cmd.attributes & plat::kCommandFromControl) && cmd.source) {
        auto source = reinterpret_cast<plat::ViewRef>(cmd.source);
        if (plat::IsViewValid(source) && plat::GetViewKind(source) == CONTROLKIND_TOOLBARITEM)
            handled = OnCommand(id);
    }
    if ((cmd.attributes & plat::kCommandFromWindow) && cmd.source)
        handled = false;
    return handled;
}

bool WINDOWCALLBACKS::HandleWindowEvent(TCarbonEvent& event)
{
    uint32_t const kind = event.GetKind();
    LOGIT("WINDOWCALLBACKS::HandleEventForCallback kEventClassWindow %d\n", static_cast<int>(kind));
    if (!fCallbackWindow)
        return false;
    plat::WindowRef window = nullptr;
    event.GetParameter(plat::kParamDirectObject, plat::kTypeWindow, &window);
    if (window != fCallbackWindow)
        return false;
    switch (kind) {
    case kWindowDrawContent:
        return OnPaint() != 0;
    case plat::kEventWindowActivated:
        // Input methods follow the focus by themselves here; there is no
        // text-services document to activate.
        return OnActivated();
    case plat::kEventWindowDeactivated:
        fPressView = nullptr; // a gesture does not outlive the activation
        OnDeactivated();
        return HandleMouseEvent(WM_MOUSEMOVE, -100, -100, 0);
    case plat::kEventWindowShown:
        return OnShown();
    case plat::kEventWindowHidden:
        return OnHidden();
    case plat::kEventWindowBoundsChanging:
        return HandleBoundsChanging(event);
    case plat::kEventWindowBoundsChanged: {
        LOGIT("WINDOWCALLBACKS::HandleEventForCallback kEventClassWindow kEventWindowBoundsChanged\n");
        return HandleBoundsChanged(event);
    }
    case plat::kEventWindowCollapsed:
        return OnMinimized();
    case plat::kEventWindowExpanded:
        return OnRestored();
    case plat::kEventWindowClose:
        return OnClose();
    case kWindowZoom:
        return HandleZoom();
    case plat::kEventWindowFocusAcquired:
        return OnFocusAcquired();
    case plat::kEventWindowFocusRelinquish:
        return OnFocusLost();
    case plat::kEventWindowFullScreenEnterStarted:
        LOGIT("WINDOWCALLBACKS::HandleEventForCallback kEventClassWindow kEventWindowFullScreenEnterStarted\n");
        SetWindowWord(fCallbackWindow, WPROP_FULLSCREEN, 1);
        return false;
    case plat::kEventWindowFullScreenEnterCompleted:
        LOGIT("WINDOWCALLBACKS::HandleEventForCallback kEventClassWindow kEventWindowFullScreenEnterCompleted\n");
        return false;
    case plat::kEventWindowFullScreenExitStarted:
        LOGIT("WINDOWCALLBACKS::HandleEventForCallback kEventClassWindow kEventWindowFullScreenExitStarted\n");
        SetWindowWord(fCallbackWindow, WPROP_FULLSCREEN, 0);
        return false;
    case plat::kEventWindowFullScreenExitCompleted:
        LOGIT("WINDOWCALLBACKS::HandleEventForCallback kEventClassWindow kEventWindowFullScreenExitCompleted\n");
        return false;
    case plat::kEventWindowInit:
        return OnCreate();
    case plat::kEventWindowDispose:
        return OnDestroy();
    default:
        return false;
    }
}

// A window or view that was moved or resized: OnSized, then OnMoved, for
// what changed.
bool WINDOWCALLBACKS::HandleBoundsChanged(TCarbonEvent& event)
{
    uint32_t attrs = 0;
    event.GetParameter(plat::kParamAttributes, plat::kTypeUInt32, &attrs);
    bool handled = false;
    if (attrs & plat::kBoundsSizeChanged)
        handled = OnSized() || handled;
    if (attrs & plat::kBoundsOriginChanged)
        handled = OnMoved() || handled;
    return handled;
}

bool WINDOWCALLBACKS::HandleBoundsChanging(TCarbonEvent& event)
{
    plat::RectI prev, cur;
    event.GetParameter(plat::kParamPreviousBounds, plat::kTypeIntRect, &prev);
    if (event.GetParameter(plat::kParamCurrentBounds, plat::kTypeIntRect, &cur) != plat::kNoErr)
        return false;
    LOGIT("WINDOWCALLBACKS::HandleEventForCallback kEventClassWindow kEventWindowBoundsChanging: %d/%d/%d/%d -> "
          "%d/%d/%d/%d \n",
          prev.left, prev.top, prev.right, prev.bottom, cur.left, cur.top, cur.right, cur.bottom);
    if (prev.Width() == cur.Width() && prev.Height() == cur.Height())
        return false;
    uint32_t edges = 0;
    if (prev.left != cur.left)
        edges |= SIZINGEDGE_LEFT;
    if (prev.right != cur.right)
        edges |= SIZINGEDGE_RIGHT;
    if (prev.top != cur.top)
        edges |= SIZINGEDGE_TOP;
    if (prev.bottom != cur.bottom)
        edges |= SIZINGEDGE_BOTTOM;
    RECT frame = ClientToFrame(fCallbackWindow, cur);
    if (!OnSizing(&frame, edges))
        return false;
    plat::RectI wanted = FrameToClient(fCallbackWindow, frame);
    if (wanted == cur)
        return false;
    event.SetParameter(plat::kParamCurrentBounds, plat::kTypeIntRect, wanted);
    return true;
}

bool WINDOWCALLBACKS::HandleZoom()
{
    RECT saved;
    size_t size = 0;
    bool have = plat::GetWindowProperty(fCallbackWindow, VLMT_CREATOR, WPROP_ZOOM, &saved, sizeof saved, &size) ==
                    plat::kNoErr &&
                size == sizeof saved && saved.right != 0;
    if (have) {
        // The second zoom: back to the rectangle before the first.
        plat::SetWindowBounds(fCallbackWindow, plat::RectI{saved.left, saved.top, saved.right, saved.bottom});
        RECT const none{};
        plat::SetWindowProperty(fCallbackWindow, VLMT_CREATOR, WPROP_ZOOM, &none, sizeof none);
        return true;
    }
    plat::RectI const now = plat::GetWindowBounds(fCallbackWindow, false);
    RECT const keep{now.left, now.top, now.right, now.bottom};
    plat::SetWindowProperty(fCallbackWindow, VLMT_CREATOR, WPROP_ZOOM, &keep, sizeof keep);
    return false; // the window system zooms the window
}

bool WINDOWCALLBACKS::HandleControlEvent(TCarbonEvent& event, bool* recognised)
{
    plat::ViewRef control = nullptr;
    event.GetParameter(plat::kParamDirectObject, plat::kTypeView, &control);
    if (!control || !plat::IsViewValid(control))
        return false;
    int32_t part = 0;
    event.GetParameter(plat::kParamControlPart, plat::kTypeSInt32, &part);
    bool const self = fCallbackView && control == fCallbackView;
    bool belongs = false;
    if (fCallbackView)
        belongs = self || plat::GetSuperview(control) == fCallbackView;
    else if (fCallbackWindow)
        belongs = plat::GetViewWindow(control) == fCallbackWindow;
    if (!belongs)
        return false;

    switch (event.GetKind()) {
    case plat::kEventControlHit: {
        FOURCHARCODE const kind = plat::GetViewKind(control);
        plat::ViewId const vid = plat::GetViewId(control);
        CONTROLID const id{vid.signature, vid.id};
        if (kind == CONTROLKIND_PUSH || kind == CONTROLKIND_PICTUREPUSH || kind == CONTROLKIND_ROUND ||
            kind == CONTROLKIND_BEVEL)
            return id == kHelpButtonId ? OnHelp() : OnPushbutton(id);
        if (kind == CONTROLKIND_SCROLLBAR || kind == CONTROLKIND_SLIDER)
            return HandleScrollHit(control, part, recognised);
        int code = 0;
        void* data = nullptr;
        if (kind == CONTROLKIND_RADIO || kind == CONTROLKIND_CHECKBOX || kind == CONTROLKIND_DISCLOSURE ||
            kind == CONTROLKIND_USERPANE)
            code = CONTROLEVENT_CLICKED;
        else if (kind == CONTROLKIND_EDITTEXT || kind == CONTROLKIND_EDITUNICODE)
            code = CONTROLEVENT_EDITED;
        else if (kind == CONTROLKIND_POPUP || kind == CONTROLKIND_POPUPGROUP || kind == CONTROLKIND_COMBOBOX)
            code = CONTROLEVENT_SELECTED;
        else if (kind == CONTROLKIND_TABS)
            code = CONTROLEVENT_TABCHANGED;
        else if (kind == CONTROLKIND_LITTLEARROWS) {
            code = CONTROLEVENT_ARROWS;
            data = reinterpret_cast<void*>(static_cast<intptr_t>(plat::GetViewValue(control)));
        }
        return code ? OnControlEvent(code, CONTROL(control), data) : false;
    }
    case kControlHitTest:
        return true;
    case plat::kEventControlSetFocusPart:
        if (self) {
            if (part == 0)
                OnFocusLost();
            else
                OnFocusAcquired();
        }
        return false;
    case kControlTrack:
        LOGIT("kEventControlTrack\n");
        return false;
    case kControlValueFieldChanged:
        LOGIT("kEventControlValueFieldChanged\n");
        return false;
    case plat::kEventControlBoundsChanged: {
        if (!self)
            return false;
        return HandleBoundsChanged(event);
    }
    case plat::kEventControlDispose:
        if (self) {
            LOGIT("kEventControl on destroy\n");
            OnDestroy();
        }
        return false;
    default:
        return false;
    }
}

bool WINDOWCALLBACKS::HandleScrollHit(plat::ViewRef control, int part, bool* recognised)
{
    int code;
    switch (part) {
    case 20:
        code = SCROLL_LINEUP;
        break;
    case 21:
        code = SCROLL_LINEDOWN;
        break;
    case 22:
        code = SCROLL_PAGEUP;
        break;
    case 23:
        code = SCROLL_PAGEDOWN;
        break;
    case 129:
        code = SCROLL_THUMB;
        break;
    default:
        return false;
    }
    int position = plat::GetViewValue(control);
    plat::RectI const frame = plat::GetViewFrame(control);
    if (plat::GetViewKind(control) == CONTROLKIND_SLIDER && frame.Height() > frame.Width()) {
        // A vertical slider has its minimum at the bottom; the program
        // counts from the top.
        int const invertoffset = plat::GetViewMaximum(control) + plat::GetViewMinimum(control);
        VASSERT(invertoffset >= position, "invertoffset>=pos", nullptr);
        position = invertoffset - position;
    }
    *recognised = true;
    return OnScrollEvent(code, CONTROL(control), position);
}

bool WINDOWCALLBACKS::HandleMouseClass(TCarbonEvent& event, bool* recognised)
{
    uint32_t button = 0;
    uint32_t modifiers = 0;
    plat::PointF where;
    event.GetParameter(plat::kParamMouseButton, plat::kTypeUInt32, &button);
    event.GetParameter(plat::kParamMouseInWindow, plat::kTypePoint, &where);
    event.GetParameter(plat::kParamKeyModifiers, plat::kTypeUInt32, &modifiers);
    int const x = static_cast<int>(std::trunc(where.x));
    int const y = static_cast<int>(std::trunc(where.y));
    // The buttons held after the event. A gesture belongs to the view that
    // got its first press; it ends when no button is held (an event that
    // does not tell ends it too).
    uint32_t chord = 0;
    event.GetParameter(plat::kParamMouseChord, plat::kTypeUInt32, &chord);
    uint32_t const kind = event.GetKind();
    if (kind == plat::kEventMouseDown && button >= 1 && button <= 3)
        fPressStarts = chord == (1u << (button - 1));
    struct GestureEnd {
        WINDOWCALLBACKS* self;
        uint32_t chord;
        bool wheel;
        ~GestureEnd()
        {
            self->fPressStarts = false;
            if (!chord && !wheel)
                self->fPressView = nullptr;
        }
    } const end{this, chord, kind == plat::kEventMouseWheel};
    // Caps Lock is not Shift: a click with Caps Lock on is a plain click.
    int flags = 0;
    if (modifiers & plat::kModControl)
        flags |= MK_CONTROL;
    if (modifiers & plat::kModShift)
        flags |= MK_SHIFT;

    switch (kind) {
    case plat::kEventMouseDown:
    case plat::kEventMouseUp: {
        if (button < 1 || button > 3)
            return false; // the extra buttons have no Windows message here
        int message = static_cast<int>(button) * 3 + 0x1FE + (kind == plat::kEventMouseUp ? 1 : 0);
        if ((message == WM_LBUTTONDOWN || message == WM_LBUTTONUP) && flags == MK_CONTROL) {
            message += 3;
            flags = MK_CONTROLCLICK;
        }
        return HandleMouseEvent(message, x, y, flags);
    }
    case plat::kEventMouseMoved:
    case plat::kEventMouseDragged:
        return HandleMouseEvent(WM_MOUSEMOVE, x, y, flags);
    case plat::kEventMouseWheel: {
        uint32_t axis = 0;
        int32_t delta = 0;
        plat::Status err = event.GetParameter(plat::kParamWheelAxis, plat::kTypeUInt32, &axis);
        if (!VERIFYSTATUS("err == 0 ", err))
            return false;
        // Only the vertical wheel has a Windows message here; horizontal
        // turns go on to the platform, which scrolls what can scroll
        // sideways.
        if (axis != 1)
            return false;
        *recognised = true;
        err = event.GetParameter(plat::kParamWheelDelta, plat::kTypeSInt32, &delta);
        if (!VERIFYSTATUS("err == 0 ", err))
            return true;
        return HandleMouseEvent(WM_MOUSEWHEEL, x, y, delta);
    }
    default:
        return false;
    }
}

bool WINDOWCALLBACKS::HandleMouseEvent(int message, int x, int y, int flags)
{
    if (!fCallbackWindow || !plat::IsWindowActive(fCallbackWindow))
        return false;
    plat::ViewRef const root = plat::WindowRootView(fCallbackWindow);
    plat::ViewRef const client = plat::WindowContentView(fCallbackWindow);
    plat::PointI const inWindow{x, y};
    plat::ViewRef target = nullptr;
    auto capture = reinterpret_cast<plat::ViewRef>(WindowWord(fCallbackWindow, WPROP_CAPTURE));
    if (capture) {
        if (!plat::IsViewValid(capture)) {
            VerifyFailed("::HIViewIsValid(fcontrolmousecapture)", __FILE__, __LINE__, plat::kErrTargetGone);
            LOGIT("WINDOWCALLBACKS::HandleMouseEvent redirects to mouse-capture %p\n", static_cast<void*>(capture));
            plat::RemoveWindowProperty(fCallbackWindow, VLMT_CREATOR, WPROP_CAPTURE);
        } else {
            LOGIT("WINDOWCALLBACKS::HandleMouseEvent redirects to mouse-capture %p\n", static_cast<void*>(capture));
            target = capture;
        }
    }
    if (fPressView && !plat::IsViewValid(fPressView))
        fPressView = nullptr;
    if (!target && fPressView && !fPressStarts)
        target = fPressView;
    if (!target && client)
        target = FindControlUnderMouse(client, plat::ConvertViewPoint(inWindow, root, client));
    if (fPressStarts) {
        fPressView = target;
        fPressStarts = false;
    }
    if (!target)
        return false;
    plat::PointI const local = plat::ConvertViewPoint(inWindow, root, target);
    DARWINDOW::SendMessage(target, WM_VMOUSE, static_cast<MSGWORD>(message), PackPoint(local.x, local.y),
                           static_cast<MSGWORD>(static_cast<intptr_t>(flags)));
    // A data browser scrolls by itself: its wheel turns go on to the
    // platform.
    return message == WM_MOUSEWHEEL && plat::GetViewKind(target) != CONTROLKIND_DATABROWSER;
}

bool WINDOWCALLBACKS::HandleMouseTimer(uint32_t id)
{
    if (!fCallbackView) {
        AssertMsg(0, "this->fCallbackView", __FILE__, __LINE__, nullptr, false);
        return false;
    }
    plat::WindowRef const window = plat::GetViewWindow(fCallbackView);
    if (!window)
        return false;
    plat::PointI const screen = plat::GetMousePosition();
    plat::RectI const content = plat::GetWindowBounds(window, false);
    plat::PointI const mouse{screen.x - content.left, screen.y - content.top};
    if (mouse.x == fLastMouse.x && mouse.y == fLastMouse.y)
        return false;
    fLastMouse = mouse;
    plat::ViewRef const root = plat::WindowRootView(window);
    plat::PointI const origin = plat::ConvertViewPoint(plat::PointI{0, 0}, fCallbackView, root);
    plat::RectI const frame = plat::GetViewFrame(fCallbackView);
    int const right = origin.x + frame.Width();
    int const bottom = origin.y + frame.Height();
    if (mouse.x >= origin.x && mouse.x < right && mouse.y >= origin.y && mouse.y < bottom)
        return false; // inside, the normal mouse events do the work
    int const rx = mouse.x - origin.x;
    int const ry = mouse.y - origin.y;
    LOGIT("WINDOWCALLBACKS::HandleMouseTimer will send WM_MOUSEMOVE %d,%d\n", rx, ry);
    return DARWINDOW::SendMessage(fCallbackView, WM_VMOUSE, WM_MOUSEMOVE, PackPoint(rx, ry), 0) != 0;
}

bool WINDOWCALLBACKS::HandleKeyboardClass(plat::HandlerCall* call, TCarbonEvent& event)
{
    LOGIT("kEventClassTextInput\n");
    // Room for five records as a key needs; typed text (an input method's
    // result) may need one per character.
    size_t room = 5;
    if (event.GetClass() == plat::kEventClassTextInput && event.GetKind() == plat::kEventTextForKey) {
        size_t bytes = 0;
        event.GetEventRef().GetParamBytes(plat::kParamText, plat::kTypeUTF32, nullptr, 0, &bytes);
        room = std::clamp<size_t>(bytes / sizeof(char32_t), 5, 4096);
    }
    std::vector<KEYBOARDEVENT> keys(room);
    int count = static_cast<int>(room);
    bool consumed = false;
    KEYBOARD::GetInstance()->HandleKeyboardEvent(call, event, keys.data(), &count, &consumed);
    bool handled = false;
    for (int i = 0; i < count; ++i) {
        if (!keys[static_cast<size_t>(i)].Valid)
            continue;
        handled = consumed ? OnRawKeyboardEvent(keys[static_cast<size_t>(i)])
                           : OnKeyboardEvent(keys[static_cast<size_t>(i)]);
    }
    return handled;
}
