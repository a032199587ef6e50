// Small desktop services: the user's login items, waking the screen from
// the screen saver, and counting the running instances of the program.
#pragma once

#include <string>
#include <string_view>

namespace plat {

// Login items are XDG autostart entries: the file
// $XDG_CONFIG_HOME/autostart/<appId>.desktop, whose Exec line starts
// program. appId must be 1 to 100 characters of A-Z, a-z, 0-9, ".", "-",
// "_", not starting with "."; other ids are refused.
std::string AutostartFilePath(std::string_view appId);

// Adds (add) or removes the entry. Adding an entry that already starts
// program writes nothing; removing removes only an entry that starts
// program, and writes nothing when there is none. False when the file
// could not be written or removed.
bool SetLoginItem(std::string_view appId, std::string const& program, bool add);

// Whether the entry exists and starts program.
bool IsLoginItem(std::string_view appId, std::string const& program);

// The Exec value that starts program: the path in double quotes with the
// escapes of the desktop entry format.
std::string DesktopExecValue(std::string const& program);

// Tells the desktop that the user is active, which ends the screen saver:
// runs "xdg-screensaver reset" when that program is on $PATH (and waits for
// it at most a few seconds), else does nothing. True when it ran and
// succeeded.
bool WakeScreenSaver();

// The number of running processes of this user that run the same
// executable file as this one, this one included.
int CountInstances();

} // namespace plat
