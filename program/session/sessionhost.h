// SESSIONHOST: what a session asks of the main window that holds it (its
// tab, menus, status line, title, requests and messages) and of the
// application.
//
// The main window implements it. The defaults stand for a session without
// a main window (a headless session, tests): nothing is shown, every
// question is answered as unattended mode answers it (yes), no menu entry
// is disabled and the session counts as the current one. Tests derive
// fakes that record what the session did.
//
// Threads: the main thread, unless said otherwise.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/gui/wincontrols.h"
#include "velmot/gui/wintypes.h"

#include <cstdint>
#include <string>
#include <vector>

class SESSION;
class WINDOW;
class PRINTQUEUE;
struct ADMINOPTS;
class APP;
class SCROLLBAR;
class PASSWORDCACHEAPI;
class MENU;
struct KEYBOARDEVENT;

class SESSIONHOST {
public:
    virtual ~SESSIONHOST() = default;

    // ---- The main window as plug-ins see it ----
    virtual WINDOW* MainWindow() { return nullptr; }
    virtual APP* Application() { return nullptr; }
    virtual int InstanceNumber() { return 1; }
    // Whether the session is the current one of the main window (its tab
    // is in front). Any thread.
    virtual bool IsCurrentSession(SESSION const&) { return true; }

    // ---- Commands of the main window ----
    // Runs a main-window event at once; its answer.
    virtual int ProcessEvent(int event, int arg, char const* text) { return 0; }
    // Queues a main-window event.
    virtual int PostEvent(int event, int arg, char const* text) { return 0; }
    // The id of a menu entry by its name (0: the menu has none).
    virtual int MenuIdFromName(char const* name) { return 0; }
    virtual bool IsMenuEntryEnabled(int id) { return true; }
    virtual void EnableMenuEntry(int id, int enable, bool x) {}
    virtual void MenuCheck(int id, bool on) {}
    virtual bool IsMenuChecked(int id) { return false; }
    virtual void UpdateToolbarAndMenu(bool x) {}
    // Shows the context menu at the mouse.
    virtual void PopupMenu() {}
    // The main window follows a change of the terminal (repaint, change
    // of its pixel size).
    virtual void TrackChanges(bool repaint, int dx, int dy) {}
    // A user message to the main window (1034 re-layout, 1059 device).
    virtual void PostMessage(int message, uintptr_t p1, uintptr_t p2) {}
    virtual uintptr_t SendMessage(int message, uintptr_t p1, uintptr_t p2) { return 0; }
    // The main window was told of a key.
    virtual void KeyboardEvent(int kind) {}
    // The menu bar, whose shortcuts the session's key map may switch off
    // (null: none).
    virtual MENU* MenuBar() { return nullptr; }
    // The tab bar's own keys (switching tabs); true when it took the key.
    virtual bool TabsProcessKey(KEYBOARDEVENT const& event) { return false; }
    // While set, Shift+Page Up and Shift+Up go to the host instead of
    // opening the scroll-back.
    virtual bool ScrollbackKeysOff() { return false; }
    // The folders of key maps and translation tables, relative to the work
    // folder (empty: the options folder).
    virtual std::string KeymapsFolder() { return std::string(); }
    virtual std::string TranslationTablesFolder() { return std::string(); }

    // ---- Window state ----
    virtual bool MainWindowRect(RECT* rect) { return false; }
    virtual bool IsMainWindowMaximized() { return false; }
    virtual void MoveMainWindow(RECT const& rect) {}
    virtual void MinimizeMainWindow(bool minimize) {}
    // While set, the main window holds its sizes fixed (OfferWindow
    // negotiates nothing).
    virtual bool SizesFixed() { return false; }
    // Whether a child dialog of the main window is open.
    virtual bool ChildDialogOpen() { return false; }
    // The main window's scroll bar (null: none).
    virtual SCROLLBAR* ScrollBar() { return nullptr; }
    virtual PASSWORDCACHEAPI* PasswordCache() { return nullptr; }
    virtual bool HasThumbnails() { return false; }
    virtual void SetThumbnailDirty(SESSION&) {}

    // ---- Status line, title and tab ----
    virtual bool HasStatusLine() { return false; }
    virtual void SetLed(int led, bool on, int mode) {}
    virtual int SetLedMode(int mode) { return 0; }
    virtual void UpdateStatusbar(bool full) {}
    virtual void SetWindowTitle(wchar_t const* title) {}
    virtual void SetSessionTabNameWide(SESSION&, wchar_t const* name) {}
    virtual void SetSessionTabTraffic(SESSION&, int on, int lines) {}
    virtual void SetSessionTabBlinking(SESSION&, bool on) {}
    // The name of the host the session is connected to (the host
    // directory's current entry), empty when none.
    virtual std::wstring CurrentHostName(SESSION&) { return std::wstring(); }

    // The session's transient notification: shown for ms milliseconds
    // (after which it hides itself), or hidden at once with a null text.
    virtual void ShowNotification(SESSION&, char const* text, int ms) {}

    // ---- Messages and requests ----
    // Nothing is shown while unattended; the questions then answer yes.
    virtual bool Unattended() { return false; }
    virtual void ErrorMsg(char const* text) {}
    virtual int WarningMsg(char const* text) { return 1; }
    virtual void InfoMsg(char const* text) {}
    virtual bool YesNoRequest(char const* caption, char const* text) { return true; }
    // Text, user and password, and pass phrase requests (the main window's
    // Ask, AskUserPass, AskPassphrase): non-zero when answered; *store is
    // the "keep it" box, in and out. Any thread.
    virtual int AskText(char const* title, char const* prompt, char* buffer, int size, int hidden, signed char* store)
    {
        return 0;
    }
    virtual int AskUserPass(char const* title, char* user, int userSize, char* password, int passSize, int* store)
    {
        return 0;
    }
    virtual int AskPassphrase(char const* title, char const* first, char const* second, char* passphrase, int size,
                              int* store)
    {
        return 0;
    }
    virtual bool AreYouSureRequest(char const* text) { return true; }
    // The file pickers: a title (a line break starts the filter list), the
    // start folder or proposed name, and the owner (null: the main
    // window). The chosen path, empty when cancelled. Any thread.
    virtual STRING AskFilename(char const* title, char const* start, WINDOW const* owner) { return STRING(); }
    virtual STRING AskSaveAsFilename(char const* title, char const* proposal, WINDOW const* owner)
    {
        return STRING();
    }
    // Starts a program from an argument vector (no shell); false when it
    // could not be started.
    virtual bool StartProgram(std::vector<std::string> const& argv);
    // Opens a file, folder or address with the desktop's opener.
    virtual bool OpenDocument(char const* target);

    // ---- Logs, capture and printing ----
    // The administrator's record (null: no restrictions).
    virtual ADMINOPTS const* AdminOptions() { return nullptr; }
    // The main window's print queue (null: nothing prints).
    virtual PRINTQUEUE* PrintQueue() { return nullptr; }
    // Reports a failed file operation on path; errno holds the reason.
    virtual void FileError(char const* path) {}
    // Opens a file in the configured editor.
    virtual void EditFile(char const* path) {}
    // The files the user picks (empty: none).
    virtual std::vector<std::string> AskFilenames(char const* title, char const* start) { return {}; }
};
