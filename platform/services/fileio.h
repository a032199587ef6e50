// File helpers shared by the services that keep files: opening a user's
// file for reading safely, bounded reading, folder creation and atomic
// replacement.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <sys/types.h>

namespace plat::fileio {

// The error code of a file that is not a regular file (a folder, a FIFO, a
// device): outside the range of errno values; ErrorText names it.
constexpr int kNotRegularFile = 0x10000;

// What an error code of these helpers means, for a message: the system's
// text for errno values, "not a regular file" for kNotRegularFile, "larger
// than the program reads" for EFBIG.
std::string ErrorText(int error);

// Opens a user's file for reading: only a regular file of at most maxBytes
// is opened. The open itself never waits (O_NONBLOCK: a FIFO or a device
// put in the file's place cannot hold the program up), the type and size
// are checked on the opened descriptor, and the descriptor then reads
// normally. Returns the descriptor (close-on-exec), or -1 with the error
// code in *error (kNotRegularFile, EFBIG or errno).
int OpenRegular(std::string const& path, std::size_t maxBytes, int* error = nullptr);
// The same as a stdio stream ("r"); null on failure.
FILE* OpenRegularStream(std::string const& path, std::size_t maxBytes, int* error = nullptr);

// Reads a whole regular file of at most maxBytes (opened by OpenRegular).
// On failure returns false with the error code in *error.
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
// by a crash. On failure *error holds the errno of the step that failed
// (ENOSPC for a full file system), and errno holds it too.
bool WriteAtomic(std::string const& path, std::string const& content, mode_t mode, int* error = nullptr);

// The file a replacement of path replaces: the target of a symbolic link
// (so that the link stays a link), else path itself.
std::string LinkTarget(std::string const& path);

// The prefix of the temporary files WriteAtomic makes for path.
std::string TempPrefix(std::string const& path);

// Folder part and file part of a path ("/a/b" gives "/a" and "b").
std::string FolderOf(std::string const& path);
std::string FileOf(std::string const& path);

} // namespace plat::fileio
