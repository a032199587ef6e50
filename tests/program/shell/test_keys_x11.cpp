// Real keys typed with xdotool into the program and into xterm under one
// private X server, each running the same recorder as its host: for the
// same key under the same modes both send the bytes of the table, which
// are xterm's (with metaSendsEscape, as emacs and readline users set it).
#include "tests/program/shell/x11desktop.h"

#include <gtest/gtest.h>

namespace {

struct KEY {
    char const* Name; // xdotool's
    std::string Bytes;
};

struct PHASE {
    char const* What;
    std::string Modes; // what the host sends first
    std::vector<KEY> Keys;
};

using namespace std::string_literals;

// Num Lock is off on the server: the keypad's digits are its editing keys.
std::vector<PHASE> const kPhases = {
    {"normal modes",
     "",
     {
         {"ctrl+alt+a", "\x1b\x01"},
         {"ctrl+alt+x", "\x1b\x18"},
         {"ctrl+alt+slash", "\x1b\x1f"},
         {"ctrl+alt+2", "\x1b\0"s},
         {"ctrl+2", "\0"s},
         {"ctrl+3", "\x1b"},
         {"ctrl+4", "\x1c"},
         {"ctrl+5", "\x1d"},
         {"ctrl+6", "\x1e"},
         {"ctrl+7", "\x1f"},
         {"ctrl+8", "\x7f"},
         {"ctrl+grave", "\0"s},
         {"ctrl+slash", "\x1f"},
         {"KP_Home", "\x1b[H"},
         {"KP_Up", "\x1b[A"},
         {"KP_Prior", "\x1b[5~"},
         {"KP_Left", "\x1b[D"},
         {"KP_Begin", "\x1b[E"},
         {"KP_Right", "\x1b[C"},
         {"KP_End", "\x1b[F"},
         {"KP_Down", "\x1b[B"},
         {"KP_Next", "\x1b[6~"},
         {"KP_Insert", "\x1b[2~"},
         {"KP_Delete", "\x1b[3~"},
         {"KP_Enter", "\r"},
         {"KP_Add", "+"},
     }},
    {"application cursor keys and keypad",
     "\x1b[?1h\x1b=",
     {
         {"KP_Home", "\x1bOH"},
         {"KP_Up", "\x1bOA"},
         {"KP_Begin", "\x1bOE"},
         {"KP_Prior", "\x1b[5~"},
         {"KP_Insert", "\x1b[2~"},
         {"KP_Delete", "\x1b[3~"},
         {"KP_Enter", "\x1bOM"},
         {"KP_Add", "\x1bOk"},
         {"KP_Divide", "\x1bOo"},
         {"Up", "\x1bOA"},
     }},
    {"application keypad alone: the keypad's cursor keys follow the cursor key mode",
     "\x1b[?1l",
     {
         {"KP_Home", "\x1b[H"},
         {"KP_Up", "\x1b[A"},
         {"KP_Enter", "\x1bOM"},
     }},
};

class KeysX11 : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Desk.Start()) << "Xvfb, xauth and xdotool (scripts/setup installs them)"; }

    // Types every phase into a terminal whose recorder is `tag` and checks
    // each key's bytes.
    void Check(std::string const& terminal, std::string const& tag, std::string const& window)
    {
        for (size_t n = 0; n < kPhases.size(); ++n) {
            PHASE const& phase = kPhases[n];
            SCOPED_TRACE(terminal + ", " + phase.What);
            ASSERT_TRUE(Desk.RecorderReady(tag, int(n))) << "the recorder did not start";
            Desk.Focus(window);
            std::vector<std::string> names;
            for (KEY const& k : phase.Keys)
                names.push_back(k.Name);
            std::vector<std::string> const got = Desk.RecordKeys(tag, int(n), names);
            ASSERT_EQ(got.size(), phase.Keys.size()) << "the recorder saw every key";
            for (size_t k = 0; k < got.size(); ++k)
                EXPECT_EQ(x11desk::Escaped(got[k]), x11desk::Escaped(phase.Keys[k].Bytes)) << phase.Keys[k].Name;
        }
    }

    std::vector<std::string> Modes() const
    {
        std::vector<std::string> modes;
        for (PHASE const& p : kPhases)
            modes.push_back(p.Modes);
        return modes;
    }

    x11desk::DESKTOP Desk;
};

TEST_F(KeysX11, XtermSendsTheTablesBytes)
{
    auto xterm = Desk.StartXterm({"-xrm", "XTerm*metaSendsEscape: true", "-geometry", "80x24"},
                                 Desk.Recorder("xterm", Modes()));
    ASSERT_TRUE(xterm);
    ASSERT_TRUE(Desk.RecorderReady("xterm", 0));
    std::vector<std::string> const windows = Desk.Windows("XTerm");
    ASSERT_FALSE(windows.empty());
    Check("xterm", "xterm", windows[0]);
}

TEST_F(KeysX11, TheProgramSendsTheTablesBytes)
{
    std::string const shell = Desk.Script("recorder.sh", Desk.Recorder("qor", Modes()));
    auto qor = Desk.StartQor(shell);
    ASSERT_TRUE(qor);
    ASSERT_TRUE(Desk.RecorderReady("qor", 0)) << "the shell did not start";
    std::string const window = Desk.MainWindow();
    ASSERT_FALSE(window.empty());
    Check("qor", "qor", window);
}

} // namespace
