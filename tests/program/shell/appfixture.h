// The fixture of the main-window tests: one application object per binary
// (offscreen), main windows made through its new-window event, sessions on
// the local shell (/bin/sh) with whatever emulation the stage holds, and a
// main loop the test turns until a condition holds.
#pragma once

#include "program/shell/app.h"
#include "program/shell/qor.h"
#include "platform/events/modal.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace apptest {

// A main window that records what it tells other instances and keeps the
// event loop of the tests running when its start-up fails.
class TESTAPP : public APP {
public:
    using APP::APP;
    void EndEventLoop() override { ++Ended; }
    void SendIpcMessage(uint32_t msg, uint32_t mp1, uint32_t mp2) override
    {
        Notices.push_back(mp1);
        APP::SendIpcMessage(msg, mp1, mp2);
    }
    int ProcessEvent(int event, int parm, char const* text) override
    {
        Events.push_back({event, parm, text});
        return APP::ProcessEvent(event, parm, text);
    }
    struct EVENT {
        int Event;
        int Parm;
        char const* Text;
    };
    std::vector<EVENT> Events;
    std::vector<uint32_t> Notices;
    int Ended = 0;
};

// Answers every alert with the button while it lives and records what it
// showed.
struct ALERTS {
    explicit ALERTS(int choice)
    {
        Id = plat::AddModalResponder(
            plat::kModalAlert,
            [this, choice](plat::ModalRequest const& r, plat::ModalAnswer& a) {
                Texts.push_back(r.text);
                a.choice = choice;
                return true;
            },
            -1);
    }
    ~ALERTS() { plat::RemoveModalResponder(Id); }
    ALERTS(ALERTS const&) = delete;
    ALERTS& operator=(ALERTS const&) = delete;
    std::vector<std::string> Texts;
    uint64_t Id = 0;
};

class AppTest : public ::testing::Test {
protected:
    void TearDown() override;

public:

    static QOR& Qor();
    // The program's assertions so far (emptied); TearDown fails the test
    // for any left.
    static std::vector<std::string> TakeAssertions();
    // A new main window with the arguments (a command line after the
    // program's name); null when none was made.
    TESTAPP* Open(char const* args = "/Q");
    // Closes the window through the application and lets it go.
    void Close(APP* app);
    // Runs the main loop until cond holds (false when ms passed first).
    static bool Pump(std::function<bool()> const& cond, int ms = 10000);
    static void Spin(int ms);
    // Types text into the session (its keys, as from the keyboard).
    static void Type(SESSION& session, std::wstring const& text);
    // Whether a row of the session's screen holds the text.
    static bool Shows(SESSION& session, std::string const& text);
    // Runs the shell command and waits until its output (a marker line)
    // has come back.
    static bool Run(SESSION& session, std::string const& command, std::string const& expect);
};

} // namespace apptest
