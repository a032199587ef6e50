// OPTSBASE: option tables, option files, single keys and dialog binding.
#include "program/settings/optsbase.h"

#include "platform/services/fileio.h"
#include "velmot/core/logit.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

double OPTSBASE::VersionNumber(char const* text)
{
    double value = 0;
    char const* p = text;
    for (; *p >= '0' && *p <= '9'; ++p)
        value = value * 10 + (*p - '0');
    if (*p == '.') {
        double scale = 0.1;
        for (++p; *p >= '0' && *p <= '9'; ++p, scale /= 10)
            value += (*p - '0') * scale;
    }
    return value;
}

namespace {

void CopyOut(STRING const& text, char* out, int outSize)
{
    if (!out || outSize <= 0)
        return;
    size_t n = static_cast<size_t>(text.Length());
    if (n > static_cast<size_t>(outSize) - 1)
        n = static_cast<size_t>(outSize) - 1;
    memcpy(out, text.Buf(), n);
    out[n] = 0;
}

// Blanks and tabs off both ends.
std::string Trimmed(std::string const& text)
{
    size_t b = text.find_first_not_of(" \t");
    if (b == std::string::npos)
        return std::string();
    size_t e = text.find_last_not_of(" \t");
    return text.substr(b, e - b + 1);
}

// A file's permission bits, or the ones a new file of this kind gets.
mode_t ModeFor(std::string const& path, bool secret)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 07777;
    return secret ? 0600 : 0644;
}

} // namespace

// ---------------------------------------------------------------------------
// Table

OPTSBASE::OPTSBASE(void* data, OPTLIST const* rows, int count) : DataVersion("0.00")
{
    SetBaseList(data, rows, count);
}

OPTSBASE::~OPTSBASE() = default;

int OPTSBASE::CountRows(OPTLIST const* rows)
{
    int n = 0;
    while (rows && rows[n].Type != OPTTYPE_END)
        ++n;
    return n;
}

int OPTSBASE::SetBaseList(void* data, OPTLIST const* rows, int count)
{
    pData = data;
    pOptlist = rows;
    OptlistMax = count < 0 ? CountRows(rows) : count;
    ReadRows.assign(static_cast<size_t>(OptlistMax), 0);
    return OptlistMax;
}

void OPTSBASE::SetMultiPaged()
{
    AssertMsg(OptlistMax < static_cast<int>(ARRAYMAX(DidAssoc)), "this->OptlistMax < ARRAYMAX(this->DidAssoc)",
              __FILE__, __LINE__);
    MultiPaged = true;
    memset(DidAssoc, 0, sizeof DidAssoc);
}

void OPTSBASE::SetDataVersion(char const* text)
{
    if (!text)
        return;
    std::string v = text;
    size_t start = v.find_first_not_of("QOR ");
    v = start == std::string::npos ? std::string() : v.substr(start);
    size_t comment = v.find(" // ");
    if (comment != std::string::npos)
        v.resize(comment);
    if (VersionNumber(v.c_str()) > 3.0)
        DataVersion = v.c_str();
}

int OPTSBASE::FindRow(char const* key, int* element) const
{
    if (element)
        *element = -1;
    if (!key)
        return -1;
    for (int i = 0; i < OptlistMax; ++i) {
        if (pOptlist[i].Type == OPTTYPE_ALIAS && strcasecmp(key, pOptlist[i].Name) == 0) {
            key = pOptlist[i].AliasTarget();
            break;
        }
    }
    for (int i = 0; i < OptlistMax; ++i) {
        OPTLIST const& opt = pOptlist[i];
        if (opt.Type == OPTTYPE_ALIAS || opt.Type == OPTTYPE_END)
            continue;
        if (!opt.IsArray()) {
            if (strcasecmp(key, opt.Name) == 0)
                return i;
            continue;
        }
        size_t len = strlen(opt.Name);
        if (strncasecmp(key, opt.Name, len) != 0 || key[len] != '#')
            continue;
        char const* p = key + len + 1;
        if (*p < '0' || *p > '9') {
            if (element)
                *element = -2;
            return i;
        }
        long index = 0;
        for (; *p >= '0' && *p <= '9'; ++p)
            index = index > INT_MAX / 10 ? INT_MAX : index * 10 + (*p - '0');
        if (element)
            *element = index >= opt.Max ? -3 : static_cast<int>(index);
        return i;
    }
    return -1;
}

