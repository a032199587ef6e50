// PHONEBOOK: the key table, start-up, the sort, menus, single keys for
// scripts, call statistics, change tracking and the window's opening and
// end.
#include "program/hostdir/phonebook.h"

#include "program/hostdir/phonetext.h"
#include "program/session/session.h"
#include "program/settings/optsrows.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/workdir.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/winmenu.h"

#include "platform/services/fileio.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <numeric>
#include <sys/file.h>
#include <unistd.h>

#define OPTS_BLOCK _PHONEBOOK_300

OPTLIST const sPhoneEntryOptlist[] = {
    ROW_INT(section, 0, 0, NOCTRL),
    ROW_INT(folder, 0, 0, NOCTRL),
    ROW_INT(handle, 0, 2147483647, NOCTRL),
    ROW_WIDE(name, NOCTRL),
    ROW_TEXT(number, NOCTRL),
    ROW_INT(deviceid, 0, 0, NOCTRL),
    ROW_INT(emu, 0, 0, NOCTRL),
    ROW_TEXT(deviceopts, NOCTRL),
    ROW_TEXT(emulationopts, NOCTRL),
    ROW_FLAG(first, NOCTRL),
    ROW_FLAG(dosimpledial, NOCTRL),
    ROW_INT(dialtype, 0, 0, NOCTRL),
    ROW_FLAG(qaccess, NOCTRL),
    ROW_INT(icon, 0, 0, NOCTRL),
    ROW_TEXT(username, NOCTRL),
    ROW_SECRET(password, NOCTRL),
    ROW_TEXT(authfile, NOCTRL),
    ROW_FLAG(authglobal, NOCTRL),
    ROW_TEXT(script, NOCTRL),
    ROW_TEXT(scriptparm, NOCTRL),
    ROW_TEXT(waitsend, NOCTRL),
    ROW_FLAG(learn, NOCTRL),
    ROW_TEXT(optfile, NOCTRL),
    ROW_TEXT(logname, NOCTRL),
    ROW_TEXT(dlpath, NOCTRL),
    ROW_TEXT(ulpath, NOCTRL),
    ROW_TEXT(keyboard, NOCTRL),
    ROW_TEXT(translate, NOCTRL),
    ROW_INT(charset, 0, 0, NOCTRL),
    ROW_INT(protocol, 0, 0, NOCTRL),
    ROW_FLAG(donewwinpos, NOCTRL),
    ROW_TEXT(newwinpos, NOCTRL),
    ROW_INT(ctrlfkey, 0, 12, NOCTRL),
    ROW_INT(newwindow, 0, 2, NOCTRL),
    ROW_FLAG(donewwinkeys, NOCTRL),
    ROW_WIDE(memo, NOCTRL),
    ROW_INT(calldue, 0, 0, NOCTRL),
    // A flag row whose whole 32-bit value is written: the codec writes
    // any value other than 0 and 1 as its number, so no bit is lost.
    ROW_FLAG(iemsibits, NOCTRL),
    ROW_FLAG(iemsiwanted, NOCTRL),
    {"book\0section", 0, OPTTYPE_ALIAS, 0, 0, 0, NEVERWRITTEN},
    ROW_RETIRED("calls"),
    ROW_RETIRED("lastcall"),
    ROW_RETIRED("multimaster"),
    ROW_RETIRED("totaltime"),
    ROW_RETIRED("zone"),
    ROW_RETIRED("monthmoney"),
    ROW_RETIRED("totalmoney"),
    ROW_RETIRED("uniqueid"),
    ROW_END("OF_LIST"),
};

MUTEXSEM PHONEBOOK::QsortLock{0, nullptr};
PHONEBOOK* PHONEBOOK::QsortThis = nullptr;

namespace {

// The menu that holds the quick-access items: the one with the connect
// command; they follow the last of the connection commands.
constexpr int kConnectCommand = 8381;
constexpr int kQuickAfter[] = {8382, 8200, 8383, 8381};
constexpr int kDialNextCommand = 8200;

} // namespace

