// The host-directory file: writing the whole table (Save, FormatFile) and
// reading it back in the current layout and the two older ones (Load,
// LoadV300, ReadNextEntry), with the conversion of older entries
// (UpgradeEntry).
//
// Saving replaces the file in one step (a 0600 temporary file in the same
// folder, flushed to disk and renamed over it), so a failed save leaves
// the old file as it was. A file that did not load is never replaced: it
// is kept as "<file>.unreadable" first.
#include "program/hostdir/phonebook.h"

#include "program/hostdir/phonetext.h"
#include "program/session/session.h"

#include "velmot/core/logit.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/wstring.h"

#include "platform/services/fileio.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

// The longest line read; the rest of a longer line is dropped.
constexpr size_t kMaxLine = 1024;
constexpr char const* kCurrentVersion = "6.44";

bool StartsWith(std::string const& s, char const* prefix)
{
    return s.compare(0, strlen(prefix), prefix) == 0;
}

std::string Trim(std::string const& s)
{
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// One line without its CR and LF characters, at most kMaxLine bytes of it;
// a last line without a line feed counts too. False at the end.
bool ReadLine(FILE* f, std::string& line)
{
    // getline's buffer lives as long as the thread: one allocation for all
    // lines of all files.
    thread_local char* buffer = nullptr;
    thread_local size_t size = 0;
    ssize_t n = getline(&buffer, &size, f);
    if (n < 0) {
        line.clear();
        return false;
    }
    size_t length = static_cast<size_t>(n);
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n'))
        --length;
    line.assign(buffer, std::min(length, kMaxLine));
    return true;
}

// The codec of entry lines: the key table's rows found through a map
// instead of a walk over the table, and quoted texts without escapes
// copied straight into their field. Everything else goes through the
// option codec, so both read the same.
class ENTRYCODEC : public OPTSBASE {
public:
    explicit ENTRYCODEC(_PHONEBOOK_300* record) : OPTSBASE(record, sPhoneEntryOptlist, -1) {}

    void Bind(_PHONEBOOK_300* record) { pData = record; }
    void Version(char const* version)
    {
        // Each file has its own version; none read means "0.00". The
        // entries of one file ask with the same text.
        if (Read == version)
            return;
        Read = version;
        DataVersion = "0.00";
        SetDataVersion(version);
        // From 6.23 on texts carry only escapes, and those only with ESC.
        PlainTexts = strcasecmp(GetDataVersion().Buf(), "6.22") > 0;
    }

    void Apply(std::string const& line)
    {
        size_t const eq = line.find('=');
        if (eq == std::string::npos)
            return;
        size_t kb = 0, ke = eq;
        while (kb < ke && (line[kb] == ' ' || line[kb] == '\t'))
            ++kb;
        while (ke > kb && (line[ke - 1] == ' ' || line[ke - 1] == '\t'))
            --ke;
        int const row = RowOf(line.data() + kb, ke - kb);
        if (row < 0)
            return;
        size_t vb = eq + 1, ve = line.size();
        while (vb < ve && (line[vb] == ' ' || line[vb] == '\t'))
            ++vb;
        while (ve > vb && (line[ve - 1] == ' ' || line[ve - 1] == '\t'))
            --ve;
        OPTLIST const& opt = pOptlist[row];
        if ((opt.Type == OPTTYPE_INT || opt.Type == OPTTYPE_FLAG) && opt.Size == 4 &&
            StorePlainNumber(line.data() + vb, ve - vb, static_cast<char*>(pData) + opt.Offset))
            return;
        if (opt.Type == OPTTYPE_STR && PlainTexts && ve - vb >= 2 && line[vb] == '"' && line[ve - 1] == '"' &&
            !memchr(line.data() + vb, 27, ve - vb)) {
            char* field = static_cast<char*>(pData) + opt.Offset;
            size_t const n = std::min(ve - vb - 2, static_cast<size_t>(opt.Size) - 1);
            memcpy(field, line.data() + vb + 1, n);
            memset(field + n, 0, opt.Size - n);
            return;
        }
        StoreValue(row, -1, std::string(line, vb, ve - vb).c_str());
    }

private:
    // A value that is an optional minus and at most nine digits, stored as
    // the codec stores it (the rows' other forms, "yes", "maybe" and
    // numbers that need saturating, go through the codec).
    static bool StorePlainNumber(char const* text, size_t length, char* field)
    {
        size_t i = length > 0 && text[0] == '-' ? 1 : 0;
        if (length == i || length - i > 9)
            return false;
        int32_t value = 0;
        for (size_t k = i; k < length; ++k) {
            if (text[k] < '0' || text[k] > '9')
                return false;
            value = value * 10 + (text[k] - '0');
        }
        if (i)
            value = -value;
        memcpy(field, &value, sizeof value);
        return true;
    }

    struct KEY {
        char Name[16]; // lower case
        size_t Length;
        int Row;
    };

    // The row of a key (any letter case; aliases to their target, retired
    // keys to none): the keys are kept by length and first letter, so a
    // look-up compares one or two of them.
    static int RowOf(char const* key, size_t length)
    {
        using BUCKETS = std::vector<std::vector<KEY>>;
        static BUCKETS const buckets = [] {
            BUCKETS b(16 * 26);
            int const n = OPTSBASE::CountRows(sPhoneEntryOptlist);
            auto add = [&b](char const* name, int row) {
                KEY entry{};
                size_t i = 0;
                for (; name[i] && i < sizeof entry.Name - 1; ++i)
                    entry.Name[i] = static_cast<char>(tolower(static_cast<unsigned char>(name[i])));
                entry.Length = i;
                entry.Row = row;
                if (i > 0 && entry.Name[0] >= 'a' && entry.Name[0] <= 'z')
                    b[i * 26 + static_cast<size_t>(entry.Name[0] - 'a')].push_back(entry);
            };
            for (int i = 0; i < n; ++i)
                if (sPhoneEntryOptlist[i].Type <= OPTTYPE_SECRET)
                    add(sPhoneEntryOptlist[i].Name, i);
            for (int i = 0; i < n; ++i) {
                OPTLIST const& opt = sPhoneEntryOptlist[i];
                if (opt.Type != OPTTYPE_ALIAS)
                    continue;
                for (int t = 0; t < n; ++t)
                    if (sPhoneEntryOptlist[t].Type <= OPTTYPE_SECRET &&
                        strcasecmp(sPhoneEntryOptlist[t].Name, opt.AliasTarget()) == 0)
                        add(opt.Name, t);
            }
            return b;
        }();
        char lower[sizeof(KEY::Name)];
        if (length == 0 || length >= sizeof lower)
            return -1;
        for (size_t i = 0; i < length; ++i)
            lower[i] = key[i] >= 'A' && key[i] <= 'Z' ? static_cast<char>(key[i] + 32) : key[i];
        if (lower[0] < 'a' || lower[0] > 'z')
            return -1;
        for (KEY const& k : buckets[length * 26 + static_cast<size_t>(lower[0] - 'a')])
            if (memcmp(k.Name, lower, length) == 0)
                return k.Row;
        return -1;
    }

    bool PlainTexts = true;
    std::string Read = "\x01";
};

// Whether a wait/send text is in the form the conversion gives: no "|", no
// CR without LF and no LF without CR before it, no empty line, no item
// that begins "W=" or "S=".
bool NormalWaitSend(char const* text)
{
    bool lineStart = true;
    for (char const* p = text; *p; ++p) {
        char const c = *p;
        if (c == '|' || (c == '\r' && p[1] != '\n') || (c == '\n' && (p == text || p[-1] != '\r')))
            return false;
        if (lineStart) {
            if (c == '\r' || ((c == 'W' || c == 'w' || c == 'S' || c == 's') && p[1] == '='))
                return false;
            lineStart = false;
        }
        if (c == '\n')
            lineStart = true;
    }
    return true;
}

// A name for the backup of an older file: only the characters a version
// has, so that a header cannot name a path.
std::string SafeVersion(std::string const& version)
{
    std::string out;
    for (char c : version)
        out.push_back(isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_');
    return out;
}

// A name of the table row key=value of the structure part, split at "#".
void SplitKey(std::string const& key, std::string& name, long long& number)
{
    size_t const hash = key.find('#');
    name = key.substr(0, hash);
    number = 0;
    if (hash != std::string::npos) {
        errno = 0;
        number = strtoll(key.c_str() + hash + 1, nullptr, 10);
    }
}

// A text for one line of the structure part: no line breaks inside.
std::string OneLine(char const* text, size_t max)
{
    std::string s(text, strnlen(text, max));
    for (char& c : s)
        if (c == '\r' || c == '\n')
            c = ' ';
    return s;
}

// A value of the structure part as the reader gives it back: the reader
// trims blanks at the line's ends and one pair of quotes around the value,
// so a value that would lose either is written between quotes.
std::string Protected(std::string const& value)
{
    bool const blankEnds = !value.empty() && (value.front() == ' ' || value.front() == '\t' ||
                                              value.back() == ' ' || value.back() == '\t');
    bool const quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    return blankEnds || quoted ? "\"" + value + "\"" : value;
}

} // namespace

// ---------------------------------------------------------------------------
// Writing

bool PHONEBOOK::FormatFile(char const* path, std::string& out)
{
    int capacity = 0;
    _PHONEBOOK_300** slots = PTable.LockTable(&capacity);
    if (!slots)
        return false;
    PHONESTRUCTURE const* s = PTable.GetStructurePtr(slots);
    out.clear();
    out.reserve(static_cast<size_t>(capacity) * 64 + 4096);
    char line[2048];
    time_t const now = static_cast<time_t>(Now());
    struct tm t {};
    localtime_r(&now, &t);
    out += "QOR";
    out += kCurrentVersion;
    out += " // HOST DIRECTORY ";
    out += path ? path : "";
    out += "\n\n";
    snprintf(line, sizeof line, "# LAST WRITTEN %04d-%02d-%02d %02d:%02d:%02d\n", t.tm_year + 1900, t.tm_mon + 1,
             t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    out += line;
    out += "\n[STRUCTURE]\n\n";
    snprintf(line, sizeof line, "Flags=%u\n\n", s->flags);
    out += line;
    int const sections = std::clamp(s->numsections, 0, PHONE_MAXSECTIONS);
    snprintf(line, sizeof line, "NumSections=%d\n", sections);
    out += line;
    out += "\n// Section#<number>=<name>\n";
    for (int i = 0; i < sections; ++i) {
        snprintf(line, sizeof line, "Section#%d=%s\n", i, Protected(OneLine(s->sections[i], 32)).c_str());
        out += line;
    }
    out += "\n// Folder#<handle>=<section>.<parenthandle>|<name>\n";
    int const folders = std::clamp(s->numfolders, 0, PHONE_MAXFOLDERS);
    for (int i = 0; i < folders; ++i) {
        PHONEFOLDER const& f = s->folders[i];
        snprintf(line, sizeof line, "%d.%d|%s", f.section, f.parent, OneLine(f.name, 32).c_str());
        out += "Folder#" + std::to_string(f.handle) + "=" + Protected(line) + "\n";
    }
    out += "\n[/STRUCTURE]\n\n\n[DATA]\n";
    _PHONEBOOK_300 scratch;
    OPTSBASE opts(&scratch, sPhoneEntryOptlist, -1);
    for (int i = 0; i < capacity - 1; ++i) {
        if (!slots[i])
            continue;
        scratch = *slots[i];
        out += "\n[HOST]\n";
        phonetext::PadPassword(scratch.password, sizeof scratch.password, i);
        for (int row = 0; row < PHONE_WRITTENROWS; ++row) {
            STRING text = opts.MakeOptString(row);
            out.append(text.Buf(), static_cast<size_t>(text.Length()));
            out += '\n';
        }
        out += "[/HOST]\n\n";
    }
    explicit_bzero(&scratch, sizeof scratch);
    out += "[/DATA]\n\n";
    PTable.UnlockTable(slots);
    return true;
}

bool PHONEBOOK::KeepUnreadable(std::string const& target)
{
    struct stat st;
    if (lstat(target.c_str(), &st) != 0)
        return true;
    for (int n = 0; n < 100; ++n) {
        std::string kept = target + ".unreadable";
        if (n > 0)
            kept += "." + std::to_string(n);
        if (access(kept.c_str(), F_OK) == 0)
            continue;
        if (rename(target.c_str(), kept.c_str()) != 0)
            return false;
        LOGIT("PHONEBOOK::Save keeps the unloaded file as %s\n", kept.c_str());
        STRING text;
        text.Format(phonetext::Text("IDS_PHONEBOOK_KEPT_UNREADABLE").Buf(), target.c_str(), kept.c_str());
        Owner.WarningMsg(text.Buf());
        return true;
    }
    errno = EEXIST;
    return false;
}

int PHONEBOOK::Save()
{
    return Save(File.Buf(), 1, nullptr, 1, 1);
}

int PHONEBOOK::Save(char const* path, signed char showErrors, FILE* stream, signed char, signed char)
{
    LOGIT("PHONEBOOK::Save %s\n", path ? path : "<null>");
    if (!path || !*path)
        return 1;
    Sort();
    std::string content;
    if (!FormatFile(path, content)) {
        LOGIT("PHONEBOOK::Save cannot lock the table\n");
        Owner.ErrorMsg(phonetext::Text("IDS_PHONE_NOPTABLE").Buf());
        return 1;
    }
    std::string const target = plat::fileio::LinkTarget(path);
    bool const current = strcmp(path, File.Buf()) == 0;
    bool ok = true;
    int fd = -1;
    // Another window that edits the file holds its lock; the window of this
    // directory saves with the lock it holds.
    if (!(stream && stream == HeldFile)) {
        fd = open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (!HeldFile || !current)
                ok = false;
        }
    }
    if (ok && current && LoadFailed)
        ok = KeepUnreadable(target);
    if (ok)
        ok = plat::fileio::WriteAtomic(target, content, 0600);
    int const err = errno;
    if (fd >= 0)
        close(fd);
    explicit_bzero(content.data(), content.size());
    if (!ok) {
        LOGIT("PHONEBOOK::Save failed for %s: %s\n", target.c_str(), strerror(err));
        if (showErrors) {
            errno = err;
            Owner.FileError(path);
            Owner.ErrorMsg(phonetext::Text("IDS_CANT_WRITE_PHONEBOOK").Buf());
        }
        return 1;
    }
    // What was written is recorded under the table lock: a script thread's
    // save and the main thread's change check meet here.
    PHONEFILESTAMP const stamp = PHONEFILESTAMP::OfPath(target.c_str());
    if (PHONESTRUCTURE* s = PTable.LockStructure()) {
        OPTSBASE::CopyText(s->path, sizeof s->path, path);
        s->modtime = stamp.Seconds;
        if (current) {
            Recorded = stamp;
            LoadFailed = false;
        }
        PTable.UnLockStructure(s);
    }
    LOGIT("PHONEBOOK::Save done, %zu bytes\n", content.size());
    return 0;
}

// ---------------------------------------------------------------------------
// Reading

bool PHONEBOOK::Load(char const* path, signed char update, FILE** stream)
{
    LOGIT("PHONEBOOK::Load %s (update %d)\n", path ? path : "<null>", update);
    if (stream)
        *stream = nullptr;
    if (!path || !*path)
        return false;
    FILENAME full = FILENAME(path).FullPathAndFile();
    bool const current = File.IsEmpty() || strcmp(full.Buf(), File.Buf()) == 0 || strcmp(path, File.Buf()) == 0;
    int capacity = 0;
    _PHONEBOOK_300** slots = PTable.LockTable(&capacity);
    if (!slots) {
        Owner.ErrorMsg(phonetext::Text("IDS_PHONE_NOPTABLE").Buf());
        return false;
    }
    bool result = false;
    FILE* f = fopen(full.Buf(), "r");
    if (!f) {
        int const err = errno;
        LOGIT("PHONEBOOK::Load cannot open %s: %d %s\n", full.Buf(), err, strerror(err));
        // A missing file is an empty directory (a new user's); any other
        // reason is shown, and the file is not replaced by a later save.
        if (err != ENOENT) {
            STRING text;
            text.Format(phonetext::Text("IDS_PHONEBOOK_NOT_FOUND").Buf(), full.Buf());
            Owner.WarningMsg(text.Buf());
            if (current)
                LoadFailed = true;
        }
        PTable.UnlockTable(slots);
        return false;
    }
    if (update && flock(fileno(f), LOCK_EX | LOCK_NB) != 0) {
        // Another window edits the file: this one works read-only.
        LOGIT("PHONEBOOK::Load %s is locked elsewhere\n", full.Buf());
        fclose(f);
        PTable.UnlockTable(slots);
        return false;
    }
    setvbuf(f, nullptr, _IOFBF, 65536);
    PHONESTRUCTURE* s = PTable.GetStructurePtr(slots);
    struct stat st;
    PHONEFILESTAMP const stamp = fstat(fileno(f), &st) == 0 ? PHONEFILESTAMP::Of(st) : PHONEFILESTAMP();
    if (strcmp(s->path, full.Buf()) == 0 && stamp.Valid && Recorded == stamp) {
        LOGIT("PHONEBOOK::Load %s unchanged\n", full.Buf());
        result = true;
    } else {
        std::string first, second;
        ReadLine(f, first);
        ReadLine(f, second);
        if (first.compare(0, 3, "QOR") != 0) {
            Owner.ErrorMsg(phonetext::Text("IDS_OLD_PHONEBOOK").Buf());
            if (current)
                LoadFailed = true;
        } else {
            char version[128] = {};
            sscanf(first.c_str(), "QOR %127s ", version);
            if (version[0] && strcmp(version, kCurrentVersion) < 0) {
                // The file as it was, before this release writes it anew.
                std::string copy;
                std::string const backup = std::string(full.Buf()) + ".v" + SafeVersion(version) + ".bak";
                if (plat::fileio::ReadBounded(full.Buf(), size_t{1} << 30, copy))
                    plat::fileio::WriteAtomic(backup, copy, 0600);
                explicit_bzero(copy.data(), copy.size());
            }
            if (LoadV300(f, 0, slots, capacity - 1, version) == 0) {
                for (int i = 0; i < capacity - 1; ++i)
                    if (slots[i])
                        UpgradeEntry(slots[i]);
                ReorgFolders(s);
                OPTSBASE::CopyText(s->path, sizeof s->path, full.Buf());
                s->modtime = stamp.Seconds;
                if (current) {
                    Recorded = stamp;
                    LoadFailed = false;
                }
                result = true;
            } else if (current) {
                LoadFailed = true;
            }
        }
    }
    PTable.UnlockTable(slots);
    if (update && stream && result)
        *stream = f;
    else
        fclose(f);
    LOGIT("PHONEBOOK::Load done, rc= %d\n", result);
    return result;
}

bool PHONEBOOK::ReadNextEntry(FILE* f, _PHONEBOOK_300* out, char const* version)
{
    if (!f || !out)
        return false;
    PrepareEntry(out);
    _PHONEBOOK_300 scratch;
    memset(&scratch, 0, sizeof scratch);
    // One codec for the thread, bound to this entry's scratch record.
    thread_local ENTRYCODEC codec(nullptr);
    codec.Bind(&scratch);
    codec.Version(version ? version : "");
    std::string line;
    bool done = false;
    while (ReadLine(f, line)) {
        bool const marker = !line.empty() && line[0] == '[';
        if (marker && line == "[/DATA]")
            break;
        if (marker && (line == "[/HOST]" || line == "[ENDENTRY]")) {
            // The field keeps what the password left of the filler: clear
            // it, so that equal entries are equal in memory.
            size_t const n = strnlen(scratch.password, sizeof scratch.password);
            memset(scratch.password + n, 0, sizeof scratch.password - n);
            *out = scratch;
            done = true;
            break;
        }
        if (line.empty() || marker || line[0] == '#' || StartsWith(line, "//"))
            continue;
        codec.Apply(line);
    }
    explicit_bzero(&scratch, sizeof scratch);
    return done;
}

int PHONEBOOK::LoadV300(FILE* f, int append, _PHONEBOOK_300** slots, int count, char const* version)
{
    PHONESTRUCTURE* s = PTable.GetStructurePtr(slots);
    if (!f || !slots || !s)
        return -1;
    if (!append) {
        PTable.CleanupStructure(s);
        PROGRAMSETTINGSDATA const& settings = Owner.PhonebookSettings();
        for (int i = 0; i < 6; ++i)
            OPTSBASE::CopyText(s->sections[i], 32, settings.BookSections[i]);
        std::string raw;
        bool structure = false;
        while (ReadLine(f, raw)) {
            std::string const line = Trim(raw);
            if (line.empty() || line[0] == '#' || StartsWith(line, "//"))
                continue;
            if (strcasecmp(line.c_str(), "[DATA]") == 0 || strcasecmp(line.c_str(), "[HOST]") == 0 ||
                strcasecmp(line.c_str(), "[ENTRY]") == 0)
                break;
            if (strcasecmp(line.c_str(), "[STRUCTURE]") == 0 || strcasecmp(line.c_str(), "<SECTIONS>") == 0) {
                structure = true;
                continue;
            }
            if (!structure)
                continue;
            if (strcasecmp(line.c_str(), "[/STRUCTURE]") == 0 || strcasecmp(line.c_str(), "</SECTIONS>") == 0)
                break;
            size_t const eq = line.find('=');
            if (eq == std::string::npos)
                continue;
            std::string value = line.substr(eq + 1);
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            std::string name;
            long long number;
            SplitKey(line.substr(0, eq), name, number);
            if (strcasecmp(name.c_str(), "Flags") == 0) {
                s->flags = static_cast<uint32_t>(strtoull(value.c_str(), nullptr, 10));
            } else if (strcasecmp(name.c_str(), "NumSections") == 0) {
                // At most the 64 names the block has.
                s->numsections = static_cast<int32_t>(std::clamp(strtoll(value.c_str(), nullptr, 10), 0LL,
                                                                 static_cast<long long>(PHONE_MAXSECTIONS)));
            } else if (strcasecmp(name.c_str(), "Section") == 0) {
                if (number >= 0 && number < PHONE_MAXSECTIONS)
                    OPTSBASE::CopyText(s->sections[number], 32, value.c_str());
            } else if (strcasecmp(name.c_str(), "Folder") == 0) {
                // A folder needs a handle of its own: none, the section
                // level's or one given twice would mix folders up.
                if (s->numfolders < PHONE_MAXFOLDERS && number > 0 && number <= INT_MAX &&
                    number != PHONE_SECTIONHANDLE && FindFolderIndex(s, static_cast<int>(number)) < 0) {
                    PHONEFOLDER& folder = s->folders[s->numfolders++];
                    memset(&folder, 0, sizeof folder);
                    folder.handle = static_cast<int32_t>(number);
                    size_t const bar = value.find('|');
                    int section = 0, parent = 0;
                    sscanf(value.substr(0, bar).c_str(), "%d.%d", &section, &parent);
                    folder.section = section;
                    folder.parent = parent;
                    std::string const fname = bar == std::string::npos ? "Folder" : value.substr(bar + 1);
                    OPTSBASE::CopyText(folder.name, sizeof folder.name, fname.c_str());
                }
            }
        }
        PTable.DeleteAllEntries(slots, count);
    }

    int highest = -1;
    int next = 0;
    int result = 0;
    // Each entry is read straight into the record its slot gets.
    auto* entry = static_cast<_PHONEBOOK_300*>(malloc(sizeof(_PHONEBOOK_300)));
    while (entry && ReadNextEntry(f, entry, version)) {
        while (next < count && slots[next])
            ++next;
        if (next >= count) {
            Owner.ErrorMsg(phonetext::Text("IDS_PHONE_HOSTDIR_FULL").Buf());
            result = -1;
            break;
        }
        highest = std::max(highest, entry->section);
        slots[next++] = entry;
        entry = static_cast<_PHONEBOOK_300*>(malloc(sizeof(_PHONEBOOK_300)));
    }
    if (entry) {
        explicit_bzero(entry, sizeof *entry);
        free(entry);
    } else {
        result = -1;
    }

    if (s->numsections == 0)
        s->numsections = std::clamp(highest + 1, 0, PHONE_MAXSECTIONS);
    for (int i = 0; i < s->numsections; ++i)
        if (!s->sections[i][0])
            snprintf(s->sections[i], 32, "Section %d", i + 1);

    // Handles must be unique, positive and no folder's: the earlier of two
    // equal ones, a missing one and a bad one get fresh handles (the highest
    // in use plus one, counted once for the whole file).
    std::unordered_set<int> folderHandles;
    for (int i = 0; i < std::clamp(s->numfolders, 0, PHONE_MAXFOLDERS); ++i)
        folderHandles.insert(s->folders[i].handle);
    std::unordered_map<int, int> last;
    for (int i = 0; i < count; ++i)
        if (slots[i])
            last[slots[i]->handle] = i;
    std::unordered_set<int> used(folderHandles);
    for (int i = 0; i < count; ++i)
        if (slots[i])
            used.insert(slots[i]->handle);
    int fresh = PTable.GetUniqueId(slots, count);
    for (int i = 0; i < count; ++i) {
        _PHONEBOOK_300* e = slots[i];
        if (!e)
            continue;
        if (e->handle <= 0 || e->handle == PHONE_SECTIONHANDLE || folderHandles.count(e->handle) ||
            last[e->handle] != i) {
            // The next number in use by nobody (from the first again past
            // the largest).
            while (fresh <= 0 || fresh == PHONE_SECTIONHANDLE || used.count(fresh))
                fresh = fresh == INT_MAX ? PHONE_FIRSTHANDLE : fresh + 1;
            e->handle = fresh;
            used.insert(fresh);
        }
    }
    return result;
}

void PHONEBOOK::UpgradeEntry(_PHONEBOOK_300* e)
{
    if (!e)
        return;
    for (size_t i = 0; i < 65 && e->name[i]; ++i)
        if (e->name[i] == L'~')
            e->name[i] = L'&';
    if (e->oldcalls || e->oldlastcall) {
        PHONESTATS stats{static_cast<uint32_t>(e->oldlastcall), e->oldcalls, 0};
        WriteStats(e->handle, &stats);
        e->oldcalls = 0;
        e->oldlastcall = 0;
    }
    // The standard profile's text, looked up once (a look-up reads the
    // string table).
    static std::string const standard = phonetext::Text("IDS_DEFAULT").Buf();
    if (!e->optfile[0] || strcasecmp(e->optfile, standard.c_str()) == 0)
        OPTSBASE::CopyText(e->optfile, sizeof e->optfile, "Standard.qor");
    if (!e->keyboard[0])
        OPTSBASE::CopyText(e->keyboard, sizeof e->keyboard, "Standard.qky");
    if (!e->translate[0])
        OPTSBASE::CopyText(e->translate, sizeof e->translate, "Standard.qtr");
    if (e->emu == 7 || e->emu == 16)
        e->emu = 0;
    if (e->deviceid == 0)
        e->deviceid = -1;
    if (e->deviceid != -1 || e->emu != -1) {
        SESSIONHOLD session = Owner.PhonebookSession();
        if (session.Get()) {
            if (e->deviceid != -1)
                session->CommLayer.MatchParms(e->deviceid, e->deviceopts, 128, 1, 0);
            if (e->emu != -1)
                session->EmuLayer.MatchParms(e->emu, e->emulationopts, 128, 1, 0);
        }
    }
    if (e->waitsend[0] && !NormalWaitSend(e->waitsend)) {
        // One item per line, "Wait=" and "Send=" written out, lines ended by
        // CR LF, no empty lines.
        std::string text;
        for (char const* p = e->waitsend; *p; ++p) {
            if (*p == '\r')
                continue;
            text.push_back(*p == '|' ? '\n' : *p);
        }
        std::string out;
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find('\n', start);
            bool const broken = end != std::string::npos;
            std::string item = text.substr(start, broken ? end - start : std::string::npos);
            if (strncasecmp(item.c_str(), "W=", 2) == 0)
                item = "Wait=" + item.substr(2);
            else if (strncasecmp(item.c_str(), "S=", 2) == 0)
                item = "Send=" + item.substr(2);
            if (!item.empty()) {
                out += item;
                if (broken)
                    out += "\r\n";
            }
            if (!broken)
                break;
            start = end + 1;
        }
        if (out.size() < sizeof e->waitsend)
            OPTSBASE::CopyText(e->waitsend, sizeof e->waitsend, out.c_str());
    }
}
