// COCOA: the few desktop services the rest of the library reaches through
// one bridge: a generated tone, playing a sound file, the user's preferred
// language, the user's login items, waking the display from the screen
// saver and counting the running instances of the program.
//
// Here the bridge stands on the platform layer: sounds go to its audio sink
// (platform/services/sound.h), login items are XDG autostart entries, the
// screen is woken with xdg-screensaver and instances are counted among the
// user's processes (platform/services/desktop.h).
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

// A scope object kept for callers that bracket their work with it; the
// platform layer needs no pool of its own, so it does nothing.
class VELMOT_EXPORT COCOAAUTORELEASEPOOL {
public:
    COCOAAUTORELEASEPOOL() = default;
    ~COCOAAUTORELEASEPOOL() = default;
    COCOAAUTORELEASEPOOL(COCOAAUTORELEASEPOOL const&) = delete;
    COCOAAUTORELEASEPOOL& operator=(COCOAAUTORELEASEPOOL const&) = delete;
};

class VELMOT_EXPORT COCOA {
public:
    // The singleton: made on first use, released by TARVOAPP::Cleanup.
    static COCOA* GetInstance();
    static void ReleaseInstance();

    // Plays a sine tone of `frequency` Hz for `milliseconds` and returns
    // once it has been played. Frequencies outside 1..3999 Hz (8000 samples
    // a second cannot carry more) and durations outside 1..60000 ms are
    // refused (false). Blocks its thread: not for the main thread.
    bool Beep(int frequency, int milliseconds);

    // Starts playing a sound file and returns at once; 1 when it started.
    int PlaySound(char const* path, int unused = 0);

    // 7 (German) or 9 (English): the first of the user's preferred
    // languages ($LANGUAGE, a colon-separated list, then the first set of
    // $LC_ALL, $LC_MESSAGES, $LANG) whose primary subtag ("de" of
    // "de_AT.UTF-8") is "en" (9) or "de" (7); 9 when none is.
    int GetDefaultLocale();

    // Adds the program at `path` to the user's login items, or removes it
    // when `add` is false; true when the login items now say so.
    bool AddToLoginItems(char const* path, bool add);

    void WakeupScreensaver();
    int GetCurrentProcessInstancesCount();

private:
    COCOA() = default;
    ~COCOA() = default;
};
