// PHONEBOOKTABLE: the host directory in memory. A fixed number of slots for
// host entries and one structure block with the flag word, the section names
// and the folders, guarded by one recursive lock that the main thread and
// script threads share.
//
// At most capacity - 1 entries exist: the last slot stays empty, and every
// walk that stores, writes or sorts entries covers the first capacity - 1
// slots.
//
// The snapshot that lets the host-directory window cancel its changes is
// kept in memory (records with passwords never go to a temporary file).
// Folder paths are kept in a side table beside the structure block, indexed
// like the folder records.
//
// Locking: LockTable, LockItem and LockStructure hand the held lock (a
// recursive one) to the caller; every other operation takes it for its own
// run. A lock that cannot be had within six tries of 200 ms answers "none"
// (logged as "ptable").
#pragma once

#include "program/hostdir/phonerecord.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class PHONEBOOKTABLE {
public:
    PHONEBOOKTABLE();
    ~PHONEBOOKTABLE();
    PHONEBOOKTABLE(PHONEBOOKTABLE const&) = delete;
    PHONEBOOKTABLE& operator=(PHONEBOOKTABLE const&) = delete;

    // Allocates capacity empty slots and a zeroed structure block; folder
    // and file only name the directory in the log. False (with the
    // assertion "Could not alloc host directory memory") when capacity is
    // below 2 or the memory cannot be had; the table then stays without
    // slots and every LockTable answers none.
    bool InitTable(char const* folder, char const* file, int capacity);

    _PHONEBOOK_300** LockTable(int* capacity);
    bool UnlockTable(_PHONEBOOK_300** slots);
    bool UnlockItem(_PHONEBOOK_300* record);
    PHONESTRUCTURE* LockStructure();
    bool UnLockStructure(PHONESTRUCTURE* block);
    // Without locking.
    _PHONEBOOK_300** GetTablePtr() const { return Slots; }
    PHONESTRUCTURE* GetStructurePtr(_PHONEBOOK_300** slots) const;
    int Capacity() const { return NumSlots; }

    // A copy of the record in the first empty slot among the first
    // capacity - 1; a record with handle 0 first gets a fresh handle
    // (written into the caller's record too). The stored handle, or -1.
    int StoreAsNew(_PHONEBOOK_300* record);
    bool ItemCopyFromHandle(int handle, _PHONEBOOK_300* out);
    // The entry with the handle, the lock held; none (lock released) when
    // there is no such entry.
    _PHONEBOOK_300* LockItem(int handle);
    // Frees the slot that holds this very record; false when none did.
    bool DeleteEntry(_PHONEBOOK_300* record);
    void DeleteAllEntries(_PHONEBOOK_300** slots, int count);
    // The slot index of the entry with the handle, or -1 (also for the
    // handle -2, which the caller must not ask for).
    int FindIndexFromHandle(_PHONEBOOK_300** slots, int count, int handle);
    int FindHandleFromName(char const* name);
    int FindHandleFromNameWide(wchar_t const* name);
    int FindHandleFromHotkey(int key);
    // The entry behind a menu command: the quick-access items (the entry's
    // menu id) and then the ids the all-entries menu handed out.
    int FindHandleFromMenuID(int id);
    // A handle that no entry and no folder has: the highest in use plus one,
    // at least 5,555. Without slots (and count 0) the table locks itself.
    int GetUniqueId(_PHONEBOOK_300** slots, int count);

    // The ids of the all-entries menu, each with its entry's handle.
    void ClearAllEntriesIds();
    void AddAllEntriesId(int id, int handle);

    // Zeroes the block and the folder paths.
    void CleanupStructure(PHONESTRUCTURE* block);
    void CleanupTable();

    // The snapshot: 0 take (none may exist), 1 restore (one must exist), 2
    // drop; true on success.
    bool CancelCopy(int mode);
    bool HasSnapshot() const { return Snapshot != nullptr; }

    // The path of folder record i, maintained by ReorgFolders; the caller
    // holds the lock.
    std::string const& FolderPath(int index) const;
    void SetFolderPath(int index, std::string path);
    // Keeps the side table in step when two folder records swap places.
    void SwapFolderPaths(int a, int b);

    // Whether a name matches: "~" marks removed, letter case ignored.
    static bool NameMatches(wchar_t const* stored, wchar_t const* wanted);
    // The name as names are compared: "~" marks removed, lower case (the
    // simple case mapping of Unicode, whatever the process's locale).
    static std::wstring FoldName(wchar_t const* name, size_t max);
    static wchar_t FoldChar(wchar_t c);

private:
    struct SNAPSHOT;
    // The handle of the first entry the test takes, under the lock; -1.
    template <class TEST>
    int FindHandleIf(TEST const& test);

    std::recursive_mutex Lock;
    _PHONEBOOK_300** Slots = nullptr;
    PHONESTRUCTURE* Structure = nullptr;
    int NumSlots = 0;
    size_t AllocSize = 0;
    std::vector<std::string> FolderPaths;
    std::vector<std::pair<int, int>> AllEntriesIds;
    std::unique_ptr<SNAPSHOT> Snapshot;
};
