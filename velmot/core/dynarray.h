// The container template of the library: an array of separately allocated
// items with a recursive lock per array and a virtual comparison for sorting.
//
// Items are held by pointer, so growing, inserting, deleting and sorting move
// pointers only. Every operation that reads or changes the items holds the
// array's own MUTEXSEM; because that lock is recursive, operations call each
// other freely, and callers that need an array to stay still across several
// calls (an index loop, a pointer kept from operator[]) bracket them with
// Lock and Unlock.
//
// Sorting also holds a lock shared by all arrays of one item type (the
// SortLock), taken before the array's own lock, so that only one array of a
// type sorts at a time in the whole process.
#pragma once

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osyssync.h"
#include "velmot/core/vtypes.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <typeinfo>
#include <utility>

// Type of the two sizing arguments (initial slot count and growth step).
using DYNARRAY_SIZING = int32_t;

// Sort flags of every container.
constexpr unsigned DYNARRAY_SORT_NUMERIC = 0x01;
constexpr unsigned DYNARRAY_SORT_DESCENDING = 0x08;
constexpr unsigned DYNARRAY_SORT_IGNORECASE = 0x10;

// The sort state shared by all arrays of one item type. It lives in the
// library (one registry for the process), so every deliverable that sorts an
// array of a type meets the same lock.
struct VELMOT_EXPORT DYNARRAY_SORTSTATE {
    FASTMUTEX SortLock;
    void* SortThis = nullptr;   // the array being sorted, null otherwise
    unsigned SoftFlags = 0;     // the flags of the running sort
    std::atomic<DWORD> Owner{0}; // thread that holds SortLock, 0 when free
};

// The sort state of the item type named by `typekey` (typeid(...).name()).
VELMOT_EXPORT DYNARRAY_SORTSTATE& DynarraySortState(char const* typekey);

template <typename TYPE>
class DYNARRAY {
public:
    // Slot 0: the comparison used by SortItems. An instance that is sorted
    // supplies its own; this one reports the missing override.
    virtual int CompareItems(TYPE const* a, TYPE const* b, unsigned long flags);
    virtual ~DYNARRAY();

    char TypeName[32] = {};
    MUTEXSEM* pLock = nullptr;
    TYPE** ppItems = nullptr;
    int32_t ItemCount = 0;
    int32_t MaxItems = 0;
    int32_t ExpandSize = 0;
    // Slots really allocated (at least MaxItems). MaxItems grows by
    // ExpandSize, as callers see it; the allocation underneath grows
    // geometrically, so that appending n items copies O(n) pointers.
    int32_t Allocated = 0;

    DYNARRAY(DYNARRAY_SIZING initial, DYNARRAY_SIZING expand);
    DYNARRAY(DYNARRAY const& other);
    DYNARRAY& operator=(DYNARRAY const& other);

    void Destructor();
    void Copy(DYNARRAY const& other);

    int InsertItem(int pos, TYPE const& item);
    int InsertItem(int pos, TYPE&& item);
    int AppendItem(TYPE const& item);
    int AppendItem(TYPE&& item);
    void Append(DYNARRAY const& other);
    void ReplaceItem(int pos, TYPE const& item);
    void DeleteItem(int pos);
    void DeleteAllItems();
    TYPE* operator[](int i) const;
    void SwapItems(int pos1, int pos2);
    void SortItems(unsigned int flags);

    int NumItems() const { return ItemCount; }
    void SetExpandSize(int expand) { ExpandSize = expand; }
    MUTEXSEM* GetMutex() const { return pLock; }
    void SetTypeName(char const* name);

    bool Lock(int timeout = -1) const { return pLock && pLock->Obtain(timeout); }
    void Unlock() const
    {
        if (pLock)
            pLock->Release();
    }
    bool WinLock(int timeout) const { return pLock && pLock->WinObtain(timeout); }

