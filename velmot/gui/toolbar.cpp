#include "velmot/gui/toolbar.h"

#include "velmot/core/logit.h"
#include "velmot/core/registry.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winmenu.h"

#include "platform/services/prefs.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr plat::EventType kToolbarEvents[] = {
    {plat::kEventClassToolbar, plat::kEventToolbarGetDefaultIdentifiers},
    {plat::kEventClassToolbar, plat::kEventToolbarGetAllowedIdentifiers},
    {plat::kEventClassToolbar, plat::kEventToolbarGetSelectableIdentifiers},
    {plat::kEventClassToolbar, plat::kEventToolbarCreateItemWithIdentifier},
    {plat::kEventClassToolbar, plat::kEventToolbarCreateItemFromDrag},
};

std::string Utf8(plat::Text const& text)
{
    std::string out;
    text.ToUtf8(out, '?');
    return out;
}

} // namespace

NEWTOOLBAR::NEWTOOLBAR(plat::WindowRef window, CONTROLID, int, int, int) : fWindow(window)
{
    TARVOAPP::CheckCallerThread("NEWTOOLBAR::NEWTOOLBAR");
    Init();
}

NEWTOOLBAR::~NEWTOOLBAR()
{
    if (fToolbar && plat::GetWindowToolbar(fWindow) == fToolbar)
        plat::ShowHideWindowToolbar(fWindow, false, false);
    RemoveEventHandler();
}

bool NEWTOOLBAR::Init()
{
    TARVOAPP::CheckCallerThread("NEWTOOLBAR::Init");
    fToolbar = plat::CreateToolbar("Toolbar", plat::kToolbarAutoSavesConfig | plat::kToolbarIsConfigurable);
    if (!fToolbar) {
        VerifyFailed("err == 0 ", __FILE__, __LINE__, plat::kErrBadArgument);
        return false;
    }
    // The configuration lives in the application's settings domain.
    STRING domain;
    plat::PrefScope scope{};
    STRING prefix;
    REGISTRY registry(gApplicationName.Buf(), "Software\\Tarvo\\", REGISTRY::CURRENT_USER);
    if (registry.GetPrefsMapping(&domain, &scope, &prefix))
        plat::SetToolbarAutosave(fToolbar, domain.Buf(), "Toolbar");
    plat::Status err = RegisterForEvents(std::size(kToolbarEvents), kToolbarEvents);
    VASSERT(err == plat::kNoErr, "!err", nullptr);
    err = plat::SetWindowToolbar(fWindow, fToolbar);
    return VERIFYSTATUS("err == 0 ", err);
}

plat::TargetRef NEWTOOLBAR::GetEventTarget() const
{
    return plat::ToolbarTarget(fToolbar);
}

void NEWTOOLBAR::Show(signed char on)
{
    TARVOAPP::CheckCallerThread("NEWTOOLBAR::Show");
    plat::RectI const frame = plat::GetWindowBounds(fWindow);
    if (VERIFYSTATUS("err == 0 ", plat::ShowHideWindowToolbar(fWindow, on != 0, false)))
        plat::SetWindowBounds(fWindow, frame);
}

int NEWTOOLBAR::AddButtonToTable(uint32_t command, int style, MENU* menu, char const* text, uint32_t icon)
{
    TARVOAPP::CheckCallerThread("NEWTOOLBAR::AddButtonToTable");
    if (style & TBSTYLE_NOBUTTON)
        return -1;
    if (!VCHECK(fCount < MAXBUTTONS, "newindex<ARRAYMAX(this->Buttons)", nullptr))
        return -1;
    int const index = fCount++;
    TOOLBARBUTTON& b = fButtons[index];
    b.Command = command;
    b.Style = static_cast<uint32_t>(style) | TBSTYLE_BUTTON;
    b.Icon = icon;
    b.IconObj = std::make_unique<ICON>(icon);
    char id[16];
    std::snprintf(id, sizeof id, "%u", command);
    b.Identifier = plat::Text::FromLatin1(id);
    VASSERT(menu == nullptr || text == nullptr, "pmenu==NULL || text==NULL", nullptr);
    if (menu)
        AddButtonText(command, menu);
    else if (text)
        AddButtonText(command, STRING(text));
    else if (fDefaultMenu)
        AddButtonText(command, fDefaultMenu);
    else {
        AssertMsg(0, "pmenu!=NULL || text!=NULL", __FILE__, __LINE__, nullptr, false);
        AddButtonText(command, STRING(""));
    }
    return index;
}

bool NEWTOOLBAR::AddButtonText(uint32_t command, STRING const& text)
{
    int const index = FindButton(command, nullptr);
    if (index == -1)
        return false;
    std::string label(text.Buf());
    for (size_t at; (at = label.find("...")) != std::string::npos;)
        label.erase(at, 3);
    while (!label.empty() && (label.back() == ' ' || label.back() == '\t'))
        label.pop_back();
    fButtons[index].Label = STRING(label.c_str());
    return true;
}

bool NEWTOOLBAR::AddButtonText(uint32_t command, MENU* menu)
{
    if (!menu) {
        if (!VCHECK(fDefaultMenu != nullptr, "pfrommenu", nullptr))
            return false;
        menu = fDefaultMenu;
    }
    return AddButtonText(command, menu->GetMenuItemText(command, false));
}

int NEWTOOLBAR::FindButton(uint32_t command, plat::ToolbarItemRef* item)
{
    int index = -1;
    for (int i = 0; i < fCount && index == -1; ++i)
        if (fButtons[i].Command == command)
            index = i;
    if (item) {
        *item = nullptr;
        for (plat::ToolbarItemRef i : plat::CopyToolbarItems(fToolbar))
            if (plat::GetToolbarItemCommand(i) == command)
                *item = i;
    }
    return index;
}

