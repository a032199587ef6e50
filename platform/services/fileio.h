// File helpers shared by the services that keep files: bounded reading,
// folder creation and atomic replacement.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace plat::fileio {

// Reads a whole regular file of at most maxBytes. On failure returns false
// with errno-style code in *error (EFBIG for a file over the bound).
bool ReadBounded(std::string const& path, std::size_t maxBytes, std::string& out,
                 int* error = nullptr);

// Makes the folder and its missing parents; the last one gets mode, the
// parents 0755. True when the folder exists afterwards.
bool MakeFolders(std::string const& path, mode_t mode);

// Replaces path with content so that readers see either the old or the new
// file, never a part: the bytes go to a fresh temporary file in the same
// folder (mkstemp), which gets mode, is flushed to disk and renamed over
// path. The temporary file is named "." + file name + ".tmp" + six random
// characters, so that a writer holding the file's lock may remove ones left
// by a crash.
bool WriteAtomic(std::string const& path, std::string const& content, mode_t mode);

// The file a replacement of path replaces: the target of a symbolic link
// (so that the link stays a link), else path itself.
std::string LinkTarget(std::string const& path);

// The prefix of the temporary files WriteAtomic makes for path.
std::string TempPrefix(std::string const& path);

// Folder part and file part of a path ("/a/b" gives "/a" and "b").
std::string FolderOf(std::string const& path);
std::string FileOf(std::string const& path);

} // namespace plat::fileio
