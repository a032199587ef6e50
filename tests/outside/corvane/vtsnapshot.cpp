#include "tests/outside/corvane/vtsnapshot.h"

#include "outside/corvane/vtpalette.h"
#include "plugins/sdk/vioapi.h"
#include "program/session/sessionrunner.h"
#include "tests/support/testutil.h"

#include "velmot/core/unicode.h"

#include <vterm.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vttest {

namespace {

void AppendUtf8(std::string& out, uint32_t c)
{
    char buf[4];
    out.append(buf, size_t(UNICODE::Utf8Encode(wchar_t(c), buf)));
}

SNAPSHOT Blank(int width, int height)
{
    SNAPSHOT s;
    s.Width = width;
    s.Height = height;
    s.Cells.assign(size_t(width) * size_t(height), CELL{});
    return s;
}

// Runs argv with stdout captured; kills it after timeoutMs. The exit
// status, or -1.
int RunProcess(std::vector<std::string> const& argv, std::string* out, int timeoutMs)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> args;
    for (std::string const& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    int const rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return -1;
    }
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string data;
    bool open = true;
    while (open) {
        auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, int(std::min<long long>(left.count(), 100))) > 0) {
            char buf[4096];
            ssize_t n = read(fds[0], buf, sizeof buf);
            if (n > 0)
                data.append(buf, size_t(n));
            else if (n == 0 || errno != EINTR)
                open = false;
        }
    }
    close(fds[0]);
    int status = 0;
    for (;;) {
        pid_t const r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            break;
        if (std::chrono::steady_clock::now() > deadline + std::chrono::seconds(2)) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (out)
        *out = data;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// DEC Special Graphics, 0x60 to 0x7E, as xterm shows them.
constexpr uint32_t kDecGraphics[31] = {
    0x25C6, 0x2592, 0x2409, 0x240C, 0x240D, 0x240A, 0x00B0, 0x00B1, 0x2424, 0x240B, 0x2518,
    0x2510, 0x250C, 0x2514, 0x253C, 0x23BA, 0x23BB, 0x2500, 0x23BC, 0x23BD, 0x251C, 0x2524,
    0x2534, 0x252C, 0x2502, 0x2264, 0x2265, 0x03C0, 0x2260, 0x00A3, 0x00B7,
};

int Width(uint32_t c)
{
    return c >= 0x1100 && UNICODE::GetInstance()->IsDoubleWidthCJK_Full(wchar_t(c)) ? 2 : 1;
}

} // namespace

