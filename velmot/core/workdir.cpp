#include "velmot/core/workdir.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/registry.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/datadialogs.h"
#include "velmot/gui/wintarvo.h"
#include "velmot/gui/winmenu.h"

#include <mutex>
#include <string>

namespace {

constexpr char const* kValue = "ApplicationDataDir";
constexpr char const* kOldValue = "FilesDir";
constexpr char const* kNewValue = "ApplicationDataDir.New";
constexpr char const* kArgument = "WORKDIR";

constexpr CONTROLID kFolderField{plat::FourCC("TEXT"), 17};
constexpr CONTROLID kBrowseButton{plat::FourCC("PUSH"), 47};
constexpr CONTROLID kOpenButton{plat::FourCC("PUSH"), 46};

std::mutex gCurrentLock;
std::string gCurrent;

STRING Text(char const* id)
{
    return OSYS::GetStringFromResource(id);
}

// Makes the folder with its parents; true when it is a folder then.
bool MakeFolder(FILENAME const& folder)
{
    if (folder.IsDirectory())
        return true;
    OSYS::CreateDirectoryPath(folder.Buf());
    return folder.IsDirectory();
}

} // namespace

WORKDIR::WORKDIR(WINDOW const& owner, char const* company, char const* appName)
    : Owner(owner.GetWindow()), AppRegKey(Text("IDS_TARVOAPPREGKEY")), AppFolder(AppRegKey),
      Company(company ? company : "")
{
    LOGIT("WORKDIR::WORKDIR\n");
    AppName = appName && *appName ? STRING(appName) : AppFolder;
    ASSERTMSG(this->AppFolder.NotEmpty() && this->AppFolder[0]!='<', nullptr);
    ASSERTMSG(this->AppName.NotEmpty() && this->AppName[0]!='<', nullptr);
    ASSERTMSG(this->AppRegKey.NotEmpty() && this->AppRegKey[0]!='<', nullptr);
    LOGIT("WORKDIR::WORKDIR done\n");
}

WORKDIR::~WORKDIR()
{
    LOGIT("WORKDIR::~WORKDIR\n");
    LOGIT("WORKDIR::~WORKDIR done\n");
}

STRING WORKDIR::KeyBase() const
{
    return STRING("Software\\") || Company;
}

bool WORKDIR::ReadValue(char const* name, STRING* value)
{
    REGISTRY key(REGISTRY::CURRENT_USER, KeyBase().Buf(), AppRegKey.Buf(), REGISTRY::READWRITE);
    STRING read;
    if (!key.Read(name, &read))
        return false;
    *value = read;
    return true;
}

bool WORKDIR::WriteValue(char const* name, char const* value)
{
    REGISTRY key(REGISTRY::CURRENT_USER, KeyBase().Buf(), AppRegKey.Buf(), REGISTRY::READWRITE);
    return key.Write(name, value);
}

bool WORKDIR::DeleteValue(char const* name)
{
    REGISTRY key(REGISTRY::CURRENT_USER, KeyBase().Buf(), AppRegKey.Buf(), REGISTRY::READWRITE);
    return key.DeleteValue(name);
}

// The whole folder name: a path longer than the old 255 characters is a
// path all the same.
bool WORKDIR::Get(STRING* dir)
{
    STRING value;
    if (!ReadValue(kValue, &value))
        return false;
    if (dir)
        *dir = value;
    return true;
}

bool WORKDIR::Set(char const* dir)
{
    return WriteValue(kValue, dir ? dir : "");
}

STRING WORKDIR::WorkDirInit(STRING& pending, int where)
{
    LOGIT("WORKDIR::WorkDirInit %s %s\n", AppRegKey.Buf(), AppFolder.Buf());
    if (TARVOAPP::TestArgValue(kArgument)) {
        FILENAME forced(TARVOAPP::GetArgValue(kArgument).Buf());
        MakeFolder(forced);
        LOGIT("WORKDIR::WorkDirInit done, workdir= %s\n", forced.Buf());
        return STRING(forced.Buf());
    }

    STRING known;
    if (!Get(&known) || known.IsEmpty()) {
        known = "";
        STRING old;
        if (ReadValue(kOldValue, &old) && old.NotEmpty()) {
            known = old;
            Set(old.Buf());
            DeleteValue(kOldValue);
        }
    }

    FILENAME workdir;
    if (known.NotEmpty() && MakeFolder(FILENAME(known.Buf())))
        workdir = FILENAME(known.Buf());
    if (workdir.IsEmpty()) {
        FILENAME parent;
        STRING leaf;
        if (where == OSYSFOLDER_DOCUMENTS) {
            parent = FILENAME(OSYS::GetSystemPath(where).Buf());
            leaf = AppName;
        } else {
            parent = FILENAME(OSYS::GetSystemPath(where).Buf(), Company.Buf());
            leaf = AppFolder;
        }
        MakeFolder(parent);
        ASSERTMSG(parent.IsDirectory(), parent.Buf());
        workdir = FILENAME(parent.Buf(), leaf.Buf());
        workdir.MkDir();
    }
    bool const ok = workdir.IsDirectory();
    if (ok) {
        Set(workdir.Buf());
    } else {
        ASSERTMSG(ok, workdir.Buf());
        workdir = FILENAME(".");
    }

    STRING next;
    if (ReadValue(kNewValue, &next) && next.NotEmpty()) {
        STRING const folder = next[0] == '*' ? next.Substr(1) : next;
        if (STRING::STRICMP(folder.Buf(), workdir.Buf()) != 0)
            pending = next;
    }
    LOGIT("WORKDIR::WorkDirInit done, workdir= %s\n", workdir.Buf());
    return STRING(workdir.Buf());
}

