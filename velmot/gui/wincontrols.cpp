#include "velmot/gui/wincontrols.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"

#include <cstdio>

namespace {

constexpr FOURCHARCODE kTagThis = plat::FourCC("This");

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
    if (fOwns)
        Destroy();
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
        plat::RemoveViewProperty(fControl, VLMT_CREATOR, kTagThis);
        plat::DisposeView(fControl);
    }
    fControl = nullptr;
}

CONTROLID CONTROL::GetControlId() const
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
    return VERIFYSTATUS("err == 0 ", plat::SetViewProperty(view, VLMT_CREATOR, kTagThis, &object, sizeof object));
}

CONTROL* CONTROL::GetThisFromControlRef(plat::ViewRef view, bool mustExist)
{
    CONTROL* object = nullptr;
    size_t size = 0;
    plat::Status err = plat::GetViewProperty(view, VLMT_CREATOR, kTagThis, &object, sizeof object, &size);
    if (err != plat::kNoErr || size != sizeof object)
        object = nullptr;
    if (mustExist)
        VASSERT(object != nullptr, "err==noErr && This!=NULL", nullptr);
    return object;
}
