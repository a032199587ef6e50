#include "velmot/gui/winchild.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/windialog.h"
#include "velmot/gui/wintimer.h"

#include "platform/controls/drops.h"
#include "platform/draw/context.h"
#include "platform/events/paint.h"

#include <strings.h>

#include <cctype>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr uint32_t kControlHitTest = 3;
constexpr uint32_t kControlTrack = 51;
constexpr int kFaceColour = 15;
constexpr uint32_t kCaptureInterval = 50;

constexpr plat::EventType kChildEvents[] = {
    {plat::kEventClassControl, plat::kEventControlDraw},     {plat::kEventClassControl, plat::kEventControlSetFocusPart},
    {plat::kEventClassControl, kControlHitTest},             {plat::kEventClassControl, kControlTrack},
    {plat::kEventClassControl, plat::kEventControlDragEnter}, {plat::kEventClassControl, plat::kEventControlDragWithin},
    {plat::kEventClassControl, plat::kEventControlDragLeave}, {plat::kEventClassControl, plat::kEventControlDragReceive},
    {EVENTCLASS_VELMOT, EVENTKIND_VELMOTMESSAGE},
};
static_assert(std::size(kChildEvents) == 9);

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The local path of a file URL ("file:///p" or "file://localhost/p"),
// every %XX decoded; empty for other URLs. A "%" without two hex digits
// stays as it is.
std::string PathOfFileUrl(std::string_view url)
{
    std::string_view rest;
    if (url.size() > 16 && strncasecmp(url.data(), "file://localhost/", 17) == 0)
        rest = url.substr(16);
    else if (url.size() > 7 && strncasecmp(url.data(), "file:///", 8) == 0)
        rest = url.substr(7);
    else
        return {};
    std::string path;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size()) {
            int const hi = HexValue(rest[i + 1]);
            int const lo = HexValue(rest[i + 2]);
            if (hi >= 0 && lo >= 0) {
                path.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        path.push_back(rest[i]);
    }
    // A NUL cannot stand in a path.
    if (path.find('\0') != std::string::npos)
        return {};
    return path;
}

} // namespace

// ---------------------------------------------------------------------------
// Construction

CHILDWINDOW::CHILDWINDOW(CONTROLPARENT parent, CONTROLID id, int x, int y, int cx, int cy, int, char const*)
{
    TARVOAPP::CheckCallerThread("CHILDWINDOW::CHILDWINDOW");
    auto const x16 = static_cast<int16_t>(x);
    auto const y16 = static_cast<int16_t>(y);
    auto const cx16 = static_cast<int16_t>(cx);
    auto const cy16 = static_cast<int16_t>(cy);
    plat::ViewRef pane = parent.view ? plat::CreateUserPane(parent.view, plat::RectI{x16, y16, x16 + cx16, y16 + cy16},
                                                            plat::ViewId{id.signature, id.id})
                                     : nullptr;
    if (!pane) {
        VerifyFailed("err == 0 ", __FILE__, __LINE__, plat::kErrBadArgument);
        return;
    }
    Init(pane, true, &id);
    MoveToParentView(parent);
    InstallEventHandler();
}

CHILDWINDOW::CHILDWINDOW(CONTROLPARENT parent, CONTROLID id) : CONTROL(parent, id) {}

CHILDWINDOW::CHILDWINDOW(CONTROLPARENT parent, char const* name, CONTROLID id, NIBBUNDLE bundle)
{
    TARVOAPP::CheckCallerThread("CHILDWINDOW::CHILDWINDOW");
    DIALOG page(name, nullptr, bundle);
    VASSERT(page.IsValid(), "w.IsValid()", name);
    if (!page.IsValid())
        return;
    std::vector<plat::ViewRef> const views = plat::GetSubviews(page.GetClientView());
    plat::ViewRef const pane = views.empty() ? nullptr : views.front();
    VASSERT(pane != nullptr, "fupan!=NULL", name);
    if (!pane)
        return;
    Init(pane, true, nullptr);
    VASSERT(IsControlOfKind(CONTROLKIND_USERPANE) || IsControlOfKind(CONTROLKIND_PLACARD),
            "this->IsControlOfKind('upan') || this->IsControlOfKind('plac')", name);
    if (id == CONTROLID{}) {
        std::string const n = name ? name : "";
        size_t digits = n.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(n[digits - 1])))
            --digits;
        id = CONTROLID{plat::FourCC("PAGE"), static_cast<int32_t>(std::atoi(n.c_str() + digits))};
    }
    plat::SetViewId(fControl, plat::ViewId{id.signature, id.id});
    VASSERT(GetId() == id, "this->GetId()==idctrl", name);
    SetControlProperty(CPROP_HELPID, name ? name : "", name ? static_cast<int>(std::strlen(name)) + 1 : 1);
    MoveToParentView(parent);
    InstallEventHandler();
}

