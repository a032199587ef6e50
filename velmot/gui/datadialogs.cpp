#include "velmot/gui/datadialogs.h"

#include "velmot/core/logit.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/listbox.h"
#include "velmot/gui/helpfile.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr CONTROLID kHelpButton{plat::FourCC("HELP"), 0};
constexpr int kEventClicked = CONTROLEVENT_CLICKED;   // 257
constexpr int kEventEdited = CONTROLEVENT_EDITED;     // 513
constexpr int kEventSelected = CONTROLEVENT_SELECTED; // 769
constexpr uint32_t kOkayCode = 0x4F4B4159;            // 'OKAY'

#define DDREPORT(text, info) AssertMsg(0, text, __FILE__, __LINE__, (info), false)

bool SameParent(CONTROLPARENT a, CONTROLPARENT b)
{
    return a.view == b.view;
}

bool HasNoDepend(DATADIALOGBASE::DISABLEITEMRULE const& rule)
{
    return rule.Depend.signature == 0 && rule.Depend.id == 0;
}

bool IsTextField(FOURCHARCODE kind)
{
    return kind == CONTROLKIND_EDITTEXT || kind == CONTROLKIND_EDITUNICODE;
}

bool IsList(FOURCHARCODE kind)
{
    return kind == CONTROLKIND_POPUP || kind == CONTROLKIND_POPUPGROUP || kind == CONTROLKIND_COMBOBOX ||
           kind == CONTROLKIND_DATABROWSER;
}

// The index and text of a list's chosen item (-1 and "" when none).
void ChosenItem(CONTROL const& control, int* index, STRING* text)
{
    std::unique_ptr<BASELIST> list;
    FOURCHARCODE const kind = control.GetKind();
    if (kind == CONTROLKIND_POPUP || kind == CONTROLKIND_POPUPGROUP)
        list = std::make_unique<POPUPBOX>(control.GetControlRef());
    else if (kind == CONTROLKIND_COMBOBOX)
        list = std::make_unique<COMBOBOX>(control.GetControlRef());
    else
        list = std::make_unique<LISTBOX>(control.GetControlRef());
    *index = list->GetSelectedItem(0);
    *text = *index == -1 ? STRING("") : list->GetItemText(*index);
}

// A click on a radio button turns its neighbours off only after the
// callbacks; the rules must see the group as it will be.
void SettleRadioGroup(int event, CONTROL const& control)
{
    if (event != kEventClicked || !control.IsControlOfKind(CONTROLKIND_RADIO))
        return;
    CONTROL clicked(control.GetControlRef());
    WINDOW::HandleAutoRadioButton(clicked);
}

} // namespace

// ---------------------------------------------------------------------------
// DATADIALOGBASE

DATADIALOGBASE::DATADIALOGBASE()
    : Items(new DATADIALOGITEM*[MAXITEMS]()), pDisableItems(&DisableItems), pDisableItemCount(&DisableItemCount)
{
}

DATADIALOGBASE::DATADIALOGBASE(RULETABLE* rules, int& count)
    : Items(new DATADIALOGITEM*[MAXITEMS]()), pDisableItems(rules ? rules : &DisableItems),
      pDisableItemCount(rules ? &count : &DisableItemCount)
{
}

DATADIALOGBASE::~DATADIALOGBASE()
{
    DeleteItems();
}

void DATADIALOGBASE::DeleteItems()
{
    for (int i = Howmany - 1; i >= 0; --i) {
        delete Items[i];
        Items[i] = nullptr;
    }
    Howmany = 0;
}

int DATADIALOGBASE::AddItem(DATADIALOGITEM* item)
{
    if (!item)
        return Howmany;
    if (Howmany >= Max) {
        DDREPORT("this->Howmany < this->Max", item->IdCtrl.AsString().Buf());
        delete item;
        return Howmany;
    }
    Items[Howmany++] = item;
    return Howmany;
}

