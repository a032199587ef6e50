#include "outside/corvane/vtpalette.h"

#include <algorithm>
#include <cstdlib>

namespace vt {

namespace {

constexpr int kCube[6] = {0, 95, 135, 175, 215, 255};

int CubeLevel(int v)
{
    int best = 0;
    for (int i = 1; i < 6; ++i)
        if (std::abs(kCube[i] - v) < std::abs(kCube[best] - v))
            best = i;
    return best;
}

} // namespace

void PaletteRgb(int index, int* r, int* g, int* b)
{
    index = std::clamp(index, 16, 255);
    if (index < 232) {
        int const n = index - 16;
        *r = kCube[n / 36];
        *g = kCube[(n / 6) % 6];
        *b = kCube[n % 6];
    } else {
        *r = *g = *b = 8 + 10 * (index - 232);
    }
}

int NearestPaletteIndex(int r, int g, int b)
{
    auto dist = [&](int r2, int g2, int b2) {
        return (r - r2) * (r - r2) + (g - g2) * (g - g2) + (b - b2) * (b - b2);
    };
    int const lr = CubeLevel(r), lg = CubeLevel(g), lb = CubeLevel(b);
    int const cube = 16 + 36 * lr + 6 * lg + lb;
    int const cubeDist = dist(kCube[lr], kCube[lg], kCube[lb]);
    int const grey = std::clamp(((r + g + b) / 3 - 3) / 10, 0, 23);
    int const value = 8 + 10 * grey;
    return dist(value, value, value) < cubeDist ? 232 + grey : cube;
}

} // namespace vt
