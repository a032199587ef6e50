// Requests and message boxes of the program: each may be called from any
// thread and shows its dialog on the main thread (the caller waits for the
// answer); in unattended mode nothing is shown and a fixed answer comes back
// at once.
#include "program/shell/app.h"

#include "program/shell/appdialog.h"
#include "program/shell/helper.h"

#include "velmot/core/hash.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/registry.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/appfunction.h"
#include "velmot/gui/listbox.h"
#include "velmot/gui/windialog.h"
#include "velmot/gui/wintarvo.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

constexpr char const* kCaption = "QOR";
constexpr int kBoxInfo = 1;
constexpr int kBoxWarning = 2;
constexpr int kBoxError = 3;
constexpr int kPickFolder = 0;
constexpr int kPickOpen = 1;
constexpr int kPickSave = 2;
constexpr int kPickFiles = 3;

constexpr CONTROLID kText1{plat::FourCC("TEXT"), 1};
constexpr CONTROLID kCheck0{plat::FourCC("CHEC"), 0};
constexpr CONTROLID kEdit0{plat::FourCC("EDIT"), 0};
constexpr CONTROLID kEdit1{plat::FourCC("EDIT"), 1};
constexpr CONTROLID kEdit2{plat::FourCC("EDIT"), 2};
constexpr CONTROLID kStat0{plat::FourCC("STAT"), 0};
constexpr CONTROLID kPush3{plat::FourCC("PUSH"), 3};
constexpr CONTROLID kBack0{plat::FourCC("BACK"), 0};
constexpr uint32_t kOkay = plat::FourCC("OKAY");
constexpr int kFieldLength = 80;

std::string Narrow(wchar_t const* text)
{
    return STRING(text ? text : L"", UNICODE_CPSYSTEM).Buf();
}

// Copies at most size - 1 bytes and terminates.
void CopyBounded(char* to, int size, char const* from)
{
    if (to && size > 0)
        snprintf(to, static_cast<size_t>(size), "%s", from ? from : "");
}

// The store check box's text with the prompt and the place filled in.
STRING StoreText(STRING text, char const* prompt)
{
    std::string p = prompt ? prompt : "";
    while (!p.empty() && (p.back() == ':' || p.back() == ' '))
        p.pop_back();
    text.Replace("$(prompt)", p.c_str());
    STRING where(" ");
    where.Append(OSYS::GetStringFromResource("IDS_PASSWORDSTORE").Buf());
    text.Replace(" $(where)", where.Buf());
    return text;
}

} // namespace

// ---------------------------------------------------------------------------
// The list request

MULTIREQUESTDIALOG::MULTIREQUESTDIALOG(WINDOW const* owner, char const* resource, char const* prompt,
                                       char const* const* items, int count)
    : DIALOG(resource, owner ? owner->GetWindow() : nullptr),
      List(GetClientParent(), CONTROLID{plat::FourCC("STAT"), 1}, 0, CONTROLID{plat::FourCC("RECT"), 1})
{
    SetText(prompt ? prompt : "");
    for (int i = 0; i < count && items; ++i)
        List.AddItem(items[i] ? items[i] : "");
    if (count > 0)
        List.SelectItem(0, 1);
    List.SetFocus();
}

bool MULTIREQUESTDIALOG::OnControlEvent(int code, CONTROL const& control, void* data)
{
    if (code == 770) {
        Dismiss(kOkay);
        return true;
    }
    return DIALOG::OnControlEvent(code, control, data);
}

// ---------------------------------------------------------------------------
// Boxes on the main thread

void APP::ShowBox(int type, char const* title, char const* text, WINDOW const* owner)
{
    plat::WindowRef const ref = owner ? owner->GetWindow() : nullptr;
    char const* caption = title ? title : kCaption;
    ++ChildDialogs;
    if (type == kBoxError)
        WINTARVO::ErrorMsgBox(ref, caption, text ? text : "");
    else if (type == kBoxWarning)
        WINTARVO::WarningMsgBox(ref, caption, text ? text : "");
    else
        WINTARVO::InfoMsgBox(ref, caption, text ? text : "");
    --ChildDialogs;
}

