// File names and files.
//
// FILENAME is the path object of the whole system. Paths reach it in the
// portable form of the settings files and the command line (backslashes,
// folder placeholders such as "%USERHOME%" or "$(USERHOME)", "~\" for the
// home folder, the special names "<self>" and "<tmp>") and it holds them in
// the platform's form: forward slashes, no trailing slash (the root stays
// "/"). AsShellStrings turns a path back into the portable form for storing.
//
// File names on this platform are case-sensitive. Placeholders and special
// names are recognised in any letter case; real paths are compared exactly.
#pragma once

#include "velmot/core/osys.h"
#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

#include <cstdio>
#include <sys/stat.h>

// Sharing modes of FILENAME::fsopen.
constexpr int FSOPEN_SHARE_FROM_MODE = -1;
constexpr int FSOPEN_SHARE_NONE = 0;
constexpr int FSOPEN_SHARE_EXCLUSIVE = 16;
constexpr int FSOPEN_SHARE_SHARED = 32;

// Attribute word of GetAttributes and SetAttributes.
constexpr uint32_t FILENAME_ATTR_READONLY = 0x01;
constexpr uint32_t FILENAME_ATTR_HIDDEN = 0x02;
constexpr uint32_t FILENAME_ATTR_DIRECTORY = 0x10;
constexpr uint32_t FILENAME_ATTR_INVALID = 0xFFFFFFFF;

class VELMOT_EXPORT FILENAME : public STRING {
public:
    // One entry of the placeholder table.
    struct SHELLSTRINGS {
        STRING Name;    // "%NAME%"
        STRING AltName; // "$(NAME)"
        STRING Value;   // the folder it stands for, in platform form
        bool Flag = false; // only expanded, never substituted back
    };
    static constexpr int SHELLSTRINGS_MAX = 32;
    // The process-wide placeholder table: used entries first, sorted by the
    // length of their value, longest first, so the most specific folder wins.
    static SHELLSTRINGS ShellStrings[SHELLSTRINGS_MAX];
    static bool InShellStringInInit;

    // The file's status as last read by UpdateModTime (zero when unread).
    struct stat FileStatus;

    FILENAME();
    FILENAME(char const* text);
    FILENAME(STRING const& text);
    // Joins a folder and a file; an absolute file stands alone.
    FILENAME(char const* dir, char const* file);
    FILENAME(char const* dir, char const* sub, char const* file);
    FILENAME(FILENAME const& other);

    // Takes the text as it is (no placeholders are expanded) in platform
    // form; only from a FILENAME is the status taken along.
    FILENAME& operator=(FILENAME const& other);
    FILENAME& operator=(STRING const& text);
    FILENAME& operator=(char const* text);

    // Takes a portable text: "<self>", "<tmp>"/"<temp>" and the
    // placeholders are expanded and the result put in platform form.
    void InitFromString(char const* text);

    static void ToPlatform(STRING& text); // '\' -> '/'
    static void ToWindows(STRING& text);  // '/' -> '\'

    // Placeholders.
    static int ShellStringSet(char const* name, char const* value, bool flag);
    static int ShellStringsInit();
    void ExpandShellStrings();
    STRING AsShellStrings(bool home) const;

    // Path parts.
    FILENAME JustPath() const;
    FILENAME JustFile() const;
    FILENAME RelPath(char const* base) const;
    FILENAME FullPathAndFile() const;
    bool IsAbsPath() const;

    // Queries; each asks the system afresh.
    bool Exists() const;
    bool IsFile() const;
    bool IsDirectory() const;
    bool IsReadable() const;
    bool IsWriteable() const;
    bool IsReadOnly() const;
    bool IsHidden() const { return false; }
    bool IsArchived() const { return false; }
    uint32_t GetAttributes() const;
    int64_t GetFileSize() const;
    bool GetFileTime(unsigned long long* ltime) const;
    bool GetFileTime(_SYSTEMTIME* st) const;
    bool GetFileTime(STRING* text) const;
    void UpdateModTime();
    bool HasModTimeChanged() const;

    // Actions; each returns success.
    bool MkDir() const;
    bool RmDir() const;
    bool DeleteFile() const;
    bool ChDir() const;
    bool SetAttributes(uint32_t attributes) const;
    bool SetReadOnly(bool readonly) const;
    bool SetHidden(bool hidden) const;
    bool SetArchived(bool) const { return false; }
    bool SetFileTime(unsigned long long ltime) const;
    bool SetFileTime(_SYSTEMTIME const& st) const;
    // Copies the file; without overwrite an existing destination is left
    // alone. The copy goes to a new file beside the destination that
    // replaces it only when every byte was read and written, so a failed
    // copy never leaves a damaged destination. Copying a file onto itself
    // is refused.
    bool CopyTo(char const* dest, bool overwrite) const;
    // Renames the file within its own folder (only the file-name part of
    // newname is used). Without overwrite an existing target is refused;
    // with it the target is replaced in one step.
    bool RenameTo(char const* newname, bool overwrite) const;
    bool RemoveIllegalCharacters(bool keepSeparators, int replacement);
    STRING Load() const;

    // Opens a stream with an advisory whole-file lock that lasts until the
    // stream is closed: shared for reading, exclusive for writing (share -1
    // derives it from the mode). Null when the file cannot be opened or the
    // lock is held elsewhere. The descriptor is closed in started programs.
    static FILE* fsopen(char const* path, char const* mode, int share = FSOPEN_SHARE_FROM_MODE);

private:
    void ClearStatus();
};
