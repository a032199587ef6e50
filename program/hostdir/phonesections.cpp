// Folders and sections of the host directory: look-ups, the folders'
// depth, section and path derived from their parents, and the section
// editor's list applied to the directory.
#include "program/hostdir/phonebook.h"

#include "velmot/core/logit.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The longest folder path kept (a 511-byte buffer with its terminator).
constexpr size_t kMaxPath = 510;

int Clamp(int n, int hi)
{
    return std::clamp(n, 0, hi);
}

} // namespace

int PHONEBOOK::FindFolderIndex(PHONESTRUCTURE const* block, int handle)
{
    if (!block)
        return -1;
    int const n = Clamp(block->numfolders, PHONE_MAXFOLDERS);
    for (int i = 0; i < n; ++i)
        if (block->folders[i].handle == handle)
            return i;
    return -1;
}

bool PHONEBOOK::HasSectionAnyFolders(int section)
{
    PHONESTRUCTURE* s = PTable.LockStructure();
    if (!s)
        return false;
    bool found = false;
    for (int i = 0; i < Clamp(s->numfolders, PHONE_MAXFOLDERS) && !found; ++i)
        found = s->folders[i].section == section;
    PTable.UnLockStructure(s);
    return found;
}

int PHONEBOOK::GetParentFolder(int handle)
{
    PHONESTRUCTURE* s = PTable.LockStructure();
    if (!s)
        return 0;
    int const i = FindFolderIndex(s, handle);
    int const parent = i >= 0 ? s->folders[i].parent : 0;
    PTable.UnLockStructure(s);
    return parent;
}

bool PHONEBOOK::IsFolderHandle(int handle)
{
    if (handle == PHONE_SECTIONHANDLE)
        return true;
    PHONESTRUCTURE* s = PTable.LockStructure();
    if (!s)
        return false;
    bool const found = FindFolderIndex(s, handle) >= 0;
    PTable.UnLockStructure(s);
    return found;
}

bool PHONEBOOK::IsFolderHandle(int count, int const* handles, signed char* sectionNode)
{
    if (sectionNode)
        *sectionNode = 0;
    for (int i = 0; handles && i < count; ++i) {
        if (handles[i] == PHONE_SECTIONHANDLE) {
            if (sectionNode)
                *sectionNode = 1;
            return true;
        }
        if (IsFolderHandle(handles[i]))
            return true;
    }
    return false;
}

