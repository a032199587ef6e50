// Standard folders and the location of the running program's stage tree.
//
// The program runs from a stage tree that plays the role of an application
// bundle: <root>/bin, <root>/lib, <root>/lib/qor/PlugIns and
// <root>/share/qor/Resources. Standard folders follow the XDG base
// directory and user-dirs conventions.
#pragma once

#include <string>

namespace plat {

enum class Folder {
    AppSupport,      // $XDG_DATA_HOME (~/.local/share)
    Home,            // $HOME
    Pictures,        // XDG_PICTURES_DIR (~/Pictures)
    Desktop,         // XDG_DESKTOP_DIR (~/Desktop)
    AppSupportLocal, // /usr/local/share
    Documents,       // XDG_DOCUMENTS_DIR (~/Documents)
    Library,         // ~/.local
    LibraryLocal,    // /usr/local/lib
    Logs,            // $XDG_STATE_HOME (~/.local/state)
    Downloads,       // XDG_DOWNLOAD_DIR (~/Downloads)
    Preferences,     // $XDG_CONFIG_HOME (~/.config)
    Cache,           // $XDG_CACHE_HOME (~/.cache)
    Runtime,         // $XDG_RUNTIME_DIR/qor, else /tmp/qor-<uid> (0700, checked)
};

// The folder's path with a trailing "/". With create, a missing folder is
// made; an empty result means the folder could neither be found nor made.
// The user's folders (pictures, desktop, documents, downloads) come from
// user-dirs.dirs and are never made: where one does not exist, the home
// folder is given instead. The runtime folder is the program's private
// folder in $XDG_RUNTIME_DIR ("qor", made 0700 and checked: this user's,
// no link, closed to others; the folder the variable names is never
// changed), or "/tmp/qor-<uid>" without the variable; empty when the check
// fails.
std::string FolderPath(Folder folder, bool create = true);

// Absolute path of the running executable (from /proc/self/exe).
std::string ExecutablePath();

// Root of the stage tree: $QOR_STAGE_DIR when set (tests run from outside
// the tree), else the folder above the executable's folder. No trailing "/".
std::string StageRoot();

// The stage's resources folder, its plug-in folder. No trailing "/".
std::string ResourcesFolder();
std::string PlugInsFolder();

} // namespace plat
