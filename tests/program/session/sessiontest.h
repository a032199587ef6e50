// Shared pieces of the session-engine tests: a stage tree of their own, a
// session fake on SESSIONLINK, a null emulation layer, and descriptor and
// thread counts of the process.
#pragma once

#include "plugins/sdk/emulationapi.h"
#include "program/screen/scrollback.h"
#include "program/screen/vio.h"
#include "program/session/emulation.h"
#include "program/session/sessionlink.h"
#include "program/settings/programsettings.h"
#include "program/settings/sessionprofile.h"
#include "velmot/gui/wincontrols.h"

#include <atomic>
#include <functional>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sessiontest {

// A stage tree under a private folder: lib/qor/PlugIns with the given
// bundles (built file -> module file name), share/qor/Resources linked to
// the build's. QOR_STAGE_DIR points at it while the object lives.
class STAGE {
public:
    explicit STAGE(std::vector<std::pair<std::string, std::string>> const& bundles);
    ~STAGE();
    STAGE(STAGE const&) = delete;
    STAGE& operator=(STAGE const&) = delete;
    std::string PlugIns() const { return Root + "/lib/qor/PlugIns"; }
    void Add(std::string const& built, std::string const& name);
    void AddFile(std::string const& name, std::string const& content);

private:
    std::string Root;
    std::string Previous;
};

// The built bundles.
std::string TennickBundle();
std::string TestPlugBundle();
std::string NoEntryBundle();
std::string TestEmuBundle();
std::string YelbrinBundle();

// Removes the plug-in dictionary of the registry store, as on a fresh
// installation.
void ForgetDictionary();

// A session that records what the layers ask of it.
class FAKESESSION : public SESSIONLINK {
public:
    FAKESESSION();
    SESSIONPROFILEDATA* ProfileData() override { return &Prof; }
    PROGRAMSETTINGSDATA* SettingsData() override { return &Settings; }
    void ComDataNotification(bool force) override;
    bool IsTransferActive() override { return Transfer.load(); }
    void ErrorMsg(char const* text) override;
    int WarningMessage(char const* text) override;
    void RunEventScript(char const* args) override;
    int CallHook(int hook, void* a, void* b) override;
    EMULATIONAPI* Emulation() override { return Emu; }
    OPTLIST const* AtCmdOptlist() override { return reinterpret_cast<OPTLIST const*>(&AtCmdRows); }
    int MakeCtrl(char* text, int size) override;
    int WatchLearn(char direction, wchar_t ch) override;
    int WatchAutoLogin(wchar_t ch) override;
    int ScriptWatchWait(int script, wchar_t ch) override;
    int ScriptWaitFound(int script, int index) override;

    // Waits until a data notification is pending (or the time is up),
    // takes it and answers whether there was one.
    bool TakeNotification(int timeout_ms);

    // The profile and settings values the layers read: zero but for the
    // load groups (all loaded), the active device 11 and code page 1252.
    SESSIONPROFILEDATA Prof{};
    PROGRAMSETTINGSDATA Settings{};
    std::atomic<bool> Transfer{false};
    std::atomic<int> Posted{0}; // notifications that woke the main thread
    EMULATIONAPI* Emu = nullptr;
    int AtCmdRows = 0;
    std::vector<std::string> Errors, Warnings, Scripts, Calls;
    // Hook 4 rewrites the data when set: the new bytes.
    std::string HookReplace;
    bool HookSet = false;
    // What the scripts' wait matching answers, per script.
    int ScriptFind[2] = {0, 0};

private:
    std::mutex Lock;
    std::condition_variable Cond;
    bool Pending = false;
};

// An emulation layer that answers nothing but its terminal name and size.
class NULLEMULATION : public EMULATIONAPI {
public:
    std::string UnixName = "vt220";
    int Cols = 100, Rows = 30;
    bool Running = true;
    std::string Shown; // what conputs received

