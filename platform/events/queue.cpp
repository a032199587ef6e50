#include "platform/events/queue.h"

#include "platform/events/appevents.h"
#include "platform/events/core_internal.h"
#include "platform/events/timers.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

namespace plat {
namespace {

// The answer slot of one queued item. Finish runs exactly once; a waiting
// sender blocks on `sem` and reads `status` after it.
struct Waiter {
    std::binary_semaphore sem{0};
    std::atomic<bool> done{false};
    Status status = kErrEventNotHandled;
    Completion callback;

    void Finish(Status s)
    {
        if (done.exchange(true))
            return;
        status = s;
        if (callback)
            callback(s);
        sem.release();
    }
};

struct Item {
    EventPtr event; // null for a task
    std::function<void()> task;
    uint64_t target = 0; // 0: the application
    uint32_t options = 0;
    std::shared_ptr<Waiter> waiter;

    Item() = default;
    Item(Item&&) = default;
    Item& operator=(Item&&) = default;
    // Whatever path drops an item, its sender is answered.
    ~Item()
    {
        if (waiter)
            waiter->Finish(kErrQueueClosed);
    }
};

class BuiltinDriver final : public LoopDriver {
public:
    void Wake() override
    {
        std::lock_guard<std::mutex> guard(lock_);
        woken_ = true;
        cv_.notify_one();
    }
    void TimersChanged() override { Wake(); }
    void QuitFrame(LoopFrame&) override { Wake(); }

    void RunFrame(LoopFrame& frame) override
    {
        while (!frame.quit) {
            DispatchPending(256);
            FireDueTimers();
            if (frame.quit)
                break;
            std::unique_lock<std::mutex> guard(lock_);
            if (woken_) {
                woken_ = false;
                continue;
            }
            int64_t ms = MsUntilNextTimer();
            if (ms == 0)
                continue;
            // Bounded even without timers, so a clock moved by a test is
            // noticed.
            int64_t wait = ms < 0 ? 100 : std::min<int64_t>(ms, 100);
            cv_.wait_for(guard, std::chrono::milliseconds(wait), [&] { return woken_; });
            woken_ = false;
        }
    }

private:
    std::mutex lock_;
    std::condition_variable cv_;
    bool woken_ = false;
};

struct Core {
    std::mutex lock;
    std::deque<Item> items;       // under lock
    bool open = false;            // under lock
    bool wakePending = false;     // under lock
    LoopDriver* driver = nullptr; // under lock (read without it on the main thread)
    std::unique_ptr<BuiltinDriver> builtin;
    std::atomic<std::thread::id> mainThread{};
    std::atomic<OpaqueTarget*> app{nullptr};
    std::vector<LoopFrame*> frames; // main thread
    std::atomic<int> warnings{0};
};

Core& TheCore()
{
    static Core* c = new Core;
    return *c;
}

uint64_t IdOf(TargetRef t)
{
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(t));
}

Status Enqueue(Item item)
{
    Core& c = TheCore();
    std::lock_guard<std::mutex> guard(c.lock);
    if (!c.open)
        return kErrQueueClosed; // the item's destructor answers its sender
    c.items.push_back(std::move(item));
    if (!c.wakePending && c.driver) {
        c.wakePending = true;
        c.driver->Wake();
    }
    return kNoErr;
}

void Deliver(Item& item)
{
    std::shared_ptr<Waiter> waiter = std::move(item.waiter);
    if (!item.event) {
        item.task();
        if (waiter)
            waiter->Finish(kNoErr);
        return;
    }
    uint64_t target = item.target ? item.target : IdOf(ApplicationTarget());
    TargetRef ref = reinterpret_cast<TargetRef>(static_cast<uintptr_t>(target));
    Status s = IsTargetAlive(ref) ? SendOnMainThread(*item.event, ref, item.options) : kErrTargetGone;
    if (waiter)
        waiter->Finish(s);
}

LoopFrame* FindFrame(uint64_t token)
{
    for (LoopFrame* f : TheCore().frames)
        if (f->token == token)
            return f;
    return nullptr;
}

LoopDriver* Driver()
{
    return TheCore().driver;
}

} // namespace

