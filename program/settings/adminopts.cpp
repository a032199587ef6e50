// PROGRAMSETTINGS: the administrator files, the data folder and the first
// use by a new user.
//
// Two administrator files may exist: the shared "admin.ini" of the
// installation (in the resource folder) and the per-user
// "$(USERHOME)/.qor6_admin.ini". The per-user file may change the user's
// own defaults, but the restrictions of the shared file (the Disable*
// flags and lists, the audit log, the host-directory limit) always hold.
// The program never writes into the installation: an administrator
// installs "admin.ini" read-only.
#include "program/settings/programsettings.h"

#include "program/settings/workfolder.h"
#include "platform/services/fileio.h"
#include "platform/services/folders.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/registry.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <atomic>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

void* const kStrings = const_cast<char*>("Settings");
// The data folder of a new user: the program's own folder in the user's
// data folder ($XDG_DATA_HOME). The folder older releases made in the home
// folder is kept in use where it holds a user's data.
constexpr char const* kDefaultDataFolder = "%APPDATA%/qor";
constexpr char const* kOlderDataFolder = "%USERPROFILE%\\QOR6 Files";
constexpr char const* kMarker = ".QorFiles";
constexpr char const* kOldMarker = "QorVersion.ini";
// The page lists' default text, which names no page.
constexpr char const* kNoPages = "Tabname1,Tabname2,Tabname...";


} // namespace

void PROGRAMSETTINGS::AdminDefaults(ADMINOPTS& admin)
{
    memset(&admin, 0, sizeof admin);
    OPTSBASE::CopyText(admin.NewUserProfilePrefix, sizeof admin.NewUserProfilePrefix, "newuserprofile");
    OPTSBASE::CopyText(admin.DefaultProgramSettings, sizeof admin.DefaultProgramSettings, "$(QORFILES)/Options\\Standard.qfg");
    OPTSBASE::CopyText(admin.DefaultOptionsFolder, sizeof admin.DefaultOptionsFolder, "$(QORFILES)/Options");
    OPTSBASE::CopyText(admin.DefaultScriptFolder, sizeof admin.DefaultScriptFolder, "$(QORFILES)");
    OPTSBASE::CopyText(admin.DefaultUploadFolder, sizeof admin.DefaultUploadFolder, "$(USERHOME)");
    OPTSBASE::CopyText(admin.DefaultUploadTextFolder, sizeof admin.DefaultUploadTextFolder, "$(USERHOME)");
    OPTSBASE::CopyText(admin.DefaultDownloadFolder, sizeof admin.DefaultDownloadFolder, "$(USERDOWNLOAD)");
    OPTSBASE::CopyText(admin.DefaultDownloadAltFolder, sizeof admin.DefaultDownloadAltFolder, "$(USERDESKTOP)");
    OPTSBASE::CopyText(admin.DefaultLogFolder, sizeof admin.DefaultLogFolder, "$(USERLOGS)/QOR");
    OPTSBASE::CopyText(admin.HostDirectoryFile, sizeof admin.HostDirectoryFile, "HostDirectory.qorini");
    OPTSBASE::CopyText(admin.DisableProgramSettingsPages, sizeof admin.DisableProgramSettingsPages, kNoPages);
    OPTSBASE::CopyText(admin.DisableSessionProfilePages, sizeof admin.DisableSessionProfilePages, kNoPages);
    OPTSBASE::CopyText(admin.DisableMenuItems, sizeof admin.DisableMenuItems, "9999,9999,9999,...");
    OPTSBASE::CopyText(admin.SetupSubsystems, sizeof admin.SetupSubsystems, "11100000.11100000");
    OPTSBASE::CopyText(admin.SetupDefaultConfig, sizeof admin.SetupDefaultConfig, "00000000");
    admin.HostDirectoryMax = 1024;
}

