// The plug-in interface, host side: the virtual tables through which plug-in
// modules call a session's layers.
//
// A plug-in never links the program. It reaches the session's communication,
// emulation and file-transfer layers through the pointers in its QORPUBLIC
// (qorpublic.h) and calls them by virtual slot, so the order of the
// operations below is the interface: slot order is declaration order, the
// two destructors (complete and deleting) take slots 0 and 1. New operations
// are only ever appended. tests/plugins/test_sdk_slots.cpp pins every slot.
//
// The host's layers derive from these classes (COMM from COMMAPI, and so
// on); SUBSYSAPI holds the slots 0 to 18 that all three share.
#pragma once

#include "velmot/core/strings.h"

#include <cstdint>

struct CONTROLID;
struct CONTROLPARENT;
class QORSUBSYSTEM;
class QORSUBSYSOPTSDIALOG;

// Module types of the plug-in host and their limits.
enum : int {
    SS_TYPE_DEVICE = 0,
    SS_TYPE_EMULATION = 1,
    SS_TYPE_TRANSFER = 2,
};
constexpr int SS_INTERFACEVERSION = 1724;
constexpr int SS_MAXDEVICE = 16;
constexpr int SS_MAXEMULATION = 32;
constexpr int SS_MAXTRANSFER = 12;

// Received characters travel as 32-bit values: 0 to 255 are bytes, 256 says
// that nothing is available, 0xFFF7 to 0xFFFA are stream markers (0xFFF7 is
// the telnet end of record), other values above 255 are wide characters
// pushed back into the input.
constexpr int COMM_NOCHAR = 256;
constexpr wchar_t COMM_MARKER_EOR = 0xFFF7;
constexpr wchar_t COMM_MARKER_FIRST = 0xFFF7;
constexpr wchar_t COMM_MARKER_LAST = 0xFFFA;

class SUBSYSAPI {
public:
    virtual ~SUBSYSAPI() = default;                                        // 0, 1
    virtual void Cleanup() = 0;                                            // 2
    virtual void SetCurrent(QORSUBSYSTEM* object) = 0;                     // 3
    virtual QORSUBSYSTEM* FindObject(int id) = 0;                          // 4
    // The sub-module name of id; "<unknown>" when no module has it; an
    // unset text for id 0 of the device layer. Returned by value: the text
    // stays valid however often and from whichever thread it is asked.
    virtual STRING QueryNameFromID(int id) = 0;                      // 5
    virtual int QueryIDFromPtr(void* object) = 0;                          // 6
    virtual int QueryIDFromName(char const* name) = 0;                     // 7
    virtual int QueryIDFromCurrent() = 0;                                  // 8
    // buf must hold max times 64 bytes: each name is cut to 63 characters.
    virtual int QueryList(char** names, char* buf, int* ids, int max, int preload, int strict) = 0; // 9
    virtual char* QueryStatus(char* buf) = 0;                              // 10
    virtual char* QueryParm(char* buf, int max) = 0;                       // 11
    // buf holds at least 128 characters (one parameter string).
    virtual char* QueryStdParm(int id, char* buf) = 0;                     // 12
    virtual void SetParm(char const* parm) = 0;                            // 13
    virtual int MatchParms(int id, char* parm, int max, signed char replace, signed char negate) = 0; // 14
    virtual int ForceLoad(int ids, int op) = 0;                            // 15
    virtual void InvalidateLoadFlags() = 0;                                // 16
    virtual int OptionsDialog(CONTROLPARENT parent, int id, char* parm, int max, CONTROLID target) = 0; // 17
    virtual QORSUBSYSOPTSDIALOG* LoadOptionsSubDialog(CONTROLPARENT parent, int id, int max, char* parm,
                                                      signed char flag) = 0; // 18
};

// Operations of ForceLoad.
enum : int {
    SS_FORCELOAD_ADD = 0,
    SS_FORCELOAD_QUERY = 1,
    SS_FORCELOAD_LOAD = 2,
};
