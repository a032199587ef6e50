// The session's emulation layer as plug-ins call it (slots 19 to 56 after
// the plug-in host's). See subsysapi.h for the rules of the slot order.
#pragma once

#include "plugins/sdk/subsysapi.h"

struct KEYBOARDEVENT;

// Terminal events handed to the emulation.
enum EMULATION_EVENT : int {
    EMULATION_EVENT_PASTEBEGIN = 1,
    EMULATION_EVENT_PASTEEND = 2,
    // The session's window took or lost the keyboard focus (added after
    // the others, for terminals that report focus to the host).
    EMULATION_EVENT_FOCUSIN = 3,
    EMULATION_EVENT_FOCUSOUT = 4,
};

// Capability bits of an emulation (QOREMULATION::GetFlags).
enum : unsigned long {
    EMUFLAG_STREAMMARKERS = 2,
    EMUFLAG_UTF8KEYS = 4,
    EMUFLAG_LOCALEDITING = 8,
    EMUFLAG_NOUNICODE = 16,
    EMUFLAG_UTF8CONVERSION = 32,
    EMUFLAG_KEYRELEASE = 64,
    EMUFLAG_NOTRANSLATION = 128,
    EMUFLAG_LASTROW = 256,
    EMUFLAG_SECONDLASTROW = 512,
    // The emulation offers QOREMULATION::SequenceRun (slot 33), and in its
    // ground state (the 24 state bits it owns all 0) a graphic character
    // (not below 32, not 127, not 128 to 159) is text and leaves the state
    // at 0. The host calls SequenceRun only for emulations that report it,
    // and need not check text nobody asks about: SequenceRun with no text
    // tells it the state the emulation's parser is in.
    EMUFLAG_SEQUENCERUN = 1024,
};

class EMULATIONAPI : public SUBSYSAPI {
public:
    virtual int Initialize() = 0;                                          // 19
    virtual int UpAndRunning() = 0;                                        // 20
    virtual int conputs(char const* s, long len) = 0;                      // 21
    virtual int conputws(wchar_t const* s, long len) = 0;                  // 22
    virtual int InfoOut(char const* s) = 0;                                // 23
    virtual int StringOut(wchar_t const* s, long len, signed char force) = 0; // 24
    virtual int ProcessKey(KEYBOARDEVENT const& event) = 0;                // 25
    virtual int TrackSize(int* cols, int* rows, signed char force) = 0;    // 26
    virtual int IsSequence(int* state, char c, int reserved) = 0;          // 27
    virtual int SetEmulation(int id, signed char force) = 0;               // 28
    virtual int SetCursorType(signed char big, int blink, signed char flag) = 0; // 29
    virtual int TrackColors(int back, int fore, int force) = 0;            // 30
    virtual int QueryUnixName(int n, char* dst) = 0;                       // 31
    virtual int QueryEnvironment(char* buf, int max, char const* specific) = 0; // 32
    virtual int QueryCursorPos(int* col, int* row) = 0;                    // 33
    virtual int QueryWinSize(int* cols, int* rows) = 0;                    // 34
    virtual int SetWinSize(int cols, int rows) = 0;                        // 35
    virtual int AdjustScreenSize(int* cols, int* rows) = 0;                // 36
    virtual int ClearScreen() = 0;                                         // 37
    virtual int SwitchSize(int cols, int rows) = 0;                        // 38
    virtual int SuppressOutput(int value) = 0;                             // 39
    virtual int FeedSymbolicKey(char const* name) = 0;                     // 40
    virtual int FeedKeyString(wchar_t const* s, int len, signed char expand) = 0; // 41
    virtual int HandleMouseEvent(int col, int row, int button, int up) = 0; // 42
    virtual int HandleTerminalEvent(EMULATION_EVENT event) = 0;            // 43
    virtual int HandleCustomEvent(char const* name, char* result, int size, void* data) = 0; // 44
    virtual int SyncCursorPos() = 0;                                       // 45
    virtual void* PrinterControl(int fnc, int arg) = 0;                    // 46
    virtual void SetCustomTitleWide(wchar_t const* title) = 0;             // 47
    virtual wchar_t const* QueryCustomTitleWide() = 0;                     // 48
    virtual int CheckFlag(unsigned long mask) = 0;                         // 49
    virtual int WantStreamMarkers() = 0;                                   // 50
    virtual int HasLocalEditing() = 0;                                     // 51
    virtual int WantUtf8Conversion() = 0;                                  // 52
    virtual int SendUtf8Keys() = 0;                                        // 53
    virtual int NoUnicode() = 0;                                           // 54
    virtual int NoTranslateDatastream() = 0;                               // 55
    // The received-character check over a run of characters, with
    // IsSequence's rule for the caller's top 8 bits of the state word: the
    // characters from text[0] on that all get the answer IsSequence gives
    // text[0], checked as IsSequence checks them one by one; their number,
    // positive when they are text, negative when they belong to sequences
    // (at least one for len > 0). Emulations without EMUFLAG_SEQUENCERUN
    // are asked character by character.
    virtual int SequenceRun(int* state, char const* text, int len) = 0;    // 56
};
