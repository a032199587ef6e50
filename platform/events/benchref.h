// Bare Qt, measured next to the event road by the benchmarks of the layers
// above the platform layer (which include no Qt themselves): the same work
// as a toolkit message, done with QCoreApplication::postEvent alone.
//
// Main thread, with the application started (StartApplication).
#pragma once

namespace plat::benchref {

// Posts `count` Qt events of four words each to one receiver and processes
// events until every one of them has been handled.
void QtPostDispatch(int count);

// A worker thread makes `count` round trips, each a posted Qt event and a
// wait on a semaphore that the receiver releases, while the main thread
// runs a Qt event loop. Returns when the worker is done.
void QtSendRoundTrips(int count);

} // namespace plat::benchref