    static DYNARRAY_SORTSTATE& SortState()
    {
        static DYNARRAY_SORTSTATE& state = DynarraySortState(typeid(TYPE).name());
        return state;
    }

protected:
    // SortItems with two hooks that run while both the SortLock and the
    // array's lock are held: `prepare` before the items are ordered and
    // `finish` after. Subclasses whose comparison depends on per-sort state
    // set that state in `prepare`, so that two sorts never see each other's.
    template <typename PREPARE, typename FINISH>
    void SortItemsWith(unsigned int flags, PREPARE prepare, FINISH finish);

    // Inserts `n` items that the caller allocated (ownership passes to the
    // array) at `pos` (-1: at the end), growing the slots as n single
    // insertions would. On failure the items are freed and false is returned.
    bool AdoptItems(int pos, TYPE** items, int n);

private:
    struct LOCKED {
        explicit LOCKED(DYNARRAY const* a) : Array(a) { Held = a->Lock(-1); }
        ~LOCKED()
        {
            if (Held)
                Array->Unlock();
        }
        LOCKED(LOCKED const&) = delete;
        LOCKED& operator=(LOCKED const&) = delete;
        DYNARRAY const* Array;
        bool Held;
    };

    static int SortCompare(void const* a, void const* b, void* state);
    bool GrowFor(int32_t more);
    template <typename ARG>
    int InsertLocked(int pos, ARG&& item);
    void ReportFault(char const* expression, int line, char const* info) const;
    void ReportPosition(char const* expression, int line, int pos) const;
    static TYPE* NoItem();
};

// ---------------------------------------------------------------------------
// Implementation. The template is compiled into each deliverable; the item
// types of the library are instantiated once in the library (see the
// `extern template` lines beside each item type).

template <typename TYPE>
DYNARRAY<TYPE>::DYNARRAY(DYNARRAY_SIZING initial, DYNARRAY_SIZING expand)
{
    pLock = new (std::nothrow) MUTEXSEM(0);
    if (!pLock)
        ReportFault("pLock", __LINE__, nullptr);
    MaxItems = initial > 0 ? initial : 0;
    ExpandSize = expand == static_cast<DYNARRAY_SIZING>(-1) ? initial : expand;
    if (MaxItems > 0) {
        ppItems = static_cast<TYPE**>(calloc(static_cast<size_t>(MaxItems), sizeof(TYPE*)));
        if (!ppItems) {
            MaxItems = 0;
            ReportFault("this->ppItems", __LINE__, nullptr);
        }
        Allocated = MaxItems;
    }
}

template <typename TYPE>
DYNARRAY<TYPE>::DYNARRAY(DYNARRAY const& other)
{
    pLock = new (std::nothrow) MUTEXSEM(0);
    if (!pLock)
        ReportFault("pLock", __LINE__, nullptr);
    Copy(other);
}

template <typename TYPE>
DYNARRAY<TYPE>::~DYNARRAY()
{
    Destructor();
    delete pLock;
}

template <typename TYPE>
DYNARRAY<TYPE>& DYNARRAY<TYPE>::operator=(DYNARRAY const& other)
{
    // Copy releases what the array held; assigning an array to itself keeps
    // it as it is.
    if (this != &other)
        Copy(other);
    return *this;
}

template <typename TYPE>
void DYNARRAY<TYPE>::Destructor()
{
    TYPE** items;
    int32_t max;
    {
        LOCKED hold(this);
        items = ppItems;
        max = MaxItems;
        ppItems = nullptr;
        ItemCount = 0;
        MaxItems = 0;
        Allocated = 0;
    }
    if (!items)
        return;
    for (int32_t i = 0; i < max; ++i)
        delete items[i];
    free(items);
}

