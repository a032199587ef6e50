// Display lines of the capture buffer's text, as the capture viewer shows
// them: a line takes bytes until a CR (consumed; it ends the line) or until
// the page's columns are full; LF bytes are skipped (no column); a TAB is 8
// columns; in UTF-8 a character is decoded (a broken sequence is one byte
// of one column) and a double-width one takes two columns; any other byte
// is one column. LF bytes after a line are skipped. A line takes at most
// 1015 bytes and always at least one.
//
// Positions here are offsets into the text; LINEINDEX keeps absolute
// stream positions (STREAMDATA::Base() is the text's first byte).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace streamlines {

constexpr size_t MAXLINEBYTES = 1015;
constexpr int TABWIDTH = 8;

struct LAYOUT {
    int Columns = 80;
    bool Utf8 = false;
    bool operator==(LAYOUT const&) const = default;
};

// One shown character of a line.
struct CELL {
    uint32_t Char;   // the character (a TAB is 9, an undecodable byte U+FFFD)
    uint32_t Offset; // its first byte, from the line's start
    uint8_t Bytes;
    uint8_t Width;   // 0 to 2 columns; a TAB 8
    uint16_t Column; // its first column
};

// The start of the line after the one starting at pos (len when it is the
// last one); pos must be below len.
size_t NextLine(char const* text, size_t len, size_t pos, LAYOUT const& layout);
// The cells of the line starting at pos (skipped LFs and the CR have none);
// the start of the next line.
size_t LineCells(char const* text, size_t len, size_t pos, LAYOUT const& layout, std::vector<CELL>& out);
// The start of the display line before the one starting at pos: back over
// LFs and one CR to the previous CR (or `floor`, a line start at or before
// it that the caller knows), then forward to the last start before pos.
size_t LineUp(char const* text, size_t len, size_t pos, LAYOUT const& layout, size_t floor = 0);
// The position under a column of the line starting at pos (a CR ends the
// walk, LFs are skipped, a TAB takes 8 columns).
size_t PositionAt(char const* text, size_t len, size_t pos, int column, LAYOUT const& layout);
// The number of display lines of the whole text.
size_t CountLines(char const* text, size_t len, LAYOUT const& layout);

// The display lines of a capture buffer, kept up to date as text arrives:
// the walk goes on from the last line start that no later change can move
// (before STREAMDATA::StablePos), so each update costs the new text and the
// last logical line; dropped text, a new layout or a new epoch start it
// anew. Every CHECKPOINT-th line start is kept, so finding a line by its
// number or the line before a position walks a few lines only.
class LINEINDEX {
public:
    static constexpr size_t CHECKPOINT = 64;

    // Brings the index up to the text (the buffer's lock held): its bytes,
    // their absolute position, the buffer's epoch and stable position.
    void Update(char const* text, size_t len, uint64_t base, uint64_t epoch, uint64_t stable, LAYOUT const& layout);
    // Display lines from the buffer's start to its end.
    size_t Count() const { return Lines; }
    // The number of the line that holds the absolute position.
    size_t IndexOf(char const* text, size_t len, uint64_t base, uint64_t pos) const;
    // The absolute start of line number index (the last line's start past
    // the end).
    uint64_t StartOf(char const* text, size_t len, uint64_t base, size_t index) const;
    // LineUp over absolute positions, walking from the nearest checkpoint.
    uint64_t LineUp(char const* text, size_t len, uint64_t base, uint64_t pos) const;
    // Forgets everything (the next Update counts anew).
    void Reset() { Valid = false; }

private:
    // The greatest kept line start at or before pos, and its number.
    void Nearest(uint64_t pos, uint64_t* start, size_t* index) const;

    bool Valid = false;
    LAYOUT Layout;
    uint64_t Base = 0;
    uint64_t Epoch = 0;
    // Where the walk goes on: a line start before the stable position.
    uint64_t ResumeAt = 0;
    size_t ResumeIndex = 0;
    size_t Lines = 0;
    std::vector<uint64_t> Checkpoints; // line CHECKPOINT * i starts here
};

} // namespace streamlines
