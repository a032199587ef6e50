// The application object of the platform layer: starting and stopping the
// window system under the event core, and the state of the input devices.
//
// StartApplication makes the calling thread the main thread, creates the Qt
// application when there is none, runs the event core's loops as Qt event
// loops, installs the one application-wide event filter that turns Qt's
// input and window events into our events (windows.h, views.h), connects
// PostToMainThread (platform/services/dispatch.h) to the main queue and
// turns SIGTERM and SIGHUP into a 'term' application event (appevents.h).
//
// Loops, posting and sending are those of queue.h and target.h.
#pragma once

#include "platform/events/codes.h"

namespace plat {

// `argc` and `argv` must live as long as the application (Qt keeps them);
// null gives a program name only. Returns false when the window system
// cannot start. Idempotent on the main thread.
bool StartApplication(int* argc = nullptr, char** argv = nullptr);

// Disposes of every window, answers every queued item, stops the SIGTERM
// handler and shuts the event core down. The Qt application is destroyed
// when StartApplication created it. Main thread, outside any loop.
void StopApplication();

bool IsApplicationRunning();

// Test mode: native dialogs are off, and a modal service (alert, modal
// window loop, and the dialogs built on OfferModal in modal.h) that finds no
// responder ends after `modalTimeoutMs` (alerts: at once) instead of
// waiting for a human. Main thread.
void SetTestMode(bool on, int modalTimeoutMs = 10000);
bool IsTestMode();
int TestModalTimeoutMs();

// Whether a loop runs inside the main loop now: a modal run, or the own
// loop of a dialog or pop-up menu. Main thread.
bool InNestedLoop();

// The keyboard modifiers held now (kMod* bits). Main thread.
uint32_t CurrentKeyModifiers();

// The mouse position in screen coordinates. Main thread.
PointI GetMousePosition();

// The time stamp of the event being handled, else the clock (NowMs).
uint64_t CurrentEventTime();

} // namespace plat
