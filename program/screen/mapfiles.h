// The text files of key maps (".qky") and translation tables (".qtr"):
// reading a whole file within a bound, splitting it into lines, reading
// the fields of a line, and replacing a file in one step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mapfiles {

// The largest file read (a full key map takes some 200 KB at most).
constexpr size_t MAXFILE = 1 << 20;
// The longest line that may hold an entry.
constexpr size_t MAXLINE = 4096;

// Reads a whole file; false with an errno code in *error (EFBIG for a
// file over MAXFILE).
bool ReadFile(char const* path, std::string* out, int* error);

// Replaces the file with the content in one step (readers see the old or
// the new file, never a part), keeping the mode of the file it replaces
// and following a link to it. False with errno set.
bool WriteFile(char const* path, std::string const& content);

// The lines of a text: each without its line feed and the carriage
// returns before it; a last line without a line feed counts too.
class LINES {
public:
    LINES(char const* data, size_t size) : Text(data ? data : "", data ? size : 0) {}
    bool Next(std::string_view* line);
    // The number (from 1) of the line Next gave last.
    int Number() const { return Count; }

private:
    std::string_view Text;
    size_t Pos = 0;
    int Count = 0;
};

// Reads the fields of one line from left to right, as scanf's conversions
// read them: numbers may follow blanks.
struct CURSOR {
    std::string_view Text;
    size_t Pos = 0;

    // The character c.
    bool Take(char c);
    // One to maxDigits hexadecimal digits.
    bool Hex(int maxDigits, uint32_t* value);
    // A decimal number with an optional sign.
    bool Decimal();
    // Any one character.
    bool Any(char* c);
    std::string_view Rest() const { return Text.substr(Pos); }

private:
    void SkipBlanks();
};

} // namespace mapfiles