CHILDWINDOW::~CHILDWINDOW()
{
    RemoveEventHandler();
    pMemoryBitmap.reset();
    if (fControl && plat::IsViewValid(fControl)) {
        plat::WindowRef const window = plat::GetViewWindow(fControl);
        plat::ViewRef capture = nullptr;
        plat::GetWindowProperty(window, VLMT_CREATOR, WPROP_CAPTURE, &capture, sizeof capture);
        if (capture == fControl)
            plat::RemoveWindowProperty(window, VLMT_CREATOR, WPROP_CAPTURE);
        WINTIMER::GetInstance()->DisposeTimers(nullptr, fControl);
    }
}

bool CHILDWINDOW::InstallEventHandler()
{
    TARVOAPP::CheckCallerThread("CHILDWINDOW::InstallEventHandler");
    plat::Status err = RegisterForEvents(std::size(kChildEvents), kChildEvents);
    VASSERT(err == plat::kNoErr, "!err", nullptr);
    SetCallbackView(fControl, *this);
    HasHandler = true;
    return err == plat::kNoErr;
}

bool CHILDWINDOW::Show(bool show)
{
    bool const ok = CONTROL::Show(show);
    if (show)
        OnShown();
    else
        OnHidden();
    return ok;
}

bool CHILDWINDOW::OnSized()
{
    if (pMemoryBitmap)
        pMemoryBitmap->Resize(fControl);
    return false;
}

// ---------------------------------------------------------------------------
// Events

plat::Status CHILDWINDOW::HandleEvent(plat::HandlerCall* call, TCarbonEvent& event)
{
    bool taken = false;
    plat::Status const rc = HandleEventForCallback(call, event, &taken);
    bool const success = rc == plat::kNoErr;
    if (event.GetClass() != plat::kEventClassControl)
        return success ? plat::kNoErr : plat::kErrEventNotHandled;
    uint32_t const kind = event.GetKind();
    if (kind > kControlTrack)
        return plat::kErrEventNotHandled;
    bool handled = false;
    switch (kind) {
    case plat::kEventControlHit:
        if (rc == plat::kNoErr) {
            plat::ViewRef view = nullptr;
            event.GetParameter(plat::kParamDirectObject, plat::kTypeView, &view);
            CONTROL control(view);
            if (control.IsControlOfKind(CONTROLKIND_RADIO))
                WINDOW::HandleAutoRadioButton(control);
            else if (control.IsControlOfKind(CONTROLKIND_CHECKBOX))
                WINDOW::HandleAutoCheckbox(control);
            handled = true;
        }
        break;
    case kControlHitTest:
        event.SetParameter(plat::kParamControlPart, plat::kTypeSInt32, int32_t{1});
        handled = true;
        break;
    case plat::kEventControlDraw:
        return HandleDraw(event, success, rc);
    case plat::kEventControlSetFocusPart: {
        int32_t part = 0;
        event.GetParameter(plat::kParamControlPart, plat::kTypeSInt32, &part);
        plat::ViewRef view = nullptr;
        event.GetParameter(plat::kParamDirectObject, plat::kTypeView, &view);
        if (view != fControl)
            break; // a control inside got or lost the focus
        if (part != 0)
            SetFocusToFirstControl();
        handled = true;
        break;
    }
    case plat::kEventControlDragEnter:
    case plat::kEventControlDragWithin:
    case plat::kEventControlDragLeave:
    case plat::kEventControlDragReceive:
        handled = AcceptFiles && HandleDrag(event);
        break;
    case kControlTrack:
        LOGIT("CHILDWINDOW::HandleEvent kEventControlTrack returns TRUE\n");
        handled = true;
        break;
    default:
        break;
    }
    return handled ? plat::kNoErr : plat::kErrEventNotHandled;
}