namespace {

// Adds the command ids of a DisableMenuItems text to the list: "," and ";"
// separate like "|", blanks are dropped, the first empty token ends it, and
// 9999 (the placeholder of the default text) and ids below 1 are skipped.
void ParseMenuItems(char const* text, int32_t* list)
{
    std::string t = text;
    std::replace(t.begin(), t.end(), ',', '|');
    std::replace(t.begin(), t.end(), ';', '|');
    t.erase(std::remove(t.begin(), t.end(), ' '), t.end());
    size_t b = t.find_first_not_of("\r\n\t ");
    size_t e = t.find_last_not_of("\r\n\t ");
    t = b == std::string::npos ? std::string() : t.substr(b, e - b + 1);
    int count = 0;
    while (count < ADMIN_MAXDISABLEDCOMMANDS && list[count] >= 1)
        ++count;
    size_t pos = 0;
    while (pos <= t.size()) {
        size_t bar = t.find('|', pos);
        std::string token = t.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos);
        if (token.empty())
            break;
        long id = strtol(token.c_str(), nullptr, 10);
        bool known = false;
        for (int i = 0; i < count; ++i)
            known = known || list[i] == id;
        if (id >= 1 && id != 9999 && id <= INT32_MAX && !known && count < ADMIN_MAXDISABLEDCOMMANDS)
            list[count++] = static_cast<int32_t>(id);
        if (bar == std::string::npos)
            break;
        pos = bar + 1;
    }
}

// "a" and "b" as one list of page titles, when both say something and the
// result fits; otherwise the administrator's list.
void JoinLists(char* field, size_t size, char const* shared, char const* user)
{
    if (strcmp(shared, user) == 0 || strcmp(shared, kNoPages) == 0)
        return;
    if (strcmp(user, kNoPages) == 0) {
        OPTSBASE::CopyText(field, size, shared);
        return;
    }
    std::string joined = std::string(shared) + "," + user;
    if (joined.size() < size)
        OPTSBASE::CopyText(field, size, joined.c_str());
    else
        OPTSBASE::CopyText(field, size, shared);
}

// The restrictions of the shared file hold whatever the per-user file says.
void KeepRestrictions(ADMINOPTS& admin, ADMINOPTS const& shared)
{
    signed char ADMINOPTS::*flags[] = {
        &ADMINOPTS::DisableProgramSettings, &ADMINOPTS::DisableSessionProfile, &ADMINOPTS::DisableToolbarSettings,
        &ADMINOPTS::DisableHostDirectory, &ADMINOPTS::DisableAcceleratorKeys, &ADMINOPTS::DisableRightButtonMenu,
        &ADMINOPTS::DisableScrollback, &ADMINOPTS::DisableLogging, &ADMINOPTS::DisableStoredPasswords,
        &ADMINOPTS::DisableUserConfigRelocation, &ADMINOPTS::DisableCommandlineWorkdir,
        &ADMINOPTS::DisableFirstTimeHelpWindow,
    };
    for (auto flag : flags) {
        if (shared.*flag)
            admin.*flag = shared.*flag;
    }
    JoinLists(admin.DisableProgramSettingsPages, sizeof admin.DisableProgramSettingsPages,
              shared.DisableProgramSettingsPages, admin.DisableProgramSettingsPages);
    JoinLists(admin.DisableSessionProfilePages, sizeof admin.DisableSessionProfilePages,
              shared.DisableSessionProfilePages, admin.DisableSessionProfilePages);
    if (shared.AuditLogFilename[0])
        OPTSBASE::CopyText(admin.AuditLogFilename, sizeof admin.AuditLogFilename, shared.AuditLogFilename);
    admin.HostDirectoryMax = std::min(admin.HostDirectoryMax, shared.HostDirectoryMax);
}