// ---------------------------------------------------------------------------
// File stamps

PHONEFILESTAMP PHONEFILESTAMP::Of(struct stat const& st)
{
    PHONEFILESTAMP s;
    s.Valid = true;
    s.Device = st.st_dev;
    s.Inode = st.st_ino;
    s.Size = st.st_size;
    s.Seconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    s.Nanoseconds = st.st_mtim.tv_nsec;
    return s;
}

PHONEFILESTAMP PHONEFILESTAMP::OfPath(char const* path)
{
    struct stat st;
    if (!path || stat(path, &st) != 0)
        return PHONEFILESTAMP();
    return Of(st);
}

// ---------------------------------------------------------------------------
// Life

STRING PHONEBOOKHOST::AskFilename(char const*, char const*, WINDOW const*)
{
    return STRING();
}

STANDALONEPHONEBOOKHOST::STANDALONEPHONEBOOKHOST()
{
    PROGRAMSETTINGS::AdminDefaults(AdminRecord);
    char const* const names[] = {"Hosts", "Work", "Private", "Bulletin boards", "Internet", "Other"};
    for (int i = 0; i < 6; ++i)
        OPTSBASE::CopyText(Settings.BookSections[i], sizeof Settings.BookSections[i], names[i]);
}

SESSIONHOLD STANDALONEPHONEBOOKHOST::PhonebookSession()
{
    return SESSIONHOLD();
}

PHONEBOOK::PHONEBOOK(PHONEBOOKHOST& host) : Owner(host), Handler(std::make_unique<PHONEBOOKDIALOGHANDLER>())
{
    LOGIT("PHONEBOOK::PHONEBOOK\n");
}

PHONEBOOK::~PHONEBOOK()
{
    Cleanup();
    LOGIT("PHONEBOOK::~PHONEBOOK done\n");
}

void PHONEBOOK::Cleanup()
{
    if (Handler && Handler->IsRunning())
        Handler->Kill();
    if (FILE* held = HeldFile.exchange(nullptr))
        fclose(held);
    PTable.CancelCopy(2);
    PTable.CleanupTable();
}

void PHONEBOOK::SetDialogHandler(std::unique_ptr<PHONEBOOKDIALOGHANDLER> handler)
{
    Handler = handler ? std::move(handler) : std::make_unique<PHONEBOOKDIALOGHANDLER>();
}

uint32_t PHONEBOOK::Now()
{
    return static_cast<uint32_t>(time(nullptr));
}

void PHONEBOOK::PostMenuRebuild()
{
    MenuRefresh = true;
    Owner.PostMessage(1059, 0, 0);
}

void PHONEBOOK::PrepareEntry(_PHONEBOOK_300* entry)
{
    if (!entry)
        return;
    memset(entry, 0, sizeof *entry);
    entry->newwindow = 3;
    entry->dosimpledial = 1;
    entry->protocol = -1;
    entry->charset = -1;
    entry->iemsibits = 63;
}

void PHONEBOOK::InitPhonebook(char const* file, int capacity)
{
    LOGIT("PHONEBOOK::InitPhonebook %s, %d\n", file ? file : "<null>", capacity);
    ASSERTMSG(file && *file, "file && *file");
    if (!file || !*file)
        return;
    STRING const work = WORKDIR::GetCurrent();
    char const* opts = Owner.PhonebookSettings().OptsPath;
    File = FILENAME(work.Buf(), opts, file);
    FILENAME old(work.Buf(), opts, "QORHOSTS.INI");
    FILENAME defaults(work.Buf(), opts, "DEFHOSTS.INI");
    if (!File.Exists() && old.Exists()) {
        // The directory of an older release becomes this one; the old file
        // stays beside it as ".old".
        if (old.CopyTo(File.Buf(), false)) {
            chmod(File.Buf(), 0600);
            STRING moved(old.Buf());
            moved.Append(".old");
            rename(old.Buf(), moved.Buf());
        }
    }
    if (!File.Exists() && defaults.Exists()) {
        if (defaults.CopyTo(File.Buf(), false))
            chmod(File.Buf(), 0600);
    } else if (File.Exists() && defaults.Exists()) {
        defaults.DeleteFile();
    }
    PTable.InitTable(work.Buf(), File.Buf(), capacity);
    Owner.EnableMenuEntry(kDialNextCommand, 0, false);
    Load(File.Buf(), 0, nullptr);
    PostMenuRebuild();
    LOGIT("PHONEBOOK::InitPhonebook done\n");
}