bool APP::YesNoOnMain(char const* title, char const* text, WINDOW const* owner)
{
    ++ChildDialogs;
    bool const yes = WINTARVO::YesNoMsgBox(owner ? owner->GetWindow() : nullptr, title ? title : kCaption,
                                           text ? text : "");
    --ChildDialogs;
    return yes;
}

int APP::MessageOnMain(int kind, char const* text, WINDOW const* owner)
{
    WINDOW& main = owner ? const_cast<WINDOW&>(*owner) : RestoreMainWin();
    if (kind != kBoxError)
        DestroyIntroWin();
    if (kind == kBoxWarning && text && text[0] == '?')
        return YesNoOnMain(nullptr, text + 1, &main) ? 1 : 0;
    ShowBox(kind, kCaption, text, &main);
    return 1;
}

// ---------------------------------------------------------------------------
// Message boxes

bool APP::YesNoRequest(char const* title, char const* text)
{
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this, static_cast<bool (APP::*)(char const*, char const*)>(&APP::YesNoRequest), title,
                         text);
        return call.CallFrom(*this) != 0;
    }
    if (gUnattended)
        return true;
    return YesNoOnMain(title, text, &RestoreMainWin());
}

bool APP::YesNoRequest(char const* title, char const* text, WINDOW const& owner)
{
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this,
                         static_cast<bool (APP::*)(char const*, char const*, WINDOW const&)>(&APP::YesNoRequest),
                         title, text, std::cref(owner));
        return call.CallFrom(*this) != 0;
    }
    if (gUnattended)
        return true;
    return YesNoOnMain(title, text, &owner);
}

bool APP::AreYouSureRequest(char const* text)
{
    return AreYouSureRequest(text, RestoreMainWin());
}

bool APP::AreYouSureRequest(char const* text, WINDOW const& owner)
{
    char composed[1024];
    snprintf(composed, sizeof composed, "%s\r\r%s", text ? text : "",
             OSYS::GetStringFromResource("IDS_ARE_YOU_SURE").Buf());
    return YesNoRequest(nullptr, composed, owner);
}

void APP::InfoMsg(char const* text)
{
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this, static_cast<void (APP::*)(char const*)>(&APP::InfoMsg), text);
        call.CallFrom(*this);
        return;
    }
    if (!gUnattended)
        MessageOnMain(kBoxInfo, text, nullptr);
}

void APP::InfoMsg(char const* text, WINDOW const& owner)
{
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this, static_cast<void (APP::*)(char const*, WINDOW const&)>(&APP::InfoMsg), text,
                         std::cref(owner));
        call.CallFrom(*this);
        return;
    }
    if (!gUnattended)
        MessageOnMain(kBoxInfo, text, &owner);
}

int APP::WarningMsg(char const* text)
{
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this, static_cast<int (APP::*)(char const*)>(&APP::WarningMsg), text);
        return static_cast<int>(call.CallFrom(*this));
    }
    if (gUnattended)
        return 1;
    return MessageOnMain(kBoxWarning, text, nullptr);
}

int APP::WarningMsg(char const* text, WINDOW const& owner)
{
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this, static_cast<int (APP::*)(char const*, WINDOW const&)>(&APP::WarningMsg), text,
                         std::cref(owner));
        return static_cast<int>(call.CallFrom(*this));
    }
    if (gUnattended)
        return 1;
    return MessageOnMain(kBoxWarning, text, &owner);
}

void APP::ErrorMsg(char const* text)
{
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this, static_cast<void (APP::*)(char const*)>(&APP::ErrorMsg), text);
        call.CallFrom(*this);
        return;
    }
    if (!gUnattended)
        MessageOnMain(kBoxError, text, nullptr);
}