REGISTRY UserAppKey()
{
    STRING app = OSYS::GetStringFromResource("IDS_TARVOAPPREGKEY", kStrings);
    return REGISTRY(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", app.Buf(), REGISTRY::READWRITE);
}

// The snapshot of the record this process works with: private to the
// process and to the main window, so no window or instance removes
// another's. Empty without a private runtime folder.
STRING SnapshotName()
{
    static std::atomic<int> counter{0};
    std::string const folder = plat::FolderPath(plat::Folder::Runtime);
    STRING name;
    if (!folder.empty())
        name.Format("%sadmin.%d.%d.ini.tmp", folder.c_str(), static_cast<int>(getpid()), ++counter);
    return name;
}

// Removes the snapshots of processes that ended without removing them
// (killed, or crashed).
void RemoveStaleSnapshots()
{
    std::string const folder = plat::FolderPath(plat::Folder::Runtime);
    DIR* dir = folder.empty() ? nullptr : opendir(folder.c_str());
    if (!dir)
        return;
    while (dirent* e = readdir(dir)) {
        int pid = 0;
        int n = 0;
        int end = 0;
        if (sscanf(e->d_name, "admin.%d.%d.ini.tmp%n", &pid, &n, &end) != 2 || e->d_name[end] != 0 || pid <= 0)
            continue;
        if (kill(pid, 0) != 0 && errno == ESRCH) {
            LOGIT("PROGRAMSETTINGS::LoadAdminOpts removes the snapshot %s of an ended process\n", e->d_name);
            unlinkat(dirfd(dir), e->d_name, 0);
        }
    }
    closedir(dir);
}

bool WriteMarker(FILENAME const& folder)
{
    STRING text;
    text.Format("QOR %s\n\nDO NOT DELETE THIS FILE!", PROGRAMSETTINGS_VERSION);
    FILENAME marker(folder.Buf(), kMarker);
    return plat::fileio::WriteAtomic(marker.Buf(), std::string(text.Buf(), static_cast<size_t>(text.Length())), 0644);
}

} // namespace

// ---------------------------------------------------------------------------
// Reading and writing the record

bool PROGRAMSETTINGS::ReadAdminFile(char const* path, ADMINOPTS& into)
{
    FILE* f = OPTSBASE::OpenFile(path);
    LOGIT("PROGRAMSETTINGS::LoadAdminOpts fopen(%s)=%p\n", path, static_cast<void*>(f));
    if (!f)
        return false;
    OPTSBASE reader(&into, AdminOptlist, -1);
    std::string first;
    OPTSBASE::ReadLine(f, first);
    if (first.compare(0, 3, "QOR") == 0) {
        reader.SetDataVersion(first.c_str() + 3);
    } else {
        reader.SetDataVersion("5.00");
        rewind(f);
    }
    reader.LoadEntries(f, 0);
    reader.ClampReadValues();
    fclose(f);
    return true;
}

