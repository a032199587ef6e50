// SUBSYS: the plug-in host behind each of a session's three layers (COMM,
// EMULATION, FILETRANSFER), one module type each.
//
// It keeps the dictionary from sub-module names to ids in the registry
// store, finds the bundle holding an id through the module table, loads it,
// calls its entry points, records every loaded sub-module (60 records), hands
// each plug-in object its own QORPUBLIC, keeps one object "current" and
// forwards the parameter-string operations to it.
//
// Bundles: the plug-in folder of the stage tree (lib/qor/PlugIns, from the
// running program's own path), file names from the module table with ".dll"
// turned into ".so". The dictionary is built from, and "load all" loads, the
// module table's files of the type found in that folder; nothing is ever
// loaded from another folder, and a plug-in folder that is not an absolute
// path (a relative stage folder given for tests) loads nothing.
//
// A plug-in's answers are checked before they are used: an Intro that
// writes past the name buffer or the id array, gives a count that disagrees
// with its names and ids, or ids outside the type's range, an Initialize
// that returns nothing, a missing entry point or a bundle that does not load
// leave the host as it was; the reason is logged (and kept in LastFault).
//
// SUBSYS holds the work; SUBSYSLAYER<API> makes it the first nineteen
// virtual slots of a layer's plug-in-facing interface (COMMAPI, ...).
#pragma once

#include "plugins/sdk/qorsubsystem.h"
#include "plugins/sdk/subsysapi.h"

#include "velmot/core/hash.h"
#include "velmot/core/osyssync.h"
#include "velmot/core/strings.h"
#include "velmot/gui/wincontrols.h"

#include <cstdint>

class DLLINTERFACE;
class OPTSBASE;
class SESSIONLINK;

class SUBSYS {
public:
    struct TYPE {
        int type;
        int version;
        char upper[4];
        char lower[4];
        int idmax;
    };
    struct LOOKUP {
        int type; // -1 ends the table
        int id;
        int id_to;
        char const* file;
        int group;
    };
    // One loaded sub-module.
    struct RECORD {
        int id;
        int sub;
        int type;
        char Name[SS_NAMESIZE];
        char path[256];
        DLLINTERFACE* dll;    // only in the record of sub index 0, which owns it
        SUBSYSINITDATA init;  // the QORPUBLIC (owned) and the module handle
        QORSUBSYSTEM* object; // owned
        bool pinned;          // a thread may still be inside: never freed
    };
    static constexpr int MAXRECORDS = 60;
    static TYPE const SubsysTypes[3];
    static LOOKUP const Lookup[];
    // Profile parameter strings per type: DeviceOpts 24, EmulationOpts 32,
    // TransferOpts 24.
    static int const ParmCount[3];

    SUBSYS(SESSIONLINK& session, int type);
    ~SUBSYS();
    SUBSYS(SUBSYS const&) = delete;
    SUBSYS& operator=(SUBSYS const&) = delete;

    // The work of slots 2 to 18 (see subsysapi.h).
    void Cleanup();
    void SetCurrent(QORSUBSYSTEM* object);
    QORSUBSYSTEM* FindObject(int id);
    STRING QueryNameFromID(int id);
    int QueryIDFromPtr(void* object);
    int QueryIDFromName(char const* name);
    int QueryIDFromCurrent();
    int QueryList(char** names, char* buf, int* ids, int max, int preload, int strict);
    char* QueryStatus(char* buf);
    char* QueryParm(char* buf, int max);
    char* QueryStdParm(int id, char* buf);
    void SetParm(char const* parm);
    int MatchParms(int id, char* parm, int max, signed char replace, signed char negate);
    int ForceLoad(int ids, int op);
    void InvalidateLoadFlags();

    // Record index of id in this type, or -1.
    int QueryIndex(int id);
    // Module handle of the record whose object it is, or -1.
    intptr_t QuerySubsysDllHandle(void* object, signed char);
    int LoadOnDemand(int id);
    void LoadAllOfThem(signed char quiet);
    int IsFiltered(int id, char const* file, int strict);
    QORPUBLIC* FillQorPublic(int type, int id);
    int InitModule(char const* file);
    void BuildDictionary();
    bool SaveDictionary();

