// Bare Qt drawing, measured next to the drawing layer by the benchmarks of
// the layers above the platform layer (which include no Qt themselves):
// cell runs painted with QPainter alone, the usual way.
//
// Main thread, with the application object (EnsureGuiApplication or
// StartApplication).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat::benchref {

// One run of cells: `count` characters from `text` at the pixel (x, y) of
// the run's top-left cell, colours as 0xAARRGGBB.
struct CellRunRef {
    int x = 0;
    int y = 0;
    const char32_t* text = nullptr;
    int count = 0;
    uint32_t fore = 0;
    uint32_t back = 0;
    bool bold = false;
    bool underline = false;
};

// Draws runs with one QPainter per frame: per run a fill, the glyph indexes
// looked up, one glyph run and an underline. Into an image of its own, or
// in the paint event of a plain opaque widget in a window of its own.
class QtCells {
public:
    QtCells(const std::string& family, int pixelSize, int cellWidth, int cellHeight, int baseline);
    ~QtCells();
    QtCells(const QtCells&) = delete;
    QtCells& operator=(const QtCells&) = delete;

    bool Ok() const;

    void DrawIntoImage(int width, int height, const std::vector<CellRunRef>& runs);

    // Shows the window (false when it does not come up).
    bool OpenWindow(int width, int height);
    // Paints the whole window now with these runs.
    void RepaintWindow(const std::vector<CellRunRef>& runs);
    // Marks the rows' rectangle for repainting and runs the event loop
    // until the window has painted it; the paint draws the runs whose row
    // meets the area asked for.
    void UpdateWindowRows(const std::vector<CellRunRef>& runs, int top, int bottom);
    int Paints() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace plat::benchref