template <typename TYPE>
void DYNARRAY<TYPE>::Copy(DYNARRAY const& other)
{
    if (this == &other)
        return;
    // The copies are made under the source's lock alone and then swapped in
    // under this array's lock, so two arrays copied into each other at the
    // same time cannot deadlock, and what this array held is freed (not
    // leaked) once nobody can see it any more.
    TYPE** items = nullptr;
    int32_t max, count, expand;
    bool ok = true;
    {
        LOCKED hold(&other);
        max = other.MaxItems;
        count = other.ItemCount;
        expand = other.ExpandSize;
        if (max > 0) {
            items = static_cast<TYPE**>(calloc(static_cast<size_t>(max), sizeof(TYPE*)));
            if (!items)
                ok = false;
            for (int32_t i = 0; ok && i < count; ++i) {
                items[i] = new (std::nothrow) TYPE(*other.ppItems[i]);
                if (!items[i])
                    ok = false;
            }
        }
    }
    if (!ok) {
        if (items) {
            for (int32_t i = 0; i < count; ++i)
                delete items[i];
            free(items);
        }
        ReportFault("this->ppItems", __LINE__, nullptr);
        return;
    }
    TYPE** old;
    int32_t oldmax;
    {
        LOCKED hold(this);
        old = ppItems;
        oldmax = MaxItems;
        ppItems = items;
        MaxItems = max;
        Allocated = max;
        ItemCount = count;
        ExpandSize = expand;
    }
    if (old) {
        for (int32_t i = 0; i < oldmax; ++i)
            delete old[i];
        free(old);
    }
}

template <typename TYPE>
bool DYNARRAY<TYPE>::GrowFor(int32_t more)
{
    // Growth is linear, by ExpandSize slots at a time, as the slot count is
    // part of what callers see. realloc lets a large slot array grow in place.
    int64_t need = int64_t(ItemCount) + more;
    if (need <= MaxItems)
        return true;
    int64_t step = ExpandSize;
    if (step <= 0) {
        ReportFault("this->ItemCount<this->MaxItems", __LINE__, nullptr);
        step = 1; // reported; the item is kept all the same
    }
    int64_t newmax = MaxItems + ((need - MaxItems + step - 1) / step) * step;
    if (newmax > INT32_MAX) {
        ReportFault("this->ItemCount<this->MaxItems", __LINE__, nullptr);
        return false;
    }
    if (newmax > Allocated) {
        int64_t room = std::max<int64_t>(newmax, int64_t(Allocated) + Allocated / 2);
        room = std::min<int64_t>(room, INT32_MAX);
        auto* grown = static_cast<TYPE**>(realloc(ppItems, static_cast<size_t>(room) * sizeof(TYPE*)));
        if (!grown) {
            ReportFault("this->ppItems", __LINE__, nullptr);
            return false;
        }
        memset(grown + Allocated, 0, static_cast<size_t>(room - Allocated) * sizeof(TYPE*));
        ppItems = grown;
        Allocated = static_cast<int32_t>(room);
    }
    MaxItems = static_cast<int32_t>(newmax);
    return true;
}

template <typename TYPE>
int DYNARRAY<TYPE>::InsertItem(int pos, TYPE const& item)
{
    LOCKED hold(this);
    return InsertLocked(pos, item);
}

template <typename TYPE>
int DYNARRAY<TYPE>::InsertItem(int pos, TYPE&& item)
{
    LOCKED hold(this);
    return InsertLocked(pos, std::move(item));
}

template <typename TYPE>
template <typename ARG>
int DYNARRAY<TYPE>::InsertLocked(int pos, ARG&& item)
{
    if (pos < 0 || pos > ItemCount) {
        ReportPosition("pos>=0 && pos<=this->ItemCount", __LINE__, pos);
        return -1;
    }
    // The copy is made first: `item` may be one of this array's own items.
    TYPE* copy = new (std::nothrow) TYPE(std::forward<ARG>(item));
    if (!copy) {
        ReportFault("this->ppItems", __LINE__, nullptr);
        return -1;
    }
    if (!GrowFor(1)) {
        delete copy;
        return -1;
    }
    memmove(ppItems + pos + 1, ppItems + pos, static_cast<size_t>(ItemCount - pos) * sizeof(TYPE*));
    ppItems[pos] = copy;
    ++ItemCount;
    return pos;
}

