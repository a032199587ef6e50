// STRINGARRAY: an array of STRING items with search, splitting a text into
// items, joining items into a text, and a line-per-item text file.
// WSTRINGARRAY: the same on wide text, without the file.
//
// The line file: one item per line, each line ended by a single line feed
// (no carriage returns, no header). Without quoting an item is written as its
// bytes; with quoting it goes through BINARY::Quoted with no extra escape
// characters, so any bytes survive. Reading takes every line (a last line
// without a line feed too) as an item; a carriage return before the line feed
// stays part of the item.
#pragma once

#include "velmot/core/dynarray.h"
#include "velmot/core/strings.h"
#include "velmot/core/wstring.h"

namespace plat {
class Array;
}

extern template class DYNARRAY<STRING>;

class VELMOT_EXPORT STRINGARRAY : public DYNARRAY<STRING> {
public:
    // Search modes of FindItem; every mode ignores case except where noted.
    enum MATCHMODE : int {
        MATCH_EQUAL = 0,    // item equals the text
        MATCH_BEGINS = 1,   // item begins with the text
        MATCH_CONTAINS = 2, // item contains the text
        MATCH_NUMBER = 3,   // the item's number equals the text's number
    };

    explicit STRINGARRAY(DYNARRAY_SIZING initial = 64);
    // Splits `text` at every byte that is one of `delimiters`: n delimiters
    // give n + 1 items; a text without a buffer gives none.
    STRINGARRAY(STRING const& text, char const* delimiters, DYNARRAY_SIZING initial = 64);
    // The texts and numbers of a platform array, in order (other elements
    // are skipped). A text that code page 1252 cannot hold is kept as UTF-8
    // with code page UNICODE_CPUTF8 rather than with question marks.
    explicit STRINGARRAY(plat::Array const& array);
    STRINGARRAY(STRINGARRAY const& other) = default;
    STRINGARRAY& operator=(STRINGARRAY const& other) = default;
    ~STRINGARRAY() override;

    int CompareItems(STRING const* a, STRING const* b, unsigned long flags) override;
    void Sort(unsigned int flags) { SortItems(flags); }

    // Index of the first item that matches, or -1.
    int FindItem(char const* text, MATCHMODE mode = MATCH_EQUAL) const;

    // The items joined, each but the last followed by `separator`.
    STRING AsString(char const* separator) const;

    // Writes the line file. Returns the number of items written (1 when
    // there are none), or 0 when the file cannot be written or (without
    // quoting) an item holds a NUL or a line feed, which the unquoted form
    // cannot carry; nothing is written then.
    int Save(char const* file, bool quoted = false) const;

    // Reads the line file; its lines come first, in file order, before the
    // items already held. Returns the number of lines added, 0 when the file
    // cannot be read (nothing is added then).
    int Load(char const* file, bool unquote = false);
};

extern template class DYNARRAY<WSTRING>;

class VELMOT_EXPORT WSTRINGARRAY : public DYNARRAY<WSTRING> {
public:
    // Search modes of FindItem. Unlike STRINGARRAY, "contains" is
    // case-sensitive here.
    enum MATCHMODE : int {
        MATCH_EQUAL = 0,    // item equals the text, ignoring case
        MATCH_BEGINS = 1,   // item begins with the text, ignoring case
        MATCH_CONTAINS = 2, // item contains the text, exact case
        MATCH_NUMBER = 3,   // the item's number equals the text's number
    };

    explicit WSTRINGARRAY(DYNARRAY_SIZING initial = 64);
    // Splits at every character that is one of `delimiters`: n delimiters
    // give n + 1 items; a text without a buffer gives none.
    WSTRINGARRAY(WSTRING const& text, wchar_t const* delimiters, DYNARRAY_SIZING initial = 64);
    // The texts and numbers of a platform array, in order (other elements
    // are skipped); UTF-16 surrogate pairs become one character.
    explicit WSTRINGARRAY(plat::Array const& array);
    WSTRINGARRAY(WSTRINGARRAY const& other) = default;
    WSTRINGARRAY& operator=(WSTRINGARRAY const& other) = default;
    ~WSTRINGARRAY() override;

    int CompareItems(WSTRING const* a, WSTRING const* b, unsigned long flags) override;

    int FindItem(wchar_t const* text, MATCHMODE mode = MATCH_EQUAL) const;

    // The items joined, each but the last followed by `separator`.
    WSTRING AsWString(wchar_t const* separator) const;
};
