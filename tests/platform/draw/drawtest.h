// Helpers shared by the drawing tests: the pixel helpers of
// tests/support/pixels.h, with golden pictures in tests/platform/draw/golden/.
#pragma once

#include "tests/support/pixels.h"

namespace drawtest {

using pixeltest::Alpha;
using pixeltest::Blue;
using pixeltest::Box;
using pixeltest::Green;
using pixeltest::InkBounds;
using pixeltest::Red;

inline ::testing::AssertionResult MatchesGolden(const plat::Bitmap& bitmap, const std::string& name)
{
    return pixeltest::MatchesGolden(bitmap, "platform/draw/golden", name);
}

} // namespace drawtest
