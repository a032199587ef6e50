#include "velmot/gui/windows.h"

#include "velmot/core/checksums.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osyssync.h"
#include "velmot/core/registry.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winentry.h"
#include "velmot/gui/helpfile.h"
#include "velmot/gui/wintimer.h"

#include "platform/draw/context.h"
#include "platform/events/paint.h"
#include "platform/events/windowstate.h"
#include "platform/services/dispatch.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

constexpr uint32_t kDocumentAttributes = 0x1218001F;
constexpr uint32_t kUtilityAttributes = 0x02180200;

uint32_t Crc32(char const* text)
{
    CRC crc;
    crc.Value = 0xFFFFFFFF;
    crc.UpdateCrc(text, static_cast<uint32_t>(std::strlen(text)));
    return ~crc.Value;
}

RECT ToRECT(plat::RectI const& r)
{
    return RECT{r.left, r.top, r.right, r.bottom};
}

// The content view's rectangle in screen coordinates.
plat::RectI ClientOnScreen(plat::WindowRef window)
{
    plat::ViewRef const content = plat::WindowContentView(window);
    plat::RectI const top = plat::GetWindowBounds(window, false);
    plat::PointI const o = plat::ConvertViewPoint(plat::PointI{0, 0}, content, plat::WindowRootView(window));
    plat::RectI const f = plat::GetViewFrame(content);
    return plat::RectI{top.left + o.x, top.top + o.y, top.left + o.x + f.Width(), top.top + o.y + f.Height()};
}

plat::RectI FirstDisplay()
{
    std::vector<plat::RectI> displays = plat::GetDisplayBounds();
    return displays.empty() ? plat::RectI{0, 0, 800, 600} : displays.front();
}

