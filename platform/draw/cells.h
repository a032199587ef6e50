// Cell-grid painting in batches, for a terminal screen's paint: runs of
// cells of one font and one pair of colours, each drawn with one call, plus
// the rectangle fills, inversions and stretched runs around them.
//
// A CellPainter lives for one paint (or one batch of drawing) on one
// context. Its coordinates are whole pixels in the context's current user
// space, which must run top-down (y grows downward: a view's own space, or
// a bitmap's after a flip) and must not change while the painter lives;
// characters come out upright in it. Drawing through the context itself may
// be mixed in (shapes for graphic characters, say): the context takes its
// own transform back before it draws.
//
// When the surface is a raster image aligned to the user space's pixels (a
// view or a bitmap, one device pixel per unit, at most flipped vertically),
// each run is composed off screen from glyph masks rendered once per glyph
// and copied to the surface in one blit. Otherwise (print pages, scaled or
// rotated spaces, text antialiasing off) runs are drawn as glyph runs on
// the painter, with the same result. The context's shadow does not apply.
//
// Main thread only.
#pragma once

#include "platform/draw/geometry.h"

#include <cstdint>
#include <memory>
#include <string_view>

namespace plat {

class DrawContext;
class Font;

// CellRun::flags.
constexpr uint32_t kCellUnderline = 1; // a one-pixel line in the fore colour along the run's bottom row
constexpr uint32_t kCellWide = 2;      // every character takes two cells

// One run: characters of one font and one pair of colours on a row of
// cells. The run replaces its cells: background, cursor, characters,
// underline; nothing of what was there shows through, and glyphs that
// reach past the run's ends are cut there.
struct CellRun {
    const Font* font = nullptr;
    int x = 0; // left edge of the first cell
    int y = 0; // top edge of the row
    // One character per cell (two cells with kCellWide). 0 and spaces draw
    // no glyph; characters the font lacks come from the face that
    // fontconfig's fallback order gives, fitted into their cells; wide
    // characters of the symbol blocks (emoji) come from a colour face where
    // one has them.
    std::u32string_view cells;
    // When not empty: the run's one cell shows this text, a character with
    // its combining marks (joiners, variation selectors), laid out as one;
    // cells then holds its first character.
    std::u32string_view cluster;
    Color fore;
    Color back;
    uint32_t flags = 0;
    // A rectangle inside the run (same coordinates) filled with
    // cursorColor instead of the background, characters drawn over it.
    // Empty (the default): no cursor.
    Rect cursor;
    Color cursorColor;
};

// How DrawRunStretched puts a run on a row of double-size characters.
enum class CellStretch {
    DoubleWidth,       // twice as wide, the full cell height
    DoubleHeightTop,   // twice as wide; the top half of the cells fills the row
    DoubleHeightBottom // twice as wide; the bottom half of the cells fills the row
};

class CellPainter {
public:
    // Cells of cellWidth x cellHeight pixels with the baseline `baseline`
    // pixels below a cell's top edge.
    CellPainter(DrawContext& context, int cellWidth, int cellHeight, int baseline);
    ~CellPainter(); // the context's own transform and blend mode again
    CellPainter(const CellPainter&) = delete;
    CellPainter& operator=(const CellPainter&) = delete;

    void DrawRun(const CellRun& run);
    // The run as it would be drawn at (run.x, run.y), stretched into the box
    // at (run.x, run.y) that is twice the run's width and one cell high.
    void DrawRunStretched(const CellRun& run, CellStretch how);

    // Rectangles in the same coordinates. FillRect blends like the
    // context's FillRect; ClearRect makes the pixels fully transparent;
    // InvertRect inverts the colours (a cursor drawn over characters).
    void FillRect(const Rect& r, const Color& c);
    void ClearRect(const Rect& r);
    void InvertRect(const Rect& r);

    // Whether runs are composed and blitted (see above); for tests.
    bool Composes() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace plat