void DATADIALOGBASE::AutoDisable(CONTROLPARENT controlledParent, CONTROLID controlled, CONTROLPARENT dependingParent,
                                 CONTROLID depending, DISABLETYPE type, char const* text)
{
    int& count = *pDisableItemCount;
    if (count >= MAXRULES) {
        DDREPORT("this->DisableItemCount<ARRAYMAX(this->DisableItems)", controlled.AsString().Buf());
        return;
    }
    DISABLEITEMRULE& rule = (*pDisableItems)[count++];
    rule = DISABLEITEMRULE{};
    rule.ControlledParent = controlledParent.view ? controlledParent : GetControlParent();
    rule.Controlled = controlled;
    rule.DependParent = dependingParent.view ? dependingParent : GetControlParent();
    rule.Depend = depending;
    rule.Type = type;
    rule.Text = STRING(text ? text : "", UNICODE_CPDEFAULT);
}

void DATADIALOGBASE::SetControlEventCallback(CONTROLEVENTCALLBACK callback, void* context)
{
    pCallback = callback;
    pCallbackContext = callback ? context : nullptr;
}

void DATADIALOGBASE::ValuesToDialog()
{
    CONTROLPARENT const parent = GetControlParent();
    for (int i = 0; i < Howmany; ++i)
        Items[i]->DataToDialog(parent);
}

void DATADIALOGBASE::DialogToValues()
{
    if (!Save)
        return;
    CONTROLPARENT const parent = GetControlParent();
    for (int i = 0; i < Howmany; ++i)
        Items[i]->DialogToData(parent);
}

void DATADIALOGBASE::NoSave()
{
    Save = 0;
}

signed char DATADIALOGBASE::HandlePushbutton(CONTROLID id)
{
    if (id == kHelpButton)
        DDREPORT("idc!=IDHELP", id.AsString().Buf());
    for (int i = 0; i < Howmany; ++i) {
        if (!(Items[i]->IdCtrl == id))
            continue;
        auto* push = dynamic_cast<PUSHDATADIALOGITEM*>(Items[i]);
        if (!push)
            continue;
        push->PushEvent();
        return 1;
    }
    return 0;
}

signed char DATADIALOGBASE::HandleControlEvent(int event, CONTROL const& control, void*)
{
    CONTROLPARENT const parent = GetControlParent();
    CONTROLID const source = control.GetId();
    if (pCallback)
        pCallback(pCallbackContext, parent, event, control);
    if (event != kEventClicked && event != kEventEdited && event != kEventSelected)
        return 0;
    DISABLEITEMRULE* const rules = *pDisableItems;
    int const count = *pDisableItemCount;
    for (int i = 0; i < count; ++i)
        rules[i].Done = false;
    ++Pass;
    bool const sourceIsRadio = control.IsControlOfKind(CONTROLKIND_RADIO);
    for (int i = 0; i < count; ++i) {
        DISABLEITEMRULE& rule = rules[i];
        if (rule.Done)
            continue;
        bool const noDepend = HasNoDepend(rule);
        if (noDepend && Pass > 1)
            continue;
        bool relevant = noDepend || (SameParent(rule.DependParent, parent) && rule.Depend == source);
        if (!relevant && sourceIsRadio)
            relevant = CONTROL(rule.DependParent, rule.Depend).IsControlOfKind(CONTROLKIND_RADIO);
        if (!relevant)
            continue;
        DISABLETYPE const hideBit = rule.Type & DISABLE_HIDE;
        int members = 0;
        int hits = 0;
        // "All of the group" belongs to the group: whichever of its
        // controls changed, the same rule decides.
        bool allOf = false;
        for (int j = 0; j < count; ++j) {
            DISABLEITEMRULE& other = rules[j];
            if (!SameParent(other.ControlledParent, rule.ControlledParent) || !(other.Controlled == rule.Controlled) ||
                (other.Type & DISABLE_HIDE) != hideBit)
                continue;
            ++members;
            other.Done = true;
            allOf = allOf || (other.Type & DISABLE_ALLOFGROUP) != 0;
            if (ShouldDisable(other) == 1)
                ++hits;
        }
        bool disable = false;
        if (hits == members)
            disable = hits > 0;
        else if (hits > 0)
            disable = !allOf;
        CONTROL controlled(rule.ControlledParent, rule.Controlled);
        DoDisable(parent, rule, controlled, disable ? 1 : 0, hideBit ? 1 : 0);
    }
    return 0;
}

