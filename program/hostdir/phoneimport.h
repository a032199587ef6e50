// The import of foreign host lists through the outside converter library
// ZAVARERA.DLL: the library names the formats it knows; the user picks a
// format and a file (dialog "DLG_WIN_PHONE_IMPORT"); the library writes
// the hosts as host-directory entries to a private temporary file; the
// user chooses the target section and the entries (dialog
// "DLG_WIN_PHONE_IMPORT2"), which are added as new entries.
//
// The host-directory window owns one PHONEIMPORT, made when it opens (the
// import command is enabled when Load found the library); its import
// command calls ImportMain.
//
// Main thread only.
#pragma once

#include "program/hostdir/phonebook.h"

#include "velmot/core/dllinterface.h"
#include "velmot/core/stringarray.h"
#include "velmot/gui/datadialogs.h"

#include <functional>
#include <string>
#include <vector>

class SESSION;

// The format dialog: the format list, the file field with its browse
// button, OK enabled when the format needs no file or the file exists.
class PHONEIMPORTDIALOG : public DATADIALOGBOX {
public:
    PHONEIMPORTDIALOG(PHONEBOOKHOST& host, WINDOW const& owner, char const* dialog, void* resources,
                      char const* formats);
    ~PHONEIMPORTDIALOG() override;

    int Process(signed char noshow = 0) override;
    bool OnControlEvent(int event, CONTROL const& control, void* data) override;
    bool OnPushbutton(CONTROLID id) override;

    // The chosen format's index and the file.
    int Format() const;
    STRING const& File() const { return FileName; }
    std::vector<std::string> const& Names() const { return FormatNames; }
    std::vector<std::string> const& Masks() const { return FormatMasks; }

private:
    // EDIT 23 for the chosen format, then the states of the file field,
    // the browse button and OK.
    void FormatChosen();
    void CheckFile();

    PHONEBOOKHOST& Host;
    std::vector<std::string> FormatNames;
    std::vector<std::string> FormatMasks;
    STRINGARRAY Choices{8};
    STRING FileName;
    STRING Index{"0"};
    // The format the file field was last set for: a list that reports the
    // same choice again (as when it is filled) changes nothing.
    int ShownFormat = -1;
};

class PHONEIMPORT {
public:
    // The converter library's two entries.
    using QUERYTYPES = int (*)(char* buffer, int size);
    using IMPORTFILES = int (*)(char const* source, int format, char const* target, void* profile, int zero,
                                void* session, void* module);

    PHONEIMPORT(PHONEBOOK& book, SESSION* session);
    ~PHONEIMPORT();
    PHONEIMPORT(PHONEIMPORT const&) = delete;
    PHONEIMPORT& operator=(PHONEIMPORT const&) = delete;

    // Loads the converter library (by default "ZAVARERA.DLL" from the
    // plug-in folder); false when it is missing or lacks its entries.
    bool Load(char const* library = "ZAVARERA.DLL");
    bool IsLoaded() const { return Library.IsLoaded() && QueryTypes && ImportFiles; }

    // The section the window shows (the target offered first).
    void SetCurrentSection(int section) { CurrentSection = section; }
    // Called when a new section was made (the window's command 'ID27').
    std::function<void()> OnSectionsChanged;

    // 1 when entries were added, 0 otherwise.
    int ImportMain(WINDOW const& owner);
    signed char ImportAfterConvert(char const* convertedFile, WINDOW const& owner);

    // The format list: items split at "|", each a name and a mask split at
    // ";" (no mask: "*.*"). At most 1023 characters are read.
    static void ParseFormats(char const* text, std::vector<std::string>& names, std::vector<std::string>& masks);
    // Whether a format with this mask (or a file field with this text)
    // needs a file: not "N/A" and not beginning with "<".
    static bool NeedsFile(char const* mask);

private:
    PHONEBOOK& Book;
    SESSION* Session;
    DLLINTERFACE Library;
    QUERYTYPES QueryTypes = nullptr;
    IMPORTFILES ImportFiles = nullptr;
    int CurrentSection = 0;
};
