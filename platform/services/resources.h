// Resources of the application bundle: files in the stage's Resources
// folder, localized string tables and the bundle's information values.
//
// Layout of the Resources folder (ResourcesFolder(), folders.h):
//   info.txt                     information values (format below)
//   <lang>.lproj/<Table>.strings string tables per language ("en", "de")
//   anything else                plain resource files, optionally in
//                                sub-folders and per language
//
// String table format (UTF-8 text, one entry per line):
//   // a comment line
//   "KEY" = "value";
// Blanks and tabs may stand around the "=" and before the ";"; a "//"
// comment may follow the ";". Inside the quotes \" is a quote, \\ a
// backslash and \n a line feed; a raw line feed, another backslash escape
// or bytes that are not UTF-8 make the line invalid, and invalid lines are
// skipped. When a key appears twice, the later line wins. Empty lines are
// allowed.
//
// Information file format (info.txt, UTF-8 text): lines "Key=Value", split
// at the first "="; nothing is trimmed but a final carriage return; lines
// that are empty or start with "#" are ignored. Every value is a string.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// A parsed string table.
struct StringTable {
    std::map<std::string, std::string, std::less<>> entries;
    std::vector<int> invalidLines; // 1-based numbers of skipped lines
};

StringTable ParseStringTable(std::string_view text);

// The languages resources exist for, and the one to use: the first of the
// user's languages ($LANGUAGE as a colon-separated list, then the first set
// of $LC_ALL, $LC_MESSAGES, $LANG) whose primary subtag ("de" of "de_DE.UTF-8"
// or "de-AT") is one of them; English ("en") otherwise.
std::string ResourceLanguage();
std::string PickLanguage(std::vector<std::string> const& userLanguages);

// Full path of a resource file "name" or "name.type" (type with or without
// its leading dot), looked up in the Resources folder (or its sub-folder),
// then in the current language's folder, then in the English one. Empty
// when there is no such file or the name is unsafe (absolute, or with a
// ".." component).
std::string ResourceFilePath(std::string_view name, std::string_view type = {},
                             std::string_view subfolder = {});

// The text of key in string table `table` of the current language, then of
// English. The key itself when neither has it; nothing (nullopt) when there
// is no Resources folder, so no lookup can answer at all.
std::optional<std::string> LocalizedString(std::string_view key, std::string_view table);

// The localized text of an identifier: the tables "Localizable", "App" and
// then callerTable (when not empty) are asked in that order; the first
// answer that differs from the identifier wins, else the identifier.
// Nothing when there is no Resources folder.
std::optional<std::string> StringFromResource(std::string_view id,
                                              std::string_view callerTable = {});

// The value of key in the information file; empty when it or the file is
// missing.
std::string InfoValue(std::string_view key);

// Forgets the parsed tables and information values, so that files changed
// on disk are read again.
void ClearResourceCache();

} // namespace plat
