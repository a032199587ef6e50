// Shared by the Qt bridge tests: the application is started once per test
// binary (offscreen, test mode); each test gets helpers to run loops with a
// watchdog and to record the events that reach a target.
#pragma once

#include "platform/events/application.h"
#include "platform/events/modal.h"
#include "platform/events/bridge_qt.h"
#include "platform/events/queue.h"
#include "platform/events/timers.h"
#include "platform/events/views.h"
#include "platform/events/windows.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>

#include <string>
#include <vector>

namespace qtfix {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(plat::StartApplication());
        plat::SetTestMode(true, 5000);
    }
    void TearDown() override { plat::StopApplication(); }
};

// Serves Qt's events until `done` holds or `ms` pass; returns `done()`.
// (QtTest's QTRY macros only return from the test when they fail, which
// GoogleTest does not see.)
template <class Done>
bool Eventually(Done done, int ms = 5000)
{
    for (int waited = 0; !done() && waited < ms; waited += 5)
        QTest::qWait(5);
    return done();
}

// "wind 27", "keyb 1"...
inline std::string Name(const plat::Event& e)
{
    return plat::FourCCText(e.Class()) + " " + std::to_string(e.Kind());
}

class QtTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (plat::WindowRef w : plat::ListWindows())
            plat::DisposeWindow(w);
        plat::ClearModalResponders();
        // Let deferred deletions and stray events of this test finish here.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        plat::ProcessPendingEvents(100000);
    }

    // Runs the main loop until QuitMainLoop or the watchdog (a failure).
    void RunLoopBounded(uint32_t ms = 10000)
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

    // A shown, active window with the given content size.
    plat::WindowRef MakeWindow(int w = 400, int h = 300, bool activate = true)
    {
        plat::WindowSpec spec;
        spec.bounds = plat::RectI{50, 60, 50 + w, 60 + h};
        spec.title = "test";
        plat::WindowRef win = plat::CreateWindow(spec);
        EXPECT_NE(win, nullptr);
        plat::ShowWindow(win, true);
        QWidget* top = plat::bridge::WidgetOfWindow(win);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(top));
        if (activate) {
            plat::ActivateWindow(win);
            EXPECT_TRUE(QTest::qWaitForWindowActive(top));
        }
        return win;
    }

    // Records the events of these types that reach the target, answering
    // `answer`.
    plat::HandlerRef Record(plat::TargetRef t, std::vector<plat::EventType> types, plat::Status answer = plat::kErrEventNotHandled,
                            std::string tag = "")
    {
        return plat::InstallHandler(t, types, [this, answer, tag](plat::HandlerCall&, plat::Event& e) {
            log_.push_back(tag + Name(e));
            return answer;
        });
    }

    std::vector<std::string> log_;
};

} // namespace qtfix
