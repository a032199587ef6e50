// Input for tests, delivered the way the window system delivers it.
//
// Every call hands its events to Qt's window-system interface, the entry
// that real input from X takes, and waits until they are dispatched. So the
// event filter (and the key-equivalent matcher, modal blocking, Qt's
// implicit grab of a pressed button, its double-click detection, its
// shortcut override and its widgets' own handling) act on them exactly as
// on a user's input: a control, dialog or terminal test exercises the
// production road.
//
// The keyboard is a US (ANSI) keyboard on X: keys carry X keycodes, so key
// records are positional as they are under X. The mouse has three buttons.
// Each call that starts a gesture (a press, a click, a drag) is stamped far
// enough after the last press that it never joins it into a double click;
// DoubleClick makes one on purpose.
//
// Main thread, with the application running (application.h). The window
// must be shown; a view's window likewise. Input to a window that a modal
// run blocks is dropped, as real input would be.
//
// Built as the static library plat_testinput (tests only; not part of the
// program).
#pragma once

#include "platform/events/views.h"

#include <string_view>

namespace plat::testinput {

enum class Button : uint32_t { Left = 1, Right = 2, Middle = 3 };

// Virtual-key codes of the right-hand modifier keys (KeyDown, KeyUp); the
// plain kVkShift, kVkControl and kVkMenu are the left-hand ones.
constexpr uint32_t kVkRShift = 0xA1;
constexpr uint32_t kVkRControl = 0xA3;
constexpr uint32_t kVkRMenu = 0xA5;

// Mouse. `at` is in `view`'s coordinates and may lie outside it; the event
// goes to what is under the point, unless a button is held (then to what
// the press went to). `modifiers` are kMod* bits held during the event.
Status MouseDown(ViewRef view, PointI at, Button button = Button::Left, uint32_t modifiers = 0);
Status MouseUp(ViewRef view, PointI at, Button button = Button::Left, uint32_t modifiers = 0);
// Moves the mouse with the buttons that are down.
Status MouseMove(ViewRef view, PointI at, uint32_t modifiers = 0);
Status Click(ViewRef view, PointI at, Button button = Button::Left, uint32_t modifiers = 0);
Status DoubleClick(ViewRef view, PointI at, Button button = Button::Left, uint32_t modifiers = 0);
// Press at `from`, `steps` moves to `to` (both in `view`'s coordinates),
// release at `to`.
Status Drag(ViewRef view, PointI from, PointI to, Button button = Button::Left, uint32_t modifiers = 0,
            int steps = 4);
// Turns the wheel by whole notches (positive: away from the user; with
// `horizontal`, to the right), or by eighths of a degree (120 a notch) with
// WheelFine.
Status Wheel(ViewRef view, PointI at, int notches, bool horizontal = false, uint32_t modifiers = 0);
Status WheelFine(ViewRef view, PointI at, int eighths, bool horizontal = false, uint32_t modifiers = 0);

// Keys, to the window's focused view. `vk` is a virtual-key code (keys.h):
// 'A'..'Z', '0'..'9', the kVkOem* punctuation keys, kVkSpace and the
// special keys, kVkNumpad0.. and the keypad operators, the modifier keys
// (kVkShift, kVkControl, kVkMenu, kVkLWin, kVkRWin and the right-hand
// ones above). kErrBadArgument for a key this keyboard does not have.
//
// KeyDown, KeyRepeat and KeyUp send one event each with `modifiers` as the
// held state (a modifier key's own bit is added while it is down); no
// modifier key is pressed for them.
Status KeyDown(WindowRef window, uint32_t vk, uint32_t modifiers = 0);
Status KeyRepeat(WindowRef window, uint32_t vk, uint32_t modifiers = 0);
Status KeyUp(WindowRef window, uint32_t vk, uint32_t modifiers = 0);
// Presses the modifier keys of `modifiers` (kModControl, kModOption,
// kModShift, kModCommand, in this order), then the key, releases it and
// the modifier keys in reverse order. kModCapsLock and kModNumLock are
// taken as lock states that are on.
Status PressKey(WindowRef window, uint32_t vk, uint32_t modifiers = 0);
// Types UTF-8 text: each character a US keyboard has is pressed as its
// key (with Shift where it needs it); any other character arrives as a key
// event that carries it as text and names no key, as a compose sequence
// ends. kErrBadArgument for text that is not UTF-8.
Status TypeText(WindowRef window, std::string_view utf8);
// Text committed by an input method (no key event at all).
Status CommitText(WindowRef window, std::string_view utf8);

// The close box in the window's frame.
Status ClickCloseBox(WindowRef window);

} // namespace plat::testinput