    // Keeps the object, its QORPUBLIC and its bundle for the rest of the
    // process: a thread that cannot be stopped may still run inside it.
    void PinObject(QORSUBSYSTEM* object);

    // Diagnostics: the last reason a plug-in was refused; the number of
    // records; the dictionary.
    STRING LastFault() const;
    int RecordCount();
    HASH const& Dict() const { return Dictionary; }
    int Type() const { return SubsysType; }

protected:
    // The entry points of a loaded bundle; false (with the fault recorded)
    // when either is missing.
    bool GetDllFunctions(DLLINTERFACE& dll, char const* name, SUBSYSINTRO* intro, SUBSYSINITIALIZE* init);
    void Fault(char const* format, ...) VELMOT_PRINTF(2, 3);
    SESSIONLINK& Link() const { return *Session; }

    SESSIONLINK* Session;
    HASH Dictionary;
    STRING ValueName;
    TYPE const* pType;
    bool AllLoaded = false;
    unsigned char ForceLoads[MAXRECORDS] = {};
    MUTEXSEM Lock;
    RECORD Records[MAXRECORDS] = {};
    int Count = 0;
    // The AT-command option set (empty; the modem device binds it).
    OPTSBASE* AtCmdOpts = nullptr;
    bool AtCmdOptsPinned = false;
    QORSUBSYSTEM* pCurrent = nullptr;
    int SubsysType;

private:
    STRING RegistryKey() const;
    mutable FASTMUTEX FaultLock;
    STRING FaultText;
};

// Makes SUBSYS the slots 0 to 18 of a layer's interface API. A layer
// derives from SUBSYSLAYER<COMMAPI> (or EMULATIONAPI, FILETRANSFERAPI),
// overrides what it must (Cleanup, SetCurrent) and adds its own slots.
template <class API>
class SUBSYSLAYER : public API, public SUBSYS {
public:
    SUBSYSLAYER(SESSIONLINK& session, int type) : SUBSYS(session, type) {}

    void Cleanup() override { SUBSYS::Cleanup(); }
    void SetCurrent(QORSUBSYSTEM* object) override { SUBSYS::SetCurrent(object); }
    QORSUBSYSTEM* FindObject(int id) override { return SUBSYS::FindObject(id); }
    STRING QueryNameFromID(int id) override { return SUBSYS::QueryNameFromID(id); }
    int QueryIDFromPtr(void* object) override { return SUBSYS::QueryIDFromPtr(object); }
    int QueryIDFromName(char const* name) override { return SUBSYS::QueryIDFromName(name); }
    int QueryIDFromCurrent() override { return SUBSYS::QueryIDFromCurrent(); }
    int QueryList(char** names, char* buf, int* ids, int max, int preload, int strict) override
    {
        return SUBSYS::QueryList(names, buf, ids, max, preload, strict);
    }
    char* QueryStatus(char* buf) override { return SUBSYS::QueryStatus(buf); }
    char* QueryParm(char* buf, int max) override { return SUBSYS::QueryParm(buf, max); }
    char* QueryStdParm(int id, char* buf) override { return SUBSYS::QueryStdParm(id, buf); }
    void SetParm(char const* parm) override { SUBSYS::SetParm(parm); }
    int MatchParms(int id, char* parm, int max, signed char replace, signed char negate) override
    {
        return SUBSYS::MatchParms(id, parm, max, replace, negate);
    }
    int ForceLoad(int ids, int op) override { return SUBSYS::ForceLoad(ids, op); }
    void InvalidateLoadFlags() override { SUBSYS::InvalidateLoadFlags(); }
    // The plug-in options dialog is built with the dialogs of the session
    // profile; until then there is no dialog to show.
    int OptionsDialog(CONTROLPARENT, int, char*, int, CONTROLID) override { return 0; }
    QORSUBSYSOPTSDIALOG* LoadOptionsSubDialog(CONTROLPARENT, int, int, char*, signed char) override
    {
        return nullptr;
    }
};
