// QOR: the program's application object. It owns the table of open main
// windows (at most 64) and turns the application events (open, reopen,
// open documents and URLs, quit, and the program's own new-window,
// close-window and window-count events) into main windows.
//
// When the last main window closes the program ends: a Linux desktop has no
// application menu bar to keep it running for. SIGTERM and SIGHUP end it
// at once, as terminals do: every window closes without asking (its
// sessions hang up, it keeps what closing keeps), whatever dialog is up.
//
// Main thread.
#pragma once

#include "velmot/core/osyssync.h"
#include "velmot/core/stringarray.h"
#include "velmot/gui/winapp.h"
#include "velmot/gui/windows.h"

#include <array>
#include <functional>
#include <memory>
#include <vector>

class APP;

// The program's own application events (class 'AEVT').
constexpr APPLICATION::EVENTID QOREVENT_NEWWINDOW = plat::FourCC("AENW");   // word: heap text (freed)
constexpr APPLICATION::EVENTID QOREVENT_CLOSEWINDOW = plat::FourCC("AECW"); // word: the APP
constexpr APPLICATION::EVENTID QOREVENT_QUERYWINDOWS = plat::FourCC("AQNW"); // word: int32_t*

class QOR : public APPLICATION {
public:
    static constexpr int MAXWINDOWS = 64;
    static constexpr int MAXINSTANCE = 1023;

    struct HELPMAPPING {
        char const* Key;
        char const* Topic;
    };
    static HELPMAPPING const HelpMap[];

    QOR(int* argc, char** argv);
    ~QOR() override;

    bool OnApplicationEvent(EVENTID id, STRINGARRAY* documents, void* parameter, void* reply) override;
    bool OnCommand(uint32_t id) override;

    // The argument vector of a new window: the process's arguments, then
    // one or two per document; its count. *argv is the vector (freed by
    // the next call and the destructor).
    int MakeTempArgcArgv(char*** argv, STRINGARRAY* documents, int extra);
    void CompactTable();

    int WindowCount() const { return Count; }
    APP* Window(int i) const { return i >= 0 && i < MAXWINDOWS ? Windows[static_cast<size_t>(i)] : nullptr; }
    int ExitCode() const { return Exit; }
    // Windows closed but not yet deleted.
    int ClosingCount() const { return static_cast<int>(Closing.size()); }
    // Deletes the closed windows whose handlers have returned; true when
    // none is left. Main thread, outside every handler of those windows.
    bool ReapClosed();

    static QOR* GetInstance() { return static_cast<QOR*>(APPLICATION::GetInstance()); }

    // How a new window is made; tests make windows of their own kind.
    using WINDOWFACTORY = std::function<APP*(int argc, char** argv, signed char flag)>;
    void SetWindowFactory(WINDOWFACTORY factory) { Factory = std::move(factory); }
    // Whether the event loop ends when the last window closed (the
    // program's way; tests keep it running).
    void SetQuitWithLastWindow(bool on) { QuitWithLast = on; }
    // The program ends on a signal: dialogs that are up end as cancelled,
    // then every window closes without questions and the event loop ends.
    void Terminate(char const* why);
    bool Terminating() const { return TerminateStarted; }

    // Writes the preferences this process changed (the program defers its
    // writes to the end of its run); a failure is shown once, with the file
    // and the reason. True when everything was written.
    bool SavePreferences();

private:
    APP* NewWindow(int argc, char** argv, signed char flag);
    bool OpenWindow(int argc, char** argv, signed char flag, char const* timer);
    void CloseWindow(APP* app);
    int LowestFreeInstance() const;
    void ScheduleQuit();
    void CloseAllWindows();
    void FreeTempArgv();

    // The hidden owner window of application-level objects.
    std::unique_ptr<WINDOW> Hidden;
    std::array<APP*, MAXWINDOWS> Windows{};
    int Count = 0;
    STRINGARRAY TempArgs{64};
    char** TempArgv = nullptr;
    MUTEXSEM TableLock;
    int Exit = 0;
    std::vector<APP*> Closing;
    bool QuitWithLast = true;
    bool QuitScheduled = false;
    bool PrefsFailureShown = false;
    bool TerminateStarted = false;
    WINDOWFACTORY Factory;
};

// The program's main function after the library's entry (VelmotEntryPoint).
int AppMain(int argc, char** argv, char** envp);
