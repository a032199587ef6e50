#include "program/settings/passwordcache.h"

#include "program/settings/programsettings.h"
#include "program/settings/settingshost.h"

#include "platform/services/folders.h"
#include "platform/services/keychain.h"
#include "velmot/core/checksums.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/gui/listview.h"
#include "velmot/gui/windialog.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr char kServicePrefix[] = "QOR: ";

bool SameRef(char const* a, char const* b)
{
    return strcasecmp(a ? a : "", b ? b : "") == 0;
}

int TypeOf(HASH const& entry)
{
    return entry.CheckKey("Type") ? atoi(entry["Type"].Buf()) : 0;
}

bool SecretType(int type)
{
    return type >= PWCACHE_SSH_PASSWORD && type <= PWCACHE_SSH_KBDINTERACTIVE;
}

// ---------------------------------------------------------------------------
// The list dialog

constexpr CONTROLID kList{plat::FourCC("DROP"), 1};
constexpr CONTROLID kFrame{plat::FourCC("RECT"), 1};
constexpr CONTROLID kDeleteSelected{plat::FourCC("PUSH"), 1};
constexpr CONTROLID kDeleteAll{plat::FourCC("PUSH"), 2};
constexpr CONTROLID kStoreText{plat::FourCC("STAT"), 3};
constexpr int kFirstHandle = 4096;

char const* const kTypeTexts[] = {"Quick Connect Username", "SSH Default User", "SSH Password", "SSH Passphrase",
                                  "SSH Kbd. Interactive"};

int TypeIndex(int type)
{
    switch (type) {
    case PWCACHE_QUICKCONNECT_USER:
        return 0;
    case PWCACHE_SSH_DEFAULT_USER:
        return 1;
    case PWCACHE_SSH_PASSWORD:
        return 2;
    case PWCACHE_SSH_PASSPHRASE:
        return 3;
    case PWCACHE_SSH_KBDINTERACTIVE:
        return 4;
    default:
        return -1;
    }
}

// The icon slot of a type among the five icons 1010 to 1014.
int TypeIcon(int type)
{
    switch (type) {
    case PWCACHE_SSH_DEFAULT_USER:
        return 2;
    case PWCACHE_SSH_PASSPHRASE:
        return 3;
    case PWCACHE_SSH_KBDINTERACTIVE:
        return 4;
    default:
        return 0;
    }
}

class PASSWORDSDIALOG : public DIALOG {
public:
    PASSWORDSDIALOG(WINDOW const& owner, HASHLIST& entries, char const* storeName)
        : DIALOG("DLG_WIN_PASSWORDCACHE", owner.GetWindow()), Entries(entries),
          List(GetClientParent(), kList, 0, kFrame)
    {
        Sort["LastSortColumn"] = "2";
        Sort["LastSortOrder"] = "-1";
        STRING types = OSYS::GetStringFromResource("IDS_PASSWORDTYPES");
        TypeTexts = types.Length() ? types.Buf() : "";
        uint32_t const icons[] = {1010, 1011, 1012, 1013, 1014};
        List.Format(16, 16, icons, 5, 1);
        List.SetFullrowselect(1);
        List.SetAllowMultiSelect(1);
        STRING header = OSYS::GetStringFromResource("IDS_PASSWORDLISTHDR");
        std::string h = header.Length() ? header.Buf() : "Type|Reference|User|Last access";
        for (int column = 0; column < 4; ++column) {
            size_t bar = h.find('|');
            List.InsertColumn(column, h.substr(0, bar).c_str(), 128, LVCOLUMN_LEFT);
            h = bar == std::string::npos ? std::string() : h.substr(bar + 1);
        }
        STRING where = OSYS::GetStringFromResource("IDS_PWCACHE_STORE");
        std::string text = where.Length() ? where.Buf() : "%s";
        size_t at = text.find("%s");
        if (at != std::string::npos)
            text.replace(at, 2, storeName ? storeName : "");
        SetControlText(kStoreText, text.c_str());
        Fill();
    }

    bool OnPushbutton(CONTROLID id) override
    {
        if (id == kDeleteSelected) {
            for (int n = List.CountSelectedRecords(); n > 0; --n) {
                int handle = List.GetSelectedRecord(0);
                if (handle < 0)
                    break;
                List.DeleteRecord(handle);
                Remove(handle);
            }
            Update();
            return true;
        }
        if (id == kDeleteAll) {
            List.DeleteAllRecords();
            while (Entries.NumItems() > 0)
                Entries.DeleteItem(0);
            Update();
            return true;
        }
        return DIALOG::OnPushbutton(id);
    }

