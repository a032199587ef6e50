#include "velmot/gui/winevents.h"

#include "velmot/core/logit.h"

#include <cerrno>
#include <cstring>

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
    RemoveEventHandler();
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
