// Icons registered under a (creator, type) pair, and the references that
// menus, controls, windows and drawing hold to them.
//
// A program registers its icon files once (a PNG each) and later fetches
// them by the pair alone. A reference keeps its picture alive: an icon that
// is unregistered while references are held stays usable through them
// until the last one is released. Handles are numbers checked against the
// registry, so a stale reference is refused, never followed. Main thread.
#pragma once

#include "platform/draw/bitmap.h"
#include "platform/events/windows.h"

#include <string>

namespace plat {

struct OpaqueIcon;
using IconRef = OpaqueIcon*; // an id, never a pointer to memory

// Registers the picture of a PNG file under (creator, type) and returns a
// reference the caller releases. A pair registered before is taken over
// by the new picture for later GetIconRef calls; references to the old one
// stay valid. Null when the file cannot be read.
IconRef RegisterIconFromFile(OSType creator, OSType type, const std::string& path);

// Removes the pair from the registry (kErrParamNotFound when it is not
// registered). References held stay valid until released.
Status UnregisterIcon(OSType creator, OSType type);

// A new reference to the icon registered under the pair, or null.
IconRef GetIconRef(OSType creator, OSType type);

Status AcquireIconRef(IconRef icon);
Status ReleaseIconRef(IconRef icon);
bool IsValidIconRef(IconRef icon);

// The icon's picture; the null image for a stale reference.
Image IconImage(IconRef icon);

// The icon a window shows for what it holds (null: none). The window does
// not keep a reference: GetWindowProxyIcon answers null once the icon is
// gone.
Status SetWindowProxyIcon(WindowRef window, IconRef icon);
IconRef GetWindowProxyIcon(WindowRef window);

} // namespace plat
