// OSYS: counters, error texts, folders, names, resources, colours,
// four-character codes, sounds and unique numbers.
#include "velmot/core/osys.h"

#include "velmot/core/cocoa.h"
#include "velmot/core/logit.h"
#include "velmot/core/osysconv.h"
#include "velmot/core/osyssync.h"
#include "velmot/core/registry.h"
#include "velmot/core/wstring.h"
#include "platform/services/fileio.h"
#include "platform/services/folders.h"
#include "platform/services/prefs.h"
#include "platform/services/resources.h"
#include "platform/services/sound.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr char const* kSource = "osys";
}

bool OSYS::GetPerformanceCounter(unsigned long long* count, unsigned long long* frequency)
{
    if (count) {
        timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        *count = static_cast<unsigned long long>(ts.tv_sec) * 1000000000ULL + static_cast<unsigned long long>(ts.tv_nsec);
    }
    if (frequency)
        *frequency = 1000000000ULL;
    return true;
}

long long OSYS::RelTime(bool restart)
{
    static std::atomic<unsigned long long> mark{~0ULL};
    unsigned long long now = 0;
    GetPerformanceCounter(&now, nullptr);
    if (restart) {
        mark.store(now);
        return 0;
    }
    unsigned long long start = ~0ULL;
    if (mark.compare_exchange_strong(start, now))
        return 0; // the first call sets the mark
    return static_cast<long long>((now - start) / 1000000ULL);
}

STRING OSYS::GetLastErrorString(long code)
{
    int err = code == -4711 ? errno : static_cast<int>(code);
    if (err == plat::fileio::kNotRegularFile)
        return STRING(plat::fileio::ErrorText(err).c_str());
    char buf[512];
    char const* text = strerror_r(err, buf, sizeof buf);
    STRING rc(text);
    while (rc.Chop('\n') || rc.Chop('\r')) {
    }
    return rc;
}

STRING OSYS::GetCurrentDirectory()
{
    char buf[4096];
    if (!getcwd(buf, sizeof buf)) {
        AssertMsg(0, "rc", kSource, __LINE__, nullptr, false);
        return STRING("");
    }
    return STRING(buf);
}

bool OSYS::SetCurrentDirectory(char const* path)
{
    return path && chdir(path) == 0;
}

STRING OSYS::GetExeFilename()
{
    STRING rc(plat::StageRoot().c_str());
    if (rc.NotEmpty())
        rc.Append("/.");
    else
        AssertMsg(0, "rc.NotEmpty()", kSource, __LINE__, nullptr, false);
    return rc;
}

STRING OSYS::GetExePath()
{
    return STRING(plat::ExecutablePath().c_str());
}

STRING OSYS::GetBundleFileName()
{
    std::string exe = plat::ExecutablePath();
    size_t slash = exe.rfind('/');
    std::string name = slash == std::string::npos ? exe : exe.substr(slash + 1);
    if (name.empty())
        name = "Application";
    return STRING((name + ".app").c_str());
}

int OSYS::GetOSType()
{
    // The numbering only knows the versions of another platform.
    return -1;
}

STRING OSYS::GetOSTypeAsString()
{
    return STRING("<unknown>");
}

bool OSYS::FileExists(char const* path)
{
    struct stat st;
    return path && stat(path, &st) == 0;
}

STRING OSYS::GetSystemPath(int id)
{
    plat::Folder folder;
    switch (id) {
    case OSYSFOLDER_APPSUPPORT: folder = plat::Folder::AppSupport; break;
    case OSYSFOLDER_HOME: folder = plat::Folder::Home; break;
    case OSYSFOLDER_PICTURES: folder = plat::Folder::Pictures; break;
    case OSYSFOLDER_DESKTOP: folder = plat::Folder::Desktop; break;
    case OSYSFOLDER_APPSUPPORT_LOCAL: folder = plat::Folder::AppSupportLocal; break;
    case OSYSFOLDER_DOCUMENTS: folder = plat::Folder::Documents; break;
    case OSYSFOLDER_LIBRARY: folder = plat::Folder::Library; break;
    case OSYSFOLDER_LIBRARY_LOCAL: folder = plat::Folder::LibraryLocal; break;
    case OSYSFOLDER_LOGS: folder = plat::Folder::Logs; break;
    case OSYSFOLDER_DOWNLOADS: folder = plat::Folder::Downloads; break;
    case OSYSFOLDER_PREFERENCES: folder = plat::Folder::Preferences; break;
    default:
        AssertMsg(0, "FALSE", kSource, __LINE__, nullptr, false);
        return STRING("");
    }
    // Shared folders of the machine are looked up, never made.
    bool local = id == OSYSFOLDER_APPSUPPORT_LOCAL || id == OSYSFOLDER_LIBRARY_LOCAL;
    std::string path = plat::FolderPath(folder, !local);
    if (path.empty()) {
        char info[32];
        snprintf(info, sizeof info, "GetSystemPath %d", id);
        AssertMsg(0, "err==noErr", kSource, __LINE__, info, true);
        return STRING("");
    }
    return STRING(path.c_str());
}