void APP::ErrorMsg(char const* text, WINDOW const& owner)
{
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this, static_cast<void (APP::*)(char const*, WINDOW const&)>(&APP::ErrorMsg), text,
                         std::cref(owner));
        call.CallFrom(*this);
        return;
    }
    if (!gUnattended)
        MessageOnMain(kBoxError, text, &owner);
}

void APP::MsgOnce(WINDOW const& owner, int kind, char const* title, char const* text, char const* key)
{
    TARVOAPP::CheckCallerThread("APP::MsgOnce");
    if (!VCHECK(kind == 1, "FALSE", nullptr))
        return;
    if (owner.GetWindow() == GetWindow())
        RestoreMainWin();
    if (gUnattended || !key)
        return;
    STRING app = OSYS::GetStringFromResource("IDS_TARVOAPPREGKEY");
    app.Append("\\DontShowAgain");
    REGISTRY reg(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", app.Buf(), REGISTRY::READWRITE);
    DWORD value = 0;
    reg.Read(key, &value);
    HASH state;
    state.AllowNewKeys(true);
    state[key] = STRING(static_cast<int>(value));
    ++ChildDialogs;
    WINTARVO::InfoMsgBox(owner.GetWindow(), title ? title : kCaption, text ? text : "", state, key);
    --ChildDialogs;
    value = static_cast<DWORD>(static_cast<int>(state[key]));
    reg.Write(key, value);
}

void APP::InfoMsgOnce(WINDOW const& owner, char const* title, char const* text, char const* key)
{
    MsgOnce(owner, 1, title, text, key);
}

// ---------------------------------------------------------------------------
// Pickers

void APP::PickOnMain(int kind, char const* title, char const* start, WINDOW const* owner, STRINGARRAY* chosen)
{
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this, &APP::PickOnMain, kind, title, start, owner, chosen);
        call.CallFrom(*this);
        return;
    }
    chosen->DeleteAllItems();
    if (gUnattended)
        return;
    if (!owner || owner->GetWindow() == GetWindow())
        owner = &RestoreMainWin();
    plat::WindowRef const ref = owner->GetWindow();
    ++ChildDialogs;
    if (kind == kPickFolder) {
        STRING const folder = WINTARVO::AskFolder(ref, title ? title : kCaption, start ? start : "");
        if (folder.NotEmpty())
            chosen->AppendItem(folder);
    } else {
        // A line break in the title starts the filter list.
        STRING caption;
        STRING filter;
        HELPER::ConvertFilenameTitle(title ? title : kCaption, caption, filter);
        char const* const f = filter.NotEmpty() ? filter.Buf() : nullptr;
        if (kind == kPickFiles) {
            WINTARVO::AskFilenames(ref, caption.Buf(), start, chosen, f);
        } else {
            char const* name = kind == kPickOpen ? WINTARVO::AskFilename(ref, caption.Buf(), start, f)
                                                 : WINTARVO::AskSaveAsFilename(ref, caption.Buf(), start, f);
            if (name && *name)
                chosen->AppendItem(STRING(name));
        }
    }
    --ChildDialogs;
}

STRING APP::AskDirectory(char const* title, char const* start)
{
    STRINGARRAY chosen;
    PickOnMain(kPickFolder, title, start, nullptr, &chosen);
    return chosen.NumItems() > 0 ? STRING(*chosen[0]) : STRING();
}

STRING APP::AskFilename(char const* title, char const* start, WINDOW const* owner)
{
    STRINGARRAY chosen;
    PickOnMain(kPickOpen, title, start, owner, &chosen);
    return chosen.NumItems() > 0 ? STRING(*chosen[0]) : STRING();
}

