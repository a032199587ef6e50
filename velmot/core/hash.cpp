// HASH, HASHLIST and METAHASH with their text and file forms.
#include "velmot/core/hash.h"

#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/stringarray_internal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

template class DYNARRAY<HASH>;

namespace {

// Caller errors of the record classes are reported under this source name.
constexpr char const* kSource = "stringarray";

// Extra characters escaped in values (and escaped keys): the separators of
// the text form.
constexpr char const* kEscapeSet = "={}";
// The line of a key text that "#Key=" cannot carry as it is.
constexpr char const* kKeyQuoted = "#KeyQuoted=";

void ReportHash(char const* expression, int line, char const* info, bool quiet)
{
    AssertMsg(0, expression, kSource, line, info, quiet);
}

// A report whose information is a line of outside data: cut to a readable
// length (the line may be of any size and hold any bytes).
void ReportLine(char const* expression, int line, char const* text, size_t length)
{
    std::string info(text, std::min<size_t>(length, 200));
    for (char& c : info) {
        if (c == 0)
            c = ' ';
    }
    ReportHash(expression, line, info.c_str(), true);
}

char const* SafeKey(char const* key, char const* where)
{
    key = BINARY::NULLCHECK(key, where);
    return key ? key : "";
}

bool StartsWithNoCase(char const* p, size_t len, char const* prefix)
{
    size_t n = strlen(prefix);
    return len >= n && strnicmp(p, prefix, n) == 0;
}

bool IsHex(char c)
{
    return isxdigit(static_cast<unsigned char>(c)) != 0;
}

// Whether a key read back as written would come back different: it would
// split the line or be taken for a comment, a keyword, a section header or
// an escaped key.
bool KeyNeedsEscape(STRING const& key)
{
    int32_t const n = key.StrLen;
    char const* p = key.Buffer;
    if (n == 0 || !p)
        return false;
    for (int32_t i = 0; i < n; ++i) {
        char c = p[i];
        if (c == '=' || c == '\n' || c == '\r' || c == 0)
            return true;
    }
    if (p[0] == '#' || p[0] == '[')
        return true;
    if (n >= 2 && p[0] == '/' && p[1] == '/')
        return true;
    return n >= 4 && p[0] == '\\' && p[1] == 'x' && IsHex(p[2]) && IsHex(p[3]);
}

void AppendKey(STRING& out, STRING const& key)
{
    if (!KeyNeedsEscape(key)) {
        out.BINARY::Append(key);
        return;
    }
    // The first byte always as "\xHH": that is how a reader tells an escaped
    // key from a plain one.
    out.FormatAppend("\\x%02x", static_cast<unsigned char>(key.Buffer[0]));
    out.BINARY::Append(key.BINARY::Substr(1).Quoted(kEscapeSet));
}

void AppendValue(STRING& out, STRING const& value)
{
    if (value.Flags & STRINGFLAG_BINARY) {
        out.Append("={{", 3);
        out.BINARY::Append(value.AsMime(0));
        out.Append("}}", 2);
    } else {
        out.BINARY::Append(value.Quoted(kEscapeSet));
    }
}

// Exchanges the items of two arrays (the caller holds what must be held).
void SwapItems(STRINGARRAY& a, STRINGARRAY& b)
{
    std::swap(a.ppItems, b.ppItems);
    std::swap(a.ItemCount, b.ItemCount);
    std::swap(a.MaxItems, b.MaxItems);
    std::swap(a.ExpandSize, b.ExpandSize);
    std::swap(a.Allocated, b.Allocated);
}

long FileSize(char const* path)
{
    struct stat st {};
    return stat(path, &st) == 0 ? static_cast<long>(st.st_size) : 0L;
}

} // namespace

// ===========================================================================
// HASH

HASH::HASH()
{
    Keys.SetTypeName("HASH-KEYS");
    Values.SetTypeName("HASH-VALUES");
}

