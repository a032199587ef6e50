#include "platform/events/target.h"

#include "platform/events/core_internal.h"
#include "platform/events/queue.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace plat {
namespace {

// Longest containment chain a send or probe climbs; a longer one can only
// come from a damaged tree and is cut rather than followed for ever.
constexpr int kMaxChain = 4096;

uint64_t TypeKey(OSType cls, uint32_t kind)
{
    return (static_cast<uint64_t>(cls) << 32) | kind;
}

struct Handler {
    uint64_t id = 0;
    uint64_t target = 0;
    std::vector<EventType> types;
    HandlerFn fn;
    bool removed = false;

    bool Matches(OSType cls, uint32_t kind) const
    {
        for (const EventType& t : types)
            if (t.eventClass == cls && t.kind == kind)
                return true;
        return false;
    }
};

struct Property {
    OSType creator;
    OSType tag;
    std::vector<uint8_t> bytes;
};

struct TargetRec {
    uint64_t id = 0;
    TargetKind kind = TargetKind::View;
    // Guarded by Registry::lock (read by the probe on other threads).
    uint64_t parent = 0;
    bool alive = true;
    std::unordered_map<uint64_t, int> typeCounts;
    // Main thread only.
    int busy = 0; // dispatches running on this target
    std::vector<Handler*> handlers; // newest first
    std::vector<std::unique_ptr<Handler>> graveyard; // removed while busy
    HandlerFn standard;
    void* owner = nullptr;
    std::vector<Property> props;
};

struct Registry {
    std::mutex lock;
    std::unordered_map<uint64_t, std::unique_ptr<TargetRec>> targets; // under lock
    std::unordered_map<uint64_t, std::unique_ptr<Handler>> handlers;  // main thread
    uint64_t nextId = 0x10000; // main thread (ids are handed out there)
    std::vector<const Event*> current; // events being dispatched, main thread
};

Registry& Reg()
{
    static Registry* r = new Registry;
    return *r;
}

uint64_t IdOf(TargetRef t)
{
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(t));
}

TargetRef RefOf(uint64_t id)
{
    return reinterpret_cast<TargetRef>(static_cast<uintptr_t>(id));
}

uint64_t HandlerIdOf(HandlerRef h)
{
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(h));
}

// The live record of an id, or null. The pointer stays valid on the main
// thread until the target is destroyed and no dispatch holds it.
TargetRec* Live(uint64_t id)
{
    Registry& r = Reg();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.targets.find(id);
    return it != r.targets.end() && it->second->alive ? it->second.get() : nullptr;
}

void CountTypes(TargetRec* rec, const std::vector<EventType>& types, int delta)
{
    for (const EventType& t : types) {
        int& n = rec->typeCounts[TypeKey(t.eventClass, t.kind)];
        n += delta;
        if (n <= 0)
            rec->typeCounts.erase(TypeKey(t.eventClass, t.kind));
    }
}

// Called when a dispatch on `rec` ends: frees handlers removed meanwhile and
// the record itself when it was destroyed meanwhile.
void Release(TargetRec* rec)
{
    if (--rec->busy > 0)
        return;
    rec->graveyard.clear();
    if (rec->alive)
        return;
    Registry& r = Reg();
    std::unique_ptr<TargetRec> doomed;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        auto it = r.targets.find(rec->id);
        if (it != r.targets.end()) {
            doomed = std::move(it->second);
            r.targets.erase(it);
        }
    }
}

struct BusyGuard {
    explicit BusyGuard(TargetRec* r) : rec(r) { ++rec->busy; }
    ~BusyGuard() { Release(rec); }
    TargetRec* rec;
};

} // namespace

// Runs one target's chain for one event: a snapshot of the matching
// handlers taken at the start (handlers installed meanwhile wait for the
// next event, removed ones are skipped), then the standard handler.
struct Dispatcher {
    TargetRec* rec;
    Event* event;
    std::vector<Handler*> chain;

    Status Run(size_t from)
    {
        for (size_t i = from; i < chain.size(); ++i) {
            if (!rec->alive)
                return kErrEventNotHandled;
            Handler* h = chain[i];
            if (h->removed)
                continue;
            HandlerCall call(*this, RefOf(rec->id), i + 1);
            // A handler removed while this target is busy is parked, not
            // freed, so calling through it is safe even if it removes itself.
            Status s = h->fn(call, *event);
            if (call.nextCalled_ || s != kErrEventNotHandled)
                return s;
        }
        return RunStandard();
    }

