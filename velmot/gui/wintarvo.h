// WINTARVO: the application's ready-made questions.
//
// Error, warning and information boxes, yes/no and yes/no/cancel
// questions, the same boxes with a "don't show again" choice whose answer
// the caller keeps in a HASH (one key per question: "1" suppresses it, "0"
// or nothing asks), the file and folder questions (filenamedialog.h), the
// preparation of alert texts, a gradient fill and the tip of the day.
//
// Every box is a standard alert run by DARWINDOW::GenericAlert; button
// texts are German when TARVOAPP::IsLocaleGerman, English otherwise.
// Results of the alert: 1 the default button, 2 the cancel button, 3 the
// other button.
//
// Tip of the day: a list of tips (from a tip file among the resources, or
// given) shown one after another in the dialog "ID_TARVO_DLGTIPOFDAY",
// with the display style (1 every time, 2 once a day, 3 every other day,
// 4 once a week, any other never), the day last shown and the next tip
// kept in the registry store under Software\Tarvo\<key>: "TipOfDayStyle",
// "TipOfDayLast", "TipOfDayCount".
//
// Tip file: UTF-8 (or code page 1252) text. Without any "[TIP]" line every
// non-empty line is one tip; with them, each "[TIP]" line closes a tip
// made of the lines before it (joined with blanks; an empty line is a
// paragraph break), with a heading from a "title=" line; a tip with a
// "platform=" line naming another platform than this one ("linux") is left
// out. A tip "heading|text" shows its own heading.
//
// Main thread only.
#pragma once

#include "velmot/core/hash.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/strings.h"
#include "velmot/gui/windows.h"

class WINDC;

class VELMOT_EXPORT WINTARVO {
public:
    WINTARVO() = delete;

    // Boxes with one OK button: the alert's result.
    static int ErrorMsgBox(plat::WindowRef owner, char const* title, char const* text);
    static int WarningMsgBox(plat::WindowRef owner, char const* title, char const* text);
    static int InfoMsgBox(plat::WindowRef owner, char const* title, char const* text);
    // True when "yes" was chosen.
    static bool YesNoMsgBox(plat::WindowRef owner, char const* title, char const* text);
    // 1 yes, 0 no, -1 cancel.
    static int YesNoCancelMsgBox(plat::WindowRef owner, char const* title, char const* text);

    // The same with "don't show again" (a null title is the application's
    // name); see DontShowAgainMessage.
    static void ErrorMsgBox(plat::WindowRef owner, char const* title, char const* text, HASH& state, char const* key);
    static void WarningMsgBox(plat::WindowRef owner, char const* title, char const* text, HASH& state,
                              char const* key);
    static void InfoMsgBox(plat::WindowRef owner, char const* title, char const* text, HASH& state, char const* key);
    static int YesNoMsgBox(plat::WindowRef owner, char const* title, char const* text, HASH& state, char const* key);

    // Asks unless state[key] holds a number other than 0 (then answers 1 at
    // once). With `yesno` the buttons are yes and no, else OK; the third is
    // "don't show again". Returns 1 for the default button and for "don't
    // show again" (which stores "1"), else 0 (storing "0").
    static int DontShowAgainMessage(int type, bool yesno, plat::WindowRef owner, char const* title,
                                    char const* text, HASH& state, char const* key);

    // The file and folder questions (filenamedialog.h).
    static char const* AskFilename(plat::WindowRef owner, char const* title, char const* initial,
                                   char const* filter);
    static char const* AskSaveAsFilename(plat::WindowRef owner, char const* title, char const* initial,
                                         char const* filter);
    static int AskFilenames(plat::WindowRef owner, char const* title, char const* initial, STRINGARRAY* result,
                            char const* filter);
    static STRING AskFolder(plat::WindowRef owner, char const* title, char const* initial);

    // An alert text with the hard line breaks of running text joined
    // (DARWINDOW::WrapAlertText); `width` and `flag` are not used.
    static STRING WrapMsgBoxString(STRING text, int width, signed char flag);

    // Fills the rectangle from `from` to `to` (0xTTBBGGRR) in bands (top to
    // bottom when `vertical`, else left to right, one line per column).
    // 1, or WINDC::FillRect's result when the colours are equal.
    static int FillRectGradient(WINDC& dc, RECT const* rect, COLORREF from, COLORREF to, bool vertical);

    // Shows the tips when their style says it is time, or when `force`.
    // `file` is a resource file name; `key` the registry application part.
    static void TipOfTheDay(WINDOW const& owner, STRING file, STRING key, bool force);
    static void TipOfTheDay(WINDOW const& owner, STRINGARRAY tips, STRING key, bool force);

    // The tips of a tip file's text (the format above).
    static STRINGARRAY ParseTips(std::string const& text);
};