HASH::HASH(HASH const& other) : HASH()
{
    other.Lock();
    Handle = other.Handle;
    UserData = other.UserData;
    Keys.Copy(other.Keys);
    Values.Copy(other.Values);
    LockTable = other.LockTable;
    KeyString = other.KeyString;
    other.Unlock();
}

HASH::HASH(STRING const& text) : HASH()
{
    if (!text.Buffer)
        return;
    char const* p = text.Buffer;
    char const* end = p + text.StrLen;
    while (p <= end) {
        auto* lf = static_cast<char const*>(memchr(p, '\n', static_cast<size_t>(end - p)));
        char const* stop = lf ? lf : end;
        ParseLine(p, static_cast<size_t>(stop - p));
        if (!lf)
            break;
        p = lf + 1;
    }
    Sort();
}

HASH& HASH::operator=(HASH const& other)
{
    if (this == &other)
        return *this;
    // The copy is taken under the source's lock alone, then exchanged under
    // this record's lock: two records assigned to each other at once cannot
    // deadlock.
    HASH copy(other);
    Lock();
    Handle = copy.Handle;
    UserData = copy.UserData;
    SwapItems(Keys, copy.Keys);
    SwapItems(Values, copy.Values);
    LockTable = copy.LockTable;
    KeyString = copy.KeyString;
    Unlock();
    return *this;
}

HASH::~HASH() = default;

int HASH::LowerBound(char const* key, bool* found) const
{
    // The keys are in ascending stricmp order, so a binary search finds the
    // same key a scan from the front would: the first one equal to `key`.
    // The comparison at the final position was the last one that moved
    // `hi`, so its result tells whether the key is there without comparing
    // again.
    int lo = 0;
    int hi = Keys.ItemCount;
    int hicmp = 1;
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2;
        int cmp = stricmp(Keys.ppItems[mid]->Buf(), key);
        if (cmp < 0) {
            lo = mid + 1;
        } else {
            hi = mid;
            hicmp = cmp;
        }
    }
    *found = lo < Keys.ItemCount && hicmp == 0;
    return lo;
}

int HASH::KeyIndex(char const* key) const
{
    key = SafeKey(key, "HASH::KeyIndex");
    Lock();
    bool found;
    int idx = LowerBound(key, &found);
    Unlock();
    return found ? idx : -1;
}

STRING& HASH::operator[](char const* key)
{
    key = SafeKey(key, "HASH::operator[]");
    Lock();
    bool found;
    int idx = LowerBound(key, &found);
    if (!found) {
        if (LockTable)
            ReportHash("!this->LockTable", __LINE__, key, false);
        Keys.InsertItem(idx, STRING(key));
        Values.InsertItem(idx, STRING());
    }
    STRING& value = *Values.ppItems[idx];
    Unlock();
    return value;
}

STRING const& HASH::operator[](char const* key) const
{
    static STRING const unset;
    key = SafeKey(key, "HASH::operator[] const");
    Lock();
    bool found;
    int idx = LowerBound(key, &found);
    STRING const* value = found ? Values.ppItems[idx] : &unset;
    Unlock();
    if (!found)
        ReportHash("rcidx!=-1", __LINE__, key, false);
    return *value;
}

STRING& HASH::ItemByIndex(int i)
{
    return *Values[i];
}

STRINGARRAY HASH::EnumKeys() const
{
    return STRINGARRAY(Keys);
}

int HASH::DeleteItem(char const* key)
{
    key = SafeKey(key, "HASH::DeleteItem");
    Lock();
    bool found;
    int idx = LowerBound(key, &found);
    if (found) {
        Keys.DeleteItem(idx);
        Values.DeleteItem(idx);
    }
    Unlock();
    return found ? 1 : 0;
}

