// The preferences store: typed values filed by key in domains.
//
// A domain (a reverse-domain name such as "org.example.app") keeps its
// values in one file per scope:
//   current user:            $XDG_CONFIG_HOME/qor/preferences/<domain>.prefs
//   any user, current host:  /etc/xdg/qor/preferences/<domain>.prefs
// (both folders can be changed with SetPrefFolder). Changes made with
// SetPref stay in this process until SynchronizePrefs writes them; reads
// see the file as it is on disk plus this process's unwritten changes, so
// values written by other processes show up at the next read.
//
// Synchronising takes an exclusive flock on the lock file
// ".<domain>.lock" beside the file, reads the file again, applies this
// process's changes key by key on top of it and replaces the file
// atomically (temporary file, fsync, rename); a file that is a symbolic
// link stays one: the file it names is replaced. Two processes that change
// different keys therefore both keep their values; for the same key the
// later synchronisation wins. The user's files are 0600 in a 0700 folder;
// the any-user files are 0644 so that every user can read them, and only
// those who may write the folder can change them.
//
// File format (byte-exact, ASCII; "\n" ends every line):
//   QORPREFS 1
//   <type> <key>=<value>
// one line per value, sorted by the bytes of the key. <type> is
//   n  a signed 32-bit number in decimal ("-12")
//   d  data bytes as pairs of lower-case hexadecimal digits ("00ff"),
//      nothing for no bytes
//   s  a string of UTF-16 units: the characters 0x20..0x7E are written as
//      they are, except "\" (written "\\") and "="; every other unit,
//      surrogates included, is written "\u" and four lower-case
//      hexadecimal digits ("\u00e4")
// <key> is a byte string written as the characters 0x21..0x7E are, except
// "\" ("\\") and "=" ; every other byte is written "\x" and two lower-case
// hexadecimal digits. A file whose first line differs is not ours and is
// read as empty; in a file with lines that break these rules (or a last
// line without its line feed) the good lines are used. Before the next
// synchronisation replaces such a damaged file, it is kept beside it as
// "<domain>.prefs.bad". A file that exists but cannot be read (no
// permission, over 16 MiB) is never replaced: synchronising fails.
//
// All functions may be called from any thread.
#pragma once

#include "platform/services/text.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace plat {

enum class PrefScope {
    CurrentUser,        // the current user on any host
    AnyUserCurrentHost, // every user of this host
};

using PrefValue = std::variant<std::int32_t, Bytes, Text>;
using PrefMap = std::map<std::string, PrefValue>;

// The folder of a scope's files (no trailing "/"). An empty folder given
// to SetPrefFolder restores the default.
std::string PrefFolder(PrefScope scope);
void SetPrefFolder(PrefScope scope, std::string folder);

// Path of a domain's file; empty when the domain name is not valid (valid:
// 1 to 200 characters of A-Z, a-z, 0-9, ".", "-", "_", not starting with ".").
std::string PrefFilePath(std::string_view domain, PrefScope scope);

// The value of key, or nothing when it is missing (or the domain invalid).
std::optional<PrefValue> GetPref(std::string_view domain, std::string_view key,
                                 PrefScope scope);

// Sets (or, with nothing, removes) key in this process; written by the next
// SynchronizePrefs. False for an invalid domain, an empty key or a key over
// 4096 bytes, or a string value that is null.
bool SetPref(std::string_view domain, std::string_view key, std::optional<PrefValue> value,
             PrefScope scope);

// Writes this process's changes of the domain as described above and reads
// the others' ones; true when the file now holds them (also when there was
// nothing to write and the file could be read).
bool SynchronizePrefs(std::string_view domain, PrefScope scope);

// Synchronises every domain this process has unwritten changes for (the
// program does so before it exits); true when all of them succeeded.
bool SynchronizeAllPrefs();

// Whether this process has changes not written yet.
bool HasUnwrittenPrefs();

// What the last failed synchronisation could not do, as "<file>: <reason>"
// ("... preferences/x.prefs: No space left on device"), and forgets it; empty
// when none failed since the last call. A caller that tells the user once
// takes it after its synchronisation.
std::string TakePrefsFailure();

// All keys of the domain, sorted.
std::vector<std::string> PrefKeys(std::string_view domain, PrefScope scope);

// Whether the domain's file could be written, without writing it.
bool CanWritePrefs(std::string_view domain, PrefScope scope);

// The file format on its own.
std::string FormatPrefs(PrefMap const& values);
struct ParsedPrefs {
    PrefMap values;
    bool damaged = false; // a wrong first line or a bad line was met
};
ParsedPrefs ParsePrefs(std::string_view file);

// Drops this process's cached state and unwritten changes (tests use it to
// act as a freshly started process). SetPrefFolder does the same.
void ResetPrefsCache();

} // namespace plat
