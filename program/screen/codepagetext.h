// Text between wide characters and the bytes of a session's code page, for
// the logs, the capture buffer and the print queue. Code page 1000 (what new
// profiles use) and UNICODE_CPUTF8 stand for UTF-8; any other page is one
// byte per character through UNICODE's tables.
#pragma once

#include "velmot/core/unicode.h"

#include <cstddef>
#include <string>

namespace cptext {

bool IsUtf8(int codePage);
// Appends the bytes of n characters.
void Encode(std::string& out, wchar_t const* text, size_t n, int codePage);
// Appends the characters of n bytes; a UTF-8 sequence cut at the end waits
// in *state for the next call (without a state it is given back as its
// bytes' characters).
void Decode(std::wstring& out, char const* bytes, size_t n, int codePage, UNICODE_UTF8STATE* state = nullptr);
// The length of the UTF-8 sequence a lead byte opens (1 for any byte that
// opens none).
int Utf8Length(unsigned char lead);

} // namespace cptext

namespace cptext {

// Takes the caret codes for the current host's user name ("^%") and
// password ("^&") out of a text before its caret notation is expanded, for
// texts that leave the session (answer-backs) or name files: a stored
// secret never becomes part of them. "^^" stays.
void DropCredentialCodes(char* text);

} // namespace cptext
