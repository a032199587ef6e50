// The questions the data dialogs and the work folder put to the user (a
// folder, a file name to save under, yes or no, a note) and the help they
// show, gathered in one replaceable table.
//
// The application's message boxes, file dialogs and help book fill these
// in; until they do, the yes/no and note boxes are the toolkit's standard
// alert, the folder and file questions answer "cancelled" and no help is
// shown. A test or a program may replace any entry (SetToolkitQuestions);
// a null entry restores its standard answer.
//
// Main thread only.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/gui/wincontrols.h"

#include "platform/events/windows.h"

struct TOOLKITQUESTIONS {
    // The folder chosen, or an empty text when cancelled.
    STRING (*AskFolder)(plat::WindowRef owner, char const* title, char const* start) = nullptr;
    // The file name chosen, or an empty text when cancelled; `filter` as
    // the save dialog reads it.
    STRING (*AskSaveAsFilename)(plat::WindowRef owner, char const* title, char const* name,
                                char const* filter) = nullptr;
    // True when "yes" was chosen.
    bool (*YesNo)(plat::WindowRef owner, char const* title, char const* text) = nullptr;
    void (*Note)(plat::WindowRef owner, char const* title, char const* text) = nullptr;
    // 1 when the topic was shown.
    int (*HelpTopic)(char const* topic) = nullptr;
    // True when the help of the view (or of a view around it) was shown.
    bool (*HelpOfView)(CONTROLPARENT view) = nullptr;
};

// The table in force, every entry filled.
VELMOT_EXPORT TOOLKITQUESTIONS const& ToolkitQuestions();
// Replaces the table; null entries take the standard answers. Returns the
// table that was in force.
VELMOT_EXPORT TOOLKITQUESTIONS SetToolkitQuestions(TOOLKITQUESTIONS const& questions);
