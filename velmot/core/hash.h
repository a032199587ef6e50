// HASH: the record type of the system, a map from text keys to text (or
// binary) values kept in case-insensitive key order; HASHLIST: a list of
// records with numbered sections; METAHASH: a HASHLIST addressed by the key
// text of each record.
//
// Text form of a record, one line per entry, each ended by a single line
// feed:
//   "#Handle=<signed decimal>"  when the handle is not 0
//   "#Key=<key text>"           when the key text is set, as it is
//   <key>=<value>               for every item in key order
// The key text is read from its line as it stands, backslashes included, as
// stored files hold it. A key text that no line can hold (it contains a line
// feed or a NUL, or ends in a carriage return) is written instead as
// "#KeyQuoted=" and the text escaped like a value; older readers skip that
// line as a comment, and no file of theirs holds it.
// A value is written through BINARY::Quoted with the extra characters "={}";
// a binary value as "={{" Base64 "}}", so its line reads key "=={{...}}".
// A key is written as it is unless it could not be read back that way (it
// holds "=", a control byte that breaks lines, or starts with "#", "//",
// "[" or a "\x" escape): then it is written escaped like a value with its
// first byte always as "\xHH", and a reader unescapes every key that starts
// with "\x" and two hexadecimal digits.
// Reading skips empty lines, lines starting with "//" and lines starting
// with "#" other than "#Handle=", "#Key=" and "#KeyQuoted=", and removes
// trailing carriage returns.
//
// Text form of a list: for each record, the header "[#<index>]", the
// record's text and one empty line. Reading starts a new record at every
// line that starts with "[", whatever its number, so records come back in
// order.
#pragma once

#include "velmot/core/dynarray.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/strings.h"

namespace velmot_detail {
class SECTIONREADER;
}

class VELMOT_EXPORT HASH {
public:
    uint32_t Handle = 0;
    void* UserData = nullptr;
    STRINGARRAY Keys;   // ascending, compared without regard to case
    STRINGARRAY Values; // Values[i] belongs to Keys[i]
    bool LockTable = false;
    STRING KeyString; // unset until given

    HASH();
    HASH(HASH const& other);
    explicit HASH(STRING const& text);
    HASH& operator=(HASH const& other);
    virtual ~HASH();

    // The value of `key`; a missing key is added at its place with an unset
    // value (reported first when new keys are refused).
    STRING& operator[](char const* key);
    // The value of an existing key; a missing key is reported and an unset
    // value returned.
    STRING const& operator[](char const* key) const;

    int KeyIndex(char const* key) const;
    bool CheckKey(char const* key) const { return KeyIndex(key) != -1; }
    STRING& ItemByIndex(int i);
    STRINGARRAY EnumKeys() const;
    int DeleteItem(char const* key);
    int RenameItem(char const* from, char const* to);
    void Append(HASH const& other);
    void Sort();
    bool AllowNewKeys(bool allow);
    void SetKeyString(char const* text);

    STRING AsString() const;
    bool Save(char const* file) const;
    bool Load(char const* file);

    bool Lock(int timeout = -1) const { return Keys.Lock(timeout); }
    void Unlock() const { Keys.Unlock(); }

    // Appends the text form to `out` (used by the list forms, which build
    // one text for all records).
    void AppendTextForm(STRING& out) const;

private:
    friend class HASHLIST;
    friend class velmot_detail::SECTIONREADER;
    // Takes one line of the text form (without its line feed); the keys are
    // put in order by Sort once all lines are in.
    void ParseLine(char const* line, size_t length);
    // Index of the first key not below `key`; *found tells whether it equals.
    int LowerBound(char const* key, bool* found) const;
};

extern template class DYNARRAY<HASH>;

class VELMOT_EXPORT HASHLIST : public DYNARRAY<HASH> {
public:
    char const** SortKeys = nullptr; // valid only while a sort runs
    int32_t SortKeyCount = 0;

    HASHLIST();
    explicit HASHLIST(STRING const& data);
    HASHLIST(HASHLIST const& other) = default;
    HASHLIST& operator=(HASHLIST const& other) = default;
    ~HASHLIST() override;

    int CompareItems(HASH const* a, HASH const* b, unsigned long flags) override;

    int FromString(STRING const& text);
    STRING AsString() const;
    // Returns the number of records written (1 for an empty list), 0 when
    // the file could not be written whole.
    int Save(char const* file) const;
    // Reads the records of the file before those already held; returns their
    // number, 0 when the file cannot be read (nothing is added then).
    int Load(char const* file);

    int FindHandle(uint32_t handle) const;
    int FindUserData(void* data) const;
    int FindKeyStringIdx(char const* text) const;
    int FindKeyLongIdx(unsigned long n) const;
    int FindItem(char const* key, char const* value, bool exact) const;
    uint32_t GetUniqueHandle() const;

    void Sort(char const** keys, int count, unsigned int flags);
    void Sort(char const* key, unsigned int flags);
    void Sort(char const* key1, char const* key2, unsigned int flags);

};

class VELMOT_EXPORT METAHASH : public HASHLIST {
public:
    bool NewKeysAllowed = true;

    METAHASH();
    METAHASH(METAHASH const& other) = default;
    METAHASH& operator=(METAHASH const& other) = default;
    ~METAHASH() override;

    using HASHLIST::operator[];
    using HASHLIST::DeleteItem;

    // The record whose key text equals `key` ignoring case, added when there
    // is none.
    HASH& operator[](char const* key);
    // Deletes the record with that key text; 1 when it was there, else 0.
    int DeleteItem(char const* key);
    STRINGARRAY EnumKeys() const;
};
