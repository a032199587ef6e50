// The slot of a virtual member function: under the Itanium C++ ABI a
// pointer to a virtual member function holds 1 + the byte offset of its slot
// (slots 0 and 1 are the destructors). -1 for one that is not a virtual of
// the class's primary table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace slottest {

template <class PMF>
long SlotOf(PMF pmf)
{
    struct {
        uintptr_t ptr;
        ptrdiff_t adj;
    } rep;
    static_assert(sizeof(pmf) == sizeof(rep));
    memcpy(&rep, &pmf, sizeof rep);
    if ((rep.ptr & 1) == 0 || rep.adj != 0)
        return -1;
    return static_cast<long>((rep.ptr - 1) / sizeof(void*));
}

} // namespace slottest
