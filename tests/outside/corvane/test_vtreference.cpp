// The xterm emulation (18) next to two independent terminals, libvterm and
// tmux, over a corpus: a case per control function, written by hand, and
// sessions of vim, less, htop, mc and a shell recorded once (corpus/*.rec,
// see corpus/README.md). Every case is fed to a headless session and to
// both references; text, colours, attributes and the cursor must agree.
// What neither reference answers (status reports, mode requests, VT52
// mode, character sets, 132 columns) is compared with Debian's xterm
// itself: its answers and its screen (xtermref.h).
//
// Where a reference differs by design or is wrong, the case names the
// aspects compared for it and says why in its row.
#include "program/session/sessionrunner.h"
#include "tests/outside/corvane/vtsnapshot.h"
#include "tests/outside/corvane/xtermref.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vttest;

namespace {

// Aspects compared with a reference; for libvterm without the attributes
// it cannot hold (faint, concealed).
struct CASE {
    char const* Name;
    std::string Bytes; // C-style escapes, see Unescape
    int Width = 80;
    int Height = 24;
    unsigned Libvterm = ALL;
    unsigned Tmux = ALL;
    char const* Why = nullptr; // required when a reference is not compared in full
};

std::string Repeat(char const* text, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += text;
    return out;
}

// A screen full of text: row r holds the letter 'a' + r % 26 repeated.
std::string Fill(int width = 80, int height = 24)
{
    std::string out;
    for (int r = 0; r < height; ++r) {
        out += std::string(size_t(width), char('a' + r % 26));
        if (r + 1 < height)
            out += "\\r\\n";
    }
    return out + "\\e[H";
}

std::vector<CASE> const& Cases()
{
    static std::vector<CASE> const cases = {
        // Text, wrapping and double width.
        {"plain text", "hello, world"},
        {"wrap after the last column", Repeat("a", 80) + "b"},
        {"full row then CR LF leaves no empty row", Repeat("x", 80) + "\\r\\ny"},
        {"pending wrap cancelled by CUP", Repeat("x", 80) + "\\e[5;5Hy"},
        {"pending wrap and BS", Repeat("x", 80) + "\\bY", 80, 24, ALL, 0,
         "tmux keeps its cursor past the last column while a wrap is pending, so BS lands in the last column; xterm "
         "moves back from the last column"},
        {"no wrap with DECAWM reset", "\\e[?7l" + Repeat("0123456789", 9) + "\\e[?7h"},
        {"wrap at the bottom scrolls", Repeat("q", 80 * 24) + "end"},
        {"double-width characters", "\xe4\xb8\xad\xe6\x96\x87 \xe5\xad\x97\xe5\xbd\xa2 x"},
        {"double width at the last column wraps", Repeat("a", 79) + "\xe4\xb8\xad" + "b"},
        {"double width filling the row", Repeat("a", 78) + "\xe4\xb8\xad" + "b"},
        {"overwriting a right half", "\xe4\xb8\xad\xe6\x96\x87\\e[1;2Hx", 80, 24, COLOURS | ATTRIBUTES | CURSOR,
         COLOURS | ATTRIBUTES | CURSOR,
         "the screen blanks the other half of a double-width character that is partly overwritten, as xterm does; "
         "both references leave the left half standing"},
        {"overwriting a left half", "\xe4\xb8\xad\xe6\x96\x87\\e[1;3Hy", 80, 24, COLOURS | ATTRIBUTES | CURSOR, ALL,
         "libvterm leaves a right half standing after its left half is overwritten"},
        {"Latin, Greek and box drawing", "\xc3\xa4\xc3\xb6\xc3\xbc \xce\xb1\xce\xb2\xce\xb3 \xe2\x94\x8c\xe2\x94\x80\xe2\x94\x90"},
        // C0 controls.
        {"BS", "abcdef\\b\\bXY"},
        {"BS stops at the first column", "\\b\\bab\\b\\b\\bc"},
        {"HT to the default stops", "a\\tb\\tc\\t\\t\\td"},
        {"HT stops at the last column", "\\t\\t\\t\\t\\t\\t\\t\\t\\t\\t\\t\\tz"},
        {"LF, VT and FF", "a\\nb\\x0b" "c\\x0c" "d"},
        {"CR", "abcdef\\rXY"},
        {"BEL and unknown controls are not shown", "a\\ab\\x01\\x02\\x1c" "c\\x7f" "d"},
        // Cursor movement.
        {"CUU CUD CUF CUB", "\\e[10;10HX\\e[3AU\\e[2BD\\e[5CF\\e[20DB"},
        {"cursor movement stops at the edges", "\\e[5;5H\\e[99Aa\\e[99Bb\\e[99Cc\\e[99Dd"},
        {"CNL and CPL", "\\e[5;5H\\e[2EX\\e[3FY"},
        {"CHA HPA VPA HVP", "\\e[5Gx\\e[10`y\\e[7dz\\e[3;4fw"},
        {"CUP defaults and limits", "\\e[Hx\\e[;5Hy\\e[100;200Hz\\e[0;0Hw"},
        {"HPR and VPR", "\\e[2;2Ha\\e[3ab\\e[2ec", 80, 24, ALL, 0, "tmux has neither HPR nor VPR"},
        {"parameters 0 mean 1", "\\e[5;5H\\e[0A\\e[0Cx"},
        // Erasing, with the background colour.
        {"ED 0", Fill() + "\\e[12;40H\\e[J"},
        {"ED 0 at the first column", Fill() + "\\e[12;1H\\e[0J"},
        {"ED 1", Fill() + "\\e[12;40H\\e[1J"},
        {"ED 2", Fill() + "\\e[12;40H\\e[2J"},
        {"EL 0 1 2", Fill() + "\\e[3;40H\\e[K\\e[4;40H\\e[1K\\e[5;40H\\e[2K"},
        {"ECH", "abcdefgh\\e[1;3H\\e[3X"},
        {"ECH past the row end", "abcdefgh\\e[1;78H\\e[10X"},
        {"background colour erase", "\\e[44m\\e[2J\\e[5;5H\\e[41mtext\\e[K\\e[m\\e[7;1H\\e[42m\\e[5X"},
        {"erase takes no attributes", "\\e[4;7;33;45mab\\e[K\\e[2;1H\\e[J", 80, 24, TEXT | COLOURS | CURSOR, ALL,
         "libvterm gives erased cells the underline and inverse of the rendition; they take only its colours"},
        {"ICH", "abcdefgh\\e[1;3H\\e[2@"},
        {"ICH pushes off the row end", Repeat("0123456789", 8) + "\\e[1;75H\\e[3@"},
        {"DCH", "abcdefgh\\e[1;3H\\e[2P"},
        {"DCH with colour", "\\e[1;1Habcdefgh\\e[1;3H\\e[45m\\e[2P"},
        {"IL", Fill() + "\\e[5;1H\\e[2L"},
        {"DL", Fill() + "\\e[5;1H\\e[3M"},
        {"IL and DL in a region", Fill() + "\\e[5;15r\\e[8;3H\\e[2L\\e[12;1H\\e[M\\e[r"},
        {"IL and DL outside the region do nothing", Fill() + "\\e[5;15r\\e[2;1H\\e[2L\\e[20;1H\\e[M\\e[r", 80, 24, ALL, 0,
         "tmux inserts and deletes lines outside the scrolling region"},
        {"SU and SD", Fill() + "\\e[2S\\e[10;10H\\e[3T"},
        {"SU and SD in a region", Fill() + "\\e[3;10r\\e[2S\\e[3T\\e[r"},
        {"REP", "a\\e[5b-\\e[b"},
        // Tab stops.
        {"HTS and TBC", "\\e[3g\\e[1;5H\\eH\\e[1;20H\\eH\\e[1;1H\\tx\\ty\\tz"},
        {"TBC of one stop", "\\e[1;9H\\e[g\\e[1;1H\\tx"},
        {"CHT and CBT", "\\e[3Ia\\e[1;40H\\e[2Zb\\e[Z\\e[Zc", 80, 24, ALL, 0, "tmux has no CHT"},
        // Scrolling region.
        {"line feeds at the bottom margin", "\\e[5;10r\\e[10;1H" + Repeat("line\\n", 5) + "x\\e[r"},
        {"region from the top", "\\e[1;5r\\e[5;1H" + Repeat("r\\r\\n", 7) + "x\\e[r"},
        {"RI at the top margin", Fill() + "\\e[5;10r\\e[5;1H\\eM\\eMx\\e[r"},
        {"RI at the top of the screen", Fill() + "\\eM\\eMtop"},
        {"IND and NEL", "\\e[5;5Ha\\eDb\\eEc"},
        {"line feed below the region", "\\e[3;8r\\e[24;1Hbottom\\nx\\e[r"},
        {"DECSTBM homes the cursor", "\\e[10;10H\\e[4;12rx\\e[r"},
        {"bad margins are ignored", "\\e[10;10H\\e[12;4rx", 80, 24, 0, ALL, "libvterm homes the cursor for margins it refuses"},
        {"origin mode", "\\e[5;10r\\e[?6h\\e[Hx\\e[3;3Hy\\e[99;1Hz\\e[?6l\\e[r"},
        // Renditions.
        {"16 colours", "\\e[31mr\\e[32mg\\e[43my\\e[44mb\\e[39md\\e[49mn\\e[0m"},
        {"bright colours", "\\e[91ma\\e[102mb\\e[97;100mc\\e[m"},
        {"256 colours", "\\e[38;5;196ma\\e[48;5;21mb\\e[38;5;244;48;5;3mc\\e[38;5;9md\\e[m"},
        {"direct colours", "\\e[38;2;255;0;0ma\\e[48;2;0;0;255mb\\e[38;2;128;128;128mc\\e[38;2;12;200;99md\\e[m"},
        {"colours with sub-parameters", "\\e[38:5:202ma\\e[48:2::10:20:30mb\\e[38:2:200:100:0mc\\e[m", 80, 24,
         TEXT | ATTRIBUTES | CURSOR, ALL, "libvterm misreads a direct colour whose colour space is left empty"},
        {"attributes", "\\e[1ma\\e[4mb\\e[5mc\\e[7md\\e[22me\\e[24mf\\e[25mg\\e[27mh\\e[0mi"},
        {"faint and concealed", "\\e[2ma\\e[8mb\\e[28mc\\e[22md\\e[m", 80, 24, TEXT | COLOURS | CURSOR, ALL,
         "libvterm keeps neither faint nor concealed text"},
        {"SGR 0 and empty SGR", "\\e[1;31;44ma\\e[mb\\e[1;32mc\\e[0md"},
        {"inverse with colours", "\\e[7;31;42mab\\e[27mc\\e[m"},
        {"bold with colours", "\\e[1;34mblue\\e[22m \\e[1;94mbright\\e[m"},
        {"unknown SGR values are skipped", "\\e[1;99;31;38;9;4mx\\e[m"},
        // Saved cursor.
        {"DECSC and DECRC", "\\e[5;10H\\e[1;31m\\e7\\e[H\\e[mx\\e8y\\e[m"},
        {"CSI s and CSI u", "\\e[3;7H\\e[s\\e[10;10Hx\\e[uy", 80, 24, 0, ALL,
         "libvterm has no SCOSC and SCORC (xterm and ANSI.SYS save and restore the cursor)"},
        {"DECRC without DECSC", "\\e[5;5H\\e[1m\\e8x\\e[m", 80, 24, TEXT | ATTRIBUTES | CURSOR, ALL,
         "libvterm restores colours it never saved (black on black) instead of the defaults"},
        // Modes.
        {"IRM", "abcdef\\e[1;3H\\e[4hXY\\e[4lZ"},
        {"LNM", "\\e[20habc\\ndef\\e[20l\\nghi", 80, 24, ALL, 0, "tmux has no new line mode"},
        {"alternate screen 1049", "main text\\e[?1049h\\e[2;2Halt\\e[?1049lX"},
        {"alternate screen 1047", "main\\e[?1047halt\\e[?1047lY"},
        {"alternate screen 47 keeps its text", "main\\e[?47halt\\e[?47l\\e[?47hZ", 80, 24, CURSOR, CURSOR,
         "xterm keeps the alternate screen's text between switches of mode 47; libvterm shows the main screen's "
         "text on it and tmux clears it"},
        {"alternate screen 1049 clears", "a\\e[?1049hb\\e[?1049l\\e[?1049hc"},
        {"cursor visibility changes no cell", "a\\e[?25lb\\e[?25hc"},
        {"keypad and cursor key modes change no cell", "\\e=\\e[?1ha\\e>\\e[?1lb"},
        // Character sets.
        {"DEC special graphics", "\\e(0lqqk\\r\\nx  x\\r\\nmqqj\\e(B done"},
        {"DEC graphics, all", "\\e(0`abcdefghijklmnopqrstuvwxyz{|}~\\e(B", 80, 24, COLOURS | ATTRIBUTES | CURSOR, ALL,
         "libvterm draws y and z as the slanted less-or-equal and greater-or-equal signs"},
        {"SO and SI with G1", "\\e)0a\\x0eqqq\\x0f" "b"},
        {"UK set", "\\e(A#\\e(B#", 80, 24, ALL, 0, "tmux has no UK character set"},
        // Screen tests and strings.
        {"DECALN", "\\e#8"},
        {"title and other OSC strings are not shown", "\\e]0;title\\aa\\e]2;other\\e\\\\b\\e]1;icon\\ac"},
        {"OSC palette strings are not shown", "\\e]4;1;rgb:ff/00/00\\e\\\\x\\e]104\\ay"},
        {"DCS strings are not shown", "a\\eP1$qm\\e\\\\b\\eP+q544e\\e\\\\c"},
        {"APC and PM strings are not shown", "a\\e_apc\\e\\\\b\\e^pm\\e\\\\c", 80, 24, 0, ALL,
         "libvterm shows the text of APC and PM strings"},
        {"CAN and SUB cancel a sequence", "a\\e[3\\x18" "b\\e[1\\x1a" "c"},
        {"controls inside a sequence act", "a\\e[2\\r;5Hb"},
        {"unknown sequences are dropped", "\\e[?999hx\\e[99;99;99zy\\e[>5;4mz\\e[ qw"},
        {"intermediates too many", "a\\e[1 !\"mb"},
        {"ESC with intermediates", "a\\e(Bb\\e%Gc\\e#9d"},
        {"RIS", "\\e[1;31mabc\\e[5;10r\\ec\\e[24;1Hx\\ny"},
        {"DECSTR", "\\e[5;10r\\e[4h\\e[?6h\\e[1;31m\\e[!pabc\\e[24;1Hx\\n", 80, 24, 0, 0,
         "neither reference carries out DECSTR (soft reset of margins, origin mode and rendition)"},
        // Small and large screens.
        {"small screen", Repeat("wrap", 20) + "\\e[3;3Hx", 10, 5},
        {"wide screen", Repeat("0123456789", 25) + "\\e[40;190Hx", 200, 50},
    };
    return cases;
}

struct RECORDING {
    char const* Name;
    unsigned Libvterm = ALL;
    unsigned Tmux = ALL;
    char const* Why = nullptr;
};

std::vector<RECORDING> const& Recordings()
{
    static std::vector<RECORDING> const recordings = {
        {"vim"},
        {"less"},
        {"htop"},
        {"mc"},
        {"shell"},
    };
    return recordings;
}

// The stream of recording r up to point `quarter`: a quarter, half and
// three quarters of it (each moved on to the next ESC, so that no sequence
// is cut) and all of it.
std::string RecordingPrefix(size_t r, int quarter)
{
    static std::vector<std::string> streams;
    if (streams.empty()) {
        for (RECORDING const& rec : Recordings())
            streams.push_back(
                testutil::ReadFile(testutil::SourceDir() + "/outside/corvane/corpus/" + rec.Name + ".rec"));
    }
    std::string const& stream = streams[r];
    size_t cut = stream.size() * size_t(quarter) / 4;
    if (quarter < 4)
        cut = std::min(stream.find('\x1b', cut), stream.size());
    return stream.substr(0, cut);
}

// tmux's screens for every case and every point of the recordings, made
// once for the binary, many panes at a time.
class Reference : public ::testing::TestWithParam<size_t> {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(HEADLESSSESSION::StartPlatform());
        if (!Tmux.empty())
            return;
        TMUX tmux;
        ASSERT_TRUE(tmux.Ok());
        std::vector<TMUX::INPUT> inputs;
        for (CASE const& c : Cases())
            inputs.push_back({Unescape(c.Bytes), c.Width, c.Height});
        for (size_t r = 0; r < Recordings().size(); ++r)
            for (int quarter = 1; quarter <= 4; ++quarter)
                inputs.push_back({RecordingPrefix(r, quarter), 80, 24});
        Tmux = tmux.RunAll(inputs);
    }
    // tmux's screen of case i, or of point `quarter` of recording r.
    static SNAPSHOT const& TmuxCase(size_t i) { return Tmux[i]; }
    static SNAPSHOT const& TmuxRecording(size_t r, int quarter)
    {
        return Tmux[Cases().size() + r * 4 + size_t(quarter - 1)];
    }
    static inline std::vector<SNAPSHOT> Tmux;
};