    bool OnControlEvent(int code, CONTROL const& control, void* data) override
    {
        if (code == CONTROLNOTIFY_SELECTION)
            Update();
        return DIALOG::OnControlEvent(code, control, data);
    }

private:
    std::string TypeText(int type) const
    {
        int index = TypeIndex(type);
        if (index < 0)
            return "<unknown>";
        std::string all = TypeTexts;
        for (int i = 0; i < index && !all.empty(); ++i) {
            size_t bar = all.find('|');
            all = bar == std::string::npos ? std::string() : all.substr(bar + 1);
        }
        std::string text = all.substr(0, all.find('|'));
        return text.empty() ? kTypeTexts[index] : text;
    }

    void Fill()
    {
        int handle = kFirstHandle;
        for (int i = 0; i < Entries.NumItems(); ++i) {
            HASH& e = *Entries[i];
            if (!e.CheckKey("Type"))
                e["Type"] = "0";
            e.Handle = static_cast<uint32_t>(handle);
            int const type = TypeOf(e);
            std::string text = TypeText(type) + "\t" + e["Ref"].Buf() + "\t" + e["Username"].Buf() + "\t" +
                               (e.CheckKey("LastAccessStr") ? e["LastAccessStr"].Buf() : "");
            List.InsertRecord(handle, TypeIcon(type), text.c_str());
            ++handle;
        }
        if (List.GetNumRecords() > 0) {
            List.AutoWidth(-1, 1);
            List.SortRecords(atoi(Sort["LastSortOrder"].Buf()) < 0, atoi(Sort["LastSortColumn"].Buf()), nullptr,
                             nullptr);
        }
        Update();
    }

    void Remove(int handle)
    {
        int idx = Entries.FindHandle(static_cast<uint32_t>(handle));
        if (idx == -1) {
            LOGIT("PASSWORDSDIALOG: record %d has no entry\n", handle);
            return;
        }
        Entries.DeleteItem(idx);
    }

    void Update()
    {
        EnableControl(kDeleteSelected, List.CountSelectedRecords() > 0);
        EnableControl(kDeleteAll, List.GetNumRecords() > 0);
    }

    HASHLIST& Entries;
    LISTVIEW List;
    HASH Sort;
    std::string TypeTexts;
};

} // namespace

// ---------------------------------------------------------------------------

PASSWORDCACHE::PASSWORDCACHE(SETTINGSHOST& owner, PROGRAMSETTINGSDATA const* settings, char const* homePath)
    : Owner(owner), Settings(settings)
{
    CRC crc;
    std::string const source = std::string(homePath ? homePath : "") + "PasswordCache";
    crc.UpdateCrc(source.c_str(), static_cast<uint32_t>(source.size()));
    char name[16];
    snprintf(name, sizeof name, "QC%04x", static_cast<unsigned>((crc.Value >> 16) ^ (crc.Value & 0xFFFF)));
    Name = name;
}

PASSWORDCACHE::~PASSWORDCACHE()
{
    if (LockFd >= 0)
        close(LockFd);
}

unsigned long long PASSWORDCACHE::Now() const
{
    return Clock ? Clock() : OSYS::GetLTime();
}

bool PASSWORDCACHE::StoresDisabled() const
{
    return Owner.Admin().DisableStoredPasswords != 0;
}

std::string PASSWORDCACHE::StoreName()
{
    return plat::KeychainStoreName();
}

bool PASSWORDCACHE::LockTable()
{
    LOGIT("PASSWORDCACHE::LockTable\n");
    if (!Mutex.Obtain(LOCKWAIT)) {
        LOGIT("PASSWORDCACHE::LockTable returns ok= 0 (busy in this process)\n");
        return false;
    }
    if (Locked) {
        // The calling thread holds the table already.
        Mutex.Release();
        LOGIT("PASSWORDCACHE::LockTable returns ok= 0 (held)\n");
        return false;
    }
    if (LockFd < 0) {
        std::string const path = plat::FolderPath(plat::Folder::Runtime, true) + Name;
        LockFd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    }
    bool ok = false;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(LOCKWAIT); LockFd >= 0;) {
        if (flock(LockFd, LOCK_EX | LOCK_NB) == 0) {
            ok = true;
            break;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= end)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ok)
        Locked = true;
    else
        Mutex.Release();
    LOGIT("PASSWORDCACHE::LockTable returns ok= %d\n", ok ? 1 : 0);
    return ok;
}

