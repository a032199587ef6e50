// Controls: buttons, text fields, value controls and static controls as
// views (views.h) over the window system's widgets.
//
// CreateControl makes a view of one of the kinds below inside a parent
// view. The widget is the one store of the control's value, range, text
// and font: GetViewValue/SetViewValue and friends (views.h), the title
// operations here and SetViewFont (platform/draw/viewsupport.h) read and
// change the widget itself.
//
// What the user does becomes our events, sent to the control's view and
// climbing to its window when no handler takes them (the program's own
// changes send none):
// - a click of a button, check box, radio button, disclosure or bevel
//   button: 'cntl' kind 1 (hit) with kParamControlPart and
//   kParamKeyModifiers, after the control changed its value (check boxes
//   and radio buttons with kControlFlagAutoToggle only);
// - scroll bars and sliders: the action procedure (SetControlAction) for
//   every step, a hit with the part for arrows and pages at once, and a
//   hit with kControlPartIndicator when a dragged thumb is let go; 'cntl'
//   kind 151 when the value changed;
// - little arrows: the action procedure and a hit for each step (held
//   arrows repeat);
// - text fields: 'txfd' kind 2 before an edit (kParamTextRange, the
//   candidate as kParamText; a handler that takes it may answer
//   kParamReplacementText, which is inserted instead, nothing when absent),
//   kind 3 after a change (with kParamUnconfirmedRange while an input
//   method composes), kind 1 for Return or Enter.
// Return and Enter press the window's default button, Escape its cancel
// button, when nothing before took the key.
//
// Main thread only; stale handles give kErrTargetGone or empty answers.
#pragma once

#include "platform/draw/icons.h"
#include "platform/events/views.h"
#include "platform/menus/menus.h"
#include "platform/services/text.h"

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// Control kinds.
constexpr OSType kControlKindPushButton = FourCC("push");
constexpr OSType kControlKindPictureButton = FourCC("picn");
constexpr OSType kControlKindRoundButton = FourCC("rndb");
constexpr OSType kControlKindBevelButton = FourCC("bevl");
constexpr OSType kControlKindCheckBox = FourCC("cbox");
constexpr OSType kControlKindRadioButton = FourCC("rdio");
constexpr OSType kControlKindDisclosureButton = FourCC("disb");
constexpr OSType kControlKindEditUnicodeText = FourCC("eutx");
constexpr OSType kControlKindEditText = FourCC("etxt");
constexpr OSType kControlKindStaticText = FourCC("stxt");
constexpr OSType kControlKindIcon = FourCC("icon");
constexpr OSType kControlKindScrollBar = FourCC("sbar");
constexpr OSType kControlKindSlider = FourCC("sldr");
constexpr OSType kControlKindLittleArrows = FourCC("larr");
constexpr OSType kControlKindProgressBar = FourCC("prgb");
constexpr OSType kControlKindGroupBox = FourCC("grpb");
constexpr OSType kControlKindSeparator = FourCC("sepa");
constexpr OSType kControlKindPlacard = FourCC("plac");

// Part codes of hits and action procedures.
constexpr int16_t kControlPartNone = 0;
constexpr int16_t kControlPartButton = 10;
constexpr int16_t kControlPartCheckBox = 11;
constexpr int16_t kControlPartUp = 20;       // arrow up / left
constexpr int16_t kControlPartDown = 21;     // arrow down / right
constexpr int16_t kControlPartPageUp = 22;
constexpr int16_t kControlPartPageDown = 23;
constexpr int16_t kControlPartIndicator = 129; // the thumb

// ControlSpec::flags
constexpr uint32_t kControlFlagDefault = 0x1;    // push: the window's default button
constexpr uint32_t kControlFlagCancel = 0x2;     // push: the window's cancel button
constexpr uint32_t kControlFlagAutoToggle = 0x4; // cbox, rdio: a click changes the value
constexpr uint32_t kControlFlagToggles = 0x8;    // bevl: on and off (value 0/1)
constexpr uint32_t kControlFlagPassword = 0x10;  // text field: shows no characters
constexpr uint32_t kControlFlagMultiline = 0x20; // text field: several lines
constexpr uint32_t kControlFlagReadOnly = 0x40;  // text field
constexpr uint32_t kControlFlagRounded = 0x80;   // bevl: the rounded look
constexpr uint32_t kControlFlagDisabled = 0x100;
constexpr uint32_t kControlFlagHidden = 0x200;

