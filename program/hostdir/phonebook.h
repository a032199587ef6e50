// PHONEBOOK: the host directory of one main window. It owns the entry table,
// knows the host-directory file and keeps it in step with the other running
// instances, sorts the entries, builds the menu items through which entries
// are called, answers scripts that read or change single fields, keeps the
// call statistics in the registry store, and opens and closes the
// host-directory window around a snapshot of the table.
//
// Files: phonebook.cpp (key table, start-up, sort, menus, single keys,
// statistics, change tracking, the window's opening and end),
// phonebookfile.cpp (the file: Load, Save, LoadV300, ReadNextEntry,
// UpgradeEntry), phonesections.cpp (folders and sections), phonemisc.cpp
// (auto-login, learned logins, entries from connection data, search),
// phoneimport.cpp (import of foreign host lists).
//
// Threads: the main thread, except SetOpt, GetOpt and Save(), which script
// threads call too; all of them touch entries only under the table lock.
#pragma once

#include "program/hostdir/phonetable.h"
#include "program/settings/adminopts.h"
#include "program/settings/programsettings.h"

#include "velmot/core/osysfile.h"
#include "velmot/core/osyssync.h"
#include "velmot/core/registry.h"
#include "velmot/core/strings.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

class MENU;
class SESSION;
class WINDOW;
class SESSIONHOLD;
class REMEMBERBUFFER;

// Menu ids of the host directory: the quick-access items of the Connect
// menu (the separator 10000, items from 10001) and the all-entries menu
// (from its first id on, at most one per entry); both stay inside the range
// that dials by menu id.
constexpr int PHONE_MENUID_QUICK = 10000;
constexpr int PHONE_MENUID_ALLENTRIES = 11000;
constexpr int PHONE_MENUID_LAST = PHONE_MENUID_ALLENTRIES + 4096;
// The quick-access icon table.
constexpr int PHONE_MAXQUICKICONS = 128;

// Notices of the host directory between instances (first parameter).
constexpr uint32_t PHONE_IPC_CATEGORY = 0x10000;
constexpr int PHONE_IPC_RELOADED = 5;
constexpr int PHONE_IPC_CHANGED = 6;
constexpr int PHONE_IPC_DELETED = 7;
constexpr int PHONE_IPC_EDITSTART = 8;
constexpr int PHONE_IPC_EDITEND = 9;
constexpr int PHONE_IPC_VIEWOPTIONS = 10;

// Codes that end the host-directory window.
constexpr uint32_t PHONE_END_OKAY = 0x4F4B4159; // 'OKAY'
constexpr uint32_t PHONE_END_BACK = 0x4241434B; // 'BACK'
constexpr uint32_t PHONE_END_DIAL = 0x49443130; // 'ID10'

// What the host directory asks of its main window. The main window
// implements it; the defaults show nothing and tell nobody, so a tool or a
// test runs a host directory without windows.
class PHONEBOOKHOST {
public:
    virtual ~PHONEBOOKHOST() = default;
    // The administrator record ("HostDirectoryMax", "DisableHostDirectory",
    // "DisableStoredPasswords").
    virtual ADMINOPTS& Admin() = 0;
    // The program settings ("OptsPath", "BookSections").
    virtual PROGRAMSETTINGSDATA& PhonebookSettings() = 0;
    // The main window's current session, held; empty when there is none.
    virtual SESSIONHOLD PhonebookSession() = 0;
    // Boxes.
    virtual void ErrorMsg(char const* text) {}
    virtual int WarningMsg(char const* text) { return 1; }
    virtual void InfoMsg(char const* text) {}
    // The error box for a failed file operation (the name, errno's text).
    virtual void FileError(char const* name) {}
    // A notice to the other running instances.
    virtual void SendIpcMessage(uint32_t msg, uint32_t mp1, uint32_t mp2) {}
    // A user message to the main window (1059 rebuilds its menus).
    virtual void PostMessage(int message, uintptr_t p1, uintptr_t p2) {}
    virtual void EnableMenuEntry(int id, int enable, bool alsoInactive) {}
    // A file picker; empty when nothing was chosen.
    virtual STRING AskFilename(char const* title, char const* start, WINDOW const* owner);
};