signed char DATADIALOGBASE::ShouldDisable(DISABLEITEMRULE& rule)
{
    DISABLETYPE const k = rule.Type & DISABLE_KINDMASK;
    if (k == DISABLE_ALWAYS)
        return 1;
    if (k == DISABLE_NEVER)
        return 0;
    CONTROL const cdepend(rule.DependParent, rule.Depend);
    if (!cdepend.IsValid()) {
        // Nothing to look at: the rule does not disable.
        DDREPORT("cdepend.IsValid()", rule.Depend.AsString().Buf());
        return 0;
    }
    FOURCHARCODE const kind = cdepend.GetKind();
    auto invalid = [&rule]() -> signed char {
        DDREPORT("FALSE", rule.Depend.AsString().Buf());
        return 0;
    };
    if (kind == CONTROLKIND_CHECKBOX || kind == CONTROLKIND_RADIO) {
        bool const on = (cdepend.GetControlValue() & 0xFF) != 0;
        if (k == DISABLE_IFSET)
            return on ? 1 : 0;
        if (k == DISABLE_IFNOTSET)
            return on ? 0 : 1;
        return invalid();
    }
    if (IsList(kind)) {
        if (k != DISABLE_IFTEXT && k != DISABLE_IFNOTTEXT && k != DISABLE_IFINDEX && k != DISABLE_IFNOTINDEX)
            return invalid();
        int index = -1;
        STRING text;
        ChosenItem(cdepend, &index, &text);
        bool const sameText = STRING::STRICMP(text.Buf(), rule.Text.Buf()) == 0;
        bool const sameIndex = index == std::atoi(rule.Text.Buf());
        switch (k) {
        case DISABLE_IFTEXT: return sameText ? 1 : 0;
        case DISABLE_IFNOTTEXT: return sameText ? 0 : 1;
        case DISABLE_IFINDEX: return sameIndex ? 1 : 0;
        default: return sameIndex ? 0 : 1;
        }
    }
    if (IsTextField(kind)) {
        STRING const text = ENTRYFIELD(cdepend.GetControlRef()).GetText();
        switch (k) {
        case DISABLE_IFSET: return text.NotEmpty() ? 1 : 0;
        case DISABLE_IFNOTSET: return text.IsEmpty() ? 1 : 0;
        case DISABLE_IFTEXT: return STRING::STRICMP(text.Buf(), rule.Text.Buf()) == 0 ? 1 : 0;
        case DISABLE_IFNOTTEXT: return STRING::STRICMP(text.Buf(), rule.Text.Buf()) != 0 ? 1 : 0;
        case DISABLE_IFEXISTS: return FILENAME(text).Exists() ? 1 : 0;
        case DISABLE_IFNOTEXISTS: return FILENAME(text).Exists() ? 0 : 1;
        case DISABLE_IFFOLDER: return FILENAME(text).IsDirectory() ? 1 : 0;
        case DISABLE_IFNOTFOLDER: return FILENAME(text).IsDirectory() ? 0 : 1;
        default: return invalid();
        }
    }
    return 0;
}