    Status RunStandard()
    {
        if (!rec->alive || !rec->standard)
            return kErrEventNotHandled;
        HandlerCall call(*this, RefOf(rec->id), chain.size() + 1);
        HandlerFn fn = rec->standard;
        return fn(call, *event);
    }
};

Status HandlerCall::CallNext(Event& event)
{
    if (nextCalled_ || !IsMainThread())
        return kErrEventNotHandled;
    nextCalled_ = true;
    if (next_ > dispatcher_.chain.size())
        return kErrEventNotHandled;
    Event* saved = dispatcher_.event;
    dispatcher_.event = &event;
    Status s = dispatcher_.Run(next_);
    dispatcher_.event = saved;
    return s;
}

TargetRef CreateTarget(TargetKind kind, TargetRef parent)
{
    if (!CheckMainThread("CreateTarget"))
        return nullptr;
    Registry& r = Reg();
    auto rec = std::make_unique<TargetRec>();
    rec->kind = kind;
    std::lock_guard<std::mutex> guard(r.lock);
    if (parent) {
        auto it = r.targets.find(IdOf(parent));
        if (it == r.targets.end() || !it->second->alive)
            return nullptr;
        rec->parent = IdOf(parent);
    }
    rec->id = ++r.nextId;
    uint64_t id = rec->id;
    r.targets.emplace(id, std::move(rec));
    return RefOf(id);
}

Status DestroyTarget(TargetRef target)
{
    if (!CheckMainThread("DestroyTarget"))
        return kErrWrongThread;
    Registry& r = Reg();
    TargetRec* rec = Live(IdOf(target));
    if (!rec)
        return kErrTargetGone;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        rec->alive = false;
        rec->typeCounts.clear();
    }
    for (Handler* h : rec->handlers) {
        h->removed = true;
        auto it = r.handlers.find(h->id);
        if (it != r.handlers.end()) {
            rec->graveyard.push_back(std::move(it->second));
            r.handlers.erase(it);
        }
    }
    rec->handlers.clear();
    // The standard handler and the properties may hold captures that refer
    // to the owner; drop them now, the record may live on while busy.
    HandlerFn standard = std::move(rec->standard);
    rec->standard = nullptr;
    rec->props.clear();
    rec->owner = nullptr;
    ++rec->busy;
    Release(rec); // frees the record now unless a dispatch holds it
    return kNoErr;
}

bool IsTargetAlive(TargetRef target)
{
    Registry& r = Reg();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.targets.find(IdOf(target));
    return it != r.targets.end() && it->second->alive;
}

bool TargetHandles(TargetRef target, OSType eventClass, uint32_t kind, bool climb)
{
    Registry& r = Reg();
    const uint64_t key = TypeKey(eventClass, kind);
    std::lock_guard<std::mutex> guard(r.lock);
    uint64_t id = IdOf(target);
    for (int depth = 0; id && depth < kMaxChain; ++depth) {
        auto it = r.targets.find(id);
        if (it == r.targets.end() || !it->second->alive)
            return false;
        if (it->second->typeCounts.count(key))
            return true;
        if (!climb)
            return false;
        id = it->second->parent;
    }
    return false;
}

bool GetTargetKind(TargetRef target, TargetKind* kind)
{
    TargetRec* rec = Live(IdOf(target));
    if (!rec)
        return false;
    if (kind)
        *kind = rec->kind;
    return true;
}

Status SetTargetParent(TargetRef target, TargetRef parent)
{
    if (!CheckMainThread("SetTargetParent"))
        return kErrWrongThread;
    Registry& r = Reg();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.targets.find(IdOf(target));
    if (it == r.targets.end() || !it->second->alive)
        return kErrTargetGone;
    // Refuse a parent that is the target itself or lies below it: the chain
    // would become a loop.
    uint64_t id = IdOf(parent);
    for (int depth = 0; id && depth < kMaxChain; ++depth) {
        if (id == IdOf(target))
            return kErrBadArgument;
        auto p = r.targets.find(id);
        if (p == r.targets.end() || !p->second->alive)
            return kErrTargetGone;
        id = p->second->parent;
    }
    it->second->parent = IdOf(parent);
    return kNoErr;
}

