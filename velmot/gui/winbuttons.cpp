#include "velmot/gui/winbuttons.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"

namespace {

plat::ControlSpec Spec(FOURCHARCODE kind, char const* title, uint32_t flags = 0)
{
    plat::ControlSpec spec;
    spec.kind = kind;
    spec.title = plat::Text::FromLatin1(title);
    spec.flags = flags;
    return spec;
}

plat::ControlSpec PushSpec(int style)
{
    if (style & PUSHBUTTONSTYLE_ICON)
        AssertMsg(0, "FALSE", __FILE__, __LINE__, nullptr, false);
    // An icon button is made as a plain one.
    return Spec(CONTROLKIND_PUSH, "PUSHBUTTON");
}

plat::ControlSpec BevelSpec(int style)
{
    uint32_t flags = 0;
    if (style & BEVELBUTTONSTYLE_TOGGLES)
        flags |= plat::kControlFlagToggles;
    if (style & BEVELBUTTONSTYLE_ROUNDED)
        flags |= plat::kControlFlagRounded;
    return Spec(CONTROLKIND_BEVEL, "BEVELBUTTON", flags);
}

plat::ControlSpec CheckSpec()
{
    return Spec(CONTROLKIND_CHECKBOX, "CHECKBOX", plat::kControlFlagAutoToggle);
}

plat::ControlSpec DisclosureSpec()
{
    return Spec(CONTROLKIND_DISCLOSURE, "");
}

} // namespace

// ---------------------------------------------------------------------------
// PUSHBUTTON

PUSHBUTTON::PUSHBUTTON(CONTROLPARENT parent, CONTROLID const& id, int style, int x, int y, int cx, int cy)
{
    CreatePushbutton(parent, id, style, x, y, cx, cy);
}

PUSHBUTTON::PUSHBUTTON(CONTROLPARENT parent, CONTROLID const& id, int style, CONTROLID const& templateId)
{
    CreateAtTemplate(parent, id, PushSpec(style), templateId);
}

PUSHBUTTON::~PUSHBUTTON() = default;

bool PUSHBUTTON::CreatePushbutton(CONTROLPARENT parent, CONTROLID const& id, int style, int x, int y, int cx, int cy)
{
    TARVOAPP::CheckCallerThread("PUSHBUTTON::CreatePushbutton");
    return CreateOwned(parent, id, PushSpec(style), x, y, cx, cy);
}

int PUSHBUTTON::MakeDefaultButton(int on) const
{
    TARVOAPP::CheckCallerThread("PUSHBUTTON::MakeDefaultButton");
    if (!on) {
        bool ok = VERIFYSTATUS("err == 0 ", plat::SetControlDefault(fControl, false));
        plat::SetWindowDefaultButton(plat::GetViewWindow(fControl), nullptr);
        return ok;
    }
    return VERIFYSTATUS("err == 0 ", plat::SetControlDefault(fControl, true));
}

int PUSHBUTTON::SetIcon(plat::IconRef)
{
    AssertMsg(0, "FALSE", __FILE__, __LINE__, nullptr, false);
    return 0;
}

// ---------------------------------------------------------------------------
// CHECKBOX, RADIOBUTTON

CHECKBOX::CHECKBOX(CONTROLPARENT parent, CONTROLID const& id, int, int x, int y, int cx, int cy)
{
    CreateCheckbox(parent, id, x, y, cx, cy);
}

CHECKBOX::CHECKBOX(CONTROLPARENT parent, CONTROLID const& id, int, CONTROLID const& templateId)
{
    CreateAtTemplate(parent, id, CheckSpec(), templateId);
}

CHECKBOX::~CHECKBOX() = default;

bool CHECKBOX::CreateCheckbox(CONTROLPARENT parent, CONTROLID const& id, int x, int y, int cx, int cy)
{
    TARVOAPP::CheckCallerThread("CHECKBOX::CreateCheckbox");
    return CreateOwned(parent, id, CheckSpec(), x, y, cx, cy);
}

bool CHECKBOX::SetTriState(bool on)
{
    TARVOAPP::CheckCallerThread("CHECKBOX::SetTriState");
    bool ok = SetControlProperty(CPROP_TRISTATE, on ? 1 : 0);
    if (!on)
        ok = SetControlProperty(CPROP_LASTVALUE, 0) && ok;
    return ok;
}

bool CHECKBOX::IsTriState() const
{
    return static_cast<signed char>(GetControlProperty(CPROP_TRISTATE)) != 0;
}

RADIOBUTTON::~RADIOBUTTON() = default;

// ---------------------------------------------------------------------------
// BEVELBUTTON

BEVELBUTTON::BEVELBUTTON(CONTROLPARENT parent, CONTROLID const& id, int style, int x, int y, int cx, int cy)
{
    CreateBevelbutton(parent, id, style, x, y, cx, cy);
}

BEVELBUTTON::BEVELBUTTON(CONTROLPARENT parent, CONTROLID const& id, int style, CONTROLID const& templateId)
{
    CreateAtTemplate(parent, id, BevelSpec(style), templateId);
}

BEVELBUTTON::~BEVELBUTTON() = default;

bool BEVELBUTTON::CreateBevelbutton(CONTROLPARENT parent, CONTROLID const& id, int style, int x, int y, int cx,
                                    int cy)
{
    TARVOAPP::CheckCallerThread("BEVELBUTTON::CreateBevelbutton");
    return CreateOwned(parent, id, BevelSpec(style), x, y, cx, cy);
}

bool BEVELBUTTON::SetIcon(plat::IconRef icon)
{
    TARVOAPP::CheckCallerThread("BEVELBUTTON::SetIcon");
    return VERIFYSTATUS("err == 0 ", plat::SetControlIcon(fControl, icon));
}

bool BEVELBUTTON::SetMenu(plat::MenuRef menu)
{
    TARVOAPP::CheckCallerThread("BEVELBUTTON::SetMenu");
    return VERIFYSTATUS("err == 0 ", plat::SetControlMenu(fControl, menu));
}

// ---------------------------------------------------------------------------
// DISCLOSUREBUTTON

DISCLOSUREBUTTON::DISCLOSUREBUTTON(CONTROLPARENT parent, CONTROLID const& id, int, int x, int y, int cx, int cy)
{
    CreateDisclosureButton(parent, id, x, y, cx, cy);
}

DISCLOSUREBUTTON::DISCLOSUREBUTTON(CONTROLPARENT parent, CONTROLID const& id, int, CONTROLID const& templateId)
{
    CreateAtTemplate(parent, id, DisclosureSpec(), templateId);
}

DISCLOSUREBUTTON::~DISCLOSUREBUTTON() = default;

bool DISCLOSUREBUTTON::CreateDisclosureButton(CONTROLPARENT parent, CONTROLID const& id, int x, int y, int cx,
                                              int cy)
{
    TARVOAPP::CheckCallerThread("DISCLOSUREBUTTON::CreateDisclosureButton");
    return CreateOwned(parent, id, DisclosureSpec(), x, y, cx, cy);
}
