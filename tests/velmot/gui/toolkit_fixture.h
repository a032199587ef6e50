// Shared by the tests of windows, dialogs, controls and menus: the test
// layouts (tests/velmot/gui/nibs) joined to the program's own, a window
// class that records its callbacks, and a fixture that keeps assertion
// reports from asking anyone.
#pragma once

#include "tests/velmot/core/assertrecorder.h"
#include "tests/velmot/gui/gui_fixture.h"
#include "velmot/core/stringarray.h"
#include "velmot/gui/winchild.h"
#include "velmot/gui/windialog.h"
#include "velmot/gui/windows.h"

#include "platform/nibs/nib.h"
#include "platform/services/sound.h"

#include <atomic>
#include <cstdlib>
#include <string>

namespace guifix {

// The main layouts hold the test layouts from now on.
inline void UseTestLayouts()
{
    static bool added = false;
    if (added)
        return;
    added = true;
    char const* source = std::getenv("QOR_TEST_SOURCE_DIR");
    plat::AddMainNibFolder(std::string(source ? source : ".") + "/velmot/gui/nibs");
    plat::CloseMainNib();
}

// Counts the alert sounds instead of playing them.
class SoundCounter : public plat::AudioSink {
public:
    bool PlayWav(plat::Bytes const&, bool) override { return true; }
    bool PlayFile(std::string const&) override { return true; }
    void Alert() override { ++alerts; }
    std::atomic<int> alerts{0};
};

// A WINDOW that records its callbacks.
class RECWINDOW : public WINDOW {
public:
    using WINDOW::WINDOW;
    GUIFIX_RECORD_CALLBACKS
};

// A CHILDWINDOW that records its callbacks; OnPaint answers `paint`.
class RECCHILD : public CHILDWINDOW {
public:
    using CHILDWINDOW::CHILDWINDOW;
    int OnPaint() override
    {
        rec.Note("OnPaint");
        return paint;
    }
    bool OnFilesDropped(int count, STRINGARRAY const& files) override
    {
        for (int i = 0; i < files.NumItems(); ++i)
            dropped.push_back(std::string(files[i]->Buf()) + (files[i]->CodePage == UNICODE_CPUTF8 ? " (utf8)" : ""));
        return rec.Note("OnFilesDropped", std::to_string(count));
    }
    int paint = 0;
    std::vector<std::string> dropped;
    GUIFIX_RECORD_CALLBACKS
};

class ToolkitTest : public ::testing::Test {
protected:
    void SetUp() override { UseTestLayouts(); }
    void TearDown() override
    {
        plat::ClearModalResponders();
        plat::ProcessPendingEvents(100000);
        EXPECT_EQ(asserts.Count(), 0u) << "unexpected assertion reports";
    }

    // The conditions of the assertions reported since the last call.
    std::vector<std::string> Reported()
    {
        std::vector<std::string> out;
        for (testutil::ASSERTION const& a : asserts.Take())
            out.push_back(a.Condition);
        return out;
    }

    testutil::ASSERTRECORDER asserts;
};

} // namespace guifix