// A host of its own for a host directory without a main window (tools,
// tests, benchmarks): the administrator's defaults, program settings with
// the default section names, no session.
class STANDALONEPHONEBOOKHOST : public PHONEBOOKHOST {
public:
    STANDALONEPHONEBOOKHOST();
    ADMINOPTS& Admin() override { return AdminRecord; }
    PROGRAMSETTINGSDATA& PhonebookSettings() override { return Settings; }
    SESSIONHOLD PhonebookSession() override;

    ADMINOPTS AdminRecord{};
    PROGRAMSETTINGSDATA Settings{};
};

// What the host-directory window offers the host directory. The window is
// its own work: until it is built, this neutral handler runs nothing.
class PHONEBOOKDIALOGHANDLER {
public:
    virtual ~PHONEBOOKDIALOGHANDLER() = default;
    virtual bool IsRunning() const { return false; }
    // Runs the window over the live table for the session; it ends through
    // PHONEBOOK::OnDialogEnd. False when no window was opened.
    virtual bool Run(SESSION* session, bool readOnly) { return false; }
    // Closes a running window.
    virtual void Kill() {}
    // A change notice of another instance (events 5 to 10).
    virtual int HandleIpcEvent(int event, unsigned long param) { return 0; }
    // The image id of an entry icon in the window's image table (0: none).
    virtual int ImageId(int icon) { return 0; }
};

// The file's identity and time as last seen: a save by another instance
// within the same second differs in its inode or nanoseconds.
struct PHONEFILESTAMP {
    bool Valid = false;
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = 0;
    int64_t Seconds = 0;
    long Nanoseconds = 0;
    bool operator==(PHONEFILESTAMP const& o) const
    {
        return Valid == o.Valid && Device == o.Device && Inode == o.Inode && Size == o.Size &&
               Seconds == o.Seconds && Nanoseconds == o.Nanoseconds;
    }
    static PHONEFILESTAMP Of(struct stat const& st);
    static PHONEFILESTAMP OfPath(char const* path);
};

class PHONEBOOK {
public:
    explicit PHONEBOOK(PHONEBOOKHOST& host);
    virtual ~PHONEBOOK();
    PHONEBOOK(PHONEBOOK const&) = delete;
    PHONEBOOK& operator=(PHONEBOOK const&) = delete;
    // Closes a running window and frees the table.
    void Cleanup();

    // Start-up: the file name (from "HostDirectoryFile" or "PF") formed in
    // the options folder, the old files taken over, the table made with the
    // capacity, the file loaded, the menus rebuilt.
    void InitPhonebook(char const* file, int capacity);

    // ---- Entries (phonebook.cpp) ----
    static void PrepareEntry(_PHONEBOOK_300* entry);
    PHONEBOOKTABLE& Table() { return PTable; }
    char const* Filename() const { return File.Buf(); }

    // ---- The file (phonebookfile.cpp) ----
    // Returns 0 when written, 1 when not (the error was shown when asked).
    int Save(char const* path, signed char showErrors, FILE* stream, signed char truncate, signed char close);
    int Save();
    bool Load(char const* path, signed char update, FILE** stream);
    int LoadV300(FILE* f, int append, _PHONEBOOK_300** slots, int count, char const* version);
    bool ReadNextEntry(FILE* f, _PHONEBOOK_300* out, char const* version);
    void UpgradeEntry(_PHONEBOOK_300* entry);
    // The file in the form Save writes it (tests and the benchmark).
    bool FormatFile(char const* path, std::string& out);

    // ---- Window ----
    bool LoadOpen();
    void Dialog();
    void OnDialogEnd(SESSION* session, uint32_t code, signed char readOnly);
    void SetDialogHandler(std::unique_ptr<PHONEBOOKDIALOGHANDLER> handler);
    PHONEBOOKDIALOGHANDLER& DialogHandler() { return *Handler; }
    bool HoldsFile() const { return HeldFile != nullptr; }

