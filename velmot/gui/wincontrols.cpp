#include "velmot/gui/wincontrols.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winbase.h"

#include "platform/controls/controls.h"
#include "platform/events/application.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

namespace {

// The kinds that take the keyboard focus.
bool IsFocusKind(FOURCHARCODE kind)
{
    static constexpr FOURCHARCODE kKinds[] = {
        CONTROLKIND_PUSH,   CONTROLKIND_PICTUREPUSH, CONTROLKIND_ROUND,    CONTROLKIND_BEVEL,
        CONTROLKIND_DATABROWSER, CONTROLKIND_POPUP, CONTROLKIND_POPUPGROUP, CONTROLKIND_COMBOBOX,
        CONTROLKIND_SLIDER, CONTROLKIND_EDITTEXT,   CONTROLKIND_EDITUNICODE, CONTROLKIND_RADIO,
        CONTROLKIND_CHECKBOX,
    };
    return std::find(std::begin(kKinds), std::end(kKinds), kind) != std::end(kKinds);
}

} // namespace

STRING CONTROLID::AsString() const
{
    char text[32];
    std::snprintf(text, sizeof text, "%c%c%c%c %d", static_cast<char>(signature >> 24),
                  static_cast<char>(signature >> 16), static_cast<char>(signature >> 8), static_cast<char>(signature),
                  static_cast<int>(id));
    return STRING(text);
}

CONTROL::CONTROL(CONTROLPARENT parent, CONTROLID const& id)
{
    TARVOAPP::CheckCallerThread("CONTROL::CONTROL");
    plat::ViewRef view = parent.view ? plat::FindViewById(parent.view, plat::ViewId{id.signature, id.id}) : nullptr;
    Init(view, false, nullptr);
}

CONTROL::CONTROL(plat::ViewRef view)
{
    Init(view, false, nullptr);
}

CONTROL::CONTROL(CONTROL const& other) : TEventHandler()
{
    Init(other.fControl, false, nullptr);
}

CONTROL::~CONTROL()
{
    if (fOwns) {
        Destroy();
        return;
    }
    // A wrapper that registered itself (a slider) must not leave its
    // address behind on a view that outlives it.
    if (fControl && plat::IsViewValid(fControl) && GetThisFromControlRef(fControl, false) == this)
        plat::RemoveViewProperty(fControl, VLMT_CREATOR, CPROP_THIS);
}

plat::TargetRef CONTROL::GetEventTarget() const
{
    return plat::ViewTarget(fControl);
}

plat::Status CONTROL::HandleEvent(plat::HandlerCall*, TCarbonEvent&)
{
    return plat::kErrEventNotHandled;
}

void CONTROL::Init(plat::ViewRef view, bool owns, CONTROLID const* id)
{
    fControl = view;
    fOwns = owns;
    fKind = 0;
    if (!view || !plat::IsViewValid(view))
        return;
    if (owns)
        SetThisToControl();
    if (id)
        VERIFYSTATUS("err == 0 ", plat::SetViewId(view, plat::ViewId{id->signature, id->id}));
    fKind = plat::GetViewKind(view);
}

void CONTROL::Destroy()
{
    if (fControl && plat::IsViewValid(fControl)) {
        // The "This" entry would outlive the object otherwise.
        plat::RemoveViewProperty(fControl, VLMT_CREATOR, CPROP_THIS);
        plat::DisposeView(fControl);
    }
    fControl = nullptr;
}

bool CONTROL::IsValid() const
{
    return fControl && plat::IsViewValid(fControl);
}

CONTROLID CONTROL::GetId() const
{
    plat::ViewId id = plat::GetViewId(fControl);
    return CONTROLID{id.signature, id.id};
}

bool CONTROL::SetThisToControl()
{
    return SetThisToControlRef(fControl, this);
}

bool CONTROL::SetThisToControlRef(plat::ViewRef view, CONTROL* object)
{
    VASSERT(object != nullptr, "This!=NULL", nullptr);
    VASSERT(view != nullptr, "fcontrol!=NULL", nullptr);
    if (!object || !view)
        return false;
    return VERIFYSTATUS("err == 0 ", plat::SetViewProperty(view, VLMT_CREATOR, CPROP_THIS, &object, sizeof object));
}

