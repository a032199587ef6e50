#include "velmot/gui/tabcontrol.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/windialog.h"
#include "velmot/gui/winlists.h"

#include "platform/controls/popups.h"
#include "platform/controls/tabs.h"
#include "platform/menus/menus.h"

namespace {

constexpr CONTROLID kMeasureId{plat::FourCC("IDC_"), 18};
constexpr FOURCHARCODE kBuddySignature = plat::FourCC("VLMT");
constexpr plat::EventType kBoundsChanged{plat::kEventClassControl, plat::kEventControlBoundsChanged};

// The number of the next page made from a layout, for all tab controls.
int gNextLayoutPane = 0;

WSTRING Wide(char const* text)
{
    return WSTRING(text ? text : "", UNICODE_CPSYSTEM);
}

} // namespace

TABCONTROL::TABCONTROL(CONTROLPARENT parent, CONTROLID const& id) : CONTROL(parent, id)
{
    TARVOAPP::CheckCallerThread("TABCONTROL::TABCONTROL");
    fMeasure = std::make_unique<ENTRYFIELD>(parent, kMeasureId, 0, 0, 0, 100, 20);
    Init();
}

TABCONTROL::TABCONTROL(plat::ViewRef view) : CONTROL(view)
{
    TARVOAPP::CheckCallerThread("TABCONTROL::TABCONTROL");
    CONTROLPARENT const holder{plat::GetSuperview(view)};
    fMeasure = std::make_unique<ENTRYFIELD>(holder, kMeasureId);
    // Made anew when nobody left one there.
    if (!fMeasure->IsValid() && holder.view)
        fMeasure = std::make_unique<ENTRYFIELD>(holder, kMeasureId, 0, 0, 0, 100, 20);
    Init();
}

TABCONTROL::~TABCONTROL() = default;

void TABCONTROL::Init()
{
    if (!IsValid())
        return;
    if (!GetControlProperty(CPROP_TABPREVIOUS))
        SetControlProperty(CPROP_TABPREVIOUS, static_cast<MSGWORD>(GetControlValue()));
    if (fMeasure)
        fMeasure->Show(false);
    plat::Status const err = RegisterForEvents(1, &kBoundsChanged);
    VASSERT(err == plat::kNoErr, "!err", nullptr);
}

plat::ViewRef TABCONTROL::Page(int page)
{
    return reinterpret_cast<plat::ViewRef>(GetControlProperty(CPROP_TABPAGE0 + static_cast<uint32_t>(page)));
}

int TABCONTROL::InsertPageWide(wchar_t const* label, plat::ViewRef pane)
{
    TARVOAPP::CheckCallerThread("TABCONTROL::InsertPageWide");
    int const page = fPageCount;
    SetControlMaximum(std::max(GetControlMaximum(), page + 1));
    POPUPBOX(GetBuddy()).AddItemWide(label);
    SetPageLabelWide(page, label);
    SetControlProperty(CPROP_TABPAGE0 + static_cast<uint32_t>(page), reinterpret_cast<MSGWORD>(pane));
    plat::ViewRef const holder = plat::GetSuperview(fControl);
    if (plat::GetSuperview(pane) != fControl && plat::GetSuperview(pane) != holder) {
        // Panes lie beside the tab control, in front of it.
        VERIFYSTATUS("err == 0 ", plat::AddSubview(holder, pane));
    }
    plat::SetViewVisible(pane, page == 0 || page == GetCurrentPage());
    ++fPageCount;
    if (page == 0) {
        SetControlProperty(CPROP_TABPREVIOUS, 1);
        // The owner hears of it and puts the first pane in place.
        SetControlValue(0);
        POPUPBOX(GetBuddy()).SelectItem(0, 1);
    }
    return page;
}

int TABCONTROL::InsertPageWide(wchar_t const* label, CONTROLID pane)
{
    // Inside the tab control, else beside it.
    CONTROL c(AsParent(), pane);
    if (!c.IsValid())
        c.Init(plat::FindViewById(plat::GetSuperview(fControl), plat::ViewId{pane.signature, pane.id}), false, nullptr);
    if (!VCHECK(c.IsValid(), "c.IsValid()", nullptr))
        return -1;
    return InsertPageWide(label, c.GetControlRef());
}

int TABCONTROL::InsertPageWide(wchar_t const* label, char const* nib, void*)
{
    DIALOG layout(nib, nullptr);
    std::vector<plat::ViewRef> const subviews = plat::GetSubviews(layout.GetClientView());
    plat::ViewRef const pane = subviews.empty() ? nullptr : subviews.front();
    if (!VCHECK(pane && plat::GetViewKind(pane) == CONTROLKIND_USERPANE, "upan!=NULL && kind.kind=='upan'",
                nullptr))
        return -1;
    CONTROLID const id{plat::FourCC("UTAB"), gNextLayoutPane++};
    VERIFYSTATUS("err == 0 ", plat::SetViewId(pane, plat::ViewId{id.signature, id.id}));
    // The pane still lies in the layout's window: it is bound by its view
    // and moved out before that window goes.
    return InsertPageWide(label, pane);
}

int TABCONTROL::InsertPage(char const* label, plat::ViewRef pane)
{
    return InsertPageWide(Wide(label).Buf(), pane);
}

int TABCONTROL::InsertPage(char const* label, CONTROLID pane)
{
    return InsertPageWide(Wide(label).Buf(), pane);
}

int TABCONTROL::InsertPage(char const* label, char const* nib, void* data)
{
    return InsertPageWide(Wide(label).Buf(), nib, data);
}

