// The terminal frame the drawing benchmarks draw: runs of 8 cells whose
// colours and attributes (bold, underline, inverse) change from run to run
// and from frame to frame, and the same runs for the bare-Qt reference.
#pragma once

#include "platform/draw/benchref.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace benchsupport {

constexpr int kCellRun = 8;

// The 16 colours of a terminal palette, as 0xTTBBGGRR values.
constexpr uint32_t kPalette[16] = {
    0x00000000, 0x000000CD, 0x0000CD00, 0x0000CDCD, 0x00EE0000, 0x00CD00CD, 0x00CDCD00, 0x00E5E5E5,
    0x007F7F7F, 0x000000FF, 0x0000FF00, 0x0000FFFF, 0x00FF5C5C, 0x00FF00FF, 0x00FFFF00, 0x00FFFFFF,
};

struct CellAttributes {
    uint32_t fg, bg;
    bool bold, underline, inverse;
    uint32_t Fore() const { return inverse ? bg : fg; }
    uint32_t Back() const { return inverse ? fg : bg; }
};

inline CellAttributes AttributesOf(int row, int run, int frame)
{
    uint32_t h = static_cast<uint32_t>(row * 131 + run * 17 + frame * 7) * 2654435761u;
    return CellAttributes{kPalette[(h >> 4) & 15], kPalette[(h >> 8) & 7], ((h >> 12) & 3) == 0,
                          ((h >> 14) & 7) == 0, ((h >> 17) & 7) == 0};
}

// 0xTTBBGGRR (opaque) as 0xAARRGGBB.
inline uint32_t Argb(uint32_t v) { return 0xFF000000u | (v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16 & 0xFF); }

// Calls f(row, col, count, attributes) for each run of rows [first, last).
template <class F>
void ForEachRun(int cols, int first, int last, int frame, F&& f)
{
    for (int row = first; row < last; ++row)
        for (int col = 0, run = 0; col < cols; col += kCellRun, ++run)
            f(row, col, std::min(kCellRun, cols - col), AttributesOf(row, run, frame));
}

// The runs of rows [first, last) for the reference, over `text` (cols
// characters per row) on cells of the given size.
inline void ReferenceRuns(std::vector<plat::benchref::CellRunRef>& out, const char32_t* text, int cols, int first,
                          int last, int frame, int cellWidth, int cellHeight)
{
    out.clear();
    ForEachRun(cols, first, last, frame, [&](int row, int col, int count, const CellAttributes& a) {
        plat::benchref::CellRunRef r;
        r.x = col * cellWidth;
        r.y = row * cellHeight;
        r.text = text + size_t(row) * size_t(cols) + size_t(col);
        r.count = count;
        r.fore = Argb(a.Fore());
        r.back = Argb(a.Back());
        r.bold = a.bold;
        r.underline = a.underline;
        out.push_back(r);
    });
}

} // namespace benchsupport
