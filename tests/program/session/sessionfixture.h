// The fixture of the session tests: the window system offscreen (one per
// binary), a stage with the device bundle, the TTY and the test emulation,
// a main window that records what the session asked of it, and a session
// whose clock, modifier keys and paced-send timer the test drives.
#pragma once

#include "program/session/session.h"
#include "tests/program/session/sessiontest.h"

#include "tests/support/testutil.h"
#include "velmot/gui/windows.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace sessiontest {

// The main window of the tests: every call is a line in Lines ("event 8215
// -c \"ls\"", "start /bin/echo|a b", "open http://x", "question ...").
class RECORDINGHOST : public SESSIONHOST {
public:
    int ProcessEvent(int event, int arg, char const* text) override;
    int PostEvent(int event, int arg, char const* text) override;
    int MenuIdFromName(char const* name) override;
    bool IsMenuEntryEnabled(int id) override { return !Disabled.count(id); }
    void MenuCheck(int id, bool on) override;
    bool IsMenuChecked(int id) override { return Checked.count(id) != 0; }
    void EnableMenuEntry(int id, int enable, bool) override;
    bool IsCurrentSession(SESSION const&) override { return Current.load(); }
    void SetSessionTabBlinking(SESSION&, bool on) override;
    bool HasStatusLine() override { return true; }
    void SetLed(int led, bool on, int) override;
    void ErrorMsg(char const* text) override;
    int WarningMsg(char const* text) override;
    bool YesNoRequest(char const* caption, char const* text) override;
    bool AreYouSureRequest(char const* text) override;
    bool StartProgram(std::vector<std::string> const& argv) override;
    bool OpenDocument(char const* target) override;
    void ShowNotification(SESSION&, char const* text, int ms) override;
    void SetSessionTabNameWide(SESSION&, wchar_t const* name) override;
    void PopupMenu() override { Lines.push_back("popup"); }
    void SetSessionTabTraffic(SESSION&, int on, int lines) override;
    std::wstring CurrentHostName(SESSION&) override { return HostName; }
    bool ChildDialogOpen() override { return ChildDialog; }
    // Logs, capture and printing: the administrator's record, the print
    // queue, the pickers' answers (taken in turn; none left: cancelled).
    ADMINOPTS const* AdminOptions() override { return Admin; }
    PRINTQUEUE* PrintQueue() override { return Queue; }
    void FileError(char const* path) override;
    void EditFile(char const* path) override { Lines.push_back(std::string("edit ") + (path ? path : "")); }
    std::vector<std::string> AskFilenames(char const* title, char const* start) override;
    STRING AskFilename(char const* title, char const* start, WINDOW const* owner) override;
    STRING AskSaveAsFilename(char const* title, char const* proposal, WINDOW const* owner) override;
    ADMINOPTS* Admin = nullptr;
    PRINTQUEUE* Queue = nullptr;
    std::deque<std::string> Picks;

    // Lines since the last call; those starting with a prefix only.
    std::vector<std::string> Take(std::string const& prefix = "");

    std::vector<std::string> Lines;
    std::deque<bool> Answers;          // the questions' answers (yes when none is left)
    std::function<void()> DuringQuestion; // runs inside a question
    std::map<std::string, int> MenuIds;
    std::set<int> Disabled, Checked;
    std::atomic<bool> Current{true};
    std::wstring HostName;
    bool ChildDialog = false;
};

// The session of the tests.
class TESTSESSION : public SESSION {
public:
    using SESSION::SESSION;
    // The paced send's timer is recorded, and the test fires it.
    void StartWindowTimer(int id, int ms) override;
    bool KeyState(int vk) override { return Keys.count(vk) != 0; }
    long long NowMs() override { return Clock >= 0 ? Clock : SESSION::NowMs(); }
    // Hook 11 may rewrite the received buffer.
    int CallHook(int hook, void* a, void* b) override;
    // A receive translation of the test's own, when it sets one.
    int TranslateIn(int c) override { return Translate ? Translate(c) : SESSION::TranslateIn(c); }
    bool TranslateInActive() override { return Translate ? true : SESSION::TranslateInActive(); }
    uint8_t const* TranslateInTable() override { return Translate ? nullptr : SESSION::TranslateInTable(); }
    std::function<int(int)> Translate;
    // With Triggers set the received-data road looks at every character
    // for the scripts and the watch (whose seams answer "nothing found").
    bool ReceiveTriggersActive() override { return Triggers; }
    bool Triggers = false;
    // Tones are recorded ("beep 441 80 1 0") instead of played, unless
    // PlayTones is set.
    void DoBeep(int hz, int ms, int count, int pause) override;
    std::vector<std::string> Beeps;
    bool PlayTones = false;

    // The caret notation of the test, when it sets one.
    int MakeCtrl(char* text, int size) override { return Ctrl ? Ctrl(text, size) : SESSION::MakeCtrl(text, size); }
    std::function<int(char*, int)> Ctrl;
    // The carrier changes the session was told of.
    void ProcessCarrier(int online, int force) override { Carriers.push_back(online); }
    std::vector<int> Carriers;

    std::set<int> Keys;
    long long Clock = -1;
    std::vector<std::pair<int, int>> Timers;
    std::function<void(wchar_t*, int*)> Hook11;
};

// The window system once per binary.
void UsePlatform();

class SessionTest : public ::testing::Test {
protected:
    SessionTest();
    ~SessionTest() override;
    void SetUp() override;
    void TearDown() override;

    // The program settings the sessions get.
    PROGRAMSETTINGS& ProgramSettings();
    // A new session on the device (with its parameter string) and the
    // emulation; false when either is missing.
    bool Open(int device = 5, int emulation = 0, char const* parm = nullptr,
              int options = SESSION::OPTION_HEADLESS);
    // Retires the session and lets the loop delete it.
    void Close();
    // Runs the main loop until cond holds (or ms passed).
    bool Pump(std::function<bool()> const& cond, int ms = 5000);
    // Runs the main loop for a while.
    void Spin(int ms);
    // The loopback device: bytes arriving, bytes the session wrote.
    void Inject(std::string const& bytes);
    std::string Sent();
    // Runs the loop until the injected bytes have been shown.
    bool WaitShown(int ms = 5000);
    std::string Row(int y);
    // What the test emulation got (see tests/plugins/testemu.cpp).
    std::string Custom(char const* text);

    STAGE Stage;
    // The work folder, with its "Options" and "Logs" folders.
    testutil::TempDir Work;
    RECORDINGHOST Host;
    struct SETTINGSOWNER;
    std::unique_ptr<SETTINGSOWNER> Owner;
    std::unique_ptr<WINDOW> Parent;
    TESTSESSION* S = nullptr;
    int Peer = -1;
    uint64_t Injected = 0;
};

} // namespace sessiontest
