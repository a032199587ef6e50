// Small helpers of the host directory: its texts from the string table
// "HostDirectory", the sort order of entries, and the password filler of
// saved files.
#pragma once

#include "program/hostdir/phonerecord.h"

#include "velmot/core/strings.h"
#include "velmot/core/wstring.h"

#include <string>

namespace phonetext {

// A text of the host directory's string table.
STRING Text(char const* id);
WSTRING WideText(char const* id);

// The sort key of a slot: empty slots first, then entries without a name,
// then the named ones; among those the "first" entries ahead, then the
// name without "~" marks and letter case, then the exact name and the
// handle. The order is total.
struct SORTKEY {
    int Class = 0; // 0 empty slot, 1 no name, 2 named
    int First = 0;
    std::wstring Folded;
    std::wstring Exact;
    int Handle = 0;
};
SORTKEY SortKeyOf(_PHONEBOOK_300 const* entry);
bool SortLess(SORTKEY const& a, SORTKEY const& b);
// Equal as the listing sees them (the same class, "first" and folded name).
bool SortEqual(SORTKEY const& a, SORTKEY const& b);

// The 55 printable characters that fill a password field after its end
// before it is scrambled, so that the scrambled form does not tell the
// password's length.
extern char const kPasswordFiller[56];
// Fills the password field of a scratch copy: every byte after the
// password's terminator up to the field's last two bytes, starting with
// filler character (slot mod 55).
void PadPassword(char* field, size_t size, int slot);

} // namespace phonetext
