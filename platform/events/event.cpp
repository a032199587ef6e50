#include "platform/events/event.h"

#include "platform/events/timers.h"

namespace plat {

EventPtr Event::Create(OSType eventClass, uint32_t kind, uint64_t timeMs)
{
    return std::make_shared<Event>(Token{}, eventClass, kind, timeMs ? timeMs : NowMs());
}

Event::Event(Token, OSType eventClass, uint32_t kind, uint64_t timeMs)
    : class_(eventClass), kind_(kind), time_(timeMs)
{
}

Event::~Event()
{
    for (uint32_t i = 0; i < count_; ++i)
        fixed_[i].Free();
    for (Param& p : more_)
        p.Free();
}

Event::Param* Event::Find(OSType name)
{
    for (uint32_t i = 0; i < count_; ++i)
        if (fixed_[i].name == name)
            return &fixed_[i];
    for (Param& p : more_)
        if (p.name == name)
            return &p;
    return nullptr;
}

const Event::Param* Event::Find(OSType name) const
{
    return const_cast<Event*>(this)->Find(name);
}

Status Event::SetParam(OSType name, OSType type, const void* data, size_t size)
{
    if ((size && !data) || size > UINT32_MAX || type == kTypeWildcard)
        return kErrBadArgument;
    Param* p = Find(name);
    if (!p) {
        if (count_ < kFixed) {
            p = &fixed_[count_++];
        } else {
            more_.emplace_back();
            p = &more_.back();
        }
    }
    // Copy into fresh storage before freeing the old one: `data` may point
    // into this very parameter.
    uint8_t* heap = nullptr;
    if (size > kInline) {
        heap = new uint8_t[size];
        std::memcpy(heap, data, size);
    }
    uint8_t tmp[kInline];
    if (size && size <= kInline)
        std::memcpy(tmp, data, size);
    p->Free();
    p->name = name;
    p->type = type;
    p->size = static_cast<uint32_t>(size);
    if (heap)
        p->heap = heap;
    else if (size)
        std::memcpy(p->inl, tmp, size);
    return kNoErr;
}

Status Event::GetParam(OSType name, OSType type, void* out, size_t size) const
{
    const Param* p = Find(name);
    if (!p)
        return kErrParamNotFound;
    if ((type != kTypeWildcard && p->type != type) || p->size != size)
        return kErrParamWrongType;
    if (size)
        std::memcpy(out, p->Data(), size);
    return kNoErr;
}

Status Event::GetParamBytes(OSType name, OSType type, void* out, size_t capacity,
                            size_t* actualSize, OSType* actualType) const
{
    const Param* p = Find(name);
    if (!p)
        return kErrParamNotFound;
    if (type != kTypeWildcard && p->type != type)
        return kErrParamWrongType;
    size_t n = p->size < capacity ? p->size : capacity;
    if (n && out)
        std::memcpy(out, p->Data(), n);
    if (actualSize)
        *actualSize = p->size;
    if (actualType)
        *actualType = p->type;
    return kNoErr;
}

bool Event::HasParam(OSType name) const
{
    return Find(name) != nullptr;
}

Status Event::RemoveParam(OSType name)
{
    for (uint32_t i = 0; i < count_; ++i) {
        if (fixed_[i].name != name)
            continue;
        fixed_[i].Free();
        // Keep the fixed records packed: move the last one into the hole.
        if (i != count_ - 1) {
            Param& last = fixed_[count_ - 1];
            fixed_[i].name = last.name;
            fixed_[i].type = last.type;
            fixed_[i].size = last.size;
            if (last.size > kInline)
                fixed_[i].heap = last.heap;
            else
                std::memcpy(fixed_[i].inl, last.inl, last.size);
            last.size = 0;
        }
        --count_;
        return kNoErr;
    }
    for (size_t i = 0; i < more_.size(); ++i) {
        if (more_[i].name != name)
            continue;
        more_[i].Free();
        more_.erase(more_.begin() + static_cast<std::ptrdiff_t>(i));
        return kNoErr;
    }
    return kErrParamNotFound;
}

size_t Event::ParamCount() const
{
    return count_ + more_.size();
}

} // namespace plat
