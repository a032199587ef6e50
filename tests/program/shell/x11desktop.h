// The program and the terminal it is measured against (xterm) side by side
// under a private X server: each started with an argument vector, settings
// of a new user in a private home, and a shell of the test's choosing;
// xdotool types into them and tests/support/xshot.py photographs them.
//
// The recorder (a small python3 program the desktop writes) plays the
// host: it puts its terminal in raw mode and, for each phase, sends the
// phase's mode-setting bytes, waits for the terminal's answer to a device
// attributes request (so the modes are in force), marks the phase ready and
// keeps what the terminal sends until "!!".
#pragma once

#include "tests/support/testutil.h"
#include "tests/support/xserver.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace x11desk {

class DESKTOP {
public:
    // Starts the X server; false when it cannot. The program shows no tip
    // of the day unless asked to.
    bool Start();
    void ShowTips(bool show) const;

    // This process's environment for a program on the server: the display,
    // Qt's xcb platform, a private home with empty settings, and `extra`.
    std::vector<std::string> Env(std::vector<std::pair<std::string, std::string>> const& extra = {}) const;
    // Runs a tool (xdotool, python3) to its end, at most ms; its output.
    std::string Tool(std::vector<std::string> const& argv, int ms = 20000) const;
    // Presses keys (xdotool names) into the focused window.
    void Keys(std::vector<std::string> const& keys, int delayMs = 40) const;

    // The visible top-level windows of a class (xdotool's --class), as ids.
    std::vector<std::string> Windows(std::string const& windowClass) const;
    std::string WindowName(std::string const& id) const;
    // The program's main window (class "qor", not its tip of the day);
    // "" when none shows within ms.
    std::string MainWindow(int ms = 20000) const;
    // Gives a window the keyboard (there is no window manager).
    void Focus(std::string const& id) const;
    // A PNG of a window.
    bool Shot(std::string const& id, std::string const& png) const;

    // The program from the stage, with a shell of the test's choosing
    // ($SHELL) and its arguments.
    std::unique_ptr<xtest::Child> StartQor(std::string const& shell, std::vector<std::string> const& args = {},
                                           std::vector<std::pair<std::string, std::string>> const& env = {}) const;
    // xterm with the program and arguments of `command` (its -e).
    std::unique_ptr<xtest::Child> StartXterm(std::vector<std::string> const& options,
                                             std::vector<std::string> const& command) const;

    // A shell script in the private folder that runs argv (for $SHELL,
    // which takes no arguments); its path.
    std::string Script(std::string const& name, std::vector<std::string> const& argv) const;

    // The recorder's command for phases of mode-setting bytes; `tag` names
    // its files in the private folder.
    std::vector<std::string> Recorder(std::string const& tag, std::vector<std::string> const& phases) const;
    // Waits until phase n of the recorder `tag` is ready (ms at most).
    bool RecorderReady(std::string const& tag, int phase, int ms = 20000) const;
    // Types the keys of phase n, each followed by a comma, then "!!", and
    // returns what the terminal sent for each key; empty when the recorder
    // did not finish within ms.
    std::vector<std::string> RecordKeys(std::string const& tag, int phase, std::vector<std::string> const& keys,
                                        int ms = 20000) const;

    std::string const& Folder() const { return Dir.path(); }

private:
    testutil::TempDir Dir;
    xtest::XServer Server;
    std::string Stage;
};

// Bytes as C escapes, for messages ("\x1b[A").
std::string Escaped(std::string const& bytes);

} // namespace x11desk
