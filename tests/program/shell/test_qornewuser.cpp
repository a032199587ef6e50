// The program as a new user meets it, under an X server of its own: the
// first start and what it leaves in the user's folders, the tip of the day,
// the shortcuts (Ctrl+Shift) with and without a key map entry, a second
// start, and binary output.
#include "tests/program/shell/x11fixture.h"

#include <sys/inotify.h>

#include <filesystem>
#include <set>

using namespace x11test;

namespace {

// The paths below root, relative to it, folders with a trailing "/".
std::set<std::string> Tree(std::string const& root)
{
    std::set<std::string> out;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::string rel = std::filesystem::relative(it->path(), root, ec).string();
        if (it->is_directory(ec) && !it->is_symlink(ec))
            rel += "/";
        out.insert(rel);
    }
    return out;
}

struct GEOMETRY {
    int X = 0, Y = 0, Width = 0, Height = 0;
};

GEOMETRY Geometry(std::string const& window)
{
    GEOMETRY g;
    std::string const text = Output({"xdotool", "getwindowgeometry", "--shell", window});
    for (auto const& [key, field] : {std::pair{"X=", &g.X}, {"Y=", &g.Y}, {"WIDTH=", &g.Width},
                                     {"HEIGHT=", &g.Height}}) {
        size_t at = text.find(std::string("\n") + key);
        at = at == std::string::npos ? (text.rfind(key, 0) == 0 ? 0 : std::string::npos) : at + 1;
        if (at != std::string::npos)
            *field = atoi(text.c_str() + at + strlen(key));
    }
    return g;
}

// Counts the times a file in a folder is replaced (renamed onto).
class REPLACEMENTS {
public:
    REPLACEMENTS(std::string const& folder, std::string name) : Name(std::move(name))
    {
        Fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (Fd >= 0)
            inotify_add_watch(Fd, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
    }
    ~REPLACEMENTS()
    {
        if (Fd >= 0)
            close(Fd);
    }
    bool Watching() const { return Fd >= 0; }
    int Take()
    {
        int count = 0;
        alignas(inotify_event) char buffer[8192];
        for (;;) {
            ssize_t n = read(Fd, buffer, sizeof buffer);
            if (n <= 0)
                return count;
            for (char* p = buffer; p < buffer + n;) {
                auto* e = reinterpret_cast<inotify_event*>(p);
                if (e->len && Name == e->name)
                    ++count;
                p += sizeof(inotify_event) + e->len;
            }
        }
    }

private:
    std::string Name;
    int Fd = -1;
};

class NewUser : public QorX11 {
protected:
    // Answers the questions of a quit (one per connected tab) until the
    // program ends; its exit status, -1 when it did not end.
    int Quit(pid_t qor)
    {
        Key("ctrl+shift+q");
        for (int i = 0; i < 10; ++i) {
            int const status = ExitWithin(qor, 700);
            if (status >= 0)
                return status;
            Key("Return");
        }
        return ExitWithin(qor, 5000);
    }
    std::string Home(std::string const& folder) { return Dir.file(folder); }
};

} // namespace