int HASH::RenameItem(char const* from, char const* to)
{
    from = SafeKey(from, "HASH::RenameItem op1");
    to = SafeKey(to, "HASH::RenameItem op2");
    Lock();
    bool found;
    int idx = LowerBound(from, &found);
    if (found) {
        STRING value(*Values.ppItems[idx]);
        Keys.DeleteItem(idx);
        Values.DeleteItem(idx);
        bool locked = LockTable;
        LockTable = false;
        (*this)[to] = value;
        LockTable = locked;
    }
    Unlock();
    return found ? 1 : 0;
}

void HASH::Append(HASH const& other)
{
    if (this == &other)
        return; // every key already has that value
    HASH copy(other);
    Lock();
    for (int32_t i = 0; i < copy.Keys.ItemCount; ++i)
        (*this)[copy.Keys.ppItems[i]->Buf()] = *copy.Values.ppItems[i];
    Unlock();
}

void HASH::Sort()
{
    Lock();
    int32_t const n = Keys.ItemCount;
    std::vector<int32_t> order(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i)
        order[static_cast<size_t>(i)] = i;
    // A stable sort gives the order the classic exchange sort gives: keys in
    // ascending order without regard to case, equal keys in their old order.
    std::stable_sort(order.begin(), order.end(), [this](int32_t a, int32_t b) {
        return stricmp(Keys.ppItems[a]->Buf(), Keys.ppItems[b]->Buf()) < 0;
    });
    std::vector<STRING*> keys(static_cast<size_t>(n));
    std::vector<STRING*> values(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        keys[static_cast<size_t>(i)] = Keys.ppItems[order[static_cast<size_t>(i)]];
        values[static_cast<size_t>(i)] = Values.ppItems[order[static_cast<size_t>(i)]];
    }
    Values.Lock();
    for (int32_t i = 0; i < n; ++i) {
        Keys.ppItems[i] = keys[static_cast<size_t>(i)];
        Values.ppItems[i] = values[static_cast<size_t>(i)];
    }
    Values.Unlock();
    Unlock();
}

bool HASH::AllowNewKeys(bool allow)
{
    bool previous = LockTable;
    LockTable = !allow;
    return previous;
}

void HASH::SetKeyString(char const* text)
{
    Lock();
    KeyString = text ? STRING(text) : STRING();
    Unlock();
}

void HASH::ParseLine(char const* line, size_t length)
{
    while (length > 0 && line[length - 1] == '\r')
        --length;
    if (length == 0 || (length >= 2 && line[0] == '/' && line[1] == '/'))
        return;
    if (line[0] == '#' && !StartsWithNoCase(line, length, "#Handle=") && !StartsWithNoCase(line, length, "#Key=") &&
        !StartsWithNoCase(line, length, kKeyQuoted))
        return;
    auto* eq = static_cast<char const*>(memchr(line, '=', length));
    if (!eq) {
        // Outside data: logged, not asked about.
        ReportLine("item.Find(\"=\")", __LINE__, line, length);
        return;
    }
    size_t const keylen = static_cast<size_t>(eq - line);
    char const* v = eq + 1;
    size_t const vlen = length - keylen - 1;
    if (keylen == 4 && strnicmp(line, "#Key", 4) == 0) {
        // As it stands: stored files hold the key text unescaped.
        STRING keytext;
        keytext.Make(static_cast<int32_t>(vlen), v);
        KeyString = keytext;
        return;
    }
    if (keylen + 1 == strlen(kKeyQuoted) && strnicmp(line, kKeyQuoted, keylen) == 0) {
        BINARY quoted(v, static_cast<int32_t>(vlen));
        KeyString = STRING(quoted.UnQuoted(true));
        return;
    }

    STRING value;
    if (vlen >= 5 && memcmp(v, "={{", 3) == 0 && memcmp(v + vlen - 2, "}}", 2) == 0) {
        BINARY b64(v + 3, static_cast<int32_t>(vlen - 5));
        value = b64.UnMime();
        value.Flags |= STRINGFLAG_BINARY;
    } else {
        BINARY quoted(v, static_cast<int32_t>(vlen));
        value = STRING(quoted.UnQuoted(true));
    }

    if (keylen == 7 && strnicmp(line, "#Handle", 7) == 0) {
        Handle = static_cast<uint32_t>(strtoll(value.Buf(), nullptr, 10));
        return;
    }
    STRING key;
    if (keylen >= 4 && line[0] == '\\' && line[1] == 'x' && IsHex(line[2]) && IsHex(line[3])) {
        BINARY quoted(line, static_cast<int32_t>(keylen));
        key = STRING(quoted.UnQuoted(true));
    } else {
        key.Make(static_cast<int32_t>(keylen), line);
    }
    Keys.AppendItem(key);
    Values.AppendItem(value);
}

