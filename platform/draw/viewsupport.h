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

// An opaque view paints every pixel of the area it is asked to paint, so
// nothing behind it (its superview, the window's background) is painted
// first when it changes, and ScrollView can move its pixels. A view is not
// opaque until set so. kErrTargetGone for a stale view.
Status SetViewOpaque(ViewRef view, bool opaque);
bool IsViewOpaque(ViewRef view);

// Moves the pixels of `area` (view coordinates; null: the whole view) by
// (dx, dy) and marks for repainting the part of `area` they uncovered, as
// well as whatever was already marked inside it, moved along. An opaque
// view that no other view overlaps has its pixels copied on screen; any
// other view has the whole area repainted. kErrTargetGone for a stale view.
Status ScrollView(ViewRef view, const RectI* area, int dx, int dy);

// Paints the view (and its subviews) into a new bitmap of the view's size,
// through the same draw events that paint it on screen: row 0 of the
// bitmap is the view's top row. Null for a stale view or a view without
// area.
std::unique_ptr<Bitmap> GrabView(ViewRef view);

// What the window system shows of the view now, without painting it:
// pixels as the last paint left them. Null for a stale or hidden view or
// when the window system cannot read its pixels back.
std::unique_ptr<Bitmap> GrabViewFromScreen(ViewRef view);

} // namespace plat