void DATADIALOGBASE::DoDisable(CONTROLPARENT, DISABLEITEMRULE& rule, CONTROL& controlled, signed char disable,
                               signed char hide)
{
    if (!controlled.IsValid())
        return;
    if (hide) {
        controlled.Show(!disable);
        if (IsTextField(controlled.GetKind())) {
            // The arrows lie beside their field, in the field's parent.
            CONTROL const arrows(rule.ControlledParent, SPINDATADIALOGITEM::GetIdSpin(rule.Controlled));
            if (arrows.IsValid())
                arrows.Show(!disable);
        }
    } else {
        controlled.Enable(!disable);
    }
    auto const buddy = reinterpret_cast<plat::ViewRef>(controlled.GetControlProperty(CPROP_BUDDY));
    if (buddy && plat::IsViewValid(buddy)) {
        CONTROL const b(buddy);
        if (hide)
            b.Show(!disable);
        else
            b.Enable(!disable);
    }
}

// ---------------------------------------------------------------------------
// DATADIALOG

DATADIALOG::DATADIALOG(char const* nib, WINDOW const& owner, void*) : DIALOG(nib, owner.GetWindow()) {}

DATADIALOG::DATADIALOG(char const* nib, WINDOW const& owner, RULETABLE* rules, int& count)
    : DATADIALOGBASE(rules, count), DIALOG(nib, owner.GetWindow())
{
}

DATADIALOG::~DATADIALOG()
{
    DeleteItems();
}

CONTROLPARENT DATADIALOG::GetControlParent()
{
    return CONTROLPARENT{GetClientView()};
}

bool DATADIALOG::OnControlEvent(int event, CONTROL const& control, void* data)
{
    SettleRadioGroup(event, control);
    if (static_cast<DATADIALOGBASE*>(this)->HandleControlEvent(event, control, data))
        return true;
    return DIALOG::OnControlEvent(event, control, data);
}

bool DATADIALOG::OnPushbutton(CONTROLID id)
{
    if (HandlePushbutton(id))
        return true;
    return DIALOG::OnPushbutton(id);
}

// ---------------------------------------------------------------------------
// DATADIALOGBOX

DATADIALOGBOX::DATADIALOGBOX(char const* nib, WINDOW const& owner, void* data) : DATADIALOG(nib, owner, data) {}

DATADIALOGBOX::~DATADIALOGBOX() = default;

int DATADIALOGBOX::Process(signed char noshow)
{
    Save = 1;
    for (int i = 0; i < PageCount; ++i)
        if (Pages[i].Page)
            Pages[i].Page->SetSaveFlag(1);
    ValuesToDialog();
    for (int i = 0; i < PageCount; ++i)
        if (Pages[i].Page)
            Pages[i].Page->ValuesToDialog();
    return DIALOG::Process(noshow != 0);
}

bool DATADIALOGBOX::OnDialogDismissed(int)
{
    DialogToValues();
    for (int i = 0; i < PageCount; ++i)
        if (Pages[i].Page)
            Pages[i].Page->DialogToValues();
    return true;
}

bool DATADIALOGBOX::OnPushbutton(CONTROLID id)
{
    if (id == DIALOG_CANCELBUTTON) {
        NoSave();
        for (int i = 0; i < PageCount; ++i)
            if (Pages[i].Page)
                Pages[i].Page->NoSave();
    }
    return DATADIALOG::OnPushbutton(id);
}

bool DATADIALOGBOX::OnClose()
{
    // Ending with the cancel code means nothing was stored.
    NoSave();
    for (int i = 0; i < PageCount; ++i)
        if (Pages[i].Page)
            Pages[i].Page->NoSave();
    Dismiss(0);
    return true;
}

DATADIALOGPAGE* DATADIALOGBOX::AddPage(char const*)
{
    DDREPORT("FALSE", "Pages for a DATADIALOGBOX not yet supported!");
    return nullptr;
}

DATADIALOGPAGE* DATADIALOGBOX::FindPage(int id)
{
    for (int i = 0; i < PageCount; ++i)
        if (Pages[i].Id == id)
            return Pages[i].Page;
    return nullptr;
}

// ---------------------------------------------------------------------------
// DATADIALOGMULTI

