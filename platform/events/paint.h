// The drawing surface handed to views while they paint.
//
// A 'cntl' kind 4 (draw) event carries kParamDrawContext, a PainterRef that
// is valid only while the event is being handled. The drawing layer wraps it
// (platform/draw/); inside platform/ it converts back to the painter with
// PainterFromRef in painter_qt.h. kParamUpdateRect gives the area to paint
// in view coordinates.
#pragma once

namespace plat {

struct OpaquePainter;
using PainterRef = OpaquePainter*;

} // namespace plat
