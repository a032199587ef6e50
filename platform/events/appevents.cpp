#include "platform/events/appevents.h"

#include "platform/events/queue.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <time.h>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace plat {
namespace {

AppEventHandler& Handler()
{
    static AppEventHandler* h = new AppEventHandler;
    return *h;
}

void Deliver(OSType id, const std::vector<std::string>& items, const std::function<void(Status)>& done)
{
    Status s;
    if (AppEventHandler h = Handler()) {
        s = h(id, items);
    } else if (id == kAppEventQuit || id == kAppEventTerminate) {
        QuitMainLoop(0);
        s = kNoErr;
    } else {
        s = kErrAppEventNotHandled;
    }
    if (done)
        done(s);
}

// The self-pipe of the signal handler. The handler may only use
// async-signal-safe calls: it writes the signal's number and restores
// errno.
int gPipe[2] = {-1, -1};
// What became of the first SIGTERM or SIGHUP: none yet, posted as the
// terminate event, or taken by the main thread (the program is ending),
// and since when (monotonic milliseconds). Further signals are ignored
// while the end is under way; one that finds the event still untaken after
// kStuckMs, or the end still going after kEndingMs, means the program
// cannot end on its own, and it then ends as it would without a handler.
enum : int { kTermNone = 0, kTermPosted = 1, kTermTaken = 2 };
volatile sig_atomic_t gTermState = kTermNone;
std::atomic<long long> gTermSince{0};
static_assert(std::atomic<long long>::is_always_lock_free, "used in a signal handler");
constexpr long long kStuckMs = 250;
constexpr long long kEndingMs = 10000;
constexpr int kTermSignals[] = {SIGTERM, SIGHUP};
struct sigaction gOldActions[2];
std::thread* gReader = nullptr;
std::mutex gTermLock;

constexpr char kByteStop = 0;

long long MonotonicMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t); // async-signal-safe
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void EndByDefault(int sig)
{
    signal(sig, SIG_DFL);
    raise(sig); // delivered once the handler returns
}

extern "C" void OnTerminate(int sig)
{
    int saved = errno;
    long long const now = MonotonicMs();
    long long const since = now - gTermSince.load();
    if (gTermState == kTermNone) {
        gTermState = kTermPosted;
        gTermSince = now;
        char b = static_cast<char>(sig);
        ssize_t ignored = write(gPipe[1], &b, 1);
        (void)ignored;
    } else if ((gTermState == kTermPosted && since >= kStuckMs) || (gTermState == kTermTaken && since >= kEndingMs)) {
        EndByDefault(sig);
    }
    errno = saved;
}

void ReadPipe(int fd)
{
    for (;;) {
        char b;
        ssize_t n = read(fd, &b, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || b == kByteStop)
            return;
        int const sig = static_cast<unsigned char>(b);
        // Without a running event core nobody would ever see the event: end
        // the way the signal ends a program that does not handle it.
        Status s = InjectAppEvent(kAppEventTerminate, {sig == SIGHUP ? "SIGHUP" : "SIGTERM"}, [](Status answer) {
            if (answer == kErrQueueClosed)
                return;
            gTermSince = MonotonicMs();
            gTermState = kTermTaken;
        });
        if (s != kNoErr) {
            signal(sig, SIG_DFL);
            kill(getpid(), sig);
            return;
        }
    }
}

void StopReader()
{
    char b = kByteStop;
    ssize_t ignored = write(gPipe[1], &b, 1);
    (void)ignored;
    gReader->join();
    delete gReader;
    gReader = nullptr;
    close(gPipe[0]);
    close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
}

} // namespace

void SetAppEventHandler(AppEventHandler handler)
{
    if (!CheckMainThread("SetAppEventHandler"))
        return;
    Handler() = std::move(handler);
}

Status InjectAppEvent(OSType id, std::vector<std::string> items, std::function<void(Status)> done)
{
    // The answer must reach `done` even when the task is dropped unrun, so
    // a shared flag tells the guard below whether the task ran.
    struct Guard {
        std::function<void(Status)> done;
        bool ran = false;
        ~Guard()
        {
            if (!ran && done)
                done(kErrQueueClosed);
        }
    };
    auto guard = std::make_shared<Guard>();
    guard->done = std::move(done);
    return PostTask([id, items = std::move(items), guard] {
        guard->ran = true;
        Deliver(id, items, guard->done);
    });
}

Status RequestQuit()
{
    return InjectAppEvent(kAppEventQuit, {});
}

Status InjectLaunchEvents(const std::vector<std::string>& items)
{
    if (items.empty())
        return InjectAppEvent(kAppEventOpen, {});
    std::vector<std::string> docs;
    std::vector<std::string> urls;
    for (const std::string& item : items) {
        size_t colon = item.find("://");
        bool url = colon != std::string::npos && colon > 0;
        for (size_t i = 0; url && i < colon; ++i) {
            char c = item[i];
            url = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                  (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        }
        (url ? urls : docs).push_back(item);
    }
    Status s = kNoErr;
    if (!docs.empty())
        s = InjectAppEvent(kAppEventOpenDocuments, std::move(docs));
    if (!urls.empty() && s == kNoErr)
        s = InjectAppEvent(kAppEventOpenURL, std::move(urls));
    return s;
}

bool InstallTerminationHandler()
{
    std::lock_guard<std::mutex> guard(gTermLock);
    if (gReader)
        return true;
    if (pipe2(gPipe, O_CLOEXEC) != 0)
        return false;
    // The write end must never block the signal handler.
    fcntl(gPipe[1], F_SETFL, fcntl(gPipe[1], F_GETFL) | O_NONBLOCK);
    gTermState = kTermNone;
    gTermSince = 0;
    struct sigaction sa = {};
    sa.sa_handler = OnTerminate;
    sigemptyset(&sa.sa_mask);
    for (int sig : kTermSignals)
        sigaddset(&sa.sa_mask, sig);
    sa.sa_flags = SA_RESTART;
    gReader = new std::thread(ReadPipe, gPipe[0]);
    for (size_t i = 0; i < std::size(kTermSignals); ++i) {
        if (sigaction(kTermSignals[i], &sa, &gOldActions[i]) != 0) {
            while (i-- > 0)
                sigaction(kTermSignals[i], &gOldActions[i], nullptr);
            StopReader();
            return false;
        }
    }
    return true;
}

void RemoveTerminationHandler()
{
    std::lock_guard<std::mutex> guard(gTermLock);
    if (!gReader)
        return;
    // A program that ends on a signal ignores further ones for its last
    // steps (the preferences are written after the loop).
    bool const ending = gTermState != kTermNone;
    for (size_t i = 0; i < std::size(kTermSignals); ++i) {
        if (ending)
            signal(kTermSignals[i], SIG_IGN);
        else
            sigaction(kTermSignals[i], &gOldActions[i], nullptr);
    }
    StopReader();
}

void ResetAppEvents()
{
    Handler() = nullptr;
}

} // namespace plat
