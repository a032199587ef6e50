#include "program/session/sessionrunner.h"

#include "program/settings/adminopts.h"
#include "program/settings/settingshost.h"

#include "platform/events/application.h"
#include "platform/events/queue.h"
#include "platform/events/timers.h"
#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "velmot/core/unicode.h"
#include "velmot/gui/windows.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace {

// The program settings' owner: the built-in administrator record.
class RUNNERSETTINGSHOST final : public SETTINGSHOST {
public:
    RUNNERSETTINGSHOST() { PROGRAMSETTINGS::AdminDefaults(admin); }
    ADMINOPTS& Admin() override { return admin; }

private:
    ADMINOPTS admin{};
};

using Clock = std::chrono::steady_clock;

// One turn of the main loop: queued work first, then the window system's.
void Turn()
{
    if (plat::ProcessPendingEvents(4096) == 0)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

} // namespace

struct HEADLESSSESSION::PARTS {
    RUNNERSETTINGSHOST SettingsHost;
    PROGRAMSETTINGS Settings{SettingsHost};
    SESSIONHOST NeutralHost;
    std::unique_ptr<WINDOW> Parent;
};

bool HEADLESSSESSION::StartPlatform()
{
    static bool started = [] {
        static char name[] = "qor-headless";
        static char* argv[] = {name, nullptr};
        setenv("QT_QPA_PLATFORM", getenv("QT_QPA_PLATFORM") ? getenv("QT_QPA_PLATFORM") : "offscreen", 1);
        TARVOAPP::InitArgsLoggingAndLocale(1, argv, LOCALE_ENGLISH);
        if (!plat::StartApplication())
            return false;
        plat::SetTestMode(true, 5000);
        return true;
    }();
    return started;
}

HEADLESSSESSION::HEADLESSSESSION(OPTIONS const& options) : Parts(std::make_unique<PARTS>())
{
    Parts->Settings.Init();
    int const width = std::max(options.Columns, 30) * 8;
    int const height = std::max(options.Rows, 5) * 16;
    Parts->Parent = std::make_unique<WINDOW>(WINDOWSTYLE_DOCUMENT, "headless session", 0, 0, width, height);
    SESSIONHOST& host = options.Host ? *options.Host : Parts->NeutralHost;
    Sess = new SESSION(host, Parts->Settings, Parts->Parent->GetClientParent(), RECT{0, 0, width, height},
                       options.Paint ? 0 : SESSION::OPTION_HEADLESS);
    SESSIONPROFILEDATA& p = Sess->Prof.data;
    p.ActiveDevice = options.Device;
    p.ActiveEmulation = options.Emulation;
    p.WinWidth = options.Columns;
    p.WinHeight = options.Rows;
    p.Dynamic = 0;
    if (options.JumpScroll >= 0)
        p.JumpScroll = options.JumpScroll;
    if (options.CodePage >= 0)
        p.CodePage = options.CodePage;
    if (options.DeviceParm && options.Device >= 0 && options.Device < 24)
        snprintf(p.DeviceOpts[options.Device], sizeof p.DeviceOpts[0], "%s", options.DeviceParm);
    Sess->SetBackgroundTab(false);
    Sess->TermInit();
    Sess->TermInit2(nullptr, nullptr);
    Sess->RemakeAll();
    if (options.Device == 5 && Sess->CommLayer.Device()) {
        char answer[64] = {};
        Sess->CommLayer.HandleDeviceCommand("LOOPBACK FD", answer, sizeof answer, nullptr);
        Peer = atoi(answer);
        if (Peer <= 0)
            Peer = -1;
    }
}

HEADLESSSESSION::~HEADLESSSESSION()
{
    if (Sess) {
        SESSION::Retire(Sess);
        Sess = nullptr;
        // The deletion runs on a later turn of the loop.
        for (int i = 0; i < 20; ++i)
            plat::ProcessPendingEvents(4096);
    }
    Parts->Parent.reset();
}

bool HEADLESSSESSION::IsOpen() const
{
    return Sess && Sess->CommLayer.Device() && Sess->EmuLayer.UpAndRunning();
}

bool HEADLESSSESSION::Feed(void const* data, size_t size)
{
    if (Peer < 0)
        return false;
    auto const* p = static_cast<char const*>(data);
    size_t done = 0;
    auto const limit = Clock::now() + std::chrono::seconds(30);
    while (done < size) {
        ssize_t n = write(Peer, p + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            FedBytes += static_cast<uint64_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        // The device is full: the road must take some first.
        if (Clock::now() > limit)
            return false;
        Turn();
    }
    return true;
}

bool HEADLESSSESSION::FeedFile(char const* path, size_t piece)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string buffer(piece ? piece : 1, '\0');
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        std::streamsize got = in.gcount();
        if (got > 0 && !Feed(buffer.data(), static_cast<size_t>(got)))
            return false;
    }
    return true;
}

bool HEADLESSSESSION::RunUntil(std::function<bool()> const& cond, int ms)
{
    if (cond())
        return true;
    auto const end = Clock::now() + std::chrono::milliseconds(ms);
    if (!plat::IsMainLoopRunning()) {
        // The main loop itself, as the program runs it: it sleeps until an
        // event comes and wakes at once for a posted message. A loop timer
        // looks at the condition every millisecond.
        bool met = false;
        plat::LoopTimerRef timer = plat::InstallLoopTimer(1, 1, [&](plat::LoopTimerRef) {
            if (cond()) {
                met = true;
                plat::QuitMainLoop(0);
            } else if (Clock::now() > end) {
                plat::QuitMainLoop(1);
            }
        });
        plat::RunMainLoop();
        plat::RemoveLoopTimer(timer);
        return met || cond();
    }
    // Inside a running loop (a handler asked): turn it by hand.
    while (!cond()) {
        if (Clock::now() > end)
            return false;
        Turn();
    }
    return true;
}

bool HEADLESSSESSION::WaitIdle(int ms)
{
    COMM& comm = Sess->CommLayer;
    return RunUntil(
        [&] {
            // Every byte fed was taken from the device and the pipe, and the
            // last pass has ended with the bracket closed.
            return comm.Counter(0) >= FedBytes && comm.PipeFill() == 0 && comm.QueryNumAvail() == 0 &&
                   !Sess->HasVioBracket();
        },
        ms);
}

std::string ScreenRowText(VIO& screen, int y)
{
    int width = 0, height = 0;
    screen.GetWinSize(&width, &height);
    std::u32string text;
    screen.GetText(text, width, 0, y, nullptr);
    std::string out;
    char buf[4];
    for (char32_t c : text)
        out.append(buf, static_cast<size_t>(UNICODE::Utf8Encode(wchar_t(c), buf)));
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::string LoopbackSent(COMM& comm)
{
    comm.WaitWritten(5000);
    std::string answer(1 << 16, '\0');
    comm.HandleDeviceCommand("SENT", answer.data(), static_cast<int>(answer.size()), nullptr);
    answer.resize(strlen(answer.c_str()));
    return answer;
}

std::string HEADLESSSESSION::Row(int y)
{
    return ScreenRowText(Sess->Screen, y);
}

std::string HEADLESSSESSION::Sent()
{
    return LoopbackSent(Sess->CommLayer);
}