STRING APP::AskSaveAsFilename(char const* title, char const* name, WINDOW const* owner)
{
    STRINGARRAY chosen;
    PickOnMain(kPickSave, title, name, owner, &chosen);
    return chosen.NumItems() > 0 ? STRING(*chosen[0]) : STRING();
}

std::vector<std::string> APP::AskFilenames(char const* title, char const* start)
{
    std::vector<std::string> out;
    STRINGARRAY chosen;
    PickOnMain(kPickFiles, title, start, nullptr, &chosen);
    for (int i = 0; i < chosen.NumItems(); ++i)
        out.emplace_back(chosen[i]->Buf());
    return out;
}

char** APP::AskFilenames(char const* title, char const* start, WINDOW const& owner)
{
    if (!start)
        return nullptr;
    STRINGARRAY chosen;
    PickOnMain(kPickFiles, title, start, &owner, &chosen);
    if (chosen.NumItems() < 1)
        return nullptr;
    // The names stay valid until the next call.
    PickedNames.clear();
    PickedTable.fill(nullptr);
    int const n = std::min(chosen.NumItems(), static_cast<int>(PickedTable.size()) - 1);
    PickedNames.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        PickedNames.emplace_back(chosen[i]->Buf());
    for (int i = 0; i < n; ++i)
        PickedTable[static_cast<size_t>(i)] = PickedNames[static_cast<size_t>(i)].data();
    return PickedTable.data();
}

// ---------------------------------------------------------------------------
// Text input

wchar_t* APP::AskWide(wchar_t const* title, wchar_t const* prompt, wchar_t* buffer, int size, int hidden,
                      signed char* store)
{
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this, &APP::AskWide, title, prompt, buffer, size, hidden, store);
        return reinterpret_cast<wchar_t*>(call.CallFrom(*this));
    }
    if (!buffer || size <= 0)
        return nullptr;
    if (gUnattended) {
        buffer[0] = 0;
        return nullptr;
    }
    WINDOW& main = RestoreMainWin();
    std::wstring text = prompt ? prompt : L"";
    bool corner = false;
    if (!text.empty() && (text[0] == 0x00F8 || text[0] == 0x00B0)) {
        text.erase(0, 1);
        corner = true;
    }
    DIALOG dialog(store ? "DLG_WIN_AUTHKBDINT" : "DLG_WIN_ASKNORM", main.GetWindow());
    if (!dialog.IsValid())
        return nullptr;
    if (corner) {
        WINDOW desktop(static_cast<plat::WindowRef>(nullptr));
        RECT const d = desktop.GetRect();
        SIZE const s = dialog.GetSize();
        dialog.Move(d.right - s.cx, d.bottom - 32 - s.cy, s.cx, s.cy);
    } else {
        dialog.CenterOver(main.GetWindow());
    }
    dialog.SetControlTextWide(kText1, text.c_str());
    CONTROLID const visibleId = hidden ? kEdit2 : kEdit1;
    dialog.ShowControl(kEdit2, hidden != 0);
    dialog.ShowControl(kEdit1, hidden == 0);
    if (title && *title)
        dialog.SetTextWide(title);
    CONTROL field(dialog.GetClientParent(), visibleId);
    field.SetControlProperty(CPROP_TEXTLENGTH, static_cast<MSGWORD>(size - 1));
    field.SetControlTextWide(buffer);
    CONTROL check(dialog.GetClientParent(), kCheck0);
    if (store) {
        if (AdminRecord.DisableStoredPasswords) {
            *store = 0;
            check.Enable(false);
        }
        std::string const p = Narrow(text.c_str());
        STRING label = StoreText(check.GetText(), p.c_str());
        check.SetControlText(label.Buf());
        check.SetControlValue(*store ? 1 : 0);
    }
    field.SetFocus();
    ++ChildDialogs;
    int const rc = dialog.Process();
    --ChildDialogs;
    if (rc == 0) {
        buffer[0] = 0;
        return nullptr;
    }
    WSTRING answer = field.GetTextWide();
    wcsncpy(buffer, answer.Buf(), static_cast<size_t>(size - 1));
    buffer[size - 1] = 0;
    if (store)
        *store = AdminRecord.DisableStoredPasswords ? 0 : static_cast<signed char>(check.GetControlValue() == 1);
    return buffer;
}

