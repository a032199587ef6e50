// Resizing next to xterm under a private X server: a host writes history,
// clears the screen, writes eleven lines and a prompt into a 45-row window,
// and after each change of size asks where the cursor is (CPR). Lowering
// the window to 25 rows keeps the lines where they are in both terminals
// (the cursor stays on row 12); making it higher again takes lines back
// from the scroll-back, so the text moves down. With QOR_REVIEW_DIR set,
// pictures of both terminals before and after go there (docs/screens).
#include "tests/program/shell/x11desktop.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr char kHost[] = R"(import os, select, signal, sys, time, tty
report = sys.argv[1]
tty.setraw(0)
content = b"".join(b"history %d\r\n" % i for i in range(1, 61))
content += b"\x1b[H\x1b[2J" + b"".join(b"line %d\r\n" % i for i in range(1, 12)) + b"prompt> "
written = False
changed = [True]
signal.signal(signal.SIGWINCH, lambda *a: changed.__setitem__(0, True))
while True:
    if not written and os.path.exists(report + ".go"):
        os.write(1, content)
        written = changed[0] = True
    if changed[0]:
        changed[0] = False
        time.sleep(0.3)
        os.write(1, b"\x1b[6n")
        answer = b""
        end = time.time() + 5
        while not answer.endswith(b"R") and time.time() < end:
            if select.select([0], [], [], 0.2)[0]:
                answer += os.read(0, 64)
        cols, rows = os.get_terminal_size(0)
        row = answer[answer.rfind(b"[") + 1:].split(b";")[0].decode() if b"[" in answer else "0"
        with open(report, "a") as f:
            f.write("%d %d %s %d\n" % (rows, cols, row, written))
    time.sleep(0.05)
)";

class ResizeX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Desk.Start()) << "Xvfb, xauth and xdotool (scripts/setup installs them)";
        testutil::WriteFile(Desk.Folder() + "/host.py", kHost);
        if (char const* dir = getenv("QOR_REVIEW_DIR"))
            Review = dir;
    }

    std::vector<std::string> Command(std::string const& tag)
    {
        return {"/usr/bin/python3", Desk.Folder() + "/host.py", Desk.Folder() + "/" + tag + ".report"};
    }

    struct REPORT {
        int Rows = 0, Cols = 0, Row = 0;
        bool Written = false;
    };
    // The reports of a terminal so far: its rows and columns, the cursor's
    // row, and whether the host had written its lines.
    std::vector<REPORT> Reports(std::string const& tag)
    {
        std::vector<REPORT> out;
        std::istringstream in(testutil::ReadFile(Desk.Folder() + "/" + tag + ".report"));
        for (REPORT r; in >> r.Rows >> r.Cols >> r.Row >> r.Written;)
            out.push_back(r);
        return out;
    }

    // The first report after `seen` ones that satisfies the condition.
    bool Await(std::string const& tag, size_t seen, std::function<bool(REPORT const&)> const& cond, REPORT* got)
    {
        auto const end = std::chrono::steady_clock::now() + 15s;
        while (std::chrono::steady_clock::now() < end) {
            std::vector<REPORT> const r = Reports(tag);
            for (size_t i = seen; i < r.size(); ++i) {
                if (cond(r[i])) {
                    *got = r[i];
                    return true;
                }
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    void Go(std::string const& tag) { testutil::WriteFile(Desk.Folder() + "/" + tag + ".report.go", ""); }

    void Shot(std::string const& window, std::string const& name)
    {
        if (!Review.empty())
            EXPECT_TRUE(Desk.Shot(window, Review + "/" + name + ".png"));
    }

    x11desk::DESKTOP Desk;
    std::string Review;
};

TEST_F(ResizeX11, LowerKeepsTheLinesAndHigherTakesHistoryBackAsInXterm)
{
    auto rows = [](int n) { return [n](REPORT const& r) { return r.Written && r.Rows == n; }; };
    REPORT got;

    auto xterm = Desk.StartXterm({"-fa", "DejaVu Sans Mono", "-fs", "9", "-geometry", "80x45"}, Command("xterm"));
    ASSERT_TRUE(xterm);
    Go("xterm");
    ASSERT_TRUE(Await("xterm", 0, rows(45), &got)) << "the host in xterm did not report";
    EXPECT_EQ(got.Row, 12);
    std::string const xwin = Desk.Windows("XTerm").at(0);
    Shot(xwin, "resize-xterm-1-45rows");
    size_t seen = Reports("xterm").size();
    Desk.Tool({"xdotool", "windowsize", "--usehints", xwin, "80", "25"});
    ASSERT_TRUE(Await("xterm", seen, rows(25), &got));
    EXPECT_EQ(got.Row, 12) << "xterm keeps the lines where they are";
    Shot(xwin, "resize-xterm-2-25rows");
    seen = Reports("xterm").size();
    Desk.Tool({"xdotool", "windowsize", "--usehints", xwin, "80", "45"});
    ASSERT_TRUE(Await("xterm", seen, rows(45), &got));
    EXPECT_GT(got.Row, 12) << "xterm takes history back";
    Shot(xwin, "resize-xterm-3-45rows");

    // The program's window is sized in pixels: steps of a cell's size
    // until the host reports the rows wanted (and 80 columns).
    std::string const shell = Desk.Script("host", Command("qor"));
    auto qor = Desk.StartQor(shell);
    ASSERT_TRUE(qor);
    std::string const win = Desk.MainWindow();
    ASSERT_FALSE(win.empty());
    ASSERT_TRUE(Await("qor", 0, [](REPORT const&) { return true; }, &got)) << "the host did not start";
    auto sizeTo = [&](int want) {
        for (int tries = 0; tries < 8; ++tries) {
            std::vector<REPORT> const r = Reports("qor");
            if (r.back().Rows == want && r.back().Cols == 80)
                return true;
            std::string const geometry = Desk.Tool({"xdotool", "getwindowgeometry", win});
            size_t const at = geometry.find("Geometry: ");
            int w = 0, h = 0;
            if (at == std::string::npos || sscanf(geometry.c_str() + at, "Geometry: %dx%d", &w, &h) != 2)
                return false;
            Desk.Tool({"xdotool", "windowsize", win, std::to_string(w + (80 - r.back().Cols) * 8),
                       std::to_string(h + (want - r.back().Rows) * 15)});
            REPORT next;
            if (!Await("qor", r.size(), [](REPORT const&) { return true; }, &next))
                return false;
        }
        return false;
    };
    auto told = [&] {
        std::string t;
        for (REPORT const& r : Reports("qor"))
            t += std::to_string(r.Rows) + "/" + std::to_string(r.Row) + " ";
        return t;
    };
    ASSERT_TRUE(sizeTo(45)) << "the program's window did not get 45 rows: " << told();
    seen = Reports("qor").size();
    Go("qor");
    ASSERT_TRUE(Await("qor", seen, rows(45), &got));
    EXPECT_EQ(got.Row, 12);
    Shot(win, "resize-qor-1-45rows");
    ASSERT_TRUE(sizeTo(25));
    EXPECT_EQ(Reports("qor").back().Row, 12) << "the lines stay where they are";
    Shot(win, "resize-qor-2-25rows");
    ASSERT_TRUE(sizeTo(45));
    EXPECT_GT(Reports("qor").back().Row, 12) << "history comes back above the lines";
    Shot(win, "resize-qor-3-45rows");
}

} // namespace
