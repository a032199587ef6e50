#include "platform/events/appevents.h"

#include "platform/events/queue.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
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
    } else if (id == kAppEventQuit) {
        QuitMainLoop(0);
        s = kNoErr;
    } else {
        s = kErrAppEventNotHandled;
    }
    if (done)
        done(s);
}

// The self-pipe of the SIGTERM handler. The handler may only use
// async-signal-safe calls: it writes one byte and restores errno.
int gPipe[2] = {-1, -1};
// Set from the signal until the quit event has been answered: a second
// SIGTERM meanwhile means the program cannot answer (its main thread is
// stuck), and it then ends as it would without a handler.
volatile sig_atomic_t gTermPending = 0;
struct sigaction gOldAction;
std::thread* gReader = nullptr;
std::mutex gTermLock;

constexpr char kByteSignal = 'T';
constexpr char kByteStop = 'S';

extern "C" void OnTerminate(int)
{
    int saved = errno;
    if (gTermPending) {
        signal(SIGTERM, SIG_DFL);
        raise(SIGTERM); // delivered once this handler returns
        errno = saved;
        return;
    }
    gTermPending = 1;
    char b = kByteSignal;
    ssize_t ignored = write(gPipe[1], &b, 1);
    (void)ignored;
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
        // Without a running event core nobody would ever see the quit: end
        // the way SIGTERM ends a program that does not handle it.
        Status s = InjectAppEvent(kAppEventQuit, {}, [](Status answer) {
            if (answer != kErrQueueClosed)
                gTermPending = 0;
        });
        if (s != kNoErr) {
            signal(SIGTERM, SIG_DFL);
            kill(getpid(), SIGTERM);
            return;
        }
    }
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
    gTermPending = 0;
    struct sigaction sa = {};
    sa.sa_handler = OnTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    gReader = new std::thread(ReadPipe, gPipe[0]);
    if (sigaction(SIGTERM, &sa, &gOldAction) != 0) {
        char b = kByteStop;
        ssize_t ignored = write(gPipe[1], &b, 1);
        (void)ignored;
        gReader->join();
        delete gReader;
        gReader = nullptr;
        close(gPipe[0]);
        close(gPipe[1]);
        gPipe[0] = gPipe[1] = -1;
        return false;
    }
    return true;
}

void RemoveTerminationHandler()
{
    std::lock_guard<std::mutex> guard(gTermLock);
    if (!gReader)
        return;
    sigaction(SIGTERM, &gOldAction, nullptr);
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

void ResetAppEvents()
{
    Handler() = nullptr;
}

} // namespace plat
