#include "velmot/gui/winentry.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winbuttons.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace {

constexpr plat::EventType kEntryEvents[] = {
    {plat::kEventClassControl, plat::kEventControlSetFocusPart},
    {plat::kEventClassTextField, plat::kEventTextDidChange},
    {plat::kEventClassTextField, plat::kEventTextAccepted},
    {plat::kEventClassTextField, plat::kEventTextShouldChangeInRange},
};

plat::ControlSpec EntrySpec()
{
    plat::ControlSpec spec;
    spec.kind = CONTROLKIND_EDITUNICODE;
    spec.title = plat::Text::FromLatin1("ENTRYFIELD");
    return spec;
}

plat::ControlSpec StaticSpec()
{
    plat::ControlSpec spec;
    spec.kind = CONTROLKIND_STATICTEXT;
    spec.title = plat::Text::FromLatin1("STATIC");
    return spec;
}

plat::ControlSpec IconSpec()
{
    plat::ControlSpec spec;
    spec.kind = CONTROLKIND_ICON;
    return spec;
}

bool IsDigit(char32_t c)
{
    return c >= U'0' && c <= U'9';
}

} // namespace

// ---------------------------------------------------------------------------
// ENTRYFIELD

ENTRYFIELD::ENTRYFIELD(CONTROLPARENT parent, CONTROLID const& id, int, int x, int y, int cx, int cy)
{
    CreateEntryfield(parent, id, x, y, cx, cy);
}

ENTRYFIELD::ENTRYFIELD(CONTROLPARENT parent, CONTROLID const& id, CONTROLID const& templateId)
{
    CreateAtTemplate(parent, id, EntrySpec(), templateId);
}

ENTRYFIELD::~ENTRYFIELD() = default;

bool ENTRYFIELD::CreateEntryfield(CONTROLPARENT parent, CONTROLID const& id, int x, int y, int cx, int cy)
{
    TARVOAPP::CheckCallerThread("ENTRYFIELD::CreateEntryfield");
    return CreateOwned(parent, id, EntrySpec(), x, y, cx, cy);
}

bool ENTRYFIELD::SetText(char const* text) const
{
    TARVOAPP::CheckCallerThread("ENTRYFIELD::SetText");
    if (!SetControlText(text))
        return false;
    SimulateHit(0);
    return true;
}

bool ENTRYFIELD::SetTextWide(wchar_t const* text) const
{
    TARVOAPP::CheckCallerThread("ENTRYFIELD::SetTextWide");
    if (!SetControlTextWide(text))
        return false;
    SimulateHit(0);
    return true;
}

bool ENTRYFIELD::SetSelection(int start, int end)
{
    TARVOAPP::CheckCallerThread("ENTRYFIELD::SetSelection");
    if (start < 0)
        start = 0;
    if (end == -1)
        end = 32767;
    // The selection record holds 16-bit positions: larger ones stand at
    // its end rather than wrap round to negative ones.
    start = std::min(start, 32767);
    end = std::min(end < 0 ? 0 : end, 32767);
    return VERIFYSTATUS("err == 0 ", plat::SetTextSelection(fControl, start, end));
}

bool ENTRYFIELD::GetSelection(int* start, int* end)
{
    TARVOAPP::CheckCallerThread("ENTRYFIELD::GetSelection");
    int32_t s = 0;
    int32_t e = 0;
    plat::Status err = plat::GetTextSelection(fControl, &s, &e);
    if (!VERIFYSTATUS("err == 0 ", err))
        s = e = 0;
    if (start)
        *start = s;
    if (end)
        *end = e;
    return err == plat::kNoErr;
}

bool ENTRYFIELD::SetReadOnly(bool on)
{
    TARVOAPP::CheckCallerThread("ENTRYFIELD::SetReadOnly");
    return VERIFYSTATUS("err == 0 ", plat::SetTextReadOnly(fControl, on));
}

bool ENTRYFIELD::InstallHandler()
{
    if (!IsValid())
        return false;
    if (GetControlProperty(CPROP_FIELDHANDLER))
        return true;
    // The handler holds the view, not this object: it goes with the view.
    plat::ViewRef const view = fControl;
    plat::HandlerRef const handler =
        plat::InstallHandler(plat::ViewTarget(view), kEntryEvents, [view](plat::HandlerCall& call, plat::Event& e) {
            ENTRYFIELD field(view);
            TCarbonEvent event(e);
            return field.HandleEvent(&call, event);
        });
    VASSERT(handler != nullptr, "!err", nullptr);
    return handler && SetControlProperty(CPROP_FIELDHANDLER, 1);
}

bool ENTRYFIELD::SetWantReturn(bool on)
{
    TARVOAPP::CheckCallerThread("ENTRYFIELD::SetWantReturn");
    bool ok = SetControlProperty(CPROP_WANTRETURN, on ? 1 : 0);
    return InstallHandler() && ok;
}

bool ENTRYFIELD::SetNumbersOnly(bool on)
{
    TARVOAPP::CheckCallerThread("ENTRYFIELD::SetNumbersOnly");
    bool ok = SetControlProperty(CPROP_NUMBERSONLY, on ? 1 : 0);
    return InstallHandler() && ok;
}

bool ENTRYFIELD::SetTextLength(int max)
{
    TARVOAPP::CheckCallerThread("ENTRYFIELD::SetTextLength");
    bool ok = SetControlProperty(CPROP_TEXTLENGTH, static_cast<MSGWORD>(static_cast<intptr_t>(max)));
    return InstallHandler() && ok;
}

