// Shared by the window toolkit tests: the window system is started once per
// test binary (offscreen, test mode, native dialogs off); windows, child
// views and the application object record what reaches their callbacks.
#pragma once

#include "velmot/core/tarvo.h"
#include "velmot/gui/winapp.h"
#include "velmot/gui/winbase.h"
#include "velmot/gui/wincallbacks.h"
#include "velmot/gui/wintimer.h"

#include "platform/events/application.h"
#include "platform/events/modal.h"
#include "platform/events/queue.h"
#include "platform/events/timers.h"
#include "platform/events/views.h"
#include "platform/events/windows.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace guifix {

class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        // The calling thread becomes the library's main thread, as in a
        // program started through VelmotEntryPoint.
        static char name[] = "guitest";
        static char* argv[] = {name, nullptr};
        TARVOAPP::InitArgsLoggingAndLocale(1, argv, LOCALE_ENGLISH);
        gApplicationName = "qortest";
        ASSERT_TRUE(plat::StartApplication());
        plat::SetTestMode(true, 5000);
    }
    void TearDown() override { plat::StopApplication(); }
};

inline std::string Hex(long v)
{
    char b[32];
    std::snprintf(b, sizeof b, "%#lx", v);
    return b;
}

// Processes queued events until `done` holds (bounded; false when it did
// not come true in time).
inline bool PumpUntil(std::function<bool()> done, int ms = 5000)
{
    auto const end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        plat::ProcessPendingEvents(1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Runs the main loop until QuitMainLoop, with a watchdog that ends it and
// reports the failure.
inline void RunLoopBounded(uint32_t ms = 10000)
{
    bool fired = false;
    plat::LoopTimerRef guard = plat::InstallLoopTimer(ms, 0, [&](plat::LoopTimerRef) {
        fired = true;
        plat::QuitMainLoop(1);
    });
    plat::RunMainLoop();
    plat::RemoveLoopTimer(guard);
    EXPECT_FALSE(fired) << "the loop had to be ended by the watchdog";
}

// What reached one object's callbacks, as lines such as "OnTimer 7".
struct Recorder {
    std::vector<std::string> log;
    // The answer of every handler; a test may set answers per handler name.
    bool answer = true;
    std::map<std::string, bool> answers;

    // When set, every line also goes to this journal, after `tag`, so the
    // order across objects shows.
    std::vector<std::string>* journal = nullptr;
    std::string tag;

    bool Note(std::string const& name, std::string const& args = "")
    {
        log.push_back(args.empty() ? name : name + " " + args);
        if (journal)
            journal->push_back(tag + log.back());
        auto it = answers.find(name);
        return it != answers.end() ? it->second : answer;
    }
    std::vector<std::string> Take()
    {
        std::vector<std::string> out;
        out.swap(log);
        return out;
    }
};

// Records every callback of WINDOWCALLBACKS.
#define GUIFIX_RECORD_CALLBACKS                                                                                       \
    bool OnCreate() override { return rec.Note("OnCreate"); }                                                        \
    bool OnActivated() override { return rec.Note("OnActivated"); }                                                  \
    bool OnDeactivated() override { return rec.Note("OnDeactivated"); }                                              \
    bool OnTimer(int id) override { return rec.Note("OnTimer", std::to_string(id)); }                                \
    bool OnMinimized() override { return rec.Note("OnMinimized"); }                                                  \
    bool OnRestored() override { return rec.Note("OnRestored"); }                                                    \
    bool OnFocusAcquired() override { return rec.Note("OnFocusAcquired"); }                                          \
    bool OnFocusLost() override { return rec.Note("OnFocusLost"); }                                                  \
    bool OnShown() override { return rec.Note("OnShown"); }                                                          \
    bool OnHidden() override { return rec.Note("OnHidden"); }                                                        \
    bool OnMoved() override { return rec.Note("OnMoved"); }                                                          \
    bool OnSized() override { return rec.Note("OnSized"); }                                                          \
    bool OnSizing(RECT* frame, uint32_t edges) override                                                              \
    {                                                                                                                \
        if (sizing)                                                                                                  \
            sizing(frame);                                                                                           \
        return rec.Note("OnSizing", std::to_string(edges));                                                          \
    }                                                                                                                \
    bool OnCommand(uint32_t id) override { return rec.Note("OnCommand", plat::FourCCText(id)); }                      \
    bool OnPushbutton(CONTROLID id) override { return rec.Note("OnPushbutton", id.AsString().Buf()); }                \
    bool OnControlEvent(int code, CONTROL const& c, void* data) override                                             \
    {                                                                                                                \
        return rec.Note("OnControlEvent", guifix::Hex(code) + " " + plat::FourCCText(c.GetKind()) + " " +             \
                                              std::to_string(reinterpret_cast<intptr_t>(data)));                     \
    }                                                                                                                \
    bool OnKeyboardEvent(KEYBOARDEVENT const& k) override                                                            \
    {                                                                                                                \
        keys.push_back(k);                                                                                           \
        return rec.Note("OnKeyboardEvent", std::to_string(k.UniChar));                                               \
    }                                                                                                                \
    bool OnRawKeyboardEvent(KEYBOARDEVENT const& k) override                                                         \
    {                                                                                                                \
        keys.push_back(k);                                                                                           \
        return rec.Note("OnRawKeyboardEvent", std::to_string(k.UniChar));                                            \
    }                                                                                                                \
    bool OnMouseEvent(int m, int x, int y, int f) override                                                           \
    {                                                                                                                \
        return rec.Note("OnMouseEvent", guifix::Hex(m) + " " + std::to_string(x) + " " + std::to_string(y) + " " +    \
                                            std::to_string(f));                                                      \
    }                                                                                                                \
    bool OnScrollEvent(int code, CONTROL const& c, int pos) override                                                 \
    {                                                                                                                \
        return rec.Note("OnScrollEvent", std::to_string(code) + " " + std::to_string(pos));                          \
    }                                                                                                                \
    bool OnHelp() override { return rec.Note("OnHelp"); }                                                            \
    bool OnClose() override { return rec.Note("OnClose"); }                                                          \
    bool OnDestroy() override { return rec.Note("OnDestroy"); }                                                      \
    bool OnUserMessage(int msg, MSGWORD p1, MSGWORD p2) override                                                     \
    {                                                                                                                \
        if (user)                                                                                                    \
            return user(msg, p1, p2);                                                                                \
        return rec.Note("OnUserMessage", std::to_string(msg) + " " + std::to_string(p1) + " " + std::to_string(p2)); \
    }                                                                                                                \
    guifix::Recorder rec;                                                                                            \
    std::vector<KEYBOARDEVENT> keys;                                                                                 \
    std::function<void(RECT*)> sizing;                                                                               \
    std::function<bool(int, MSGWORD, MSGWORD)> user;

// A document window with its callbacks bound, as the window classes build
// it.
class TESTWINDOW : public DARWINDOW, public WINDOWCALLBACKS {
public:
    explicit TESTWINDOW(RECT bounds = RECT{100, 100, 500, 400})
    {
        CreateNewWindow(WINDOWCLASS_DOCUMENT, 0x1218001F, &bounds, "HLP_TEST");
        SetCallbackWindow(fWindow, *this);
    }
    ~TESTWINDOW() override
    {
        if (fWindow && plat::IsWindowValid(fWindow))
            Destroy();
    }
    plat::Status HandleEvent(plat::HandlerCall* call, TCarbonEvent& event) override
    {
        bool recognised = false;
        return HandleEventForCallback(call, event, &recognised);
    }
    plat::ViewRef Content() const { return plat::WindowContentView(fWindow); }

    GUIFIX_RECORD_CALLBACKS
};

// A child window: callbacks bound to a view of its own inside a parent.
class TESTCHILD : public TEventHandler, public WINDOWCALLBACKS {
public:
    TESTCHILD(plat::ViewRef parent, plat::RectI frame, plat::OSType kind = plat::kViewKindUserPane,
              plat::ViewId id = plat::ViewId{plat::FourCC("CHLD"), 1})
    {
        view = plat::CreateUserPane(parent, frame, id, kind);
        SetCallbackView(view, *this);
    }
    ~TESTCHILD() override
    {
        RemoveEventHandler();
        if (plat::IsViewValid(view))
            plat::DisposeView(view);
    }
    plat::TargetRef GetEventTarget() const override { return plat::ViewTarget(view); }
    plat::Status HandleEvent(plat::HandlerCall* call, TCarbonEvent& event) override
    {
        bool recognised = false;
        return HandleEventForCallback(call, event, &recognised);
    }
    plat::ViewRef view = nullptr;

    GUIFIX_RECORD_CALLBACKS
};

// The program's application object: records its events ("odoc a|b|c") and
// answers per event id (true unless told otherwise).
class TESTAPP : public APPLICATION {
public:
    TESTAPP(int* argc = nullptr, char** argv = nullptr) : APPLICATION(argc, argv) {}
    bool OnApplicationEvent(EVENTID id, STRINGARRAY* items, void* p1, void* p2) override;
    bool OnCommand(uint32_t id) override
    {
        commands.push_back(plat::FourCCText(id));
        return true;
    }
    std::vector<std::string> events;
    std::vector<std::string> commands;
    std::vector<int> codepages; // of the items of the last event
    std::vector<void*> words;   // p1 of each event
    std::map<EVENTID, bool> answers;
    std::function<void(EVENTID)> after;
};

// A window that can be activated: shown, activated, and waited for.
inline bool Activate(plat::WindowRef window)
{
    plat::ShowWindow(window, true);
    plat::ActivateWindow(window);
    return PumpUntil([window] { return plat::IsWindowActive(window); });
}

// Answers the next alerts with `button` and records their texts.
struct AlertAnswers {
    explicit AlertAnswers(int button, int times = 1)
    {
        id = plat::AddModalResponder(
            plat::kModalAlert,
            [this, button](plat::ModalRequest const& r, plat::ModalAnswer& a) {
                titles.push_back(r.title);
                texts.push_back(r.text);
                buttons.push_back(r.choices);
                a.choice = button;
                return true;
            },
            times);
    }
    ~AlertAnswers() { plat::RemoveModalResponder(id); }
    uint64_t id;
    std::vector<std::string> titles;
    std::vector<std::string> texts;
    std::vector<std::vector<std::string>> buttons;
};

} // namespace guifix
