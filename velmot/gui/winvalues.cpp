#include "velmot/gui/winvalues.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winentry.h"

#include <algorithm>
#include <cstdio>

namespace {

plat::ControlSpec ScrollSpec()
{
    plat::ControlSpec spec;
    spec.kind = CONTROLKIND_SCROLLBAR;
    spec.minimum = 0;
    spec.maximum = 50;
    spec.viewSize = 50;
    return spec;
}

plat::ControlSpec ProgressSpec()
{
    plat::ControlSpec spec;
    spec.kind = CONTROLKIND_PROGRESS;
    spec.maximum = 100;
    return spec;
}

bool IsVertical(plat::ViewRef view)
{
    plat::RectI const r = plat::GetViewFrame(view);
    return r.Width() < r.Height();
}

} // namespace

// ---------------------------------------------------------------------------
// SCROLLBAR

SCROLLBAR::SCROLLBAR(CONTROLPARENT parent, CONTROLID const& id, int style, int x, int y, int cx, int cy)
{
    CreateScrollbar(parent, id, style, x, y, cx, cy);
}

SCROLLBAR::SCROLLBAR(CONTROLPARENT, CONTROLID const&, int, CONTROLID const&)
{
    AssertMsg(0, "FALSE", __FILE__, __LINE__, nullptr, false);
}

SCROLLBAR::~SCROLLBAR() = default;

bool SCROLLBAR::CreateScrollbar(CONTROLPARENT parent, CONTROLID const& id, int style, int x, int y, int cx, int cy)
{
    TARVOAPP::CheckCallerThread("SCROLLBAR::CreateScrollbar");
    if (style != 0 && style != 1)
        AssertMsg(0, "FALSE", __FILE__, __LINE__, nullptr, false);
    if (!CreateOwned(parent, id, ScrollSpec(), x, y, cx, cy))
        return false;
    plat::SetControlAction(fControl, &SCROLLBAR::TrackingProc);
    return true;
}

bool SCROLLBAR::SetRange(int min, int max)
{
    TARVOAPP::CheckCallerThread("SCROLLBAR::SetRange");
    return SetControlMinimum(min) && SetControlMaximum(max + 1);
}

bool SCROLLBAR::SetPos(int pos, int redraw)
{
    TARVOAPP::CheckCallerThread("SCROLLBAR::SetPos");
    bool ok = VERIFYSTATUS("err == 0 ", plat::SetViewValue(fControl, pos));
    if (redraw)
        Invalidate(nullptr);
    return ok;
}

bool SCROLLBAR::SetScrollbar(int pos, int page, int min, int max)
{
    TARVOAPP::CheckCallerThread("SCROLLBAR::SetScrollbar");
    if (!(min == -1 && max == -1))
        SetRange(min, max - page);
    SetControlValue(pos);
    return VERIFYSTATUS("err == 0 ", plat::SetControlViewSize(fControl, page));
}

void SCROLLBAR::TrackingProc(plat::ViewRef view, int16_t part)
{
    CONTROL* self = GetThisFromControlRef(view, true);
    if (self && part == 129)
        self->SimulateHit(129);
}

// ---------------------------------------------------------------------------
// SLIDERBAR

SLIDERBAR::SLIDERBAR(plat::ViewRef view) : CONTROL(view)
{
    Register();
}

SLIDERBAR::SLIDERBAR(CONTROLPARENT parent, CONTROLID const& id) : CONTROL(parent, id)
{
    Register();
}

void SLIDERBAR::Register()
{
    if (!IsValid())
        return;
    SetThisToControl();
    plat::SetControlAction(fControl, &SLIDERBAR::TrackingProc);
}

SLIDERBAR::~SLIDERBAR()
{
    // The slider may outlive this object: its tracking must not reach a
    // dead one.
    if (IsValid() && GetThisFromControlRef(fControl, false) == this)
        plat::SetControlAction(fControl, nullptr);
}

bool SLIDERBAR::SetRange(int min, int max, int redraw)
{
    TARVOAPP::CheckCallerThread("SLIDERBAR::SetRange");
    bool ok = SetControlMinimum(min) && SetControlMaximum(max);
    if (redraw)
        Invalidate(nullptr);
    return ok;
}

bool SLIDERBAR::SetPos(int pos, int redraw)
{
    TARVOAPP::CheckCallerThread("SLIDERBAR::SetPos");
    int value = pos;
    if (IsVertical(fControl)) {
        int const invertoffset = GetControlMinimum() + GetControlMaximum();
        VASSERT(invertoffset >= pos, "invertoffset>=pos", nullptr);
        value = invertoffset - pos;
    }
    SetControlValue(value);
    if (redraw)
        Invalidate(nullptr);
    return true;
}

int SLIDERBAR::GetPos() const
{
    int const value = GetControlValue();
    if (!IsVertical(fControl))
        return value;
    return GetControlMinimum() + GetControlMaximum() - value;
}