template <typename TYPE>
bool DYNARRAY<TYPE>::AdoptItems(int pos, TYPE** items, int n)
{
    LOCKED hold(this);
    if (pos == -1)
        pos = ItemCount;
    bool ok = n >= 0 && pos >= 0 && pos <= ItemCount;
    if (!ok)
        ReportPosition("pos>=0 && pos<=this->ItemCount", __LINE__, pos);
    if (ok && n > 0)
        ok = GrowFor(n);
    if (!ok) {
        for (int i = 0; i < n; ++i)
            delete items[i];
        return false;
    }
    if (n == 0)
        return true;
    memmove(ppItems + pos + n, ppItems + pos, static_cast<size_t>(ItemCount - pos) * sizeof(TYPE*));
    memcpy(ppItems + pos, items, static_cast<size_t>(n) * sizeof(TYPE*));
    ItemCount += n;
    return true;
}

template <typename TYPE>
int DYNARRAY<TYPE>::AppendItem(TYPE const& item)
{
    LOCKED hold(this);
    return InsertLocked(ItemCount, item);
}

template <typename TYPE>
int DYNARRAY<TYPE>::AppendItem(TYPE&& item)
{
    LOCKED hold(this);
    return InsertLocked(ItemCount, std::move(item));
}

template <typename TYPE>
void DYNARRAY<TYPE>::Append(DYNARRAY const& other)
{
    if (this == &other) {
        // Appending an array to itself doubles it; the count is taken first
        // so the loop ends.
        LOCKED hold(this);
        int32_t n = ItemCount;
        for (int32_t i = 0; i < n; ++i)
            AppendItem(*ppItems[i]);
        return;
    }
    // The copies are made under the source's lock alone, then added under
    // this array's lock: the two locks are never held together.
    TYPE** items = nullptr;
    int32_t n = 0, want = 0;
    {
        LOCKED hold(&other);
        want = other.ItemCount;
        if (want > 0)
            items = static_cast<TYPE**>(calloc(static_cast<size_t>(want), sizeof(TYPE*)));
        for (; items && n < want; ++n) {
            items[n] = new (std::nothrow) TYPE(*other.ppItems[n]);
            if (!items[n])
                break;
        }
    }
    if (n < want)
        ReportFault("this->ppItems", __LINE__, nullptr);
    if (items) {
        AdoptItems(-1, items, n);
        free(items);
    }
}

template <typename TYPE>
void DYNARRAY<TYPE>::ReplaceItem(int pos, TYPE const& item)
{
    LOCKED hold(this);
    if (pos < 0 || pos >= ItemCount) {
        ReportPosition("pos>=0 && pos<this->ItemCount", __LINE__, pos);
        return;
    }
    *ppItems[pos] = item;
}

template <typename TYPE>
void DYNARRAY<TYPE>::DeleteItem(int pos)
{
    LOCKED hold(this);
    if (pos < 0 || pos >= ItemCount) {
        ReportPosition("pos>=0 && pos<this->ItemCount", __LINE__, pos);
        return;
    }
    TYPE* gone = ppItems[pos];
    LOGIF(1, "DYNARRAY::DeleteItem is called for pitem= %p\n", static_cast<void*>(gone));
    memmove(ppItems + pos, ppItems + pos + 1, static_cast<size_t>(ItemCount - pos - 1) * sizeof(TYPE*));
    --ItemCount;
    ppItems[ItemCount] = nullptr;
    delete gone;
}

template <typename TYPE>
void DYNARRAY<TYPE>::DeleteAllItems()
{
    LOCKED hold(this);
    while (ItemCount > 0)
        DeleteItem(ItemCount - 1);
}

template <typename TYPE>
TYPE* DYNARRAY<TYPE>::NoItem()
{
    // What an out-of-range index gets after its report: a scratch item of the
    // calling thread, emptied each time, so a caller that goes on writing
    // through the result touches nothing shared.
    if constexpr (std::is_default_constructible_v<TYPE> && std::is_move_assignable_v<TYPE>) {
        static thread_local TYPE scratch;
        scratch = TYPE();
        return &scratch;
    } else {
        return nullptr;
    }
}