void InitEventCore(LoopDriver* driver)
{
    Core& c = TheCore();
    if (IsEventCoreRunning()) {
        if (IsMainThread() && driver) {
            std::lock_guard<std::mutex> guard(c.lock);
            c.driver = driver;
            if (!c.items.empty()) {
                c.wakePending = true;
                c.driver->Wake();
            }
        }
        return;
    }
    c.mainThread.store(std::this_thread::get_id());
    if (!driver) {
        c.builtin = std::make_unique<BuiltinDriver>();
        driver = c.builtin.get();
    }
    {
        std::lock_guard<std::mutex> guard(c.lock);
        c.driver = driver;
        c.open = true;
        c.wakePending = false;
    }
    c.app.store(CreateTarget(TargetKind::Application));
}

void ShutdownEventCore()
{
    if (!IsEventCoreRunning() || !CheckMainThread("ShutdownEventCore"))
        return;
    Core& c = TheCore();
    if (!c.frames.empty()) {
        // The loops on the stack still use the driver; end them first.
        std::fprintf(stderr, "plat: ShutdownEventCore inside a running loop; refused\n");
        return;
    }
    std::deque<Item> dropped;
    {
        std::lock_guard<std::mutex> guard(c.lock);
        c.open = false;
        c.driver = nullptr;
        dropped.swap(c.items);
    }
    for (Item& item : dropped)
        if (item.waiter)
            item.waiter->Finish(kErrQueueClosed);
    dropped.clear();
    ResetAppEvents();
    RemoveAllLoopTimers();
    DestroyAllTargets();
    c.app.store(nullptr);
    c.builtin.reset();
    c.mainThread.store(std::thread::id());
}

bool IsEventCoreRunning()
{
    Core& c = TheCore();
    std::lock_guard<std::mutex> guard(c.lock);
    return c.open;
}

bool IsMainThread()
{
    return TheCore().mainThread.load() == std::this_thread::get_id();
}

bool CheckMainThread(const char* operation)
{
    if (IsMainThread())
        return true;
    if (TheCore().warnings.fetch_add(1) < 20)
        std::fprintf(stderr, "plat: %s called off the main thread; refused\n", operation);
    return false;
}

TargetRef ApplicationTarget()
{
    return TheCore().app.load();
}

Status PostEvent(const EventPtr& event, TargetRef target, uint32_t options)
{
    if (!event)
        return kErrBadArgument;
    Item item;
    item.event = event;
    item.target = IdOf(target);
    item.options = options;
    return Enqueue(std::move(item));
}

Status PostEventWithCompletion(const EventPtr& event, TargetRef target, uint32_t options, Completion done)
{
    auto waiter = std::make_shared<Waiter>();
    waiter->callback = std::move(done);
    if (!event) {
        waiter->Finish(kErrBadArgument);
        return kErrBadArgument;
    }
    Item item;
    item.event = event;
    item.target = IdOf(target);
    item.options = options;
    item.waiter = std::move(waiter);
    return Enqueue(std::move(item));
}

Status PostTask(std::function<void()> task)
{
    if (!task)
        return kErrBadArgument;
    Item item;
    item.task = std::move(task);
    return Enqueue(std::move(item));
}

static Status WaitFor(const std::shared_ptr<Waiter>& waiter, int timeoutMs)
{
    if (timeoutMs < 0)
        waiter->sem.acquire();
    else if (!waiter->sem.try_acquire_for(std::chrono::milliseconds(timeoutMs)))
        return kErrTimedOut;
    return waiter->status;
}

Status RunTaskAndWait(std::function<void()> task, int timeoutMs)
{
    if (!task)
        return kErrBadArgument;
    if (IsMainThread()) {
        task();
        return kNoErr;
    }
    auto waiter = std::make_shared<Waiter>();
    Item item;
    item.task = std::move(task);
    item.waiter = waiter;
    if (Status s = Enqueue(std::move(item)))
        return s;
    return WaitFor(waiter, timeoutMs);
}

