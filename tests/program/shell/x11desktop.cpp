#include "tests/program/shell/x11desktop.h"

#include <chrono>
#include <cstdlib>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace x11desk {

namespace {

constexpr char kRecorder[] = R"(import os, select, sys, time, tty
folder, tag = sys.argv[1], sys.argv[2]
phases = [bytes.fromhex(h) for h in sys.argv[3:]]
tty.setraw(0)

def read_until(done, seconds):
    data = b""
    end = time.time() + seconds
    while not done(data) and time.time() < end:
        ready, _, _ = select.select([0], [], [], 0.2)
        if ready:
            chunk = os.read(0, 4096)
            if not chunk:
                break
            data += chunk
    return data

for n, modes in enumerate(phases):
    os.write(1, modes + b"\x1b[c")
    read_until(lambda d: d.endswith(b"c"), 10)
    open("%s/%s.ready%d" % (folder, tag, n), "w").close()
    data = read_until(lambda d: d.endswith(b"!!"), 60)
    part = "%s/%s.keys%d.part" % (folder, tag, n)
    with open(part, "wb") as f:
        f.write(data)
    os.rename(part, "%s/%s.keys%d" % (folder, tag, n))
)";

bool WaitFor(std::function<bool()> const& cond, int ms)
{
    auto const end = xtest::Clock::now() + std::chrono::milliseconds(ms);
    while (!cond()) {
        if (xtest::Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return true;
}

std::string Quoted(std::string const& word)
{
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::vector<std::string> Lines(std::string const& text)
{
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        if (end > at)
            out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

} // namespace

bool DESKTOP::Start()
{
    std::string const xvfb = xtest::FindTool("Xvfb"), xauth = xtest::FindTool("xauth");
    char const* stage = getenv("QOR_STAGE_DIR");
    if (xvfb.empty() || xauth.empty() || xtest::FindTool("xdotool").empty() || !stage)
        return false;
    Stage = stage;
    std::string const home = Dir.file("home");
    for (std::string const& d : {home, home + "/.config", home + "/.local", home + "/.local/share",
                                 home + "/.local/state", home + "/.cache", home + "/run"})
        mkdir(d.c_str(), 0700);
    testutil::WriteFile(Dir.file("recorder.py"), kRecorder);
    ShowTips(false);
    // Room for a window of 45 rows.
    return Server.Start(xvfb, xauth, Dir.path(), "1600x1200x24");
}

void DESKTOP::ShowTips(bool show) const
{
    // The preferences of a user who asked for no tips; a new user's
    // otherwise (the tip of the day is modal).
    std::string const folder = Dir.file("home/.config/qor");
    mkdir(folder.c_str(), 0700);
    mkdir((folder + "/preferences").c_str(), 0700);
    std::string const prefs = folder + "/preferences/com.tarvo.qor6.prefs";
    if (show)
        unlink(prefs.c_str());
    else
        testutil::WriteFile(prefs, "QORPREFS 1\ns TipOfDayStyle=0\n");
}

std::vector<std::string> DESKTOP::Env(std::vector<std::pair<std::string, std::string>> const& extra) const
{
    std::string const home = Dir.file("home");
    std::vector<std::pair<std::string, std::string>> set = {
        {"DISPLAY", Server.Display()},
        {"XAUTHORITY", Server.AuthFile()},
        {"QT_QPA_PLATFORM", "xcb"},
        {"HOME", home},
        {"XDG_CONFIG_HOME", home + "/.config"},
        {"XDG_DATA_HOME", home + "/.local/share"},
        {"XDG_STATE_HOME", home + "/.local/state"},
        {"XDG_CACHE_HOME", home + "/.cache"},
        {"XDG_RUNTIME_DIR", home + "/run"},
    };
    for (auto const& e : extra)
        set.push_back(e);
    return xtest::EnvWith(set);
}

std::string DESKTOP::Tool(std::vector<std::string> const& argv, int ms) const
{
    std::vector<std::string> args = argv;
    if (!args.empty() && args[0].find('/') == std::string::npos)
        args[0] = xtest::FindTool(args[0].c_str());
    xtest::Child tool;
    if (args[0].empty() || !tool.Start(args, Env(), true))
        return {};
    std::string out;
    for (std::string const& line : tool.ReadLines(ms, [](std::string const&) { return false; }))
        out += line + "\n";
    tool.WaitExit(ms);
    return out;
}

void DESKTOP::Keys(std::vector<std::string> const& keys, int delayMs) const
{
    std::vector<std::string> argv = {"xdotool", "key", "--delay", std::to_string(delayMs)};
    argv.insert(argv.end(), keys.begin(), keys.end());
    Tool(argv, 60000);
}

std::vector<std::string> DESKTOP::Windows(std::string const& windowClass) const
{
    return Lines(Tool({"xdotool", "search", "--onlyvisible", "--class", windowClass}));
}

std::string DESKTOP::WindowName(std::string const& id) const
{
    std::vector<std::string> const lines = Lines(Tool({"xdotool", "getwindowname", id}));
    return lines.empty() ? std::string() : lines[0];
}

std::string DESKTOP::MainWindow(int ms) const
{
    std::string found;
    WaitFor(
        [&] {
            for (std::string const& id : Windows("qor")) {
                if (WindowName(id).find("Tip of the Day") == std::string::npos) {
                    found = id;
                    return true;
                }
            }
            return false;
        },
        ms);
    return found;
}

void DESKTOP::Focus(std::string const& id) const
{
    Tool({"xdotool", "windowfocus", "--sync", id});
}

bool DESKTOP::Shot(std::string const& id, std::string const& png) const
{
    std::vector<std::string> argv = {"python3", testutil::SourceDir() + "/support/xshot.py", png};
    if (!id.empty())
        argv.push_back(id);
    Tool(argv);
    struct stat st;
    return stat(png.c_str(), &st) == 0 && st.st_size > 0;
}

std::unique_ptr<xtest::Child> DESKTOP::StartQor(std::string const& shell, std::vector<std::string> const& args,
                                                std::vector<std::pair<std::string, std::string>> const& env) const
{
    auto child = std::make_unique<xtest::Child>();
    std::vector<std::string> argv = {Stage + "/bin/qor"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::pair<std::string, std::string>> extra = {{"SHELL", shell}};
    extra.insert(extra.end(), env.begin(), env.end());
    if (!child->Start(argv, Env(extra), false))
        return nullptr;
    return child;
}

std::unique_ptr<xtest::Child> DESKTOP::StartXterm(std::vector<std::string> const& options,
                                                  std::vector<std::string> const& command) const
{
    auto child = std::make_unique<xtest::Child>();
    std::vector<std::string> argv = {xtest::FindTool("xterm")};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back("-e");
    argv.insert(argv.end(), command.begin(), command.end());
    if (argv[0].empty() || !child->Start(argv, Env(), false))
        return nullptr;
    return child;
}

std::string DESKTOP::Script(std::string const& name, std::vector<std::string> const& argv) const
{
    std::string text = "#!/bin/sh\nexec";
    for (std::string const& a : argv)
        text += " " + Quoted(a);
    std::string const path = Dir.file(name);
    testutil::WriteFile(path, text + "\n");
    chmod(path.c_str(), 0700);
    return path;
}

std::vector<std::string> DESKTOP::Recorder(std::string const& tag, std::vector<std::string> const& phases) const
{
    std::vector<std::string> argv = {xtest::FindTool("python3"), Dir.file("recorder.py"), Dir.path(), tag};
    for (std::string const& p : phases) {
        std::string hex;
        for (unsigned char c : p) {
            char h[3];
            snprintf(h, sizeof h, "%02x", c);
            hex += h;
        }
        argv.push_back(hex);
    }
    return argv;
}

bool DESKTOP::RecorderReady(std::string const& tag, int phase, int ms) const
{
    return WaitFor([&] { return xtest::Exists(Dir.file(tag + ".ready" + std::to_string(phase))); }, ms);
}

std::vector<std::string> DESKTOP::RecordKeys(std::string const& tag, int phase, std::vector<std::string> const& keys,
                                             int ms) const
{
    std::vector<std::string> typed;
    for (std::string const& k : keys) {
        typed.push_back(k);
        typed.push_back("comma");
    }
    typed.push_back("exclam");
    typed.push_back("exclam");
    Keys(typed);
    std::string const file = Dir.file(tag + ".keys" + std::to_string(phase));
    if (!WaitFor([&] { return xtest::Exists(file); }, ms))
        return {};
    std::string data = testutil::ReadFile(file);
    if (data.size() >= 2 && data.compare(data.size() - 2, 2, "!!") == 0)
        data.resize(data.size() - 2);
    std::vector<std::string> out;
    size_t at = 0;
    for (size_t comma; out.size() < keys.size() && (comma = data.find(',', at)) != std::string::npos; at = comma + 1)
        out.push_back(data.substr(at, comma - at));
    return out;
}

std::string Escaped(std::string const& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char h[5];
            snprintf(h, sizeof h, "\\x%02x", c);
            out += h;
        }
    }
    return out;
}

} // namespace x11desk
