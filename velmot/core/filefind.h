// File search: the entries of one folder that match a file-name mask.
//
// The mask is written in the portable style (such as *.txt or log?.dat) and
// matches without regard to case, so files written by other systems with
// other letter cases are found. It is turned into an anchored regular
// expression once per search: "*" is any run of characters, "?" any one,
// "." and the brackets stand for themselves, and the other regular
// expression characters ("+", "|", ...) keep their meaning.
#pragma once

#include "velmot/core/osysfile.h"
#include "velmot/core/regexp.h"
#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

#include <dirent.h>
#include <string>

class VELMOT_EXPORT FILEFIND {
public:
    FILENAME Name;     // the current entry's name (no folder)
    FILENAME Fullname; // the folder joined with the current entry's name
    FILENAME Spec;     // the search pattern
    FILENAME Folder;   // the folder being searched
    bool Found = false;
    STRING* NameOut = nullptr; // receives each entry's name as well
    DIR* Dir = nullptr;
    STRING Mask; // the mask as a regular expression

    // Prepares the search and finds the first entry. A pattern that names
    // an existing folder (and has no "*") lists every entry of it.
    FILEFIND(char const* pattern, STRING* nameOut = nullptr);
    ~FILEFIND();
    FILEFIND(FILEFIND const&) = delete;
    FILEFIND& operator=(FILEFIND const&) = delete;

    // Moves to the next matching entry: 1 when one was found, 0 at the end.
    int FindNext();

    FILENAME const& GetName() const { return Name; }
    FILENAME const& GetFullname() const { return Fullname; }
    unsigned long long GetModTime();
    uint32_t GetAttributes() const;
    bool TestAttribute(uint32_t mask) const;
    void StoreResult(bool found, char const* name);

    // The anchored, case-blind regular expression of a file-name mask.
    static std::string MaskToRegex(char const* mask);

private:
    REGEXP Matcher;
    bool MaskValid = false;
};