Status SendAcrossThreads(const EventPtr& event, TargetRef target, uint32_t options, int timeoutMs)
{
    if (!target)
        target = ApplicationTarget();
    // A target that is already gone answers at once; one that goes away
    // while the event waits is answered when the event comes up.
    if (!IsTargetAlive(target))
        return kErrTargetGone;
    auto waiter = std::make_shared<Waiter>();
    Item item;
    item.event = event;
    item.target = IdOf(target);
    item.options = options;
    item.waiter = waiter;
    if (Status s = Enqueue(std::move(item)))
        return s;
    return WaitFor(waiter, timeoutMs);
}

int DispatchPending(int maxItems)
{
    if (!CheckMainThread("DispatchPending"))
        return 0;
    Core& c = TheCore();
    {
        // This run serves the wake that is outstanding; anything posted from
        // now on asks for a new one. Clearing late would leave items posted
        // by a handler that runs a nested loop without a wake.
        std::lock_guard<std::mutex> guard(c.lock);
        c.wakePending = false;
    }
    int n = 0;
    while (n < maxItems) {
        Item item;
        {
            std::lock_guard<std::mutex> guard(c.lock);
            if (c.items.empty())
                return n;
            item = std::move(c.items.front());
            c.items.pop_front();
        }
        ++n;
        Deliver(item);
    }
    // Out of budget: let the window system breathe, then go on.
    std::lock_guard<std::mutex> guard(c.lock);
    if (!c.items.empty() && !c.wakePending && c.driver) {
        c.wakePending = true;
        c.driver->Wake();
    }
    return n;
}

int ProcessPendingEvents(int maxItems)
{
    if (!CheckMainThread("ProcessPendingEvents"))
        return 0;
    int n = DispatchPending(maxItems);
    if (LoopDriver* d = Driver())
        d->ProcessNativeEvents();
    return n;
}

size_t PendingCount()
{
    Core& c = TheCore();
    std::lock_guard<std::mutex> guard(c.lock);
    return c.items.size();
}

int RunMainLoop()
{
    if (!CheckMainThread("RunMainLoop") || FindFrame(0) || !Driver())
        return -1;
    Core& c = TheCore();
    LoopFrame frame;
    c.frames.push_back(&frame);
    Driver()->RunFrame(frame);
    std::erase(c.frames, &frame);
    return frame.code;
}

void QuitMainLoop(int code)
{
    if (!IsMainThread()) {
        PostTask([code] { QuitMainLoop(code); });
        return;
    }
    LoopFrame* f = FindFrame(0);
    if (!f || f->quit)
        return;
    f->quit = true;
    f->code = code;
    if (LoopDriver* d = Driver())
        d->QuitFrame(*f);
}

bool IsMainLoopRunning()
{
    return IsMainThread() && FindFrame(0) != nullptr;
}

Status RunModalLoop(uint64_t token)
{
    if (!CheckMainThread("RunModalLoop"))
        return kErrWrongThread;
    if (token == 0 || FindFrame(token))
        return kErrBadArgument;
    if (!Driver())
        return kErrQueueClosed;
    Core& c = TheCore();
    LoopFrame frame;
    frame.token = token;
    c.frames.push_back(&frame);
    Driver()->RunFrame(frame);
    std::erase(c.frames, &frame);
    return kNoErr;
}

Status QuitModalLoop(uint64_t token)
{
    if (!CheckMainThread("QuitModalLoop"))
        return kErrWrongThread;
    LoopFrame* f = token ? FindFrame(token) : nullptr;
    if (!f)
        return kErrTargetGone;
    if (!f->quit) {
        f->quit = true;
        if (LoopDriver* d = Driver())
            d->QuitFrame(*f);
    }
    return kNoErr;
}

bool IsModalLoopRunning(uint64_t token)
{
    return IsMainThread() && token && FindFrame(token) != nullptr;
}

int LoopDepth()
{
    return IsMainThread() ? static_cast<int>(TheCore().frames.size()) : 0;
}

void NotifyTimersChanged()
{
    if (!IsMainThread())
        return;
    if (LoopDriver* d = Driver())
        d->TimersChanged();
}

} // namespace plat