CONTROL* CONTROL::GetThisFromControlRef(plat::ViewRef view, bool mustExist)
{
    CONTROL* object = nullptr;
    size_t size = 0;
    plat::Status err = plat::GetViewProperty(view, VLMT_CREATOR, CPROP_THIS, &object, sizeof object, &size);
    if (err != plat::kNoErr || size != sizeof object)
        object = nullptr;
    if (mustExist)
        VASSERT(object != nullptr, "err==noErr && This!=NULL", nullptr);
    return object;
}

bool CONTROL::CreateOwned(CONTROLPARENT parent, CONTROLID const& id, plat::ControlSpec spec, int x, int y, int cx,
                          int cy)
{
    Init(nullptr, false, nullptr);
    spec.id = plat::ViewId{id.signature, id.id};
    spec.frame = plat::RectI{x, y, x + cx, y + cy};
    plat::ViewRef view = parent.view ? plat::CreateControl(parent.view, spec) : nullptr;
    if (!view) {
        VerifyFailed("err == 0 ", __FILE__, __LINE__, plat::kErrBadArgument);
        return false;
    }
    Init(view, true, &id);
    MoveToParentView(parent);
    return true;
}

bool CONTROL::CreateAtTemplate(CONTROLPARENT parent, CONTROLID const& id, plat::ControlSpec spec,
                               CONTROLID const& templateId)
{
    if (!CreateOwned(parent, id, std::move(spec), 0, 0, 16, 16))
        return false;
    MoveToTemplateControl(parent, templateId, false);
    return true;
}

// ---------------------------------------------------------------------------
// Text

bool CONTROL::GetControlText(char* buffer, int size) const
{
    TARVOAPP::CheckCallerThread("CONTROL::GetControlText");
    if (!buffer || size <= 0)
        return false;
    buffer[0] = 0;
    plat::Text text = plat::GetControlTitle(fControl);
    if (text.IsNull())
        return false;
    STRING s(text);
    const int n = s.StrLen;
    const int copied = std::min(n, size - 1);
    std::memcpy(buffer, s.Buf(), static_cast<size_t>(copied));
    buffer[copied] = 0;
    return n < size;
}

bool CONTROL::GetControlText(STRING* out) const
{
    TARVOAPP::CheckCallerThread("CONTROL::GetControlText");
    plat::Text text = plat::GetControlTitle(fControl);
    if (out) {
        *out = text.IsNull() ? STRING("") : STRING(text);
        out->CodePage = UNICODE_CPDEFAULT;
    }
    return !text.IsNull();
}

bool CONTROL::GetControlTextWide(WSTRING* out) const
{
    TARVOAPP::CheckCallerThread("CONTROL::GetControlTextWide");
    plat::Text text = plat::GetControlTitle(fControl);
    if (out)
        *out = text.IsNull() ? WSTRING(L"") : WSTRING(text);
    return !text.IsNull();
}

bool CONTROL::GetControlTextWide(wchar_t* buffer, int size) const
{
    TARVOAPP::CheckCallerThread("CONTROL::GetControlTextWide");
    if (!buffer || size <= 0)
        return false;
    buffer[0] = 0;
    plat::Text text = plat::GetControlTitle(fControl);
    if (text.IsNull())
        return false;
    WSTRING w(text);
    const int copied = std::min(w.Length(), size - 1);
    std::wmemcpy(buffer, w.Buf(), static_cast<size_t>(copied));
    buffer[copied] = 0;
    return true;
}

STRING CONTROL::GetText() const
{
    STRING s;
    GetControlText(&s);
    return s;
}

WSTRING CONTROL::GetTextWide() const
{
    WSTRING w;
    GetControlTextWide(&w);
    return w;
}

int CONTROL::GetText(char* buffer, int size) const
{
    GetControlText(buffer, size);
    return buffer && size > 0 ? static_cast<int>(std::strlen(buffer)) : 0;
}

int CONTROL::GetTextWide(wchar_t* buffer, int size) const
{
    GetControlTextWide(buffer, size);
    return buffer && size > 0 ? static_cast<int>(std::wcslen(buffer)) : 0;
}

