// SESSIONLINK: everything the session's layers (SUBSYS, COMM, the host
// services handed to plug-ins) ask of their session, its main window and the
// application.
//
// The session derives from it. Every operation has a neutral body here
// (nothing shown, nothing posted, no hook); the profile and settings values
// come from the data blocks that ProfileData and SettingsData hand out, and
// are neutral without them. Tests derive fakes from it. The layers never
// reach those subsystems any other way.
//
// Threads: ComDataNotification, DeviceEndNotification, IsBackgroundTab,
// IsTransferActive, SetStatusbarLed and Trace are called on the device
// reader thread too; the
// session's versions must allow that. Everything else is called on the
// thread that calls the layer (the main thread, a script or transfer thread).
#pragma once

#include "plugins/sdk/qorpublic.h"
#include "plugins/sdk/sessionapi.h"

#include "velmot/core/strings.h"

#include <cstdint>

class MENU;
class QORDEVICE;
struct RECT;
struct SESSIONPROFILEDATA;

class SESSIONLINK : public SESSIONAPI {
public:
    SESSIONLINK();
    ~SESSIONLINK() override;

    // SESSIONAPI: the session's event operations.
    int SendEvent(int event, short arg, char const* text) override;
    int PostEvent(int event, short arg, char const* text) override;
    int CondEvent(int event) override;
    void Notify(char const* text, int flags) override;

    // The received-data road (also on the reader thread).
    // Posts user message 1029 to the session window unless one is pending
    // (always with force).
    virtual void ComDataNotification(bool force);
    // The device's read failed or its stream ended (its program ended, the
    // far end hung up): the carrier is looked at now, not at the next
    // tick.
    virtual void DeviceEndNotification();
    virtual bool IsBackgroundTab();
    virtual bool IsTransferActive();
    virtual void SetStatusbarLed(int led, bool on, int mode);
    // The data trace: direction 'I' received, 'O' sent.
    virtual void Trace(char direction, char const* data, int len);

    // The session's other layers and screen, as plug-ins see them.
    virtual COMMAPI* Comm();
    virtual EMULATIONAPI* Emulation();
    virtual FILETRANSFERAPI* Transfer();
    virtual FILETRANSFERFILEIO* TransferFileIo();
    virtual VIOAPI* Vio();
    // Resets the screen attributes before text is written to it.
    virtual void ResetScreenMode();
    virtual void UpdateStatusbar();

    // The session profile's and the program settings' data blocks, which
    // the layers read directly; null without them (the values below are
    // then neutral).
    virtual SESSIONPROFILEDATA* ProfileData();
    virtual PROGRAMSETTINGSDATA* SettingsData();

    // Profile and settings values the layers read and write.
    // The 128-character parameter string of id in the profile's array of
    // the module type (DeviceOpts, EmulationOpts, TransferOpts); null for
    // an id outside the array.
    virtual char* ParmString(int type, int id);
    virtual void SetActiveDevice(int id);
    virtual bool Software7E1();
    virtual int CodePage();
    virtual char const* EnqString();
    // The program setting byte of a load group (10 to 22).
    virtual int LoadGroupSetting(int group);