// ---------------------------------------------------------------------------
// Sort

void PHONEBOOK::Sort()
{
    int capacity = 0;
    _PHONEBOOK_300** slots = PTable.LockTable(&capacity);
    if (!slots)
        return;
    int const count = capacity - 1;
    bool disabled = false;
    {
        MUTEXLOCK sortLock(QsortLock);
        QsortThis = this;
        // The order is total (empty slots, then entries without a name, then
        // the named ones: "first" entries ahead, by name without "~" and
        // letter case, then by the exact name and the handle), so the sort is
        // well defined and the file comes out the same for the same table.
        std::vector<phonetext::SORTKEY> keys(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i)
            keys[static_cast<size_t>(i)] = phonetext::SortKeyOf(slots[i]);
        std::vector<int> order(static_cast<size_t>(count));
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [&keys](int a, int b) {
            return phonetext::SortLess(keys[static_cast<size_t>(a)], keys[static_cast<size_t>(b)]);
        });
        std::vector<_PHONEBOOK_300*> sorted(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i)
            sorted[static_cast<size_t>(i)] = slots[order[static_cast<size_t>(i)]];
        std::copy(sorted.begin(), sorted.end(), slots);
        // Two quick-access entries of the same name would call each other's
        // menu item: both lose the quick access.
        for (int i = 0; i + 1 < count; ++i) {
            _PHONEBOOK_300* a = slots[i];
            for (int k = i + 1; a && k < count; ++k) {
                _PHONEBOOK_300* b = slots[k];
                if (!b || !phonetext::SortEqual(keys[static_cast<size_t>(order[static_cast<size_t>(i)])],
                                                keys[static_cast<size_t>(order[static_cast<size_t>(k)])]))
                    break;
                if (a->qaccess && b->qaccess && wcsncmp(a->name, b->name, 65) == 0 && memcmp(a, b, sizeof *a) != 0) {
                    a->qaccess = 0;
                    b->qaccess = 0;
                    disabled = true;
                }
            }
        }
        QsortThis = nullptr;
    }
    PTable.UnlockTable(slots);
    if (disabled)
        Owner.InfoMsg(phonetext::Text("IDS_PHONE_QACCESS_DISABLED").Buf());
}

// ---------------------------------------------------------------------------
// Menus

