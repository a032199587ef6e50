// The application object that fonts, drawing and printing need.
#pragma once

namespace plat {

// Makes sure a Qt application object exists, creating a widgets
// application when there is none (for tools, tests and benchmarks that draw
// without the event loop). The event layer's own application object, made
// first, is used as it is. Returns whether an application object exists
// that supports fonts and drawing. Main thread only.
bool EnsureGuiApplication();

// Drops the notes Qt prints when a font lacks the OpenType tables of a
// script it lays out ("OpenType support missing for ..."): a terminal shows
// whatever the host sends, binary data included, and the text is laid out
// all the same. Every other message goes on to the handler installed
// before. Installed once; EnsureGuiApplication and the event layer's start
// call it.
void QuietTextShapingNotes();

} // namespace plat