struct ControlSpec {
    OSType kind = 0;
    ViewId id;
    RectI frame; // in the parent's coordinates
    Text title;  // label or text; null: none
    int32_t value = 0;
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t viewSize = 0;  // sbar, sldr: the page
    int32_t increment = 1; // larr
    uint32_t flags = 0;
    IconRef icon = nullptr; // picn, bevl, icon (the control takes its own reference)
};

// Whether CreateControl makes controls of this kind.
bool IsControlKind(OSType kind);

// A new control in front of the parent's subviews; user panes and
// placards are made with CreateUserPane. Null on failure.
ViewRef CreateControl(ViewRef parent, const ControlSpec& spec);

// The control's label or text; a null text for views without one.
Status SetControlTitle(ViewRef view, const Text& title);
Text GetControlTitle(ViewRef view);

// The page of a scroll bar or slider; the step of little arrows.
Status SetControlViewSize(ViewRef view, int32_t size);
int32_t GetControlViewSize(ViewRef view);
Status SetControlIncrement(ViewRef view, int32_t increment);
int32_t GetControlIncrement(ViewRef view);

// Default and cancel buttons. A push button marked default draws as such;
// the window's default button is the one marked. Null clears.
Status SetControlDefault(ViewRef view, bool on);
bool IsControlDefault(ViewRef view);
Status SetWindowDefaultButton(WindowRef window, ViewRef button);
ViewRef GetWindowDefaultButton(WindowRef window);
Status SetWindowCancelButton(WindowRef window, ViewRef button);
ViewRef GetWindowCancelButton(WindowRef window);

// Text fields. Positions count characters (code points); an end beyond
// the text means its end.
Status SetTextSelection(ViewRef view, int32_t start, int32_t end);
Status GetTextSelection(ViewRef view, int32_t* start, int32_t* end);
Status SetTextReadOnly(ViewRef view, bool on);
bool IsTextReadOnly(ViewRef view);

// The icon a picture button, bevel button or icon control shows.
Status SetControlIcon(ViewRef view, IconRef icon);
IconRef GetControlIcon(ViewRef view);

// The pop-up menu of a bevel button (retained by the control).
Status SetControlMenu(ViewRef view, MenuRef menu);
MenuRef GetControlMenu(ViewRef view);

// Called for every step of a scroll bar, slider or little arrows the user
// operates (see above); null removes it.
using ControlActionProc = void (*)(ViewRef view, int16_t part);
Status SetControlAction(ViewRef view, ControlActionProc proc);

// Puts the view directly above (in front of) or below its sibling
// `other`; a null `other` means the front or the back of all siblings.
Status SetViewZOrder(ViewRef view, bool above, ViewRef other);

// The size the control needs to show itself whole: for a text field the
// width of its text (one line) with its frame and margins, for other
// controls the window system's preferred size. kErrTargetGone for a stale
// view.
Status GetBestControlSize(ViewRef view, int32_t* width, int32_t* height);

// Takes the keyboard focus from whatever view of the window holds it.
Status ClearKeyboardFocus(WindowRef window);

// Whether the view takes the keyboard focus when the user tabs to it or
// clicks it.
bool IsViewFocusable(ViewRef view);

// Text-field events.
constexpr OSType kEventClassTextField = FourCC("txfd");
constexpr uint32_t kEventTextAccepted = 1;
constexpr uint32_t kEventTextShouldChangeInRange = 2;
constexpr uint32_t kEventTextDidChange = 3;
constexpr uint32_t kEventControlValueFieldChanged = 151;

struct TextRange {
    int32_t location = 0; // characters from the start
    int32_t length = 0;
};
constexpr OSType kTypeTextRange = FourCC("rang");
constexpr OSType kParamTextRange = FourCC("txsl");        // TextRange to replace
constexpr OSType kParamReplacementText = FourCC("trtx");  // UTF32, the handler's answer
constexpr OSType kParamUnconfirmedRange = FourCC("txun"); // TextRange of text an input method composes

// Feeds an input method's composition to a text field as the window
// system would: `preedit` shown unconfirmed at the cursor, then `commit`
// (may be empty) inserted. For tests of composed input.
Status SimulateInputMethod(ViewRef view, const std::u32string& preedit, const std::u32string& commit);

// The help tag (tooltip) on screen now, empty when none shows. For tests
// and review tools.
std::string ShownHelpTag();

} // namespace plat