int PHONEBOOK::MakeMenu(MENU const& menu, signed char force, signed char allEntries, int)
{
    if (!force && !MenuRefresh)
        return 0;
    if (allEntries) {
        MENU target(menu.GetMenuRef());
        while (target.GetNumMenuItems() > 0)
            target.DeleteMenuItem(0, true);
        MakeMenuWithAllEntries(target, PHONE_MENUID_ALLENTRIES);
        return 1;
    }
    plat::MenuRef holder = nullptr;
    if (!menu.GetMenuRef() || menu.GetMenuAndIndexFromID(kConnectCommand, &holder) < 0 || !holder)
        return 0;
    MENU work(holder);
    // The block of the last build goes: its separator and its items.
    for (int pos = work.GetNumMenuItems() - 1; pos >= 0; --pos) {
        int const id = work.GetMenuIdFromPos(pos);
        if (id >= PHONE_MENUID_QUICK && id < PHONE_MENUID_ALLENTRIES)
            work.DeleteMenuItem(static_cast<uint32_t>(pos), true);
    }
    int at = -1;
    for (int anchor : kQuickAfter) {
        at = work.GetMenuPosFromID(anchor);
        if (at >= 0)
            break;
    }
    at = at < 0 ? work.GetNumMenuItems() : at + 1;

    QuickIcons.clear();
    if (!PTable.GetTablePtr())
        return 0;
    int capacity = 0;
    _PHONEBOOK_300** slots = LockTableOrSay(&capacity);
    if (!slots)
        return 0;
    for (int i = 0; i < capacity; ++i)
        if (slots[i])
            slots[i]->menuid = 0;
    WSTRING const call = phonetext::WideText("IDS_PHONE_CALL");
    int n = 0;
    for (int i = 0; i < capacity - 1 && n < PHONE_MENUID_ALLENTRIES - PHONE_MENUID_QUICK - 1; ++i) {
        _PHONEBOOK_300* e = slots[i];
        if (!e || !e->qaccess)
            continue;
        if (n == 0)
            work.InsertItem(nullptr, PHONE_MENUID_QUICK, at++);
        std::wstring text = call.Buf();
        for (size_t k = 0; k < 65 && e->name[k]; ++k)
            if (e->name[k] != L'~' && e->name[k] != L'&')
                text.push_back(e->name[k]);
        ++n;
        e->menuid = PHONE_MENUID_QUICK + n;
        work.InsertItemWide(text.c_str(), e->menuid, at++);
        if (e->icon && QuickIcons.size() < PHONE_MAXQUICKICONS)
            QuickIcons.push_back({e->menuid, e->icon});
    }
    PTable.UnlockTable(slots);
    if (!force)
        MenuRefresh = false;
    return 1;
}

int PHONEBOOK::MakeMenuWithAllEntries(MENU& menu, int firstId)
{
    int capacity = 0;
    _PHONEBOOK_300** slots = PTable.LockTable(&capacity);
    if (!slots)
        return 0;
    PTable.ClearAllEntriesIds();
    PHONESTRUCTURE const* s = PTable.GetStructurePtr(slots);
    int nextId = firstId;
    int const sections = std::clamp(s->numsections, 0, PHONE_MAXSECTIONS);
    for (int section = 0; section < sections; ++section) {
        MENU sub;
        sub.CreateEmpty();
        std::string name(s->sections[section], strnlen(s->sections[section], 32));
        WSTRING wide(name.c_str(), 1252);
        menu.InsertSubMenuWide(wide.Buf(), sub, menu.GetNumMenuItems());
        MakeMenuWithAllEntriesPerSection(sub, section, nextId, 0, slots, capacity - 1);
    }
    PTable.UnlockTable(slots);
    return 1;
}

int PHONEBOOK::MakeMenuWithAllEntriesPerSection(MENU& menu, int section, int& nextId, int parentFolder,
                                                _PHONEBOOK_300** slots, int count)
{
    PHONESTRUCTURE const* s = PTable.GetStructurePtr(slots);
    if (!s)
        return 0;
    // Folders first; the depth bounds the recursion (a folder is entered
    // only from its parent, and the folder reorganisation breaks cycles).
    int const folders = std::clamp(s->numfolders, 0, PHONE_MAXFOLDERS);
    for (int i = 0; i < folders; ++i) {
        PHONEFOLDER const& f = s->folders[i];
        if (f.section != section || f.parent != parentFolder || f.handle == parentFolder || f.handle == 0)
            continue;
        MENU sub;
        sub.CreateEmpty();
        std::string name(f.name, strnlen(f.name, 32));
        WSTRING wide(name.c_str(), 1252);
        menu.InsertSubMenuWide(wide.Buf(), sub, menu.GetNumMenuItems());
        MakeMenuWithAllEntriesPerSection(sub, section, nextId, f.handle, slots, count);
    }
    for (int i = 0; i < count; ++i) {
        _PHONEBOOK_300* e = slots[i];
        if (!e || e->section != section || e->folder != parentFolder)
            continue;
        std::wstring text;
        for (size_t k = 0; k < 65 && e->name[k]; ++k)
            if (e->name[k] != L'&')
                text.push_back(e->name[k]);
        int id = e->handle;
        if (nextId != 0) {
            // No id past the range that dials (a table larger than an
            // administrator allows could reach it).
            if (nextId > PHONE_MENUID_LAST)
                break;
            id = nextId++;
            PTable.AddAllEntriesId(id, e->handle);
        }
        menu.InsertItemWide(text.c_str(), id, menu.GetNumMenuItems());
    }
    return 1;
}

