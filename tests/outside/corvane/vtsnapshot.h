// Screens of three terminals in one form, for differential tests: the
// session's road with the VT emulation (headless), libvterm's screen layer
// and tmux (capture-pane -p -e), each fed the same bytes.
//
// A cell holds its character (continuation cells of double-width
// characters hold kRightHalf, blanks and never-written cells ' '), its
// colours as palette indexes (default colours read as 7 on 0, direct RGB
// colours as the nearest palette entry) and the attributes every one of the
// three keeps: bold, dim, underline, blink, inverse, invisible. Italic and
// strike-out are left out: the session's cells have no such attribute.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class HEADLESSSESSION;

namespace vttest {

constexpr uint32_t kRightHalf = 0xFFF8;

enum : uint16_t {
    ATTR_BOLD = 1,
    ATTR_DIM = 2,
    ATTR_UNDERLINE = 4,
    ATTR_BLINK = 8,
    ATTR_INVERSE = 16,
    ATTR_INVISIBLE = 32,
};

struct CELL {
    uint32_t Ch = ' ';
    int Fore = 7;
    int Back = 0;
    uint16_t Attr = 0;
    bool operator==(CELL const&) const = default;
};

// What a comparison looks at.
enum ASPECT : unsigned {
    TEXT = 1,
    COLOURS = 2,
    ATTRIBUTES = 4,
    CURSOR = 8,
    ALL = 15,
};

struct SNAPSHOT {
    int Width = 0;
    int Height = 0;
    int CursorX = 0;
    int CursorY = 0;
    std::vector<CELL> Cells;

    CELL const& At(int x, int y) const { return Cells[size_t(y) * size_t(Width) + size_t(x)]; }
    CELL& At(int x, int y) { return Cells[size_t(y) * size_t(Width) + size_t(x)]; }
    // Row y as UTF-8, trailing blanks cut, continuation cells left out.
    std::string Row(int y) const;
    std::string Text() const;
};

// How a reference reports its screen.
struct REPORTS {
    uint16_t Attributes = 0xFFFF; // the attributes it keeps
    bool TrailingBlanks = true;   // colours of blanks after a row's text
};

// The differences of two screens in the given aspects, as far as the
// reference reports them, one line each (at most `limit`); empty when they
// agree.
std::string Compare(SNAPSHOT const& ours, SNAPSHOT const& theirs, unsigned aspects, REPORTS reports = {},
                    int limit = 12);

// The session's screen. Colours the profile gives as default (7 on 0 in
// these tests) read as 7 on 0.
SNAPSHOT FromSession(HEADLESSSESSION& run);

// libvterm fed the bytes on a screen of this size (UTF-8, alternate screen
// on); answers it produces are dropped. It keeps neither the faint nor the
// concealed attribute (kLibvtermReports).
SNAPSHOT FromLibvterm(std::string const& bytes, int width, int height);

constexpr REPORTS kLibvtermReports{uint16_t(~(ATTR_DIM | ATTR_INVISIBLE)), true};

// A capture of tmux gives no colours or attributes for the blanks after
// the last character of a row (erased cells).
constexpr REPORTS kTmuxReports{0xFFFF, false};

// A tmux server of its own (a private socket, no configuration, no status
// line) for the life of the object.
class TMUX {
public:
    TMUX();
    ~TMUX();
    TMUX(TMUX const&) = delete;
    TMUX& operator=(TMUX const&) = delete;

    bool Ok() const { return Started; }
    // Runs the bytes through a pane of this size (the pane's terminal in
    // raw mode, so the bytes arrive unchanged) and captures the pane once
    // tmux has answered a cursor report asked for after them.
    SNAPSHOT Run(std::string const& bytes, int width, int height);
    // The same for many streams, a few panes at a time.
    struct INPUT {
        std::string Bytes;
        int Width = 80;
        int Height = 24;
    };
    std::vector<SNAPSHOT> RunAll(std::vector<INPUT> const& inputs);
    // A tmux command line with this server's socket; its output, or empty
    // after a failure.
    std::string Command(std::vector<std::string> const& args, int timeoutMs = 10000);
    // The pane of a session as a snapshot.
    SNAPSHOT Capture(std::string const& target, int width, int height);
    std::string const& Socket() const { return SocketName; }

private:
    // Starts a pane for the bytes; its name.
    std::string Start(INPUT const& input);
    // Waits for the pane and captures it.
    SNAPSHOT Finish(std::string const& name, int width, int height);
    // A capture (-p -e -N) followed by a line with the cursor position.
    static SNAPSHOT Parse(std::string capture, int width, int height);

    std::string SocketName;
    std::string Folder;
    int Cases = 0;
    bool Started = false;
};

// The nearest palette index to an RGB colour (the same rule as the
// emulation's, so direct colours compare by what the cell can hold).
int NearestIndex(int r, int g, int b);

// An SGR parameter list applied to a cell's colours and attributes, as
// tmux and xterm write them into a capture or print.
void ApplySgr(std::vector<int> const& p, CELL& pen);
// The control sequence whose parameters start at `at` (after "ESC ["):
// an SGR is applied to the pen, anything else skipped. Where the text
// goes on.
size_t ApplyCsi(std::string const& text, size_t at, CELL& pen);
// The UTF-8 character at `at`, which moves past it.
uint32_t DecodeUtf8(std::string const& text, size_t& at);

// A case's name as a test name: letters and digits, '_' for the rest.
std::string TestName(std::string name);

// A C-style escaped text ("\x1b[1m", "\r\n") as bytes.
std::string Unescape(std::string const& text);
// Bytes as readable text (controls as \xNN).
std::string Escape(std::string const& bytes);

} // namespace vttest