void SLIDERBAR::TrackingProc(plat::ViewRef view, int16_t part)
{
    if (CONTROL* self = GetThisFromControlRef(view, true))
        self->SimulateHit(part);
}

// ---------------------------------------------------------------------------
// SPINBUTTON

SPINBUTTON::SPINBUTTON(CONTROLPARENT parent, CONTROLID const& id, CONTROLID const& buddyId)
{
    TARVOAPP::CheckCallerThread("SPINBUTTON::SPINBUTTON");
    ENTRYFIELD buddy(parent, buddyId);
    plat::ViewRef const holder = plat::GetSuperview(buddy.GetControlRef());
    RECT const r = buddy.GetRect();
    plat::ControlSpec spec;
    spec.kind = CONTROLKIND_LITTLEARROWS;
    spec.value = 1;
    spec.minimum = -999999;
    spec.maximum = 999999;
    spec.increment = 1;
    // Over the buddy's right edge.
    CreateOwned(CONTROLPARENT{holder}, id, spec, r.right - 8, r.top + 1, 16, r.bottom - r.top - 1);
    VASSERT(fControl != nullptr, "this->fControl", nullptr);
    if (!fControl)
        return;
    SetControlProperty(CPROP_BUDDY, reinterpret_cast<MSGWORD>(buddy.GetControlRef()));
    buddy.SetControlProperty(CPROP_BUDDY, reinterpret_cast<MSGWORD>(fControl));
    plat::SetControlAction(fControl, &SPINBUTTON::LittleArrowActionProc);
}

SPINBUTTON::~SPINBUTTON()
{
    auto buddy = reinterpret_cast<plat::ViewRef>(GetControlProperty(CPROP_BUDDY));
    if (buddy && plat::IsViewValid(buddy))
        CONTROL(buddy).RemoveControlProperty(CPROP_BUDDY);
}

bool SPINBUTTON::SetMinMax(int a, int b)
{
    TARVOAPP::CheckCallerThread("SPINBUTTON::SetMinMax");
    // The maximum first when it grows, so the range never inverts.
    int const lo = std::min(a, b);
    int const hi = std::max(a, b);
    return SetControlMaximum(hi) && SetControlMinimum(lo) && SetControlMaximum(hi);
}

int SPINBUTTON::Clamped(int value) const
{
    return std::clamp(value, GetControlMinimum(), std::max(GetControlMinimum(), GetControlMaximum()));
}

int SPINBUTTON::GetValue() const
{
    auto buddy = reinterpret_cast<plat::ViewRef>(GetControlProperty(CPROP_BUDDY));
    return Clamped(static_cast<int>(CONTROL(buddy).GetText()));
}

bool SPINBUTTON::SetValue(int value)
{
    TARVOAPP::CheckCallerThread("SPINBUTTON::SetValue");
    value = Clamped(value);
    SetControlValue(value);
    auto buddy = reinterpret_cast<plat::ViewRef>(GetControlProperty(CPROP_BUDDY));
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return ENTRYFIELD(buddy).SetText(text);
}

bool SPINBUTTON::SetValueWithMinMax(int value, int min, int max)
{
    SetMinMax(min, max);
    return SetValue(value);
}

void SPINBUTTON::LittleArrowActionProc(plat::ViewRef view, int16_t part)
{
    auto* self = static_cast<SPINBUTTON*>(GetThisFromControlRef(view, true));
    if (!self)
        return;
    int const step = plat::GetControlIncrement(view);
    if (part == 20)
        self->SetValue(self->GetValue() + step);
    else if (part == 21)
        self->SetValue(self->GetValue() - step);
}

// ---------------------------------------------------------------------------
// PROGRESSBAR

PROGRESSBAR::PROGRESSBAR(CONTROLPARENT parent, CONTROLID const& id, int x, int y, int cx, int cy)
{
    CreateProgressbar(parent, id, x, y, cx, cy);
}

PROGRESSBAR::PROGRESSBAR(CONTROLPARENT parent, CONTROLID const& id, CONTROLID const& templateId)
{
    CreateAtTemplate(parent, id, ProgressSpec(), templateId);
}

PROGRESSBAR::~PROGRESSBAR() = default;

bool PROGRESSBAR::CreateProgressbar(CONTROLPARENT parent, CONTROLID const& id, int x, int y, int cx, int cy)
{
    TARVOAPP::CheckCallerThread("PROGRESSBAR::CreateProgressbar");
    return CreateOwned(parent, id, ProgressSpec(), x, y, cx, cy);
}

bool PROGRESSBAR::SetRange(int max)
{
    TARVOAPP::CheckCallerThread("PROGRESSBAR::SetRange");
    return SetControlMinimum(0) && SetControlMaximum(max);
}

bool PROGRESSBAR::SetPos(int pos)
{
    TARVOAPP::CheckCallerThread("PROGRESSBAR::SetPos");
    SetControlValue(pos);
    return true;
}
