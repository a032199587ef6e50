// Application events: open, reopen, open documents, open URLs, quit and
// terminate.
//
// They reach the program's one application-event handler on the main
// thread, in the order they were injected. Sources: the start of the main
// loop ('oapp', or 'odoc' and 'GURL' for the documents and URLs the program
// was started with), a second instance handing over its documents or asking
// to be reopened (the instance notification service injects 'odoc', 'GURL'
// or 'rapp'), quit requests ('quit'), SIGTERM and SIGHUP ('term'), and
// tests.
//
// The answer of the handler is only reported back; the platform never ends
// the main loop on its own while a handler is installed: the handler does
// that (QuitMainLoop) when it agrees to quit. Without a handler, 'quit' and
// 'term' end the main loop and every other event is declined.
#pragma once

#include "platform/events/codes.h"

#include <functional>
#include <string>
#include <vector>

namespace plat {

constexpr OSType kAppEventOpen = FourCC("oapp");
constexpr OSType kAppEventReopen = FourCC("rapp");
constexpr OSType kAppEventOpenDocuments = FourCC("odoc"); // items: file paths
constexpr OSType kAppEventOpenURL = FourCC("GURL");       // items: URL texts
constexpr OSType kAppEventQuit = FourCC("quit");
// SIGTERM or SIGHUP (items: the signal's name): end now, asking nobody.
constexpr OSType kAppEventTerminate = FourCC("term");

// Returns kNoErr when it handled the event, else kErrAppEventNotHandled (or
// another status).
using AppEventHandler = std::function<Status(OSType id, const std::vector<std::string>& items)>;

// Installs the handler (empty: removes it). Main thread.
void SetAppEventHandler(AppEventHandler handler);

// Queues an application event for the handler. Any thread. `done`, when
// given, receives the handler's answer (kErrQueueClosed when it never ran).
Status InjectAppEvent(OSType id, std::vector<std::string> items,
                      std::function<void(Status)> done = nullptr);

// A quit request from anywhere ('quit' with no items).
Status RequestQuit();

// Splits what the program was started with into the launch events: no
// items gives 'oapp'; otherwise one 'odoc' with the file paths (in order)
// and one 'GURL' with the texts that look like URLs ("scheme://..."). The
// events are queued, so they arrive once the main loop runs.
Status InjectLaunchEvents(const std::vector<std::string>& items);

// Turns SIGTERM and SIGHUP (the desktop session ending) into a 'term'
// event: the signal handler only writes one byte to a pipe; a small thread
// reads it and injects the event. Signals after the first are ignored while
// the program ends; a signal that comes while the event core is not
// running, finds the first one still untaken by the main thread a quarter
// of a second later (the main thread is stuck), or the end still going ten
// seconds later ends the program as if there were no handler. Returns false
// when the pipe or the handler cannot be set up. Idempotent.
bool InstallTerminationHandler();

// Restores the previous dispositions of SIGTERM and SIGHUP (or ignores them
// when the program is ending on one) and stops the reader thread.
void RemoveTerminationHandler();

// Clears the handler (event core shut-down).
void ResetAppEvents();

} // namespace plat
