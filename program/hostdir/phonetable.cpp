// PHONEBOOKTABLE: slots, structure block, look-ups, handles and the
// in-memory snapshot.
#include "program/hostdir/phonetable.h"

#include "velmot/core/logit.h"
#include "velmot/core/unicode.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <locale.h>
#include <unistd.h>

namespace {

constexpr int kLockTries = 6;
constexpr int kLockWaitMs = 200;

std::string const kNoPath;

// The case mapping of the names: the C.UTF-8 locale's, so that sorting and
// look-ups do not depend on the locale the process runs in.
locale_t FoldLocale()
{
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return loc;
}

// Each try polls the lock for 200 ms (trying it every millisecond keeps
// the lock visible to the thread checkers, which do not follow a wait with
// a time-out), then sleeps 200 ms.
bool ObtainWithRetries(std::recursive_mutex& lock)
{
    for (int i = 0; i < kLockTries; ++i) {
        for (int ms = 0; ms <= kLockWaitMs; ++ms) {
            if (lock.try_lock())
                return true;
            usleep(1000);
        }
        usleep(kLockWaitMs * 1000);
    }
    LOGIT("PHONEBOOKTABLE: lock not available (ptable)\n");
    return false;
}

// Zeroes memory that may hold passwords before it is given back.
void Wipe(void* p, size_t n)
{
    explicit_bzero(p, n);
}

} // namespace

struct PHONEBOOKTABLE::SNAPSHOT {
    PHONESTRUCTURE Structure;
    std::vector<_PHONEBOOK_300> Records;
    std::vector<std::string> Paths;
    ~SNAPSHOT()
    {
        if (!Records.empty())
            Wipe(Records.data(), Records.size() * sizeof(_PHONEBOOK_300));
    }
};

PHONEBOOKTABLE::PHONEBOOKTABLE()
{
    LOGIT("PHONEBOOKTABLE::PHONEBOOKTABLE\n");
}

PHONEBOOKTABLE::~PHONEBOOKTABLE()
{
    CleanupTable();
    Snapshot.reset();
}

bool PHONEBOOKTABLE::InitTable(char const* folder, char const* file, int capacity)
{
    LOGIT("PHONEBOOKTABLE::InitTable %s/%s, %d slots\n", folder ? folder : "", file ? file : "", capacity);
    CleanupTable();
    if (capacity < 2) {
        AssertMsg(0, "FALSE", __FILE__, __LINE__, "Could not alloc host directory memory");
        return false;
    }
    size_t const size = static_cast<size_t>(capacity) * sizeof(_PHONEBOOK_300*) + sizeof(PHONESTRUCTURE);
    void* block = calloc(1, size);
    if (!block) {
        AssertMsg(0, "FALSE", __FILE__, __LINE__, "Could not alloc host directory memory");
        return false;
    }
    std::lock_guard<std::recursive_mutex> guard(Lock);
    Slots = static_cast<_PHONEBOOK_300**>(block);
    Structure = reinterpret_cast<PHONESTRUCTURE*>(static_cast<char*>(block) +
                                                  static_cast<size_t>(capacity) * sizeof(_PHONEBOOK_300*));
    NumSlots = capacity;
    AllocSize = size;
    FolderPaths.assign(PHONE_MAXFOLDERS, std::string());
    return true;
}

// ---------------------------------------------------------------------------
// Locking

_PHONEBOOK_300** PHONEBOOKTABLE::LockTable(int* capacity)
{
    if (!Slots)
        return nullptr;
    if (!ObtainWithRetries(Lock))
        return nullptr;
    if (!Slots) {
        Lock.unlock();
        return nullptr;
    }
    if (capacity)
        *capacity = NumSlots;
    return Slots;
}

bool PHONEBOOKTABLE::UnlockTable(_PHONEBOOK_300**)
{
    Lock.unlock();
    return true;
}

bool PHONEBOOKTABLE::UnlockItem(_PHONEBOOK_300*)
{
    Lock.unlock();
    return true;
}

