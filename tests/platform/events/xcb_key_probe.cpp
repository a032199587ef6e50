// A small program for the X11 test: opens one window with a focused pane
// and prints every key event that reaches the window, one line each:
//   KEY <kind> <vk> <scan> <prefix> <char> <has-char> <modifiers> <x-keycode>
// (numbers in hex). Before that, what a few keys type on the server's
// layout without a key event:
//   LAYOUT <scan> <shifted> <char>
// "READY" is printed once the window is active. The program ends at the
// release of F12, or after 30 s whatever happens.
#include "platform/events/application.h"
#include "platform/events/keys.h"
#include "platform/events/queue.h"
#include "platform/events/timers.h"
#include "platform/events/views.h"
#include "platform/events/windows.h"

#include <cstdio>

using namespace plat;

int main(int argc, char** argv)
{
    if (!StartApplication(&argc, argv))
        return 2;
    WindowSpec spec;
    spec.bounds = {0, 0, 300, 200};
    spec.title = "xcb key probe";
    WindowRef w = CreateWindow(spec);
    ViewRef pane = CreateUserPane(WindowContentView(w), {0, 0, 300, 200}, {FourCC("PROB"), 1});
    const EventType types[] = {{kEventClassKeyboard, kEventKeyDown},
                               {kEventClassKeyboard, kEventKeyRepeat},
                               {kEventClassKeyboard, kEventKeyUp},
                               {kEventClassKeyboard, kEventKeyModifiersChanged},
                               {kEventClassWindow, kEventWindowActivated}};
    bool ready = false;
    InstallHandler(WindowTarget(w), types, [&](HandlerCall&, Event& e) {
        if (e.Class() == kEventClassWindow) {
            if (!ready) {
                ready = true;
                for (uint8_t scan : {0x03, 0x0C, 0x10, 0x15, 0x27, 0x2C})
                    for (uint32_t shift : {0u, kModShift})
                        std::printf("LAYOUT %x %d %x\n", scan, shift ? 1 : 0,
                                    static_cast<unsigned>(TranslateScanCode(scan, 0, shift)));
                std::printf("READY\n");
                std::fflush(stdout);
            }
            return kErrEventNotHandled;
        }
        KeyRecord r;
        if (e.Get(kParamKeyRecord, kTypeKeyRecord, &r) != kNoErr)
            return kErrEventNotHandled;
        std::printf("KEY %x %x %x %x %x %x %x %x\n", e.Kind(), r.vk, r.scan, r.scanPrefix,
                    static_cast<unsigned>(r.ch), (r.flags & kKeyHasChar) ? 1u : 0u, r.modifiers, r.nativeCode);
        std::fflush(stdout);
        if (e.Kind() == kEventKeyUp && r.vk == kVkF1 + 11)
            QuitMainLoop(0);
        return kNoErr;
    });
    InstallLoopTimer(30000, 0, [](LoopTimerRef) { QuitMainLoop(3); });
    ShowWindow(w, true);
    SetKeyboardFocus(pane);
    ActivateWindow(w);
    int code = RunMainLoop();
    StopApplication();
    return code;
}