std::string SNAPSHOT::Row(int y) const
{
    std::string out;
    for (int x = 0; x < Width; ++x) {
        uint32_t const c = At(x, y).Ch;
        if (c != kRightHalf)
            AppendUtf8(out, c);
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::string SNAPSHOT::Text() const
{
    std::string out;
    for (int y = 0; y < Height; ++y)
        out += Row(y) + "\n";
    return out;
}

std::string Compare(SNAPSHOT const& ours, SNAPSHOT const& theirs, unsigned aspects, REPORTS reports, int limit)
{
    std::string out;
    int reported = 0;
    auto note = [&](std::string const& line) {
        if (reported++ < limit)
            out += line + "\n";
    };
    if (ours.Width != theirs.Width || ours.Height != theirs.Height)
        return "sizes differ\n";
    if ((aspects & CURSOR) && (ours.CursorX != theirs.CursorX || ours.CursorY != theirs.CursorY))
        note("cursor ours " + std::to_string(ours.CursorX) + "," + std::to_string(ours.CursorY) + " theirs " +
             std::to_string(theirs.CursorX) + "," + std::to_string(theirs.CursorY));
    for (int y = 0; y < ours.Height; ++y) {
        if ((aspects & TEXT) && ours.Row(y) != theirs.Row(y))
            note("row " + std::to_string(y) + " ours \"" + ours.Row(y) + "\" theirs \"" + theirs.Row(y) + "\"");
        int styled = ours.Width;
        if (!reports.TrailingBlanks) {
            while (styled > 0 && theirs.At(styled - 1, y).Ch == ' ')
                --styled;
        }
        for (int x = 0; x < ours.Width; ++x) {
            CELL const& a = ours.At(x, y);
            CELL const& b = theirs.At(x, y);
            unsigned const look = x < styled ? aspects : aspects & TEXT;
            char where[48];
            snprintf(where, sizeof where, "cell %d,%d ", x, y);
            if ((look & TEXT) && a.Ch != b.Ch && (a.Ch == kRightHalf || b.Ch == kRightHalf))
                note(std::string(where) + "double-width halves differ");
            if ((look & COLOURS) && (a.Fore != b.Fore || a.Back != b.Back))
                note(std::string(where) + "colours ours " + std::to_string(a.Fore) + "/" + std::to_string(a.Back) +
                     " theirs " + std::to_string(b.Fore) + "/" + std::to_string(b.Back));
            if ((look & ATTRIBUTES) && (a.Attr & reports.Attributes) != (b.Attr & reports.Attributes))
                note(std::string(where) + "attributes ours " + std::to_string(a.Attr) + " theirs " +
                     std::to_string(b.Attr));
        }
    }
    if (reported > limit)
        out += "... " + std::to_string(reported - limit) + " more\n";
    return out;
}

SNAPSHOT FromSession(HEADLESSSESSION& run)
{
    VIO& screen = run.Session().Screen;
    int w = 0, h = 0;
    screen.GetWinSize(&w, &h);
    SNAPSHOT s = Blank(w, h);
    screen.GetCursorPos(&s.CursorX, &s.CursorY);
    std::vector<VIOCELL> row(static_cast<size_t>(w));
    auto colour = [](int n) {
        if (n < 16)
            return n;
        if (n >= 256 && n < 512)
            return n - 256;
        return -1;
    };
    for (int y = 0; y < h; ++y) {
        int count = w;
        screen.GetCells(row.data(), &count, 0, y);
        for (int x = 0; x < count; ++x) {
            VIOCELL const& c = row[size_t(x)];
            CELL& cell = s.At(x, y);
            cell.Ch = c.c == 0 ? ' ' : c.c == VIOCHAR_RIGHTHALF ? kRightHalf : screen.CellChar(c);
            cell.Fore = colour(int(c.fore));
            cell.Back = colour(int(c.back));
            uint16_t a = 0;
            if (c.attrib & VIOATTR_BRIGHT)
                a |= ATTR_BOLD;
            if (c.attrib & VIOATTR_HALFTONE)
                a |= ATTR_DIM;
            if (c.attrib & VIOATTR_UNDERLINE)
                a |= ATTR_UNDERLINE;
            if (c.attrib & VIOATTR_BLINK)
                a |= ATTR_BLINK;
            if (c.attrib & VIOATTR_INVERSE)
                a |= ATTR_INVERSE;
            if (c.attrib & VIOATTR_INVISIBLE)
                a |= ATTR_INVISIBLE;
            cell.Attr = a;
        }
    }
    return s;
}

SNAPSHOT FromLibvterm(std::string const& bytes, int width, int height)
{
    VTerm* vt = vterm_new(height, width);
    vterm_set_utf8(vt, 1);
    VTermScreen* screen = vterm_obtain_screen(vt);
    vterm_screen_enable_altscreen(screen, 1);
    vterm_screen_reset(screen, 1);
    vterm_input_write(vt, bytes.data(), bytes.size());
    SNAPSHOT s = Blank(width, height);
    VTermPos cursor;
    vterm_state_get_cursorpos(vterm_obtain_state(vt), &cursor);
    s.CursorX = std::min(cursor.col, width - 1);
    s.CursorY = cursor.row;
    auto colour = [](VTermColor const& c, int def) {
        if (VTERM_COLOR_IS_DEFAULT_FG(&c) || VTERM_COLOR_IS_DEFAULT_BG(&c))
            return def;
        if (VTERM_COLOR_IS_INDEXED(&c))
            return int(c.indexed.idx);
        return NearestIndex(c.rgb.red, c.rgb.green, c.rgb.blue);
    };
    for (int y = 0; y < height; ++y) {
        int previousWidth = 1;
        for (int x = 0; x < width; ++x) {
            VTermScreenCell c{};
            vterm_screen_get_cell(screen, VTermPos{y, x}, &c);
            CELL& cell = s.At(x, y);
            bool const rightHalf = previousWidth == 2;
            previousWidth = rightHalf ? 1 : c.width;
            if (rightHalf)
                cell.Ch = kRightHalf;
            else
                cell.Ch = c.chars[0] == 0 || c.chars[0] == uint32_t(-1) ? ' ' : c.chars[0];
            cell.Fore = colour(c.fg, 7);
            cell.Back = colour(c.bg, 0);
            uint16_t a = 0;
            if (c.attrs.bold)
                a |= ATTR_BOLD;
            if (c.attrs.underline)
                a |= ATTR_UNDERLINE;
            if (c.attrs.blink)
                a |= ATTR_BLINK;
            if (c.attrs.reverse)
                a |= ATTR_INVERSE;
            cell.Attr = a;
        }
    }
    vterm_free(vt);
    return s;
}

int NearestIndex(int r, int g, int b)
{
    return vt::NearestPaletteIndex(r, g, b);
}

size_t ApplyCsi(std::string const& text, size_t at, CELL& pen)
{
    std::vector<int> params;
    int value = 0;
    bool any = false;
    size_t j = at;
    while (j < text.size() && ((text[j] >= '0' && text[j] <= '9') || text[j] == ';' || text[j] == ':')) {
        // A direct colour's empty colour space ("38:2::r:g:b") is left out.
        if (text[j] == ':' && j + 1 < text.size() && text[j + 1] == ':') {
            ++j;
            continue;
        }
        if (text[j] == ';' || text[j] == ':') {
            params.push_back(value);
            value = 0;
            any = false;
        } else {
            value = value * 10 + (text[j] - '0');
            any = true;
        }
        ++j;
    }
    if (any || !params.empty())
        params.push_back(value);
    if (j < text.size() && text[j] == 'm')
        ApplySgr(params, pen);
    return j + 1;
}

uint32_t DecodeUtf8(std::string const& text, size_t& at)
{
    unsigned char const c = static_cast<unsigned char>(text[at++]);
    int const more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    uint32_t u = more ? c & (0x3F >> more) : c;
    for (int k = 0; k < more && at < text.size(); ++k, ++at)
        u = u << 6 | (static_cast<unsigned char>(text[at]) & 0x3F);
    return u;
}

void ApplySgr(std::vector<int> const& p, CELL& pen)
{
    if (p.empty()) {
        pen = CELL{};
        return;
    }
    for (size_t i = 0; i < p.size(); ++i) {
        int const v = p[i];
        switch (v) {
        case 0:
            pen = CELL{};
            break;
        case 1:
            pen.Attr |= ATTR_BOLD;
            break;
        case 2:
            pen.Attr |= ATTR_DIM;
            break;
        case 4:
            pen.Attr |= ATTR_UNDERLINE;
            break;
        case 5:
            pen.Attr |= ATTR_BLINK;
            break;
        case 7:
            pen.Attr |= ATTR_INVERSE;
            break;
        case 8:
            pen.Attr |= ATTR_INVISIBLE;
            break;
        case 38:
        case 48: {
            int colour = -1;
            if (i + 2 < p.size() && p[i + 1] == 5) {
                colour = p[i + 2];
                i += 2;
            } else if (i + 4 < p.size() && p[i + 1] == 2) {
                colour = NearestIndex(p[i + 2], p[i + 3], p[i + 4]);
                i += 4;
            }
            if (colour >= 0)
                (v == 38 ? pen.Fore : pen.Back) = colour;
            break;
        }
        case 39:
            pen.Fore = 7;
            break;
        case 49:
            pen.Back = 0;
            break;
        default:
            if (v >= 30 && v <= 37)
                pen.Fore = v - 30;
            else if (v >= 40 && v <= 47)
                pen.Back = v - 40;
            else if (v >= 90 && v <= 97)
                pen.Fore = v - 90 + 8;
            else if (v >= 100 && v <= 107)
                pen.Back = v - 100 + 8;
            break;
        }
    }
}

// ---------------------------------------------------------------------------
// tmux

TMUX::TMUX()
{
    static int counter = 0;
    SocketName = "corvane-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    char folder[] = "/tmp/corvane-tmux-XXXXXX";
    if (mkdtemp(folder))
        Folder = folder;
    std::string out;
    // A session that only keeps the server up; panes of the cases come and
    // go beside it.
    Started = !Folder.empty() &&
              RunProcess({"tmux", "-L", SocketName, "-f", "/dev/null", "new-session", "-d", "-s", "keep", "-x", "80", "-y",
                   "24", "sleep", "3600", ";", "set", "-g", "status", "off"},
                  &out, 10000) == 0;
}

TMUX::~TMUX()
{
    std::string out;
    RunProcess({"tmux", "-L", SocketName, "kill-server"}, &out, 5000);
    if (!Folder.empty())
        testutil::RunProgram({"rm", "-rf", Folder});
}

std::string TMUX::Command(std::vector<std::string> const& args, int timeoutMs)
{
    std::vector<std::string> argv = {"tmux", "-L", SocketName};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    if (RunProcess(argv, &out, timeoutMs) != 0)
        return std::string();
    return out;
}

SNAPSHOT TMUX::Capture(std::string const& target, int width, int height)
{
    return Parse(Command({"capture-pane", "-p", "-e", "-N", "-t", target, ";", "display-message", "-p", "-t", target,
                          "#{cursor_x} #{cursor_y}"}),
                 width, height);
}

SNAPSHOT TMUX::Parse(std::string capture, int width, int height)
{
    SNAPSHOT s = Blank(width, height);
    // The capture, then a line with the cursor.
    while (!capture.empty() && capture.back() == '\n')
        capture.pop_back();
    size_t const last = capture.rfind('\n');
    std::string const cursor = last == std::string::npos ? capture : capture.substr(last + 1);
    std::string const text = last == std::string::npos ? std::string() : capture.substr(0, last + 1);
    sscanf(cursor.c_str(), "%d %d", &s.CursorX, &s.CursorY);
    s.CursorX = std::min(s.CursorX, width - 1);
    CELL pen;
    int x = 0, y = 0;
    size_t i = 0;
    bool graphics = false; // a capture shows DEC graphics between SO and SI
    while (i < text.size() && y < height) {
        unsigned char const c = static_cast<unsigned char>(text[i]);
        if (c == 0x0E || c == 0x0F) {
            graphics = c == 0x0E;
            ++i;
            continue;
        }
        if (c == '\n') {
            ++y;
            x = 0;
            ++i;
            continue;
        }
        if (c == 0x1B) {
            // An SGR (or another sequence, skipped).
            size_t j = i + 1;
            if (j < text.size() && text[j] == '[') {
                i = ApplyCsi(text, j + 1, pen);
            } else if (j < text.size() && (text[j] == '(' || text[j] == ')')) {
                i = j + 2;
            } else {
                i = j + 1;
            }
            continue;
        }
        uint32_t u = DecodeUtf8(text, i);
        if (graphics && u >= 0x60 && u <= 0x7E)
            u = kDecGraphics[u - 0x60];
        if (x < width) {
            CELL cell = pen;
            cell.Ch = u;
            s.At(x, y) = cell;
            if (Width(u) == 2 && x + 1 < width) {
                cell.Ch = kRightHalf;
                s.At(x + 1, y) = cell;
                ++x;
            }
        }
        ++x;
    }
    return s;
}

std::string TMUX::Start(INPUT const& input)
{
    std::string const name = "case" + std::to_string(Cases++);
    std::string const file = Folder + "/" + name + ".bin";
    testutil::WriteFile(file, input.Bytes);
    // The cursor reports the bytes themselves ask for come back first; the
    // last one answers the report asked for after them.
    int reports = 1;
    for (size_t at = input.Bytes.find("\x1b[6n"); at != std::string::npos; at = input.Bytes.find("\x1b[6n", at + 1))
        ++reports;
    std::string const script =
        "stty raw -echo; cat \"$1\"; printf '\\033[6n'; n=0; "
        "while [ $n -lt \"$2\" ]; do IFS= read -r -d R x || break; n=$((n+1)); done; "
        "tmux -L \"$3\" wait-for -S \"$4\"; exec sleep 3600";
    Command({"new-session", "-d", "-s", name, "-x", std::to_string(input.Width), "-y", std::to_string(input.Height),
             "bash", "-c", script, "bash", file, std::to_string(reports), SocketName, name});
    return name;
}

SNAPSHOT TMUX::Finish(std::string const& name, int width, int height)
{
    Command({"wait-for", name}, 20000);
    return Parse(Command({"capture-pane", "-p", "-e", "-N", "-t", name, ";", "display-message", "-p", "-t", name,
                          "#{cursor_x} #{cursor_y}", ";", "kill-session", "-t", name}),
                 width, height);
}

SNAPSHOT TMUX::Run(std::string const& bytes, int width, int height)
{
    return RunAll({INPUT{bytes, width, height}})[0];
}

std::vector<SNAPSHOT> TMUX::RunAll(std::vector<INPUT> const& inputs)
{
    std::vector<SNAPSHOT> out(inputs.size());
    if (!Started) {
        for (size_t i = 0; i < inputs.size(); ++i)
            out[i] = Blank(inputs[i].Width, inputs[i].Height);
        return out;
    }
    constexpr size_t kAtOnce = 16;
    for (size_t first = 0; first < inputs.size(); first += kAtOnce) {
        size_t const end = std::min(inputs.size(), first + kAtOnce);
        std::vector<std::string> names;
        for (size_t i = first; i < end; ++i)
            names.push_back(Start(inputs[i]));
        for (size_t i = first; i < end; ++i)
            out[i] = Finish(names[i - first], inputs[i].Width, inputs[i].Height);
    }
    return out;
}

// ---------------------------------------------------------------------------

std::string TestName(std::string name)
{
    for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
}

std::string Unescape(std::string const& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        char const n = text[++i];
        switch (n) {
        case 'e':
            out += '\x1b';
            break;
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'b':
            out += '\b';
            break;
        case 'a':
            out += '\a';
            break;
        case 'x': {
            int v = 0, k = 0;
            while (k < 2 && i + 1 < text.size() && isxdigit(static_cast<unsigned char>(text[i + 1]))) {
                char const h = text[++i];
                v = v * 16 + (isdigit(static_cast<unsigned char>(h)) ? h - '0' : (tolower(h) - 'a' + 10));
                ++k;
            }
            out += char(v);
            break;
        }
        default:
            out += n;
            break;
        }
    }
    return out;
}

std::string Escape(std::string const& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c == 0x1B) {
            out += "\\e";
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out;
}

} // namespace vttest