void HASH::AppendTextForm(STRING& out) const
{
    Lock();
    if (Handle != 0)
        out.FormatAppend("#Handle=%d\n", static_cast<int32_t>(Handle));
    if (KeyString.IsSet()) {
        int32_t const len = KeyString.StrLen;
        char const* text = KeyString.Buf();
        bool raw = !memchr(text, '\n', static_cast<size_t>(len)) && !memchr(text, '\0', static_cast<size_t>(len)) &&
                   (len == 0 || text[len - 1] != '\r');
        if (raw) {
            out.Append("#Key=", 5);
            out.BINARY::Append(KeyString);
        } else {
            out.Append(kKeyQuoted);
            out.BINARY::Append(KeyString.Quoted(kEscapeSet));
        }
        out.Append('\n');
    }
    for (int32_t i = 0; i < Keys.ItemCount; ++i) {
        AppendKey(out, *Keys.ppItems[i]);
        out.Append('=');
        AppendValue(out, *Values.ppItems[i]);
        out.Append('\n');
    }
    Unlock();
}

STRING HASH::AsString() const
{
    Lock();
    int64_t size = 64;
    for (int32_t i = 0; i < Keys.ItemCount; ++i)
        size += int64_t(Keys.ppItems[i]->StrLen) + Values.ppItems[i]->StrLen + 2;
    // Room for the plain text in one block; escapes grow it as needed.
    int32_t block = static_cast<int32_t>(std::min<int64_t>((size / 1024 + 1) * 1024, 1 << 24));
    STRING out(nullptr, STRING_BLOCKSIZE(block));
    out.Make(0);
    AppendTextForm(out);
    Unlock();
    return out;
}

bool HASH::Save(char const* file) const
{
    file = SafeKey(file, "HASH::Save");
    LOGIT("HASH::Save %s\n", file);
    bool ok = AsString().Save(file, "w");
    LOGIT("HASH::Save returns ok= %d\n", ok ? 1 : 0);
    return ok;
}

bool HASH::Load(char const* file)
{
    file = SafeKey(file, "HASH::Load");
    LOGIT("HASH::Load %s\n", file);
    STRING data;
    bool ok = data.Load(file, "r");
    int err = errno;
    if (ok) {
        HASH parsed(data);
        if (!parsed.KeyString.IsSet()) {
            Lock();
            parsed.KeyString = KeyString;
            Unlock();
        }
        parsed.UserData = nullptr;
        *this = parsed;
    }
    LOGIT("HASH::Load returns ok= %d, %s\n", ok ? 1 : 0, OSYS::GetLastErrorString(ok ? 0 : err).Buf());
    return ok;
}

// ===========================================================================
// Reading the list form

namespace velmot_detail {

// Collects the records of a list text line by line. Every line that starts
// with "[" begins a new record, whatever number it carries, so a text read
// from a string and the same text read from a file give the same records in
// the same order; lines before the first header belong to the first record.
class SECTIONREADER {
public:
    ~SECTIONREADER()
    {
        delete Current;
        for (HASH* h : Records)
            delete h;
    }