PHONESTRUCTURE* PHONEBOOKTABLE::LockStructure()
{
    _PHONEBOOK_300** slots = LockTable(nullptr);
    return slots ? GetStructurePtr(slots) : nullptr;
}

bool PHONEBOOKTABLE::UnLockStructure(PHONESTRUCTURE*)
{
    Lock.unlock();
    return true;
}

PHONESTRUCTURE* PHONEBOOKTABLE::GetStructurePtr(_PHONEBOOK_300** slots) const
{
    return slots && slots == Slots ? Structure : nullptr;
}

// ---------------------------------------------------------------------------
// Entries

int PHONEBOOKTABLE::StoreAsNew(_PHONEBOOK_300* record)
{
    if (!record)
        return -1;
    int capacity = 0;
    _PHONEBOOK_300** slots = LockTable(&capacity);
    if (!slots)
        return -1;
    if (record->handle == 0)
        record->handle = GetUniqueId(slots, capacity - 1);
    int stored = -1;
    for (int i = 0; i < capacity - 1; ++i) {
        if (slots[i])
            continue;
        auto* copy = static_cast<_PHONEBOOK_300*>(malloc(sizeof(_PHONEBOOK_300)));
        if (!copy)
            break;
        memcpy(copy, record, sizeof *copy);
        slots[i] = copy;
        stored = record->handle;
        break;
    }
    UnlockTable(slots);
    return stored;
}

bool PHONEBOOKTABLE::ItemCopyFromHandle(int handle, _PHONEBOOK_300* out)
{
    if (!out)
        return false;
    memset(out, 0, sizeof *out);
    int capacity = 0;
    _PHONEBOOK_300** slots = LockTable(&capacity);
    if (!slots)
        return false;
    int const i = FindIndexFromHandle(slots, capacity, handle);
    if (i >= 0)
        memcpy(out, slots[i], sizeof *out);
    UnlockTable(slots);
    return i >= 0;
}

_PHONEBOOK_300* PHONEBOOKTABLE::LockItem(int handle)
{
    int capacity = 0;
    _PHONEBOOK_300** slots = LockTable(&capacity);
    if (!slots)
        return nullptr;
    int const i = FindIndexFromHandle(slots, capacity, handle);
    if (i < 0) {
        UnlockTable(slots);
        return nullptr;
    }
    return slots[i];
}

bool PHONEBOOKTABLE::DeleteEntry(_PHONEBOOK_300* record)
{
    int capacity = 0;
    _PHONEBOOK_300** slots = LockTable(&capacity);
    if (!slots)
        return false;
    bool found = false;
    for (int i = 0; i < capacity && record; ++i) {
        if (slots[i] != record)
            continue;
        Wipe(slots[i], sizeof(_PHONEBOOK_300));
        free(slots[i]);
        slots[i] = nullptr;
        found = true;
        break;
    }
    UnlockTable(slots);
    ASSERTMSG(found, "PHONEBOOKTABLE::DeleteEntry: record not in the table");
    return found;
}

void PHONEBOOKTABLE::DeleteAllEntries(_PHONEBOOK_300** slots, int count)
{
    if (!slots)
        return;
    for (int i = 0; i < count; ++i) {
        if (!slots[i])
            continue;
        Wipe(slots[i], sizeof(_PHONEBOOK_300));
        free(slots[i]);
        slots[i] = nullptr;
    }
}

int PHONEBOOKTABLE::FindIndexFromHandle(_PHONEBOOK_300** slots, int count, int handle)
{
    // -2 is no handle: answering the always empty last slot would hand the
    // caller a null entry.
    if (!slots || handle == -2)
        return -1;
    for (int i = 0; i < count; ++i)
        if (slots[i] && slots[i]->handle == handle)
            return i;
    return -1;
}

wchar_t PHONEBOOKTABLE::FoldChar(wchar_t c)
{
    static locale_t const loc = FoldLocale();
    auto const w = static_cast<wint_t>(c);
    return static_cast<wchar_t>(loc ? towlower_l(w, loc) : towlower(w));
}