void NEWTOOLBAR::CheckButton(uint32_t command, int on)
{
    TARVOAPP::CheckCallerThread("NEWTOOLBAR::CheckButton");
    plat::ToolbarItemRef item = nullptr;
    int const index = FindButton(command, &item);
    if (index == -1 || !item)
        return;
    VASSERT(fButtons[index].Style & TBSTYLE_CHECK, "button.Style & TBSTYLE_CHECK", nullptr);
    plat::ChangeToolbarItemAttributes(item, on ? plat::kToolbarItemSelected : 0, on ? 0 : plat::kToolbarItemSelected);
}

bool NEWTOOLBAR::IsButtonChecked(uint32_t command)
{
    plat::ToolbarItemRef item = nullptr;
    if (FindButton(command, &item) == -1 || !item)
        return false;
    return (plat::GetToolbarItemAttributes(item) & plat::kToolbarItemSelected) != 0;
}

void NEWTOOLBAR::EnableButton(uint32_t command, signed char on)
{
    TARVOAPP::CheckCallerThread("NEWTOOLBAR::EnableButton");
    plat::ToolbarItemRef item = nullptr;
    if (FindButton(command, &item) != -1 && item)
        plat::EnableToolbarItem(item, on != 0);
}

bool NEWTOOLBAR::IsButtonEnabled(uint32_t command)
{
    plat::ToolbarItemRef item = nullptr;
    return FindButton(command, &item) != -1 && item && plat::IsToolbarItemEnabled(item);
}

bool NEWTOOLBAR::SetButtonMenu(uint32_t command, NTB_DROPSTYLES style)
{
    int const index = FindButton(command, nullptr);
    if (index == -1)
        return false;
    uint32_t& s = fButtons[index].Style;
    switch (style) {
    case NTB_NODROP:
        s &= ~(TBSTYLE_DROPDOWN | TBSTYLE_DROPDOWN2);
        break;
    case NTB_DROPMENU:
        s |= TBSTYLE_DROPDOWN;
        break;
    case NTB_DROPMENU2:
        s |= TBSTYLE_DROPDOWN2;
        AssertMsg(0, "FALSE", __FILE__, __LINE__, nullptr, false);
        break;
    default:
        break;
    }
    return true;
}

plat::Status NEWTOOLBAR::HandleEvent(plat::HandlerCall*, TCarbonEvent& event)
{
    if (event.GetClass() != plat::kEventClassToolbar)
        return plat::kErrEventNotHandled;
    switch (event.GetKind()) {
    case plat::kEventToolbarGetDefaultIdentifiers: {
        std::vector<std::string>* list = nullptr;
        if (event.GetParameter(plat::kParamMutableArray, plat::kTypeIdentifierList, &list) != plat::kNoErr || !list)
            return plat::kErrEventNotHandled;
        for (int i = 0; i < fCount; ++i) {
            if (fButtons[i].Style & TBSTYLE_NODEFAULT)
                continue;
            if ((fButtons[i].Style & TBSTYLE_SEP) && i > 0)
                list->push_back(plat::kToolbarSeparatorIdentifier);
            list->push_back(Utf8(fButtons[i].Identifier));
        }
        return plat::kErrEventNotHandled;
    }
    case plat::kEventToolbarGetAllowedIdentifiers: {
        std::vector<std::string>* list = nullptr;
        if (event.GetParameter(plat::kParamMutableArray, plat::kTypeIdentifierList, &list) != plat::kNoErr || !list)
            return plat::kErrEventNotHandled;
        list->push_back(plat::kToolbarSeparatorIdentifier);
        list->push_back(plat::kToolbarSpaceIdentifier);
        list->push_back(plat::kToolbarFlexibleSpaceIdentifier);
        for (int i = 0; i < fCount; ++i)
            list->push_back(Utf8(fButtons[i].Identifier));
        list->push_back(plat::kToolbarCustomizeIdentifier);
        return plat::kNoErr;
    }
    case plat::kEventToolbarCreateItemWithIdentifier: {
        char id[96] = {};
        size_t size = 0;
        plat::Status err = event.GetEventRef().GetParamBytes(plat::kParamToolbarItemIdentifier, plat::kTypeUTF8, id,
                                                             sizeof id - 1, &size);
        if (err != plat::kNoErr || size >= sizeof id)
            return plat::kErrEventNotHandled;
        if (std::strncmp(id, plat::kToolbarIdentifierPrefix, std::strlen(plat::kToolbarIdentifierPrefix)) == 0)
            return plat::kErrEventNotHandled;
        int index = -1;
        for (int i = 0; i < fCount && index == -1; ++i)
            if (STRING::STRICMP(Utf8(fButtons[i].Identifier).c_str(), id) == 0)
                index = i;
        if (index == -1)
            return plat::kErrEventNotHandled;
        TOOLBARBUTTON const& b = fButtons[index];
        plat::ToolbarItemRef item = plat::CreateToolbarItem(id);
        if (!item)
            return plat::kErrEventNotHandled;
        if (b.Label.StrLen) {
            plat::Text const label = CFSTRING::TextOf(b.Label.Buf());
            VERIFYSTATUS("err == 0 ", plat::SetToolbarItemLabel(item, label));
            VERIFYSTATUS("err == 0 ", plat::SetToolbarItemHelpText(item, label));
        }
        plat::SetToolbarItemCommand(item, b.Command);
        if (b.IconObj && b.IconObj->GetIconRef())
            plat::SetToolbarItemIcon(item, b.IconObj->GetIconRef());
        event.SetParameter(plat::kParamToolbarItem, plat::kTypeToolbarItem, item);
        return plat::kNoErr;
    }
    default:
        return plat::kErrEventNotHandled;
    }
}
