// The child of the log tests that need a process of their own: a headless
// session on the loopback device with the session log and the text and
// binary traces on, in the capture folder argv[2].
//
//   logchild stream FOLDER   feeds numbered lines steadily and prints
//                            "N MS" (line N shown at monotonic time MS)
//                            until it is killed (at most 30 s)
//   logchild fsize FOLDER    runs under a 64 KB file size limit with SIGXFSZ
//                            ignored, feeds 300 KB and exits 0 when the
//                            session log closed on the error and the screen
//                            still shows the last line
#include "program/session/sessionrunner.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/resource.h>

namespace {

long long NowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    std::string const mode = argv[1];
    if (mode == "fsize") {
        signal(SIGXFSZ, SIG_IGN);
        rlimit const limit{64 * 1024, 64 * 1024};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 3;
    }
    if (!HEADLESSSESSION::StartPlatform())
        return 4;
    HEADLESSSESSION run({.Device = 5, .Emulation = 0});
    if (!run.IsOpen())
        return 5;
    SESSION& s = run.Session();
    snprintf(s.Settings.data.CapturePath, sizeof s.Settings.data.CapturePath, "%s", argv[2]);
    // The session takes the folder first (a new folder starts the log anew).
    s.TrackChanges(false);
    s.Prof.data.CaptAppend = 1;
    s.ProcessEvent(8045, 0, "stream.log");
    s.Prof.data.AscTrace = 1;
    s.Prof.data.BinTrace = 1;
    s.TrackChanges(false);
    if (!s.Logging.IsFileOpen() || !s.Tracer.IsTracing())
        return 6;

    if (mode == "stream") {
        long long const start = NowMs();
        for (int n = 0; NowMs() - start < 30000; ++n) {
            run.Feed("line " + std::to_string(n) + "\r\n");
            if (!run.WaitIdle(5000))
                return 7;
            printf("%d %lld\n", n, NowMs());
            fflush(stdout);
        }
        return 0;
    }
    std::string const block = std::string(1000, 'z') + "\r\n";
    for (int i = 0; i < 300; ++i) {
        run.Feed(block);
        if (i % 20 == 0) {
            run.WaitIdle(5000);
            s.FlushLogFiles();
        }
    }
    run.Feed("the last line\r\n");
    if (!run.WaitIdle(10000))
        return 8;
    s.FlushLogFiles();
    bool shown = false;
    for (int y = 0; y < 24; ++y)
        shown = shown || run.Row(y) == "the last line";
    if (!shown)
        return 9;
    if (s.Logging.IsFileOpen())
        return 10;
    if (!s.Logging.InError())
        return 11;
    return 0;
}