char* APP::Ask(char const* title, char const* prompt, char* buffer, int size, int hidden, signed char* store)
{
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this, &APP::Ask, title, prompt, buffer, size, hidden, store);
        return reinterpret_cast<char*>(call.CallFrom(*this));
    }
    if (gUnattended || !buffer || size <= 0)
        return nullptr;
    std::vector<wchar_t> wide(static_cast<size_t>(size), 0);
    WSTRING start(buffer, UNICODE_CPSYSTEM);
    wcsncpy(wide.data(), start.Buf(), static_cast<size_t>(size - 1));
    WSTRING wideTitle(title ? title : "", UNICODE_CPSYSTEM);
    WSTRING widePrompt(prompt ? prompt : "", UNICODE_CPSYSTEM);
    if (!AskWide(title ? wideTitle.Buf() : nullptr, widePrompt.Buf(), wide.data(), size, hidden, store))
        return nullptr;
    memset(buffer, 0, static_cast<size_t>(size));
    CopyBounded(buffer, size, Narrow(wide.data()).c_str());
    return buffer;
}

int APP::AskUserPass(char const* title, char* user, int userSize, char* password, int passSize, int* store)
{
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this, &APP::AskUserPass, title, user, userSize, password, passSize, store);
        return static_cast<int>(call.CallFrom(*this));
    }
    if (gUnattended || !user || !password)
        return 0;
    WINDOW& main = RestoreMainWin();
    DIALOG dialog("DLG_WIN_AUTHUSERPASS", main.GetWindow());
    if (!dialog.IsValid())
        return 0;
    if (title && *title)
        dialog.SetText(title);
    std::string userText = user;
    bool const readOnly = userText.compare(0, 10, "[READONLY]") == 0;
    if (readOnly)
        userText.erase(0, 10);
    CONTROL editUser(dialog.GetClientParent(), kEdit0);
    CONTROL editPass(dialog.GetClientParent(), kEdit1);
    CONTROL shownUser(dialog.GetClientParent(), kEdit2);
    for (CONTROL* c : {&editUser, &editPass, &shownUser})
        c->SetControlProperty(CPROP_TEXTLENGTH, kFieldLength);
    editUser.Show(!readOnly);
    shownUser.Show(readOnly);
    shownUser.Enable(false);
    (readOnly ? shownUser : editUser).SetControlText(userText.c_str());
    editPass.SetControlText(password);
    CONTROL check(dialog.GetClientParent(), kCheck0);
    bool const offerStore = store && !AdminRecord.DisableStoredPasswords;
    check.Show(offerStore);
    if (offerStore) {
        check.SetControlText(StoreText(check.GetText(), "").Buf());
        check.SetControlValue(*store ? 1 : 0);
    } else if (store) {
        *store = 0;
    }
    (userText.empty() ? editUser : editPass).SetFocus();
    dialog.CenterOver(main.GetWindow());
    ++ChildDialogs;
    int const rc = dialog.Process();
    --ChildDialogs;
    if (rc == 0)
        return 0;
    if (!readOnly)
        CopyBounded(user, std::min(userSize, kFieldLength + 1), editUser.GetText().Buf());
    CopyBounded(password, std::min(passSize, kFieldLength + 1), editPass.GetText().Buf());
    if (store)
        *store = offerStore && check.GetControlValue() == 1 ? 1 : 0;
    return 1;
}