void TABCONTROL::DeletePage(int page)
{
    TARVOAPP::CheckCallerThread("TABCONTROL::DeletePage");
    if (!VCHECK(page == fPageCount - 1, "syspageid==howmany-1", nullptr))
        return;
    SetControlMaximum(GetControlMaximum() - 1);
    RemoveControlProperty(CPROP_TABPAGE0 + static_cast<uint32_t>(page));
    POPUPBOX buddy(GetBuddy());
    buddy.DeleteItem(buddy.GetItemCount() - 1);
    --fPageCount;
    SelectLabelType(-1);
}

void TABCONTROL::TurnToPage(int page)
{
    TARVOAPP::CheckCallerThread("TABCONTROL::TurnToPage");
    if (page == static_cast<int>(GetControlProperty(CPROP_TABPREVIOUS)) - 1)
        return;
    SetControlValue(page + 1);
}

int TABCONTROL::GetCurrentPage()
{
    return GetControlValue() - 1;
}

plat::ViewRef TABCONTROL::WindowFromPageid(int page)
{
    return Page(page);
}

void TABCONTROL::PageChanging(int page)
{
    plat::ViewRef const view = Page(page);
    if (view && plat::IsViewValid(view))
        plat::SetViewVisible(view, false);
}

void TABCONTROL::PageChanged(int page)
{
    TARVOAPP::CheckCallerThread("TABCONTROL::PageChanged");
    int const previous = static_cast<int>(GetControlProperty(CPROP_TABPREVIOUS)) - 1;
    plat::ViewRef const view = Page(page);
    if (previous != page) {
        plat::ViewRef const old = Page(previous);
        if (old && plat::IsViewValid(old) && old != view)
            plat::SetViewVisible(old, false);
    }
    if (view && plat::IsViewValid(view)) {
        // A pane inside the tab control is placed in its coordinates.
        RECT const r = plat::GetSuperview(view) == fControl ? GetClientRect() : GetRect();
        plat::SetViewFrame(view, plat::RectI{r.left + 6, r.top + 40, r.right - 6, r.bottom - 6});
        plat::SetViewVisible(view, true);
        CONTROL(view).SetFocusToFirstControl();
        plat::SetViewValue(GetBuddy(), page + 1);
    }
    SetControlProperty(CPROP_TABPREVIOUS, static_cast<MSGWORD>(page + 1));
}

bool TABCONTROL::SetPageLabel(int page, char const* label)
{
    return SetPageLabelWide(page, Wide(label).Buf());
}

bool TABCONTROL::SetPageLabelWide(int page, wchar_t const* label)
{
    TARVOAPP::CheckCallerThread("TABCONTROL::SetPageLabelWide");
    bool const ok = VERIFYSTATUS("err == 0 ", plat::SetTabLabel(fControl, page + 1, CFSTRING::TextOf(label)));
    POPUPBOX buddy(GetBuddy());
    if (WSTRING::WSTRCMP(buddy.GetItemTextWide(page).Buf(), label ? label : L"") != 0) {
        buddy.DeleteItem(page);
        buddy.InsertItemWide(label, page);
    }
    SelectLabelType(-1);
    return ok;
}

plat::ViewRef TABCONTROL::GetBuddy()
{
    auto buddy = reinterpret_cast<plat::ViewRef>(GetControlProperty(CPROP_BUDDY));
    if (buddy && plat::IsViewValid(buddy))
        return buddy;
    plat::ViewRef const holder = plat::GetSuperview(fControl);
    RECT const r = GetRect();
    plat::ControlSpec spec;
    spec.kind = plat::kControlKindPopupGroupBox;
    spec.id = plat::ViewId{kBuddySignature, GetId().id};
    spec.frame = plat::RectI{r.left, r.top + 7, r.right, r.bottom};
    spec.minimum = -1;
    spec.value = -1;
    spec.flags = plat::kControlFlagHidden;
    buddy = holder ? plat::CreateControl(holder, spec) : nullptr;
    if (!VCHECK(buddy != nullptr, "fbuddy", nullptr))
        return nullptr;
    plat::MenuRef const menu = plat::CreateMenu();
    VERIFYSTATUS("err == 0 ", plat::SetControlMenu(buddy, menu));
    plat::ReleaseMenu(menu);
    // Behind the tab control, and so behind the panes too.
    plat::SetViewZOrder(buddy, false, fControl);
    SetControlProperty(CPROP_BUDDY, reinterpret_cast<MSGWORD>(buddy));
    return buddy;
}

void TABCONTROL::SelectLabelType(signed char type)
{
    TARVOAPP::CheckCallerThread("TABCONTROL::SelectLabelType");
    plat::ViewRef const buddy = GetBuddy();
    if (type == -1) {
        POPUPBOX labels(buddy);
        WSTRING text(L"--");
        for (int i = 0; i < labels.GetItemCount(); ++i) {
            if (i)
                text.Append(L"...|...");
            text.Append(labels.GetItemTextWide(i));
        }
        text.Append(L"--");
        int32_t needed = 0;
        if (fMeasure && fMeasure->IsValid()) {
            fMeasure->SetControlTextWide(text.Buf());
            VERIFYSTATUS("err == 0 ", plat::GetBestControlSize(fMeasure->GetControlRef(), &needed, nullptr));
        }
        type = needed < GetSize().cx ? 1 : 0;
    }
    Show(type == 1);
    if (buddy)
        plat::SetViewVisible(buddy, type != 1);
}

plat::Status TABCONTROL::HandleEvent(plat::HandlerCall*, TCarbonEvent& event)
{
    if (event.GetClass() == plat::kEventClassControl && event.GetKind() == plat::kEventControlBoundsChanged) {
        plat::ViewRef const buddy = GetBuddy();
        RECT const r = GetRect();
        if (buddy)
            plat::SetViewFrame(buddy, plat::RectI{r.left, r.top + 7, r.right, r.bottom});
        SelectLabelType(-1);
    }
    return plat::kErrEventNotHandled;
}
