// Bare Qt lists, measured next to the toolkit's list view by the
// benchmarks of the layers above the platform layer (which include no Qt
// themselves): a QTreeView over a QStandardItemModel, the usual way.
//
// Main thread, with the application started (StartApplication).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace plat::benchref {

class QtList {
public:
    // A shown window of this size holding one tree view with `columns`
    // columns (uniform row heights, no root decoration).
    QtList(int width, int height, int columns);
    ~QtList();
    QtList(const QtList&) = delete;
    QtList& operator=(const QtList&) = delete;

    bool Ok() const;
    // Appends one row per entry, its texts split at tabs into the columns.
    void Fill(const std::vector<std::u32string>& rows);
    void Clear();
    void Sort(int column, bool descending);
    // Scrolls to the pixel row `top` and paints the view now.
    void ScrollAndPaint(int top);
    int MaximumScroll() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace plat::benchref
