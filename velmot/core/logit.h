// The process-wide diagnostic log and assertion reports.
//
// Every class traces its work with LOGIT/LOGIF. The log is off until a
// logging switch (LOGITARG) opens it; while it is off a log call costs one
// test of gDoLogit and does not evaluate its arguments. Lines start with
// "[seconds:thread] ", one call writes at most 8191 bytes, and one
// process-wide lock keeps the writes of different threads whole.
#pragma once

#include "velmot/core/vtypes.h"

#include <cstdarg>

// Logging or debug logging is on: lets callers skip building log text.
extern VELMOT_EXPORT volatile bool gDoLogit;

VELMOT_EXPORT int LogitWrite(char const* format, ...) VELMOT_PRINTF(1, 2);
VELMOT_EXPORT int LogifWrite(int level, char const* format, ...) VELMOT_PRINTF(2, 3);
VELMOT_EXPORT int LogitWriteV(int level, bool filtered, char const* format, va_list args);

// Writes one printf-style message; 1 when it reached the writer.
#define LOGIT(...) (gDoLogit ? LogitWrite(__VA_ARGS__) : 0)
// As LOGIT, filtered by level (bits 0-3) and categories (bits 4-31). With a
// null format nothing is written; the result tells whether a message of that
// level would be.
#define LOGIF(level, ...) (gDoLogit ? LogifWrite((level), __VA_ARGS__) : 0)

// Drops the next message (or every message, with multiple) whose format
// begins with prefix; null clears. The prefix is copied.
VELMOT_EXPORT void LOGITSKIPNEXT(char const* prefix, bool multiple);

// Applies one logging switch ("/LOGIT", "/LOG:5", "/NOASSERT", ...); returns
// 1 when the argument was one of the switches.
VELMOT_EXPORT int LOGITARG(char const* argument);

// Current switch level and category mask (bits 0-3 level, 4-31 categories).
VELMOT_EXPORT uint32_t LogitLevelMask();
// Name of the open log file ("" when none or a standard stream).
VELMOT_EXPORT char const* LogitFileName();
// Flushes the log stream (used before the process ends abruptly).
VELMOT_EXPORT void LogitFlush();

// Reports a failed invariant: the report is logged, appended to the
// assertion file and, unless quiet or "/NOASSERT" is in force, the user is
// asked whether to go on. Returns 1 (the caller's recovery then runs); a user
// who declines ends the process.
VELMOT_EXPORT int AssertMsg(int condition, char const* expression, char const* file, int line,
                            char const* info = nullptr, bool quiet = false);

// The question of AssertMsg is asked through this hook: it gets the title and
// the question text and returns true to continue. The toolkit installs its
// alert here; tests install recorders. Without a hook the question goes to
// standard error and the program continues (no process ever blocks on a
// terminal it may not have). Returns the previous hook.
using ASSERTQUESTIONHOOK = bool (*)(char const* title, char const* question);
VELMOT_EXPORT ASSERTQUESTIONHOOK SetAssertQuestionHook(ASSERTQUESTIONHOOK hook);

// Whether assertion questions are switched off ("/NOASSERT").
VELMOT_EXPORT bool AssertQuestionsOff();

// Reports `cond` when it is false, with its own text as the expression.
#define ASSERTMSG(cond, info) \
    ((cond) ? 1 : AssertMsg(0, #cond, __FILE__, __LINE__, (info), false))
#define ASSERTQUIET(cond, info) \
    ((cond) ? 1 : AssertMsg(0, #cond, __FILE__, __LINE__, (info), true))