// The first start makes only the program's own folders and writes no system
// folder; the runtime folder the session names is not changed; the tip of
// the day stands beside the terminal and takes Escape; the Ctrl+Shift
// shortcuts work without a click, also after Escape on a question; binary
// output leaves no notes on the standard error; the preferences are
// written once over a start and a quit, and not at all when nothing
// changed.
TEST_F(NewUser, TheFirstStartTheShortcutsAndWhatIsLeftBehind)
{
    testutil::WriteFile(Home("config") + "/user-dirs.dirs",
                        "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n");
    chmod(Home("run").c_str(), 01777);
    std::string const prefs = Home("config") + "/qor/preferences";
    std::filesystem::create_directories(prefs);
    chmod((Home("config") + "/qor").c_str(), 0755);
    chmod(prefs.c_str(), 0700);
    REPLACEMENTS writes(prefs, "com.tarvo.qor6.prefs");
    ASSERT_TRUE(writes.Watching());

    int const err = open(Dir.file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_t qor = Spawn({Program}, {{2, err}});
    close(err);
    ASSERT_GT(qor, 0);
    Started.push_back(qor);
    std::string const window = MainWindow();
    ASSERT_FALSE(window.empty()) << "a main window showed";
    std::string const tip = WindowNamed("Tip of the Day");
    ASSERT_FALSE(tip.empty()) << "a new user gets the tip of the day";
    GEOMETRY const main = Geometry(window);
    GEOMETRY const beside = Geometry(tip);
    EXPECT_TRUE(beside.Y >= main.Y + main.Height / 2 || beside.X >= main.X + main.Width ||
                beside.X + beside.Width <= main.X)
        << "the tip leaves the top of the terminal free: tip " << beside.X << "," << beside.Y << " "
        << beside.Width << "x" << beside.Height << ", window " << main.X << "," << main.Y << " " << main.Width
        << "x" << main.Height;

    // Escape closes the tip: it has the keys, nobody clicked it.
    Key("Escape");
    EXPECT_TRUE(WaitFor([&] { return Output({"xdotool", "search", "--onlyvisible", "--name", "Tip of the Day"}).empty(); },
                        5000));
    // The shortcuts work at once, without a click into the window.
    ASSERT_TRUE(WaitFor([&] { return Children(qor).size() == 1; }, 10000));
    Key("ctrl+shift+t");
    EXPECT_TRUE(WaitFor([&] { return Children(qor).size() == 2; }, 10000)) << "Ctrl+Shift+T opened a tab";
    std::string const answer = Dir.file("answer");
    Type("echo $((6*7)) > " + answer);
    Key("Return");
    EXPECT_TRUE(WaitFor([&] { return testutil::ReadFile(answer) == "42\n"; }, 10000)) << "the keys reach the new tab";

    // Escape on the question of closing a connected tab keeps it, and the
    // shortcuts work again at once.
    Key("ctrl+shift+w");
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    Key("Escape");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(Children(qor).size(), 2u) << "the tab stayed";
    Key("ctrl+shift+t");
    EXPECT_TRUE(WaitFor([&] { return Children(qor).size() == 3; }, 10000)) << "a shortcut after the question";

    // Binary output: nothing on the standard error for it.
    std::string const done = Dir.file("done");
    Type("head -c 30000 /dev/urandom; echo; echo ok > " + done);
    Key("Return");
    EXPECT_TRUE(WaitFor([&] { return testutil::ReadFile(done) == "ok\n"; }, 15000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    EXPECT_EQ(Quit(qor), 0);
    std::string const said = testutil::ReadFile(Dir.file("stderr"));
    EXPECT_EQ(said.find("OpenType support missing"), std::string::npos) << said.substr(0, 2000);

    // What the start left: the program's own folders only.
    for (auto const& [folder, own] : {std::pair{"config", "qor/"}, {"data", "qor/"}, {"cache", "qor/"}}) {
        for (std::string const& path : Tree(Home(folder))) {
            bool const allowed = path.rfind(own, 0) == 0 || path == "user-dirs.dirs";
            EXPECT_TRUE(allowed) << folder << "/" << path;
        }
    }
    EXPECT_TRUE(std::filesystem::is_directory(Home("data") + "/qor/Options")) << "the data folder";
    EXPECT_EQ(Tree(Home("home")), std::set<std::string>{}) << "nothing in the home folder";
    EXPECT_EQ(Tree(Home("state")), std::set<std::string>{});
    struct stat st {};
    ASSERT_EQ(stat(Home("run").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 01777u) << "the session's runtime folder keeps its mode";
    for (std::string const& path : Tree(Home("run"))) {
        EXPECT_EQ(path.rfind("qor/", 0), 0u) << path;
        EXPECT_EQ(path.find("admin."), std::string::npos) << "no temporary file is left: " << path;
    }
    EXPECT_EQ(writes.Take(), 1) << "the preferences are written once";

    // A second start and quit that change nothing write nothing.
    qor = Start({});
    ASSERT_FALSE(MainWindow().empty());
    ASSERT_TRUE(WaitFor([&] { return Children(qor).size() == 1; }, 10000));
    EXPECT_EQ(Quit(qor), 0);
    EXPECT_EQ(writes.Take(), 0) << "nothing changed, nothing written";
}

// Starting qor again without documents opens a new window in the running
// one, and the second start ends.
TEST_F(NewUser, ASecondStartOpensANewWindow)
{
    pid_t const qor = Start({"/U"});
    ASSERT_GT(qor, 0);
    ASSERT_FALSE(MainWindow().empty());
    ASSERT_TRUE(WaitFor([&] { return Children(qor).size() == 1; }, 10000));
    pid_t const second = Start({});
    ASSERT_GT(second, 0);
    EXPECT_EQ(ExitWithin(second, 15000), 0) << "the running one took the start";
    EXPECT_TRUE(WaitFor([&] { return Children(qor).size() == 2; }, 10000)) << "a second window with its shell";
    EXPECT_TRUE(WaitFor(
        [&] {
            std::string const ids = Output({"xdotool", "search", "--onlyvisible", "--name", "QOR/"});
            return std::count(ids.begin(), ids.end(), '\n') == 2;
        },
        10000))
        << "two main windows";
}

// A key map entry on Ctrl+Shift+T comes before the menus' shortcut: the
// entry's text is typed, no tab opens.
TEST_F(NewUser, AKeyMapEntryComesBeforeTheShortcut)
{
    std::string const options = Home("data") + "/qor/Options";
    std::filesystem::create_directories(options);
    std::string const mapped = Dir.file("mapped");
    testutil::WriteFile(options + "/Standard.qky",
                        "QOR6.44 // KEYBOARD\n14|5C|-1|-1|0|0|echo mapped$((6*7)) > " + mapped + "^M\n");
    pid_t const qor = Start({"/U"});
    ASSERT_GT(qor, 0);
    std::string const window = MainWindow();
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(WaitFor([&] { return Children(qor).size() == 1; }, 10000));
    Output({"xdotool", "windowactivate", "--sync", window});
    Focus(window);
    // Without a window manager the focus arrives when the server gets to
    // it; a key typed before then goes nowhere.
    EXPECT_TRUE(WaitFor(
        [&] {
            std::string focus = Output({"xdotool", "getwindowfocus"});
            while (!focus.empty() && (focus.back() == '\n' || focus.back() == ' '))
                focus.pop_back();
            if (focus == window)
                return true;
            Focus(window);
            return false;
        },
        10000));
    Key("ctrl+shift+t");
    EXPECT_TRUE(WaitFor([&] { return testutil::ReadFile(mapped) == "mapped42\n"; }, 20000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(Children(qor).size(), 1u) << "no tab opened";
}
