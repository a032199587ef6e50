// The program's side of the X11 clipboard test, run on an X server: it
// writes a text to the clipboard and lets xclip read it (as UTF8_STRING and
// as the UTF-16 flavour), then lets xclip take the clipboard with another
// text and reads that. Every result is printed as one line:
//   OUT8 <hex>    what xclip read as UTF8_STRING
//   OUT16 <hex>   what xclip read as "text/plain;charset=utf-16"
//   IN <hex>      what the program read after xclip wrote (UTF-8)
// and "DONE" at the end. Arguments: a scratch folder, the text to write and
// the text xclip writes (both UTF-8).
#include "velmot/core/tarvo.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/clipboard.h"

#include "platform/events/application.h"
#include "platform/events/queue.h"
#include "platform/services/spawn.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

std::string Hex(std::string const& bytes)
{
    static char const digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out.empty() ? "-" : out;
}

std::string ReadAll(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Runs a program while this one keeps serving its window system events
// (the clipboard's owner has to answer xclip); false on a time-out.
bool RunServing(std::vector<std::string> const& argv, int timeoutMs = 10000)
{
    pid_t const pid = plat::SpawnProgram(argv);
    if (pid < 0)
        return false;
    auto const end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        plat::ProcessPendingEvents(1000);
        plat::ChildStatus const s = plat::WaitChild(pid, false);
        if (s.state != plat::ChildStatus::Running)
            return s.state == plat::ChildStatus::Exited && s.code == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    plat::ReapLater(pid);
    return false;
}

// xclip -o of one target into a file.
std::string XclipOut(std::string const& folder, char const* target)
{
    std::string const file = folder + "/out";
    std::remove(file.c_str());
    RunServing({"/bin/sh", "-c", "exec xclip -selection clipboard -o -t \"$1\" > \"$2\"", "sh", target, file});
    return ReadAll(file);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    std::string const folder = argv[1];
    std::string const ours = argv[2];
    std::string const theirs = argv[3];
    TARVOAPP::InitArgsLoggingAndLocale(1, argv, LOCALE_ENGLISH);
    if (!plat::StartApplication())
        return 3;
    CLIPBOARD* clipboard = CLIPBOARD::GetInstance();

    WSTRING text;
    text.FromUtf8(ours.data(), static_cast<int32_t>(ours.size()));
    if (!clipboard->WriteText(text.Buf(), -1, UNICODE_CPDEFAULT, false))
        return 4;
    std::printf("OUT8 %s\n", Hex(XclipOut(folder, "UTF8_STRING")).c_str());
    std::printf("OUT16 %s\n", Hex(XclipOut(folder, "text/plain;charset=utf-16")).c_str());

    // xclip takes the clipboard (it stays as the owner in the background
    // until the server ends).
    std::string const input = folder + "/in";
    {
        std::ofstream(input, std::ios::binary) << theirs;
    }
    RunServing({"/bin/sh", "-c", "xclip -selection clipboard -i \"$1\" < /dev/null > /dev/null 2>&1", "sh", input});
    std::string read;
    auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        plat::ProcessPendingEvents(1000);
        read = clipboard->ReadText().AsUtf8().Buf();
        if (read == theirs)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf("IN %s\n", Hex(read).c_str());
    std::printf("DONE\n");
    std::fflush(stdout);
    CLIPBOARD::ReleaseInstance();
    plat::StopApplication();
    return 0;
}
