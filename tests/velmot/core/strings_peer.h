// A small shared object that makes, changes and frees strings on its own
// side, so tests can hand strings across the boundary between two binaries.
#pragma once

#include "velmot/core/strings.h"

extern "C" {
STRING* PeerNewString(char const* text);
void PeerDeleteString(STRING* s);
void PeerGrow(STRING& s, int bytes);
char const* PeerBlockOf(STRING const& s);
}

STRING PeerMakeByValue(char const* text, int repeat);
void PeerTakeAndFree(STRING s);