int PHONEBOOK::QueryMenuItemIcon(int menuId)
{
    for (QUICKICON const& q : QuickIcons)
        if (q.MenuId == menuId)
            return Handler->ImageId(q.Icon + 9);
    return 0;
}

bool PHONEBOOK::QueryPositionByName(char const* name, char* out)
{
    if (!name || !out)
        return false;
    int const handle = PTable.FindHandleFromName(name);
    _PHONEBOOK_300* e = handle > 0 ? PTable.LockItem(handle) : nullptr;
    if (!e)
        return false;
    bool const found = e->donewwinpos && e->newwinpos[0];
    if (found)
        OPTSBASE::CopyText(out, sizeof e->newwinpos, e->newwinpos);
    PTable.UnlockItem(e);
    return found;
}

// ---------------------------------------------------------------------------
// Single keys

int PHONEBOOK::NamedSlot(_PHONEBOOK_300** slots, int capacity, char const* name)
{
    WSTRING const wanted(name ? name : "", 1252);
    for (int i = 0; i < capacity; ++i)
        if (slots[i] && PHONEBOOKTABLE::NameMatches(slots[i]->name, wanted.Buf()))
            return i;
    return -1;
}

_PHONEBOOK_300** PHONEBOOK::LockTableOrSay(int* capacity)
{
    _PHONEBOOK_300** slots = PTable.LockTable(capacity);
    if (!slots)
        Owner.ErrorMsg(phonetext::Text("IDS_PHONE_NOPTABLE").Buf());
    return slots;
}

int PHONEBOOK::SetOpt(char const* name, char const* line)
{
    int capacity = 0;
    _PHONEBOOK_300** slots = LockTableOrSay(&capacity);
    if (!slots)
        return 1;
    int rc = 1;
    if (int const i = NamedSlot(slots, capacity, name); i >= 0) {
        _PHONEBOOK_300* e = slots[i];
        _PHONEBOOK_300 scratch = *e;
        OPTSBASE opts(&scratch, sPhoneEntryOptlist, -1);
        rc = opts.SetOpt(line, 0);
        // A handle stays unique and positive: the dial queue and every
        // look-up by handle rely on it.
        if (scratch.handle != e->handle) {
            bool taken = scratch.handle <= 0 || scratch.handle == PHONE_SECTIONHANDLE ||
                         PTable.FindIndexFromHandle(slots, capacity, scratch.handle) >= 0;
            PHONESTRUCTURE const* s = PTable.GetStructurePtr(slots);
            taken = taken || FindFolderIndex(s, scratch.handle) >= 0;
            if (taken) {
                LOGIT("PHONEBOOK::SetOpt refuses the handle %d\n", scratch.handle);
                rc = 1;
            }
        }
        if (rc == 0 || scratch.handle == e->handle)
            *e = scratch;
        explicit_bzero(&scratch, sizeof scratch);
    }
    PTable.UnlockTable(slots);
    return rc;
}

