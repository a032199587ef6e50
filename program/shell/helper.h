// HELPER: static services of the whole main program: the caret notation of
// user texts (answer-backs, file names, key macros, buttons) and the date
// record it reads, files opened with a large buffer or with retries, lines,
// file lists, "|" lists, byte counts for display, code-page and antialias
// choices of settings dialogs, terminal fonts with fallbacks, colour
// halftones, URL tests, and the functions that data-bound dialogs attach to
// their "..." buttons.
//
// Threads: everything is reentrant except the push functions and
// LoadFontWithFallback (main thread). gDateTime is written by CurDateTime
// (main thread) and read without a lock: a reader on another thread may see
// a record that is being rewritten.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/wincontrols.h"

#include <cstdint>
#include <cstdio>
#include <string>

class APP;
class CHILDWINDOW;
class COREFONT;
class SESSION;
class WINDC;
class WINDOW;

// The date and time the caret notation reads.
struct DATETIMERECORD {
    int32_t Time;    // seconds since 1970
    int32_t Hour;    // 0-23
    int32_t Minute;  // 0-59
    int32_t Second;  // 0-60
    int32_t Weekday; // 0-6, Sunday 0
    int32_t Day;     // 1-31
    int32_t Month;   // 1-12
    int32_t Year;    // four digits
    char TimeText[32];
    char DateText[32];
    char IsoDate[32]; // "%04d-%02d-%02d"
};
extern DATETIMERECORD gDateTime;

// The character "^!" produces; consumers of expanded texts give it its
// meaning (a pause, a break).
constexpr wchar_t HELPER_BREAKMARKER = 0xFFF8;

class HELPER {
public:
    HELPER() = default;

    // What the caret notation asks of a session: the current host-directory
    // entry's user name and password, the connected host's name, the main
    // window's instance number and the session's serial number.
    class CTRLSOURCE {
    public:
        virtual ~CTRLSOURCE() = default;
        virtual std::string HostUsername() { return std::string(); }
        // May ask the user first.
        virtual std::string HostPassword() { return std::string(); }
        virtual std::string HostName() { return std::string(); }
        virtual int InstanceNumber() { return 1; }
        virtual int SessionSerial() { return 0; }
    };

    // Expands the caret notation in place; never writes more than size
    // characters (terminator included). The new length, which counts the
    // NUL characters "^@" and "^(00)" put into the text.
    // A command-line argument or connect string for the log: the password
    // of an SSH login ("/SSH:user:password@host", "SSH!user:password@host")
    // written as "****".
    static std::string RedactLogin(char const* text);
    static int MakeCtrl(SESSION& session, wchar_t* text, int size);
    static int MakeCtrl(SESSION& session, char* text, int size);
    static int MakeCtrl(CTRLSOURCE& source, wchar_t* text, int size);
    static int MakeCtrl(CTRLSOURCE& source, char* text, int size);

    // Refreshes gDateTime (with the localised date and time texts when
    // asked); the year.
    static int CurDateTime(signed char withTexts);

    // "1.23 MB", "4.5 KB" or "100 Bytes", with the suffix appended.
    static STRING BeautyBytes(long long bytes, char const* suffix);

    // Opens with a fully buffered 32 KB stream buffer; null on failure (the
    // reason is logged).
    static FILE* fopen(char const* name, char const* mode, int share);
    // fopen, tried up to 10 times while access is denied (EACCES).
    static FILE* fopenloop(char const* name, char const* mode, int share);
    // One line without its line end (at most size - 1 bytes); 0 for an
    // empty line or the end of the file.
    static int ReadLine(char* buffer, int size, FILE* f);
    // The file's size, -1 when it does not exist.
    static long long FileSize(char const* name);
    // The files (no folders) matching the mask, as heap texts (free),
    // bare names or with the mask's folder; at most size - 1 entries and a
    // null after the last when there is room. The count.
    static int FindFiles(char const* mask, char const* folder, signed char fullPath, char** table, int size);
    // Cuts text at each "|" in place; empty items are skipped; after
    // size - 2 items the rest is the last item; a null ends the table.
    static int SplitList(char** table, char* text, int size);
    // Index of the first entry of the null-terminated list that the text
    // contains, -1.
    static int FindInList(char const* text, char const* const* list);
    // Every occurrence of find replaced (the search goes on after each
    // replacement).
    static std::string Replace(std::string const& text, char const* find, char const* replacement);
    // Appends ch to a sliding buffer of size characters: when the position
    // reached size - 1 the oldest drop characters go first. The position.
    static int FillUp(char* buffer, int size, char ch, int* position, int drop);
    static int FillUpWide(wchar_t* buffer, int size, wchar_t ch, int* position, int drop);
    // A copy without the mnemonic marks "~" and "&".
    static STRING StripTilde(char const* text);
    static WSTRING StripTildeWide(wchar_t const* text);
    // A picker's title and its filter: the part after the first line break
    // is the filter ("|" a line break, ";" a "|").
    static void ConvertFilenameTitle(char const* text, STRING& title, STRING& filter);
    // The file relative to the options folder when it lies below it.
    static STRING RelOptsPath(APP& app, char const* file);
    // Letters (or nothing), ":", "//", and a "." somewhere after.
    static int IsUrlString(STRING const& text);
    // The colon between host and port ("[v6]:port" only after "]"), null.
    static char* FindColonForPort(char* text);
    // The code-page choice lists of the settings dialogs.
    static int CharsetToIndex(int codePage);
    static int CharsetFromIndex(int index);
    // Tri-state check box (0 indeterminate, 1 on, 2 off) and the antialias
    // setting (-1 system default, 1 on, 0 off).
    static int CheckboxToAntialias(int state);
    static int AntialiasToCheckbox(int setting);
    static void Ansi2Oem(char* text, int length);
    static void Oem2Ansi(char* text, int length);
    static char const* GetDefaultButtonFont() { return "8.Helv"; }
    static int GetMouseWheelLines(int, int) { return -1; }
    // The colour tinted for a disabled or overlaid look.
    static COLORREF Halftone(COLORREF colour, signed char full);
    // A fixed-pitch font: the font string, else the session's screen font,
    // else the main window's default, else the default terminal font of 11
    // points; accepted only when the font loaded under the name asked for.
    // Attempts after the first write the font string used into fontString
    // (room for 128 characters). Null when none loads. Main thread.
    static COREFONT* LoadFontWithFallback(SESSION& session, WINDC& dc, wchar_t* fontString, int size,
                                          signed char* bold, int codePage, signed char skipViewFont);
    // Window transparency in percent (-1: no change); the child window is
    // repainted.
    static void SetTransparency(WINDOW& window, CHILDWINDOW& child, int unused, int percent);

    // The "..." buttons of data-bound dialogs (main thread): a file, a
    // folder, the system colour editor, or the dialog's end.
    static void PushFnctSelectFile(void* app, CONTROLID id, CONTROLPARENT parent, STRING* parm);
    static void PushFnctSelectFolder(void* app, CONTROLID id, CONTROLPARENT parent, STRING* parm);
    static void PushFnctSetSystemColors(void* session, CONTROLID id, CONTROLPARENT parent, STRING* parm);
    static void PushFnctDiscardDialog(void* dialog, CONTROLID id, CONTROLPARENT parent, STRING* parm);
};
