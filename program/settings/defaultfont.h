// The terminal default font that the settings put into their defaults.
//
// The terminal screen's fonts (TERMFONTS::GetDefaultFont) install the
// function; until then a default stays the description it starts from.
#pragma once

#include <cstddef>

// Replaces the description in buffer (room for length characters with the
// terminator) by the default terminal font's, when it finds one.
using DEFAULTFONTFUNCTION = void (*)(wchar_t* buffer, int length, int points);
extern DEFAULTFONTFUNCTION gSettingsDefaultFontFunction;

// The description every default starts from.
constexpr char const* SETTINGS_FONTDESCRIPTION = "Courier New  8 X 14 (10.5 pt)";

// Fills field (chars characters) with the default font for the
// description, asked with room for length characters and the point size.
void SettingsDefaultFont(wchar_t* field, size_t chars, int length, int points);
