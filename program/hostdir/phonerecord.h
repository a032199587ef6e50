// The records of the host directory: one host entry (_PHONEBOOK_300), a
// folder (PHONEFOLDER), the structure block of sections and folders
// (PHONESTRUCTURE), the call statistics of an entry (PHONESTATS) and the
// section list of the section editor (PHONEEDITSECTIONS), with the key
// table that binds an entry's fields to the keys of the host-directory file
// and of scripts.
//
// _PHONEBOOK_300 is byte-exact: it is copied whole between its holders
// (the entry table, the session that dials it, the editors, scripts), and
// its offsets are fixed by static_assert below. Narrow texts are
// zero-terminated code page 1252 bytes, wide texts zero-terminated 32-bit
// characters.
#pragma once

#include "program/settings/optsbase.h"

#include <cstddef>
#include <cstdint>

// Limits of the directory.
constexpr int PHONE_MAXSECTIONS = 64;
constexpr int PHONE_MAXFOLDERS = 1024;
// The handle that stands for the section level itself.
constexpr int PHONE_SECTIONHANDLE = 1023;
// New handles are above every handle in use and never below this one.
constexpr int PHONE_FIRSTHANDLE = 5555;
// The capacity a directory gets when the administrator file names none.
constexpr int PHONE_DEFAULTCAPACITY = 4096;

struct _PHONEBOOK_300 {
    int32_t handle;
    int32_t section;
    int32_t folder;
    wchar_t name[65];
    char number[65];
    int32_t deviceid;
    int32_t emu;
    int32_t protocol;
    int32_t charset;
    char deviceopts[128];
    char emulationopts[128];
    char optfile[97];
    char logname[129];
    char dlpath[129];
    char ulpath[128];
    char keyboard[49];
    char translate[49];
    char username[33];
    char password[96];
    char authfile[128];
    char script[129];
    char scriptparm[97];
    char waitsend[401];
    char newwinpos[32];
    wchar_t memo[128];
    int32_t dosimpledial;
    int32_t dialtype;
    int32_t first;
    int32_t icon;
    int32_t authglobal;
    int32_t learn;
    int32_t donewwinpos;
    int32_t qaccess;
    int32_t calldue;
    int32_t ctrlfkey;
    int32_t newwindow;
    int32_t donewwinkeys;
    int32_t iemsibits;
    int32_t iemsiwanted;
    int32_t oldcalls;
    int32_t oldlastcall;
    int32_t menuid;
};

static_assert(sizeof(wchar_t) == 4, "wide texts of the host directory are 32-bit");
static_assert(sizeof(_PHONEBOOK_300) == 2692);
static_assert(offsetof(_PHONEBOOK_300, name) == 12);
static_assert(offsetof(_PHONEBOOK_300, number) == 272);
static_assert(offsetof(_PHONEBOOK_300, deviceid) == 340);
static_assert(offsetof(_PHONEBOOK_300, deviceopts) == 356);
static_assert(offsetof(_PHONEBOOK_300, emulationopts) == 484);
static_assert(offsetof(_PHONEBOOK_300, optfile) == 612);
static_assert(offsetof(_PHONEBOOK_300, logname) == 709);
static_assert(offsetof(_PHONEBOOK_300, dlpath) == 838);
static_assert(offsetof(_PHONEBOOK_300, ulpath) == 967);
static_assert(offsetof(_PHONEBOOK_300, keyboard) == 1095);
static_assert(offsetof(_PHONEBOOK_300, translate) == 1144);
static_assert(offsetof(_PHONEBOOK_300, username) == 1193);
static_assert(offsetof(_PHONEBOOK_300, password) == 1226);
static_assert(offsetof(_PHONEBOOK_300, authfile) == 1322);
static_assert(offsetof(_PHONEBOOK_300, script) == 1450);
static_assert(offsetof(_PHONEBOOK_300, scriptparm) == 1579);
static_assert(offsetof(_PHONEBOOK_300, waitsend) == 1676);
static_assert(offsetof(_PHONEBOOK_300, newwinpos) == 2077);
static_assert(offsetof(_PHONEBOOK_300, memo) == 2112);
static_assert(offsetof(_PHONEBOOK_300, dosimpledial) == 2624);
static_assert(offsetof(_PHONEBOOK_300, iemsiwanted) == 2676);
static_assert(offsetof(_PHONEBOOK_300, oldcalls) == 2680);
static_assert(offsetof(_PHONEBOOK_300, menuid) == 2688);

// A folder. The path of a folder (its enclosing folders' names, outermost
// first, each followed by ">") lives beside the structure block, in the
// table's side table: the 32-bit word of the raw record stays 0, so the
// record is the same in memory, in the snapshot and on every platform.
struct PHONEFOLDER {
    char name[32];
    uint32_t pathword; // always 0 here
    int32_t handle;
    int32_t parent;  // 0: directly in the section
    int32_t section;
    int32_t depth;   // -1 while not known
};
static_assert(sizeof(PHONEFOLDER) == 52);

// Packed to 4 bytes: the block is 55,580 bytes, not a multiple of the
// 64-bit time's alignment.
#pragma pack(push, 4)
struct PHONESTRUCTURE {
    int32_t reserved;
    char path[260];  // the file last loaded or saved
    int64_t modtime; // its modification time (seconds)
    uint32_t flags;  // "Flags"
    int32_t numsections;
    char sections[PHONE_MAXSECTIONS][32];
    int32_t numfolders;
    PHONEFOLDER folders[PHONE_MAXFOLDERS];
};
#pragma pack(pop)
static_assert(sizeof(PHONESTRUCTURE) == 55580);
static_assert(offsetof(PHONESTRUCTURE, modtime) == 264);
static_assert(offsetof(PHONESTRUCTURE, flags) == 272);
static_assert(offsetof(PHONESTRUCTURE, sections) == 280);
static_assert(offsetof(PHONESTRUCTURE, numfolders) == 2328);
static_assert(offsetof(PHONESTRUCTURE, folders) == 2332);

// The statistics of one entry: the last call (seconds of the program's
// clock, read as unsigned 32-bit) and the number of calls. Stored as the
// first 8 bytes, little-endian.
struct PHONESTATS {
    uint32_t lastcall;
    int32_t calls;
    int32_t reserved;
};

// The section list of the section editor.
struct PHONEEDITSECTION {
    char name[32];
    int32_t formerindex; // -1: a new section
    int32_t usecount;    // entries plus folders in it
};
struct PHONEEDITSECTIONS {
    int32_t count;
    PHONEEDITSECTION items[PHONE_MAXSECTIONS];
    int32_t deletedcount;
    PHONEEDITSECTION deleted[PHONE_MAXSECTIONS];
};

// The host-entry key table: 39 written rows, the alias "book", the retired
// keys of older files and the end row.
extern OPTLIST const sPhoneEntryOptlist[];
constexpr int PHONE_KEYROWS = 49;
constexpr int PHONE_WRITTENROWS = 39;
