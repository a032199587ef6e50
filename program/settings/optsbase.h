// Option tables and option files.
//
// Every settings store of the program (program settings, the administrator
// file, session profiles, AT-command profiles, host entries, the option
// dictionaries of plug-ins) is one flat data block described by a static
// table of OPTLIST rows. OPTSBASE turns such a block into a text option file
// and back, answers single-key get and set requests and binds the rows to
// the controls of a data-bound dialog.
//
// File syntax: a header line that begins with "QOR" and the version, then
// one entry per line, key=value without blanks around "=". Values by type:
//   flag      yes, no or a decimal number ("maybe" reads as 2)
//   integer   decimal
//   text      "text"; a text that holds CR, LF or ESC is written with ESC n,
//             ESC r and ESC ESC in their place
//   wide text "text" when every character is one byte of code page 1252
//             that reads back as itself, else utf8:"text" in UTF-8
//   arrays    one line per element, key "Name#nn"
//   binary    x'hex digits'
//   secret    y'scrambled text' (a reversible scrambler, no encryption)
//
// Reading is forgiving (unknown keys are skipped, values too long are cut)
// and never lets one line change another key: lines are read whole, up to
// OPTS_MAXLINE bytes, and the rest of an overlong line is dropped. The last
// line is applied whether or not it ends with a line feed. Values of secret
// rows never reach the diagnostic log.
//
// Writing goes through a temporary file in the target's folder that
// replaces the file only when every byte reached the disk, so a failed save
// leaves the old file as it was.
//
// Numbers are stored as read; owners that use limits to size buffers clamp
// the values they read (ClampReadValues) after their own fix-ups.
//
// Threads: none of its own and no lock; an owner uses it from one thread at
// a time.
#pragma once

#include "program/settings/optsdialog.h"
#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

#include <cstdio>
#include <string>
#include <vector>

// A four-character code from its text, first character in the high byte.
constexpr FOURCHARCODE OptsFourCC(char const (&s)[5])
{
    return (static_cast<FOURCHARCODE>(static_cast<unsigned char>(s[0])) << 24) |
           (static_cast<FOURCHARCODE>(static_cast<unsigned char>(s[1])) << 16) |
           (static_cast<FOURCHARCODE>(static_cast<unsigned char>(s[2])) << 8) |
           static_cast<FOURCHARCODE>(static_cast<unsigned char>(s[3]));
}

// Row types.
enum OPTTYPE : uint32_t {
    OPTTYPE_END = 0,        // ends the table
    OPTTYPE_FLAG = 1,       // 1 or 4 bytes
    OPTTYPE_INT = 2,        // 1 or 4 bytes, signed
    OPTTYPE_STR = 3,        // Size bytes, zero-terminated, code page 1252
    OPTTYPE_WSTR = 4,       // Size bytes = Size/4 wide characters, zero-terminated
    OPTTYPE_STRARRAY = 5,   // Max elements of Size bytes, as type 3
    OPTTYPE_WSTRARRAY = 6,  // Max elements of Size bytes, as type 4
    OPTTYPE_BINARY = 7,     // Size bytes
    OPTTYPE_SECRET = 8,     // Size bytes, zero-terminated, written scrambled
    OPTTYPE_SECTION = 9,    // "\n// Name\n"
    OPTTYPE_NOTSTORED = 10, // recognised on reading, never stored or written
    OPTTYPE_LITERAL = 11,   // the Name written as it stands
    OPTTYPE_ALIAS = 12,     // Name is "old\0new": the old key read as the new one
};

// Control kinds of the rows.
constexpr FOURCHARCODE OPTCTRL_NONE = 0;
constexpr FOURCHARCODE OPTCTRL_EDIT = OptsFourCC("EDIT");
constexpr FOURCHARCODE OPTCTRL_CHEC = OptsFourCC("CHEC");
constexpr FOURCHARCODE OPTCTRL_RADI = OptsFourCC("RADI");
// Both control words -1: a row that is read but never written.
constexpr FOURCHARCODE OPTCTRL_NEVERWRITTEN = 0xFFFFFFFFu;

// One row of an option table.
struct OPTLIST {
    char const* Name;      // key; for aliases "old\0new"
    uint32_t Offset;       // byte offset of the value in the data block
    uint32_t Type;         // OPTTYPE
    uint32_t Size;         // bytes of the value (of one element for arrays)
    int32_t Min;           // lower limit; buttons of a radio group
    int32_t Max;           // upper limit; elements of an array
    FOURCHARCODE CtrlKind; // 'EDIT', 'CHEC', 'RADI', 0 or -1
    int32_t CtrlNo;        // control number (first of an array or group)

    bool NeverWritten() const { return CtrlKind == OPTCTRL_NEVERWRITTEN && CtrlNo == -1; }
    bool IsArray() const { return Type == OPTTYPE_STRARRAY || Type == OPTTYPE_WSTRARRAY; }
    // The new key of an alias row.
    char const* AliasTarget() const;
};

// The longest line read whole; the rest of a longer line is dropped.
constexpr size_t OPTS_MAXLINE = 65536;

// The modem device gets an OPTSBASE through its host services and calls it
// by slot: the order of the virtual operations below is part of the
// plug-in interface (tests/plugins/sdk pins it).
class OPTSBASE {
public:
    // Binds the block and the table; count -1 counts the rows up to the end
    // row. The data version starts as "0.00" (no version read).
    OPTSBASE(void* data, OPTLIST const* rows, int count);
    virtual ~OPTSBASE();
    OPTSBASE(OPTSBASE const&) = delete;
    OPTSBASE& operator=(OPTSBASE const&) = delete;

