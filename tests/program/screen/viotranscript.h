// Screen transcripts: small text files that drive a VIO through its
// operations and state what the screen must look like afterwards, one
// command or expectation per line.
//
//   INIT 80x24 sb=1000      a new screen (and scroll-back of that capacity)
//   PUT "text\r\n"          conputws; escapes \r \n \t \b \\ \" \xHH \uHHHH \UHHHHHH
//   PUTS "bytes"            conputs (8-bit text in the screen's code page)
//   REPEAT n "text %d\r\n"  PUT n times, %d the repetition's number
//   CODEPAGE cp             SetCodepage
//   FEED file               a file's UTF-8 text through conputws, in pieces
//   CURSOR x y | MODE n | COLORS fore back | ATTR value | ALT on
//   DO code p0 p1 | SCROLL x1 y1 x2 y2 lines mode | MOVE fx fy tx ty count
//   ERASE x y length eraseProtected "c" | WRITE char count x y attrib
//   RESIZE 50x24 | SB capacity | PROFILE Name=value | SETTING Name=value
//
//   ?ROW y = "text"         row y without trailing blanks (right halves of
//                           double-width characters left out)
//   ?CURSOR x y
//   ?WRAPPED y1 y2 ...      exactly these rows end with the wrapped mark
//   ?WRAPPED -              no row does
//   ?CELL x y c=0x41 attr=0x8000 fore=7 back=0 ext=0   (fields given are checked)
//   ?LINEATTR y value
//   ?SB count               lines in the scroll-back
//   ?SBROW i = "text"       a stored line's text
//   ?SBWRAPPED i1 i2 ...    exactly these stored lines end wrapped (- none)
//   ?SENTINELS              every row's end cell intact
//
// "#" starts a comment. FeedFile is the same road for recorded streams.
#pragma once

#include "tests/program/screen/fakehost.h"

#include <memory>
#include <string>
#include <vector>

namespace viotest {

// A screen with its scroll-back and recording hosts.
struct SCREEN {
    FAKEHOST Host;
    FAKESBHOST SbHost;
    SCROLLBACKBUFFER Scrollback{&SbHost};
    VIO Vio{&Host, &Scrollback};
    SCREEN(int width, int height, int scrollbackLines = 1000);
};

// Row y as UTF-8: right halves left out, 0 read as a blank, trailing blanks
// trimmed.
std::string RowText(VIO& vio, int y);
// A stored scroll-back line the same way.
std::string ScrollbackText(SCROLLBACKBUFFER& sb, int line);
// UTF-8 to wide characters and back.
std::wstring Wide(std::string const& utf8);
std::string Utf8(std::u32string const& text);

// Feeds a file's bytes, read as UTF-8, through conputws in pieces of
// `piece` bytes (a character cut between two pieces is carried over).
bool FeedFile(VIO& vio, std::string const& path, size_t piece = 4096);

// Runs a transcript; the failed expectations as "name:line: message".
std::vector<std::string> RunTranscript(std::string const& text, std::string const& name);

} // namespace viotest