template <typename TYPE>
TYPE* DYNARRAY<TYPE>::operator[](int i) const
{
    LOCKED hold(this);
    if (i < 0 || i >= ItemCount || i >= MaxItems) {
        char info[200];
        snprintf(info, sizeof info, "i= %d, max= %d, count= %d, type= %s, this= %p", i, MaxItems, ItemCount,
                 TypeName, static_cast<void const*>(this));
        ReportFault("FALSE", __LINE__, info);
        return NoItem();
    }
    return ppItems[i];
}

template <typename TYPE>
void DYNARRAY<TYPE>::SwapItems(int pos1, int pos2)
{
    LOCKED hold(this);
    bool ok = true;
    if (pos1 < 0 || pos1 >= ItemCount) {
        ReportFault("pos1>=0 && pos1<this->ItemCount", __LINE__, nullptr);
        ok = false;
    }
    if (pos2 < 0 || pos2 >= ItemCount) {
        ReportFault("pos2>=0 && pos2<this->ItemCount", __LINE__, nullptr);
        ok = false;
    }
    if (!ok)
        return;
    TYPE* t = ppItems[pos1];
    ppItems[pos1] = ppItems[pos2];
    ppItems[pos2] = t;
}

template <typename TYPE>
int DYNARRAY<TYPE>::CompareItems(TYPE const*, TYPE const*, unsigned long)
{
    ReportFault("FALSE", __LINE__, TypeName);
    return 0;
}

template <typename TYPE>
int DYNARRAY<TYPE>::SortCompare(void const* a, void const* b, void* state)
{
    auto* st = static_cast<DYNARRAY_SORTSTATE*>(state);
    auto* self = static_cast<DYNARRAY*>(st->SortThis);
    TYPE const* ia = *static_cast<TYPE* const*>(a);
    TYPE const* ib = *static_cast<TYPE* const*>(b);
    int r = self->CompareItems(ia, ib, st->SoftFlags);
    // Only the sign is used, so that a descending sort never negates the
    // smallest int (which has no positive counterpart).
    r = (r > 0) - (r < 0);
    return (st->SoftFlags & DYNARRAY_SORT_DESCENDING) ? -r : r;
}

template <typename TYPE>
template <typename PREPARE, typename FINISH>
void DYNARRAY<TYPE>::SortItemsWith(unsigned int flags, PREPARE prepare, FINISH finish)
{
    DYNARRAY_SORTSTATE& st = SortState();
    DWORD const me = OSYS::GetCurrentThreadId();
    // A comparison that sorts another array of the same type would wait for
    // the SortLock its own thread holds; it is refused instead.
    if (st.Owner.load(std::memory_order_relaxed) == me) {
        ReportFault("DYNARRAY<TYPE>::SortThis==NULL", __LINE__, TypeName);
        return;
    }
    st.SortLock.Obtain();
    st.Owner.store(me, std::memory_order_relaxed);
    if (st.SortThis != nullptr)
        ReportFault("DYNARRAY<TYPE>::SortThis==NULL", __LINE__, TypeName);
    st.SortThis = this;
    st.SoftFlags = flags;
    {
        LOCKED hold(this);
        prepare();
        if (ItemCount > 1)
            qsort_r(ppItems, static_cast<size_t>(ItemCount), sizeof(TYPE*), &DYNARRAY::SortCompare, &st);
        finish();
    }
    st.SortThis = nullptr;
    st.SoftFlags = 0;
    st.Owner.store(0, std::memory_order_relaxed);
    st.SortLock.Release();
}

template <typename TYPE>
void DYNARRAY<TYPE>::SortItems(unsigned int flags)
{
    SortItemsWith(flags, [] {}, [] {});
}

template <typename TYPE>
void DYNARRAY<TYPE>::SetTypeName(char const* name)
{
    snprintf(TypeName, sizeof TypeName, "%s", name ? name : "");
}

template <typename TYPE>
void DYNARRAY<TYPE>::ReportFault(char const* expression, int line, char const* info) const
{
    AssertMsg(0, expression, "dynarray", line, info, false);
}

template <typename TYPE>
void DYNARRAY<TYPE>::ReportPosition(char const* expression, int line, int pos) const
{
    char info[64];
    snprintf(info, sizeof info, "%d/%d", pos, ItemCount);
    ReportFault(expression, line, info);
}
