// The application object that fonts, drawing and printing need.
#pragma once

namespace plat {

// Makes sure a Qt application object exists, creating a widgets
// application when there is none (for tools, tests and benchmarks that draw
// without the event loop). The event layer's own application object, made
// first, is used as it is. Returns whether an application object exists
// that supports fonts and drawing. Main thread only.
bool EnsureGuiApplication();

} // namespace plat