SNAPSHOT Ours(std::string const& bytes, int width, int height)
{
    HEADLESSSESSION run({.Emulation = 18, .Columns = width, .Rows = height, .CodePage = 1000});
    EXPECT_TRUE(run.IsOpen());
    // The references' default colours.
    SESSION& s = run.Session();
    s.Prof.data.ColorFore = 7;
    s.Prof.data.ColorBack = 0;
    s.EmuLayer.TrackColors(0, 7, 1);
    EXPECT_TRUE(run.Feed(bytes));
    EXPECT_TRUE(run.WaitIdle());
    return FromSession(run);
}

} // namespace

TEST_P(Reference, AgreesWithLibvtermAndTmux)
{
    CASE const& c = Cases()[GetParam()];
    SCOPED_TRACE(c.Name);
    if (c.Libvterm != ALL || c.Tmux != ALL) {
        EXPECT_NE(c.Why, nullptr) << "a case that is not compared in full says why";
    }
    std::string const bytes = Unescape(c.Bytes);
    SNAPSHOT const ours = Ours(bytes, c.Width, c.Height);
    SNAPSHOT const vterm = FromLibvterm(bytes, c.Width, c.Height);
    EXPECT_EQ(Compare(ours, vterm, c.Libvterm, kLibvtermReports), "")
        << "libvterm, bytes " << Escape(bytes) << "\nours:\n" << ours.Text() << "libvterm:\n" << vterm.Text();
    SNAPSHOT const& tmux = TmuxCase(GetParam());
    EXPECT_EQ(Compare(ours, tmux, c.Tmux, kTmuxReports), "")
        << "tmux, bytes " << Escape(bytes) << "\nours:\n" << ours.Text() << "tmux:\n" << tmux.Text();
}

