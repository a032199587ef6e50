// HEADLESSSESSION: a whole session without a main window and, unless asked
// for, without painting, for tests and benchmarks of the session's road:
// device -> COMM -> ProcessSer -> emulation -> screen, and keys back.
//
// It holds a hidden window (the session's parent), the program settings
// at their defaults, and a SESSION on the loopback device (5) or any other
// device with its parameter string, with the emulation asked for. Bytes
// fed to it arrive through the loopback device's far end exactly as a
// host's would; WaitIdle runs the main loop until every byte fed has gone
// through the road onto the screen.
//
//   HEADLESSSESSION::StartPlatform();          // once, on the main thread
//   HEADLESSSESSION run({.Emulation = 18});    // loopback, VT emulation
//   run.Feed("\x1b[2J\x1b[Hhello", 14);
//   run.WaitIdle();
//   run.Row(0);                                // "hello"
//
// Main thread only. The stage's plug-in folder must hold the bundles of the
// device and the emulation (the build's stage does).
#pragma once

#include "program/session/session.h"

#include <functional>
#include <memory>
#include <string>

// A screen row as UTF-8, trailing blanks cut.
std::string ScreenRowText(VIO& screen, int y);
// What the session wrote to the loopback device (its device command SENT,
// at most the last 64 KB), once the write queue has handed everything to
// the device.
std::string LoopbackSent(COMM& comm);

class HEADLESSSESSION {
public:
    struct OPTIONS {
        int Device = 5;                      // 5 loopback, 11 local shell
        char const* DeviceParm = nullptr;    // "[11]/bin/sh -c ..."; null: the device's standard
        int Emulation = 0;                   // 0 TTY
        int Columns = 80;
        int Rows = 24;
        int JumpScroll = -1;                 // -1: the profile's default
        int CodePage = -1;                   // -1: the profile's default; 1000 UTF-8
        bool Paint = false;                  // true: a font, invalidation, painting
        SESSIONHOST* Host = nullptr;         // null: the neutral main window
    };

    // Starts the window system (offscreen unless QT_QPA_PLATFORM says
    // otherwise) on the calling thread, which becomes the main thread.
    // Once per process; later calls only answer whether it runs.
    static bool StartPlatform();

    explicit HEADLESSSESSION(OPTIONS const& options);
    ~HEADLESSSESSION();
    HEADLESSSESSION(HEADLESSSESSION const&) = delete;
    HEADLESSSESSION& operator=(HEADLESSSESSION const&) = delete;

    // Whether the device and the emulation are there.
    bool IsOpen() const;
    SESSION& Session() { return *Sess; }

    // Bytes for the session, through the loopback device (only there).
    // Runs the main loop meanwhile when the device is full.
    bool Feed(void const* data, size_t size);
    bool Feed(std::string const& data) { return Feed(data.data(), data.size()); }
    bool FeedFile(char const* path, size_t piece = 1 << 16);
    // Runs the main loop until every byte fed has been handed to the
    // emulation and the screen's update bracket is closed; false when that
    // took longer than ms.
    bool WaitIdle(int ms = 10000);
    // Runs the main loop until cond holds or ms passed.
    bool RunUntil(std::function<bool()> const& cond, int ms);
    // A screen row as UTF-8, trailing blanks cut.
    std::string Row(int y);
    // What the session wrote to the loopback device.
    std::string Sent();
    // The bytes fed so far.
    uint64_t Fed() const { return FedBytes; }
    // The loopback device's far end (non-blocking), for a "host" of its
    // own: a thread that writes there plays the remote side. Bytes written
    // there are not counted by Fed: wait with RunUntil on the session's
    // counters instead.
    int PeerDescriptor() const { return Peer; }

private:
    struct PARTS;
    std::unique_ptr<PARTS> Parts;
    SESSION* Sess = nullptr;
    int Peer = -1;
    uint64_t FedBytes = 0;
};
