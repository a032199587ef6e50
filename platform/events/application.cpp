// Starting the window system under the event core: the Qt loop driver, the
// event filter, the main-thread poster and the SIGTERM handler.
#include "platform/events/application.h"

#include "platform/draw/runtime.h"

#include "platform/events/appevents.h"
#include "platform/events/bridge_qt.h"
#include "platform/events/modal.h"
#include "platform/events/queue.h"
#include "platform/events/timers.h"
#include "platform/services/dispatch.h"
#include "platform/services/folders.h"

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace plat {
namespace {

// Queued items delivered per wake before Qt's own events get a turn.
constexpr int kWakeBudget = 1000;

QEvent::Type WakeEventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

// Runs the event core's loops as Qt event loops. The queue is served by a
// posted Qt event, so Qt's own nested loops (dialogs, menus) serve it too;
// one precise single-shot timer stands for all loop timers.
class QtDriver final : public QObject, public LoopDriver {
public:
    QtDriver()
    {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            FireDueTimers();
            Reschedule();
        });
    }

    void Wake() override { QCoreApplication::postEvent(this, new QEvent(WakeEventType())); }

    void TimersChanged() override { Reschedule(); }

    void RunFrame(LoopFrame& frame) override
    {
        QEventLoop loop;
        frame.native = &loop;
        Reschedule();
        if (!frame.quit)
            loop.exec(QEventLoop::AllEvents);
        frame.native = nullptr;
    }

    void QuitFrame(LoopFrame& frame) override
    {
        if (frame.native)
            static_cast<QEventLoop*>(frame.native)->exit(frame.code);
    }

    void ProcessNativeEvents() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }

    bool event(QEvent* e) override
    {
        if (e->type() != WakeEventType())
            return QObject::event(e);
        DispatchPending(kWakeBudget);
        return true;
    }

private:
    void Reschedule()
    {
        const int64_t ms = MsUntilNextTimer();
        if (ms < 0) {
            timer_.stop();
            return;
        }
        timer_.start(static_cast<int>(std::min<int64_t>(ms, 1 << 30)));
    }

    QTimer timer_;
};

struct AppState {
    bool running = false;
    QtDriver* driver = nullptr;
    QApplication* ownApp = nullptr;
    bool testMode = false;
    int modalTimeoutMs = 10000;
    int argc = 1;
    char name[4] = "qor";
    char* argv[2] = {name, nullptr};
    // What Qt was given when the caller's program name would not do; Qt
    // keeps the vector for the application's lifetime.
    std::string qtName;
    std::vector<char*> qtArgv;
    int qtArgc = 0;
};

AppState& State()
{
    static auto* s = new AppState;
    return *s;
}

// Qt names the program after the last part of argv[0]: its application
// name, the X11 class of every window and the title of untitled ones. A
// launcher may hand over a folder there (the program's start passes
// "<stage>/."), which would name everything ".".
bool NamesAFolder(const char* arg0)
{
    if (!arg0)
        return true;
    const char* slash = std::strrchr(arg0, '/');
    const char* last = slash ? slash + 1 : arg0;
    return !*last || !std::strcmp(last, ".") || !std::strcmp(last, "..");
}

// Starts Qt with the executable's own path in place of a folder in argv[0].
// Qt takes its own options out of the vector it is given; the caller's
// vector is brought in line, with its argv[0] left as it was.
QApplication* NewApplication(AppState& st, int* argc, char** argv)
{
    const std::string exe = ExecutablePath();
    if (*argc < 1 || !NamesAFolder(argv[0]) || exe.empty())
        return new QApplication(*argc, argv);
    st.qtName = exe;
    st.qtArgv.assign(argv, argv + *argc);
    st.qtArgv[0] = st.qtName.data();
    st.qtArgv.push_back(nullptr);
    st.qtArgc = *argc;
    auto* app = new QApplication(st.qtArgc, st.qtArgv.data());
    for (int i = 1; i < st.qtArgc; ++i)
        argv[i] = st.qtArgv[static_cast<size_t>(i)];
    argv[st.qtArgc] = nullptr;
    *argc = st.qtArgc;
    return app;
}

} // namespace

bool StartApplication(int* argc, char** argv)
{
    AppState& st = State();
    if (st.running)
        return IsMainThread();
    if (!QCoreApplication::instance()) {
        if (!argc || !argv) {
            argc = &st.argc;
            argv = st.argv;
        }
        st.ownApp = NewApplication(st, argc, argv);
    } else if (!qobject_cast<QApplication*>(QCoreApplication::instance()) ||
               QCoreApplication::instance()->thread() != QThread::currentThread()) {
        std::fprintf(stderr, "plat: StartApplication needs a QApplication of this thread\n");
        return false;
    }
    QuietTextShapingNotes();
    // The program decides itself when it ends (it may live on without
    // windows); Qt must not end a loop when the last window closes.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    st.driver = new QtDriver;
    InitEventCore(st.driver);
    bridge::InstallEventFilter();
    SetMainThreadPoster([](Task task) { PostTask(std::move(task)); });
    InstallTerminationHandler();
    st.running = true;
    return true;
}

void StopApplication()
{
    AppState& st = State();
    if (!st.running || !CheckMainThread("StopApplication"))
        return;
    if (LoopDepth() > 0) {
        std::fprintf(stderr, "plat: StopApplication inside a running loop; refused\n");
        return;
    }
    bridge::DisposeAllWindows();
    // Widgets of disposed windows go while the event core still knows the
    // main thread (their views' destructors check it).
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ClearModalResponders();
    SetMainThreadPoster({});
    RemoveTerminationHandler();
    bridge::RemoveEventFilter();
    ShutdownEventCore();
    bridge::ResetKeyTranslator();
    delete st.driver;
    st.driver = nullptr;
    // Widgets of disposed windows wait for deferred deletion.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (st.ownApp) {
        delete st.ownApp;
        st.ownApp = nullptr;
    }
    st.running = false;
}

bool InNestedLoop()
{
    // Qt's own loops (a dialog's exec) are not loops of the event core.
    return LoopDepth() > 1 || QThread::currentThread()->loopLevel() > 1;
}

bool IsApplicationRunning()
{
    return State().running;
}

void SetTestMode(bool on, int modalTimeoutMs)
{
    if (!CheckMainThread("SetTestMode"))
        return;
    AppState& st = State();
    st.testMode = on;
    st.modalTimeoutMs = modalTimeoutMs > 0 ? modalTimeoutMs : 10000;
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, on);
}

bool IsTestMode()
{
    return State().testMode;
}

int TestModalTimeoutMs()
{
    return State().modalTimeoutMs;
}

uint32_t CurrentKeyModifiers()
{
    if (!CheckMainThread("CurrentKeyModifiers") || !qApp)
        return 0;
    return bridge::ModifiersFromQt(QGuiApplication::queryKeyboardModifiers());
}

PointI GetMousePosition()
{
    if (!CheckMainThread("GetMousePosition") || !qApp)
        return PointI{};
    const QPoint p = QCursor::pos();
    return PointI{p.x(), p.y()};
}

uint64_t CurrentEventTime()
{
    const Event* e = CurrentEvent();
    return e ? e->Time() : NowMs();
}

} // namespace plat
