// PROGRAMSETTINGS: defaults, loading with its fix-ups, saving, the notice
// to the other instances and the settings editor's lock file.
#include "program/settings/programsettings.h"

#include "velmot/core/workdir.h"
#include "platform/services/dispatch.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"
#include "velmot/core/wstring.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

PROGRAMSETTINGS::UPGRADEFUNCTION PROGRAMSETTINGS::Upgrade5xxPaths = nullptr;

namespace {

// The resource table of the settings texts.
void* const kStrings = const_cast<char*>("Settings");



// The version word after "QOR", at most 8 characters, zero-padded so that
// byte-wise comparisons over a fixed width can run past its end.
struct VERSIONTEXT {
    char text[9] = {};
    bool Below(char const* other, size_t width) const { return memcmp(text, other, width) < 0; }
};


} // namespace

PROGRAMSETTINGS::PROGRAMSETTINGS(SETTINGSHOST& owner)
    : app(owner), opts(&data, Optlist, -1), text("", 1252), alive(std::make_shared<bool>(true))
{
    LOGIT("PROGRAMSETTINGS::PROGRAMSETTINGS\n");
    memset(&data, 0, sizeof data);
}

PROGRAMSETTINGS::~PROGRAMSETTINGS()
{
    LOGIT("PROGRAMSETTINGS::~PROGRAMSETTINGS\n");
    *alive = false;
    if (fFileLock)
        LockFile(false);
    if (adminSnapshot.NotEmpty() && adminSnapshot.Exists())
        adminSnapshot.DeleteFile();
}

// ---------------------------------------------------------------------------
// Defaults

