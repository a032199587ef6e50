// Debian's xterm as a reference terminal for the VT tests: each case runs
// in an xterm of its own on a private X server (Xvfb), where the program
// xtermpeer writes the case's bytes, collects what xterm answers and has
// xterm print its screen with the renditions (its printer command writes
// into the test's private folder). Several xterms run at once.
//
// What a case gets back: every answer up to and including the cursor
// report and the marker that the peer asks for after the bytes, and the
// screen as xterm printed it (text, colours as palette indexes, the
// attributes bold, dim, underline, blink, inverse and invisible). A print
// leaves out the blanks after a row's last character (their colours among
// them) and knows nothing of the cursor, which the answers carry.
#pragma once

#include "tests/outside/corvane/vtsnapshot.h"
#include "tests/support/xserver.h"

#include <memory>
#include <string>
#include <vector>

namespace vttest {

// What the peer asks for after a case's bytes: the cursor position and the
// marker (a checksum of the first cell with id 9999).
constexpr char kXtermTrailer[] = "\x1b[6n\x1b[9999;1;1;1;1;1*y";

// A print of xterm gives no colours for the blanks after a row's text.
constexpr REPORTS kXtermReports{0xFFFF, false};

class XTERM {
public:
    XTERM();
    ~XTERM();
    XTERM(XTERM const&) = delete;
    XTERM& operator=(XTERM const&) = delete;

    // Whether the X server runs and xterm and the peer are there.
    bool Ok() const { return Started; }

    struct INPUT {
        std::string Bytes;
        int Width = 80;
        int Height = 24;
    };
    struct RESULT {
        std::string Answers; // ends with the marker's answer; "(no marker)" when it never came
        SNAPSHOT Screen;     // Width x Height as asked for
        std::string Print;   // the print itself (for a case that changed the size)
    };
    // Runs every input in an xterm of that size, a few at a time.
    std::vector<RESULT> RunAll(std::vector<INPUT> const& inputs);

    // A print of xterm's screen as a snapshot of this size. Each cell with
    // a rendition comes after an SGR of its own; the others are plain.
    static SNAPSHOT ParsePrint(std::string const& print, int width, int height);

private:
    std::string Folder;
    std::unique_ptr<xtest::XServer> Server;
    std::string Xterm, Peer;
    bool Started = false;
};

} // namespace vttest