bool Intersects(plat::RectI const& a, plat::RectI const& b)
{
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Entry fields whose layout gives them rules (digits only, a longest
// length, taking Return) get the handler that applies them, as though the
// program had set them.
void ApplyLayoutFieldRules(plat::ViewRef container)
{
    for (plat::ViewRef view : plat::GetSubviews(container)) {
        FOURCHARCODE const kind = plat::GetViewKind(view);
        if (kind == CONTROLKIND_EDITUNICODE || kind == CONTROLKIND_EDITTEXT) {
            ENTRYFIELD field(view);
            if (field.GetControlProperty(CPROP_NUMBERSONLY) || field.GetControlProperty(CPROP_TEXTLENGTH) ||
                field.GetControlProperty(CPROP_WANTRETURN))
                field.InstallHandler();
        }
        ApplyLayoutFieldRules(view);
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Construction

WINDOW::WINDOW(uint32_t style, char const* title, int x, int y, int cx, int cy, plat::WindowRef owner,
               char const* helpid, char const* menu, char const* classname, void*)
{
    TARVOAPP::CheckCallerThread("WINDOW::WINDOW");
    LOGIT("WINDOW::WINDOW style= %08lx, title= %s\n", static_cast<unsigned long>(style), title ? title : "");
    VASSERT(owner == nullptr, "owner==HWND_DESKTOP", nullptr);
    if (style == WINDOWSTYLE_DOCUMENT || style == WINDOWSTYLE_UTILITY) {
        if (cx == 0)
            cx = 600;
        if (cy == 0)
            cy = 400;
        RECT const bounds{x, y, x + cx, y + cy};
        bool const document = style == WINDOWSTYLE_DOCUMENT;
        plat::Status err = CreateNewWindow(document ? WINDOWCLASS_DOCUMENT : WINDOWCLASS_UTILITY,
                                           document ? kDocumentAttributes : kUtilityAttributes, &bounds, helpid);
        if (err == plat::kNoErr)
            err = CreateMenu(menu, nullptr);
        VASSERT(err == plat::kNoErr, "err==noErr", nullptr);
        if (fWindow) {
            SetCallbackWindow(fWindow, *this);
            SetText(title);
            if (classname)
                SetWindowProperty(WPROP_CLASSCRC, Crc32(classname));
            if (TARVOAPP::TestArg("USETSM"))
                LOGIT("WINDOW::WINDOW USETSM: input methods follow the focus by themselves here\n");
        }
    }
    VASSERT(IsValid(), "this->IsValid()", nullptr);
    LOGIT("WINDOW::WINDOW done, valid= %d, handle= %p\n", IsValid() ? 1 : 0, static_cast<void*>(fWindow));
}

WINDOW::WINDOW(char const* name, plat::WindowRef, NIBBUNDLE bundle)
{
    TARVOAPP::CheckCallerThread("WINDOW::WINDOW");
    InitFromResource(name, nullptr, bundle);
    VASSERT(fWindow != nullptr, "this->fWindow", name);
    if (fWindow) {
        ApplyLayoutFieldRules(GetClientView());
        SetCallbackWindow(fWindow, *this);
    }
}

WINDOW::WINDOW(plat::WindowRef window) : DARWINDOW(window) {}

WINDOW::WINDOW(CONTROLPARENT const& parent) : DARWINDOW(plat::GetViewWindow(parent.view)) {}

WINDOW::WINDOW(WINDOW const& other) : DARWINDOW(other.fWindow), WINDOWCALLBACKS() {}

WINDOW& WINDOW::operator=(DARWINDOW const& other)
{
    DARWINDOW::operator=(other);
    return *this;
}

WINDOW::~WINDOW()
{
    if (fHandlerSet && fWindow && plat::IsWindowValid(fWindow)) {
        if (GetWindowProperty(WPROP_TRANSPARENT))
            SetClientAreaTransparency(false, false);
        WINTIMER::GetInstance()->DisposeTimers(fWindow, nullptr);
        DARWINDOW::Destroy();
    }
    SourceWindowDispose();
}

int WINDOW::Destroy()
{
    return DARWINDOW::Destroy();
}

bool WINDOW::IsValid() const
{
    return fWindow && plat::IsWindowValid(fWindow);
}

// ---------------------------------------------------------------------------
// Events

plat::Status WINDOW::HandleEvent(plat::HandlerCall* call, TCarbonEvent& event)
{
    bool taken = false;
    plat::Status rc = HandleEventForCallback(call, event, &taken);
    // What a callback took is handled, whether or not the dispatch counts
    // the event's class as one it translates.
    bool handled = rc == plat::kNoErr;
    FOURCHARCODE const cls = event.GetClass();
    if (cls == EVENTCLASS_VELMOT || cls == plat::kEventClassCommand) {
        VASSERT(taken, "enforcerc==TRUE", nullptr);
    } else if (cls == plat::kEventClassControl && event.GetKind() == plat::kEventControlHit) {
        plat::ViewRef view = nullptr;
        event.GetParameter(plat::kParamDirectObject, plat::kTypeView, &view);
        CONTROL control(view);
        if (control.IsControlOfKind(CONTROLKIND_RADIO))
            HandleAutoRadioButton(control);
        else if (control.IsControlOfKind(CONTROLKIND_CHECKBOX))
            HandleAutoCheckbox(control);
    } else if (cls == plat::kEventClassControl && event.GetKind() == plat::kEventControlDraw) {
        plat::PainterRef painter = nullptr;
        event.GetParameter(plat::kParamDrawContext, plat::kTypePainter, &painter);
        std::unique_ptr<plat::DrawContext> context = plat::DrawContext::ForPainter(painter);
        if (context) {
            RECT const bounds = GetClientRect();
            plat::RectI update{};
            RECT const area = event.GetParameter(plat::kParamUpdateRect, plat::kTypeIntRect, &update) == plat::kNoErr
                                  ? ToRECT(update)
                                  : bounds;
            handled = OnWindowPaint(context.get(), bounds, area) != 0;
        }
    }
    return handled ? plat::kNoErr : plat::kErrEventNotHandled;
}

bool WINDOW::OnHelp()
{
    // The window's topic; failing that, the program's main topic (unless
    // none was set).
    HELPFILE* help = HELPFILE::GetInstance();
    if (!help->IsValid()) {
        LOGIT("WINDOW::OnHelp no help file\n");
        return false;
    }
    if (!help->Display(GetClientParent()) && strcmp(help->MainTopic.Buf(), "-1") != 0)
        help->Display(help->MainTopic.Buf());
    return false;
}

int WINDOW::OnWindowPaint(plat::DrawContext* context, RECT const&, RECT const& update)
{
    if (!GetWindowProperty(WPROP_TRANSPARENT) || !context)
        return 0;
    context->ClearRect(plat::Rect{static_cast<double>(update.left), static_cast<double>(update.top),
                                  static_cast<double>(update.right - update.left),
                                  static_cast<double>(update.bottom - update.top)});
    return 1;
}

// ---------------------------------------------------------------------------
// Geometry and state

RECT WINDOW::GetRect() const
{
    TARVOAPP::CheckCallerThread("WINDOW::GetRect");
    if (!fWindow)
        return ToRECT(FirstDisplay());
    return ToRECT(plat::GetWindowBounds(fWindow, true));
}

SIZE WINDOW::GetSize() const
{
    RECT const r = GetRect();
    return SIZE{r.right - r.left, r.bottom - r.top};
}

RECT WINDOW::GetClientRect() const
{
    TARVOAPP::CheckCallerThread("WINDOW::GetClientRect");
    plat::RectI const f = plat::GetViewFrame(plat::WindowContentView(fWindow));
    return RECT{0, 0, f.Width(), f.Height()};
}

SIZE WINDOW::GetClientSize() const
{
    RECT const r = GetClientRect();
    return SIZE{r.right - r.left, r.bottom - r.top};
}

bool WINDOW::Move(int x, int y, int cx, int cy) const
{
    TARVOAPP::CheckCallerThread("WINDOW::Move");
    plat::RectI const f = plat::GetWindowBounds(fWindow, true);
    plat::RectI const c = plat::GetWindowBounds(fWindow, false);
    int const dl = c.left - f.left;
    int const dt = c.top - f.top;
    plat::RectI target;
    if (cx == -1 && cy == -1)
        target = plat::RectI{x + dl, y + dt, x + dl + c.Width(), y + dt + c.Height()};
    else
        target = plat::RectI{x + dl, y + dt, x + cx - (f.right - c.right), y + cy - (f.bottom - c.bottom)};
    return VERIFYSTATUS("err == 0 ", plat::SetWindowBounds(fWindow, target));
}

bool WINDOW::Size(int cx, int cy) const
{
    RECT const r = GetRect();
    return Move(r.left, r.top, cx, cy);
}

int WINDOW::Show(bool show) const
{
    TARVOAPP::CheckCallerThread("WINDOW::Show");
    VERIFYSTATUS("err == 0 ", plat::ShowWindow(fWindow, show));
    return 1;
}

bool WINDOW::IsVisible() const
{
    return plat::IsWindowVisible(fWindow);
}

bool WINDOW::IsMinimized() const
{
    return plat::IsWindowCollapsed(fWindow);
}

bool WINDOW::IsMaximized() const
{
    // The window system tells whether the window is zoomed; the zoom box
    // of the event translation and Maximize keep the rectangle before.
    return plat::IsWindowZoomed(fWindow) || GetWindowProperty(WPROP_FULLSCREEN) != 0;
}

bool WINDOW::IsForegroundWindow() const
{
    return plat::IsWindowActive(fWindow);
}

bool WINDOW::IsFocused() const
{
    return plat::IsWindowActive(fWindow);
}

bool WINDOW::Minimize() const
{
    TARVOAPP::CheckCallerThread("WINDOW::Minimize");
    return VERIFYSTATUS("err == 0 ", plat::CollapseWindow(fWindow, true));
}

bool WINDOW::Restore() const
{
    TARVOAPP::CheckCallerThread("WINDOW::Restore");
    return VERIFYSTATUS("err == 0 ", plat::CollapseWindow(fWindow, false));
}

bool WINDOW::Maximize() const
{
    TARVOAPP::CheckCallerThread("WINDOW::Maximize");
    if (!plat::IsWindowZoomed(fWindow)) {
        RECT const ideal = ToRECT(plat::GetWindowBounds(fWindow, false));
        plat::SetWindowProperty(fWindow, VLMT_CREATOR, WPROP_ZOOM, &ideal, sizeof ideal);
    }
    bool const ok = VERIFYSTATUS("err == 0 ", plat::ZoomWindow(fWindow, true));
    Show(true);
    return ok;
}

bool WINDOW::BringToForeground(bool) const
{
    TARVOAPP::CheckCallerThread("WINDOW::BringToForeground");
    Show(true);
    return VERIFYSTATUS("err == 0 ", plat::ActivateWindow(fWindow));
}

bool WINDOW::Activate() const
{
    TARVOAPP::CheckCallerThread("WINDOW::Activate");
    return VERIFYSTATUS("err == 0 ", plat::ActivateWindow(fWindow));
}

plat::WindowRef WINDOW::SetFocus() const
{
    TARVOAPP::CheckCallerThread("WINDOW::SetFocus");
    plat::WindowRef const before = plat::GetActiveWindow();
    plat::ActivateWindow(fWindow);
    return before;
}

plat::ViewRef WINDOW::GetFocus() const
{
    return plat::GetKeyboardFocus(fWindow);
}

int WINDOW::MoveInZorder(int how, plat::WindowRef other)
{
    TARVOAPP::CheckCallerThread("WINDOW::MoveInZorder");
    if (how == 1) {
        VASSERT(other == nullptr, "!fwindow", nullptr);
        plat::BringWindowToFront(fWindow);
    } else if (how == -1) {
        plat::SendWindowBehind(fWindow, other);
    }
    return 1;
}

bool WINDOW::CenterOver(plat::WindowRef other) const
{
    TARVOAPP::CheckCallerThread("WINDOW::CenterOver");
    plat::RectI const display = FirstDisplay();
    plat::RectI o = display;
    if (other && plat::IsWindowVisible(other))
        o = plat::GetWindowBounds(other, true);
    SIZE const s = GetSize();
    int left = (o.right - o.left - s.cx) / 2 + o.left;
    int top = (o.bottom - o.top - s.cy) / 2 + o.top;
    // Kept on the screen.
    left = std::max(display.left, std::min(left, display.right - s.cx));
    top = std::max(display.top, std::min(top, display.bottom - s.cy));
    return Move(left, top, -1, -1);
}

bool WINDOW::RectClientToFrame(RECT const* client, RECT* frame) const
{
    if (!client || !frame)
        return false;
    plat::RectI const f = plat::GetWindowBounds(fWindow, true);
    plat::RectI const c = ClientOnScreen(fWindow);
    *frame = RECT{client->left + f.left, client->top + f.top, client->right + c.left + (f.right - c.right),
                  client->bottom + c.top + (f.bottom - c.bottom)};
    return true;
}

bool WINDOW::RectFrameToClient(RECT const* frame, RECT* client) const
{
    if (!client || !frame)
        return false;
    plat::RectI const f = plat::GetWindowBounds(fWindow, true);
    plat::RectI const c = ClientOnScreen(fWindow);
    *client = RECT{frame->left - f.left, frame->top - f.top, frame->right - c.left - (f.right - c.right),
                   frame->bottom - c.top - (f.bottom - c.bottom)};
    return true;
}

bool WINDOW::MapWindowPoints(plat::ViewRef from, plat::ViewRef to, POINT* points, int count) const
{
    if ((from != nullptr) == (to != nullptr)) {
        AssertMsg(0, "(fviewfrom==0 || fviewto==0) && (fviewfrom!=0 || fviewto!=0)", __FILE__, __LINE__, nullptr,
                  false);
        return false;
    }
    plat::ViewRef const view = from ? from : to;
    plat::WindowRef const window = plat::GetViewWindow(view);
    plat::PointI const o = plat::ConvertViewPoint(plat::PointI{0, 0}, view, plat::WindowRootView(window));
    plat::RectI const top = plat::GetWindowBounds(window, false);
    int const dx = o.x + top.left;
    int const dy = o.y + top.top;
    for (int i = 0; points && i < count; ++i) {
        points[i].x += from ? dx : -dx;
        points[i].y += from ? dy : -dy;
    }
    return true;
}

bool WINDOW::Invalidate(RECT* rect, bool) const
{
    // Any thread may mark a window: off the main thread the mark travels
    // there (a window gone meanwhile makes it a no-op).
    if (!TARVOAPP::IsMainThread()) {
        plat::WindowRef const window = fWindow;
        bool const whole = !rect;
        plat::RectI const r = rect ? plat::RectI{rect->left, rect->top, rect->right, rect->bottom} : plat::RectI{};
        plat::PostToMainThread([window, whole, r] {
            if (plat::IsWindowValid(window))
                plat::SetViewNeedsDisplay(plat::WindowContentView(window), whole ? nullptr : &r);
        });
        return window != nullptr;
    }
    plat::ViewRef const content = plat::WindowContentView(fWindow);
    if (!rect)
        return VERIFYSTATUS("err == 0 ", plat::SetViewNeedsDisplay(content, nullptr));
    plat::RectI const r{rect->left, rect->top, rect->right, rect->bottom};
    return VERIFYSTATUS("err == 0 ", plat::SetViewNeedsDisplay(content, &r));
}

bool WINDOW::FlushRedraw() const
{
    return VERIFYSTATUS("err == 0 ", plat::RenderView(plat::WindowContentView(fWindow)));
}

bool WINDOW::SetTransparency(int alpha, int)
{
    TARVOAPP::CheckCallerThread("WINDOW::SetTransparency");
    if (alpha == -1)
        return true;
    return VERIFYSTATUS("err == 0 ", plat::SetWindowAlpha(fWindow, alpha < 255 ? alpha / 255.0 : 1.0));
}

bool WINDOW::SetClientAreaTransparency(bool on, bool shadows)
{
    TARVOAPP::CheckCallerThread("WINDOW::SetClientAreaTransparency");
    MSGWORD const now = GetWindowProperty(WPROP_TRANSPARENT);
    if (on) {
        MSGWORD const wanted = shadows ? 3 : 1;
        if (now == wanted)
            return true;
        VASSERT(shadows, "haveshadows", nullptr);
        SetWindowProperty(WPROP_TRANSPARENT, wanted);
        bool const ok = VERIFYSTATUS("err == 0 ", plat::SetWindowTranslucent(fWindow, true));
        if (shadows)
            return ok;
        return VERIFYSTATUS("err == 0 ", plat::SetWindowAlpha(fWindow, 0.99));
    }
    if (!now)
        return true;
    SetWindowProperty(WPROP_TRANSPARENT, 0);
    plat::SetWindowTranslucent(fWindow, false);
    return VERIFYSTATUS("err == 0 ", plat::SetViewNeedsDisplay(plat::WindowContentView(fWindow)));
}

bool WINDOW::HasClientAreaTransparency(bool* shadows) const
{
    MSGWORD const now = GetWindowProperty(WPROP_TRANSPARENT);
    if (shadows)
        *shadows = (now & 2) != 0;
    return now != 0;
}

bool WINDOW::RefreshTransparencyBackdrop()
{
    bool shadows = false;
    if (!HasClientAreaTransparency(&shadows) || !shadows)
        return false;
    PERFORMANCETIMER timer("HIWindowInvalidateShadow");
    return FlushRedraw();
}

// ---------------------------------------------------------------------------
// Title

int WINDOW::SetText(char const* text) const
{
    WSTRING wide(text ? text : "", UNICODE_CPDEFAULT);
    return SetTextWide(wide.Buf());
}

int WINDOW::SetTextWide(wchar_t const* text) const
{
    TARVOAPP::CheckCallerThread("WINDOW::SetTextWide");
    std::string utf8;
    CFSTRING::TextOf(text).ToUtf8(utf8, '?');
    VERIFYSTATUS("err == 0 ", plat::SetWindowTitle(fWindow, utf8));
    return 1;
}

bool WINDOW::GetText(char* buffer, int size) const
{
    if (!buffer || size <= 0)
        return false;
    STRING const s = GetText();
    int const copied = std::min(s.StrLen, size - 1);
    std::memcpy(buffer, s.Buf(), static_cast<size_t>(copied));
    buffer[copied] = 0;
    return s.StrLen < size;
}

STRING WINDOW::GetText() const
{
    TARVOAPP::CheckCallerThread("WINDOW::GetText");
    STRING s(plat::Text::FromUtf8(plat::GetWindowTitle(fWindow)));
    s.CodePage = UNICODE_CPDEFAULT;
    return s;
}

WSTRING WINDOW::GetTextWide() const
{
    TARVOAPP::CheckCallerThread("WINDOW::GetTextWide");
    return WSTRING(plat::Text::FromUtf8(plat::GetWindowTitle(fWindow)));
}

int WINDOW::GetTextWide(wchar_t* buffer, int size) const
{
    if (!buffer || size <= 0)
        return 0;
    WSTRING const w = GetTextWide();
    int const copied = std::min(w.Length(), size - 1);
    std::wmemcpy(buffer, w.Buf(), static_cast<size_t>(copied));
    buffer[copied] = 0;
    return copied;
}

// ---------------------------------------------------------------------------
// Controls by id

bool WINDOW::EnableControl(CONTROLID id, bool enable) const
{
    CONTROL c(GetClientParent(), id);
    return c.IsValid() && c.Enable(enable);
}

bool WINDOW::ShowControl(CONTROLID id, bool show) const
{
    CONTROL c(GetClientParent(), id);
    return c.IsValid() && c.Show(show);
}

bool WINDOW::IsControlChecked(CONTROLID id) const
{
    CONTROL c(GetClientParent(), id);
    return c.IsValid() && c.GetControlValue() != 0;
}

bool WINDOW::SetControlChecked(CONTROLID id, bool checked) const
{
    CONTROL c(GetClientParent(), id);
    return c.IsValid() && plat::SetViewValue(c.GetControlRef(), checked ? 1 : 0) == plat::kNoErr;
}

bool WINDOW::GetControlText(CONTROLID id, char* buffer, int size) const
{
    CONTROL c(GetClientParent(), id);
    if (!c.IsValid()) {
        if (buffer && size > 0)
            buffer[0] = 0;
        return false;
    }
    return c.GetControlText(buffer, size);
}

bool WINDOW::GetControlTextWide(CONTROLID id, wchar_t* buffer, int size) const
{
    CONTROL c(GetClientParent(), id);
    if (!c.IsValid()) {
        if (buffer && size > 0)
            buffer[0] = 0;
        return false;
    }
    return c.GetControlTextWide(buffer, size);
}

STRING WINDOW::GetControlText(CONTROLID id) const
{
    CONTROL c(GetClientParent(), id);
    return c.IsValid() ? c.GetText() : STRING("");
}

WSTRING WINDOW::GetControlTextWide(CONTROLID id) const
{
    CONTROL c(GetClientParent(), id);
    return c.IsValid() ? c.GetTextWide() : WSTRING(L"");
}

bool WINDOW::SetControlText(CONTROLID id, char const* text) const
{
    WSTRING wide(text ? text : "", UNICODE_CPDEFAULT);
    return SetControlTextWide(id, wide.Buf());
}

bool WINDOW::SetControlTextWide(CONTROLID id, wchar_t const* text) const
{
    CONTROL c(GetClientParent(), id);
    return c.IsValid() && c.SetControlTextWide(text);
}

// ---------------------------------------------------------------------------
// Timers and waiting

int WINDOW::StartTimer(uint32_t id, int ms)
{
    WINTIMER::GetInstance()->StartTimer(id, ms, fWindow, nullptr);
    return 1;
}

int WINDOW::StopTimer(uint32_t id)
{
    WINTIMER::GetInstance()->StopTimer(id, fWindow, nullptr);
    return 1;
}

signed char WINDOW::WinProcessMessages(int count)
{
    TARVOAPP::CheckCallerThread("WINDOWS::WinProcessMessages");
    if (count <= 0)
        return 0;
    int const handled = plat::ProcessPendingEvents(count);
    if (handled > 0)
        LOGIT("WINDOWS::WinProcessMessages done after n=%d messages\n", handled);
    return static_cast<signed char>(count - handled);
}

bool WINDOW::WinObtainMutexSem(MUTEXSEM& mutex, int ms)
{
    long long const start = OSYS::RelTime();
    for (;;) {
        if (mutex.Obtain(100))
            return true;
        WinProcessMessages(42);
        if (ms >= 0 && OSYS::RelTime() - start >= ms)
            return false;
    }
}

bool WINDOW::WinWaitForEventSem(EVENTSEM& event, int ms)
{
    long long const start = OSYS::RelTime();
    for (;;) {
        if (event.Wait(100))
            return true;
        WinProcessMessages(42);
        if (ms >= 0 && OSYS::RelTime() - start >= ms)
            return false;
    }
}

void WINDOW::Sleep(int ms)
{
    long long const start = OSYS::RelTime();
    do {
        // At most 100 ms at a time, then the window events that came.
        long long const left = ms - (OSYS::RelTime() - start);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp<long long>(left, 1, 100)));
        WinProcessMessages(42);
    } while (OSYS::RelTime() - start < ms);
}

// ---------------------------------------------------------------------------
// Finding windows, automatic check boxes and radio buttons

plat::WindowRef WINDOW::FindWindowEx(plat::WindowRef after, char const* classname, char const* title)
{
    TARVOAPP::CheckCallerThread("WINDOW::FindWindowEx");
    std::vector<plat::WindowRef> const all = plat::ListWindows();
    auto it = all.begin();
    if (after) {
        auto found = std::find(all.begin(), all.end(), after);
        if (found != all.end())
            it = found + 1;
    }
    uint32_t const crc = classname ? Crc32(classname) : 0;
    for (; it != all.end(); ++it) {
        WINDOW w(*it);
        if (classname && static_cast<uint32_t>(w.GetWindowProperty(WPROP_CLASSCRC)) != crc)
            continue;
        if (title && strcasecmp(w.GetText().Buf(), title) != 0)
            continue;
        return *it;
    }
    return nullptr;
}

void WINDOW::HandleAutoCheckbox(CONTROL& control)
{
    if (!control.IsControlOfKind(CONTROLKIND_CHECKBOX) || !control.GetControlProperty(CPROP_TRISTATE))
        return;
    int value = control.GetControlValue();
    auto const last = static_cast<intptr_t>(control.GetControlProperty(CPROP_LASTVALUE));
    if (value == 1 && last == 0) {
        plat::SetViewValue(control.GetControlRef(), 2);
        value = 2;
    }
    control.SetControlProperty(CPROP_LASTVALUE, static_cast<MSGWORD>(value));
}

void WINDOW::HandleAutoRadioButton(CONTROL& control)
{
    if (control.GetControlValue() != 1)
        return;
    plat::ViewRef const clicked = control.GetControlRef();
    std::vector<plat::ViewRef> const siblings = plat::GetSubviews(plat::GetSuperview(clicked));
    auto at = std::find(siblings.begin(), siblings.end(), clicked);
    if (at == siblings.end())
        return;
    auto isRadio = [](plat::ViewRef v) { return plat::IsViewValid(v) && plat::GetViewKind(v) == CONTROLKIND_RADIO; };
    auto first = at;
    while (first != siblings.begin() && isRadio(*(first - 1)))
        --first;
    for (auto it = first; it != siblings.end() && isRadio(*it); ++it) {
        int const wanted = *it == clicked ? 1 : 0;
        if (plat::GetViewValue(*it) != wanted)
            plat::SetViewValue(*it, wanted);
    }
}

// ---------------------------------------------------------------------------
// Positions in the registry store

bool WINDOW::StoreWindowPos(char const* key, char const* value) const
{
    TARVOAPP::CheckCallerThread("WINDOW::StoreWindowPos");
    if (!IsVisible())
        return false;
    RECT r = GetRect();
    bool const maximized = IsMaximized();
    if (maximized) {
        // The size before zooming, not the zoomed frame.
        RECT ideal{};
        size_t size = 0;
        if (plat::GetWindowProperty(fWindow, VLMT_CREATOR, WPROP_ZOOM, &ideal, sizeof ideal, &size) ==
                plat::kNoErr &&
            size == sizeof ideal && ideal.right != 0) {
            plat::RectI const f = plat::GetWindowBounds(fWindow, true);
            plat::RectI const c = plat::GetWindowBounds(fWindow, false);
            r = RECT{ideal.left - (c.left - f.left), ideal.top - (c.top - f.top), ideal.right + (f.right - c.right),
                     ideal.bottom + (f.bottom - c.bottom)};
        }
    }
    char text[128];
    std::snprintf(text, sizeof text, "RECT(%d, %d, %d, %d) STATE=%d/%d", r.left, r.top, r.right, r.bottom,
                  IsMinimized() ? 1 : 0, maximized ? 1 : 0);
    REGISTRY reg(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", key, REGISTRY::READWRITE);
    LOGIT("WINDOW::StoreWindowPos %s %s = '%s'\n", key ? key : "", value ? value : "", text);
    return reg.Write(value, text);
}

bool WINDOW::RestoreWindowPos(char const* key, char const* value, bool positionOnly) const
{
    TARVOAPP::CheckCallerThread("WINDOW::RestoreWindowPos");
    REGISTRY reg(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", key, REGISTRY::READWRITE);
    STRING text;
    if (!reg.Read(value, &text) || text.IsEmpty())
        return false;
    LOGIT("WINDOW::RestoreWindowPos from %s %s = '%s'\n", key ? key : "", value ? value : "", text.Buf());
    int l = 0, t = 0, r = 0, b = 0, minimized = 0, maximized = 0;
    if (std::sscanf(text.Buf(), "RECT(%d, %d, %d, %d) STATE=%d/%d", &l, &t, &r, &b, &minimized, &maximized) < 4)
        return false;
    plat::RectI rect{l, t, r, b};
    bool visible = false;
    std::vector<plat::RectI> displays = plat::GetDisplayBounds();
    for (size_t i = 0; i < displays.size() && i < 10; ++i)
        visible = visible || Intersects(rect, displays[i]);
    if (!visible)
        rect = plat::RectI{20, 40, 20 + rect.Width(), 40 + rect.Height()};
    if (positionOnly)
        Move(rect.left, rect.top, -1, -1);
    else
        Move(rect.left, rect.top, rect.Width(), rect.Height());
    if (minimized || maximized) {
        Show(true);
        if (minimized)
            Minimize();
        else
            Maximize();
    }
    LOGIT("WINDOW::RestoreWindowPos '%s' ok= %d\n", text.Buf(), 1);
    return true;
}