bool WORKDIR::GetWorkDir(WINDOW& owner, int menuItem, STRING* workDir, STRING* oldDir, int where)
{
    LOGIT("WORKDIR::GetWorkDir\n");
    if (menuItem && TARVOAPP::TestArgValue(kArgument))
        MENU(owner).EnableMenuItem(static_cast<uint32_t>(menuItem), 0);
    STRING pending;
    STRING folder = WorkDirInit(pending, where);
    bool changed = false;
    if (pending.NotEmpty()) {
        bool const copy = pending[0] == '*';
        STRING const next = copy ? pending.Substr(1) : pending;
        FILENAME const target(next.Buf());
        if (MakeFolder(target)) {
            if (copy)
                WorkDirNew(folder, STRING(target.Buf()), STRING("*.*"));
            if (oldDir)
                *oldDir = folder;
            folder = STRING(target.Buf());
            // Taken over: the next start finds it as the work folder and
            // nothing pending.
            Set(folder.Buf());
            DeleteValue(kNewValue);
            changed = true;
        } else {
            LOGIT("WORKDIR::GetWorkDir cannot make %s; the work folder stays\n", target.Buf());
        }
    }
    if (workDir)
        *workDir = folder;
    SetCurrent(folder.Buf());
    LOGIT("WORKDIR::GetWorkDir done, pfilesdir= %s\n", folder.Buf());
    return changed;
}

int WORKDIR::WorkdirEdit(WINDOW const& owner)
{
    STRING current;
    Get(&current);
    STRING folder = current;
    STRING title = Text("IDS_TARVOAPP_SELECTFOLDER");
    STRING unused;
    DATADIALOGBOX dialog("ID_TARVO_DLGWORKDIR", owner, nullptr);
    dialog.AddItem(new ENTRYDATADIALOGITEM(kFolderField, folder, 0));
    dialog.AddItem(
        new PUSHDATADIALOGITEM(kBrowseButton, title, &DATADIALOG::PushFnctBrowseForFolder, nullptr, kFolderField));
    dialog.AddItem(new PUSHDATADIALOGITEM(kOpenButton, unused, &DATADIALOG::PushFnctOpenFolder, nullptr, kFolderField));
    int const rc = dialog.Process(0);
    if (rc == 0 || folder.IsEmpty() || STRING::STRICMP(folder.Buf(), current.Buf()) == 0)
        return rc;
    STRING const appName = Text("IDS_TARVOAPPNAME");
    STRING next = folder;
    if (WINTARVO::YesNoMsgBox(owner.GetWindow(), appName.Buf(), Text("IDS_TARVOAPP_WORKDIRASKCOPY").Buf()))
        next = STRING("*") || folder;
    WriteValue(kNewValue, next.Buf());
    WINTARVO::InfoMsgBox(owner.GetWindow(), appName.Buf(), Text("IDS_TARVOAPP_RESTARTPROGRAM").Buf());
    return rc;
}

void WORKDIR::UpgradeSetting(char const* oldPrefix, char const* newPrefix, STRING& path)
{
    if (!oldPrefix || !*oldPrefix)
        return;
    // The folder part: the text before the last separator.
    std::string const text = path.Buf();
    size_t const last = text.find_last_of("\\/");
    std::string const folder = last == std::string::npos ? std::string() : text.substr(0, last);
    size_t const n = strlen(oldPrefix);
    if (folder.size() < n || strncasecmp(folder.c_str(), oldPrefix, n) != 0)
        return;
    STRING upgraded(newPrefix ? newPrefix : "");
    upgraded.Append(path.Buf() + n);
    path = upgraded;
}

bool WORKDIR::WorkDirNew(STRING const& from, STRING const& to, STRING mask)
{
    // "*.*" meant every file where names have extensions; here it is "*".
    char const* const m = mask.IsEmpty() || mask == "*.*" ? "*" : mask.Buf();
    bool const ok = OSYS::TreeCopy(from.Buf(), to.Buf(), m, true, true);
    LOGIT("WORKDIR::WorkDirNew %s -> %s %s\n", from.Buf(), to.Buf(), ok ? "copied" : "could not copy everything");
    return ok;
}

STRING WORKDIR::GetCurrent()
{
    std::lock_guard<std::mutex> guard(gCurrentLock);
    return STRING(gCurrent.c_str());
}

void WORKDIR::SetCurrent(char const* folder)
{
    std::lock_guard<std::mutex> guard(gCurrentLock);
    gCurrent = folder ? folder : "";
}