int PHONEBOOK::GetOpt(char const* name, char const* key, char* out, int max)
{
    if (!out || max < 1)
        return 1;
    snprintf(out, static_cast<size_t>(max), "%s=<NOT FOUND>", name ? name : "");
    int capacity = 0;
    _PHONEBOOK_300** slots = LockTableOrSay(&capacity);
    if (!slots)
        return 1;
    int rc = 1;
    if (int const i = NamedSlot(slots, capacity, name); i >= 0) {
        snprintf(out, static_cast<size_t>(max), "%s=<NOT FOUND>", key ? key : "");
        _PHONEBOOK_300 scratch = *slots[i];
        OPTSBASE opts(&scratch, sPhoneEntryOptlist, -1);
        rc = opts.GetOpt(key, out, max);
        explicit_bzero(&scratch, sizeof scratch);
    }
    PTable.UnlockTable(slots);
    return rc;
}

// ---------------------------------------------------------------------------
// Statistics

REGISTRY& PHONEBOOK::Stats()
{
    if (!StatsStore) {
        STRING app = OSYS::GetStringFromResource("IDS_TARVOAPPREGKEY");
        app.Append("\\HostDirectory\\Stats");
        StatsStore = std::make_unique<REGISTRY>(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", app.Buf(),
                                                REGISTRY::READWRITE);
    }
    return *StatsStore;
}

bool PHONEBOOK::ReadStats(int handle, PHONESTATS* stats)
{
    if (!stats)
        return false;
    memset(stats, 0, sizeof *stats);
    char name[16];
    snprintf(name, sizeof name, "%d", handle);
    unsigned char bytes[12] = {};
    int size = sizeof bytes;
    if (!Stats().Read(name, bytes, &size) || size < 0)
        return false;
    // Little-endian: the last call (read as unsigned, so times after 2038
    // stay in order) and the number of calls.
    stats->lastcall = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                      static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    stats->calls = static_cast<int32_t>(static_cast<uint32_t>(bytes[4]) | static_cast<uint32_t>(bytes[5]) << 8 |
                                        static_cast<uint32_t>(bytes[6]) << 16 | static_cast<uint32_t>(bytes[7]) << 24);
    stats->reserved = 0;
    return true;
}

bool PHONEBOOK::WriteStats(int handle, PHONESTATS* stats)
{
    if (!stats)
        return false;
    char name[16];
    snprintf(name, sizeof name, "%d", handle);
    unsigned char bytes[8];
    uint32_t const calls = static_cast<uint32_t>(stats->calls);
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<unsigned char>(stats->lastcall >> (8 * i));
        bytes[4 + i] = static_cast<unsigned char>(calls >> (8 * i));
    }
    return Stats().Write(name, bytes, sizeof bytes);
}

void PHONEBOOK::RecordCall(wchar_t const* name, int counted, SESSION& session)
{
    int capacity = 0;
    _PHONEBOOK_300** slots = PTable.LockTable(&capacity);
    if (!slots)
        return;
    for (int i = 0; i < capacity; ++i) {
        _PHONEBOOK_300* e = slots[i];
        if (!e || !name || wcsicmp(e->name, name) != 0)
            continue;
        PHONESTATS stats;
        ReadStats(e->handle, &stats);
        if (counted) {
            stats.lastcall = Now();
            ++stats.calls;
            session.DialQueue.DeleteEntry(e->handle, 0);
        }
        WriteStats(e->handle, &stats);
    }
    PTable.UnlockTable(slots);
}

// ---------------------------------------------------------------------------
// Other instances

void PHONEBOOK::TrackChanges()
{
    if (File.IsEmpty() || HeldFile)
        return;
    PHONEFILESTAMP const now = PHONEFILESTAMP::OfPath(File.Buf());
    if (now == LastSeen)
        return;
    LastSeen = now;
    PHONESTRUCTURE* s = PTable.LockStructure();
    if (!s)
        return;
    bool const ours = strcmp(s->path, File.Buf()) == 0 && Recorded == now;
    PTable.UnLockStructure(s);
    if (ours || !now.Valid)
        return;
    LOGIT("PHONEBOOK::TrackChanges %s changed elsewhere\n", File.Buf());
    IpcEvent(PHONE_IPC_RELOADED, 0);
}

