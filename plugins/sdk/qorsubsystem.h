// The plug-in objects: QORSUBSYSTEM, the base of every object a plug-in
// bundle hands to the host, and on it QORDEVICE (communication devices),
// QOREMULATION (emulations) and QORTRANSFER (transfer protocols); the two
// entry points of a bundle.
//
// The base bodies (plugins/xfr) are compiled into each plug-in; the program
// never links them and calls a plug-in object only by virtual slot, so the
// order of the operations below is the interface and never changes. Slot
// order is declaration order; the destructors take slots 0 and 1.
//
// Entry points: a bundle exports, by plain name and with default
// visibility, NAME_Intro and NAME_Initialize, NAME being the module file
// name before the first ".", upper-cased ("TENNICK_Intro"); the host falls
// back to the lower-case type word ("dev_Intro"). Everything else in a
// plug-in is hidden.
#pragma once

#include <string>

#include "plugins/sdk/qorpublic.h"

class CONTROL;
class MENU;
class QORSUBSYSOPTSDIALOG;
struct CONTROLID;
struct KEYBOARDEVENT;

// Marks a bundle's two entry points.
#define QOR_PLUGIN_ENTRY extern "C" __attribute__((visibility("default")))

class QORSUBSYSTEM;

// int NAME_Intro(int version, char* names, int* ids): answers only for
// version 1724; writes the sub-module names one after another, each ended by
// a NUL, into names (256 bytes) and their ids into ids, and returns their
// number.
using SUBSYSINTRO = int (*)(int version, char* names, int* ids);
// QORSUBSYSTEM* NAME_Initialize(SUBSYSINITDATA const&, int sub): the object
// of sub-module index sub, or null.
using SUBSYSINITIALIZE = QORSUBSYSTEM* (*)(SUBSYSINITDATA const& init, int sub);

// Sizes of an Intro answer.
constexpr int SS_INTRONAMESIZE = 256;
constexpr int SS_NAMESIZE = 64;

class QORSUBSYSTEM {
public:
    explicit QORSUBSYSTEM(SUBSYSINITDATA const& init);
    virtual ~QORSUBSYSTEM();                                               // 0, 1
    virtual int SetParm(char const* parm) = 0;                             // 2
    virtual char* QueryParm(char* buf, int max) = 0;                       // 3
    // buf holds at least 128 characters.
    virtual char* QueryStdParm(char* buf) = 0;                             // 4
    // buf holds at least 256 characters.
    virtual char* QueryStatus(char* buf) = 0;                              // 5
    virtual int MakeMenu(MENU const& menu, int pos);                       // 6
    virtual int HandleMenuEvent(int id, char const* text);                 // 7
    virtual char const* GetOptsDialogId(int language);                     // 8
    virtual int OnOptsDialogInit(QORSUBSYSOPTSDIALOG& pane, char const* parm); // 9
    virtual int OnOptsDialogPushbutton(QORSUBSYSOPTSDIALOG& pane, CONTROLID id); // 10
    virtual int OnOptsDialogControlEvent(QORSUBSYSOPTSDIALOG& pane, int event, CONTROL const& control); // 11
    virtual int OnOptsDialogGetVaues(QORSUBSYSOPTSDIALOG& pane, char* buf, int max); // 12

    QORSUBSYSTEM(QORSUBSYSTEM const&) = delete;
    QORSUBSYSTEM& operator=(QORSUBSYSTEM const&) = delete;

protected:
    QORPUBLIC* Public;
};

// A communication device (slots 13 to 33).
class QORDEVICE : public QORSUBSYSTEM {
public:
    explicit QORDEVICE(SUBSYSINITDATA const& init) : QORSUBSYSTEM(init) {}
    // The parameter string, tagged "[id]"; 0 = opened.
    virtual signed char Open(char const* parm) = 0;                        // 13
    // Must make a blocked Read return at once.
    virtual void Close() = 0;                                              // 14
    // Bytes ready now; 0 is allowed.
    virtual int NumAvail() = 0;                                            // 15
    // 1 connected, 0 not, -1 cannot tell.
    virtual int QueryOnline() = 0;                                         // 16
    virtual int QuerySpeed();                                              // 17
    // The status page text, at most 4096 bytes with its NUL.
    virtual void StatusText(char* buf);                                    // 18
    virtual int SendBreak();                                               // 19
    virtual int Write(char const* data, long len) = 0;                     // 20
    // *len wanted on entry (1 to 8192); may block until data or Close; 0 =
    // success with *len the bytes read (0 allowed), else nothing was read.
    virtual signed char Read(char* buf, unsigned long* len) = 0;           // 21
    // Non-zero = success.
    virtual signed char Connect(char const* target);                       // 22
    virtual signed char Reset(signed char flag);                           // 23
    virtual signed char Disconnect();                                      // 24
    virtual signed char AcceptCalls(signed char on);                       // 25
    virtual signed char PrepareForFileTransfer(signed char mode);          // 26
    virtual signed char CleanupAfterFileTransfer(signed char mode);        // 27
    virtual int ProcessKey(KEYBOARDEVENT const& event);                    // 28
    virtual signed char HandleTimerEvent();                                // 29
    // The answer must fit in max characters with its NUL.
    virtual int HandleDeviceCommand(char const* cmd, char* result, int max, void* data); // 30
    virtual signed char AbortConnect();                                    // 31
    virtual signed char CanAccept();                                       // 32
    virtual signed char TrackChanges();                                    // 33

protected:
    // What a device on a terminal tells the remote side (no slots): the
    // session emulation's terminal type name (its first; the fallback
    // while none runs) and its size (80 x 24 while it tells none).
    std::string TerminalName(char const* fallback);
    void WindowSize(int* cols, int* rows);
};