    // One line without its line feed. Trailing carriage returns do not
    // count: CR LF files read as LF files, and a line of CRs is empty.
    void Line(char const* p, size_t len)
    {
        while (len > 0 && p[len - 1] == '\r')
            --len;
        if (len > 0 && p[0] == '[') {
            Header(p, len);
            return;
        }
        if (len == 0)
            return;
        if (!Current)
            Current = new HASH;
        Current->ParseLine(p, len);
        HasText = true;
    }

    void Finish()
    {
        // A record whose header was read is kept even when its section is
        // empty, also when it is the last one.
        if (Headers > 0 || HasText)
            Close();
    }

    std::vector<HASH*> Records;

private:
    void Header(char const* p, size_t len)
    {
        if (len < 2 || p[1] != '#')
            ReportLine("buf[1]=='#'", __LINE__, p, len);
        if (len < 2 || p[len - 1] != ']')
            ReportLine("buf[buf.Length()-2]==']'", __LINE__, p, len);
        if (Headers > 0)
            Close();
        else if (HasText)
            ReportLine("Section.Length()==0", __LINE__, p, len);
        ++Headers;
    }

    void Close()
    {
        HASH* h = Current ? Current : new HASH;
        Current = nullptr;
        HasText = false;
        h->Sort();
        Records.push_back(h);
    }

    HASH* Current = nullptr;
    bool HasText = false;
    int Headers = 0;
};

} // namespace velmot_detail

using velmot_detail::SECTIONREADER;

// ===========================================================================
// HASHLIST

HASHLIST::HASHLIST() : DYNARRAY<HASH>(64, 64)
{
    SetTypeName("HASHLIST");
}

HASHLIST::HASHLIST(STRING const& data) : HASHLIST()
{
    if (static_cast<int>(data) != 0) {
        ReportHash("(int)data==0", __LINE__, nullptr, false);
        return;
    }
    if (data.NotEmpty())
        FromString(data);
}

HASHLIST::~HASHLIST() = default;

int HASHLIST::CompareItems(HASH const* a, HASH const* b, unsigned long flags)
{
    for (int32_t k = 0; k < SortKeyCount; ++k) {
        char const* key = SortKeys[k] ? SortKeys[k] : "";
        int ia = a->KeyIndex(key);
        int ib = b->KeyIndex(key);
        // Records usually come from files: a missing field is logged and
        // sorts as an empty one.
        if (ia < 0 || ib < 0)
            ReportHash("rcidx!=-1", __LINE__, key, true);
        STRING const* va = ia >= 0 ? a->Values.ppItems[ia] : nullptr;
        STRING const* vb = ib >= 0 ? b->Values.ppItems[ib] : nullptr;
        int r;
        if (flags & DYNARRAY_SORT_NUMERIC) {
            int x = va ? static_cast<int>(*va) : 0;
            int y = vb ? static_cast<int>(*vb) : 0;
            r = (x > y) - (x < y);
        } else {
            r = strcmp(va ? va->Buf() : "", vb ? vb->Buf() : "");
        }
        if (r != 0)
            return r;
    }
    return 0;
}

int HASHLIST::FromString(STRING const& text)
{
    LOGIF(2, "HASHLIST::FromString after lines constructor\n");
    SECTIONREADER reader;
    if (text.Buffer) {
        char const* p = text.Buffer;
        char const* end = p + text.StrLen;
        while (p < end) {
            auto* lf = static_cast<char const*>(memchr(p, '\n', static_cast<size_t>(end - p)));
            char const* stop = lf ? lf : end;
            reader.Line(p, static_cast<size_t>(stop - p));
            p = stop + 1;
        }
    }
    reader.Finish();
    int const n = static_cast<int>(reader.Records.size());
    Lock();
    DeleteAllItems();
    bool ok = AdoptItems(0, reader.Records.data(), n);
    Unlock();
    reader.Records.clear();
    return ok ? n : 0;
}

