// The state of top-level windows beyond their bounds (windows.h): the
// displays, collapsing, zooming, stacking, transparency and activation.
// Main thread only; stale handles give kErrTargetGone or empty answers.
#pragma once

#include "platform/events/windows.h"

#include <vector>

namespace plat {

// The bounds of the active displays in screen coordinates, the main
// display first.
std::vector<RectI> GetDisplayBounds();

// Collapsing (minimising) and expanding a window. The window reports it
// with 'wind' 67/70.
Status CollapseWindow(WindowRef window, bool collapse);
bool IsWindowCollapsed(WindowRef window);

// Zooming a window out to the display's size and back in.
Status ZoomWindow(WindowRef window, bool zoomOut);
bool IsWindowZoomed(WindowRef window);

// The whole window's opacity, 0 to 1.
Status SetWindowAlpha(WindowRef window, double alpha);
double GetWindowAlpha(WindowRef window);

// Whether the window's background shows what lies behind it where
// nothing was painted (where the window system can compose windows).
// Set it before the window is first shown.
Status SetWindowTranslucent(WindowRef window, bool on);
bool IsWindowTranslucent(WindowRef window);

// Stacking: to the front without activating it, or behind `other`.
Status BringWindowToFront(WindowRef window);
Status SendWindowBehind(WindowRef window, WindowRef other);

// The active window (the one keys go to), or null.
WindowRef GetActiveWindow();

} // namespace plat