// A terminal emulation (slots 13 to 33).
class QOREMULATION : public QORSUBSYSTEM {
public:
    explicit QOREMULATION(SUBSYSINITDATA const& init) : QORSUBSYSTEM(init) {}
    virtual int Open(char const* parm) = 0;                                // 13
    virtual int Close() = 0;                                               // 14
    virtual int conputs(wchar_t const* text, long len) = 0;                // 15
    // The plug-in owns the low 24 bits of *state.
    virtual int IsSequence(int* state, char c) = 0;                        // 16
    virtual int QueryUnixName(int n, char* dst) = 0;                       // 17
    virtual int ProcessKey(KEYBOARDEVENT const& event) = 0;                // 18
    virtual unsigned long GetFlags(unsigned long mask);                    // 19
    virtual int GetCursorPos(int* col, int* row);                          // 20
    virtual int AdjustScreenSize(int* cols, int* rows);                    // 21
    virtual int QueryEmulationKeys(char** keys, int max);                  // 22
    virtual int SyncCursorPos();                                           // 23
    virtual int QueryWinSize(int* cols, int* rows);                        // 24
    virtual int SetWinSize(int cols, int rows);                            // 25
    virtual int FeedSymbolicKey(char const* name);                         // 26
    virtual int InfoOut(wchar_t const* text);                              // 27
    virtual int FeedKeyString(wchar_t const* text, int len);               // 28
    virtual int QueryEnvironment(char* buf, int max, char const* specific); // 29
    virtual int HandleTerminalEvent(int event);                            // 30
    virtual int HandleMouseEvent(int col, int row, int button, int up);    // 31
    virtual int HandleCustomEvent(char const* name, char* answer, int size, void* data); // 32
    // IsSequence over a run: the characters from text[0] on that all get
    // the answer IsSequence would give text[0], checked (and the state
    // moved on) as IsSequence does one by one; their number, positive for
    // text, negative for characters of sequences, at least 1 when len > 0.
    // With no text (len 0) it sets *state to the state the emulation's own
    // parser is in, for a caller that did not check the text the emulation
    // was given meanwhile, and returns 0. The host calls it only when
    // GetFlags reports EMUFLAG_SEQUENCERUN (bundles built before it have no
    // such slot); the base body asks IsSequence (and leaves the state as
    // it is for no text).
    virtual int SequenceRun(int* state, char const* text, int len);       // 33

protected:
    unsigned long EmulationFlags = 0; // the capability bits (emulationapi.h)
};

// A file-transfer protocol (slots 13 to 25).
class QORTRANSFER : public QORSUBSYSTEM {
public:
    explicit QORTRANSFER(SUBSYSINITDATA const& init);
    // 0 = started (usually on a thread of its own), else failure.
    virtual int Upload(char const* options, int count, char const** names, signed char automatic) = 0; // 13
    virtual int Download(char const* options, int count, char const** names, signed char automatic) = 0; // 14
    // The transfer's error code.
    virtual int OnEndTransfer() = 0;                                       // 15
    // kind 2 before a download, 4 before an upload; false cancels.
    virtual int Prestart(int kind, int* count, char** names, int size);    // 16
    virtual unsigned long GetCommonOptions();                              // 17
    virtual unsigned long GetDownloadOptions();                            // 18
    virtual unsigned long GetUploadOptions();                              // 19
    virtual int CheckDownloadOptions(unsigned long bits);                  // 20
    virtual int CheckUploadOptions(unsigned long bits);                    // 21
    // Copy the trigger sequence (its stored length, no terminator) and
    // return that length; the buffer must be larger than the sequence.
    virtual int GetAutoUploadSeq(char* out, int outmax);                   // 22
    virtual int GetAutoDownloadSeq(char* out, int outmax);                 // 23
    virtual int HandleCustomEvent(char const* text, char* answer, int answersize, void* data); // 24
    virtual int NoSuppressScreenOutput();                                  // 25

protected:
    uint32_t ForcedOptions;
    uint32_t UploadOptions;
    char AutoUploadSeq[256];
    int32_t AutoUploadSeqLen;
    uint32_t DownloadOptions;
    char AutoDownloadSeq[256];
    int32_t AutoDownloadSeqLen;
};