TargetRef GetTargetParent(TargetRef target)
{
    Registry& r = Reg();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.targets.find(IdOf(target));
    if (it == r.targets.end() || !it->second->alive)
        return nullptr;
    return RefOf(it->second->parent);
}

Status SetStandardHandler(TargetRef target, HandlerFn fn)
{
    if (!CheckMainThread("SetStandardHandler"))
        return kErrWrongThread;
    TargetRec* rec = Live(IdOf(target));
    if (!rec)
        return kErrTargetGone;
    rec->standard = std::move(fn);
    return kNoErr;
}

Status SetTargetOwner(TargetRef target, void* owner)
{
    if (!CheckMainThread("SetTargetOwner"))
        return kErrWrongThread;
    TargetRec* rec = Live(IdOf(target));
    if (!rec)
        return kErrTargetGone;
    rec->owner = owner;
    return kNoErr;
}

void* GetTargetOwner(TargetRef target)
{
    if (!IsMainThread())
        return nullptr;
    TargetRec* rec = Live(IdOf(target));
    return rec ? rec->owner : nullptr;
}

HandlerRef InstallHandler(TargetRef target, std::span<const EventType> types, HandlerFn fn)
{
    if (!fn || !CheckMainThread("InstallHandler"))
        return nullptr;
    Registry& r = Reg();
    TargetRec* rec = Live(IdOf(target));
    if (!rec)
        return nullptr;
    auto h = std::make_unique<Handler>();
    h->id = ++r.nextId;
    h->target = rec->id;
    h->types.assign(types.begin(), types.end());
    h->fn = std::move(fn);
    rec->handlers.insert(rec->handlers.begin(), h.get());
    {
        std::lock_guard<std::mutex> guard(r.lock);
        CountTypes(rec, h->types, +1);
    }
    uint64_t id = h->id;
    r.handlers.emplace(id, std::move(h));
    return reinterpret_cast<HandlerRef>(static_cast<uintptr_t>(id));
}

static Handler* LiveHandler(HandlerRef handler)
{
    Registry& r = Reg();
    auto it = r.handlers.find(HandlerIdOf(handler));
    return it == r.handlers.end() ? nullptr : it->second.get();
}

Status AddHandlerTypes(HandlerRef handler, std::span<const EventType> types)
{
    if (!CheckMainThread("AddHandlerTypes"))
        return kErrWrongThread;
    Handler* h = LiveHandler(handler);
    TargetRec* rec = h ? Live(h->target) : nullptr;
    if (!rec)
        return kErrTargetGone;
    std::vector<EventType> added;
    for (const EventType& t : types) {
        if (h->Matches(t.eventClass, t.kind))
            continue;
        h->types.push_back(t);
        added.push_back(t);
    }
    std::lock_guard<std::mutex> guard(Reg().lock);
    CountTypes(rec, added, +1);
    return kNoErr;
}

Status RemoveHandlerTypes(HandlerRef handler, std::span<const EventType> types)
{
    if (!CheckMainThread("RemoveHandlerTypes"))
        return kErrWrongThread;
    Handler* h = LiveHandler(handler);
    TargetRec* rec = h ? Live(h->target) : nullptr;
    if (!rec)
        return kErrTargetGone;
    std::vector<EventType> removed;
    for (const EventType& t : types) {
        auto it = std::find_if(h->types.begin(), h->types.end(), [&](const EventType& x) {
            return x.eventClass == t.eventClass && x.kind == t.kind;
        });
        if (it == h->types.end())
            continue;
        removed.push_back(*it);
        h->types.erase(it);
    }
    std::lock_guard<std::mutex> guard(Reg().lock);
    CountTypes(rec, removed, -1);
    return kNoErr;
}

Status RemoveHandler(HandlerRef handler)
{
    if (!CheckMainThread("RemoveHandler"))
        return kErrWrongThread;
    Registry& r = Reg();
    auto it = r.handlers.find(HandlerIdOf(handler));
    if (it == r.handlers.end())
        return kErrTargetGone;
    Handler* h = it->second.get();
    h->removed = true;
    TargetRec* rec = Live(h->target);
    if (rec) {
        std::erase(rec->handlers, h);
        {
            std::lock_guard<std::mutex> guard(r.lock);
            CountTypes(rec, h->types, -1);
        }
        if (rec->busy) {
            rec->graveyard.push_back(std::move(it->second));
            r.handlers.erase(it);
            return kNoErr;
        }
    }
    r.handlers.erase(it);
    return kNoErr;
}

