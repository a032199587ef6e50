// File dialogs: FILENAMEDIALOG asks for files to open, a name to save
// under, or a folder, through the platform's file dialogs
// (platform/dialogs/filedialogs.h), and returns absolute paths (UTF-8
// bytes) in a STRINGARRAY. The free functions AskFilename, AskFilenames,
// AskSaveAsFilename and BrowseFolder are the usual entries: each builds one
// FILENAMEDIALOG, runs it and destroys it.
//
// Filter text: lines separated by LF, each "description|*.ext" (one
// extension per line; the first two characters of the pattern are taken
// off). When saving, a first line that begins with "." is the default
// extension itself. A filter holding "*.exe" anywhere is not applied. A
// line's extension filters the dialog when it names a text type
// (plat::TextTypeIdentifierForExtension); the pattern "*.*" lists every
// file. Files are matched by extension without regard to case.
//
// Saving proposes a free name "untitled", "untitled2" ... "untitled31" with
// the default extension when the initial path is a folder or a "*.ext"
// pattern in a folder. The name typed gets the default extension appended
// unless it already ends with it (in any case); the dialog asks before it
// replaces an existing file at that final path and stays open when the
// user says no.
//
// Main thread only.
#pragma once

#include "velmot/core/osysfile.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/strings.h"
#include "velmot/gui/winevents.h"

#include "platform/dialogs/filedialogs.h"

#include <vector>

// Option bits of a dialog's creation options.
constexpr uint32_t NAVOPTION_ALLFILESINPOPUP = 0x10;
constexpr uint32_t NAVOPTION_MULTIPLEFILES = 0x80;
constexpr uint32_t NAVOPTION_INVISIBLEFILES = 0x100;
constexpr uint32_t NAVOPTION_SUPPORTPACKAGES = 0x1000;
constexpr uint32_t NAVOPTION_DONTCONFIRMREPLACE = 0x10000;

class VELMOT_EXPORT FILENAMEDIALOG {
public:
    explicit FILENAMEDIALOG(plat::WindowRef owner);
    virtual ~FILENAMEDIALOG();
    FILENAMEDIALOG(FILENAMEDIALOG const&) = delete;
    FILENAMEDIALOG& operator=(FILENAMEDIALOG const&) = delete;

    // Clears the results and the filter, and the user action back to 1.
    void Init();
    // True when the user opened (2), saved (3) or chose (4).
    bool AskOpen(char const* title, char const* initial, char const* filter, bool multiple);
    bool AskSaveAs(char const* title, char const* initial, char const* filter);
    bool AskForFolder(char const* title, char const* initial);
    // Adds a filter line's extension; true when it names a text type that
    // filters the dialog (a dynamic identifier does not).
    bool AddExtensionToFilter(char const* extension);
    // Copies the results; returns their number.
    int GetResults(STRINGARRAY* out) const;

    // The dialog's callbacks: whether a file is listed; the dialog's
    // events (start, pop-up choice, user action); whether the user's choice
    // may end the dialog (missing files and folders are refused, a file
    // that a save would replace is asked about).
    bool ObjectFilterCallback(char const* path) const;
    void NavEventCallback(plat::FileDialogEvent& event);
    bool ApproveReply(plat::FileDialogReply const& reply);
    // Puts the reply's paths into the results (a save's with the name and
    // the default extension). False when there was nothing to put.
    bool ParseReply(plat::FileDialogReply const& reply);

    STRINGARRAY Results;
    int UserAction = plat::kFileActionCancel;
    plat::WindowRef Owner = nullptr;
    bool Running = false;
    uint32_t OptionFlags = 0;
    STRING Title;
    STRING SaveFileName;
    FILENAME InitialLocation;
    STRING DefaultExtension; // with its dot, or empty
    STRINGARRAY FilterTypes; // type identifiers that filter the dialog
    STRING CurrentFilterName;
    STRINGARRAY Extensions; // without the dot, in filter order

private:
    enum class KIND { OPEN, SAVE, FOLDER };
    // The extensions of the filter lines, and the pop-up items of those
    // that name a type.
    void ApplyFilter(char const* filter);
    int Run(KIND kind);
    // The path a save reply writes.
    STRING SavePath(plat::FileDialogReply const& reply) const;

    KIND fKind = KIND::OPEN;
    std::vector<plat::FileType> fPopup;
};

// The free questions; `owner` may be null. AskFilename and
// AskSaveAsFilename return a text that stays valid until the next call of
// the same function, or null when cancelled.
VELMOT_EXPORT char const* AskFilename(plat::WindowRef owner, char const* title, char const* initial,
                                      char const* filter);
VELMOT_EXPORT int AskFilenames(plat::WindowRef owner, char const* title, char const* initial, STRINGARRAY* result,
                               char const* filter);
VELMOT_EXPORT char const* AskSaveAsFilename(plat::WindowRef owner, char const* title, char const* initial,
                                            char const* filter);
// The folder chosen, empty when cancelled.
VELMOT_EXPORT STRING BrowseFolder(plat::WindowRef owner, char const* title, char const* initial);
