// File names and files.
#include "velmot/core/osysfile.h"

#include "velmot/core/logit.h"
#include "velmot/core/osysfile_internal.h"
#include "velmot/core/tarvo.h"

#include "platform/services/fileio.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char const* kSource = "osysfile";

// ---------------------------------------------------------------------------
// Text helpers. Placeholders and special names are matched without regard to
// case (ASCII folding, independent of the locale); paths are matched exactly.

char Fold(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

size_t FindICase(std::string const& s, char const* what, size_t from = 0)
{
    size_t n = strlen(what);
    if (n == 0 || s.size() < n)
        return std::string::npos;
    for (size_t i = from; i + n <= s.size(); ++i) {
        size_t k = 0;
        while (k < n && Fold(s[i + k]) == Fold(what[k]))
            ++k;
        if (k == n)
            return i;
    }
    return std::string::npos;
}

bool StartsWithICase(std::string const& s, char const* prefix)
{
    size_t n = strlen(prefix);
    if (n == 0 || s.size() < n)
        return false;
    for (size_t k = 0; k < n; ++k) {
        if (Fold(s[k]) != Fold(prefix[k]))
            return false;
    }
    return true;
}

void ReplaceAllICase(std::string& s, char const* from, std::string const& to)
{
    size_t n = strlen(from);
    for (size_t at = FindICase(s, from); at != std::string::npos; at = FindICase(s, from, at + to.size()))
        s.replace(at, n, to);
}

void ReplaceAll(std::string& s, std::string const& from, std::string const& to)
{
    if (from.empty())
        return;
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
}

void ReplaceChar(std::string& s, char from, char to)
{
    for (char& c : s) {
        if (c == from)
            c = to;
    }
}

// Trims trailing separators; a path made only of separators keeps one, so
// the root stays the root.
void TrimTrailing(std::string& s, char sep)
{
    while (s.size() > 1 && s.back() == sep)
        s.pop_back();
}

void TrimTrailingBoth(std::string& s)
{
    while (!s.empty() && (s.back() == '\\' || s.back() == '/'))
        s.pop_back();
}

std::string ToStd(STRING const& s)
{
    return std::string(s.Buf(), static_cast<size_t>(s.Length()));
}

bool IsAbsText(std::string const& s)
{
    return !s.empty() && (s[0] == '\\' || s[0] == '/' || s[0] == '~' || (s.size() > 1 && s[1] == ':'));
}

// Where the folder part of a path ends: the last separator, or a ':' in the
// second position or a '~' in the first (both kept with the folder part).
// Returns the length of the folder part and the start of the file part;
// folder length -1 when there is no separator at all.
void SplitPath(std::string const& s, long* folderLen, size_t* fileStart)
{
    for (size_t i = s.size(); i-- > 0;) {
        char c = s[i];
        if (c == '\\' || c == '/') {
            *folderLen = static_cast<long>(i);
            *fileStart = i + 1;
            return;
        }
        if ((i == 1 && c == ':') || (i == 0 && c == '~')) {
            *folderLen = static_cast<long>(i + 1);
            *fileStart = i + 1;
            return;
        }
    }
    *folderLen = -1;
    *fileStart = 0;
}

// The process-wide lock of the placeholder table. The table is meant to be
// filled on the main thread at start-up, but the first expansion may come
// from any thread, and a lock keeps a late ShellStringSet from changing an
// entry while another thread reads it. Never destroyed, so paths can still
// be built while static objects go away at exit.
std::recursive_mutex& ShellLock()
{
    static auto* lock = new std::recursive_mutex;
    return *lock;
}

// A private folder for temporary files: "<base>/<app>-<uid>", mode 0700,
// owned by this user and not a link, where base is $TEMP, else $TMPDIR, else
// /tmp. When that name is taken by something else, a fresh folder made with
// mkdtemp serves this process instead.
std::string TempFolder()
{
    static std::mutex lock;
    static std::string fallback;
    std::lock_guard<std::mutex> guard(lock);

    std::string base;
    for (char const* var : {"TEMP", "TMPDIR"}) {
        char const* v = getenv(var);
        if (v && *v) {
            base = v;
            break;
        }
    }
    if (base.empty())
        base = "/tmp";
    TrimTrailing(base, '/');

    std::string app;
    for (char c : std::string(gApplicationName.Buf())) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-')
            app += c;
    }
    if (app.empty())
        app = "velmot";
    std::string folder = base + "/" + app + "-" + std::to_string(geteuid());

    auto isPrivate = [](std::string const& path) {
        struct stat st;
        return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
               (st.st_mode & 077) == 0;
    };
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        LOGIT("FILENAME temp folder %s cannot be made: %s\n", folder.c_str(), strerror(errno));
    if (isPrivate(folder))
        return folder;
    if (!fallback.empty() && isPrivate(fallback))
        return fallback;
    std::string templ = folder + ".XXXXXX";
    if (!mkdtemp(templ.data()))
        return std::string();
    LOGIT("FILENAME temp folder %s is not private, using %s\n", folder.c_str(), templ.c_str());
    fallback = templ;
    return fallback;
}

