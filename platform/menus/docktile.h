// The application's tile: the picture the desktop shows for the program
// (in a notification area, where it has one) and the menu it offers there.
//
// The tile shows the application's picture with, optionally, a picture laid
// over it (a badge). Linux desktops have no dock: the tile is kept here as
// what it would show (GetApplicationDockTileImage), and a tray icon shows
// it where the desktop has a notification area (not offscreen).
//
// The tile's menu is asked of the application's handlers when it opens:
// 'appl' kind 20 (kEventAppGetDockTileMenu), a handler answering with a
// menu in kParamMenuRef (the tile takes that reference). Choosing an item
// sends its command to the application's handlers.
//
// Main thread only.
#pragma once

#include "platform/draw/bitmap.h"
#include "platform/menus/menus.h"

namespace plat {

constexpr OSType kEventClassApplication = FourCC("appl");
constexpr uint32_t kEventAppActivated = 1;
constexpr uint32_t kEventAppDeactivated = 2;
constexpr uint32_t kEventAppQuit = 3;
constexpr uint32_t kEventAppGetDockTileMenu = 20;
constexpr uint32_t kEventAppHidden = 107;
constexpr uint32_t kEventAppShown = 108;

constexpr OSType kParamMenuRef = FourCC("menu");
constexpr OSType kTypeMenuRef = FourCC("menu"); // MenuRef

// The application's own picture (the tray icon's; null: the window
// system's application icon).
Status SetApplicationDockTileImage(const Image& image);
// Lays the picture over the application's own (replacing an earlier one).
Status OverlayApplicationDockTileImage(const Image& image);
// Back to the application's own picture.
Status RestoreApplicationDockTileImage();
// The picture laid over the tile now; the null image when none.
Image GetApplicationDockTileOverlay();
// What the tile shows now: the application's picture (when set) with the
// overlay drawn over it, 128 x 128; the null image when neither is set.
Image GetApplicationDockTileImage();

// The tile's menu as the desktop would ask for it when it opens (the
// caller releases it); null when no handler answered.
MenuRef CopyDockTileMenu();

} // namespace plat