plat::Status CHILDWINDOW::HandleDraw(TCarbonEvent& event, bool taken, plat::Status rc)
{
    plat::PainterRef painter = nullptr;
    event.GetParameter(plat::kParamDrawContext, plat::kTypePainter, &painter);
    std::unique_ptr<plat::DrawContext> context = plat::DrawContext::ForPainter(painter);
    if (!context)
        return plat::kErrEventNotHandled;
    ++InPaint;
    fPaintContext = context.get();
    plat::RectI update{};
    PaintRect = event.GetParameter(plat::kParamUpdateRect, plat::kTypeIntRect, &update) == plat::kNoErr
                    ? RECT{update.left, update.top, update.right, update.bottom}
                    : CONTROL::GetClientRect();
    plat::Status result = plat::kNoErr;
    if (pMemoryBitmap) {
        if (OnPaint() != -2) {
            PERFORMANCETIMER timer("kEventControlDraw Time:");
            // The bitmap holds the picture in top-down units on its y-up
            // context; drawn upright into the flipped view it comes out the
            // right way up.
            pMemoryBitmap->Draw(0, 0, context.get());
        }
    } else if (taken) {
        result = rc;
    } else if (!(GetControlProperty(CPROP_STYLEEX) & CHILDSTYLEEX_NOBACKGROUND) && OnPaint() == 0) {
        COLORREF const colour =
            BackgroundColor == CHILDWINDOW_DEFAULTBACKGROUND ? OSYS::GetSysColor(kFaceColour) : BackgroundColor;
        SIZE const s = CONTROL::GetSize();
        context->SetFillColor(plat::ColorFromValue(colour));
        context->FillRect(plat::Rect{0, 0, static_cast<double>(s.cx), static_cast<double>(s.cy)});
    }
    --InPaint;
    fPaintContext = nullptr;
    return result;
}

bool CHILDWINDOW::HandleDrag(TCarbonEvent& event)
{
    size_t bytes = 0;
    std::string urls;
    if (event.GetEventRef().GetParamBytes(plat::kParamDragUrls, plat::kTypeUTF8, nullptr, 0, &bytes) == plat::kNoErr) {
        urls.resize(bytes);
        event.GetEventRef().GetParamBytes(plat::kParamDragUrls, plat::kTypeUTF8, urls.data(), bytes);
    }
    switch (event.GetKind()) {
    case plat::kEventControlDragEnter: {
        uint8_t const accept = urls.empty() ? 0 : 1;
        event.SetParameter(plat::kParamWouldAcceptDrop, plat::kTypeBool, accept);
        return true;
    }
    case plat::kEventControlDragWithin:
        plat::SetThemeCursor(plat::kThemeCopyArrowCursor);
        return true;
    case plat::kEventControlDragLeave:
        plat::SetThemeCursor(plat::kThemeArrowCursor);
        return true;
    default:
        break;
    }
    std::vector<plat::ArrayItem> paths;
    size_t start = 0;
    while (start <= urls.size()) {
        size_t end = urls.find('\n', start);
        if (end == std::string::npos)
            end = urls.size();
        std::string const path = PathOfFileUrl(std::string_view(urls).substr(start, end - start));
        if (!path.empty()) {
            plat::Text text = plat::Text::FromUtf8(path);
            paths.emplace_back(text.IsNull() ? plat::Text::FromLatin1(path) : text);
        }
        start = end + 1;
    }
    if (paths.empty())
        return false;
    STRINGARRAY list{plat::Array(std::move(paths))};
    bool const handled = OnFilesDropped(list.NumItems(), list);
    plat::SetThemeCursor(plat::kThemeArrowCursor);
    return handled;
}

// ---------------------------------------------------------------------------
// Painting outside the draw event

plat::DrawContext* CHILDWINDOW::GetDC()
{
    TARVOAPP::CheckCallerThread("CHILDWINDOW::GetDC");
    if (pMemoryBitmap) {
        pMemoryBitmap->Resize(fControl);
        return *pMemoryBitmap;
    }
    if (InPaint && fPaintContext)
        return fPaintContext;
    SIZE const s = CONTROL::GetSize();
    pMemoryBitmap = std::make_unique<MEMORYBITMAP>(fControl, s.cx, s.cy);
    return *pMemoryBitmap;
}

void CHILDWINDOW::ReleaseDC(plat::DrawContext* context)
{
    TARVOAPP::CheckCallerThread("CHILDWINDOW::ReleaseDC");
    if (pMemoryBitmap) {
        VASSERT(context == static_cast<plat::DrawContext*>(*pMemoryBitmap),
                "fcontext==(CGContextRef)*this->pMemoryBitmap", nullptr);
        if (context)
            context->Flush();
        if (!InPaint)
            CONTROL::Invalidate(nullptr);
        return;
    }
    VASSERT(InPaint && context == fPaintContext, "this->InPaint && fcontext==this->fPaintContext", nullptr);
}

bool CHILDWINDOW::StartPaint(PAINTSTRUCT* ps)
{
    VASSERT(InPaint, "this->InPaint", nullptr);
    if (!ps || !InPaint)
        return false;
    ps->hdc = GetDC();
    ps->rcPaint = PaintRect;
    return ps->hdc != nullptr;
}