Status SendOnMainThread(Event& event, TargetRef target, uint32_t options)
{
    Registry& r = Reg();
    uint64_t id = IdOf(target);
    if (!Live(id))
        return kErrTargetGone;
    r.current.push_back(&event);
    Status result = kErrEventNotHandled;
    for (int depth = 0; id && depth < kMaxChain; ++depth) {
        TargetRec* rec = Live(id);
        if (!rec)
            break;
        bool aliveAfter;
        uint64_t parent;
        {
            BusyGuard guard(rec);
            Dispatcher d{rec, &event, {}};
            for (Handler* h : rec->handlers)
                if (h->Matches(event.Class(), event.Kind()))
                    d.chain.push_back(h);
            result = d.Run(0);
            aliveAfter = rec->alive;
            std::lock_guard<std::mutex> lock(r.lock);
            parent = rec->parent;
        }
        // A target that went away while handling the event ends the send:
        // its parent link belongs to a dead object.
        if (result != kErrEventNotHandled || !aliveAfter || (options & kSendDontPropagate))
            break;
        id = parent;
    }
    r.current.pop_back();
    return result;
}

Status SendEvent(Event& event, TargetRef target, uint32_t options, int timeoutMs)
{
    if (IsMainThread())
        return SendOnMainThread(event, target, options);
    return SendAcrossThreads(event.shared_from_this(), target, options, timeoutMs);
}

static Property* FindProp(TargetRec* rec, OSType creator, OSType tag)
{
    for (Property& p : rec->props)
        if (p.creator == creator && p.tag == tag)
            return &p;
    return nullptr;
}

Status SetTargetProperty(TargetRef target, OSType creator, OSType tag, const void* data, size_t size)
{
    if (!CheckMainThread("SetTargetProperty"))
        return kErrWrongThread;
    if (size && !data)
        return kErrBadArgument;
    TargetRec* rec = Live(IdOf(target));
    if (!rec)
        return kErrTargetGone;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    std::vector<uint8_t> copy(bytes, bytes + size);
    if (Property* p = FindProp(rec, creator, tag))
        p->bytes = std::move(copy);
    else
        rec->props.push_back({creator, tag, std::move(copy)});
    return kNoErr;
}

Status GetTargetProperty(TargetRef target, OSType creator, OSType tag, void* out, size_t capacity,
                         size_t* actualSize)
{
    if (!CheckMainThread("GetTargetProperty"))
        return kErrWrongThread;
    TargetRec* rec = Live(IdOf(target));
    if (!rec)
        return kErrTargetGone;
    Property* p = FindProp(rec, creator, tag);
    if (!p)
        return kErrParamNotFound;
    size_t n = std::min(capacity, p->bytes.size());
    if (n && out)
        std::copy_n(p->bytes.data(), n, static_cast<uint8_t*>(out));
    if (actualSize)
        *actualSize = p->bytes.size();
    return kNoErr;
}

Status RemoveTargetProperty(TargetRef target, OSType creator, OSType tag)
{
    if (!CheckMainThread("RemoveTargetProperty"))
        return kErrWrongThread;
    TargetRec* rec = Live(IdOf(target));
    if (!rec)
        return kErrTargetGone;
    size_t before = rec->props.size();
    std::erase_if(rec->props, [&](const Property& p) { return p.creator == creator && p.tag == tag; });
    return rec->props.size() == before ? kErrParamNotFound : kNoErr;
}

const Event* CurrentEvent()
{
    if (!IsMainThread())
        return nullptr;
    Registry& r = Reg();
    return r.current.empty() ? nullptr : r.current.back();
}

void DestroyAllTargets()
{
    if (!CheckMainThread("DestroyAllTargets"))
        return;
    std::vector<uint64_t> ids;
    {
        Registry& r = Reg();
        std::lock_guard<std::mutex> guard(r.lock);
        for (auto& [id, rec] : r.targets)
            if (rec->alive)
                ids.push_back(id);
    }
    for (uint64_t id : ids)
        DestroyTarget(RefOf(id));
}

} // namespace plat