bool CONTROL::SetControlText(char const* text) const
{
    TARVOAPP::CheckCallerThread("CONTROL::SetControlText");
    return VERIFYSTATUS("err == 0 ", plat::SetControlTitle(fControl, CFSTRING::TextOf(text)));
}

bool CONTROL::SetControlTextWide(wchar_t const* text) const
{
    TARVOAPP::CheckCallerThread("CONTROL::SetControlTextWide");
    return VERIFYSTATUS("err == 0 ", plat::SetControlTitle(fControl, CFSTRING::TextOf(text)));
}

// ---------------------------------------------------------------------------
// Geometry

RECT CONTROL::GetRect() const
{
    TARVOAPP::CheckCallerThread("CONTROL::GetRect");
    plat::RectI r = plat::GetViewFrame(fControl);
    return RECT{r.left, r.top, r.right, r.bottom};
}

SIZE CONTROL::GetSize() const
{
    RECT r = GetRect();
    return SIZE{r.right - r.left, r.bottom - r.top};
}

RECT CONTROL::GetClientRect() const
{
    SIZE s = GetSize();
    return RECT{0, 0, s.cx, s.cy};
}

int CONTROL::Move(int x, int y, int cx, int cy) const
{
    TARVOAPP::CheckCallerThread("CONTROL::Move");
    if (cx == -1 && cy == -1) {
        SIZE s = GetSize();
        cx = s.cx;
        cy = s.cy;
    }
    VERIFYSTATUS("err == 0 ", plat::SetViewFrame(fControl, plat::RectI{x, y, x + cx, y + cy}));
    return 1;
}

int CONTROL::MoveRel(int dx, int dy) const
{
    RECT r = GetRect();
    return Move(r.left + dx, r.top + dy, -1, -1);
}

int CONTROL::Size(int cx, int cy) const
{
    TARVOAPP::CheckCallerThread("CONTROL::Size");
    RECT r = GetRect();
    VERIFYSTATUS("err == 0 ", plat::SetViewFrame(fControl, plat::RectI{r.left, r.top, r.left + cx, r.top + cy}));
    return 1;
}

bool CONTROL::MoveInZorder(int where, plat::ViewRef other)
{
    TARVOAPP::CheckCallerThread("CONTROL::MoveInZorder");
    return VERIFYSTATUS("err == 0 ", plat::SetViewZOrder(fControl, where == 1, other));
}

int CONTROL::MoveToParentView(CONTROLPARENT parent)
{
    TARVOAPP::CheckCallerThread("CONTROL::MoveToParentView");
    VASSERT(plat::GetViewWindow(parent.view) != nullptr, "attr & kWindowCompositingAttribute", nullptr);
    if (plat::GetSuperview(fControl) == parent.view)
        return 0;
    plat::RectI const frame = plat::GetViewFrame(fControl);
    if (!VERIFYSTATUS("err == 0 ", plat::AddSubview(parent.view, fControl)))
        return 0;
    plat::SetViewFrame(fControl, frame);
    return 1;
}

