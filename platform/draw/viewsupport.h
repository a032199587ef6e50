// What the drawing layer does for views (platform/events/views.h): the font
// a view's control shows its text in, and a picture of a view as it paints.
// Main thread.
#pragma once

#include "platform/draw/bitmap.h"
#include "platform/events/views.h"

#include <memory>
#include <string>

namespace plat {

// A control's font. An empty family means the window system's standard
// font for controls (the style is then reset entirely). The family goes
// through SubstituteFamily (font.h); the size is in pixels.
struct ViewFontStyle {
    std::string family;
    int pixelSize = 0;
    bool bold = false;
};

// Sets the font of the view's widget and of the widgets inside it that do
// not set their own. kErrTargetGone for a stale view, kErrBadArgument for a size
// not above 0 with a family.
Status SetViewFont(ViewRef view, const ViewFontStyle& style);
// The font the view's widget uses now (its family as the font system
// resolved it); an empty family for a stale view.
ViewFontStyle GetViewFont(ViewRef view);

// Paints the view (and its subviews) into a new bitmap of the view's size,
// through the same draw events that paint it on screen: row 0 of the
// bitmap is the view's top row. Null for a stale view or a view without
// area.
std::unique_ptr<Bitmap> GrabView(ViewRef view);

} // namespace plat
