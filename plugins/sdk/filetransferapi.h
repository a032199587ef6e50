// The session's file-transfer layer as plug-ins call it (slots 19 to 37
// after the plug-in host's). See subsysapi.h for the rules of the slot order.
#pragma once

#include "plugins/sdk/subsysapi.h"

#include <cstdarg>

class EVENTSEM;

class FILETRANSFERAPI : public SUBSYSAPI {
public:
    virtual int printf_to_window(char const* format, va_list args) = 0;   // 19
    virtual void logdebugbyte(char const* tag, char direction, char byte) = 0; // 20
    virtual void logdebugstring(char const* tag, char const* text) = 0;   // 21
    virtual void logdebugstring2(char const* tag, char const* text, int n) = 0; // 22
    virtual int SetProtocol(int id, signed char always) = 0;               // 23
    virtual int Upload(char const* names, int proto, char* parm, signed char automatic, EVENTSEM* sem) = 0; // 24
    virtual int Download(char const* name, int proto, char* parm, signed char automatic, EVENTSEM* sem) = 0; // 25
    virtual int TransferTimerTick() = 0;                                   // 26
    virtual int CancelZmodem(signed char send) = 0;                        // 27
    virtual int OnEndTransfer(signed char type, int error) = 0;            // 28
    virtual int CheckPath(char* name, unsigned long remotetime, int* wantresume, int download) = 0; // 29
    virtual int AfterTransfer(char const* name, int download) = 0;         // 30
    virtual int SetBinary(signed char binary) = 0;                         // 31
    virtual int WatchAutoStart(char c, wchar_t* out, int* outlen) = 0;     // 32
    virtual int HandleMenuEvent(int id, char const* text) = 0;             // 33
    virtual int HandleCustomEvent(char const* name, char* result, int size, void* data) = 0; // 34
    virtual int NoSuppressScreenOutput() = 0;                              // 35
    virtual int TransferWin(int type, unsigned long long value) = 0;       // 36
    virtual int TransferWinEvent(int type, unsigned long long value) = 0;  // 37
};
