#include "tests/outside/corvane/xtermref.h"

#include "tests/support/testutil.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace vttest {

namespace {

// Counts the line ends of a file (0 when it is missing).
size_t LineEnds(std::string const& path)
{
    std::string const text = testutil::ReadFile(path);
    size_t n = 0;
    for (char c : text)
        n += c == '\n';
    return n;
}

} // namespace

XTERM::XTERM()
{
    char folder[] = "/tmp/corvane-xterm-XXXXXX";
    if (!mkdtemp(folder))
        return;
    Folder = folder;
    Xterm = xtest::FindTool("xterm");
    std::string const xvfb = xtest::FindTool("Xvfb"), xauth = xtest::FindTool("xauth");
#ifdef QOR_XTERMPEER
    Peer = QOR_XTERMPEER;
#endif
    if (Xterm.empty() || xvfb.empty() || xauth.empty() || Peer.empty())
        return;
    Server = std::make_unique<xtest::XServer>();
    Started = Server->Start(xvfb, xauth, Folder);
}

XTERM::~XTERM()
{
    Server.reset();
    if (!Folder.empty())
        testutil::RunProgram({"rm", "-rf", Folder});
}

std::vector<XTERM::RESULT> XTERM::RunAll(std::vector<INPUT> const& inputs)
{
    std::vector<RESULT> out(inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
        out[i].Screen.Width = inputs[i].Width;
        out[i].Screen.Height = inputs[i].Height;
        out[i].Screen.Cells.assign(size_t(inputs[i].Width) * size_t(inputs[i].Height), CELL{});
        out[i].Answers = "(no xterm)";
    }
    if (!Started)
        return out;
    // xterm in UTF-8 as a VT420 (its default), printing with the
    // renditions into a file per case.
    std::vector<std::string> const env =
        xtest::EnvWith({{"DISPLAY", Server->Display()}, {"XAUTHORITY", Server->AuthFile()}, {"LANG", "C.UTF-8"},
                        {"LC_ALL", "C.UTF-8"}, {"TERM", "xterm-256color"}});
    constexpr size_t kAtOnce = 6;
    for (size_t first = 0; first < inputs.size(); first += kAtOnce) {
        size_t const end = std::min(inputs.size(), first + kAtOnce);
        std::vector<std::unique_ptr<xtest::Child>> running;
        for (size_t i = first; i < end; ++i) {
            std::string const base = Folder + "/case" + std::to_string(i);
            testutil::WriteFile(base + ".bin", inputs[i].Bytes);
            auto child = std::make_unique<xtest::Child>();
            child->Start({Xterm, "-u8", "-geometry",
                          std::to_string(inputs[i].Width) + "x" + std::to_string(inputs[i].Height), "-xrm",
                          "XTerm*decTerminalID: vt420", "-xrm", "XTerm*printerCommand: cat > " + base + ".print",
                          "-xrm", "XTerm*printAttributes: 2", "-xrm", "XTerm*printerAutoClose: true", "-e", Peer,
                          base + ".bin", base + ".answers"},
                         env, false);
            running.push_back(std::move(child));
        }
        for (size_t i = first; i < end; ++i) {
            xtest::Child& child = *running[i - first];
            if (!child.WaitExit(30000))
                child.Stop();
            std::string const base = Folder + "/case" + std::to_string(i);
            // The printer command may still be writing the last rows.
            auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (LineEnds(base + ".print") < size_t(inputs[i].Height) && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            out[i].Answers = testutil::ReadFile(base + ".answers");
            out[i].Print = testutil::ReadFile(base + ".print");
            out[i].Screen = ParsePrint(out[i].Print, inputs[i].Width, inputs[i].Height);
        }
    }
    return out;
}

SNAPSHOT XTERM::ParsePrint(std::string const& print, int width, int height)
{
    SNAPSHOT s;
    s.Width = width;
    s.Height = height;
    s.Cells.assign(size_t(width) * size_t(height), CELL{});
    CELL pen;
    int x = 0, y = 0;
    size_t i = 0;
    while (i < print.size() && y < height) {
        unsigned char const c = static_cast<unsigned char>(print[i]);
        if (c == '\n') {
            ++y;
            x = 0;
            ++i;
            continue;
        }
        if (c == '\r' || c == '\f') {
            ++i;
            continue;
        }
        if (c == 0x1B) {
            // "ESC # n" gives the row's line attribute; "CSI ... m" the
            // rendition of the cells after it.
            size_t j = i + 1;
            if (j < print.size() && print[j] == '#') {
                i = j + 2;
                continue;
            }
            if (j < print.size() && print[j] == '[') {
                i = ApplyCsi(print, j + 1, pen);
                continue;
            }
            i = j + 1;
            continue;
        }
        uint32_t const u = DecodeUtf8(print, i);
        if (x < width) {
            CELL cell = pen;
            cell.Ch = u == 0xFFFF ? kRightHalf : u;
            s.At(x, y) = cell;
        }
        ++x;
        // xterm writes the rendition before every cell that has one, but
        // not always a reset before a plain cell after it: a rendition
        // holds for one character.
        pen = CELL{};
    }
    return s;
}

} // namespace vttest