void PROGRAMSETTINGS::Init()
{
    LOGIT("PROGRAMSETTINGS::Init\n");
    ADMINOPTS const& admin = app.Admin();
    memset(&data, 0, sizeof data);

    // Folders, with their shell strings as the administrator wrote them.
    OPTSBASE::CopyText(data.DownloadPath, sizeof data.DownloadPath, admin.DefaultDownloadFolder);
    OPTSBASE::CopyText(data.DownloadAltPath, sizeof data.DownloadAltPath, admin.DefaultDownloadAltFolder);
    OPTSBASE::CopyText(data.UploadPath, sizeof data.UploadPath, admin.DefaultUploadFolder);
    OPTSBASE::CopyText(data.UploadAscPath, sizeof data.UploadAscPath, admin.DefaultUploadTextFolder);
    OPTSBASE::CopyText(data.CapturePath, sizeof data.CapturePath, admin.DefaultLogFolder);
    OPTSBASE::CopyText(data.ScriptPath, sizeof data.ScriptPath, admin.DefaultScriptFolder);
    OPTSBASE::CopyText(data.OptsPath, sizeof data.OptsPath, admin.DefaultOptionsFolder);
    OPTSBASE::CopyText(data.SshPath, sizeof data.SshPath, admin.DefaultSshFolder);

    // Special files.
    char const* shell = getenv("SHELL");
    struct stat st;
    bool shellExists = shell && *shell && stat(shell, &st) == 0 && S_ISREG(st.st_mode);
    OPTSBASE::CopyText(data.ShellExe, sizeof data.ShellExe, shellExists ? shell : "<DEFAULT>");
    OPTSBASE::CopyText(data.EditorExe, sizeof data.EditorExe, "<DEFAULT>");
    OPTSBASE::CopyText(data.CallingLogFile, sizeof data.CallingLogFile, "Calls.log");
    OPTSBASE::CopyText(data.SaveScrFile, sizeof data.SaveScrFile, "SaveScreen.log");
    OPTSBASE::CopyText(data.ScrollEditFile, sizeof data.ScrollEditFile, "scrolledit^8.txt");

    // Sounds and confirmations.
    OPTSBASE::CopyText(data.SoundBellWav, sizeof data.SoundBellWav, "sndbell.wav");
    data.BeepMode = 1;
    data.BeepMax = 5;
    data.BeepTime = 5;
    data.NoQuitWhenRexx = 1;
    data.SafWarnRTS = 1;
    data.SafWarnNoComPort = 1;
    data.SafAskHangup = 1;
    data.SafAskPhbkDel = 1;
    data.SafAskHostdirPasswordReused = 1;
    data.PwdAutoExpire = 30;

    // Window and tabs.
    OPTSBASE::CopyWide(data.WindowsDefaultFont, 128, WSTRING(SETTINGS_FONTDESCRIPTION, 1252).Buf());
    SettingsDefaultFont(data.MacDefaultFont, 128, 80, 11);
    SettingsDefaultFont(data.BrWinFont, 128, 80, 11);
    data.MaxBorderBgColor = 8;
    data.ShowTabsAlways = 1;
    data.DoTabsKeyShortcuts = 1;

    // Clipboard and mouse.
    data.ClipTrimLast = 1;
    data.ClipNoAddCR = 1;
    data.QuoteSmart = 1;
    data.QuoteWidth = 77;
    data.PasteWithCtrlV = 1;
    data.MouseModeRight = 2;
    data.MouseWheelSpeed = 1;
    static char const delimiters[] = {' ', ';', ',', ':', '?', '(', ')', '!', '=', '+',
                                      '\'', '`', static_cast<char>(0xB4), '"', '[', ']', '{', '}', '<', '>', 0};
    OPTSBASE::CopyText(data.MouseMarkDelimiters, sizeof data.MouseMarkDelimiters, delimiters);

    // Auto dial.
    data.DialRetryWait = 30;
    data.DialMinWait = 5;
    data.DialTimeout = 60;
    data.DialMaxRetry = 10;
    OPTSBASE::CopyText(data.MdmConnectStr, sizeof data.MdmConnectStr, "CONNECT|CARRIER");
    OPTSBASE::CopyText(data.MdmCancelStr, sizeof data.MdmCancelStr, "NO DIALTONE|NO MORE DIALLING|ERROR:");
    OPTSBASE::CopyText(data.MdmDropStr, sizeof data.MdmDropStr, "NO ANSWER|FAIL:");
    OPTSBASE::CopyText(data.MdmBusyStr, sizeof data.MdmBusyStr, "BUSY|NO CARRIER|BLACKLISTED|DELAYED");

    // Plug-in selection: characters 0 to 2 and 9 to 11 of SetupSubsystems.
    auto digit = [&admin](size_t i) -> signed char {
        char c = i < strnlen(admin.SetupSubsystems, sizeof admin.SetupSubsystems) ? admin.SetupSubsystems[i] : '0';
        return c >= '0' && c <= '9' ? static_cast<signed char>(c - '0') : 0;
    };
    data.SubsysCorvane = digit(0);
    data.SubsysEmuIBM = digit(1);
    data.SubsysEmuMisc = digit(2);
    data.SubsysDevNetwork = digit(9);
    data.SubsysHalbrin = digit(10);
    data.SubsysDevMisc = digit(11);

    // Scrollback and printer.
    data.ScrollbackLines = 1000;
    STRING printer;
    printer.Format("%s|STD|*", OSYS::GetStringFromResource("IDS_STDPRINTER", kStrings).Buf());
    OPTSBASE::CopyText(data.Printer, sizeof data.Printer, printer.Buf());
    data.PrintJobMerging = 5;
    WSTRING header(L"%USERNAME%|%DATE% %TIME%|");
    header.Append(OSYS::GetWideStringFromResource("IDS_PAGE", kStrings).Buf());
    header.Append(L" %PAGE%");
    OPTSBASE::CopyWide(data.PrintHeader, 128, header.Buf());
    data.PrinterFontsize = 10;
    STRING font;
    font.Format("%dF.Courier New", 10);
    OPTSBASE::CopyText(data.PrinterFont, sizeof data.PrinterFont, font.Buf());
    OPTSBASE::CopyText(data.PrinterMargins, sizeof data.PrinterMargins, "mm|15|20|0|20");

    // Internal.
    data.AutoShow = 2;
    OPTSBASE::CopyText(data.BookSections[0], sizeof data.BookSections[0],
             OSYS::GetStringFromResource("IDS_PHONEBOOK_DEF", kStrings).Buf());
    for (int i = 1; i <= 5; ++i) {
        char id[32];
        snprintf(id, sizeof id, "IDS_PHONEBOOK_%d", i);
        OPTSBASE::CopyText(data.BookSections[i], sizeof data.BookSections[i], OSYS::GetStringFromResource(id, kStrings).Buf());
    }
    LOGIT("PROGRAMSETTINGS::Init done\n");
}

// ---------------------------------------------------------------------------
// File name

void PROGRAMSETTINGS::SetFilename(char const* name)
{
    LOGIT("PROGRAMSETTINGS::SetFilename %s\n", name ? name : "<null>");
    currentFilename = FILENAME(WORKDIR::GetCurrent().Buf(), data.OptsPath, name ? name : "");
    LOGIT("PROGRAMSETTINGS::SetFilename done, current filename now %s\n", currentFilename.Buf());
}

