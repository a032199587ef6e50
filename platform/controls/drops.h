// Files dropped on views, and the cursor shapes the toolkit asks for.
//
// A view with drag tracking on receives 'cntl' events while something is
// dragged over it: 18 when it enters (a handler that wants the drop sets
// kParamWouldAcceptDrop), 19 while it moves within, 20 when it leaves and
// 21 when it is dropped (handled: taken). Each carries kParamDragUrls, the
// dragged URLs as UTF-8 text, one per line ("file:///home/a%20b.txt").
// Main thread.
#pragma once

#include "platform/events/views.h"

#include <string>
#include <vector>

namespace plat {

constexpr uint32_t kEventControlDragEnter = 18;
constexpr uint32_t kEventControlDragWithin = 19;
constexpr uint32_t kEventControlDragLeave = 20;
constexpr uint32_t kEventControlDragReceive = 21;
constexpr OSType kParamDragUrls = FourCC("drgu");        // UTF8
constexpr OSType kParamWouldAcceptDrop = FourCC("cldg"); // Bool

Status SetViewDragTracking(ViewRef view, bool on);
bool IsViewDragTracking(ViewRef view);

// Drags the URLs onto the view at a point of it and drops them (or, with
// `leave`, takes them away again) as the window system would. For tests
// of drops.
Status SimulateDrop(ViewRef view, const std::vector<std::string>& urls, PointI where, bool leave = false);

// Cursor shapes.
constexpr int kThemeArrowCursor = 0;
constexpr int kThemeCopyArrowCursor = 1;
void SetThemeCursor(int cursor);
int GetThemeCursor();

} // namespace plat
