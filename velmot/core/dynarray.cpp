// The parts of the array template that exist once per process: the sort
// state (SortLock, SortThis, SoftFlags) of each item type.
#include "velmot/core/dynarray.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {

struct SORTREGISTRY {
    std::mutex Guard;
    std::map<std::string, std::unique_ptr<DYNARRAY_SORTSTATE>> States;
};

SORTREGISTRY& Registry()
{
    // Never destroyed: an array may still sort while static objects of the
    // process are torn down, and its lock must outlive it.
    static SORTREGISTRY* registry = new SORTREGISTRY;
    return *registry;
}

} // namespace

DYNARRAY_SORTSTATE& DynarraySortState(char const* typekey)
{
    // Keyed by the type's name rather than its type_info address: each
    // deliverable has its own type_info objects, but the names agree, so all
    // arrays of one type share one lock however many libraries use it.
    SORTREGISTRY& reg = Registry();
    std::lock_guard<std::mutex> hold(reg.Guard);
    auto& slot = reg.States[typekey ? typekey : ""];
    if (!slot)
        slot = std::make_unique<DYNARRAY_SORTSTATE>();
    return *slot;
}
