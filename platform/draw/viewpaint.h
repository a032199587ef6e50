// A view-style paint pass over a bitmap: opens the same kind of painter a
// view's paint event hands to DrawContext::ForPainter, on a bitmap instead
// of a window. Used to render views off screen and to test view contexts
// without a display.
#pragma once

#include "platform/draw/bitmap.h"

#include <memory>

namespace plat {

class BitmapViewPainter {
public:
    // The bitmap's own context must not have been used yet: one surface
    // takes one painter at a time. Handle() is null otherwise.
    explicit BitmapViewPainter(Bitmap& bitmap);
    ~BitmapViewPainter(); // ends the painter
    BitmapViewPainter(const BitmapViewPainter&) = delete;
    BitmapViewPainter& operator=(const BitmapViewPainter&) = delete;

    void* Handle() const; // for DrawContext::ForPainter

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace plat