    // ---- Sort and menus ----
    void Sort();
    int MakeMenu(MENU const& menu, signed char force, signed char allEntries, int unused);
    int MakeMenuWithAllEntries(MENU& menu, int firstId);
    int MakeMenuWithAllEntriesPerSection(MENU& menu, int section, int& nextId, int parentFolder,
                                         _PHONEBOOK_300** slots, int count);
    int QueryMenuItemIcon(int menuId);
    bool QueryPositionByName(char const* name, char* out);
    bool MenuRefreshPending() const { return MenuRefresh; }

    // ---- Scripts ----
    int SetOpt(char const* name, char const* line);
    int GetOpt(char const* name, char const* key, char* out, int max);

    // ---- Statistics ----
    void RecordCall(wchar_t const* name, int counted, SESSION& session);
    bool ReadStats(int handle, PHONESTATS* stats);
    bool WriteStats(int handle, PHONESTATS* stats);

    // ---- Other instances ----
    void TrackChanges();
    int IpcEvent(unsigned long event, unsigned long param);

    // ---- Folders and sections (phonesections.cpp) ----
    bool HasSectionAnyFolders(int section);
    int GetParentFolder(int handle);
    bool IsFolderHandle(int handle);
    bool IsFolderHandle(int count, int const* handles, signed char* sectionNode);
    static int FindFolderIndex(PHONESTRUCTURE const* block, int handle);
    bool ReorgFolders(PHONESTRUCTURE* block);
    void GetSectionString(char* out, int max);
    void GetSections(PHONEEDITSECTIONS* list);
    bool ReorgSections(PHONEEDITSECTIONS* list);

    // ---- Auto-login and connection data (phonemisc.cpp) ----
    static int WaitSendToAutoLogin(_PHONEBOOK_300 const& entry, SESSION& session, char* out, char** items,
                                   int maxItems);
    // The same without a session: the compiled list into out (2,048
    // bytes), split into at most maxItems items; their count.
    static int CompileWaitSend(_PHONEBOOK_300 const& entry, char* out, char** items, int maxItems);
    void StoreLearnedLogin(char** items, int handle);
    bool PhonebookEntryFromData(SESSION& session, _PHONEBOOK_300* out, char const* destination, int deviceId,
                                char const* deviceOpts, int emuId, char const* emuOpts, int protocol,
                                char const* profile, int dialType, char const* extra);

    // The clock of the statistics (seconds); tests replace it.
    virtual uint32_t Now();

    PHONEBOOKHOST& Host() { return Owner; }

    // Serialises the sort of every host directory of the process.
    static MUTEXSEM QsortLock;
    static PHONEBOOK* QsortThis;

private:
    friend class PHONEBOOKTESTACCESS;
    struct FILEREADER;

    // The table locked, or none with IDS_PHONE_NOPTABLE shown.
    _PHONEBOOK_300** LockTableOrSay(int* capacity);
    // The slot of the first entry of that name ("~" marks and letter case
    // ignored); -1 when none.
    static int NamedSlot(_PHONEBOOK_300** slots, int capacity, char const* name);
    // Keeps a file that did not load beside it before it is replaced.
    bool KeepUnreadable(std::string const& target);
    void PostMenuRebuild();
    REGISTRY& Stats();

    PHONEBOOKHOST& Owner;
    PHONEBOOKTABLE PTable;
    std::unique_ptr<REGISTRY> StatsStore;
    std::unique_ptr<PHONEBOOKDIALOGHANDLER> Handler;
    bool MenuRefresh = true;
    FILENAME File;
    // The file as this instance last read or wrote it (under the table
    // lock), and as it last saw it in its change checks (main thread).
    PHONEFILESTAMP Recorded;
    PHONEFILESTAMP LastSeen;
    // The file the window holds locked from Dialog to OnDialogEnd (set on
    // the main thread, asked by a script thread's save too).
    std::atomic<FILE*> HeldFile{nullptr};
    // The file named by File did not load (unreadable, not ours, too many
    // entries): it is kept aside before the next save replaces it.
    std::atomic<bool> LoadFailed{false};
    struct QUICKICON {
        int MenuId;
        int Icon;
    };
    std::vector<QUICKICON> QuickIcons;
};