    virtual int SetBaseList(void* data, OPTLIST const* rows, int count);
    // Multi-page dialog binding: a row is bound on the first page that holds
    // its control. Asserts that the table has at most 255 rows.
    virtual void SetMultiPaged();
    // The version of the file being read, from the text after "QOR":
    // leading "Q", "O", "R" and blanks are dropped and the text is cut at
    // " // "; it is taken when its number is above 3.0.
    virtual void SetDataVersion(char const* text);
    // 0 on success; 1 when the file cannot be opened or does not begin
    // with "QOR" (then nothing is set).
    virtual int LoadFile(char const* path, signed char flag);
    // Applies every entry line to the end of the stream; returns 1.
    virtual int LoadEntries(FILE* f, signed char flag);
    // Writes the header line (none when null) and all rows, replacing the
    // file in one step. 0 on success, 1 when nothing was written (errno
    // tells why).
    virtual int SaveFile(char const* path, char const* header);
    // Writes all rows; an empty line follows unless noFinalBlank. 0 when
    // every write succeeded, 1 on a stream error.
    virtual int SaveEntries(FILE* f, signed char noFinalBlank);
    // Applies one key=value line: 0 when taken (or the row holds no value,
    // or an array index lies beyond the array), 1 when no row matches or the
    // value's form does not fit the row.
    virtual int SetOpt(char const* line, signed char flag);
    // key=value as a saved file would have it, or "key=<NOT FOUND>"; the
    // output never exceeds outSize bytes with its terminator.
    virtual int GetOpt(char const* key, char* out, int outSize);
    // The line of one row (types 1 to 4, 7, 8), cut to outSize.
    virtual int MakeOptStr(int row, char* out, int outSize);
    virtual int MakeOptStr(int type, char const* key, void const* value, int size, char* out, int outSize);
    // Binds the rows to the dialog's controls under parent.
    virtual void AssocAll(OPTSDIALOG* dialog, CONTROLPARENT parent);

    // The whole line of one row or one array element (element -1 for plain
    // rows), however long; empty for rows that write no value.
    STRING MakeOptString(int row, int element = -1) const;
    static STRING FormatValue(int type, char const* key, void const* value, int size);

    // Clamps the 4-byte integer rows with limits (Min < Max, not a radio
    // group) that the last LoadEntries set to their limits.
    void ClampReadValues();
    // Whether the last LoadEntries set the row.
    bool WasRead(int row) const;

    // Escaping of narrow texts on writing: CR, LF and ESC become ESC r,
    // ESC n and ESC ESC whenever the text holds one of them, so that every
    // text reads back unchanged. The two names are kept for their callers.
    static void EnquoteTextString(char const* text, STRING& out);
    static void EnquoteTextStringNew(char const* text, STRING& out);
    // Decoding on reading: by the data version (bytes 0xFB and 0xFE as LF
    // and CR for old files; escapes from 6.21 on and for "0.00").
    void DequoteTextString(STRING& text) const;
    static void DequoteTextStringNew(STRING& text);

    // Copies a text into a field of size bytes (chars characters), cut to
    // leave room for the terminator; the rest of the field is zeroed.
    static void CopyText(char* field, size_t size, char const* text);
    static void CopyWide(wchar_t* field, size_t chars, wchar_t const* text);

    // Checks the table's invariants for a block of blockSize bytes; false
    // with the reason in *why.
    static bool CheckTable(OPTLIST const* rows, int count, size_t blockSize, STRING* why);
    static int CountRows(OPTLIST const* rows);

    // The number at the start of a version text ("6.44 AT ..." gives
    // 6.44), read without the locale's decimal point.
    static double VersionNumber(char const* text);

    // Reads one line whole, without its trailing CR and LF characters; the
    // part beyond OPTS_MAXLINE bytes is dropped. False at the end of the
    // stream when nothing was read.
    static bool ReadLine(FILE* f, std::string& line);

    // The largest option file read: more than any table's rows could fill.
    static constexpr size_t MAXFILEBYTES = 4u << 20;
    // Opens an option file for reading: only a regular file of at most
    // MAXFILEBYTES, opened without waiting on a FIFO or a device (see
    // plat::fileio::OpenRegular); null with the reason in *error (ENOENT for
    // a missing file).
    static FILE* OpenFile(char const* path, int* error = nullptr);

    OPTLIST const* Rows() const { return pOptlist; }
    int RowCount() const { return OptlistMax; }
    STRING const& GetDataVersion() const { return DataVersion; }
    void* Data() const { return pData; }

    // The index of the row that takes key (aliases resolved) and, for an
    // array row, the element (-1 for plain rows). -1 when no row matches;
    // *element is -2 for an array key without a usable index and -3 for an
    // index beyond the array.
    int FindRow(char const* key, int* element) const;

protected:
    // Stores one value; the element is -1 for plain rows.
    int StoreValue(int row, int element, char const* value);

    void* pData = nullptr;
    OPTLIST const* pOptlist = nullptr;
    int OptlistMax = 0;
    bool MultiPaged = false;
    unsigned char DidAssoc[256] = {};
    STRING DataVersion;
    std::vector<unsigned char> ReadRows;
};