// A fresh temporary file: created empty (mode 0600) in the private folder so
// that the name is reserved and nobody else can put a link in its place.
std::string MakeTempName()
{
    std::string folder = TempFolder();
    if (folder.empty())
        return std::string();
    std::string templ = folder + "/XXXXXX";
    int fd = mkostemp(templ.data(), O_CLOEXEC);
    if (fd < 0)
        return std::string();
    close(fd);
    return templ;
}

bool WriteAll(int fd, char const* p, size_t n)
{
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

struct BuiltinPlaceholder {
    char const* Name;
    int Folder;
};

constexpr BuiltinPlaceholder kBuiltins[] = {
    {"%USERHOME%", OSYSFOLDER_HOME},
    {"%USERPROFILE%", OSYSFOLDER_HOME},
    {"%USERDOCUMENTS%", OSYSFOLDER_DOCUMENTS},
    {"%USERDESKTOP%", OSYSFOLDER_DESKTOP},
    {"%APPDATA%", OSYSFOLDER_APPSUPPORT},
    {"%ALLUSERAPPDATA%", OSYSFOLDER_APPSUPPORT_LOCAL},
    {"%USERLIBRARY%", OSYSFOLDER_LIBRARY},
    {"%USERLOGS%", OSYSFOLDER_LOGS},
    {"%ALLUSERLIBRARY%", OSYSFOLDER_LIBRARY_LOCAL},
    {"%USERDOWNLOAD%", OSYSFOLDER_DOWNLOADS},
    {"%USERPICTURES%", OSYSFOLDER_PICTURES},
};

// The modification time broken down in UTC. Done here rather than with
// OSYS::SystemtimeFromLtime, where 0 stands for "now": a file stamped with
// the epoch keeps its date.
void BrokenDown(time_t t, _SYSTEMTIME* st)
{
    tm parts{};
    gmtime_r(&t, &parts);
    st->wYear = static_cast<WORD>(parts.tm_year + 1900);
    st->wMonth = static_cast<WORD>(parts.tm_mon + 1);
    st->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    st->wDay = static_cast<WORD>(parts.tm_mday);
    st->wHour = static_cast<WORD>(parts.tm_hour);
    st->wMinute = static_cast<WORD>(parts.tm_min);
    st->wSecond = static_cast<WORD>(parts.tm_sec);
    st->wMilliseconds = 0;
}

} // namespace

std::string velmot_detail::SiblingName(std::string const& name)
{
    static std::mt19937_64 rng{std::random_device{}()};
    static std::mutex rngLock;
    unsigned long long r;
    {
        std::lock_guard<std::mutex> guard(rngLock);
        r = rng();
    }
    char suffix[32];
    snprintf(suffix, sizeof suffix, ".%06llx~", r & 0xFFFFFF);
    return name + suffix;
}

