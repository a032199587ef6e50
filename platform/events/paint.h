// The drawing surface handed to views while they paint.
//
// A 'cntl' kind 4 (draw) event carries kParamDrawContext, a PainterRef that
// is valid only while the event is being handled. The drawing layer wraps it
// (platform/draw/); inside platform/ it converts back to the painter with
// PainterFromRef in painter_qt.h. kParamUpdateRect gives the bounding box of
// the area to paint in view coordinates, kParamUpdateRegion the rectangles
// the area is made of (GetUpdateRects); the painter is clipped to them, so a
// view that repaints more than asked loses only time.
#pragma once

#include "platform/events/event.h"

#include <vector>

namespace plat {

struct OpaquePainter;
using PainterRef = OpaquePainter*;

constexpr OSType kParamUpdateRegion = FourCC("rgnl"); // IntRectList
constexpr OSType kTypeIntRectList = FourCC("irc#");  // RectI array

// The rectangles of a draw event's area to paint, in view coordinates:
// kParamUpdateRegion, or kParamUpdateRect alone for an event without it.
// Empty when the event carries neither.
inline std::vector<RectI> GetUpdateRects(const Event& drawEvent)
{
    std::vector<RectI> rects;
    size_t size = 0;
    if (drawEvent.GetParamBytes(kParamUpdateRegion, kTypeIntRectList, nullptr, 0, &size) == kNoErr) {
        rects.resize(size / sizeof(RectI));
        drawEvent.GetParamBytes(kParamUpdateRegion, kTypeIntRectList, rects.data(), rects.size() * sizeof(RectI));
        return rects;
    }
    RectI r;
    if (drawEvent.Get(kParamUpdateRect, kTypeIntRect, &r) == kNoErr)
        rects.push_back(r);
    return rects;
}

} // namespace plat
