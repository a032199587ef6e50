// Invalidation from any thread: a worker that changed what a view shows
// marks it for repainting; the areas are kept here and handed to the main
// thread in one task, however many calls came meanwhile.
#include "platform/events/bridge_qt.h"
#include "platform/events/queue.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace plat::bridge {
namespace {

// More separate rectangles than this per view become their union.
constexpr size_t kMaxRects = 16;

struct Pending {
    bool whole = false;
    std::vector<RectI> rects;
};

struct Invalidations {
    std::mutex lock;
    std::unordered_map<ViewRef, Pending> views;
    bool posted = false;
};

Invalidations& Shared()
{
    static auto* shared = new Invalidations;
    return *shared;
}

bool Contains(const RectI& outer, const RectI& inner)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

RectI Union(const RectI& a, const RectI& b)
{
    return RectI{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                 std::max(a.bottom, b.bottom)};
}

void Add(Pending& p, const RectI* rect)
{
    if (p.whole)
        return;
    if (!rect) {
        p.whole = true;
        p.rects.clear();
        return;
    }
    if (rect->Width() <= 0 || rect->Height() <= 0)
        return;
    for (const RectI& r : p.rects)
        if (Contains(r, *rect))
            return;
    std::erase_if(p.rects, [rect](const RectI& r) { return Contains(*rect, r); });
    if (p.rects.size() < kMaxRects) {
        p.rects.push_back(*rect);
        return;
    }
    RectI all = *rect;
    for (const RectI& r : p.rects)
        all = Union(all, r);
    p.rects.assign(1, all);
}

// On the main thread: everything kept so far.
void Flush()
{
    std::unordered_map<ViewRef, Pending> views;
    {
        Invalidations& s = Shared();
        std::lock_guard<std::mutex> guard(s.lock);
        views.swap(s.views);
        s.posted = false;
    }
    for (auto& [view, p] : views) {
        if (!IsViewValid(view))
            continue; // gone meanwhile
        if (p.whole) {
            SetViewNeedsDisplay(view, nullptr);
            continue;
        }
        for (const RectI& r : p.rects)
            SetViewNeedsDisplay(view, &r);
    }
}

} // namespace

Status PostViewInvalidation(ViewRef view, const RectI* rect)
{
    if (!ViewTarget(view))
        return kErrTargetGone;
    Invalidations& s = Shared();
    bool post = false;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        Add(s.views[view], rect);
        post = !s.posted;
        s.posted = true;
    }
    if (!post)
        return kNoErr;
    const Status status = PostTask(Flush);
    if (status != kNoErr) {
        std::lock_guard<std::mutex> guard(s.lock);
        s.posted = false;
        s.views.clear();
    }
    return status;
}

} // namespace plat::bridge