std::wstring PHONEBOOKTABLE::FoldName(wchar_t const* name, size_t max)
{
    std::wstring out;
    if (!name)
        return out;
    for (size_t i = 0; i < max && name[i]; ++i)
        if (name[i] != L'~')
            out.push_back(FoldChar(name[i]));
    return out;
}

bool PHONEBOOKTABLE::NameMatches(wchar_t const* stored, wchar_t const* wanted)
{
    return FoldName(stored, 65) == FoldName(wanted, SIZE_MAX);
}

template <class TEST>
int PHONEBOOKTABLE::FindHandleIf(TEST const& test)
{
    int capacity = 0;
    _PHONEBOOK_300** slots = LockTable(&capacity);
    if (!slots)
        return -1;
    int found = -1;
    for (int i = 0; i < capacity && found < 0; ++i)
        if (slots[i] && test(*slots[i]))
            found = slots[i]->handle;
    UnlockTable(slots);
    return found;
}

int PHONEBOOKTABLE::FindHandleFromName(char const* name)
{
    if (!name)
        return -1;
    WSTRING wide(name, 1252);
    return FindHandleFromNameWide(wide.Buf());
}

int PHONEBOOKTABLE::FindHandleFromNameWide(wchar_t const* name)
{
    if (!name)
        return -1;
    // "[#5555]" names the entry with that handle as well.
    int byHandle = -1;
    if (wcslen(name) >= 4 && name[0] == L'[' && name[1] == L'#') {
        long value = wcstol(name + 2, nullptr, 10);
        byHandle = value >= 1 && value <= INT_MAX ? static_cast<int>(value) : -1;
    }
    std::wstring const wanted = FoldName(name, SIZE_MAX);
    return FindHandleIf([&](_PHONEBOOK_300 const& e) {
        return (byHandle > 0 && e.handle == byHandle) || FoldName(e.name, 65) == wanted;
    });
}

int PHONEBOOKTABLE::FindHandleFromHotkey(int key)
{
    return FindHandleIf([key](_PHONEBOOK_300 const& e) { return e.ctrlfkey != 0 && e.ctrlfkey == key; });
}

int PHONEBOOKTABLE::FindHandleFromMenuID(int id)
{
    if (id == 0)
        return -1;
    std::lock_guard<std::recursive_mutex> guard(Lock);
    int found = FindHandleIf([id](_PHONEBOOK_300 const& e) { return e.menuid == id; });
    for (size_t k = 0; k < AllEntriesIds.size() && found < 0; ++k) {
        int const handle = AllEntriesIds[k].second;
        if (AllEntriesIds[k].first == id && FindHandleIf([handle](_PHONEBOOK_300 const& e) { return e.handle == handle; }) > 0)
            found = handle;
    }
    return found;
}

void PHONEBOOKTABLE::ClearAllEntriesIds()
{
    std::lock_guard<std::recursive_mutex> guard(Lock);
    AllEntriesIds.clear();
}

void PHONEBOOKTABLE::AddAllEntriesId(int id, int handle)
{
    std::lock_guard<std::recursive_mutex> guard(Lock);
    AllEntriesIds.emplace_back(id, handle);
}

int PHONEBOOKTABLE::GetUniqueId(_PHONEBOOK_300** slots, int count)
{
    bool const own = !slots && count == 0;
    int capacity = 0;
    if (own) {
        slots = LockTable(&capacity);
        if (!slots)
            return -1;
        count = capacity - 1;
    }
    // The highest handle in use plus one: no clock, so handles stay positive
    // and unique however the clock is set.
    int highest = PHONE_FIRSTHANDLE - 1;
    std::vector<int> used;
    for (int i = 0; i < count; ++i) {
        if (slots[i]) {
            highest = std::max(highest, slots[i]->handle);
            used.push_back(slots[i]->handle);
        }
    }
    PHONESTRUCTURE const* s = Structure;
    for (int i = 0; s && i < std::clamp(s->numfolders, 0, PHONE_MAXFOLDERS); ++i) {
        highest = std::max(highest, s->folders[i].handle);
        used.push_back(s->folders[i].handle);
    }
    int handle = highest < INT_MAX ? highest + 1 : PHONE_FIRSTHANDLE;
    if (highest == INT_MAX) {
        // Every number above is taken: the lowest free one from the first.
        std::sort(used.begin(), used.end());
        handle = PHONE_FIRSTHANDLE;
        for (int h : used) {
            if (h == handle)
                ++handle;
            else if (h > handle)
                break;
        }
    }
    if (own)
        UnlockTable(slots);
    return handle;
}

