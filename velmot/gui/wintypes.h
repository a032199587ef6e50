// Windows-shaped geometry records of the window toolkit.
//
// RECT is {left, top, right, bottom} (right and bottom exclusive), POINT an
// x/y pair and SIZE a width/height pair, all in pixels as signed 32-bit
// numbers, in the coordinates the operation that takes them names.
#pragma once

#include <cstdint>

struct RECT {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    bool operator==(RECT const&) const = default;
};

struct POINT {
    int32_t x = 0;
    int32_t y = 0;
    bool operator==(POINT const&) const = default;
};

struct SIZE {
    int32_t cx = 0;
    int32_t cy = 0;
    bool operator==(SIZE const&) const = default;
};
