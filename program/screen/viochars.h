// VIOCHARS, the screen's table of characters that a cell's 16-bit code unit
// cannot hold: characters beyond U+FFFF (emoji, supplementary ideographs,
// mathematical letters) and characters with combining marks (accents,
// joiners, variation selectors) that stay with their base cell.
//
// Such a cell refers to an entry of the table: its code unit lies in the
// surrogate range U+D800..U+DFFF, which no character of a screen ever uses
// (the writers turn a lone surrogate into U+FFFD), and holds the low 11 bits
// of the entry's number; extattr bits 0x04..0x80, which carry nothing else,
// hold the high 6. The cell keeps its 8 bytes, and a plug-in that copies it
// copies the reference. An entry holds the cell's text: the base character
// followed by its marks, at most kMaxLength code points.
//
// Entries are shared by equal texts and never counted: after as many new
// texts as half the entries that lived on the last sweep (4096 at least),
// the screen marks the entries that its rows and its scroll-back still
// refer to and the table frees the others. A freed entry keeps its text
// until its number is taken again, and new entries take the free numbers in
// turn from where the last one was taken: cells that a plug-in or an
// emulation keeps aside for a while (an alternate screen's saved rows) keep
// their text until some hundred thousand new texts later.
//
// Threads: the table has its own lock, taken last (after the screen's and
// the scroll-back's) and never held while another is taken.
#pragma once

#include "plugins/sdk/vioapi.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class VIOCHARS {
public:
    static constexpr uint32_t kCapacity = 1u << 17;
    static constexpr size_t kMaxLength = 16;
    // The bits of a cell (as a 64-bit word) that a reference takes: the code
    // unit and extattr bits 0x04..0x80.
    static constexpr uint64_t kCodeMask = 0xFFFF | (uint64_t{0xFC} << 32);

    static bool IsExtended(VIOCELL c) { return (c.c & 0xF800) == 0xD800; }
    static bool IsExtended(uint64_t cell) { return (cell & 0xF800) == 0xD800; }
    static uint32_t IndexOf(VIOCELL c) { return uint32_t(c.c - 0xD800) | (uint32_t(c.extattr >> 2) << 11); }
    // The reference to entry `index` as cell bits.
    static uint64_t CodeBits(uint32_t index)
    {
        return uint64_t(0xD800 | (index & 0x7FF)) | (uint64_t(index >> 11 & 0x3F) << 34);
    }

    // The cell bits that show the text: a character of the Basic
    // Multilingual Plane alone is itself, anything else an entry (made when
    // the table has none for it). When the table is full, the first
    // character alone, or U+FFFD for one beyond U+FFFF. The caller sweeps
    // first when SweepDue says so.
    uint64_t Intern(std::u32string_view text);
    // Appends the text of an entry the cell refers to (U+FFFD when the
    // entry is gone or the reference is not one).
    void AppendText(VIOCELL cell, std::u32string& out) const;
    // The first character of the entry (U+FFFD as above).
    char32_t Base(VIOCELL cell) const;

    // Whether enough new texts came since the last sweep that a sweep is
    // worth its walk over the screen and the scroll-back.
    bool SweepDue() const;
    // Frees every entry whose bit in `live` (kCapacity bits) is clear (its
    // text stays readable until the number is taken again).
    void Sweep(std::vector<uint64_t> const& live);
    // Marks a cell's reference in a bitmap of kCapacity bits.
    static void Mark(std::vector<uint64_t>& live, VIOCELL c)
    {
        if (IsExtended(c)) {
            uint32_t const i = IndexOf(c);
            live[i >> 6] |= uint64_t{1} << (i & 63);
        }
    }
    // Entries in use.
    size_t Count() const;
    void Clear();

private:
    mutable std::mutex Lock;
    std::vector<std::u32string> Slots; // by number; empty: never used
    std::vector<bool> Free;            // by number: free to be taken
    size_t Live = 0;                   // entries not free
    std::unordered_map<std::u32string, uint32_t> ByText;
    uint32_t Next = 0;         // where the search for a free number starts
    size_t Made = 0;           // new texts since the last sweep
    size_t SweepEvery = 4096;  // new texts between sweeps
};