DATADIALOGMULTI::DATADIALOGMULTI(char const* nib, WINDOW const& owner, void* data)
    : DATADIALOG(nib, owner, data), Pages(new PAGEENTRY[MAXPAGES])
{
}

DATADIALOGMULTI::~DATADIALOGMULTI()
{
    for (int i = 0; i < PageCount; ++i) {
        delete Pages[i].Page;
        Pages[i].Page = nullptr;
    }
    PageCount = 0;
}

void DATADIALOGMULTI::CancelAll()
{
    for (int i = 0; i < PageCount; ++i)
        Pages[i].Page->NoSave();
    NoSave();
}

bool DATADIALOGMULTI::OnPushbutton(CONTROLID id)
{
    if (id == DIALOG_CANCELBUTTON) {
        // The dialog's own items are cancelled with the pages.
        CancelAll();
    } else if (id == kHelpButton) {
        if (OnHelp())
            return true;
    }
    return DATADIALOG::OnPushbutton(id);
}

bool DATADIALOGMULTI::OnClose()
{
    if (SaveClosing) {
        Dismiss(kOkayCode);
    } else {
        CancelAll();
        Dismiss(0);
    }
    return true;
}

bool DATADIALOGMULTI::OnDialogDismissed(int)
{
    for (int i = 0; i < PageCount; ++i)
        Pages[i].Page->DialogToValues();
    DialogToValues();
    return true;
}

bool DATADIALOGMULTI::OnHelp()
{
    int const current = GetCurrentPageIdx();
    CONTROLPARENT view = GetControlParent();
    if (current >= 0 && current < PageCount)
        view = Pages[current].Page->GetControlParent();
    if (HELPFILE::GetInstance()->Display(view))
        return true;
    return WINDOW::OnHelp();
}

int DATADIALOGMULTI::Process(int page)
{
    // Every run may store again, whatever ended the one before.
    Save = 1;
    for (int i = 0; i < PageCount; ++i)
        Pages[i].Page->SetSaveFlag(1);
    ValuesToDialog();
    for (int i = 0; i < PageCount; ++i)
        Pages[i].Page->ValuesToDialog();
    if (page >= 0 && page < PageCount)
        TurnToPage(page);
    return DIALOG::Process(false);
}

DATADIALOGPAGE* DATADIALOGMULTI::AddPage(char const* nib, char const* label)
{
    auto* page = new DATADIALOGPAGE(nib, GetControlParent(), &SharedRules, SharedRuleCount);
    return AddPage(page, label);
}

DATADIALOGPAGE* DATADIALOGMULTI::AddPage(DATADIALOGPAGE* page, char const* label)
{
    if (!page)
        return nullptr;
    if (PageCount >= PageMax) {
        DDREPORT("this->Howmany < this->Max", label);
        delete page;
        return nullptr;
    }
    PAGEENTRY& entry = Pages[PageCount];
    entry.Page = page;
    entry.Label = STRING(label ? label : "", UNICODE_CPDEFAULT);
    entry.Id = PageCount;
    page->EnableSubdialogTheme();
    ++PageCount;
    return page;
}

DATADIALOGPAGE* DATADIALOGMULTI::GetPage(int index)
{
    return index >= 0 && index < PageCount ? Pages[index].Page : nullptr;
}

void DATADIALOGMULTI::SaveWhenClosing(int flag)
{
    SaveClosing = flag ? 1 : 0;
}

// ---------------------------------------------------------------------------
// DATADIALOGPAGE

DATADIALOGPAGE::DATADIALOGPAGE(CONTROLID pane, CONTROLPARENT parent, RULETABLE* rules, int& count)
    : DATADIALOGBASE(rules, count), CHILDWINDOW(parent, pane)
{
    if (CHILDWINDOW::IsValid())
        InstallEventHandler();
}

DATADIALOGPAGE::DATADIALOGPAGE(char const* nib, CONTROLPARENT parent, RULETABLE* rules, int& count)
    : DATADIALOGBASE(rules, count), CHILDWINDOW(parent, nib, CONTROLID{})
{
}