STRING HASHLIST::AsString() const
{
    STRING out(nullptr, STRING_BLOCKSIZE(16384));
    out.Flags |= STRINGFLAG_DYNABLOCK;
    out.Make(0);
    Lock();
    for (int32_t i = 0; i < ItemCount; ++i) {
        out.FormatAppend("[#%d]\n", i);
        ppItems[i]->AppendTextForm(out);
        out.Append('\n');
    }
    Unlock();
    return out;
}

int HASHLIST::Save(char const* file) const
{
    file = SafeKey(file, "HASHLIST::Save");
    LOGIT("HASHLIST::Save %s\n", file);
    Lock();
    int count = ItemCount;
    STRING text = AsString();
    Unlock();
    int rc = 0;
    FILE* f = FILENAME::fsopen(file, "w", FSOPEN_SHARE_FROM_MODE);
    if (f) {
        size_t const want = static_cast<size_t>(text.StrLen);
        bool ok = fwrite(text.Buf(), 1, want, f) == want;
        // A full disk shows up in the flush or the close, not in fwrite.
        ok = fflush(f) == 0 && ok && !ferror(f);
        ok = fclose(f) == 0 && ok;
        if (ok)
            rc = count > 0 ? count : 1;
    }
    LOGIT("HASHLIST::Save returns rc %d\n", rc);
    return rc;
}

int HASHLIST::Load(char const* file)
{
    file = SafeKey(file, "HASHLIST::Load");
    LOGIT("HASHLIST::Load %s (%ld bytes)\n", file, FileSize(file));
    FILE* f = FILENAME::fsopen(file, "r", FSOPEN_SHARE_FROM_MODE);
    if (!f) {
        int err = errno;
        LOGIT("HASHLIST::Load returns %d, %s\n", 0, OSYS::GetLastErrorString(err).Buf());
        return 0;
    }
    SECTIONREADER reader;
    int err = velmot_detail::ReadLines(f, [&](char const* p, size_t len) {
        reader.Line(p, len);
        return true;
    });
    fclose(f);
    int rc = 0;
    if (!err) {
        reader.Finish();
        int const n = static_cast<int>(reader.Records.size());
        if (AdoptItems(0, reader.Records.data(), n))
            rc = n;
        reader.Records.clear();
    }
    LOGIT("HASHLIST::Load returns %d, %s\n", rc, OSYS::GetLastErrorString(err).Buf());
    return rc;
}

int HASHLIST::FindHandle(uint32_t handle) const
{
    Lock();
    int found = -1;
    for (int32_t i = 0; i < ItemCount; ++i) {
        if (ppItems[i]->Handle == handle) {
            found = i;
            break;
        }
    }
    Unlock();
    return found;
}

int HASHLIST::FindUserData(void* data) const
{
    Lock();
    int found = -1;
    for (int32_t i = 0; i < ItemCount; ++i) {
        if (ppItems[i]->UserData == data) {
            found = i;
            break;
        }
    }
    Unlock();
    return found;
}

int HASHLIST::FindKeyStringIdx(char const* text) const
{
    text = SafeKey(text, "HASHLIST::FindKeyStringIdx");
    Lock();
    int found = -1;
    for (int32_t i = 0; i < ItemCount; ++i) {
        STRING const& k = ppItems[i]->KeyString;
        if (k.IsSet() && stricmp(k.Buf(), text) == 0) {
            found = i;
            break;
        }
    }
    Unlock();
    return found;
}

int HASHLIST::FindKeyLongIdx(unsigned long n) const
{
    Lock();
    int found = -1;
    for (int32_t i = 0; i < ItemCount; ++i) {
        STRING const& k = ppItems[i]->KeyString;
        if (k.IsSet() && static_cast<unsigned long>(k) == n) {
            found = i;
            break;
        }
    }
    Unlock();
    return found;
}