    // The session itself (main thread).
    // Runs a session event at once; its answer.
    virtual int ProcessEvent(int event, int arg, char const* text);
    // Applies the profile to the session's members again.
    virtual void TrackChanges(bool repaint);
    // Whether a script (REXX or AppleScript) runs in the session.
    virtual bool IsScriptRunning();
    // Writes bytes as a hex dump onto the screen (the profile's DumpMode).
    virtual void HexDump(char const* data, int len);
    // Repaints the whole session window.
    virtual void InvalidateWindow();
    // The emulation's custom title (the host's title) changed: the tab and
    // the window title follow it (any thread).
    virtual void CustomTitleChanged();
    // The main window and the application.
    virtual void ErrorMsg(char const* text);
    // A text starting with "?" is a yes/no question: 1 for yes.
    virtual int WarningMessage(char const* text);
    virtual bool Unattended();
    virtual void SendMainWindowEvent(int event);
    virtual void PostMainWindowMessage(int message, uintptr_t p1, uintptr_t p2);
    virtual uintptr_t SendMainWindowMessage(int message, uintptr_t p1, uintptr_t p2);
    // The main window's frame in screen coordinates; false without one.
    virtual bool MainWindowRect(RECT* rect);
    virtual bool IsMainWindowMaximized();
    virtual void MoveMainWindow(RECT const& rect);
    virtual void FlushRedraws();
    virtual void StartWindowTimer(int id, int ms);
    virtual void StopWindowTimer(int id);
    // The device's items in the connection menu: deletes items 8500 to
    // 8507 of the menu's second submenu and lets the device add its own
    // after item 8499.
    virtual void MakeDeviceMenu(MENU const& menu, QORDEVICE* device);
    // Runs the program setting RexxEvent with the argument text.
    virtual void RunEventScript(char const* args);
    // The send translation table, in place.
    virtual void TranslateOut(char* data, int len);
    // Hook n of the application's hook library; the hook may rewrite the
    // arguments' targets.
    virtual int CallHook(int hook, void* a, void* b);
    // Expands the caret notation of a user text in place; the new length.
    virtual int MakeCtrl(char* text, int size);
    // The wide form; "^!" becomes the break marker U+FFF8.
    virtual int MakeCtrlWide(wchar_t* text, int size);

    // Values a sub-module's QORPUBLIC is made of.
    virtual int InstanceNumber();
    virtual WINDOW* MainWindow();
    virtual APP* Application();
    virtual int Language();
    virtual signed char* UnattendedFlag();
    virtual SESSIONPROFILE* Profile();
    virtual STRING AppRegKey();
    virtual char* DownloadFolder();
    virtual char* UploadFolder();
    virtual char const* WorkFolder();
    virtual char const* HomeFolder();
    // SettingsData unless the session says otherwise.
    virtual PROGRAMSETTINGSDATA* ProgramSettings();
    virtual PASSWORDCACHEAPI* PasswordCache();
    // The rows of the AT-command profile (SESSIONPROFILE::AtCmdOptlist).
    virtual OPTLIST const* AtCmdOptlist();
    virtual COLORREF* SysColors();

    // What the QORPUBLIC operations forward to.
    virtual int SetLedMode(int mode);
    virtual void* PrinterOpen(signed char flag);
    virtual int PrinterWrite(void* job, char const* data, int len);
    virtual int PrinterClose(void* job);
    virtual int Log(char const* text, int len);
    virtual int LogWide(wchar_t const* text, int len);
    virtual int WaitForSessionForeground(signed char* abort);
    virtual int AddScrollLine(VIOCELL const* cells, int count, signed char notify);
    // Called from any thread; the session moves the keys to its main thread.
    virtual int FeedKeys(wchar_t const* keys, int count, signed char raw);
    virtual int Bell();
    virtual int AppTrackChanges();
    virtual int WatchLearn(char direction, wchar_t ch);
    virtual int WatchAutoLogin(wchar_t ch);
    // Script n (0 AppleScript, 1 REXX) of the session: its wait match for
    // ch (0 none, else the 1-based index found) and the report of a find.
    virtual int ScriptWatchWait(int script, wchar_t ch);
    virtual int ScriptWaitFound(int script, int index);
    virtual int Ask(char const* title, char const* text, char* buf, int max, int flags, signed char* result);
    virtual int AskUserPass(char const* title, char* user, char* pass, int* flags);
    virtual int AskPassphrase(char const* title, char const* text, char const* keyfile, char* pass, int* flags);
    virtual STRING AskFilename(char const* title, char const* mask, WINDOW const& owner);
    virtual STRING AskSaveAsFilename(char const* title, char const* mask, WINDOW const& owner);
    virtual int EditSysColors(WINDOW& owner);
    virtual int StartProgram(char const* program, char const* args, char const* folder, int flags);
    virtual void DestroyIntroWin();
    virtual int PushFnctSelectFile(void* data, CONTROLID id, CONTROLPARENT parent, STRING* target);
    virtual int PushFnctSelectFolder(void* data, CONTROLID id, CONTROLPARENT parent, STRING* target);

    SESSIONLINK(SESSIONLINK const&) = delete;
    SESSIONLINK& operator=(SESSIONLINK const&) = delete;

private:
    signed char UnattendedByte = 0;
};