plat::Status ENTRYFIELD::HandleEvent(plat::HandlerCall*, TCarbonEvent& event)
{
    plat::ViewRef view = nullptr;
    event.GetParameter(plat::kParamDirectObject, plat::kTypeView, &view);
    if (view != fControl)
        return plat::kErrEventNotHandled; // a control inside, climbing
    const int length = GetTextWide().Length();
    const bool numbersOnly = GetControlProperty(CPROP_NUMBERSONLY) != 0;
    const auto maxLength = static_cast<int>(static_cast<intptr_t>(GetControlProperty(CPROP_TEXTLENGTH)));
    const bool wantReturn = GetControlProperty(CPROP_WANTRETURN) != 0;

    if (event.GetClass() == plat::kEventClassControl) {
        if (event.GetKind() != plat::kEventControlSetFocusPart || !wantReturn)
            return plat::kErrEventNotHandled;
        int32_t part = 0;
        event.GetParameter(plat::kParamControlPart, plat::kTypeSInt32, &part);
        plat::WindowRef const window = plat::GetViewWindow(fControl);
        if (part != 0) {
            if (plat::ViewRef button = plat::GetWindowDefaultButton(window)) {
                PUSHBUTTON(button).MakeDefaultButton(0);
                SetControlProperty(CPROP_PARKEDDEFAULT, reinterpret_cast<MSGWORD>(button));
            }
        } else if (auto button = reinterpret_cast<plat::ViewRef>(GetControlProperty(CPROP_PARKEDDEFAULT))) {
            if (plat::IsViewValid(button))
                PUSHBUTTON(button).MakeDefaultButton(1);
            RemoveControlProperty(CPROP_PARKEDDEFAULT);
        }
        // The platform still moves the focus.
        return plat::kErrEventNotHandled;
    }
    if (event.GetClass() != plat::kEventClassTextField)
        return plat::kErrEventNotHandled;
    switch (event.GetKind()) {
    case plat::kEventTextDidChange:
        if (event.HasParameter(plat::kParamUnconfirmedRange))
            return plat::kErrEventNotHandled; // an input method still composes
        SendOwnerNotification(CONTROLNOTIFY_TEXTCHANGED, 0);
        return plat::kNoErr;
    case plat::kEventTextAccepted:
        SendOwnerNotification(CONTROLNOTIFY_TEXTACCEPTED, 0);
        return plat::kErrEventNotHandled;
    case plat::kEventTextShouldChangeInRange:
        break;
    default:
        return plat::kErrEventNotHandled;
    }

    plat::TextRange range;
    event.GetParameter(plat::kParamTextRange, plat::kTypeTextRange, &range);
    size_t bytes = 0;
    std::u32string candidate;
    if (event.GetEventRef().GetParamBytes(plat::kParamText, plat::kTypeUTF32, nullptr, 0, &bytes) == plat::kNoErr) {
        candidate.resize(bytes / sizeof(char32_t));
        event.GetEventRef().GetParamBytes(plat::kParamText, plat::kTypeUTF32, candidate.data(), bytes);
    }
    bool refuse = false;
    if (numbersOnly) {
        for (char32_t c : candidate)
            if (!IsDigit(c)) {
                candidate.clear();
                refuse = true;
                break;
            }
    }
    if (!refuse) {
        if (maxLength < 1)
            return plat::kErrEventNotHandled;
        const int newLength = length - range.length + static_cast<int>(candidate.size());
        if (newLength <= maxLength)
            return plat::kErrEventNotHandled;
        const size_t over = static_cast<size_t>(newLength - maxLength);
        candidate.resize(over >= candidate.size() ? 0 : candidate.size() - over);
    }
    event.GetEventRef().SetParam(plat::kParamReplacementText, plat::kTypeUTF32, candidate.data(),
                                 candidate.size() * sizeof(char32_t));
    OSYS::PlayAlert();
    return plat::kNoErr;
}

// ---------------------------------------------------------------------------
// STATICTEXT

STATICTEXT::STATICTEXT(CONTROLPARENT parent, CONTROLID const& id, int, int x, int y, int cx, int cy)
{
    CreateStaticText(parent, id, x, y, cx, cy);
}

STATICTEXT::STATICTEXT(CONTROLPARENT parent, CONTROLID const& id, int, CONTROLID const& templateId)
{
    CreateAtTemplate(parent, id, StaticSpec(), templateId);
}

STATICTEXT::~STATICTEXT() = default;

bool STATICTEXT::CreateStaticText(CONTROLPARENT parent, CONTROLID const& id, int x, int y, int cx, int cy)
{
    TARVOAPP::CheckCallerThread("STATICTEXT::CreateStaticText");
    return CreateOwned(parent, id, StaticSpec(), x, y, cx, cy);
}

// ---------------------------------------------------------------------------
// STATICICON

STATICICON::STATICICON(CONTROLPARENT parent, CONTROLID const& id, int, int x, int y, int cx, int cy)
{
    CreateStaticIcon(parent, id, x, y, cx, cy);
}

STATICICON::STATICICON(CONTROLPARENT parent, CONTROLID const& id, int, CONTROLID const& templateId)
{
    CreateAtTemplate(parent, id, IconSpec(), templateId);
}

STATICICON::~STATICICON() = default;

bool STATICICON::CreateStaticIcon(CONTROLPARENT parent, CONTROLID const& id, int x, int y, int cx, int cy)
{
    TARVOAPP::CheckCallerThread("STATICICON::CreateStaticIcon");
    return CreateOwned(parent, id, IconSpec(), x, y, cx, cy);
}

int STATICICON::SetIcon(plat::IconRef icon)
{
    TARVOAPP::CheckCallerThread("STATICICON::SetIcon");
    VERIFYSTATUS("err == 0 ", plat::SetControlIcon(fControl, icon));
    return 0;
}

plat::IconRef STATICICON::GetIcon() const
{
    return plat::GetControlIcon(fControl);
}