bool PHONEBOOK::ReorgFolders(PHONESTRUCTURE* block)
{
    bool const own = block == nullptr;
    int capacity = 0;
    _PHONEBOOK_300** slots = PTable.LockTable(&capacity);
    if (!slots)
        return false;
    if (own)
        block = PTable.GetStructurePtr(slots);
    int const n = Clamp(block->numfolders, PHONE_MAXFOLDERS);
    block->numfolders = n;

    std::vector<std::string> paths(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        PHONEFOLDER& f = block->folders[i];
        f.name[sizeof f.name - 1] = 0;
        f.pathword = 0;
        f.depth = f.parent == 0 ? 0 : -1;
    }
    // Each pass resolves the folders whose parent is known; a pass that
    // resolves none leaves only folders whose parent is missing or lies in
    // a cycle of parents: they are put directly into their section.
    for (int pass = 0; pass <= n; ++pass) {
        bool open = false;
        bool progress = false;
        for (int i = 0; i < n; ++i) {
            PHONEFOLDER& f = block->folders[i];
            if (f.depth != -1)
                continue;
            int const p = FindFolderIndex(block, f.parent);
            if (p < 0 || p == i || block->folders[p].depth < 0) {
                open = true;
                continue;
            }
            PHONEFOLDER const& parent = block->folders[p];
            f.depth = parent.depth + 1;
            f.section = parent.section;
            std::string path = paths[static_cast<size_t>(p)];
            path.append(parent.name, strnlen(parent.name, sizeof parent.name));
            path += '>';
            if (path.size() > kMaxPath)
                path.resize(kMaxPath);
            paths[static_cast<size_t>(i)] = std::move(path);
            progress = true;
        }
        if (!open)
            break;
        if (!progress) {
            for (int i = 0; i < n; ++i) {
                PHONEFOLDER& f = block->folders[i];
                if (f.depth != -1)
                    continue;
                LOGIT("PHONEBOOK::ReorgFolders folder %d has no reachable parent %d\n", f.handle, f.parent);
                f.parent = 0;
                f.depth = 0;
                paths[static_cast<size_t>(i)].clear();
            }
        }
    }

    // Sorted by section, path and name, so that a parent comes before its
    // children (stable, as the exchange sort it replaces).
    std::vector<std::string> keys(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        char number[16];
        snprintf(number, sizeof number, "%03d.", block->folders[i].section);
        PHONEFOLDER const& f = block->folders[i];
        keys[static_cast<size_t>(i)] = number + paths[static_cast<size_t>(i)] + std::string(f.name, strnlen(f.name, 32));
    }
    std::vector<int> order(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        order[static_cast<size_t>(i)] = i;
    std::stable_sort(order.begin(), order.end(), [&keys](int a, int b) {
        return keys[static_cast<size_t>(a)] < keys[static_cast<size_t>(b)];
    });
    std::vector<PHONEFOLDER> folders(block->folders, block->folders + n);
    for (int i = 0; i < n; ++i) {
        block->folders[i] = folders[static_cast<size_t>(order[static_cast<size_t>(i)])];
        PTable.SetFolderPath(i, paths[static_cast<size_t>(order[static_cast<size_t>(i)])]);
    }
    for (int i = n; i < PHONE_MAXFOLDERS; ++i)
        PTable.SetFolderPath(i, std::string());

    // Entries follow their folder's section; an entry whose folder is gone
    // is put directly into its section, where the window shows it.
    for (int i = 0; i < capacity; ++i) {
        _PHONEBOOK_300* e = slots[i];
        if (!e || e->folder == 0)
            continue;
        int const f = FindFolderIndex(block, e->folder);
        if (f >= 0)
            e->section = block->folders[f].section;
        else
            e->folder = 0;
    }
    PTable.UnlockTable(slots);
    return true;
}

void PHONEBOOK::GetSectionString(char* out, int max)
{
    if (!out || max < 1)
        return;
    out[0] = 0;
    PHONESTRUCTURE* s = PTable.LockStructure();
    if (!s)
        return;
    std::string text;
    for (int i = 0; i < Clamp(s->numsections, PHONE_MAXSECTIONS); ++i) {
        if (i > 0)
            text += '|';
        text.append(s->sections[i], strnlen(s->sections[i], 32));
    }
    PTable.UnLockStructure(s);
    OPTSBASE::CopyText(out, static_cast<size_t>(max), text.c_str());
}

void PHONEBOOK::GetSections(PHONEEDITSECTIONS* list)
{
    if (!list)
        return;
    memset(list, 0, sizeof *list);
    int capacity = 0;
    _PHONEBOOK_300** slots = PTable.LockTable(&capacity);
    if (!slots)
        return;
    PHONESTRUCTURE* s = PTable.GetStructurePtr(slots);
    int const count = Clamp(s->numsections, PHONE_MAXSECTIONS);
    list->count = count;
    for (int i = 0; i < count; ++i) {
        OPTSBASE::CopyText(list->items[i].name, 32, s->sections[i]);
        list->items[i].formerindex = i;
    }
    auto use = [&](int32_t& section) {
        if (section < 0 || section >= count)
            section = 0;
        if (count > 0)
            ++list->items[section].usecount;
    };
    for (int i = 0; i < capacity - 1; ++i)
        if (slots[i])
            use(slots[i]->section);
    for (int i = 0; i < Clamp(s->numfolders, PHONE_MAXFOLDERS); ++i)
        use(s->folders[i].section);
    PTable.UnlockTable(slots);
}

bool PHONEBOOK::ReorgSections(PHONEEDITSECTIONS* list)
{
    // A directory has at most 64 sections: a 65th has no name to go to.
    if (!list || list->count < 0 || list->count > PHONE_MAXSECTIONS || list->deletedcount < 0 ||
        list->deletedcount > PHONE_MAXSECTIONS) {
        LOGIT("PHONEBOOK::ReorgSections refuses a list of %d sections\n", list ? list->count : -1);
        return false;
    }
    int capacity = 0;
    _PHONEBOOK_300** slots = PTable.LockTable(&capacity);
    if (!slots)
        return false;
    PHONESTRUCTURE* s = PTable.GetStructurePtr(slots);
    int const folders = Clamp(s->numfolders, PHONE_MAXFOLDERS);
    for (int d = 0; d < list->deletedcount; ++d) {
        int const gone = list->deleted[d].formerindex;
        for (int i = 0; i < capacity - 1; ++i) {
            if (slots[i] && slots[i]->section == gone) {
                LOGIT("PHONEBOOK::ReorgSections: Tried to delete section with entries\n");
                PTable.UnlockTable(slots);
                return false;
            }
        }
        for (int i = 0; i < folders; ++i) {
            if (s->folders[i].section == gone) {
                LOGIT("PHONEBOOK::ReorgSections: Tried to delete section with folder entry\n");
                PTable.UnlockTable(slots);
                return false;
            }
        }
    }
    std::vector<int> map(PHONE_MAXSECTIONS, -1);
    for (int i = 0; i < list->count; ++i) {
        int const former = list->items[i].formerindex;
        if (former >= 0 && former < PHONE_MAXSECTIONS)
            map[static_cast<size_t>(former)] = i;
    }
    auto move = [&](int32_t& section) {
        int const to = section >= 0 && section < PHONE_MAXSECTIONS ? map[static_cast<size_t>(section)] : -1;
        if (to < 0) {
            LOGIT("PHONEBOOK::ReorgSections: section %d has no new place, 0 taken\n", section);
            section = 0;
            return;
        }
        section = to;
    };
    for (int i = 0; i < capacity - 1; ++i)
        if (slots[i])
            move(slots[i]->section);
    for (int i = 0; i < folders; ++i)
        move(s->folders[i].section);
    memset(s->sections, 0, sizeof s->sections);
    for (int i = 0; i < list->count; ++i)
        OPTSBASE::CopyText(s->sections[i], 32, list->items[i].name);
    s->numsections = list->count;
    PTable.UnlockTable(slots);
    return true;
}
