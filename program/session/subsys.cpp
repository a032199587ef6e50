// The plug-in host: module table, dictionary, loading and the parameter
// strings of the current plug-in object.
#include "program/session/subsys.h"

#include "program/session/qorpublic.h"
#include "program/session/sessionlink.h"
#include "program/settings/optsbase.h"

#include "velmot/core/dllinterface.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/registry.h"
#include "platform/services/bundle.h"
#include "platform/services/folders.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <mutex>
#include <strings.h>
#include <string>
#include <vector>

SUBSYS::TYPE const SUBSYS::SubsysTypes[3] = {
    {0, SS_INTERFACEVERSION, "DEV", "dev", SS_MAXDEVICE},
    {1, SS_INTERFACEVERSION, "EMU", "emu", SS_MAXEMULATION},
    {2, SS_INTERFACEVERSION, "XFR", "xfr", SS_MAXTRANSFER},
};

int const SUBSYS::ParmCount[3] = {24, 32, 24};

SUBSYS::LOOKUP const SUBSYS::Lookup[] = {
    {0, 1, 1, "halbrin.dll", 11},
    {0, 2, 2, "quimrel.dll", 11},
    {0, 3, 3, "sarvoth.dll", 10},
    {0, 4, 5, "tennick.dll", 12},
    {0, 6, 6, "quimrel2.dll", 11},
    {0, 7, 7, "umbrel.dll", 11},
    {0, 8, 8, "vostrin.dll", 12},
    {0, 9, 9, "welkam.dll", 10},
    {0, 10, 10, "sarvoth.dll", 10},
    {0, 11, 11, "tennick.dll", 10},
    {0, 12, 12, "halbrin.dll", 11},
    {1, 0, 0, "yelbrin.dll", 20},
    {1, 1, 1, "pindrel.dll", 20},
    {1, 2, 5, "corvane.dll", 20},
    {1, 6, 6, "pindrel.dll", 20},
    {1, 8, 8, "pindrel.dll", 20},
    {1, 9, 10, "dulmere.dll", 22},
    {1, 11, 11, "farrond.dll", 21},
    {1, 12, 12, "gilvane.dll", 22},
    {1, 13, 15, "corvane.dll", 20},
    {1, 17, 17, "peltra.dll", 21},
    {1, 18, 19, "corvane.dll", 20},
    {2, 0, 2, "hestrel.dll", 0},
    {2, 3, 3, "sorbel.dll", 0},
    {2, 4, 4, "jorvane.dll", 0},
    {2, 5, 5, "dorvix.dll", 0},
    {2, 6, 6, "kalment.dll", 0},
    {-1, 0, 0, nullptr, 0},
};

