// Texts the device modules put into the received data: status lines built
// from what a peer, a name server or a certificate said.
#pragma once

#include <string>
#include <string_view>

// The text with everything but printable ASCII replaced by '?' and blanks
// cut at both ends, at most max characters: it can neither steer the
// terminal (escape sequences, C1 controls read as 8-bit characters) nor
// break the line it stands in.
std::string PrintableText(std::string_view text, size_t max = 200);