FILENAME PROGRAMSETTINGS::GetCurrentFilename() const
{
    return FILENAME(WORKDIR::GetCurrent().Buf(), data.OptsPath, currentFilename.Buf());
}

int PROGRAMSETTINGS::CreateConfigDirectory(char const* path)
{
    if (!path || !*path)
        return 0;
    FILENAME folder(WORKDIR::GetCurrent().Buf(), path);
    if (folder.Exists())
        return 0;
    // Only the program's own folders are made here, those in its data
    // folder. The user's folders (downloads, desktop, home) are never made;
    // a part that writes elsewhere (a log, a transfer) makes its folder when
    // it first needs it.
    std::string const work = FILENAME(WORKDIR::GetCurrent()).Buf();
    std::string const wanted = folder.Buf();
    if (work.empty() || wanted.compare(0, work.size(), work) != 0 ||
        (wanted.size() > work.size() && wanted[work.size()] != '/' && work.back() != '/')) {
        LOGIT("PROGRAMSETTINGS::CreateConfigDirectory leaves %s to the part that uses it\n", wanted.c_str());
        return 0;
    }
    bool made = OSYS::CreateDirectoryPath(folder.Buf());
    LOGIT("PROGRAMSETTINGS::CreateConfigDirectory %s made= %d\n", folder.Buf(), made);
    return made ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Loading

int PROGRAMSETTINGS::Load(char const* name)
{
    LOGIT("PROGRAMSETTINGS::Load\n");
    if (name)
        SetFilename(name);
    FILENAME current = GetCurrentFilename();
    LOGIT("PROGRAMSETTINGS::Load filename CurrentFilename= %s\n", current.Buf());

    int result = 0;
    int error = 0;
    FILE* f = OPTSBASE::OpenFile(current.Buf(), &error);
    if (!f) {
        LOGIT("PROGRAMSETTINGS::Load failed with= %s\n", OSYS::GetLastErrorString(error).Buf());
        // A file that is there but cannot be read is left as it is and the
        // defaults stand in for it: the user is told what, where and why.
        if (error != ENOENT && strcmp(unreadableReported.Buf(), current.Buf()) != 0) {
            unreadableReported = current.Buf();
            STRING message;
            message.Format(OSYS::GetStringFromResource("IDS_SETTINGS_UNREADABLE", kStrings).Buf(), current.Buf(),
                           OSYS::GetLastErrorString(error).Buf());
            app.ErrorMsg(message.Buf());
        }
    } else {
        std::string first;
        OPTSBASE::ReadLine(f, first);
        if (first.size() > 127)
            first.resize(127);
        char after[5] = {};
        if (first.size() > 3)
            memcpy(after, first.c_str() + 3, std::min<size_t>(4, first.size() - 3));

        VERSIONTEXT version;
        bool entriesRead = false;
        if (first.compare(0, 3, "QOR") == 0 && memcmp(after, "2.60", 4) >= 0) {
            std::string word = first.substr(3);
            word = word.substr(0, word.find_first_of(" \t"));
            memcpy(version.text, word.c_str(), std::min<size_t>(8, word.size()));
            if (OPTSBASE::VersionNumber(version.text) >= 2.6) {
                if (version.text[0] && !version.Below("6.00", 5) && strcmp(version.text, PROGRAMSETTINGS_VERSION) < 0) {
                    STRING backup;
                    backup.Format("%s.v%s.bak", current.Buf(), version.text);
                    current.CopyTo(backup.Buf(), false);
                }
                LOGIT("PROGRAMSETTINGS::Load vers= %s\n", first.c_str());
                opts.SetDataVersion(version.text);
                opts.LoadEntries(f, 0);
                entriesRead = true;
            }
        }
        fclose(f);

        // Fix-ups, for every file that could be opened.
        // The host's own title first, so that windows can be told apart.
        if (data.WindowTitle[0] == 0)
            OPTSBASE::CopyWide(data.WindowTitle, 128, L"%CUSTOMTITLE% - %QORORHOST% %OPTIONS%");
        if (data.PrinterFontsize < 5)
            data.PrinterFontsize = 10;
        if (data.PrinterFont[0] == 0)
            snprintf(data.PrinterFont, sizeof data.PrinterFont, "%dF.Courier New", data.PrinterFontsize);
        double value = OPTSBASE::VersionNumber(version.text);
        if (value >= 5.0 && value <= 5.6 && Upgrade5xxPaths)
            Upgrade5xxPaths(*this);
        if (version.Below("6.21k", 6) && data.MouseModeLeft > 1)
            data.MouseModeLeft++;
        if (version.Below("6.27c", 6))
            data.ClipAutoCopy = 1;
        // Numbers that size buffers or index tables are kept inside their
        // limits; the fix-ups above see the values as the file had them.
        if (entriesRead)
            opts.ClampReadValues();
        result = 1;
    }

    CreateConfigDirectory(data.DownloadPath);
    CreateConfigDirectory(data.DownloadAltPath);
    CreateConfigDirectory(data.UploadPath);
    CreateConfigDirectory(data.UploadAscPath);
    CreateConfigDirectory(data.CapturePath);
    CreateConfigDirectory(data.ScriptPath);
    CreateConfigDirectory(data.OptsPath);
    CreateConfigDirectory(data.SshPath);
    LOGIT("PROGRAMSETTINGS::Load optsdir= %s\n", data.OptsPath);
    LOGIT("PROGRAMSETTINGS::Load sshsdir= %s\n", data.SshPath);
    LOGIT("PROGRAMSETTINGS::Load return %d\n", result);
    return result;
}

// ---------------------------------------------------------------------------
// Saving

int PROGRAMSETTINGS::Save(char const* name)
{
    LOGIT("PROGRAMSETTINGS::Save\n");
    if (name)
        SetFilename(name);
    FILENAME current = GetCurrentFilename();
    STRING header;
    header.Format("QOR%s%s // PROGRAMSETTINGS\n\n", PROGRAMSETTINGS_VERSION, "");
    if (opts.SaveFile(current.Buf(), header.Buf()) != 0) {
        LOGIT("PROGRAMSETTINGS::Save failed for %s\n", current.Buf());
        app.FileError(current.Buf());
        return 0;
    }
    app.SendIpcMessage(0, PROGRAMSETTINGS_IPCSAVED, 1);
    LOGIT("PROGRAMSETTINGS::Save done\n");
    return 1;
}

// ---------------------------------------------------------------------------
// Other instances and the editor's lock

int PROGRAMSETTINGS::IpcEvent(uint32_t code, uint32_t param)
{
    LOGIT("PROGRAMSETTINGS::IpcEvent %u %u\n", code, param);
    if (code != 1)
        return 0;
    if (TARVOAPP::IsMainThread()) {
        ReloadAfterNotice();
    } else {
        std::weak_ptr<bool> token = alive;
        plat::PostToMainThread([this, token] {
            std::shared_ptr<bool> living = token.lock();
            if (living && *living)
                ReloadAfterNotice();
        });
    }
    return 0;
}

void PROGRAMSETTINGS::ReloadAfterNotice()
{
    // The editor works on this block: its own save or cancel comes first,
    // and the reload follows when it lets the lock go.
    if (fFileLock) {
        LOGIT("PROGRAMSETTINGS::ReloadAfterNotice waits for the editor\n");
        reloadPending = true;
        return;
    }
    reloadPending = false;
    Load();
    app.PostApplySettings();
}

bool PROGRAMSETTINGS::LockFile(bool on)
{
    if (on)
        lockFilename.Format("%s.flock", GetCurrentFilename().Buf());
    LOGIT("PROGRAMSETTINGS::LockFile %d %s %p\n", on ? 1 : 0, lockFilename.Buf(), static_cast<void*>(fFileLock));
    if ((fFileLock != nullptr) == on) {
        AssertMsg(0, "(this->fFileLock!=0) != (onoff!=0)", __FILE__, __LINE__);
        return false;
    }
    bool ok = true;
    if (on) {
        // The lock is the flock of the open file, which the system drops
        // when the process ends however it ends. A file that its previous
        // holder removed between our open and our lock is not the lock file
        // any more: open again.
        ok = false;
        for (int attempt = 0; attempt < 5 && !ok; ++attempt) {
            FILE* f = FILENAME::fsopen(lockFilename.Buf(), "w", FSOPEN_SHARE_EXCLUSIVE);
            if (!f)
                break;
            struct stat held;
            struct stat named;
            if (fstat(fileno(f), &held) == 0 && stat(lockFilename.Buf(), &named) == 0 && held.st_ino == named.st_ino &&
                held.st_dev == named.st_dev) {
                fFileLock = f;
                ok = true;
            } else {
                fclose(f);
            }
        }
    } else {
        unlink(lockFilename.Buf());
        fclose(fFileLock);
        fFileLock = nullptr;
        if (reloadPending)
            ReloadAfterNotice();
    }
    LOGIT("PROGRAMSETTINGS::LockFile done, ok=%d\n", ok ? 1 : 0);
    return ok;
}