namespace {

char const kVersion[] = "6.44";

// The module name of a file: the name before the first ".", upper-cased.
std::string ModuleName(char const* file)
{
    std::string name = file ? file : "";
    size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    size_t dot = name.find('.');
    if (dot != std::string::npos)
        name.erase(dot);
    for (char& c : name)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return name;
}

// Bundles load only from the program's own plug-in folder, named by an
// absolute path; a folder that would be found relative to the current one
// is refused.
bool PlugInFolderAbsolute()
{
    std::string folder = plat::PlugInsFolder();
    return !folder.empty() && folder[0] == '/';
}

// Whether the plug-in folder holds the bundle of a module file (the name is
// matched without regard to case, as the loader does).
bool BundlePresent(char const* file)
{
    std::string want = plat::BundleFileName(file);
    DIR* dir = opendir(plat::PlugInsFolder().c_str());
    if (!dir)
        return false;
    bool found = false;
    while (dirent* e = readdir(dir)) {
        if (strcasecmp(e->d_name, want.c_str()) == 0) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

// The distinct module files of a type, in table order.
std::vector<char const*> ModuleFiles(int type)
{
    std::vector<char const*> files;
    for (SUBSYS::LOOKUP const* row = SUBSYS::Lookup; row->type != -1; ++row) {
        if (row->type != type)
            continue;
        bool seen = false;
        for (char const* f : files)
            seen = seen || strcasecmp(f, row->file) == 0;
        if (!seen)
            files.push_back(row->file);
    }
    return files;
}

// "[%d]" at the start of a parameter string ("]" as the third or fourth
// character): its id, else -1.
int TagId(char const* parm)
{
    if (!parm || parm[0] != '[')
        return -1;
    if (parm[1] == '\0' || (parm[2] != ']' && (parm[2] == '\0' || parm[3] != ']')))
        return -1;
    int id = -1;
    if (sscanf(parm, "[%d]", &id) != 1)
        return -1;
    return id;
}

void CopyCut(char* dst, int size, char const* src)
{
    if (!dst || size < 1)
        return;
    snprintf(dst, static_cast<size_t>(size), "%s", src ? src : "");
}

// A plug-in writes answers into buffers whose size it is not always told:
// it gets a roomy zeroed scratch block, and the caller takes at most what
// fits from it.
constexpr int kScratch = 8192;

// What an Intro entry point answered, checked.
struct INTROANSWER {
    int count = 0;
    char names[SUBSYS::MAXRECORDS][SS_NAMESIZE] = {};
    int ids[SUBSYS::MAXRECORDS] = {};
};

constexpr int kNameGuard = 4096;
constexpr int kIdCapacity = 64;
constexpr int kIdGuard = 1024;
constexpr unsigned char kGuardByte = 0xA5;
constexpr int kIdUnset = INT_MIN;
constexpr int kIdGuardValue = 0x5A5A5A5A;

// What pinned records leave behind stays reachable for the rest of the
// process (a thread may still run in it); nothing here is ever freed.
void KeepForever(void* p)
{
    static std::vector<void*>* kept = new std::vector<void*>;
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    if (p)
        kept->push_back(p);
}

} // namespace

SUBSYS::SUBSYS(SESSIONLINK& session, int type) : Session(&session), SubsysType(type)
{
    LOGIT("SUBSYS::SUBSYS\n");
    if (type < 0 || type > 2) {
        AssertMsg(0, "type>=0 && type<=2", __FILE__, __LINE__);
        SubsysType = 0;
    }
    pType = &SubsysTypes[SubsysType];
    ValueName.Format("%s.%s", "Dictionary", pType->upper);

    REGISTRY reg(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", RegistryKey().Buf(), REGISTRY::READWRITE);
    STRING value;
    if (reg.Read(ValueName.Buf(), &value) && value.NotEmpty()) {
        value.Replace("|", "\n");
        HASH stored(value);
        int v = stored.KeyIndex("_Version");
        if (v != -1 && strcasecmp(stored.Values[v]->Buf(), kVersion) == 0)
            Dictionary = stored;
    }
    if (!Dictionary.CheckKey("_Version")) {
        BuildDictionary();
        SaveDictionary();
    }
    // The AT-command option set the modem device (id 1) gets in its
    // QORPUBLIC: empty, the device binds it to its own block and file.
    AtCmdOpts = new OPTSBASE(nullptr, nullptr, 0);
    LOGIT("SUBSYS::SUBSYS done\n");
}

SUBSYS::~SUBSYS()
{
    LOGIT("SUBSYS::~SUBSYS\n");
    Cleanup();
    // A device kept for a thread that cannot be stopped may still use it.
    if (AtCmdOptsPinned)
        KeepForever(AtCmdOpts);
    else
        delete AtCmdOpts;
    AtCmdOpts = nullptr;
    SaveDictionary();
    LOGIT("SUBSYS::~SUBSYS done\n");
}

STRING SUBSYS::RegistryKey() const
{
    STRING key = Link().AppRegKey();
    key.Append("\\Subsystems");
    return key;
}

void SUBSYS::Fault(char const* format, ...)
{
    STRING text;
    va_list args;
    va_start(args, format);
    text.FormatV(format, args);
    va_end(args);
    {
        FaultLock.Obtain();
        FaultText = text;
        FaultLock.Release();
    }
    LOGIT("SUBSYS %s: plug-in refused: %s\n", pType->upper, text.Buf());
    // Logged, never asked: the fault is the plug-in's, not the user's.
    AssertMsg(0, "plug-in answer", __FILE__, __LINE__, text.Buf(), true);
}

STRING SUBSYS::LastFault() const
{
    FaultLock.Obtain();
    STRING text = FaultText;
    FaultLock.Release();
    return text;
}

int SUBSYS::RecordCount()
{
    MUTEXLOCK lock(Lock);
    return Count;
}

bool SUBSYS::GetDllFunctions(DLLINTERFACE& dll, char const* name, SUBSYSINTRO* intro, SUBSYSINITIALIZE* init)
{
    char fintro[96], finit[96];
    snprintf(fintro, sizeof fintro, "%s_Intro", name);
    snprintf(finit, sizeof finit, "%s_Initialize", name);
    void* pintro = dll.GetFunction(fintro);
    void* pinit = dll.GetFunction(finit);
    if (!pintro && !pinit) {
        snprintf(fintro, sizeof fintro, "%s_Intro", pType->lower);
        snprintf(finit, sizeof finit, "%s_Initialize", pType->lower);
        pintro = dll.GetFunction(fintro);
        pinit = dll.GetFunction(finit);
    }
    if (intro) {
        *intro = reinterpret_cast<SUBSYSINTRO>(pintro);
        if (!pintro) {
            Fault("%s has no entry point %s", dll.ModuleName(), fintro);
            return false;
        }
    }
    if (init) {
        *init = reinterpret_cast<SUBSYSINITIALIZE>(pinit);
        if (!pinit) {
            Fault("%s has no entry point %s", dll.ModuleName(), finit);
            return false;
        }
    }
    return true;
}

namespace {

// Calls Intro with a guarded name buffer and id array and checks its answer.
// Returns 1 with at least one sub-module in *out, 0 when the bundle gave no
// id, -1 (with *why) when the answer cannot be trusted.
int CallIntro(SUBSYSINTRO intro, int version, int idmax, STRING* why, INTROANSWER* out)
{
    std::vector<char> names(SS_INTRONAMESIZE + kNameGuard, static_cast<char>(kGuardByte));
    std::fill(names.begin(), names.begin() + SS_INTRONAMESIZE, '\0');
    std::vector<int> ids(kIdCapacity + kIdGuard, kIdGuardValue);
    ids[0] = -1;
    std::fill(ids.begin() + 1, ids.begin() + kIdCapacity, kIdUnset);

    int n = 0;
    try {
        n = intro(version, names.data(), ids.data());
    } catch (...) {
        why->Format("Intro threw an exception");
        return -1;
    }
    for (int i = SS_INTRONAMESIZE; i < SS_INTRONAMESIZE + kNameGuard; ++i) {
        if (static_cast<unsigned char>(names[i]) != kGuardByte) {
            why->Format("Intro wrote past the %d-byte name buffer", SS_INTRONAMESIZE);
            return -1;
        }
    }
    for (int i = kIdCapacity; i < kIdCapacity + kIdGuard; ++i) {
        if (ids[i] != kIdGuardValue) {
            why->Format("Intro wrote past the id array of %d entries", kIdCapacity);
            return -1;
        }
    }
    if (ids[0] == -1)
        return 0;
    if (n < 1 || n > SUBSYS::MAXRECORDS) {
        why->Format("Intro gave the count %d", n);
        return -1;
    }
    for (int i = 0; i < n; ++i) {
        if (ids[i] == kIdUnset) {
            why->Format("Intro gave the count %d but %d ids", n, i);
            return -1;
        }
        if (ids[i] < 0 || ids[i] >= idmax) {
            why->Format("Intro gave the id %d, outside 0 to %d", ids[i], idmax - 1);
            return -1;
        }
    }
    if (n < kIdCapacity && ids[n] != kIdUnset && ids[n] != -1) {
        why->Format("Intro gave the count %d but more ids", n);
        return -1;
    }
    int pos = 0;
    for (int i = 0; i < n; ++i) {
        size_t len = strnlen(&names[pos], static_cast<size_t>(SS_INTRONAMESIZE - pos));
        if (pos + static_cast<int>(len) >= SS_INTRONAMESIZE) {
            why->Format("Intro gave the count %d but the names end at name %d", n, i);
            return -1;
        }
        if (len == 0) {
            why->Format("Intro gave an empty name for the id %d", ids[i]);
            return -1;
        }
        if (len >= static_cast<size_t>(SS_NAMESIZE)) {
            why->Format("Intro gave a name of %d characters", static_cast<int>(len));
            return -1;
        }
        for (size_t k = 0; k < len; ++k) {
            unsigned char c = static_cast<unsigned char>(names[pos + k]);
            if (c < 32 || c == 127 || c == '|' || c == '=') {
                why->Format("Intro gave a name holding the byte %d", c);
                return -1;
            }
        }
        memcpy(out->names[i], &names[pos], len);
        out->names[i][len] = '\0';
        out->ids[i] = ids[i];
        pos += static_cast<int>(len) + 1;
    }
    if (pos < SS_INTRONAMESIZE && names[pos] != '\0') {
        why->Format("Intro gave the count %d but more names", n);
        return -1;
    }
    out->count = n;
    return 1;
}

} // namespace

void SUBSYS::BuildDictionary()
{
    LOGIT("SUBSYS::BuildDictionary %s\n", pType->upper);
    Dictionary = HASH();
    if (!PlugInFolderAbsolute()) {
        Fault("the plug-in folder %s is not an absolute path", plat::PlugInsFolder().c_str());
        return;
    }
    int idmax = std::min(pType->idmax, ParmCount[SubsysType]);
    for (char const* file : ModuleFiles(SubsysType)) {
        if (!BundlePresent(file))
            continue;
        DLLINTERFACE dll;
        if (!dll.Load(file)) {
            Fault("%s does not load", file);
            continue;
        }
        SUBSYSINTRO intro = nullptr;
        if (!GetDllFunctions(dll, ModuleName(file).c_str(), &intro, nullptr))
            continue;
        INTROANSWER answer;
        STRING why;
        int rc = CallIntro(intro, pType->version, idmax, &why, &answer);
        if (rc < 0) {
            Fault("%s: %s", file, why.Buf());
            continue;
        }
        for (int i = 0; i < answer.count; ++i)
            Dictionary[answer.names[i]] = STRING(answer.ids[i]);
    }
    LOGIT("SUBSYS::BuildDictionary done, %d entries\n", Dictionary.Keys.NumItems());
}

bool SUBSYS::SaveDictionary()
{
    MUTEXLOCK lock(Lock);
    Dictionary["_Version"] = kVersion;
    STRING text = Dictionary.AsString();
    text.Replace("\n", "|");
    REGISTRY reg(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", RegistryKey().Buf(), REGISTRY::READWRITE);
    return reg.Write(ValueName.Buf(), text.Buf());
}

QORPUBLIC* SUBSYS::FillQorPublic(int type, int id)
{
    switch (type) {
    case SS_TYPE_DEVICE:
        ASSERTMSG(id < SS_MAXDEVICE, "idsub<SS_MAXDEVICE");
        ASSERTMSG(id < ParmCount[0], "DeviceOpts");
        break;
    case SS_TYPE_EMULATION:
        ASSERTMSG(id < SS_MAXEMULATION, "idsub<SS_MAXEMULATION");
        ASSERTMSG(id < ParmCount[1], "EmulationOpts");
        break;
    default:
        ASSERTMSG(id < SS_MAXTRANSFER, "idsub<SS_MAXTRANSFER");
        ASSERTMSG(id < ParmCount[2], "TransferOpts");
        break;
    }
    auto* zp = new HOSTPUBLIC(Link());
    if (SubsysType == SS_TYPE_DEVICE && id == 1) {
        zp->AtCmdOpts = AtCmdOpts;
        zp->AtCmdOptlist = Link().AtCmdOptlist();
    }
    return zp;
}

int SUBSYS::InitModule(char const* file)
{
    std::string name = ModuleName(file);
    LOGIT("SUBSYS::InitModule %s (%s)\n", file, name.c_str());
    if (!PlugInFolderAbsolute()) {
        Fault("the plug-in folder %s is not an absolute path", plat::PlugInsFolder().c_str());
        return 1;
    }
    auto* dll = new DLLINTERFACE();
    if (!dll->Load(file)) {
        if (BundlePresent(file))
            Fault("%s does not load", file);
        delete dll;
        return 1;
    }
    SUBSYSINTRO intro = nullptr;
    SUBSYSINITIALIZE init = nullptr;
    if (!GetDllFunctions(*dll, name.c_str(), &intro, &init)) {
        delete dll;
        return 1;
    }
    INTROANSWER answer;
    STRING why;
    int idmax = std::min(pType->idmax, ParmCount[SubsysType]);
    int intro_rc = CallIntro(intro, pType->version, idmax, &why, &answer);
    if (intro_rc <= 0) {
        if (intro_rc < 0)
            Fault("%s: %s", file, why.Buf());
        delete dll;
        return 1;
    }

    MUTEXLOCK lock(Lock);
    int rc = 1;
    bool owned = false;
    for (int i = 0; i < answer.count; ++i) {
        if (QueryIndex(answer.ids[i]) != -1) {
            LOGIT("SUBSYS::InitModule %s: id %d is loaded already\n", file, answer.ids[i]);
            continue;
        }
        if (Count >= MAXRECORDS) {
            Fault("%s: no room for the id %d (%d records)", file, answer.ids[i], MAXRECORDS);
            break;
        }
        RECORD& r = Records[Count];
        r = RECORD{};
        r.sub = i;
        r.id = answer.ids[i];
        r.type = SubsysType;
        CopyCut(r.path, sizeof r.path, file);
        CopyCut(r.Name, sizeof r.Name, answer.names[i]);
        r.init.Public = FillQorPublic(SubsysType, r.id);
        r.init.Module = dll;
        Dictionary[r.Name] = STRING(r.id);
        QORSUBSYSTEM* object = nullptr;
        try {
            object = init(r.init, i);
        } catch (...) {
            object = nullptr;
        }
        if (!object) {
            Fault("%s: Initialize of %s (sub-module %d) gave no object", file, r.Name, i);
            delete r.init.Public;
            r = RECORD{};
            break;
        }
        r.object = object;
        if (!owned) {
            r.dll = dll;
            owned = true;
        }
        ++Count;
        rc = 0;
        LOGIT("SUBSYS::InitModule %s: id %d \"%s\" loaded as record %d\n", file, r.id, r.Name, Count - 1);
    }
    if (!owned) {
        // No record took the bundle: it goes again.
        dll->Unload();
        delete dll;
    }
    Link().FlushRedraws();
    return rc;
}

int SUBSYS::QueryIndex(int id)
{
    MUTEXLOCK lock(Lock);
    for (int i = 0; i < Count; ++i) {
        if (Records[i].id == id && Records[i].type == SubsysType)
            return i;
    }
    return -1;
}

intptr_t SUBSYS::QuerySubsysDllHandle(void* object, signed char)
{
    MUTEXLOCK lock(Lock);
    for (int i = 0; i < Count; ++i) {
        if (object && Records[i].object == object)
            return reinterpret_cast<intptr_t>(Records[i].init.Module);
    }
    return -1;
}

int SUBSYS::LoadOnDemand(int id)
{
    MUTEXLOCK lock(Lock);
    if (QueryIndex(id) != -1)
        return 0;
    for (LOOKUP const* row = Lookup; row->type != -1; ++row)
        ASSERTMSG(row->id_to < SubsysTypes[row->type].idmax, row->file);
    for (LOOKUP const* row = Lookup; row->type != -1; ++row) {
        if (row->type == SubsysType && id >= row->id && id <= row->id_to)
            return InitModule(row->file);
    }
    return 1;
}

void SUBSYS::LoadAllOfThem(signed char quiet)
{
    if (AllLoaded)
        return;
    LOGIT("SUBSYS::LoadAllOfThem %s\n", pType->upper);
    std::vector<char const*> files;
    for (char const* file : ModuleFiles(SubsysType)) {
        if (BundlePresent(file))
            files.push_back(file);
    }
    if (!quiet) {
        Link().Notify(OSYS::GetStringFromResource("IDS_LOADING_SUBSYS").Buf(), 0);
        Link().FlushRedraws();
    }
    MUTEXLOCK lock(Lock);
    for (char const* file : files) {
        bool held = false;
        for (int i = 0; i < Count && !held; ++i)
            held = strcasecmp(Records[i].path, file) == 0;
        if (!held && !IsFiltered(-1, file, 0))
            InitModule(file);
    }
    AllLoaded = true;
}

QORSUBSYSTEM* SUBSYS::FindObject(int id)
{
    int i = QueryIndex(id);
    if (i != -1 && Records[i].object)
        return Records[i].object;
    if (LoadOnDemand(id) != 0) {
        LoadAllOfThem(0);
        if (OSYS::FileExists("subsys.cpp")) {
            STRING text;
            text.Format("QOR-Subsystem /%d-%d/ missing from LoadOnDemand-List (will have to load all subsystems)!",
                        SubsysType, id);
            Link().WarningMessage(text.Buf());
        }
    }
    MUTEXLOCK lock(Lock);
    i = QueryIndex(id);
    return i != -1 ? Records[i].object : nullptr;
}

STRING SUBSYS::QueryNameFromID(int id)
{
    if (SubsysType == SS_TYPE_DEVICE && id == 0)
        return STRING();
    MUTEXLOCK lock(Lock);
    for (int i = 0; i < Dictionary.Keys.NumItems(); ++i) {
        STRING const* key = Dictionary.Keys[i];
        if (key->Buf()[0] == '_')
            continue;
        char* end = nullptr;
        long value = strtol(Dictionary.Values[i]->Buf(), &end, 10);
        if (end != Dictionary.Values[i]->Buf() && value == id)
            return *key;
    }
    return STRING("<unknown>");
}

int SUBSYS::QueryIDFromPtr(void* object)
{
    if (!object)
        return -1;
    MUTEXLOCK lock(Lock);
    for (int i = 0; i < Count; ++i) {
        if (Records[i].object == object)
            return Records[i].id;
    }
    return -1;
}

int SUBSYS::QueryIDFromName(char const* name)
{
    if (!name)
        return -1;
    static char const* const aliases[][2] = {
        {"Serial/Modem", "Serial/Modem"},
        {"SSH", "Secure Shell"},
        {"IBM 3270", "TN3270"},
        {"IBM 5250", "TN5250"},
    };
    for (auto const& alias : aliases) {
        if (strcasecmp(name, alias[0]) == 0) {
            name = alias[1];
            break;
        }
    }
    MUTEXLOCK lock(Lock);
    int i = Dictionary.KeyIndex(name);
    if (i == -1 || name[0] == '_')
        return -1;
    char* end = nullptr;
    char const* text = Dictionary.Values[i]->Buf();
    long value = strtol(text, &end, 10);
    return end != text ? static_cast<int>(value) : -1;
}

int SUBSYS::QueryIDFromCurrent()
{
    return QueryIDFromPtr(pCurrent);
}

void SUBSYS::SetCurrent(QORSUBSYSTEM* object)
{
    pCurrent = object;
}

int SUBSYS::QueryList(char** names, char* buf, int* ids, int max, int preload, int strict)
{
    if (preload != -1)
        ForceLoad(preload, SS_FORCELOAD_LOAD);
    if (max <= 0)
        return 0;
    struct ENTRY {
        std::string name;
        int id;
    };
    std::vector<ENTRY> entries;
    {
        MUTEXLOCK lock(Lock);
        for (int i = 0; i < Dictionary.Keys.NumItems(); ++i) {
            char const* key = Dictionary.Keys[i]->Buf();
            if (key[0] == '_')
                continue;
            int id = atoi(Dictionary.Values[i]->Buf());
            entries.push_back({key, id});
        }
    }
    std::vector<ENTRY> shown;
    for (ENTRY const& e : entries) {
        if (IsFiltered(e.id, nullptr, strict))
            continue;
        if (static_cast<int>(shown.size()) >= max - 1) {
            AssertMsg(0, "n<max-1", __FILE__, __LINE__);
            break;
        }
        shown.push_back(e);
    }
    if (names) {
        std::stable_sort(shown.begin(), shown.end(),
                         [](ENTRY const& a, ENTRY const& b) { return strcasecmp(a.name.c_str(), b.name.c_str()) < 0; });
    }
    int n = static_cast<int>(shown.size());
    char* out = buf;
    for (int i = 0; i < n; ++i) {
        if (names && out) {
            CopyCut(out, SS_NAMESIZE, shown[i].name.c_str());
            names[i] = out;
            out += strlen(out) + 1;
        }
        if (ids)
            ids[i] = shown[i].id;
    }
    if (names)
        names[n] = nullptr;
    if (ids)
        ids[n] = -1;
    return n;
}

char* SUBSYS::QueryStatus(char* buf)
{
    if (!buf)
        return buf;
    if (!pCurrent) {
        strcpy(buf, " ");
        return buf;
    }
    std::vector<char> scratch(kScratch, '\0');
    pCurrent->QueryStatus(scratch.data());
    scratch[kScratch - 1] = '\0';
    CopyCut(buf, 256, scratch.data());
    return buf;
}

char* SUBSYS::QueryParm(char* buf, int max)
{
    if (!buf || max < 1)
        return buf;
    if (!pCurrent) {
        CopyCut(buf, max, "[0]NULL");
        return buf;
    }
    std::vector<char> scratch(static_cast<size_t>(max) + kScratch, '\0');
    pCurrent->QueryParm(scratch.data(), max);
    scratch[scratch.size() - 1] = '\0';
    CopyCut(buf, max, scratch.data());
    return buf;
}

char* SUBSYS::QueryStdParm(int id, char* buf)
{
    if (!buf)
        return buf;
    QORSUBSYSTEM* object = FindObject(id);
    if (!object) {
        snprintf(buf, 128, "[%d]", id);
        return buf;
    }
    std::vector<char> scratch(kScratch, '\0');
    object->QueryStdParm(scratch.data());
    scratch[kScratch - 1] = '\0';
    CopyCut(buf, 128, scratch.data());
    return buf;
}

void SUBSYS::SetParm(char const* parm)
{
    if (!pCurrent) {
        AssertMsg(0, "this->pCurrent", __FILE__, __LINE__);
        return;
    }
    if (!parm || !*parm)
        return;
    int id = QueryIDFromCurrent();
    char text[1024];
    int tag = TagId(parm);
    if (tag == -1) {
        snprintf(text, sizeof text, "[%d]%s", id, parm);
        tag = id;
    } else {
        CopyCut(text, sizeof text, parm);
    }
    if (tag != id)
        QueryStdParm(id, text);
    pCurrent->SetParm(text);
    Link().UpdateStatusbar();
}

int SUBSYS::MatchParms(int id, char* parm, int max, signed char replace, signed char negate)
{
    if (!parm || max < 1)
        return 0;
    char const* p = parm;
    if (*p == '-') {
        ++p;
        negate = 1;
    }
    int tag = TagId(p);
    if (tag != id && replace) {
        std::string text = negate ? "-" : "";
        if (id != QueryIDFromCurrent()) {
            char const* stored = Link().ParmString(SubsysType, id);
            if (stored)
                text.append(stored, strnlen(stored, 128));
        } else {
            int room = max - static_cast<int>(text.size());
            if (room > 1) {
                std::vector<char> current(static_cast<size_t>(room), '\0');
                QueryParm(current.data(), room);
                text += current.data();
            }
        }
        if (text.empty()) {
            char std[128];
            QueryStdParm(id, std);
            text = std;
        }
        CopyCut(parm, max, text.c_str());
    }
    return tag == id ? 1 : 0;
}

int SUBSYS::ForceLoad(int ids, int op)
{
    int from = ids, to = ids;
    if (ids > 65535) {
        from = ids & 0xFFFF;
        to = (ids >> 16) & 0xFFFF;
    }
    int idsub = from, idto = to;
    if (!(idsub >= 0 && idsub < static_cast<int>(ARRAYMAX(this->ForceLoads)))) {
        AssertMsg(0, "idsub>=0 && idsub<ARRAYMAX(this->ForceLoads)", __FILE__, __LINE__);
        return 0;
    }
    if (!(idto >= 0 && idto < static_cast<int>(ARRAYMAX(this->ForceLoads)))) {
        AssertMsg(0, "idto>=0 && idto<ARRAYMAX(this->ForceLoads)", __FILE__, __LINE__);
        return 0;
    }
    switch (op) {
    case SS_FORCELOAD_ADD:
        if (ForceLoads[from])
            return 0;
        ForceLoads[from] = 1;
        return 1;
    case SS_FORCELOAD_QUERY:
        for (int i = from; i <= to; ++i) {
            if (ForceLoads[i])
                return 1;
        }
        return 0;
    case SS_FORCELOAD_LOAD: {
        ForceLoads[from] = 1;
        if (LoadOnDemand(from) == 0)
            return 1;
        if (OSYS::FileExists("subsys.cpp"))
            AssertMsg(0, "LoadOnDemand(idsub)==0", __FILE__, __LINE__);
        return 0;
    }
    default:
        return 0;
    }
}

void SUBSYS::InvalidateLoadFlags()
{
    AllLoaded = false;
}

int SUBSYS::IsFiltered(int id, char const* file, int strict)
{
    std::string reduced;
    if (file) {
        reduced = file;
        size_t slash = reduced.find_last_of("/\\");
        if (slash != std::string::npos)
            reduced.erase(0, slash + 1);
        size_t dot = reduced.find('.');
        if (dot != std::string::npos)
            reduced.erase(dot);
        reduced += ".dll";
    }
    LOOKUP const* found = nullptr;
    for (LOOKUP const* row = Lookup; row->type != -1 && !found; ++row) {
        if ((row->type == SubsysType && id != -1 && id >= row->id && id <= row->id_to) ||
            (file && strcasecmp(row->file, reduced.c_str()) == 0))
            found = row;
    }
    if (!found) {
        // Ids come from the plug-ins' own answers: no table row is their
        // fault, and the module is shown.
        LOGIT("SUBSYS::IsFiltered: no module-table row for %d %s\n", id, file ? file : "");
        return 0;
    }
    int group = found->group;
    if (group != 10 && group != 11 && group != 12 && group != 20 && group != 21 && group != 22)
        return 0;
    int setting = Link().LoadGroupSetting(group);
    bool filtered = setting == 0 || (setting == 2 && strict);
    if (!filtered)
        return 0;
    int query = file && id == -1 ? ((found->id_to << 16) | found->id) : id;
    if (file && id == -1 && found->id == found->id_to)
        query = found->id;
    return ForceLoad(query, SS_FORCELOAD_QUERY) ? 0 : 1;
}

void SUBSYS::PinObject(QORSUBSYSTEM* object)
{
    MUTEXLOCK lock(Lock);
    for (int i = 0; i < Count; ++i) {
        if (object && Records[i].object == object)
            Records[i].pinned = true;
    }
}

void SUBSYS::Cleanup()
{
    LOGIT("SUBSYS::Cleanup %s, %d records\n", pType->upper, Count);
    MUTEXLOCK lock(Lock);
    std::vector<void*> pinnedModules;
    for (int i = 0; i < Count; ++i) {
        RECORD& r = Records[i];
        if (r.pinned) {
            pinnedModules.push_back(r.init.Module);
            if (r.init.Public && r.init.Public->AtCmdOpts)
                AtCmdOptsPinned = true;
            KeepForever(r.object);
            KeepForever(r.init.Public);
            continue;
        }
        if (pCurrent && pCurrent == r.object)
            pCurrent = nullptr;
        delete r.object;
        r.object = nullptr;
        delete r.init.Public;
        r.init.Public = nullptr;
    }
    for (int i = 0; i < Count; ++i) {
        RECORD& r = Records[i];
        if (!r.dll)
            continue;
        if (std::find(pinnedModules.begin(), pinnedModules.end(), r.init.Module) != pinnedModules.end()) {
            LOGIT("SUBSYS::Cleanup keeps %s: a thread may still run in it\n", r.path);
            KeepForever(r.dll);
            continue;
        }
        r.dll->Unload();
        delete r.dll;
    }
    for (int i = 0; i < Count; ++i)
        Records[i] = RECORD{};
    Count = 0;
    LOGIT("SUBSYS::Cleanup done\n");
}