int APP::AskPassphrase(char const* title, char const* first, char const* second, char* passphrase, int size,
                       int* store)
{
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this, &APP::AskPassphrase, title, first, second, passphrase, size, store);
        return static_cast<int>(call.CallFrom(*this));
    }
    if (gUnattended || !passphrase)
        return 0;
    WINDOW& main = RestoreMainWin();
    DIALOG dialog("DLG_WIN_AUTHKEYFILE", main.GetWindow());
    if (!dialog.IsValid())
        return 0;
    if (title && *title)
        dialog.SetText(title);
    dialog.SetControlText(kEdit0, first ? first : "");
    dialog.SetControlText(kEdit2, second ? second : "");
    CONTROL field(dialog.GetClientParent(), kEdit1);
    field.SetControlProperty(CPROP_TEXTLENGTH, kFieldLength);
    field.SetControlText(passphrase);
    CONTROL check(dialog.GetClientParent(), kCheck0);
    bool const offerStore = store && !AdminRecord.DisableStoredPasswords;
    check.Show(offerStore);
    if (offerStore) {
        check.SetControlText(StoreText(check.GetText(), "").Buf());
        check.SetControlValue(*store ? 1 : 0);
    } else if (store) {
        *store = 0;
    }
    field.SetFocus();
    dialog.CenterOver(main.GetWindow());
    ++ChildDialogs;
    int const rc = dialog.Process();
    --ChildDialogs;
    if (static_cast<uint32_t>(rc) != kOkay)
        return 0;
    CopyBounded(passphrase, std::min(size, kFieldLength + 1), field.GetText().Buf());
    if (store)
        *store = offerStore && check.GetControlValue() == 1 ? 1 : 0;
    return 1;
}

// ---------------------------------------------------------------------------
// Requests with buttons and lists

char const* APP::ShowRequest(char const* text, char const* label1, char const* label2, char const* label3,
                             char const* label4)
{
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this, &APP::ShowRequest, text, label1, label2, label3, label4);
        return reinterpret_cast<char const*>(call.CallFrom(*this));
    }
    if (gUnattended)
        return label1;
    plat::WindowRef const owner = IsMinimized() ? nullptr : GetWindow();
    LOGIT("SHOW-REQUEST: owner= %p\n", static_cast<void*>(owner));
    DIALOG dialog(label4 ? "DLG_WIN_REQIT2" : "DLG_WIN_REQIT", owner);
    if (!dialog.IsValid())
        return nullptr;
    dialog.SetControlText(kStat0, text ? text : "");
    char const* labels[4] = {label1, label2, label3, label4};
    for (int n = 0; n < 4; ++n) {
        CONTROLID const id{plat::FourCC("PUSH"), n};
        dialog.ShowControl(id, labels[n] != nullptr);
        if (labels[n])
            dialog.SetControlText(id, labels[n]);
    }
    ++ChildDialogs;
    int const rc = dialog.Process();
    --ChildDialogs;
    for (int n = 0; n < 4; ++n) {
        if (static_cast<uint32_t>(rc) == plat::FourCC("PUSH") + static_cast<uint32_t>(n))
            return labels[n];
    }
    return nullptr;
}

int APP::ShowMultiRequest(char const* prompt, int count, char const* const* items)
{
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this, &APP::ShowMultiRequest, prompt, count, items);
        return static_cast<int>(call.CallFrom(*this));
    }
    if (gUnattended)
        return 0;
    WINDOW const* owner = IsMinimized() ? nullptr : this;
    LOGIT("SHOW-MULTI-REQUEST: owner= %p\n", static_cast<void const*>(owner));
    MULTIREQUESTDIALOG dialog(owner, "DLG_WIN_MULTIREQ", prompt, items, count);
    ++ChildDialogs;
    int const rc = dialog.Process();
    --ChildDialogs;
    if (static_cast<uint32_t>(rc) != kOkay)
        return -1;
    return dialog.List.GetSelectedItem(0);
}

// ---------------------------------------------------------------------------
// The program password

