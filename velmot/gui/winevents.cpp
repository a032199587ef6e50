#include "velmot/gui/winevents.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"

#include <cerrno>
#include <cstring>
#include <unordered_set>

namespace {

// Objects whose deletion is posted and not yet done; one that is deleted
// otherwise meanwhile leaves the set, so its posted task finds nothing.
std::unordered_set<TEventHandler*>& PendingDeletes()
{
    static auto* pending = new std::unordered_set<TEventHandler*>;
    return *pending;
}

} // namespace

TCarbonEvent::TCarbonEvent(FOURCHARCODE eventClass, uint32_t kind)
    : fOwned(plat::Event::Create(eventClass, kind)), fEvent(fOwned.get())
{
}

TCarbonEvent::TCarbonEvent(plat::Event& event) : fEvent(&event) {}

plat::Status TCarbonEvent::SendToEventTarget(plat::TargetRef target, uint32_t options)
{
    return plat::SendEvent(*fEvent, target, options);
}

plat::Status TCarbonEvent::PostToQueue(plat::TargetRef target)
{
    // The queue keeps the event alive until it is delivered; a wrapped event
    // that nobody shares cannot be handed over.
    plat::EventPtr event = fOwned ? fOwned : fEvent->shared_from_this();
    return plat::PostEvent(event, target);
}

TEventHandler::~TEventHandler()
{
    // Deleting an object whose handler is on the stack leaves that handler
    // running on freed memory: DeleteLater is the way.
    VASSERT(fHolds == 0, "fHolds==0", nullptr);
    PendingDeletes().erase(this);
    RemoveEventHandler();
}

void TEventHandler::DeleteLater()
{
    TARVOAPP::CheckCallerThread("TEventHandler::DeleteLater");
    if (fDeletePending)
        return;
    fDeletePending = true;
    if (fHolds == 0)
        ScheduleDelete();
}

void TEventHandler::ScheduleDelete()
{
    PendingDeletes().insert(this);
    TEventHandler* const self = this;
    plat::PostTask([self] {
        if (!PendingDeletes().count(self) || self->fHolds > 0)
            return; // gone already, or held again: the last hold posts anew
        PendingDeletes().erase(self);
        delete self;
    });
}

TEventHandler::HOLD::HOLD(TEventHandler& object) : fObject(object)
{
    ++fObject.fHolds;
}

TEventHandler::HOLD::~HOLD()
{
    if (--fObject.fHolds == 0 && fObject.fDeletePending)
        fObject.ScheduleDelete();
}

plat::Status TEventHandler::RegisterForEvents(size_t count, plat::EventType const* types)
{
    plat::TargetRef target = GetEventTarget();
    if (!target)
        return plat::kErrTargetGone;
    if (fHandler && (fHandlerTarget != target || !plat::IsTargetAlive(fHandlerTarget)))
        RemoveEventHandler();
    if (!fHandler) {
        fHandler = plat::InstallHandler(target, {types, count}, [this](plat::HandlerCall& call, plat::Event& e) {
            HOLD hold(*this);
            TCarbonEvent event(e);
            return HandleEvent(&call, event);
        });
        if (!fHandler)
            return plat::IsMainThread() ? plat::kErrTargetGone : plat::kErrWrongThread;
        fHandlerTarget = target;
        return plat::kNoErr;
    }
    return plat::AddHandlerTypes(fHandler, {types, count});
}

void TEventHandler::RemoveEventHandler()
{
    if (!fHandler)
        return;
    // A handler whose target is gone went with it; removing it again only
    // answers that it is unknown.
    plat::RemoveHandler(fHandler);
    fHandler = nullptr;
    fHandlerTarget = nullptr;
}

void VerifyFailed(char const* expression, char const* file, int line, int status)
{
    int err = errno;
    char const* source = file ? file : "";
    for (char const* p = source; *p; ++p)
        if (*p == '/')
            source = p + 1;
    LOGIT("%s WARNING! verify(%s) failed %s at %s %d with %d %s (Carbon) or %d %s (posix)\n", "DARWIN",
          expression ? expression : "", "", source, line, status, "", err, strerror(err));
}