DATADIALOGPAGE::DATADIALOGPAGE(char const* nib, CONTROLPARENT parent, void*) : CHILDWINDOW(parent, nib, CONTROLID{})
{
}

DATADIALOGPAGE::~DATADIALOGPAGE()
{
    DeleteItems();
}

CONTROLPARENT DATADIALOGPAGE::GetControlParent()
{
    return AsParent();
}

bool DATADIALOGPAGE::OnControlEvent(int event, CONTROL const& control, void* data)
{
    SettleRadioGroup(event, control);
    return static_cast<DATADIALOGBASE*>(this)->HandleControlEvent(event, control, data) != 0;
}

bool DATADIALOGPAGE::OnPushbutton(CONTROLID id)
{
    return HandlePushbutton(id) != 0;
}

bool DATADIALOGPAGE::EnableSubdialogTheme()
{
    SetBackgroundColor(WINDC_NOCOLOR);
    return true;
}

// ---------------------------------------------------------------------------
// PUSHBUTTONSUBDIALOG

PUSHBUTTONSUBDIALOG::PUSHBUTTONSUBDIALOG(CONTROLID button, char const* nib, WINDOW const& owner)
    : PUSHDATADIALOGITEM(button, Private, &PUSHBUTTONSUBDIALOG::PushFnct, this, CONTROLID{}),
      Dialog(nib, owner, nullptr), fOwner(owner.GetWindow())
{
}

PUSHBUTTONSUBDIALOG::~PUSHBUTTONSUBDIALOG() = default;

STRING PUSHBUTTONSUBDIALOG::KeyOf(STRING const* bound)
{
    STRING key;
    key.Format("%p", static_cast<void const*>(bound));
    return key;
}

int PUSHBUTTONSUBDIALOG::AddItem(DATADIALOGITEM* item)
{
    if (!item)
        return Dialog.GetItemCount();
    if (NumBound >= MAXBOUND) {
        DDREPORT("this->NumBound<32", item->IdCtrl.AsString().Buf());
        delete item;
        return Dialog.GetItemCount();
    }
    if (!item->pValue || item->pData) {
        // Only a string can be worked on as a copy.
        DDREPORT("item->pValue && !item->pData", item->IdCtrl.AsString().Buf());
        delete item;
        return Dialog.GetItemCount();
    }
    STRING* const bound = item->pValue;
    Bound[NumBound++] = bound;
    item->pValue = &Copies[KeyOf(bound).Buf()];
    return Dialog.AddItem(item);
}

void PUSHBUTTONSUBDIALOG::AutoDisable(CONTROLID controlled, CONTROLID depending, DATADIALOGBASE::DISABLETYPE type,
                                      char const* text)
{
    Dialog.AutoDisable(CONTROLPARENT{}, controlled, CONTROLPARENT{}, depending, type, text);
}

void PUSHBUTTONSUBDIALOG::DataToDialog(CONTROLPARENT parent)
{
    PUSHDATADIALOGITEM::DataToDialog(parent);
    for (int i = 0; i < NumBound; ++i)
        Copies[KeyOf(Bound[i]).Buf()] = *Bound[i];
}

void PUSHBUTTONSUBDIALOG::DialogToData(CONTROLPARENT parent)
{
    PUSHDATADIALOGITEM::DialogToData(parent);
    for (int i = 0; i < NumBound; ++i)
        *Bound[i] = Copies[KeyOf(Bound[i]).Buf()];
}

void PUSHBUTTONSUBDIALOG::PushFnct(void* context, CONTROLID, CONTROLPARENT, STRING*)
{
    auto* self = static_cast<PUSHBUTTONSUBDIALOG*>(context);
    if (!self)
        return;
    self->Dialog.CenterOver(self->fOwner);
    self->Dialog.Process(0);
}
