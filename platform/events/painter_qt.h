// Qt side of PainterRef (platform/ only).
#pragma once

#include "platform/events/paint.h"

class QPainter;

namespace plat {

inline QPainter* PainterFromRef(PainterRef ref)
{
    return reinterpret_cast<QPainter*>(ref);
}

inline PainterRef RefFromPainter(QPainter* painter)
{
    return reinterpret_cast<PainterRef>(painter);
}

} // namespace plat
