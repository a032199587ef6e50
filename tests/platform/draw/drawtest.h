// Helpers shared by the drawing tests.
#pragma once

#include "platform/draw/bitmap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace drawtest {

// Bounding box of the pixels whose alpha is above 0, in rows from the top.
struct Box {
    int left = 0, top = 0, right = 0, bottom = 0; // right and bottom exclusive
    bool empty = true;
};
Box InkBounds(const plat::Bitmap& bitmap);
Box InkBounds(const plat::Bitmap& bitmap, int left, int top, int right, int bottom);

// Compares the bitmap with tests/platform/draw/golden/<name>.png, allowing
// small differences of antialiasing. With QOR_UPDATE_GOLDEN=1 the golden
// file is (re)written instead, for review by eye. On a mismatch the actual
// picture is saved under the test's home folder and its path reported.
::testing::AssertionResult MatchesGolden(const plat::Bitmap& bitmap, const std::string& name);

inline uint8_t Alpha(uint32_t argb) { return argb >> 24; }
inline uint8_t Red(uint32_t argb) { return (argb >> 16) & 0xFF; }
inline uint8_t Green(uint32_t argb) { return (argb >> 8) & 0xFF; }
inline uint8_t Blue(uint32_t argb) { return argb & 0xFF; }

} // namespace drawtest