STRING OSYS::ComputerName()
{
    char buf[129];
    int err = gethostname(buf, sizeof buf - 1);
    buf[sizeof buf - 1] = '\0';
    if (err != 0) {
        AssertMsg(0, "!err", kSource, __LINE__, nullptr, false);
        return STRING("");
    }
    // Only a trailing ".local" (the link-local name suffix) is cut: a name
    // such as "pc.localdomain.net" keeps its domain.
    size_t len = strlen(buf);
    if (len > 6 && strcasecmp(buf + len - 6, ".local") == 0)
        buf[len - 6] = '\0';
    return STRING(buf);
}

STRING OSYS::GetCurrentUserName()
{
    // The platform's name for the user is the user database's entry of the
    // effective uid: unlike getlogin it does not depend on a terminal.
    std::string login;
    {
        passwd pw;
        passwd* found = nullptr;
        std::vector<char> buf(16384);
        if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_name)
            login = found->pw_name;
    }
    char const* env = getenv("USER");
    STRING rc;
    if (!login.empty()) {
        rc = login.c_str();
    } else {
        LOGIT("FILENAME::GetCurrentUserName falls back to 'user' (getenv(USER) returned %s, getlogin() returned %s)\n",
              env ? env : "<NULL>", "<NULL>");
        rc = env && *env ? env : "null";
    }
    LOGIF(2, "FILENAME::GetCurrentUserName returns %s (getenv(USER) returned '%s', getlogin() returned '%s')\n",
          rc.Buf(), env ? env : "<NULL>", login.c_str());
    return rc;
}

int OSYS::GetCurrentProcessInstancesCount()
{
    return COCOA::GetInstance()->GetCurrentProcessInstancesCount();
}

STRING OSYS::GetValueFromAppInfoPlist(char const* key)
{
    if (!key)
        return STRING("");
    return osysconv::StringFromUtf8(plat::InfoValue(key));
}

STRING OSYS::GetResourceFilePath(char const* name, char const* type)
{
    if (!name)
        return STRING("");
    return STRING(plat::ResourceFilePath(name, type ? type : "").c_str());
}

namespace {

// The table a caller names: none for null and for the marker -1.
std::string CallerTable(void* table)
{
    if (!table || table == reinterpret_cast<void*>(static_cast<intptr_t>(-1)))
        return std::string();
    return static_cast<char const*>(table);
}

} // namespace

STRING OSYS::GetStringFromResource(char const* id, void* table)
{
    STRING rc("<RESOURCE TEXT NOT FOUND>");
    if (!id)
        return rc;
    std::optional<std::string> text = plat::StringFromResource(id, CallerTable(table));
    if (text)
        rc = osysconv::StringFromUtf8(*text);
    return rc;
}

WSTRING OSYS::GetWideStringFromResource(char const* id, void* table)
{
    WSTRING rc(L"<RESOURCE TEXT NOT FOUND>");
    if (!id)
        return rc;
    std::optional<std::string> text = plat::StringFromResource(id, CallerTable(table));
    if (text)
        rc.FromUtf8(text->data(), static_cast<int32_t>(text->size()));
    return rc;
}

// ---------------------------------------------------------------------------
// Colours

COLORREF OSYS::GetSysColor(int index)
{
    switch (index) {
    case 5:
    case 22: return 0xFFFFFF;
    case 8:
    case 18:
    case 23: return 0x000000;
    case 15: return 0xE8E8E8;
    case 16: return 0x909090;
    case 21: return 0x808080;
    case 24: return 0xC8FFFF;
    default:
        AssertMsg(0, "FALSE", kSource, __LINE__, nullptr, false);
        return 0;
    }
}

COLORREF OSYS::CalcColorBlend(COLORREF from, COLORREF to, double percent)
{
    COLORREF rc = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        int f = static_cast<int>((from >> shift) & 0xFF);
        int t = static_cast<int>((to >> shift) & 0xFF);
        double v = f + std::trunc((t - f) * percent / 100.0);
        if (!(v >= 0)) // also NaN
            v = 0;
        if (v > 255)
            v = 255;
        rc |= static_cast<COLORREF>(v) << shift;
    }
    return rc;
}

// Hue, saturation and brightness are the HSL model on both sides. The
// brightness read from a colour is its lightness (0 to 1); ColorHSBtoRGB
// takes it on a scale of 0 to 2 (1 being the pure colour), as its callers
// pass it, so ColorHSBtoRGB(h, s, 2 * b) gives the colour back.
void OSYS::ColorRGBtoHSB(COLORREF colour, double* hue, double* saturation, double* brightness)
{
    double r = (colour & 0xFF) / 255.0;
    double g = ((colour >> 8) & 0xFF) / 255.0;
    double b = ((colour >> 16) & 0xFF) / 255.0;
    double max = std::max(r, std::max(g, b));
    double min = std::min(r, std::min(g, b));
    double h = 0, s = 0;
    if (max != min) {
        double d = max - min;
        s = d / (1.0 - std::fabs(max + min - 1.0));
        if (s > 1)
            s = 1;
        if (max == r)
            h = 60.0 * ((g - b) / d);
        else if (max == g)
            h = 60.0 * ((b - r) / d + 2);
        else
            h = 60.0 * ((r - g) / d + 4);
        if (h < 0)
            h += 360;
    }
    if (hue)
        *hue = h;
    if (saturation)
        *saturation = s;
    if (brightness)
        *brightness = (max + min) / 2;
}

namespace {

// One component 0..1 to a byte: rounded to the nearest, so that a colour
// survives the trip through the double values.
COLORREF ComponentByte(double c)
{
    long v = std::lround(c * 255.0);
    return static_cast<COLORREF>(v < 0 ? 0 : v > 255 ? 255 : v);
}

} // namespace

COLORREF OSYS::ColorHSBtoRGB(double hue, double saturation, double brightness, int alpha)
{
    // Each range is checked and reported on its own; a value out of range
    // gives black.
    struct RANGE {
        bool ok;
        char const* expression;
    };
    RANGE const checks[] = {
        {alpha >= 0 && alpha < 256, "a>=0 && a<256"},
        {hue >= 0, "h>=0"},
        {saturation >= 0.f && saturation <= 1.f, "s>=0.f && s<=1.f"},
        {brightness >= 0.f && brightness <= 2.f, "b>=0.f && b<=2.f"},
    };
    bool ok = true;
    for (RANGE const& c : checks) {
        if (!c.ok) {
            AssertMsg(0, c.expression, kSource, __LINE__, nullptr, false);
            ok = false;
        }
    }
    if (!ok || !std::isfinite(hue))
        return 0;
    double l = brightness / 2;
    double r, g, b;
    if (saturation == 0) {
        r = g = b = l;
    } else {
        double q = l <= 0.5 ? l * (1 + saturation) : l + saturation - l * saturation;
        double p = 2 * l - q;
        double h = std::fmod(hue, 360.0);
        int sector = static_cast<int>(h / 60.0);
        double f = h / 60.0 - sector; // position inside the sector
        double up = p + (q - p) * f;
        double down = q - (q - p) * f;
        switch (sector) {
        case 0: r = q, g = up, b = p; break;
        case 1: r = down, g = q, b = p; break;
        case 2: r = p, g = q, b = up; break;
        case 3: r = p, g = down, b = q; break;
        case 4: r = up, g = p, b = q; break;
        default: r = q, g = p, b = down; break;
        }
    }
    return ComponentByte(r) | ComponentByte(g) << 8 | ComponentByte(b) << 16 | static_cast<COLORREF>(alpha) << 24;
}

// ---------------------------------------------------------------------------
// Four-character codes

FOURCHARCODE OSYS::BufferAsFourCharCode(char const* buffer)
{
    if (!buffer || strlen(buffer) != 4) {
        AssertMsg(0, "strlen(buffer)==4", kSource, __LINE__, buffer, false);
        return 0;
    }
    auto const* u = reinterpret_cast<unsigned char const*>(buffer);
    return static_cast<FOURCHARCODE>(u[0]) << 24 | static_cast<FOURCHARCODE>(u[1]) << 16 |
           static_cast<FOURCHARCODE>(u[2]) << 8 | u[3];
}

void OSYS::FourCharCodeToBuffer(FOURCHARCODE code, char* buffer, int size)
{
    if (!buffer || size < 5) {
        AssertMsg(0, "bufsize>=5", kSource, __LINE__, nullptr, false);
        return;
    }
    buffer[0] = static_cast<char>(code >> 24);
    buffer[1] = static_cast<char>(code >> 16);
    buffer[2] = static_cast<char>(code >> 8);
    buffer[3] = static_cast<char>(code);
    buffer[4] = '\0';
}

// ---------------------------------------------------------------------------
// Sounds and small actions

void OSYS::PlayBeep(int frequency, int duration)
{
    COCOA::GetInstance()->Beep(frequency, duration);
}

void OSYS::PlayAlert()
{
    plat::PlayAlert();
}

bool OSYS::PlaySoundFile(char const* file, bool)
{
    return COCOA::GetInstance()->PlaySound(file, 0) != 0;
}

void OSYS::WakeupScreensaver()
{
    LOGIT("OSYS::WakeupScreensaver\n");
    COCOA::GetInstance()->WakeupScreensaver();
}

void OSYS::WakeupHarddisk(char const* folder)
{
    if (!folder || !*folder)
        return;
    std::string path = folder;
    if (path.back() != '/')
        path += '/';
    path += "wakeup_harddisk.tmp";
    // Not through a symbolic link planted under that name: the file is
    // written and removed again, and must be our own.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    static char const kText[] = "Time to Wakeup";
    ssize_t n = write(fd, kText, sizeof kText - 1);
    (void)n;
    fsync(fd); // the write must reach the disk to wake it
    close(fd);
    unlink(path.c_str());
}

// ---------------------------------------------------------------------------
// Unique numbers
//
// The counter lives in the registry value "UniqueId" (4 bytes) so that all
// processes of the user share it. The last id handed out is kept beside it
// ("UniqueIdLast", 4 bytes, and "UniqueId64Last", 8 bytes): a process that
// only knew its own last id would hand out the same number as another
// process within the same second. A cross-process lock makes the read,
// the change and the write one step.

namespace {

struct UNIQUEIDSTATE {
    GLOBALMUTEX Lock{"Tarvo.UniqueId"};
    DWORD Last = 0;                 // this process's last 32-bit id
    unsigned long long Last64 = 0;  // this process's last 64-bit id
};

std::mutex gUniqueIdThreads; // the threads of this process, also without the global lock

// Called with gUniqueIdThreads held. A child made by fork shares the
// parent's open lock file, and with it the lock: it makes a state of its own
// (the parent's stays behind unused).
UNIQUEIDSTATE& UniqueIdState()
{
    static UNIQUEIDSTATE* state = nullptr;
    static pid_t owner = 0;
    if (!state || owner != getpid()) {
        state = new UNIQUEIDSTATE; // used until the process ends
        owner = getpid();
    }
    return *state;
}

// The user's own store: the program never writes the machine-wide one, not
// even when it could (run as root).
REGISTRY UniqueIdRegistry()
{
    return REGISTRY(REGISTRY::CURRENT_USER, "Software", "Tarvo", REGISTRY::READWRITE);
}

// Reads a data value of exactly `size` bytes.
template <typename T>
bool ReadData(REGISTRY& reg, char const* name, T* value)
{
    BINARY data;
    if (!reg.Read(name, &data) || data.Length() != static_cast<int32_t>(sizeof(T)))
        return false;
    memcpy(value, data.Buffer, sizeof(T));
    return true;
}

// Stores the counter and the last id handed out with one synchronisation of
// the store (each synchronisation flushes the file and its folder to disk,
// and the others wait for it).
template <typename T>
void WriteCounterAndLast(REGISTRY& reg, DWORD counter, char const* lastName, T last)
{
    STRING domain, prefix;
    plat::PrefScope scope;
    if (!reg.GetPrefsMapping(&domain, &scope, &prefix))
        return;
    auto key = [&](char const* name) {
        return prefix.IsEmpty() ? std::string(name) : std::string(prefix.Buf()) + ":" + name;
    };
    auto bytes = [](void const* data, size_t size) {
        auto const* p = static_cast<uint8_t const*>(data);
        return plat::PrefValue(plat::Bytes(p, p + size));
    };
    std::string_view const name(domain.Buf(), static_cast<size_t>(domain.Length()));
    plat::SetPref(name, key("UniqueId"), bytes(&counter, sizeof counter), scope);
    plat::SetPref(name, key(lastName), bytes(&last, sizeof last), scope);
    plat::SynchronizePrefs(name, scope);
}

// Holds the cross-process lock for one update; without the lock (a broken
// runtime folder) the update still runs and is unique within this process.
// The wait has no time-out: a holder keeps the lock only for one update of
// the store (a dead one loses it), while a process that polled for it could
// be passed over for seconds by others that take it back to back, and an
// update without it hands out ids twice.
class UNIQUEIDLOCK {
public:
    explicit UNIQUEIDLOCK(GLOBALMUTEX& m) : Mux(m), Locked(m.Obtain(-1)) {}
    ~UNIQUEIDLOCK()
    {
        if (Locked)
            Mux.Release();
    }

private:
    GLOBALMUTEX& Mux;
    bool Locked;
};

} // namespace

DWORD OSYS::GetUniqueId()
{
    std::lock_guard<std::mutex> threads(gUniqueIdThreads);
    UNIQUEIDSTATE& st = UniqueIdState();
    UNIQUEIDLOCK lock(st.Lock);
    REGISTRY reg = UniqueIdRegistry();
    DWORD last = st.Last;
    DWORD shared = 0;
    if (ReadData(reg, "UniqueIdLast", &shared) && shared > last)
        last = shared;
    DWORD now = static_cast<DWORD>(time(nullptr));
    DWORD counter = 0;
    DWORD id = now;
    if (now <= last) {
        counter = last - now + 1;
        id = now + counter;
    }
    st.Last = id;
    WriteCounterAndLast(reg, counter, "UniqueIdLast", id);
    return id;
}

unsigned long long OSYS::GetUniqueId64()
{
    std::lock_guard<std::mutex> threads(gUniqueIdThreads);
    UNIQUEIDSTATE& st = UniqueIdState();
    UNIQUEIDLOCK lock(st.Lock);
    REGISTRY reg = UniqueIdRegistry();
    unsigned long long last = st.Last64;
    unsigned long long shared = 0;
    if (ReadData(reg, "UniqueId64Last", &shared) && shared > last)
        last = shared;
    unsigned long long now = static_cast<unsigned long long>(time(nullptr)) << 16;
    // Seconds × 65536 plus a counter below 65536: more ids than that in one
    // second borrow from the next second instead of overflowing into it.
    unsigned long long id = now > last ? now : last + 1;
    DWORD counter = static_cast<DWORD>(id & 0xFFFF);
    st.Last64 = id;
    WriteCounterAndLast(reg, counter, "UniqueId64Last", id);
    return id;
}

// ---------------------------------------------------------------------------
// PERFORMANCETIMER

PERFORMANCETIMER::PERFORMANCETIMER(char const* name, bool logWhenDestroyed)
    : Name(name), LogWhenDestroyed(logWhenDestroyed), Start(0), Frequency(1)
{
    OSYS::GetPerformanceCounter(&Start, &Frequency);
}

PERFORMANCETIMER::~PERFORMANCETIMER()
{
    if (LogWhenDestroyed)
        LogResult();
}

double PERFORMANCETIMER::GetDuration()
{
    if (Stop == 0)
        OSYS::GetPerformanceCounter(&Stop, nullptr);
    return static_cast<double>(Stop - Start) / static_cast<double>(Frequency);
}

void PERFORMANCETIMER::LogResult()
{
    double seconds = GetDuration();
    LOGIT("PERFORMANCETIMER %s: %8.3lf sec (%1.2lf ms)\n", Name ? Name : "", seconds, seconds * 1000.0);
}
