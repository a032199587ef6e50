// Pixel helpers shared by the drawing tests of the platform layer and of
// the toolkit: channels of a pixel, the box of the inked pixels, a picture
// of a bitmap as text, and comparison with golden pictures.
#pragma once

#include "platform/draw/bitmap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace pixeltest {

inline uint8_t Alpha(uint32_t argb) { return argb >> 24; }
inline uint8_t Red(uint32_t argb) { return (argb >> 16) & 0xFF; }
inline uint8_t Green(uint32_t argb) { return (argb >> 8) & 0xFF; }
inline uint8_t Blue(uint32_t argb) { return argb & 0xFF; }

// Bounding box of the pixels whose alpha is above `threshold`, in rows from
// the top; right and bottom exclusive.
struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool empty = true;
};
Box InkBounds(const plat::Bitmap& bitmap, int threshold = 0);
Box InkBounds(const plat::Bitmap& bitmap, int left, int top, int right, int bottom, int threshold = 0);

// The picture as rows of characters, one per pixel: '#' where alpha is
// above 127, '+' where it is above 0, '.' elsewhere. For messages.
std::string Picture(const plat::Bitmap& bitmap);

// Compares the bitmap with tests/<folder>/<name>.png, allowing small
// differences of antialiasing. With QOR_UPDATE_GOLDEN=1 the golden file is
// (re)written instead, for review by eye. On a mismatch the actual picture
// is saved under the test's home folder and its path reported.
::testing::AssertionResult MatchesGolden(const plat::Bitmap& bitmap, const std::string& folder,
                                         const std::string& name);

} // namespace pixeltest
