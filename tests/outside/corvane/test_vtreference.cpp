// The xterm emulation (18) next to two independent terminals, libvterm and
// tmux, over a corpus: a case per control function, written by hand, and
// sessions of vim, less, htop, mc and a shell recorded once (corpus/*.rec,
// see corpus/README.md). Every case is fed to a headless session and to
// both references; text, colours, attributes and the cursor must agree.
//
// Where a reference differs by design or is wrong, the case names the
// aspects compared for it and says why in its row.
#include "program/session/sessionrunner.h"
#include "tests/outside/corvane/vtsnapshot.h"
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
                         [](::testing::TestParamInfo<size_t> const& info) {
                             std::string name = Cases()[info.param].Name;
                             for (char& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });
