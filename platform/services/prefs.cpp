#include "platform/services/prefs.h"

#include "platform/services/fileio.h"
#include "platform/services/folders.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace plat {
namespace {

constexpr std::size_t kMaxFileBytes = 16u << 20;
constexpr std::size_t kMaxKeyBytes = 4096;
constexpr std::size_t kMaxDomainChars = 200;
constexpr char kHeader[] = "QORPREFS 1";
// How long a synchronisation waits for another process's lock: a holder
// only reads and writes one small file, so this is ample.
constexpr int kLockWaitMs = 5000;

char const kHex[] = "0123456789abcdef";

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool ValidDomain(std::string_view d)
{
    if (d.empty() || d.size() > kMaxDomainChars || d.front() == '.')
        return false;
    for (char c : d) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

void EscapeKey(std::string& out, std::string_view key)
{
    for (char ch : key) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            out += "\\\\";
        } else if (c > 0x20 && c < 0x7F && c != '=') {
            out.push_back(ch);
        } else {
            out += "\\x";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
}

void EscapeUnits(std::string& out, std::u16string_view units)
{
    for (char16_t u : units) {
        if (u == '\\') {
            out += "\\\\";
        } else if (u >= 0x20 && u < 0x7F && u != '=') {
            out.push_back(static_cast<char>(u));
        } else {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4)
                out.push_back(kHex[(u >> shift) & 15]);
        }
    }
}

bool UnescapeKey(std::string_view in, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (i + 1 < in.size() && in[i + 1] == '\\') {
            out.push_back('\\');
            ++i;
            continue;
        }
        if (i + 3 >= in.size() || in[i + 1] != 'x')
            return false;
        int hi = HexValue(in[i + 2]);
        int lo = HexValue(in[i + 3]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 3;
    }
    return !out.empty();
}

bool UnescapeUnits(std::string_view in, std::u16string& out)
{
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(in[i]);
        if (c < 0x20 || c >= 0x7F)
            return false;
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (i + 1 < in.size() && in[i + 1] == '\\') {
            out.push_back('\\');
            ++i;
            continue;
        }
        if (i + 5 >= in.size() || in[i + 1] != 'u')
            return false;
        int v = 0;
        for (int k = 2; k <= 5; ++k) {
            int h = HexValue(in[i + k]);
            if (h < 0)
                return false;
            v = v * 16 + h;
        }
        out.push_back(static_cast<char16_t>(v));
        i += 5;
    }
    return true;
}

bool ParseNumber(std::string_view in, std::int32_t& out)
{
    bool negative = !in.empty() && in.front() == '-';
    if (negative)
        in.remove_prefix(1);
    if (in.empty() || in.size() > 10)
        return false;
    std::int64_t v = 0;
    for (char c : in) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (negative)
        v = -v;
    if (v < INT32_MIN || v > INT32_MAX)
        return false;
    out = static_cast<std::int32_t>(v);
    return true;
}

bool ParseLine(std::string_view line, std::string& key, PrefValue& value)
{
    if (line.size() < 4 || line[1] != ' ')
        return false;
    char type = line[0];
    line.remove_prefix(2);
    // Keys never hold a raw "=", so the first one ends the key.
    size_t eq = line.find('=');
    if (eq == std::string_view::npos || !UnescapeKey(line.substr(0, eq), key))
        return false;
    std::string_view text = line.substr(eq + 1);
    switch (type) {
    case 'n': {
        std::int32_t n;
        if (!ParseNumber(text, n))
            return false;
        value = n;
        return true;
    }
    case 'd': {
        if (text.size() % 2 != 0)
            return false;
        Bytes bytes;
        bytes.reserve(text.size() / 2);
        for (size_t i = 0; i < text.size(); i += 2) {
            int hi = HexValue(text[i]);
            int lo = HexValue(text[i + 1]);
            if (hi < 0 || lo < 0)
                return false;
            bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        value = std::move(bytes);
        return true;
    }
    case 's': {
        std::u16string units;
        if (!UnescapeUnits(text, units))
            return false;
        value = Text::FromUnits(units);
        return true;
    }
    default: return false;
    }
}

struct Stamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    struct timespec mtime {};
    bool operator==(Stamp const& o) const
    {
        return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
               mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

// The file system dates a change by a coarse clock: a second writer within
// the same tick, whose file took the number of a file just replaced, leaves
// a stamp unchanged. A stamp taken that close to the file's last change is
// not trusted (the file is read again) until the clock has moved on.
constexpr long long kStampTickNs = 20'000'000;

long long Nanoseconds(struct timespec const& t)
{
    return static_cast<long long>(t.tv_sec) * 1'000'000'000LL + t.tv_nsec;
}

long long CoarseNow()
{
    struct timespec t {};
    clock_gettime(CLOCK_REALTIME_COARSE, &t);
    return Nanoseconds(t);
}

Stamp StampOf(std::string const& path)
{
    Stamp s;
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        s.exists = true;
        s.dev = st.st_dev;
        s.ino = st.st_ino;
        s.size = st.st_size;
        s.mtime = st.st_mtim;
    }
    return s;
}

struct Domain {
    bool loaded = false;
    Stamp stamp;
    long long stampedAt = 0; // CoarseNow() when the stamp was taken
    bool readable = true; // false: the file exists but could not be read
    int readError = 0;    // why, when it could not
    bool damaged = false;
    PrefMap disk;
    std::map<std::string, std::optional<PrefValue>> pending;
};

struct Store {
    std::mutex lock;
    std::string folders[2];
    std::map<std::pair<int, std::string>, Domain> domains;
    std::string failure; // the last synchronisation that failed, until taken
};

Store& TheStore()
{
    static Store* store = new Store; // never destroyed: used until exit
    return *store;
}

// Reads the domain's file into d when it changed since the last read (or
// always, with force). Called with the store's lock held.
void Refresh(Domain& d, std::string const& path, bool force)
{
    Stamp now = StampOf(path);
    bool const settled = !now.exists || Nanoseconds(now.mtime) + kStampTickNs < d.stampedAt;
    if (d.loaded && !force && now == d.stamp && settled)
        return;
    d.loaded = true;
    d.stamp = now;
    d.stampedAt = CoarseNow();
    d.disk.clear();
    d.damaged = false;
    d.readable = true;
    if (!now.exists)
        return;
    std::string text;
    int error = 0;
    if (!fileio::ReadBounded(path, kMaxFileBytes, text, &error)) {
        // A file that vanished between stat and open is simply missing.
        d.readable = error == ENOENT;
        d.readError = error;
        d.stamp = error == ENOENT ? Stamp() : now;
        return;
    }
    ParsedPrefs parsed = ParsePrefs(text);
    d.disk = std::move(parsed.values);
    d.damaged = parsed.damaged;
}

// Removes the temporary files that writers of path left behind when they
// died; only called while holding the file's lock, so no live writer has one.
void RemoveStaleTemps(std::string const& path)
{
    std::string prefix = fileio::FileOf(fileio::TempPrefix(path));
    std::string folder = fileio::FolderOf(path);
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    while (struct dirent* e = readdir(dir)) {
        std::string_view name(e->d_name);
        if (name.size() == prefix.size() + 6 && name.substr(0, prefix.size()) == prefix)
            unlinkat(dirfd(dir), e->d_name, 0);
    }
    closedir(dir);
}

int LockFile(std::string const& path, mode_t mode)
{
    std::string lockPath = fileio::FolderOf(path) + "/." + fileio::FileOf(path) + ".lock";
    int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0)
        return -1;
    for (int waited = 0;; waited += 10) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return fd;
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= kLockWaitMs)
            break;
        struct timespec ts {0, 10 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
    close(fd);
    return -1;
}

bool NearestFolderWritable(std::string folder)
{
    struct stat st;
    for (;;) {
        if (stat(folder.c_str(), &st) == 0)
            return S_ISDIR(st.st_mode) && access(folder.c_str(), W_OK | X_OK) == 0;
        if (errno != ENOENT || folder == "/" || folder.empty())
            return false;
        folder = fileio::FolderOf(folder);
    }
}

} // namespace

std::string PrefFolder(PrefScope scope)
{
    Store& s = TheStore();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        std::string const& set = s.folders[static_cast<int>(scope)];
        if (!set.empty())
            return set;
    }
    if (scope == PrefScope::AnyUserCurrentHost)
        return "/etc/xdg/qor/preferences";
    std::string config = FolderPath(Folder::Preferences, false);
    if (config.empty()) {
        // Not there yet: FolderPath with creation would make it 0755;
        // the value is only a name here, the folder is made when written.
        char const* xdg = std::getenv("XDG_CONFIG_HOME");
        char const* home = std::getenv("HOME");
        config = (xdg && *xdg == '/') ? std::string(xdg) + "/"
                                      : std::string(home ? home : "") + "/.config/";
    }
    return config + "qor/preferences";
}

void SetPrefFolder(PrefScope scope, std::string folder)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    Store& s = TheStore();
    std::lock_guard<std::mutex> guard(s.lock);
    s.folders[static_cast<int>(scope)] = std::move(folder);
    // Cached contents belong to the old folder.
    s.domains.clear();
}

std::string PrefFilePath(std::string_view domain, PrefScope scope)
{
    if (!ValidDomain(domain))
        return std::string();
    return PrefFolder(scope) + "/" + std::string(domain) + ".prefs";
}

std::optional<PrefValue> GetPref(std::string_view domain, std::string_view key, PrefScope scope)
{
    std::string path = PrefFilePath(domain, scope);
    if (path.empty())
        return std::nullopt;
    Store& s = TheStore();
    std::lock_guard<std::mutex> guard(s.lock);
    Domain& d = s.domains[{static_cast<int>(scope), std::string(domain)}];
    Refresh(d, path, false);
    auto p = d.pending.find(std::string(key));
    if (p != d.pending.end())
        return p->second;
    auto it = d.disk.find(std::string(key));
    if (it == d.disk.end())
        return std::nullopt;
    return it->second;
}

bool SetPref(std::string_view domain, std::string_view key, std::optional<PrefValue> value,
             PrefScope scope)
{
    if (key.empty() || key.size() > kMaxKeyBytes)
        return false;
    if (value && std::holds_alternative<Text>(*value) && std::get<Text>(*value).IsNull())
        return false;
    std::string path = PrefFilePath(domain, scope);
    if (path.empty())
        return false;
    Store& s = TheStore();
    std::lock_guard<std::mutex> guard(s.lock);
    Domain& d = s.domains[{static_cast<int>(scope), std::string(domain)}];
    d.pending[std::string(key)] = std::move(value);
    return true;
}

namespace {

// Whether every pending change leaves the values read from the file as
// they are.
bool SameAsDisk(Domain const& d)
{
    for (auto const& [key, value] : d.pending) {
        auto const it = d.disk.find(key);
        if (value ? it == d.disk.end() || !(it->second == *value) : it != d.disk.end())
            return false;
    }
    return true;
}

} // namespace

bool SynchronizePrefs(std::string_view domain, PrefScope scope)
{
    std::string path = PrefFilePath(domain, scope);
    if (path.empty())
        return false;
    bool user = scope == PrefScope::CurrentUser;
    mode_t fileMode = user ? 0600 : 0644;
    Store& s = TheStore();
    std::lock_guard<std::mutex> guard(s.lock);
    Domain& d = s.domains[{static_cast<int>(scope), std::string(domain)}];

    auto failed = [&s, &path](int error) {
        s.failure = path + ": " + fileio::ErrorText(error);
        return false;
    };
    std::string folder = fileio::FolderOf(path);
    if (!fileio::MakeFolders(folder, user ? 0700 : 0755))
        return failed(errno);
    int lockFd = LockFile(path, fileMode);
    if (lockFd < 0)
        return failed(errno);
    bool ok = false;
    Refresh(d, path, true);
    if (!d.readable) {
        // Writing now would throw away values we could not read.
        ok = false;
        failed(d.readError);
    } else if (d.pending.empty() || (!d.damaged && SameAsDisk(d))) {
        // Values written again unchanged (the program stores most of its
        // settings at every start) leave the file alone: no write, no sync.
        d.pending.clear();
        ok = true;
    } else {
        PrefMap merged = d.disk;
        for (auto& [key, value] : d.pending) {
            if (value)
                merged[key] = *value;
            else
                merged.erase(key);
        }
        // A file kept as a link (a folder of dotfiles) stays a link: the
        // file it names is replaced.
        std::string const target = fileio::LinkTarget(path);
        RemoveStaleTemps(target);
        if (d.damaged) {
            std::string bad = target + ".bad";
            unlink(bad.c_str());
            link(target.c_str(), bad.c_str());
        }
        int error = 0;
        ok = fileio::WriteAtomic(target, FormatPrefs(merged), fileMode, &error);
        if (!ok)
            failed(error);
        if (ok) {
            d.disk = std::move(merged);
            d.pending.clear();
            d.damaged = false;
            d.stamp = StampOf(path);
            d.stampedAt = CoarseNow();
        }
    }
    close(lockFd); // releases the flock
    return ok;
}

std::string TakePrefsFailure()
{
    Store& s = TheStore();
    std::lock_guard<std::mutex> guard(s.lock);
    std::string out;
    out.swap(s.failure);
    return out;
}

bool HasUnwrittenPrefs()
{
    Store& s = TheStore();
    std::lock_guard<std::mutex> guard(s.lock);
    for (auto const& entry : s.domains)
        if (!entry.second.pending.empty())
            return true;
    return false;
}

bool SynchronizeAllPrefs()
{
    std::vector<std::pair<PrefScope, std::string>> dirty;
    {
        Store& s = TheStore();
        std::lock_guard<std::mutex> guard(s.lock);
        for (auto const& [id, d] : s.domains)
            if (!d.pending.empty())
                dirty.emplace_back(static_cast<PrefScope>(id.first), id.second);
    }
    bool ok = true;
    for (auto const& [scope, domain] : dirty)
        ok = SynchronizePrefs(domain, scope) && ok;
    return ok;
}

std::vector<std::string> PrefKeys(std::string_view domain, PrefScope scope)
{
    std::string path = PrefFilePath(domain, scope);
    if (path.empty())
        return {};
    Store& s = TheStore();
    std::lock_guard<std::mutex> guard(s.lock);
    Domain& d = s.domains[{static_cast<int>(scope), std::string(domain)}];
    Refresh(d, path, false);
    std::set<std::string> keys;
    for (auto const& entry : d.disk)
        keys.insert(entry.first);
    for (auto const& [key, value] : d.pending) {
        if (value)
            keys.insert(key);
        else
            keys.erase(key);
    }
    return std::vector<std::string>(keys.begin(), keys.end());
}

bool CanWritePrefs(std::string_view domain, PrefScope scope)
{
    std::string path = PrefFilePath(domain, scope);
    if (path.empty())
        return false;
    // A file that cannot be read is never replaced (see SynchronizePrefs).
    struct stat st;
    if (stat(path.c_str(), &st) == 0 &&
        (!S_ISREG(st.st_mode) || static_cast<unsigned long long>(st.st_size) > kMaxFileBytes ||
         access(path.c_str(), R_OK) != 0))
        return false;
    return NearestFolderWritable(fileio::FolderOf(path));
}

std::string FormatPrefs(PrefMap const& values)
{
    std::string out = kHeader;
    out.push_back('\n');
    for (auto const& [key, value] : values) {
        if (std::holds_alternative<std::int32_t>(value)) {
            out += "n ";
            EscapeKey(out, key);
            out += '=';
            out += std::to_string(std::get<std::int32_t>(value));
        } else if (std::holds_alternative<Bytes>(value)) {
            out += "d ";
            EscapeKey(out, key);
            out += '=';
            for (std::uint8_t b : std::get<Bytes>(value)) {
                out.push_back(kHex[b >> 4]);
                out.push_back(kHex[b & 15]);
            }
        } else {
            out += "s ";
            EscapeKey(out, key);
            out += '=';
            EscapeUnits(out, std::get<Text>(value).Units());
        }
        out.push_back('\n');
    }
    return out;
}

ParsedPrefs ParsePrefs(std::string_view file)
{
    ParsedPrefs result;
    size_t start = 0;
    bool first = true;
    while (start < file.size()) {
        size_t end = file.find('\n', start);
        if (end == std::string_view::npos) {
            // Every line ends with a line feed; a cut last line is damage.
            result.damaged = true;
            end = file.size();
        }
        std::string_view line = file.substr(start, end - start);
        start = end + 1;
        if (first) {
            first = false;
            if (line != kHeader) {
                result.damaged = true;
                return result;
            }
            continue;
        }
        std::string key;
        PrefValue value;
        if (ParseLine(line, key, value))
            result.values[key] = std::move(value);
        else
            result.damaged = true;
    }
    if (first && !file.empty())
        result.damaged = true;
    return result;
}

void ResetPrefsCache()
{
    Store& s = TheStore();
    std::lock_guard<std::mutex> guard(s.lock);
    s.domains.clear();
}

} // namespace plat