int HASHLIST::FindItem(char const* key, char const* value, bool exact) const
{
    key = SafeKey(key, "HASHLIST::FindItem op1");
    value = SafeKey(value, "HASHLIST::FindItem op2");
    size_t const vlen = strlen(value);
    Lock();
    int found = -1;
    for (int32_t i = 0; i < ItemCount && found < 0; ++i) {
        HASH const& rec = *ppItems[i];
        rec.Lock();
        bool has;
        int idx = rec.LowerBound(key, &has);
        if (has) {
            STRING const& v = *rec.Values.ppItems[idx];
            bool match;
            if (!v.IsSet())
                match = !exact && vlen == 0;
            else if (exact)
                match = stricmp(v.Buf(), value) == 0;
            else
                match = strnicmp(v.Buf(), value, vlen) == 0;
            if (match)
                found = i;
        }
        rec.Unlock();
    }
    Unlock();
    return found;
}

uint32_t HASHLIST::GetUniqueHandle() const
{
    Lock();
    std::vector<uint32_t> handles;
    handles.reserve(static_cast<size_t>(ItemCount));
    for (int32_t i = 0; i < ItemCount; ++i)
        handles.push_back(ppItems[i]->Handle);
    Unlock();
    uint32_t top = handles.empty() ? 0 : *std::max_element(handles.begin(), handles.end());
    if (top == 0)
        return 16534;
    if (top != UINT32_MAX)
        return top + 1;
    // The largest handle is taken and one more would be 0 ("no handle"):
    // the smallest free handle from 16534 on serves instead.
    std::sort(handles.begin(), handles.end());
    uint32_t h = 16534;
    for (uint32_t used : handles) {
        if (used == h)
            ++h;
        else if (used > h)
            break;
    }
    return h;
}

void HASHLIST::Sort(char const** keys, int count, unsigned int flags)
{
    if (!keys || count < 1) {
        ReportHash("SortKeyCount>0", __LINE__, nullptr, false);
        return;
    }
    // The keys are set while the sort locks are held, so two threads sorting
    // one list never compare by each other's keys.
    SortItemsWith(
        flags,
        [&] {
            SortKeys = keys;
            SortKeyCount = count;
        },
        [&] {
            SortKeys = nullptr;
            SortKeyCount = 0;
        });
}

void HASHLIST::Sort(char const* key, unsigned int flags)
{
    char const* keys[1] = {key};
    Sort(keys, 1, flags);
}

void HASHLIST::Sort(char const* key1, char const* key2, unsigned int flags)
{
    char const* keys[2] = {key1, key2};
    Sort(keys, 2, flags);
}

// ===========================================================================
// METAHASH

METAHASH::METAHASH()
{
    SetTypeName("METAHASH");
}

METAHASH::~METAHASH() = default;

HASH& METAHASH::operator[](char const* key)
{
    key = SafeKey(key, "METAHASH::operator[]");
    Lock();
    int idx = FindKeyStringIdx(key);
    if (idx < 0) {
        if (!NewKeysAllowed)
            ReportHash("this->NewKeysAllowed", __LINE__, key, false);
        HASH record;
        record.KeyString = STRING(key);
        idx = AppendItem(record);
    }
    HASH& rec = idx >= 0 ? *ppItems[idx] : *HASHLIST::operator[](idx);
    Unlock();
    return rec;
}

int METAHASH::DeleteItem(char const* key)
{
    key = SafeKey(key, "METAHASH::DeleteItem");
    Lock();
    int idx = FindKeyStringIdx(key);
    if (idx >= 0)
        DYNARRAY<HASH>::DeleteItem(idx);
    Unlock();
    if (idx < 0) {
        ReportHash("idx!=-1", __LINE__, key, true);
        return 0;
    }
    return 1;
}

STRINGARRAY METAHASH::EnumKeys() const
{
    STRINGARRAY keys(64);
    Lock();
    for (int32_t i = 0; i < ItemCount; ++i)
        keys.AppendItem(ppItems[i]->KeyString);
    Unlock();
    return keys;
}
