// Qt side of icon references (platform/ only).
#pragma once

#include "platform/draw/icons.h"

#include <QIcon>
#include <QPixmap>

namespace plat {

// The icon as Qt shows it; a null icon for a stale reference.
QIcon QIconOf(IconRef icon);
QPixmap QPixmapOf(IconRef icon);

} // namespace plat
