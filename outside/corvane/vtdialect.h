// The terminals the VT engine plays: which emulation ids it answers to,
// under which names, and how each differs (answers, key codes, wrapping,
// code page, colours).
#pragma once

namespace vt {

enum class LEVEL {
    ANSI,  // ANSI.SYS and the BBS terminals: code page 437, no deferred wrap
    VT100,
    VT102,
    VT220,
    XTERM,
};

struct DIALECT {
    int Id;
    char const* Name;          // the sub-module name the bundle introduces
    LEVEL Level;
    char const* UnixNames[3];  // terminal type names, by number; null ends
    char const* PrimaryDA;     // answer to DA1 (CSI c)
    char const* SecondaryDA;   // answer to DA2 (CSI > c); null: none
    bool BackspaceIsBS;        // Backspace sends BS (else DEL)
};

// The dialects of the corvane bundle (VT100, VT102, VT220 and xterm, with
// the ids that stand for the nearest of them) and of the pindrel bundle
// (ANSI).
extern DIALECT const CorvaneDialects[];
extern int const CorvaneDialectCount;
extern DIALECT const PindrelDialects[];
extern int const PindrelDialectCount;

// Writes the names of a list one after another, each ended by a NUL, and
// the ids; the count, or 0 when the names do not fit (256 bytes).
int IntroduceDialects(DIALECT const* list, int count, char* names, int* ids);
// A bundle's Intro answer for a list: IntroduceDialects for the interface
// version the host speaks, else 0.
int IntroduceBundle(int version, DIALECT const* list, int count, char* names, int* ids);
// The dialect of sub-module sub of a list, or null.
DIALECT const* DialectOf(DIALECT const* list, int count, int sub);

} // namespace vt