int PHONEBOOK::IpcEvent(unsigned long event, unsigned long param)
{
    LOGIT("PHONEBOOK::IpcEvent %lu %lu\n", event, param);
    if (event == PHONE_IPC_RELOADED) {
        ASSERTMSG(param == 0, "param==0");
        // The window's own file is not taken from under it; it tells the
        // window instead.
        if (!HeldFile && File.NotEmpty()) {
            Load(File.Buf(), 0, nullptr);
            LastSeen = PHONEFILESTAMP::OfPath(File.Buf());
        }
        PostMenuRebuild();
    }
    if (event >= PHONE_IPC_RELOADED && event <= PHONE_IPC_VIEWOPTIONS && Handler->IsRunning())
        return Handler->HandleIpcEvent(static_cast<int>(event), param);
    return 0;
}

// ---------------------------------------------------------------------------
// The window

bool PHONEBOOK::LoadOpen()
{
    if (HeldFile)
        return false;
    FILE* f = nullptr;
    bool const writable = access(File.Buf(), W_OK) == 0 ||
                          (access(File.Buf(), F_OK) != 0 && access(plat::fileio::FolderOf(File.Buf()).c_str(), W_OK) == 0);
    if (writable && Load(File.Buf(), 1, &f) && f) {
        HeldFile = f;
        return false;
    }
    if (f)
        fclose(f);
    return true;
}

void PHONEBOOK::Dialog()
{
    LOGIT("PHONEBOOK::Dialog\n");
    SESSIONHOLD session = Owner.PhonebookSession();
    if (session.Get() && !(session->CommLayer.Device() && session->CommLayer.QueryOnline() != 0))
        session->DialQueue.ClearCounters();
    if (Handler->IsRunning() || Owner.Admin().DisableHostDirectory)
        return;
    bool const readOnly = LoadOpen();
    PTable.CancelCopy(0);
    if (!Handler->Run(session.Get(), readOnly)) {
        // No window to end it: nothing changed.
        PTable.CancelCopy(2);
        if (FILE* held = HeldFile.exchange(nullptr))
            fclose(held);
    }
}

void PHONEBOOK::OnDialogEnd(SESSION* session, uint32_t code, signed char readOnly)
{
    LOGIT("PHONEBOOK::OnDialogEnd %08x, read-only %d\n", code, readOnly);
    ASSERTMSG(readOnly || HeldFile.load(), "readonly || this->fPhonebookFile");
    bool const canWrite = !readOnly && HeldFile.load();
    if (code == PHONE_END_OKAY && !canWrite)
        code = PHONE_END_BACK;
    bool saved = true;
    if ((code == PHONE_END_OKAY || code == PHONE_END_DIAL) && canWrite)
        saved = Save(File.Buf(), 1, HeldFile.load(), 1, 1) == 0;
    if (FILE* held = HeldFile.exchange(nullptr))
        fclose(held);
    if (code != PHONE_END_BACK) {
        PTable.CancelCopy(2);
        if (!readOnly && saved)
            Owner.SendIpcMessage(0, PHONE_IPC_CATEGORY | PHONE_IPC_RELOADED, 0);
    } else if (!readOnly) {
        PTable.CancelCopy(1);
        PTable.CancelCopy(2);
        ReorgFolders(nullptr);
        Owner.SendIpcMessage(0, PHONE_IPC_CATEGORY | PHONE_IPC_RELOADED, 0);
    } else {
        PTable.CancelCopy(2);
    }
    LastSeen = PHONEFILESTAMP::OfPath(File.Buf());
    // The session dials the queue the window filled (its dialling is the
    // automatic dial request, event 8865).
    if (code == PHONE_END_DIAL && session)
        session->SendEvent(8865, 0, nullptr);
    PostMenuRebuild();
}
