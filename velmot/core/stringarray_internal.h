// Line reading shared by the line files of STRINGARRAY and the record files
// of HASHLIST (library-internal).
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>

namespace velmot_detail {

// Reads the stream to its end and hands every line to `line` without its line
// feed: lines of any length (up to the size a STRING can hold), and a last
// line without a line feed too. `line` returns false to stop. Returns 0 when
// the whole stream was read, or the errno value of the read failure (EFBIG
// for a line too long to hold).
int ReadLines(FILE* f, std::function<bool(char const* text, size_t length)> const& line);

} // namespace velmot_detail