int CHILDWINDOW::EndPaint(PAINTSTRUCT* ps)
{
    VASSERT(InPaint, "this->InPaint", nullptr);
    if (ps) {
        ReleaseDC(ps->hdc);
        ps->hdc = nullptr;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Timers, mouse capture, drops, messages

int CHILDWINDOW::StartTimer(uint32_t id, int ms)
{
    VASSERT(HasHandler, "this->HasHandler", nullptr);
    WINTIMER::GetInstance()->StartTimer(id, ms, plat::GetViewWindow(fControl), fControl);
    return 1;
}

int CHILDWINDOW::StopTimer(uint32_t id)
{
    VASSERT(HasHandler, "this->HasHandler", nullptr);
    WINTIMER::GetInstance()->StopTimer(id, plat::GetViewWindow(fControl), fControl);
    return 1;
}

bool CHILDWINDOW::SetMouseCapture(bool on)
{
    TARVOAPP::CheckCallerThread("CHILDWINDOW::SetMouseCapture");
    plat::WindowRef const window = plat::GetViewWindow(fControl);
    MSGWORD const view = on ? reinterpret_cast<MSGWORD>(fControl) : 0;
    bool const ok =
        plat::SetWindowProperty(window, VLMT_CREATOR, WPROP_CAPTURE, &view, sizeof view) == plat::kNoErr;
    if (on)
        WINTIMER::GetInstance()->StartTimer(TIMERID_MOUSECAPTURE, kCaptureInterval, window, fControl);
    else
        WINTIMER::GetInstance()->StopTimer(TIMERID_MOUSECAPTURE, window, fControl);
    return ok;
}

void CHILDWINDOW::AcceptDroppedFiles(bool on)
{
    TARVOAPP::CheckCallerThread("CHILDWINDOW::AcceptDroppedFiles");
    VERIFYSTATUS("err == 0 ", plat::SetViewDragTracking(fControl, on));
    AcceptFiles = on;
}

MSGWORD CHILDWINDOW::PostUserMessage(int msg, MSGWORD p1, MSGWORD p2) const
{
    VASSERT(msg >= static_cast<int>(WM_USERFIRST) && msg <= static_cast<int>(WM_USERLAST),
            "msg>=WM_USER+0x0001 && msg<WM_USER+0x00f0", nullptr);
    return DARWINDOW::DeliverMessage(false, nullptr, fControl, static_cast<uint32_t>(msg), p1, p2, 0);
}

MSGWORD CHILDWINDOW::SendUserMessage(int msg, MSGWORD p1, MSGWORD p2) const
{
    VASSERT(msg >= static_cast<int>(WM_USERFIRST) && msg <= static_cast<int>(WM_USERLAST),
            "msg>=WM_USER+0x0001 && msg<WM_USER+0x00f0", nullptr);
    return DARWINDOW::DeliverMessage(true, nullptr, fControl, static_cast<uint32_t>(msg), p1, p2, 0);
}

// ---------------------------------------------------------------------------
// Controls by id

bool CHILDWINDOW::EnableControl(CONTROLID id, bool enable) const
{
    CONTROL c(AsParent(), id);
    return c.IsValid() && c.Enable(enable);
}

bool CHILDWINDOW::ShowControl(CONTROLID id, bool show) const
{
    CONTROL c(AsParent(), id);
    return c.IsValid() && c.Show(show);
}

bool CHILDWINDOW::IsControlChecked(CONTROLID id) const
{
    CONTROL c(AsParent(), id);
    return c.IsValid() && c.GetControlValue() != 0;
}

bool CHILDWINDOW::SetControlChecked(CONTROLID id, bool checked) const
{
    CONTROL c(AsParent(), id);
    return c.IsValid() && plat::SetViewValue(c.GetControlRef(), checked ? 1 : 0) == plat::kNoErr;
}

STRING CHILDWINDOW::GetControlText(CONTROLID id) const
{
    CONTROL c(AsParent(), id);
    return c.IsValid() ? c.GetText() : STRING("");
}

WSTRING CHILDWINDOW::GetControlTextWide(CONTROLID id) const
{
    CONTROL c(AsParent(), id);
    return c.IsValid() ? c.GetTextWide() : WSTRING(L"");
}

bool CHILDWINDOW::SetControlText(CONTROLID id, char const* text) const
{
    CONTROL c(AsParent(), id);
    return c.IsValid() && c.SetControlText(text);
}

bool CHILDWINDOW::SetControlTextWide(CONTROLID id, wchar_t const* text) const
{
    CONTROL c(AsParent(), id);
    return c.IsValid() && c.SetControlTextWide(text);
}
