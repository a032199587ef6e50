#include "platform/services/dispatch.h"

#include <deque>
#include <mutex>
#include <utility>

namespace plat {
namespace {

struct Dispatch {
    std::mutex lock;
    TaskPoster poster;
    std::deque<Task> pending;
};

// Never destroyed: tasks may be posted while static objects are torn down.
Dispatch& State()
{
    static Dispatch* state = new Dispatch;
    return *state;
}

} // namespace

void SetMainThreadPoster(TaskPoster poster)
{
    Dispatch& d = State();
    std::deque<Task> queued;
    {
        std::lock_guard<std::mutex> guard(d.lock);
        d.poster = std::move(poster);
        if (d.poster)
            queued.swap(d.pending);
    }
    for (Task& t : queued)
        d.poster(std::move(t));
}

void PostToMainThread(Task task)
{
    Dispatch& d = State();
    TaskPoster poster;
    {
        std::lock_guard<std::mutex> guard(d.lock);
        if (!d.poster) {
            d.pending.push_back(std::move(task));
            return;
        }
        poster = d.poster;
    }
    poster(std::move(task));
}

int PumpPendingTasks()
{
    Dispatch& d = State();
    std::deque<Task> queued;
    {
        std::lock_guard<std::mutex> guard(d.lock);
        queued.swap(d.pending);
    }
    for (Task& t : queued)
        t();
    return static_cast<int>(queued.size());
}

} // namespace plat