void PASSWORDCACHE::UnlockTable()
{
    LOGIT("PASSWORDCACHE::UnlockTable\n");
    if (!Locked)
        return;
    flock(LockFd, LOCK_UN);
    Locked = false;
    Mutex.Release();
    LOGIT("PASSWORDCACHE::UnlockTable done\n");
}

bool PASSWORDCACHE::ReadPasswords(HASHLIST& out, bool* complete)
{
    if (complete)
        *complete = false;
    if (StoresDisabled())
        return false;
    std::vector<plat::KeychainItem> items;
    bool whole = false;
    if (!plat::KeychainFindAll(CREATOR, items, &whole))
        return false;
    for (plat::KeychainItem& item : items) {
        HASH entry{STRING(item.Data.c_str())};
        std::fill(item.Data.begin(), item.Data.end(), '\0');
        if (!entry.CheckKey("Ref"))
            continue;
        out.AppendItem(entry);
    }
    if (complete)
        *complete = whole;
    return true;
}

bool PASSWORDCACHE::WritePasswords(HASHLIST& entries)
{
    if (StoresDisabled())
        return false;
    HASHLIST stored;
    bool complete = false;
    if (!ReadPasswords(stored, &complete))
        return false;
    bool ok = true;
    for (int i = 0; i < stored.NumItems(); ++i) {
        char const* ref = (*stored[i])["Ref"].Buf();
        bool keep = false;
        for (int k = 0; k < entries.NumItems() && !keep; ++k)
            keep = SameRef((*entries[k])["Ref"].Buf(), ref);
        if (!keep)
            ok = plat::KeychainDelete(CREATOR, std::string(kServicePrefix) + ref) && ok;
    }
    for (int i = 0; i < entries.NumItems(); ++i) {
        HASH& e = *entries[i];
        if (!e.CheckKey("Dirty") || atoi(e["Dirty"].Buf()) == 0)
            continue;
        e.DeleteItem("Dirty");
        plat::KeychainItem item;
        item.Service = std::string(kServicePrefix) + e["Ref"].Buf();
        item.Account = e["Ref"].Buf();
        item.Data = e.AsString().Buf();
        ok = plat::KeychainWrite(CREATOR, item) && ok;
        std::fill(item.Data.begin(), item.Data.end(), '\0');
    }
    return ok;
}

bool PASSWORDCACHE::PurgeEntries(int days, HASHLIST& entries)
{
    if (days == -1)
        days = Settings ? Settings->PwdAutoExpire : 0;
    unsigned long long const limit = static_cast<unsigned long long>(days > 0 ? days : 0) * 86400ULL;
    unsigned long long const now = Now();
    bool removed = false;
    for (int i = entries.NumItems() - 1; i >= 0; --i) {
        HASH const& e = *entries[i];
        bool const empty = !e.CheckKey("Password") || e["Password"].Length() == 0;
        unsigned long long const last = e.CheckKey("LastAccess") ? strtoull(e["LastAccess"].Buf(), nullptr, 10) : 0;
        bool expired = days > 0 && now > last && now - last > limit;
        if ((empty && SecretType(TypeOf(e))) || (!empty && expired) || (empty && expired)) {
            entries.DeleteItem(i);
            removed = true;
        }
    }
    return removed;
}

void PASSWORDCACHE::Touch(HASH& entry)
{
    unsigned long long const now = Now();
    entry["LastAccess"] = STRING(now);
    entry["LastAccessStr"] = OSYS::DateTimeFromLtimeLocalized(now);
    entry["Dirty"] = "1";
}

int PASSWORDCACHE::FindRefIdx(char const* ref, HASHLIST& entries)
{
    for (int i = 0; i < entries.NumItems(); ++i) {
        if (SameRef((*entries[i])["Ref"].Buf(), ref))
            return i;
    }
    HASH entry;
    entry["Ref"] = ref ? ref : "";
    entry["Username"] = "";
    entry["Password"] = "";
    entry["LastAccess"] = STRING(Now());
    entries.AppendItem(entry);
    return entries.NumItems() - 1;
}