void PROGRAMSETTINGS::LoadAdminOpts(bool commandLineWorkdir)
{
    LOGIT("PROGRAMSETTINGS::LoadAdminOpts\n");
    ADMINOPTS& admin = app.Admin();
    // The one folder name of the administrator file that the library's
    // table does not know: the documents all users share. It is only
    // expanded, never put back into stored paths.
    std::string everyone = plat::FolderPath(plat::Folder::AppSupportLocal, false);
    if (!everyone.empty())
        FILENAME::ShellStringSet("%ALLUSERPROFILE%", everyone.c_str(), true);

    REGISTRY appKey = UserAppKey();
    STRING userFolder;
    appKey.Read("UserConfigFolder", &userFolder);
    if (userFolder.Length() > 259)
        userFolder.Cut(259);

    AdminDefaults(admin);
    FILENAME sharedFile(SettingsResourcePath().Buf(), "admin.ini");
    FILENAME userFile("$(USERHOME)/.qor6_admin.ini");
    bool sharedRead = ReadAdminFile(sharedFile.Buf(), admin);
    ADMINOPTS shared = admin;
    bool userRead = userFile.Exists() && ReadAdminFile(userFile.Buf(), admin);
    if (userRead && sharedRead)
        KeepRestrictions(admin, shared);
    adminFilename = userRead ? userFile : sharedFile;

    if (sharedRead || userRead) {
        REGISTRY setup(REGISTRY::CURRENT_USER, "Software\\Tarvo", "QOR6", REGISTRY::READWRITE);
        DWORD seen = 0;
        if (!setup.Read("SetupBeenHereB4", &seen) || seen == 0) {
            setup.Write("SetupBeenHereB4", DWORD(1));
            setup.Write("SetupForceWorkdir", DWORD(2));
            LOGIT("PROGRAMSETTINGS::LoadAdminOpts first start on OS X\n");
        }
        DWORD force = 0;
        if (setup.Read("SetupForceWorkdir", &force))
            admin.SetupForceWorkdir = static_cast<int32_t>(force);
        setup.DeleteValue("SetupForceWorkdir");
    }

    LOGIT("PROGRAMSETTINGS::LoadAdminOpts registry userconfigfolder= %s\n", userFolder.Buf());
    LOGIT("PROGRAMSETTINGS::LoadAdminOpts admin.ConfigDataFolder= %s\n", admin.ConfigDataFolder);
    LOGIT("PROGRAMSETTINGS::LoadAdminOpts admin.DisableUserConfigRelocation= %d\n", admin.DisableUserConfigRelocation);
    LOGIT("PROGRAMSETTINGS::LoadAdminOpts admin.SetupForceWorkdir= %d\n", admin.SetupForceWorkdir);
    if (admin.DisableUserConfigRelocation) {
        appKey.DeleteValue("UserConfigFolder");
        userFolder = "";
    }

    // The work folder.
    if (commandLineWorkdir && !admin.DisableCommandlineWorkdir) {
        admin.ConfigFolderType = 1;
    } else if (userFolder.NotEmpty()) {
        WORKDIR::SetCurrent(FILENAME(userFolder).Buf());
        admin.ConfigFolderType = 3;
    } else if (admin.ConfigDataFolder[0]) {
        WORKDIR::SetCurrent(FILENAME(admin.ConfigDataFolder).Buf());
        admin.ConfigFolderType = 2;
    } else {
        LOGIT("PROGRAMSETTINGS::LoadAdminOpts Warning!  Not user folder setting, using default!\n");
        FILENAME const older(kOlderDataFolder);
        bool const keepOlder = older.IsDirectory() && CheckConfigDirectory(older.Buf());
        WORKDIR::SetCurrent(keepOlder ? older.Buf() : FILENAME(kDefaultDataFolder).Buf());
    }
    LOGIT("PROGRAMSETTINGS::LoadAdminOpts admin.ConfigFolderType= %d\n", admin.ConfigFolderType);

    // The SSH folder: the user's own ".ssh" when the data folder has none
    // of its own yet, else one in the data folder.
    if (!admin.DefaultSshFolder[0]) {
        STRING work = WORKDIR::GetCurrent();
        FILENAME homeSsh("%USERHOME%", ".ssh");
        bool ownFolder = FILENAME(work.Buf(), "ssh").IsDirectory() || FILENAME(work.Buf(), "SSH").IsDirectory();
        if (!ownFolder && homeSsh.IsDirectory())
            OPTSBASE::CopyText(admin.DefaultSshFolder, sizeof admin.DefaultSshFolder, homeSsh.AsShellStrings(false).Buf());
        else
            OPTSBASE::CopyText(admin.DefaultSshFolder, sizeof admin.DefaultSshFolder, "$(QORFILES)/ssh");
    }

    if (strcmp(admin.DefaultProgramSettings, "$(QORFILES)/Options\\Standard.cfg") == 0) {
        OPTSBASE::CopyText(admin.DefaultProgramSettings, sizeof admin.DefaultProgramSettings, "$(QORFILES)/Options\\Standard.qfg");
        LOGIT("PROGRAMSETTINGS::LoadAdminOpts upgraded DefaultProgramSettings\n");
    }

    if (adminSnapshot.NotEmpty() && adminSnapshot.Exists())
        adminSnapshot.DeleteFile();
    RemoveStaleSnapshots();
    STRING const snapshot = SnapshotName();
    adminSnapshot = FILENAME(snapshot.Buf());
    if (snapshot.NotEmpty())
        SaveAdminOpts(adminSnapshot.Buf());

    int restrict = app.RestrictLevel();
    if (restrict & 1) {
        admin.DisableSessionProfile = 1;
        admin.DisableProgramSettings = 1;
    }
    if (restrict & 2)
        admin.DisableHostDirectory = 1;
    if (restrict & 4)
        admin.DisableRightButtonMenu = 1;

    memset(admin.DisabledCommands, 0, sizeof admin.DisabledCommands);
    if (userRead && sharedRead)
        ParseMenuItems(shared.DisableMenuItems, admin.DisabledCommands);
    ParseMenuItems(admin.DisableMenuItems, admin.DisabledCommands);
    LOGIT("PROGRAMSETTINGS::LoadAdminOpts done\n");
}

