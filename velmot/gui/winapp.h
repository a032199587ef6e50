// The application object and its event loop.
//
// The program derives its own application class from APPLICATION,
// constructs exactly one instance after start-up and calls Run, the event
// loop; every later action is driven from that loop. APPLICATION turns the
// application events (open, reopen, open documents, open URLs, quit) and
// the program's own application messages ('AEVT') into one virtual
// operation, OnApplicationEvent, and receives through its WINDOWCALLBACKS
// part the menu commands no window takes.
//
// Where application events come from:
// - the first Run: 'oapp', or 'odoc' with the files and 'GURL' with the
//   URLs ("scheme://...") the program was started with;
// - a second start of the program while this one runs: when that start
//   has only files and URLs (or nothing) to hand over, it passes them
//   through the notification bus to the running instance ('odoc', 'GURL',
//   or 'rapp' for a start with nothing) and its own Run returns at once;
// - quit requests ('quit'), SIGTERM and SIGHUP ('term');
// - tests, through plat::InjectAppEvent.
// Other threads reach OnApplicationEvent only with an 'AEVT' message sent
// to the application (DARWINDOW::DeliverMessage with no window and no
// view).
//
// Main thread.
#pragma once

#include "velmot/gui/wincallbacks.h"
#include "velmot/gui/winevents.h"

#include <memory>
#include <string>
#include <vector>

class STRINGARRAY;

// The program's own application message: VMP1 the event id, VMP2 its word.
constexpr uint32_t APPLICATION_MESSAGE = plat::FourCC("AEVT");

class VELMOT_EXPORT APPLICATION : public TEventHandler, public WINDOWCALLBACKS {
public:
    using EVENTID = FOURCHARCODE;
    static constexpr EVENTID APPLICATION_OPEN = plat::FourCC("oapp");
    static constexpr EVENTID APPLICATION_REOPEN = plat::FourCC("rapp");
    static constexpr EVENTID APPLICATION_OPENDOC = plat::FourCC("odoc");
    static constexpr EVENTID APPLICATION_OPENURL = plat::FourCC("GURL");
    static constexpr EVENTID APPLICATION_QUIT = plat::FourCC("quit");
    // SIGTERM or SIGHUP: end now, without questions (the item names the
    // signal).
    static constexpr EVENTID APPLICATION_TERMINATE = plat::FourCC("term");

    // Starts the window system when it is not running yet (Qt keeps argc
    // and argv, which must live as long as the application).
    APPLICATION(int* argc, char** argv);
    ~APPLICATION() override;
    APPLICATION(APPLICATION const&) = delete;
    APPLICATION& operator=(APPLICATION const&) = delete;

    plat::TargetRef GetEventTarget() const override;
    plat::Status HandleEvent(plat::HandlerCall* call, TCarbonEvent& event) override;
    // To be overridden; true when the event was handled. The list holds
    // the paths or URLs of 'odoc' and 'GURL' (empty for the other
    // platform events, null for the program's own messages); `p1` is the
    // message's word for those.
    virtual bool OnApplicationEvent(EVENTID id, STRINGARRAY* items, void* p1, void* p2);

    static APPLICATION* GetInstance() { return pCurrentInstance; }

    // Runs the event loop until it is ended; returns 0. The first call
    // first sends the start's application events (or hands the start over
    // to a running instance and returns at once).
    int Run();

    // One application event: calls OnApplicationEvent with the items and
    // answers 0, or -1708 when it was declined. A declined 'quit' or 'term'
    // ends the event loop.
    plat::Status HandleAppleEvent(EVENTID id, std::vector<std::string> const& items);
    void InstallAppleEventHandler();
    void RemoveAppleEventHandler();

    // The name of the notification channel of the program's instances.
    static std::string InstanceChannel();

protected:
    int* argc;
    char** argv;

private:
    bool StartOrHandOver();

    bool fAppleEventsInstalled = false;
    bool fStartedPlatform = false;
    bool fLaunched = false;
    struct INSTANCE;
    std::unique_ptr<INSTANCE> fInstance;

    static APPLICATION* pCurrentInstance;
};