int velmot_detail::CreateSiblingAt(int dirfd, std::string const& name, std::string* sibling)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        *sibling = SiblingName(name);
        int fd = openat(dirfd, sibling->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool velmot_detail::CopyData(int in, int out)
{
    static constexpr size_t kBlock = 65536;
    std::string buf(kBlock, '\0');
    for (;;) {
        ssize_t r = read(in, buf.data(), kBlock);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (r == 0)
            return true;
        if (!WriteAll(out, buf.data(), static_cast<size_t>(r)))
            return false;
    }
}

// ---------------------------------------------------------------------------
// Construction and assignment

FILENAME::SHELLSTRINGS FILENAME::ShellStrings[FILENAME::SHELLSTRINGS_MAX];
bool FILENAME::InShellStringInInit = false;

void FILENAME::ClearStatus()
{
    memset(&FileStatus, 0, sizeof FileStatus);
}

FILENAME::FILENAME()
{
    ClearStatus();
}

FILENAME::FILENAME(char const* text)
{
    ClearStatus();
    InitFromString(text);
}

FILENAME::FILENAME(STRING const& text)
{
    ClearStatus();
    InitFromString(text.Buf());
}

FILENAME::FILENAME(char const* dir, char const* file)
{
    ClearStatus();
    FILENAME filepart(file);
    filepart.ExpandShellStrings();
    std::string f = ToStd(filepart);
    ReplaceChar(f, '/', '\\');
    std::string result;
    if (IsAbsText(f)) {
        result = f;
    } else {
        std::string d = dir && *dir ? dir : ".";
        ReplaceChar(d, '/', '\\');
        while (!d.empty() && d.back() == '\\')
            d.pop_back();
        result = d + "\\" + f;
    }
    STRING::operator=(result.c_str());
    CodePage = UNICODE_CPDEFAULT;
    ExpandShellStrings();
    ToPlatform(*this);
    LOGIT("FILENAME::FILENAME returns %s\n", Buf());
}

FILENAME::FILENAME(char const* dir, char const* sub, char const* file)
{
    ClearStatus();
    FILENAME folder(dir && *dir ? dir : ".", sub && *sub ? sub : ".");
    FILENAME joined(folder.Buf(), file);
    std::string p = ToStd(joined);
    for (size_t at; (at = p.find("/./")) != std::string::npos;)
        p.erase(at, 2); // "/./" becomes "/"
    TrimTrailing(p, '/');
    STRING::operator=(p.c_str());
    CodePage = UNICODE_CPDEFAULT;
    LOGIT("FILENAME::FILENAME returns %s\n", Buf());
}

FILENAME::FILENAME(FILENAME const& other) : STRING(other), FileStatus(other.FileStatus)
{
    LOGIT("FILENAME::FILENAME returns %s\n", Buf());
}

FILENAME& FILENAME::operator=(FILENAME const& other)
{
    if (this != &other) {
        STRING::operator=(other);
        FileStatus = other.FileStatus;
    }
    return *this;
}

FILENAME& FILENAME::operator=(STRING const& text)
{
    return operator=(text.Buf());
}

FILENAME& FILENAME::operator=(char const* text)
{
    std::string p = text ? text : "";
    ReplaceChar(p, '\\', '/');
    TrimTrailing(p, '/');
    STRING::operator=(p.c_str());
    CodePage = UNICODE_CPDEFAULT;
    ClearStatus();
    return *this;
}

void FILENAME::InitFromString(char const* text)
{
    if (!text)
        return;
    ClearStatus();
    std::string t = text;
    if (FindICase(t, "<self>") != std::string::npos)
        ReplaceAllICase(t, "<self>", ToStd(OSYS::GetExeFilename()));
    for (char const* token : {"<tmp>", "<temp>"}) {
        for (size_t at; (at = FindICase(t, token)) != std::string::npos;) {
            std::string name = MakeTempName();
            if (name.empty())
                AssertMsg(0, "fname", kSource, __LINE__, nullptr, false);
            t.replace(at, strlen(token), name);
        }
    }
    STRING::operator=(t.c_str());
    CodePage = UNICODE_CPDEFAULT;
    ExpandShellStrings();
    ToPlatform(*this);
}

void FILENAME::ToPlatform(STRING& text)
{
    for (int32_t i = 0; i < text.Length(); ++i) {
        if (text.Buffer[i] == '\\')
            text.Buffer[i] = '/';
    }
}

void FILENAME::ToWindows(STRING& text)
{
    for (int32_t i = 0; i < text.Length(); ++i) {
        if (text.Buffer[i] == '/')
            text.Buffer[i] = '\\';
    }
}

// ---------------------------------------------------------------------------
// Placeholders

int FILENAME::ShellStringSet(char const* name, char const* value, bool flag)
{
    if (!name || !*name)
        return 0;
    std::lock_guard<std::recursive_mutex> guard(ShellLock());
    ShellStringsInit();
    LOGIT("FILENAME::ShellStringSet %s %s\n", name, value ? value : "");

    int slot = -1;
    for (int i = 0; i < SHELLSTRINGS_MAX; ++i) {
        if (ShellStrings[i].Name.IsEmpty()) {
            if (slot < 0)
                slot = i;
            break;
        }
        if (strcmp(ShellStrings[i].Name.Buf(), name) == 0) {
            slot = i;
            break;
        }
    }
    if (slot < 0)
        return 1; // the table is full: a new name is silently refused

    std::string bare = name;
    while (!bare.empty() && bare.front() == '%')
        bare.erase(0, 1);
    while (!bare.empty() && bare.back() == '%')
        bare.pop_back();
    SHELLSTRINGS& e = ShellStrings[slot];
    e.Name = STRING(name);
    e.AltName = STRING(("$(" + bare + ")").c_str());
    e.Value = STRING(value ? value : "");
    e.Flag = flag;

    // Longest value first; neighbours are swapped only when the first is
    // strictly shorter, so entries of equal length keep their order.
    for (int pass = 0; pass < SHELLSTRINGS_MAX - 1; ++pass) {
        for (int j = 0; j + 1 < SHELLSTRINGS_MAX; ++j) {
            if (ShellStrings[j].Value.Length() < ShellStrings[j + 1].Value.Length()) {
                std::swap(ShellStrings[j].Name, ShellStrings[j + 1].Name);
                std::swap(ShellStrings[j].AltName, ShellStrings[j + 1].AltName);
                std::swap(ShellStrings[j].Value, ShellStrings[j + 1].Value);
                std::swap(ShellStrings[j].Flag, ShellStrings[j + 1].Flag);
            }
        }
    }
    return 1;
}

int FILENAME::ShellStringsInit()
{
    std::lock_guard<std::recursive_mutex> guard(ShellLock());
    if (ShellStrings[0].Name.NotEmpty() || InShellStringInInit)
        return 0;
    LOGIT("FILENAME::ShellStringsInit\n");
    InShellStringInInit = true;
    for (BuiltinPlaceholder const& b : kBuiltins)
        ShellStringSet(b.Name, OSYS::GetSystemPath(b.Folder).Buf(), false);
    InShellStringInInit = false;
    LOGIT("FILENAME::ShellStringsInit done\n");
    return 1;
}

void FILENAME::ExpandShellStrings()
{
    std::string path = ToStd(*this);
    bool user = FindICase(path, "%USERNAME%") != std::string::npos;
    bool computer = FindICase(path, "%COMPUTERNAME%") != std::string::npos;
    if ((!path.empty() && (path[0] == '%' || path[0] == '~' || path[0] == '$')) || user || computer) {
        std::string before = path;
        std::lock_guard<std::recursive_mutex> guard(ShellLock());
        ShellStringsInit();
        ReplaceChar(path, '/', '\\');
        if (path.compare(0, 2, "~\\") == 0)
            path = "%USERHOME%" + path.substr(1);
        if (user)
            ReplaceAllICase(path, "%USERNAME%", ToStd(OSYS::GetCurrentUserName()));
        if (computer)
            ReplaceAllICase(path, "%COMPUTERNAME%", ToStd(OSYS::ComputerName()));
        for (SHELLSTRINGS const& e : ShellStrings) {
            if (e.Name.IsEmpty() || e.Value.IsEmpty())
                continue;
            std::string value = ToStd(e.Value);
            TrimTrailingBoth(value);
            if (StartsWithICase(path, e.Name.Buf()))
                path = value + path.substr(static_cast<size_t>(e.Name.Length()));
            if (StartsWithICase(path, e.AltName.Buf()))
                path = value + path.substr(static_cast<size_t>(e.AltName.Length()));
        }
        LOGIT("FILENAME::ExpandShellString %s -> %s\n", before.c_str(), path.c_str());
    }
    ReplaceChar(path, '/', '\\');
    TrimTrailing(path, '\\');
    UNICODE_CODEPAGE cp = CodePage;
    STRING::operator=(path.c_str());
    CodePage = cp;
}

STRING FILENAME::AsShellStrings(bool home) const
{
    LOGIT("FILENAME::AsShellStrings %s\n", Buf());
    std::string p = ToStd(*this);
    ReplaceChar(p, '/', '\\');
    {
        std::lock_guard<std::recursive_mutex> guard(ShellLock());
        ShellStringsInit();
        for (SHELLSTRINGS const& e : ShellStrings) {
            if (e.Name.IsEmpty() || e.Value.IsEmpty() || e.Flag)
                continue;
            std::string v = ToStd(e.Value);
            ReplaceChar(v, '/', '\\');
            TrimTrailingBoth(v);
            // Only whole folder names count: /home/al is not a prefix of
            // /home/alice.
            if (!v.empty() && p.compare(0, v.size(), v) == 0 && (p.size() == v.size() || p[v.size()] == '\\'))
                p = ToStd(e.AltName) + p.substr(v.size());
        }
    }
    std::string login = ToStd(OSYS::GetCurrentUserName());
    if (!login.empty())
        ReplaceAll(p, "\\" + login + "\\", "\\%USERNAME%\\");
    if (home) {
        for (char const* prefix : {"%USERPROFILE%", "%USERHOME%", "$(USERPROFILE)", "$(USERHOME)"}) {
            if (StartsWithICase(p, prefix)) {
                p.erase(0, strlen(prefix));
                p.insert(p.begin(), '~');
                break;
            }
        }
    }
    ReplaceChar(p, '\\', '/');
    if (home && p == "~")
        p = "~/";
    LOGIT("FILENAME::AsShellStrings done %s\n", p.c_str());
    return STRING(p.c_str(), CodePage);
}

// ---------------------------------------------------------------------------
// Path parts

FILENAME FILENAME::JustPath() const
{
    std::string s = ToStd(*this);
    long folderLen;
    size_t fileStart;
    SplitPath(s, &folderLen, &fileStart);
    FILENAME rc;
    if (folderLen < 0)
        rc = ".";
    else if (folderLen == 0)
        rc = "/"; // a file in the root folder
    else
        rc = s.substr(0, static_cast<size_t>(folderLen)).c_str();
    return rc;
}

FILENAME FILENAME::JustFile() const
{
    std::string s = ToStd(*this);
    long folderLen;
    size_t fileStart;
    SplitPath(s, &folderLen, &fileStart);
    std::string f = s.substr(fileStart);
    while (!f.empty() && f.front() == '/')
        f.erase(0, 1);
    FILENAME rc;
    rc = f.c_str();
    return rc;
}

FILENAME FILENAME::RelPath(char const* base) const
{
    if (!base)
        return *this;
    std::string b = base;
    ReplaceChar(b, '\\', '/');
    while (!b.empty() && b.back() == '/')
        b.pop_back();
    b += '/';
    std::string p = ToStd(*this);
    if (p.compare(0, b.size(), b) != 0)
        return *this;
    std::string rest = p.substr(b.size());
    while (!rest.empty() && rest.front() == '/')
        rest.erase(0, 1);
    FILENAME rc;
    rc = rest.c_str();
    return rc;
}

FILENAME FILENAME::FullPathAndFile() const
{
    char* resolved = realpath(Buf(), nullptr);
    if (!resolved)
        return *this;
    FILENAME rc;
    rc = resolved;
    free(resolved);
    return rc;
}

bool FILENAME::IsAbsPath() const
{
    return IsAbsText(ToStd(*this));
}

// ---------------------------------------------------------------------------
// Queries

bool FILENAME::Exists() const
{
    struct stat st;
    if (stat(Buf(), &st) == 0)
        return true;
    LOGIT("FILENAME::Exists '%s' returns %s\n", Buf(), OSYS::GetLastErrorString().Buf());
    return false;
}

bool FILENAME::IsFile() const
{
    struct stat st;
    return stat(Buf(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FILENAME::IsDirectory() const
{
    struct stat st;
    return stat(Buf(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FILENAME::IsReadable() const
{
    return access(Buf(), R_OK) == 0;
}

bool FILENAME::IsWriteable() const
{
    struct stat st;
    if (stat(Buf(), &st) == 0) {
        if (access(Buf(), W_OK) != 0)
            return false;
        int fd = open(Buf(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            return false;
        close(fd);
        return true;
    }
    // A new file needs a folder it may write into and pass through.
    return access(JustPath().Buf(), W_OK | X_OK) == 0;
}

bool FILENAME::IsReadOnly() const
{
    struct stat st;
    return stat(Buf(), &st) == 0 && !(st.st_mode & S_IWUSR);
}

uint32_t FILENAME::GetAttributes() const
{
    struct stat st;
    if (stat(Buf(), &st) != 0)
        return FILENAME_ATTR_INVALID;
    uint32_t attributes = 0;
    if (!(st.st_mode & S_IWUSR))
        attributes |= FILENAME_ATTR_READONLY;
    if (S_ISDIR(st.st_mode))
        attributes |= FILENAME_ATTR_DIRECTORY;
    return attributes;
}

int64_t FILENAME::GetFileSize() const
{
    struct stat st;
    if (stat(Buf(), &st) != 0)
        return -1;
    return static_cast<int64_t>(st.st_size);
}

bool FILENAME::GetFileTime(unsigned long long* ltime) const
{
    struct stat st;
    if (!ltime || stat(Buf(), &st) != 0)
        return false;
    *ltime = static_cast<unsigned long long>(st.st_mtime);
    return true;
}

bool FILENAME::GetFileTime(_SYSTEMTIME* systime) const
{
    unsigned long long ltime;
    if (!systime || !GetFileTime(&ltime))
        return false;
    BrokenDown(static_cast<time_t>(ltime), systime);
    return true;
}

bool FILENAME::GetFileTime(STRING* text) const
{
    _SYSTEMTIME st;
    if (!text || !GetFileTime(&st))
        return false;
    text->Format("%04d-%02d-%02d %02d:%02d:%02d", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
    return true;
}

void FILENAME::UpdateModTime()
{
    if (stat(Buf(), &FileStatus) != 0)
        ClearStatus();
}

bool FILENAME::HasModTimeChanged() const
{
    struct stat st;
    if (stat(Buf(), &st) != 0)
        memset(&st, 0, sizeof st);
    return st.st_mtim.tv_sec != FileStatus.st_mtim.tv_sec || st.st_mtim.tv_nsec != FileStatus.st_mtim.tv_nsec;
}

// ---------------------------------------------------------------------------
// Actions

bool FILENAME::MkDir() const
{
    return mkdir(Buf(), 0755) == 0;
}

bool FILENAME::RmDir() const
{
    return rmdir(Buf()) == 0;
}

bool FILENAME::DeleteFile() const
{
    return unlink(Buf()) == 0;
}

bool FILENAME::ChDir() const
{
    return OSYS::SetCurrentDirectory(Buf());
}

bool FILENAME::SetAttributes(uint32_t attributes) const
{
    struct stat st;
    if (stat(Buf(), &st) != 0)
        return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & FILENAME_ATTR_READONLY)
        mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
    else
        mode |= S_IWUSR; // writable again for the owner only
    return chmod(Buf(), mode) == 0;
}

bool FILENAME::SetReadOnly(bool readonly) const
{
    uint32_t attributes = GetAttributes();
    if (attributes == FILENAME_ATTR_INVALID)
        return false;
    attributes = (attributes & FILENAME_ATTR_DIRECTORY) | (readonly ? FILENAME_ATTR_READONLY : 0);
    return SetAttributes(attributes);
}

bool FILENAME::SetHidden(bool hidden) const
{
    uint32_t attributes = GetAttributes();
    if (attributes == FILENAME_ATTR_INVALID)
        return false;
    attributes &= FILENAME_ATTR_DIRECTORY | FILENAME_ATTR_READONLY;
    if (hidden)
        attributes |= FILENAME_ATTR_HIDDEN;
    return SetAttributes(attributes);
}

bool FILENAME::SetFileTime(unsigned long long ltime) const
{
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(ltime);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return utimensat(AT_FDCWD, Buf(), times, 0) == 0;
}

bool FILENAME::SetFileTime(_SYSTEMTIME const& st) const
{
    return SetFileTime(OSYS::LtimeFromSystemtime(st));
}

bool FILENAME::CopyTo(char const* dest, bool overwrite) const
{
    LOGIT("FILENAME::CopyTo %s -> %s (overwrite %d)\n", Buf(), dest ? dest : "<null>", overwrite);
    if (!dest || !*dest)
        return false;
    struct stat dst;
    bool destExists = lstat(dest, &dst) == 0;
    if (destExists && !overwrite)
        return false;

    // Only plain files are copied: a pipe or a device would block the copy
    // or never end it. Opening without blocking lets a pipe be refused.
    int in = open(Buf(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (in < 0)
        return false;
    struct stat src;
    if (fstat(in, &src) != 0 || !S_ISREG(src.st_mode)) {
        close(in);
        return false;
    }

    // The destination as it will be written: through a link to the file it
    // names, like a plain open would.
    std::string target = dest;
    if (destExists && S_ISLNK(dst.st_mode)) {
        if (char* resolved = realpath(dest, nullptr)) {
            target = resolved;
            free(resolved);
        }
    }
    struct stat tst;
    bool targetExists = stat(target.c_str(), &tst) == 0;
    if (targetExists && tst.st_dev == src.st_dev && tst.st_ino == src.st_ino) {
        LOGIT("FILENAME::CopyTo refuses to copy %s onto itself\n", Buf());
        close(in);
        return false;
    }

    std::string sibling;
    int out = velmot_detail::CreateSiblingAt(AT_FDCWD, target, &sibling);
    bool direct = out < 0;
    if (direct) {
        // No room for a new file beside the destination (a folder we may
        // not write into, say): write the destination itself.
        sibling.clear();
        out = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
        if (out < 0) {
            close(in);
            return false;
        }
    } else if (targetExists) {
        fchmod(out, tst.st_mode & 07777);
    }

    bool ok = velmot_detail::CopyData(in, out);
    close(in);
    if (close(out) != 0)
        ok = false;
    if (!direct) {
        if (ok && rename(sibling.c_str(), target.c_str()) != 0)
            ok = false;
        if (!ok)
            unlink(sibling.c_str());
    }
    LOGIT("FILENAME::CopyTo returns %d\n", ok);
    return ok;
}

bool FILENAME::RenameTo(char const* newname, bool overwrite) const
{
    if (!newname)
        return false;
    FILENAME given;
    given = newname;
    std::string file = ToStd(given.JustFile());
    if (file.empty())
        return false;
    std::string folder = ToStd(JustPath());
    std::string target = (folder == "/" ? std::string() : folder) + "/" + file;
    LOGIT("FILENAME::RenameTo %s -> %s (overwrite %d)\n", Buf(), target.c_str(), overwrite);
    if (overwrite)
        return rename(Buf(), target.c_str()) == 0; // replaces the target in one step
    if (renameat2(AT_FDCWD, Buf(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // The file system cannot refuse a replacement by itself.
    struct stat st;
    if (lstat(target.c_str(), &st) == 0)
        return false;
    return rename(Buf(), target.c_str()) == 0;
}

bool FILENAME::RemoveIllegalCharacters(bool keepSeparators, int replacement)
{
    static constexpr char kIllegal[] = "/\\:*?\"<>|";
    bool replaced = false;
    for (int32_t i = 0; i < Length(); ++i) {
        char c = Buffer[i];
        if (!strchr(kIllegal, c) || c == '\0')
            continue;
        if (keepSeparators && (c == '/' || c == '\\'))
            continue;
        Buffer[i] = static_cast<char>(replacement);
        replaced = true;
    }
    return replaced;
}

STRING FILENAME::Load() const
{
    STRING rc;
    rc.Load(Buf(), "r");
    return rc;
}

FILE* FILENAME::fsopen(char const* path, char const* mode, int share)
{
    LOGIT("FILENAME::fsopen(%s, %s, %d)\n", path ? path : "<null>", mode ? mode : "<null>", share);
    if (!path || !mode)
        return nullptr;

    std::string m;
    for (char const* p = mode; *p; ++p) {
        if (*p != 'c')
            m += *p;
    }
    bool plus = m.find('+') != std::string::npos;
    if (share == FSOPEN_SHARE_FROM_MODE) {
        if (m.find('w') != std::string::npos || m.find('a') != std::string::npos)
            share = FSOPEN_SHARE_EXCLUSIVE;
        else if (m.find('r') != std::string::npos)
            share = plus ? FSOPEN_SHARE_EXCLUSIVE : FSOPEN_SHARE_SHARED;
        else
            share = FSOPEN_SHARE_NONE;
    }
    if (share != FSOPEN_SHARE_NONE && share != FSOPEN_SHARE_EXCLUSIVE && share != FSOPEN_SHARE_SHARED) {
        LOGIT("FILENAME::fsopen(%s, %s, %d) returns f= %p, fd= %d\n", path, mode, share, nullptr, -1);
        return nullptr;
    }

    // Open without truncating, take the lock, and only then truncate: a file
    // that another stream holds is never emptied by a refused open.
    int flags;
    bool truncate = false;
    switch (m.empty() ? 'r' : m[0]) {
    case 'w':
        flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT;
        truncate = true;
        break;
    case 'a':
        flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
        break;
    default:
        flags = plus ? O_RDWR : O_RDONLY;
        break;
    }
    // A stream opened only for reading never waits in the open (a FIFO put
    // where a file was expected would hold the program up) and reads files
    // only: a FIFO, a device or a socket is refused, so that a link to
    // /dev/zero cannot feed a reader without end.
    bool const readOnly = flags == O_RDONLY;
    int fd = open(path, flags | O_CLOEXEC | (readOnly ? O_NONBLOCK | O_NOCTTY : 0), 0666);
    if (fd >= 0 && readOnly) {
        struct stat st;
        int const err = fstat(fd, &st) != 0                                   ? errno
                        : S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)          ? 0
                                                                              : plat::fileio::kNotRegularFile;
        int const fl = err ? -1 : fcntl(fd, F_GETFL);
        if (err || fl < 0 || fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
            close(fd);
            fd = -1;
            errno = err ? err : EIO;
        }
    }
    FILE* f = nullptr;
    if (fd >= 0) {
        int op = share == FSOPEN_SHARE_EXCLUSIVE ? LOCK_EX : share == FSOPEN_SHARE_SHARED ? LOCK_SH : 0;
        bool locked = op == 0 || flock(fd, op | LOCK_NB) == 0;
        // Only regular files can be truncated; devices and pipes are written as they are.
        struct stat st;
        if (locked && truncate && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0)
            locked = false;
        if (locked)
            f = fdopen(fd, m.c_str());
        if (!f) {
            int err = errno;
            close(fd);
            errno = err;
            fd = -1;
        }
    }
    if (f && m.find('a') != std::string::npos)
        fseek(f, 0, SEEK_END);
    LOGIT("FILENAME::fsopen(%s, %s, %d) returns f= %p, fd= %d\n", path, mode, share, static_cast<void*>(f), fd);
    return f;
}