// ---------------------------------------------------------------------------
// Recorded sessions, compared at four points: after a quarter, half and
// three quarters of the stream (each moved on to the next ESC, so that no
// sequence is cut) and at its end.

class Recorded : public Reference {};

TEST_P(Recorded, AgreesWithLibvtermAndTmux)
{
    RECORDING const& r = Recordings()[GetParam()];
    if (r.Libvterm != ALL || r.Tmux != ALL) {
        EXPECT_NE(r.Why, nullptr) << "a recording that is not compared in full says why";
    }
    for (int quarter = 1; quarter <= 4; ++quarter) {
        std::string const bytes = RecordingPrefix(GetParam(), quarter);
        ASSERT_FALSE(bytes.empty()) << r.Name;
        SCOPED_TRACE(std::string(r.Name) + " up to byte " + std::to_string(bytes.size()));
        SNAPSHOT const ours = Ours(bytes, 80, 24);
        SNAPSHOT const vterm = FromLibvterm(bytes, 80, 24);
        EXPECT_EQ(Compare(ours, vterm, r.Libvterm, kLibvtermReports), "")
            << "libvterm\nours:\n" << ours.Text() << "libvterm:\n" << vterm.Text();
        SNAPSHOT const& tmux = TmuxRecording(GetParam(), quarter);
        EXPECT_EQ(Compare(ours, tmux, r.Tmux, kTmuxReports), "")
            << "tmux\nours:\n" << ours.Text() << "tmux:\n" << tmux.Text();
    }
}