int APP::VerifyPassword(signed char allowBack)
{
    if (!TARVOAPP::IsMainThread()) {
        APPFUNCTION call(this, &APP::VerifyPassword, allowBack);
        return static_cast<int>(call.CallFrom(*this));
    }
    char const* stored = ProgSettings.data.Password;
    if (!stored[0])
        return 1;
    if (PasswordDialog)
        return 0;
    DIALOG dialog("DLG_WIN_ASKQORPASSWORD", GetWindow());
    if (!dialog.IsValid())
        return 0;
    dialog.SetText(OSYS::GetStringFromResource("IDS_TITLEASKPASSWORD").Buf());
    CONTROL field(dialog.GetClientParent(), kEdit0);
    field.SetControlProperty(CPROP_TEXTLENGTH, 64);
    if (!allowBack)
        dialog.EnableControl(kBack0, false);
    field.SetFocus();
    PasswordDialog = &dialog;
    ++ChildDialogs;
    int const rc = dialog.Process();
    --ChildDialogs;
    PasswordDialog = nullptr;
    if (rc == 0)
        return 0;
    // The button another instance presses when the password was accepted
    // there (notification 12).
    bool ok = static_cast<uint32_t>(rc) == plat::FourCC("PUSH") + 3;
    if (!ok) {
        std::string typed = field.GetText().Buf();
        typed = typed.substr(0, 64);
        ok = typed == stored;
    }
    if (!ok) {
        ErrorMsg(OSYS::GetStringFromResource("IDS_PASSWORDERROR").Buf());
        return 0;
    }
    KeyboardEvent(1);
    SendIpcMessage(0, IPC_CATEGORY | IPC_PASSWORDOK, 1);
    return 1;
}

// ---------------------------------------------------------------------------
// The text editor

int APP::EditTextFile(WINDOW const& owner, char const* file)
{
    TARVOAPP::CheckCallerThread("APP::EditTextFile");
    if (!file)
        return 0;
    DIALOG dialog("DLG_WIN_EDITOR", owner.GetWindow());
    if (!dialog.IsValid())
        return 0;
    CONTROL field(dialog.GetClientParent(), kEdit1);
    BINARY content;
    content.Load(file, "rb");
    std::string text(content.Length() > 0 ? &content[0] : "", static_cast<size_t>(std::max(content.Length(), 0)));
    field.SetControlTextWide(WSTRING(text.c_str(), UNICODE_CPUTF8).Buf());
    field.SetFocus();
    ++ChildDialogs;
    int const rc = dialog.Process();
    --ChildDialogs;
    if (static_cast<uint32_t>(rc) == kOkay) {
        STRING edited(field.GetTextWide().Buf(), UNICODE_CPUTF8);
        BINARY out(edited.Buf(), edited.Length());
        if (!out.Save(file, "w")) {
            // The edit is not lost without a word.
            FileError(file);
            return 0;
        }
    }
    return rc;
}

// ---------------------------------------------------------------------------
// The data folder is missing

int APP::WorkdirNotFound(char const* folder, char const* version, bool allowRelocate)
{
    if (gUnattended)
        return 0;
    DIALOG dialog("DLG_WIN_WORKDIRNOTFOUND", nullptr);
    if (!dialog.IsValid())
        return -1;
    STRING text = OSYS::GetStringFromResource("IDS_WORKDIRNOTFOUND");
    text.Replace("$DIR", folder ? folder : "");
    text.Replace("$VERSION", version ? version : "");
    dialog.SetControlText(kStat0, text.Buf());
    dialog.EnableControl(CONTROLID{plat::FourCC("PUSH"), 1}, allowRelocate);
    ++ChildDialogs;
    int const rc = dialog.Process();
    --ChildDialogs;
    if (static_cast<uint32_t>(rc) == plat::FourCC("PUSH"))
        return 0;
    if (static_cast<uint32_t>(rc) == plat::FourCC("PUSH") + 1)
        return 1;
    return -1;
}