RECT CONTROL::MoveToTemplateControl(CONTROLPARENT parent, CONTROLID templateId, bool inset)
{
    TARVOAPP::CheckCallerThread("CONTROL::MoveToTemplateControl");
    VASSERT(plat::GetViewWindow(parent.view) != nullptr, "attr & kWindowCompositingAttribute", nullptr);
    plat::ViewId const tid{templateId.signature, templateId.id};
    plat::ViewRef templ = plat::FindViewById(parent.view, tid);
    if (templ && templ == fControl) {
        // Created under the template's own id: the template is one of the
        // siblings behind it.
        templ = nullptr;
        std::vector<plat::ViewRef> siblings = plat::GetSubviews(plat::GetSuperview(fControl));
        auto it = std::find(siblings.begin(), siblings.end(), fControl);
        for (++it; it < siblings.end() && !templ; ++it)
            templ = plat::FindViewById(*it, tid);
    }
    if (!templ) {
        AssertMsg(0, "could not find reference view", __FILE__, __LINE__, nullptr, false);
        return GetRect();
    }
    plat::RectI r = plat::GetViewFrame(templ);
    plat::ViewRef const holder = plat::GetSuperview(templ);
    if (plat::GetSuperview(fControl) != holder)
        plat::AddSubview(holder, fControl);
    plat::SetViewZOrder(fControl, true, templ);
    plat::SetViewEnabled(templ, false);
    if (GetId() == templateId)
        plat::SetViewId(templ, plat::ViewId{});
    if (inset) {
        r = plat::RectI{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
        plat::SetViewVisible(templ, true);
    } else {
        plat::SetViewVisible(templ, false);
    }
    plat::SetViewFrame(fControl, r);
    return RECT{r.left, r.top, r.right, r.bottom};
}

// ---------------------------------------------------------------------------
// State and input

bool CONTROL::Show(bool show) const
{
    TARVOAPP::CheckCallerThread("CONTROL::Show");
    return VERIFYSTATUS("err == 0 ", plat::SetViewVisible(fControl, show));
}

bool CONTROL::Enable(bool enable) const
{
    TARVOAPP::CheckCallerThread("CONTROL::Enable");
    return VERIFYSTATUS("err == 0 ", plat::SetViewEnabled(fControl, enable));
}

bool CONTROL::Activate(bool activate) const
{
    TARVOAPP::CheckCallerThread("CONTROL::Activate");
    return VERIFYSTATUS("err == 0 ", plat::SetViewEnabled(fControl, activate));
}

bool CONTROL::IsVisible() const
{
    return plat::IsViewVisible(fControl);
}

bool CONTROL::IsEnabled() const
{
    return plat::IsViewEnabled(fControl);
}

plat::ViewRef CONTROL::SetFocus() const
{
    TARVOAPP::CheckCallerThread("CONTROL::SetFocus");
    plat::WindowRef const window = plat::GetViewWindow(fControl);
    plat::ViewRef const before = plat::GetKeyboardFocus(window);
    plat::ClearKeyboardFocus(window);
    VERIFYSTATUS("err == 0 ", plat::SetKeyboardFocus(fControl));
    return before;
}

bool CONTROL::IsFocused() const
{
    TARVOAPP::CheckCallerThread("CONTROL::IsFocused");
    plat::WindowRef const window = plat::GetViewWindow(fControl);
    return fControl && plat::GetKeyboardFocus(window) == fControl && plat::IsWindowActive(window);
}

int CONTROL::SetFocusToFirstControl()
{
    TARVOAPP::CheckCallerThread("CONTROL::SetFocusToFirstControl");
    // Front to back: the last focusable one seen is the rearmost, the one
    // added first.
    plat::ViewRef first = nullptr;
    for (plat::ViewRef view : plat::GetSubviews(fControl))
        if (IsFocusKind(plat::GetViewKind(view)))
            first = view;
    if (first)
        CONTROL(first).SetFocus();
    return 0;
}

bool CONTROL::Invalidate(RECT const* rect, bool) const
{
    // Callable from any thread: the platform hands marks made off the main
    // thread to it.
    if (!rect)
        return VERIFYSTATUS("err == 0 ", plat::SetViewNeedsDisplay(fControl, nullptr));
    plat::RectI const r{rect->left, rect->top, rect->right, rect->bottom};
    return VERIFYSTATUS("err == 0 ", plat::SetViewNeedsDisplay(fControl, &r));
}

bool CONTROL::FlushRedraw() const
{
    TARVOAPP::CheckCallerThread("CONTROL::FlushRedraw");
    return VERIFYSTATUS("err == 0 ", plat::RenderView(fControl));
}

void CONTROL::SimulateHit(int16_t part) const
{
    TARVOAPP::CheckCallerThread("CONTROL::SimulateHit");
    plat::TargetRef const target = plat::ViewTarget(plat::GetSuperview(fControl));
    if (!target)
        return;
    TCarbonEvent hit(plat::kEventClassControl, plat::kEventControlHit);
    hit.SetParameter(plat::kParamDirectObject, plat::kTypeView, fControl);
    hit.SetParameter(plat::kParamKeyModifiers, plat::kTypeUInt32, plat::CurrentKeyModifiers());
    hit.SetParameter(plat::kParamControlPart, plat::kTypeSInt32, static_cast<int32_t>(part));
    hit.SendToEventTarget(target);
}

void CONTROL::SetControlValue(int value)
{
    TARVOAPP::CheckCallerThread("CONTROL::SetControlValue");
    if (fKind == CONTROLKIND_CHECKBOX && GetControlProperty(CPROP_TRISTATE))
        SetControlProperty(CPROP_LASTVALUE, static_cast<MSGWORD>(-1));
    VERIFYSTATUS("err == 0 ", plat::SetViewValue(fControl, value));
    SimulateHit(0);
}

int CONTROL::GetControlValue() const
{
    return plat::GetViewValue(fControl);
}

int CONTROL::GetControlMinimum() const
{
    return plat::GetViewMinimum(fControl);
}

int CONTROL::GetControlMaximum() const
{
    return plat::GetViewMaximum(fControl);
}

bool CONTROL::SetControlMinimum(int value) const
{
    return VERIFYSTATUS("err == 0 ", plat::SetViewMinimum(fControl, value));
}

bool CONTROL::SetControlMaximum(int value) const
{
    return VERIFYSTATUS("err == 0 ", plat::SetViewMaximum(fControl, value));
}

// ---------------------------------------------------------------------------
// Properties

MSGWORD CONTROL::GetControlProperty(FOURCHARCODE tag) const
{
    MSGWORD value = 0;
    size_t size = 0;
    if (plat::GetViewProperty(fControl, VLMT_CREATOR, tag, &value, sizeof value, &size) != plat::kNoErr)
        return 0;
    if (size < sizeof value) {
        MSGWORD shorter = 0;
        plat::GetViewProperty(fControl, VLMT_CREATOR, tag, &shorter, size);
        value = shorter;
    }
    return value;
}

int CONTROL::GetControlProperty(FOURCHARCODE tag, char* buffer, int size) const
{
    if (!buffer || size <= 0)
        return 0;
    size_t actual = 0;
    plat::Status err = plat::GetViewProperty(fControl, VLMT_CREATOR, tag, buffer, static_cast<size_t>(size), &actual);
    if (!VERIFYSTATUS("err == 0 ", err))
        return 0;
    return static_cast<int>(std::min(actual, static_cast<size_t>(size)));
}

bool CONTROL::SetControlProperty(FOURCHARCODE tag, MSGWORD value)
{
    return VERIFYSTATUS("err == 0 ", plat::SetViewProperty(fControl, VLMT_CREATOR, tag, &value, sizeof value));
}

bool CONTROL::SetControlProperty(FOURCHARCODE tag, char const* data, int size)
{
    if (size < 0 || (size > 0 && !data))
        return VERIFYSTATUS("err == 0 ", plat::kErrBadArgument);
    return VERIFYSTATUS("err == 0 ",
                        plat::SetViewProperty(fControl, VLMT_CREATOR, tag, data, static_cast<size_t>(size)));
}

bool CONTROL::RemoveControlProperty(FOURCHARCODE tag)
{
    return plat::RemoveViewProperty(fControl, VLMT_CREATOR, tag) == plat::kNoErr;
}

bool CONTROL::AddStyleEx(uint32_t bits)
{
    return SetControlProperty(CPROP_STYLEEX, GetControlProperty(CPROP_STYLEEX) | bits);
}

bool CONTROL::RemoveStyle(uint32_t bits)
{
    return SetControlProperty(CPROP_STYLE, GetControlProperty(CPROP_STYLE) & ~static_cast<MSGWORD>(bits));
}

int CONTROL::SendOwnerNotification(int code, MSGWORD data)
{
    TARVOAPP::CheckCallerThread("CONTROL::SendOwnerNotification");
    plat::ViewRef const super = plat::GetSuperview(fControl);
    plat::WindowRef const window = plat::GetViewWindow(fControl);
    MSGWORD const sender = reinterpret_cast<MSGWORD>(fControl);
    if (super && plat::IsViewValid(super) && plat::GetViewKind(super) == CONTROLKIND_USERPANE)
        DARWINDOW::PostMessage(super, WM_VCONTROL, static_cast<MSGWORD>(code), sender, data);
    else if (window)
        DARWINDOW::PostMessage(window, WM_VCONTROL, static_cast<MSGWORD>(code), sender, data);
    return 0;
}
