// A small program for the X11 test of alerts: started as the program starts
// itself (argv[0] naming its folder, "<bin>/."), it asks a question with no
// responder installed, so that the box waits for a person, and reports:
//   NAME <application name>
//   READY                      the probe's window is active
//   SHOWN <lit> <width>x<height>  once the box is on the screen; <lit> is the
//                              share of its pixels, read back from the
//                              screen, that are not black (percent)
//   ANSWER <button>            what RunAlert returned
// Modes (argv[1]): "post" asks from a posted task, as the program's quit
// event does; "key" asks from the key handler of a window at F2, as a menu
// key equivalent does. Ends after 30 s whatever happens.
#include "platform/events/application.h"
#include "platform/events/keys.h"
#include "platform/events/modal.h"
#include "platform/events/queue.h"
#include "platform/events/timers.h"
#include "platform/events/views.h"
#include "platform/events/windows.h"
#include "platform/services/folders.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <cstring>
#include <string>

using namespace plat;

namespace {

// Reports the box once it is exposed and its pixels have reached the screen.
void WatchForBox()
{
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box || !box->isVisible() || !box->windowHandle() || !box->windowHandle()->isExposed())
            return;
        const QRect r = box->frameGeometry();
        const QImage shot = box->screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height()).toImage();
        if (shot.isNull() || shot.width() == 0 || shot.height() == 0)
            return;
        qint64 lit = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (qGray(shot.pixel(x, y)) > 64)
                    ++lit;
        const qint64 percent = lit * 100 / (qint64{shot.width()} * shot.height());
        if (percent < 50)
            return; // not painted yet: look again
        std::printf("SHOWN %lld %dx%d\n", static_cast<long long>(percent), r.width(), r.height());
        std::fflush(stdout);
        timer->stop();
        timer->deleteLater();
    });
    timer->start(50);
}

void Ask()
{
    AlertSpec a;
    a.type = kAlertCaution;
    a.message = "Close";
    a.explanation = "The session is still connected. Close it anyway?";
    a.buttons = {"Yes", "No"};
    WatchForBox();
    const int answer = RunAlert(a);
    std::printf("ANSWER %d\n", answer);
    std::fflush(stdout);
    QuitMainLoop(0);
}

} // namespace

int main(int argc, char** argv)
{
    const bool keyMode = argc > 1 && !std::strcmp(argv[1], "key");
    std::string self = ExecutablePath();
    self = self.substr(0, self.rfind('/')) + "/.";
    char* args[] = {self.data(), nullptr};
    int count = 1;
    if (!StartApplication(&count, args))
        return 2;
    std::printf("NAME %s\n", qPrintable(QCoreApplication::applicationName()));
    std::fflush(stdout);
    InstallLoopTimer(30000, 0, [](LoopTimerRef) { QuitMainLoop(3); });
    // The box comes over a window of the program, as it does there.
    WindowSpec spec;
    spec.bounds = {100, 100, 900, 700};
    spec.title = "xcb alert probe";
    WindowRef w = CreateWindow(spec);
    ViewRef pane = CreateUserPane(WindowContentView(w), {0, 0, 800, 600}, {FourCC("PROB"), 1});
    const EventType types[] = {{kEventClassKeyboard, kEventKeyDown}, {kEventClassWindow, kEventWindowActivated}};
    bool ready = false;
    InstallHandler(WindowTarget(w), types, [&](HandlerCall&, Event& e) {
        if (e.Class() == kEventClassWindow) {
            if (!ready) {
                ready = true;
                std::printf("READY\n");
                std::fflush(stdout);
                if (!keyMode)
                    PostTask(&Ask);
            }
            return kErrEventNotHandled;
        }
        KeyRecord r;
        if (!keyMode || e.Get(kParamKeyRecord, kTypeKeyRecord, &r) != kNoErr || r.vk != kVkF1 + 1)
            return kErrEventNotHandled;
        Ask();
        return kNoErr;
    });
    ShowWindow(w, true);
    SetKeyboardFocus(pane);
    ActivateWindow(w);
    const int code = RunMainLoop();
    StopApplication();
    return code;
}
