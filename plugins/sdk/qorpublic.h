// QORPUBLIC: the host services of one loaded sub-module, and SUBSYSINITDATA,
// what its Initialize entry point receives.
//
// The plug-in host makes one QORPUBLIC per loaded sub-module and deletes it
// right after the plug-in object (so a plug-in may still use it in its
// destructor). Both faces are part of the plug-in interface: the order of
// the data members and the slot order of the virtual operations never
// change; members holding a pointer are pointer-sized. Every pointer names
// an object owned by the session or the application, never by the plug-in.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

#include <cstdint>

class APP;
class COMMAPI;
class EMULATIONAPI;
class FILETRANSFERAPI;
class FILETRANSFERFILEIO;
class OPTSBASE;
class PASSWORDCACHEAPI;
class SESSIONAPI;
class SESSIONPROFILE;
class VIOAPI;
class WINDOW;
struct CONTROLID;
struct CONTROLPARENT;
struct OPTLIST;
struct PROGRAMSETTINGSDATA;
struct VIOCELL;

// The room of the text buffers of the login requests.
constexpr int QORPUBLIC_FIELD = 256;

class QORPUBLIC {
public:
    virtual ~QORPUBLIC() = default;                                        // 0, 1
    // Status-line lights: 2 receive, 3 send.
    virtual int SetLed(int led, signed char on, int mode) = 0;             // 2
    virtual int SetLedMode(int mode) = 0;                                  // 3
    virtual void* PrinterOpen(signed char flag) = 0;                       // 4
    virtual int PrinterWrite(void* job, char const* data, int len) = 0;    // 5
    virtual int PrinterClose(void* job) = 0;                               // 6
    virtual int Log(char const* text, int len) = 0;                        // 7
    virtual int LogWide(wchar_t const* text, int len) = 0;                 // 8
    virtual int WaitForSessionForeground(signed char* abort) = 0;          // 9
    virtual int AddScrollLine(VIOCELL const* cells, int count, signed char notify) = 0; // 10
    virtual int FeedKeys(wchar_t const* keys, int count, signed char raw) = 0; // 11
    virtual int Bell() = 0;                                                // 12
    virtual int AppTrackChanges() = 0;                                     // 13
    virtual STRING GetEnqString(char* buf, int max) = 0;                   // 14
    virtual int WatchLearn(char direction, wchar_t ch) = 0;                // 15
    virtual int WatchWait(wchar_t ch) = 0;                                 // 16
    virtual int Ask(char const* title, char const* text, char* buf, int max, int flags, signed char* result) = 0; // 17
    // The user, password and pass phrase buffers of 18 and 19 hold
    // QORPUBLIC_FIELD characters; *flags is the "keep it" box, in and out.
    virtual int AskUserPass(char const* title, char* user, char* pass, int* flags) = 0; // 18
    virtual int AskPassphrase(char const* title, char const* text, char const* keyfile, char* pass,
                              int* flags) = 0;                             // 19
    virtual STRING AskFilename(char const* title, char const* mask, WINDOW const& owner) = 0; // 20
    virtual STRING AskSaveAsFilename(char const* title, char const* mask, WINDOW const& owner) = 0; // 21
    virtual int EditSysColors(WINDOW& owner) = 0;                          // 22
    virtual int StartProgram(char const* program, char const* args, char const* folder, int flags) = 0; // 23
    virtual int WarningMsg(char const* text) = 0;                          // 24
    virtual void DestroyIntroWin() = 0;                                    // 25
    virtual int PushFnctSelectFile(void* data, CONTROLID id, CONTROLPARENT parent, STRING* target) = 0; // 26
    virtual int PushFnctSelectFolder(void* data, CONTROLID id, CONTROLPARENT parent, STRING* target) = 0; // 27

    int InstanceNumber = 0;               // number of the main window holding the session
    uintptr_t Reserved1 = 0;
    WINDOW* ParentWindow = nullptr;       // owner of plug-in dialogs
    APP* App = nullptr;                   // the same main window as application window
    SESSIONAPI* Session = nullptr;
    int Language = 0;                     // user-interface language (49 German)
    signed char* Unattended = nullptr;    // set while the program runs without a user: no dialogs
    uintptr_t Reserved2 = 0;
    SESSIONPROFILE* Profile = nullptr;
    uintptr_t Reserved3 = 0;
    char AppRegKey[16] = {};              // begins with "QOR"; registry values live below it
    char* DownloadPath = nullptr;         // 260 characters, absolute
    char* UploadPath = nullptr;           // 260 characters, absolute
    char const* WorkPath = nullptr;
    char const* HomePath = nullptr;
    PROGRAMSETTINGSDATA* ProgramSettings = nullptr;
    VIOAPI* Vio = nullptr;
    COMMAPI* Comm = nullptr;
    FILETRANSFERFILEIO* TransferFileIo = nullptr;
    EMULATIONAPI* Emulation = nullptr;
    FILETRANSFERAPI* Transfer = nullptr;
    PASSWORDCACHEAPI* PasswordCache = nullptr;
    OPTSBASE* AtCmdOpts = nullptr;        // only for the modem device (id 1)
    OPTLIST const* AtCmdOptlist = nullptr; // only for the modem device (id 1)
    COLORREF* SysColors = nullptr;

protected:
    QORPUBLIC() = default;
    QORPUBLIC(QORPUBLIC const&) = delete;
    QORPUBLIC& operator=(QORPUBLIC const&) = delete;
};

// Handed by const reference to a module's Initialize entry point.
struct SUBSYSINITDATA {
    QORPUBLIC* Public = nullptr;
    // The bundle the module was loaded from (its DLLINTERFACE); the module
    // finds its own resources through it.
    void* Module = nullptr;
};
