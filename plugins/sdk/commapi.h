// The session's communication layer as plug-ins call it (slots 19 to 55 after
// the plug-in host's). See subsysapi.h for the rules of the slot order.
#pragma once

#include "plugins/sdk/subsysapi.h"

struct KEYBOARDEVENT;
class MENU;

class COMMAPI : public SUBSYSAPI {
public:
    virtual int Initialize() = 0;                                          // 19
    virtual int OpenDevice(int devid, char const* devparm) = 0;            // 20
    virtual void CloseDevice() = 0;                                        // 21
    virtual int PrepareForFileTransfer(signed char mode) = 0;              // 22
    virtual int CleanupAfterFileTransfer(signed char mode) = 0;            // 23
    virtual int ProcessKey(KEYBOARDEVENT const& event) = 0;                // 24
    virtual void UngetData(char* data, int n) = 0;                         // 25
    virtual void UngetData(wchar_t* data, int n) = 0;                      // 26
    virtual int QueryNumAvail() = 0;                                       // 27
    virtual int QueryOnline() = 0;                                         // 28
    virtual int QuerySpeed() = 0;                                          // 29
    virtual void ReportStatus() = 0;                                       // 30
    virtual int SendBreak() = 0;                                           // 31
    virtual int ReadChar() = 0;                                            // 32
    virtual int WaitChar(int timeout_ms) = 0;                              // 33
    virtual void WriteChar(char c) = 0;                                    // 34
    virtual void WriteData(char const* data, long len) = 0;                // 35
    virtual int FeedData(char const* data, int len) = 0;                   // 36
    virtual int FeedMarker(wchar_t marker) = 0;                            // 37
    virtual int FlushInputBuffer(int keep) = 0;                            // 38
    virtual void PrintString(char const* text) = 0;                        // 39
    virtual void PrintStringW(wchar_t const* text) = 0;                    // 40
    virtual int PurgeLine(int timeout_ms, signed char echo) = 0;           // 41
    virtual int Connect(char const* target) = 0;                           // 42
    virtual int AbortConnect() = 0;                                        // 43
    virtual int Reset(signed char flag) = 0;                               // 44
    virtual int Disconnect() = 0;                                          // 45
    virtual int AcceptCalls(signed char on) = 0;                           // 46
    virtual int MakeMenu(MENU const& menu, signed char force) = 0;         // 47
    virtual int HandleMenuEvent(int id) = 0;                               // 48
    virtual void StartCommTimer(int ms) = 0;                               // 49
    virtual int HandleTimerEvent() = 0;                                    // 50
    virtual int HandleDeviceCommand(char const* cmd, char* result, int max, void* data) = 0; // 51
    virtual int CanAccept() = 0;                                           // 52
    virtual int TrackChanges() = 0;                                        // 53
    virtual void SetSuppressAsyncChangeTracking(signed char on) = 0;       // 54
    virtual int IsAcceptActive() = 0;                                      // 55
};