// ---------------------------------------------------------------------------
// Reading

bool OPTSBASE::ReadLine(FILE* f, std::string& line)
{
    line.clear();
    bool any = false;
    int c;
    while ((c = getc_unlocked(f)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (line.size() < OPTS_MAXLINE)
            line.push_back(static_cast<char>(c));
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return any;
}

int OPTSBASE::SetOpt(char const* line, signed char flag)
{
    if (!line)
        return 1;
    std::string text = line;
    size_t eq = text.find('=');
    std::string key = Trimmed(text.substr(0, eq));
    std::string value = eq == std::string::npos ? std::string() : Trimmed(text.substr(eq + 1));

    int element;
    int row = FindRow(key.c_str(), &element);
    if (row < 0 || element == -2)
        return 1;
    if (element == -3)
        return 0;
    int rc = StoreValue(row, element, value.c_str());
    if (rc == 0 && pOptlist[row].Type <= OPTTYPE_SECRET)
        ReadRows[static_cast<size_t>(row)] = 1;
    return rc;
}

int OPTSBASE::LoadEntries(FILE* f, signed char flag)
{
    ReadRows.assign(static_cast<size_t>(OptlistMax), 0);
    std::string line;
    while (ReadLine(f, line)) {
        if (line.empty() || strchr("[#;/", line[0]))
            continue;
        if (gDoLogit) {
            // Values of secret rows, and scrambled values under any key (a
            // retired key of an older release may carry a password), are
            // never logged.
            size_t eq = line.find('=');
            std::string key = Trimmed(line.substr(0, eq));
            int row = FindRow(key.c_str(), nullptr);
            bool scrambled = eq != std::string::npos && Trimmed(line.substr(eq + 1)).compare(0, 2, "y'") == 0;
            if ((row >= 0 && pOptlist[row].Type == OPTTYPE_SECRET) || scrambled)
                LOGIT("OPTSBASE::LoadEntries %s=<not shown>\n", key.c_str());
            else if (line.size() < 3 || line.compare(line.size() - 3, 3, "=\"\"") != 0)
                LOGIT("OPTSBASE::LoadEntries %s\n", line.c_str());
        }
        SetOpt(line.c_str(), flag);
    }
    return 1;
}

FILE* OPTSBASE::OpenFile(char const* path, int* error)
{
    int code = ENOENT;
    FILE* f = path && *path ? plat::fileio::OpenRegularStream(path, MAXFILEBYTES, &code) : nullptr;
    if (f)
        setvbuf(f, nullptr, _IOFBF, 32768);
    if (error)
        *error = f ? 0 : code;
    return f;
}

int OPTSBASE::LoadFile(char const* path, signed char flag)
{
    LOGIT("OPTSBASE::LoadFile %s\n", path ? path : "<null>");
    int error = 0;
    FILE* f = OpenFile(path, &error);
    if (!f) {
        LOGIT("OPTSBASE::LoadFile cannot open %s: %s\n", path ? path : "<null>",
              plat::fileio::ErrorText(error).c_str());
        errno = error;
        return 1;
    }
    std::string header;
    if (!ReadLine(f, header) || header.compare(0, 3, "QOR") != 0) {
        fclose(f);
        LOGIT("OPTSBASE::LoadFile %s has no QOR header\n", path);
        return 1;
    }
    SetDataVersion(header.c_str() + 3);
    LoadEntries(f, flag);
    fclose(f);
    LOGIT("OPTSBASE::LoadFile done, version %s\n", DataVersion.Buf());
    return 0;
}

bool OPTSBASE::WasRead(int row) const
{
    return row >= 0 && row < OptlistMax && ReadRows[static_cast<size_t>(row)] != 0;
}

void OPTSBASE::ClampReadValues()
{
    for (int i = 0; i < OptlistMax; ++i) {
        OPTLIST const& opt = pOptlist[i];
        if (!WasRead(i) || opt.Type != OPTTYPE_INT || opt.Min >= opt.Max || opt.CtrlKind == OPTCTRL_RADI)
            continue;
        auto* field = static_cast<char*>(pData) + opt.Offset;
        if (opt.Size == 4) {
            int32_t v;
            memcpy(&v, field, 4);
            int32_t clamped = v < opt.Min ? opt.Min : v > opt.Max ? opt.Max : v;
            if (clamped != v) {
                LOGIT("OPTSBASE::ClampReadValues %s %d -> %d\n", opt.Name, v, clamped);
                memcpy(field, &clamped, 4);
            }
        } else if (opt.Size == 1) {
            auto* p = reinterpret_cast<signed char*>(field);
            int lo = opt.Min < SCHAR_MIN ? SCHAR_MIN : opt.Min;
            int hi = opt.Max > SCHAR_MAX ? SCHAR_MAX : opt.Max;
            if (*p < lo)
                *p = static_cast<signed char>(lo);
            else if (*p > hi)
                *p = static_cast<signed char>(hi);
        }
    }
}

// ---------------------------------------------------------------------------
// Writing

int OPTSBASE::SaveEntries(FILE* f, signed char noFinalBlank)
{
    for (int i = 0; i < OptlistMax; ++i) {
        OPTLIST const& opt = pOptlist[i];
        if (opt.NeverWritten())
            continue;
        switch (opt.Type) {
        case OPTTYPE_SECTION:
            fprintf(f, "\n// %s\n", opt.Name);
            break;
        case OPTTYPE_LITERAL:
            fprintf(f, "%s\n", opt.Name);
            break;
        case OPTTYPE_NOTSTORED:
        case OPTTYPE_ALIAS:
            break;
        case OPTTYPE_STRARRAY:
        case OPTTYPE_WSTRARRAY:
            for (int k = 0; k < opt.Max; ++k) {
                STRING line = MakeOptString(i, k);
                fwrite(line.Buf(), 1, static_cast<size_t>(line.Length()), f);
                fputc('\n', f);
            }
            break;
        default: {
            STRING line = MakeOptString(i);
            if (line.IsEmpty())
                break;
            fwrite(line.Buf(), 1, static_cast<size_t>(line.Length()), f);
            fputc('\n', f);
            break;
        }
        }
    }
    if (!noFinalBlank)
        fputc('\n', f);
    return ferror(f) ? 1 : 0;
}

int OPTSBASE::SaveFile(char const* path, char const* header)
{
    LOGIT("OPTSBASE::SaveFile %s\n", path ? path : "<null>");
    if (!path || !*path) {
        errno = ENOENT;
        return 1;
    }
    char* buffer = nullptr;
    size_t length = 0;
    FILE* m = open_memstream(&buffer, &length);
    if (!m)
        return 1;
    if (header) {
        fputs(header, m);
        size_t n = strlen(header);
        if (n == 0 || header[n - 1] != '\n')
            fputc('\n', m);
    }
    bool ok = SaveEntries(m, 0) == 0;
    ok = fflush(m) == 0 && ok;
    ok = fclose(m) == 0 && ok;
    std::string content = buffer ? std::string(buffer, length) : std::string();
    free(buffer);
    if (!ok) {
        errno = ENOMEM;
        return 1;
    }

    bool secret = false;
    for (int i = 0; i < OptlistMax; ++i)
        secret = secret || pOptlist[i].Type == OPTTYPE_SECRET;
    std::string target = plat::fileio::LinkTarget(path);
    int err = 0;
    if (!plat::fileio::WriteAtomic(target, content, ModeFor(target, secret), &err)) {
        LOGIT("OPTSBASE::SaveFile failed for %s: %s\n", target.c_str(), strerror(err));
        errno = err;
        return 1;
    }
    LOGIT("OPTSBASE::SaveFile done, %zu bytes\n", content.size());
    return 0;
}

// ---------------------------------------------------------------------------
// Single keys

int OPTSBASE::GetOpt(char const* key, char* out, int outSize)
{
    if (!key)
        key = "";
    for (int i = 0; i < OptlistMax; ++i) {
        if (pOptlist[i].Type == OPTTYPE_ALIAS && strcasecmp(key, pOptlist[i].Name) == 0) {
            key = pOptlist[i].AliasTarget();
            break;
        }
    }
    STRING result;
    result.Format("%s=<NOT FOUND>", key);
    bool found = false;
    for (int i = 0; i < OptlistMax; ++i) {
        OPTLIST const& opt = pOptlist[i];
        if (opt.Type == OPTTYPE_END || (opt.Type >= OPTTYPE_SECTION && opt.Type <= OPTTYPE_ALIAS))
            continue;
        if (!opt.IsArray()) {
            if (strcasecmp(key, opt.Name) == 0) {
                result = MakeOptString(i);
                found = true;
            }
            continue;
        }
        size_t len = strlen(opt.Name);
        if (strncasecmp(key, opt.Name, len) != 0 || key[len] != '#' || key[len + 1] < '0' || key[len + 1] > '9')
            continue;
        long index = 0;
        for (char const* p = key + len + 1; *p >= '0' && *p <= '9'; ++p)
            index = index > INT_MAX / 10 ? INT_MAX : index * 10 + (*p - '0');
        if (index < opt.Max) {
            result = MakeOptString(i, static_cast<int>(index));
            found = true;
        }
    }
    CopyOut(result, out, outSize);
    return found ? 0 : 1;
}

int OPTSBASE::MakeOptStr(int row, char* out, int outSize)
{
    STRING line = MakeOptString(row);
    CopyOut(line, out, outSize);
    return line.Length();
}

int OPTSBASE::MakeOptStr(int type, char const* key, void const* value, int size, char* out, int outSize)
{
    STRING line = FormatValue(type, key ? key : "", value, size);
    CopyOut(line, out, outSize);
    return line.Length();
}

// ---------------------------------------------------------------------------
// Dialog binding

void OPTSBASE::AssocAll(OPTSDIALOG* dialog, CONTROLPARENT parent)
{
    LOGIT("OPTSBASE::AssocAll on dialog with idopt= %ld\n", static_cast<long>(reinterpret_cast<intptr_t>(parent.view)));
    if (!dialog)
        return;
    for (int i = 0; i < OptlistMax; ++i) {
        OPTLIST const& opt = pOptlist[i];
        if ((opt.CtrlKind == 0 && opt.CtrlNo == 0) || opt.NeverWritten())
            continue;
        if (MultiPaged && i < static_cast<int>(sizeof DidAssoc) && DidAssoc[i])
            continue;
        CONTROLID id{opt.CtrlKind, opt.CtrlNo};
        FOURCHARCODE kind = dialog->FindControlKind(parent, id);
        if (kind == 0)
            continue;
        if (MultiPaged && i < static_cast<int>(sizeof DidAssoc))
            DidAssoc[i] = 1;
        auto* field = static_cast<char*>(pData) + opt.Offset;
        switch (opt.Type) {
        case OPTTYPE_FLAG:
            dialog->AddCheckItem(id, reinterpret_cast<signed char*>(field));
            break;
        case OPTTYPE_INT: {
            bool edit = kind == CONTROLKIND_EDITTEXT || kind == CONTROLKIND_EDITUNICODE;
            if (edit && opt.Size == 4 && !(opt.Min == 0 && opt.Max == 0) && opt.Min < opt.Max) {
                dialog->AddSpinItem(id, reinterpret_cast<int32_t*>(field), opt.Min, opt.Max);
            } else if (kind == CONTROLKIND_RADIO && opt.Size == 4) {
                if (opt.Min <= 0) {
                    AssertMsg(0, "opt.Min>0", __FILE__, __LINE__);
                    break;
                }
                if (opt.Max != 0) {
                    AssertMsg(0, "opt.Max==0", __FILE__, __LINE__);
                    break;
                }
                for (int k = 0; k < opt.Min; ++k)
                    dialog->AddRadioItem(CONTROLID{opt.CtrlKind, opt.CtrlNo + k}, reinterpret_cast<int32_t*>(field), k);
            } else {
                AssertMsg(0, "FALSE", __FILE__, __LINE__, "Option associated with bad dialog field type");
            }
            break;
        }
        case OPTTYPE_STR:
        case OPTTYPE_BINARY:
        case OPTTYPE_SECRET:
            dialog->AddEntryItem(id, field, static_cast<int>(opt.Size));
            break;
        case OPTTYPE_WSTR:
            dialog->AddEntryItem(id, reinterpret_cast<wchar_t*>(field), static_cast<int>(opt.Size / sizeof(wchar_t)));
            break;
        case OPTTYPE_STRARRAY:
            for (int k = 0; k < opt.Max; ++k)
                dialog->AddEntryItem(CONTROLID{opt.CtrlKind, opt.CtrlNo + k}, field + static_cast<size_t>(k) * opt.Size,
                                     static_cast<int>(opt.Size));
            break;
        case OPTTYPE_WSTRARRAY:
            for (int k = 0; k < opt.Max; ++k)
                dialog->AddEntryItem(CONTROLID{opt.CtrlKind, opt.CtrlNo + k},
                                     reinterpret_cast<wchar_t*>(field + static_cast<size_t>(k) * opt.Size),
                                     static_cast<int>(opt.Size / sizeof(wchar_t)));
            break;
        default:
            break;
        }
    }
    LOGIT("OPTSBASE::AssocAll done\n");
}

// ---------------------------------------------------------------------------
// Table invariants

bool OPTSBASE::CheckTable(OPTLIST const* rows, int count, size_t blockSize, STRING* why)
{
    auto fail = [why](int i, OPTLIST const& opt, char const* text) {
        if (why)
            why->Format("row %d (%s): %s", i, opt.Name ? opt.Name : "<null>", text);
        return false;
    };
    for (int i = 0; i < count; ++i) {
        OPTLIST const& opt = rows[i];
        if (!opt.Name)
            return fail(i, opt, "no name");
        if (opt.Type < OPTTYPE_FLAG || opt.Type > OPTTYPE_ALIAS)
            return fail(i, opt, "type outside 1 to 12");
        size_t elements = opt.IsArray() ? static_cast<size_t>(opt.Max) : 1;
        switch (opt.Type) {
        case OPTTYPE_FLAG:
        case OPTTYPE_INT:
            if (opt.Size != 1 && opt.Size != 4)
                return fail(i, opt, "number of neither 1 nor 4 bytes");
            break;
        case OPTTYPE_WSTR:
        case OPTTYPE_WSTRARRAY:
            if (opt.Size == 0 || opt.Size % sizeof(wchar_t) != 0)
                return fail(i, opt, "wide text not a multiple of 4 bytes");
            break;
        case OPTTYPE_STR:
        case OPTTYPE_STRARRAY:
        case OPTTYPE_BINARY:
        case OPTTYPE_SECRET:
            if (opt.Size == 0)
                return fail(i, opt, "empty field");
            break;
        default:
            break;
        }
        if (opt.IsArray() && opt.Max <= 0)
            return fail(i, opt, "array without elements");
        if (opt.Type <= OPTTYPE_SECRET && opt.Offset + opt.Size * elements > blockSize)
            return fail(i, opt, "field beyond the block");
        if (opt.Type == OPTTYPE_INT && opt.CtrlKind == OPTCTRL_RADI && (opt.Min <= 0 || opt.Max != 0 || opt.Size != 4))
            return fail(i, opt, "radio group described wrongly");
        if (opt.Type == OPTTYPE_INT && opt.CtrlKind == OPTCTRL_EDIT && (opt.Min >= opt.Max || opt.Size != 4))
            return fail(i, opt, "edit field without limits");
        if (opt.Type == OPTTYPE_ALIAS) {
            char const* target = opt.AliasTarget();
            bool found = false;
            for (int k = 0; k < count; ++k)
                found = found || (rows[k].Type != OPTTYPE_ALIAS && rows[k].Type <= OPTTYPE_SECRET &&
                                  strcasecmp(rows[k].Name, target) == 0);
            if (!found)
                return fail(i, opt, "alias to a key the table does not have");
        }
        bool keyed = opt.Type <= OPTTYPE_SECRET || opt.Type == OPTTYPE_NOTSTORED;
        for (int k = 0; k < count && keyed; ++k) {
            OPTLIST const& other = rows[k];
            if (k == i || other.Type == OPTTYPE_END || other.Type == OPTTYPE_ALIAS)
                continue;
            if (k > i && (other.Type <= OPTTYPE_SECRET || other.Type == OPTTYPE_NOTSTORED) &&
                strcasecmp(opt.Name, other.Name) == 0)
                return fail(i, opt, "key given twice");
            if (opt.IsArray() && strncasecmp(other.Name, opt.Name, strlen(opt.Name)) == 0)
                return fail(k, other, "key begins with the key of an array row");
        }
    }
    return true;
}
