// Fakes of what the screen and the scroll-back ask of their session: they
// record the calls, so tests can check invalidations, timers and
// notifications without a window.
#pragma once

#include "program/screen/scrollback.h"
#include "program/screen/vio.h"

#include <map>
#include <string>
#include <vector>

namespace viotest {

class FAKEHOST : public VIOHOST {
public:
    void Invalidate(RECT const* rect) override
    {
        Invalidations.push_back(rect ? *rect : RECT{0, 0, -1, -1});
    }
    void RedrawNow() override { ++Redraws; }
    SIZE ClientSize() override { return Client; }
    bool HasFocus() override { return Focus; }
    void StartTimer(int id, int ms) override { Timers[id] = ms; }
    void StopTimer(int id) override { Timers.erase(id); }
    void NewCursorPos(int x, int y) override { CursorReports.push_back({x, y}); }
    void SyncCursorPos() override { ++Syncs; }
    void UpdateScrollbarNow() override { ++ScrollbarUpdates; }
    void PostShadow(int) override { ++Shadows; }
    void MinimizeWindow(bool minimize) override { Calls.push_back(minimize ? "minimize" : "restore"); }
    void MoveWindow(int x, int y) override { Calls.push_back("move " + std::to_string(x) + "," + std::to_string(y)); }

    std::vector<RECT> Invalidations;
    std::vector<std::string> Calls;
    std::map<int, int> Timers;
    std::vector<POINT> CursorReports;
    SIZE Client{};
    bool Focus = true;
    int Redraws = 0;
    int Syncs = 0;
    int ScrollbarUpdates = 0;
    int Shadows = 0;
};

class FAKESBHOST : public SCROLLBACKHOST {
public:
    void PostToViewer(SCROLLBACKWIN*, int message) override { ViewerMessages.push_back(message); }
    void ScrollbarUpdatePending() override { ++PendingUpdates; }
    void UpdateToolbarAndMenu() override { ++MenuUpdates; }
    bool NoDim() override { return NoDimSetting; }
    std::string ScrollEditFile() override { return EditFile_; }
    void FileError(char const* name) override { FileErrors.push_back(name ? name : ""); }
    void EditFile(char const* name) override { Edited.push_back(name); }
    void PutClipboardText(std::string const& bytes, int codePage) override
    {
        Clipboard = bytes;
        ClipboardCodePage = codePage;
    }
    void SetScrollbar(SCROLLBAR&, int position, int page, int min, int max) override
    {
        Bar = {position, page, min, max};
    }

    std::vector<int> ViewerMessages;
    int PendingUpdates = 0;
    int MenuUpdates = 0;
    bool NoDimSetting = false;
    std::string EditFile_;
    std::vector<std::string> FileErrors;
    std::vector<std::string> Edited;
    std::string Clipboard;
    int ClipboardCodePage = 0;
    std::vector<int> Bar;
};

} // namespace viotest