// ---------------------------------------------------------------------------
// Structure and clean-up

void PHONEBOOKTABLE::CleanupStructure(PHONESTRUCTURE* block)
{
    if (!block)
        return;
    std::lock_guard<std::recursive_mutex> guard(Lock);
    memset(block, 0, sizeof *block);
    if (block == Structure)
        FolderPaths.assign(PHONE_MAXFOLDERS, std::string());
}

void PHONEBOOKTABLE::CleanupTable()
{
    if (!Slots)
        return;
    std::lock_guard<std::recursive_mutex> guard(Lock);
    DeleteAllEntries(Slots, NumSlots);
    CleanupStructure(Structure);
    free(Slots);
    Slots = nullptr;
    Structure = nullptr;
    NumSlots = 0;
    AllocSize = 0;
    AllEntriesIds.clear();
}

std::string const& PHONEBOOKTABLE::FolderPath(int index) const
{
    if (index < 0 || static_cast<size_t>(index) >= FolderPaths.size())
        return kNoPath;
    return FolderPaths[static_cast<size_t>(index)];
}

void PHONEBOOKTABLE::SetFolderPath(int index, std::string path)
{
    if (index >= 0 && static_cast<size_t>(index) < FolderPaths.size())
        FolderPaths[static_cast<size_t>(index)] = std::move(path);
}

void PHONEBOOKTABLE::SwapFolderPaths(int a, int b)
{
    if (a >= 0 && b >= 0 && static_cast<size_t>(a) < FolderPaths.size() && static_cast<size_t>(b) < FolderPaths.size())
        std::swap(FolderPaths[static_cast<size_t>(a)], FolderPaths[static_cast<size_t>(b)]);
}

// ---------------------------------------------------------------------------
// Snapshot

bool PHONEBOOKTABLE::CancelCopy(int mode)
{
    LOGIT("PHONEBOOKTABLE::CancelCopy %d\n", mode);
    int capacity = 0;
    _PHONEBOOK_300** slots = LockTable(&capacity);
    if (!slots)
        return false;
    bool ok = false;
    switch (mode) {
    case 0:
        if (Snapshot) {
            AssertMsg(0, "this->CopyFile.IsEmpty()", __FILE__, __LINE__);
            break;
        }
        Snapshot = std::make_unique<SNAPSHOT>();
        memcpy(&Snapshot->Structure, Structure, sizeof(PHONESTRUCTURE));
        Snapshot->Paths = FolderPaths;
        for (int i = 0; i < capacity; ++i)
            if (slots[i])
                Snapshot->Records.push_back(*slots[i]);
        ok = true;
        break;
    case 1:
        if (!Snapshot) {
            AssertMsg(0, "FALSE", __FILE__, __LINE__, "fdata");
            break;
        }
        DeleteAllEntries(slots, capacity);
        memcpy(Structure, &Snapshot->Structure, sizeof(PHONESTRUCTURE));
        FolderPaths = Snapshot->Paths;
        for (size_t i = 0; i < Snapshot->Records.size() && static_cast<int>(i) < capacity; ++i) {
            _PHONEBOOK_300 record = Snapshot->Records[i];
            StoreAsNew(&record);
            Wipe(&record, sizeof record);
        }
        ok = true;
        break;
    case 2:
        Snapshot.reset();
        ok = true;
        break;
    default:
        break;
    }
    UnlockTable(slots);
    return ok;
}