    void Cleanup() override {}
    void SetCurrent(QORSUBSYSTEM*) override {}
    QORSUBSYSTEM* FindObject(int) override { return nullptr; }
    STRING QueryNameFromID(int) override { return STRING(); }
    int QueryIDFromPtr(void*) override { return -1; }
    int QueryIDFromName(char const*) override { return -1; }
    int QueryIDFromCurrent() override { return -1; }
    int QueryList(char**, char*, int*, int, int, int) override { return 0; }
    char* QueryStatus(char* b) override { return b; }
    char* QueryParm(char* b, int) override { return b; }
    char* QueryStdParm(int, char* b) override { return b; }
    void SetParm(char const*) override {}
    int MatchParms(int, char*, int, signed char, signed char) override { return 0; }
    int ForceLoad(int, int) override { return 0; }
    void InvalidateLoadFlags() override {}
    int OptionsDialog(CONTROLPARENT, int, char*, int, CONTROLID) override { return 0; }
    QORSUBSYSOPTSDIALOG* LoadOptionsSubDialog(CONTROLPARENT, int, int, char*, signed char) override { return nullptr; }
    int Initialize() override { return 0; }
    int UpAndRunning() override { return Running ? 1 : 0; }
    int conputs(char const* s, long len) override
    {
        Shown.append(s, static_cast<size_t>(len));
        return 0;
    }
    int conputws(wchar_t const*, long) override { return 0; }
    int InfoOut(char const*) override { return 0; }
    int StringOut(wchar_t const*, long, signed char) override { return 0; }
    int ProcessKey(KEYBOARDEVENT const&) override { return 0; }
    int TrackSize(int*, int*, signed char) override { return 0; }
    int IsSequence(int*, char, int) override { return 0; }
    int SetEmulation(int, signed char) override { return 0; }
    int SetCursorType(signed char, int, signed char) override { return 0; }
    int TrackColors(int, int, int) override { return 0; }
    int QueryUnixName(int, char* dst) override;
    int QueryEnvironment(char*, int, char const*) override { return 0; }
    int QueryCursorPos(int*, int*) override { return 0; }
    int QueryWinSize(int* c, int* r) override;
    int SetWinSize(int, int) override { return 0; }
    int AdjustScreenSize(int*, int*) override { return 0; }
    int ClearScreen() override { return 0; }
    int SwitchSize(int, int) override { return 0; }
    int SuppressOutput(int) override { return 0; }
    int FeedSymbolicKey(char const*) override { return 0; }
    int FeedKeyString(wchar_t const*, int, signed char) override { return 0; }
    int HandleMouseEvent(int, int, int, int) override { return 0; }
    int HandleTerminalEvent(EMULATION_EVENT) override { return 0; }
    int HandleCustomEvent(char const*, char*, int, void*) override { return 0; }
    int SyncCursorPos() override { return 0; }
    void* PrinterControl(int, int) override { return nullptr; }
    void SetCustomTitleWide(wchar_t const*) override {}
    wchar_t const* QueryCustomTitleWide() override { return L""; }
    int CheckFlag(unsigned long mask) override { return (mask & Flags) != 0; }
    int WantStreamMarkers() override { return 0; }
    int HasLocalEditing() override { return 0; }
    int WantUtf8Conversion() override { return 0; }
    int SendUtf8Keys() override { return 0; }
    int NoUnicode() override { return 0; }
    int NoTranslateDatastream() override { return 0; }
    int SequenceRun(int*, char const*, int len) override { return len; }
    unsigned long Flags = 0;
};

// A session for the emulation layer: a real screen (80 x 24, with a
// scroll-back of 100 lines), an EMULATION over the stage's bundles, and a
// record of what the layer and the plug-ins asked of the session, one line
// each ("feedkeys <text>", "bell", "log <text>", "event 8499", ...).
class EMUSESSION : public FAKESESSION {
public:
    EMUSESSION();
    ~EMUSESSION() override;

    VIOAPI* Vio() override { return &Screen; }
    EMULATIONAPI* Emulation() override { return Layer; }
    int AddScrollLine(VIOCELL const* cells, int count, signed char notify) override;
    int LogWide(wchar_t const* text, int len) override;
    int Bell() override;
    int FeedKeys(wchar_t const* keys, int count, signed char raw) override;
    int ProcessEvent(int event, int arg, char const* text) override;
    void TrackChanges(bool repaint) override;
    void HexDump(char const* data, int len) override;
    uintptr_t SendMainWindowMessage(int message, uintptr_t p1, uintptr_t p2) override;
    bool MainWindowRect(RECT* rect) override;
    bool IsMainWindowMaximized() override { return Maximized; }
    void MoveMainWindow(RECT const& rect) override;
    void* PrinterOpen(signed char flag) override;
    int PrinterClose(void* job) override;
    bool IsScriptRunning() override { return ScriptRunning; }
    int SetLedMode(int mode) override;
    int MakeCtrlWide(wchar_t* text, int size) override;
    void CustomTitleChanged() override { ++TitleChanges; }

    // Lines recorded since the last call, and the screen's row y as text.
    std::vector<std::string> Take();
    std::string Row(int y);
    // A custom event to the current plug-in; its answer.
    std::string Custom(char const* text);

    SCROLLBACKBUFFER Scrollback;
    VIO Screen;
    EMULATION* Layer = nullptr;
    std::vector<std::string> Log;
    RECT Frame{100, 100, 740, 500};
    bool Maximized = false;
    bool ScriptRunning = false;
    int JobsOpened = 0;
    int LastMakeCtrlSize = 0;
    int TitleChanges = 0;
};

// Entries of /proc/self/fd and /proc/self/task.
int OpenDescriptors();
int Threads();
// Polls cond every few milliseconds until it holds or timeout_ms passed.
bool WaitFor(std::function<bool()> const& cond, int timeout_ms);

} // namespace sessiontest