void PROGRAMSETTINGS::SaveAdminOpts(char const* name)
{
    FILENAME path(SettingsHomePath().Buf(), name ? name : "admin.ini");
    LOGIT("PROGRAMSETTINGS::SaveAdminOpts %s\n", path.Buf());
    if (!path.IsWriteable())
        return;
    OPTSBASE writer(&app.Admin(), AdminOptlist, -1);
    writer.SaveFile(path.Buf(), nullptr);
}

bool PROGRAMSETTINGS::DisableMenuItems(int id) const
{
    if (id < 1)
        return false;
    ADMINOPTS const& admin = app.Admin();
    for (int i = 0; i < ADMIN_MAXDISABLEDCOMMANDS && admin.DisabledCommands[i] >= 1; ++i) {
        if (admin.DisabledCommands[i] == id)
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// The data folder

bool PROGRAMSETTINGS::CheckConfigDirectory(char const* folder)
{
    FILENAME marker(folder, kMarker);
    FILENAME oldMarker(folder, kOldMarker);
    if (!marker.Exists() && oldMarker.Exists())
        oldMarker.RenameTo(kMarker, false);
    if (marker.Exists() || oldMarker.Exists()) {
        marker.SetHidden(true);
        return true;
    }
    if (FILENAME(folder, "Options", "Standard.qfg").Exists())
        return true;
    FILENAME older(folder, "Options", "Standard.cfg");
    if (FILE* f = OPTSBASE::OpenFile(older.Buf())) {
        char head[8] = {};
        size_t n = fread(head, 1, sizeof head, f);
        fclose(f);
        if (n > 0 && memcmp(head, "QOR4.80", 8) >= 0)
            return true;
    }
    return app.Admin().SetupForceWorkdir == 1;
}

int PROGRAMSETTINGS::ConfigFolderCheck()
{
    LOGIT("PROGRAMSETTINGS::ConfigFolderCheck\n");
    ADMINOPTS& admin = app.Admin();
    FILENAME::ShellStringSet("%QORFILES%", WORKDIR::GetCurrent().Buf(), false);
    FILENAME::ShellStringSet("%QOR%", SettingsHomePath().Buf(), false);
    LOGIT("PROGRAMSETTINGS::ConfigFolderCheck DisableUserConfigRelocation= %d\n", admin.DisableUserConfigRelocation);

    STRING prefix(admin.NewUserProfilePrefix[0] ? admin.NewUserProfilePrefix : "newuserprofile");
    prefix.Append(OSYS::GetStringFromResource("IDS_TARVOAPPNEWUSERPROF", kStrings));
    FILENAME templ(SettingsResourcePath().Buf(), prefix.Buf());
    std::string version = std::string(PROGRAMSETTINGS_VERSION).substr(0, 3);

    FILENAME candidate(WORKDIR::GetCurrent());
    bool refused = false;
    // A user who keeps answering with a folder that cannot be made would
    // otherwise never get out.
    constexpr int kMaxPasses = 64;
    int pass = 1;
    for (;; ++pass) {
        if (candidate.Exists() && CheckConfigDirectory(candidate.Buf()))
            break;
        if (refused || pass > kMaxPasses) {
            LOGIT("PROGRAMSETTINGS::ConfigFolderCheck returns dontrun= %d\n", 1);
            return 1;
        }
        LOGIT("PROGRAMSETTINGS::ConfigFolderCheck workpath= %s (exists= %d)\n", candidate.Buf(), candidate.Exists());
        bool relocate = admin.ConfigFolderType != 1 && !admin.DisableUserConfigRelocation;
        if (!(admin.SetupForceWorkdir == 2 && pass == 1)) {
            int button = app.WorkdirNotFound(candidate.Buf(), version.c_str(), relocate);
            if (button == 1 && relocate) {
                int moved = RelocateDataFolder();
                if (moved != 0)
                    candidate = FILENAME(WORKDIR::GetCurrent());
                if (moved != 2)
                    continue;
            } else if (button != 0) {
                refused = true;
                continue;
            }
        }
        // Make the folder and fill it from the new-user template; files
        // that are there already are the user's and stay.
        bool made = OSYS::CreateDirectoryPath(candidate.Buf()) && candidate.IsDirectory() && WriteMarker(candidate);
        if (!made) {
            STRING message;
            message.Format("Could not write configuration to \r%s\r\r(%s)", candidate.Buf(),
                           OSYS::GetLastErrorString().Buf());
            app.ErrorMsg(message.Buf());
            continue;
        }
        if (templ.IsDirectory() && !OSYS::TreeCopy(templ.Buf(), candidate.Buf(), "*", true, true))
            LOGIT("PROGRAMSETTINGS::ConfigFolderCheck could not copy all of %s\n", templ.Buf());
    }

    WORKDIR::SetCurrent(candidate.Buf());
    FILENAME::ShellStringSet("%QORFILES%", candidate.Buf(), false);
    WriteMarker(candidate);
    struct SHARED {
        char const* folder;
        char const* file;
    } const shared[] = {{admin.KeymapsFolder, "Standard.qky"}, {admin.TranslationTablesFolder, "Standard.qtr"}};
    for (SHARED const& s : shared) {
        if (!s.folder[0])
            continue;
        FILENAME folder(candidate.Buf(), s.folder);
        if (folder.Exists())
            continue;
        OSYS::CreateDirectoryPath(folder.Buf());
        FILENAME(candidate.Buf(), "Options", s.file).CopyTo(FILENAME(folder.Buf(), s.file).Buf(), false);
    }
    LOGIT("PROGRAMSETTINGS::ConfigFolderCheck returns dontrun= %d\n", 0);
    return 0;
}

int PROGRAMSETTINGS::RelocateDataFolder()
{
    LOGIT("PROGRAMSETTINGS::RelocateDataFolder\n");
    ADMINOPTS const& admin = app.Admin();
    STRING chosen = app.AskDirectory("", FILENAME("%USERPROFILE%").Buf());
    int didit = 0;
    if (chosen.NotEmpty()) {
        FILENAME folder(chosen);
        if (folder.Exists() && CheckConfigDirectory(folder.Buf())) {
            didit = 1;
        } else {
            STRING question = OSYS::GetStringFromResource("IDS_FOLDERNOTQORCONFIG", kStrings);
            question.Replace("$DIR", chosen.Buf());
            if (app.YesNoRequest(question.Buf())) {
                OSYS::CreateDirectoryPath(folder.Buf());
                didit = 2;
            }
        }
        if (didit) {
            WORKDIR::SetCurrent(folder.Buf());
            REGISTRY appKey = UserAppKey();
            if (admin.DisableUserConfigRelocation)
                appKey.DeleteValue("UserConfigFolder");
            else
                appKey.Write("UserConfigFolder", chosen.Buf());
            // The next start, of this instance or another, uses the new folder.
            appKey.Flush();
        }
    }
    LOGIT("PROGRAMSETTINGS::RelocateDataFolder returns didit= %d\n", didit);
    return didit;
}

int PROGRAMSETTINGS::NewUser()
{
    FILENAME current = GetCurrentFilename();
    if (!current.Exists() && current.IsWriteable())
        Save();
    REGISTRY appKey = UserAppKey();
    STRING work = FILENAME(WORKDIR::GetCurrent()).Buf();
    STRING home = FILENAME(SettingsHomePath()).Buf();
    appKey.Write("%QORFILES%", work.Buf());
    appKey.Write("%QOR%", home.Buf());
    // The machine-wide store is the administrator's: the program never
    // writes it, not even when it runs as root.
    LOGIT("PROGRAMSETTINGS::NewUser done, didit= %d\n", 0);
    return 0;
}
