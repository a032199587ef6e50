// File copying shared by FILENAME and the folder-tree operations
// (library-internal).
#pragma once

#include <string>

namespace velmot_detail {

// A name for a new file beside `name` in the same folder: `name` with a
// random ending.
std::string SiblingName(std::string const& name);

// Creates a new file beside `name` (a path relative to the open folder
// `dirfd`, or AT_FDCWD) for writing, with the permissions a new file gets
// (0666 less the umask). Returns the descriptor, -1 on failure, and the new
// file's name (relative to the same folder) in `sibling`.
int CreateSiblingAt(int dirfd, std::string const& name, std::string* sibling);

// Copies everything from in to out; false on the first read or write error.
bool CopyData(int in, int out);

} // namespace velmot_detail