INSTANTIATE_TEST_SUITE_P(Sessions, Recorded, ::testing::Range<size_t>(0, Recordings().size()),
                         [](::testing::TestParamInfo<size_t> const& info) { return Recordings()[info.param].Name; });

INSTANTIATE_TEST_SUITE_P(Corpus, Reference, ::testing::Range<size_t>(0, Cases().size()),
                         [](::testing::TestParamInfo<size_t> const& info) { return TestName(Cases()[info.param].Name); });

// ---------------------------------------------------------------------------
// Answers and screens next to xterm. Each case's answers (up to the cursor
// report and the marker asked for after it) must be the same bytes, and the
// screens the same in text, colours and attributes.

namespace {

struct XCASE {
    char const* Name;
    std::string Bytes; // C-style escapes, see Unescape
    int Width = 80;
    int Height = 24;
    bool Answers = true;           // compare the answers
    unsigned Screen = TEXT | COLOURS | ATTRIBUTES;
    char const* Why = nullptr;     // required when something is not compared in full
    // Parts of xterm's answers that differ by design, and what is answered
    // here instead (Why says why).
    std::vector<std::pair<std::string, std::string>> Differ = {};
};

// xterm's primary attributes name a locator port (16): there is no DEC
// locator here.
std::vector<std::pair<std::string, std::string>> const kNoLocator = {{"15;16;17", "15;17"}};
constexpr char kNoLocatorWhy[] = "there is no DEC locator, so the primary attributes leave out its 16";
// xterm's cursor information report calls the four G-sets 96-character
// sets in UTF-8 (Scss "O"); they are 94-character sets.
std::pair<std::string, std::string> const kSizes = {";0;2;O;", ";0;2;@;"};
constexpr char kSizesWhy[] =
    "xterm's cursor information report calls the G-sets 96-character sets (\"O\"); they hold 94 characters "
    "(and the primary attributes leave out the DEC locator, 16)";

// Requests of modes, one after another.
std::string Modes(bool dec, std::vector<int> const& modes)
{
    std::string out;
    for (int m : modes)
        out += "\\e[" + std::string(dec ? "?" : "") + std::to_string(m) + "$p";
    return out;
}

// Requests of status strings, one after another.
std::string Status(std::vector<std::string> const& requests)
{
    std::string out;
    for (std::string const& r : requests)
        out += "\\eP$q" + r + "\\e\\\\";
    return out;
}

// The DEC private modes both terminals keep.
std::vector<int> const kDecModes = {1,  2,  3,  5,  6,    7,    8,    9,    12,   18,   19,   25,   40,   42,   45,
                                    47, 66, 67, 69, 1000, 1002, 1003, 1004, 1005, 1006, 1015, 1047, 1048, 1049, 2004};
// Status strings of settings, and two that neither terminal has.
std::vector<std::string> const kSettings = {"m", "\"p", " q", "\"q", "r", "s", "t", "$|", "*|", "$}", "x"};

// A row of each character from ! to ~ (backslash escaped for Unescape).
std::string Printable()
{
    std::string out;
    for (char c = '!'; c <= '~'; ++c) {
        if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

std::vector<XCASE> const& XtermCases()
{
    static std::vector<XCASE> const cases = {
        // Identification and status.
        {"device attributes", "\\e[c\\e[0c\\e[>c\\e[>0c\\e[=c\\eZ\\e[1c\\e[>1c", 80, 24, true,
         TEXT | COLOURS | ATTRIBUTES, kNoLocatorWhy, kNoLocator},
        {"status and cursor reports", "\\e[5;10H\\e[5n\\e[6n\\e[?6n\\e[99n"},
        {"cursor reports under origin mode", "\\e[5;10r\\e[?6h\\e[3;4H\\e[6n\\e[?6n\\e[?6l\\e[r"},
        {"DEC status reports", "\\e[?25n\\e[?26n\\e[?56n\\e[?62n\\e[?63;7n\\e[?75n\\e[?85n\\e[?99n"},
        // Modes.
        {"ANSI mode requests", Modes(false, {1, 2, 4, 5, 6, 7, 8, 9, 10, 11, 13, 14, 15, 16, 17, 18, 19, 20, 21, 99})},
        {"DEC mode requests at power-on", Modes(true, kDecModes)},
        {"DEC mode requests after setting them",
         "\\e[?1h\\e[?5h\\e[?6h\\e[?7l\\e[?9h\\e[?12h\\e[?18h\\e[?19h\\e[?25l\\e[?40h\\e[?42h\\e[?45h\\e[?66h"
         "\\e[?67h\\e[?69h\\e[?1004h\\e[?1006h"
         "\\e[?2004h" + Modes(true, kDecModes) + "\\e[2h\\e[4h\\e[20h" + Modes(false, {2, 4, 20}) + "\\e[2l\\e[20l"},
        {"mouse modes replace each other",
         "\\e[?1000h" + Modes(true, {9, 1000}) + "\\e[?1002h" + Modes(true, {1000, 1002}) + "\\e[?1003h" +
             Modes(true, {1002, 1003}) + "\\e[?1003l" + Modes(true, {1003}) + "\\e[?1005h\\e[?1006h" +
             Modes(true, {1005, 1006}) + "\\e[?1015h" + Modes(true, {1006, 1015}) + "\\e[?1006l" + Modes(true, {1015})},
        {"alternate screen modes", "a\\e[?1049h" + Modes(true, {47, 1047, 1049}) + "b\\e[?1049l" +
                                       Modes(true, {47, 1047, 1049}) + "\\e[?47hc" + Modes(true, {47, 1049}) + "\\e[?47l"},
        // Status strings.
        {"status strings at power-on", Status(kSettings)},
        {"status strings after settings",
         "\\e[3;20r\\e[1\"q\\e[4;5;7;8;33;44m\\e[3 q" + Status({"m", "\"q", "r", " q"}) + "\\e[m\\e[2\"q" +
             Status({"m", "\"q"}) + "\\e[0\"q\\e[r"},
        {"status strings of colours",
         "\\e[92;105m" + Status({"m"}) + "\\e[38;5;100;48;5;200m" + Status({"m"}) + "\\e[2;3m" + Status({"m"}) +
             "\\e[m"},
        {"cursor styles", Status({" q"}) + "\\e[3 q" + Status({" q"}) + "\\e[0 q" + Status({" q"}) + "\\e[6 q" +
                              Status({" q"}) + "\\e[4 q" + Status({" q"}) + "\\e[5 q" + Status({" q"}) +
                              "\\e[2 q" + Status({" q"}) + "\\e[7 q" + Status({" q"})},
        {"conformance levels and 8-bit answers",
         "\\e[62;1\"p" + Status({"\"p", "s", "r"}) + "\\e[?6n\\e[=c\\e[1;1;1;1;1;1*y\\e[1$w\\e[?63n\\e[4$p" +
             "\\e[63;2\"p" + Status({"\"p", "r"}) + "\\e[?6n\\e[1$w\\e[4$p\\e[c\\e[6n\\e[?1$p\\e[64;1\"p" +
             Status({"\"p"}),
         80, 24, true, TEXT | COLOURS | ATTRIBUTES, kSizesWhy, {kNoLocator[0], kSizes}},
        {"a VT100 has fewer status strings", "\\e[61\"p" + Status({"\"p", "m", "s"}) + "\\e[?2$p\\e[?6n\\e[64;1\"p"},
        {"8-bit and 7-bit answers", "\\e G\\e[c\\e[5n" + Status({"r"}) + "\\e F\\e[5n", 80, 24, true,
         TEXT | COLOURS | ATTRIBUTES, kNoLocatorWhy, kNoLocator},
        // The rectangle checksum.
        {"checksums of text and renditions",
         "abc\\e[1mB\\e[4mU\\e[5mK\\e[7mR\\e[8mI\\e[2mD\\e[3mT\\e[m\\e[31;42mC\\e[m_\\xc3\\xa4\\xe2\\x82\\xac"
         "\\e[1;1;1;1;1;3*y\\e[2;1;1;4;1;4*y\\e[3;1;1;5;1;5*y\\e[4;1;1;6;1;6*y\\e[5;1;1;7;1;7*y"
         "\\e[6;1;1;8;1;8*y\\e[7;1;1;9;1;10*y\\e[8;1;1;11;1;11*y\\e[9;1;1;12;1;12*y\\e[10;1;1;13;1;14*y"
         "\\e[11;1;1;1;1;80*y\\e[12;1;1;1;24;80*y"},
        {"checksums of blanks and erased cells",
         "\\e[2;1H\\e[44m\\e[K\\e[m\\e[3;5H\\e[7m \\e[m\\e[4;1Hx\\e[4;1H\\e[K"
         "\\e[1;1;2;1;2;5*y\\e[2;1;3;1;3;80*y\\e[3;1;4;1;4;80*y\\e[4;1;5;1;24;80*y\\e[5;1;3;3;2;2*y"
         "\\e[6;1;1;1;1;1*y\\e[7;1;1;70;3;200*y\\e[8;1;30;1;40;80*y"},
        {"checksums of wide and line-drawing characters",
         "\\xe4\\xb8\\xad\\e(0qx\\e(B\\e[1;1;1;1;1;1*y\\e[2;1;1;1;1;2*y\\e[3;1;1;3;1;4*y"},
        {"checksums under origin mode", "A\\e[5;10r\\e[?6hB\\e[1;1;1;1;1;1*y\\e[2;1;1;1;24;80*y\\e[3;1;6;1;8;80*y"
                                        "\\e[?6l\\e[r"},
        // Presentation state reports.
        {"cursor information report",
         "\\e[3;5H\\e[1;4;7m\\e[1\"q\\e)0\\e*K\\e[?42h\\e+K\\e[1$w\\e[m\\e[0\"q\\e[?6h\\e[1$w\\e[2$w\\e[?6l", 80, 24,
         true, TEXT | COLOURS | ATTRIBUTES,
         "xterm's cursor information report calls the G-sets 96-character sets (\"O\"), and still reports the "
         "protection that DECSCA 0 ended (its status string does not); its tab stop report names a stop past the "
         "last column (81)",
         {{";0;2;O;B0BK", ";0;2;@;B0BK"}, {"1;1;1;@;A;A;", "1;1;1;@;@;A;"}, {"/73/81", "/73"}}},
        {"tab stop report", "\\e[3g\\e[1;5H\\eH\\e[1;20H\\eH\\e[1;80H\\eH\\e[2$w\\e[3g\\e[2$w\\e[1$w\\e[5$w", 80, 24,
         true, TEXT | COLOURS | ATTRIBUTES, kSizesWhy, {kSizes}},
        // Colours.
        {"palette queries", "\\e]4;17;?\\a\\e]4;200;?\\e\\\\\\e]4;17;rgb:12/34/56\\a\\e]4;17;?\\a\\e]4;300;?\\a"
                            "\\e]104;17\\a\\e]4;17;?;18;?\\a"},
        // Resets.
        {"RIS resets every mode but the level",
         "\\e[?1h\\e=\\e[4h\\e[20h\\e[?5h\\e[?6h\\e[?7l\\e[?25l\\e[?1000h\\e[?1006h\\e[?2004h\\e[?12h\\e[5 q"
         "\\e[?45h\\e[?42h\\e[?67h\\e[?66h\\e[2h\\e[1\"q\\e[3;10r\\e[1;31mabc\\e(0\\e)A\\e[62;2\"p\\e[?40h\\ec" +
             Modes(true, kDecModes) + Modes(false, {2, 4, 20}) + Status(kSettings) + "text q\\x0eq\\e[64;1\"p"},
        {"DECSTR resets some modes",
         "\\e[?1h\\e=\\e[4h\\e[20h\\e[?5h\\e[?6h\\e[?7l\\e[?25l\\e[?1000h\\e[?2004h\\e[?12h\\e[5 q\\e[?45h\\e[?42h"
         "\\e[?67h\\e[?66h\\e[2h\\e[1\"q\\e[3;10r\\e[1;31mA\\e(0\\e7\\e[!p" +
             Modes(true, kDecModes) + Modes(false, {2, 4, 20}) + Status(kSettings) + "Bq\\e8C"},
        {"DECSCL resets softly", "\\e[?6h\\e[4h\\e[1;32m\\e[3;10r\\e[64;1\"p" + Modes(true, {6}) +
                                     Modes(false, {4}) + Status({"m", "r"}) + "x"},
        // The alternate screen.
        {"leaving 1049 without entering it", "abc\\e[?1049l\\e[5;5Hx\\e[?1049lY"},
        {"leaving 1047 and 47 without entering them", "abc\\e[5;5H\\e7\\e[3;3H\\e[?1047lx\\e[?47ly\\e[?1048lz"},
        {"entering 1049 twice", "main\\e[?1049halt\\e[?1049hx\\e[?1049lY"},
        // VT52 mode.
        {"VT52 cursor and erasing", "abc\\e[?2l\\eY%%X\\eAup\\eZ\\eFaq`\\eGaq\\eH\\eC\\eCh\\eY$0\\eK\\e[2J\\e<"
                                    "\\e[?2$pZ\\e[64;1\"p"},
        {"VT52 reverse line feed and erase below",
         "line1\\r\\nline2\\r\\nline3\\e[?2l\\eY!\"\\eJ\\eH\\eI\\eIq\\e=\\e<\\e[?66$p\\e[?1$p\\e[64;1\"p"},
        {"VT52 graphics", "\\e[?2l\\eF^_`abcdefghijklmnopqrstuvwxyz{|}~\\eG^_`abc\\e<\\e[64;1\"p"},
        {"VT52 positions off the screen", "\\e[5;5H\\e[?2l\\eY~*a\\eY#~b\\eY\\x18c\\e<\\e[64;1\"p"},
        {"VT52 ignores ANSI sequences", "\\e[?2l\\e[1mx\\e[?2hy\\e<z\\e[1mw\\e[m\\e[64;1\"p"},
        // Character sets.
        {"national sets need DECNRCM",
         "\\e(K" + Printable() + "\\e(B\\r\\n\\e[?42h\\e(K" + Printable() + "\\e(B\\r\\n\\e[?42l\\e(A#\\e(B#"},
        {"every national set",
         "\\e[?42h\\e(C" + Printable() + "\\r\\n\\e(5" + Printable() + "\\r\\n\\e(H" + Printable() + "\\r\\n\\e(7" +
             Printable() + "\\r\\n\\e(Q" + Printable() + "\\r\\n\\e(9" + Printable() + "\\r\\n\\e(R" + Printable() +
             "\\r\\n\\e(f" + Printable() + "\\r\\n\\e(Y" + Printable() + "\\r\\n\\e(Z" + Printable() + "\\r\\n\\e(4" +
             Printable() + "\\r\\n\\e(%6" + Printable() + "\\r\\n\\e(=" + Printable() + "\\r\\n\\e(`" + Printable() +
             "\\r\\n\\e(E" + Printable() + "\\r\\n\\e(6" + Printable() + "\\e(B",
         100, 24},
        {"DEC supplemental and technical sets",
         "\\e(<" + Printable() + "\\r\\n\\e(%5" + Printable() + "\\r\\n\\e(>" + Printable() + "\\e(B", 100, 24},
        {"national sets through G1 to G3 and the saved cursor",
         "\\e[?42h\\e)K\\e*R\\e+Z\\x0e[\\x0f[\\eN[[\\eO[[\\en[\\eo[\\x0f\\r\\n\\e(K\\e7\\e(B[\\e8[\\e[?42l[\\e(B[\\e(K["},
        {"sets that are not held", "\\e(0\\e(\\\">q\\e(%2q\\e(0\\e(\\\"4q\\e(&5q\\e(%0q\\e(0\\e(%3q\\e(0\\e(1q\\e(0\\e(Xq"
                                   "\\e(2q\\e(0\\e(Kq\\e)0\\e-A\\x0eqrs\\x0f\\e(B"},
        // 132 columns.
        {"DECCOLM without mode 40 does nothing", "hello\\e[5;10r\\e[?3hX\\e[?3$p\\eP$q$|\\e\\\\"},
        {"DECCOLM with mode 40", "hello\\e[5;10r\\e[?40h\\e[?3hX" + Modes(true, {3}) + Status({"$|", "r"}) +
                                     "\\e[1;130HY"},
        {"DECCOLM back to 80", "hello\\e[?40h\\e[?3h\\e[?3lX" + Modes(true, {3}) + Status({"$|"})},
        {"DECSCPP keeps the screen", "ab\\e[132$|" + Status({"$|"}) + "c\\e[1;120Hd\\e[80$|" + Status({"$|"})},
        // Rectangular areas and columns.
        {"DECFRA fills with the rendition",
         "\\e#8\\e[4;31;44m\\e[88;2;2;3;5$x\\e[m\\e(0\\e[113;4;2;4;4$x\\e(B\\e[42;10;70;12;200$x"
         "\\e[10;1;1;2;2$x\\e[127;1;1;2;2$x\\e[150;1;1;2;2$x\\e[233;14;3;14;4$x\\e[1;1;1;24;80*y"},
        {"DECERA and DECSERA", "\\e#8\\e[44m\\e[2;2;3;4$z\\e[m\\e[5;1H\\e[1\"qPROT\\e[0\"q\\e[5;1;6;10${"
                               "\\e[8;5;7;2$z\\e[1;1;1;24;80*y"},
        {"DECCRA copies, overlapping too",
         "ABCDEF\\r\\nGHIJKL\\r\\n\\e[1;31mMNOPQR\\e[m\\e[1;1;3;3;1;2;2;1$v\\e[1;4;2;6;1;3;5;1$v"
         "\\e[1;1;3;6;1;23;78;1$v"},
        {"DECCARA and DECRARA in a rectangle",
         "\\e#8\\e[2*x\\e[2;2;4;10;1;4$r\\e[3;3;5;12;7$t\\e[6;1;6;5;1;5$r\\e[6;1;6;5;0$r\\e[7;1;7;5;1;4;8$r"
         "\\e[7;1;7;5;22;28$r\\e[8;1;8;5;1;4;5;7$t\\e[8;2;8;3;0$t"},
        {"DECCARA as a stream", "\\e#8\\e[2;70;4;10;1;4$r\\e[2*x\\e[1*x\\e[6;70;7;5;7$r\\e[9;10;9;5;1$r"},
        {"rectangles under origin mode", "\\e#8\\e[5;10r\\e[?6h\\e[1;1;2;5;7$r\\e[48;1;1;20;3$x\\e[3;1;3;3$z"
                                         "\\e[?6l\\e[r"},
        {"insert and delete columns", Fill() + "\\e[5;10r\\e[7;20H\\e['}\\e[3'}\\e[8;5H\\e[2'~\\e[2;5H\\e['}"
                                                 "\\e[9;79H\\e[9'}\\e[r"},
        {"shift left and right", Fill() + "\\e[5;10r\\e[20;1H\\e[3 @\\e[6;9H\\e[3 @\\e[2 A\\e[r\\e[1;1r\\e[2 A"
                                                "\\e[r\\e[12;1H\\e[200 @"},
        {"back and forward index", Fill() + "\\e[5;10r\\e[7;1H\\e6\\e6\\e[7;80H\\e9\\e9\\e[7;40H\\e6\\e9\\e[6n"
                                              "\\e[2;1H\\e6\\e[r"},
        {"saved and restored private modes",
         "\\e[?1;7;2004;1049s\\e[?1h\\e[?7l\\e[?2004h" + Modes(true, {1, 7}) + "\\e[?1;7;2004r" +
             Modes(true, {1, 7, 2004}) + "\\e[?6r" + Modes(true, {6}) + "\\e[?7l\\e[?7s\\e[?7h\\e[?7r" +
             Modes(true, {7}) + "\\e[?7h"},
        {"pushed and popped renditions",
         "\\e[4;32m\\e[#{\\e[1;7;45m\\e[#}" + Status({"m"}) + "a\\e[4m\\e[1#{\\e[m\\e[#}" + Status({"m"}) +
             "b\\e[#}\\e[#}" + Status({"m"}) + "\\e[33;44m\\e[30;2#{\\e[m\\e[#}" + Status({"m"}) + "c"},
        // Left and right margins.
        {"DECSLRM needs DECLRMM", "\\e[5;5H\\e[10;20sX\\e[u\\e[?69h\\e[10;20sY\\e[6n" + Status({"s"}) + Modes(true, {69}) +
                                       "\\e[?69l" + Status({"s"}) + "\\e[?69h\\e[20;10s" + Status({"s"}) + "\\e[5;5HZ\\e[s\\e[u"},
        {"text wraps at the right margin", "\\e#8\\e[?69h\\e[10;20s\\e[1;15H0123456789ABCDEF\\e[3;30Hxyz" +
                                               Repeat("0123456789", 6) + "\\e[6;15H\\e[?7l0123456789\\e[?7h"},
        {"CR, BS, tabs and cursor moves with margins",
         "\\e#8\\e[?69h\\e[10;20s\\e[1;5Hab\\rX\\e[2;15Hcd\\rY\\e[3;12H\\t*\\t+\\e[4;15H\\e[30C!\\e[5;25H\\e[30C?"
         "\\e[6;15H\\e[30D<\\e[7;5H\\e[30D>\\e[8;10H\\b^\\e[9;15H\\e[Z_\\e[10;25H\\e[2E=\\e[14;15H\\e[F~"},
        {"scrolling inside the margins",
         Fill() + "\\e[?69h\\e[10;20s\\e[3;6r\\e[6;15H\\n\\n\\e[6;5H\\n\\e[3;15H\\eM\\e[3;25H\\eM\\e[2S\\e[T"
                  "\\e[r\\e[24;15H\\n\\e[6n"},
        {"lines and characters inside the margins",
         Fill() + "\\e[?69h\\e[10;20s\\e[2;5H\\e[L\\e[4;15H\\e[2L\\e[8;15H\\e[M\\e[10;15H\\e[3@\\e[11;15H\\e[2P"
                  "\\e[12;5H\\e[2P\\e[13;18H\\e[4hxyzw\\e[4l\\e[14;15H\\e[30X\\e[15;15H\\e[K\\e[6n"},
        {"origin mode with margins",
         "\\e[?69h\\e[10;20s\\e[5;10r\\e[?6h\\e[3G*\\e[2;4H+\\e[6n\\e[99;99H#\\e[6n\\e[2d@\\e[?6l\\e[6;1H\\e[3G-"
         "\\e[?6h\\e[1;1;1;3;7$r\\e[1;1;1;1;1;3*y\\e[?6l"},
        {"column functions inside the margins",
         Fill() + "\\e[?69h\\e[10;20s\\e[3;6r\\e[4;12H\\e[2'}\\e[5;12H\\e['~\\e[4;10H\\e6\\e[5;20H\\e9\\e[4;5H\\e[2'}"
                  "\\e[4;15H\\e[ @\\e[2 A\\e[r"},
        {"reverse wrap-around with margins", "\\e#8\\e[?69h\\e[10;20s\\e[3;10H\\e[?45h\\bX\\e[1;10H\\bY\\e[?45l"},
        {"margins reset by DECSTR and DECCOLM",
         "\\e[?69h\\e[10;20s\\e[!p" + Modes(true, {69}) + Status({"s"}) + "\\e[?69h\\e[10;20s\\e[?40h\\e[?3l" +
             Status({"s"}) + Modes(true, {69})},
        // Other modes.
        {"reverse wrap-around", "abc\\r\\ndef\\r\\n\\e[?45h\\b\\bX\\e[3;1H\\bY\\e[4;1H\\e[?7l\\bZ\\e[?7h"
                                "\\e[6n\\e[5;10r\\e[5;1H\\b\\e[6n\\e[r\\e[1;1H\\bQ\\e[6n\\e[2;80Hx\\e[6n\\b\\b\\e[6n"
                                "\\e[3;1H\\e[3D\\e[6n"},
    };
    return cases;
}

class XtermReference : public ::testing::TestWithParam<size_t> {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(HEADLESSSESSION::StartPlatform());
        if (!Results.empty())
            return;
        XTERM xterm;
        ASSERT_TRUE(xterm.Ok()) << "xterm, Xvfb and the peer are installed by scripts/setup";
        std::vector<XTERM::INPUT> inputs;
        for (XCASE const& c : XtermCases())
            inputs.push_back({Unescape(c.Bytes), c.Width, c.Height});
        Results = xterm.RunAll(inputs);
    }
    static inline std::vector<XTERM::RESULT> Results;
};

// The session's answers and screen for the bytes and the peer's trailer.
std::pair<std::string, SNAPSHOT> OursWithAnswers(std::string const& bytes, int width, int height)
{
    HEADLESSSESSION run({.Emulation = 18, .Columns = width, .Rows = height, .CodePage = 1000});
    EXPECT_TRUE(run.IsOpen());
    SESSION& s = run.Session();
    s.Prof.data.ColorFore = 7;
    s.Prof.data.ColorBack = 0;
    // xterm's cursor at power-on: a steady block.
    s.Prof.data.BigCursor = 1;
    s.Prof.data.CursorBlink = 0;
    s.EmuLayer.TrackColors(0, 7, 1);
    s.EmuLayer.SetEmulation(18, 1);
    EXPECT_TRUE(run.Feed(bytes + kXtermTrailer));
    EXPECT_TRUE(run.WaitIdle());
    auto marked = [&] {
        std::string const sent = run.Sent();
        size_t const at = sent.find("9999!~");
        return at != std::string::npos && sent.size() >= at + 11 &&
               (sent.compare(at + 10, 2, "\x1b\\") == 0 || sent[at + 10] == '\x9c');
    };
    EXPECT_TRUE(run.RunUntil(marked, 5000)) << "the marker is answered";
    return {run.Sent(), FromSession(run)};
}

} // namespace

TEST_P(XtermReference, AnswersAndScreenAgree)
{
    XCASE const& c = XtermCases()[GetParam()];
    SCOPED_TRACE(c.Name);
    if (!c.Answers || c.Screen != (TEXT | COLOURS | ATTRIBUTES)) {
        EXPECT_NE(c.Why, nullptr) << "a case that is not compared in full says why";
    }
    std::string const bytes = Unescape(c.Bytes);
    auto const [answers, screen] = OursWithAnswers(bytes, c.Width, c.Height);
    XTERM::RESULT const& xterm = Results[GetParam()];
    if (!c.Differ.empty()) {
        EXPECT_NE(c.Why, nullptr) << "a case whose answers differ says why";
    }
    if (c.Answers) {
        std::string expected = xterm.Answers;
        for (auto const& [theirs, ours] : c.Differ)
            for (size_t at = expected.find(theirs); at != std::string::npos; at = expected.find(theirs, at + ours.size()))
                expected.replace(at, theirs.size(), ours);
        EXPECT_EQ(Escape(answers), Escape(expected)) << "bytes " << Escape(bytes);
    }
    SNAPSHOT theirs = xterm.Screen;
    if (theirs.Width != screen.Width || theirs.Height != screen.Height)
        theirs = XTERM::ParsePrint(xterm.Print, screen.Width, screen.Height);
    // xterm prints hidden cells as blanks without the attribute.
    SNAPSHOT shown = screen;
    for (CELL& cell : shown.Cells) {
        if (cell.Attr & ATTR_INVISIBLE) {
            cell.Attr &= uint16_t(~ATTR_INVISIBLE);
            if (cell.Ch != kRightHalf)
                cell.Ch = ' ';
        }
    }
    EXPECT_EQ(Compare(shown, theirs, c.Screen, kXtermReports), "")
        << "bytes " << Escape(bytes) << "\nours:\n" << screen.Text() << "xterm:\n" << theirs.Text();
}

INSTANTIATE_TEST_SUITE_P(Xterm, XtermReference, ::testing::Range<size_t>(0, XtermCases().size()),
                         [](::testing::TestParamInfo<size_t> const& info) { return TestName(XtermCases()[info.param].Name); });
