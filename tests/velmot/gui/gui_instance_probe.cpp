// A second start of the program for the hand-over test: it runs an
// application object with its arguments and prints "handed over" when Run
// returned without any event of its own (the start went to the running
// instance), else "ran <event>".
#include "velmot/core/tarvo.h"
#include "velmot/gui/winapp.h"

#include "platform/events/queue.h"
#include "platform/events/timers.h"

#include <cstdio>
#include <string>

namespace {

class PROBEAPP : public APPLICATION {
public:
    using APPLICATION::APPLICATION;
    bool OnApplicationEvent(EVENTID id, STRINGARRAY*, void*, void*) override
    {
        first = plat::FourCCText(id);
        plat::QuitMainLoop(0);
        return true;
    }
    std::string first;
};

} // namespace

int main(int argc, char** argv)
{
    TARVOAPP::InitArgsLoggingAndLocale(argc, argv, LOCALE_ENGLISH);
    gApplicationName = "qortest";
    PROBEAPP app(&argc, argv);
    // Never wait for long: a start that was not handed over ends here too.
    plat::InstallLoopTimer(5000, 0, [](plat::LoopTimerRef) { plat::QuitMainLoop(1); });
    app.Run();
    if (app.first.empty())
        std::printf("handed over\n");
    else
        std::printf("ran %s\n", app.first.c_str());
    return 0;
}