int PASSWORDCACHE::SaveLogin(int type, char const* ref, char const* user, char const* password)
{
    LOGIT("PASSWORDCACHE::SaveLogin %d %s %s\n", type, ref ? ref : "", user ? user : "");
    if (!ref || StoresDisabled() || !LockTable()) {
        LOGIT("PASSWORDCACHE::SaveLogin %s %s done, ok= 0\n", ref ? ref : "", user ? user : "");
        return 0;
    }
    HASHLIST entries;
    bool ok = ReadPasswords(entries);
    if (ok) {
        HASH& e = *entries[FindRefIdx(ref, entries)];
        e["Username"] = user ? user : "";
        e["Password"] = password ? password : "";
        e["Type"] = STRING(type);
        Touch(e);
        PurgeEntries(-1, entries);
        ok = WritePasswords(entries);
    }
    UnlockTable();
    LOGIT("PASSWORDCACHE::SaveLogin %s %s done, ok= %d\n", ref, user ? user : "", ok ? 1 : 0);
    return ok ? 1 : 0;
}

int PASSWORDCACHE::GetLogin(int type, char const* ref, STRING* user, STRING* password)
{
    LOGIT("PASSWORDCACHE::GetLogin %d %s\n", type, ref ? ref : "");
    if (!ref || StoresDisabled() || !LockTable()) {
        LOGIT("PASSWORDCACHE::GetLogin %d %s %s done, ok= 0\n", type, ref ? ref : "", "");
        return 0;
    }
    HASHLIST entries;
    bool complete = false;
    bool found = false;
    if (ReadPasswords(entries, &complete)) {
        bool const purged = PurgeEntries(-1, entries);
        for (int i = 0; i < entries.NumItems() && !found; ++i) {
            HASH const& e = *entries[i];
            if (!SameRef(e["Ref"].Buf(), ref))
                continue;
            found = true;
            if (user)
                *user = e["Username"];
            if (password && strcmp(e["Password"].Buf(), "<NULL>") != 0)
                *password = e["Password"];
        }
        // A store not read whole is not written back.
        if (purged && complete)
            WritePasswords(entries);
    }
    UnlockTable();
    LOGIT("PASSWORDCACHE::GetLogin %d %s %s done, ok= %d\n", type, ref, user ? user->Buf() : "", found ? 1 : 0);
    return found ? 1 : 0;
}

int PASSWORDCACHE::PasswordsDialog(WINDOW const& owner)
{
    LOGIT("PASSWORDCACHE::PasswordsDialog\n");
    // A copy to show: the locks are not held while the user looks at it.
    HASHLIST shown;
    bool complete = false;
    if (!LockTable())
        return 0;
    bool const read = ReadPasswords(shown, &complete);
    if (read && PurgeEntries(-1, shown) && complete)
        WritePasswords(shown);
    UnlockTable();
    if (!read)
        return 0;
    HASHLIST kept = shown;
    bool okay;
    if (DialogHook) {
        okay = DialogHook(kept);
    } else {
        PASSWORDSDIALOG dialog(owner, kept, StoreName().c_str());
        okay = static_cast<uint32_t>(dialog.Process()) == plat::FourCC("OKAY");
    }
    if (!okay)
        return 0;
    // Only the logins the user deleted leave the store; whatever another
    // window or instance stored meanwhile stays.
    if (!LockTable())
        return 0;
    for (int i = 0; i < shown.NumItems(); ++i) {
        char const* ref = (*shown[i])["Ref"].Buf();
        bool still = false;
        for (int k = 0; k < kept.NumItems() && !still; ++k)
            still = SameRef((*kept[k])["Ref"].Buf(), ref);
        if (!still)
            plat::KeychainDelete(CREATOR, std::string(kServicePrefix) + ref);
    }
    UnlockTable();
    return 0;
}

bool PASSWORDCACHE::LogonToStore()
{
    LOGIT("PASSWORDCACHE::LogonToStore\n");
    bool ok = false;
    if (LockTable()) {
        HASHLIST entries;
        ok = ReadPasswords(entries);
        UnlockTable();
    }
    if (!ok)
        Owner.ErrorMsg("Could not log on ... please go to Options, Program Settings, Password-Store");
    LOGIT("PASSWORDCACHE::LogonToStore ok= %d\n", ok ? 1 : 0);
    return ok;
}

int PASSWORDCACHE::ResetStore(char const*)
{
    if (!LockTable())
        return 0;
    HASHLIST none;
    WritePasswords(none);
    UnlockTable();
    return 0;
}

STRING PASSWORDCACHE::SourceString()
{
    STRING user = OSYS::GetCurrentUserName();
    STRING computer = OSYS::ComputerName();
    STRING source = user;
    source.Append("\x01");
    source.Append(computer.Buf());
    STRING key = computer;
    key.Append("\x02");
    key.Append(user.Buf());
    return source.AsShuffle(key.Buf());
}
